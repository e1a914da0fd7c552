// The progress-bar painters and the text helpers they and the controls share.
#include "SkCommon.h"

#include <QFontDatabase>
#include <QFontMetrics>

#include <algorithm>
#include <cmath>

namespace {

int RoundHalfEven(double Value) { return int(std::nearbyint(Value)); }

int ClampPercent(int Percent) { return std::clamp(Percent, 0, 100); }

// The part of Rect beyond the bar's end.
TRect RestRect(const TRect& Rect, const TRect& BarRect, TOrientation Orientation) {
  if (Orientation == orVertical) return {Rect.Left, Rect.Top, Rect.Right, BarRect.Top};
  return {BarRect.Right, Rect.Top, Rect.Right, Rect.Bottom};
}

// The bar text centred on the whole rect, clipped to Clip.
void DrawBarText(QPainter& Canvas, const TRect& Rect, const TRect& Clip, const QString& Text,
                 TColor Color) {
  if (Text.isEmpty() || Clip.IsEmpty()) return;
  const QFontMetrics metrics(Canvas.font());
  const int x = (Rect.Left + Rect.Right) / 2 - metrics.horizontalAdvance(Text) / 2;
  const int y = Rect.Top + (Rect.Height() - metrics.height()) / 2;
  Canvas.save();
  Canvas.setClipRect(Clip.ToQRect(), Qt::IntersectClip);
  Canvas.setPen(ToQColor(Color));
  Canvas.drawText(x, y + metrics.ascent(), Text);
  Canvas.restore();
}

// A segment: an outline in the back colour around a face in the bar colour.
void DrawSegment(QPainter& Canvas, const TRect& Segment, TColor Face, TColor Outline,
                 bool Transparent) {
  if (!Transparent) DrawBox(Canvas, Segment, Outline);
  FillRect(Canvas, Segment.Inflated(-1, -1), Face);
}

void DrawThemedChunks(QPainter& Canvas, const TRect& Rect, TOrientation Orientation, int Percent) {
  const TRect inner = Rect.Inflated(-1, -1);
  TRect chunk = inner;
  if (Orientation == orVertical)
    chunk.Top = inner.Bottom - RoundHalfEven(Percent * inner.Height() / 100.0);
  else
    chunk.Right = inner.Left + RoundHalfEven(Percent * inner.Width() / 100.0);
  FillRect(Canvas, chunk, clHighlight);
}

}  // namespace

void DrawLEDProgressBar(QPainter& Canvas, const TRect& Rect, TOrientation Orientation,
                        TColor BarColor, TColor BackColor, int NumSegments, int Percent,
                        bool ThemeAware, bool Transparent) {
  Percent = ClampPercent(Percent);
  if (ThemeAware && UseVisualStyles()) return DrawThemedChunks(Canvas, Rect, Orientation, Percent);
  const bool vertical = Orientation == orVertical;
  const int length = vertical ? Rect.Height() : Rect.Width();
  int count = NumSegments, size = count > 0 ? length / count : 0;
  if (length <= 80 && count >= 11) count = 10, size = length / 10;
  if (size <= 0) {
    if (!Transparent) FillRect(Canvas, Rect, BackColor);
    return;
  }
  const int total = count + std::max((length - count * size) / size, 0);
  const int offset = (length - total * size) / 2;
  const auto segment = [&](int From, int To) {
    return vertical ? TRect{Rect.Left, Rect.Top + From, Rect.Right, Rect.Top + To}
                    : TRect{Rect.Left + From, Rect.Top, Rect.Left + To, Rect.Bottom};
  };
  if (!Transparent) {
    FillRect(Canvas, segment(0, offset), BackColor);
    FillRect(Canvas, segment(offset + total * size, length), BackColor);
  }
  const int lit = Percent * total / 100;
  for (int i = 1; i <= total; ++i) {
    if (i > lit && Transparent) break;
    const int from = offset + (vertical ? total - i : i - 1) * size;
    DrawSegment(Canvas, segment(from, from + size), i <= lit ? BarColor : BackColor, BackColor,
                Transparent);
  }
}

QString PercentBarText(const TPercentBar& Bar) {
  if (!Bar.ShowPercent) return QString();
  if (Bar.ShowParts) return QStringLiteral("%1 / %2").arg(Bar.PartsComplete).arg(Bar.TotalParts);
  return QStringLiteral("%1%").arg(ClampPercent(Bar.Percent));
}

