// The combiner as the packaging step runs it: a program with a command line, judged by the
// file it leaves (read back with our SWF reader) and by what it says when it cannot work.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>

#include "AbcFile.h"
#include "MediaFixtures.h"
#include "SkinMerge.h"
#include "SwfMovie.h"

namespace {

namespace fs = std::filesystem;
using namespace fennick;

constexpr uint16_t kSkinShapeId = 7;

std::string VideoSwf() {
  return fixtures::Make(
      "mskin-video.swf",
      "-f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i sine=frequency=440:sample_rate=22050 "
      "-t 3 -c:v flv1 -c:a libmp3lame -ar 22050");
}

swf::Tag CodeTag(const std::string& name) {
  return swf::MakeDoAbc(abc::AbcFile{}.Serialize(), name);
}

// An ActionScript 3 movie with a document class, a shape of its own placed at depth 1.
swf::Movie SkinMovie() {
  swf::Movie skin;
  skin.frameRate = 12;
  skin.tags.push_back(swf::MakeFileAttributes(swf::kAttrActionScript3));
  skin.tags.push_back(swf::Tag{swf::kTagDefineShape, {kSkinShapeId, 0, 0, 0, 0}, false});
  skin.tags.push_back(CodeTag("skin"));
  skin.tags.push_back(swf::MakeSymbolClass({{0, "Skin"}}));
  swf::PlaceObject shape;
  shape.depth = 1;
  shape.characterId = kSkinShapeId;
  skin.tags.push_back(swf::MakePlaceObject2(shape));
  skin.tags.push_back(swf::MakeShowFrame());
  return skin;
}

swf::Movie SettingsMovie() {
  swf::Movie settings;
  settings.tags.push_back(swf::MakeFileAttributes(swf::kAttrActionScript3));
  settings.tags.push_back(CodeTag("settings"));
  settings.tags.push_back(swf::MakeSymbolClass({{0, "SWFData"}}));
  settings.tags.push_back(swf::MakeShowFrame());
  return settings;
}

class MskinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(fixtures::TempDir("mskin"));
    skin_ = dir_ / "Skin Ünïcode.swf";
    settings_ = dir_ / "swfdata.swf";
    output_ = dir_ / "~Tmp.swf";
    swf::SaveMovie(skin_, SkinMovie());
    swf::SaveMovie(settings_, SettingsMovie());
  }

  // Runs the program with the packaging step's command line; returns its exit status.
  int Combine(const std::optional<fs::path>& video, const std::string& size = "-X 480 -Y 360") {
    std::string command =
        fixtures::ShellQuote(FENNICK_MSKIN_PROGRAM) + " " + fixtures::ShellQuote(skin_.string());
    if (video) command += " " + fixtures::ShellQuote("video=" + video->string());
    if (poster_) command += " " + fixtures::ShellQuote("poster=" + poster_->string());
    command += " " + fixtures::ShellQuote("swfdata=" + settings_.string()) + " " + size +
               " -F 9 -o " + fixtures::ShellQuote(output_.string()) + " 2>&1";
    return fixtures::Run(command, &messages_);
  }

  void ExpectNoOutput() {
    EXPECT_FALSE(fs::exists(output_));
    for (const auto& entry : fs::directory_iterator(dir_))
      EXPECT_EQ(entry.path().extension(), ".swf") << "left behind: " << entry.path();
  }

  fs::path dir_, skin_, settings_, output_;
  std::optional<fs::path> poster_;
  std::string messages_;
};

std::vector<swf::Tag> TagsOf(const std::vector<swf::Tag>& tags, uint16_t code) {
  std::vector<swf::Tag> found;
  std::copy_if(tags.begin(), tags.end(), std::back_inserter(found),
               [&](const swf::Tag& t) { return t.code == code; });
  return found;
}

size_t IndexOf(const std::vector<swf::Tag>& tags, uint16_t code, const std::string& abcName = "") {
  for (size_t i = 0; i < tags.size(); ++i)
    if (tags[i].code == code && (abcName.empty() || swf::ParseDoAbc(tags[i]).name == abcName))
      return i;
  return tags.size();
}

