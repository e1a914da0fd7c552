#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <latch>
#include <map>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "EngineTestSupport.h"
#include "FFLoad.h"
#include "FFLog.h"

namespace {

// What OnLog received, from any thread.
class LogRecorder {
 public:
  void Record(const void* sender, std::thread::id threadID, TLogLevel level,
              const std::string& msg) {
    const std::lock_guard<std::mutex> lock(FLock);
    FEntries.push_back({sender, threadID, level, msg});
  }
  std::vector<TLogInfo> Entries() {
    const std::lock_guard<std::mutex> lock(FLock);
    return FEntries;
  }
  std::vector<std::string> Messages() {
    std::vector<std::string> messages;
    for (const TLogInfo& entry : Entries()) messages.push_back(entry.LogMsg);
    return messages;
  }

 private:
  std::mutex FLock;
  std::vector<TLogInfo> FEntries;
};

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadEngineLibraries();
    FFLogger().SetLogLevel(llInfo);
    // The repeat count and an unfinished line are shared with whatever logged before: a line
    // of its own, given to no handler, ends both.
    static int starts = 0;
    ff::av_log(nullptr, AV_LOG_PANIC, "log test %d starts\n", ++starts);
    FFLogger().TriggerEventInMainThread = false;
    FFLogger().OnLog = [this](const void* sender, std::thread::id threadID, TLogLevel level,
                              const std::string& msg) {
      Recorder.Record(sender, threadID, level, msg);
    };
  }
  void TearDown() override {
    FFLogger().OnLog = nullptr;
    FFLogger().TriggerEventInMainThread = true;
    FFLogger().SetLogLevel(llInfo);
  }

  LogRecorder Recorder;
};

using Lines = std::vector<std::string>;

// A context of our own making, optionally with a parent context, as FFmpeg's contexts are laid
// out: the class first.
const char* ChildName(void*) { return "child-item"; }
const char* ParentName(void*) { return "parent-item"; }

struct ParentContext {
  const AVClass* Class;
};
struct ChildContext {
  const AVClass* Class;
  ParentContext* Parent;
};

AVClass MakeClass(const char* name, const char* (*itemName)(void*), int parentOffset) {
  AVClass avClass{};
  avClass.class_name = name;
  avClass.item_name = itemName;
  avClass.version = LIBAVUTIL_VERSION_INT;
  avClass.parent_log_context_offset = parentOffset;
  return avClass;
}

std::string Pointer(const void* address) {
  char text[64];
  std::snprintf(text, sizeof text, "%p", address);
  return text;
}

}  // namespace

TEST_F(LogTest, ThreeIdenticalLinesFoldIntoANoticeBeforeTheNextLine) {
  for (int n = 0; n < 3; ++n) ff::av_log(nullptr, AV_LOG_INFO, "the same line\n");
  EXPECT_EQ(Recorder.Messages(), Lines{"the same line"});
  ff::av_log(nullptr, AV_LOG_INFO, "a different line\n");
  EXPECT_EQ(Recorder.Messages(),
            (Lines{"the same line", "    Last message repeated 2 times", "a different line"}));
  const std::vector<TLogInfo> entries = Recorder.Entries();
  EXPECT_EQ(entries[1].Sender, &FFLogger());
  EXPECT_EQ(entries[1].LogLevel, llInfo);
  EXPECT_EQ(entries[1].ThreadID, std::this_thread::get_id());
}

TEST_F(LogTest, TwoIdenticalLinesGiveNoNotice) {
  ff::av_log(nullptr, AV_LOG_WARNING, "logged twice\n");
  ff::av_log(nullptr, AV_LOG_WARNING, "logged twice\n");
  ff::av_log(nullptr, AV_LOG_WARNING, "next line\n");
  EXPECT_EQ(Recorder.Messages(), (Lines{"logged twice", "next line"}));
  EXPECT_EQ(Recorder.Entries()[0].LogLevel, llWarning);
}

