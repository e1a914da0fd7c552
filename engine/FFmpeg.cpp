#include "FFmpeg.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
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
#include "FilterChainTranslator.h"
#include "UnicodeProtocol.h"

extern "C" {
#include <libavutil/intreadwrite.h>
}

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
// got its header (it could not be played). Only a regular file: a device or a pipe (/dev/null
// for a first pass) always reads as empty, and removing it would break the system.
void DeleteUnfinishedFile(S url, bool headerWritten) {
  if (!IsLocalFileUrl(url)) return;
  const std::string path = UrlToWideFileName(url);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  if (headerWritten && st.st_size > 0) return;
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
  if (Resampler) ff::swr_free(&Resampler);
  if (Fifo) ff::av_audio_fifo_free(Fifo);
  if (AudioFrame) ff::av_frame_free(&AudioFrame);
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
  });
  Guarded([this] { CloseOpenEncoders(); });
  Guarded([this] { CloseOpenDecoders(); });
  Guarded([this] { Cleanup(); });
  Guarded([this] { DoTerminate(); });
  // Completes whatever partial line this thread left in the log.
  Guarded([] { ff::av_log(nullptr, AV_LOG_QUIET, "%s", ""); });
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
    WaitServingMainThread(FTerminateEvent);
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

// ---- Option vocabulary ----

const std::vector<TCustomFFmpeg::TOptionEntry>& TCustomFFmpeg::OptionTable() {
  using T = TCustomFFmpeg;
  constexpr int Video = AVMEDIA_TYPE_VIDEO, Audio = AVMEDIA_TYPE_AUDIO, Data = AVMEDIA_TYPE_DATA,
                Subtitle = AVMEDIA_TYPE_SUBTITLE;
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
      {"L", none},
      {"h", none},
      {"version", none},
      {"formats", none},
      {"codecs", none},
      {"bsfs", none},
      {"protocols", none},
      {"filters", none},
      {"loglevel", [](T&, S, S v) { FFLogger().SetLogLevelByName(v); }},
      {"f",
       [](T& t, S, S v) {
         if (!v.empty()) t.FPending.Format = v;
       }},
      {"i", none},
      {"y", none},
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
      {"itsoffset",
       [](T& t, S n, S v) { t.FSettings.InputTsOffset = t.ParseTimeOption(n, v, true); }},
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
      {"adrift_threshold",
       [](T& t, S, S v) { t.FSettings.AudioDriftThreshold = OptionToFloat(v); }},
      {"copyts", [](T& t, S, S v) { t.FSettings.CopyTs = Flag(v); }},
      {"copytb", [](T& t, S, S v) { t.FSettings.CopyTb = Flag(v); }},
      {"shortest", [](T& t, S, S v) { t.FSettings.Shortest = Flag(v); }},
      {"dts_delta_threshold",
       [](T& t, S, S v) { t.FSettings.DtsDeltaThreshold = OptionToFloat(v); }},
      {"programid", [](T& t, S, S v) { t.SetProgramID(OptionToInt(v)); }},
      {"xerror", [](T& t, S, S v) { t.FSettings.ExitOnError = Flag(v); }},
      {"copyinkf", [](T& t, S, S v) { t.FSettings.CopyInitialNonKeyFrames = OptionToInt(v); }},
      {"b", bitrate},
      {"vb", bitrate},
      {"vframes", [](T& t, S, S v) { t.FSettings.MaxFrames[Video] = OptionToInt(v); }},
      {"r", [](T& t, S, S v) { t.OptFrameRate(v); }},
      {"s", [](T& t, S, S v) { t.OptFrameSize(v); }},
      {"aspect", [](T& t, S, S v) { t.OptFrameAspectRatio(v); }},
      {"pix_fmt", [](T& t, S, S v) { t.OptPixelFormat(v); }},
      {"bits_per_raw_sample",
       [](T& t, S, S v) { t.FSettings.FrameBitsPerRawSample = OptionToInt(v); }},
      {"croptop", crop},
      {"cropbottom", crop},
      {"cropleft", crop},
      {"cropright", crop},
      {"padtop", pad},
      {"padbottom", pad},
      {"padleft", pad},
      {"padright", pad},
      {"padcolor", pad},
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
      {"vfilters", filters},
      {"vf", filters},
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
      {"absf", bsf},
      {"vbsf", bsf},
      {"sbsf", bsf},
      {"apre", preset},
      {"vpre", preset},
      {"spre", preset},
      {"fpre", preset},
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
    throw FFmpegException(Format("%s: Invalid syntax: \"%s\"", fileName.c_str(), line.c_str()));
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
  if (!(ratio > 0) || std::isinf(ratio))
    throw FFmpegException("Incorrect aspect ratio specification.");
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
  size_t position = 0;
  for (int n = 0;; ++n) {
    const char* start = value.c_str() + position;
    char* end = nullptr;
    const long coefficient = std::strtol(start, &end, 0);
    if (end == start || coefficient < 1 || coefficient > UINT16_MAX)
      throw FFmpegException(Format("Syntax error in matrix \"%s\" at coeff %d", value.c_str(), n));
    coefficients[size_t(n)] = uint16_t(coefficient);
    if (n == 63) break;
    position = value.find(',', size_t(end - value.c_str()));
    if (position == std::string::npos)
      throw FFmpegException(Format("Syntax error in matrix \"%s\" at coeff %d", value.c_str(), n));
    ++position;
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
    case 'g':
      SkipOne(text);
      break;
    case 's':
    case 'c':
    case 'p':
      spec.Index = int(LeadingInteger(++text));
      break;
    default:
      throw FFmpegException(Format("Invalid metadata type %c.", spec.Type));
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
    // A task thread holding the preview lock may log, and a log line waits for the main thread.
    // Only the queued calls run meanwhile, so that setting the flags never re-enters the host's
    // event loop.
    const std::unique_lock<std::mutex> lock =
        LockServingMainThread(FFmpegPreviewLock(), TMainThreadService::CallsOnly);
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
    {"vcd", "vcd",    "mpeg1video", "mp2",     "352x240", "352x288", "",
     "",    "18",     "15",         "1150000", "1150000", "1150000", "327680",
     "",    "224000", "44100",      "2324",    "1411200", "4:3"},
    {"svcd",    "svcd",   "mpeg2video", "mp2",     "480x480", "480x576", "yuv420p",
     "yuv420p", "18",     "15",         "2040000", "2516000", "0",       "1835008",
     "1",       "224000", "44100",      "2324",    "",        "4:3"},
    {"dvd",     "dvd",    "mpeg2video", "ac3",     "720x480",  "720x576", "yuv420p",
     "yuv420p", "18",     "15",         "6000000", "9000000",  "0",       "1835008",
     "",        "448000", "48000",      "2048",    "10080000", "16:9"},
    {"dv", "dv", "", "", "720x480", "720x576", "yuv411p", "yuv420p", "", "",
     "",   "",   "", "", "",        "",        "48000",   "",        "", ""},
    {"dv50", "dv", "", "", "720x480", "720x576", "yuv422p", "yuv422p", "", "",
     "",     "",   "", "", "",        "",        "48000",   "",        "", ""},
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
    case AVMEDIA_TYPE_VIDEO:
      return AV_OPT_FLAG_VIDEO_PARAM;
    case AVMEDIA_TYPE_AUDIO:
      return AV_OPT_FLAG_AUDIO_PARAM;
    case AVMEDIA_TYPE_SUBTITLE:
      return AV_OPT_FLAG_SUBTITLE_PARAM;
    default:
      return 0;
  }
}

