#include "MediaFixtures.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace fixtures {
namespace {

const std::string& CacheDir() {
  static const std::string dir = [] {
    const std::string d = std::string(FENNICK_TEST_WORK_DIR) + "/fixtures";
    fs::create_directories(d);
    return d;
  }();
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

int Run(const std::string& command, std::string* output) {
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    if (output) output->append(buffer, n);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Make(const std::string& name, const std::string& arguments) {
  const std::string path = CacheDir() + "/" + name;
  if (fs::exists(path)) return path;
  // Written under a private name and renamed, so a concurrent reader never sees half a file.
  const std::string ext = fs::path(name).extension().string();
  const std::string temp = path + ".tmp" + std::to_string(::getpid()) + ext;
  std::string output;
  const int rc = Run("ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments + " " +
                         ShellQuote(temp),
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

std::string TempDir(const std::string& tag) {
  static std::atomic<int> counter{0};
  const std::string dir = std::string(FENNICK_TEST_WORK_DIR) + "/tmp/" + tag + "-" +
                          std::to_string(::getpid()) + "-" + std::to_string(counter++);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

}  // namespace fixtures

namespace {

double ToDouble(const std::map<std::string, std::string>& m, const std::string& key, double dflt) {
  const auto it = m.find(key);
  if (it == m.end() || it->second.empty() || it->second == "N/A") return dflt;
  try {
    return std::stod(it->second);
  } catch (const std::exception&) {
    return dflt;
  }
}

int64_t ToInt(const std::map<std::string, std::string>& m, const std::string& key, int64_t dflt) {
  const auto it = m.find(key);
  if (it == m.end() || it->second.empty() || it->second == "N/A") return dflt;
  try {
    return std::stoll(it->second);
  } catch (const std::exception&) {
    return dflt;
  }
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

}  // namespace

const ProbeStream* ProbeResult::FirstOfType(const std::string& type) const {
  for (const ProbeStream& s : streams)
    if (s.codec_type == type) return &s;
  return nullptr;
}

ProbeResult ProbeMedia(const std::string& path, bool countFrames) {
  ProbeResult result;
  std::string out;
  const int rc = fixtures::Run("ffprobe -v error -show_streams -show_format" +
                                   std::string(countFrames ? " -count_frames" : "") + " " +
                                   fixtures::ShellQuote(path),
                               &out);
  std::istringstream lines(out);
  std::string line;
  std::map<std::string, std::string> section;
  std::string errors;
  bool inSection = false;
  while (std::getline(lines, line)) {
    if (line == "[STREAM]" || line == "[FORMAT]") {
      section.clear();
      inSection = true;
    } else if (line == "[/STREAM]") {
      result.streams.push_back(MakeStream(section));
      inSection = false;
    } else if (line == "[/FORMAT]") {
      result.format = section;
      inSection = false;
    } else if (inSection) {
      const auto eq = line.find('=');
      if (eq != std::string::npos) section[line.substr(0, eq)] = line.substr(eq + 1);
    } else {
      errors += line + "\n";
    }
  }
  result.ok = rc == 0 && !result.format.empty();
  result.error = errors;
  result.format_name = Text(result.format, "format_name");
  result.duration = ToDouble(result.format, "duration", -1);
  result.bit_rate = ToInt(result.format, "bit_rate", -1);
  result.size = ToInt(result.format, "size", -1);
  return result;
}
