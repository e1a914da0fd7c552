// The edit window's picture pipeline without a window: the redraw worker's requests, and a
// stand-in player that hands frames over from its own thread as the real one does.
#include "U_Edit.h"

#include "DecodedFrames.h"
#include "FFEncode.h"
#include "FFLoad.h"
#include "MediaFixtures.h"
#include "MyUtils.h"
#include "vf_eq.h"
#include "vf_hue.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

// Counts renders; a closed gate holds the next render until it opens.
class TRenderProbe {
 public:
  void Render() {
    std::unique_lock Guard(FLock);
    FInRender = true;
    FChanged.notify_all();
    FChanged.wait(Guard, [&] { return FGateOpen; });
    FInRender = false;
    ++FRenders;
    FChanged.notify_all();
  }
  void CloseGate() {
    Set([&] { FGateOpen = false; });
  }
  void OpenGate() {
    Set([&] { FGateOpen = true; });
  }
  void WaitInRender() {
    WaitFor([&] { return FInRender; });
  }
  void WaitRenders(int Count) {
    WaitFor([&] { return FRenders >= Count; });
  }
  int Renders() {
    std::lock_guard Guard(FLock);
    return FRenders;
  }
  bool InRender() {
    std::lock_guard Guard(FLock);
    return FInRender;
  }

 private:
  template <class F>
  void Set(F Change) {
    std::lock_guard Guard(FLock);
    Change();
    FChanged.notify_all();
  }
  template <class F>
  void WaitFor(F Condition) {
    std::unique_lock Guard(FLock);
    FChanged.wait(Guard, Condition);
  }

  std::mutex FLock;
  std::condition_variable FChanged;
  bool FGateOpen = true;
  bool FInRender = false;
  int FRenders = 0;
};

TEST(EditPreviewWorker, ServesEveryRequestAndStopsForGood) {
  TRenderProbe Probe;
  TPreviewWorker Worker([&] { Probe.Render(); });
  Worker.Request();  // while paused: one render
  Probe.WaitRenders(1);

  Probe.CloseGate();
  Worker.Request();
  Probe.WaitInRender();
  Worker.Request();  // two requests during a render: one more render serves both
  Worker.Request();
  Probe.OpenGate();
  Probe.WaitRenders(3);

  Probe.CloseGate();
  Worker.Request();
  Probe.WaitInRender();
  std::thread Stopper([&] { Worker.Stop(); });
  Probe.OpenGate();
  Stopper.join();  // Stop waited for the render under way
  EXPECT_FALSE(Probe.InRender());
  const int Rendered = Probe.Renders();
  EXPECT_EQ(Rendered, 4);
  Worker.Request();
  Worker.Stop();
  EXPECT_EQ(Probe.Renders(), Rendered);
}

// ---------------------------------------------------------------------------------------

// Collects what the pipeline hands out, from whichever thread.
struct TPictureSink {
  std::mutex Lock;
  std::condition_variable Arrived;
  std::vector<TPreviewPicture> Inputs, Outputs;

  TPreviewPicture WaitOutput(size_t Count) {
    std::unique_lock Guard(Lock);
    Arrived.wait(Guard, [&] { return Outputs.size() >= Count; });
    return Outputs[Count - 1];
  }
  void Connect(TEditPreview& Preview) {
    Preview.OnInputPicture = [this](const TPreviewPicture& P) { Add(Inputs, P); };
    Preview.OnOutputPicture = [this](const TPreviewPicture& P) { Add(Outputs, P); };
  }
  void Add(std::vector<TPreviewPicture>& List, const TPreviewPicture& Picture) {
    std::lock_guard Guard(Lock);
    List.push_back(Picture);
    Arrived.notify_all();
  }
};

// A stand-in player: a grey frame whose left half is black, decoded into a buffer that it
// reuses and scribbles over once the hook has returned, handed over from its own thread.
struct TStandInPlayer {
  static constexpr int Width = 8, Height = 4, Stride = 16;
  uint8_t Y[Stride * Height], U[Stride * Height / 2], V[Stride * Height / 2];

  void Play(TEditPreview& Preview) {
    std::thread Decoder([&] {
      for (int Row = 0; Row < Height; ++Row)
        for (int X = 0; X < Stride; ++X) Y[Row * Stride + X] = X < Width / 2 ? 16 : 126;
      std::fill(std::begin(U), std::end(U), 128);
      std::fill(std::begin(V), std::end(V), 128);
      TAVPicture Picture{{Y, U, V, nullptr}, {Stride, Stride / 2, Stride / 2, 0}};
      Preview.FrameArrived(Picture, true, Width, Height, 40000);
      std::fill(std::begin(Y), std::end(Y), 0xEE);  // the player reuses its picture
    });
    Decoder.join();
  }
};

class EditPreviewTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
    ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
  }
  static void TearDownTestSuite() { FFLoader().Unload(AllLibraries); }
};

int Red(uint32_t Pixel) { return int(Pixel >> 16 & 0xff); }
int Green(uint32_t Pixel) { return int(Pixel >> 8 & 0xff); }
int Blue(uint32_t Pixel) { return int(Pixel & 0xff); }
int Gray(uint32_t Pixel) { return (Red(Pixel) * 11 + Green(Pixel) * 16 + Blue(Pixel) * 5) / 32; }
// Black is well below, grey well above.
bool IsDark(uint32_t Pixel) { return Gray(Pixel) < 60; }

