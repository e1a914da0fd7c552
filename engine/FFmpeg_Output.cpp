#include "FFmpeg_Private.h"

#include <bit>

using namespace ffmpeg_internal;

namespace {

// Largest distance, in frames, at which a late or early picture is still written once.
constexpr double VSyncDropLimit = -1.1;
constexpr double VSyncVariableLimit = 0.6;
constexpr double VSyncDuplicateLimit = 1.1;
// How far past its output picture time, in picture times, the next picture may start and take
// that time from the held one: by a quarter, it is on time for it, and (at half the rate) the
// picture between the two is shown at none.
constexpr double SupersededWithin = 0.25;
// Audio drift, in samples, below which nothing is corrected.
constexpr double AudioDriftTolerance = 50;
// Real sound converts between rates at most about 50 times apart (384 kHz to 8 kHz); a rate
// farther from the encoder's is a damaged or crafted header, and resampling from it would
// make thousands of samples of each one (1 Hz to 44.1 kHz: gigabytes from a few kilobytes).
constexpr int64_t MaxSampleRateRatio = 64;

const char* SampleFormatName(AVSampleFormat format) {
  const char* name = ff::av_get_sample_fmt_name(format);
  return name ? name : "none";
}

// Samples of a block in a packed or planar layout, and the byte size of one plane.
void FillSamplePointers(uint8_t* base, uint8_t** planes, AVSampleFormat format, int channels,
                        int samples) {
  if (!ff::av_sample_fmt_is_planar(format)) {
    planes[0] = base;
    return;
  }
  const size_t planeSize = size_t(samples) * size_t(ff::av_get_bytes_per_sample(format));
  for (int channel = 0; channel < channels; ++channel) planes[channel] = base + channel * planeSize;
}

// The output picture time at which a held picture is shown, or -1 when it is shown at none: it
// goes to the time nearest its own, or to the next free one when that is taken (the times of a
// 1 ms time base wander around their rate), and gives that time up to the next picture when that
// one starts by then too (at a lower output rate). Times in output picture times, `next`
// infinite after the last picture. An opening picture is the first of a part, which shows the
// first picture of its range from its start: the last one before the start opens it only where
// no picture starts within one picture time after it (a slide show, a gap in a variable-rate
// clip).
int64_t HeldPictureSlot(double held, double next, int64_t syncPts, bool opening) {
  int64_t slot;
  if (opening && held < 1) {
    if (held < 0 && next < 1) return -1;
    slot = 0;
  } else {
    slot = std::max<int64_t>(syncPts, std::llround(held));
  }
  return next < double(slot) + SupersededWithin ? -1 : slot;
}

}  // namespace

// ---- Free routines ----

const char* ffmpeg_internal::PixelFormatName(AVPixelFormat format) {
  const char* name = ff::av_get_pix_fmt_name(format);
  return name ? name : "none";
}

int VideoSyncFrames(int method, bool variableFrameRate, double sync, int64_t& syncPts) {
  if (method == 0) {
    syncPts = std::llround(sync);
    return 1;
  }
  const double delta = sync - double(syncPts);
  if (delta < VSyncDropLimit) return 0;
  if (method == 2 || (method < 0 && variableFrameRate)) {
    if (delta <= -VSyncVariableLimit) return 0;
    if (delta > VSyncVariableLimit) syncPts = std::llround(sync);
    return 1;
  }
  return delta > VSyncDuplicateLimit ? int(std::lrint(delta)) : 1;
}

void ScaleVolume(int16_t* samples, size_t count, int volume) {
  if (volume == 256) return;
  for (size_t i = 0; i < count; ++i) {
    const int64_t scaled = (int64_t(samples[i]) * volume + 128) >> 8;
    samples[i] = int16_t(std::clamp<int64_t>(scaled, INT16_MIN, INT16_MAX));
  }
}

// The intra-field filter: every second line is rebuilt from the five lines around it with the
// taps -1 4 2 4 -1 (in eighths); the lines between are kept. It mixes the samples of a column
// only, so it takes a plane of any layout whose samples are whole 8- or 16-bit words.
namespace {

template <typename Sample>
void DeinterlacePlane(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride, int samples,
                      int height, int maximum) {
  // The edge lines stand in for those beyond the picture.
  const auto line = [&](int y) {
    return reinterpret_cast<const Sample*>(src +
                                           ptrdiff_t(std::clamp(y, 0, height - 1)) * srcStride);
  };
  for (int y = 0; y < height; ++y) {
    Sample* out = reinterpret_cast<Sample*>(dst + ptrdiff_t(y) * dstStride);
    if (y % 2 == 0) {
      std::memcpy(out, line(y), size_t(samples) * sizeof(Sample));
      continue;
    }
    const Sample *m2 = line(y - 2), *m1 = line(y - 1), *at = line(y), *p1 = line(y + 1),
                 *p2 = line(y + 2);
    for (int x = 0; x < samples; ++x) {
      const int sum = -m2[x] + (m1[x] << 2) + (at[x] << 1) + (p1[x] << 2) - p2[x];
      out[x] = Sample(std::clamp((sum + 4) >> 3, 0, maximum));
    }
  }
}

// The bytes of each sample of a format whose every component is a whole sample in the
// machine's byte order (1 for 8 bits, 2 for 9 to 16), else 0.
int WholeSampleBytes(const AVPixFmtDescriptor& format) {
  constexpr uint64_t notWhole = AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                                AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_FLOAT |
                                AV_PIX_FMT_FLAG_BAYER;
  if ((format.flags & notWhole) || format.nb_components == 0) return 0;
  const int bytes = format.comp[0].depth > 8 ? 2 : 1;
  const bool bigEndian = format.flags & AV_PIX_FMT_FLAG_BE;
  if (bytes == 2 && bigEndian != (std::endian::native == std::endian::big)) return 0;
  for (int c = 0; c < format.nb_components; ++c) {
    const AVComponentDescriptor& component = format.comp[c];
    if (component.shift != 0 || component.depth < 8 || (component.depth > 8 ? 2 : 1) != bytes)
      return 0;
  }
  return bytes;
}

}  // namespace

