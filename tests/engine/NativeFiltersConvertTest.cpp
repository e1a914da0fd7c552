// Our own filters and the hook libraries inside whole conversions. Outputs are raw pictures, so
// that they can be compared bit for bit with the pixel routines applied to the input's decoded
// pictures; the ffmpeg command line decodes both sides.
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "FFEncodeTestSupport.h"
#include "FFmpegConvertTestSupport.h"
#include "vf_eq.h"
#include "vf_hue.h"
#include "vf_rotate.h"

namespace {

using fixtures::Media;

const std::string Brighten = FENNICK_HOOK_DIR "/brighten_hook.so";
const std::string NoProcess = FENNICK_HOOK_DIR "/no_process_hook.so";

// The YUV 4:2:0 pictures of a video stream, one after another, as the planes lie in the raw
// dump: Y (Width x Height), then U and V (half size each way).
struct TRawVideo {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Bytes;

  size_t FrameSize() const { return size_t(Width) * size_t(Height) * 3 / 2; }
  size_t Frames() const { return Bytes.size() / FrameSize(); }
  uint8_t* Luma(size_t frame) { return Bytes.data() + frame * FrameSize(); }
  uint8_t* ChromaU(size_t frame) { return Luma(frame) + size_t(Width) * size_t(Height); }
  uint8_t* ChromaV(size_t frame) { return ChromaU(frame) + size_t(Width / 2) * size_t(Height / 2); }

  // Changes every picture in place.
  void ForEachFrame(const std::function<void(TRawVideo&, size_t)>& change) {
    for (size_t frame = 0; frame < Frames(); ++frame) change(*this, frame);
  }
};

// The first sample where two dumps differ, as text; empty when they are equal.
std::string FirstDifference(const TRawVideo& expected, const TRawVideo& actual) {
  if (expected.Width != actual.Width || expected.Height != actual.Height)
    return "picture size differs";
  if (expected.Bytes.size() != actual.Bytes.size())
    return "picture count differs: " + std::to_string(expected.Frames()) + " expected, " +
           std::to_string(actual.Frames()) + " written";
  for (size_t at = 0; at < expected.Bytes.size(); ++at)
    if (expected.Bytes[at] != actual.Bytes[at])
      return "picture " + std::to_string(at / expected.FrameSize()) + ", byte " +
             std::to_string(at % expected.FrameSize()) + ": expected " +
             std::to_string(expected.Bytes[at]) + ", got " + std::to_string(actual.Bytes[at]);
  return "";
}

void Equalize(TRawVideo& video, size_t frame, int brightness, int contrast) {
  VideoEqualizeLuma(video.Luma(frame), video.Width, video.Width, contrast, brightness,
                    video.Height);
}

void RotateHue(TRawVideo& video, size_t frame, int hue, int saturation) {
  VideoRotateHueSat(video.ChromaU(frame), video.ChromaV(frame), video.Width / 2, saturation, hue,
                    video.Height / 2, video.Width / 2);
}

class NativeFiltersConvertTest : public ConvertTest {
 protected:
  void SetUp() override {
    ConvertTest::SetUp();
    RegisterEqFilter();
    RegisterHueFilter();
  }

  // The first video stream decoded by the ffmpeg command line, every picture kept as it comes.
  TRawVideo Decode(const std::string& path) const {
    TRawVideo video;
    const ProbeResult probe = ProbeMedia(path, false);
    const ProbeStream* stream = probe.FirstOfType("video");
    if (!stream) {
      ADD_FAILURE() << path << ": no video stream";
      return video;
    }
    video.Width = stream->width;
    video.Height = stream->height;
    const std::string raw = Folder + "/decoded.yuv";
    std::string log;
    if (fixtures::Run("ffmpeg -nostdin -v error -y -i " + fixtures::ShellQuote(path) +
                          " -map 0:v:0 -fps_mode passthrough -f rawvideo -pix_fmt yuv420p " +
                          fixtures::ShellQuote(raw),
                      &log) != 0) {
      ADD_FAILURE() << log;
      return video;
    }
    std::ifstream file(raw, std::ios::binary);
    video.Bytes.assign(std::istreambuf_iterator<char>(file), {});
    EXPECT_EQ(video.Bytes.size() % video.FrameSize(), 0u) << path;
    return video;
  }

  // Converts the input into raw YUV 4:2:0 pictures in NUT through a task, without sound.
  TRunResult ConvertToRaw(const std::string& input, const std::string& output,
                          const std::string& chain) {
    auto task =
        MakeTask({input}, output,
                 {{"vcodec", "rawvideo"}, {"pix_fmt", "yuv420p"}, {"an", "1"}, {"vf", chain}});
    return RunTask(*task);
  }

  static std::string PixelFormat(const std::string& path) {
    const ProbeResult probe = ProbeMedia(path, false);
    const ProbeStream* video = probe.FirstOfType("video");
    return video && video->fields.count("pix_fmt") ? video->fields.at("pix_fmt") : "";
  }
};

}  // namespace

