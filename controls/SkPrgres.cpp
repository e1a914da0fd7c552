#include "SkPrgres.h"

#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>

namespace {

// The progress frame of our fixed visual style.
void DrawThemedProgressFrame(QPainter& Canvas, const TRect& Rect) {
  FillRect(Canvas, DrawBox(Canvas, Rect, RGB(188, 188, 188)), RGB(230, 230, 230));
}

}  // namespace

void SetPercentBarParts(TPercentBar& Bar, unsigned PartsComplete) {
  Bar.PartsComplete = std::min(PartsComplete, Bar.TotalParts);
  if (Bar.TotalParts != 0)
    Bar.Percent = int(std::nearbyint(double(Bar.PartsComplete) / Bar.TotalParts * 100));
}

void PaintProgressBar(QPainter& Canvas, const TRect& Bounds, const TSkProgressBarPaint& P) {
  TRect r = Bounds;
  if (P.ThemeAware && UseVisualStyles()) {
    DrawThemedProgressFrame(Canvas, r);
    const int inset = P.InteriorOffset + (P.BarStyle == bsLED ? 1 : 3);
    r = r.Inflated(-inset, -inset);
  } else {
    FillRect(Canvas, r, P.BackColor);
    TInnerOuterBorders borders = P.Borders;
    borders.BorderHighlight = clBtnHighlight;
    borders.BorderShadow = clBtnShadow;
    borders.Color = P.BackColor;
    borders.Transparent = false;
    borders.CutInnerFlatCorners = true;
    r = DrawInnerOuterBorders(Canvas, r, borders);
    if (P.InteriorOffset > 0) r = DrawBevel(Canvas, r, P.BackColor, P.BackColor, P.InteriorOffset);
  }
  TPercentBar bar = P.Bar;
  bar.Transparent = false;
  switch (P.BarStyle) {
    case bsTraditional:
      return DrawPercentBar(Canvas, r, bar, P.BarColor, P.BackColor);
    case bsLED:
      return DrawLEDProgressBar(Canvas, r, bar.Orientation, P.BarColor, P.BackColor, P.NumSegments,
                                bar.Percent, P.ThemeAware, false);
    case bsGradient:
      return DrawGradientPercentBar(Canvas, r, bar, P.BarColor, P.BarColorStop, P.BackColor,
                                    P.BackColorStop, P.GradientDirection);
  }
}

TSkCustomProgressBar::TSkCustomProgressBar(QWidget* Parent)
    : QWidget(Parent), TSkFrameControlled(static_cast<QObject&>(*this)) {
  FPaint.Borders.BorderOuter = fsLowered;
  FPaint.Borders.FlatColorAdjustment = 30;
  FPaint.Bar.ShowPercent = true;
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(200, 24);
}

void TSkCustomProgressBar::SetPercent(int Value) {
  Value = std::clamp(Value, 0, 100);
  if (FPaint.Bar.Percent == Value) return;
  FPaint.Bar.Percent = Value;
  if (OnChange) OnChange(*this, Value);
  update();
}

void TSkCustomProgressBar::SetPartsComplete(unsigned Value) {
  TPercentBar next = FPaint.Bar;
  SetPercentBarParts(next, Value);
  FPaint.Bar.PartsComplete = next.PartsComplete;
  SetPercent(next.Percent);
  update();
}

void TSkCustomProgressBar::SetTotalParts(unsigned Value) {
  FPaint.Bar.TotalParts = Value;
  FPaint.Bar.PartsComplete = 0;
  SetPercent(0);
  update();
}

void TSkCustomProgressBar::SetBarStyle(TBarStyle Value) {
  FPaint.BarStyle = Value;
  FPaint.Bar.ShowPercent = Value != bsLED;
  FPaint.InteriorOffset = Value == bsLED ? 1 : 0;
  update();
}

void TSkCustomProgressBar::UpdateFrame(const TSkFrameController& Controller,
                                       TSkFrameControllerProperty Property) {
  if (FrameSettingApplies(Property, fcpFrameStyle))
    FPaint.Borders.BorderOuter = Controller.FrameStyle();
  if (FrameSettingApplies(Property, fcpFrameColor)) {
    FPaint.Borders.FlatColor = Controller.FrameColor();
    FPaint.Borders.FlatColorAdjustment = 0;
  }
  if (FrameSettingApplies(Property, fcpColor)) FPaint.BackColor = Controller.Color();
  update();
}

TSkProgressBarPaint TSkCustomProgressBar::PaintSettings() const {
  TSkProgressBarPaint paint = FPaint;
  paint.Borders.ParentColor = ParentControlColor(*this);
  return paint;
}

void TSkCustomProgressBar::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  canvas.setFont(font());
  PaintProgressBar(canvas, TRect::FromQRect(rect()), PaintSettings());
}

void TSkCustomProgressBar::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  SetOrientation(height() > width() ? orVertical : orHorizontal);
}
