// Tag headers, the tag builders and parsers, and whole files (plain and zlib compressed).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <iterator>

#include "MediaFixtures.h"
#include "SwfMovie.h"

using namespace fennick::swf;

namespace {

Bytes Written(const Tag& tag) {
  Writer w;
  WriteTag(w, tag);
  return w.Take();
}

Tag RoundTrip(const Tag& tag) {
  const Bytes bytes = Written(tag);
  Reader r(bytes);
  Tag back = ReadTag(r);
  EXPECT_TRUE(r.AtEnd());
  return back;
}

}  // namespace

TEST(SwfTags, ShortHeaderHoldsCodeAndLengthInOneWord) {
  // ShowFrame: code 1, length 0 -> 0x0040.
  EXPECT_EQ(Written(MakeShowFrame()), (Bytes{0x40, 0x00}));
  // SetBackgroundColor: code 9, length 3 -> 0x0243.
  EXPECT_EQ(Written(MakeSetBackgroundColor(Rgb{1, 2, 3})), (Bytes{0x43, 0x02, 1, 2, 3}));
}

TEST(SwfTags, BodiesOf63BytesAndMoreTakeTheLongHeader) {
  Tag tag{kTagDoAbc, Bytes(62, 7), false};
  Bytes bytes = Written(tag);
  EXPECT_EQ(bytes.size(), 64u);
  EXPECT_EQ(bytes[0], 0xBE);  // 82 << 6 | 62 = 0x14BE
  EXPECT_EQ(bytes[1], 0x14);

  tag.body.push_back(7);
  bytes = Written(tag);
  ASSERT_EQ(bytes.size(), 2u + 4u + 63u);
  EXPECT_EQ(bytes[0], 0xBF);  // 82 << 6 | 0x3F
  EXPECT_EQ(bytes[1], 0x14);
  EXPECT_EQ((Bytes{bytes.begin() + 2, bytes.begin() + 6}), (Bytes{63, 0, 0, 0}));
  EXPECT_EQ(RoundTrip(tag).body, tag.body);
}

TEST(SwfTags, ALongHeaderReadFromAFileIsKeptOnWrite) {
  const Bytes longShowFrame{0x7F, 0x00, 0, 0, 0, 0};  // ShowFrame in the long form
  Reader r(longShowFrame);
  const Tag tag = ReadTag(r);
  EXPECT_EQ(tag.code, kTagShowFrame);
  EXPECT_TRUE(tag.longHeader);
  EXPECT_EQ(Written(tag), longShowFrame);
}

TEST(SwfTags, ALengthBeyondTheDataIsAnError) {
  const Bytes bytes{0x43, 0x02, 1, 2};  // claims 3 bytes, has 2
  Reader r(bytes);
  EXPECT_THROW(ReadTag(r), SwfError);
}

TEST(SwfTags, TagListsEndWithExactlyOneEnd) {
  Writer w;
  WriteTags(w, {MakeShowFrame()});
  WriteTags(w, {MakeShowFrame(), MakeEnd()});
  EXPECT_EQ(w.Take(), (Bytes{0x40, 0, 0, 0, 0x40, 0, 0, 0}));
}

TEST(SwfTags, SymbolClassAndDoAbcRoundTrip) {
  const Tag symbols = MakeSymbolClass({{0, "SWFData"}, {3, "fennick.Button"}});
  EXPECT_EQ(symbols.body,
            (Bytes{2,   0,   0,   0,   'S', 'W', 'F', 'D', 'a', 't', 'a', 0,   3,   0, 'f',
                   'e', 'n', 'n', 'i', 'c', 'k', '.', 'B', 'u', 't', 't', 'o', 'n', 0}));
  EXPECT_EQ(ParseSymbolClass(RoundTrip(symbols)),
            (std::vector<std::pair<uint16_t, std::string>>{{0, "SWFData"}, {3, "fennick.Button"}}));

  const Tag abc = MakeDoAbc(Bytes{0x10, 0x00, 0x2E, 0x00}, "frame1");
  EXPECT_EQ((Bytes{abc.body.begin(), abc.body.begin() + 4}),
            (Bytes{1, 0, 0, 0}));  // lazy initialise
  const DoAbc parsed = ParseDoAbc(RoundTrip(abc));
  EXPECT_EQ(parsed.flags, kDoAbcLazyInitialize);
  EXPECT_EQ(parsed.name, "frame1");
  EXPECT_EQ(parsed.abc, (Bytes{0x10, 0x00, 0x2E, 0x00}));
  EXPECT_THROW(ParseSymbolClass(abc), SwfError);
}

