// The conversion window run as a user runs it: real entries, the real encoder and tools,
// the packaging window in between; the outputs checked with ffprobe and by reading them.
#include "AppTestSupport.h"
#include "EngineHost.h"
#include "EntryFixtures.h"
#include "FFLoad.h"
#include "MediaFixtures.h"
#include "PlaybackRun.h"
#include "SkBmpBtn.h"
#include "SkPrgres.h"
#include "SkRadChk.h"
#include "U_Config.h"
#include "U_Converting_Gui.h"
#include "U_Createswf.h"
#include "VelLog.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QtEndian>

#include <QTimer>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <future>
#include <thread>

namespace {

class TNoAsker : public IOverwriteAsker {
 public:
  int AskReplaceFiles(const QStringList&) override { return raCancel; }
};

std::string Clip(int Seconds) {
  return fixtures::Make("window-clip-" + std::to_string(Seconds) + ".mp4",
                        "-f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i "
                        "sine=frequency=440:sample_rate=44100 -t " +
                            std::to_string(Seconds) + " -c:v libx264 -pix_fmt yuv420p -c:a aac");
}

void SaveShot(QWidget& Window, const QString& Name) {
  const QString folder =
      QStringLiteral(FENNICK_SCREENSHOT_DIR "/") + QGuiApplication::platformName();
  ASSERT_TRUE(QDir().mkpath(folder));
  EXPECT_TRUE(Window.grab().save(folder + QLatin1Char('/') + Name));
}

class ConvertingWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
    ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
    InstallEngineHost();
    SetProgramFolder(QStringLiteral(FENNICK_BIN_DIR "/"));
    VelLog = TVelLog(Folder.File(QStringLiteral("log.txt")));
    Picture = Folder.File(QStringLiteral("logo [1], a:b.png"));
    QImage logo(40, 40, QImage::Format_RGB32);
    logo.fill(Qt::red);
    ASSERT_TRUE(logo.save(Picture));
  }
  void TearDown() override {
    VelLog = TVelLog();
    SetProgramFolder(QString());
  }

  TFileOption& Add(const QString& Name, const std::string& Input) {
    const QString output = Folder.File(Name + QStringLiteral(".flv"));
    Entries.push_back(DefaultEntry(Input, QFile::encodeName(output).toStdString(),
                                   QStringLiteral("Player01.swf")));
    return Entries.back();
  }
  std::vector<TConvertNode> Nodes() {
    std::vector<TConvertNode> nodes;
    for (TFileOption& entry : Entries) nodes.push_back({&entry, true, {}});
    return nodes;
  }
  QString Log() const {
    return QString::fromUtf8(ReadTextFile(Folder.File(QStringLiteral("log.txt"))));
  }
  // Shows the window and runs it to its end; the messages it showed.
  static QStringList RunToEnd(TConvertingfrm& Form) {
    QStringList messages;
    Form.ShowInformation = [&](const QString& Text) { messages << Text; };
    int finished = 0;
    QObject::connect(&Form, &TConvertingfrm::Finished, [&] { ++finished; });
    Form.show();
    while (finished == 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return messages;
  }

  TScratchFolder Folder;
  QString Picture;
  std::deque<TFileOption> Entries;
  TNoAsker Asker;
  TQProcessRunner Runner;
};

