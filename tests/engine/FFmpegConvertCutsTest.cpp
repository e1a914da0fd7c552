// Conversions cut out of their input: where a cut starts and ends, and parts cut one after the
// other, read back with ffprobe and with the engine's own decoder.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "FFDecode.h"
#include "FFmpegConvertTestSupport.h"
#include "MyUtils.h"

namespace {

using fixtures::Media;

TEST_F(ConvertTest, RecordingTimeCutsTheOutput) {
  const std::string output = Output("cut.flv");
  auto task =
      MakeTask({fixtures::Path(Media::Mp4H264Aac)}, output, FlashOptions("44100"), {{"t", "1.2"}});
  EXPECT_NEAR(double(task->TotalTime) / 1e6, 1.2, 0.001);
  ASSERT_TRUE(RunTask(*task).Finished);
  const ProbeResult probe = ProbeMedia(output);
  EXPECT_EQ(probe.FirstOfType("video")->nb_read_frames, 30);
  EXPECT_NEAR(probe.duration, 1.2, 0.1);
}

// A start inside the file seeks to the key frame before it: what lies between that key frame
// and the start must go from the sound as well as from the pictures.
TEST_F(ConvertTest, ACutThatStartsInsideTheFileStartsSoundAndPicturesTogether) {
  const std::string sparseKeys = fixtures::Make(
      "h264_aac_sparse_keys.mp4",
      "-f lavfi -i testsrc=size=320x240:rate=25:duration=4 -f lavfi -i "
      "sine=frequency=440:sample_rate=44100:duration=4 -ac 2 -c:v libx264 -preset ultrafast "
      "-pix_fmt yuv420p -g 50 -sc_threshold 0 -c:a aac -b:a 96k -shortest");
  struct Case {
    const char* Name;
    std::string Input;
    TOptionList Options;
    double Duration;
  };
  const std::string mp3 = fixtures::Path(Media::Mp3AudioOnly);
  const Case cases[] = {
      {"cut1s.flv", sparseKeys, {{"ss", "1"}, {"t", "1"}}, 1.0},
      {"tail.flv", sparseKeys, {{"ss", "2.5"}}, 1.5},
      {"sound-only.flv", mp3, {{"ss", "1"}, {"t", "1"}}, 1.0},
  };
  const double frame = 0.04;
  const double audioPacket = 1152.0 / 44100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string output = Output(c.Name);
    auto task = MakeTask({c.Input}, output, FlashOptions("44100"), c.Options);
    ASSERT_TRUE(RunTask(*task).Finished);
    const std::vector<double> sound = PacketTimes(output, "a");
    const std::vector<double> pictures = PacketTimes(output, "v");
    ASSERT_FALSE(sound.empty());
    EXPECT_NEAR(sound.front(), 0.0, audioPacket);
    if (c.Input != mp3) {
      ASSERT_FALSE(pictures.empty());
      EXPECT_NEAR(pictures.front(), sound.front(), frame);
    }
    EXPECT_NEAR(ProbeMedia(output, false).duration, c.Duration, frame + audioPacket);
  }
}

