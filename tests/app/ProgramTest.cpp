// The real program, started as a user starts it: copied into a program folder of its
// own, with its own runtime and temporary folders so that its single-instance lock is
// private.
#include "AppTestSupport.h"
#include "MediaFixtures.h"
#include "SkBmpBtn.h"
#include "U_Config.h"
#include "U_Main.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QDirIterator>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int StartTimeout = 120000;

class Program : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(QFile::copy(QStringLiteral(FENNICK_BIN_DIR "/fennick"), Executable()));
    ASSERT_TRUE(QDir().mkpath(Folder.File(QStringLiteral("tmp"))));
    MakeRuntimeFolder(QStringLiteral("run"));
    ASSERT_TRUE(QDir().mkpath(Folder.File(QStringLiteral("Log"))));
  }

  void TearDown() override {
    for (QProcess* process : Running) process->kill();
    for (QProcess* process : Running) process->waitForFinished(StartTimeout);
    qDeleteAll(Running);
  }

  // Private to its user, as a session's runtime folder is (Qt warns about any other).
  void MakeRuntimeFolder(const QString& Name) {
    ASSERT_TRUE(QDir().mkpath(Folder.File(Name)));
    ASSERT_TRUE(QFile::setPermissions(Folder.File(Name),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
  }

  QString Executable() const { return Folder.File(QStringLiteral("fennick")); }
  QString Log(int Number) const { return Folder.File(QStringLiteral("Log/log%1.txt").arg(Number)); }

  // Changes: variables to set, or with a null value to unset, after the usual ones; ChildSetup
  // runs in the child before the program starts.
  QProcess* Start(const QString& Locale = QStringLiteral("de_DE.UTF-8"),
                  const QMap<QString, QString>& Changes = {},
                  const std::function<void()>& ChildSetup = {}) {
    auto* process = new QProcess;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), Folder.File(QStringLiteral("run")));
    environment.insert(QStringLiteral("TMPDIR"), Folder.File(QStringLiteral("tmp")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("LC_ALL"), Locale);
    for (auto change = Changes.begin(); change != Changes.end(); ++change)
      change.value().isNull() ? environment.remove(change.key())
                              : environment.insert(change.key(), change.value());
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(Folder.Path());
    if (ChildSetup) process->setChildProcessModifier(ChildSetup);
    process->start(Executable(), QStringList());
    Running.append(process);
    return process;
  }

  // A whole system report, and the media libraries loaded: the program's start-up is logged.
  static bool StartedUp(const QByteArray& Log) {
    return Log.count(QByteArray(69, '=')) == 2 && Log.contains("FPlayer Load SDLLib successful");
  }

  // Whether the log folder holds that many files and log1 a whole start-up.
  static bool ReportWritten(const QString& LogFolder, int LogFiles) {
    QFile log(LogFolder + QStringLiteral("/log1.txt"));
    return QDir(LogFolder).entryList(QDir::Files).size() == LogFiles &&
           log.open(QIODevice::ReadOnly) && StartedUp(log.readAll());
  }

  // The log's lines up to the end of the system report (a rule and a blank line); what the
  // program logs later follows.
  static QStringList ReportLines(const QString& FileName) {
    const QStringList lines = ReadLines(FileName);
    int separators = 0;
    for (int i = 0; i < lines.size(); ++i)
      if (lines[i].endsWith(QString(69, QLatin1Char('='))) && ++separators == 2)
        return lines.mid(0, i + 2);
    return lines;
  }
  static int ReportsIn(const QString& FileName) {
    return static_cast<int>(ReadTextFile(FileName).count(QByteArray(69, '='))) / 2;
  }

  // Waits until the running program has rotated the logs and written its report.
  void WaitForReport(QProcess* Process, int LogFiles) {
    WaitForReportIn(Process, Folder.File(QStringLiteral("Log")), LogFiles);
  }

  void WaitForReportIn(QProcess* Process, const QString& LogFolder, int LogFiles) {
    ASSERT_TRUE(Process->waitForStarted(StartTimeout));
    const QDeadlineTimer deadline(StartTimeout);
    while (!ReportWritten(LogFolder, LogFiles)) {
      ASSERT_FALSE(deadline.hasExpired()) << "no report in " << qPrintable(LogFolder);
      ASSERT_FALSE(Process->waitForFinished(50))
          << "the program ended: " << Process->readAllStandardError().constData();
    }
  }

  QMap<QString, QByteArray> LogFolder() const {
    QMap<QString, QByteArray> files;
    const QDir folder(Folder.File(QStringLiteral("Log")));
    for (const QString& name : folder.entryList(QDir::Files))
      files.insert(name, ReadTextFile(folder.filePath(name)));
    return files;
  }

  TScratchFolder Folder;
  QList<QProcess*> Running;
};

