// Every picture the scaler writes or reads leaves it room for its vector stores and loads: a
// seeded table of short conversions at output sizes of any width and height, with crops,
// watermarks, the output hook and the preview picture, and the edit window's previews, all
// watched by a guard that sees writes made inside FFmpeg's own libraries.
#include "AppTestSupport.h"
#include "ConvertHere.h"
#include "EntryFixtures.h"
#include "FFBaseComponent.h"
#include "FFLoad.h"
#include "MediaFixtures.h"
#include "PictureGuard.h"
#include "U_Config.h"
#include "U_Edit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int SourceWidth = 176;
constexpr int SourceHeight = 144;

std::string SourceClip() {
  return fixtures::Make("scaler-source-176x144.mp4",
                        "-f lavfi -i testsrc=size=176x144:rate=25:duration=0.4"
                        " -f lavfi -i sine=duration=0.4 -c:v libx264 -pix_fmt yuv420p -c:a aac");
}

std::string MarkPicture() {
  return fixtures::Make("scaler-mark-37x23.png", "-f lavfi -i color=c=red:s=37x23 -frames:v 1");
}

enum TMark { mkNone, mkPicture, mkText };

struct TShapeCase {
  int Width = 0, Height = 0;
  std::optional<TIntRect> Crop;
  TMark Mark = mkNone;
  TIntRect MarkRect;
};

std::string Name(const TShapeCase& Case);

void PrintTo(const TShapeCase& Case, std::ostream* Out) { *Out << Name(Case); }

std::string Name(const TShapeCase& Case) {
  static const char* const Marks[] = {"", "_picture", "_text"};
  return std::to_string(Case.Width) + "x" + std::to_string(Case.Height) +
         (Case.Crop ? "_cropped" : "") + Marks[Case.Mark];
}

// The shapes seen to fail first, then random ones: any width but whole blocks of 16, any height.
std::vector<TShapeCase> ShapeCases() {
  std::vector<TShapeCase> cases;
  const auto add = [&](int width, int height) {
    cases.emplace_back();
    cases.back().Width = width;
    cases.back().Height = height;
    return &cases.back();
  };
  for (const auto& [width, height] : {std::pair{356, 200}, {358, 200}, {356, 202}, {426, 240},
                                      {866, 852}, {426, 578}, {102, 312}})
    add(width, height);
  TShapeCase* text = add(1919, 1079);
  text->Mark = mkText;
  text->MarkRect = {300, 200, 900, 260};
  std::mt19937 random(41);
  const auto pick = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  while (cases.size() < 32) {
    const int outputWidth = pick(8, 960), outputHeight = pick(8, 720);
    if (outputWidth % 16 == 0) continue;
    TShapeCase& c = *add(outputWidth, outputHeight);
    if (pick(0, 2) == 0) {
      const int width = pick(16, SourceWidth), height = pick(16, SourceHeight);
      const int left = pick(0, SourceWidth - width), top = pick(0, SourceHeight - height);
      c.Crop = TIntRect{left, top, left + width, top + height};
    }
    c.Mark = TMark(pick(0, 2));
    const int width = pick(1, c.Width), height = pick(1, c.Height);
    const int left = pick(0, c.Width - width), top = pick(0, c.Height - height);
    c.MarkRect = {left, top, left + width, top + height};
  }
  return cases;
}

std::string Lines(const std::vector<std::string>& Lines) {
  std::string text;
  for (const std::string& line : Lines) text += line + "\n";
  return text;
}

// What the conversion window's text watermark does to the output hook's bitmap: draws in the
// watermark's rectangle and has the bitmap written back into the picture.
void DrawMark(THookInfo& Info, const TIntRect& Rect) {
  TBitmap& bitmap = *Info.Bitmap;
  const int bytes = bitmap.BitsPixel() / 8;
  const int right = std::min(Rect.Right, bitmap.Width());
  for (int y = Rect.Top; y < std::min(Rect.Bottom, bitmap.Height()); ++y)
    if (right > Rect.Left)
      std::memset(bitmap.ScanLine(y) + Rect.Left * bytes, 0xff, size_t((right - Rect.Left) * bytes));
  Info.Update = true;
}

class ScalerBuffers : public TConvertHereTest<testing::TestWithParam<TShapeCase>> {};

