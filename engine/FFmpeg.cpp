#include "FFmpeg.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "FFLoad.h"
#include "UnicodeProtocol.h"

namespace {

using S = const std::string&;

// Sanity bound of the per-stream input time scales.
constexpr int MaxStreams = 1024;

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

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = VFormat(format, args);
  va_end(args);
  return text;
}

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// A flag option is set by any value but "0".
bool Flag(S value) { return value != "0"; }

bool LibrariesLoaded() {
  return FFLoader().Loaded(LibraryBit(libAVCodec) | LibraryBit(libAVFormat) |
                           LibraryBit(libAVUtil) | LibraryBit(libSWScale));
}

template <typename T>
void GrowArray(std::vector<T>& array, size_t newCount) {
  if (newCount >= size_t(INT_MAX) / sizeof(T)) throw std::runtime_error("Array too big.");
  if (newCount > array.size()) array.resize(newCount);
}

void SetDictionary(AVDictionary** dictionary, S key, S value) {
  if (ff::av_dict_set(dictionary, key.c_str(), value.c_str(), 0) < 0)
    throw std::runtime_error("Could not alloc buffer.");
}

bool InterruptProc(void* owner) {
  return static_cast<TCustomFFmpeg*>(owner)->InterruptCallback(owner);
}

// The main thread, while it runs an event of a task that the task's thread waits for.
thread_local const TCustomFFmpeg* DispatchedEventTask = nullptr;

// A blocking library call of the calling thread: the task's time-out test answers for it.
class TBlockingIO {
 public:
  explicit TBlockingIO(TCustomFFmpeg& task) : FTask(task) {
    InterruptCB().Add(std::this_thread::get_id(), &task, InterruptProc);
    task.IOStartTime = ff::av_gettime();
  }
  ~TBlockingIO() {
    FTask.IOStartTime = INT64_MAX;
    InterruptCB().Remove(std::this_thread::get_id(), &FTask, InterruptProc);
  }
  TBlockingIO(const TBlockingIO&) = delete;
  TBlockingIO& operator=(const TBlockingIO&) = delete;

 private:
  TCustomFFmpeg& FTask;
};

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

// Deletes an output that this run created but left without content: it stayed empty, or never
// got its header (it could not be played).
void DeleteUnfinishedFile(S url, bool headerWritten) {
  if (!IsLocalFileUrl(url)) return;
  const std::string path = UrlToWideFileName(url);
  const int64_t size = WideFileSize(path);
  if (size < 0 || (headerWritten && size > 0)) return;
  if (std::remove(path.c_str()) != 0)
    FFLogger().LogFmt(nullptr, llError, "Could not delete %s: %s", path.c_str(),
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

void TManualEvent::Set() {
  const std::lock_guard<std::mutex> lock(FLock);
  FSignalled = true;
  FChanged.notify_all();
}

void TManualEvent::Reset() {
  const std::lock_guard<std::mutex> lock(FLock);
  FSignalled = false;
}

bool TManualEvent::Signalled() {
  const std::lock_guard<std::mutex> lock(FLock);
  return FSignalled;
}

bool TManualEvent::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(FLock);
  return FChanged.wait_for(lock, timeout, [this] { return FSignalled; });
}

// ---- The task thread ----

TConvertThread::TConvertThread(TCustomFFmpeg* owner, TThreadPriority priority)
    : FOwner(owner), FPriority(priority) {}

TConvertThread::~TConvertThread() {
  if (FThread.joinable()) FThread.join();
}

void TConvertThread::Resume() {
  {
    const std::lock_guard<std::mutex> lock(FLock);
    FSuspended = false;
    if (!FStarted) {
      FStarted = true;
      FThread = std::thread(&TConvertThread::Execute, this);
      FThreadID = FThread.get_id();
    }
  }
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

// Task thread. Nothing touches the task after the end event is set: its owner may free it then.
void TConvertThread::Execute() {
  ApplyPriority(FPriority);
  FOwner->Convert();
  FOwner->FConvertEvent.Set();
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
  if (Resampler) ff::swr_free(&Resampler);
  if (Fifo) ff::av_audio_fifo_free(Fifo);
  for (AVBSFContext*& filter : BitstreamFilters) ff::av_bsf_free(&filter);
  if (LogFile) std::fclose(LogFile);
}

TInputFile::~TInputFile() { UnicodeCloseInput(&Ctx); }

TOutputFile::~TOutputFile() {
  Streams.clear();
  if (!Ctx || !OwnsContext) return;
  const int closed = UnicodeCloseOutput(Ctx);
  if (closed < 0) FFLogger().Log(nullptr, llError, AVErrorText(FileName, closed));
  if (FileCreated) DeleteUnfinishedFile(FileName, HeaderWritten);
  ff::avformat_free_context(Ctx);
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
    WaitForEnd(FTerminateEvent);
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
  });
  Guarded([this] { CloseOpenEncoders(); });
  Guarded([this] { CloseOpenDecoders(); });
  Guarded([this] { Cleanup(); });
  Guarded([this] { DoTerminate(); });
  // Completes whatever partial line this thread left in the log.
  Guarded([] { ff::av_log(nullptr, AV_LOG_QUIET, "%s", ""); });
}

// The whole run: the set-up, the main loop and its end over the opened files.
void TCustomFFmpeg::TranscodeLoop() {}

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
  if (wait && !thread->IsCurrentThread() && DispatchedEventTask != this) WaitForEnd(FConvertEvent);
}

