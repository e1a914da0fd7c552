#include "PostCall.h"

#include <utility>

namespace {

TCallQueue& CallQueue() {
  static TCallQueue* queue = new TCallQueue;
  return *queue;
}

// Made while the program starts, on its main thread, which runs the GUI: the queue then lives on
// that thread, and no other thread ever writes the object itself.
const bool QueueMade = (CallQueue(), true);

}  // namespace

void PostCall(QObject* Context, std::function<void()> Call) {
  CallQueue().Post(Context, std::move(Call));
}

// The wake-up is posted under the lock too: the queue's thread takes the lock after it, so
// whatever this thread read of the queue comes before the queue's end, which its own thread
// brings about.
void TCallQueue::Post(QObject* Context, std::function<void()> Call) {
  const std::lock_guard<std::mutex> lock(FLock);
  FCalls.emplace_back(QPointer<QObject>(Context), std::move(Call));
  QMetaObject::invokeMethod(this, "RunPosted", Qt::QueuedConnection);
}

void TCallQueue::RunPosted() {
  for (;;) {
    std::pair<QPointer<QObject>, std::function<void()>> next;
    {
      const std::lock_guard<std::mutex> lock(FLock);
      if (FCalls.empty()) return;
      next = std::move(FCalls.front());
      FCalls.pop_front();
    }
    if (next.first) next.second();
  }
}