int DeinterlacePicture(uint8_t* const dst[], const int dstLinesize[], const uint8_t* const src[],
                       const int srcLinesize[], AVPixelFormat pixFmt, int width, int height) {
  const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(pixFmt);
  const int bytes = desc ? WholeSampleBytes(*desc) : 0;
  int lineBytes[4] = {};
  if (!bytes || ff::av_image_fill_linesizes(lineBytes, pixFmt, width) < 0) return -1;
  int depth = 0;
  int planes = 0;
  for (int c = 0; c < desc->nb_components; ++c) {
    depth = std::max(depth, desc->comp[c].depth);
    planes = std::max(planes, desc->comp[c].plane + 1);
  }
  const int maximum = (1 << depth) - 1;
  for (int plane = 0; plane < planes; ++plane) {
    const bool chroma = plane == 1 || plane == 2;
    const int h = chroma ? AV_CEIL_RSHIFT(height, desc->log2_chroma_h) : height;
    if (bytes == 1)
      DeinterlacePlane<uint8_t>(dst[plane], dstLinesize[plane], src[plane], srcLinesize[plane],
                                lineBytes[plane], h, maximum);
    else
      DeinterlacePlane<uint16_t>(dst[plane], dstLinesize[plane], src[plane], srcLinesize[plane],
                                 lineBytes[plane] / 2, h, maximum);
  }
  return 0;
}

AVPixelFormat DeinterlaceableFormat(AVPixelFormat format) {
  const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(format);
  if (!desc || WholeSampleBytes(*desc)) return format;
  const bool deep = desc->comp[0].depth > 8;
  const bool alpha = desc->flags & AV_PIX_FMT_FLAG_ALPHA;
  if (desc->flags & AV_PIX_FMT_FLAG_RGB)
    return deep ? (alpha ? AV_PIX_FMT_RGBA64 : AV_PIX_FMT_RGB48)
                : (alpha ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24);
  return deep ? (alpha ? AV_PIX_FMT_YUVA444P16 : AV_PIX_FMT_YUV444P16)
              : (alpha ? AV_PIX_FMT_YUVA444P : AV_PIX_FMT_YUV444P);
}

// ---- Audio output ----

void ffmpeg_internal::CheckSampleRate(const TInputStream& ist, int rate, int encoderRate) {
  if (rate <= 0 || encoderRate <= 0) return;
  if (rate * MaxSampleRateRatio >= encoderRate && encoderRate * MaxSampleRateRatio >= rate) return;
  throw FFmpegException(Format(
      "Input stream #%d.%d declares a sample rate of %d Hz, too far from the %d Hz of the output "
      "to be converted",
      ist.FileIndex, ist.St->index, rate, encoderRate));
}

// One block of decoded samples (packed signed 16-bit at the decoder's rate and channel count)
// to the stream's encoder: kept in sync with the stream's clock, resampled and converted to the
// encoder's format, queued and encoded in whole encoder frames.
void TCustomFFmpeg::DoAudioOut(TOutputStream& ost, TInputStream& ist, const uint8_t* samples,
                               int size, int rate, int channels) {
  TOutputStream& root = Root(ost);
  if (root.EncoderFlushed) return;
  const AVCodecContext& encoder = *root.Encoder;
  if (rate != ost.ResampleSampleRate || channels != ost.ResampleChannels) {
    LogFmt(llInfo,
           "Input stream #%d.%d frame changed from rate:%d fmt:%s ch:%d to rate:%d fmt:%s ch:%d",
           ist.FileIndex, ist.St->index, ost.ResampleSampleRate,
           SampleFormatName(ost.ResampleSampleFmt), ost.ResampleChannels, rate,
           SampleFormatName(AV_SAMPLE_FMT_S16), channels);
    CheckSampleRate(ist, rate, encoder.sample_rate);
    ost.ResampleSampleRate = rate;
    ost.ResampleChannels = channels;
    ff::swr_free(&ost.Resampler);
  }
  ost.AudioResample = channels != encoder.ch_layout.nb_channels || rate != encoder.sample_rate ||
                      FSettings.AudioSyncMethod > 1;
  if (!ost.Resampler && (ost.AudioResample || encoder.sample_fmt != AV_SAMPLE_FMT_S16))
    ost.Resampler = NewAudioConverter(ost, encoder, rate, channels);
  SyncAudio(ost, ist, encoder, samples, size, rate, channels);
  if (size <= 0) return;
  QueueAudio(ost, encoder, samples, size / (2 * channels));
  EncodeQueuedAudio(ost, encoder);
}

