#include "FFmpeg_Private.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <system_error>

#include "UnicodeProtocol.h"

using namespace ffmpeg_internal;

// ---- Helpers of every piece ----

namespace ffmpeg_internal {

std::string VFormat(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (size <= 0) return std::string();
  std::string text(size_t(size), '\0');
  std::vsnprintf(text.data(), size_t(size) + 1, format, args);
  return text;
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = VFormat(format, args);
  va_end(args);
  return text;
}

void SetDictionary(AVDictionary** dictionary, S key, S value) {
  if (ff::av_dict_set(dictionary, key.c_str(), value.c_str(), 0) < 0)
    throw std::runtime_error("Could not alloc buffer.");
}

int64_t ToMicroseconds(int64_t value, AVRational timeBase) {
  return ff::av_rescale_q(value, timeBase, MicrosecondBase);
}

int64_t FromMicroseconds(int64_t value, AVRational timeBase) {
  return ff::av_rescale_q(value, MicrosecondBase, timeBase);
}

int64_t MuxerMicroseconds(const AVStream* st) {
  const int64_t end = ff::av_stream_get_end_pts(st);
  return end == AV_NOPTS_VALUE ? 0 : ToMicroseconds(end, st->time_base);
}

double MuxerTime(const AVStream* st) { return double(MuxerMicroseconds(st)) / AV_TIME_BASE; }

namespace {

bool InterruptProc(void* owner) {
  return static_cast<TCustomFFmpeg*>(owner)->InterruptCallback(owner);
}

}  // namespace

TBlockingIO::TBlockingIO(TCustomFFmpeg& task) : FTask(task) {
  InterruptCB().Add(std::this_thread::get_id(), &task, InterruptProc);
  task.IOStartTime = ff::av_gettime();
}

TBlockingIO::~TBlockingIO() {
  FTask.IOStartTime = INT64_MAX;
  InterruptCB().Remove(std::this_thread::get_id(), &FTask, InterruptProc);
}

}  // namespace ffmpeg_internal

namespace {

bool LibrariesLoaded() {
  return FFLoader().Loaded(LibraryBit(libAVCodec) | LibraryBit(libAVFormat) |
                           LibraryBit(libAVUtil) | LibraryBit(libSWScale));
}

// The main thread, while it runs an event of a task that the task's thread waits for.
thread_local const TCustomFFmpeg* DispatchedEventTask = nullptr;

// Below-normal priorities lower the thread's nice value; the higher ones need privileges that a
// desktop user does not have, so an ordinary thread only reports that it stays at normal.
int NiceOfPriority(TThreadPriority priority) {
  static const int nice[] = {19, 10, 5, 0, -5, -10, -15};
  return nice[priority];
}

void ApplyPriority(TThreadPriority priority) {
  if (priority == tpNormal) return;
  if (::setpriority(PRIO_PROCESS, ::gettid(), NiceOfPriority(priority)) != 0)
    FFLogger().LogFmt(nullptr, llWarning, "Could not set the conversion thread's priority: %s",
                      std::strerror(errno));
}

}  // namespace

// ---- Numbers of option values ----

int64_t OptionToInt64(S value) {
  std::string_view text = Trim(value);
  if (StartsWith(text, "+")) text.remove_prefix(1);
  int64_t result = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), result);
  if (text.empty() || error != std::errc() || end != text.data() + text.size())
    throw std::invalid_argument(Format("'%s' is not a valid integer value", value.c_str()));
  return result;
}

int OptionToInt(S value) {
  const int64_t result = OptionToInt64(value);
  if (result < INT_MIN || result > INT_MAX)
    throw std::invalid_argument(Format("'%s' is not a valid integer value", value.c_str()));
  return int(result);
}

double OptionToFloat(S value) {
  std::string_view text = Trim(value);
  if (StartsWith(text, "+")) text.remove_prefix(1);
  double result = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), result);
  if (text.empty() || error != std::errc() || end != text.data() + text.size())
    throw std::invalid_argument(Format("'%s' is not a valid floating point value", value.c_str()));
  return result;
}

// ---- Locks and events ----

std::mutex& FFmpegPreviewLock() {
  static std::mutex lock;
  return lock;
}

// ---- The task thread ----

TConvertThread::TConvertThread(TCustomFFmpeg* owner, TThreadPriority priority)
    : FOwner(owner), FPriority(priority) {}

TConvertThread::~TConvertThread() {
  if (FThread.joinable()) FThread.join();
}