void TCustomFFmpeg::Stop(bool wait) {
  std::unique_lock<std::mutex> lock(FStateLock);
  if (Running) {
    lock.unlock();
    Abort(wait);
    return;
  }
  if (Terminated) return;
  if (!FEndPending) {
    FEndPending = true;
    FTerminateEvent.Reset();
    FTerminateThread = std::thread([this] {
      FTerminateThreadID = std::this_thread::get_id();
      Guarded([this] { DoTerminate(); });
      FTerminateEvent.Set();
    });
  }
  lock.unlock();
  if (wait && FTerminateThreadID.load() != std::this_thread::get_id())
    WaitForEnd(FTerminateEvent);
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

void TCustomFFmpeg::WaitForEnd(TManualEvent& event) {
  const bool mainThread = IsMainThread();
  while (!event.WaitFor(std::chrono::milliseconds(20))) {
    if (!mainThread) continue;
    CheckSynchronize(0);
    ProcessMessages();
  }
}

bool TCustomFFmpeg::InterruptCallback(void* data) {
  if (data != this || Timeout < 1) return false;
  const int64_t start = IOStartTime;
  if (ff::av_gettime() - start <= int64_t(Timeout) * 1000) return false;
  Log(llInfo, start == 0 ? "connecting/reading/writing canceled"
                         : "connecting/reading/writing timeout");
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
  ff::av_freep(&FInputHookBuffer);
  ff::av_freep(&FOutputHookBuffer);
  FInputHookBufferSize = 0;
  FOutputHookBufferSize = 0;
}

// ---- Option vocabulary ----

const std::vector<TCustomFFmpeg::TOptionEntry>& TCustomFFmpeg::OptionTable() {
  using T = TCustomFFmpeg;
  constexpr int Video = AVMEDIA_TYPE_VIDEO, Audio = AVMEDIA_TYPE_AUDIO,
                Data = AVMEDIA_TYPE_DATA, Subtitle = AVMEDIA_TYPE_SUBTITLE;
  const TOptionHandler none = [](T& t, S n, S) { t.OptNoOperation(n); };
  const TOptionHandler map = [](T& t, S, S v) { t.OptMapMetadata(v); };
  const TOptionHandler bitrate = [](T& t, S n, S v) { t.OptBitrate(n, v); };
  const TOptionHandler codec = [](T& t, S n, S v) { t.OptCodec(n, v); };
  const TOptionHandler tag = [](T& t, S n, S v) { t.OptCodecTag(n, v); };
  const TOptionHandler newStream = [](T& t, S n, S) { t.NewStream(n); };
  const TOptionHandler filters = [](T& t, S, S v) { t.OptVideoFilters(v); };
  const TOptionHandler bsf = [](T& t, S n, S v) { t.OptBitstreamFilter(n, v); };
  const TOptionHandler preset = [](T& t, S, S v) { t.OptPresetFile(v); };
  const TOptionHandler crop = [](T&, S, S) -> void {
    throw FFmpegException("Removed, use the crop filter instead");
  };
  const TOptionHandler pad = [](T&, S, S) -> void {
    throw FFmpegException("Removed, use the pad filter instead");
  };
  static const std::vector<TOptionEntry> table = {
      {"L", none}, {"h", none}, {"version", none}, {"formats", none}, {"codecs", none},
      {"bsfs", none}, {"protocols", none}, {"filters", none},
      {"loglevel", [](T&, S, S v) { FFLogger().SetLogLevelByName(v); }},
      {"f", [](T& t, S, S v) { if (!v.empty()) t.FPending.Format = v; }},
      {"i", none}, {"y", none},
      {"map", [](T& t, S, S v) { t.OptMap(v); }},
      {"map_meta_data",
       [](T& t, S, S v) {
         t.Log(llWarning,
               "-map_meta_data is deprecated and will be removed soon. Use -map_metadata instead.");
         t.OptMapMetadata(v);
       }},
      {"map_metadata", map},
      {"map_chapters", [](T& t, S, S v) { t.OptMapChapters(v); }},
      {"t", [](T& t, S n, S v) { t.SetRecordingTime(t.ParseTimeOption(n, v, true)); }},
      {"fs", [](T& t, S, S v) { t.FSettings.LimitFileSize = OptionToInt64(v); }},
      {"ss", [](T& t, S n, S v) { t.SetStartTime(t.ParseTimeOption(n, v, true)); }},
      {"itsoffset", [](T& t, S n, S v) { t.FSettings.InputTsOffset = t.ParseTimeOption(n, v, true); }},
      {"itsscale", [](T& t, S, S v) { t.OptInputTsScale(v); }},
      {"timestamp",
       [](T& t, S n, S v) { t.SetRecordingTimestamp(t.ParseTimeOption(n, v, false) / 1000000); }},
      {"metadata", [](T& t, S, S v) { t.OptMetadata(v); }},
      {"dframes", [](T& t, S, S v) { t.FSettings.MaxFrames[Data] = OptionToInt(v); }},
      {"benchmark", none},
      {"timelimit",
       [](T& t, S, S) { t.Log(llWarning, "Warning: -timelimit not implemented on Windows"); }},
      {"dump", [](T& t, S, S v) { t.FSettings.DoPktDump = Flag(v); }},
      {"hex", [](T& t, S, S v) { t.FSettings.DoHexDump = Flag(v); }},
      {"re", [](T& t, S, S v) { t.FSettings.RateEmu = Flag(v); }},
      {"loop_input", [](T& t, S, S v) { t.FSettings.LoopInput = Flag(v); }},
      {"loop_output", [](T& t, S, S v) { t.FSettings.LoopOutput = OptionToInt(v); }},
      {"v", [](T& t, S, S v) { t.SetVerbose(OptionToInt(v)); }},
      {"target", [](T& t, S, S v) { t.OptTarget(v, ""); }},
      {"threads", [](T& t, S, S v) { t.OptThreads(v); }},
      {"vsync", [](T& t, S, S v) { t.FSettings.VideoSyncMethod = OptionToInt(v); }},
      {"async", [](T& t, S, S v) { t.FSettings.AudioSyncMethod = OptionToInt(v); }},
      {"adrift_threshold", [](T& t, S, S v) { t.FSettings.AudioDriftThreshold = OptionToFloat(v); }},
      {"copyts", [](T& t, S, S v) { t.FSettings.CopyTs = Flag(v); }},
      {"copytb", [](T& t, S, S v) { t.FSettings.CopyTb = Flag(v); }},
      {"shortest", [](T& t, S, S v) { t.FSettings.Shortest = Flag(v); }},
      {"dts_delta_threshold", [](T& t, S, S v) { t.FSettings.DtsDeltaThreshold = OptionToFloat(v); }},
      {"programid", [](T& t, S, S v) { t.SetProgramID(OptionToInt(v)); }},
      {"xerror", [](T& t, S, S v) { t.FSettings.ExitOnError = Flag(v); }},
      {"copyinkf", [](T& t, S, S v) { t.FSettings.CopyInitialNonKeyFrames = OptionToInt(v); }},
      {"b", bitrate}, {"vb", bitrate},
      {"vframes", [](T& t, S, S v) { t.FSettings.MaxFrames[Video] = OptionToInt(v); }},
      {"r", [](T& t, S, S v) { t.OptFrameRate(v); }},
      {"s", [](T& t, S, S v) { t.OptFrameSize(v); }},
      {"aspect", [](T& t, S, S v) { t.OptFrameAspectRatio(v); }},
      {"pix_fmt", [](T& t, S, S v) { t.OptPixelFormat(v); }},
      {"bits_per_raw_sample", [](T& t, S, S v) { t.FSettings.FrameBitsPerRawSample = OptionToInt(v); }},
      {"croptop", crop}, {"cropbottom", crop}, {"cropleft", crop}, {"cropright", crop},
      {"padtop", pad}, {"padbottom", pad}, {"padleft", pad}, {"padright", pad}, {"padcolor", pad},
      {"intra", [](T& t, S, S v) { t.FSettings.IntraOnly = Flag(v); }},
      {"vn", [](T& t, S, S v) { t.FPending.Kinds[Video].Disabled = Flag(v); }},
      {"vdt", [](T& t, S, S v) { t.FSettings.VideoDiscard = OptionToInt(v); }},
      {"qscale", [](T& t, S, S v) { t.OptQScale(v); }},
      {"rc_override", [](T& t, S, S v) { t.FSettings.RcOverride = v; }},
      {"vcodec", codec},
      {"me_threshold", [](T& t, S, S v) { t.FSettings.MeThreshold = OptionToInt(v); }},
      {"sameq", [](T& t, S, S v) { t.FSettings.SameQuality = Flag(v); }},
      {"deinterlace", [](T& t, S, S v) { t.FSettings.DoDeinterlace = Flag(v); }},
      {"psnr", [](T& t, S, S v) { t.FSettings.DoPSNR = Flag(v); }},
      {"pass", [](T& t, S, S v) { t.OptPass(v); }},
      {"passlogfile", [](T& t, S, S v) { t.FSettings.PassLogFileName = v; }},
      {"vstats", [](T& t, S, S v) { t.OptVStats(v); }},
      {"vstats_file", [](T& t, S, S v) { t.FSettings.VStatsFileName = v; }},
      {"vhook", [](T& t, S, S v) { t.OptVideoHook(v); }},
      {"vfilters", filters}, {"vf", filters},
      {"intra_matrix", [](T& t, S, S v) { t.OptMatrix(t.FSettings.IntraMatrix, v); }},
      {"inter_matrix", [](T& t, S, S v) { t.OptMatrix(t.FSettings.InterMatrix, v); }},
      {"top", [](T& t, S, S v) { t.FSettings.TopFieldFirst = OptionToInt(v); }},
      {"dc", [](T& t, S, S v) { t.FSettings.IntraDcPrecision = OptionToInt(v); }},
      {"vtag", tag},
      {"newvideo", newStream},
      {"vlang", [](T& t, S, S v) { t.FPending.Kinds[Video].Language = v; }},
      {"qphist", [](T& t, S, S v) { t.FSettings.QpHist = Flag(v); }},
      {"force_fps", [](T& t, S, S v) { t.FSettings.ForceFps = Flag(v); }},
      {"streamid", [](T& t, S n, S v) { t.OptStreamID(n, v); }},
      {"force_key_frames", [](T& t, S, S v) { t.FPending.ForcedKeyFrames = v; }},
      {"ab", bitrate},
      {"aframes", [](T& t, S, S v) { t.FSettings.MaxFrames[Audio] = OptionToInt(v); }},
      {"aq", [](T& t, S, S v) { t.FSettings.AudioQScale = OptionToFloat(v); }},
      {"ar", [](T& t, S, S v) { t.OptAudioRate(OptionToInt(v)); }},
      {"ac", [](T& t, S, S v) { t.OptAudioChannels(OptionToInt(v)); }},
      {"an", [](T& t, S, S v) { t.FPending.Kinds[Audio].Disabled = Flag(v); }},
      {"acodec", codec},
      {"atag", tag},
      {"vol", [](T& t, S, S v) { t.SetVolume(OptionToInt(v)); }},
      {"newaudio", newStream},
      {"alang", [](T& t, S, S v) { t.FPending.Kinds[Audio].Language = v; }},
      {"sample_fmt", [](T& t, S, S v) { t.OptSampleFormat(v); }},
      {"sn", [](T& t, S, S v) { t.FPending.Kinds[Subtitle].Disabled = Flag(v); }},
      {"scodec", codec},
      {"newsubtitle", newStream},
      {"slang", [](T& t, S, S v) { t.FPending.Kinds[Subtitle].Language = v; }},
      {"stag", tag},
      {"vc", [](T& t, S, S v) { t.FSettings.VideoChannel = OptionToInt(v); }},
      {"tvstd", [](T& t, S, S v) { t.FSettings.VideoStandard = v; }},
      {"isync", [](T& t, S, S v) { t.FSettings.InputSync = Flag(v); }},
      {"muxdelay", [](T& t, S, S v) { t.SetMuxDelay(OptionToFloat(v)); }},
      {"muxpreload", [](T& t, S, S v) { t.SetMuxPreload(OptionToFloat(v)); }},
      {"absf", bsf}, {"vbsf", bsf}, {"sbsf", bsf},
      {"apre", preset}, {"vpre", preset}, {"spre", preset}, {"fpre", preset},
      {"dcodec", codec},
  };
  return table;
}

std::vector<std::string> TCustomFFmpeg::OptionNames() {
  std::vector<std::string> names;
  for (const TOptionEntry& entry : OptionTable()) names.emplace_back(entry.Name);
  return names;
}

void TCustomFFmpeg::ParseOption(S name, S value) {
  for (const TOptionEntry& entry : OptionTable()) {
    if (name == entry.Name) {
      entry.Handler(*this, name, value);
      return;
    }
  }
  SetGenericOption(name, value);
}

bool TCustomFFmpeg::SetGenericOption(S name, S value) {
  if (OptDefault(FOptionContexts, name, value)) return true;
  if (RaiseOptionErrors) throw FFmpegException(LastOptionError());
  return false;
}

void TCustomFFmpeg::OptNoOperation(S name) { Log(llInfo, "Do nothing: option - " + name); }

void TCustomFFmpeg::OptBitrate(S name, S value) {
  if (!SetGenericOption(name, value)) return;
  const int kind = name[0] == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO;
  if (FOptionContexts.CodecContexts[kind]->bit_rate < 1000)
    Log(llWarning,
        "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
}

void TCustomFFmpeg::OptPresetFile(S fileName) {
  std::ifstream file(fileName, std::ios::binary);
  if (!WideFileExists(fileName) || !file)
    throw FFmpegException(Format("Preset file \"%s\" not found", fileName.c_str()));
  std::stringstream content;
  content << file.rdbuf();
  std::string text = content.str();
  std::replace(text.begin(), text.end(), '\r', '\n');
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const std::string trimmed(Trim(line));
    if (!trimmed.empty() && trimmed[0] != '#') ApplyPresetLine(fileName, trimmed);
  }
}

void TCustomFFmpeg::ApplyPresetLine(S fileName, S line) {
  const size_t equals = line.find('=');
  const std::string name = line.substr(0, equals);
  const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
  if (name.empty() || value.empty())
    throw FFmpegException(
        Format("%s: Invalid syntax: \"%s\"", fileName.c_str(), line.c_str()));
  try {
    ParseOption(name, value);
  } catch (const std::exception& e) {
    const std::string text =
        Format("%s\r\n%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"", e.what(),
               fileName.c_str(), line.c_str(), name.c_str(), value.c_str());
    if (RaiseOptionErrors) throw FFmpegException(text);
    Log(llWarning, text);
  }
}

// ---- Option routines ----

namespace {

// A C integer at the start of the text (as strtol reads it); the text moves past it.
long LeadingInteger(const char*& text) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 0);
  text = end;
  return value;
}

