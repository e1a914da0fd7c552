#include "FFUtils.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <set>
#include <utility>

#include "FFBaseComponent.h"
#include "FFLoad.h"
#include "FFLog.h"

namespace {

struct TErrorText {
  int Code;
  const char* Text;
};

// FFmpeg's own codes, then the negated C error numbers, then the negated Windows Sockets
// numbers that FFmpeg builds for other systems report.
const TErrorText ErrorTexts[] = {
    {AVERROR_BSF_NOT_FOUND, "Bitstream filter not found"},
    {AVERROR_DECODER_NOT_FOUND, "Decoder not found"},
    {AVERROR_DEMUXER_NOT_FOUND, "Demuxer not found"},
    {AVERROR_ENCODER_NOT_FOUND, "Encoder not found"},
    {AVERROR_EOF, "End of file"},
    {AVERROR_EXIT, "Immediate exit requested"},
    {AVERROR_FILTER_NOT_FOUND, "Filter not found"},
    {AVERROR_INVALIDDATA, "Invalid data found when processing input"},
    {AVERROR_MUXER_NOT_FOUND, "Muxer not found"},
    {AVERROR_OPTION_NOT_FOUND, "Option not found"},
    {AVERROR_PATCHWELCOME, "Not yet implemented in FFmpeg, patches welcome"},
    {AVERROR_PROTOCOL_NOT_FOUND, "Protocol not found"},
    {AVERROR_STREAM_NOT_FOUND, "Stream not found"},

    {-1, "Operation not permitted"},
    {-2, "No such file or directory"},
    {-3, "No such process"},
    {-4, "Interrupted function call"},
    {-5, "I/O error"},
    {-6, "No such device or address"},
    {-7, "Argument list too long"},
    {-8, "Exec format error"},
    {-9, "Bad file number"},
    {-10, "No child processes"},
    {-11, "Resource temporarily unavailable / Try again"},
    {-12, "Not enough space / Out of memory"},
    {-13, "Permission denied"},
    {-14, "Bad address"},
    {-15, "Block device required"},
    {-16, "Device or resource busy"},
    {-17, "File exists"},
    {-18, "Cross-device link"},
    {-19, "No such device"},
    {-20, "Not a directory"},
    {-21, "Is a directory"},
    {-22, "Invalid argument / Invalid data found when processing input"},
    {-23, "Too many open files in system / File table overflow"},
    {-24, "Too many open files"},
    {-25, "Inappropriate I/O control operation / Not a typewriter"},
    {-26, "Text file busy"},
    {-27, "File too large"},
    {-28, "No space left on device"},
    {-29, "Illegal seek"},
    {-30, "Read-only file system"},
    {-31, "Too many links"},
    {-34, "Math result not representable"},
    {-35, "Resource deadlock would occur"},
    {-36, "File name too long"},
    {-37, "No record locks available"},
    {-38, "Function not implemented"},
    {-39, "Directory not empty"},
    {-40, "Too many symbolic links encountered"},
    {-43, "Identifier removed"},
    {-44, "Channel number out of range"},
    {-45, "Level 2 not synchronized"},
    {-46, "Level 3 halted"},
    {-47, "Level 3 reset"},
    {-48, "Link number out of range"},
    {-49, "Protocol driver not attached"},
    {-50, "No CSI structure available"},
    {-51, "Level 2 halted"},
    {-52, "Invalid exchange"},
    {-53, "Invalid request descriptor"},
    {-54, "Exchange full"},
    {-55, "No anode"},
    {-56, "Invalid request code"},
    {-57, "Invalid slot"},
    {-59, "Bad font file format"},
    {-60, "Device not a stream"},
    {-61, "No data available"},
    {-62, "Timer expired"},
    {-63, "Out of streams resources"},
    {-64, "Machine is not on the network"},
    {-65, "Package not installed"},
    {-66, "Object is remote"},
    {-67, "Link has been severed"},
    {-68, "Advertise error"},
    {-69, "Srmount error"},
    {-70, "Communication error on send"},
    {-71, "Protocol error"},
    {-72, "Multihop attempted"},
    {-73, "RFS specific error"},
    {-74, "Not a data message"},
    {-75, "Value too large for defined data type"},
    {-76, "Name not unique on network"},
    {-77, "File descriptor in bad state"},
    {-78, "Remote address changed"},
    {-79, "Can not access a needed shared library"},
    {-80, "Accessing a corrupted shared library"},
    {-81, ".lib section in a.out corrupted"},
    {-82, "Attempting to link in too many shared libraries"},
    {-83, "Cannot exec a shared library directly"},
    {-84, "Illegal byte sequence"},
    {-85, "Interrupted system call should be restarted"},
    {-86, "Streams pipe error"},
    {-87, "Too many users"},
    {-88, "Socket operation on non-socket"},
    {-89, "Destination address required"},
    {-90, "Message too long"},
    {-91, "Protocol wrong type for socket"},
    {-92, "Protocol not available"},
    {-93, "Protocol not supported"},
    {-94, "Socket type not supported"},
    {-95, "Operation not supported on transport endpoint"},
    {-96, "Protocol family not supported"},
    {-97, "Address family not supported by protocol"},
    {-98, "Address already in use"},
    {-99, "Cannot assign requested address"},
    {-100, "Network is down"},
    {-101, "Network is unreachable"},
    {-102, "Network dropped connection because of reset"},
    {-103, "Software caused connection abort"},
    {-104, "Connection reset by peer"},
    {-105, "No buffer space available"},
    {-106, "Transport endpoint is already connected"},
    {-107, "Transport endpoint is not connected"},
    {-108, "Cannot send after transport endpoint shutdown"},
    {-109, "Too many references: cannot splice"},
    {-110, "Connection timed out"},
    {-111, "Connection refused"},
    {-112, "Host is down"},
    {-113, "No route to host"},
    {-114, "Operation already in progress"},
    {-115, "Operation now in progress"},
    {-116, "Stale NFS file handle"},
    {-117, "Structure needs cleaning"},
    {-118, "Not a XENIX named type file"},
    {-119, "No XENIX semaphores available"},
    {-120, "Is a named type file"},
    {-121, "Remote I/O error"},
    {-122, "Quota exceeded"},
    {-123, "No medium found"},
    {-124, "Wrong medium type"},
    {-125, "Operation Canceled"},
    {-126, "Required key not available"},
    {-127, "Key has expired"},
    {-128, "Key has been revoked"},
    {-129, "Key was rejected by service"},
    {-130, "Owner died"},
    {-131, "State not recoverable"},

    {-10004, "Interrupted function call"},
    {-10009, "Bad file number"},
    {-10013, "Permission denied"},
    {-10014, "Bad address"},
    {-10022, "Invalid argument / Invalid data found when processing input"},
    {-10024, "Too many open files"},
    {-10035, "WSAEWOULDBLOCK"},
    {-10036, "Operation now in progress"},
    {-10037, "Operation already in progress"},
    {-10038, "Socket operation on non-socket"},
    {-10039, "Destination address required"},
    {-10040, "Message too long"},
    {-10041, "Protocol wrong type for socket"},
    {-10042, "Protocol not available"},
    {-10043, "Protocol not supported"},
    {-10044, "Socket type not supported"},
    {-10045, "Operation not supported on transport endpoint"},
    {-10046, "Protocol family not supported"},
    {-10047, "Address family not supported by protocol"},
    {-10048, "Address already in use"},
    {-10049, "Cannot assign requested address"},
    {-10050, "Network is down"},
    {-10051, "Network is unreachable"},
    {-10052, "Network dropped connection because of reset"},
    {-10053, "Software caused connection abort"},
    {-10054, "Connection reset by peer"},
    {-10055, "No buffer space available"},
    {-10056, "Transport endpoint is already connected"},
    {-10057, "Transport endpoint is not connected"},
    {-10058, "Cannot send after transport endpoint shutdown"},
    {-10059, "Too many references: cannot splice"},
    {-10060, "Connection timed out"},
    {-10061, "Connection refused"},
    {-10062, "Too many symbolic links encountered"},
    {-10063, "File name too long"},
    {-10064, "Host is down"},
    {-10065, "No route to host"},
    {-10066, "Directory not empty"},
    {-10067, "WSAEPROCLIM"},
    {-10068, "Too many users"},
    {-10069, "Quota exceeded"},
    {-10070, "Stale NFS file handle"},
    {-10071, "Object is remote"},
    {-10091, "WSASYSNOTREADY"},
    {-10092, "WSAVERNOTSUPPORTED"},
    {-10093, "WSANOTINITIALISED"},
    {-10101, "WSAEDISCON"},
    {-10102, "WSAENOMORE"},
    {-10103, "WSAECANCELLED"},
    {-10104, "WSAEINVALIDPROCTABLE"},
    {-10105, "WSAEINVALIDPROVIDER"},
    {-10106, "WSAEPROVIDERFAILEDINIT"},
    {-10107, "WSASYSCALLFAILURE"},
    {-10108, "WSASERVICE_NOT_FOUND"},
    {-10109, "WSATYPE_NOT_FOUND"},
    {-10110, "WSA_E_NO_MORE"},
    {-10111, "WSA_E_CANCELLED"},
    {-10112, "WSAEREFUSED"},
    {-11001, "WSAHOST_NOT_FOUND"},
    {-11002, "WSATRY_AGAIN"},
    {-11003, "WSANO_RECOVERY"},
    {-11004, "WSANO_DATA"},
};

// The option flags that mark a codec option as meaning something for a media type; data and
// attachment streams have none, so every codec option applies to them.
const int MediaTypeOptionFlags[AVMEDIA_TYPE_NB] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM,
                                                   0, AV_OPT_FLAG_SUBTITLE_PARAM, 0};

