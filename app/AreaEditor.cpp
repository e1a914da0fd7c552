#include "AreaEditor.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int Tolerance = 5;

struct TSpan {
  int Start;
  int Size;
};

// The left or top edge follows the cursor; the opposite edge stays.
TSpan DragNearEdge(TSpan Span, int Delta, int AreaStart, int MinSize) {
  const int End = Span.Start + Span.Size;
  const int Start = std::min(std::max(Span.Start + Delta, AreaStart), End - MinSize);
  return {Start, End - Start};
}

// The right or bottom edge follows the cursor; the start stays.
TSpan DragFarEdge(TSpan Span, int Delta, int AreaEnd, int MinSize) {
  return {Span.Start, std::max(std::min(Span.Size + Delta, AreaEnd - Span.Start), MinSize)};
}

TSpan MoveSpan(TSpan Span, int Delta, int AreaStart, int AreaEnd) {
  int Start = Span.Start + Delta;
  if (Start > AreaEnd - Span.Size)
    Start = AreaEnd - Span.Size;
  else if (Start < AreaStart)
    Start = AreaStart;
  return {Start, Span.Size};
}

enum TAxisRule { arNone, arNear, arFar, arMove };

struct TZoneRules {
  TAxisRule Horizontal, Vertical;
};

// What each zone drags, indexed by TAreaZone: a corner drags its two edges.
constexpr TZoneRules ZoneRules[] = {{arNear, arNone}, {arFar, arNone},  {arNone, arNear},
                                    {arNone, arFar},  {arMove, arMove}, {arNear, arNear},
                                    {arFar, arNear},  {arNear, arFar},  {arFar, arFar}};

TSpan DragSpan(TAxisRule Rule, TSpan Span, int Delta, int AreaStart, int AreaEnd, int MinSize) {
  switch (Rule) {
    case arNear:
      return DragNearEdge(Span, Delta, AreaStart, MinSize);
    case arFar:
      return DragFarEdge(Span, Delta, AreaEnd, MinSize);
    case arMove:
      return MoveSpan(Span, Delta, AreaStart, AreaEnd);
    case arNone:
      break;
  }
  return Span;
}

}  // namespace

TAreaZone AreaHitTest(int X, int Y, int Width, int Height) {
  const int H = Height / 2;
  const int W = Width / 2;
  const bool NearTop = Y <= Tolerance;
  const bool NearBottom = Y >= Height - Tolerance;
  if (X <= Tolerance) {
    if (NearTop) return azTopLeft;
    if (NearBottom) return azBottomLeft;
    return std::abs(Y - H) <= Tolerance ? azLeft : azMove;
  }
  if (X >= Width - Tolerance) {
    if (NearTop) return azTopRight;
    if (NearBottom) return azBottomRight;
    return std::abs(Y - H) <= Tolerance ? azRight : azMove;
  }
  if (std::abs(X - W) <= Tolerance) {
    if (NearTop) return azTop;
    if (NearBottom) return azBottom;
  }
  return azMove;
}

Qt::CursorShape AreaCursor(TAreaZone Zone) {
  switch (Zone) {
    case azLeft:
    case azRight:
      return Qt::SizeHorCursor;
    case azTop:
    case azBottom:
      return Qt::SizeVerCursor;
    case azTopLeft:
    case azBottomRight:
      return Qt::SizeFDiagCursor;
    case azTopRight:
    case azBottomLeft:
      return Qt::SizeBDiagCursor;
    case azMove:
      break;
  }
  return Qt::SizeAllCursor;
}

QRect AreaDrag(TAreaZone Zone, const QRect& Start, int Dx, int Dy, const TIntRect& Area,
               int MinSize, bool Resizable) {
  if (!Resizable && Zone != azMove) return Start;
  const TZoneRules& Rules = ZoneRules[Zone];
  const TSpan X =
      DragSpan(Rules.Horizontal, {Start.left(), Start.width()}, Dx, Area.Left, Area.Right, MinSize);
  const TSpan Y =
      DragSpan(Rules.Vertical, {Start.top(), Start.height()}, Dy, Area.Top, Area.Bottom, MinSize);
  return {X.Start, Y.Start, X.Size, Y.Size};
}

void PaintAreaEditor(QPainter& Painter, QSize Size, int BorderFrameSize, bool Enabled) {
  const int Right = Size.width() - 1;
  const int Bottom = Size.height() - 1;
  Painter.setPen(QPen(Qt::white, 1, Qt::DotLine));
  Painter.drawLine(0, 0, Right, 0);
  Painter.drawLine(Right, 0, Right, Bottom);
  Painter.drawLine(Right, Bottom, 0, Bottom);
  Painter.drawLine(0, Bottom, 0, 0);
  if (!Enabled) return;
  const int Side = 2 * BorderFrameSize;
  const int MidX = Size.width() / 2 - BorderFrameSize;
  const int MidY = Size.height() / 2 - BorderFrameSize;
  const int FarX = Size.width() - Side;
  const int FarY = Size.height() - Side;
  const QPoint Corners[] = {{0, 0},       {MidX, 0}, {FarX, 0},    {0, MidY},
                            {FarX, MidY}, {0, FarY}, {MidX, FarY}, {FarX, FarY}};
  Painter.setPen(QPen(Qt::white, 1));
  Painter.setBrush(Qt::black);
  for (const QPoint& Corner : Corners) Painter.drawRect(Corner.x(), Corner.y(), Side - 1, Side - 1);
}

TAreaEditor::TAreaEditor(QWidget* Parent) : QWidget(Parent) {
  resize(105, 105);
  setMinimumSize(10, 10);
  setMouseTracking(true);
  // Nothing of its own behind the border: the preview shows through.
  setAttribute(Qt::WA_NoSystemBackground);
  setAutoFillBackground(false);
}

void TAreaEditor::SetArea(const TIntRect& Area) {
  AreaLeft = Area.Left;
  AreaTop = Area.Top;
  AreaRight = Area.Right;
  AreaBottom = Area.Bottom;
}

void TAreaEditor::mousePressEvent(QMouseEvent* Event) {
  emit MouseDown(Event);
  FPressing = true;
  FStartCursor = Event->globalPosition().toPoint();
  FStartGeometry = geometry();
  FZone = AreaHitTest(Event->position().toPoint().x(), Event->position().toPoint().y(), width(),
                      height());
}

void TAreaEditor::mouseMoveEvent(QMouseEvent* Event) {
  const QPoint At = Event->position().toPoint();
  setCursor(AreaCursor(AreaHitTest(At.x(), At.y(), width(), height())));
  if (FPressing) {
    const QPoint Delta = Event->globalPosition().toPoint() - FStartCursor;
    setGeometry(
        AreaDrag(FZone, FStartGeometry, Delta.x(), Delta.y(), Area(), MinSize(), FResizable));
  }
  emit MouseMove(Event);
}

void TAreaEditor::mouseReleaseEvent(QMouseEvent* Event) {
  emit MouseUp(Event);
  FPressing = false;
}

void TAreaEditor::paintEvent(QPaintEvent*) {
  QPainter Painter(this);
  PaintAreaEditor(Painter, size(), BorderFrameSize, isEnabled());
}
