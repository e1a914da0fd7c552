// Services every engine component stands on: the component base, main-thread dispatch, the
// per-thread I/O interrupt registry, the codec lock, library loading primitives and the file
// and path routines (UTF-8 file names, "/" as the delimiter).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>
#include <stdexcept>
#include <string>
#include <thread>

struct AVFormatContext;
struct AVIOInterruptCB;

// Every error the engine detects itself.
class FFmpegException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The base of the engine's and the player's components.
class TFFBaseComponent {
 public:
  TFFBaseComponent() = default;
  virtual ~TFFBaseComponent() = default;

  std::string About;
  std::string Version() const { return "4.1"; }
};

// Seek flags: bit n of a set is flag n; the bits equal FFmpeg's AVSEEK_FLAG_* values.
enum TSeekFlag : int { sfBackward, sfByte, sfAny, sfFrame };
using TSeekFlags = uint32_t;
constexpr TSeekFlags SeekFlagBit(TSeekFlag flag) { return TSeekFlags(1) << flag; }
int SeekFlagsToInt(TSeekFlags flags);

// Main-thread dispatch. The main thread is the one that initialised the engine unless the host
// names another with SetMainThread (call it before any worker starts).
void SetMainThread();
bool IsMainThread();

// The host's part: Wake is called on a worker right after it queued a call, so that the host
// makes its main thread run CheckSynchronize soon (a GUI application posts a queued call to its
// GUI thread); Pump dispatches the host's pending events on the main thread (ProcessMessages).
// Without hooks the main thread must call CheckSynchronize itself while workers may wait.
void SetSynchronizeHooks(std::function<void()> wake, std::function<void()> pump);

// On the main thread: runs Method at once. On a worker: queues it for the main thread and
// blocks until it has run there; an exception it throws is rethrown in the worker. Never call
// it while holding a lock that the main thread may take.
void RunInMainThread(const std::function<void()>& method);
// Main thread only. Runs every queued call, first waiting up to timeoutMs for one to arrive.
// True when at least one ran.
bool CheckSynchronize(int timeoutMs = 0);
// Main thread only. Lets the host dispatch its pending events (the pump hook), if it set one.
void ProcessMessages();

// Signalled until reset; every waiter wakes when it is set.
class TManualResetEvent {
 public:
  explicit TManualResetEvent(bool signalled) : FSignalled(signalled) {}
  void Set();
  void Reset();
  bool IsSet() const;
  // True when the event is set within the time.
  bool WaitFor(int milliseconds);

 private:
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  bool FSignalled;
};

// What a waiting main thread lets run besides the queued calls: the host's events too, or
// only the queued calls (where a host event could re-enter the code that waits).
enum class TMainThreadService { CallsAndEvents, CallsOnly };

constexpr int WaitForever = -1;

// Any thread. Returns true once Ready does, false when timeoutMs (unless WaitForever) passed
// first. Ready(ms) may block up to ms for its condition. A thread waited for may itself be
// waiting for the main thread, so on the main thread Ready is only asked, never left to block,
// and the queued calls are served between its answers; a worker just blocks in Ready.
bool WaitServingMainThread(const std::function<bool(int milliseconds)>& ready,
                           int timeoutMs = WaitForever,
                           TMainThreadService service = TMainThreadService::CallsAndEvents);
bool WaitServingMainThread(TManualResetEvent& event, int timeoutMs = WaitForever);
// Any thread. Locks Mutex; the main thread serves the queued calls while it is taken, since
// its holder may be waiting for the main thread.
std::unique_lock<std::mutex> LockServingMainThread(
    std::mutex& mutex, TMainThreadService service = TMainThreadService::CallsAndEvents);

// Per-thread I/O interrupts: FFmpeg asks the callback installed on a format context whether to
// give up a blocking operation, and the registry answers for the calling thread. Callback
// returns true to interrupt now.
using TInterruptCallback = bool (*)(void* owner);

class TInterruptCB {
 public:
  // Appends an entry unless one with the same thread, owner and callback exists.
  void Add(std::thread::id threadID, void* owner, TInterruptCallback callback);
  // Deletes the first entry matching all three. Remove an entry on the thread it is registered
  // for (or after that thread's I/O has ended): the callback runs outside the registry's lock.
  void Remove(std::thread::id threadID, void* owner, TInterruptCallback callback);
  // The answer of the first entry for the thread; false when it has none.
  bool Call(std::thread::id threadID);
  // The answer of the thread's first entry after the owner's (false when none follows): an owner
  // that answers first for its thread defers to the entries made under it this way.
  bool CallAfter(std::thread::id threadID, void* owner);

 private:
  // The answer of the thread's first entry, or of its first after the owner's.
  bool CallFrom(std::thread::id threadID, bool afterOwner, void* owner);

  struct TEntry {
    std::thread::id ThreadID;
    void* Owner;
    TInterruptCallback Callback;
  };
  std::mutex FLock;
  std::vector<TEntry> FEntries;
};

// The process-wide registry.
TInterruptCB& InterruptCB();

