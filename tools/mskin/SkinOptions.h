// The combiner's command line:
//   "skin.swf" [video="video.swf"] swfdata="settings.swf" [poster="picture.jpg"] -X w -Y h
//   -F version -o "out.swf"
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace fennick::mskin {

// A command line that cannot be carried out; the text is shown to the user as it is.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct SkinOptions {
  std::filesystem::path skin;
  std::optional<std::filesystem::path> video;
  std::filesystem::path settings;
  std::optional<std::filesystem::path> poster;
  uint16_t width = 0;
  uint16_t height = 0;
  uint8_t version = 9;
  std::filesystem::path output;
};

// Throws UsageError naming the first argument that is missing, repeated or out of range.
SkinOptions ParseSkinOptions(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace fennick::mskin
