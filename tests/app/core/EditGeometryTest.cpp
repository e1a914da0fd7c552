// The edit window's maps between frame pixels and its previews, worked out by hand for a
// 360 x 220 preview: a 4:3 frame fills the height (bands left and right), a 16:9 frame the
// width (bands above and below).
#include "U_Edit.h"

#include <gtest/gtest.h>

// Rectangles read as (left, top, right, bottom) in failure messages.
static void PrintTo(const TIntRect& R, std::ostream* Out) {
  *Out << "(" << R.Left << ", " << R.Top << ", " << R.Right << ", " << R.Bottom << ")";
}

namespace {

const TIntRect Box{0, 0, 360, 220};
const TIntRect Frame43{0, 0, 640, 480};
const TIntRect Frame169{0, 0, 1280, 720};
const TIntRect None{};

TEST(EditGeometry, FitAspectRectCentresTheShapeRoundingHalvesToEven) {
  const struct {
    TIntRect Source, Bounds, Expected;
  } Cases[] = {
      {Frame43, Box, {33, 0, 327, 220}},  // d = round((360 - 640 / (480 / 220)) / 2)
      {Frame169, Box, {0, 9, 360, 211}},  // d = round((220 - 720 / (1280 / 360)) / 2) = round(8.75)
      {{0, 0, 100, 100}, {0, 0, 101, 100}, {0, 0, 101, 100}},  // d = 0.5 rounds to 0
      {{0, 0, 100, 100}, {0, 0, 103, 100}, {2, 0, 101, 100}},  // d = 1.5 rounds to 2
      {{0, 0, 720, 440}, Box, Box},                            // same shape
      {Frame43, {10, 20, 370, 240}, {43, 20, 337, 240}},       // bounds not at the origin
      {None, Box, Box},                                        // a source without video
      {Frame43, None, None},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(FitAspectRect(Case.Source, Case.Bounds), Case.Expected)
        << testing::PrintToString(Case.Source) << " in " << testing::PrintToString(Case.Bounds);
}

TEST(EditGeometry, PreviewAndSourceRectanglesMapBothWays) {
  const struct {
    TIntRect Frame, Preview, Source;
  } Cases[] = {
      // 640 / 360 x 360 / 294 x (63 - 33) = 65.3; 20 x 480 / 220 = 43.6
      {Frame43, {63, 20, 183, 120}, {65, 44, 327, 262}},
      {Frame43, {33, 0, 327, 220}, Frame43},  // the fitted picture is the whole frame
      {Frame169, {0, 9, 360, 211}, Frame169},
  };
  for (const auto& Case : Cases) {
    EXPECT_EQ(PreviewToSourceRect(Case.Frame, Box, Case.Preview, true), Case.Source);
    EXPECT_EQ(SourceToPreviewRect(Case.Frame, Box, Case.Source), Case.Preview);
  }
}

TEST(EditGeometry, PreviewToSourceKeepsInsideTheFrameAndNeverDividesByZero) {
  const struct {
    TIntRect Frame, Box, Preview;
    bool Clamp;
    TIntRect Expected;
  } Cases[] = {
      {Frame43, Box, Box, true, Frame43},  // over the bands: limited to the frame
      {Frame169, Box, {40, 30, 200, 150}, true, {142, 75, 711, 503}},
      {Frame43, Box, {63, 20, 183, 120}, false, {33, 0, 327, 220}},  // unclamped: the fit
      {None, Box, {10, 10, 50, 50}, true, None},                     // "0x0" source
      {Frame43, None, {10, 10, 50, 50}, true, Frame43},              // no preview area
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(PreviewToSourceRect(Case.Frame, Case.Box, Case.Preview, Case.Clamp), Case.Expected)
        << testing::PrintToString(Case.Preview);
  EXPECT_EQ(SourceToPreviewRect(None, Box, Frame43), Box);
  EXPECT_EQ(SourceToPreviewRect(Frame43, None, Frame43), None);
}

// The smallest area an editor may be dragged or typed to, in the frame's pixels: the
// editor's 18-pixel square on the drawn picture, whichever way the bands lie.
TEST(EditGeometry, SmallestSourceAreaIsTheEditorsSmallestSquareOnThePicture) {
  const struct {
    TIntRect Frame, Expected;
  } Cases[] = {
      {{0, 0, 320, 240}, {0, 0, 20, 20}},    // 18 x 320 / 294 = 19.6; 18 x 240 / 220 = 19.6
      {{0, 0, 321, 241}, {0, 0, 20, 20}},    // 18 x 321 / 294 = 19.7; 18 x 241 / 220 = 19.7
      {{0, 0, 1920, 1080}, {0, 0, 96, 96}},  // 18 x 1920 / 360 = 96; 18 x 1080 / 202 = 96.2
      {Frame43, {0, 0, 39, 39}},             // 18 x 640 / 294 = 39.2; 18 x 480 / 220 = 39.3
      {{0, 0, 2, 2}, {0, 0, 1, 1}},          // never less than a pixel
      {{0, 0, 10, 1000}, {0, 0, 10, 82}},    // never more than the frame
      {None, None},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(SmallestSourceArea(Case.Frame, Box, 18), Case.Expected)
        << testing::PrintToString(Case.Frame);
}

TEST(EditGeometry, ScaleFontSizeFollowsTheLargerShrink) {
  const struct {
    TIntRect Frame, Fit;
    int Expected;
  } Cases[] = {
      {Frame43, {33, 0, 327, 220}, 11},  // 24 / (480 / 220)
      {Frame169, {0, 9, 360, 211}, 7},   // 24 / (720 / 202)
      {Box, Box, 24},
      {None, Box, 24},
      {Frame43, None, 24},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(ScaleFontSize(Case.Frame, Case.Fit, 24), Case.Expected)
        << testing::PrintToString(Case.Frame);
}

TEST(EditGeometry, FrameRectOfReadsWidthByHeight) {
  const struct {
    const char* Text;
    TIntRect Expected;
  } Cases[] = {{"640x480", Frame43}, {" 1280 X 720 ", Frame169},
               {"0x0", None},        {"", None},
               {"640x", None},       {"-4x3", None}};
  for (const auto& Case : Cases)
    EXPECT_EQ(FrameRectOf(QString::fromLatin1(Case.Text)), Case.Expected) << Case.Text;
}

}  // namespace