TRect PercentBarRect(const TRect& Rect, const TPercentBar& Bar) {
  const int percent = ClampPercent(Bar.Percent);
  if (percent >= 100) return Rect;
  if (Bar.Orientation == orVertical)
    return {Rect.Left, Rect.Bottom - RoundHalfEven(Rect.Height() * percent / 100.0), Rect.Right,
            Rect.Bottom};
  return {Rect.Left, Rect.Top, Rect.Left + RoundHalfEven(Rect.Width() * percent / 100.0),
          Rect.Bottom};
}

void DrawPercentBar(QPainter& Canvas, const TRect& Rect, const TPercentBar& Bar, TColor BarColor,
                    TColor BackColor) {
  const QString text = PercentBarText(Bar);
  const TRect bar = PercentBarRect(Rect, Bar), rest = RestRect(Rect, bar, Bar.Orientation);
  FillRect(Canvas, bar, BarColor);
  DrawBarText(Canvas, Rect, bar, text, BackColor);
  if (!Bar.Transparent) FillRect(Canvas, rest, BackColor);
  DrawBarText(Canvas, Rect, rest, text, BarColor);
}

void DrawGradientPercentBar(QPainter& Canvas, const TRect& Rect, const TPercentBar& Bar,
                            TColor BarStartColor, TColor BarStopColor, TColor BackStartColor,
                            TColor BackStopColor, TGradientDirection GradientDirection) {
  const QString text = PercentBarText(Bar);
  const TRect bar = PercentBarRect(Rect, Bar), rest = RestRect(Rect, bar, Bar.Orientation);
  PaintGradient(Canvas, bar, GradientDirection, BarStartColor, BarStopColor);
  DrawBarText(Canvas, Rect, bar, text, BackStartColor);
  if (!Bar.Transparent)
    PaintGradient(Canvas, rest, GradientDirection, BackStartColor, BackStopColor);
  DrawBarText(Canvas, Rect, rest, text, BarStartColor);
}

TRect DrawString(QPainter& Canvas, const QString& Text, const TRect& Rect, unsigned Flags) {
  int qtFlags = (Flags & DT_NOPREFIX) ? 0 : Qt::TextShowMnemonic;
  qtFlags |= (Flags & DT_CENTER)  ? Qt::AlignHCenter
             : (Flags & DT_RIGHT) ? Qt::AlignRight
                                  : Qt::AlignLeft;
  qtFlags |= (Flags & DT_VCENTER)  ? Qt::AlignVCenter
             : (Flags & DT_BOTTOM) ? Qt::AlignBottom
                                   : Qt::AlignTop;
  if (Flags & DT_WORDBREAK) qtFlags |= Qt::TextWordWrap;
  if (Flags & DT_SINGLELINE) qtFlags |= Qt::TextSingleLine;
  if (Flags & DT_EXPANDTABS) qtFlags |= Qt::TextExpandTabs;
  if (Flags & DT_CALCRECT) {
    const QFontMetrics metrics(Canvas.font());
    const int width = (Flags & DT_WORDBREAK) ? std::max(Rect.Width(), 1) : 1 << 20;
    const QRect measured = metrics.boundingRect(
        QRect(0, 0, width, 1 << 20),
        qtFlags & ~int(Qt::AlignHorizontal_Mask | Qt::AlignVertical_Mask), Text);
    return {Rect.Left, Rect.Top, Rect.Left + measured.width(), Rect.Top + measured.height()};
  }
  Canvas.save();
  if (Flags & DT_RTLREADING) Canvas.setLayoutDirection(Qt::RightToLeft);
  QRect drawn;
  Canvas.drawText(Rect.ToQRect(), qtFlags, Text, &drawn);
  Canvas.restore();
  return TRect::FromQRect(drawn);
}

void DrawCenteredString(QPainter& Canvas, const QString& Text, const TRect& Rect) {
  DrawString(Canvas, Text, Rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

TRotatedFont CreateRotatedFont(const QFont& Font, int Angle) { return {Font, double(Angle)}; }

bool IsTrueTypeFont(const QFont& Font) {
  return QFontDatabase::isScalable(QFontInfo(Font).family());
}

int GetFontLineHeight(const QFont& Font) { return QFontMetrics(Font).height() + 2; }

QString RemoveAccelChars(const QString& Caption) {
  QString result;
  for (qsizetype i = 0; i < Caption.size(); ++i) {
    if (Caption[i] == QLatin1Char('&') && i + 1 < Caption.size()) ++i;
    result += Caption[i];
  }
  return result;
}

TRect CenterRect(const TRect& Rect, int Width, int Height) {
  const int left = (Rect.Left + Rect.Right - Width) / 2;
  const int top = (Rect.Top + Rect.Bottom - Height) / 2;
  return {left, top, left + Width, top + Height};
}