TEST_F(ConvertingWindowTest, ConvertsEveryOutputAndReportsTheFailedEntry) {
#ifdef __SANITIZE_THREAD__
  GTEST_SKIP() << "ThreadSanitizer cannot follow the tools' processes forked from a threaded "
                  "program; the other cases here run the same threads without them";
#endif
  TFileOption& embedded = Add(QStringLiteral("embedded"), Clip(5));
  embedded.SWFData.isflv = false;
  embedded.WaterMarkKind = 1;
  embedded.WaterMark.PictureFile = Picture;
  embedded.WaterMark.Rect = {20, 20, 60, 60};
  embedded.Contrast = 20;
  TFileOption& progressive = Add(QStringLiteral("progressive"), Clip(5));
  progressive.WaterMarkKind = 2;
  progressive.WaterMark.Text = QStringLiteral("Fennick");
  progressive.WaterMark.Font = TWaterMarkFont{QStringLiteral("DejaVu Sans"), 28, true};
  progressive.WaterMark.Font->Color = 0x0080FF;  // orange, as a Windows colour value
  progressive.WaterMark.Rect = {10, 100, 0, 0};
  Add(QStringLiteral("missing"),
      QFile::encodeName(Folder.File(QStringLiteral("missing.mp4"))).toStdString());

  TConvertingfrm form(Nodes(), Asker, Runner);
  QStringList messages;
  form.ShowInformation = [&](const QString& Text) { messages << Text; };
  int finished = 0;
  QObject::connect(&form, &TConvertingfrm::Finished, [&] { ++finished; });
  form.show();
  bool shot = false;
  while (finished == 0) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!shot && form.prgtotal->Percent() > 10) {
      SaveShot(form, QStringLiteral("converting.png"));
      shot = true;
    }
  }
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(
      messages[0].startsWith("Conversion finished, but one or more files failed in "
                             "conversion.\r\nmissing.flv: File open Error: "))
      << qPrintable(messages[0]);
  EXPECT_EQ(form.lblperent->text(), QStringLiteral("[ 2 / 3 ]"));
  EXPECT_TRUE(Log().contains(QStringLiteral("File open Error: ")));

  for (const QString name : {"embedded", "progressive"}) {
    const std::string flv = Folder.File(name + ".flv").toStdString();
    const ProbeResult probe = ProbeMedia(flv);
    ASSERT_TRUE(probe.ok) << name.toStdString() << probe.error << Log().toStdString();
    ASSERT_TRUE(probe.FirstOfType("video") && probe.FirstOfType("audio"));
    EXPECT_EQ(probe.FirstOfType("video")->codec_name, "flv1");
    EXPECT_EQ(probe.FirstOfType("video")->width, 320);
    EXPECT_EQ(probe.FirstOfType("audio")->codec_name, "mp3");
    EXPECT_NEAR(probe.duration, 5, 0.3);
    EXPECT_TRUE(ReadTextFile(Folder.File(name + ".swf")).startsWith("CWS")) << name.toStdString();
    EXPECT_TRUE(QString::fromUtf8(ReadTextFile(Folder.File(name + ".html")))
                    .contains(QStringLiteral("<param name=\"movie\" value=\"%1.swf\">").arg(name)));
    const QImage thumbnail(Folder.File(name + ".jpg"), "JPG");
    EXPECT_EQ(thumbnail.size(), QSize(320, 240)) << name.toStdString();
  }
  // The picture watermark lies over the thumbnail's top-left corner.
  const QColor wm = QImage(Folder.File("embedded.jpg")).pixelColor(40, 40);
  EXPECT_GT(wm.red(), 180);
  EXPECT_LT(wm.green(), 80);
  // The text watermark is drawn where it was put, and nowhere else.
  const QImage text(Folder.File("progressive.jpg"));
  const auto orangeIn = [&](const QRect& Area) {
    int count = 0;
    for (int y = Area.top(); y <= Area.bottom(); ++y)
      for (int x = Area.left(); x <= Area.right(); ++x) {
        const QColor c = text.pixelColor(x, y);
        count += c.red() > 200 && c.green() > 80 && c.green() < 180 && c.blue() < 80;
      }
    return count;
  };
  EXPECT_GT(orangeIn(QRect(10, 100, 120, 40)), 100);
  EXPECT_LT(orangeIn(QRect(200, 100, 110, 40)), 20);
  EXPECT_FALSE(QFileInfo::exists(Folder.File("missing.flv")));
}

