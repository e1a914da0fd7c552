// The main window driven as a user drives it: files chosen in Qt's own file dialog, the list
// worked with mouse and keys, the preview played on a real X server.
#include "AppTestSupport.h"
#include "EngineHost.h"
#include "FFDecode.h"
#include "HangGuard.h"
#include "MediaFixtures.h"
#include "PreviewWindow.h"
#include "ScreenPlayerTest.h"
#include "SkBmpBtn.h"
#include "SkPanel.h"
#include "SkRadChk.h"
#include "Startup.h"
#include "U_Config.h"
#include "U_Config_Gui.h"
#include "U_Converting.h"
#include "U_Main.h"
#include "U_Treelist.h"
#include "VelTrackbar.h"
#include "XServerView.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QProcess>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

// Runs the event loop until the condition holds; false when it never does.
bool WaitFor(const std::function<bool()>& Condition, int Milliseconds = 20000) {
  const QDeadlineTimer deadline(Milliseconds);
  while (!Condition()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

class MainWindowUse : public testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolder(Folder.Path());
    InitMainSettings();
    // The window's pictures, as the program folder holds them.
    QDir().mkpath(Folder.File("skin"));
    for (const QString& name : QDir(FENNICK_BIN_DIR "/skin").entryList(QDir::Files))
      QFile::copy(FENNICK_BIN_DIR "/skin/" + name, Folder.File("skin/" + name));
    InstallEngineHost();
    Window = std::make_unique<TMainfrm>();
    Window->ShowWarning = [this](const QString& Text) { Warnings << Text; };
    Window->ShowInformation = [this](const QString& Text) { Warnings << Text; };
    Window->ShowError = [this](const QString& Text) { Warnings << Text; };
    Window->Player().AudioDriver = adDummy;
    ASSERT_TRUE(Window->LoadMediaLibraries());
    Window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
  }
  void TearDown() override {
    Window.reset();
    SetProgramFolder(QString());
    InitMainSettings();
  }

  // The 3 s H.264 clip, under the name given, added as the window adds files; its path.
  QString AddClip(const QString& Name) {
    const QString input = Folder.File(Name);
    EXPECT_TRUE(
        QFile::copy(QString::fromStdString(fixtures::Path(fixtures::Media::Mp4H264Aac)), input));
    Window->AddFiles({input});
    return input;
  }

  // Presses "Add Files" and has Use work the file dialog once it shows.
  void UseFileDialog(const std::function<void(QFileDialog*)>& Use) {
    QTimer watcher;
    watcher.setInterval(20);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      watcher.stop();
      Use(dialog);
    });
    watcher.start();
    QTest::mouseClick(Window->btnAdd, Qt::LeftButton);
  }

  // Makes the media files in a folder of their own and adds them through the file dialog.
  void AddThroughTheDialog() {
    const QString media = Folder.File(QStringLiteral("media"));
    ASSERT_TRUE(QDir().mkpath(media));
    const struct {
      fixtures::Media File;
      const char* Name;
    } files[] = {{fixtures::Media::Mp4H264Aac, "one.mp4"},
                 {fixtures::Media::AviMpeg4Mp3, "Two.AVI"},
                 {fixtures::Media::VideoOnly, "three.mp4"}};
    for (const auto& f : files)
      ASSERT_TRUE(QFile::copy(QString::fromStdString(fixtures::Path(f.File)),
                              media + '/' + QLatin1String(f.Name)));
    WriteTextFile(media + QStringLiteral("/broken.mp4"), "no movie in here");
    WriteTextFile(media + QStringLiteral("/notes.txt"), "not offered");
    MainSettings().SetValue(TMainSettings::SourcePath, media + '/');
    QStringList listed;
    UseFileDialog([&](QFileDialog* dialog) {
      // What the dialog lists under its first filter: the upper-case extension too.
      auto* view = dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"));
      WaitFor([&] { return view->model()->rowCount(view->rootIndex()) >= 4; }, 5000);
      for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
        listed << view->model()->index(row, 0, view->rootIndex()).data().toString();
      // Every offered file picked with the mouse, Ctrl held.
      for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row) {
        const QRect cell = view->visualRect(view->model()->index(row, 0, view->rootIndex()));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier, cell.center());
      }
      auto* buttons = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
      QTest::mouseClick(buttons->button(QDialogButtonBox::Open), Qt::LeftButton);
    });
    listed.sort();
    EXPECT_EQ(listed, QStringList({"Two.AVI", "broken.mp4", "one.mp4", "three.mp4"}));
  }

  QModelIndex Row(int TopRow, int Child = -1, int Column = 0) const {
    TFileListModel& model = Window->Model();
    const QModelIndex top = model.index(TopRow, Child < 0 ? Column : 0);
    return Child < 0 ? top : model.index(Child, Column, top);
  }
  // The output-name editor while it is open.
  QLineEdit* OpenEditor() const {
    for (QLineEdit* edit : Window->FileView()->findChildren<QLineEdit*>())
      if (edit->isVisible()) return edit;
    return nullptr;
  }
  // The top-level row of the entry of that input (the dialog decides the order of adding).
  int RowOf(const QString& Input) const {
    for (int row = 0; row < Window->Model().rowCount(); ++row)
      if (Text(Row(row), ColInput) == Input) return row;
    return -1;
  }
  QString Text(const QModelIndex& Index, int Column) const {
    return Index.siblingAtColumn(Column).data().toString();
  }
  void Click(const QModelIndex& Index, Qt::KeyboardModifiers Keys = Qt::NoModifier) {
    QTreeView* view = Window->FileView();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Keys, view->visualRect(Index).center());
  }
  // The share of the preview panel's pixels on screen that are not black.
  double PreviewLit() const {
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    const QRect panel(Window->Perview->mapToGlobal(QPoint(4, 4)),
                      Window->Perview->size() - QSize(8, 8));
    int lit = 0, all = 0;
    for (int y = panel.top(); y < panel.bottom(); y += 4)
      for (int x = panel.left(); x < panel.right(); x += 4, ++all)
        lit += qGray(shot.pixel(x, y)) > 40;
    return all ? double(lit) / all : 0;
  }

  TScratchFolder Folder;
  std::unique_ptr<TMainfrm> Window;
  QStringList Warnings;
};

