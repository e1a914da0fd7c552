#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "FFBaseComponent.h"
#include "EngineTestSupport.h"
#include "FFLoad.h"
#include "FFUtils.h"
#include "MyUtils.h"

namespace {

class FormatConverterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadEngineLibraries(); }
};

// A picture in its own buffer, rows aligned as asked.
struct TTestPicture {
  TTestPicture(AVPixelFormat format, int width, int height, int align)
      : Format(format), Width(width), Height(height) {
    EXPECT_GE(ff::av_image_alloc(Picture.data, Picture.linesize, width, height, format, align), 0);
  }
  ~TTestPicture() { ff::av_freep(&Picture.data[0]); }
  TTestPicture(const TTestPicture&) = delete;
  TTestPicture& operator=(const TTestPicture&) = delete;

  uint8_t* Pixel(int x, int y, int bytesPerPixel) {
    return Picture.data[0] + y * Picture.linesize[0] + x * bytesPerPixel;
  }
  bool ToBitmap(TFormatConverter& converter, bool copy = true) {
    return converter.PictureToBitmap(Picture.data, Picture.linesize, Format, copy, Width, Height);
  }
  bool FromBitmap(TFormatConverter& converter) {
    return converter.BitmapToPicture(Picture.data, Picture.linesize, Format, Width, Height);
  }

  TAVPicture Picture{};
  AVPixelFormat Format;
  int Width;
  int Height;
};

void FillBGR24(TTestPicture& picture) {
  for (int y = 0; y < picture.Height; ++y)
    for (int x = 0; x < picture.Width; ++x) {
      uint8_t* pixel = picture.Pixel(x, y, 3);
      pixel[0] = uint8_t(x * 7 + y);
      pixel[1] = uint8_t(y * 3);
      pixel[2] = uint8_t(x ^ y);
    }
}

// A YUV 4:2:0 picture of one flat colour.
void FillYUV(TTestPicture& picture, uint8_t y, uint8_t u, uint8_t v) {
  std::memset(picture.Picture.data[0], y, size_t(picture.Picture.linesize[0]) * picture.Height);
  const int chromaRows = (picture.Height + 1) / 2;
  std::memset(picture.Picture.data[1], u, size_t(picture.Picture.linesize[1]) * chromaRows);
  std::memset(picture.Picture.data[2], v, size_t(picture.Picture.linesize[2]) * chromaRows);
}

uint16_t Word(const TBitmap& bitmap, int x, int y) {
  const uint8_t* pixel = bitmap.ScanLine(y) + x * 2;
  return uint16_t(pixel[0] | pixel[1] << 8);
}

}  // namespace

TEST_F(FormatConverterTest, InvalidDepthIsRefusedWithItsNumber) {
  TFormatConverter converter;
  EXPECT_EQ(converter.BitsPixel(), 24);
  for (const int depth : {12, 0, 48}) {
    try {
      converter.SetBitsPixel(depth);
      ADD_FAILURE() << "no exception for " << depth;
    } catch (const FFmpegException& e) {
      EXPECT_EQ(std::string(e.what()), "Invalid BitsPixel " + std::to_string(depth));
    }
  }
  EXPECT_EQ(converter.BitsPixel(), 24);
  EXPECT_EQ(converter.Bitmap().BitsPixel(), 24);
}

TEST_F(FormatConverterTest, PictureInTheBitmapLayoutIsSharedSoHookDrawingLandsInIt) {
  TFormatConverter converter;
  TTestPicture picture(AV_PIX_FMT_BGR24, 320, 240, 4);
  ASSERT_EQ(picture.Picture.linesize[0], 960);
  FillBGR24(picture);
  ASSERT_TRUE(picture.ToBitmap(converter));
  TBitmap& bitmap = converter.Bitmap();
  ASSERT_EQ(bitmap.Width(), 320);
  ASSERT_EQ(bitmap.Height(), 240);
  ASSERT_EQ(bitmap.Stride(), 960);
  for (int y = 0; y < 240; ++y)
    ASSERT_EQ(std::memcmp(bitmap.ScanLine(y), picture.Pixel(0, y, 3), 960), 0) << y;

  bitmap.ScanLine(0)[0] = 0xAB;
  bitmap.ScanLine(239)[959] = 0xCD;
  converter.CopyBitmapToBuffer();
  EXPECT_EQ(picture.Pixel(0, 0, 3)[0], 0xAB);
  EXPECT_EQ(picture.Pixel(319, 239, 3)[2], 0xCD);
  EXPECT_TRUE(picture.FromBitmap(converter));
  EXPECT_EQ(picture.Pixel(0, 0, 3)[0], 0xAB);
}