TEST_F(MskinTest, EmbedsTheVideoAsASpriteNamedVideoMcWithRenumberedCharacters) {
  ASSERT_EQ(Combine(fs::path(VideoSwf())), 0) << messages_;
  const swf::Movie out = swf::LoadMovie(output_);
  const swf::Movie video = swf::LoadMovie(VideoSwf());

  EXPECT_EQ(out.version, 9);
  EXPECT_EQ(out.frameSize, swf::PixelRect(480, 360));
  EXPECT_DOUBLE_EQ(out.frameRate, video.frameRate);
  EXPECT_EQ(out.frameCount, 1);

  // The stream definition stays on the main timeline with a fresh id; 0 belongs to the movie.
  const auto streams = TagsOf(out.tags, swf::kTagDefineVideoStream);
  ASSERT_EQ(streams.size(), 1u);
  const uint16_t streamId = swf::TagCharacterId(streams[0]);
  EXPECT_NE(streamId, 0);
  EXPECT_NE(streamId, kSkinShapeId);

  const auto sprites = TagsOf(out.tags, swf::kTagDefineSprite);
  ASSERT_EQ(sprites.size(), 1u);
  const swf::Sprite sprite = swf::ParseDefineSprite(sprites[0]);
  EXPECT_NE(sprite.id, streamId);
  EXPECT_NE(sprite.id, kSkinShapeId);
  EXPECT_EQ(sprite.frameCount, video.frameCount);
  EXPECT_EQ(swf::CountFrames(sprite.tags), video.frameCount);
  EXPECT_EQ(TagsOf(sprite.tags, swf::kTagSoundStreamBlock).size(),
            TagsOf(video.tags, swf::kTagSoundStreamBlock).size());
  EXPECT_EQ(TagsOf(sprite.tags, swf::kTagSoundStreamHead2).size() +
                TagsOf(sprite.tags, swf::kTagSoundStreamHead).size(),
            1u);
  const auto frames = TagsOf(sprite.tags, swf::kTagVideoFrame);
  ASSERT_EQ(frames.size(), TagsOf(video.tags, swf::kTagVideoFrame).size());
  for (const swf::Tag& frame : frames) EXPECT_EQ(swf::TagCharacterId(frame), streamId);
  for (const swf::Tag& place : TagsOf(sprite.tags, swf::kTagPlaceObject2)) {
    const swf::PlaceObject p = swf::ParsePlaceObject(place);
    if (p.characterId) {
      EXPECT_EQ(*p.characterId, streamId);
    }
  }

  // The sprite is placed in the first frame at a depth the skin's own shape leaves free.
  bool placed = false;
  for (const swf::Tag& tag : TagsOf(out.tags, swf::kTagPlaceObject2)) {
    const swf::PlaceObject p = swf::ParsePlaceObject(tag);
    if (p.name == std::string(mskin::kVideoInstanceName)) {
      placed = true;
      EXPECT_EQ(p.characterId, sprite.id);
      EXPECT_NE(p.depth, 1) << "depth 1 holds the skin's shape";
    }
  }
  EXPECT_TRUE(placed);
  EXPECT_LT(IndexOf(out.tags, swf::kTagDefineSprite), IndexOf(out.tags, swf::kTagShowFrame));
}

TEST_F(MskinTest, PutsTheSettingsCodeBeforeTheSkinsAndKeepsTheSkinsDocumentClass) {
  ASSERT_EQ(Combine(std::nullopt), 0) << messages_;
  const swf::Movie out = swf::LoadMovie(output_);
  EXPECT_EQ(out.tags.front().code, swf::kTagFileAttributes);
  EXPECT_TRUE(swf::ParseFileAttributes(out.tags.front()) & swf::kAttrActionScript3);
  EXPECT_LT(IndexOf(out.tags, swf::kTagDoAbc, "settings"),
            IndexOf(out.tags, swf::kTagDoAbc, "skin"));
  EXPECT_LT(IndexOf(out.tags, swf::kTagDoAbc, "skin"), out.tags.size());
  const auto symbols = TagsOf(out.tags, swf::kTagSymbolClass);
  ASSERT_EQ(symbols.size(), 1u)
      << "the settings' own document class must not compete with the skin's";
  EXPECT_EQ(swf::ParseSymbolClass(symbols[0]),
            (std::vector<std::pair<uint16_t, std::string>>{{0, "Skin"}}));
  EXPECT_TRUE(TagsOf(out.tags, swf::kTagDefineSprite).empty());
  EXPECT_DOUBLE_EQ(out.frameRate, 12.0) << "without a video the skin's frame rate stays";
}

