#include "FFmpeg_Parallel.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <system_error>

#include <sched.h>

#include "FFmpeg_Private.h"

namespace {

// Pictures waiting for an instance take at most about this much memory: fourteen 720p pictures,
// which reach into three groups of twelve and keep three instances busy.
constexpr size_t QueueBudget = size_t(20) << 20;
// Sound frames waiting for their instance: several seconds (a few megabytes). Where the sound's
// one encoder is the slowest part, its queue carries it over the moments when the pictures hold
// the task up.
constexpr size_t SoundQueue = 256;
// Beyond this the decoder, not the encoders, holds the task back.
constexpr int MaxInstances = 8;
// Every instance codes its first group as one encoder that saw the stream would, and its later
// ones as one that skipped the groups between, whose rate control is still settling: on a clip of
// a few seconds that weighs more the fewer groups an instance has. At about one group each the
// stream lost up to 0.75 dB against one encoder, at two up to 3 % more bits than one encoder spent;
// from three on it was within 3 % and 0.1 dB.
constexpr int GroupsPerInstance = 3;

// How many instances share the groups of a stream that may go to several.
int GroupInstances(const TSerialEncodingNeeds& needs) {
  return needs.Groups < 0 ? needs.Threads
                          : std::min(needs.Threads, int(needs.Groups / GroupsPerInstance));
}

uint16_t* CopyMatrix(const uint16_t* matrix) {
  if (!matrix) return nullptr;
  auto* copy = static_cast<uint16_t*>(ff::av_malloc(64 * sizeof(uint16_t)));
  if (copy) std::copy(matrix, matrix + 64, copy);
  return copy;
}

// A new encoder with the settings of an opened one (its options, and the fields that are none),
// for one of `instances` that share the stream.
AVCodecContext* OpenCopy(const AVCodecContext& model, int instances) {
  AVCodecContext* copy = ff::avcodec_alloc_context3(model.codec);
  if (!copy) return nullptr;
  bool ready = ff::av_opt_copy(copy, &model) >= 0 &&
               (!model.priv_data || ff::av_opt_copy(copy->priv_data, model.priv_data) >= 0);
  copy->time_base = model.time_base;
  copy->thread_count = 1;
  if (model.codec_type == AVMEDIA_TYPE_VIDEO) {
    copy->framerate = model.framerate;
    copy->width = model.width;
    copy->height = model.height;
    copy->pix_fmt = model.pix_fmt;
    copy->sample_aspect_ratio = model.sample_aspect_ratio;
    copy->intra_matrix = CopyMatrix(model.intra_matrix);
    copy->inter_matrix = CopyMatrix(model.inter_matrix);
  } else {
    copy->sample_fmt = model.sample_fmt;
    copy->sample_rate = model.sample_rate;
    ready = ready && ff::av_channel_layout_copy(&copy->ch_layout, &model.ch_layout) >= 0;
  }
  // Rate control lets the bits stray from the target by the tolerance, leaning back the harder
  // the further they went. N instances stray at once, each over its part of the stream: each
  // keeps 1/N of the tolerance, and leans back as hard as one encoder that strayed N times as far.
  copy->bit_rate_tolerance = std::max(model.bit_rate_tolerance / instances, 1);
  if (ready) {
    const TCodecLock lock;
    ready = ff::avcodec_open2(copy, model.codec, nullptr) >= 0;
  }
  if (!ready) ff::avcodec_free_context(&copy);
  return copy;
}

// What a second of the stream costs, counted in what encoding one FLV1 pixel costs (measured at
// 360p and 720p): decoding H.264 takes 1.3 times as much a pixel, encoding MP3 about 30 times as
// much a sample of each channel. Other codecs are near enough for sharing cores.
constexpr double DecodeCost = 1.3;
constexpr double SoundCost = 30;

// What a picture holds, times the stream's pictures a second (25 where it does not say).
double PerSecond(AVRational rate, int64_t amount) {
  return double(amount) * (rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 25);
}

}  // namespace

