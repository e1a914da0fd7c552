#include "AppTestSupport.h"
#include "U_Replace.h"
#include "U_shutDown.h"

#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

namespace {

// Widths counted in characters: the rule is the same in pixels.
TEST(Replace, TheNamesGoWholeOnALineOfTheirOwnOrShortenedInTheirMiddle) {
  const QString lead = QStringLiteral("whether you want to replace existing file");
  const auto characters = [](const QString& Text) { return static_cast<int>(Text.size()); };
  const QString longName = QString(30, 'a') + QString(30, 'b');
  const struct {
    QStringList Files;
    int LineWidth;
    QString Caption;
  } cases[] = {
      {{"/out/a.flv"}, 80, lead + "'a.flv'"},
      {{"/out/it's.flv"}, 80, lead + "'it''s.flv'"},
      {{"/out/long_720p_10min.flv"}, 50, lead + "\r\n'long_720p_10min.flv'"},
      {{"/out/" + longName + ".flv"}, 45,
       lead + "\r\n'" + QString(20, 'a') + "..." + QString(16, 'b') + ".flv'"},
      {{"/out/a.flv", "/out/a.jpg"}, 80, lead + "'a.flv' and 'a.jpg'"},
      {{"/out/clip.flv", "/out/clip.swf", "/out/clip.html", "/out/clip.jpg"}, 60,
       lead + "\r\n'clip.flv', 'clip.swf', 'clip.html' and 'clip.jpg'"},
      {{"/out/" + longName + ".flv", "/out/" + longName + ".html"}, 45,
       lead + "\r\n'" + QString(8, 'a') + "..." + QString(3, 'b') + ".flv' and '" +
           QString(8, 'a') + "..." + QString(2, 'b') + ".html'"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ReplaceCaption(c.Files, c.LineWidth, characters), c.Caption) << c.LineWidth;
}

TEST(ShutDown, TheCountdownCountsThirtySeconds) {
  TShutDownCountdown countdown;
  EXPECT_EQ(countdown.Text(), "Your computer will shut down after 30 seconds.");
  for (int i = 1; i < 30; ++i) ASSERT_FALSE(countdown.Tick()) << i;
  EXPECT_EQ(countdown.Text(), "Your computer will shut down after 1 seconds.");
  EXPECT_TRUE(countdown.Tick());
}

// A bus of the test's own with python-dbusmock's stand-in logind on it.
class PrivateBus : public testing::Test {
 protected:
  void SetUp() override {
    // Its socket in the test's temporary folder: killed, the daemon leaves the file behind.
    Bus.start(QStringLiteral("dbus-daemon"),
              {"--session", "--nofork", "--print-address=1",
               QStringLiteral("--address=unix:tmpdir=") + QDir::tempPath()});
    ASSERT_TRUE(Bus.waitForReadyRead(10000)) << "dbus-daemon did not start";
    Address = QString::fromUtf8(Bus.readLine()).trimmed();
  }
  void TearDown() override {
    for (QProcess* p : {&Logind, &Bus}) {
      p->kill();
      p->waitForFinished();
    }
  }
  bool StartLogind() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), Address);
    Logind.setProcessEnvironment(env);
    Logind.start(QStringLiteral("/usr/bin/python3"), {"-m", "dbusmock", "--system", "--template",
                                                      "logind", "-l", Log.File("calls.log")});
    QDBusConnection bus = Connection();
    const QDeadlineTimer deadline(20000);
    while (!bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.login1"))) {
      if (deadline.hasExpired() || Logind.state() == QProcess::NotRunning) return false;
      QThread::msleep(20);
    }
    return true;
  }
  QDBusConnection Connection() const {
    return QDBusConnection::connectToBus(Address, QStringLiteral("private"));
  }

  QProcess Bus, Logind;
  QString Address;
  TScratchFolder Log;
};

TEST_F(PrivateBus, PowerOffAsksLogindWithoutPromptingAndReportsAMissingService) {
  TLogindPower power(Connection());
  QString error;
  EXPECT_FALSE(power.PowerOff(error));
  EXPECT_TRUE(error.startsWith("org.freedesktop.DBus.Error.ServiceUnknown")) << qPrintable(error);

  ASSERT_TRUE(StartLogind()) << qPrintable(QString::fromUtf8(Logind.readAllStandardError()));
  error.clear();
  EXPECT_TRUE(power.PowerOff(error)) << qPrintable(error);
  const QStringList calls = ReadLines(Log.File("calls.log"));
  ASSERT_EQ(calls.size(), 1);
  EXPECT_TRUE(calls[0].endsWith(" PowerOff False")) << qPrintable(calls[0]);
}

}  // namespace
