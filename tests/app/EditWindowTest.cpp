// The edit window with the real player and a real clip, on a real X server (its xvfb run):
// crop, brightness and a picture watermark chosen while the clip plays, OK writes them into
// the entry, the entry converts into what the output preview showed, and the three pages
// are saved as screenshots.
#include "AppTestSupport.h"
#include "AreaEditor.h"
#include "DecodedFrames.h"
#include "EntryFixtures.h"
#include "FFLoad.h"
#include "FFEncode.h"
#include "FFPlayer.h"
#include "MediaFixtures.h"
#include "ScreenPlayerTest.h"
#include "SkBmpBtn.h"
#include "SkCommon.h"
#include "SkEdit.h"
#include "SkRadChk.h"
#include "SkSpnEdt.h"
#include "VelTrackbar.h"
#include "U_Config.h"
#include "U_Config_Gui.h"
#include "U_Converting.h"
#include "U_Edit_Gui.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QSlider>
#include <QThread>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

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

// Types into the box as a user does (the whole text selected first) and returns what the box
// showed after each key.
QStringList TypeInto(QWidget& Window, QLineEdit* Box, const QString& Text) {
  QApplication::setActiveWindow(&Window);
  Box->setFocus();
  Box->selectAll();
  QStringList Shown;
  for (const QChar Key : Text) {
    QTest::keyClick(Box, Key.toLatin1());
    Shown << Box->text();
  }
  return Shown;
}

class EditWindowScreen : public TScreenPlayerTest {
 protected:
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

  // An entry of a 3 s 321x241 clip: both sides odd, bands left and right in the preview.
  static TFileOption OddSizeEntry() {
    TFileOption Entry;
    Entry.SourceFrameSize = Entry.OutputFrameSize = QStringLiteral("321x241");
    Entry.Input.FileName = fixtures::Path(fixtures::Media::OddSize);
    return Entry;
  }

  // An entry of a 1 s 1920x1080 clip: bands above and below in the preview.
  static TFileOption LargeEntry() {
    TFileOption Entry;
    Entry.SourceFrameSize = QStringLiteral("1920x1080");
    Entry.OutputFrameSize = QStringLiteral("640x360");
    Entry.Input.FileName = fixtures::Make(
        "edit_window_1920x1080.mp4",
        "-f lavfi -i testsrc=size=1920x1080:rate=25:duration=1 -c:v libx264 -preset ultrafast "
        "-pix_fmt yuv420p");
    return Entry;
  }

  // An entry of a 2 s grey DVD picture stored at 720 x 576 and shown 16:9 (1024 x 576).
  static TFileOption WidePalEntry() {
    TFileOption Entry;
    Entry.Input.FileName = fixtures::Make(
        "edit_window_pal_16x9_grey.mpg",
        "-f lavfi -i color=c=gray:size=720x576:rate=25:duration=2 -c:v mpeg2video -aspect 16:9");
    Entry.SourceFrameSize = QStringLiteral("720x576");
    Entry.SourcePixelAspect = {64, 45};
    Entry.OutputFrameSize = QStringLiteral("1024x576");
    return Entry;
  }

  // An entry of the grey ramp clip, whose pictures tell their time.
  static TFileOption GreyRampEntry() {
    TFileOption Entry;
    Entry.SourceFrameSize = Entry.OutputFrameSize = QStringLiteral("160x120");
    Entry.Input.FileName = fixtures::GreyRampClip();
    return Entry;
  }

  // A 40 x 30 picture, all red.
  QString RedLogo() const {
    QImage Logo(40, 30, QImage::Format_RGB32);
    Logo.fill(Qt::red);
    const QString File = Folder.File(QStringLiteral("logo.png"));
    EXPECT_TRUE(Logo.save(File));
    return File;
  }

  // Switches the watermark on as a text mark and types its text.
  static void TextMark(TEditfrm& Window, const QString& Text) {
    Window.findChild<TSkCheckBox*>(QStringLiteral("chkStartup"))->SetChecked(true);
    Window.findChild<TSkRadioButton*>(QStringLiteral("rbText"))->SetChecked(true);
    Window.findChild<QLineEdit*>(QStringLiteral("edtText"))->setText(Text);
  }

  TScratchFolder Folder;
};

