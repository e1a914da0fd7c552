#include "MediaFixtures.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace fixtures {
namespace {

std::string MadeDir(const std::string& dir) {
  fs::create_directories(dir);
  return dir;
}

const std::string& CacheDir() {
  static const std::string dir = MadeDir(std::string(FENNICK_TEST_WORK_DIR) + "/fixtures");
  return dir;
}

const std::string& TempDirRoot() {
  static const std::string dir = MadeDir(std::string(FENNICK_TEST_WORK_DIR) + "/tmp");
  return dir;
}

const char* const TestPattern = "-f lavfi -i testsrc=size=%s:rate=25:duration=3";
const char* const Tone = "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=3 -ac 2";

std::string Pattern(const char* size) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, TestPattern, size);
  return buffer;
}

}  // namespace

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

namespace {

// Runs a shell command as it is; what it writes on its standard output goes to `output`.
int Capture(const std::string& command, std::string* output) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    if (output) output->append(buffer, n);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A name no other thread or process is using, for a file that is written and then renamed.
std::string PrivateName(const std::string& path) {
  static std::atomic<int> counter{0};
  return path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

// The whole command, a list of several included, with its error output sent to `target`.
std::string Redirected(const std::string& command, const std::string& target) {
  return "{ " + command + "\n} 2>" + target;
}

}  // namespace

int Run(const std::string& command, std::string* output) {
  return Capture(Redirected(command, "&1"), output);
}

int RunSeparately(const std::string& command, std::string& output, std::string& errors) {
  const std::string errorFile = PrivateName(TempDirRoot() + "/stderr");
  const int rc = Capture(Redirected(command, ShellQuote(errorFile)), &output);
  errors = ReadFile(errorFile);
  fs::remove(errorFile);
  return rc;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

std::string Make(const std::string& name, const std::string& arguments) {
  const std::string path = CacheDir() + "/" + name;
  if (fs::exists(path)) return path;
  // Written under a private name and renamed, so that a concurrent reader, in this process or
  // another, never sees half a file. The extension stays: it tells ffmpeg the format.
  const std::string temp = PrivateName(path) + fs::path(name).extension().string();
  std::string output;
  const int rc =
      Run("ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments + " " + ShellQuote(temp),
          &output);
  if (rc != 0) {
    fs::remove(temp);
    throw std::runtime_error("ffmpeg could not make " + name + ": " + output);
  }
  fs::rename(temp, path);
  return path;
}

std::string Path(Media media) {
  switch (media) {
    case Media::Mp4H264Aac:
      return Make("h264_aac_320x240.mp4", Pattern("320x240") + " " + Tone +
                                              " -c:v libx264 -preset ultrafast -pix_fmt yuv420p"
                                              " -c:a aac -b:a 96k -shortest");
    case Media::AviMpeg4Mp3:
      return Make("mpeg4_mp3_320x240.avi",
                  Pattern("320x240") + " " + Tone + " -c:v mpeg4 -q:v 5 -c:a libmp3lame -b:a 96k");
    case Media::Mp3AudioOnly:
      return Make("tone_44100_stereo.mp3", std::string(Tone) + " -c:a libmp3lame -b:a 128k");
    case Media::VideoOnly:
      return Make("h264_video_only.mp4",
                  Pattern("320x240") + " -c:v libx264 -preset ultrafast -pix_fmt yuv420p");
    case Media::OddSize:
      return Make("mpeg4_mp3_321x241.avi",
                  Pattern("321x241") + " " + Tone + " -c:v mpeg4 -q:v 5 -c:a libmp3lame -b:a 96k");
  }
  throw std::logic_error("unknown fixture");
}

std::string RotatedCornerClip(int rotate) {
  const std::string stored = Make("corner_72x128.mp4",
                                  "-f lavfi -i color=c=blue:size=72x128:rate=25:duration=1,"
                                  "drawbox=x=0:y=0:w=24:h=24:color=red:t=fill "
                                  "-c:v libx264 -preset ultrafast -pix_fmt yuv420p");
  const std::string degrees = std::to_string(rotate);
  return Make("corner_72x128_rotate" + degrees + ".mp4",
              "-i " + ShellQuote(stored) + " -c copy -metadata:s:v rotate=" + degrees);
}

std::string GreyRampClip() {
  return Make("grey_ramp_10fps_8s.mp4",
              "-f lavfi -i color=c=black:size=160x120:rate=10:duration=8,"
              "geq=lum='16+2*N':cb=128:cr=128 "
              "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=8 "
              "-c:v libx264 -preset ultrafast -qp 0 -g 250 -sc_threshold 0 -pix_fmt yuv420p "
              "-c:a aac -b:a 64k -shortest");
}

std::string DvdGreyRampClip() {
  // Noise down the left edge makes each picture larger than a DVD's 2 KB packet, so that
  // each starts a packet with its own time, as on a DVD.
  return Make("grey_ramp_dvd_gop15_4s.vob",
              "-f lavfi -i color=c=black:size=160x120:rate=25:duration=4,"
              "geq=lum='if(lt(X\\,32)\\,random(1)*255\\,16+2*N)':cb=128:cr=128 "
              "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=4 "
              "-c:v mpeg2video -q:v 2 -dc 10 -g 15 -bf 2 -sc_threshold 1000000000 "
              "-pix_fmt yuv420p -c:a mp2 -shortest");
}

std::string ColourBarsClip(int width, int height, const std::string& matrix,
                           const std::string& range, const std::string& tags,
                           const std::string& transfer) {
  static const char* const colours[] = {"white",   "yellow", "cyan", "lime",
                                        "magenta", "red",    "blue", "black"};
  const auto size = [width](int rows) {
    return std::to_string(width) + "x" + std::to_string(rows);
  };
  std::string bars = "color=c=black:s=" + size(height / 2) + ":r=5,format=rgb24";
  const int bar = width / 8;
  for (int i = 0; i < 8; ++i)
    bars += ",drawbox=x=" + std::to_string(i * bar) + ":y=0:w=" + std::to_string(bar) +
            ":h=ih:color=" + colours[i] + ":t=fill";
  const std::string grey = "'X*255/(W-1)'";
  const std::string ramp = "color=c=black:s=" + size(height - height / 2) +
                           ":r=5,format=rgb24,geq=r=" + grey + ":g=" + grey + ":b=" + grey;
  const bool odd = (width | height) & 1;
  const std::string coding =
      transfer.empty()
          ? "scale=out_color_matrix=" + matrix + ":out_range=" + range + ",format=yuv420p"
          : "format=gbrpf32le,zscale=tin=bt709:pin=bt709:min=gbr:rin=pc:t=" + transfer +
                ":p=bt2020:m=2020_ncl:r=tv:npl=100,format=yuv420p10le";
  const std::string name = "bars-" + std::to_string(width) + "x" + std::to_string(height) + "-" +
                           matrix + "-" + range + (transfer.empty() ? "" : "-" + transfer) +
                           (tags.empty() ? "-untagged" : "-tagged");
  return Make(name + (odd ? ".mkv" : ".mp4"),
              "-f lavfi -i " + ShellQuote(bars) + " -f lavfi -i " + ShellQuote(ramp) +
                  " -t 1 -filter_complex " + ShellQuote("[0][1]vstack," + coding) + " " + tags +
                  (odd ? " -c:v ffv1" : " -c:v libx264 -qp 0"));
}

std::string SizeChangingClip(const std::string& first, const std::string& second) {
  const std::string path = CacheDir() + "/two-sizes-" + first + "-" + second + ".ts";
  if (fs::exists(path)) return path;
  const std::string temp = PrivateName(path) + ".ts";
  {
    std::ofstream joined(temp, std::ios::binary);
    for (const std::string& size : {first, second}) {
      std::ifstream piece(Make("piece-" + size + ".ts", "-f lavfi -i testsrc=size=" + size +
                                                            ":rate=25:duration=1 -c:v mpeg2video "
                                                            "-q:v 8"),
                          std::ios::binary);
      joined << piece.rdbuf();
    }
  }
  fs::rename(temp, path);
  return path;
}

std::string SongWithCover(int seconds) {
  const std::string cover =
      Make("cover-160x120.png", "-f lavfi -i testsrc=size=160x120:rate=1 -frames:v 1");
  const std::string length = std::to_string(seconds);
  return Make("song-with-cover-" + length + "s.mp3",
              "-f lavfi -i sine=duration=" + length + " -i " + ShellQuote(cover) +
                  " -map 0 -map 1 -c:a libmp3lame -c:v mjpeg -disposition:v attached_pic");
}

std::string SongWithDamagedCover(int seconds) {
  const std::string song = SongWithCover(seconds);
  const std::string damaged =
      CacheDir() + "/song-with-damaged-cover-" + std::to_string(seconds) + "s.mp3";
  if (fs::exists(damaged)) return damaged;
  std::string bytes = ReadFile(song);
  // The picture's JPEG markers go; the ID3 frame around it keeps its size.
  const size_t picture = bytes.find("\xff\xd8\xff");
  if (picture == std::string::npos) throw std::runtime_error(song + " has no JPEG cover");
  bytes.replace(picture + 2, 400, 400, '\0');
  const std::string temp = PrivateName(damaged) + ".mp3";
  std::ofstream(temp, std::ios::binary) << bytes;
  fs::rename(temp, damaged);
  return damaged;
}

std::string NumberedClip(const std::string& name, const std::string& rate,
                         const std::string& times) {
  const std::string moved = times.empty() ? "" : ",setpts='" + times + "' -fps_mode passthrough";
  return Make(
      name, NumberedPictures(rate, 8) + moved + " -c:v libx264 -preset ultrafast -pix_fmt yuv420p");
}

std::string NumberedPictures(const std::string& rate, int seconds) {
  return "-f lavfi -i color=c=black:size=160x16:rate=" + rate +
         ":duration=" + std::to_string(seconds) +
         ",format=gray,geq=lum='255*mod(floor(N/pow(2\\,floor(X/16)))\\,2)'";
}

int NumberShown(const uint8_t* luma) {
  const uint8_t* middle = luma + NumberedClipWidth * (NumberedClipHeight / 2);
  int number = 0;
  for (int bit = 0; bit < NumberedClipWidth / 16; ++bit)
    if (middle[16 * bit + 8] > 128) number |= 1 << bit;
  return number;
}

std::string BeepingSong(const std::string& name, const std::string& codec) {
  return Make(name,
              "-f lavfi -i aevalsrc='(between(t\\,5\\,5.05)+between(t\\,15\\,15.05))*"
              "sin(2*PI*1000*t)':s=44100:d=25 " +
                  codec);
}

std::string BeepInEverySecond(int seconds) {
  return "-f lavfi -i aevalsrc='between(mod(t\\,1)\\,0.5\\,0.55)*sin(2*PI*1000*t)':s=44100:d=" +
         std::to_string(seconds);
}

int64_t GreyRampTime(int grey) { return std::llround(grey * 219.0 / 255.0 / 2) * GreyRampPicture; }

std::string TempDir(const std::string& tag) {
  static std::atomic<int> counter{0};
  const std::string dir = TempDirRoot() + "/" + tag + "-" + std::to_string(::getpid()) + "-" +
                          std::to_string(counter++);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

TFolderForOthers::TFolderForOthers(const std::string& tag) {
  std::string pattern = (fs::temp_directory_path() / ("fennick-" + tag + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a folder like " + pattern);
  FPath = pattern;
  fs::permissions(FPath, fs::perms(0755));
}

TFolderForOthers::~TFolderForOthers() {
  std::error_code ignored;
  fs::remove_all(FPath, ignored);
}

std::string NumberedClipWithSound(const std::string& name, const std::string& rate,
                                  const std::string& codecs, const std::string& delay) {
  return Make(name, "-itsoffset " + delay + " " + NumberedPictures(rate, 8) +
                        " -f lavfi -i sine=frequency=440:sample_rate=44100:duration=8 " + codecs);
}

}  // namespace fixtures

namespace {

// A field's whole text as a number; `dflt` when it is missing, "N/A" or not wholly a number.
double ToDouble(const std::map<std::string, std::string>& m, const std::string& key, double dflt) {
  const auto it = m.find(key);
  if (it == m.end()) return dflt;
  const char* begin = it->second.c_str();
  char* end = nullptr;
  const double value = std::strtod(begin, &end);
  return end != begin && *end == 0 ? value : dflt;
}

int64_t ToInt(const std::map<std::string, std::string>& m, const std::string& key, int64_t dflt) {
  const auto it = m.find(key);
  if (it == m.end()) return dflt;
  const std::string& text = it->second;
  int64_t value = 0;
  const auto [last, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && last == text.data() + text.size() && !text.empty() ? value : dflt;
}

std::string Text(const std::map<std::string, std::string>& m, const std::string& key) {
  const auto it = m.find(key);
  return it == m.end() ? std::string() : it->second;
}

ProbeStream MakeStream(const std::map<std::string, std::string>& f) {
  ProbeStream s;
  s.fields = f;
  s.index = int(ToInt(f, "index", -1));
  s.codec_type = Text(f, "codec_type");
  s.codec_name = Text(f, "codec_name");
  s.width = int(ToInt(f, "width", 0));
  s.height = int(ToInt(f, "height", 0));
  s.r_frame_rate = Text(f, "r_frame_rate");
  s.avg_frame_rate = Text(f, "avg_frame_rate");
  s.sample_rate = int(ToInt(f, "sample_rate", 0));
  s.channels = int(ToInt(f, "channels", 0));
  s.duration = ToDouble(f, "duration", -1);
  s.bit_rate = ToInt(f, "bit_rate", -1);
  s.nb_read_frames = ToInt(f, "nb_read_frames", -1);
  return s;
}

// "[NAME]" or "[/NAME]": the name, and whether the line closes the section.
bool SectionLine(const std::string& line, std::string& name, bool& closing) {
  if (line.size() < 3 || line.front() != '[' || line.back() != ']') return false;
  closing = line[1] == '/';
  name = line.substr(closing ? 2 : 1, line.size() - (closing ? 3 : 2));
  return true;
}

}  // namespace

const ProbeStream* ProbeResult::FirstOfType(const std::string& type) const {
  for (const ProbeStream& s : streams)
    if (s.codec_type == type) return &s;
  return nullptr;
}

ProbeResult ParseProbeOutput(const std::string& output) {
  ProbeResult result;
  std::istringstream lines(output);
  std::string line;
  // The open sections, outermost first; only the fields of a STREAM or FORMAT directly count,
  // not those of a section nested in it (side data, dispositions of newer versions).
  std::vector<std::string> open;
  std::map<std::string, std::string> fields;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string name;
    bool closing = false;
    if (SectionLine(line, name, closing)) {
      if (!closing) {
        if (open.empty()) fields.clear();
        open.push_back(name);
        continue;
      }
      if (open.empty() || open.back() != name) return ProbeResult{};  // not ffprobe's layout
      open.pop_back();
      if (!open.empty()) continue;
      if (name == "STREAM") result.streams.push_back(MakeStream(fields));
      if (name == "FORMAT") result.format = fields;
    } else if (open.size() == 1) {
      const auto eq = line.find('=');
      if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  result.ok = open.empty() && !result.format.empty();
  result.format_name = Text(result.format, "format_name");
  result.duration = ToDouble(result.format, "duration", -1);
  result.bit_rate = ToInt(result.format, "bit_rate", -1);
  result.size = ToInt(result.format, "size", -1);
  return result;
}

ProbeResult ProbeMedia(const std::string& path, bool countFrames) {
  std::string output;
  std::string errors;
  const int rc = fixtures::RunSeparately("ffprobe -v error -show_streams -show_format" +
                                             std::string(countFrames ? " -count_frames" : "") +
                                             " " + fixtures::ShellQuote(path),
                                         output, errors);
  ProbeResult result = ParseProbeOutput(output);
  result.ok = result.ok && rc == 0;
  result.error = errors;
  if (rc != 0) result.error += "ffprobe exit status " + std::to_string(rc) + "\n";
  return result;
}
