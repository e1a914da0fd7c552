#include "FFPlayer_Private.h"

#include "PictureLayout.h"

using namespace player_internal;

namespace {

constexpr int64_t PositionStep = 10000;  // µs between two reported positions
// SDL tells of its own window's events only when asked: the play thread asks at least this
// often, and at once when one of the player's threads pushes an event.
constexpr int SDLPollPeriod = 20;               // ms
constexpr int PictureRefreshPeriod = 5;         // ms, while no picture waits
constexpr int LongestPictureRefreshDelay = 20;  // ms, for the position reports
constexpr Uint32 VideoModeFlags = SDL_HWSURFACE | SDL_ASYNCBLIT | SDL_HWACCEL | SDL_RESIZABLE;

}  // namespace

// ---- Display and refresh ----

// Refresh thread: asks the play thread to refresh, unless a refresh is still pending.
void TPlayerCore::RefreshThread(TPlayContext& context, bool soundShown) {
  TCustomPlayer& player = *context.Owner;
  const int soundPeriod = std::max(context.Settings.WaveformPeriod, 1);
  while (!context.AbortRequest) {
    if (!context.RefreshPending.exchange(true)) player.PushSDLEvent(evRefresh);
    SleepMs(soundShown ? soundPeriod : PictureRefreshDelay(context));
  }
}

// Refresh thread: ms until the picture at the head of the queue is due. Each wakeup costs
// processor time, so the thread sleeps until then rather than looking every few ms.
int TPlayerCore::PictureRefreshDelay(TPlayContext& context) {
  TVideoSide& video = context.Video;
  double due;
  {
    const std::lock_guard<std::mutex> lock(video.PictureLock);
    if (video.Size == 0 || context.Paused) return PictureRefreshPeriod;
    due = video.Pictures[video.ReadIndex].TargetClock;
  }
  const double wait = std::ceil((due - NowSeconds()) * 1000);
  return int(std::clamp(wait, 1.0, double(LongestPictureRefreshDelay)));
}