TEST_P(ScalerBuffers, AConversionWithThePreviewPictureStaysInsideThePicturesItScales) {
  const TShapeCase& c = GetParam();
  TFileOption entry = DefaultEntry(SourceClip(), Out.File(QStringLiteral("out.flv")).toStdString(),
                                   QString());
  entry.GSwf = entry.GHtml = entry.GThumbnail = false;
  entry.SourceFrameSize = QStringLiteral("%1x%2").arg(SourceWidth).arg(SourceHeight);
  entry.OutputFrameSize = QStringLiteral("%1x%2").arg(c.Width).arg(c.Height);
  if (c.Crop) {
    entry.CropEnabled = true;
    entry.CropRect = *c.Crop;
  }
  if (c.Mark != mkNone) {
    entry.WaterMarkKind = c.Mark;
    entry.WaterMark.Kind = c.Mark;
    entry.WaterMark.Rect = c.MarkRect;
    if (c.Mark == mkPicture) entry.WaterMark.PictureFile = QString::fromStdString(MarkPicture());
    if (c.Mark == mkText) entry.WaterMark.Text = QStringLiteral("mark");
  }
  std::vector<std::pair<int, int>> previews;
  std::string failures;
  bool converted = false;
  {
    const TPictureGuard guard;
    converted = ConvertHere(
        {{&entry, true, {}}}, {},
        [&](TFFEncoder& encoder) {
          encoder.SetPreviewBitmap(true);
          encoder.OnPreviewBitmap = [&](void*, const TPreviewInfo& Info) {
            previews.emplace_back(Info.Bitmap->Width(), Info.Bitmap->Height());
          };
          if (c.Mark == mkText)
            encoder.OnVideoOutputHook = [&](void*, PHookInfo Info) { DrawMark(*Info, c.MarkRect); };
        },
        &failures);
    EXPECT_EQ(Lines(TPictureGuard::Overruns()), "");
  }
  ASSERT_TRUE(converted) << failures;
  const ProbeResult probe = ProbeMedia(entry.Output.FileName);
  const ProbeStream* video = probe.FirstOfType("video");
  ASSERT_NE(video, nullptr) << probe.error;
  EXPECT_EQ(video->width, c.Width);
  EXPECT_EQ(video->height, c.Height);
  ASSERT_FALSE(previews.empty());
  for (const auto& [width, height] : previews) {
    EXPECT_EQ(width, video->width);
    EXPECT_EQ(height, video->height);
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, ScalerBuffers, testing::ValuesIn(ShapeCases()),
                         [](const testing::TestParamInfo<TShapeCase>& Info) {
                           return "n" + std::to_string(Info.index) + "_" + Name(Info.param);
                         });

// A frame of the size, a grey ramp with colour.
TEditFrame RampFrame(int Width, int Height) {
  std::vector<uint8_t> planes[3];
  const int chromaWidth = (Width + 1) / 2, chromaHeight = (Height + 1) / 2;
  planes[0].resize(size_t(Width * Height));
  for (size_t n = 0; n < planes[0].size(); ++n) planes[0][n] = uint8_t(16 + n % 220);
  planes[1].assign(size_t(chromaWidth * chromaHeight), 90);
  planes[2].assign(size_t(chromaWidth * chromaHeight), 200);
  TEditFrame frame;
  frame.CopyFrom({{planes[0].data(), planes[1].data(), planes[2].data(), nullptr},
                  {Width, chromaWidth, chromaWidth, 0}},
                 Width, Height);
  return frame;
}

// The edit window's previews, before and after the crop, of frames of any size.
TEST(ScalerBuffersEdit, PreviewsOfAnySizeStayInsideThePicturesTheyScale) {
  FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
  ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
  std::mt19937 random(43);
  const auto pick = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  const TPictureGuard guard;
  TFormatConverter converter;
  for (int round = 0; round < 24; ++round) {
    const int width = pick(2, 900), height = pick(2, 600);
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    const TEditFrame frame = RampFrame(width, height);
    TEditLook look;
    look.Brightness = 20;
    look.CropActive = true;
    look.CropSourceRect = {1, 1, width, height};
    const std::optional<TPreviewPicture> input = RenderInputPicture(frame, converter);
    const std::optional<TPreviewPicture> output = RenderOutputPicture(frame, look, converter);
    ASSERT_TRUE(input && output);
    EXPECT_EQ(input->Width, width);
    EXPECT_EQ(output->Width, width - 1);
    EXPECT_EQ(output->Height, height - 1);
  }
  EXPECT_EQ(Lines(TPictureGuard::Overruns()), "");
}

}  // namespace
