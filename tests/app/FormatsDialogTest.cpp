// The formats dialog driven through its controls, offscreen; and under a real X server, the
// dialog's choices carried through a real conversion.
#include "AppTestSupport.h"
#include "EngineHost.h"
#include "FFDecode.h"
#include "FFLoad.h"
#include "MediaFixtures.h"
#include "ShockwaveEx.h"
#include "SkinPreviewJob.h"
#include "SkBmpBtn.h"
#include "SkEdit.h"
#include "SkCmboBx.h"
#include "SkBorder.h"
#include "SkListVw.h"
#include "SkRadChk.h"
#include "SkSpnEdt.h"
#include "SkTabs.h"
#include "TabChain.h"
#include "U_Config.h"
#include "U_Converting_Gui.h"
#include "U_CreateSwfThread.h"
#include "U_Formats_Gui.h"
#include "U_Main.h"
#include "U_Treelist.h"
#include "VelLog.h"
#include "XServerView.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

class FormatsDialog : public testing::Test {
 protected:
  void SetUp() override {
    InitVelLog(Scratch.Path());
    SetProgramFolder(QStringLiteral(FENNICK_BIN_DIR));
    InitFileOption(Entry, QStringLiteral("320x240"));
    Entry.Output.FileName = "/out/clip.flv";
  }
  void TearDown() override {
    SetProgramFolder(QString());
    VelLog = TVelLog();
  }
  // Shown, active, with its information boxes answered into Shown.
  std::unique_ptr<TFormatsfrm> Open() {
    auto dialog = std::make_unique<TFormatsfrm>(Entry, World);
    dialog->ShowInformation = [this](const QString& Text) { Shown << Text; };
    dialog->show();
    QApplication::setActiveWindow(dialog.get());
    return dialog;
  }
  // As the user picks an item: the box reports the change.
  static void Pick(TSkComboBox* Box, int Index) {
    Box->setCurrentIndex(Index);
    emit Box->activated(Index);
  }
  // The preview movie as the tools built it.
  static QString WaitForPreview(TFormatsfrm& Dialog) {
    QEventLoop loop;
    QObject::connect(Dialog.PreviewJob(), &TSkinPreviewJob::Finished, &loop, &QEventLoop::quit);
    if (Dialog.PreviewJob()->Running()) loop.exec();
    return Dialog.SWF->Movie();
  }
  // The last frame of the preview once the runtime has drawn the skin on the stage colour:
  // the stage, and the skin's controls on it, around it only the page's white. A null picture
  // when the runtime stopped playing first.
  static QImage WaitForDrawnSkin(TFormatsfrm& Dialog, const QColor& Stage) {
    QImage frame;
    const auto drawn = [&] {
      bool stage = false, controls = false;
      for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x) {
          const QColor pixel = frame.pixelColor(x, y);
          stage = stage || pixel == Stage;
          controls = controls || (pixel != Stage && pixel != Qt::white);
        }
      return stage && controls;
    };
    while (Dialog.SWF->Playing() && !drawn()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
      frame = Dialog.SWF->grab().toImage();
    }
    return Dialog.SWF->Playing() ? frame : QImage();
  }
  static void Type(TSkSpinEdit* Edit, int Value) {
    Edit->setFocus();
    Edit->setText(QString::number(Value));
  }

  TScratchFolder Scratch;
  TFileOption Entry;
  TFormatsWorld World;
  QStringList Shown;
};

TEST_F(FormatsDialog, TypingOneSideSetsTheOtherAndMakesTheProfileCustom) {
  const struct {
    bool Proportional;
    bool Width;
    int Typed;
    int OtherAfter;
  } cases[] = {{true, true, 640, 480},
               {true, false, 241, 321},
               {false, true, 640, 240},
               {true, true, 1900, 1425}};
  for (const auto& c : cases) {
    auto dialog = Open();
    ASSERT_EQ(dialog->cbbFormat->currentText(), "Flash Video for the web");
    dialog->chkVideo->SetChecked(c.Proportional);
    Type(c.Width ? dialog->edtWidth : dialog->edtHeight, c.Typed);
    EXPECT_EQ((c.Width ? dialog->edtHeight : dialog->edtWidth)->IntValue(), c.OtherAfter)
        << c.Typed;
    EXPECT_EQ(dialog->cbbFormat->currentText(), "Custom");
  }
}

