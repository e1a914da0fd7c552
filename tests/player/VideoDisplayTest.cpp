// What the display shows, read back through CurrentFrame and the hooks: colours and sizes,
// the filter chain, flip, deinterlacing, seeking to a picture, a paused start and a step.
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <set>

#include "MediaFixtures.h"
#include "PlayerTestSupport.h"

using namespace playertest;
using fixtures::Media;

namespace {

std::string RedFixture() {
  return fixtures::Make("player_red_176x144.mp4",
                        "-f lavfi -i color=c=red:size=176x144:rate=25:duration=3 "
                        "-c:v libx264 -preset ultrafast -pix_fmt yuv420p");
}

// Red above, blue below.
std::string HalvesFixture() {
  return fixtures::Make("player_halves.mp4",
                        "-f lavfi -i color=c=red:size=160x120:rate=25:duration=3 "
                        "-f lavfi -i color=c=blue:size=160x60:rate=25:duration=3 "
                        "-filter_complex overlay=0:60 -c:v libx264 -preset ultrafast "
                        "-pix_fmt yuv420p");
}

// Black and white lines in turn, kept exactly (lossless).
std::string LinesFixture() {
  return fixtures::Make("player_lines.mkv",
                        "-f lavfi -i color=c=black:size=160x120:rate=25:duration=3 "
                        "-vf geq=lum='255*mod(Y\\,2)':cb=128:cr=128 -c:v ffv1 -pix_fmt yuv420p");
}

// Eight seconds with a key frame every second.
std::string SparseKeysFixture() {
  return fixtures::Make(
      "player_8s_gop25.mp4",
      "-f lavfi -i testsrc=size=320x240:rate=25:duration=8 "
      "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=8 "
      "-c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a aac -b:a 96k -shortest");
}

bool IsRed(const TPixel& pixel) { return pixel.Red > 200 && pixel.Green < 60 && pixel.Blue < 60; }
bool IsBlue(const TPixel& pixel) { return pixel.Blue > 200 && pixel.Red < 60 && pixel.Green < 60; }

class VideoDisplay : public ::testing::Test {
 protected:
  void SetUp() override { LoadPlayer(Player); }
  void TearDown() override { Player.Stop(true); }

  void OpenAndShow(const std::string& file, size_t pictures = 5) {
    const size_t before = Player.ShownCount();
    ASSERT_TRUE(Player.Open(file, 0)) << Player.LastErrMsg();
    ASSERT_TRUE(PumpUntil([&] { return Player.ShownCount() >= before + pictures; }, 10000));
  }

