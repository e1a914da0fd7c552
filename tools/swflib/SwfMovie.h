// A whole SWF file: the header (FWS, or CWS whose body after the first eight bytes is zlib
// compressed) and its tags.
#pragma once

#include <filesystem>

#include "SwfTags.h"

namespace fennick::swf {

struct Movie {
  uint8_t version = 9;
  bool compressed = false;  // CWS on write; set from the file on read
  Rect frameSize = PixelRect(400, 400);
  double frameRate = 24.0;  // 8.8 fixed point in the file
  uint16_t frameCount = 1;
  std::vector<Tag> tags;  // without the closing End; the writer appends it
};

Bytes WriteMovie(const Movie& movie);
Movie ReadMovie(const Bytes& data);

// File forms (see FileAccess.h); errors carry the file name and the reason. A failed save
// leaves an earlier file of that name as it was.
Movie LoadMovie(const std::filesystem::path& file);
void SaveMovie(const std::filesystem::path& file, const Movie& movie);

// Number of ShowFrame tags in a tag list (the frame count a header should carry).
uint16_t CountFrames(const std::vector<Tag>& tags);

}  // namespace fennick::swf
