// SWF tags: the record header (short form for bodies under 63 bytes, long form otherwise or
// when the tag came long), and builders and parsers for the tags that packaging uses.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "SwfRecords.h"

namespace fennick::swf {

enum TagCode : uint16_t {
  kTagEnd = 0,
  kTagShowFrame = 1,
  kTagDefineShape = 2,
  kTagPlaceObject = 4,
  kTagRemoveObject = 5,
  kTagDefineBits = 6,
  kTagJpegTables = 8,
  kTagSetBackgroundColor = 9,
  kTagDefineText = 11,
  kTagDoAction = 12,
  kTagDefineSound = 14,
  kTagSoundStreamHead = 18,
  kTagSoundStreamBlock = 19,
  kTagDefineBitsLossless = 20,
  kTagDefineBitsJpeg2 = 21,
  kTagDefineShape2 = 22,
  kTagPlaceObject2 = 26,
  kTagRemoveObject2 = 28,
  kTagDefineShape3 = 32,
  kTagDefineBitsJpeg3 = 35,
  kTagDefineBitsLossless2 = 36,
  kTagDefineEditText = 37,
  kTagDefineSprite = 39,
  kTagFrameLabel = 43,
  kTagSoundStreamHead2 = 45,
  kTagDefineFont2 = 48,
  kTagExportAssets = 56,
  kTagDefineVideoStream = 60,
  kTagVideoFrame = 61,
  kTagScriptLimits = 65,
  kTagFileAttributes = 69,
  kTagPlaceObject3 = 70,
  kTagSymbolClass = 76,
  kTagMetadata = 77,
  kTagDoAbc = 82,
  kTagDefineShape4 = 83,
  kTagDefineSceneAndFrameLabelData = 86,
};

// FileAttributes flags.
constexpr uint32_t kAttrUseNetwork = 0x01;
constexpr uint32_t kAttrActionScript3 = 0x08;
constexpr uint32_t kAttrHasMetadata = 0x10;

// DoABC flags: the runtime may defer running the scripts until a class is needed.
constexpr uint32_t kDoAbcLazyInitialize = 0x01;

struct Tag {
  uint16_t code = kTagEnd;
  Bytes body;
  bool longHeader = false;  // keep the long form even for a short body (some players need it)
  bool operator==(const Tag&) const = default;
};

// Writes the header (short when the body is under 63 bytes and longHeader is off) and body.
void WriteTag(Writer& out, const Tag& tag);
Tag ReadTag(Reader& in);
// Tags up to and including End, or to the end of the data when End is missing.
std::vector<Tag> ReadTags(Reader& in);
// Every tag followed by one End tag (an End already in the list is not repeated).
void WriteTags(Writer& out, const std::vector<Tag>& tags);

Tag MakeEnd();
Tag MakeShowFrame();
Tag MakeFileAttributes(uint32_t flags);
Tag MakeSetBackgroundColor(const Rgb& colour);
Tag MakeFrameLabel(std::string_view name, bool namedAnchor = false);
Tag MakeDoAbc(const Bytes& abc, std::string_view name = "", uint32_t flags = kDoAbcLazyInitialize);
Tag MakeSymbolClass(const std::vector<std::pair<uint16_t, std::string>>& symbols);
// A bitmap from a whole JPEG file (tables included).
Tag MakeDefineBitsJpeg2(uint16_t id, const Bytes& jpeg);
// The sprite's own timeline; an End tag is appended when the list lacks one.
Tag MakeDefineSprite(uint16_t id, uint16_t frameCount, const std::vector<Tag>& tags);

// PlaceObject2 and PlaceObject3. Absent optionals are left out of the record.
struct PlaceObject {
  uint16_t depth = 1;
  bool move = false;  // modifies the character already at the depth
  std::optional<uint16_t> characterId;
  std::optional<Matrix> matrix;
  std::optional<uint16_t> ratio;
  std::optional<std::string> name;
  std::optional<uint16_t> clipDepth;
  std::optional<std::string> className;  // PlaceObject3 only
  bool operator==(const PlaceObject&) const = default;
};
Tag MakePlaceObject2(const PlaceObject& place);
Tag MakePlaceObject3(const PlaceObject& place);
// Reads either form; colour transforms, filters and clip actions are refused.
PlaceObject ParsePlaceObject(const Tag& tag);

uint32_t ParseFileAttributes(const Tag& tag);
struct DoAbc {
  uint32_t flags = 0;
  std::string name;
  Bytes abc;
};
DoAbc ParseDoAbc(const Tag& tag);
std::vector<std::pair<uint16_t, std::string>> ParseSymbolClass(const Tag& tag);
struct Sprite {
  uint16_t id = 0;
  uint16_t frameCount = 0;
  std::vector<Tag> tags;  // without the closing End
};
Sprite ParseDefineSprite(const Tag& tag);
std::string ParseFrameLabel(const Tag& tag);

// Character ids live in the first two bytes of every Define* tag and of VideoFrame (its
// stream id); these read and rewrite them so that files can be merged without clashes.
bool TagDefinesCharacter(uint16_t code);
uint16_t TagCharacterId(const Tag& tag);
void SetTagCharacterId(Tag& tag, uint16_t id);

}  // namespace fennick::swf