SwrContext* TCustomFFmpeg::NewAudioConverter(const TOutputStream& ost,
                                             const AVCodecContext& encoder, int rate,
                                             int channels) {
  AVChannelLayout layout{};
  ff::av_channel_layout_default(&layout, channels);
  SwrContext* swr = nullptr;
  AVChannelLayout* encoderLayout = const_cast<AVChannelLayout*>(&encoder.ch_layout);
  int result = ff::swr_alloc_set_opts2(&swr, encoderLayout, encoder.sample_fmt, encoder.sample_rate,
                                       &layout, AV_SAMPLE_FMT_S16, rate, 0, nullptr);
  ff::av_channel_layout_uninit(&layout);
  if (result >= 0 && ost.AudioResample) {
    ff::av_opt_set_int(swr, "filter_size", 16, 0);
    ff::av_opt_set_int(swr, "phase_shift", 10, 0);
    ff::av_opt_set_int(swr, "linear_interp", 0, 0);
    ff::av_opt_set_double(swr, "cutoff", 0.8, 0);
  }
  if (result >= 0) result = ff::swr_init(swr);
  if (result >= 0) return swr;
  ff::swr_free(&swr);
  if (ost.AudioResample)
    throw FFmpegException(Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                 channels, rate, encoder.ch_layout.nb_channels,
                                 encoder.sample_rate));
  throw FFmpegException(Format("Cannot convert %s sample format to %s sample format",
                               SampleFormatName(AV_SAMPLE_FMT_S16),
                               SampleFormatName(encoder.sample_fmt)));
}

// Keeps the encoded audio on the sync stream's clock. With sync method 0 the stream's sample
// clock follows the input, except that the first block of each joined input goes on from the
// end of the input before it, silence filling the gap between them: a player plays the sound
// one sample after the other, so a gap in its times would move every later sound ahead of its
// pictures. Otherwise a drift is corrected by dropping samples from the block, putting silence
// before it or (method > 1) stretching it in the resampler.
void TCustomFFmpeg::SyncAudio(TOutputStream& ost, TInputStream& ist, const AVCodecContext& encoder,
                              const uint8_t*& samples, int& size, int rate, int channels) {
  TOutputStream& root = Root(ost);
  const TInputStream& sync = *FInputStreams[ost.SyncSource];
  const double syncTime = OutputTime(sync);
  const int64_t held = HeldSamples(ost);
  if (FSettings.AudioSyncMethod == 0) {
    const int64_t clock = std::llround(syncTime * encoder.sample_rate) - held;
    const bool first = std::exchange(ist.AtStart, false);
    if (!root.SamplesEncoded)
      root.SyncPts = clock;
    else if (first && FJoinInputs && clock > root.SyncPts)
      PutSilenceBefore(samples, size,
                       InputBytes(double(clock - root.SyncPts), encoder, rate, channels));
    else
      // Never back in time once samples went out.
      root.SyncPts = std::max(clock, root.SyncPts);
    return;
  }
  const double delta = syncTime * encoder.sample_rate - double(root.SyncPts + held);
  if (std::fabs(delta) <= AudioDriftTolerance) return;
  const int64_t byteDelta = InputBytes(delta, encoder, rate, channels);
  if (ist.AtStart || std::fabs(delta) > FSettings.AudioDriftThreshold * encoder.sample_rate) {
    if (byteDelta < 0) {
      const int dropped = int(std::min<int64_t>(-byteDelta, size));
      samples += dropped;
      size -= dropped;
      if (FSettings.Verbose > 2) LogFmt(llVerbose, "discarding %d audio samples", int(-delta));
    } else {
      PutSilenceBefore(samples, size, byteDelta);
      if (FSettings.Verbose > 2)
        LogFmt(llVerbose, "adding %d audio samples of silence", int(delta));
    }
    ist.AtStart = false;
  } else if (FSettings.AudioSyncMethod > 1 && ost.Resampler) {
    const int compensation =
        std::clamp(int(delta), -FSettings.AudioSyncMethod, FSettings.AudioSyncMethod);
    if (FSettings.Verbose > 2)
      LogFmt(llVerbose, "compensating audio timestamp drift:%f compensation:%d in:%d", delta,
             compensation, encoder.sample_rate);
    ff::swr_set_compensation(ost.Resampler, compensation, encoder.sample_rate);
  }
}

// The samples (at the encoder's rate) taken in but not yet encoded: those queued and those the
// resampler still holds back for its filter.
int64_t TCustomFFmpeg::HeldSamples(const TOutputStream& ost) {
  const TOutputStream& root = ost.Mirror ? *ost.Mirror : ost;
  const int64_t queued = ff::av_audio_fifo_size(root.Fifo);
  return ost.Resampler ? queued + ff::swr_get_delay(ost.Resampler, root.Encoder->sample_rate)
                       : queued;
}

// The bytes of packed 16-bit input samples that last as long as `samples` at the encoder's rate.
int64_t TCustomFFmpeg::InputBytes(double samples, const AVCodecContext& encoder, int rate,
                                  int channels) {
  return int64_t(samples * rate / encoder.sample_rate) * 2 * channels;
}

void TCustomFFmpeg::PutSilenceBefore(const uint8_t*& samples, int& size, int64_t bytes) {
  FSilenceBuffer.assign(size_t(bytes), 0);
  FSilenceBuffer.insert(FSilenceBuffer.end(), samples, samples + size);
  samples = FSilenceBuffer.data();
  size = int(FSilenceBuffer.size());
}

