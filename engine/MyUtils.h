// The picture converter: moves decoded pictures into a plain bitmap that previews, hooks and the
// edit window draw on, and hooks' drawings back into the pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "FFEntryPoints.h"

// The planes and line sizes of a picture, as FFmpeg's image routines lay them out.
struct TAVPicture {
  uint8_t* data[4];
  int linesize[4];
};

// libswscale's vector code writes whole blocks of this many pixels: a rectangle of another
// width is written past its right edge.
constexpr int ScalerPixelBlock = 16;

// A picture in memory that libswscale may write and read as its vector code does: lines that
// start on the processor's widest vector alignment and hold whole blocks of pixels, and spare
// lines past the last, where its stores and loads beyond the last pixel land. Every picture the
// program itself gives the scaler is one of these.
class TScalerPicture {
 public:
  TScalerPicture() = default;
  ~TScalerPicture();
  TScalerPicture(const TScalerPicture& other);
  TScalerPicture& operator=(const TScalerPicture& other);

  // Lays out a picture of the format and size, in the memory it has when that is large
  // enough. False with the reason in error when the size cannot be laid out or no memory
  // can be had; the picture is then empty.
  bool Reserve(AVPixelFormat format, int width, int height, std::string& error);
  const TAVPicture& Planes() const { return FPlanes; }

 private:
  void Release();

  uint8_t* FMemory = nullptr;  // av_malloc
  int FCapacity = 0;
  TAVPicture FPlanes{};
  AVPixelFormat FFormat = AV_PIX_FMT_NONE;
  int FWidth = 0;
  int FHeight = 0;
};

// A bitmap in the layout desktop bitmaps have: rows from top to bottom, each padded to a multiple
// of 4 bytes. Depths: 8 (packed 3:3:2, blue in the high bits), 15 (5:5:5 in 16 bits) and 16
// (5:6:5), red in the high bits of each little-endian word, 24 (bytes B, G, R) and
// 32 (bytes B, G, R, A).
class TBitmap {
 public:
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  int BitsPixel() const { return FBitsPixel; }
  // Bytes per row.
  int Stride() const { return FStride; }
  uint8_t* ScanLine(int row) { return FPixels.data() + size_t(row) * size_t(FStride); }
  const uint8_t* ScanLine(int row) const { return FPixels.data() + size_t(row) * size_t(FStride); }

  // A change of size or depth leaves a black bitmap; setting the same one keeps the pixels.
  void SetSize(int width, int height);
  void SetBitsPixel(int bitsPixel);

 private:
  void Allocate();

  int FWidth = 0;
  int FHeight = 0;
  int FBitsPixel = 24;
  int FStride = 0;
  std::vector<uint8_t> FPixels;
};

// Converts with swscale only when a picture's layout differs from the bitmap's; a picture already
// in the bitmap's layout is used in place ("shared"), so that a hook's drawing copied back with
// CopyBitmapToBuffer lands in the caller's picture itself. One thread uses a converter at a time.
class TFormatConverter {
 public:
  TFormatConverter();
  ~TFormatConverter();
  TFormatConverter(const TFormatConverter&) = delete;
  TFormatConverter& operator=(const TFormatConverter&) = delete;

  // The bitmap's depth: 8, 15, 16, 24 (default) or 32. Another depth throws FFmpegException
  // "Invalid BitsPixel %d"; a new depth forgets the current picture.
  int BitsPixel() const { return FBitsPixel; }
  void SetBitsPixel(int value);

  // The converter's own picture in the bitmap's layout (filled when a picture was converted).
  const TAVPicture& GetPicture() const { return FRGBPicture.Planes(); }
  TBitmap& Bitmap() { return FBitmap; }

  // Makes the picture the current one in the bitmap's layout (sharing or converting it) and,
  // when asked, copies it into the bitmap. A YCbCr picture is read in `matrix` (see
  // SetScalerSourceMatrix). False with LastError when it cannot be converted.
  bool PictureToBitmap(uint8_t* const picture[], const int linesize[], AVPixelFormat pixFmt,
                       bool copyToBitmap, int width, int height,
                       AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED);
  // Current picture to bitmap, and back (after a hook drew on the bitmap).
  void CopyPictureToBitmap();
  void CopyBitmapToBuffer();
  // Converts the current picture into dest (scaled when the size differs). False with LastError.
  bool BitmapToPicture(uint8_t* const dest[], const int destLinesize[], AVPixelFormat destPixFmt,
                       int width, int height);

  std::string LastError;

 private:
  void ResetState();
  bool CanShare(const int linesize[], AVPixelFormat pixFmt, int width, int height) const;
  bool ConvertToRGB(uint8_t* const picture[], const int linesize[], AVPixelFormat pixFmt, int width,
                    int height, AVColorSpace matrix);
  void CopyRows(const uint8_t* source, int sourceStride, uint8_t* dest, int destStride) const;

  int FBitsPixel = 24;
  AVPixelFormat FPixFmt = AV_PIX_FMT_BGR24;
  TBitmap FBitmap;
  TScalerPicture FRGBPicture;
  // Plane 0 of the current picture (the caller's or FRGBPicture) and its size.
  TAVPicture FCurrent{};
  bool FHasCurrent = false;
  int FCurrentWidth = 0;
  int FCurrentHeight = 0;
  SwsContext* FToRGB = nullptr;
  SwsContext* FFromRGB = nullptr;
};