// Takes the right to write away from a folder for as long as it lives: permission bits,
// and for root, who ignores them, the file system's immutable flag.
class TReadOnlyFolder {
 public:
  explicit TReadOnlyFolder(const QString& Folder) : FFolder(Folder) {
    QFile::setPermissions(FFolder, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                       QFileDevice::ReadGroup | QFileDevice::ExeGroup);
    if (IsFolderWritable(FFolder)) Chattr("+i");
  }
  ~TReadOnlyFolder() {
    Chattr("-i");
    QFile::setPermissions(FFolder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  }
  bool Holds() const { return !IsFolderWritable(FFolder); }

 private:
  void Chattr(const char* Flag) {
    QProcess::execute(QStringLiteral("chattr"), {QString::fromLatin1(Flag), FFolder});
  }
  QString FFolder;
};

// Where the real program's buttons are on the screen: the same window, made here.
struct TMainButtons {
  QPoint Add, Start;
};
TMainButtons MainButtons() {
  TScratchFolder folder;
  SetProgramFolder(folder.Path());
  InitMainSettings();
  TMainfrm window;
  window.show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
  const auto centre = [](QWidget* Button) { return Button->mapToGlobal(Button->rect().center()); };
  const TMainButtons buttons{centre(window.btnAdd), centre(window.btnStart)};
  window.close();
  SetProgramFolder(QString());
  InitMainSettings();
  return buttons;
}

int XdoTool(const QStringList& Arguments) {
  return QProcess::execute(QStringLiteral("xdotool"), Arguments);
}
// The program's windows of that title on the screen, one id a line.
QString FindWindows(qint64 Pid, const QString& Title) {
  QProcess search;
  search.start(QStringLiteral("xdotool"),
               {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                QStringLiteral("--pid"), QString::number(Pid), QStringLiteral("--name"), Title});
  search.waitForFinished();
  return QString::fromLatin1(search.readAllStandardOutput());
}
int VisibleWindows(qint64 Pid, const QString& Title) {
  return int(FindWindows(Pid, Title).count(QLatin1Char('\n')));
}
QString FindWindow(qint64 Pid, const QString& Title) {
  return FindWindows(Pid, Title).section(QLatin1Char('\n'), 0, 0);
}
void ClickAt(QPoint At) {
  XdoTool({QStringLiteral("mousemove"), QString::number(At.x()), QString::number(At.y()),
           QStringLiteral("click"), QStringLiteral("1")});
}

// Whether an open of the leased file waits for the lease's holder (till the kernel's time).
bool LeaseBreaking(int Lease) {
  struct stat file {};
  if (::fstat(Lease, &file) != 0) return false;
  const QByteArray inode = ':' + QByteArray::number(qulonglong(file.st_ino)) + ' ';
  for (const QByteArray& line : ReadTextFile(QStringLiteral("/proc/locks")).split('\n'))
    if (line.contains(" LEASE ") && line.contains(inode)) return line.contains(" BREAKING ");
  return false;
}

// Files of the folder whose names start with a dot: the outputs still being written.
QStringList HiddenFiles(const QString& Folder) {
  return QDir(Folder).entryList(QDir::Files | QDir::Hidden).filter(QRegularExpression("^\\."));
}

// A session's end (SIGTERM), Ctrl+C in the terminal (SIGINT) or a lost terminal (SIGHUP) in the
// middle of a conversion, while the first entry's packaging tool hangs, or while the second
// entry's input takes long to open (a sleeping disk, a stalled share: here a lease that the open
// waits for until its holder lets go): the program ends as its close button ends it, at once. The
// entry being converted leaves no part file and no output, the one packaged leaves no SWF, no page
// and no scratch, the hanging tool goes, the one converted before keeps its files, and the scratch
// folder goes.
TEST_F(Program, ASignalEndsItAsTheCloseButtonDoes) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X server";
  const std::string shortClip = fixtures::Path(fixtures::Media::Mp4H264Aac);
  const std::string longClip = fixtures::Make(
      "signal-long.mp4",
      "-f lavfi -i testsrc=size=640x480:rate=25 -f lavfi -i sine=sample_rate=44100 -t 120 "
      "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac");
  const QString media = Folder.File(QStringLiteral("media"));
  const QString output = Folder.File(QStringLiteral("out"));
  ASSERT_TRUE(QDir().mkpath(media) && QDir().mkpath(output));
  ASSERT_TRUE(QFile::copy(QString::fromStdString(shortClip), media + "/a.mp4"));
  ASSERT_TRUE(QFile::copy(QString::fromStdString(longClip), media + "/b.mp4"));
  WriteTextFile(Folder.File(QStringLiteral("Fennick.ini")),
                "[Output]\nOutputPath=" + QFile::encodeName(output) +
                    "/\nSourcePath=" + QFile::encodeName(media) + "/\n");
  // A packaging tool that hangs, saying first that it runs, and under which process id.
  const QString tool = Folder.File(QStringLiteral("LibAV/swfdata.dll"));
  const QString toolRuns = tool + QStringLiteral(".running");
  ASSERT_TRUE(QDir().mkpath(Folder.File(QStringLiteral("LibAV"))));
  WriteTextFile(tool, "#!/bin/sh\necho $$ > \"$0.running\"\nexec sleep 600\n");
  ASSERT_TRUE(QFile::setPermissions(tool, QFile::ReadOwner | QFile::ExeOwner));
  const TMainButtons buttons = MainButtons();

