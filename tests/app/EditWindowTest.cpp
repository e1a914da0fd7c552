// The edit window with the real player and a real clip, on a real X server (its xvfb run):
// crop, brightness and a picture watermark chosen while the clip plays, OK writes them into
// the entry, and the three pages are saved as screenshots.
#include "AppTestSupport.h"
#include "AreaEditor.h"
#include "EngineHost.h"
#include "FFPlayer.h"
#include "MediaFixtures.h"
#include "SkBmpBtn.h"
#include "SkRadChk.h"
#include "SkSpnEdt.h"
#include "U_Config.h"
#include "U_Edit_Gui.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QSlider>
#include <QThread>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

// Runs the event loop until the condition holds; the deadline only ends a broken run.
bool PumpUntil(const std::function<bool()>& Condition) {
  const QDeadlineTimer Deadline(60000);
  while (!Condition() && !Deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return Condition();
}

void PumpFor(int Milliseconds) {
  const QDeadlineTimer Deadline(Milliseconds);
  while (!Deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
}

void Drag(QWidget* Widget, QPoint From, QPoint By) {
  const QPoint Global = Widget->mapToGlobal(From);
  const auto Send = [&](QEvent::Type Type, QPoint Offset, Qt::MouseButtons Buttons) {
    QMouseEvent Event(Type, QPointF(From + Offset), QPointF(Global + Offset), Qt::LeftButton,
                      Buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(Widget, &Event);
  };
  Send(QEvent::MouseButtonPress, {}, Qt::LeftButton);
  Send(QEvent::MouseMove, By, Qt::LeftButton);
  Send(QEvent::MouseButtonRelease, By, Qt::NoButton);
}

void SaveShot(const QWidget& Window, const QString& Name) {
  const QImage Shot =
      QGuiApplication::primaryScreen()->grabWindow(0).toImage().copy(Window.frameGeometry());
  const QString Folder = QStringLiteral(FENNICK_SCREENSHOT_DIR "/xcb");
  ASSERT_TRUE(QDir().mkpath(Folder));
  EXPECT_TRUE(Shot.save(Folder + QLatin1Char('/') + Name));
}

class EditWindowScreen : public testing::Test {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
      GTEST_SKIP() << "needs a real X server (its xvfb run)";
    SetProgramFolder(QStringLiteral(FENNICK_BIN_DIR));
    InstallEngineHost();
    ASSERT_TRUE(Player.LoadAVLib(FENNICK_LIBAV_DIR)) << Player.LastErrMsg();
    Player.VideoDriver = vdX11;
    Player.AudioDriver = adDummy;
  }
  void TearDown() override { SetProgramFolder(QString()); }

  // An entry of a 6 s 320x240 clip, as the user adds one.
  static TFileOption ClipEntry() {
    const std::string Clip = fixtures::Make(
        "edit_window_320x240.mp4",
        "-f lavfi -i testsrc=size=320x240:rate=25:duration=6 -c:v libx264 -preset ultrafast "
        "-pix_fmt yuv420p");
    TFileOption Entry;
    Entry.SourceFrameSize = Entry.OutputFrameSize = QStringLiteral("320x240");
    Entry.Input.FileName = Clip;
    return Entry;
  }

  TFFPlayer Player;
  TScratchFolder Folder;
};

TEST_F(EditWindowScreen, ChoicesMadeWhilePlayingReachTheEntry) {
  QImage Logo(40, 30, QImage::Format_RGB32);
  Logo.fill(Qt::red);
  const QString LogoFile = Folder.File(QStringLiteral("logo.png"));
  ASSERT_TRUE(Logo.save(LogoFile));

  TFileOption Entry = ClipEntry();
  TEditfrm Window(Entry, Player);
  Window.show();
  ASSERT_TRUE(PumpUntil([&] { return !Window.InputPreview().isNull(); }));
  auto* Pause = Window.findChild<QToolButton*>(QStringLiteral("btnPause"));
  ASSERT_TRUE(PumpUntil([&] { return Pause->isVisible(); }));
  Pause->click();

  // 320 x 240 fills the 360 x 220 preview's height: the picture is 294 wide from x = 33.
  const QRect Fit = Window.CropArea()->geometry();
  EXPECT_EQ(Fit, QRect(33, 0, 294, 220));
  Drag(Window.CropArea(), {2, 110}, {60, 0});  // the left edge, 60 preview pixels in
  EXPECT_EQ(Window.CropArea()->geometry(), QRect(93, 0, 234, 220));
  Window.BrightnessBar()->setValue(40);
  Window.findChild<TSkCheckBox*>(QStringLiteral("chkStartup"))->SetChecked(true);
  Window.ChoosePicture(LogoFile);
  EXPECT_TRUE(Window.WatermarkArea()->isVisible());

  for (const auto& [Page, Name] :
       {std::pair{0, "edit_crop.png"}, std::pair{1, "edit_watermark.png"},
        std::pair{2, "edit_effect.png"}}) {
    Window.ShowPage(Page);
    PumpFor(300);
    SaveShot(Window, QLatin1String(Name));
  }

  const TEditChoices Choices = Window.Choices();
  Window.OkButton()->Click();
  EXPECT_TRUE(Entry.CropEnabled);
  EXPECT_EQ(Entry.CropRect, Choices.CropSourceRect);
  EXPECT_EQ(Entry.CropRect.Right, 320);
  EXPECT_GT(Entry.CropRect.Left, 60);
  EXPECT_EQ(Entry.Brightness, 40);
  EXPECT_EQ(Entry.WaterMarkKind, 1);
  EXPECT_EQ(Entry.WaterMark.PictureFile, LogoFile);
  const QImage Copy(Entry.WaterMark.PictureCopy);
  EXPECT_EQ(Copy.size(), QSize(RectWidth(Entry.WaterMark.Rect), RectHeight(Entry.WaterMark.Rect)));
  EXPECT_FALSE(Copy.isNull());
  // The copy lives where no other user can read or replace it.
  const QFileInfo Place(Entry.WaterMark.PictureCopy);
  constexpr QFileDevice::Permissions Others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                              QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                              QFileDevice::WriteOther | QFileDevice::ExeOther;
  EXPECT_EQ(QFile::permissions(Place.absolutePath()) & Others, QFileDevice::Permissions());
  EXPECT_FALSE(Place.fileName().contains(QLatin1Char('[')));
  QFile::remove(Entry.WaterMark.PictureCopy);
}

TEST_F(EditWindowScreen, CropBoxesKeepTheAreaInsideThePictureAndAboveTheSmallestSize) {
  TFileOption Entry = ClipEntry();
  TEditfrm Window(Entry, Player);
  Window.show();
  ASSERT_TRUE(PumpUntil([&] { return Window.CropArea()->width() == 294; }));
  const auto Box = [&](const char* Name) { return Window.findChild<TSkSpinEdit*>(Name); };
  Box("edtleft")->SetIntValue(100);
  EXPECT_EQ(Window.Choices().CropSourceRect, (TIntRect{100, 0, 320, 240}));
  Box("edtwidth")->SetIntValue(300);  // more than is left right of 100
  EXPECT_EQ(Window.Choices().CropSourceRect.Right, 320);
  EXPECT_EQ(Window.CropArea()->geometry().right() + 1, 327);  // the picture's right edge
  Box("edtwidth")->SetIntValue(4);
  EXPECT_EQ(Window.CropArea()->width(), 18);  // 6 x the handles' half side
  EXPECT_TRUE(Window.Choices().CropActive);
}

TEST_F(EditWindowScreen, TextWatermarkFollowsItsPositionBoxIntoTheEntry) {
  TFileOption Entry = ClipEntry();
  TEditfrm Window(Entry, Player);
  Window.show();
  ASSERT_TRUE(PumpUntil([&] { return Window.CropArea()->width() == 294; }));
  Window.findChild<TSkCheckBox*>(QStringLiteral("chkStartup"))->SetChecked(true);
  Window.findChild<TSkRadioButton*>(QStringLiteral("rbText"))->SetChecked(true);
  Window.findChild<QLineEdit*>(QStringLiteral("edtText"))->setText(QStringLiteral(" Velmora "));
  EXPECT_TRUE(Window.WatermarkArea()->isVisible());
  EXPECT_EQ(Window.WatermarkArea()->pos(), QPoint(33, 0));  // the output picture's corner
  // 100 output pixels: 294 / 360 x 100 / (320 / 360) + 33 = 124.9 in the preview.
  Window.findChild<TSkSpinEdit*>(QStringLiteral("edtWaterH"))->SetIntValue(100);
  EXPECT_EQ(Window.WatermarkArea()->x(), 125);
  Window.OkButton()->Click();
  EXPECT_EQ(Entry.WaterMarkKind, 2);
  EXPECT_EQ(Entry.WaterMark.Kind, 2);
  EXPECT_EQ(Entry.WaterMark.Text, QStringLiteral("Velmora"));
  EXPECT_EQ(Entry.WaterMark.Rect.Left, 100);
  EXPECT_EQ(Entry.WaterMark.TextViewRect.Left, 125);
  ASSERT_TRUE(Entry.WaterMark.Font.has_value());
  EXPECT_EQ(Entry.WaterMark.Font->Color, 0xFFFFFFu);
}

TEST_F(EditWindowScreen, SoundWithoutPicturesLeavesCropAndWatermarkOff) {
  const std::string Clip = fixtures::Make(
      "edit_window_sound.mp3", "-f lavfi -i sine=frequency=440:duration=3 -c:a libmp3lame");
  TFileOption Entry;
  Entry.SourceFrameSize = Entry.OutputFrameSize = QStringLiteral("0x0");
  Entry.Input.FileName = Clip;
  Entry.Brightness = 30;
  TEditfrm Window(Entry, Player);
  Window.show();
  ASSERT_TRUE(PumpUntil([&] { return Window.BrightnessBar()->value() == 30; }));
  EXPECT_FALSE(Window.CropArea()->isEnabled());
  EXPECT_FALSE(Window.findChild<TSkCheckBox*>(QStringLiteral("chkStartup"))->isEnabled());
  Window.OkButton()->Click();
  EXPECT_FALSE(Entry.CropEnabled);
  EXPECT_EQ(Entry.WaterMarkKind, -1);
  EXPECT_EQ(Entry.Brightness, 30);
}

}  // namespace
