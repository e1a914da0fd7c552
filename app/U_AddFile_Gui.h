// The small window that shows the files being added, one after another, with a bar.
#pragma once

#include "U_AddFile.h"

#include <QDialog>

#include <functional>
#include <memory>

class QLabel;
class TSkProgressBar;

class TAddFilefrm : public QDialog {
  Q_OBJECT

 public:
  // GUI thread. Adds each file that opens through Add (which says whether it took the file);
  // the names (without folder) of those that did not come back.
  static QStringList Execute(QWidget* Parent, const QStringList& Files,
                             std::function<bool(const TProbedFile&)> Add);

  QLabel* lblFileName;
  TSkProgressBar* prgTotal;

 protected:
  void resizeEvent(QResizeEvent* Event) override;

 private:
  explicit TAddFilefrm(QWidget* Parent);
  void Start();
  void Probed(int Index, const TProbedFile& File);

  QStringList FFiles;
  QStringList FFailed;
  std::function<bool(const TProbedFile&)> FAdd;
  std::unique_ptr<TFileProber> FProber;
};
