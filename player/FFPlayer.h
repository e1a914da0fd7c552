// The media player: plays one media file with sound inside a window that the caller owns.
// SDL 1.2 draws into that window (its X11 id goes to SDL through SDL_WINDOWID) and plays the
// sound; FFmpeg reads and decodes. Per open file the player runs a play thread (SDL's event
// loop: display, refresh, overlay allocation, quit), an event thread (position and state
// reports), a read thread, a video thread, a subtitle thread (for files with subtitles) and a
// refresh thread; SDL's audio thread pulls the sound. The caller's toolkit forwards paint and
// resize of the window (see player/qt).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "FFBaseComponent.h"
#include "FFDecode.h"
#include "FFUtils.h"
#include "MyUtils.h"
#include "PlayerEvents.h"
#include "libsdl.h"

enum TPlayState { psPlay, psPause, psResume, psStep, psStop, psEnd };

// SDL's driver names on Linux; the defaults leave SDL_AUDIODRIVER / SDL_VIDEODRIVER as the
// environment has them.
enum TAudioDriver { adDefault, adPulse, adALSA, adDummy, adDisk };
enum TVideoDriver { vdDefault, vdX11, vdDummy };
const char* AudioDriverName(TAudioDriver driver);
const char* VideoDriverName(TVideoDriver driver);

// Which clock the others follow: the sound's, the pictures', or the wall clock from the first
// picture (or sound) on.
enum TSyncSource { ssAudio, ssVideo, ssExternal };

// What the player does when it reaches the end position.
enum TEndAction { eaStop = 1, eaSeekToStart = 2 };

// How each file is decoded and shown; copied into the play state when a file opens.
struct TPlaybackSettings {
  // Passed to every decoder.
  int ThreadCount = 1;
  int WorkaroundBugs = 1;
  bool Fast = false;
  bool GenerateMissingPts = false;
  int LowResolution = 0;
  int IDCT = 0;  // automatic
  AVDiscard SkipFrame = AVDISCARD_DEFAULT;
  AVDiscard SkipIDCT = AVDISCARD_DEFAULT;
  AVDiscard SkipLoopFilter = AVDISCARD_DEFAULT;
  int ErrorRecognition = 1;
  int ErrorConcealment = 3;
  // The time of a picture: -1 the decoder's best guess, 0 its packet's decoding time, another
  // value its packet's presentation time.
  int DecoderReorder = -1;
  // Late pictures are dropped: -1 when sound sets the pace, 0 never, above 0 always.
  int FrameDrop = -1;
  // Milliseconds between two pictures of the sound (waves or spectrum).
  int WaveformPeriod = 20;
  // Filter-chain text between the decoder and the display; the engine's own filters included.
  std::string VideoFilters;
  // -1: the pictures when the file has any, else the spectrum; or a TShowMode.
  int ShowMode = -1;
  // A frame rate ("25", "30000/1001") that overrides the stream's; empty for none.
  std::string ForcedFrameRate;
  // Trust the container's frame rate over the codec's when they differ.
  bool UseContainerFrameRate = true;
  // The reader's end-of-file flag ends the input, even without an end-of-file result.
  bool EndFlagIsEnd = true;
  bool StopOnIOError = true;
};

// The native window the player draws into (an X11 window id); 0 for a window of SDL's own.
using TScreenHandle = unsigned long;

using TFileOpenEvent = std::function<void(void* sender, int64_t duration, int frameWidth,
                                          int frameHeight, int& screenWidth, int& screenHeight)>;
using TPositionEvent = std::function<void(void* sender, int64_t pts)>;
using TPlayStateEvent = std::function<void(void* sender, TPlayState playState)>;

struct TPlayContext;

class TCustomPlayer : public TFFBaseComponent {
 public:
  // Hooks, raised on the decoding threads; times are µs from the input's start.
  // A picture as a bitmap; with `update` left true the drawing goes back into the picture.
  using TVideoHookEvent =
      std::function<void(void* sender, TBitmap* bitmap, int64_t pts, bool& update)>;
  // A picture in place (planar YUV 4:2:0, as it will be shown).
  using TFrameHookEvent = std::function<void(
      void* sender, TAVPicture* picture, AVPixelFormat pixFmt, int width, int height, int64_t pts)>;
  // A decoded buffer of packed signed 16-bit sound.
  using TAudioHookEvent = std::function<void(void* sender, int64_t pts, uint8_t* sample, int size,
                                             int sampleRate, int channels)>;