TEST(SwfTags, FileAttributesAndFrameLabel) {
  EXPECT_EQ(MakeFileAttributes(kAttrActionScript3).body, (Bytes{0x08, 0, 0, 0}));
  EXPECT_EQ(ParseFileAttributes(MakeFileAttributes(kAttrActionScript3 | kAttrUseNetwork)), 0x09u);
  EXPECT_EQ(ParseFrameLabel(MakeFrameLabel("end")), "end");
  EXPECT_EQ(MakeFrameLabel("a", true).body, (Bytes{'a', 0, 1}));
}

TEST(SwfTags, SpriteHoldsItsOwnTimeline) {
  PlaceObject place;
  place.depth = 1;
  place.characterId = 5;
  const Tag sprite =
      MakeDefineSprite(7, 2, {MakePlaceObject2(place), MakeShowFrame(), MakeShowFrame()});
  // id 7, 2 frames, PlaceObject2 (code 26, 5 bytes), two ShowFrames, End.
  EXPECT_EQ(sprite.body, (Bytes{7, 0, 2, 0, 0x85, 0x06, 0x02, 1, 0, 5, 0, 0x40, 0, 0x40, 0, 0, 0}));
  const Sprite parsed = ParseDefineSprite(RoundTrip(sprite));
  EXPECT_EQ(parsed.id, 7);
  EXPECT_EQ(parsed.frameCount, 2);
  ASSERT_EQ(parsed.tags.size(), 3u);
  EXPECT_EQ(ParsePlaceObject(parsed.tags[0]), place);
  EXPECT_EQ(CountFrames(parsed.tags), 2);
}

TEST(SwfTags, PlaceObjectFieldsRoundTripInBothForms) {
  PlaceObject place;
  place.depth = 3;
  place.characterId = 2;
  place.matrix = Matrix{1.0, 1.0, 0.0, 0.0, 200, 400};
  place.ratio = 9;
  place.name = "video";
  place.clipDepth = 4;
  EXPECT_EQ(ParsePlaceObject(MakePlaceObject2(place)), place);
  place.className = "fennick.Skin";
  EXPECT_THROW(MakePlaceObject2(place), SwfError);
  const Tag three = MakePlaceObject3(place);
  EXPECT_EQ(three.code, kTagPlaceObject3);
  EXPECT_EQ(ParsePlaceObject(three), place);

  PlaceObject move;
  move.depth = 1;
  move.move = true;
  EXPECT_EQ(MakePlaceObject2(move).body, (Bytes{0x01, 1, 0}));
}

TEST(SwfTags, CharacterIdsCanBeRenumbered) {
  Tag video{kTagDefineVideoStream, {0, 0, 10, 0}, false};
  Tag frame{kTagVideoFrame, {0, 0, 1, 0}, false};
  EXPECT_TRUE(TagDefinesCharacter(kTagDefineVideoStream));
  EXPECT_FALSE(TagDefinesCharacter(kTagVideoFrame));
  SetTagCharacterId(video, 0x0102);
  SetTagCharacterId(frame, 0x0102);
  EXPECT_EQ(TagCharacterId(video), 0x0102);
  EXPECT_EQ(TagCharacterId(frame), 0x0102);
  EXPECT_EQ(video.body, (Bytes{2, 1, 10, 0}));
  EXPECT_THROW(TagCharacterId(MakeShowFrame()), SwfError);
}

TEST(SwfMovie, PlainFileHeaderBytes) {
  Movie movie;
  movie.version = 9;
  movie.frameSize = PixelRect(550, 400);
  movie.frameRate = 24;
  movie.frameCount = 1;
  movie.tags = {MakeShowFrame()};
  const Bytes bytes = WriteMovie(movie);
  const Bytes expected{'F',  'W',  'S',  9,    25,   0,    0,    0,  // 8 + 9 + 2 + 2 + 2 + 2
                       0x78, 0x00, 0x05, 0x5F, 0x00, 0x00, 0x0F, 0xA0, 0x00,  // stage
                       0x00, 0x18, 1,    0,                                   // 24 fps, 1 frame
                       0x40, 0x00, 0x00, 0x00};                               // ShowFrame, End
  EXPECT_EQ(bytes, expected);
}

