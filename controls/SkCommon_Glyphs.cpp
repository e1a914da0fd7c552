// Arrows, the close cross, the gradient ring and the check-box and radio-button glyphs.
#include "SkCommon.h"

#include <QPolygon>

#include <algorithm>
#include <cmath>

namespace {

// The themed arrow colour of our fixed visual style.
constexpr TColor ThemedArrowColor = RGB(77, 97, 133);

TColor GlyphColor(TSkVisualStyle Style, bool Enabled, TColor Background) {
  if (Enabled && Style == vsWinXP) return ThemedArrowColor;
  return ArrowColor(Enabled, Background);
}

// Vista and later draw every arrow in the flat style.
TSkVisualStyle EffectiveStyle(TSkVisualStyle Style) {
  return IsWinVersionOrLater(7) ? vsGradient : Style;
}

// The centre of a glyph: the middle column, and the row above the middle for even heights.
QPoint GlyphCenter(const TRect& Rect) {
  const int h = Rect.Height();
  return {Rect.Left + Rect.Width() / 2, Rect.Top + h / 2 - (h % 2 == 0 ? 1 : 0)};
}

// A horizontal run of pixels X - Half .. X + Half.
void Run(QPainter& Canvas, int X, int Y, int Half, TColor Color) {
  FillRect(Canvas, {X - Half, Y, X + Half + 1, Y + 1}, Color);
}

// A vertical run of pixels Y - Half .. Y + Half.
void Column(QPainter& Canvas, int X, int Y, int Half, TColor Color) {
  FillRect(Canvas, {X, Y - Half, X + 1, Y + Half + 1}, Color);
}

void FillPolygon(QPainter& Canvas, const QPolygon& Points, TColor Color) {
  Canvas.save();
  Canvas.setRenderHint(QPainter::Antialiasing, false);
  Canvas.setPen(ToQColor(Color));
  Canvas.setBrush(ToQColor(Color));
  Canvas.drawPolygon(Points);
  Canvas.restore();
}

// A chevron with its tip at Tip, pointing along (Dx, Dy) (one of them 0, the other +-1).
QPolygon Chevron(QPoint Tip, int Dx, int Dy) {
  static const QPoint down[] = {{0, 0}, {-4, -5}, {-3, -7}, {0, -3}, {3, -7}, {5, -5}};
  QPolygon polygon;
  for (const QPoint& p : down) {
    // Rotate the downward shape to the direction asked.
    const int along = -p.y(), across = p.x();
    polygon << Tip + QPoint(Dx != 0 ? -Dx * along : across, Dy != 0 ? -Dy * along : across);
  }
  return polygon;
}

// How much of the pixel (X, Y) a ring of radius Radius and width 1 around (Cx, Cy) covers.
double RingCoverage(double Dx, double Dy, double Radius) {
  const double distance = std::sqrt(Dx * Dx + Dy * Dy);
  return std::clamp(1.0 - std::abs(distance - Radius), 0.0, 1.0);
}

struct TGlyphFill {
  TColor Fill, Tick;
};

// Fill and tick colours of a check-box or radio-button glyph by its state.
TGlyphFill GlyphFill(const TSkGlyphColors& G) {
  switch (G.DrawState) {
    case gdsPressed:
      return {DarkerColor(G.FocusColor, 20), G.HighlightColor};
    case gdsDisabled:
      return {G.DisabledColor, clBtnShadow};
    default:
      if (G.Focused)
        return {G.ReadOnly && G.ReadOnlyColorOnFocus ? G.ReadOnlyColor : G.FocusColor,
                G.HighlightColor};
      return {G.ReadOnly ? G.ReadOnlyColor : G.FillColor, G.HighlightColor};
  }
}

bool HotFrame(const TSkGlyphColors& G) {
  return G.DrawState == gdsHot && G.HotTrackStyle == htsFrame;
}

}  // namespace

TColor ArrowColor(bool Enabled, TColor Background) {
  if (!Enabled) return clBtnShadow;
  return ColorsTooClose(Background, clBlack) ? cl3DDkShadow : clBlack;
}

void DrawDropDownArrow(QPainter& Canvas, const TRect& Rect, TSkVisualStyle VisualStyle,
                       bool Enabled, TColor Background) {
  const TSkVisualStyle style = EffectiveStyle(VisualStyle);
  const TColor color = GlyphColor(style, Enabled, Background);
  const QPoint c = GlyphCenter(Rect);
  if (style == vsWinXP) return FillPolygon(Canvas, Chevron({c.x(), c.y() + 4}, 0, 1), color);
  for (int i = 0; i < 4; ++i) Run(Canvas, c.x(), c.y() + 2 - i, i, color);
}

