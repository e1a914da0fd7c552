// Shared by the transcoder task's tests: a base that loads the libraries and a task that shows
// its option state.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "EngineTestSupport.h"
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
  TOutputStream& OutputStream(int file, int stream) {
    return *FOutputFiles.at(file)->Streams.at(stream);
  }
  std::string PendingMuxerOption(const std::string& key) {
    return GetMetadataValue(FPending.MuxerOptions.Value, key, "");
  }
};

class FFmpegTestBase : public ::testing::Test {
 protected:
  void SetUp() override { LoadEngineLibraries(); }
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
