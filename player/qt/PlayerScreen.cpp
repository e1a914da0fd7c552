#include "PlayerScreen.h"

#include <QEvent>
#include <QPainter>
#include <QResizeEvent>

namespace {

QSize DeviceSize(const QWidget& widget, QSize size) {
  // Rounded as the window system rounds the native window it makes at a fractional scale.
  return (QSizeF(size) * widget.devicePixelRatioF()).toSize();
}

}  // namespace

// The native window the player draws into. While the player owns it, it paints on the screen
// with no paint engine: Qt sends its paints on to the player and draws nothing itself.
class TPlayerSurface : public QWidget {
 public:
  TPlayerSurface(QWidget* parent, TCustomPlayer& player) : QWidget(parent), FPlayer(player) {
    // Its ancestors become native windows too: the X server then moves it with them, where Qt
    // would leave it behind when a layout only moves a plain ancestor.
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

  TScreenHandle Handle() { return TScreenHandle(winId()); }

  void HandOver() { setAttribute(Qt::WA_PaintOnScreen); }

  QPaintEngine* paintEngine() const override { return nullptr; }

 protected:
  void paintEvent(QPaintEvent*) override {
    const bool playing = FPlayer.ScreenExposed(Handle());
    if (testAttribute(Qt::WA_PaintOnScreen) == playing) {
      // Nothing plays here: whatever the window showed last (a picture, or what covered it)
      // gives way to the plain screen a player leaves around its pictures.
      if (!playing) QPainter(this).fillRect(rect(), Qt::black);
      return;
    }
    // Whether the player draws here changed (it stopped, or it started only after a paint found
    // it stopped): Qt paints the other way from now on.
    setAttribute(Qt::WA_PaintOnScreen, playing);
    if (!playing)
      QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
  }

  void resizeEvent(QResizeEvent* event) override {
    const QSize size = DeviceSize(*this, event->size());
    FPlayer.ScreenResized(size.width(), size.height());
  }

 private:
  TCustomPlayer& FPlayer;
};

TPlayerScreen::TPlayerScreen(QWidget* widget, TCustomPlayer& player)
    : QObject(widget), FWidget(widget), FSurface(new TPlayerSurface(widget, player)) {
  FSurface->setGeometry(widget->rect());
  FSurface->show();
  widget->installEventFilter(this);
  const QSize size = DeviceSize(*widget, widget->size());
  player.ScreenResized(size.width(), size.height());
}

TPlayerScreen::~TPlayerScreen() {
  if (FWidget) FWidget->removeEventFilter(this);
  delete FSurface;
}

TScreenHandle TPlayerScreen::Handle() {
  if (!FSurface) return 0;
  FSurface->HandOver();
  return FSurface->Handle();
}

QSize TPlayerScreen::Size() const {
  return FWidget ? DeviceSize(*FWidget, FWidget->size()) : QSize();
}

void TPlayerScreen::Repaint() {
  if (FSurface) FSurface->update();
}

bool TPlayerScreen::eventFilter(QObject* watched, QEvent* event) {
  if (watched != FWidget) return false;
  switch (event->type()) {
    case QEvent::Close:
      event->ignore();
      return true;
    case QEvent::Resize:
      if (FSurface) FSurface->setGeometry(FWidget->rect());
      return false;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
      FWidget->setFocus(Qt::MouseFocusReason);
      return false;
    default:
      return false;
  }
}
