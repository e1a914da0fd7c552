// Pictures of the splash and the main window as the screen shows them, saved into
// the build tree. The xvfb run of these tests shows them on a real X server.
#include "AppTestSupport.h"
#include "EngineHost.h"
#include "FFLoad.h"
#include "MediaFixtures.h"
#include "SkEdit.h"
#include "SkLabel.h"
#include "SkListVw.h"
#include "ServedFiles.h"
#include "SkBtnEdt.h"
#include "SkCmboBx.h"
#include "SkBmpBtn.h"
#include "SkPanel.h"
#include "SkinForm.h"
#include "Startup.h"
#include "U_Config.h"
#include "U_Main.h"
#include "U_FileOption.h"
#include "U_Replace_Gui.h"
#include "U_shutDown_Gui.h"
#include "U_about.h"
#include "U_clip_Gui.h"
#include "U_option_Gui.h"
#include "U_properties.h"
#include "U_properties_Gui.h"
#include "U_updata_Gui.h"
#include "VelTrackbar.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
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

// The about box as the keyboard leaves it: its link framed in the link's colour.
TEST(Screenshots, AboutBoxWithItsLinkFocused) {
  Taboutfrm about;
  about.show();
  QApplication::setActiveWindow(&about);
  about.lblurl->setFocus(Qt::TabFocusReason);
  Settle();
  const QImage shot = GrabScreen(QStringLiteral("about_link_focused.png"));
  const QRect frame(about.lblurl->mapToGlobal(QPoint()), about.lblurl->size());
  ASSERT_TRUE(shot.rect().contains(frame));
  int framed = 0;
  for (int x = frame.left(); x <= frame.right(); ++x)
    framed += shot.pixelColor(x, frame.top()) == QColor(0x20, 0x8A, 0xDE);
  EXPECT_GE(framed, frame.width() / 3);
}

