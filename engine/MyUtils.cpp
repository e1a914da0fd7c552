#include "MyUtils.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>

#include "FFBaseComponent.h"
#include "FFUtils.h"

namespace {

// Lines past the last: at least one in every plane, the subsampled ones too.
constexpr int SpareLines = 2;

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

TScalerPicture::~TScalerPicture() { Release(); }

TScalerPicture::TScalerPicture(const TScalerPicture& other) { *this = other; }

TScalerPicture& TScalerPicture::operator=(const TScalerPicture& other) {
  if (this == &other) return *this;
  if (!other.FMemory) {
    Release();
    return *this;
  }
  std::string error;
  if (!Reserve(other.FFormat, other.FWidth, other.FHeight, error)) throw std::bad_alloc();
  ff::av_image_copy(FPlanes.data, FPlanes.linesize, const_cast<const uint8_t**>(other.FPlanes.data),
                    other.FPlanes.linesize, FFormat, FWidth, FHeight);
  return *this;
}

// A picture that never held memory may outlive the libraries: it calls none of them.
void TScalerPicture::Release() {
  if (FMemory) ff::av_freep(&FMemory);
  FCapacity = 0;
  FPlanes = TAVPicture{};
  FFormat = AV_PIX_FMT_NONE;
  FWidth = FHeight = 0;
}

bool TScalerPicture::Reserve(AVPixelFormat format, int width, int height, std::string& error) {
  const int align = int(ff::av_cpu_max_align());
  // swscale takes sizes that FFmpeg's image routines refuse; the planes would then stay laid
  // over the previous, smaller memory.
  int size = ff::av_image_check_size(unsigned(width), unsigned(height), 0, nullptr);
  if (size >= 0)
    size = ff::av_image_get_buffer_size(format, FFALIGN(width, ScalerPixelBlock),
                                        height + SpareLines, align);
  if (size < 0) {
    Release();
    error = AVErrorText("av_image_get_buffer_size", size);
    return false;
  }
  if (size > FCapacity) {
    Release();
    FMemory = static_cast<uint8_t*>(ff::av_malloc(size_t(size)));
    if (!FMemory) {
      error = "Could not alloc buffer.";
      return false;
    }
    FCapacity = size;
  }
  ff::av_image_fill_arrays(FPlanes.data, FPlanes.linesize, FMemory, format,
                           FFALIGN(width, ScalerPixelBlock), height + SpareLines, align);
  FFormat = format;
  FWidth = width;
  FHeight = height;
  return true;
}

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
  FCurrent = TAVPicture{};
  FHasCurrent = false;
  FCurrentWidth = 0;
  FCurrentHeight = 0;
}

bool TFormatConverter::PictureToBitmap(uint8_t* const picture[], const int linesize[],
                                       AVPixelFormat pixFmt, bool copyToBitmap, int width,
                                       int height, AVColorSpace matrix) {
  FBitmap.SetSize(width, height);
  FHasCurrent = false;
  if (CanShare(linesize, pixFmt, width, height)) {
    FCurrent = TAVPicture{{picture[0]}, {linesize[0]}};
  } else if (!ConvertToRGB(picture, linesize, pixFmt, width, height, matrix)) {
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
                                    AVPixelFormat pixFmt, int width, int height,
                                    AVColorSpace matrix) {
  FToRGB = ff::sws_getCachedContext(FToRGB, width, height, pixFmt, width, height, FPixFmt,
                                    SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!FToRGB || !SetScalerSourceMatrix(FToRGB, matrix)) {
    LastError = "Cannot initialize the toRGB conversion context";
    return false;
  }
  if (!FRGBPicture.Reserve(FPixFmt, width, height, LastError)) return false;
  const TAVPicture& rgb = FRGBPicture.Planes();
  const int result = ff::sws_scale(FToRGB, picture, linesize, 0, height, rgb.data, rgb.linesize);
  if (result < 0) {
    LastError = AVErrorText("sws_scale", result);
    return false;
  }
  FCurrent = rgb;
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
