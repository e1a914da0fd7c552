#include "SkinPreview.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>

namespace fennick::skins {

namespace {

// Each pixel is the average of kSub x kSub samples, which smooths the round shapes.
constexpr int kSub = 4;

struct Colour {
  uint8_t r, g, b;
};

// Colours shared with the skins' drawing code.
constexpr Colour kBackground{0x10, 0x12, 0x16};
constexpr Colour kBar{0x26, 0x2A, 0x33};
constexpr Colour kTrack{0x44, 0x4A, 0x55};
constexpr Colour kProgress{0x3C, 0xA0, 0xE6};
constexpr Colour kGlyph{0xF2, 0xF4, 0xF7};
constexpr Colour kBigButton{0x00, 0x00, 0x00};

using Inside = std::function<bool(double x, double y)>;

class Canvas {
 public:
  Canvas(int width, int height)
      : picture_{width, height, std::vector<uint8_t>(size_t(width) * height * 3)} {}

  // Covers what the shape covers; opacity blends with what is there.
  void Fill(const Inside& inside, Colour colour, double opacity = 1.0) {
    for (int y = 0; y < picture_.height; ++y)
      for (int x = 0; x < picture_.width; ++x) {
        int hits = 0;
        for (int sy = 0; sy < kSub; ++sy)
          for (int sx = 0; sx < kSub; ++sx)
            hits += inside(x + (sx + 0.5) / kSub, y + (sy + 0.5) / kSub);
        if (hits) Blend(x, y, colour, opacity * hits / (kSub * kSub));
      }
  }

  // A vertical gradient standing in for a video picture.
  void Scenery(double x0, double y0, double x1, double y1) {
    for (int y = int(y0); y < int(std::ceil(y1)); ++y)
      for (int x = int(x0); x < int(std::ceil(x1)); ++x) {
        const double t = (y - y0) / std::max(1.0, y1 - y0);
        const bool ground =
            y - y0 > (y1 - y0) * (0.62 + 0.08 * std::sin((x - x0) / std::max(1.0, x1 - x0) * 9.0));
        const Colour sky{uint8_t(40 + 60 * t), uint8_t(90 + 80 * t), uint8_t(170 + 60 * t)};
        const Colour land{uint8_t(40 + 30 * t), uint8_t(110 - 30 * t), uint8_t(50)};
        Blend(x, y, ground ? land : sky, 1.0);
      }
  }

  Picture Take() { return std::move(picture_); }

 private:
  void Blend(int x, int y, Colour c, double a) {
    if (x < 0 || y < 0 || x >= picture_.width || y >= picture_.height) return;
    uint8_t* p = &picture_.rgb[(size_t(y) * picture_.width + x) * 3];
    const uint8_t src[3] = {c.r, c.g, c.b};
    for (int i = 0; i < 3; ++i) p[i] = uint8_t(std::lround(p[i] * (1 - a) + src[i] * a));
  }

  Picture picture_;
};

Inside Box(double x0, double y0, double x1, double y1) {
  return [=](double x, double y) { return x >= x0 && x < x1 && y >= y0 && y < y1; };
}

Inside Disc(double cx, double cy, double r) {
  return [=](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; };
}

// A play triangle pointing right inside the square of side s centred at (cx, cy).
Inside PlayGlyph(double cx, double cy, double s) {
  return [=](double x, double y) {
    const double left = cx - s * 0.35, right = cx + s * 0.45;
    if (x < left || x > right) return false;
    const double half = (s / 2) * (right - x) / (right - left);
    return std::abs(y - cy) <= half;
  };
}

void DrawControls(Canvas& canvas, int w, int h, double bar) {
  const double top = h - bar;
  canvas.Fill(Box(0, top, w, h), kBar);
  canvas.Fill(PlayGlyph(bar / 2, top + bar / 2, bar * 0.5), kGlyph);
  const double trackLeft = bar, trackRight = w - bar * 0.4, trackY = top + bar / 2;
  canvas.Fill(Box(trackLeft, trackY - 1.5, trackRight, trackY + 1.5), kTrack);
  const double done = trackLeft + (trackRight - trackLeft) * 0.35;
  canvas.Fill(Box(trackLeft, trackY - 1.5, done, trackY + 1.5), kProgress);
  canvas.Fill(Disc(done, trackY, 3.0), kGlyph);
  const double cx = w / 2.0, cy = top / 2.0, r = std::min(w, int(top)) * 0.22;
  canvas.Fill(Disc(cx, cy, r), kBigButton, 0.55);
  canvas.Fill(PlayGlyph(cx + r * 0.08, cy, r * 1.1), kGlyph);
}

uint32_t Crc(const std::string& type, const std::vector<uint8_t>& data) {
  uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(type.data()), uInt(type.size()));
  // zlib treats a null buffer as a request for the initial value, so an empty chunk
  // must not reach it.
  if (!data.empty()) crc = crc32(crc, data.data(), uInt(data.size()));
  return uint32_t(crc);
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

void PutChunk(std::vector<uint8_t>& out, const std::string& type,
              const std::vector<uint8_t>& data) {
  PutU32(out, uint32_t(data.size()));
  out.insert(out.end(), type.begin(), type.end());
  out.insert(out.end(), data.begin(), data.end());
  PutU32(out, Crc(type, data));
}

}  // namespace

Picture DrawPreview(PreviewKind kind, int width, int height) {
  if (width < 16 || height < 16)
    throw std::invalid_argument("preview pictures are at least 16 x 16");
  Canvas canvas(width, height);
  canvas.Fill(Box(0, 0, width, height), kBackground);
  const double bar = kind == PreviewKind::kWithControls ? std::max(8.0, height * 0.2) : 0.0;
  // The video keeps 4:3 inside the area above the control bar, as the skins lay it out.
  const double area = height - bar, vw = std::min<double>(width, area * 4 / 3), vh = vw * 3 / 4;
  canvas.Scenery((width - vw) / 2, (area - vh) / 2, (width + vw) / 2, (area + vh) / 2);
  if (kind == PreviewKind::kWithControls) DrawControls(canvas, width, height, bar);
  return canvas.Take();
}

std::vector<uint8_t> EncodePng(const Picture& picture) {
  std::vector<uint8_t> raw;
  const size_t stride = size_t(picture.width) * 3;
  raw.reserve((stride + 1) * picture.height);
  for (int y = 0; y < picture.height; ++y) {
    raw.push_back(0);  // no filter
    raw.insert(raw.end(), picture.rgb.begin() + y * stride, picture.rgb.begin() + (y + 1) * stride);
  }
  uLongf packedSize = compressBound(uLong(raw.size()));
  std::vector<uint8_t> packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), Z_BEST_COMPRESSION) !=
      Z_OK)
    throw std::runtime_error("cannot compress the preview picture");
  packed.resize(packedSize);

  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  PutU32(header, uint32_t(picture.width));
  PutU32(header, uint32_t(picture.height));
  header.insert(header.end(),
                {8, 2, 0, 0, 0});  // 8-bit RGB, deflate, no filter choice, no interlace
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", packed);
  PutChunk(png, "IEND", {});
  return png;
}

void SavePng(const std::filesystem::path& file, const Picture& picture) {
  const std::vector<uint8_t> png = EncodePng(picture);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
  if (!out.flush()) throw std::runtime_error("cannot write \"" + file.string() + "\"");
}

}  // namespace fennick::skins