TEST(SwfMovie, CompressedFileRoundTrips) {
  Movie movie;
  movie.compressed = true;
  movie.version = 10;
  movie.frameRate = 12.5;
  movie.tags = {MakeFileAttributes(kAttrActionScript3), MakeDoAbc(Bytes(5000, 0x42)),
                MakeShowFrame()};
  const Bytes bytes = WriteMovie(movie);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 3), "CWS");
  EXPECT_LT(bytes.size(), 1000u);  // the repeated body compresses
  // The header keeps the uncompressed length.
  const uint32_t length = bytes[4] | (bytes[5] << 8) | (bytes[6] << 16) | (bytes[7] << 24);
  movie.compressed = false;
  EXPECT_EQ(length, WriteMovie(movie).size());

  const Movie back = ReadMovie(bytes);
  EXPECT_TRUE(back.compressed);
  EXPECT_EQ(back.version, 10);
  EXPECT_DOUBLE_EQ(back.frameRate, 12.5);
  EXPECT_EQ(back.frameSize, movie.frameSize);
  movie.tags[1].longHeader = true;  // a body this long came with the long form
  EXPECT_EQ(back.tags, movie.tags);
}

TEST(SwfMovie, DamagedFilesAreRefused) {
  Movie movie;
  movie.tags = {MakeShowFrame()};
  Bytes plain = WriteMovie(movie);
  EXPECT_THROW(ReadMovie(Bytes(plain.begin(), plain.end() - 3)), SwfError);  // truncated
  Bytes wrongSignature = plain;
  wrongSignature[0] = 'X';
  EXPECT_THROW(ReadMovie(wrongSignature), SwfError);

  movie.compressed = true;
  Bytes packed = WriteMovie(movie);
  packed[packed.size() / 2] ^= 0xFF;
  EXPECT_THROW(ReadMovie(packed), SwfError);
  EXPECT_THROW(ReadMovie(Bytes{'C', 'W', 'S'}), SwfError);
  // A header claiming 4 GiB of body for a few bytes is refused.
  EXPECT_THROW(ReadMovie(Bytes{'C', 'W', 'S', 9, 0xFF, 0xFF, 0xFF, 0xFF, 0x78, 0x9C, 0x03, 0x00}),
               SwfError);
}

// A compressed file's declared length is only a claim: one damaged byte must not make the
// reader take gigabytes before the data proves it wrong.
TEST(SwfMovie, ADamagedCompressedLengthCostsNoMoreMemoryThanTheData) {
  Bytes noise(4u << 20);
  uint32_t state = 12345;
  for (uint8_t& b : noise) b = static_cast<uint8_t>((state = state * 1103515245u + 12345u) >> 24);
  Movie movie;
  movie.compressed = true;
  movie.tags = {MakeDoAbc(noise), MakeShowFrame()};
  Bytes bytes = WriteMovie(movie);
  bytes[7] = 0xF0;  // the top byte of the declared length: about 4 GiB

  const auto peakKb = [] {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
  };
  const long before = peakKb();
  EXPECT_THROW(ReadMovie(bytes), SwfError);
  EXPECT_LT(peakKb() - before, 256L * 1024) << "kilobytes taken beyond the peak before reading";
}

// A save that fails half way (here: past the file size limit) keeps the earlier file whole
// and leaves nothing else behind.
TEST(SwfMovie, AFailedSaveKeepsTheEarlierFile) {
  const std::filesystem::path dir = fixtures::TempDir("swfmovie");
  const auto file = dir / "kept.swf";
  Movie small;
  small.tags = {MakeShowFrame()};
  SaveMovie(file, small);
  Movie large;
  large.tags = {MakeDoAbc(Bytes(1u << 20, 7)), MakeShowFrame()};

  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  const rlimit saved = limit;
  limit.rlim_cur = 64 * 1024;
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  EXPECT_THROW(SaveMovie(file, large), SwfError);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_EQ(LoadMovie(file).tags, small.tags);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(SwfMovie, FilesAreSavedAndLoadedWithNamesInErrors) {
  const std::filesystem::path dir = fixtures::TempDir("swfmovie");
  const auto file = dir / "Bühne.swf";
  Movie movie;
  movie.tags = {MakeSetBackgroundColor(Rgb{0, 0, 0}), MakeShowFrame()};
  SaveMovie(file, movie);
  EXPECT_EQ(LoadMovie(file).tags, movie.tags);
  try {
    LoadMovie(dir / "missing.swf");
    FAIL() << "a missing file loaded";
  } catch (const SwfError& e) {
    EXPECT_NE(std::string(e.what()).find("missing.swf"), std::string::npos);
  }
  EXPECT_THROW(SaveMovie(dir / "no" / "such" / "folder.swf", movie), SwfError);
}
