#include "ControlsTestSupport.h"
#include "SkCommon.h"

#include <QFontMetrics>
#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr TColor Red = RGB(255, 0, 0), Blue = RGB(0, 0, 255), Face = RGB(240, 240, 240);
constexpr TColor Shadow = RGB(160, 160, 160), White = RGB(255, 255, 255);

struct DrawCase {
  const char* Name;
  std::function<TRect(QPainter&)> Draw;
  TRect Inside;  // the rectangle the routine reports as left inside
  std::vector<TPixel> Pixels;
};

// A drawing that reports no rectangle.
std::function<TRect(QPainter&)> Draws(std::function<void(QPainter&)> Draw) {
  return [Draw](QPainter& p) {
    Draw(p);
    return TRect{};
  };
}

void CheckDrawCases(const std::vector<DrawCase>& Cases) {
  for (const DrawCase& c : Cases) {
    TRect inside;
    const QImage canvas = Painted(14, 14, [&](QPainter& p) { inside = c.Draw(p); });
    EXPECT_EQ(inside, c.Inside) << c.Name;
    ExpectPixels(canvas, c.Pixels, c.Name);
  }
}

TEST(SkCommonDrawing, BordersOwnTheirCornersAndReportTheInside) {
  // clang-format off
  CheckDrawCases({
      {"sides: right and bottom own the shared corners",
       [](QPainter& p) { return DrawSides(p, {1, 1, 6, 5}, Red, Blue); }, {2, 2, 5, 4},
       {{1, 1, Red}, {3, 1, Red}, {1, 2, Red}, {5, 1, Blue}, {1, 4, Blue}, {5, 4, Blue},
        {3, 4, Blue}, {5, 2, Blue}, {3, 2, Sentinel}, {0, 0, Sentinel}, {6, 1, Sentinel}}},
      {"sides in clNone draw nothing but still shrink",
       [](QPainter& p) { return DrawSides(p, {1, 1, 6, 5}, clNone, clNone, sdLeft | sdTop); },
       {2, 2, 6, 5}, {{1, 1, Sentinel}, {1, 3, Sentinel}, {3, 1, Sentinel}}},
      {"no style leaves the rect", [](QPainter& p) { return DrawBorder(p, {2, 2, 8, 8}, fsNone); },
       {2, 2, 8, 8}, {{2, 2, Sentinel}}},
      {"raised: two rings", [](QPainter& p) { return DrawBorder(p, {0, 0, 5, 5}, fsRaised); },
       {2, 2, 3, 3},
       {{0, 0, cl3DLight}, {4, 0, cl3DDkShadow}, {0, 4, cl3DDkShadow}, {1, 1, White},
        {3, 1, Shadow}, {1, 3, Shadow}, {2, 2, Sentinel}}},
      {"groove on left and top closes the open ends",
       [](QPainter& p) { return DrawBorderSides(p, {0, 0, 6, 6}, fsGroove, sdLeft | sdTop); },
       {2, 2, 6, 6},
       {{0, 0, Shadow}, {4, 0, Shadow}, {5, 0, Shadow}, {0, 5, Shadow}, {1, 1, White},
        {5, 1, White}, {1, 5, White}, {2, 2, Sentinel}}},
      {"flat bold: two rings of shadow",
       [](QPainter& p) { return DrawBorder(p, {0, 0, 6, 6}, fsFlatBold); }, {2, 2, 4, 4},
       {{0, 0, Shadow}, {1, 1, Shadow}, {4, 4, Shadow}, {2, 2, Sentinel}}},
      {"colour border: status is darker over lighter",
       [](QPainter& p) { return DrawColorBorder(p, {0, 0, 4, 4}, clBtnFace, fsStatus); },
       {1, 1, 3, 3}, {{0, 0, RGB(187, 187, 187)}, {3, 3, White}, {3, 0, White}}},
      {"box", [](QPainter& p) { return DrawBox(p, {1, 1, 4, 4}, Red); }, {2, 2, 3, 3},
       {{1, 1, Red}, {3, 3, Red}, {2, 2, Sentinel}}},
      {"focus dots on every second pixel",
       [](QPainter& p) { return DrawFocusBorder(p, {0, 0, 5, 5}); }, {1, 1, 4, 4},
       {{0, 0, Sentinel}, {1, 0, clBlack}, {2, 0, Sentinel}, {3, 0, clBlack}, {0, 1, clBlack},
        {0, 2, Sentinel}, {4, 1, clBlack}, {1, 4, clBlack}, {4, 3, clBlack}}},
      {"rounded flat cuts its corners",
       [](QPainter& p) { return DrawRoundedFlatBorder(p, {0, 0, 6, 6}, Red); }, {2, 2, 4, 4},
       {{0, 0, Sentinel}, {1, 0, Sentinel}, {0, 1, Sentinel}, {1, 1, Red}, {2, 0, Red}, {0, 2, Red},
        {4, 4, Red}, {5, 5, Sentinel}, {5, 3, Red}}},
  });
  // clang-format on
}