TEST_F(EditWindowScreen, ChoicesMadeWhilePlayingReachTheEntry) {
  const QString LogoFile = RedLogo();

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
  // Typed digits stay as typed while the area follows them.
  EXPECT_EQ(TypeInto(Window, Box("edtwidth"), QStringLiteral("100")),
            (QStringList{"1", "10", "100"}));
  EXPECT_EQ(RectWidth(Window.Choices().CropSourceRect), 100);
  QTest::keyClick(Box("edtwidth"), Qt::Key_Tab);
  EXPECT_EQ(Box("edtwidth")->IntValue(), 100);
  Box("edtwidth")->SetIntValue(320);
  Box("edtleft")->SetIntValue(100);
  EXPECT_EQ(Window.Choices().CropSourceRect, (TIntRect{100, 0, 320, 240}));
  EXPECT_EQ(Box("edtwidth")->IntValue(), 220);  // the boxes show the crop in force
  Box("edtwidth")->SetIntValue(300);  // more than is left right of 100
  EXPECT_EQ(Window.Choices().CropSourceRect.Right, 320);
  EXPECT_EQ(Window.CropArea()->geometry().right() + 1, 327);  // the picture's right edge
  Box("edtwidth")->SetIntValue(4);
  EXPECT_EQ(Window.CropArea()->width(), 18);  // 6 x the handles' half side
  EXPECT_TRUE(Window.Choices().CropActive);
  Window.reject();

  // Typed past every edge of pictures with bands left and right (4:3 and narrower) and above
  // and below (16:9): the crop stays in the picture and keeps the smallest area the crop
  // area stands for (18 preview pixels: 20 source pixels at 320 x 240 and 321 x 241, 96 at
  // 1920 x 1080).
  const struct {
    TFileOption Entry;
    std::vector<std::pair<const char*, const char*>> Typed;
    TIntRect Expected;
  } Cases[] = {
      {ClipEntry(), {{"edtleft", "330"}}, {300, 0, 320, 240}},
      {ClipEntry(), {{"edttop", "999"}}, {0, 220, 320, 240}},
      {ClipEntry(), {{"edtwidth", "3"}}, {0, 0, 20, 240}},
      {ClipEntry(), {{"edtheight", "3"}}, {0, 0, 320, 20}},
      {ClipEntry(), {{"edtleft", "100"}, {"edtwidth", "9999"}}, {100, 0, 320, 240}},
      {OddSizeEntry(), {{"edtleft", "999"}}, {301, 0, 321, 241}},
      {OddSizeEntry(), {{"edttop", "241"}}, {0, 221, 321, 241}},
      {OddSizeEntry(), {{"edtwidth", "3"}, {"edtheight", "3"}}, {0, 0, 20, 20}},
      {OddSizeEntry(), {{"edttop", "200"}, {"edtheight", "9999"}}, {0, 200, 321, 241}},
      {OddSizeEntry(), {{"edtleft", "310"}, {"edttop", "230"}}, {301, 221, 321, 241}},
      {LargeEntry(), {{"edtleft", "9999"}}, {1824, 0, 1920, 1080}},
      {LargeEntry(), {{"edttop", "999"}}, {0, 984, 1920, 1080}},
      {LargeEntry(), {{"edtwidth", "50"}, {"edtheight", "50"}}, {0, 0, 96, 96}},
      {LargeEntry(), {{"edttop", "500"}, {"edtheight", "9999"}}, {0, 500, 1920, 1080}},
      // 51 x 51 shown pixels (1024 / 360 x 18; 576 / 202 x 18) are 36 x 51 stored ones.
      {WidePalEntry(), {{"edtleft", "999"}, {"edttop", "999"}}, {684, 525, 720, 576}},
      {WidePalEntry(), {{"edtwidth", "3"}, {"edtheight", "3"}}, {0, 0, 36, 51}},
  };
  for (const auto& Case : Cases) {
    TFileOption Typed = Case.Entry;
    SCOPED_TRACE(Typed.SourceFrameSize.toStdString() + " " + Case.Typed.front().first + " " +
                 Case.Typed.front().second);
    TEditfrm Shape(Typed, Player);
    Shape.show();
    const auto ShapeBox = [&](const char* Name) { return Shape.findChild<TSkSpinEdit*>(Name); };
    ASSERT_TRUE(PumpUntil([&] { return ShapeBox("edtwidth")->IntValue() > 0; }));
    for (const auto& [Name, Text] : Case.Typed) {
      TypeInto(Shape, ShapeBox(Name), QLatin1String(Text));
      QTest::keyClick(ShapeBox(Name), Qt::Key_Tab);
    }
    const TIntRect& E = Case.Expected;
    EXPECT_EQ(Shape.Choices().CropSourceRect, E);
    const char* const Names[] = {"edtleft", "edttop", "edtwidth", "edtheight"};
    const int Shown[] = {E.Left, E.Top, RectWidth(E), RectHeight(E)};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ShapeBox(Names[i])->IntValue(), Shown[i]) << Names[i];
    // The area stands on the picture, never on a band, and is never below its smallest size.
    const QRect Area = Shape.CropArea()->geometry();
    const TIntRect Fit = Shape.CropArea()->Area();
    EXPECT_TRUE(QRect(Fit.Left, Fit.Top, RectWidth(Fit), RectHeight(Fit)).contains(Area))
        << Area.x() << ", " << Area.y() << " " << Area.width() << " x " << Area.height();
    EXPECT_GE(std::min(Area.width(), Area.height()), Shape.CropArea()->MinSize());
    Shape.OkButton()->Click();
    EXPECT_EQ(Typed.CropRect, E);
  }
}

