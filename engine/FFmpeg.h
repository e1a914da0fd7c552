// The transcoder task: one conversion run with its inputs, outputs and option state, the thread
// that runs it and the controls that start, pause, abort and stop it; and the option vocabulary
// (FFmpeg's command-line names) that configures it before its files are opened.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "FFBaseComponent.h"
#include "FFEntryPoints.h"
#include "FFLog.h"
#include "FFUtils.h"
#include "FrameHook.h"
#include "MyUtils.h"
#include "Previewer.h"

class TCustomFFmpeg;
class TThreadedEncoder;
struct TSerialEncodingNeeds;
// Deletes one where its type is known, so that this header needs none of it.
struct TThreadedEncoderDeleter {
  void operator()(TThreadedEncoder* encoder) const;
};
struct TTargetPreset;

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Shared by every task of the process: held while a preview picture is taken and delivered, and
// while the owner changes a task's preview flags. (Codecs open and close under TCodecLock.)
std::mutex& FFmpegPreviewLock();

// The thread of a started task. It is created suspended: the first Resume starts it; later ones
// open the pause gate that the task checks between packets and frames.
class TConvertThread {
 public:
  TConvertThread(TCustomFFmpeg* owner, TThreadPriority priority);
  // Joins the thread once it runs; a thread never resumed is never started.
  ~TConvertThread();
  TConvertThread(const TConvertThread&) = delete;
  TConvertThread& operator=(const TConvertThread&) = delete;

  // Any thread.
  void Resume();
  void Suspend();
  bool Suspended();
  bool IsCurrentThread();
  // Task thread: blocks while the thread is suspended.
  void WaitWhileSuspended();

 private:
  void Execute();

  TCustomFFmpeg* FOwner;
  TThreadPriority FPriority;
  std::mutex FLock;
  std::condition_variable FGate;
  bool FStarted = false;
  bool FSuspended = true;
  std::thread::id FThreadID;
  std::thread FThread;
};

// A bitstream filter an option asked for, with its arguments ("name=args").
struct TBitstreamFilterSpec {
  const AVBitStreamFilter* Filter = nullptr;
  std::string Arguments;
};

// An FFmpeg dictionary that frees itself.
class TDictionary {
 public:
  TDictionary() = default;
  ~TDictionary();
  TDictionary(TDictionary&& other) noexcept : Value(other.Value) { other.Value = nullptr; }
  TDictionary& operator=(TDictionary&& other) noexcept;
  TDictionary(const TDictionary&) = delete;
  TDictionary& operator=(const TDictionary&) = delete;
  void Clear();
  AVDictionary* Value = nullptr;
};

// One stream of an input, in input order across all inputs.
struct TInputStream {
  TInputStream() = default;
  ~TInputStream();
  TInputStream(const TInputStream&) = delete;
  TInputStream& operator=(const TInputStream&) = delete;

  int FileIndex = 0;
  AVStream* St = nullptr;
  bool Unclaimed = true;  // no output stream takes it (yet)
  bool DecodingNeeded = false;
  // The decoder the options forced; else the set-up takes the one of the codec id.
  const AVCodec* ForcedDecoder = nullptr;
  // Made with the stream's parameters and the decoding options when the input opens; the
  // set-up opens it when decoding is needed.
  AVCodecContext* Decoder = nullptr;
  int DecodedFrames = 0;  // decoded video pictures: the input hooks' frame number
  int64_t Pts = 0;        // µs
  int64_t NextPts = AV_NOPTS_VALUE;
  int64_t SoundEnd = AV_NOPTS_VALUE;  // µs, where the sound decoded so far ends
  bool AtStart = true;
  int64_t RateEmuStart = 0;  // µs, the "re" option's reading clock
  bool PastRecordingTime = false;
  bool Flushed = false;    // its decoder was drained at the end
  bool JoinTaken = false;  // join mode: a group of output streams took it
  bool MultipleFramesWarned = false;
  // Decoded audio becomes packed signed 16-bit: the converter and the layout it was made for.
  SwrContext* ToS16 = nullptr;
  int ToS16Format = -1;
  int ToS16Rate = 0;
  int ToS16Channels = 0;
};

// The pictures a video filter graph is made for: stored size, pixel format and colour coding.
struct TVideoGraphInput {
  int Width = 0;
  int Height = 0;
  AVPixelFormat Format = AV_PIX_FMT_NONE;
  TPictureColours Colours;
  bool operator==(const TVideoGraphInput&) const = default;
};

// One stream of an output. In join mode the streams of the later groups share the muxer
// stream (and the encoder) of the first group's stream they mirror.
struct TOutputStream {
  TOutputStream() = default;
  ~TOutputStream();
  TOutputStream(const TOutputStream&) = delete;
  TOutputStream& operator=(const TOutputStream&) = delete;

  int FileIndex = 0;
  int Index = 0;         // in the muxer
  int SourceIndex = -1;  // input stream table
  int SyncSource = -1;
  AVStream* St = nullptr;
  TOutputStream* Mirror = nullptr;
  // The encoder (nullptr for stream copy) and the context that carries the stream's settings
  // from the options until the set-up opens it. Mirrors hold none.
  const AVCodec* Codec = nullptr;
  AVCodecContext* Encoder = nullptr;
  // Encodes in place of Encoder on threads of its own, when the settings allow: groups of
  // pictures on several instances, the sound on one.
  std::unique_ptr<TThreadedEncoder, TThreadedEncoderDeleter> Threaded;
  bool StreamCopy = false;
  bool EncodingNeeded = false;
  int FrameNumber = 0;
  int64_t SyncPts = 0;  // encoder time base