TEST(SkCommonDrawing, CompositeBorderAndEditFrame) {
  TInnerOuterBorders b;
  b.BorderOuter = fsFlat;
  b.FlatColor = Red;
  b.BorderWidth = 1;
  b.BorderColor = Blue;
  b.BorderInner = fsFlat;
  b.CutInnerFlatCorners = true;
  // clang-format off
  CheckDrawCases({
      {"flat outer, one ring of border colour, inner flat with cut corners",
       [&b](QPainter& p) { return DrawInnerOuterBorders(p, {0, 0, 8, 8}, b); }, {3, 3, 5, 5},
       {{0, 0, Red}, {7, 7, Red}, {1, 1, Blue}, {6, 6, Blue}, {2, 2, Sentinel}, {3, 2, Red},
        {2, 3, Red}, {5, 5, Sentinel}, {3, 3, Sentinel}}},
      {"edit frame: background ring, then a flat left side",
       Draws([](QPainter& p) { DrawFrame(p, 6, 6, fsFlat, RGB(1, 200, 3), Red, sdLeft, false); }),
       {},
       {{0, 0, Red}, {0, 5, Red}, {5, 0, RGB(1, 200, 3)}, {1, 1, RGB(1, 200, 3)},
        {4, 4, RGB(1, 200, 3)}, {2, 2, Sentinel}}},
  });
  // clang-format on
}

TEST(SkCommonDrawing, PercentBarsAtTheirPercentages) {
  struct Case {
    int Percent;
    TOrientation Orientation;
    int Width, Height;
    int BarEnd;  // first pixel beyond the bar along its length, from the start edge
  };
  const Case cases[] = {
      {0, orHorizontal, 100, 6, 0},     {25, orHorizontal, 100, 6, 25},
      {50, orHorizontal, 100, 6, 50},   {100, orHorizontal, 100, 6, 100},
      {150, orHorizontal, 100, 6, 100}, {-5, orHorizontal, 100, 6, 0},
      {50, orHorizontal, 7, 6, 4},      {50, orHorizontal, 5, 6, 2},  // halves go to even
      {25, orVertical, 6, 100, 25},
  };
  for (const Case& c : cases) {
    TPercentBar bar;
    bar.Percent = c.Percent;
    bar.Orientation = c.Orientation;
    const QImage canvas = Painted(c.Width, c.Height, [&](QPainter& p) {
      DrawPercentBar(p, {0, 0, c.Width, c.Height}, bar, Red, Blue);
    });
    const bool vertical = c.Orientation == orVertical;
    const int length = vertical ? c.Height : c.Width;
    const auto at = [&](int Along) {  // pixel Along from the bar's start edge
      return vertical ? PixelAt(canvas, 2, c.Height - 1 - Along) : PixelAt(canvas, Along, 2);
    };
    if (c.BarEnd > 0) {
      EXPECT_EQ(at(c.BarEnd - 1), Red) << c.Percent << "%";
    }
    if (c.BarEnd < length) {
      EXPECT_EQ(at(c.BarEnd), Blue) << c.Percent << "%";
    }
    EXPECT_EQ(at(0), c.BarEnd > 0 ? Red : Blue) << c.Percent << "%";
  }
}

TEST(SkCommonDrawing, PercentBarTexts) {
  TPercentBar bar;
  bar.Percent = 25;
  EXPECT_EQ(PercentBarText(bar), QString());
  bar.ShowPercent = true;
  EXPECT_EQ(PercentBarText(bar), QStringLiteral("25%"));
  bar.Percent = 250;
  EXPECT_EQ(PercentBarText(bar), QStringLiteral("100%"));
  bar.ShowParts = true;
  bar.PartsComplete = 3;
  bar.TotalParts = 7;
  EXPECT_EQ(PercentBarText(bar), QStringLiteral("3 / 7"));
}

