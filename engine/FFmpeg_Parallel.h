// Encoding on threads beside the task's. An encoder without threads of its own (FLV1 and its
// mpegvideo relatives, MP3) holds the task's thread while the decoder and everything else wait
// for it. The sound goes to one instance on its own thread, in order. A video stream split into
// groups of pictures, each starting with a key frame, is encoded by several instances at once
// and joined again, group after group, into what one encoder writes.
//
// Group j always goes to instance j mod N, so every instance sees the same pictures in the same
// order on every run: the packets, and the file, are the same whatever the threads' timing.
// Each instance keeps its own rate control over the groups it encodes. Rate control learns what
// pictures cost from the ones it codes, and a cold one spends several times the budget on its
// first group and takes several groups more to settle: every instance but the first runs in on
// the groups before its first one and drops what they give, so its first group is coded as one
// encoder that saw the stream codes it. What the stream overspent so far then stands in each
// instance's rate control at 1/N, and the N pay it back together as one encoder does.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FFEntryPoints.h"

// Why a video encoder must see the whole stream itself, or an empty text when its groups of
// pictures can go to several instances. Threads is how many instances the task may run.
struct TSerialEncodingNeeds {
  bool TwoPass = false;
  bool ForcedKeyFrames = false;
  bool PerFrameStatistics = false;  // vstats, motion estimation from the input's picture types
  bool SizeLimit = false;
  int Threads = 1;
  double Groups = -1;  // the stream's groups of pictures, when its length is known
};
std::string SerialEncodingReason(const AVCodecContext& encoder, const TSerialEncodingNeeds& needs);

// The instances and their threads, driven from the task thread with the calls of libavcodec's
// send/receive API.
class TThreadedEncoder {
 public:
  // Opens `instances` copies of the opened encoder model (its settings, not its state), each
  // taking groups of model.gop_size pictures, or (groups false) one copy taking the whole
  // stream. Throws FFmpegException when one cannot be opened.
  TThreadedEncoder(const AVCodecContext& model, int instances, bool groups);
  // Stops the threads (what is still queued is dropped) and closes the instances.
  ~TThreadedEncoder();
  TThreadedEncoder(const TThreadedEncoder&) = delete;
  TThreadedEncoder& operator=(const TThreadedEncoder&) = delete;

  // Task thread, as avcodec_send_frame: queues a reference to the frame (nullptr: the end); a
  // picture is encoded with the sample aspect ratio given. Waits while as many frames as the
  // memory budget allows are queued. 0, or an instance's error.
  int SendFrame(const AVFrame* frame, AVRational sampleAspectRatio);
  // Task thread, as avcodec_receive_packet: the next packet in stream order. AVERROR(EAGAIN)
  // while its group is still being encoded (after the end it waits instead), AVERROR_EOF after
  // the last one, or an instance's error.
  int ReceivePacket(AVPacket* packet);

  int Instances() const { return int(FInstances.size()); }

 private:
  struct TQueuedFrame {
    AVFrame* Frame;
    AVRational SampleAspectRatio;
  };
  struct TGroup {
    size_t Instance = 0;
    std::deque<TQueuedFrame> Frames;
    std::deque<AVPacket*> Packets;
    bool Closed = false;  // no more pictures will come
    bool Done = false;    // every packet is in
  };
  struct TInstance {
    AVCodecContext* Encoder = nullptr;
    std::thread Thread;
    std::deque<TQueuedFrame> RunIn;  // coded before the first group, their packets dropped
    // Rate control wants the bits of the stream's time so far: an instance that sees a part of
    // the pictures counts its own time, and its packets are moved back onto the stream's. While
    // its pictures are all the stream's so far (its run-in, or the first group of the first
    // instance), its time runs Lead pictures ahead, which grants it all but 1/N of what it
    // overspent.
    int64_t WholeStream = 0;  // that many pictures
    int64_t Pictures = 0;     // coded so far, the run-in's included
    int64_t Lead = 0;
    int64_t Bits = 0;  // spent so far, the run-in's included
    int64_t Shift = 0;
  };

  // Stops the threads that run and closes the instances.
  void Close();
  void Run(size_t instance);
  void RunIn(TInstance& instance, std::unique_lock<std::mutex>& lock);
  void DropUnusedRunIns();
  TGroup* NextWork(size_t instance);
  bool LastGroupOf(const TGroup& group) const;
  int Encode(TInstance& instance, const TQueuedFrame* frame, std::deque<AVPacket*>& packets) const;
  int64_t OwnTime(TInstance& instance) const;
  void Fail(int error);
  void WakeAll();
  void WaitUntil(const std::function<bool()>& condition);
  static void FreeFrames(std::deque<TQueuedFrame>& frames);
  static void FreeGroup(TGroup& group);

  const int FGroupSize;  // 0: the whole stream, on one instance
  // What rate control wants spent a tick of the time base, or 0 without rate control.
  const double FBitsPerTick;
  size_t FMaxQueued = 0;
  std::vector<TInstance> FInstances;

  std::mutex FLock;
  // One per instance, which waits for its frames there: waking them all for every frame
  // costs more processor time than small pictures take to encode.
  std::unique_ptr<std::condition_variable[]> FWork;
  std::condition_variable FProgress;  // the task thread waits for room or packets
  std::deque<TGroup> FGroups;         // from the oldest not yet received
  int64_t FSent = 0;                  // pictures queued so far
  size_t FQueued = 0;                 // copies of pictures no instance took yet
  bool FEnd = false;
  bool FStop = false;
  int FError = 0;
};
