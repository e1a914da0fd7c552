#include "PlaybackRun.h"

#include <filesystem>
#include <fstream>
#include <regex>
#include <stdexcept>

#include "AbcAssembler.h"
#include "MediaFixtures.h"
#include "SwfMovie.h"
#include "U_CreateSwfThread.h"

namespace playback {

namespace {

namespace fs = std::filesystem;
using fixtures::ShellQuote;

void RunTool(const std::string& command) {
  std::string output;
  if (fixtures::Run(command + " 2>&1", &output) != 0)
    throw std::runtime_error(command + " failed:\n" + output);
}

std::string Match(const std::string& text, const std::string& pattern) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex(pattern))) return {};
  return m[1].str();
}

}  // namespace

std::string PackageSkin(const std::string& dir, const std::string& name, const std::string& skin,
                        const TSWFData& settings, const std::optional<std::string>& videoSwf,
                        const std::optional<std::string>& poster) {
  const std::string source = (fs::path(dir) / "SWFData.dat").string();
  const std::string compiled = (fs::path(dir) / "swfdata.swf").string();
  const std::string output = (fs::path(dir) / (name + ".swf")).string();
  std::string error;
  if (!GenerateSWFDataClass(settings, source, &error)) throw std::runtime_error(error);
  RunTool(ShellQuote(FENNICK_SWFDATA_PROGRAM) + " -X 400 -Y 400 -T 9 " + ShellQuote(source) +
          " -o " + ShellQuote(compiled));
  std::string command = ShellQuote(FENNICK_MSKIN_PROGRAM) + " " + ShellQuote(skin);
  if (videoSwf) command += " " + ShellQuote("video=" + *videoSwf);
  command += " " + ShellQuote("swfdata=" + compiled);
  if (poster) command += " " + ShellQuote("poster=" + *poster);
  command += " -X " + std::to_string(kStageWidth) +
             " -Y " + std::to_string(kStageHeight) + " -F 9 -o " + ShellQuote(output);
  RunTool(command);
  return output;
}

std::string WriteHtmlPage(const std::string& dir, const std::string& name) {
  const std::string page = (fs::path(dir) / (name + ".html")).string();
  std::ofstream out(page, std::ios::binary);
  out << HtmlPageText(QString::fromStdString(name), kStageWidth, kStageHeight).toStdString();
  if (!out.flush()) throw std::runtime_error("cannot write " + page);
  return page;
}

std::string AssembleSkin(const std::string& dir, const std::string& className,
                         const std::string& source) {
  using namespace fennick;
  const abc::Assembly assembly = abc::Assemble(source, className + ".asm");
  swf::Movie movie;
  movie.tags = {swf::MakeFileAttributes(swf::kAttrActionScript3),
                swf::MakeDoAbc(assembly.abc.Serialize(), className),
                swf::MakeSymbolClass({{0, className}}), swf::MakeShowFrame()};
  movie.frameCount = swf::CountFrames(movie.tags);
  const std::string file = (fs::path(dir) / (className + ".swf")).string();
  swf::SaveMovie(file, movie);
  return file;
}

Result Play(const std::string& target, const std::string& options) {
  Result result;
  const std::string command = "NODE_PATH=" + ShellQuote(FENNICK_PLAYBACK_MODULES) + " node " +
                              ShellQuote(FENNICK_PLAYBACK_SCRIPT) + " " + ShellQuote(target) + " " +
                              options + " 2>&1";
  result.exitCode = fixtures::Run(command, &result.report);
  return result;
}

std::string Result::Verdict() const { return Match(report, "\"verdict\":\"([A-Z_]+)\""); }

double Result::Figure(const std::string& key) const {
  const std::string text = Match(report, "\"" + key + "\":(-?[0-9.eE+-]+)");
  return text.empty() ? -1.0 : std::stod(text);
}

int Result::Colours() const {
  const std::string text = Match(report, "\"second\":\\{\"colours\":([0-9]+)");
  return text.empty() ? -1 : std::stoi(text);
}

std::string Result::ColourAt(int x, int y) const {
  return Match(report,
               "\"" + std::to_string(x) + "," + std::to_string(y) + "\":\"(#[0-9a-f]{6})\"");
}

std::string Result::Title() const {
  const std::string quoted = Match(report, R"re("title":"((?:[^"\\]|\\.)*)")re");
  return std::regex_replace(quoted, std::regex(R"(\\(.))"), "$1");
}

bool Result::Logged(const std::string& text) const {
  return report.find(text) != std::string::npos;
}

}  // namespace playback
