// FFmpeg's transform reads its buffers with aligned loads as wide as the processor has (32
// bytes with AVX, 64 with AVX-512), while the C++ heap promises only 16. Whether a buffer
// from the heap happens to be aligned more is the heap's luck, so this program's heap never
// is: every allocation lands 16 bytes past a 64-byte boundary. The spectrum's buffers must
// still have the alignment FFmpeg asks for. A program of its own, since it replaces the heap.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "FFPlayer.h"
#include "PlayerTestSupport.h"
#include "SoundView.h"

namespace {

constexpr size_t Boundary = 64;
constexpr size_t Offset = 16;

}  // namespace

void* operator new(size_t size) {
  void* block = nullptr;
  if (::posix_memalign(&block, Boundary, size + Offset) != 0) throw std::bad_alloc();
  return static_cast<char*>(block) + Offset;
}

void operator delete(void* pointer) noexcept {
  if (pointer) std::free(static_cast<char*>(pointer) - Offset);
}

void operator delete(void* pointer, size_t) noexcept { operator delete(pointer); }

namespace {

std::vector<uintptr_t> TransformBuffers;
decltype(ff::av_rdft_calc) Transform = nullptr;
size_t Alignment = 0;

// Only an aligned buffer goes on to the transform: the test fails rather than crash.
void RecordTransformBuffer(RDFTContext* context, FFTSample* data) {
  TransformBuffers.push_back(reinterpret_cast<uintptr_t>(data));
  if (TransformBuffers.back() % Alignment == 0) Transform(context, data);
}

TEST(SpectrumOnAHeapOfSixteenBytes, TransformBuffersHaveTheAlignmentFFmpegAsksFor) {
  TFFPlayer player;
  playertest::LoadPlayer(player);
  Alignment = ff::av_cpu_max_align();
  // Without AVX FFmpeg asks for no more than the heap gives: nothing to see here.
  if (Alignment <= Offset)
    GTEST_SKIP() << "this processor needs no more alignment than the heap gives (" << Alignment
                 << " bytes)";
  Transform = ff::av_rdft_calc;
  ff::av_rdft_calc = RecordTransformBuffer;
  TSampleRing ring;
  std::vector<int16_t> noise(TSampleRing::Size);
  for (size_t n = 0; n < noise.size(); ++n) noise[n] = int16_t((n * 7919) % 20011 - 10000);
  ring.Add(noise.data(), int(noise.size()));
  for (const int channels : {1, 2})
    for (const int height : {20, 221, 480, 1080}) {
      TSoundView view;
      for (int column = 0; column < 2; ++column)
        view.Draw(smSpectrum, ring, 0, channels, {0, 0, 8, height},
                  [](const TViewArea&, uint8_t, uint8_t, uint8_t) {});
    }
  ff::av_rdft_calc = Transform;
  ASSERT_EQ(TransformBuffers.size(), 4u * 2 * (1 + 2));
  for (const uintptr_t buffer : TransformBuffers) EXPECT_EQ(buffer % Alignment, 0u) << buffer;
}

}  // namespace