// Where a preview's picture lies: the pixels that are not its background.
QRect PictureIn(QWidget& Preview, QColor Background) {
  const QImage Shot = Preview.grab().toImage();
  QRect Picture;
  for (int y = 0; y < Shot.height(); ++y)
    for (int x = 0; x < Shot.width(); ++x)
      if (std::abs(qGray(Shot.pixel(x, y)) - qGray(Background.rgb())) > 24) Picture |= {x, y, 1, 1};
  return Picture;
}

// A DVD picture stored at 720 x 576 is shown 16:9: both previews take that shape (the input
// preview's crop area, the output preview's picture), and a crop dragged over the input is in
// the stored pixels, as the boxes are typed.
TEST_F(EditWindowScreen, PixelsThatAreNotSquareArePreviewedAsShownAndCroppedAsStored) {
  TFileOption Entry = WidePalEntry();
  TEditfrm Window(Entry, Player);
  Window.show();
  ASSERT_TRUE(PumpUntil([&] { return !Window.OutputPreview().isNull(); }));
  const QRect Area = Window.CropArea()->geometry();
  const QRect Output =
      PictureIn(*Window.findChild<QWidget*>("imgVideo2"), QColor(0x10, 0x10, 0x10));
  for (const QRect& Shown : {Area, Output})
    EXPECT_NEAR(double(Shown.width()) / Shown.height(), 16.0 / 9, 0.02) << Shown.width();
  Drag(Window.CropArea(), {2, Area.height() / 2}, {90, 0});  // the left edge, 90 pixels in
  const TIntRect Crop = Window.Choices().CropSourceRect;
  EXPECT_NEAR(Crop.Left, 90.0 * 720 / Area.width(), 2.0);
  EXPECT_EQ(Crop.Right, 720);
  EXPECT_EQ(RectHeight(Crop), 576);
}

// Enter in a box or on a slider presses OK, as in any dialog; Tab after the Text choice goes
// past the picture's path, which only the "..." button fills.
TEST_F(EditWindowScreen, EnterPressesOkAndTabSkipsThePicturePath) {
  // The window laid out over the entry, active, with a text mark chosen.
  const auto Open = [&](TFileOption& Entry) {
    auto Window = std::make_unique<TEditfrm>(Entry, Player);
    Window->show();
    EXPECT_TRUE(PumpUntil([&] { return Window->CropArea()->width() == 294; }));
    QApplication::setActiveWindow(Window.get());
    TextMark(*Window, QStringLiteral("Velmora"));
    return Window;
  };
  for (const char* Name : {"edtWaterH", "TrckWatermarkH", "trckBrightness"}) {
    TFileOption Entry = ClipEntry();
    const auto Window = Open(Entry);
    Window->ShowPage(QByteArray(Name).startsWith("trck") ? 2 : 1);
    QWidget* Control = Window->findChild<QWidget*>(QLatin1String(Name));
    Control->setFocus();
    QTest::keyClick(Control, Qt::Key_Return);
    EXPECT_EQ(Window->result(), int(QDialog::Accepted)) << Name;
    EXPECT_EQ(Entry.WaterMark.Text, QStringLiteral("Velmora")) << Name;
  }
  TFileOption Entry = ClipEntry();
  const auto Opened = Open(Entry);
  TEditfrm& Window = *Opened;
  Window.ShowPage(1);
  auto* Text = Window.findChild<TSkRadioButton*>(QStringLiteral("rbText"));
  Text->setFocus(Qt::TabFocusReason);
  QTest::keyClick(Text, Qt::Key_Tab);
  EXPECT_NE(QApplication::focusWidget(), Window.findChild<QWidget*>(QStringLiteral("edtImage")));
  EXPECT_NE(QApplication::focusWidget(), nullptr);
  // From one position box Tab goes to the other, where the next digits land.
  auto* Horizontal = Window.findChild<QLineEdit*>(QStringLiteral("edtWaterH"));
  auto* Vertical = Window.findChild<QLineEdit*>(QStringLiteral("edtWaterV"));
  Horizontal->setFocus(Qt::TabFocusReason);
  QTest::keyClick(Horizontal, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), Vertical);
  QTest::keyClick(Vertical, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("3"));
  EXPECT_EQ(Vertical->text(), QStringLiteral("3"));
  Window.reject();
}

