#include "SurfaceScaler.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "FFUtils.h"

namespace {

struct TSurfaceLayout {
  int BitsPerPixel;
  Uint32 Rmask, Gmask, Bmask;
  AVPixelFormat Format;
};

// SDL states its layouts as masks over a native pixel word; the packed 32-bit and 16-bit names
// of libswscale are native-endian too. 24-bit pixels are bytes, least significant first.
constexpr TSurfaceLayout Layouts[] = {
    {32, 0xFF0000, 0xFF00, 0xFF, AV_PIX_FMT_RGB32},
    {32, 0xFF, 0xFF00, 0xFF0000, AV_PIX_FMT_BGR32},
    {32, 0xFF000000, 0xFF0000, 0xFF00, AV_PIX_FMT_RGB32_1},
    {32, 0xFF00, 0xFF0000, 0xFF000000, AV_PIX_FMT_BGR32_1},
    {24, 0xFF0000, 0xFF00, 0xFF, AV_PIX_FMT_BGR24},
    {24, 0xFF, 0xFF00, 0xFF0000, AV_PIX_FMT_RGB24},
    {16, 0xF800, 0x07E0, 0x001F, AV_PIX_FMT_RGB565},
    {16, 0x001F, 0x07E0, 0xF800, AV_PIX_FMT_BGR565},
    {15, 0x7C00, 0x03E0, 0x001F, AV_PIX_FMT_RGB555},
    {15, 0x001F, 0x03E0, 0x7C00, AV_PIX_FMT_BGR555},
};

// Fast bilinear: at the picture's own size libswscale takes its unscaled converters anyway,
// and a stretched picture costs little more than SDL's nearest-pixel stretch.
constexpr int DisplayScalerFlags = SWS_FAST_BILINEAR;

}  // namespace

AVPixelFormat SurfacePixelFormat(const SDL_PixelFormat& format) {
  for (const TSurfaceLayout& layout : Layouts)
    if (layout.BitsPerPixel == format.BitsPerPixel && layout.Rmask == format.Rmask &&
        layout.Gmask == format.Gmask && layout.Bmask == format.Bmask)
      return layout.Format;
  return AV_PIX_FMT_NONE;
}

TSurfaceScaler::~TSurfaceScaler() { ff::sws_freeContext(FContext); }

bool TSurfaceScaler::Draw(const TAVPicture& picture, int width, int height, AVColorSpace matrix,
                          SDL_Surface& surface, const SDL_Rect& rect) {
  const AVPixelFormat format = SurfacePixelFormat(*surface.format);
  if (format == AV_PIX_FMT_NONE || rect.w < 1 || rect.h < 1) return false;
  FContext = ff::sws_getCachedContext(FContext, width, height, AV_PIX_FMT_YUV420P, rect.w, rect.h,
                                      format, DisplayScalerFlags, nullptr, nullptr, nullptr);
  if (!FContext || !SetScalerSourceMatrix(FContext, matrix)) return false;
  const int bytesPerPixel = surface.format->BytesPerPixel;
  uint8_t* const origin = static_cast<uint8_t*>(surface.pixels) +
                          ptrdiff_t(rect.y) * surface.pitch + ptrdiff_t(rect.x) * bytesPerPixel;
  const size_t rowBytes = size_t(rect.w) * size_t(bytesPerPixel);
  // A rectangle of whole pixel blocks is written in place: past its right edge would be the
  // picture's border or the next row on the screen.
  if (rect.w % ScalerPixelBlock == 0) {
    uint8_t* target[4] = {origin, nullptr, nullptr, nullptr};
    const int pitch[4] = {surface.pitch, 0, 0, 0};
    ff::sws_scale(FContext, picture.data, picture.linesize, 0, height, target, pitch);
    return true;
  }
  std::string error;
  if (!FRows.Reserve(format, rect.w, rect.h, error)) return false;
  const TAVPicture& rows = FRows.Planes();
  ff::sws_scale(FContext, picture.data, picture.linesize, 0, height, rows.data, rows.linesize);
  for (int row = 0; row < rect.h; ++row)
    std::memcpy(origin + ptrdiff_t(row) * surface.pitch,
                rows.data[0] + ptrdiff_t(row) * rows.linesize[0], rowBytes);
  return true;
}
