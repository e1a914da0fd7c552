#include "AppTestSupport.h"
#include "IniFiles.h"
#include "U_Config.h"
#include "U_Formats.h"
#include "VelLog.h"

#include <QDomDocument>

#include <gtest/gtest.h>

namespace {

TFormatLists ShippedLists() {
  QDomDocument document;
  EXPECT_TRUE(OpenXmlFile(document, QStringLiteral(FENNICK_BIN_DIR "/Format.dat"), nullptr));
  return FormatListsOf(LoadFormatProfiles(document));
}

TFileOption Entry(const char* VideoCodec, int VideoBitrate, const char* FrameRate,
                  const char* AudioCodec, int Channels, int SampleRate, int AudioBitrate,
                  const char* Ext) {
  TFileOption e;
  e.Output.VideoCodec = VideoCodec;
  e.Output.VideoBitrate = VideoBitrate;
  e.Output.FrameRate = FrameRate;
  e.Output.AudioCodec = AudioCodec;
  e.Output.AudioChannels = Channels;
  e.Output.AudioSampleRate = SampleRate;
  e.Output.AudioBitrate = AudioBitrate;
  e.Output.FileExt = Ext;
  return e;
}

TEST(FormatsRules, CustomEntriesSelectTheItemsThatReadBackToTheirValues) {
  const TFormatLists lists = ShippedLists();
  using S = std::array<int, fbCount>;
  const struct {
    TFileOption Entry;
    S Index;  // video encoder, frame rate, video bit rate, audio encoder, channel, sample rate,
              // audio bit rate, container
  } cases[] = {
      {Entry("flv", 512000, "", "libmp3lame", 2, 44100, 96000, ".flv"), S{0, 0, 3, 0, 1, 2, 3, 0}},
      {Entry("libx264", 2000000, "29.97", "aac", 1, 22050, 32000, ".swf"),
       S{1, 6, 7, 1, 0, 1, 0, 1}},
      // A codec, rate or extension no item reads back to selects nothing; any audio codec
      // but MP3 is AAC.
      {Entry("mpeg4", 500000, "23.976", "libvorbis", 6, 48000, 100000, ".mp4"),
       S{-1, -1, -1, 1, -1, -1, -1, -1}},
      {Entry("FLV", 0, "original", "libmp3lame", 0, 0, 0, "flv"), S{-1, -1, -1, 0, -1, -1, -1, -1}},
  };
  for (const auto& c : cases) {
    const TFormatSelection s = CustomSelection(lists, c.Entry);
    EXPECT_EQ(s.Index, c.Index) << c.Entry.Output.VideoCodec;
    EXPECT_EQ(IsH264Selection(lists, s), c.Entry.Output.VideoCodec == "libx264");
  }
}

TEST(FormatsRules, ProportionalSizingKeepsTheStoredShapeAndNeverDividesByZero) {
  const struct {
    bool WidthTyped;
    int Typed;
    const char* Stored;
    std::optional<int> Other;
    bool H264 = false;  // which makes only even sides
  } cases[] = {
      {true, 640, "320x240", 480},
      {false, 241, "320x240", 321},
      {false, 3, "16x9", 5},
      {false, 9, "2x1", 18},  // 5.33, then an exact value
      {false, 1, "5x2", 2},
      {false, 3, "5x2", 8},               // halves go to the even side
      {true, 5000, "1x1", std::nullopt},  // limited to 1920: no room
      {true, 1919, "1x1", 1919},
      {false, 5000, "1x1", 1920},
      {false, 1500, "16x9", 1920},
      {true, 7, "3x2", 4},  // 4.67 is cut to 4
      {true, 640, "0x0", std::nullopt},
      {false, 480, "", std::nullopt},
      {true, 640, "320x0", std::nullopt},
      {false, 480, "0x240", std::nullopt},
      {true, 321, "321x241", 241},
      {true, 321, "321x241", 240, true},   // 241 is cut to even
      {false, 241, "320x240", 322, true},  // 321.33: the nearest even
      {false, 200, "16x9", 356, true},
      {true, 1919, "1x1", 1918, true},
  };
  for (const auto& c : cases) {
    const auto other = c.WidthTyped ? ProportionalHeight(c.Typed, c.Stored, c.H264)
                                    : ProportionalWidth(c.Typed, c.Stored, c.H264);
    EXPECT_EQ(other, c.Other) << c.Typed << " in " << c.Stored << (c.H264 ? " for H.264" : "");
  }
}

// The FLV encoder makes any size in range; H.264 only even ones.
TEST(FormatsRules, ResolutionLimitsNameTheFailingSide) {
  const struct {
    int W, H;
    bool H264;
    TResolutionFault Fault;
  } cases[] = {
      {80, 80, false, TResolutionFault::None},       {1920, 1280, false, TResolutionFault::None},
      {79, 500, false, TResolutionFault::Width},     {1921, 500, false, TResolutionFault::Width},
      {640, 79, false, TResolutionFault::Height},    {640, 1281, false, TResolutionFault::Height},
      {0, 0, false, TResolutionFault::Width},        {1481, 313, false, TResolutionFault::None},
      {1480, 312, true, TResolutionFault::None},     {1481, 313, true, TResolutionFault::OddWidth},
      {1480, 81, true, TResolutionFault::OddHeight}, {1921, 81, true, TResolutionFault::Width}};
  for (const auto& c : cases)
    EXPECT_EQ(CheckResolution(c.W, c.H, c.H264), c.Fault) << c.W << "x" << c.H << " " << c.H264;
  EXPECT_EQ(ResolutionErrorText,
            "Please input an appropriate resolution.\r\n(Values range:80x80-1920x1280)");
  EXPECT_EQ(ResolutionFaultText(TResolutionFault::Height), ResolutionErrorText);
  EXPECT_EQ(ResolutionFaultText(TResolutionFault::OddWidth), EvenResolutionErrorText);
  EXPECT_EQ(VolumeErrorText, "Please input an appropriate Volume.\r\n(Value range:0-256)");
}

// Flv, Swf, Html, Embed checked; embed, progressive, Html enabled.
std::string Show(const TOutputChoices& c) {
  std::string s;
  for (bool b : {c.Flv, c.Swf, c.Html, c.Embed, c.EmbedEnabled, c.CreatedEnabled, c.HtmlEnabled})
    s += b ? '1' : '0';
  return s;
}

TEST(FormatsRules, OutputChoicesKeepOneOutputAndFollowTheSwfAndH264) {
  TFileOption both;
  both.Gflv = both.GSwf = both.GHtml = true;
  both.SWFData.isflv = false;
  TFileOption flvOnly;
  flvOnly.Gflv = true;
  flvOnly.SWFData.isflv = true;
  TFileOption swfOnly;  // set to play an FLV that is not made
  swfOnly.GSwf = swfOnly.GHtml = swfOnly.SWFData.isflv = true;
  const TOutputContext plain, merge{true, false}, h264{false, true};
  enum Action { Load, UncheckFlv, CheckFlv, UncheckSwf, CheckSwf, ToH264, ToFlvProfile };
  const struct {
    const char* Name;
    const TFileOption* Entry;
    TOutputContext Context;
    std::vector<Action> Steps;
    std::string After;
  } cases[] = {
      {"both loaded", &both, plain, {Load}, "1111111"},
      {"flv only loaded", &flvOnly, plain, {Load}, "1000000"},
      {"swf alone cannot lose swf", &swfOnly, plain, {Load, UncheckSwf}, "0111101"},
      {"flv alone cannot lose flv", &flvOnly, plain, {Load, UncheckFlv}, "1000000"},
      {"swf off takes html and the player choice", &both, plain, {Load, UncheckSwf}, "1001000"},
      {"swf back on", &both, plain, {Load, UncheckSwf, CheckSwf}, "1111111"},
      {"flv off leaves embedding", &both, plain, {Load, UncheckFlv}, "0111101"},
      {"merge group with flv plays it", &both, merge, {Load}, "1110011"},
      {"merge group without flv embeds", &both, merge, {Load, UncheckFlv}, "0111101"},
      {"h264 plays the flv and keeps it", &both, h264, {Load, UncheckFlv}, "1110011"},
      {"picking h264", &both, plain, {Load, ToH264}, "1110011"},
      {"picking flv again", &both, plain, {Load, ToH264, ToFlvProfile}, "1110111"},
  };
  for (const auto& c : cases) {
    TOutputChoices o;
    TOutputContext context = c.Context;
    for (Action step : c.Steps) {
      switch (step) {
        case Load:
          o = LoadOutputChoices(*c.Entry, context);
          break;
        case UncheckFlv:
          o.Flv = false;
          ClickFlv(o, context);
          break;
        case CheckFlv:
          o.Flv = true;
          ClickFlv(o, context);
          break;
        case UncheckSwf:
          o.Swf = false;
          ClickSwf(o, context);
          break;
        case CheckSwf:
          o.Swf = true;
          ClickSwf(o, context);
          break;
        case ToH264:
          context.H264 = true;
          EXPECT_TRUE(ProfileChanged(o, context));
          break;
        case ToFlvProfile:
          context.H264 = false;
          EXPECT_FALSE(ProfileChanged(o, context));
          break;
      }
    }
    EXPECT_EQ(Show(o), c.After) << c.Name;
  }
  const TPageButtons pages[] = {{false, true}, {true, true}, {true, false}, {true, false}};
  for (int page = 0; page < 3; ++page) EXPECT_EQ(PageButtonsOf(page, true), pages[page]) << page;
  EXPECT_EQ(PageButtonsOf(1, false), (TPageButtons{true, false}));
}

TEST(FormatsRules, SkinsAreTheSwfBesideTheirPictureAndNonePreviewsPlaying) {
  const QStringList pictures = {"/p/templates/Player/None.png", "/p/templates/Player/Player01.png"};
  EXPECT_EQ(SkinIndexOf(pictures, "/p/templates/Player/Player01.swf"), 1);
  EXPECT_EQ(SkinIndexOf(pictures, "/p/templates/Player/Gone.swf"), -1);
  EXPECT_EQ(SkinIndexOf(pictures, ""), -1);
  EXPECT_EQ(ChosenSkin(pictures, 1), "/p/templates/Player/Player01.swf");
  EXPECT_EQ(ChosenSkin(pictures, -1), "/p/templates/Player/None.swf");
  EXPECT_EQ(ChosenSkin({}, -1), "");
  const TSWFData none = PreviewSettings(ChosenSkin(pictures, 0), false, true, 0x0000FF);
  const TSWFData player = PreviewSettings(ChosenSkin(pictures, 1), false, true, 0x0000FF);
  EXPECT_TRUE(none.autoplay && none.autohide);
  EXPECT_FALSE(player.autoplay || player.autohide || player.autoRewind || player.showbuffer);
  EXPECT_TRUE(player.isflv && player.showbigplay);
  EXPECT_EQ(player.bgcolor, 0xFF0000u);  // red, as the player reads colours
}

class FormatsOk : public testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolder(Folder.Path());
    VelLog = TVelLog(Folder.File("log.txt"));
    InitFileOption(E, QStringLiteral("320x240"));
    E.Input.FileName = "/media/in/clip.mp4";
    E.Output.FileName = "/out/clip.flv";
    World.OutputFolder = "/out/";
    World.PreviewArea = {0, 0, 400, 300};
    World.MakeUniqueOutputName = [this](const QString& Path, const QString& Ext) {
      Renamed << Path + "|" + Ext;
      return QStringLiteral("/out/new.") + Ext;
    };
    World.SaveWaterMark = [this](const QString& Picture, const TIntRect& R) {
      Saved << QStringLiteral("%1 %2x%3").arg(Picture).arg(R.Right - R.Left).arg(R.Bottom - R.Top);
      return QStringLiteral("/scratch/copy.png");
    };
    World.HasEncoder = [](const QString&) { return false; };
  }
  void TearDown() override {
    SetProgramFolder(QString());
    VelLog = TVelLog();
  }
  TFormatsChoice Choice(int Profile) const {
    TFormatsChoice c;
    c.ProfileIndex = Profile;
    c.Selection =
        Profile < Lists.CustomIndex() ? Lists.Profiles[Profile] : CustomSelection(Lists, E);
    c.Width = 320;
    c.Height = 240;
    c.Outputs = LoadOutputChoices(E, {});
    c.Skin = "/p/None.swf";
    c.BGColor = 0x00FF00;
    return c;
  }

  TScratchFolder Folder;
  TFormatLists Lists = ShippedLists();
  TFileOption E;
  TFormatsWorld World;
  QStringList Renamed, Saved;
};

