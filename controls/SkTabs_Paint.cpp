// How the tab control draws itself: background, the cards of the rows, the tabs with their
// fills, faces and outlines, and the card's shadow.
#include "SkTabs.h"

#include <QPaintEvent>
#include <QPainter>

#include <cstdlib>

namespace {

enum TOutlineOp { opMove, opLine, opDarkShadow, opLightShadow };
struct TOutlineStep {
  TOutlineOp Op;
  int X, Y;
};

// The pixels of a line from (X0, Y0) towards (X1, Y1), the end itself left out.
template <typename F>
void LinePixels(int X0, int Y0, int X1, int Y1, F Plot) {
  const int dx = std::abs(X1 - X0), dy = -std::abs(Y1 - Y0);
  const int sx = X0 < X1 ? 1 : -1, sy = Y0 < Y1 ? 1 : -1;
  int err = dx + dy;
  while (X0 != X1 || Y0 != Y1) {
    Plot(X0, Y0);
    const int e2 = 2 * err;
    if (e2 >= dy) err += dy, X0 += sx;
    if (e2 <= dx) err += dx, Y0 += sy;
  }
}

std::vector<TOutlineStep> Polyline(const std::vector<QPoint>& Points) {
  std::vector<TOutlineStep> steps;
  for (size_t i = 0; i < Points.size(); ++i)
    steps.push_back({i == 0 ? opMove : opLine, Points[i].x(), Points[i].y()});
  return steps;
}

}  // namespace

// The outline of a card in its row space: the frame with an opening under the selected tab of
// the front row, and the shadow beyond its far edges.
static std::vector<TOutlineStep> CardSteps(const TRect& C, bool Open, int OpenStart, int OpenEnd,
                                           bool FullFrame, bool Shadow) {
  const int L = C.Left, T = C.Top, R = C.Right, B = C.Bottom;
  const int frameR = Shadow ? R - 2 : R, frameB = Shadow ? B - 2 : B;
  std::vector<TOutlineStep> s;
  if (FullFrame)
    s.push_back({opMove, L, frameB}), s.push_back({opLine, L, T});
  else
    s.push_back({opMove, L, T});
  if (Open) {
    s.push_back({opLine, OpenStart, T});
    s.push_back({opMove, OpenEnd, T});
  }
  if (!FullFrame) {
    s.push_back({opLine, frameR + 1, T});
    return s;
  }
  s.push_back({opLine, frameR, T});
  s.push_back({opLine, frameR, frameB});
  s.push_back({opLine, L - 1, frameB});
  if (Shadow) {
    s.push_back({opMove, R - 1, T + 1});
    s.push_back({opDarkShadow, R - 1, B - 1});
    s.push_back({opDarkShadow, L, B - 1});
    s.push_back({opMove, R - 1, T});
    s.push_back({opLightShadow, R, T});
    s.push_back({opLightShadow, R, B});
    s.push_back({opLightShadow, L, B});
    s.push_back({opLightShadow, L, B - 1});
  }
  if (Open) {
    // The selected tab's corner and the card's edge meet without a gap.
    s.push_back({opMove, OpenEnd, T});
    s.push_back({opLine, OpenEnd + 2, T});
  }
  return s;
}

void TSkCustomTabControl::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  PaintControl(canvas);
}

void TSkCustomTabControl::PaintControl(QPainter& Canvas) {
  if (FLayoutNeeded) Relayout();
  Canvas.save();
  Canvas.setRenderHint(QPainter::Antialiasing, false);
  const TRect background{0, 0, width() + 1, height() + 1};
  bool handled = false;
  if (OnPaintBackground) OnPaintBackground(this, Canvas, background, handled);
  if (!handled && !FTransparent) {
    if (FParentBackgroundColor && parentWidget())
      FBackgroundColor = FromQColor(parentWidget()->palette().color(QPalette::Window));
    FillRect(Canvas, background, FBackgroundColor);
  }
  PlaceButtons();
  PaintRowsAndTabs(Canvas);
  PaintDropIndicator(Canvas);
  Canvas.restore();
}