TEST_F(MainWindowUse, FilesAddedMergedRenamedAndRemovedAsTheUserDoesIt) {
  AddThroughTheDialog();
  ASSERT_EQ(Warnings.size(), 1);
  EXPECT_EQ(Warnings[0], QStringLiteral("3 files have been loaded successfully,1 files failed.\r\n"
                                        "unloaded files:\r\nbroken.mp4 (Invalid data "
                                        "found when processing input)"));
  TFileListModel& model = Window->Model();
  ASSERT_EQ(model.rowCount(), 3);
  const QString out = MainSettings().Value(TMainSettings::OutputPath);
  const struct {
    QString Input, Time, Output;
  } rows[] = {{"one.mp4", "00:00:03", "one.flv"},
              {"Two.AVI", "00:00:03", "Two.flv"},
              {"three.mp4", "00:00:03", "three.flv"}};
  for (const auto& r : rows) {
    const int i = RowOf(r.Input);
    ASSERT_GE(i, 0) << qPrintable(r.Input);
    EXPECT_EQ(Text(Row(i), ColTotalTime), r.Time);
    EXPECT_EQ(Text(Row(i), ColOutputName), r.Output);
    EXPECT_TRUE(Text(Row(i), ColFileSize).endsWith(" K")) << qPrintable(Text(Row(i), ColFileSize));
    EXPECT_EQ(Row(i).data(Qt::CheckStateRole).toInt(), Qt::Checked);
  }
  const int one = RowOf("one.mp4"), two = RowOf("Two.AVI"), three = RowOf("three.mp4");
  EXPECT_TRUE(Window->btnStart->isEnabled());

  // A file without sound is not joined to one with sound, and the message names it.
  Click(Row(two));
  Click(Row(three), Qt::ControlModifier);
  QTest::mouseClick(Window->btnMerge, Qt::LeftButton);
  ASSERT_EQ(model.rowCount(), 3);
  EXPECT_EQ(Warnings.last(), QStringLiteral("\"three.mp4\" has no sound, unlike \"Two.AVI\": only "
                                            "files that all have sound, or all have none, can be "
                                            "merged."));
  EXPECT_EQ(Row(two).data(Qt::CheckStateRole).toInt(), Qt::Checked);

  // Two entries merged: the group joins them, the entries stay unchecked.
  Click(Row(one));
  Click(Row(two), Qt::ControlModifier);
  EXPECT_TRUE(Window->btnMerge->isEnabled());
  EXPECT_FALSE(Window->btnEdit->isEnabled());
  QTest::mouseClick(Window->btnMerge, Qt::LeftButton);
  ASSERT_EQ(model.rowCount(), 4);
  EXPECT_EQ(Text(Row(3), ColInput), "Merge_1.flv");
  EXPECT_EQ(Text(Row(3), ColFileSize), "-");
  EXPECT_EQ(Text(Row(3), ColTotalTime), "00:00:06");
  EXPECT_EQ(Text(Row(3), ColOutputName), "Merge.flv");
  EXPECT_EQ(model.rowCount(Row(3)), 2);
  EXPECT_EQ(Row(one).data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
  EXPECT_TRUE(Window->btnFormats->isEnabled());  // a merge group is selected

  // Renamed in place: F2, a name with a colon typed, Enter.
  Click(Row(three));
  QTest::keyClick(Window->FileView(), Qt::Key_F2);
  QLineEdit* editor = OpenEditor();
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->text(), "three");
  editor->clear();
  QTest::keyClicks(editor, QStringLiteral("Two:x"));
  EXPECT_EQ(editor->text(), "Twox");
  QTest::keyClick(editor, Qt::Key_Backspace);
  QTest::keyClick(editor, Qt::Key_Return);
  // The view takes the name once the editor has closed, a moment later.
  WaitFor([&] { return OpenEditor() == nullptr; }, 5000);
  EXPECT_EQ(Text(Row(three), ColOutputName), "Two_1.flv");  // "Two.flv" is taken
  EXPECT_EQ(QString::fromStdString(model.List().TopNodes()[three]->Data.Output.FileName),
            out + "Two_1.flv");

  // A click on an output name edits it too, also on a row not yet selected; Escape keeps the name.
  model.Selection()->clearSelection();
  Click(Row(three).siblingAtColumn(ColOutputName));
  ASSERT_TRUE(WaitFor([&] { return OpenEditor() != nullptr; }, 5000));
  QTest::keyClick(OpenEditor(), Qt::Key_Escape);
  WaitFor([&] { return OpenEditor() == nullptr; }, 5000);
  EXPECT_EQ(Text(Row(three), ColOutputName), "Two_1.flv");

  // The group's first input removed with the Delete key: the second one leads the group.
  const std::string second = model.List().TopNodes()[3]->Children[1]->Data.Input.FileName;
  Click(Row(3, 0));
  QTest::keyClick(Window->FileView(), Qt::Key_Delete);
  ASSERT_EQ(model.rowCount(Row(3)), 1);
  EXPECT_EQ(Text(Row(3), ColTotalTime), "00:00:03");
  EXPECT_EQ(model.List().TopNodes()[3]->Data.Input.FileName, second);
  EXPECT_EQ(Window->lblFileName->text(), "Fennick");

  // Nothing checked: Start refuses.
  Window->chkall->SetChecked(false);
  Window->chkallClick();
  Window->btnStartClick();
  EXPECT_EQ(Warnings.last(), "Please select at least one file needed to convert!");
  // Something checked: the list goes to the conversion.
  const TFileListModel* converted = nullptr;
  Window->OnConvert = [&](TFileListModel& Model) { converted = &Model; };
  Window->chkall->SetChecked(true);
  Window->chkallClick();
  QTest::mouseClick(Window->btnStart, Qt::LeftButton);
  EXPECT_EQ(converted, &model);

  // Clear All leaves nothing to edit, cut, merge, convert or remove.
  Click(Row(three));
  Window->mniClearAll->trigger();
  EXPECT_EQ(model.rowCount(), 0);
  for (QAction* item : {Window->mniEdit, Window->mniClip, Window->mniMerge, Window->mniFormats,
                        Window->mniRename, Window->mniRemove, Window->mniFile})
    EXPECT_FALSE(item->isEnabled()) << qPrintable(item->text());
  for (TSkBmpButton* button :
       {Window->btnEdit, Window->btnClip, Window->btnMerge, Window->btnFormats, Window->btnStart})
    EXPECT_FALSE(button->isEnabled()) << qPrintable(button->objectName());
}

