#include "FFmpeg_Private.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "UnicodeProtocol.h"

using namespace ffmpeg_internal;

// ---- Opening inputs ----

namespace {

// How far before a cut's start its input is sought first (µs): enough for the longest run of
// sound frames a decoder draws on (an MP3 frame's data at low bit rates).
constexpr int64_t SeekPreroll = 500000;

// When a packet is shown at the latest, in microseconds; AV_NOPTS_VALUE when it has no time. A
// key picture with a decoding time only (MPEG-2 in a program stream) is shown some pictures
// later, after the B pictures that follow it: the preroll's half second is allowed for them.
int64_t ShownTime(const AVFormatContext& ic, const AVPacket& pkt) {
  const AVRational base = ic.streams[pkt.stream_index]->time_base;
  if (pkt.pts != AV_NOPTS_VALUE) return ToMicroseconds(pkt.pts, base);
  if (pkt.dts == AV_NOPTS_VALUE) return AV_NOPTS_VALUE;
  return ToMicroseconds(pkt.dts, base) + (pkt.flags & AV_PKT_FLAG_KEY ? SeekPreroll : 0);
}

// How far past where a seek landed, and past a cut's start, the packets are read for the first
// one of each stream (µs): a muxer may put sound that far behind the pictures of its time.
constexpr int64_t SeekLookAhead = 1000000;

enum class TWait { Nothing, FirstPacket, KeyPicture };

bool IsVideo(const AVFormatContext& ic, size_t n) {
  return ic.streams[n]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
}

// A stream of sound or pictures that the input's settings keep (a cover is its file's only
// picture, shown whatever the seek).
bool MayBeConverted(const AVStream& st, const TFileSettings& settings) {
  const AVMediaType kind = st.codecpar->codec_type;
  if (kind != AVMEDIA_TYPE_VIDEO && kind != AVMEDIA_TYPE_AUDIO) return false;
  return st.discard != AVDISCARD_ALL && !settings.Kinds[kind].Disabled &&
         !(st.disposition & AV_DISPOSITION_ATTACHED_PIC) && !PicturesCannotBeHad(st);
}

// The streams whose start at `timestamp` a seek must not lose: those that a conversion may take
// and that began by then. Past the file's end there is nothing to lose.
std::vector<TWait> AwaitedStreams(const AVFormatContext& ic, int64_t timestamp,
                                  const TFileSettings& settings) {
  std::vector<TWait> waiting(ic.nb_streams, TWait::Nothing);
  if (ic.duration != AV_NOPTS_VALUE && ic.start_time != AV_NOPTS_VALUE &&
      timestamp >= ic.start_time + ic.duration)
    return waiting;
  for (unsigned n = 0; n < ic.nb_streams; ++n) {
    const AVStream& st = *ic.streams[n];
    if (MayBeConverted(st, settings) && (st.start_time == AV_NOPTS_VALUE ||
                                         ToMicroseconds(st.start_time, st.time_base) <= timestamp))
      waiting[n] = TWait::FirstPacket;
  }
  return waiting;
}

// A stream without a packet since the landing has ended before it: false for a video stream,
// whose picture at the time is lost there; a sound stream is waited for no longer.
bool NoPictureLost(const AVFormatContext& ic, std::vector<TWait>& waiting) {
  for (size_t n = 0; n < waiting.size(); ++n) {
    if (waiting[n] != TWait::FirstPacket) continue;
    if (IsVideo(ic, n)) return false;
    waiting[n] = TWait::Nothing;
  }
  return true;
}

// The stream whose times a seek to `timestamp` goes by: the first of pictures, else of sound, that
// a conversion may take and that lasts past the time. The demuxer's own choice, the first video
// stream, may have ended before it, and MPEG-TS then searches the whole file for its times and
// lands at its end. -1 (the demuxer's choice) when none is known to last.
int SeekStream(const AVFormatContext& ic, int64_t timestamp, const TFileSettings& settings) {
  for (const AVMediaType kind : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO})
    for (unsigned n = 0; n < ic.nb_streams; ++n) {
      const AVStream& st = *ic.streams[n];
      if (st.codecpar->codec_type == kind && MayBeConverted(st, settings) &&
          (st.start_time == AV_NOPTS_VALUE || st.duration == AV_NOPTS_VALUE ||
           ToMicroseconds(st.start_time + st.duration, st.time_base) > timestamp))
        return int(n);
    }
  return -1;
}