TEST_F(MskinTest, MissingOrMalformedInputsFailClearlyAndWriteNothing) {
  const fs::path missing = dir_ / "absent.swf";
  EXPECT_NE(Combine(missing), 0);
  EXPECT_NE(messages_.find("absent.swf"), std::string::npos) << messages_;
  ExpectNoOutput();

  const fs::path truncated = dir_ / "truncated.swf";
  {
    std::ifstream in(VideoSwf(), std::ios::binary);
    std::string head(400, '\0');
    in.read(head.data(), std::streamsize(head.size()));
    std::ofstream(truncated, std::ios::binary) << head;
  }
  EXPECT_NE(Combine(truncated), 0);
  EXPECT_NE(messages_.find("video SWF"), std::string::npos) << messages_;
  ExpectNoOutput();

  poster_ = skin_;
  EXPECT_NE(Combine(std::nullopt), 0);
  EXPECT_NE(messages_.find("the poster is not a JPEG picture"), std::string::npos) << messages_;
  ExpectNoOutput();
  poster_.reset();

  std::ofstream(settings_, std::ios::binary | std::ios::trunc) << "not a movie at all";
  EXPECT_NE(Combine(std::nullopt), 0);
  EXPECT_NE(messages_.find("settings SWF"), std::string::npos) << messages_;
  ExpectNoOutput();
}

TEST_F(MskinTest, RefusesInputsThatCannotMakeAPlayer) {
  // A video movie as the skin: no ActionScript 3, nothing could drive it.
  skin_ = VideoSwf();
  EXPECT_NE(Combine(std::nullopt), 0);
  EXPECT_NE(messages_.find("not an ActionScript 3 movie"), std::string::npos) << messages_;
  ExpectNoOutput();

  // Settings without code.
  skin_ = dir_ / "skin2.swf";
  swf::SaveMovie(skin_, SkinMovie());
  swf::Movie empty;
  empty.tags.push_back(swf::MakeShowFrame());
  swf::SaveMovie(settings_, empty);
  EXPECT_NE(Combine(std::nullopt), 0);
  EXPECT_NE(messages_.find("no ActionScript 3 code"), std::string::npos) << messages_;
  ExpectNoOutput();

  // A video movie without a single frame.
  swf::SaveMovie(settings_, SettingsMovie());
  const fs::path frameless = dir_ / "frameless.swf";
  swf::SaveMovie(frameless, swf::Movie{});
  EXPECT_NE(Combine(frameless), 0);
  EXPECT_NE(messages_.find("no frames"), std::string::npos) << messages_;
  ExpectNoOutput();
}

// A video movie whose frames use a character it never defines, or that holds a tag with no
// meaning inside a sprite, cannot be embedded; the message says which.
TEST(MskinCombine, VideoMoviesThatCannotBeEmbeddedAreNamed) {
  const auto errorOf = [](const std::vector<swf::Tag>& videoTags) -> std::string {
    swf::Movie video;
    video.tags = videoTags;
    try {
      mskin::CombineSkin({SkinMovie(), SettingsMovie(), video, std::nullopt}, {});
    } catch (const swf::SwfError& e) {
      return e.what();
    }
    return "(combined)";
  };
  const swf::Tag frame{swf::kTagVideoFrame, {1, 0, 0, 0}, false};
  EXPECT_EQ(errorOf({frame, swf::MakeShowFrame()}),
            "the video SWF uses character 1 that it does not define");
  const swf::Tag stream{swf::kTagDefineVideoStream, {1, 0, 2, 0}, false};
  EXPECT_EQ(errorOf({stream, stream, swf::MakeShowFrame()}),
            "the video SWF defines character 1 twice");
  EXPECT_EQ(errorOf({CodeTag("video"), swf::MakeShowFrame()}),
            "the video SWF holds a tag of type 82 that cannot be moved into a sprite");
  EXPECT_EQ(errorOf({stream, frame, swf::MakeShowFrame()}), "(combined)");
}

TEST_F(MskinTest, CommandLineMistakesAreNamed) {
  EXPECT_NE(Combine(std::nullopt, "-X 480"), 0);
  EXPECT_NE(messages_.find("-X and -Y"), std::string::npos) << messages_;
  EXPECT_NE(Combine(std::nullopt, "-X 480 -Y 0"), 0);
  EXPECT_NE(messages_.find("-Y takes a whole number"), std::string::npos) << messages_;
  EXPECT_NE(Combine(std::nullopt, "-X 48O -Y 360"), 0);
  EXPECT_NE(messages_.find("\"48O\""), std::string::npos) << messages_;
  EXPECT_NE(Combine(std::nullopt, "-X 480 -Y 360 -X 100"), 0);
  EXPECT_NE(messages_.find("given twice"), std::string::npos) << messages_;
  ExpectNoOutput();
}

TEST_F(MskinTest, AFailedRunLeavesAnEarlierOutputAlone) {
  ASSERT_EQ(Combine(std::nullopt), 0) << messages_;
  const auto before = fs::file_size(output_);
  EXPECT_NE(Combine(dir_ / "absent.swf"), 0);
  ASSERT_TRUE(fs::exists(output_));
  EXPECT_EQ(fs::file_size(output_), before);
}

}  // namespace
