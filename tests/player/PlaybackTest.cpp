// Playing real files with SDL's dummy drivers: positions, states, pause, seek, stop and the
// failures of Open, as a program sees them through the player's events.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "FFLog.h"
#include "MediaFixtures.h"
#include "PlayerTestSupport.h"

using namespace playertest;
using fixtures::Media;

namespace {

// Eight seconds with a key frame every second, so that a seek lands where it was asked.
std::string LongFixture() {
  return fixtures::Make(
      "player_8s_gop25.mp4",
      "-f lavfi -i testsrc=size=320x240:rate=25:duration=8 "
      "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=8 "
      "-c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a aac -b:a 96k -shortest");
}

class Playback : public ::testing::Test {
 protected:
  void SetUp() override { LoadPlayer(Player); }
  void TearDown() override { Player.Stop(true); }

  bool OpenAndWaitForEnd(const std::string& file, int timeoutMs) {
    if (!Player.Open(file, 0)) return false;
    return PumpUntil([this] { return Recorder.CountOf(psEnd) > 0; }, timeoutMs);
  }

  TFFPlayer Player;
  TRecorder Recorder{Player};
};

TEST_F(Playback, PositionsFollowTheWallClockAndEndAtTheDuration) {
  const std::string file = fixtures::Path(Media::Mp4H264Aac);
  const ProbeResult probe = ProbeMedia(file, false);
  ASSERT_TRUE(probe.ok);
  const auto duration = int64_t(probe.duration * 1000000);
  ASSERT_TRUE(OpenAndWaitForEnd(file, 15000)) << Player.LastErrMsg();
  PumpFor(300);
  const auto positions = Recorder.Positions();
  ASSERT_GE(positions.size(), 20u);
  for (size_t n = 1; n < positions.size(); ++n)
    EXPECT_GE(positions[n].Position, positions[n - 1].Position) << "at report " << n;
  // From the first report well into the play to the last before the end, the position moves
  // with the wall clock: a little slower when a busy machine holds the sound back, never
  // faster, never still (the precise pace is the player benchmark's).
  const double rate = PositionPace(positions, 300000, duration - 300000);
  EXPECT_GT(rate, 0.5);
  EXPECT_LT(rate, 1.15);
  EXPECT_EQ(Recorder.LastPosition(), duration);
  EXPECT_EQ(Player.Position(), duration);
}

// Sound without pictures is shown as its spectrum, drawn all the way to the end.
TEST_F(Playback, SoundOnlyFilesEndOnceAtTheirDuration) {
  const std::string wav = fixtures::Make(
      "tone_4s.wav", "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=4 -ac 2 "
                     "-c:a pcm_s16le");
  for (const std::string& file : {fixtures::Path(Media::Mp3AudioOnly), wav}) {
    SCOPED_TRACE(file);
    const ProbeResult probe = ProbeMedia(file, false);
    const int ends = Recorder.CountOf(psEnd);
    ASSERT_TRUE(Player.Open(file, 0)) << Player.LastErrMsg();
    ASSERT_TRUE(PumpUntil([&] { return Recorder.CountOf(psEnd) > ends; }, 15000));
    PumpFor(500);
    EXPECT_NEAR(Recorder.LastPosition() / 1e6, probe.duration, 0.05);
    EXPECT_EQ(Recorder.CountOf(psEnd), ends + 1);
    Player.Stop(true);
  }
}

TEST_F(Playback, StateSequenceOfAWholePlay) {
  ASSERT_TRUE(Player.Open(fixtures::Path(Media::Mp4H264Aac), 0)) << Player.LastErrMsg();
  PumpFor(700);
  Player.Pause();
  PumpFor(300);
  Player.Resume();
  ASSERT_TRUE(PumpUntil([this] { return Recorder.CountOf(psEnd) > 0; }, 15000));
  PumpFor(500);
  Player.Stop(true);
  PumpFor(300);
  EXPECT_EQ(Recorder.States(), (std::vector<TPlayState>{psPlay, psPause, psResume, psEnd, psStop}));
  EXPECT_EQ(Player.PlayState(), psStop);
}

TEST_F(Playback, PauseHoldsThePositionAndResumeGoesOn) {
  ASSERT_TRUE(Player.Open(fixtures::Path(Media::Mp4H264Aac), 0)) << Player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([this] { return Recorder.LastPosition() >= 800000; }, 10000));
  Player.Pause();
  // The pictures already queued may still be shown.
  PumpFor(400);
  const int64_t held = Recorder.LastPosition();
  const size_t reports = Recorder.Positions().size();
  PumpFor(800);
  EXPECT_EQ(Recorder.LastPosition(), held);
  EXPECT_LE(Recorder.Positions().size(), reports + 1);
  Player.Resume();
  ASSERT_TRUE(PumpUntil([&] { return Recorder.LastPosition() >= held + 500000; }, 5000));
  EXPECT_EQ(Recorder.CountOf(psEnd), 0);
}

