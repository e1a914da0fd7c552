#include "FFPlayer.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <system_error>
#include <utility>
#include <vector>

#include "AudioSync.h"
#include "FFLoad.h"
#include "FFLog.h"
#include "FFUtils.h"
#include "PacketQueue.h"
#include "PictureLayout.h"
#include "PlayerFilterGraph.h"
#include "SoundView.h"
#include "SubtitleBlend.h"
#include "UnicodeProtocol.h"

namespace {

// The player's own SDL events; each is handled by the play thread's event loop.
constexpr Uint8 evAllocPicture = SDL_USEREVENT;
constexpr Uint8 evRefresh = SDL_USEREVENT + 1;
constexpr Uint8 evQuit = SDL_USEREVENT + 2;
constexpr Uint8 evReopenDisplay = SDL_USEREVENT + 3;

constexpr int AudioDeviceSamples = 1024;
constexpr int SilenceBytes = 1024;
constexpr int64_t MaxQueueBytes = 15 * 1024 * 1024;
constexpr int64_t EnoughAudioBytes = 327680;
constexpr int EnoughPackets = 5;  // of pictures or subtitles
constexpr int SubtitleQueueSize = 4;
// Two pictures wait for their time; a third slot keeps the picture on show, so that the video
// thread never writes into what the display (and CurrentFrame) reads.
constexpr int QueuedPictures = 2;
constexpr int PictureSlots = QueuedPictures + 1;
constexpr int64_t PositionStep = 10000;  // µs between two reported positions
constexpr double NoFramePts = std::numeric_limits<double>::quiet_NaN();
constexpr int ScalerFlags = SWS_BICUBIC;
constexpr Uint32 VideoModeFlags = SDL_HWSURFACE | SDL_ASYNCBLIT | SDL_HWACCEL | SDL_RESIZABLE;

enum TOpenStatus { osPending = 0, osOpened = 1, osFailing = -1, osFailed = -2 };

int64_t NowUS() { return ff::av_gettime_relative(); }
double NowSeconds() { return NowUS() / 1000000.0; }

void SleepMs(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Single pictures: the image demuxer, and the "<codec>_pipe" demuxers that probing picks for
// one picture file today.
bool IsStillImageFormat(const std::string& name) {
  return name == "image2" || name == "image2pipe" || EndsWith(name, "_pipe");
}

bool IsLiveCaptureFormat(const std::string& name) {
  return name == "video4linux2,v4l2" || name == "x11grab";
}

int MediaTypeOptionFlag(AVMediaType type) {
  switch (type) {
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

std::string FilterErrorText(const std::string& chain, int error) {
  return AVErrorText("Cannot set up the video filters \"" + chain + "\"", error);
}

std::string RateText(AVRational rate) {
  char text[96];
  std::snprintf(text, sizeof text, "%2.2f (%d/%d)", rate.den ? av_q2d(rate) : 0.0, rate.num,
                rate.den);
  return text;
}

}  // namespace

const char* AudioDriverName(TAudioDriver driver) {
  switch (driver) {
    case adPulse:
      return "pulse";
    case adALSA:
      return "alsa";
    case adDummy:
      return "dummy";
    case adDisk:
      return "disk";
    case adDefault:
      break;
  }
  return "";
}

const char* VideoDriverName(TVideoDriver driver) {
  switch (driver) {
    case vdX11:
      return "x11";
    case vdDummy:
      return "dummy";
    case vdDefault:
      break;
  }
  return "";
}

// ---- The play state ----

// A picture slot between the video thread and the display.
struct TPicture {
  double Pts = 0;          // s
  double TargetClock = 0;  // when to show it (s, on the frame timer's scale)
  int64_t Pos = -1;
  SDL_Overlay* Overlay = nullptr;  // YV12, made and freed by the play thread
  int Width = 0;                   // even
  int Height = 0;
  AVRational SampleAspectRatio{0, 1};
  bool Allocated = false;
  bool SubtitleBlended = false;  // the play thread's
  // The first picture after a flush is never dropped: it is what a seek shows.
  bool FirstAfterFlush = false;
};

// The planes of an overlay in YUV 4:2:0 order (the overlay keeps Y, V, U).
TAVPicture OverlayPicture(const SDL_Overlay* overlay) {
  return {{overlay->pixels[0], overlay->pixels[2], overlay->pixels[1], nullptr},
          {overlay->pitches[0], overlay->pitches[2], overlay->pitches[1], 0}};
}

struct TVideoSide {
  int StreamIndex = -1;
  AVStream* Stream = nullptr;
  AVCodecContext* Codec = nullptr;
  TPacketQueue Queue;
  std::thread Thread;
  bool Drained = false;  // the end packet went to the decoder
  // The video thread's.
  TPlayerFilterGraph Graph;
  AVPacket* Packet = nullptr;
  bool GraphDeinterlaces = false;
  // After a seek with SeekDisplay: the first picture at or after this time (stream time base)
  // is the first shown; the last one passed over stands in when the stream ends before it.
  int64_t SkipTarget = AV_NOPTS_VALUE;
  AVFrame* Skipped = nullptr;
  // Pictures are decoded but not shown while the skip index runs behind the skip factor,
  // which grows while pictures come late and shrinks while the queue is full.
  std::atomic<double> SkipFactor{1.0};
  double SkipIndex = 0;

  // The picture queue; Size and Allocated change under PictureLock. An overlay's pixels are
  // written and read under its own lock; it is freed only by the play thread, holding the
  // player lock.
  TPicture Pictures[PictureSlots];
  std::mutex OverlayLocks[PictureSlots];
  int Size = 0;
  int ReadIndex = 0;
  int WriteIndex = 0;
  int ShownIndex = -1;
  bool FirstAfterFlush = false;
  std::mutex PictureLock;
  std::condition_variable PictureChanged;

  // Clocks in seconds. The frame timer and the delays change under PictureLock.
  double FrameTimer = 0;
  double LastFramePts = NoFramePts;
  double LastFrameDelay = 0;
  double FrameDuration = 0;
  std::atomic<double> Clock{0};  // pts of the last decoded picture plus its duration
  std::atomic<double> CurrentPts{0};
  std::atomic<double> CurrentPtsDrift{0};
  std::atomic<int64_t> CurrentPos{-1};
};

struct TAudioSide {
  int StreamIndex = -1;
  AVStream* Stream = nullptr;
  AVCodecContext* Codec = nullptr;
  TPacketQueue Queue;
  int64_t DurationUS = -1;
  bool DeviceOpen = false;

  // The device's format: packed signed 16 bits.
  int Channels = 0;
  int SampleRate = 0;
  // Decoded sound converted to the device's format; the callback's alone.
  SwrContext* Resampler = nullptr;
  AVChannelLayout SourceLayout{};
  int SourceFormat = -1;
  int SourceRate = 0;
  AVFrame* Frame = nullptr;
  AVPacket* Packet = nullptr;
  bool Drained = false;
  std::vector<uint8_t> Buffer;
  std::atomic<int> BufferSize{0};
  std::atomic<int> BufferIndex{0};
  std::atomic<double> Clock{0};
  TAudioSync Sync;
};

// A decoded bitmap subtitle, its palette in Y, U, V and alpha.
struct TSubtitlePicture {
  double Pts = 0;  // s
  AVSubtitle Subtitle{};
  double StartTime() const { return Pts + Subtitle.start_display_time / 1000.0; }
  double EndTime() const { return Pts + Subtitle.end_display_time / 1000.0; }
};

struct TSubtitleSide {
  int StreamIndex = -1;
  AVStream* Stream = nullptr;
  AVCodecContext* Codec = nullptr;
  TPacketQueue Queue;
  std::thread Thread;
  // Set when the stream closes: the queued subtitles belong to no stream any more.
  std::atomic<bool> StreamChanged{false};
  // The subtitle queue, under Lock.
  TSubtitlePicture Pictures[SubtitleQueueSize];
  int Size = 0;
  int ReadIndex = 0;
  int WriteIndex = 0;
  std::mutex Lock;
  std::condition_variable Changed;
};

// A clock that runs with the wall clock from the moment it is set, and stands while paused.
class TExternalClock {
 public:
  bool Started() const {
    const std::lock_guard<std::mutex> lock(FLock);
    return FStarted;
  }
  void Start(double value) {
    const std::lock_guard<std::mutex> lock(FLock);
    FValue = value;
    FSetTime = NowUS();
    FStarted = true;
  }
  void Forget() {
    const std::lock_guard<std::mutex> lock(FLock);
    FStarted = false;
  }
  void SetPaused(bool paused) {
    const std::lock_guard<std::mutex> lock(FLock);
    if (paused == FPaused) return;
    const int64_t now = NowUS();
    if (paused) FValue += (now - FSetTime) * 0.000001;
    FSetTime = now;
    FPaused = paused;
  }
  double Value() const {
    const std::lock_guard<std::mutex> lock(FLock);
    return FPaused ? FValue : FValue + (NowUS() - FSetTime) * 0.000001;
  }

 private:
  mutable std::mutex FLock;
  double FValue = 0;
  int64_t FSetTime = 0;
  bool FStarted = false;
  bool FPaused = false;
};

struct TPlayContext {
  TCustomPlayer* Owner = nullptr;
  std::string FileName;
  std::thread ReadThread;
  std::thread RefreshThread;
  AVFormatContext* FormatContext = nullptr;

  std::atomic<bool> AbortRequest{false};
  std::atomic<bool> Paused{false};
  bool LastPaused = false;  // as the read thread last saw it
  int ReadPauseResult = 0;
  TSyncSource SyncSource = ssAudio;
  TPlaybackSettings Settings;
  std::atomic<int> ShowMode{smVideo};
  TExternalClock ExternalClock;
  // The time the last seek went to (µs, with the input's start); none after a byte seek.
  std::atomic<int64_t> LastSeekTarget{AV_NOPTS_VALUE};

  // A pending seek; Seek* under SeekLock.
  std::mutex SeekLock;
  std::atomic<bool> SeekRequest{false};
  int SeekFlags = 0;
  int64_t SeekTarget = 0;
  int64_t SeekRelative = 0;

  std::mutex StatusLock;
  std::condition_variable StatusChanged;
  int OpenStatus = osPending;
  std::atomic<bool> InterruptLogged{false};

  int64_t InputStart = 0;      // µs
  int64_t InputDuration = -1;  // µs
  bool StillImage = false;
  bool LiveCapture = false;

  bool EndOfFile = false;  // the read thread's
  bool EndPacketsQueued = false;
  bool EndOfFileLogged = false;
  bool ReadErrorLogged = false;
  std::atomic<bool> EndOfInput{false};
  std::atomic<bool> EndReported{false};
  std::atomic<bool> InsidePacketRead{false};
  std::atomic<int> StartPausedCount{0};
  std::atomic<bool> PausedAtSeek{false};
  std::atomic<bool> SeekApplied{false};
  std::atomic<bool> FlushSeen{false};
  std::atomic<bool> RefreshPending{false};

  int WindowWidth = 0;
  int WindowHeight = 0;

  TAudioSide Audio;
  TVideoSide Video;
  TSubtitleSide Subtitle;
  // The sound for the waves and the spectrum (filled while they are shown), and their view.
  TSampleRing Samples;
  TSoundView SoundView;

  bool HasAudio() const { return Audio.Stream != nullptr; }
  bool HasVideo() const { return Video.Stream != nullptr; }
  bool HasSubtitle() const { return Subtitle.Stream != nullptr; }
  void SetOpenStatus(int status) {
    {
      const std::lock_guard<std::mutex> lock(StatusLock);
      OpenStatus = status;
    }
    StatusChanged.notify_all();
  }
  int GetOpenStatus() {
    const std::lock_guard<std::mutex> lock(StatusLock);
    return OpenStatus;
  }
  // True when the opening has ended, within the time.
  bool OpenSettled(int milliseconds) {
    std::unique_lock<std::mutex> lock(StatusLock);
    return StatusChanged.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                  [this] { return OpenStatus != osPending; });
  }
};

// The playing core: what runs on the read, video, refresh, play and audio threads.
struct TPlayerCore {
  // Read thread.
  static void ReadThread(TCustomPlayer& player, TPlayContext& context);
  static bool OpenInput(TCustomPlayer& player, TPlayContext& context);
  static void ReadLoop(TCustomPlayer& player, TPlayContext& context);
  static void ApplyPauseChange(TPlayContext& context);
  static void ApplySeek(TCustomPlayer& player, TPlayContext& context);
  static void FlushQueues(TCustomPlayer& player, TPlayContext& context);
  static bool QueuesFull(const TPlayContext& context);
  static void HandleEndOfFile(TCustomPlayer& player, TPlayContext& context);
  static bool HandleReadError(TCustomPlayer& player, TPlayContext& context, int error);
  static bool OpeningInterrupt(void* owner);
  static bool AbortInterrupt(void* owner);
  static void SeekToStartTime(TCustomPlayer& player, TPlayContext& context);
  static void OpenStreams(TCustomPlayer& player, TPlayContext& context);

  // Stream components.
  static AVCodecContext* OpenDecoder(TCustomPlayer& player, TPlayContext& context,
                                     AVStream* stream);
  static void CloseDecoder(AVCodecContext*& codec);
  static bool OpenAudio(TCustomPlayer& player, TPlayContext& context, int streamIndex);
  static bool OpenAudioDevice(TCustomPlayer& player, TPlayContext& context);
  static bool OpenVideo(TCustomPlayer& player, TPlayContext& context, int streamIndex);
  static double FrameDuration(TCustomPlayer& player, TPlayContext& context, int streamIndex);
  static bool FiltersAccepted(TCustomPlayer& player, TPlayContext& context);
  static bool OpenSubtitle(TCustomPlayer& player, TPlayContext& context, int streamIndex);
  static void StopAudioDevice(TCustomPlayer& player, TAudioSide& audio);
  static void CloseAudio(TCustomPlayer& player, TPlayContext& context);
  static void CloseVideo(TPlayContext& context);
  static void CloseSubtitle(TPlayContext& context);
  static void CloseStream(TCustomPlayer& player, std::unique_ptr<TPlayContext> context);

  // Sound (SDL's audio thread).
  static void AudioCallback(void* userdata, Uint8* stream, int len);
  static int AudioDecodeFrame(TCustomPlayer& player, TPlayContext& context, double& pts);
  static void SendAudioPacket(TCustomPlayer& player, TAudioSide& audio);
  static void SkipAudioToSeekTarget(TCustomPlayer& player, TPlayContext& context);
  static void SoundDecoded(TCustomPlayer& player, TPlayContext& context, double pts, int& size);
  static int ConvertAudioFrame(TCustomPlayer& player, TAudioSide& audio);
  static bool PrepareResampler(TCustomPlayer& player, TAudioSide& audio, const AVFrame* frame);
  static void CopyOut(TCustomPlayer& player, Uint8* stream, const uint8_t* source, int size);
  static double AudioClock(const TPlayContext& context);

  // Pictures (video thread).
  static void VideoThread(TCustomPlayer& player, TPlayContext& context);
  static bool SeekWaitsForPicture(TPlayContext& context);
  static bool FilterAndQueue(TCustomPlayer& player, TPlayContext& context, AVFrame* frame,
                             AVFrame* filtered);
  static bool PrepareFilterGraph(TCustomPlayer& player, TPlayContext& context,
                                 const AVFrame* frame);
  static int GetVideoFrame(TCustomPlayer& player, TPlayContext& context, AVFrame* frame);
  static int ReceivePicture(TCustomPlayer& player, TPlayContext& context, AVFrame* frame);
  static int PassSkippedPicture(TCustomPlayer& player, TPlayContext& context, AVFrame* frame);
  static void SeekTargetReached(TCustomPlayer& player, TPlayContext& context);
  static void SendVideoPacket(TCustomPlayer& player, TPlayContext& context, AVPacket* packet);
  static void FlushVideo(TCustomPlayer& player, TPlayContext& context);
  static bool QueuePicture(TCustomPlayer& player, TPlayContext& context, AVFrame* frame,
                           double pts);
  static bool WaitForOverlay(TCustomPlayer& player, TPlayContext& context, TPicture& picture,
                             const AVFrame* frame, std::unique_lock<std::mutex>& lock);
  static void CopyToOverlay(TCustomPlayer& player, TPlayContext& context, int index,
                            const AVFrame* frame, double pts);
  static double TargetTime(TPlayContext& context, double pts);
  static void PictureQueued(TCustomPlayer& player, TPlayContext& context);
  static void AnnounceSeekPicture(TCustomPlayer& player, TPlayContext& context);
  static void PauseAfterStep(TCustomPlayer& player, TPlayContext& context);

  // Subtitles (subtitle thread).
  static void SubtitleThread(TPlayContext& context);
  static void QueueSubtitle(TPlayContext& context, const AVSubtitle& subtitle, double pts);
  static void FreeSubtitles(TSubtitleSide& side, bool all, double pictureTime);

  // Clocks.
  static double VideoClock(const TPlayContext& context);
  static double MasterClock(const TPlayContext& context);
  static bool FollowsMaster(const TPlayContext& context, bool video);
  static void ResumeVideoClocks(TPlayContext& context);

  // Display and refresh (play thread).
  static void RefreshThread(TPlayContext& context);
  static void EventLoop(TCustomPlayer& player);
  static bool HandleEvent(TCustomPlayer& player, TPlayContext& context, const SDL_Event& event);
  static int DisplayOpen(TCustomPlayer& player, TPlayContext& context, bool force);
  static void Display(TCustomPlayer& player, TPlayContext& context, bool again);
  static void PictureDisplay(TCustomPlayer& player, TPlayContext& context, int index);
  static void BlendSubtitle(TPlayContext& context, TPicture& picture);
  static void SoundDisplay(TCustomPlayer& player, TPlayContext& context);
  static void AllocatePicture(TCustomPlayer& player, TPlayContext& context);
  static void Refresh(TCustomPlayer& player, TPlayContext& context, bool timed);
  static void AdvancePicture(TPlayContext& context);
  static void Resize(TCustomPlayer& player, TPlayContext& context, int width, int height);
  static void UpdatePosition(TCustomPlayer& player, TPlayContext& context);
  static void CheckEndPosition(TCustomPlayer& player, TPlayContext& context, int64_t position);
};

// ---- Read thread ----

// Read thread, while the input opens: gives up when the time limit has passed or Stop cancels.
// The state's abort request outlasts the time limit's restarts between the opening's steps.
bool TPlayerCore::OpeningInterrupt(void* owner) {
  auto& context = *static_cast<TPlayContext*>(owner);
  TCustomPlayer& player = *context.Owner;
  const int64_t start = player.FIOStartTime;
  const bool cancelled = start == 0 || context.AbortRequest;
  if (start == INT64_MAX && !cancelled) return false;
  const int timeout = player.Timeout;
  if (!cancelled && (timeout <= 0 || NowUS() - start <= int64_t(timeout) * 1000)) return false;
  if (!context.InterruptLogged.exchange(true))
    FFLogger().Log(&player, llInfo,
                   cancelled ? "connecting/reading canceled" : "connecting/reading timeout");
  return true;
}

// Read thread, once the input is open: gives up when the stream closes.
bool TPlayerCore::AbortInterrupt(void* owner) {
  return static_cast<TPlayContext*>(owner)->AbortRequest;
}

void TPlayerCore::ReadThread(TCustomPlayer& player, TPlayContext& context) {
  const std::thread::id self = std::this_thread::get_id();
  InterruptCB().Add(self, &context, OpeningInterrupt);
  const bool opened = OpenInput(player, context);
  player.FIOStartTime = INT64_MAX;
  InterruptCB().Remove(self, &context, OpeningInterrupt);
  if (opened) {
    InterruptCB().Add(self, &context, AbortInterrupt);
    player.FDecoder.AttachFormatContext(context.FormatContext);
    context.SetOpenStatus(osOpened);
    ReadLoop(player, context);
    while (!context.AbortRequest) SleepMs(100);
    InterruptCB().Remove(self, &context, AbortInterrupt);
  } else {
    context.SetOpenStatus(osFailing);
  }
  if (opened) player.FDecoder.AttachFormatContext(nullptr);
  // The sound device stops first: the video thread and the audio callback read each other's
  // clocks until both have stopped.
  context.Audio.Queue.Abort();
  StopAudioDevice(player, context.Audio);
  CloseSubtitle(context);
  CloseVideo(context);
  CloseAudio(player, context);
  if (context.FormatContext) UnicodeCloseInput(&context.FormatContext);
  if (!opened) context.SetOpenStatus(osFailed);
}

// Read thread. Opens and probes the input and opens the decoders of the streams to play.
bool TPlayerCore::OpenInput(TCustomPlayer& player, TPlayContext& context) {
  AVFormatContext* input = ff::avformat_alloc_context();
  if (!input) {
    player.SetLastError("av_mallocz() failed.", true);
    return false;
  }
  InstallInterruptCallback(input);
  if (player.FOptions) SetContextOptions(*player.FOptions, input, AV_OPT_FLAG_DECODING_PARAM);
  AVDictionary* options = nullptr;
  if (player.FFrameWidth > 0 && player.FFrameHeight > 0)
    ff::av_dict_set(
        &options, "video_size",
        (std::to_string(player.FFrameWidth) + "x" + std::to_string(player.FFrameHeight)).c_str(),
        0);
  player.FIOStartTime = NowUS();
  const int opened = UnicodeOpenInput(&input, context.FileName, nullptr, &options);
  ff::av_dict_free(&options);
  if (opened < 0) {
    player.SetLastError(AVErrorText(context.FileName, opened), true);
    return false;
  }
  context.FormatContext = input;
  if (context.Settings.GenerateMissingPts) input->flags |= AVFMT_FLAG_GENPTS;
  if (player.OnBeforeFindStreamInfo) {
    player.FIOStartTime = INT64_MAX;
    player.DeliverEvent([&player, input] { player.OnBeforeFindStreamInfo(&player, input); });
    if (context.AbortRequest) {
      player.SetLastError(AVErrorText(context.FileName, AVERROR_EXIT), true);
      return false;
    }
  }
  player.FIOStartTime = NowUS();
  if (ff::avformat_find_stream_info(input, nullptr) < 0) {
    player.SetLastError(context.FileName + ": could not find codec parameters", true);
    return false;
  }
  player.FIOStartTime = INT64_MAX;
  if (input->pb) {
    input->pb->eof_reached = 0;
    input->pb->error = 0;
  }
  const std::string formatName = input->iformat->name;
  context.StillImage = IsStillImageFormat(formatName);
  context.LiveCapture = IsLiveCaptureFormat(formatName);
  context.InputStart = input->start_time != AV_NOPTS_VALUE ? input->start_time : 0;
  context.InputDuration = input->duration != AV_NOPTS_VALUE ? input->duration : -1;
  SeekToStartTime(player, context);
  OpenStreams(player, context);
  if (!context.HasAudio() && !context.HasVideo()) {
    player.SetLastError(context.FileName + ": could not open codecs, no stream to play.", true);
    return false;
  }
  // The sound starts once every side is set up: the callback reads the video side's clock.
  if (context.HasAudio()) player.FSDL.SDL_PauseAudio(0);
  return true;
}

// Read thread, while opening: the play begins at the player's start time, when it has one.
void TPlayerCore::SeekToStartTime(TCustomPlayer& player, TPlayContext& context) {
  const int64_t startTime = player.FStartTime;
  if (startTime == AV_NOPTS_VALUE) return;
  AVFormatContext* input = context.FormatContext;
  const int64_t target = startTime + (input->start_time != AV_NOPTS_VALUE ? input->start_time : 0);
  player.FIOStartTime = NowUS();
  if (ff::avformat_seek_file(input, -1, INT64_MIN, target, INT64_MAX, 0) < 0) {
    char text[64];
    std::snprintf(text, sizeof text, "%0.3f", double(target) / 1000000);
    player.SetLastError(context.FileName + ": could not seek to position " + text, false);
  }
  player.FIOStartTime = INT64_MAX;
}

// Read thread, while opening: picks the sides to play and opens their decoders. Subtitles go
// with the sound they belong to, else with the pictures, and only where pictures are shown.
void TPlayerCore::OpenStreams(TCustomPlayer& player, TPlayContext& context) {
  AVFormatContext* input = context.FormatContext;
  for (unsigned n = 0; n < input->nb_streams; ++n) input->streams[n]->discard = AVDISCARD_ALL;
  int videoIndex = -1;
  int audioIndex = -1;
  int subtitleIndex = -1;
  if (!player.DisableVideo)
    videoIndex = ff::av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (!player.DisableAudio)
    audioIndex = ff::av_find_best_stream(input, AVMEDIA_TYPE_AUDIO, -1, videoIndex, nullptr, 0);
  if (!player.DisableVideo)
    subtitleIndex = ff::av_find_best_stream(input, AVMEDIA_TYPE_SUBTITLE, -1,
                                            audioIndex >= 0 ? audioIndex : videoIndex, nullptr, 0);

  context.ShowMode = context.Settings.ShowMode;
  if (audioIndex >= 0) OpenAudio(player, context, audioIndex);
  const bool videoOpen = videoIndex >= 0 && OpenVideo(player, context, videoIndex);
  if (context.ShowMode < smVideo || context.ShowMode > smSpectrum)
    context.ShowMode = videoOpen ? smVideo : smSpectrum;
  if (subtitleIndex >= 0 && videoOpen) OpenSubtitle(player, context, subtitleIndex);
}

void TPlayerCore::ReadLoop(TCustomPlayer& player, TPlayContext& context) {
  AVFormatContext* input = context.FormatContext;
  AVPacket* packet = ff::av_packet_alloc();
  if (!packet) {
    player.SetLastError("av_mallocz() failed.", false);
    return;
  }
  while (!context.AbortRequest) {
    ApplyPauseChange(context);
    if (context.SeekRequest) {
      ApplySeek(player, context);
    }
    if (QueuesFull(context)) {
      SleepMs(10);
      continue;
    }
    if (context.EndOfFile) {
      HandleEndOfFile(player, context);
      continue;
    }
    context.InsidePacketRead = true;
    const int result = ff::av_read_frame(input, packet);
    context.InsidePacketRead = false;
    if (context.AbortRequest) break;
    if (result < 0) {
      if (!HandleReadError(player, context, result)) break;
      SleepMs(100);
      continue;
    }
    if (packet->stream_index == context.Audio.StreamIndex)
      context.Audio.Queue.Put(packet);
    else if (packet->stream_index == context.Video.StreamIndex)
      context.Video.Queue.Put(packet);
    else if (packet->stream_index == context.Subtitle.StreamIndex)
      context.Subtitle.Queue.Put(packet);
    ff::av_packet_unref(packet);
  }
  ff::av_packet_free(&packet);
}

void TPlayerCore::ApplyPauseChange(TPlayContext& context) {
  const bool paused = context.Paused;
  if (paused == context.LastPaused) return;
  context.LastPaused = paused;
  if (paused)
    context.ReadPauseResult = ff::av_read_pause(context.FormatContext);
  else
    ff::av_read_play(context.FormatContext);
}

// Read thread. A bounded seek first; formats that cannot take one seek to the frame, in the
// asked direction and then in the other.
void TPlayerCore::ApplySeek(TCustomPlayer& player, TPlayContext& context) {
  int64_t target, relative;
  int flags;
  {
    const std::lock_guard<std::mutex> lock(context.SeekLock);
    target = context.SeekTarget;
    relative = context.SeekRelative;
    flags = context.SeekFlags;
  }
  context.LastSeekTarget = flags & AVSEEK_FLAG_BYTE ? AV_NOPTS_VALUE : target;
  const int64_t minimum = relative > 0 ? target - relative + 2 : INT64_MIN;
  const int64_t maximum = relative < 0 ? target - relative - 2 : INT64_MAX;
  AVFormatContext* input = context.FormatContext;
  // The pictures still queued from before are dropped from here on; set before the flush
  // marker goes out, so that the first picture after it ends the dropping.
  context.SeekApplied = true;
  int result = ff::avformat_seek_file(input, -1, minimum, target, maximum, flags);
  if (result < 0) result = ff::av_seek_frame(input, -1, target, flags);
  if (result < 0) result = ff::av_seek_frame(input, -1, target, flags ^ AVSEEK_FLAG_BACKWARD);
  if (result < 0) {
    player.SetLastError(context.FileName + ": error while seeking", false);
    if (context.HasVideo()) AnnounceSeekPicture(player, context);
  } else {
    FlushQueues(player, context);
    context.ExternalClock.Forget();
  }
  context.EndOfFileLogged = context.ReadErrorLogged = false;
  context.EndOfInput = false;
  context.EndReported = false;
  context.EndOfFile = false;
  context.EndPacketsQueued = false;
  context.SeekRequest = false;
  player.FSeekDone.Set();
  if (!context.HasVideo()) player.FSeeking = false;
}

void TPlayerCore::FlushQueues(TCustomPlayer& player, TPlayContext& context) {
  if (context.HasAudio()) {
    context.Audio.Queue.Flush();
    context.Audio.Queue.PutFlush();
  }
  if (context.HasVideo()) {
    context.Video.Queue.Flush();
    context.FlushSeen = false;
    player.FSeekDisplayed.Reset();
    context.Video.Queue.PutFlush();
  }
  if (context.HasSubtitle()) {
    context.Subtitle.Queue.Flush();
    context.Subtitle.Queue.PutFlush();
  }
}

bool TPlayerCore::QueuesFull(const TPlayContext& context) {
  const int64_t audioBytes = context.Audio.Queue.ByteSize();
  const int64_t videoBytes = context.Video.Queue.ByteSize();
  const int64_t subtitleBytes = context.Subtitle.Queue.ByteSize();
  if (audioBytes + videoBytes + subtitleBytes > MaxQueueBytes) return true;
  return (audioBytes > EnoughAudioBytes || !context.HasAudio()) &&
         (context.Video.Queue.PacketCount() > EnoughPackets || !context.HasVideo()) &&
         (context.Subtitle.Queue.PacketCount() > EnoughPackets || !context.HasSubtitle());
}

// Read thread, at the end of the input: the decoders get one end packet each, so that they
// give out the pictures and sound they still hold; the input has ended for the player once
// the queues are empty.
void TPlayerCore::HandleEndOfFile(TCustomPlayer& player, TPlayContext& context) {
  if (!context.EndPacketsQueued) {
    AVPacket* empty = ff::av_packet_alloc();
    if (empty) {
      if (context.HasVideo()) {
        empty->stream_index = context.Video.StreamIndex;
        context.Video.Queue.Put(empty);
      }
      if (context.HasAudio()) {
        empty->stream_index = context.Audio.StreamIndex;
        context.Audio.Queue.Put(empty);
      }
      ff::av_packet_free(&empty);
      context.EndPacketsQueued = true;
    }
  }
  if (context.HasVideo()) AnnounceSeekPicture(player, context);
  SleepMs(10);
  if (context.Audio.Queue.ByteSize() == 0 && context.Video.Queue.ByteSize() == 0 &&
      context.Subtitle.Queue.ByteSize() == 0)
    context.EndOfInput = true;
  context.EndOfFile = false;
}

// Read thread. False when reading must stop.
bool TPlayerCore::HandleReadError(TCustomPlayer& player, TPlayContext& context, int error) {
  AVIOContext* pb = context.FormatContext->pb;
  if (context.HasVideo()) AnnounceSeekPicture(player, context);
  const auto endOfFile = [&] {
    context.EndOfFile = true;
    if (!context.StillImage && !context.EndOfFileLogged) {
      context.EndOfFileLogged = true;
      FFLogger().Log(&player, llInfo, "reach end of file: " + context.FileName);
    }
  };
  if (error == AVERROR(EAGAIN)) {
    if (pb) pb->eof_reached = pb->error = 0;
  } else if (error == AVERROR_EOF) {
    endOfFile();
  } else if (pb && pb->eof_reached) {
    if (context.Settings.EndFlagIsEnd)
      endOfFile();
    else
      pb->eof_reached = pb->error = 0;
  } else if (!context.StillImage && !context.ReadErrorLogged) {
    context.ReadErrorLogged = true;
    player.SetLastError(
        "error #" + std::to_string(error) + " while reading file: " + context.FileName, false);
  }
  if (pb && pb->error && error != AVERROR(EAGAIN) && error != AVERROR_EOF) {
    if (context.Settings.StopOnIOError) return false;
    pb->eof_reached = pb->error = 0;
  }
  return true;
}

// ---- Stream components ----

AVCodecContext* TPlayerCore::OpenDecoder(TCustomPlayer& player, TPlayContext& context,
                                         AVStream* stream) {
  const AVCodec* decoder = ff::avcodec_find_decoder(stream->codecpar->codec_id);
  if (!decoder) {
    player.SetLastError("Cannot find decoder.", false);
    return nullptr;
  }
  AVCodecContext* codec = ff::avcodec_alloc_context3(decoder);
  if (!codec || ff::avcodec_parameters_to_context(codec, stream->codecpar) < 0) {
    ff::avcodec_free_context(&codec);
    player.SetLastError("avcodec_open() failed.", false);
    return nullptr;
  }
  codec->pkt_timebase = stream->time_base;
  const TPlaybackSettings& settings = context.Settings;
  codec->thread_count = settings.ThreadCount;
  codec->workaround_bugs = settings.WorkaroundBugs;
  codec->lowres = std::min(settings.LowResolution, int(decoder->max_lowres));
  codec->idct_algo = settings.IDCT;
  codec->skip_frame = settings.SkipFrame;
  codec->skip_idct = settings.SkipIDCT;
  codec->skip_loop_filter = settings.SkipLoopFilter;
  codec->err_recognition = settings.ErrorRecognition;
  codec->error_concealment = settings.ErrorConcealment;
  if (settings.Fast) codec->flags2 |= AV_CODEC_FLAG2_FAST;
  if (player.FOptions)
    SetContextOptions(*player.FOptions, codec,
                      AV_OPT_FLAG_DECODING_PARAM | MediaTypeOptionFlag(codec->codec_type));
  int result;
  {
    const TCodecLock lock;
    result = ff::avcodec_open2(codec, decoder, nullptr);
  }
  if (result < 0) {
    ff::avcodec_free_context(&codec);
    player.SetLastError("avcodec_open() failed.", false);
    return nullptr;
  }
  stream->discard = AVDISCARD_DEFAULT;
  return codec;
}

void TPlayerCore::CloseDecoder(AVCodecContext*& codec) {
  if (!codec) return;
  const TCodecLock lock;
  ff::avcodec_free_context(&codec);
}

// Read thread.
bool TPlayerCore::OpenAudio(TCustomPlayer& player, TPlayContext& context, int streamIndex) {
  TAudioSide& audio = context.Audio;
  AVStream* stream = context.FormatContext->streams[streamIndex];
  audio.Codec = OpenDecoder(player, context, stream);
  if (!audio.Codec) return false;
  audio.Frame = ff::av_frame_alloc();
  audio.Packet = ff::av_packet_alloc();
  if (!audio.Frame || !audio.Packet) {
    player.SetLastError("av_mallocz() failed.", false);
    CloseAudio(player, context);
    return false;
  }
  if (audio.Codec->sample_rate <= 0 || audio.Codec->ch_layout.nb_channels <= 0) {
    player.SetLastError("Invalid sample rate or channel count.", false);
    CloseAudio(player, context);
    return false;
  }
  audio.StreamIndex = streamIndex;
  audio.Stream = stream;
  if (!OpenAudioDevice(player, context)) {
    CloseAudio(player, context);
    return false;
  }
  audio.DurationUS = stream->duration != AV_NOPTS_VALUE
                         ? ff::av_rescale_q(stream->duration, stream->time_base, AV_TIME_BASE_Q)
                         : -1;
  audio.Sync.Reset(audio.SampleRate);
  audio.Queue.PutFlush();
  return true;
}

// Read thread. The device plays packed signed 16-bit sound at the stream's rate, in at most
// two channels; what the device grants is what the resampler makes.
bool TPlayerCore::OpenAudioDevice(TCustomPlayer& player, TPlayContext& context) {
  TAudioSide& audio = context.Audio;
  SDL_AudioSpec wanted{};
  wanted.freq = audio.Codec->sample_rate;
  wanted.format = AUDIO_S16SYS;
  wanted.channels = Uint8(std::min(audio.Codec->ch_layout.nb_channels, 2));
  wanted.samples = AudioDeviceSamples;
  wanted.callback = AudioCallback;
  wanted.userdata = &context;
  SDL_AudioSpec granted{};
  if (player.FSDL.SDL_OpenAudio(&wanted, &granted) < 0) {
    player.SetLastError(std::string("SDL_OpenAudio() failed: ") + player.FSDL.SDL_GetError(),
                        false);
    return false;
  }
  audio.DeviceOpen = true;
  if (granted.format != AUDIO_S16SYS || granted.channels < 1 || granted.channels > 2 ||
      granted.freq <= 0) {
    player.SetLastError("SDL_OpenAudio() failed: the device refuses signed 16-bit sound", false);
    return false;
  }
  audio.Channels = granted.channels;
  audio.SampleRate = granted.freq;
  return true;
}

// Read thread (at its end) or the thread that closes the stream.
void TPlayerCore::StopAudioDevice(TCustomPlayer& player, TAudioSide& audio) {
  if (!audio.DeviceOpen) return;
  player.FSDL.SDL_CloseAudio();
  audio.DeviceOpen = false;
}

void TPlayerCore::CloseAudio(TCustomPlayer& player, TPlayContext& context) {
  TAudioSide& audio = context.Audio;
  audio.Queue.Abort();
  StopAudioDevice(player, audio);
  audio.Queue.Flush();
  ff::swr_free(&audio.Resampler);
  ff::av_channel_layout_uninit(&audio.SourceLayout);
  ff::av_frame_free(&audio.Frame);
  ff::av_packet_free(&audio.Packet);
  CloseDecoder(audio.Codec);
  audio.Stream = nullptr;
  audio.StreamIndex = -1;
  audio.DurationUS = -1;
}

// Read thread.
bool TPlayerCore::OpenVideo(TCustomPlayer& player, TPlayContext& context, int streamIndex) {
  TVideoSide& video = context.Video;
  AVStream* stream = context.FormatContext->streams[streamIndex];
  video.Codec = OpenDecoder(player, context, stream);
  if (!video.Codec) return false;
  if (!FiltersAccepted(player, context)) {
    CloseDecoder(video.Codec);
    return false;
  }
  video.FrameDuration = FrameDuration(player, context, streamIndex);
  video.StreamIndex = streamIndex;
  video.Stream = stream;
  video.Queue.PutFlush();
  try {
    video.Thread = std::thread(VideoThread, std::ref(player), std::ref(context));
  } catch (const std::system_error&) {
    player.SetLastError("SDL_CreateThread() failed.", false);
    CloseVideo(context);
    return false;
  }
  return true;
}

// Read thread. A filter chain that cannot be set up for the stream's pictures leaves the
// pictures out, rather than a play whose pictures never come.
bool TPlayerCore::FiltersAccepted(TCustomPlayer& player, TPlayContext& context) {
  const AVCodecContext* codec = context.Video.Codec;
  const std::string& chain = context.Settings.VideoFilters;
  if (chain.empty() || codec->width < 1 || codec->height < 1 || codec->pix_fmt == AV_PIX_FMT_NONE)
    return true;
  TVideoFilterInput input;
  input.Width = codec->width;
  input.Height = codec->height;
  input.Format = codec->pix_fmt;
  input.SampleAspectRatio = codec->sample_aspect_ratio;
  TPlayerFilterGraph trial;
  const int result = trial.Configure(input, chain, false, ScalerFlags);
  if (result < 0) player.SetLastError(FilterErrorText(chain, result), false);
  return result >= 0;
}

// Read thread. Seconds per picture: the forced rate, else the container's when the codec
// says otherwise (and the container is trusted), else the codec's; 0 when nobody knows.
double TPlayerCore::FrameDuration(TCustomPlayer& player, TPlayContext& context, int streamIndex) {
  const AVStream* stream = context.FormatContext->streams[streamIndex];
  const AVCodecContext* codec = context.Video.Codec;
  const AVRational codecRate = codec->framerate;
  const auto log = [&](const std::string& text, AVRational from, AVRational to) {
    FFLogger().Log(&player, llInfo, text + RateText(from) + " -> " + RateText(to));
  };
  const std::string& forced = context.Settings.ForcedFrameRate;
  AVRational rate{0, 1};
  if (!forced.empty() && ff::av_parse_video_rate(&rate, forced.c_str()) >= 0 && rate.num > 0 &&
      rate.den > 0) {
    log("Force stream " + std::to_string(streamIndex) + " frame rate: ", codecRate, rate);
    return av_q2d(av_inv_q(rate));
  }
  const AVRational containerRate = stream->r_frame_rate;
  const bool codecKnown = codecRate.num > 0 && codecRate.den > 0;
  const bool containerKnown = containerRate.num > 0 && containerRate.den > 0;
  if (context.Settings.UseContainerFrameRate && containerKnown &&
      (!codecKnown || av_cmp_q(codecRate, containerRate) != 0)) {
    if (codecKnown)
      log("Seems stream " + std::to_string(streamIndex) +
              " codec frame rate differs from container frame rate: ",
          codecRate, containerRate);
    return av_q2d(av_inv_q(containerRate));
  }
  return codecKnown ? av_q2d(av_inv_q(codecRate)) : 0;
}

// Read thread.
bool TPlayerCore::OpenSubtitle(TCustomPlayer& player, TPlayContext& context, int streamIndex) {
  TSubtitleSide& subtitle = context.Subtitle;
  AVStream* stream = context.FormatContext->streams[streamIndex];
  subtitle.Codec = OpenDecoder(player, context, stream);
  if (!subtitle.Codec) return false;
  subtitle.StreamIndex = streamIndex;
  subtitle.Stream = stream;
  subtitle.Queue.PutFlush();
  try {
    subtitle.Thread = std::thread(SubtitleThread, std::ref(context));
  } catch (const std::system_error&) {
    player.SetLastError("SDL_CreateThread() failed.", false);
    CloseSubtitle(context);
    return false;
  }
  return true;
}

// Read thread (at its end).
void TPlayerCore::CloseSubtitle(TPlayContext& context) {
  TSubtitleSide& subtitle = context.Subtitle;
  subtitle.Queue.Abort();
  {
    const std::lock_guard<std::mutex> lock(subtitle.Lock);
    subtitle.StreamChanged = true;
    subtitle.Changed.notify_all();
  }
  if (subtitle.Thread.joinable()) subtitle.Thread.join();
  subtitle.Queue.Flush();
  CloseDecoder(subtitle.Codec);
  subtitle.Stream = nullptr;
  subtitle.StreamIndex = -1;
}

// Read thread (at its end).
void TPlayerCore::CloseVideo(TPlayContext& context) {
  TVideoSide& video = context.Video;
  video.Queue.Abort();
  {
    const std::lock_guard<std::mutex> lock(video.PictureLock);
    video.PictureChanged.notify_all();
  }
  if (video.Thread.joinable()) video.Thread.join();
  video.Queue.Flush();
  video.Graph.Free();
  ff::av_packet_free(&video.Packet);
  ff::av_frame_free(&video.Skipped);
  CloseDecoder(video.Codec);
  video.Stream = nullptr;
  video.StreamIndex = -1;
}

// The thread that takes the state out of the player: ends the state's threads and frees it.
void TPlayerCore::CloseStream(TCustomPlayer& player, std::unique_ptr<TPlayContext> context) {
  if (!context) return;
  context->AbortRequest = true;
  context->Audio.Queue.Abort();
  context->Video.Queue.Abort();
  {
    const std::lock_guard<std::mutex> lock(context->Video.PictureLock);
    context->Video.PictureChanged.notify_all();
  }
  WaitServingMainThread(
      [&context](int milliseconds) { return context->OpenSettled(milliseconds); });
  if (context->ReadThread.joinable()) context->ReadThread.join();
  if (context->RefreshThread.joinable()) context->RefreshThread.join();
  for (TPicture& picture : context->Video.Pictures)
    if (picture.Overlay) player.FSDL.SDL_FreeYUVOverlay(picture.Overlay);
  FreeSubtitles(context->Subtitle, true, 0);
}

// ---- Sound ----

// SDL's audio thread: fills the device's buffer.
void TPlayerCore::AudioCallback(void* userdata, Uint8* stream, int len) {
  auto& context = *static_cast<TPlayContext*>(userdata);
  TCustomPlayer& player = *context.Owner;
  TAudioSide& audio = context.Audio;
  player.FLastAudioCallbackTime = NowUS();
  while (len > 0) {
    if (audio.BufferIndex >= audio.BufferSize) {
      double pts = 0;
      int size = AudioDecodeFrame(player, context, pts);
      if (audio.Queue.Aborted()) {
        std::memset(stream, 0, size_t(len));
        return;
      }
      if (size < 0) {
        if (int(audio.Buffer.size()) < SilenceBytes) audio.Buffer.resize(SilenceBytes);
        std::memset(audio.Buffer.data(), 0, SilenceBytes);
        size = SilenceBytes;
      } else {
        SoundDecoded(player, context, pts, size);
      }
      audio.BufferSize = size;
      audio.BufferIndex = 0;
    }
    const int n = std::min(audio.BufferSize - audio.BufferIndex, len);
    CopyOut(player, stream, audio.Buffer.data() + audio.BufferIndex, n);
    len -= n;
    stream += n;
    audio.BufferIndex += n;
  }
}

// SDL's audio thread, with a decoded buffer: the hook and the sound view see it as decoded,
// then it is stretched or shortened when the sound follows another clock.
void TPlayerCore::SoundDecoded(TCustomPlayer& player, TPlayContext& context, double pts,
                               int& size) {
  TAudioSide& audio = context.Audio;
  if (player.AudioHook && player.OnAudioHook)
    player.OnAudioHook(&player, std::llround(pts * 1000000) - context.InputStart,
                       audio.Buffer.data(), size, audio.SampleRate, audio.Channels);
  if (context.ShowMode != smVideo)
    context.Samples.Add(reinterpret_cast<const int16_t*>(audio.Buffer.data()), size / 2);
  if (context.SyncSource == ssExternal && !context.ExternalClock.Started())
    context.ExternalClock.Start(pts);
  if (FollowsMaster(context, false))
    size = audio.Sync.Adjust(AudioClock(context) - MasterClock(context), audio.Buffer.data(), size,
                             int(audio.Buffer.size()), audio.Channels);
}

void TPlayerCore::CopyOut(TCustomPlayer& player, Uint8* stream, const uint8_t* source, int size) {
  const int volume = player.FAudioVolume;
  if (player.FMute || volume == 0) {
    std::memset(stream, 0, size_t(size));
  } else if (volume >= SDL_MIX_MAXVOLUME) {
    std::memcpy(stream, source, size_t(size));
  } else {
    std::memset(stream, 0, size_t(size));
    player.FSDL.SDL_MixAudio(stream, source, Uint32(size), volume);
  }
}

// SDL's audio thread. The size of the next converted buffer, or -1 while paused or at the end.
int TPlayerCore::AudioDecodeFrame(TCustomPlayer& player, TPlayContext& context, double& pts) {
  TAudioSide& audio = context.Audio;
  for (;;) {
    if (context.Paused || audio.Queue.Aborted()) return -1;
    const int received = ff::avcodec_receive_frame(audio.Codec, audio.Frame);
    if (received >= 0) {
      if (audio.Frame->pts != AV_NOPTS_VALUE)
        audio.Clock = double(audio.Frame->pts) * av_q2d(audio.Stream->time_base);
      const int size = ConvertAudioFrame(player, audio);
      ff::av_frame_unref(audio.Frame);
      if (size <= 0) continue;
      pts = audio.Clock;
      audio.Clock = audio.Clock + double(size) / (2.0 * audio.Channels * audio.SampleRate);
      return size;
    }
    if (received != AVERROR(EAGAIN) && received != AVERROR_EOF)
      FFLogger().Log(&player, llInfo, "avcodec_decode_audio3() failed");
    const TPacketQueue::TResult got = audio.Queue.Get(audio.Packet, true);
    if (got == TPacketQueue::grAborted) return -1;
    if (got == TPacketQueue::grFlush) {
      ff::avcodec_flush_buffers(audio.Codec);
      audio.Drained = false;
      SkipAudioToSeekTarget(player, context);
      continue;
    }
    SendAudioPacket(player, audio);
  }
}

// SDL's audio thread. The packet goes to the decoder (the empty end packet drains it, once).
void TPlayerCore::SendAudioPacket(TCustomPlayer& player, TAudioSide& audio) {
  const bool endPacket = audio.Packet->size == 0 && !audio.Packet->data;
  if (!endPacket || !audio.Drained) {
    if (endPacket) audio.Drained = true;
    if (ff::avcodec_send_packet(audio.Codec, endPacket ? nullptr : audio.Packet) < 0)
      FFLogger().Log(&player, llInfo, "avcodec_decode_audio3() failed");
  }
  ff::av_packet_unref(audio.Packet);
}

// SDL's audio thread, after a seek with SeekDisplay: the sound already read that ends before
// the target is dropped, so that the sound starts where the first picture does.
void TPlayerCore::SkipAudioToSeekTarget(TCustomPlayer& player, TPlayContext& context) {
  TAudioSide& audio = context.Audio;
  while (player.FSeekDisplay) {
    const int64_t target = context.LastSeekTarget;
    if (target == AV_NOPTS_VALUE) return;
    const int64_t streamTarget = ff::av_rescale_q(target, AV_TIME_BASE_Q, audio.Stream->time_base);
    const TPacketQueue::TResult got = audio.Queue.Get(audio.Packet, false);
    if (got == TPacketQueue::grFlush) {
      ff::avcodec_flush_buffers(audio.Codec);
      audio.Drained = false;
      continue;
    }
    if (got != TPacketQueue::grPacket) return;
    const AVPacket* packet = audio.Packet;
    if (packet->pts != AV_NOPTS_VALUE &&
        packet->pts + std::max<int64_t>(packet->duration, 0) <= streamTarget) {
      ff::av_packet_unref(audio.Packet);
      continue;
    }
    SendAudioPacket(player, audio);
    return;
  }
}

// SDL's audio thread. Converts the decoded frame into Buffer; its size in bytes, or -1.
int TPlayerCore::ConvertAudioFrame(TCustomPlayer& player, TAudioSide& audio) {
  const AVFrame* frame = audio.Frame;
  if (!PrepareResampler(player, audio, frame)) return -1;
  const int frameBytes = 2 * audio.Channels;
  const int outSamples = ff::swr_get_out_samples(audio.Resampler, frame->nb_samples);
  if (outSamples < 0) return -1;
  // Room for the synchroniser to stretch the buffer by a tenth.
  const size_t needed = size_t(outSamples) * size_t(frameBytes) * 11 / 10 + size_t(frameBytes);
  if (audio.Buffer.size() < needed) audio.Buffer.resize(needed);
  uint8_t* out = audio.Buffer.data();
  const int converted =
      ff::swr_convert(audio.Resampler, &out, outSamples,
                      const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
  if (converted < 0) {
    player.SetLastError("av_audio_convert() failed", false);
    return -1;
  }
  return converted * frameBytes;
}

// SDL's audio thread. (Re)makes the resampler when the decoded sound's format changes.
bool TPlayerCore::PrepareResampler(TCustomPlayer& player, TAudioSide& audio, const AVFrame* frame) {
  AVChannelLayout source{};
  if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
    ff::av_channel_layout_default(&source, frame->ch_layout.nb_channels);
  else
    ff::av_channel_layout_copy(&source, &frame->ch_layout);
  const bool same = audio.Resampler && frame->format == audio.SourceFormat &&
                    frame->sample_rate == audio.SourceRate &&
                    ff::av_channel_layout_compare(&source, &audio.SourceLayout) == 0;
  if (same) {
    ff::av_channel_layout_uninit(&source);
    return true;
  }
  ff::swr_free(&audio.Resampler);
  ff::av_channel_layout_uninit(&audio.SourceLayout);
  audio.SourceLayout = source;
  audio.SourceFormat = frame->format;
  audio.SourceRate = frame->sample_rate;
  AVChannelLayout target{};
  ff::av_channel_layout_default(&target, audio.Channels);
  const int made = ff::swr_alloc_set_opts2(&audio.Resampler, &target, AV_SAMPLE_FMT_S16,
                                           audio.SampleRate, &source, AVSampleFormat(frame->format),
                                           frame->sample_rate, 0, nullptr);
  ff::av_channel_layout_uninit(&target);
  if (made < 0 || ff::swr_init(audio.Resampler) < 0) {
    ff::swr_free(&audio.Resampler);
    const char* name = ff::av_get_sample_fmt_name(AVSampleFormat(frame->format));
    player.SetLastError(std::string("Cannot convert ") + (name ? name : "?") +
                            " sample format to s16 sample format",
                        false);
    return false;
  }
  return true;
}

// Any thread. The sound's clock, less what is decoded but not yet handed to the device.
double TPlayerCore::AudioClock(const TPlayContext& context) {
  const TAudioSide& audio = context.Audio;
  const double bytesPerSecond = 2.0 * audio.Channels * audio.SampleRate;
  const double pending = audio.BufferSize - audio.BufferIndex;
  return bytesPerSecond > 0 ? audio.Clock - pending / bytesPerSecond : double(audio.Clock);
}

// ---- Pictures ----

// Video thread: decodes pictures, passes them through the filter graph and queues them for
// display.
void TPlayerCore::VideoThread(TCustomPlayer& player, TPlayContext& context) {
  TVideoSide& video = context.Video;
  AVFrame* frame = ff::av_frame_alloc();
  AVFrame* filtered = ff::av_frame_alloc();
  video.Packet = ff::av_packet_alloc();
  video.Skipped = ff::av_frame_alloc();
  if (frame && filtered && video.Packet && video.Skipped) {
    for (;;) {
      while (context.Paused && !context.AbortRequest && !context.StartPausedCount &&
             !SeekWaitsForPicture(context))
        SleepMs(10);
      const int got = GetVideoFrame(player, context, frame);
      if (got < 0) break;
      if (got == 0) continue;
      if (!FilterAndQueue(player, context, frame, filtered)) break;
    }
  }
  ff::av_frame_free(&frame);
  ff::av_frame_free(&filtered);
  video.Graph.Free();
}

// Video thread. While paused, a seek still needs its picture from the time it is asked until
// the first picture after its flush marker is queued; a seek asked meanwhile, or one whose
// marker the queue still holds, keeps the decoding going too.
bool TPlayerCore::SeekWaitsForPicture(TPlayContext& context) {
  TVideoSide& video = context.Video;
  if (context.SeekRequest || video.Queue.FlushPending()) return true;
  const std::lock_guard<std::mutex> lock(video.PictureLock);
  return video.FirstAfterFlush;
}

// Video thread. False when the stream closes or the filters fail.
bool TPlayerCore::FilterAndQueue(TCustomPlayer& player, TPlayContext& context, AVFrame* frame,
                                 AVFrame* filtered) {
  TVideoSide& video = context.Video;
  if (!PrepareFilterGraph(player, context, frame)) return false;
  int result = video.Graph.Send(frame);
  ff::av_frame_unref(frame);
  if (result < 0) {
    player.SetLastError(AVErrorText("video filters", result), false);
    return false;
  }
  const AVRational streamTimeBase = video.Stream->time_base;
  for (;;) {
    result = video.Graph.Receive(filtered);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return true;
    if (result < 0) {
      player.SetLastError(AVErrorText("video filters", result), false);
      return false;
    }
    if (context.SeekApplied && context.FlushSeen) {
      context.SeekApplied = false;
      context.PausedAtSeek = false;
    }
    int64_t timestamp = filtered->pts;
    const AVRational sinkTimeBase = video.Graph.OutputTimeBase();
    if (timestamp != AV_NOPTS_VALUE && av_cmp_q(sinkTimeBase, streamTimeBase) != 0) {
      const int64_t rescaled = ff::av_rescale_q(timestamp, sinkTimeBase, streamTimeBase);
      char text[160];
      std::snprintf(text, sizeof text, "video_thread(): tb:%d/%d pts:%lld -> tb:%d/%d pts:%lld",
                    sinkTimeBase.num, sinkTimeBase.den, static_cast<long long>(timestamp),
                    streamTimeBase.num, streamTimeBase.den, static_cast<long long>(rescaled));
      FFLogger().Log(&player, llDebug, text);
      timestamp = rescaled;
    }
    const double pts = timestamp == AV_NOPTS_VALUE ? 0 : double(timestamp) * av_q2d(streamTimeBase);
    const bool queued = QueuePicture(player, context, filtered, pts);
    ff::av_frame_unref(filtered);
    if (!queued) return false;
    PictureQueued(player, context);
  }
}

// Video thread. The graph is made again when the decoder's pictures change size or format, or
// deinterlacing is switched; a deinterlacer that cannot be set up is switched off.
bool TPlayerCore::PrepareFilterGraph(TCustomPlayer& player, TPlayContext& context,
                                     const AVFrame* frame) {
  TVideoSide& video = context.Video;
  const bool deinterlace = player.Deinterlace;
  if (video.Graph.Accepts(frame) && deinterlace == video.GraphDeinterlaces) return true;
  TVideoFilterInput input;
  input.Width = frame->width;
  input.Height = frame->height;
  input.Format = AVPixelFormat(frame->format);
  input.TimeBase = video.Stream->time_base;
  input.SampleAspectRatio = frame->sample_aspect_ratio;
  const std::string& chain = context.Settings.VideoFilters;
  int result = video.Graph.Configure(input, chain, deinterlace, ScalerFlags);
  if (result < 0 && deinterlace) {
    player.SetLastError("deinterlacing failed.", false);
    player.Deinterlace = false;
    result = video.Graph.Configure(input, chain, false, ScalerFlags);
  }
  video.GraphDeinterlaces = deinterlace && result >= 0 && player.Deinterlace;
  if (result < 0) {
    player.SetLastError(FilterErrorText(chain, result), false);
    return false;
  }
  return true;
}

// Video thread. 1 with a picture to show in `frame`, 0 without one yet, -1 when the stream
// closes.
int TPlayerCore::GetVideoFrame(TCustomPlayer& player, TPlayContext& context, AVFrame* frame) {
  TVideoSide& video = context.Video;
  const int received = ff::avcodec_receive_frame(video.Codec, frame);
  if (received >= 0) return ReceivePicture(player, context, frame);
  if (received == AVERROR_EOF && PassSkippedPicture(player, context, frame)) return 1;
  AVPacket* packet = video.Packet;
  const TPacketQueue::TResult got = video.Queue.Get(packet, true);
  if (got == TPacketQueue::grAborted) return -1;
  if (got == TPacketQueue::grFlush)
    FlushVideo(player, context);
  else
    SendVideoPacket(player, context, packet);
  return 0;
}

// Video thread, with a decoded picture: its time as the settings choose, then whether it is
// shown (1) or passed over (0): before the seek target, or to catch up under load.
int TPlayerCore::ReceivePicture(TCustomPlayer& player, TPlayContext& context, AVFrame* frame) {
  TVideoSide& video = context.Video;
  const int reorder = context.Settings.DecoderReorder;
  frame->pts =
      reorder == -1 ? frame->best_effort_timestamp : (reorder != 0 ? frame->pts : frame->pkt_dts);
  if (video.SkipTarget != AV_NOPTS_VALUE) {
    if (frame->pts != AV_NOPTS_VALUE && frame->pts < video.SkipTarget) {
      ff::av_frame_unref(video.Skipped);
      ff::av_frame_move_ref(video.Skipped, frame);
      return 0;
    }
    SeekTargetReached(player, context);
  }
  video.SkipIndex += 1;
  const double factor = video.SkipFactor;
  if (video.SkipIndex >= factor) {
    video.SkipIndex -= std::max(factor, 1.0);
    return 1;
  }
  ff::av_frame_unref(frame);
  return 0;
}

// Video thread, when the decoder has given out everything before the seek target was
// reached: the last picture there is stands for the target.
int TPlayerCore::PassSkippedPicture(TCustomPlayer& player, TPlayContext& context, AVFrame* frame) {
  TVideoSide& video = context.Video;
  if (video.SkipTarget == AV_NOPTS_VALUE || !video.Skipped->buf[0]) return 0;
  ff::av_frame_move_ref(frame, video.Skipped);
  SeekTargetReached(player, context);
  return 1;
}

// Video thread: the picture at the seek target is found. The pictures count their time from
// here, not from the flush: passing over the ones before took time.
void TPlayerCore::SeekTargetReached(TCustomPlayer& player, TPlayContext& context) {
  TVideoSide& video = context.Video;
  video.SkipTarget = AV_NOPTS_VALUE;
  ff::av_frame_unref(video.Skipped);
  {
    const std::lock_guard<std::mutex> lock(video.PictureLock);
    video.FrameTimer = NowSeconds();
  }
  player.FSeekReached = true;
}

// Video thread. The packet goes to the decoder; the empty end packet drains it, once.
void TPlayerCore::SendVideoPacket(TCustomPlayer& player, TPlayContext& context, AVPacket* packet) {
  TVideoSide& video = context.Video;
  const bool endPacket = packet->size == 0 && !packet->data;
  if (!endPacket || !video.Drained) {
    video.Drained = endPacket;
    const int sent = ff::avcodec_send_packet(video.Codec, endPacket ? nullptr : packet);
    if (sent < 0 && sent != AVERROR_EOF)
      FFLogger().Log(&player, llInfo, AVErrorText("video decoding", sent));
  }
  ff::av_packet_unref(packet);
}

// Video thread, at the flush marker after a seek: the pictures still queued are shown at once
// (the display drops them), the clocks start over, and with SeekDisplay the pictures before
// the seek target are passed over.
void TPlayerCore::FlushVideo(TCustomPlayer& player, TPlayContext& context) {
  TVideoSide& video = context.Video;
  ff::avcodec_flush_buffers(video.Codec);
  video.Drained = false;
  std::unique_lock<std::mutex> lock(video.PictureLock);
  for (TPicture& picture : video.Pictures) picture.TargetClock = 0;
  video.PictureChanged.wait(lock, [&] { return video.Size == 0 || context.AbortRequest; });
  video.CurrentPos = -1;
  const int64_t target = context.LastSeekTarget;
  video.SkipTarget = target != AV_NOPTS_VALUE && player.FSeekDisplay
                         ? ff::av_rescale_q(target, AV_TIME_BASE_Q, video.Stream->time_base)
                         : AV_NOPTS_VALUE;
  ff::av_frame_unref(video.Skipped);
  video.LastFramePts = NoFramePts;
  video.LastFrameDelay = 0;
  video.FrameTimer = NowSeconds();
  video.SkipFactor = 1.0;
  video.SkipIndex = 0;
  video.FirstAfterFlush = true;
  context.FlushSeen = true;
}

// Video thread. False when the stream closes.
bool TPlayerCore::QueuePicture(TCustomPlayer& player, TPlayContext& context, AVFrame* frame,
                               double pts) {
  TVideoSide& video = context.Video;
  if (pts != 0)
    video.Clock = pts;
  else
    pts = video.Clock;
  video.Clock = video.Clock + video.FrameDuration * (1 + frame->repeat_pict * 0.5);

  std::unique_lock<std::mutex> lock(video.PictureLock);
  // A full queue that the display is not even asking for: decoding keeps up, so skip less.
  if (video.Size >= QueuedPictures && !context.RefreshPending)
    video.SkipFactor = std::max(0.95, video.SkipFactor * 0.95);
  video.PictureChanged.wait(lock,
                            [&] { return video.Size < QueuedPictures || context.AbortRequest; });
  if (context.AbortRequest) return false;
  const int index = video.WriteIndex;
  TPicture& picture = video.Pictures[index];
  if (!WaitForOverlay(player, context, picture, frame, lock)) return false;
  lock.unlock();
  CopyToOverlay(player, context, index, frame, pts);
  lock.lock();
  picture.Pts = pts;
  picture.Pos = frame->pkt_pos;
  picture.SampleAspectRatio = frame->sample_aspect_ratio;
  picture.SubtitleBlended = false;
  picture.FirstAfterFlush = std::exchange(video.FirstAfterFlush, false);
  video.WriteIndex = (index + 1) % PictureSlots;
  picture.TargetClock = TargetTime(context, pts);
  ++video.Size;
  return true;
}

// Video thread, holding PictureLock. Asks the play thread for an overlay of the frame's size
// when the picture has none of that size.
bool TPlayerCore::WaitForOverlay(TCustomPlayer& player, TPlayContext& context, TPicture& picture,
                                 const AVFrame* frame, std::unique_lock<std::mutex>& lock) {
  const int width = frame->width & ~1;
  const int height = frame->height & ~1;
  if (picture.Overlay && picture.Width == width && picture.Height == height) return true;
  picture.Width = width;
  picture.Height = height;
  picture.Allocated = false;
  lock.unlock();
  player.PushSDLEvent(evAllocPicture);
  lock.lock();
  context.Video.PictureChanged.wait(lock,
                                    [&] { return picture.Allocated || context.AbortRequest; });
  return !context.AbortRequest && picture.Overlay;
}

namespace {

// Copies a planar YUV 4:2:0 picture of an even size, turned upside down when asked.
void CopyPicture(const AVFrame* frame, const TAVPicture& target, int width, int height, bool flip) {
  const uint8_t* source[4] = {};
  int lines[4] = {};
  for (int plane = 0; plane < 3; ++plane) {
    const int rows = plane == 0 ? height : height / 2;
    source[plane] = frame->data[plane];
    lines[plane] = frame->linesize[plane];
    if (flip) {
      source[plane] += ptrdiff_t(rows - 1) * lines[plane];
      lines[plane] = -lines[plane];
    }
  }
  uint8_t* planes[4] = {target.data[0], target.data[1], target.data[2], nullptr};
  int pitches[4] = {target.linesize[0], target.linesize[1], target.linesize[2], 0};
  ff::av_image_copy(planes, pitches, source, lines, AV_PIX_FMT_YUV420P, width, height);
}

}  // namespace

// Video thread. Fills the overlay at `index` and lets the hooks see (and draw on) it.
void TPlayerCore::CopyToOverlay(TCustomPlayer& player, TPlayContext& context, int index,
                                const AVFrame* frame, double pts) {
  TVideoSide& video = context.Video;
  TPicture& picture = video.Pictures[index];
  const std::lock_guard<std::mutex> overlayLock(video.OverlayLocks[index]);
  SDL_Overlay* overlay = picture.Overlay;
  player.FSDL.SDL_LockYUVOverlay(overlay);
  TAVPicture target = OverlayPicture(overlay);
  CopyPicture(frame, target, picture.Width, picture.Height, player.FVerticalFlip);
  const int64_t hookPts = std::llround(pts * 1000000) - context.InputStart;
  player.DoVideoHook(target, picture.Width, picture.Height, hookPts);
  player.DoFrameHook(target, picture.Width, picture.Height, hookPts);
  player.FSDL.SDL_UnlockYUVOverlay(overlay);
}

// Video thread, holding PictureLock. When the picture is due, on the frame timer's scale: a
// picture late against the master clock is shown at once, one early is held twice as long.
double TPlayerCore::TargetTime(TPlayContext& context, double pts) {
  TVideoSide& video = context.Video;
  double delay = pts - video.LastFramePts;
  if (std::isnan(delay) || delay <= 0 || delay >= 10.0)
    delay = video.LastFrameDelay;
  else
    video.LastFrameDelay = delay;
  video.LastFramePts = pts;
  if (FollowsMaster(context, true)) {
    const double diff = VideoClock(context) - MasterClock(context);
    const double threshold = std::max(0.01, delay);
    if (std::fabs(diff) < 10.0) {
      if (diff <= -threshold)
        delay = 0;
      else if (diff >= threshold)
        delay = 2 * delay;
    }
  }
  video.FrameTimer += delay;
  return video.FrameTimer;
}

// A waiting Seek returns once the picture is there (or none can come), and by then it is no
// longer seeking.
void TPlayerCore::AnnounceSeekPicture(TCustomPlayer& player, TPlayContext& context) {
  if (!context.SeekRequest) player.FSeeking = false;
  player.FSeekDisplayed.Set();
}

// Video thread, after a picture entered the queue.
void TPlayerCore::PictureQueued(TCustomPlayer& player, TPlayContext& context) {
  AnnounceSeekPicture(player, context);
  const int count = context.StartPausedCount;
  if (count > 0) {
    if (count < 2) {
      context.StartPausedCount = count + 1;
    } else {
      context.StartPausedCount = 0;
      player.SetPlayState(psPause);
    }
  }
  if (player.FStep.exchange(false)) PauseAfterStep(player, context);
}

// Video thread: a step has queued its picture and the play pauses again. The player lock is
// only tried: whoever holds it may be waiting for this thread to end.
void TPlayerCore::PauseAfterStep(TCustomPlayer& player, TPlayContext& context) {
  std::unique_lock<std::mutex> lock(player.FPlayerLock, std::defer_lock);
  while (!lock.try_lock()) {
    if (context.AbortRequest) return;
    SleepMs(1);
  }
  if (player.FContext.get() != &context || context.Paused) return;
  player.TogglePause(context);
  if (player.FPlayState != psPause) player.SetPlayState(psPause);
}

// ---- Subtitles ----

// Subtitle thread: decodes bitmap subtitles into the subtitle queue.
void TPlayerCore::SubtitleThread(TPlayContext& context) {
  TSubtitleSide& side = context.Subtitle;
  AVPacket* packet = ff::av_packet_alloc();
  if (!packet) return;
  for (;;) {
    while (context.Paused && !context.AbortRequest && !context.PausedAtSeek) SleepMs(10);
    const TPacketQueue::TResult got = side.Queue.Get(packet, true);
    if (got == TPacketQueue::grAborted) break;
    if (got == TPacketQueue::grFlush) {
      ff::avcodec_flush_buffers(side.Codec);
      continue;
    }
    {
      std::unique_lock<std::mutex> lock(side.Lock);
      side.Changed.wait(lock,
                        [&] { return side.Size < SubtitleQueueSize || side.Queue.Aborted(); });
    }
    if (side.Queue.Aborted()) break;
    AVSubtitle subtitle{};
    int gotSubtitle = 0;
    const bool hasPicture =
        ff::avcodec_decode_subtitle2(side.Codec, &subtitle, &gotSubtitle, packet) >= 0 &&
        gotSubtitle;
    const double pts =
        packet->pts == AV_NOPTS_VALUE ? 0 : double(packet->pts) * av_q2d(side.Stream->time_base);
    ff::av_packet_unref(packet);
    if (!hasPicture) continue;
    if (subtitle.format == 0)
      QueueSubtitle(context, subtitle, pts);
    else
      ff::avsubtitle_free(&subtitle);
  }
  ff::av_packet_free(&packet);
}

// Subtitle thread. The queue takes over the subtitle.
void TPlayerCore::QueueSubtitle(TPlayContext& context, const AVSubtitle& subtitle, double pts) {
  TSubtitleSide& side = context.Subtitle;
  for (unsigned n = 0; n < subtitle.num_rects; ++n)
    if (subtitle.rects[n]->type == SUBTITLE_BITMAP) ConvertPaletteToYUVA(*subtitle.rects[n]);
  const std::lock_guard<std::mutex> lock(side.Lock);
  TSubtitlePicture& entry = side.Pictures[side.WriteIndex];
  entry.Pts = pts;
  entry.Subtitle = subtitle;
  side.WriteIndex = (side.WriteIndex + 1) % SubtitleQueueSize;
  ++side.Size;
}

// Play thread (or the thread that closes the stream). Frees the subtitles whose time has
// passed at the picture's time, or all of them.
void TPlayerCore::FreeSubtitles(TSubtitleSide& side, bool all, double pictureTime) {
  const std::lock_guard<std::mutex> lock(side.Lock);
  while (side.Size > 0) {
    TSubtitlePicture& head = side.Pictures[side.ReadIndex];
    const TSubtitlePicture& next = side.Pictures[(side.ReadIndex + 1) % SubtitleQueueSize];
    const bool over =
        pictureTime > head.EndTime() || (side.Size > 1 && next.StartTime() <= pictureTime);
    if (!all && !over) break;
    ff::avsubtitle_free(&head.Subtitle);
    side.ReadIndex = (side.ReadIndex + 1) % SubtitleQueueSize;
    --side.Size;
    side.Changed.notify_all();
  }
}

// ---- Clocks ----

double TPlayerCore::VideoClock(const TPlayContext& context) {
  const TVideoSide& video = context.Video;
  if (context.Paused) return video.CurrentPts;
  const double drift = video.CurrentPtsDrift;
  return drift != 0 ? drift + NowSeconds() : context.InputStart / 1000000.0;
}

double TPlayerCore::MasterClock(const TPlayContext& context) {
  switch (context.SyncSource) {
    case ssVideo:
      return context.HasVideo() ? VideoClock(context) : AudioClock(context);
    case ssExternal:
      return context.ExternalClock.Value();
    case ssAudio:
      break;
  }
  return context.HasAudio() ? AudioClock(context) : VideoClock(context);
}

// Whether the pictures (or the sound) follow another clock than their own.
bool TPlayerCore::FollowsMaster(const TPlayContext& context, bool video) {
  if (context.SyncSource == ssExternal) return context.ExternalClock.Started();
  return video ? context.SyncSource == ssAudio && context.HasAudio()
               : context.SyncSource == ssVideo && context.HasVideo();
}

// ---- Display and refresh ----

// Refresh thread: asks the play thread to refresh, unless a refresh is still pending.
void TPlayerCore::RefreshThread(TPlayContext& context) {
  TCustomPlayer& player = *context.Owner;
  const int period = context.HasAudio() && context.ShowMode != smVideo
                         ? std::max(context.Settings.WaveformPeriod, 1)
                         : 5;
  while (!context.AbortRequest) {
    if (!context.RefreshPending.exchange(true)) player.PushSDLEvent(evRefresh);
    SleepMs(period);
  }
}

// Play thread.
void TPlayerCore::EventLoop(TCustomPlayer& player) {
  player.FPlayThreadStarted = true;
  for (;;) {
    SDL_Event event;
    if (!player.FSDL.SDL_WaitEvent(&event)) SleepMs(10);
    const std::lock_guard<std::mutex> lock(player.FPlayerLock);
    if (!player.FContext) return;
    if (!HandleEvent(player, *player.FContext, event)) return;
  }
}

// Play thread, holding the player lock. False when the loop ends.
bool TPlayerCore::HandleEvent(TCustomPlayer& player, TPlayContext& context,
                              const SDL_Event& event) {
  switch (event.type) {
    case SDL_QUIT:
    case evQuit:
      player.CloseStream();
      return false;
    case SDL_VIDEORESIZE:
      Resize(player, context, event.resize.w, event.resize.h);
      break;
    case SDL_VIDEOEXPOSE:
      if (context.Paused)
        Refresh(player, context, false);
      else
        Display(player, context, true);
      break;
    case evAllocPicture:
      AllocatePicture(player, context);
      break;
    case evRefresh:
      Refresh(player, context, true);
      context.RefreshPending = false;
      break;
    case evReopenDisplay:
      DisplayOpen(player, context, true);
      Display(player, context, true);
      break;
    default:
      break;
  }
  return player.FContext != nullptr;
}

void TPlayerCore::Resize(TCustomPlayer& player, TPlayContext& context, int width, int height) {
  if (width < 1 || height < 1) return;
  SDL_Surface* screen = player.FSDL.SDL_SetVideoMode(
      width, height, player.FScreenDepth < 16 ? 32 : 0, VideoModeFlags);
  if (!screen) {
    player.SetLastError("SDL: could not set video mode.", false);
    return;
  }
  player.FScreen = screen;
  player.FScreenWidth = width;
  player.FScreenHeight = height;
  context.WindowWidth = screen->w;
  context.WindowHeight = screen->h;
  if (context.Paused) Refresh(player, context, false);
}

// Play thread. 0, or -1 when SDL refuses the mode.
int TPlayerCore::DisplayOpen(TCustomPlayer& player, TPlayContext& context, bool force) {
  int width = 640;
  int height = 480;
  const TPicture& picture = context.Video.Pictures[context.Video.WriteIndex];
  if (player.FScreenWidth >= 1 && player.FScreenHeight >= 1) {
    width = player.FScreenWidth;
    height = player.FScreenHeight;
  } else if (picture.Width >= 1 && picture.Height >= 1) {
    width = picture.Width;
    height = picture.Height;
  }
  if (!force && player.FScreen && context.WindowWidth == width && context.WindowHeight == height)
    return 0;
  SDL_Surface* screen = player.FSDL.SDL_SetVideoMode(
      width, height, player.FScreenDepth < 16 ? 32 : 0, VideoModeFlags);
  if (!player.FScreenHandle) player.FSDL.SDL_WM_SetCaption("FFPlayer", "FFPlayer");
  if (!screen) {
    player.SetLastError("SDL: could not set video mode.", false);
    return -1;
  }
  player.FScreen = screen;
  context.WindowWidth = screen->w;
  context.WindowHeight = screen->h;
  return 0;
}

// Play thread. The sound's view, or the picture due (at the read index), or again the one
// shown last.
void TPlayerCore::Display(TCustomPlayer& player, TPlayContext& context, bool again) {
  if (!player.FScreen && DisplayOpen(player, context, false) < 0) return;
  if (context.HasAudio() && context.ShowMode != smVideo) {
    SoundDisplay(player, context);
    return;
  }
  if (!context.HasVideo()) return;
  TVideoSide& video = context.Video;
  int index;
  {
    const std::lock_guard<std::mutex> lock(video.PictureLock);
    if (!again) video.ShownIndex = video.ReadIndex;
    index = video.ShownIndex;
  }
  if (index >= 0) PictureDisplay(player, context, index);
}

// Play thread, holding the player lock (so the overlay stays). Shows a picture centred in the
// window in its own shape (or the forced one; a negative aspect ratio fills the window), with
// the subtitle of its time.
void TPlayerCore::PictureDisplay(TCustomPlayer& player, TPlayContext& context, int index) {
  if (context.WindowWidth < 1 || context.WindowHeight < 1) return;
  TVideoSide& video = context.Video;
  TPicture picture;
  {
    const std::lock_guard<std::mutex> lock(video.PictureLock);
    picture = video.Pictures[index];
  }
  if (!picture.Overlay) return;
  const std::lock_guard<std::mutex> overlayLock(video.OverlayLocks[index]);
  if (context.HasSubtitle() && !picture.SubtitleBlended) {
    BlendSubtitle(context, picture);
    const std::lock_guard<std::mutex> lock(video.PictureLock);
    video.Pictures[index].SubtitleBlended = true;
  }
  const double aspect =
      DisplayAspect(player.FAspectRatio, context.WindowWidth, context.WindowHeight, picture.Width,
                    picture.Height, picture.SampleAspectRatio);
  const TPictureRect place = DisplayRectangle(aspect, context.WindowWidth, context.WindowHeight);
  SDL_Rect rect;
  rect.x = Sint16(place.Left);
  rect.y = Sint16(place.Top);
  rect.w = Uint16(place.Width);
  rect.h = Uint16(place.Height);
  player.FSDL.SDL_DisplayYUVOverlay(picture.Overlay, &rect);
}

// Play thread, holding the overlay's lock. Draws the subtitle whose time has come into the
// picture (once: the overlay keeps it).
void TPlayerCore::BlendSubtitle(TPlayContext& context, TPicture& picture) {
  TSubtitleSide& side = context.Subtitle;
  const std::lock_guard<std::mutex> lock(side.Lock);
  if (side.Size == 0) return;
  const TSubtitlePicture& entry = side.Pictures[side.ReadIndex];
  if (entry.StartTime() > picture.Pts) return;
  SDL_Overlay* overlay = picture.Overlay;
  context.Owner->FSDL.SDL_LockYUVOverlay(overlay);
  const TAVPicture target = OverlayPicture(overlay);
  for (unsigned n = 0; n < entry.Subtitle.num_rects; ++n)
    if (entry.Subtitle.rects[n]->type == SUBTITLE_BITMAP)
      BlendSubtitleRect(target, picture.Width, picture.Height, *entry.Subtitle.rects[n]);
  context.Owner->FSDL.SDL_UnlockYUVOverlay(overlay);
}

// Play thread: the waves or the spectrum of the sound on its way to the device.
void TPlayerCore::SoundDisplay(TCustomPlayer& player, TPlayContext& context) {
  SDL_Surface* screen = player.FScreen;
  const TAudioSide& audio = context.Audio;
  if (!screen || audio.Channels < 1 || audio.SampleRate < 1) return;
  const TViewArea area{0, 0, context.WindowWidth, context.WindowHeight};
  // Still waiting: what the callback has not handed over, and the device's buffer less what
  // it played since it last asked.
  const int frameBytes = 2 * audio.Channels;
  const int64_t sinceCallback = NowUS() - player.FLastAudioCallbackTime;
  const int delayFrames = (audio.BufferSize - audio.BufferIndex) / frameBytes + AudioDeviceSamples -
                          int(sinceCallback * audio.SampleRate / 1000000);
  const auto mode = TShowMode(int(context.ShowMode));
  const int start = context.SoundView.StartIndex(mode, context.Samples, audio.Channels, delayFrames,
                                                 area, context.Paused);
  const TViewArea changed = context.SoundView.Draw(
      mode, context.Samples, start, audio.Channels, area,
      [&](const TViewArea& rect, uint8_t red, uint8_t green, uint8_t blue) {
        SDL_Rect fill;
        fill.x = Sint16(rect.Left);
        fill.y = Sint16(rect.Top);
        fill.w = Uint16(rect.Width);
        fill.h = Uint16(rect.Height);
        player.FSDL.SDL_FillRect(screen, &fill,
                                 player.FSDL.SDL_MapRGB(screen->format, red, green, blue));
      });
  if (changed.Width > 0)
    player.FSDL.SDL_UpdateRect(screen, changed.Left, changed.Top, Uint32(changed.Width),
                               Uint32(changed.Height));
}

// Play thread: makes the overlay the video thread waits for.
void TPlayerCore::AllocatePicture(TCustomPlayer& player, TPlayContext& context) {
  TVideoSide& video = context.Video;
  if (DisplayOpen(player, context, false) < 0) return;
  std::unique_lock<std::mutex> lock(video.PictureLock);
  TPicture& picture = video.Pictures[video.WriteIndex];
  if (picture.Allocated) return;
  if (picture.Overlay) player.FSDL.SDL_FreeYUVOverlay(picture.Overlay);
  picture.Overlay = player.FSDL.SDL_CreateYUVOverlay(picture.Width, picture.Height,
                                                     SDL_YV12_OVERLAY, player.FScreen);
  if (!picture.Overlay) {
    const int width = picture.Width;
    const int height = picture.Height;
    lock.unlock();
    player.SetLastError(
        "Error: the video system does not support an image size of " + std::to_string(width) + "x" +
            std::to_string(height) +
            " pixels. Try using -lowres or -vf \"scale=w:h\" to reduce the image size.",
        false);
    player.CloseStream();
    return;
  }
  picture.Allocated = true;
  video.PictureChanged.notify_all();
}

void TPlayerCore::AdvancePicture(TPlayContext& context) {
  TVideoSide& video = context.Video;
  const std::lock_guard<std::mutex> lock(video.PictureLock);
  // A dropped picture counts as shown: the video thread must not write into the slot that a
  // display again or CurrentFrame may read.
  video.ShownIndex = video.ReadIndex;
  video.ReadIndex = (video.ReadIndex + 1) % PictureSlots;
  --video.Size;
  video.PictureChanged.notify_all();
}

// Play thread. Shows the next picture once it is due, dropping those that come too late to
// be worth showing, and reports the position.
void TPlayerCore::Refresh(TCustomPlayer& player, TPlayContext& context, bool timed) {
  TVideoSide& video = context.Video;
  if (!context.HasVideo()) {
    if (context.HasAudio()) {
      Display(player, context, false);
      UpdatePosition(player, context);
    }
    return;
  }
  for (;;) {
    int size;
    double targetClock = 0, nextTarget = 0, pts = 0;
    bool firstAfterFlush = false;
    {
      const std::lock_guard<std::mutex> lock(video.PictureLock);
      size = video.Size;
      if (size > 0) {
        const TPicture& picture = video.Pictures[video.ReadIndex];
        targetClock = picture.TargetClock;
        pts = picture.Pts;
        firstAfterFlush = picture.FirstAfterFlush;
        nextTarget = size == QueuedPictures
                         ? video.Pictures[(video.ReadIndex + 1) % PictureSlots].TargetClock
                         : targetClock + video.Clock - pts;
        video.CurrentPos = picture.Pos;
      }
    }
    if (size == 0) {
      if (!timed) Display(player, context, true);
      UpdatePosition(player, context);
      return;
    }
    const double now = NowSeconds();
    if (now < targetClock) return;
    video.CurrentPts = pts;
    video.CurrentPtsDrift = pts - now;
    const bool dropMode = context.SeekApplied && !firstAfterFlush;
    const int frameDrop = context.Settings.FrameDrop;
    const bool late = (frameDrop > 0 || (frameDrop != 0 && context.HasAudio())) &&
                      now > nextTarget && !context.LiveCapture && !firstAfterFlush;
    if (late || dropMode) {
      video.SkipFactor = video.SkipFactor * 1.05;
      if (size == QueuedPictures || now > nextTarget + 0.5 || dropMode) {
        AdvancePicture(context);
        continue;
      }
    }
    TSubtitleSide& subtitle = context.Subtitle;
    if (subtitle.StreamChanged.exchange(false))
      FreeSubtitles(subtitle, true, pts);
    else
      FreeSubtitles(subtitle, false, pts);
    Display(player, context, false);
    if (context.SyncSource == ssExternal && !context.ExternalClock.Started())
      context.ExternalClock.Start(pts);
    player.PictureShown(pts, AudioClock(context));
    if (timed) AdvancePicture(context);
    UpdatePosition(player, context);
    return;
  }
}

// Play thread. Reports the position when it moved by more than a step, and the end once.
void TPlayerCore::UpdatePosition(TCustomPlayer& player, TPlayContext& context) {
  if (context.StillImage) return;
  double clock;
  if (context.HasVideo())
    clock = VideoClock(context);
  else if (context.HasAudio())
    clock = AudioClock(context);
  else
    return;
  int64_t position = std::llround(clock * 1000000) - context.InputStart;
  // A sound track shorter than the input ends the play.
  if (!context.HasVideo() && context.Audio.DurationUS > 0 && position >= context.Audio.DurationUS &&
      context.InputDuration > position)
    position = context.InputDuration;
  if (context.InputDuration > 0 && position >= context.InputDuration) {
    position = context.InputDuration;
    if (player.FLastReportedPosition != position) player.FLastReportedPosition = 0;
  }
  const int64_t last = player.FLastReportedPosition;
  if (last == INT64_MIN || std::llabs(position - last) > PositionStep) {
    player.FLastReportedPosition = position;
    if (player.OnPosition) player.FEvents.Push({TPlayerEvent::ekPosition, position});
  }
  if (!context.LiveCapture && context.EndOfInput && !context.EndReported.exchange(true))
    player.SetPlayState(psEnd);
  CheckEndPosition(player, context, position);
}

// Play thread, holding the player lock. At the end position the play stops, or starts over
// from the start time.
void TPlayerCore::CheckEndPosition(TCustomPlayer& player, TPlayContext& context, int64_t position) {
  const int64_t end = player.FEndPosition;
  if (end == AV_NOPTS_VALUE || player.FSeeking) return;
  const int64_t start = player.FStartTime;
  if (position < (start != AV_NOPTS_VALUE ? end + start : end)) return;
  if (player.FEndAction == eaSeekToStart)
    player.RequestSeek(context, start != AV_NOPTS_VALUE ? 0 : AVSEEK_FLAG_ANY,
                       start != AV_NOPTS_VALUE ? start : 0);
  else
    player.StopPlaying(context);
}

// ---- The component ----

TCustomPlayer::TCustomPlayer() { ResetState(); }

TCustomPlayer::~TCustomPlayer() {
  FDestroying = true;
  Stop(true);
  StopEventThread(true);
}

void TCustomPlayer::SetLastError(const std::string& msg, bool store) {
  FFLogger().Log(this, llError, msg);
  if (store) FLastErrMsg = msg;
}

bool TCustomPlayer::LoadAVLib(const std::string& path, bool loadSDL) {
  FFLoader().SetLibraryPath(path);
  if (!FFLoader().Load(AllLibraries)) {
    FLastErrMsg = FFLoader().LastErrorMessage();
    return false;
  }
  FSDLRequired = loadSDL;
  InitOptions();
  return !loadSDL || LoadSDL(path, SDLLibraryName);
}

// A new, empty set of generic options, when the libraries are there to make it.
void TCustomPlayer::InitOptions() {
  if (!FFLoader().Loaded(AllLibraries)) return;
  auto options = std::make_unique<TOptionContexts>();
  InitOptionContexts(*options, ScalerFlags);
  FOptions = std::move(options);
}

bool TCustomPlayer::SetOption(const std::string& name, const std::string& value) {
  if (!FOptions) {
    FLastErrMsg = "libav not loaded.";
    return false;
  }
  if (OptDefault(*FOptions, name, value)) return true;
  FLastErrMsg = LastOptionError();
  return false;
}

void TCustomPlayer::SetEndPosition(int64_t position, TEndAction action) {
  FEndAction = action;
  FEndPosition = position;
}

bool TCustomPlayer::LoadSDL(const std::string& path, const std::string& dllName) {
  if (FSDLLoader.Load(path, dllName)) {
    FSDL = FSDLLoader.EntryPoints();
    return true;
  }
  FSDL = TSDLEntryPoints();
  FLastErrMsg = FSDLLoader.ErrorText();
  return false;
}

bool TCustomPlayer::AVLibLoaded() const {
  return FFLoader().Loaded(AllLibraries) && (!FSDLRequired || SDLLoaded());
}

void TCustomPlayer::SetAspectRatio(float value) {
  if (FAspectRatio == value) return;
  FAspectRatio = value;
  PushSDLEvent(evReopenDisplay);
}

void TCustomPlayer::SetAudioVolume(int value) {
  FAudioVolume = std::clamp(value, 0, SDL_MIX_MAXVOLUME);
}

void TCustomPlayer::SetFrameWidth(int value) {
  if (value % 2 != 0) throw FFmpegException("Frame size must be a multiple of 2");
  FFrameWidth = value;
}

void TCustomPlayer::SetFrameHeight(int value) {
  if (value % 2 != 0) throw FFmpegException("Frame size must be a multiple of 2");
  FFrameHeight = value;
}

void TCustomPlayer::ScreenExposed() { PushSDLEvent(SDL_VIDEOEXPOSE); }

void TCustomPlayer::ScreenResized(int width, int height) {
  FWindowWidth = width;
  FWindowHeight = height;
  PushSDLEvent(SDL_VIDEORESIZE, 0, width, height);
}

bool TCustomPlayer::SDLRunning() const {
  const std::lock_guard<std::mutex> lock(FSDLLock);
  return FSDLRunning;
}

// Any thread. SDL's queue takes events from any thread while SDL runs.
void TCustomPlayer::PushSDLEvent(int type, int code, int width, int height) {
  const std::lock_guard<std::mutex> lock(FSDLLock);
  if (!FSDLRunning) return;
  SDL_Event event{};
  event.type = Uint8(type);
  if (type == SDL_VIDEORESIZE) {
    event.resize.w = width;
    event.resize.h = height;
  } else {
    event.user.code = code;
  }
  FSDL.SDL_PushEvent(&event);
}

void TCustomPlayer::PostQuit() { PushSDLEvent(evQuit); }

// Caller's thread.
bool TCustomPlayer::Open(const std::string& fileName, TScreenHandle screenHandle,
                         bool startPaused) {
  if (!FFLoader().Loaded(AllLibraries)) {
    SetLastError("libav not loaded.", true);
    return false;
  }
  if (!SDLLoaded()) {
    SetLastError("sdl not loaded.", true);
    return false;
  }
  // What was set for this file outlives the close of the one before.
  const int64_t startTime = FStartTime, endPosition = FEndPosition;
  const TEndAction endAction = FEndAction;
  const bool verticalFlip = FVerticalFlip;
  std::unique_ptr<TOptionContexts> options = std::move(FOptions);
  Stop(true);
  FStartTime = startTime;
  FEndPosition = endPosition;
  FEndAction = endAction;
  FVerticalFlip = verticalFlip;
  FOptions = std::move(options);
  FEvents.Clear();
  bool started;
  {
    const std::lock_guard<std::mutex> lock(SDLLoaderLock());
    SetSDLDriverVariables();
    started = InitSDL(screenHandle);
  }
  if (!started) {
    SetLastError("Could not initialize SDL with ScreenHandle(" + std::to_string(screenHandle) +
                     "): " + FSDL.SDL_GetError(),
                 true);
    return false;
  }
  if (DisableDisplay) {
    DisableVideo = true;
  } else {
    const SDL_VideoInfo* info = FSDL.SDL_GetVideoInfo();
    if (!info) {
      SetLastError("SDL_GetVideoInfo() failed", true);
      CloseSDL();
      return false;
    }
    FFullScreenWidth = info->current_w;
    FFullScreenHeight = info->current_h;
    FScreenDepth = info->vfmt ? info->vfmt->BitsPerPixel : 0;
  }
  for (Uint8 type : {Uint8(SDL_ACTIVEEVENT), Uint8(SDL_MOUSEMOTION), Uint8(SDL_SYSWMEVENT)})
    FSDL.SDL_EventState(type, SDL_IGNORE);
  if (!PlayerStreamOpen(fileName, startPaused)) {
    CloseSDL();
    return false;
  }
  FFileName = fileName;
  FScreenHandle = screenHandle;
  DoFileOpen();
  StartEventThread();
  StartPlayThread();
  return true;
}

// Only a chosen driver is named: an empty variable makes SDL fail.
void TCustomPlayer::SetSDLDriverVariables() const {
  if (AudioDriver != adDefault) ::setenv("SDL_AUDIODRIVER", AudioDriverName(AudioDriver), 1);
  if (VideoDriver != vdDefault) ::setenv("SDL_VIDEODRIVER", VideoDriverName(VideoDriver), 1);
}

// Caller's thread, under the SDL loader's lock. SDL installs handlers for SIGINT and SIGTERM
// even when asked not to; the program's own go back afterwards.
bool TCustomPlayer::InitSDL(TScreenHandle screenHandle) {
  if (screenHandle) ::setenv("SDL_WINDOWID", std::to_string(screenHandle).c_str(), 1);
  struct sigaction savedInt {
  }, savedTerm{};
  ::sigaction(SIGINT, nullptr, &savedInt);
  ::sigaction(SIGTERM, nullptr, &savedTerm);
  // No timer subsystem: the player sets no SDL timers, and its thread would wake every
  // millisecond for nothing.
  Uint32 flags = SDL_INIT_VIDEO | SDL_INIT_NOPARACHUTE;
  if (!DisableAudio) flags |= SDL_INIT_AUDIO;
  const bool started = FSDL.SDL_Init(flags) == 0;
  ::sigaction(SIGINT, &savedInt, nullptr);
  ::sigaction(SIGTERM, &savedTerm, nullptr);
  if (screenHandle) ::unsetenv("SDL_WINDOWID");
  if (!started) return false;
  char name[256];
  if (FSDL.SDL_AudioDriverName(name, sizeof name))
    FFLogger().Log(this, llDebug, std::string("using audio driver: ") + name);
  if (FSDL.SDL_VideoDriverName(name, sizeof name))
    FFLogger().Log(this, llDebug, std::string("using video driver: ") + name);
  const std::lock_guard<std::mutex> lock(FSDLLock);
  FSDLRunning = true;
  return true;
}

void TCustomPlayer::CloseSDL() {
  {
    const std::lock_guard<std::mutex> lock(FSDLLock);
    if (FSDLRunning && FSDL.SDL_Quit) FSDL.SDL_Quit();
    FSDLRunning = false;
  }
  ResetState();
}

void TCustomPlayer::ResetState() {
  FScreen = nullptr;
  FPlayState = psStop;
  FLastReportedPosition = INT64_MIN;
  FPosition = -1;
  FStep = false;
  FStartTime = AV_NOPTS_VALUE;
  FEndPosition = AV_NOPTS_VALUE;
  FEndAction = eaStop;
  FVerticalFlip = false;
  FSeekDone.Set();
  FSeeking = false;
  FSeekDisplay = false;
  FSeekReached = false;
  InitOptions();
}

// Caller's thread. Starts the read thread and waits until it has opened the input (or failed).
bool TCustomPlayer::PlayerStreamOpen(const std::string& fileName, bool startPaused) {
  auto context = std::make_unique<TPlayContext>();
  context->Owner = this;
  context->FileName = fileName;
  context->SyncSource = SyncSource;
  context->Settings = Settings;
  if (startPaused) {
    context->Paused = true;
    context->StartPausedCount = 1;
  }
  FIOStartTime = INT64_MAX;
  SetOpeningContext(context.get());
  try {
    context->ReadThread = std::thread(TPlayerCore::ReadThread, std::ref(*this), std::ref(*context));
  } catch (const std::system_error&) {
    SetOpeningContext(nullptr);
    SetLastError("SDL_CreateThread() failed.", true);
    return false;
  }
  WaitServingMainThread(
      [&context](int milliseconds) { return context->OpenSettled(milliseconds); });
  SetOpeningContext(nullptr);
  if (context->GetOpenStatus() != osOpened) {
    context->ReadThread.join();
    return false;
  }
  // Stop came after the last step that it could interrupt: the opening is cancelled all the
  // same, rather than a play that nobody waits for.
  if (context->AbortRequest) {
    SetLastError(AVErrorText(fileName, AVERROR_EXIT), true);
    TPlayerCore::CloseStream(*this, std::move(context));
    return false;
  }
  try {
    context->RefreshThread = std::thread(TPlayerCore::RefreshThread, std::ref(*context));
  } catch (const std::system_error&) {
    SetLastError("SDL_CreateThread() failed.", true);
    TPlayerCore::CloseStream(*this, std::move(context));
    return false;
  }
  const std::lock_guard<std::mutex> lock(FPlayerLock);
  FContext = std::move(context);
  return true;
}

// Caller's thread. Stop reaches the state through this pointer while the opening runs; both
// sides hold the player lock, so Stop never sets the abort request of a freed state.
void TCustomPlayer::SetOpeningContext(TPlayContext* context) {
  const std::lock_guard<std::mutex> lock(FPlayerLock);
  FOpeningContext = context;
}

// Caller's thread.
void TCustomPlayer::DoFileOpen() {
  TPlayContext& context = *FContext;
  int frameWidth = -1;
  int frameHeight = -1;
  if (context.HasVideo() && context.Video.Codec->width >= 1) {
    frameWidth = context.Video.Codec->width;
    frameHeight = context.Video.Codec->height;
  }
  const int64_t duration = context.StillImage ? 0 : context.InputDuration;
  if (OnFileOpen) {
    DeliverEvent([&] {
      int width = FScreenWidth;
      int height = FScreenHeight;
      OnFileOpen(this, duration, frameWidth, frameHeight, width, height);
      FScreenWidth = width;
      FScreenHeight = height;
    });
  }
  if (FScreenHandle && (FScreenWidth == 0 || FScreenHeight == 0)) {
    const bool known = FWindowWidth > 0 && FWindowHeight > 0;
    FScreenWidth = known ? int(FWindowWidth) : FFullScreenWidth;
    FScreenHeight = known ? int(FWindowHeight) : FFullScreenHeight;
  }
}

void TCustomPlayer::DeliverEvent(const std::function<void()>& raise) {
  if (TriggerEventInMainThread)
    RunInMainThread(raise);
  else
    raise();
}

void TCustomPlayer::StartEventThread() {
  StopEventThread(true);
  FEventThreadTerminated = false;
  FEventThread = std::thread(&TCustomPlayer::EventThreadExecute, this);
}

// Caller's thread. Without Terminate the thread ends once it has raised the final state; it
// may be waiting for the main thread to raise an event.
void TCustomPlayer::StopEventThread(bool terminate) {
  if (!FEventThread.joinable()) return;
  if (terminate) {
    FEventThreadTerminated = true;
    FEvents.Ready.Set();
  }
  TManualResetEvent ended(false);
  std::thread waiter([this, &ended] {
    FEventThread.join();
    ended.Set();
  });
  WaitServingMainThread(ended);
  waiter.join();
}

// Event thread: raises the queued position and state reports.
void TCustomPlayer::EventThreadExecute() {
  while (!FEventThreadTerminated) {
    const TPlayerEvent event = FEvents.Pop();
    if (event.Kind == TPlayerEvent::ekPosition) {
      FPosition = event.Value;
      if (!FDestroying && OnPosition)
        DeliverEvent([this, &event] { OnPosition(this, event.Value); });
    } else if (event.Kind == TPlayerEvent::ekState) {
      const auto state = TPlayState(event.Value);
      if (!FDestroying && OnState) DeliverEvent([this, state] { OnState(this, state); });
      if (state == psStop) return;
    } else if (event.Kind == TPlayerEvent::ekQuit) {
      return;
    } else {
      FEvents.Ready.WaitFor(100);
    }
  }
}

// Any of the player's threads.
void TCustomPlayer::SetPlayState(TPlayState state) {
  FPlayState = state;
  if (OnState)
    FEvents.Push({TPlayerEvent::ekState, state});
  else if (state == psStop)
    FEvents.Push({TPlayerEvent::ekQuit, 0});
}

void TCustomPlayer::StartPlayThread() {
  FPlayThreadStarted = false;
  FStopped.Reset();
  FPlayThread = std::thread(&TCustomPlayer::PlayThreadExecute, this);
  while (!FPlayThreadStarted) SleepMs(10);
}

// Play thread.
void TCustomPlayer::PlayThreadExecute() {
  SetPlayState(psPlay);
  try {
    TPlayerCore::EventLoop(*this);
  } catch (const std::exception& e) {
    FFLogger().Log(this, llFatal, std::string("PlayThread Exception: ") + e.what());
    const std::lock_guard<std::mutex> lock(FPlayerLock);
    CloseStream();
  }
  CloseSDL();
  SetPlayState(psStop);
  FStopped.Set();
}

// The thread holding the player lock: takes the state out of the player, so that it is closed
// once however many paths ask for it.
void TCustomPlayer::CloseStream() { TPlayerCore::CloseStream(*this, std::move(FContext)); }

// Caller's thread, holding the player lock.
void TCustomPlayer::TogglePause(TPlayContext& context) {
  if (!FSeekDone.WaitFor(250)) FSeekDone.Set();
  TVideoSide& video = context.Video;
  if (context.Paused) {
    // The pictures' clocks move on by the pause once a picture was shown; before that they
    // hold no time yet, and moving them would put the first pictures off by the system's
    // uptime.
    if (video.CurrentPtsDrift != 0) TPlayerCore::ResumeVideoClocks(context);
    context.ExternalClock.SetPaused(false);
    context.Paused = false;
  } else {
    if (context.HasVideo() && !FSeekDisplayed.WaitFor(250)) FSeekDisplayed.Set();
    context.ExternalClock.SetPaused(true);
    context.Paused = true;
  }
}

// Holding the player lock, on resume.
void TPlayerCore::ResumeVideoClocks(TPlayContext& context) {
  TVideoSide& video = context.Video;
  const double now = NowSeconds();
  {
    const std::lock_guard<std::mutex> lock(video.PictureLock);
    video.FrameTimer += now + video.CurrentPtsDrift - video.CurrentPts;
  }
  if (context.ReadPauseResult != AVERROR(ENOSYS)) video.CurrentPts = video.CurrentPtsDrift + now;
  video.CurrentPtsDrift = video.CurrentPts - now;
}

namespace {
// Tries for about the time given.
bool TryLockFor(std::unique_lock<std::mutex>& lock, int milliseconds) {
  for (int waited = 0; !lock.try_lock(); ++waited) {
    if (waited >= milliseconds) return false;
    SleepMs(1);
  }
  return true;
}
}  // namespace

void TCustomPlayer::Pause() {
  const auto lock = LockServingMainThread(FPlayerLock);
  if (!FContext || FContext->Paused) return;
  TogglePause(*FContext);
  FStep = false;
  SetPlayState(psPause);
}

void TCustomPlayer::Resume() {
  const auto lock = LockServingMainThread(FPlayerLock);
  if (!FContext || !FContext->Paused) return;
  TogglePause(*FContext);
  FStep = false;
  SetPlayState(psResume);
}

// The video thread pauses again once the next picture is queued.
void TCustomPlayer::Step() {
  const auto lock = LockServingMainThread(FPlayerLock);
  if (!FContext || !FContext->HasVideo()) return;
  FStep = true;
  if (FContext->Paused) TogglePause(*FContext);
}

TBitmap TCustomPlayer::CurrentFrame() {
  const auto lock = LockServingMainThread(FPlayerLock);
  TBitmap& bitmap = FFrameConverter.Bitmap();
  bitmap.SetSize(0, 0);
  if (!FContext || !FContext->HasVideo()) return bitmap;
  TVideoSide& video = FContext->Video;
  int index;
  int width, height;
  SDL_Overlay* overlay;
  {
    const std::lock_guard<std::mutex> pictureLock(video.PictureLock);
    index = video.ShownIndex;
    if (index < 0) return bitmap;
    overlay = video.Pictures[index].Overlay;
    width = video.Pictures[index].Width;
    height = video.Pictures[index].Height;
  }
  if (!overlay) return bitmap;
  const std::lock_guard<std::mutex> overlayLock(video.OverlayLocks[index]);
  FSDL.SDL_LockYUVOverlay(overlay);
  const TAVPicture picture = OverlayPicture(overlay);
  const bool converted = FFrameConverter.PictureToBitmap(picture.data, picture.linesize,
                                                         AV_PIX_FMT_YUV420P, true, width, height);
  FSDL.SDL_UnlockYUVOverlay(overlay);
  if (!converted) {
    SetLastError(FFrameConverter.LastError, false);
    bitmap.SetSize(0, 0);
  }
  return bitmap;
}

// Video thread, holding the overlay's lock.
void TCustomPlayer::DoVideoHook(TAVPicture& picture, int width, int height, int64_t pts) {
  if (!VideoHook || !OnVideoHook) return;
  if (!FHookConverter.PictureToBitmap(picture.data, picture.linesize, AV_PIX_FMT_YUV420P, true,
                                      width, height)) {
    SetLastError(FHookConverter.LastError, false);
    return;
  }
  bool update = true;
  try {
    OnVideoHook(this, &FHookConverter.Bitmap(), pts, update);
  } catch (const std::exception& e) {
    SetLastError(std::string("Error occurs OnVideoHook: ") + e.what(), false);
    return;
  }
  if (!update) return;
  FHookConverter.CopyBitmapToBuffer();
  if (!FHookConverter.BitmapToPicture(picture.data, picture.linesize, AV_PIX_FMT_YUV420P, width,
                                      height))
    SetLastError(FHookConverter.LastError, false);
}

// Video thread, holding the overlay's lock.
void TCustomPlayer::DoFrameHook(TAVPicture& picture, int width, int height, int64_t pts) {
  if (!FrameHook || !OnFrameHook) return;
  try {
    OnFrameHook(this, &picture, AV_PIX_FMT_YUV420P, width, height, pts);
  } catch (const std::exception& e) {
    SetLastError(std::string("Error occurs OnFrameHook: ") + e.what(), false);
  }
}

void TCustomPlayer::PictureShown(double, double) {}

void TCustomPlayer::Seek(TSeekFlags flags, bool wait, int64_t position) {
  {
    const auto lock = LockServingMainThread(FPlayerLock);
    if (!FContext) return;
    RequestSeek(*FContext, SeekFlagsToInt(flags), position);
  }
  if (!wait) return;
  WaitServingMainThread(FSeekDone);
  bool hasVideo;
  {
    const auto lock = LockServingMainThread(FPlayerLock);
    hasVideo = FContext && FContext->HasVideo();
  }
  if (hasVideo) WaitServingMainThread(FSeekDisplayed);
}

// Holding the player lock. The read thread carries the seek out; a request is ignored while
// another one is pending.
void TCustomPlayer::RequestSeek(TPlayContext& context, int flags, int64_t position) {
  int64_t relative = 0;
  if (!(flags & AVSEEK_FLAG_BYTE)) {
    if (context.InputDuration > 0) position = std::min(position, context.InputDuration);
    relative = position > 0 ? 0 : 1;
    position += context.InputStart;
    if (FSeekDisplay) FSeekReached = false;
  }
  const std::lock_guard<std::mutex> seekLock(context.SeekLock);
  if (context.SeekRequest) return;
  FSeeking = true;
  context.PausedAtSeek = bool(context.Paused);
  context.SeekTarget = position;
  context.SeekRelative = relative;
  context.SeekFlags = flags;
  FSeekDone.Reset();
  context.SeekRequest = true;
}

// Holding the player lock.
void TCustomPlayer::StopPlaying(TPlayContext& context) {
  if (context.Paused) TogglePause(context);
  FStep = false;
  PostQuit();
}

void TCustomPlayer::Stop(bool waitForStop) {
  bool opening = false;
  {
    const auto lock = LockServingMainThread(FPlayerLock);
    if (FContext) {
      StopPlaying(*FContext);
    } else {
      FIOStartTime = 0;
      if (FOpeningContext) {
        FOpeningContext->AbortRequest = true;
        opening = true;
      }
    }
  }
  // An Open under way (further down this thread's stack, or on another thread) closes SDL
  // itself once its read thread has given up; SDL must not go while that thread uses it.
  if (waitForStop && !opening) {
    WaitForStop();
    WaitForPlayThread();
    CloseSDL();
    StopEventThread(false);
  }
}

// Caller's thread. The play thread closes the stream on the quit event; should it not come
// round to it, the stream is closed here.
void TCustomPlayer::WaitForStop() {
  if (!FPlayThread.joinable()) return;
  int passes = 1;
  for (;;) {
    if (WaitServingMainThread(FStopped, 100)) return;
    std::unique_lock<std::mutex> lock(FPlayerLock, std::defer_lock);
    if (!TryLockFor(lock, 100)) continue;
    ++passes;
    if (!FContext) return;
    if ((passes > 10 && FContext->InsidePacketRead) || passes > 20) {
      CloseStream();
      return;
    }
    PostQuit();
  }
}

// Caller's thread.
void TCustomPlayer::WaitForPlayThread() {
  if (!FPlayThread.joinable()) return;
  PostQuit();
  WaitServingMainThread(FStopped);
  FPlayThread.join();
}
