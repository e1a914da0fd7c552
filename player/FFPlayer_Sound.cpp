#include "FFPlayer_Private.h"

using namespace player_internal;

namespace {

constexpr int SilenceBytes = 1024;

}  // namespace

// ---- Sound ----

// SDL's audio thread: fills the device's buffer.
void TPlayerCore::AudioCallback(void* userdata, Uint8* stream, int len) {
  auto& context = *static_cast<TPlayContext*>(userdata);
  TCustomPlayer& player = *context.Owner;
  TAudioSide& audio = context.Audio;
  player.FLastAudioCallbackTime = NowUS();
  while (len > 0) {
    if (audio.BufferIndex >= audio.BufferSize) {
      double pts = 0;
      int size = AudioDecodeFrame(player, context, pts);
      if (audio.Queue.Aborted()) {
        std::memset(stream, 0, size_t(len));
        return;
      }
      if (size < 0) {
        if (int(audio.Buffer.size()) < SilenceBytes) audio.Buffer.resize(SilenceBytes);
        std::memset(audio.Buffer.data(), 0, SilenceBytes);
        size = SilenceBytes;
      } else {
        SoundDecoded(player, context, pts, size);
      }
      audio.BufferSize = size;
      audio.BufferIndex = 0;
    }
    const int n = std::min(audio.BufferSize - audio.BufferIndex, len);
    CopyOut(player, stream, audio.Buffer.data() + audio.BufferIndex, n);
    len -= n;
    stream += n;
    audio.BufferIndex += n;
  }
}

// SDL's audio thread, with a decoded buffer: the hook and the sound view see it as decoded,
// then it is stretched or shortened when the sound follows another clock.
void TPlayerCore::SoundDecoded(TCustomPlayer& player, TPlayContext& context, double pts,
                               int& size) {
  TAudioSide& audio = context.Audio;
  if (player.AudioHook && player.OnAudioHook)
    player.OnAudioHook(&player, std::llround(pts * 1000000) - context.InputStart,
                       audio.Buffer.data(), size, audio.SampleRate, audio.Channels);
  if (context.ShowMode != smVideo)
    context.Samples.Add(reinterpret_cast<const int16_t*>(audio.Buffer.data()), size / 2);
  if (context.SyncSource == ssExternal && !context.ExternalClock.Started())
    context.ExternalClock.Start(pts);
  if (FollowsMaster(context, false))
    size = audio.Sync.Adjust(AudioClock(context) - MasterClock(context), audio.Buffer.data(), size,
                             int(audio.Buffer.size()), audio.Channels);
}

void TPlayerCore::CopyOut(TCustomPlayer& player, Uint8* stream, const uint8_t* source, int size) {
  const int volume = player.FAudioVolume;
  if (player.FMute || volume == 0) {
    std::memset(stream, 0, size_t(size));
  } else if (volume >= SDL_MIX_MAXVOLUME) {
    std::memcpy(stream, source, size_t(size));
  } else {
    std::memset(stream, 0, size_t(size));
    player.FSDL.SDL_MixAudio(stream, source, Uint32(size), volume);
  }
}

// SDL's audio thread. The size of the next converted buffer, or -1 while paused or at the end.
int TPlayerCore::AudioDecodeFrame(TCustomPlayer& player, TPlayContext& context, double& pts) {
  TAudioSide& audio = context.Audio;
  for (;;) {
    if (context.Paused || audio.Queue.Aborted()) return -1;
    const int received = ff::avcodec_receive_frame(audio.Codec, audio.Frame);
    if (received >= 0) {
      if (audio.Frame->pts != AV_NOPTS_VALUE)
        audio.Clock = double(audio.Frame->pts) * av_q2d(audio.Stream->time_base);
      const int size = ConvertAudioFrame(player, audio);
      ff::av_frame_unref(audio.Frame);
      if (size <= 0) continue;
      pts = audio.Clock;
      audio.Clock = audio.Clock + double(size) / (2.0 * audio.Channels * audio.SampleRate);
      return size;
    }
    if (received != AVERROR(EAGAIN) && received != AVERROR_EOF)
      FFLogger().Log(&player, llInfo, "avcodec_decode_audio3() failed");
    TFlushMark mark;
    const TPacketQueue::TResult got = audio.Queue.Get(audio.Packet, true, &mark);
    if (got == TPacketQueue::grAborted) return -1;
    if (got == TPacketQueue::grFlush) {
      ff::avcodec_flush_buffers(audio.Codec);
      audio.Drained = false;
      SkipAudioToSeekTarget(player, context, mark);
      continue;
    }
    SendAudioPacket(player, audio);
  }
}

