// The transcoder task's life: creation, start refusals, stop, abort, pause and the I/O time-out.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>

#include "FFmpegTestSupport.h"
#include "MediaFixtures.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Counts the end reports of a task and remembers the thread of the last one.
struct TEndRecorder {
  std::atomic<int> Count{0};
  std::atomic<std::thread::id> Thread{};
  std::function<void(TCustomFFmpeg*)> Extra;

  void Attach(TCustomFFmpeg& task) {
    task.OnTerminate = [this](TCustomFFmpeg* sender) {
      Thread = std::this_thread::get_id();
      if (Extra) Extra(sender);
      ++Count;
    };
  }
};

class TaskTest : public FFmpegTestBase {
 protected:
  // A task with one input and one FLV output in its own folder.
  std::unique_ptr<TProbeTask> ConfiguredTask(const std::string& tag) {
    Folder = fixtures::TempDir(tag);
    Output = Folder + "/out.flv";
    auto task = std::make_unique<TProbeTask>();
    EXPECT_TRUE(task->OpenInputFile(fixtures::Path(fixtures::Media::Mp4H264Aac)))
        << task->LastErrMsg;
    EXPECT_EQ(task->OpenOutputFile(Output, false), 0) << task->LastErrMsg;
    return task;
  }

  std::string Folder;
  std::string Output;
};

TEST_F(TaskTest, MaxFilesMustLieBetweenOneAnd512) {
  EXPECT_THROW(TCustomFFmpeg(0), std::out_of_range);
  EXPECT_THROW(TCustomFFmpeg(513), std::out_of_range);
  EXPECT_EQ(TCustomFFmpeg(512).MaxFiles(), 512);
  EXPECT_EQ(TCustomFFmpeg(1).MaxFiles(), 1);
}

TEST_F(TaskTest, StartWithoutFilesEndsAtOnceNamingTheMissingOutputFirst) {
  TLogRecorder log;
  TProbeTask task;
  TEndRecorder end;
  end.Attach(task);
  EXPECT_EQ(task.Start(true), nullptr);
  EXPECT_EQ(end.Count, 1);
  EXPECT_EQ(end.Thread.load(), std::this_thread::get_id());
  EXPECT_TRUE(task.ExceptionRaised);
  EXPECT_EQ(task.ExceptionMessage, "At least one output file must be specified");
  EXPECT_TRUE(log.Has("At least one output file must be specified", llQuiet, &task));
  EXPECT_TRUE(task.Terminated);
  EXPECT_FALSE(task.Running);
  EXPECT_FALSE(task.Finished);
}

TEST_F(TaskTest, StartWithOutputsButNoInputEndsOnceAndLeavesNoFile) {
  const std::string folder = fixtures::TempDir("no-input");
  TProbeTask task;
  TEndRecorder end;
  end.Attach(task);
  ASSERT_EQ(task.OpenOutputFile(folder + "/out.flv", false), 0) << task.LastErrMsg;
  ASSERT_FALSE(fs::is_empty(folder));
  EXPECT_EQ(task.Start(true), nullptr);
  EXPECT_EQ(end.Count, 1);
  EXPECT_TRUE(task.ExceptionRaised);
  EXPECT_EQ(task.ExceptionMessage, "At least one input file must be specified");
  EXPECT_TRUE(fs::is_empty(folder));
  // A task that has ended never starts again, nor reports its end twice.
  EXPECT_EQ(task.Start(true), nullptr);
  EXPECT_EQ(task.Start(false), nullptr);
  task.Stop(true);
  EXPECT_EQ(end.Count, 1);
}

TEST_F(TaskTest, StopOnATaskNeverStartedReportsItsEndOnceFromAnotherThread) {
  TProbeTask task;
  TEndRecorder end;
  end.Attach(task);
  task.Stop(true);
  EXPECT_EQ(end.Count, 1);
  EXPECT_NE(end.Thread.load(), std::this_thread::get_id());
  EXPECT_TRUE(task.Terminated);
  EXPECT_FALSE(task.ExceptionRaised);
  task.Stop(true);
  EXPECT_EQ(end.Count, 1);
  EXPECT_EQ(task.Start(true), nullptr);
  EXPECT_EQ(end.Count, 1);
}

TEST_F(TaskTest, QuickStopsFromSeveralThreadsReportTheEndOnce) {
  for (int round = 0; round < 20; ++round) {
    TProbeTask task;
    TEndRecorder end;
    end.Attach(task);
    std::vector<std::thread> stoppers;
    for (int n = 0; n < 4; ++n) stoppers.emplace_back([&task, n] { task.Stop(n % 2 == 0); });
    task.Stop(false);
    for (std::thread& stopper : stoppers) stopper.join();
    task.Stop(true);
    EXPECT_EQ(end.Count, 1) << "round " << round;
  }
}