// Runs a function that FFmpeg's C code calls back, through whose frames no exception may unwind
// (memory that cannot be had is the usual one). What it throws is written to the error stream,
// since the log may be what failed, and `failed` is returned in its place.
template <class TResult, class TCall>
TResult CalledFromFFmpeg(const char* what, TResult failed, TCall&& call) noexcept {
  try {
    return call();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s failed: %s\n", what, e.what());
  } catch (...) {
    std::fprintf(stderr, "%s failed\n", what);
  }
  return failed;
}

// FFmpeg's interrupt callback: 1 when the registry says so for the calling thread, else 0; 1
// too when the answer cannot be had, so that no I/O waits on a thread that cannot go on.
int AVInterruptCallback(void* opaque);
// Points an interrupt callback record at AVInterruptCallback: every format context the engine
// or the player creates gets it (its interrupt_callback, or the record given to avio_open2).
void InstallInterruptCallback(AVIOInterruptCB& callback);
void InstallInterruptCallback(AVFormatContext* context);

// The codec lock: every avcodec_open2 and avcodec_close of all conversions and players runs
// under it, one at a time. Each returns 0, or -1 after logging why.
int CodecLockObtain();
int CodecLockRelease();

// Holds the codec lock for its lifetime.
class TCodecLock {
 public:
  TCodecLock() : FLocked(CodecLockObtain() == 0) {}
  ~TCodecLock() {
    if (FLocked) CodecLockRelease();
  }
  TCodecLock(const TCodecLock&) = delete;
  TCodecLock& operator=(const TCodecLock&) = delete;
  bool Locked() const { return FLocked; }

 private:
  bool FLocked;
};

// Token := Text before the first Delimiter (all of Text when there is none); with Remove, Text
// keeps only what follows that delimiter (nothing when there is none).
void SplitToken(std::string& text, const std::string& delimiter, bool remove, std::string& token);

// True when text[index] is "/".
bool IsWidePathDelimiter(const std::string& text, std::size_t index);
// The index of the last character of Text that is one of Delimiters, npos when none.
std::size_t WideLastDelimiter(const std::string& delimiters, const std::string& text);
// Text up to and including the last "/"; text after it.
std::string WideExtractFilePath(const std::string& fileName);
std::string WideExtractFileName(const std::string& fileName);
// The entry exists and is not a directory.
bool WideFileExists(const std::string& fileName);
// The size of an existing file, -1 when there is none.
int64_t WideFileSize(const std::string& fileName);
// The absolute, normalised form of a path; it need not exist.
std::string WideExpandFileName(const std::string& fileName);
std::string WideGetCurrentDir();
bool WideSetCurrentDir(const std::string& dir);
// The variable's value, empty when it is not set.
std::string WideGetEnvironmentVariable(const std::string& name);

// Appends "/" unless the path already ends with one.
std::string WideIncludeTrailingBackslash(const std::string& path);

// Loads Folder + FileName when the folder holds that file (its lower FFmpeg libraries from
// the same folder first, so one set never mixes with the system's), else FileName through
// the system's search path. Returns nullptr with the system's text in errorText on failure.
void* LoadLibraryFromPath(const std::string& folder, const std::string& fileName,
                          std::string& errorText);
void UnloadLibrary(void* module);

// The address of an export. A missing one raises "Load function %s@%s error: %s"
// (or "Load variable ...") unless optional.
void* LoadFunction(const std::string& libraryFileName, void* module, const std::string& name,
                   bool optional);
void* LoadVariable(const std::string& libraryFileName, void* module, const std::string& name,
                   bool optional);

// An open folder (O_PATH), shared by its copies: files made relative to it land in that folder
// wherever it was moved since, and never in another that took its path.
class TFolder {
 public:
  TFolder() = default;
  // Opens the folder at `path`; not open (errno tells why) when it cannot.
  explicit TFolder(const std::string& path);
  bool IsOpen() const { return FHandle != nullptr; }
  int Handle() const { return FHandle ? FHandle->Value : -1; }
  // Where the folder is now: it may have been moved since it was opened.
  std::string Path() const;

 private:
  struct TOpen {
    explicit TOpen(int Handle) : Value(Handle) {}
    ~TOpen();
    TOpen(const TOpen&) = delete;
    TOpen& operator=(const TOpen&) = delete;
    const int Value;
  };
  std::shared_ptr<const TOpen> FHandle;
  std::string FOpenedAt;
};

// The calls a no-replace rename is made of, replaceable so that tests can play a file system
// that refuses them (no RENAME_NOREPLACE, no hard links) or another program acting between them.
struct TRenameCalls {
  int (*RenameAt2)(int, const char*, int, const char*, unsigned) = nullptr;
  int (*LinkAt)(int, const char*, int, const char*, int) = nullptr;
  int (*RenameAt)(int, const char*, int, const char*) = nullptr;  // the last resort
};
TRenameCalls& RenameCalls();

// The sweep's opening of an entry it listed, replaceable so that tests can play another program
// changing the folder between the listing and the opening.
struct TSweepCalls {
  int (*OpenAt)(int folder, const char* name, int flags) = nullptr;
};
TSweepCalls& SweepCalls();