// On the first run the file dialog opens at the user's home; its type list shows names only.
// On an X server without a window manager too: the window starts with the keyboard, on its
// list rather than on a caption button; a window over it opens centred over it, and the
// keyboard comes back whenever it closes.
TEST_F(MainWindowUse, TheKeyboardStartsOnTheListAndComesBackWhenAWindowOverItCloses) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X server";
  const auto focused = [&] { return QGuiApplication::focusWindow() == Window->windowHandle(); };
  ASSERT_TRUE(WaitFor(focused));
  EXPECT_EQ(QApplication::focusWidget(), Window->findChild<QWidget*>(QStringLiteral("VSTFile")));
  for (const char* Name : {"btnmin", "btnMax", "btnRestore", "btnclose"})
    EXPECT_EQ(Window->findChild<QWidget*>(QLatin1String(Name))->focusPolicy(), Qt::NoFocus)
        << Name;
  const struct {
    const char* Name;
    std::function<void()> Open;
    const char* Shot = nullptr;
  } Windows[] = {
      {"about box", [&] { Window->mniAbout->trigger(); }},
      {"message box",
       [&] {
         QMessageBox::question(Window.get(), QStringLiteral("Question"), QStringLiteral("?"));
       }},
      // Boxes of several lines take their size when they show.
      {"end message",
       [&] {
         QMessageBox::information(
             Window.get(), QStringLiteral("Information"),
             ConversionEndMessage(
                 false, {"harbour.flv: File open Error: " + Folder.File("harbour.mp4") +
                             ": No such file or directory",
                         "beach.flv: SetOutput Error: The output folder " + Folder.File("out") +
                             " does not exist and cannot be made: Not a directory"}));
       },
       "message_end.png"},
      {"start-up warning",
       [&] {
         WriteTextFile(Folder.File("taken"), "a file where the output folder would be");
         const QPointer<QMessageBox> box = ReportStartProblems(
             Window.get(), DataPlaceProblems(DataPlaces(), Folder.File("taken/Output/")));
         WaitFor([&] { return box.isNull(); });
       },
       "message_start.png"},
  };
  for (const auto& W : Windows) {
    QPoint Offset(-1000, -1000);
    QTimer::singleShot(0, [&] {
      QWidget* Over = nullptr;
      ASSERT_TRUE(WaitFor([&] { return (Over = QApplication::activeModalWidget()) != nullptr; }));
      ASSERT_TRUE(QTest::qWaitForWindowExposed(Over));
      ASSERT_TRUE(WaitFor([&] { return QGuiApplication::focusWindow() == Over->windowHandle(); }));
      Offset = Over->frameGeometry().center() - Window->frameGeometry().center();
      if (W.Shot) {
        QTest::qWait(200);
        EXPECT_TRUE(QGuiApplication::primaryScreen()->grabWindow(0).toImage().save(
            QStringLiteral(FENNICK_SCREENSHOT_DIR "/xcb/") + QLatin1String(W.Shot)));
      }
      QTest::keyClick(Over, Qt::Key_Escape);
    });
    W.Open();
    EXPECT_LE(Offset.manhattanLength(), 2) << W.Name << " " << Offset.x() << "," << Offset.y();
    EXPECT_TRUE(WaitFor(focused, 5000)) << W.Name;
  }
}

