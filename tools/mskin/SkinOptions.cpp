#include "SkinOptions.h"

#include <charconv>

namespace fennick::mskin {

namespace {

// The largest stage side Flash runtimes accept.
constexpr unsigned kMaxStageSide = 8191;
// ActionScript 3 needs version 9; the field is one byte.
constexpr unsigned kMinVersion = 9;
constexpr unsigned kMaxVersion = 255;

bool StartsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

unsigned ParseNumber(const std::string& flag, const std::string& text, unsigned low,
                     unsigned high) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < low || value > high)
    throw UsageError(flag + " takes a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high) + ", not \"" + text + "\"");
  return value;
}

template <typename T>
void SetOnce(std::optional<T>& slot, T value, const std::string& what) {
  if (slot) throw UsageError(what + " is given twice");
  slot = std::move(value);
}

std::filesystem::path NonEmptyPath(const std::string& what, const std::string& text) {
  if (text.empty()) throw UsageError(what + " has an empty file name");
  return std::filesystem::path(text);
}

}  // namespace

SkinOptions ParseSkinOptions(const std::vector<std::string>& args) {
  std::optional<std::filesystem::path> skin, video, settings, poster, output;
  std::optional<unsigned> width, height, version;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
      return args[++i];
    };
    if (arg == "-X")
      SetOnce(width, ParseNumber(arg, value(), 1, kMaxStageSide), "-X");
    else if (arg == "-Y")
      SetOnce(height, ParseNumber(arg, value(), 1, kMaxStageSide), "-Y");
    else if (arg == "-F")
      SetOnce(version, ParseNumber(arg, value(), kMinVersion, kMaxVersion), "-F");
    else if (arg == "-o")
      SetOnce(output, NonEmptyPath("-o", value()), "-o");
    else if (StartsWith(arg, "video="))
      SetOnce(video, NonEmptyPath("video=", arg.substr(6)), "video=");
    else if (StartsWith(arg, "swfdata="))
      SetOnce(settings, NonEmptyPath("swfdata=", arg.substr(8)), "swfdata=");
    else if (StartsWith(arg, "poster="))
      SetOnce(poster, NonEmptyPath("poster=", arg.substr(7)), "poster=");
    else if (StartsWith(arg, "-"))
      throw UsageError("unknown option " + arg);
    else
      SetOnce(skin, NonEmptyPath("the skin", arg), "the skin SWF");
  }
  if (!skin) throw UsageError("no skin SWF given");
  if (!settings) throw UsageError("no settings SWF given (swfdata=)");
  if (!width || !height) throw UsageError("no stage size given (-X and -Y)");
  if (!output) throw UsageError("no output file given (-o)");
  SkinOptions options;
  options.skin = *skin;
  options.video = video;
  options.settings = *settings;
  options.poster = poster;
  options.width = static_cast<uint16_t>(*width);
  options.height = static_cast<uint16_t>(*height);
  options.version = static_cast<uint8_t>(version.value_or(kMinVersion));
  options.output = *output;
  return options;
}

std::string UsageText() {
  return "usage: mskin.dll \"skin.swf\" [video=\"video.swf\"] swfdata=\"settings.swf\" "
         "[poster=\"picture.jpg\"] -X width -Y height [-F version] -o \"out.swf\"";
}

}  // namespace fennick::mskin