const char* KindName(AVMediaType kind) {
  switch (kind) {
    case AVMEDIA_TYPE_VIDEO:
      return "video";
    case AVMEDIA_TYPE_AUDIO:
      return "audio";
    case AVMEDIA_TYPE_SUBTITLE:
      return "subtitle";
    default:
      return "data";
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
    case AVMEDIA_TYPE_ATTACHMENT:
      break;
    default:
      throw FFmpegException("invalid codec_type");
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
  return std::any_of(FInputFiles.begin(), FInputFiles.end(), [&fileName](const auto& input) {
    return SameFile(fileName, input->FileName);
  });
}

std::unique_ptr<TOutputFile> TCustomFFmpeg::AllocOutputFile(S fileName) {
  auto file = std::make_unique<TOutputFile>();
  file->FileName = fileName;
  const std::string format = std::move(FPending.Format);
  FPending.Format.clear();
  const int result = ff::avformat_alloc_output_context2(
      &file->Ctx, nullptr, format.empty() ? nullptr : format.c_str(), fileName.c_str());
  if (result < 0 || !file->Ctx) {
    if (result != AVERROR(EINVAL))
      Fail(AVErrorText(fileName, result));
    else if (!format.empty())
      Fail(Format("Unknown output format: \"%s\"", format.c_str()));
    else
      Fail(Format("Unable to find a suitable output format for \"%s\"", fileName.c_str()));
    return nullptr;
  }
  InstallInterruptCallback(file->Ctx);
  return file;
}

bool TCustomFFmpeg::CreateOutputStreams(TOutputFile& file, int fileIndex) {
  for (const AVMediaType kind :
       {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE, AVMEDIA_TYPE_DATA}) {
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
         std::any_of(FInputStreams.begin(), FInputStreams.end(),
                     [kind](const auto& ist) { return ist->St->codecpar->codec_type == kind; });
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
  if (codec->type != type)
    throw FFmpegException(Format("Invalid %s type '%s'", what, name.c_str()));
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
    if (codec->id == id && isEncoder == encoder &&
        !(codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
      return codec;
  }
  return nullptr;
}

// ---- Join mode ----

void TCustomFFmpeg::JoinInputs() {
  if (!FJoinInputs || OutputCount() != 1) return;
  int64_t total = -1;
  for (const auto& input : FInputFiles)
    if (input->Ctx->duration != AV_NOPTS_VALUE)
      total = std::max<int64_t>(total, 0) + input->Ctx->duration;
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

// ---- Run helpers (anonymous namespace) ----
namespace {

constexpr AVRational MicrosecondBase{1, AV_TIME_BASE};
// The encoders' quality scale: FF_QP2LAMBDA.
constexpr float LambdaPerQuantizer = 118.0f;

// Largest distance, in frames, at which a late or early picture is still written once.
constexpr double VSyncDropLimit = -1.1;
constexpr double VSyncVariableLimit = 0.6;
constexpr double VSyncDuplicateLimit = 1.1;
// Audio drift, in samples, below which nothing is corrected.
constexpr double AudioDriftTolerance = 50;

int64_t ToMicroseconds(int64_t value, AVRational timeBase) {
  return ff::av_rescale_q(value, timeBase, MicrosecondBase);
}

int64_t FromMicroseconds(int64_t value, AVRational timeBase) {
  return ff::av_rescale_q(value, MicrosecondBase, timeBase);
}

// The muxer stream's time: the end of the last packet written to it.
int64_t MuxerMicroseconds(const AVStream* st) {
  const int64_t end = ff::av_stream_get_end_pts(st);
  return end == AV_NOPTS_VALUE ? 0 : ToMicroseconds(end, st->time_base);
}

double MuxerTime(const AVStream* st) { return double(MuxerMicroseconds(st)) / AV_TIME_BASE; }

const char* SampleFormatName(AVSampleFormat format) {
  const char* name = ff::av_get_sample_fmt_name(format);
  return name ? name : "none";
}

const char* PixelFormatName(AVPixelFormat format) {
  const char* name = ff::av_get_pix_fmt_name(format);
  return name ? name : "none";
}

// One histogram of quantizers serves every task of the process, as its progress text shows.
std::mutex QuantizerHistogramLock;
int QuantizerHistogram[52];

std::string QuantizerHistogramText(float quality) {
  const std::lock_guard<std::mutex> lock(QuantizerHistogramLock);
  const long q = std::lrint(quality);
  if (q >= 0 && q < 52) ++QuantizerHistogram[q];
  std::string text;
  for (int i = 0; i < 32; ++i)
    text += Format("%X", int(std::lrint(std::log2(QuantizerHistogram[i] + 1))));
  return text;
}

double Psnr(double error) { return -10.0 * std::log10(error); }

// Samples of a block in a packed or planar layout, and the byte size of one plane.
void FillSamplePointers(uint8_t* base, uint8_t** planes, AVSampleFormat format, int channels,
                        int samples) {
  if (!ff::av_sample_fmt_is_planar(format)) {
    planes[0] = base;
    return;
  }
  const size_t planeSize = size_t(samples) * size_t(ff::av_get_bytes_per_sample(format));
  for (int channel = 0; channel < channels; ++channel) planes[channel] = base + channel * planeSize;
}

}  // namespace

// ---- Free routines ----

int VideoSyncFrames(int method, bool variableFrameRate, double sync, int64_t& syncPts) {
  if (method == 0) {
    syncPts = std::llround(sync);
    return 1;
  }
  const double delta = sync - double(syncPts);
  if (delta < VSyncDropLimit) return 0;
  if (method == 2 || (method < 0 && variableFrameRate)) {
    if (delta <= -VSyncVariableLimit) return 0;
    if (delta > VSyncVariableLimit) syncPts = std::llround(sync);
    return 1;
  }
  return delta > VSyncDuplicateLimit ? int(std::lrint(delta)) : 1;
}

void ScaleVolume(int16_t* samples, size_t count, int volume) {
  if (volume == 256) return;
  for (size_t i = 0; i < count; ++i) {
    const int64_t scaled = (int64_t(samples[i]) * volume + 128) >> 8;
    samples[i] = int16_t(std::clamp<int64_t>(scaled, INT16_MIN, INT16_MAX));
  }
}

// The intra-field filter: every second line is rebuilt from the five lines around it with the
// taps -1 4 2 4 -1 (in eighths); the lines between are kept.
namespace {

void DeinterlaceLine(uint8_t* dst, const uint8_t* m4, const uint8_t* m3, const uint8_t* m2,
                     const uint8_t* m1, const uint8_t* line, int width) {
  for (int x = 0; x < width; ++x) {
    const int sum = -m4[x] + (m3[x] << 2) + (m2[x] << 1) + (m1[x] << 2) - line[x];
    dst[x] = uint8_t(std::clamp((sum + 4) >> 3, 0, 255));
  }
}

void DeinterlacePlane(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride, int width,
                      int height) {
  const uint8_t* m2 = src;
  const uint8_t* m1 = src;
  const uint8_t* line = src + srcStride;
  const uint8_t* p1 = line + srcStride;
  const uint8_t* p2 = p1 + srcStride;
  int y = 0;
  for (; y < height - 2; y += 2) {
    std::memcpy(dst, m1, size_t(width));
    dst += dstStride;
    DeinterlaceLine(dst, m2, m1, line, p1, p2, width);
    dst += dstStride;
    m2 = line;
    m1 = p1;
    line = p2;
    p1 += 2 * srcStride;
    p2 += 2 * srcStride;
  }
  std::memcpy(dst, m1, size_t(width));
  dst += dstStride;
  DeinterlaceLine(dst, m2, m1, line, line, line, width);
}

}  // namespace

int DeinterlacePicture(uint8_t* const dst[], const int dstLinesize[], const uint8_t* const src[],
                       const int srcLinesize[], AVPixelFormat pixFmt, int width, int height) {
  switch (pixFmt) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUV444P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_YUV411P:
    case AV_PIX_FMT_GRAY8:
      break;
    default:
      return -1;
  }
  if (width % 4 != 0 || height % 4 != 0) return -1;
  const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(pixFmt);
  const int planes = pixFmt == AV_PIX_FMT_GRAY8 ? 1 : 3;
  for (int plane = 0; plane < planes; ++plane) {
    const int w = plane == 0 ? width : AV_CEIL_RSHIFT(width, desc->log2_chroma_w);
    const int h = plane == 0 ? height : AV_CEIL_RSHIFT(height, desc->log2_chroma_h);
    DeinterlacePlane(dst[plane], dstLinesize[plane], src[plane], srcLinesize[plane], w, h);
  }
  return 0;
}

// ---- Transcoding set-up ----

void TCustomFFmpeg::TranscodeLoop() {
  AllocRunFrames();
  if (FSettings.RateEmu)
    for (auto& ist : FInputStreams) ist->RateEmuStart = ff::av_gettime_relative();
  BuildOutputStreamTable();
  for (TOutputStream* ost : FOutputStreams) SetCodecParameters(*ost);
  // Decoders first: a subtitle encoder takes the header its source decoder makes when it opens.
  OpenDecoders();
  OpenEncoders();
  for (auto& ist : FInputStreams) InitInputClock(*ist);
  CopyMetadata();
  CopyChapters();
  WriteHeaders();
  PrintStreamMapping();
  MainLoop();
}

void TCustomFFmpeg::AllocRunFrames() {
  FDecodedFrame = ff::av_frame_alloc();
  FEncodeFrame = ff::av_frame_alloc();
  FOutPacket = ff::av_packet_alloc();
  if (!FDecodedFrame || !FEncodeFrame || !FOutPacket) throw std::bad_alloc();
}

void TCustomFFmpeg::FreeRunFrames() {
  ff::av_frame_free(&FDecodedFrame);
  ff::av_frame_free(&FEncodeFrame);
  ff::av_frame_free(&FInputHookFrame);
  ff::av_frame_free(&FOutputHookFrame);
  ff::av_packet_free(&FOutPacket);
  FOutputStreams.clear();
  FPreviewer.reset();
}

int TCustomFFmpeg::GroupSize() const {
  return FOutputFiles.empty() ? 0 : int(FOutputFiles[0]->Streams.size());
}

// The frames a stream's demuxer found, which ranks the candidates for an output stream: the
// container's count when it knows one, else one for a stream whose codec parameters were found.
int64_t TCustomFFmpeg::ProbedFrames(const TInputStream& ist) {
  const AVCodecParameters* par = ist.St->codecpar;
  if (ist.St->nb_frames > 0) return ist.St->nb_frames;
  return par->codec_id != AV_CODEC_ID_NONE && (par->width > 0 || par->sample_rate > 0) ? 1 : 0;
}

bool TCustomFFmpeg::IsCandidate(const TInputStream& ist) const {
  if (!ist.Unclaimed || ist.St->discard == AVDISCARD_ALL) return false;
  if (FSettings.ProgramID < 0) return true;
  const AVFormatContext* ic = FInputFiles[ist.FileIndex]->Ctx;
  for (unsigned p = 0; p < ic->nb_programs; ++p) {
    const AVProgram* program = ic->programs[p];
    if (program->id != FSettings.ProgramID) continue;
    for (unsigned s = 0; s < program->nb_stream_indexes; ++s)
      if (int(program->stream_index[s]) == ist.St->index) return true;
  }
  return false;
}

bool TCustomFFmpeg::JoinQualifies(const TInputStream& ist, int fileIndex) const {
  return !FJoinInputs || (ist.FileIndex == fileIndex && !ist.JoinTaken);
}

void TCustomFFmpeg::BuildOutputStreamTable() {
  FOutputStreams.clear();
  for (size_t i = 0; i < FOutputFiles.size(); ++i) {
    TOutputFile& file = *FOutputFiles[i];
    if (file.Streams.empty() && !(file.Ctx->oformat->flags & AVFMT_NOSTREAMS)) {
      ff::av_dump_format(file.Ctx, int(i), file.FileName.c_str(), 1);
      throw FFmpegException(Format("Output file #%d does not contain any stream", int(i)));
    }
    for (auto& ost : file.Streams) {
      // The muxer stream tells every part of the run the stream's media type.
      if (!ost->Mirror) ost->St->codecpar->codec_type = ost->Encoder->codec_type;
      FOutputStreams.push_back(ost.get());
    }
  }
  if (!FStreamMaps.empty() && FStreamMaps.size() != FOutputStreams.size())
    throw FFmpegException("Number of stream maps must match number of output streams");
  for (const TStreamMap& map : FStreamMaps) {
    if (!FindInputStream(map.FileIndex, map.StreamIndex))
      throw FFmpegException(
          Format("Could not find input stream #%d.%d", map.FileIndex, map.StreamIndex));
    if (!FindInputStream(map.SyncFileIndex, map.SyncStreamIndex))
      throw FFmpegException(
          Format("Could not find sync stream #%d.%d", map.SyncFileIndex, map.SyncStreamIndex));
  }
  const std::array<int64_t, AVMEDIA_TYPE_NB> thresholds = FrameThresholds();
  for (size_t i = 0; i < FOutputStreams.size(); ++i)
    ChooseSource(*FOutputStreams[i], i, thresholds);
}

TInputStream* TCustomFFmpeg::FindInputStream(int fileIndex, int streamIndex) const {
  if (fileIndex < 0 || fileIndex >= int(FInputFiles.size())) return nullptr;
  const TInputFile& file = *FInputFiles[fileIndex];
  if (streamIndex < 0 || streamIndex >= file.NbStreams) return nullptr;
  return FInputStreams[file.IstIndex + streamIndex].get();
}

int TCustomFFmpeg::InputStreamIndex(const TInputStream* ist) const {
  for (size_t i = 0; i < FInputStreams.size(); ++i)
    if (FInputStreams[i].get() == ist) return int(i);
  return -1;
}

// Per media type the largest probed frame count that still leaves as many candidate inputs as
// there are output streams of the type: the inputs with the most frames are preferred.
std::array<int64_t, AVMEDIA_TYPE_NB> TCustomFFmpeg::FrameThresholds() const {
  std::array<int, AVMEDIA_TYPE_NB> wanted{};
  for (const TOutputStream* ost : FOutputStreams) {
    const int type = ost->St->codecpar->codec_type;
    if (type >= 0 && type < AVMEDIA_TYPE_NB) ++wanted[type];
  }
  std::array<int64_t, AVMEDIA_TYPE_NB> thresholds{};
  for (int64_t step = int64_t(1) << 30; step > 0; step >>= 1) {
    std::array<int, AVMEDIA_TYPE_NB> found{};
    for (auto& t : thresholds) t += step;
    for (const auto& ist : FInputStreams) {
      const int type = ist->St->codecpar->codec_type;
      if (type >= 0 && type < AVMEDIA_TYPE_NB && IsCandidate(*ist) &&
          ProbedFrames(*ist) >= thresholds[type])
        ++found[type];
    }
    for (int type = 0; type < AVMEDIA_TYPE_NB; ++type)
      if (found[type] < wanted[type]) thresholds[type] -= step;
  }
  return thresholds;
}

void TCustomFFmpeg::ChooseSource(TOutputStream& ost, size_t tableIndex,
                                 const std::array<int64_t, AVMEDIA_TYPE_NB>& thresholds) {
  const AVMediaType type = ost.St->codecpar->codec_type;
  TInputStream* source = nullptr;
  TInputStream* sync = nullptr;
  if (!FStreamMaps.empty()) {
    const TStreamMap& map = FStreamMaps[tableIndex];
    source = FindInputStream(map.FileIndex, map.StreamIndex);
    sync = FindInputStream(map.SyncFileIndex, map.SyncStreamIndex);
    if (source->St->codecpar->codec_type != type)
      throw FFmpegException(Format("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)",
                                   map.FileIndex, map.StreamIndex,
                                   MediaTypeName(source->St->codecpar->codec_type).c_str(),
                                   ost.FileIndex, ost.Index, MediaTypeName(type).c_str()));
  } else {
    source = FindSource(ost, type, thresholds[type]);
    if (!source)
      throw FFmpegException(Format("Could not find input stream matching output stream #%d.%d (%s)",
                                   ost.FileIndex, ost.Index, MediaTypeName(type).c_str()));
    sync = source;
  }
  if (FJoinInputs) source->JoinTaken = true;
  source->Unclaimed = false;
  ost.SourceIndex = InputStreamIndex(source);
  ost.SyncSource = InputStreamIndex(sync);
  ost.Active = true;
}

TInputStream* TCustomFFmpeg::FindSource(const TOutputStream& ost, AVMediaType type,
                                        int64_t threshold) const {
  for (const auto& ist : FInputStreams)
    if (ist->St->codecpar->codec_type == type && IsCandidate(*ist) &&
        ProbedFrames(*ist) >= threshold && JoinQualifies(*ist, ost.FileIndex))
      return ist.get();
  if (FSettings.ProgramID >= 0) return nullptr;
  TInputStream* last = nullptr;
  for (const auto& ist : FInputStreams) {
    if (ist->St->codecpar->codec_type != type || ist->St->discard == AVDISCARD_ALL) continue;
    if (FJoinInputs) {
      if (JoinQualifies(*ist, ost.FileIndex)) return ist.get();
    } else {
      last = ist.get();
    }
  }
  return last;
}

// ---- Codec parameters ----

void TCustomFFmpeg::SetCodecParameters(TOutputStream& ost) {
  TInputStream& ist = *FInputStreams[ost.SourceIndex];
  if (ost.Mirror) {
    SetMirrorParameters(ost, ist);
    return;
  }
  if (FMetadataStreamsAutoCopy)
    ff::av_dict_copy(&ost.St->metadata, ist.St->metadata, AV_DICT_DONT_OVERWRITE);
  ost.St->disposition = ist.St->disposition;
  AVCodecContext& encoder = *ost.Encoder;
  encoder.bits_per_raw_sample = ist.St->codecpar->bits_per_raw_sample;
  encoder.chroma_sample_location = ist.St->codecpar->chroma_location;
  if (ost.StreamCopy) {
    SetCopyParameters(ost, ist);
    return;
  }
  switch (encoder.codec_type) {
    case AVMEDIA_TYPE_VIDEO:
      SetVideoParameters(ost, ist);
      break;
    case AVMEDIA_TYPE_AUDIO:
      SetAudioParameters(ost, ist);
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      encoder.time_base = AVRational{1, AV_TIME_BASE};
      break;
    default:
      throw FFmpegException("invalid codec_type of output stream");
  }
  ost.EncodingNeeded = true;
  ist.DecodingNeeded = true;
  OpenPassLogFile(ost);
}

// Join mode: a later group's stream writes through the encoder of the stream it mirrors, from
// its own input, whose pictures and samples may differ from the first input's.
void TCustomFFmpeg::SetMirrorParameters(TOutputStream& ost, TInputStream& ist) {
  ost.EncodingNeeded = ost.Mirror->EncodingNeeded;
  if (!ost.EncodingNeeded) return;
  ist.DecodingNeeded = true;
  const AVCodecContext& decoder = *ist.Decoder;
  switch (ost.St->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
      ost.ResampleWidth = decoder.width;
      ost.ResampleHeight = decoder.height;
      ost.ResamplePixFmt = decoder.pix_fmt;
      if (FSettings.UseFilters) ConfigureFiltersOrFail(ost, ist);
      break;
    case AVMEDIA_TYPE_AUDIO:
      ost.ResampleSampleFmt = AV_SAMPLE_FMT_S16;
      ost.ResampleChannels = decoder.ch_layout.nb_channels;
      ost.ResampleSampleRate = decoder.sample_rate;
      break;
    default:
      break;
  }
}

void TCustomFFmpeg::ConfigureFiltersOrFail(TOutputStream& ost, const TInputStream& ist) {
  const int result = ConfigureVideoFilters(ost, ist);
  if (result < 0) throw FFmpegException(AVErrorText("Error opening filters", result));
}

void TCustomFFmpeg::SetCopyParameters(TOutputStream& ost, TInputStream& ist) {
  const AVCodecParameters& in = *ist.St->codecpar;
  AVCodecParameters& out = *ost.St->codecpar;
  if (in.extradata_size > INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE)
    throw FFmpegException("icodec.extradata_size is invalid (too large)");
  switch (in.codec_type) {
    case AVMEDIA_TYPE_AUDIO:
      if (FSettings.AudioVolume != 256)
        throw FFmpegException("-acodec copy and -vol are incompatible (frames are not decoded)");
      if (OnAudioHook)
        throw FFmpegException(
            "-acodec copy and AudioHook are incompatible (frames are not decoded)");
      break;
    case AVMEDIA_TYPE_VIDEO:
      CheckVideoCopy();
      break;
    case AVMEDIA_TYPE_SUBTITLE:
    case AVMEDIA_TYPE_DATA:
      break;
    default:
      throw FFmpegException("invalid codec_type of output stream");
  }
  if (ff::avcodec_parameters_copy(&out, &in) < 0) throw FFmpegException("av_mallocz fail");
  out.codec_tag = CopiedCodecTag(ost, in);
  if (in.codec_type == AVMEDIA_TYPE_AUDIO &&
      ((in.codec_id == AV_CODEC_ID_MP3 && in.block_align == 1) || in.codec_id == AV_CODEC_ID_AC3))
    out.block_align = 0;
  if (in.codec_type == AVMEDIA_TYPE_VIDEO) {
    const AVRational ratio = ost.FrameAspectRatio > 0
                                 ? ff::av_d2q(ost.FrameAspectRatio * in.height / in.width, 255)
                             : ist.St->sample_aspect_ratio.num ? ist.St->sample_aspect_ratio
                             : in.sample_aspect_ratio.num      ? in.sample_aspect_ratio
                                                               : AVRational{0, 1};
    out.sample_aspect_ratio = ost.St->sample_aspect_ratio = ratio;
  }
  ost.St->time_base = ist.St->time_base;
  ost.St->avg_frame_rate = ist.St->avg_frame_rate;
}

void TCustomFFmpeg::CheckVideoCopy() const {
  if (OnVideoInputHook || OnVideoOutputHook)
    throw FFmpegException("-vcodec copy and VideoHook are incompatible (frames are not decoded)");
  if (OnFrameInputHook || OnFrameOutputHook)
    throw FFmpegException("-vcodec copy and FrameHook are incompatible (frames are not decoded)");
  if (!FFrameHooks.Empty())
    throw FFmpegException("-vcodec copy and -vhook are incompatible (frames are not decoded)");
  if (FPreviewFlags != 0)
    throw FFmpegException("-vcodec copy and PostHooks are incompatible (frames are not decoded)");
}

// The input's codec tag, when the output format accepts it for the same codec.
uint32_t TCustomFFmpeg::CopiedCodecTag(const TOutputStream& ost,
                                       const AVCodecParameters& in) const {
  const AVOutputFormat* format = FOutputFiles[ost.FileIndex]->Ctx->oformat;
  if (!format->codec_tag) return in.codec_tag;
  if (ff::av_codec_get_id(format->codec_tag, in.codec_tag) == in.codec_id) return in.codec_tag;
  if (ff::av_codec_get_tag(format->codec_tag, in.codec_id) == 0) return in.codec_tag;
  return 0;
}

void TCustomFFmpeg::SetVideoParameters(TOutputStream& ost, TInputStream& ist) {
  AVCodecContext& encoder = *ost.Encoder;
  const AVCodecContext& decoder = *ist.Decoder;
  if (encoder.pix_fmt == AV_PIX_FMT_NONE) encoder.pix_fmt = decoder.pix_fmt;
  ChoosePixelFormat(encoder, ost.Codec);
  if (encoder.pix_fmt == AV_PIX_FMT_NONE)
    throw FFmpegException("Video pixel format is unknown, stream cannot be encoded");
  if (encoder.width <= 0) encoder.width = decoder.width;
  if (encoder.height <= 0) encoder.height = decoder.height;
  ost.VideoResample = encoder.width != decoder.width || encoder.height != decoder.height ||
                      encoder.pix_fmt != decoder.pix_fmt;
  if (ost.VideoResample) encoder.bits_per_raw_sample = FSettings.FrameBitsPerRawSample;
  ost.ResampleWidth = decoder.width;
  ost.ResampleHeight = decoder.height;
  ost.ResamplePixFmt = decoder.pix_fmt;
  AVRational rate = ost.FrameRate;
  if (!rate.num) rate = ist.St->r_frame_rate;
  if (!rate.num || !rate.den) rate = AVRational{25, 1};
  if (ost.Codec && ost.Codec->supported_framerates && !FSettings.ForceFps)
    rate = ost.Codec->supported_framerates[ff::av_find_nearest_q_idx(
        rate, ost.Codec->supported_framerates)];
  encoder.framerate = rate;
  encoder.time_base = AVRational{rate.den, rate.num};
  const bool variable = (FOutputFiles[ost.FileIndex]->Ctx->oformat->flags & AVFMT_VARIABLE_FPS);
  if (av_q2d(encoder.time_base) < 0.001 &&
      (FSettings.VideoSyncMethod == 1 || (FSettings.VideoSyncMethod < 0 && !variable)))
    ff::av_log(&encoder, AV_LOG_WARNING, "%s",
               "Frame rate very high for a muxer not effciciently supporting it.\n"
               "Please consider specifiying a lower framerate, a different muxer or -vsync 2\n");
  if (!ost.ForcedKeyFramesText.empty()) ParseForcedKeyFrames(ost.ForcedKeyFramesText, ost, encoder);
  if (FSettings.UseFilters) ConfigureFiltersOrFail(ost, ist);
}

void TCustomFFmpeg::SetAudioParameters(TOutputStream& ost, TInputStream& ist) {
  AVCodecContext& encoder = *ost.Encoder;
  const AVCodecContext& decoder = *ist.Decoder;
  if (encoder.sample_fmt == AV_SAMPLE_FMT_NONE) encoder.sample_fmt = decoder.sample_fmt;
  ChooseSampleFormat(encoder, ost.Codec);
  if (encoder.sample_rate <= 0) encoder.sample_rate = decoder.sample_rate >> decoder.lowres;
  ChooseSampleRate(encoder, ost.Codec);
  encoder.time_base = AVRational{1, encoder.sample_rate};
  if (encoder.ch_layout.nb_channels <= 0)
    ff::av_channel_layout_default(&encoder.ch_layout, decoder.ch_layout.nb_channels);
  ost.AudioResample = encoder.sample_rate != decoder.sample_rate || FSettings.AudioSyncMethod > 1;
  ost.ResampleSampleFmt = AV_SAMPLE_FMT_S16;
  ost.ResampleChannels = decoder.ch_layout.nb_channels;
  ost.ResampleSampleRate = decoder.sample_rate;
  const int channels = encoder.ch_layout.nb_channels;
  const int bytes = std::max(1, channels * ff::av_get_bytes_per_sample(encoder.sample_fmt));
  ost.Fifo = ff::av_audio_fifo_alloc(encoder.sample_fmt, channels, std::max(1, 1024 / bytes));
  if (!ost.Fifo) throw FFmpegException("av_fifo_alloc fail");
}

void TCustomFFmpeg::OpenPassLogFile(TOutputStream& ost) {
  AVCodecContext& encoder = *ost.Encoder;
  if (!(encoder.flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)) ||
      encoder.codec_id == AV_CODEC_ID_RAWVIDEO)
    return;
  const std::string prefix =
      FSettings.PassLogFileName.empty() ? "ffmpeg2pass" : FSettings.PassLogFileName;
  const std::string name = (prefix + "-" + std::to_string(ost.Index) + ".log").substr(0, 1023);
  if (encoder.flags & AV_CODEC_FLAG_PASS1) {
    ost.LogFile = std::fopen(name.c_str(), "wb");
    if (!ost.LogFile)
      throw FFmpegException(Format("Cannot write log file %s for pass-1 encoding", name.c_str()));
    return;
  }
  uint8_t* text = nullptr;
  int64_t size = 0;
  const int read = ReadWholeFile(name.c_str(), text, size);
  if (read == AVERROR(ENOMEM))
    throw FFmpegException(
        Format("Could not allocate file buffer: Error reading log file \"%s\" for pass-2 encoding",
               name.c_str()));
  if (read < 0)
    throw FFmpegException(Format(
        "Cannot read file: Error reading log file \"%s\" for pass-2 encoding", name.c_str()));
  encoder.stats_in = reinterpret_cast<char*>(text);
}

// ---- Opening codecs ----

void TCustomFFmpeg::OpenEncoders() {
  const size_t count = FJoinInputs ? size_t(GroupSize()) : FOutputStreams.size();
  for (size_t i = 0; i < count; ++i) {
    TOutputStream& ost = *FOutputStreams[i];
    if (!ost.EncodingNeeded) continue;
    OpenEncoder(ost);
  }
}

void TCustomFFmpeg::FailSetUp(const std::string& text) {
  Log(llError, text);
  PrintStreamMapping();
  throw FFmpegException(text);
}

void TCustomFFmpeg::OpenEncoder(TOutputStream& ost) {
  AVCodecContext& encoder = *ost.Encoder;
  const TInputStream& ist = *FInputStreams[ost.SourceIndex];
  const std::string type = MediaTypeName(encoder.codec_type);
  if (!ost.Codec)
    FailSetUp(Format("Encoder (codec id %d) not found for output stream #%d.%d (%s)",
                     int(encoder.codec_id), ost.FileIndex, ost.Index, type.c_str()));
  if (ist.Decoder && ist.Decoder->subtitle_header) {
    encoder.subtitle_header =
        static_cast<uint8_t*>(ff::av_mallocz(size_t(ist.Decoder->subtitle_header_size) + 1));
    if (!encoder.subtitle_header) FailSetUp("av_malloc failed");
    std::memcpy(encoder.subtitle_header, ist.Decoder->subtitle_header,
                size_t(ist.Decoder->subtitle_header_size));
    encoder.subtitle_header_size = ist.Decoder->subtitle_header_size;
  }
  ost.JoinCodecId = encoder.codec_id;
  bool opened = false;
  {
    const TCodecLock lock;
    opened = ff::avcodec_open2(&encoder, ost.Codec, nullptr) >= 0;
    if (opened) FOpenEncoders.push_front(&ost);
  }
  if (!opened)
    FailSetUp(
        Format("Error while opening encoder for output stream #%d.%d (%s) - maybe incorrect "
               "parameters such as bit_rate, rate, width or height. Please check error log "
               "message to find out more detail information.",
               ost.FileIndex, ost.Index, type.c_str()));
  if (ff::avcodec_parameters_from_context(ost.St->codecpar, &encoder) < 0)
    throw FFmpegException("av_mallocz fail");
  ost.St->time_base = encoder.time_base;
  ost.St->avg_frame_rate = encoder.framerate;
  ost.St->sample_aspect_ratio = encoder.sample_aspect_ratio;
}

void TCustomFFmpeg::OpenDecoders() {
  for (size_t i = 0; i < FInputStreams.size(); ++i) {
    TInputStream& ist = *FInputStreams[i];
    if (!ist.DecodingNeeded) continue;
    const TInputFile& file = *FInputFiles[ist.FileIndex];
    const int streamIndex = int(i) - file.IstIndex;
    const std::string type = MediaTypeName(ist.St->codecpar->codec_type);
    const AVCodec* codec = ist.ForcedDecoder ? ist.ForcedDecoder
                                             : ff::avcodec_find_decoder(ist.St->codecpar->codec_id);
    if (!codec)
      FailSetUp(Format("Decoder (codec id %d) not found for input stream #%d.%d (%s)",
                       int(ist.St->codecpar->codec_id), ist.FileIndex, streamIndex, type.c_str()));
    bool opened = false;
    {
      const TCodecLock lock;
      opened = ff::avcodec_open2(ist.Decoder, codec, nullptr) >= 0;
      if (opened) FOpenDecoders.push_front(&ist);
    }
    if (!opened)
      FailSetUp(Format("Error while opening decoder for input stream #%d.%d (%s)", ist.FileIndex,
                       streamIndex, type.c_str()));
  }
}

void TCustomFFmpeg::InitInputClock(TInputStream& ist) {
  const AVRational rate = ist.St->avg_frame_rate;
  ist.Pts =
      rate.num ? -int64_t(ist.St->codecpar->video_delay) * AV_TIME_BASE * rate.den / rate.num : 0;
  ist.NextPts = AV_NOPTS_VALUE;
  ist.AtStart = true;
}

// ---- Metadata, chapters and headers ----

void TCustomFFmpeg::CopyMetadata() {
  for (const TMetadataMap& map : FMetadataMaps) {
    AVDictionary** out = MetadataOf(map.Output, true);
    AVDictionary** in = MetadataOf(map.Input, false);
    ff::av_dict_copy(out, *in, AV_DICT_DONT_OVERWRITE);
  }
  if (!FMetadataGlobalAutoCopy || FInputFiles.empty()) return;
  for (const auto& file : FOutputFiles)
    if (file->OwnsContext)
      ff::av_dict_copy(&file->Ctx->metadata, FInputFiles[0]->Ctx->metadata, AV_DICT_DONT_OVERWRITE);
}

AVDictionary** TCustomFFmpeg::MetadataOf(const TMetadataSpec& spec, bool output) const {
  const auto invalid = [](const char* what, int index) {
    return FFmpegException(
        Format("Invalid %s index %d while processing metadata maps", what, index));
  };
  const int files = output ? OutputCount() : InputCount();
  if (spec.File < 0 || spec.File >= files)
    throw invalid(output ? "output file" : "input file", spec.File);
  AVFormatContext* ctx = output ? FOutputFiles[spec.File]->Ctx : FInputFiles[spec.File]->Ctx;
  switch (spec.Type) {
    case 's':
      if (spec.Index < 0 || spec.Index >= int(ctx->nb_streams)) throw invalid("stream", spec.Index);
      return &ctx->streams[spec.Index]->metadata;
    case 'c':
      if (spec.Index < 0 || spec.Index >= int(ctx->nb_chapters))
        throw invalid("chapter", spec.Index);
      return &ctx->chapters[spec.Index]->metadata;
    case 'p':
      if (spec.Index < 0 || spec.Index >= int(ctx->nb_programs))
        throw invalid("program", spec.Index);
      return &ctx->programs[spec.Index]->metadata;
    default:
      return &ctx->metadata;
  }
}

void TCustomFFmpeg::CopyChapters() {
  for (const TChapterMap& map : FChapterMaps) {
    if (map.InFile < 0 || map.InFile >= InputCount())
      throw FFmpegException(Format("Invalid input file index %d in chapter mapping.", map.InFile));
    if (map.OutFile < 0 || map.OutFile >= OutputCount())
      throw FFmpegException(
          Format("Invalid output file index %d in chapter mapping.", map.OutFile));
  }
  if (!FChapterMaps.empty() || !FMetadataChaptersAutoCopy) return;
  for (const auto& input : FInputFiles) {
    if (input->Ctx->nb_chapters == 0) continue;
    for (const auto& file : FOutputFiles)
      if (file->OwnsContext) CopyChaptersInto(*input, *file);
    return;
  }
}

void TCustomFFmpeg::CopyChaptersInto(const TInputFile& input, TOutputFile& output) {
  AVFormatContext* is = input.Ctx;
  AVFormatContext* os = output.Ctx;
  const int64_t offset = input.TsOffset - FSettings.StartTime;
  for (unsigned n = 0; n < is->nb_chapters; ++n) {
    const AVChapter* in = is->chapters[n];
    auto* out = static_cast<AVChapter*>(ff::av_mallocz(sizeof(AVChapter)));
    if (!out) throw FFmpegException("av_mallocz fail");
    out->id = in->id;
    out->time_base = in->time_base;
    out->start = std::max<int64_t>(0, in->start + FromMicroseconds(offset, in->time_base));
    out->end = std::max<int64_t>(out->start, in->end + FromMicroseconds(offset, in->time_base));
    ff::av_dict_copy(&out->metadata, in->metadata, 0);
    void* grown = ff::av_realloc(os->chapters, sizeof(AVChapter*) * (os->nb_chapters + 1));
    if (!grown) {
      ff::av_dict_free(&out->metadata);
      ff::av_free(out);
      throw FFmpegException("av_realloc fail");
    }
    os->chapters = static_cast<AVChapter**>(grown);
    os->chapters[os->nb_chapters++] = out;
  }
}

void TCustomFFmpeg::WriteHeaders() {
  const size_t count = FJoinInputs ? 1 : FOutputFiles.size();
  bool allRtp = true;
  for (size_t i = 0; i < count; ++i) {
    TOutputFile& file = *FOutputFiles[i];
    TDictionary options;
    ff::av_dict_copy(&options.Value, file.MuxerOptions.Value, 0);
    if (ff::avformat_write_header(file.Ctx, &options.Value) < 0)
      FailSetUp(Format("Could not write header for output file #%d (incorrect codec parameters ?)",
                       int(i)));
    file.HeaderWritten = true;
    allRtp = allRtp && std::strcmp(file.Ctx->oformat->name, "rtp") == 0;
  }
  for (TOutputStream* ost : FOutputStreams)
    if (!ost->Mirror) InitBitstreamFilters(*ost);
  if (allRtp) PrintSdp(count);
}

void TCustomFFmpeg::PrintSdp(size_t count) {
  std::vector<AVFormatContext*> contexts;
  for (size_t i = 0; i < count; ++i) contexts.push_back(FOutputFiles[i]->Ctx);
  char sdp[2048];
  ff::av_sdp_create(contexts.data(), int(contexts.size()), sdp, sizeof sdp);
  Log(llInfo, std::string("SDP:\r\n") + sdp);
}

void TCustomFFmpeg::InitBitstreamFilters(TOutputStream& ost) {
  for (const TBitstreamFilterSpec& spec : ost.BitstreamFilterSpecs) {
    AVBSFContext* bsf = nullptr;
    if (ff::av_bsf_alloc(spec.Filter, &bsf) < 0)
      throw std::runtime_error("Could not alloc buffer.");
    ost.BitstreamFilters.push_back(bsf);
    const AVBSFContext* previous = ost.BitstreamFilters.size() > 1
                                       ? ost.BitstreamFilters[ost.BitstreamFilters.size() - 2]
                                       : nullptr;
    ff::avcodec_parameters_copy(bsf->par_in, previous ? previous->par_out : ost.St->codecpar);
    bsf->time_base_in = previous ? previous->time_base_out : ost.St->time_base;
    int result = 0;
    if (!spec.Arguments.empty() && bsf->priv_data) {
      TDictionary arguments;
      result = ff::av_dict_parse_string(&arguments.Value, spec.Arguments.c_str(), "=", ":", 0);
      if (result >= 0) result = ff::av_opt_set_dict(bsf->priv_data, &arguments.Value);
      // What the filter did not take is left in the dictionary.
      if (result >= 0 && ff::av_dict_count(arguments.Value) > 0) result = AVERROR_OPTION_NOT_FOUND;
    }
    if (result >= 0) result = ff::av_bsf_init(bsf);
    if (result < 0)
      throw FFmpegException(AVErrorText(Format("%s failed for stream %d, codec %s",
                                               spec.Filter->name, ost.Index, EncoderName(ost)),
                                        result));
  }
}

// ---- Stream mapping ----

void TCustomFFmpeg::PrintStreamMapping() {
  if (FSettings.Verbose < 0) return;
  const size_t count = FJoinInputs ? 1 : FOutputFiles.size();
  for (size_t i = 0; i < count; ++i)
    ff::av_dump_format(FOutputFiles[i]->Ctx, int(i), FOutputFiles[i]->FileName.c_str(), 1);
  Log(llInfo, "Stream mapping:");
  for (const TOutputStream* ost : FOutputStreams) {
    if (ost->SourceIndex < 0) continue;
    const TInputStream& ist = *FInputStreams[ost->SourceIndex];
    std::string line = Format("  Stream #%d.%d -> #%d.%d (%s)", ist.FileIndex, ist.St->index,
                              FJoinInputs ? 0 : ost->FileIndex, ost->Index,
                              MediaTypeName(ist.St->codecpar->codec_type).c_str());
    if (ost->SyncSource != ost->SourceIndex) {
      const TInputStream& sync = *FInputStreams[ost->SyncSource];
      line += Format(" [sync #%d.%d (%s)]", sync.FileIndex, sync.St->index,
                     MediaTypeName(sync.St->codecpar->codec_type).c_str());
    }
    Log(llInfo, line);
  }
}

// ---- Main loop ----

namespace {

bool BreakProc(void* owner) { return static_cast<TCustomFFmpeg*>(owner)->BreakCallback(owner); }

// Registers the task's abort test for blocking library calls of the loop's thread.
class TBreakRegistration {
 public:
  explicit TBreakRegistration(TCustomFFmpeg& task) : FTask(&task), FActive(!IsMainThread()) {
    if (FActive) InterruptCB().Add(std::this_thread::get_id(), FTask, BreakProc);
  }
  ~TBreakRegistration() {
    if (FActive) InterruptCB().Remove(std::this_thread::get_id(), FTask, BreakProc);
  }
  TBreakRegistration(const TBreakRegistration&) = delete;
  TBreakRegistration& operator=(const TBreakRegistration&) = delete;

 private:
  TCustomFFmpeg* FTask;
  bool FActive;
};

// An AVPacket that frees itself.
struct TPacket {
  TPacket() : Value(ff::av_packet_alloc()) {
    if (!Value) throw std::bad_alloc();
  }
  ~TPacket() { ff::av_packet_free(&Value); }
  TPacket(const TPacket&) = delete;
  TPacket& operator=(const TPacket&) = delete;
  AVPacket* Value;
};

}  // namespace

void TCustomFFmpeg::MainLoop() {
  const TBreakRegistration breakRegistration(*this);
  FLoopStartTime = ff::av_gettime_relative();
  FJoinIndex = 0;
  FLastFileIndex = 0;
  int64_t lastReport = FLoopStartTime;
  TPacket packet;
  try {
    while (!Aborting) {
      CheckPaused();
      const int fileIndex = ChooseInputFile();
      if (fileIndex < 0) {
        if (FJoinInputs || !AnyNoPacket()) break;
        for (auto& file : FInputFiles) file->NoPacket = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      if (FSettings.LimitFileSize != 0 && FOutputFiles[0]->Ctx->pb &&
          ff::avio_seek(FOutputFiles[0]->Ctx->pb, 0, SEEK_CUR) >= FSettings.LimitFileSize)
        break;
      if (!ReadAndOutput(fileIndex, packet.Value)) break;
      const int64_t now = ff::av_gettime_relative();
      if (now - lastReport > ProgressInterval) {
        PrintReport(false, FLastFileIndex);
        lastReport = now;
      }
    }
  } catch (...) {
    // An error ends the run, yet what was written stays playable.
    EndTranscode(false);
    throw;
  }
  EndTranscode(true);
}

bool TCustomFFmpeg::AnyNoPacket() const {
  return std::any_of(FInputFiles.begin(), FInputFiles.end(),
                     [](const auto& file) { return file->NoPacket; });
}

// The file to read next: the one whose stream lags most (by its input clock with input sync,
// else by the time written), or -1 when none is left or a frame limit was reached.
int TCustomFFmpeg::ChooseInputFile() const {
  if (FJoinInputs) {
    const size_t group = size_t(GroupSize());
    for (size_t i = size_t(FJoinIndex) * group; i < (size_t(FJoinIndex) + 1) * group; ++i)
      if (ReachedFrameLimit(*FOutputStreams[i])) return -1;
    return FJoinIndex;
  }
  double smallestInput = 1e300, smallestOutput = 1e300;
  int inputChoice = -1, outputChoice = -1;
  for (const TOutputStream* ost : FOutputStreams) {
    const TInputStream& ist = *FInputStreams[ost->SourceIndex];
    const TInputFile& file = *FInputFiles[ist.FileIndex];
    if (ist.PastRecordingTime || file.NoPacket) continue;
    if (ReachedFrameLimit(*ost)) return -1;
    if (file.EofReached) continue;
    const double inputClock = double(ist.Pts);
    const double outputTime = MuxerTime(ost->St);
    if (inputClock < smallestInput) {
      smallestInput = inputClock;
      inputChoice = ist.FileIndex;
    }
    if (outputTime < smallestOutput) {
      smallestOutput = outputTime;
      outputChoice = ist.FileIndex;
    }
  }
  return FSettings.InputSync ? inputChoice : outputChoice;
}

bool TCustomFFmpeg::ReachedFrameLimit(const TOutputStream& ost) const {
  const int type = ost.St->codecpar->codec_type;
  return type >= 0 && type <= AVMEDIA_TYPE_SUBTITLE && ost.FrameNumber >= FSettings.MaxFrames[type];
}

// One packet of the file through its stream's output path. False ends the loop.
bool TCustomFFmpeg::ReadAndOutput(int fileIndex, AVPacket* pkt) {
  TInputFile& file = *FInputFiles[fileIndex];
  const int result = ff::av_read_frame(file.Ctx, pkt);
  if (result == AVERROR(EAGAIN)) {
    file.NoPacket = true;
    return true;
  }
  if (result < 0) {
    file.EofReached = true;
    if (FJoinInputs) return SwitchGroup();
    return !FSettings.Shortest;
  }
  for (auto& input : FInputFiles) input->NoPacket = false;
  FLastFileIndex = fileIndex;
  if (FSettings.DoPktDump)
    ff::av_log(nullptr, AV_LOG_DEBUG, "%s", PacketDumpText(*pkt, file).c_str());
  const bool keep = pkt->stream_index < file.NbStreams &&
                    !FInputStreams[file.IstIndex + pkt->stream_index]->Unclaimed;
  if (keep) OutputInputPacket(file, pkt);
  ff::av_packet_unref(pkt);
  return true;
}

std::string TCustomFFmpeg::PacketDumpText(const AVPacket& pkt, const TInputFile& file) const {
  const AVRational tb = file.Ctx->streams[pkt.stream_index]->time_base;
  std::string text =
      Format("stream #%d:\n  keyframe=%d\n  duration=%0.3f\n  size=%d\n", pkt.stream_index,
             (pkt.flags & AV_PKT_FLAG_KEY) != 0, double(pkt.duration) * av_q2d(tb), pkt.size);
  text += pkt.dts == AV_NOPTS_VALUE ? "  dts=N/A\n"
                                    : Format("  dts=%0.3f\n", double(pkt.dts) * av_q2d(tb));
  text += pkt.pts == AV_NOPTS_VALUE ? "  pts=N/A\n"
                                    : Format("  pts=%0.3f\n", double(pkt.pts) * av_q2d(tb));
  if (FSettings.DoHexDump)
    for (int offset = 0; offset < pkt.size; offset += 16) {
      text += Format("%08x ", offset);
      for (int n = offset; n < std::min(pkt.size, offset + 16); ++n)
        text += Format(" %02x", pkt.data[n]);
      text += "\n";
    }
  return text;
}

void TCustomFFmpeg::OutputInputPacket(TInputFile& file, AVPacket* pkt) {
  const int istIndex = file.IstIndex + pkt->stream_index;
  TInputStream& ist = *FInputStreams[istIndex];
  const AVRational tb = ist.St->time_base;
  const int64_t offset = FromMicroseconds(file.TsOffset, tb);
  if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += offset;
  if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += offset;
  if (size_t(pkt->stream_index) < file.TsScale.size() && file.TsScale[pkt->stream_index] != 0) {
    const double scale = file.TsScale[pkt->stream_index];
    if (pkt->dts != AV_NOPTS_VALUE) pkt->dts = std::llround(double(pkt->dts) * scale);
    if (pkt->pts != AV_NOPTS_VALUE) pkt->pts = std::llround(double(pkt->pts) * scale);
  }
  CorrectDiscontinuity(file, ist, pkt);
  if (PastRecordingTime(ist, *pkt)) return;
  if (OutputPacket(ist, istIndex, pkt) >= 0) return;
  const std::string text =
      Format("Error while decoding stream #%d.%d (%s)", ist.FileIndex, ist.St->index,
             MediaTypeName(ist.St->codecpar->codec_type).c_str());
  if (FSettings.ExitOnError) throw FFmpegException(text);
  if (FSettings.Verbose >= 0) Log(llVerbose, text);
}

void TCustomFFmpeg::CorrectDiscontinuity(TInputFile& file, TInputStream& ist, AVPacket* pkt) {
  if (pkt->dts == AV_NOPTS_VALUE || ist.NextPts == AV_NOPTS_VALUE || FSettings.CopyTs ||
      !(file.Ctx->iformat->flags & AVFMT_TS_DISCONT))
    return;
  const AVRational tb = ist.St->time_base;
  const int64_t dts = ToMicroseconds(pkt->dts, tb);
  const int64_t delta = dts - ist.NextPts;
  if (std::abs(double(delta)) <= FSettings.DtsDeltaThreshold * AV_TIME_BASE && dts + 1 >= ist.Pts)
    return;
  file.TsOffset -= delta;
  pkt->dts -= FromMicroseconds(delta, tb);
  if (pkt->pts != AV_NOPTS_VALUE) pkt->pts -= FromMicroseconds(delta, tb);
  if (FSettings.Verbose > 2)
    LogFmt(llVerbose, "timestamp discontinuity %" PRId64 ", new offset= %" PRId64, delta,
           file.TsOffset);
}

bool TCustomFFmpeg::PastRecordingTime(TInputStream& ist, const AVPacket& pkt) {
  if (FSettings.RecordingTime == INT64_MAX) return false;
  const int64_t limit = FSettings.RecordingTime + FSettings.StartTime;
  const AVRational tb = ist.St->time_base;
  int64_t time;
  if (pkt.dts != AV_NOPTS_VALUE) {
    time = ToMicroseconds(pkt.dts, tb);
  } else if (ist.Pts != AV_NOPTS_VALUE) {
    time = ist.Pts;
  } else if (pkt.pts != AV_NOPTS_VALUE) {
    time = ToMicroseconds(pkt.pts, tb);
  } else {
    Log(llDebug, "no timestamp information to check whether recording time exhausted or not.");
    return false;
  }
  if (time < limit) return false;
  ist.PastRecordingTime = true;
  return true;
}

// Join mode, at the end of the current input: its decoders are drained into the outputs, the
// next group of streams continues the clocks of this one, and the next input is shifted to
// start where this one ended. False when this was the last input.
bool TCustomFFmpeg::SwitchGroup() {
  const bool last = FJoinIndex + 1 >= InputCount();
  FlushInputFile(FJoinIndex, last);
  const size_t group = size_t(GroupSize());
  const size_t first = size_t(FJoinIndex) * group;
  double endTime = 0;
  for (size_t i = first; i < first + group; ++i) {
    TOutputStream& ost = *FOutputStreams[i];
    endTime = std::max(endTime, StreamEndTime(ost));
    ost.Active = false;
    if (i + group < FOutputStreams.size()) {
      TOutputStream& next = *FOutputStreams[i + group];
      next.SyncPts = ost.SyncPts;
      next.FrameNumber = ost.FrameNumber;
    }
  }
  if (last) return false;
  ++FJoinIndex;
  FInputFiles[FJoinIndex]->TsOffset += std::llround(endTime * AV_TIME_BASE);
  return true;
}

// Where the stream's next frame goes, in seconds: the encoder's clock (with the samples still
// queued), which is ahead of what the muxer has written out of its interleaving queue.
double TCustomFFmpeg::StreamEndTime(TOutputStream& ost) {
  if (!ost.EncodingNeeded) return MuxerTime(ost.St);
  const TOutputStream& root = Root(ost);
  const AVCodecContext& encoder = *root.Encoder;
  if (encoder.codec_type == AVMEDIA_TYPE_AUDIO)
    return double(root.SyncPts + ff::av_audio_fifo_size(root.Fifo)) / encoder.sample_rate;
  return double(ost.SyncPts) * av_q2d(encoder.time_base);
}

// Drains the decoders of one input through the normal frame path; with flushEncoders the
// encoders they feed give out their last packets too.
void TCustomFFmpeg::FlushInputFile(int fileIndex, bool flushEncoders) {
  const TInputFile& file = *FInputFiles[fileIndex];
  for (int n = 0; n < file.NbStreams; ++n) {
    TInputStream& ist = *FInputStreams[file.IstIndex + n];
    if (!ist.DecodingNeeded || ist.Flushed) continue;
    DrainInputStream(ist, file.IstIndex + n, flushEncoders);
    ist.Flushed = true;
  }
}

void TCustomFFmpeg::EndTranscode(bool flush) {
  if (flush)
    for (size_t n = 0; n < FInputFiles.size(); ++n) FlushInputFile(int(n), true);
  const size_t count = FJoinInputs ? 1 : FOutputFiles.size();
  for (size_t i = 0; i < count; ++i) {
    TOutputFile& file = *FOutputFiles[i];
    if (!file.HeaderWritten) continue;
    const int result = ff::av_write_trailer(file.Ctx);
    if (result < 0) Log(llError, AVErrorText(file.FileName, result));
  }
  PrintReport(true, -1);
  CloseOpenEncoders();
  for (TOutputStream* ost : FOutputStreams)
    if (ost->Graph) ff::avfilter_graph_free(&ost->Graph);
  CloseOpenDecoders();
  if (flush) Finished = !Aborting;
}

// ---- Packet decoding and stream copy ----

// The stream whose encoder, audio queue and bitstream filters an output stream uses: in join
// mode the later groups write through the first group's.
TOutputStream& TCustomFFmpeg::Root(TOutputStream& ost) { return ost.Mirror ? *ost.Mirror : ost; }

int TCustomFFmpeg::OutputPacket(TInputStream& ist, int istIndex, const AVPacket* pkt) {
  if (ist.NextPts == AV_NOPTS_VALUE) ist.NextPts = ist.Pts;
  if (!pkt) {
    DrainInputStream(ist, istIndex, true);
    return 0;
  }
  if (pkt->dts != AV_NOPTS_VALUE)
    ist.NextPts = ist.Pts = ToMicroseconds(pkt->dts, ist.St->time_base);
  if (!ist.DecodingNeeded) {
    ist.Pts = ist.NextPts;
    AdvanceCopyClock(ist, *pkt);
    EmulateRate(ist);
    if (PastStartTime(ist)) CopyToOutputs(ist, istIndex, *pkt);
    return 0;
  }
  if (ist.St->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE)
    return DecodeSubtitle(ist, istIndex, pkt);
  return Decode(ist, istIndex, pkt);
}

bool TCustomFFmpeg::PastStartTime(const TInputStream& ist) const {
  return FSettings.StartTime == 0 || ist.Pts >= FSettings.StartTime;
}

// Copied packets move the clock by their own duration.
void TCustomFFmpeg::AdvanceCopyClock(TInputStream& ist, const AVPacket& pkt) {
  const AVCodecParameters& par = *ist.St->codecpar;
  if (pkt.duration > 0) {
    ist.NextPts += ToMicroseconds(pkt.duration, ist.St->time_base);
  } else if (par.codec_type == AVMEDIA_TYPE_VIDEO && ist.St->avg_frame_rate.num) {
    ist.NextPts += ff::av_rescale_q(1, av_inv_q(ist.St->avg_frame_rate), MicrosecondBase);
  } else if (par.codec_type == AVMEDIA_TYPE_AUDIO && par.sample_rate > 0) {
    ist.NextPts += int64_t(AV_TIME_BASE) * par.frame_size / par.sample_rate;
  }
}

// Reading at the native rate: waits until the wall clock catches up with the stream.
void TCustomFFmpeg::EmulateRate(const TInputStream& ist) {
  if (!FSettings.RateEmu) return;
  const int64_t elapsed = ff::av_gettime_relative() - ist.RateEmuStart;
  if (ist.Pts - elapsed > 1000) ff::av_usleep(unsigned(ist.Pts - elapsed));
}

int TCustomFFmpeg::Decode(TInputStream& ist, int istIndex, const AVPacket* pkt) {
  AVCodecContext* decoder = ist.Decoder;
  int result = ff::avcodec_send_packet(decoder, pkt);
  if (result < 0 && result != AVERROR_EOF) return -1;
  int frames = 0;
  for (;;) {
    result = ff::avcodec_receive_frame(decoder, FDecodedFrame);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return 0;
    if (result < 0) return -1;
    if (pkt && ++frames == 2) WarnMultipleFrames(ist);
    try {
      ProcessDecodedFrame(ist, istIndex, FDecodedFrame);
    } catch (...) {
      ff::av_frame_unref(FDecodedFrame);
      throw;
    }
    ff::av_frame_unref(FDecodedFrame);
    if (Aborting) return 0;
  }
}

void TCustomFFmpeg::WarnMultipleFrames(TInputStream& ist) {
  if (FSettings.Verbose > 1 || (FSettings.Verbose > 0 && !ist.MultipleFramesWarned))
    LogFmt(llError, "Multiple frames in a packet from stream %d", ist.St->index);
  ist.MultipleFramesWarned = true;
}

// A decoded frame's time sets the stream's clock; the clock then runs on by its duration.
void TCustomFFmpeg::SetFrameClock(TInputStream& ist, const AVFrame& frame, int64_t duration) {
  ist.Pts = ist.NextPts;
  const int64_t time = frame.best_effort_timestamp;
  if (time != AV_NOPTS_VALUE) ist.Pts = ist.NextPts = ToMicroseconds(time, ist.St->time_base);
  ist.NextPts += duration;
}

int64_t TCustomFFmpeg::VideoFrameDuration(const TInputStream& ist, const AVFrame& frame) const {
  if (frame.pkt_duration > 0) return ToMicroseconds(frame.pkt_duration, ist.St->time_base);
  AVRational rate = ist.Decoder->framerate;
  if (!rate.num) rate = ist.St->avg_frame_rate;
  if (!rate.num || !rate.den) return 0;
  const int ticks = 2 + frame.repeat_pict;
  return ff::av_rescale(int64_t(AV_TIME_BASE) * ticks, rate.den, int64_t(rate.num) * 2);
}

void TCustomFFmpeg::ProcessDecodedFrame(TInputStream& ist, int istIndex, AVFrame* frame) {
  CheckPaused();
  if (ist.St->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
    ProcessAudioFrame(ist, istIndex, *frame);
    return;
  }
  SetFrameClock(ist, *frame, VideoFrameDuration(ist, *frame));
  ist.Quality = float(frame->quality);
  AVFrame* picture = PreProcessVideoFrame(ist, frame);
  EmulateRate(ist);
  if (!PastStartTime(ist)) return;
  FeedVideoOutputs(ist, istIndex, picture);
}

// The decoded samples as packed signed 16-bit, the layout the hook, the volume and the sync
// arithmetic work on.
void TCustomFFmpeg::ProcessAudioFrame(TInputStream& ist, int istIndex, const AVFrame& frame) {
  const int channels = frame.ch_layout.nb_channels;
  const int bytes = ToPackedS16(ist, frame);
  if (bytes <= 0) return;
  const int64_t duration =
      (int64_t(AV_TIME_BASE) / 2) * bytes / (int64_t(frame.sample_rate) * channels);
  SetFrameClock(ist, frame, duration);
  uint8_t* samples = FAudioBuffer.data();
  if (OnAudioHook)
    OnAudioHook(this, samples, ist.Pts, bytes, frame.sample_rate, channels, AV_SAMPLE_FMT_S16);
  ScaleVolume(reinterpret_cast<int16_t*>(samples), size_t(bytes) / 2, FSettings.AudioVolume);
  EmulateRate(ist);
  if (!PastStartTime(ist)) return;
  for (TOutputStream* ost : FOutputStreams)
    if (ost->SourceIndex == istIndex && ost->EncodingNeeded)
      DoAudioOut(*ost, ist, samples, bytes, frame.sample_rate, channels);
}

// Converts a decoded audio frame into FAudioBuffer. The byte count, or -1 when it cannot be.
int TCustomFFmpeg::ToPackedS16(TInputStream& ist, const AVFrame& frame) {
  const int channels = frame.ch_layout.nb_channels;
  const int bytes = frame.nb_samples * channels * 2;
  if (bytes <= 0) return 0;
  const size_t wanted = std::max<size_t>(size_t(bytes), 192000);
  if (FAudioBuffer.size() < wanted) FAudioBuffer.resize(wanted);
  if (frame.format == AV_SAMPLE_FMT_S16) {
    std::memcpy(FAudioBuffer.data(), frame.data[0], size_t(bytes));
    return bytes;
  }
  if (!ist.ToS16 || ist.ToS16Format != frame.format || ist.ToS16Rate != frame.sample_rate ||
      ist.ToS16Channels != channels) {
    ff::swr_free(&ist.ToS16);
    AVChannelLayout* layout = const_cast<AVChannelLayout*>(&frame.ch_layout);
    if (ff::swr_alloc_set_opts2(&ist.ToS16, layout, AV_SAMPLE_FMT_S16, frame.sample_rate, layout,
                                AVSampleFormat(frame.format), frame.sample_rate, 0, nullptr) < 0 ||
        ff::swr_init(ist.ToS16) < 0)
      throw FFmpegException(Format("Cannot convert %s sample format to %s sample format",
                                   ff::av_get_sample_fmt_name(AVSampleFormat(frame.format)),
                                   ff::av_get_sample_fmt_name(AV_SAMPLE_FMT_S16)));
    ist.ToS16Format = frame.format;
    ist.ToS16Rate = frame.sample_rate;
    ist.ToS16Channels = channels;
  }
  uint8_t* out[1] = {FAudioBuffer.data()};
  const int samples =
      ff::swr_convert(ist.ToS16, out, frame.nb_samples,
                      const_cast<const uint8_t**>(frame.extended_data), frame.nb_samples);
  return samples < 0 ? -1 : samples * channels * 2;
}

int TCustomFFmpeg::DecodeSubtitle(TInputStream& ist, int istIndex, const AVPacket* pkt) {
  AVSubtitle subtitle{};
  int got = 0;
  AVPacket* copy = const_cast<AVPacket*>(pkt);
  if (ff::avcodec_decode_subtitle2(ist.Decoder, &subtitle, &got, copy) < 0) return -1;
  ist.Pts = ist.NextPts;
  if (!got) return 0;
  try {
    if (PastStartTime(ist))
      for (TOutputStream* ost : FOutputStreams)
        if (ost->SourceIndex == istIndex && ost->EncodingNeeded) DoSubtitleOut(*ost, ist, subtitle);
  } catch (...) {
    ff::avsubtitle_free(&subtitle);
    throw;
  }
  ff::avsubtitle_free(&subtitle);
  return 0;
}

// The end of an input stream: the decoder gives out what it holds through the normal frame
// path, the filter graphs run dry, then (with flushEncoders) the encoders it feeds are flushed.
void TCustomFFmpeg::DrainInputStream(TInputStream& ist, int istIndex, bool flushEncoders) {
  if (ist.DecodingNeeded && ist.St->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE) {
    if (Decode(ist, istIndex, nullptr) < 0)
      LogFmt(llVerbose, "Error while decoding stream #%d.%d (%s)", ist.FileIndex, ist.St->index,
             MediaTypeName(ist.St->codecpar->codec_type).c_str());
    DrainVideoFilters(ist, istIndex);
  }
  if (!flushEncoders) return;
  for (TOutputStream* ost : FOutputStreams)
    if (ost->SourceIndex == istIndex && ost->EncodingNeeded) FlushEncoder(*ost);
}

void TCustomFFmpeg::FlushEncoder(TOutputStream& ost) {
  TOutputStream& root = Root(ost);
  AVCodecContext* encoder = root.Encoder;
  if (!encoder || root.EncoderFlushed) return;
  root.EncoderFlushed = true;
  switch (encoder->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
      EncodeAndWrite(ost, nullptr);
      break;
    case AVMEDIA_TYPE_AUDIO:
      if (encoder->frame_size > 1) FlushAudioFifo(ost);
      EncodeAndWrite(ost, nullptr);
      break;
    default:
      break;
  }
}

// ---- Stream copy ----

void TCustomFFmpeg::CopyToOutputs(TInputStream& ist, int istIndex, const AVPacket& pkt) {
  for (TOutputStream* ost : FOutputStreams) {
    if (ost->SourceIndex != istIndex || ost->EncodingNeeded) continue;
    if (ost->FrameNumber == 0 && !(pkt.flags & AV_PKT_FLAG_KEY) &&
        !FSettings.CopyInitialNonKeyFrames)
      continue;
    CopyPacket(*ost, ist, pkt);
  }
}

void TCustomFFmpeg::CopyPacket(TOutputStream& ost, TInputStream& ist, const AVPacket& pkt) {
  AVPacket* out = FOutPacket;
  if (ff::av_packet_ref(out, &pkt) < 0) throw FFmpegException("Could not alloc buffer.");
  const AVRational in = ist.St->time_base;
  const AVRational tb = ost.St->time_base;
  const int64_t start = FromMicroseconds(FSettings.StartTime, tb);
  out->stream_index = ost.Index;
  out->pts = pkt.pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : ff::av_rescale_q(pkt.pts, in, tb) - start;
  out->dts = (pkt.dts == AV_NOPTS_VALUE ? FromMicroseconds(ist.Pts, tb)
                                        : ff::av_rescale_q(pkt.dts, in, tb)) -
             start;
  out->duration = ff::av_rescale_q(pkt.duration, in, tb);
  if (ist.St->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
    FAudioSize += pkt.size;
  } else if (ist.St->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
    FVideoSize += pkt.size;
    ++ost.SyncPts;
  }
  WriteFrame(ost, out);
  ++ost.FrameNumber;
}

// ---- Writing packets ----

// Runs the packet through the stream's bitstream filters, then into the muxer. Takes the
// packet's reference.
void TCustomFFmpeg::WriteFrame(TOutputStream& ost, AVPacket* pkt) {
  TOutputStream& root = Root(ost);
  FilterAndWrite(ost, root.BitstreamFilters, 0, pkt);
}

void TCustomFFmpeg::FilterAndWrite(TOutputStream& ost, const std::vector<AVBSFContext*>& filters,
                                   size_t index, AVPacket* pkt) {
  if (index == filters.size()) {
    pkt->stream_index = ost.Index;
    const int result = ff::av_interleaved_write_frame(FOutputFiles[ost.FileIndex]->Ctx, pkt);
    ff::av_packet_unref(pkt);
    if (result < 0) throw FFmpegException(AVErrorText("av_interleaved_write_frame()", result));
    return;
  }
  AVBSFContext* filter = filters[index];
  AVPacket* original = ff::av_packet_clone(pkt);
  int result = ff::av_bsf_send_packet(filter, pkt);
  while (result >= 0) {
    result = ff::av_bsf_receive_packet(filter, pkt);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) break;
    if (result >= 0) FilterAndWrite(ost, filters, index + 1, pkt);
  }
  if (result < 0 && result != AVERROR(EAGAIN) && result != AVERROR_EOF) {
    const std::string text = AVErrorText(Format("%s failed for stream %d, codec %s",
                                                filter->filter->name, ost.Index, EncoderName(ost)),
                                         result);
    if (FSettings.ExitOnError) {
      ff::av_packet_free(&original);
      throw FFmpegException(text);
    }
    Log(llError, text);
    if (original) FilterAndWrite(ost, filters, index + 1, original);  // passes unfiltered
  }
  ff::av_packet_unref(pkt);  // a packet the filter refused is still ours
  ff::av_packet_free(&original);
}

const char* TCustomFFmpeg::EncoderName(TOutputStream& ost) {
  const TOutputStream& root = Root(ost);
  return root.EncodingNeeded && root.Codec ? root.Codec->name : "copy";
}

// Sends a frame (or the end, with nullptr) to the stream's encoder and writes what comes out.
// The byte size of the last packet.
int TCustomFFmpeg::EncodeAndWrite(TOutputStream& ost, const AVFrame* frame) {
  TOutputStream& root = Root(ost);
  AVCodecContext* encoder = root.Encoder;
  const bool video = encoder->codec_type == AVMEDIA_TYPE_VIDEO;
  const char* failure = video ? "Video encoding failed" : "Audio encoding failed";
  int result = ff::avcodec_send_frame(encoder, frame);
  if (result < 0 && result != AVERROR_EOF) throw FFmpegException(failure);
  int size = 0;
  for (;;) {
    result = ff::avcodec_receive_packet(encoder, FOutPacket);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return size;
    if (result < 0) throw FFmpegException(failure);
    size = FOutPacket->size;
    (video ? FVideoSize : FAudioSize) += size;
    if (video) TakeQualityStats(root, *FOutPacket);
    if (root.LogFile && encoder->stats_out) std::fprintf(root.LogFile, "%s", encoder->stats_out);
    ff::av_packet_rescale_ts(FOutPacket, encoder->time_base, ost.St->time_base);
    WriteFrame(ost, FOutPacket);
  }
}

// The encoder's report on the packet: its quality, picture type and summed squared errors.
void TCustomFFmpeg::TakeQualityStats(TOutputStream& root, const AVPacket& pkt) {
  size_t size = 0;
  const uint8_t* stats = ff::av_packet_get_side_data(&pkt, AV_PKT_DATA_QUALITY_STATS, &size);
  if (!stats || size < 6) return;
  root.CodedQuality = int(AV_RL32(stats));
  root.CodedPictType = stats[4];
  const int errors = std::min<int>(stats[5], 4);
  root.CodedHasErrors = errors > 0 && size >= 8 + size_t(errors) * 8;
  if (!root.CodedHasErrors) return;
  for (int n = 0; n < errors; ++n) {
    root.CodedError[n] = AV_RL64(stats + 8 + 8 * n);
    root.TotalError[n] += root.CodedError[n];
  }
}

// ---- Audio output ----

// One block of decoded samples (packed signed 16-bit at the decoder's rate and channel count)
// to the stream's encoder: kept in sync with the stream's clock, resampled and converted to the
// encoder's format, queued and encoded in whole encoder frames.
void TCustomFFmpeg::DoAudioOut(TOutputStream& ost, TInputStream& ist, const uint8_t* samples,
                               int size, int rate, int channels) {
  TOutputStream& root = Root(ost);
  if (root.EncoderFlushed) return;
  const AVCodecContext& encoder = *root.Encoder;
  if (rate != ost.ResampleSampleRate || channels != ost.ResampleChannels) {
    LogFmt(llInfo,
           "Input stream #%d.%d frame changed from rate:%d fmt:%s ch:%d to rate:%d fmt:%s ch:%d",
           ist.FileIndex, ist.St->index, ost.ResampleSampleRate,
           SampleFormatName(ost.ResampleSampleFmt), ost.ResampleChannels, rate,
           SampleFormatName(AV_SAMPLE_FMT_S16), channels);
    ost.ResampleSampleRate = rate;
    ost.ResampleChannels = channels;
    ff::swr_free(&ost.Resampler);
  }
  ost.AudioResample = channels != encoder.ch_layout.nb_channels || rate != encoder.sample_rate ||
                      FSettings.AudioSyncMethod > 1;
  if (!ost.Resampler && (ost.AudioResample || encoder.sample_fmt != AV_SAMPLE_FMT_S16))
    ost.Resampler = NewAudioConverter(ost, encoder, rate, channels);
  SyncAudio(ost, ist, encoder, samples, size, rate, channels);
  if (size <= 0) return;
  QueueAudio(ost, encoder, samples, size / (2 * channels));
  EncodeQueuedAudio(ost, encoder);
}

SwrContext* TCustomFFmpeg::NewAudioConverter(const TOutputStream& ost,
                                             const AVCodecContext& encoder, int rate,
                                             int channels) {
  AVChannelLayout layout{};
  ff::av_channel_layout_default(&layout, channels);
  SwrContext* swr = nullptr;
  AVChannelLayout* encoderLayout = const_cast<AVChannelLayout*>(&encoder.ch_layout);
  int result = ff::swr_alloc_set_opts2(&swr, encoderLayout, encoder.sample_fmt, encoder.sample_rate,
                                       &layout, AV_SAMPLE_FMT_S16, rate, 0, nullptr);
  ff::av_channel_layout_uninit(&layout);
  if (result >= 0 && ost.AudioResample) {
    ff::av_opt_set_int(swr, "filter_size", 16, 0);
    ff::av_opt_set_int(swr, "phase_shift", 10, 0);
    ff::av_opt_set_int(swr, "linear_interp", 0, 0);
    ff::av_opt_set_double(swr, "cutoff", 0.8, 0);
  }
  if (result >= 0) result = ff::swr_init(swr);
  if (result >= 0) return swr;
  ff::swr_free(&swr);
  if (ost.AudioResample)
    throw FFmpegException(Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                 channels, rate, encoder.ch_layout.nb_channels,
                                 encoder.sample_rate));
  throw FFmpegException(Format("Cannot convert %s sample format to %s sample format",
                               SampleFormatName(AV_SAMPLE_FMT_S16),
                               SampleFormatName(encoder.sample_fmt)));
}

// Keeps the encoded audio on the sync stream's clock. With sync method 0 the stream's sample
// clock follows the input; otherwise a drift is corrected by dropping samples from the block,
// putting silence before it or (method > 1) stretching it in the resampler.
void TCustomFFmpeg::SyncAudio(TOutputStream& ost, TInputStream& ist, const AVCodecContext& encoder,
                              const uint8_t*& samples, int& size, int rate, int channels) {
  TOutputStream& root = Root(ost);
  const TInputStream& sync = *FInputStreams[ost.SyncSource];
  const double syncTime = double(sync.Pts - FSettings.StartTime) / AV_TIME_BASE;
  const int queued = ff::av_audio_fifo_size(root.Fifo);
  if (FSettings.AudioSyncMethod == 0) {
    // Never back in time once samples went out: the next input of a join may start a little
    // before the end of the last one.
    const int64_t clock = std::llround(syncTime * encoder.sample_rate) - queued;
    root.SyncPts = root.SamplesEncoded ? std::max(clock, root.SyncPts) : clock;
    return;
  }
  const double delta = syncTime * encoder.sample_rate - double(root.SyncPts) - queued;
  if (std::fabs(delta) <= AudioDriftTolerance) return;
  const int64_t byteDelta = int64_t(delta * rate / encoder.sample_rate) * 2 * channels;
  if (ist.AtStart || std::fabs(delta) > FSettings.AudioDriftThreshold * encoder.sample_rate) {
    if (byteDelta < 0) {
      const int dropped = int(std::min<int64_t>(-byteDelta, size));
      samples += dropped;
      size -= dropped;
      if (FSettings.Verbose > 2) LogFmt(llVerbose, "discarding %d audio samples", int(-delta));
    } else {
      FSilenceBuffer.assign(size_t(byteDelta), 0);
      FSilenceBuffer.insert(FSilenceBuffer.end(), samples, samples + size);
      samples = FSilenceBuffer.data();
      size = int(FSilenceBuffer.size());
      if (FSettings.Verbose > 2)
        LogFmt(llVerbose, "adding %d audio samples of silence", int(delta));
    }
    ist.AtStart = false;
  } else if (FSettings.AudioSyncMethod > 1 && ost.Resampler) {
    const int compensation =
        std::clamp(int(delta), -FSettings.AudioSyncMethod, FSettings.AudioSyncMethod);
    if (FSettings.Verbose > 2)
      LogFmt(llVerbose, "compensating audio timestamp drift:%f compensation:%d in:%d", delta,
             compensation, encoder.sample_rate);
    ff::swr_set_compensation(ost.Resampler, compensation, encoder.sample_rate);
  }
}

// Resamples or converts the samples into the encoder's format and appends them to the queue.
// No samples (nullptr) takes what the resampler still holds.
void TCustomFFmpeg::QueueAudio(TOutputStream& ost, const AVCodecContext& encoder,
                               const uint8_t* samples, int count) {
  TOutputStream& root = Root(ost);
  const int channels = encoder.ch_layout.nb_channels;
  uint8_t* planes[AV_NUM_DATA_POINTERS] = {};
  int converted = count;
  if (ost.Resampler) {
    const int capacity = std::max(ff::swr_get_out_samples(ost.Resampler, count), 1);
    const int bytes =
        ff::av_samples_get_buffer_size(nullptr, channels, capacity, encoder.sample_fmt, 1);
    if (bytes < 0) throw FFmpegException("Buffer sizes too large in do_audio_out");
    if (FResampleBuffer.size() < size_t(bytes)) FResampleBuffer.resize(size_t(bytes));
    FillSamplePointers(FResampleBuffer.data(), planes, encoder.sample_fmt, channels, capacity);
    const uint8_t* in[1] = {samples};
    converted = ff::swr_convert(ost.Resampler, planes, capacity, samples ? in : nullptr, count);
    if (converted < 0) {
      if (FSettings.ExitOnError) throw FFmpegException("av_audio_convert() failed");
      Log(llError, "av_audio_convert() failed");
      return;
    }
  } else {
    planes[0] = const_cast<uint8_t*>(samples);
  }
  if (converted > 0 &&
      ff::av_audio_fifo_write(root.Fifo, reinterpret_cast<void**>(planes), converted) < converted)
    throw FFmpegException("av_fifo_realloc2() failed");
}

void TCustomFFmpeg::EncodeQueuedAudio(TOutputStream& ost, const AVCodecContext& encoder) {
  AVAudioFifo* fifo = Root(ost).Fifo;
  if (encoder.frame_size <= 1) {
    // PCM-like encoders take each block whole.
    const int samples = ff::av_audio_fifo_size(fifo);
    if (samples > 0) EncodeAudioFrame(ost, samples);
    return;
  }
  while (ff::av_audio_fifo_size(fifo) >= encoder.frame_size && !Aborting)
    EncodeAudioFrame(ost, encoder.frame_size);
}

// Reads samples from the queue into one encoder frame at the sample clock and encodes it. A
// short last frame is padded with silence unless the encoder takes small last frames.
void TCustomFFmpeg::EncodeAudioFrame(TOutputStream& ost, int samples) {
  TOutputStream& root = Root(ost);
  const AVCodecContext& encoder = *root.Encoder;
  const bool whole = encoder.frame_size > 1;
  const int frameSamples = whole ? encoder.frame_size : samples;
  if (!root.AudioFrame || root.AudioFrame->nb_samples < frameSamples) {
    ff::av_frame_free(&root.AudioFrame);
    root.AudioFrame = NewAudioFrame(encoder, frameSamples);
  }
  AVFrame* frame = root.AudioFrame;
  if (ff::av_frame_make_writable(frame) < 0) throw FFmpegException("Out of memory in do_audio_out");
  const int read =
      ff::av_audio_fifo_read(root.Fifo, reinterpret_cast<void**>(frame->data), samples);
  const bool smallLast = encoder.codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME;
  const int capacity = frame->nb_samples;
  frame->nb_samples = whole && !smallLast ? frameSamples : read;
  if (read < frame->nb_samples)
    ff::av_samples_set_silence(frame->data, read, frame->nb_samples - read,
                               encoder.ch_layout.nb_channels, encoder.sample_fmt);
  frame->pts = root.SyncPts;
  root.SyncPts += frame->nb_samples;
  root.SamplesEncoded = true;
  ++ost.FrameNumber;
  EncodeAndWrite(ost, frame);
  frame->nb_samples = capacity;
}

AVFrame* TCustomFFmpeg::NewAudioFrame(const AVCodecContext& encoder, int samples) {
  AVFrame* frame = ff::av_frame_alloc();
  if (frame) {
    frame->format = encoder.sample_fmt;
    frame->sample_rate = encoder.sample_rate;
    frame->nb_samples = samples;
    if (ff::av_channel_layout_copy(&frame->ch_layout, &encoder.ch_layout) >= 0 &&
        ff::av_frame_get_buffer(frame, 0) >= 0)
      return frame;
    ff::av_frame_free(&frame);
  }
  throw FFmpegException("Out of memory in do_audio_out");
}

// The end: what the resampler still holds, the whole frames and a last, partial one go to the
// encoder.
void TCustomFFmpeg::FlushAudioFifo(TOutputStream& ost) {
  TOutputStream& root = Root(ost);
  const AVCodecContext& encoder = *root.Encoder;
  if (ost.Resampler) QueueAudio(ost, encoder, nullptr, 0);
  while (ff::av_audio_fifo_size(root.Fifo) >= encoder.frame_size)
    EncodeAudioFrame(ost, encoder.frame_size);
  const int rest = ff::av_audio_fifo_size(root.Fifo);
  if (rest > 0) EncodeAudioFrame(ost, rest);
}

// ---- Subtitle output ----

void TCustomFFmpeg::DoSubtitleOut(TOutputStream& ost, const TInputStream& ist,
                                  AVSubtitle& subtitle) {
  TOutputStream& root = Root(ost);
  AVCodecContext* encoder = root.Encoder;
  const int64_t pts = ist.Pts;
  if (pts == AV_NOPTS_VALUE) {
    if (FSettings.ExitOnError) throw FFmpegException("Subtitle packets must have a pts");
    Log(llError, "Subtitle packets must have a pts");
    return;
  }
  static std::vector<uint8_t> buffer(1048576);  // one per process, as large as a subtitle gets
  static std::mutex bufferLock;
  const std::lock_guard<std::mutex> lock(bufferLock);
  const bool dvb = encoder->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
  const uint32_t start = subtitle.start_display_time;
  const uint32_t end = subtitle.end_display_time;
  for (int pass = 0; pass < (dvb ? 2 : 1); ++pass) {
    subtitle.pts = pts + int64_t(start) * 1000;
    subtitle.end_display_time = end - start;
    subtitle.start_display_time = 0;
    // DVB: the second packet clears the screen.
    const unsigned rects = subtitle.num_rects;
    if (pass == 1) subtitle.num_rects = 0;
    const int size =
        ff::avcodec_encode_subtitle(encoder, buffer.data(), int(buffer.size()), &subtitle);
    subtitle.num_rects = rects;
    if (size < 0) throw FFmpegException("Subtitle encoding failed");
    AVPacket* pkt = FOutPacket;
    if (ff::av_new_packet(pkt, size) < 0) throw FFmpegException("Subtitle encoding failed");
    std::memcpy(pkt->data, buffer.data(), size_t(size));
    pkt->pts = FromMicroseconds(subtitle.pts, ost.St->time_base);
    if (dvb) pkt->pts += 90 * int64_t(pass == 0 ? start : end);
    pkt->dts = pkt->pts;
    // The muxer takes how long the text shows from the packet.
    if (pass == 0)
      pkt->duration =
          ff::av_rescale_q(subtitle.end_display_time, AVRational{1, 1000}, ost.St->time_base);
    WriteFrame(ost, pkt);
  }
}

// ---- Supported formats and rates ----

void TCustomFFmpeg::ChooseSampleFormat(AVCodecContext& encoder, const AVCodec* codec) {
  if (!codec || !codec->sample_fmts) return;
  for (const AVSampleFormat* format = codec->sample_fmts; *format != AV_SAMPLE_FMT_NONE; ++format)
    if (*format == encoder.sample_fmt) return;
  const AVSampleFormat first = codec->sample_fmts[0];
  if ((codec->capabilities & AV_CODEC_CAP_LOSSLESS) && encoder.sample_fmt > first)
    Log(llError, "Convertion will not be lossless");
  LogFmt(llWarning,
         "Incompatible sample format \"%s\" for codec \"%s\", auto-selecting format \"%s\"",
         SampleFormatName(encoder.sample_fmt), codec->name, SampleFormatName(first));
  encoder.sample_fmt = first;
}

void TCustomFFmpeg::ChooseSampleRate(AVCodecContext& encoder, const AVCodec* codec) {
  if (!codec || !codec->supported_samplerates) return;
  int best = 0;
  for (const int* rate = codec->supported_samplerates; *rate; ++rate)
    if (!best || std::abs(encoder.sample_rate - *rate) < std::abs(encoder.sample_rate - best))
      best = *rate;
  if (best == encoder.sample_rate) return;
  LogFmt(llWarning, "Requested sampling rate unsupported using closest supported (%d)", best);
  encoder.sample_rate = best;
}

void TCustomFFmpeg::ChoosePixelFormat(AVCodecContext& encoder, const AVCodec* codec) {
  if (!codec || !codec->pix_fmts) return;
  static const AVPixelFormat mjpeg[] = {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P,
                                        AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV422P, AV_PIX_FMT_NONE};
  static const AVPixelFormat ljpeg[] = {
      AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUVJ444P, AV_PIX_FMT_YUV420P,
      AV_PIX_FMT_YUV422P,  AV_PIX_FMT_YUV444P,  AV_PIX_FMT_BGRA,     AV_PIX_FMT_NONE};
  const AVPixelFormat* formats = codec->pix_fmts;
  if (encoder.strict_std_compliance <= FF_COMPLIANCE_UNOFFICIAL) {
    if (codec->id == AV_CODEC_ID_MJPEG) formats = mjpeg;
    if (codec->id == AV_CODEC_ID_LJPEG) formats = ljpeg;
  }
  for (const AVPixelFormat* format = formats; *format != AV_PIX_FMT_NONE; ++format)
    if (*format == encoder.pix_fmt) return;
  if (encoder.pix_fmt != AV_PIX_FMT_NONE)
    LogFmt(llWarning,
           "Incompatible pixel format \"%s\" for codec \"%s\", auto-selecting format \"%s\"",
           PixelFormatName(encoder.pix_fmt), codec->name, PixelFormatName(formats[0]));
  encoder.pix_fmt = formats[0];
}

// ---- Video filters ----

int TCustomFFmpeg::ConfigureVideoFilters(TOutputStream& ost, const TInputStream& ist) {
  AVCodecContext& encoder = *Root(ost).Encoder;
  const AVCodecContext& decoder = *ist.Decoder;
  ost.Graph = ff::avfilter_graph_alloc();
  if (!ost.Graph) return AVERROR(ENOMEM);
  const std::string sourceArguments =
      Format("video_size=%dx%d:pix_fmt=%d:time_base=1/%d:pixel_aspect=0/1", decoder.width,
             decoder.height, int(decoder.pix_fmt), AV_TIME_BASE);
  int result = ff::avfilter_graph_create_filter(&ost.BufferSrc, ff::avfilter_get_by_name("buffer"),
                                                "src", sourceArguments.c_str(), nullptr, ost.Graph);
  if (result < 0) return result;
  result = ff::avfilter_graph_create_filter(&ost.BufferSink, ff::avfilter_get_by_name("buffersink"),
                                            "out", nullptr, nullptr, ost.Graph);
  if (result < 0) return result;
  const AVPixelFormat format = encoder.pix_fmt;
  result = ff::av_opt_set_bin(ost.BufferSink, "pix_fmts", reinterpret_cast<const uint8_t*>(&format),
                              sizeof format, AV_OPT_SEARCH_CHILDREN);
  if (result < 0) return result;
  AVFilterContext* last = ost.BufferSrc;
  if (encoder.width != decoder.width || encoder.height != decoder.height) {
    AVFilterContext* scale = nullptr;
    const std::string arguments =
        Format("w=%d:h=%d:flags=0x%X", encoder.width, encoder.height, unsigned(ost.SwsFlags));
    result = ff::avfilter_graph_create_filter(&scale, ff::avfilter_get_by_name("scale"), "scale",
                                              arguments.c_str(), nullptr, ost.Graph);
    if (result >= 0) result = ff::avfilter_link(last, 0, scale, 0);
    if (result < 0) return result;
    last = scale;
  }
  result = ff::av_opt_set(ost.Graph, "scale_sws_opts",
                          Format("flags=0x%X", unsigned(ost.SwsFlags)).c_str(), 0);
  if (result < 0) return result;
  result = ost.VideoFilters.empty() ? ff::avfilter_link(last, 0, ost.BufferSink, 0)
                                    : ParseVideoFilters(ost, last);
  if (result >= 0) result = ff::avfilter_graph_config(ost.Graph, nullptr);
  if (result < 0) return result;
  ost.FilterFrame = ff::av_frame_alloc();
  if (!ost.FilterFrame) return AVERROR(ENOMEM);
  if (ost.Mirror) return 0;  // its pictures are brought to the open encoder's size
  encoder.width = ff::av_buffersink_get_w(ost.BufferSink);
  encoder.height = ff::av_buffersink_get_h(ost.BufferSink);
  encoder.sample_aspect_ratio =
      ost.FrameAspectRatio == 0
          ? ff::av_buffersink_get_sample_aspect_ratio(ost.BufferSink)
          : ff::av_d2q(ost.FrameAspectRatio * encoder.height / encoder.width, 255);
  ost.St->sample_aspect_ratio = encoder.sample_aspect_ratio;
  return 0;
}

// The chain text between the last filter's output ("in") and the sink's input ("out").
int TCustomFFmpeg::ParseVideoFilters(TOutputStream& ost, AVFilterContext* last) {
  AVFilterInOut* outputs = ff::avfilter_inout_alloc();
  AVFilterInOut* inputs = ff::avfilter_inout_alloc();
  int result = AVERROR(ENOMEM);
  if (outputs && inputs) {
    outputs->name = ff::av_strdup("in");
    outputs->filter_ctx = last;
    outputs->pad_idx = 0;
    inputs->name = ff::av_strdup("out");
    inputs->filter_ctx = ost.BufferSink;
    inputs->pad_idx = 0;
    result = ParseFilterChain(ost.Graph, ost.VideoFilters, &inputs, &outputs);
  }
  ff::avfilter_inout_free(&inputs);
  ff::avfilter_inout_free(&outputs);
  ost.VideoFilters.clear();
  return result;
}

// Pushes the picture into the graph of every output stream it feeds, then writes what each
// graph gives out; streams without a graph take the picture as it is.
void TCustomFFmpeg::FeedVideoOutputs(TInputStream& ist, int istIndex, AVFrame* picture) {
  const AVRational sar =
      picture->sample_aspect_ratio.num ? picture->sample_aspect_ratio : ist.St->sample_aspect_ratio;
  for (TOutputStream* ost : FOutputStreams) {
    if (ost->SourceIndex != istIndex || !ost->EncodingNeeded) continue;
    if (!ost->Graph) {
      DoVideoOut(*ost, ist, picture);
      continue;
    }
    const int64_t pts = picture->pts;
    const AVRational frameSar = picture->sample_aspect_ratio;
    picture->pts = ist.Pts;
    picture->sample_aspect_ratio = sar;
    const int result =
        ff::av_buffersrc_add_frame_flags(ost->BufferSrc, picture, AV_BUFFERSRC_FLAG_KEEP_REF);
    picture->pts = pts;
    picture->sample_aspect_ratio = frameSar;
    if (result < 0) throw FFmpegException(AVErrorText("Error while feeding the filters", result));
    DrainVideoGraph(*ost, ist);
  }
}

// Writes every picture the graph has ready; each one's time becomes the stream's clock.
void TCustomFFmpeg::DrainVideoGraph(TOutputStream& ost, TInputStream& ist) {
  while (!Aborting) {
    const int result = ff::av_buffersink_get_frame(ost.BufferSink, ost.FilterFrame);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
    if (result < 0) throw FFmpegException(AVErrorText("Error while filtering", result));
    if (ost.FilterFrame->pts != AV_NOPTS_VALUE)
      ist.Pts =
          ToMicroseconds(ost.FilterFrame->pts, ff::av_buffersink_get_time_base(ost.BufferSink));
    try {
      DoVideoOut(ost, ist, ost.FilterFrame);
    } catch (...) {
      ff::av_frame_unref(ost.FilterFrame);
      throw;
    }
    ff::av_frame_unref(ost.FilterFrame);
  }
}

void TCustomFFmpeg::DrainVideoFilters(TInputStream& ist, int istIndex) {
  for (TOutputStream* ost : FOutputStreams) {
    if (ost->SourceIndex != istIndex || !ost->Graph || !ost->BufferSrc) continue;
    if (ff::av_buffersrc_add_frame_flags(ost->BufferSrc, nullptr, 0) >= 0)
      DrainVideoGraph(*ost, ist);
  }
}

// ---- Input-side processing ----

// Deinterlacing, the input hooks and the hook libraries work on a copy of the decoded picture,
// which then replaces it.
AVFrame* TCustomFFmpeg::PreProcessVideoFrame(TInputStream& ist, AVFrame* picture) {
  ++ist.DecodedFrames;
  if (!FSettings.DoDeinterlace && !OnFrameInputHook && !OnVideoInputHook && FFrameHooks.Empty())
    return picture;
  AVFrame* buffer =
      HookFrame(FInputHookFrame, AVPixelFormat(picture->format), picture->width, picture->height);
  if (!buffer) {
    Log(llError, "hook buf malloc error.");
    return picture;
  }
  bool copied = false;
  if (FSettings.DoDeinterlace) {
    copied =
        DeinterlacePicture(buffer->data, buffer->linesize, picture->data, picture->linesize,
                           AVPixelFormat(picture->format), picture->width, picture->height) >= 0;
    if (!copied) {
      Log(llError, "Deinterlacing failed.");
      if (!OnFrameInputHook && !OnVideoInputHook && FFrameHooks.Empty()) return picture;
    }
  }
  if (!copied) ff::av_frame_copy(buffer, picture);
  ff::av_frame_copy_props(buffer, picture);
  if (OnFrameInputHook)
    OnFrameInputHook(this, reinterpret_cast<const TAVPicture*>(buffer->data), buffer->format,
                     ist.DecodedFrames, buffer->width, buffer->height, ist.Pts);
  if (OnVideoInputHook)
    RunBitmapHook(FInputConverter, OnVideoInputHook, buffer, ist.DecodedFrames, ist.Pts);
  else if (!FFrameHooks.Empty())
    FFrameHooks.FrameHookProcess(buffer->data, buffer->linesize, AVPixelFormat(buffer->format),
                                 buffer->width, buffer->height, ist.Pts);
  return buffer;
}

// The hook buffer of one side as a picture of the format and size, (re)made when they change.
// nullptr when memory is missing.
AVFrame* TCustomFFmpeg::HookFrame(AVFrame*& frame, AVPixelFormat format, int width, int height) {
  if (frame && (frame->format != format || frame->width != width || frame->height != height))
    ff::av_frame_free(&frame);
  if (!frame) {
    frame = ff::av_frame_alloc();
    if (!frame) return nullptr;
    frame->format = format;
    frame->width = width;
    frame->height = height;
    if (ff::av_frame_get_buffer(frame, 0) < 0) {
      ff::av_frame_free(&frame);
      return nullptr;
    }
  }
  return ff::av_frame_make_writable(frame) < 0 ? nullptr : frame;
}

// The bitmap hook on a picture: the picture as a bitmap to the hook, and the hook's drawing back
// into the picture when it says so. A hook that asks to stop, or whose picture cannot be
// converted, is not called again.
void TCustomFFmpeg::RunBitmapHook(TFormatConverter& converter, TBitmapHookEvent& hook,
                                  AVFrame* picture, int frameNumber, int64_t pts) {
  const AVPixelFormat format = AVPixelFormat(picture->format);
  bool stopHook = false;
  bool update = true;
  if (!converter.PictureToBitmap(picture->data, picture->linesize, format, true, picture->width,
                                 picture->height)) {
    Log(llError, converter.LastError);
    stopHook = true;
  } else {
    try {
      hook(this, &converter.Bitmap(), frameNumber, pts, update, stopHook);
    } catch (const std::exception& e) {
      Log(llError, std::string("Error occurs VideoHook event: ") + e.what());
      update = false;
    }
    if (update) {
      converter.CopyBitmapToBuffer();
      if (!converter.BitmapToPicture(picture->data, picture->linesize, format, picture->width,
                                     picture->height)) {
        Log(llError, converter.LastError);
        stopHook = true;
      }
    } else if (&converter == &FOutputConverter) {
      FOutputPictureConverted = false;
    }
  }
  if (stopHook) hook = nullptr;
}

// ---- Video output ----

void TCustomFFmpeg::DoVideoOut(TOutputStream& ost, const TInputStream& ist, AVFrame* picture) {
  TOutputStream& root = Root(ost);
  if (root.EncoderFlushed) return;
  AVCodecContext& encoder = *root.Encoder;
  const TInputStream& sync = *FInputStreams[ost.SyncSource];
  const double syncTime =
      double(sync.Pts - FSettings.StartTime) / AV_TIME_BASE / av_q2d(encoder.time_base);
  const bool variable = FOutputFiles[ost.FileIndex]->Ctx->oformat->flags & AVFMT_VARIABLE_FPS;
  int frames = VideoSyncFrames(FSettings.VideoSyncMethod, variable, syncTime, ost.SyncPts);
  CountDupDrop(frames);
  frames = std::min(frames, FSettings.MaxFrames[AVMEDIA_TYPE_VIDEO] - ost.FrameNumber);
  if (frames <= 0) return;
  if (ost.FrameAspectRatio == 0 && picture->sample_aspect_ratio.num)
    encoder.sample_aspect_ratio = picture->sample_aspect_ratio;
  picture = ScaleForEncoder(ost, ist, encoder, picture);
  for (int n = 0; n < frames && !Aborting; ++n) {
    CheckPaused();
    const int size = WriteVideoFrame(ost, ist, encoder, picture);
    if (size > 0 && !FSettings.VStatsFileName.empty()) DoVideoStats(ost, size);
  }
}

void TCustomFFmpeg::CountDupDrop(int frames) {
  if (frames == 1) return;
  FDupDropPending = true;
  if (frames == 0) {
    ++FFramesDropped;
    if (FSettings.Verbose > 2) Log(llVerbose, "*** drop!");
  } else {
    FFramesDuplicated += frames - 1;
    if (FSettings.Verbose > 2) LogFmt(llVerbose, "*** %d dup!", frames - 1);
  }
}

// The scaler brings the picture to the encoder's size and format: a picture whose input changed
// size mid-stream, or (join mode) one from an input of another size.
AVFrame* TCustomFFmpeg::ScaleForEncoder(TOutputStream& ost, const TInputStream& ist,
                                        const AVCodecContext& encoder, AVFrame* picture) {
  const AVPixelFormat format = AVPixelFormat(picture->format);
  const bool changed = picture->width != ost.ResampleWidth ||
                       picture->height != ost.ResampleHeight || format != ost.ResamplePixFmt;
  if (changed && !ost.Graph) {
    LogFmt(llInfo, "Input stream #%d.%d frame changed from size:%dx%d fmt:%s to size:%dx%d fmt:%s",
           ist.FileIndex, ist.St->index, ost.ResampleWidth, ost.ResampleHeight,
           PixelFormatName(ost.ResamplePixFmt), picture->width, picture->height,
           PixelFormatName(format));
    ost.ResampleWidth = picture->width;
    ost.ResampleHeight = picture->height;
    ost.ResamplePixFmt = format;
  }
  if (picture->width == encoder.width && picture->height == encoder.height &&
      format == encoder.pix_fmt)
    return picture;
  if (!ost.ResampleFrame) {
    ost.ResampleFrame = ff::av_frame_alloc();
    if (ost.ResampleFrame) {
      ost.ResampleFrame->format = encoder.pix_fmt;
      ost.ResampleFrame->width = encoder.width;
      ost.ResampleFrame->height = encoder.height;
    }
    if (!ost.ResampleFrame || ff::av_frame_get_buffer(ost.ResampleFrame, 0) < 0)
      throw FFmpegException("Cannot allocate temp picture, check pix fmt");
  }
  ost.ImgResampleCtx = ff::sws_getCachedContext(
      ost.ImgResampleCtx, picture->width, picture->height, format, encoder.width, encoder.height,
      encoder.pix_fmt, ost.SwsFlags, nullptr, nullptr, nullptr);
  if (!ost.ImgResampleCtx || ff::av_frame_make_writable(ost.ResampleFrame) < 0)
    throw FFmpegException("Cannot get resampling context");
  ff::sws_scale(ost.ImgResampleCtx, picture->data, picture->linesize, 0, picture->height,
                ost.ResampleFrame->data, ost.ResampleFrame->linesize);
  ff::av_frame_copy_props(ost.ResampleFrame, picture);
  return ost.ResampleFrame;
}

// One encoder frame of the picture at the stream's clock, through the output hooks and the
// preview. The byte size of what the encoder gave out.
int TCustomFFmpeg::WriteVideoFrame(TOutputStream& ost, const TInputStream& ist,
                                   AVCodecContext& encoder, AVFrame* picture) {
  AVFrame* frame = FEncodeFrame;
  const int64_t pts = ToMicroseconds(ost.SyncPts, encoder.time_base);
  const int frameNumber = ost.FrameNumber + 1;
  FOutputPictureConverted = false;
  if (OnVideoOutputHook || OnFrameOutputHook) picture = RunOutputHooks(picture, frameNumber, pts);
  if (FPreviewFlags != 0) PreviewStep(picture, frameNumber, pts);
  if (ff::av_frame_ref(frame, picture) < 0) throw FFmpegException("Video encoding failed");
  frame->pts = ost.SyncPts;
  frame->pict_type = FSettings.MeThreshold ? picture->pict_type : AV_PICTURE_TYPE_NONE;
  // The stream's own quality is the fixed quantiser ("qscale") when one is set.
  frame->quality = FSettings.SameQuality ? int(ist.Quality) : encoder.global_quality;
  if (encoder.flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME))
    frame->top_field_first =
        FSettings.TopFieldFirst == -1 ? picture->top_field_first : FSettings.TopFieldFirst;
  if (ost.ForcedKfIndex < ost.ForcedKfPts.size() &&
      ost.SyncPts >= ost.ForcedKfPts[ost.ForcedKfIndex]) {
    frame->pict_type = AV_PICTURE_TYPE_I;
    frame->key_frame = 1;
    ++ost.ForcedKfIndex;
  }
  int size = 0;
  try {
    size = EncodeAndWrite(ost, frame);
  } catch (...) {
    ff::av_frame_unref(frame);
    throw;
  }
  ff::av_frame_unref(frame);
  ++ost.SyncPts;
  ++ost.FrameNumber;
  return size;
}