  // Video, from the options.
  AVRational FrameRate{0, 0};   // {0, 0}: the input's
  double FrameAspectRatio = 0;  // 0: the pictures' own
  std::string VideoFilters;     // filter chain text
  std::string ForcedKeyFramesText;
  std::vector<int64_t> ForcedKfPts;  // encoder time base
  size_t ForcedKfIndex = 0;
  int SwsFlags = 0;

  // Video resampling and filtering.
  bool VideoResample = false;
  SwsContext* ImgResampleCtx = nullptr;
  AVFrame* ResampleFrame = nullptr;
  AVFilterGraph* Graph = nullptr;
  // The pictures the graph is made for; without a graph, those the stream started with.
  TVideoGraphInput GraphInput;
  // The size and pixel shape of the pictures the chain was made for (after the stock filters):
  // a graph made again for pictures of another size fits them into these.
  int ChainWidth = 0;
  int ChainHeight = 0;
  AVRational ChainAspect{1, 1};  // the shown width over the height
  AVFilterContext* BufferSrc = nullptr;
  AVFilterContext* BufferSink = nullptr;
  AVFrame* FilterFrame = nullptr;
  // The last picture given, not written yet: where it goes, or whether the next one takes its
  // place, follows from the next one's time. Its time on the outputs' time line, in s.
  AVFrame* HeldPicture = nullptr;
  double HeldTime = 0;

  // Audio.
  bool AudioResample = false;
  SwrContext* Resampler = nullptr;
  AVAudioFifo* Fifo = nullptr;
  AVSampleFormat ResampleSampleFmt = AV_SAMPLE_FMT_NONE;
  int ResampleChannels = 0;
  int ResampleSampleRate = 0;

  std::vector<TBitstreamFilterSpec> BitstreamFilterSpecs;
  std::vector<AVBSFContext*> BitstreamFilters;
  FILE* LogFile = nullptr;  // two-pass statistics
  bool Active = false;
  AVCodecID JoinCodecId = AV_CODEC_ID_NONE;

  // Encoding state.
  AVFrame* AudioFrame = nullptr;  // one encoder frame of samples from the FIFO
  bool EncoderFlushed = false;    // the encoder gave out its last packets
  bool SamplesEncoded = false;    // audio: SyncPts is the end of what went out
  // What the encoder reported on its last packet: quality (lambda), picture type and the
  // summed squared errors per plane; the errors of all packets add up for the summary.
  int CodedQuality = -1;
  int CodedPictType = 0;
  bool CodedHasErrors = false;
  uint64_t CodedError[4] = {};
  uint64_t TotalError[4] = {};
};

struct TInputFile {
  TInputFile() = default;
  ~TInputFile();
  TInputFile(const TInputFile&) = delete;
  TInputFile& operator=(const TInputFile&) = delete;

  AVFormatContext* Ctx = nullptr;
  std::string FileName;
  bool EofReached = false;
  bool NoPacket = false;  // "try again" in this pass of the main loop
  int IstIndex = 0;       // its first stream in the input stream table
  int NbStreams = 0;
  int64_t TsOffset = 0;         // µs
  std::vector<double> TsScale;  // per stream; 0 = none
  bool OpensInside = false;     // opened at a start inside it: its outputs are parts of it
};

struct TOutputFile {
  TOutputFile() = default;
  // Closes the file. A complete one written under a temporary name, with at least one
  // picture or sound, takes its final name; otherwise the temporary file goes, or a file written
  // directly that stayed empty or never got its header is deleted. Returns what kept a
  // complete file from its name (where its data went), empty when nothing did. Once.
  std::string Close();
  ~TOutputFile();
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  AVFormatContext* Ctx = nullptr;
  bool OwnsContext = true;  // join mode: the later entries repeat the first one's context
  std::string FileName;
  bool FileCreated = false;  // this task created (or emptied) the file
  bool HeaderWritten = false;
  TTemporaryFile Temp;       // the file written in place of FileName, or none
  int64_t MediaPackets = 0;  // pictures and sound written (in join mode, into the first entry)
  bool Complete = false;     // the run ended with it usable: finished, or stopped by the user
  TDictionary MuxerOptions;  // for avformat_write_header
  std::vector<std::unique_ptr<TOutputStream>> Streams;
};

struct TStreamMap {
  int FileIndex = 0;
  int StreamIndex = 0;
  int SyncFileIndex = 0;
  int SyncStreamIndex = 0;
};

// One side of a metadata map: 'g' global, 's' stream, 'c' chapter, 'p' program.
struct TMetadataSpec {
  int File = 0;
  char Type = 'g';
  int Index = 0;
};

struct TMetadataMap {
  TMetadataSpec Output;
  TMetadataSpec Input;
};

struct TChapterMap {
  int OutFile = 0;
  int InFile = 0;
};

// Settings for the next stream of one media kind; a stream made of the kind takes them.
struct TKindSettings {
  std::string CodecName;
  bool StreamCopy = false;
  std::string Language;
  uint32_t CodecTag = 0;
  bool Disabled = false;  // "vn", "an", "sn"
  std::vector<TBitstreamFilterSpec> BitstreamFilters;
  // Private options of the encoder (a target preset's), set once the encoder is known.
  TDictionary PrivateOptions;
};

