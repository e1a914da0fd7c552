#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "FFBaseComponent.h"
#include "EngineTestSupport.h"
#include "FFLoad.h"
#include "FFLog.h"
#include "MediaFixtures.h"

using namespace std::chrono_literals;

namespace {

class BaseTest : public ::testing::Test {
 protected:
  void SetUp() override { LoadEngineLibraries(); }
  void TearDown() override {
    SetSynchronizeHooks(nullptr, nullptr);
    FFLogger().OnLog = nullptr;
    FFLogger().TriggerEventInMainThread = true;
    FFLogger().SetLogLevel(llInfo);
  }
};

// Pumps until one queued call has run; false when none came within a few seconds.
bool PumpOnce() {
  for (int n = 0; n < 50; ++n)
    if (CheckSynchronize(100)) return true;
  return false;
}

bool FlagIsSet(void* owner) { return static_cast<std::atomic<bool>*>(owner)->load(); }
bool AlwaysTrue(void*) { return true; }

// A TCP listener on 127.0.0.1 that accepts connections and never sends a byte.
class SilentListener {
 public:
  SilentListener() {
    FSocket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (FSocket < 0 || ::bind(FSocket, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(FSocket, 4) != 0 ||
        ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("cannot listen on the loopback interface");
    FPort = ntohs(address.sin_port);
    FThread = std::thread([this] { AcceptUntilStopped(); });
  }
  ~SilentListener() {
    FStop = true;
    FThread.join();
    for (int client : FClients) ::close(client);
    ::close(FSocket);
  }
  int Port() const { return FPort; }
  bool Accepted() const { return FAccepted; }

 private:
  void AcceptUntilStopped() {
    while (!FStop) {
      pollfd wait{FSocket, POLLIN, 0};
      if (::poll(&wait, 1, 20) == 1) {
        const int client = ::accept(FSocket, nullptr, nullptr);
        if (client >= 0) FClients.push_back(client);
        FAccepted = true;
      }
    }
  }

  int FSocket = -1;
  int FPort = 0;
  std::atomic<bool> FStop{false};
  std::atomic<bool> FAccepted{false};
  std::vector<int> FClients;
  std::thread FThread;
};

}  // namespace

TEST_F(BaseTest, OnTheMainThreadRunInMainThreadRunsAtOnce) {
  ASSERT_TRUE(IsMainThread());
  bool ran = false;
  RunInMainThread([&ran] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_THROW(RunInMainThread([] { throw FFmpegException("at once"); }), FFmpegException);
  EXPECT_FALSE(CheckSynchronize(0));
}

TEST_F(BaseTest, WorkerWaitsUntilTheMainThreadPumps) {
  std::atomic<bool> workerReturned{false};
  std::thread::id ranOn;
  std::thread worker([&] {
    EXPECT_FALSE(IsMainThread());
    RunInMainThread([&ranOn] { ranOn = std::this_thread::get_id(); });
    workerReturned = true;
  });
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(workerReturned);
  EXPECT_TRUE(PumpOnce());
  worker.join();
  EXPECT_TRUE(workerReturned);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_FALSE(CheckSynchronize(0));
}

TEST_F(BaseTest, HandlerExceptionTravelsBackToTheWorker) {
  std::string caught;
  std::thread worker([&caught] {
    try {
      RunInMainThread([] { throw FFmpegException("handler failed"); });
    } catch (const FFmpegException& e) {
      caught = e.what();
    }
  });
  EXPECT_TRUE(PumpOnce());
  worker.join();
  EXPECT_EQ(caught, "handler failed");
}

TEST_F(BaseTest, HostHooksWakeAndPumpTheMainThread) {
  std::mutex lock;
  std::condition_variable woken;
  int wakes = 0;
  int pumps = 0;
  SetSynchronizeHooks(
      [&] {
        const std::lock_guard<std::mutex> guard(lock);
        ++wakes;
        woken.notify_all();
      },
      [&pumps] {
        ++pumps;
        CheckSynchronize(0);
      });
  bool ran = false;
  std::thread worker([&ran] { RunInMainThread([&ran] { ran = true; }); });
  {
    std::unique_lock<std::mutex> guard(lock);
    ASSERT_TRUE(woken.wait_for(guard, 10s, [&wakes] { return wakes > 0; }));
  }
  ProcessMessages();
  worker.join();
  EXPECT_TRUE(ran);
  EXPECT_EQ(wakes, 1);
  EXPECT_EQ(pumps, 1);
}

// A call that the main thread runs may wait for a worker whose own call ran just before it in
// the same batch: that worker must already be on its way again.
TEST_F(BaseTest, WorkerGoesOnAsSoonAsItsCallHasRun) {
  std::mutex lock;
  std::condition_variable changed;
  int wakes = 0;
  bool firstReturned = false;
  SetSynchronizeHooks(
      [&] {
        const std::lock_guard<std::mutex> guard(lock);
        ++wakes;
        changed.notify_all();
      },
      nullptr);
  const auto waitFor = [&](auto condition) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, 10s, condition);
  };
  std::thread first([&] {
    RunInMainThread([] {});
    const std::lock_guard<std::mutex> guard(lock);
    firstReturned = true;
    changed.notify_all();
  });
  ASSERT_TRUE(waitFor([&] { return wakes == 1; }));
  bool sawFirstReturn = false;
  std::thread second(
      [&] { RunInMainThread([&] { sawFirstReturn = waitFor([&] { return firstReturned; }); }); });
  ASSERT_TRUE(waitFor([&] { return wakes == 2; }));
  EXPECT_TRUE(CheckSynchronize(0));
  first.join();
  second.join();
  EXPECT_TRUE(sawFirstReturn);
}

TEST_F(BaseTest, HostCanNameAnotherMainThread) {
  std::atomic<bool> hostReady{false};
  std::atomic<bool> stop{false};
  std::thread host([&] {
    SetMainThread();
    hostReady = true;
    while (!stop) CheckSynchronize(10);
  });
  while (!hostReady) std::this_thread::yield();
  EXPECT_FALSE(IsMainThread());
  std::thread::id ranOn;
  RunInMainThread([&ranOn] { ranOn = std::this_thread::get_id(); });
  EXPECT_EQ(ranOn, host.get_id());
  stop = true;
  host.join();
  SetMainThread();
  EXPECT_TRUE(IsMainThread());
}

// The main thread waits for a worker that first needs a call run on the main thread: the wait
// serves that call, and lets the host dispatch its events only where asked to.
TEST_F(BaseTest, MainThreadWaitServesTheCallOfTheWorkerItWaitsFor) {
  struct Case {
    const char* name;
    bool forLock;
    TMainThreadService service;
  };
  const Case cases[] = {
      {"event, calls and events", false, TMainThreadService::CallsAndEvents},
      {"event, calls only", false, TMainThreadService::CallsOnly},
      {"lock, calls and events", true, TMainThreadService::CallsAndEvents},
      {"lock, calls only", true, TMainThreadService::CallsOnly},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<int> pumps{0};
    SetSynchronizeHooks(nullptr, [&pumps] { ++pumps; });
    std::mutex mutex;
    TManualResetEvent locked(false);
    TManualResetEvent done(false);
    std::thread::id ranOn;
    std::thread worker([&] {
      std::unique_lock<std::mutex> hold(mutex);
      locked.Set();
      RunInMainThread([&ranOn] { ranOn = std::this_thread::get_id(); });
      hold.unlock();
      done.Set();
    });
    if (c.forLock) {
      EXPECT_TRUE(locked.WaitFor(10000));
      EXPECT_TRUE(LockServingMainThread(mutex, c.service).owns_lock());
    } else {
      EXPECT_TRUE(WaitServingMainThread([&done](int ms) { return done.WaitFor(ms); }, WaitForever,
                                        c.service));
    }
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(pumps > 0, c.service == TMainThreadService::CallsAndEvents);
  }
}

TEST(ManualResetEventTest, StaysSetUntilResetAndTimesOut) {
  TManualResetEvent event(false);
  EXPECT_FALSE(event.WaitFor(0));
  EXPECT_FALSE(event.WaitFor(20));
  EXPECT_FALSE(WaitServingMainThread(event, 20));
  bool workerSaw = false;
  std::thread waiter([&] { workerSaw = WaitServingMainThread(event, 10000); });
  event.Set();
  waiter.join();
  EXPECT_TRUE(workerSaw);
  EXPECT_TRUE(event.IsSet());
  EXPECT_TRUE(WaitServingMainThread(event, 0));
  event.Reset();
  EXPECT_FALSE(event.IsSet());
  std::thread late([&] { workerSaw = WaitServingMainThread(event, 20); });
  late.join();
  EXPECT_FALSE(workerSaw);
}

TEST_F(BaseTest, InterruptRegistryAnswersPerThreadWithOneEntryPerRegistration) {
  const std::thread::id self = std::this_thread::get_id();
  std::atomic<bool> flag{true};
  EXPECT_FALSE(InterruptCB().Call(self));
  InterruptCB().Add(self, &flag, FlagIsSet);
  InterruptCB().Add(self, &flag, FlagIsSet);
  EXPECT_TRUE(InterruptCB().Call(self));
  EXPECT_EQ(AVInterruptCallback(nullptr), 1);
  InterruptCB().Remove(self, &flag, FlagIsSet);
  EXPECT_FALSE(InterruptCB().Call(self));
  EXPECT_EQ(AVInterruptCallback(nullptr), 0);

  std::thread other([] {});
  const std::thread::id otherID = other.get_id();
  other.join();
  InterruptCB().Add(otherID, nullptr, AlwaysTrue);
  EXPECT_FALSE(InterruptCB().Call(self));
  EXPECT_TRUE(InterruptCB().Call(otherID));
  InterruptCB().Remove(otherID, nullptr, AlwaysTrue);

  // The first registration of a thread answers.
  flag = false;
  InterruptCB().Add(self, &flag, FlagIsSet);
  InterruptCB().Add(self, nullptr, AlwaysTrue);
  EXPECT_FALSE(InterruptCB().Call(self));
  // It may defer to the entries made after it.
  EXPECT_TRUE(InterruptCB().CallAfter(self, &flag));
  EXPECT_FALSE(InterruptCB().CallAfter(self, nullptr));
  InterruptCB().Remove(self, &flag, FlagIsSet);
  EXPECT_TRUE(InterruptCB().Call(self));
  InterruptCB().Remove(self, nullptr, AlwaysTrue);
  EXPECT_FALSE(InterruptCB().Call(self));
}

TEST_F(BaseTest, InterruptStopsABlockingOpenOfASilentServer) {
  SilentListener listener;
  const std::thread::id self = std::this_thread::get_id();
  std::atomic<bool> interrupt{false};
  InterruptCB().Add(self, &interrupt, FlagIsSet);

  AVFormatContext* context = ff::avformat_alloc_context();
  ASSERT_NE(context, nullptr);
  InstallInterruptCallback(context);
  // Without the interrupt the open would give up only after this time, with another error.
  AVDictionary* options = nullptr;
  ff::av_dict_set(&options, "rw_timeout", "30000000", 0);
  std::chrono::steady_clock::time_point setAt;
  std::thread trigger([&] {
    while (!listener.Accepted()) std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(200ms);
    setAt = std::chrono::steady_clock::now();
    interrupt = true;
  });
  const std::string url = "tcp://127.0.0.1:" + std::to_string(listener.Port());
  const int result = ff::avformat_open_input(&context, url.c_str(), nullptr, &options);
  const auto returnedAt = std::chrono::steady_clock::now();
  trigger.join();
  ff::av_dict_free(&options);
  InterruptCB().Remove(self, &interrupt, FlagIsSet);
  if (result == 0) ff::avformat_close_input(&context);

  EXPECT_EQ(result, AVERROR_EXIT);
  EXPECT_LT(returnedAt - setAt, 10s);
}

TEST_F(BaseTest, CodecLockLetsOneThreadAtATimeOpenAndCloseCodecs) {
  std::mutex logLock;
  std::vector<std::string> lines;
  FFLogger().TriggerEventInMainThread = false;
  FFLogger().SetLogLevel(llDebug);
  FFLogger().OnLog = [&](const void*, std::thread::id, TLogLevel, const std::string& msg) {
    const std::lock_guard<std::mutex> guard(logLock);
    lines.push_back(msg);
  };
  constexpr int Threads = 4;
  constexpr int Rounds = 5;
  std::atomic<int> inside{0};
  std::atomic<int> mostInside{0};
  const AVCodec* codec = ff::avcodec_find_decoder(AV_CODEC_ID_MPEG4);
  ASSERT_NE(codec, nullptr);
  const auto worker = [&] {
    for (int n = 0; n < Rounds; ++n) {
      AVCodecContext* context = ff::avcodec_alloc_context3(codec);
      {
        const TCodecLock lock;
        EXPECT_TRUE(lock.Locked());
        const int now = ++inside;
        mostInside = std::max(mostInside.load(), now);
        EXPECT_EQ(ff::avcodec_open2(context, codec, nullptr), 0);
        std::this_thread::sleep_for(2ms);
        ff::avcodec_close(context);
        --inside;
      }
      ff::avcodec_free_context(&context);
    }
  };
  std::vector<std::thread> threads;
  for (int n = 0; n < Threads; ++n) threads.emplace_back(worker);
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mostInside, 1);