// A file written under a temporary name beside the file it is to become, so that a failed or
// killed run never destroys the file it was to replace. The name is hidden and short whatever
// the final name's length: ".fennick-", 16 hex digits of a hash of the final name, "-", 8 random
// hex digits, ".part". The object holds a lock on the file for its whole life (a process's locks
// end with it): that is how a sweep tells a live file from one that a killed run left. It also
// holds its folder open, so that the file takes its name in the folder it was written in, even
// when that folder was moved meanwhile. Not thread-safe: one owner at a time.
class TTemporaryFile {
 public:
  TTemporaryFile() = default;
  // Removes the file unless it took its final name or was kept.
  ~TTemporaryFile();
  TTemporaryFile(TTemporaryFile&& other) noexcept;
  TTemporaryFile& operator=(TTemporaryFile&& other) noexcept;
  TTemporaryFile(const TTemporaryFile&) = delete;
  TTemporaryFile& operator=(const TTemporaryFile&) = delete;

  // Makes a new, empty file beside `target`, with the mode of the file it replaces or the one
  // a new file would get; it may replace the target that is there now. First, once per folder
  // and process, it sweeps the folder (SweepTemporaryFiles; each removal goes to the engine's
  // log). False (errno tells why) when no file can be made.
  bool Create(const std::string& target);
  // The same in an open folder, for the file `name` there: it replaces a file of that name only
  // when `mayReplace` (the owner knows the file there is one it may replace).
  bool Create(const TFolder& folder, const std::string& name, bool mayReplace);
  // The temporary file's path as it was made; empty before Create and after Commit, Keep or
  // Discard.
  const std::string& Name() const { return FName; }
  // The open file, for writing into it wherever its folder is now; -1 when none is open.
  int Handle() const { return FLock; }
  // The folder it is made in.
  const TFolder& Folder() const { return FFolder; }
  // Bytes written into the file so far, or -1 when none is open.
  int64_t Size() const;
  // Gives the file its target's name in one step, in the folder it was made in. It replaces only
  // a file it may replace: what appeared since is left alone. False with the reason in `error`;
  // the file is then still there, for Keep or Discard.
  bool Commit(std::string* error = nullptr);
  // After a failed Commit: keeps the data under a visible name beside the target, "name (2).ext"
  // or the next free number, or else under its temporary name, made read-only so that no sweep
  // takes it. The path it is kept under, or empty when the file is gone (its folder was deleted).
  std::string Keep();
  // Commit, else Keep: empty when the file took its name, else why not and where the data is,
  // the data called `what` ("the converted file").
  std::string CommitOrKeep(const std::string& what);
  // Removes the file now.
  void Discard();

 private:
  void Release();
  std::string CommitError(int error) const;

  std::string FTarget;  // the target's name, without folder
  std::string FName;
  TFolder FFolder;
  int FLock = -1;
  bool FReplaces = false;  // the target may be replaced
};

// A folder of one run's scratch files, made beside the files they become (so that big ones lie on
// that file system, not in a small temporary one), closed to others and held open: its files are
// reached through Handle() wherever it is moved meanwhile. Named as TTemporaryFile's files but
// ending in ".work", and locked in the same way for the object's life, so that a sweep removes
// only the folders that killed runs left. Removed with its files when the object ends.
class TTemporaryFolder {
 public:
  TTemporaryFolder() = default;
  ~TTemporaryFolder();
  TTemporaryFolder(const TTemporaryFolder&) = delete;
  TTemporaryFolder& operator=(const TTemporaryFolder&) = delete;

  // Makes the folder in `folder` for the files that make `name` there, after sweeping `folder`
  // as TTemporaryFile::Create does. False (errno tells why) when none can be made.
  bool Create(const TFolder& folder, const std::string& name);
  // The open folder; -1 before Create.
  int Handle() const { return FHandle; }
  // Its path as it was made.
  const std::string& Name() const { return FName; }

 private:
  TFolder FFolder;
  std::string FLeaf, FName;
  int FHandle = -1;
};

// Removes the folder's stale temporary files and scratch folders (TTemporaryFolder, with their
// files): of the running user, writable by them, locked by no process and last written before
// this process started (a newer one may be in the making by a live process). Each is opened once,
// never through a link, and judged and emptied through that descriptor; a scratch folder goes
// only whole: one open to others or holding anything but files is left as it is. The placeholder
// of a name that a killed run's file was taking without a hard link (an empty write-only file of
// that name beside the run's temporary file) goes too. Once per folder and process: a folder
// swept before is left alone. Returns what it did, a line for the log for
// each entry it removed, or left although it looked stale.
std::vector<std::string> SweepTemporaryFiles(const std::string& folder);

// True for a file name (without folder) of TTemporaryFile's pattern.
bool IsTemporaryFileName(const std::string& name);

// The UTF-8 text cut at the start of a character so that it takes at most `bytes` bytes: a
// file name's stem made to fit the file system's limit.
std::string CutToBytes(const std::string& text, size_t bytes);