  TMeasuringPlayer Player;
  TRecorder Recorder{Player};
};

TEST_F(VideoDisplay, CurrentFrameIsThePictureOnShowAtItsSize) {
  EXPECT_EQ(Player.CurrentFrame().Width(), 0);
  OpenAndShow(RedFixture());
  const TBitmap frame = Player.CurrentFrame();
  ASSERT_EQ(frame.Width(), 176);
  ASSERT_EQ(frame.Height(), 144);
  for (const auto& [x, y] : {std::pair{0, 0}, {88, 72}, {175, 143}})
    EXPECT_TRUE(IsRed(PixelAt(frame, x, y))) << x << "," << y;
  Player.Stop(true);
  EXPECT_EQ(Player.CurrentFrame().Width(), 0);
  EXPECT_EQ(Player.CurrentFrame().Height(), 0);
}

// A recording joined from pieces of two sizes: the filters are made again for the new pictures.
TEST_F(VideoDisplay, APictureSizeChangeIsFollowed) {
  ASSERT_TRUE(Player.Open(fixtures::SizeChangingClip("1280x720", "1920x1080"), 0))
      << Player.LastErrMsg();
  EXPECT_TRUE(PumpUntil([&] { return Player.CurrentFrame().Width() == 1920; }, 20000));
  EXPECT_EQ(Player.CurrentFrame().Height(), 1080);
}

TEST_F(VideoDisplay, FilterChainSetsThePictureSize) {
  Player.Settings.VideoFilters = "scale=88:72";
  OpenAndShow(RedFixture());
  const TBitmap frame = Player.CurrentFrame();
  EXPECT_EQ(frame.Width(), 88);
  EXPECT_EQ(frame.Height(), 72);
  EXPECT_TRUE(IsRed(PixelAt(frame, 44, 36)));
}

TEST_F(VideoDisplay, FilterChainThatCannotBeSetUpLeavesNothingToShow) {
  Player.Settings.VideoFilters = "nosuchfilter=1";
  const std::string file = fixtures::Path(Media::VideoOnly);
  EXPECT_FALSE(Player.Open(file, 0));
  EXPECT_EQ(Player.LastErrMsg(), file + ": could not open codecs, no stream to play.");
}

TEST_F(VideoDisplay, VerticalFlipTurnsThePictureUpsideDown) {
  OpenAndShow(HalvesFixture());
  TBitmap frame = Player.CurrentFrame();
  EXPECT_TRUE(IsRed(PixelAt(frame, 80, 10)));
  EXPECT_TRUE(IsBlue(PixelAt(frame, 80, 110)));
  Player.Stop(true);
  Player.SetVerticalFlip(true);
  OpenAndShow(HalvesFixture());
  frame = Player.CurrentFrame();
  EXPECT_TRUE(IsBlue(PixelAt(frame, 80, 10)));
  EXPECT_TRUE(IsRed(PixelAt(frame, 80, 110)));
  Player.Stop(true);
  EXPECT_FALSE(Player.VerticalFlip());
}

TEST_F(VideoDisplay, APhoneVideoIsShownUpright) {
  struct TCase {
    int Rotate;      // the clip's "rotate" tag
    int Width;       // as shown
    int RedX, RedY;  // where the stored top-left corner is shown
  };
  for (const TCase& c : {TCase{90, 128, 4, 67}, TCase{180, 72, 67, 123}, TCase{270, 128, 123, 4}}) {
    SCOPED_TRACE(c.Rotate);
    OpenAndShow(fixtures::RotatedCornerClip(c.Rotate));
    const TBitmap frame = Player.CurrentFrame();
    const int height = c.Width == 72 ? 128 : 72;
    ASSERT_EQ(frame.Width(), c.Width);
    ASSERT_EQ(frame.Height(), height);
    EXPECT_TRUE(IsRed(PixelAt(frame, c.RedX, c.RedY)));
    EXPECT_TRUE(IsBlue(PixelAt(frame, c.Width - 1 - c.RedX, height - 1 - c.RedY)));
    Player.Stop(true);
  }
}

TEST_F(VideoDisplay, DeinterlacingBlendsTheLines) {
  OpenAndShow(LinesFixture());
  TBitmap frame = Player.CurrentFrame();
  EXPECT_GT(std::abs(Luma(PixelAt(frame, 80, 50)) - Luma(PixelAt(frame, 80, 51))), 200);
  Player.Stop(true);
  Player.Deinterlace = true;
  OpenAndShow(LinesFixture());
  frame = Player.CurrentFrame();
  EXPECT_LT(std::abs(Luma(PixelAt(frame, 80, 50)) - Luma(PixelAt(frame, 80, 51))), 40);
  EXPECT_TRUE(Player.Deinterlace);
}

TEST_F(VideoDisplay, FrameHookSeesEveryShownPicture) {
  std::mutex lock;
  std::set<int64_t> hooked;
  int width = 0, height = 0;
  AVPixelFormat format = AV_PIX_FMT_NONE;
  Player.FrameHook = true;
  Player.OnFrameHook = [&](void*, TAVPicture*, AVPixelFormat pixFmt, int w, int h, int64_t pts) {
    const std::lock_guard<std::mutex> guard(lock);
    hooked.insert(pts);
    width = w;
    height = h;
    format = pixFmt;
  };
  ASSERT_TRUE(Player.Open(fixtures::Path(Media::Mp4H264Aac), 0)) << Player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([this] { return Recorder.CountOf(psEnd) > 0; }, 15000));
  Player.Stop(true);
  const auto shown = Player.Shown();
  ASSERT_GE(shown.size(), 50u);
  const std::lock_guard<std::mutex> guard(lock);
  for (const auto& picture : shown)
    EXPECT_TRUE(hooked.count(std::llround(picture.Pts * 1e6))) << picture.Pts;
  EXPECT_EQ(width, 320);
  EXPECT_EQ(height, 240);
  EXPECT_EQ(format, AV_PIX_FMT_YUV420P);
}