TEST_F(NativeFiltersConvertTest, EqualizerAndHueInAConversionGiveTheRoutinesPixelsBitForBit) {
  const std::string input = fixtures::Path(Media::Mp4H264Aac);
  const TRawVideo source = Decode(input);
  ASSERT_EQ(source.Frames(), 75u);

  struct TCase {
    const char* Name;
    const char* Chain;
    std::function<void(TRawVideo&, size_t)> Routines;
  };
  const std::vector<TCase> cases = {
      {"eq", "nativeeq=25:-40", [](TRawVideo& v, size_t f) { Equalize(v, f, 25, -40); }},
      {"hue", "nativehue=35:-50", [](TRawVideo& v, size_t f) { RotateHue(v, f, 35, -50); }},
      {"both", "nativeeq=-30:60,nativehue=-80:70",
       [](TRawVideo& v, size_t f) {
         Equalize(v, f, -30, 60);
         RotateHue(v, f, -80, 70);
       }},
  };
  for (const TCase& c : cases) {
    const std::string output = Output(std::string(c.Name) + ".nut");
    const TRunResult run = ConvertToRaw(input, output, c.Chain);
    ASSERT_TRUE(run.Finished) << c.Name << ": " << run.Message;
    EXPECT_EQ(PixelFormat(output), "yuv420p") << c.Name;
    TRawVideo expected = source;
    expected.ForEachFrame(c.Routines);
    ASSERT_NE(FirstDifference(expected, source), "") << c.Name << ": the routines changed nothing";
    EXPECT_EQ(FirstDifference(expected, Decode(output)), "") << c.Name;
  }
}

TEST_F(NativeFiltersConvertTest, RotateTurnsA320x240ConversionInto396x396WithBlackCorners) {
  const std::string output = Output("rotated.nut");
  const TRunResult run = ConvertToRaw(fixtures::Path(Media::VideoOnly), output, "rotate");
  ASSERT_TRUE(run.Finished) << run.Message;
  const ProbeResult probe = ProbeMedia(output);
  const ProbeStream* video = probe.FirstOfType("video");
  ASSERT_TRUE(video);
  EXPECT_EQ(video->width, 396);
  EXPECT_EQ(video->height, 396);
  EXPECT_EQ(video->nb_read_frames, 75);

  TRawVideo rotated = Decode(output);
  ASSERT_EQ(rotated.Frames(), 75u);
  for (const auto& [x, y] : {std::pair{0, 0}, {395, 0}, {0, 395}, {395, 395}}) {
    EXPECT_EQ(rotated.Luma(0)[y * 396 + x], 16) << x << "," << y;
    EXPECT_EQ(rotated.ChromaU(0)[y / 2 * 198 + x / 2], 128) << x << "," << y;
    EXPECT_EQ(rotated.ChromaV(0)[y / 2 * 198 + x / 2], 128) << x << "," << y;
  }
}

class HookLibraryConvertTest : public NativeFiltersConvertTest {
 protected:
  void SetUp() override {
    NativeFiltersConvertTest::SetUp();
    SetMainThread();
  }

  // The application's way: an encoder task with raw pictures out and the option text given.
  static TOutputOptions RawOutput(const std::string& optionText) {
    TOutputOptions out;
    InitOutputOptions(out);
    out.VideoCodec = "rawvideo";
    out.DisableAudio = 1;
    out.DisableSubtitle = 1;
    out.ExtOptions = "pix_fmt=yuv420p\r\n" + optionText;
    return out;
  }
};

TEST_F(HookLibraryConvertTest, HookGivenWithVhookChangesEveryPictureOfTheConversion) {
  const std::string input = fixtures::Path(Media::Mp4H264Aac);
  const std::string output = Output("hooked.nut");
  TFFEncoder encoder;
  TNoticeRecorder notices(encoder);
  const int task = encoder.AddTask(input);
  ASSERT_EQ(task, 0) << encoder.LastErrMsg;
  const TOutputOptions out = RawOutput("vhook=" + Brighten + "|40");
  ASSERT_TRUE(encoder.SetOutputFile(task, output, &out)) << encoder.LastErrMsg;
  encoder.StartTask(1);
  ASSERT_TRUE(notices.WaitForAllEnded());
  ASSERT_EQ(notices.Indexes(), (std::vector<int>{0, -1}));
  const TTerminateInfo end = notices.Notices()[0].Info;
  ASSERT_TRUE(end.Finished && !end.Exception) << end.ExceptionMsg;

  TRawVideo expected = Decode(input);
  ASSERT_EQ(expected.Frames(), 75u);
  expected.ForEachFrame([](TRawVideo& video, size_t frame) {
    uint8_t* luma = video.Luma(frame);
    for (int at = 0; at < video.Width * video.Height; ++at)
      luma[at] = uint8_t(std::min(luma[at] + 40, 255));
  });
  EXPECT_EQ(FirstDifference(expected, Decode(output)), "");
}

TEST_F(HookLibraryConvertTest, LibraryWithoutProcessFailsTheOptionAndLeavesNoOutput) {
  const std::string output = Output("refused.nut");
  TFFEncoder encoder;
  TNoticeRecorder notices(encoder);
  const int task = encoder.AddTask(fixtures::Path(Media::Mp4H264Aac));
  ASSERT_EQ(task, 0) << encoder.LastErrMsg;
  const TOutputOptions refused = RawOutput("vhook=" + NoProcess + " ignored words");
  EXPECT_FALSE(encoder.SetOutputFile(task, output, &refused));
  EXPECT_EQ(encoder.LastErrMsg,
            "Failed to add video hook function: " + NoProcess + " ignored words");
  EXPECT_FALSE(std::filesystem::exists(output));

  // The refusal leaves nothing behind: the next output converts untouched by that hook.
  const TOutputOptions plain = RawOutput("");
  ASSERT_TRUE(encoder.SetOutputFile(task, output, &plain)) << encoder.LastErrMsg;
  encoder.StartTask(1);
  ASSERT_TRUE(notices.WaitForAllEnded());
  const TTerminateInfo end = notices.Notices()[0].Info;
  ASSERT_TRUE(end.Finished && !end.Exception) << end.ExceptionMsg;
  EXPECT_EQ(FirstDifference(Decode(fixtures::Path(Media::Mp4H264Aac)), Decode(output)), "");
}
