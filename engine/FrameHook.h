// Frame-hook libraries: shared libraries named by the "vhook" option that get every decoded
// picture of a task to change in place.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "MyUtils.h"

// A hook library's entry points, exported with C linkage under these names; the picture is a
// plain record of four planes and four line sizes (TAVPicture):
//   "Configure" (optional without arguments): 0 on success; may set *context for the others.
//   "Process" (required): changes the picture in place.
//   "Release" (optional): frees the context.
extern "C" {
using TFrameHookConfigure = int (*)(void** context, int argc, char* argv[]);
using TFrameHookProcess = void (*)(void* context, TAVPicture* picture, AVPixelFormat pixFmt,
                                   int width, int height, int64_t pts);
using TFrameHookRelease = void (*)(void* context);
}

// The hook libraries of one task, called in the order they were added. Each task owns its
// chain: ending one task never unloads code that another task is still calling. A chain is
// used by one thread at a time (its task's).
class TFrameHookChain {
 public:
  TFrameHookChain() = default;
  ~TFrameHookChain();
  TFrameHookChain(const TFrameHookChain&) = delete;
  TFrameHookChain& operator=(const TFrameHookChain&) = delete;

  // Loads the library that args[0] names (as given: no search path or working directory is
  // changed) and appends it; args[0] and the words after it go to its Configure, and stay
  // valid for the hook's lifetime. 0, or a negative code after logging the reason through
  // FFmpeg's log.
  int FrameHookAdd(const std::vector<std::string>& args);
  // Process of every hook, in chain order, on the picture.
  void FrameHookProcess(uint8_t* const data[], const int linesize[], AVPixelFormat pixFmt,
                        int width, int height, int64_t pts);
  // Release of every hook that has one, then the libraries are unloaded and the chain emptied.
  void FrameHookRelease();
  bool Empty() const { return FEntries.empty(); }

 private:
  struct TEntry {
    void* Module = nullptr;
    TFrameHookProcess Process = nullptr;
    TFrameHookRelease Release = nullptr;
    void* Context = nullptr;
    std::vector<std::string> Arguments;
    std::vector<char*> ArgumentPointers;
  };
  // Stable addresses: hooks may keep the argument texts they were configured with.
  std::list<TEntry> FEntries;
};
