// Turns a parsed settings class into a SWF: ActionScript 3 file attributes, one DoABC tag
// defining the class (a MovieClip with one typed public slot per variable holding its
// value) and the SymbolClass entry that makes it the main timeline's class.
#pragma once

#include "SettingsSource.h"
#include "SwfMovie.h"

namespace fennick::swfdata {

struct MovieOptions {
  int width = 400;  // pixels
  int height = 400;
  int version = 9;
};

// The assembly text of the class (see tools/swflib/README.md for the language).
std::string SettingsAssembly(const SettingsClass& settings);

swf::Movie CompileSettings(const SettingsClass& settings, const MovieOptions& options);

}  // namespace fennick::swfdata