// A joined input's resampler gives up what it holds before the next input's takes over.
void TCustomFFmpeg::QueueResamplerRest(TOutputStream& ost) {
  if (ost.Resampler) QueueAudio(ost, *Root(ost).Encoder, nullptr, 0);
}

// Resamples or converts the samples into the encoder's format and appends them to the queue.
// No samples (nullptr) takes what the resampler still holds.
void TCustomFFmpeg::QueueAudio(TOutputStream& ost, const AVCodecContext& encoder,
                               const uint8_t* samples, int count) {
  TOutputStream& root = Root(ost);
  const int channels = encoder.ch_layout.nb_channels;
  uint8_t* planes[AV_NUM_DATA_POINTERS] = {};
  int converted = count;
  if (ost.Resampler) {
    const int capacity = std::max(ff::swr_get_out_samples(ost.Resampler, count), 1);
    const int bytes =
        ff::av_samples_get_buffer_size(nullptr, channels, capacity, encoder.sample_fmt, 1);
    if (bytes < 0) throw FFmpegException("Buffer sizes too large in do_audio_out");
    if (FResampleBuffer.size() < size_t(bytes)) FResampleBuffer.resize(size_t(bytes));
    FillSamplePointers(FResampleBuffer.data(), planes, encoder.sample_fmt, channels, capacity);
    const uint8_t* in[1] = {samples};
    converted = ff::swr_convert(ost.Resampler, planes, capacity, samples ? in : nullptr, count);
    if (converted < 0) {
      if (FSettings.ExitOnError) throw FFmpegException("av_audio_convert() failed");
      Log(llError, "av_audio_convert() failed");
      return;
    }
  } else {
    planes[0] = const_cast<uint8_t*>(samples);
  }
  if (converted > 0 &&
      ff::av_audio_fifo_write(root.Fifo, reinterpret_cast<void**>(planes), converted) < converted)
    throw FFmpegException("av_fifo_realloc2() failed");
}

void TCustomFFmpeg::EncodeQueuedAudio(TOutputStream& ost, const AVCodecContext& encoder) {
  AVAudioFifo* fifo = Root(ost).Fifo;
  if (encoder.frame_size <= 1) {
    // PCM-like encoders take each block whole.
    const int samples = ff::av_audio_fifo_size(fifo);
    if (samples > 0) EncodeAudioFrame(ost, samples);
    return;
  }
  while (ff::av_audio_fifo_size(fifo) >= encoder.frame_size && !Aborting)
    EncodeAudioFrame(ost, encoder.frame_size);
}

// Reads samples from the queue into one encoder frame at the sample clock and encodes it. A
// short last frame is padded with silence unless the encoder takes small last frames.
void TCustomFFmpeg::EncodeAudioFrame(TOutputStream& ost, int samples) {
  TOutputStream& root = Root(ost);
  const AVCodecContext& encoder = *root.Encoder;
  const bool whole = encoder.frame_size > 1;
  const int frameSamples = whole ? encoder.frame_size : samples;
  if (!root.AudioFrame || root.AudioFrame->nb_samples < frameSamples) {
    ff::av_frame_free(&root.AudioFrame);
    root.AudioFrame = NewAudioFrame(encoder, frameSamples);
  }
  AVFrame* frame = root.AudioFrame;
  if (ff::av_frame_make_writable(frame) < 0) throw FFmpegException("Out of memory in do_audio_out");
  const int read =
      ff::av_audio_fifo_read(root.Fifo, reinterpret_cast<void**>(frame->data), samples);
  const bool smallLast = encoder.codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME;
  const int capacity = frame->nb_samples;
  frame->nb_samples = whole && !smallLast ? frameSamples : read;
  if (read < frame->nb_samples)
    ff::av_samples_set_silence(frame->data, read, frame->nb_samples - read,
                               encoder.ch_layout.nb_channels, encoder.sample_fmt);
  frame->pts = root.SyncPts;
  root.SyncPts += frame->nb_samples;
  root.SamplesEncoded = true;
  ++ost.FrameNumber;
  EncodeAndWrite(ost, frame);
  frame->nb_samples = capacity;
}

AVFrame* TCustomFFmpeg::NewAudioFrame(const AVCodecContext& encoder, int samples) {
  AVFrame* frame = ff::av_frame_alloc();
  if (frame) {
    frame->format = encoder.sample_fmt;
    frame->sample_rate = encoder.sample_rate;
    frame->nb_samples = samples;
    if (ff::av_channel_layout_copy(&frame->ch_layout, &encoder.ch_layout) >= 0 &&
        ff::av_frame_get_buffer(frame, 0) >= 0)
      return frame;
    ff::av_frame_free(&frame);
  }
  throw FFmpegException("Out of memory in do_audio_out");
}

// The end: what the resampler still holds, the whole frames and a last, partial one go to the
// encoder.
void TCustomFFmpeg::FlushAudioFifo(TOutputStream& ost) {
  TOutputStream& root = Root(ost);
  const AVCodecContext& encoder = *root.Encoder;
  if (ost.Resampler) QueueAudio(ost, encoder, nullptr, 0);
  while (ff::av_audio_fifo_size(root.Fifo) >= encoder.frame_size)
    EncodeAudioFrame(ost, encoder.frame_size);
  const int rest = ff::av_audio_fifo_size(root.Fifo);
  if (rest > 0) EncodeAudioFrame(ost, rest);
}

