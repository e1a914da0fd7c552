#include "U_Converting_Gui.h"

#include "PostCall.h"
#include "PreviewWindow.h"
#include "SkBmpBtn.h"
#include "SkPanel.h"
#include "SkPrgres.h"
#include "SkRadChk.h"
#include "U_Config_Gui.h"
#include "U_Createswf.h"
#include "VelLog.h"

#include <QApplication>
#include <QBuffer>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QShowEvent>
#include <QUrl>

namespace {

const QColor PreviewFace(0x10, 0x10, 0x10);
constexpr QSize ClientSize(480, 276);

QLabel* MakeLabel(QWidget* Parent, const QString& Text, QRect At) {
  auto* label = new QLabel(Text, Parent);
  label->setGeometry(At);
  return label;
}

TSkCheckBox* MakeCheckBox(QWidget* Parent, const QString& Caption, bool Checked, QRect At) {
  auto* box = new TSkCheckBox(Parent);
  box->SetCaption(Caption);
  box->SetChecked(Checked);
  box->setGeometry(At);
  return box;
}

QFont WaterMarkFont(const TWaterMarkFont& Font) {
  QFont font(Font.Family);
  if (Font.PointSize > 0) font.setPointSize(Font.PointSize);
  font.setBold(Font.Bold);
  font.setItalic(Font.Italic);
  font.setUnderline(Font.Underline);
  font.setStrikeOut(Font.StrikeOut);
  return font;
}

// A Windows colour value: red in the low byte.
QColor WindowsColor(uint32_t Color) {
  return QColor(Color & 0xFF, Color >> 8 & 0xFF, Color >> 16 & 0xFF);
}

void DrawTextWaterMark(TBitmap& Bitmap, const TWaterMark& WaterMark) {
  const QImage::Format format =
      Bitmap.BitsPixel() == 32 ? QImage::Format_RGB32 : QImage::Format_BGR888;
  if (Bitmap.BitsPixel() != 32 && Bitmap.BitsPixel() != 24) return;
  QImage frame(Bitmap.ScanLine(0), Bitmap.Width(), Bitmap.Height(), Bitmap.Stride(), format);
  QPainter painter(&frame);
  if (WaterMark.Font) {
    painter.setFont(WaterMarkFont(*WaterMark.Font));
    painter.setPen(WindowsColor(WaterMark.Font->Color));
  }
  painter.drawText(QRect(WaterMark.Rect.Left, WaterMark.Rect.Top, frame.width(), frame.height()),
                   Qt::AlignLeft | Qt::AlignTop, WaterMark.Text);
}

// The end message, over the conversion window but below its bars and counter, which show how
// the run ended.
class TEndMessage : public QMessageBox {
 public:
  TEndMessage(const QString& Text, const QWidget& KeepInSight)
      : QMessageBox(QMessageBox::Information, QStringLiteral("Information"), Text, QMessageBox::Ok,
                    KeepInSight.window()),
        FKeepInSight(KeepInSight) {}

 protected:
  void showEvent(QShowEvent* Event) override {
    QMessageBox::showEvent(Event);
    if (!Event->spontaneous()) PlaceBelowOverOwner(*this, FKeepInSight);
  }

