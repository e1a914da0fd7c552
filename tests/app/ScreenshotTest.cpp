// Pictures of the splash and the main window as the screen shows them, saved into
// the build tree. The xvfb run of these tests shows them on a real X server.
#include "AppTestSupport.h"
#include "SkBmpBtn.h"
#include "SkPanel.h"
#include "SkinForm.h"
#include "Startup.h"
#include "U_Config.h"
#include "U_Main.h"
#include "U_Replace_Gui.h"
#include "U_shutDown_Gui.h"
#include "U_about.h"
#include "VelTrackbar.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <QScreen>
#include <QThread>
#include <QTimer>
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
  // The screen shows what the window paints; on a real X server the rounded corners let the
  // desktop show through.
  const QImage painted = mainfrm.grab().toImage();
  const QPoint inside(painted.width() / 2, 17);  // the caption bar
  EXPECT_EQ(shot.pixelColor(onScreen.topLeft() + inside).rgb(), painted.pixelColor(inside).rgb());
  if (QGuiApplication::platformName() == QStringLiteral("xcb")) {
    EXPECT_NE(shot.pixelColor(onScreen.topLeft()).rgb(), painted.pixelColor(inside).rgb());
  }
}

// A sample dialog in the program's chrome: caption, frame, logo, caption buttons, OK and Cancel.
TEST(Screenshots, SampleDialogInTheProgramsChrome) {
  SetProgramFolder(QStringLiteral(FENNICK_BIN_DIR));
  TSkinForm form(QStringLiteral("Information"));
  auto* text =
      new QLabel(QStringLiteral("The file \"holiday.flv\" already exists.\n"
                                "Do you want to replace it?"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(form.OkButton());
  buttons->addWidget(form.CancelButton());
  auto* layout = new QVBoxLayout(form.Client());
  layout->setContentsMargins(16, 16, 16, 12);
  layout->addWidget(text);
  layout->addStretch();
  layout->addLayout(buttons);
  form.SetClientSize(QSize(360, 130));
  form.move(40, 40);
  form.show();
  Settle();
  const QImage shot = GrabScreen(QStringLiteral("skin_dialog.png"));
  SetProgramFolder(QString());
  const QRect onScreen = form.frameGeometry();
  ASSERT_TRUE(shot.rect().contains(onScreen));
  // The caption bar is the skin's navy, the client the light face, OK shows its picture.
  const QColor caption = shot.pixelColor(onScreen.topLeft() + QPoint(onScreen.width() / 2, 12));
  EXPECT_LT(caption.lightness(), 110);
  EXPECT_GT(caption.blue(), caption.red());
  EXPECT_EQ(shot.pixelColor(onScreen.topLeft() + QPoint(8, 60)).rgb(),
            QColor(0xF0, 0xF0, 0xF0).rgb());
  EXPECT_FALSE(BmpButtonBitmap(form.OkButton()->PaintSettings()).isNull());
}

// The replace question and the shut-down countdown as the conversion shows them.
TEST(Screenshots, ReplaceAndShutDownDialogs) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X server";
  SetProgramFolder(QStringLiteral(FENNICK_BIN_DIR));
  TReplaceFrm replace;
  replace.SetFileName(QStringLiteral("/out/") + QString(70, QLatin1Char('y')) + ".flv");
  replace.move(40, 40);
  replace.show();
  TShutDownFrm shutDown(nullptr);
  shutDown.move(40, 260);
  shutDown.show();
  shutDown.tmr1->stop();
  Settle();
  const QImage shot = GrabScreen(QStringLiteral("replace_shutdown.png"));
  SetProgramFolder(QString());
  EXPECT_TRUE(replace.lblFileName->text().endsWith("...'"));
  EXPECT_EQ(shutDown.lblShow->text(), "Your computer will shut down after 30 seconds.");
  const QRect onScreen = replace.frameGeometry();
  ASSERT_TRUE(shot.rect().contains(onScreen));
  EXPECT_LT(shot.pixelColor(onScreen.topLeft() + QPoint(onScreen.width() / 2, 12)).lightness(),
            110);
}

// The seek bar in its states: at rest, with a segment, hot, pressed, disabled, without markers.
TEST(Screenshots, SeekBarStates) {
  QWidget window;
  window.setWindowFlag(Qt::FramelessWindowHint);
  auto* layout = new QVBoxLayout(&window);
  layout->setSpacing(0);
  layout->setContentsMargins(0, 0, 0, 0);
  QList<TVelTrackbar*> bars;
  for (int i = 0; i < 6; ++i) {
    bars << new TVelTrackbar;
    bars.last()->setFixedSize(400, 40);
    layout->addWidget(bars.last());
  }
  bars[1]->SetSegEndPos(80);
  bars[1]->SetSegStartPos(20);
  bars[1]->SetPosition(45);
  for (TVelTrackbar* bar : {bars[2], bars[3]}) bar->SetPosition(60);
  bars[4]->SetPosition(30);
  bars[4]->setEnabled(false);
  bars[5]->SetShowSegment(false);
  bars[5]->SetPosition(70);
  window.move(40, 260);
  window.show();
  Settle();
  const auto send = [](TVelTrackbar* Bar, QEvent::Type Type) {
    const QPointF at(Bar->TickX(), 20);
    QMouseEvent event(Type, at, Bar->mapToGlobal(at), Qt::LeftButton,
                      Type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Bar, &event);
  };
  send(bars[2], QEvent::MouseMove);
  send(bars[3], QEvent::MouseButtonPress);
  Settle();
  EXPECT_EQ(bars[2]->TickState(), TVelTrackbar::TickHot);
  EXPECT_EQ(bars[3]->TickState(), TVelTrackbar::TickDown);
  const QImage shot = GrabScreen(QStringLiteral("seekbar_states.png"));
  const QRect onScreen = window.frameGeometry();
  ASSERT_TRUE(shot.rect().contains(onScreen));
  // What the screen shows is what the bar renders.
  for (int i = 0; i < bars.size(); ++i) {
    const QImage rendered = bars[i]->Render();
    const QPoint origin = onScreen.topLeft() + bars[i]->pos();
    const QPoint tick(bars[i]->TickX(), 14);
    EXPECT_EQ(shot.pixelColor(origin + tick).rgb(), rendered.pixelColor(tick).rgb()) << i;
  }
}

}  // namespace
