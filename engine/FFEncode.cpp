#include "FFEncode.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <exception>
#include <string_view>
#include <system_error>

#include "FFLoad.h"
#include "FFLog.h"

namespace {

using S = const std::string&;

bool IsOneOf(S name, std::initializer_list<const char*> names) {
  return std::any_of(names.begin(), names.end(), [&name](const char* n) { return name == n; });
}

// Created by their own option once the output is open.
bool IsStreamCreating(S name) {
  return IsOneOf(name, {"newvideo", "newaudio", "newsubtitle", "newdata"});
}

bool IsVideoFilters(S name) { return name == "vf" || name == "vfilters"; }

// Options that set up the next stream of a kind: for an output they become stream defaults.
bool IsPerStream(S name) { return IsOneOf(name, {"acodec", "vcodec", "scodec", "dcodec", "s"}); }

std::string LowerCase(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return text;
}

// Every line break (CR LF, CR, LF) and every "<CRLF>" becomes a line feed.
std::string NormaliseLineBreaks(S text) {
  static constexpr std::string_view Literal = "<CRLF>";
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, Literal.size(), Literal) == 0) {
      result += '\n';
      i += Literal.size() - 1;
    } else if (text[i] == '\r') {
      result += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      result += text[i];
    }
  }
  return result;
}

const std::string* FindValue(const TOptionLines& list, S name) {
  const auto line = std::find_if(list.begin(), list.end(),
                                 [&name](const TOptionLine& l) { return l.first == name; });
  return line == list.end() ? nullptr : &line->second;
}

}  // namespace

// ---- Records and option text ----

void InitInputOptions(TInputOptions& options) { options = TInputOptions{}; }

void InitOutputOptions(TOutputOptions& options) { options = TOutputOptions{}; }

TOptionLines SplitOptionText(S text) {
  TOptionLines lines;
  const std::string normal = NormaliseLineBreaks(text);
  size_t start = 0;
  while (start <= normal.size()) {
    size_t end = normal.find('\n', start);
    if (end == std::string::npos) end = normal.size();
    const std::string line = normal.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    const size_t equals = line.find('=');
    if (equals == std::string::npos)
      lines.emplace_back(LowerCase(line), "");
    else
      lines.emplace_back(LowerCase(line.substr(0, equals)), line.substr(equals + 1));
  }
  return lines;
}

int64_t LocalDateTimeToUnixTime(double dateTime) {
  constexpr int64_t UnixEpochDay = 25569;  // 1970-01-01 in days since 1899-12-30
  constexpr int64_t SecondsPerDay = 86400;
  const double day = std::floor(dateTime);
  const int64_t secondOfDay = std::llround((dateTime - day) * double(SecondsPerDay));
  // The calendar date of the day, read as UTC so that no zone shifts it.
  const std::time_t midnight = std::time_t((int64_t(day) - UnixEpochDay) * SecondsPerDay);
  std::tm local{};
  gmtime_r(&midnight, &local);
  local.tm_hour = int(secondOfDay / 3600);
  local.tm_min = int(secondOfDay / 60 % 60);
  local.tm_sec = int(secondOfDay % 60);
  local.tm_isdst = -1;  // the zone's rules decide whether daylight saving applies
  return int64_t(std::mktime(&local));
}

// ---- TFFmpeg ----

TFFmpeg::TFFmpeg(int maxFiles, TCustomEncoder* owner)
    : TCustomFFmpeg(maxFiles),
      FOwner(owner),
      FInputDecoders(size_t(maxFiles)),
      FInputOptions(size_t(maxFiles)),
      FOutputOptions(size_t(maxFiles)) {}

// The run uses the probe decoders when it ends: it must be over before they go. The callbacks
// stay connected until the base class has joined the task's threads; the encoder ignores them
// once it has begun shutting down.
TFFmpeg::~TFFmpeg() { Abort(true); }

TFFDecoder& TFFmpeg::InputDecoder(int n) {
  std::unique_ptr<TFFDecoder>& decoder = FInputDecoders.at(size_t(n));
  if (!decoder) decoder = std::make_unique<TFFDecoder>();
  return *decoder;
}