void TConvertThread::Resume() {
  std::string failure;
  {
    const std::lock_guard<std::mutex> lock(FLock);
    FSuspended = false;
    if (!FStarted) {
      FStarted = true;
      try {
        FThread = std::thread(&TConvertThread::Execute, this);
        FThreadID = FThread.get_id();
      } catch (const std::system_error& e) {
        failure = e.what();
      }
    }
  }
  if (!failure.empty()) return FOwner->EndWithoutThread(failure);
  FGate.notify_all();
}

void TConvertThread::Suspend() {
  const std::lock_guard<std::mutex> lock(FLock);
  FSuspended = true;
}

bool TConvertThread::Suspended() {
  const std::lock_guard<std::mutex> lock(FLock);
  return FSuspended;
}

bool TConvertThread::IsCurrentThread() {
  const std::lock_guard<std::mutex> lock(FLock);
  return FStarted && FThreadID == std::this_thread::get_id();
}

void TConvertThread::WaitWhileSuspended() {
  std::unique_lock<std::mutex> lock(FLock);
  FGate.wait(lock, [this] { return !FSuspended; });
}

void TConvertThread::Execute() {
  ApplyPriority(FPriority);
  FOwner->RunToEnd();
}

// ---- Records ----

TDictionary::~TDictionary() { Clear(); }

TDictionary& TDictionary::operator=(TDictionary&& other) noexcept {
  if (this != &other) {
    Clear();
    Value = other.Value;
    other.Value = nullptr;
  }
  return *this;
}

void TDictionary::Clear() {
  if (Value) ff::av_dict_free(&Value);
}

TInputStream::~TInputStream() {
  if (Decoder) ff::avcodec_free_context(&Decoder);
  if (ToS16) ff::swr_free(&ToS16);
}

TOutputStream::~TOutputStream() {
  if (Encoder) {
    ff::av_freep(&Encoder->stats_in);
    ff::avcodec_free_context(&Encoder);
  }
  if (ImgResampleCtx) ff::sws_freeContext(ImgResampleCtx);
  if (ResampleFrame) ff::av_frame_free(&ResampleFrame);
  if (Graph) ff::avfilter_graph_free(&Graph);
  if (FilterFrame) ff::av_frame_free(&FilterFrame);
  if (HeldPicture) ff::av_frame_free(&HeldPicture);
  if (Resampler) ff::swr_free(&Resampler);
  if (Fifo) ff::av_audio_fifo_free(Fifo);
  if (AudioFrame) ff::av_frame_free(&AudioFrame);
  for (AVBSFContext*& filter : BitstreamFilters) ff::av_bsf_free(&filter);
  if (LogFile) std::fclose(LogFile);
}

TInputFile::~TInputFile() { UnicodeCloseInput(&Ctx); }

std::string TOutputFile::Close() {
  Streams.clear();
  if (!Ctx || !OwnsContext) return {};
  const int closed = UnicodeCloseOutput(Ctx);
  if (closed < 0) FFLogger().Log(nullptr, llError, AVErrorText(FileName, closed));
  const std::string failure = FileCreated ? SettleOutputFile(*this, closed >= 0) : std::string();
  ff::avformat_free_context(Ctx);
  Ctx = nullptr;
  return failure;
}

TOutputFile::~TOutputFile() {
  const std::string failure = Close();
  if (!failure.empty()) FFLogger().Log(nullptr, llError, failure);
}

// ---- Life cycle ----

TCustomFFmpeg::TCustomFFmpeg(int maxFiles) : FMaxFiles(maxFiles) {
  if (maxFiles < 1 || maxFiles > 512)
    throw std::out_of_range(Format("MaxFiles must lie in 1..512, not %d", maxFiles));
  if (LibrariesLoaded()) ResetOptions();
}

TCustomFFmpeg::~TCustomFFmpeg() {
  Abort(true);
  if (FTerminateThread.joinable()) {
    WaitServingMainThread(FTerminateEvent);
    FTerminateThread.join();
  }
  FThread.reset();
  Cleanup();
}

void TCustomFFmpeg::ResetOptions() {
  FSettings = TTaskSettings{};
  FPending = TFileSettings{};
  FStreamMaps.clear();
  FMetadataMaps.clear();
  FChapterMaps.clear();
  TotalTime = -1;
  ExceptionRaised = false;
  InitOptionContexts(FOptionContexts, FSettings.ScalerFlags);
}

