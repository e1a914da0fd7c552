#include "MyUtils.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "FFBaseComponent.h"
#include "FFUtils.h"

namespace {

// swscale's vector code writes whole blocks of pixels: a row of the converter's own picture
// needs room past its last pixel, or the last pixels of odd widths stay unwritten.
constexpr int PictureLineAlign = 64;

// Bits each pixel takes in memory: a 15-bit pixel fills a 16-bit word.
int StoredBits(int bitsPixel) { return bitsPixel == 15 ? 16 : bitsPixel; }

// The FFmpeg layout of each depth. 16-bit bitmaps keep red in the high bits of the word.
AVPixelFormat BitmapPixelFormat(int bitsPixel) {
  switch (bitsPixel) {
    case 8:
      return AV_PIX_FMT_BGR8;
    case 15:
      return AV_PIX_FMT_RGB555LE;
    case 16:
      return AV_PIX_FMT_RGB565LE;
    case 24:
      return AV_PIX_FMT_BGR24;
    case 32:
      return AV_PIX_FMT_BGRA;
    default:
      return AV_PIX_FMT_NONE;
  }
}

}  // namespace

void TBitmap::SetSize(int width, int height) {
  if (width == FWidth && height == FHeight) return;
  FWidth = std::max(width, 0);
  FHeight = std::max(height, 0);
  Allocate();
}

void TBitmap::SetBitsPixel(int bitsPixel) {
  assert(BitmapPixelFormat(bitsPixel) != AV_PIX_FMT_NONE && "unsupported bitmap depth");
  if (bitsPixel == FBitsPixel) return;
  FBitsPixel = bitsPixel;
  Allocate();
}

void TBitmap::Allocate() {
  FStride = int((int64_t(FWidth) * StoredBits(FBitsPixel) + 31) / 32 * 4);
  FPixels.assign(size_t(FStride) * size_t(FHeight), 0);
}

TFormatConverter::TFormatConverter() { ResetState(); }

// A converter that never converted may outlive the libraries: it calls none of them.
TFormatConverter::~TFormatConverter() {
  if (FBuffer) ff::av_free(FBuffer);
  if (FToRGB) ff::sws_freeContext(FToRGB);
  if (FFromRGB) ff::sws_freeContext(FFromRGB);
}

void TFormatConverter::SetBitsPixel(int value) {
  if (value == FBitsPixel) return;
  if (BitmapPixelFormat(value) == AV_PIX_FMT_NONE)
    throw FFmpegException("Invalid BitsPixel " + std::to_string(value));
  FBitsPixel = value;
  ResetState();
}

void TFormatConverter::ResetState() {
  FPixFmt = BitmapPixelFormat(FBitsPixel);
  FBitmap.SetBitsPixel(FBitsPixel);
  FRGBPicture = TAVPicture{};
  FCurrent = TAVPicture{};
  FHasCurrent = false;
  FCurrentWidth = 0;
  FCurrentHeight = 0;
}

bool TFormatConverter::PictureToBitmap(uint8_t* const picture[], const int linesize[],
                                       AVPixelFormat pixFmt, bool copyToBitmap, int width,
                                       int height) {
  FBitmap.SetSize(width, height);
  FHasCurrent = false;
  if (CanShare(linesize, pixFmt, width, height)) {
    FCurrent = TAVPicture{{picture[0]}, {linesize[0]}};
  } else if (!ConvertToRGB(picture, linesize, pixFmt, width, height)) {
    return false;
  }
  FHasCurrent = true;
  FCurrentWidth = width;
  FCurrentHeight = height;
  if (copyToBitmap) CopyPictureToBitmap();
  return true;
}

bool TFormatConverter::CanShare(const int linesize[], AVPixelFormat pixFmt, int width,
                                int height) const {
  return pixFmt == FPixFmt && width % 2 == 0 && height % 2 == 0 && linesize[0] == FBitmap.Stride();
}