AVFrame* TCustomFFmpeg::RunOutputHooks(AVFrame* picture, int frameNumber, int64_t pts) {
  AVFrame* buffer =
      HookFrame(FOutputHookFrame, AVPixelFormat(picture->format), picture->width, picture->height);
  if (!buffer) {
    Log(llError, "hook buf malloc error.");
    return picture;
  }
  ff::av_frame_copy(buffer, picture);
  ff::av_frame_copy_props(buffer, picture);
  if (OnVideoOutputHook) {
    RunBitmapHook(FOutputConverter, OnVideoOutputHook, buffer, frameNumber, pts);
    FOutputPictureConverted = OnVideoOutputHook != nullptr;
  }
  if (OnFrameOutputHook)
    OnFrameOutputHook(this, reinterpret_cast<const TAVPicture*>(buffer->data), buffer->format,
                      frameNumber, buffer->width, buffer->height, pts);
  return buffer;
}

// A preview at most every PreviewInterval: to the preview event, else into the previewer
// window. The picture is taken under the preview lock and delivered after it: delivery waits
// for the main thread, which takes the same lock when the owner changes the preview flags. The
// window is held outside the task's field meanwhile, so that such a change cannot free it.
void TCustomFFmpeg::PreviewStep(AVFrame* picture, int frameNumber, int64_t pts) {
  bool toEvent = false, converted = false;
  std::string failure;
  std::unique_ptr<TPreviewer> previewer;
  {
    const std::lock_guard<std::mutex> lock(FFmpegPreviewLock());
    const uint8_t flags = FPreviewFlags;
    toEvent = (flags & 2) && OnPreview;
    const int64_t now = ff::av_gettime_relative();
    if ((!toEvent && !(flags & 1)) || now - FLastPreviewTime <= PreviewInterval) return;
    FLastPreviewTime = now;
    converted = FOutputPictureConverted && !FPreviewReconvert;
    if (!converted)
      converted = FOutputConverter.PictureToBitmap(picture->data, picture->linesize,
                                                   AVPixelFormat(picture->format), true,
                                                   picture->width, picture->height);
    FPreviewReconvert = false;
    if (!converted) {
      failure = FOutputConverter.LastError;
      FPreviewFlags = flags & ~uint8_t(1);
    } else if (!toEvent) {
      previewer = std::move(FPreviewer);
      if (!previewer) previewer = std::make_unique<TPreviewer>();
    }
  }
  // Logged outside the lock: a log line may wait for the main thread.
  if (!converted) Log(llError, failure);
  if (converted && toEvent) OnPreview(this, &FOutputConverter.Bitmap(), frameNumber, pts);
  if (!previewer) return;
  const bool shown = previewer->Show(FOutputConverter.Bitmap(), pts);
  const std::lock_guard<std::mutex> lock(FFmpegPreviewLock());
  if (!shown) FPreviewFlags = FPreviewFlags & ~uint8_t(1);
  if (shown && (FPreviewFlags & 1) && !FPreviewer) FPreviewer = std::move(previewer);
}

