#include "AppTestSupport.h"
#include "ShockwaveEx.h"
#include "Startup.h"
#include "U_Config.h"
#include "U_Main.h"
#include "U_about.h"
#include "VelLog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <gtest/gtest.h>

namespace {

// The value of a "KEY=value" line of an os-release file, without its quotes.
QString OsReleaseValue(const QString& Key) {
  for (const char* name : {"/etc/os-release", "/usr/lib/os-release"}) {
    QFile file(QString::fromLatin1(name));
    if (!file.open(QIODevice::ReadOnly)) continue;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n')))
      if (line.startsWith(Key + QLatin1Char('=')))
        return line.mid(Key.size() + 1).remove(QLatin1Char('"'));
  }
  return QString();
}

QString FirstLineOf(const QString& FileName) {
  QFile file(FileName);
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readLine()).trimmed() : QString();
}

long long MemTotalKilobytes() {
  QFile file(QStringLiteral("/proc/meminfo"));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly));
  const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("MemTotal:\\s+(\\d+) kB"))
                                            .match(QString::fromLatin1(file.readAll()));
  return match.captured(1).toLongLong();
}

class SystemReport : public testing::Test {
 protected:
  void SetUp() override { InitVelLog(Folder.Path()); }
  void TearDown() override { VelLog = TVelLog(); }

  TScratchFolder Folder;
};

TEST_F(SystemReport, HasTheTenLinesInOrderEndingWithAnEmptyEntry) {
  LogSystemInfo();
  const QStringList lines = ReadLines(VelLog.FileName());
  ASSERT_EQ(lines.size(), 10);
  const QString stamp = StampPattern(QStringLiteral("    "));
  const QStringList patterns = {
      QString(69, QLatin1Char('=')),
      QStringLiteral("System Version:  .+"),
      QStringLiteral("Memory:          \\d+ MB"),
      QStringLiteral("Language:        .*"),
      QStringLiteral("Country:         .*"),
      QStringLiteral("Metrics:         \\d+ X \\d+"),
      QStringLiteral("Flash Player:    "),
      QStringLiteral("Program Version: \\d+\\.\\d+\\.\\d+"),
      QString(69, QLatin1Char('=')),
      QString(),
  };
  for (int i = 0; i < 10; ++i) {
    const QRegularExpression expected(QRegularExpression::anchoredPattern(stamp + patterns[i]));
    EXPECT_TRUE(expected.match(lines[i]).hasMatch())
        << "line " << i + 1 << ": " << qPrintable(lines[i]);
  }
}

TEST_F(SystemReport, TellsTheSystemMemoryScreenAndVersion) {
  LogSystemInfo();
  const QStringList lines = ReadLines(VelLog.FileName());
  ASSERT_EQ(lines.size(), 10);
  const QString system = lines[1].mid(23 + 17);
  const QString distribution = OsReleaseValue(QStringLiteral("PRETTY_NAME"));
  if (!distribution.isEmpty()) {
    EXPECT_TRUE(system.startsWith(distribution)) << qPrintable(system);
  }
  EXPECT_TRUE(system.endsWith(QStringLiteral("Linux ") +
                              FirstLineOf(QStringLiteral("/proc/sys/kernel/osrelease"))))
      << qPrintable(system);

  EXPECT_EQ(lines[2].mid(23 + 17), QStringLiteral("%1 MB").arg(MemTotalKilobytes() >> 10));
  const QSize screen = QGuiApplication::primaryScreen()->size();
  EXPECT_EQ(lines[5].mid(23 + 17),
            QStringLiteral("%1 X %2").arg(screen.width()).arg(screen.height()));
  EXPECT_EQ(lines[7].mid(23 + 17), GetFileVersionText(false));
}