TEST_F(FormatConverterTest, OddWidthIsConvertedIntoTheConvertersOwnPicture) {
  TFormatConverter converter;
  TTestPicture picture(AV_PIX_FMT_BGR24, 321, 240, 4);
  FillBGR24(picture);
  ASSERT_TRUE(picture.ToBitmap(converter));
  TBitmap& bitmap = converter.Bitmap();
  ASSERT_EQ(bitmap.Stride(), 964);
  EXPECT_NE(converter.GetPicture().data[0], picture.Picture.data[0]);
  for (int y = 0; y < 240; ++y)
    ASSERT_EQ(std::memcmp(bitmap.ScanLine(y), picture.Pixel(0, y, 3), 321 * 3), 0) << y;

  const uint8_t before = picture.Pixel(5, 7, 3)[1];
  bitmap.ScanLine(7)[5 * 3 + 1] = uint8_t(before + 1);
  converter.CopyBitmapToBuffer();
  EXPECT_EQ(picture.Pixel(5, 7, 3)[1], before);
  ASSERT_TRUE(picture.FromBitmap(converter));
  EXPECT_EQ(picture.Pixel(5, 7, 3)[1], uint8_t(before + 1));
  EXPECT_EQ(picture.Pixel(6, 7, 3)[1], uint8_t(7 * 3));
}

TEST_F(FormatConverterTest, SettingTheSameDepthKeepsTheCurrentPicture) {
  TFormatConverter converter;
  TTestPicture picture(AV_PIX_FMT_BGR24, 33, 9, 1);
  FillBGR24(picture);
  ASSERT_TRUE(picture.ToBitmap(converter));
  const uint8_t expected = converter.Bitmap().ScanLine(3)[10];
  converter.Bitmap().ScanLine(3)[10] = uint8_t(expected + 1);
  converter.SetBitsPixel(24);
  converter.CopyPictureToBitmap();
  EXPECT_EQ(converter.Bitmap().ScanLine(3)[10], expected);
}

class FormatConverterRoundTrip : public FormatConverterTest,
                                 public ::testing::WithParamInterface<int> {};

// A hook's drawing travels bitmap -> YUV 4:2:0 picture -> bitmap with only rounding losses.
TEST_P(FormatConverterRoundTrip, BitmapThroughAYUVPictureAndBack) {
  const int depth = GetParam();
  const int bytes = depth / 8;
  TFormatConverter converter;
  converter.SetBitsPixel(depth);
  TTestPicture frame(AV_PIX_FMT_YUV420P, 96, 64, 32);
  FillYUV(frame, 16, 128, 128);
  ASSERT_TRUE(frame.ToBitmap(converter)) << converter.LastError;
  TBitmap& bitmap = converter.Bitmap();
  auto expected = [](int x, int y, int channel) {
    return channel == 0 ? 40 + x * 2 : channel == 1 ? 200 - y * 2 : 60 + (x + y);
  };
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 96; ++x)
      for (int c = 0; c < 3; ++c) bitmap.ScanLine(y)[x * bytes + c] = uint8_t(expected(x, y, c));
  converter.CopyBitmapToBuffer();
  ASSERT_TRUE(frame.FromBitmap(converter)) << converter.LastError;

  TFormatConverter reader;
  reader.SetBitsPixel(depth);
  ASSERT_TRUE(frame.ToBitmap(reader)) << reader.LastError;
  int worst = 0;
  int64_t total = 0;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 96; ++x) {
      const uint8_t* pixel = reader.Bitmap().ScanLine(y) + x * bytes;
      for (int c = 0; c < 3; ++c) {
        const int error = std::abs(pixel[c] - expected(x, y, c));
        worst = std::max(worst, error);
        total += error;
      }
      if (depth == 32) {
        ASSERT_EQ(pixel[3], 255) << x << "," << y;
      }
    }
  EXPECT_LE(worst, 8);
  EXPECT_LE(double(total) / (64 * 96 * 3), 3.0);
}

INSTANTIATE_TEST_SUITE_P(Depths, FormatConverterRoundTrip, ::testing::Values(24, 32));

// Four blocks of 16 pixels: red, green, blue, white (or black), in BGR byte order. Conversions
// blur colour across block edges, so each block is read in its middle.
void FillColourBlocks(TTestPicture& picture, const uint8_t (&colours)[4][3]) {
  for (int y = 0; y < picture.Height; ++y)
    for (int x = 0; x < picture.Width; ++x) std::memcpy(picture.Pixel(x, y, 3), colours[x / 16], 3);
}

TEST_F(FormatConverterTest, SixteenAndFifteenBitBitmapsKeepRedInTheHighBits) {
  TTestPicture picture(AV_PIX_FMT_BGR24, 64, 4, 1);
  FillColourBlocks(picture, {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {255, 255, 255}});
  TFormatConverter converter;
  const auto expect = [&](int depth, const uint16_t(&words)[4]) {
    SCOPED_TRACE(depth);
    converter.SetBitsPixel(depth);
    ASSERT_TRUE(picture.ToBitmap(converter)) << converter.LastError;
    EXPECT_EQ(converter.BitsPixel(), depth);
    EXPECT_EQ(converter.Bitmap().BitsPixel(), depth);
    EXPECT_EQ(converter.Bitmap().Stride(), 128);
    for (int block = 0; block < 4; ++block)
      EXPECT_EQ(Word(converter.Bitmap(), block * 16 + 8, 1), words[block]) << block;
  };
  expect(16, {0xF800, 0x07E0, 0x001F, 0xFFFF});
  expect(15, {0x7C00, 0x03E0, 0x001F, 0x7FFF});
  // Back to 16 after 15: the depth asked for decides, not the 16 bits a 15-bit pixel takes.
  expect(16, {0xF800, 0x07E0, 0x001F, 0xFFFF});
}