TEST_F(FormatsDialog, OutputBoxesKeepAtLeastOneOutputAndH264PlaysTheFlv) {
  Entry.Gflv = false;
  auto dialog = Open();
  dialog->chkgenerateswf->Toggle();
  EXPECT_TRUE(dialog->chkgenerateswf->Checked());
  dialog->chkgenerateflv->Toggle();
  dialog->chkgenerateswf->Toggle();
  EXPECT_FALSE(dialog->chkgenerateswf->Checked());
  EXPECT_FALSE(dialog->chkGeneratehtml->isEnabled() || dialog->chkGeneratehtml->Checked());
  dialog->chkgenerateflv->Toggle();
  EXPECT_TRUE(dialog->chkgenerateflv->Checked());

  dialog->chkgenerateswf->Toggle();
  Pick(dialog->cbbFormat, 3);
  EXPECT_EQ(dialog->cbbVideoEncoder->currentIndex(), 1);
  EXPECT_TRUE(dialog->rbCreated->Checked());
  EXPECT_FALSE(dialog->rbembed->isEnabled());
  EXPECT_TRUE(dialog->cbbExt->ReadOnly());
  dialog->chkgenerateflv->Toggle();
  EXPECT_TRUE(dialog->chkgenerateflv->Checked());
}

// Picked in the encoder box itself, H.264 follows the same rule as through a profile.
TEST_F(FormatsDialog, H264PickedAsEncoderPlaysTheFlvToo) {
  Entry.Gflv = false;
  Entry.GSwf = true;
  auto dialog = Open();
  ASSERT_TRUE(dialog->rbembed->Checked() && dialog->rbembed->isEnabled());
  Pick(dialog->cbbVideoEncoder, 1);
  EXPECT_EQ(dialog->cbbFormat->currentText(), "Custom");
  EXPECT_TRUE(dialog->chkgenerateflv->Checked());
  EXPECT_TRUE(dialog->rbCreated->Checked());
  EXPECT_FALSE(dialog->rbembed->isEnabled());
  EXPECT_TRUE(dialog->cbbExt->ReadOnly());
  EXPECT_EQ(dialog->cbbExt->currentIndex(), 0);
  Pick(dialog->cbbVideoEncoder, 0);
  EXPECT_TRUE(dialog->rbembed->isEnabled());
  EXPECT_FALSE(dialog->cbbExt->ReadOnly());
}

// OK, or Enter in a box or a list, as in any dialog.
TEST_F(FormatsDialog, OkChecksTheSizeThenWritesTheEntry) {
  auto dialog = Open();
  dialog->edtHeight->setText(QStringLiteral("1300"));
  dialog->edtHeight->setFocus();
  QTest::keyClick(dialog->edtHeight, Qt::Key_Return);
  EXPECT_EQ(Shown, QStringList({ResolutionErrorText}));
  EXPECT_FALSE(dialog->Written());
  EXPECT_TRUE(dialog->isVisible());

  // H.264 makes only even sides; the FLV encoder takes an odd one.
  dialog->edtHeight->setText(QStringLiteral("240"));
  dialog->edtWidth->setText(QStringLiteral("321"));
  Pick(dialog->cbbVideoEncoder, 1);
  dialog->accept();
  EXPECT_EQ(Shown, QStringList({ResolutionErrorText, EvenResolutionErrorText}));
  EXPECT_FALSE(dialog->Written());
  EXPECT_TRUE(dialog->edtWidth->hasFocus());

  Pick(dialog->cbbFormat, 2);
  dialog->lvSkin->setCurrentItem(dialog->lvSkin->topLevelItem(0));
  dialog->BgColorbox->SetSelectedColor(0x0000FF);
  dialog->cbbFormat->setFocus();
  QTest::keyClick(dialog->cbbFormat, Qt::Key_Enter, Qt::KeypadModifier);
  ASSERT_TRUE(dialog->Written());
  EXPECT_FALSE(dialog->isVisible());
  const TFileOption& written = dialog->Entry();
  EXPECT_EQ(written.Formatid, 3);
  EXPECT_EQ(written.OutputFrameSize, "321x240");
  EXPECT_EQ(written.Output.VideoBitrate, 1024000);
  EXPECT_TRUE(written.PlayerSkin.endsWith("/templates/Player/None.swf"));
  EXPECT_EQ(written.SWFData.bgcolor, 0xFF0000u);
}

