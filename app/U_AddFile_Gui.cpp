#include "U_AddFile_Gui.h"

#include "PostCall.h"
#include "SkBmpBtn.h"
#include "SkPanel.h"
#include "SkPrgres.h"
#include "SkinForm.h"
#include "U_Config_Gui.h"

#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

TAddFilefrm::TAddFilefrm(QWidget* Parent) : QDialog(Parent, Qt::Dialog | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("AddFilefrm"));
  auto* panel = new TSkPanel(this);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(panel);
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(16, 14, 16, 16);
  lblFileName = new QLabel(panel);
  lblFileName->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  prgTotal = new TSkProgressBar(panel);
  prgTotal->setFixedHeight(16);
  btnCancel = new TSkBmpButton(panel);
  btnCancel->setObjectName(QStringLiteral("btncancel"));
  btnCancel->SetCaption(QStringLiteral("Cancel"));
  btnCancel->SetButtonBorder(bbButton);
  btnCancel->setFixedSize(75, 23);
  btnCancel->OnClick = [this] { reject(); };
  layout->addWidget(lblFileName);
  layout->addWidget(prgTotal);
  layout->addWidget(btnCancel, 0, Qt::AlignRight);
  setFixedSize(380, 116);
}

TAddFilesResult TAddFilefrm::Execute(QWidget* Parent, const QStringList& Files,
                                     std::function<bool(const TProbedFile&)> Add,
                                     TFileProber::TProbe Probe) {
  if (Files.isEmpty()) return {};
  TAddFilefrm form(Parent);
  form.FFiles = Files;
  form.FAdd = std::move(Add);
  // The probing starts once the window is up, so the user sees it from the first file.
  QTimer::singleShot(1, &form, [&form, &Probe] { form.Start(std::move(Probe)); });
  form.exec();
  // Results still on their way are dropped with the window.
  return {form.FFailed, static_cast<int>(Files.size()) - form.FTried};
}

void TAddFilefrm::Start(TFileProber::TProbe Probe) {
  FitTextToWidth(lblFileName, FFiles.front());
  // Called on the prober's thread: each result is taken on the GUI thread, in order.
  FProber = std::make_unique<TFileProber>(
      FFiles,
      [this](int Index, const TProbedFile& File) {
        PostCall(this, [this, Index, File] { Probed(Index, File); });
      },
      std::move(Probe));
}

void TAddFilefrm::Probed(int Index, const TProbedFile& File) {
  FitTextToWidth(lblFileName, File.FileName);
  ++FTried;
  if (!FAdd(File)) FFailed << FailedFileLine(File);
  prgTotal->SetPercent((Index + 1) * 100 / static_cast<int>(FFiles.size()));
  if (Index + 1 == FFiles.size()) accept();
}

void TAddFilefrm::resizeEvent(QResizeEvent* Event) {
  setMask(RoundRectRegion(size(), 15));
  QDialog::resizeEvent(Event);
}
