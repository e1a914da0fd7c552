// A program ends its preview from inside the player's own events (the end of the file, a
// position past the part it plays), opens the next file there or lets the player go: each
// call has to return, whether the events are raised on the main thread or on the player's
// event thread, and the player plays again.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "HangGuard.h"
#include "MediaFixtures.h"
#include "PlayerTestSupport.h"

using namespace playertest;
using fixtures::Media;

namespace {

struct TStopCase {
  const char* Name;
  bool OnEnd;  // stop on psEnd, else on the first position past half a second
  bool MainThread;
};

class StopInsideEvent : public ::testing::TestWithParam<TStopCase> {};

TEST_P(StopInsideEvent, StopReturnsAndThePlayerPlaysAgain) {
  const TStopCase& stopCase = GetParam();
  const THangGuard guard(std::string("Stop inside ") + stopCase.Name, 60);
  TFFPlayer player;
  LoadPlayer(player);
  player.TriggerEventInMainThread = stopCase.MainThread;
  std::atomic<bool> stopAsked{false}, stopReturned{false};
  std::atomic<int> stops{0};
  const auto stopOnce = [&] {
    if (stopAsked.exchange(true)) return;
    player.Stop(true);
    stopReturned = true;
  };
  player.OnPosition = [&](void*, int64_t position) {
    if (!stopCase.OnEnd && position >= 500000) stopOnce();
  };
  player.OnState = [&](void*, TPlayState state) {
    if (stopCase.OnEnd && state == psEnd) stopOnce();
    if (state == psStop) ++stops;
  };
  const std::string file = fixtures::Path(Media::Mp4H264Aac);
  ASSERT_TRUE(player.Open(file, 0)) << player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([&] { return bool(stopReturned); }, 30000));
  EXPECT_EQ(player.PlayState(), psStop);
  // The stopped play still says so once, after the handler that stopped it.
  EXPECT_TRUE(PumpUntil([&] { return stops == 1; }, 10000));

  TRecorder again(player);
  ASSERT_TRUE(player.Open(file, 0)) << player.LastErrMsg();
  EXPECT_TRUE(PumpUntil([&] { return again.LastPosition() >= 300000; }, 10000));
  player.Stop(true);
  PumpFor(200);
  EXPECT_EQ(again.CountOf(psStop), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Events, StopInsideEvent,
    ::testing::Values(TStopCase{"PositionOnMainThread", false, true},
                      TStopCase{"PositionOnEventThread", false, false},
                      TStopCase{"EndOnMainThread", true, true},
                      TStopCase{"EndOnEventThread", true, false}),
    [](const ::testing::TestParamInfo<TStopCase>& info) { return std::string(info.param.Name); });

// The call a handler makes as soon as a play says it started, round after round: the state
// report comes the moment the play thread runs, while Open may still be starting it.
enum TCall { cStop, cOpen, cDestroy };

struct TLoopCase {
  const char* Name;
  TCall Call;
  bool MainThread;
};

class CallInsideEvent : public ::testing::TestWithParam<TLoopCase> {
 protected:
  static constexpr int Rounds = 300;
  const std::string File = fixtures::Path(Media::VideoOnly);
};

TEST_P(CallInsideEvent, ReturnsRoundAfterRound) {
  const TLoopCase& loop = GetParam();
  const THangGuard guard(std::string("calls inside events: ") + loop.Name, 240);
  std::unique_ptr<TFFPlayer> player;
  std::mutex statesLock;
  std::vector<TPlayState> states;
  std::atomic<int> rounds{0};
  std::atomic<bool> failed{false};
  const auto newPlayer = [&] {
    player = std::make_unique<TFFPlayer>();
    LoadPlayer(*player);
    player->TriggerEventInMainThread = loop.MainThread;
    player->OnState = [&](void*, TPlayState state) {
      if (state == psPlay || state == psStop) {
        const std::lock_guard<std::mutex> lock(statesLock);
        states.push_back(state);
      }
      if (state != psPlay) return;
      switch (loop.Call) {
        case cStop:
          player->Stop(true);
          if (player->PlayState() != psStop) failed = true;
          break;
        case cOpen:
          if (rounds < Rounds && !player->Open(File, 0)) failed = true;
          break;
        case cDestroy: {
          // Nothing of the player, nor of this handler's own copy, is touched once it is gone.
          const std::unique_ptr<TFFPlayer> gone = std::move(player);
        } break;
      }
      ++rounds;
    };
  };
  newPlayer();
  ASSERT_TRUE(player->Open(File, 0)) << player->LastErrMsg();
  for (int round = 1; round < Rounds && loop.Call != cOpen; ++round) {
    ASSERT_TRUE(PumpUntil([&] { return rounds == round; }, 10000)) << "round " << round;
    if (loop.Call == cDestroy) newPlayer();
    ASSERT_TRUE(player->Open(File, 0)) << player->LastErrMsg();
  }
  const int plays = loop.Call == cOpen ? Rounds + 1 : Rounds;
  ASSERT_TRUE(PumpUntil([&] { return rounds == plays; }, 60000));
  EXPECT_FALSE(failed);
  if (player) player->Stop(true);
  player.reset();
  // Each play said that it started and that it stopped, in that order, before the next began;
  // a player that went inside its handler says nothing more.
  const std::lock_guard<std::mutex> lock(statesLock);
  ASSERT_EQ(states.size(), size_t(loop.Call == cDestroy ? plays : 2 * plays));
  for (size_t n = 0; n < states.size(); ++n)
    ASSERT_EQ(states[n], loop.Call == cDestroy || n % 2 == 0 ? psPlay : psStop) << "report " << n;
}

INSTANTIATE_TEST_SUITE_P(
    Loops, CallInsideEvent,
    ::testing::Values(TLoopCase{"StopOnEventThread", cStop, false},
                      TLoopCase{"OpenOnEventThread", cOpen, false},
                      TLoopCase{"OpenOnMainThread", cOpen, true},
                      TLoopCase{"DestroyOnEventThread", cDestroy, false},
                      TLoopCase{"DestroyOnMainThread", cDestroy, true}),
    [](const ::testing::TestParamInfo<TLoopCase>& info) { return std::string(info.param.Name); });

}  // namespace