// OK checks the volume box as leaving it does, however OK is pressed: a volume past its range
// is said before anything is written, and the dialog stays open on the box. (A click on OK
// leaves the box first, whose modal message the click does not pass.)
TEST_F(FormatsDialog, AVolumePastItsRangeKeepsTheDialogOpenHoweverOkIsPressed) {
  const struct {
    const char* How;
    std::function<void(TFormatsfrm&)> PressOk;
  } cases[] = {
      {"Return in the box", [](TFormatsfrm& D) { QTest::keyClick(D.edtVolume, Qt::Key_Return); }},
      {"Enter in the box",
       [](TFormatsfrm& D) { QTest::keyClick(D.edtVolume, Qt::Key_Enter, Qt::KeypadModifier); }},
      {"Space on OK", [](TFormatsfrm& D) { QTest::keyClick(D.OkButton(), Qt::Key_Space); }},
  };
  for (const auto& c : cases) {
    Shown.clear();
    auto dialog = Open();
    Type(dialog->edtVolume, 999);
    c.PressOk(*dialog);
    ASSERT_FALSE(Shown.isEmpty()) << c.How;
    EXPECT_EQ(Shown.count(VolumeErrorText), Shown.size()) << c.How;
    EXPECT_FALSE(dialog->Written()) << c.How;
    EXPECT_TRUE(dialog->isVisible()) << c.How;
    EXPECT_TRUE(dialog->edtVolume->hasFocus()) << c.How;
    dialog->reject();  // closed before it goes, as the program closes it
  }
}

// A file larger than the dialog's limits, or of pixels that are not square, opens at the size
// its entry got (its shape as shown, within the limits); Proportional keeps that shape and OK
// takes the size as it stands.
TEST_F(FormatsDialog, ALargeOrNonSquareSourceOpensAtASizeOkTakesAsItStands) {
  const struct {
    const char* Source;
    TPixelAspect Aspect;
    int Width, Height;
    int TypedWidth, ProportionalHeight;
  } cases[] = {
      {"2560x1440", {}, 1920, 1080, 640, 360},
      {"3840x2160", {}, 1920, 1080, 1280, 720},
      {"720x576", {64, 45}, 1024, 576, 512, 288},  // PAL 16:9
  };
  for (const auto& c : cases) {
    Shown.clear();
    InitFileOption(Entry, QString::fromLatin1(c.Source), c.Aspect);
    auto dialog = Open();
    EXPECT_EQ(dialog->edtWidth->IntValue(), c.Width) << c.Source;
    EXPECT_EQ(dialog->edtHeight->IntValue(), c.Height) << c.Source;
    dialog->accept();
    EXPECT_TRUE(Shown.isEmpty()) << c.Source << ": " << Shown.join(' ').toStdString();
    ASSERT_TRUE(dialog->Written()) << c.Source;
    EXPECT_EQ(dialog->Entry().OutputFrameSize, QStringLiteral("%1x%2").arg(c.Width).arg(c.Height));
    dialog = Open();
    Type(dialog->edtWidth, c.TypedWidth);
    EXPECT_EQ(dialog->edtHeight->IntValue(), c.ProportionalHeight) << c.Source;
  }
}

TEST_F(FormatsDialog, WithoutProfilesTheDialogSaysWhyAndOkWritesNothing) {
  SetProgramFolder(Scratch.Path());
  auto dialog = Open();
  EXPECT_EQ(dialog->cbbFormat->count(), 0);
  ASSERT_EQ(Shown.size(), 1);
  EXPECT_TRUE(Shown[0].contains("Format.dat")) << Shown[0].toStdString();
  EXPECT_EQ(dialog->lvSkin->topLevelItemCount(), 0);
  dialog->accept();
  EXPECT_FALSE(dialog->Written());
  EXPECT_FALSE(dialog->isVisible());
}