// Settings that apply to the next file opened and are then reset.
struct TFileSettings {
  std::string Format;                              // "f"
  TKindSettings Kinds[AVMEDIA_TYPE_SUBTITLE + 1];  // video, audio, data, subtitle
  AVRational FrameRate{0, 0};
  int FrameWidth = 0;
  int FrameHeight = 0;
  double FrameAspectRatio = 0;
  AVPixelFormat FramePixFmt = AV_PIX_FMT_NONE;
  int AudioSampleRate = 0;
  int AudioChannels = 0;
  AVSampleFormat AudioSampleFmt = AV_SAMPLE_FMT_NONE;
  std::string VideoFilters;
  std::string ForcedKeyFrames;
  std::vector<int> StreamIDs;        // by stream index; -1 = none
  std::vector<double> InputTsScale;  // by stream index
  TDictionary Metadata;              // of the next output
  TDictionary MuxerOptions;          // private options of the next output's muxer
};

// Settings of the whole task, kept from file to file.
struct TTaskSettings {
  int MaxFrames[AVMEDIA_TYPE_SUBTITLE + 1] = {INT_MAX, INT_MAX, INT_MAX, INT_MAX};
  int Verbose = 1;
  int VideoSyncMethod = -1;  // automatic
  int AudioSyncMethod = 0;
  int OutputBufferSize = 262144;
  int AudioVolume = 256;
  double AudioDriftThreshold = 0.1;
  double MuxPreload = 0.5;                    // s
  double MuxDelay = 0.7;                      // s
  double DtsDeltaThreshold = 10.0;            // s
  int ScalerFlags = 4;                        // SWS_BICUBIC
  int64_t RecordingTime = INT64_MAX;          // µs; no limit
  int64_t StartTime = 0;                      // µs
  int64_t InputTsOffset = 0;                  // µs, for the next input
  std::optional<int64_t> RecordingTimestamp;  // s since 1970
  int64_t LimitFileSize = 0;
  int ProgramID = -1;
  bool DoPktDump = false;
  bool DoHexDump = false;
  bool RateEmu = false;
  bool LoopInput = false;
  std::optional<int> LoopOutput;
  bool CopyTs = false;
  bool CopyTb = false;
  bool Shortest = false;
  bool ExitOnError = false;
  bool InputSync = false;
  int CopyInitialNonKeyFrames = 0;
  int ThreadCount = 0;  // 0: as many as the codec finds useful
  int VideoDiscard = 0;
  bool IntraOnly = false;
  bool SameQuality = false;
  bool DoDeinterlace = false;
  bool DoPSNR = false;
  bool QpHist = false;
  bool ForceFps = false;
  double VideoQScale = 0;  // 0: none
  std::optional<double> AudioQScale;
  std::string RcOverride;
  int MeThreshold = 0;
  int TopFieldFirst = -1;
  int IntraDcPrecision = 8;
  int FrameBitsPerRawSample = 0;
  int DoPass = 0;
  std::string PassLogFileName;
  std::string VStatsFileName;
  std::vector<uint16_t> IntraMatrix;  // 64 coefficients, or none
  std::vector<uint16_t> InterMatrix;
  bool UseFilters = false;  // a "vf" chain was given
  int VideoChannel = 0;
  std::string VideoStandard;
};

// Events. The task calls them on the thread that runs it (or opens its files); the owner
// decides whether to forward them to the main thread (SynchronizeEvent).
using TTaskAudioHookEvent =
    std::function<void(TCustomFFmpeg* task, uint8_t* samples, int64_t pts, int size, int sampleRate,
                       int channels, int sampleFormat)>;
using TTaskBeforeFindStreamInfoEvent =
    std::function<void(TCustomFFmpeg* task, AVFormatContext* formatContext)>;
using TBitmapHookEvent = std::function<void(TCustomFFmpeg* task, TBitmap* bitmap, int frameNumber,
                                            int64_t pts, bool& update, bool& stopHook)>;
using TTaskFrameHookEvent =
    std::function<void(TCustomFFmpeg* task, const TAVPicture* picture, int pixFmt, int frameNumber,
                       int width, int height, int64_t pts)>;
using TTaskPreviewEvent =
    std::function<void(TCustomFFmpeg* task, TBitmap* bitmap, int frameNumber, int64_t pts)>;
using TTaskProgressEvent =
    std::function<void(TCustomFFmpeg* task, int fileIndex, int frameNumber, int fps, float quality,
                       float bitrate, int64_t totalSize, int64_t currentTime, int64_t totalTime)>;
using TTaskTerminateEvent = std::function<void(TCustomFFmpeg* task)>;

class TCustomFFmpeg {
 public:
  // 1 <= maxFiles <= 512, else std::out_of_range.
  explicit TCustomFFmpeg(int maxFiles);
  // Aborts a run and waits for it, then frees everything. A derived class whose members the
  // run uses must call Abort(true) in its own destructor first.
  virtual ~TCustomFFmpeg();
  TCustomFFmpeg(const TCustomFFmpeg&) = delete;
  TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

  // ---- Running ----

