#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "FFLoad.h"
#include "FFLog.h"
#include "FFUtils.h"
#include "FilterChainTranslator.h"
#include "MediaFixtures.h"
#include "vf_eq.h"
#include "vf_hue.h"
#include "vf_rotate.h"

namespace {

struct TFrameFree {
  void operator()(AVFrame* frame) const { ff::av_frame_free(&frame); }
};
using TFramePtr = std::unique_ptr<AVFrame, TFrameFree>;

struct TGraphFree {
  void operator()(AVFilterGraph* graph) const { ff::avfilter_graph_free(&graph); }
};

TFramePtr MakeFrame(int width, int height, AVPixelFormat format) {
  TFramePtr frame(ff::av_frame_alloc());
  frame->width = width;
  frame->height = height;
  frame->format = format;
  if (ff::av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
  return frame;
}

TFramePtr CloneFrame(const AVFrame* source) {
  TFramePtr copy = MakeFrame(source->width, source->height, AVPixelFormat(source->format));
  ff::av_frame_copy(copy.get(), source);
  return copy;
}

// The size of a plane of a frame: chroma planes are rounded up, as libavfilter keeps them.
int PlaneWidth(const AVFrame* frame, int plane) {
  const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(AVPixelFormat(frame->format));
  return plane == 0 ? frame->width : AV_CEIL_RSHIFT(frame->width, desc->log2_chroma_w);
}
int PlaneHeight(const AVFrame* frame, int plane) {
  const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(AVPixelFormat(frame->format));
  return plane == 0 ? frame->height : AV_CEIL_RSHIFT(frame->height, desc->log2_chroma_h);
}

uint8_t& Sample(AVFrame* frame, int plane, int x, int y) {
  return frame->data[plane][y * frame->linesize[plane] + x];
}

// Fills each plane through a function of the plane and the position.
template <typename F>
void FillFrame(AVFrame* frame, F value) {
  for (int plane = 0; plane < 3; ++plane)
    for (int y = 0; y < PlaneHeight(frame, plane); ++y)
      for (int x = 0; x < PlaneWidth(frame, plane); ++x)
        Sample(frame, plane, x, y) = value(plane, x, y);
}

// The first difference of two frames, plane by plane, as text; empty when they are equal.
std::string FrameDifference(AVFrame* expected, AVFrame* actual) {
  if (expected->width != actual->width || expected->height != actual->height ||
      expected->format != actual->format)
    return "frame size or format differs";
  for (int plane = 0; plane < 3; ++plane)
    for (int y = 0; y < PlaneHeight(expected, plane); ++y)
      for (int x = 0; x < PlaneWidth(expected, plane); ++x)
        if (Sample(expected, plane, x, y) != Sample(actual, plane, x, y))
          return "plane " + std::to_string(plane) + " at " + std::to_string(x) + "," +
                 std::to_string(y) + ": expected " + std::to_string(Sample(expected, plane, x, y)) +
                 ", got " + std::to_string(Sample(actual, plane, x, y));
  return "";
}

void EqualizeFrame(AVFrame* frame, int brightness, int contrast) {
  VideoEqualizeLuma(frame->data[0], frame->linesize[0], frame->width, contrast, brightness,
                    frame->height);
}

void RotateHueOfFrame(AVFrame* frame, int hue, int saturation) {
  ASSERT_EQ(frame->linesize[1], frame->linesize[2]);
  VideoRotateHueSat(frame->data[1], frame->data[2], frame->linesize[1], saturation, hue,
                    PlaneHeight(frame, 1), PlaneWidth(frame, 1));
}

class NativeFiltersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadEngineLibraries();
    RegisterEqFilter();
    RegisterHueFilter();
    RegisterRotateFilter();
  }

