// Running whole conversions in tests and reading back what they wrote: with ffprobe and the
// ffmpeg command line as independent readers, and with the engine's own demuxing and decoding.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "FFmpegTestSupport.h"
#include "MediaFixtures.h"
#include "UnicodeProtocol.h"

using TOptionList = std::vector<std::pair<std::string, std::string>>;

struct TProgressRecord {
  int FileIndex;
  int Frame;
  float Quality;
  int64_t Size;
  float Bitrate;
  int64_t CurrentTime;
  int64_t TotalTime;
};

struct TRunResult {
  int Ends = 0;
  bool Finished = false;
  bool Exception = false;
  std::string Message;
  std::vector<TProgressRecord> Progress;
  std::vector<std::string> Lines;  // the progress texts the task logged
  int DupDropCount(const char* key) const;
  int Duplicated() const { return DupDropCount(" dup="); }
  int Dropped() const { return DupDropCount(" drop="); }
};

// Records a task's progress and end, from whichever thread reports them.
class TRunRecorder {
 public:
  explicit TRunRecorder(TCustomFFmpeg& task) {
    task.OnProgress = [this](TCustomFFmpeg*, int fileIndex, int frame, int, float quality,
                             float bitrate, int64_t size, int64_t currentTime, int64_t totalTime) {
      const std::lock_guard<std::mutex> lock(FLock);
      FResult.Progress.push_back(
          {fileIndex, frame, quality, size, bitrate, currentTime, totalTime});
      FChanged.notify_all();
    };
    task.OnTerminate = [this](TCustomFFmpeg* sender) {
      const std::lock_guard<std::mutex> lock(FLock);
      ++FResult.Ends;
      FResult.Finished = sender->Finished;
      FResult.Exception = sender->ExceptionRaised;
      FResult.Message = sender->ExceptionMessage;
      FChanged.notify_all();
    };
  }
  TRunResult Result() {
    const std::lock_guard<std::mutex> lock(FLock);
    return FResult;
  }
  // Waits until the run ended, or (frames > 0) until it reported that many frames.
  void WaitFor(int frames) {
    std::unique_lock<std::mutex> lock(FLock);
    FChanged.wait_for(lock, std::chrono::seconds(60), [&] {
      return FResult.Ends > 0 ||
             (frames > 0 && !FResult.Progress.empty() && FResult.Progress.back().Frame >= frames);
    });
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  TRunResult FResult;
};

// A run on the task's own thread.
class TAsyncRun {
 public:
  explicit TAsyncRun(TCustomFFmpeg& task) : FTask(task), FRecorder(task) {
    TConvertThread* thread = task.Start(true);
    EXPECT_NE(thread, nullptr);
    if (thread) thread->Resume();
  }
  ~TAsyncRun() { FTask.Abort(true); }
  void WaitForFrames(int frames) { FRecorder.WaitFor(frames); }
  int LastFrame() {
    const TRunResult result = FRecorder.Result();
    return result.Progress.empty() ? 0 : result.Progress.back().Frame;
  }
  int Ends() { return FRecorder.Result().Ends; }
  TRunResult Wait() {
    FRecorder.WaitFor(0);
    FTask.Abort(true);  // returns once the thread is done
    return FRecorder.Result();
  }

 private:
  TCustomFFmpeg& FTask;
  TRunRecorder FRecorder;
};

struct TRgbPicture {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Pixels;  // RGB24, rows top to bottom

