#include "SkCommon.h"

#include <gtest/gtest.h>

namespace {

TEST(SkCommonColors, HslRoundTripsByHand) {
  struct Case {
    TColor Color;
    int H, S, L;
  };
  const Case cases[] = {
      {RGB(255, 0, 0), 0, 240, 120},
      {RGB(128, 128, 128), 0, 0, 120},  // a grey has neither hue nor saturation
      {clBtnFace, 0, 0, 226},
      {RGB(51, 153, 255), 140, 240, 144},
  };
  for (const Case& c : cases) {
    uint8_t h, s, l;
    ColorToHSL(c.Color, h, s, l);
    EXPECT_EQ(h, c.H) << std::hex << c.Color;
    EXPECT_EQ(s, c.S) << std::hex << c.Color;
    EXPECT_EQ(l, c.L) << std::hex << c.Color;
  }
}

TEST(SkCommonColors, HslToColorByHand) {
  struct Case {
    int H, S, L;
    TColor Expected;
  };
  const Case cases[] = {
      {0, 0, 120, RGB(128, 128, 128)},  // 127.5 rounds to the even 128
      {0, 240, 120, RGB(255, 0, 0)},
      {239, 240, 120, RGB(255, 0, 0)},  // hue 239 is a full turn: back on the red side
      {80, 240, 120, RGB(0, 255, 2)},
      {0, 0, 0, clBlack},
  };
  for (const Case& c : cases)
    EXPECT_EQ(HSLToColor(uint8_t(c.H), uint8_t(c.S), uint8_t(c.L)), c.Expected)
        << c.H << "," << c.S << "," << c.L;
}

TEST(SkCommonColors, DerivedColorsByHand) {
  struct Case {
    const char* Name;
    TColor Actual, Expected;
  };
  // clang-format off
  const Case cases[] = {
      {"darker white", DarkerColor(clWhite, 10), RGB(244, 244, 244)},
      {"lighter white stays white", LighterColor(clWhite, 50), clWhite},
      {"darker black stays black", DarkerColor(clBlack, 30), clBlack},
      {"adjust by 0 keeps a system colour", AdjustColor(clBtnFace, 0), clBtnFace},
      {"adjust down", AdjustColor(clWhite, -10), RGB(244, 244, 244)},
      {"blend halves round to even", BlendColors(RGB(255, 0, 0), RGB(0, 0, 255), 128),
       RGB(128, 0, 127)},
      {"blend weight 255 is the fore colour", BlendColors(clHighlight, clBlack, 255),
       RGB(51, 153, 255)},
      {"xor", XorColors(RGB(255, 0, 15), RGB(15, 15, 15)), RGB(240, 15, 0)},
      {"complement of red", ComplementaryColor(RGB(255, 0, 0), 120), RGB(0, 252, 255)},
  };
  // clang-format on
  for (const Case& c : cases) EXPECT_EQ(c.Actual, c.Expected) << c.Name;
}

TEST(SkCommonColors, ColorsTooCloseComparesHueAndLightness) {
  EXPECT_TRUE(ColorsTooClose(clBtnFace, clWindow));
  EXPECT_FALSE(ColorsTooClose(clBlack, cl3DDkShadow));
  EXPECT_TRUE(ColorsTooClose(clBlack, RGB(40, 40, 40)));
  EXPECT_FALSE(ColorsTooClose(RGB(255, 0, 0), RGB(0, 0, 255)));
}

TEST(SkCommonColors, GradientColorSetsFollowTheVisualStyle) {
  TColor start, stop, frame;
  GetGradientBarColors(gcsMSOffice, start, stop, frame);
  EXPECT_EQ(start, RGB(219, 219, 219));  // button face 20 darker
  EXPECT_EQ(stop, clWindow);
  EXPECT_EQ(frame, RGB(198, 198, 198));
  SetUseVisualStyles(true);
  GetGradientBarColors(gcsMSOffice, start, stop, frame);
  const TColor panelFrame = GetGradientPanelFrameColor(gcsMSOffice);
  const TColor themed = GetXPThemeColor(6), unknown = GetXPThemeColor(7);
  SetUseVisualStyles(false);
  EXPECT_EQ(start, 0xEABB99u);  // the blue scheme, the other way round
  EXPECT_EQ(stop, 0xFFEFE3u);
  EXPECT_EQ(frame, 0xEABB99u);
  EXPECT_EQ(panelFrame, 0xBF7F57u);
  EXPECT_NE(themed, clBtnFace);
  EXPECT_EQ(unknown, clWhite);
  EXPECT_EQ(GetXPThemeColor(6), clBtnFace);
}

TEST(SkCommonColors, SchemeNamesInAnyCase) {
  EXPECT_EQ(XPColorSchemeFromName("Metallic"), 2);
  EXPECT_EQ(XPColorSchemeFromName("homestead"), 1);
  EXPECT_EQ(XPColorSchemeFromName("NormalColor"), 0);
  EXPECT_EQ(XPColorSchemeFromName(""), 0);
}

TEST(SkCommonColors, VersionTests) {
  const TSkWinVersion win98{1, 4, 10}, nt4{2, 4, 0}, xp{2, 5, 1}, vista{2, 6, 0}, seven{2, 6, 1};
  struct Case {
    const char* Name;
    TSkWinVersion Version;
    int Index;
    bool Exact, OrLater;
  };
  // clang-format off
  const Case cases[] = {
      {"98 is 98", win98, 2, true, true},
      {"98 is not NT 4", win98, 1, false, false},
      {"NT 4", nt4, 1, true, true},
      {"NT 4 before 2000", nt4, 4, false, false},
      {"XP", xp, 5, true, true},
      {"XP before 2003", xp, 6, false, false},
      {"Vista after XP", vista, 5, false, true},
      {"Vista", vista, 7, true, true},
      {"7 is no Vista", seven, 7, false, true},
      {"unknown index", vista, 8, false, false},
  };
  // clang-format on
  for (const Case& c : cases) {
    EXPECT_EQ(IsWinVersion(c.Index, c.Version), c.Exact) << c.Name;
    EXPECT_EQ(IsWinVersionOrLater(c.Index, c.Version), c.OrLater) << c.Name;
  }
}

}  // namespace
