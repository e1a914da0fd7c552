#include "U_Replace_Gui.h"

#include "SkBmpBtn.h"
#include "SkPanel.h"
#include "uLoadUI.h"

#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

TReplaceFrm::TReplaceFrm(QWidget* Parent) : TSkinForm(QStringLiteral("Information"), Parent) {
  lblFileName = new QLabel(QStringLiteral("Do you want to replace the existing file"), Client());
  lblFileName->setObjectName(QStringLiteral("lblFileName"));
  lblFileName->setFixedWidth(392);
  const auto button = [this](const char* Name, const char* Caption, int Result) {
    auto* b = new TSkBmpButton(Client());
    b->setObjectName(QLatin1String(Name));
    b->SetCaption(QLatin1String(Caption));
    b->setFixedSize(72, 24);
    b->ModalResult = Result;
    return b;
  };
  btnYes = button("btnYes", "Yes", mrYes);
  btnYesAll = button("btnYesAll", "Yes to all", mrYesToAll);
  btnNo = button("btnNo", "No", mrNo);
  btnNotAll = button("btnNotAll", "No to all", mrNoToAll);
  btnCancel = button("btnCancel", "Cancel", mrCancel);
  auto* buttons = new QHBoxLayout;
  for (TSkBmpButton* b : {btnYes, btnYesAll, btnNo, btnNotAll, btnCancel}) {
    LoadSkinButton(b);
    buttons->addWidget(b);
  }
  auto* layout = new QVBoxLayout(Client());
  layout->setContentsMargins(14, 14, 14, 12);
  layout->addWidget(lblFileName);
  layout->addStretch();
  layout->addLayout(buttons);
  SetClientSize(QSize(420, 110));
}

void TReplaceFrm::SetFileNames(const QStringList& FileNames) {
  const QFontMetrics metrics = lblFileName->fontMetrics();
  lblFileName->setText(ReplaceCaption(FileNames, lblFileName->width(), [&](const QString& Line) {
    return metrics.horizontalAdvance(Line);
  }));
}

int AskReplaceFiles(const QStringList& FileNames) {
  QStringList existing;
  for (const QString& file : FileNames)
    if (QFileInfo::exists(file)) existing << file;
  if (existing.isEmpty()) return 0;
  QApplication::beep();
  TReplaceFrm form(QApplication::activeWindow());
  form.SetFileNames(existing);
  return form.exec();
}
