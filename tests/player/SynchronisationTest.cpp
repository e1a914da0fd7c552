// Pictures in step with the sound, measured at each picture the display shows: against the
// sound's clock at real speed, and with a device that plays slower than real time. The limits
// hold on a machine whose every processor is busy (tests/player/under_load.sh); the precise
// drift figures are the player benchmark's (bench/player/sync_bench.py).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "MediaFixtures.h"
#include "PlayerTestSupport.h"

using namespace playertest;

namespace {

// Five seconds of pictures and a tone.
std::string ClipFixture() {
  return fixtures::Make(
      "player_sync_5s.mp4",
      "-f lavfi -i testsrc=size=320x240:rate=25:duration=5 "
      "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=5 "
      "-c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a aac -b:a 96k -shortest");
}

// |picture time - sound clock| of the pictures shown after the first second.
std::vector<double> Differences(const std::vector<TMeasuringPlayer::TShown>& shown) {
  std::vector<double> differences;
  if (shown.empty()) return differences;
  for (const auto& picture : shown)
    if (picture.WallSeconds >= shown.front().WallSeconds + 1.0)
      differences.push_back(std::fabs(picture.Pts - picture.AudioClock));
  return differences;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Seconds of picture time per second of the wall clock: the median of the paces between pictures
// at least a second apart, which a picture or two shown late on a busy machine cannot move.
double PicturePace(const std::vector<TMeasuringPlayer::TShown>& shown) {
  std::vector<double> paces;
  for (size_t i = 0; i < shown.size(); ++i)
    for (size_t j = i + 1; j < shown.size(); ++j)
      if (shown[j].WallSeconds - shown[i].WallSeconds >= 1.0)
        paces.push_back((shown[j].Pts - shown[i].Pts) /
                        (shown[j].WallSeconds - shown[i].WallSeconds));
  return paces.empty() ? 0 : Median(paces);
}

class Synchronisation : public ::testing::Test {
 protected:
  void SetUp() override { LoadPlayer(Player); }
  void TearDown() override { Player.Stop(true); }

  void PlayToTheEnd() {
    ASSERT_TRUE(Player.Open(ClipFixture(), 0)) << Player.LastErrMsg();
    ASSERT_TRUE(PumpUntil([this] { return Recorder.CountOf(psEnd) > 0; }, 20000));
  }

  // Pictures come in their order, and the sound's clock is never far from the picture on
  // show: `limit` is the median distance allowed.
  void ExpectPicturesFollowTheSound(double limit) {
    const auto shown = Player.Shown();
    for (size_t n = 1; n < shown.size(); ++n)
      ASSERT_GT(shown[n].Pts, shown[n - 1].Pts) << "picture " << n;
    const std::vector<double> differences = Differences(shown);
    ASSERT_GE(differences.size(), 30u);
    EXPECT_LT(Median(differences), limit);
  }

  TMeasuringPlayer Player;
  TRecorder Recorder{Player};
};

TEST_F(Synchronisation, PicturesAreShownAtTheSoundsTime) {
  PlayToTheEnd();
  ExpectPicturesFollowTheSound(0.1);
}

TEST_F(Synchronisation, PicturesFollowSoundPlayedSlowerThanRealTime) {
  // The disk driver waits this long per buffer of 1024 samples (23.2 ms of sound): the device
  // takes the sound at 0.77 of real time, or slower on a busy machine.
  Player.AudioDriver = adDisk;
  ::setenv("SDL_DISKAUDIOFILE", (fixtures::TempDir("player_slow_sound") + "/sound.raw").c_str(), 1);
  ::setenv("SDL_DISKAUDIODELAY", "30", 1);
  PlayToTheEnd();
  // The position keeps the sound's pace, well below the wall clock's.
  const double pace = PositionPace(Recorder.Positions(), 1000000, 4700000);
  EXPECT_GT(pace, 0.4);
  EXPECT_LT(pace, 0.9);
  ExpectPicturesFollowTheSound(0.1);
}

TEST_F(Synchronisation, ExternalClockPacesBothSides) {
  Player.SyncSource = ssExternal;
  // A device that keeps what it takes in a file, at about real time's pace: the file's growth
  // tells how fast the device really took the sound, which on a busy machine is slower.
  Player.AudioDriver = adDisk;
  const std::string soundFile = fixtures::TempDir("player_external_clock") + "/sound.raw";
  ::setenv("SDL_DISKAUDIOFILE", soundFile.c_str(), 1);
  ::setenv("SDL_DISKAUDIODELAY", "23", 1);
  std::atomic<int> bytesPerSecond{0};
  Player.AudioHook = true;
  Player.OnAudioHook = [&](void*, int64_t, uint8_t*, int, int sampleRate, int channels) {
    bytesPerSecond = sampleRate * channels * 2;
  };
  struct TTaken {
    double At;  // as the pictures' WallSeconds
    uintmax_t Bytes;
  };
  std::vector<TTaken> taken;
  ASSERT_TRUE(Player.Open(ClipFixture(), 0)) << Player.LastErrMsg();
  ASSERT_TRUE(PumpUntil(
      [&] {
        std::error_code error;
        const uintmax_t bytes = std::filesystem::file_size(soundFile, error);
        if (!error && bytes > 0) taken.push_back({Player.Elapsed(), bytes});
        return Recorder.CountOf(psEnd) > 0;
      },
      20000));
  const auto shown = Player.Shown();
  ASSERT_GE(shown.size(), 60u);
  // The pictures keep the wall clock's pace.
  EXPECT_NEAR(PicturePace(shown), 1.0, 0.1);
  // Seconds of sound the device had taken by a time: no more than the file held when last looked
  // at before it.
  ASSERT_GT(bytesPerSecond, 0);
  const auto takenBy = [&](double at) {
    uintmax_t bytes = 0;
    for (const TTaken& sample : taken)
      if (sample.At <= at) bytes = sample.Bytes;
    return double(bytes) / bytesPerSecond;
  };
  // The sound follows that clock too, shortened by up to a tenth where the device falls behind:
  // only what the device has not taken by then, less that tenth, may leave it trailing (a device
  // slowed or started late by a busy machine). Beyond that, the sound stays within what a viewer
  // does not notice of the picture on show.
  const auto& first = shown.front();
  std::vector<double> unexplained;
  for (const auto& picture : shown) {
    const double elapsed = picture.WallSeconds - first.WallSeconds;
    const double trail =
        std::max(0.0, elapsed - 1.1 * (takenBy(picture.WallSeconds) - takenBy(first.WallSeconds)));
    if (elapsed >= 1.0) unexplained.push_back(std::fabs(picture.Pts - picture.AudioClock) - trail);
  }
  ASSERT_GE(unexplained.size(), 30u);
  EXPECT_LT(Median(unexplained), 0.15);
}

}  // namespace
