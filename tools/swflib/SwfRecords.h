// The SWF records built from bit fields: RECT, MATRIX and the colour records.
// Coordinates are in twips (1/20 pixel).
#pragma once

#include "SwfStream.h"

namespace fennick::swf {

constexpr int32_t kTwipsPerPixel = 20;

struct Rect {
  int32_t xMin = 0;
  int32_t xMax = 0;
  int32_t yMin = 0;
  int32_t yMax = 0;
  bool operator==(const Rect&) const = default;
};

// Scale and rotate/skew are 16.16 fixed point; a part equal to the identity is left out.
struct Matrix {
  double scaleX = 1.0;
  double scaleY = 1.0;
  double rotateSkew0 = 0.0;
  double rotateSkew1 = 0.0;
  int32_t translateX = 0;
  int32_t translateY = 0;
  bool operator==(const Matrix&) const = default;
};

struct Rgb {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  bool operator==(const Rgb&) const = default;
};

struct Rgba {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  uint8_t alpha = 255;
  bool operator==(const Rgba&) const = default;
};

// A rectangle of the given pixel size at the origin.
Rect PixelRect(int32_t width, int32_t height);
// 0xRRGGBB as the skins and settings carry colours.
Rgb RgbFromHex(uint32_t rrggbb);

void WriteRect(Writer& out, const Rect& rect);
Rect ReadRect(Reader& in);
void WriteMatrix(Writer& out, const Matrix& matrix);
Matrix ReadMatrix(Reader& in);
void WriteRgb(Writer& out, const Rgb& colour);
Rgb ReadRgb(Reader& in);
void WriteRgba(Writer& out, const Rgba& colour);
Rgba ReadRgba(Reader& in);

}  // namespace fennick::swf
