// The clip window driven as a user would: parts cut with the time editor and the buttons,
// then OK, Cancel and the question about changes; and, with the real player on a real X
// server (its xvfb run), where a part's row and Play Clip take the play.
#include "FFDecode.h"
#include "FFEncode.h"
#include "FFLoad.h"
#include "MediaFixtures.h"
#include "PreviewWindow.h"
#include "ScreenPlayerTest.h"
#include "SkCommon.h"
#include "SkEdit.h"
#include "SkListVw.h"
#include "U_Config.h"
#include "U_Config_Gui.h"
#include "U_FileOption.h"
#include "U_clip_Gui.h"
#include "VelTrackbar.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QTime>
#include <QDir>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QThread>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

// Types a time into the row's start or end cell and leaves the editor.
void Type(TClipfrm& Form, int Row, TClipColumn Column, const QString& Text) {
  Form.SelectRow(Row, Column);
  Form.ItemEdit->setText(Text);
  Form.ItemEdit->setModified(true);
  Form.EditorDone();
}

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
  TClipFile kept = NewClipFile(TFileOption());
  kept.Title = QStringLiteral("Part_0");
  kept.EndTime = 2000000;
  const struct {
    const char* Name;
    bool WithoutParts;  // the window adds the whole file as a part of its own
    bool Change;
    int Answer;
    bool Asked;
    int Result;  // -1 still open
    size_t Parts;
  } cases[] = {
      {"unchanged", false, false, QMessageBox::Yes, false, QDialog::Rejected, 1},
      {"changed, keep them", false, true, QMessageBox::Yes, true, QDialog::Accepted, 2},
      {"changed, drop them", false, true, QMessageBox::No, true, QDialog::Rejected, 1},
      {"changed, go on", false, true, QMessageBox::Cancel, true, -1, 1},
      {"no parts, unchanged", true, false, QMessageBox::Yes, false, QDialog::Rejected, 0},
      {"no parts, changed", true, true, QMessageBox::No, true, QDialog::Rejected, 0},
  };
  for (const auto& c : cases) {
    std::unique_ptr<TClipfrm> form =
        c.WithoutParts ? Open({}, 0) : Open({kept}, 1);
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
    ASSERT_EQ(form->Parts().size(), c.Parts) << c.Name;
    if (c.Parts > 0) {
      EXPECT_EQ(form->Parts().back().Title, QStringLiteral("Part_%1").arg(c.Parts - 1)) << c.Name;
    }
  }
}

TEST_F(ClipDialogTest, AFileThatNeverOpenedKeepsThePartsOnOk) {
  TClipFile kept = NewClipFile(TFileOption());
  TClipfrm form(Player, Entry, 1, {kept});
  form.setResult(-1);
  form.accept();
  EXPECT_EQ(form.result(), QDialog::Rejected);
  EXPECT_EQ(form.lvCutVideo->topLevelItemCount(), 0);
}

