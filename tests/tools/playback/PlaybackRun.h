// Packaging as the program does it (settings source, "swfdata.dll", "mskin.dll", the page
// beside the SWF) and playing the result in a real Flash runtime through playback.js.
#pragma once

#include <optional>
#include <string>

#include "uSWFData.h"

namespace playback {

// Stage of the packaged players in these tests: a 4:3 picture over Player01's 30-pixel bar.
inline constexpr int kStageWidth = 480;
inline constexpr int kStageHeight = 390;

// Writes dir/name.swf from the skin, the settings and, when given, the video SWF and the
// poster JPEG, running the two tools with the packaging step's command lines. Throws when a
// tool fails.
std::string PackageSkin(const std::string& dir, const std::string& name, const std::string& skin,
                        const TSWFData& settings, const std::optional<std::string>& videoSwf,
                        const std::optional<std::string>& poster = std::nullopt);

// Writes dir/name.html embedding name.swf, the packaging step's page.
std::string WriteHtmlPage(const std::string& dir, const std::string& name);

// A skin SWF from assembly source whose document class is className.
std::string AssembleSkin(const std::string& dir, const std::string& className,
                         const std::string& source);

// What the harness saw and heard; its JSON report is kept whole for failure messages.
struct Result {
  int exitCode = -1;
  std::string report;

  std::string Verdict() const;
  double Figure(const std::string& key) const;  // a top-level number, e.g. "audioPeak"
  int Colours() const;                          // colours in the second screenshot
  std::string ColourAt(int x, int y) const;     // "#rrggbb" of a --probe point
  bool Logged(const std::string& text) const;   // the console holds the text
  std::string Title() const;                    // the page's title as the browser read it
};

// options are the harness's (--expect, --audio, --probe X,Y, --t1, --t2).
Result Play(const std::string& target, const std::string& options = "");

// The colours the skins draw with.
inline constexpr const char* kGlyphColour = "#f2f4f7";
inline constexpr const char* kTrackColour = "#444a55";
inline constexpr const char* kProgressColour = "#3ca0e6";

}  // namespace playback
