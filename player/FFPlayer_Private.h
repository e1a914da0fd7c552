// What the pieces of the player (FFPlayer.cpp and the FFPlayer_*.cpp files beside it) share:
// the play state, the playing core's routines, and the constants and helpers that more than one
// piece uses. Nothing outside the player includes this.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "AudioSync.h"
#include "FFLoad.h"
#include "FFLog.h"
#include "FFPlayer.h"
#include "PacketQueue.h"
#include "PlayerFilterGraph.h"
#include "SoundView.h"
#include "SubtitleBlend.h"
#include "SurfaceScaler.h"

namespace player_internal {

// The player's own SDL events; each is handled by the play thread's event loop.
constexpr Uint8 evAllocPicture = SDL_USEREVENT;
constexpr Uint8 evRefresh = SDL_USEREVENT + 1;
constexpr Uint8 evQuit = SDL_USEREVENT + 2;
constexpr Uint8 evReopenDisplay = SDL_USEREVENT + 3;

constexpr int AudioDeviceSamples = 1024;
constexpr int SubtitleQueueSize = 4;
// Two pictures wait for their time; a third slot keeps the picture on show, so that the video
// thread never writes into what the display (and CurrentFrame) reads.
constexpr int QueuedPictures = 2;
constexpr int PictureSlots = QueuedPictures + 1;
constexpr double NoFramePts = std::numeric_limits<double>::quiet_NaN();
constexpr int ScalerFlags = SWS_BICUBIC;

enum TOpenStatus { osPending = 0, osOpened = 1, osFailing = -1, osFailed = -2 };

inline int64_t NowUS() { return ff::av_gettime_relative(); }
inline double NowSeconds() { return NowUS() / 1000000.0; }

inline void SleepMs(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

inline std::string FilterErrorText(const std::string& chain, int error) {
  return AVErrorText("Cannot set up the video filters \"" + chain + "\"", error);
}

struct TPacketFree {
  void operator()(AVPacket* packet) const { ff::av_packet_free(&packet); }
};
// Packets read ahead, in the order read.
using TPacketList = std::vector<std::unique_ptr<AVPacket, TPacketFree>>;

}  // namespace player_internal

// A picture slot between the video thread and the display.
struct TPicture {
  double Pts = 0;          // s
  double TargetClock = 0;  // when to show it (s, on the frame timer's scale)
  int64_t Pos = -1;
  SDL_Overlay* Overlay = nullptr;  // YV12, made and freed by the play thread
  // The decoded picture itself, in place of a copy in an overlay in memory that nothing draws
  // on (empty otherwise); written and read under the slot's overlay lock.
  AVFrame* Frame = nullptr;
  int Width = 0;  // even
  int Height = 0;
  AVRational SampleAspectRatio{0, 1};
  // The matrix the picture is read in, wherever it is kept (TPlayerFilterGraph::OutputMatrix).
  AVColorSpace Matrix = AVCOL_SPC_UNSPECIFIED;
  bool Allocated = false;
  bool SubtitleBlended = false;  // the play thread's
  // The first picture after a flush is never dropped: it is what a seek shows.
  bool FirstAfterFlush = false;
  int64_t Seek = -1;  // the number of the seek whose flush it follows
};

// The planes of an overlay in YUV 4:2:0 order (the overlay keeps Y, V, U).
inline TAVPicture OverlayPicture(const SDL_Overlay* overlay) {
  return {{overlay->pixels[0], overlay->pixels[2], overlay->pixels[1], nullptr},
          {overlay->pitches[0], overlay->pitches[2], overlay->pitches[1], 0}};
}

// The planes of the slot's picture, wherever it is kept; under the slot's overlay lock, with
// the overlay locked.
inline TAVPicture PicturePlanes(const TPicture& picture) {
  const AVFrame* frame = picture.Frame;
  if (!frame || !frame->buf[0]) return OverlayPicture(picture.Overlay);
  return {{frame->data[0], frame->data[1], frame->data[2], nullptr},
          {frame->linesize[0], frame->linesize[1], frame->linesize[2], 0}};
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
  int64_t FlushSeek = -1;  // the number of the seek whose flush came last
  // Pictures are decoded but not shown while the skip index runs behind the skip factor,
  // which grows while pictures come late and shrinks while the queue is full.
  std::atomic<double> SkipFactor{1.0};
  double SkipIndex = 0;

  // The picture queue; Size and Allocated change under PictureLock. An overlay's pixels are
  // written and read under its own lock; it is freed only by the play thread, holding the
  // player lock.
  TPicture Pictures[player_internal::PictureSlots];
  std::mutex OverlayLocks[player_internal::PictureSlots];
  TSurfaceScaler DisplayScaler;  // the play thread's
  // The play thread has made an overlay in memory, and the screen is one that DisplayScaler
  // writes: pictures reach the screen through it, not through SDL.
  std::atomic<bool> ScalerDrawsScreen{false};
  int Size = 0;
  int ReadIndex = 0;
  int WriteIndex = 0;
  int ShownIndex = -1;
  bool FirstAfterFlush = false;
  std::mutex PictureLock;
  std::condition_variable PictureChanged;

  // Clocks in seconds. The frame timer and the delays change under PictureLock.
  double FrameTimer = 0;
  double LastFramePts = player_internal::NoFramePts;
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
  // From the stream's opening to its closing; the video thread asks while the read thread closes.
  std::atomic<bool> Open{false};
  // The subtitle queue, under Lock.
  TSubtitlePicture Pictures[player_internal::SubtitleQueueSize];
  int Size = 0;
  int ReadIndex = 0;
  int WriteIndex = 0;
  std::mutex Lock;
  std::condition_variable Changed;
};

// A clock that runs with the wall clock from the moment it is set, and stands while paused.
class TExternalClock {
 public:
  bool Started() const;
  void Start(double value);
  void Forget();
  void SetPaused(bool paused);
  double Value() const;

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
  bool LastPaused = false;              // as the read thread last saw it
  std::atomic<int> ReadPauseResult{0};  // the read thread's last pause of the input; read on resume
  TSyncSource SyncSource = ssAudio;
  TPlaybackSettings Settings;
  std::atomic<int> ShowMode{smVideo};
  TExternalClock ExternalClock;

