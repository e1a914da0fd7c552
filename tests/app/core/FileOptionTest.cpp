#include "AppTestSupport.h"
#include "U_Config.h"
#include "U_FileOption.h"

#include <gtest/gtest.h>

namespace {

TEST(FileOption, InitLeavesWhatTheAdderSetAndResetsTheRest) {
  TScratchFolder folder;
  SetProgramFolder(folder.Path());
  TFileOption option;
  option.Duration = 3000000;
  option.FileSize = 1234;
  option.Input.FileName = "/in/a.mp4";
  option.Input.StartTime = 500000;
  option.Output.FileName = "/out/a.flv";
  option.DisplayName = QStringLiteral("Merge_1.flv");
  option.Brightness = option.Contrast = option.Saturation = 9;
  option.VFlip = option.HFlip = option.IsMergeGroup = true;
  option.KeepOutputSize = 1;
  option.SWFData.videofile = "old.flv";
  InitFileOption(option, QStringLiteral("320x240"));
  SetProgramFolder(QString());

  EXPECT_EQ(option.Duration, 3000000);
  EXPECT_EQ(option.FileSize, 1234);
  EXPECT_EQ(option.Input.FileName, "/in/a.mp4");
  EXPECT_EQ(option.Input.StartTime, 500000);
  EXPECT_EQ(option.Output.FileName, "/out/a.flv");
  EXPECT_EQ(option.DisplayName, QStringLiteral("Merge_1.flv"));
  EXPECT_EQ(option.Brightness + option.Contrast + option.Saturation, 0);
  EXPECT_FALSE(option.VFlip || option.HFlip || option.IsMergeGroup);
  EXPECT_EQ(option.KeepOutputSize, 0);
  EXPECT_EQ(option.SWFData.videofile, "");
}

TEST(FileOption, ACopiedEntryAndItsTextWaterMarkShareNothing) {
  TFileOption entry;
  entry.WaterMarkKind = 2;
  entry.WaterMark.Font = TWaterMarkFont{QStringLiteral("DejaVu Sans"), 12};
  entry.WaterMark.PictureFile = QStringLiteral("/p/logo.png");
  TFileOption child = entry;
  TTextWaterMark task{3, entry.WaterMark};
  child.WaterMark.Font->PointSize = 30;
  child.SWFData.autoplay = !entry.SWFData.autoplay;
  entry.WaterMark.Font.reset();
  EXPECT_EQ(task.WaterMark.Font->PointSize, 12);
  EXPECT_EQ(child.WaterMark.Font->PointSize, 30);
  EXPECT_NE(child.SWFData.autoplay, entry.SWFData.autoplay);

  EXPECT_EQ(entry.WaterMark.PictureToDraw(), QStringLiteral("/p/logo.png"));
  entry.WaterMark.PictureCopy = QStringLiteral("/scratch/~Tmp00.png");
  EXPECT_EQ(entry.WaterMark.PictureToDraw(), QStringLiteral("/scratch/~Tmp00.png"));
}

}  // namespace
