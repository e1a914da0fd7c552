// Times the formats dialog's skin preview: from show() of a dialog opened on its skin page to
// the first frame in which the runtime has painted the skin on the stage colour, and, within
// that, when the preview movie was built by the two tools. The first run includes starting
// the web engine. Then what the skin page costs while nothing on it changes: the processor
// time of the program and its web engine processes over ten seconds, after five seconds for
// the preview to settle. Runs offscreen unless a platform is set.
// Usage: fennick_formats_preview_bench [runs]
#include "ShockwaveEx.h"
#include "SkBmpBtn.h"
#include "SkEdit.h"
#include "SkListVw.h"
#include "SkinPreviewJob.h"
#include "U_Config.h"
#include "U_FileOption.h"
#include "U_Formats_Gui.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

struct TTimes {
  qint64 Built = -1, Painted = -1;
  double IdleCpuPercent = -1;
};

constexpr int SettleMs = 5000;
constexpr int IdleMs = 10000;

// Clock ticks of user and system time of a process and all its descendants.
long long TreeTicks(qint64 Pid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(Pid));
  if (!stat.open(QIODevice::ReadOnly)) return 0;
  // The fields after the command name, which may hold spaces, in brackets.
  const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
  long long ticks = fields.size() > 12 ? fields[11].toLongLong() + fields[12].toLongLong() : 0;
  const QString tasks = QStringLiteral("/proc/%1/task").arg(Pid);
  for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    QFile children(tasks + '/' + task + QStringLiteral("/children"));
    if (!children.open(QIODevice::ReadOnly)) continue;
    for (const QByteArray& child : children.readAll().split(' '))
      if (!child.trimmed().isEmpty()) ticks += TreeTicks(child.trimmed().toLongLong());
  }
  return ticks;
}

// Waits in the event loop, as the dialog does while the user looks at it.
void RunEvents(int Milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(Milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

// Per cent of one core that the program and its web engine used while the events ran.
double IdleCpuPercent() {
  const qint64 self = QCoreApplication::applicationPid();
  const long long before = TreeTicks(self);
  RunEvents(IdleMs);
  return 100.0 * double(TreeTicks(self) - before) / double(sysconf(_SC_CLK_TCK)) /
         (IdleMs / 1000.0);
}

TTimes TimeOnePreview() {
  TFileOption entry;
  InitFileOption(entry, QStringLiteral("320x240"));
  entry.BGColor = 0x00FF00;
  TFormatsfrm dialog(entry, TFormatsWorld());
  dialog.ShowInformation = [](const QString& Text) {
    std::fprintf(stderr, "%s\n", qPrintable(Text));
  };
  TTimes times;
  QElapsedTimer clock;
  QObject::connect(dialog.PreviewJob(), &TSkinPreviewJob::Finished, &dialog,
                   [&] { times.Built = clock.elapsed(); });
  clock.start();
  dialog.show();
  dialog.btnNext->OnClick();
  dialog.btnNext->OnClick();
  const QColor stage(0, 255, 0);
  while (times.Built < 0 || dialog.SWF->Playing()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!dialog.SWF->Playing()) continue;
    const QImage frame = dialog.SWF->grab().toImage();
    if (frame.pixelColor(20, 20) == stage && frame.pixelColor(frame.rect().center()) != stage) {
      times.Painted = clock.elapsed();
      break;
    }
  }
  if (times.Painted < 0) return times;
  RunEvents(SettleMs);
  times.IdleCpuPercent = IdleCpuPercent();
  return times;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  PrepareFlashRuntime();
  QApplication application(argc, argv);
  SetProgramFolder(QStringLiteral(FENNICK_BIN_DIR));
  for (int run = 1; run <= runs; ++run) {
    const TTimes times = TimeOnePreview();
    if (times.Painted < 0) {
      std::printf("run %d: the preview was not painted\n", run);
      return 1;
    }
    std::printf(
        "run %d: movie built after %lld ms, skin painted after %lld ms; unchanged, the page then "
        "used %.1f %% of a core\n",
        run, static_cast<long long>(times.Built), static_cast<long long>(times.Painted),
        times.IdleCpuPercent);
  }
  return 0;
}
