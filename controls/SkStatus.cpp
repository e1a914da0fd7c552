#include "SkStatus.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>

namespace {

// Pixels between the content edge and the text.
constexpr int TextMargin = 2;
// The width of an auto-sized pane without a caption.
constexpr int EmptyAutoWidth = 40;

int FrameThickness(TFrameStyle Style) {
  switch (Style) {
    case fsNone:
      return 0;
    case fsFlat:
    case fsStatus:
    case fsPopup:
      return 1;
    default:
      return 2;
  }
}

// A one-pixel frame without its four corner pixels.
void DrawCutFrame(QPainter& Canvas, const TRect& R, TColor Color) {
  FillRect(Canvas, {R.Left, R.Top + 1, R.Left + 1, R.Bottom - 1}, Color);
  FillRect(Canvas, {R.Left + 1, R.Top, R.Right - 1, R.Top + 1}, Color);
  FillRect(Canvas, {R.Right - 1, R.Top + 1, R.Right, R.Bottom - 1}, Color);
  FillRect(Canvas, {R.Left + 1, R.Bottom - 1, R.Right - 1, R.Bottom}, Color);
}

void DrawPaneFrame(QPainter& Canvas, const TRect& Bounds, const TSkStatusPanePaint& P) {
  if (!P.Transparent) FillRect(Canvas, Bounds, P.Color);
  const TRect r = Bounds.Inflated(-P.BorderWidth, -P.BorderWidth);
  if (P.FrameStyle == fsFlat)
    DrawCutFrame(Canvas, r, AdjustColor(P.FlatColor, P.FlatColorAdjustment));
  else
    DrawBorder(Canvas, r, P.FrameStyle);
}

}  // namespace

TRect StatusPaneContentRect(const TRect& Bounds, const TSkStatusPanePaint& P) {
  const int inset = P.BorderWidth + FrameThickness(P.FrameStyle);
  return Bounds.Inflated(-inset, -inset);
}

void PaintStatusPane(QPainter& Canvas, const TRect& Bounds, const TSkStatusPanePaint& P) {
  DrawPaneFrame(Canvas, Bounds, P);
  const TRect content = StatusPaneContentRect(Bounds, P);
  Canvas.save();
  Canvas.setFont(P.Font);
  Canvas.setPen(ToQColor(P.TextColor));
  Canvas.setClipRect(content.ToQRect(), Qt::IntersectClip);
  const QFontMetrics metrics(P.Font);
  const int y = content.Top + (content.Height() - metrics.height()) / 2;
  TAlignment alignment = P.Alignment;
  if (P.RightToLeft && alignment != taCenter)
    alignment = alignment == taLeftJustify ? taRightJustify : taLeftJustify;
  const TRect line{content.Left + TextMargin + 1, y, content.Right - TextMargin - 1,
                   y + metrics.height()};
  DrawString(Canvas, P.Caption,
             alignment == taCenter ? TRect{content.Left, y, content.Right, line.Bottom} : line,
             DT_SINGLELINE | DT_NOPREFIX | DT_EXPANDTABS | AlignmentFlags(alignment) |
                 (P.RightToLeft ? DT_RTLREADING : 0u));
  Canvas.restore();
}

int StatusPaneAutoWidth(const TSkStatusPanePaint& P) {
  if (P.Caption.isEmpty()) return EmptyAutoWidth;
  const QFontMetrics metrics(P.Font);
  const int text = metrics
                       .boundingRect(QRect(0, 0, 1 << 20, 1 << 20),
                                     Qt::TextSingleLine | Qt::TextExpandTabs, P.Caption)
                       .width();
  return 2 * P.BorderWidth + text + 2 + 6;
}

// ---- TSkCustomStatusPane
// ----------------------------------------------------------------------------

TSkCustomStatusPane::TSkCustomStatusPane(QWidget* Parent)
    : QWidget(Parent), TSkFrameControlled(static_cast<QObject&>(*this)) {
  resize(100, 20);
}

void TSkCustomStatusPane::SetCaption(const QString& Value) {
  if (FPaint.Caption == Value) return;
  FPaint.Caption = Value;
  AdjustSize();
}

