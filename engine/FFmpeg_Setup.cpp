#include "FFmpeg_Private.h"

#include "FilterChainTranslator.h"

using namespace ffmpeg_internal;

// ---- Transcoding set-up ----

void TCustomFFmpeg::TranscodeLoop() {
  AllocRunFrames();
  if (FSettings.RateEmu)
    for (auto& ist : FInputStreams) ist->RateEmuStart = ff::av_gettime_relative();
  BuildOutputStreamTable();
  for (TOutputStream* ost : FOutputStreams) SetCodecParameters(*ost);
  PlanThreads();
  // Decoders first: a subtitle encoder takes the header its source decoder makes when it opens.
  OpenDecoders();
  OpenEncoders();
  for (auto& ist : FInputStreams) InitInputClock(*ist);
  CopyMetadata();
  CopyChapters();
  WriteHeaders();
  PrintStreamMapping();
  MainLoop();
}

void TCustomFFmpeg::AllocRunFrames() {
  FDecodedFrame = ff::av_frame_alloc();
  FEncodeFrame = ff::av_frame_alloc();
  FOutPacket = ff::av_packet_alloc();
  if (!FDecodedFrame || !FEncodeFrame || !FOutPacket) throw std::bad_alloc();
}

void TCustomFFmpeg::FreeRunFrames() {
  ff::av_frame_free(&FDecodedFrame);
  ff::av_frame_free(&FEncodeFrame);
  ff::av_frame_free(&FInputHookFrame);
  ff::av_frame_free(&FOutputHookFrame);
  ff::av_frame_free(&FDeinterlaceFrame);
  ff::sws_freeContext(FDeinterlaceConverter);
  FDeinterlaceConverter = nullptr;
  ff::av_packet_free(&FOutPacket);
  FOutputStreams.clear();
  FPreviewer.reset();
}

int TCustomFFmpeg::GroupSize() const {
  return FOutputFiles.empty() ? 0 : int(FOutputFiles[0]->Streams.size());
}

bool TCustomFFmpeg::IsCandidate(const TInputStream& ist) const {
  if (!ist.Unclaimed || ist.St->discard == AVDISCARD_ALL || PicturesCannotBeHad(*ist.St))
    return false;
  if (FSettings.ProgramID < 0) return true;
  const AVFormatContext* ic = FInputFiles[ist.FileIndex]->Ctx;
  for (unsigned p = 0; p < ic->nb_programs; ++p) {
    const AVProgram* program = ic->programs[p];
    if (program->id != FSettings.ProgramID) continue;
    for (unsigned s = 0; s < program->nb_stream_indexes; ++s)
      if (int(program->stream_index[s]) == ist.St->index) return true;
  }
  return false;
}

bool TCustomFFmpeg::JoinQualifies(const TInputStream& ist, int fileIndex) const {
  return !FJoinInputs || (ist.FileIndex == fileIndex && !ist.JoinTaken);
}

void TCustomFFmpeg::BuildOutputStreamTable() {
  FOutputStreams.clear();
  for (size_t i = 0; i < FOutputFiles.size(); ++i) {
    TOutputFile& file = *FOutputFiles[i];
    if (file.Streams.empty() && !(file.Ctx->oformat->flags & AVFMT_NOSTREAMS)) {
      ff::av_dump_format(file.Ctx, int(i), file.FileName.c_str(), 1);
      throw FFmpegException(Format("Output file #%d does not contain any stream", int(i)));
    }
    for (auto& ost : file.Streams) {
      // The muxer stream tells every part of the run the stream's media type.
      if (!ost->Mirror) ost->St->codecpar->codec_type = ost->Encoder->codec_type;
      FOutputStreams.push_back(ost.get());
    }
  }
  if (!FStreamMaps.empty() && FStreamMaps.size() != FOutputStreams.size())
    throw FFmpegException("Number of stream maps must match number of output streams");
  for (const TStreamMap& map : FStreamMaps) {
    if (!FindInputStream(map.FileIndex, map.StreamIndex))
      throw FFmpegException(
          Format("Could not find input stream #%d.%d", map.FileIndex, map.StreamIndex));
    if (!FindInputStream(map.SyncFileIndex, map.SyncStreamIndex))
      throw FFmpegException(
          Format("Could not find sync stream #%d.%d", map.SyncFileIndex, map.SyncStreamIndex));
  }
  const std::array<int64_t, AVMEDIA_TYPE_NB> thresholds = FrameThresholds();
  for (size_t i = 0; i < FOutputStreams.size(); ++i)
    ChooseSource(*FOutputStreams[i], i, thresholds);
}

