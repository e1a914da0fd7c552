#include "PlayerEvents.h"

void TPlayerEventRing::Push(const TPlayerEvent& event) {
  const std::lock_guard<std::mutex> lock(FLock);
  const int newest = (FWrite + Capacity - 1) % Capacity;
  if (FRead != FWrite && event.Kind == TPlayerEvent::ekPosition &&
      FEntries[newest].Kind == TPlayerEvent::ekPosition) {
    FEntries[newest] = event;
  } else {
    FEntries[FWrite] = event;
    FWrite = (FWrite + 1) % Capacity;
    if (FWrite == FRead) FRead = (FRead + 1) % Capacity;
  }
  Ready.Set();
}

TPlayerEvent TPlayerEventRing::Pop() {
  const std::lock_guard<std::mutex> lock(FLock);
  TPlayerEvent event;
  if (FRead != FWrite) {
    event = FEntries[FRead];
    FRead = (FRead + 1) % Capacity;
  }
  if (FRead == FWrite) Ready.Reset();
  return event;
}

void TPlayerEventRing::Clear() {
  const std::lock_guard<std::mutex> lock(FLock);
  FRead = FWrite = 0;
  Ready.Reset();
}

int TPlayerEventRing::Count() const {
  const std::lock_guard<std::mutex> lock(FLock);
  return (FWrite - FRead + Capacity) % Capacity;
}
