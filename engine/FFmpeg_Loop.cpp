#include "FFmpeg_Private.h"
#include "UnicodeProtocol.h"

using namespace ffmpeg_internal;

// ---- Main loop ----

namespace {

bool BreakProc(void* owner) { return static_cast<TCustomFFmpeg*>(owner)->BreakCallback(owner); }

// Registers the task's abort test for blocking library calls of the loop's thread.
class TBreakRegistration {
 public:
  explicit TBreakRegistration(TCustomFFmpeg& task) : FTask(&task), FActive(!IsMainThread()) {
    if (FActive) InterruptCB().Add(std::this_thread::get_id(), FTask, BreakProc);
  }
  ~TBreakRegistration() {
    if (FActive) InterruptCB().Remove(std::this_thread::get_id(), FTask, BreakProc);
  }
  TBreakRegistration(const TBreakRegistration&) = delete;
  TBreakRegistration& operator=(const TBreakRegistration&) = delete;

 private:
  TCustomFFmpeg* FTask;
  bool FActive;
};

}  // namespace

void TCustomFFmpeg::MainLoop() {
  const TBreakRegistration breakRegistration(*this);
  FLoopStartTime = ff::av_gettime_relative();
  FJoinIndex = 0;
  FLastFileIndex = 0;
  int64_t lastReport = FLoopStartTime;
  TPacket packet;
  try {
    while (!Aborting) {
      CheckPaused();
      const int fileIndex = ChooseInputFile();
      if (fileIndex < 0) {
        if (FJoinInputs || !AnyNoPacket()) break;
        for (auto& file : FInputFiles) file->NoPacket = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      if (FSettings.LimitFileSize != 0 && FOutputFiles[0]->Ctx->pb &&
          ff::avio_seek(FOutputFiles[0]->Ctx->pb, 0, SEEK_CUR) >= FSettings.LimitFileSize)
        break;
      if (!ReadAndOutput(fileIndex, packet.Value)) break;
      const int64_t now = ff::av_gettime_relative();
      if (now - lastReport > ProgressInterval) {
        PrintReport(false, FLastFileIndex);
        lastReport = now;
      }
    }
  } catch (...) {
    // An error ends the run, yet what was written stays playable.
    EndTranscode(false);
    throw;
  }
  EndTranscode(true);
}

bool TCustomFFmpeg::AnyNoPacket() const {
  return std::any_of(FInputFiles.begin(), FInputFiles.end(),
                     [](const auto& file) { return file->NoPacket; });
}

// The file to read next: the one whose stream lags most (by its input clock with input sync,
// else by the time written), or -1 when none is left or a frame limit was reached.
int TCustomFFmpeg::ChooseInputFile() const {
  if (FJoinInputs) {
    const size_t group = size_t(GroupSize());
    for (size_t i = size_t(FJoinIndex) * group; i < (size_t(FJoinIndex) + 1) * group; ++i)
      if (ReachedFrameLimit(*FOutputStreams[i])) return -1;
    return FJoinIndex;
  }
  double smallestInput = 1e300, smallestOutput = 1e300;
  int inputChoice = -1, outputChoice = -1;
  for (const TOutputStream* ost : FOutputStreams) {
    const TInputStream& ist = *FInputStreams[ost->SourceIndex];
    const TInputFile& file = *FInputFiles[ist.FileIndex];
    if (ist.PastRecordingTime || file.NoPacket) continue;
    if (ReachedFrameLimit(*ost)) return -1;
    if (file.EofReached) continue;
    const double inputClock = double(ist.Pts);
    const double outputTime = MuxerTime(ost->St);
    if (inputClock < smallestInput) {
      smallestInput = inputClock;
      inputChoice = ist.FileIndex;
    }
    if (outputTime < smallestOutput) {
      smallestOutput = outputTime;
      outputChoice = ist.FileIndex;
    }
  }
  return FSettings.InputSync ? inputChoice : outputChoice;
}

bool TCustomFFmpeg::ReachedFrameLimit(const TOutputStream& ost) const {
  const int type = ost.St->codecpar->codec_type;
  return type >= 0 && type <= AVMEDIA_TYPE_SUBTITLE && ost.FrameNumber >= FSettings.MaxFrames[type];
}

// One packet of the file through its stream's output path. False ends the loop.
bool TCustomFFmpeg::ReadAndOutput(int fileIndex, AVPacket* pkt) {
  TInputFile& file = *FInputFiles[fileIndex];
  const int result = ff::av_read_frame(file.Ctx, pkt);
  if (result == AVERROR(EAGAIN)) {
    file.NoPacket = true;
    return true;
  }
  if (result < 0) {
    file.EofReached = true;
    if (FJoinInputs) return SwitchGroup();
    return !FSettings.Shortest;
  }
  for (auto& input : FInputFiles) input->NoPacket = false;
  FLastFileIndex = fileIndex;
  if (FSettings.DoPktDump)
    ff::av_log(nullptr, AV_LOG_DEBUG, "%s", PacketDumpText(*pkt, file).c_str());
  const bool keep = pkt->stream_index < file.NbStreams &&
                    !FInputStreams[file.IstIndex + pkt->stream_index]->Unclaimed;
  if (keep) OutputInputPacket(file, pkt);
  ff::av_packet_unref(pkt);
  return true;
}

std::string TCustomFFmpeg::PacketDumpText(const AVPacket& pkt, const TInputFile& file) const {
  const AVRational tb = file.Ctx->streams[pkt.stream_index]->time_base;
  std::string text =
      Format("stream #%d:\n  keyframe=%d\n  duration=%0.3f\n  size=%d\n", pkt.stream_index,
             (pkt.flags & AV_PKT_FLAG_KEY) != 0, double(pkt.duration) * av_q2d(tb), pkt.size);
  text += pkt.dts == AV_NOPTS_VALUE ? "  dts=N/A\n"
                                    : Format("  dts=%0.3f\n", double(pkt.dts) * av_q2d(tb));
  text += pkt.pts == AV_NOPTS_VALUE ? "  pts=N/A\n"
                                    : Format("  pts=%0.3f\n", double(pkt.pts) * av_q2d(tb));
  if (FSettings.DoHexDump)
    for (int offset = 0; offset < pkt.size; offset += 16) {
      text += Format("%08x ", offset);
      for (int n = offset; n < std::min(pkt.size, offset + 16); ++n)
        text += Format(" %02x", pkt.data[n]);
      text += "\n";
    }
  return text;
}

// From here on a packet's times are in microseconds, as every clock of the task is: the input's
// offset (where a joined input starts, to the microsecond) then moves it exactly, not rounded
// to the stream's own time base, whose steps may be as coarse as a picture or a sound frame.
void TCustomFFmpeg::OutputInputPacket(TInputFile& file, AVPacket* pkt) {
  const int istIndex = file.IstIndex + pkt->stream_index;
  TInputStream& ist = *FInputStreams[istIndex];
  ff::av_packet_rescale_ts(pkt, ist.St->time_base, MicrosecondBase);
  if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += file.TsOffset;
  if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += file.TsOffset;
  if (size_t(pkt->stream_index) < file.TsScale.size() && file.TsScale[pkt->stream_index] != 0) {
    const double scale = file.TsScale[pkt->stream_index];
    if (pkt->dts != AV_NOPTS_VALUE) pkt->dts = std::llround(double(pkt->dts) * scale);
    if (pkt->pts != AV_NOPTS_VALUE) pkt->pts = std::llround(double(pkt->pts) * scale);
  }
  CorrectDiscontinuity(file, ist, pkt);
  if (PastRecordingTime(ist, *pkt)) return;
  if (OutputPacket(ist, istIndex, pkt) >= 0) return;
  const std::string text =
      Format("Error while decoding stream #%d.%d (%s)", ist.FileIndex, ist.St->index,
             MediaTypeName(ist.St->codecpar->codec_type).c_str());
  if (FSettings.ExitOnError) throw FFmpegException(text);
  if (FSettings.Verbose >= 0) Log(llVerbose, text);
}

// A packet a little behind its stream's clock is no discontinuity: the first packet after a
// seek into an MPEG program stream carries the time of a frame after it, and a clock run on by
// rounded durations is a few microseconds ahead. Moving the file's offset for it would move
// every stream of the file, the pictures of a part by a picture time or more.
constexpr int64_t BackStepTolerance = AV_TIME_BASE / 10;

void TCustomFFmpeg::CorrectDiscontinuity(TInputFile& file, TInputStream& ist, AVPacket* pkt) {
  if (pkt->dts == AV_NOPTS_VALUE || ist.NextPts == AV_NOPTS_VALUE || FSettings.CopyTs) return;
  if (!(file.Ctx->iformat->flags & AVFMT_TS_DISCONT)) {
    DropDamagedTimestamps(ist, pkt);
    return;
  }
  const int64_t delta = pkt->dts - ist.NextPts;
  if (std::abs(double(delta)) <= FSettings.DtsDeltaThreshold * AV_TIME_BASE &&
      pkt->dts + BackStepTolerance >= ist.Pts)
    return;
  file.TsOffset -= delta;
  pkt->dts -= delta;
  if (pkt->pts != AV_NOPTS_VALUE) pkt->pts -= delta;
  if (FSettings.Verbose > 2)
    LogFmt(llVerbose, "timestamp discontinuity %" PRId64 ", new offset= %" PRId64, delta,
           file.TsOffset);
}

// Containers without discontinuities: a packet far from its stream's course has a damaged time
// stamp (one flipped byte can move it by weeks). Its times are dropped, so that the stream's
// clock carries on by the frame durations, as for a packet that has none.
void TCustomFFmpeg::DropDamagedTimestamps(const TInputStream& ist, AVPacket* pkt) {
  const auto damaged = [&](int64_t time) {
    return time != AV_NOPTS_VALUE &&
           std::abs(double(time - ist.NextPts)) > TimestampErrorThreshold * AV_TIME_BASE;
  };
  if (!damaged(pkt->dts) && !damaged(pkt->pts)) return;
  LogFmt(llWarning,
         "Timestamp %" PRId64 " of stream #%d.%d is far from the expected %" PRId64 ": dropped",
         pkt->dts, ist.FileIndex, ist.St->index, ist.NextPts);
  pkt->dts = AV_NOPTS_VALUE;
  pkt->pts = AV_NOPTS_VALUE;
}

// Decoded pictures are read on to the first one at or past the end: its time tells whether the
// one before it is shown before the end, and it lies past the last packet timed before the end
// when pictures are reordered.
bool TCustomFFmpeg::PastRecordingTime(TInputStream& ist, const AVPacket& pkt) {
  if (FSettings.RecordingTime == INT64_MAX) return false;
  if (ist.DecodingNeeded && ist.St->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
    return ist.PastRecordingTime;
  const int64_t limit = FSettings.RecordingTime + FSettings.StartTime;
  int64_t time;
  if (pkt.dts != AV_NOPTS_VALUE) {
    time = pkt.dts;
  } else if (ist.Pts != AV_NOPTS_VALUE) {
    time = ist.Pts;
  } else if (pkt.pts != AV_NOPTS_VALUE) {
    time = pkt.pts;
  } else {
    Log(llDebug, "no timestamp information to check whether recording time exhausted or not.");
    return false;
  }
  if (time < limit) return false;
  ist.PastRecordingTime = true;
  return true;
}

// Join mode, at the end of the current input: its decoders and resamplers are drained into the
// outputs, the next group of streams continues the clocks of this one, and the next input is
// shifted to start where this one ended, on the output's next picture time, so that its
// pictures keep their distance from its sound (the sound before it is filled with silence).
// False when this was the last input.
bool TCustomFFmpeg::SwitchGroup() {
  const bool last = FJoinIndex + 1 >= InputCount();
  FlushInputFile(FJoinIndex, last);
  const size_t group = size_t(GroupSize());
  const size_t first = size_t(FJoinIndex) * group;
  double endTime = 0;
  for (size_t i = first; i < first + group; ++i) {
    TOutputStream& ost = *FOutputStreams[i];
    if (!last && ost.EncodingNeeded) QueueResamplerRest(ost);
    endTime = std::max(endTime, StreamEndTime(ost));
    ost.Active = false;
    if (i + group < FOutputStreams.size()) {
      TOutputStream& next = *FOutputStreams[i + group];
      next.SyncPts = ost.SyncPts;
      next.FrameNumber = ost.FrameNumber;
    }
  }
  if (last) return false;
  for (size_t i = first; i < first + group; ++i)
    endTime = NextPictureTime(*FOutputStreams[i], endTime);
  ++FJoinIndex;
  FInputFiles[FJoinIndex]->TsOffset += std::llround(endTime * AV_TIME_BASE);
  return true;
}

// The first of the encoded video stream's picture times at or after `time` (s); `time` for
// other streams.
double TCustomFFmpeg::NextPictureTime(TOutputStream& ost, double time) {
  if (!ost.EncodingNeeded) return time;
  const AVCodecContext& encoder = *Root(ost).Encoder;
  if (encoder.codec_type != AVMEDIA_TYPE_VIDEO) return time;
  const double step = av_q2d(encoder.time_base);
  // A time already on a picture's time, but for the error of the division, stays.
  return std::ceil(time / step - 1e-6) * step;
}

// Where the stream's next frame goes, in seconds: the encoder's clock (with the samples still
// held), which is ahead of what the muxer has written out of its interleaving queue.
double TCustomFFmpeg::StreamEndTime(TOutputStream& ost) {
  if (!ost.EncodingNeeded) return MuxerTime(ost.St);
  const TOutputStream& root = Root(ost);
  const AVCodecContext& encoder = *root.Encoder;
  if (encoder.codec_type == AVMEDIA_TYPE_AUDIO)
    return double(root.SyncPts + HeldSamples(ost)) / encoder.sample_rate;
  return double(ost.SyncPts) * av_q2d(encoder.time_base);
}

// Drains the decoders of one input through the normal frame path; with flushEncoders the
// encoders they feed give out their last packets too.
void TCustomFFmpeg::FlushInputFile(int fileIndex, bool flushEncoders) {
  const TInputFile& file = *FInputFiles[fileIndex];
  for (int n = 0; n < file.NbStreams; ++n) {
    TInputStream& ist = *FInputStreams[file.IstIndex + n];
    if (!ist.DecodingNeeded || ist.Flushed) continue;
    DrainInputStream(ist, file.IstIndex + n, flushEncoders);
    ist.Flushed = true;
  }
}

void TCustomFFmpeg::EndTranscode(bool flush) {
  if (flush)
    for (size_t n = 0; n < FInputFiles.size(); ++n) FlushInputFile(int(n), true);
  const size_t count = FJoinInputs ? 1 : FOutputFiles.size();
  for (size_t i = 0; i < count; ++i) {
    TOutputFile& file = *FOutputFiles[i];
    if (!file.HeaderWritten) continue;
    const int result = ff::av_write_trailer(file.Ctx);
    if (result < 0) Log(llError, AVErrorText(file.FileName, result));
  }
  PrintReport(true, -1);
  CloseOpenEncoders();
  for (TOutputStream* ost : FOutputStreams)
    if (ost->Graph) ff::avfilter_graph_free(&ost->Graph);
  CloseOpenDecoders();
  if (!flush) return;
  RequireMediaWritten();
  Finished = !Aborting;
}

// A run that ended on its own without a single picture or sound in an output made nothing
// usable (an input whose only pictures lie outside the cut, say): it has failed. Sound written
// without a picture is kept: a picture that cannot be had (a damaged cover, a range past the
// pictures that the seek cannot reach back to) does not cost the sound.
void TCustomFFmpeg::RequireMediaWritten() const {
  if (Aborting) return;
  for (const auto& file : FOutputFiles)
    if (file->OwnsContext && file->MediaPackets == 0)
      throw FFmpegException(Format("No picture and no sound were left to write into %s",
                                   UrlToWideFileName(file->FileName).c_str()));
}

// ---- Packet decoding and stream copy ----

// The stream whose encoder, audio queue and bitstream filters an output stream uses: in join
// mode the later groups write through the first group's.
TOutputStream& TCustomFFmpeg::Root(TOutputStream& ost) { return ost.Mirror ? *ost.Mirror : ost; }

int TCustomFFmpeg::OutputPacket(TInputStream& ist, int istIndex, const AVPacket* pkt) {
  if (ist.NextPts == AV_NOPTS_VALUE) ist.NextPts = ist.Pts;
  if (!pkt) {
    DrainInputStream(ist, istIndex, true);
    return 0;
  }
  if (pkt->dts != AV_NOPTS_VALUE) ist.NextPts = ist.Pts = pkt->dts;
  if (!ist.DecodingNeeded) {
    ist.Pts = ist.NextPts;
    AdvanceCopyClock(ist, *pkt);
    EmulateRate(ist);
    if (PastStartTime(ist)) CopyToOutputs(ist, istIndex, *pkt);
    return 0;
  }
  if (ist.St->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE)
    return DecodeSubtitle(ist, istIndex, pkt);
  return Decode(ist, istIndex, pkt);
}

bool TCustomFFmpeg::PastStartTime(const TInputStream& ist) const {
  return FSettings.StartTime == 0 || ist.Pts >= FSettings.StartTime;
}

// Where a stream's clock stands on the outputs' time line, in seconds: the start of the cut is
// 0 there, whether the start was sought in the input or is skipped while decoding.
double TCustomFFmpeg::OutputTime(const TInputStream& ist) const {
  return double(ist.Pts - FSettings.StartTime) / AV_TIME_BASE;
}

// Copied packets move the clock by their own duration.
void TCustomFFmpeg::AdvanceCopyClock(TInputStream& ist, const AVPacket& pkt) {
  const AVCodecParameters& par = *ist.St->codecpar;
  if (pkt.duration > 0) {
    ist.NextPts += pkt.duration;
  } else if (par.codec_type == AVMEDIA_TYPE_VIDEO && ist.St->avg_frame_rate.num) {
    ist.NextPts += ff::av_rescale_q(1, av_inv_q(ist.St->avg_frame_rate), MicrosecondBase);
  } else if (par.codec_type == AVMEDIA_TYPE_AUDIO && par.sample_rate > 0) {
    ist.NextPts += int64_t(AV_TIME_BASE) * par.frame_size / par.sample_rate;
  }
}

// Reading at the native rate: waits until the wall clock catches up with the stream.
void TCustomFFmpeg::EmulateRate(const TInputStream& ist) {
  if (!FSettings.RateEmu) return;
  const int64_t elapsed = ff::av_gettime_relative() - ist.RateEmuStart;
  if (ist.Pts - elapsed > 1000) ff::av_usleep(unsigned(ist.Pts - elapsed));
}

int TCustomFFmpeg::Decode(TInputStream& ist, int istIndex, const AVPacket* pkt) {
  AVCodecContext* decoder = ist.Decoder;
  int result = ff::avcodec_send_packet(decoder, pkt);
  if (result < 0 && result != AVERROR_EOF) return -1;
  int frames = 0;
  for (;;) {
    result = ff::avcodec_receive_frame(decoder, FDecodedFrame);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return 0;
    if (result < 0) return -1;
    if (pkt && ++frames == 2) WarnMultipleFrames(ist);
    try {
      ProcessDecodedFrame(ist, istIndex, FDecodedFrame);
    } catch (...) {
      ff::av_frame_unref(FDecodedFrame);
      throw;
    }
    ff::av_frame_unref(FDecodedFrame);
    if (Aborting) return 0;
  }
}

void TCustomFFmpeg::WarnMultipleFrames(TInputStream& ist) {
  if (FSettings.Verbose > 1 || (FSettings.Verbose > 0 && !ist.MultipleFramesWarned))
    LogFmt(llError, "Multiple frames in a packet from stream %d", ist.St->index);
  ist.MultipleFramesWarned = true;
}

// A decoded frame's time sets the stream's clock; the clock then runs on by its duration.
void TCustomFFmpeg::SetFrameClock(TInputStream& ist, const AVFrame& frame, int64_t duration) {
  ist.Pts = ist.NextPts;
  const int64_t time = frame.best_effort_timestamp;
  if (time != AV_NOPTS_VALUE) ist.Pts = ist.NextPts = time;
  ist.NextPts += duration;
}

int64_t TCustomFFmpeg::VideoFrameDuration(const TInputStream& ist, const AVFrame& frame) const {
  if (frame.pkt_duration > 0) return frame.pkt_duration;
  AVRational rate = ist.Decoder->framerate;
  if (!rate.num) rate = ist.St->avg_frame_rate;
  if (!rate.num || !rate.den) return 0;
  const int ticks = 2 + frame.repeat_pict;
  return ff::av_rescale(int64_t(AV_TIME_BASE) * ticks, rate.den, int64_t(rate.num) * 2);
}

void TCustomFFmpeg::ProcessDecodedFrame(TInputStream& ist, int istIndex, AVFrame* frame) {
  CheckPaused();
  if (ist.St->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
    ProcessAudioFrame(ist, istIndex, *frame);
    return;
  }
  SetFrameClock(ist, *frame, VideoFrameDuration(ist, *frame));
  if (ist.Pts - FSettings.StartTime >= FSettings.RecordingTime) ist.PastRecordingTime = true;
  AVFrame* picture = PreProcessVideoFrame(ist, frame);
  EmulateRate(ist);
  if (!PastStartTime(ist)) return;
  FeedVideoOutputs(ist, istIndex, picture);
  if (ist.St->disposition & AV_DISPOSITION_ATTACHED_PIC) ShowHeldPictures(ist, istIndex);
}

// The decoded samples as packed signed 16-bit, the layout the hook, the volume and the sync
// arithmetic work on.
void TCustomFFmpeg::ProcessAudioFrame(TInputStream& ist, int istIndex, const AVFrame& frame) {
  const int channels = frame.ch_layout.nb_channels;
  const int bytes = ToPackedS16(ist, frame);
  if (bytes <= 0) return;
  const int64_t duration =
      (int64_t(AV_TIME_BASE) / 2) * bytes / (int64_t(frame.sample_rate) * channels);
  SetSoundClock(ist, frame, duration);
  uint8_t* samples = FAudioBuffer.data();
  if (OnAudioHook)
    OnAudioHook(this, samples, ist.Pts, bytes, frame.sample_rate, channels, AV_SAMPLE_FMT_S16);
  ScaleVolume(reinterpret_cast<int16_t*>(samples), size_t(bytes) / 2, FSettings.AudioVolume);
  EmulateRate(ist);
  const uint8_t* kept = samples;
  int size = bytes;
  ClipSoundToCut(ist, frame.sample_rate, channels, kept, size);
  if (size <= 0) return;
  for (TOutputStream* ost : FOutputStreams)
    if (ost->SourceIndex == istIndex && ost->EncodingNeeded)
      DoAudioOut(*ost, ist, kept, size, frame.sample_rate, channels);
}

// A block of sound follows on from the blocks decoded before it, sample for sample, where its
// own time lies after their end by more than the coarsest time base's step (FLV's and Matroska's
// millisecond) and by less than its length: Ogg times the Vorbis blocks around a change of block
// size a part of a block late (10 to 20 ms), and a clock that followed them would keep that much
// sound from before a cut. A larger gap is one in the sound; a time before their end is taken as
// it is (after a seek the blocks before it may have been timed late, AC-3's in a program stream).
void TCustomFFmpeg::SetSoundClock(TInputStream& ist, const AVFrame& frame, int64_t duration) {
  constexpr int64_t CoarsestStep = 1000;
  const int64_t time = frame.best_effort_timestamp;
  const int64_t late =
      time == AV_NOPTS_VALUE || ist.SoundEnd == AV_NOPTS_VALUE ? 0 : time - ist.SoundEnd;
  if (late > CoarsestStep && late < duration) {
    ist.Pts = ist.SoundEnd;
    ist.NextPts = ist.Pts + duration;
  } else {
    SetFrameClock(ist, frame, duration);
  }
  ist.SoundEnd = ist.NextPts;
}

// Keeps the part of a block of sound that lies inside the cut, to the sample. A seek lands on
// the key frame before the asked start, so the sound decoded from there would run ahead of the
// first picture, and the last packet before the end of a limited recording runs past it. The
// stream's clock moves to the first sample kept; a block dropped whole leaves it at its start,
// since the next packet's time, which lies a rounding off the block's end, would seem a step
// back in time there (and move the whole input by it, in a format with discontinuities).
void TCustomFFmpeg::ClipSoundToCut(TInputStream& ist, int rate, int channels,
                                   const uint8_t*& samples, int& size) const {
  const int sampleBytes = 2 * channels;
  const int64_t count = size / sampleBytes;
  const double time = OutputTime(ist);
  const int64_t first = std::clamp<int64_t>(std::llround(-time * rate), 0, count);
  int64_t last = count;
  if (FSettings.RecordingTime != INT64_MAX) {
    const double end = double(FSettings.RecordingTime) / AV_TIME_BASE;
    last = std::clamp<int64_t>(std::llround((end - time) * rate), first, count);
  }
  if (first < count) ist.Pts += ff::av_rescale(first, AV_TIME_BASE, rate);
  samples += first * sampleBytes;
  size = int(last - first) * sampleBytes;
}

// Converts a decoded audio frame into FAudioBuffer. The byte count, or -1 when it cannot be.
int TCustomFFmpeg::ToPackedS16(TInputStream& ist, const AVFrame& frame) {
  const int channels = frame.ch_layout.nb_channels;
  const int bytes = frame.nb_samples * channels * 2;
  if (bytes <= 0) return 0;
  const size_t wanted = std::max<size_t>(size_t(bytes), 192000);
  if (FAudioBuffer.size() < wanted) FAudioBuffer.resize(wanted);
  if (frame.format == AV_SAMPLE_FMT_S16) {
    std::memcpy(FAudioBuffer.data(), frame.data[0], size_t(bytes));
    return bytes;
  }
  if (!ist.ToS16 || ist.ToS16Format != frame.format || ist.ToS16Rate != frame.sample_rate ||
      ist.ToS16Channels != channels) {
    ff::swr_free(&ist.ToS16);
    AVChannelLayout* layout = const_cast<AVChannelLayout*>(&frame.ch_layout);
    if (ff::swr_alloc_set_opts2(&ist.ToS16, layout, AV_SAMPLE_FMT_S16, frame.sample_rate, layout,
                                AVSampleFormat(frame.format), frame.sample_rate, 0, nullptr) < 0 ||
        ff::swr_init(ist.ToS16) < 0)
      throw FFmpegException(Format("Cannot convert %s sample format to %s sample format",
                                   ff::av_get_sample_fmt_name(AVSampleFormat(frame.format)),
                                   ff::av_get_sample_fmt_name(AV_SAMPLE_FMT_S16)));
    ist.ToS16Format = frame.format;
    ist.ToS16Rate = frame.sample_rate;
    ist.ToS16Channels = channels;
  }
  uint8_t* out[1] = {FAudioBuffer.data()};
  const int samples =
      ff::swr_convert(ist.ToS16, out, frame.nb_samples,
                      const_cast<const uint8_t**>(frame.extended_data), frame.nb_samples);
  return samples < 0 ? -1 : samples * channels * 2;
}

int TCustomFFmpeg::DecodeSubtitle(TInputStream& ist, int istIndex, const AVPacket* pkt) {
  AVSubtitle subtitle{};
  int got = 0;
  AVPacket* copy = const_cast<AVPacket*>(pkt);
  if (ff::avcodec_decode_subtitle2(ist.Decoder, &subtitle, &got, copy) < 0) return -1;
  ist.Pts = ist.NextPts;
  if (!got) return 0;
  try {
    if (PastStartTime(ist))
      for (TOutputStream* ost : FOutputStreams)
        if (ost->SourceIndex == istIndex && ost->EncodingNeeded) DoSubtitleOut(*ost, ist, subtitle);
  } catch (...) {
    ff::avsubtitle_free(&subtitle);
    throw;
  }
  ff::avsubtitle_free(&subtitle);
  return 0;
}

// The end of an input stream: the decoder gives out what it holds through the normal frame
// path, the filter graphs run dry, then (with flushEncoders) the encoders it feeds are flushed.
void TCustomFFmpeg::DrainInputStream(TInputStream& ist, int istIndex, bool flushEncoders) {
  if (ist.DecodingNeeded && ist.St->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE) {
    if (Decode(ist, istIndex, nullptr) < 0)
      LogFmt(llVerbose, "Error while decoding stream #%d.%d (%s)", ist.FileIndex, ist.St->index,
             MediaTypeName(ist.St->codecpar->codec_type).c_str());
    DrainVideoFilters(ist, istIndex);
    ShowHeldPictures(ist, istIndex);
  }
  if (!flushEncoders) return;
  for (TOutputStream* ost : FOutputStreams)
    if (ost->SourceIndex == istIndex && ost->EncodingNeeded) FlushEncoder(*ost);
}

void TCustomFFmpeg::FlushEncoder(TOutputStream& ost) {
  TOutputStream& root = Root(ost);
  AVCodecContext* encoder = root.Encoder;
  if (!encoder || root.EncoderFlushed) return;
  root.EncoderFlushed = true;
  switch (encoder->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
      EncodeAndWrite(ost, nullptr);
      break;
    case AVMEDIA_TYPE_AUDIO:
      if (encoder->frame_size > 1) FlushAudioFifo(ost);
      EncodeAndWrite(ost, nullptr);
      break;
    default:
      break;
  }
}

// ---- Stream copy ----

void TCustomFFmpeg::CopyToOutputs(TInputStream& ist, int istIndex, const AVPacket& pkt) {
  for (TOutputStream* ost : FOutputStreams) {
    if (ost->SourceIndex != istIndex || ost->EncodingNeeded) continue;
    if (ost->FrameNumber == 0 && !(pkt.flags & AV_PKT_FLAG_KEY) &&
        !FSettings.CopyInitialNonKeyFrames)
      continue;
    CopyPacket(*ost, ist, pkt);
  }
}

void TCustomFFmpeg::CopyPacket(TOutputStream& ost, TInputStream& ist, const AVPacket& pkt) {
  AVPacket* out = FOutPacket;
  if (ff::av_packet_ref(out, &pkt) < 0) throw FFmpegException("Could not alloc buffer.");
  const AVRational in = MicrosecondBase;
  const AVRational tb = ost.St->time_base;
  const int64_t start = FromMicroseconds(FSettings.StartTime, tb);
  out->stream_index = ost.Index;
  out->pts = pkt.pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : ff::av_rescale_q(pkt.pts, in, tb) - start;
  out->dts = (pkt.dts == AV_NOPTS_VALUE ? FromMicroseconds(ist.Pts, tb)
                                        : ff::av_rescale_q(pkt.dts, in, tb)) -
             start;
  out->duration = ff::av_rescale_q(pkt.duration, in, tb);
  if (ist.St->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
    FAudioSize += pkt.size;
  } else if (ist.St->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
    FVideoSize += pkt.size;
    ++ost.SyncPts;
  }
  WriteFrame(ost, out);
  ++ost.FrameNumber;
}

// ---- Writing packets ----

// Runs the packet through the stream's bitstream filters, then into the muxer. Takes the
// packet's reference.
void TCustomFFmpeg::WriteFrame(TOutputStream& ost, AVPacket* pkt) {
  TOutputStream& root = Root(ost);
  FilterAndWrite(ost, root.BitstreamFilters, 0, pkt);
}

void TCustomFFmpeg::FilterAndWrite(TOutputStream& ost, const std::vector<AVBSFContext*>& filters,
                                   size_t index, AVPacket* pkt) {
  if (index == filters.size()) {
    pkt->stream_index = ost.Index;
    const int result = ff::av_interleaved_write_frame(FOutputFiles[ost.FileIndex]->Ctx, pkt);
    ff::av_packet_unref(pkt);
    if (result < 0) throw FFmpegException(AVErrorText("av_interleaved_write_frame()", result));
    const AVMediaType type = ost.St->codecpar->codec_type;
    if (type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO)
      ++FOutputFiles[FJoinInputs ? 0 : ost.FileIndex]->MediaPackets;
    return;
  }
  AVBSFContext* filter = filters[index];
  AVPacket* original = ff::av_packet_clone(pkt);
  int result = ff::av_bsf_send_packet(filter, pkt);
  while (result >= 0) {
    result = ff::av_bsf_receive_packet(filter, pkt);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) break;
    if (result >= 0) FilterAndWrite(ost, filters, index + 1, pkt);
  }
  if (result < 0 && result != AVERROR(EAGAIN) && result != AVERROR_EOF) {
    const std::string text = AVErrorText(Format("%s failed for stream %d, codec %s",
                                                filter->filter->name, ost.Index, EncoderName(ost)),
                                         result);
    if (FSettings.ExitOnError) {
      ff::av_packet_free(&original);
      throw FFmpegException(text);
    }
    Log(llError, text);
    if (original) FilterAndWrite(ost, filters, index + 1, original);  // passes unfiltered
  }
  ff::av_packet_unref(pkt);  // a packet the filter refused is still ours
  ff::av_packet_free(&original);
}

const char* TCustomFFmpeg::EncoderName(TOutputStream& ost) {
  const TOutputStream& root = Root(ost);
  return root.EncodingNeeded && root.Codec ? root.Codec->name : "copy";
}

// Sends a frame (or the end, with nullptr) to the stream's encoder and writes what comes out.
// The byte size of the last packet.
int TCustomFFmpeg::EncodeAndWrite(TOutputStream& ost, const AVFrame* frame) {
  TOutputStream& root = Root(ost);
  AVCodecContext* encoder = root.Encoder;
  const bool video = encoder->codec_type == AVMEDIA_TYPE_VIDEO;
  const char* failure = video ? "Video encoding failed" : "Audio encoding failed";
  TThreadedEncoder* threaded = root.Threaded.get();
  int result = threaded ? threaded->SendFrame(frame, encoder->sample_aspect_ratio)
                        : ff::avcodec_send_frame(encoder, frame);
  if (result < 0 && result != AVERROR_EOF) throw FFmpegException(failure);
  int size = 0;
  for (;;) {
    result = threaded ? threaded->ReceivePacket(FOutPacket)
                      : ff::avcodec_receive_packet(encoder, FOutPacket);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return size;
    if (result < 0) throw FFmpegException(failure);
    size = FOutPacket->size;
    (video ? FVideoSize : FAudioSize) += size;
    if (video) TakeQualityStats(root, *FOutPacket);
    if (root.LogFile && encoder->stats_out) std::fprintf(root.LogFile, "%s", encoder->stats_out);
    ff::av_packet_rescale_ts(FOutPacket, encoder->time_base, ost.St->time_base);
    WriteFrame(ost, FOutPacket);
  }
}

// The encoder's report on the packet: its quality, picture type and summed squared errors.
void TCustomFFmpeg::TakeQualityStats(TOutputStream& root, const AVPacket& pkt) {
  size_t size = 0;
  const uint8_t* stats = ff::av_packet_get_side_data(&pkt, AV_PKT_DATA_QUALITY_STATS, &size);
  if (!stats || size < 6) return;
  root.CodedQuality = int(AV_RL32(stats));
  root.CodedPictType = stats[4];
  const int errors = std::min<int>(stats[5], 4);
  root.CodedHasErrors = errors > 0 && size >= 8 + size_t(errors) * 8;
  if (!root.CodedHasErrors) return;
  for (int n = 0; n < errors; ++n) {
    root.CodedError[n] = AV_RL64(stats + 8 + 8 * n);
    root.TotalError[n] += root.CodedError[n];
  }
}