// ---- Subtitle output ----

void TCustomFFmpeg::DoSubtitleOut(TOutputStream& ost, const TInputStream& ist,
                                  AVSubtitle& subtitle) {
  TOutputStream& root = Root(ost);
  AVCodecContext* encoder = root.Encoder;
  const int64_t pts = ist.Pts;
  if (pts == AV_NOPTS_VALUE) {
    if (FSettings.ExitOnError) throw FFmpegException("Subtitle packets must have a pts");
    Log(llError, "Subtitle packets must have a pts");
    return;
  }
  static std::vector<uint8_t> buffer(1048576);  // one per process, as large as a subtitle gets
  static std::mutex bufferLock;
  const std::lock_guard<std::mutex> lock(bufferLock);
  const bool dvb = encoder->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
  const uint32_t start = subtitle.start_display_time;
  const uint32_t end = subtitle.end_display_time;
  for (int pass = 0; pass < (dvb ? 2 : 1); ++pass) {
    subtitle.pts = pts + int64_t(start) * 1000;
    subtitle.end_display_time = end - start;
    subtitle.start_display_time = 0;
    // DVB: the second packet clears the screen.
    const unsigned rects = subtitle.num_rects;
    if (pass == 1) subtitle.num_rects = 0;
    const int size =
        ff::avcodec_encode_subtitle(encoder, buffer.data(), int(buffer.size()), &subtitle);
    subtitle.num_rects = rects;
    if (size < 0) throw FFmpegException("Subtitle encoding failed");
    AVPacket* pkt = FOutPacket;
    if (ff::av_new_packet(pkt, size) < 0) throw FFmpegException("Subtitle encoding failed");
    std::memcpy(pkt->data, buffer.data(), size_t(size));
    pkt->pts = FromMicroseconds(subtitle.pts, ost.St->time_base);
    if (dvb) pkt->pts += 90 * int64_t(pass == 0 ? start : end);
    pkt->dts = pkt->pts;
    // The muxer takes how long the text shows from the packet.
    if (pass == 0)
      pkt->duration =
          ff::av_rescale_q(subtitle.end_display_time, AVRational{1, 1000}, ost.St->time_base);
    WriteFrame(ost, pkt);
  }
}

// ---- Supported formats and rates ----

void TCustomFFmpeg::ChooseSampleFormat(AVCodecContext& encoder, const AVCodec* codec) {
  if (!codec || !codec->sample_fmts) return;
  for (const AVSampleFormat* format = codec->sample_fmts; *format != AV_SAMPLE_FMT_NONE; ++format)
    if (*format == encoder.sample_fmt) return;
  const AVSampleFormat first = codec->sample_fmts[0];
  if ((codec->capabilities & AV_CODEC_CAP_LOSSLESS) && encoder.sample_fmt > first)
    Log(llError, "Convertion will not be lossless");
  LogFmt(llWarning,
         "Incompatible sample format \"%s\" for codec \"%s\", auto-selecting format \"%s\"",
         SampleFormatName(encoder.sample_fmt), codec->name, SampleFormatName(first));
  encoder.sample_fmt = first;
}

void TCustomFFmpeg::ChooseSampleRate(AVCodecContext& encoder, const AVCodec* codec) {
  if (!codec || !codec->supported_samplerates) return;
  int best = 0;
  for (const int* rate = codec->supported_samplerates; *rate; ++rate)
    if (!best || std::abs(encoder.sample_rate - *rate) < std::abs(encoder.sample_rate - best))
      best = *rate;
  if (best == encoder.sample_rate) return;
  LogFmt(llWarning, "Requested sampling rate unsupported using closest supported (%d)", best);
  encoder.sample_rate = best;
}

void TCustomFFmpeg::ChoosePixelFormat(AVCodecContext& encoder, const AVCodec* codec) {
  if (!codec || !codec->pix_fmts) return;
  static const AVPixelFormat mjpeg[] = {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P,
                                        AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV422P, AV_PIX_FMT_NONE};
  static const AVPixelFormat ljpeg[] = {
      AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUVJ444P, AV_PIX_FMT_YUV420P,
      AV_PIX_FMT_YUV422P,  AV_PIX_FMT_YUV444P,  AV_PIX_FMT_BGRA,     AV_PIX_FMT_NONE};
  const AVPixelFormat* formats = codec->pix_fmts;
  if (encoder.strict_std_compliance <= FF_COMPLIANCE_UNOFFICIAL) {
    if (codec->id == AV_CODEC_ID_MJPEG) formats = mjpeg;
    if (codec->id == AV_CODEC_ID_LJPEG) formats = ljpeg;
  }
  for (const AVPixelFormat* format = formats; *format != AV_PIX_FMT_NONE; ++format)
    if (*format == encoder.pix_fmt) return;
  if (encoder.pix_fmt != AV_PIX_FMT_NONE)
    LogFmt(llWarning,
           "Incompatible pixel format \"%s\" for codec \"%s\", auto-selecting format \"%s\"",
           PixelFormatName(encoder.pix_fmt), codec->name, PixelFormatName(formats[0]));
  encoder.pix_fmt = formats[0];
}

// ---- Input-side processing ----