 private:
  const QWidget& FKeepInSight;
};

bool AskQuitBox(const QString& Text) {
  QApplication::beep();
  return QMessageBox::information(nullptr, QStringLiteral("Information"), Text,
                                  QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

}  // namespace

TConvertPreview::TConvertPreview(QWidget* Parent) : QWidget(Parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TConvertPreview::Clear() {
  Canvas.fill(PreviewFace);
  update();
}

void TConvertPreview::resizeEvent(QResizeEvent*) {
  Canvas = QImage(size(), QImage::Format_RGB32);
  Clear();
}

void TConvertPreview::paintEvent(QPaintEvent*) { QPainter(this).drawImage(0, 0, Canvas); }

TConvertingfrm::TConvertingfrm(std::vector<TConvertNode> Nodes, IOverwriteAsker& Asker,
                               IProcessRunner& Runner, QWidget* Parent)
    : TSkinForm(QStringLiteral("Converting"), Parent),
      AskQuit(AskQuitBox),
      ShowInformation([this](const QString& Text) {
        QApplication::beep();
        TEndMessage(Text, *lblperent).exec();
      }),
      OpenOutputFolder([] {
        QDesktopServices::openUrl(
            QUrl::fromLocalFile(MainSettings().Value(TMainSettings::OutputPath)));
      }),
      FNodes(std::move(Nodes)),
      FAsker(Asker),
      FRunner(Runner) {
  setObjectName(QStringLiteral("Convertingfrm"));
  SetClientSize(ClientSize);
  QWidget* client = Client();
  auto* pnlPerview = new TSkPanel(client);
  pnlPerview->setGeometry(12, 12, 204, 156);
  imgperview = new TConvertPreview(pnlPerview);
  imgperview->setGeometry(2, 2, 200, 152);
  lblAllFile = MakeLabel(client, QStringLiteral("Total  progress:"), QRect(232, 14, 236, 18));
  prgtotal = new TSkProgressBar(client);
  prgtotal->setGeometry(232, 34, 236, 18);
  lblFileName = MakeLabel(client, QStringLiteral("Create File:"), QRect(232, 66, 236, 18));
  prgFile = new TSkProgressBar(client);
  prgFile->setGeometry(232, 86, 236, 18);
  lblperent = MakeLabel(client, QStringLiteral("[/]"), QRect(232, 112, 236, 18));
  ChkOpenFolder = MakeCheckBox(client, QStringLiteral("Open output folder when completed"), false,
                               QRect(12, 176, 280, 20));
  chkperview = MakeCheckBox(client, QStringLiteral("Show preview"), true, QRect(12, 198, 280, 20));
  ChkShutdown = MakeCheckBox(client, QStringLiteral("Shut down computer when completed"), false,
                             QRect(12, 220, 280, 20));
  ChkOpenFolder->OnClick = [this] {
    if (ChkOpenFolder->Checked()) ChkShutdown->SetChecked(false);
  };
  ChkShutdown->OnClick = [this] {
    if (ChkShutdown->Checked()) ChkOpenFolder->SetChecked(false);
  };
  chkperview->OnClick = [this] {
    if (!chkperview->Checked()) imgperview->Clear();
  };
  btnOK = OkButton();
  btnOK->SetCaption(QStringLiteral("Pause"));
  btnOK->OnClick = [this] { TogglePause(); };
  btnCancel = CancelButton();
  btnCancel->OnClick = [this] { AskToQuit(); };
  btnCancel->move(ClientSize.width() - btnCancel->width() - 12,
                  ClientSize.height() - btnCancel->height() - 12);
  btnOK->move(btnCancel->x() - btnOK->width() - 8, btnCancel->y());
  CloseButton()->OnClick = [this] { AskToQuit(); };
  tmrConvert.setSingleShot(true);
  tmrConvert.setInterval(200);
  connect(&tmrConvert, &QTimer::timeout, this, &TConvertingfrm::Start);
}

TConvertingfrm::~TConvertingfrm() {
  // Only a window destroyed before its worker reported (never the window's own way to close).
  if (FBuilder.joinable()) FBuilder.join();
  ClearEvents();
  FTask.reset();
}

void TConvertingfrm::reject() {
  if (Running())
    AskToQuit();
  else
    TSkinForm::reject();
}

void TConvertingfrm::showEvent(QShowEvent* Event) {
  TSkinForm::showEvent(Event);
  if (!FPlan) tmrConvert.start();
}

void TConvertingfrm::Start() {
  tmrConvert.stop();
  if (FPlan) return;
  btnOK->setFocus();
  FPlan = std::make_unique<TConvertPlan>(FAsker);
  FPlan->Choose(FNodes);
  FProgress = std::make_unique<TConvertProgress>(*FPlan);
  FRun = std::make_unique<TConvertRun>(*FPlan);
  lblperent->setText(QStringLiteral("[ 0 / %1 ]").arg(FPlan->OfferedCount()));
  OpenNextTask();
}

void TConvertingfrm::OpenNextTask() {
  FTask = std::make_unique<TTaskEncoder>();
  FTaskEnded = false;
  FOpening = std::make_shared<TOpening>();
  FBuilder = std::thread([this, opening = FOpening, plan = FPlan.get(), tasks = &FTask->Tasks] {
    int index = -1;
    {
      const TQuitableIO io(opening->Quit);
      index = plan->OpenNext(*tasks);
    }
    const std::lock_guard<std::mutex> lock(opening->Lock);
    opening->Done.Set();
    if (opening->Left) return;
    FTaskIndex = index;
    PostCall(this, [this] { TaskOpened(); });
  });
}

void TConvertingfrm::TaskOpened() {
  // The worker's last act was to post this call, unless a quit ended the run meanwhile.
  if (!FBuilder.joinable()) return;
  FBuilder.join();
  if (FQuitWhenBuilt) {
    FTask.reset();
    VelLog.WriteInfo(QStringLiteral("Exit Convert"));
    return EndRun(Rejected);
  }
  if (FTaskIndex >= 0) {
    if (!FPaused) StartTask();
    return;
  }
  FreeTask(FTask);
  if (FPlan->TaskCount() > 0) return Complete(FRun->TaskEnded(-1, true, false, {}).AllConverted);
  // Entries the user kept need no word; entries that could not even start do.
  if (!FPlan->Refusals().isEmpty()) ShowInformation(ConversionEndMessage(false, FPlan->Refusals()));
  EndRun(Rejected);
}

void TConvertingfrm::EndRun(int Result) {
  if (FRunEnded) return;
  FRunEnded = true;
  emit Finished();
  done(Result);
}

void TConvertingfrm::StartTask() {
  // The preview shows the task under way: nothing of the file before, also when this task's
  // input has no picture to show.
  imgperview->Clear();
  FPreviewRect = QRect();
  TFFEncoder& encoder = FTask->Encoder;
  encoder.SetPreviewBitmap(true);
  encoder.OnProgress = [this](void*, PProgressInfo Info) { Progress(*Info); };
  encoder.OnPreviewBitmap = [this](void*, const TPreviewInfo& Info) { PreviewBitmap(Info); };
  encoder.OnVideoOutputHook = [this](void*, PHookInfo Info) { VideoOutputHook(*Info); };
  encoder.OnTerminate = [this](void*, const TTerminateInfo& Info) { TaskEnded(Info); };
  encoder.StartTask(1);
  if (FTaskIndex == 0) VelLog.WriteInfo(QStringLiteral("Convert Start"));
}

void TConvertingfrm::NextTask() {
  if (FRunEnded) return;
  FreeTask(FTask);
  OpenNextTask();
}

void TConvertingfrm::Progress(const TProgressInfo& Info) {
  if (FProgress->Update(FTaskIndex, Info.CurrentTime, Info.TotalTime)) {
    if (const TFileOption* entry = FPlan->EntryOfTask(FTaskIndex))
      FitTextToWidth(lblFileName, QStringLiteral("Create File: ") +
                                      QFileInfo(EncoderOutputsOf(*entry).value(0)).fileName());
  }
  prgFile->SetPercent(FProgress->FilePercent());
  prgtotal->SetPercent(FProgress->TotalPercent());
  lblperent->setText(FProgress->CounterText());
}

// The first picture of each task becomes its thumbnail, whether or not the preview shows, and
// the still its SWF shows until played; the thumbnail replaces the earlier one only when the
// task ends usable.
void TConvertingfrm::PreviewBitmap(const TPreviewInfo& Info) {
  const TFileOption* entry = FPlan->EntryOfTask(FTaskIndex);
  const TEntryFiles* files = FPlan->FilesOfTask(FTaskIndex);
  if (!entry || !files || !Info.Bitmap) return;
  const QImage picture = BitmapToImage(*Info.Bitmap);
  if (FFirstPictureTaken.insert(FTaskIndex).second) {
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "JPG")) jpeg.clear();
    FPlan->KeepPoster(FTaskIndex, jpeg);
    const QString file = ThumbnailFileOf(*entry);
    if (entry->GThumbnail && (jpeg.isEmpty() || !FThumbnails.Write(FTaskIndex, *files, file, jpeg)))
      VelLog.WriteError(QStringLiteral("Cannot save the thumbnail ") + file);
  }
  if (!chkperview->Checked()) return;
  if (FPreviewRect.isEmpty()) FPreviewRect = FitRectInto(picture.size(), imgperview->Canvas.rect());
  QPainter(&imgperview->Canvas).drawImage(FPreviewRect, picture);
  imgperview->update();
}

// Task thread. Looks up the task's text watermark when the task changes; the plan is
// changed only while no task runs.
void TConvertingfrm::VideoOutputHook(THookInfo& Info) {
  if (FTaskIndex != FHookTask) {
    FHookTask = FTaskIndex;
    FHookWaterMark = FPlan->TextWaterMarkOf(FTaskIndex);
  }
  if (!FHookWaterMark || !Info.Bitmap) return;
  DrawTextWaterMark(*Info.Bitmap, FHookWaterMark->WaterMark);
  Info.Update = true;
}

void TConvertingfrm::TaskEnded(const TTerminateInfo& Info) {
  // The encoder's last notice: the next task, once out of this notice's delivery.
  if (Info.TaskIndex < 0) return PostCall(this, [this] { NextTask(); });
  FTaskEnded = true;
  const bool usable = Info.Finished && !Info.Exception;
  const QString lost = FThumbnails.TaskEnded(FTaskIndex, usable);
  if (!lost.isEmpty()) FRun->FileFailed(lost);
  // No picture came: a sound alone.
  const TFileOption* entry = FPlan->EntryOfTask(FTaskIndex);
  if (usable && entry && entry->GThumbnail && !FFirstPictureTaken.contains(FTaskIndex))
    FRun->FileNotMade(ThumbnailNotMade(*entry));
  if (Info.Finished) prgFile->SetPercent(100);
  const TTaskEndAction action =
      FRun->TaskEnded(FTaskIndex, Info.Finished, Info.Exception, Info.ExceptionMsg);
  if (action.PackageEntry) Package(FPlan->FilesOfTask(FTaskIndex)->Packaging);
}

// The next task waits for its files to be opened until the packaging has ended. Cancelling the
// packaging quits the run, as the window's own Cancel does, also when the user agreed only
// after the tool had ended.
void TConvertingfrm::Package(const TPackagingJob& Job) {
  Tcreateswffrm packaging(Job, FRunner, this);
  packaging.AskCancel = [this] { return AskQuit(QStringLiteral("Whether to quit conversion?")); };
  FPackaging = &packaging;
  const bool made = packaging.exec() == Accepted;
  FPackaging = nullptr;
  if (!made) FRun->FileFailed(packaging.Error());
  // Once out of the task's end notice.
  if (packaging.Cancelled()) PostCall(this, [this] { Quit(false); });
}

void TConvertingfrm::Complete(bool AllConverted) {
  prgFile->SetPercent(100);
  prgtotal->SetPercent(100);
  VelLog.WriteInfo(QStringLiteral("Convert completed"));
  const QString message = ConversionEndMessage(AllConverted, FRun->Reasons(), FRun->Notes());
  bool showMessage = true;
  if (ChkShutdown->Checked()) {
    QApplication::beep();
    showMessage = !ShowShutDown || ShowShutDown() == raCancel;
  } else if (ChkOpenFolder->Checked()) {
    OpenOutputFolder();
  }
  if (showMessage) ShowInformation(message);
  // Unless the run was quit (a signal ends the program) while those were open.
  EndRun(AllConverted ? Accepted : Rejected);
}

void TConvertingfrm::TogglePause() {
  if (!Running()) return;
  SetPaused(!FPaused);
  btnOK->SetCaption(FPaused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
}

void TConvertingfrm::SetPaused(bool Paused) {
  FPaused = Paused;
  // A task still being opened starts when it is opened, unless paused.
  if (!FTask || FBuilder.joinable()) return;
  TFFEncoder& encoder = FTask->Encoder;
  if (!encoder.Working()) {
    if (!Paused) StartTask();  // opened while paused
  } else if (Paused) {
    encoder.Pause();
  } else {
    encoder.Resume();
  }
}

void TConvertingfrm::Quit(bool Ask) {
  if (!Running()) return;
  const bool wasPaused = FPaused;
  SetPaused(true);
  if (Ask && !AskQuit(QStringLiteral("Whether to quit conversion?"))) {
    if (!wasPaused) SetPaused(false);
    return;
  }
  // The run may have ended while the question was open.
  if (!Running()) return;
  if (!FBuilder.joinable()) return QuitRun();
  // The worker still opening files gives up its reads; the window closes when it is done, or,
  // without a question (the program ends), after a short while at most.
  FOpening->Quit = true;
  if (Ask)
    FQuitWhenBuilt = true;
  else
    QuitOpening();
}

// An open stuck inside the system (a sleeping disk, a stalled network share) cannot be given up:
// after a short wait the worker is left behind with the plan and the task it opens into, and
// the program's end goes on.
void TConvertingfrm::QuitOpening() {
  constexpr int OpeningWaitMs = 2000;
  const std::shared_ptr<TOpening> opening = FOpening;
  if (WaitServingMainThread([&](int Ms) { return opening->Done.WaitFor(Ms); }, OpeningWaitMs,
                            TMainThreadService::CallsOnly)) {
    FBuilder.join();
    FTask.reset();
  } else {
    {
      const std::lock_guard<std::mutex> lock(opening->Lock);
      opening->Left = true;
      opening->Plan = std::move(FPlan);
      opening->Task = std::move(FTask);
    }
    FBuilder.detach();
    VelLog.WriteInfo(QStringLiteral(
        "The opening of the next entry's files did not end; the run ends without it"));
  }
  VelLog.WriteInfo(QStringLiteral("Exit Convert"));
  EndRun(Rejected);
}

void TConvertingfrm::QuitRun() {
  // The packaging tool is stopped at once; its window returns once the worker has ended.
  if (FPackaging) FPackaging->Cancel();
  if (FTask) {
    ClearEvents();
    FTask->Encoder.Resume();
    FTask->Encoder.Cancel(true);
    SettleQuitTask();
  }
  FThumbnails.Clear();
  VelLog.WriteInfo(QStringLiteral("Exit Convert"));
  EndRun(Rejected);
}

void TConvertingfrm::ClearEvents() {
  if (!FTask) return;
  FTask->Encoder.OnVideoOutputHook = nullptr;
  FTask->Encoder.OnPreviewBitmap = nullptr;
  FTask->Encoder.OnProgress = nullptr;
  FTask->Encoder.OnTerminate = nullptr;
}

// The run was cancelled: a task stopped in the middle discarded its outputs (files no player
// could read to their end), the earlier files staying as they were; its thumbnail goes too. A
// task that reached its end before the quit, unheard of since, keeps its new files.
void TConvertingfrm::SettleQuitTask() {
  const TFileOption* entry = FPlan->EntryOfTask(FTaskIndex);
  if (!entry || FTaskEnded) return;
  const bool finished = FTask->Encoder.TaskFinished(0);
  FThumbnails.TaskEnded(FTaskIndex, finished);
  if (finished) return;
  for (const QString& file : EncoderOutputsOf(*entry))
    VelLog.WriteInfo(QStringLiteral("Discarded the unfinished ") + file);
}
