// What reaches the sound device, written to a file by SDL's disk driver: the volume scales the
// samples, mute and volume 0 give silence, a pause gives silence and the sound goes on after it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "MediaFixtures.h"
#include "PlayerTestSupport.h"

using namespace playertest;

namespace {

// Three seconds of a 440 Hz tone in uncompressed stereo, so that the samples reach the
// device exactly as stored.
std::string ToneFixture() {
  return fixtures::Make("player_tone_pcm.wav",
                        "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=3 -ac 2 "
                        "-c:a pcm_s16le");
}

class SoundOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadPlayer(Player);
    Player.AudioDriver = adDisk;
    Player.DisableVideo = true;
    Output = fixtures::TempDir("player_disk_audio") + "/sound.raw";
    ::setenv("SDL_DISKAUDIOFILE", Output.c_str(), 1);
    SetDevicePace(0);
  }
  void TearDown() override { Player.Stop(true); }
  // Milliseconds the disk driver waits per buffer of 1024 samples; 0 writes as fast as it can.
  static void SetDevicePace(int milliseconds) {
    ::setenv("SDL_DISKAUDIODELAY", std::to_string(milliseconds).c_str(), 1);
  }

  // Plays the tone to its end and returns what the device got.
  std::vector<int16_t> PlayTone() {
    const int ends = Recorder.CountOf(psEnd);
    EXPECT_TRUE(Player.Open(ToneFixture(), 0)) << Player.LastErrMsg();
    EXPECT_TRUE(PumpUntil([&] { return Recorder.CountOf(psEnd) > ends; }, 15000));
    Player.Stop(true);
    return ReadSamples(Output);
  }

  TFFPlayer Player;
  TRecorder Recorder{Player};
  std::string Output;
};

// The tone's samples as ffmpeg decodes them.
int SourcePeak() {
  const std::vector<int16_t> source = ReadSamples(fixtures::Make(
      "player_tone_pcm.raw", "-i " + fixtures::ShellQuote(ToneFixture()) + " -f s16le"));
  return PeakOf(source, 0, source.size());
}

TEST_F(SoundOutput, FullVolumePlaysTheSamplesUnchanged) {
  const std::vector<int16_t> samples = PlayTone();
  ASSERT_GE(samples.size(), size_t(2 * 44100 * 3));
  EXPECT_EQ(PeakOf(samples, 0, samples.size()), SourcePeak());
}

TEST_F(SoundOutput, VolumeHalfHalvesTheAmplitude) {
  Player.SetAudioVolume(64);
  const std::vector<int16_t> samples = PlayTone();
  ASSERT_GE(samples.size(), size_t(2 * 44100 * 3));
  EXPECT_NEAR(PeakOf(samples, 0, samples.size()), SourcePeak() / 2, 1);
}

TEST_F(SoundOutput, MuteAndVolumeZeroAreSilentWhileThePositionMoves) {
  for (const bool mute : {true, false}) {
    Player.SetMute(mute);
    Player.SetAudioVolume(mute ? 128 : 0);
    const std::vector<int16_t> samples = PlayTone();
    ASSERT_GE(samples.size(), size_t(2 * 44100 * 3)) << "mute " << mute;
    EXPECT_EQ(PeakOf(samples, 0, samples.size()), 0) << "mute " << mute;
    EXPECT_GE(Recorder.LastPosition(), 2900000) << "mute " << mute;
  }
}

TEST_F(SoundOutput, VolumeIsClampedToItsRange) {
  Player.SetAudioVolume(300);
  EXPECT_EQ(Player.AudioVolume(), 128);
  Player.SetAudioVolume(-5);
  EXPECT_EQ(Player.AudioVolume(), 0);
}

TEST_F(SoundOutput, PauseWritesSilenceAndResumeGoesOn) {
  SetDevicePace(23);  // about the time of 1024 samples at 44.1 kHz: real time
  ASSERT_TRUE(Player.Open(ToneFixture(), 0)) << Player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([this] { return Recorder.LastPosition() >= 1000000; }, 10000));
  Player.Pause();
  PumpFor(700);
  Player.Resume();
  ASSERT_TRUE(PumpUntil([this] { return Recorder.CountOf(psEnd) > 0; }, 10000));
  Player.Stop(true);
  const std::vector<int16_t> samples = ReadSamples(Output);
  // The longest run of silent frames between the first and the last sound.
  size_t first = 0, last = samples.size();
  while (first < samples.size() && samples[first] == 0) ++first;
  while (last > first && samples[last - 1] == 0) --last;
  size_t longest = 0, run = 0;
  for (size_t n = first; n + 1 < last; n += 2) {
    run = samples[n] == 0 && samples[n + 1] == 0 ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  // The pause wrote silence for a good part of its 0.7 s (on a busy machine the device takes
  // fewer buffers in that time).
  EXPECT_GE(longest, size_t(44100 * 0.15));
  // Every sample of the tone was played, before and after the pause.
  size_t sounding = 0;
  for (size_t n = first; n < last; n += 2) sounding += samples[n] != 0 ? 1 : 0;
  EXPECT_NEAR(double(sounding), 44100 * 3.0, 44100 * 0.05);
}

}  // namespace
