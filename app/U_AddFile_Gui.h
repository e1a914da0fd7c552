// The small window that shows the files being added, one after another, with a bar. Cancel
// (or Escape) closes it at once: the file being opened is given up on the prober's thread.
#pragma once

#include "U_AddFile.h"

#include <QDialog>

#include <functional>
#include <memory>

class QLabel;
class TSkBmpButton;
class TSkProgressBar;

struct TAddFilesResult {
  QStringList Failed;  // FailedFileLine of each file that could not be added
  int NotAdded = 0;    // files never tried, the adding having been cancelled
};

class TAddFilefrm : public QDialog {
  Q_OBJECT

 public:
  // GUI thread. Adds each file that opens through Add (which says whether it took the file).
  static TAddFilesResult Execute(QWidget* Parent, const QStringList& Files,
                                 std::function<bool(const TProbedFile&)> Add,
                                 TFileProber::TProbe Probe = ProbeMediaFile);

  QLabel* lblFileName;
  TSkProgressBar* prgTotal;
  TSkBmpButton* btnCancel;

 protected:
  void resizeEvent(QResizeEvent* Event) override;

 private:
  explicit TAddFilefrm(QWidget* Parent);
  void Start(TFileProber::TProbe Probe);
  void Probed(int Index, const TProbedFile& File);

  QStringList FFiles;
  QStringList FFailed;
  int FTried = 0;
  std::function<bool(const TProbedFile&)> FAdd;
  std::unique_ptr<TFileProber> FProber;
};
