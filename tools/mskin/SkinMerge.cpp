#include "SkinMerge.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "AbcAssembler.h"

namespace fennick::mskin {

namespace {

using swf::Tag;

constexpr uint16_t kTagDoAbcLegacy = 72;  // DoABC without flags and name
constexpr uint16_t kTagStartSound = 15;
constexpr uint8_t kPlaceHasCharacter = 0x02;

bool IsCode(const Tag& tag) { return tag.code == swf::kTagDoAbc || tag.code == kTagDoAbcLegacy; }

bool IsPlacement(uint16_t code) {
  return code == swf::kTagPlaceObject || code == swf::kTagPlaceObject2 ||
         code == swf::kTagPlaceObject3;
}

uint16_t ReadU16At(const Tag& tag, size_t at, const char* what) {
  if (tag.body.size() < at + 2) throw swf::SwfError(std::string("truncated ") + what + " tag");
  return static_cast<uint16_t>(tag.body[at] | (tag.body[at + 1] << 8));
}

void WriteU16At(Tag& tag, size_t at, uint16_t value) {
  tag.body[at] = static_cast<uint8_t>(value & 0xFF);
  tag.body[at + 1] = static_cast<uint8_t>(value >> 8);
}

// Hands out character ids that no input uses yet.
class IdAllocator {
 public:
  explicit IdAllocator(const std::vector<Tag>& taken) {
    for (const Tag& tag : taken)
      if (swf::TagDefinesCharacter(tag.code))
        next_ = std::max<uint32_t>(next_, swf::TagCharacterId(tag) + 1u);
  }
  uint16_t Next() {
    if (next_ > 0xFFFF)
      throw swf::SwfError("the movies together define more characters than a SWF can hold");
    return static_cast<uint16_t>(next_++);
  }

 private:
  uint32_t next_ = 1;  // 0 is the main timeline's own id
};

// The video movie split into definitions (they stay on the main timeline, where the
// runtime looks them up) and the frame-by-frame tags that go inside the sprite, every
// character id renumbered.
struct VideoParts {
  std::vector<Tag> definitions;
  std::vector<Tag> timeline;
};

class VideoRemapper {
 public:
  explicit VideoRemapper(IdAllocator& ids) : ids_(ids) {}

  VideoParts Split(const std::vector<Tag>& tags) {
    VideoParts parts;
    for (Tag tag : tags) {
      switch (tag.code) {
        case swf::kTagEnd:
        case swf::kTagFileAttributes:
        case swf::kTagSetBackgroundColor:
        case swf::kTagMetadata:
        case swf::kTagScriptLimits:
          break;  // the skin's movie settles these
        case swf::kTagJpegTables:
          parts.definitions.push_back(std::move(tag));
          break;
        case swf::kTagDefineVideoStream:
        case swf::kTagDefineBits:
        case swf::kTagDefineBitsJpeg2:
        case swf::kTagDefineBitsJpeg3:
        case swf::kTagDefineBitsLossless:
        case swf::kTagDefineBitsLossless2:
        case swf::kTagDefineSound:
          Define(tag);
          parts.definitions.push_back(std::move(tag));
          break;
        case swf::kTagVideoFrame:
        case swf::kTagPlaceObject:
        case swf::kTagRemoveObject:
        case kTagStartSound:
          Refer(tag, 0);
          parts.timeline.push_back(std::move(tag));
          break;
        case swf::kTagPlaceObject2:
          if (!tag.body.empty() && (tag.body[0] & kPlaceHasCharacter)) Refer(tag, 3);
          parts.timeline.push_back(std::move(tag));
          break;
        case swf::kTagShowFrame:
        case swf::kTagRemoveObject2:
        case swf::kTagSoundStreamHead:
        case swf::kTagSoundStreamHead2:
        case swf::kTagSoundStreamBlock:
          parts.timeline.push_back(std::move(tag));
          break;
        default:
          throw swf::SwfError("holds a tag of type " + std::to_string(tag.code) +
                              " that cannot be moved into a sprite");
      }
    }
    return parts;
  }

 private:
  void Define(Tag& tag) {
    const uint16_t id = swf::TagCharacterId(tag);
    if (map_.count(id)) throw swf::SwfError("defines character " + std::to_string(id) + " twice");
    map_[id] = ids_.Next();
    swf::SetTagCharacterId(tag, map_[id]);
  }

  void Refer(Tag& tag, size_t at) {
    const uint16_t id = ReadU16At(tag, at, "placement");
    const auto found = map_.find(id);
    if (found == map_.end())
      throw swf::SwfError("uses character " + std::to_string(id) + " that it does not define");
    WriteU16At(tag, at, found->second);
  }