TEST_F(FormatsOk, AnUnchangedProfileWritesOnlyTheAudioSwitchAndTheOutputs) {
  TFormatsChoice c = Choice(0);
  c.EnableAudio = false;
  c.Volume = 10;
  c.Outputs.Flv = false;
  c.AutoRewind = true;
  ASSERT_EQ(WriteFormatsChoice(E, Lists, c, World), TFormatsWrite::Written);
  EXPECT_EQ(E.Output.DisableAudio, 1);
  EXPECT_EQ(E.Output.AudioVolume, 256);
  EXPECT_EQ(E.Output.FileName, "/out/clip.flv");
  EXPECT_TRUE(Renamed.isEmpty());
  EXPECT_FALSE(E.Gflv);
  EXPECT_EQ(E.Output.FileExt, ".swf");
  EXPECT_TRUE(E.SWFData.autoRewind);
  EXPECT_EQ(E.SWFData.bgcolor, 0x00FF00u);
  EXPECT_EQ(E.PlayerSkin, "/p/None.swf");
}

TEST_F(FormatsOk, AChangedProfileWritesEveryValueAndKeepsTheNameOfTheSameContainer) {
  const struct {
    int Profile;
    int Container;  // -1: the profile's own
    const char* Codec;
    const char* AudioCodec;
    int Channels, SampleRate, Bitrate;
    QStringList Renamed;
    const char* FileName;
  } cases[] = {
      {3, -1, "libx264", "aac", 2, 44100, 768000, {}, "/out/clip.flv"},
      {1, -1, "flv", "libmp3lame", 1, 22050, 256000, {}, "/out/clip.flv"},
      {4, 1, "flv", "libmp3lame", 2, 44100, 512000, {"/out/clip.mp4|swf"}, "/out/new.swf"},
  };
  for (const auto& c : cases) {
    SetUp();
    Renamed.clear();
    TFormatsChoice choice = Choice(c.Profile);
    if (c.Container >= 0) choice.Selection.Index[fbFormat] = c.Container;
    choice.Width = 640;
    choice.Height = 480;
    choice.Volume = 300 - c.Profile;
    ASSERT_EQ(WriteFormatsChoice(E, Lists, choice, World), TFormatsWrite::Written);
    EXPECT_EQ(E.Formatid, c.Profile + 1) << c.Profile;
    EXPECT_EQ(E.Output.VideoCodec, c.Codec);
    EXPECT_EQ(E.Output.AudioCodec, c.AudioCodec);
    EXPECT_EQ(E.Output.AudioChannels, c.Channels);
    EXPECT_EQ(E.Output.AudioSampleRate, c.SampleRate);
    EXPECT_EQ(E.Output.VideoBitrate, c.Bitrate);
    EXPECT_EQ(E.Output.AudioVolume, 300 - c.Profile);
    EXPECT_EQ(E.OutputFrameSize, "640x480");
    EXPECT_EQ(Renamed, c.Renamed);
    EXPECT_EQ(E.Output.FileName, c.FileName);
  }
}