// Dragged by its caption with the real pointer, 300 px into it, there and back: the window
// follows the pointer exactly, under a window manager (its own run) and without one.
TEST_F(MainWindowUse, TheCaptionDragsTheWindowExactlyThereAndBack) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X server";
  const auto Pointer = [](const QStringList& Arguments) {
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), Arguments), 0);
    WaitFor([] { return false; }, 150);  // the window system's events taken in
  };
  const auto MoveTo = [&](QPoint At) {
    Pointer({QStringLiteral("mousemove"), QString::number(At.x()), QString::number(At.y())});
  };
  const QWidget* Caption = Window->findChild<QWidget*>(QStringLiteral("pnlCaption"));
  for (const QPoint By : {QPoint(-100, 50), QPoint(100, -50)}) {
    const QPoint Start = Window->frameGeometry().topLeft();
    QPoint At = Caption->mapToGlobal(QPoint(300, Caption->height() / 2));
    MoveTo(At);
    Pointer({QStringLiteral("mousedown"), QStringLiteral("1")});
    for (int Step = 1; Step <= 4; ++Step) MoveTo(At + By * Step / 4);
    Pointer({QStringLiteral("mouseup"), QStringLiteral("1")});
    EXPECT_TRUE(WaitFor([&] { return Window->frameGeometry().topLeft() == Start + By; }, 3000))
        << "moved by " << (Window->frameGeometry().topLeft() - Start).x() << ","
        << (Window->frameGeometry().topLeft() - Start).y();
  }
}

// A dialog's list drops at its box, however the window manager came to put the dialog where it
// is: each opening of the options dialog, once it shows, the toolkit knows where it lies and
// its snapshot format list drops there.
TEST_F(MainWindowUse, ADialogsListDropsAtItsBox) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X server";
  for (int Round = 1; Round <= 12; ++Round) {
    SCOPED_TRACE(Round);
    QRect List, Box;
    QTimer::singleShot(0, [&] {
      QWidget* Dialog = QApplication::activeModalWidget();
      ASSERT_TRUE(Dialog && QTest::qWaitForWindowExposed(Dialog));
      EXPECT_TRUE(WaitFor(
          [&] { return Dialog->windowHandle()->position() == ServerGeometry(*Dialog).topLeft(); },
          3000))
          << "believed at " << Dialog->windowHandle()->x() << "," << Dialog->windowHandle()->y();
      auto* Formats = Dialog->findChild<QComboBox*>(QStringLiteral("CbbFormat"));
      QTest::mouseClick(Formats, Qt::LeftButton, {}, QPoint(Formats->width() - 8, 10));
      QWidget* Popup = Formats->view()->window();
      EXPECT_TRUE(WaitFor([&] { return Popup->isVisible(); }, 5000));
      List = ServerGeometry(*Popup);
      Box = QRect(ServerGeometry(*Dialog).topLeft() + Formats->mapTo(Dialog, QPoint()),
                  Formats->size());
      Formats->hidePopup();
      QTest::keyClick(Dialog, Qt::Key_Escape);
    });
    QTest::mouseClick(Window->btnOption, Qt::LeftButton);
    EXPECT_EQ(List.left(), Box.left());
    EXPECT_TRUE(List.intersects(Box))
        << "list at " << List.x() << "," << List.y() << ", box at " << Box.x() << "," << Box.y();
  }
}

// Ten names typed at once, quoted, into the file dialog showing their folder: each is tried,
// the one that is no media file is named in the warning, and the first filter shows every
// kind of file the program converts.
TEST_F(MainWindowUse, NamesTypedTogetherAreAllTriedAndTheFirstFilterShowsEveryKind) {
  const QString media = Folder.File(QStringLiteral("typed"));
  ASSERT_TRUE(QDir().mkpath(media));
  const auto clip = [](const char* Name, const char* Codecs) {
    return fixtures::Make(Name, std::string("-f lavfi -i testsrc=size=160x120:rate=25:duration=1 "
                                            "-f lavfi -i sine=duration=1 ") + Codecs);
  };
  const struct {
    const char* Name;
    std::string Source;
  } files[] = {
      {"a.mp4", fixtures::Path(fixtures::Media::Mp4H264Aac)},
      {"b.AVI", fixtures::Path(fixtures::Media::AviMpeg4Mp3)},
      {"c.webm", clip("typed.webm", "-c:v libvpx -c:a libvorbis")},
      {"d.ogv", clip("typed.ogv", "-c:v libtheora -c:a libvorbis")},
      {"e.mp3", fixtures::Path(fixtures::Media::Mp3AudioOnly)},
      {"f.wav", fixtures::Make("typed.wav", "-f lavfi -i sine=duration=1 -c:a pcm_s16le")},
      {"g.mkv", clip("typed.mkv", "-c:v mpeg4 -c:a libmp3lame")},
      {"h.mov", clip("typed.mov", "-c:v mpeg4 -c:a aac")},
      {"i.flv", clip("typed.flv", "-c:v flv1 -c:a libmp3lame")},
  };
  QStringList offered;
  QString typed;
  for (const auto& f : files) {
    ASSERT_TRUE(QFile::copy(QString::fromStdString(f.Source), media + '/' + f.Name)) << f.Name;
    offered << QLatin1String(f.Name);
    typed += QStringLiteral("\"%1\" ").arg(QLatin1String(f.Name));
  }
  WriteTextFile(media + QStringLiteral("/notes.txt"), "no movie in here");
  typed += QStringLiteral("\"notes.txt\"");
  MainSettings().SetValue(TMainSettings::SourcePath, media + '/');
  QStringList listed;
  UseFileDialog([&](QFileDialog* dialog) {
    auto* view = dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"));
    WaitFor([&] { return view->model()->rowCount(view->rootIndex()) >= 4; }, 5000);
    WaitFor([] { return false; }, 300);  // the whole folder read
    for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
      listed << view->model()->index(row, 0, view->rootIndex()).data().toString();
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    name->setFocus();
    QTest::keyClicks(name, typed);
    auto* buttons = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    QTest::mouseClick(buttons->button(QDialogButtonBox::Open), Qt::LeftButton);
  });
  listed.sort();
  EXPECT_EQ(listed, offered);
  EXPECT_EQ(Window->Model().rowCount(), 9);
  ASSERT_EQ(Warnings.size(), 1);
  EXPECT_TRUE(Warnings[0].startsWith(QStringLiteral(
      "9 files have been loaded successfully,1 files failed.\r\nunloaded files:\r\nnotes.txt")))
      << Warnings[0].toStdString();
}

