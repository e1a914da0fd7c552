#include "FFDecode.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <thread>

#include "FFLoad.h"
#include "FFLog.h"
#include "FFUtils.h"
#include "UnicodeProtocol.h"

namespace {

const char* const FileNotLoaded = "file not loaded.";

int64_t NoneAsMinusOne(int64_t value) { return value == AV_NOPTS_VALUE ? -1 : value; }

int ClampToInt(int64_t value) {
  return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : int(value);
}

// Some containers leave a stream's time base unset: a missing denominator counts as 1, and a
// time base of 0/0 as 1/1, so that times stay usable.
AVRational UsableTimeBase(AVRational timeBase) {
  if (timeBase.den != 0) return timeBase;
  return AVRational{timeBase.num != 0 ? timeBase.num : 1, 1};
}

int64_t ToMicroseconds(int64_t time, AVRational timeBase) {
  if (time == AV_NOPTS_VALUE) return -1;
  return ff::av_rescale_q(time, UsableTimeBase(timeBase), AV_TIME_BASE_Q);
}

// A tag read as a whole decimal number; 0 when absent or not a number.
int NumericTag(const AVDictionary* tags, const char* key) {
  const std::string text = GetMetadataValue(tags, key, "");
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [last, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && last == end ? value : 0;
}

// The "creation_time" tag (ISO 8601), in seconds since 1970; -1 when absent or unreadable.
int64_t CreationTime(const AVDictionary* tags) {
  const std::string text = GetMetadataValue(tags, "creation_time", "");
  int64_t microseconds = 0;
  if (text.empty() || ff::av_parse_time(&microseconds, text.c_str(), 0) < 0) return -1;
  return microseconds / AV_TIME_BASE;
}

// What the audio and video records share.
template <typename TStreamInfo>
void FillCommon(const AVStream* stream, TStreamInfo& info) {
  info.Language = GetMetadataValue(stream->metadata, "language", "");
  info.Codec = CodecTagText(stream->codecpar, false);
  info.StartTime = NoneAsMinusOne(stream->start_time);
  info.StartTimeUS = ToMicroseconds(stream->start_time, stream->time_base);
  info.Duration = NoneAsMinusOne(stream->duration);
  info.DurationUS = ToMicroseconds(stream->duration, stream->time_base);
  info.BitRate = ClampToInt(stream->codecpar->bit_rate);
}

// The sample aspect of the picture turned upright (a quarter turn turns its pixels too); an
// unknown sample aspect counts as square pixels.
AVRational UprightSampleAspect(const AVStream* stream) {
  const AVRational sample = ShownSampleAspect(stream, nullptr);
  if (sample.num <= 0 || sample.den <= 0) return {1, 1};
  return DisplayQuarterTurns(stream) & 1 ? AVRational{sample.den, sample.num} : sample;
}

// Width over height of the picture as shown, turned upright.
float DisplayAspectRatio(const TVideoStreamInfo& info) {
  if (info.Width <= 0 || info.Height <= 0) return -1;
  return float(double(info.SampleAspectNum) / info.SampleAspectDen * info.Width / info.Height);
}

}  // namespace

TCustomDecoder::TCustomDecoder() = default;

TCustomDecoder::~TCustomDecoder() { TCustomDecoder::CloseFile(); }

void TCustomDecoder::CheckLibs() {
  static const struct {
    TLibrary Library;
    const char* Error;
  } Required[] = {
      {libAVCodec, "LibAVCodec not loaded."},
      {libAVFormat, "LibAVFormat not loaded."},
      {libAVUtil, "LibAVUtil not loaded."},
      {libSWScale, "LibSwScale not loaded."},
  };
  for (const auto& required : Required)
    if (!FFLoader().LibLoaded(required.Library)) throw FFmpegException(required.Error);
}

void TCustomDecoder::SetLastError(int avLevel, const std::string& text) {
  FFLogger().Log(this, AVLevelToLogLevel(avLevel), text);
  FLastErrMsg = text;
}

// The decoder's test in the interrupt registry for the loading thread while LoadFile runs.
class TCustomDecoder::TProbeRegistration {
 public:
  explicit TProbeRegistration(TCustomDecoder& decoder) : FDecoder(decoder) {
    FDecoder.FLoadStart = std::chrono::steady_clock::now();
    FDecoder.FGaveUp = TGiveUp::None;
    InterruptCB().Add(std::this_thread::get_id(), &FDecoder, ProbeInterrupt);
  }
  ~TProbeRegistration() {
    InterruptCB().Remove(std::this_thread::get_id(), &FDecoder, ProbeInterrupt);
    FDecoder.FProbed = nullptr;
  }
  TProbeRegistration(const TProbeRegistration&) = delete;
  TProbeRegistration& operator=(const TProbeRegistration&) = delete;