  // A pending seek; Seek* under SeekLock. Each request gets the next number: only the newest
  // one is announced as shown, so a picture of a seek that a later one overtook never is.
  std::mutex SeekLock;
  std::condition_variable SeekAsked;
  std::atomic<bool> SeekRequest{false};
  int SeekFlags = 0;
  int64_t SeekTarget = 0;
  int64_t SeekRelative = 0;
  int64_t SeekNumber = 0;

  std::mutex StatusLock;
  std::condition_variable StatusChanged;
  int OpenStatus = player_internal::osPending;
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
  bool HasSubtitle() const { return Subtitle.Open; }
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
                                  [this] { return OpenStatus != player_internal::osPending; });
  }
};

// The playing core: what runs on the read, video, refresh, play and audio threads.
struct TPlayerCore {
  // Any of the player's threads. A thread the system refuses (no thread or no memory left) is
  // reported with its reason, kept as LastErrMsg when asked, rather than thrown.
  template <typename... Args>
  static bool StartThread(TCustomPlayer& player, std::thread& thread, bool storeError,
                          Args&&... args) {
    try {
      thread = std::thread(std::forward<Args>(args)...);
      return true;
    } catch (const std::system_error& e) {
      player.SetLastError(std::string("SDL_CreateThread() failed: ") + e.what(), storeError);
    } catch (const std::bad_alloc&) {
      player.SetLastError("SDL_CreateThread() failed: out of memory", storeError);
    }
    return false;
  }

  // Read thread.
  static void ReadThread(TCustomPlayer& player, TPlayContext& context);
  static bool OpenInput(TCustomPlayer& player, TPlayContext& context);
  static void ReadLoop(TCustomPlayer& player, TPlayContext& context);
  static void ApplyPauseChange(TPlayContext& context);
  static int ReadPacket(TPlayContext& context, AVPacket* packet);
  static void QueuePacket(TPlayContext& context, AVPacket* packet);
  static void ApplySeek(TCustomPlayer& player, TPlayContext& context);
  static int SeekInput(AVFormatContext* input, int64_t minimum, int64_t target, int64_t maximum,
                       int flags);
  static int SeekBeforeTarget(TPlayContext& context, int64_t target, int flags,
                              player_internal::TPacketList& read);
  static int64_t FirstKeyPictureTime(TPlayContext& context, int64_t target,
                                     player_internal::TPacketList& read);
  static void FlushQueues(TPlayContext& context, const TFlushMark& mark);
  static bool IdleUntilSeek(TPlayContext& context, int milliseconds);
  static bool QueuesFull(const TPlayContext& context);
  static void HandleEndOfFile(TPlayContext& context);
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
  static bool FiltersAccepted(TCustomPlayer& player, TPlayContext& context, const AVStream& stream);
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
  static void SkipAudioToSeekTarget(TCustomPlayer& player, TPlayContext& context, TFlushMark mark);
  static void SoundDecoded(TCustomPlayer& player, TPlayContext& context, double pts, int& size);
  static int ConvertAudioFrame(TCustomPlayer& player, TAudioSide& audio);
  static bool PrepareResampler(TCustomPlayer& player, TAudioSide& audio, const AVFrame* frame);
  static void CopyOut(TCustomPlayer& player, Uint8* stream, const uint8_t* source, int size);

