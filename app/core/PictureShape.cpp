#include "PictureShape.h"

#include "U_Formats.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// An unknown or broken aspect counts as square pixels, as players take it.
TPixelAspect Reduced(TPixelAspect Aspect) {
  if (Aspect.Num <= 0 || Aspect.Den <= 0) return {};
  const int divisor = std::gcd(Aspect.Num, Aspect.Den);
  return {Aspect.Num / divisor, Aspect.Den / divisor};
}

}  // namespace

TPictureShape::TPictureShape(QSize Stored, TPixelAspect Aspect)
    : FStored(Stored), FAspect(Reduced(Aspect)) {}

TPictureShape::TPictureShape(const TFileOption& Entry)
    : TPictureShape(ParseFrameSize(Entry.SourceFrameSize), Entry.SourcePixelAspect) {}

int TPictureShape::ShownX(int Stored) const {
  return int(std::lround(double(Stored) * FAspect.Num / FAspect.Den));
}

int TPictureShape::StoredX(int Shown) const {
  return std::clamp(int(std::lround(double(Shown) * FAspect.Den / FAspect.Num)), 0,
                    FStored.width());
}

QSize TPictureShape::ShownSize(QSize Stored) const {
  if (Stored.isEmpty()) return Stored;
  return {std::max(1, ShownX(Stored.width())), Stored.height()};
}

TIntRect TPictureShape::ToShown(const TIntRect& Stored) const {
  if (IsSquare()) return Stored;
  return {ShownX(Stored.Left), Stored.Top, ShownX(Stored.Right), Stored.Bottom};
}

TIntRect TPictureShape::ToStored(const TIntRect& Shown) const {
  if (IsSquare()) return Shown;
  return {StoredX(Shown.Left), Shown.Top, StoredX(Shown.Right), Shown.Bottom};
}

QSize TPictureShape::DefaultOutputSize() const {
  const QSize shown = Shown();
  if (shown.isEmpty() || (shown.width() <= MaxFrameWidth && shown.height() <= MaxFrameHeight))
    return shown;
  const double scale =
      std::min(double(MaxFrameWidth) / shown.width(), double(MaxFrameHeight) / shown.height());
  const auto side = [scale](int Length, int Most) {
    return std::clamp(int(std::lround(Length * scale)), MinFrameSide, Most);
  };
  return {side(shown.width(), MaxFrameWidth), side(shown.height(), MaxFrameHeight)};
}

QString FrameSizeText(QSize Size) {
  return QStringLiteral("%1x%2").arg(Size.width()).arg(Size.height());
}