void TFFmpeg::DetachInputDecoders() {
  for (const auto& decoder : FInputDecoders)
    if (decoder) decoder->CloseFile();
}

void TFFmpeg::SetInputOptions(int n, const TInputOptions& options) {
  FInputOptions.at(size_t(n)) = options;
}

void TFFmpeg::SetOutputOptions(int n, const TOutputOptions& options) {
  FOutputOptions.at(size_t(n)) = options;
}

void TFFmpeg::ClearInput(int n) { InitInputOptions(FInputOptions.at(size_t(n))); }

void TFFmpeg::ClearOutput(int n) { InitOutputOptions(FOutputOptions.at(size_t(n))); }

bool TFFmpeg::OpenInput(S fileName, const TInputOptions* options) {
  const int n = InputCount();
  SetInputOptions(n, options ? *options : TInputOptions{});
  if (FInputOptions[size_t(n)].FileName.empty()) FInputOptions[size_t(n)].FileName = fileName;
  if (options) {
    ApplyOptionText(options->ExtOptions, true);
    if (!options->FileFormat.empty()) ParseOption("f", options->FileFormat);
    SetStartTime(options->StartTime);
    SetProgramID(options->ProgramID);
  }
  return OpenInputFile(fileName);
}

bool TFFmpeg::OpenOutput(S fileName, const TOutputOptions* options) {
  const int n = OutputCount();
  SetOutputOptions(n, options ? *options : TOutputOptions{});
  if (FOutputOptions[size_t(n)].FileName.empty()) FOutputOptions[size_t(n)].FileName = fileName;
  if (!options) return OpenOutputFile(fileName, false) >= 0;

  TOptionLines list;
  BuildStreamDefaults(*options, list);
  ApplyTarget(*options);
  for (const char* name : {"acodec", "vcodec", "scodec", "dcodec", "fpre"})
    ApplyStreamDefault(name, list);
  ApplyOptionText(options->ExtOptions, false);
  ApplyOutputOptions(*options);
  ApplyStreamDefault("s", list);
  ApplyStreamDefault("vf", list);
  if (OpenOutputFile(fileName, options->JoinInputs) < 0) return false;
  ApplyDefaultOptions(options->ExtOptions, list);
  if (options->JoinInputs) JoinInputs();
  return true;
}

void TFFmpeg::ApplyOptionText(S text, bool isInput) {
  for (const auto& [name, value] : SplitOptionText(text)) {
    // Streams and filter chains are made once the output is open.
    if (IsStreamCreating(name) || IsVideoFilters(name)) continue;
    if (IsPerStream(name) && !isInput) continue;
    ParseOption(name, value);
  }
}

void TFFmpeg::BuildStreamDefaults(const TOutputOptions& options, TOptionLines& list) {
  list.clear();
  const std::pair<const char*, const std::string*> fields[] = {
      {"def_acodec", &options.AudioCodec},    {"def_vcodec", &options.VideoCodec},
      {"def_scodec", &options.SubtitleCodec}, {"def_dcodec", &options.DataCodec},
      {"def_fpre", &options.PresetFile},      {"def_s", &options.FrameSize},
      {"def_vf", &options.VideoFilters}};
  for (const auto& [name, value] : fields)
    if (!value->empty()) list.emplace_back(name, *value);
  for (auto [name, value] : SplitOptionText(options.ExtOptions)) {
    if (IsVideoFilters(name)) name = "vf";
    if ((!IsPerStream(name) && name != "vf") || value.empty()) continue;
    if (!FindValue(list, "def_" + name)) list.emplace_back("def_" + name, value);
    list.emplace_back(name, value);
  }
}

void TFFmpeg::ApplyTarget(const TOutputOptions& options) {
  static const char* const Targets[] = {"vcd", "svcd", "dvd"};
  static const char* const NormPrefixes[] = {"", "pal-", "ntsc-"};
  if (options.Target < 1 || options.Target > 3) return;
  const int norm = options.TargetNorm == 1 || options.TargetNorm == 2 ? options.TargetNorm : 0;
  OptTarget(std::string(NormPrefixes[norm]) + Targets[options.Target - 1],
            options.DefaultNorm == 1 ? "pal" : "ntsc");
}

