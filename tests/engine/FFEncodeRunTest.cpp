// Conversions through the encoder as the application runs them: queued tasks one at a time or
// several at once, in the calling thread, stopped, paused, destroyed mid-run; the notices,
// progress, preview and hook events; and the outputs, checked with ffprobe.
#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>

#include "FFEncode.h"
#include "FFEncodeTestSupport.h"
#include "RefusedThreadStarts.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Twenty seconds of picture and tone: long enough to stop, pause or destroy a run midway.
std::string LongInput() {
  return fixtures::Make("h264_aac_320x240_20s.mp4",
                        "-f lavfi -i testsrc=size=320x240:rate=25:duration=20"
                        " -f lavfi -i sine=frequency=440:sample_rate=44100:duration=20 -ac 2"
                        " -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -shortest");
}

int ThreadCount() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/task")) {
    while (const dirent* entry = ::readdir(dir))
      if (entry->d_name[0] != '.') ++count;
    ::closedir(dir);
  }
  return count;
}

struct TProgress {
  TProgressInfo Info;
  bool OnMainThread = false;
};

// Records the progress events of an encoder.
class TProgressRecorder {
 public:
  explicit TProgressRecorder(TFFEncoder& encoder) {
    encoder.OnProgress = [this](void* sender, PProgressInfo info) {
      bool first = false;
      {
        const std::lock_guard<std::mutex> lock(FLock);
        FSender = sender;
        FReports.push_back({*info, IsMainThread()});
        first = FReports.size() == 1;
      }
      if (first && AtFirstReport) AtFirstReport();
    };
  }
  // Runs inside the first report's handler, while its task waits: so surely mid-run.
  std::function<void()> AtFirstReport;
  std::vector<TProgress> Reports() {
    const std::lock_guard<std::mutex> lock(FLock);
    return FReports;
  }
  size_t Count() { return Reports().size(); }
  void* Sender() {
    const std::lock_guard<std::mutex> lock(FLock);
    return FSender;
  }

 private:
  std::mutex FLock;
  std::vector<TProgress> FReports;
  void* FSender = nullptr;
};

class EncoderRunTest : public EncoderTestBase {
 protected:
  // A task of one input and one FLV output with the record's defaults; its index.
  int AddFlvTask(TFFEncoder& encoder, const std::string& input, const std::string& name,
                 TOutputOptions* options = nullptr) {
    TOutputOptions defaults;
    InitOutputOptions(defaults);
    const int task = encoder.AddTask(input);
    EXPECT_GE(task, 0) << encoder.LastErrMsg;
    if (task < 0) return task;
    EXPECT_TRUE(encoder.SetOutputFile(task, Output(name), options ? options : &defaults))
        << encoder.LastErrMsg;
    return task;
  }
  std::string Output(const std::string& name) const { return Folder + "/" + name; }

  // A whole FLV of the three-second fixture: picture and sound.
  static void ExpectConverted(const std::string& path) {
    SCOPED_TRACE(path);
    const ProbeResult probe = ProbeMedia(path);
    ASSERT_TRUE(probe.ok) << probe.error;
    EXPECT_EQ(probe.format_name, "flv");
    const ProbeStream* video = probe.FirstOfType("video");
    const ProbeStream* audio = probe.FirstOfType("audio");
    ASSERT_NE(video, nullptr);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(video->codec_name, "flv1");
    EXPECT_EQ(video->width, 320);
    EXPECT_EQ(video->height, 240);
    EXPECT_NEAR(double(video->nb_read_frames), 75.0, 2.0);
    EXPECT_EQ(audio->codec_name, "mp3");
    EXPECT_NEAR(probe.duration, 3.0, 0.2);
  }
  static void ExpectAllFinished(const std::vector<TNotice>& notices) {
    for (const TNotice& notice : notices) {
      SCOPED_TRACE(notice.Info.TaskIndex);
      EXPECT_TRUE(notice.Info.Finished);
      EXPECT_FALSE(notice.Info.Exception) << notice.Info.ExceptionMsg;
      EXPECT_TRUE(notice.OnMainThread);
    }
  }
};

