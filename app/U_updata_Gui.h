// The update window: checks the download server for a newer version while it is open.
#pragma once

#include "SkinForm.h"
#include "U_updata.h"

#include <memory>

class TSkLabel;
class TSkMemo;
class TSkProgressBar;
class TSkURLLabel;

class TUpdatefrm : public TSkinForm {
  Q_OBJECT

 public:
  // The window owns the downloader; closing it aborts the download under way.
  TUpdatefrm(std::unique_ptr<IDownloader> Downloader, const QString& Server,
             const QString& CacheFolder, QWidget* Parent = nullptr);
  ~TUpdatefrm() override;

  TSkLabel* lblUpdateinfo;
  TSkProgressBar* progress;
  TSkLabel* lbNewinfo;
  TSkLabel* lbVersion;
  TSkURLLabel* lblURL;
  TSkMemo* mmonew;

  const TUpdateCheck& Check() const { return *FCheck; }

 protected:
  void showEvent(QShowEvent* Event) override;
  void done(int Result) override;

 private:
  void ShowResult(const QString& Text);
  void ShowNewVersion(const QString& Version, const QString& WhatsNew);

  std::unique_ptr<IDownloader> FDownloader;
  std::unique_ptr<TUpdateCheck> FCheck;
};

// The update window over the main window, checking the server named in "URL.cfg".
void ShowUpdate(QWidget* Parent);