void SkipOne(const char*& text) {
  if (*text) ++text;
}

AVMediaType KindOfOption(S name, const char* const names[4]) {
  static const AVMediaType kinds[4] = {AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_VIDEO,
                                       AVMEDIA_TYPE_SUBTITLE, AVMEDIA_TYPE_DATA};
  for (int n = 0; n < 4; ++n)
    if (names[n] && name == names[n]) return kinds[n];
  return AVMEDIA_TYPE_UNKNOWN;
}

}  // namespace

void TCustomFFmpeg::OptCodec(S name, S value) {
  static const char* const names[4] = {"acodec", "vcodec", "scodec", "dcodec"};
  const AVMediaType kind = KindOfOption(name, names);
  if (kind == AVMEDIA_TYPE_UNKNOWN)
    throw FFmpegException(Format("Invalid parameter \"%s\"", name.c_str()));
  TKindSettings& settings = FPending.Kinds[kind];
  settings.StreamCopy = value == "copy";
  settings.CodecName = settings.StreamCopy ? std::string() : value;
}

void TCustomFFmpeg::OptCodecTag(S name, S value) {
  static const char* const names[4] = {"atag", "vtag", "stag", nullptr};
  const AVMediaType kind = KindOfOption(name, names);
  if (kind == AVMEDIA_TYPE_UNKNOWN)
    throw FFmpegException(Format("Invalid tag parmeter %s", name.c_str()));
  uint32_t tag = 0;
  try {
    tag = uint32_t(OptionToInt64(value));
  } catch (const std::invalid_argument&) {
    if (value.size() != 4) throw FFmpegException("tag parameter must be 4 chars or int value");
    for (int n = 3; n >= 0; --n) tag = tag << 8 | uint8_t(value[size_t(n)]);
  }
  FPending.Kinds[kind].CodecTag = tag;
}

void TCustomFFmpeg::OptFrameRate(S value) {
  if (ff::av_parse_video_rate(&FPending.FrameRate, value.c_str()) < 0)
    throw FFmpegException("Incorrect frame rate");
}

void TCustomFFmpeg::OptFrameSize(S value) {
  if (ff::av_parse_video_size(&FPending.FrameWidth, &FPending.FrameHeight, value.c_str()) < 0)
    throw FFmpegException("Incorrect frame size");
}

void TCustomFFmpeg::OptFrameAspectRatio(S value) {
  double ratio = 0;
  try {
    const size_t colon = value.find(':');
    if (colon == std::string::npos) {
      ratio = OptionToFloat(value);
    } else {
      const double width = OptionToFloat(value.substr(0, colon));
      const double height = OptionToFloat(value.substr(colon + 1));
      if (width != 0 && height != 0) ratio = width / height;
    }
  } catch (const std::invalid_argument&) {
    ratio = 0;
  }
  if (!(ratio > 0) || std::isinf(ratio)) throw FFmpegException("Incorrect aspect ratio specification.");
  FPending.FrameAspectRatio = ratio;
}

void TCustomFFmpeg::OptVideoFilters(S value) {
  if (value.empty()) return;
  FPending.VideoFilters = value;
  FSettings.UseFilters = true;
}

void TCustomFFmpeg::OptPixelFormat(S value) {
  if (value == "list") {
    char line[128];
    for (int format = -1; format < AV_PIX_FMT_NB; ++format)
      Log(llInfo, ff::av_get_pix_fmt_string(line, sizeof line, AVPixelFormat(format)));
    return;
  }
  const AVPixelFormat format = ff::av_get_pix_fmt(value.c_str());
  if (format == AV_PIX_FMT_NONE)
    throw FFmpegException(Format("Unknown pixel format requested: %s", value.c_str()));
  FPending.FramePixFmt = format;
}

void TCustomFFmpeg::OptSampleFormat(S value) {
  if (value == "list") {
    char line[128];
    for (int format = -1; format < AV_SAMPLE_FMT_NB; ++format)
      Log(llInfo, ff::av_get_sample_fmt_string(line, sizeof line, AVSampleFormat(format)));
    return;
  }
  const AVSampleFormat format = ff::av_get_sample_fmt(value.c_str());
  if (format == AV_SAMPLE_FMT_NONE)
    throw FFmpegException(Format("Invalid sample format \"%s\"", value.c_str()));
  FPending.AudioSampleFmt = format;
}

void TCustomFFmpeg::OptQScale(S value) {
  const double quality = OptionToFloat(value);
  if (!(quality > 0 && quality <= 255)) throw FFmpegException("qscale must be > 0.0 and <= 255");
  FSettings.VideoQScale = quality;
}

void TCustomFFmpeg::OptPass(S value) {
  const int pass = OptionToInt(value);
  if (pass != 1 && pass != 2) throw FFmpegException("pass number can be only 1 or 2");
  FSettings.DoPass = pass;
}

void TCustomFFmpeg::OptMatrix(std::vector<uint16_t>& matrix, S value) {
  std::vector<uint16_t> coefficients(64);
  const char* text = value.c_str();
  for (int n = 0;; ++n) {
    const char* start = text;
    const long coefficient = LeadingInteger(text);
    if (text == start || coefficient < 1 || coefficient > UINT16_MAX)
      throw FFmpegException(Format("Syntax error in matrix \"%s\" at coeff %d", value.c_str(), n));
    coefficients[size_t(n)] = uint16_t(coefficient);
    if (n == 63) break;
    text = std::strchr(text, ',');
    if (!text)
      throw FFmpegException(Format("Syntax error in matrix \"%s\" at coeff %d", value.c_str(), n));
    ++text;
  }
  matrix = std::move(coefficients);
}