  TCustomPlayer();
  ~TCustomPlayer() override;
  TCustomPlayer(const TCustomPlayer&) = delete;
  TCustomPlayer& operator=(const TCustomPlayer&) = delete;

  // Main thread, before playing. Loads the FFmpeg libraries from Path (a folder; empty for the
  // system's) and, when asked, SDL. False with LastErrMsg on failure.
  bool LoadAVLib(const std::string& path, bool loadSDL = true);
  bool LoadSDL(const std::string& path, const std::string& dllName = SDLLibraryName);
  bool AVLibLoaded() const;
  bool SDLLoaded() const { return FSDLLoader.Loaded(); }

  // Caller's thread (normally the main thread). Stops what plays, starts SDL inside the window
  // and opens the file; returns once the file plays (or pauses after its first pictures with
  // StartPaused). False with LastErrMsg, also when a thread cannot start or memory runs out.
  // Open and Stop may be called inside the player's own position and state handlers as well.
  bool Open(const std::string& fileName, TScreenHandle screenHandle, bool startPaused = false);
  // With WaitForStop the call returns once the play threads have ended and SDL is closed.
  void Stop(bool waitForStop);
  void Pause();
  void Resume();
  // Position in µs (or a byte offset with sfByte). The latest request wins: one still pending
  // takes the new position. With Wait the call returns once the seek is done and (with video)
  // its picture is shown: the one at the position with SeekDisplay, else the key frame's, or
  // the last picture when the file ends first. SeekReached tells the same of the latest seek.
  void Seek(TSeekFlags flags, bool wait, int64_t position);
  void SetSeekDisplay(bool value) { FSeekDisplay = value; }
  void SetSeekReached(bool value) { FSeekReached = value; }
  // Shows the next picture and pauses (from a pause, or while playing).
  void Step();
  // Caller's thread. The picture on show as a bitmap of its own size; an empty bitmap when
  // nothing is shown.
  TBitmap CurrentFrame();

  // Settings of the next file (or the open one), forgotten when a file closes: where the play
  // starts (µs; AV_NOPTS_VALUE for the beginning), where it ends and what happens then, the
  // picture turned upside down, and FFmpeg's generic options for the demuxer and decoders.
  int64_t StartTime() const { return FStartTime; }
  void SetStartTime(int64_t value) { FStartTime = value; }
  int64_t EndPosition() const { return FEndPosition; }
  TEndAction EndAction() const { return FEndAction; }
  void SetEndPosition(int64_t position, TEndAction action = eaStop);
  bool VerticalFlip() const { return FVerticalFlip; }
  void SetVerticalFlip(bool value) { FVerticalFlip = value; }
  // False with LastErrMsg when FFmpeg knows no such option or refuses the value.
  bool SetOption(const std::string& name, const std::string& value);

  // The toolkit's side of the window, from its GUI thread: the window needs painting again,
  // or has a new size (also before Open: a surface size of 0 takes the window's). Painting
  // is left to the caller (false) when nothing plays into that window.
  bool ScreenExposed(TScreenHandle screen);
  void ScreenResized(int width, int height);

  float AspectRatio() const { return FAspectRatio; }
  void SetAspectRatio(float value);
  // 0..128: 128 plays the samples as decoded, 0 plays silence.
  int AudioVolume() const { return FAudioVolume; }
  void SetAudioVolume(int value);
  bool Mute() const { return FMute; }
  void SetMute(bool value) { FMute = value; }
  // The picture size asked of raw inputs; an odd value throws "Frame size must be a multiple of 2".
  int FrameWidth() const { return FFrameWidth; }
  int FrameHeight() const { return FFrameHeight; }
  void SetFrameWidth(int value);
  void SetFrameHeight(int value);
  // The drawing surface; 0 takes the window's size. The player updates them when the window
  // is resized.
  int ScreenWidth() const { return FScreenWidth; }
  int ScreenHeight() const { return FScreenHeight; }
  void SetScreenWidth(int value) { FScreenWidth = value; }
  void SetScreenHeight(int value) { FScreenHeight = value; }