thread_local std::string LastOptionErrorText;

std::string InvalidValueText(const std::string& name, const std::string& value) {
  return "Invalid value \"" + value + "\" for option \"" + name + "\"";
}

void LogOptionError(const std::string& text) {
  ff::av_log(nullptr, AV_LOG_ERROR, "%s\n", text.c_str());
}

// Reports a failed option and keeps its text for the option parser.
bool FailOption(const std::string& text) {
  LastOptionErrorText = text;
  LogOptionError(text);
  return false;
}

// Where the set keeps the accepted options of a media type's codec context; data and
// attachment streams are only ever copied, so theirs are not kept.
AVDictionary* TOptionContexts::*OptionsOfMediaType(int mediaType) {
  switch (mediaType) {
    case AVMEDIA_TYPE_VIDEO:
      return &TOptionContexts::VideoOptions;
    case AVMEDIA_TYPE_AUDIO:
      return &TOptionContexts::AudioOptions;
    case AVMEDIA_TYPE_SUBTITLE:
      return &TOptionContexts::SubtitleOptions;
    default:
      return nullptr;
  }
}

void Record(AVDictionary*& options, const std::string& name, const std::string& value) {
  if (ff::av_dict_set(&options, name.c_str(), value.c_str(), 0) < 0)
    throw FFmpegException("Could not alloc buffer.");
}