  // Runs one frame through buffer -> chain -> buffersink. 0 or the first failing code.
  int FilterFrame(const std::string& chain, const AVFrame* input, TFramePtr& output) {
    std::unique_ptr<AVFilterGraph, TGraphFree> graph(ff::avfilter_graph_alloc());
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    const std::string args =
        "video_size=" + std::to_string(input->width) + "x" + std::to_string(input->height) +
        ":pix_fmt=" + std::to_string(input->format) + ":time_base=1/25:pixel_aspect=1/1";
    int ret = ff::avfilter_graph_create_filter(&source, ff::avfilter_get_by_name("buffer"), "src",
                                               args.c_str(), nullptr, graph.get());
    if (ret >= 0)
      ret = ff::avfilter_graph_create_filter(&sink, ff::avfilter_get_by_name("buffersink"), "out",
                                             nullptr, nullptr, graph.get());
    if (ret < 0) return ret;
    AVFilterInOut* outputs = ff::avfilter_inout_alloc();
    AVFilterInOut* inputs = ff::avfilter_inout_alloc();
    outputs->name = ff::av_strdup("in");
    outputs->filter_ctx = source;
    inputs->name = ff::av_strdup("out");
    inputs->filter_ctx = sink;
    ret = ParseFilterChain(graph.get(), chain, &inputs, &outputs);
    ff::avfilter_inout_free(&inputs);
    ff::avfilter_inout_free(&outputs);
    if (ret >= 0) ret = ff::avfilter_graph_config(graph.get(), nullptr);
    if (ret >= 0) {
      TFramePtr pushed(ff::av_frame_clone(input));
      ret = ff::av_buffersrc_add_frame_flags(source, pushed.get(), 0);
    }
    output.reset(ff::av_frame_alloc());
    if (ret >= 0) ret = ff::av_buffersink_get_frame(sink, output.get());
    return ret;
  }

  // The filter's output for one frame; fails the test when the graph fails.
  TFramePtr Filtered(const std::string& chain, const AVFrame* input) {
    TFramePtr output;
    const int ret = FilterFrame(chain, input, output);
    EXPECT_GE(ret, 0) << chain << ": " << AVErrorText("graph", ret);
    return ret >= 0 ? std::move(output) : nullptr;
  }

  std::string Translated(const std::string& text) {
    std::string translated;
    EXPECT_EQ(TranslateFilterChain(nullptr, text, translated), 0) << text;
    return translated;
  }

  TLogRecorder FLog{llInfo};
};

// Every luma value in every row, chroma in a pattern of its own.
TFramePtr LumaRamp(int width, int height, AVPixelFormat format) {
  TFramePtr frame = MakeFrame(width, height, format);
  FillFrame(frame.get(), [](int plane, int x, int y) {
    return uint8_t(plane == 0 ? x + 97 * y : 3 * x + 5 * y + 60 * plane);
  });
  return frame;
}

// Every pair of chroma values, and an odd size whose last column and row start the grid again.
TFramePtr ChromaGrid() {
  TFramePtr frame = MakeFrame(513, 513, AV_PIX_FMT_YUV420P);
  FillFrame(frame.get(), [](int plane, int x, int y) {
    return uint8_t(plane == 0 ? x ^ y : plane == 1 ? x : y);
  });
  return frame;
}

}  // namespace

TEST(VideoEqualizeLuma, NeutralSettingsLeaveEveryByteAlone) {
  std::vector<uint8_t> bytes(256);
  for (int n = 0; n < 256; ++n) bytes[n] = uint8_t(n);
  const std::vector<uint8_t> original = bytes;
  VideoEqualizeLuma(bytes.data(), 16, 16, 0, 0, 16);
  EXPECT_EQ(bytes, original);
}

