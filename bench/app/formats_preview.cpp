// Times the formats dialog's skin preview: from show() of a dialog opened on its skin page to
// the first frame in which the runtime has painted the skin on the stage colour, and, within
// that, when the preview movie was built by the two tools. The first run includes starting
// the web engine. Runs offscreen unless a platform is set.
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
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>

namespace {

struct TTimes {
  qint64 Built = -1, Painted = -1;
};

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
  return times;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (!qEnvironmentVariableIsSet("QT_QUICK_BACKEND")) qputenv("QT_QUICK_BACKEND", "software");
  PrepareFlashRuntime();
  QApplication application(argc, argv);
  SetProgramFolder(QStringLiteral(FENNICK_BIN_DIR));
  for (int run = 1; run <= runs; ++run) {
    const TTimes times = TimeOnePreview();
    if (times.Painted < 0) {
      std::printf("run %d: the preview was not painted\n", run);
      return 1;
    }
    std::printf("run %d: movie built after %lld ms, skin painted after %lld ms\n", run,
                static_cast<long long>(times.Built), static_cast<long long>(times.Painted));
  }
  return 0;
}
