#include "ShockwaveEx.h"

#include "VelLog.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>

TShockwaveFlashEx::TShockwaveFlashEx(QWidget* Parent) : QWidget(Parent) {
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
}

void TShockwaveFlashEx::SetMovie(const QString& Value) {
  static bool reported = false;
  if (!reported && !Value.isEmpty()) {
    VelLog.WriteInfo(QStringLiteral("Flash preview: no Flash runtime, showing the skin's picture"));
    reported = true;
  }
  FMovie = Value;
  update();
}

void TShockwaveFlashEx::SetStill(const QImage& Picture, const QColor& Background) {
  FStill = Picture;
  FBackground = Background;
  update();
}

void TShockwaveFlashEx::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), FBackground);
  if (FStill.isNull()) return;
  // A still is a thumbnail: at its own size, never stretched, so the stage colour shows.
  QRect target(QPoint(), FStill.size().boundedTo(size()));
  target.moveCenter(rect().center());
  painter.drawImage(target, FStill);
}

void TShockwaveFlashEx::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() == Qt::RightButton) {
    FPressed = true;
    return;
  }
  if (LockMouseClick || Event->button() != Qt::LeftButton) return;
  FPressed = true;
  if (OnMouseDown) OnMouseDown(Event->button(), Event->modifiers(), Event->position().toPoint());
}

void TShockwaveFlashEx::mouseReleaseEvent(QMouseEvent* Event) {
  if (Event->button() == Qt::RightButton) {
    if (!LockMouseClick && PopupMenu && std::exchange(FPressed, false))
      PopupMenu->popup(Event->globalPosition().toPoint());
    return;
  }
  if (LockMouseClick || Event->button() != Qt::LeftButton) return;
  const bool pressed = std::exchange(FPressed, false);
  if (OnMouseUp) OnMouseUp(Event->button(), Event->modifiers(), Event->position().toPoint());
  if (pressed && OnClick) OnClick();
}

void TShockwaveFlashEx::mouseDoubleClickEvent(QMouseEvent* Event) {
  if (!LockMouseClick) QWidget::mouseDoubleClickEvent(Event);
}

void TShockwaveFlashEx::mouseMoveEvent(QMouseEvent* Event) {
  if (OnMouseMove) OnMouseMove(Event->modifiers(), Event->position().toPoint());
}

void TShockwaveFlashEx::enterEvent(QEnterEvent*) {
  if (OnMouseEnter) OnMouseEnter();
}

void TShockwaveFlashEx::leaveEvent(QEvent*) {
  if (OnMouseLeave) OnMouseLeave();
}

void TShockwaveFlashEx::keyPressEvent(QKeyEvent* Event) {
  if (OnKeyDown) OnKeyDown(Event->key(), Event->modifiers());
  QWidget::keyPressEvent(Event);
}

// The control has no menu of its own: only the popup menu it is given opens, on the right
// button's release.
void TShockwaveFlashEx::contextMenuEvent(QContextMenuEvent* Event) { Event->accept(); }