// A crop typed on a large picture stays in the picture's pixels as typed, through OK and when
// the window opens again, however the preview's pixels round it.
TEST_F(EditWindowScreen, CropTypedOnALargePictureIsKeptAsTyped) {
  TFileOption Entry = LargeEntry();
  const TIntRect Typed{96, 54, 96 + 1728, 54 + 972};
  const char* const Names[] = {"edtleft", "edttop", "edtwidth", "edtheight"};
  const int Values[] = {96, 54, 1728, 972};
  for (const bool Again : {false, true}) {
    SCOPED_TRACE(Again ? "opened again" : "typed");
    TEditfrm Window(Entry, Player);
    Window.show();
    const auto Box = [&](const char* Name) { return Window.findChild<TSkSpinEdit*>(Name); };
    ASSERT_TRUE(PumpUntil([&] { return Box("edtwidth")->IntValue() > 0; }));
    for (int i = 0; i < 4 && !Again; ++i) {
      TypeInto(Window, Box(Names[i]), QString::number(Values[i]));
      QTest::keyClick(Box(Names[i]), Qt::Key_Tab);
    }
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Box(Names[i])->IntValue(), Values[i]) << Names[i];
    EXPECT_EQ(Window.Choices().CropSourceRect, Typed);
    Window.OkButton()->Click();
    EXPECT_TRUE(Entry.CropEnabled);
    EXPECT_EQ(Entry.CropRect, Typed);
  }
}

