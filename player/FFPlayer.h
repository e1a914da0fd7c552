// The media player: plays one media file with sound inside a window that the caller owns.
// SDL 1.2 draws into that window (its X11 id goes to SDL through SDL_WINDOWID) and plays the
// sound; FFmpeg reads and decodes. Per open file the player runs a play thread (SDL's event
// loop: display, refresh, overlay allocation, quit), an event thread (position and state
// reports), a read thread, a video thread and a refresh thread; SDL's audio thread pulls the
// sound. The caller's toolkit forwards paint and resize of the window (see player/qt).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "FFBaseComponent.h"
#include "FFDecode.h"
#include "PlayerEvents.h"
#include "libsdl.h"

enum TPlayState { psPlay, psPause, psResume, psStep, psStop, psEnd };

// SDL's driver names on Linux; the defaults leave SDL_AUDIODRIVER / SDL_VIDEODRIVER as the
// environment has them.
enum TAudioDriver { adDefault, adPulse, adALSA, adDummy, adDisk };
enum TVideoDriver { vdDefault, vdX11, vdDummy };
const char* AudioDriverName(TAudioDriver driver);
const char* VideoDriverName(TVideoDriver driver);

// Which clock the others follow.
enum TSyncSource { ssAudio, ssVideo };

// The native window the player draws into (an X11 window id); 0 for a window of SDL's own.
using TScreenHandle = unsigned long;

using TFileOpenEvent = std::function<void(void* sender, int64_t duration, int frameWidth,
                                          int frameHeight, int& screenWidth, int& screenHeight)>;
using TPositionEvent = std::function<void(void* sender, int64_t pts)>;
using TPlayStateEvent = std::function<void(void* sender, TPlayState playState)>;
using TAudioHookEvent = std::function<void(void* sender, int64_t pts, uint8_t* sample, int size,
                                           int sampleRate, int channels)>;

struct TPlayContext;

class TCustomPlayer : public TFFBaseComponent {
 public:
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
  // StartPaused). False with LastErrMsg.
  bool Open(const std::string& fileName, TScreenHandle screenHandle, bool startPaused = false);
  // With WaitForStop the call returns once the play threads have ended and SDL is closed.
  void Stop(bool waitForStop);
  void Pause();
  void Resume();
  // Position in µs (or a byte offset with sfByte). A request is ignored while another one is
  // pending; with Wait the call returns once the seek is done and (with video) shown.
  void Seek(TSeekFlags flags, bool wait, int64_t position);
  void SetSeekDisplay(bool value) { FSeekDisplay = value; }
  void SetSeekReached(bool value) { FSeekReached = value; }

  // The toolkit's side of the window, from its GUI thread: the window needs painting again,
  // or has a new size (also before Open: a surface size of 0 takes the window's).
  void ScreenExposed();
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
  // Raise OnAudioHook for each decoded sound buffer (on SDL's audio thread).
  std::atomic<bool> AudioHook{false};

  // Set the events before Open; they are read from the player's threads.
  TFileOpenEvent OnFileOpen;
  TPositionEvent OnPosition;
  TPlayStateEvent OnState;
  TAudioHookEvent OnAudioHook;
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

 private:
  friend struct TPlayerCore;

  void SetLastError(const std::string& msg, bool store);
  bool InitSDL(TScreenHandle screenHandle);
  void CloseSDL();
  void ResetState();
  bool SDLRunning() const;
  void SetSDLDriverVariables() const;
  bool PlayerStreamOpen(const std::string& fileName, bool startPaused);
  void DoFileOpen();
  void StartEventThread();
  void StopEventThread(bool terminate);
  void StartPlayThread();
  void PlayThreadExecute();
  void EventThreadExecute();
  void WaitForStop();
  void WaitForPlayThread();
  void TogglePause(TPlayContext& context);
  void PushSDLEvent(int type, int code = 0, int width = 0, int height = 0);
  void PostQuit();
  void SetPlayState(TPlayState state);
  void DeliverEvent(const std::function<void()>& raise);
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

  // SDL runs between InitSDL and CloseSDL; events are pushed only then.
  mutable std::mutex FSDLLock;
  bool FSDLRunning = false;

  // The play state while a file is open; the play thread handles each event holding
  // FPlayerLock, and whoever closes the stream takes the state out under it.
  std::mutex FPlayerLock;
  std::unique_ptr<TPlayContext> FContext;
  // The state whose read thread is opening the input, for Stop's cancel path.
  std::atomic<TPlayContext*> FOpeningContext{nullptr};
  // I/O start of the opening (µs); the largest value runs no limit, 0 cancels.
  std::atomic<int64_t> FIOStartTime{INT64_MAX};

  TManualResetEvent FSeekDone{true};
  TManualResetEvent FSeekDisplayed{true};
  TManualResetEvent FStopped{true};
  std::atomic<bool> FSeeking{false};
  std::atomic<bool> FSeekDisplay{false};
  std::atomic<bool> FSeekReached{false};

  TPlayerEventRing FEvents;
  std::atomic<int64_t> FPosition{-1};
  std::atomic<int64_t> FLastReportedPosition{INT64_MIN};
  std::atomic<TPlayState> FPlayState{psStop};
  std::atomic<bool> FDestroying{false};
  std::atomic<bool> FEventThreadTerminated{false};
  std::atomic<bool> FPlayThreadStarted{false};
  std::thread FEventThread;
  std::thread FPlayThread;
  // The time SDL last asked for sound (µs).
  std::atomic<int64_t> FLastAudioCallbackTime{0};
};

class TFFPlayer : public TCustomPlayer {};