// Whether decoding from where a seek landed gives every awaited stream from `timestamp` on: a
// sound stream's first packet lies at or before it, and so does a video stream's first key
// picture, where its decoding begins (the pictures before it cannot be decoded).
bool LandedBefore(AVFormatContext& ic, int64_t timestamp, const TFileSettings& settings) {
  std::vector<TWait> waiting = AwaitedStreams(ic, timestamp, settings);
  const auto awaiting = [&waiting](TWait wait) {
    return std::find(waiting.begin(), waiting.end(), wait) != waiting.end();
  };
  int64_t landing = AV_NOPTS_VALUE;
  const TPacket pkt;
  for (AVPacket* packet = pkt.Value; awaiting(TWait::FirstPacket) || awaiting(TWait::KeyPicture);
       ff::av_packet_unref(packet)) {
    if (ff::av_read_frame(&ic, packet) < 0) break;
    const int64_t time = ShownTime(ic, *packet);
    const size_t n = size_t(packet->stream_index);
    if (time == AV_NOPTS_VALUE || n >= waiting.size()) continue;
    if (landing == AV_NOPTS_VALUE) landing = time;
    if (waiting[n] != TWait::Nothing) {
      if (time > timestamp) return false;
      const bool key = packet->flags & AV_PKT_FLAG_KEY;
      waiting[n] = IsVideo(ic, n) && !key ? TWait::KeyPicture : TWait::Nothing;
    }
    if (time > timestamp + SeekLookAhead) break;
    if (time > std::min(landing, timestamp) + SeekLookAhead && !NoPictureLost(ic, waiting))
      return false;
  }
  return NoPictureLost(ic, waiting) && !awaiting(TWait::KeyPicture);
}

const char* KindName(AVMediaType kind) {
  switch (kind) {
    case AVMEDIA_TYPE_VIDEO:
      return "video";
    case AVMEDIA_TYPE_AUDIO:
      return "audio";
    case AVMEDIA_TYPE_SUBTITLE:
      return "subtitle";
    default:
      return "data";
  }
}

bool SameFile(S first, S second) {
  if (!IsLocalFileUrl(first) || !IsLocalFileUrl(second)) return false;
  std::error_code error;
  return std::filesystem::equivalent(UrlToWideFileName(first), UrlToWideFileName(second), error);
}

}  // namespace

bool TCustomFFmpeg::Fail(S text) {
  LastErrMsg = text;
  return false;
}

int TCustomFFmpeg::FailOutput(S text) {
  LastErrMsg = text;
  return -1;
}

// The pending settings were for this file, whether it opens or not.
bool TCustomFFmpeg::OpenInputFile(S fileName) {
  bool opened = false;
  try {
    opened = TryOpenInput(fileName);
  } catch (...) {
    EndInputSettings();
    throw;
  }
  EndInputSettings();
  return opened;
}

void TCustomFFmpeg::EndInputSettings() {
  // The start position was the seek of this input.
  FSettings.StartTime = 0;
  FSettings.InputTsOffset = 0;
  ResetPendingSettings();
  UpdateTotalTime();
}

bool TCustomFFmpeg::TryOpenInput(S fileName) {
  LastErrMsg.clear();
  if (InputCount() >= FMaxFiles) return Fail("Too many input files.");
  const AVInputFormat* format = nullptr;
  if (!FPending.Format.empty() && !(format = ff::av_find_input_format(FPending.Format.c_str())))
    throw FFmpegException(Format("Unknown input format: \"%s\"", FPending.Format.c_str()));
  auto file = std::make_unique<TInputFile>();
  file->FileName = fileName;
  file->Ctx = AllocInputContext();
  const int opened = OpenInputContext(file->Ctx, fileName, format);
  if (opened < 0) return Fail(AVErrorText(fileName, opened));
  if (!SelectProgram(file->Ctx)) return Fail("Specified program id not found");
  if (!FindStreamInfo(file->Ctx))
    return Fail(Format("%s: could not find codec parameters", fileName.c_str()));
  const int64_t timestamp = SeekInput(file->Ctx, fileName);
  file->TsOffset = FSettings.InputTsOffset - (FSettings.CopyTs ? 0 : timestamp);
  file->TsScale = std::move(FPending.InputTsScale);
  file->OpensInside = FSettings.StartTime != 0;
  AddInput(std::move(file));
  return true;
}

AVFormatContext* TCustomFFmpeg::AllocInputContext() {
  const AVCodec* video = ForcedDecoder(AVMEDIA_TYPE_VIDEO);
  const AVCodec* audio = ForcedDecoder(AVMEDIA_TYPE_AUDIO);
  const AVCodec* subtitle = ForcedDecoder(AVMEDIA_TYPE_SUBTITLE);
  AVFormatContext* ic = ff::avformat_alloc_context();
  if (!ic) throw FFmpegException("avformat_alloc_context failed");
  SetContextOptions(FOptionContexts, ic, AV_OPT_FLAG_DECODING_PARAM);
  InstallInterruptCallback(ic);
  ic->video_codec = video;
  ic->audio_codec = audio;
  ic->subtitle_codec = subtitle;
  if (video) ic->video_codec_id = video->id;
  if (audio) ic->audio_codec_id = audio->id;
  if (subtitle) ic->subtitle_codec_id = subtitle->id;
  return ic;
}

