#include "FFLoad.h"

#include <cassert>
#include <exception>

#include "FFBaseComponent.h"
#include "FFLog.h"
#include "UnicodeProtocol.h"
#include "vf_rotate.h"

#if defined(__i386__) || defined(__x86_64__)
#include <fpu_control.h>
#endif

namespace {

struct TLibraryItem {
  const char* Name;
  bool SystemLibrary;  // never taken from the library folder
  int MajorVersion;    // -1: no version in the file name
  void (*Resolve)(const std::string& fileName, void* module);
  void (*Clear)();
};

#define FF_RESOLVE_ENTRY(name) \
  ff::name = reinterpret_cast<decltype(ff::name)>(LoadFunction(fileName, module, #name, false));
#define FF_CLEAR_ENTRY(name) ff::name = nullptr;
#define FF_TABLE_PROCS(list, id)                                                         \
  void Resolve##id(const std::string& fileName, void* module) { list(FF_RESOLVE_ENTRY) } \
  void Clear##id() { list(FF_CLEAR_ENTRY) }

FF_TABLE_PROCS(FF_AVCODEC_ENTRIES, AVCodec)
FF_TABLE_PROCS(FF_AVDEVICE_ENTRIES, AVDevice)
FF_TABLE_PROCS(FF_AVFILTER_ENTRIES, AVFilter)
FF_TABLE_PROCS(FF_AVFORMAT_ENTRIES, AVFormat)
FF_TABLE_PROCS(FF_AVUTIL_ENTRIES, AVUtil)
FF_TABLE_PROCS(FF_SWSCALE_ENTRIES, SWScale)
FF_TABLE_PROCS(FF_LIBC_ENTRIES, LibC)
FF_TABLE_PROCS(FF_SWRESAMPLE_ENTRIES, SWResample)

#undef FF_TABLE_PROCS
#undef FF_CLEAR_ENTRY
#undef FF_RESOLVE_ENTRY

const TLibraryItem LibraryItems[LibraryCount] = {
    {"avcodec", false, LIBAVCODEC_VERSION_MAJOR, ResolveAVCodec, ClearAVCodec},
    {"avdevice", false, LIBAVDEVICE_VERSION_MAJOR, ResolveAVDevice, ClearAVDevice},
    {"avfilter", false, LIBAVFILTER_VERSION_MAJOR, ResolveAVFilter, ClearAVFilter},
    {"avformat", false, LIBAVFORMAT_VERSION_MAJOR, ResolveAVFormat, ClearAVFormat},
    {"avutil", false, LIBAVUTIL_VERSION_MAJOR, ResolveAVUtil, ClearAVUtil},
    {"swscale", false, LIBSWSCALE_VERSION_MAJOR, ResolveSWScale, ClearSWScale},
    {"c", true, 6, ResolveLibC, ClearLibC},
    {"swresample", false, LIBSWRESAMPLE_VERSION_MAJOR, ResolveSWResample, ClearSWResample},
};

// The engine's start-up and shut-down around the process: the x87 control word is set to
// mask every floating-point exception at 64-bit precision while the libraries run.
struct TLoaderUnit {
#if defined(__i386__) || defined(__x86_64__)
  fpu_control_t SavedControlWord = 0;
#endif
  TLoaderUnit() {
    FFLoader();  // the loader must outlive this unit's shut-down
#if defined(__i386__) || defined(__x86_64__)
    _FPU_GETCW(SavedControlWord);
    fpu_control_t word = (SavedControlWord & ~fpu_control_t(0xFFFF)) + 0x133F;
    _FPU_SETCW(word);
#endif
  }
  ~TLoaderUnit() {
#if defined(__i386__) || defined(__x86_64__)
    _FPU_SETCW(SavedControlWord);
#endif
    FFLoader().Unload(AllLibraries);
  }
};

}  // namespace

TFFLoader& FFLoader() {
  static TFFLoader loader;
  return loader;
}

TFFLoader::TFFLoader() = default;

TFFLoader::~TFFLoader() {
  for (int n = 0; n < LibraryCount; ++n) UnloadLib(TLibrary(n));
}

void TFFLoader::SetLibraryPath(const std::string& path) { FLibraryPath = path; }

void TFFLoader::SetLibraryFileName(TLibrary lib, const std::string& fileName) {
  FStatus[lib].FileName = fileName;
}

std::string TFFLoader::LibraryFileName(TLibrary lib) const {
  if (!FStatus[lib].FileName.empty()) return FStatus[lib].FileName;
  const TLibraryItem& item = LibraryItems[lib];
  std::string name = std::string("lib") + item.Name + ".so";
  if (item.MajorVersion >= 0) name += "." + std::to_string(item.MajorVersion);
  return name;
}

bool TFFLoader::Load(TLibraries libraries) {
  assert(libraries != 0 && "empty library set");
  for (int n = 0; n < LibraryCount; ++n) {
    if ((libraries & LibraryBit(TLibrary(n))) && !LoadLib(TLibrary(n))) {
      Unload(libraries);
      return false;
    }
  }
  return true;
}

bool TFFLoader::LoadLib(TLibrary lib) {
  TLibraryStatus& status = FStatus[lib];
  const TLibraryItem& item = LibraryItems[lib];
  const std::string name = LibraryFileName(lib);
  std::string folder = WideExtractFilePath(name);
  const std::string file = name.substr(folder.size());
  if (folder.empty() && !FLibraryPath.empty() && !item.SystemLibrary)
    folder = WideIncludeTrailingBackslash(FLibraryPath);
  if (!status.Handle) {
    std::string error;
    status.Handle = LoadLibraryFromPath(folder, file, error);
    if (!status.Handle) {
      FLastError = "Load library " + folder + file + " error: " + error;
      return false;
    }
  }
  if (!status.Resolved) {
    try {
      item.Resolve(folder + file, status.Handle);
      status.Resolved = true;
    } catch (const std::exception& e) {
      FLastError = e.what();
    }
  }
  if (!status.Resolved) {
    UnloadLib(lib);
    return false;
  }
  InstallHooks(lib);
  return true;
}

void TFFLoader::InstallHooks(TLibrary lib) {
  if (lib == libAVUtil && HookLog) FFLogger().HookAVLog();
  if (lib == libAVFilter) RegisterRotateFilter();
  if (lib == libAVFormat) RegisterUnicodeProtocol();
}

bool TFFLoader::LibLoaded(TLibrary lib) const {
  return FStatus[lib].Handle != nullptr && FStatus[lib].Resolved;
}

bool TFFLoader::Loaded(TLibraries libraries) const {
  assert(libraries != 0 && "empty library set");
  for (int n = 0; n < LibraryCount; ++n)
    if ((libraries & LibraryBit(TLibrary(n))) && !LibLoaded(TLibrary(n))) return false;
  return true;
}

void TFFLoader::UnloadLib(TLibrary lib) {
  TLibraryStatus& status = FStatus[lib];
  if (status.Resolved) {
    LibraryItems[lib].Clear();
    status.Resolved = false;
  }
  if (status.Handle) {
    UnloadLibrary(status.Handle);
    status.Handle = nullptr;
  }
}

void TFFLoader::Unload(TLibraries libraries) {
  assert(libraries != 0 && "empty library set");
  for (int n = 0; n < LibraryCount; ++n)
    if (libraries & LibraryBit(TLibrary(n))) UnloadLib(TLibrary(n));
}

namespace {
// Constructed after the loader's first use at static-initialisation time, destroyed before it.
const TLoaderUnit LoaderUnit;
}  // namespace