TEST_F(EditWindowScreen, TextWatermarkFollowsItsPositionBoxIntoTheEntry) {
  TFileOption Entry = ClipEntry();
  TEditfrm Window(Entry, Player);
  Window.show();
  ASSERT_TRUE(PumpUntil([&] { return Window.CropArea()->width() == 294; }));
  TextMark(Window, QStringLiteral(" Velmora "));
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

// Sizes and positions of a picture watermark are kept as typed, in output pixels: a box is
// held within the picture when it is left or at OK, never rewritten while the user types, and
// it steps both ways.
TEST_F(EditWindowScreen, WatermarkBoxesKeepWhatIsTypedAndStepBothWays) {
  QImage Logo(200, 100, QImage::Format_RGB32);
  Logo.fill(Qt::red);
  const QString LogoFile = Folder.File(QStringLiteral("logo200.png"));
  ASSERT_TRUE(Logo.save(LogoFile));
  TFileOption Entry = ClipEntry();
  Entry.OutputFrameSize = QStringLiteral("640x360");
  TEditfrm Window(Entry, Player);
  Window.show();
  ASSERT_TRUE(PumpUntil([&] { return Window.CropArea()->width() == 294; }));
  Window.findChild<TSkCheckBox*>(QStringLiteral("chkStartup"))->SetChecked(true);
  Window.ShowPage(1);
  Window.ChoosePicture(LogoFile);
  const auto Box = [&](const char* Name) { return Window.findChild<TSkSpinEdit*>(Name); };
  // The picture arrives at its own size on the output.
  EXPECT_EQ(Box("ImageW")->IntValue(), 200);
  EXPECT_EQ(Box("ImageH")->IntValue(), 100);

  const struct {
    const char* Box;
    const char* Typed;
    QStringList Shown;
    int Kept;  // once the box is left
  } Typing[] = {
      // Never below the mark's smallest area, 18 preview pixels on the drawn picture.
      {"ImageH", "5", {"5"}, 32},  // 18 x 360 / 202
      {"ImageW", "120", {"1", "12", "120"}, 120},
      {"edtWaterH", "300", {"3", "30", "300"}, 300},
      {"edtWaterV", "165", {"1", "16", "165"}, 165},
      {"edtWaterH", "999", {"9", "99", "999"}, 520},  // 640 - 120: the mark stays on the picture
      {"ImageH", "90", {"9", "90"}, 90},
  };
  for (const auto& T : Typing) {
    EXPECT_EQ(TypeInto(Window, Box(T.Box), QLatin1String(T.Typed)), T.Shown) << T.Box;
    QTest::keyClick(Box(T.Box), Qt::Key_Tab);
    EXPECT_EQ(Box(T.Box)->IntValue(), T.Kept) << T.Box;
  }
  EXPECT_EQ(Window.Choices().WatermarkSourceRect, (TIntRect{520, 165, 640, 255}));
  // The arrow keys step by one, down as well as up.
  Box("ImageH")->setFocus();
  QTest::keyClick(Box("ImageH"), Qt::Key_Down);
  EXPECT_EQ(Box("ImageH")->IntValue(), 89);
  QTest::keyClick(Box("ImageH"), Qt::Key_Up);
  QTest::keyClick(Box("ImageH"), Qt::Key_Up);
  EXPECT_EQ(Box("ImageH")->IntValue(), 91);
  Window.OkButton()->Click();
  EXPECT_EQ(Entry.WaterMark.Rect, (TIntRect{520, 165, 640, 256}));
  EXPECT_EQ(QImage(Entry.WaterMark.PictureCopy).size(), QSize(120, 91));
  QFile::remove(Entry.WaterMark.PictureCopy);

  // Opened again, the window shows the mark where it was left.
  TEditfrm Again(Entry, Player);
  Again.show();
  ASSERT_TRUE(PumpUntil([&] { return Again.CropArea()->width() == 294; }));
  EXPECT_EQ(Again.Choices().WatermarkSourceRect, Entry.WaterMark.Rect);
}

// The label over the output preview holds the whole text in any font, as the conversion
// draws it; the font's dialog offers the colour too, and the entry keeps what was chosen.
TEST_F(EditWindowScreen, TextWatermarkShowsAllItsTextInTheChosenFontAndColour) {
  const struct {
    const char* Family;
    bool Italic;
    const char* Text;
  } Fonts[] = {{"Serif", true, "TL Serif"}, {"Sans", false, "BL Sans"}, {"Serif", false, "fff"}};
  for (const auto& F : Fonts) {
    TFileOption Entry = ClipEntry();
    Entry.WaterMarkKind = Entry.WaterMark.Kind = 2;
    Entry.WaterMark.Text = QStringLiteral("x");
    Entry.WaterMark.Font = TWaterMarkFont{QLatin1String(F.Family), 30, true, F.Italic};
    TEditfrm Window(Entry, Player);
    Window.show();
    ASSERT_TRUE(PumpUntil([&] { return Window.CropArea()->width() == 294; }));
    Window.findChild<QLineEdit*>(QStringLiteral("edtText"))->setText(QLatin1String(F.Text));
    const auto* Label = Window.findChild<QLabel*>(QStringLiteral("lblWatemark"));
    EXPECT_GE(Label->width(), Label->sizeHint().width()) << F.Text;
  }

  TFileOption Entry = ClipEntry();
  TEditfrm Window(Entry, Player);
  Window.show();
  ASSERT_TRUE(PumpUntil([&] { return Window.CropArea()->width() == 294; }));
  TextMark(Window, QStringLiteral("Velmora"));
  // Escape, wherever the focus is in the font dialog, closes all of it.
  bool Closed = false;
  QTimer::singleShot(0, [&] {
    auto* Dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(Dialog, nullptr);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(Dialog));
    QWidget* Focused = QApplication::focusWidget();
    QTest::keyClick(Focused && Dialog->isAncestorOf(Focused) ? Focused : Dialog, Qt::Key_Escape);
    Closed = !Dialog->isVisible();
    if (!Closed) Dialog->reject();
  });
  Window.findChild<TSkBmpButton*>(QStringLiteral("btnopenFont"))->Click();
  EXPECT_TRUE(Closed);

  bool Offered = false, AcceptedByEnter = false;
  QTimer::singleShot(0, [&] {
    auto* Dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(Dialog, nullptr);
    auto* Colour = Dialog->findChild<TSkColorEdit*>(QStringLiteral("edtFontColor"));
    Offered = Colour != nullptr;
    if (Colour) Colour->SetSelectedColor(0x0000FF);  // red, as Windows counts it
    EXPECT_TRUE(QTest::qWaitForWindowExposed(Dialog));
    PumpFor(200);
    SaveShot(*Dialog, QStringLiteral("edit_font_dialog.png"));
    // Enter on the colour box accepts the dialog, as it does in the font part.
    if (Colour) {
      Colour->setFocus();
      QTest::keyClick(Colour, Qt::Key_Return);
    }
    AcceptedByEnter = !Dialog->isVisible();
    if (!AcceptedByEnter) Dialog->accept();
  });
  Window.findChild<TSkBmpButton*>(QStringLiteral("btnopenFont"))->Click();
  EXPECT_TRUE(Offered);
  EXPECT_TRUE(AcceptedByEnter);
  Window.OkButton()->Click();
  ASSERT_TRUE(Entry.WaterMark.Font.has_value());
  EXPECT_EQ(Entry.WaterMark.Font->Color, 0x0000FFu);
}