TEST_F(FormatsOk, ANewSizeRescalesTheWatermarkInFrameAndPreviewPixels) {
  E.WaterMarkKind = 1;
  E.WaterMark.Kind = 1;
  E.WaterMark.PictureFile = "/pics/logo.png";
  E.WaterMark.Rect = {10, 20, 74, 68};
  E.WaterMark.PictureViewRect = {13, 27, 93, 87};  // preview of 320x240 in 400x300
  TFormatsChoice c = Choice(4);
  c.Width = 640;
  c.Height = 360;
  ASSERT_EQ(WriteFormatsChoice(E, Lists, c, World), TFormatsWrite::Written);
  EXPECT_EQ(E.WaterMark.Rect, (TIntRect{20, 30, 148, 102}));
  // The 4:3 frame filled the area; 640x360 fills 400x224 from top 38.
  EXPECT_EQ(E.WaterMark.PictureViewRect, (TIntRect{13, 58, 93, 103}));
  EXPECT_EQ(E.WaterMark.PictureCopy, "/scratch/copy.png");
  EXPECT_EQ(Saved, QStringList({"/pics/logo.png 128x72"}));
  const QStringList log = ReadLines(Folder.File("log.txt"));
  ASSERT_EQ(log.size(), 5);
  EXPECT_TRUE(log[1].endsWith("DestRect: 13, 58 , 93, 103"));
  EXPECT_TRUE(log[3].endsWith("SrcRect: 20, 30 , 148, 102"));

  // A text watermark's font follows the width; sizes of 0 change nothing.
  TFileOption text;
  InitFileOption(text, QStringLiteral("320x240"));
  text.WaterMark.Text = "hello";
  text.WaterMark.Font = TWaterMarkFont{"Sans", 10};
  text.WaterMark.TextViewRect = {0, 0, 40, 20};
  RescaleWaterMark(text, QSize(480, 240), World);
  EXPECT_EQ(text.WaterMark.Font->PointSize, 15);
  EXPECT_EQ(text.WaterMark.TextViewRect, (TIntRect{0, 50, 40, 63}));
  for (const char* stored : {"0x0", "", "320x0"}) {
    text.OutputFrameSize = stored;
    RescaleWaterMark(text, QSize(640, 480), World);
    RescaleWaterMark(text, QSize(0, 0), World);
    EXPECT_EQ(text.WaterMark.Font->PointSize, 15) << stored;
  }
  EXPECT_EQ(FitAspectRect({0, 0, 0, 0}, {0, 0, 400, 300}), (TIntRect{0, 0, 400, 300}));
}

TEST_F(FormatsOk, SaveAsDefaultWritesTheDefaultsFileAndNoProfilesWritesNothing) {
  TFormatsChoice c = Choice(3);
  c.SaveAsDefault = true;
  ASSERT_EQ(WriteFormatsChoice(E, Lists, c, World), TFormatsWrite::Written);
  const QString ini = FormatDefaultFileName();
  EXPECT_EQ(ReadIniValue(ini, "Format", "Formatid", ""), "4") << ReadTextFile(ini).toStdString();
  EXPECT_EQ(ReadFormatDefault("1x1").VideoCodec, "libx264");
  EXPECT_EQ(ReadFormatDefault("1x1").PlayerSkin, "None.swf");

  const TFileOption before = E;
  EXPECT_EQ(WriteFormatsChoice(E, TFormatLists{}, Choice(0), World), TFormatsWrite::NoProfiles);
  EXPECT_EQ(E.Output.VideoCodec, before.Output.VideoCodec);
  EXPECT_EQ(E.PlayerSkin, before.PlayerSkin);
}

}  // namespace
