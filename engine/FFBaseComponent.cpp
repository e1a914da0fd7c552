#include "FFBaseComponent.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <vector>

namespace {

// FFmpeg's libraries in dependency order: each needs only those before it.
const char* const DependencyOrder[] = {
    "libavutil.so.57",  "libswresample.so.4", "libswscale.so.6",  "libpostproc.so.56",
    "libavcodec.so.59", "libavformat.so.59",  "libavfilter.so.8", "libavdevice.so.59",
};

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string LastDlError() {
  const char* text = ::dlerror();
  return text ? text : "unknown error";
}

// RTLD_LOCAL: FFmpeg's dependencies (SDL2 among them) must not leak their symbols into the
// global namespace, where SDL 1.2 would bind to them.
// RTLD_NODELETE: the libraries keep process-wide state (threads, registries) that must stay
// mapped once created; an unload clears our tables and drops our reference only.
void* OpenLibrary(const std::string& name) {
  return ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

// Opens the folder's copies of the libraries that FileName depends on, so that the dynamic
// linker satisfies its needs from them rather than from the system.
std::vector<void*> OpenLowerLibraries(const std::string& folder, const std::string& fileName) {
  std::vector<void*> handles;
  for (const char* lower : DependencyOrder) {
    if (fileName == lower) break;
    const std::string path = folder + lower;
    if (!IsRegularFile(path)) continue;
    if (void* handle = OpenLibrary(path)) handles.push_back(handle);
  }
  return handles;
}

void* LoadSymbol(const char* kind, const std::string& libraryFileName, void* module,
                 const std::string& name, bool optional) {
  ::dlerror();
  void* address = ::dlsym(module, name.c_str());
  if (!address && !optional)
    throw FFmpegException("Load " + std::string(kind) + " " + name + "@" + libraryFileName +
                          " error: " + LastDlError());
  return address;
}

}  // namespace

std::string WideIncludeTrailingBackslash(const std::string& path) {
  if (!path.empty() && path.back() == '/') return path;
  return path + "/";
}

void* LoadLibraryFromPath(const std::string& folder, const std::string& fileName,
                          std::string& errorText) {
  void* module = nullptr;
  if (!folder.empty() && IsRegularFile(WideIncludeTrailingBackslash(folder) + fileName)) {
    const std::string dir = WideIncludeTrailingBackslash(folder);
    const std::vector<void*> lower = OpenLowerLibraries(dir, fileName);
    module = OpenLibrary(dir + fileName);
    if (!module) errorText = LastDlError();
    // The library now holds its own references to what it needs.
    for (void* handle : lower) ::dlclose(handle);
  } else {
    module = OpenLibrary(fileName);
    if (!module) errorText = LastDlError();
  }
  return module;
}

void UnloadLibrary(void* module) {
  if (module) ::dlclose(module);
}

void* LoadFunction(const std::string& libraryFileName, void* module, const std::string& name,
                   bool optional) {
  return LoadSymbol("function", libraryFileName, module, name, optional);
}

void* LoadVariable(const std::string& libraryFileName, void* module, const std::string& name,
                   bool optional) {
  return LoadSymbol("variable", libraryFileName, module, name, optional);
}