TInputStream* TCustomFFmpeg::FindInputStream(int fileIndex, int streamIndex) const {
  if (fileIndex < 0 || fileIndex >= int(FInputFiles.size())) return nullptr;
  const TInputFile& file = *FInputFiles[fileIndex];
  if (streamIndex < 0 || streamIndex >= file.NbStreams) return nullptr;
  return FInputStreams[file.IstIndex + streamIndex].get();
}

int TCustomFFmpeg::InputStreamIndex(const TInputStream* ist) const {
  for (size_t i = 0; i < FInputStreams.size(); ++i)
    if (FInputStreams[i].get() == ist) return int(i);
  return -1;
}

// Per media type the largest probed frame count that still leaves as many candidate inputs as
// there are output streams of the type: the inputs with the most frames are preferred.
std::array<int64_t, AVMEDIA_TYPE_NB> TCustomFFmpeg::FrameThresholds() const {
  std::array<int, AVMEDIA_TYPE_NB> wanted{};
  for (const TOutputStream* ost : FOutputStreams) {
    const int type = ost->St->codecpar->codec_type;
    if (type >= 0 && type < AVMEDIA_TYPE_NB) ++wanted[type];
  }
  std::array<int64_t, AVMEDIA_TYPE_NB> thresholds{};
  for (int64_t step = int64_t(1) << 30; step > 0; step >>= 1) {
    std::array<int, AVMEDIA_TYPE_NB> found{};
    for (auto& t : thresholds) t += step;
    for (const auto& ist : FInputStreams) {
      const int type = ist->St->codecpar->codec_type;
      if (type >= 0 && type < AVMEDIA_TYPE_NB && IsCandidate(*ist) &&
          ProbedFrames(*ist->St) >= thresholds[type])
        ++found[type];
    }
    for (int type = 0; type < AVMEDIA_TYPE_NB; ++type)
      if (found[type] < wanted[type]) thresholds[type] -= step;
  }
  return thresholds;
}

void TCustomFFmpeg::ChooseSource(TOutputStream& ost, size_t tableIndex,
                                 const std::array<int64_t, AVMEDIA_TYPE_NB>& thresholds) {
  const AVMediaType type = ost.St->codecpar->codec_type;
  TInputStream* source = nullptr;
  TInputStream* sync = nullptr;
  if (!FStreamMaps.empty()) {
    const TStreamMap& map = FStreamMaps[tableIndex];
    source = FindInputStream(map.FileIndex, map.StreamIndex);
    sync = FindInputStream(map.SyncFileIndex, map.SyncStreamIndex);
    if (source->St->codecpar->codec_type != type)
      throw FFmpegException(Format("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)",
                                   map.FileIndex, map.StreamIndex,
                                   MediaTypeName(source->St->codecpar->codec_type).c_str(),
                                   ost.FileIndex, ost.Index, MediaTypeName(type).c_str()));
  } else {
    source = FindSource(ost, type, thresholds[type]);
    if (!source)
      throw FFmpegException(Format("Could not find input stream matching output stream #%d.%d (%s)",
                                   ost.FileIndex, ost.Index, MediaTypeName(type).c_str()));
    sync = source;
  }
  if (FJoinInputs) source->JoinTaken = true;
  source->Unclaimed = false;
  ost.SourceIndex = InputStreamIndex(source);
  ost.SyncSource = InputStreamIndex(sync);
  ost.Active = true;
}

TInputStream* TCustomFFmpeg::FindSource(const TOutputStream& ost, AVMediaType type,
                                        int64_t threshold) const {
  for (const auto& ist : FInputStreams)
    if (ist->St->codecpar->codec_type == type && IsCandidate(*ist) &&
        ProbedFrames(*ist->St) >= threshold && JoinQualifies(*ist, ost.FileIndex))
      return ist.get();
  if (FSettings.ProgramID >= 0) return nullptr;
  TInputStream* last = nullptr;
  for (const auto& ist : FInputStreams) {
    if (ist->St->codecpar->codec_type != type || ist->St->discard == AVDISCARD_ALL) continue;
    if (FJoinInputs) {
      if (JoinQualifies(*ist, ost.FileIndex)) return ist.get();
    } else {
      last = ist.get();
    }
  }
  return last;
}