void TCustomFFmpeg::OptVStats(S value) {
  if (!Flag(value)) return;
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  const std::string folder =
      error ? std::string() : WideIncludeTrailingBackslash(program.parent_path().string());
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char time[16];
  std::strftime(time, sizeof time, "%H%M%S", &local);
  FSettings.VStatsFileName = Format("%svstats_%s.log", folder.c_str(), time);
}

// "library|arg|arg" when the text holds a "|", else words separated by blanks.
void TCustomFFmpeg::OptVideoHook(S value) {
  constexpr size_t MaxWords = 254;
  const char separator = value.find('|') != std::string::npos ? '|' : ' ';
  std::vector<std::string> words;
  std::istringstream text(value);
  for (std::string word; words.size() < MaxWords && std::getline(text, word, separator);)
    if (!word.empty()) words.push_back(word);
  if (words.empty() || FFrameHooks.FrameHookAdd(words) < 0)
    throw FFmpegException("Failed to add video hook function: " + value);
}

void TCustomFFmpeg::OptBitstreamFilter(S name, S value) {
  static const char* const names[4] = {"absf", "vbsf", "sbsf", nullptr};
  const AVMediaType kind = KindOfOption(name, names);
  const size_t equals = value.find('=');
  const std::string filterName = value.substr(0, equals);
  TBitstreamFilterSpec spec;
  spec.Filter = ff::av_bsf_get_by_name(filterName.c_str());
  if (!spec.Filter)
    throw FFmpegException(Format("Unknown bitstream filter %s", filterName.c_str()));
  if (equals != std::string::npos) spec.Arguments = value.substr(equals + 1);
  FPending.Kinds[kind].BitstreamFilters.push_back(std::move(spec));
}

void TCustomFFmpeg::OptAudioRate(int value) {
  if (value > 0) FPending.AudioSampleRate = value;
}

void TCustomFFmpeg::OptAudioChannels(int value) {
  if (value > 0) FPending.AudioChannels = value;
}

void TCustomFFmpeg::OptThreads(S value) {
  FSettings.ThreadCount = OptionToInt(value);
  if (FSettings.Verbose >= 0)
    Log(llVerbose,
        "Warning: if the ffmpeg libraries were not compiled with thread support, it would be "
        "using thread emulation.");
}

void TCustomFFmpeg::OptMetadata(S value) {
  const size_t equals = value.find('=');
  if (equals == std::string::npos) throw FFmpegException("Missing =");
  if (equals == 0) throw FFmpegException("wrong parameter of metadata");
  SetMetadata(value.substr(0, equals), value.substr(equals + 1));
}

// "file.stream[:syncfile.syncstream]".
void TCustomFFmpeg::OptMap(S value) {
  TStreamMap map;
  const char* text = value.c_str();
  map.FileIndex = int(LeadingInteger(text));
  SkipOne(text);
  map.StreamIndex = int(LeadingInteger(text));
  map.SyncFileIndex = map.FileIndex;
  map.SyncStreamIndex = map.StreamIndex;
  if (*text) {
    ++text;
    map.SyncFileIndex = int(LeadingInteger(text));
    SkipOne(text);
    map.SyncStreamIndex = int(LeadingInteger(text));
  }
  FStreamMaps.push_back(map);
}

namespace {

// ",t[index]" after a file number; no comma means global.
TMetadataSpec ParseMetadataSpec(const char*& text) {
  TMetadataSpec spec;
  spec.File = int(LeadingInteger(text));
  if (*text != ',') return spec;
  spec.Type = *++text;
  switch (spec.Type) {
    case 'g': SkipOne(text); break;
    case 's':
    case 'c':
    case 'p': spec.Index = int(LeadingInteger(++text)); break;
    default: throw FFmpegException(Format("Invalid metadata type %c.", spec.Type));
  }
  return spec;
}

}  // namespace

// "outfile[,type[index]]:infile[,type[index]]". A map of a kind ends its automatic copying.
void TCustomFFmpeg::OptMapMetadata(S value) {
  const char* text = value.c_str();
  TMetadataMap map;
  map.Output = ParseMetadataSpec(text);
  SkipOne(text);
  map.Input = ParseMetadataSpec(text);
  for (const char type : {map.Output.Type, map.Input.Type}) {
    if (type == 'g') FMetadataGlobalAutoCopy = false;
    if (type == 's') FMetadataStreamsAutoCopy = false;
    if (type == 'c') FMetadataChaptersAutoCopy = false;
  }
  FMetadataMaps.push_back(map);
}

// "outfile:infile".
void TCustomFFmpeg::OptMapChapters(S value) {
  const char* text = value.c_str();
  TChapterMap map;
  map.OutFile = int(LeadingInteger(text));
  SkipOne(text);
  map.InFile = int(LeadingInteger(text));
  FChapterMaps.push_back(map);
}

// "stream:scale" for the next input.
void TCustomFFmpeg::OptInputTsScale(S value) {
  const size_t colon = value.find(':');
  const int stream = OptionToInt(value.substr(0, colon));
  const double scale = colon == std::string::npos ? 0 : OptionToFloat(value.substr(colon + 1));
  if (stream < 0 || stream >= MaxStreams)
    throw FFmpegException(Format("stream index over MAX_STREAMS(%d)", MaxStreams));
  GrowArray(FPending.InputTsScale, size_t(stream) + 1);
  FPending.InputTsScale[size_t(stream)] = scale;
}

void TCustomFFmpeg::OptStreamID(S name, S value) {
  const size_t colon = value.find(':');
  int index = -1, id = 0;
  try {
    if (colon != std::string::npos) {
      index = OptionToInt(value.substr(0, colon));
      id = OptionToInt(value.substr(colon + 1));
    }
  } catch (const std::invalid_argument&) {
    index = -1;
  }
  if (index < 0)
    throw FFmpegException(
        Format("Invalid value \"%s\" for option \"%s\", required syntax is \"index:value\"",
               value.c_str(), name.c_str()));
  GrowArray(FPending.StreamIDs, size_t(index) + 1);
  FPending.StreamIDs[size_t(index)] = id;
}

void TCustomFFmpeg::SetStartTime(int64_t value) {
  if (value == AV_NOPTS_VALUE) return;
  FSettings.StartTime = value;
  UpdateTotalTime();
}

void TCustomFFmpeg::SetRecordingTime(int64_t value) {
  if (value == AV_NOPTS_VALUE) return;
  FSettings.RecordingTime = value;
  UpdateTotalTime();
}

void TCustomFFmpeg::SetRecordingTimestamp(int64_t seconds) {
  FSettings.RecordingTimestamp = seconds;
}

void TCustomFFmpeg::SetProgramID(int value) {
  if (value >= 0) FSettings.ProgramID = value;
}

void TCustomFFmpeg::SetVolume(int value) {
  if (value >= 0) FSettings.AudioVolume = value;
}

void TCustomFFmpeg::SetMuxDelay(double value) {
  if (value > 0) FSettings.MuxDelay = value;
}

void TCustomFFmpeg::SetMuxPreload(double value) {
  if (value > 0) FSettings.MuxPreload = value;
}

void TCustomFFmpeg::SetVerbose(int value) { FSettings.Verbose = value; }

void TCustomFFmpeg::SetMetadata(S key, S value) {
  SetDictionary(&FPending.Metadata.Value, key, value);
}

void TCustomFFmpeg::SetHookBitsPixel(int value) {
  FInputConverter.SetBitsPixel(value);
  FOutputConverter.SetBitsPixel(value);
}

void TCustomFFmpeg::SetPreviewFlags(uint8_t flags) {
  FPreviewFlags = flags;
  if (!(flags & 1)) FPreviewer.reset();
}

void TCustomFFmpeg::SetPreviewFlagsLocked(uint8_t flags) {
  std::unique_ptr<TPreviewer> closing;
  {
    const std::lock_guard<std::mutex> lock(FFmpegPreviewLock());
    FPreviewFlags = flags;
    FPreviewReconvert = true;
    if (!(flags & 1)) closing = std::move(FPreviewer);
  }
  // Freed outside the lock: from a worker, freeing the window waits for the main thread.
}

int64_t TCustomFFmpeg::ParseTimeOption(S name, S value, bool isDuration) {
  int64_t time = 0;
  if (ff::av_parse_time(&time, value.c_str(), isDuration) < 0)
    throw FFmpegException(Format("Invalid %s specification for %s: %s",
                                 isDuration ? "duration" : "date", name.c_str(), value.c_str()));
  return time;
}

std::vector<int64_t> TCustomFFmpeg::ForcedKeyFrameTimes(S text) {
  std::vector<int64_t> times;
  std::istringstream entries(text);
  for (std::string entry; std::getline(entries, entry, ',');)
    times.push_back(ParseTimeOption("force_key_frames", entry, true));
  return times;
}

