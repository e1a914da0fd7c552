// The small ring of pending position and state reports between the player's threads and the
// thread that raises the player's events.
#pragma once

#include <cstdint>
#include <mutex>

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