TEST_F(EncoderRunTest, QueuedTasksRunOneAtATimeAndNotifyInOrderThenTheEnd) {
  TFFEncoder encoder;
  TNoticeRecorder notices(encoder);
  TProgressRecorder progress(encoder);
  for (int n = 0; n < 3; ++n)
    ASSERT_EQ(AddFlvTask(encoder, Input(), std::to_string(n) + ".flv"), n);
  encoder.StartTask(1);
  // Notices reach the application only through its main thread.
  EXPECT_TRUE(notices.Empty());
  ASSERT_TRUE(notices.WaitForAllEnded());
  CheckSynchronize(100);
  EXPECT_EQ(notices.Indexes(), (std::vector<int>{0, 1, 2, -1}));
  ExpectAllFinished(notices.Notices());
  EXPECT_TRUE(encoder.AllEnded());
  // One at a time: a task reports no progress once the next has begun.
  int lastTask = 0;
  for (const TProgress& report : progress.Reports()) {
    EXPECT_GE(report.Info.TaskIndex, lastTask);
    lastTask = report.Info.TaskIndex;
  }
  EXPECT_EQ(lastTask, 2);
  for (int n = 0; n < 3; ++n) ExpectConverted(Output(std::to_string(n) + ".flv"));
}

TEST_F(EncoderRunTest, SeveralTasksAtOnceStillEndWithTheAllEndedNoticeLast) {
  TFFEncoder encoder;
  TNoticeRecorder notices(encoder);
  for (int n = 0; n < 4; ++n)
    ASSERT_EQ(AddFlvTask(encoder, Input(), std::to_string(n) + ".flv"), n);
  encoder.StartTask(3);
  ASSERT_TRUE(notices.WaitForAllEnded());
  CheckSynchronize(100);
  std::vector<int> indexes = notices.Indexes();
  ASSERT_EQ(indexes.size(), 5u);
  EXPECT_EQ(indexes.back(), -1);
  indexes.pop_back();
  std::sort(indexes.begin(), indexes.end());
  EXPECT_EQ(indexes, (std::vector<int>{0, 1, 2, 3}));
  ExpectAllFinished(notices.Notices());
  for (int n = 0; n < 4; ++n) ExpectConverted(Output(std::to_string(n) + ".flv"));
}

TEST_F(EncoderRunTest, StartTaskZeroConvertsEveryTaskInsideTheCall) {
  TFFEncoder encoder;
  TNoticeRecorder notices(encoder);
  TProgressRecorder progress(encoder);
  for (int n = 0; n < 2; ++n)
    ASSERT_EQ(AddFlvTask(encoder, Input(), std::to_string(n) + ".flv"), n);
  const int threadsBefore = ThreadCount();
  encoder.StartTask(0);
  EXPECT_EQ(notices.Indexes(), (std::vector<int>{0, 1, -1}));
  ExpectAllFinished(notices.Notices());
  EXPECT_GT(progress.Count(), 0u);
  EXPECT_EQ(ThreadCount(), threadsBefore);
  for (int n = 0; n < 2; ++n) ExpectConverted(Output(std::to_string(n) + ".flv"));
}

TEST_F(EncoderRunTest, RefusedTasksLeaveTheOthersToConvert) {
  TFFEncoder encoder;
  TNoticeRecorder notices(encoder);
  EXPECT_EQ(encoder.AddTask(Folder + "/missing.mp4"), -1);
  EXPECT_EQ(encoder.LastErrMsg, Folder + "/missing.mp4: No such file or directory");
  ASSERT_EQ(AddFlvTask(encoder, Input(), "first.flv"), 0);
  const int bad = encoder.AddTask(Input());
  ASSERT_EQ(bad, 1);
  TOutputOptions options;
  InitOutputOptions(options);
  options.ExtOptions = "vcodec=nosuchcodec";
  EXPECT_FALSE(encoder.SetOutputFile(bad, Output("bad.flv"), &options));
  EXPECT_NE(encoder.LastErrMsg, "");
  encoder.RemoveTask(bad);
  ASSERT_EQ(AddFlvTask(encoder, Input(fixtures::Media::AviMpeg4Mp3), "second.flv"), 1);
  encoder.StartTask(1);
  ASSERT_TRUE(notices.WaitForAllEnded());
  EXPECT_EQ(notices.Indexes(), (std::vector<int>{0, 1, -1}));
  ExpectAllFinished(notices.Notices());
  ExpectConverted(Output("first.flv"));
  ExpectConverted(Output("second.flv"));
  EXPECT_FALSE(fs::exists(Output("bad.flv")));
}