ffmpeg_internal::TThreadSplit ffmpeg_internal::SplitCores(int cores, const TStreamRates& rates) {
  // The task's thread and the sound's keep a core each, mostly; the encoders get their share of
  // the rest, as costly as their pictures are, and the decoder the cores they leave and one
  // more, since its frame threads often wait on each other's rows (more than that was faster on
  // an idle machine but slower on a busy one, its threads waiting on preempted ones). Neither
  // side gets more threads than keep pace with the sound's one encoder: those would only take
  // cores from the other side and from the sound.
  const bool sound = rates.SoundSamples > 0;
  const int rest = std::max(cores - 1 - int(sound), 2);
  const double decoding = DecodeCost * rates.DecodedPixels;
  const double encoding = rates.EncodedPixels;
  const auto pace = [&](double work, int threads) {
    return sound ? std::min(threads, int(std::lround(work / (SoundCost * rates.SoundSamples))))
                 : threads;
  };
  const int share = int(std::lround(rest * encoding / std::max(decoding + encoding, 1.0)));
  TThreadSplit split;
  split.Instances = std::clamp(pace(encoding, share), 2, MaxInstances);
  split.DecoderThreads = std::max(pace(decoding, rest - split.Instances) + 1, 2);
  return split;
}

int ffmpeg_internal::UsableCores() {
  cpu_set_t cores;
  if (sched_getaffinity(0, sizeof(cores), &cores) == 0) return std::max(CPU_COUNT(&cores), 1);
  return std::max(int(std::thread::hardware_concurrency()), 1);
}

std::string SerialEncodingReason(const AVCodecContext& encoder, const TSerialEncodingNeeds& needs) {
  constexpr int OwnThreads =
      AV_CODEC_CAP_FRAME_THREADS | AV_CODEC_CAP_SLICE_THREADS | AV_CODEC_CAP_OTHER_THREADS;
  if (needs.Threads < 2) return "one thread";
  if (encoder.codec->capabilities & OwnThreads) return "the encoder has threads of its own";
  if ((encoder.codec->capabilities & AV_CODEC_CAP_DELAY) || encoder.max_b_frames > 0)
    return "the encoder holds pictures back";
  if (needs.TwoPass || (encoder.flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)))
    return "two-pass encoding";
  if (encoder.rc_buffer_size > 0 || encoder.rc_max_rate > 0 || encoder.rc_min_rate > 0 ||
      encoder.rc_override_count > 0)
    return "a rate limit or a VBV buffer";
  if (encoder.gop_size < 2) return "no groups of pictures";
  if (needs.ForcedKeyFrames) return "forced key frames";
  if (needs.PerFrameStatistics) return "per-picture statistics";
  if (needs.SizeLimit) return "an output size limit";
  if (needs.Groups >= 0 && needs.Groups < 2 * GroupsPerInstance) return "a short stream";
  return {};
}

// ---- The task's side ----

TSerialEncodingNeeds TCustomFFmpeg::SerialEncodingNeeds(const TOutputStream& ost, int threads) const {
  TSerialEncodingNeeds needs;
  needs.TwoPass = FSettings.DoPass != 0;
  needs.ForcedKeyFrames = !ost.ForcedKfPts.empty();
  needs.PerFrameStatistics = !FSettings.VStatsFileName.empty() || FSettings.MeThreshold != 0;
  // The size limit is checked against what the muxer has: packets still on their way to it would
  // be written past the limit.
  needs.SizeLimit = FSettings.LimitFileSize != 0;
  needs.Threads = std::min(threads, MaxInstances);
  const AVCodecContext& encoder = *ost.Encoder;
  if (encoder.gop_size <= 0) return needs;
  // A cover is its stream's only picture, however long the sound beside it. An instance would
  // hold it until its group closes at the end, after more sound than the muxer holds back.
  if (FInputStreams[ost.SourceIndex]->St->disposition & AV_DISPOSITION_ATTACHED_PIC)
    needs.Groups = 1.0 / encoder.gop_size;
  else if (TotalTime >= 0)
    needs.Groups = PerSecond(encoder.framerate, TotalTime) / AV_TIME_BASE / encoder.gop_size;
  return needs;
}

