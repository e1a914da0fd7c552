// Reader of the player-settings source: a package holding one class that extends
// flash.display.MovieClip, typed public variables with literal values, and an empty
// constructor. Anything else is refused with the line where it went wrong.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace fennick::swfdata {

class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A literal as written: numbers keep their text, strings are unescaped.
struct SettingsLiteral {
  enum Kind { kNumber, kString, kBoolean, kNull } kind = kNull;
  std::string text;
  double number = 0;  // kNumber: the value the text names
};

struct SettingsVariable {
  std::string name;
  std::string type;  // int, uint, Boolean, Number, String or Array
  bool hasValue = false;
  SettingsLiteral value;               // scalar types
  std::vector<SettingsLiteral> items;  // Array: the elements of [ ... ]; empty for null
  bool isNullArray = false;
  int line = 0;
};

struct SettingsClass {
  std::string name;
  std::vector<SettingsVariable> variables;
};

SettingsClass ParseSettingsSource(std::string_view text);

}  // namespace fennick::swfdata