  // Does nothing and returns nullptr once started or ended. A task without outputs or inputs
  // ends at once (its end reported, nullptr returned). Synchronous: converts in the calling
  // thread and returns nullptr. Asynchronous: returns the task thread, still suspended; the
  // caller resumes it.
  TConvertThread* Start(bool async, TThreadPriority priority = tpNormal);
  // The body of a run, on the task thread (or the caller's for a synchronous start).
  void Convert();
  // The run, then its end event.
  void RunToEnd();
  // The end of a task whose thread could not start, on the thread that tried to start it.
  void EndWithoutThread(const std::string& reason);
  // Any thread. The cooperative pause of an asynchronous run.
  void Pause();
  void Resume();
  // Any thread. Asks the run to end; with Wait returns once it has ended (at once when called
  // on the task thread or from inside one of its events raised through SynchronizeEvent).
  void Abort(bool wait);
  // Any thread. Aborts a run, or reports the end of a task never started (from its own
  // short-lived thread, once however often it is called).
  void Stop(bool wait);
  // Any thread. Stop, except that a run which does not reach its end discards its outputs
  // instead of keeping what it wrote: the files they were to replace stay as they were.
  void Cancel(bool wait);
  // Task thread: clears Running, sets Terminated and raises OnTerminate.
  void DoTerminate();
  // Owner's threads: raises one of this task's events on the main thread (RunInMainThread), so
  // that an Abort(true) or Stop(true) inside it knows not to wait for this task.
  void SynchronizeEvent(const std::function<void()>& method);
  // Task thread, between packets and frames: blocks while the run is paused.
  void CheckPaused();

  // Called on the thread whose blocking library call FFmpeg polls (through the interrupt
  // registry): true gives the call up. InterruptCallback guards the opening of files (time-out
  // or Abort without a task thread), BreakCallback the run on the task thread (Abort).
  bool InterruptCallback(void* data);
  bool BreakCallback(void* data);

  // The defaults of every option and a fresh option context set; needs the libraries loaded.
  void ResetOptions();
  // Closes and frees every file, stream and option state.
  void Cleanup();

  // ---- Options and files ----

  // Applies one option of the vocabulary (name without "-").
  void ParseOption(const std::string& name, const std::string& value);
  // Every name of the vocabulary, in the order they are compared.
  static std::vector<std::string> OptionNames();

  // Called on the thread of the owner's operation, which OnBeforeFindStreamInfo also runs on.
  // Opening consumes the options given since the last file, whatever the outcome. False with
  // LastErrMsg; a forced format or decoder that does not exist throws FFmpegException.
  bool OpenInputFile(const std::string& fileName);
  // The new output's index, or -1 with LastErrMsg. The file is created (or emptied) here.
  int OpenOutputFile(const std::string& fileName, bool join);
  // "newvideo", "newaudio", "newsubtitle" or "newdata": one more stream in the last output.
  void NewStream(const std::string& kind);
  // Join mode: repeats the output for every further input.
  void JoinInputs();

  void OptTarget(const std::string& value, const std::string& defaultNorm);
  void OptCodec(const std::string& name, const std::string& value);
  void OptCodecTag(const std::string& name, const std::string& value);
  void OptBitrate(const std::string& name, const std::string& value);
  void OptFrameRate(const std::string& value);
  void OptFrameSize(const std::string& value);
  void OptFrameAspectRatio(const std::string& value);
  void OptVideoFilters(const std::string& value);
  void OptPresetFile(const std::string& fileName);
  void OptStreamID(const std::string& name, const std::string& value);

  void SetStartTime(int64_t value);
  void SetRecordingTime(int64_t value);
  void SetRecordingTimestamp(int64_t seconds);
  void SetProgramID(int value);
  void SetVolume(int value);
  void SetMuxDelay(double value);
  void SetMuxPreload(double value);
  void SetVerbose(int value);
  int Verbose() const { return FSettings.Verbose; }
  void SetMetadata(const std::string& key, const std::string& value);
  void SetHookBitsPixel(int value);

  // Bit 0: the previewer window; bit 1: the preview event. Clearing bit 0 frees the window.
  // The Locked form is the owner's (any thread): it holds the preview lock and asks for the next
  // preview picture to be converted afresh. A worker must not call SetPreviewFlags holding a
  // lock the main thread may wait for: freeing a window waits for the main thread.
  uint8_t PreviewFlags() const { return FPreviewFlags.load(); }
  void SetPreviewFlags(uint8_t flags);
  void SetPreviewFlagsLocked(uint8_t flags);

  int MaxFiles() const { return FMaxFiles; }
  int InputCount() const { return int(FInputFiles.size()); }
  int OutputCount() const { return int(FOutputFiles.size()); }
  AVFormatContext* InputFormatContext(int index) const { return FInputFiles.at(index)->Ctx; }
  AVFormatContext* OutputFormatContext(int index) const { return FOutputFiles.at(index)->Ctx; }
  // The folder an output written under a temporary name is made in (not open for one written
  // directly): where it takes its name, even when the folder was moved meanwhile.
  const TFolder& OutputFolder(int index) const { return FOutputFiles.at(index)->Temp.Folder(); }
  // Asynchronous run: the task thread until the end is reported, else nullptr.
  TConvertThread* ConvertThread() const { return FConvertThread.load(); }

  // ---- State ----