TEST_F(FormatConverterTest, EightBitBitmapPacksBlueGreenRed) {
  TTestPicture picture(AV_PIX_FMT_BGR24, 64, 4, 1);
  FillColourBlocks(picture, {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {0, 0, 0}});
  TFormatConverter converter;
  converter.SetBitsPixel(8);
  ASSERT_TRUE(picture.ToBitmap(converter)) << converter.LastError;
  EXPECT_EQ(converter.Bitmap().Stride(), 64);
  const uint8_t* row = converter.Bitmap().ScanLine(1);
  EXPECT_EQ(row[8], 0x07);
  EXPECT_EQ(row[24], 0x38);
  EXPECT_EQ(row[40], 0xC0);
  EXPECT_EQ(row[56], 0x00);
}

TEST_F(FormatConverterTest, PicturesOfChangingSizeReuseTheConverter) {
  TFormatConverter converter;
  converter.SetBitsPixel(32);
  struct {
    int Width, Height;
    uint8_t Y;
  } steps[] = {{640, 480, 235}, {160, 120, 16}, {642, 482, 126}, {2, 2, 235}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.Width);
    TTestPicture frame(AV_PIX_FMT_YUV420P, step.Width, step.Height, 16);
    FillYUV(frame, step.Y, 128, 128);
    ASSERT_TRUE(frame.ToBitmap(converter)) << converter.LastError;
    const TBitmap& bitmap = converter.Bitmap();
    ASSERT_EQ(bitmap.Width(), step.Width);
    ASSERT_EQ(bitmap.Height(), step.Height);
    const int grey = step.Y == 235 ? 255 : step.Y == 16 ? 0 : 128;
    for (const int y : {0, step.Height / 2, step.Height - 1})
      for (const int x : {0, step.Width / 2, step.Width - 1})
        for (int c = 0; c < 3; ++c)
          EXPECT_NEAR(bitmap.ScanLine(y)[x * 4 + c], grey, 2) << x << "," << y;
  }
}

TEST_F(FormatConverterTest, UnconvertibleFormatsFailWithTheirTexts) {
  TFormatConverter converter;
  TTestPicture picture(AV_PIX_FMT_BGR24, 16, 16, 4);
  EXPECT_FALSE(converter.PictureToBitmap(picture.Picture.data, picture.Picture.linesize,
                                         AV_PIX_FMT_VAAPI, true, 16, 16));
  EXPECT_EQ(converter.LastError, "Cannot initialize the toRGB conversion context");

  FillBGR24(picture);
  ASSERT_TRUE(picture.ToBitmap(converter));
  EXPECT_FALSE(converter.BitmapToPicture(picture.Picture.data, picture.Picture.linesize,
                                         AV_PIX_FMT_VAAPI, 16, 16));
  EXPECT_EQ(converter.LastError, "Cannot initialize the fromRGB conversion context");
}

// swscale takes pictures wider than FFmpeg's image routines allow: such a picture must fail
// rather than be scaled into the buffer kept from a smaller one.
TEST_F(FormatConverterTest, PictureTooLargeForAnImageBufferFails) {
  TFormatConverter converter;
  TTestPicture small(AV_PIX_FMT_YUV420P, 16, 16, 16);
  FillYUV(small, 16, 128, 128);
  ASSERT_TRUE(small.ToBitmap(converter)) << converter.LastError;

  constexpr int Width = 2100000;
  constexpr int Height = 2;
  ASSERT_LT(ff::av_image_check_size(Width, Height, 0, nullptr), 0);
  std::vector<uint8_t> luma(size_t(Width) * Height, 16);
  std::vector<uint8_t> chroma(size_t(Width) / 2, 128);
  uint8_t* const planes[4] = {luma.data(), chroma.data(), chroma.data(), nullptr};
  const int linesizes[4] = {Width, Width / 2, Width / 2, 0};
  EXPECT_FALSE(
      converter.PictureToBitmap(planes, linesizes, AV_PIX_FMT_YUV420P, true, Width, Height));
  EXPECT_EQ(converter.LastError, AVErrorText("av_image_get_buffer_size", AVERROR(EINVAL)));

  ASSERT_TRUE(small.ToBitmap(converter)) << converter.LastError;
  EXPECT_EQ(converter.Bitmap().Width(), 16);
}

// The player and the tasks make their converters before the libraries load.
TEST(FormatConverterLifetime, ConverterThatNeverConvertedNeedsNoLibraries) {
  FFLoader().Unload(AllLibraries);
  ASSERT_EQ(ff::av_free, nullptr);
  TFormatConverter converter;
  converter.SetBitsPixel(16);
  converter.Bitmap().SetSize(3, 2);
  EXPECT_EQ(converter.Bitmap().Stride(), 8);
}
