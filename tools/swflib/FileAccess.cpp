#include "FileAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>

namespace fennick::swf {

namespace {

// Closes the descriptor on every path out of a function.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // Closing can report a delayed write error; false then, with errno set.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

[[noreturn]] void Fail(const char* what, const std::filesystem::path& file,
                       const std::string& reason) {
  throw SwfError(std::string(what) + " \"" + file.string() + "\": " + reason);
}

[[noreturn]] void FailWithErrno(const char* what, const std::filesystem::path& file) {
  Fail(what, file, std::strerror(errno));
}

constexpr size_t kReadChunk = 64 * 1024;

bool WriteAll(int fd, const Bytes& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// A name beside the file that nothing else uses, created empty; its descriptor goes to `fd`.
std::filesystem::path CreateScratch(const std::filesystem::path& file, int& fd) {
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char tag[24];
    std::snprintf(tag, sizeof tag, ".%012llx.part",
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
    std::filesystem::path scratch = file;
    scratch += tag;
    fd = ::open(scratch.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return scratch;
    if (errno != EEXIST) break;
  }
  FailWithErrno("cannot create", file);
}

void WriteThrough(const std::filesystem::path& file, const Bytes& data) {
  Descriptor out(::open(file.c_str(), O_WRONLY | O_CLOEXEC));
  if (out.get() < 0) FailWithErrno("cannot open", file);
  if (!WriteAll(out.get(), data) || !out.Close()) FailWithErrno("cannot write", file);
}

void WriteAndRename(const std::filesystem::path& file, const Bytes& data) {
  int fd = -1;
  const std::filesystem::path scratch = CreateScratch(file, fd);
  Descriptor out(fd);
  if (WriteAll(out.get(), data) && out.Close() && ::rename(scratch.c_str(), file.c_str()) == 0)
    return;
  const int reason = errno;  // the write's own failure is the one worth reporting
  ::unlink(scratch.c_str());
  Fail("cannot write", file, std::strerror(reason));
}

}  // namespace

Bytes ReadWholeFile(const std::filesystem::path& file, size_t limit) {
  const auto tooLarge = [&] {
    Fail("cannot read", file, "it is larger than " + std::to_string(limit >> 20) + " MiB");
  };
  Descriptor in(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) FailWithErrno("cannot read", file);
  struct stat info {};
  if (::fstat(in.get(), &info) != 0) FailWithErrno("cannot read", file);
  if (S_ISDIR(info.st_mode)) Fail("cannot read", file, "it is a folder");
  const bool regular = S_ISREG(info.st_mode);
  if (regular && static_cast<uint64_t>(info.st_size) > limit) tooLarge();
  Bytes data(regular ? static_cast<size_t>(info.st_size) : 0);
  size_t done = 0;
  for (;;) {
    // Reading on past the size seen finds the end of a file that is still growing, or of a
    // pipe, and holds those to the same limit.
    if (done == data.size()) {
      if (done > limit) tooLarge();
      data.resize(std::min(limit + 1, std::max(done + kReadChunk, 2 * done)));
    }
    const ssize_t n = ::read(in.get(), data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) FailWithErrno("cannot read", file);
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  data.resize(done);
  return data;
}

void WriteWholeFile(const std::filesystem::path& file, const Bytes& data) {
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0 || S_ISREG(info.st_mode)) {
    WriteAndRename(file, data);
  } else if (S_ISDIR(info.st_mode)) {
    Fail("cannot write", file, "it is a folder");
  } else {
    WriteThrough(file, data);
  }
}

}  // namespace fennick::swf