// ---- Statistics ----

void TCustomFFmpeg::DoVideoStats(TOutputStream& ost, int frameSize) {
  if (!FVStatsFile) {
    FVStatsFile = std::fopen(FSettings.VStatsFileName.c_str(), "w");
    if (!FVStatsFile) throw FFmpegException("fopen fail: " + FSettings.VStatsFileName);
  }
  const TOutputStream& root = Root(ost);
  const AVCodecContext& encoder = *root.Encoder;
  std::fprintf(FVStatsFile, "frame= %5d q= %2.1f ", ost.FrameNumber,
               double(root.CodedQuality) / LambdaPerQuantizer);
  if (root.CodedHasErrors && (encoder.flags & AV_CODEC_FLAG_PSNR))
    std::fprintf(FVStatsFile, "PSNR= %6.2f ",
                 Psnr(double(root.CodedError[0]) /
                      (double(encoder.width) * encoder.height * 255.0 * 255.0)));
  std::fprintf(FVStatsFile, "f_size= %6d ", frameSize);
  const double timeBase = av_q2d(encoder.time_base);
  const double t = std::max(double(ost.SyncPts) * timeBase, 0.01);
  const double bitrate = frameSize * 8 / timeBase / 1000.0;
  const double average = double(FVideoSize) * 8 / t / 1000.0;
  std::fprintf(FVStatsFile, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
               double(FVideoSize) / 1024, t, bitrate, average);
  std::fprintf(FVStatsFile, "type= %c\n",
               ff::av_get_picture_type_char(AVPictureType(root.CodedPictType)));
}

