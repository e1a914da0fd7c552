// What OK writes into the entry, and the log lines that record it.
#include "U_Edit.h"

#include "AppTestSupport.h"
#include "VelLog.h"

#include <gtest/gtest.h>

namespace {

const TIntRect Crop{10, 20, 330, 260};
const TIntRect View{60, 10, 150, 60};
const TIntRect Mark{16, 8, 176, 68};

TEditChoices PictureChoices(TIntRect Rect) {
  TEditChoices Choices;
  Choices.StartupWatermark = true;
  Choices.PictureLoaded = true;
  Choices.PictureFile = QStringLiteral("/pictures/logo.png");
  Choices.PictureCopy = QStringLiteral("/scratch/~Tmp1.png");
  Choices.PictureViewRect = View;
  Choices.WatermarkSourceRect = Rect;
  return Choices;
}

TEditChoices TextChoices(const QString& Text) {
  TEditChoices Choices;
  Choices.StartupWatermark = true;
  Choices.ImageChecked = false;
  Choices.TextChecked = true;
  Choices.Text = Text;
  Choices.Font.Family = QStringLiteral("DejaVu Sans");
  Choices.Font.PointSize = 24;
  Choices.TextViewRect = View;
  Choices.WatermarkSourceRect = Mark;
  return Choices;
}

TEST(EditChoices, OkWritesOnlyWhatWasChosen) {
  TEditChoices Cropped;
  Cropped.CropActive = true;
  Cropped.CropSourceRect = Crop;
  Cropped.CropPreviewRect = View;
  Cropped.Brightness = 30;
  Cropped.Saturation = -40;
  Cropped.HFlip = true;
  Cropped.Deinterlace = true;
  TEditChoices Unticked = PictureChoices(Mark);
  Unticked.StartupWatermark = false;

  const struct {
    const char* Name;
    TEditChoices Choices;
    bool CropEnabled;
    int32_t WaterMarkKind, Kind;
    QString PictureCopy, Text;
    TIntRect Rect;
    int32_t Deinterlace;
    QString LogLine;
  } Cases[] = {
      {"nothing", {}, false, -1, 0, {}, {}, {}, -1, {}},
      {"crop and effects", Cropped, true, -1, 0, {}, {}, {}, 1, "SrcRect: 10, 20 , 330, 260"},
      {"picture",
       PictureChoices(Mark),
       false,
       1,
       1,
       "/scratch/~Tmp1.png",
       {},
       Mark,
       -1,
       "Pic Name: /pictures/logo.png"},
      {"picture without area", PictureChoices({}), false, 5, 0, {}, {}, {}, -1, {}},
      {"picture kept, watermark off",
       Unticked,
       false,
       -1,
       1,
       "/scratch/~Tmp1.png",
       {},
       Mark,
       -1,
       "AddPicWaterMark:-------------"},
      {"text",
       TextChoices("Velmora"),
       false,
       2,
       2,
       {},
       "Velmora",
       Mark,
       -1,
       "Size: 24, Name: DejaVu Sans"},
      {"empty text", TextChoices(""), false, 5, 0, {}, {}, {}, -1, {}},
  };
  for (const auto& Case : Cases) {
    TScratchFolder Folder;
    VelLog = TVelLog(Folder.File(QStringLiteral("log.txt")));
    TFileOption Entry;
    Entry.WaterMarkKind = 5;  // left alone when nothing usable is chosen
    ApplyEditChoices(Case.Choices, Entry);
    VelLog = TVelLog();
    EXPECT_EQ(Entry.CropEnabled, Case.CropEnabled) << Case.Name;
    EXPECT_EQ(Entry.WaterMarkKind, Case.WaterMarkKind) << Case.Name;
    EXPECT_EQ(Entry.WaterMark.Kind, Case.Kind) << Case.Name;
    EXPECT_EQ(Entry.WaterMark.PictureCopy, Case.PictureCopy) << Case.Name;
    EXPECT_EQ(Entry.WaterMark.Text, Case.Text) << Case.Name;
    EXPECT_EQ(Entry.WaterMark.Rect, Case.Rect) << Case.Name;
    EXPECT_EQ(Entry.Deinterlace, Case.Deinterlace) << Case.Name;
    EXPECT_EQ(Entry.Brightness, Case.Choices.Brightness) << Case.Name;
    EXPECT_EQ(Entry.Saturation, Case.Choices.Saturation) << Case.Name;
    EXPECT_EQ(Entry.HFlip, Case.Choices.HFlip) << Case.Name;
    const QStringList Log = ReadLines(Folder.File(QStringLiteral("log.txt")));
    if (Case.LogLine.isEmpty())
      EXPECT_TRUE(Log.isEmpty()) << Case.Name;
    else
      EXPECT_TRUE(Log.join('\n').contains(Case.LogLine))
          << Case.Name << ": " << Log.join('\n').toStdString();
  }
}

}  // namespace