TEST(VideoEqualizeLuma, ScalesAroundMidGreyAndOffsetsInFixedPoint) {
  // Brightness 20, contrast 30: factor 85196/65536, offset 306 - 128 - 166 = 12;
  // 100 x 85196 / 65536 = 129.99, cut to 129.
  uint8_t bytes[] = {0, 100, 255};
  VideoEqualizeLuma(bytes, 3, 3, 30, 20, 1);
  EXPECT_EQ(bytes[0], 12);
  EXPECT_EQ(bytes[1], 141);
  EXPECT_EQ(bytes[2], 255);
  // Contrast -100 flattens the picture to the offset alone.
  std::vector<uint8_t> flat = {0, 17, 128, 200, 255};
  VideoEqualizeLuma(flat.data(), 5, 5, -100, 0, 1);
  EXPECT_EQ(flat, std::vector<uint8_t>(5, 127));
}

TEST(VideoEqualizeLuma, TouchesOnlyTheGivenRowsAndColumns) {
  std::vector<uint8_t> bytes(4 * 3, 50);
  VideoEqualizeLuma(bytes.data(), 4, 3, 0, 100, 2);
  const std::vector<uint8_t> expected = {255, 255, 255, 50, 255, 255, 255, 50, 50, 50, 50, 50};
  EXPECT_EQ(bytes, expected);
}

TEST(VideoRotateHueSat, NeutralKeepsAndNoSaturationGreysOut) {
  std::vector<uint8_t> u = {0, 60, 128, 255}, v = {255, 7, 128, 0};
  const auto u0 = u, v0 = v;
  VideoRotateHueSat(u.data(), v.data(), 4, 0, 0, 1, 4);
  EXPECT_EQ(u, u0);
  EXPECT_EQ(v, v0);
  VideoRotateHueSat(u.data(), v.data(), 4, -100, 37, 1, 4);
  EXPECT_EQ(u, std::vector<uint8_t>(4, 128));
  EXPECT_EQ(v, std::vector<uint8_t>(4, 128));
}

TEST(VideoRotateHueSat, HalfTurnMirrorsChromaThroughGreyWithClamping) {
  std::vector<uint8_t> u = {200, 0, 128}, v = {28, 128, 255};
  VideoRotateHueSat(u.data(), v.data(), 3, 0, 100, 1, 3);
  EXPECT_EQ(u, (std::vector<uint8_t>{56, 255, 128}));
  EXPECT_EQ(v, (std::vector<uint8_t>{228, 128, 1}));
}

TEST_F(NativeFiltersTest, EqualizerMatchesTheRoutineOnEveryLumaValue) {
  const TFramePtr input = LumaRamp(257, 5, AV_PIX_FMT_YUV420P);
  const int pairs[][2] = {{20, 30}, {-30, 45}, {100, -100}, {-100, 100},
                          {7, -13}, {0, 20},   {-1, 0}};
  for (const auto& [brightness, contrast] : pairs) {
    const std::string chain =
        "nativeeq=" + std::to_string(brightness) + ":" + std::to_string(contrast);
    const TFramePtr output = Filtered(chain, input.get());
    ASSERT_TRUE(output);
    const TFramePtr expected = CloneFrame(input.get());
    EqualizeFrame(expected.get(), brightness, contrast);
    EXPECT_EQ(FrameDifference(expected.get(), output.get()), "") << chain;
  }
}

TEST_F(NativeFiltersTest, HueMatchesTheRoutineOnEveryChromaPairUpToTheLastOddColumnAndRow) {
  const TFramePtr input = ChromaGrid();
  const int pairs[][2] = {{0, 40},     {50, 0},  {-37, 20}, {100, 100},
                          {-100, -50}, {13, 77}, {1, -1},   {0, -100}};
  for (const auto& [hue, saturation] : pairs) {
    const std::string chain = "nativehue=" + std::to_string(hue) + ":" + std::to_string(saturation);
    const TFramePtr output = Filtered(chain, input.get());
    ASSERT_TRUE(output);
    const TFramePtr expected = CloneFrame(input.get());
    RotateHueOfFrame(expected.get(), hue, saturation);
    EXPECT_EQ(FrameDifference(expected.get(), output.get()), "") << chain;
  }
  // The grid's last column and row are really reached: they are not left as they came in.
  const TFramePtr output = Filtered("nativehue=0:-100", input.get());
  ASSERT_TRUE(output);
  EXPECT_EQ(Sample(output.get(), 1, 256, 100), 128);
  EXPECT_EQ(Sample(output.get(), 2, 100, 256), 128);
}

