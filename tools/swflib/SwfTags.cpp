#include "SwfTags.h"

#include <algorithm>
#include <array>

namespace fennick::swf {

namespace {

constexpr uint32_t kShortLengthLimit = 0x3F;  // 63 in the length field means "long form follows"

enum PlaceFlags : uint8_t {
  kPlaceMove = 0x01,
  kPlaceHasCharacter = 0x02,
  kPlaceHasMatrix = 0x04,
  kPlaceHasColorTransform = 0x08,
  kPlaceHasRatio = 0x10,
  kPlaceHasName = 0x20,
  kPlaceHasClipDepth = 0x40,
  kPlaceHasClipActions = 0x80,
};
constexpr uint8_t kPlace3HasClassName = 0x08;
constexpr uint8_t kPlace3HasImage = 0x10;

// Define* tags: shapes, bitmaps, buttons, fonts, texts, sounds, sprites, morphs, video, binary
// data.
constexpr std::array<uint16_t, 25> kDefineTags = {2,  6,  7,  10, 11, 14, 20, 21, 22,
                                                  32, 33, 34, 35, 36, 37, 39, 46, 48,
                                                  60, 75, 83, 84, 87, 90, 91};

Tag MakeTag(uint16_t code, Writer& body) { return Tag{code, body.Take(), false}; }

void ExpectCode(const Tag& tag, std::initializer_list<uint16_t> codes, const char* what) {
  if (std::find(codes.begin(), codes.end(), tag.code) == codes.end())
    throw SwfError(std::string("tag ") + std::to_string(tag.code) + " is not " + what);
}

void ExpectEnd(const Reader& in, const char* what) {
  if (!in.AtEnd()) throw SwfError(std::string(what) + " tag has trailing bytes");
}

void WritePlaceFields(Writer& out, const PlaceObject& place) {
  if (place.characterId) out.WriteU16(*place.characterId);
  if (place.matrix) WriteMatrix(out, *place.matrix);
  if (place.ratio) out.WriteU16(*place.ratio);
  if (place.name) out.WriteString(*place.name);
  if (place.clipDepth) out.WriteU16(*place.clipDepth);
}

uint8_t PlaceFlagsOf(const PlaceObject& place) {
  uint8_t flags = place.move ? kPlaceMove : 0;
  if (place.characterId) flags |= kPlaceHasCharacter;
  if (place.matrix) flags |= kPlaceHasMatrix;
  if (place.ratio) flags |= kPlaceHasRatio;
  if (place.name) flags |= kPlaceHasName;
  if (place.clipDepth) flags |= kPlaceHasClipDepth;
  return flags;
}

}  // namespace

void WriteTag(Writer& out, const Tag& tag) {
  if (tag.code > 0x3FF) throw SwfError("tag code " + std::to_string(tag.code) + " out of range");
  if (tag.body.size() > 0x7FFFFFFFu) throw SwfError("tag body too large");
  const bool longForm = tag.longHeader || tag.body.size() >= kShortLengthLimit;
  const uint16_t codeBits = static_cast<uint16_t>(tag.code << 6);
  if (longForm) {
    out.WriteU16(codeBits | kShortLengthLimit);
    out.WriteU32(static_cast<uint32_t>(tag.body.size()));
  } else {
    out.WriteU16(static_cast<uint16_t>(codeBits | tag.body.size()));
  }
  out.WriteBytes(tag.body);
}

Tag ReadTag(Reader& in) {
  const uint16_t header = in.ReadU16();
  Tag tag;
  tag.code = header >> 6;
  uint32_t length = header & kShortLengthLimit;
  if (length == kShortLengthLimit) {
    length = in.ReadU32();
    tag.longHeader = true;
  }
  if (length > in.Remaining())
    throw SwfError("tag " + std::to_string(tag.code) + " claims " + std::to_string(length) +
                   " bytes but only " + std::to_string(in.Remaining()) + " remain");
  tag.body = in.ReadBytes(length);
  return tag;
}

std::vector<Tag> ReadTags(Reader& in) {
  std::vector<Tag> tags;
  while (!in.AtEnd()) {
    tags.push_back(ReadTag(in));
    if (tags.back().code == kTagEnd) break;
  }
  return tags;
}

void WriteTags(Writer& out, const std::vector<Tag>& tags) {
  for (const Tag& tag : tags) WriteTag(out, tag);
  if (tags.empty() || tags.back().code != kTagEnd) WriteTag(out, MakeEnd());
}

Tag MakeEnd() { return Tag{kTagEnd, {}, false}; }

Tag MakeShowFrame() { return Tag{kTagShowFrame, {}, false}; }

Tag MakeFileAttributes(uint32_t flags) {
  Writer body;
  body.WriteU32(flags);
  return MakeTag(kTagFileAttributes, body);
}

Tag MakeSetBackgroundColor(const Rgb& colour) {
  Writer body;
  WriteRgb(body, colour);
  return MakeTag(kTagSetBackgroundColor, body);
}

Tag MakeFrameLabel(std::string_view name, bool namedAnchor) {
  Writer body;
  body.WriteString(name);
  if (namedAnchor) body.WriteU8(1);
  return MakeTag(kTagFrameLabel, body);
}

Tag MakeDoAbc(const Bytes& abc, std::string_view name, uint32_t flags) {
  Writer body;
  body.WriteU32(flags);
  body.WriteString(name);
  body.WriteBytes(abc);
  return MakeTag(kTagDoAbc, body);
}

Tag MakeSymbolClass(const std::vector<std::pair<uint16_t, std::string>>& symbols) {
  if (symbols.size() > 0xFFFF) throw SwfError("too many symbols");
  Writer body;
  body.WriteU16(static_cast<uint16_t>(symbols.size()));
  for (const auto& [id, name] : symbols) {
    body.WriteU16(id);
    body.WriteString(name);
  }
  return MakeTag(kTagSymbolClass, body);
}

Tag MakeDefineBitsJpeg2(uint16_t id, const Bytes& jpeg) {
  Writer body;
  body.WriteU16(id);
  body.WriteBytes(jpeg);
  return MakeTag(kTagDefineBitsJpeg2, body);
}

Tag MakeDefineSprite(uint16_t id, uint16_t frameCount, const std::vector<Tag>& tags) {
  Writer body;
  body.WriteU16(id);
  body.WriteU16(frameCount);
  WriteTags(body, tags);
  return MakeTag(kTagDefineSprite, body);
}

Tag MakePlaceObject2(const PlaceObject& place) {
  if (place.className) throw SwfError("PlaceObject2 cannot carry a class name");
  Writer body;
  body.WriteU8(PlaceFlagsOf(place));
  body.WriteU16(place.depth);
  WritePlaceFields(body, place);
  return MakeTag(kTagPlaceObject2, body);
}

Tag MakePlaceObject3(const PlaceObject& place) {
  Writer body;
  body.WriteU8(PlaceFlagsOf(place));
  body.WriteU8(place.className ? kPlace3HasClassName : 0);
  body.WriteU16(place.depth);
  if (place.className) body.WriteString(*place.className);
  WritePlaceFields(body, place);
  return MakeTag(kTagPlaceObject3, body);
}

PlaceObject ParsePlaceObject(const Tag& tag) {
  ExpectCode(tag, {kTagPlaceObject2, kTagPlaceObject3}, "PlaceObject2 or PlaceObject3");
  Reader in(tag.body);
  PlaceObject place;
  const uint8_t flags = in.ReadU8();
  const uint8_t flags3 = tag.code == kTagPlaceObject3 ? in.ReadU8() : 0;
  if ((flags & (kPlaceHasColorTransform | kPlaceHasClipActions)) != 0 ||
      (flags3 & ~(kPlace3HasClassName | kPlace3HasImage)) != 0)
    throw SwfError(
        "PlaceObject with colour transform, filters, blend mode or clip actions is not supported");
  place.move = (flags & kPlaceMove) != 0;
  place.depth = in.ReadU16();
  const bool hasClassName = (flags3 & kPlace3HasClassName) != 0 ||
                            ((flags3 & kPlace3HasImage) != 0 && (flags & kPlaceHasCharacter) != 0);
  if (hasClassName) place.className = in.ReadString();
  if (flags & kPlaceHasCharacter) place.characterId = in.ReadU16();
  if (flags & kPlaceHasMatrix) place.matrix = ReadMatrix(in);
  if (flags & kPlaceHasRatio) place.ratio = in.ReadU16();
  if (flags & kPlaceHasName) place.name = in.ReadString();
  if (flags & kPlaceHasClipDepth) place.clipDepth = in.ReadU16();
  ExpectEnd(in, "PlaceObject");
  return place;
}

uint32_t ParseFileAttributes(const Tag& tag) {
  ExpectCode(tag, {kTagFileAttributes}, "FileAttributes");
  Reader in(tag.body);
  return in.ReadU32();
}

DoAbc ParseDoAbc(const Tag& tag) {
  ExpectCode(tag, {kTagDoAbc}, "DoABC");
  Reader in(tag.body);
  DoAbc result;
  result.flags = in.ReadU32();
  result.name = in.ReadString();
  result.abc = in.ReadBytes(in.Remaining());
  return result;
}

std::vector<std::pair<uint16_t, std::string>> ParseSymbolClass(const Tag& tag) {
  ExpectCode(tag, {kTagSymbolClass}, "SymbolClass");
  Reader in(tag.body);
  std::vector<std::pair<uint16_t, std::string>> symbols(in.ReadU16());
  for (auto& [id, name] : symbols) {
    id = in.ReadU16();
    name = in.ReadString();
  }
  ExpectEnd(in, "SymbolClass");
  return symbols;
}

Sprite ParseDefineSprite(const Tag& tag) {
  ExpectCode(tag, {kTagDefineSprite}, "DefineSprite");
  Reader in(tag.body);
  Sprite sprite;
  sprite.id = in.ReadU16();
  sprite.frameCount = in.ReadU16();
  sprite.tags = ReadTags(in);
  if (!sprite.tags.empty() && sprite.tags.back().code == kTagEnd) sprite.tags.pop_back();
  return sprite;
}

std::string ParseFrameLabel(const Tag& tag) {
  ExpectCode(tag, {kTagFrameLabel}, "FrameLabel");
  Reader in(tag.body);
  return in.ReadString();
}

bool TagDefinesCharacter(uint16_t code) {
  return std::find(kDefineTags.begin(), kDefineTags.end(), code) != kDefineTags.end();
}

namespace {
void ExpectCharacterTag(const Tag& tag) {
  if (!TagDefinesCharacter(tag.code) && tag.code != kTagVideoFrame)
    throw SwfError("tag " + std::to_string(tag.code) + " carries no character id");
  if (tag.body.size() < 2)
    throw SwfError("tag " + std::to_string(tag.code) + " too short for a character id");
}
}  // namespace

uint16_t TagCharacterId(const Tag& tag) {
  ExpectCharacterTag(tag);
  return static_cast<uint16_t>(tag.body[0] | (tag.body[1] << 8));
}

void SetTagCharacterId(Tag& tag, uint16_t id) {
  ExpectCharacterTag(tag);
  tag.body[0] = static_cast<uint8_t>(id);
  tag.body[1] = static_cast<uint8_t>(id >> 8);
}

}  // namespace fennick::swf