// The Return that closes a run's end message must not start the same list again.
TEST_F(MainWindowUse, AfterARunTheKeyboardIsNoLongerOnStart) {
  AddClip(QStringLiteral("harbour.mp4"));
  int runs = 0;
  Window->OnConvert = [&](TFileListModel&) {
    ++runs;
    QTimer::singleShot(0,
                       [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return); });
    QMessageBox::information(Window.get(), QStringLiteral("Information"),
                             QStringLiteral("File conversion is completed!"));
  };
  Window->btnStart->setFocus();
  QTest::keyClick(Window->btnStart, Qt::Key_Return);
  ASSERT_EQ(runs, 1);
  WaitFor([] { return false; }, 200);
  QWidget* focused = Window->focusWidget();
  ASSERT_NE(focused, nullptr);
  EXPECT_NE(focused, Window->btnStart);
  QTest::keyClick(focused, Qt::Key_Return);
  EXPECT_EQ(runs, 1);
}

TEST_F(MainWindowUse, FileDialogStartsAtHomeAndListsTypesByName) {
  QString folder;
  QStringList types;
  UseFileDialog([&](QFileDialog* dialog) {
    folder = dialog->directory().absolutePath();
    auto* list = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    for (int i = 0; list && i < list->count(); ++i) types << list->itemText(i);
    dialog->reject();
  });
  EXPECT_EQ(folder, QDir::homePath());
  ASSERT_EQ(types.size(), 18);
  EXPECT_EQ(types[0], "All Support Video Format");
  EXPECT_EQ(types[4], "3GP File(*.3gp; *.2g2)");
  EXPECT_EQ(types[17], "All Files(*.*)");
}

TEST_F(MainWindowUse, PreviewPlaysPausesSeeksAndTakesSnapshots) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X server";
  AddThroughTheDialog();
  Click(Row(RowOf("one.mp4")));
  EXPECT_TRUE(Window->btnPlay->isEnabled());
  EXPECT_FALSE(Window->btnStop->isEnabled());
  QTest::mouseClick(Window->btnPlay, Qt::LeftButton);
  ASSERT_TRUE(Window->PreviewOpen()) << qPrintable(Warnings.join('\n'));
  EXPECT_TRUE(Window->btnPause->isVisible());
  ASSERT_TRUE(WaitFor([&] { return PreviewLit() > 0.5; })) << PreviewLit();
  EXPECT_EQ(Window->lbllen->text(), " / 00:00:03");

  QTest::mouseClick(Window->btnPause, Qt::LeftButton);
  EXPECT_TRUE(Window->btnPlay->isVisible());
  // A click on the track near its end seeks there.
  TVelTrackbar* bar = Window->SeekBar();
  QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier,
                    QPoint(bar->width() * 3 / 4, bar->height() / 2));
  EXPECT_GT(bar->Position(), 1500000);
  EXPECT_EQ(Window->lblpos->text(), "00:00:02");

  const QString shots = MainSettings().Value(TMainSettings::SnapshotPath);
  for (const char* format : {"bmp", "jpg"}) {
    MainSettings().SetValue(TMainSettings::SnapshotExt, QLatin1String(format));
    ASSERT_TRUE(WaitFor([&] { return Window->btnSnapshotClick(); }));
    QImageReader reader(shots + "one_0." + format);
    EXPECT_EQ(reader.format(), QByteArray(format == QByteArray("bmp") ? "bmp" : "jpeg"));
    EXPECT_EQ(reader.size(), QSize(320, 240));
  }
  // The folder deleted since the start is made again; a file in its place is said.
  ASSERT_TRUE(QDir(shots).removeRecursively());
  EXPECT_TRUE(Window->btnSnapshotClick()) << qPrintable(Warnings.join('\n'));
  EXPECT_TRUE(QFileInfo::exists(shots + "one_0.jpg"));
  ASSERT_TRUE(QDir(shots).removeRecursively());
  WriteTextFile(QDir::cleanPath(shots), "a file where the folder was");
  Warnings.clear();
  EXPECT_FALSE(Window->btnSnapshotClick());
  ASSERT_EQ(Warnings.size(), 1) << qPrintable(Warnings.join('\n'));
  EXPECT_TRUE(Warnings[0].startsWith("The snapshot folder " + shots + " does not exist"))
      << qPrintable(Warnings[0]);
  ASSERT_TRUE(QFile::remove(QDir::cleanPath(shots)));

  QTest::mouseClick(Window->btnStop, Qt::LeftButton);
  EXPECT_FALSE(Window->PreviewOpen());
  EXPECT_EQ(Window->lblpos->text(), "00:00:00");

  // A window over half the stopped preview, then gone: the whole preview is plain again.
  QDialog cover(Window.get(), Qt::FramelessWindowHint);
  cover.setGeometry(QRect(Window->Perview->mapToGlobal(QPoint(40, 40)), QSize(150, 120)));
  cover.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&cover));
  cover.close();
  WaitFor([] { return false; }, 300);
  const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
  ASSERT_TRUE(QDir().mkpath(FENNICK_SCREENSHOT_DIR "/xcb"));
  EXPECT_TRUE(shot.save(FENNICK_SCREENSHOT_DIR "/xcb/mainwindow_after_stop.png"));
  EXPECT_LT(PreviewLit(), 0.02);
}

