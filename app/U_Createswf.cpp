#include "U_Createswf.h"

#include "PostCall.h"
#include "SkBmpBtn.h"
#include "SkPanel.h"
#include "SkPrgres.h"
#include "U_Config_Gui.h"
#include "VelLog.h"

#include <QLabel>

Tcreateswffrm::Tcreateswffrm(TPackagingJob Job, IProcessRunner& Runner, QWidget* Parent)
    : TSkinForm(QStringLiteral("Loading progress"), Parent),
      AskCancel([] { return true; }),
      FJob(std::move(Job)),
      FRunner(Runner) {
  setObjectName(QStringLiteral("createswffrm"));
  EnterText = QStringLiteral("Enter CreateSWFFrm!");
  LeaveText = QStringLiteral("Leave CreateSWFFrm!");
  SetClientSize(QSize(360, 110));
  auto* title = new QLabel(QStringLiteral("Loading Progress"), Client());
  title->setGeometry(16, 10, 328, 18);
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  auto* adding = new QLabel(QStringLiteral("Adding Files:"), Client());
  adding->setGeometry(16, 36, 80, 18);
  lblFileName = new QLabel(Client());
  lblFileName->setGeometry(100, 36, 244, 18);
  prgTotal = new TSkProgressBar(Client());
  prgTotal->setGeometry(16, 66, 328, 20);
  tmrOpen.setInterval(100);
  connect(&tmrOpen, &QTimer::timeout, this, [this] {
    prgTotal->SetPercent(prgTotal->Percent() + 5 > 100 ? 0 : prgTotal->Percent() + 5);
  });
}

Tcreateswffrm::~Tcreateswffrm() {
  if (FWorker.joinable()) FWorker.join();
}

void Tcreateswffrm::showEvent(QShowEvent* Event) {
  TSkinForm::showEvent(Event);
  if (FStarted) return;
  FStarted = true;
  tmrOpen.start();
  FitTextToWidth(lblFileName, FJob.Name + QStringLiteral(".swf"));
  VelLog.WriteInfo(QStringLiteral("Create: ") + FJob.Name + QStringLiteral(".swf"));
  FWorker = std::thread([this] {
    FSucceeded = RunPackaging(FJob, FRunner, &FError, &FCancel);
    PostCall(this, [this] { WorkerDone(); });
  });
}

void Tcreateswffrm::reject() {
  if (!FWorker.joinable()) return TSkinForm::reject();
  if (!FCancel && AskCancel()) Cancel();
}

void Tcreateswffrm::Cancel() {
  if (FCancel.exchange(true)) return;
  VelLog.WriteInfo(QStringLiteral("Cancel: ") + FJob.Name + QStringLiteral(".swf"));
}

int Tcreateswffrm::exec() {
  const int result = TSkinForm::exec();
  if (!FWorker.joinable()) return result;
  Cancel();
  FWorker.join();
  return Rejected;
}

void Tcreateswffrm::WorkerDone() {
  // Already joined where an event loop ended before the worker.
  if (!FWorker.joinable()) return;
  FWorker.join();
  if (FSucceeded)
    VelLog.WriteInfo(QStringLiteral("Create: ") + FJob.Name + QStringLiteral(".swf succeed!"));
  tmrOpen.stop();
  prgTotal->SetPercent(100);
  done(FSucceeded ? Accepted : Rejected);
}
