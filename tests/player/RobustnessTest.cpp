// The player as a user meets it at its roughest: quick open and stop, storms of seeks and
// pauses, the end arriving while paused, damaged files, a sound device that cannot start,
// the player destroyed while it plays, a cancelled opening and a path in other scripts.
// Nothing may hang or crash, and every failure reaches LastErrMsg with its text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <thread>

#include "FFBaseComponent.h"
#include "FFLog.h"
#include "MediaFixtures.h"
#include "PlayerTestSupport.h"
#include "RefusedThreadStarts.h"

using namespace playertest;
using fixtures::Media;

namespace {

class Robustness : public ::testing::Test {
 protected:
  void SetUp() override { LoadPlayer(Player); }
  void TearDown() override { Player.Stop(true); }

  bool WaitForEnd(int count, int timeoutMs) {
    return PumpUntil([&] { return Recorder.CountOf(psEnd) >= count; }, timeoutMs);
  }

  TFFPlayer Player;
  TRecorder Recorder{Player};
};

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST_F(Robustness, OpenAndStopInQuickSuccession) {
  const std::string files[] = {fixtures::Path(Media::Mp4H264Aac),
                               fixtures::Path(Media::Mp3AudioOnly),
                               fixtures::Path(Media::VideoOnly)};
  for (int round = 0; round < 9; ++round) {
    ASSERT_TRUE(Player.Open(files[round % 3], 0))
        << "round " << round << ": " << Player.LastErrMsg();
    if (round % 2) Player.Stop(false);
  }
  ASSERT_TRUE(PumpUntil([this] { return Recorder.CountOf(psPlay) == 9; }, 5000));
  Player.Stop(true);
  ASSERT_TRUE(PumpUntil([this] { return Recorder.CountOf(psStop) == 9; }, 5000));
  EXPECT_EQ(Player.PlayState(), psStop);
}

// A system out of threads (or of memory for one) refuses one of the threads an opening
// starts, each in turn: the Open fails with the reason, leaves nothing running, and the next
// Open plays. A refused thread of SDL's or of a stream's leaves that part out of the play.
TEST_F(Robustness, AThreadThatCannotStartFailsTheOpenWithItsReason) {
  const std::string file = fixtures::Path(Media::Mp4H264Aac);
  int refused = 0, plays = 0;
  for (int start = 1; start <= 8; ++start) {
    bool opened = false;
    {
      // The opening's own starts, not those of the threads it starts meanwhile (decoders').
      const TRefusedThreadStarts refuse(start - 1, 1, TRefusedThreadStarts::TFrom::ThisThread);
      opened = Player.Open(file, 0);
    }
    if (opened) {
      ++plays;
    } else {
      ++refused;
      EXPECT_EQ(Player.LastErrMsg(), "SDL_CreateThread() failed: Resource temporarily unavailable");
      EXPECT_EQ(Player.PlayState(), psStop);
    }
    ASSERT_TRUE(Player.Open(file, 0)) << "after start " << start << ": " << Player.LastErrMsg();
    ++plays;
    ASSERT_TRUE(PumpUntil([&] { return Recorder.CountOf(psPlay) == plays; }, 10000));
    Player.Stop(true);
  }
  // The event, read, refresh and play threads are the opening's own.
  EXPECT_GE(refused, 4);
  // Only the plays that started said so, and each said that it stopped.
  EXPECT_EQ(Recorder.CountOf(psPlay), plays);
  EXPECT_EQ(Recorder.CountOf(psStop), plays);
}

// The user stops while the opening waits for a server: a click handled while Open dispatches.
TEST_F(Robustness, StopWhileOpeningASlowServerCancelsTheOpening) {
  TSilentServer server;
  const auto start = Clock::now();
  std::thread user([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    RunInMainThread([this] { Player.Stop(true); });
  });
  const bool opened = Player.Open(server.Url(), 0);
  user.join();
  EXPECT_FALSE(opened);
  EXPECT_LT(SecondsSince(start), 5.0);
  EXPECT_EQ(Player.LastErrMsg(), server.Url() + ": Immediate exit requested");
  // The player is as good as new.
  ASSERT_TRUE(Player.Open(fixtures::Path(Media::Mp3AudioOnly), 0)) << Player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([this] { return Recorder.LastPosition() >= 200000; }, 5000));
}