// The Tab key walks every page (the skin page's option tab too) and each control it stops at
// shows that it has the focus.
TEST_F(FormatsDialog, EveryTabStopShowsItsFocus) {
  Entry.GSwf = true;
  auto dialog = Open();
  auto* skinTabs = dynamic_cast<TSkPageControl*>(dialog->lvSkin->parentWidget()->parentWidget());
  ASSERT_NE(skinTabs, nullptr);
  const struct {
    const char* Page;
    std::function<void()> Open;
  } pages[] = {{"profiles", [] {}},
               {"outputs", [&] { dialog->btnNext->OnClick(); }},
               {"skin", [&] { dialog->btnNext->OnClick(); }},
               {"skin options", [&] { skinTabs->SetActivePageIndex(1); }}};
  for (const auto& p : pages) {
    p.Open();
    const QList<TTabStop> stops = WalkTabChain(*dialog);
    EXPECT_GE(stops.size(), 6) << p.Page;
    EXPECT_EQ(StopsWithoutFocus(stops), "") << p.Page;
  }
}

TEST_F(FormatsDialog, PreviewPlaysTheChosenSkinOnTheChosenColour) {
  auto dialog = Open();
  dialog->btnNext->OnClick();
  dialog->btnNext->OnClick();
  dialog->lvSkin->setCurrentItem(dialog->lvSkin->topLevelItem(1));
  dialog->BgColorbox->SetSelectedColor(0x00FF00);
  dialog->BgColorbox->OnChange();
  EXPECT_EQ(dialog->SWF->StillBackground(), QColor(0, 255, 0));
  EXPECT_EQ(dialog->SWF->StillPicture(),
            QImage(QStringLiteral(FENNICK_BIN_DIR "/templates/Player/Player01.png")));
  EXPECT_EQ(dialog->SWF->grab().toImage().pixelColor(2, 2), QColor(0, 255, 0));

  // The built movie plays in the runtime: the stage takes the colour, the skin's play button
  // sits in the middle of it.
  ASSERT_TRUE(WaitForPreview(*dialog).endsWith("/Fennick.swf"));
  ASSERT_TRUE(dialog->SWF->Playing());
  const QImage frame = WaitForDrawnSkin(*dialog, QColor(0, 255, 0));
  ASSERT_FALSE(frame.isNull()) << "the runtime could not play the preview";
  frame.save(QStringLiteral(FENNICK_SCREENSHOT_DIR "/formats_preview_playing.png"));
}

// The skin preview shows the stage the page will have: its shape from the size chosen in the
// boxes, at that size where the panel holds it, else brought within the panel; the control bar
// at the size the page gives it (Player01's 30 pixels), on every scale of the desktop.
TEST_F(FormatsDialog, TheSkinPreviewShowsThePagesStage) {
  const QColor barColour(0x26, 0x2A, 0x33);
  const struct {
    QSize Output;
    QSize Stage;  // in the 311 x 232 panel
  } cases[] = {{{640, 360}, {311, 174}}, {{320, 240}, {309, 232}}, {{160, 120}, {160, 120}}};
  for (const auto& c : cases) {
    const std::string where = std::to_string(c.Output.width()) + "x" +
                              std::to_string(c.Output.height());
    auto dialog = Open();
    Type(dialog->edtWidth, c.Output.width());  // the boxes, as the user leaves them
    dialog->chkVideo->SetChecked(false);
    Type(dialog->edtHeight, c.Output.height());
    dialog->btnNext->OnClick();
    dialog->btnNext->OnClick();
    dialog->lvSkin->setCurrentItem(dialog->lvSkin->topLevelItem(1));
    dialog->BgColorbox->SetSelectedColor(0x0000FF);
    dialog->BgColorbox->OnChange();
    ASSERT_TRUE(WaitForPreview(*dialog).endsWith("/Fennick.swf")) << where;
    const QImage frame = WaitForDrawnSkin(*dialog, QColor(255, 0, 0));
    ASSERT_FALSE(frame.isNull()) << "the runtime could not play the preview";
    // The bar's rows: those mostly of its colour.
    const double scale = frame.devicePixelRatio();
    QRect bar;
    for (int y = 0; y < frame.height(); ++y) {
      int first = -1, last = -1, count = 0;
      for (int x = 0; x < frame.width(); ++x)
        if (frame.pixelColor(x, y) == barColour) {
          if (first < 0) first = x;
          last = x;
          ++count;
        }
      if (count * 2 > last - first) bar |= QRect(first, y, last - first + 1, 1);
    }
    const QRect panel(QPoint(), dialog->SWF->size());
    QRect stage(QPoint(), c.Stage);
    stage.moveCenter(panel.center());
    EXPECT_NEAR(bar.height() / scale, 30, 1.5) << where;
    EXPECT_NEAR(bar.width() / scale, c.Stage.width(), 1.5) << where;
    EXPECT_NEAR(bar.left() / scale, stage.left(), 1.5) << where;
    EXPECT_NEAR((bar.bottom() + 1) / scale, stage.bottom() + 1, 1.5) << where;
    dialog->reject();
  }
}

