// Puts a player skin, its settings and (optionally) an encoded video into one movie: the
// skin's and the settings' code on the main timeline, the video's frames and stream sound
// inside a sprite placed as "video_mc" for the skin to drive. A poster (a JPEG of the video's
// first picture) becomes a bitmap the skin instantiates by its class name.
#pragma once

#include <optional>

#include "SwfMovie.h"

namespace fennick::mskin {

// The instance name under which the skin finds the embedded video.
inline constexpr const char* kVideoInstanceName = "video_mc";
// The class of the poster's bitmap data (flash.display.BitmapData), defined only with a poster.
inline constexpr const char* kPosterClassName = "VideoPoster";

struct SkinInputs {
  swf::Movie skin;      // ActionScript 3, with a document class
  swf::Movie settings;  // ActionScript 3; only its code is taken
  std::optional<swf::Movie> video;
  std::optional<swf::Bytes> poster;  // a JPEG file's bytes
};

struct StageOptions {
  uint16_t width = 400;
  uint16_t height = 400;
  uint8_t version = 9;
};

// Throws swf::SwfError naming the input that cannot be combined and why. The result plays
// at the video's frame rate when there is a video, else at the skin's.
swf::Movie CombineSkin(const SkinInputs& inputs, const StageOptions& stage);

}  // namespace fennick::mskin
