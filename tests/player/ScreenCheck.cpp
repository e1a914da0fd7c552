#include "ScreenCheck.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>

#include "FFBaseComponent.h"
#include "FFPlayer.h"

namespace screencheck {

namespace {
int Failures = 0;
}  // namespace

void Check(bool condition, const QString& what) {
  std::printf("%s: %s\n", condition ? "ok" : "FAILED", qPrintable(what));
  std::fflush(stdout);
  if (!condition) ++Failures;
}

int Verdict() {
  std::printf("%s\n", Failures ? "FAILED" : "PASSED");
  return Failures ? 1 : 0;
}

void RunEventLoop(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

bool WaitUntil(const std::function<bool()>& condition, int milliseconds) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > milliseconds) return false;
    RunEventLoop(50);
  }
  return true;
}

QImage GrabScreen() {
  // Window 0 is the root: Qt's xcb platform asks the server for its image.
  return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
}

QString Describe(QPoint at, QRgb pixel) {
  return QString("(%1,%2) is #%3").arg(at.x()).arg(at.y()).arg(pixel & 0xFFFFFF, 6, 16, QChar('0'));
}

void InstallMainThreadHooks() {
  SetMainThread();
  SetSynchronizeHooks(
      [] {
        QMetaObject::invokeMethod(
            qApp, [] { CheckSynchronize(); }, Qt::QueuedConnection);
      },
      [] { QCoreApplication::processEvents(); });
}

bool LoadPlayer(TFFPlayer& player) {
  const bool loaded = player.LoadAVLib(FENNICK_LIBAV_DIR);
  Check(loaded, "libraries load " + QString::fromStdString(player.LastErrMsg()));
  player.VideoDriver = vdX11;
  player.AudioDriver = adDummy;
  return loaded;
}

}  // namespace screencheck
