// Turns a wait that never ends into a failed test: a test whose own thread may be the one
// stuck cannot time the wait itself, so a watcher thread ends the process once the time is up.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

class THangGuard {
 public:
  THangGuard(std::string what, int seconds) : FWhat(std::move(what)) {
    FWatcher = std::thread([this, seconds] {
      std::unique_lock<std::mutex> lock(FLock);
      if (FChanged.wait_for(lock, std::chrono::seconds(seconds), [this] { return FDone; })) return;
      std::fprintf(stderr, "hung: %s did not end within %d s\n", FWhat.c_str(), seconds);
      std::abort();
    });
  }
  ~THangGuard() {
    {
      const std::lock_guard<std::mutex> lock(FLock);
      FDone = true;
    }
    FChanged.notify_all();
    FWatcher.join();
  }
  THangGuard(const THangGuard&) = delete;
  THangGuard& operator=(const THangGuard&) = delete;

 private:
  std::string FWhat;
  std::mutex FLock;
  std::condition_variable FChanged;
  bool FDone = false;
  std::thread FWatcher;
};
