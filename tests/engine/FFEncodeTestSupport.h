// Shared by the encoder's tests: a fixture that loads the libraries and makes the test thread
// the main thread, and recorders of the encoder's events.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FFEncode.h"
#include "FFmpegTestSupport.h"
#include "MediaFixtures.h"

class EncoderTestBase : public FFmpegTestBase {
 protected:
  void SetUp() override {
    FFmpegTestBase::SetUp();
    SetMainThread();
    Folder = fixtures::TempDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  static std::string Input(fixtures::Media media = fixtures::Media::Mp4H264Aac) {
    return fixtures::Path(media);
  }

  std::string Folder;
};

// Serves the main thread's dispatch until the condition holds; false when time runs out.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 120000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    CheckSynchronize(10);
  }
  return true;
}

struct TNotice {
  TTerminateInfo Info;
  bool OnMainThread = false;
};

// Records the end notices of an encoder.
class TNoticeRecorder {
 public:
  explicit TNoticeRecorder(TFFEncoder& encoder) {
    encoder.OnTerminate = [this](void*, const TTerminateInfo& info) {
      const std::lock_guard<std::mutex> lock(FLock);
      FNotices.push_back({info, IsMainThread()});
    };
  }
  std::vector<TNotice> Notices() {
    const std::lock_guard<std::mutex> lock(FLock);
    return FNotices;
  }
  std::vector<int> Indexes() {
    std::vector<int> indexes;
    for (const TNotice& notice : Notices()) indexes.push_back(notice.Info.TaskIndex);
    return indexes;
  }
  bool Empty() { return Notices().empty(); }
  bool AllEnded() {
    const std::lock_guard<std::mutex> lock(FLock);
    return !FNotices.empty() && FNotices.back().Info.TaskIndex == -1;
  }
  bool WaitForAllEnded() {
    return PumpUntil([this] { return AllEnded(); });
  }

 private:
  std::mutex FLock;
  std::vector<TNotice> FNotices;
};