TEST(Splash, IsTheAboutBoxOnTopTakingNoInput) {
  std::unique_ptr<Taboutfrm> splash = ShowSplash();
  EXPECT_TRUE(splash->isVisible());
  EXPECT_TRUE(splash->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(splash->windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_FALSE(splash->isEnabled());
  EXPECT_EQ(splash->lblVersion->text(), QStringLiteral("Version ") + GetFileVersionText(true));
  // A press on the picture does not close the splash early.
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), splash->mapToGlobal(QPointF(5, 5)),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(splash->imgBd, &press);
  EXPECT_TRUE(splash->isVisible());
}

// The splash stays above every window: a library error shown under it would leave the user
// looking at a splash that never goes.
TEST(Splash, GoesBeforeALibraryErrorIsShown) {
  TScratchFolder folder;
  SetProgramFolder(folder.Path());
  ASSERT_TRUE(QDir().mkpath(folder.File(QStringLiteral("LibAV"))));
  WriteTextFile(folder.File(QStringLiteral("LibAV/libSDL-1.2.so.0")), "not a library");
  TMainfrm mainfrm;
  std::unique_ptr<Taboutfrm> splash = ShowSplash();
  QStringList errors;
  bool splashShown = true;
  mainfrm.ShowError = [&](const QString& Text) {
    errors << Text;
    splashShown = splash && splash->isVisible();
  };
  EXPECT_FALSE(LoadMediaLibraries(mainfrm, splash));
  SetProgramFolder(QString());
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors[0].contains(QStringLiteral("libSDL-1.2.so.0"))) << qPrintable(errors[0]);
  EXPECT_FALSE(splashShown);
}

TEST(MainWindow, SmallScreensGetAWindowOfNineTenthsOfTheirSize) {
  const struct {
    QSize Screen, Window;
  } cases[] = {{{800, 600}, {720, 540}},
               {{1280, 800}, {920, 570}},
               {{920, 570}, {920, 570}},
               {{1920, 565}, {1728, 509}}};
  for (const auto& c : cases) EXPECT_EQ(MainWindowSize(c.Screen), c.Window) << c.Screen.width();
}

TEST(MainWindow, IsARoundedFramelessWindowWithTheProgramsCaption) {
  TMainfrm mainfrm;
  mainfrm.show();
  EXPECT_EQ(mainfrm.windowTitle(), QStringLiteral("Velmora Fennick"));
  EXPECT_TRUE(mainfrm.windowFlags().testFlag(Qt::FramelessWindowHint));
  const QRegion mask = mainfrm.mask();
  const QRect all = mainfrm.rect();
  EXPECT_FALSE(mask.contains(all.topLeft()));
  EXPECT_FALSE(mask.contains(all.bottomRight()));
  EXPECT_TRUE(mask.contains(all.center()));
  EXPECT_TRUE(mask.contains(QPoint(all.center().x(), 0)));
  EXPECT_TRUE(mask.contains(QPoint(0, all.center().y())));
  mainfrm.resize(1000, 640);
  EXPECT_TRUE(mainfrm.mask().contains(QPoint(999, 320)));
  EXPECT_FALSE(mainfrm.mask().contains(QPoint(999, 639)));
}

}  // namespace

// Without a session bus, no library may have one launched that outlives the program.
TEST(Startup, WithoutASessionBusTheLibrariesAreSentWhereNoneIsLaunched) {
  TScratchFolder withBus, withoutBus;
  WriteTextFile(withBus.File(QStringLiteral("bus")), "");
  const struct {
    QByteArray Address;
    QString RuntimeDir;
    QByteArray Expected;  // empty: left as it is
  } cases[] = {
      {"unix:path=/run/user/7/bus", withoutBus.Path(), ""},
      {"", withBus.Path(), ""},
      {"", withoutBus.Path(), "unix:path=" + QFile::encodeName(withoutBus.File("bus"))},
      {"", QString(), "unix:path=/run/user/4000007/bus"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(UnlaunchedSessionBusAddress(c.Address, c.RuntimeDir, 4000007), c.Expected)
        << c.Address.constData() << " " << qPrintable(c.RuntimeDir);
}

// The GL choice the program makes for itself is not passed on to the programs it starts (the
// browser, the packaging tools): they get the setting the program was started with.
TEST(Startup, ProgramsStartedFromHereGetTheGlSettingTheProgramWasStartedWith) {
  QFile environ(QStringLiteral("/proc/self/environ"));
  ASSERT_TRUE(environ.open(QIODevice::ReadOnly));
  QByteArray started = "unset";
  for (const QByteArray& entry : environ.readAll().split('\0'))
    if (entry.startsWith("QT_XCB_GL_INTEGRATION=")) started = entry.mid(entry.indexOf('=') + 1);
  QProcess shell;
  shell.start(QStringLiteral("/bin/sh"),
              {QStringLiteral("-c"), QStringLiteral("printf %s \"${QT_XCB_GL_INTEGRATION-unset}\"")});
  ASSERT_TRUE(shell.waitForFinished());
  EXPECT_EQ(shell.readAllStandardOutput(), started);
}