bool TFormatConverter::ConvertToRGB(uint8_t* const picture[], const int linesize[],
                                    AVPixelFormat pixFmt, int width, int height) {
  FToRGB = ff::sws_getCachedContext(FToRGB, width, height, pixFmt, width, height, FPixFmt,
                                    SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!FToRGB) {
    LastError = "Cannot initialize the toRGB conversion context";
    return false;
  }
  if (!ReserveBuffer(width, height)) return false;
  const int result =
      ff::sws_scale(FToRGB, picture, linesize, 0, height, FRGBPicture.data, FRGBPicture.linesize);
  if (result < 0) {
    LastError = AVErrorText("sws_scale", result);
    return false;
  }
  FCurrent = FRGBPicture;
  return true;
}

bool TFormatConverter::ReserveBuffer(int width, int height) {
  const int size = ff::av_image_get_buffer_size(FPixFmt, width, height, PictureLineAlign);
  // swscale takes sizes that FFmpeg's image routines refuse; the planes would then stay laid
  // over the previous, smaller buffer.
  if (size < 0) {
    LastError = AVErrorText("av_image_get_buffer_size", size);
    return false;
  }
  if (size > FBufferSize) {
    ff::av_freep(&FBuffer);
    FBufferSize = 0;
    FBuffer = size > 0 ? static_cast<uint8_t*>(ff::av_malloc(size_t(size))) : nullptr;
    if (!FBuffer) {
      LastError = "Could not alloc buffer.";
      return false;
    }
    FBufferSize = size;
  }
  ff::av_image_fill_arrays(FRGBPicture.data, FRGBPicture.linesize, FBuffer, FPixFmt, width, height,
                           PictureLineAlign);
  return true;
}

void TFormatConverter::CopyPictureToBitmap() {
  assert(FHasCurrent && "no current picture");
  CopyRows(FCurrent.data[0], FCurrent.linesize[0], FBitmap.ScanLine(0), FBitmap.Stride());
}

void TFormatConverter::CopyBitmapToBuffer() {
  assert(FHasCurrent && "no current picture");
  CopyRows(FBitmap.ScanLine(0), FBitmap.Stride(), FCurrent.data[0], FCurrent.linesize[0]);
}

// The rows of the picture and the bitmap differ in padding, and a hook may have resized the
// bitmap: never copy past either side.
void TFormatConverter::CopyRows(const uint8_t* source, int sourceStride, uint8_t* dest,
                                int destStride) const {
  const int rows = std::min(FBitmap.Height(), FCurrentHeight);
  const size_t bytes = size_t(std::min(FBitmap.Stride(), FCurrent.linesize[0]));
  for (int row = 0; row < rows; ++row)
    std::memcpy(dest + ptrdiff_t(row) * destStride, source + ptrdiff_t(row) * sourceStride, bytes);
}

bool TFormatConverter::BitmapToPicture(uint8_t* const dest[], const int destLinesize[],
                                       AVPixelFormat destPixFmt, int width, int height) {
  assert(FHasCurrent && "no current picture");
  // A shared picture already holds what was copied back into it.
  if (destPixFmt == FPixFmt && dest[0] == FCurrent.data[0] &&
      destLinesize[0] == FCurrent.linesize[0] && width == FCurrentWidth && height == FCurrentHeight)
    return true;
  FFromRGB = ff::sws_getCachedContext(FFromRGB, FCurrentWidth, FCurrentHeight, FPixFmt, width,
                                      height, destPixFmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!FFromRGB) {
    LastError = "Cannot initialize the fromRGB conversion context";
    return false;
  }
  const int result = ff::sws_scale(FFromRGB, FCurrent.data, FCurrent.linesize, 0, FCurrentHeight,
                                   dest, destLinesize);
  if (result < 0) {
    LastError = AVErrorText("sws_scale", result);
    return false;
  }
  return true;
}
