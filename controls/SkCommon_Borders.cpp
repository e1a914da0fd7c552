// One-pixel sides, bevels, the frame styles, the composite border and the edit frame.
#include "SkCommon.h"

namespace {

struct TSideColors {
  TColor UL, LR;
};

// Colours of the one-ring styles and of the groove and bump shapes.
TSideColors StyleColors(TFrameStyleEx Style) {
  switch (Style) {
    case fsFlat:
      return {cl3DDkShadow, cl3DDkShadow};
    case fsGroove:
    case fsStatus:
      return {clBtnShadow, clBtnHighlight};
    case fsBump:
    case fsPopup:
      return {clBtnHighlight, clBtnShadow};
    default:
      return {clBtnShadow, clBtnShadow};
  }
}

// Outer ring, then inner ring, of the two-ring styles.
std::pair<TSideColors, TSideColors> RingColors(TFrameStyleEx Style) {
  switch (Style) {
    case fsRaised:
      return {{cl3DLight, cl3DDkShadow}, {clBtnHighlight, clBtnShadow}};
    case fsLowered:
      return {{clBtnShadow, clBtnHighlight}, {cl3DDkShadow, cl3DLight}};
    case fsButtonUp:
      return {{clBtnHighlight, cl3DDkShadow}, {cl3DLight, clBtnShadow}};
    default:
      return {{clBtnText, clBtnText}, {clBtnShadow, clBtnShadow}};
  }
}

TRect DrawRings(QPainter& Canvas, const TRect& Bounds, TSideColors Outer, TSideColors Inner,
                TSides Sides) {
  const TRect r = DrawSides(Canvas, Bounds, Outer.UL, Outer.LR, Sides);
  return DrawSides(Canvas, r, Inner.UL, Inner.LR, Sides);
}

// The groove and bump shape: a light and a dark line side by side, with the corners of open
// ends closed so the two lines never cross.
TRect DrawGrooveSides(QPainter& Canvas, const TRect& B, TColor UL, TColor LR, TSides Sides) {
  const bool left = Sides & sdLeft, top = Sides & sdTop, right = Sides & sdRight,
             bottom = Sides & sdBottom;
  if (right) SetPixel(Canvas, B.Right - 1, B.Top, LR);
  if (top && !right) SetPixel(Canvas, B.Right - 1, B.Top, UL);
  if (bottom) SetPixel(Canvas, B.Left, B.Bottom - 1, LR);
  if (left && !bottom) SetPixel(Canvas, B.Left, B.Bottom - 1, UL);
  if (top && !left) SetPixel(Canvas, B.Left, B.Top + 1, LR);
  if (left && !top) SetPixel(Canvas, B.Left + 1, B.Top, LR);
  if (bottom && !right) SetPixel(Canvas, B.Right - 1, B.Bottom - 2, UL);
  if (right && !bottom) SetPixel(Canvas, B.Right - 2, B.Bottom - 1, UL);
  DrawSides(Canvas, {B.Left + 1, B.Top + 1, B.Right, B.Bottom}, LR, LR, Sides);
  DrawSides(Canvas, {B.Left, B.Top, B.Right - 1, B.Bottom - 1}, UL, UL, Sides);
  TRect r = B;
  if (left) r.Left += 2;
  if (top) r.Top += 2;
  if (right) r.Right -= 2;
  if (bottom) r.Bottom -= 2;
  return r;
}

// A one-pixel ring in one colour on all sides, inside Rect.
void Ring(QPainter& Canvas, const TRect& Rect, TColor Color) {
  DrawSides(Canvas, Rect, Color, Color, AllSides);
}

// The flat rounded shape over the rings that fill its cut corners.
TRect DrawFlatRounded(QPainter& Canvas, const TRect& R, const TInnerOuterBorders& B, TColor FC,
                      TColor OuterRing, TColor InnerRing, bool Outer) {
  if (!B.Transparent) {
    Ring(Canvas, R, OuterRing);
    Ring(Canvas, R.Inflated(-1, -1), InnerRing);
  } else if (!Outer || B.BorderWidth > 0 || B.BorderInner != fsNone) {
    Ring(Canvas, Outer ? R.Inflated(-1, -1) : R, B.BorderColor);
  }
  return DrawRoundedFlatBorder(Canvas, R, FC, B.BorderSides);
}

TRect DrawBorderPart(QPainter& Canvas, const TRect& R, TFrameStyleEx Style,
                     const TInnerOuterBorders& B, TColor FC, bool Outer) {
  switch (Style) {
    case fsFlat:
      return DrawBevel(Canvas, R, FC, FC, 1, B.BorderSides);
    case fsFlatBold:
      return DrawBevel(Canvas, R, FC, FC, 2, B.BorderSides);
    case fsFlatRounded: {
      const bool framed = B.BorderWidth > 0 || B.BorderInner != fsNone;
      return Outer ? DrawFlatRounded(Canvas, R, B, FC, B.ParentColor,
                                     framed ? B.BorderColor : B.Color, true)
                   : DrawFlatRounded(Canvas, R, B, FC, B.BorderColor, B.Color, false);
    }
    case fsPopup:
      return DrawBevel(Canvas, R, B.BorderHighlight, B.BorderShadow, B.BevelWidth, B.BorderSides);
    case fsStatus:
      return DrawBevel(Canvas, R, B.BorderShadow, B.BorderHighlight, B.BevelWidth, B.BorderSides);
    default:
      return DrawBorderSides(Canvas, R, Style, B.BorderSides);
  }
}

// Four lines on all sides that leave out their end pixels.
TRect DrawCutCornerBox(QPainter& Canvas, const TRect& R, TColor Color) {
  FillRect(Canvas, {R.Left, R.Top + 1, R.Left + 1, R.Bottom - 1}, Color);
  FillRect(Canvas, {R.Left + 1, R.Top, R.Right - 1, R.Top + 1}, Color);
  FillRect(Canvas, {R.Right - 1, R.Top + 1, R.Right, R.Bottom - 1}, Color);
  FillRect(Canvas, {R.Left + 1, R.Bottom - 1, R.Right - 1, R.Bottom}, Color);
  return R.Inflated(-1, -1);
}

}  // namespace

