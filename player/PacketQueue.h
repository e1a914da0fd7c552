// A queue of demultiplexed packets between the read thread and one decoding side (the video
// thread, the audio callback). A flush marker, queued after every seek, tells the consumer to
// flush its decoder before the packets that follow.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "FFEntryPoints.h"

// What a flush marker tells its consumer: which seek queued it and where that seek goes.
struct TFlushMark {
  int64_t Seek = -1;                // the seek's number; -1 for the marker of the opening
  int64_t Target = AV_NOPTS_VALUE;  // µs with the input's start; none for a byte seek
};

class TPacketQueue {
 public:
  // What Get found.
  enum TResult { grAborted = -1, grEmpty = 0, grPacket = 1, grFlush = 2 };

  TPacketQueue() = default;
  ~TPacketQueue();
  TPacketQueue(const TPacketQueue&) = delete;
  TPacketQueue& operator=(const TPacketQueue&) = delete;

  // Read thread. Queues a new reference to the packet's data (an empty packet stays empty);
  // false without memory.
  bool Put(const AVPacket* packet);
  void PutFlush(const TFlushMark& mark = {});
  // Frees every queued packet.
  void Flush();
  // Wakes the consumer and makes every later Get return grAborted.
  void Abort();
  bool Aborted() const;
  // Consumer. Moves the oldest packet into `packet` (grPacket), or reports the flush marker
  // and gives its mark; with `block` it waits for an entry.
  TResult Get(AVPacket* packet, bool block, TFlushMark* mark = nullptr);

  // Each packet counts its data plus the bookkeeping of one entry, as memory in use.
  int64_t ByteSize() const;
  int PacketCount() const;
  // A flush marker waits in the queue: a seek has not reached the consumer yet.
  bool FlushPending() const;

  static constexpr int EntrySize = 80;

 private:
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  struct TEntry {
    AVPacket* Packet;  // nullptr for the flush marker
    TFlushMark Mark;
  };
  std::deque<TEntry> FPackets;
  int64_t FByteSize = 0;
  bool FAbort = false;
};