// How one try of an option went.
enum class TOptionResult { NotFound, Set, Refused };

TOptionResult TrySet(void* context, const std::string& name, const std::string& value,
                     int optionFlags) {
  if (!context || !ff::av_opt_find(context, name.c_str(), nullptr, optionFlags, 0))
    return TOptionResult::NotFound;
  return ff::av_opt_set(context, name.c_str(), value.c_str(), 0) < 0 ? TOptionResult::Refused
                                                                     : TOptionResult::Set;
}

TOptionResult TryCodecContext(TOptionContexts& set, int mediaType, const std::string& name,
                              const std::string& value) {
  const TOptionResult result =
      TrySet(set.CodecContexts[mediaType], name, value, MediaTypeOptionFlags[mediaType]);
  const auto options = OptionsOfMediaType(mediaType);
  if (result == TOptionResult::Set && options) Record(set.*options, name, value);
  return result;
}

// Every codec context whose media type knows the name; Refused when any of them refused it.
TOptionResult TryCodecContexts(TOptionContexts& set, const std::string& name,
                               const std::string& value) {
  bool accepted = false, refused = false;
  for (int type = 0; type < AVMEDIA_TYPE_NB; ++type) {
    const TOptionResult one = TryCodecContext(set, type, name, value);
    accepted |= one == TOptionResult::Set;
    refused |= one == TOptionResult::Refused;
  }
  if (refused) return TOptionResult::Refused;
  return accepted ? TOptionResult::Set : TOptionResult::NotFound;
}

