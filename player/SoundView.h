// What the player shows for sound without pictures: the waves of each channel, or their
// spectrum drawn one column per refresh. The sound comes from a ring of the samples last
// decoded; the view draws through a rectangle-filling routine, so it knows nothing of SDL.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

struct RDFTContext;

// How the player shows a file: its pictures, or (for sound) the waves or the spectrum.
enum TShowMode { smVideo = 0, smWaves = 1, smSpectrum = 2 };

// The interleaved signed 16-bit samples last decoded, written by SDL's audio thread and read by
// the play thread.
class TSampleRing {
 public:
  static constexpr int Size = 131072;

  TSampleRing() : FSamples(Size, 0) {}
  void Add(const int16_t* samples, int count);
  int WriteIndex() const;
  // `count` samples from `start` on (wrapping).
  std::vector<int16_t> Read(int start, int count) const;

 private:
  mutable std::mutex FLock;
  std::vector<int16_t> FSamples;
  int FWrite = 0;
};

struct TViewArea {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
};

using TFillRect =
    std::function<void(const TViewArea& area, uint8_t red, uint8_t green, uint8_t blue)>;

class TSoundView {
 public:
  TSoundView() = default;
  ~TSoundView();
  TSoundView(const TSoundView&) = delete;
  TSoundView& operator=(const TSoundView&) = delete;

  // Where the picture of the sound begins in the ring: as far behind the newest sample as the
  // sound still on its way to the device (`delayFrames`) plus what the view shows; the waves
  // start where the signal rises through zero most steeply, so that a steady tone stands
  // still. While paused the start stays.
  int StartIndex(TShowMode mode, const TSampleRing& ring, int channels, int delayFrames,
                 const TViewArea& area, bool paused);
  // Draws the sound from `start` on into the area; returns the part that changed.
  TViewArea Draw(TShowMode mode, const TSampleRing& ring, int start, int channels,
                 const TViewArea& area, const TFillRect& fill);

  // The spectrum's transform size for a view this high: 2^bits samples give 2^(bits-1)
  // frequencies, at least one per pixel row.
  static int TransformBits(int height);
  // The column the spectrum draws next.
  int SpectrumColumn() const { return FColumn; }

 private:
  int FramesShown(TShowMode mode, const TViewArea& area) const;
  TViewArea DrawWaves(const std::vector<int16_t>& samples, int channels, const TViewArea& area,
                      const TFillRect& fill);
  TViewArea DrawSpectrum(const std::vector<int16_t>& samples, int channels, const TViewArea& area,
                         const TFillRect& fill);

  int FLastStart = 0;
  int FColumn = 0;
  int FBits = 0;
  // The transform's SIMD code reads its buffers with aligned loads as wide as the processor
  // has: they come from FFmpeg's allocator, which gives that alignment.
  struct TAVFree {
    void operator()(float* data) const;
  };
  using TTransformBuffer = std::unique_ptr<float[], TAVFree>;
  bool PrepareTransform(int bits);

  RDFTContext* FTransform = nullptr;
  TTransformBuffer FData[2];
};