TConvertThread* TCustomFFmpeg::Start(bool async, TThreadPriority priority) {
  {
    const std::lock_guard<std::mutex> lock(FStateLock);
    if (Running || Terminated || FEndPending) return nullptr;
    FEndPending = true;
  }
  const char* refusal = FOutputFiles.empty()  ? "At least one output file must be specified"
                        : FInputFiles.empty() ? "At least one input file must be specified"
                                              : nullptr;
  if (refusal) {
    Cleanup();
    ReportException(refusal);
    DoTerminate();
    return nullptr;
  }
  Aborting = false;
  Finished = false;
  if (!async) {
    Running = true;
    Convert();
    return nullptr;
  }
  // Before the thread exists, so that an Abort(true) right after Start waits for it.
  FConvertEvent.Reset();
  const std::lock_guard<std::mutex> lock(FStateLock);
  Running = true;
  FThread = std::make_unique<TConvertThread>(this, priority);
  FConvertThread = FThread.get();
  return FThread.get();
}

void TCustomFFmpeg::Convert() {
  Guarded([this] {
    Finished = false;
    // Aborted before it began: nothing is converted and the outputs are removed.
    if (!Aborting) TranscodeLoop();
    if (!ExceptionRaised) MarkOutputsComplete();
  });
  Guarded([this] { CloseOpenEncoders(); });
  Guarded([this] { CloseOpenDecoders(); });
  Guarded([this] { CloseOutputFiles(); });
  Guarded([this] { Cleanup(); });
  Guarded([this] { DoTerminate(); });
  // Completes whatever partial line this thread left in the log.
  Guarded([] { ff::av_log(nullptr, AV_LOG_QUIET, "%s", ""); });
}

// Nothing touches the task after the end event is set: its owner may free it then.
void TCustomFFmpeg::RunToEnd() {
  Convert();
  FConvertEvent.Set();
}

// Ends as a run aborted before it began: its outputs are removed and its end is reported.
void TCustomFFmpeg::EndWithoutThread(const std::string& reason) {
  ReportException("Cannot start the conversion's thread: " + reason);
  Aborting = true;
  RunToEnd();
}

void TCustomFFmpeg::Pause() {
  TConvertThread* thread = nullptr;
  {
    const std::lock_guard<std::mutex> lock(FStateLock);
    thread = FThread.get();
  }
  if (thread && !thread->Suspended()) thread->Suspend();
}

void TCustomFFmpeg::Resume() {
  TConvertThread* thread = nullptr;
  {
    const std::lock_guard<std::mutex> lock(FStateLock);
    thread = FThread.get();
  }
  if (thread && thread->Suspended()) thread->Resume();
}

void TCustomFFmpeg::Abort(bool wait) {
  Aborting = true;
  TConvertThread* thread = nullptr;
  {
    const std::lock_guard<std::mutex> lock(FStateLock);
    thread = FThread.get();
  }
  if (!thread) {
    IOStartTime = 0;
    return;
  }
  thread->Resume();
  // The task thread waiting for an event on the main thread cannot end while that event waits.
  if (wait && !thread->IsCurrentThread() && DispatchedEventTask != this)
    WaitServingMainThread(FConvertEvent);
}

void TCustomFFmpeg::Stop(bool wait) {
  std::unique_lock<std::mutex> lock(FStateLock);
  if (Running) {
    lock.unlock();
    Abort(wait);
    return;
  }
  if (Terminated) return;
  bool reportHere = false;
  if (!FEndPending) {
    FEndPending = true;
    FTerminateEvent.Reset();
    try {
      FTerminateThread = std::thread([this] {
        FTerminateThreadID = std::this_thread::get_id();
        ReportStop();
      });
    } catch (const std::system_error&) {
      reportHere = true;  // without a thread of its own, the end is reported by the caller
    }
  }
  lock.unlock();
  if (reportHere) return ReportStop();
  if (wait && FTerminateThreadID.load() != std::this_thread::get_id())
    WaitServingMainThread(FTerminateEvent);
}

void TCustomFFmpeg::ReportStop() {
  Guarded([this] { DoTerminate(); });
  FTerminateEvent.Set();
}

void TCustomFFmpeg::Cancel(bool wait) {
  // Before the abort, so that a run which sees the abort also sees this.
  FDiscardUnfinished = true;
  Stop(wait);
}