// "ab", "vb", "sfoo": the option without its first letter on that letter's media type.
TOptionResult TryMediaTypePrefix(TOptionContexts& set, const std::string& name,
                                 const std::string& value) {
  if (name.size() < 2) return TOptionResult::NotFound;
  int mediaType;
  switch (name[0]) {
    case 'a':
      mediaType = AVMEDIA_TYPE_AUDIO;
      break;
    case 'v':
      mediaType = AVMEDIA_TYPE_VIDEO;
      break;
    case 's':
      mediaType = AVMEDIA_TYPE_SUBTITLE;
      break;
    default:
      return TOptionResult::NotFound;
  }
  return TryCodecContext(set, mediaType, name.substr(1), value);
}

TOptionResult TrySetOption(TOptionContexts& set, const std::string& name,
                           const std::string& value) {
  TOptionResult result = TryCodecContexts(set, name, value);
  if (result != TOptionResult::NotFound) return result;
  result = TrySet(set.FormatContext, name, value, 0);
  if (result == TOptionResult::Set) Record(set.FormatOptions, name, value);
  if (result != TOptionResult::NotFound) return result;
  result = TrySet(set.ScalerContext, name, value, 0);
  if (result != TOptionResult::NotFound) return result;
  return TryMediaTypePrefix(set, name, value);
}

bool DebugRequested(const TOptionContexts& set) {
  const AVCodecContext* video = set.CodecContexts[AVMEDIA_TYPE_VIDEO];
  return (video && video->debug) || (set.FormatContext && set.FormatContext->debug);
}

void CopyOptions(const AVDictionary* options, void* context, int flags) {
  const AVDictionaryEntry* entry = nullptr;
  while ((entry = ff::av_dict_get(options, "", entry, AV_DICT_IGNORE_SUFFIX))) {
    if (!ff::av_opt_find(context, entry->key, nullptr, flags, 0)) continue;
    if (ff::av_opt_set(context, entry->key, entry->value, 0) < 0)
      LogOptionError(InvalidValueText(entry->key, entry->value));
  }
}

__attribute__((format(printf, 1, 2))) std::string Printf(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

bool IsPrintable(int c) { return c >= 32 && c <= 126; }

// A set of names that only grows; names compare exactly, as FFmpeg compares its own.
class TNameRegistry {
 public:
  bool Add(const std::string& name) {
    std::lock_guard<std::mutex> lock(FLock);
    return FNames.insert(name).second;
  }
  bool Contains(const std::string& name) const {
    std::lock_guard<std::mutex> lock(FLock);
    return FNames.count(name) != 0;
  }

 private:
  mutable std::mutex FLock;
  std::set<std::string> FNames;
};

TNameRegistry& Protocols() {
  static TNameRegistry registry;
  return registry;
}

TNameRegistry& Filters() {
  static TNameRegistry registry;
  return registry;
}

}  // namespace

int64_t ProbedFrames(const AVStream& stream) {
  const AVCodecParameters* par = stream.codecpar;
  if (stream.nb_frames > 0) return stream.nb_frames;
  return par->codec_id != AV_CODEC_ID_NONE && (par->width > 0 || par->sample_rate > 0) ? 1 : 0;
}

AVRational ShownSampleAspect(const AVStream* stream, const AVFrame* picture) {
  // The library only reads them.
  return ff::av_guess_sample_aspect_ratio(nullptr, const_cast<AVStream*>(stream),
                                          const_cast<AVFrame*>(picture));
}

bool SeekToFirstPacket(AVFormatContext* input) {
  return ff::av_seek_frame(input, -1, INT64_MIN, AVSEEK_FLAG_BACKWARD) >= 0 ||
         ff::av_seek_frame(input, -1, 0, AVSEEK_FLAG_BYTE) >= 0;
}

std::string DurationToText(int64_t duration) {
  if (duration == AV_NOPTS_VALUE) return "N/A";
  return Printf("%.2lld:%.2d:%.2d.%.3d", static_cast<long long>(duration / 3600000000LL),
                static_cast<int>(duration / 60000000 % 60),
                static_cast<int>(duration / 1000000 % 60),
                static_cast<int>(duration % 1000000 * 1000 / 1000000));
}

std::string AVErrorText(const std::string& prefix, int code) {
  for (const TErrorText& entry : ErrorTexts)
    if (entry.Code == code) return prefix + ": " + entry.Text;
  return prefix + ": " + Printf("Error number %d occurred", code);
}