// Deinterlacing, the input hooks and the hook libraries work on a copy of the decoded picture,
// which then replaces it. A picture of a format the deinterlacer cannot take is converted first.
AVFrame* TCustomFFmpeg::PreProcessVideoFrame(TInputStream& ist, AVFrame* picture) {
  ++ist.DecodedFrames;
  if (!FSettings.DoDeinterlace && !OnFrameInputHook && !OnVideoInputHook && FFrameHooks.Empty())
    return picture;
  const AVFrame* source = FSettings.DoDeinterlace ? DeinterlaceSource(*picture) : picture;
  AVFrame* buffer =
      HookFrame(FInputHookFrame, AVPixelFormat(source->format), source->width, source->height);
  if (!buffer) {
    Log(llError, "hook buf malloc error.");
    return picture;
  }
  bool copied = false;
  if (FSettings.DoDeinterlace) {
    copied = DeinterlacePicture(buffer->data, buffer->linesize, source->data, source->linesize,
                                AVPixelFormat(source->format), source->width, source->height) >= 0;
    if (!copied) {
      Log(llError, "Deinterlacing failed.");
      if (!OnFrameInputHook && !OnVideoInputHook && FFrameHooks.Empty()) return picture;
    }
  }
  if (!copied) ff::av_frame_copy(buffer, source);
  ff::av_frame_copy_props(buffer, picture);
  if (OnFrameInputHook)
    OnFrameInputHook(this, reinterpret_cast<const TAVPicture*>(buffer->data), buffer->format,
                     ist.DecodedFrames, buffer->width, buffer->height, ist.Pts);
  if (OnVideoInputHook)
    RunBitmapHook(FInputConverter, OnVideoInputHook, buffer, ist.DecodedFrames, ist.Pts);
  else if (!FFrameHooks.Empty())
    FFrameHooks.FrameHookProcess(buffer->data, buffer->linesize, AVPixelFormat(buffer->format),
                                 buffer->width, buffer->height, ist.Pts);
  return buffer;
}

// The picture in a format the deinterlacer takes: itself, or converted (the picture itself when
// the conversion cannot be made, which the deinterlacer then refuses).
const AVFrame* TCustomFFmpeg::DeinterlaceSource(const AVFrame& picture) {
  const AVPixelFormat format = AVPixelFormat(picture.format);
  const AVPixelFormat target = DeinterlaceableFormat(format);
  if (target == format) return &picture;
  AVFrame* converted = HookFrame(FDeinterlaceFrame, target, picture.width, picture.height);
  FDeinterlaceConverter = ff::sws_getCachedContext(
      FDeinterlaceConverter, picture.width, picture.height, format, picture.width, picture.height,
      target, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!converted || !FDeinterlaceConverter) return &picture;
  ff::sws_scale(FDeinterlaceConverter, picture.data, picture.linesize, 0, picture.height,
                converted->data, converted->linesize);
  return converted;
}

// The hook buffer of one side as a picture of the format and size, (re)made when they change.
// nullptr when memory is missing.
AVFrame* TCustomFFmpeg::HookFrame(AVFrame*& frame, AVPixelFormat format, int width, int height) {
  if (frame && (frame->format != format || frame->width != width || frame->height != height))
    ff::av_frame_free(&frame);
  if (!frame) {
    frame = ff::av_frame_alloc();
    if (!frame) return nullptr;
    frame->format = format;
    frame->width = width;
    frame->height = height;
    if (ff::av_frame_get_buffer(frame, 0) < 0) {
      ff::av_frame_free(&frame);
      return nullptr;
    }
  }
  return ff::av_frame_make_writable(frame) < 0 ? nullptr : frame;
}

// The bitmap hook on a picture: the picture as a bitmap to the hook, and the hook's drawing back
// into the picture when it says so. A hook that asks to stop, or whose picture cannot be
// converted, is not called again.
void TCustomFFmpeg::RunBitmapHook(TFormatConverter& converter, TBitmapHookEvent& hook,
                                  AVFrame* picture, int frameNumber, int64_t pts) {
  const AVPixelFormat format = AVPixelFormat(picture->format);
  bool stopHook = false;
  bool update = true;
  if (!converter.PictureToBitmap(picture->data, picture->linesize, format, true, picture->width,
                                 picture->height)) {
    Log(llError, converter.LastError);
    stopHook = true;
  } else {
    try {
      hook(this, &converter.Bitmap(), frameNumber, pts, update, stopHook);
    } catch (const std::exception& e) {
      Log(llError, std::string("Error occurs VideoHook event: ") + e.what());
      update = false;
    }
    if (update) {
      converter.CopyBitmapToBuffer();
      if (!converter.BitmapToPicture(picture->data, picture->linesize, format, picture->width,
                                     picture->height)) {
        Log(llError, converter.LastError);
        stopHook = true;
      }
    } else if (&converter == &FOutputConverter) {
      FOutputPictureConverted = false;
    }
  }
  if (stopHook) hook = nullptr;
}

// ---- Video output ----

