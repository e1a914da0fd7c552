// The shape an entry's picture is shown in. Footage is often stored with pixels that are not
// square (DVD, DV and HDV, or a container that states a display size of its own): players show
// it wider or narrower than its stored size, while FLV pictures, which carry no pixel shape,
// are always taken as square. Everything that sizes or places the picture (the conversion's
// fit, a new entry's output size, the formats dialog, the edit window's previews) works in
// shown pixels and asks this class; crops stay in stored pixels, as the user types them.
#pragma once

#include "U_FileOption.h"

#include <QSize>

class TPictureShape {
 public:
  TPictureShape() = default;
  TPictureShape(QSize Stored, TPixelAspect Aspect);
  // The picture of the entry's source: its SourceFrameSize and SourcePixelAspect.
  explicit TPictureShape(const TFileOption& Entry);

  bool IsSquare() const { return FAspect.Num == FAspect.Den; }
  QSize Stored() const { return FStored; }
  // The whole picture as shown: its width scaled by the pixel aspect, its lines kept.
  QSize Shown() const { return ShownSize(FStored); }
  // A part of the picture (a crop) as shown.
  QSize ShownSize(QSize Stored) const;
  // A rectangle of stored pixels in shown pixels, and back (kept inside the picture).
  TIntRect ToShown(const TIntRect& Stored) const;
  TIntRect ToStored(const TIntRect& Shown) const;

  // The size a new entry converts to: the picture as shown, brought down within the largest
  // size the formats dialog accepts with its shape kept, so that the dialog takes it as it is.
  QSize DefaultOutputSize() const;

 private:
  int ShownX(int Stored) const;
  int StoredX(int Shown) const;

  QSize FStored;
  TPixelAspect FAspect;
};

// "WxH".
QString FrameSizeText(QSize Size);
