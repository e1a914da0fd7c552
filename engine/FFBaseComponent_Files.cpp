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
constexpr const char* Suffix = ".part";

// FNV-1a: short, stable, and spread well enough to tell the outputs of one folder apart.
uint64_t NameHash(const std::string& name) {
  uint64_t hash = 14695981039346656037ull;
  for (const unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

bool IsLowerHex(const std::string& text, size_t from, size_t count) {
  for (size_t i = from; i < from + count; ++i) {
    const char c = text[i];
    if (!(c >= '0' && c <= '9') && !(c >= 'a' && c <= 'f')) return false;
  }
  return true;
}

bool WrittenBeforeStart(const struct stat& st) {
  return st.st_mtim.tv_sec < ProcessStart.tv_sec ||
         (st.st_mtim.tv_sec == ProcessStart.tv_sec && st.st_mtim.tv_nsec < ProcessStart.tv_nsec);
}

// Removes the file when it is stale: a regular file of the running user, written before this
// process started, that no process holds locked. Another user's leftover is theirs to judge, and
// one its owner may not write was kept on purpose (TTemporaryFile::Keep).
bool RemoveIfStale(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
      !(st.st_mode & S_IWUSR) || !WrittenBeforeStart(st))
    return false;
  const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (file < 0) return false;
  const bool stale = ::flock(file, LOCK_EX | LOCK_NB) == 0 && ::unlink(path.c_str()) == 0;
  ::close(file);
  return stale;
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

// Renames without replacing anything. Where the kernel has no such rename, a link and an unlink
// do the same; where the file system has no hard links either, a plain rename once nothing holds
// the name.
int RenameNoReplace(int folder, const std::string& from, const std::string& to) {
  const TRenameCalls& calls = RenameCalls();
  if (calls.RenameAt2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  if (calls.LinkAt(folder, from.c_str(), folder, to.c_str(), 0) == 0)
    return ::unlinkat(folder, from.c_str(), 0);
  if (!HasNoHardLinks(errno)) return -1;
  struct stat held {};
  if (::fstatat(folder, to.c_str(), &held, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
    return -1;
  }
  if (errno != ENOENT) return -1;
  return ::renameat(folder, from.c_str(), folder, to.c_str());
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
  static TRenameCalls calls{&::renameat2, &::linkat};
  return calls;
}

std::vector<std::string> SweepTemporaryFiles(const std::string& folder) {
  std::vector<std::string> removed;
  if (!FirstSweepOf(folder)) return removed;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return removed;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string path = WideIncludeTrailingBackslash(folder) + entry->d_name;
    if (IsTemporaryFileName(entry->d_name) && RemoveIfStale(path)) removed.push_back(path);
  }
  ::closedir(dir);
  return removed;
}

std::string CutToBytes(const std::string& text, size_t bytes) {
  if (text.size() <= bytes) return text;
  size_t end = bytes;
  // A continuation byte (10xxxxxx) is inside a character: cut before that character.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

bool IsTemporaryFileName(const std::string& name) {
  const size_t hashAt = std::strlen(Prefix);
  const size_t randomAt = hashAt + HashDigits + 1;
  const size_t suffixAt = randomAt + RandomDigits;
  return name.size() == suffixAt + std::strlen(Suffix) && name.compare(0, hashAt, Prefix) == 0 &&
         IsLowerHex(name, hashAt, HashDigits) && name[randomAt - 1] == '-' &&
         IsLowerHex(name, randomAt, RandomDigits) &&
         name.compare(suffixAt, std::string::npos, Suffix) == 0;
}

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
  for (const std::string& swept : SweepTemporaryFiles(path))
    FFLogger().LogFmt(nullptr, llWarning, "Removed %s, left by a conversion that did not end",
                      swept.c_str());
  struct stat replaced {};
  const bool replacing = mayReplace && ::fstatat(folder.Handle(), name.c_str(), &replaced, 0) == 0;
  char hash[HashDigits + 1];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(NameHash(name)));
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    char unique[RandomDigits + 1];
    std::snprintf(unique, sizeof unique, "%08x", static_cast<unsigned>(random()));
    const std::string leaf = std::string(Prefix) + hash + "-" + unique + Suffix;
    const int file =
        ::openat(folder.Handle(), leaf.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file < 0 && errno == EEXIST) continue;
    if (file < 0) return false;
    ::flock(file, LOCK_EX);
    if (replacing) (void)::fchmod(file, replaced.st_mode & 07777);
    FTarget = name;
    FName = path + "/" + leaf;
    FFolder = folder;
    FLock = file;
    FReplaces = replacing;
    return true;
  }
  errno = EEXIST;
  return false;
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
