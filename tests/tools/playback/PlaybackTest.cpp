// Our packaged players as a viewer gets them: played in a real Flash runtime (Ruffle in
// headless Chromium), judged by what the screen shows over time, what reaches the speakers
// and whether the runtime reported any ActionScript error (which fails every case).
#include <gtest/gtest.h>

#include <filesystem>

#include "MediaFixtures.h"
#include "PlaybackRun.h"

namespace {

namespace fs = std::filesystem;
using namespace playback;

// Points of the 480 x 390 stage: the big play button's centre, and the middle and the start
// of Player01's seek track (the bar is the bottom 30 pixels).
constexpr int kCentreX = 240, kCentreY = 180;
constexpr int kTrackMidX = 209, kTrackStartX = 31, kTrackY = 375;

std::string MediaArgs(const char* seconds) {
  return std::string(
             "-f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i "
             "sine=frequency=440:sample_rate=22050 -t ") +
         seconds + " -c:v flv1 -c:a libmp3lame -ar 22050";
}

// Long enough that the harness's two screenshots (at 1 s and 3 s) fall inside playback even
// when a busy machine delays them; the short one ends before them.
constexpr int kVideoSeconds = 6;
std::string VideoSwf() { return fixtures::Make("playback-6s.swf", MediaArgs("6")); }
std::string ShortVideoSwf() { return fixtures::Make("playback-short.swf", MediaArgs("1")); }
std::string VideoFlv() { return fixtures::Make("playback-6s.flv", MediaArgs("6")); }
// The video's first picture, as the conversion hands it to the packaging step.
std::string FirstPicture() {
  return fixtures::Make("playback-first.jpg", "-f lavfi -i testsrc=size=320x240:rate=25 -frames:v 1");
}

std::string Skin(const std::string& name) {
  return (fs::path(FENNICK_SKIN_DIR) / (name + ".swf")).string();
}

TSWFData Embedded(bool autoplay) {
  TSWFData settings;
  settings.isflv = false;
  settings.autoplay = autoplay;
  settings.videotime = kVideoSeconds;
  settings.bgcolor = 0x203040;
  return settings;
}

// Every case fails on an ActionScript error; the report says which.
void ExpectVerdict(const Result& result, const std::string& verdict) {
  EXPECT_EQ(result.Verdict(), verdict) << result.report;
  EXPECT_EQ(result.exitCode, 0) << result.report;
}

class PlaybackTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = fixtures::TempDir("playback"); }

  // Player01 streaming clip.flv from beside its page, with the video's first picture, as the
  // packaging step leaves them.
  std::string FlvPage(bool autoplay) {
    fs::copy_file(VideoFlv(), fs::path(dir_) / "clip.flv");
    TSWFData settings;
    settings.isflv = true;
    settings.videofile = "clip.flv";
    settings.autoplay = autoplay;
    settings.videotime = kVideoSeconds;
    PackageSkin(dir_, "clip", Skin("Player01"), settings, std::nullopt, FirstPicture());
    return WriteHtmlPage(dir_, "clip");
  }

  std::string dir_;
};

// The settings SWF on its own merits: another class finds "SWFData" by name and reads every
// value with its type, and paints the left half of the stage in the colour it holds.
TEST_F(PlaybackTest, AnotherClassReadsAllElevenSettings) {
  const std::string probe = AssembleSkin(dir_, "SettingsProbe", R"(
dynamic class SettingsProbe extends flash.display.MovieClip
    constructor()
        local settings, names, i, text, name
        getlocal0
        pushscope
        getlocal0
        constructsuper 0
        findpropstrict flash.utils.getDefinitionByName
        pushstring "SWFData"
        callproperty flash.utils.getDefinitionByName, 1
        construct 0
        setlocal settings
        pushstring "videofile"
        pushstring "autohide"
        pushstring "autoplay"
        pushstring "isflv"
        pushstring "autoRewind"
        pushstring "autoSize"
        pushstring "showbigplay"
        pushstring "ratio"
        pushstring "bgcolor"
        pushstring "showbuffer"
        pushstring "videotime"
        newarray 11
        setlocal names
        pushstring "SWFDATA"
        setlocal text
        pushbyte 0
        setlocal i
    next:
        getlocal names
        getlocal i
        getproperty []
        setlocal name
        getlocal text
        pushstring "|"
        add
        getlocal name
        add
        pushstring "="
        add
        getlocal settings
        getlocal name
        getproperty []
        typeof
        add
        pushstring ":"
        add
        getlocal settings
        getlocal name
        getproperty []
        add
        setlocal text
        inclocal_i i
        getlocal i
        pushbyte 11
        iflt next
        findpropstrict trace
        getlocal text
        callpropvoid trace, 1
        getlocal0
        getproperty graphics
        getlocal settings
        getproperty bgcolor
        callpropvoid beginFill, 1
        getlocal0
        getproperty graphics
        pushbyte 0
        pushbyte 0
        pushshort 240
        pushshort 390
        callpropvoid drawRect, 4
        returnvoid
    end
end
)");
  TSWFData settings;
  settings.videofile = "clips/Fïlm 1.flv";
  settings.autohide = true;
  settings.autoplay = false;
  settings.isflv = true;
  settings.autoRewind = true;
  settings.autoSize = true;
  settings.showbigplay = false;
  settings.ratio = "16:9";
  settings.bgcolor = 0x123456;
  settings.showbuffer = true;
  settings.videotime = 90;
  const Result result = Play(PackageSkin(dir_, "settings", probe, settings, std::nullopt),
                             "--expect still --probe 100,100");
  ExpectVerdict(result, "STILL");
  EXPECT_TRUE(result.Logged(
      "SWFDATA|videofile=string:clips/Fïlm 1.flv|autohide=boolean:true|autoplay=boolean:false"
      "|isflv=boolean:true|autoRewind=boolean:true|autoSize=boolean:true"
      "|showbigplay=boolean:false|ratio=string:16:9|bgcolor=number:1193046"
      "|showbuffer=boolean:true|videotime=number:90"))
      << result.report;
  EXPECT_EQ(result.ColourAt(100, 100), "#123456") << result.report;
}