// The caption over the preview names the entry the preview plays: the one just added, still
// after a click on its row (already selected), and a snapshot is named after it.
TEST_F(MainWindowUse, TheCaptionAndTheSnapshotNameFollowTheEntryShown) {
  AddClip(QStringLiteral("harbour.mp4"));
  ASSERT_EQ(Window->Model().rowCount(), 1) << qPrintable(Warnings.join('\n'));
  EXPECT_EQ(Window->lblFileName->text(), "harbour.mp4");
  Click(Row(0));
  EXPECT_EQ(Window->lblFileName->text(), "harbour.mp4");
  EXPECT_EQ(Window->lblFileName->toolTip(), "harbour.mp4");
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return;
  QTest::mouseClick(Window->btnPlay, Qt::LeftButton);
  ASSERT_TRUE(Window->PreviewOpen()) << qPrintable(Warnings.join('\n'));
  MainSettings().SetValue(TMainSettings::SnapshotExt, QStringLiteral("jpg"));
  ASSERT_TRUE(WaitFor([&] { return Window->btnSnapshotClick(); }));
  const QString shots = MainSettings().Value(TMainSettings::SnapshotPath);
  EXPECT_EQ(QDir(shots).entryList(QDir::Files), QStringList{"harbour_0.jpg"});
  QTest::mouseClick(Window->btnStop, Qt::LeftButton);
}

// Paused, a click on the seek bar shows the picture at the clicked time, not the key frame
// before it (the clip's only one is its first picture), and so does a drag of the tick
// through twenty places faster than the seeks are carried out; the label tells the bar's time.
TEST_F(MainWindowUse, PausedSeekShowsThePictureThere) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X server";
  TFFDecoder decoder;
  ASSERT_TRUE(Window->AddMediaFile(
      ProbeMediaFile(decoder, QString::fromStdString(fixtures::GreyRampClip()))));
  Click(Row(0));
  QTest::mouseClick(Window->btnPlay, Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return Window->Player().Position() > 200000; }));
  QTest::mouseClick(Window->btnPause, Qt::LeftButton);
  const auto shownTime = [&] {
    return GreyRampTimeOf(BitmapToImage(Window->Player().CurrentFrame()));
  };
  TVelTrackbar* bar = Window->SeekBar();
  const struct {
    const char* Name;
    std::function<void()> Act;
  } steps[] = {
      {"track clicked", [&] { ClickTrack(*bar, 0.75); }},
      {"tick dragged fast",
       [&] {
         std::vector<int> places;
         for (int n = 0; n < 20; ++n) places.push_back(TrackX(*bar, (n * 7 % 20 + 1) / 21.0));
         DragOnBar(*bar, QPoint(bar->TickX(), bar->TickOffsetY()), places);
       }},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.Name);
    step.Act();
    const int64_t target = bar->Position();
    EXPECT_TRUE(WaitFor(
        [&] {
          return !Window->Player().Seeking() && SeekShown(Window->Player()) &&
                 shownTime() >= target;
        },
        5000))
        << shownTime() << " for " << target;
    EXPECT_LT(shownTime(), target + fixtures::GreyRampPicture);
    EXPECT_EQ(Window->lblpos->text().toStdString(),
              SecondsToTimeText(target / 1000000).toStdString());
    EXPECT_TRUE(Window->btnPlay->isVisible());
  }
  QTest::mouseClick(Window->btnStop, Qt::LeftButton);
}

// Position reports wait for the GUI thread while it is busy; closing the window then must
// end the preview before its handlers go, or a waiting report finds none.
TEST_F(MainWindowUse, ClosingWhilePlayingAfterABusyMomentEndsThePreview) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X server";
  const QString input = AddClip(QStringLiteral("song.mp4"));
  ASSERT_EQ(Window->Model().rowCount(), 1) << qPrintable(Warnings.join('\n'));
  Click(Row(0));
  QTest::mouseClick(Window->btnPlay, Qt::LeftButton);
  ASSERT_TRUE(Window->PreviewOpen()) << qPrintable(Warnings.join('\n'));
  ASSERT_TRUE(WaitFor([&] { return PreviewLit() > 0.5; })) << PreviewLit();
  QThread::msleep(150);  // the GUI thread busy while the pictures go on
  Window->close();
  EXPECT_FALSE(Window->PreviewOpen());
}

