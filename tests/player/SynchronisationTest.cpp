// Pictures in step with the sound, measured at each picture the display shows: against the
// sound's clock at real speed, and with a device that plays slower than real time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

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

class Synchronisation : public ::testing::Test {
 protected:
  void SetUp() override { LoadPlayer(Player); }
  void TearDown() override { Player.Stop(true); }

  void PlayToTheEnd() {
    ASSERT_TRUE(Player.Open(ClipFixture(), 0)) << Player.LastErrMsg();
    ASSERT_TRUE(PumpUntil([this] { return Recorder.CountOf(psEnd) > 0; }, 20000));
  }

  void ExpectPicturesFollowTheSound() {
    const std::vector<double> differences = Differences(Player.Shown());
    ASSERT_GE(differences.size(), 40u);
    const double median = Median(differences);
    const double largest = *std::max_element(differences.begin(), differences.end());
    RecordProperty("median_ms", std::to_string(median * 1000));
    RecordProperty("largest_ms", std::to_string(largest * 1000));
    EXPECT_LT(median, 0.040);
    EXPECT_LT(largest, 0.120);
  }

  TMeasuringPlayer Player;
  TRecorder Recorder{Player};
};

TEST_F(Synchronisation, PicturesAreShownAtTheSoundsTime) {
  PlayToTheEnd();
  ExpectPicturesFollowTheSound();
}

TEST_F(Synchronisation, PicturesFollowSoundPlayedSlowerThanRealTime) {
  // The disk driver waits this long per buffer of 1024 samples (23.2 ms of sound): the device
  // takes the sound at 0.77 of real time.
  Player.AudioDriver = adDisk;
  ::setenv("SDL_DISKAUDIOFILE", (fixtures::TempDir("player_slow_sound") + "/sound.raw").c_str(), 1);
  ::setenv("SDL_DISKAUDIODELAY", "30", 1);
  PlayToTheEnd();
  const auto positions = Recorder.Positions();
  const TPositionReport* early = nullptr;
  const TPositionReport* late = nullptr;
  for (const auto& report : positions) {
    if (!early && report.Position >= 1000000) early = &report;
    if (report.Position <= 4700000) late = &report;
  }
  ASSERT_TRUE(early && late && late > early);
  const double rate =
      (late->Position - early->Position) / 1e6 / (late->WallSeconds - early->WallSeconds);
  RecordProperty("rate", std::to_string(rate));
  EXPECT_NEAR(rate, 0.77, 0.08);
  ExpectPicturesFollowTheSound();
}

TEST_F(Synchronisation, ExternalClockPacesBothSides) {
  Player.SyncSource = ssExternal;
  PlayToTheEnd();
  const auto shown = Player.Shown();
  ASSERT_GE(shown.size(), 60u);
  // The pictures keep the wall clock's pace from the first on.
  const auto& first = shown.front();
  const auto& last = shown.back();
  EXPECT_NEAR((last.Pts - first.Pts) / (last.WallSeconds - first.WallSeconds), 1.0, 0.05);
  ExpectPicturesFollowTheSound();
}

}  // namespace