TEST_F(LogTest, FragmentsAreHeldUntilTheLineFeedArrives) {
  ff::av_log(nullptr, AV_LOG_INFO, "first fragment, ");
  ff::av_log(nullptr, AV_LOG_INFO, "%s", "second fragment, ");
  EXPECT_TRUE(Recorder.Messages().empty());
  ff::av_log(nullptr, AV_LOG_INFO, "end %d\nstart of the next", 42);
  EXPECT_EQ(Recorder.Messages(), Lines{"first fragment, second fragment, end 42"});
  ff::av_log(nullptr, AV_LOG_INFO, " line\n\n");
  EXPECT_EQ(Recorder.Messages(),
            (Lines{"first fragment, second fragment, end 42", "start of the next line", ""}));
}

TEST_F(LogTest, LongMessagesArriveWhole) {
  const std::string longText(3000, 'x');
  ff::av_log(nullptr, AV_LOG_ERROR, "%s<end>\n", longText.c_str());
  FFLogger().Log(nullptr, llError, longText);
  EXPECT_EQ(Recorder.Messages(), (Lines{longText + "<end>", longText}));
}

TEST_F(LogTest, LibraryLinesAboveTheLevelAreDropped) {
  FFLogger().SetLogLevel(llWarning);
  EXPECT_EQ(ff::av_log_get_level(), AV_LOG_WARNING);
  ff::av_log(nullptr, AV_LOG_INFO, "info is dropped\n");
  ff::av_log(nullptr, AV_LOG_VERBOSE, "verbose is dropped\n");
  ff::av_log(nullptr, AV_LOG_WARNING, "warning passes\n");
  ff::av_log(nullptr, AV_LOG_ERROR, "error passes\n");
  EXPECT_EQ(Recorder.Messages(), (Lines{"warning passes", "error passes"}));
  FFLogger().SetLogLevel(llDebug);
  EXPECT_EQ(ff::av_log_get_level(), AV_LOG_DEBUG);
  ff::av_log(nullptr, AV_LOG_DEBUG, "debug passes\n");
  EXPECT_EQ(Recorder.Messages().back(), "debug passes");
}

TEST_F(LogTest, EngineMessagesFollowTheLevelAndTheVerboseRule) {
  int sender = 0;
  FFLogger().SetLogLevel(llWarning);
  FFLogger().Log(&sender, llVerbose, "verbose passes below info");
  FFLogger().Log(&sender, llDebug, "debug is dropped");
  FFLogger().Log(&sender, llInfo, "info is dropped");
  FFLogger().LogFmt(&sender, llError, "error %s %d", "passes", 7);
  FFLogger().SetLogLevel(llQuiet);
  FFLogger().Log(&sender, llVerbose, "verbose is dropped when quiet");
  FFLogger().Log(&sender, llDebug, "debug is dropped when quiet");
  FFLogger().Log(&sender, llQuiet, "quiet messages always pass");
  EXPECT_EQ(Recorder.Messages(),
            (Lines{"verbose passes below info", "error passes 7", "quiet messages always pass"}));
  const std::vector<TLogInfo> entries = Recorder.Entries();
  EXPECT_EQ(entries[0].Sender, &sender);
  EXPECT_EQ(entries[0].LogLevel, llVerbose);
  EXPECT_EQ(entries[1].LogLevel, llError);
}

TEST_F(LogTest, LevelNamesAndNumbers) {
  FFLogger().SetLogLevelByName("debug");
  EXPECT_EQ(FFLogger().LogLevel(), llDebug);
  FFLogger().SetLogLevelByName("quiet");
  EXPECT_EQ(FFLogger().LogLevel(), llQuiet);
  EXPECT_EQ(ff::av_log_get_level(), AV_LOG_QUIET);
  FFLogger().SetLogLevelByName("24");
  EXPECT_EQ(FFLogger().LogLevel(), llWarning);
  FFLogger().SetLogLevelByName("99");
  EXPECT_EQ(FFLogger().LogLevel(), llDebug);
  FFLogger().SetLogLevelByName("-100");
  EXPECT_EQ(FFLogger().LogLevel(), llQuiet);
  EXPECT_THROW(FFLogger().SetLogLevelByName("loud"), std::invalid_argument);
  EXPECT_THROW(FFLogger().SetLogLevelByName("12abc"), std::invalid_argument);
  EXPECT_THROW(FFLogger().SetLogLevelByName(""), std::invalid_argument);
  EXPECT_EQ(FFLogger().LogLevel(), llQuiet);
}