  IdAllocator& ids_;
  std::map<uint16_t, uint16_t> map_;
};

uint16_t PlacementDepth(const Tag& tag) {
  switch (tag.code) {
    case swf::kTagPlaceObject:
      return ReadU16At(tag, 2, "PlaceObject");
    case swf::kTagPlaceObject2:
      return ReadU16At(tag, 1, "PlaceObject2");
    default:
      return ReadU16At(tag, 2, "PlaceObject3");
  }
}

// The lowest depth that the skin's first frame leaves free: the video never replaces one of
// the skin's own objects, and the controls that the skin's code adds go above it.
uint16_t FreeDepth(const std::vector<Tag>& skinTags) {
  std::set<uint16_t> used;
  for (const Tag& tag : skinTags) {
    if (tag.code == swf::kTagShowFrame) break;
    if (IsPlacement(tag.code)) used.insert(PlacementDepth(tag));
  }
  uint16_t depth = 1;
  while (used.count(depth)) ++depth;
  return depth;
}

void CheckSkin(const swf::Movie& skin) {
  const auto attributes = std::find_if(skin.tags.begin(), skin.tags.end(), [](const Tag& t) {
    return t.code == swf::kTagFileAttributes;
  });
  if (attributes == skin.tags.end() ||
      !(swf::ParseFileAttributes(*attributes) & swf::kAttrActionScript3))
    throw swf::SwfError("the skin SWF is not an ActionScript 3 movie");
  bool hasDocumentClass = false;
  for (const Tag& tag : skin.tags)
    if (tag.code == swf::kTagSymbolClass)
      for (const auto& [id, name] : swf::ParseSymbolClass(tag)) hasDocumentClass |= id == 0;
  if (!hasDocumentClass) throw swf::SwfError("the skin SWF has no document class");
  if (std::none_of(skin.tags.begin(), skin.tags.end(), IsCode))
    throw swf::SwfError("the skin SWF holds no ActionScript 3 code");
  if (swf::CountFrames(skin.tags) == 0) throw swf::SwfError("the skin SWF has no frame");
}

std::vector<Tag> SettingsCode(const swf::Movie& settings) {
  std::vector<Tag> code;
  std::copy_if(settings.tags.begin(), settings.tags.end(), std::back_inserter(code), IsCode);
  if (code.empty()) throw swf::SwfError("the settings SWF holds no ActionScript 3 code");
  return code;
}

// The video's definitions and its sprite, to go before the skin's code; and the tag that
// places the sprite, to go into the first frame.
struct VideoInsert {
  std::vector<Tag> definitions;
  Tag placement;
};

VideoInsert EmbedVideo(const swf::Movie& video, const std::vector<Tag>& skinTags,
                       IdAllocator& ids) {
  VideoParts parts;
  try {
    parts = VideoRemapper(ids).Split(video.tags);
  } catch (const swf::SwfError& e) {
    throw swf::SwfError(std::string("the video SWF ") + e.what());
  }
  const uint16_t frames = swf::CountFrames(parts.timeline);
  if (frames == 0) throw swf::SwfError("the video SWF has no frames");
  const uint16_t spriteId = ids.Next();
  VideoInsert insert;
  insert.definitions = std::move(parts.definitions);
  insert.definitions.push_back(swf::MakeDefineSprite(spriteId, frames, parts.timeline));
  swf::PlaceObject place;
  place.depth = FreeDepth(skinTags);
  place.characterId = spriteId;
  place.name = kVideoInstanceName;
  insert.placement = swf::MakePlaceObject2(place);
  return insert;
}

// A bitmap class as authoring tools write one: the runtime fills a linked BitmapData from its
// symbol, whatever size is asked.
std::string PosterClassSource() {
  return std::string("class ") + kPosterClassName + R"( extends flash.display.BitmapData
    constructor(width:int = 0, height:int = 0)
        getlocal0
        pushscope
        getlocal0
        getlocal width
        getlocal height
        constructsuper 2
        returnvoid
    end
end
)";
}

bool IsJpeg(const swf::Bytes& data) {
  return data.size() > 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

// The poster's bitmap, its class and the binding of the two.
std::vector<Tag> PosterDefinitions(const swf::Bytes& jpeg, IdAllocator& ids) {
  if (!IsJpeg(jpeg)) throw swf::SwfError("the poster is not a JPEG picture");
  const uint16_t id = ids.Next();
  const abc::Assembly poster = abc::Assemble(PosterClassSource(), "poster");
  return {swf::MakeDefineBitsJpeg2(id, jpeg), swf::MakeDoAbc(poster.abc.Serialize(), "poster"),
          swf::MakeSymbolClass({{id, kPosterClassName}})};
}

}  // namespace

swf::Movie CombineSkin(const SkinInputs& inputs, const StageOptions& stage) {
  CheckSkin(inputs.skin);
  std::vector<Tag> before = SettingsCode(inputs.settings);
  IdAllocator ids(inputs.skin.tags);
  std::optional<Tag> placement;
  if (inputs.video) {
    VideoInsert insert = EmbedVideo(*inputs.video, inputs.skin.tags, ids);
    before.insert(before.begin(), insert.definitions.begin(), insert.definitions.end());
    placement = std::move(insert.placement);
  }
  if (inputs.poster) {
    const std::vector<Tag> poster = PosterDefinitions(*inputs.poster, ids);
    before.insert(before.end(), poster.begin(), poster.end());
  }

  swf::Movie out;
  out.version = stage.version;
  out.compressed = true;
  out.frameSize = swf::PixelRect(stage.width, stage.height);
  out.frameRate = inputs.video ? inputs.video->frameRate : inputs.skin.frameRate;
  bool codePlaced = false, firstFrameDone = false;
  for (const Tag& tag : inputs.skin.tags) {
    if (tag.code == swf::kTagEnd) break;
    if (!codePlaced && IsCode(tag)) {
      out.tags.insert(out.tags.end(), before.begin(), before.end());
      codePlaced = true;
    }
    if (!firstFrameDone && tag.code == swf::kTagShowFrame) {
      if (placement) out.tags.push_back(*placement);
      firstFrameDone = true;
    }
    out.tags.push_back(tag);
  }
  out.frameCount = swf::CountFrames(out.tags);
  return out;
}

}  // namespace fennick::mskin
