#include <gtest/gtest.h>

#include <thread>

#include "PacketQueue.h"
#include "PlayerTestSupport.h"

namespace {

class PacketQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TFFPlayer loader;
    playertest::LoadPlayer(loader);
  }

  // A packet of `size` bytes whose first byte is `tag`.
  static AVPacket* MakePacket(int size, uint8_t tag) {
    AVPacket* packet = ff::av_packet_alloc();
    EXPECT_EQ(ff::av_new_packet(packet, size), 0);
    packet->data[0] = tag;
    return packet;
  }
};

TEST_F(PacketQueueTest, PacketsComeOutInOrderWithTheFlushMarkerBetween) {
  TPacketQueue queue;
  AVPacket* first = MakePacket(100, 1);
  AVPacket* second = MakePacket(50, 2);
  ASSERT_TRUE(queue.Put(first));
  queue.PutFlush();
  ASSERT_TRUE(queue.Put(second));
  // The queue holds its own reference: the producer's packets may go.
  ff::av_packet_free(&first);
  ff::av_packet_free(&second);
  EXPECT_EQ(queue.PacketCount(), 3);
  EXPECT_EQ(queue.ByteSize(), 100 + 50 + 3 * TPacketQueue::EntrySize);

  AVPacket* out = ff::av_packet_alloc();
  EXPECT_TRUE(queue.FlushPending());
  ASSERT_EQ(queue.Get(out, false), TPacketQueue::grPacket);
  EXPECT_EQ(out->size, 100);
  EXPECT_EQ(out->data[0], 1);
  ff::av_packet_unref(out);
  EXPECT_TRUE(queue.FlushPending());
  EXPECT_EQ(queue.Get(out, false), TPacketQueue::grFlush);
  EXPECT_FALSE(queue.FlushPending());
  ASSERT_EQ(queue.Get(out, false), TPacketQueue::grPacket);
  EXPECT_EQ(out->data[0], 2);
  ff::av_packet_unref(out);
  EXPECT_EQ(queue.Get(out, false), TPacketQueue::grEmpty);
  EXPECT_EQ(queue.ByteSize(), 0);
  ff::av_packet_free(&out);
}

TEST_F(PacketQueueTest, EmptyEndPacketCountsAsAnEntry) {
  TPacketQueue queue;
  AVPacket* empty = ff::av_packet_alloc();
  ASSERT_TRUE(queue.Put(empty));
  EXPECT_EQ(queue.ByteSize(), TPacketQueue::EntrySize);
  AVPacket* out = ff::av_packet_alloc();
  ASSERT_EQ(queue.Get(out, false), TPacketQueue::grPacket);
  EXPECT_EQ(out->size, 0);
  EXPECT_EQ(out->data, nullptr);
  ff::av_packet_free(&out);
  ff::av_packet_free(&empty);
}

TEST_F(PacketQueueTest, AbortWakesABlockedConsumer) {
  TPacketQueue queue;
  TPacketQueue::TResult result = TPacketQueue::grEmpty;
  std::thread consumer([&] {
    AVPacket* out = ff::av_packet_alloc();
    result = queue.Get(out, true);
    ff::av_packet_free(&out);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  queue.Abort();
  consumer.join();
  EXPECT_EQ(result, TPacketQueue::grAborted);
  EXPECT_TRUE(queue.Aborted());
}

TEST_F(PacketQueueTest, FlushFreesEverything) {
  TPacketQueue queue;
  for (int n = 0; n < 5; ++n) {
    AVPacket* packet = MakePacket(1000, uint8_t(n));
    queue.Put(packet);
    ff::av_packet_free(&packet);
  }
  queue.Flush();
  EXPECT_EQ(queue.PacketCount(), 0);
  EXPECT_EQ(queue.ByteSize(), 0);
}

}  // namespace
