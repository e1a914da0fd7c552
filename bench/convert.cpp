// Runs one conversion through the encoder component, filled the way the application fills it:
//   fennick_convert INPUT OUTPUT [FIELD VALUE]...
// FIELD is one of the output record's fields the application sets (VideoCodec, AudioCodec,
// VideoBitrate, AudioBitrate, AudioSampleRate, AudioChannels, FrameRate, FrameSize,
// VideoFilters); the others keep the application's values. Exit status 0 when the task ran to
// its end without an error.
#include <atomic>
#include <cstdio>
#include <exception>
#include <string>

#include "FFBaseComponent.h"
#include "FFEncode.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: fennick_convert INPUT OUTPUT [FIELD VALUE]...\n");
  return 2;
}

// The fixed part of the application's output record.
TOutputOptions ApplicationOutput() {
  TOutputOptions out;
  InitOutputOptions(out);
  out.FileExt = ".flv";
  out.VideoCodec = "flv";
  out.AudioCodec = "libmp3lame";
  out.VideoBitrate = 512000;
  out.AudioBitrate = 96000;
  out.AudioSampleRate = 44100;
  out.AudioChannels = 2;
  out.AudioVolume = 256;
  out.DisableSubtitle = 1;
  out.Metadata.Timestamp = 0.0;
  return out;
}

bool SetField(TOutputOptions& out, const std::string& name, const std::string& value) {
  if (name == "VideoCodec")
    out.VideoCodec = value;
  else if (name == "AudioCodec")
    out.AudioCodec = value;
  else if (name == "FrameRate")
    out.FrameRate = value;
  else if (name == "FrameSize")
    out.FrameSize = value;
  else if (name == "VideoFilters")
    out.VideoFilters = value;
  else if (name == "VideoBitrate")
    out.VideoBitrate = std::stoi(value);
  else if (name == "AudioBitrate")
    out.AudioBitrate = std::stoi(value);
  else if (name == "AudioSampleRate")
    out.AudioSampleRate = std::stoi(value);
  else if (name == "AudioChannels")
    out.AudioChannels = std::stoi(value);
  else if (name == "ExtOptions")
    out.ExtOptions = value;
  else
    return false;
  return true;
}

// Runs the encoder's task on its own thread and serves the main thread's dispatch until the
// all-ended notice; true when the task finished without an error.
bool Run(TFFEncoder& encoder) {
  std::atomic<bool> allEnded{false};
  std::atomic<bool> succeeded{false};
  encoder.OnProgress = [](void*, PProgressInfo) {};
  encoder.OnTerminate = [&](void*, const TTerminateInfo& info) {
    if (info.TaskIndex == -1) {
      allEnded = true;
      return;
    }
    succeeded = info.Finished && !info.Exception;
    if (info.Exception) std::fprintf(stderr, "%s\n", info.ExceptionMsg.c_str());
  };
  encoder.StartTask(1);
  while (!allEnded) CheckSynchronize(10);
  return succeeded;
}

int Convert(int argc, char** argv) {
  TOutputOptions out = ApplicationOutput();
  for (int i = 3; i + 1 < argc; i += 2) {
    if (!SetField(out, argv[i], argv[i + 1])) {
      std::fprintf(stderr, "unknown field: %s\n", argv[i]);
      return Usage();
    }
  }
  TFFEncoder encoder;
  if (!encoder.LoadAVLib(FENNICK_LIBAV_DIR)) {
    std::fprintf(stderr, "%s\n", encoder.LastErrMsg.c_str());
    return 1;
  }
  TInputOptions in;
  InitInputOptions(in);
  const int task = encoder.AddTask(argv[1], &in);
  if (task < 0 || !encoder.SetOutputFile(task, argv[2], &out)) {
    std::fprintf(stderr, "%s\n", encoder.LastErrMsg.c_str());
    return 1;
  }
  return Run(encoder) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc % 2 == 0) return Usage();
  SetMainThread();
  try {
    return Convert(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  }
  return 1;
}
