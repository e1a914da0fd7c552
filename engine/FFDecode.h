// The media decoder: opens a media file (or adopts an input another component opened) and
// answers questions about it: container information and tags, and per-stream audio and video
// information. Used by one thread at a time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "FFBaseComponent.h"
#include "FFEntryPoints.h"

// Times in microseconds ("US") are converted from the stream's time base; FFmpeg's "no value"
// is reported as -1, and so is every number a failed lookup could not fill.
struct TFileStreamInfo {
  int64_t StartTime = -1;  // µs
  int64_t Duration = -1;   // µs
  int BitRate = -1;        // bits/s
  int64_t Timestamp = -1;  // the container's creation time, seconds since 1970
  int Year = -1;           // the "year" tag, 0 when absent or not a number
  int Track = -1;          // the "track" tag, 0 when absent or not a number
  std::string Title;
  std::string Author;
  std::string Copyright;
  std::string Comment;
  std::string Album;
  std::string Genre;
};

struct TAudioStreamInfo {
  std::string Language;
  std::string Codec;       // CodecTagText of the stream's decoder
  int64_t StartTime = -1;  // stream time base
  int64_t StartTimeUS = -1;
  int64_t Duration = -1;  // stream time base
  int64_t DurationUS = -1;
  int BitRate = -1;
  int Channels = -1;
  int SampleRate = -1;
  int SampleFormat = -1;  // AVSampleFormat
};

struct TVideoStreamInfo {
  std::string Language;
  std::string Codec;
  int64_t StartTime = -1;
  int64_t StartTimeUS = -1;
  int64_t Duration = -1;
  int64_t DurationUS = -1;
  int BitRate = -1;
  int Height = -1;
  int Width = -1;
  float AspectRatio = -1;  // display aspect: sample aspect × width / height
  // Width over height of one pixel of the picture as shown upright, the container's word over
  // the codec's; 1:1 when neither says.
  int SampleAspectNum = 1;
  int SampleAspectDen = 1;
  int PixelFormat = -1;    // AVPixelFormat
  int FrameRateNum = -1;   // the average frame rate when known, else the real one
  int FrameRateDen = -1;
};

// Raised after an input is opened and before its streams are probed.
using TBeforeFindStreamInfoEvent =
    std::function<void(void* sender, AVFormatContext* formatContext)>;

class TCustomDecoder : public TFFBaseComponent {
 public:
  TCustomDecoder();
  ~TCustomDecoder() override;
  TCustomDecoder(const TCustomDecoder&) = delete;
  TCustomDecoder& operator=(const TCustomDecoder&) = delete;

  // Opens a file (UTF-8 name), probed or in the forced format. False with LastErrMsg() on
  // failure, and the decoder is then empty. Throws FFmpegException when a library is missing.
  bool LoadFile(const std::string& fileName, const std::string& formatName = "");
  // Forgets the file, closing it when this decoder opened it.
  virtual void CloseFile();
  // Adopts an input that another component opened and keeps owning (a task's input, the
  // playing file). Throws FFmpegException when a library is missing.
  virtual void AttachFormatContext(AVFormatContext* context);
  // Re-reads the counts, first stream indexes and file size from the current input.
  virtual void RefreshFileInfo();

  // Each lookup needs a file: without one it reports "file not loaded.".
  bool GetFileInfo(TFileStreamInfo& info);
  // A negative index asks for the first stream of the kind.
  bool GetAudioStreamInfo(int streamIndex, TAudioStreamInfo& info);
  bool GetVideoStreamInfo(int streamIndex, TVideoStreamInfo& info);
  bool GetDefaultVideoStreamInfo(TVideoStreamInfo& info) { return GetVideoStreamInfo(-1, info); }
  std::string GetFileName();
  bool IsAudioStream(int streamIndex);
  bool IsVideoStream(int streamIndex);

  // Logs Text through the engine logger (avLevel on FFmpeg's scale) and keeps it as the last error.
  void SetLastError(int avLevel, const std::string& text);
  // Throws "LibAVCodec not loaded." (or its twins for avformat, avutil, swscale).
  static void CheckLibs();