// ---- Progress report ----

// The quality of a stream's last coded picture, -1 when it is copied or none was coded.
float TCustomFFmpeg::CodedQuality(const TOutputStream& ost) {
  const TOutputStream& root = ost.Mirror ? *ost.Mirror : ost;
  return root.EncodingNeeded && root.CodedQuality >= 0
             ? float(root.CodedQuality) / LambdaPerQuantizer
             : -1.0f;
}

std::string TCustomFFmpeg::PsnrText(const TOutputStream& ost, bool isLast) const {
  const TOutputStream& root = ost.Mirror ? *ost.Mirror : ost;
  const AVCodecContext& encoder = *root.Encoder;
  if (!(encoder.flags & AV_CODEC_FLAG_PSNR) || !root.CodedHasErrors) return std::string();
  std::string text = "PSNR=";
  double error = 0, scale = 0;
  for (int n = 0; n < 3; ++n) {
    const double part = double(isLast ? root.TotalError[n] : root.CodedError[n]);
    double partScale = double(encoder.width) * encoder.height * 255.0 * 255.0;
    if (isLast) partScale *= std::max(ost.FrameNumber, 1);
    if (n > 0) partScale /= 4;
    error += part;
    scale += partScale;
    text += Format("%c:%2.2f ", "YUV"[n], Psnr(part / partScale));
  }
  return text + Format("*:%2.2f ", Psnr(error / scale));
}