  enum TUnderWay { Converting, Packaging, Opening };
  const struct {
    int Signal;
    TUnderWay UnderWay;
  } cases[] = {{SIGTERM, Converting}, {SIGINT, Converting}, {SIGHUP, Converting},
               {SIGTERM, Packaging},  {SIGHUP, Packaging},  {SIGTERM, Opening}};
  // The lease holder is told of each open that waits for it by SIGIO.
  struct sigaction ignore = {}, earlier = {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGIO, &ignore, &earlier);
  int runs = 0;
  for (const auto& c : cases) {
    const int signal = c.Signal;
    const bool whilePackaging = c.UnderWay == Packaging;
    const std::string row = std::to_string(signal) + " " + std::to_string(c.UnderWay);
    for (const QString& name : QDir(output).entryList(QDir::Files | QDir::Hidden))
      QFile::remove(output + "/" + name);
    QFile::remove(toolRuns);
    WriteTextFile(Folder.File(QStringLiteral("FormatDefault.ini")),
                  QByteArray("[SWFSet]\nGflv=1\nGThumbnail=1\n") +
                      (whilePackaging ? "GSwf=1\nGHtml=1\n" : "GSwf=0\n"));
    const QString cache = Folder.File(QStringLiteral("cache%1").arg(++runs));
    QProcess* program =
        Start(QStringLiteral("C"), {{QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb")},
                                    {QStringLiteral("XDG_CACHE_HOME"), cache}});
    WaitForReport(program, runs);
    const qint64 pid = program->processId();
    // The main window alone: the splash has gone.
    const QDeadlineTimer shown(StartTimeout);
    while (VisibleWindows(pid, QStringLiteral("^Velmora Fennick$")) != 1 ||
           VisibleWindows(pid, QStringLiteral("^About$")) != 0)
      ASSERT_FALSE(shown.hasExpired()) << "no main window";
    ClickAt(buttons.Add);
    // The file dialog opens in the sources' folder; the names go into its name box, again
    // until they are taken (the box may not have the keyboard yet).
    const QDeadlineTimer added(StartTimeout);
    while (ReadTextFile(Log(1)).count("Success to Load File ") < 2) {
      ASSERT_FALSE(added.hasExpired()) << "the files were not added";
      const QString dialog = FindWindow(pid, QStringLiteral("^Open$"));
      if (dialog.isEmpty()) continue;
      XdoTool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), dialog});
      XdoTool({QStringLiteral("key"), QStringLiteral("ctrl+a")});
      XdoTool({QStringLiteral("type"), QStringLiteral("\"a.mp4\" \"b.mp4\"")});
      XdoTool({QStringLiteral("key"), QStringLiteral("Return")});
      QTest::qWait(1000);
    }
    const int lease = c.UnderWay == Opening
                          ? ::open(QFile::encodeName(media + "/b.mp4"), O_RDONLY | O_CLOEXEC)
                          : -1;
    if (lease >= 0) {
      ASSERT_EQ(::fcntl(lease, F_SETLEASE, F_WRLCK), 0) << std::strerror(errno);
    }
    // Start is pressed again until the main window takes it: the adding window closes itself.
    while (VisibleWindows(pid, QStringLiteral("^Converting$")) != 1) {
      ASSERT_FALSE(added.hasExpired()) << "no conversion window";
      ClickAt(buttons.Start);
      QTest::qWait(200);
    }
    // The first entry converted, and the second under way or the first's tool hanging.
    const auto reached = [&] {
      if (c.UnderWay == Opening) return LeaseBreaking(lease);  // an open waits for it
      return whilePackaging ? QFile::exists(toolRuns)
                            : QFile::exists(output + "/a.flv") && !HiddenFiles(output).isEmpty();
    };
    const QDeadlineTimer deadline(StartTimeout);
    while (!reached()) {
      ASSERT_FALSE(deadline.hasExpired()) << "nothing under way in " << qPrintable(output);
      ASSERT_FALSE(program->waitForFinished(50)) << program->readAllStandardError().constData();
    }
    QString scratch;
    for (QDirIterator it(cache, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
         it.hasNext();)
      if (it.next().endsWith(QStringLiteral("5EE42FCD6CBC44CB27DE"))) scratch = it.filePath();
    ASSERT_FALSE(scratch.isEmpty());
    // What the skin preview leaves there while the program runs.
    ASSERT_TRUE(QDir().mkpath(scratch + QStringLiteral("/preview-%1").arg(program->processId())));

    ::kill(pid_t(program->processId()), signal);
    // Well before the hanging tool's own time limit.
    ASSERT_TRUE(program->waitForFinished(StartTimeout)) << row;
    EXPECT_EQ(program->exitStatus(), QProcess::NormalExit) << row;
    EXPECT_EQ(program->exitCode(), 128 + signal) << row;
    EXPECT_GT(QFileInfo(output + "/a.flv").size(), 0) << row;
    EXPECT_TRUE(QFile::exists(output + "/a.jpg")) << row;
    EXPECT_FALSE(QFile::exists(output + "/a.swf")) << row;
    EXPECT_FALSE(QFile::exists(output + "/a.html")) << row;
    EXPECT_FALSE(QFile::exists(output + "/b.flv")) << row;
    EXPECT_EQ(HiddenFiles(output), QStringList()) << row;
    EXPECT_FALSE(QFileInfo::exists(scratch)) << row;
    EXPECT_EQ(QDir(Folder.File(QStringLiteral("tmp")))
                  .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList())
        << row;
    EXPECT_TRUE(ReadTextFile(Log(1)).contains("Exit Convert")) << row;
    if (lease >= 0) {
      // Still waited for: the end did not wait until the kernel let the open go.
      EXPECT_TRUE(LeaseBreaking(lease)) << row;
      ::close(lease);
    }
    if (whilePackaging) {
      const pid_t toolPid = pid_t(ReadTextFile(toolRuns).trimmed().toInt());
      EXPECT_GT(toolPid, 0) << row;
      if (toolPid > 0 && ::kill(toolPid, 0) == 0) {
        ADD_FAILURE() << "the tool still runs: " << row;
        ::kill(toolPid, SIGKILL);
      }
    }
    Running.removeOne(program);
    delete program;
  }
  ::sigaction(SIGIO, &earlier, nullptr);
}