void TSkCustomStatusPane::SetAutoSize(bool Value) {
  FAutoSize = Value;
  AdjustSize();
}

void TSkCustomStatusPane::SetBorderWidth(int Value) {
  FPaint.BorderWidth = Value;
  AdjustSize();
}

TColor TSkCustomStatusPane::Color() const {
  return FParentColor ? ParentControlColor(*this) : FColor;
}

void TSkCustomStatusPane::SetColor(TColor Value) {
  FParentColor = false;
  StoreAndUpdate(*this, FColor, Value);
}

void TSkCustomStatusPane::SetTransparent(bool Value) {
  FPaint.Transparent = Value;
  setAttribute(Qt::WA_OpaquePaintEvent, !Value);
  update();
}

void TSkCustomStatusPane::SetFontColor(TColor Value) { FBlink.SetNormalColor(Value); }

void TSkCustomStatusPane::AdjustSize() {
  if (FAutoSize) resize(StatusPaneAutoWidth(PaintSettings()), height());
  update();
}

void TSkCustomStatusPane::UpdateFrame(const TSkFrameController& Controller,
                                      TSkFrameControllerProperty Property) {
  if (FrameSettingApplies(Property, fcpFrameStyle)) FPaint.FrameStyle = Controller.FrameStyle();
  if (FrameSettingApplies(Property, fcpFrameColor)) {
    FPaint.FlatColor = Controller.FrameColor();
    FPaint.FlatColorAdjustment = 0;
  }
  if (FrameSettingApplies(Property, fcpColor)) {
    FColor = Controller.Color();
    FParentColor = false;
  }
  if (FrameSettingApplies(Property, fcpParentColor)) FParentColor = Controller.ParentColor();
  update();
}

TSkStatusPanePaint TSkCustomStatusPane::PaintSettings() const {
  TSkStatusPanePaint paint = FPaint;
  paint.Color = Color();
  paint.Font = font();
  paint.TextColor = FBlink.Current();
  paint.RightToLeft = layoutDirection() == Qt::RightToLeft;
  return paint;
}

void TSkCustomStatusPane::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  PaintStatusPane(canvas, TRect::FromQRect(rect()), PaintSettings());
}

void TSkCustomStatusPane::changeEvent(QEvent* Event) {
  QWidget::changeEvent(Event);
  if (Event->type() == QEvent::FontChange) AdjustSize();
}

// ---- TSkProgressStatus
// ------------------------------------------------------------------------------

void PaintProgressStatus(QPainter& Canvas, const TRect& Bounds, const TSkProgressStatusPaint& P) {
  DrawPaneFrame(Canvas, Bounds, P.Pane);
  const TRect r = StatusPaneContentRect(Bounds, P.Pane).Inflated(0, -1);
  TPercentBar bar = P.Bar;
  bar.Orientation = orHorizontal;
  bar.Transparent = true;
  Canvas.save();
  Canvas.setFont(P.Pane.Font);
  switch (P.BarStyle) {
    case bsTraditional:
      DrawPercentBar(Canvas, r, bar, P.BarColor, P.BackColor);
      break;
    case bsLED:
      DrawLEDProgressBar(Canvas, r, orHorizontal, P.BarColor, P.BackColor, P.NumSegments,
                         bar.Percent, false, true);
      break;
    case bsGradient:
      DrawGradientPercentBar(Canvas, r, bar, P.BarColor, P.BarColorStop, P.BackColor,
                             P.BackColorStop, P.GradientDirection);
      break;
  }
  Canvas.restore();
}

TSkProgressStatus::TSkProgressStatus(QWidget* Parent) : TSkCustomStatusPane(Parent) {}

void TSkProgressStatus::SetPartsComplete(unsigned Value) {
  SetPercentBarParts(FBar.Bar, Value);
  update();
}

void TSkProgressStatus::SetTotalParts(unsigned Value) {
  FBar.Bar.TotalParts = Value;
  FBar.Bar.PartsComplete = 0;
  FBar.Bar.Percent = 0;
  update();
}

void TSkProgressStatus::paintEvent(QPaintEvent*) {
  FBar.Pane = PaintSettings();
  QPainter canvas(this);
  PaintProgressStatus(canvas, TRect::FromQRect(rect()), FBar);
}