void TCustomFFmpeg::PrintReport(bool isLast, int fileIndex) {
  if (FOutputStreams.empty()) return;
  size_t first = 0, last = FOutputStreams.size();
  if (FJoinInputs) {
    first = size_t(isLast ? FJoinIndex : fileIndex) * size_t(GroupSize());
    last = std::min(last, first + size_t(GroupSize()));
  }
  std::string text;
  const TOutputStream* video = nullptr;
  float quality = -1;
  int64_t smallestTime = INT64_MAX;
  for (size_t i = first; i < last; ++i) {
    const TOutputStream& ost = *FOutputStreams[i];
    quality = CodedQuality(ost);
    smallestTime = std::min(smallestTime, MuxerMicroseconds(ost.St));
    if (ost.St->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
    if (video) {
      text += Format("q=%2.1f ", double(quality));
      continue;
    }
    if (!ost.Active && !isLast) continue;
    video = &ost;
    if (ost.FrameNumber < 1) return;
    text += Format("frame=%5d fps=%3d q=%3.1f ", ost.FrameNumber, FramesPerSecond(ost.FrameNumber),
                   double(quality));
    if (isLast) text += "L";
    if (FSettings.QpHist) text += QuantizerHistogramText(quality);
    text += PsnrText(ost, isLast);
  }
  if (smallestTime == INT64_MAX) smallestTime = 0;
  if (!OnProgress && FSettings.Verbose <= 0 && !isLast) return;
  const int64_t size = OutputSize();
  const float bitrate =
      smallestTime > 0 ? float(double(size) * 8 / (double(smallestTime) / 1000)) : 0;
  const int64_t hundredths = smallestTime / 10000;
  text += Format("size=%8.0fkB time=%02d:%02d:%02d.%02d bitrate=%6.1fkbits/s", double(size) / 1024,
                 int(hundredths / 360000), int(hundredths / 6000 % 60), int(hundredths / 100 % 60),
                 int(hundredths % 100), double(bitrate));
  if (FFramesDuplicated || FFramesDropped)
    text += Format(" dup=%d drop=%d", FFramesDuplicated, FFramesDropped);
  if (OnProgress) {
    if (FDupDropPending && FSettings.Verbose >= 0) {
      FDupDropPending = false;
      Log(llVerbose, text);
    }
    const TOutputStream& lastStream = *FOutputStreams.back();
    OnProgress(this, isLast ? -1 : fileIndex, video ? video->FrameNumber : -1,
               video ? FramesPerSecond(video->FrameNumber) : -1, quality, bitrate, size,
               MuxerMicroseconds(lastStream.St), TotalTime);
  } else if (FSettings.Verbose >= 0) {
    Log(llVerbose, text);
  }
  if (isLast && FSettings.Verbose >= 0) LogMuxingOverhead(size);
}

int TCustomFFmpeg::FramesPerSecond(int frameNumber) const {
  const double elapsed = double(ff::av_gettime_relative() - FLoopStartTime) / AV_TIME_BASE;
  return elapsed > 1.0 ? int(frameNumber / elapsed + 0.5) : 0;
}

int64_t TCustomFFmpeg::OutputSize() const {
  AVIOContext* pb = FOutputFiles.empty() ? nullptr : FOutputFiles[0]->Ctx->pb;
  if (!pb) return 0;
  const int64_t size = ff::avio_size(pb);
  return size >= 0 ? size : ff::avio_seek(pb, 0, SEEK_CUR);
}

void TCustomFFmpeg::LogMuxingOverhead(int64_t totalSize) {
  int64_t extra = 0;
  for (const TOutputStream* ost : FOutputStreams)
    if (!ost->Mirror && ost->Encoder) extra += ost->Encoder->extradata_size;
  FExtraSize = extra;
  const double payload = double(FVideoSize + FAudioSize + FExtraSize);
  const double overhead = payload > 0 ? (double(totalSize) - payload) * 100 / payload : 0;
  LogFmt(llVerbose, "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n",
         double(FVideoSize) / 1024, double(FAudioSize) / 1024, double(FExtraSize) / 1024, overhead);
}