TEST_F(TaskTest, DestructionRightAfterStartWaitsForTheEndAndRemovesTheOutput) {
  TEndRecorder end;
  std::string output;
  {
    std::unique_ptr<TProbeTask> task = ConfiguredTask("destroy-after-start");
    output = Output;
    end.Attach(*task);
    ASSERT_NE(task->Start(true), nullptr);
    EXPECT_TRUE(task->Running);
    EXPECT_EQ(task->Start(true), nullptr);
  }
  EXPECT_EQ(end.Count, 1);
  EXPECT_NE(end.Thread.load(), std::this_thread::get_id());
  EXPECT_FALSE(fs::exists(output));
}

TEST_F(TaskTest, AbortRightAfterStartReturnsOnceTheRunHasEnded) {
  std::unique_ptr<TProbeTask> task = ConfiguredTask("abort-after-start");
  TEndRecorder end;
  end.Attach(*task);
  TConvertThread* thread = task->Start(true);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(task->ConvertThread(), thread);
  thread->Resume();
  task->Abort(true);
  EXPECT_EQ(end.Count, 1);
  EXPECT_FALSE(task->Running);
  EXPECT_FALSE(task->Finished);
  EXPECT_EQ(task->ConvertThread(), nullptr);
  EXPECT_FALSE(task->ExceptionRaised) << task->ExceptionMessage;
  // The thread may have written the header before the abort reached it (a slow machine, a
  // sanitizer): then the output is a short file, never an empty one.
  if (fs::exists(Output)) {
    EXPECT_GT(fs::file_size(Output), 0u);
  }
}

TEST_F(TaskTest, SynchronousStartRunsOnTheCallersThread) {
  std::unique_ptr<TProbeTask> task = ConfiguredTask("sync-start");
  TEndRecorder end;
  end.Attach(*task);
  EXPECT_EQ(task->Start(false), nullptr);
  EXPECT_EQ(end.Count, 1);
  EXPECT_EQ(end.Thread.load(), std::this_thread::get_id());
  EXPECT_FALSE(task->Running);
  EXPECT_TRUE(task->Terminated);
  EXPECT_EQ(task->OutputCount(), 0);
  EXPECT_TRUE(task->Finished);
  EXPECT_GT(fs::file_size(Output), 0u);  // converted, closed and kept
}

// The run stops at the gate it checks between packets while the task is paused.
class TGateProbe {
 public:
  void Attach(TEndRecorder& end) {
    end.Extra = [this](TCustomFFmpeg* sender) {
      FReached.set_value();
      FPaused.get_future().wait();
      sender->CheckPaused();
      Passed = true;
    };
  }
  void WaitUntilReached() { FReached.get_future().wait(); }
  void Paused() { FPaused.set_value(); }
  std::atomic<bool> Passed{false};

 private:
  std::promise<void> FReached;
  std::promise<void> FPaused;
};

TEST_F(TaskTest, AbortOnAPausedTaskResumesItAndWaitsForTheEnd) {
  std::unique_ptr<TProbeTask> task = ConfiguredTask("abort-paused");
  TEndRecorder end;
  TGateProbe gate;
  gate.Attach(end);
  end.Attach(*task);
  TConvertThread* thread = task->Start(true);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(thread->Suspended());
  thread->Resume();
  EXPECT_FALSE(thread->Suspended());
  gate.WaitUntilReached();
  task->Pause();
  EXPECT_TRUE(thread->Suspended());
  gate.Paused();
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(gate.Passed);
  task->Abort(true);
  EXPECT_TRUE(gate.Passed);
  EXPECT_EQ(end.Count, 1);
}

TEST_F(TaskTest, ResumeOpensTheGateAgain) {
  std::unique_ptr<TProbeTask> task = ConfiguredTask("pause-resume");
  TEndRecorder end;
  TGateProbe gate;
  gate.Attach(end);
  end.Attach(*task);
  task->Start(true)->Resume();
  gate.WaitUntilReached();
  task->Pause();
  gate.Paused();
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(gate.Passed);
  task->Resume();
  while (!gate.Passed) std::this_thread::sleep_for(1ms);
  task->Abort(true);
  EXPECT_EQ(end.Count, 1);
}

TEST_F(TaskTest, AbortAndStopFromTheTasksOwnThreadDoNotWaitOnThemselves) {
  std::unique_ptr<TProbeTask> task = ConfiguredTask("abort-own-thread");
  std::atomic<bool> returned{false};
  TEndRecorder end;
  end.Extra = [&](TCustomFFmpeg* sender) {
    sender->Abort(true);
    sender->Stop(true);
    returned = true;
  };
  end.Attach(*task);
  task->Start(true)->Resume();
  task->Abort(true);
  EXPECT_TRUE(returned);
  EXPECT_EQ(end.Count, 1);
}

