// Pictures of the splash and the main window as the screen shows them, saved into
// the build tree. The xvfb run of these tests shows them on a real X server.
#include "AppTestSupport.h"
#include "Startup.h"
#include "U_Main.h"
#include "U_about.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QThread>
#include <gtest/gtest.h>

namespace {

// Lets the window system map and draw the windows.
void Settle() {
  const QDeadlineTimer deadline(500);
  while (!deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(10);
  }
}

QImage GrabScreen(const QString& Name) {
  const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
  const QString folder =
      QStringLiteral(FENNICK_SCREENSHOT_DIR "/") + QGuiApplication::platformName();
  EXPECT_TRUE(QDir().mkpath(folder));
  EXPECT_TRUE(shot.save(folder + QLatin1Char('/') + Name));
  return shot;
}

TEST(Screenshots, SplashShowsTheAboutPicture) {
  std::unique_ptr<Taboutfrm> splash = ShowSplash();
  Settle();
  const QImage shot = GrabScreen(QStringLiteral("splash.png"));
  const QImage picture = splash->imgBd->Picture().toImage();
  const QRect onScreen = splash->frameGeometry();
  ASSERT_TRUE(shot.rect().contains(onScreen));
  // Where no text lies over the picture, the screen shows the picture itself.
  for (const QPoint at : {QPoint(3, 3), QPoint(picture.width() - 4, 3),
                          QPoint(picture.width() - 4, picture.height() - 4)})
    EXPECT_EQ(shot.pixelColor(onScreen.topLeft() + at).rgb(), picture.pixelColor(at).rgb())
        << at.x() << "," << at.y();
}

TEST(Screenshots, MainWindowReplacesTheSplash) {
  std::unique_ptr<Taboutfrm> splash = ShowSplash();
  Settle();
  TMainfrm mainfrm;
  mainfrm.show();
  splash.reset();
  Settle();
  const QImage shot = GrabScreen(QStringLiteral("mainwindow.png"));
  const QRect onScreen = mainfrm.frameGeometry();
  ASSERT_TRUE(shot.rect().contains(onScreen.center()));
  const QColor face = mainfrm.palette().color(QPalette::Window);
  EXPECT_EQ(shot.pixelColor(onScreen.center()).rgb(), face.rgb());
  // On a real X server the rounded corners let the desktop show through.
  if (QGuiApplication::platformName() == QStringLiteral("xcb")) {
    EXPECT_NE(shot.pixelColor(onScreen.topLeft()).rgb(), face.rgb());
  }
}

}  // namespace
