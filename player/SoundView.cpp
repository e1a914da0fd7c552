#include "SoundView.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "FFEntryPoints.h"

namespace {

int Wrap(int index) {
  const int size = TSampleRing::Size;
  return ((index % size) + size) % size;
}

// How far back the waves may move to find a rising zero crossing.
constexpr int TriggerSearchFrames = 1000;

}  // namespace

void TSampleRing::Add(const int16_t* samples, int count) {
  const std::lock_guard<std::mutex> lock(FLock);
  for (int n = 0; n < count; ++n) {
    FSamples[size_t(FWrite)] = samples[n];
    FWrite = FWrite + 1 == Size ? 0 : FWrite + 1;
  }
}

int TSampleRing::WriteIndex() const {
  const std::lock_guard<std::mutex> lock(FLock);
  return FWrite;
}

std::vector<int16_t> TSampleRing::Read(int start, int count) const {
  std::vector<int16_t> samples(size_t(std::max(count, 0)));
  const std::lock_guard<std::mutex> lock(FLock);
  int index = Wrap(start);
  for (int16_t& sample : samples) {
    sample = FSamples[size_t(index)];
    index = index + 1 == Size ? 0 : index + 1;
  }
  return samples;
}

TSoundView::~TSoundView() {
  if (FTransform) ff::av_rdft_end(FTransform);
}

void TSoundView::TAVFree::operator()(float* data) const { ff::av_free(data); }

// A transform of 2^bits samples and its two buffers; false when FFmpeg cannot give them.
bool TSoundView::PrepareTransform(int bits) {
  if (bits == FBits) return true;
  if (FTransform) ff::av_rdft_end(FTransform);
  FTransform = ff::av_rdft_init(bits, DFT_R2C);
  const size_t bytes = sizeof(float) << bits;
  for (TTransformBuffer& data : FData) data.reset(static_cast<float*>(ff::av_malloc(bytes)));
  FBits = FTransform && FData[0] && FData[1] ? bits : 0;
  return FBits != 0;
}

int TSoundView::TransformBits(int height) {
  int bits = 1;
  while ((1 << bits) < 2 * height) ++bits;
  return bits;
}

int TSoundView::FramesShown(TShowMode mode, const TViewArea& area) const {
  return mode == smWaves ? area.Width : 1 << TransformBits(area.Height);
}

int TSoundView::StartIndex(TShowMode mode, const TSampleRing& ring, int channels, int delayFrames,
                           const TViewArea& area, bool paused) {
  if (paused) return FLastStart;
  int start =
      Wrap(ring.WriteIndex() - channels * (std::max(delayFrames, 0) + FramesShown(mode, area)));
  if (mode == smWaves) {
    const int from = start - channels * TriggerSearchFrames;
    const std::vector<int16_t> before = ring.Read(from, channels * (TriggerSearchFrames + 1));
    int bestScore = -1;
    for (int n = 1; n <= TriggerSearchFrames; ++n) {
      const int previous = before[size_t((n - 1) * channels)];
      const int current = before[size_t(n * channels)];
      if (previous < 0 && current >= 0 && current - previous > bestScore) {
        bestScore = current - previous;
        start = Wrap(from + n * channels);
      }
    }
  }
  FLastStart = start;
  return start;
}

TViewArea TSoundView::Draw(TShowMode mode, const TSampleRing& ring, int start, int channels,
                           const TViewArea& area, const TFillRect& fill) {
  if (area.Width < 1 || area.Height < 1 || channels < 1) return {};
  const std::vector<int16_t> samples = ring.Read(start, channels * FramesShown(mode, area));
  return mode == smWaves ? DrawWaves(samples, channels, area, fill)
                         : DrawSpectrum(samples, channels, area, fill);
}

// Each channel in a band of its own, its samples as white columns from the band's middle.
TViewArea TSoundView::DrawWaves(const std::vector<int16_t>& samples, int channels,
                                const TViewArea& area, const TFillRect& fill) {
  fill(area, 0, 0, 0);
  const int band = area.Height / channels;
  for (int channel = 0; channel < channels; ++channel) {
    const int middle = area.Top + channel * band + band / 2;
    for (int x = 0; x < area.Width; ++x) {
      const int length = samples[size_t(x * channels + channel)] * band / 65536;
      const int top = length > 0 ? middle - length : middle;
      fill({area.Left + x, top, 1, std::max(std::abs(length), 1)}, 255, 255, 255);
    }
  }
  return area;
}

// One column: low frequencies at the bottom; the first channel gives red, the second green,
// their mean blue (one channel: grey).
TViewArea TSoundView::DrawSpectrum(const std::vector<int16_t>& samples, int channels,
                                   const TViewArea& area, const TFillRect& fill) {
  const int bits = TransformBits(area.Height);
  if (!PrepareTransform(bits)) return {};
  const int frequencies = 1 << (bits - 1);
  const int size = 2 * frequencies;
  const int shown = std::min(channels, 2);
  for (int channel = 0; channel < shown; ++channel) {
    float* data = FData[channel].get();
    for (int n = 0; n < size; ++n) {
      const double w = double(n - frequencies) / frequencies;
      data[n] = float(samples[size_t(n * channels + channel)] * (1.0 - w * w));
    }
    ff::av_rdft_calc(FTransform, data);
  }
  const double scale = 1.0 / std::sqrt(double(frequencies));
  const auto intensity = [&](int channel, int k) {
    const float* data = FData[channel].get();
    const double magnitude = k == 0 ? std::fabs(data[0]) : std::hypot(data[2 * k], data[2 * k + 1]);
    return uint8_t(std::min(255.0, std::sqrt(magnitude * scale)));
  };
  if (FColumn >= area.Width) FColumn = 0;
  const int x = area.Left + FColumn;
  for (int k = 0; k < area.Height; ++k) {
    const uint8_t first = intensity(0, k);
    const uint8_t second = shown > 1 ? intensity(1, k) : first;
    fill({x, area.Top + area.Height - 1 - k, 1, 1}, first, second, uint8_t((first + second) / 2));
  }
  FColumn = (FColumn + 1) % area.Width;
  return {x, area.Top, 1, area.Height};
}
