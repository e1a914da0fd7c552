// Colour arithmetic, visual-style colour sets and the platform version tests.
#include "SkCommon.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace {

uint8_t RoundToByte(double Value) { return uint8_t(std::nearbyint(Value)); }

bool VisualStylesActive = false;
TSkWinVersion WinVersion;

// Gradient start, gradient stop and frame of the three colour schemes.
constexpr std::array<std::array<TColor, 3>, 3> SchemeColors = {{
    {0xFFEFE3, 0xEABB99, 0xBF7F57},
    {0xEDFFFF, 0x92C7B8, 0x77A17F},
    {0xFFF9F9, 0xD0BCBD, 0xB19F9F},
}};

// Our fixed visual-style colours, for the tests that switch the styles on.
constexpr std::array<TColor, 7> ThemeColors = {
    RGB(127, 157, 185),  // edit border
    RGB(33, 93, 198),    // normal group text
    RGB(255, 255, 255),  // special group text
    RGB(214, 223, 247),  // normal group fill
    RGB(123, 162, 231),  // bar gradient
    RGB(33, 93, 198),    // special group head fill
    RGB(0, 70, 213),     // group-box caption
};

bool SchemeInUse(TSkGradientColorStyle ColorStyle) {
  return ColorStyle == gcsMSOffice && UseVisualStyles();
}

}  // namespace

void ColorToHSL(TColor Color, uint8_t& H, uint8_t& S, uint8_t& L) {
  const TColor c = ColorToRGB(Color);
  const double r = GetRValue(c) / 255.0, g = GetGValue(c) / 255.0, b = GetBValue(c) / 255.0;
  const double max = std::max({r, g, b}), min = std::min({r, g, b});
  const double l = (max + min) / 2;
  double h = 0, s = 0;
  if (max != min) {
    const double d = max - min;
    s = l < 0.5 ? d / (max + min) : d / (2 - max - min);
    if (r == max)
      h = (g - b) / d;
    else if (g == max)
      h = 2 + (b - r) / d;
    else
      h = 4 + (r - g) / d;
    h /= 6;
    if (h < 0) h += 1;
  }
  H = RoundToByte(240 * h);
  S = RoundToByte(240 * s);
  L = RoundToByte(240 * l);
}

TColor HSLToColor(uint8_t H, uint8_t S, uint8_t L) {
  const double h = H / 239.0, s = S / 240.0, l = L / 240.0;
  const double v = l < 0.5 ? l * (1 + s) : l + s - l * s;
  if (v <= 0) return clBlack;
  const double m = 2 * l - v;
  const double sv = (v - m) / v;
  const int sextant = int(6 * h);
  const double f = 6 * h - sextant;
  const double vsf = v * sv * f;
  const double mid1 = m + vsf, mid2 = v - vsf;
  double rgb[3];
  switch (sextant) {
    case 1:
      rgb[0] = mid2, rgb[1] = v, rgb[2] = m;
      break;
    case 2:
      rgb[0] = m, rgb[1] = v, rgb[2] = mid1;
      break;
    case 3:
      rgb[0] = m, rgb[1] = mid2, rgb[2] = v;
      break;
    case 4:
      rgb[0] = mid1, rgb[1] = m, rgb[2] = v;
      break;
    case 5:
      rgb[0] = v, rgb[1] = m, rgb[2] = mid2;
      break;
    default:
      rgb[0] = v, rgb[1] = mid1, rgb[2] = m;
      break;
  }
  for (double& channel : rgb) channel = std::min(channel, 1.0);
  return RGB(RoundToByte(255 * rgb[0]), RoundToByte(255 * rgb[1]), RoundToByte(255 * rgb[2]));
}

uint8_t GetHue(TColor Color) {
  uint8_t h, s, l;
  ColorToHSL(Color, h, s, l);
  return h;
}

TColor DarkerColor(TColor Color, uint8_t Amount) {
  uint8_t h, s, l;
  ColorToHSL(Color, h, s, l);
  return HSLToColor(h, s, uint8_t(std::max(int(l) - Amount, 0)));
}

TColor LighterColor(TColor Color, uint8_t Amount) {
  uint8_t h, s, l;
  ColorToHSL(Color, h, s, l);
  return HSLToColor(h, s, uint8_t(std::min(int(l) + Amount, 255)));
}

TColor AdjustColor(TColor Color, int Amount) {
  if (Amount < 0) return DarkerColor(Color, uint8_t(-Amount));
  if (Amount > 0) return LighterColor(Color, uint8_t(Amount));
  return Color;
}

TColor BlendColors(TColor ForeColor, TColor BackColor, uint8_t Weight) {
  const TColor f = ColorToRGB(ForeColor), b = ColorToRGB(BackColor);
  const double w = Weight / 255.0;
  auto mix = [w](int Fore, int Back) { return RoundToByte(Fore * w + Back * (1 - w)); };
  return RGB(mix(GetRValue(f), GetRValue(b)), mix(GetGValue(f), GetGValue(b)),
             mix(GetBValue(f), GetBValue(b)));
}