TEST_F(Playback, SeekReportsThePositionAsked) {
  ASSERT_TRUE(Player.Open(LongFixture(), 0)) << Player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([this] { return Recorder.LastPosition() >= 300000; }, 10000));
  Player.Seek(0, true, 3000000);
  EXPECT_FALSE(Player.Seeking());
  PumpFor(300);
  const int64_t position = Recorder.LastPosition();
  EXPECT_GE(position, 2900000);
  EXPECT_LE(position, 3600000);
}

// Without pictures there is none to wait for: the target counts as reached once the seek is
// done, so that a program that waits for it hears of positions again.
TEST_F(Playback, SeekDisplayOnASoundOnlyFileReachesItsTarget) {
  ASSERT_TRUE(Player.Open(fixtures::Path(Media::Mp3AudioOnly), 0)) << Player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([this] { return Recorder.LastPosition() >= 200000; }, 10000));
  Player.SetSeekDisplay(true);
  Player.Seek(0, true, 2000000);
  EXPECT_TRUE(PumpUntil([this] { return Player.SeekReached(); }, 3000));
  EXPECT_TRUE(PumpUntil([this] { return Recorder.LastPosition() >= 2000000; }, 3000));
}

TEST_F(Playback, EndIsReportedOnceAndAgainAfterASeek) {
  const std::string file = fixtures::Path(Media::Mp4H264Aac);
  ASSERT_TRUE(OpenAndWaitForEnd(file, 15000)) << Player.LastErrMsg();
  PumpFor(800);
  EXPECT_EQ(Recorder.CountOf(psEnd), 1);
  Player.Seek(0, true, 2000000);
  ASSERT_TRUE(PumpUntil([this] { return Recorder.CountOf(psEnd) == 2; }, 10000));
  PumpFor(500);
  EXPECT_EQ(Recorder.CountOf(psEnd), 2);
}

TEST_F(Playback, SeekBeyondTheDurationGoesToTheEnd) {
  ASSERT_TRUE(Player.Open(fixtures::Path(Media::Mp3AudioOnly), 0)) << Player.LastErrMsg();
  PumpFor(300);
  Player.Seek(0, true, 60000000);
  ASSERT_TRUE(PumpUntil([this] { return Recorder.CountOf(psEnd) > 0; }, 5000));
}

TEST_F(Playback, StopTwiceAndReopen) {
  const std::string file = fixtures::Path(Media::AviMpeg4Mp3);
  ASSERT_TRUE(Player.Open(file, 0)) << Player.LastErrMsg();
  PumpFor(400);
  Player.Stop(false);
  Player.Stop(true);
  Player.Stop(true);
  PumpFor(200);
  EXPECT_EQ(Recorder.CountOf(psStop), 1);
  ASSERT_TRUE(Player.Open(file, 0)) << Player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([this] { return Recorder.CountOf(psPlay) == 2; }, 3000));
  Player.Stop(true);
  PumpFor(200);
  EXPECT_EQ(Recorder.CountOf(psStop), 2);
}

TEST_F(Playback, StopWhilePausedStops) {
  ASSERT_TRUE(Player.Open(fixtures::Path(Media::VideoOnly), 0)) << Player.LastErrMsg();
  PumpFor(300);
  Player.Pause();
  Player.Stop(true);
  PumpFor(200);
  EXPECT_EQ(Recorder.States().back(), psStop);
}

