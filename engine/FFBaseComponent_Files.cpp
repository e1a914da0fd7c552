// Temporary files beside the files they replace, and the sweep of those that killed runs left.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <climits>
#include <ctime>
#include <mutex>
#include <random>
#include <set>
#include <utility>

#include "FFBaseComponent.h"
#include "FFLog.h"

namespace {

// Taken while the program starts: a temporary file written since may be one that a live process
// is just making, before it holds its lock.
const timespec ProcessStart = [] {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return now;
}();

constexpr const char* Prefix = ".fennick-";
constexpr size_t HashDigits = 16;
constexpr size_t RandomDigits = 8;
constexpr const char* FileSuffix = ".part";
constexpr const char* FolderSuffix = ".work";
// Where a name is held for a file that takes it without a hard link (RenameOverPlaceholder).
constexpr const char* AsideSuffix = ".hold";
// A placeholder's mark: an empty file that its owner may only write, as no program makes one.
constexpr mode_t PlaceholderMode = S_IWUSR;

// FNV-1a: short, stable, and spread well enough to tell the outputs of one folder apart; as
// lower-case hex digits, as it stands in a temporary name.
std::string NameHash(const std::string& name) {
  uint64_t hash = 14695981039346656037ull;
  for (const unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
  char text[HashDigits + 1];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

// The hash of the final name that a temporary name carries.
std::string HashOf(const std::string& temporaryName) {
  return temporaryName.substr(std::strlen(Prefix), HashDigits);
}

bool IsLowerHex(const std::string& text, size_t from, size_t count) {
  for (size_t i = from; i < from + count; ++i) {
    const char c = text[i];
    if (!(c >= '0' && c <= '9') && !(c >= 'a' && c <= 'f')) return false;
  }
  return true;
}

bool HasTemporaryPattern(const std::string& name, const char* suffix) {
  const size_t hashAt = std::strlen(Prefix);
  const size_t randomAt = hashAt + HashDigits + 1;
  const size_t suffixAt = randomAt + RandomDigits;
  return name.size() == suffixAt + std::strlen(suffix) && name.compare(0, hashAt, Prefix) == 0 &&
         IsLowerHex(name, hashAt, HashDigits) && name[randomAt - 1] == '-' &&
         IsLowerHex(name, randomAt, RandomDigits) &&
         name.compare(suffixAt, std::string::npos, suffix) == 0;
}

bool WrittenBeforeStart(const struct stat& st) {
  return st.st_mtim.tv_sec < ProcessStart.tv_sec ||
         (st.st_mtim.tv_sec == ProcessStart.tv_sec && st.st_mtim.tv_nsec < ProcessStart.tv_nsec);
}

// Removes the files of the open folder; false when something stays (a folder inside is none of
// the tools' files, so it is left to the user).
bool EmptyFolder(int folder) {
  const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
  if (!dir) {
    if (listing >= 0) ::close(listing);
    return false;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir))
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      names.emplace_back(entry->d_name);
  ::closedir(dir);
  bool empty = true;
  for (const std::string& name : names) empty = ::unlinkat(folder, name.c_str(), 0) == 0 && empty;
  return empty;
}

// What a killed run may leave: its temporary file, its scratch folder, or the placeholder of a
// name it was taking (under that name, or moved aside).
enum class TLeftover { File, Folder, Placeholder };

// The stale leftover's marks, read from the entry itself: of the running user, written before
// this process started, and writable by them (another user's leftover is theirs to judge, and one
// its owner may not write was kept on purpose, TTemporaryFile::Keep). A scratch folder is also
// closed to others, as every one is made, which RemoveScratchFolder checks.
bool LooksStale(const struct stat& st, TLeftover kind) {
  const bool shape = kind == TLeftover::Folder ? S_ISDIR(st.st_mode)
                     : kind == TLeftover::File ? S_ISREG(st.st_mode)
                                               : S_ISREG(st.st_mode) && st.st_size == 0 &&
                                                     (st.st_mode & 07777) == PlaceholderMode;
  return shape && st.st_uid == ::geteuid() && (st.st_mode & S_IWUSR) && WrittenBeforeStart(st);
}

// Still the entry that was opened: nothing took its name meanwhile.
bool StillNamed(int folder, const std::string& name, const struct stat& opened) {
  struct stat now {};
  return ::fstatat(folder, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
         now.st_dev == opened.st_dev && now.st_ino == opened.st_ino;
}

// The names in the open folder, or why it holds what no run leaves in a scratch folder (anything
// but regular files).
std::vector<std::string> ScratchFiles(int folder, std::string& refusal) {
  std::vector<std::string> names;
  const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
  if (!dir) {
    if (listing >= 0) ::close(listing);
    refusal = std::string("it cannot be read: ") + std::strerror(errno);
    return names;
  }
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    struct stat st {};
    if (::fstatat(folder, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
      names.emplace_back(entry->d_name);
      continue;
    }
    refusal = std::string("it holds ") + (S_ISDIR(st.st_mode) ? "the folder " : "") +
              entry->d_name + ", which no conversion leaves there";
    break;
  }
  ::closedir(dir);
  return names;
}

// Removes the open scratch folder `name` of the folder with its files, once it is sure that the
// whole folder can go: a folder that holds anything else loses nothing. What it did, for the log.
std::string RemoveScratchFolder(int folder, const std::string& name, int held,
                                const struct stat& opened, const std::string& path) {
  std::string refusal;
  if (opened.st_mode & (S_IRWXG | S_IRWXO))
    refusal = "it is open to other users, as no conversion's scratch folder is";
  const std::vector<std::string> files =
      refusal.empty() ? ScratchFiles(held, refusal) : std::vector<std::string>();
  if (!refusal.empty()) return "Left " + path + " as it is: " + refusal;
  int error = 0;
  for (const std::string& file : files)
    if (::unlinkat(held, file.c_str(), 0) != 0 && errno != ENOENT) {
      error = errno;
      break;
    }
  if (!error && !StillNamed(folder, name, opened)) error = ENOENT;  // moved away meanwhile
  if (!error && ::unlinkat(folder, name.c_str(), AT_REMOVEDIR) != 0) error = errno;
  if (error)
    return "Could not remove " + path +
           ", left by a conversion that did not end: " + std::strerror(error);
  return "Removed " + path + ", left by a conversion that did not end";
}

// Removes the leftover named `name` in the open folder when it is stale (LooksStale) and locked
// by no process. Everything is judged on the entry opened, never through a link, so that nothing
// that takes its name meanwhile is touched. What it did, for the log; empty when it left a live
// or another's entry alone.
std::string RemoveIfStale(int folder, const std::string& name, const std::string& path,
                          TLeftover kind) {
  // A placeholder is write-only: opening it so writes nothing.
  const int access = kind == TLeftover::Folder        ? O_RDONLY | O_DIRECTORY
                     : kind == TLeftover::Placeholder ? O_WRONLY
                                                      : O_RDONLY;
  const int held =
      SweepCalls().OpenAt(folder, name.c_str(), access | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (held < 0) return {};
  struct stat opened {};
  std::string done;
  if (::fstat(held, &opened) == 0 && LooksStale(opened, kind) &&
      ::flock(held, LOCK_EX | LOCK_NB) == 0) {
    if (kind == TLeftover::Folder)
      done = RemoveScratchFolder(folder, name, held, opened, path);
    else if (StillNamed(folder, name, opened) && ::unlinkat(folder, name.c_str(), 0) == 0)
      done = "Removed " + path + ", left by a conversion that did not end";
  }
  ::close(held);
  return done;
}

void SweepIntoLog(const std::string& folder) {
  for (const std::string& done : SweepTemporaryFiles(folder))
    FFLogger().Log(nullptr, llWarning, done);
}

// Makes a new entry of the temporary pattern for `name` in the folder with `make` (a descriptor,
// or -1 with errno set) and locks it for the caller's life. The name it has, or empty (errno
// tells why).
template <class TMake>
std::string MakeLocked(const std::string& name, const char* suffix, int& handle, TMake make) {
  const std::string hash = NameHash(name);
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    char unique[RandomDigits + 1];
    std::snprintf(unique, sizeof unique, "%08x", static_cast<unsigned>(random()));
    const std::string leaf = std::string(Prefix) + hash + "-" + unique + suffix;
    handle = make(leaf.c_str());
    if (handle < 0 && errno == EEXIST) continue;
    if (handle < 0) return {};
    ::flock(handle, LOCK_EX);
    return leaf;
  }
  errno = EEXIST;
  return {};
}

bool FirstSweepOf(const std::string& folder) {
  static std::mutex lock;
  static std::set<std::string> swept;
  std::string key = WideExpandFileName(folder);
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  const std::lock_guard<std::mutex> guard(lock);
  return swept.insert(key).second;
}

// The largest number of bytes a name in the folder may have.
size_t NameLimit(int folder) {
  const long limit = ::fpathconf(folder, _PC_NAME_MAX);
  return limit > 0 ? size_t(limit) : NAME_MAX;
}

// The name with " (number)" before its extension, its stem cut (at a character's start) so that
// the whole fits `limit` bytes.
std::string NumberedName(const std::string& name, int number, size_t limit) {
  const size_t dot = name.rfind('.');
  const std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
  const std::string tag = " (" + std::to_string(number) + ")";
  const size_t room = limit > tag.size() + ext.size() ? limit - tag.size() - ext.size() : 0;
  return CutToBytes(name.substr(0, name.size() - ext.size()), room) + tag + ext;
}

// The link call's refusals that mean the file system has no hard links.
bool HasNoHardLinks(int error) {
  return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EXDEV;
}

// Holds the free name with an exclusive create (a placeholder), then moves whatever holds the
// name aside, to a name of its own, and gives its file the name only when that was the
// placeholder: a file saved under the name meanwhile, over the placeholder, is put back and this
// file refused the name rather than replacing it. Only a file saved in the instant between the
// two renames, while the name is free, can still be replaced; such a file system offers nothing
// closer. The placeholder and the aside name carry PlaceholderMode, and the aside name the final
// name's hash, so a run killed on the way leaves nothing the sweep does not take.
int RenameOverPlaceholder(int folder, const std::string& from, const std::string& to) {
  int asideHandle = -1;
  const std::string aside = MakeLocked(to, AsideSuffix, asideHandle, [&](const char* leaf) {
    return ::openat(folder, leaf, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, PlaceholderMode);
  });
  if (aside.empty()) return -1;
  const int held = ::openat(folder, to.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, PlaceholderMode);
  int error = errno, result = -1;
  struct stat placeholder {
  }, unused{};
  if (held >= 0 && (::fstat(held, &placeholder) != 0 || ::fstat(asideHandle, &unused) != 0)) {
    error = errno;
  } else if (held >= 0) {
    ::flock(held, LOCK_EX);  // a live run's: no sweep takes it
    if (RenameCalls().RenameAt(folder, to.c_str(), folder, aside.c_str()) != 0) {
      error = errno;
    } else if (!StillNamed(folder, aside, placeholder)) {
      // Someone saved a file under the name, over the placeholder: theirs goes back.
      (void)RenameCalls().RenameAt(folder, aside.c_str(), folder, to.c_str());
      error = EEXIST;
    } else {
      result = RenameCalls().RenameAt(folder, from.c_str(), folder, to.c_str());
      error = errno;
    }
    if (StillNamed(folder, to, placeholder)) ::unlinkat(folder, to.c_str(), 0);
  }
  // Only what is this call's own goes: never a file put back that could not go back.
  if (StillNamed(folder, aside, placeholder) || StillNamed(folder, aside, unused))
    ::unlinkat(folder, aside.c_str(), 0);
  if (held >= 0) ::close(held);
  ::close(asideHandle);
  errno = error;
  return result;
}

// Renames without replacing anything. Where the kernel has no such rename, a link and an unlink
// do the same; where the file system has no hard links either, a rename over a placeholder.
int RenameNoReplace(int folder, const std::string& from, const std::string& to) {
  const TRenameCalls& calls = RenameCalls();
  if (calls.RenameAt2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  if (calls.LinkAt(folder, from.c_str(), folder, to.c_str(), 0) == 0)
    return ::unlinkat(folder, from.c_str(), 0);
  if (!HasNoHardLinks(errno)) return -1;
  return RenameOverPlaceholder(folder, from, to);
}

}  // namespace

TFolder::TFolder(const std::string& path) : FOpenedAt(path) {
  const int handle = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (handle >= 0) FHandle = std::make_shared<const TOpen>(handle);
}

TFolder::TOpen::~TOpen() { ::close(Value); }

std::string TFolder::Path() const {
  char path[PATH_MAX];
  const std::string link = "/proc/self/fd/" + std::to_string(Handle());
  const ssize_t size = FHandle ? ::readlink(link.c_str(), path, sizeof path - 1) : -1;
  if (size <= 0) return FOpenedAt;
  return std::string(path, size_t(size));
}

TRenameCalls& RenameCalls() {
  static TRenameCalls calls{&::renameat2, &::linkat, &::renameat};
  return calls;
}

TSweepCalls& SweepCalls() {
  static TSweepCalls calls{
      [](int folder, const char* name, int flags) { return ::openat(folder, name, flags); }};
  return calls;
}

std::vector<std::string> SweepTemporaryFiles(const std::string& folder) {
  std::vector<std::string> done;
  if (!FirstSweepOf(folder)) return done;
  const int held = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int listing = held >= 0 ? ::dup(held) : -1;
  DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
  if (!dir && listing >= 0) ::close(listing);
  const auto sweep = [&](const std::string& name, TLeftover kind) {
    std::string line = RemoveIfStale(held, name, WideIncludeTrailingBackslash(folder) + name, kind);
    if (!line.empty()) done.push_back(std::move(line));
  };
  std::vector<std::string> others;
  std::set<std::string> written;  // the hashes of the names that temporary files are for
  while (const dirent* entry = dir ? ::readdir(dir) : nullptr) {
    const std::string name = entry->d_name;
    const bool file = IsTemporaryFileName(name), aside = HasTemporaryPattern(name, AsideSuffix);
    if (file || aside) written.insert(HashOf(name));
    if (HasTemporaryPattern(name, FolderSuffix))
      sweep(name, TLeftover::Folder);
    else if (file || aside)
      sweep(name, file ? TLeftover::File : TLeftover::Placeholder);
    else
      others.push_back(name);
  }
  // A name's placeholder, where a run was killed as its file took that name: beside that file.
  // Only an entry with a placeholder's marks is opened at all; the others are the user's files.
  for (const std::string& name : others) {
    struct stat st {};
    if (written.count(NameHash(name)) &&
        ::fstatat(held, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        LooksStale(st, TLeftover::Placeholder))
      sweep(name, TLeftover::Placeholder);
  }
  if (dir) ::closedir(dir);
  if (held >= 0) ::close(held);
  return done;
}

std::string CutToBytes(const std::string& text, size_t bytes) {
  if (text.size() <= bytes) return text;
  size_t end = bytes;
  // A continuation byte (10xxxxxx) is inside a character: cut before that character.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

bool IsTemporaryFileName(const std::string& name) { return HasTemporaryPattern(name, FileSuffix); }

TTemporaryFile::~TTemporaryFile() { Discard(); }

TTemporaryFile::TTemporaryFile(TTemporaryFile&& other) noexcept { *this = std::move(other); }

TTemporaryFile& TTemporaryFile::operator=(TTemporaryFile&& other) noexcept {
  if (this == &other) return *this;
  Discard();
  FTarget = std::move(other.FTarget);
  FName = std::move(other.FName);
  FFolder = std::move(other.FFolder);
  FLock = std::exchange(other.FLock, -1);
  FReplaces = other.FReplaces;
  other.FName.clear();
  other.FFolder = TFolder();
  return *this;
}

bool TTemporaryFile::Create(const std::string& target) {
  const size_t slash = target.rfind('/');
  const TFolder folder(slash == std::string::npos ? "." : target.substr(0, slash));
  return folder.IsOpen() && Create(folder, WideExtractFileName(target), true);
}

bool TTemporaryFile::Create(const TFolder& folder, const std::string& name, bool mayReplace) {
  Discard();
  const std::string path = folder.Path();
  SweepIntoLog(path);
  struct stat replaced {};
  const bool replacing = mayReplace && ::fstatat(folder.Handle(), name.c_str(), &replaced, 0) == 0;
  int file = -1;
  const std::string leaf = MakeLocked(name, FileSuffix, file, [&](const char* leaf) {
    return ::openat(folder.Handle(), leaf, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  });
  if (leaf.empty()) return false;
  if (replacing) (void)::fchmod(file, replaced.st_mode & 07777);
  FTarget = name;
  FName = path + "/" + leaf;
  FFolder = folder;
  FLock = file;
  FReplaces = replacing;
  return true;
}

int64_t TTemporaryFile::Size() const {
  struct stat st {};
  return FLock >= 0 && ::fstat(FLock, &st) == 0 ? int64_t(st.st_size) : -1;
}

std::string TTemporaryFile::CommitError(int error) const {
  struct stat folder {};
  if (::fstat(FFolder.Handle(), &folder) == 0 && folder.st_nlink == 0)
    return "The folder of " + FName.substr(0, FName.rfind('/') + 1) + FTarget +
           " was deleted while the file was written";
  const std::string target = FFolder.Path() + "/" + FTarget;
  if (error == EEXIST) return "Another file named " + target + " appeared while this one was written";
  return "Could not name the file " + target + ": " + std::strerror(error);
}

bool TTemporaryFile::Commit(std::string* error) {
  if (FName.empty()) return false;
  const std::string leaf = WideExtractFileName(FName);
  const int result =
      FReplaces ? ::renameat(FFolder.Handle(), leaf.c_str(), FFolder.Handle(), FTarget.c_str())
                : RenameNoReplace(FFolder.Handle(), leaf, FTarget);
  if (result != 0) {
    if (error) *error = CommitError(errno);
    return false;
  }
  FName.clear();
  Release();
  return true;
}

std::string TTemporaryFile::Keep() {
  if (FName.empty()) return {};
  const std::string leaf = WideExtractFileName(FName);
  struct stat st {};
  if (::fstatat(FFolder.Handle(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    FName.clear();
    Release();
    return {};
  }
  const size_t limit = NameLimit(FFolder.Handle());
  std::string kept = leaf;
  for (int number = 2; number < 100; ++number) {
    const std::string name = NumberedName(FTarget, number, limit);
    if (RenameNoReplace(FFolder.Handle(), leaf, name) == 0) {
      kept = name;
      break;
    }
    if (errno != EEXIST) break;
  }
  // Under its temporary name it must outlive the sweeps.
  if (kept == leaf) (void)::fchmod(FLock, st.st_mode & 07555);
  const std::string path = FFolder.Path() + "/" + kept;
  FName.clear();
  Release();
  return path;
}

std::string TTemporaryFile::CommitOrKeep(const std::string& what) {
  std::string error;
  if (Commit(&error)) return {};
  const std::string kept = Keep();
  if (kept.empty()) return error + ": " + what + " is lost";
  return error + "; " + what + " is kept as " + kept;
}

void TTemporaryFile::Discard() {
  if (!FName.empty() && ::unlinkat(FFolder.Handle(), WideExtractFileName(FName).c_str(), 0) != 0 &&
      errno != ENOENT)
    FFLogger().LogFmt(nullptr, llError, "Could not delete %s: %s", FName.c_str(),
                      std::strerror(errno));
  FName.clear();
  Release();
}

void TTemporaryFile::Release() {
  if (FLock >= 0) ::close(FLock);
  FLock = -1;
  FFolder = TFolder();
}

TTemporaryFolder::~TTemporaryFolder() {
  if (FHandle < 0) return;
  if (!EmptyFolder(FHandle) || ::unlinkat(FFolder.Handle(), FLeaf.c_str(), AT_REMOVEDIR) != 0)
    FFLogger().LogFmt(nullptr, llError, "Could not delete the folder %s: %s", FName.c_str(),
                      std::strerror(errno));
  ::close(FHandle);
}

bool TTemporaryFolder::Create(const TFolder& folder, const std::string& name) {
  const std::string path = folder.Path();
  SweepIntoLog(path);
  int handle = -1;
  const std::string leaf = MakeLocked(name, FolderSuffix, handle, [&](const char* leaf) {
    if (::mkdirat(folder.Handle(), leaf, 0700) != 0) return -1;
    const int made =
        ::openat(folder.Handle(), leaf, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (made < 0) {
      const int error = errno;
      ::unlinkat(folder.Handle(), leaf, AT_REMOVEDIR);
      errno = error;
    }
    return made;
  });
  if (leaf.empty()) return false;
  FFolder = folder;
  FLeaf = leaf;
  FName = path + "/" + leaf;
  FHandle = handle;
  return true;
}
