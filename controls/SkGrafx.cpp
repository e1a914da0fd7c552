#include "SkGrafx.h"

#include <QHash>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

// The fixed system colour table, indexed as the platform numbers its system colours.
constexpr std::array<TColor, 31> SystemColors = {
    RGB(200, 200, 200),  // scroll bar
    RGB(0, 0, 0),        // desktop
    RGB(153, 180, 209),  // active caption
    RGB(191, 205, 219),  // inactive caption
    RGB(240, 240, 240),  // menu
    RGB(255, 255, 255),  // window
    RGB(100, 100, 100),  // window frame
    RGB(0, 0, 0),        // menu text
    RGB(0, 0, 0),        // window text
    RGB(0, 0, 0),        // caption text
    RGB(180, 180, 180),  // active border
    RGB(244, 247, 252),  // inactive border
    RGB(171, 171, 171),  // application workspace
    RGB(51, 153, 255),   // highlight
    RGB(255, 255, 255),  // highlight text
    RGB(240, 240, 240),  // button face
    RGB(160, 160, 160),  // button shadow
    RGB(109, 109, 109),  // grey text
    RGB(0, 0, 0),        // button text
    RGB(67, 78, 84),     // inactive caption text
    RGB(255, 255, 255),  // button highlight
    RGB(105, 105, 105),  // 3-D dark shadow
    RGB(227, 227, 227),  // 3-D light
    RGB(0, 0, 0),        // info text
    RGB(255, 255, 225),  // info background
    RGB(0, 0, 0),        // (unused slot)
    RGB(0, 102, 204),    // hot light
    RGB(185, 209, 234),  // gradient active caption
    RGB(215, 228, 242),  // gradient inactive caption
    RGB(51, 153, 255),   // menu highlight
    RGB(240, 240, 240),  // menu bar
};

QRgb ToQRgb(TColor Color) {
  const TColor c = ColorToRGB(Color);
  return qRgb(GetRValue(c), GetGValue(c), GetBValue(c));
}

// A copy of Bitmap with every pixel of the key colour fully transparent. Skins draw the
// same few bitmaps over and over, so the copies are kept (keyed by image and colour).
const QImage& KeyedCopy(const QImage& Bitmap, TColor TransparentColor) {
  static QHash<QPair<qint64, TColor>, QImage> cache;
  const QPair<qint64, TColor> key(Bitmap.cacheKey(), TransparentColor);
  auto found = cache.constFind(key);
  if (found != cache.constEnd()) return *found;
  if (cache.size() >= 64) cache.clear();
  QImage keyed = Bitmap.convertToFormat(QImage::Format_ARGB32);
  const QRgb transparent = ToQRgb(TransparentColor) & RGB_MASK;
  for (int y = 0; y < keyed.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(keyed.scanLine(y));
    for (int x = 0; x < keyed.width(); ++x)
      if ((line[x] & RGB_MASK) == transparent) line[x] = 0;
  }
  return *cache.insert(key, keyed);
}

// Colours of a run of Count pixels from one colour toward another: each channel in 16.16 fixed
// point, advanced per pixel by (target - start) / Steps truncated toward zero. With Steps equal
// to Count the run stops one step short of To; with Count - 1 it ends on To.
std::vector<QRgb> Ramp(TColor From, TColor To, int Count, int Steps) {
  std::vector<QRgb> colors;
  if (Count <= 0) return colors;
  const int n = std::max(Steps, 1);
  const TColor a = ColorToRGB(From), b = ColorToRGB(To);
  const int start[3] = {GetRValue(a), GetGValue(a), GetBValue(a)};
  const int stop[3] = {GetRValue(b), GetGValue(b), GetBValue(b)};
  int64_t step[3];
  for (int c = 0; c < 3; ++c) step[c] = ((int64_t(stop[c]) << 16) - (int64_t(start[c]) << 16)) / n;
  colors.reserve(size_t(Count));
  for (int k = 0; k < Count; ++k) {
    int channel[3];
    for (int c = 0; c < 3; ++c) channel[c] = int(((int64_t(start[c]) << 16) + k * step[c]) >> 16);
    colors.push_back(qRgb(channel[0], channel[1], channel[2]));
  }
  return colors;
}

int MinBandWidth(uint8_t ColorStep, bool BoxKind) {
  if (ColorStep == 0) return 1;
  if (ColorStep > 8) return (BoxKind ? 256 : 255) / ColorStep + 1;
  return ColorStep;
}