// Set-up, before the codecs open, without a thread count of the user's: the cores are shared
// between the decoders and the instances of the video streams encoded in groups, as their
// pictures and the sound cost.
void TCustomFFmpeg::PlanThreads() {
  FInstances = 2;
  if (FSettings.ThreadCount > 0) return;
  ffmpeg_internal::TStreamRates rates;
  std::vector<TInputStream*> decoders;
  for (TOutputStream* ost : FOutputStreams) {
    if (!ost->EncodingNeeded || ost->Mirror) continue;
    const AVCodecContext& encoder = *ost->Encoder;
    if (encoder.codec_type == AVMEDIA_TYPE_AUDIO && FSettings.LimitFileSize == 0)
      rates.SoundSamples += double(encoder.sample_rate) * encoder.ch_layout.nb_channels;
    if (encoder.codec_type != AVMEDIA_TYPE_VIDEO ||
        !SerialEncodingReason(encoder, SerialEncodingNeeds(*ost, 2)).empty())
      continue;
    rates.EncodedPixels += PerSecond(encoder.framerate, int64_t(encoder.width) * encoder.height);
    TInputStream* ist = FInputStreams[ost->SourceIndex].get();
    if (std::find(decoders.begin(), decoders.end(), ist) != decoders.end()) continue;
    decoders.push_back(ist);
    rates.DecodedPixels += PerSecond(ist->St->avg_frame_rate,
                                     int64_t(ist->Decoder->width) * ist->Decoder->height);
  }
  if (decoders.empty()) return;
  using namespace ffmpeg_internal;
  const TThreadSplit split = SplitCores(UsableCores(), rates);
  FInstances = split.Instances;
  for (TInputStream* ist : decoders) ist->Decoder->thread_count = split.DecoderThreads;
}

// Set-up, once the stream's encoder is open: the sound goes to a thread of its own, groups of
// pictures to several instances unless the settings need one encoder that sees the whole
// stream.
void TCustomFFmpeg::StartThreadedEncoding(TOutputStream& ost) {
  const AVCodecContext& encoder = *ost.Encoder;
  const int threads = FSettings.ThreadCount > 0 ? FSettings.ThreadCount : FInstances;
  const TSerialEncodingNeeds needs = SerialEncodingNeeds(ost, threads);
  if (encoder.codec_type == AVMEDIA_TYPE_AUDIO && threads > 1 && !needs.SizeLimit) {
    ost.Threaded.reset(new TThreadedEncoder(encoder, 1, false));
    LogFmt(llDebug, "Output stream #%d.%d: sound encoded on a thread of its own", ost.FileIndex,
           ost.Index);
  }
  if (encoder.codec_type != AVMEDIA_TYPE_VIDEO) return;
  const std::string reason = SerialEncodingReason(encoder, needs);
  if (!reason.empty()) {
    LogFmt(llDebug, "Output stream #%d.%d: one encoder for the whole stream (%s)", ost.FileIndex,
           ost.Index, reason.c_str());
    return;
  }
  ost.Threaded.reset(new TThreadedEncoder(encoder, GroupInstances(needs), true));
  LogFmt(llDebug, "Output stream #%d.%d: %d encoders on groups of %d pictures", ost.FileIndex,
         ost.Index, ost.Threaded->Instances(), encoder.gop_size);
}

void TThreadedEncoderDeleter::operator()(TThreadedEncoder* encoder) const { delete encoder; }

// ---- The instances ----

