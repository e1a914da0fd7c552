#include "FFPlayer_Private.h"

using namespace player_internal;

namespace {

std::string RateText(AVRational rate) {
  char text[96];
  std::snprintf(text, sizeof text, "%2.2f (%d/%d)", rate.den ? av_q2d(rate) : 0.0, rate.num,
                rate.den);
  return text;
}

}  // namespace

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
  player.ApplyOptions(codec, AV_OPT_FLAG_DECODING_PARAM | MediaTypeOptionFlag(codec->codec_type));
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
  if (!FiltersAccepted(player, context, *stream)) {
    CloseDecoder(video.Codec);
    return false;
  }
  video.FrameDuration = FrameDuration(player, context, streamIndex);
  video.StreamIndex = streamIndex;
  video.Stream = stream;
  video.Queue.PutFlush();
  if (!StartThread(player, video.Thread, false, VideoThread, std::ref(player), std::ref(context))) {
    CloseVideo(context);
    return false;
  }
  return true;
}

// Read thread. A filter chain that cannot be set up for the stream's pictures leaves the
// pictures out, rather than a play whose pictures never come.
bool TPlayerCore::FiltersAccepted(TCustomPlayer& player, TPlayContext& context,
                                  const AVStream& stream) {
  const AVCodecContext* codec = context.Video.Codec;
  const std::string& chain = context.Settings.VideoFilters;
  if (chain.empty() || codec->width < 1 || codec->height < 1 || codec->pix_fmt == AV_PIX_FMT_NONE)
    return true;
  TVideoFilterInput input;
  input.Width = codec->width;
  input.Height = codec->height;
  input.Format = codec->pix_fmt;
  input.SampleAspectRatio = ShownSampleAspect(&stream, nullptr);
  input.QuarterTurns = DisplayQuarterTurns(&stream);
  input.Colours = PictureColours(*codec);
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
  subtitle.Open = true;
  subtitle.Queue.PutFlush();
  if (!StartThread(player, subtitle.Thread, false, SubtitleThread, std::ref(context))) {
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
  subtitle.Open = false;
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
  for (TPicture& picture : context->Video.Pictures) {
    if (picture.Overlay) player.FSDL.SDL_FreeYUVOverlay(picture.Overlay);
    ff::av_frame_free(&picture.Frame);
  }
  FreeSubtitles(context->Subtitle, true, 0);
}
