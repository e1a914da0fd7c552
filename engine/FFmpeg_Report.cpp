#include "FFmpeg_Private.h"

using namespace ffmpeg_internal;

namespace {

// The encoders' quality scale: FF_QP2LAMBDA.
constexpr float LambdaPerQuantizer = 118.0f;

// One histogram of quantizers serves every task of the process, as its progress text shows.
std::mutex QuantizerHistogramLock;
int QuantizerHistogram[52];

std::string QuantizerHistogramText(float quality) {
  const std::lock_guard<std::mutex> lock(QuantizerHistogramLock);
  const long q = std::lrint(quality);
  if (q >= 0 && q < 52) ++QuantizerHistogram[q];
  std::string text;
  for (int i = 0; i < 32; ++i)
    text += Format("%X", int(std::lrint(std::log2(QuantizerHistogram[i] + 1))));
  return text;
}

double Psnr(double error) { return -10.0 * std::log10(error); }

}  // namespace

// ---- Statistics ----

void TCustomFFmpeg::DoVideoStats(TOutputStream& ost, int frameSize) {
  if (!FVStatsFile) {
    FVStatsFile = std::fopen(FSettings.VStatsFileName.c_str(), "w");
    if (!FVStatsFile) throw FFmpegException("fopen fail: " + FSettings.VStatsFileName);
  }
  const TOutputStream& root = Root(ost);
  const AVCodecContext& encoder = *root.Encoder;
  std::fprintf(FVStatsFile, "frame= %5d q= %2.1f ", ost.FrameNumber,
               double(root.CodedQuality) / LambdaPerQuantizer);
  if (root.CodedHasErrors && (encoder.flags & AV_CODEC_FLAG_PSNR))
    std::fprintf(FVStatsFile, "PSNR= %6.2f ",
                 Psnr(double(root.CodedError[0]) /
                      (double(encoder.width) * encoder.height * 255.0 * 255.0)));
  std::fprintf(FVStatsFile, "f_size= %6d ", frameSize);
  const double timeBase = av_q2d(encoder.time_base);
  const double t = std::max(double(ost.SyncPts) * timeBase, 0.01);
  const double bitrate = frameSize * 8 / timeBase / 1000.0;
  const double average = double(FVideoSize) * 8 / t / 1000.0;
  std::fprintf(FVStatsFile, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
               double(FVideoSize) / 1024, t, bitrate, average);
  std::fprintf(FVStatsFile, "type= %c\n",
               ff::av_get_picture_type_char(AVPictureType(root.CodedPictType)));
}

// ---- Progress report ----

// The quality of a stream's last coded picture, -1 when it is copied or none was coded.
float TCustomFFmpeg::CodedQuality(const TOutputStream& ost) {
  const TOutputStream& root = ost.Mirror ? *ost.Mirror : ost;
  return root.EncodingNeeded && root.CodedQuality >= 0
             ? float(root.CodedQuality) / LambdaPerQuantizer
             : -1.0f;
}

std::string TCustomFFmpeg::PsnrText(const TOutputStream& ost, bool isLast) const {
  const TOutputStream& root = ost.Mirror ? *ost.Mirror : ost;
  const AVCodecContext& encoder = *root.Encoder;
  if (!(encoder.flags & AV_CODEC_FLAG_PSNR) || !root.CodedHasErrors) return std::string();
  std::string text = "PSNR=";
  double error = 0, scale = 0;
  for (int n = 0; n < 3; ++n) {
    const double part = double(isLast ? root.TotalError[n] : root.CodedError[n]);
    double partScale = double(encoder.width) * encoder.height * 255.0 * 255.0;
    if (isLast) partScale *= std::max(ost.FrameNumber, 1);
    if (n > 0) partScale /= 4;
    error += part;
    scale += partScale;
    text += Format("%c:%2.2f ", "YUV"[n], Psnr(part / partScale));
  }
  return text + Format("*:%2.2f ", Psnr(error / scale));
}

