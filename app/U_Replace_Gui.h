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
  // The files of one entry that the answer stands for.
  void SetFileNames(const QStringList& FileNames);
  // Escape and the close buttons answer Cancel: a dismissed question never replaces a file.
  void reject() override { done(mrCancel); }

  QLabel* lblFileName;
  TSkBmpButton *btnYes, *btnYesAll, *btnNo, *btnNotAll, *btnCancel;
};

// 0 when none of the files exists; else the user's answer for those that do, one of
// TReplaceFrm's results.
int AskReplaceFiles(const QStringList& FileNames);

// The conversion's overwrite question, asked with the dialog above.
class TDialogOverwriteAsker : public IOverwriteAsker {
 public:
  int AskReplaceFiles(const QStringList& FileNames) override {
    return ::AskReplaceFiles(FileNames);
  }
};
