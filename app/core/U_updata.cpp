#include "U_updata.h"

#include "U_Config.h"
#include "VelLog.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>
#include <QStandardPaths>

#include <cmath>
#include <utility>

TNetDownloader::TNetDownloader(int TimeoutMs, QObject* Parent)
    : QObject(Parent), FManager(new QNetworkAccessManager(this)), FTimeoutMs(TimeoutMs) {}

TNetDownloader::~TNetDownloader() { Abort(); }

void TNetDownloader::Download(const QUrl& Url, const QString& FileName, TProgress OnProgress,
                              TDone OnDone) {
  Abort();
  FDone = std::move(OnDone);
  QFile::remove(FileName);
  FFile = std::make_unique<QSaveFile>(FileName);
  if (!FFile->open(QIODevice::WriteOnly)) {
    const QString error = FFile->errorString();
    FFile.reset();
    std::exchange(FDone, nullptr)(false, error);
    return;
  }
  QNetworkRequest request(Url);
  request.setTransferTimeout(FTimeoutMs);
  FReply = FManager->get(request);
  connect(FReply, &QNetworkReply::readyRead, this, [this] { FFile->write(FReply->readAll()); });
  // An error page's bytes are no progress of the file.
  connect(FReply, &QNetworkReply::downloadProgress, this,
          [this, OnProgress](qint64 Position, qint64 Maximum) {
            const int status = FReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            if (OnProgress && status == 200) OnProgress(Position, Maximum);
          });
  connect(FReply, &QNetworkReply::finished, this, &TNetDownloader::Finish);
}

void TNetDownloader::Finish() {
  QNetworkReply* reply = std::exchange(FReply, nullptr);
  reply->deleteLater();
  const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  QString error;
  if (reply->error() != QNetworkReply::NoError)
    error = reply->errorString();
  else if (status != 200)
    error = QStringLiteral("HTTP status %1").arg(status);
  else {
    FFile->write(reply->readAll());
    if (!FFile->commit()) error = FFile->errorString();
  }
  if (!error.isEmpty() && FFile->isOpen()) FFile->cancelWriting();
  FFile.reset();
  std::exchange(FDone, nullptr)(error.isEmpty(), error);
}

void TNetDownloader::Abort() {
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
  Fetch(QStringLiteral("update.ini"), [this](bool Ok) { VersionArrived(Ok); });
}

void TUpdateCheck::Cancel() {
  if (!FRunning) return;
  FDownloader.Abort();
  End();
}

void TUpdateCheck::End() { FRunning = false; }

void TUpdateCheck::Fetch(const QString& Name, std::function<void(bool Ok)> Then) {
  const QUrl url(FServer + QStringLiteral("/download/fnk/") + Name);
  FDownloader.Download(
      url, FCacheFolder + Name,
      [this](int64_t Position, int64_t Maximum) {
        if (const auto percent = ProgressPercent(Position, Maximum); percent && OnProgress)
          OnProgress(*percent);
      },
      [url, Then = std::move(Then)](bool Ok, const QString& Error) {
        if (!Ok) VelLog.WriteError(url.toString() + QStringLiteral(": ") + Error);
        Then(Ok);
      });
}

void TUpdateCheck::VersionArrived(bool Ok) {
  if (!Ok) {
    End();
    if (OnResult) OnResult(urFailed);
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
  Fetch(QStringLiteral("whatsnew.xml"), [this](bool Ok) {
    QString text;
    if (Ok) {
      QFile file(FCacheFolder + QStringLiteral("whatsnew.xml"));
      if (file.open(QIODevice::ReadOnly)) text = QString::fromUtf8(file.readAll());
    }
    End();
    if (OnNewVersion) OnNewVersion(FPublished, text);
  });
}
