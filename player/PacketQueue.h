// A queue of demultiplexed packets between the read thread and one decoding side (the video
// thread, the audio callback). A flush marker, queued after every seek, tells the consumer to
// flush its decoder before the packets that follow.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "FFEntryPoints.h"

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
  void PutFlush();
  // Frees every queued packet.
  void Flush();
  // Wakes the consumer and makes every later Get return grAborted.
  void Abort();
  bool Aborted() const;
  // Consumer. Moves the oldest packet into `packet` (grPacket), or reports the flush marker;
  // with `block` it waits for an entry.
  TResult Get(AVPacket* packet, bool block);

  // Each packet counts its data plus the bookkeeping of one entry, as memory in use.
  int64_t ByteSize() const;
  int PacketCount() const;
  // A flush marker waits in the queue: a seek has not reached the consumer yet.
  bool FlushPending() const;

  static constexpr int EntrySize = 80;

 private:
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<AVPacket*> FPackets;  // nullptr is the flush marker
  int64_t FByteSize = 0;
  bool FAbort = false;
};