void TCustomFFmpeg::ParseForcedKeyFrames(S text, TOutputStream& ost,
                                         const AVCodecContext& encoder) {
  ost.ForcedKfPts.clear();
  for (const int64_t time : ForcedKeyFrameTimes(text))
    ost.ForcedKfPts.push_back(ff::av_rescale_q(time, AV_TIME_BASE_Q, encoder.time_base));
  ost.ForcedKfIndex = 0;
}

// ---- Target presets ----

enum TNorm { nmPAL, nmNTSC, nmFILM };

struct TTargetPreset {
  const char* Name;
  const char* Format;
  const char* VideoCodec;
  const char* AudioCodec;
  const char* SizeNTSC;
  const char* SizePAL;
  const char* PixFmtNTSC;
  const char* PixFmtPAL;
  const char* GopNTSC;
  const char* GopPAL;
  const char* Bitrate;
  const char* MaxRate;
  const char* MinRate;
  const char* BufSize;
  // The "+scan_offset" flag of older encoders is the encoder's own option now.
  const char* ScanOffset;
  const char* AudioBitrate;
  const char* SampleRate;
  const char* PacketSize;
  // The multiplexer's own option, passed on when the header is written.
  const char* MuxRate;
  const char* Aspect;  // when none is pending
};

const TTargetPreset TargetPresets[] = {
    {"vcd", "vcd", "mpeg1video", "mp2", "352x240", "352x288", "", "", "18", "15", "1150000",
     "1150000", "1150000", "327680", "", "224000", "44100", "2324", "1411200", "4:3"},
    {"svcd", "svcd", "mpeg2video", "mp2", "480x480", "480x576", "yuv420p", "yuv420p", "18", "15",
     "2040000", "2516000", "0", "1835008", "1", "224000", "44100", "2324", "", "4:3"},
    {"dvd", "dvd", "mpeg2video", "ac3", "720x480", "720x576", "yuv420p", "yuv420p", "18", "15",
     "6000000", "9000000", "0", "1835008", "", "448000", "48000", "2048", "10080000", "16:9"},
    {"dv", "dv", "", "", "720x480", "720x576", "yuv411p", "yuv420p", "", "", "", "", "", "", "", "",
     "48000", "", "", ""},
    {"dv50", "dv", "", "", "720x480", "720x576", "yuv422p", "yuv422p", "", "", "", "", "", "", "",
     "", "48000", "", "", ""},
};

namespace {

// 25000 for PAL's rate, 29970 or 23976 for NTSC's; -1 for another or none.
int NormOfFrameRate(AVRational rate) {
  if (rate.num <= 0 || rate.den <= 0) return -1;
  const long long milli = std::llround(rate.num * 1000.0 / rate.den);
  if (milli == 25000) return nmPAL;
  return milli == 29970 || milli == 23976 ? nmNTSC : -1;
}

}  // namespace