  TAudioDriver AudioDriver = adDefault;
  TVideoDriver VideoDriver = vdDefault;
  bool DisableAudio = false;
  bool DisableVideo = false;
  bool DisableDisplay = false;
  TSyncSource SyncSource = ssAudio;
  // I/O time limit of opening and probing, in ms; 0 for none.
  std::atomic<int> Timeout{10000};
  // Raise OnFileOpen, OnBeforeFindStreamInfo, OnPosition and OnState on the main thread.
  bool TriggerEventInMainThread = true;
  // Raise OnAudioHook for each decoded sound buffer (on SDL's audio thread), OnVideoHook and
  // OnFrameHook for each picture that enters the picture queue (on the video thread).
  std::atomic<bool> AudioHook{false};
  std::atomic<bool> VideoHook{false};
  std::atomic<bool> FrameHook{false};
  // Deinterlace each picture; a deinterlacer that fails turns this off.
  std::atomic<bool> Deinterlace{false};
  TPlaybackSettings Settings;

  // Set the events before Open; they are read from the player's threads.
  TFileOpenEvent OnFileOpen;
  TPositionEvent OnPosition;
  TPlayStateEvent OnState;
  TAudioHookEvent OnAudioHook;
  TVideoHookEvent OnVideoHook;
  TFrameHookEvent OnFrameHook;
  TBeforeFindStreamInfoEvent OnBeforeFindStreamInfo;

  const std::string& LastErrMsg() const { return FLastErrMsg; }
  // The playing file's information, while it plays.
  TFFDecoder& Decoder() { return FDecoder; }
  const std::string& FileName() const { return FFileName; }
  TScreenHandle ScreenHandle() const { return FScreenHandle; }
  bool SeekDisplay() const { return FSeekDisplay; }
  bool SeekReached() const { return FSeekReached; }
  bool Seeking() const { return FSeeking; }
  // The position last handed to OnPosition, in µs.
  int64_t Position() const { return FPosition; }
  TPlayState PlayState() const { return FPlayState; }

 protected:
  // Play thread, after each picture it showed: the picture's time and the sound's clock at that
  // moment (s). Nothing by default; a subclass that measures the display overrides it.
  virtual void PictureShown(double pts, double audioClock);
  // Caller's thread, or inside one of the player's own handlers (the handler's copy of itself
  // stays alive until it returns; it touches nothing of the player afterwards). Stops playing
  // and the threads, for good. The destructor of every class
  // that overrides PictureShown calls it first, so that no thread calls into a part of the
  // object that is already gone.
  void StopForDestruction();

 private:
  friend struct TPlayerCore;

  void SetLastError(const std::string& msg, bool store);
  bool InitSDL(TScreenHandle screenHandle);
  void CloseSDL();
  void ResetState();
  bool SDLRunning() const;
  void SetSDLDriverVariables() const;
  bool OpenPlay(const std::string& fileName, TScreenHandle screenHandle, bool startPaused);
  void AbandonPlay();
  bool PlayerStreamOpen(const std::string& fileName, bool startPaused);
  void SetOpeningContext(TPlayContext* context);
  void DoFileOpen();
  std::shared_ptr<TEventChannel> StartEventThread();
  void JoinEventThread(bool terminate);
  void ReleaseEventThread();
  bool StartPlayThread();
  void PlayThreadExecute();
  void EventThreadExecute(std::shared_ptr<TEventChannel> channel);
  void RaiseEvents(TEventChannel& channel);
  void WaitForStop();
  void WaitForPlayThread();
  void TogglePause(TPlayContext& context);
  void RequestSeek(TPlayContext& context, int flags, int64_t position);
  void StopPlaying(TPlayContext& context);
  // A video or frame hook would see (and may draw on) each picture.
  bool PicturesHooked() const;
  void DoVideoHook(TAVPicture& picture, int width, int height, int64_t pts);
  void DoFrameHook(TAVPicture& picture, int width, int height, int64_t pts);
  void InitOptions();
  // Puts `options` in the place of the options for the next file and gives the ones it had.
  std::unique_ptr<TOptionContexts> ExchangeOptions(std::unique_ptr<TOptionContexts> options);
  // The options set for the file on a codec or format context of the file being opened.
  template <typename Context>
  void ApplyOptions(Context* context, int flags) {
    const std::lock_guard<std::mutex> lock(FOptionsLock);
    if (FOptions) SetContextOptions(*FOptions, context, flags);
  }
  // False when SDL does not run or its queue is full.
  bool PushSDLEvent(int type, int code = 0, int width = 0, int height = 0);
  void WaitForPushedEvent(int milliseconds);
  void PostQuit();
  void SetPlayState(TPlayState state);
  void DeliverEvent(const std::function<void()>& raise);
  void RaiseHandler(const std::function<void()>& handler);
  void CloseStream();