TEST_F(NativeFiltersTest, EveryPlanarYuvFormatMatchesTheRoutines) {
  // The library's hue filter takes no full-range formats: those are converted to their
  // video-range counterpart first, and the routine's result is that of the converted picture.
  const std::pair<AVPixelFormat, AVPixelFormat> formats[] = {
      {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P},  {AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV422P},
      {AV_PIX_FMT_YUV444P, AV_PIX_FMT_YUV444P},  {AV_PIX_FMT_YUV410P, AV_PIX_FMT_YUV410P},
      {AV_PIX_FMT_YUV411P, AV_PIX_FMT_YUV411P},  {AV_PIX_FMT_YUV440P, AV_PIX_FMT_YUV440P},
      {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV420P}, {AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUV422P},
      {AV_PIX_FMT_YUVJ444P, AV_PIX_FMT_YUV444P}, {AV_PIX_FMT_YUVJ440P, AV_PIX_FMT_YUV440P}};
  for (const auto& [format, hueFormat] : formats) {
    const char* name = ff::av_get_pix_fmt_name(format);
    const TFramePtr input = LumaRamp(37, 23, format);
    const TFramePtr equalized = Filtered("nativeeq=-20:35", input.get());
    ASSERT_TRUE(equalized) << name;
    TFramePtr expected = CloneFrame(input.get());
    EqualizeFrame(expected.get(), -20, 35);
    EXPECT_EQ(FrameDifference(expected.get(), equalized.get()), "") << name;

    const TFramePtr rotated = Filtered("nativehue=40:-30", input.get());
    ASSERT_TRUE(rotated) << name;
    expected = Filtered(std::string("format=") + ff::av_get_pix_fmt_name(hueFormat), input.get());
    ASSERT_TRUE(expected) << name;
    RotateHueOfFrame(expected.get(), 40, -30);
    EXPECT_EQ(FrameDifference(expected.get(), rotated.get()), "") << name;
  }
}

TEST_F(NativeFiltersTest, OtherFormatsAreConvertedToPlanarYuvFirst) {
  TFramePtr input = MakeFrame(32, 16, AV_PIX_FMT_RGB24);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 96; ++x) input->data[0][y * input->linesize[0] + x] = uint8_t(x * 2);
  const TFramePtr output = Filtered("nativeeq=10:10", input.get());
  ASSERT_TRUE(output);
  const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(AVPixelFormat(output->format));
  EXPECT_TRUE(desc->flags & AV_PIX_FMT_FLAG_PLANAR) << desc->name;
  EXPECT_FALSE(desc->flags & AV_PIX_FMT_FLAG_RGB) << desc->name;
  EXPECT_EQ(desc->comp[0].depth, 8) << desc->name;
}

TEST_F(NativeFiltersTest, NeutralSettingsPassFramesThroughUntouched) {
  const TFramePtr input = ChromaGrid();
  for (const char* chain : {"nativeeq=0:0", "nativeeq", "nativehue=0:0", "nativeeq=:"}) {
    const TFramePtr output = Filtered(chain, input.get());
    ASSERT_TRUE(output) << chain;
    EXPECT_EQ(FrameDifference(input.get(), output.get()), "") << chain;
  }
}