  AVFormatContext* FormatContext() const { return FFormatContext; }
  bool OwnsContext() const { return FOwnsContext; }
  const std::string& LastErrMsg() const { return FLastErrMsg; }
  // The forced format LoadFile was given; empty when the format was probed.
  const std::string& FormatName() const { return FFormatName; }
  int64_t FileSize() const { return FFileSize; }
  int StreamCount() const { return FStreamCount; }
  int ProgramCount() const { return FProgramCount; }
  int AudioStreamCount() const { return FAudioStreamCount; }
  int VideoStreamCount() const { return FVideoStreamCount; }
  int SubtitleStreamCount() const { return FSubtitleStreamCount; }
  int FirstAudioStream() const { return FFirstAudioStream; }
  int FirstVideoStream() const { return FFirstVideoStream; }
  // The video stream a conversion of this file alone takes (the one with the most probed
  // frames, the first of equals), -1 without one: the size to convert to is that stream's.
  int ConvertedVideoStream() const;
  int FirstSubtitleStream() const { return FFirstSubtitleStream; }

  // Raise OnBeforeFindStreamInfo on the main thread (the loading thread waits).
  bool TriggerEventInMainThread = true;
  TBeforeFindStreamInfoEvent OnBeforeFindStreamInfo;

  // LoadFile gives up (false, with the reason in LastErrMsg) once it has run Timeout ms or read
  // ReadLimit bytes of the file; 0 is no limit. A file that holds no media can keep a format
  // searching it to its end, and a device or a stream may never end.
  static constexpr int DefaultTimeout = 10000;
  int Timeout = DefaultTimeout;
  int64_t ReadLimit = int64_t(64) << 20;
  // Any thread. The LoadFile running now gives up, and so does every later one.
  void Abort() { FAborted = true; }

 private:
  enum class TGiveUp { None, Aborted, Time, Bytes };
  class TProbeRegistration;
  // Loading thread, asked through the interrupt registry while LoadFile runs: whether to give
  // up now (the reason stays in FGaveUp).
  static bool ProbeInterrupt(void* owner);
  TGiveUp GiveUpReason() const;
  // The failure text of a load: why it gave up, else Otherwise.
  std::string LoadFailure(const std::string& fileName, const std::string& otherwise) const;

  bool FileLoaded();
  // The stream of an index that must be valid and of the media type (names the kind in errors).
  AVStream* StreamOfType(int streamIndex, int firstOfType, AVMediaType type, const char* kind);
  bool CheckStreamIndex(int streamIndex);
  // Opens the file as this decoder's own input, its interrupt callback installed first.
  bool OpenInput(const std::string& fileName, const AVInputFormat* format);
  void DoBeforeFindStreamInfo();

  AVFormatContext* FFormatContext = nullptr;
  bool FOwnsContext = false;
  std::atomic<bool> FAborted{false};
  // While LoadFile runs: when it began, the input being opened and probed, and why it gave up.
  std::chrono::steady_clock::time_point FLoadStart;
  AVFormatContext* FProbed = nullptr;
  TGiveUp FGaveUp = TGiveUp::None;
  std::string FLastErrMsg;
  std::string FFormatName;
  int64_t FFileSize = -1;
  int FStreamCount = -1;
  int FProgramCount = -1;
  int FAudioStreamCount = -1;
  int FVideoStreamCount = -1;
  int FSubtitleStreamCount = -1;
  int FFirstAudioStream = -1;
  int FFirstVideoStream = -1;
  int FFirstSubtitleStream = -1;
};

class TFFDecoder : public TCustomDecoder {
 public:
  void RefreshFileInfo() override;

  // The stream a decoding would start with: the first video stream, else the first audio
  // stream, else -1; and its start time in µs (0 when it has none).
  int SelectedStream() const { return FSelectedStream; }
  int64_t SelectedStartTime() const { return FSelectedStartTime; }

  // The audio a decoding would deliver.
  int AudioChannels = 2;
  int AudioSampleRate = 44100;
  AVSampleFormat AudioSampleFormat = AV_SAMPLE_FMT_S16;

 private:
  int FSelectedStream = -1;
  int64_t FSelectedStartTime = 0;
};