TEST_F(PlaybackTest, Player01PlaysTheEmbeddedVideoWithSound) {
  const Result result =
      Play(PackageSkin(dir_, "embedded", Skin("Player01"), Embedded(true), VideoSwf()),
           "--expect plays --audio");
  ExpectVerdict(result, "PLAYS");
  EXPECT_GT(result.Figure("audioPeak"), 0.05) << result.report;
  EXPECT_GT(result.Colours(), 200) << "the test picture fills the stage: " << result.report;
}

TEST_F(PlaybackTest, NonePlaysTheEmbeddedVideoWithSound) {
  TSWFData settings = Embedded(true);
  settings.autohide = true;  // what packaging gives the None skin
  const Result result = Play(PackageSkin(dir_, "none", Skin("None"), settings, VideoSwf()),
                             "--expect plays --audio --probe 240,380");
  ExpectVerdict(result, "PLAYS");
  EXPECT_GT(result.Figure("audioPeak"), 0.05) << result.report;
  EXPECT_EQ(result.ColourAt(240, 380), "#203040")
      << "no bar, the background shows under the picture: " << result.report;
}

TEST_F(PlaybackTest, Player01PlaysTheProgressiveFlvBesideItsPage) {
  const Result result = Play(FlvPage(true), "--expect plays --audio");
  ExpectVerdict(result, "PLAYS");
  EXPECT_GT(result.Figure("audioPeak"), 0.05) << result.report;
}

// A player without autoplay stands still under the big play button, silent until the click,
// and shows the video's first picture: the embedded video its own, a stream (which shows a
// picture only by playing, sound and all) the still packaged with it.
TEST_F(PlaybackTest, WithoutAutoplayThePlayerWaitsSilentlyUnderThePlayButton) {
  for (const bool flv : {false, true}) {
    const std::string movie =
        flv ? FlvPage(false)
            : PackageSkin(dir_, "still", Skin("Player01"), Embedded(false), VideoSwf());
    const Result result = Play(movie, "--expect still --probe " + std::to_string(kCentreX) +
                                          "," + std::to_string(kCentreY));
    ExpectVerdict(result, "STILL");
    EXPECT_GT(result.Colours(), 200)
        << "the first picture shows, not a black stage: " << result.report;
    EXPECT_EQ(result.ColourAt(kCentreX, kCentreY), kGlyphColour) << result.report;
    EXPECT_LT(result.Figure("audioPeak"), 0.01) << "a still player is silent: " << result.report;
  }
}

// The embedded sprite would loop by itself: the skin holds the last picture, or with
// auto-rewind goes back to the first, and either way stands still with its play button.
TEST_F(PlaybackTest, AtTheEndPlayer01StopsOrRewinds) {
  const std::string probes = " --probe " + std::to_string(kTrackMidX) + "," +
                             std::to_string(kTrackY) + " --probe " + std::to_string(kTrackStartX) +
                             "," + std::to_string(kTrackY) + " --probe " +
                             std::to_string(kCentreX) + "," + std::to_string(kCentreY);
  TSWFData settings = Embedded(true);
  settings.videotime = 1;
  const Result stopped =
      Play(PackageSkin(dir_, "stop", Skin("Player01"), settings, ShortVideoSwf()),
           "--expect still --t1 3 --t2 4.5" + probes);
  ExpectVerdict(stopped, "STILL");
  EXPECT_EQ(stopped.ColourAt(kTrackMidX, kTrackY), kProgressColour)
      << "progress stays full: " << stopped.report;
  EXPECT_EQ(stopped.ColourAt(kTrackStartX, kTrackY), kProgressColour) << stopped.report;
  EXPECT_EQ(stopped.ColourAt(kCentreX, kCentreY), kGlyphColour) << stopped.report;

  settings.autoRewind = true;
  const Result rewound =
      Play(PackageSkin(dir_, "rewind", Skin("Player01"), settings, ShortVideoSwf()),
           "--expect still --t1 3 --t2 4.5" + probes);
  ExpectVerdict(rewound, "STILL");
  EXPECT_EQ(rewound.ColourAt(kTrackMidX, kTrackY), kTrackColour)
      << "progress back at zero: " << rewound.report;
  EXPECT_EQ(rewound.ColourAt(kTrackStartX, kTrackY), kGlyphColour)
      << "the knob is back at the start: " << rewound.report;
  EXPECT_EQ(rewound.ColourAt(kCentreX, kCentreY), kGlyphColour) << rewound.report;
}