const AVCodec* TCustomFFmpeg::ForcedDecoder(AVMediaType kind) {
  const std::string& name = FPending.Kinds[kind].CodecName;
  return name.empty() ? nullptr : FindCodec(name, kind, false);
}

int TCustomFFmpeg::OpenInputContext(AVFormatContext*& ic, S fileName, const AVInputFormat* format) {
  TDictionary options;
  if (FSettings.VideoChannel)
    SetDictionary(&options.Value, "channel", std::to_string(FSettings.VideoChannel));
  if (!FSettings.VideoStandard.empty())
    SetDictionary(&options.Value, "standard", FSettings.VideoStandard);
  if (FSettings.LoopInput) SetDictionary(&options.Value, "loop", "1");
  const TBlockingIO io(*this);
  return UnicodeOpenInput(&ic, fileName, format, &options.Value);
}

// With a program id, the streams of other programs are dropped; an unknown id fails.
bool TCustomFFmpeg::SelectProgram(AVFormatContext* ic) {
  if (FSettings.ProgramID < 0) return true;
  const AVProgram* program = nullptr;
  for (unsigned n = 0; n < ic->nb_programs && !program; ++n)
    if (ic->programs[n]->id == FSettings.ProgramID) program = ic->programs[n];
  if (!program) return false;
  for (unsigned n = 0; n < ic->nb_streams; ++n) {
    const unsigned* first = program->stream_index;
    const unsigned* last = first + program->nb_stream_indexes;
    if (std::find(first, last, n) == last) ic->streams[n]->discard = AVDISCARD_ALL;
  }
  return true;
}

bool TCustomFFmpeg::FindStreamInfo(AVFormatContext* ic) {
  if (OnBeforeFindStreamInfo) OnBeforeFindStreamInfo(this, ic);
  const TBlockingIO io(*this);
  return ff::avformat_find_stream_info(ic, nullptr) >= 0;
}

// Seeks to the pending start position; the result is that position in the file's time. The
// seek goes a little before it: a sound decoder needs the frames before the first one it gives
// in full (an MP3 frame's data begins in the frames before it, a transform overlaps the one
// before), and a demuxer's estimate from the bit rate may land after the position. What is
// decoded before the start is dropped.
int64_t TCustomFFmpeg::SeekInput(AVFormatContext* ic, S fileName) {
  int64_t timestamp = FSettings.StartTime;
  if (ic->start_time != AV_NOPTS_VALUE) timestamp += ic->start_time;
  if (FSettings.StartTime == 0) return timestamp;
  const TBlockingIO io(*this);
  if (!SeekBefore(ic, timestamp))
    LogFmt(llVerbose, "%s: could not seek to position %0.3f", fileName.c_str(),
           double(timestamp) / AV_TIME_BASE);
  return timestamp;
}

// Where a seek lands is the demuxer's own: MPEG-TS finds a time by the first packet at or after
// it, key picture or not, and a program stream lands on any packet too; an estimate from the
// bit rate may land past the time. A seek whose landing does not give every stream from the time on
// is made again twice as far back, down to the file's beginning: what is read before the time is
// dropped, while a picture lost to the seek would leave a part with a frozen picture or none. A
// failed seek, which may leave the input anywhere, reads it from its beginning.
bool TCustomFFmpeg::SeekBefore(AVFormatContext* ic, int64_t timestamp) {
  const int64_t fileStart = ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0;
  const int stream = SeekStream(*ic, timestamp, FPending);
  const auto seek = [ic, stream](int64_t target) {
    if (stream >= 0) target = FromMicroseconds(target, ic->streams[stream]->time_base);
    return ff::av_seek_frame(ic, stream, target, AVSEEK_FLAG_BACKWARD) >= 0;
  };
  for (int64_t back = SeekPreroll; timestamp - back > fileStart; back *= 2) {
    const int64_t target = timestamp - back;
    if (!seek(target)) {
      SeekToFirstPacket(ic);
      return false;
    }
    if (LandedBefore(*ic, timestamp, FPending)) return seek(target);
    LogFmt(llVerbose, "The seek to %0.3f s left a stream without its start at %0.3f s",
           double(target) / AV_TIME_BASE, double(timestamp) / AV_TIME_BASE);
  }
  return SeekToFirstPacket(ic);
}

