// Run under a real X server (xvfb-run): the player draws inside a Qt widget's window and
// nowhere else, and a real mouse click on that widget reaches the widget, not SDL.
#include <dlfcn.h>

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <cstdlib>

#include "FFPlayer.h"
#include "MediaFixtures.h"
#include "PlayerScreen.h"
#include "ScreenCheck.h"

using namespace screencheck;

namespace {

class TClickTarget : public QWidget {
 public:
  using QWidget::QWidget;
  int Presses = 0;

 protected:
  void mousePressEvent(QMouseEvent*) override { ++Presses; }
};

bool IsGreen(QRgb pixel) { return qGreen(pixel) > 200 && qRed(pixel) < 60 && qBlue(pixel) < 60; }
bool IsMagenta(QRgb pixel) { return qRed(pixel) > 200 && qBlue(pixel) > 200 && qGreen(pixel) < 60; }

// A click as the X server makes it from a pointer device, through the XTEST extension. Xlib
// is taken at run time: its headers' macros do not mix with Qt's.
bool ClickAt(QPoint global) {
  void* x11 = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
  void* xtest = ::dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
  if (!x11 || !xtest) return false;
  using OpenFn = void* (*)(const char*);
  using DisplayFn = int (*)(void*);
  using MotionFn = int (*)(void*, int, int, int, unsigned long);
  using ButtonFn = int (*)(void*, unsigned int, int, unsigned long);
  auto open = reinterpret_cast<OpenFn>(::dlsym(x11, "XOpenDisplay"));
  auto flush = reinterpret_cast<DisplayFn>(::dlsym(x11, "XFlush"));
  auto close = reinterpret_cast<DisplayFn>(::dlsym(x11, "XCloseDisplay"));
  auto motion = reinterpret_cast<MotionFn>(::dlsym(xtest, "XTestFakeMotionEvent"));
  auto button = reinterpret_cast<ButtonFn>(::dlsym(xtest, "XTestFakeButtonEvent"));
  void* display = open && flush && close && motion && button ? open(nullptr) : nullptr;
  if (display) {
    motion(display, -1, global.x(), global.y(), 0);
    button(display, 1, 1, 0);
    button(display, 1, 0, 0);
    flush(display);
    close(display);
  }
  return display != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "xcb");
  QApplication app(argc, argv);
  InstallMainThreadHooks();

  const std::string video =
      fixtures::Make("player_green_320x240.mp4",
                     "-f lavfi -i color=c=0x00ff00:size=320x240:rate=25:duration=4 "
                     "-c:v libx264 -preset ultrafast -pix_fmt yuv420p");

  TFFPlayer player;
  if (!LoadPlayer(player)) return Verdict();

  QWidget window;
  window.setWindowFlag(Qt::FramelessWindowHint);
  window.setGeometry(100, 100, 480, 360);
  QPalette palette = window.palette();
  palette.setColor(QPalette::Window, Qt::magenta);
  window.setPalette(palette);
  window.setAutoFillBackground(true);
  TClickTarget screen(&window);
  screen.setGeometry(80, 60, 320, 240);
  TPlayerScreen adapter(&screen, player);
  window.show();
  RunEventLoop(500);

  const bool opened = player.Open(video, adapter.Handle());
  Check(opened, "Open " + QString::fromStdString(player.LastErrMsg()));
  RunEventLoop(1500);

  const QImage shot = GrabScreen();
  const QPoint origin = screen.mapToGlobal(QPoint(0, 0));
  for (const QPoint inside :
       {QPoint(160, 120), QPoint(6, 6), QPoint(313, 6), QPoint(6, 233), QPoint(313, 233)}) {
    const QPoint at = origin + inside;
    Check(IsGreen(shot.pixel(at)), "picture inside the widget at " + Describe(at, shot.pixel(at)));
  }
  const QPoint windowOrigin = window.mapToGlobal(QPoint(0, 0));
  for (const QPoint beside :
       {QPoint(40, 180), QPoint(440, 180), QPoint(240, 30), QPoint(240, 330)}) {
    const QPoint at = windowOrigin + beside;
    Check(IsMagenta(shot.pixel(at)),
          "window around the widget keeps its colour at " + Describe(at, shot.pixel(at)));
  }
  int greenOutside = 0;
  for (int y = 0; y < shot.height(); y += 4)
    for (int x = 0; x < shot.width(); x += 4)
      if (!QRect(origin, screen.size()).contains(x, y) && IsGreen(shot.pixel(x, y))) ++greenOutside;
  Check(greenOutside == 0,
        QString("no picture outside the widget (%1 green pixels)").arg(greenOutside));

  // Paused, the picture must survive a repaint of the window around it.
  player.Pause();
  window.repaint();
  RunEventLoop(500);
  const QImage again = GrabScreen();
  const QPoint centre = origin + QPoint(160, 120);
  Check(IsGreen(again.pixel(centre)),
        "paused picture after a repaint at " + Describe(centre, again.pixel(centre)));
  player.Resume();

  // A smaller widget: the picture follows it, the window shows again where it was.
  screen.setGeometry(80, 60, 240, 180);
  RunEventLoop(500);
  const QImage resized = GrabScreen();
  for (const QPoint at : {origin + QPoint(120, 90), origin + QPoint(234, 174)})
    Check(IsGreen(resized.pixel(at)), "resized picture at " + Describe(at, resized.pixel(at)));
  for (const QPoint at : {origin + QPoint(300, 120), origin + QPoint(120, 220)})
    Check(IsMagenta(resized.pixel(at)),
          "window where the widget was at " + Describe(at, resized.pixel(at)));

  Check(ClickAt(origin + QPoint(160, 120)), "click through XTEST");
  RunEventLoop(300);
  Check(screen.Presses == 1, QString("the widget got the click (%1 presses)").arg(screen.Presses));
  Check(screen.hasFocus(), "the click gave the widget the focus");

  screen.close();
  RunEventLoop(100);
  Check(screen.isVisible(), "closing the widget is refused while the player owns it");

  player.Stop(true);
  return Verdict();
}
