#include "AppTestSupport.h"
#include "HangGuard.h"
#include "RefusedThreadStarts.h"
#include "StreamedAnswer.h"
#include "U_updata.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <map>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

namespace {

// A web server on the loopback that answers each path as told: with a status and a body,
// with the headers and the first bytes only (then nothing more), not at all, or with a
// stream of Length bytes made as they are sent (without a length: until the client goes).
class TTestServer {
 public:
  enum TMode { Answer, Silent, Stream };
  struct TResponse {
    int Status = 200;
    QByteArray Body;
    TMode Mode = Answer;
    qint64 Length = -1;
  };

  TTestServer() {
    EXPECT_TRUE(FServer.listen(QHostAddress::LocalHost));
    QObject::connect(&FServer, &QTcpServer::newConnection, [this] {
      while (QTcpSocket* socket = FServer.nextPendingConnection()) Serve(socket);
    });
  }
  QString Url() const { return QStringLiteral("http://127.0.0.1:%1").arg(FServer.serverPort()); }

  std::map<QString, TResponse> Files;
  // Where the answer of a path sends the client.
  std::map<QString, QByteArray> Redirects;
  std::function<void(QTcpSocket* Socket)> OnRequest;
  qint64 Streamed = 0;  // bytes of the streams handed to the system

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
      if (response.Mode == Stream) return StreamAnswer(Socket, response.Length, Streamed);
      Socket->write(QStringLiteral("HTTP/1.1 %1 X\r\nContent-Length: %2\r\n")
                        .arg(response.Status)
                        .arg(response.Body.size())
                        .toLatin1());
      if (Redirects.count(path)) Socket->write("Location: " + Redirects[path] + "\r\n");
      Socket->write("\r\n");
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
  check.OnStopped = [&](const QString& Reason) {
    outcome.Text = "stopped|" + Reason;
    loop.quit();
  };
  check.Start();
  if (check.Running()) loop.exec();
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

TEST(UpdateCheck, RedirectsAreFollowedToWebAddressesOnly) {
  const struct {
    const char* Name;
    QByteArray Location;
    QString Text;  // %1: the server's address
  } cases[] = {
      {"moved", "/moved/update.ini", UpdateResultText(urLatest)},
      {"to itself", "/download/fnk/update.ini",
       "stopped|%1/download/fnk/update.ini redirects more than 10 times."},
      {"to a file", "file:///etc/passwd",
       "stopped|Only http and https addresses are downloaded, not \"file:///etc/passwd\"."},
  };
  for (const auto& c : cases) {
    TScratchFolder cache;
    TTestServer server;
    server.Files["/download/fnk/update.ini"] = {302, "see there"};
    server.Redirects["/download/fnk/update.ini"] = c.Location;
    server.Files["/moved/update.ini"] = {200, VersionFile("1.2.3.4")};
    EXPECT_EQ(RunCheck(server, cache.Path() + "/").Text, c.Text.arg(server.Url())) << c.Name;
    EXPECT_EQ(QFile::exists(cache.File("update.ini")), c.Text == UpdateResultText(urLatest))
        << c.Name;
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

// What the cache folder holds, hidden scratch files too.
QStringList FilesIn(const TScratchFolder& Folder) {
  return QDir(Folder.Path()).entryList(QDir::Files | QDir::Hidden);
}

TEST(UpdateCheck, AnAnswerTooLargeForItsFileIsStoppedAtOnceAndSaidSo) {
  const qint64 gigabyte = 1LL << 30;
  const struct {
    const char* Name;
    QString File;
    qint64 Length;  // -1: endless
    QString Outcome;
  } cases[] = {
      {"a gigabyte of version", "update.ini", gigabyte, "stopped|"},
      {"an endless version", "update.ini", -1, "stopped|"},
      {"a gigabyte of news", "whatsnew.xml", gigabyte, "2.0|"},
      {"endless news", "whatsnew.xml", -1, "2.0|"},
  };
  for (const auto& c : cases) {
    TScratchFolder cache;
    TTestServer server;
    server.Files["/download/fnk/update.ini"] = {200, VersionFile("2.0")};
    server.Files["/download/fnk/" + c.File] = {200, {}, TTestServer::Stream, c.Length};
    const TOutcome outcome = RunCheck(server, cache.Path() + "/");
    EXPECT_EQ(outcome.Text, c.Outcome + "The answer from " + server.Url() + "/download/fnk/" +
                                c.File + " is larger than 256 KB: the download was stopped.")
        << c.Name;
    // Hung up at once: what was sent is what the system's buffers took, far from the whole.
    EXPECT_LT(server.Streamed, 64LL << 20) << c.Name;
    EXPECT_FALSE(FilesIn(cache).contains(c.File)) << c.Name;
    EXPECT_EQ(FilesIn(cache).size(), c.File == "update.ini" ? 0 : 1) << c.Name;
  }
}

// A server on a thread of its own, so that it keeps sending while the client's thread is busy:
// the first file is redirected to a path that answers with chunks that never end, written as
// fast as the client takes them.
class TRedirectingServer {
 public:
  TRedirectingServer() {
    FListener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(bind(FListener, reinterpret_cast<sockaddr*>(&address), length), 0);
    EXPECT_EQ(listen(FListener, 4), 0);
    getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length);
    FPort = ntohs(address.sin_port);
    FThread = std::thread([this] { Serve(); });
  }
  ~TRedirectingServer() {
    shutdown(FListener, SHUT_RDWR);
    FThread.join();
    close(FListener);
  }
  QString Url() const { return QStringLiteral("http://127.0.0.1:%1").arg(FPort); }
  // Returns once the stream has sent Bytes, or has stalled for Patience.
  void WaitForSent(int64_t Bytes, std::chrono::seconds Patience) {
    std::unique_lock<std::mutex> lock(FLock);
    FSentChanged.wait_for(lock, Patience, [&] { return Sent >= Bytes; });
  }
  std::atomic<int64_t> Sent{0};

 private:
  void Serve() {
    for (int client; (client = accept(FListener, nullptr, nullptr)) >= 0; close(client)) {
      char request[4096] = {};
      if (recv(client, request, sizeof request - 1, 0) <= 0) continue;
      if (std::strstr(request, "GET /endless ")) {
        Stream(client);
        continue;
      }
      const std::string redirect = "HTTP/1.1 302 Found\r\nLocation: " + Url().toStdString() +
                                   "/endless\r\nContent-Length: 0\r\n\r\n";
      send(client, redirect.data(), redirect.size(), MSG_NOSIGNAL);
    }
  }
  void Stream(int Client) {
    const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    send(Client, head.data(), head.size(), MSG_NOSIGNAL);
    const std::string chunk = "10000\r\n" + std::string(0x10000, 'x') + "\r\n";
    while (send(Client, chunk.data(), chunk.size(), MSG_NOSIGNAL) > 0) {
      Sent += int64_t(chunk.size());
      FSentChanged.notify_all();
    }
  }

  int FListener = -1;
  int FPort = 0;
  std::mutex FLock;
  std::condition_variable FSentChanged;
  std::thread FThread;
};

TEST(UpdateCheck, ARedirectedAnswerIsHeldToTheSameLimits) {
  TScratchFolder cache;
  TRedirectingServer server;
  TNetDownloader downloader;
  TUpdateCheck check(downloader, server.Url(), cache.Path() + "/", Own);
  QString stopped;
  check.OnStopped = [&](const QString& Reason) { stopped = Reason; };
  check.Start();
  while (check.Running() && server.Sent == 0)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  // While this thread takes nothing, what is not read must wait in the socket: the server is
  // held up after a few megabytes, rather than the process taking everything it sends.
  constexpr int64_t Unbounded = 64LL << 20;
  server.WaitForSent(Unbounded, std::chrono::seconds(5));
  EXPECT_LT(server.Sent, Unbounded);
  while (check.Running()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  EXPECT_EQ(stopped, "The answer from " + server.Url() +
                         "/endless is larger than 256 KB: the download was stopped.");
  EXPECT_EQ(FilesIn(cache), QStringList());
}

TEST(UpdateCheck, AFileThatCannotBeWrittenStopsTheDownloadAtItsFirstFailedWrite) {
  TScratchFolder cache;
  TTestServer server;
  server.Files["/download/fnk/update.ini"] = {200, {}, TTestServer::Stream, -1};
  // A disk that is full after 16 KB.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const rlimit small{16 * 1024, saved.rlim_max};
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const TOutcome outcome = RunCheck(server, cache.Path() + "/");
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_TRUE(outcome.Text.startsWith("stopped|Cannot save " + cache.File("update.ini") + ": "))
      << qPrintable(outcome.Text);
  EXPECT_EQ(FilesIn(cache), QStringList());
}

// A check that cannot fetch at all says why at once: an address that is not a web address, or
// a transfer thread the system refuses (no thread left); it never waits for a thread that
// never started, not even when it goes.
TEST(UpdateCheck, ACheckThatCannotFetchSaysWhyAtOnce) {
  TScratchFolder cache;
  TScratchFolder local;
  ASSERT_TRUE(QDir().mkpath(local.File("download/fnk")));
  WriteTextFile(local.File("download/fnk/update.ini"), VersionFile("2.0"));
  const QString notFetched =
      QStringLiteral("Only http and https addresses are downloaded, not \"%1\".");
  const struct {
    QString Server;
    bool RefuseThread;
    QString Stopped;
  } cases[] = {
      {QUrl::fromLocalFile(local.Path()).toString(), false,
       notFetched.arg(QUrl::fromLocalFile(local.Path()).toString() + "/download/fnk/update.ini")},
      {QStringLiteral("ftp://127.0.0.1"), false,
       notFetched.arg("ftp://127.0.0.1/download/fnk/update.ini")},
      {QStringLiteral("127.0.0.1"), false, notFetched.arg("127.0.0.1/download/fnk/update.ini")},
      {QStringLiteral("http://127.0.0.1:9"), true,
       QStringLiteral("Cannot start the update check's thread: ") +
           QString::fromStdString(std::generic_category().message(EAGAIN))},
  };
  for (const auto& c : cases) {
    const THangGuard guard("the update check of " + c.Server.toStdString(), 60);
    std::optional<TRefusedThreadStarts> refused;
    if (c.RefuseThread) refused.emplace(0, -1, TRefusedThreadStarts::TFrom::ThisThread);
    TNetDownloader downloader;
    refused.reset();
    TUpdateCheck check(downloader, c.Server, cache.Path() + "/", Own);
    QString stopped;
    check.OnStopped = [&](const QString& Reason) { stopped = Reason; };
    check.Start();
    EXPECT_FALSE(check.Running()) << qPrintable(c.Server);
    EXPECT_EQ(stopped, c.Stopped);
    EXPECT_EQ(FilesIn(cache), QStringList());
  }
}

TEST(UpdateCheck, ProgressNeedsBothNumbers) {
  const struct {
    int64_t Position, Maximum;
    std::optional<int> Percent;
  } cases[] = {{0, 100, std::nullopt}, {50, 0, std::nullopt}, {1, 3, 33}, {2, 3, 67}, {7, 7, 100}};
  for (const auto& c : cases) EXPECT_EQ(ProgressPercent(c.Position, c.Maximum), c.Percent);
}

}  // namespace