// The formats dialog previews a skin with settings but no video at all.
TEST_F(PlaybackTest, WithoutAnyVideoPlayer01ShowsItsBackgroundAndControls) {
  TSWFData settings;  // progressive, no file name yet
  settings.bgcolor = 0x203040;
  const Result result = Play(PackageSkin(dir_, "preview", Skin("Player01"), settings, std::nullopt),
                             "--expect still --probe 10,10 --probe " + std::to_string(kTrackMidX) +
                                 "," + std::to_string(kTrackY) + " --probe " +
                                 std::to_string(kCentreX) + "," + std::to_string(kCentreY));
  ExpectVerdict(result, "STILL");
  EXPECT_EQ(result.ColourAt(10, 10), "#203040") << result.report;
  EXPECT_EQ(result.ColourAt(kTrackMidX, kTrackY), kTrackColour) << result.report;
  EXPECT_EQ(result.ColourAt(kCentreX, kCentreY), kGlyphColour) << result.report;
}

// The viewer's clicks: the big button plays, the bar's button pauses, the seek bar moves the
// picture to where it was clicked.
TEST_F(PlaybackTest, TheBigPlayButtonStartsPlaybackWithSound) {
  for (const bool flv : {false, true}) {
    const std::string movie =
        flv ? FlvPage(false)
            : PackageSkin(dir_, "click", Skin("Player01"), Embedded(false), VideoSwf());
    const Result result = Play(movie, "--expect plays --audio --click " + std::to_string(kCentreX) +
                                          "," + std::to_string(kCentreY));
    ExpectVerdict(result, "PLAYS");
    EXPECT_GT(result.Figure("audioPeak"), 0.05) << result.report;
  }
}

TEST_F(PlaybackTest, ThePauseButtonStopsPlayback) {
  const Result result =
      Play(PackageSkin(dir_, "pause", Skin("Player01"), Embedded(true), VideoSwf()),
           "--expect still --click 15," + std::to_string(kTrackY) + " --probe " +
               std::to_string(kCentreX) + "," + std::to_string(kCentreY));
  ExpectVerdict(result, "STILL");
  EXPECT_EQ(result.ColourAt(kCentreX, kCentreY), kGlyphColour)
      << "paused shows the big button: " << result.report;
}

TEST_F(PlaybackTest, ClickingTheSeekBarMovesThereAndKeepsStill) {
  const int threeQuarters = 30 + (kStageWidth - 30 - 92) * 3 / 4;
  const Result result = Play(
      PackageSkin(dir_, "seek", Skin("Player01"), Embedded(false), VideoSwf()),
      "--expect still --click " + std::to_string(threeQuarters) + "," + std::to_string(kTrackY) +
          " --probe " + std::to_string(kTrackMidX) + "," + std::to_string(kTrackY) + " --probe " +
          std::to_string(threeQuarters + 20) + "," + std::to_string(kTrackY));
  ExpectVerdict(result, "STILL");
  EXPECT_EQ(result.ColourAt(kTrackMidX, kTrackY), kProgressColour) << result.report;
  EXPECT_EQ(result.ColourAt(threeQuarters + 20, kTrackY), kTrackColour) << result.report;
  EXPECT_LT(result.Figure("audioPeak"), 0.01)
      << "a seek while paused stays silent: " << result.report;
}

// "Auto Hide toolbar" with no mouse over the player, and no big play button: nothing but the
// background shows where they would be.
TEST_F(PlaybackTest, AutohideAndNoBigButtonLeaveOnlyTheBackground) {
  TSWFData settings;
  settings.bgcolor = 0x203040;
  settings.autohide = true;
  settings.showbigplay = false;
  const Result result =
      Play(PackageSkin(dir_, "bare", Skin("Player01"), settings, std::nullopt),
           "--expect still --probe " + std::to_string(kTrackMidX) + "," + std::to_string(kTrackY) +
               " --probe " + std::to_string(kCentreX) + "," + std::to_string(kCentreY));
  EXPECT_EQ(result.Verdict(), "BLANK") << result.report;
  EXPECT_EQ(result.ColourAt(kTrackMidX, kTrackY), "#203040") << result.report;
  EXPECT_EQ(result.ColourAt(kCentreX, kCentreY), "#203040") << result.report;
  EXPECT_FALSE(result.Logged("ERROR")) << result.report;
}

}  // namespace
