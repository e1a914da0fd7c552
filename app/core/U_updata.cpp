#include "U_updata.h"

#include "PostCall.h"
#include "U_Config.h"
#include "VelLog.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>
#include <QStandardPaths>

#include <cmath>
#include <future>
#include <system_error>
#include <utility>

namespace {

bool IsWebAddress(const QUrl& Url) {
  const QString scheme = Url.scheme().toLower();
  return Url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

constexpr int MaxRedirects = 10;

bool IsRedirect(int Status) {
  return Status == 301 || Status == 302 || Status == 303 || Status == 307 || Status == 308;
}

QString NotFetched(const QUrl& Url) {
  return QStringLiteral("Only http and https addresses are downloaded, not \"%1\".")
      .arg(Url.toString());
}

// Why the Hops-th redirect is not followed, or nothing. As Qt's own default: a few hops, web
// addresses only, never from https down to http.
QString RedirectRefusal(const QUrl& From, const QUrl& To, int Hops) {
  if (Hops > MaxRedirects)
    return QStringLiteral("%1 redirects more than %2 times.")
        .arg(From.toString())
        .arg(MaxRedirects);
  if (!IsWebAddress(To)) return NotFetched(To);
  if (From.scheme() == QLatin1String("https") && To.scheme() != From.scheme())
    return QStringLiteral("%1 redirects to the less safe %2.").arg(From.toString(), To.toString());
  return {};
}

QString CannotSave(const QSaveFile& File) {
  return QStringLiteral("Cannot save %1: %2").arg(File.fileName(), File.errorString());
}

}  // namespace

// One download at a time, on the thread it lives in; its callbacks run there.
class TNetTransfer : public QObject {
 public:
  TNetTransfer(int TimeoutMs, int64_t MaxBytes)
      : FManager(new QNetworkAccessManager(this)), FTimeoutMs(TimeoutMs), FMaxBytes(MaxBytes) {}
  ~TNetTransfer() override { Abort(); }

  void Download(const QUrl& Url, const QString& FileName, IDownloader::TProgress OnProgress,
                IDownloader::TDone OnDone);
  void Abort();

 private:
  void Get(const QUrl& Url);
  // The HTTP status of the answer under way.
  int Status() const;
  void CheckAnnouncedSize();
  void Receive();
  void Finish();
  void FollowRedirect();
  void Stop(const QString& Reason);