// Stopping once the input is open but before its streams are known still cancels the opening,
// and no play is left running without an owner.
TEST_F(Robustness, StopWhileProbingCancelsTheOpening) {
  const std::string file = fixtures::Path(Media::Mp4H264Aac);
  Player.OnBeforeFindStreamInfo = [this](void*, AVFormatContext*) { Player.Stop(false); };
  EXPECT_FALSE(Player.Open(file, 0));
  EXPECT_EQ(Player.LastErrMsg(), file + ": Immediate exit requested");
  PumpFor(300);
  EXPECT_EQ(Recorder.CountOf(psPlay), 0);
  Player.OnBeforeFindStreamInfo = nullptr;
  ASSERT_TRUE(Player.Open(file, 0)) << Player.LastErrMsg();
  ASSERT_TRUE(WaitForEnd(1, 15000));
}

// Seeks asked faster than they are carried out: the latest wins. The last twenty come
// paused and all at once, as from a fast drag of the bar, and its picture is the one shown
// when the seek is reached; then the play runs on to the end.
TEST_F(Robustness, HundredSeeksInASecondThenPlayToTheEnd) {
  const std::string file = fixtures::GreyRampClip();
  ASSERT_TRUE(Player.Open(file, 0)) << Player.LastErrMsg();
  Player.SetSeekDisplay(true);
  std::mt19937 random(7);
  std::uniform_int_distribution<int64_t> picture(0, 79);
  int64_t target = 0;
  for (int n = 0; n < 100; ++n) {
    if (n == 80) Player.Pause();
    target = picture(random) * fixtures::GreyRampPicture;
    Player.Seek(0, false, target);
    if (n < 80) PumpFor(10);
  }
  ASSERT_TRUE(PumpUntil([this] { return !Player.Seeking() && Player.SeekReached(); }, 10000));
  EXPECT_EQ(fixtures::GreyRampTime(Luma(PixelAt(Player.CurrentFrame(), 80, 60))), target);
  Player.Resume();
  ASSERT_TRUE(WaitForEnd(1, 10000));
  // The report of the end may follow the end's state by a picture.
  const int64_t duration = int64_t(ProbeMedia(file, false).duration * 1000000);
  EXPECT_TRUE(PumpUntil([&] { return Recorder.LastPosition() == duration; }, 3000))
      << Recorder.LastPosition();
}

TEST_F(Robustness, SeekStormWhilePausedAndWaitingEachTime) {
  ASSERT_TRUE(Player.Open(fixtures::Path(Media::VideoOnly), 0)) << Player.LastErrMsg();
  PumpFor(200);
  Player.Pause();
  for (int n = 0; n < 30; ++n) Player.Seek(0, true, (n % 10) * 250000);
  EXPECT_FALSE(Player.Seeking());
  Player.Resume();
  ASSERT_TRUE(WaitForEnd(1, 10000));
}

TEST_F(Robustness, PauseAndResumeStorm) {
  ASSERT_TRUE(Player.Open(fixtures::Path(Media::Mp4H264Aac), 0)) << Player.LastErrMsg();
  for (int n = 0; n < 100; ++n) {
    Player.Pause();
    if (n % 10 == 0) PumpFor(5);
    Player.Resume();
  }
  ASSERT_TRUE(WaitForEnd(1, 15000));
  // A full ring drops the oldest reports; the last one tells how the storm ended.
  auto states = Recorder.States();
  states.erase(std::remove(states.begin(), states.end(), psEnd), states.end());
  EXPECT_GE(states.size(), 9u);
  EXPECT_EQ(states.back(), psResume);
  EXPECT_EQ(Recorder.CountOf(psEnd), 1);
}

// Paused and resumed before the first picture was shown: the play goes on at once.
TEST_F(Robustness, PauseAndResumeBeforeTheFirstPicture) {
  for (const Media media : {Media::Mp4H264Aac, Media::VideoOnly}) {
    const int ends = Recorder.CountOf(psEnd);
    ASSERT_TRUE(Player.Open(fixtures::Path(media), 0)) << Player.LastErrMsg();
    Player.Pause();
    Player.Resume();
    EXPECT_TRUE(WaitForEnd(ends + 1, 10000));
    Player.Stop(true);
  }
}

// The reader reaches the end of the file ahead of the display; the user pauses just before
// the last pictures. The end waits for the resume.
TEST_F(Robustness, FileThatEndsWhilePaused) {
  const std::string file = fixtures::Path(Media::Mp4H264Aac);
  ASSERT_TRUE(Player.Open(file, 0)) << Player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([this] { return Recorder.LastPosition() >= 2600000; }, 10000));
  Player.Pause();
  PumpFor(1000);
  EXPECT_EQ(Recorder.CountOf(psEnd), 0);
  EXPECT_LT(Recorder.LastPosition(), 3000000);
  Player.Resume();
  ASSERT_TRUE(WaitForEnd(1, 5000));
  Player.Stop(true);
  EXPECT_EQ(Recorder.States().back(), psStop);
}