// A band keeps its first colour until it is at least MinWidth long and the colour changes.
void Band(std::vector<QRgb>& Colors, int MinWidth) {
  size_t start = 0;
  while (start < Colors.size()) {
    const QRgb color = Colors[start];
    size_t end = start + 1;
    while (end < Colors.size() && (int(end - start) < MinWidth || Colors[end] == color))
      Colors[end++] = color;
    start = end;
  }
}

std::vector<QRgb> BandedRamp(TColor From, TColor To, int Count, int MinWidth, int Steps = 0) {
  std::vector<QRgb> colors = Ramp(From, To, Count, Steps > 0 ? Steps : Count);
  Band(colors, MinWidth);
  return colors;
}

// Both edges StartColor, the centre line StopColor: one ramp from the centre out to the start
// edge, one from the far edge in toward the centre.
std::vector<QRgb> CenterRamp(TColor StartColor, TColor StopColor, int Length, int MinWidth) {
  const int center = Length / 2;
  std::vector<QRgb> line(static_cast<size_t>(Length));
  const std::vector<QRgb> inner = BandedRamp(StopColor, StartColor, center + 1, MinWidth, center);
  for (int j = 0; j <= center; ++j) line[size_t(center - j)] = inner[size_t(j)];
  const std::vector<QRgb> outer = BandedRamp(StartColor, StopColor, Length - 1 - center, MinWidth);
  for (size_t j = 0; j < outer.size(); ++j) line[size_t(Length) - 1 - j] = outer[j];
  return line;
}

void FillLinear(QImage& Image, const std::vector<QRgb>& Line, bool AlongY) {
  for (int y = 0; y < Image.height(); ++y)
    for (int x = 0; x < Image.width(); ++x) Image.setPixel(x, y, Line[size_t(AlongY ? y : x)]);
}

// Bands run across the diagonal: band k holds the pixels with x / sx + y / sy in [k, k + 1),
// sx and sy being how far the band corners move along the edges per step.
void FillDiagonal(QImage& Image, TColor StartColor, TColor StopColor, bool Up, int MinWidth) {
  const int w = Image.width(), h = Image.height();
  const int n = int(std::sqrt(double(w) * w + double(h) * h)) + 1;
  const int half = n / 2;
  const double sx = double((int64_t(w) << 16) / half) / 65536.0;
  const double sy = double((int64_t(h) << 16) / half) / 65536.0;
  const std::vector<QRgb> colors = BandedRamp(StartColor, StopColor, n, MinWidth);
  for (int y = 0; y < h; ++y) {
    const int fromStart = Up ? h - 1 - y : y;
    for (int x = 0; x < w; ++x) {
      const int band = std::min(int(x / sx + fromStart / sy), n - 1);
      Image.setPixel(x, y, colors[size_t(band)]);
    }
  }
}

// Nested rectangles from the centre (StopColor) out to the edges (StartColor), computed for
// the upper-left quadrant and mirrored into the other three.
void FillBox(QImage& Image, TGradientDirection Direction, TColor StartColor, TColor StopColor,
             int MinWidth) {
  const int w = Image.width(), h = Image.height();
  Image.fill(ToQRgb(StartColor));
  if (ColorToRGB(StartColor) == ColorToRGB(StopColor) || w < 5 || h <= 4) return;
  int hw = (w - 1) >> 1, hh = (h - 1) >> 1;
  if (Direction == gdHorizontalBox || Direction == gdBigSquareBox) hw -= w / 4;
  if (Direction == gdVerticalBox || Direction == gdBigSquareBox) hh -= h / 4;
  const int n = std::max(hw, hh) + 1;
  const int64_t stepX = (int64_t(hw) << 16) / n, stepY = (int64_t(hh) << 16) / n;
  const std::vector<QRgb> colors = BandedRamp(StopColor, StartColor, n, MinWidth);
  const int qw = w - (w >> 1), qh = h - (h >> 1);  // the quadrant, centre lines included
  for (int y = 0; y < qh; ++y)
    for (int x = 0; x < qw; ++x) {
      int band = 0;
      while (band < n && !(x >= ((int64_t(hw) << 16) - band * stepX) >> 16 &&
                           y >= ((int64_t(hh) << 16) - band * stepY) >> 16))
        ++band;
      if (band < n) Image.setPixel(x, y, colors[size_t(band)]);
    }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (x >= qw || y >= qh)
        Image.setPixel(x, y, Image.pixel(x >= qw ? w - 1 - x : x, y >= qh ? h - 1 - y : y));
}

}  // namespace