TEST_F(EncoderRunTest, ATaskLeftWithoutOutputEndsAtItsStartAndTheNextFollows) {
  TFFEncoder encoder;
  TNoticeRecorder notices(encoder);
  ASSERT_EQ(encoder.AddTask(Input()), 0);
  ASSERT_EQ(AddFlvTask(encoder, Input(), "out.flv"), 1);
  encoder.StartTask(1);
  ASSERT_TRUE(notices.WaitForAllEnded());
  const std::vector<TNotice> all = notices.Notices();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].Info.TaskIndex, 0);
  EXPECT_TRUE(all[0].Info.Exception);
  EXPECT_EQ(all[0].Info.ExceptionMsg, "At least one output file must be specified");
  EXPECT_EQ(all[1].Info.TaskIndex, 1);
  EXPECT_TRUE(all[1].Info.Finished);
  EXPECT_EQ(all[2].Info.TaskIndex, -1);
  ExpectConverted(Output("out.flv"));
}

TEST_F(EncoderRunTest, TheMainThreadMayAskTheEncoderWhileARefusedTaskLogsItsEnd) {
  // As in the application: log lines go to the main thread, whose host is woken for each, and
  // a timer there reads the encoder's state before it serves them.
  std::atomic<bool> refusalLogged{false};
  FFLogger().OnLog = [&](const void*, std::thread::id, TLogLevel, const std::string& text) {
    if (text == "At least one output file must be specified") refusalLogged = true;
  };
  std::atomic<int> wakes{0};
  SetSynchronizeHooks([&] { ++wakes; }, nullptr);
  TFFEncoder encoder;
  TNoticeRecorder notices(encoder);
  ASSERT_EQ(AddFlvTask(encoder, Input(), "out.flv"), 0);
  ASSERT_EQ(encoder.AddTask(Input()), 1);
  encoder.StartTask(1);

  std::atomic<bool> ended{false};
  std::thread watchdog([&] {
    for (int n = 0; n < 6000 && !ended; ++n)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (ended) return;
    std::fputs("the main thread and a task thread wait for each other\n", stderr);
    std::abort();
  });
  int served = 0;
  while (!notices.AllEnded()) {
    if (wakes == served) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    served = wakes;
    EXPECT_TRUE(encoder.Working());
    CheckSynchronize(0);
  }
  ended = true;
  watchdog.join();
  SetSynchronizeHooks(nullptr, nullptr);
  FFLogger().OnLog = nullptr;

  EXPECT_TRUE(refusalLogged);
  EXPECT_EQ(notices.Indexes(), (std::vector<int>{0, 1, -1}));
  ExpectConverted(Output("out.flv"));
}

TEST_F(EncoderRunTest, AnErrorDuringTheRunIsReportedInTheTasksNotice) {
  TFFEncoder encoder;
  TNoticeRecorder notices(encoder);
  TOutputOptions options;
  InitOutputOptions(options);
  options.VideoFilters = "nosuchfilter";
  ASSERT_EQ(AddFlvTask(encoder, Input(), "broken.flv", &options), 0);
  ASSERT_EQ(AddFlvTask(encoder, Input(), "good.flv"), 1);
  encoder.StartTask(1);
  ASSERT_TRUE(notices.WaitForAllEnded());
  const std::vector<TNotice> all = notices.Notices();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].Info.TaskIndex, 0);
  EXPECT_TRUE(all[0].Info.Exception);
  EXPECT_NE(all[0].Info.ExceptionMsg, "");
  EXPECT_FALSE(fs::exists(Output("broken.flv")));
  EXPECT_EQ(all[1].Info.TaskIndex, 1);
  EXPECT_TRUE(all[1].Info.Finished);
  EXPECT_FALSE(all[1].Info.Exception);
  EXPECT_EQ(all[2].Info.TaskIndex, -1);
  ExpectConverted(Output("good.flv"));
}

