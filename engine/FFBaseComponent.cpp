#include "FFBaseComponent.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <filesystem>
#include <system_error>
#include <vector>

#include "FFEntryPoints.h"
#include "FFLog.h"

static_assert(SeekFlagBit(sfBackward) == AVSEEK_FLAG_BACKWARD);
static_assert(SeekFlagBit(sfByte) == AVSEEK_FLAG_BYTE);
static_assert(SeekFlagBit(sfAny) == AVSEEK_FLAG_ANY);
static_assert(SeekFlagBit(sfFrame) == AVSEEK_FLAG_FRAME);

int SeekFlagsToInt(TSeekFlags flags) { return int(flags); }

// ---- Main-thread dispatch ----

namespace {

// Set during static initialisation, which runs on the thread that starts the program.
std::atomic<std::thread::id> MainThreadID{std::this_thread::get_id()};

struct TSyncRequest {
  const std::function<void()>* Method;
  std::exception_ptr Error;
  bool Done = false;
};

struct TDispatch {
  std::mutex Lock;
  std::condition_variable Queued;    // the main thread waits for requests
  std::condition_variable Finished;  // workers wait for their request to have run
  std::deque<TSyncRequest*> Queue;
  std::function<void()> Wake;
  std::function<void()> Pump;
};

// Never destroyed: a worker may still dispatch while the process exits.
TDispatch& Dispatch() {
  static TDispatch* const dispatch = new TDispatch;
  return *dispatch;
}

std::function<void()> CopyHook(std::function<void()> TDispatch::*hook) {
  TDispatch& d = Dispatch();
  const std::lock_guard<std::mutex> lock(d.Lock);
  return d.*hook;
}

// The host's wake hook must not throw: the worker's request is already queued.
void CallWakeHook(const std::function<void()>& wake) noexcept {
  if (wake) wake();
}

void Execute(TSyncRequest& request) {
  try {
    (*request.Method)();
  } catch (...) {
    request.Error = std::current_exception();
  }
}

}  // namespace

void SetMainThread() { MainThreadID = std::this_thread::get_id(); }

bool IsMainThread() { return MainThreadID.load() == std::this_thread::get_id(); }

void SetSynchronizeHooks(std::function<void()> wake, std::function<void()> pump) {
  TDispatch& d = Dispatch();
  const std::lock_guard<std::mutex> lock(d.Lock);
  d.Wake = std::move(wake);
  d.Pump = std::move(pump);
}

// Any thread.
void RunInMainThread(const std::function<void()>& method) {
  if (IsMainThread()) {
    method();
    return;
  }
  TDispatch& d = Dispatch();
  TSyncRequest request{&method, nullptr};
  {
    const std::lock_guard<std::mutex> lock(d.Lock);
    d.Queue.push_back(&request);
  }
  d.Queued.notify_one();
  CallWakeHook(CopyHook(&TDispatch::Wake));
  {
    std::unique_lock<std::mutex> lock(d.Lock);
    d.Finished.wait(lock, [&request] { return request.Done; });
  }
  if (request.Error) std::rethrow_exception(request.Error);
}

// Main thread. Runs the calls queued when it starts, so that a busy worker cannot keep the
// main thread here for ever.
bool CheckSynchronize(int timeoutMs) {
  assert(IsMainThread() && "CheckSynchronize called outside the main thread");
  if (!IsMainThread()) return false;
  TDispatch& d = Dispatch();
  std::unique_lock<std::mutex> lock(d.Lock);
  if (timeoutMs > 0)
    d.Queued.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [&d] { return !d.Queue.empty(); });
  std::deque<TSyncRequest*> requests;
  requests.swap(d.Queue);
  for (TSyncRequest* request : requests) {
    lock.unlock();
    Execute(*request);
    lock.lock();
    request->Done = true;
    // At once, not after the batch: a later call of it may wait for this worker to go on.
    d.Finished.notify_all();
  }
  return !requests.empty();
}

// Main thread.
void ProcessMessages() {
  assert(IsMainThread() && "ProcessMessages called outside the main thread");
  if (const std::function<void()> pump = CopyHook(&TDispatch::Pump)) pump();
}

// ---- Waiting while serving the main thread ----

void TManualResetEvent::Set() {
  // Notified under the lock: a waiter that sees the event set may destroy it at once.
  const std::lock_guard<std::mutex> lock(FLock);
  FSignalled = true;
  FChanged.notify_all();
}

void TManualResetEvent::Reset() {
  const std::lock_guard<std::mutex> lock(FLock);
  FSignalled = false;
}

bool TManualResetEvent::IsSet() const {
  const std::lock_guard<std::mutex> lock(FLock);
  return FSignalled;
}

bool TManualResetEvent::WaitFor(int milliseconds) {
  std::unique_lock<std::mutex> lock(FLock);
  return FChanged.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [this] { return FSignalled; });
}

namespace {

// The main thread answers a queued call at once; the awaited condition is seen within this.
constexpr int MainThreadStepMs = 1;
// A worker's Ready returns at once on its condition; the step only bounds a time-out's overrun.
constexpr int WorkerStepMs = 100;

}  // namespace