int TCustomFFmpeg::DetectNorm(S defaultNorm) {
  int norm = NormOfFrameRate(FPending.FrameRate);
  for (const auto& ist : FInputStreams) {
    if (norm >= 0) break;
    if (ist->St->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
    AVFormatContext* ic = FInputFiles[size_t(ist->FileIndex)]->Ctx;
    norm = NormOfFrameRate(ff::av_guess_frame_rate(ic, ist->St, nullptr));
  }
  if (norm < 0) norm = defaultNorm == "film" ? nmFILM : defaultNorm == "ntsc" ? nmNTSC : nmPAL;
  if (FSettings.Verbose > 0)
    LogFmt(llVerbose, "Assuming %s for target.", norm == nmPAL ? "PAL" : "NTSC");
  return norm;
}

void TCustomFFmpeg::OptTarget(S value, S defaultNorm) {
  static const std::pair<const char*, TNorm> prefixes[] = {
      {"pal-", nmPAL}, {"ntsc-", nmNTSC}, {"film-", nmFILM}};
  std::string target = value;
  int norm = -1;
  for (const auto& [prefix, prefixNorm] : prefixes) {
    if (!StartsWith(value, prefix)) continue;
    target = value.substr(std::strlen(prefix));
    norm = prefixNorm;
  }
  const auto preset = std::find_if(std::begin(TargetPresets), std::end(TargetPresets),
                                   [&target](const TTargetPreset& p) { return target == p.Name; });
  if (preset == std::end(TargetPresets)) throw FFmpegException("Unknown target type");
  ApplyTargetPreset(*preset, norm >= 0 ? norm : DetectNorm(defaultNorm));
}

void TCustomFFmpeg::ApplyTargetPreset(const TTargetPreset& preset, int norm) {
  static const char* const rates[] = {"25", "30000/1001", "24000/1001"};
  const bool pal = norm == nmPAL;
  const std::pair<const char*, const char*> options[] = {
      {"f", preset.Format},
      {"vcodec", preset.VideoCodec},
      {"acodec", preset.AudioCodec},
      {"s", pal ? preset.SizePAL : preset.SizeNTSC},
      {"r", rates[norm]},
      {"pix_fmt", pal ? preset.PixFmtPAL : preset.PixFmtNTSC},
      {"g", pal ? preset.GopPAL : preset.GopNTSC},
      {"b", preset.Bitrate},
      {"maxrate", preset.MaxRate},
      {"minrate", preset.MinRate},
      {"bufsize", preset.BufSize},
      {"ab", preset.AudioBitrate},
      {"ar", preset.SampleRate},
      {"ac", "2"},
      {"packetsize", preset.PacketSize},
  };
  for (const auto& [name, value] : options)
    if (*value) ParseOption(name, value);
  if (*preset.ScanOffset)
    SetDictionary(&FPending.Kinds[AVMEDIA_TYPE_VIDEO].PrivateOptions.Value, "scan_offset",
                  preset.ScanOffset);
  if (*preset.MuxRate) SetDictionary(&FPending.MuxerOptions.Value, "muxrate", preset.MuxRate);
  if (*preset.Aspect && FPending.FrameAspectRatio == 0) {
    LogFmt(llInfo, "Assuming %s for aspect ratio", preset.Aspect);
    OptFrameAspectRatio(preset.Aspect);
  }
}

// ---- Opening inputs ----

namespace {

int OptionFlagOfKind(AVMediaType kind) {
  switch (kind) {
    case AVMEDIA_TYPE_VIDEO: return AV_OPT_FLAG_VIDEO_PARAM;
    case AVMEDIA_TYPE_AUDIO: return AV_OPT_FLAG_AUDIO_PARAM;
    case AVMEDIA_TYPE_SUBTITLE: return AV_OPT_FLAG_SUBTITLE_PARAM;
    default: return 0;
  }
}

const char* KindName(AVMediaType kind) {
  switch (kind) {
    case AVMEDIA_TYPE_VIDEO: return "video";
    case AVMEDIA_TYPE_AUDIO: return "audio";
    case AVMEDIA_TYPE_SUBTITLE: return "subtitle";
    default: return "data";
  }
}

bool SameFile(S first, S second) {
  if (!IsLocalFileUrl(first) || !IsLocalFileUrl(second)) return false;
  std::error_code error;
  return std::filesystem::equivalent(UrlToWideFileName(first), UrlToWideFileName(second), error);
}

}  // namespace

bool TCustomFFmpeg::Fail(S text) {
  LastErrMsg = text;
  return false;
}

int TCustomFFmpeg::FailOutput(S text) {
  LastErrMsg = text;
  return -1;
}

// The pending settings were for this file, whether it opens or not.
bool TCustomFFmpeg::OpenInputFile(S fileName) {
  bool opened = false;
  try {
    opened = TryOpenInput(fileName);
  } catch (...) {
    EndInputSettings();
    throw;
  }
  EndInputSettings();
  return opened;
}

void TCustomFFmpeg::EndInputSettings() {
  // The start position was the seek of this input.
  FSettings.StartTime = 0;
  FSettings.InputTsOffset = 0;
  ResetPendingSettings();
  UpdateTotalTime();
}

bool TCustomFFmpeg::TryOpenInput(S fileName) {
  LastErrMsg.clear();
  if (InputCount() >= FMaxFiles) return Fail("Too many input files.");
  const AVInputFormat* format = nullptr;
  if (!FPending.Format.empty() && !(format = ff::av_find_input_format(FPending.Format.c_str())))
    throw FFmpegException(Format("Unknown input format: \"%s\"", FPending.Format.c_str()));
  auto file = std::make_unique<TInputFile>();
  file->FileName = fileName;
  file->Ctx = AllocInputContext();
  const int opened = OpenInputContext(file->Ctx, fileName, format);
  if (opened < 0) return Fail(AVErrorText(fileName, opened));
  if (!SelectProgram(file->Ctx)) return Fail("Specified program id not found");
  if (!FindStreamInfo(file->Ctx))
    return Fail(Format("%s: could not find codec parameters", fileName.c_str()));
  const int64_t timestamp = SeekInput(file->Ctx, fileName);
  file->TsOffset = FSettings.InputTsOffset - (FSettings.CopyTs ? 0 : timestamp);
  file->TsScale = std::move(FPending.InputTsScale);
  AddInput(std::move(file));
  return true;
}

AVFormatContext* TCustomFFmpeg::AllocInputContext() {
  const AVCodec* video = ForcedDecoder(AVMEDIA_TYPE_VIDEO);
  const AVCodec* audio = ForcedDecoder(AVMEDIA_TYPE_AUDIO);
  const AVCodec* subtitle = ForcedDecoder(AVMEDIA_TYPE_SUBTITLE);
  AVFormatContext* ic = ff::avformat_alloc_context();
  if (!ic) throw FFmpegException("avformat_alloc_context failed");
  SetContextOptions(FOptionContexts, ic, AV_OPT_FLAG_DECODING_PARAM);
  InstallInterruptCallback(ic);
  ic->video_codec = video;
  ic->audio_codec = audio;
  ic->subtitle_codec = subtitle;
  if (video) ic->video_codec_id = video->id;
  if (audio) ic->audio_codec_id = audio->id;
  if (subtitle) ic->subtitle_codec_id = subtitle->id;
  return ic;
}

const AVCodec* TCustomFFmpeg::ForcedDecoder(AVMediaType kind) {
  const std::string& name = FPending.Kinds[kind].CodecName;
  return name.empty() ? nullptr : FindCodec(name, kind, false);
}

int TCustomFFmpeg::OpenInputContext(AVFormatContext*& ic, S fileName, const AVInputFormat* format) {
  TDictionary options;
  if (FSettings.VideoChannel)
    SetDictionary(&options.Value, "channel", std::to_string(FSettings.VideoChannel));
  if (!FSettings.VideoStandard.empty())
    SetDictionary(&options.Value, "standard", FSettings.VideoStandard);
  if (FSettings.LoopInput) SetDictionary(&options.Value, "loop", "1");
  const TBlockingIO io(*this);
  return UnicodeOpenInput(&ic, fileName, format, &options.Value);
}

// With a program id, the streams of other programs are dropped; an unknown id fails.
bool TCustomFFmpeg::SelectProgram(AVFormatContext* ic) {
  if (FSettings.ProgramID < 0) return true;
  const AVProgram* program = nullptr;
  for (unsigned n = 0; n < ic->nb_programs && !program; ++n)
    if (ic->programs[n]->id == FSettings.ProgramID) program = ic->programs[n];
  if (!program) return false;
  for (unsigned n = 0; n < ic->nb_streams; ++n) {
    const unsigned* first = program->stream_index;
    const unsigned* last = first + program->nb_stream_indexes;
    if (std::find(first, last, n) == last) ic->streams[n]->discard = AVDISCARD_ALL;
  }
  return true;
}

bool TCustomFFmpeg::FindStreamInfo(AVFormatContext* ic) {
  if (OnBeforeFindStreamInfo) OnBeforeFindStreamInfo(this, ic);
  const TBlockingIO io(*this);
  return ff::avformat_find_stream_info(ic, nullptr) >= 0;
}

// Seeks to the pending start position; the result is that position in the file's time.
int64_t TCustomFFmpeg::SeekInput(AVFormatContext* ic, S fileName) {
  int64_t timestamp = FSettings.StartTime;
  if (ic->start_time != AV_NOPTS_VALUE) timestamp += ic->start_time;
  if (FSettings.StartTime == 0) return timestamp;
  const TBlockingIO io(*this);
  if (ff::av_seek_frame(ic, -1, timestamp, AVSEEK_FLAG_BACKWARD) < 0)
    LogFmt(llVerbose, "%s: could not seek to position %0.3f", fileName.c_str(),
           double(timestamp) / AV_TIME_BASE);
  return timestamp;
}

void TCustomFFmpeg::AddInput(std::unique_ptr<TInputFile> file) {
  const int index = InputCount();
  AVFormatContext* ic = file->Ctx;
  std::vector<std::unique_ptr<TInputStream>> streams;
  for (unsigned n = 0; n < ic->nb_streams; ++n) {
    auto ist = std::make_unique<TInputStream>();
    ist->FileIndex = index;
    ist->St = ic->streams[n];
    SetUpInputStream(*ist);
    streams.push_back(std::move(ist));
  }
  file->IstIndex = int(FInputStreams.size());
  file->NbStreams = int(ic->nb_streams);
  if (ic->duration != AV_NOPTS_VALUE)
    FInputsDuration = std::max(FInputsDuration, ic->duration - FSettings.StartTime);
  ff::av_dump_format(ic, index, file->FileName.c_str(), 0);
  for (auto& ist : streams) FInputStreams.push_back(std::move(ist));
  FInputFiles.push_back(std::move(file));
}

void TCustomFFmpeg::SetUpInputStream(TInputStream& ist) {
  AVStream* st = ist.St;
  const AVMediaType kind = st->codecpar->codec_type;
  switch (kind) {
    case AVMEDIA_TYPE_VIDEO:
      if (FSettings.VideoDiscard) st->discard = AVDiscard(FSettings.VideoDiscard);
      LogFrameRateDifference(*st);
      [[fallthrough]];
    case AVMEDIA_TYPE_AUDIO:
    case AVMEDIA_TYPE_SUBTITLE:
      if (FPending.Kinds[kind].Disabled) st->discard = AVDISCARD_ALL;
      ist.ForcedDecoder = ForcedDecoder(kind);
      ist.Decoder = NewDecoderContext(*st, ist.ForcedDecoder);
      break;
    case AVMEDIA_TYPE_DATA:
    case AVMEDIA_TYPE_ATTACHMENT: break;
    default: throw FFmpegException("invalid codec_type");
  }
}

AVCodecContext* TCustomFFmpeg::NewDecoderContext(const AVStream& st, const AVCodec* forced) {
  const AVCodec* codec = forced ? forced : ff::avcodec_find_decoder(st.codecpar->codec_id);
  AVCodecContext* decoder = ff::avcodec_alloc_context3(codec);
  if (!decoder) throw FFmpegException("avcodec_alloc_context failed");
  if (ff::avcodec_parameters_to_context(decoder, st.codecpar) < 0) {
    ff::avcodec_free_context(&decoder);
    throw FFmpegException("avcodec_alloc_context failed");
  }
  decoder->pkt_timebase = st.time_base;
  decoder->thread_count = FSettings.ThreadCount;
  SetContextOptions(FOptionContexts, decoder,
                    AV_OPT_FLAG_DECODING_PARAM | OptionFlagOfKind(st.codecpar->codec_type));
  return decoder;
}

// The average rate is what the codec delivers; the container's real base rate may differ.
void TCustomFFmpeg::LogFrameRateDifference(const AVStream& st) {
  const AVRational codec = st.avg_frame_rate, container = st.r_frame_rate;
  if (!codec.num || !container.num || av_cmp_q(codec, container) == 0) return;
  LogFmt(llInfo,
         "Seems stream %d codec frame rate differs from container frame rate: %2.2f (%d/%d) -> "
         "%2.2f (%d/%d)",
         st.index, av_q2d(codec), codec.num, codec.den, av_q2d(container), container.num,
         container.den);
}

void TCustomFFmpeg::ResetPendingSettings() {
  FPending = TFileSettings{};
  InitOptionContexts(FOptionContexts, FSettings.ScalerFlags);
}

void TCustomFFmpeg::UpdateTotalTime() {
  int64_t total = FInputsDuration;
  if (total >= 0) total = std::max<int64_t>(0, total - FSettings.StartTime);
  if (FSettings.RecordingTime != INT64_MAX)
    total = total < 0 ? FSettings.RecordingTime : std::min(total, FSettings.RecordingTime);
  TotalTime = total;
}

// ---- Opening outputs ----

int TCustomFFmpeg::OpenOutputFile(S fileName, bool join) {
  int index = -1;
  try {
    index = TryOpenOutput(fileName, join);
  } catch (...) {
    ResetPendingSettings();
    throw;
  }
  ResetPendingSettings();
  return index;
}

int TCustomFFmpeg::TryOpenOutput(S fileName, bool join) {
  LastErrMsg.clear();
  if (FJoinInputs) return FailOutput("Cannot join more than one output file.");
  if (OutputCount() >= FMaxFiles) return FailOutput("Too many output files.");
  if (IsAnInput(fileName))
    return FailOutput(Format("%s: the output file is one of the input files", fileName.c_str()));
  const int index = OutputCount();
  std::unique_ptr<TOutputFile> file = AllocOutputFile(fileName);
  if (!file || !CreateOutputStreams(*file, index)) return -1;
  SetOutputMetadata(*file);
  if ((file->Ctx->oformat->flags & AVFMT_NEEDNUMBER) &&
      !ff::av_filename_number_test(fileName.c_str()))
    return FailOutput(AVErrorText(fileName, AVERROR(EINVAL)));
  if (!OpenOutputIO(*file)) return -1;
  SetOutputParameters(*file);
  FOutputFiles.push_back(std::move(file));
  if (join && InputCount() > 1) FJoinInputs = true;
  return index;
}

bool TCustomFFmpeg::IsAnInput(S fileName) const {
  return std::any_of(FInputFiles.begin(), FInputFiles.end(),
                     [&fileName](const auto& input) { return SameFile(fileName, input->FileName); });
}

std::unique_ptr<TOutputFile> TCustomFFmpeg::AllocOutputFile(S fileName) {
  auto file = std::make_unique<TOutputFile>();
  file->FileName = fileName;
  const std::string format = std::move(FPending.Format);
  FPending.Format.clear();
  const int result = ff::avformat_alloc_output_context2(
      &file->Ctx, nullptr, format.empty() ? nullptr : format.c_str(), fileName.c_str());
  if (result < 0 || !file->Ctx) {
    if (result != AVERROR(EINVAL)) Fail(AVErrorText(fileName, result));
    else if (!format.empty()) Fail(Format("Unknown output format: \"%s\"", format.c_str()));
    else Fail(Format("Unable to find a suitable output format for \"%s\"", fileName.c_str()));
    return nullptr;
  }
  InstallInterruptCallback(file->Ctx);
  return file;
}

bool TCustomFFmpeg::CreateOutputStreams(TOutputFile& file, int fileIndex) {
  for (const AVMediaType kind : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE,
                                 AVMEDIA_TYPE_DATA}) {
    if (!KindWanted(*file.Ctx->oformat, kind)) continue;
    try {
      NewKindStream(file, fileIndex, kind);
    } catch (const std::exception& e) {
      return Fail(Format("new_%s_stream fail: %s", KindName(kind), e.what()));
    }
  }
  return true;
}

