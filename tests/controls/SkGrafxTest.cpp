#include "ControlsTestSupport.h"
#include "SkGrafx.h"

#include <gtest/gtest.h>

namespace {

constexpr TColor Red = RGB(255, 0, 0), Green = RGB(0, 255, 0), Blue = RGB(0, 0, 255);
constexpr TColor Key = RGB(255, 0, 255);

QImage Bitmap(const std::vector<std::vector<TColor>>& Rows) {
  QImage image(int(Rows[0].size()), int(Rows.size()), QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) image.setPixelColor(x, y, ToQColor(Rows[y][x]));
  return image;
}

TEST(SkGrafx, SystemColorsComeFromTheFixedTable) {
  EXPECT_EQ(ColorToRGB(clBtnFace), RGB(240, 240, 240));
  EXPECT_EQ(ColorToRGB(clBtnShadow), RGB(160, 160, 160));
  EXPECT_EQ(ColorToRGB(clWindow), RGB(255, 255, 255));
  EXPECT_EQ(ColorToRGB(clHighlight), RGB(51, 153, 255));
  EXPECT_EQ(ColorToRGB(clInfoBk), RGB(255, 255, 225));
  EXPECT_EQ(ColorToRGB(RGB(1, 2, 3)), RGB(1, 2, 3));
}

// The copy lands at DestRect (not at the canvas origin), stretched, with the key colour left out.
TEST(SkGrafx, TransparentCopiesDrawAtTheirDestination) {
  struct Case {
    const char* Name;
    TColor KeyColor;
  };
  for (const Case& c : {Case{"magenta key", Key}, Case{"black key", clBlack}}) {
    const QImage canvas = Painted(10, 10, [&](QPainter& p) {
      DrawTransparentBitmap(p, Bitmap({{Red, c.KeyColor}, {Green, Blue}}), {5, 5, 9, 9},
                            c.KeyColor);
    });
    ExpectPixels(canvas,
                 {{0, 0, Sentinel},
                  {5, 5, Red},
                  {6, 6, Red},
                  {7, 5, Sentinel},
                  {8, 6, Sentinel},
                  {5, 7, Green},
                  {8, 8, Blue},
                  {9, 9, Sentinel}},
                 c.Name);
  }
}

TEST(SkGrafx, TilesAreClippedAtTheEdgesNeverScaled) {
  const QImage tile = Bitmap({{Red, Green, Blue}, {Blue, Blue, Green}});
  struct Case {
    const char* Name;
    TRect Rect;
    std::vector<TPixel> Pixels;
  };
  // clang-format off
  const Case cases[] = {
      {"narrow last column", {0, 0, 7, 3},
       {{0, 0, Red}, {3, 0, Red}, {6, 0, Red}, {7, 0, Sentinel}, {6, 2, Red}, {2, 1, Green},
        {0, 3, Sentinel}}},
      {"rect smaller than one tile", {1, 1, 3, 2},
       {{1, 1, Red}, {2, 1, Green}, {3, 1, Sentinel}, {1, 2, Sentinel}}},
  };
  // clang-format on
  for (const Case& c : cases) {
    const QImage canvas =
        Painted(9, 5, [&](QPainter& p) { TileTransparentBitmap(p, tile, c.Rect, Key); });
    ExpectPixels(canvas, c.Pixels, c.Name);
  }
}

TEST(SkGrafx, FlipMirrorsRowsAndLeavesOneRowAlone) {
  QImage tall = Bitmap({{Red}, {Green}, {Blue}});
  FlipBitmapVertically(tall);
  ExpectPixels(tall, {{0, 0, Blue}, {0, 1, Green}, {0, 2, Red}}, "three rows");
  QImage flat = Bitmap({{Red, Blue}});
  FlipBitmapVertically(flat);
  ExpectPixels(flat, {{0, 0, Red}, {1, 0, Blue}}, "one row");
}

// Expected colours follow the 16.16 ramp: each step is (stop - start) / pixels, truncated.
TEST(SkGrafx, GradientsRampFromStartToStop) {
  struct Case {
    const char* Name;
    TGradientDirection Direction;
    TRect Bounds;
    TColor Start, Stop;
    std::vector<TPixel> Pixels;
  };
  // clang-format off
  const Case cases[] = {
      {"top to bottom", gdHorizontalEnd, {1, 1, 11, 5}, clBlack, RGB(200, 100, 40),
       {{1, 1, clBlack}, {10, 2, RGB(50, 25, 10)}, {5, 3, RGB(100, 50, 20)},
        {1, 4, RGB(150, 75, 30)}, {0, 0, Sentinel}, {11, 4, Sentinel}, {1, 5, Sentinel}}},
      {"left to right, truncated steps", gdVerticalEnd, {0, 0, 3, 2}, clBlack, RGB(100, 0, 0),
       {{0, 1, clBlack}, {1, 0, RGB(33, 0, 0)}, {2, 1, RGB(66, 0, 0)}, {3, 0, Sentinel}}},
      {"centre line stop, both edges start", gdHorizontalCenter, {0, 0, 4, 9}, clBlack,
       RGB(200, 0, 0),
       {{0, 0, clBlack}, {3, 1, RGB(50, 0, 0)}, {0, 3, RGB(150, 0, 0)}, {2, 4, RGB(200, 0, 0)},
        {0, 5, RGB(150, 0, 0)}, {1, 7, RGB(50, 0, 0)}, {3, 8, clBlack}}},
      {"diagonal down", gdDiagonalDown, {0, 0, 10, 10}, clBlack, RGB(150, 0, 0),
       {{0, 0, clBlack}, {9, 9, RGB(120, 0, 0)}, {9, 0, RGB(60, 0, 0)}}},
      {"diagonal up", gdDiagonalUp, {0, 0, 10, 10}, clBlack, RGB(150, 0, 0),
       {{0, 9, clBlack}, {9, 0, RGB(120, 0, 0)}}},
      {"equal colours flat", gdDiagonalUp, {0, 0, 4, 4}, Green, Green,
       {{0, 0, Green}, {3, 3, Green}}},
      {"square box", gdSquareBox, {0, 0, 9, 9}, clBlack, RGB(160, 0, 0),
       {{4, 4, RGB(160, 0, 0)}, {0, 0, RGB(32, 0, 0)}, {2, 3, RGB(96, 0, 0)}, {6, 4, RGB(96, 0, 0)},
        {8, 8, RGB(32, 0, 0)}, {4, 8, RGB(32, 0, 0)}}},
      {"box four pixels high is flat", gdBigSquareBox, {0, 0, 9, 4}, Blue, Red,
       {{0, 0, Blue}, {4, 2, Blue}, {8, 3, Blue}}},
      {"empty rect draws nothing", gdHorizontalEnd, {2, 2, 2, 6}, Red, Blue,
       {{2, 2, Sentinel}, {1, 3, Sentinel}}},
  };
  // clang-format on
  for (const Case& c : cases) {
    const QImage canvas = Painted(
        12, 10, [&](QPainter& p) { PaintGradient(p, c.Bounds, c.Direction, c.Start, c.Stop); });
    ExpectPixels(canvas, c.Pixels, c.Name);
  }
}

TEST(SkGrafx, ColorStepWidensBands) {
  const QImage canvas = Painted(1, 8, [&](QPainter& p) {
    PaintGradient(p, {0, 0, 1, 8}, gdHorizontalEnd, clBlack, RGB(80, 0, 0), 3);
  });
  // Steps of 10 per row; each band holds its first colour for three rows.
  ExpectPixels(canvas,
               {{0, 0, clBlack},
                {0, 2, clBlack},
                {0, 3, RGB(30, 0, 0)},
                {0, 5, RGB(30, 0, 0)},
                {0, 6, RGB(60, 0, 0)},
                {0, 7, RGB(60, 0, 0)}},
               "step 3");
}

}  // namespace