TEST_F(NativeFiltersTest, OutOfRangeValuesAreClampedAndLogged) {
  FFLogger().SetLogLevel(llDebug);  // for the values the filters report
  const TFramePtr input = LumaRamp(257, 2, AV_PIX_FMT_YUV420P);
  const TFramePtr output = Filtered("nativeeq=150:0", input.get());
  ASSERT_TRUE(output);
  EXPECT_EQ(FLog.CountEndingWith(llError, "Invalid brightness value 150, force to 100"), 1);
  EXPECT_EQ(FLog.CountEndingWith(llDebug, "brightness:100, contrast:0"), 1);
  const TFramePtr expected = CloneFrame(input.get());
  EqualizeFrame(expected.get(), 100, 0);
  EXPECT_EQ(FrameDifference(expected.get(), output.get()), "");
  EXPECT_EQ(Sample(output.get(), 0, 0, 0), 255);  // full brightness: black becomes white

  ASSERT_TRUE(Filtered("nativeeq=0:-101,nativehue=-300:2147483647", input.get()));
  EXPECT_EQ(FLog.CountEndingWith(llError, "Invalid contrast value -101, force to -100"), 1);
  EXPECT_EQ(FLog.CountEndingWith(llError, "Invalid hue value -300, force to -100"), 1);
  EXPECT_EQ(FLog.CountEndingWith(llError, "Invalid saturation value 2147483647, force to 100"), 1);
  EXPECT_EQ(FLog.CountEndingWith(llDebug, "hue:-100, saturation:100"), 1);
}

TEST_F(NativeFiltersTest, UnreadableOrAddressArgumentsFailTheGraph) {
  const TFramePtr input = LumaRamp(16, 16, AV_PIX_FMT_YUV420P);
  const char* refused[] = {
      "nativeeq=abc:1", "nativehue=1:2x", "nativeeq=1:2:140737488355328:0", "nativehue=1:2:0:4096",
      "nativeeq=1:2:0:0:5", "nativeeq=99999999999:0", "rotate=45deg",
      // Values are given by position only, as the application writes them.
      "nativeeq=brightness=10", "nativehue=h=1:s=2", "rotate=angle=30", "rotate=a=PI/6"};
  for (const char* chain : refused) {
    TFramePtr output;
    EXPECT_EQ(FilterFrame(chain, input.get(), output), AVERROR(EINVAL)) << chain;
    const std::string arguments = std::string(chain).substr(std::string(chain).find('=') + 1);
    EXPECT_EQ(FLog.CountEndingWith(llError, "failed to parsing parameters: " + arguments), 1)
        << chain;
  }
  // Blanks around the pieces and empty or zero address pieces are fine.
  EXPECT_TRUE(Filtered("nativeeq= 10 : +20 :0:", input.get()));
  EXPECT_TRUE(Filtered("nativehue=5:5::0", input.get()));
}

TEST_F(NativeFiltersTest, RotateGrowsThePictureToHoldItWithBlackCorners) {
  const TFramePtr input = MakeFrame(320, 240, AV_PIX_FMT_YUV420P);
  FillFrame(input.get(), [](int plane, int, int) { return uint8_t(plane == 0 ? 200 : 90); });
  const TFramePtr output = Filtered("rotate", input.get());
  ASSERT_TRUE(output);
  EXPECT_EQ(output->width, 396);
  EXPECT_EQ(output->height, 396);
  EXPECT_EQ(output->format, AV_PIX_FMT_YUV420P);
  for (const auto& [x, y] : {std::pair{0, 0}, {395, 0}, {0, 395}, {395, 395}}) {
    EXPECT_EQ(Sample(output.get(), 0, x, y), 16);
    EXPECT_EQ(Sample(output.get(), 1, x / 2, y / 2), 128);
    EXPECT_EQ(Sample(output.get(), 2, x / 2, y / 2), 128);
  }
  // The picture itself fills its turned area, nothing blended: about 320 x 240 samples.
  int covered = 0;
  for (int y = 0; y < 396; ++y)
    for (int x = 0; x < 396; ++x) {
      const uint8_t value = Sample(output.get(), 0, x, y);
      ASSERT_TRUE(value == 16 || value == 200) << x << "," << y;
      covered += value == 200;
    }
  EXPECT_NEAR(covered, 320 * 240, 320 * 240 / 50);
  EXPECT_EQ(Sample(output.get(), 0, 198, 198), 200);
}

