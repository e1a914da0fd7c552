// One update check against a server on the loopback that answers one of its two files with
// far more than a file of its kind holds: a gigabyte, a stream that never ends, or a redirect
// to a stream of chunks that never ends. Prints the outcome, what the server sent, what the
// cache folder holds afterwards and the process's peak memory, so that update_check_bench.py
// can run it under a memory limit.
// Usage: fennick_update_check {gigabyte|endless|redirect} {update.ini|whatsnew.xml} CACHE_FOLDER
#include "StreamedAnswer.h"
#include "U_updata.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>

namespace {

constexpr qint64 Gigabyte = 1LL << 30;

// Answers the big file with Length bytes made as they are sent (-1: no length announced), or
// redirects it to endless chunks; the other with a version newer than ours.
class TBigAnswerServer {
 public:
  TBigAnswerServer(const QString& BigFile, qint64 Length, bool Redirect)
      : FBigFile(BigFile), FLength(Length), FRedirect(Redirect) {
    FServer.listen(QHostAddress::LocalHost);
    QObject::connect(&FServer, &QTcpServer::newConnection, [this] {
      while (QTcpSocket* socket = FServer.nextPendingConnection())
        QObject::connect(socket, &QTcpSocket::readyRead, socket,
                         [this, socket] { Answer(socket); });
    });
  }
  QString Url() const { return QStringLiteral("http://127.0.0.1:%1").arg(FServer.serverPort()); }
  qint64 Sent = 0;

 private:
  void Answer(QTcpSocket* Socket) {
    const QByteArray request = Socket->readAll();
    if (!request.contains(FBigFile.toLatin1())) {
      Socket->write("HTTP/1.1 200 OK\r\nContent-Length: 25\r\n\r\n[Fennick]\nVersion=99.0\n\n\n");
      Socket->disconnectFromHost();
      return;
    }
    if (FRedirect && !request.startsWith("GET /endless/")) {
      Socket->write("HTTP/1.1 302 Found\r\nLocation: /endless/" + FBigFile.toLatin1() +
                    "\r\nContent-Length: 0\r\n\r\n");
      Socket->disconnectFromHost();
      return;
    }
    StreamAnswer(Socket, FLength, Sent, FRedirect);
  }

  QString FBigFile;
  qint64 FLength;
  bool FRedirect;
  QTcpServer FServer;
};

qint64 FolderBytes(const QString& Folder) {
  qint64 bytes = 0;
  for (QDirIterator it(Folder, QDir::Files | QDir::Hidden); it.hasNext();)
    bytes += QFile(it.next()).size();
  return bytes;
}

// "VmPeak" and "VmHWM" of this process, in KiB.
QByteArray PeakMemory() {
  QFile status(QStringLiteral("/proc/self/status"));
  status.open(QIODevice::ReadOnly);
  QByteArray peaks;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmPeak") || line.startsWith("VmHWM")) peaks += line.simplified() + " ";
  return peaks;
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication application(argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s {gigabyte|endless|redirect} {update.ini|whatsnew.xml} CACHE\n",
                 argv[0]);
    return 2;
  }
  const bool redirect = qstrcmp(argv[1], "redirect") == 0;
  const bool endless = redirect || qstrcmp(argv[1], "endless") == 0;
  const QString cache = QDir(QFile::decodeName(argv[3])).absolutePath() + QLatin1Char('/');
  TBigAnswerServer server(QString::fromLatin1(argv[2]), endless ? -1 : Gigabyte, redirect);
  TNetDownloader downloader;
  TUpdateCheck check(downloader, server.Url(), cache, QStringLiteral("1.0.0.0"));
  QString outcome;
  check.OnResult = [&](TUpdateResult Result) { outcome = UpdateResultText(Result); };
  check.OnStopped = [&](const QString& Reason) { outcome = QStringLiteral("stopped: ") + Reason; };
  check.OnNewVersion = [&](const QString& Version, const QString& WhatsNew) {
    outcome = QStringLiteral("version %1, news: %2").arg(Version, WhatsNew.left(120));
  };
  check.Start();
  while (check.Running()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  std::printf("%s\nserver sent %lld bytes; cache holds %lld bytes; %s\n", qPrintable(outcome),
              server.Sent, FolderBytes(cache), PeakMemory().constData());
  return 0;
}
