// Stands in for the web browser: records the addresses the program asks to open.
#pragma once

#include <QDesktopServices>
#include <QObject>
#include <QUrl>
#include <QList>

class TUrlCatcher : public QObject {
  Q_OBJECT
 public:
  TUrlCatcher() {
    for (const char* scheme : {"http", "https"})
      QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "Open");
  }
  ~TUrlCatcher() override {
    for (const char* scheme : {"http", "https"})
      QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
  }

  QList<QUrl> Opened;

 public slots:
  void Open(const QUrl& Url) { Opened.append(Url); }
};
