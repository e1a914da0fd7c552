// The question whether an existing output file may be replaced, for this file or for all.
#pragma once

#include "SkinForm.h"
#include "U_Converting.h"
#include "U_Replace.h"

class QLabel;
class TSkBmpButton;

class TReplaceFrm : public TSkinForm {
  Q_OBJECT

 public:
  // The dialog's results.
  enum { mrYes = 6, mrNo = 7, mrNoToAll = 9, mrYesToAll = 10, mrCancel = 2 };

  explicit TReplaceFrm(QWidget* Parent = nullptr);
  void SetFileName(const QString& FileName);
  // Escape and the close buttons answer Cancel: a dismissed question never replaces a file.
  void reject() override { done(mrCancel); }

  QLabel* lblFileName;
  TSkBmpButton *btnYes, *btnYesAll, *btnNo, *btnNotAll, *btnCancel;
};

// 0 when the file does not exist; else the user's answer, one of TReplaceFrm's results.
int AskReplaceFile(const QString& FileName);

// The conversion's overwrite question, asked with the dialog above.
class TDialogOverwriteAsker : public IOverwriteAsker {
 public:
  int AskReplaceFile(const QString& FileName) override { return ::AskReplaceFile(FileName); }
};
