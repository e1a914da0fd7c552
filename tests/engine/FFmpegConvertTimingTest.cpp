// Files as the usual encoders and devices write them, converted whole and in consecutive parts:
// every picture at its own time, where the ffmpeg command line puts it, and in one part only.
#include <cstdio>
#include <string>
#include <vector>

#include "FFmpegConvertTestSupport.h"

namespace {

// libmp3lame's priming samples at 44.1 kHz: the muxer moves every stream by them, so that the
// sound's first packet is at 0 and the sound itself, like a picture at the output's start,
// begins this much later.
constexpr double Mp3Priming = 1105.0 / 44100;

// The length of the part from one typed time to the next, as the program types it.
std::string PartLength(const char* start, const char* end) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", std::stod(end) - std::stod(start));
  return text;
}

TEST_F(ConvertTest, UsualFilesKeepEveryPictureAtItsTimeWholeAndInParts) {
  struct Case {
    const char* Name;
    std::string Input;
    std::vector<const char*> Cuts;  // where the parts start; the last one runs to the end
  };
  using fixtures::NumberedClipWithSound;
  const std::string h264 = "-c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac";
  const Case cases[] = {
      {"a phone's MP4 at 1/600",
       NumberedClipWithSound("numbered_phone.mp4", "30", h264 + " -video_track_timescale 600"),
       {"0", "1.51", "3.3", "5.07"}},
      {"an MP4 at 1/90000 whose packets have no durations",
       NumberedClipWithSound("numbered_no_durations.mp4", "30000/1001",
                             h264 + " -fps_mode vfr -enc_time_base 1:90000"
                                    " -video_track_timescale 90000"),
       {"0", "2", "4.01", "6.013"}},
      {"a camera's MPEG-TS, a key frame every 2 s",
       NumberedClipWithSound("numbered_keys_2s.ts", "30", h264 + " -g 60"),
       {"0", "2.7", "3.51", "5.2"}},
      {"an MPEG-TS with x264's key frame every 10 s",
       NumberedClipWithSound("numbered_keys_10s.ts", "25", h264),
       {"0", "3.33", "5.5"}},
      // At a DVD's size and rate every picture starts a packet with its time, as on a DVD.
      {"a DVD's VOB, a key frame every 15 pictures",
       NumberedClipWithSound("numbered_dvd_pal.vob", "25",
                             "-s 720x576 -c:v mpeg2video -g 15 -b:v 5M -c:a mp2", "0.01"),
       {"0", "2", "3", "4", "6"}},
      {"a WebM whose pictures start 14 ms after its sound",
       NumberedClipWithSound("numbered_late.webm", "25",
                             "-c:v libvpx-vp9 -deadline realtime -cpu-used 8 -c:a libopus",
                             "0.014"),
       {"0", "1.37", "4.9"}},
      // Its B-frames start its pictures a little after its sound.
      {"an FLV at 1/1000",
       NumberedClipWithSound("numbered_bframes.flv", "30", h264),
       {"0", "1.51", "3.017", "6.5"}},
      {"an MKV at 23.976 fps",
       NumberedClipWithSound("numbered_film.mkv", "24000/1001", h264),
       {"0", "1.1", "2.2", "3.3"}},
  };
  std::string yardstickOptions;
  for (const auto& [name, value] : FlashOptions("44100"))
    yardstickOptions += " -" + name + " " + value;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string whole = Output("whole.flv");
    TRunResult run = RunTask(*MakeTask({c.Input}, whole, FlashOptions("44100")));
    ASSERT_TRUE(run.Finished) << run.Message;
    const std::string yardstick = Output("yardstick.flv");
    std::string log;
    ASSERT_EQ(fixtures::Run("ffmpeg -nostdin -v error -y -i " + fixtures::ShellQuote(c.Input) +
                                yardstickOptions + " " + fixtures::ShellQuote(yardstick),
                            &log),
              0)
        << log;
    const std::vector<int> pictures = PictureNumbers(whole);
    EXPECT_EQ(pictures, PictureNumbers(yardstick));
    EXPECT_EQ(PacketTimes(whole, "v"), PacketTimes(yardstick, "v"));
    std::vector<int> joined;
    for (size_t n = 0; n < c.Cuts.size(); ++n) {
      SCOPED_TRACE(std::string("the part from ") + c.Cuts[n]);
      TOptionList cut = {{"ss", c.Cuts[n]}};
      if (n + 1 < c.Cuts.size()) cut.push_back({"t", PartLength(c.Cuts[n], c.Cuts[n + 1])});
      const std::string part = Output("part.flv");
      run = RunTask(*MakeTask({c.Input}, part, FlashOptions("44100"), cut));
      ASSERT_TRUE(run.Finished) << run.Message;
      const std::vector<int> numbers = PictureNumbers(part);
      ASSERT_FALSE(numbers.empty());
      joined.insert(joined.end(), numbers.begin(), numbers.end());
      if (n == 0) continue;
      // Shown from the part's start, with its sound.
      const std::vector<double> times = PacketTimes(part, "v");
      const std::vector<double> sound = PacketTimes(part, "a");
      ASSERT_FALSE(sound.empty());
      EXPECT_NEAR(times.front(), sound.front() + Mp3Priming, 0.002);
    }
    EXPECT_EQ(joined, pictures);
  }
}

}  // namespace
