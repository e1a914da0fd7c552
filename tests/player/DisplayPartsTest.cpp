// The display's parts on their own: where a picture goes in the window, subtitles mixed into a
// picture, the view of the sound, and the filter graph between decoder and display.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <map>

#include "PictureLayout.h"
#include "PlayerFilterGraph.h"
#include "PlayerTestSupport.h"
#include "SoundView.h"
#include "SubtitleBlend.h"
#include "SurfaceScaler.h"

using namespace playertest;

namespace {

// ---- Where the picture goes ----

TEST(PictureLayout, NegativeAspectFillsTheWindow) {
  const double aspect = DisplayAspect(-1, 640, 480, 320, 200, AVRational{1, 1});
  const TPictureRect rect = DisplayRectangle(aspect, 640, 480);
  EXPECT_EQ(rect.Left, 0);
  EXPECT_EQ(rect.Top, 0);
  EXPECT_EQ(rect.Width, 640);
  EXPECT_EQ(rect.Height, 480);
}

TEST(PictureLayout, ZeroKeepsThePicturesShapeCentredWithEvenSides) {
  // 4:3 in a square window: bars above and below.
  TPictureRect rect =
      DisplayRectangle(DisplayAspect(0, 400, 400, 320, 240, AVRational{1, 1}), 400, 400);
  EXPECT_EQ(rect.Width, 400);
  EXPECT_EQ(rect.Height, 300);
  EXPECT_EQ(rect.Top, 50);
  // Wide pixels widen the picture; an odd result is made even.
  const double wide = DisplayAspect(0, 500, 301, 320, 240, AVRational{2, 1});
  EXPECT_NEAR(wide, 320.0 * 2 / 240, 1e-9);
  rect = DisplayRectangle(wide, 500, 301);
  EXPECT_EQ(rect.Width, 500);
  EXPECT_EQ(rect.Height, 188);
  EXPECT_EQ(rect.Width % 2, 0);
  // No sample aspect ratio counts as square pixels.
  EXPECT_NEAR(DisplayAspect(0, 100, 100, 320, 240, AVRational{0, 1}), 4.0 / 3, 1e-9);
}

TEST(PictureLayout, PositiveForcesTheShape) {
  const TPictureRect rect =
      DisplayRectangle(DisplayAspect(1.5f, 600, 600, 320, 240, AVRational{1, 1}), 600, 600);
  EXPECT_EQ(rect.Width, 600);
  EXPECT_EQ(rect.Height, 400);
  EXPECT_EQ(rect.Left, 0);
  EXPECT_EQ(rect.Top, 100);
}

// ---- Subtitles ----

TEST(SubtitleBlend, PaletteTurnsIntoStudioRangeYUV) {
  EXPECT_EQ(RGBAToYUVA(0xFFFFFFFF), 0xFF8080EBu);  // white: Y 235, U V 128
  EXPECT_EQ(RGBAToYUVA(0x80000000), 0x80808010u);  // half transparent black: Y 16
  const uint32_t red = RGBAToYUVA(0xFFFF0000);
  EXPECT_EQ(red & 0xFF, 81u);
  EXPECT_EQ((red >> 8) & 0xFF, 90u);
  EXPECT_EQ((red >> 16) & 0xFF, 240u);
}

// An 8x8 black picture in planar YUV 4:2:0.
struct TTestPicture {
  uint8_t Y[8 * 8], U[4 * 4], V[4 * 4];
  TTestPicture() {
    std::fill(std::begin(Y), std::end(Y), 16);
    std::fill(std::begin(U), std::end(U), 128);
    std::fill(std::begin(V), std::end(V), 128);
  }
  TAVPicture Picture() { return {{Y, U, V, nullptr}, {8, 4, 4, 0}}; }
};

// A rectangle of one palette colour.
struct TTestRect {
  std::vector<uint8_t> Indexes;
  uint32_t Palette[256] = {};
  AVSubtitleRect Rect{};
  TTestRect(int x, int y, int w, int h, uint32_t argb) : Indexes(size_t(w * h), 1) {
    Palette[1] = argb;
    Rect.x = x;
    Rect.y = y;
    Rect.w = w;
    Rect.h = h;
    Rect.nb_colors = 2;
    Rect.type = SUBTITLE_BITMAP;
    Rect.data[0] = Indexes.data();
    Rect.data[1] = reinterpret_cast<uint8_t*>(Palette);
    Rect.linesize[0] = w;
    ConvertPaletteToYUVA(Rect);
  }
};

TEST(SubtitleBlend, OpaquePixelsReplaceAndEdgesMixChroma) {
  TTestPicture picture;
  TTestRect rect(1, 1, 3, 3, 0xFFFF0000);
  BlendSubtitleRect(picture.Picture(), 8, 8, rect.Rect);
  EXPECT_EQ(picture.Y[0], 16);
  EXPECT_EQ(picture.Y[1 * 8 + 1], 81);
  EXPECT_EQ(picture.Y[3 * 8 + 3], 81);
  EXPECT_EQ(picture.Y[4 * 8 + 4], 16);
  // Block (0,0) has one of its four pixels covered, block (1,1) all four, block (2,2) none.
  EXPECT_EQ(picture.V[0], (128 * 3 + 240 + 2) / 4);
  EXPECT_EQ(picture.V[1 * 4 + 1], 240);
  EXPECT_EQ(picture.U[1 * 4 + 1], 90);
  EXPECT_EQ(picture.V[2 * 4 + 2], 128);
}

TEST(SubtitleBlend, AlphaMixesAndOutsideThePictureIsLeftOut) {
  TTestPicture picture;
  TTestRect rect(6, 6, 10, 10, 0x80FFFFFF);  // half transparent white, mostly outside
  BlendSubtitleRect(picture.Picture(), 8, 8, rect.Rect);
  EXPECT_EQ(picture.Y[7 * 8 + 7], (16 * 127 + 235 * 128 + 127) / 255);
  EXPECT_EQ(picture.Y[5 * 8 + 5], 16);
  TTestRect beyond(20, 20, 4, 4, 0xFFFFFFFF);
  BlendSubtitleRect(picture.Picture(), 8, 8, beyond.Rect);
  EXPECT_EQ(picture.Y[7 * 8 + 7], (16 * 127 + 235 * 128 + 127) / 255);
}

// ---- The view of the sound ----

// The pixels a view draws, by position.
struct TCanvas {
  std::map<std::pair<int, int>, int> Pixels;  // brightness
  TFillRect Fill() {
    return [this](const TViewArea& area, uint8_t red, uint8_t green, uint8_t blue) {
      for (int y = area.Top; y < area.Top + area.Height; ++y)
        for (int x = area.Left; x < area.Left + area.Width; ++x)
          Pixels[{x, y}] = (red + green + blue) / 3;
    };
  }
};

TEST(SoundView, TransformCoversEveryRow) {
  EXPECT_EQ(TSoundView::TransformBits(480), 10);
  EXPECT_EQ(TSoundView::TransformBits(512), 10);
  EXPECT_EQ(TSoundView::TransformBits(513), 11);
}

class SoundViewWithLibraries : public ::testing::Test {
 protected:
  void SetUp() override { LoadPlayer(Player); }
  TFFPlayer Player;
};

TEST_F(SoundViewWithLibraries, SpectrumOfAToneLightsItsRow) {
  // 64 rows: 128 samples per transform; a tone of 10 periods per 128 samples is frequency 10.
  TSampleRing ring;
  std::vector<int16_t> tone(4096);
  for (size_t n = 0; n < tone.size(); ++n)
    tone[n] = int16_t(20000 * std::sin(2 * M_PI * 10 * double(n) / 128));
  ring.Add(tone.data(), int(tone.size()));
  TSoundView view;
  TCanvas canvas;
  const TViewArea area{5, 7, 100, 64};
  const int start = view.StartIndex(smSpectrum, ring, 1, 0, area, false);
  const TViewArea changed = view.Draw(smSpectrum, ring, start, 1, area, canvas.Fill());
  EXPECT_EQ(changed.Left, 5);
  EXPECT_EQ(changed.Width, 1);
  EXPECT_EQ(changed.Height, 64);
  int brightestRow = -1, brightest = -1;
  for (int y = area.Top; y < area.Top + area.Height; ++y)
    if ((canvas.Pixels[{5, y}]) > brightest) {
      brightest = (canvas.Pixels[{5, y}]);
      brightestRow = y;
    }
  EXPECT_EQ(brightestRow, area.Top + area.Height - 1 - 10);
  EXPECT_LT((canvas.Pixels[{5, area.Top + area.Height - 1 - 30}]), brightest / 4);
  // The next refresh draws the next column.
  EXPECT_EQ(view.SpectrumColumn(), 1);
}

TEST(SoundView, WavesStartOnARisingZeroCrossingAndHoldWhilePaused) {
  TSampleRing ring;
  std::vector<int16_t> tone(2 * 3000);
  for (size_t n = 0; n < tone.size() / 2; ++n) {
    tone[2 * n] = int16_t(16000 * std::sin(2 * M_PI * double(n) / 100 + 0.3));
    tone[2 * n + 1] = 8000;
  }
  ring.Add(tone.data(), int(tone.size()));
  TSoundView view;
  const TViewArea area{0, 0, 200, 100};
  const int start = view.StartIndex(smWaves, ring, 2, 50, area, false);
  const std::vector<int16_t> around = ring.Read(start - 2, 4);
  EXPECT_LT(around[0], 0);
  EXPECT_GE(around[2], 0);
  ring.Add(tone.data(), 512);
  EXPECT_EQ(view.StartIndex(smWaves, ring, 2, 50, area, true), start);

  TCanvas canvas;
  view.Draw(smWaves, ring, start, 2, area, canvas.Fill());
  // The second channel holds 8000: a column of 8000 * 50 / 65536 = 6 pixels above its band's
  // middle (75), in white; below the middle stays black.
  EXPECT_EQ((canvas.Pixels[{10, 75 - 6}]), 255);
  EXPECT_EQ((canvas.Pixels[{10, 75 - 7}]), 0);
  EXPECT_EQ((canvas.Pixels[{10, 76}]), 0);
}

// ---- Filter graph ----

class FilterGraph : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadPlayer(Player);
    Frame = ff::av_frame_alloc();
    Frame->width = 64;
    Frame->height = 48;
    Frame->format = AV_PIX_FMT_RGB24;
    ASSERT_GE(ff::av_frame_get_buffer(Frame, 0), 0);
    Out = ff::av_frame_alloc();
  }
  void TearDown() override {
    ff::av_frame_free(&Frame);
    ff::av_frame_free(&Out);
  }
  TVideoFilterInput Input() const {
    TVideoFilterInput input;
    input.Width = 64;
    input.Height = 48;
    input.Format = AV_PIX_FMT_RGB24;
    input.TimeBase = {1, 25};
    return input;
  }

  TFFPlayer Player;
  AVFrame* Frame = nullptr;
  AVFrame* Out = nullptr;
  TPlayerFilterGraph Graph;
};