TEST_F(LogTest, LevelMappingTruncatesAndClamps) {
  EXPECT_EQ(LogLevelToAVLevel(llQuiet), AV_LOG_QUIET);
  EXPECT_EQ(LogLevelToAVLevel(llDebug), AV_LOG_DEBUG);
  EXPECT_EQ(AVLevelToLogLevel(AV_LOG_TRACE), llDebug);
  EXPECT_EQ(AVLevelToLogLevel(31), llWarning);
  EXPECT_EQ(AVLevelToLogLevel(-1), llPanic);
  EXPECT_EQ(AVLevelToLogLevel(-16), llQuiet);
}

TEST_F(LogTest, LinesStartWithTheContextAndItsParent) {
  ParentContext parent{nullptr};
  const AVClass parentClass = MakeClass("Parent", ParentName, 0);
  parent.Class = &parentClass;
  const AVClass childClass = MakeClass("Child", ChildName, int(offsetof(ChildContext, Parent)));
  ChildContext child{&childClass, &parent};
  const AVClass namelessClass = MakeClass("Nameless", nullptr, 0);
  ParentContext nameless{&namelessClass};

  ff::av_log(&child, AV_LOG_INFO, "opened\n");
  ff::av_log(&parent, AV_LOG_INFO, "alone\n");
  child.Parent = nullptr;
  ff::av_log(&child, AV_LOG_INFO, "first half, ");
  ff::av_log(&child, AV_LOG_INFO, "second half\n");
  ff::av_log(&nameless, AV_LOG_INFO, "class name\n");

  const std::string childPrefix = "[child-item @ " + Pointer(&child) + "]";
  EXPECT_EQ(Recorder.Messages(),
            (Lines{"[parent-item @ " + Pointer(&parent) + "] " + childPrefix + "opened",
                   "[parent-item @ " + Pointer(&parent) + "]alone",
                   childPrefix + "first half, second half",
                   "[Nameless @ " + Pointer(&nameless) + "]class name"}));
}

// Threads log their lines in fragments at once, each line ending in a fragment of its own as
// FFmpeg's lines often do: every thread's lines arrive whole, each once, from that thread.
TEST_F(LogTest, LinesOfManyThreadsNeverInterleave) {
  constexpr int Threads = 8;
  constexpr int LinesPerThread = 500;
  // All start together, so that their lines meet.
  std::latch started(Threads);
  const auto writer = [&started](int name) {
    started.arrive_and_wait();
    for (int n = 0; n < LinesPerThread; ++n) {
      ff::av_log(nullptr, AV_LOG_INFO, "%d says ", name);
      ff::av_log(nullptr, AV_LOG_INFO, "%d", n);
      ff::av_log(nullptr, AV_LOG_INFO, "\n");
    }
  };
  std::vector<std::thread> writers;
  std::map<std::thread::id, int> names;
  for (int name = 0; name < Threads; ++name) {
    writers.emplace_back(writer, name);
    names[writers.back().get_id()] = name;
  }
  for (std::thread& thread : writers) thread.join();

  std::vector<Lines> expected(Threads), seen(Threads);
  for (int name = 0; name < Threads; ++name)
    for (int n = 0; n < LinesPerThread; ++n)
      expected[name].push_back(std::to_string(name) + " says " + std::to_string(n));
  for (const TLogInfo& entry : Recorder.Entries()) {
    ASSERT_EQ(names.count(entry.ThreadID), 1u) << entry.LogMsg;
    seen[names[entry.ThreadID]].push_back(entry.LogMsg);
  }
  for (int name = 0; name < Threads; ++name) {
    const auto [got, wanted] = std::mismatch(seen[name].begin(), seen[name].end(),
                                             expected[name].begin(), expected[name].end());
    EXPECT_TRUE(got == seen[name].end() && wanted == expected[name].end())
        << "thread " << name << " sent \"" << (got == seen[name].end() ? "nothing" : *got)
        << "\" for \"" << (wanted == expected[name].end() ? "nothing" : *wanted) << "\"";
  }
}

