#include "XServerView.h"

#include <QGuiApplication>
#include <QWidget>

#include <X11/Xlib.h>

namespace {

Display* ServerDisplay() {
  const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 ? x11->display() : nullptr;
}

}  // namespace

QRect ServerGeometry(const QWidget& Window) {
  Display* display = ServerDisplay();
  XWindowAttributes attributes{};
  if (!display || !XGetWindowAttributes(display, Window.winId(), &attributes)) return {};
  int x = 0, y = 0;
  ::Window child = 0;
  XTranslateCoordinates(display, Window.winId(), attributes.root, 0, 0, &x, &y, &child);
  return QRect(x, y, attributes.width, attributes.height);
}

bool HasServerFocus(const QWidget& Window) {
  Display* display = ServerDisplay();
  ::Window focus = 0;
  int revert = 0;
  if (display) XGetInputFocus(display, &focus, &revert);
  return display && focus == Window.winId();
}
