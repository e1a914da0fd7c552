#include "ControlsTestSupport.h"
#include "SkButton.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {

class CountingButton : public TSkCustomButton {
 public:
  int Changes = 0;

 protected:
  void ChangeState() override { ++Changes; }
};

// Sends a move with the left button held, as the window system does while dragging.
void DragTo(QWidget& Widget, QPoint At) {
  QMouseEvent move(QEvent::MouseMove, At, Widget.mapToGlobal(At), Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QApplication::sendEvent(&Widget, &move);
}

TEST(SkCustomButton, OnlyAReleaseInsideChangesTheState) {
  struct Case {
    const char* Name;
    QPoint Release;
    int Changes;
  };
  // clang-format off
  const Case cases[] = {
      {"inside", {50, 8}, 1},
      {"last pixel", {114, 16}, 1},
      {"the row below", {50, 17}, 0},
      {"outside", {200, 8}, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    CountingButton button;
    button.show();
    QTest::mousePress(&button, Qt::LeftButton, {}, {5, 5});
    EXPECT_TRUE(button.Down()) << c.Name;
    DragTo(button, c.Release);
    EXPECT_EQ(button.Down(), c.Changes == 1) << c.Name;
    QTest::mouseRelease(&button, Qt::LeftButton, {}, c.Release);
    EXPECT_FALSE(button.Down()) << c.Name;
    EXPECT_EQ(button.Changes, c.Changes) << c.Name;
  }
}

TEST(SkControlButton, ClicksOnReleaseInsideAndRepeatsWhileHeld) {
  TSkManualClock clock;
  TSkControlButton button;
  button.RepeatClicks = true;
  int clicks = 0;
  button.OnClick = [&clicks] { ++clicks; };
  button.show();
  QTest::mousePress(&button, Qt::LeftButton, {}, {8, 10});
  clock.Advance(399);
  EXPECT_EQ(clicks, 0);
  clock.Advance(1);  // the first repeat after the initial delay
  EXPECT_EQ(clicks, 1);
  clock.Advance(99);
  EXPECT_EQ(clicks, 1);
  clock.Advance(1);
  EXPECT_EQ(clicks, 2);
  clock.Advance(250);
  EXPECT_EQ(clicks, 4);
  QTest::mouseRelease(&button, Qt::LeftButton, {}, {8, 10});
  EXPECT_EQ(clicks, 5);  // the release inside clicks as well
  clock.Advance(1000);
  EXPECT_EQ(clicks, 5);  // and stops the repeats
}

TEST(SkControlButton, ReleaseBoundsAreStrict) {
  struct Case {
    const char* Name;
    bool Repeat;
    QPoint Release;
    int Clicks;
  };
  // clang-format off
  const Case cases[] = {
      {"held without repeat", false, {8, 10}, 1},
      {"last pixel", false, {16, 20}, 1},
      {"the row below", false, {8, 21}, 0},
      {"the column right of it", false, {17, 10}, 0},
      {"dragged off", true, {40, 40}, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    TSkManualClock clock;
    TSkControlButton button;
    button.RepeatClicks = c.Repeat;
    int clicks = 0;
    button.OnClick = [&clicks] { ++clicks; };
    button.show();
    QTest::mousePress(&button, Qt::LeftButton, {}, {8, 10});
    if (!c.Repeat) clock.Advance(1000);
    QTest::mouseRelease(&button, Qt::LeftButton, {}, c.Release);
    EXPECT_EQ(clicks, c.Clicks) << c.Name;
  }
}

TEST(SkControlButton, GlyphStripSetsTheCellCount) {
  struct Case {
    int Width, Height, NumGlyphs;
  };
  for (const Case& c : {Case{64, 16, 4}, Case{96, 16, 1}, Case{32, 16, 2}, Case{30, 16, 3}}) {
    TSkControlButton button;
    button.SetNumGlyphs(3);
    QImage glyph(c.Width, c.Height, QImage::Format_RGB32);
    glyph.fill(Qt::white);
    button.SetGlyph(glyph);
    EXPECT_EQ(button.NumGlyphs(), c.NumGlyphs) << c.Width << "x" << c.Height;
  }
}

TEST(SkControlButton, PaintsFrameFaceAndContentByState) {
  const TColor face = RGB(240, 240, 240), shadow = RGB(160, 160, 160), white = RGB(255, 255, 255);
  const TColor flatColor = RGB(200, 220, 250);
  struct Case {
    const char* Name;
    bool Flat, Down, MouseIn, Enabled;
    std::vector<TPixel> Pixels;
  };
  // clang-format off
  const Case cases[] = {
      {"raised", false, false, false, true,
       {{0, 0, cl3DLight}, {16, 20, cl3DDkShadow}, {1, 1, white}, {2, 2, face}, {8, 11, clBlack},
        {8, 12, face}}},
      {"pressed", false, true, false, true, {{0, 0, shadow}, {1, 1, face}, {16, 20, shadow}}},
      {"flat at rest has no frame", true, false, false, true,
       {{0, 0, flatColor}, {1, 1, flatColor}}},
      {"flat under the mouse", true, false, true, true, {{0, 0, white}, {16, 20, shadow}}},
      {"flat disabled under the mouse", true, false, true, false,
       {{0, 0, flatColor}, {8, 11, shadow}}},
  };
  // clang-format on
  for (const Case& c : cases) {
    TSkControlButtonPaint button;
    button.Bounds = {0, 0, 17, 21};
    button.Flat = c.Flat;
    button.Down = c.Down;
    button.MouseInControl = c.MouseIn;
    button.Enabled = c.Enabled;
    button.Color = flatColor;
    button.Style = cbsDown;
    const QImage canvas = Painted(17, 21, [&](QPainter& p) { PaintControlButton(p, button); });
    ExpectPixels(canvas, c.Pixels, c.Name);
  }
}

TEST(SkControlButton, GlyphCellsUpDisabledDown) {
  constexpr TColor Key = RGB(255, 0, 255);
  const TColor cells[] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255)};
  QImage strip(9, 3, QImage::Format_RGB32);
  for (int x = 0; x < 9; ++x)
    for (int y = 0; y < 3; ++y) strip.setPixelColor(x, y, ToQColor(y == 2 ? Key : cells[x / 3]));
  struct Case {
    const char* Name;
    bool Down, Enabled;
    int NumGlyphs;
    QPoint At;
    TColor Expected;
  };
  // clang-format off
  const Case cases[] = {
      {"up", false, true, 3, {7, 9}, cells[0]},
      {"disabled", false, false, 3, {7, 9}, cells[1]},
      {"down, moved by one", true, true, 3, {8, 10}, cells[2]},
      {"down with one cell", true, true, 1, {8, 10}, cells[1]},
      {"key colour shows the face", false, true, 3, {7, 11}, RGB(240, 240, 240)},
  };
  // clang-format on
  for (const Case& c : cases) {
    TSkControlButtonPaint button;
    button.Bounds = {0, 0, 17, 21};
    button.Glyph = strip;
    button.NumGlyphs = c.NumGlyphs;
    button.Down = c.Down;
    button.Enabled = c.Enabled;
    const QImage canvas = Painted(17, 21, [&](QPainter& p) { PaintControlButton(p, button); });
    EXPECT_EQ(PixelAt(canvas, c.At.x(), c.At.y()), c.Expected) << c.Name;
  }
}

}  // namespace