// ---- Codec parameters ----

void TCustomFFmpeg::SetCodecParameters(TOutputStream& ost) {
  TInputStream& ist = *FInputStreams[ost.SourceIndex];
  if (ost.Mirror) {
    SetMirrorParameters(ost, ist);
    return;
  }
  if (FMetadataStreamsAutoCopy)
    ff::av_dict_copy(&ost.St->metadata, ist.St->metadata, AV_DICT_DONT_OVERWRITE);
  ost.St->disposition = ist.St->disposition;
  AVCodecContext& encoder = *ost.Encoder;
  encoder.bits_per_raw_sample = ist.St->codecpar->bits_per_raw_sample;
  encoder.chroma_sample_location = ist.St->codecpar->chroma_location;
  if (ost.StreamCopy) {
    SetCopyParameters(ost, ist);
    return;
  }
  switch (encoder.codec_type) {
    case AVMEDIA_TYPE_VIDEO:
      SetVideoParameters(ost, ist);
      break;
    case AVMEDIA_TYPE_AUDIO:
      SetAudioParameters(ost, ist);
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      encoder.time_base = AVRational{1, AV_TIME_BASE};
      break;
    default:
      throw FFmpegException("invalid codec_type of output stream");
  }
  ost.EncodingNeeded = true;
  ist.DecodingNeeded = true;
  OpenPassLogFile(ost);
}

// Join mode: a later group's stream writes through the encoder of the stream it mirrors, from
// its own input, whose pictures and samples may differ from the first input's.
void TCustomFFmpeg::SetMirrorParameters(TOutputStream& ost, TInputStream& ist) {
  ost.EncodingNeeded = ost.Mirror->EncodingNeeded;
  if (!ost.EncodingNeeded) return;
  ist.DecodingNeeded = true;
  const AVCodecContext& decoder = *ist.Decoder;
  switch (ost.St->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
      ost.GraphInput = DecodedGraphInput(ist);
      if (NeedsFilterGraph(ist)) ConfigureFiltersOrFail(ost, ist);
      break;
    case AVMEDIA_TYPE_AUDIO:
      ost.ResampleSampleFmt = AV_SAMPLE_FMT_S16;
      ost.ResampleChannels = decoder.ch_layout.nb_channels;
      ost.ResampleSampleRate = decoder.sample_rate;
      break;
    default:
      break;
  }
}

void TCustomFFmpeg::ConfigureFiltersOrFail(TOutputStream& ost, const TInputStream& ist) {
  const int result = ConfigureVideoFilters(ost, ist);
  if (result < 0) throw FFmpegException(AVErrorText("Error opening filters", result));
}

void TCustomFFmpeg::SetCopyParameters(TOutputStream& ost, TInputStream& ist) {
  const AVCodecParameters& in = *ist.St->codecpar;
  AVCodecParameters& out = *ost.St->codecpar;
  if (in.extradata_size > INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE)
    throw FFmpegException("icodec.extradata_size is invalid (too large)");
  switch (in.codec_type) {
    case AVMEDIA_TYPE_AUDIO:
      if (FSettings.AudioVolume != 256)
        throw FFmpegException("-acodec copy and -vol are incompatible (frames are not decoded)");
      if (OnAudioHook)
        throw FFmpegException(
            "-acodec copy and AudioHook are incompatible (frames are not decoded)");
      break;
    case AVMEDIA_TYPE_VIDEO:
      CheckVideoCopy();
      break;
    case AVMEDIA_TYPE_SUBTITLE:
    case AVMEDIA_TYPE_DATA:
      break;
    default:
      throw FFmpegException("invalid codec_type of output stream");
  }
  if (ff::avcodec_parameters_copy(&out, &in) < 0) throw FFmpegException("av_mallocz fail");
  out.codec_tag = CopiedCodecTag(ost, in);
  if (in.codec_type == AVMEDIA_TYPE_AUDIO &&
      ((in.codec_id == AV_CODEC_ID_MP3 && in.block_align == 1) || in.codec_id == AV_CODEC_ID_AC3))
    out.block_align = 0;
  if (in.codec_type == AVMEDIA_TYPE_VIDEO) {
    const AVRational ratio = ost.FrameAspectRatio > 0
                                 ? ff::av_d2q(ost.FrameAspectRatio * in.height / in.width, 255)
                             : ist.St->sample_aspect_ratio.num ? ist.St->sample_aspect_ratio
                             : in.sample_aspect_ratio.num      ? in.sample_aspect_ratio
                                                               : AVRational{0, 1};
    out.sample_aspect_ratio = ost.St->sample_aspect_ratio = ratio;
  }
  ost.St->time_base = ist.St->time_base;
  ost.St->avg_frame_rate = ist.St->avg_frame_rate;
}