TEST(SkCommonDrawing, LedBarsLightWholeSegments) {
  struct Case {
    const char* Name;
    TOrientation Orientation;
    int Length, Segments, Percent;
    std::vector<std::pair<int, TColor>> Along;  // pixel along the centre line from the top/left
  };
  const Case cases[] = {
      // 60 pixels ask too much of 20 segments: 10 of 6 pixels.
      {"half of 60 px",
       orHorizontal,
       60,
       20,
       50,
       {{0, Blue}, {1, Red}, {4, Red}, {5, Blue}, {25, Red}, {29, Blue}, {31, Blue}}},
      {"full", orHorizontal, 60, 20, 100, {{55, Red}, {58, Red}, {59, Blue}}},
      {"empty", orHorizontal, 60, 20, 0, {{1, Blue}, {55, Blue}}},
      {"margins centre the segments",
       orHorizontal,
       100,
       8,
       100,
       {{0, Blue}, {1, Blue}, {2, Blue}, {3, Red}, {96, Red}, {97, Blue}, {99, Blue}}},
      {"vertical grows from the bottom",
       orVertical,
       60,
       10,
       25,
       {{55, Red}, {49, Red}, {43, Blue}, {1, Blue}}},
      {"no segments", orHorizontal, 60, 0, 50, {{0, Blue}, {30, Blue}}},
  };
  for (const Case& c : cases) {
    const bool vertical = c.Orientation == orVertical;
    const TRect bounds = vertical ? TRect{0, 0, 6, c.Length} : TRect{0, 0, c.Length, 6};
    const QImage canvas = Painted(bounds.Right, bounds.Bottom, [&](QPainter& p) {
      DrawLEDProgressBar(p, bounds, c.Orientation, Red, Blue, c.Segments, c.Percent, false, false);
    });
    for (const auto& [along, color] : c.Along)
      EXPECT_EQ(vertical ? PixelAt(canvas, 2, along) : PixelAt(canvas, along, 2), color)
          << c.Name << " at " << along;
  }
}