// Parts cut one after the other from a file meet exactly, wherever the cuts fall and whatever
// the output's rate: each holds the pictures whose times lie in its range, the first of them
// shown from its start; a part whose start lies in a gap between pictures opens with the picture
// shown there. The sound of a part starts at its start. The seek before a cut loses nothing: not
// where the demuxer lands after the key picture before the cut or past the end of the video
// stream it seeks by (MPEG-TS, MPEG-PS), nor before the file's first half second, nor where the
// container times sound blocks off (Vorbis in Ogg).
TEST_F(ConvertTest, ConsecutiveCutsMeetWithoutRepeatingOrLosingAPictureOrSound) {
  struct Cut {
    const char* Start;
    const char* Length;
    int First, Last;  // the numbers of its first and last pictures; -1: no pictures
  };
  struct Case {
    const char* Name;
    std::string Input;
    TOptionList Options;  // of the output, besides the Flash ones
    int Step;             // from one picture's number to the next
    std::vector<Cut> Cuts;
    // Pictures off the output's time grid: which one opens the part (the one shown at its start
    // or the next), and when, is the picture rule's; the part holds as many, one after the other.
    bool OffTheGrid = false;
  };
  // Numbered pictures with a beep in the middle of each second.
  const auto clip = [](const char* name, const char* rate, int seconds, const std::string& codecs) {
    return fixtures::Make(name, fixtures::NumberedPictures(rate, seconds) + " " +
                                    fixtures::BeepInEverySecond(seconds) + codecs);
  };
  const std::string h264 = " -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac ";
  const Case cases[] = {
      {"between the pictures of a 29.97 fps file",
       fixtures::NumberedClip("numbered_29.97fps.mp4", "30000/1001"),
       {},
       1,
       {{"1.51", "2", 46, 105}, {"3.51", "2", 106, 165}, {"5.51", "2", 166, 225}}},
      {"at half the rate",
       fixtures::NumberedClip("numbered_30fps.mp4", "30"),
       {{"r", "15"}},
       2,
       {{"2", "1", 60, 88}, {"3", "1", 90, 118}}},
      {"inside a slide of a slide show",
       fixtures::NumberedClip("numbered_1fps.mp4", "1"),
       {{"r", "25"}},
       1,
       {{"2.5", "1", 2, 3}}},
      // A second of pictures, a second of nothing, and so on.
      {"inside a gap of a variable-rate clip",
       fixtures::NumberedClip("numbered_30fps_gaps.mkv", "30", "(N+floor(N/30)*30)/30/TB"),
       {},
       1,
       {{"1.5", "1", 29, 44}}},
      {"a song", fixtures::BeepingSong(), {}, 0, {{"5", "10", -1, -1}, {"15", "10", -1, -1}}},
      {"a Vorbis song",
       fixtures::BeepingSong("beeps_at_5s_and_15s.ogg", "-c:a libvorbis"),
       {},
       0,
       {{"5", "10", -1, -1}, {"15", "10", -1, -1}}},
      {"a TS, keys 2 s apart",
       clip("keys_2s.ts", "30", 8, h264 + "-g 60"),
       {},
       1,
       {{"3", "2", 90, 149}},
       true},
      {"a TS, keys 10 s apart",
       clip("keys_10s.ts", "30", 12, h264 + "-g 300"),
       {},
       1,
       {{"3", "2", 90, 149}, {"10.5", "1", 315, 344}},
       true},
      {"an FLV", clip("numbered_30fps.flv", "30", 8, h264), {}, 1, {{"0.3", "2", 9, 68}}, true},
      // MPEG-2 in a program stream, a key picture every 15 and two B pictures between, each
      // picture in packets of its own with their times, as on a DVD.
      {"a VOB",
       clip("dvd_like.vob", "25", 9,
            " -c:v mpeg2video -g 15 -bf 2 -b:v 600k -minrate 600k -maxrate 600k -bufsize 600k "
            "-c:a ac3 -f vob"),
       {},
       1,
       {{"2", "2", 50, 99}, {"4", "2", 100, 149}, {"6", "2", 150, 199}, {"3", "2", 75, 124}},
       true},
      // The video stream taken ends before the part, which shows its last picture; another goes on.
      {"a TS whose first video stream ends early",
       fixtures::Make("first_video_ends_early.ts",
                      fixtures::NumberedPictures("30", 1) +
                          " -f lavfi -i color=c=white:size=160x16:rate=30:duration=8 " +
                          fixtures::BeepInEverySecond(8) + " -map 0 -map 1 -map 2" + h264),
       {},
       1,
       {{"3", "2", 29, 29}},
       true},
  };
  for (const Case& c : cases) {
    // Where the whole file's beeps lie once converted (the encoder's delay included).
    std::vector<double> wholeBeeps;
    if (ProbeMedia(c.Input, false).FirstOfType("audio")) {
      const std::string whole = Output("whole.flv");
      ASSERT_TRUE(RunTask(*MakeTask({c.Input}, whole, FlashOptions("44100"))).Finished) << c.Name;
      wholeBeeps = BeepTimes(whole);
    }
    for (const Cut& cut : c.Cuts) {
      SCOPED_TRACE(std::string(c.Name) + " from " + cut.Start);
      const std::string output = Output("part.flv");
      TOptionList options = FlashOptions("44100");
      options.insert(options.end(), c.Options.begin(), c.Options.end());
      auto task = MakeTask({c.Input}, output, options, {{"ss", cut.Start}, {"t", cut.Length}});
      const TRunResult run = RunTask(*task);
      ASSERT_TRUE(run.Finished) << run.Message;
      const double start = std::strtod(cut.Start, nullptr);
      const auto beep = std::lower_bound(wholeBeeps.begin(), wholeBeeps.end(), start);
      if (beep != wholeBeeps.end()) {
        const std::vector<double> beeps = BeepTimes(output);
        ASSERT_FALSE(beeps.empty());
        EXPECT_NEAR(beeps.front(), *beep - start, 0.002);
      }
      if (cut.First < 0) continue;
      const std::vector<int> numbers = PictureNumbers(output);
      ASSERT_FALSE(numbers.empty());
      if (c.OffTheGrid) {
        EXPECT_EQ(int(numbers.size()), (cut.Last - cut.First) / c.Step + 1);
        EXPECT_GE(numbers.front(), cut.First - c.Step);
        EXPECT_LE(numbers.front(), cut.First);
      } else {
        const std::vector<double> times = PacketTimes(output, "v");
        ASSERT_FALSE(times.empty());
        EXPECT_NEAR(times.front(), 0, 0.001);
        EXPECT_EQ(numbers.front(), cut.First);
        EXPECT_EQ(numbers.back(), cut.Last);
      }
      for (size_t n = 1; n < numbers.size(); ++n)
        EXPECT_EQ(numbers[n] - numbers[n - 1], c.Step) << "after picture " << numbers[n - 1];
    }
  }
}

}  // namespace