  TSDLLoader FSDLLoader;
  TSDLEntryPoints FSDL;
  bool FSDLRequired = false;
  std::string FLastErrMsg;
  std::string FFileName;
  TScreenHandle FScreenHandle = 0;
  TFFDecoder FDecoder;

  std::atomic<float> FAspectRatio{0};
  std::atomic<int> FAudioVolume{128};
  std::atomic<bool> FMute{false};
  int FFrameWidth = 0;
  int FFrameHeight = 0;
  std::atomic<int> FScreenWidth{0};
  std::atomic<int> FScreenHeight{0};
  std::atomic<int> FWindowWidth{0};
  std::atomic<int> FWindowHeight{0};
  int FFullScreenWidth = 0;
  int FFullScreenHeight = 0;
  int FScreenDepth = 0;
  SDL_Surface* FScreen = nullptr;  // the play thread's

  // SDL runs between InitSDL and CloseSDL; events are pushed only then. A push wakes the play
  // thread's wait for events.
  mutable std::mutex FSDLLock;
  bool FSDLRunning = false;
  bool FEventPushed = false;
  std::condition_variable FEventPushedChanged;

  // The play state while a file is open; the play thread handles each event holding
  // FPlayerLock, and whoever closes the stream takes the state out under it.
  std::mutex FPlayerLock;
  std::unique_ptr<TPlayContext> FContext;
  // The state whose read thread is opening the input, for Stop's cancel path; under
  // FPlayerLock.
  TPlayContext* FOpeningContext = nullptr;
  // I/O start of the opening (µs); the largest value runs no limit, 0 cancels.
  std::atomic<int64_t> FIOStartTime{INT64_MAX};

  TManualResetEvent FSeekDone{true};
  TManualResetEvent FSeekDisplayed{true};
  TManualResetEvent FStopped{true};
  std::atomic<bool> FSeeking{false};
  std::atomic<bool> FSeekDisplay{false};
  std::atomic<bool> FSeekReached{false};

  // The newest event thread's; the play's threads push their reports into it.
  std::shared_ptr<TEventChannel> FEventChannel;
  const std::shared_ptr<std::atomic<bool>> FGone = std::make_shared<std::atomic<bool>>(false);
  std::atomic<int64_t> FPosition{-1};
  std::atomic<int64_t> FLastReportedPosition{INT64_MIN};
  std::atomic<TPlayState> FPlayState{psStop};
  std::atomic<bool> FDestroying{false};
  std::atomic<bool> FPlayThreadStarted{false};
  std::thread FPlayThread;
  // The time SDL last asked for sound (µs).
  std::atomic<int64_t> FLastAudioCallbackTime{0};
  std::atomic<bool> FStep{false};

  std::atomic<int64_t> FStartTime{AV_NOPTS_VALUE};
  std::atomic<int64_t> FEndPosition{AV_NOPTS_VALUE};
  std::atomic<TEndAction> FEndAction{eaStop};
  std::atomic<bool> FVerticalFlip{false};
  // The caller sets options for the next file while a play thread that is closing may renew
  // them: both go through this lock.
  std::mutex FOptionsLock;
  std::unique_ptr<TOptionContexts> FOptions;

  // The first converter makes CurrentFrame's bitmap (caller's thread), the second the video
  // hook's (video thread).
  TFormatConverter FFrameConverter;
  TFormatConverter FHookConverter;
};

class TFFPlayer : public TCustomPlayer {
 public:
  ~TFFPlayer() override { StopForDestruction(); }
};
