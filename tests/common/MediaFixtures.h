// Test media made with the ffmpeg command line, and ffprobe as the independent reader.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fixtures {

enum class Media {
  Mp4H264Aac,    // 320x240, 25 fps, 3 s, H.264 + AAC 44.1 kHz stereo
  AviMpeg4Mp3,   // 320x240, 25 fps, 3 s, MPEG-4 part 2 + MP3 44.1 kHz stereo
  Mp3AudioOnly,  // 3 s tone, 44.1 kHz stereo
  VideoOnly,     // 320x240, 25 fps, 3 s, H.264, no audio
  OddSize,       // 321x241, 25 fps, 3 s, MPEG-4 part 2 + MP3 in AVI
};

// The fixture's path, made on first use and cached in the build tree. Safe when several
// test processes ask for the same fixture at once.
std::string Path(Media media);

// Makes a fixture of one's own: `arguments` are ffmpeg's (inputs, codecs), the file goes to
// the cache under `name`. Returns its path.
std::string Make(const std::string& name, const std::string& arguments);

// A phone-style clip stored as 72x128 (blue, with a red 24x24 square in its stored top-left
// corner), 1 s of H.264 in MP4, whose display matrix says to turn it by `rotate` degrees.
std::string RotatedCornerClip(int rotate);

// Eight seconds of 160x120 at 10 pictures a second, with a tone, whose key frame is the first
// picture only: each picture is flat grey, two luma steps lighter than the one before, kept
// exactly, so that a picture tells its own time and the key frame before a time is far off.
std::string GreyRampClip();
constexpr int64_t GreyRampPicture = 100000;  // µs from one picture to the next
// The time (µs) of that clip's picture from its grey as shown (0..255, studio range turned
// into full range).
int64_t GreyRampTime(int grey);
// The same ramp as a DVD holds it: four seconds at 25 pictures a second in MPEG-2 with
// B-pictures and a key frame every 15 pictures, with MP2 sound, in VOB. A picture's grey (right
// of x = 32) tells its number as above: GreyRampTime(grey) / GreyRampPicture.
std::string DvdGreyRampClip();
constexpr int64_t DvdGreyRampPicture = 40000;

// The numbered clip below (NumberedClip) with eight seconds of tone, coded with ffmpeg's output
// options `codecs` (the codecs of both streams, the muxer's options, a size to scale the
// pictures to); the pictures start `delay` seconds (as ffmpeg's -itsoffset reads it) after the
// sound.
std::string NumberedClipWithSound(const std::string& name, const std::string& rate,
                                  const std::string& codecs, const std::string& delay = "0");

// One second at 5 pictures a second: eight full-strength bars (white, yellow, cyan, green,
// magenta, red, blue, black) over a grey ramp from black at the left edge to white at the right,
// drawn in RGB and coded in YCbCr with the scale filter's `matrix` ("bt709", "bt601" ...) and
// `range` ("tv", "pc"), in a file tagged with ffmpeg's output options `tags` ("" for none). An
// odd size goes to FFV1 in Matroska, any other to lossless H.264 in MP4. With an HDR `transfer`
// ("arib-std-b67" for HLG, "smpte2084" for PQ) the bars are coded instead as HDR footage of
// 10 bits in BT.2020 (primaries and matrix, studio range), SDR white at 100 cd/m².
std::string ColourBarsClip(int width, int height, const std::string& matrix,
                           const std::string& range, const std::string& tags,
                           const std::string& transfer = "");

// One second of test pattern at 25 pictures a second at each of two sizes ("1280x720"), MPEG-2
// in MPEG-TS pieces joined byte by byte as TV recordings and a camera's segments are: the size
// changes and the clock starts again.
std::string SizeChangingClip(const std::string& first, const std::string& second);

// A song of `seconds` seconds of tone in MP3 with its cover: a 160x120 picture in MJPEG, stored
// as the attached picture that is the file's only video stream.
std::string SongWithCover(int seconds);
// The same song whose cover's data is damaged: the stream is there, its picture cannot be decoded.
std::string SongWithDamagedCover(int seconds);

// Eight seconds of 160x16 pictures at `rate` (a frame rate as ffmpeg reads it) in H.264, in a
// file `name` whose extension gives the format, each showing its own number (from 0) in ten
// black or white bars of 16 pixels, the lowest bit on the left: a number that survives lossy
// encoding. `times`, when given, moves the pictures (an expression of setpts), kept as they are.
std::string NumberedClip(const std::string& name, const std::string& rate,
                         const std::string& times = "");
// The pictures of that clip as an input of the ffmpeg command line, `seconds` long.
std::string NumberedPictures(const std::string& rate, int seconds);
constexpr int NumberedClipWidth = 160;
constexpr int NumberedClipHeight = 16;
// The number a 160x16 grey picture of that clip shows.
int NumberShown(const uint8_t* luma);

// 25 s of sound that is silent but for beeps of 50 ms at 5 s and at 15 s, by default in MP3;
// `name`'s extension gives the format, `codec` ffmpeg's options for it.
std::string BeepingSong(const std::string& name = "beeps_at_5s_and_15s.mp3",
                        const std::string& codec = "-c:a libmp3lame -b:a 128k");
// Sound as an input of the ffmpeg command line, `seconds` long: silent but for a beep of 50 ms
// in the middle of each second (at 0.5 s, 1.5 s ...).
std::string BeepInEverySecond(int seconds);

// A new empty folder for one test, under the build tree.
std::string TempDir(const std::string& tag);

// A new empty folder that other users can enter (for a test that acts as one), in the system's
// temporary folder: folders above the build tree may be closed to others. Removed with
// everything in it when the object goes.
class TFolderForOthers {
 public:
  explicit TFolderForOthers(const std::string& tag);
  ~TFolderForOthers();
  TFolderForOthers(const TFolderForOthers&) = delete;
  TFolderForOthers& operator=(const TFolderForOthers&) = delete;
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

// Runs a shell command; returns its exit status (-1 when it did not end normally) and, when
// asked, what it printed (both streams).
int Run(const std::string& command, std::string* output = nullptr);

// Runs a shell command keeping its standard output and its error output apart.
int RunSeparately(const std::string& command, std::string& output, std::string& errors);

// A whole file's bytes; empty when it cannot be read.
std::string ReadFile(const std::string& path);

// Quotes a text for the shell.
std::string ShellQuote(const std::string& text);

}  // namespace fixtures

// What ffprobe -show_streams -show_format -count_frames reports.
struct ProbeStream {
  int index = -1;
  std::string codec_type;  // "video", "audio", ...
  std::string codec_name;
  int width = 0;
  int height = 0;
  std::string r_frame_rate;
  std::string avg_frame_rate;
  int sample_rate = 0;
  int channels = 0;
  double duration = -1;  // seconds, -1 when not given
  int64_t bit_rate = -1;
  int64_t nb_read_frames = -1;
  std::map<std::string, std::string> fields;  // every key as ffprobe printed it
};

struct ProbeResult {
  bool ok = false;  // ffprobe could read the file
  std::string error;
  std::string format_name;
  double duration = -1;
  int64_t bit_rate = -1;
  int64_t size = -1;
  std::vector<ProbeStream> streams;
  std::map<std::string, std::string> format;

  const ProbeStream* FirstOfType(const std::string& type) const;
};

ProbeResult ProbeMedia(const std::string& path, bool countFrames = true);

// Reads ffprobe's default output (sections of key=value lines). ok when it holds a whole
// FORMAT section and every section is closed in order; anything else gives an empty result.
ProbeResult ParseProbeOutput(const std::string& output);