TEST_F(VideoDisplay, VideoHookDrawsOnThePicture) {
  Player.VideoHook = true;
  Player.OnVideoHook = [](void*, TBitmap* bitmap, int64_t, bool& update) {
    // Green over the left half; the right half stays as decoded.
    for (int y = 0; y < bitmap->Height(); ++y)
      for (int x = 0; x < bitmap->Width() / 2; ++x) {
        uint8_t* pixel = bitmap->ScanLine(y) + x * (bitmap->BitsPixel() / 8);
        pixel[0] = 0;
        pixel[1] = 255;
        pixel[2] = 0;
      }
    update = true;
  };
  OpenAndShow(RedFixture());
  const TBitmap frame = Player.CurrentFrame();
  const TPixel left = PixelAt(frame, 20, 72);
  EXPECT_GT(left.Green, 200);
  EXPECT_LT(left.Red, 60);
  EXPECT_TRUE(IsRed(PixelAt(frame, 150, 72)));
}

// An HD picture coded in BT.709's matrix shows in its own colours whoever changes the matrix:
// the screen's scaler where the decoded picture is drawn as it is, the filter graph where a hook
// draws on it (the hooks take BT.601's, as SDL's overlays do). Read in the wrong matrix, a bar of
// full strength is off by 10 to 23 levels.
TEST_F(VideoDisplay, AnHDPictureShowsInItsOwnMatrixWithAndWithoutHooks) {
  const std::string clip = fixtures::ColourBarsClip(
      1280, 720, "bt709", "tv", "-colorspace bt709 -color_primaries bt709 -color_trc bt709");
  const TPixel bars[] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                         {255, 0, 255},   {0, 0, 255},   {255, 0, 0},   {0, 0, 0}};
  const auto expectBars = [&](const TBitmap& picture, const std::string& where) {
    ASSERT_EQ(picture.Width(), 1280) << where;
    for (int bar = 0; bar < 8; ++bar) {
      const TPixel pixel = PixelAt(picture, (2 * bar + 1) * 1280 / 16, 720 / 4);
      EXPECT_NEAR(pixel.Blue, bars[bar].Blue, 4) << where << ", bar " << bar;
      EXPECT_NEAR(pixel.Green, bars[bar].Green, 4) << where << ", bar " << bar;
      EXPECT_NEAR(pixel.Red, bars[bar].Red, 4) << where << ", bar " << bar;
    }
  };
  OpenAndShow(clip, 3);
  expectBars(Player.CurrentFrame(), "shown");
  Player.Stop(true);
  TBitmap hooked;
  std::mutex lock;
  Player.VideoHook = true;
  Player.OnVideoHook = [&](void*, TBitmap* bitmap, int64_t, bool& update) {
    const std::lock_guard<std::mutex> guard(lock);
    hooked = *bitmap;
    update = false;
  };
  OpenAndShow(clip, 3);
  expectBars(Player.CurrentFrame(), "shown with a hook");
  Player.Stop(true);
  const std::lock_guard<std::mutex> guard(lock);
  expectBars(hooked, "hooked");
}

TEST_F(VideoDisplay, HookThatThrowsIsLoggedAndPlayGoesOn) {
  Player.VideoHook = true;
  Player.OnVideoHook = [](void*, TBitmap*, int64_t, bool&) { throw std::runtime_error("broken"); };
  OpenAndShow(RedFixture(), 20);
  EXPECT_TRUE(IsRed(PixelAt(Player.CurrentFrame(), 88, 72)));
}

// The first picture after the seek, among those shown from `from` on: the first whose time is
// past the pictures shown before the seek.
double FirstPictureAfterSeek(const std::vector<TMeasuringPlayer::TShown>& shown, size_t from) {
  for (size_t n = from; n < shown.size(); ++n)
    if (shown[n].Pts >= 1.9) return shown[n].Pts;
  return -1;
}

