// Temporary files beside the files they replace, and the sweep of those that killed runs left.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <random>
#include <set>

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

// Removes the file when it is stale: a regular file written before this process started that no
// process holds locked.
bool RemoveIfStale(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !WrittenBeforeStart(st))
    return false;
  const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (file < 0) return false;
  const bool stale = ::flock(file, LOCK_EX | LOCK_NB) == 0 && ::unlink(path.c_str()) == 0;
  ::close(file);
  return stale;
}

void SweepStaleTemporaryFiles(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string path = WideIncludeTrailingBackslash(folder) + entry->d_name;
    if (IsTemporaryFileName(entry->d_name) && RemoveIfStale(path))
      FFLogger().LogFmt(nullptr, llWarning, "Removed %s, left by a conversion that did not end",
                        path.c_str());
  }
  ::closedir(dir);
}

void SweepOnce(const std::string& folder) {
  static std::mutex lock;
  static std::set<std::string> swept;
  {
    const std::lock_guard<std::mutex> guard(lock);
    if (!swept.insert(WideExpandFileName(folder)).second) return;
  }
  SweepStaleTemporaryFiles(folder);
}

}  // namespace

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

TTemporaryFile::TTemporaryFile(TTemporaryFile&& other) noexcept
    : FTarget(std::move(other.FTarget)), FName(std::move(other.FName)), FLock(other.FLock) {
  other.FName.clear();
  other.FLock = -1;
}

TTemporaryFile& TTemporaryFile::operator=(TTemporaryFile&& other) noexcept {
  if (this == &other) return *this;
  Discard();
  FTarget = std::move(other.FTarget);
  FName = std::move(other.FName);
  FLock = other.FLock;
  other.FName.clear();
  other.FLock = -1;
  return *this;
}

bool TTemporaryFile::Create(const std::string& target) {
  Discard();
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  SweepOnce(folder);
  struct stat replaced {};
  const bool replacing = ::stat(target.c_str(), &replaced) == 0;
  char hash[HashDigits + 1];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(NameHash(name)));
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    char unique[RandomDigits + 1];
    std::snprintf(unique, sizeof unique, "%08x", static_cast<unsigned>(random()));
    const std::string path = folder + "/" + Prefix + hash + "-" + unique + Suffix;
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file < 0 && errno == EEXIST) continue;
    if (file < 0) return false;
    ::flock(file, LOCK_EX);
    if (replacing) (void)::fchmod(file, replaced.st_mode & 07777);
    FTarget = target;
    FName = path;
    FLock = file;
    return true;
  }
  errno = EEXIST;
  return false;
}

bool TTemporaryFile::Commit(std::string* error) {
  if (FName.empty()) return false;
  if (std::rename(FName.c_str(), FTarget.c_str()) != 0) {
    if (error)
      *error = "Could not rename " + FName + " to " + FTarget + ": " + std::strerror(errno);
    return false;
  }
  FName.clear();
  Release();
  return true;
}

void TTemporaryFile::Discard() {
  if (!FName.empty() && std::remove(FName.c_str()) != 0 && errno != ENOENT)
    FFLogger().LogFmt(nullptr, llError, "Could not delete %s: %s", FName.c_str(),
                      std::strerror(errno));
  FName.clear();
  Release();
}

void TTemporaryFile::Release() {
  if (FLock >= 0) ::close(FLock);
  FLock = -1;
}