TEST_F(FilterGraph, AnyPictureComesOutAsYUV420P) {
  ASSERT_EQ(Graph.Configure(Input(), "", false, SWS_BICUBIC), 0);
  EXPECT_TRUE(Graph.Accepts(Frame, false));
  Frame->pts = 7;
  ASSERT_EQ(Graph.Send(Frame), 0);
  ASSERT_EQ(Graph.Receive(Out), 0);
  EXPECT_EQ(Out->format, AV_PIX_FMT_YUV420P);
  EXPECT_EQ(Out->width, 64);
  EXPECT_EQ(Out->pts, 7);
  EXPECT_EQ(Graph.Receive(Out), AVERROR(EAGAIN));
}

TEST_F(FilterGraph, ChainAndDeinterlacerRunBetweenSourceAndSink) {
  ASSERT_EQ(Graph.Configure(Input(), "scale=32:24", true, SWS_BICUBIC), 0);
  EXPECT_EQ(Graph.OutputWidth(), 32);
  EXPECT_EQ(Graph.OutputHeight(), 24);
  ASSERT_EQ(Graph.Send(Frame), 0);
  ASSERT_EQ(Graph.Receive(Out), 0);
  EXPECT_EQ(Out->width, 32);
  EXPECT_EQ(Out->format, AV_PIX_FMT_YUV420P);
}