// The font is stored at the size the user chose; only the label over the preview is scaled.
TEST_F(EditWindowScreen, TextWatermarkKeepsItsChosenSizeThroughEveryOk) {
  TFileOption Entry = ClipEntry();
  for (int Round = 1; Round <= 2; ++Round) {
    TEditfrm Window(Entry, Player);
    Window.show();
    ASSERT_TRUE(PumpUntil([&] { return Window.CropArea()->width() == 294; }));
    if (Round == 1) {
      Window.findChild<TSkCheckBox*>(QStringLiteral("chkStartup"))->SetChecked(true);
      Window.findChild<TSkRadioButton*>(QStringLiteral("rbText"))->SetChecked(true);
      Window.findChild<QLineEdit*>(QStringLiteral("edtText"))->setText(QStringLiteral("Velmora"));
      // A text mark has no picture size.
      for (const char* Name : {"lblImageSize", "lblImageX", "ImageW", "ImageH"}) {
        const auto* Control = Window.findChild<QWidget*>(QLatin1String(Name));
        ASSERT_NE(Control, nullptr) << Name;
        EXPECT_FALSE(Control->isVisible()) << Name;
      }
      Window.ShowPage(1);
      PumpFor(300);
      SaveShot(Window, QStringLiteral("edit_text_watermark.png"));
      // The picture's name box, read-only, is as white as the text box beside it.
      auto* Name = Window.findChild<QWidget*>(QStringLiteral("edtImage"));
      EXPECT_EQ(Name->grab().toImage().pixelColor(Name->width() / 2, Name->height() / 2),
                QColor(Qt::white));
    }
    // 320 x 240 shown 294 x 220: the label is drawn at 22 points.
    EXPECT_EQ(Window.findChild<QLabel*>(QStringLiteral("lblWatemark"))->font().pointSize(), 22);
    Window.OkButton()->Click();
    ASSERT_TRUE(Entry.WaterMark.Font.has_value());
    EXPECT_EQ(Entry.WaterMark.Font->PointSize, 24) << "after OK number " << Round;
  }
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

// Paused, a click on the position bar shows the picture at the clicked time, not the key
// frame before it (the clip's only one is its first picture), and the play stays paused.
// Played on to its end, the preview goes back to its start and holds there: the bar goes
// back with the picture, and follows it when the play goes on.
TEST_F(EditWindowScreen, TheBarAndThePictureGoTogether) {
  TFileOption Entry = GreyRampEntry();
  TSkManualClock Clock;  // the window's timer
  TEditfrm Window(Entry, Player);
  Window.show();
  auto* Bar = Window.findChild<TVelTrackbar*>(QStringLiteral("TrckVideo"));
  auto* Play = Window.findChild<QToolButton*>(QStringLiteral("btnPlay"));
  auto* Pause = Window.findChild<QToolButton*>(QStringLiteral("btnPause"));
  ASSERT_TRUE(PumpUntil([&] { return Pause->isVisible() && Window.OutputPreviewTime() > 0; }));
  Pause->click();
  PumpFor(300);
  const int64_t Before = Window.OutputPreviewTime();
  const int64_t Target = ClickTrack(*Bar, 0.75);
  ASSERT_TRUE(PumpUntil([&] {
    return !Player.Seeking() && SeekShown(Player) && Window.OutputPreviewTime() != Before;
  }));
  PumpFor(300);
  const auto Shown = [&] { return GreyRampTimeOf(Window.InputPreview()); };
  EXPECT_GE(Shown(), Target);
  EXPECT_LT(Shown(), Target + fixtures::GreyRampPicture);
  EXPECT_EQ(Window.OutputPreviewTime(), Shown());
  EXPECT_TRUE(Play->isVisible());
  EXPECT_EQ(Player.PlayState(), psPause);

  Play->click();
  ASSERT_TRUE(PumpUntil([&] { return Shown() >= 7500000; }));
  ASSERT_TRUE(PumpUntil([&] { return Play->isVisible() && Shown() == 0 && !Player.Seeking(); }));
  PumpFor(300);
  EXPECT_EQ(Bar->Position(), 0);
  Play->click();
  ASSERT_TRUE(PumpUntil([&] { return Shown() >= 1500000; }));
  EXPECT_NEAR(Bar->Position(), Shown(), 500000);
}

QImage ToImage(const TPreviewPicture& Picture) {
  return QImage(reinterpret_cast<const uchar*>(Picture.Pixels.data()), Picture.Width,
                Picture.Height, Picture.Width * 4, QImage::Format_RGB32)
      .copy();
}

int Difference(QRgb A, QRgb B) {
  return std::max({std::abs(qRed(A) - qRed(B)), std::abs(qGreen(A) - qGreen(B)),
                   std::abs(qBlue(A) - qBlue(B))});
}
bool IsRed(QRgb Pixel) { return qRed(Pixel) > 180 && qGreen(Pixel) < 80 && qBlue(Pixel) < 80; }

// Columns from the left that are black from top to bottom: the bar the crop was padded with.
int LeftBar(const QImage& Picture) {
  for (int X = 0; X < Picture.width(); ++X)
    for (int Y = 0; Y < Picture.height(); ++Y)
      if (qGray(Picture.pixel(X, Y)) > 24) return X;
  return Picture.width();
}

// The box around the pixels as red as the watermark.
QRect RedBox(const QImage& Picture) {
  QRect Box;
  for (int Y = 0; Y < Picture.height(); ++Y)
    for (int X = 0; X < Picture.width(); ++X)
      if (IsRed(Picture.pixel(X, Y))) Box |= QRect(X, Y, 1, 1);
  return Box;
}

// Sought with a click on the position bar and paused there, the crop dragged, brightness and
// a red picture watermark set; the entry that OK writes converts (through the conversion's own plan
// and filters) into a picture that matches the output preview at the same time: the crop's pixels
// where the preview shows them, and the watermark on the same place.
TEST_F(EditWindowScreen, TheConvertedEntryLooksLikeTheOutputPreviewAtTheSameTime) {
  const QString LogoFile = RedLogo();
  const std::string Output = Folder.File(QStringLiteral("edited.flv")).toStdString();
  // Pale colours that turn half a radian a frame: a picture of another time differs
  // everywhere, and none is as red as the watermark.
  const std::string Clip = fixtures::Make(
      "edit_window_pale_turning_320x240.mp4",
      "-f lavfi -i testsrc=size=320x240:rate=25:duration=6,hue=H=12.5*t:s=0.4 -c:v libx264 "
      "-preset ultrafast -pix_fmt yuv420p");
  TFileOption Entry = DefaultEntry(Clip, Output, QStringLiteral("None.swf"));
  Entry.GSwf = false;
  Entry.Output.VideoBitrate = 8000000;  // the codec's losses well below what is compared

  TSkManualClock Clock;  // the window's timer
  TEditfrm Window(Entry, Player);
  Window.show();
  auto* Play = Window.findChild<QToolButton*>(QStringLiteral("btnPlay"));
  auto* Pause = Window.findChild<QToolButton*>(QStringLiteral("btnPause"));
  ASSERT_TRUE(PumpUntil([&] { return Pause->isVisible() && !Window.InputPreview().isNull(); }));
  // A click on the track three quarters along (4.5 s of 6 s) pauses and seeks there; the
  // timer's tick plays on from there.
  const int64_t Target =
      ClickTrack(*Window.findChild<TVelTrackbar*>(QStringLiteral("TrckVideo")), 0.75);
  EXPECT_NEAR(Target, 4500000, 100000);
  EXPECT_TRUE(Play->isVisible());
  Clock.Advance(500);
  EXPECT_TRUE(Pause->isVisible());
  ASSERT_TRUE(PumpUntil([&] { return Window.OutputPreviewTime() >= Target - 40000; }))
      << Window.OutputPreviewTime();
  Pause->click();

  Window.BrightnessBar()->setValue(40);
  Drag(Window.CropArea(), {2, 110}, {60, 0});  // the left edge, 60 preview pixels in
  Window.findChild<TSkCheckBox*>(QStringLiteral("chkStartup"))->SetChecked(true);
  Window.ChoosePicture(LogoFile);
  Drag(Window.WatermarkArea(), {20, 15}, {150, 100});
  const TIntRect Crop = Window.Choices().CropSourceRect;
  ASSERT_TRUE(PumpUntil([&] { return Window.OutputPreview().width() == RectWidth(Crop); }));
  const QImage Preview = Window.OutputPreview();
  const int64_t Time = Window.OutputPreviewTime();
  EXPECT_GE(Time, Target - 40000);
  // Where the preview shows the watermark, in output pixels: the 320 x 240 output fills the
  // 294 x 220 box from x = 33 of the preview.
  const QRect Shown = Window.WatermarkArea()->geometry();
  const QRectF Expected((Shown.x() - 33) * 320.0 / 294, Shown.y() * 240.0 / 220,
                        Shown.width() * 320.0 / 294, Shown.height() * 240.0 / 220);
  Window.OkButton()->Click();
  ASSERT_EQ(Entry.WaterMarkKind, 1);

  ConvertEntry(Entry);
  const ProbeResult Probe = ProbeMedia(Output);
  ASSERT_TRUE(Probe.ok) << Probe.error;
  const ProbeStream* Video = Probe.FirstOfType("video");
  ASSERT_TRUE(Video);
  EXPECT_EQ(Video->codec_name, "flv1");
  ASSERT_EQ(Video->width, 320);
  ASSERT_EQ(Video->height, 240);
  TFormatConverter Converter;
  const auto Decoded = RenderInputPicture(DecodedFrame(Output, 320, 240, Time), Converter);
  ASSERT_TRUE(Decoded);
  const QImage Converted = ToImage(*Decoded);
  Converted.save(QStringLiteral(FENNICK_SCREENSHOT_DIR "/xcb/edit_converted.png"));
  Preview.save(QStringLiteral(FENNICK_SCREENSHOT_DIR "/xcb/edit_output_preview.png"));

  // The watermark lies where the preview showed it, within the rounding of its scaling.
  const QRect Mark = RedBox(Converted);
  const auto Near = [](double A, int B) { return std::abs(A - B) <= 2.0; };
  EXPECT_TRUE(Near(Expected.left(), Mark.left()) && Near(Expected.top(), Mark.top()) &&
              Near(Expected.right(), Mark.right() + 1) &&
              Near(Expected.bottom(), Mark.bottom() + 1))
      << "shown " << Expected.left() << "," << Expected.top() << " " << Expected.right() << ","
      << Expected.bottom() << "; converted " << Mark.left() << "," << Mark.top() << " "
      << Mark.right() + 1 << "," << Mark.bottom() + 1;

  // The cropped, brightened picture sits centred between two bars, as in the preview, with
  // the same brightness to the pixel (a pixel's shift breaks every edge) and like colours.
  ASSERT_EQ(Preview.height(), 240);
  const int Left = LeftBar(Converted);
  EXPECT_LE(std::abs(2 * Left - (320 - Preview.width())), 1) << Left;
  const QRect Compared = QRect(Left, 0, Preview.width(), 240).intersected(Converted.rect());
  size_t Far = 0, Count = 0;
  double Colour = 0;
  for (int Y = Compared.top(); Y <= Compared.bottom(); ++Y)
    for (int X = Compared.left(); X <= Compared.right(); ++X) {
      if (Mark.adjusted(-2, -2, 2, 2).contains(X, Y)) continue;
      const QRgb A = Converted.pixel(X, Y), B = Preview.pixel(X - Left, Y);
      ++Count;
      Far += std::abs(qGray(A) - qGray(B)) > 24;
      Colour += Difference(A, B);
    }
  // Measured: 0.4 % of the pixels and a mean colour difference of 4; a crop a pixel off
  // gives 2.2 % and 5.4.
  EXPECT_LE(Far, Count / 100) << Far << " of " << Count << " pixels differ";
  EXPECT_LE(Colour / Count, 5.0);
}

}  // namespace
