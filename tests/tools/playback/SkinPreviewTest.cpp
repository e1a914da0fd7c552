// The skins' preview pictures: real PNG files that an independent reader decodes to exactly
// the pixels we drew, and one beside every skin the program folder offers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "MediaFixtures.h"
#include "SkinPreview.h"

namespace {

namespace fs = std::filesystem;
using namespace fennick::skins;

// The picture as ffmpeg decodes it: raw RGB bytes, or empty when it cannot.
std::vector<uint8_t> DecodeWithFfmpeg(const std::string& png) {
  const std::string raw = png + ".rgb";
  if (fixtures::Run("ffmpeg -v error -y -i " + fixtures::ShellQuote(png) +
                    " -f rawvideo -pix_fmt rgb24 " + fixtures::ShellQuote(raw)) != 0)
    return {};
  std::ifstream in(raw, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(SkinPreviewTest, AnIndependentReaderDecodesExactlyThePixelsDrawn) {
  const std::string dir = fixtures::TempDir("preview");
  for (const auto& [kind, name] : {std::pair{PreviewKind::kWithControls, "controls.png"},
                                   std::pair{PreviewKind::kVideoOnly, "video.png"}}) {
    const Picture picture = DrawPreview(kind, 64, 48);
    const std::string file = (fs::path(dir) / name).string();
    SavePng(file, picture);
    const ProbeResult probe = ProbeMedia(file, false);
    ASSERT_TRUE(probe.ok) << probe.error;
    ASSERT_FALSE(probe.streams.empty());
    EXPECT_EQ(probe.streams[0].codec_name, "png");
    EXPECT_EQ(probe.streams[0].width, 64);
    EXPECT_EQ(probe.streams[0].height, 48);
    EXPECT_EQ(DecodeWithFfmpeg(file), picture.rgb) << name;
  }
}

TEST(SkinPreviewTest, OnlyTheSkinWithControlsShowsABar) {
  const Picture controls = DrawPreview(PreviewKind::kWithControls, 64, 48);
  const Picture video = DrawPreview(PreviewKind::kVideoOnly, 64, 48);
  auto pixel = [](const Picture& p, int x, int y) {
    const size_t i = (size_t(y) * p.width + x) * 3;
    return std::vector<uint8_t>(p.rgb.begin() + i, p.rgb.begin() + i + 3);
  };
  // The bar's own colour along the bottom row, away from the glyphs.
  EXPECT_EQ(pixel(controls, 60, 47), (std::vector<uint8_t>{0x26, 0x2A, 0x33}));
  EXPECT_NE(pixel(video, 60, 47), pixel(controls, 60, 47));
  EXPECT_THROW(DrawPreview(PreviewKind::kVideoOnly, 8, 8), std::invalid_argument);
}

// The formats dialog lists every picture in templates/Player and uses the SWF of the same
// name, so each picture needs its skin and each skin its picture.
TEST(SkinPreviewTest, EverySkinInTheProgramFolderHasItsPicture) {
  const fs::path folder = fs::path(FENNICK_BIN_DIR) / "templates" / "Player";
  int skins = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const fs::path file = entry.path();
    if (file.extension() == ".swf") {
      ++skins;
      EXPECT_TRUE(fs::exists(fs::path(file).replace_extension(".png"))) << file;
    } else if (file.extension() == ".png") {
      EXPECT_TRUE(fs::exists(fs::path(file).replace_extension(".swf"))) << file;
      EXPECT_TRUE(ProbeMedia(file.string(), false).ok) << file;
    }
  }
  EXPECT_TRUE(fs::exists(folder / "Player01.swf"));
  EXPECT_TRUE(fs::exists(folder / "None.swf"));
  EXPECT_GE(skins, 2);
}

}  // namespace
