// Sees libswscale write past the end of the memory the program gives it. AddressSanitizer does
// not: the scaler is not instrumented, and its stores land in the redzone unseen. While a guard
// lives, every block from ff::av_malloc carries a canary past its end, checked after each
// ff::sws_scale on the blocks that call wrote into or read from, and when the block is freed
// through ff::av_free or ff::av_freep. The FFmpeg libraries must be loaded first.
#pragma once

#include "FFEntryPoints.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's allocator, whose header this compiler does not ship.
extern "C" int __sanitizer_get_ownership(const volatile void* pointer);
extern "C" size_t __sanitizer_get_allocated_size(const volatile void* pointer);
#else
#include <malloc.h>
#endif

class TPictureGuard {
 public:
  TPictureGuard() {
    Saved = {ff::av_malloc, ff::av_free, ff::av_freep, ff::sws_scale};
    ff::av_malloc = Malloc;
    ff::av_free = Free;
    ff::av_freep = FreeP;
    ff::sws_scale = Scale;
  }
  ~TPictureGuard() {
    ff::av_malloc = Saved.Malloc;
    ff::av_free = Saved.Free;
    ff::av_freep = Saved.FreeP;
    ff::sws_scale = Saved.Scale;
    const std::lock_guard<std::mutex> lock(Lock());
    Blocks().clear();
    Found().clear();
  }
  TPictureGuard(const TPictureGuard&) = delete;
  TPictureGuard& operator=(const TPictureGuard&) = delete;

  // One line per write past a block: how far, and what the scaler was doing.
  static std::vector<std::string> Overruns() {
    const std::lock_guard<std::mutex> lock(Lock());
    return Found();
  }

 private:
  // Odd, so that a block of another owner at the same address cannot pass for a guarded one.
  static constexpr size_t Canary = 263;

  static uint8_t Pattern(size_t n) { return uint8_t(0xA5 ^ (n * 31)); }

  struct TEntries {
    decltype(ff::av_malloc) Malloc;
    decltype(ff::av_free) Free;
    decltype(ff::av_freep) FreeP;
    decltype(ff::sws_scale) Scale;
  };
  static inline TEntries Saved{};

  static std::mutex& Lock() {
    static std::mutex lock;
    return lock;
  }
  // Guarded blocks by address: the size asked for. FFmpeg may free a block itself, which leaves
  // its entry behind: a block is checked only while the heap still holds it at its full size.
  static std::map<uint8_t*, size_t>& Blocks() {
    static std::map<uint8_t*, size_t> blocks;
    return blocks;
  }
  static std::vector<std::string>& Found() {
    static std::vector<std::string> found;
    return found;
  }

  static bool StillHeld(uint8_t* block, size_t size) {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_ownership(block) && __sanitizer_get_allocated_size(block) == size + Canary;
#else
    return malloc_usable_size(block) >= size + Canary;
#endif
  }

  static void Fill(uint8_t* block, size_t size) {
    for (size_t n = 0; n < Canary; ++n) block[size + n] = Pattern(n);
  }

  // Under the lock. Records a write past the block, and mends the canary so that the next
  // write is seen as well.
  static void Check(uint8_t* block, size_t size, const std::string& what) {
    size_t last = Canary;
    while (last > 0 && block[size + last - 1] == Pattern(last - 1)) --last;
    if (last == 0) return;
    Found().push_back(what + ": " + std::to_string(last) + " bytes written past a block of " +
                      std::to_string(size));
    Fill(block, size);
  }

  static void* Malloc(size_t size) {
    auto* block = static_cast<uint8_t*>(Saved.Malloc(size + Canary));
    if (!block) return nullptr;
    Fill(block, size);
    const std::lock_guard<std::mutex> lock(Lock());
    Blocks()[block] = size;
    return block;
  }

  // Under the lock: checks and forgets a guarded block that is about to be freed.
  static void Release(const void* pointer) {
    const auto found = Blocks().find(static_cast<uint8_t*>(const_cast<void*>(pointer)));
    if (found == Blocks().end()) return;
    if (StillHeld(found->first, found->second)) Check(found->first, found->second, "when freed");
    Blocks().erase(found);
  }

  static void Free(void* pointer) {
    {
      const std::lock_guard<std::mutex> lock(Lock());
      Release(pointer);
    }
    Saved.Free(pointer);
  }

  static void FreeP(void* pointer) {
    {
      const std::lock_guard<std::mutex> lock(Lock());
      Release(*static_cast<void**>(pointer));
    }
    Saved.FreeP(pointer);
  }

  static std::string Describe(SwsContext* context) {
    const auto value = [context](const char* name) {
      int64_t number = 0;
      ff::av_opt_get_int(context, name, 0, &number);
      return number;
    };
    const auto format = [&](const char* name) {
      const char* text = ff::av_get_pix_fmt_name(AVPixelFormat(value(name)));
      return std::string(text ? text : "?");
    };
    return "sws_scale " + std::to_string(value("srcw")) + "x" + std::to_string(value("srch")) +
           " " + format("src_format") + " to " + std::to_string(value("dstw")) + "x" +
           std::to_string(value("dsth")) + " " + format("dst_format");
  }

  static int Scale(SwsContext* context, const uint8_t* const source[], const int sourceStride[],
                   int sliceY, int sliceH, uint8_t* const dest[], const int destStride[]) {
    const int result = Saved.Scale(context, source, sourceStride, sliceY, sliceH, dest, destStride);
    const std::lock_guard<std::mutex> lock(Lock());
    for (const uint8_t* const* planes : {source, static_cast<const uint8_t* const*>(dest)})
      for (int plane = 0; plane < 4; ++plane) {
        const auto found = Blocks().find(const_cast<uint8_t*>(planes[plane]));
        if (found != Blocks().end() && StillHeld(found->first, found->second))
          Check(found->first, found->second, Describe(context));
      }
    return result;
  }
};