// An arrow 15 along and 8 across pointing at the edge where the dragged tab would land.
void TSkCustomTabControl::PaintDropIndicator(QPainter& Canvas) {
  if (!FDragging || FDropTarget < 0 || FDropTarget == FTabIndex) return;
  const TRect t = TabRowRect(FDropTarget);
  const bool selectedFurther = (FTabIndex > FDropTarget) != (FTabSequence == tsReverse);
  int start = 0;
  if (selectedFurther) {
    const bool slantNear = FTabStyle == tsDoubleSlant || FTabStyle == tsBackSlant;
    start = t.Left - 8 + (slantNear ? FRowHeight / 2 : 0);
  } else {
    const bool slantFar = FTabStyle == tsSingleSlant || FTabStyle == tsDoubleSlant;
    start = t.Right + 8 - 15 + (slantFar ? -FRowHeight / 2 : 1);
  }
  // Two corners of the box are cut away, leaving the arrow.
  const QRegion left(QPolygon({QPoint(0, 0), QPoint(8, 8), QPoint(0, 8)}));
  const QRegion right(QPolygon({QPoint(7, 8), QPoint(15, 0), QPoint(15, 8)}));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 15; ++x) {
      if (left.contains(QPoint(x, y)) || right.contains(QPoint(x, y))) continue;
      const QPoint p = ToClient(start + x, t.Top - 2 + y, true);
      SetPixel(Canvas, p.x(), p.y(), FDragIndicatorColor);
    }
}

void TSkCustomTabControl::PaintRowsAndTabs(QPainter& Canvas) {
  const int n = FTabs.Count();
  int frontStart = -1;
  for (int i = 0; i < n && frontStart < 0; ++i)
    if (FTabs.Items(i).Visible && FTabs.Items(i).Row == 0) frontStart = i;
  int row = FRowCount - 1;
  // Back rows first, each row's card before the nearer row's tabs.
  for (int k = 1; k <= n && frontStart >= 0; ++k) {
    const int i = ((frontStart - k) % n + n) % n;
    const TSkTabData& tab = FTabs.Items(i);
    if (i == FTabIndex || !TabShown(i) || (FOverflow && i < FFirstVisible)) continue;
    if (tab.Row < row) {
      PaintCard(Canvas, row);
      row = tab.Row;
    }
    PaintTab(Canvas, i);
  }
  for (; row >= 1; --row) PaintCard(Canvas, row);
  if (FTabIndex >= 0 && TabShown(FTabIndex)) PaintTab(Canvas, FTabIndex);
  PaintCard(Canvas, 0);
}

void TSkCustomTabControl::PaintCard(QPainter& Canvas, int Row) {
  const TRect c = CardRowRect(Row);
  if (c.Right < c.Left || c.Bottom < c.Top) return;
  const TRect fill = CardRect(Row);
  bool handled = false;
  if (OnPaintCardBackground) OnPaintCardBackground(this, Canvas, Row, fill, handled);
  if (!handled) FillRect(Canvas, fill, CardColor(Row));
  if (!FShowCardFrame) return;
  const bool open = Row == 0 && FTabIndex >= 0 && TabShown(FTabIndex);
  int openStart = 0, openEnd = 0;
  if (open) {
    const TRect t = TabRowRect(FTabIndex);
    openStart = ScrolledAlong(t.Left) + 1;
    openEnd = ScrolledAlong(t.Right);
  }
  const auto steps = CardSteps(c, open, openStart, openEnd, FShowFullFrame, ShadowOn());
  std::vector<int> commands;
  for (const TOutlineStep& s : steps) commands.insert(commands.end(), {int(s.Op), s.X, s.Y});
  RunOutline(Canvas, commands, false);
}

// Runs outline steps (op, x, y triples) in row space, mapping every pixel to the client.
void TSkCustomTabControl::RunOutline(QPainter& Canvas, const std::vector<int>& Commands,
                                     bool Scrolled) {
  const TColor line = ColorToRGB(LineColor());
  const TColor back = ColorToRGB(FBackgroundColor);
  int x = 0, y = 0;
  for (size_t k = 0; k + 2 < Commands.size(); k += 3) {
    const auto op = TOutlineOp(Commands[k]);
    const int toX = Commands[k + 1], toY = Commands[k + 2];
    if (op != opMove) {
      const TColor color = op == opLine         ? line
                           : op == opDarkShadow ? BlendColors(clBlack, back, 30)
                                                : BlendColors(clBlack, back, 15);
      LinePixels(x, y, toX, toY, [&](int Px, int Py) {
        const QPoint p = ToClient(Px, Py, Scrolled);
        SetPixel(Canvas, p.x(), p.y(), color);
      });
    }
    x = toX, y = toY;
  }
}

