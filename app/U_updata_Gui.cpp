#include "U_updata_Gui.h"

#include "SkBmpBtn.h"
#include "SkEdit.h"
#include "SkLabel.h"
#include "SkPanel.h"
#include "SkPrgres.h"
#include "U_Config.h"
#include "U_updata.h"

TUpdatefrm::TUpdatefrm(std::unique_ptr<IDownloader> Downloader, const QString& Server,
                       const QString& CacheFolder, QWidget* Parent)
    : TSkinForm(QStringLiteral("Update"), Parent), FDownloader(std::move(Downloader)) {
  SetClientSize(QSize(389, 255));
  const auto addLabel = [this](const QString& Caption, const QRect& Where) {
    auto* label = new TSkLabel(Client());
    label->SetCaption(Caption);
    label->setGeometry(Where);
    return label;
  };
  lblUpdateinfo = addLabel(QStringLiteral("Downloading updated information,please walt..."),
                           QRect(16, 16, 357, 18));
  // A download stopped by the program says why, in more words than one line holds.
  lblUpdateinfo->SetWordWrap(true);
  progress = new TSkProgressBar(Client());
  progress->setGeometry(16, 42, 357, 18);
  lbNewinfo = addLabel(QStringLiteral("The latest version is:"), QRect(16, 16, 130, 18));
  lbVersion = addLabel(QString(), QRect(150, 16, 110, 18));
  lblURL = new TSkURLLabel(Client());
  lblURL->SetCaption(QStringLiteral("Download Here"));
  // Room around the text for the focus frame; the text stays where the other labels' line is.
  lblURL->SetTextMargin(2);
  lblURL->setGeometry(278, 14, 97, 22);
  lblURL->URL = Server + QStringLiteral("/download/fnk/");
  mmonew = new TSkMemo(Client());
  mmonew->setReadOnly(true);
  mmonew->SetReadOnlyColor(clWhite);  // a read-only page of text, white as designed
  mmonew->setGeometry(16, 42, 357, 166);
  for (QWidget* hidden : std::initializer_list<QWidget*>{lbNewinfo, lbVersion, lblURL, mmonew})
    hidden->hide();
  CancelButton()->move(298, 220);

  FCheck =
      std::make_unique<TUpdateCheck>(*FDownloader, Server, CacheFolder, GetFileVersionText(true));
  FCheck->OnProgress = [this](int Percent) { progress->SetPercent(Percent); };
  FCheck->OnResult = [this](TUpdateResult Result) { ShowResult(UpdateResultText(Result)); };
  FCheck->OnStopped = [this](const QString& Reason) { ShowResult(Reason); };
  FCheck->OnNewVersion = [this](const QString& Version, const QString& WhatsNew) {
    ShowNewVersion(Version, WhatsNew);
  };
}

TUpdatefrm::~TUpdatefrm() = default;

void TUpdatefrm::showEvent(QShowEvent* Event) {
  TSkinForm::showEvent(Event);
  if (!FCheck->Running()) FCheck->Start();
}

void TUpdatefrm::done(int Result) {
  FCheck->Cancel();
  TSkinForm::done(Result);
}

void TUpdatefrm::ShowResult(const QString& Text) {
  progress->hide();
  lblUpdateinfo->SetCaption(Text);
}

void TUpdatefrm::ShowNewVersion(const QString& Version, const QString& WhatsNew) {
  progress->hide();
  lblUpdateinfo->hide();
  lbVersion->SetCaption(Version);
  mmonew->setPlainText(WhatsNew);
  mmonew->moveCursor(QTextCursor::Start);
  for (QWidget* shown : std::initializer_list<QWidget*>{lbNewinfo, lbVersion, lblURL, mmonew})
    shown->show();
}

void ShowUpdate(QWidget* Parent) {
  TUpdatefrm form(std::make_unique<TNetDownloader>(), UpdateServer(), UpdateCacheFolder(), Parent);
  form.exec();
}