void TCustomFFmpeg::AddInput(std::unique_ptr<TInputFile> file) {
  const int index = InputCount();
  AVFormatContext* ic = file->Ctx;
  std::vector<std::unique_ptr<TInputStream>> streams;
  for (unsigned n = 0; n < ic->nb_streams; ++n) {
    auto ist = std::make_unique<TInputStream>();
    ist->FileIndex = index;
    ist->St = ic->streams[n];
    SetUpInputStream(*ist);
    streams.push_back(std::move(ist));
  }
  file->IstIndex = int(FInputStreams.size());
  file->NbStreams = int(ic->nb_streams);
  if (ic->duration != AV_NOPTS_VALUE)
    FInputsDuration = std::max(FInputsDuration, ic->duration - FSettings.StartTime);
  ff::av_dump_format(ic, index, file->FileName.c_str(), 0);
  for (auto& ist : streams) FInputStreams.push_back(std::move(ist));
  FInputFiles.push_back(std::move(file));
}

void TCustomFFmpeg::SetUpInputStream(TInputStream& ist) {
  AVStream* st = ist.St;
  const AVMediaType kind = st->codecpar->codec_type;
  switch (kind) {
    case AVMEDIA_TYPE_VIDEO:
      if (FSettings.VideoDiscard) st->discard = AVDiscard(FSettings.VideoDiscard);
      LogFrameRateDifference(*st);
      [[fallthrough]];
    case AVMEDIA_TYPE_AUDIO:
    case AVMEDIA_TYPE_SUBTITLE:
      if (FPending.Kinds[kind].Disabled) st->discard = AVDISCARD_ALL;
      ist.ForcedDecoder = ForcedDecoder(kind);
      ist.Decoder = NewDecoderContext(*st, ist.ForcedDecoder);
      break;
    case AVMEDIA_TYPE_DATA:
    case AVMEDIA_TYPE_ATTACHMENT:
      break;
    default:
      throw FFmpegException("invalid codec_type");
  }
}

// A frame-threaded decoder keeps a picture in flight per thread, and each picture waits for the
// rows of the one before: past four threads decoding got no faster (H.264 at 360p and 720p), while
// every thread holds pictures in memory and takes a core from the encoders.
int ffmpeg_internal::DecoderThreads(int threadCount) {
  constexpr int MostUseful = 4;
  if (threadCount > 0) return threadCount;
  return std::min(UsableCores(), MostUseful);
}

AVCodecContext* TCustomFFmpeg::NewDecoderContext(const AVStream& st, const AVCodec* forced) {
  const AVCodec* codec = forced ? forced : ff::avcodec_find_decoder(st.codecpar->codec_id);
  AVCodecContext* decoder = ff::avcodec_alloc_context3(codec);
  if (!decoder) throw FFmpegException("avcodec_alloc_context failed");
  if (ff::avcodec_parameters_to_context(decoder, st.codecpar) < 0) {
    ff::avcodec_free_context(&decoder);
    throw FFmpegException("avcodec_alloc_context failed");
  }
  decoder->pkt_timebase = MicrosecondBase;  // the packets it gets are timed so
  decoder->thread_count = DecoderThreads(FSettings.ThreadCount);
  SetContextOptions(FOptionContexts, decoder,
                    AV_OPT_FLAG_DECODING_PARAM | MediaTypeOptionFlag(st.codecpar->codec_type));
  return decoder;
}

// The average rate is what the codec delivers; the container's real base rate may differ.
void TCustomFFmpeg::LogFrameRateDifference(const AVStream& st) {
  const AVRational codec = st.avg_frame_rate, container = st.r_frame_rate;
  if (!codec.num || !container.num || av_cmp_q(codec, container) == 0) return;
  LogFmt(llInfo,
         "Seems stream %d codec frame rate differs from container frame rate: %2.2f (%d/%d) -> "
         "%2.2f (%d/%d)",
         st.index, av_q2d(codec), codec.num, codec.den, av_q2d(container), container.num,
         container.den);
}

void TCustomFFmpeg::ResetPendingSettings() {
  FPending = TFileSettings{};
  InitOptionContexts(FOptionContexts, FSettings.ScalerFlags);
}

void TCustomFFmpeg::UpdateTotalTime() {
  int64_t total = FInputsDuration;
  if (total >= 0) total = std::max<int64_t>(0, total - FSettings.StartTime);
  if (FSettings.RecordingTime != INT64_MAX)
    total = total < 0 ? FSettings.RecordingTime : std::min(total, FSettings.RecordingTime);
  TotalTime = total;
}

// ---- Opening outputs ----