// A run stopped by the user keeps what it wrote unless the owner cancelled it: then the files
// it was to replace are worth more than the unfinished ones.
void TCustomFFmpeg::MarkOutputsComplete() {
  const bool discard = !Finished && FDiscardUnfinished;
  for (const auto& file : FOutputFiles) {
    if (!discard)
      file->Complete = true;
    else if (!file->Temp.Name().empty())
      LogFmt(llInfo, "Discarded the unfinished %s", UrlToWideFileName(file->FileName).c_str());
  }
}

// An output that could not take its name leaves the run unfinished, whatever it wrote: the owner
// hears where its data went.
void TCustomFFmpeg::CloseOutputFiles() {
  std::string failures;
  for (const auto& file : FOutputFiles) {
    const std::string failure = file->Close();
    if (!failure.empty()) failures += (failures.empty() ? "" : "; ") + failure;
  }
  if (failures.empty()) return;
  Finished = false;
  throw FFmpegException(failures);
}

void TCustomFFmpeg::DoTerminate() {
  {
    const std::lock_guard<std::mutex> lock(FStateLock);
    Running = false;
    Terminated = true;
    FConvertThread = nullptr;
  }
  if (OnTerminate) OnTerminate(this);
}

void TCustomFFmpeg::SynchronizeEvent(const std::function<void()>& method) {
  RunInMainThread([this, &method] {
    struct TDispatchScope {
      const TCustomFFmpeg* Outer = DispatchedEventTask;
      explicit TDispatchScope(const TCustomFFmpeg* task) { DispatchedEventTask = task; }
      ~TDispatchScope() { DispatchedEventTask = Outer; }
    } scope(this);
    method();
  });
}

void TCustomFFmpeg::CheckPaused() {
  TConvertThread* thread = nullptr;
  {
    const std::lock_guard<std::mutex> lock(FStateLock);
    thread = FThread.get();
  }
  if (thread && thread->IsCurrentThread()) thread->WaitWhileSuspended();
}

bool TCustomFFmpeg::InterruptCallback(void* data) {
  if (data != this || Timeout < 1) return false;
  const int64_t start = IOStartTime;
  if (ff::av_gettime() - start <= int64_t(Timeout) * 1000) return false;
  Log(llInfo,
      start == 0 ? "connecting/reading/writing canceled" : "connecting/reading/writing timeout");
  return true;
}

bool TCustomFFmpeg::BreakCallback(void* data) { return data == this && Aborting; }

void TCustomFFmpeg::Log(TLogLevel level, S text) { FFLogger().Log(this, level, text); }

void TCustomFFmpeg::LogFmt(TLogLevel level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = VFormat(format, args);
  va_end(args);
  Log(level, text);
}

void TCustomFFmpeg::ReportException(S message) {
  Log(llQuiet, message);
  ExceptionRaised = true;
  ExceptionMessage = message;
}

void TCustomFFmpeg::Guarded(const std::function<void()>& step) {
  try {
    step();
  } catch (const std::exception& e) {
    ReportException(e.what());
  } catch (...) {
    ReportException("Unknown exception");
  }
}

void TCustomFFmpeg::CloseOpenEncoders() {
  for (TOutputStream* ost : FOpenEncoders) ost->Threaded.reset();  // closes its own instances
  const TCodecLock lock;
  for (TOutputStream* ost : FOpenEncoders) {
    ff::av_freep(&ost->Encoder->stats_in);
    ff::avcodec_free_context(&ost->Encoder);
  }
  FOpenEncoders.clear();
}

void TCustomFFmpeg::CloseOpenDecoders() {
  const TCodecLock lock;
  for (TInputStream* ist : FOpenDecoders) ff::avcodec_free_context(&ist->Decoder);
  FOpenDecoders.clear();
}

void TCustomFFmpeg::Cleanup() {
  if (!LibrariesLoaded()) return;
  // The codecs still open go with their streams.
  FOpenEncoders.clear();
  FOpenDecoders.clear();
  FOutputFiles.clear();
  FInputStreams.clear();
  FInputFiles.clear();
  FStreamMaps.clear();
  FMetadataMaps.clear();
  FChapterMaps.clear();
  FPending = TFileSettings{};
  FSettings.RcOverride.clear();
  FSettings.PassLogFileName.clear();
  FSettings.VStatsFileName.clear();
  FSettings.VideoStandard.clear();
  FSettings.IntraMatrix.clear();
  FSettings.InterMatrix.clear();
  if (FVStatsFile) std::fclose(FVStatsFile);
  FVStatsFile = nullptr;
  FreeOptionContexts(FOptionContexts);
  FFrameHooks.FrameHookRelease();
  FreeRunFrames();
}
