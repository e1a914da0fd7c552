// The packaging window: shows which SWF is being made while a worker thread runs the
// packaging step of one finished entry, and closes itself when the worker ends.
#pragma once

#include "SkinForm.h"
#include "U_CreateSwfThread.h"

#include <QThread>
#include <QTimer>

#include <memory>

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

  QLabel* lblFileName;
  TSkProgressBar* prgTotal;
  QTimer tmrOpen;

 protected:
  void showEvent(QShowEvent* Event) override;

 private:
  void WorkerDone();

  TPackagingJob FJob;
  IProcessRunner& FRunner;
  std::unique_ptr<QThread> FWorker;
  bool FSucceeded = false;
};
