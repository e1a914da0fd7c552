#include "FFPlayer_Private.h"

using namespace player_internal;

// ---- Pictures ----

// Video thread: decodes pictures, passes them through the filter graph and queues them for
// display.
void TPlayerCore::VideoThread(TCustomPlayer& player, TPlayContext& context) {
  TVideoSide& video = context.Video;
  AVFrame* frame = ff::av_frame_alloc();
  AVFrame* filtered = ff::av_frame_alloc();
  video.Packet = ff::av_packet_alloc();
  video.Skipped = ff::av_frame_alloc();
  if (frame && filtered && video.Packet && video.Skipped && AllocateHeldFrames(video)) {
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

// Video thread, before the first picture is queued.
bool TPlayerCore::AllocateHeldFrames(TVideoSide& video) {
  const std::lock_guard<std::mutex> lock(video.PictureLock);
  for (TPicture& picture : video.Pictures) {
    picture.Frame = ff::av_frame_alloc();
    if (!picture.Frame) return false;
  }
  return true;
}

// Video thread. While paused, a seek still needs its picture from the time its flush marker
// is queued until the first picture after the marker is queued; a marker that the queue
// still holds keeps the decoding going too. Not before the marker: the packets the seek
// throws away would give pictures of the old place, shown on the way.
bool TPlayerCore::SeekWaitsForPicture(TPlayContext& context) {
  TVideoSide& video = context.Video;
  if (video.Queue.FlushPending()) return true;
  const std::lock_guard<std::mutex> lock(video.PictureLock);
  return video.FirstAfterFlush;
}

// Video thread. False when the stream closes or the filters fail.
bool TPlayerCore::FilterAndQueue(TCustomPlayer& player, TPlayContext& context, AVFrame* frame,
                                 AVFrame* filtered) {
  TVideoSide& video = context.Video;
  // The pictures are shown in the shape the conversion makes them in: a container's display
  // size outweighs what the pictures say of their pixels.
  frame->sample_aspect_ratio = ShownSampleAspect(video.Stream, frame);
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

// Video thread. The graph is made again when the decoder's pictures change size or format,
// deinterlacing is switched, or the screen comes to take their change of matrix or stops; a
// deinterlacer that cannot be set up is switched off.
bool TPlayerCore::PrepareFilterGraph(TCustomPlayer& player, TPlayContext& context,
                                     const AVFrame* frame) {
  TVideoSide& video = context.Video;
  const bool deinterlace = player.Deinterlace;
  const bool forScreen = ScreenReadsMatrix(player, context);
  if (video.Graph.Accepts(frame, forScreen) && deinterlace == video.GraphDeinterlaces) return true;
  TVideoFilterInput input;
  input.Width = frame->width;
  input.Height = frame->height;
  input.Format = AVPixelFormat(frame->format);
  input.TimeBase = video.Stream->time_base;
  input.SampleAspectRatio = frame->sample_aspect_ratio;
  input.QuarterTurns = DisplayQuarterTurns(video.Stream);
  input.Colours = PictureColours(*frame);
  input.ScreenReadsMatrix = forScreen;
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
  if (received >= 0) return ReceivePicture(context, frame);
  if (received == AVERROR_EOF) {
    if (PassSkippedPicture(context, frame)) return 1;
    DecoderEmptied(player, context);
  }
  AVPacket* packet = video.Packet;
  TFlushMark mark;
  const TPacketQueue::TResult got = video.Queue.Get(packet, true, &mark);
  if (got == TPacketQueue::grAborted) return -1;
  if (got == TPacketQueue::grFlush)
    FlushVideo(player, context, mark);
  else
    SendVideoPacket(player, context, packet);
  return 0;
}

// Video thread, with a decoded picture: its time as the settings choose, then whether it is
// shown (1) or passed over (0): before the seek target, or to catch up under load.
int TPlayerCore::ReceivePicture(TPlayContext& context, AVFrame* frame) {
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
    SeekTargetReached(context);
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
int TPlayerCore::PassSkippedPicture(TPlayContext& context, AVFrame* frame) {
  TVideoSide& video = context.Video;
  if (video.SkipTarget == AV_NOPTS_VALUE || !video.Skipped->buf[0]) return 0;
  ff::av_frame_move_ref(frame, video.Skipped);
  SeekTargetReached(context);
  return 1;
}

// Video thread: the picture at the seek target is found. The pictures count their time from
// here, not from the flush: passing over the ones before took time.
void TPlayerCore::SeekTargetReached(TPlayContext& context) {
  TVideoSide& video = context.Video;
  video.SkipTarget = AV_NOPTS_VALUE;
  ff::av_frame_unref(video.Skipped);
  const std::lock_guard<std::mutex> lock(video.PictureLock);
  video.FrameTimer = NowSeconds();
}

// Video thread, when the decoder has given out all it had: had no picture come since the
// last flush, none will for that seek, and the picture on show stays.
void TPlayerCore::DecoderEmptied(TCustomPlayer& player, TPlayContext& context) {
  TVideoSide& video = context.Video;
  {
    const std::lock_guard<std::mutex> lock(video.PictureLock);
    if (!video.FirstAfterFlush) return;
  }
  SeekShown(player, context, video.FlushSeek);
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
void TPlayerCore::FlushVideo(TCustomPlayer& player, TPlayContext& context, const TFlushMark& mark) {
  TVideoSide& video = context.Video;
  ff::avcodec_flush_buffers(video.Codec);
  video.Drained = false;
  std::unique_lock<std::mutex> lock(video.PictureLock);
  for (TPicture& picture : video.Pictures) picture.TargetClock = 0;
  video.PictureChanged.wait(lock, [&] { return video.Size == 0 || context.AbortRequest; });
  video.CurrentPos = -1;
  video.FlushSeek = mark.Seek;
  video.SkipTarget = mark.Target != AV_NOPTS_VALUE && player.FSeekDisplay
                         ? ff::av_rescale_q(mark.Target, AV_TIME_BASE_Q, video.Stream->time_base)
                         : AV_NOPTS_VALUE;
  ff::av_frame_unref(video.Skipped);
  // A picture's time 0 reads as none and takes the clock's; the clock of the place before the
  // seek would put the first picture of the file there.
  video.Clock = 0;
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
  const int64_t pos = frame->pkt_pos;
  const AVRational sampleAspectRatio = frame->sample_aspect_ratio;
  lock.unlock();
  StorePicture(player, context, index, frame, pts);
  lock.lock();
  picture.Pts = pts;
  picture.Pos = pos;
  picture.SampleAspectRatio = sampleAspectRatio;
  picture.Matrix = video.Graph.OutputMatrix();
  picture.SubtitleBlended = false;
  picture.FirstAfterFlush = std::exchange(video.FirstAfterFlush, false);
  picture.Seek = video.FlushSeek;
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

// Video thread. Fills the slot at `index` and lets the hooks see (and draw on) it. An overlay
// in memory only stages the picture for SDL's own conversion, which the display passes by: the
// slot then keeps the decoded picture itself (the frame is left empty), unless the picture is
// to be turned or drawn on.
void TPlayerCore::StorePicture(TCustomPlayer& player, TPlayContext& context, int index,
                               AVFrame* frame, double pts) {
  TVideoSide& video = context.Video;
  TPicture& picture = video.Pictures[index];
  const std::lock_guard<std::mutex> overlayLock(video.OverlayLocks[index]);
  ff::av_frame_unref(picture.Frame);
  if (KeepsDecodedPicture(player, picture.Overlay->hw_overlay)) {
    ff::av_frame_move_ref(picture.Frame, frame);
    return;
  }
  SDL_Overlay* overlay = picture.Overlay;
  player.FSDL.SDL_LockYUVOverlay(overlay);
  TAVPicture target = OverlayPicture(overlay);
  CopyPicture(frame, target, picture.Width, picture.Height, player.FVerticalFlip);
  const int64_t hookPts = std::llround(pts * 1000000) - context.InputStart;
  player.DoVideoHook(target, picture.Width, picture.Height, hookPts);
  player.DoFrameHook(target, picture.Width, picture.Height, hookPts);
  player.FSDL.SDL_UnlockYUVOverlay(overlay);
}

// Video thread: whether a picture goes to the display as decoded, drawn from by the screen's
// scaler, rather than copied into an overlay that is turned, drawn on or shown by SDL.
bool TPlayerCore::KeepsDecodedPicture(TCustomPlayer& player, bool hardwareOverlay) {
  return !hardwareOverlay && !player.FVerticalFlip && !player.PicturesHooked();
}

// Video thread: whether the screen's scaler takes the pictures' matrix change for nothing. Not
// before the play thread has found that the scaler draws the screen (SDL's own overlays read
// BT.601's alone), and not for what draws on the pictures: the hooks and the subtitles take
// BT.601's.
bool TPlayerCore::ScreenReadsMatrix(TCustomPlayer& player, TPlayContext& context) {
  return context.Video.ScalerDrawsScreen && !context.HasSubtitle() &&
         KeepsDecodedPicture(player, false);
}

// Holding the slot's overlay lock: a picture the slot keeps by reference goes into its overlay,
// for what draws on it or for SDL to show it.
void TPlayerCore::MoveIntoOverlay(TCustomPlayer& player, TPicture& picture) {
  if (!picture.Frame || !picture.Frame->buf[0]) return;
  player.FSDL.SDL_LockYUVOverlay(picture.Overlay);
  CopyPicture(picture.Frame, OverlayPicture(picture.Overlay), picture.Width, picture.Height, false);
  player.FSDL.SDL_UnlockYUVOverlay(picture.Overlay);
  ff::av_frame_unref(picture.Frame);
}

// Any of the player's threads: the picture of the seek numbered `seek` is on show (or none can
// come). Only the newest seek counts: a waiting Seek returns, SeekReached is set and the
// player is no longer seeking.
void TPlayerCore::SeekShown(TCustomPlayer& player, TPlayContext& context, int64_t seek) {
  const std::lock_guard<std::mutex> lock(context.SeekLock);
  if (seek != context.SeekNumber) return;
  player.FSeekReached = true;
  player.FSeeking = false;
  player.FSeekDisplayed.Set();
}

int64_t TPlayerCore::NewestSeek(TPlayContext& context) {
  const std::lock_guard<std::mutex> lock(context.SeekLock);
  return context.SeekNumber;
}

// Video thread, after a picture entered the queue.
void TPlayerCore::PictureQueued(TCustomPlayer& player, TPlayContext& context) {
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
