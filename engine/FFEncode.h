// The encoder component: the records the application fills for each input and output of a
// conversion, the task objects built from them, and TFFEncoder, which owns a list of tasks,
// runs them one after another or several at once, and reports their progress, preview
// pictures, hooks and ends through events.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "FFBaseComponent.h"
#include "FFDecode.h"
#include "FFmpeg.h"
#include "MyUtils.h"

// ---- Option records ----

// Tags and time stamp written into an output.
struct TStreamInfo {
  // -1: none; 0: the present time; else a local date and time (days since 1899-12-30, the
  // fraction being the time of day).
  double Timestamp = -1.0;
  int Year = -1;   // written when > 0
  int Track = -1;  // written when > 0
  std::string Title;
  std::string Author;
  std::string Copyright;
  std::string Comment;
  std::string Album;
  std::string Genre;
};

// One input of a task. Times are µs; AV_NOPTS_VALUE is "no value".
struct TInputOptions {
  std::string FileName;    // empty: the file name given to AddTask/AddInputFile
  std::string FileFormat;  // forced format; empty: probed
  int64_t StartTime = AV_NOPTS_VALUE;
  int ProgramID = -1;      // ignored when < 0
  std::string ExtOptions;  // option text, applied before the input opens
};
using PInputOptions = TInputOptions*;

// One output of a task. A field at its default adds nothing to the task's options.
struct TOutputOptions {
  std::string FileName;  // empty: the file name given to SetOutputFile
  std::string FileExt;   // the application's file type text; the engine does not read it
  std::string FileFormat;
  int PacketSize = -1;
  int MuxRate = -1;
  float MuxDelay = -1.0f;    // s
  float MuxPreload = -1.0f;  // s
  std::string AudioCodec;
  int DisableAudio = 0;
  int AudioVolume = -1;  // 256 = unchanged
  int AudioChannels = -1;
  int AudioSampleRate = -1;
  int AudioBitrate = -1;  // bits/s; not with a target
  int AudioBitrateTolerance = -1;
  std::string AudioLanguage;
  int AudioSync = 0;
  std::string AudioTag;
  std::string VideoCodec;
  int DisableVideo = 0;
  std::string FrameRate;
  std::string FrameSize;  // "320x240"
  std::string FrameAspectRatio;
  int GOPSize = -1;
  int VideoBitrate = -1;  // bits/s; not with a target
  int MaxRate = -1;
  int MinRate = -1;
  int VideoBitrateTolerance = -1;
  int BufferSize = -1;
  int VideoSync = -1;
  std::string VideoTag;
  std::string VideoFilters;  // filter chain text
  std::string VideoLanguage;
  std::string SubtitleCodec;
  int DisableSubtitle = 0;
  std::string SubtitleLanguage;
  std::string DataCodec;
  std::string PresetFile;
  bool InputSync = false;
  bool CopyTimestamps = false;
  int64_t StartTime = AV_NOPTS_VALUE;
  int64_t TimeLength = AV_NOPTS_VALUE;
  TStreamInfo Metadata;
  int Target = 0;       // 0 none, 1 "vcd", 2 "svcd", 3 "dvd"
  int TargetNorm = 0;   // 0 "auto", 1 "pal", 2 "ntsc"
  int DefaultNorm = 1;  // when "auto" cannot tell: 1 "pal", else "ntsc"
  bool AudioHook = false;
  bool VideoInputHook = false;
  bool VideoOutputHook = false;
  int HookBitsPixel = 24;  // 8, 15, 16, 24 or 32
  bool FrameInputHook = false;
  bool FrameOutputHook = false;
  bool JoinInputs = false;  // the task's inputs one after another into this output
  std::string ExtOptions;   // option text
};
using POutputOptions = TOutputOptions*;

void InitInputOptions(TInputOptions& options);
void InitOutputOptions(TOutputOptions& options);

// Option text: lines of name=value, separated by any line break or by the literal "<CRLF>".
// Names are lower-cased; the value is everything after the first "=", unchanged; a line
// without "=" is a name with an empty value; empty lines are skipped.
using TOptionLine = std::pair<std::string, std::string>;
using TOptionLines = std::vector<TOptionLine>;
TOptionLines SplitOptionText(const std::string& text);