  EXPECT_EQ(CodecLockRelease(), -1);
  const std::lock_guard<std::mutex> guard(logLock);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "obtain codec mutex [1]."), Threads * Rounds);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "release codec mutex [1]."), Threads * Rounds);
  EXPECT_LE(std::count(lines.begin(), lines.end(), "create codec mutex [1]."), 1);
  EXPECT_EQ(lines.back(), "error, could not release codec mutex [1]: not held by this thread.");
}

TEST(SplitTokenTest, CutsAtTheFirstDelimiter) {
  struct Case {
    const char* text;
    const char* delimiter;
    bool remove;
    const char* token;
    const char* rest;
  };
  const Case cases[] = {
      {"a=b=c", "=", true, "a", "b=c"},
      {"abc", "=", true, "abc", ""},
      {"key=value", "=", false, "key", "key=value"},
      {"abc", "=", false, "abc", "abc"},
      {"=rest", "=", true, "", "rest"},
      {"last=", "=", true, "last", ""},
      {"one, two, three", ", ", true, "one", "two, three"},
      {"no delimiter given", "", true, "no delimiter given", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + (c.remove ? " removing" : " keeping"));
    std::string text = c.text;
    std::string token = "stale";
    SplitToken(text, c.delimiter, c.remove, token);
    EXPECT_EQ(token, c.token);
    EXPECT_EQ(text, c.rest);
  }
}