TEST_F(FilterGraph, OtherPicturesNeedANewGraph) {
  ASSERT_EQ(Graph.Configure(Input(), "", false, SWS_BICUBIC), 0);
  Frame->format = AV_PIX_FMT_YUV420P;
  EXPECT_FALSE(Graph.Accepts(Frame, false));
}

// The colour (R, G, B) that a picture of one colour shows on a 32-bit screen, drawn by the
// display's scaler read in `matrix`.
std::array<int, 3> ShownColour(const AVFrame* picture, AVColorSpace matrix) {
  SDL_PixelFormat format{};
  format.BitsPerPixel = 32;
  format.BytesPerPixel = 4;
  format.Rmask = 0xFF0000;
  format.Gmask = 0xFF00;
  format.Bmask = 0xFF;
  std::vector<Uint32> pixels(16 * 16);
  SDL_Surface surface{};
  surface.format = &format;
  surface.w = surface.h = 16;
  surface.pitch = 16 * 4;
  surface.pixels = pixels.data();
  TSurfaceScaler scaler;
  const TAVPicture planes{{picture->data[0], picture->data[1], picture->data[2], nullptr},
                          {picture->linesize[0], picture->linesize[1], picture->linesize[2], 0}};
  EXPECT_TRUE(scaler.Draw(planes, picture->width, picture->height, matrix, surface,
                          SDL_Rect{0, 0, 16, 16}));
  const Uint32 pixel = pixels[8 * 16 + 8];
  return {int(pixel >> 16 & 0xFF), int(pixel >> 8 & 0xFF), int(pixel & 0xFF)};
}

