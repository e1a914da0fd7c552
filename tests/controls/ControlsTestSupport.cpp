#include "ControlsTestSupport.h"

#include "QtTestApplication.h"

#include <gtest/gtest.h>

namespace {
[[maybe_unused]] testing::Environment* const Environment = AddQtTestApplication();
}  // namespace

QImage SentinelCanvas(int Width, int Height) {
  QImage image(Width, Height, QImage::Format_RGB32);
  image.fill(ToQColor(Sentinel));
  return image;
}

QImage Painted(int Width, int Height, const std::function<void(QPainter&)>& Paint) {
  QImage canvas = SentinelCanvas(Width, Height);
  QPainter painter(&canvas);
  Paint(painter);
  return canvas;
}

TColor PixelAt(const QImage& Image, int X, int Y) { return FromQColor(Image.pixelColor(X, Y)); }

void ExpectPixels(const QImage& Image, const std::vector<TPixel>& Pixels, const char* Case) {
  for (const TPixel& p : Pixels)
    EXPECT_EQ(PixelAt(Image, p.X, p.Y), ColorToRGB(p.Color))
        << Case << " at (" << p.X << ", " << p.Y << ")";
}