void TCustomFFmpeg::CheckVideoCopy() const {
  if (OnVideoInputHook || OnVideoOutputHook)
    throw FFmpegException("-vcodec copy and VideoHook are incompatible (frames are not decoded)");
  if (OnFrameInputHook || OnFrameOutputHook)
    throw FFmpegException("-vcodec copy and FrameHook are incompatible (frames are not decoded)");
  if (!FFrameHooks.Empty())
    throw FFmpegException("-vcodec copy and -vhook are incompatible (frames are not decoded)");
  if (FPreviewFlags != 0)
    throw FFmpegException("-vcodec copy and PostHooks are incompatible (frames are not decoded)");
}

// The input's codec tag, when the output format accepts it for the same codec.
uint32_t TCustomFFmpeg::CopiedCodecTag(const TOutputStream& ost,
                                       const AVCodecParameters& in) const {
  const AVOutputFormat* format = FOutputFiles[ost.FileIndex]->Ctx->oformat;
  if (!format->codec_tag) return in.codec_tag;
  if (ff::av_codec_get_id(format->codec_tag, in.codec_tag) == in.codec_id) return in.codec_tag;
  if (ff::av_codec_get_tag(format->codec_tag, in.codec_id) == 0) return in.codec_tag;
  return 0;
}

void TCustomFFmpeg::SetVideoParameters(TOutputStream& ost, TInputStream& ist) {
  AVCodecContext& encoder = *ost.Encoder;
  const AVCodecContext& decoder = *ist.Decoder;
  if (encoder.pix_fmt == AV_PIX_FMT_NONE) encoder.pix_fmt = decoder.pix_fmt;
  ChoosePixelFormat(encoder, ost.Codec);
  if (encoder.pix_fmt == AV_PIX_FMT_NONE)
    throw FFmpegException("Video pixel format is unknown, stream cannot be encoded");
  // Sizes are those of the picture as shown, turned upright.
  int width = decoder.width;
  int height = decoder.height;
  DisplayedSize(DisplayQuarterTurns(ist.St), width, height);
  if (encoder.width <= 0) encoder.width = width;
  if (encoder.height <= 0) encoder.height = height;
  ost.VideoResample =
      encoder.width != width || encoder.height != height || encoder.pix_fmt != decoder.pix_fmt;
  if (ost.VideoResample) encoder.bits_per_raw_sample = FSettings.FrameBitsPerRawSample;
  ost.GraphInput = DecodedGraphInput(ist);
  AVRational rate = ost.FrameRate;
  if (!rate.num) rate = ist.St->r_frame_rate;
  if (!rate.num || !rate.den) rate = AVRational{25, 1};
  if (ost.Codec && ost.Codec->supported_framerates && !FSettings.ForceFps)
    rate = ost.Codec->supported_framerates[ff::av_find_nearest_q_idx(
        rate, ost.Codec->supported_framerates)];
  encoder.framerate = rate;
  encoder.time_base = AVRational{rate.den, rate.num};
  const bool variable = (FOutputFiles[ost.FileIndex]->Ctx->oformat->flags & AVFMT_VARIABLE_FPS);
  if (av_q2d(encoder.time_base) < 0.001 &&
      (FSettings.VideoSyncMethod == 1 || (FSettings.VideoSyncMethod < 0 && !variable)))
    ff::av_log(&encoder, AV_LOG_WARNING, "%s",
               "Frame rate very high for a muxer not effciciently supporting it.\n"
               "Please consider specifiying a lower framerate, a different muxer or -vsync 2\n");
  if (!ost.ForcedKeyFramesText.empty()) ParseForcedKeyFrames(ost.ForcedKeyFramesText, ost, encoder);
  if (NeedsFilterGraph(ist)) ConfigureFiltersOrFail(ost, ist);
}