// Where the web engine cannot have the address space it needs, it would end the program:
// the preview shows the skin's still picture instead and says why.
TEST(FlashPreview, TheRuntimeStartsOnlyWhereTheAddressSpaceHoldsTheWebEngine) {
  const struct {
    std::optional<quint64> Limit;
    const char* Problem;
  } cases[] = {{std::nullopt, ""},
               {quint64(64) << 30, ""},
               {quint64(1) << 30,
                "the address space is limited to 1024 MiB; the web engine needs 49152 MiB"},
               {quint64(32) << 30,
                "the address space is limited to 32768 MiB; the web engine needs 49152 MiB"}};
  for (const auto& c : cases) EXPECT_EQ(AddressSpaceProblem(c.Limit), QLatin1String(c.Problem));
}

// The user's GL integration is used only where the web engine can run.
TEST(FlashPreview, TheUsersGlChoiceIsSetAsideWhereTheWebEngineCannotRun) {
  const QString small = AddressSpaceProblem(quint64(1) << 30);
  const struct {
    const char* Choice;
    QString Problem;
    const char* Used;
  } cases[] = {{"", QString(), "none"},
               {"", small, "none"},
               {"xcb_glx", QString(), "xcb_glx"},
               {"xcb_glx", small, "none"},
               {"none", small, "none"}};
  for (const auto& c : cases)
    EXPECT_EQ(GlIntegrationFor(c.Choice, c.Problem), QByteArray(c.Used)) << c.Choice;
}

// Counts the paint events of a widget and of everything in it at the time.
class TPaintCounter : public QObject {
 public:
  explicit TPaintCounter(QWidget* Widget) {
    Widget->installEventFilter(this);
    for (QWidget* inner : Widget->findChildren<QWidget*>()) inner->installEventFilter(this);
  }
  // Whether nothing was painted while the events of the next second ran.
  bool QuietForASecond() {
    const int before = Count;
    QTest::qWait(1000);
    return Count == before;
  }
  int Count = 0;

 protected:
  bool eventFilter(QObject*, QEvent* Event) override {
    if (Event->type() == QEvent::Paint) ++Count;
    return false;
  }
};

// Once drawn, a skin that does not change costs no drawing: the runtime stops and its last
// picture stays. The pointer over the preview brings the runtime back, since the skin answers
// it.
TEST_F(FormatsDialog, AnUnchangingPreviewStopsDrawingUntilThePointerComesBack) {
  Entry.BGColor = 0x00FF00;
  auto dialog = Open();
  dialog->btnNext->OnClick();
  dialog->btnNext->OnClick();
  ASSERT_TRUE(WaitForPreview(*dialog).endsWith("/Fennick.swf"));
  const QImage drawn = WaitForDrawnSkin(*dialog, QColor(0, 255, 0));
  ASSERT_FALSE(drawn.isNull()) << "the runtime could not play the preview";

  TPaintCounter paints(dialog->SWF);
  bool quiet = false;
  for (int second = 0; second < 20 && !quiet; ++second) quiet = paints.QuietForASecond();
  EXPECT_TRUE(quiet) << paints.Count << " paints and still drawing";
  EXPECT_TRUE(dialog->SWF->Playing());
  const QImage shown = dialog->SWF->grab().toImage();
  EXPECT_EQ(shown.pixelColor(20, 20), QColor(0, 255, 0));
  EXPECT_EQ(shown.pixelColor(shown.rect().center()), drawn.pixelColor(drawn.rect().center()));

  const QPointF middle = QRectF(dialog->SWF->rect()).center();
  QEnterEvent enter(middle, middle, dialog->SWF->mapToGlobal(middle));
  QCoreApplication::sendEvent(dialog->SWF, &enter);
  const int before = paints.Count;
  EXPECT_TRUE(QTest::qWaitFor([&] { return paints.Count > before; }, 20000))
      << "the runtime did not come back";
}

}  // namespace

