// How long the main window's GUI thread is kept from its events while 20 files are added and
// while the preview plays, seeks and stops: a 5 ms timer on the GUI thread notes the longest gap
// between its ticks. Needs an X server (the preview draws through SDL): run under xvfb-run.
// Usage: fennick_mainwindow_bench
#include "EngineHost.h"
#include "MediaFixtures.h"
#include "U_Config.h"
#include "U_Main.h"
#include "VelTrackbar.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

// The longest time between two ticks of a 5 ms timer, less the 5 ms.
class TStallMeter {
 public:
  TStallMeter() {
    FTimer.setInterval(5);
    QObject::connect(&FTimer, &QTimer::timeout,
                     [this] { FLongest = std::max(FLongest, FClock.restart() - 5); });
  }
  void Start() {
    FLongest = 0;
    FClock.start();
    FTimer.start();
  }
  qint64 Stop() {
    FTimer.stop();
    return FLongest;
  }

 private:
  QTimer FTimer;
  QElapsedTimer FClock;
  qint64 FLongest = 0;
};

void RunFor(int Milliseconds) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < Milliseconds) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// A click on the track two thirds along, as the user seeks.
void ClickTrack(TVelTrackbar* Bar) {
  const QPointF at(Bar->width() * 2 / 3, Bar->height() / 2);
  for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QMouseEvent event(type, at, Bar->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(Bar, &event);
  }
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "xcb");
  qputenv("SDL_AUDIODRIVER", "dummy");
  QApplication app(argc, argv);
  QTemporaryDir folder;
  SetProgramFolder(folder.path());
  InitMainSettings();
  InstallEngineHost();
  TMainfrm window;
  window.ShowWarning = [](const QString& Text) { std::printf("%s\n", qPrintable(Text)); };
  if (!window.LoadMediaLibraries()) return 1;
  window.show();
  RunFor(300);

  QStringList files;
  const fixtures::Media kinds[] = {fixtures::Media::Mp4H264Aac, fixtures::Media::AviMpeg4Mp3,
                                   fixtures::Media::VideoOnly, fixtures::Media::OddSize};
  for (int i = 0; i < 20; ++i) files << QString::fromStdString(fixtures::Path(kinds[i % 4]));
  TStallMeter meter;
  QElapsedTimer total;
  total.start();
  meter.Start();
  window.AddFiles(files);
  const qint64 adding = meter.Stop();
  std::printf("adding 20 files: %lld ms in all, GUI thread blocked at most %lld ms\n",
              static_cast<long long>(total.elapsed()), static_cast<long long>(adding));

  window.FileView()->setCurrentIndex(window.Model().index(0, 0));
  meter.Start();
  window.btnPlayClick();
  RunFor(1500);
  window.btnPauseClick();
  ClickTrack(window.SeekBar());
  window.btnPlayClick();
  RunFor(800);
  window.btnStopClick();
  const qint64 previewing = meter.Stop();
  std::printf("previewing (open, play, pause, seek, stop): GUI thread blocked at most %lld ms\n",
              static_cast<long long>(previewing));
  return 0;
}