TEST(PathTest, FolderAndNameParts) {
  struct Case {
    const char* call;
    std::string actual;
    std::string expected;
  };
  const auto index = [](std::size_t at) {
    return at == std::string::npos ? std::string("npos") : std::to_string(at);
  };
  const auto yes = [](bool value) { return std::string(value ? "yes" : "no"); };
  const Case cases[] = {
      {"name of /videos/clip.flv", WideExtractFileName("/videos/clip.flv"), "clip.flv"},
      {"folder of /videos/clip.flv", WideExtractFilePath("/videos/clip.flv"), "/videos/"},
      {"name of folder/clip.flv", WideExtractFileName("folder/clip.flv"), "clip.flv"},
      {"name of clip.flv", WideExtractFileName("clip.flv"), "clip.flv"},
      {"folder of clip.flv", WideExtractFilePath("clip.flv"), ""},
      {"name of /videos/", WideExtractFileName("/videos/"), ""},
      {"name in a UTF-8 path", WideExtractFileName("/Видео/ä clip.flv"), "ä clip.flv"},
      {"last of / and . in /a.b/c", index(WideLastDelimiter("/.", "/a.b/c")), "4"},
      {"last / in abc", index(WideLastDelimiter("/", "abc")), "npos"},
      {"a/b at 1 is a delimiter", yes(IsWidePathDelimiter("a/b", 1)), "yes"},
      {"a/b at 2 is a delimiter", yes(IsWidePathDelimiter("a/b", 2)), "no"},
      {"a/b past its end is a delimiter", yes(IsWidePathDelimiter("a/b", 3)), "no"},
      {"trailing / added", WideIncludeTrailingBackslash("/videos"), "/videos/"},
      {"trailing / kept", WideIncludeTrailingBackslash("/videos/"), "/videos/"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected) << c.call;
}

TEST(PathTest, FilesSizesAndFolders) {
  const std::string folder = fixtures::TempDir("path-routines");
  const std::string file = folder + "/Видео ü.flv";
  std::ofstream(file, std::ios::binary) << "12345";
  EXPECT_TRUE(WideFileExists(file));
  EXPECT_EQ(WideFileSize(file), 5);
  EXPECT_FALSE(WideFileExists(folder));
  EXPECT_EQ(WideFileSize(folder), -1);
  EXPECT_FALSE(WideFileExists(folder + "/missing.flv"));
  EXPECT_EQ(WideFileSize(folder + "/missing.flv"), -1);

  const std::string saved = WideGetCurrentDir();
  ASSERT_TRUE(WideSetCurrentDir(folder));
  EXPECT_EQ(WideExpandFileName("a/./b/../Видео ü.flv"), WideGetCurrentDir() + "/a/Видео ü.flv");
  EXPECT_EQ(WideFileSize("Видео ü.flv"), 5);
  EXPECT_FALSE(WideSetCurrentDir(folder + "/missing"));
  ASSERT_TRUE(WideSetCurrentDir(saved));
  EXPECT_EQ(WideGetCurrentDir(), saved);

  ::setenv("FENNICK_PATH_TEST", "/opt/Видео", 1);
  EXPECT_EQ(WideGetEnvironmentVariable("FENNICK_PATH_TEST"), "/opt/Видео");
  ::unsetenv("FENNICK_PATH_TEST");
  EXPECT_EQ(WideGetEnvironmentVariable("FENNICK_PATH_TEST"), "");
}

// Run as another user (this thread's file-system identity only: root loses its file rights with
// it), as in shared folders: a sticky folder where someone else's file holds the name, and the
// user's own folder made read-only meanwhile. The file never replaces what it may not, and its
// data stays where it can be found. The folders lie where that user can reach them, wherever
// the checkout is.
TEST(TemporaryFileTest, AFileThatCannotTakeItsNameIsKeptWhereItCanBeFound) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const fixtures::TFolderForOthers root("commit-as-another-user");
  const std::string shared = root.Path() + "/shared", own = root.Path() + "/own";
  ASSERT_EQ(::mkdir(shared.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  std::ofstream(shared + "/out.flv") << "someone else's";
  ASSERT_EQ(::mkdir(own.c_str(), 0755), 0);
  ASSERT_EQ(::chown(own.c_str(), 65534, 65534), 0);
  struct TResult {
    std::string SetUpError;  // the file could not even be made
    bool Committed = false;
    std::string Error, Kept;
  } sticky, readOnly;
  const auto attempt = [](const std::string& target, const std::function<void()>& meanwhile) {
    TResult result;
    TTemporaryFile file;
    if (!file.Create(target)) {
      result.SetUpError = "cannot make a file beside " + target + ": " + std::strerror(errno);
      return result;
    }
    std::ofstream(file.Name()) << "converted";
    meanwhile();
    result.Committed = file.Commit(&result.Error);
    result.Kept = file.Keep();
    return result;
  };
  std::string unreachable;
  std::thread([&] {
    ::setfsgid(65534);
    ::setfsuid(65534);
    const int folder = ::open(own.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
      unreachable = own + ": " + std::strerror(errno);
      return;
    }
    ::close(folder);
    sticky = attempt(shared + "/out.flv", [] {});
    readOnly = attempt(own + "/out.flv", [&] { ::chmod(own.c_str(), 0555); });
  }).join();
  if (!unreachable.empty()) GTEST_SKIP() << "user 65534 cannot reach " << unreachable;
  ASSERT_EQ(sticky.SetUpError + readOnly.SetUpError, "") << "as user 65534";

  EXPECT_FALSE(sticky.Committed);
  EXPECT_EQ(sticky.Error, "Could not name the file " + shared + "/out.flv: Operation not permitted");
  EXPECT_EQ(sticky.Kept, shared + "/out (2).flv");
  EXPECT_EQ(fixtures::ReadFile(shared + "/out.flv"), "someone else's");
  EXPECT_EQ(fixtures::ReadFile(shared + "/out (2).flv"), "converted");
  EXPECT_FALSE(readOnly.Committed);
  EXPECT_EQ(readOnly.Error, "Could not name the file " + own + "/out.flv: Permission denied");
  EXPECT_TRUE(IsTemporaryFileName(readOnly.Kept.substr(own.size() + 1))) << readOnly.Kept;
  EXPECT_EQ(fixtures::ReadFile(readOnly.Kept), "converted");
  struct stat kept {};
  EXPECT_EQ(::stat(readOnly.Kept.c_str(), &kept), 0);
  EXPECT_EQ(kept.st_mode & 0222, 0u) << "left writable, a later sweep would take it";
  ::chmod(own.c_str(), 0755);
}

// Where the kernel has no rename that keeps an existing name, and the file system no hard links
// (shared folders of virtual machines, some FUSE file systems), a file still takes a free name,
// and still never replaces one that is taken: also one that another commit gives the name while
// this one is on its way, or one that the user saves there by a rename just before ours.
TEST(TemporaryFileTest, ANoReplaceRenameWorksWithoutTheKernelsFlagOrHardLinks) {
  static int renameError = 0, linkError = 0;
  static std::function<void()> meanwhile;
  const TRenameCalls real = RenameCalls();
  RenameCalls().RenameAt2 = [](int from, const char* a, int to, const char* b, unsigned flags) {
    if (renameError == 0) return ::renameat2(from, a, to, b, flags);
    errno = renameError;
    return -1;
  };
  RenameCalls().LinkAt = [](int from, const char* a, int to, const char* b, int flags) {
    if (linkError == 0) return ::linkat(from, a, to, b, flags);
    errno = linkError;
    return -1;
  };
  RenameCalls().RenameAt = [](int from, const char* a, int to, const char* b) {
    if (meanwhile) std::exchange(meanwhile, nullptr)();
    return ::renameat(from, a, to, b);
  };
  enum TMeanwhile { Nothing, AnotherCommit, UsersSave };  // just before the first one's rename
  const struct {
    const char* Name;
    int Rename, Link;
    TMeanwhile Meanwhile;
  } cases[] = {
      {"no flags for rename", EINVAL, 0, Nothing},
      {"no flags, no hard links", EINVAL, EPERM, Nothing},
      {"no flags, links not supported", EINVAL, EOPNOTSUPP, Nothing},
      {"no such call, no link operation", ENOSYS, ENOSYS, Nothing},
      {"no hard links, another commit meanwhile", EINVAL, EPERM, AnotherCommit},
      {"no hard links, the user saves meanwhile", EINVAL, EPERM, UsersSave},
  };
  const std::string folder = fixtures::TempDir("no-replace-fallbacks");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    renameError = c.Rename;
    linkError = c.Link;
    const std::string target = folder + "/" + c.Name + ".flv";
    TTemporaryFile free, held;
    ASSERT_TRUE(free.Create(target));
    ASSERT_TRUE(held.Create(target));
    std::ofstream(free.Name()) << "first";
    std::ofstream(held.Name()) << "second";
    std::string heldResult;
    const auto commitHeld = [&] { heldResult = held.CommitOrKeep("the converted file"); };
    if (c.Meanwhile == AnotherCommit) meanwhile = commitHeld;
    if (c.Meanwhile == UsersSave)
      meanwhile = [&] {
        std::ofstream(folder + "/saving") << "saved";
        ASSERT_EQ(::rename((folder + "/saving").c_str(), target.c_str()), 0);
      };
    const std::string freeResult = free.CommitOrKeep("the converted file");
    if (c.Meanwhile != AnotherCommit) commitHeld();
    const std::string kept =
        "Another file named " + target +
        " appeared while this one was written; the converted file is kept as " + folder + "/" +
        c.Name;
    const bool saved = c.Meanwhile == UsersSave;
    EXPECT_EQ(freeResult, saved ? kept + " (2).flv" : "");
    EXPECT_EQ(heldResult, kept + (saved ? " (3).flv" : " (2).flv"));
    EXPECT_EQ(fixtures::ReadFile(target), saved ? "saved" : "first");
    EXPECT_EQ(fixtures::ReadFile(folder + "/" + c.Name + " (2).flv"), saved ? "first" : "second");
  }
  meanwhile = nullptr;
  RenameCalls() = real;
}

// A run killed there while its file takes its name leaves nothing that looks like an output: the
// next run's sweep takes what it left, the name's placeholder too.
TEST(TemporaryFileTest, ARunKilledWhileTakingANameWithoutHardLinksLeavesNoLookAlike) {
  const std::string folder = fixtures::TempDir("killed-taking-its-name");
  const TRenameCalls real = RenameCalls();
  RenameCalls().RenameAt2 = [](int, const char*, int, const char*, unsigned) {
    errno = EINVAL;
    return -1;
  };
  RenameCalls().LinkAt = [](int, const char*, int, const char*, int) {
    errno = EPERM;
    return -1;
  };
  RenameCalls().RenameAt = [](int, const char*, int, const char*) -> int { ::_exit(0); };
  const pid_t run = ::fork();
  if (run == 0) {
    TTemporaryFile file;
    if (file.Create(folder + "/out.flv")) std::ofstream(file.Name()) << "converted";
    file.Commit();
    ::_exit(1);
  }
  int status = -1;
  ::waitpid(run, &status, 0);
  RenameCalls() = real;
  ASSERT_EQ(status, 0) << "the run was not killed on its way";
  const timespec old[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    ASSERT_EQ(::utimensat(AT_FDCWD, entry.path().c_str(), old, AT_SYMLINK_NOFOLLOW), 0);

  const std::vector<std::string> swept = SweepTemporaryFiles(folder);
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  EXPECT_EQ(std::count(swept.begin(), swept.end(),
                       "Removed " + folder + "/out.flv, left by a conversion that did not end"),
            1);
}
