#include "FFPlayer_Private.h"

using namespace player_internal;

// ---- Clocks ----

bool TExternalClock::Started() const {
  const std::lock_guard<std::mutex> lock(FLock);
  return FStarted;
}

void TExternalClock::Start(double value) {
  const std::lock_guard<std::mutex> lock(FLock);
  FValue = value;
  FSetTime = NowUS();
  FStarted = true;
}

void TExternalClock::Forget() {
  const std::lock_guard<std::mutex> lock(FLock);
  FStarted = false;
}

void TExternalClock::SetPaused(bool paused) {
  const std::lock_guard<std::mutex> lock(FLock);
  if (paused == FPaused) return;
  const int64_t now = NowUS();
  if (paused) FValue += (now - FSetTime) * 0.000001;
  FSetTime = now;
  FPaused = paused;
}

double TExternalClock::Value() const {
  const std::lock_guard<std::mutex> lock(FLock);
  return FPaused ? FValue : FValue + (NowUS() - FSetTime) * 0.000001;
}

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

// Any thread. The sound's clock, less what is decoded but not yet handed to the device.
double TPlayerCore::AudioClock(const TPlayContext& context) {
  const TAudioSide& audio = context.Audio;
  const double bytesPerSecond = 2.0 * audio.Channels * audio.SampleRate;
  const double pending = audio.BufferSize - audio.BufferIndex;
  return bytesPerSecond > 0 ? audio.Clock - pending / bytesPerSecond : double(audio.Clock);
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