// Play thread.
void TPlayerCore::EventLoop(TCustomPlayer& player) {
  player.FPlayThreadStarted = true;
  for (;;) {
    SDL_Event event;
    if (!player.FSDL.SDL_PollEvent(&event)) {
      player.WaitForPushedEvent(SDLPollPeriod);
      continue;
    }
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
      Display(player, context, true);
      break;
    case evAllocPicture:
      AllocatePicture(player, context);
      break;
    case evRefresh:
      Refresh(player, context);
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
  Display(player, context, true);
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

// Play thread. The sound's view, or the picture due (at the read index), or `again` the whole
// window as it was: the one shown last on black, as after an uncovering, a resize or a new
// shape, since SDL never redraws a window it did not make.
void TPlayerCore::Display(TCustomPlayer& player, TPlayContext& context, bool again) {
  if (!player.FScreen && DisplayOpen(player, context, false) < 0) return;
  if (context.HasAudio() && context.ShowMode != smVideo) {
    // The sound's view is drawn into the screen's memory, which still holds it.
    if (again)
      player.FSDL.SDL_UpdateRect(player.FScreen, 0, 0, 0, 0);
    else
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
  if (index >= 0)
    PictureDisplay(player, context, index, again);
  else if (again)
    ClearAround(player, SDL_Rect{});
}

// Play thread: the screen black but for the place given (a picture there stays as it is).
void TPlayerCore::ClearAround(TCustomPlayer& player, const SDL_Rect& keep) {
  SDL_Surface* screen = player.FScreen;
  if (!screen) return;
  const int right = keep.x + keep.w;
  const int bottom = keep.y + keep.h;
  const SDL_Rect bands[] = {
      {0, 0, Uint16(screen->w), Uint16(keep.y)},
      {0, Sint16(bottom), Uint16(screen->w), Uint16(std::max(screen->h - bottom, 0))},
      {0, keep.y, Uint16(keep.x), keep.h},
      {Sint16(right), keep.y, Uint16(std::max(screen->w - right, 0)), keep.h}};
  const Uint32 black = player.FSDL.SDL_MapRGB(screen->format, 0, 0, 0);
  for (SDL_Rect band : bands) {
    if (band.w == 0 || band.h == 0) continue;
    player.FSDL.SDL_FillRect(screen, &band, black);
    player.FSDL.SDL_UpdateRect(screen, band.x, band.y, band.w, band.h);
  }
}

// Play thread, holding the player lock (so the overlay stays). Shows a picture centred in the
// window in its own shape (or the forced one; a negative aspect ratio fills the window), with
// the subtitle of its time; `whole`, with the black around it too.
void TPlayerCore::PictureDisplay(TCustomPlayer& player, TPlayContext& context, int index,
                                 bool whole) {
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
  if (whole) ClearAround(player, rect);
  if (picture.Overlay->hw_overlay || !DrawOnScreen(player, context, picture, rect)) {
    MoveIntoOverlay(player, picture);
    player.FSDL.SDL_DisplayYUVOverlay(picture.Overlay, &rect);
  }
}

// Play thread, holding the overlay's lock: the picture converted by libswscale straight into
// the screen, in place of SDL's slower conversion of an overlay in memory, and read in its own
// matrix on the way. False when the screen's layout is one it cannot write.
bool TPlayerCore::DrawOnScreen(TCustomPlayer& player, TPlayContext& context,
                               const TPicture& picture, const SDL_Rect& rect) {
  SDL_Surface* screen = player.FScreen;
  if (!screen || rect.x + rect.w > screen->w || rect.y + rect.h > screen->h) return false;
  const bool mustLock = SDL_MUSTLOCK(screen);
  if (mustLock && player.FSDL.SDL_LockSurface(screen) < 0) return false;
  player.FSDL.SDL_LockYUVOverlay(picture.Overlay);
  const bool drawn = context.Video.DisplayScaler.Draw(
      PicturePlanes(picture), picture.Width, picture.Height, picture.Matrix, *screen, rect);
  player.FSDL.SDL_UnlockYUVOverlay(picture.Overlay);
  if (mustLock) player.FSDL.SDL_UnlockSurface(screen);
  if (drawn) player.FSDL.SDL_UpdateRect(screen, rect.x, rect.y, rect.w, rect.h);
  return drawn;
}

// Play thread, holding the overlay's lock. Draws the subtitle whose time has come into the
// picture (once: the overlay keeps it).
void TPlayerCore::BlendSubtitle(TPlayContext& context, TPicture& picture) {
  TSubtitleSide& side = context.Subtitle;
  const std::lock_guard<std::mutex> lock(side.Lock);
  if (side.Size == 0) return;
  const TSubtitlePicture& entry = side.Pictures[side.ReadIndex];
  if (entry.StartTime() > picture.Pts) return;
  MoveIntoOverlay(*context.Owner, picture);
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
  video.ScalerDrawsScreen = !picture.Overlay->hw_overlay &&
                            SurfacePixelFormat(*player.FScreen->format) != AV_PIX_FMT_NONE;
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
void TPlayerCore::Refresh(TCustomPlayer& player, TPlayContext& context) {
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
    int64_t seek = -1;
    {
      const std::lock_guard<std::mutex> lock(video.PictureLock);
      size = video.Size;
      if (size > 0) {
        const TPicture& picture = video.Pictures[video.ReadIndex];
        targetClock = picture.TargetClock;
        pts = picture.Pts;
        firstAfterFlush = picture.FirstAfterFlush;
        seek = picture.Seek;
        nextTarget = size == QueuedPictures
                         ? video.Pictures[(video.ReadIndex + 1) % PictureSlots].TargetClock
                         : targetClock + video.Clock - pts;
        video.CurrentPos = picture.Pos;
      }
    }
    if (size == 0) {
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
    if (firstAfterFlush) SeekShown(player, context, seek);
    if (context.SyncSource == ssExternal && !context.ExternalClock.Started())
      context.ExternalClock.Start(pts);
    player.PictureShown(pts, AudioClock(context));
    AdvancePicture(context);
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
    if (player.OnPosition) player.FEventChannel->Events.Push({TPlayerEvent::ekPosition, position});
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