// The preview fills its panel at any scale of the desktop (its run at 2 and 1.5 too), in the
// shape the picture is shown in, also where that is the container's word.
TEST_F(MainWindowUse, PreviewFillsItsPanel) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X server";
  const QString input = Folder.File(QStringLiteral("wide.mkv"));
  ASSERT_TRUE(QFile::copy(WhiteWideByContainerClip(), input));
  Window->AddFiles({input});
  ASSERT_EQ(Window->Model().rowCount(), 1) << qPrintable(Warnings.join('\n'));
  Click(Row(0));
  QTest::mouseClick(Window->btnPlay, Qt::LeftButton);
  ASSERT_TRUE(Window->PreviewOpen()) << qPrintable(Warnings.join('\n'));
  const auto* screen = Window->Perview->findChild<QWidget*>(QStringLiteral("PerviewScreen"));
  ASSERT_NE(screen, nullptr);
  const QSize wide(16, 9);
  EXPECT_TRUE(WaitFor([&] { return PlacesOffPicture(*screen, wide) == 0; }, 10000))
      << PlacesOffPicture(*screen, wide) << " places off the picture at a scale of "
      << screen->devicePixelRatioF();
  QTest::mouseClick(Window->btnStop, Qt::LeftButton);
}

// The preview ends from inside the player's own events: at the end of the file, and at the
// end of an entry shorter than its file. Each time the window offers Play again with the bar
// and the position back at the start, the entry's total still told and the keyboard on Play,
// plays again, and closes.
TEST_F(MainWindowUse, PreviewThatReachesTheEndEndsAndPlaysAgain) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X server";
  AddClip(QStringLiteral("clip.mp4"));
  ASSERT_EQ(Window->Model().rowCount(), 1) << qPrintable(Warnings.join('\n'));
  enum TWay { wPlayed, wEntryEnd };
  for (const TWay way : {wPlayed, wEntryEnd}) {
    SCOPED_TRACE(way);
    const THangGuard guard("the preview's end", 120);
    const int64_t length = way == wEntryEnd ? 1200000 : 3000000;
    Window->Model().Change([&](TFileList& List) { List.TopNodes()[0]->Data.Duration = length; });
    Click(Row(0));
    QTest::mouseClick(Window->btnPlay, Qt::LeftButton);
    ASSERT_TRUE(Window->PreviewOpen()) << qPrintable(Warnings.join('\n'));
    EXPECT_EQ(Window->focusWidget(), Window->btnPause);
    ASSERT_TRUE(WaitFor([&] { return !Window->PreviewOpen(); }, 30000));
    EXPECT_TRUE(Window->btnPlay->isVisible());
    EXPECT_TRUE(Window->btnPlay->isEnabled());
    EXPECT_FALSE(Window->btnStop->isEnabled());
    EXPECT_EQ(Window->lblpos->text().toStdString(), "00:00:00");
    EXPECT_EQ(Window->lbllen->text().toStdString(),
              " / " + SecondsToTimeText(length / 1000000).toStdString());
    EXPECT_EQ(Window->SeekBar()->Position(), Window->SeekBar()->Min());
    ASSERT_EQ(Window->focusWidget(), Window->btnPlay);

    QTest::mouseClick(Window->btnStop, Qt::LeftButton);
    QTest::keyClick(Window->focusWidget(), Qt::Key_Space);
    ASSERT_TRUE(Window->PreviewOpen()) << qPrintable(Warnings.join('\n'));
    ASSERT_TRUE(WaitFor([&] { return Window->Player().Position() > 300000; }));
    const auto panel = [&] {
      return QGuiApplication::primaryScreen()
          ->grabWindow(0)
          .toImage()
          .copy(QRect(Window->Perview->mapToGlobal(QPoint(4, 4)),
                      Window->Perview->size() - QSize(8, 8)));
    };
    const QImage before = panel();
    EXPECT_TRUE(WaitFor([&] { return panel() != before; }, 5000)) << "the picture stands";
    QTest::mouseClick(Window->btnStop, Qt::LeftButton);
    EXPECT_FALSE(Window->PreviewOpen());
  }
  QTest::mouseClick(Window->btnPlay, Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return !Window->PreviewOpen(); }, 30000));
  Window->close();
  EXPECT_FALSE(Window->isVisible());
}