void TCustomFFmpeg::PrintReport(bool isLast, int fileIndex) {
  if (FOutputStreams.empty()) return;
  size_t first = 0, last = FOutputStreams.size();
  if (FJoinInputs) {
    first = size_t(isLast ? FJoinIndex : fileIndex) * size_t(GroupSize());
    last = std::min(last, first + size_t(GroupSize()));
  }
  std::string text;
  const TOutputStream* video = nullptr;
  float quality = -1;
  int64_t smallestTime = INT64_MAX;
  for (size_t i = first; i < last; ++i) {
    const TOutputStream& ost = *FOutputStreams[i];
    quality = CodedQuality(ost);
    smallestTime = std::min(smallestTime, MuxerMicroseconds(ost.St));
    if (ost.St->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
    if (video) {
      text += Format("q=%2.1f ", double(quality));
      continue;
    }
    if (!ost.Active && !isLast) continue;
    video = &ost;
    if (ost.FrameNumber < 1) return;
    text += Format("frame=%5d fps=%3d q=%3.1f ", ost.FrameNumber, FramesPerSecond(ost.FrameNumber),
                   double(quality));
    if (isLast) text += "L";
    if (FSettings.QpHist) text += QuantizerHistogramText(quality);
    text += PsnrText(ost, isLast);
  }
  if (smallestTime == INT64_MAX) smallestTime = 0;
  if (!OnProgress && FSettings.Verbose <= 0 && !isLast) return;
  const int64_t size = OutputSize();
  const float bitrate =
      smallestTime > 0 ? float(double(size) * 8 / (double(smallestTime) / 1000)) : 0;
  const int64_t hundredths = smallestTime / 10000;
  text += Format("size=%8.0fkB time=%02d:%02d:%02d.%02d bitrate=%6.1fkbits/s", double(size) / 1024,
                 int(hundredths / 360000), int(hundredths / 6000 % 60), int(hundredths / 100 % 60),
                 int(hundredths % 100), double(bitrate));
  if (FFramesDuplicated || FFramesDropped)
    text += Format(" dup=%d drop=%d", FFramesDuplicated, FFramesDropped);
  if (OnProgress) {
    if (FDupDropPending && FSettings.Verbose >= 0) {
      FDupDropPending = false;
      Log(llVerbose, text);
    }
    const TOutputStream& lastStream = *FOutputStreams.back();
    OnProgress(this, isLast ? -1 : fileIndex, video ? video->FrameNumber : -1,
               video ? FramesPerSecond(video->FrameNumber) : -1, quality, bitrate, size,
               MuxerMicroseconds(lastStream.St), TotalTime);
  } else if (FSettings.Verbose >= 0) {
    Log(llVerbose, text);
  }
  if (isLast && FSettings.Verbose >= 0) LogMuxingOverhead(size);
}

int TCustomFFmpeg::FramesPerSecond(int frameNumber) const {
  const double elapsed = double(ff::av_gettime_relative() - FLoopStartTime) / AV_TIME_BASE;
  return elapsed > 1.0 ? int(frameNumber / elapsed + 0.5) : 0;
}

int64_t TCustomFFmpeg::OutputSize() const {
  AVIOContext* pb = FOutputFiles.empty() ? nullptr : FOutputFiles[0]->Ctx->pb;
  if (!pb) return 0;
  // What is still in the write buffer counts: the file on disk lags behind it.
  return std::max(ff::avio_size(pb), ff::avio_seek(pb, 0, SEEK_CUR));
}

void TCustomFFmpeg::LogMuxingOverhead(int64_t totalSize) {
  int64_t extra = 0;
  for (const TOutputStream* ost : FOutputStreams)
    if (!ost->Mirror && ost->Encoder) extra += ost->Encoder->extradata_size;
  FExtraSize = extra;
  const double payload = double(FVideoSize + FAudioSize + FExtraSize);
  const double overhead = payload > 0 ? (double(totalSize) - payload) * 100 / payload : 0;
  LogFmt(llVerbose, "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n",
         double(FVideoSize) / 1024, double(FAudioSize) / 1024, double(FExtraSize) / 1024, overhead);
}