TEST_F(NativeFiltersTest, RotateTurnsClockwiseByWholeDegrees) {
  const TFramePtr input = LumaRamp(31, 17, AV_PIX_FMT_YUV444P);
  const TFramePtr right = Filtered("rotate=90", input.get());
  ASSERT_TRUE(right);
  ASSERT_EQ(right->width, 17);
  ASSERT_EQ(right->height, 31);
  // Clockwise: the input's first row becomes the output's last column.
  for (int plane = 0; plane < 3; ++plane)
    for (int y = 0; y < 31; ++y)
      for (int x = 0; x < 17; ++x)
        ASSERT_EQ(Sample(right.get(), plane, x, y), Sample(input.get(), plane, y, 16 - x))
            << plane << " " << x << "," << y;
  const TFramePtr same = Filtered("rotate=0", input.get());
  ASSERT_TRUE(same);
  EXPECT_EQ(FrameDifference(input.get(), same.get()), "");
  const TFramePtr slanted = Filtered("rotate = -30 ", input.get());
  ASSERT_TRUE(slanted);
  EXPECT_EQ(slanted->width, 35);   // 31 cos 30 + 17 sin 30 = 35.35
  EXPECT_EQ(slanted->height, 30);  // 17 cos 30 + 31 sin 30 = 30.22
}

TEST_F(NativeFiltersTest, TranslatorRewritesOnlyOurFiltersAndKeepsTheRestByteForByte) {
  const std::string foreign =
      "sws_flags=bicubic;[in] scale=w=320:h=240 [a]; "
      "[a]split[b][c];[b]drawtext=text='nativeeq=1\\:2'"
      ",null [d];[c][d]overlay";
  EXPECT_EQ(Translated(foreign), foreign);
  // Scaler flags count only at the very start: after a blank they are a filter's name.
  EXPECT_EQ(Translated(" sws_flags=bicubic;null"), " sws_flags=bicubic;null");
  EXPECT_NE(Translated(" sws_flags=a,nativeeq=1:2;null").find("lutyuv"), std::string::npos);
  EXPECT_EQ(Translated("sws_flags=a,nativeeq=1:2;null"), "sws_flags=a,nativeeq=1:2;null");
  // Each of ours becomes the format guard plus its built-in filter, labels and the text around
  // it untouched, the instance name carried over.
  EXPECT_EQ(Translated("[in]scale=64:48, nativeeq@bright='10:20' [out]"),
            "[in]scale=64:48, format='yuv420p|yuv422p|yuv444p|yuv410p|yuv411p|yuv440p|yuvj420p|"
            "yuvj422p|yuvj444p|yuvj440p',lutyuv@bright='y=clip(floor(val*78643/65536)+(0),0,255)"
            ":u=val:v=val'[out]");
  const std::string escaped = Translated("null;n\\ativeeq=1:2;'nativehue'=3:4");
  EXPECT_EQ(escaped.find("nativeeq"), std::string::npos) << escaped;
  EXPECT_EQ(escaped.find("nativehue"), std::string::npos) << escaped;
  EXPECT_NE(escaped.find("lutyuv"), std::string::npos) << escaped;
  EXPECT_NE(escaped.find(",hue="), std::string::npos) << escaped;
}