TOptionContexts::~TOptionContexts() {
  // Without the libraries nothing can be freed any more; the process is ending then.
  if (FFLoader().Loaded(LibraryBit(libAVCodec) | LibraryBit(libAVFormat) | LibraryBit(libAVUtil) |
                        LibraryBit(libSWScale)))
    FreeOptionContexts(*this);
}

void InitOptionContexts(TOptionContexts& set, int scalerFlags) {
  FreeOptionContexts(set);
  for (int type = 0; type < AVMEDIA_TYPE_NB; ++type) {
    AVCodecContext* context = ff::avcodec_alloc_context3(nullptr);
    if (!context) throw FFmpegException("avcodec_alloc_context failed");
    context->codec_type = AVMediaType(type);
    set.CodecContexts[type] = context;
  }
  set.FormatContext = ff::avformat_alloc_context();
  if (!set.FormatContext) throw FFmpegException("avformat_alloc_context failed");
  set.ScalerContext = ff::sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_YUV420P,
                                         scalerFlags, nullptr, nullptr, nullptr);
  if (!set.ScalerContext) throw FFmpegException("sws_getContext failed");
}

void FreeOptionContexts(TOptionContexts& set) {
  for (AVCodecContext*& context : set.CodecContexts) ff::avcodec_free_context(&context);
  ff::avformat_free_context(set.FormatContext);
  set.FormatContext = nullptr;
  ff::sws_freeContext(set.ScalerContext);
  set.ScalerContext = nullptr;
  for (AVDictionary** options :
       {&set.FormatOptions, &set.VideoOptions, &set.AudioOptions, &set.SubtitleOptions})
    ff::av_dict_free(options);
}

bool OptDefault(TOptionContexts& set, const std::string& name, const std::string& value) {
  switch (TrySetOption(set, name, value)) {
    case TOptionResult::NotFound:
      return FailOption("Unrecognized option \"" + name + "\"");
    case TOptionResult::Refused:
      return FailOption(InvalidValueText(name, value));
    case TOptionResult::Set:
      break;
  }
  if (DebugRequested(set)) FFLogger().SetLogLevel(llDebug);
  return true;
}

const std::string& LastOptionError() { return LastOptionErrorText; }

void SetContextOptions(const TOptionContexts& set, AVCodecContext* context, int flags) {
  if (const auto options = OptionsOfMediaType(context->codec_type))
    CopyOptions(set.*options, context, flags);
}

int MediaTypeOptionFlag(AVMediaType type) {
  switch (type) {
    case AVMEDIA_TYPE_VIDEO:
      return AV_OPT_FLAG_VIDEO_PARAM;
    case AVMEDIA_TYPE_AUDIO:
      return AV_OPT_FLAG_AUDIO_PARAM;
    case AVMEDIA_TYPE_SUBTITLE:
      return AV_OPT_FLAG_SUBTITLE_PARAM;
    default:
      return 0;
  }
}

void SetContextOptions(const TOptionContexts& set, AVFormatContext* context, int flags) {
  CopyOptions(set.FormatOptions, context, flags);
}

int ReadWholeFile(const char* fileName, uint8_t*& buffer, int64_t& size) {
  buffer = nullptr;
  size = 0;
  FILE* file = std::fopen(fileName, "rb");
  if (!file) return -1;
  int result = -1;
  long length = -1;
  // Only a regular file has a size to read; a folder opens but cannot be read.
  struct stat st {};
  if (::fstat(::fileno(file), &st) == 0 && S_ISREG(st.st_mode) &&
      std::fseek(file, 0, SEEK_END) == 0)
    length = std::ftell(file);
  if (length >= 0 && std::fseek(file, 0, SEEK_SET) == 0) {
    auto* data = static_cast<uint8_t*>(ff::av_malloc(size_t(length) + 1));
    if (!data) {
      result = AVERROR(ENOMEM);
    } else {
      const size_t read = std::fread(data, 1, size_t(length), file);
      // A read error must not pass for a short file.
      if (std::ferror(file)) {
        ff::av_free(data);
      } else {
        data[read] = 0;
        buffer = data;
        size = int64_t(read) + 1;
        result = 0;
      }
    }
  }
  std::fclose(file);
  return result;
}