  std::atomic<bool> Running{false};
  std::atomic<bool> Aborting{false};
  std::atomic<bool> Finished{false};
  std::atomic<bool> Terminated{false};
  bool ExceptionRaised = false;
  std::string ExceptionMessage;
  std::string LastErrMsg;  // why the last open failed
  // Option values the generic setter refuses raise instead of being skipped.
  bool RaiseOptionErrors = false;
  std::atomic<int> Timeout{10000};                // ms
  std::atomic<int64_t> IOStartTime{INT64_MAX};    // µs; the largest when no I/O is in progress
  std::atomic<int64_t> TotalTime{-1};             // µs
  std::atomic<int64_t> ProgressInterval{500000};  // µs
  int64_t PreviewInterval = 100000;               // µs

  TTaskAudioHookEvent OnAudioHook;
  TTaskBeforeFindStreamInfoEvent OnBeforeFindStreamInfo;
  TBitmapHookEvent OnVideoInputHook;
  TBitmapHookEvent OnVideoOutputHook;
  TTaskFrameHookEvent OnFrameInputHook;
  TTaskFrameHookEvent OnFrameOutputHook;
  TTaskPreviewEvent OnPreview;
  TTaskProgressEvent OnProgress;
  TTaskTerminateEvent OnTerminate;

 protected:
  using TOptionHandler = void (*)(TCustomFFmpeg& task, const std::string& name,
                                  const std::string& value);
  struct TOptionEntry {
    const char* Name;
    TOptionHandler Handler;
  };
  static const std::vector<TOptionEntry>& OptionTable();

  // The run proper: set-up, main loop and end over the opened files.
  void TranscodeLoop();

  int64_t ParseTimeOption(const std::string& name, const std::string& value, bool isDuration);
  // The "force_key_frames" times of a stream in its encoder's time base (known at set-up).
  void ParseForcedKeyFrames(const std::string& text, TOutputStream& ost,
                            const AVCodecContext& encoder);
  TOutputStream& NewOutputStream(TOutputFile& file, int fileIndex);