namespace {

// Under a real X server: each page saved for a look, then Player01 on a red stage.
TEST_F(FormatsDialog, ScreenshotsOfThePages) {
  if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs xvfb";
  // Opened over its owner, as the main window opens it: centred there, with no window manager.
  QWidget owner;
  owner.setGeometry(300, 200, 920, 570);
  owner.show();
  auto dialog = std::make_unique<TFormatsfrm>(Entry, World, &owner);
  dialog->ShowInformation = [this](const QString& Text) { Shown << Text; };
  dialog->show();
  QApplication::setActiveWindow(dialog.get());
  EXPECT_LE((dialog->frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(), 2);
  ASSERT_TRUE(QDir().mkpath(QStringLiteral(FENNICK_SCREENSHOT_DIR "/xcb")));
  const auto shoot = [&](const char* Name) {
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    EXPECT_TRUE(shot.save(QStringLiteral(FENNICK_SCREENSHOT_DIR "/xcb/") + Name));
    return shot;
  };
  shoot("formats_profiles.png");
  dialog->btnNext->OnClick();
  shoot("formats_outputs.png");
  dialog->chkgenerateswf->setFocus(Qt::TabFocusReason);
  shoot("formats_outputs_focused.png");
  dialog->btnNext->OnClick();
  dialog->lvSkin->setCurrentItem(dialog->lvSkin->topLevelItem(1));
  dialog->BgColorbox->SetSelectedColor(0x0000FF);
  dialog->BgColorbox->OnChange();
  // Player01 plays in the runtime on the red stage: on the screen as in the runtime's own
  // picture, the stage at the corner and the skin's play button in the middle. (The still
  // shows only until the runtime has the movie: a look at it would depend on the moment.)
  ASSERT_TRUE(WaitForPreview(*dialog).endsWith("/Fennick.swf"));
  const QImage drawn = WaitForDrawnSkin(*dialog, QColor(255, 0, 0));
  ASSERT_FALSE(drawn.isNull()) << "the runtime could not play the preview";
  const QRect preview(dialog->SWF->mapToGlobal(QPoint()), dialog->SWF->size());
  QImage shot;
  const auto shown = [&] {
    shot = shoot("formats_skin.png");
    return shot.pixelColor(preview.topLeft() + QPoint(3, 3)) == QColor(255, 0, 0) &&
           shot.pixelColor(preview.center()) == drawn.pixelColor(drawn.rect().center());
  };
  EXPECT_TRUE(QTest::qWaitFor(shown, 20000)) << "the runtime's picture never reached the screen";

  // The colour picker offers the default colour, black, and marks it as chosen.
  int picked = 0;
  QTimer picker;
  picker.setInterval(20);
  QObject::connect(&picker, &QTimer::timeout, [&] {
    for (QWidget* window : QApplication::topLevelWidgets())
      if (auto* grid = window->findChild<TSkColorPicker*>(); grid && grid->isVisible()) {
        picker.stop();
        shoot("formats_colour_picker.png");
        picked = grid->SelectedIndex();
        QTest::keyClick(window, Qt::Key_Escape);
      }
  });
  picker.start();
  dialog->BgColorbox->SetSelectedColor(clBlack);
  QTest::keyClick(dialog->BgColorbox, Qt::Key_F4);
  EXPECT_EQ(picked, -4);

  dialog->lvSkin->setCurrentItem(dialog->lvSkin->topLevelItem(0));
  EXPECT_TRUE(WaitForPreview(*dialog).endsWith("/Fennick.swf"));
  EXPECT_EQ(dialog->SWF->StillPicture(),
            QImage(QStringLiteral(FENNICK_BIN_DIR "/templates/Player/None.png")));
}

}  // namespace

namespace {

class TNeverReplace : public IOverwriteAsker {
 public:
  int AskReplaceFiles(const QStringList&) override { return raCancel; }
};

// A 640x480 clip with stereo sound at 44.1 kHz, added to a file list as the main window adds
// it; the dialog opened on it as the main window opens it and changed through its controls
// only; then the conversion window converts the entry.
class FormatsChain : public FormatsDialog {
 protected:
  void SetUp() override {
    FormatsDialog::SetUp();
    FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
    ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
    InstallEngineHost();
  }
  TFileNode& AddClip(TFileList& List, const QString& OutputFolder) {
    const std::string clip = fixtures::Make(
        "formats-chain-640x480.mp4",
        "-f lavfi -i testsrc=size=640x480:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 "
        "-t 2 -ac 2 -c:v libx264 -pix_fmt yuv420p -c:a aac");
    TFFDecoder decoder;
    const TProbedFile probed = ProbeMediaFile(decoder, QString::fromStdString(clip));
    return *List.AddMediaEntry(probed, OutputFolder);
  }
  // Whatever happens while it is driven, the dialog closes: a failed step fails the test
  // instead of leaving it waiting on the dialog.
  static void DriveWhenShown(const std::function<void(TFormatsfrm&)>& Drive) {
    QTimer::singleShot(0, [Drive] {
      auto* dialog = qobject_cast<TFormatsfrm*>(QApplication::activeModalWidget());
      if (!dialog) return ADD_FAILURE() << "no formats dialog is shown";
      QApplication::setActiveWindow(dialog);
      Drive(*dialog);
      if (dialog->isVisible()) {
        ADD_FAILURE() << "OK did not close the dialog";
        dialog->reject();
      }
    });
  }
  static void TypeInto(TSkSpinEdit* Edit, const QString& Text) {
    QTest::mouseClick(Edit, Qt::LeftButton);
    QTest::keyClick(Edit, Qt::Key_End);
    QTest::keyClick(Edit, Qt::Key_Home, Qt::ShiftModifier);
    QTest::keyClicks(Edit, Text);
  }
  static void Convert(TFileList& List) {
    TNeverReplace asker;
    TQProcessRunner runner;
    TConvertingfrm form(List.ConvertNodes(), asker, runner);
    QStringList messages;
    form.ShowInformation = [&](const QString& Text) { messages << Text; };
    QEventLoop loop;
    QObject::connect(&form, &TConvertingfrm::Finished, &loop, &QEventLoop::quit);
    form.show();
    loop.exec();
    EXPECT_EQ(messages, QStringList{"File conversion is completed!"});
  }
};

// As the program opens it on an X server without a window manager: from the main window's
// Formats button, with the web view of its preview. The server itself places it centred over
// the main window and gives it the keyboard.
TEST_F(FormatsChain, OpensCentredOverTheMainWindowWithTheKeyboard) {
  if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs xvfb";
  // The real program folder's parts, with settings and outputs of this test's own.
  const QString program = Scratch.File(QStringLiteral("program/"));
  ASSERT_TRUE(QDir().mkpath(program));
  for (const char* part : {"Format.dat", "LibAV", "ruffle", "skin", "templates"})
    ASSERT_TRUE(QFile::link(QStringLiteral(FENNICK_BIN_DIR "/") + part, program + part));
  SetProgramFolder(program);
  InitMainSettings();
  TMainfrm window;
  window.Player().AudioDriver = adDummy;
  ASSERT_TRUE(window.LoadMediaLibraries());
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  window.Model().Change([&](TFileList& List) {
    List.ClearSelection();
    AddClip(List, program).Selected = true;
  });

  QRect placed, owner;
  bool focused = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<TFormatsfrm*>(QApplication::activeModalWidget());
    if (!dialog) return ADD_FAILURE() << "no formats dialog is shown";
    EXPECT_TRUE(WaitForPreview(*dialog).endsWith("/Fennick.swf"));
    const auto settled = [&] {
      placed = ServerGeometry(*dialog);
      owner = ServerGeometry(window);
      focused = HasServerFocus(*dialog);
      return focused && (placed.center() - owner.center()).manhattanLength() <= 2;
    };
    QTest::qWait(1000);
    EXPECT_TRUE(QTest::qWaitFor(settled, 10000));
    dialog->reject();
  });
  QTest::mouseClick(window.btnFormats, Qt::LeftButton);
  EXPECT_EQ(placed.size(), QSize(668, 429));
  EXPECT_LE((placed.center() - owner.center()).manhattanLength(), 2)
      << "at " << placed.x() << "," << placed.y() << " over " << owner.x() << "," << owner.y();
  EXPECT_TRUE(focused);
}

