#include "AudioSync.h"

#include <algorithm>
#include <cmath>
#include <cstring>

void TAudioSync::Reset(int sampleRate) {
  FAccumulator = 0;
  FCount = 0;
  FCoefficient = std::exp(std::log(0.01) / MeasurementsBeforeCorrection);
  FSampleRate = sampleRate;
  FThreshold = sampleRate > 0 ? 2048.0 / sampleRate : 0;
}

int TAudioSync::Adjust(double diff, uint8_t* samples, int size, int capacity, int channels) {
  if (std::fabs(diff) >= NoSyncThreshold) {
    FAccumulator = 0;
    FCount = 0;
    return size;
  }
  FAccumulator = diff + FCoefficient * FAccumulator;
  if (FCount < MeasurementsBeforeCorrection) {
    ++FCount;
    return size;
  }
  const double average = FAccumulator * (1 - FCoefficient);
  const int frameBytes = 2 * channels;
  if (std::fabs(average) < FThreshold || frameBytes <= 0 || size < frameBytes) return size;
  const int frames = size / frameBytes;
  const int64_t minSize = int64_t(frames * 90 / 100) * frameBytes;
  const int64_t maxSize = std::min<int64_t>(int64_t(frames * 110 / 100) * frameBytes,
                                            capacity / frameBytes * frameBytes);
  const int64_t wanted =
      std::clamp<int64_t>(size + int64_t(std::lround(diff * FSampleRate)) * frameBytes, minSize,
                          std::max(minSize, maxSize));
  if (wanted > size) {
    const uint8_t* last = samples + size - frameBytes;
    for (int64_t at = size; at < wanted; at += frameBytes)
      std::memcpy(samples + at, last, frameBytes);
  }
  return int(wanted);
}