TEST_F(Playback, StartPausedShowsFirstPicturesThenReportsPause) {
  ASSERT_TRUE(Player.Open(fixtures::Path(Media::VideoOnly), 0, true)) << Player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([this] { return Recorder.CountOf(psPause) == 1; }, 5000));
  PumpFor(500);
  EXPECT_LE(Recorder.LastPosition(), 100000);
  Player.Resume();
  ASSERT_TRUE(PumpUntil([this] { return Recorder.LastPosition() >= 500000; }, 5000));
}

TEST_F(Playback, FileOpenReportsDurationAndFrameSize) {
  int64_t duration = 0;
  int width = 0, height = 0;
  Player.OnFileOpen = [&](void*, int64_t d, int w, int h, int& sw, int& sh) {
    duration = d;
    width = w;
    height = h;
    sw = 160;
    sh = 120;
  };
  const std::string file = fixtures::Path(Media::Mp4H264Aac);
  ASSERT_TRUE(Player.Open(file, 0)) << Player.LastErrMsg();
  const ProbeResult probe = ProbeMedia(file, false);
  EXPECT_NEAR(duration / 1e6, probe.duration, 0.001);
  EXPECT_EQ(width, 320);
  EXPECT_EQ(height, 240);
  EXPECT_EQ(Player.ScreenWidth(), 160);
  EXPECT_EQ(Player.ScreenHeight(), 120);
  // The playing file's information comes through the player's decoder.
  EXPECT_EQ(Player.Decoder().VideoStreamCount(), 1);
  EXPECT_EQ(Player.Decoder().AudioStreamCount(), 1);
}

TEST_F(Playback, CallerFrameSizeIsKept) {
  Player.SetFrameWidth(100);
  Player.SetFrameHeight(50);
  ASSERT_TRUE(Player.Open(fixtures::Path(Media::OddSize), 0)) << Player.LastErrMsg();
  PumpFor(500);
  EXPECT_EQ(Player.FrameWidth(), 100);
  EXPECT_EQ(Player.FrameHeight(), 50);
  EXPECT_THROW(Player.SetFrameWidth(321), FFmpegException);
  EXPECT_EQ(Player.FrameWidth(), 100);
}

TEST_F(Playback, MissingFileGivesTheOpeningError) {
  const std::string file = fixtures::TempDir("player_missing") + "/nicht da é.mp4";
  EXPECT_FALSE(Player.Open(file, 0));
  EXPECT_EQ(Player.LastErrMsg(), file + ": No such file or directory");
  EXPECT_EQ(Player.PlayState(), psStop);
}

TEST_F(Playback, FileWithoutPlayableStream) {
  const std::string dir = fixtures::TempDir("player_nostream");
  const std::string file = dir + "/subtitles.srt";
  std::ofstream(file) << "1\n00:00:00,000 --> 00:00:01,000\nHello\n\n";
  EXPECT_FALSE(Player.Open(file, 0));
  EXPECT_EQ(Player.LastErrMsg(), file + ": could not open codecs, no stream to play.");
}

TEST_F(Playback, DisabledVideoAndAudioLeaveNothingToPlay) {
  Player.DisableVideo = true;
  Player.DisableAudio = true;
  const std::string file = fixtures::Path(Media::Mp4H264Aac);
  EXPECT_FALSE(Player.Open(file, 0));
  EXPECT_EQ(Player.LastErrMsg(), file + ": could not open codecs, no stream to play.");
}

TEST_F(Playback, SilentServerTimesOut) {
  const TSilentServer server;
  const std::string url = server.Url();
  Player.Timeout = 1000;
  const auto start = Clock::now();
  EXPECT_FALSE(Player.Open(url, 0));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_EQ(Player.LastErrMsg(), url + ": Immediate exit requested");
  EXPECT_GE(seconds, 0.9);
  EXPECT_LT(seconds, 5.0);
}

TEST(PlayerLibraries, OpenWithoutSDL) {
  TFFPlayer player;
  ASSERT_TRUE(player.LoadAVLib(FENNICK_LIBAV_DIR, false)) << player.LastErrMsg();
  EXPECT_TRUE(player.AVLibLoaded());
  EXPECT_FALSE(player.Open(fixtures::Path(Media::Mp4H264Aac), 0));
  EXPECT_EQ(player.LastErrMsg(), "sdl not loaded.");
}

}  // namespace
