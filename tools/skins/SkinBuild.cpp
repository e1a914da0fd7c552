// Build step for the player skins:
//   skinbuild swf CLASS OUT.swf SOURCE.asm...   assembles the sources (in order) into a skin
//                                               whose document class is CLASS
//   skinbuild preview controls|video W H OUT.png  draws the skin's preview picture
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "AbcAssembler.h"
#include "SkinPreview.h"
#include "SwfMovie.h"

namespace {

using namespace fennick;

// The combiner sets the real stage size and frame rate; these only serve a skin on its own.
constexpr int kSkinWidth = 400;
constexpr int kSkinHeight = 300;
constexpr double kSkinFrameRate = 25.0;

std::string ReadText(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read \"" + file + "\"");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void BuildSkin(const std::string& className, const std::string& output,
               const std::vector<std::string>& sources) {
  std::string text;
  for (const std::string& source : sources) text += ReadText(source) + "\n";
  const abc::Assembly assembly = abc::Assemble(text, className + " skin");
  swf::Movie movie;
  movie.version = 9;
  movie.compressed = true;
  movie.frameSize = swf::PixelRect(kSkinWidth, kSkinHeight);
  movie.frameRate = kSkinFrameRate;
  movie.tags = {swf::MakeFileAttributes(swf::kAttrActionScript3),
                swf::MakeSetBackgroundColor(swf::RgbFromHex(0x000000)),
                swf::MakeDoAbc(assembly.abc.Serialize(), className),
                swf::MakeSymbolClass({{0, className}}), swf::MakeShowFrame()};
  movie.frameCount = swf::CountFrames(movie.tags);
  swf::SaveMovie(output, movie);
}

int Positive(const std::string& text) {
  const int value = std::stoi(text);
  if (value <= 0) throw std::invalid_argument("picture sizes are positive, not " + text);
  return value;
}

void BuildPreview(const std::string& kind, int width, int height, const std::string& output) {
  if (kind != "controls" && kind != "video")
    throw std::invalid_argument("preview kind is controls or video, not " + kind);
  const auto preview =
      kind == "controls" ? skins::PreviewKind::kWithControls : skins::PreviewKind::kVideoOnly;
  skins::SavePng(output, skins::DrawPreview(preview, width, height));
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() >= 4 && args[0] == "swf") {
      BuildSkin(args[1], args[2], std::vector<std::string>(args.begin() + 3, args.end()));
      return 0;
    }
    if (args.size() == 5 && args[0] == "preview") {
      BuildPreview(args[1], Positive(args[2]), Positive(args[3]), args[4]);
      return 0;
    }
    std::fprintf(
        stderr,
        "usage: skinbuild swf CLASS OUT.swf SOURCE.asm... | preview controls|video W H OUT.png\n");
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "skinbuild: %s\n", e.what());
    return 1;
  }
}
