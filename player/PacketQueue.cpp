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
    FPackets.push_back(copy);
    FByteSize += EntryBytes(copy);
  }
  FChanged.notify_one();
  return true;
}

void TPacketQueue::PutFlush() {
  {
    const std::lock_guard<std::mutex> lock(FLock);
    FPackets.push_back(nullptr);
    FByteSize += EntryBytes(nullptr);
  }
  FChanged.notify_one();
}

void TPacketQueue::Flush() {
  std::deque<AVPacket*> packets;
  {
    const std::lock_guard<std::mutex> lock(FLock);
    packets.swap(FPackets);
    FByteSize = 0;
  }
  for (AVPacket* packet : packets)
    if (packet) ff::av_packet_free(&packet);
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

TPacketQueue::TResult TPacketQueue::Get(AVPacket* packet, bool block) {
  std::unique_lock<std::mutex> lock(FLock);
  for (;;) {
    if (FAbort) return grAborted;
    if (!FPackets.empty()) {
      AVPacket* entry = FPackets.front();
      FPackets.pop_front();
      FByteSize -= EntryBytes(entry);
      lock.unlock();
      if (!entry) return grFlush;
      ff::av_packet_move_ref(packet, entry);
      ff::av_packet_free(&entry);
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
  return std::find(FPackets.begin(), FPackets.end(), nullptr) != FPackets.end();
}