// A filter chain was given, or the pictures need stock filters.
bool TCustomFFmpeg::NeedsFilterGraph(const TInputStream& ist) const {
  return FSettings.UseFilters || !StockVideoFilters(ist, DecodedGraphInput(ist)).empty();
}

// Outputs carry no colour tag, so their readers take SDR in the YCbCr matrix of BT.601.
std::string TCustomFFmpeg::StockVideoFilters(const TInputStream& ist,
                                             const TVideoGraphInput& input) {
  const int turns = DisplayQuarterTurns(ist.St);
  int width = input.Width;
  int height = input.Height;
  DisplayedSize(turns, width, height);
  return JoinFilterChains({UprightFilterText(turns),
                           SDRFilterText(input.Format, input.Colours, width, height)});
}

// The pictures the decoder says it gives, before the first one comes.
TVideoGraphInput TCustomFFmpeg::DecodedGraphInput(const TInputStream& ist) {
  const AVCodecContext& decoder = *ist.Decoder;
  return {decoder.width, decoder.height, decoder.pix_fmt, PictureColours(decoder)};
}

void TCustomFFmpeg::SetAudioParameters(TOutputStream& ost, TInputStream& ist) {
  AVCodecContext& encoder = *ost.Encoder;
  const AVCodecContext& decoder = *ist.Decoder;
  if (encoder.sample_fmt == AV_SAMPLE_FMT_NONE) encoder.sample_fmt = decoder.sample_fmt;
  ChooseSampleFormat(encoder, ost.Codec);
  if (encoder.sample_rate <= 0) encoder.sample_rate = decoder.sample_rate >> decoder.lowres;
  ChooseSampleRate(encoder, ost.Codec);
  CheckSampleRate(ist, decoder.sample_rate, encoder.sample_rate);
  encoder.time_base = AVRational{1, encoder.sample_rate};
  if (encoder.ch_layout.nb_channels <= 0)
    ff::av_channel_layout_default(&encoder.ch_layout, decoder.ch_layout.nb_channels);
  ost.AudioResample = encoder.sample_rate != decoder.sample_rate || FSettings.AudioSyncMethod > 1;
  ost.ResampleSampleFmt = AV_SAMPLE_FMT_S16;
  ost.ResampleChannels = decoder.ch_layout.nb_channels;
  ost.ResampleSampleRate = decoder.sample_rate;
  const int channels = encoder.ch_layout.nb_channels;
  const int bytes = std::max(1, channels * ff::av_get_bytes_per_sample(encoder.sample_fmt));
  ost.Fifo = ff::av_audio_fifo_alloc(encoder.sample_fmt, channels, std::max(1, 1024 / bytes));
  if (!ost.Fifo) throw FFmpegException("av_fifo_alloc fail");
}

void TCustomFFmpeg::OpenPassLogFile(TOutputStream& ost) {
  AVCodecContext& encoder = *ost.Encoder;
  if (!(encoder.flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)) ||
      encoder.codec_id == AV_CODEC_ID_RAWVIDEO)
    return;
  const std::string prefix =
      FSettings.PassLogFileName.empty() ? "ffmpeg2pass" : FSettings.PassLogFileName;
  const std::string name = (prefix + "-" + std::to_string(ost.Index) + ".log").substr(0, 1023);
  if (encoder.flags & AV_CODEC_FLAG_PASS1) {
    ost.LogFile = std::fopen(name.c_str(), "wb");
    if (!ost.LogFile)
      throw FFmpegException(Format("Cannot write log file %s for pass-1 encoding", name.c_str()));
    return;
  }
  uint8_t* text = nullptr;
  int64_t size = 0;
  const int read = ReadWholeFile(name.c_str(), text, size);
  if (read == AVERROR(ENOMEM))
    throw FFmpegException(
        Format("Could not allocate file buffer: Error reading log file \"%s\" for pass-2 encoding",
               name.c_str()));
  if (read < 0)
    throw FFmpegException(Format(
        "Cannot read file: Error reading log file \"%s\" for pass-2 encoding", name.c_str()));
  encoder.stats_in = reinterpret_cast<char*>(text);
}