void TSkCustomTabControl::PaintTab(QPainter& Canvas, int Index) {
  const TRect client = TabClientRect(Index);
  Canvas.save();
  Canvas.setClipRegion(MapRegion(TabRowRegion(Index), true), Qt::IntersectClip);
  PaintTabBackground(Canvas, Index, client);
  PaintTabFace(Canvas, Index);
  Canvas.restore();
  std::vector<int> commands;
  for (const TOutlineStep& s :
       Polyline(TabShape(FTabStyle, TabRowRect(Index), FSoftCorners, FCutCornerSize)))
    commands.insert(commands.end(), {int(s.Op), s.X, s.Y});
  RunOutline(Canvas, commands, true);
}

void TSkCustomTabControl::PaintTabBackground(QPainter& Canvas, int Index, const TRect& Rect) {
  bool handled = false;
  if (OnPaintTabBackground) OnPaintTabBackground(this, Canvas, Index, Rect, handled);
  if (handled) return;
  const TSkTabData& tab = FTabs.Items(Index);
  if (Index == FTabIndex) return FillRect(Canvas, Rect, FUseColoredTabs ? tab.Color : FColor);
  TColor face = FTabColors.Unselected, shade = FTabColors.Shadow;
  if (FUseColoredTabs) {
    face = LighterColor(tab.Color, 20);
    shade = ColorsTooClose(face, clWhite) ? clBtnFace : DarkerColor(tab.Color, 40);
  }
  if (FHotTrack && FHotTrackStyle == htsTab && Index == FHotTab) {
    if (FHotTrackColorSource == htcsTabColor) {
      shade = DarkerColor(shade, 30);
    } else if (FHotTrackColorType == htctActual) {
      face = LighterColor(FHotTrackColor, 60), shade = FHotTrackColor;
    } else {
      shade = ComplementaryColor(FHotTrackColor, 140), face = LighterColor(shade, 60);
    }
  }
  if (!FUseGradients || !IsHighColorDisplay()) return FillRect(Canvas, Rect, face);
  switch (FTabOrientation) {
    case toTop:
      return PaintGradient(Canvas, Rect, gdHorizontalEnd, shade, face);
    case toLeft:
      return PaintGradient(Canvas, Rect, gdVerticalEnd, shade, face);
    case toBottom:
      return PaintGradient(Canvas, Rect, gdHorizontalEnd, face, shade);
    case toRight:
      return PaintGradient(Canvas, Rect, gdVerticalEnd, face, shade);
  }
}

// Where the caption goes, in row space: the tab less its slants and corners.
TRect TSkCustomTabControl::ContentRowRect(int Index) const {
  TRect r = TabRowRect(Index);
  const int h = r.Height(), d = TabStyleOverlap(FTabStyle, h, FTabOverlap);
  // Text running along the tabs: horizontal text on top and bottom, vertical on the sides.
  const bool textAlong = (FTextOrientation == orHorizontal) != Vertical();
  switch (FTabStyle) {
    case tsSingleSlant:
      r = r.Inflated(-1, -1);
      r.Right -= 2 * d + 2;
      r = r.Offset(3, 0);
      r.Top += 2;
      break;
    case tsBackSlant:
      r = r.Inflated(-1, -1);
      r.Left += 2 * d + 2;
      r = r.Offset(-3, 0);
      r.Top += 2;
      break;
    case tsDoubleSlant:
      r = r.Inflated(1 - d, -1).Offset(1, 0);
      r.Top += 2;
      break;
    case tsCutCorner:
      r = textAlong ? r.Inflated(-(FCutCornerSize + 3), -1) : r.Inflated(-4, -1);
      r.Top += textAlong ? 3 : FCutCornerSize + 3;
      break;
    case tsRoundCorners:
    case tsSquareCorners:
      r = textAlong ? r.Inflated(-4, -2) : r.Inflated(-2, -4);
      break;
  }
  if (FShowFocusRect) r = r.Inflated(-1, -1);
  return r;
}