// Threads that cannot start, from the task's own (none allowed) to the ones it starts and its
// end notices' (a few allowed), in a run on threads and in one inside the call: each task ends,
// converted or with a message naming the cause, nothing is left beside the outputs, and a
// conversion runs again once threads can be had.
TEST_F(EncoderRunTest, ATaskWithoutTheThreadsItNeedsEndsWithTheCause) {
  for (const int starts : {1, 0}) {
    for (const int allowed : {0, 1, 2, 3, 4}) {
      SCOPED_TRACE(::testing::Message() << "StartTask(" << starts << "), " << allowed << " allowed");
      fs::remove_all(Folder);
      fs::create_directories(Folder);
      TFFEncoder encoder;
      TNoticeRecorder notices(encoder);
      ASSERT_EQ(AddFlvTask(encoder, Input(), "out.flv"), 0);
      {
        const TRefusedThreadStarts refused(allowed);
        encoder.StartTask(starts);
        ASSERT_TRUE(notices.WaitForAllEnded());
        EXPECT_GT(refused.Refused(), 0);
      }
      const std::vector<TNotice> all = notices.Notices();
      ASSERT_EQ(all.size(), 2u);
      if (all[0].Info.Exception) {
        EXPECT_NE(all[0].Info.ExceptionMsg.find("Resource temporarily unavailable"),
                  std::string::npos)
            << all[0].Info.ExceptionMsg;
        EXPECT_TRUE(fs::is_empty(Folder));
      } else {
        ExpectConverted(Output("out.flv"));
      }
      TFFEncoder again;
      ASSERT_EQ(AddFlvTask(again, Input(), "again.flv"), 0);
      again.StartTask(0);
      ExpectConverted(Output("again.flv"));
    }
  }
}

TEST_F(EncoderRunTest, StopWaitEndsTheRunningTaskAndStartsNoOther) {
  const std::string input = LongInput();
  // The second time no thread can start at the stop: the ends are reported all the same.
  for (const bool threadsRefused : {false, true}) {
    SCOPED_TRACE(threadsRefused ? "no thread can start" : "threads start");
    fs::remove_all(Folder);
    fs::create_directories(Folder);
    std::unique_ptr<TFFEncoder> encoder = std::make_unique<TFFEncoder>();
    TNoticeRecorder notices(*encoder);
    TProgressRecorder progress(*encoder);
    encoder->SetProgressInterval(100);
    for (int n = 0; n < 3; ++n)
      ASSERT_EQ(AddFlvTask(*encoder, input, std::to_string(n) + ".flv"), n);
    // As the application's cancel button does: pause, then stop and wait.
    progress.AtFirstReport = [&] { encoder->Pause(); };
    encoder->StartTask(1);
    ASSERT_TRUE(PumpUntil([&] { return progress.Count() > 0; }));
    EXPECT_TRUE(encoder->Paused());
    {
      std::optional<TRefusedThreadStarts> refused;
      if (threadsRefused) refused.emplace();
      encoder->Stop(true);
      ASSERT_TRUE(notices.WaitForAllEnded());
    }
    CheckSynchronize(100);
    const std::vector<TNotice> all = notices.Notices();
    ASSERT_EQ(all.size(), 4u);
    for (int n = 0; n < 3; ++n) {
      EXPECT_EQ(all[size_t(n)].Info.TaskIndex, n);
      EXPECT_FALSE(all[size_t(n)].Info.Finished);
    }
    EXPECT_EQ(all[3].Info.TaskIndex, -1);
    EXPECT_TRUE(all[3].Info.Finished);
    for (const TProgress& report : progress.Reports()) EXPECT_EQ(report.Info.TaskIndex, 0);
    // The stopped task's output holds what was converted; the others never wrote a byte.
    const ProbeResult probe = ProbeMedia(Output("0.flv"));
    ASSERT_TRUE(probe.ok) << probe.error;
    EXPECT_LT(probe.duration, 19.0);
    encoder.reset();
    EXPECT_FALSE(fs::exists(Output("1.flv")));
    EXPECT_FALSE(fs::exists(Output("2.flv")));
  }
}

// The conversion window's packaging step: each task's notice pauses the encoder while a modal
// window runs, then resumes it.
TEST_F(EncoderRunTest, ANoticeHandlerMayPauseAndResumeTheRun) {
  TFFEncoder encoder;
  std::vector<TTerminateInfo> notices;
  std::vector<bool> pausedInHandler;
  encoder.OnTerminate = [&](void*, const TTerminateInfo& info) {
    notices.push_back(info);
    if (info.TaskIndex < 0) return;
    encoder.Pause();
    pausedInHandler.push_back(encoder.Paused());
    for (int n = 0; n < 10; ++n) CheckSynchronize(10);
    encoder.Resume();
  };
  for (int n = 0; n < 3; ++n)
    ASSERT_EQ(AddFlvTask(encoder, Input(), std::to_string(n) + ".flv"), n);
  encoder.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return !notices.empty() && notices.back().TaskIndex == -1; }));
  ASSERT_EQ(notices.size(), 4u);
  for (int n = 0; n < 3; ++n) {
    EXPECT_EQ(notices[size_t(n)].TaskIndex, n);
    EXPECT_TRUE(notices[size_t(n)].Finished);
  }
  EXPECT_EQ(pausedInHandler, (std::vector<bool>{true, true, true}));
  for (int n = 0; n < 3; ++n) ExpectConverted(Output(std::to_string(n) + ".flv"));
}

