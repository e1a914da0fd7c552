#include "U_option_Gui.h"

#include "SkBmpBtn.h"
#include "SkBtnEdt.h"
#include "SkCmboBx.h"
#include "SkLabel.h"
#include "SkPanel.h"
#include "U_Config_Gui.h"
#include "U_option.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QShowEvent>

namespace {

TSkLabel* AddLabel(QWidget* Parent, const QString& Caption, QPoint At) {
  auto* label = new TSkLabel(Parent);
  label->SetCaption(Caption);
  label->setGeometry(QRect(At, QSize(50, 18)));
  return label;
}

}  // namespace

Toptionfrm::Toptionfrm(TMainSettings& Settings, QWidget* Parent)
    : TSkinForm(QStringLiteral("Option"), Parent), FSettings(Settings) {
  SetClientSize(QSize(380, 150));
  EnterPressesOk = true;
  grpSnapshot = new TSkGroupBox(Client());
  grpSnapshot->SetCaption(QStringLiteral("Snapshot"));
  grpSnapshot->setGeometry(10, 8, 360, 92);

  lblDir = AddLabel(Client(), QStringLiteral("Dir:"), QPoint(22, 37));
  EdtPath = new TSkButtonEdit(Client());
  EdtPath->setObjectName(QStringLiteral("EdtPath"));
  EdtPath->setGeometry(76, 34, 196, 22);
  EdtPath->AllowKeyEdit = false;
  EdtPath->OnButtonClick = [this] { ChooseFolder(); };
  btnBrowse = AddButton(Client(), "btnBrowse", QStringLiteral("Browse"), QSize(75, 25),
                        [this] { BrowseFolder(EdtPath->text()); });
  btnBrowse->move(282, 32);

  lblFormat = AddLabel(Client(), QStringLiteral("Format:"), QPoint(22, 69));
  CbbFormat = new TSkComboBox(Client());
  CbbFormat->setObjectName(QStringLiteral("CbbFormat"));
  CbbFormat->addItems(SnapshotFormatItems());
  CbbFormat->setGeometry(76, 66, 196, 22);

  OkButton()->move(206, 114);
  CancelButton()->move(291, 114);

  AskFolder = SelectFolder;
  ShowMessage = [this](const QString& Text) {
    QMessageBox::information(this, QCoreApplication::applicationName(), Text);
  };
}

void Toptionfrm::showEvent(QShowEvent* Event) {
  EdtPath->setText(FSettings.Value(TMainSettings::SnapshotPath));
  CbbFormat->setCurrentIndex(SnapshotFormatIndex(FSettings.Value(TMainSettings::SnapshotExt)));
  TSkinForm::showEvent(Event);
  DressButtons({btnBrowse});
  OkButton()->setFocus();
  if (Event->spontaneous()) return;
  // The folder shown is where snapshots go: the user hears now if they cannot, once the
  // window is up.
  if (const QString problem = PrepareSnapshotFolder(EdtPath->text()); !problem.isEmpty())
    QMetaObject::invokeMethod(
        this,
        [this, problem] { ShowMessage(problem + QStringLiteral(". Choose another folder.")); },
        Qt::QueuedConnection);
}

void Toptionfrm::ChooseFolder() {
  const QString folder = AskFolder(QStringLiteral("Select Output Folder"), EdtPath->text());
  if (folder.isEmpty()) return;
  if (const QString refusal = SnapshotFolderRefusal(folder); !refusal.isEmpty()) {
    ShowMessage(refusal);
    return;
  }
  EdtPath->setText(folder);
}

void Toptionfrm::accept() {
  const QString extension = FormatItemExtension(CbbFormat->currentText());
  if (!ApplySnapshotOptions(FSettings, EdtPath->text(), extension))
    ShowMessage(QStringLiteral("The options could not be saved; the log tells why."));
  TSkinForm::accept();
}

bool ShowOptions(QWidget* Parent) {
  Toptionfrm form(MainSettings(), Parent);
  return form.exec() == QDialog::Accepted;
}
