#include "SwfRecords.h"

#include <algorithm>
#include <initializer_list>

namespace fennick::swf {

namespace {

unsigned SignedWidth(std::initializer_list<int32_t> values) {
  unsigned bits = 0;
  for (int32_t v : values) bits = std::max(bits, BitsForSigned(v));
  return bits;
}

// A scale or skew pair: presence flag, 5-bit width, then the two 16.16 values.
void WriteFixedPair(Writer& out, double first, double second) {
  const unsigned bits = SignedWidth({Fixed16(first), Fixed16(second)});
  out.WriteUB(bits, 5);
  out.WriteFB(first, bits);
  out.WriteFB(second, bits);
}

}  // namespace

Rect PixelRect(int32_t width, int32_t height) {
  return Rect{0, width * kTwipsPerPixel, 0, height * kTwipsPerPixel};
}

Rgb RgbFromHex(uint32_t rrggbb) {
  return Rgb{static_cast<uint8_t>(rrggbb >> 16), static_cast<uint8_t>(rrggbb >> 8),
             static_cast<uint8_t>(rrggbb)};
}

void WriteRect(Writer& out, const Rect& rect) {
  const unsigned bits = SignedWidth({rect.xMin, rect.xMax, rect.yMin, rect.yMax});
  out.WriteUB(bits, 5);
  for (int32_t v : {rect.xMin, rect.xMax, rect.yMin, rect.yMax}) out.WriteSB(v, bits);
  out.Align();
}

Rect ReadRect(Reader& in) {
  const unsigned bits = in.ReadUB(5);
  Rect rect;
  rect.xMin = in.ReadSB(bits);
  rect.xMax = in.ReadSB(bits);
  rect.yMin = in.ReadSB(bits);
  rect.yMax = in.ReadSB(bits);
  in.Align();
  return rect;
}

void WriteMatrix(Writer& out, const Matrix& m) {
  const bool hasScale = m.scaleX != 1.0 || m.scaleY != 1.0;
  out.WriteUB(hasScale ? 1 : 0, 1);
  if (hasScale) WriteFixedPair(out, m.scaleX, m.scaleY);
  const bool hasRotate = m.rotateSkew0 != 0.0 || m.rotateSkew1 != 0.0;
  out.WriteUB(hasRotate ? 1 : 0, 1);
  if (hasRotate) WriteFixedPair(out, m.rotateSkew0, m.rotateSkew1);
  // A zero translation still needs the 5-bit width field; zero bits then suffice.
  const unsigned bits =
      (m.translateX == 0 && m.translateY == 0) ? 0 : SignedWidth({m.translateX, m.translateY});
  out.WriteUB(bits, 5);
  out.WriteSB(m.translateX, bits);
  out.WriteSB(m.translateY, bits);
  out.Align();
}

Matrix ReadMatrix(Reader& in) {
  Matrix m;
  if (in.ReadUB(1)) {
    const unsigned bits = in.ReadUB(5);
    m.scaleX = in.ReadFB(bits);
    m.scaleY = in.ReadFB(bits);
  }
  if (in.ReadUB(1)) {
    const unsigned bits = in.ReadUB(5);
    m.rotateSkew0 = in.ReadFB(bits);
    m.rotateSkew1 = in.ReadFB(bits);
  }
  const unsigned bits = in.ReadUB(5);
  m.translateX = in.ReadSB(bits);
  m.translateY = in.ReadSB(bits);
  in.Align();
  return m;
}

void WriteRgb(Writer& out, const Rgb& c) {
  out.WriteU8(c.red);
  out.WriteU8(c.green);
  out.WriteU8(c.blue);
}

Rgb ReadRgb(Reader& in) {
  Rgb c;
  c.red = in.ReadU8();
  c.green = in.ReadU8();
  c.blue = in.ReadU8();
  return c;
}

void WriteRgba(Writer& out, const Rgba& c) {
  WriteRgb(out, Rgb{c.red, c.green, c.blue});
  out.WriteU8(c.alpha);
}

Rgba ReadRgba(Reader& in) {
  const Rgb c = ReadRgb(in);
  return Rgba{c.red, c.green, c.blue, in.ReadU8()};
}

}  // namespace fennick::swf