// ---- Opening codecs ----

void TCustomFFmpeg::OpenEncoders() {
  const size_t count = FJoinInputs ? size_t(GroupSize()) : FOutputStreams.size();
  for (size_t i = 0; i < count; ++i) {
    TOutputStream& ost = *FOutputStreams[i];
    if (!ost.EncodingNeeded) continue;
    OpenEncoder(ost);
    StartThreadedEncoding(ost);
  }
}

void TCustomFFmpeg::FailSetUp(const std::string& text) {
  Log(llError, text);
  PrintStreamMapping();
  throw FFmpegException(text);
}

void TCustomFFmpeg::OpenEncoder(TOutputStream& ost) {
  AVCodecContext& encoder = *ost.Encoder;
  const TInputStream& ist = *FInputStreams[ost.SourceIndex];
  const std::string type = MediaTypeName(encoder.codec_type);
  if (!ost.Codec)
    FailSetUp(Format("Encoder (codec id %d) not found for output stream #%d.%d (%s)",
                     int(encoder.codec_id), ost.FileIndex, ost.Index, type.c_str()));
  if (ist.Decoder && ist.Decoder->subtitle_header) {
    encoder.subtitle_header =
        static_cast<uint8_t*>(ff::av_mallocz(size_t(ist.Decoder->subtitle_header_size) + 1));
    if (!encoder.subtitle_header) FailSetUp("av_malloc failed");
    std::memcpy(encoder.subtitle_header, ist.Decoder->subtitle_header,
                size_t(ist.Decoder->subtitle_header_size));
    encoder.subtitle_header_size = ist.Decoder->subtitle_header_size;
  }
  ost.JoinCodecId = encoder.codec_id;
  int opened = 0;
  {
    const TCodecLock lock;
    opened = ff::avcodec_open2(&encoder, ost.Codec, nullptr);
    if (opened >= 0) FOpenEncoders.push_front(&ost);
  }
  if (opened < 0)
    FailSetUp(AVErrorText(Format("Error while opening encoder for output stream #%d.%d (%s)",
                                 ost.FileIndex, ost.Index, type.c_str()),
                          opened) +
              " - maybe incorrect parameters such as bit_rate, rate, width or height. Please "
              "check error log message to find out more detail information.");
  if (ff::avcodec_parameters_from_context(ost.St->codecpar, &encoder) < 0)
    throw FFmpegException("av_mallocz fail");
  ost.St->time_base = encoder.time_base;
  ost.St->avg_frame_rate = encoder.framerate;
  ost.St->sample_aspect_ratio = encoder.sample_aspect_ratio;
}

void TCustomFFmpeg::OpenDecoders() {
  for (size_t i = 0; i < FInputStreams.size(); ++i) {
    TInputStream& ist = *FInputStreams[i];
    if (!ist.DecodingNeeded) continue;
    const TInputFile& file = *FInputFiles[ist.FileIndex];
    const int streamIndex = int(i) - file.IstIndex;
    const std::string type = MediaTypeName(ist.St->codecpar->codec_type);
    const AVCodec* codec = ist.ForcedDecoder ? ist.ForcedDecoder
                                             : ff::avcodec_find_decoder(ist.St->codecpar->codec_id);
    if (!codec)
      FailSetUp(Format("Decoder (codec id %d) not found for input stream #%d.%d (%s)",
                       int(ist.St->codecpar->codec_id), ist.FileIndex, streamIndex, type.c_str()));
    int opened = 0;
    {
      const TCodecLock lock;
      opened = ff::avcodec_open2(ist.Decoder, codec, nullptr);
      if (opened >= 0) FOpenDecoders.push_front(&ist);
    }
    if (opened < 0)
      FailSetUp(AVErrorText(Format("Error while opening decoder for input stream #%d.%d (%s)",
                                   ist.FileIndex, streamIndex, type.c_str()),
                            opened));
  }
}