int TCustomFFmpeg::OpenOutputFile(S fileName, bool join) {
  int index = -1;
  try {
    index = TryOpenOutput(fileName, join);
  } catch (...) {
    ResetPendingSettings();
    throw;
  }
  ResetPendingSettings();
  return index;
}

int TCustomFFmpeg::TryOpenOutput(S fileName, bool join) {
  LastErrMsg.clear();
  if (FJoinInputs) return FailOutput("Cannot join more than one output file.");
  if (OutputCount() >= FMaxFiles) return FailOutput("Too many output files.");
  if (IsAnInput(fileName))
    return FailOutput(Format("%s: the output file is one of the input files", fileName.c_str()));
  const int index = OutputCount();
  std::unique_ptr<TOutputFile> file = AllocOutputFile(fileName);
  if (!file || !CreateOutputStreams(*file, index)) return -1;
  SetOutputMetadata(*file);
  if ((file->Ctx->oformat->flags & AVFMT_NEEDNUMBER) &&
      !ff::av_filename_number_test(fileName.c_str()))
    return FailOutput(AVErrorText(fileName, AVERROR(EINVAL)));
  if (!OpenOutputIO(*file)) return -1;
  SetOutputParameters(*file);
  FOutputFiles.push_back(std::move(file));
  if (join && InputCount() > 1) FJoinInputs = true;
  return index;
}

bool TCustomFFmpeg::IsAnInput(S fileName) const {
  return std::any_of(FInputFiles.begin(), FInputFiles.end(), [&fileName](const auto& input) {
    return SameFile(fileName, input->FileName);
  });
}

std::unique_ptr<TOutputFile> TCustomFFmpeg::AllocOutputFile(S fileName) {
  auto file = std::make_unique<TOutputFile>();
  file->FileName = fileName;
  const std::string format = std::move(FPending.Format);
  FPending.Format.clear();
  const int result = ff::avformat_alloc_output_context2(
      &file->Ctx, nullptr, format.empty() ? nullptr : format.c_str(), fileName.c_str());
  if (result < 0 || !file->Ctx) {
    if (result != AVERROR(EINVAL))
      Fail(AVErrorText(fileName, result));
    else if (!format.empty())
      Fail(Format("Unknown output format: \"%s\"", format.c_str()));
    else
      Fail(Format("Unable to find a suitable output format for \"%s\"", fileName.c_str()));
    return nullptr;
  }
  InstallInterruptCallback(file->Ctx);
  return file;
}

bool TCustomFFmpeg::CreateOutputStreams(TOutputFile& file, int fileIndex) {
  for (const AVMediaType kind :
       {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE, AVMEDIA_TYPE_DATA}) {
    if (!KindWanted(*file.Ctx->oformat, kind)) continue;
    try {
      NewKindStream(file, fileIndex, kind);
    } catch (const std::exception& e) {
      return Fail(Format("new_%s_stream fail: %s", KindName(kind), e.what()));
    }
  }
  return true;
}

// A kind the format has a default codec for, or one a codec (or copy) is asked for, unless it is
// switched off or the inputs have none of it that can be converted.
bool TCustomFFmpeg::KindWanted(const AVOutputFormat& format, AVMediaType kind) const {
  const TKindSettings& settings = FPending.Kinds[kind];
  if (settings.Disabled) return false;
  const AVCodecID defaultCodec = kind == AVMEDIA_TYPE_VIDEO      ? format.video_codec
                                 : kind == AVMEDIA_TYPE_AUDIO    ? format.audio_codec
                                 : kind == AVMEDIA_TYPE_SUBTITLE ? format.subtitle_codec
                                                                 : AV_CODEC_ID_NONE;
  if (defaultCodec == AV_CODEC_ID_NONE && settings.CodecName.empty() && !settings.StreamCopy)
    return false;
  return FInputStreams.empty() ||
         std::any_of(FInputStreams.begin(), FInputStreams.end(), [kind](const auto& ist) {
           return ist->St->codecpar->codec_type == kind && !PicturesCannotBeHad(*ist->St);
         });
}

void TCustomFFmpeg::SetOutputMetadata(TOutputFile& file) {
  AVFormatContext* oc = file.Ctx;
  if (FSettings.RecordingTimestamp) {
    const std::time_t seconds = std::time_t(*FSettings.RecordingTimestamp);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
    SetDictionary(&oc->metadata, "creation_time", text);
  }
  if (ff::av_dict_copy(&oc->metadata, FPending.Metadata.Value, 0) < 0)
    throw std::runtime_error("Could not alloc buffer.");
}

