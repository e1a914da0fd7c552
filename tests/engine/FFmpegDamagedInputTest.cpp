// Conversions of inputs that are damaged or unusual.
#include <filesystem>
#include <fstream>

#include "FFmpegConvertTestSupport.h"

namespace {

using fixtures::Media;

// An FLV whose 50th video tag claims 2,000,000,000 ms, as one flipped byte in a tag's extended
// time stamp can: 4 s, 100 pictures.
std::string DamagedTimestampFlv(const std::string& folder) {
  const std::string good = fixtures::Make(
      "tone-pattern-4s.flv",
      "-f lavfi -i testsrc=size=320x240:rate=25:duration=4 -f lavfi -i "
      "sine=frequency=440:sample_rate=44100:duration=4 -c:v flv1 -c:a libmp3lame -ar 44100");
  std::string bytes = fixtures::ReadFile(good);
  constexpr uint32_t Damaged = 2000000000;
  int videoTags = 0;
  size_t at = 13;  // past the file header and the first back pointer
  while (at + 11 <= bytes.size()) {
    const size_t size =
        (uint8_t(bytes[at + 1]) << 16) | (uint8_t(bytes[at + 2]) << 8) | uint8_t(bytes[at + 3]);
    if ((bytes[at] & 0x1f) == 9 && ++videoTags == 50) {
      bytes[at + 4] = char(Damaged >> 16);
      bytes[at + 5] = char(Damaged >> 8);
      bytes[at + 6] = char(Damaged);
      bytes[at + 7] = char(Damaged >> 24);
      break;
    }
    at += 11 + size + 4;
  }
  EXPECT_EQ(videoTags, 50);
  const std::string path = folder + "/damaged.flv";
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

TEST_F(ConvertTest, ADamagedTimestampIsADiscontinuityInEveryOutputFormat) {
  const std::string input = DamagedTimestampFlv(Folder);
  for (const std::string format : {"flv", "swf"}) {
    SCOPED_TRACE(format);
    const std::string output = Output("repaired." + format);
    auto task = MakeTask({input}, output, FlashOptions("44100"));
    const TRunResult run = RunTask(*task);
    ASSERT_TRUE(run.Finished) << run.Message;
    EXPECT_EQ(run.Duplicated(), 0);
    const ProbeResult probe = ProbeMedia(output);
    ASSERT_TRUE(probe.ok) << probe.error;
    const ProbeStream* video = probe.FirstOfType("video");
    const ProbeStream* audio = probe.FirstOfType("audio");
    ASSERT_TRUE(video && audio);
    EXPECT_EQ(video->nb_read_frames, 100);
    // The SWF muxer gives no duration; its pictures and sound frames tell it.
    EXPECT_NEAR(double(audio->nb_read_frames) * 1152 / 44100, 4.0, 0.1);
    const std::vector<double> times = PacketTimes(output, "v");
    ASSERT_FALSE(times.empty());
    const auto [first, last] = std::minmax_element(times.begin(), times.end());
    EXPECT_NEAR(*last - *first, 3.96, 0.01);
  }
}

}  // namespace