// A kind the format has a default codec for, or one a codec (or copy) is asked for, unless it is
// switched off or the inputs have none of it.
bool TCustomFFmpeg::KindWanted(const AVOutputFormat& format, AVMediaType kind) const {
  const TKindSettings& settings = FPending.Kinds[kind];
  if (settings.Disabled) return false;
  const AVCodecID defaultCodec = kind == AVMEDIA_TYPE_VIDEO      ? format.video_codec
                                 : kind == AVMEDIA_TYPE_AUDIO    ? format.audio_codec
                                 : kind == AVMEDIA_TYPE_SUBTITLE ? format.subtitle_codec
                                                                 : AV_CODEC_ID_NONE;
  if (defaultCodec == AV_CODEC_ID_NONE && settings.CodecName.empty() && !settings.StreamCopy)
    return false;
  return FInputStreams.empty() ||
         std::any_of(FInputStreams.begin(), FInputStreams.end(), [kind](const auto& ist) {
           return ist->St->codecpar->codec_type == kind;
         });
}

void TCustomFFmpeg::SetOutputMetadata(TOutputFile& file) {
  AVFormatContext* oc = file.Ctx;
  if (FSettings.RecordingTimestamp) {
    const std::time_t seconds = std::time_t(*FSettings.RecordingTimestamp);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
    SetDictionary(&oc->metadata, "creation_time", text);
  }
  if (ff::av_dict_copy(&oc->metadata, FPending.Metadata.Value, 0) < 0)
    throw std::runtime_error("Could not alloc buffer.");
}

bool TCustomFFmpeg::OpenOutputIO(TOutputFile& file) {
  const TBlockingIO io(*this);
  const int result = UnicodeOpenOutput(file.Ctx, file.FileName);
  if (result < 0) return Fail(AVErrorText(file.FileName, result));
  file.FileCreated = !(file.Ctx->oformat->flags & AVFMT_NOFILE);
  return true;
}

void TCustomFFmpeg::SetOutputParameters(TOutputFile& file) {
  AVFormatContext* oc = file.Ctx;
  oc->max_delay = int(FSettings.MuxDelay * AV_TIME_BASE);
  SetDictionary(&file.MuxerOptions.Value, "preload",
                std::to_string(int64_t(FSettings.MuxPreload * AV_TIME_BASE)));
  if (FSettings.LoopOutput)
    SetDictionary(&file.MuxerOptions.Value, "loop", std::to_string(*FSettings.LoopOutput));
  if (ff::av_dict_copy(&file.MuxerOptions.Value, FPending.MuxerOptions.Value, 0) < 0)
    throw std::runtime_error("Could not alloc buffer.");
  SetContextOptions(FOptionContexts, oc, AV_OPT_FLAG_ENCODING_PARAM);
}

// ---- Output streams ----

namespace {

std::unique_ptr<TOutputStream> AllocOutputStream() {
  try {
    return std::make_unique<TOutputStream>();
  } catch (const std::bad_alloc&) {
    throw std::runtime_error("Could not alloc output stream");
  }
}

}  // namespace

TOutputStream& TCustomFFmpeg::NewOutputStream(TOutputFile& file, int fileIndex) {
  const unsigned count = file.Ctx->nb_streams;
  GrowArray(file.Streams, count);
  std::unique_ptr<TOutputStream>& ost = file.Streams[count - 1];
  ost = AllocOutputStream();
  ost->FileIndex = fileIndex;
  ost->Index = int(count - 1);
  ost->St = file.Ctx->streams[count - 1];
  int64_t flags = FSettings.ScalerFlags;
  if (FOptionContexts.ScalerContext)
    ff::av_opt_get_int(FOptionContexts.ScalerContext, "sws_flags", 0, &flags);
  ost->SwsFlags = int(flags);
  return *ost;
}

void TCustomFFmpeg::NewStream(S kind) {
  static const char* const names[4] = {"newaudio", "newvideo", "newsubtitle", "newdata"};
  const AVMediaType type = KindOfOption(kind, names);
  if (type == AVMEDIA_TYPE_UNKNOWN)
    throw FFmpegException(Format("Invalid parameter \"%s\"", kind.c_str()));
  if (FOutputFiles.empty()) throw FFmpegException("At least one output file must be specified");
  NewKindStream(*FOutputFiles.back(), OutputCount() - 1, type);
}

void TCustomFFmpeg::NewKindStream(TOutputFile& file, int fileIndex, AVMediaType kind) {
  TKindSettings& settings = FPending.Kinds[kind];
  if (kind == AVMEDIA_TYPE_DATA && !settings.StreamCopy) {
    const char* text = "Data stream encoding not supported yet (only streamcopy)";
    Log(llError, text);
    throw FFmpegException(text);
  }
  const AVCodec* codec = nullptr;
  if (!settings.StreamCopy)
    codec = settings.CodecName.empty()
                ? ff::avcodec_find_encoder(
                      ff::av_guess_codec(file.Ctx->oformat, nullptr, file.Ctx->url, nullptr, kind))
                : FindCodec(settings.CodecName, kind, true);
  AVStream* st = ff::avformat_new_stream(file.Ctx, nullptr);
  if (!st) throw std::runtime_error("Could not alloc stream");
  if (size_t(st->index) < FPending.StreamIDs.size() && FPending.StreamIDs[size_t(st->index)])
    st->id = FPending.StreamIDs[size_t(st->index)];
  TOutputStream& ost = NewOutputStream(file, fileIndex);
  ost.StreamCopy = settings.StreamCopy;
  ost.Codec = codec;
  ost.Encoder = ff::avcodec_alloc_context3(codec);
  if (!ost.Encoder) throw FFmpegException("avcodec_alloc_context failed");
  ost.Encoder->codec_type = kind;
  ost.Encoder->codec_id = codec ? codec->id : AV_CODEC_ID_NONE;
  SetUpCommon(file, ost, kind);
  if (kind == AVMEDIA_TYPE_VIDEO) SetUpVideo(ost);
  if (kind == AVMEDIA_TYPE_AUDIO) SetUpAudio(ost);
  settings.CodecName.clear();
  settings.Language.clear();
  settings.StreamCopy = false;
}

void TCustomFFmpeg::SetUpCommon(TOutputFile& file, TOutputStream& ost, AVMediaType kind) {
  TKindSettings& settings = FPending.Kinds[kind];
  AVCodecContext* encoder = ost.Encoder;
  if (settings.CodecTag) encoder->codec_tag = settings.CodecTag;
  encoder->thread_count = FSettings.ThreadCount;
  if (file.Ctx->oformat->flags & AVFMT_GLOBALHEADER) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  SetContextOptions(FOptionContexts, encoder, AV_OPT_FLAG_ENCODING_PARAM | OptionFlagOfKind(kind));
  SetPrivateOptions(*encoder, settings.PrivateOptions);
  if (!settings.Language.empty()) SetDictionary(&ost.St->metadata, "language", settings.Language);
  ost.BitstreamFilterSpecs = std::move(settings.BitstreamFilters);
  settings.BitstreamFilters.clear();
}

