// Shared by the transcoder task's tests: library loading, a log recorder and a task that shows
// its option state.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FFLoad.h"
#include "FFLog.h"
#include "FFmpeg.h"

// A task whose pending and task-wide settings the tests can read.
class TProbeTask : public TCustomFFmpeg {
 public:
  explicit TProbeTask(int maxFiles = 20) : TCustomFFmpeg(maxFiles) {}
  using TCustomFFmpeg::FChapterMaps;
  using TCustomFFmpeg::FMetadataMaps;
  using TCustomFFmpeg::FOptionContexts;
  using TCustomFFmpeg::FOutputFiles;
  using TCustomFFmpeg::FPending;
  using TCustomFFmpeg::FSettings;
  using TCustomFFmpeg::FStreamMaps;
  using TCustomFFmpeg::ParseForcedKeyFrames;

  AVCodecContext* VideoOptions() { return FOptionContexts.CodecContexts[AVMEDIA_TYPE_VIDEO]; }
  AVCodecContext* AudioOptions() { return FOptionContexts.CodecContexts[AVMEDIA_TYPE_AUDIO]; }
  TOutputStream& OutputStream(int file, int stream) { return *FOutputFiles.at(file)->Streams.at(stream); }
  std::string PendingMuxerOption(const std::string& key) {
    return GetMetadataValue(FPending.MuxerOptions.Value, key, "");
  }
};

struct TLoggedLine {
  const void* Sender;
  TLogLevel Level;
  std::string Text;
};

// Records the engine log while it lives; lines are delivered on the logging thread.
class TLogRecorder {
 public:
  TLogRecorder() {
    FFLogger().TriggerEventInMainThread = false;
    FFLogger().SetLogLevel(llDebug);
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

class FFmpegTestBase : public ::testing::Test {
 protected:
  void SetUp() override {
    FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
    ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
  }
};

// The message of what the call throws, or "" when it throws nothing.
template <typename Call>
std::string ErrorOf(Call&& call) {
  try {
    call();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}
