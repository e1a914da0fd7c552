// A download server stand-in for the update window: each download ends at once with the
// file's text, or fails when the file is not there, or is stopped as told; a download can
// also be held open.
#pragma once

#include "AppTestSupport.h"
#include "U_updata.h"

#include <QMap>
#include <QUrl>

class TServedFiles : public IDownloader {
 public:
  void Download(const QUrl& Url, const QString& FileName, TProgress OnProgress,
                TDone OnDone) override {
    if (Hold) return;
    if (Stopped.contains(Url.fileName())) return OnDone(deStopped, Stopped.value(Url.fileName()));
    if (!Files.contains(Url.fileName())) return OnDone(deFailed, QStringLiteral("404"));
    WriteTextFile(FileName, Files.value(Url.fileName()));
    OnProgress(1, 1);
    OnDone(deDone, QString());
  }
  void Abort() override { ++Aborts; }

  QMap<QString, QByteArray> Files;
  QMap<QString, QString> Stopped;  // files whose download the downloader stops, and why
  bool Hold = false;
  int Aborts = 0;
};
