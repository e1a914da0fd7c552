// The small ring of pending position and state reports between the player's threads and the
// thread that raises the player's events.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "FFBaseComponent.h"

struct TPlayerEvent {
  enum TKind { ekNone, ekPosition, ekState, ekQuit };
  TKind Kind = ekNone;
  int64_t Value = 0;  // the position in µs, or the state
};

// Ten slots, at most nine pending. A new position replaces a pending position that is the
// newest entry, so a slow listener gets the latest position rather than a backlog; states are
// never merged, so none is lost to a position or to another state. When the ring is full the
// oldest entry gives way.
class TPlayerEventRing {
 public:
  static constexpr int Capacity = 10;

  // Any thread.
  void Push(const TPlayerEvent& event);
  // The event thread. Kind ekNone when the ring is empty.
  TPlayerEvent Pop();
  void Clear();
  int Count() const;
  // Set while entries are pending.
  TManualResetEvent Ready{false};

 private:
  mutable std::mutex FLock;
  TPlayerEvent FEntries[Capacity];
  int FRead = 0;
  int FWrite = 0;
};

// One event thread and the reports of the play it raises. Each Open starts a thread of its
// own: one left running inside its handler (where Open or Stop was called) raises the rest of
// its play's reports, down to the stop, while the next play's thread waits for it before
// raising any, so a program sees the reports of its plays in order and each stop once.
struct TEventChannel {
  TPlayerEventRing Events;
  std::thread Thread;
  // The channel of the thread before, until this thread has joined it.
  std::shared_ptr<TEventChannel> Predecessor;
  // Nothing is raised before the play has started, when Open has stored every thread's handle.
  TManualResetEvent Started{false};
  TManualResetEvent Ended{false};
  // Ends the thread without waiting for its play's stop.
  std::atomic<bool> Terminated{false};
  // Shared by all the threads of a player: set when the player is destroyed inside one of its
  // handlers, after which none of them touches it.
  std::shared_ptr<std::atomic<bool>> PlayerGone;
};
