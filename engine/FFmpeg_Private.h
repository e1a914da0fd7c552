// What the pieces of the conversion task (FFmpeg.cpp and the FFmpeg_*.cpp files beside it)
// share. Nothing outside the task includes this.
#pragma once

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FFLoad.h"
#include "FFmpeg.h"
#include "FFmpeg_Parallel.h"

extern "C" {
#include <libavutil/intreadwrite.h>
}

namespace ffmpeg_internal {

using S = const std::string&;

// Sanity bound of the per-stream input time scales.
constexpr int MaxStreams = 1024;

constexpr AVRational MicrosecondBase{1, AV_TIME_BASE};

// A time stamp this far (s) from where its stream is expected to go on is damaged, not a
// real gap, in any container; no gap this long is filled with copies of a picture either.
constexpr double TimestampErrorThreshold = 30 * 3600;

// An AVPacket that frees itself.
struct TPacket {
  TPacket() : Value(ff::av_packet_alloc()) {
    if (!Value) throw std::bad_alloc();
  }
  ~TPacket() { ff::av_packet_free(&Value); }
  TPacket(const TPacket&) = delete;
  TPacket& operator=(const TPacket&) = delete;
  AVPacket* Value;
};

// A video stream whose picture size the probe could not find (a cover whose data is damaged)
// gives no picture to convert: it is left out, so that the sound beside it is still converted.
inline bool PicturesCannotBeHad(const AVStream& st) {
  const AVCodecParameters& par = *st.codecpar;
  return par.codec_type == AVMEDIA_TYPE_VIDEO && (par.width <= 0 || par.height <= 0);
}

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...);
std::string VFormat(const char* format, va_list args);

inline std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

inline bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// A flag option is set by any value but "0".
inline bool Flag(S value) { return value != "0"; }

template <typename T>
void GrowArray(std::vector<T>& array, size_t newCount) {
  if (newCount >= size_t(INT_MAX) / sizeof(T)) throw std::runtime_error("Array too big.");
  if (newCount > array.size()) array.resize(newCount);
}

void SetDictionary(AVDictionary** dictionary, S key, S value);

// A C integer at the start of the text (as strtol reads it); the text moves past it.
long LeadingInteger(const char*& text);
// The kind of stream that an option name in names (audio, video, subtitle, data) stands for.
AVMediaType KindOfOption(S name, const char* const names[4]);

// The pixel format's name, "none" for none.
const char* PixelFormatName(AVPixelFormat format);

int64_t ToMicroseconds(int64_t value, AVRational timeBase);
int64_t FromMicroseconds(int64_t value, AVRational timeBase);
// The muxer stream's time: the end of the last packet written to it.
int64_t MuxerMicroseconds(const AVStream* st);
double MuxerTime(const AVStream* st);

// Makes `temp` the file, beside the local regular file (or free name) `url`, that an output is
// written to in its place; leaves it empty for what must be written directly (a pipe, a device,
// a network address) or when none can be made.
void CreateTemporaryOutput(S url, TTemporaryFile& temp);
// After the output is closed (`closed`: without an error): a complete output written under a
// temporary name with at least one picture or sound in it takes the final name, anything else
// goes and the earlier file stays; an output written directly is deleted when it stayed empty
// or never got its header. A complete output that cannot take its name is kept under a visible
// name where it can be: the text says why and where, empty when the output is settled.
std::string SettleOutputFile(TOutputFile& file, bool closed);

// Refuses (FFmpegException) to convert the stream's sound from `rate` to the encoder's rate
// when the two lie too far apart for either to be a real sound's.
void CheckSampleRate(const TInputStream& ist, int rate, int encoderRate);

// The cores this process may run on (its affinity, as a container or `taskset` limits it).
int UsableCores();
// The threads a decoder gets for the task's thread count (0: as many as are useful).
int DecoderThreads(int threadCount);
// What a task handles a second of its streams: the pixels its video decoders give and its
// instances encode, and the samples (of all channels) its sound's own encoder takes, 0 for none.
struct TStreamRates {
  double DecodedPixels = 0;
  double EncodedPixels = 0;
  double SoundSamples = 0;
};
// How the cores go to a video decoder and to the instances that encode its pictures in groups.
struct TThreadSplit {
  int DecoderThreads = 0;
  int Instances = 0;
};
TThreadSplit SplitCores(int cores, const TStreamRates& rates);

// A blocking library call of the calling thread: the task's time-out test answers for it.
class TBlockingIO {
 public:
  explicit TBlockingIO(TCustomFFmpeg& task);
  ~TBlockingIO();
  TBlockingIO(const TBlockingIO&) = delete;
  TBlockingIO& operator=(const TBlockingIO&) = delete;

 private:
  TCustomFFmpeg& FTask;
};

}  // namespace ffmpeg_internal