bool TCustomFFmpeg::OpenOutputIO(TOutputFile& file) {
  const TBlockingIO io(*this);
  if (!(file.Ctx->oformat->flags & AVFMT_NOFILE)) CreateTemporaryOutput(file.FileName, file.Temp);
  const int result =
      UnicodeOpenOutput(file.Ctx, file.Temp.Name().empty() ? file.FileName : file.Temp.Name());
  if (result < 0) return Fail(AVErrorText(file.FileName, result));
  file.FileCreated = !(file.Ctx->oformat->flags & AVFMT_NOFILE);
  return true;
}

void TCustomFFmpeg::SetOutputParameters(TOutputFile& file) {
  AVFormatContext* oc = file.Ctx;
  oc->max_delay = int(FSettings.MuxDelay * AV_TIME_BASE);
  SetDictionary(&file.MuxerOptions.Value, "preload",
                std::to_string(int64_t(FSettings.MuxPreload * AV_TIME_BASE)));
  if (FSettings.LoopOutput)
    SetDictionary(&file.MuxerOptions.Value, "loop", std::to_string(*FSettings.LoopOutput));
  if (ff::av_dict_copy(&file.MuxerOptions.Value, FPending.MuxerOptions.Value, 0) < 0)
    throw std::runtime_error("Could not alloc buffer.");
  SetContextOptions(FOptionContexts, oc, AV_OPT_FLAG_ENCODING_PARAM);
}

// ---- Output streams ----

namespace {

std::unique_ptr<TOutputStream> AllocOutputStream() {
  try {
    return std::make_unique<TOutputStream>();
  } catch (const std::bad_alloc&) {
    throw std::runtime_error("Could not alloc output stream");
  }
}

}  // namespace

TOutputStream& TCustomFFmpeg::NewOutputStream(TOutputFile& file, int fileIndex) {
  const unsigned count = file.Ctx->nb_streams;
  GrowArray(file.Streams, count);
  std::unique_ptr<TOutputStream>& ost = file.Streams[count - 1];
  ost = AllocOutputStream();
  ost->FileIndex = fileIndex;
  ost->Index = int(count - 1);
  ost->St = file.Ctx->streams[count - 1];
  int64_t flags = FSettings.ScalerFlags;
  if (FOptionContexts.ScalerContext)
    ff::av_opt_get_int(FOptionContexts.ScalerContext, "sws_flags", 0, &flags);
  ost->SwsFlags = int(flags);
  return *ost;
}

void TCustomFFmpeg::NewStream(S kind) {
  static const char* const names[4] = {"newaudio", "newvideo", "newsubtitle", "newdata"};
  const AVMediaType type = KindOfOption(kind, names);
  if (type == AVMEDIA_TYPE_UNKNOWN)
    throw FFmpegException(Format("Invalid parameter \"%s\"", kind.c_str()));
  if (FOutputFiles.empty()) throw FFmpegException("At least one output file must be specified");
  NewKindStream(*FOutputFiles.back(), OutputCount() - 1, type);
}

void TCustomFFmpeg::NewKindStream(TOutputFile& file, int fileIndex, AVMediaType kind) {
  TKindSettings& settings = FPending.Kinds[kind];
  if (kind == AVMEDIA_TYPE_DATA && !settings.StreamCopy) {
    const char* text = "Data stream encoding not supported yet (only streamcopy)";
    Log(llError, text);
    throw FFmpegException(text);
  }
  const AVCodec* codec = nullptr;
  if (!settings.StreamCopy)
    codec = settings.CodecName.empty()
                ? ff::avcodec_find_encoder(
                      ff::av_guess_codec(file.Ctx->oformat, nullptr, file.Ctx->url, nullptr, kind))
                : FindCodec(settings.CodecName, kind, true);
  AVStream* st = ff::avformat_new_stream(file.Ctx, nullptr);
  if (!st) throw std::runtime_error("Could not alloc stream");
  if (size_t(st->index) < FPending.StreamIDs.size() && FPending.StreamIDs[size_t(st->index)])
    st->id = FPending.StreamIDs[size_t(st->index)];
  TOutputStream& ost = NewOutputStream(file, fileIndex);
  ost.StreamCopy = settings.StreamCopy;
  ost.Codec = codec;
  ost.Encoder = ff::avcodec_alloc_context3(codec);
  if (!ost.Encoder) throw FFmpegException("avcodec_alloc_context failed");
  ost.Encoder->codec_type = kind;
  ost.Encoder->codec_id = codec ? codec->id : AV_CODEC_ID_NONE;
  SetUpCommon(file, ost, kind);
  if (kind == AVMEDIA_TYPE_VIDEO) SetUpVideo(ost);
  if (kind == AVMEDIA_TYPE_AUDIO) SetUpAudio(ost);
  settings.CodecName.clear();
  settings.Language.clear();
  settings.StreamCopy = false;
}