// Another row chosen while the preview plays or stands paused: at once the preview and the
// times are no longer the old file's, and one click on Play plays the new row's file, which
// goes on playing.
TEST_F(MainWindowUse, AnotherRowChosenShowsItsOwnFileAndOneClickPlaysIt) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X server";
  const QString white = Folder.File(QStringLiteral("white.mp4"));
  const QString ramp = Folder.File(QStringLiteral("ramp.mp4"));
  ASSERT_TRUE(QFile::copy(WhiteClip(), white));
  ASSERT_TRUE(QFile::copy(QString::fromStdString(fixtures::GreyRampClip()), ramp));
  Window->AddFiles({white, ramp});
  ASSERT_EQ(Window->Model().rowCount(), 2) << qPrintable(Warnings.join('\n'));
  const auto shownTime = [&] {
    return GreyRampTimeOf(BitmapToImage(Window->Player().CurrentFrame()));
  };
  for (const bool paused : {true, false}) {
    SCOPED_TRACE(paused ? "paused" : "playing");
    const THangGuard guard("the row change", 120);
    Click(Row(RowOf("white.mp4")));
    QTest::mouseClick(Window->btnPlay, Qt::LeftButton);
    ASSERT_TRUE(Window->PreviewOpen()) << qPrintable(Warnings.join('\n'));
    ASSERT_TRUE(WaitFor([&] { return Window->lblpos->text() == "00:00:01"; }));
    if (paused) QTest::mouseClick(Window->btnPause, Qt::LeftButton);

    Click(Row(RowOf("ramp.mp4")));
    EXPECT_EQ(Window->lblFileName->text(), "ramp.mp4");
    EXPECT_FALSE(Window->PreviewOpen());
    EXPECT_EQ(Window->lblpos->text().toStdString(), "00:00:00");
    EXPECT_EQ(Window->lbllen->text().toStdString(), " / 00:00:00");
    EXPECT_TRUE(Window->btnPlay->isVisible());

    // Play pressed straight away plays the new file, and it goes on playing past the moment a
    // late stop of the old preview would come.
    QTest::mouseClick(Window->btnPlay, Qt::LeftButton);
    ASSERT_TRUE(Window->PreviewOpen()) << qPrintable(Warnings.join('\n'));
    EXPECT_EQ(Window->lbllen->text().toStdString(), " / 00:00:08");
    EXPECT_TRUE(WaitFor([&] { return Window->Player().Position() > 2000000; }));
    EXPECT_TRUE(Window->PreviewOpen());
    EXPECT_TRUE(Window->btnPause->isVisible());
    EXPECT_LT(shownTime(), 8000000) << "not the ramp's picture";
    QTest::mouseClick(Window->btnStop, Qt::LeftButton);
  }
}

TEST_F(MainWindowUse, ScreenshotWithEntriesAGroupAndParts) {
  AddThroughTheDialog();
  TFileListModel& model = Window->Model();
  const int one = RowOf("one.mp4"), two = RowOf("Two.AVI"), three = RowOf("three.mp4");
  model.Change([&](TFileList& List) {
    List.ClearSelection();
    List.TopNodes()[one]->Selected = List.TopNodes()[two]->Selected = true;
    List.MergeSelectedItems(MainSettings().Value(TMainSettings::OutputPath));
  });
  // Two parts cut in the clip dialog.
  Window->OnClipDialog = [](TMainfrm&, TFileNode& Node, TClipList& Parts) {
    EXPECT_TRUE(Parts.empty()) << Node.Children.size();
    for (int i = 0; i < 2; ++i) {
      TClipFile clip;
      clip.Title = QStringLiteral("Part_%1").arg(i + 1);
      clip.StartTime = i * 1000000;
      clip.TimeLength = 1000000;
      Parts.push_back(clip);
    }
    return true;
  };
  Click(Row(three));
  QTest::mouseClick(Window->btnClip, Qt::LeftButton);
  ASSERT_EQ(model.rowCount(Row(three)), 2);
  EXPECT_EQ(Row(three).data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
  Click(Row(three, 1));
  WaitFor([] { return false; }, 300);
  const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
  const QString folder =
      QStringLiteral(FENNICK_SCREENSHOT_DIR "/") + QGuiApplication::platformName();
  ASSERT_TRUE(QDir().mkpath(folder));
  ASSERT_TRUE(shot.save(folder + QStringLiteral("/mainwindow_list.png")));
  // A part is selected: only clip, formats and rename.
  EXPECT_FALSE(Window->btnEdit->isEnabled());
  EXPECT_TRUE(Window->btnClip->isEnabled());
  EXPECT_FALSE(Window->btnMerge->isEnabled());
  EXPECT_TRUE(Window->btnFormats->isEnabled());
  EXPECT_EQ(Text(Row(three, 1), ColInput), "Part_2");
  EXPECT_EQ(Text(Row(three, 1), ColOutputName), "three_2.flv");
}

TEST_F(MainWindowUse, StartConvertsTheListIntoEveryOutput) {
#ifdef __SANITIZE_THREAD__
  GTEST_SKIP() << "ThreadSanitizer cannot follow the tools' processes forked from a threaded "
                  "program";
#endif
  // The conversion's tools and player templates, as the program folder holds them.
  for (const char* name : {"LibAV", "templates"})
    ASSERT_TRUE(QFile::link(QStringLiteral(FENNICK_BIN_DIR "/") + QLatin1String(name),
                            Folder.File(QLatin1String(name))));
  const QString out = Folder.File(QStringLiteral("out"));
  ASSERT_TRUE(QDir().mkpath(out));
  Window->ChangeOutputFolder(out);
  AddClip(QStringLiteral("song.mp4"));
  ASSERT_EQ(Window->Model().rowCount(), 1) << qPrintable(Warnings.join('\n'));

  // The end message answered as the user does.
  QStringList messages;
  QTimer answerer;
  answerer.setInterval(50);
  QObject::connect(&answerer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    messages << box->text();
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
  });
  answerer.start();
  QTest::mouseClick(Window->btnStart, Qt::LeftButton);
  answerer.stop();
  EXPECT_EQ(messages, QStringList{"File conversion is completed!"});

  const ProbeResult probe = ProbeMedia(QFile::encodeName(out + "/song.flv").toStdString());
  ASSERT_TRUE(probe.ok) << probe.error;
  ASSERT_TRUE(probe.FirstOfType("video") && probe.FirstOfType("audio"));
  EXPECT_EQ(probe.FirstOfType("video")->width, 320);
  EXPECT_EQ(probe.FirstOfType("video")->height, 240);
  for (const char* extension : {"swf", "html", "jpg"})
    EXPECT_GT(QFileInfo(out + "/song." + extension).size(), 0) << extension;
}

}  // namespace