TEST_F(NativeFiltersTest, TranslatedChainsWithLabelsAndInstancesBuildRealGraphs) {
  const TFramePtr input = LumaRamp(41, 29, AV_PIX_FMT_YUV420P);
  const TFramePtr output = Filtered(
      "split [a][b]; [a] nativeeq@one=30:-20 [c]; [b]nullsink; [c]nativehue@two=10:10,rotate=0",
      input.get());
  ASSERT_TRUE(output);
  const TFramePtr expected = CloneFrame(input.get());
  EqualizeFrame(expected.get(), 30, -20);
  RotateHueOfFrame(expected.get(), 10, 10);
  EXPECT_EQ(FrameDifference(expected.get(), output.get()), "");
  // An instance name with graph syntax in it stays one name.
  EXPECT_NE(Translated("nativehue@a\\,b=10:10").find(",hue@a\\,b='"), std::string::npos);
  const TFramePtr named = Filtered("nativehue@a\\,b=10:10 , nativeeq@'x;y'=30:-20", input.get());
  ASSERT_TRUE(named);
  EXPECT_EQ(FrameDifference(expected.get(), named.get()), "");
}

TEST_F(NativeFiltersTest, SyntaxErrorsAreLeftToTheLibrary) {
  const TFramePtr input = LumaRamp(16, 16, AV_PIX_FMT_YUV420P);
  TFramePtr output;
  EXPECT_EQ(Translated("[in nativeeq=1:2"), "[in nativeeq=1:2");
  EXPECT_LT(FilterFrame("[in nativeeq=1:2", input.get(), output), 0);
}

TEST(FilterChainTranslator, UnregisteredNamesReachTheLibraryAsWritten) {
  if (FilterRegistered("nativehue"))
    GTEST_SKIP() << "registered by an earlier test in this process";
  ASSERT_NO_FATAL_FAILURE(LoadEngineLibraries());
  std::string translated;
  ASSERT_EQ(TranslateFilterChain(nullptr, "nativehue=1:2,hue=s=0", translated), 0);
  EXPECT_EQ(translated, "nativehue=1:2,hue=s=0");
}

TEST_F(NativeFiltersTest, TranslatedChainsReadBlanksAndSeparatorsAsTheLibraryDoes) {
  const TFramePtr input = LumaRamp(41, 29, AV_PIX_FMT_YUV420P);
  const TFramePtr expected = CloneFrame(input.get());
  EqualizeFrame(expected.get(), 12, -7);
  RotateHueOfFrame(expected.get(), 20, 30);
  for (const char* chain : {"\tnativeeq\n=\n12:-7\t,\r\nnativehue = 20 : 30\n",
                            "sws_flags=bilinear; nativeeq='12:-7' , nativehue=20\\:30",
                            "nativeeq=12:-7 [x]; [x] nativehue=20:30",
                            "[in]nativeeq=12:-7,null[y];[y]nativehue=20:30[out]"}) {
    const TFramePtr output = Filtered(chain, input.get());
    ASSERT_TRUE(output) << chain;
    EXPECT_EQ(FrameDifference(expected.get(), output.get()), "") << chain;
  }
}

TEST_F(NativeFiltersTest, NamesThatOnlyBeginLikeOursAreTheLibrarysBusiness) {
  const TFramePtr input = LumaRamp(16, 16, AV_PIX_FMT_YUV420P);
  for (const char* chain : {"rotatex", "nativeeqx=1:2", "nativehue_=1:2", "xrotate=90"}) {
    EXPECT_EQ(Translated(chain), chain);
    TFramePtr output;
    EXPECT_EQ(FilterFrame(chain, input.get(), output), AVERROR(EINVAL)) << chain;
    EXPECT_EQ(FLog.CountEndingWith(llError, "failed to parsing parameters: 1:2"), 0) << chain;
  }
}

TEST_F(NativeFiltersTest, BlankChainPassesPicturesThrough) {
  const TFramePtr input = LumaRamp(16, 16, AV_PIX_FMT_YUV420P);
  for (const char* chain : {"", "  ", "\t\r\n"}) {
    const TFramePtr output = Filtered(chain, input.get());
    ASSERT_TRUE(output) << "[" << chain << "]";
    EXPECT_EQ(FrameDifference(input.get(), output.get()), "");
  }
}
