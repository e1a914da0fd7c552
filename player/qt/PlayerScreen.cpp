#include "PlayerScreen.h"

#include <QEvent>
#include <QPainter>
#include <QResizeEvent>

TPlayerScreen::TPlayerScreen(QWidget* widget, TCustomPlayer& player)
    : QObject(widget), FWidget(widget), FPlayer(player) {
  widget->setAttribute(Qt::WA_NativeWindow);
  widget->setAttribute(Qt::WA_DontCreateNativeAncestors);
  // Qt paints nothing there: its paint events go to SDL instead (see eventFilter).
  widget->setAttribute(Qt::WA_NoSystemBackground);
  widget->setAttribute(Qt::WA_OpaquePaintEvent);
  widget->installEventFilter(this);
  const QSize size = widget->size() * widget->devicePixelRatio();
  player.ScreenResized(size.width(), size.height());
}

TPlayerScreen::~TPlayerScreen() {
  if (FWidget) FWidget->removeEventFilter(this);
}

TScreenHandle TPlayerScreen::Handle() const {
  return FWidget ? TScreenHandle(FWidget->winId()) : 0;
}

void TPlayerScreen::Repaint() {
  if (FWidget) FWidget->update();
}

bool TPlayerScreen::eventFilter(QObject* watched, QEvent* event) {
  if (watched != FWidget) return false;
  switch (event->type()) {
    case QEvent::Close:
      event->ignore();
      return true;
    case QEvent::Paint:
      // Nothing plays here: whatever the window showed last (a picture, or what covered it)
      // gives way to the plain screen a player leaves around its pictures.
      if (!FPlayer.ScreenExposed(Handle())) QPainter(FWidget).fillRect(FWidget->rect(), Qt::black);
      return true;
    case QEvent::Resize: {
      const QSize size = static_cast<QResizeEvent*>(event)->size() * FWidget->devicePixelRatio();
      FPlayer.ScreenResized(size.width(), size.height());
      return false;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
      FWidget->setFocus(Qt::MouseFocusReason);
      return false;
    default:
      return false;
  }
}