// SDL's audio thread. The packet goes to the decoder (the empty end packet drains it, once).
void TPlayerCore::SendAudioPacket(TCustomPlayer& player, TAudioSide& audio) {
  const bool endPacket = audio.Packet->size == 0 && !audio.Packet->data;
  if (!endPacket || !audio.Drained) {
    if (endPacket) audio.Drained = true;
    if (ff::avcodec_send_packet(audio.Codec, endPacket ? nullptr : audio.Packet) < 0)
      FFLogger().Log(&player, llInfo, "avcodec_decode_audio3() failed");
  }
  ff::av_packet_unref(audio.Packet);
}

// SDL's audio thread, after a seek with SeekDisplay: the sound already read that ends before
// the target is dropped, so that the sound starts where the first picture does.
void TPlayerCore::SkipAudioToSeekTarget(TCustomPlayer& player, TPlayContext& context,
                                        TFlushMark mark) {
  TAudioSide& audio = context.Audio;
  while (player.FSeekDisplay) {
    if (mark.Target == AV_NOPTS_VALUE) return;
    const int64_t streamTarget =
        ff::av_rescale_q(mark.Target, AV_TIME_BASE_Q, audio.Stream->time_base);
    const TPacketQueue::TResult got = audio.Queue.Get(audio.Packet, false, &mark);
    if (got == TPacketQueue::grFlush) {
      ff::avcodec_flush_buffers(audio.Codec);
      audio.Drained = false;
      continue;
    }
    if (got != TPacketQueue::grPacket) return;
    const AVPacket* packet = audio.Packet;
    if (packet->pts != AV_NOPTS_VALUE &&
        packet->pts + std::max<int64_t>(packet->duration, 0) <= streamTarget) {
      ff::av_packet_unref(audio.Packet);
      continue;
    }
    SendAudioPacket(player, audio);
    return;
  }
}

// SDL's audio thread. Converts the decoded frame into Buffer; its size in bytes, or -1.
int TPlayerCore::ConvertAudioFrame(TCustomPlayer& player, TAudioSide& audio) {
  const AVFrame* frame = audio.Frame;
  if (!PrepareResampler(player, audio, frame)) return -1;
  const int frameBytes = 2 * audio.Channels;
  const int outSamples = ff::swr_get_out_samples(audio.Resampler, frame->nb_samples);
  if (outSamples < 0) return -1;
  // Room for the synchroniser to stretch the buffer by a tenth.
  const size_t needed = size_t(outSamples) * size_t(frameBytes) * 11 / 10 + size_t(frameBytes);
  if (audio.Buffer.size() < needed) audio.Buffer.resize(needed);
  uint8_t* out = audio.Buffer.data();
  const int converted =
      ff::swr_convert(audio.Resampler, &out, outSamples,
                      const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
  if (converted < 0) {
    player.SetLastError("av_audio_convert() failed", false);
    return -1;
  }
  return converted * frameBytes;
}

// SDL's audio thread. (Re)makes the resampler when the decoded sound's format changes.
bool TPlayerCore::PrepareResampler(TCustomPlayer& player, TAudioSide& audio, const AVFrame* frame) {
  AVChannelLayout source{};
  if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
    ff::av_channel_layout_default(&source, frame->ch_layout.nb_channels);
  else
    ff::av_channel_layout_copy(&source, &frame->ch_layout);
  const bool same = audio.Resampler && frame->format == audio.SourceFormat &&
                    frame->sample_rate == audio.SourceRate &&
                    ff::av_channel_layout_compare(&source, &audio.SourceLayout) == 0;
  if (same) {
    ff::av_channel_layout_uninit(&source);
    return true;
  }
  ff::swr_free(&audio.Resampler);
  ff::av_channel_layout_uninit(&audio.SourceLayout);
  audio.SourceLayout = source;
  audio.SourceFormat = frame->format;
  audio.SourceRate = frame->sample_rate;
  AVChannelLayout target{};
  ff::av_channel_layout_default(&target, audio.Channels);
  const int made = ff::swr_alloc_set_opts2(&audio.Resampler, &target, AV_SAMPLE_FMT_S16,
                                           audio.SampleRate, &source, AVSampleFormat(frame->format),
                                           frame->sample_rate, 0, nullptr);
  ff::av_channel_layout_uninit(&target);
  if (made < 0 || ff::swr_init(audio.Resampler) < 0) {
    ff::swr_free(&audio.Resampler);
    const char* name = ff::av_get_sample_fmt_name(AVSampleFormat(frame->format));
    player.SetLastError(std::string("Cannot convert ") + (name ? name : "?") +
                            " sample format to s16 sample format",
                        false);
    return false;
  }
  return true;
}
