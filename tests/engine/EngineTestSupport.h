// Shared by the engine's tests: loading the libraries and recording the engine log.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FFLoad.h"
#include "FFLog.h"

// Loads FFmpeg's libraries from the build's LibAV folder; a fatal test failure when they fail.
inline void LoadEngineLibraries() {
  FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
  ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
}

struct TLoggedLine {
  const void* Sender;
  TLogLevel Level;
  std::string Text;
};

// Records the engine log while it lives; lines are delivered on the logging thread.
class TLogRecorder {
 public:
  explicit TLogRecorder(TLogLevel level = llDebug) {
    FFLogger().TriggerEventInMainThread = false;
    FFLogger().SetLogLevel(level);
    FFLogger().OnLog = [this](const void* sender, std::thread::id, TLogLevel level,
                              const std::string& text) {
      const std::lock_guard<std::mutex> lock(FLock);
      FLines.push_back({sender, level, text});
    };
  }
  ~TLogRecorder() {
    FFLogger().OnLog = nullptr;
    FFLogger().SetLogLevel(llInfo);
    FFLogger().TriggerEventInMainThread = true;
  }
  TLogRecorder(const TLogRecorder&) = delete;
  TLogRecorder& operator=(const TLogRecorder&) = delete;

  bool Has(const std::string& text, TLogLevel level, const void* sender = nullptr) {
    const std::lock_guard<std::mutex> lock(FLock);
    return std::any_of(FLines.begin(), FLines.end(), [&](const TLoggedLine& line) {
      return line.Text == text && line.Level == level && (!sender || line.Sender == sender);
    });
  }
  bool HasText(const std::string& text) {
    const std::lock_guard<std::mutex> lock(FLock);
    return std::any_of(FLines.begin(), FLines.end(),
                       [&](const TLoggedLine& line) { return line.Text == text; });
  }
  // The texts logged at the level, in order.
  std::vector<std::string> Texts(TLogLevel level) {
    const std::lock_guard<std::mutex> lock(FLock);
    std::vector<std::string> texts;
    for (const TLoggedLine& line : FLines)
      if (line.Level == level) texts.push_back(line.Text);
    return texts;
  }
  // FFmpeg's lines start with their context ("[name @ address]"): matched by their end.
  int CountEndingWith(TLogLevel level, const std::string& suffix) {
    const std::lock_guard<std::mutex> lock(FLock);
    return int(std::count_if(FLines.begin(), FLines.end(), [&](const TLoggedLine& line) {
      return line.Level == level && line.Text.size() >= suffix.size() &&
             line.Text.compare(line.Text.size() - suffix.size(), suffix.size(), suffix) == 0;
    }));
  }
  int CountStartingWith(const std::string& prefix) {
    const std::lock_guard<std::mutex> lock(FLock);
    return int(std::count_if(FLines.begin(), FLines.end(), [&](const TLoggedLine& line) {
      return line.Text.rfind(prefix, 0) == 0;
    }));
  }

 private:
  std::mutex FLock;
  std::vector<TLoggedLine> FLines;
};