void TSkCustomTabControl::PaintTabFace(QPainter& Canvas, int Index) {
  TRect box = ContentRowRect(Index);
  if (Index == FTabIndex && FShowCloseButtonOnActiveTab && FActiveCloseButton) {
    TRect cross = box;
    if (FTabSequence == tsReverse)
      cross.Right = box.Left + 20, box.Left += 20;
    else
      cross.Left = box.Right - 20, box.Right -= 20;
    const TRect client = MapRect(cross, true);
    const int across = Vertical() ? client.Width() : client.Height();
    const QSize size =
        across >= (FTextOrientation == orVertical ? 13 : 15) ? QSize(15, 13) : QSize(10, 9);
    FActiveCloseButton->setGeometry(CenterRect(client, size.width(), size.height()).ToQRect());
  }
  bool bar = false;
  TColor barColor = clNone;
  const TColor text = TabTextColor(Index, bar, barColor);
  if (bar) PaintHighlightBar(Canvas, Index, barColor);
  PaintCaption(Canvas, Index, MapRect(box, true), text);
  if (FShowFocusRect && Index == FTabIndex && hasFocus()) {
    TRect focus = box.Inflated(0, 1);
    focus.Bottom += 1;
    if (RoundOrSquare()) focus = focus.Offset(0, 1);
    DrawFocusBorder(Canvas, MapRect(focus, true));
  }
}

TColor TSkCustomTabControl::TabTextColor(int Index, bool& Bar, TColor& BarColor) {
  const TSkTabData& tab = FTabs.Items(Index);
  TSkTextStyle style = tsUnselected;
  TColor color = FTextColors.Unselected;
  const TColor hot =
      FHotTrackColorType == htctActual ? FHotTrackColor : ComplementaryColor(FHotTrackColor, 140);
  if (!tab.Enabled) {
    style = tsDisabled, color = FTextColors.Disabled;
  } else if (FHotTrack && Index == FHotTab && Index != FTabIndex) {
    style = tsHotTrack, color = FTextColors.Selected;
    if (FHotTrackStyle == htsText) color = hot;
    if (FHotTrackStyle == htsTabBar) {
      Bar = true;
      BarColor = FHotTrackColorSource == htcsTabColor ? DarkerColor(tab.Color, 40) : hot;
    }
  } else if (Index == FTabIndex) {
    style = tsSelected, color = FTextColors.Selected;
    if (FHotTrack && FHotTrackStyle == htsTabBar) Bar = true, BarColor = FTabColors.HighlightBar;
  }
  bool handled = false;
  if (OnGetTextColor) OnGetTextColor(this, Index, style, color, handled);
  return color;
}

void TSkCustomTabControl::PaintHighlightBar(QPainter& Canvas, int Index, TColor Color) {
  TRect r = TabRowRect(Index).Inflated(1, 1);
  const bool deep = FTabOrientation == toTop || FTabOrientation == toLeft;
  r.Bottom = std::min(r.Bottom, r.Top + (deep ? 6 : 4));
  FillRect(Canvas, MapRect(r, true), Color);
}

void TSkCustomTabControl::PaintCaption(QPainter& Canvas, int Index, const TRect& Box,
                                       TColor Color) {
  const TSkTabData& tab = FTabs.Items(Index);
  Canvas.save();
  Canvas.setFont(TabFont(FBoldCurrentTab && Index == FTabIndex));
  Canvas.setPen(ToQColor(Color));
  const bool vertical = FTextOrientation == orVertical;
  TRect box = Box;
  if (vertical) {
    // Turn the canvas so that the text reads upwards (downwards on the right).
    const QPointF centre((Box.Left + Box.Right) / 2.0, (Box.Top + Box.Bottom) / 2.0);
    Canvas.translate(centre);
    Canvas.rotate(FTabOrientation == toRight ? 90 : -90);
    const int w = Box.Height(), h = Box.Width();
    box = {-w / 2, -h / 2, w - w / 2, h - h / 2};
  }
  const QStringList lines = tab.Caption.split(QStringLiteral("\r\n"));
  const int lineHeight = QFontMetrics(Canvas.font()).height();
  const int blockHeight = lineHeight * int(lines.size());
  int top = box.Top;
  if (FTextAlignmentVertical == vaCenter) top += (box.Height() - blockHeight) / 2;
  if (FTextAlignmentVertical == vaBottom) top = box.Bottom - blockHeight;
  TSkHorizontalAlignment align = FTextAlignment;
  if (vertical && FTabOrientation == toRight && align != haCenter)
    align = align == haLeft ? haRight : haLeft;
  const unsigned flags = DT_SINGLELINE | DT_VCENTER |
                         (align == haCenter  ? DT_CENTER
                          : align == haRight ? DT_RIGHT
                                             : DT_LEFT);
  for (const QString& line : lines) {
    DrawString(Canvas, line, {box.Left, top, box.Right, top + lineHeight}, flags);
    top += lineHeight;
  }
  Canvas.restore();
}