void TFFmpeg::ApplyOutputOptions(const TOutputOptions& options) {
  const auto text = [this](const char* name, S value) {
    if (!value.empty()) ParseOption(name, value);
  };
  const auto number = [this](const char* name, int64_t value) {
    ParseOption(name, std::to_string(value));
  };
  const auto positive = [&number](const char* name, int value) {
    if (value > 0) number(name, value);
  };
  const auto flag = [this](const char* name, bool on) {
    if (on) ParseOption(name, "1");
  };
  // Bit rates come from the target's preset when there is one.
  const auto bitrate = [&number, &options](const char* name, int value) {
    if (value >= 1 && options.Target == 0) number(name, value);
  };

  text("f", options.FileFormat);
  positive("packetsize", options.PacketSize);
  positive("muxrate", options.MuxRate);
  SetMuxDelay(options.MuxDelay);
  SetMuxPreload(options.MuxPreload);
  flag("an", options.DisableAudio != 0);
  SetVolume(options.AudioVolume);
  positive("ac", options.AudioChannels);
  positive("ar", options.AudioSampleRate);
  bitrate("ab", options.AudioBitrate);
  positive("abt", options.AudioBitrateTolerance);
  text("alang", options.AudioLanguage);
  number("async", options.AudioSync);
  text("atag", options.AudioTag);
  flag("vn", options.DisableVideo != 0);
  text("r", options.FrameRate);
  text("aspect", options.FrameAspectRatio);
  positive("g", options.GOPSize);
  bitrate("vb", options.VideoBitrate);
  positive("maxrate", options.MaxRate);
  positive("minrate", options.MinRate);
  positive("bt", options.VideoBitrateTolerance);
  positive("bufsize", options.BufferSize);
  number("vsync", options.VideoSync);
  text("vtag", options.VideoTag);
  text("vlang", options.VideoLanguage);
  flag("sn", options.DisableSubtitle != 0);
  text("slang", options.SubtitleLanguage);
  number("isync", options.InputSync ? 1 : 0);
  flag("copyts", options.CopyTimestamps);
  SetStartTime(options.StartTime);
  SetRecordingTime(options.TimeLength);
  ApplyMetadata(options.Metadata);
}

void TFFmpeg::ApplyMetadata(const TStreamInfo& metadata) {
  if (metadata.Timestamp == 0.0)
    SetRecordingTimestamp(int64_t(std::time(nullptr)));
  else if (metadata.Timestamp > 0)
    SetRecordingTimestamp(LocalDateTimeToUnixTime(metadata.Timestamp));
  if (metadata.Year > 0) SetMetadata("year", std::to_string(metadata.Year));
  if (metadata.Track > 0) SetMetadata("track", std::to_string(metadata.Track));
  const std::pair<const char*, const std::string*> tags[] = {
      {"title", &metadata.Title},         {"author", &metadata.Author},
      {"copyright", &metadata.Copyright}, {"comment", &metadata.Comment},
      {"album", &metadata.Album},         {"genre", &metadata.Genre}};
  for (const auto& [key, value] : tags)
    if (!value->empty()) SetMetadata(key, *value);
}

void TFFmpeg::ApplyDefaultOptions(S text, TOptionLines& list) {
  for (const auto& [name, value] : SplitOptionText(text)) {
    if (name == "newaudio") {
      TakeStreamOption("acodec", list);
    } else if (name == "newvideo") {
      for (const char* option : {"vcodec", "s", "vf"}) TakeStreamOption(option, list);
    } else if (name == "newsubtitle") {
      TakeStreamOption("scodec", list);
    } else if (name == "newdata") {
      TakeStreamOption("dcodec", list);
    } else {
      continue;
    }
    ParseOption(name, value);
  }
}

void TFFmpeg::ApplyStreamDefault(S name, const TOptionLines& list) {
  if (const std::string* value = FindValue(list, "def_" + name)) ParseOption(name, *value);
}

