#include "SwfDataTool.h"

#include <optional>

#include "FileAccess.h"
#include "SettingsCompiler.h"

namespace fennick::swfdata {

namespace {

// The settings of one player take a few kilobytes.
constexpr size_t kMaxSourceLength = 64u << 20;

constexpr const char* kUsage =
    "usage: swfdata -X width -Y height -T version \"source\" -o \"out.swf\"";

struct CommandLine {
  MovieOptions options;
  std::string source;
  std::string output;
};

std::optional<int> Number(const std::string& text) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  return std::stoi(text);
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-X" || arg == "-Y" || arg == "-T" || arg == "-o") {
      if (i + 1 >= args.size()) {
        error = "option " + arg + " needs a value\n" + kUsage;
        return false;
      }
      const std::string& value = args[++i];
      if (arg == "-o") {
        line.output = value;
        continue;
      }
      const auto number = Number(value);
      if (!number) {
        error = "option " + arg + " needs a whole number, not \"" + value + "\"";
        return false;
      }
      (arg == "-X"   ? line.options.width
       : arg == "-Y" ? line.options.height
                     : line.options.version) = *number;
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option " + arg + "\n" + kUsage;
      return false;
    } else if (line.source.empty()) {
      line.source = arg;
    } else {
      error = "more than one source file given\n" + std::string(kUsage);
      return false;
    }
  }
  if (line.source.empty() || line.output.empty()) {
    error =
        std::string(line.source.empty() ? "no source file given" : "no output file given (-o)") +
        "\n" + kUsage;
    return false;
  }
  return true;
}

}  // namespace

bool RunSwfData(const std::vector<std::string>& args, std::string& error) {
  CommandLine line;
  if (!ParseCommandLine(args, line, error)) return false;
  try {
    const swf::Bytes bytes = swf::ReadWholeFile(line.source, kMaxSourceLength);
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const swf::Movie movie = CompileSettings(ParseSettingsSource(text), line.options);
    swf::SaveMovie(line.output, movie);
  } catch (const SettingsError& e) {
    error = "\"" + line.source + "\": " + e.what();
    return false;
  } catch (const swf::SwfError& e) {
    error = e.what();
    return false;
  }
  return true;
}

}  // namespace fennick::swfdata