// Seconds since 1970 of a local date and time (days since 1899-12-30), through the time-zone
// rules in force on that date, daylight saving included.
int64_t LocalDateTimeToUnixTime(double dateTime);

// ---- Tasks ----

class TCustomEncoder;

// One conversion task of an encoder: a transcoder task that also keeps a probe decoder and a
// copy of the record of each of its inputs and outputs.
class TFFmpeg : public TCustomFFmpeg {
 public:
  TFFmpeg(int maxFiles, TCustomEncoder* owner);
  ~TFFmpeg() override;

  TCustomEncoder* Owner() const { return FOwner; }

  // The probe decoder of input N, made when first asked for. It reads the task's own input.
  TFFDecoder& InputDecoder(int n);
  // Task thread, once the run has closed its inputs: the probe decoders forget them.
  void DetachInputDecoders();

  void SetInputOptions(int n, const TInputOptions& options);
  void SetOutputOptions(int n, const TOutputOptions& options);
  void ClearInput(int n);
  void ClearOutput(int n);
  const TInputOptions& InputOptions(int n) const { return FInputOptions.at(n); }
  const TOutputOptions& OutputOptions(int n) const { return FOutputOptions.at(n); }

  // Opens the next input, its record (when given) applied first. False with LastErrMsg; an
  // option the parser rejects throws.
  bool OpenInput(const std::string& fileName, const TInputOptions* options);
  // Opens the next output with its record (when given). False with LastErrMsg; an option the
  // parser rejects throws.
  bool OpenOutput(const std::string& fileName, const TOutputOptions* options);

  // The steps of opening, in the order OpenOutput runs them.
  void ApplyOptionText(const std::string& text, bool isInput);
  void BuildStreamDefaults(const TOutputOptions& options, TOptionLines& list);
  void ApplyTarget(const TOutputOptions& options);
  void ApplyOutputOptions(const TOutputOptions& options);
  void ApplyDefaultOptions(const std::string& text, TOptionLines& list);

 private:
  // Applies name with the list's value of "def_" + name, when it has one.
  void ApplyStreamDefault(const std::string& name, const TOptionLines& list);
  // Applies the first line of that name still in the list (and removes it), else the default.
  void TakeStreamOption(const std::string& name, TOptionLines& list);
  void ApplyMetadata(const TStreamInfo& metadata);

  TCustomEncoder* const FOwner;
  std::vector<std::unique_ptr<TFFDecoder>> FInputDecoders;
  std::vector<TInputOptions> FInputOptions;
  std::vector<TOutputOptions> FOutputOptions;
};

// The tasks of one encoder, in the order they were added; the list owns them.
class TFFmpegList {
 public:
  int Add(std::unique_ptr<TFFmpeg> task);
  void Delete(int n);
  void Clear();
  // Throws std::out_of_range for an index outside the list.
  TFFmpeg* Items(int n) const { return FItems.at(n).get(); }
  // -1 when the task is not in the list.
  int IndexOf(const TCustomFFmpeg* task) const;
  int Count() const { return int(FItems.size()); }

  void PauseAll();
  void ResumeAll();
  // Stop, or with discard Cancel, of every task.
  void StopAll(bool wait, bool discard);
  // Abort(true) of every task: no task thread runs afterwards.
  void AbortAll();
  // Bit 0 (the previewer window), bit 1 (the preview event) of every task's preview flags.
  void SetPreviewAll(bool on);
  void SetPreviewBitmapAll(bool on);

 private:
  void SetPreviewBit(uint8_t bit, bool on);

  std::vector<std::unique_ptr<TFFmpeg>> FItems;
};

// ---- Event records ----

struct TProgressInfo {
  int TaskIndex = -1;
  int FileIndex = 0;    // input file; -1 on the final report
  int FrameNumber = 0;  // of the first video output
  int FPS = 0;
  float Quality = 0;
  float BitRate = 0;        // kbit/s
  int64_t TotalSize = 0;    // bytes written
  int64_t CurrentTime = 0;  // µs converted so far
  int64_t TotalTime = 0;    // µs to convert
};
using PProgressInfo = TProgressInfo*;

