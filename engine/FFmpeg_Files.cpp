// Where an output's bytes go: a regular file is written under a temporary name beside it and
// takes the final name only when the run leaves something usable, so that a failed or killed
// run never destroys the file it was to replace. Pipes and devices are written directly.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "FFmpeg_Private.h"
#include "UnicodeProtocol.h"

namespace ffmpeg_internal {

namespace {

void LogFileError(const char* what, const std::string& path) {
  FFLogger().LogFmt(nullptr, llError, "Could not %s %s: %s", what, path.c_str(),
                    std::strerror(errno));
}

bool RegularFileSize(const std::string& path, off_t& size) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = st.st_size;
  return true;
}

// Deletes an output written directly that this run created but left without content: it stayed
// empty, or never got its header (it could not be played). Only a regular file: a device or a
// pipe (/dev/null for a first pass) always reads as empty, and removing it would break the
// system.
void DeleteUnfinishedFile(const std::string& path, bool headerWritten) {
  off_t size = 0;
  if (!RegularFileSize(path, size) || (headerWritten && size > 0)) return;
  if (std::remove(path.c_str()) != 0) LogFileError("delete", path);
}

// A new, empty file of a name nobody uses, in the folder of `path`; it gets the mode of the file
// it replaces, or the one a new file would get. Empty when none can be made.
std::string CreateFileBeside(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  struct stat replaced {};
  const bool replacing = ::stat(path.c_str(), &replaced) == 0;
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string temp = Format("%s/.%s.%08x.part", folder.c_str(), name.c_str(), random());
    const int file = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file < 0 && errno == EEXIST) continue;
    if (file < 0) return "";
    if (replacing) (void)::fchmod(file, replaced.st_mode & 07777);
    ::close(file);
    return temp;
  }
  return "";
}

}  // namespace

std::string CreateTemporaryOutput(S url) {
  if (!IsLocalFileUrl(url)) return "";
  const std::string path = UrlToWideFileName(url);
  struct stat st {};
  // A file the user may not write is refused by the direct open, as it should be.
  if (::stat(path.c_str(), &st) == 0 && (!S_ISREG(st.st_mode) || ::access(path.c_str(), W_OK) != 0))
    return "";
  return CreateFileBeside(path);
}

void SettleOutputFile(const TOutputFile& file, bool closed) {
  if (file.TempName.empty()) {
    if (IsLocalFileUrl(file.FileName))
      DeleteUnfinishedFile(UrlToWideFileName(file.FileName), file.HeaderWritten);
    return;
  }
  off_t size = 0;
  const bool usable = closed && file.Complete && file.HeaderWritten &&
                      RegularFileSize(file.TempName, size) && size > 0;
  if (!usable) {
    if (std::remove(file.TempName.c_str()) != 0) LogFileError("delete", file.TempName);
    return;
  }
  const std::string path = UrlToWideFileName(file.FileName);
  // On failure the output stays under its temporary name, which the log names.
  if (std::rename(file.TempName.c_str(), path.c_str()) != 0)
    FFLogger().LogFmt(nullptr, llError, "Could not rename %s to %s: %s", file.TempName.c_str(),
                      path.c_str(), std::strerror(errno));
}

}  // namespace ffmpeg_internal
