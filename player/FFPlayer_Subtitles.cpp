#include "FFPlayer_Private.h"

using namespace player_internal;

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