void TCustomFFmpeg::SetPrivateOptions(AVCodecContext& encoder, TDictionary& options) {
  if (!encoder.codec) return;
  const AVDictionaryEntry* entry = nullptr;
  while ((entry = ff::av_dict_get(options.Value, "", entry, AV_DICT_IGNORE_SUFFIX)))
    if (ff::av_opt_set(&encoder, entry->key, entry->value, AV_OPT_SEARCH_CHILDREN) < 0)
      LogFmt(llWarning, "Invalid value \"%s\" for option \"%s\"", entry->value, entry->key);
  options.Clear();
}

void TCustomFFmpeg::SetUpVideo(TOutputStream& ost) {
  AVCodecContext& encoder = *ost.Encoder;
  encoder.width = FPending.FrameWidth;
  encoder.height = FPending.FrameHeight;
  encoder.pix_fmt = FPending.FramePixFmt;
  ost.FrameRate = FPending.FrameRate;
  ost.FrameAspectRatio = FPending.FrameAspectRatio;
  ost.VideoFilters = std::move(FPending.VideoFilters);
  FPending.VideoFilters.clear();
  if (FSettings.IntraOnly) encoder.gop_size = 0;
  if (FSettings.VideoQScale > 0) {
    encoder.flags |= AV_CODEC_FLAG_QSCALE;
    encoder.global_quality = int(FF_QP2LAMBDA * FSettings.VideoQScale);
  }
  encoder.intra_matrix = CopyMatrix(FSettings.IntraMatrix);
  encoder.inter_matrix = CopyMatrix(FSettings.InterMatrix);
  SetRcOverride(encoder);
  encoder.rc_initial_buffer_occupancy = encoder.rc_buffer_size * 3 / 4;
  encoder.intra_dc_precision = FSettings.IntraDcPrecision - 8;
  if (FSettings.DoPSNR) encoder.flags |= AV_CODEC_FLAG_PSNR;
  if (FSettings.DoPass == 1) encoder.flags |= AV_CODEC_FLAG_PASS1;
  if (FSettings.DoPass == 2) encoder.flags |= AV_CODEC_FLAG_PASS2;
  if (!FPending.ForcedKeyFrames.empty()) {
    ForcedKeyFrameTimes(FPending.ForcedKeyFrames);  // refuses a bad list now, not at the start
    ost.ForcedKeyFramesText = std::move(FPending.ForcedKeyFrames);
    FPending.ForcedKeyFrames.clear();
  }
}

uint16_t* TCustomFFmpeg::CopyMatrix(const std::vector<uint16_t>& matrix) {
  if (matrix.empty()) return nullptr;
  auto* copy = static_cast<uint16_t*>(ff::av_malloc(matrix.size() * sizeof(uint16_t)));
  if (!copy) throw std::runtime_error("Could not alloc buffer.");
  std::copy(matrix.begin(), matrix.end(), copy);
  return copy;
}

// "start,end,q" entries separated by "/": q > 0 is a fixed quantiser, q <= 0 a quality factor.
void TCustomFFmpeg::SetRcOverride(AVCodecContext& encoder) {
  std::vector<RcOverride> overrides;
  std::istringstream entries(FSettings.RcOverride);
  for (std::string entry; std::getline(entries, entry, '/');) {
    const char* text = entry.c_str();
    int values[3];
    for (int n = 0; n < 3; ++n) {
      const char* start = text;
      values[n] = int(LeadingInteger(text));
      if (text == start) throw FFmpegException("error parsing rc_override");
      if (n < 2 && *text++ != ',') throw FFmpegException("error parsing rc_override");
    }
    RcOverride item{};
    item.start_frame = values[0];
    item.end_frame = values[1];
    item.qscale = values[2] > 0 ? values[2] : 0;
    item.quality_factor = values[2] > 0 ? 1.0f : -values[2] / 100.0f;
    overrides.push_back(item);
  }
  if (overrides.empty()) return;
  encoder.rc_override =
      static_cast<RcOverride*>(ff::av_malloc(overrides.size() * sizeof(RcOverride)));
  if (!encoder.rc_override) throw std::runtime_error("Could not alloc buffer.");
  std::copy(overrides.begin(), overrides.end(), encoder.rc_override);
  encoder.rc_override_count = int(overrides.size());
}

void TCustomFFmpeg::SetUpAudio(TOutputStream& ost) {
  AVCodecContext& encoder = *ost.Encoder;
  if (FSettings.AudioQScale) {
    encoder.flags |= AV_CODEC_FLAG_QSCALE;
    encoder.global_quality = int(FF_QP2LAMBDA * *FSettings.AudioQScale);
  }
  if (FPending.AudioChannels > 0) {
    ff::av_channel_layout_uninit(&encoder.ch_layout);
    ff::av_channel_layout_default(&encoder.ch_layout, FPending.AudioChannels);
  }
  if (FPending.AudioSampleRate > 0) encoder.sample_rate = FPending.AudioSampleRate;
  if (FPending.AudioSampleFmt != AV_SAMPLE_FMT_NONE) encoder.sample_fmt = FPending.AudioSampleFmt;
}

const AVCodec* TCustomFFmpeg::FindCodec(S name, AVMediaType type, bool encoder) {
  const char* what = encoder ? "encoder" : "decoder";
  const AVCodec* codec = encoder ? ff::avcodec_find_encoder_by_name(name.c_str())
                                 : ff::avcodec_find_decoder_by_name(name.c_str());
  if (!codec) throw FFmpegException(Format("Unknown %s '%s'", what, name.c_str()));
  if (codec->type != type) throw FFmpegException(Format("Invalid %s type '%s'", what, name.c_str()));
  const AVCodecContext* options = FOptionContexts.CodecContexts[type];
  const int strict = options ? options->strict_std_compliance : FF_COMPLIANCE_NORMAL;
  if (!(codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) || strict <= FF_COMPLIANCE_EXPERIMENTAL)
    return codec;
  std::string text = Format(
      "%s '%s' is experimental and might produce bad results.\r\nAdd '-strict experimental' if "
      "you want to use it.",
      what, name.c_str());
  if (const AVCodec* other = NonExperimentalCodec(codec->id, encoder))
    text += Format("\r\nOr use the non experimental %s '%s'.", what, other->name);
  throw FFmpegException(text);
}

const AVCodec* TCustomFFmpeg::NonExperimentalCodec(AVCodecID id, bool encoder) {
  void* opaque = nullptr;
  while (const AVCodec* codec = ff::av_codec_iterate(&opaque)) {
    const bool isEncoder = ff::av_codec_is_encoder(codec) != 0;
    if (codec->id == id && isEncoder == encoder && !(codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
      return codec;
  }
  return nullptr;
}

// ---- Join mode ----

void TCustomFFmpeg::JoinInputs() {
  if (!FJoinInputs || OutputCount() != 1) return;
  int64_t total = -1;
  for (const auto& input : FInputFiles)
    if (input->Ctx->duration != AV_NOPTS_VALUE) total = std::max<int64_t>(total, 0) + input->Ctx->duration;
  TotalTime = total;
  for (int n = 1; n < InputCount(); ++n)
    FOutputFiles.push_back(MirrorOutput(*FOutputFiles.back(), OutputCount()));
}

std::unique_ptr<TOutputFile> TCustomFFmpeg::MirrorOutput(const TOutputFile& last, int index) {
  auto file = std::make_unique<TOutputFile>();
  file->Ctx = last.Ctx;
  file->OwnsContext = false;
  file->FileName = last.FileName;
  for (const auto& stream : last.Streams) {
    std::unique_ptr<TOutputStream> ost = AllocOutputStream();
    ost->FileIndex = index;
    ost->Index = stream->Index;
    ost->St = stream->St;
    ost->Mirror = stream->Mirror ? stream->Mirror : stream.get();
    ost->Codec = stream->Codec;
    ost->StreamCopy = stream->StreamCopy;
    ost->FrameRate = stream->FrameRate;
    ost->FrameAspectRatio = stream->FrameAspectRatio;
    ost->VideoFilters = stream->VideoFilters;
    ost->SwsFlags = stream->SwsFlags;
    ost->BitstreamFilterSpecs = stream->BitstreamFilterSpecs;
    file->Streams.push_back(std::move(ost));
  }
  return file;
}
