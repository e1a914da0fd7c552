#include "libsdl.h"

#include <strings.h>

#include <algorithm>
#include <exception>
#include <vector>

#include "FFBaseComponent.h"

namespace {

// Full paths held by some loader. Never destroyed: a player may unload at process exit.
std::vector<std::string>& LoadedPaths() {
  static auto* const paths = new std::vector<std::string>;
  return *paths;
}

auto FindLoaded(const std::string& fullPath) {
  auto& paths = LoadedPaths();
  return std::find_if(paths.begin(), paths.end(), [&fullPath](const std::string& path) {
    return ::strcasecmp(path.c_str(), fullPath.c_str()) == 0;
  });
}

}  // namespace

std::mutex& SDLLoaderLock() {
  static auto* const lock = new std::mutex;
  return *lock;
}

TSDLLoader::~TSDLLoader() { Unload(); }

bool TSDLLoader::Load(const std::string& path, const std::string& dllName) {
  const std::string fullPath = WideIncludeTrailingBackslash(path) + dllName;
  if (Loaded() && FFullPath == fullPath) return true;
  const std::lock_guard<std::mutex> lock(SDLLoaderLock());
  if (FindLoaded(fullPath) != LoadedPaths().end()) {
    FErrorText = fullPath + " alreay loaded in another instance.";
    return false;
  }
  InnerUnload();
  std::string systemText;
  FHandle = LoadLibraryFromPath(path, dllName, systemText);
  if (!FHandle) {
    FErrorText = "Load library " + fullPath + " error: " + systemText;
    return false;
  }
  try {
#define SDL_RESOLVE_ENTRY(name) \
  FEntries.name =               \
      reinterpret_cast<decltype(FEntries.name)>(LoadFunction(fullPath, FHandle, #name, false));
    SDL_ENTRIES(SDL_RESOLVE_ENTRY)
#undef SDL_RESOLVE_ENTRY
    FLoaded = true;
  } catch (const std::exception& e) {
    FErrorText = e.what();
  }
  if (!FLoaded) {
    InnerUnload();
    return false;
  }
  FFullPath = fullPath;
  LoadedPaths().push_back(fullPath);
  return true;
}

void TSDLLoader::Unload() {
  const std::lock_guard<std::mutex> lock(SDLLoaderLock());
  InnerUnload();
}

void TSDLLoader::InnerUnload() {
  FEntries = TSDLEntryPoints();
  FLoaded = false;
  if (FHandle) {
    UnloadLibrary(FHandle);
    FHandle = nullptr;
  }
  if (!FFullPath.empty()) {
    const auto found = FindLoaded(FFullPath);
    if (found != LoadedPaths().end()) LoadedPaths().erase(found);
    FFullPath.clear();
  }
}