TRect DrawSides(QPainter& Canvas, const TRect& B, TColor ULColor, TColor LRColor, TSides Sides) {
  // Right and bottom come last, so they own the corners they share with left and top.
  if (ULColor != clNone) {
    if (Sides & sdLeft) FillRect(Canvas, {B.Left, B.Top, B.Left + 1, B.Bottom}, ULColor);
    if (Sides & sdTop) FillRect(Canvas, {B.Left, B.Top, B.Right, B.Top + 1}, ULColor);
  }
  if (LRColor != clNone) {
    if (Sides & sdRight) FillRect(Canvas, {B.Right - 1, B.Top, B.Right, B.Bottom}, LRColor);
    if (Sides & sdBottom) FillRect(Canvas, {B.Left, B.Bottom - 1, B.Right, B.Bottom}, LRColor);
  }
  TRect r = B;
  if (Sides & sdLeft) ++r.Left;
  if (Sides & sdTop) ++r.Top;
  if (Sides & sdRight) --r.Right;
  if (Sides & sdBottom) --r.Bottom;
  return r;
}

TRect DrawBevel(QPainter& Canvas, const TRect& Bounds, TColor ULColor, TColor LRColor, int Width,
                TSides Sides) {
  TRect r = Bounds;
  for (int i = 0; i < Width; ++i) r = DrawSides(Canvas, r, ULColor, LRColor, Sides);
  return r;
}

TRect DrawBorderSides(QPainter& Canvas, const TRect& Bounds, TFrameStyleEx Style, TSides Sides) {
  const TSideColors c = StyleColors(Style);
  switch (Style) {
    case fsNone:
      return Bounds;
    case fsFlat:
    case fsStatus:
    case fsPopup:
      return DrawSides(Canvas, Bounds, c.UL, c.LR, Sides);
    case fsFlatBold:
      return DrawBevel(Canvas, Bounds, c.UL, c.LR, 2, Sides);
    case fsGroove:
    case fsBump:
      return DrawGrooveSides(Canvas, Bounds, c.UL, c.LR, Sides);
    case fsFlatRounded:
      return Bounds;
    default: {
      const auto rings = RingColors(Style);
      return DrawRings(Canvas, Bounds, rings.first, rings.second, Sides);
    }
  }
}

TRect DrawBorder(QPainter& Canvas, const TRect& Bounds, TFrameStyleEx Style) {
  return DrawBorderSides(Canvas, Bounds, Style, AllSides);
}