void TCustomFFmpeg::InitInputClock(TInputStream& ist) {
  const AVRational rate = ist.St->avg_frame_rate;
  ist.Pts =
      rate.num ? -int64_t(ist.St->codecpar->video_delay) * AV_TIME_BASE * rate.den / rate.num : 0;
  ist.NextPts = AV_NOPTS_VALUE;
  ist.AtStart = true;
}

// ---- Metadata, chapters and headers ----

void TCustomFFmpeg::CopyMetadata() {
  for (const TMetadataMap& map : FMetadataMaps) {
    AVDictionary** out = MetadataOf(map.Output, true);
    AVDictionary** in = MetadataOf(map.Input, false);
    ff::av_dict_copy(out, *in, AV_DICT_DONT_OVERWRITE);
  }
  if (!FMetadataGlobalAutoCopy || FInputFiles.empty()) return;
  for (const auto& file : FOutputFiles)
    if (file->OwnsContext)
      ff::av_dict_copy(&file->Ctx->metadata, FInputFiles[0]->Ctx->metadata, AV_DICT_DONT_OVERWRITE);
}

AVDictionary** TCustomFFmpeg::MetadataOf(const TMetadataSpec& spec, bool output) const {
  const auto invalid = [](const char* what, int index) {
    return FFmpegException(
        Format("Invalid %s index %d while processing metadata maps", what, index));
  };
  const int files = output ? OutputCount() : InputCount();
  if (spec.File < 0 || spec.File >= files)
    throw invalid(output ? "output file" : "input file", spec.File);
  AVFormatContext* ctx = output ? FOutputFiles[spec.File]->Ctx : FInputFiles[spec.File]->Ctx;
  switch (spec.Type) {
    case 's':
      if (spec.Index < 0 || spec.Index >= int(ctx->nb_streams)) throw invalid("stream", spec.Index);
      return &ctx->streams[spec.Index]->metadata;
    case 'c':
      if (spec.Index < 0 || spec.Index >= int(ctx->nb_chapters))
        throw invalid("chapter", spec.Index);
      return &ctx->chapters[spec.Index]->metadata;
    case 'p':
      if (spec.Index < 0 || spec.Index >= int(ctx->nb_programs))
        throw invalid("program", spec.Index);
      return &ctx->programs[spec.Index]->metadata;
    default:
      return &ctx->metadata;
  }
}

void TCustomFFmpeg::CopyChapters() {
  for (const TChapterMap& map : FChapterMaps) {
    if (map.InFile < 0 || map.InFile >= InputCount())
      throw FFmpegException(Format("Invalid input file index %d in chapter mapping.", map.InFile));
    if (map.OutFile < 0 || map.OutFile >= OutputCount())
      throw FFmpegException(
          Format("Invalid output file index %d in chapter mapping.", map.OutFile));
  }
  if (!FChapterMaps.empty() || !FMetadataChaptersAutoCopy) return;
  for (const auto& input : FInputFiles) {
    if (input->Ctx->nb_chapters == 0) continue;
    for (const auto& file : FOutputFiles)
      if (file->OwnsContext) CopyChaptersInto(*input, *file);
    return;
  }
}

void TCustomFFmpeg::CopyChaptersInto(const TInputFile& input, TOutputFile& output) {
  AVFormatContext* is = input.Ctx;
  AVFormatContext* os = output.Ctx;
  const int64_t offset = input.TsOffset - FSettings.StartTime;
  for (unsigned n = 0; n < is->nb_chapters; ++n) {
    const AVChapter* in = is->chapters[n];
    auto* out = static_cast<AVChapter*>(ff::av_mallocz(sizeof(AVChapter)));
    if (!out) throw FFmpegException("av_mallocz fail");
    out->id = in->id;
    out->time_base = in->time_base;
    out->start = std::max<int64_t>(0, in->start + FromMicroseconds(offset, in->time_base));
    out->end = std::max<int64_t>(out->start, in->end + FromMicroseconds(offset, in->time_base));
    ff::av_dict_copy(&out->metadata, in->metadata, 0);
    void* grown = ff::av_realloc(os->chapters, sizeof(AVChapter*) * (os->nb_chapters + 1));
    if (!grown) {
      ff::av_dict_free(&out->metadata);
      ff::av_free(out);
      throw FFmpegException("av_realloc fail");
    }
    os->chapters = static_cast<AVChapter**>(grown);
    os->chapters[os->nb_chapters++] = out;
  }
}