TEST_F(EditPreviewTest, OutputPreviewCropsAndFlipsAndRedrawsWhilePaused) {
  TEditPreview Preview;
  TPictureSink Sink;
  Sink.Connect(Preview);
  TStandInPlayer Player;
  Player.Play(Preview);
  ASSERT_EQ(Sink.Inputs.size(), 1u);
  const TPreviewPicture Input = Sink.Inputs[0];
  ASSERT_EQ(Input.Width, 8);
  EXPECT_TRUE(IsDark(Input.Pixels[0]));
  EXPECT_FALSE(IsDark(Input.Pixels[7]));
  EXPECT_EQ(Sink.WaitOutput(1).Pixels, Input.Pixels);  // effects at 0: as decoded

  // Cropping the left three quarters and mirroring them puts the grey quarter on the left.
  Preview.SetLook({true, {0, 0, 6, 4}, 0, 0, 0, true, false});
  Preview.Redraw(false);
  const TPreviewPicture Cropped = Sink.WaitOutput(2);
  ASSERT_EQ(Cropped.Width, 6);
  ASSERT_EQ(Cropped.Height, 4);
  EXPECT_EQ(Cropped.Time, 40000);  // the frame's own time
  EXPECT_FALSE(IsDark(Cropped.Pixels[0]));
  EXPECT_TRUE(IsDark(Cropped.Pixels[5]));

  Preview.SetLook({false, {}, 10, 0, 0, false, false});  // from the saved copy, not the
  Preview.Redraw(false);                                 // player's scribbled buffer
  const TPreviewPicture Brighter = Sink.WaitOutput(3);
  EXPECT_GT(Gray(Brighter.Pixels[7]), Gray(Input.Pixels[7]));
  EXPECT_LT(Gray(Brighter.Pixels[7]), 0xEE);

  Preview.Close();
  Preview.Redraw(false);
  Player.Play(Preview);
  EXPECT_EQ(Sink.Inputs.size(), 1u);  // nothing after closing
  EXPECT_EQ(Sink.Outputs.size(), 3u);
}

TEST_F(EditPreviewTest, PlayingLeavesRedrawsToTheNextFrameAndOddSizesConvert) {
  TEditPreview Preview;
  TPictureSink Sink;
  Sink.Connect(Preview);
  // A red 5 x 3 frame, all colour taken out: the odd last chroma column and row too.
  uint8_t Y[5 * 3], U[3 * 2], V[3 * 2];
  std::fill(std::begin(Y), std::end(Y), 100);
  std::fill(std::begin(U), std::end(U), 128);
  std::fill(std::begin(V), std::end(V), 200);
  Preview.SetLook({false, {}, 0, 0, -100, false, false});
  Preview.FrameArrived({{Y, U, V, nullptr}, {5, 3, 3, 0}}, true, 5, 3, 0);
  Preview.FrameArrived({{Y, U, V, nullptr}, {5, 3, 3, 0}}, false, 5, 3, 0);  // not 4:2:0
  Preview.SetLook({});
  Preview.Redraw(true);  // playing: the next frame shows the change
  Preview.Close();
  ASSERT_EQ(Sink.Inputs.size(), 1u);
  ASSERT_EQ(Sink.Outputs.size(), 1u);
  const uint32_t InputCorner = Sink.Inputs[0].Pixels.at(14);
  const uint32_t OutputCorner = Sink.Outputs[0].Pixels.at(14);
  EXPECT_GT(Red(InputCorner), Blue(InputCorner) + 40);
  EXPECT_NEAR(Red(OutputCorner), Blue(OutputCorner), 6);
}

// What the output preview shows is what a conversion with the same crop, effects and flip
// writes: compared through one and the same colour conversion, so only the filters count.
TEST_F(EditPreviewTest, OutputPreviewMatchesTheConvertedPicture) {
  RegisterEqFilter();
  RegisterHueFilter();
  SetMainThread();
  const std::string Source = fixtures::Make("edit_match_320x240.mp4",
                                            "-f lavfi -i testsrc=size=320x240:rate=25:duration=1 "
                                            "-c:v libx264 -preset ultrafast -pix_fmt yuv420p");
  const std::string Output = fixtures::TempDir("edit_match") + "/converted.nut";
  const TEditLook Look{true, {64, 32, 288, 208}, 40, 20, -50, true, false};

  TFFEncoder Encoder;
  TOutputOptions Options;
  InitOutputOptions(Options);
  Options.VideoCodec = "rawvideo";
  Options.DisableAudio = 1;
  Options.VideoFilters = "crop=224:176:64:32,nativeeq=40:20,nativehue=0:-50,hflip";
  Options.ExtOptions = "pix_fmt=yuv420p";
  const int Task = Encoder.AddTask(Source);
  ASSERT_EQ(Task, 0) << Encoder.LastErrMsg;
  ASSERT_TRUE(Encoder.SetOutputFile(Task, Output, &Options)) << Encoder.LastErrMsg;
  Encoder.StartTask(0);

  TFormatConverter Converter;
  const auto Preview = RenderOutputPicture(DecodedFrame(Source, 320, 240), Look, Converter);
  const auto Converted = RenderInputPicture(DecodedFrame(Output, 224, 176), Converter);
  ASSERT_TRUE(Preview && Converted);
  ASSERT_EQ(Preview->Width, 224);
  ASSERT_EQ(Preview->Height, 176);
  ASSERT_EQ(Converted->Pixels.size(), Preview->Pixels.size());
  // Only the crop's edge columns may differ, where the colour conversion saw neighbours.
  size_t Far = 0;
  for (size_t At = 0; At < Preview->Pixels.size(); ++At) {
    const uint32_t A = Preview->Pixels[At], B = Converted->Pixels[At];
    const int Difference = std::max(
        {std::abs(Red(A) - Red(B)), std::abs(Green(A) - Green(B)), std::abs(Blue(A) - Blue(B))});
    Far += Difference > 4;
  }
  EXPECT_LE(Far, Preview->Pixels.size() / 100);
}

}  // namespace