// Runs the event loop until the condition holds; the deadline only ends a broken run.
bool PumpUntil(const std::function<bool()>& Condition) {
  const QDeadlineTimer Deadline(60000);
  while (!Condition() && !Deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return Condition();
}

class ClipWindowScreen : public TScreenPlayerTest {
 protected:
  void SetUp() override {
    TScreenPlayerTest::SetUp();
    Entry.Input.FileName = fixtures::GreyRampClip();
    Entry.SourceFrameSize = QStringLiteral("160x120");
  }

  TClipFile Part(int Number, int64_t Start, int64_t End) const {
    TClipFile part = NewClipFile(Entry);
    part.Title = QStringLiteral("Part_%1").arg(Number);
    part.StartTime = Start;
    part.EndTime = End;
    return part;
  }
  // The time of the picture on show once a seek has shown its picture, read from the picture.
  int64_t ShownTime() {
    EXPECT_TRUE(PumpUntil([this] { return !Player.Seeking() && SeekShown(Player); }));
    const QDeadlineTimer Settle(300);
    while (!Settle.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return GreyRampTimeOf(BitmapToImage(Player.CurrentFrame()));
  }

  // The time the position label tells (whole seconds).
  static int64_t LabelTime(const TClipfrm& Form) {
    return int64_t(QTime::fromString(Form.lblpos->text(), QStringLiteral("hh:mm:ss"))
                       .msecsSinceStartOfDay()) *
           1000;
  }
  // While it plays, the label tells the time played: that of the picture on show, give or
  // take the second that the label leaves out and a position report on its way (which a busy
  // machine may hold back for a while, so the label is given time to catch up).
  void ExpectLabelTellsThePlay(const TClipfrm& Form) {
    int64_t Played = 0;
    const bool caughtUp = PumpUntil([&] {
      Played = GreyRampTimeOf(BitmapToImage(Player.CurrentFrame()));
      return std::llabs(LabelTime(Form) - Played) < 1500000;
    });
    EXPECT_TRUE(caughtUp) << Form.lblpos->text().toStdString() << " while the picture is at "
                          << Played;
  }

  TSkManualClock Clock;  // the window's timer
  TFileOption Entry;
};

// The file's one key frame is its first picture. A press on a part's row seeks into the part
// when the play is elsewhere; a click on the track seeks there; Play Clip starts from the
// part's first picture and stops at its end. Each shows the picture at the bar's time and the
// label tells the bar's time; the play holds until the window's timer plays on, and the label
// then tells the time played, also once the play runs past a part's end, where the bar holds
// its tick.
TEST_F(ClipWindowScreen, RowTrackAndPlayClipShowThePictureAtTheBar) {
  TClipfrm Form(Player, Entry, 2, {Part(0, 1000000, 3000000), Part(1, 5000000, 7000000)});
  Form.move(40, 40);
  Form.show();
  ASSERT_TRUE(PumpUntil([&] { return Form.Session() && Player.Position() > 200000; }));
  TVelTrackbar& Bar = *Form.TrckVideo;
  const auto BarTime = [&] { return Form.Session()->Base().TimeOf(Bar.Position()); };
  const auto LabelInStep = [&] {
    EXPECT_EQ(Form.lblpos->text().toStdString(), ClipTimeText(BarTime()).toStdString());
  };
  const struct {
    const char* Step;
    std::function<void()> Act;
    int64_t Tick;  // where the bar's tick goes
  } steps[] = {
      {"row pressed", [&] { Form.SelectRow(1, TClipColumn::Start); }, 50},
      {"track clicked", [&] { ClickTrack(Bar, 0.75); }, 60},
      {"Play Clip", [&] { Form.PlayClip(); }, 50},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.Step);
    step.Act();
    const int64_t Shown = ShownTime();
    EXPECT_NEAR(Bar.Position(), step.Tick, 1);
    EXPECT_GE(Shown, BarTime());
    EXPECT_LT(Shown, BarTime() + fixtures::GreyRampPicture);
    LabelInStep();
    EXPECT_TRUE(Form.btnPlay->isVisible());
    Clock.Advance(500);  // the play goes on from there
    ASSERT_TRUE(PumpUntil([&] { return BarTime() > Shown + 300000 || Form.btnPlay->isVisible(); }));
    if (Form.btnPause->isVisible()) ExpectLabelTellsThePlay(Form);
  }
  // The part plays to its end and holds there.
  ASSERT_TRUE(PumpUntil([&] { return Form.btnPlay->isVisible(); }));
  EXPECT_EQ(Bar.Position(), Bar.SegEndPos());
  LabelInStep();
  // The first part played from its start on, past its end.
  Form.SelectRow(0, TClipColumn::Start);
  EXPECT_EQ(ShownTime(), 1000000);
  Form.btnPlay->click();
  // The picture may be on screen before its position reaches the window.
  ASSERT_TRUE(PumpUntil([&] {
    return GreyRampTimeOf(BitmapToImage(Player.CurrentFrame())) >= 5000000 &&
           Bar.Position() == Bar.SegEndPos();
  }));
  ExpectLabelTellsThePlay(Form);
  Form.btnPause->click();

  const QImage Shot =
      QGuiApplication::primaryScreen()->grabWindow(0).toImage().copy(Form.frameGeometry());
  const QString Folder = QStringLiteral(FENNICK_SCREENSHOT_DIR "/xcb");
  ASSERT_TRUE(QDir().mkpath(Folder));
  EXPECT_TRUE(Shot.save(Folder + QStringLiteral("/clip_two_parts.png")));
  Form.reject();
}

// The time editor by mouse and keys alone: after Enter in one cell, a single click on
// another opens that cell's editor ready for typing.
// The preview fills its panel at any scale of the desktop (its run at 2 and 1.5 too), in the
// shape the picture is shown in, also where that is the container's word.
TEST_F(ClipWindowScreen, ThePreviewFillsItsPanel) {
  Entry.Input.FileName = WhiteWideByContainerClip().toStdString();
  Entry.SourceFrameSize = QStringLiteral("640x480");
  TClipfrm Form(Player, Entry, 0, {});
  Form.move(20, 20);
  Form.show();
  ASSERT_TRUE(PumpUntil([&] { return Form.Session() != nullptr; }));
  const QSize Wide(16, 9);
  EXPECT_TRUE(PumpUntil([&] { return PlacesOffPicture(*Form.PanelVideo, Wide) == 0; }))
      << PlacesOffPicture(*Form.PanelVideo, Wide) << " places off the picture at a scale of "
      << Form.PanelVideo->devicePixelRatioF();
  Form.AskSaveChanges = [](const QString&) { return int(QMessageBox::No); };
  Form.reject();
}

TEST_F(ClipWindowScreen, OneClickOnACellAfterEnterTakesTheNextTyping) {
  TClipfrm Form(Player, Entry, 0, {});
  Form.move(40, 40);
  Form.show();
  Form.ShowRefusal = [](const QString& Text) { ADD_FAILURE() << Text.toStdString(); };
  ASSERT_TRUE(PumpUntil([&] { return Form.Session() != nullptr; }));
  QApplication::setActiveWindow(&Form);
  QTreeWidget* list = Form.findChild<QTreeWidget*>(QStringLiteral("lvCutVideo"));
  const auto cell = [&](int Column) {
    const QRect row = list->visualItemRect(list->topLevelItem(0));
    return QPoint(list->header()->sectionViewportPosition(Column) + 10, row.center().y());
  };
  const auto typeTime = [&](int Column, const char* Time) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, cell(Column));
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), QLatin1String(Time));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  };
  typeTime(1, "00:00:01");
  typeTime(2, "00:00:02");
  EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("00:00:01"));
  EXPECT_EQ(list->topLevelItem(0)->text(2), QStringLiteral("00:00:02"));

  // Escape while typing ends that edit alone: the cell keeps its time, nothing asks about
  // the window, and the next click on a cell opens its editor again.
  int asked = 0;
  Form.AskSaveChanges = [&](const QString&) { return ++asked, int(QMessageBox::Cancel); };
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, cell(1));
  QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("0000"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_EQ(asked, 0);
  EXPECT_TRUE(Form.isVisible());
  EXPECT_FALSE(Form.ItemEdit->isVisible());
  EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("00:00:01"));
  typeTime(2, "00:00:03");
  EXPECT_EQ(list->topLevelItem(0)->text(2), QStringLiteral("00:00:03"));
  EXPECT_TRUE(Form.isVisible());
  Form.AskSaveChanges = [](const QString&) { return int(QMessageBox::No); };
  Form.reject();
}

