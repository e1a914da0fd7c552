#include "U_AddFile_Gui.h"

#include "PostCall.h"
#include "SkPanel.h"
#include "SkPrgres.h"
#include "SkinForm.h"
#include "U_Config_Gui.h"

#include <QFileInfo>
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
  layout->addWidget(lblFileName);
  layout->addWidget(prgTotal);
  setFixedSize(380, 84);
}

QStringList TAddFilefrm::Execute(QWidget* Parent, const QStringList& Files,
                                 std::function<bool(const TProbedFile&)> Add) {
  if (Files.isEmpty()) return {};
  TAddFilefrm form(Parent);
  form.FFiles = Files;
  form.FAdd = std::move(Add);
  // The probing starts once the window is up, so the user sees it from the first file.
  QTimer::singleShot(1, &form, [&form] { form.Start(); });
  form.exec();
  return form.FFailed;
}

void TAddFilefrm::Start() {
  FitTextToWidth(lblFileName, FFiles.front());
  // Called on the prober's thread: each result is taken on the GUI thread, in order.
  FProber = std::make_unique<TFileProber>(FFiles, [this](int Index, const TProbedFile& File) {
    PostCall(this, [this, Index, File] { Probed(Index, File); });
  });
}

void TAddFilefrm::Probed(int Index, const TProbedFile& File) {
  FitTextToWidth(lblFileName, File.FileName);
  if (!FAdd(File)) FFailed << QFileInfo(File.FileName).fileName();
  prgTotal->SetPercent((Index + 1) * 100 / static_cast<int>(FFiles.size()));
  if (Index + 1 == FFiles.size()) accept();
}

void TAddFilefrm::resizeEvent(QResizeEvent* Event) {
  setMask(RoundRectRegion(size(), 15));
  QDialog::resizeEvent(Event);
}