  // The red, green and blue of a pixel; -1000 each outside the picture, which no colour matches.
  std::array<int, 3> At(int x, int y) const {
    const size_t at = (size_t(y) * size_t(Width) + size_t(x)) * 3;
    if (x < 0 || y < 0 || x >= Width || at + 2 >= Pixels.size()) return {-1000, -1000, -1000};
    return {Pixels[at], Pixels[at + 1], Pixels[at + 2]};
  }
};

class ConvertTest : public FFmpegTestBase {
 protected:
  void SetUp() override {
    FFmpegTestBase::SetUp();
    Folder = fixtures::TempDir(std::string("convert-") +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    FFLogger().TriggerEventInMainThread = false;
    FFLogger().SetLogLevel(llDebug);
    FFLogger().OnLog = [](const void* sender, std::thread::id, TLogLevel, const std::string& text) {
      const std::lock_guard<std::mutex> lock(LogLock());
      Log().push_back({sender, text});
    };
  }
  void TearDown() override {
    FFLogger().OnLog = nullptr;
    FFLogger().SetLogLevel(llInfo);
    FFLogger().TriggerEventInMainThread = true;
    const std::lock_guard<std::mutex> lock(LogLock());
    Log().clear();
  }

  // The lines logged so far (by a sender, when one is given) that start with a prefix.
  static std::vector<std::string> LogLines(const void* sender, const std::string& prefix) {
    const std::lock_guard<std::mutex> lock(LogLock());
    std::vector<std::string> lines;
    for (const auto& [from, text] : Log())
      if ((!sender || from == sender) && text.rfind(prefix, 0) == 0) lines.push_back(text);
    return lines;
  }
  static bool Logged(const std::string& text) {
    const std::vector<std::string> lines = LogLines(nullptr, text);
    return std::find(lines.begin(), lines.end(), text) != lines.end();
  }
  static int CountLogged(const std::string& part) {
    const std::lock_guard<std::mutex> lock(LogLock());
    return int(std::count_if(Log().begin(), Log().end(), [&](const auto& line) {
      return line.second.find(part) != std::string::npos;
    }));
  }

  std::string Output(const std::string& name) const { return Folder + "/" + name; }

  // The encoder settings the program uses for Flash output.
  static TOptionList FlashOptions(const std::string& sampleRate) {
    return {{"vcodec", "flv"}, {"acodec", "libmp3lame"}, {"ar", sampleRate},
            {"ac", "2"},       {"b", "512000"},          {"ab", "96000"}};
  }

  // Opens the inputs (after the task-wide options) and the output (after its options).
  std::unique_ptr<TProbeTask> MakeTask(const std::vector<std::string>& inputs,
                                       const std::string& output, const TOptionList& options,
                                       const TOptionList& taskOptions = {}) {
    auto task = std::make_unique<TProbeTask>();
    task->RaiseOptionErrors = true;
    for (const auto& [name, value] : taskOptions) task->ParseOption(name, value);
    for (const std::string& input : inputs)
      EXPECT_TRUE(task->OpenInputFile(input)) << task->LastErrMsg;
    for (const auto& [name, value] : options) task->ParseOption(name, value);
    EXPECT_EQ(task->OpenOutputFile(output, false), 0) << task->LastErrMsg;
    return task;
  }

  // A synchronous run; the progress texts of the log are kept for the dup/drop counters.
  static TRunResult RunTask(TCustomFFmpeg& task);

  // The video frames the engine's libraries decode from the file.
  static int CountDecodedFrames(const std::string& path);
  // The presentation times (s) of the packets of one stream type ("v" or "a"), as ffprobe reads.
  static std::vector<double> PacketTimes(const std::string& path, const std::string& type);
  // The first picture, as RGB, decoded by the ffmpeg command line; through the filters `view`
  // when given (to read it otherwise than its tags say).
  TRgbPicture FirstFrame(const std::string& path, const std::string& view = "") const;
  // Lossy codecs shift colours a little; a wrong area is off by far more than the default.
  static void ExpectColour(const TRgbPicture& picture, int x, int y, int r, int g, int b,
                           const std::string& where, int tolerance = 48);
  // The first audio stream as mono samples in -1..1, decoded by the ffmpeg command line.
  std::vector<float> AudioSamples(const std::string& path) const;
  double PeakLevel(const std::string& path) const;
  // The RMS level of each window of `seconds`.
  std::vector<double> AudioLevels(const std::string& path, double seconds) const;
  // The times (s) at which the pictures turn light (mean luma above the middle) from dark.
  std::vector<double> FlashTimes(const std::string& path) const;
  // The numbers the pictures of a file made from fixtures::NumberedClip show, in order, at any
  // size it was scaled to.
  std::vector<int> PictureNumbers(const std::string& path) const;
  // The times (s) at which the sound turns loud (a tenth of full scale) from quiet, counted in
  // samples from the first one's time: a player plays the sound one sample after the other,
  // whatever the packets' times say.
  std::vector<double> BeepTimes(const std::string& path) const;

  std::string Folder;

 private:
  static std::mutex& LogLock() {
    static std::mutex lock;
    return lock;
  }
  static std::vector<std::pair<const void*, std::string>>& Log() {
    static std::vector<std::pair<const void*, std::string>> lines;
    return lines;
  }
};

// ---- Definitions (one test file includes this header) ----

namespace convert_test_detail {

// The presentation times (s) of the packets or decoded frames ("packet", "frame") of the file's
// streams of a type ("v" or "a"), as ffprobe reads them; `extra` limits the reading.
inline std::vector<double> ProbeTimes(const std::string& path, const std::string& type,
                                      const std::string& unit, const std::string& extra = "") {
  std::string output;
  fixtures::Run("ffprobe -v error -select_streams " + type + " " + extra + " -show_entries " +
                    unit + "=pts_time -of csv=p=0 " + fixtures::ShellQuote(path),
                &output);
  std::vector<double> times;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty() && line.rfind("N/A", 0) != 0)
      times.push_back(std::strtod(line.c_str(), nullptr));
  return times;
}

// The times at which the marks turn on.
inline std::vector<double> Onsets(const std::vector<std::pair<double, bool>>& marks) {
  std::vector<double> times;
  bool was = false;
  for (const auto& [time, on] : marks) {
    if (on && !was) times.push_back(time);
    was = on;
  }
  return times;
}

}  // namespace convert_test_detail

inline int TRunResult::DupDropCount(const char* key) const {
  // The progress text ends with " dup=%d drop=%d" once either counter is not 0.
  for (auto line = Lines.rbegin(); line != Lines.rend(); ++line) {
    const size_t at = line->find(key);
    if (at != std::string::npos) return std::atoi(line->c_str() + at + std::strlen(key));
  }
  return 0;
}

inline TRunResult ConvertTest::RunTask(TCustomFFmpeg& task) {
  TRunRecorder recorder(task);
  task.Start(false);
  TRunResult result = recorder.Result();
  result.Lines = LogLines(&task, "frame=");
  return result;
}

inline int ConvertTest::CountDecodedFrames(const std::string& path) {
  AVFormatContext* input = nullptr;
  if (UnicodeOpenInput(&input, path, nullptr, nullptr) < 0) return -1;
  int frames = -1;
  AVCodecContext* decoder = nullptr;
  AVPacket* packet = ff::av_packet_alloc();
  AVFrame* frame = ff::av_frame_alloc();
  const AVCodec* codec = nullptr;
  const int stream = ff::avformat_find_stream_info(input, nullptr) < 0
                         ? -1
                         : ff::av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (stream >= 0 && (decoder = ff::avcodec_alloc_context3(codec)) &&
      ff::avcodec_parameters_to_context(decoder, input->streams[stream]->codecpar) >= 0 &&
      ff::avcodec_open2(decoder, codec, nullptr) >= 0) {
    frames = 0;
    bool more = true;
    while (more) {
      more = ff::av_read_frame(input, packet) >= 0;
      if (more && packet->stream_index != stream) {
        ff::av_packet_unref(packet);
        continue;
      }
      ff::avcodec_send_packet(decoder, more ? packet : nullptr);
      ff::av_packet_unref(packet);
      while (ff::avcodec_receive_frame(decoder, frame) >= 0) ++frames;
    }
  }
  ff::av_frame_free(&frame);
  ff::av_packet_free(&packet);
  ff::avcodec_free_context(&decoder);
  UnicodeCloseInput(&input);
  return frames;
}

inline std::vector<double> ConvertTest::PacketTimes(const std::string& path,
                                                    const std::string& type) {
  return convert_test_detail::ProbeTimes(path, type, "packet");
}

inline TRgbPicture ConvertTest::FirstFrame(const std::string& path,
                                           const std::string& view) const {
  TRgbPicture picture;
  const ProbeResult probe = ProbeMedia(path, false);
  const ProbeStream* video = probe.FirstOfType("video");
  if (!video) return picture;
  const std::string raw = Folder + "/first-frame.rgb";
  std::string log;
  const std::string filters = view.empty() ? "" : " -vf " + fixtures::ShellQuote(view);
  if (fixtures::Run("ffmpeg -nostdin -v error -y -i " + fixtures::ShellQuote(path) + filters +
                        " -frames:v 1 -f rawvideo -pix_fmt rgb24 " + fixtures::ShellQuote(raw),
                    &log) != 0) {
    ADD_FAILURE() << log;
    return picture;
  }
  std::ifstream file(raw, std::ios::binary);
  picture.Pixels.assign(std::istreambuf_iterator<char>(file), {});
  picture.Width = video->width;
  picture.Height = video->height;
  EXPECT_EQ(picture.Pixels.size(), size_t(picture.Width) * size_t(picture.Height) * 3);
  return picture;
}

inline void ConvertTest::ExpectColour(const TRgbPicture& picture, int x, int y, int r, int g, int b,
                                      const std::string& where, int tolerance) {
  const std::array<int, 3> pixel = picture.At(x, y);
  EXPECT_NEAR(pixel[0], r, tolerance) << where;
  EXPECT_NEAR(pixel[1], g, tolerance) << where;
  EXPECT_NEAR(pixel[2], b, tolerance) << where;
}

inline std::vector<float> ConvertTest::AudioSamples(const std::string& path) const {
  const std::string raw = Folder + "/samples.f32";
  std::string log;
  if (fixtures::Run("ffmpeg -nostdin -v error -y -i " + fixtures::ShellQuote(path) +
                        " -map 0:a:0 -ac 1 -f f32le " + fixtures::ShellQuote(raw),
                    &log) != 0) {
    ADD_FAILURE() << log;
    return {};
  }
  const std::string bytes = fixtures::ReadFile(raw);
  std::vector<float> samples(bytes.size() / sizeof(float));
  std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
  return samples;
}

inline double ConvertTest::PeakLevel(const std::string& path) const {
  double peak = 0;
  for (const float sample : AudioSamples(path)) peak = std::max(peak, double(std::fabs(sample)));
  return peak;
}

inline std::vector<double> ConvertTest::AudioLevels(const std::string& path, double seconds) const {
  const ProbeResult probe = ProbeMedia(path, false);
  const ProbeStream* audio = probe.FirstOfType("audio");
  const std::vector<float> samples = AudioSamples(path);
  std::vector<double> levels;
  if (!audio) return levels;
  const size_t window = size_t(audio->sample_rate * seconds);
  for (size_t start = 0; start + window <= samples.size(); start += window) {
    double sum = 0;
    for (size_t i = start; i < start + window; ++i) sum += double(samples[i]) * samples[i];
    levels.push_back(std::sqrt(sum / double(window)));
  }
  return levels;
}

inline std::vector<double> ConvertTest::FlashTimes(const std::string& path) const {
  constexpr int Pixels = 16;  // each picture shrunk to 4x4
  const std::string raw = Folder + "/luma.gray";
  std::string log;
  if (fixtures::Run(
          "ffmpeg -nostdin -v error -y -i " + fixtures::ShellQuote(path) +
              " -map 0:v:0 -vf scale=4:4 -fps_mode passthrough -pix_fmt gray -f rawvideo " +
              fixtures::ShellQuote(raw),
          &log) != 0) {
    ADD_FAILURE() << log;
    return {};
  }
  const std::string luma = fixtures::ReadFile(raw);
  const std::vector<double> times = convert_test_detail::ProbeTimes(path, "v:0", "frame");
  EXPECT_EQ(luma.size(), times.size() * Pixels) << path;
  std::vector<std::pair<double, bool>> marks;
  for (size_t n = 0; n < times.size() && (n + 1) * Pixels <= luma.size(); ++n) {
    int sum = 0;
    for (size_t i = n * Pixels; i < (n + 1) * Pixels; ++i) sum += uint8_t(luma[i]);
    marks.push_back({times[n], sum > 128 * Pixels});
  }
  return convert_test_detail::Onsets(marks);
}

inline std::vector<int> ConvertTest::PictureNumbers(const std::string& path) const {
  constexpr size_t Size = fixtures::NumberedClipWidth * fixtures::NumberedClipHeight;
  const std::string raw = Folder + "/numbers.gray";
  std::string log;
  if (fixtures::Run("ffmpeg -nostdin -v error -y -i " + fixtures::ShellQuote(path) +
                        " -map 0:v:0 -fps_mode passthrough -vf scale=" +
                        std::to_string(fixtures::NumberedClipWidth) + ":" +
                        std::to_string(fixtures::NumberedClipHeight) +
                        " -pix_fmt gray -f rawvideo " + fixtures::ShellQuote(raw),
                    &log) != 0) {
    ADD_FAILURE() << log;
    return {};
  }
  const std::string luma = fixtures::ReadFile(raw);
  std::vector<int> numbers;
  for (size_t at = 0; at + Size <= luma.size(); at += Size)
    numbers.push_back(fixtures::NumberShown(reinterpret_cast<const uint8_t*>(luma.data() + at)));
  return numbers;
}

inline std::vector<double> ConvertTest::BeepTimes(const std::string& path) const {
  constexpr size_t Window = 32;
  const ProbeResult probe = ProbeMedia(path, false);
  const ProbeStream* audio = probe.FirstOfType("audio");
  const std::vector<double> first =
      convert_test_detail::ProbeTimes(path, "a:0", "frame", "-read_intervals %+1");
  if (!audio || audio->sample_rate <= 0 || first.empty()) {
    ADD_FAILURE() << path << " has no sound";
    return {};
  }
  const std::vector<float> samples = AudioSamples(path);
  std::vector<std::pair<double, bool>> marks;
  for (size_t start = 0; start + Window <= samples.size(); start += Window) {
    float peak = 0;
    for (size_t i = start; i < start + Window; ++i) peak = std::max(peak, std::fabs(samples[i]));
    marks.push_back({first.front() + double(start) / audio->sample_rate, peak > 0.1f});
  }
  return convert_test_detail::Onsets(marks);
}