// The markers show the selected part and act on it: with none selected (a click below the
// rows) they are hidden and take no drag; after Delete they show the part then highlighted.
TEST_F(ClipWindowScreen, TheMarkersShowAndMoveOnlyTheSelectedPart) {
  TClipfrm Form(Player, Entry, 3,
                {Part(0, 1000000, 2000000), Part(1, 4000000, 5000000), Part(2, 2500000, 3300000)});
  Form.move(40, 40);
  Form.show();
  ASSERT_TRUE(PumpUntil([&] { return Form.Session() != nullptr; }));
  QApplication::setActiveWindow(&Form);
  TVelTrackbar& Bar = *Form.TrckVideo;
  QTreeWidget* list = Form.lvCutVideo;
  const auto Markers = [&] {
    return Bar.ShowSegment() ? TClipSegment{Bar.SegStartPos(), Bar.SegEndPos()}
                             : TClipSegment{-1, -1};
  };
  const auto Highlighted = [&] {
    const QList<QTreeWidgetItem*> rows = list->selectedItems();
    return rows.isEmpty() ? -1 : list->indexOfTopLevelItem(rows.first());
  };
  Form.SelectRow(1, TClipColumn::Start);
  EXPECT_EQ(Markers(), Form.Session()->SegmentOf(1));

  const QPoint below(20, list->viewport()->height() - 5);
  ASSERT_EQ(list->itemAt(below), nullptr);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, below);
  ASSERT_EQ(Highlighted(), -1);
  EXPECT_EQ(Markers(), (TClipSegment{-1, -1}));
  const std::vector<TClipFile> before = Form.Session()->Rows();
  const int MarkerMiddle = Bar.Picture(TVelTrackbar::SegmentStart).width() / 2;
  DragOnBar(Bar, QPoint(Bar.SegStartX() - MarkerMiddle, Bar.SegOffsetY()), {Bar.XFromValue(20)});
  EXPECT_EQ(Form.Session()->Rows()[1].StartTime, before[1].StartTime);

  Form.SelectRow(1, TClipColumn::Start);
  Form.DeletePart();
  const int shown = Highlighted();
  if (shown >= 0) {
    EXPECT_EQ(Markers(), Form.Session()->SegmentOf(shown));
    EXPECT_TRUE(Bar.Position() >= Markers().Start && Bar.Position() <= Markers().End);
  } else {
    EXPECT_EQ(Markers(), (TClipSegment{-1, -1}));
  }
  Form.AskSaveChanges = [](const QString&) { return int(QMessageBox::No); };
  Form.reject();
}

