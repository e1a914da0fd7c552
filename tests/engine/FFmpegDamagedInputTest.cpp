// Conversions of inputs that are damaged or unusual, and what happens to the file an output
// replaces when a run fails, stops or writes into something that is not a regular file.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "FFDecode.h"
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

TEST_F(ConvertTest, APhoneVideoIsProbedAndConvertedUpright) {
  struct TCase {
    int Rotate;      // the clip's "rotate" tag
    int Width;       // as shown
    int RedX, RedY;  // where the stored top-left corner is shown
  };
  for (const TCase& c : {TCase{0, 72, 4, 4}, TCase{90, 128, 4, 67}, TCase{180, 72, 67, 123},
                         TCase{270, 128, 123, 4}}) {
    SCOPED_TRACE(c.Rotate);
    const std::string input = fixtures::RotatedCornerClip(c.Rotate);
    const int height = c.Width == 72 ? 128 : 72;
    TFFDecoder probe;
    ASSERT_TRUE(probe.LoadFile(input)) << probe.LastErrMsg();
    TVideoStreamInfo info;
    ASSERT_TRUE(probe.GetDefaultVideoStreamInfo(info));
    EXPECT_EQ(info.Width, c.Width);
    EXPECT_EQ(info.Height, height);
    EXPECT_NEAR(info.AspectRatio, double(c.Width) / height, 0.01);

    const std::string output = Output("upright" + std::to_string(c.Rotate) + ".flv");
    auto task = MakeTask({input}, output, {{"vcodec", "flv"}, {"b", "800000"}});
    const TRunResult run = RunTask(*task);
    ASSERT_TRUE(run.Finished) << run.Message;
    const TRgbPicture picture = FirstFrame(output);
    EXPECT_EQ(picture.Width, c.Width);
    EXPECT_EQ(picture.Height, height);
    ExpectColour(picture, c.RedX, c.RedY, 255, 0, 0, "the stored top-left corner");
    ExpectColour(picture, c.Width - 1 - c.RedX, height - 1 - c.RedY, 0, 0, 255, "its opposite");
  }
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  return names;
}

TEST_F(ConvertTest, AnEarlierOutputIsReplacedOnlyByAUsableOne) {
  const std::string earlier = "the earlier output, to be kept unless replaced";
  struct TCase {
    const char* Name;
    TOptionList Options;
    bool Stop;
    bool Replaced;
  };
  const TOptionList flash = FlashOptions("44100");
  TOptionList unusableChain = flash;
  unusableChain.push_back({"vf", "nosuchfilter"});
  for (const TCase& c :
       {TCase{"failed", unusableChain, false, false}, TCase{"stopped", flash, true, true},
        TCase{"finished", flash, false, true}}) {
    SCOPED_TRACE(c.Name);
    const std::string folder = fixtures::TempDir(std::string("replace-") + c.Name);
    const std::string output = folder + "/keep.flv";
    std::ofstream(output, std::ios::binary) << earlier;
    auto task = MakeTask({fixtures::Path(Media::Mp4H264Aac)}, output, c.Options,
                         {{"re", c.Stop ? "1" : "0"}});
    TRunResult run;
    {
      TAsyncRun async(*task);
      if (c.Stop) {
        async.WaitForFrames(15);
        // Meanwhile, as after a killed run, the earlier file is still whole.
        EXPECT_EQ(fixtures::ReadFile(output), earlier);
        task->Abort(true);
      }
      run = async.Wait();
    }
    EXPECT_EQ(run.Exception, !c.Replaced) << run.Message;
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"keep.flv"});
    if (!c.Replaced) {
      EXPECT_EQ(fixtures::ReadFile(output), earlier);
      continue;
    }
    const ProbeResult probe = ProbeMedia(output);
    ASSERT_TRUE(probe.ok) << probe.error;
    const int64_t frames = probe.FirstOfType("video")->nb_read_frames;
    EXPECT_TRUE(c.Stop ? frames >= 15 && frames < 75 : frames == 75) << frames;
  }
}

TEST_F(ConvertTest, AConversionIntoAPipeIsWrittenThrough) {
  const std::string pipe = Output("pipe.flv");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] {
    std::ifstream in(pipe, std::ios::binary);
    received.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  });
  auto task = MakeTask({fixtures::Path(Media::Mp4H264Aac)}, pipe, FlashOptions("44100"));
  const TRunResult run = RunTask(*task);
  task.reset();
  reader.join();
  ASSERT_TRUE(run.Finished) << run.Message;
  EXPECT_TRUE(std::filesystem::is_fifo(pipe));
  EXPECT_EQ(FilesIn(Folder), std::vector<std::string>{"pipe.flv"});
  const std::string copy = Output("received.flv");
  std::ofstream(copy, std::ios::binary) << received;
  const ProbeResult probe = ProbeMedia(copy);
  ASSERT_TRUE(probe.ok) << probe.error;
  EXPECT_EQ(probe.FirstOfType("video")->nb_read_frames, 75);
}

}  // namespace
