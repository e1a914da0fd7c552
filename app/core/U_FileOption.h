// The record each entry of the file list holds: everything needed to turn the entry into
// one encoder task and its Flash package. Every member is a value, so a copy (a merged
// child, a task's text watermark) shares nothing with its source and nothing is freed twice.
#pragma once

#include "FFEncode.h"
#include "uSWFData.h"

#include <QSize>
#include <QString>

#include <cstdint>
#include <optional>

// Left, top, right and bottom, as the edit window lays them out.
struct TIntRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;
  bool operator==(const TIntRect&) const = default;
};

// Font, size and colour of a text watermark; the windows turn it into a QFont.
struct TWaterMarkFont {
  QString Family;
  int PointSize = 0;
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
  uint32_t Color = 0;  // Windows colour value
  bool operator==(const TWaterMarkFont&) const = default;
};

struct TWaterMark {
  int32_t Kind = 0;  // 1 picture, 2 text: which one the edit window set up last
  std::optional<TWaterMarkFont> Font;
  QString PictureFile;
  QString Text;
  QString PictureCopy;  // scaled to the output size in the scratch folder
  TIntRect Rect;        // in output-frame pixels; left and top are where it is drawn
  TIntRect PictureViewRect;
  TIntRect TextViewRect;

  // The scaled copy when there is one, else the user's picture.
  const QString& PictureToDraw() const { return PictureCopy.isEmpty() ? PictureFile : PictureCopy; }
};

// Width over height of one stored pixel (the sample aspect ratio); 1:1 for square pixels.
struct TPixelAspect {
  int Num = 1;
  int Den = 1;
  bool operator==(const TPixelAspect&) const = default;
};

struct TFileOption {
  int64_t Duration = 0;     // µs; a merge group's is the sum of its children
  int64_t FileSize = 0;     // bytes; 0 for a merge group
  QString SourceFrameSize;  // "WxH"
  TPixelAspect SourcePixelAspect;  // of the pictures at SourceFrameSize
  QString OutputFrameSize;  // "WxH"; empty keeps the source's
  TInputOptions Input;
  TOutputOptions Output;
  int32_t WaterMarkKind = 0;  // 1 picture, 2 text; 0 and -1 none
  TWaterMark WaterMark;
  bool CropEnabled = false;
  TIntRect CropRect;
  TIntRect CropDestRect;
  bool IsMergeGroup = false;
  QString DisplayName;
  int32_t Formatid = 0;
  int32_t Brightness = 0;
  int32_t Contrast = 0;
  int32_t Saturation = 0;
  bool VFlip = false;
  bool HFlip = false;
  int32_t Deinterlace = 0;  // -1 off
  bool GHtml = false;
  bool GSwf = false;
  bool Gflv = false;
  bool GThumbnail = false;
  QString PlayerSkin;    // full path of the skin SWF
  uint32_t BGColor = 0;  // Windows colour value
  TSWFData SWFData;
  int32_t KeepOutputSize = 0;  // 1: a merge group's output size came from the defaults file
  bool HasSound = true;        // the input has a sound stream
};

// The conversion window's copy of an entry's watermark for one task.
struct TTextWaterMark {
  int32_t TaskIndex = 0;
  TWaterMark WaterMark;
};

// A fresh entry's defaults, then the defaults file's values, with FrameSize and Aspect as the
// source's picture and the size it is shown at (within the formats dialog's limits) as the
// output frame size. Leaves Duration, FileSize, Input, the output file name and DisplayName
// alone.
void InitFileOption(TFileOption& Option, const QString& FrameSize, TPixelAspect Aspect = {});

// The size of a "WxH" frame-size text (blanks and a capital X allowed); an empty size (0x0)
// unless both numbers are positive.
QSize ParseFrameSize(const QString& Text);