void TFFmpeg::TakeStreamOption(S name, TOptionLines& list) {
  const auto line = std::find_if(list.begin(), list.end(),
                                 [&name](const TOptionLine& l) { return l.first == name; });
  if (line == list.end()) {
    ApplyStreamDefault(name, list);
    return;
  }
  const std::string value = line->second;
  list.erase(line);
  ParseOption(name, value);
}

// ---- TFFmpegList ----

int TFFmpegList::Add(std::unique_ptr<TFFmpeg> task) {
  FItems.push_back(std::move(task));
  return Count() - 1;
}

void TFFmpegList::Delete(int n) {
  FItems.at(size_t(n));  // an index outside the list throws
  FItems.erase(FItems.begin() + n);
}

void TFFmpegList::Clear() { FItems.clear(); }

int TFFmpegList::IndexOf(const TCustomFFmpeg* task) const {
  const auto item =
      std::find_if(FItems.begin(), FItems.end(), [task](const auto& t) { return t.get() == task; });
  return item == FItems.end() ? -1 : int(item - FItems.begin());
}

void TFFmpegList::PauseAll() {
  for (const auto& task : FItems) task->Pause();
}

void TFFmpegList::ResumeAll() {
  for (const auto& task : FItems) task->Resume();
}

void TFFmpegList::StopAll(bool wait, bool discard) {
  for (const auto& task : FItems) discard ? task->Cancel(wait) : task->Stop(wait);
}

void TFFmpegList::AbortAll() {
  for (const auto& task : FItems) task->Abort(true);
}

void TFFmpegList::SetPreviewAll(bool on) { SetPreviewBit(1, on); }

void TFFmpegList::SetPreviewBitmapAll(bool on) { SetPreviewBit(2, on); }

void TFFmpegList::SetPreviewBit(uint8_t bit, bool on) {
  for (const auto& task : FItems) {
    const uint8_t flags = task->PreviewFlags();
    task->SetPreviewFlagsLocked(on ? uint8_t(flags | bit) : uint8_t(flags & ~bit));
  }
}

// ---- TCustomEncoder ----

TCustomEncoder::TCustomEncoder() = default;

TCustomEncoder::~TCustomEncoder() { Shutdown(); }

void TCustomEncoder::Shutdown() {
  {
    const std::lock_guard<std::recursive_mutex> lock(FRunLock);
    FShuttingDown = true;
    FWaitingCount = 0;
  }
  OnAudioHook = nullptr;
  OnBeforeFindStreamInfo = nullptr;
  OnVideoInputHook = nullptr;
  OnVideoOutputHook = nullptr;
  OnPreviewBitmap = nullptr;
  OnProgress = nullptr;
  OnTerminate = nullptr;
  OnFrameInputHook = nullptr;
  OnFrameOutputHook = nullptr;
  FTasks.AbortAll();
  WaitForNotices();
  if (FNoticeThread.joinable()) FNoticeThread.join();
  FTasks.Clear();
}

bool TCustomEncoder::AVLibLoaded() const { return FFLoader().Loaded(AllLibraries); }

bool TCustomEncoder::LoadAVLib(S path) {
  FFLoader().SetLibraryPath(path);
  if (FFLoader().Load(AllLibraries)) return true;
  LastErrMsg = FFLoader().LastErrorMessage();
  return false;
}

void TCustomEncoder::CheckNotWorking(const char* operation) const {
  const std::lock_guard<std::recursive_mutex> lock(FRunLock);
  if (FWorking) throw FFmpegException(std::string("Cannot ") + operation + " while working.");
}

uint8_t TCustomEncoder::PreviewFlags() const {
  return uint8_t((FPreview ? 1 : 0) | (FPreviewBitmap ? 2 : 0));
}

int TCustomEncoder::AddTask(S fileName, const TInputOptions* inputOptions) {
  CheckNotWorking("AddTask");
  TCustomDecoder::CheckLibs();
  auto task = std::make_unique<TFFmpeg>(MaxFiles, this);
  task->RaiseOptionErrors = RaiseOptionErrors;
  task->SetVerbose(Verbose);
  task->SetPreviewFlags(PreviewFlags());
  task->Timeout = Timeout;
  task->OnBeforeFindStreamInfo = [this](TCustomFFmpeg* t, AVFormatContext* formatContext) {
    DoBeforeFindStreamInfo(t, formatContext);
  };
  task->OnPreview = [this](TCustomFFmpeg* t, TBitmap* bitmap, int frameNumber, int64_t pts) {
    DoPreviewBitmap(t, bitmap, frameNumber, pts);
  };
  if (!OpenTaskInput(*task, fileName, inputOptions)) return -1;
  ConnectTaskEvents(*task);
  return FTasks.Add(std::move(task));
}