TColor ColorToRGB(TColor Color) {
  if ((Color & 0xFF000000) != 0xFF000000) return Color;
  const TColor index = Color & 0xFF;
  return index < SystemColors.size() ? SystemColors[index] : clBlack;
}

QColor ToQColor(TColor Color) { return QColor(ToQRgb(Color)); }

TColor FromQColor(const QColor& Color) { return RGB(Color.red(), Color.green(), Color.blue()); }

void FillRect(QPainter& Canvas, const TRect& Rect, TColor Color) {
  if (!Rect.IsEmpty()) Canvas.fillRect(Rect.ToQRect(), ToQColor(Color));
}

void SetPixel(QPainter& Canvas, int X, int Y, TColor Color) {
  Canvas.fillRect(X, Y, 1, 1, ToQColor(Color));
}

void StretchTransparentBitmapRect(QPainter& DestCanvas, const QImage& Bitmap, const TRect& DestRect,
                                  const TRect& SrcRect, TColor TransparentColor) {
  if (Bitmap.isNull() || DestRect.IsEmpty() || SrcRect.IsEmpty()) return;
  DestCanvas.save();
  DestCanvas.setRenderHint(QPainter::SmoothPixmapTransform, false);
  DestCanvas.drawImage(DestRect.ToQRect(), KeyedCopy(Bitmap, TransparentColor), SrcRect.ToQRect());
  DestCanvas.restore();
}

void CopyTransparentBitmapRect(QPainter& DestCanvas, const QImage& Bitmap, const TRect& DestRect,
                               const TRect& SrcRect, TColor TransparentColor) {
  StretchTransparentBitmapRect(DestCanvas, Bitmap, DestRect, SrcRect, TransparentColor);
}

void TileTransparentBitmap(QPainter& DestCanvas, const QImage& Bitmap, const TRect& Rect,
                           TColor TransparentColor) {
  const int bw = Bitmap.width(), bh = Bitmap.height();
  if (bw <= 0 || bh <= 0) return;
  for (int y = Rect.Top; y < Rect.Bottom; y += bh)
    for (int x = Rect.Left; x < Rect.Right; x += bw) {
      const int w = std::min(bw, Rect.Right - x), h = std::min(bh, Rect.Bottom - y);
      CopyTransparentBitmapRect(DestCanvas, Bitmap, {x, y, x + w, y + h}, {0, 0, w, h},
                                TransparentColor);
    }
}

void DrawTransparentBitmap(QPainter& DestCanvas, const QImage& Bitmap, const TRect& DestRect,
                           TColor TransparentColor) {
  CopyTransparentBitmapRect(DestCanvas, Bitmap, DestRect, {0, 0, Bitmap.width(), Bitmap.height()},
                            TransparentColor);
}

void FlipBitmapVertically(QImage& Bitmap) { Bitmap.mirror(false, true); }

void PaintGradient(QPainter& Canvas, const TRect& Bounds, TGradientDirection Direction,
                   TColor StartColor, TColor StopColor, uint8_t ColorStep) {
  const int w = std::abs(Bounds.Width()), h = std::abs(Bounds.Height());
  if (w == 0 || h == 0) return;
  QImage image(w, h, QImage::Format_RGB32);
  const bool box = Direction == gdHorizontalBox || Direction == gdVerticalBox ||
                   Direction == gdSquareBox || Direction == gdBigSquareBox;
  const int minWidth = MinBandWidth(ColorStep, box);
  switch (Direction) {
    case gdHorizontalEnd:
      FillLinear(image, BandedRamp(StartColor, StopColor, h, minWidth), true);
      break;
    case gdVerticalEnd:
      FillLinear(image, BandedRamp(StartColor, StopColor, w, minWidth), false);
      break;
    case gdHorizontalCenter:
      FillLinear(image, CenterRamp(StartColor, StopColor, h, minWidth), true);
      break;
    case gdVerticalCenter:
      FillLinear(image, CenterRamp(StartColor, StopColor, w, minWidth), false);
      break;
    case gdDiagonalUp:
    case gdDiagonalDown:
      if (ColorToRGB(StartColor) == ColorToRGB(StopColor))
        image.fill(ToQRgb(StartColor));
      else
        FillDiagonal(image, StartColor, StopColor, Direction == gdDiagonalUp, minWidth);
      break;
    default:
      FillBox(image, Direction, StartColor, StopColor, minWidth);
      break;
  }
  Canvas.drawImage(Bounds.Left, Bounds.Top, image);
}