  QNetworkAccessManager* FManager;
  QNetworkReply* FReply = nullptr;
  std::unique_ptr<QSaveFile> FFile;
  IDownloader::TDone FDone;
  IDownloader::TProgress FProgress;
  int FRedirects = 0;
  int FTimeoutMs;
  int64_t FMaxBytes;
  int64_t FReceived = 0;
};

TNetDownloader::TNetDownloader(int TimeoutMs, int64_t MaxBytes, QObject* Parent) : QObject(Parent) {
  std::promise<void> ready;
  try {
    FThread = std::thread(
        [this, TimeoutMs, MaxBytes, &ready] { RunTransferThread(TimeoutMs, MaxBytes, ready); });
  } catch (const std::system_error& e) {
    FStartError = QStringLiteral("Cannot start the update check's thread: ") +
                  QString::fromLocal8Bit(e.what());
    return;
  }
  ready.get_future().wait();
}

void TNetDownloader::RunTransferThread(int TimeoutMs, int64_t MaxBytes, std::promise<void>& Ready) {
  QEventLoop loop;
  TCallQueue calls;
  TNetTransfer transfer(TimeoutMs, MaxBytes);
  FLoop = &loop;
  FCalls = &calls;
  FTransfer = &transfer;
  Ready.set_value();
  loop.exec();
}

// The loop ends once the call that ends it has returned; the transfer and the queue then go on
// their own thread, where they live and were last used.
TNetDownloader::~TNetDownloader() {
  OnTransferThread([this] { FLoop->quit(); });
  if (FThread.joinable()) FThread.join();
}

void TNetDownloader::OnTransferThread(const std::function<void()>& Step) {
  if (!FThread.joinable()) return;
  std::promise<void> done;
  FCalls->Post(FCalls, [&] {
    Step();
    done.set_value();
  });
  done.get_future().wait();
}

void TNetDownloader::Download(const QUrl& Url, const QString& FileName, TProgress OnProgress,
                              TDone OnDone) {
  Abort();
  const QString refusal = !IsWebAddress(Url) ? NotFetched(Url) : FStartError;
  if (!refusal.isEmpty()) {
    QFile::remove(FileName);
    return OnDone(deStopped, refusal);
  }
  const uint64_t generation = FGeneration;
  // Told here, unless the download was aborted or another begun since.
  const auto here = [this, generation](std::function<void()> Tell) {
    PostCall(this, [this, generation, Tell = std::move(Tell)] {
      if (generation == FGeneration) Tell();
    });
  };
  IDownloader::TProgress progress;
  if (OnProgress)
    progress = [here, OnProgress](int64_t Position, int64_t Maximum) {
      here([OnProgress, Position, Maximum] { OnProgress(Position, Maximum); });
    };
  IDownloader::TDone done = [here, OnDone](TDownloadEnd End, const QString& Error) {
    here([OnDone, End, Error] { OnDone(End, Error); });
  };
  OnTransferThread([&] { FTransfer->Download(Url, FileName, progress, done); });
}

void TNetDownloader::Abort() {
  ++FGeneration;
  OnTransferThread([this] { FTransfer->Abort(); });
}

void TNetTransfer::Download(const QUrl& Url, const QString& FileName,
                            IDownloader::TProgress OnProgress, IDownloader::TDone OnDone) {
  QFile::remove(FileName);
  auto file = std::make_unique<QSaveFile>(FileName);
  // Unbuffered: a write that fails says so at once, not at some later flush.
  if (!file->open(QIODevice::WriteOnly | QIODevice::Unbuffered))
    return OnDone(deStopped, CannotSave(*file));
  FFile = std::move(file);
  FDone = std::move(OnDone);
  FProgress = std::move(OnProgress);
  FRedirects = 0;
  Get(Url);
}

void TNetTransfer::Get(const QUrl& Url) {
  FReceived = 0;
  QNetworkRequest request(Url);
  request.setTransferTimeout(FTimeoutMs);
  // Redirects are followed here, not by Qt: the request Qt makes for a redirect does not keep
  // the read-buffer limit below, and an endless answer there would fill the memory.
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::ManualRedirectPolicy);
  FReply = FManager->get(request);
  // What has not been read yet waits in the socket, not in memory.
  FReply->setReadBufferSize(64 * 1024);
  connect(FReply, &QNetworkReply::metaDataChanged, this, &TNetTransfer::CheckAnnouncedSize);
  connect(FReply, &QNetworkReply::readyRead, this, &TNetTransfer::Receive);
  // An error page's bytes are no progress of the file.
  connect(FReply, &QNetworkReply::downloadProgress, this, [this](qint64 Position, qint64 Maximum) {
    if (FProgress && Status() == 200) FProgress(Position, Maximum);
  });
  connect(FReply, &QNetworkReply::finished, this, &TNetTransfer::Finish);
}

int TNetTransfer::Status() const {
  return FReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

void TNetTransfer::CheckAnnouncedSize() {
  const QVariant length = FReply->header(QNetworkRequest::ContentLengthHeader);
  if (length.isValid() && length.toLongLong() > FMaxBytes) Stop(QString());
}

void TNetTransfer::Receive() {
  const QByteArray bytes = FReply->readAll();
  FReceived += bytes.size();
  if (FReceived > FMaxBytes) return Stop(QString());
  // An error page or a redirect's text is none of the file's bytes.
  if (Status() != 200) return;
  if (FFile->write(bytes) != bytes.size()) Stop(CannotSave(*FFile));
}

// Too large, unless another reason is given.
void TNetTransfer::Stop(const QString& Reason) {
  const QString url = FReply->url().toString();
  IDownloader::TDone done = std::exchange(FDone, nullptr);
  Abort();
  done(deStopped, !Reason.isEmpty() ? Reason
                                    : QStringLiteral("The answer from %1 is larger than %2 KB: "
                                                     "the download was stopped.")
                                          .arg(url)
                                          .arg(FMaxBytes / 1024));
}

void TNetTransfer::Finish() {
  if (FReply->bytesAvailable() > 0) Receive();
  if (!FReply) return;  // stopped by the last bytes
  const int status = Status();
  if (FReply->error() == QNetworkReply::NoError && IsRedirect(status)) return FollowRedirect();
  QNetworkReply* reply = std::exchange(FReply, nullptr);
  reply->deleteLater();
  TDownloadEnd end = deFailed;
  QString error;
  if (reply->error() != QNetworkReply::NoError)
    error = reply->errorString();
  else if (status != 200)
    error = QStringLiteral("HTTP status %1").arg(status);
  else if (FFile->commit())
    end = deDone;
  else
    std::tie(end, error) = std::pair(deStopped, CannotSave(*FFile));
  if (end != deDone && FFile->isOpen()) FFile->cancelWriting();
  FFile.reset();
  std::exchange(FDone, nullptr)(end, error);
}

void TNetTransfer::FollowRedirect() {
  QNetworkReply* reply = std::exchange(FReply, nullptr);
  reply->deleteLater();
  const QUrl from = reply->url();
  const QUrl to =
      from.resolved(reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl());
  const QString refusal = RedirectRefusal(from, to, ++FRedirects);
  if (refusal.isEmpty()) return Get(to);
  FFile->cancelWriting();
  FFile.reset();
  std::exchange(FDone, nullptr)(deStopped, refusal);
}

void TNetTransfer::Abort() {
  if (!FReply) return;
  QNetworkReply* reply = std::exchange(FReply, nullptr);
  reply->disconnect(this);
  reply->abort();
  reply->deleteLater();
  FFile->cancelWriting();
  FFile.reset();
  FDone = nullptr;
}

QString UpdateResultText(TUpdateResult Result) {
  switch (Result) {
    case urLatest:
      return QStringLiteral("Your software is already the latest version.");
    case urOlder:
      return QStringLiteral("The software version is wrong,please contact us!");
    case urFailed:
      break;
  }
  return QStringLiteral("Download failed,Please check if the network is connected.");
}

std::optional<int> ProgressPercent(int64_t Position, int64_t Maximum) {
  if (Position <= 0 || Maximum <= 0) return std::nullopt;
  return static_cast<int>(std::lround(static_cast<double>(Position) * 100.0 / Maximum));
}

QString UpdateServer() {
  return ReadUrlConfig(QStringLiteral("UpdateServer"),
                       QStringLiteral("https://download.velmora.example"));
}

QString UpdateCacheFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
         QStringLiteral("/update/");
}

