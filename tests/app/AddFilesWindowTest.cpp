// The add-files window as the user meets it: a pipe and a device among the chosen files, and
// Escape pressed while a file is still being opened.
#include "AppTestSupport.h"
#include "FFLoad.h"
#include "MediaFixtures.h"
#include "SkPrgres.h"
#include "U_AddFile_Gui.h"

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace {

TEST(AddFilesWindow, RefusesPipesAndDevicesAndEscapeClosesItWhileAFileIsStillOpening) {
  FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
  ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
  TScratchFolder folder;
  const TSpecialFiles special = MakeSpecialFiles(folder);
  const QString movie = QString::fromStdString(fixtures::Path(fixtures::Media::VideoOnly));
  // This one stays in its probe until the test lets it go.
  const QString slow = folder.File(QStringLiteral("slow.mp4"));
  const QStringList files = {special.Pipe, special.Zero, movie, slow,
                             folder.File(QStringLiteral("after.mp4"))};
  std::promise<void> released;
  const std::shared_future<void> release = released.get_future().share();
  std::atomic<bool> blocked{false};
  const auto probe = [&](TCustomDecoder& Decoder, const QString& FileName) {
    if (FileName != slow) return ProbeMediaFile(Decoder, FileName);
    blocked = true;
    release.wait();
    return ProbeMediaFile(Decoder, FileName);
  };

  // The event loop goes on while the probe is blocked: the timer ticks and presses Escape.
  int ticksWhileBlocked = 0;
  QTimer user;
  user.setInterval(10);
  QObject::connect(&user, &QTimer::timeout, [&] {
    auto* window = qobject_cast<TAddFilefrm*>(QApplication::activeModalWidget());
    if (!window || !blocked || ++ticksWhileBlocked < 3) return;
    const QString shots =
        QStringLiteral(FENNICK_SCREENSHOT_DIR "/") + QGuiApplication::platformName();
    QDir().mkpath(shots);
    EXPECT_TRUE(window->grab().save(shots + QStringLiteral("/add_files.png")));
    EXPECT_EQ(window->prgTotal->Percent(), 60);
    QTest::keyClick(window, Qt::Key_Escape);
  });
  user.start();
  QStringList added;
  const TAddFilesResult result = TAddFilefrm::Execute(
      nullptr, files,
      [&](const TProbedFile& File) {
        if (File.Loaded) added << QFileInfo(File.FileName).fileName();
        return File.Loaded;
      },
      probe);
  // Back while the slow file is still being opened: nothing waited for it.
  EXPECT_FALSE(release.wait_for(std::chrono::seconds(0)) == std::future_status::ready);
  released.set_value();
  EXPECT_GE(ticksWhileBlocked, 3);
  EXPECT_EQ(added, QStringList{QFileInfo(movie).fileName()});
  EXPECT_EQ(AddFilesSummary(int(files.size()), result.Failed, result.NotAdded),
            "1 files have been loaded successfully,2 files failed.\r\nunloaded files:\r\n"
            "pipe.mp4 (not a regular file: a named pipe)\r\n"
            "zero.dv (not a regular file: a device)\r\n"
            "2 files were not added: adding was canceled.");
  ASSERT_TRUE(WaitForFileProbers(60000));
  FFLoader().Unload(AllLibraries);
}

}  // namespace