TEST_F(Robustness, StopWhilePausedAtTheEnd) {
  ASSERT_TRUE(Player.Open(fixtures::Path(Media::Mp3AudioOnly), 0)) << Player.LastErrMsg();
  ASSERT_TRUE(WaitForEnd(1, 10000));
  Player.Pause();
  PumpFor(200);
  Player.Stop(true);
  ASSERT_TRUE(PumpUntil([this] { return Recorder.CountOf(psStop) == 1; }, 3000));
}

// Bytes overwritten in the middle: the damaged part is passed over and the play ends.
TEST_F(Robustness, CorruptFilePlaysToItsEnd) {
  for (const Media media : {Media::Mp4H264Aac, Media::AviMpeg4Mp3}) {
    const std::string source = fixtures::Path(media);
    const std::string file = fixtures::TempDir("player_corrupt") + "/damaged" +
                             std::filesystem::path(source).extension().string();
    std::filesystem::copy_file(source, file, std::filesystem::copy_options::overwrite_existing);
    const auto size = std::filesystem::file_size(file);
    {
      std::fstream damage(file, std::ios::in | std::ios::out | std::ios::binary);
      std::mt19937 random(3);
      damage.seekp(std::streamoff(size / 3));
      for (uintmax_t n = 0; n < size / 4; ++n) damage.put(char(random()));
    }
    const int ends = Recorder.CountOf(psEnd);
    ASSERT_TRUE(Player.Open(file, 0)) << Player.LastErrMsg();
    EXPECT_TRUE(WaitForEnd(ends + 1, 15000)) << file;
    Player.Stop(true);
  }
}

TEST_F(Robustness, VideoOnlyFileEndsOnce) {
  ASSERT_TRUE(Player.Open(fixtures::Path(Media::VideoOnly), 0)) << Player.LastErrMsg();
  ASSERT_TRUE(WaitForEnd(1, 10000));
  PumpFor(500);
  EXPECT_EQ(Recorder.CountOf(psEnd), 1);
  EXPECT_EQ(Recorder.LastPosition(), 3000000);
}

// A sound driver that does not exist: SDL starts without a sound device, the failure is
// logged, and the pictures play to the end on their own clock.
TEST_F(Robustness, SoundDriverThatDoesNotExist) {
  std::mutex lock;
  std::vector<std::string> errors;
  FFLogger().TriggerEventInMainThread = false;
  FFLogger().OnLog = [&](const void* sender, std::thread::id, TLogLevel level,
                         const std::string& text) {
    const std::lock_guard<std::mutex> guard(lock);
    if (sender == &Player && level == llError) errors.push_back(text);
  };
  const char* before = std::getenv("SDL_AUDIODRIVER");
  const std::string saved = before ? before : "";
  Player.AudioDriver = adDefault;
  ::setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  const bool opened = Player.Open(fixtures::Path(Media::Mp4H264Aac), 0);
  const bool ended = opened && WaitForEnd(1, 10000);
  Player.Stop(true);
  FFLogger().OnLog = nullptr;
  FFLogger().TriggerEventInMainThread = true;
  if (before)
    ::setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
  else
    ::unsetenv("SDL_AUDIODRIVER");
  ASSERT_TRUE(opened) << Player.LastErrMsg();
  EXPECT_TRUE(ended);
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors.front().rfind("SDL_OpenAudio() failed: ", 0), 0u) << errors.front();
}

TEST(PlayerLifetime, DestroyedWhilePlayingPausedOrSeeking) {
  const std::string file = fixtures::Path(Media::Mp4H264Aac);
  for (int way = 0; way < 3; ++way) {
    auto player = std::make_unique<TFFPlayer>();
    TRecorder recorder(*player);
    LoadPlayer(*player);
    ASSERT_TRUE(player->Open(file, 0)) << player->LastErrMsg();
    PumpFor(300);
    if (way == 1) player->Pause();
    if (way == 2) player->Seek(0, false, 1500000);
    player.reset();
    PumpFor(50);
  }
}

TEST_F(Robustness, PathInOtherScripts) {
  const std::string file = fixtures::TempDir("player_путь") + "/映画 é ü.mp4";
  std::filesystem::copy_file(fixtures::Path(Media::Mp4H264Aac), file,
                             std::filesystem::copy_options::overwrite_existing);
  ASSERT_TRUE(Player.Open(file, 0)) << Player.LastErrMsg();
  EXPECT_EQ(Player.FileName(), file);
  ASSERT_TRUE(WaitForEnd(1, 10000));
}

}  // namespace
