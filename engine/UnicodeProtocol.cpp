#include "UnicodeProtocol.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

#include "FFBaseComponent.h"
#include "FFUtils.h"

namespace {

constexpr std::string_view UnicodePrefix = "unicode:";
constexpr std::string_view FilePrefix = "file:";
// FFmpeg's own file protocol reads in blocks of this size.
constexpr int ReadBufferSize = 32768;
// Outputs are written in large blocks: a muxer packet is often only a kilobyte.
constexpr int WriteBufferSize = 262144;

std::string_view WithoutPrefix(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix ? text.substr(prefix.size()) : text;
}

// What rides in the I/O context's opaque pointer: the descriptor, and the interrupt callback of
// the format context that reads through it. FFmpeg asks its own protocols' callback before
// every read; a custom context is never asked, so our reads ask it themselves, and a reader
// whose format searches a long file (or an endless one) can still be given up.
struct TFileIO {
  int File;
  AVIOInterruptCB Interrupt;
};

int FileOf(void* opaque) { return static_cast<TFileIO*>(opaque)->File; }

bool Interrupted(void* opaque) {
  const AVIOInterruptCB& interrupt = static_cast<TFileIO*>(opaque)->Interrupt;
  return interrupt.callback && interrupt.callback(interrupt.opaque);
}

int ReadFile(void* opaque, uint8_t* buffer, int size) {
  if (Interrupted(opaque)) return AVERROR_EXIT;
  for (;;) {
    const ssize_t done = ::read(FileOf(opaque), buffer, size_t(size));
    if (done > 0) return int(done);
    if (done == 0) return AVERROR_EOF;
    if (errno != EINTR) return AVERROR(errno);
  }
}

// write() may take less than asked (signals, pipes): the rest is written before returning.
int WriteFile(void* opaque, uint8_t* buffer, int size) {
  int written = 0;
  while (written < size) {
    const ssize_t done = ::write(FileOf(opaque), buffer + written, size_t(size - written));
    if (done > 0) {
      written += int(done);
    } else if (done == 0 || errno != EINTR) {
      return done == 0 ? AVERROR(EIO) : AVERROR(errno);
    }
  }
  return written;
}

int64_t SeekFile(void* opaque, int64_t offset, int whence) {
  if (whence & AVSEEK_SIZE) {
    struct stat status {};
    if (::fstat(FileOf(opaque), &status) != 0) return AVERROR(errno);
    return S_ISREG(status.st_mode) ? int64_t(status.st_size) : AVERROR(ENOSYS);
  }
  const off_t position = ::lseek(FileOf(opaque), off_t(offset), whence & ~AVSEEK_FORCE);
  return position < 0 ? AVERROR(errno) : int64_t(position);
}

// Opens the file itself; returns the descriptor or an FFmpeg error code.
int OpenFile(const std::string& name, int flags) {
  int access = O_RDONLY;
  if (flags & AVIO_FLAG_WRITE)
    access = ((flags & AVIO_FLAG_READ) ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
  const int file = ::open(name.c_str(), access | O_CLOEXEC, 0666);
  if (file < 0) return AVERROR(errno);
  // Linux opens a folder for reading; refuse it here rather than fail on the first read.
  struct stat status {};
  if (::fstat(file, &status) != 0 || S_ISDIR(status.st_mode)) {
    const int error = S_ISDIR(status.st_mode) ? EISDIR : errno;
    ::close(file);
    return AVERROR(error);
  }
  return file;
}

bool IsRegularFile(int file) {
  struct stat status {};
  return ::fstat(file, &status) == 0 && S_ISREG(status.st_mode);
}

// True when a comma-separated protocol list names the protocol.
bool ListNames(const char* list, std::string_view protocol) {
  std::string_view rest = list;
  while (!rest.empty()) {
    const size_t comma = rest.find(',');
    if (rest.substr(0, comma) == protocol) return true;
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return false;
}

// A context's protocol white- and blacklists bind our local files as they bind FFmpeg's "file".
bool LocalFilesAllowed(const AVFormatContext* s) {
  return (!s->protocol_whitelist || ListNames(s->protocol_whitelist, "file")) &&
         !(s->protocol_blacklist && ListNames(s->protocol_blacklist, "file"));
}

int OpenThroughFFmpeg(AVIOContext** pb, const std::string& url, int flags, AVFormatContext* s,
                      AVDictionary** options) {
  AVDictionary* ownOptions = nullptr;
  AVDictionary** dictionary = options ? options : &ownOptions;
  if (s->protocol_whitelist)
    ff::av_dict_set(dictionary, "protocol_whitelist", s->protocol_whitelist, 0);
  if (s->protocol_blacklist)
    ff::av_dict_set(dictionary, "protocol_blacklist", s->protocol_blacklist, 0);
  const int result = ff::avio_open2(pb, url.c_str(), flags, &s->interrupt_callback, dictionary);
  ff::av_dict_free(&ownOptions);
  return result;
}

// The format context's io_open: every file a format opens, the first one included for outputs.
int OpenFormatFile(AVFormatContext* s, AVIOContext** pb, const char* url, int flags,
                   AVDictionary** options) {
  return CalledFromFFmpeg("Opening a file", AVERROR(ENOMEM), [=] {
    if (!IsLocalFileUrl(url)) return OpenThroughFFmpeg(pb, url, flags, s, options);
    if (!LocalFilesAllowed(s)) return AVERROR(EINVAL);
    return UnicodeOpen(pb, url, flags, &s->interrupt_callback);
  });
}

int CloseFormatFile(AVFormatContext*, AVIOContext* pb) {
  return IsUnicodeContext(pb) ? UnicodeClose(&pb) : ff::avio_close(pb);
}

void RouteFormatFiles(AVFormatContext* s) {
  s->io_open = OpenFormatFile;
  s->io_close2 = CloseFormatFile;
}

}  // namespace

std::string UrlToWideFileName(const std::string& url) {
  return std::string(WithoutPrefix(WithoutPrefix(url, UnicodePrefix), FilePrefix));
}

void RegisterUnicodeProtocol() { RegisterProtocol("unicode"); }

bool IsLocalFileUrl(const std::string& url) {
  if (WithoutPrefix(url, UnicodePrefix).size() != url.size()) return true;
  const char* protocol = ff::avio_find_protocol_name(url.c_str());
  return !protocol || std::strcmp(protocol, "file") == 0;
}

int UnicodeOpen(AVIOContext** pb, const std::string& url, int flags,
                const AVIOInterruptCB* interrupt) {
  *pb = nullptr;
  const int file = OpenFile(UrlToWideFileName(url), flags);
  if (file < 0) return file;
  const bool writing = flags & AVIO_FLAG_WRITE;
  const int bufferSize = writing ? WriteBufferSize : ReadBufferSize;
  auto* io = new (std::nothrow) TFileIO{file, interrupt ? *interrupt : AVIOInterruptCB{}};
  auto* buffer = io ? static_cast<unsigned char*>(ff::av_malloc(size_t(bufferSize))) : nullptr;
  AVIOContext* context = nullptr;
  if (buffer)
    context = ff::avio_alloc_context(buffer, bufferSize, writing, io,
                                     (flags & AVIO_FLAG_READ) ? ReadFile : nullptr,
                                     writing ? WriteFile : nullptr, SeekFile);
  if (!context) {
    ff::av_free(buffer);
    delete io;
    ::close(file);
    return AVERROR(ENOMEM);
  }
  if (!IsRegularFile(file)) context->seekable = 0;
  *pb = context;
  return 0;
}

int UnicodeClose(AVIOContext** pb) {
  AVIOContext* context = *pb;
  if (!context) return 0;
  assert(IsUnicodeContext(context) && "not a unicode I/O context");
  int result = 0;
  if (context->write_flag) {
    ff::avio_flush(context);
    result = context->error;
  }
  auto* io = static_cast<TFileIO*>(context->opaque);
  ff::av_freep(&context->buffer);  // avio may have replaced the buffer it was given
  ff::avio_context_free(pb);
  if (::close(io->File) != 0 && result == 0) result = AVERROR(errno);
  delete io;
  return result;
}

bool IsUnicodeContext(const AVIOContext* pb) { return pb && pb->seek == SeekFile; }

int UnicodeOpenInput(AVFormatContext** ps, const std::string& url, const AVInputFormat* format,
                     AVDictionary** options) {
  if (!IsLocalFileUrl(url) || (format && (format->flags & AVFMT_NOFILE)))
    return ff::avformat_open_input(ps, url.c_str(), format, options);
  if (!*ps && !(*ps = ff::avformat_alloc_context())) return AVERROR(ENOMEM);
  AVFormatContext* s = *ps;
  assert(!s->pb && "the input already has an I/O context");
  // The format sees the bare file name, so that the names it derives (playlists, sequences)
  // are file names again.
  const std::string name = UrlToWideFileName(url);
  int result = LocalFilesAllowed(s)
                   ? UnicodeOpen(&s->pb, name, AVIO_FLAG_READ, &s->interrupt_callback)
                   : AVERROR(EINVAL);
  if (result < 0) {
    ff::avformat_free_context(s);
    *ps = nullptr;
    return result;
  }
  AVIOContext* pb = s->pb;
  s->flags |= AVFMT_FLAG_CUSTOM_IO;
  RouteFormatFiles(s);
  result = ff::avformat_open_input(ps, name.c_str(), format, options);
  if (result < 0) UnicodeClose(&pb);  // FFmpeg freed the format context, not the custom I/O
  return result;
}

void UnicodeCloseInput(AVFormatContext** ps) {
  if (!*ps) return;
  // FFmpeg leaves a custom I/O context open; one of FFmpeg's own it closes itself.
  AVIOContext* pb = nullptr;
  if (((*ps)->flags & AVFMT_FLAG_CUSTOM_IO) && IsUnicodeContext((*ps)->pb)) pb = (*ps)->pb;
  ff::avformat_close_input(ps);
  UnicodeClose(&pb);
}

int UnicodeOpenOutput(AVFormatContext* oc, const std::string& url) {
  assert(oc->oformat && !oc->pb && "an output context without an I/O context");
  RouteFormatFiles(oc);
  if (oc->oformat->flags & AVFMT_NOFILE) return 0;
  const int result = oc->io_open(oc, &oc->pb, url.c_str(), AVIO_FLAG_WRITE, nullptr);
  if (result < 0 || !IsUnicodeContext(oc->pb)) return result;
  oc->flags |= AVFMT_FLAG_CUSTOM_IO;
  // Left automatic, the muxer writes out a custom context after every packet; the buffer goes
  // out when full, when the muxer seeks back into the file and at the end.
  if (oc->flush_packets < 0) oc->flush_packets = 0;
  return result;
}

int UnicodeCloseOutput(AVFormatContext* oc) {
  AVIOContext* pb = oc->pb;
  oc->pb = nullptr;
  return pb ? CloseFormatFile(oc, pb) : 0;
}
