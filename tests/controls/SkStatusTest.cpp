#include "ControlsTestSupport.h"
#include "SkLabel.h"
#include "SkStatus.h"

#include <QFontMetrics>
#include <gtest/gtest.h>

namespace {

TEST(SkStatusPane, ContentInsideFrameAndBorder) {
  struct Case {
    TFrameStyle Style;
    int BorderWidth, Inset;
  };
  for (const Case& c :
       {Case{fsNone, 3, 3}, Case{fsFlat, 1, 2}, Case{fsStatus, 2, 3}, Case{fsPopup, 0, 1},
        Case{fsGroove, 1, 3}, Case{fsButtonUp, 0, 2}, Case{fsFlatBold, 2, 4}}) {
    TSkStatusPanePaint pane;
    pane.FrameStyle = c.Style;
    pane.BorderWidth = c.BorderWidth;
    EXPECT_EQ(StatusPaneContentRect({0, 0, 100, 20}, pane),
              (TRect{c.Inset, c.Inset, 100 - c.Inset, 20 - c.Inset}))
        << c.Style;
  }
}

TEST(SkStatusPane, FlatFrameLeavesCornersAndTransparentBackground) {
  const TColor frame = AdjustColor(clBtnShadow, 30), fill = RGB(250, 240, 200);
  TSkStatusPanePaint pane;
  pane.Color = fill;
  const auto paint = [&] {
    return Painted(40, 20, [&](QPainter& p) { PaintStatusPane(p, {0, 0, 40, 20}, pane); });
  };
  ExpectPixels(paint(),
               {{0, 0, Sentinel},
                {1, 1, Sentinel},
                {2, 1, frame},
                {1, 2, frame},
                {38, 18, Sentinel},
                {37, 18, frame},
                {3, 3, Sentinel}},
               "transparent");
  pane.Transparent = false;
  ExpectPixels(paint(), {{0, 0, fill}, {1, 1, fill}, {3, 3, fill}, {2, 1, frame}}, "filled");
}

TEST(SkStatusPane, AutoSizeFollowsTheCaption) {
  TSkCustomStatusPane pane;
  pane.SetAutoSize(true);
  EXPECT_EQ(pane.width(), 40);
  pane.SetCaption(QStringLiteral("Converting"));
  const int text =
      QFontMetrics(pane.font())
          .boundingRect(QRect(0, 0, 1000, 100), Qt::TextSingleLine, QStringLiteral("Converting"))
          .width();
  EXPECT_EQ(pane.width(), 2 + text + 8);
  pane.SetBorderWidth(4);
  EXPECT_EQ(pane.width(), 8 + text + 8);
  pane.SetCaption(QString());
  EXPECT_EQ(pane.width(), 40);
}

TEST(SkStatusPane, BlinksInStepWithLabels) {
  TSkManualClock clock;
  TSkCustomStatusPane pane;
  TSkLabel label;
  pane.SetFontColor(RGB(0, 0, 0));
  label.SetFontColor(RGB(0, 0, 0));
  pane.SetBlinkColor(RGB(0, 0, 255));
  label.SetBlinkColor(RGB(0, 0, 255));
  pane.SetBlinking(true);
  label.SetBlinking(true);
  for (int phase = 1; phase <= 4; ++phase) {
    clock.Advance(500);
    const TColor expected = phase % 2 ? RGB(0, 0, 0) : RGB(0, 0, 255);
    EXPECT_EQ(pane.TextColor(), expected) << phase;
    EXPECT_EQ(label.TextColor(), expected) << phase;
  }
}

TEST(SkProgressStatus, BarOverATransparentBack) {
  TSkProgressStatusPaint status;
  status.Bar.Percent = 50;
  status.BarColor = RGB(0, 160, 0);
  // Content (2, 2)-(98, 18), the bar one pixel in at top and bottom: 96 wide, lit to x = 50.
  const QImage image = Painted(100, 20, [&](QPainter& p) {
    PaintProgressStatus(p, {0, 0, 100, 20}, status);
  });
  ExpectPixels(image,
               {{2, 3, RGB(0, 160, 0)},
                {49, 16, RGB(0, 160, 0)},
                {50, 10, Sentinel},
                {2, 2, Sentinel},
                {2, 17, Sentinel}},
               "half");

  TSkProgressStatus pane;
  pane.SetTotalParts(3);
  pane.SetPartsComplete(2);
  EXPECT_EQ(pane.Percent(), 67);
  pane.SetPartsComplete(5);
  EXPECT_EQ(pane.PartsComplete(), 3u);
  EXPECT_EQ(pane.Percent(), 100);
  pane.SetTotalParts(10);
  EXPECT_EQ(pane.Percent(), 0);
  EXPECT_EQ(pane.PartsComplete(), 0u);
}

}  // namespace