void TCustomFFmpeg::SetUpCommon(TOutputFile& file, TOutputStream& ost, AVMediaType kind) {
  TKindSettings& settings = FPending.Kinds[kind];
  AVCodecContext* encoder = ost.Encoder;
  if (settings.CodecTag) encoder->codec_tag = settings.CodecTag;
  encoder->thread_count = FSettings.ThreadCount;
  if (file.Ctx->oformat->flags & AVFMT_GLOBALHEADER) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  SetContextOptions(FOptionContexts, encoder,
                    AV_OPT_FLAG_ENCODING_PARAM | MediaTypeOptionFlag(kind));
  SetPrivateOptions(*encoder, settings.PrivateOptions);
  if (!settings.Language.empty()) SetDictionary(&ost.St->metadata, "language", settings.Language);
  ost.BitstreamFilterSpecs = std::move(settings.BitstreamFilters);
  settings.BitstreamFilters.clear();
}

void TCustomFFmpeg::SetPrivateOptions(AVCodecContext& encoder, TDictionary& options) {
  if (!encoder.codec) return;
  const AVDictionaryEntry* entry = nullptr;
  while ((entry = ff::av_dict_get(options.Value, "", entry, AV_DICT_IGNORE_SUFFIX)))
    if (ff::av_opt_set(&encoder, entry->key, entry->value, AV_OPT_SEARCH_CHILDREN) < 0)
      LogFmt(llWarning, "Invalid value \"%s\" for option \"%s\"", entry->value, entry->key);
  options.Clear();
}

void TCustomFFmpeg::SetUpVideo(TOutputStream& ost) {
  AVCodecContext& encoder = *ost.Encoder;
  encoder.width = FPending.FrameWidth;
  encoder.height = FPending.FrameHeight;
  encoder.pix_fmt = FPending.FramePixFmt;
  ost.FrameRate = FPending.FrameRate;
  ost.FrameAspectRatio = FPending.FrameAspectRatio;
  ost.VideoFilters = std::move(FPending.VideoFilters);
  FPending.VideoFilters.clear();
  if (FSettings.IntraOnly) encoder.gop_size = 0;
  if (FSettings.VideoQScale > 0) {
    encoder.flags |= AV_CODEC_FLAG_QSCALE;
    encoder.global_quality = int(FF_QP2LAMBDA * FSettings.VideoQScale);
  }
  encoder.intra_matrix = CopyMatrix(FSettings.IntraMatrix);
  encoder.inter_matrix = CopyMatrix(FSettings.InterMatrix);
  SetRcOverride(encoder);
  encoder.rc_initial_buffer_occupancy = encoder.rc_buffer_size * 3 / 4;
  encoder.intra_dc_precision = FSettings.IntraDcPrecision - 8;
  if (FSettings.DoPSNR) encoder.flags |= AV_CODEC_FLAG_PSNR;
  if (FSettings.DoPass == 1) encoder.flags |= AV_CODEC_FLAG_PASS1;
  if (FSettings.DoPass == 2) encoder.flags |= AV_CODEC_FLAG_PASS2;
  if (!FPending.ForcedKeyFrames.empty()) {
    ForcedKeyFrameTimes(FPending.ForcedKeyFrames);  // refuses a bad list now, not at the start
    ost.ForcedKeyFramesText = std::move(FPending.ForcedKeyFrames);
    FPending.ForcedKeyFrames.clear();
  }
}

uint16_t* TCustomFFmpeg::CopyMatrix(const std::vector<uint16_t>& matrix) {
  if (matrix.empty()) return nullptr;
  auto* copy = static_cast<uint16_t*>(ff::av_malloc(matrix.size() * sizeof(uint16_t)));
  if (!copy) throw std::runtime_error("Could not alloc buffer.");
  std::copy(matrix.begin(), matrix.end(), copy);
  return copy;
}

// "start,end,q" entries separated by "/": q > 0 is a fixed quantiser, q <= 0 a quality factor.
void TCustomFFmpeg::SetRcOverride(AVCodecContext& encoder) {
  std::vector<RcOverride> overrides;
  std::istringstream entries(FSettings.RcOverride);
  for (std::string entry; std::getline(entries, entry, '/');) {
    const char* text = entry.c_str();
    int values[3];
    for (int n = 0; n < 3; ++n) {
      const char* start = text;
      values[n] = int(LeadingInteger(text));
      if (text == start) throw FFmpegException("error parsing rc_override");
      if (n < 2 && *text++ != ',') throw FFmpegException("error parsing rc_override");
    }
    RcOverride item{};
    item.start_frame = values[0];
    item.end_frame = values[1];
    item.qscale = values[2] > 0 ? values[2] : 0;
    item.quality_factor = values[2] > 0 ? 1.0f : -values[2] / 100.0f;
    overrides.push_back(item);
  }
  if (overrides.empty()) return;
  encoder.rc_override =
      static_cast<RcOverride*>(ff::av_malloc(overrides.size() * sizeof(RcOverride)));
  if (!encoder.rc_override) throw std::runtime_error("Could not alloc buffer.");
  std::copy(overrides.begin(), overrides.end(), encoder.rc_override);
  encoder.rc_override_count = int(overrides.size());
}

