// mskin: the combiner that the packaging step runs as "mskin.dll". Writes the output only
// when everything succeeded.
#include <filesystem>
#include <string>
#include <vector>

#include "FileAccess.h"
#include "SkinMerge.h"
#include "SkinOptions.h"
#include "ToolMain.h"

namespace {

using namespace fennick;

// A still picture of a video; far less than this in any case.
constexpr size_t kMaxPosterBytes = 64u << 20;

swf::Movie LoadInput(const char* role, const std::filesystem::path& file) {
  try {
    return swf::LoadMovie(file);
  } catch (const swf::SwfError& e) {
    throw swf::SwfError(std::string(role) + ": " + e.what());  // the library's text names the file
  }
}

int Run(const std::vector<std::string>& args) {
  const mskin::SkinOptions options = mskin::ParseSkinOptions(args);
  mskin::SkinInputs inputs;
  inputs.skin = LoadInput("skin SWF", options.skin);
  inputs.settings = LoadInput("settings SWF", options.settings);
  if (options.video) inputs.video = LoadInput("video SWF", *options.video);
  if (options.poster) inputs.poster = swf::ReadWholeFile(*options.poster, kMaxPosterBytes);
  const swf::Movie out =
      mskin::CombineSkin(inputs, {options.width, options.height, options.version});
  swf::SaveMovie(options.output, out);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return swf::RunToolMain("mskin", [&] {
    try {
      return Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const mskin::UsageError& e) {
      swf::PrintToolError("mskin", std::string(e.what()) + "\n" + mskin::UsageText());
      return 2;
    }
  });
}
