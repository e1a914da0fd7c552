// Puts a player skin, its settings and (optionally) an encoded video into one movie: the
// skin's and the settings' code on the main timeline, the video's frames and stream sound
// inside a sprite placed as "video_mc" for the skin to drive.
#pragma once

#include <optional>

#include "SwfMovie.h"

namespace fennick::mskin {

// The instance name under which the skin finds the embedded video.
inline constexpr const char* kVideoInstanceName = "video_mc";

struct SkinInputs {
  swf::Movie skin;      // ActionScript 3, with a document class
  swf::Movie settings;  // ActionScript 3; only its code is taken
  std::optional<swf::Movie> video;
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