TEST(SkCommonDrawing, GlyphsByHand) {
  const TSkGlyphColors normal;
  TSkGlyphColors checked = normal, disabled = normal, grayed = normal, hot = normal;
  checked.State = cbChecked;
  disabled.State = cbChecked;
  disabled.DrawState = gdsDisabled;
  disabled.DisabledColor = Face;
  grayed.State = cbGrayed;
  hot.DrawState = gdsHot;
  hot.HotColor = Red;
  const TColor tick = ColorToRGB(clWindowText);
  // clang-format off
  CheckDrawCases({
      {"arrow down",
       Draws([](QPainter& p) { DrawArrow(p, {0, 0, 9, 9}, vsClassic, true, adDown); }), {},
       {{4, 5, clBlack}, {3, 5, Sentinel}, {3, 4, clBlack}, {1, 2, clBlack}, {7, 2, clBlack},
        {0, 2, Sentinel}, {4, 1, Sentinel}}},
      {"arrow up",
       Draws([](QPainter& p) { DrawArrow(p, {0, 0, 9, 9}, vsClassic, true, adUp); }), {},
       {{4, 2, clBlack}, {3, 2, Sentinel}, {1, 5, clBlack}, {7, 5, clBlack}, {4, 6, Sentinel}}},
      {"arrow left",
       Draws([](QPainter& p) { DrawArrow(p, {0, 0, 9, 9}, vsClassic, true, adLeft); }), {},
       {{2, 4, clBlack}, {2, 3, Sentinel}, {5, 1, clBlack}, {5, 7, clBlack}, {6, 4, Sentinel}}},
      {"arrow right, disabled, even height",
       Draws([](QPainter& p) { DrawArrow(p, {0, 0, 9, 10}, vsClassic, false, adRight); }),
       {}, {{5, 4, Shadow}, {5, 3, Sentinel}, {2, 1, Shadow}, {2, 7, Shadow}, {6, 4, Sentinel}}},
      {"drop-down arrow on black",
       Draws([](QPainter& p) { DrawDropDownArrow(p, {0, 0, 9, 9}, vsClassic, true, clBlack); }),
       {},
       {{4, 6, cl3DDkShadow}, {1, 3, cl3DDkShadow}, {7, 3, cl3DDkShadow}, {0, 3, Sentinel},
        {4, 7, Sentinel}}},
      {"close cross", Draws([](QPainter& p) { DrawCloseCross(p, {0, 0, 12, 11}, Red); }), {},
       {{2, 2, Red}, {9, 2, Red}, {5, 5, Red}, {6, 5, Red}, {0, 0, Sentinel}, {5, 2, Sentinel}}},
      {"check box unchecked",
       Draws([&](QPainter& p) { DrawCheckBoxGlyph(p, {0, 0, 13, 13}, normal); }), {},
       {{0, 0, Shadow}, {12, 12, Shadow}, {1, 1, White}, {3, 5, White}, {13, 13, Sentinel}}},
      {"check box checked",
       Draws([&](QPainter& p) { DrawCheckBoxGlyph(p, {0, 0, 13, 13}, checked); }), {},
       {{3, 5, tick}, {3, 7, tick}, {3, 4, White}, {3, 8, White}, {6, 8, tick}, {9, 3, tick},
        {9, 5, tick}, {9, 6, White}}},
      {"check box disabled",
       Draws([&](QPainter& p) { DrawCheckBoxGlyph(p, {0, 0, 13, 13}, disabled); }), {},
       {{1, 1, Face}, {3, 5, Shadow}}},
      {"check box grayed",
       Draws([&](QPainter& p) { DrawCheckBoxGlyph(p, {0, 0, 13, 13}, grayed); }), {},
       {{2, 2, White}, {3, 3, tick}, {9, 9, tick}, {10, 10, White}}},
      {"check box hot frame",
       Draws([&](QPainter& p) { DrawCheckBoxGlyph(p, {0, 0, 13, 13}, hot); }), {},
       {{0, 0, Red}, {1, 1, Red}, {11, 11, Red}, {2, 2, White}}},
      {"radio checked",
       Draws([&](QPainter& p) { DrawRadioButtonGlyph(p, {0, 0, 13, 13}, checked); }), {},
       {{6, 6, tick}, {0, 0, Sentinel}, {6, 0, Shadow}, {3, 6, White}}},
  });
  // clang-format on
}

TEST(SkCommonDrawing, TextHelpers) {
  struct AccelCase {
    const char* Caption;
    const char* Expected;
  };
  for (const AccelCase& c : {AccelCase{"&Open", "Open"}, AccelCase{"Save && Exit", "Save & Exit"},
                             AccelCase{"Tail&", "Tail&"}, AccelCase{"a&&&b", "a&b"}})
    EXPECT_EQ(RemoveAccelChars(QString::fromLatin1(c.Caption)), QString::fromLatin1(c.Expected))
        << c.Caption;
  EXPECT_EQ(CenterRect({0, 0, 10, 10}, 4, 2), (TRect{3, 4, 7, 6}));
  EXPECT_EQ(CenterRect({0, 0, 5, 5}, 8, 8), (TRect{-1, -1, 7, 7}));  // truncated toward zero
  const QFont font;
  EXPECT_EQ(GetFontLineHeight(font), QFontMetrics(font).height() + 2);
  QImage canvas = SentinelCanvas(200, 40);
  QPainter p(&canvas);
  const TRect measured = DrawString(p, QStringLiteral("&Hello"), {5, 6, 200, 40}, DT_CALCRECT);
  EXPECT_EQ(measured.Left, 5);
  // The mnemonic mark takes no room; without prefix handling it does.
  EXPECT_EQ(measured, DrawString(p, QStringLiteral("Hello"), {5, 6, 200, 40}, DT_CALCRECT));
  EXPECT_LT(
      measured.Width(),
      DrawString(p, QStringLiteral("&Hello"), {5, 6, 200, 40}, DT_CALCRECT | DT_NOPREFIX).Width());
  EXPECT_EQ(measured.Height(), QFontMetrics(p.font()).height());
  EXPECT_EQ(PixelAt(canvas, 6, 7), Sentinel);  // measuring draws nothing
}

}  // namespace