// Paused, markers that push the tick take the picture with them: a start time typed past the
// tick, the start marker dragged past it, the end marker dragged back before it. The picture
// shown is the one at the bar's time, which the label tells.
TEST_F(ClipWindowScreen, MarkersThatPushTheTickTakeThePictureAlong) {
  TClipfrm Form(Player, Entry, 2, {Part(0, 1000000, 4000000), Part(1, 5000000, 8000000)});
  Form.ShowRefusal = [](const QString& Text) { ADD_FAILURE() << Text.toStdString(); };
  Form.move(40, 40);
  Form.show();
  ASSERT_TRUE(PumpUntil([&] { return Form.Session() && Player.Position() > 200000; }));
  Form.btnPause->click();
  TVelTrackbar& Bar = *Form.TrckVideo;
  const auto BarTime = [&] { return Form.Session()->Base().TimeOf(Bar.Position()); };
  const int MarkerMiddle = Bar.Picture(TVelTrackbar::SegmentStart).width() / 2;
  const auto DragMarker = [&](int From, int64_t To) {
    DragOnBar(Bar, QPoint(From, Bar.SegOffsetY()), {Bar.XFromValue(To)});
  };
  const struct {
    const char* Step;
    std::function<void()> Act;
    int64_t Tick;  // where the markers push the tick
  } steps[] = {
      {"start time typed past the tick",
       [&] { Type(Form, 1, TClipColumn::Start, QStringLiteral("00:00:06")); }, 60},
      {"start marker dragged past the tick",
       [&] {
         Form.SelectRow(0, TClipColumn::Start);
         DragMarker(Bar.SegStartX() - MarkerMiddle, 20);
       },
       20},
      {"end marker dragged back before the tick",
       [&] {
         ClickTrack(Bar, 0.45);
         DragMarker(Bar.SegEndX() + 1 + MarkerMiddle, 32);
       },
       32},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.Step);
    step.Act();
    const int64_t Shown = ShownTime();
    EXPECT_EQ(Bar.Position(), step.Tick);
    EXPECT_GE(Shown, BarTime());
    EXPECT_LT(Shown, BarTime() + fixtures::GreyRampPicture);
    EXPECT_EQ(Form.lblpos->text().toStdString(), ClipTimeText(BarTime()).toStdString());
    EXPECT_TRUE(Form.btnPlay->isVisible());
  }
  Form.AskSaveChanges = [](const QString&) { return int(QMessageBox::No); };
  Form.reject();
}

}  // namespace