// Each task is opened in its turn and freed at its end: a list far longer than the open files
// allowed converts whole, and the descriptors are back where they were.
TEST_F(ConvertingWindowTest, ALongListConvertsUnderALowLimitOfOpenFiles) {
  constexpr int Count = 40;
  for (int i = 0; i < Count; ++i) {
    TFileOption& entry = Add(QStringLiteral("clip%1").arg(i), Clip(1));
    entry.GSwf = false;
    entry.GThumbnail = false;
  }
  const int before = OpenDescriptors();
  QStringList messages;
  {
    TConvertingfrm form(Nodes(), Asker, Runner);
    const TFileLimit limit(Count);
    messages = RunToEnd(form);
  }
  EXPECT_EQ(messages, QStringList{"File conversion is completed!"});
  for (int i = 0; i < Count; ++i)
    EXPECT_GT(QFileInfo(Folder.File(QStringLiteral("clip%1.flv").arg(i))).size(), 0) << i;
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(ConvertingWindowTest, EveryEntryRefusedAtStartSaysWhyForEach) {
  Add(QStringLiteral("missing"),
      QFile::encodeName(Folder.File(QStringLiteral("missing.mp4"))).toStdString());
  TFileOption& nowhere = Add(QStringLiteral("nowhere"), Clip(5));
  WriteTextFile(Folder.File(QStringLiteral("blocked")), "a file where a folder would be");
  nowhere.Output.FileName = QFile::encodeName(Folder.File("blocked/nowhere.flv")).toStdString();
  TConvertingfrm form(Nodes(), Asker, Runner);
  const QStringList messages = RunToEnd(form);
  ASSERT_EQ(messages.size(), 1);
  const QStringList lines = messages[0].split(QStringLiteral("\r\n"));
  ASSERT_EQ(lines.size(), 3) << qPrintable(messages[0]);
  EXPECT_EQ(lines[0], "Conversion finished, but one or more files failed in conversion.");
  // The output's place is refused before any input is opened.
  EXPECT_EQ(lines[1], "nowhere.flv: SetOutput Error: The output folder " +
                          Folder.File(QStringLiteral("blocked")) +
                          " does not exist and cannot be made: Not a directory");
  EXPECT_TRUE(lines[2].startsWith("missing.flv: File open Error: ")) << qPrintable(lines[2]);
}

TEST_F(ConvertingWindowTest, QuittingInTheMiddleLeavesNoBrokenFile) {
  Add(QStringLiteral("long"), Clip(120)).GSwf = false;
  TConvertingfrm form(Nodes(), Asker, Runner);
  QStringList questions, messages;
  form.AskQuit = [&](const QString& Text) {
    questions << Text;
    return questions.size() > 1;  // Cancel first, then OK
  };
  form.ShowInformation = [&](const QString& Text) { messages << Text; };
  int finished = 0;
  QObject::connect(&form, &TConvertingfrm::Finished, [&] { ++finished; });
  form.show();
  while (form.prgFile->Percent() == 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  form.AskToQuit();
  EXPECT_FALSE(form.Paused()) << "Cancel resumes a running conversion";
  form.TogglePause();
  form.AskToQuit();
  ASSERT_EQ(finished, 1);
  EXPECT_EQ(questions, QStringList(2, QStringLiteral("Whether to quit conversion?")));
  EXPECT_TRUE(messages.isEmpty());
  EXPECT_FALSE(QFileInfo::exists(Folder.File("long.flv")));
  EXPECT_TRUE(Log().contains(QStringLiteral("Exit Convert")));
  EXPECT_TRUE(Log().contains(QStringLiteral("Discarded the unfinished ") + Folder.File("long.flv")));
}

class TYesAsker : public IOverwriteAsker {
 public:
  int AskReplaceFiles(const QStringList&) override { return raYes; }
};

// Opening a pipe waits for its other end: an entry that reads or writes one is refused with the
// reason, and the window goes on handling events while its tasks' files are opened.
TEST_F(ConvertingWindowTest, PipesAreRefusedAndTheWindowNeverWaitsForAFile) {
  const QString pipe = Folder.File(QStringLiteral("pipe"));
  ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
  Add(QStringLiteral("from-pipe"), QFile::encodeName(pipe).toStdString()).GSwf = false;
  const QString pipeOut = Folder.File(QStringLiteral("to-pipe.flv"));
  ASSERT_EQ(mkfifo(QFile::encodeName(pipeOut).constData(), 0600), 0);
  Add(QStringLiteral("to-pipe"), Clip(2)).GSwf = false;
  Add(QStringLiteral("good"), Clip(2)).GSwf = false;
  TYesAsker yes;
  TConvertingfrm form(Nodes(), yes, Runner);
  QStringList messages;
  form.ShowInformation = [&](const QString& Text) { messages << Text; };
  int finished = 0, ticks = 0;
  QObject::connect(&form, &TConvertingfrm::Finished, [&] { ++finished; });
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(5);
  form.show();
  while (finished == 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_GT(ticks, 0);
  // The output is refused before anything opens; the input when the tasks are opened.
  const QStringList expected{
      "Conversion finished, but one or more files failed in conversion.",
      "to-pipe.flv: SetOutput Error: " + pipeOut + ": not a regular file: a named pipe",
      "from-pipe.flv: File open Error: " + pipe + ": not a regular file: a named pipe"};
  ASSERT_EQ(messages.size(), 1);
  EXPECT_EQ(messages[0].toStdString(), expected.join(QStringLiteral("\r\n")).toStdString());
  EXPECT_TRUE(ProbeMedia(Folder.File(QStringLiteral("good.flv")).toStdString()).ok);
  EXPECT_TRUE(QFileInfo(pipeOut).exists() && !QFileInfo(pipeOut).isFile());
}

TEST_F(ConvertingWindowTest, QuittingWhileTheFilesAreOpenedClosesOnceTheyAreAndWritesNothing) {
  Add(QStringLiteral("early"), Clip(2)).GSwf = false;
  {
    TConvertingfrm form(Nodes(), Asker, Runner);
    QStringList questions, messages;
    form.AskQuit = [&](const QString& Text) { return (questions << Text), true; };
    form.ShowInformation = [&](const QString& Text) { messages << Text; };
    int finished = 0;
    QObject::connect(&form, &TConvertingfrm::Finished, [&] { ++finished; });
    form.show();
    form.Start();
    form.reject();  // Escape, while the worker opens the files
    EXPECT_EQ(finished, 0);
    while (finished == 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(questions, QStringList{"Whether to quit conversion?"});
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(Log().contains(QStringLiteral("Exit Convert")));
  }
  EXPECT_EQ(QDir(Folder.Path()).entryList({"*early*"}, QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(ConvertingWindowTest, TheEndOpensTheFolderOrShutsDownAndThumbnailsNeedNoPreview) {
  struct Case {
    const char* Name;
    bool OpenFolder, ShutDown;
    int ShutDownResult;
    bool Opened, Message;
  };
  for (const Case& c :
       std::vector<Case>{{"nothing checked", false, false, 0, false, true},
                         {"open the folder", true, false, 0, true, true},
                         {"shut-down cancelled", false, true, raCancel, false, true},
                         {"shutting down", false, true, 1, false, false}}) {
    Entries.clear();
    TFileOption& entry = Add(QStringLiteral("end"), Clip(5));
    entry.GSwf = false;
    for (const char* file : {"end.flv", "end.jpg"}) QFile::remove(Folder.File(file));
    TConvertingfrm form(Nodes(), Asker, Runner);
    bool opened = false;
    form.OpenOutputFolder = [&] { opened = true; };
    form.ShowShutDown = [&] { return c.ShutDownResult; };
    form.chkperview->SetChecked(false);
    form.ChkOpenFolder->SetChecked(c.OpenFolder);
    form.ChkShutdown->SetChecked(c.ShutDown);
    const QStringList messages = RunToEnd(form);
    EXPECT_EQ(opened, c.Opened) << c.Name;
    EXPECT_EQ(messages, c.Message ? QStringList{"File conversion is completed!"} : QStringList())
        << c.Name;
    EXPECT_EQ(QImage(Folder.File(QStringLiteral("end.jpg"))).size(), QSize(320, 240)) << c.Name;
    EXPECT_EQ(form.imgperview->Canvas.pixelColor(100, 75), QColor(0x10, 0x10, 0x10)) << c.Name;
  }
}

// "Generate Thumbnail" on every kind of input, in one run: a video's first picture, a song's
// cover; a sound alone has no picture, and the end message says which thumbnail was not made
// and why, while the FLV, the SWF and the page are there as for any entry. The preview shows
// no picture of an earlier entry while the sound converts.
TEST_F(ConvertingWindowTest, ThumbnailsOfEveryKindOfInput) {
#ifdef __SANITIZE_THREAD__
  GTEST_SKIP() << "ThreadSanitizer cannot follow the tools' processes forked from a threaded "
                  "program";
#endif
  struct Case {
    const char* Name;
    std::string Input;
    QSize Thumbnail;  // 0x0: none
  };
  const std::vector<Case> cases{{"video", Clip(1), {320, 240}},
                                {"song", fixtures::SongWithCover(1), {320, 240}},
                                {"sound", fixtures::Path(fixtures::Media::Mp3AudioOnly), {0, 0}}};
  for (const Case& c : cases) {
    TFileOption& entry = Add(QString::fromLatin1(c.Name), c.Input);
    entry.SWFData.isflv = true;
    if (c.Thumbnail.isEmpty()) entry.SourceFrameSize = entry.OutputFrameSize = QString();
  }
  TConvertingfrm form(Nodes(), Asker, Runner);
  EXPECT_EQ(RunToEnd(form).join('|').toStdString(),
            "File conversion is completed!\r\nsound.jpg: not made, the input has no picture");
  for (const Case& c : cases) {
    const QString name = QString::fromLatin1(c.Name);
    for (const char* suffix : {".flv", ".swf", ".html"})
      EXPECT_GT(QFileInfo(Folder.File(name + QLatin1String(suffix))).size(), 0) << c.Name << suffix;
    EXPECT_EQ(QImage(Folder.File(name + QStringLiteral(".jpg"))).size(), c.Thumbnail) << c.Name;
  }
  QImage empty(form.imgperview->Canvas.size(), form.imgperview->Canvas.format());
  empty.fill(QColor(0x10, 0x10, 0x10));
  EXPECT_TRUE(form.imgperview->Canvas == empty);
}

// A page at the defaults waits for a click under its play button, silent, over the video's
// first picture: whether its SWF streams the FLV beside it or embeds the video, with or without
// a thumbnail beside it. Of that picture only the thumbnail asked for is left in the folder.
TEST_F(ConvertingWindowTest, APageWaitingForAClickShowsTheFirstPictureSilently) {
#ifdef __SANITIZE_THREAD__
  GTEST_SKIP() << "ThreadSanitizer cannot follow the tools' processes forked from a threaded "
                  "program";
#endif
  for (const bool embeds : {false, true})
    for (const bool thumbnail : {true, false}) {
      Entries.clear();
      const QString name = QStringLiteral("%1 %2").arg(embeds ? "embedded" : "streamed",
                                                        thumbnail ? "thumbnail" : "alone");
      TFileOption& entry = Add(name, Clip(1));
      entry.SWFData.isflv = !embeds;
      entry.GThumbnail = thumbnail;
      TConvertingfrm form(Nodes(), Asker, Runner);
      EXPECT_EQ(RunToEnd(form), QStringList{"File conversion is completed!"}) << qPrintable(name);
      QStringList files{name + ".flv", name + ".html", name + ".swf"};
      if (thumbnail) files.insert(2, name + ".jpg");
      EXPECT_EQ(QDir(Folder.Path()).entryList({name + "*"}, QDir::Files | QDir::Hidden).join('|'),
                files.join('|'));
      // The big play button's centre, in the picture's area above the 30-pixel bar.
      const playback::Result page = playback::Play(
          Folder.File(name + QStringLiteral(".html")).toStdString(), "--expect still --probe 160,105");
      EXPECT_EQ(page.Verdict(), "STILL") << page.report;
      EXPECT_GT(page.Colours(), 200) << "the first picture, not a black stage: " << page.report;
      EXPECT_EQ(page.ColourAt(160, 105), playback::kGlyphColour) << page.report;
      EXPECT_LT(page.Figure("audioPeak"), 0.01) << "silent before the click: " << page.report;
    }
}

// The end message, as the window shows it by itself, leaves both bars in sight at 100 %.
TEST_F(ConvertingWindowTest, TheEndMessageLeavesTheProgressBarsInSight) {
  Add(QStringLiteral("end"), Clip(1)).GSwf = false;
  TConvertingfrm form(Nodes(), Asker, Runner);
  QRect message;
  QTimer watcher;
  watcher.setInterval(20);
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    watcher.stop();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
    QTest::qWait(200);
    message = box->frameGeometry();
    EXPECT_EQ(box->text(), "File conversion is completed!");
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
      const QString folder = QStringLiteral(FENNICK_SCREENSHOT_DIR "/xcb");
      ASSERT_TRUE(QDir().mkpath(folder));
      EXPECT_TRUE(QGuiApplication::primaryScreen()->grabWindow(0).toImage().save(
          folder + QStringLiteral("/end_message.png")));
    }
    box->accept();
  });
  watcher.start();
  int finished = 0;
  QObject::connect(&form, &TConvertingfrm::Finished, [&] { ++finished; });
  form.show();
  while (finished == 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  ASSERT_FALSE(message.isEmpty());
  for (TSkProgressBar* bar : {form.prgtotal, form.prgFile}) {
    EXPECT_EQ(bar->Percent(), 100);
    const QRect shown(bar->mapToGlobal(QPoint()), bar->size());
    EXPECT_FALSE(message.intersects(shown))
        << message.x() << "," << message.y() << " " << message.width() << "x" << message.height();
  }
}

// Two seconds of MJPEG whose 30th picture is all zeros: with exit-on-error the run fails there,
// long after the first picture became the thumbnail.
std::string DamagedClip(const QString& Folder) {
  QByteArray bytes = ReadTextFile(QString::fromStdString(fixtures::Make(
      "window-mjpeg-2.avi", "-f lavfi -i testsrc=size=320x240:rate=25 -t 2 -c:v mjpeg")));
  qsizetype at = -1;
  for (int chunk = 0; chunk < 30; ++chunk) at = bytes.indexOf("00dc", at + 1);
  const qsizetype size = qFromLittleEndian<quint32>(bytes.constData() + at + 4);
  bytes.replace(at + 8, size, QByteArray(size, '\0'));
  const QString path = Folder + QStringLiteral("/damaged.avi");
  WriteTextFile(path, bytes);
  return QFile::encodeName(path).toStdString();
}

// Each run fails after its outputs were opened; the files of an earlier run stay as they were.
TEST_F(ConvertingWindowTest, AFailedRunKeepsTheEarlierOutputs) {
  struct Case {
    const char* Name;
    std::string Input;
    int64_t Start;  // µs
    QString Error;
  };
  const std::string onePicture =
      fixtures::Make("window-one-picture.y4m",
                     "-f lavfi -i testsrc=size=320x240:rate=25 -frames:v 1 -pix_fmt yuv420p");
  for (const Case& c :
       std::vector<Case>{{"damaged", DamagedClip(Folder.Path()), 0,
                          QStringLiteral("Error while decoding stream #0.0 (Video)")},
                         {"cut", onePicture, 2000000,
                          QStringLiteral("No picture and no sound were left to write into ") +
                              Folder.File(QStringLiteral("cut.flv"))}}) {
    Entries.clear();
    TFileOption& entry = Add(QString::fromLatin1(c.Name), c.Input);
    entry.Input.StartTime = c.Start;
    entry.Output.ExtOptions = "xerror=1";
    const QStringList files{".flv", ".swf", ".html", ".jpg"};
    for (const QString& file : files) WriteTextFile(Folder.File(c.Name + file), "earlier");
    TYesAsker yes;
    TConvertingfrm form(Nodes(), yes, Runner);
    const QStringList messages = RunToEnd(form);
    ASSERT_EQ(messages.size(), 1);
    const QStringList lines = messages[0].split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 2) << qPrintable(messages[0]);
    EXPECT_EQ(lines[0], "Conversion finished, but one or more files failed in conversion.");
    EXPECT_TRUE(lines[1].startsWith(QString::fromLatin1(c.Name) + ".flv: ") &&
                lines[1].contains(c.Error))
        << qPrintable(lines[1]);
    EXPECT_TRUE(Log().contains(c.Error)) << c.Name;
    for (const QString& file : files)
      EXPECT_EQ(ReadTextFile(Folder.File(c.Name + file)), "earlier") << c.Name << qPrintable(file);
  }
  EXPECT_EQ(QDir(Folder.Path()).entryList({QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden),
            QStringList());
}

// Quitting over earlier outputs: the entry converted before the quit has its new files, the
// one stopped in the middle leaves the earlier ones as they were.
TEST_F(ConvertingWindowTest, QuittingKeepsTheEarlierOutputsOfTheStoppedEntry) {
  Add(QStringLiteral("short"), Clip(2)).GSwf = false;
  Add(QStringLiteral("long"), Clip(120)).GSwf = false;
  const QStringList files{".flv", ".swf", ".html", ".jpg"};
  for (const QString& name : {QStringLiteral("short"), QStringLiteral("long")})
    for (const QString& file : files) WriteTextFile(Folder.File(name + file), "earlier");
  TYesAsker yes;
  TConvertingfrm form(Nodes(), yes, Runner);
  form.AskQuit = [](const QString&) { return true; };
  int finished = 0;
  QObject::connect(&form, &TConvertingfrm::Finished, [&] { ++finished; });
  form.show();
  while (!form.lblFileName->text().contains(QStringLiteral("long")) ||
         form.prgFile->Percent() == 0)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  form.AskToQuit();
  ASSERT_EQ(finished, 1);
  for (const QString& file : files)
    EXPECT_EQ(ReadTextFile(Folder.File("long" + file)), "earlier") << qPrintable(file);
  EXPECT_TRUE(ProbeMedia(Folder.File(QStringLiteral("short.flv")).toStdString()).ok);
  EXPECT_EQ(QImage(Folder.File(QStringLiteral("short.jpg"))).size(), QSize(320, 240));
  EXPECT_TRUE(Log().contains(QStringLiteral("Discarded the unfinished ") + Folder.File("long.flv")));
  EXPECT_EQ(QDir(Folder.Path()).entryList({QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden),
            QStringList());
}

// Holds the worker inside its tools until the test lets them go, or the step is cancelled; a
// tool nobody stops gives up after a while, as a real one does at its time limit.
class THeldRunner : public IProcessRunner {
 public:
  // Once released, each tool writes its output (its last argument) and succeeds.
  bool Succeeds = false;
  std::atomic<int> Entered{0};
  std::atomic<int> Cancelled{0};
  void Release() { Released = true; }
  TProcessResult Run(const QString&, const QStringList& Arguments, int,
                     const std::atomic<bool>* Cancel) override {
    ++Entered;
    TProcessResult result;
    const QDeadlineTimer limit(120000);
    while (!Released) {
      result.Cancelled = Cancel && *Cancel;
      result.TimedOut = limit.hasExpired();
      if (result.Cancelled || result.TimedOut) {
        Cancelled += result.Cancelled;
        result.Started = true;
        return result;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!Succeeds) return result;
    WriteTextFile(Arguments.last(), "made by the tool");
    result.Started = true;
    result.ExitCode = 0;
    return result;
  }

 private:
  std::atomic<bool> Released{false};
};

// Escape in the packaging window asks whether to quit the run; the answer is carried out
// whether the tool is still running when it comes or ended while the question was open. A quit
// without a question (the program ending on a signal) stops the tool at once.
TEST_F(ConvertingWindowTest, AQuitDuringPackagingIsCarriedOutWheneverTheToolEnded) {
  const struct {
    const char* Name;
    bool Signalled;  // else Escape and the question
    bool ToolEndsFirst;
    bool Quit;
  } cases[] = {
      {"OK while the tool runs", false, false, true},
      {"OK after the tool ended", false, true, true},
      {"Cancel after the tool ended", false, true, false},
      {"a signal while the tool runs", true, false, true},
  };
  for (const auto& c : cases) {
    Entries.clear();
    for (const QString name : {"log.txt", "first.flv", "first.swf", "first.html", "first.jpg",
                               "second.flv", "second.jpg"})
      QFile::remove(Folder.File(name));
    Add(QStringLiteral("first"), Clip(2));
    Add(QStringLiteral("second"), Clip(2)).GSwf = false;
    THeldRunner runner;
    runner.Succeeds = true;
    TConvertingfrm form(Nodes(), Asker, runner);
    form.AskQuit = [&](const QString&) {
      if (!c.ToolEndsFirst) return c.Quit;
      runner.Release();
      const QDeadlineTimer limit(60000);
      while (!Log().contains(QStringLiteral("first.swf succeed!")) && !limit.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
      return c.Quit;
    };
    // Once the packaging window waits for its tool (it runs in an event loop of its own, which
    // this timer's ticks reach).
    QTimer quit;
    QObject::connect(&quit, &QTimer::timeout, [&] {
      auto* packaging = qobject_cast<Tcreateswffrm*>(QApplication::activeModalWidget());
      if (!packaging || runner.Entered == 0) return;
      quit.stop();
      if (c.Signalled)
        form.Quit(false);
      else
        QTest::keyClick(packaging, Qt::Key_Escape);
    });
    quit.start(20);
    const QStringList messages = RunToEnd(form);
    runner.Release();
    EXPECT_EQ(runner.Cancelled, c.ToolEndsFirst ? 0 : 1) << c.Name;
    EXPECT_EQ(Log().contains(QStringLiteral("Exit Convert")), c.Quit) << c.Name;
    EXPECT_EQ(messages.isEmpty(), c.Quit) << c.Name;
    EXPECT_EQ(QFileInfo::exists(Folder.File(QStringLiteral("second.flv"))), !c.Quit) << c.Name;
    EXPECT_EQ(QFileInfo::exists(Folder.File(QStringLiteral("first.swf"))), c.ToolEndsFirst)
        << c.Name;
    EXPECT_GT(QFileInfo(Folder.File(QStringLiteral("first.flv"))).size(), 0) << c.Name;
  }
}

TEST_F(ConvertingWindowTest, PackagingWindowShowsTheSwfAndReportsAFailedTool) {
  TFileOption& entry = Add(QStringLiteral("packaged"), Clip(5));
  WriteTextFile(Folder.File(QStringLiteral("packaged.swf")), "engine's SWF");
  THeldRunner runner;
  Tcreateswffrm form(PackagingJobOf(entry), runner);
  form.show();
  while (!form.tmrOpen.isActive()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_EQ(form.lblFileName->text(), QStringLiteral("packaged.swf"));
  SaveShot(form, QStringLiteral("packaging.png"));
  runner.Release();
  while (form.isVisible()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_FALSE(form.Succeeded());
  EXPECT_EQ(form.Error(), QStringLiteral("packaged.swf: swfdata.dll could not be started"));
  EXPECT_EQ(ReadTextFile(Folder.File(QStringLiteral("packaged.swf"))), "engine's SWF");
  EXPECT_TRUE(Log().contains(QStringLiteral("swfdata.dll could not be started")));
  EXPECT_FALSE(Log().contains(QStringLiteral("succeed!")));
}

// A tool that hangs: Escape or the close button cancel the step once the user agrees, and the
// window closes as soon as the tool is stopped.
TEST_F(ConvertingWindowTest, APackagingStepIsCancelledWhenTheUserAgrees) {
  TFileOption& entry = Add(QStringLiteral("packaged"), Clip(5));
  WriteTextFile(Folder.File(QStringLiteral("packaged.swf")), "engine's SWF");
  THeldRunner runner;
  Tcreateswffrm form(PackagingJobOf(entry), runner);
  int asked = 0;
  bool agree = false;
  form.AskCancel = [&] {
    ++asked;
    return agree;
  };
  form.show();
  while (!form.tmrOpen.isActive()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  QTest::keyClick(&form, Qt::Key_Escape);
  QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(form.isVisible());
  agree = true;
  ASSERT_TRUE(form.CloseButton()->isEnabled());
  form.CloseButton()->Click();
  QDeadlineTimer limit(30000);
  while (form.isVisible() && !limit.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_FALSE(form.isVisible()) << "the hanging tool was not stopped";
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(form.Cancelled());
  EXPECT_EQ(form.Error(), QStringLiteral("packaged.swf: swfdata.dll was cancelled"));
  EXPECT_EQ(ReadTextFile(Folder.File(QStringLiteral("packaged.swf"))), "engine's SWF");
  if (!form.isVisible()) return;
  runner.Release();
  while (form.isVisible()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

}  // namespace