std::string GetMetadataValue(const AVDictionary* dictionary, const std::string& key,
                             const std::string& defaultValue) {
  const AVDictionaryEntry* entry = ff::av_dict_get(dictionary, key.c_str(), nullptr, 0);
  return entry ? entry->value : defaultValue;
}

std::string CodecTagText(AVCodecID codecId, uint32_t codecTag, bool encoder) {
  const AVCodec* codec =
      encoder ? ff::avcodec_find_encoder(codecId) : ff::avcodec_find_decoder(codecId);
  if (codec) {
    if (codec->long_name && *codec->long_name)
      return std::string(codec->name) + "(" + codec->long_name + ")";
    return codec->name;
  }
  if (codecId == AV_CODEC_ID_MPEG2TS) return "mpeg2ts";
  // A codec FFmpeg describes but cannot decode or encode still has a name.
  if (const AVCodecDescriptor* descriptor = ff::avcodec_descriptor_get(codecId))
    return descriptor->name;
  const int c[4] = {int(codecTag & 0xFF), int(codecTag >> 8 & 0xFF), int(codecTag >> 16 & 0xFF),
                    int(codecTag >> 24)};
  if (IsPrintable(c[0]) && IsPrintable(c[1]) && IsPrintable(c[2]) && IsPrintable(c[3]))
    return Printf("%c%c%c%c / 0x%04X", c[0], c[1], c[2], c[3], codecTag);
  return Printf("0x%04x", codecTag);
}

std::string CodecTagText(const AVCodecParameters* parameters, bool encoder) {
  return CodecTagText(parameters->codec_id, parameters->codec_tag, encoder);
}

std::string MediaTypeName(int mediaType) {
  switch (mediaType) {
    case AVMEDIA_TYPE_VIDEO:
      return "Video";
    case AVMEDIA_TYPE_AUDIO:
      return "Audio";
    case AVMEDIA_TYPE_DATA:
      return "Data";
    case AVMEDIA_TYPE_SUBTITLE:
      return "Subtitle";
    case AVMEDIA_TYPE_ATTACHMENT:
      return "Attachment";
    default:
      return "Unknown";
  }
}

bool RegisterProtocol(const std::string& name) { return Protocols().Add(name); }
bool ProtocolRegistered(const std::string& name) { return Protocols().Contains(name); }
bool RegisterFilter(const std::string& name) { return Filters().Add(name); }
bool FilterRegistered(const std::string& name) { return Filters().Contains(name); }

int DisplayQuarterTurns(const AVStream* stream) {
  size_t size = 0;
  const uint8_t* matrix = ff::av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (!matrix || size < 9 * sizeof(int32_t)) return 0;
  const double degrees = ff::av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
  if (std::isnan(degrees)) return 0;
  return int(std::lround(degrees / 90) % 4 + 4) % 4;
}

std::string UprightFilterText(int quarterTurns) {
  static const char* const filters[4] = {"", "transpose=cclock", "hflip,vflip", "transpose=clock"};
  return filters[quarterTurns & 3];
}

void DisplayedSize(int quarterTurns, int& width, int& height) {
  if (quarterTurns & 1) std::swap(width, height);
}

namespace {

// The colour filter's name of a matrix other than BT.601's that it can convert from; nullptr for
// BT.601's own (SMPTE 170M, BT.470 BG) and for those it cannot (constant-luminance BT.2020,
// YCgCo), which stay as they are.
const char* OtherYCbCrMatrixName(AVColorSpace space) {
  switch (space) {
    case AVCOL_SPC_BT709:
      return "bt709";
    case AVCOL_SPC_FCC:
      return "fcc";
    case AVCOL_SPC_SMPTE240M:
      return "smpte240m";
    case AVCOL_SPC_BT2020_NCL:
      return "bt2020ncl";
    default:
      return nullptr;
  }
}

bool HDSize(int width, int height) {
  return std::max(width, height) >= 1280 || std::min(width, height) >= 720;
}

}  // namespace

AVColorSpace RecodedYCbCrMatrix(AVPixelFormat format, AVColorSpace space, int width, int height) {
  const AVPixFmtDescriptor* descriptor = ff::av_pix_fmt_desc_get(format);
  if (!descriptor || (descriptor->flags & AV_PIX_FMT_FLAG_RGB) || descriptor->nb_components < 3)
    return AVCOL_SPC_UNSPECIFIED;
  if (space == AVCOL_SPC_UNSPECIFIED && HDSize(width, height)) space = AVCOL_SPC_BT709;
  return OtherYCbCrMatrixName(space) ? space : AVCOL_SPC_UNSPECIFIED;
}