TUpdateCheck::TUpdateCheck(IDownloader& Downloader, const QString& Server,
                           const QString& CacheFolder, const QString& OwnVersion)
    : FDownloader(Downloader),
      FServer(Server),
      FCacheFolder(CacheFolder),
      FOwnVersion(OwnVersion) {}

TUpdateCheck::~TUpdateCheck() { Cancel(); }

void TUpdateCheck::Start() {
  FRunning = true;
  if (!QDir().mkpath(FCacheFolder)) {
    VelLog.WriteError(QStringLiteral("Cannot make the folder ") + FCacheFolder);
    End();
    if (OnResult) OnResult(urFailed);
    return;
  }
  Fetch(QStringLiteral("update.ini"),
        [this](TDownloadEnd Ended, const QString& Error) { VersionArrived(Ended, Error); });
}

void TUpdateCheck::Cancel() {
  if (!FRunning) return;
  FDownloader.Abort();
  End();
}

void TUpdateCheck::End() { FRunning = false; }

void TUpdateCheck::Fetch(const QString& Name, TArrived Then) {
  const QUrl url(FServer + QStringLiteral("/download/fnk/") + Name);
  FDownloader.Download(
      url, FCacheFolder + Name,
      [this](int64_t Position, int64_t Maximum) {
        if (const auto percent = ProgressPercent(Position, Maximum); percent && OnProgress)
          OnProgress(*percent);
      },
      [url, Then = std::move(Then)](TDownloadEnd Ended, const QString& Error) {
        if (Ended != deDone) VelLog.WriteError(url.toString() + QStringLiteral(": ") + Error);
        Then(Ended, Error);
      });
}

void TUpdateCheck::VersionArrived(TDownloadEnd Ended, const QString& Error) {
  if (Ended != deDone) {
    End();
    if (Ended == deStopped && OnStopped) OnStopped(Error);
    if (Ended == deFailed && OnResult) OnResult(urFailed);
    return;
  }
  FPublished = ReadIniValue(FCacheFolder + QStringLiteral("update.ini"), QStringLiteral("Fennick"),
                            QStringLiteral("Version"), QString());
  const int order = CompareVersion(FOwnVersion, FPublished);
  if (order != 2) {
    End();
    if (OnResult) OnResult(order == 0 ? urLatest : urOlder);
    return;
  }
  Fetch(QStringLiteral("whatsnew.xml"), [this](TDownloadEnd Ended, const QString& Error) {
    QString text = Ended == deStopped ? Error : QString();
    if (Ended == deDone) {
      QFile file(FCacheFolder + QStringLiteral("whatsnew.xml"));
      if (file.open(QIODevice::ReadOnly)) text = QString::fromUtf8(file.readAll());
    }
    End();
    if (OnNewVersion) OnNewVersion(FPublished, text);
  });
}
