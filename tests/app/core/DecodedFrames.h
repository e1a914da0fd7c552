// Pictures of a file as the ffmpeg command line decodes them, in the edit window's own frame
// record, so that a test compares them with the previews through one colour conversion.
#pragma once

#include "MediaFixtures.h"
#include "MyUtils.h"
#include "U_Edit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

// The first picture at or after Time (µs, half a frame of 25 per second early) of a
// Width x Height video.
inline TEditFrame DecodedFrame(const std::string& Path, int Width, int Height, int64_t Time = 0) {
  const std::string Raw = Path + "." + std::to_string(Time) + ".yuv";
  char Select[64];
  std::snprintf(Select, sizeof Select, "select=gte(t\\,%.3f)", (Time - 20000) / 1e6);
  std::string Log;
  EXPECT_EQ(
      fixtures::Run("ffmpeg -nostdin -v error -y -i " + fixtures::ShellQuote(Path) + " -vf " +
                        fixtures::ShellQuote(Select) +
                        " -frames:v 1 -f rawvideo -pix_fmt yuv420p " + fixtures::ShellQuote(Raw),
                    &Log),
      0)
      << Log;
  std::string Bytes = fixtures::ReadFile(Raw);
  TEditFrame Frame;
  if (Bytes.size() != size_t(Width * Height * 3 / 2)) {
    ADD_FAILURE() << Path << ": " << Bytes.size() << " bytes";
    return Frame;
  }
  auto* Y = reinterpret_cast<uint8_t*>(Bytes.data());
  uint8_t* U = Y + Width * Height;
  uint8_t* V = U + Width * Height / 4;
  Frame.CopyFrom({{Y, U, V, nullptr}, {Width, Width / 2, Width / 2, 0}}, Width, Height);
  Frame.Time = Time;
  return Frame;
}