  void Log(TLogLevel level, const std::string& text);
  void LogFmt(TLogLevel level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Records an exception of a run step: logged, and kept for the end report.
  void ReportException(const std::string& message);
  void Guarded(const std::function<void()>& step);

  bool Fail(const std::string& text);
  int FailOutput(const std::string& text);
  bool SetGenericOption(const std::string& name, const std::string& value);

  // Opening inputs.
  bool TryOpenInput(const std::string& fileName);
  void EndInputSettings();
  AVFormatContext* AllocInputContext();
  const AVCodec* ForcedDecoder(AVMediaType kind);
  int OpenInputContext(AVFormatContext*& ic, const std::string& fileName,
                       const AVInputFormat* format);
  bool SelectProgram(AVFormatContext* ic);
  bool FindStreamInfo(AVFormatContext* ic);
  int64_t SeekInput(AVFormatContext* ic, const std::string& fileName);
  bool SeekBefore(AVFormatContext* ic, int64_t timestamp);
  void AddInput(std::unique_ptr<TInputFile> file);
  void SetUpInputStream(TInputStream& ist);
  AVCodecContext* NewDecoderContext(const AVStream& st, const AVCodec* forced);
  void LogFrameRateDifference(const AVStream& st);
  void ResetPendingSettings();
  void UpdateTotalTime();

  // Opening outputs.
  int TryOpenOutput(const std::string& fileName, bool join);
  bool IsAnInput(const std::string& fileName) const;
  std::unique_ptr<TOutputFile> AllocOutputFile(const std::string& fileName);
  bool CreateOutputStreams(TOutputFile& file, int fileIndex);
  bool KindWanted(const AVOutputFormat& format, AVMediaType kind) const;
  void SetOutputMetadata(TOutputFile& file);
  bool OpenOutputIO(TOutputFile& file);
  void SetOutputParameters(TOutputFile& file);
  void NewKindStream(TOutputFile& file, int fileIndex, AVMediaType kind);
  void SetUpCommon(TOutputFile& file, TOutputStream& ost, AVMediaType kind);
  void SetPrivateOptions(AVCodecContext& encoder, TDictionary& options);
  void SetUpVideo(TOutputStream& ost);
  void SetUpAudio(TOutputStream& ost);
  static uint16_t* CopyMatrix(const std::vector<uint16_t>& matrix);
  void SetRcOverride(AVCodecContext& encoder);
  const AVCodec* FindCodec(const std::string& name, AVMediaType type, bool encoder);
  static const AVCodec* NonExperimentalCodec(AVCodecID id, bool encoder);
  std::unique_ptr<TOutputFile> MirrorOutput(const TOutputFile& last, int index);
  std::vector<int64_t> ForcedKeyFrameTimes(const std::string& text);

  // Option routines.
  void OptMap(const std::string& value);
  void OptMapMetadata(const std::string& value);
  void OptMapChapters(const std::string& value);
  void OptInputTsScale(const std::string& value);
  void OptMetadata(const std::string& value);
  void OptThreads(const std::string& value);
  void OptPixelFormat(const std::string& value);
  void OptSampleFormat(const std::string& value);
  void OptQScale(const std::string& value);
  void OptPass(const std::string& value);
  void OptMatrix(std::vector<uint16_t>& matrix, const std::string& value);
  void OptVStats(const std::string& value);
  void OptVideoHook(const std::string& value);
  void OptBitstreamFilter(const std::string& name, const std::string& value);
  void OptAudioRate(int value);
  void OptAudioChannels(int value);
  void OptNoOperation(const std::string& name);
  void ApplyPresetLine(const std::string& fileName, const std::string& line);
  int DetectNorm(const std::string& defaultNorm);
  void ApplyTargetPreset(const TTargetPreset& preset, int norm);

  // Codecs opened by the run, closed under the codec lock.
  void CloseOpenEncoders();
  void CloseOpenDecoders();

  // Set-up.
  void AllocRunFrames();
  void FreeRunFrames();
  int GroupSize() const;
  bool IsCandidate(const TInputStream& ist) const;
  bool JoinQualifies(const TInputStream& ist, int fileIndex) const;
  void BuildOutputStreamTable();
  TInputStream* FindInputStream(int fileIndex, int streamIndex) const;
  int InputStreamIndex(const TInputStream* ist) const;
  std::array<int64_t, AVMEDIA_TYPE_NB> FrameThresholds() const;
  void ChooseSource(TOutputStream& ost, size_t tableIndex,
                    const std::array<int64_t, AVMEDIA_TYPE_NB>& thresholds);
  TInputStream* FindSource(const TOutputStream& ost, AVMediaType type, int64_t threshold) const;
  void SetCodecParameters(TOutputStream& ost);
  void SetMirrorParameters(TOutputStream& ost, TInputStream& ist);
  void ConfigureFiltersOrFail(TOutputStream& ost, const TInputStream& ist);
  void SetCopyParameters(TOutputStream& ost, TInputStream& ist);
  void CheckVideoCopy() const;
  uint32_t CopiedCodecTag(const TOutputStream& ost, const AVCodecParameters& in) const;
  void SetVideoParameters(TOutputStream& ost, TInputStream& ist);
  void SetAudioParameters(TOutputStream& ost, TInputStream& ist);
  void OpenPassLogFile(TOutputStream& ost);
  void OpenEncoders();
  void OpenEncoder(TOutputStream& ost);
  TSerialEncodingNeeds SerialEncodingNeeds(const TOutputStream& ost, int threads) const;
  void PlanThreads();
  void StartThreadedEncoding(TOutputStream& ost);
  void OpenDecoders();
  [[noreturn]] void FailSetUp(const std::string& text);
  static void InitInputClock(TInputStream& ist);
  void CopyMetadata();
  AVDictionary** MetadataOf(const TMetadataSpec& spec, bool output) const;
  void CopyChapters();
  void CopyChaptersInto(const TInputFile& input, TOutputFile& output);
  void WriteHeaders();
  void PrintSdp(size_t count);
  void InitBitstreamFilters(TOutputStream& ost);
  void PrintStreamMapping();

  // Main loop and end.
  void MainLoop();
  bool AnyNoPacket() const;
  int ChooseInputFile() const;
  bool ReachedFrameLimit(const TOutputStream& ost) const;
  bool ReadAndOutput(int fileIndex, AVPacket* pkt);
  std::string PacketDumpText(const AVPacket& pkt, const TInputFile& file) const;
  void OutputInputPacket(TInputFile& file, AVPacket* pkt);
  void CorrectDiscontinuity(TInputFile& file, TInputStream& ist, AVPacket* pkt);
  void DropDamagedTimestamps(const TInputStream& ist, AVPacket* pkt);
  bool PastRecordingTime(TInputStream& ist, const AVPacket& pkt);
  bool SwitchGroup();
  static double StreamEndTime(TOutputStream& ost);
  static double NextPictureTime(TOutputStream& ost, double time);
  void FlushInputFile(int fileIndex, bool flushEncoders);
  void EndTranscode(bool flush);
  void RequireMediaWritten() const;
  void MarkOutputsComplete();
  void CloseOutputFiles();
  void PrintReport(bool isLast, int fileIndex);
  static float CodedQuality(const TOutputStream& ost);
  std::string PsnrText(const TOutputStream& ost, bool isLast) const;
  int FramesPerSecond(int frameNumber) const;
  int64_t OutputSize() const;
  void LogMuxingOverhead(int64_t totalSize);

  // Decoding, stream copy and writing.
  static TOutputStream& Root(TOutputStream& ost);
  int OutputPacket(TInputStream& ist, int istIndex, const AVPacket* pkt);
  bool PastStartTime(const TInputStream& ist) const;
  double OutputTime(const TInputStream& ist) const;
  static void AdvanceCopyClock(TInputStream& ist, const AVPacket& pkt);
  void EmulateRate(const TInputStream& ist);
  int Decode(TInputStream& ist, int istIndex, const AVPacket* pkt);
  void WarnMultipleFrames(TInputStream& ist);
  static void SetFrameClock(TInputStream& ist, const AVFrame& frame, int64_t duration);
  static void SetSoundClock(TInputStream& ist, const AVFrame& frame, int64_t duration);
  int64_t VideoFrameDuration(const TInputStream& ist, const AVFrame& frame) const;
  void ProcessDecodedFrame(TInputStream& ist, int istIndex, AVFrame* frame);
  void ProcessAudioFrame(TInputStream& ist, int istIndex, const AVFrame& frame);
  int ToPackedS16(TInputStream& ist, const AVFrame& frame);
  void ClipSoundToCut(TInputStream& ist, int rate, int channels, const uint8_t*& samples,
                      int& size) const;
  int DecodeSubtitle(TInputStream& ist, int istIndex, const AVPacket* pkt);
  void DrainInputStream(TInputStream& ist, int istIndex, bool flushEncoders);
  void FlushEncoder(TOutputStream& ost);
  void CopyToOutputs(TInputStream& ist, int istIndex, const AVPacket& pkt);
  void CopyPacket(TOutputStream& ost, TInputStream& ist, const AVPacket& pkt);
  void WriteFrame(TOutputStream& ost, AVPacket* pkt);
  void FilterAndWrite(TOutputStream& ost, const std::vector<AVBSFContext*>& filters, size_t index,
                      AVPacket* pkt);
  static const char* EncoderName(TOutputStream& ost);
  int EncodeAndWrite(TOutputStream& ost, const AVFrame* frame);
  static void TakeQualityStats(TOutputStream& root, const AVPacket& pkt);

  // Audio and subtitles.
  void DoAudioOut(TOutputStream& ost, TInputStream& ist, const uint8_t* samples, int size, int rate,
                  int channels);
  static SwrContext* NewAudioConverter(const TOutputStream& ost, const AVCodecContext& encoder,
                                       int rate, int channels);
  void SyncAudio(TOutputStream& ost, TInputStream& ist, const AVCodecContext& encoder,
                 const uint8_t*& samples, int& size, int rate, int channels);
  static int64_t HeldSamples(const TOutputStream& ost);
  static int64_t InputBytes(double samples, const AVCodecContext& encoder, int rate, int channels);
  void PutSilenceBefore(const uint8_t*& samples, int& size, int64_t bytes);
  void QueueResamplerRest(TOutputStream& ost);
  void QueueAudio(TOutputStream& ost, const AVCodecContext& encoder, const uint8_t* samples,
                  int count);
  void EncodeQueuedAudio(TOutputStream& ost, const AVCodecContext& encoder);
  void EncodeAudioFrame(TOutputStream& ost, int samples);
  static AVFrame* NewAudioFrame(const AVCodecContext& encoder, int samples);
  void FlushAudioFifo(TOutputStream& ost);
  void DoSubtitleOut(TOutputStream& ost, const TInputStream& ist, AVSubtitle& subtitle);

  // The first supported sample format, the nearest supported rate, the first supported pixel
  // format, each when the encoder lists what it supports and the context's is not among them.
  void ChooseSampleFormat(AVCodecContext& encoder, const AVCodec* codec);
  void ChooseSampleRate(AVCodecContext& encoder, const AVCodec* codec);
  void ChoosePixelFormat(AVCodecContext& encoder, const AVCodec* codec);

  // Video.
  bool NeedsFilterGraph(const TInputStream& ist) const;
  // The stock filters an input stream's pictures pass before any chain: the turns that show them
  // upright, then the recoding into the outputs' colours.
  static std::string StockVideoFilters(const TInputStream& ist, const TVideoGraphInput& input);
  static TVideoGraphInput DecodedGraphInput(const TInputStream& ist);
  int ConfigureVideoFilters(TOutputStream& ost, const TInputStream& ist);
  int BuildVideoGraph(TOutputStream& ost, const TInputStream& ist, const TVideoGraphInput& input,
                      AVRational sampleAspect);
  std::string ChainInputFilters(TOutputStream& ost, const TInputStream& ist,
                                const TVideoGraphInput& input);
  static void SetChainShape(TOutputStream& ost, const TInputStream& ist,
                            const TVideoGraphInput& input);
  void FollowPictures(TOutputStream& ost, TInputStream& ist, const AVFrame& picture,
                      AVRational sampleAspect);
  void FeedVideoOutputs(TInputStream& ist, int istIndex, AVFrame* picture);
  void DrainVideoGraph(TOutputStream& ost, TInputStream& ist);
  void DrainVideoFilters(TInputStream& ist, int istIndex);
  AVFrame* PreProcessVideoFrame(TInputStream& ist, AVFrame* picture);
  const AVFrame* DeinterlaceSource(const AVFrame& picture);
  static AVFrame* HookFrame(AVFrame*& frame, AVPixelFormat format, int width, int height);
  void RunBitmapHook(TFormatConverter& converter, TBitmapHookEvent& hook, AVFrame* picture,
                     int frameNumber, int64_t pts);
  void DoVideoOut(TOutputStream& ost, const TInputStream& ist, AVFrame* picture);
  void ShowHeldPicture(TOutputStream& ost, const TInputStream& ist, double next);
  void ShowHeldPictures(const TInputStream& ist, int istIndex);
  void WritePictures(TOutputStream& ost, AVFrame* picture, int frames);
  void CountDupDrop(int frames);
  AVFrame* ScaleForEncoder(TOutputStream& ost, const AVCodecContext& encoder, AVFrame* picture);
  int WriteVideoFrame(TOutputStream& ost, AVCodecContext& encoder, AVFrame* picture);
  AVFrame* RunOutputHooks(AVFrame* picture, int frameNumber, int64_t pts);
  void PreviewStep(AVFrame* picture, int frameNumber, int64_t pts);
  void DoVideoStats(TOutputStream& ost, int frameSize);

  const int FMaxFiles;
  TTaskSettings FSettings;
  TFileSettings FPending;
  TOptionContexts FOptionContexts;

  std::vector<std::unique_ptr<TInputFile>> FInputFiles;
  std::vector<std::unique_ptr<TInputStream>> FInputStreams;
  std::vector<std::unique_ptr<TOutputFile>> FOutputFiles;
  std::vector<TStreamMap> FStreamMaps;
  std::vector<TMetadataMap> FMetadataMaps;
  std::vector<TChapterMap> FChapterMaps;
  bool FMetadataGlobalAutoCopy = true;
  bool FMetadataStreamsAutoCopy = true;
  bool FMetadataChaptersAutoCopy = true;
  bool FJoinInputs = false;
  int64_t FInputsDuration = -1;  // µs, the longest input after its start position

  std::list<TInputStream*> FOpenDecoders;
  std::list<TOutputStream*> FOpenEncoders;

  // Hooks and preview.
  TFrameHookChain FFrameHooks;
  TFormatConverter FInputConverter;
  TFormatConverter FOutputConverter;
  // The pictures the input-side and output-side hooks work on, reused from frame to frame.
  AVFrame* FInputHookFrame = nullptr;
  AVFrame* FOutputHookFrame = nullptr;
  // A picture of a format the deinterlacer cannot take, converted into one it takes.
  AVFrame* FDeinterlaceFrame = nullptr;
  SwsContext* FDeinterlaceConverter = nullptr;
  std::atomic<uint8_t> FPreviewFlags{0};
  std::unique_ptr<TPreviewer> FPreviewer;  // made on the first preview picture
  std::atomic<bool> FPreviewReconvert{false};
  int64_t FLastPreviewTime = 0;

  // Counters of the run.
  int64_t FLoopStartTime = 0;
  int FFramesDuplicated = 0;
  int FFramesDropped = 0;
  bool FDupDropPending = false;
  int64_t FVideoSize = 0;
  int64_t FAudioSize = 0;
  int64_t FExtraSize = 0;
  FILE* FVStatsFile = nullptr;

  // The run's working state.
  std::vector<TOutputStream*> FOutputStreams;  // every output file's streams, in file order
  int FJoinIndex = 0;                          // join mode: the input being written
  int FInstances = 2;                          // of a video stream encoded in groups
  int FLastFileIndex = 0;                      // the input of the last packet read
  AVFrame* FDecodedFrame = nullptr;
  AVFrame* FEncodeFrame = nullptr;
  AVPacket* FOutPacket = nullptr;
  bool FOutputPictureConverted = false;  // the output bitmap hook converted this frame already
  std::vector<uint8_t> FAudioBuffer;     // decoded samples, packed signed 16-bit
  std::vector<uint8_t> FResampleBuffer;  // samples in the encoder's format
  std::vector<uint8_t> FSilenceBuffer;   // a block with silence put before it

 private:
  friend class TConvertThread;

  std::mutex FStateLock;
  bool FEndPending = false;  // the end will be (or was) reported: a run or a stop is under way
  std::atomic<bool> FDiscardUnfinished{false};  // Cancel: an unfinished run keeps no output
  TManualResetEvent FConvertEvent{true};
  TManualResetEvent FTerminateEvent{true};
  // The end of a task stopped before it ran.
  void ReportStop();

  std::unique_ptr<TConvertThread> FThread;
  std::atomic<TConvertThread*> FConvertThread{nullptr};
  std::thread FTerminateThread;
  std::atomic<std::thread::id> FTerminateThreadID{};
};

// Reads integers and floats as the option parser does ("." whatever the locale); invalid text
// throws std::invalid_argument.
int OptionToInt(const std::string& value);
int64_t OptionToInt64(const std::string& value);
double OptionToFloat(const std::string& value);

// The frames to write for one decoded picture under a video sync method (0 passthrough with
// the picture's time, 1 constant rate, 2 variable rate, -1 automatic by variableFrameRate),
// given the picture's time `sync` and the stream's clock `syncPts` in encoder frames; the clock
// may be reset to the picture's time.
int VideoSyncFrames(int method, bool variableFrameRate, double sync, int64_t& syncPts);

// Scales 16-bit samples by volume / 256, rounded, clipped; 256 leaves them untouched.
void ScaleVolume(int16_t* samples, size_t count, int volume);

// Rebuilds every second line of each plane from the lines around it (an intra-field filter), at
// any size. Pictures whose every component is a whole sample of 8 to 16 bits in the machine's
// byte order: planar YUV of any subsampling with or without alpha, grey, planar and packed RGB,
// packed YUV, semi-planar chroma. dst must not overlap src. 0, or -1 for a picture it cannot take
// (palettes, bit fields, bitstreams, floats, samples placed high in their word): those are
// converted first (DeinterlaceableFormat).
int DeinterlacePicture(uint8_t* const dst[], const int dstLinesize[], const uint8_t* const src[],
                       const int srcLinesize[], AVPixelFormat pixFmt, int width, int height);
// The format DeinterlacePicture takes a picture of `format` in: itself when it takes it, else
// one that keeps its kind (RGB or YUV), its depth and its alpha.
AVPixelFormat DeinterlaceableFormat(AVPixelFormat format);
int DeinterlacePicture(uint8_t* const dst[], const int dstLinesize[], const uint8_t* const src[],
                       const int srcLinesize[], AVPixelFormat pixFmt, int width, int height);