TEST_F(Program, StartsRotatesTheLogsAndReportsTheSystem) {
  for (int n = 1; n <= 10; ++n) WriteTextFile(Log(n), "run " + QByteArray::number(n) + "\n");
  QProcess* first = Start();
  WaitForReport(first, 10);

  for (int n = 2; n <= 10; ++n)
    EXPECT_EQ(ReadTextFile(Log(n)), "run " + QByteArray::number(n - 1) + "\n") << n;
  EXPECT_FALSE(QFile::exists(Log(11)));
  const QStringList lines = ReportLines(Log(1));
  ASSERT_EQ(lines.size(), 10);
  EXPECT_TRUE(lines[3].endsWith(QStringLiteral("    Language:        German")))
      << qPrintable(lines[3]);
  EXPECT_TRUE(lines[4].endsWith(QStringLiteral("    Country:         Germany")))
      << qPrintable(lines[4]);
  EXPECT_EQ(first->state(), QProcess::Running);
}

TEST_F(Program, AStartKeepsTheSettingsFilesByteForByteAndSaysWhichIsNoSettingsFile) {
  const QByteArray latin1 =
      "; r\xE9glages\r\n[Output]\r\nSnapshotPath=/home/l\xE9"
      "a/\r\nOutputPath=\r\n"
      "SnapshotExt=jpg\r\nSourcePath=\r\nSourceImgPath=\r\n";
  const QByteArray picture = QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16);
  WriteTextFile(Folder.File(QStringLiteral("Fennick.ini")), latin1);
  WriteTextFile(Folder.File(QStringLiteral("FormatDefault.ini")), picture);
  QProcess* program = Start();
  WaitForReport(program, 1);
  EXPECT_EQ(ReadTextFile(Folder.File(QStringLiteral("Fennick.ini"))), latin1);
  EXPECT_EQ(ReadTextFile(Folder.File(QStringLiteral("FormatDefault.ini"))), picture);
  EXPECT_TRUE(QString::fromUtf8(ReadTextFile(Log(1)))
                  .contains(Folder.File(QStringLiteral("FormatDefault.ini")) +
                            QStringLiteral(" is not a settings file: line 2 holds binary data.")))
      << ReadTextFile(Log(1)).constData();
}