// A picture's place follows from its own time and the next picture's, so each one is held
// until the next one comes (or its stream ends). A part of the input holds the pictures whose
// times fall in its range.
void TCustomFFmpeg::DoVideoOut(TOutputStream& ost, const TInputStream& ist, AVFrame* picture) {
  if (Root(ost).EncoderFlushed) return;
  const double time = OutputTime(*FInputStreams[ost.SyncSource]);
  const bool pastEnd = time * AV_TIME_BASE >= double(FSettings.RecordingTime);
  if (FSettings.VideoSyncMethod == 0) {
    if (time < 0 || pastEnd) return;
    const AVCodecContext& encoder = *Root(ost).Encoder;
    WritePictures(ost, picture,
                  VideoSyncFrames(0, false, time / av_q2d(encoder.time_base), ost.SyncPts));
    return;
  }
  if (ost.HeldPicture) ShowHeldPicture(ost, ist, time);
  if (pastEnd) return;
  if (!(ost.HeldPicture = ff::av_frame_clone(picture))) throw std::bad_alloc();
  ost.HeldTime = time;
}

// Writes the held picture, now that the next one's time (s; infinite after the last) is known,
// at the output picture time it is shown at, or gives it up to the next one.
void TCustomFFmpeg::ShowHeldPicture(TOutputStream& ost, const TInputStream& ist, double next) {
  const double tick = av_q2d(Root(ost).Encoder->time_base);
  const bool opening =
      ost.FrameNumber == 0 && (FSettings.StartTime != 0 || FInputFiles[ist.FileIndex]->OpensInside);
  const int64_t slot = HeldPictureSlot(ost.HeldTime / tick, next / tick, ost.SyncPts, opening);
  int frames = 0;
  if (slot >= 0) {
    const bool variable = FOutputFiles[ost.FileIndex]->Ctx->oformat->flags & AVFMT_VARIABLE_FPS;
    frames = VideoSyncFrames(FSettings.VideoSyncMethod, variable, double(slot), ost.SyncPts);
    if (double(frames) * tick > TimestampErrorThreshold) {
      LogFmt(llWarning, "%d frame duplication too large, skipping", frames - 1);
      frames = 1;
    }
  }
  CountDupDrop(frames);
  try {
    WritePictures(ost, ost.HeldPicture, frames);
  } catch (...) {
    ff::av_frame_free(&ost.HeldPicture);
    throw;
  }
  ff::av_frame_free(&ost.HeldPicture);
}

// At the end of a stream, and at once for a cover (its stream's only picture, which at the end
// of the run would land after sound that the muxer could not hold back for it), the held
// pictures have no next one. A part whose range holds no picture (one past the video's end, a
// song's middle with its cover) shows the one shown at its start.
void TCustomFFmpeg::ShowHeldPictures(const TInputStream& ist, int istIndex) {
  for (TOutputStream* ost : FOutputStreams)
    if (ost->SourceIndex == istIndex && ost->HeldPicture && !Root(*ost).EncoderFlushed)
      ShowHeldPicture(*ost, ist, std::numeric_limits<double>::infinity());
}

// Writes the picture `frames` times, as far as the frame limit allows.
void TCustomFFmpeg::WritePictures(TOutputStream& ost, AVFrame* picture, int frames) {
  AVCodecContext& encoder = *Root(ost).Encoder;
  frames = std::min(frames, FSettings.MaxFrames[AVMEDIA_TYPE_VIDEO] - ost.FrameNumber);
  if (frames <= 0) return;
  if (ost.FrameAspectRatio == 0 && picture->sample_aspect_ratio.num)
    encoder.sample_aspect_ratio = picture->sample_aspect_ratio;
  picture = ScaleForEncoder(ost, encoder, picture);
  for (int n = 0; n < frames && !Aborting; ++n) {
    CheckPaused();
    const int size = WriteVideoFrame(ost, encoder, picture);
    if (size > 0 && !FSettings.VStatsFileName.empty()) DoVideoStats(ost, size);
  }
}

void TCustomFFmpeg::CountDupDrop(int frames) {
  if (frames == 1) return;
  FDupDropPending = true;
  if (frames == 0) {
    ++FFramesDropped;
    if (FSettings.Verbose > 2) Log(llVerbose, "*** drop!");
  } else {
    FFramesDuplicated += frames - 1;
    if (FSettings.Verbose > 2) LogFmt(llVerbose, "*** %d dup!", frames - 1);
  }
}

// The scaler brings the picture to the encoder's size and format: what a chain gave out at
// another size (join mode: an input of another size), or asked for without a chain.
AVFrame* TCustomFFmpeg::ScaleForEncoder(TOutputStream& ost, const AVCodecContext& encoder,
                                        AVFrame* picture) {
  const AVPixelFormat format = AVPixelFormat(picture->format);
  if (picture->width == encoder.width && picture->height == encoder.height &&
      format == encoder.pix_fmt)
    return picture;
  if (!ost.ResampleFrame) {
    ost.ResampleFrame = ff::av_frame_alloc();
    if (ost.ResampleFrame) {
      ost.ResampleFrame->format = encoder.pix_fmt;
      ost.ResampleFrame->width = encoder.width;
      ost.ResampleFrame->height = encoder.height;
    }
    if (!ost.ResampleFrame || ff::av_frame_get_buffer(ost.ResampleFrame, 0) < 0)
      throw FFmpegException("Cannot allocate temp picture, check pix fmt");
  }
  ost.ImgResampleCtx = ff::sws_getCachedContext(
      ost.ImgResampleCtx, picture->width, picture->height, format, encoder.width, encoder.height,
      encoder.pix_fmt, ost.SwsFlags, nullptr, nullptr, nullptr);
  if (!ost.ImgResampleCtx || ff::av_frame_make_writable(ost.ResampleFrame) < 0)
    throw FFmpegException("Cannot get resampling context");
  ff::sws_scale(ost.ImgResampleCtx, picture->data, picture->linesize, 0, picture->height,
                ost.ResampleFrame->data, ost.ResampleFrame->linesize);
  ff::av_frame_copy_props(ost.ResampleFrame, picture);
  return ost.ResampleFrame;
}

