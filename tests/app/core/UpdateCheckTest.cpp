#include "AppTestSupport.h"
#include "U_updata.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

#include <map>

namespace {

// A web server on the loopback that answers each path as told: with a status and a body,
// with the headers and the first bytes only (then nothing more), or not at all.
class TTestServer {
 public:
  enum TMode { Answer, Silent };
  struct TResponse {
    int Status = 200;
    QByteArray Body;
    TMode Mode = Answer;
  };

  TTestServer() {
    EXPECT_TRUE(FServer.listen(QHostAddress::LocalHost));
    QObject::connect(&FServer, &QTcpServer::newConnection, [this] {
      while (QTcpSocket* socket = FServer.nextPendingConnection()) Serve(socket);
    });
  }
  QString Url() const { return QStringLiteral("http://127.0.0.1:%1").arg(FServer.serverPort()); }

  std::map<QString, TResponse> Files;
  std::function<void(QTcpSocket* Socket)> OnRequest;

 private:
  void Serve(QTcpSocket* Socket) {
    QObject::connect(Socket, &QTcpSocket::readyRead, Socket, [this, Socket] {
      FRequest[Socket] += Socket->readAll();
      if (!FRequest[Socket].contains("\r\n\r\n")) return;
      const QString path = QString::fromLatin1(FRequest[Socket].split(' ').value(1));
      const auto found = Files.find(path);
      const TResponse response = found != Files.end() ? found->second : TResponse{404, "gone"};
      if (OnRequest) OnRequest(Socket);
      if (response.Mode == Silent) return;
      Socket->write(QStringLiteral("HTTP/1.1 %1 X\r\nContent-Length: %2\r\n\r\n")
                        .arg(response.Status)
                        .arg(response.Body.size())
                        .toLatin1());
      Socket->write(response.Body);
      Socket->disconnectFromHost();
    });
  }

  QTcpServer FServer;
  std::map<QTcpSocket*, QByteArray> FRequest;
};

const QString Own = QStringLiteral("1.2.3.4");

QByteArray VersionFile(const char* Version) {
  return QByteArray("[Fennick]\nVersion=") + Version + "\n";
}

struct TOutcome {
  QString Text;  // the result's text, or the new version and what's new
  int LastPercent = -1;
};

TOutcome RunCheck(TTestServer& Server, const QString& Cache, int TimeoutMs = 30000) {
  TNetDownloader downloader(TimeoutMs);
  TUpdateCheck check(downloader, Server.Url(), Cache, Own);
  TOutcome outcome;
  QEventLoop loop;
  check.OnProgress = [&](int Percent) { outcome.LastPercent = Percent; };
  check.OnResult = [&](TUpdateResult Result) {
    outcome.Text = UpdateResultText(Result);
    loop.quit();
  };
  check.OnNewVersion = [&](const QString& Version, const QString& WhatsNew) {
    outcome.Text = Version + "|" + WhatsNew;
    loop.quit();
  };
  check.Start();
  loop.exec();
  EXPECT_FALSE(check.Running());
  return outcome;
}

TEST(UpdateCheck, JudgesTheServersAnswer) {
  const QString failed = UpdateResultText(urFailed);
  const struct {
    const char* Name;
    TTestServer::TResponse Version;
    TTestServer::TResponse WhatsNew;
    QString Text;
  } cases[] = {
      {"equal", {200, VersionFile("1.2.3.4")}, {}, UpdateResultText(urLatest)},
      {"equal with fewer parts", {200, VersionFile("1.2.3.4.0")}, {}, UpdateResultText(urLatest)},
      {"older", {200, VersionFile("1.2.3")}, {}, UpdateResultText(urOlder)},
      {"newer by a part past nine",
       {200, VersionFile("1.2.10.0")},
       {200, "<b>faster</b>"},
       "1.2.10.0|<b>faster</b>"},
      {"newer without its news", {200, VersionFile("2.0")}, {404, ""}, "2.0|"},
      {"missing", {404, "not here"}, {}, failed},
      {"server error", {500, VersionFile("9.0")}, {}, failed},
  };
  for (const auto& c : cases) {
    TScratchFolder cache;
    // A file of an earlier run must not count as this run's download.
    WriteTextFile(cache.File("update.ini"), VersionFile("9.9.9.9"));
    TTestServer server;
    server.Files["/download/fnk/update.ini"] = c.Version;
    server.Files["/download/fnk/whatsnew.xml"] = c.WhatsNew;
    const TOutcome outcome = RunCheck(server, cache.Path() + "/");
    EXPECT_EQ(outcome.Text, c.Text) << c.Name;
    EXPECT_EQ(QFile::exists(cache.File("update.ini")), c.Version.Status == 200) << c.Name;
    EXPECT_EQ(outcome.LastPercent, c.Version.Status == 200 ? 100 : -1) << c.Name;
  }
}

TEST(UpdateCheck, AServerThatNeverAnswersFailsAfterTheTimeout) {
  TScratchFolder cache;
  TTestServer server;
  server.Files["/download/fnk/update.ini"] = {200, VersionFile("2.0"), TTestServer::Silent};
  EXPECT_EQ(RunCheck(server, cache.Path() + "/", 200).Text, UpdateResultText(urFailed));
}

TEST(UpdateCheck, CancelStopsTheDownloadAndLeavesNoFile) {
  TScratchFolder cache;
  TTestServer server;
  server.Files["/download/fnk/update.ini"] = {200, VersionFile("2.0"), TTestServer::Silent};
  TNetDownloader downloader;
  TUpdateCheck check(downloader, server.Url(), cache.Path() + "/", Own);
  bool ended = false;
  check.OnResult = [&](TUpdateResult) { ended = true; };
  check.OnNewVersion = [&](const QString&, const QString&) { ended = true; };
  QEventLoop loop;
  // Cancelled while the server holds the request; the server then sees the connection close.
  server.OnRequest = [&](QTcpSocket* Socket) {
    QObject::connect(Socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    EXPECT_TRUE(check.Running());
    check.Cancel();
  };
  check.Start();
  loop.exec();
  EXPECT_FALSE(check.Running());
  EXPECT_FALSE(ended);
  EXPECT_TRUE(QDir(cache.Path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST(UpdateCheck, ProgressNeedsBothNumbers) {
  const struct {
    int64_t Position, Maximum;
    std::optional<int> Percent;
  } cases[] = {{0, 100, std::nullopt}, {50, 0, std::nullopt}, {1, 3, 33}, {2, 3, 67}, {7, 7, 100}};
  for (const auto& c : cases) EXPECT_EQ(ProgressPercent(c.Position, c.Maximum), c.Percent);
}

}  // namespace
