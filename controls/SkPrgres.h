// The progress bar: a percentage shown as a solid, segmented or gradient bar inside the library's
// composite border, horizontal or (when taller than wide) vertical, growing from the bottom.
#pragma once

#include "SkCommon.h"

#include <QWidget>

#include <functional>

enum TBarStyle { bsTraditional, bsLED, bsGradient };

// Stores PartsComplete (at most TotalParts) and, when there is a total, the percentage it makes
// (halves to even).
void SetPercentBarParts(TPercentBar& Bar, unsigned PartsComplete);

// Everything a progress bar's picture depends on.
struct TSkProgressBarPaint {
  TColor BackColor = clWhite, BackColorStop = clBtnFace;
  TColor BarColor = clHighlight, BarColorStop = clHotLight;
  TBarStyle BarStyle = bsTraditional;
  TInnerOuterBorders Borders;  // Color, ParentColor and the bevel colours are set by the painter
  TGradientDirection GradientDirection = gdHorizontalCenter;
  int InteriorOffset = 0;
  int NumSegments = 20;
  TPercentBar Bar;
  bool ThemeAware = true;
};
// Border (or the visual style's frame), interior offset and bar into Bounds.
void PaintProgressBar(QPainter& Canvas, const TRect& Bounds, const TSkProgressBarPaint& Bar);

class TSkCustomProgressBar : public QWidget,
                             public TSkFrameControlled,
                             public ISkFrameControllerClient {
  Q_OBJECT
 public:
  explicit TSkCustomProgressBar(QWidget* Parent = nullptr);

  int Percent() const { return FPaint.Bar.Percent; }
  // Takes Value within 0..100; a change fires OnChange and repaints.
  void SetPercent(int Value);
  unsigned PartsComplete() const { return FPaint.Bar.PartsComplete; }
  // At most TotalParts; sets Percent from the parts when there is a total.
  void SetPartsComplete(unsigned Value);
  unsigned TotalParts() const { return FPaint.Bar.TotalParts; }
  // Starts over: PartsComplete and Percent become 0.
  void SetTotalParts(unsigned Value);
  TBarStyle BarStyle() const { return FPaint.BarStyle; }
  // Segments hide the text and stand one pixel off the border; the other styles show it.
  void SetBarStyle(TBarStyle Value);
  TOrientation Orientation() const { return FPaint.Bar.Orientation; }
  void SetOrientation(TOrientation Value) { StoreAndUpdate(*this, FPaint.Bar.Orientation, Value); }

  TColor BackColor() const { return FPaint.BackColor; }
  void SetBackColor(TColor Value) { StoreAndUpdate(*this, FPaint.BackColor, Value); }
  TColor BackColorStop() const { return FPaint.BackColorStop; }
  void SetBackColorStop(TColor Value) { StoreAndUpdate(*this, FPaint.BackColorStop, Value); }
  TColor BarColor() const { return FPaint.BarColor; }
  void SetBarColor(TColor Value) { StoreAndUpdate(*this, FPaint.BarColor, Value); }
  TColor BarColorStop() const { return FPaint.BarColorStop; }
  void SetBarColorStop(TColor Value) { StoreAndUpdate(*this, FPaint.BarColorStop, Value); }
  int BevelWidth() const { return FPaint.Borders.BevelWidth; }
  void SetBevelWidth(int Value) { StoreAndUpdate(*this, FPaint.Borders.BevelWidth, Value); }
  TColor BorderColor() const { return FPaint.Borders.BorderColor; }
  void SetBorderColor(TColor Value) { StoreAndUpdate(*this, FPaint.Borders.BorderColor, Value); }
  TFrameStyleEx BorderInner() const { return FPaint.Borders.BorderInner; }
  void SetBorderInner(TFrameStyleEx V) { StoreAndUpdate(*this, FPaint.Borders.BorderInner, V); }
  TFrameStyleEx BorderOuter() const { return FPaint.Borders.BorderOuter; }
  void SetBorderOuter(TFrameStyleEx V) { StoreAndUpdate(*this, FPaint.Borders.BorderOuter, V); }
  int BorderWidth() const { return FPaint.Borders.BorderWidth; }
  void SetBorderWidth(int Value) { StoreAndUpdate(*this, FPaint.Borders.BorderWidth, Value); }
  TColor FlatColor() const { return FPaint.Borders.FlatColor; }
  void SetFlatColor(TColor Value) { StoreAndUpdate(*this, FPaint.Borders.FlatColor, Value); }
  int FlatColorAdjustment() const { return FPaint.Borders.FlatColorAdjustment; }
  void SetFlatColorAdjustment(int V) {
    StoreAndUpdate(*this, FPaint.Borders.FlatColorAdjustment, V);
  }
  TGradientDirection GradientDirection() const { return FPaint.GradientDirection; }
  void SetGradientDirection(TGradientDirection V) {
    StoreAndUpdate(*this, FPaint.GradientDirection, V);
  }
  int InteriorOffset() const { return FPaint.InteriorOffset; }
  void SetInteriorOffset(int Value) { StoreAndUpdate(*this, FPaint.InteriorOffset, Value); }
  int NumSegments() const { return FPaint.NumSegments; }
  void SetNumSegments(int Value) { StoreAndUpdate(*this, FPaint.NumSegments, Value); }
  bool ShowParts() const { return FPaint.Bar.ShowParts; }
  void SetShowParts(bool Value) { StoreAndUpdate(*this, FPaint.Bar.ShowParts, Value); }
  bool ShowPercent() const { return FPaint.Bar.ShowPercent; }
  void SetShowPercent(bool Value) { StoreAndUpdate(*this, FPaint.Bar.ShowPercent, Value); }
  bool ThemeAware() const { return FPaint.ThemeAware; }
  void SetThemeAware(bool Value) { StoreAndUpdate(*this, FPaint.ThemeAware, Value); }

  // Fired with the new percentage whenever it changes.
  std::function<void(TSkCustomProgressBar& Sender, int Percent)> OnChange;

  void UpdateFrame(const TSkFrameController& Controller,
                   TSkFrameControllerProperty Property) override;
  // The picture's settings as the next paint uses them.
  TSkProgressBarPaint PaintSettings() const;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

 private:
  TSkProgressBarPaint FPaint;
};

class TSkProgressBar : public TSkCustomProgressBar {
  Q_OBJECT
 public:
  using TSkCustomProgressBar::TSkCustomProgressBar;
};