TColor XorColors(TColor Color1, TColor Color2) {
  return (ColorToRGB(Color1) ^ ColorToRGB(Color2)) & 0xFFFFFF;
}

bool ColorsTooClose(TColor Color1, TColor Color2) {
  uint8_t h1, s1, l1, h2, s2, l2;
  ColorToHSL(Color1, h1, s1, l1);
  ColorToHSL(Color2, h2, s2, l2);
  return std::abs(h1 - h2) < 20 && std::abs(l1 - l2) < 60;
}

TColor ComplementaryColor(TColor Color, uint8_t Lightness) {
  const uint8_t h = GetHue(Color);
  return HSLToColor(uint8_t(h < 120 ? h + 120 : h - 120), 240, Lightness);
}

bool UseVisualStyles() { return VisualStylesActive; }

void SetUseVisualStyles(bool Active) { VisualStylesActive = Active; }

TColor GetXPThemeColor(uint8_t Index) {
  if (!UseVisualStyles()) return clBtnFace;
  return Index < ThemeColors.size() ? ThemeColors[Index] : clWhite;
}

uint8_t XPColorSchemeFromName(const QString& Name) {
  const QString upper = Name.toUpper();
  if (upper == QLatin1String("HOMESTEAD")) return 1;
  if (upper == QLatin1String("METALLIC")) return 2;
  return 0;
}

uint8_t GetXPColorScheme() { return XPColorSchemeFromName(QString()); }

bool IsHighColorDisplay() { return true; }

void GetGradientPanelColors(TSkGradientColorStyle ColorStyle, TColor& StartColor,
                            TColor& StopColor) {
  if (SchemeInUse(ColorStyle)) {
    StartColor = SchemeColors[GetXPColorScheme()][0];
    StopColor = SchemeColors[GetXPColorScheme()][1];
  } else {
    StartColor = clWindow;
    StopColor = DarkerColor(clBtnFace, 10);
  }
}

TColor GetGradientPanelFrameColor(TSkGradientColorStyle ColorStyle) {
  return SchemeInUse(ColorStyle) ? SchemeColors[GetXPColorScheme()][2]
                                 : LighterColor(clBtnShadow, 30);
}

void GetGradientBarColors(TSkGradientColorStyle ColorStyle, TColor& StartColor, TColor& StopColor,
                          TColor& FrameColor) {
  if (SchemeInUse(ColorStyle)) {
    StartColor = SchemeColors[GetXPColorScheme()][1];
    StopColor = SchemeColors[GetXPColorScheme()][0];
    FrameColor = SchemeColors[GetXPColorScheme()][1];
  } else {
    StartColor = DarkerColor(clBtnFace, 20);
    StopColor = clWindow;
    FrameColor = DarkerColor(clBtnFace, 40);
  }
}

TSkWinVersion RunningWinVersion() { return WinVersion; }

void SetRunningWinVersion(const TSkWinVersion& Version) { WinVersion = Version; }

bool IsWinVersion(int Index, const TSkWinVersion& V) {
  const bool nt = V.Platform == 2, win9x = V.Platform == 1;
  switch (Index) {
    case 0:
      return win9x && V.Major < 5 && V.Minor == 0;
    case 1:
      return nt && V.Major < 5;
    case 2:
      return win9x && V.Major < 5 && V.Minor == 10;
    case 3:
      return win9x && V.Major < 5 && V.Minor == 90;
    case 4:
      return nt && V.Major == 5 && V.Minor == 0;
    case 5:
      return nt && V.Major == 5 && V.Minor == 1;
    case 6:
      return nt && V.Major == 5 && V.Minor == 2;
    case 7:
      return nt && V.Major == 6 && V.Minor == 0;
    default:
      return false;
  }
}

bool IsWinVersionOrLater(int Index, const TSkWinVersion& V) {
  const bool nt = V.Platform == 2, either = V.Platform == 1 || nt;
  switch (Index) {
    case 0:
      return either && V.Major >= 4;
    case 1:
      return nt && V.Major >= 4;
    case 2:
      return either && ((V.Major >= 4 && V.Minor >= 10) || V.Major >= 5);
    case 3:
      return either && ((V.Major >= 4 && V.Minor >= 90) || V.Major >= 5);
    case 4:
      return nt && V.Major >= 5;
    case 5:
      return nt && ((V.Major == 5 && V.Minor >= 1) || V.Major >= 6);
    case 6:
      return nt && ((V.Major >= 5 && V.Minor >= 2) || V.Major >= 6);
    case 7:
      return nt && V.Major >= 6;
    default:
      return false;
  }
}