TEST(Screenshots, AStartProblemIsSaidOverTheMainWindow) {
  TMainfrm mainfrm;
  mainfrm.show();
  EXPECT_EQ(ReportStartProblems(&mainfrm, {}), nullptr);
  const QString problem = QStringLiteral(
      "/home/ann/Fennick/FormatDefault.ini is not a settings file: line 2 holds binary data. The "
      "program keeps it as it is: what cannot be read from it takes its default, and no setting "
      "is saved to it.");
  QPointer<QMessageBox> box = ReportStartProblems(&mainfrm, {problem});
  ASSERT_TRUE(box);
  Settle();
  GrabScreen(QStringLiteral("start-problem.png"));
  EXPECT_TRUE(box->isVisible());
  EXPECT_EQ(box->text(), problem);
  EXPECT_TRUE(mainfrm.frameGeometry().contains(box->frameGeometry().center()));
  box->accept();
  Settle();
  EXPECT_TRUE(box.isNull());
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
  const QString name =
      QStringLiteral("/out/holiday_at_the_harbour_in_the_evening_with_all_our_friends_10min");
  replace.SetFileNames({name + QStringLiteral(".flv"), name + QStringLiteral(".swf"),
                        name + QStringLiteral(".html"), name + QStringLiteral(".jpg")});
  replace.move(40, 40);
  replace.show();
  TShutDownFrm shutDown(nullptr);
  shutDown.move(40, 260);
  shutDown.show();
  shutDown.tmr1->stop();
  Settle();
  const QImage shot = GrabScreen(QStringLiteral("replace_shutdown.png"));
  SetProgramFolder(QString());
  EXPECT_TRUE(replace.lblFileName->text().contains("\r\n'holi")) << replace.lblFileName->text().toStdString();
  for (const char* end : {".flv', '", ".swf', '", ".html' and '"})
    EXPECT_TRUE(replace.lblFileName->text().contains(end)) << end;
  EXPECT_TRUE(replace.lblFileName->text().endsWith(".jpg'"));
  EXPECT_EQ(shutDown.lblShow->text(), "Your computer will shut down after 30 seconds.");
  EXPECT_EQ(shutDown.focusWidget(), shutDown.btnCancel);
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

// The options, properties, update and clip windows as a user sees them.
class DialogScreenshots : public ::testing::Test {
 protected:
  void SetUp() override { SetProgramFolder(QStringLiteral(FENNICK_BIN_DIR)); }
  void TearDown() override { SetProgramFolder(QString()); }

  static void Present(TSkinForm& Form) {
    Form.move(40, 40);
    Form.show();
    Settle();
  }
  static QImage Show(TSkinForm& Form, const QString& Name) {
    Present(Form);
    return Grab(Form, Name);
  }
  static QImage Grab(TSkinForm& Form, const QString& Name) {
    const QImage shot = GrabScreen(Name);
    const QRect onScreen = Form.frameGeometry();
    EXPECT_TRUE(shot.rect().contains(onScreen));
    return shot.copy(onScreen);
  }
};

TEST_F(DialogScreenshots, OptionsWindow) {
  TScratchFolder folder;
  WriteTextFile(folder.File("Fennick.ini"), "[Output]\nSnapshotExt=jpg\n");
  TMainSettings settings(folder.File("Fennick.ini"), DataPlacesFor(folder.Path() + "/", true));
  Toptionfrm form(settings);
  const QImage shot = Show(form, QStringLiteral("options.png"));
  EXPECT_EQ(form.CbbFormat->currentIndex(), 1);
  EXPECT_EQ(form.EdtPath->text(), settings.Value(TMainSettings::SnapshotPath));
  EXPECT_EQ(form.focusWidget(), form.OkButton());
  EXPECT_FALSE(shot.isNull());
}

TEST_F(DialogScreenshots, PropertiesWindow) {
  FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
  ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
  TFileOption entry;
  entry.Input.FileName = fixtures::Path(fixtures::Media::Mp4H264Aac);
  entry.Duration = 3000000;
  entry.SourceFrameSize = QStringLiteral("320x240");
  TFilePropertiesFrm form;
  form.ShowProperties(FilePropertiesOf(entry));
  FFLoader().Unload(AllLibraries);
  Show(form, QStringLiteral("properties.png"));
  EXPECT_EQ(form.lblFrameRate->Caption(), QStringLiteral("25.00 fps"));
  EXPECT_EQ(form.lblChannel->Caption(), QStringLiteral("Stereo"));
  EXPECT_EQ(form.focusWidget(), form.OkButton());
}

TEST_F(DialogScreenshots, UpdateWindowWithANewerVersion) {
  TScratchFolder cache;
  auto served = std::make_unique<TServedFiles>();
  served->Files[QStringLiteral("update.ini")] = "[Fennick]\nVersion=99.0.0.0\n";
  served->Files[QStringLiteral("whatsnew.xml")] =
      "<whatsnew>\n  <item>Clips keep their times to the frame.</item>\n</whatsnew>\n";
  TUpdatefrm form(std::move(served), QStringLiteral("http://localhost"), cache.Path() + "/");
  const QImage shot = Show(form, QStringLiteral("update.png"));
  EXPECT_TRUE(form.mmonew->isVisible());
  // The changes are read on white, below their last line.
  const QPoint blank(form.mmonew->width() / 2, form.mmonew->height() - 12);
  EXPECT_EQ(shot.pixelColor(form.mmonew->mapTo(&form, blank)), QColor(Qt::white));
  EXPECT_EQ(form.lbVersion->Caption(), QStringLiteral("99.0.0.0"));
  EXPECT_TRUE(form.mmonew->toPlainText().contains(QStringLiteral("to the frame")));
  EXPECT_EQ(form.focusWidget(), form.CancelButton());
  QApplication::setActiveWindow(&form);
  form.lblURL->setFocus(Qt::TabFocusReason);
  Settle();
  Grab(form, QStringLiteral("update_link_focused.png"));
}

TEST_F(DialogScreenshots, UpdateWindowStoppedByATooLargeAnswer) {
  TScratchFolder cache;
  auto served = std::make_unique<TServedFiles>();
  const QString reason = QStringLiteral(
      "The answer from https://download.velmora.example/download/fnk/update.ini is larger than "
      "256 KB: the download was stopped.");
  served->Stopped[QStringLiteral("update.ini")] = reason;
  TUpdatefrm form(std::move(served), QStringLiteral("http://localhost"), cache.Path() + "/");
  Show(form, QStringLiteral("update-stopped.png"));
  EXPECT_EQ(form.lblUpdateinfo->Caption(), reason);
  // The whole reason shows, on more lines than one.
  EXPECT_GT(form.lblUpdateinfo->height(), 2 * form.fontMetrics().height());
}

TEST_F(DialogScreenshots, ClipWindowPlayingItsFile) {
  if (QGuiApplication::platformName() != QStringLiteral("xcb"))
    GTEST_SKIP() << "the player draws only into a window of a real X server";
  InstallEngineHost();
  FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
  ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
  {
    TFFPlayer player;
    ASSERT_TRUE(player.LoadAVLib(FENNICK_LIBAV_DIR)) << player.LastErrMsg();
    player.VideoDriver = vdX11;
    player.AudioDriver = adDummy;
    TFileOption entry;
    entry.Input.FileName = fixtures::Path(fixtures::Media::Mp4H264Aac);
    entry.SourceFrameSize = QStringLiteral("320x240");
    TClipFile part = NewClipFile(entry);
    part.Title = QStringLiteral("Part_0");
    part.StartTime = 500000;
    part.EndTime = 2000000;
    TClipfrm form(player, entry, 1, {part});
    Present(form);
    form.SelectRow(0, TClipColumn::End);
    Settle();
    Grab(form, QStringLiteral("clip.png"));
    EXPECT_EQ(form.lvCutVideo->topLevelItemCount(), 1);
    EXPECT_TRUE(form.ItemEdit->isVisible());
    EXPECT_EQ(form.ItemEdit->text(), QStringLiteral("00:00:02"));
    // The time editor fits its row.
    EXPECT_GE(form.ItemEdit->height(), form.ItemEdit->sizeHint().height());
    form.reject();
  }
  FFLoader().Unload(AllLibraries);
}

}  // namespace