bool WaitServingMainThread(const std::function<bool(int milliseconds)>& ready, int timeoutMs,
                           TMainThreadService service) {
  using Clock = std::chrono::steady_clock;
  const bool mainThread = IsMainThread();
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  const auto remainingMs = [&deadline] {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::max<int64_t>(left.count(), 0));
  };
  for (;;) {
    const int step =
        timeoutMs == WaitForever ? WorkerStepMs : std::min(WorkerStepMs, remainingMs());
    if (ready(mainThread ? 0 : step)) return true;
    if (timeoutMs != WaitForever && remainingMs() == 0) return false;
    if (!mainThread) continue;
    CheckSynchronize(MainThreadStepMs);
    if (service == TMainThreadService::CallsAndEvents) ProcessMessages();
  }
}

bool WaitServingMainThread(TManualResetEvent& event, int timeoutMs) {
  return WaitServingMainThread([&event](int milliseconds) { return event.WaitFor(milliseconds); },
                               timeoutMs);
}

std::unique_lock<std::mutex> LockServingMainThread(std::mutex& mutex, TMainThreadService service) {
  std::unique_lock<std::mutex> lock(mutex, std::defer_lock);
  if (IsMainThread())
    WaitServingMainThread([&lock](int) { return lock.try_lock(); }, WaitForever, service);
  else
    lock.lock();
  return lock;
}

// ---- Interrupt registry ----

void TInterruptCB::Add(std::thread::id threadID, void* owner, TInterruptCallback callback) {
  const std::lock_guard<std::mutex> lock(FLock);
  for (const TEntry& entry : FEntries)
    if (entry.ThreadID == threadID && entry.Owner == owner && entry.Callback == callback) return;
  FEntries.push_back({threadID, owner, callback});
}

void TInterruptCB::Remove(std::thread::id threadID, void* owner, TInterruptCallback callback) {
  const std::lock_guard<std::mutex> lock(FLock);
  for (auto entry = FEntries.begin(); entry != FEntries.end(); ++entry) {
    if (entry->ThreadID == threadID && entry->Owner == owner && entry->Callback == callback) {
      FEntries.erase(entry);
      return;
    }
  }
}

// The callback runs outside the lock: it may log, and logging may wait for the main thread.
bool TInterruptCB::Call(std::thread::id threadID) { return CallFrom(threadID, false, nullptr); }

bool TInterruptCB::CallAfter(std::thread::id threadID, void* owner) {
  return CallFrom(threadID, true, owner);
}

bool TInterruptCB::CallFrom(std::thread::id threadID, bool afterOwner, void* owner) {
  TEntry found{};
  {
    const std::lock_guard<std::mutex> lock(FLock);
    const auto ofThread = [threadID](const TEntry& e) { return e.ThreadID == threadID; };
    auto entry = FEntries.begin();
    if (afterOwner) {
      entry = std::find_if(entry, FEntries.end(),
                           [&](const TEntry& e) { return ofThread(e) && e.Owner == owner; });
      if (entry != FEntries.end()) ++entry;
    }
    entry = std::find_if(entry, FEntries.end(), ofThread);
    if (entry == FEntries.end()) return false;
    found = *entry;
  }
  return found.Callback(found.Owner);
}

TInterruptCB& InterruptCB() {
  static TInterruptCB registry;
  return registry;
}

// Called by FFmpeg on the thread whose I/O blocks.
int AVInterruptCallback(void*) {
  return CalledFromFFmpeg("The interrupt callback", 1, [] {
    return InterruptCB().Call(std::this_thread::get_id()) ? 1 : 0;
  });
}

void InstallInterruptCallback(AVIOInterruptCB& callback) {
  callback.callback = AVInterruptCallback;
  callback.opaque = nullptr;
}

void InstallInterruptCallback(AVFormatContext* context) {
  InstallInterruptCallback(context->interrupt_callback);
}

// ---- Codec lock ----

namespace {

// The log lines name the lock as FFmpeg's lock managers named their mutex handle.
constexpr int CodecMutexHandle = 1;

struct TCodecMutex {
  std::mutex Mutex;
  std::atomic<std::thread::id> Owner{};
  std::atomic<bool> Created{false};
};

TCodecMutex CodecMutex;

}  // namespace

// Nothing is logged while the lock is held: a log line may wait for the main thread, which
// may itself be waiting for the codec lock.
int CodecLockObtain() {
  if (!CodecMutex.Created.exchange(true))
    FFLogger().LogFmt(nullptr, llDebug, "create codec mutex [%d].", CodecMutexHandle);
  FFLogger().LogFmt(nullptr, llDebug, "obtain codec mutex [%d].", CodecMutexHandle);
  try {
    CodecMutex.Mutex.lock();
  } catch (const std::system_error& e) {
    FFLogger().LogFmt(nullptr, llError, "error, could not wait on codec mutex [%d]: %s.",
                      CodecMutexHandle, e.what());
    return -1;
  }
  CodecMutex.Owner = std::this_thread::get_id();
  return 0;
}

