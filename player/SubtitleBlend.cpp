#include "SubtitleBlend.h"

#include <algorithm>
#include <cmath>

#include "FFEntryPoints.h"

namespace {

uint8_t Clip(double value) { return uint8_t(std::clamp(std::lround(value), 0L, 255L)); }

uint8_t Mix(int old, int value, int alpha, int scale) {
  return uint8_t((old * (scale - alpha) + value * alpha + scale / 2) / scale);
}

struct TYUVA {
  int Y, U, V, A;
};

TYUVA Unpack(uint32_t yuva) {
  return {int(yuva & 0xFF), int((yuva >> 8) & 0xFF), int((yuva >> 16) & 0xFF), int(yuva >> 24)};
}

}  // namespace

uint32_t RGBAToYUVA(uint32_t argb) {
  const double r = (argb >> 16) & 0xFF;
  const double g = (argb >> 8) & 0xFF;
  const double b = argb & 0xFF;
  const uint32_t a = argb >> 24;
  const uint8_t y = Clip(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255);
  const uint8_t u = Clip(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255);
  const uint8_t v = Clip(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255);
  return uint32_t(y) | uint32_t(u) << 8 | uint32_t(v) << 16 | a << 24;
}

void ConvertPaletteToYUVA(AVSubtitleRect& rect) {
  auto* palette = reinterpret_cast<uint32_t*>(rect.data[1]);
  if (!palette) return;
  for (int n = 0; n < rect.nb_colors && n < 256; ++n) palette[n] = RGBAToYUVA(palette[n]);
}

void BlendSubtitleRect(const TAVPicture& picture, int width, int height,
                       const AVSubtitleRect& rect) {
  if (!rect.data[0] || !rect.data[1]) return;
  const auto* palette = reinterpret_cast<const uint32_t*>(rect.data[1]);
  const int left = std::max(rect.x, 0);
  const int top = std::max(rect.y, 0);
  const int right = std::min(rect.x + rect.w, width);
  const int bottom = std::min(rect.y + rect.h, height);
  if (left >= right || top >= bottom) return;
  const auto colourAt = [&](int x, int y) {
    return Unpack(
        palette[rect.data[0][size_t(y - rect.y) * size_t(rect.linesize[0]) + size_t(x - rect.x)]]);
  };
  for (int y = top; y < bottom; ++y) {
    uint8_t* luma = picture.data[0] + size_t(y) * size_t(picture.linesize[0]);
    for (int x = left; x < right; ++x) {
      const TYUVA colour = colourAt(x, y);
      luma[x] = Mix(luma[x], colour.Y, colour.A, 255);
    }
  }
  // Each chroma sample covers four pixels; those outside the rectangle count with alpha 0.
  for (int cy = top / 2; cy <= (bottom - 1) / 2; ++cy) {
    uint8_t* u = picture.data[1] + size_t(cy) * size_t(picture.linesize[1]);
    uint8_t* v = picture.data[2] + size_t(cy) * size_t(picture.linesize[2]);
    for (int cx = left / 2; cx <= (right - 1) / 2; ++cx) {
      int alpha = 0, weightedU = 0, weightedV = 0;
      for (int y = 2 * cy; y < 2 * cy + 2; ++y)
        for (int x = 2 * cx; x < 2 * cx + 2; ++x) {
          if (x < left || x >= right || y < top || y >= bottom) continue;
          const TYUVA colour = colourAt(x, y);
          alpha += colour.A;
          weightedU += colour.A * colour.U;
          weightedV += colour.A * colour.V;
        }
      if (alpha == 0) continue;
      constexpr int Full = 4 * 255;
      u[cx] = uint8_t((u[cx] * (Full - alpha) + weightedU + Full / 2) / Full);
      v[cx] = uint8_t((v[cx] * (Full - alpha) + weightedV + Full / 2) / Full);
    }
  }
}