struct TPreviewInfo {
  int TaskIndex = -1;
  TBitmap* Bitmap = nullptr;  // the task's converted picture, valid during the event
  int FrameNumber = 0;
  int64_t PTS = 0;  // µs
};

struct THookInfo {
  int TaskIndex = -1;
  TBitmap* Bitmap = nullptr;
  int FrameNumber = 0;
  int64_t PTS = 0;        // µs
  bool Update = true;     // in/out: the handler changed the bitmap; write it back into the frame
  bool StopHook = false;  // in/out: no more calls of this hook for this task
};
using PHookInfo = THookInfo*;

struct TFrameHookInfo {
  int TaskIndex = -1;
  int FrameNumber = 0;
  const TAVPicture* Picture = nullptr;  // planes may be changed in place
  int PixFmt = 0;                       // AVPixelFormat
  int Width = 0;
  int Height = 0;
  int64_t PTS = 0;  // µs
};
using PFrameHookInfo = TFrameHookInfo*;

struct TTerminateInfo {
  int TaskIndex = -1;      // -1 in the notice that all tasks have ended
  bool Finished = false;   // the task ran to its end
  bool Exception = false;  // it ended by an error
  std::string ExceptionMsg;
};

// Event types. Sender is the encoder (the task for OnBeforeFindStreamInfo, whose type comes
// from the decoder unit).
using TAudioHookEvent =
    std::function<void(void* sender, int taskIndex, int64_t pts, uint8_t* sample, int size,
                       int sampleRate, int channels, AVSampleFormat sampleFormat)>;
using TVideoHookEvent = std::function<void(void* sender, PHookInfo hookInfo)>;
using TFrameHookEvent = std::function<void(void* sender, PFrameHookInfo hookInfo)>;
using TPreviewBitmapEvent = std::function<void(void* sender, const TPreviewInfo& previewInfo)>;
using TProgressEvent = std::function<void(void* sender, PProgressInfo progressInfo)>;
using TTerminateEvent = std::function<void(void* sender, const TTerminateInfo& terminateInfo)>;

// An event property: the application may set or clear it on its thread while tasks raise it
// on theirs (it clears them before stopping a run).
template <class TFunction>
class TEventHandler {
 public:
  TEventHandler() = default;
  TEventHandler(const TEventHandler&) = delete;
  TEventHandler& operator=(const TEventHandler&) = delete;
  TEventHandler& operator=(TFunction handler) {
    const std::lock_guard<std::mutex> lock(FLock);
    FHandler = std::move(handler);
    return *this;
  }
  explicit operator bool() const {
    const std::lock_guard<std::mutex> lock(FLock);
    return bool(FHandler);
  }
  // A copy to call: the handler stays valid while it runs, whoever clears the property.
  TFunction Handler() const {
    const std::lock_guard<std::mutex> lock(FLock);
    return FHandler;
  }

 private:
  mutable std::mutex FLock;
  TFunction FHandler;
};

// ---- The encoder ----

class TCustomEncoder : public TFFBaseComponent {
 public:
  TCustomEncoder();
  ~TCustomEncoder() override;
  TCustomEncoder(const TCustomEncoder&) = delete;
  TCustomEncoder& operator=(const TCustomEncoder&) = delete;

  // Main thread, before any work.
  bool AVLibLoaded() const;
  bool LoadAVLib(const std::string& path);

  // Before StartTask, from one thread at a time (opening files may take long: a worker may do
  // it). Each refuses with FFmpegException "Cannot <name> while working." once StartTask ran;
  // failures give -1 or false with LastErrMsg.
  int AddTask(const std::string& fileName, const TInputOptions* inputOptions = nullptr);
  bool AddInputFile(int taskIndex, const std::string& fileName,
                    const TInputOptions* inputOptions = nullptr);
  bool SetOutputFile(int taskIndex, const std::string& fileName,
                     const TOutputOptions* outputOptions = nullptr);
  void RemoveTask(int taskIndex);
  int TasksCount() const { return FTasks.Count(); }
  // Count > 0: up to Count tasks at once, each on its own thread, every ending task starting
  // the next. Count <= 0: every task in turn inside this call, in the calling thread. An
  // encoder runs once.
  void StartTask(int count);

