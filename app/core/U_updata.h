// The check for a newer version on the download server: fetch "update.ini", compare its
// version with ours, and fetch "whatsnew.xml" when the server's is newer. The check runs on
// the caller's thread through the event loop; nothing blocks.
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <thread>

class QEventLoop;

// How a download ended: deFailed for the network or the server (no answer, an error
// status), deStopped when the downloader stopped it itself (an answer larger than it takes,
// an address it does not fetch, a file it cannot write); the error then says why in words
// for the user.
enum TDownloadEnd { deDone, deFailed, deStopped };

// One download at a time into a file. The file appears only when the server answered with
// success and every byte arrived; a failure leaves no file and no earlier one behind.
class IDownloader {
 public:
  using TProgress = std::function<void(int64_t Position, int64_t Maximum)>;
  using TDone = std::function<void(TDownloadEnd End, const QString& Error)>;

  virtual ~IDownloader() = default;
  virtual void Download(const QUrl& Url, const QString& FileName, TProgress OnProgress,
                        TDone OnDone) = 0;
  // Stops the download under way; its Done is never called.
  virtual void Abort() = 0;
};

// Fetches http and https addresses only (never a local file), following redirects to such
// addresses. An answer larger than MaxBytes, a redirected one too, is stopped as soon as its
// size is announced or reached, and so is one whose bytes cannot be written: neither memory
// nor disk ever holds more than MaxBytes of it. The transfer runs on a thread of its own, so
// that what the caller's thread is doing never leaves the network's bytes unread in memory;
// the progress and the end are told on the caller's thread. Where that thread cannot start
// (no thread or no memory left), every download stops at once and says why.
class TNetDownloader final : public QObject, public IDownloader {
 public:
  // Far more than the update check's two small files.
  static constexpr int64_t DefaultMaxBytes = 256 * 1024;

  // A transfer that receives nothing for TimeoutMs fails.
  explicit TNetDownloader(int TimeoutMs = 30000, int64_t MaxBytes = DefaultMaxBytes,
                          QObject* Parent = nullptr);
  ~TNetDownloader() override;

  void Download(const QUrl& Url, const QString& FileName, TProgress OnProgress,
                TDone OnDone) override;
  void Abort() override;

 private:
  // Runs Step on the transfer's thread and returns once it has run; nothing without that thread.
  void OnTransferThread(const std::function<void()>& Step);
  // Transfer thread: makes the queue and the transfer there, runs their event loop until the
  // downloader goes, and frees them there.
  void RunTransferThread(int TimeoutMs, int64_t MaxBytes, std::promise<void>& Ready);

  std::thread FThread;
  // Why the transfer thread could not start.
  QString FStartError;
  // Live on FThread, set before it is ready: the calls to the transfer go through FCalls.
  QEventLoop* FLoop = nullptr;
  class TCallQueue* FCalls = nullptr;
  class TNetTransfer* FTransfer = nullptr;
  // Counts the downloads begun: what an aborted one still tells is dropped.
  uint64_t FGeneration = 0;
};

enum TUpdateResult { urLatest = 0, urOlder = 1, urFailed = 2 };

// The text the update window shows for a result.
QString UpdateResultText(TUpdateResult Result);
// round(Position x 100 / Maximum); nothing when either is 0 (the size is not known yet).
std::optional<int> ProgressPercent(int64_t Position, int64_t Maximum);
// The server named by "URL.cfg" (key "UpdateServer"), or our own.
QString UpdateServer();
// Where the downloaded files go: the user's cache, since the program folder may be read-only.
QString UpdateCacheFolder();

class TUpdateCheck {
 public:
  TUpdateCheck(IDownloader& Downloader, const QString& Server, const QString& CacheFolder,
               const QString& OwnVersion);
  ~TUpdateCheck();

  void Start();
  // Stops the check; no event fires afterwards.
  void Cancel();
  bool Running() const { return FRunning; }

  std::function<void(int Percent)> OnProgress;
  // The check ended without a newer version.
  std::function<void(TUpdateResult Result)> OnResult;
  // The downloader stopped the check; Reason says why.
  std::function<void(const QString& Reason)> OnStopped;
  // A newer version; WhatsNew stays empty when its text could not be fetched, and says why
  // when the downloader stopped its download.
  std::function<void(const QString& Version, const QString& WhatsNew)> OnNewVersion;

 private:
  using TArrived = std::function<void(TDownloadEnd Ended, const QString& Error)>;
  void Fetch(const QString& Name, TArrived Then);
  void VersionArrived(TDownloadEnd Ended, const QString& Error);
  void End();

  IDownloader& FDownloader;
  QString FServer, FCacheFolder, FOwnVersion, FPublished;
  bool FRunning = false;
};
