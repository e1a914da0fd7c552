#include "PacketQueue.h"

#include <algorithm>

namespace {
int64_t EntryBytes(const AVPacket* packet) {
  return (packet ? packet->size : 0) + TPacketQueue::EntrySize;
}
}  // namespace

TPacketQueue::~TPacketQueue() { Flush(); }

bool TPacketQueue::Put(const AVPacket* packet) {
  // An empty packet (the end packet) stays empty: a reference would give it a data buffer.
  AVPacket* copy = packet->data ? ff::av_packet_clone(packet) : ff::av_packet_alloc();
  if (!copy) return false;
  copy->stream_index = packet->stream_index;
  {
    const std::lock_guard<std::mutex> lock(FLock);
    FPackets.push_back({copy, {}});
    FByteSize += EntryBytes(copy);
  }
  FChanged.notify_one();
  return true;
}

void TPacketQueue::PutFlush(const TFlushMark& mark) {
  {
    const std::lock_guard<std::mutex> lock(FLock);
    FPackets.push_back({nullptr, mark});
    FByteSize += EntryBytes(nullptr);
  }
  FChanged.notify_one();
}

void TPacketQueue::Flush() {
  std::deque<TEntry> packets;
  {
    const std::lock_guard<std::mutex> lock(FLock);
    packets.swap(FPackets);
    FByteSize = 0;
  }
  for (TEntry& entry : packets)
    if (entry.Packet) ff::av_packet_free(&entry.Packet);
}

void TPacketQueue::Abort() {
  {
    const std::lock_guard<std::mutex> lock(FLock);
    FAbort = true;
  }
  FChanged.notify_all();
}

bool TPacketQueue::Aborted() const {
  const std::lock_guard<std::mutex> lock(FLock);
  return FAbort;
}

TPacketQueue::TResult TPacketQueue::Get(AVPacket* packet, bool block, TFlushMark* mark) {
  std::unique_lock<std::mutex> lock(FLock);
  for (;;) {
    if (FAbort) return grAborted;
    if (!FPackets.empty()) {
      TEntry entry = FPackets.front();
      FPackets.pop_front();
      FByteSize -= EntryBytes(entry.Packet);
      lock.unlock();
      if (!entry.Packet) {
        if (mark) *mark = entry.Mark;
        return grFlush;
      }
      ff::av_packet_move_ref(packet, entry.Packet);
      ff::av_packet_free(&entry.Packet);
      return grPacket;
    }
    if (!block) return grEmpty;
    FChanged.wait(lock);
  }
}

int64_t TPacketQueue::ByteSize() const {
  const std::lock_guard<std::mutex> lock(FLock);
  return FByteSize;
}

int TPacketQueue::PacketCount() const {
  const std::lock_guard<std::mutex> lock(FLock);
  return int(FPackets.size());
}

bool TPacketQueue::FlushPending() const {
  const std::lock_guard<std::mutex> lock(FLock);
  return std::any_of(FPackets.begin(), FPackets.end(),
                     [](const TEntry& entry) { return !entry.Packet; });
}