void TCustomEncoder::ConnectTaskEvents(TFFmpeg& task) {
  task.OnProgress = [this](TCustomFFmpeg* t, int fileIndex, int frameNumber, int fps, float quality,
                           float bitrate, int64_t totalSize, int64_t currentTime,
                           int64_t totalTime) {
    DoProgress(
        t, {-1, fileIndex, frameNumber, fps, quality, bitrate, totalSize, currentTime, totalTime});
  };
  task.OnTerminate = [this](TCustomFFmpeg* t) { DoTaskTerminate(t); };
}

bool TCustomEncoder::OpenTaskInput(TFFmpeg& task, S fileName, const TInputOptions* options) {
  const int n = task.InputCount();
  try {
    if (task.OpenInput(fileName, options)) {
      task.InputDecoder(n).AttachFormatContext(task.InputFormatContext(n));
      return true;
    }
    LastErrMsg = task.LastErrMsg;
  } catch (const std::exception& e) {
    LastErrMsg = e.what();
  }
  task.ClearInput(n);
  return false;
}

bool TCustomEncoder::AddInputFile(int taskIndex, S fileName, const TInputOptions* inputOptions) {
  CheckNotWorking("AddInputFile");
  TFFmpeg& task = Task(taskIndex);
  if (task.InputCount() >= task.MaxFiles()) {
    LastErrMsg = "max input files " + std::to_string(task.InputCount()) + " reached";
    return false;
  }
  return OpenTaskInput(task, fileName, inputOptions);
}

bool TCustomEncoder::SetOutputFile(int taskIndex, S fileName, const TOutputOptions* outputOptions) {
  CheckNotWorking("SetOutputFile");
  TFFmpeg& task = Task(taskIndex);
  const int n = task.OutputCount();
  if (n >= task.MaxFiles()) {
    LastErrMsg = "max output files " + std::to_string(n) + " reached";
    return false;
  }
  try {
    if (outputOptions) ConnectHooks(task, *outputOptions);
    if (task.OpenOutput(fileName, outputOptions)) return true;
    LastErrMsg = task.LastErrMsg;
  } catch (const std::exception& e) {
    LastErrMsg = e.what();
  }
  task.ClearOutput(n);
  return false;
}

void TCustomEncoder::ConnectHooks(TFFmpeg& task, const TOutputOptions& options) {
  if (options.AudioHook)
    task.OnAudioHook = [this](TCustomFFmpeg* t, uint8_t* samples, int64_t pts, int size,
                              int sampleRate, int channels, int sampleFormat) {
      DoAudioHook(t, pts, samples, size, sampleRate, channels, sampleFormat);
    };
  if (options.VideoInputHook)
    task.OnVideoInputHook = [this](TCustomFFmpeg* t, TBitmap* bitmap, int frameNumber, int64_t pts,
                                   bool& update, bool& stopHook) {
      DoVideoInputHook(t, bitmap, frameNumber, pts, update, stopHook);
    };
  if (options.VideoOutputHook)
    task.OnVideoOutputHook = [this](TCustomFFmpeg* t, TBitmap* bitmap, int frameNumber, int64_t pts,
                                    bool& update, bool& stopHook) {
      DoVideoOutputHook(t, bitmap, frameNumber, pts, update, stopHook);
    };
  if (options.FrameInputHook)
    task.OnFrameInputHook = [this](TCustomFFmpeg* t, const TAVPicture* picture, int pixFmt,
                                   int frameNumber, int width, int height, int64_t pts) {
      DoFrameInputHook(t, picture, pixFmt, frameNumber, width, height, pts);
    };
  if (options.FrameOutputHook)
    task.OnFrameOutputHook = [this](TCustomFFmpeg* t, const TAVPicture* picture, int pixFmt,
                                    int frameNumber, int width, int height, int64_t pts) {
      DoFrameOutputHook(t, picture, pixFmt, frameNumber, width, height, pts);
    };
  task.SetHookBitsPixel(options.HookBitsPixel);
}