TEST_F(Program, ASecondStartEndsAtOnceWithCodeZeroAndLeavesTheFirstAndItsLogsAlone) {
  WriteTextFile(Log(1), "earlier run\n");
  QProcess* first = Start();
  WaitForReport(first, 2);
  const QMap<QString, QByteArray> logs = LogFolder();
  ASSERT_EQ(logs.keys(), (QStringList{QStringLiteral("log1.txt"), QStringLiteral("log2.txt")}));

  QProcess* second = Start();
  ASSERT_TRUE(second->waitForFinished(StartTimeout));
  EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second->exitCode(), 0);
  EXPECT_EQ(second->readAllStandardError(), QByteArray());
  EXPECT_EQ(second->readAllStandardOutput(), QByteArray());

  EXPECT_EQ(first->state(), QProcess::Running);
  EXPECT_EQ(LogFolder(), logs);
}

TEST_F(Program, ALockLeftByACrashedRunDoesNotBlockTheNextStart) {
  QProcess* crashed = Start();
  WaitForReport(crashed, 1);
  crashed->kill();
  ASSERT_TRUE(crashed->waitForFinished(StartTimeout));
  ASSERT_FALSE(QDir(Folder.File(QStringLiteral("run"))).entryList(QDir::Files).isEmpty());

  QProcess* next = Start();
  WaitForReport(next, 2);
  EXPECT_EQ(next->state(), QProcess::Running);
  EXPECT_EQ(ReportLines(Log(2)).size(), 10);
}

