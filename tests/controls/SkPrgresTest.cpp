#include "ControlsTestSupport.h"
#include "SkPrgres.h"

#include <gtest/gtest.h>

namespace {

constexpr TColor Bar = RGB(51, 153, 255), Back = RGB(255, 255, 255);

// A bar with the default lowered border (two pixels) around a 100-pixel interior, no text.
QImage PaintedBar(int Percent, TOrientation Orientation, TBarStyle Style = bsTraditional,
                  int Segments = 10) {
  TSkProgressBarPaint paint;
  paint.Borders.BorderOuter = fsLowered;
  paint.Bar.Percent = Percent;
  paint.Bar.Orientation = Orientation;
  paint.BarStyle = Style;
  paint.NumSegments = Segments;
  const bool vertical = Orientation == orVertical;
  const int w = vertical ? 12 : 104, h = vertical ? 104 : 12;
  return Painted(w, h, [&](QPainter& p) { PaintProgressBar(p, {0, 0, w, h}, paint); });
}

TEST(SkProgressBar, FillsItsInteriorByPercent) {
  struct Case {
    int Percent;
    TOrientation Orientation;
    std::vector<TPixel> Pixels;
  };
  // clang-format off
  const Case cases[] = {
      {0, orHorizontal, {{0, 0, clBtnShadow}, {1, 1, cl3DDkShadow}, {2, 5, Back}, {101, 5, Back}}},
      {25, orHorizontal, {{2, 5, Bar}, {26, 9, Bar}, {27, 5, Back}}},
      {50, orHorizontal, {{51, 2, Bar}, {52, 2, Back}}},
      {100, orHorizontal, {{101, 9, Bar}, {102, 5, cl3DLight}, {103, 5, clBtnHighlight}}},
      {150, orHorizontal, {{101, 9, Bar}}},
      {-20, orHorizontal, {{2, 5, Back}}},
      {25, orVertical, {{5, 101, Bar}, {5, 77, Bar}, {5, 76, Back}}},
  };
  // clang-format on
  for (const Case& c : cases)
    ExpectPixels(PaintedBar(c.Percent, c.Orientation), c.Pixels,
                 (std::to_string(c.Percent) + "%").c_str());
}

TEST(SkProgressBar, SegmentsLightFromTheStartAndFromTheBottom) {
  // 100 pixels in 10 segments of 10: at 50 % five are lit, each outlined in the back colour.
  ExpectPixels(PaintedBar(50, orHorizontal, bsLED), {{5, 5, Bar}, {11, 2, Back}, {55, 5, Back}},
               "horizontal");
  ExpectPixels(PaintedBar(50, orVertical, bsLED), {{5, 96, Bar}, {5, 5, Back}}, "vertical");
  ExpectPixels(PaintedBar(50, orHorizontal, bsLED, 0), {{5, 5, Back}, {60, 5, Back}},
               "no segments");
}

TEST(SkProgressBar, PartsSetThePercentAndANewTotalStartsOver) {
  TSkProgressBar bar;
  std::vector<int> changes;
  bar.OnChange = [&](TSkCustomProgressBar& Sender, int Percent) {
    EXPECT_EQ(&Sender, &bar);
    changes.push_back(Percent);
  };
  bar.SetTotalParts(8);
  bar.SetPartsComplete(1);  // 12.5 % rounds to the even 12
  EXPECT_EQ(bar.Percent(), 12);
  bar.SetPartsComplete(3);  // 37.5 % rounds to 38
  EXPECT_EQ(bar.Percent(), 38);
  bar.SetPartsComplete(20);
  EXPECT_EQ(bar.PartsComplete(), 8u);
  EXPECT_EQ(bar.Percent(), 100);
  bar.SetTotalParts(4);
  EXPECT_EQ(bar.PartsComplete(), 0u);
  EXPECT_EQ(bar.Percent(), 0);
  bar.SetPercent(0);
  EXPECT_EQ(changes, (std::vector<int>{12, 38, 100, 0}));
  TPercentBar untotalled;
  untotalled.Percent = 7;
  SetPercentBarParts(untotalled, 5);
  EXPECT_EQ(untotalled.PartsComplete, 0u);
  EXPECT_EQ(untotalled.Percent, 7);
}

TEST(SkProgressBar, StyleAndShapeFollowTheSettings) {
  TSkProgressBar bar;
  bar.SetBarStyle(bsLED);
  EXPECT_FALSE(bar.ShowPercent());
  EXPECT_EQ(bar.InteriorOffset(), 1);
  bar.SetBarStyle(bsGradient);
  EXPECT_TRUE(bar.ShowPercent());
  EXPECT_EQ(bar.InteriorOffset(), 0);
  bar.show();
  bar.resize(20, 100);
  EXPECT_EQ(bar.Orientation(), orVertical);
  bar.resize(100, 20);
  EXPECT_EQ(bar.Orientation(), orHorizontal);

  TSkFrameController controller;
  controller.SetFrameStyle(fsFlatBold);
  controller.SetColor(RGB(1, 2, 250));
  bar.SetFrameControllerNotifications(AllFrameNotifications & ~(1u << fcpColor));
  bar.SetFrameController(&controller);
  EXPECT_EQ(bar.BorderOuter(), fsFlatBold);
  EXPECT_EQ(bar.BackColor(), clWhite);
  bar.SetFrameControllerNotifications(AllFrameNotifications);
  controller.SetColor(RGB(9, 9, 9));
  EXPECT_EQ(bar.BackColor(), RGB(9, 9, 9));
}

}  // namespace
