#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "AudioSync.h"

namespace {

constexpr int Rate = 44100;
constexpr int Channels = 2;
constexpr int Frames = 1024;
constexpr int FrameBytes = 2 * Channels;

// A buffer of `Frames` stereo frames whose frame n holds n in both channels, with room behind.
std::vector<uint8_t> Buffer(size_t capacity) {
  std::vector<uint8_t> bytes(capacity, 0xEE);
  for (int n = 0; n < Frames; ++n) {
    const int16_t value[2] = {int16_t(n), int16_t(n)};
    std::memcpy(bytes.data() + n * FrameBytes, value, FrameBytes);
  }
  return bytes;
}

int FeedUnchanged(TAudioSync& sync, double diff, std::vector<uint8_t>& bytes) {
  int changed = 0;
  for (int n = 0; n < TAudioSync::MeasurementsBeforeCorrection; ++n)
    if (sync.Adjust(diff, bytes.data(), Frames * FrameBytes, int(bytes.size()), Channels) !=
        Frames * FrameBytes)
      ++changed;
  return changed;
}

// 100 ms is past the threshold of 2048 samples (46 ms at 44.1 kHz) and more than a tenth of a
// buffer of 1024 samples.
TEST(AudioSync, LateSoundIsShortenedByAtMostATenth) {
  TAudioSync sync;
  sync.Reset(Rate);
  auto bytes = Buffer(Frames * FrameBytes * 2);
  EXPECT_EQ(FeedUnchanged(sync, -0.100, bytes), 0);
  const int size =
      sync.Adjust(-0.100, bytes.data(), Frames * FrameBytes, int(bytes.size()), Channels);
  EXPECT_EQ(size, (Frames * 90 / 100) * FrameBytes);
}

TEST(AudioSync, EarlySoundIsStretchedWithTheLastFrameWithinItsBuffer) {
  TAudioSync sync;
  sync.Reset(Rate);
  auto bytes = Buffer(Frames * FrameBytes * 2);
  FeedUnchanged(sync, 0.100, bytes);
  const int size =
      sync.Adjust(0.100, bytes.data(), Frames * FrameBytes, int(bytes.size()), Channels);
  ASSERT_EQ(size, (Frames * 110 / 100) * FrameBytes);
  for (int at = Frames * FrameBytes; at < size; at += FrameBytes) {
    int16_t value[2];
    std::memcpy(value, bytes.data() + at, FrameBytes);
    EXPECT_EQ(value[0], Frames - 1);
    EXPECT_EQ(value[1], Frames - 1);
  }
  EXPECT_EQ(bytes[size_t(size)], 0xEE);
}

TEST(AudioSync, StretchingStopsAtTheBufferCapacity) {
  TAudioSync sync;
  sync.Reset(Rate);
  const int capacity = Frames * FrameBytes + 10 * FrameBytes + 3;
  auto bytes = Buffer(size_t(capacity) + 64);
  FeedUnchanged(sync, 0.100, bytes);
  const int size = sync.Adjust(0.100, bytes.data(), Frames * FrameBytes, capacity, Channels);
  EXPECT_EQ(size, (Frames + 10) * FrameBytes);
  EXPECT_EQ(bytes[size_t(capacity)], 0xEE);
}

TEST(AudioSync, SmallDriftIsLeftAlone) {
  TAudioSync sync;
  sync.Reset(Rate);
  auto bytes = Buffer(Frames * FrameBytes * 2);
  for (int n = 0; n < 60; ++n)
    EXPECT_EQ(sync.Adjust(0.030, bytes.data(), Frames * FrameBytes, int(bytes.size()), Channels),
              Frames * FrameBytes);
}

TEST(AudioSync, LargeDriftEitherWayStartsTheMeasurementOver) {
  for (const double jump : {12.0, -12.0}) {
    TAudioSync sync;
    sync.Reset(Rate);
    auto bytes = Buffer(Frames * FrameBytes * 2);
    FeedUnchanged(sync, -0.100, bytes);
    EXPECT_EQ(sync.Adjust(jump, bytes.data(), Frames * FrameBytes, int(bytes.size()), Channels),
              Frames * FrameBytes);
    EXPECT_EQ(FeedUnchanged(sync, -0.100, bytes), 0) << "jump " << jump;
    EXPECT_LT(sync.Adjust(-0.100, bytes.data(), Frames * FrameBytes, int(bytes.size()), Channels),
              Frames * FrameBytes);
  }
}

}  // namespace