void TCustomEncoder::RemoveTask(int taskIndex) {
  CheckNotWorking("RemoveTask");
  FTasks.Delete(taskIndex);
}

// ---- Running ----

void TCustomEncoder::StartTask(int count) {
  CheckNotWorking("StartTask");
  const bool threaded = count > 0;
  {
    const std::lock_guard<std::recursive_mutex> lock(FRunLock);
    FEndedCount = 0;
    FNextIndex = 0;
    FWaitingCount = FTasks.Count();
    FAllEnded = false;
    FThreaded = threaded;
    FWorking = true;
    FPaused = false;
    if (!threaded) FSynchronousThread = std::this_thread::get_id();
  }
  for (;;) {
    {
      const std::lock_guard<std::recursive_mutex> lock(FRunLock);
      if (FWaitingCount <= 0) break;
    }
    StartNextTask();
    if (threaded && --count < 1) break;
  }
  if (threaded) return;
  // A notice queued from another thread (a task stopped before it ran) still arrives in here.
  WaitForNotices();
  const std::lock_guard<std::recursive_mutex> lock(FRunLock);
  FSynchronousThread = std::thread::id();
}

void TCustomEncoder::StartNextTask() {
  std::unique_lock<std::recursive_mutex> lock(FRunLock);
  if (FWaitingCount <= 0) return;
  --FWaitingCount;
  TFFmpeg& task = Task(FNextIndex++);
  task.SetVerbose(Verbose);
  task.ProgressInterval = int64_t(FProgressInterval) * 1000;
  // A task without inputs or outputs is refused: Start reports its end at once, logging through
  // the main thread, so never under the lock (the main thread may be waiting for it).
  const bool refused = task.InputCount() == 0 || task.OutputCount() == 0;
  if (FThreaded && !refused) {
    // Under the lock, so that a Stop or the destructor never misses a task being started. A
    // task that starts while the encoder is paused waits for Resume.
    TConvertThread* thread = task.Start(true, ThreadPriority);
    if (thread && !FPaused) thread->Resume();
    return;
  }
  lock.unlock();
  task.Start(false, ThreadPriority);
}

void TCustomEncoder::Pause() {
  const std::lock_guard<std::recursive_mutex> lock(FRunLock);
  if (!FWorking || FPaused) return;
  FTasks.PauseAll();
  FPaused = true;
}

void TCustomEncoder::Resume() {
  const std::lock_guard<std::recursive_mutex> lock(FRunLock);
  if (!FWorking || !FPaused) return;
  FTasks.ResumeAll();
  FPaused = false;
}

void TCustomEncoder::Stop(bool wait) { StopTasks(wait, false); }

void TCustomEncoder::Cancel(bool wait) { StopTasks(wait, true); }

bool TCustomEncoder::TaskFinished(int taskIndex) const {
  const TFFmpeg& task = Task(taskIndex);
  return task.Finished && !task.ExceptionRaised;
}

TFolder TCustomEncoder::OutputFolder(int taskIndex, int outputIndex) const {
  return Task(taskIndex).OutputFolder(outputIndex);
}

void TCustomEncoder::StopTasks(bool wait, bool discard) {
  bool working = false;
  {
    const std::lock_guard<std::recursive_mutex> lock(FRunLock);
    FWaitingCount = 0;
    working = FWorking;
  }
  // Not under the lock: the tasks' ends, which take it, are waited for here.
  if (working) FTasks.StopAll(wait, discard);
}

bool TCustomEncoder::Working() const {
  const std::lock_guard<std::recursive_mutex> lock(FRunLock);
  return FWorking;
}

bool TCustomEncoder::Paused() const {
  const std::lock_guard<std::recursive_mutex> lock(FRunLock);
  return FPaused;
}

bool TCustomEncoder::AllEnded() const {
  const std::lock_guard<std::recursive_mutex> lock(FRunLock);
  return FAllEnded;
}