TThreadedEncoder::TThreadedEncoder(const AVCodecContext& model, int instances, bool groups)
    : FGroupSize(groups ? model.gop_size : 0),
      FBitsPerTick(groups && !(model.flags & AV_CODEC_FLAG_QSCALE)
                       ? double(model.bit_rate) * av_q2d(model.time_base)
                       : 0) {
  if (groups) {
    const int pictureBytes =
        ff::av_image_get_buffer_size(model.pix_fmt, model.width, model.height, 1);
    FMaxQueued = std::clamp(QueueBudget / size_t(std::max(pictureBytes, 1)), size_t(FGroupSize),
                            size_t(instances) * size_t(FGroupSize));
    // An instance costs several pictures of memory too: no more than the queue keeps busy. An
    // instance starts on its group's first picture, so the queue keeps busy one more instance
    // than it holds groups, and a part of a group counts.
    instances = std::min(instances, 1 + (int(FMaxQueued) + FGroupSize - 1) / FGroupSize);
  } else {
    FMaxQueued = SoundQueue;
  }
  FInstances.resize(size_t(instances));
  for (size_t n = 0; n < FInstances.size(); ++n)
    FInstances[n].WholeStream = std::max(int64_t(n), int64_t(1)) * FGroupSize;
  FWork.reset(new std::condition_variable[FInstances.size()]);
  for (TInstance& instance : FInstances) {
    instance.Encoder = OpenCopy(model, instances);
    if (instance.Encoder) continue;
    const TCodecLock lock;
    for (TInstance& opened : FInstances) ff::avcodec_free_context(&opened.Encoder);
    throw FFmpegException("Error while opening the encoders of the picture groups");
  }
  try {
    for (size_t n = 0; n < FInstances.size(); ++n)
      FInstances[n].Thread = std::thread([this, n] { Run(n); });
  } catch (const std::system_error& e) {
    Close();
    throw FFmpegException(std::string("Cannot start the encoders' threads: ") + e.what());
  }
}

TThreadedEncoder::~TThreadedEncoder() { Close(); }

void TThreadedEncoder::Close() {
  {
    const std::lock_guard<std::mutex> lock(FLock);
    FStop = true;
  }
  WakeAll();
  for (TInstance& instance : FInstances)
    if (instance.Thread.joinable()) instance.Thread.join();
  for (TGroup& group : FGroups) FreeGroup(group);
  for (TInstance& instance : FInstances) FreeFrames(instance.RunIn);
  const TCodecLock lock;
  for (TInstance& instance : FInstances) ff::avcodec_free_context(&instance.Encoder);
}

void TThreadedEncoder::FreeFrames(std::deque<TQueuedFrame>& frames) {
  for (TQueuedFrame& queued : frames) ff::av_frame_free(&queued.Frame);
  frames.clear();
}

void TThreadedEncoder::FreeGroup(TGroup& group) {
  FreeFrames(group.Frames);
  for (AVPacket*& packet : group.Packets) ff::av_packet_free(&packet);
  group.Packets.clear();
}

int TThreadedEncoder::SendFrame(const AVFrame* frame, AVRational sampleAspectRatio) {
  if (!frame) {
    {
      const std::lock_guard<std::mutex> lock(FLock);
      if (!FGroups.empty()) FGroups.back().Closed = true;
      FEnd = true;
      DropUnusedRunIns();
    }
    WakeAll();
    return 0;
  }
  WaitUntil([this] { return FQueued < FMaxQueued || FError; });
  // Only this thread counts the pictures sent.
  const int64_t group = FGroupSize > 0 ? FSent / FGroupSize : 0;
  const bool opens = FGroupSize > 0 && FSent % FGroupSize == 0;
  // The instances that run in on this group: those whose first group is still to come.
  const size_t firstRunIn = FGroupSize > 0 ? size_t(group) + 1 : FInstances.size();
  AVFrame* copy = ff::av_frame_clone(frame);
  // Every group opens with a key frame, as the instance's own count would place it.
  if (copy && opens) copy->pict_type = AV_PICTURE_TYPE_I;
  std::vector<AVFrame*> runIns;
  for (size_t n = firstRunIn; copy && n < FInstances.size(); ++n)
    runIns.push_back(ff::av_frame_clone(copy));
  const auto freeCopies = [&] {
    ff::av_frame_free(&copy);
    for (AVFrame*& runIn : runIns) ff::av_frame_free(&runIn);
  };
  if (!copy || std::count(runIns.begin(), runIns.end(), nullptr) > 0) {
    freeCopies();
    return AVERROR(ENOMEM);
  }
  size_t closed = FInstances.size();  // the instance of a group just closed, which may be idle
  size_t instance = 0;
  {
    const std::lock_guard<std::mutex> lock(FLock);
    if (FError) {
      freeCopies();
      return FError;
    }
    if (FGroups.empty() || opens) {
      if (!FGroups.empty()) {
        FGroups.back().Closed = true;
        closed = FGroups.back().Instance;
      }
      FGroups.emplace_back().Instance = size_t(group % int64_t(FInstances.size()));
    }
    FGroups.back().Frames.push_back({copy, sampleAspectRatio});
    for (size_t n = 0; n < runIns.size(); ++n)
      FInstances[firstRunIn + n].RunIn.push_back({runIns[n], sampleAspectRatio});
    instance = FGroups.back().Instance;
    ++FSent;
    // A run-in that lags keeps its pictures after the group's instance let them go.
    FQueued += 1 + runIns.size();
  }
  FWork[instance].notify_one();
  for (size_t n = 0; n < runIns.size(); ++n) FWork[firstRunIn + n].notify_one();
  if (closed != instance && closed < FInstances.size()) FWork[closed].notify_one();
  return 0;
}

