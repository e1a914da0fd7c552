// The clip window driven as a user would: parts cut with the time editor and the buttons,
// then OK, Cancel and the question about changes.
#include "FFDecode.h"
#include "FFEncode.h"
#include "FFLoad.h"
#include "MediaFixtures.h"
#include "SkEdit.h"
#include "SkListVw.h"
#include "U_FileOption.h"
#include "U_clip_Gui.h"
#include "VelTrackbar.h"

#include <QMessageBox>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

class ClipDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
    ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
    SetMainThread();
    // Every picture a key frame, so that a part starts exactly where it was cut.
    Entry.Input.FileName = fixtures::Make(
        "clip_source.avi",
        "-f lavfi -i testsrc=size=320x240:rate=25:duration=3 -f lavfi -i sine=duration=3 "
        "-c:v mpeg4 -g 1 -q:v 5 -c:a libmp3lame");
    Entry.SourceFrameSize = QStringLiteral("320x240");
  }
  void TearDown() override { FFLoader().Unload(AllLibraries); }

  // The window as the player leaves it once the entry's file is open.
  std::unique_ptr<TClipfrm> Open(const TClipList& Parts, int NextPartNumber) {
    auto form = std::make_unique<TClipfrm>(Player, Entry, NextPartNumber, Parts);
    TFFDecoder decoder;
    EXPECT_TRUE(decoder.LoadFile(Entry.Input.FileName)) << decoder.LastErrMsg();
    TFileStreamInfo file;
    TVideoStreamInfo video;
    EXPECT_TRUE(decoder.GetFileInfo(file));
    EXPECT_TRUE(decoder.GetDefaultVideoStreamInfo(video));
    form->FileOpened(file.Duration, video);
    form->ShowRefusal = [this](const QString& Text) { Refusals << Text; };
    return form;
  }

  // Types a time into the row's start or end cell and leaves the editor.
  static void Type(TClipfrm& Form, int Row, TClipColumn Column, const QString& Text) {
    Form.SelectRow(Row, Column);
    Form.ItemEdit->setText(Text);
    Form.ItemEdit->setModified(true);
    Form.EditorDone();
  }

  TFFPlayer Player;
  TFileOption Entry;
  QStringList Refusals;
};

TEST_F(ClipDialogTest, OkTurnsThreeCutsIntoThreePartsThatConvertToTheirLengths) {
  std::unique_ptr<TClipfrm> form = Open({}, 0);
  ASSERT_EQ(form->lvCutVideo->topLevelItemCount(), 1);
  EXPECT_EQ(form->lvCutVideo->topLevelItem(0)->text(0), QStringLiteral("Part_0"));
  EXPECT_EQ(form->lvCutVideo->topLevelItem(0)->text(2), QStringLiteral("00:00:03"));

  Type(*form, 0, TClipColumn::End, QStringLiteral("00:00:01"));
  // The second part starts where the markers are: on the first part.
  form->AddPart();
  Type(*form, 1, TClipColumn::Start, QStringLiteral("00:00:01"));
  Type(*form, 1, TClipColumn::End, QStringLiteral("00:00:02"));
  Type(*form, 1, TClipColumn::Start, QStringLiteral("00:00:01"));
  form->AddPart();
  Type(*form, 2, TClipColumn::End, QStringLiteral("00:00:03"));
  Type(*form, 2, TClipColumn::Start, QStringLiteral("00:00:02"));
  EXPECT_EQ(Refusals, QStringList{StartAfterEndText});
  EXPECT_EQ(form->lvCutVideo->topLevelItem(2)->text(3), QStringLiteral("00:00:01"));
  EXPECT_EQ(form->TrckVideo->SegStartPos(), 50);
  EXPECT_EQ(form->TrckVideo->SegEndPos(), 75);

  form->accept();
  EXPECT_EQ(form->result(), QDialog::Accepted);
  const TClipList& parts = form->Parts();
  ASSERT_EQ(parts.size(), 3u);
  const std::string folder = fixtures::TempDir("clips");
  for (size_t i = 0; i < parts.size(); ++i) {
    EXPECT_EQ(parts[i].Title, QStringLiteral("Part_%1").arg(i));
    EXPECT_EQ(parts[i].StartTime, int64_t(i) * 1000000);
    EXPECT_EQ(parts[i].TimeLength, 1000000);
    // The conversion takes each part's start and length.
    TFFEncoder encoder;
    TInputOptions input;
    InitInputOptions(input);
    input.StartTime = parts[i].StartTime;
    TOutputOptions output = parts[i].Output;
    output.TimeLength = parts[i].TimeLength;
    const std::string name = folder + "/part" + std::to_string(i) + ".flv";
    const int task = encoder.AddTask(Entry.Input.FileName, &input);
    ASSERT_GE(task, 0) << encoder.LastErrMsg;
    ASSERT_TRUE(encoder.SetOutputFile(task, name, &output)) << encoder.LastErrMsg;
    encoder.StartTask(0);
    const ProbeResult probe = ProbeMedia(name, false);
    ASSERT_TRUE(probe.ok) << probe.error;
    EXPECT_NEAR(probe.duration, 1.0, 0.1) << name;
    ASSERT_NE(probe.FirstOfType("video"), nullptr);
    EXPECT_EQ(probe.FirstOfType("video")->width, 320);
  }
}

TEST_F(ClipDialogTest, CancelAsksAboutChangesAndKeepsThePartsUnlessTold) {
  TClipFile kept = NewClipFile(QStringLiteral("320x240"));
  kept.Title = QStringLiteral("Part_0");
  kept.EndTime = 2000000;
  const struct {
    const char* Name;
    bool Change;
    int Answer;
    bool Asked;
    int Result;  // -1 still open
    size_t Parts;
  } cases[] = {
      {"unchanged", false, QMessageBox::Yes, false, QDialog::Rejected, 1},
      {"changed, keep them", true, QMessageBox::Yes, true, QDialog::Accepted, 2},
      {"changed, drop them", true, QMessageBox::No, true, QDialog::Rejected, 1},
      {"changed, go on", true, QMessageBox::Cancel, true, -1, 1},
  };
  for (const auto& c : cases) {
    std::unique_ptr<TClipfrm> form = Open({kept}, 1);
    form->setResult(-1);
    bool asked = false;
    form->AskSaveChanges = [&](const QString& Text) {
      asked = true;
      EXPECT_EQ(Text, QStringLiteral("Do you want to save changes?"));
      return c.Answer;
    };
    if (c.Change) form->AddPart();
    form->reject();
    EXPECT_EQ(asked, c.Asked) << c.Name;
    EXPECT_EQ(form->result(), c.Result) << c.Name;
    EXPECT_EQ(form->Parts().size(), c.Parts) << c.Name;
    EXPECT_EQ(form->Parts().back().Title, QStringLiteral("Part_%1").arg(c.Parts - 1)) << c.Name;
  }
}

TEST_F(ClipDialogTest, AFileThatNeverOpenedKeepsThePartsOnOk) {
  TClipFile kept = NewClipFile(QStringLiteral("320x240"));
  TClipfrm form(Player, Entry, 1, {kept});
  form.setResult(-1);
  form.accept();
  EXPECT_EQ(form.result(), QDialog::Rejected);
  EXPECT_EQ(form.lvCutVideo->topLevelItemCount(), 0);
}

}  // namespace