void DrawArrow(QPainter& Canvas, const TRect& Rect, TSkVisualStyle VisualStyle, bool Enabled,
               TSkArrowDirection Direction, TColor Background) {
  const TSkVisualStyle style = EffectiveStyle(VisualStyle);
  const TColor color = GlyphColor(style, Enabled, Background);
  const QPoint c = GlyphCenter(Rect);
  if (style == vsWinXP) {
    switch (Direction) {
      case adUp:
        return FillPolygon(Canvas, Chevron({c.x(), c.y() - 4}, 0, -1), color);
      case adDown:
        return FillPolygon(Canvas, Chevron({c.x(), c.y() + 2}, 0, 1), color);
      case adLeft:
        return FillPolygon(Canvas, Chevron({c.x() - 3, c.y()}, -1, 0), color);
      case adRight:
        return FillPolygon(Canvas, Chevron({c.x() + 3, c.y()}, 1, 0), color);
    }
  }
  const int x = c.x(), y0 = c.y() + 1;
  for (int i = 0; i < 4; ++i) switch (Direction) {
      case adUp:
        Run(Canvas, x, y0 - 3 + i, i, color);
        break;
      case adDown:
        Run(Canvas, x, y0 - i, i, color);
        break;
      case adLeft:
        Column(Canvas, x - 2 + i, c.y(), i, color);
        break;
      case adRight:
        Column(Canvas, x - 2 + 3 - i, c.y(), i, color);
        break;
    }
}

void DrawCloseCross(QPainter& Canvas, const TRect& Rect, TColor Color) {
  const int size = Rect.Width() >= 11 && Rect.Height() >= 9 ? 8 : 6;
  // Two-pixel strokes: size columns wide, size - 1 rows tall.
  const TRect box = CenterRect(Rect, size, size - 1);
  for (int i = 0; i < size - 1; ++i) {
    FillRect(Canvas, {box.Left + i, box.Top + i, box.Left + i + 2, box.Top + i + 1}, Color);
    FillRect(Canvas, {box.Right - i - 2, box.Top + i, box.Right - i, box.Top + i + 1}, Color);
  }
}

void DrawCloseButtonGlyph(QPainter& Canvas, const TRect& Rect, TSkVisualStyle VisualStyle,
                          bool Enabled) {
  DrawCloseCross(Canvas, Rect, GlyphColor(EffectiveStyle(VisualStyle), Enabled, clBtnFace));
}

void DrawGradientRing(QPainter& Canvas, const TRect& Rect, TGradientDirection Direction,
                      TColor StartColor, TColor StopColor) {
  if (!IsHighColorDisplay()) return;
  Canvas.save();
  Canvas.setClipRegion(QRegion(Rect.ToQRect()).subtracted(QRegion(Rect.Inflated(-2, -2).ToQRect())),
                       Qt::IntersectClip);
  PaintGradient(Canvas, Rect, Direction, StartColor, StopColor);
  Canvas.restore();
}

void DrawCheckBoxGlyph(QPainter& Canvas, const TRect& Rect, const TSkGlyphColors& G) {
  const TRect r = DrawBox(Canvas, Rect, HotFrame(G) ? G.HotColor : G.FrameColor);
  const TGlyphFill fill = GlyphFill(G);
  FillRect(Canvas, r, fill.Fill);
  if (G.State == cbChecked) {
    static const int firstRow[] = {5, 6, 7, 6, 5, 4, 3};  // columns 3 .. 9
    for (int i = 0; i < 7; ++i)
      FillRect(Canvas,
               {Rect.Left + 3 + i, Rect.Top + firstRow[i], Rect.Left + 4 + i,
                Rect.Top + firstRow[i] + 3},
               fill.Tick);
  } else if (G.State == cbGrayed) {
    FillRect(Canvas, r.Inflated(-2, -2), fill.Tick);
  }
  if (G.DrawState != gdsHot) return;
  if (G.HotTrackStyle == htsInterior)
    DrawGradientRing(Canvas, r, gdDiagonalDown, G.HotLightColor, G.HotColor);
  else
    DrawBox(Canvas, r, G.HotColor);
}

void DrawRadioButtonGlyph(QPainter& Canvas, const TRect& Rect, const TSkGlyphColors& G) {
  const int w = Rect.Width(), h = Rect.Height();
  if (w <= 0 || h <= 0) return;
  // Drawn with coverage as alpha, so the smoothed edge blends with what lies beneath.
  QImage glyph(w, h, QImage::Format_ARGB32);
  glyph.fill(Qt::transparent);
  const TGlyphFill fill = GlyphFill(G);
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0, radius = std::min(w, h) / 2.0 - 0.5;
  const QColor frame = ToQColor(HotFrame(G) ? G.HotColor : G.FrameColor);
  const QColor face = ToQColor(fill.Fill), tick = ToQColor(fill.Tick);
  const QColor hot = ToQColor(G.HotColor), hotLight = ToQColor(G.HotLightColor);
  const bool interior = G.DrawState == gdsHot && G.HotTrackStyle == htsInterior;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double dx = x - cx, dy = y - cy, distance = std::sqrt(dx * dx + dy * dy);
      QColor color = face;
      if (interior && distance > radius - 3) color = (dx + dy < 0) ? hotLight : hot;
      if (G.State == cbChecked && distance < radius / 2.5) color = tick;
      const double edge = RingCoverage(dx, dy, radius);
      if (distance > radius && edge <= 0) continue;
      if (edge > 0) {
        color = QColor::fromRgbF(frame.redF() * edge + color.redF() * (1 - edge),
                                 frame.greenF() * edge + color.greenF() * (1 - edge),
                                 frame.blueF() * edge + color.blueF() * (1 - edge));
        if (distance > radius) color.setAlphaF(float(edge));
      }
      glyph.setPixelColor(x, y, color);
    }
  Canvas.drawImage(Rect.Left, Rect.Top, glyph);
}