// One encoder frame of the picture at the stream's clock, through the output hooks and the
// preview. The byte size of what the encoder gave out.
int TCustomFFmpeg::WriteVideoFrame(TOutputStream& ost, AVCodecContext& encoder, AVFrame* picture) {
  AVFrame* frame = FEncodeFrame;
  const int64_t pts = ToMicroseconds(ost.SyncPts, encoder.time_base);
  const int frameNumber = ost.FrameNumber + 1;
  FOutputPictureConverted = false;
  if (OnVideoOutputHook || OnFrameOutputHook) picture = RunOutputHooks(picture, frameNumber, pts);
  if (FPreviewFlags != 0) PreviewStep(picture, frameNumber, pts);
  if (ff::av_frame_ref(frame, picture) < 0) throw FFmpegException("Video encoding failed");
  frame->pts = ost.SyncPts;
  frame->pict_type = FSettings.MeThreshold ? picture->pict_type : AV_PICTURE_TYPE_NONE;
  // The stream's own quality is the fixed quantiser ("qscale") when one is set.
  frame->quality = FSettings.SameQuality ? picture->quality : encoder.global_quality;
  if (encoder.flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME))
    frame->top_field_first =
        FSettings.TopFieldFirst == -1 ? picture->top_field_first : FSettings.TopFieldFirst;
  if (ost.ForcedKfIndex < ost.ForcedKfPts.size() &&
      ost.SyncPts >= ost.ForcedKfPts[ost.ForcedKfIndex]) {
    frame->pict_type = AV_PICTURE_TYPE_I;
    frame->key_frame = 1;
    ++ost.ForcedKfIndex;
  }
  int size = 0;
  try {
    size = EncodeAndWrite(ost, frame);
  } catch (...) {
    ff::av_frame_unref(frame);
    throw;
  }
  ff::av_frame_unref(frame);
  ++ost.SyncPts;
  ++ost.FrameNumber;
  return size;
}

AVFrame* TCustomFFmpeg::RunOutputHooks(AVFrame* picture, int frameNumber, int64_t pts) {
  AVFrame* buffer =
      HookFrame(FOutputHookFrame, AVPixelFormat(picture->format), picture->width, picture->height);
  if (!buffer) {
    Log(llError, "hook buf malloc error.");
    return picture;
  }
  ff::av_frame_copy(buffer, picture);
  ff::av_frame_copy_props(buffer, picture);
  if (OnVideoOutputHook) {
    RunBitmapHook(FOutputConverter, OnVideoOutputHook, buffer, frameNumber, pts);
    FOutputPictureConverted = OnVideoOutputHook != nullptr;
  }
  if (OnFrameOutputHook)
    OnFrameOutputHook(this, reinterpret_cast<const TAVPicture*>(buffer->data), buffer->format,
                      frameNumber, buffer->width, buffer->height, pts);
  return buffer;
}

// A preview at most every PreviewInterval: to the preview event, else into the previewer
// window. The picture is taken under the preview lock and delivered after it: delivery waits
// for the main thread, which takes the same lock when the owner changes the preview flags. The
// window is held outside the task's field meanwhile, so that such a change cannot free it.
void TCustomFFmpeg::PreviewStep(AVFrame* picture, int frameNumber, int64_t pts) {
  bool toEvent = false, converted = false;
  std::string failure;
  std::unique_ptr<TPreviewer> previewer;
  {
    const std::lock_guard<std::mutex> lock(FFmpegPreviewLock());
    const uint8_t flags = FPreviewFlags;
    toEvent = (flags & 2) && OnPreview;
    const int64_t now = ff::av_gettime_relative();
    if ((!toEvent && !(flags & 1)) || now - FLastPreviewTime <= PreviewInterval) return;
    FLastPreviewTime = now;
    converted = FOutputPictureConverted && !FPreviewReconvert;
    if (!converted)
      converted = FOutputConverter.PictureToBitmap(picture->data, picture->linesize,
                                                   AVPixelFormat(picture->format), true,
                                                   picture->width, picture->height);
    FPreviewReconvert = false;
    if (!converted) {
      failure = FOutputConverter.LastError;
      FPreviewFlags = flags & ~uint8_t(1);
    } else if (!toEvent) {
      previewer = std::move(FPreviewer);
      if (!previewer) previewer = std::make_unique<TPreviewer>();
    }
  }
  // Logged outside the lock: a log line may wait for the main thread.
  if (!converted) Log(llError, failure);
  if (converted && toEvent) OnPreview(this, &FOutputConverter.Bitmap(), frameNumber, pts);
  if (!previewer) return;
  const bool shown = previewer->Show(FOutputConverter.Bitmap(), pts);
  const std::lock_guard<std::mutex> lock(FFmpegPreviewLock());
  if (!shown) FPreviewFlags = FPreviewFlags & ~uint8_t(1);
  if (shown && (FPreviewFlags & 1) && !FPreviewer) FPreviewer = std::move(previewer);
}
