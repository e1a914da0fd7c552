#include "PostCall.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace {

void ServeUntil(const std::function<bool()>& Done) {
  const QDeadlineTimer deadline(30000);
  while (!Done() && !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Calls from two workers run on the GUI thread, each worker's in the order posted; a call
// whose context is gone by then does not run.
TEST(PostCall, RunsOnTheGuiThreadInOrderAndSkipsGoneContexts) {
  QObject context;
  auto gone = std::make_unique<QObject>();
  std::vector<int> first, second;
  bool goneRan = false, offThread = false;
  const auto post = [&](std::vector<int>& Into, int Base) {
    for (int i = 0; i < 100; ++i)
      PostCall(&context, [&, i, Base] {
        offThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
        Into.push_back(Base + i);
      });
  };
  PostCall(gone.get(), [&] { goneRan = true; });
  gone.reset();
  std::thread a(post, std::ref(first), 0), b(post, std::ref(second), 1000);
  a.join();
  b.join();
  ServeUntil([&] { return first.size() == 100 && second.size() == 100; });
  ASSERT_EQ(first.size(), 100u);
  ASSERT_EQ(second.size(), 100u);
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(first[i], i);
    EXPECT_EQ(second[i], 1000 + i);
  }
  EXPECT_FALSE(goneRan);
  EXPECT_FALSE(offThread);
}

}  // namespace
