// Running a call on the GUI thread from any thread.
#pragma once

#include <QObject>

#include <deque>
#include <functional>
#include <mutex>
#include <QPointer>

// Any thread. Queues Call to run on the GUI thread, in the order posted, unless Context has been
// destroyed by then. The call travels through a queue under a std::mutex instead of inside a Qt
// event, so that ThreadSanitizer sees the hand-over: Qt's own locks wait on futexes it cannot
// follow unless Qt itself is built with it.
void PostCall(QObject* Context, std::function<void()> Call);

// The calls posted to the thread the queue lives on, run there in the order posted, each unless
// its context has been destroyed by then. Qt wakes the queue by the method's name, so no object
// of ours is made on one thread and read or freed on another.
class TCallQueue : public QObject {
  Q_OBJECT

 public:
  // Any thread.
  void Post(QObject* Context, std::function<void()> Call);
  // The queue's thread: runs every call posted so far.
  Q_INVOKABLE void RunPosted();

 private:
  std::mutex FLock;
  std::deque<std::pair<QPointer<QObject>, std::function<void()>>> FCalls;
};
