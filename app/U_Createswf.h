// The packaging window: shows which SWF is being made while a worker thread runs the
// packaging step of one finished entry, and closes itself when the worker ends.
#pragma once

#include "SkinForm.h"
#include "U_CreateSwfThread.h"

#include <QTimer>

#include <thread>

class QLabel;
class TSkProgressBar;

class Tcreateswffrm : public TSkinForm {
  Q_OBJECT

 public:
  // The runner is the worker's; it must outlive the window.
  Tcreateswffrm(const TFileOption& Entry, IProcessRunner& Runner, QWidget* Parent = nullptr);
  ~Tcreateswffrm() override;

  // After the window closed: the SWF (and the page, when asked) were written.
  bool Succeeded() const { return FSucceeded; }
  // Why it failed.
  const QString& Error() const { return FError; }

  // Refused while the worker runs: a tool stopped halfway would leave its output half-made,
  // and the window closes by itself when the worker ends.
  void reject() override;

  QLabel* lblFileName;
  TSkProgressBar* prgTotal;
  QTimer tmrOpen;

 protected:
  void showEvent(QShowEvent* Event) override;

 private:
  // GUI thread, queued by the worker as its last step: joins it, so that everything the worker
  // wrote is seen here.
  void WorkerDone();

  TPackagingJob FJob;
  IProcessRunner& FRunner;
  std::thread FWorker;
  bool FStarted = false;
  bool FSucceeded = false;
  QString FError;
};