std::string BT601MatrixFilterText(AVPixelFormat format, AVColorSpace space, int width, int height) {
  const AVColorSpace matrix = RecodedYCbCrMatrix(format, space, width, height);
  if (matrix == AVCOL_SPC_UNSPECIFIED) return "";
  // Primaries and transfer are named alike on both sides, so that the filter converts the
  // matrix alone, as the readers of the output differ from the source's in that only.
  std::string text = std::string("colorspace=ispace=") + OtherYCbCrMatrixName(matrix) +
                     ":space=bt470bg:iprimaries=bt709:primaries=bt709:itrc=bt709:trc=bt709";
  // The colour filter takes even sizes only: an odd edge gets a line that is cut off again. The
  // padding keeps the last line of an odd edge only where the chroma is not subsampled.
  if ((width | height) & 1)
    text = "format=yuv444p,pad=w=ceil(iw/2)*2:h=ceil(ih/2)*2," + text +
           ",crop=" + std::to_string(width) + ":" + std::to_string(height) + ":0:0:exact=1";
  return text;
}

TPictureColours PictureColours(const AVFrame& frame) {
  return {frame.colorspace, frame.color_primaries, frame.color_trc};
}

TPictureColours PictureColours(const AVCodecContext& decoder) {
  return {decoder.colorspace, decoder.color_primaries, decoder.color_trc};
}

bool HighDynamicRange(AVColorTransferCharacteristic transfer) {
  return transfer == AVCOL_TRC_SMPTE2084 || transfer == AVCOL_TRC_ARIB_STD_B67;
}

namespace {

// HDR pictures to SDR. Linear light is taken with SDR white (100 cd/m²) as 1, so that what an
// SDR picture holds keeps its level; the tone curve keeps it up to nine tenths of white and
// rolls the highlights (up to the peak that the pictures' metadata give, else 1000 cd/m² for
// HLG and 10000 for PQ) off into the last tenth, hues kept, the brightest desaturated. HDR
// footage is BT.2020's: pictures without a matrix or primaries tag are taken as coded in it.
std::string ToneMapFilterText(const TPictureColours& colours, int width, int height) {
  std::string text = "zscale=";
  if (colours.Matrix == AVCOL_SPC_UNSPECIFIED) text += "min=2020_ncl:";
  if (colours.Primaries == AVCOL_PRI_UNSPECIFIED) text += "pin=2020:";
  text +=
      "t=linear:p=bt709:npl=100,format=gbrpf32le,tonemap=tonemap=mobius:param=0.9,"
      "zscale=t=bt709:m=470bg:r=tv,format=";
  // The library takes subsampled chroma at even sizes only.
  if ((width | height) & 1) return "format=yuv444p16," + text + "yuv444p";
  return text + "yuv420p";
}

}  // namespace

std::string SDRFilterText(AVPixelFormat format, const TPictureColours& colours, int width,
                          int height) {
  if (HighDynamicRange(colours.Transfer)) return ToneMapFilterText(colours, width, height);
  return BT601MatrixFilterText(format, colours.Matrix, width, height);
}

bool SetScalerSourceMatrix(SwsContext* context, AVColorSpace matrix) {
  int* sourceTable = nullptr;
  int* targetTable = nullptr;
  int sourceRange = 0, targetRange = 0, brightness = 0, contrast = 0, saturation = 0;
  if (ff::sws_getColorspaceDetails(context, &sourceTable, &sourceRange, &targetTable, &targetRange,
                                   &brightness, &contrast, &saturation) < 0)
    return false;
  // libswscale numbers its tables as AVColorSpace numbers the matrices.
  const int* source =
      ff::sws_getCoefficients(matrix == AVCOL_SPC_UNSPECIFIED ? SWS_CS_ITU601 : int(matrix));
  return ff::sws_setColorspaceDetails(context, source, sourceRange,
                                      ff::sws_getCoefficients(SWS_CS_ITU601), targetRange,
                                      brightness, contrast, saturation) >= 0;
}