  // Pictures (video thread).
  static void VideoThread(TCustomPlayer& player, TPlayContext& context);
  static bool SeekWaitsForPicture(TPlayContext& context);
  static bool FilterAndQueue(TCustomPlayer& player, TPlayContext& context, AVFrame* frame,
                             AVFrame* filtered);
  static bool PrepareFilterGraph(TCustomPlayer& player, TPlayContext& context,
                                 const AVFrame* frame);
  static int GetVideoFrame(TCustomPlayer& player, TPlayContext& context, AVFrame* frame);
  static int ReceivePicture(TPlayContext& context, AVFrame* frame);
  static int PassSkippedPicture(TPlayContext& context, AVFrame* frame);
  static void SeekTargetReached(TPlayContext& context);
  static void SendVideoPacket(TCustomPlayer& player, TPlayContext& context, AVPacket* packet);
  static void FlushVideo(TCustomPlayer& player, TPlayContext& context, const TFlushMark& mark);
  static void DecoderEmptied(TCustomPlayer& player, TPlayContext& context);
  static bool QueuePicture(TCustomPlayer& player, TPlayContext& context, AVFrame* frame,
                           double pts);
  static bool WaitForOverlay(TCustomPlayer& player, TPlayContext& context, TPicture& picture,
                             const AVFrame* frame, std::unique_lock<std::mutex>& lock);
  static bool AllocateHeldFrames(TVideoSide& video);
  static void StorePicture(TCustomPlayer& player, TPlayContext& context, int index, AVFrame* frame,
                           double pts);
  static void MoveIntoOverlay(TCustomPlayer& player, TPicture& picture);
  static bool KeepsDecodedPicture(TCustomPlayer& player, bool hardwareOverlay);
  static bool ScreenReadsMatrix(TCustomPlayer& player, TPlayContext& context);
  static void PictureQueued(TCustomPlayer& player, TPlayContext& context);
  static void SeekShown(TCustomPlayer& player, TPlayContext& context, int64_t seek);
  static int64_t NewestSeek(TPlayContext& context);
  static void PauseAfterStep(TCustomPlayer& player, TPlayContext& context);

  // Subtitles (subtitle thread).
  static void SubtitleThread(TPlayContext& context);
  static void QueueSubtitle(TPlayContext& context, const AVSubtitle& subtitle, double pts);
  static void FreeSubtitles(TSubtitleSide& side, bool all, double pictureTime);

  // Clocks (any thread; the display's timing on the video thread).
  static double AudioClock(const TPlayContext& context);
  static double VideoClock(const TPlayContext& context);
  static double MasterClock(const TPlayContext& context);
  static bool FollowsMaster(const TPlayContext& context, bool video);
  static void ResumeVideoClocks(TPlayContext& context);
  static double TargetTime(TPlayContext& context, double pts);

  // Display and refresh (play thread).
  // Told whether the sound is shown: the read thread closes the sides once the play is
  // abandoned, which may be as soon as this thread starts.
  static void RefreshThread(TPlayContext& context, bool soundShown);
  static int PictureRefreshDelay(TPlayContext& context);
  static void EventLoop(TCustomPlayer& player);
  static bool HandleEvent(TCustomPlayer& player, TPlayContext& context, const SDL_Event& event);
  static int DisplayOpen(TCustomPlayer& player, TPlayContext& context, bool force);
  static void Display(TCustomPlayer& player, TPlayContext& context, bool again);
  static void ClearAround(TCustomPlayer& player, const SDL_Rect& keep);
  static void PictureDisplay(TCustomPlayer& player, TPlayContext& context, int index, bool whole);
  static bool DrawOnScreen(TCustomPlayer& player, TPlayContext& context, const TPicture& picture,
                           const SDL_Rect& rect);
  static void BlendSubtitle(TPlayContext& context, TPicture& picture);
  static void SoundDisplay(TCustomPlayer& player, TPlayContext& context);
  static void AllocatePicture(TCustomPlayer& player, TPlayContext& context);
  static void Refresh(TCustomPlayer& player, TPlayContext& context);
  static void AdvancePicture(TPlayContext& context);
  static void Resize(TCustomPlayer& player, TPlayContext& context, int width, int height);
  static void UpdatePosition(TCustomPlayer& player, TPlayContext& context);
  static void CheckEndPosition(TCustomPlayer& player, TPlayContext& context, int64_t position);
};