TEST_F(EncoderRunTest, ProgressArrivesOnTheMainThreadWithTheTasksTimes) {
  TFFEncoder encoder;
  TNoticeRecorder notices(encoder);
  TProgressRecorder progress(encoder);
  encoder.SetProgressInterval(50);
  ASSERT_EQ(encoder.ProgressInterval(), 100);
  ASSERT_EQ(AddFlvTask(encoder, Input(), "out.flv"), 0);
  encoder.StartTask(1);
  ASSERT_TRUE(notices.WaitForAllEnded());
  const std::vector<TProgress> reports = progress.Reports();
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(progress.Sender(), &encoder);
  int64_t lastTime = 0;
  for (const TProgress& report : reports) {
    EXPECT_TRUE(report.OnMainThread);
    EXPECT_EQ(report.Info.TaskIndex, 0);
    EXPECT_NEAR(double(report.Info.TotalTime), 3e6, 1e5);
    EXPECT_GE(report.Info.CurrentTime, lastTime);
    lastTime = report.Info.CurrentTime;
  }
  const TProgressInfo& last = reports.back().Info;
  EXPECT_EQ(last.FileIndex, -1);
  EXPECT_NEAR(double(last.CurrentTime), 3e6, 1e5);
  EXPECT_NEAR(double(last.FrameNumber), 75.0, 2.0);
  EXPECT_GT(last.TotalSize, 0);
}

TEST_F(EncoderRunTest, WithoutTheMainThreadRuleEventsRunOnTheTasksThreads) {
  TFFEncoder encoder;
  encoder.TriggerEventInMainThread = false;
  TNoticeRecorder notices(encoder);
  TProgressRecorder progress(encoder);
  ASSERT_EQ(AddFlvTask(encoder, Input(), "out.flv"), 0);
  encoder.StartTask(1);
  // Nothing here serves the main thread's dispatch.
  for (int waited = 0; !notices.AllEnded() && waited < 1200; ++waited)
    std::this_thread::sleep_for(100ms);
  ASSERT_TRUE(notices.AllEnded());
  for (const TNotice& notice : notices.Notices()) EXPECT_FALSE(notice.OnMainThread);
  ASSERT_GT(progress.Count(), 0u);
  for (const TProgress& report : progress.Reports()) EXPECT_FALSE(report.OnMainThread);
  ExpectConverted(Output("out.flv"));
}

TEST_F(EncoderRunTest, PauseHoldsTheRunAndResumeCompletesIt) {
  TFFEncoder encoder;
  TNoticeRecorder notices(encoder);
  TProgressRecorder progress(encoder);
  encoder.SetProgressInterval(100);
  ASSERT_EQ(AddFlvTask(encoder, LongInput(), "out.flv"), 0);
  progress.AtFirstReport = [&] { encoder.Pause(); };
  encoder.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return progress.Count() > 0; }));
  EXPECT_TRUE(encoder.Paused());
  CheckSynchronize(50);  // a report already on its way
  const size_t reportsWhenPaused = progress.Count();
  for (int n = 0; n < 30; ++n) CheckSynchronize(10);
  EXPECT_EQ(progress.Count(), reportsWhenPaused);
  EXPECT_TRUE(notices.Empty());
  encoder.Resume();
  EXPECT_FALSE(encoder.Paused());
  ASSERT_TRUE(notices.WaitForAllEnded());
  ASSERT_EQ(notices.Indexes(), (std::vector<int>{0, -1}));
  EXPECT_TRUE(notices.Notices()[0].Info.Finished);
}

