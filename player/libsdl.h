// The SDL 1.2 loader: each player opens SDL at run time and calls it only through the table of
// entry points that the loader resolved, so that nothing links SDL (nor mixes it with the SDL 2
// that Debian's libavdevice pulls in). SDL's own headers give the types.
#pragma once

#include <SDL/SDL.h>

#include <mutex>
#include <string>

// The SDL functions the player calls, in the player's order. SDL_putenv is missing on purpose:
// Linux builds of SDL 1.2 make it a macro for putenv, so the player sets its variables with the
// C library.
// clang-format off
#define SDL_ENTRIES(X)                                                                        \
  X(SDL_Init) X(SDL_Quit) X(SDL_GetError) X(SDL_OpenAudio) X(SDL_PauseAudio)                \
  X(SDL_CloseAudio) X(SDL_MixAudio) X(SDL_PollEvent) X(SDL_PushEvent) X(SDL_EventState)     \
  X(SDL_GetVideoInfo) X(SDL_SetVideoMode) X(SDL_UpdateRect) X(SDL_WM_SetCaption)            \
  X(SDL_MapRGB) X(SDL_FillRect) X(SDL_CreateYUVOverlay) X(SDL_LockYUVOverlay)               \
  X(SDL_UnlockYUVOverlay) X(SDL_DisplayYUVOverlay) X(SDL_FreeYUVOverlay) X(SDL_CreateMutex) \
  X(SDL_mutexP) X(SDL_mutexV) X(SDL_DestroyMutex) X(SDL_CreateCond) X(SDL_DestroyCond)      \
  X(SDL_CondSignal) X(SDL_CondWait) X(SDL_CreateThread) X(SDL_WaitThread)                   \
  X(SDL_AudioDriverName) X(SDL_VideoDriverName) X(SDL_LockSurface) X(SDL_UnlockSurface)
// clang-format on

struct TSDLEntryPoints {
#define SDL_DECLARE_ENTRY(name) decltype(&::name) name = nullptr;
  SDL_ENTRIES(SDL_DECLARE_ENTRY)
#undef SDL_DECLARE_ENTRY
};

// The file name of SDL 1.2 on Linux; the program's LibAV folder holds a link of that name.
inline constexpr const char* SDLLibraryName = "libSDL-1.2.so.0";

class TSDLLoader {
 public:
  TSDLLoader() = default;
  ~TSDLLoader();
  TSDLLoader(const TSDLLoader&) = delete;
  TSDLLoader& operator=(const TSDLLoader&) = delete;

  // Loads Path + DLLName when the folder holds that file, else DLLName from the system's
  // search path, and resolves every entry point. One library path is held by one loader at a
  // time in the process. False with ErrorText() on failure; the loader is then empty.
  bool Load(const std::string& path, const std::string& dllName);
  bool Loaded() const { return FHandle != nullptr && FLoaded; }
  void Unload();

  const TSDLEntryPoints& EntryPoints() const { return FEntries; }
  const std::string& FullPath() const { return FFullPath; }
  const std::string& ErrorText() const { return FErrorText; }

 private:
  void InnerUnload();

  std::string FFullPath;
  void* FHandle = nullptr;
  bool FLoaded = false;
  std::string FErrorText;
  TSDLEntryPoints FEntries;
};

// The process-wide lock of every loader; players also hold it while they set SDL's
// environment variables and start SDL, which are process-wide too.
std::mutex& SDLLoaderLock();