// The plain C locale names no character set: file names must still be read as UTF-8.
TEST_F(Program, RunsFromAFolderWithCjkLettersInThePlainCLocale) {
  ASSERT_TRUE(Folder.Path().contains(QStringLiteral("\u89C6\u9891")));
  QProcess* first = Start(QStringLiteral("C"));
  WaitForReport(first, 1);
  const QStringList lines = ReportLines(Log(1));
  ASSERT_EQ(lines.size(), 10);
  EXPECT_TRUE(lines[3].endsWith(QStringLiteral("    Language:        "))) << qPrintable(lines[3]);
  EXPECT_EQ(first->state(), QProcess::Running);

  // The lock in that locale is found by a second start as well.
  QProcess* second = Start(QStringLiteral("C"));
  ASSERT_TRUE(second->waitForFinished(StartTimeout));
  EXPECT_EQ(second->exitCode(), 0);
  EXPECT_EQ(ReportsIn(Log(1)), 1);
  EXPECT_FALSE(QFile::exists(Log(2)));
}

TEST_F(Program, EachUserRunsOneCopyOfTheirOwn) {
  QProcess* first = Start();
  WaitForReport(first, 1);
  // Another user: another runtime folder, the same shared temporary folder.
  MakeRuntimeFolder(QStringLiteral("run2"));
  QProcess* other =
      Start(QStringLiteral("C"),
            {{QStringLiteral("XDG_RUNTIME_DIR"), Folder.File(QStringLiteral("run2"))}});
  WaitForReport(other, 2);
  EXPECT_EQ(first->state(), QProcess::Running);
  EXPECT_EQ(other->state(), QProcess::Running);
  EXPECT_FALSE(other->readAllStandardError().contains("single-instance lock"));
}

// Without a runtime folder the lock lives in a folder of the user's own in the temporary
// folder (the test's own, so that no copy running elsewhere shares it).
TEST_F(Program, WithoutARuntimeFolderTheLockIsInAFolderOfTheUsersOwn) {
  const QMap<QString, QString> noRuntime = {{QStringLiteral("XDG_RUNTIME_DIR"), QString()}};
  QProcess* first = Start(QStringLiteral("C"), noRuntime);
  WaitForReport(first, 1);
  QProcess* second = Start(QStringLiteral("C"), noRuntime);
  ASSERT_TRUE(second->waitForFinished(StartTimeout));
  EXPECT_EQ(second->exitCode(), 0);
  EXPECT_EQ(second->readAllStandardError(), QByteArray());
  EXPECT_EQ(first->state(), QProcess::Running);
  const QString own = Folder.File(QStringLiteral("tmp/fennick-%1").arg(getuid()));
  EXPECT_EQ(QDir(own).entryList({QStringLiteral("*.lock")}, QDir::Files).size(), 1);
  EXPECT_EQ(QFileInfo(own).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);
}

// Another user got there first: the program says so and runs, where it once ended silently.
TEST_F(Program, AnotherUsersFolderInThePlaceOfTheLocksIsSaidAndTheProgramRuns) {
  const QString own = Folder.File(QStringLiteral("tmp/fennick-%1").arg(getuid()));
  ASSERT_TRUE(QDir().mkpath(own));
  if (chown(QFile::encodeName(own).constData(), 65534, 65534) != 0)
    GTEST_SKIP() << "giving a folder to another user needs root";
  QProcess* program = Start(QStringLiteral("C"), {{QStringLiteral("XDG_RUNTIME_DIR"), QString()}});
  WaitForReport(program, 1);
  EXPECT_TRUE(program->readAllStandardError().contains(
      "Cannot create the single-instance lock \"" + QFile::encodeName(own) +
      "/{B7AE1E92-DF16-425A-A984-453ECE6A6338}.lock\": its folder " + QFile::encodeName(own) +
      " belongs to another user."));
}

TEST_F(Program, ALockThatCannotBeMadeIsReportedAndTheProgramRuns) {
  QProcess* first = Start(QStringLiteral("C"),
                          {{QStringLiteral("XDG_RUNTIME_DIR"), QStringLiteral("/proc/self")}});
  WaitForReport(first, 1);
  const QByteArray errors = first->readAllStandardError();
  EXPECT_TRUE(errors.contains("Cannot create the single-instance lock \"/proc/self/{"))
      << errors.constData();
}

