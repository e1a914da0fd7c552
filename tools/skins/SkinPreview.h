// The small preview pictures that the formats dialog lists beside each player skin,
// drawn from the same layout and colours that the skins use.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace fennick::skins {

// 8-bit RGB pixels, rows top to bottom.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
};

enum class PreviewKind { kWithControls, kVideoOnly };

Picture DrawPreview(PreviewKind kind, int width, int height);

// Non-interlaced 8-bit RGB PNG. Throws std::runtime_error naming the file on failure.
std::vector<uint8_t> EncodePng(const Picture& picture);
void SavePng(const std::filesystem::path& file, const Picture& picture);

}  // namespace fennick::skins
