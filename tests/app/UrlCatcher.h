// Stands in for the web browser and the desktop: records the addresses the program asks to
// open, local files and programs' addresses too.
#pragma once

#include <QDesktopServices>
#include <QObject>
#include <QUrl>
#include <QList>

class TUrlCatcher : public QObject {
  Q_OBJECT
 public:
  TUrlCatcher() {
    for (const char* scheme : Schemes)
      QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "Open");
  }
  ~TUrlCatcher() override {
    for (const char* scheme : Schemes)
      QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
  }

  QList<QUrl> Opened;

 public slots:
  void Open(const QUrl& Url) { Opened.append(Url); }

 private:
  static constexpr const char* Schemes[] = {"http", "https", "mailto", "file", "javascript"};
};