 private:
  TCustomDecoder& FDecoder;
};

bool TCustomDecoder::ProbeInterrupt(void* owner) {
  auto& decoder = *static_cast<TCustomDecoder*>(owner);
  decoder.FGaveUp = decoder.GiveUpReason();
  return decoder.FGaveUp != TGiveUp::None;
}

TCustomDecoder::TGiveUp TCustomDecoder::GiveUpReason() const {
  if (FAborted) return TGiveUp::Aborted;
  const auto elapsed = std::chrono::steady_clock::now() - FLoadStart;
  if (Timeout > 0 && elapsed > std::chrono::milliseconds(Timeout)) return TGiveUp::Time;
  const AVIOContext* pb = FProbed ? FProbed->pb : nullptr;
  if (ReadLimit > 0 && pb && pb->bytes_read > ReadLimit) return TGiveUp::Bytes;
  return TGiveUp::None;
}

std::string TCustomDecoder::LoadFailure(const std::string& fileName,
                                        const std::string& otherwise) const {
  char limit[64];
  switch (FGaveUp) {
    case TGiveUp::Aborted:
      return fileName + ": canceled";
    case TGiveUp::Time:
      std::snprintf(limit, sizeof limit, "%g s", Timeout / 1000.0);
      return fileName + ": gave up: no media found within " + limit;
    case TGiveUp::Bytes:
      if (ReadLimit % (1 << 20) == 0)
        std::snprintf(limit, sizeof limit, "%lld MB", static_cast<long long>(ReadLimit >> 20));
      else
        std::snprintf(limit, sizeof limit, "%lld bytes", static_cast<long long>(ReadLimit));
      return fileName + ": gave up: no media found in the first " + limit;
    case TGiveUp::None:
      break;
  }
  return otherwise;
}

bool TCustomDecoder::LoadFile(const std::string& fileName, const std::string& formatName) {
  CheckLibs();
  CloseFile();
  const AVInputFormat* format = nullptr;
  if (!formatName.empty()) {
    format = ff::av_find_input_format(formatName.c_str());
    if (!format) {
      SetLastError(AV_LOG_ERROR, "Unknown input format: " + formatName);
      return false;
    }
  }
  const TProbeRegistration probing(*this);
  if (!OpenInput(fileName, format)) return false;
  try {
    DoBeforeFindStreamInfo();
  } catch (...) {
    CloseFile();
    throw;
  }
  // Interrupted, the probe may still report success with what it found so far.
  if (ff::avformat_find_stream_info(FFormatContext, nullptr) < 0 || FGaveUp != TGiveUp::None) {
    SetLastError(AV_LOG_ERROR,
                 LoadFailure(fileName, fileName + ": could not find codec parameters"));
    CloseFile();
    return false;
  }
  RefreshFileInfo();
  FFormatName = formatName;
  return true;
}

bool TCustomDecoder::OpenInput(const std::string& fileName, const AVInputFormat* format) {
  AVFormatContext* context = ff::avformat_alloc_context();
  if (!context) {
    SetLastError(AV_LOG_ERROR, AVErrorText(fileName, AVERROR(ENOMEM)));
    return false;
  }
  context->flags |= AVFMT_FLAG_NONBLOCK;
  InstallInterruptCallback(context);
  FProbed = context;
  // On failure the context is freed.
  const int code = UnicodeOpenInput(&context, fileName, format, nullptr);
  if (code < 0) {
    FProbed = nullptr;
    SetLastError(AV_LOG_ERROR, LoadFailure(fileName, AVErrorText(fileName, code)));
    return false;
  }
  FFormatContext = context;
  FOwnsContext = true;
  return true;
}

void TCustomDecoder::DoBeforeFindStreamInfo() {
  if (!OnBeforeFindStreamInfo) return;
  const auto raise = [this] { OnBeforeFindStreamInfo(this, FFormatContext); };
  if (TriggerEventInMainThread)
    RunInMainThread(raise);
  else
    raise();
}

void TCustomDecoder::CloseFile() {
  FFormatName.clear();
  // Once the libraries are gone (the process is ending) the input can only be forgotten.
  if (FOwnsContext && ff::avformat_close_input) UnicodeCloseInput(&FFormatContext);
  FFormatContext = nullptr;
  FOwnsContext = false;
  RefreshFileInfo();
}

void TCustomDecoder::AttachFormatContext(AVFormatContext* context) {
  if (context == FFormatContext) return;
  CheckLibs();
  CloseFile();
  FFormatContext = context;
  RefreshFileInfo();
}

void TCustomDecoder::RefreshFileInfo() {
  FFileSize = -1;
  FStreamCount = FProgramCount = -1;
  FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = -1;
  FFirstAudioStream = FFirstVideoStream = FFirstSubtitleStream = -1;
  if (!FFormatContext) return;

  const int64_t containerSize = FFormatContext->pb ? ff::avio_size(FFormatContext->pb) : -1;
  FFileSize = containerSize > 0 ? containerSize
                                : WideFileSize(FFormatContext->url ? FFormatContext->url : "");
  FStreamCount = int(FFormatContext->nb_streams);
  FProgramCount = int(FFormatContext->nb_programs);
  FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = 0;
  for (int n = 0; n < FStreamCount; ++n) {
    switch (FFormatContext->streams[n]->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        if (FVideoStreamCount++ == 0) FFirstVideoStream = n;
        break;
      case AVMEDIA_TYPE_AUDIO:
        if (FAudioStreamCount++ == 0) FFirstAudioStream = n;
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        if (FSubtitleStreamCount++ == 0) FFirstSubtitleStream = n;
        break;
      default:
        break;
    }
  }
}

bool TCustomDecoder::FileLoaded() {
  if (FFormatContext) return true;
  SetLastError(AV_LOG_WARNING, FileNotLoaded);
  return false;
}

bool TCustomDecoder::CheckStreamIndex(int streamIndex) {
  if (streamIndex >= 0 && streamIndex < FStreamCount) return true;
  SetLastError(AV_LOG_ERROR, "stream index #" + std::to_string(streamIndex) + " is invalid.");
  return false;
}

int TCustomDecoder::ConvertedVideoStream() const {
  int chosen = -1;
  int64_t most = -1;
  for (int n = 0; n < FStreamCount; ++n) {
    const AVStream& stream = *FFormatContext->streams[n];
    if (stream.codecpar->codec_type != AVMEDIA_TYPE_VIDEO || ProbedFrames(stream) <= most) continue;
    most = ProbedFrames(stream);
    chosen = n;
  }
  return chosen;
}

AVStream* TCustomDecoder::StreamOfType(int streamIndex, int firstOfType, AVMediaType type,
                                       const char* kind) {
  if (!FileLoaded()) return nullptr;
  if (streamIndex < 0) {
    if (firstOfType < 0) {
      SetLastError(AV_LOG_ERROR, std::string("no ") + kind + " stream.");
      return nullptr;
    }
    streamIndex = firstOfType;
  }
  if (!CheckStreamIndex(streamIndex)) return nullptr;
  AVStream* stream = FFormatContext->streams[streamIndex];
  if (stream->codecpar->codec_type != type) {
    SetLastError(AV_LOG_ERROR,
                 "stream #" + std::to_string(streamIndex) + " is not " + kind + " stream.");
    return nullptr;
  }
  return stream;
}

bool TCustomDecoder::GetFileInfo(TFileStreamInfo& info) {
  info = TFileStreamInfo();
  if (!FileLoaded()) return false;
  const AVDictionary* tags = FFormatContext->metadata;
  info.StartTime = NoneAsMinusOne(FFormatContext->start_time);
  info.Duration = NoneAsMinusOne(FFormatContext->duration);
  info.BitRate = ClampToInt(FFormatContext->bit_rate);
  info.Timestamp = CreationTime(tags);
  info.Year = NumericTag(tags, "year");
  info.Track = NumericTag(tags, "track");
  info.Title = GetMetadataValue(tags, "title", "");
  info.Author = GetMetadataValue(tags, "author", "");
  info.Copyright = GetMetadataValue(tags, "copyright", "");
  info.Comment = GetMetadataValue(tags, "comment", "");
  info.Album = GetMetadataValue(tags, "album", "");
  info.Genre = GetMetadataValue(tags, "genre", "");
  return true;
}

bool TCustomDecoder::GetAudioStreamInfo(int streamIndex, TAudioStreamInfo& info) {
  info = TAudioStreamInfo();
  const AVStream* stream =
      StreamOfType(streamIndex, FFirstAudioStream, AVMEDIA_TYPE_AUDIO, "audio");
  if (!stream) return false;
  FillCommon(stream, info);
  const AVCodecParameters* parameters = stream->codecpar;
  info.Channels = parameters->ch_layout.nb_channels;
  info.SampleRate = parameters->sample_rate;
  info.SampleFormat = parameters->format;
  return true;
}

bool TCustomDecoder::GetVideoStreamInfo(int streamIndex, TVideoStreamInfo& info) {
  info = TVideoStreamInfo();
  AVStream* stream = StreamOfType(streamIndex, FFirstVideoStream, AVMEDIA_TYPE_VIDEO, "video");
  if (!stream) return false;
  FillCommon(stream, info);
  const AVCodecParameters* parameters = stream->codecpar;
  info.Height = parameters->height;
  info.Width = parameters->width;
  DisplayedSize(DisplayQuarterTurns(stream), info.Width, info.Height);
  const AVRational sample = UprightSampleAspect(stream);
  info.SampleAspectNum = sample.num;
  info.SampleAspectDen = sample.den;
  info.AspectRatio = DisplayAspectRatio(info);
  info.PixelFormat = parameters->format;
  const AVRational average = stream->avg_frame_rate;
  const AVRational rate = average.num != 0 && average.den != 0 ? average : stream->r_frame_rate;
  info.FrameRateNum = rate.num;
  info.FrameRateDen = rate.den;
  return true;
}

std::string TCustomDecoder::GetFileName() {
  if (!FileLoaded()) return {};
  return FFormatContext->url ? FFormatContext->url : "";
}

bool TCustomDecoder::IsAudioStream(int streamIndex) {
  return FileLoaded() && CheckStreamIndex(streamIndex) &&
         FFormatContext->streams[streamIndex]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
}

bool TCustomDecoder::IsVideoStream(int streamIndex) {
  return FileLoaded() && CheckStreamIndex(streamIndex) &&
         FFormatContext->streams[streamIndex]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
}

void TFFDecoder::RefreshFileInfo() {
  TCustomDecoder::RefreshFileInfo();
  FSelectedStream = FirstVideoStream() >= 0 ? FirstVideoStream() : FirstAudioStream();
  FSelectedStartTime = 0;
  if (FSelectedStream < 0) return;
  const AVStream* stream = FormatContext()->streams[FSelectedStream];
  if (stream->start_time != AV_NOPTS_VALUE)
    FSelectedStartTime = ToMicroseconds(stream->start_time, stream->time_base);
}