void TCustomFFmpeg::WriteHeaders() {
  const size_t count = FJoinInputs ? 1 : FOutputFiles.size();
  bool allRtp = true;
  for (size_t i = 0; i < count; ++i) {
    TOutputFile& file = *FOutputFiles[i];
    TDictionary options;
    ff::av_dict_copy(&options.Value, file.MuxerOptions.Value, 0);
    if (ff::avformat_write_header(file.Ctx, &options.Value) < 0)
      FailSetUp(Format("Could not write header for output file #%d (incorrect codec parameters ?)",
                       int(i)));
    file.HeaderWritten = true;
    allRtp = allRtp && std::strcmp(file.Ctx->oformat->name, "rtp") == 0;
  }
  for (TOutputStream* ost : FOutputStreams)
    if (!ost->Mirror) InitBitstreamFilters(*ost);
  if (allRtp) PrintSdp(count);
}

void TCustomFFmpeg::PrintSdp(size_t count) {
  std::vector<AVFormatContext*> contexts;
  for (size_t i = 0; i < count; ++i) contexts.push_back(FOutputFiles[i]->Ctx);
  char sdp[2048];
  ff::av_sdp_create(contexts.data(), int(contexts.size()), sdp, sizeof sdp);
  Log(llInfo, std::string("SDP:\r\n") + sdp);
}

void TCustomFFmpeg::InitBitstreamFilters(TOutputStream& ost) {
  for (const TBitstreamFilterSpec& spec : ost.BitstreamFilterSpecs) {
    AVBSFContext* bsf = nullptr;
    if (ff::av_bsf_alloc(spec.Filter, &bsf) < 0)
      throw std::runtime_error("Could not alloc buffer.");
    ost.BitstreamFilters.push_back(bsf);
    const AVBSFContext* previous = ost.BitstreamFilters.size() > 1
                                       ? ost.BitstreamFilters[ost.BitstreamFilters.size() - 2]
                                       : nullptr;
    ff::avcodec_parameters_copy(bsf->par_in, previous ? previous->par_out : ost.St->codecpar);
    bsf->time_base_in = previous ? previous->time_base_out : ost.St->time_base;
    int result = 0;
    if (!spec.Arguments.empty() && bsf->priv_data) {
      TDictionary arguments;
      result = ff::av_dict_parse_string(&arguments.Value, spec.Arguments.c_str(), "=", ":", 0);
      if (result >= 0) result = ff::av_opt_set_dict(bsf->priv_data, &arguments.Value);
      // What the filter did not take is left in the dictionary.
      if (result >= 0 && ff::av_dict_count(arguments.Value) > 0) result = AVERROR_OPTION_NOT_FOUND;
    }
    if (result >= 0) result = ff::av_bsf_init(bsf);
    if (result < 0)
      throw FFmpegException(AVErrorText(Format("%s failed for stream %d, codec %s",
                                               spec.Filter->name, ost.Index, EncoderName(ost)),
                                        result));
  }
}

// ---- Stream mapping ----

void TCustomFFmpeg::PrintStreamMapping() {
  if (FSettings.Verbose < 0) return;
  const size_t count = FJoinInputs ? 1 : FOutputFiles.size();
  for (size_t i = 0; i < count; ++i)
    ff::av_dump_format(FOutputFiles[i]->Ctx, int(i), FOutputFiles[i]->FileName.c_str(), 1);
  Log(llInfo, "Stream mapping:");
  for (const TOutputStream* ost : FOutputStreams) {
    if (ost->SourceIndex < 0) continue;
    const TInputStream& ist = *FInputStreams[ost->SourceIndex];
    std::string line = Format("  Stream #%d.%d -> #%d.%d (%s)", ist.FileIndex, ist.St->index,
                              FJoinInputs ? 0 : ost->FileIndex, ost->Index,
                              MediaTypeName(ist.St->codecpar->codec_type).c_str());
    if (ost->SyncSource != ost->SourceIndex) {
      const TInputStream& sync = *FInputStreams[ost->SyncSource];
      line += Format(" [sync #%d.%d (%s)]", sync.FileIndex, sync.St->index,
                     MediaTypeName(sync.St->codecpar->codec_type).c_str());
    }
    Log(llInfo, line);
  }
}