void TCustomFFmpeg::SetUpAudio(TOutputStream& ost) {
  AVCodecContext& encoder = *ost.Encoder;
  if (FSettings.AudioQScale) {
    encoder.flags |= AV_CODEC_FLAG_QSCALE;
    encoder.global_quality = int(FF_QP2LAMBDA * *FSettings.AudioQScale);
  }
  if (FPending.AudioChannels > 0) {
    ff::av_channel_layout_uninit(&encoder.ch_layout);
    ff::av_channel_layout_default(&encoder.ch_layout, FPending.AudioChannels);
  }
  if (FPending.AudioSampleRate > 0) encoder.sample_rate = FPending.AudioSampleRate;
  if (FPending.AudioSampleFmt != AV_SAMPLE_FMT_NONE) encoder.sample_fmt = FPending.AudioSampleFmt;
}

const AVCodec* TCustomFFmpeg::FindCodec(S name, AVMediaType type, bool encoder) {
  const char* what = encoder ? "encoder" : "decoder";
  const AVCodec* codec = encoder ? ff::avcodec_find_encoder_by_name(name.c_str())
                                 : ff::avcodec_find_decoder_by_name(name.c_str());
  if (!codec) throw FFmpegException(Format("Unknown %s '%s'", what, name.c_str()));
  if (codec->type != type)
    throw FFmpegException(Format("Invalid %s type '%s'", what, name.c_str()));
  const AVCodecContext* options = FOptionContexts.CodecContexts[type];
  const int strict = options ? options->strict_std_compliance : FF_COMPLIANCE_NORMAL;
  if (!(codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) || strict <= FF_COMPLIANCE_EXPERIMENTAL)
    return codec;
  std::string text = Format(
      "%s '%s' is experimental and might produce bad results.\r\nAdd '-strict experimental' if "
      "you want to use it.",
      what, name.c_str());
  if (const AVCodec* other = NonExperimentalCodec(codec->id, encoder))
    text += Format("\r\nOr use the non experimental %s '%s'.", what, other->name);
  throw FFmpegException(text);
}

const AVCodec* TCustomFFmpeg::NonExperimentalCodec(AVCodecID id, bool encoder) {
  void* opaque = nullptr;
  while (const AVCodec* codec = ff::av_codec_iterate(&opaque)) {
    const bool isEncoder = ff::av_codec_is_encoder(codec) != 0;
    if (codec->id == id && isEncoder == encoder &&
        !(codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
      return codec;
  }
  return nullptr;
}

// ---- Join mode ----

void TCustomFFmpeg::JoinInputs() {
  if (!FJoinInputs || OutputCount() != 1) return;
  int64_t total = -1;
  for (const auto& input : FInputFiles)
    if (input->Ctx->duration != AV_NOPTS_VALUE)
      total = std::max<int64_t>(total, 0) + input->Ctx->duration;
  TotalTime = total;
  for (int n = 1; n < InputCount(); ++n)
    FOutputFiles.push_back(MirrorOutput(*FOutputFiles.back(), OutputCount()));
}

std::unique_ptr<TOutputFile> TCustomFFmpeg::MirrorOutput(const TOutputFile& last, int index) {
  auto file = std::make_unique<TOutputFile>();
  file->Ctx = last.Ctx;
  file->OwnsContext = false;
  file->FileName = last.FileName;
  for (const auto& stream : last.Streams) {
    std::unique_ptr<TOutputStream> ost = AllocOutputStream();
    ost->FileIndex = index;
    ost->Index = stream->Index;
    ost->St = stream->St;
    ost->Mirror = stream->Mirror ? stream->Mirror : stream.get();
    ost->Codec = stream->Codec;
    ost->StreamCopy = stream->StreamCopy;
    ost->FrameRate = stream->FrameRate;
    ost->FrameAspectRatio = stream->FrameAspectRatio;
    ost->VideoFilters = stream->VideoFilters;
    ost->SwsFlags = stream->SwsFlags;
    ost->BitstreamFilterSpecs = stream->BitstreamFilterSpecs;
    file->Streams.push_back(std::move(ost));
  }
  return file;
}