TEST_F(TaskTest, EventsSentToTheMainThreadAreDeliveredWhileAbortWaits) {
  std::unique_ptr<TProbeTask> task = ConfiguredTask("abort-dispatch");
  std::atomic<bool> delivered{false};
  std::atomic<bool> onMainThread{false};
  std::promise<void> reached;
  TEndRecorder end;
  end.Extra = [&](TCustomFFmpeg* sender) {
    reached.set_value();
    sender->SynchronizeEvent([&] {
      onMainThread = IsMainThread();
      delivered = true;
    });
  };
  end.Attach(*task);
  ASSERT_TRUE(IsMainThread());
  task->Start(true)->Resume();
  reached.get_future().wait();
  task->Abort(true);
  EXPECT_TRUE(delivered);
  EXPECT_TRUE(onMainThread);
  EXPECT_EQ(end.Count, 1);
}

TEST_F(TaskTest, ThePreviewSwitchServesTheMainThreadWhileATaskHoldsThePreviewLock) {
  ASSERT_TRUE(IsMainThread());
  TProbeTask task;
  std::promise<void> locked;
  std::atomic<bool> served{false};
  std::thread taskThread([&] {
    const std::lock_guard<std::mutex> lock(FFmpegPreviewLock());
    locked.set_value();
    // What a log line does while a preview picture is being taken.
    RunInMainThread([&] { served = true; });
  });
  locked.get_future().wait();
  // A deadlock would hang the suite: end it loudly instead.
  std::atomic<bool> switched{false};
  std::thread watchdog([&] {
    for (int n = 0; n < 3000 && !switched; ++n)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (switched) return;
    std::fputs("SetPreviewFlagsLocked deadlocked against the task thread\n", stderr);
    std::abort();
  });
  task.SetPreviewFlagsLocked(1);
  switched = true;
  taskThread.join();
  watchdog.join();
  EXPECT_TRUE(served);
  EXPECT_EQ(task.PreviewFlags(), 1);
}

TEST_F(TaskTest, AbortFromInsideADispatchedEventDoesNotWaitForItsOwnTask) {
  std::unique_ptr<TProbeTask> task = ConfiguredTask("abort-in-event");
  std::atomic<bool> returned{false};
  TEndRecorder end;
  end.Extra = [&](TCustomFFmpeg* sender) {
    sender->SynchronizeEvent([&] {
      sender->Abort(true);
      returned = true;
    });
  };
  end.Attach(*task);
  task->Start(true)->Resume();
  while (end.Count == 0) CheckSynchronize(20);
  EXPECT_TRUE(returned);
  task->Abort(true);
}

// ---- I/O time-outs ----

TEST_F(TaskTest, InterruptCallbackFiresAfterTheTimeoutOrOnAbort) {
  TLogRecorder log;
  TProbeTask task;
  TProbeTask other;
  EXPECT_FALSE(task.InterruptCallback(&other));
  EXPECT_FALSE(task.InterruptCallback(&task));  // no I/O in progress
  task.IOStartTime = ff::av_gettime() - 11000 * 1000;
  EXPECT_TRUE(task.InterruptCallback(&task));
  EXPECT_TRUE(log.Has("connecting/reading/writing timeout", llInfo, &task));
  task.IOStartTime = ff::av_gettime();
  EXPECT_FALSE(task.InterruptCallback(&task));
  task.Abort(false);
  EXPECT_EQ(task.IOStartTime, 0);
  EXPECT_TRUE(task.InterruptCallback(&task));
  EXPECT_TRUE(log.Has("connecting/reading/writing canceled", llInfo, &task));
  task.Timeout = 0;
  EXPECT_FALSE(task.InterruptCallback(&task));
  EXPECT_TRUE(task.BreakCallback(&task));
  EXPECT_FALSE(task.BreakCallback(&other));
  EXPECT_FALSE(other.BreakCallback(&other));
}

// A server that accepts connections and never answers.
class TSilentServer {
 public:
  TSilentServer() {
    FSocket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(FSocket, 4);
    socklen_t length = sizeof address;
    ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &length);
    FPort = ntohs(address.sin_port);
  }
  ~TSilentServer() { ::close(FSocket); }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(FPort) + "/clip.flv"; }

 private:
  int FSocket;
  int FPort;
};

TEST_F(TaskTest, ABlockedOpenGivesUpAfterTheTimeout) {
  TLogRecorder log;
  TSilentServer server;
  TProbeTask task;
  task.Timeout = 300;
  EXPECT_FALSE(task.OpenInputFile(server.Url()));
  EXPECT_EQ(task.LastErrMsg, server.Url() + ": Immediate exit requested");
  EXPECT_TRUE(log.Has("connecting/reading/writing timeout", llInfo, &task));
  EXPECT_EQ(task.IOStartTime, INT64_MAX);
}

TEST_F(TaskTest, AbortCancelsABlockedOpenOnAnotherThread) {
  TLogRecorder log;
  TSilentServer server;
  TProbeTask task;
  task.Timeout = 600000;
  std::atomic<bool> done{false};
  bool opened = true;
  std::thread opener([&] {
    opened = task.OpenInputFile(server.Url());
    done = true;
  });
  while (!done) {
    task.Abort(false);
    std::this_thread::sleep_for(20ms);
  }
  opener.join();
  EXPECT_FALSE(opened);
  EXPECT_TRUE(log.Has("connecting/reading/writing canceled", llInfo, &task));
}

}  // namespace