TEST_F(EncoderRunTest, ATaskDueWhileTheEncoderIsPausedWaitsForResume) {
  TFFEncoder encoder;
  TNoticeRecorder notices(encoder);
  std::vector<int> reportTasks;
  // Paused at the first task's final report: it ends paused, and the next is due at once.
  encoder.OnProgress = [&](void*, PProgressInfo info) {
    reportTasks.push_back(info->TaskIndex);
    if (info->TaskIndex == 0 && info->FileIndex == -1) encoder.Pause();
  };
  for (int n = 0; n < 2; ++n)
    ASSERT_EQ(AddFlvTask(encoder, Input(), std::to_string(n) + ".flv"), n);
  encoder.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return encoder.Paused(); }));
  for (int n = 0; n < 30; ++n) CheckSynchronize(10);
  EXPECT_EQ(std::count(reportTasks.begin(), reportTasks.end(), 1), 0);
  EXPECT_EQ(notices.Indexes(), (std::vector<int>{0}));
  encoder.Resume();
  ASSERT_TRUE(notices.WaitForAllEnded());
  EXPECT_EQ(notices.Indexes(), (std::vector<int>{0, 1, -1}));
  EXPECT_GT(std::count(reportTasks.begin(), reportTasks.end(), 1), 0);
  ExpectAllFinished(notices.Notices());
}

TEST_F(EncoderRunTest, PreviewPicturesComeToTheMainThreadAtTheOutputSize) {
  TFFEncoder encoder;
  TNoticeRecorder notices(encoder);
  encoder.SetPreviewBitmap(true);
  std::vector<TPreviewInfo> previews;
  bool sizesRight = true;
  bool onMainThread = true;
  encoder.OnPreviewBitmap = [&](void*, const TPreviewInfo& info) {
    onMainThread = onMainThread && IsMainThread();
    sizesRight =
        sizesRight && info.Bitmap && info.Bitmap->Width() == 160 && info.Bitmap->Height() == 120;
    previews.push_back(info);
  };
  TOutputOptions options;
  InitOutputOptions(options);
  options.FrameSize = "160x120";
  ASSERT_EQ(AddFlvTask(encoder, Input(), "out.flv", &options), 0);
  encoder.StartTask(1);
  ASSERT_TRUE(notices.WaitForAllEnded());
  ASSERT_FALSE(previews.empty());
  EXPECT_TRUE(onMainThread);
  EXPECT_TRUE(sizesRight);
  for (size_t n = 1; n < previews.size(); ++n) {
    EXPECT_EQ(previews[n].TaskIndex, 0);
    EXPECT_GT(previews[n].FrameNumber, previews[n - 1].FrameNumber);
    EXPECT_GT(previews[n].PTS, previews[n - 1].PTS);
  }
}

TEST_F(EncoderRunTest, ThePreviewCanBeSwitchedOffFromItsOwnHandler) {
  TFFEncoder encoder;
  TNoticeRecorder notices(encoder);
  encoder.SetPreviewBitmap(true);
  int previews = 0;
  encoder.OnPreviewBitmap = [&](void*, const TPreviewInfo&) {
    if (++previews == 2) encoder.SetPreviewBitmap(false);
  };
  ASSERT_EQ(AddFlvTask(encoder, LongInput(), "out.flv"), 0);
  encoder.StartTask(1);
  ASSERT_TRUE(notices.WaitForAllEnded());
  EXPECT_EQ(previews, 2);
  EXPECT_FALSE(encoder.PreviewBitmap());
  EXPECT_TRUE(notices.Notices()[0].Info.Finished);
}