TEST_F(VideoDisplay, SeekDisplayShowsThePictureAtTheTarget) {
  ASSERT_TRUE(Player.Open(SparseKeysFixture(), 0)) << Player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([this] { return Recorder.LastPosition() >= 200000; }, 10000));
  Player.SetSeekDisplay(true);
  size_t before = Player.ShownCount();
  Player.Seek(0, true, 2500000);
  PumpFor(400);
  EXPECT_TRUE(Player.SeekReached());
  const double first = FirstPictureAfterSeek(Player.Shown(), before);
  EXPECT_GE(first, 2.5 - 1e-6);
  EXPECT_LT(first, 2.5 + 0.041);
  // Without it the play goes on from the key frame before the target.
  Player.SetSeekDisplay(false);
  Player.Seek(0, true, 500000);
  PumpFor(300);
  before = Player.ShownCount();
  Player.Seek(0, true, 2500000);
  PumpFor(400);
  const double keyFrame = FirstPictureAfterSeek(Player.Shown(), before);
  EXPECT_NEAR(keyFrame, 2.0, 0.001);
}

TEST_F(VideoDisplay, SeekDisplayToTheEndShowsTheLastPicture) {
  ASSERT_TRUE(Player.Open(SparseKeysFixture(), 0)) << Player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([this] { return Recorder.LastPosition() >= 200000; }, 10000));
  Player.SetSeekDisplay(true);
  Player.Seek(0, true, 60000000);
  ASSERT_TRUE(PumpUntil([this] { return Player.SeekReached(); }, 5000));
  PumpFor(300);
  EXPECT_NEAR(Player.Shown().back().Pts, 8.0 - 0.04, 0.001);
}

// Paused, a seek with SeekDisplay decodes on to its target, shows that picture and reports
// its time, and the play stays paused: forwards and backwards, far from the one key frame (or
// between a DVD's key frames, where the seek may not land on the one after the target), and
// back to the first picture, whose time 0 is a time like any other.
TEST_F(VideoDisplay, SeekDisplayWhilePausedShowsTheTargetAndHolds) {
  const struct {
    std::string File;
    int64_t Picture;  // µs from one picture to the next
    std::vector<int64_t> Targets;
  } clips[] = {
      {fixtures::GreyRampClip(), fixtures::GreyRampPicture, {4500000, 1000000, 7000000, 0}},
      {fixtures::DvdGreyRampClip(), fixtures::DvdGreyRampPicture, {2080000, 1000000, 3400000, 0}},
      // A camera's MPEG-TS: the demuxer lands on any packet, not on the key picture before it,
      // and its sound starts after its first key picture's decoding time.
      {fixtures::Make("grey_ramp_ts_keys_2s_6s_b.ts",
                      "-f lavfi -i color=c=black:size=160x120:rate=25:duration=6,"
                      "geq=lum='if(lt(X\\,32)\\,random(1)*255\\,16+2*N)':cb=128:cr=128 "
                      "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=6 -c:v libx264 "
                      "-preset veryfast -qp 1 -g 50 -x264-params bframes=2:b-adapt=0 "
                      "-sc_threshold 0 -pix_fmt yuv420p -c:a aac -ar 96000 -shortest"),
       fixtures::DvdGreyRampPicture,
       {3400000, 520000, 4200000, 0}}};
  for (const auto& clip : clips) {
    SCOPED_TRACE(clip.File);
    ASSERT_TRUE(Player.Open(clip.File, 0)) << Player.LastErrMsg();
    ASSERT_TRUE(PumpUntil([this] { return Recorder.LastPosition() >= 200000; }, 10000));
    Player.Pause();
    Player.SetSeekDisplay(true);
    for (const int64_t target : clip.Targets) {
      SCOPED_TRACE(target);
      Player.Seek(0, true, target);
      ASSERT_TRUE(
          PumpUntil([&] { return std::llabs(Recorder.LastPosition() - target) < 20000; }, 5000))
          << Recorder.LastPosition();
      EXPECT_TRUE(Player.SeekReached());
      const int grey = Luma(PixelAt(Player.CurrentFrame(), 80, 60));
      EXPECT_EQ(fixtures::GreyRampTime(grey) / fixtures::GreyRampPicture * clip.Picture, target);
      const size_t shown = Player.ShownCount();
      PumpFor(300);
      EXPECT_EQ(Player.ShownCount(), shown);
      EXPECT_EQ(Player.PlayState(), psPause);
    }
    Player.Stop(true);
  }
}

