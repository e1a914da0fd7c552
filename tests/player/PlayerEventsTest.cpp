#include <gtest/gtest.h>

#include "PlayerEvents.h"

namespace {

TPlayerEvent Position(int64_t value) { return {TPlayerEvent::ekPosition, value}; }
TPlayerEvent State(int64_t value) { return {TPlayerEvent::ekState, value}; }

TEST(PlayerEventRing, PositionsInARowLeaveTheLatest) {
  TPlayerEventRing ring;
  for (int n = 0; n < 11; ++n) ring.Push(Position(n * 1000));
  EXPECT_EQ(ring.Count(), 1);
  const TPlayerEvent event = ring.Pop();
  EXPECT_EQ(event.Kind, TPlayerEvent::ekPosition);
  EXPECT_EQ(event.Value, 10000);
  EXPECT_EQ(ring.Pop().Kind, TPlayerEvent::ekNone);
}

TEST(PlayerEventRing, StatesAreNeverMerged) {
  TPlayerEventRing ring;
  ring.Push(State(0));
  ring.Push(State(1));
  ring.Push(State(2));
  ring.Push(Position(5));
  ring.Push(State(5));
  ring.Push(State(4));
  ASSERT_EQ(ring.Count(), 6);
  for (int64_t expected : {0, 1, 2}) EXPECT_EQ(ring.Pop().Value, expected);
  EXPECT_EQ(ring.Pop().Kind, TPlayerEvent::ekPosition);
  EXPECT_EQ(ring.Pop().Value, 5);
  EXPECT_EQ(ring.Pop().Value, 4);
}

TEST(PlayerEventRing, FullRingDropsTheOldest) {
  TPlayerEventRing ring;
  for (int n = 0; n < 12; ++n) ring.Push(n % 2 ? State(n) : Position(n));
  ASSERT_EQ(ring.Count(), TPlayerEventRing::Capacity - 1);
  // Entries 0, 1 and 2 gave way.
  for (int n = 3; n < 12; ++n) EXPECT_EQ(ring.Pop().Value, n);
  EXPECT_EQ(ring.Count(), 0);
}

TEST(PlayerEventRing, ReadyFollowsPendingEntries) {
  TPlayerEventRing ring;
  EXPECT_FALSE(ring.Ready.IsSet());
  ring.Push(State(3));
  EXPECT_TRUE(ring.Ready.WaitFor(0));
  ring.Pop();
  EXPECT_FALSE(ring.Ready.IsSet());
  ring.Push(Position(1));
  ring.Clear();
  EXPECT_FALSE(ring.Ready.IsSet());
  EXPECT_EQ(ring.Pop().Kind, TPlayerEvent::ekNone);
}

}  // namespace