TEST_F(FormatsChain, TheConversionUsesWhatTheControlsChose) {
  if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs xvfb";
  const struct {
    const char* Encoder;  // typed into the encoder box; empty leaves it
    bool TypeWidth;       // else the height is typed, the width follows
    const char* Size;
    const char* SampleRate;
    const char* Volume;  // empty leaves it
    bool ThumbnailOff;
    const char* Codec;
    int Width, Height, Rate, VolumeAfter;
  } cases[] = {{"H", true, "160", "22050", "", false, "h264", 160, 120, 22050, 256},
               {"", false, "240", "11025", "128", true, "flv1", 320, 240, 11025, 128}};
  ASSERT_TRUE(QDir().mkpath(QStringLiteral(FENNICK_SCREENSHOT_DIR "/xcb")));
  int row = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Codec);
    const QString folder = Scratch.File(QStringLiteral("row%1/").arg(++row));
    ASSERT_TRUE(QDir().mkpath(folder));
    TFileList list;
    TFileNode& node = AddClip(list, folder);
    World.OutputFolder = folder;
    DriveWhenShown([&](TFormatsfrm& Dialog) {
      QTest::keyClicks(Dialog.cbbVideoEncoder, QString::fromLatin1(c.Encoder));
      TypeInto(c.TypeWidth ? Dialog.edtWidth : Dialog.edtHeight, QString::fromLatin1(c.Size));
      QTest::keyClicks(Dialog.cbbSampleRate, QString::fromLatin1(c.SampleRate));
      if (*c.Volume) TypeInto(Dialog.edtVolume, QString::fromLatin1(c.Volume));
      EXPECT_TRUE(Dialog.grab().save(
          QStringLiteral(FENNICK_SCREENSHOT_DIR "/xcb/formats_chosen_%1.png").arg(row)));
      QTest::mouseClick(Dialog.btnNext, Qt::LeftButton);
      QTest::mouseClick(Dialog.chkgenerateswf, Qt::LeftButton);
      if (c.ThumbnailOff) QTest::mouseClick(Dialog.chkGeneratethumbnail, Qt::LeftButton);
      QTest::mouseClick(Dialog.OkButton(), Qt::LeftButton);
    });
    std::optional<TFileOption> changed = EditFormats(node.Data, World);
    ASSERT_TRUE(changed);
    EXPECT_EQ(changed->Output.AudioVolume, c.VolumeAfter);
    node.Data = std::move(*changed);
    Convert(list);

    const QString flv = folder + QStringLiteral("formats-chain-640x480.flv");
    const ProbeResult probe = ProbeMedia(flv.toStdString(), false);
    ASSERT_TRUE(probe.ok) << probe.error;
    const ProbeStream* video = probe.FirstOfType("video");
    const ProbeStream* audio = probe.FirstOfType("audio");
    ASSERT_TRUE(video && audio);
    EXPECT_EQ(video->codec_name, c.Codec);
    EXPECT_EQ(video->width, c.Width);
    EXPECT_EQ(video->height, c.Height);
    EXPECT_EQ(audio->sample_rate, c.Rate);
    // What the controls left alone keeps the entry's defaults.
    EXPECT_EQ(audio->codec_name, "mp3");
    EXPECT_EQ(audio->channels, 2);
    EXPECT_EQ(probe.format_name, "flv");
    EXPECT_FALSE(QFile::exists(WithSuffix(flv, QStringLiteral("swf"))));
    EXPECT_FALSE(QFile::exists(WithSuffix(flv, QStringLiteral("html"))));
    const QImage thumbnail(WithSuffix(flv, QStringLiteral("jpg")));
    EXPECT_EQ(thumbnail.width(), c.ThumbnailOff ? 0 : c.Width);
    EXPECT_EQ(thumbnail.height(), c.ThumbnailOff ? 0 : c.Height);
  }
}

}  // namespace