// Near the end the reader has met the end of the file before the seek's picture is decoded:
// a waiting seek still returns only once its own picture is on show.
TEST_F(VideoDisplay, WaitingSeeksNearTheEndReturnWithTheirPicture) {
  ASSERT_TRUE(Player.Open(fixtures::GreyRampClip(), 0)) << Player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([this] { return Recorder.LastPosition() >= 200000; }, 10000));
  Player.Pause();
  Player.SetSeekDisplay(true);
  for (int n = 0; n < 30; ++n) {
    const int64_t target = 7800000 + n % 2 * fixtures::GreyRampPicture;
    Player.Seek(0, true, target);
    EXPECT_TRUE(Player.SeekReached()) << n;
    EXPECT_EQ(fixtures::GreyRampTime(Luma(PixelAt(Player.CurrentFrame(), 80, 60))), target) << n;
  }
}

TEST_F(VideoDisplay, StartPausedShowsAPictureAndHolds) {
  ASSERT_TRUE(Player.Open(fixtures::Path(Media::Mp4H264Aac), 0, true)) << Player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([this] { return Recorder.CountOf(psPause) == 1; }, 5000));
  PumpFor(300);
  const size_t shown = Player.ShownCount();
  EXPECT_GE(shown, 1u);
  PumpFor(1000);
  EXPECT_EQ(Player.ShownCount(), shown);
  EXPECT_EQ(Player.CurrentFrame().Width(), 320);
}

TEST_F(VideoDisplay, StepShowsTheNextPictureAndPauses) {
  ASSERT_TRUE(Player.Open(fixtures::Path(Media::VideoOnly), 0, true)) << Player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([this] { return Recorder.CountOf(psPause) == 1; }, 5000));
  PumpFor(300);
  for (int step = 0; step < 3; ++step) {
    const auto before = Player.Shown();
    Player.Step();
    ASSERT_TRUE(PumpUntil([&] { return Player.ShownCount() > before.size(); }, 3000));
    PumpFor(400);
    const auto after = Player.Shown();
    EXPECT_GT(after.back().Pts, before.back().Pts);
    // Held again: no more than the pictures that were already queued.
    EXPECT_LE(after.size(), before.size() + 3);
    PumpFor(300);
    EXPECT_EQ(Player.ShownCount(), after.size());
  }
  EXPECT_EQ(Recorder.CountOf(psPause), 1);
  EXPECT_EQ(Player.PlayState(), psPause);
}

}  // namespace

namespace {

TEST_F(VideoDisplay, StartTimeAndEndPositionBoundThePlay) {
  Player.SetStartTime(3000000);
  Player.SetEndPosition(1000000, eaStop);
  ASSERT_TRUE(Player.Open(SparseKeysFixture(), 0)) << Player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([this] { return Recorder.CountOf(psStop) > 0; }, 10000));
  const auto positions = Recorder.Positions();
  ASSERT_FALSE(positions.empty());
  ASSERT_GE(Player.ShownCount(), 1u);
  EXPECT_GE(Player.Shown().front().Pts, 2.9);
  EXPECT_GE(positions.back().Position, 4000000);
  EXPECT_LT(positions.back().Position, 4300000);
  // Forgotten with the file.
  EXPECT_EQ(Player.StartTime(), AV_NOPTS_VALUE);
  EXPECT_EQ(Player.EndPosition(), AV_NOPTS_VALUE);
}

TEST_F(VideoDisplay, EndPositionCanStartOver) {
  Player.SetEndPosition(1000000, eaSeekToStart);
  ASSERT_TRUE(Player.Open(SparseKeysFixture(), 0)) << Player.LastErrMsg();
  ASSERT_TRUE(PumpUntil(
      [this] {
        const auto positions = Recorder.Positions();
        for (size_t n = 1; n < positions.size(); ++n)
          if (positions[n].Position < positions[n - 1].Position - 500000) return true;
        return false;
      },
      10000));
  EXPECT_LT(Recorder.LastPosition(), 1300000);
  EXPECT_EQ(Recorder.CountOf(psStop), 0);
}

TEST_F(VideoDisplay, GenericOptionsAreCheckedWhenGiven) {
  EXPECT_FALSE(Player.SetOption("nosuchoption", "1"));
  EXPECT_EQ(Player.LastErrMsg(), "Unrecognized option \"nosuchoption\"");
  EXPECT_TRUE(Player.SetOption("probesize", "65536"));
  OpenAndShow(RedFixture());
}

}  // namespace
