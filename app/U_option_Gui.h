// The options window: the folder and picture format of the preview player's snapshots.
#pragma once

#include "SkinForm.h"

#include <functional>

class TMainSettings;
class TSkButtonEdit;
class TSkComboBox;
class TSkGroupBox;
class TSkLabel;

class Toptionfrm : public TSkinForm {
  Q_OBJECT

 public:
  explicit Toptionfrm(TMainSettings& Settings, QWidget* Parent = nullptr);

  TSkGroupBox* grpSnapshot;
  TSkLabel* lblDir;
  TSkButtonEdit* EdtPath;
  TSkLabel* lblFormat;
  TSkComboBox* CbbFormat;
  TSkBmpButton* btnBrowse;

  // The folder dialog and the message box; tests answer them.
  std::function<QString(const QString& Caption, const QString& StartFolder)> AskFolder;
  std::function<void(const QString& Text)> ShowMessage;

  // The edit's button: asks for a folder and takes it unless it is refused.
  void ChooseFolder();
  // Stores what changed and closes.
  void accept() override;

 protected:
  void showEvent(QShowEvent* Event) override;

 private:
  TMainSettings& FSettings;
};

// The options window over the main window; true when OK stored the choices.
bool ShowOptions(QWidget* Parent);