  // Any thread.
  void Pause();
  void Resume();
  // No waiting task starts any more; the running ones are stopped (with Wait, this returns
  // once each has ended). Every task still reports its end, then the all-ended notice comes.
  void Stop(bool wait);
  // Stop, except that a task stopped before its end discards its outputs: the files they were
  // to replace stay as they were. A task that ended keeps them.
  void Cancel(bool wait);
  // Once the task has ended: it ran to its end without error, its outputs took their names.
  bool TaskFinished(int taskIndex) const;
  // Once the task's output is open: the folder it is written in (TCustomFFmpeg::OutputFolder).
  TFolder OutputFolder(int taskIndex, int outputIndex) const;

  bool Working() const;
  bool Paused() const;
  bool AllEnded() const;

  std::string LastErrMsg;
  int MaxFiles = 20;              // inputs and outputs each task may hold
  bool RaiseOptionErrors = true;  // invalid option values raise instead of being skipped
  int Timeout = 10000;            // ms of blocked I/O before a task's I/O is interrupted
  int Verbose = 1;

  // The probe decoder the application reads file information with.
  TFFDecoder Decoder;

  // Called by the tasks, on the thread that runs or opens them.
  void DoBeforeFindStreamInfo(TCustomFFmpeg* task, AVFormatContext* formatContext);
  void DoAudioHook(TCustomFFmpeg* task, int64_t pts, uint8_t* sample, int size, int sampleRate,
                   int channels, int sampleFormat);
  virtual void DoVideoInputHook(TCustomFFmpeg* task, TBitmap* bitmap, int frameNumber, int64_t pts,
                                bool& update, bool& stopHook);
  virtual void DoVideoOutputHook(TCustomFFmpeg* task, TBitmap* bitmap, int frameNumber, int64_t pts,
                                 bool& update, bool& stopHook);
  virtual void DoFrameInputHook(TCustomFFmpeg* task, const TAVPicture* picture, int pixFmt,
                                int frameNumber, int width, int height, int64_t pts);
  virtual void DoFrameOutputHook(TCustomFFmpeg* task, const TAVPicture* picture, int pixFmt,
                                 int frameNumber, int width, int height, int64_t pts);
  virtual void DoPreviewBitmap(TCustomFFmpeg* task, TBitmap* bitmap, int frameNumber, int64_t pts);
  virtual void DoProgress(TCustomFFmpeg* task, const TProgressInfo& progress);
  virtual void DoTaskTerminate(TCustomFFmpeg* task);

 protected:
  // Stops the tasks and waits for them (serving the main thread's dispatch meanwhile when
  // called there), then frees them; no event is raised once it has begun. The tasks call the
  // virtual Do* methods until then, so the destructor of every class that may override them
  // calls it first.
  void Shutdown();

  // Published by TFFEncoder.
  bool Preview() const { return FPreview; }
  void SetPreview(bool value);
  bool PreviewBitmap() const { return FPreviewBitmap; }
  void SetPreviewBitmap(bool value);
  int ProgressInterval() const { return FProgressInterval; }
  // ms between progress events; below 101 it is 100.
  void SetProgressInterval(int value);

  TThreadPriority ThreadPriority = tpNormal;
  // Progress, preview, end and before-find-stream-info events run on the main thread (the
  // task waits meanwhile) rather than on the task's thread. Hooks always run on the task's.
  std::atomic<bool> TriggerEventInMainThread{true};

  TEventHandler<TAudioHookEvent> OnAudioHook;
  TEventHandler<TBeforeFindStreamInfoEvent> OnBeforeFindStreamInfo;
  TEventHandler<TVideoHookEvent> OnVideoInputHook;
  TEventHandler<TVideoHookEvent> OnVideoOutputHook;
  TEventHandler<TPreviewBitmapEvent> OnPreviewBitmap;
  TEventHandler<TProgressEvent> OnProgress;
  TEventHandler<TTerminateEvent> OnTerminate;
  TEventHandler<TFrameHookEvent> OnFrameInputHook;
  TEventHandler<TFrameHookEvent> OnFrameOutputHook;