// ---- Properties ----

void TCustomEncoder::SetPreview(bool value) {
  FTasks.SetPreviewAll(value);
  FPreview = value;
}

void TCustomEncoder::SetPreviewBitmap(bool value) {
  FTasks.SetPreviewBitmapAll(value);
  FPreviewBitmap = value;
}

void TCustomEncoder::SetProgressInterval(int value) {
  FProgressInterval = value < 101 ? 100 : value;
}

// ---- Events ----

void TCustomEncoder::RaiseTaskEvent(TCustomFFmpeg* task, std::mutex& lock,
                                    const std::function<void()>& raise) {
  if (TriggerEventInMainThread) {
    // The main thread runs one handler at a time: nothing here needs the lock while waiting.
    task->SynchronizeEvent(raise);
    return;
  }
  const std::lock_guard<std::mutex> guard(lock);
  raise();
}

void TCustomEncoder::DoBeforeFindStreamInfo(TCustomFFmpeg* task, AVFormatContext* formatContext) {
  if (!OnBeforeFindStreamInfo) return;
  RaiseTaskEvent(task, FBeforeFindStreamInfoLock, [this, task, formatContext] {
    if (const auto handler = OnBeforeFindStreamInfo.Handler()) handler(task, formatContext);
  });
}

void TCustomEncoder::DoProgress(TCustomFFmpeg* task, const TProgressInfo& progress) {
  if (!OnProgress) return;
  TProgressInfo info = progress;
  info.TaskIndex = FTasks.IndexOf(task);
  RaiseTaskEvent(task, FProgressLock, [this, &info] {
    if (const auto handler = OnProgress.Handler()) handler(this, &info);
  });
}

void TCustomEncoder::DoPreviewBitmap(TCustomFFmpeg* task, TBitmap* bitmap, int frameNumber,
                                     int64_t pts) {
  if (!OnPreviewBitmap) return;
  const TPreviewInfo info{FTasks.IndexOf(task), bitmap, frameNumber, pts};
  RaiseTaskEvent(task, FPreviewBitmapLock, [this, &info] {
    if (const auto handler = OnPreviewBitmap.Handler()) handler(this, info);
  });
}

void TCustomEncoder::DoAudioHook(TCustomFFmpeg* task, int64_t pts, uint8_t* sample, int size,
                                 int sampleRate, int channels, int sampleFormat) {
  const std::lock_guard<std::mutex> guard(FAudioHookLock);
  if (const auto handler = OnAudioHook.Handler())
    handler(this, FTasks.IndexOf(task), pts, sample, size, sampleRate, channels,
            AVSampleFormat(sampleFormat));
}

void TCustomEncoder::RaiseVideoHook(const TEventHandler<TVideoHookEvent>& event,
                                    TCustomFFmpeg* task, TBitmap* bitmap, int frameNumber,
                                    int64_t pts, bool& update, bool& stopHook) {
  const std::lock_guard<std::mutex> guard(FVideoHookLock);
  const auto handler = event.Handler();
  if (!handler) {
    update = false;  // nothing drew on the bitmap
    return;
  }
  THookInfo info{FTasks.IndexOf(task), bitmap, frameNumber, pts, update, stopHook};
  handler(this, &info);
  update = info.Update;
  stopHook = info.StopHook;
}

void TCustomEncoder::DoVideoInputHook(TCustomFFmpeg* task, TBitmap* bitmap, int frameNumber,
                                      int64_t pts, bool& update, bool& stopHook) {
  RaiseVideoHook(OnVideoInputHook, task, bitmap, frameNumber, pts, update, stopHook);
}

void TCustomEncoder::DoVideoOutputHook(TCustomFFmpeg* task, TBitmap* bitmap, int frameNumber,
                                       int64_t pts, bool& update, bool& stopHook) {
  RaiseVideoHook(OnVideoOutputHook, task, bitmap, frameNumber, pts, update, stopHook);
}