int CodecLockRelease() {
  if (CodecMutex.Owner.load() != std::this_thread::get_id()) {
    FFLogger().LogFmt(nullptr, llError, "error, could not release codec mutex [%d]: %s.",
                      CodecMutexHandle, "not held by this thread");
    return -1;
  }
  CodecMutex.Owner = std::thread::id();
  CodecMutex.Mutex.unlock();
  FFLogger().LogFmt(nullptr, llDebug, "release codec mutex [%d].", CodecMutexHandle);
  return 0;
}

// ---- Library loading and paths ----

namespace {

// FFmpeg's libraries in dependency order: each needs only those before it.
const char* const DependencyOrder[] = {
    "libavutil.so.57",  "libswresample.so.4", "libswscale.so.6",  "libpostproc.so.56",
    "libavcodec.so.59", "libavformat.so.59",  "libavfilter.so.8", "libavdevice.so.59",
};

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string LastDlError() {
  const char* text = ::dlerror();
  return text ? text : "unknown error";
}

// RTLD_LOCAL: FFmpeg's dependencies (SDL2 among them) must not leak their symbols into the
// global namespace, where SDL 1.2 would bind to them.
// RTLD_NODELETE: the libraries keep process-wide state (threads, registries) that must stay
// mapped once created; an unload clears our tables and drops our reference only.
void* OpenLibrary(const std::string& name) {
  return ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

// Opens the folder's copies of the libraries that FileName depends on, so that the dynamic
// linker satisfies its needs from them rather than from the system.
std::vector<void*> OpenLowerLibraries(const std::string& folder, const std::string& fileName) {
  std::vector<void*> handles;
  for (const char* lower : DependencyOrder) {
    if (fileName == lower) break;
    const std::string path = folder + lower;
    if (!IsRegularFile(path)) continue;
    if (void* handle = OpenLibrary(path)) handles.push_back(handle);
  }
  return handles;
}

void* LoadSymbol(const char* kind, const std::string& libraryFileName, void* module,
                 const std::string& name, bool optional) {
  ::dlerror();
  void* address = ::dlsym(module, name.c_str());
  if (!address && !optional)
    throw FFmpegException("Load " + std::string(kind) + " " + name + "@" + libraryFileName +
                          " error: " + LastDlError());
  return address;
}

}  // namespace

void SplitToken(std::string& text, const std::string& delimiter, bool remove, std::string& token) {
  const auto found = delimiter.empty() ? std::string::npos : text.find(delimiter);
  if (found == std::string::npos) {
    token = text;
    if (remove) text.clear();
    return;
  }
  token = text.substr(0, found);
  if (remove) text.erase(0, found + delimiter.size());
}

bool IsWidePathDelimiter(const std::string& text, std::size_t index) {
  return index < text.size() && text[index] == '/';
}

std::size_t WideLastDelimiter(const std::string& delimiters, const std::string& text) {
  return text.find_last_of(delimiters);
}

std::string WideExtractFilePath(const std::string& fileName) {
  const std::size_t slash = WideLastDelimiter("/", fileName);
  return slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
}

std::string WideExtractFileName(const std::string& fileName) {
  const std::size_t slash = WideLastDelimiter("/", fileName);
  return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

bool WideFileExists(const std::string& fileName) {
  struct stat st {};
  return ::stat(fileName.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

int64_t WideFileSize(const std::string& fileName) {
  struct stat st {};
  if (::stat(fileName.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  return int64_t(st.st_size);
}

std::string WideExpandFileName(const std::string& fileName) {
  if (fileName.empty()) return {};
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(fileName, error);
  return error ? std::string() : full.lexically_normal().string();
}

std::string WideGetCurrentDir() {
  std::error_code error;
  const std::filesystem::path dir = std::filesystem::current_path(error);
  return error ? std::string() : dir.string();
}

bool WideSetCurrentDir(const std::string& dir) { return ::chdir(dir.c_str()) == 0; }

std::string WideGetEnvironmentVariable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value ? value : "";
}

std::string WideIncludeTrailingBackslash(const std::string& path) {
  if (!path.empty() && path.back() == '/') return path;
  return path + "/";
}

void* LoadLibraryFromPath(const std::string& folder, const std::string& fileName,
                          std::string& errorText) {
  void* module = nullptr;
  if (!folder.empty() && IsRegularFile(WideIncludeTrailingBackslash(folder) + fileName)) {
    const std::string dir = WideIncludeTrailingBackslash(folder);
    const std::vector<void*> lower = OpenLowerLibraries(dir, fileName);
    module = OpenLibrary(dir + fileName);
    if (!module) errorText = LastDlError();
    // The library now holds its own references to what it needs.
    for (void* handle : lower) ::dlclose(handle);
  } else {
    module = OpenLibrary(fileName);
    if (!module) errorText = LastDlError();
  }
  return module;
}

void UnloadLibrary(void* module) {
  if (module) ::dlclose(module);
}

void* LoadFunction(const std::string& libraryFileName, void* module, const std::string& name,
                   bool optional) {
  return LoadSymbol("function", libraryFileName, module, name, optional);
}

void* LoadVariable(const std::string& libraryFileName, void* module, const std::string& name,
                   bool optional) {
  return LoadSymbol("variable", libraryFileName, module, name, optional);
}