// Repeats are whole lines compared with the previous whole line, whichever threads logged
// them: the fragment that ends one thread's line is never taken for a repeat of another's.
TEST_F(LogTest, RepeatsAreWholeLines) {
  struct Step {
    bool OtherThread;
    const char* Fragment;
  };
  struct Case {
    const char* Name;
    std::vector<Step> Steps;
    Lines Expected;
  };
  const std::vector<Case> cases = {
      {"another thread's line equals this line's end",
       {{false, "a, "}, {true, "x\n"}, {false, "x\n"}},
       {"x", "a, x"}},
      {"this line's end equals another thread's next line",
       {{false, "a, "}, {false, "x\n"}, {true, "x\n"}},
       {"a, x", "x"}},
      {"a line made of fragments repeats whole",
       {{false, "rep"}, {false, "eat\n"}, {false, "repeat\n"}, {false, "repeat\n"},
        {false, "end\n"}},
       {"repeat", "    Last message repeated 2 times", "end"}},
      {"equal lines of two threads fold",
       {{false, "same\n"}, {true, "same\n"}, {true, "same\n"}, {false, "next\n"}},
       {"same", "    Last message repeated 2 times", "next"}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.Name);
    // A line of its own ends whatever the case before left counting.
    ff::av_log(nullptr, AV_LOG_PANIC, "%s\n", test.Name);
    const std::size_t before = Recorder.Entries().size();
    for (const Step& step : test.Steps) {
      const auto log = [&step] { ff::av_log(nullptr, AV_LOG_INFO, "%s", step.Fragment); };
      if (step.OtherThread)
        std::thread(log).join();
      else
        log();
    }
    const Lines messages = Recorder.Messages();
    EXPECT_EQ(Lines(messages.begin() + std::ptrdiff_t(before), messages.end()), test.Expected);
  }
}

// Workers wait in the event for the main thread while the main thread logs itself: delivery
// must not hold the log's lock, or the main thread's own line would wait for ever.
TEST_F(LogTest, MainThreadDeliveryDoesNotBlockTheMainThreadsOwnLines) {
  FFLogger().TriggerEventInMainThread = true;
  std::atomic<int> offMainThread{0};
  FFLogger().OnLog = [&](const void* sender, std::thread::id threadID, TLogLevel level,
                         const std::string& msg) {
    if (!IsMainThread()) ++offMainThread;
    Recorder.Record(sender, threadID, level, msg);
  };
  constexpr int LinesPerWorker = 50;
  std::atomic<int> running{2};
  const auto worker = [&running](const char* name) {
    for (int n = 0; n < LinesPerWorker; ++n) ff::av_log(nullptr, AV_LOG_INFO, "%s %d\n", name, n);
    --running;
  };
  std::thread first(worker, "first worker");
  std::thread second(worker, "second worker");
  int mainLines = 0;
  while (running > 0) {
    ff::av_log(nullptr, AV_LOG_INFO, "main thread %d\n", mainLines++);
    CheckSynchronize(5);
  }
  first.join();
  second.join();
  EXPECT_EQ(offMainThread, 0);
  EXPECT_EQ(Recorder.Entries().size(), std::size_t(2 * LinesPerWorker + mainLines));
}

// A line that cannot be built (here its context's name cannot be had, as when memory runs out)
// is lost with a word on the error stream; nothing unwinds through FFmpeg's frames, and the
// lines after it arrive.
const char* NameWithoutMemory(void*) { throw std::bad_alloc(); }

TEST_F(LogTest, ALineThatCannotBeBuiltIsLostAndTheNextArrives) {
  const AVClass failingClass = MakeClass("Failing", NameWithoutMemory, 0);
  ParentContext failing{&failingClass};
  testing::internal::CaptureStderr();
  EXPECT_NO_THROW(ff::av_log(&failing, AV_LOG_ERROR, "lost\n"));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("std::bad_alloc"), std::string::npos);
  ff::av_log(nullptr, AV_LOG_ERROR, "arrives\n");
  EXPECT_EQ(Recorder.Messages(), Lines{"arrives"});
}
