// A program ends its preview from inside the player's own events (the end of the file, a
// position past the part it plays): Stop(true) has to return there, whether the events are
// raised on the main thread or on the player's event thread, and the player plays again.
#include <gtest/gtest.h>

#include <atomic>

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

}  // namespace