TEST_F(EncoderRunTest, HooksRunOnTheTaskThreadAndAStoppedHookIsNotCalledAgain) {
  TFFEncoder encoder;
  TNoticeRecorder notices(encoder);
  std::atomic<int> videoCalls{0}, frameCalls{0}, audioCalls{0};
  std::atomic<bool> onTaskThread{true}, recordsRight{true};
  encoder.OnVideoOutputHook = [&](void* sender, PHookInfo info) {
    onTaskThread = onTaskThread && !IsMainThread();
    recordsRight = recordsRight && sender == &encoder && info->TaskIndex == 0 &&
                   info->Bitmap->Width() == 160 && info->Bitmap->BitsPixel() == 32 &&
                   info->Update && !info->StopHook;
    // White pictures from here on: the output shows them.
    for (int row = 0; row < info->Bitmap->Height(); ++row)
      std::fill_n(info->Bitmap->ScanLine(row), info->Bitmap->Width() * 4, uint8_t(255));
    if (++videoCalls == 5) info->StopHook = true;
  };
  encoder.OnFrameOutputHook = [&](void*, PFrameHookInfo info) {
    onTaskThread = onTaskThread && !IsMainThread();
    recordsRight = recordsRight && info->TaskIndex == 0 && info->Width == 160 &&
                   info->Height == 120 && info->Picture && info->FrameNumber == frameCalls + 1;
    ++frameCalls;
  };
  encoder.OnAudioHook = [&](void*, int taskIndex, int64_t, uint8_t* sample, int size,
                            int sampleRate, int channels, AVSampleFormat) {
    onTaskThread = onTaskThread && !IsMainThread();
    recordsRight = recordsRight && taskIndex == 0 && sample && size > 0 && sampleRate == 44100 &&
                   channels == 2;
    ++audioCalls;
  };
  TOutputOptions options;
  InitOutputOptions(options);
  options.FrameSize = "160x120";
  options.VideoOutputHook = true;
  options.FrameOutputHook = true;
  options.AudioHook = true;
  options.HookBitsPixel = 32;
  ASSERT_EQ(AddFlvTask(encoder, Input(), "out.flv", &options), 0);
  encoder.StartTask(1);
  ASSERT_TRUE(notices.WaitForAllEnded());
  EXPECT_TRUE(onTaskThread);
  EXPECT_TRUE(recordsRight);
  EXPECT_EQ(videoCalls, 5);
  EXPECT_NEAR(double(frameCalls), 75.0, 2.0);
  EXPECT_GT(audioCalls, 0);
  // The hooked pictures are white, the later ones the test pattern.
  std::string text;
  ASSERT_EQ(
      fixtures::Run("ffprobe -v error -f lavfi -show_entries frame_tags=lavfi.signalstats.YAVG"
                    " -of csv=p=0 " +
                        fixtures::ShellQuote("movie=" + Output("out.flv") + ",signalstats"),
                    &text),
      0)
      << text;
  std::istringstream lines(text);
  std::vector<double> brightness;
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) brightness.push_back(std::stod(line));
  ASSERT_GE(brightness.size(), 10u);
  for (size_t n = 0; n < 5; ++n) EXPECT_GT(brightness[n], 220.0) << n;
  EXPECT_LT(brightness.back(), 200.0);
}

// ---- Destruction mid-run ----

TEST_F(EncoderRunTest, DestroyingTheEncoderMidConversionNeitherHangsNorLeavesThreads) {
  const std::string input = LongInput();
  const int threadsBefore = ThreadCount();
  auto encoder = std::make_unique<TFFEncoder>();
  std::atomic<int> notices{0};
  encoder->OnTerminate = [&](void*, const TTerminateInfo&) { ++notices; };
  TProgressRecorder progress(*encoder);
  encoder->SetProgressInterval(100);
  for (int n = 0; n < 3; ++n) ASSERT_EQ(AddFlvTask(*encoder, input, std::to_string(n) + ".flv"), n);
  encoder->StartTask(2);
  ASSERT_TRUE(PumpUntil([&] { return progress.Count() > 0; }));
  // Without the main thread's dispatch both tasks soon wait for it with a progress report.
  std::this_thread::sleep_for(300ms);
  encoder.reset();
  EXPECT_EQ(notices, 0);
  EXPECT_EQ(ThreadCount(), threadsBefore);
  CheckSynchronize(50);
  EXPECT_EQ(notices, 0);
}

TEST_F(EncoderRunTest, DestroyingTheEncoderWhileANoticeWaitsForTheMainThreadEndsItsThread) {
  const int threadsBefore = ThreadCount();
  auto encoder = std::make_unique<TFFEncoder>();
  std::atomic<int> notices{0};
  encoder->OnTerminate = [&](void*, const TTerminateInfo&) { ++notices; };
  ASSERT_EQ(AddFlvTask(*encoder, Input(), "out.flv"), 0);
  encoder->StartTask(1);
  // No other event needs the main thread, so the task ends and its notice waits for it.
  for (int waited = 0; !encoder->AllEnded() && waited < 1200; ++waited)
    std::this_thread::sleep_for(100ms);
  ASSERT_TRUE(encoder->AllEnded());
  EXPECT_GT(ThreadCount(), threadsBefore);
  encoder.reset();
  EXPECT_EQ(notices, 0);
  EXPECT_EQ(ThreadCount(), threadsBefore);
  ExpectConverted(Output("out.flv"));
}

}  // namespace