TEST_F(Program, WithoutADisplayItSaysSoAndEndsWithAnExitCode) {
  QProcess* process = Start(QStringLiteral("C"), {{QStringLiteral("QT_QPA_PLATFORM"), QString()},
                                                  {QStringLiteral("DISPLAY"), QString()},
                                                  {QStringLiteral("WAYLAND_DISPLAY"), QString()}});
  ASSERT_TRUE(process->waitForFinished(StartTimeout));
  EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(process->exitCode(), 1);
  EXPECT_TRUE(process->readAllStandardError().contains("needs a graphical display"));
  EXPECT_TRUE(LogFolder().isEmpty());
}

// On an X server that offers GL, as a user's does: the program needs none and loads no GL
// driver. Without a sanitizer (whose shadow memory no such limit admits) it starts within an
// address space of 1 GiB, as a small machine gives it, where a GL integration the user chose is
// set aside as the web engine is.
TEST_F(Program, OnAnXServerItStartsWithoutAGlDriverInASmallAddressSpace) {
  if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs xvfb";
  std::function<void()> smallMachine;
  QStringList choices = {QString()};
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  smallMachine = [] {
    const rlimit limit{rlim_t(1) << 30, rlim_t(1) << 30};
    setrlimit(RLIMIT_AS, &limit);
  };
  choices << QStringLiteral("xcb_glx");
#endif
  int runs = 0;
  for (const QString& choice : choices) {
    SCOPED_TRACE(qPrintable(choice));
    QProcess* program = Start(QStringLiteral("C"),
                              {{QStringLiteral("QT_QPA_PLATFORM"), QString()},
                               {QStringLiteral("QT_XCB_GL_INTEGRATION"), choice}},
                              smallMachine);
    WaitForReport(program, ++runs);
    EXPECT_EQ(program->state(), QProcess::Running);
    const QByteArray maps =
        ReadTextFile(QStringLiteral("/proc/%1/maps").arg(program->processId()));
    for (const char* driver : {"libGLX_mesa", "libEGL_mesa", "_dri.so"})
      EXPECT_FALSE(maps.contains(driver)) << driver;
    if (!choice.isEmpty()) {
      EXPECT_TRUE(
          ReadTextFile(Log(1)).contains("QT_XCB_GL_INTEGRATION=" + choice.toUtf8() + " is set aside"));
    }
    program->kill();
    program->waitForFinished(StartTimeout);
  }
}

TEST_F(Program, FromAFolderItCannotWriteItKeepsSettingsAndLogsInTheUsersLocationsAndSaysSo) {
  const QString home = Folder.File(QStringLiteral("tmp/home"));
  const QMap<QString, QString> userPlaces = {{QStringLiteral("HOME"), home},
                                             {QStringLiteral("XDG_CONFIG_HOME"), home + "/config"},
                                             {QStringLiteral("XDG_STATE_HOME"), home + "/state"},
                                             {QStringLiteral("XDG_CACHE_HOME"), home + "/cache"}};
  const TReadOnlyFolder readOnly(Folder.Path());
  if (!readOnly.Holds()) GTEST_SKIP() << "this file system cannot make a folder read-only";

  QProcess* program = Start(QStringLiteral("de_DE.UTF-8"), userPlaces);
  const QString logFolder = home + "/state/fennick/Log";
  WaitForReportIn(program, logFolder, 1);
  EXPECT_EQ(program->state(), QProcess::Running);
  const QStringList lines = ReadLines(logFolder + "/log1.txt");
  ASSERT_FALSE(lines.isEmpty());
  EXPECT_TRUE(lines[0].contains(QStringLiteral("cannot be written; settings go to ") + home +
                                "/config/fennick/, logs to " + logFolder))
      << qPrintable(lines[0]);
  const QString ini = home + "/config/fennick/Fennick.ini";
  EXPECT_EQ(ReadTextFile(ini),
            "[Output]\nSnapshotPath=\nOutputPath=\nSnapshotExt=\nSourcePath=\nSourceImgPath=\n");
  const QFileInfo scratch(home + "/cache/fennick/5EE42FCD6CBC44CB27DE");
  EXPECT_TRUE(scratch.isDir());
  EXPECT_EQ(scratch.permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);
  EXPECT_EQ(QDir(Folder.Path()).entryList(QDir::Files | QDir::NoDotAndDotDot),
            QStringList{QStringLiteral("fennick")});
}

}  // namespace
