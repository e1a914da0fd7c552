// Where an output's bytes go: a regular file is written under a temporary name beside it and
// takes the final name only when the run leaves something usable, so that a failed or killed
// run never destroys the file it was to replace. Pipes and devices are written directly.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

}  // namespace

void CreateTemporaryOutput(S url, TTemporaryFile& temp) {
  if (!IsLocalFileUrl(url)) return;
  const std::string path = UrlToWideFileName(url);
  struct stat st {};
  // A file the user may not write is refused by the direct open, as it should be.
  if (::stat(path.c_str(), &st) == 0 && (!S_ISREG(st.st_mode) || ::access(path.c_str(), W_OK) != 0))
    return;
  temp.Create(path);
}

std::string SettleOutputFile(TOutputFile& file, bool closed) {
  if (file.Temp.Name().empty()) {
    if (IsLocalFileUrl(file.FileName))
      DeleteUnfinishedFile(UrlToWideFileName(file.FileName), file.HeaderWritten);
    return {};
  }
  const bool usable = closed && file.Complete && file.HeaderWritten && file.MediaPackets > 0 &&
                      file.Temp.Size() > 0;
  if (!usable) {
    file.Temp.Discard();
    return {};
  }
  return file.Temp.CommitOrKeep("the converted file");
}

}  // namespace ffmpeg_internal
