// A download server stand-in for the update window: each download ends at once with the
// file's text, or fails when the file is not there; a download can also be held open.
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
    if (!Files.contains(Url.fileName())) return OnDone(false, QStringLiteral("404"));
    WriteTextFile(FileName, Files.value(Url.fileName()));
    OnProgress(1, 1);
    OnDone(true, QString());
  }
  void Abort() override { ++Aborts; }

  QMap<QString, QByteArray> Files;
  bool Hold = false;
  int Aborts = 0;
};