TRect DrawColorBorderSides(QPainter& Canvas, const TRect& Bounds, TColor Color, TFrameStyleEx Style,
                           TSides Sides) {
  const auto d = [Color](uint8_t n) { return DarkerColor(Color, n); };
  const auto l = [Color](uint8_t n) { return LighterColor(Color, n); };
  switch (Style) {
    case fsNone:
      return Bounds;
    case fsFlat:
      return DrawSides(Canvas, Bounds, d(50), d(50), Sides);
    case fsStatus:
      return DrawSides(Canvas, Bounds, d(50), l(100), Sides);
    case fsPopup:
      return DrawSides(Canvas, Bounds, l(100), d(50), Sides);
    case fsFlatBold:
      return DrawBevel(Canvas, Bounds, d(50), d(50), 2, Sides);
    case fsLowered:
      return DrawRings(Canvas, Bounds, {d(50), l(100)}, {d(100), l(50)}, Sides);
    case fsRaised:
      return DrawRings(Canvas, Bounds, {l(50), d(100)}, {l(100), d(50)}, Sides);
    case fsButtonDown:
      return DrawRings(Canvas, Bounds, {d(100), d(100)}, {d(50), d(50)}, Sides);
    case fsButtonUp:
      return DrawRings(Canvas, Bounds, {l(100), d(100)}, {l(40), d(50)}, Sides);
    case fsGroove:
      return DrawGrooveSides(Canvas, Bounds, d(50), l(100), Sides);
    default:
      return DrawGrooveSides(Canvas, Bounds, l(100), d(50), Sides);
  }
}

TRect DrawColorBorder(QPainter& Canvas, const TRect& Bounds, TColor Color, TFrameStyleEx Style) {
  return DrawColorBorderSides(Canvas, Bounds, Color, Style, AllSides);
}

TRect DrawBox(QPainter& Canvas, const TRect& Bounds, TColor Color) {
  return DrawSides(Canvas, Bounds, Color, Color, AllSides);
}

TRect DrawFocusBorder(QPainter& Canvas, const TRect& B) {
  for (int y = B.Top + 1; y < B.Bottom; y += 2) {
    SetPixel(Canvas, B.Left, y, clBlack);
    SetPixel(Canvas, B.Right - 1, y, clBlack);
  }
  for (int x = B.Left + 1; x < B.Right; x += 2) {
    SetPixel(Canvas, x, B.Top, clBlack);
    SetPixel(Canvas, x, B.Bottom - 1, clBlack);
  }
  return B.Inflated(-1, -1);
}

TRect DrawRoundedFlatBorder(QPainter& Canvas, const TRect& B, TColor Color, TSides Sides) {
  const bool left = Sides & sdLeft, top = Sides & sdTop, right = Sides & sdRight,
             bottom = Sides & sdBottom;
  const int t = top ? 2 : 0, b = bottom ? 2 : 0, l = left ? 2 : 0, r = right ? 2 : 0;
  if (left) FillRect(Canvas, {B.Left, B.Top + t, B.Left + 1, B.Bottom - b}, Color);
  if (top) FillRect(Canvas, {B.Left + l, B.Top, B.Right - r, B.Top + 1}, Color);
  if (right) FillRect(Canvas, {B.Right - 1, B.Top + t, B.Right, B.Bottom - b}, Color);
  if (bottom) FillRect(Canvas, {B.Left + l, B.Bottom - 1, B.Right - r, B.Bottom}, Color);
  if (left && top) SetPixel(Canvas, B.Left + 1, B.Top + 1, Color);
  if (right && top) SetPixel(Canvas, B.Right - 2, B.Top + 1, Color);
  if (right && bottom) SetPixel(Canvas, B.Right - 2, B.Bottom - 2, Color);
  if (left && bottom) SetPixel(Canvas, B.Left + 1, B.Bottom - 2, Color);
  return {B.Left + l, B.Top + t, B.Right - r, B.Bottom - b};
}

TRect DrawInnerOuterBorders(QPainter& Canvas, const TRect& Bounds, const TInnerOuterBorders& B) {
  const TColor fc = AdjustColor(B.FlatColor, B.FlatColorAdjustment);
  TRect r = DrawBorderPart(Canvas, Bounds, B.BorderOuter, B, fc, true);
  if (B.BorderWidth > 0)
    r = DrawBevel(Canvas, r, B.BorderColor, B.BorderColor, B.BorderWidth, B.BorderSides);
  if (B.BorderInner == fsFlat && B.CutInnerFlatCorners) return DrawCutCornerBox(Canvas, r, fc);
  return DrawBorderPart(Canvas, r, B.BorderInner, B, fc, false);
}

void DrawFrame(QPainter& Canvas, int Width, int Height, TFrameStyle FrameStyle, TColor Color,
               TColor FrameColor, TSides FrameSides, bool KeepBackground) {
  const TRect r{0, 0, Width, Height};
  if (!KeepBackground) DrawBevel(Canvas, r, Color, Color, 2);
  if (FrameStyle == fsFlat)
    DrawSides(Canvas, r, FrameColor, FrameColor, FrameSides);
  else if (FrameStyle == fsFlatBold)
    DrawBevel(Canvas, r, FrameColor, FrameColor, 2, FrameSides);
  else if (Color != clWindow)
    DrawColorBorderSides(Canvas, r, Color, FrameStyle, FrameSides);
  else
    DrawBorderSides(Canvas, r, FrameStyle, FrameSides);
}