// What the screen shows does not depend on who changes the matrix: the graph, as the conversion
// does (for the caller's chain, the hooks and SDL's overlays, which take BT.601's), or the
// screen's scaler, which converts every picture anyway and so spares the graph a filter. Full red
// in BT.709's studio-range YCbCr (63, 102, 240) shows as (255, 0, 0) read in BT.709's matrix and
// as (233, 0, 2) in BT.601's. A transfer curve other than SDR's always goes through the graph.
TEST_F(FilterGraph, PicturesShowInTheirMatrixWhoeverChangesIt) {
  struct TCase {
    const char* Name;
    int Width, Height;
    AVColorSpace Space;
    AVColorTransferCharacteristic Transfer;
    int Red;            // as shown; 0 where only the routes' agreement counts
    bool LeftToScreen;  // a change of matrix that the graph leaves where the screen reads it
  };
  const TCase cases[] = {
      {"BT.709", 64, 48, AVCOL_SPC_BT709, AVCOL_TRC_BT709, 255, true},
      {"untagged SD", 64, 48, AVCOL_SPC_UNSPECIFIED, AVCOL_TRC_UNSPECIFIED, 233, false},
      {"untagged HD", 1280, 720, AVCOL_SPC_UNSPECIFIED, AVCOL_TRC_UNSPECIFIED, 255, true},
      {"BT.601 HD", 1280, 720, AVCOL_SPC_SMPTE170M, AVCOL_TRC_SMPTE170M, 233, false},
      {"BT.2020 HLG", 64, 48, AVCOL_SPC_BT2020_NCL, AVCOL_TRC_ARIB_STD_B67, 0, false},
  };
  struct TRoute {
    const char* Name;
    bool ScreenReadsMatrix;
    const char* Chain;
  };
  const TRoute routes[] = {{"graph", false, ""}, {"screen", true, ""}, {"chain", true, "null"}};
  for (const TCase& c : cases) {
    int graphLuma = -1;
    std::array<int, 3> graphColour{};
    for (const TRoute& route : routes) {
      const std::string where = c.Name + std::string(", ") + route.Name;
      AVFrame* red = ff::av_frame_alloc();
      red->width = c.Width;
      red->height = c.Height;
      red->format = AV_PIX_FMT_YUV420P;
      red->colorspace = c.Space;
      red->color_trc = c.Transfer;
      ASSERT_GE(ff::av_frame_get_buffer(red, 0), 0);
      const int values[3] = {63, 102, 240};
      for (int plane = 0; plane < 3; ++plane)
        std::memset(red->data[plane], values[plane],
                    size_t(red->linesize[plane]) * size_t(plane ? c.Height / 2 : c.Height));
      TVideoFilterInput input = Input();
      input.Width = c.Width;
      input.Height = c.Height;
      input.Format = AV_PIX_FMT_YUV420P;
      input.Colours.Matrix = c.Space;
      input.Colours.Transfer = c.Transfer;
      input.ScreenReadsMatrix = route.ScreenReadsMatrix;
      ASSERT_EQ(Graph.Configure(input, route.Chain, false, SWS_BICUBIC), 0) << where;
      EXPECT_TRUE(Graph.Accepts(red, route.ScreenReadsMatrix)) << where;
      // Made again only where the screen's taking the change or not makes a difference.
      EXPECT_EQ(Graph.Accepts(red, !route.ScreenReadsMatrix), !c.LeftToScreen || *route.Chain)
          << where;
      ASSERT_EQ(Graph.Send(red), 0) << where;
      ff::av_frame_free(&red);
      ASSERT_EQ(Graph.Receive(Out), 0) << where;
      const int luma = Out->data[0][Out->linesize[0] * 10 + 10];
      const std::array<int, 3> shown = ShownColour(Out, Graph.OutputMatrix());
      if (graphLuma < 0) {
        graphLuma = luma;
        graphColour = shown;
      }
      if (route.ScreenReadsMatrix && !*route.Chain && c.LeftToScreen)
        EXPECT_EQ(luma, 63) << where;
      else
        EXPECT_NEAR(luma, graphLuma, 1) << where;
      for (int n = 0; n < 3; ++n) EXPECT_NEAR(shown[n], graphColour[n], 2) << where << " " << n;
      if (c.Red) {
        EXPECT_NEAR(shown[0], c.Red, 2) << where;
        EXPECT_LE(shown[1], 2) << where;
        EXPECT_LE(shown[2], 4) << where;
      }
      ff::av_frame_unref(Out);
    }
  }
}