int TThreadedEncoder::ReceivePacket(AVPacket* packet) {
  for (;;) {
    {
      const std::lock_guard<std::mutex> lock(FLock);
      if (FError) return FError;
      while (!FGroups.empty() && FGroups.front().Done && FGroups.front().Packets.empty())
        FGroups.pop_front();
      if (FGroups.empty()) return FEnd ? AVERROR_EOF : AVERROR(EAGAIN);
      TGroup& front = FGroups.front();
      if (!front.Packets.empty()) {
        AVPacket* next = front.Packets.front();
        front.Packets.pop_front();
        ff::av_packet_move_ref(packet, next);
        ff::av_packet_free(&next);
        return 0;
      }
      if (!FEnd) return AVERROR(EAGAIN);
    }
    WaitUntil(
        [this] { return FError || FGroups.front().Done || !FGroups.front().Packets.empty(); });
  }
}

// Instance thread.
void TThreadedEncoder::Run(size_t instance) {
  TInstance& own = FInstances[instance];
  std::unique_lock<std::mutex> lock(FLock);
  for (;;) {
    TGroup* group = nullptr;
    FWork[instance].wait(lock, [&] {
      return FStop || FError || !own.RunIn.empty() || (group = NextWork(instance));
    });
    if (FStop || FError) return;
    if (!own.RunIn.empty()) {
      RunIn(own, lock);
      continue;
    }
    std::deque<AVPacket*> packets;
    int result = 0;
    if (!group->Frames.empty()) {
      TQueuedFrame queued = group->Frames.front();
      group->Frames.pop_front();
      --FQueued;
      FProgress.notify_all();
      lock.unlock();
      result = Encode(own, &queued, packets);
      ff::av_frame_free(&queued.Frame);
      lock.lock();
    } else {
      if (FEnd && LastGroupOf(*group)) {
        lock.unlock();
        result = Encode(own, nullptr, packets);
        lock.lock();
      }
      group->Done = true;
    }
    // Groups are taken out only once done and emptied, so this one is still in place.
    group->Packets.insert(group->Packets.end(), packets.begin(), packets.end());
    if (result < 0) Fail(result);
    FProgress.notify_all();
  }
}

// Instance thread, holding the lock: one picture of the run-in, whose packets go.
void TThreadedEncoder::RunIn(TInstance& instance, std::unique_lock<std::mutex>& lock) {
  TQueuedFrame queued = instance.RunIn.front();
  instance.RunIn.pop_front();
  --FQueued;
  FProgress.notify_all();
  lock.unlock();
  std::deque<AVPacket*> packets;
  const int result = Encode(instance, &queued, packets);
  ff::av_frame_free(&queued.Frame);
  for (AVPacket*& packet : packets) ff::av_packet_free(&packet);
  lock.lock();
  if (result < 0) Fail(result);
}