void TCustomEncoder::RaiseFrameHook(const TEventHandler<TFrameHookEvent>& event,
                                    TCustomFFmpeg* task, const TAVPicture* picture, int pixFmt,
                                    int frameNumber, int width, int height, int64_t pts) {
  const std::lock_guard<std::mutex> guard(FFrameHookLock);
  const auto handler = event.Handler();
  if (!handler) return;
  TFrameHookInfo info{FTasks.IndexOf(task), frameNumber, picture, pixFmt, width, height, pts};
  handler(this, &info);
}

void TCustomEncoder::DoFrameInputHook(TCustomFFmpeg* task, const TAVPicture* picture, int pixFmt,
                                      int frameNumber, int width, int height, int64_t pts) {
  RaiseFrameHook(OnFrameInputHook, task, picture, pixFmt, frameNumber, width, height, pts);
}

void TCustomEncoder::DoFrameOutputHook(TCustomFFmpeg* task, const TAVPicture* picture, int pixFmt,
                                       int frameNumber, int width, int height, int64_t pts) {
  RaiseFrameHook(OnFrameOutputHook, task, picture, pixFmt, frameNumber, width, height, pts);
}

// ---- Ends of tasks ----

// Task thread (or the thread of a stopped task's end report). Never waits for a handler.
void TCustomEncoder::DoTaskTerminate(TCustomFFmpeg* task) {
  bool deliverHere = false;
  bool startNext = false;
  {
    const std::lock_guard<std::recursive_mutex> lock(FRunLock);
    if (FShuttingDown) return;
    const int index = FTasks.IndexOf(task);
    // The run has closed the inputs the probe decoders read.
    if (index >= 0) FTasks.Items(index)->DetachInputDecoders();
    if (OnTerminate)
      QueueNotice({index, task->Finished, task->ExceptionRaised, task->ExceptionMessage});
    ++FEndedCount;
    if (FWaitingCount > 0) {
      startNext = FThreaded;
    } else if (FEndedCount >= FTasks.Count() && !FAllEnded) {
      FAllEnded = true;
      if (OnTerminate) QueueNotice({-1, true, false, ""});
    }
    deliverHere = ClaimDelivery();
  }
  // After this task's notice is queued, and outside the lock: see StartNextTask.
  if (startNext) StartNextTask();
  if (deliverHere) DeliverNotices();
}

void TCustomEncoder::QueueNotice(const TTerminateInfo& info) { FNotices.push_back(info); }

bool TCustomEncoder::ClaimDelivery() {
  if (FNotices.empty() || FDelivering) return false;
  FDelivering = true;
  if (!FThreaded && FSynchronousThread == std::this_thread::get_id()) return true;
  // The previous notice thread has delivered everything and is only returning.
  if (FNoticeThread.joinable()) FNoticeThread.join();
  try {
    FNoticeThread = std::thread(&TCustomEncoder::DeliverNotices, this);
  } catch (const std::system_error&) {
    return true;  // without a thread of their own, the notices are delivered by this one
  }
  return false;
}

void TCustomEncoder::DeliverNotices() {
  for (;;) {
    TTerminateInfo info;
    {
      const std::lock_guard<std::recursive_mutex> lock(FRunLock);
      if (FNotices.empty()) {
        FDelivering = false;
        FNoticesDelivered.notify_all();
        return;
      }
      info = std::move(FNotices.front());
      FNotices.pop_front();
    }
    RaiseTerminate(info);
  }
}

void TCustomEncoder::RaiseTerminate(const TTerminateInfo& info) {
  const auto raise = [this, &info] {
    if (const auto handler = OnTerminate.Handler()) handler(this, info);
  };
  // No task waits for this handler, so what it throws can only be logged.
  try {
    if (TriggerEventInMainThread)
      RunInMainThread(raise);
    else
      raise();
  } catch (const std::exception& e) {
    FFLogger().Log(this, llError, std::string("Error occurs OnTerminate: ") + e.what());
  }
}

// The notice thread may be waiting for the main thread, which may be this very thread.
void TCustomEncoder::WaitForNotices() {
  WaitServingMainThread([this](int milliseconds) {
    std::unique_lock<std::recursive_mutex> lock(FRunLock);
    return FNoticesDelivered.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                      [this] { return !FDelivering; });
  });
}