  TFFmpegList FTasks;

 private:
  void CheckNotWorking(const char* operation) const;
  void StopTasks(bool wait, bool discard);
  TFFmpeg& Task(int taskIndex) const { return *FTasks.Items(taskIndex); }
  uint8_t PreviewFlags() const;
  void ConnectTaskEvents(TFFmpeg& task);
  void ConnectHooks(TFFmpeg& task, const TOutputOptions& options);
  bool OpenTaskInput(TFFmpeg& task, const std::string& fileName, const TInputOptions* options);
  void StartNextTask();

  // Raises an event of a task by the main-thread rule: through the main thread when
  // TriggerEventInMainThread is set (no lock is held while the task waits for it), else at
  // once under the event's lock, so that two tasks never run one handler at the same time.
  void RaiseTaskEvent(TCustomFFmpeg* task, std::mutex& lock, const std::function<void()>& raise);
  void RaiseVideoHook(const TEventHandler<TVideoHookEvent>& event, TCustomFFmpeg* task,
                      TBitmap* bitmap, int frameNumber, int64_t pts, bool& update, bool& stopHook);
  void RaiseFrameHook(const TEventHandler<TFrameHookEvent>& event, TCustomFFmpeg* task,
                      const TAVPicture* picture, int pixFmt, int frameNumber, int width, int height,
                      int64_t pts);

  // End notices are delivered one at a time in the order they were queued, so the all-ended
  // notice always follows every task's own. Queue under FRunLock; true when the caller is to
  // deliver them itself (a synchronous run, on its own thread), else a notice thread does.
  void QueueNotice(const TTerminateInfo& info);
  bool ClaimDelivery();
  void DeliverNotices();
  void RaiseTerminate(const TTerminateInfo& info);
  // Returns once every queued notice is delivered (serving the main thread's dispatch
  // meanwhile when called there).
  void WaitForNotices();

  bool FPreview = false;
  bool FPreviewBitmap = false;
  std::atomic<int> FProgressInterval{500};

  std::mutex FAudioHookLock;
  std::mutex FPreviewBitmapLock;
  std::mutex FProgressLock;
  std::mutex FVideoHookLock;
  std::mutex FFrameHookLock;
  std::mutex FBeforeFindStreamInfoLock;

  // The run state and the notice queue. Recursive: a task refused at its start reports its
  // end (and may start the next) from inside StartNextTask.
  mutable std::recursive_mutex FRunLock;
  std::condition_variable_any FNoticesDelivered;
  int FEndedCount = 0;
  int FNextIndex = -1;
  int FWaitingCount = 0;
  bool FAllEnded = false;
  bool FThreaded = false;
  bool FWorking = false;
  bool FPaused = false;
  bool FShuttingDown = false;
  std::thread::id FSynchronousThread;  // the caller of a synchronous StartTask while it runs
  std::deque<TTerminateInfo> FNotices;
  bool FDelivering = false;  // a thread is delivering the queue
  std::thread FNoticeThread;
};

// The component the application places: TCustomEncoder with its properties and events
// published.
class TFFEncoder : public TCustomEncoder {
 public:
  ~TFFEncoder() override { Shutdown(); }

  using TCustomEncoder::OnAudioHook;
  using TCustomEncoder::OnBeforeFindStreamInfo;
  using TCustomEncoder::OnFrameInputHook;
  using TCustomEncoder::OnFrameOutputHook;
  using TCustomEncoder::OnPreviewBitmap;
  using TCustomEncoder::OnProgress;
  using TCustomEncoder::OnTerminate;
  using TCustomEncoder::OnVideoInputHook;
  using TCustomEncoder::OnVideoOutputHook;
  using TCustomEncoder::Preview;
  using TCustomEncoder::PreviewBitmap;
  using TCustomEncoder::ProgressInterval;
  using TCustomEncoder::SetPreview;
  using TCustomEncoder::SetPreviewBitmap;
  using TCustomEncoder::SetProgressInterval;
  using TCustomEncoder::ThreadPriority;
  using TCustomEncoder::TriggerEventInMainThread;
};
