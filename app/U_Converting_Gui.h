// The conversion window: runs the checked entries of the file list through one encoder, one
// task after another, showing progress and the converted pictures, saving thumbnails,
// drawing text watermarks, packaging each finished SWF, and reporting once at the end.
#pragma once

#include "FFEncode.h"
#include "SkinForm.h"
#include "U_Converting.h"
#include "U_CreateSwfThread.h"

#include <QImage>
#include <QTimer>

#include <functional>
#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

class QLabel;
class TSkBmpButton;
class TSkCheckBox;
class TSkProgressBar;

// The converted picture, drawn into a fixed canvas (which the preview check box can clear).
class TConvertPreview : public QWidget {
 public:
  explicit TConvertPreview(QWidget* Parent);
  QImage Canvas;
  void Clear();

 protected:
  void resizeEvent(QResizeEvent* Event) override;
  void paintEvent(QPaintEvent* Event) override;
};

class TConvertingfrm : public TSkinForm {
  Q_OBJECT

 public:
  // The nodes and everything their options point to must outlive the window.
  TConvertingfrm(std::vector<TConvertNode> Nodes, IOverwriteAsker& Asker, IProcessRunner& Runner,
                 QWidget* Parent = nullptr);
  ~TConvertingfrm() override;

  // The window's questions and messages; the defaults are message boxes.
  std::function<bool(const QString&)> AskQuit;          // true: quit
  std::function<void(const QString&)> ShowInformation;  // the end message
  // The shut-down dialog; its result 2 (Cancel) keeps the computer on.
  std::function<int()> ShowShutDown;
  // Opens the output folder (as the main window's browse button does).
  std::function<void()> OpenOutputFolder;

  QLabel *lblAllFile, *lblFileName, *lblperent;
  TSkProgressBar *prgFile, *prgtotal;
  TConvertPreview* imgperview;
  TSkCheckBox *ChkOpenFolder, *chkperview, *ChkShutdown;
  TSkBmpButton *btnOK, *btnCancel;
  QTimer tmrConvert;

  // Asks about existing outputs, then runs the entries one task at a time (the timer's tick).
  void Start();
  void TogglePause();
  void AskToQuit() { Quit(true); }
  // Ends the run as the user's quit does, asked first or not: the task under way discards its
  // unfinished outputs, the tasks that ended keep theirs.
  void Quit(bool Ask);
  bool Paused() const { return FPaused; }
  // Escape and the close button ask to quit while the run goes on.
  void reject() override;

 signals:
  // The run ended, by completion or by quitting.
  void Finished();

 protected:
  void showEvent(QShowEvent* Event) override;

 private:
  bool Running() const { return FPlan && !FRunEnded; }
  // The task under way is held, or started, as the pause asks.
  void SetPaused(bool Paused);
  // A worker opens the next entry's files into an encoder of its own (a slow or stuck file
  // must not stall the window), and posts TaskOpened.
  void OpenNextTask();
  void TaskOpened();
  void StartTask();
  // The task's encoder has ended: it goes, with everything the task held, before the next.
  void NextTask();
  void Progress(const TProgressInfo& Info);
  void PreviewBitmap(const TPreviewInfo& Info);
  void VideoOutputHook(THookInfo& Info);
  void TaskEnded(const TTerminateInfo& Info);
  void Package(const TPackagingJob& Job);
  void Complete(bool AllConverted);
  // Once: the window reports the end and closes with the result.
  void EndRun(int Result);
  // Stops the run for good and closes the window.
  void QuitRun();
  // The same while the next task's files are being opened, without waiting long for that.
  void QuitOpening();
  void ClearEvents();
  void SettleQuitTask();

  std::vector<TConvertNode> FNodes;
  IOverwriteAsker& FAsker;
  IProcessRunner& FRunner;
  std::unique_ptr<TConvertPlan> FPlan;
  std::unique_ptr<TConvertProgress> FProgress;
  std::unique_ptr<TConvertRun> FRun;
  // The task under way, its index in the run, and whether it has reported its end.
  std::unique_ptr<TTaskEncoder> FTask;
  int FTaskIndex = -1;
  bool FTaskEnded = false;
  // Opens the next task's files; the task and the plan are its alone until it posts TaskOpened.
  std::thread FBuilder;
  bool FQuitWhenBuilt = false;
  // That opening, shared with the builder: a quit without a question may leave it behind,
  // handing it the plan and the task it opens the files into.
  struct TOpening {
    std::atomic<bool> Quit{false};  // its blocking I/O gives up (TQuitableIO)
    TManualResetEvent Done{false};
    std::mutex Lock;
    bool Left = false;  // under Lock: the window went on without it
    std::unique_ptr<TConvertPlan> Plan;
    std::unique_ptr<TTaskEncoder> Task;
  };
  std::shared_ptr<TOpening> FOpening;
  // The packaging window open for the task that ended, if any.
  class Tcreateswffrm* FPackaging = nullptr;
  std::set<int> FFirstPictureTaken;
  TThumbnailFiles FThumbnails;
  QRect FPreviewRect;
  bool FPaused = false;
  bool FRunEnded = false;
  // Task thread only: the text watermark of the task last drawn.
  int FHookTask = -1;
  const TTextWaterMark* FHookWaterMark = nullptr;
};