// Holding the lock, at the end: an instance whose first group never came needs no run-in.
void TThreadedEncoder::DropUnusedRunIns() {
  for (size_t n = 1; n < FInstances.size(); ++n) {
    if (FSent > int64_t(n) * FGroupSize) continue;
    FQueued -= FInstances[n].RunIn.size();
    FreeFrames(FInstances[n].RunIn);
  }
}

// Holding the lock: the oldest group of the instance with a picture to encode, or closed and
// waiting to be marked done.
TThreadedEncoder::TGroup* TThreadedEncoder::NextWork(size_t instance) {
  for (TGroup& group : FGroups)
    if (group.Instance == instance && !group.Done && (!group.Frames.empty() || group.Closed))
      return &group;
  return nullptr;
}

bool TThreadedEncoder::LastGroupOf(const TGroup& group) const {
  const auto later = std::find_if(FGroups.begin(), FGroups.end(),
                                  [&group](const TGroup& other) { return &other == &group; });
  return std::none_of(later + 1, FGroups.end(),
                      [&group](const TGroup& other) { return other.Instance == group.Instance; });
}

// Instance thread, without the lock. One frame (or the end) through the instance, a group's
// picture on the instance's own time line; the packets that come out go to the back of the list.
int TThreadedEncoder::Encode(TInstance& instance, const TQueuedFrame* queued,
                             std::deque<AVPacket*>& packets) const {
  AVCodecContext* encoder = instance.Encoder;
  if (queued && FGroupSize > 0) {
    encoder->sample_aspect_ratio = queued->SampleAspectRatio;
    const int64_t time = OwnTime(instance);
    instance.Shift = queued->Frame->pts - time;
    queued->Frame->pts = time;
  }
  int result = ff::avcodec_send_frame(encoder, queued ? queued->Frame : nullptr);
  while (result >= 0) {
    AVPacket* packet = ff::av_packet_alloc();
    if (!packet) return AVERROR(ENOMEM);
    result = ff::avcodec_receive_packet(encoder, packet);
    if (result < 0) {
      ff::av_packet_free(&packet);
      break;
    }
    // An instance of a group holds no picture back: what comes out is the picture just sent.
    packet->pts += instance.Shift;
    if (packet->dts != AV_NOPTS_VALUE) packet->dts += instance.Shift;
    instance.Bits += int64_t(packet->size) * 8;
    packets.push_back(packet);
  }
  return result == AVERROR(EAGAIN) || result == AVERROR_EOF ? 0 : result;
}

// Instance thread: the time of the instance's next picture. Rate control wants spent what the
// time so far is worth, and leans back by how far it went past that. While the instance's
// pictures are all the stream's so far, what it overspent is the stream's, of which each of the N
// instances is to pay back 1/N: its time runs ahead, never back, by the rest.
int64_t TThreadedEncoder::OwnTime(TInstance& instance) const {
  if (instance.Pictures < instance.WholeStream && FBitsPerTick > 0) {
    const double instances = double(FInstances.size());
    const double over = double(instance.Bits) - FBitsPerTick * double(instance.Pictures);
    instance.Lead = std::max(
        instance.Lead, int64_t(std::llround(over * (instances - 1) / instances / FBitsPerTick)));
  }
  return instance.Pictures++ + instance.Lead;
}

// Holding the lock.
void TThreadedEncoder::Fail(int error) {
  if (!FError) FError = error;
  WakeAll();
  FProgress.notify_all();
}

void TThreadedEncoder::WakeAll() {
  for (size_t n = 0; n < FInstances.size(); ++n) FWork[n].notify_all();
}

// Task thread, without the lock; the condition is asked holding it.
void TThreadedEncoder::WaitUntil(const std::function<bool()>& condition) {
  WaitServingMainThread([&](int milliseconds) {
    std::unique_lock<std::mutex> lock(FLock);
    return FProgress.wait_for(lock, std::chrono::milliseconds(milliseconds), condition);
  });
}
