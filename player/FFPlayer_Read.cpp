#include "FFPlayer_Private.h"

#include "UnicodeProtocol.h"

using namespace player_internal;

namespace {

constexpr int64_t MaxQueueBytes = 15 * 1024 * 1024;
constexpr int64_t EnoughAudioBytes = 327680;
constexpr int EnoughPackets = 5;  // of pictures or subtitles

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

}  // namespace

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
  player.ApplyOptions(input, AV_OPT_FLAG_DECODING_PARAM);
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
      IdleUntilSeek(context, 10);
      continue;
    }
    if (context.EndOfFile) {
      HandleEndOfFile(context);
      continue;
    }
    const int result = ReadPacket(context, packet);
    if (context.AbortRequest) break;
    if (result < 0) {
      if (!HandleReadError(player, context, result)) {
        // No picture is coming for a seek that waits for one.
        if (context.HasVideo()) SeekShown(player, context, NewestSeek(context));
        break;
      }
      IdleUntilSeek(context, 100);
      continue;
    }
    QueuePacket(context, packet);
  }
  ff::av_packet_free(&packet);
}

// Read thread. A stop that waits long for the play to end closes the input under a read.
int TPlayerCore::ReadPacket(TPlayContext& context, AVPacket* packet) {
  context.InsidePacketRead = true;
  const int result = ff::av_read_frame(context.FormatContext, packet);
  context.InsidePacketRead = false;
  return result;
}

// Read thread. The packet goes to the queue of its side, if any; it is left empty.
void TPlayerCore::QueuePacket(TPlayContext& context, AVPacket* packet) {
  if (packet->stream_index == context.Audio.StreamIndex)
    context.Audio.Queue.Put(packet);
  else if (packet->stream_index == context.Video.StreamIndex)
    context.Video.Queue.Put(packet);
  else if (packet->stream_index == context.Subtitle.StreamIndex)
    context.Subtitle.Queue.Put(packet);
  ff::av_packet_unref(packet);
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

// Read thread: until the time given has passed or a seek is asked for, so that a seek never
// waits for a pause in the reading. True when a seek waits.
bool TPlayerCore::IdleUntilSeek(TPlayContext& context, int milliseconds) {
  std::unique_lock<std::mutex> lock(context.SeekLock);
  context.SeekAsked.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [&] { return context.SeekRequest || context.AbortRequest; });
  return context.SeekRequest;
}

// Read thread. A bounded seek first; formats that cannot take one seek to the frame, in the
// asked direction and then in the other. 0, or a negative FFmpeg error code.
int TPlayerCore::SeekInput(AVFormatContext* input, int64_t minimum, int64_t target, int64_t maximum,
                           int flags) {
  int result = ff::avformat_seek_file(input, -1, minimum, target, maximum, flags);
  if (result < 0) result = ff::av_seek_frame(input, -1, target, flags);
  if (result < 0) result = ff::av_seek_frame(input, -1, target, flags ^ AVSEEK_FLAG_BACKWARD);
  return result;
}

// Read thread. A seek whose picture is shown starts decoding at a key picture no later than its
// target, whence the video thread passes over the pictures before the target. Formats that
// search by time stamps land past it: MPEG program streams (as on a DVD) on the first key
// picture after the place they found, MPEG-TS on any packet, whose decoding starts at the next
// key picture, up to a group of pictures past the target. The seek then goes back further, each
// time twice as far, until a key picture comes in time or the input's start is reached (and read
// from its first byte if even that lands late). The packets read to find out stay in `read`, for
// the queues.
int TPlayerCore::SeekBeforeTarget(TPlayContext& context, int64_t target, int flags,
                                  TPacketList& read) {
  int64_t from = target;
  for (int64_t back = 500000;; back *= 2) {
    const int result = SeekInput(context.FormatContext, INT64_MIN, from, from, flags);
    if (result < 0) return result;
    const int64_t first = FirstKeyPictureTime(context, target, read);
    if (first == AV_NOPTS_VALUE || first <= target) return result;
    if (from <= context.InputStart) {
      // Even the start time lands past the first key picture's decoding time (MPEG-TS whose
      // sound starts after it): the input is read from its first packet, where it can be.
      if (!SeekToFirstPacket(context.FormatContext)) return result;
      read.clear();
      return 0;
    }
    read.clear();
    from = std::max(target - back, context.InputStart);
  }
}

