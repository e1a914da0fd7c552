// Run-time loading of the FFmpeg libraries (and libc, libswresample) into the `ff::` tables.
// Loading and unloading happen on the main thread before any conversion or playback starts.
#pragma once

#include <cstdint>
#include <string>

#include "FFEntryPoints.h"

enum TLibrary : int {
  libAVCodec,
  libAVDevice,
  libAVFilter,
  libAVFormat,
  libAVUtil,
  libSWScale,
  libC,
  libSWResample,
  LibraryCount
};

// A set of libraries: bit n stands for library n.
using TLibraries = uint32_t;
constexpr TLibraries LibraryBit(TLibrary lib) { return TLibraries(1) << lib; }
constexpr TLibraries AllLibraries = (TLibraries(1) << LibraryCount) - 1;

class TFFLoader {
 public:
  TFFLoader();
  ~TFFLoader();
  TFFLoader(const TFFLoader&) = delete;
  TFFLoader& operator=(const TFFLoader&) = delete;

  void SetLibraryPath(const std::string& path);
  const std::string& LibraryPath() const { return FLibraryPath; }

  // Loads every library of the set in ascending order; at the first failure the whole set
  // is unloaded and the result is false, with the reason in LastErrorMessage().
  bool Load(TLibraries libraries);
  bool LoadLib(TLibrary lib);
  bool Loaded(TLibraries libraries) const;
  bool LibLoaded(TLibrary lib) const;
  void UnloadLib(TLibrary lib);
  void Unload(TLibraries libraries);

  const std::string& LastErrorMessage() const { return FLastError; }
  // The file the library is loaded from: an override when one is set, else
  // "lib" + name + ".so." + major version.
  std::string LibraryFileName(TLibrary lib) const;
  // Replaces the file name of one library (a full path or a bare file name); empty restores it.
  void SetLibraryFileName(TLibrary lib, const std::string& fileName);

  // Install the log callback when avutil loads (true from construction).
  bool HookLog = true;

 private:
  struct TLibraryStatus {
    std::string FileName;  // override; empty = built from the row
    void* Handle = nullptr;
    bool Resolved = false;
  };
  void InstallHooks(TLibrary lib);

  std::string FLibraryPath;
  std::string FLastError;
  TLibraryStatus FStatus[LibraryCount];
};

// The process-wide loader.
TFFLoader& FFLoader();
