#include "FFPlayer_Private.h"

#include <signal.h>

#include <utility>

using namespace player_internal;

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

namespace {
// The player whose position or state handler runs on this thread, if any.
thread_local const TCustomPlayer* HandlingPlayer = nullptr;
}  // namespace

// ---- The component ----

TCustomPlayer::TCustomPlayer() { ResetState(); }

TCustomPlayer::~TCustomPlayer() { StopForDestruction(); }

void TCustomPlayer::StopForDestruction() {
  FDestroying = true;
  Stop(true);
  if (HandlingPlayer == this)
    ReleaseEventThread();
  else
    JoinEventThread(true);
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
  ExchangeOptions(std::move(options));
}

bool TCustomPlayer::SetOption(const std::string& name, const std::string& value) {
  const std::lock_guard<std::mutex> lock(FOptionsLock);
  if (!FOptions) {
    FLastErrMsg = "libav not loaded.";
    return false;
  }
  if (OptDefault(*FOptions, name, value)) return true;
  FLastErrMsg = LastOptionError();
  return false;
}

std::unique_ptr<TOptionContexts> TCustomPlayer::ExchangeOptions(
    std::unique_ptr<TOptionContexts> options) {
  const std::lock_guard<std::mutex> lock(FOptionsLock);
  std::swap(options, FOptions);
  return options;
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

bool TCustomPlayer::ScreenExposed(TScreenHandle screen) {
  return screen == FScreenHandle && PushSDLEvent(SDL_VIDEOEXPOSE);
}

void TCustomPlayer::ScreenResized(int width, int height) {
  FWindowWidth = width;
  FWindowHeight = height;
  PushSDLEvent(SDL_VIDEORESIZE, 0, width, height);
}

bool TCustomPlayer::SDLRunning() const {
  const std::lock_guard<std::mutex> lock(FSDLLock);
  return FSDLRunning;
}

// Any thread. SDL's queue takes events from any thread while SDL runs. The play thread is woken
// once the lock is free, so that it does not wake only to wait for the lock.
bool TCustomPlayer::PushSDLEvent(int type, int code, int width, int height) {
  {
    const std::lock_guard<std::mutex> lock(FSDLLock);
    if (!FSDLRunning) return false;
    SDL_Event event{};
    event.type = Uint8(type);
    if (type == SDL_VIDEORESIZE) {
      event.resize.w = width;
      event.resize.h = height;
    } else {
      event.user.code = code;
    }
    if (FSDL.SDL_PushEvent(&event) < 0) return false;
    FEventPushed = true;
  }
  FEventPushedChanged.notify_one();
  return true;
}

// Play thread: until an event is pushed, or at most the time given.
void TCustomPlayer::WaitForPushedEvent(int milliseconds) {
  std::unique_lock<std::mutex> lock(FSDLLock);
  FEventPushedChanged.wait_for(lock, std::chrono::milliseconds(milliseconds),
                               [this] { return FEventPushed; });
  FEventPushed = false;
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
  std::unique_ptr<TOptionContexts> options = ExchangeOptions(nullptr);
  Stop(true);
  FStartTime = startTime;
  FEndPosition = endPosition;
  FEndAction = endAction;
  FVerticalFlip = verticalFlip;
  ExchangeOptions(std::move(options));
  // The new play's event thread goes once Open is done: to raise the play's reports, or to end
  // unheard when the play did not start.
  struct TEventThreadRelease {
    std::shared_ptr<TEventChannel> Channel;
    bool Opened = false;
    ~TEventThreadRelease() {
      if (!Channel) return;
      if (!Opened) Channel->Terminated = true;
      Channel->Started.Set();
    }
  } release;
  try {
    release.Channel = StartEventThread();
    release.Opened = release.Channel && OpenPlay(fileName, screenHandle, startPaused);
  } catch (const std::bad_alloc&) {
    AbandonPlay();
    SetLastError(fileName + ": out of memory", true);
  }
  return release.Opened;
}

// Caller's thread: starts SDL, the stream and the play thread; what it started goes again when
// a step fails.
bool TCustomPlayer::OpenPlay(const std::string& fileName, TScreenHandle screenHandle,
                             bool startPaused) {
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
  if (StartPlayThread()) return true;
  AbandonPlay();
  return false;
}

// Caller's thread, before the play thread runs: closes whatever of a play the opening set up.
void TCustomPlayer::AbandonPlay() {
  {
    const auto lock = LockServingMainThread(FPlayerLock);
    CloseStream();
  }
  CloseSDL();
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
  FSeekDisplayed.Set();
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
  if (!TPlayerCore::StartThread(*this, context->ReadThread, true, TPlayerCore::ReadThread,
                                std::ref(*this), std::ref(*context))) {
    SetOpeningContext(nullptr);
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
  const bool soundShown = context->HasAudio() && context->ShowMode != smVideo;
  if (!TPlayerCore::StartThread(*this, context->RefreshThread, true, TPlayerCore::RefreshThread,
                                std::ref(*context), soundShown)) {
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
    DisplayedSize(DisplayQuarterTurns(context.Video.Stream), frameWidth, frameHeight);
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

// Event thread. The handler runs on the main thread or on this one; either way the event
// thread waits for it, so a Stop inside it must not wait for the event thread.
void TCustomPlayer::RaiseHandler(const std::function<void()>& handler) {
  DeliverEvent([this, &handler] {
    struct TRestore {
      const TCustomPlayer* Outer;
      ~TRestore() { HandlingPlayer = Outer; }
    } restore{std::exchange(HandlingPlayer, this)};
    handler();
  });
}

void TCustomPlayer::DeliverEvent(const std::function<void()>& raise) {
  if (TriggerEventInMainThread)
    RunInMainThread(raise);
  else
    raise();
}

// Caller's thread. The thread waits for the one before it, left running inside its handler,
// until that one has raised its play's stop; it raises nothing before Open lets it start.
std::shared_ptr<TEventChannel> TCustomPlayer::StartEventThread() {
  auto channel = std::make_shared<TEventChannel>();
  channel->PlayerGone = FGone;
  if (FEventChannel && FEventChannel->Thread.joinable()) channel->Predecessor = FEventChannel;
  if (!TPlayerCore::StartThread(*this, channel->Thread, true, &TCustomPlayer::EventThreadExecute,
                                this, channel))
    return nullptr;
  FEventChannel = channel;
  return channel;
}

// Caller's thread, outside the player's handlers. Without Terminate the thread ends once it
// has raised the final state; it may be waiting for the main thread to raise an event.
void TCustomPlayer::JoinEventThread(bool terminate) {
  if (!FEventChannel || !FEventChannel->Thread.joinable()) return;
  if (terminate) {
    FEventChannel->Terminated = true;
    FEventChannel->Events.Ready.Set();
  }
  WaitServingMainThread(FEventChannel->Ended);
  FEventChannel->Thread.join();
}

// Inside a handler, while the player goes: the event threads that wait for that handler end
// after it by themselves, without touching the player again.
void TCustomPlayer::ReleaseEventThread() {
  *FGone = true;
  if (FEventChannel && FEventChannel->Thread.joinable()) FEventChannel->Thread.detach();
}

// Event thread. Only the channel is looked at once the player may be gone.
void TCustomPlayer::EventThreadExecute(std::shared_ptr<TEventChannel> channel) {
  while (!channel->Started.WaitFor(1000)) {
  }
  if (channel->Predecessor) {
    channel->Predecessor->Thread.join();
    channel->Predecessor.reset();
  }
  if (!*channel->PlayerGone) RaiseEvents(*channel);
  channel->Ended.Set();
}

// Event thread: raises the queued position and state reports. A handler may destroy the
// player; it runs from a copy, which lives on until it returns.
void TCustomPlayer::RaiseEvents(TEventChannel& channel) {
  while (!channel.Terminated && !*channel.PlayerGone) {
    const TPlayerEvent event = channel.Events.Pop();
    if (event.Kind == TPlayerEvent::ekPosition) {
      FPosition = event.Value;
      // The handler is looked at again where it runs: it may have gone while the call waited
      // for the main thread.
      if (!FDestroying && OnPosition)
        RaiseHandler([this, &event] {
          if (const TPositionEvent handler = OnPosition) handler(this, event.Value);
        });
    } else if (event.Kind == TPlayerEvent::ekState) {
      const auto state = TPlayState(event.Value);
      if (!FDestroying && OnState)
        RaiseHandler([this, state] {
          if (const TPlayStateEvent handler = OnState) handler(this, state);
        });
      if (state == psStop) return;
    } else if (event.Kind == TPlayerEvent::ekQuit) {
      return;
    } else {
      channel.Events.Ready.WaitFor(100);
    }
  }
}

// Any of the player's threads.
void TCustomPlayer::SetPlayState(TPlayState state) {
  FPlayState = state;
  if (OnState)
    FEventChannel->Events.Push({TPlayerEvent::ekState, state});
  else if (state == psStop)
    FEventChannel->Events.Push({TPlayerEvent::ekQuit, 0});
}

bool TCustomPlayer::StartPlayThread() {
  FPlayThreadStarted = false;
  FStopped.Reset();
  if (!TPlayerCore::StartThread(*this, FPlayThread, true, &TCustomPlayer::PlayThreadExecute,
                                this)) {
    FStopped.Set();
    return false;
  }
  while (!FPlayThreadStarted) SleepMs(10);
  return true;
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

// Caller's thread, holding the player lock. A seek on its way is carried out and shown while
// paused as well, so the pause does not wait for its picture (which the play thread shows
// holding the lock held here).
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
    context.ExternalClock.SetPaused(true);
    context.Paused = true;
  }
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
  TPicture shown;
  {
    const std::lock_guard<std::mutex> pictureLock(video.PictureLock);
    index = video.ShownIndex;
    if (index < 0) return bitmap;
    shown = video.Pictures[index];
  }
  if (!shown.Overlay) return bitmap;
  const std::lock_guard<std::mutex> overlayLock(video.OverlayLocks[index]);
  FSDL.SDL_LockYUVOverlay(shown.Overlay);
  const TAVPicture picture = PicturePlanes(shown);
  const bool converted =
      FFrameConverter.PictureToBitmap(picture.data, picture.linesize, AV_PIX_FMT_YUV420P, true,
                                      shown.Width, shown.Height, shown.Matrix);
  FSDL.SDL_UnlockYUVOverlay(shown.Overlay);
  if (!converted) {
    SetLastError(FFrameConverter.LastError, false);
    bitmap.SetSize(0, 0);
  }
  return bitmap;
}

// Video thread, holding the overlay's lock.
bool TCustomPlayer::PicturesHooked() const {
  return (VideoHook && OnVideoHook) || (FrameHook && OnFrameHook);
}

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

// Holding the player lock. The read thread carries the seek out; the latest request wins: a
// request still pending takes the new target, so that the picture ends where the user went.
void TCustomPlayer::RequestSeek(TPlayContext& context, int flags, int64_t position) {
  const bool byBytes = flags & AVSEEK_FLAG_BYTE;
  int64_t relative = 0;
  if (!byBytes) {
    if (context.InputDuration > 0) position = std::min(position, context.InputDuration);
    relative = position > 0 ? 0 : 1;
    position += context.InputStart;
  }
  {
    const std::lock_guard<std::mutex> seekLock(context.SeekLock);
    if (FSeekDisplay && !byBytes) FSeekReached = false;
    FSeeking = true;
    context.PausedAtSeek = bool(context.Paused);
    context.SeekTarget = position;
    context.SeekRelative = relative;
    context.SeekFlags = flags;
    ++context.SeekNumber;
    FSeekDone.Reset();
    FSeekDisplayed.Reset();
    context.SeekRequest = true;
  }
  context.SeekAsked.notify_one();
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
    // Inside a position or state handler the event thread waits for this very call: it ends
    // by itself once it has raised the final state, and the next Open, Stop or the destructor
    // outside a handler (or the next play's event thread) collects it.
    if (HandlingPlayer != this) JoinEventThread(false);
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
