// A dotted rectangle with eight handles that the user moves and resizes with the mouse inside
// a fixed area of its parent. It changes only its own geometry; the owner reads it in the
// mouse signals. The zone and drag rules are plain functions, so tests need no mouse.
#pragma once

#include "U_FileOption.h"

#include <QPoint>
#include <QRect>
#include <QWidget>

class QPainter;

// Where a press lands: an edge, the inside (move) or a corner.
enum TAreaZone {
  azLeft = 0,
  azRight = 1,
  azTop = 2,
  azBottom = 3,
  azMove = 4,
  azTopLeft = 5,
  azTopRight = 6,
  azBottomLeft = 7,
  azBottomRight = 8
};

// The zone of a point of a Width x Height control, with 5 pixels of tolerance.
TAreaZone AreaHitTest(int X, int Y, int Width, int Height);
Qt::CursorShape AreaCursor(TAreaZone Zone);
// The control's geometry after the cursor moved (Dx, Dy) since the press on Zone, Start being
// the geometry at the press: kept inside Area, never smaller than MinSize by dragging.
// Without Resizable only the inside moves the control.
QRect AreaDrag(TAreaZone Zone, const QRect& Start, int Dx, int Dy, const TIntRect& Area,
               int MinSize, bool Resizable);
// The dotted border and, when enabled, the handles (squares of 2 x BorderFrameSize).
void PaintAreaEditor(QPainter& Painter, QSize Size, int BorderFrameSize, bool Enabled);

class TAreaEditor : public QWidget {
  Q_OBJECT

 public:
  explicit TAreaEditor(QWidget* Parent = nullptr);

  int AreaLeft = 0;
  int AreaTop = 0;
  int AreaRight = 0;
  int AreaBottom = 0;
  int BorderFrameSize = 4;
  double ChangeWHScale = 0.75;

  void SetResizable(bool Value) { FResizable = Value; }
  bool Resizable() const { return FResizable; }
  void SetArea(const TIntRect& Area);
  TIntRect Area() const { return {AreaLeft, AreaTop, AreaRight, AreaBottom}; }
  // The smallest side that dragging leaves.
  int MinSize() const { return 6 * BorderFrameSize; }

 signals:
  void MouseDown(QMouseEvent* Event);
  void MouseMove(QMouseEvent* Event);
  void MouseUp(QMouseEvent* Event);

 protected:
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void paintEvent(QPaintEvent* Event) override;

 private:
  bool FResizable = true;
  bool FPressing = false;
  QRect FStartGeometry;
  QPoint FStartCursor;
  TAreaZone FZone = azMove;
};