// Read thread, after a seek: reads up to the first key picture's packet, or up to a picture past
// `target` when none comes before it, keeping what it read; that picture's time (AV_TIME_BASE),
// or AV_NOPTS_VALUE when none comes or it has none.
int64_t TPlayerCore::FirstKeyPictureTime(TPlayContext& context, int64_t target, TPacketList& read) {
  const AVStream* stream = context.Video.Stream;
  for (;;) {
    TPacketList::value_type packet(ff::av_packet_alloc());
    if (!packet || ReadPacket(context, packet.get()) < 0) return AV_NOPTS_VALUE;
    read.push_back(std::move(packet));
    const AVPacket& last = *read.back();
    if (last.stream_index != stream->index) continue;
    int64_t time = last.pts != AV_NOPTS_VALUE ? last.pts : last.dts;
    if (time == AV_NOPTS_VALUE) return time;
    time = ff::av_rescale_q(time, stream->time_base, AV_TIME_BASE_Q);
    if ((last.flags & AV_PKT_FLAG_KEY) || time > target) return time;
  }
}

// Read thread. The request is taken as it stands: a later one is carried out on the next turn.
void TPlayerCore::ApplySeek(TCustomPlayer& player, TPlayContext& context) {
  int64_t target, relative;
  int flags;
  TFlushMark mark;
  {
    const std::lock_guard<std::mutex> lock(context.SeekLock);
    target = context.SeekTarget;
    relative = context.SeekRelative;
    flags = context.SeekFlags;
    mark.Seek = context.SeekNumber;
    context.SeekRequest = false;
  }
  mark.Target = flags & AVSEEK_FLAG_BYTE ? AV_NOPTS_VALUE : target;
  const int64_t minimum = relative > 0 ? target - relative + 2 : INT64_MIN;
  const int64_t maximum = relative < 0 ? target - relative - 2 : INT64_MAX;
  AVFormatContext* input = context.FormatContext;
  // The pictures still queued from before are dropped from here on; set before the flush
  // marker goes out, so that the first picture after it ends the dropping.
  context.SeekApplied = true;
  TPacketList read;
  const int result = player.FSeekDisplay && mark.Target != AV_NOPTS_VALUE && context.HasVideo()
                         ? SeekBeforeTarget(context, target, flags, read)
                         : SeekInput(input, minimum, target, maximum, flags);
  if (result < 0) {
    player.SetLastError(context.FileName + ": error while seeking", false);
  } else {
    FlushQueues(context, mark);
    for (const auto& packet : read) QueuePacket(context, packet.get());
    context.ExternalClock.Forget();
  }
  context.EndOfFileLogged = context.ReadErrorLogged = false;
  context.EndOfInput = false;
  context.EndReported = false;
  context.EndOfFile = false;
  context.EndPacketsQueued = false;
  {
    const std::lock_guard<std::mutex> lock(context.SeekLock);
    if (!context.SeekRequest) player.FSeekDone.Set();
  }
  // No picture is coming to reach the target: without video, or when the seek failed and
  // the picture on show stays.
  if (!context.HasVideo() || result < 0) SeekShown(player, context, mark.Seek);
}

void TPlayerCore::FlushQueues(TPlayContext& context, const TFlushMark& mark) {
  if (context.HasAudio()) {
    context.Audio.Queue.Flush();
    context.Audio.Queue.PutFlush(mark);
  }
  if (context.HasVideo()) {
    context.Video.Queue.Flush();
    context.FlushSeen = false;
    context.Video.Queue.PutFlush(mark);
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
void TPlayerCore::HandleEndOfFile(TPlayContext& context) {
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
  // The seek comes first: the input goes on from its target.
  if (IdleUntilSeek(context, 10)) return;
  if (context.Audio.Queue.ByteSize() == 0 && context.Video.Queue.ByteSize() == 0 &&
      context.Subtitle.Queue.ByteSize() == 0)
    context.EndOfInput = true;
  context.EndOfFile = false;
}

// Read thread. False when reading must stop.
bool TPlayerCore::HandleReadError(TCustomPlayer& player, TPlayContext& context, int error) {
  AVIOContext* pb = context.FormatContext->pb;
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
