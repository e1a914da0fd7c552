// The packaging window: shows which SWF is being made while a worker thread runs the
// packaging step of one finished entry, and closes itself when the worker ends. Its close
// button and Escape cancel the step, once AskCancel agrees: the tool running is stopped. The
// answer holds even when the worker ended while the question was open.
#pragma once

#include "SkinForm.h"
#include "U_CreateSwfThread.h"

#include <QTimer>

#include <atomic>
#include <functional>
#include <thread>

class QLabel;
class TSkProgressBar;

class Tcreateswffrm : public TSkinForm {
  Q_OBJECT

 public:
  // The runner is the worker's; it must outlive the window.
  Tcreateswffrm(TPackagingJob Job, IProcessRunner& Runner, QWidget* Parent = nullptr);
  ~Tcreateswffrm() override;

  // After the window closed: the SWF (and the page, when asked) were written.
  bool Succeeded() const { return FSucceeded; }
  // Why it failed, naming the file that did not land ("name.swf: ...").
  const QString& Error() const { return FError; }
  // The step was cancelled: by the user, maybe only after the worker had ended, or by Cancel.
  bool Cancelled() const { return FCancel; }

  // Asked before the step is cancelled; true: cancel. The default cancels at once.
  std::function<bool()> AskCancel;

  // While the worker runs: cancels the step, as AskCancel allows (the tool is stopped, its
  // half-made output never takes a name, and the window closes when the worker has ended).
  void reject() override;
  // Cancels the step without a question (the program is ending).
  void Cancel();
  // Returns once the worker has ended: an event loop ended from outside (the program ending
  // on a signal) leaves it running, and it is then cancelled and waited for.
  int exec() override;

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
  std::atomic<bool> FCancel{false};
  QString FError;
};