TEST_F(FilterGraph, UnknownFilterIsRefused) {
  EXPECT_LT(Graph.Configure(Input(), "nosuchfilter", false, SWS_BICUBIC), 0);
  EXPECT_FALSE(Graph.Configured());
  EXPECT_FALSE(Graph.Accepts(Frame, false));
}

// ---- Pictures drawn into the screen ----

// A component of a pixel as 0..255, read through its mask as SDL defines it.
int Component(Uint32 pixel, Uint32 mask) {
  const int bits = std::popcount(mask);
  return int(((pixel & mask) >> std::countr_zero(mask)) * 255 / ((1u << bits) - 1));
}

// Every layout an X server offers, and one (a palette) that stays with SDL: a red picture of
// 4x2 stretched over a rectangle of a 40x6 screen lands red inside it and leaves every other
// byte alone, whether libswscale writes the rectangle's rows directly (a width of 16) or not.
TEST(SurfaceScaler, DrawsRedIntoTheRectangleOfEveryLayoutAndNothingElse) {
  struct TCase {
    Uint8 Bits;
    Uint32 R, G, B;
    AVPixelFormat Expected;
  };
  const TCase cases[] = {
      {32, 0xFF0000, 0xFF00, 0xFF, AV_PIX_FMT_BGRA},
      {32, 0xFF, 0xFF00, 0xFF0000, AV_PIX_FMT_RGBA},
      {32, 0xFF000000, 0xFF0000, 0xFF00, AV_PIX_FMT_ABGR},
      {24, 0xFF0000, 0xFF00, 0xFF, AV_PIX_FMT_BGR24},
      {24, 0xFF, 0xFF00, 0xFF0000, AV_PIX_FMT_RGB24},
      {16, 0xF800, 0x07E0, 0x001F, AV_PIX_FMT_RGB565LE},
      {15, 0x7C00, 0x03E0, 0x001F, AV_PIX_FMT_RGB555LE},
      {8, 0, 0, 0, AV_PIX_FMT_NONE},
  };
  TMeasuringPlayer player;
  LoadPlayer(player);
  uint8_t y[8], u[2], v[2];  // BT.601 red, limited range
  std::memset(y, 81, sizeof y);
  std::memset(u, 90, sizeof u);
  std::memset(v, 240, sizeof v);
  const TAVPicture picture{{y, u, v, nullptr}, {4, 2, 2, 0}};
  constexpr Uint8 Untouched = 0xAB;
  constexpr int Width = 40, Height = 6;
  for (const TCase& c : cases)
    for (const SDL_Rect rect : {SDL_Rect{2, 1, 6, 3}, SDL_Rect{8, 2, 16, 4}}) {
      SCOPED_TRACE(testing::Message() << int(c.Bits) << " bits, width " << rect.w);
      SDL_PixelFormat format{};
      format.BitsPerPixel = c.Bits;
      format.BytesPerPixel = Uint8((c.Bits + 7) / 8);
      format.Rmask = c.R;
      format.Gmask = c.G;
      format.Bmask = c.B;
      EXPECT_EQ(SurfacePixelFormat(format), c.Expected);
      const int pitch = Width * format.BytesPerPixel + 4;
      std::vector<Uint8> pixels(size_t(pitch) * Height, Untouched);
      SDL_Surface surface{};
      surface.format = &format;
      surface.w = Width;
      surface.h = Height;
      surface.pitch = Uint16(pitch);
      surface.pixels = pixels.data();
      TSurfaceScaler scaler;
      EXPECT_EQ(scaler.Draw(picture, 4, 2, AVCOL_SPC_UNSPECIFIED, surface, rect),
                c.Expected != AV_PIX_FMT_NONE);
      for (int row = 0; row < Height; ++row)
        for (int column = 0; column < Width; ++column) {
          const Uint8* at = &pixels[size_t(row * pitch + column * format.BytesPerPixel)];
          Uint32 pixel = 0;
          std::memcpy(&pixel, at, format.BytesPerPixel);
          const bool inside = c.Expected != AV_PIX_FMT_NONE && column >= rect.x &&
                              column < rect.x + rect.w && row >= rect.y && row < rect.y + rect.h;
          if (inside)
            EXPECT_TRUE(Component(pixel, c.R) > 200 && Component(pixel, c.G) < 60 &&
                        Component(pixel, c.B) < 60)
                << column << "," << row << " " << std::hex << pixel;
          else
            EXPECT_EQ(std::count(at, at + format.BytesPerPixel, Untouched), format.BytesPerPixel)
                << column << "," << row;
        }
    }
}

}  // namespace
