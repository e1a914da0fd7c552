// Services every engine component stands on: the engine's exception, library loading
// primitives and the file and path routines.
#pragma once

#include <stdexcept>
#include <string>

// Every error the engine detects itself.
class FFmpegException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Appends "/" unless the path already ends with one.
std::string WideIncludeTrailingBackslash(const std::string& path);

// Loads Folder + FileName when the folder holds that file (its lower FFmpeg libraries from
// the same folder first, so one set never mixes with the system's), else FileName through
// the system's search path. Returns nullptr with the system's text in errorText on failure.
void* LoadLibraryFromPath(const std::string& folder, const std::string& fileName,
                          std::string& errorText);
void UnloadLibrary(void* module);

// The address of an export. A missing one raises "Load function %s@%s error: %s"
// (or "Load variable ...") unless optional.
void* LoadFunction(const std::string& libraryFileName, void* module, const std::string& name,
                   bool optional);
void* LoadVariable(const std::string& libraryFileName, void* module, const std::string& name,
                   bool optional);
