// Status panes: a framed line of text that can size itself to its caption and blink with the
// other blinking controls, and a pane that shows a progress bar.
#pragma once

#include "SkCommon.h"
#include "SkPrgres.h"

#include <QWidget>

#include <algorithm>

// Everything a status pane's frame and text depend on.
struct TSkStatusPanePaint {
  TColor Color = clWindow;  // filled unless Transparent
  bool Transparent = true;
  int BorderWidth = 1;
  TFrameStyle FrameStyle = fsFlat;
  TColor FlatColor = clBtnShadow;
  int FlatColorAdjustment = 30;
  QString Caption;
  QFont Font;
  TColor TextColor = clWindowText;
  TAlignment Alignment = taLeftJustify;
  bool RightToLeft = false;
};
// The area inside the frame and the border width.
TRect StatusPaneContentRect(const TRect& Bounds, const TSkStatusPanePaint& Pane);
// Background, frame and caption into Bounds.
void PaintStatusPane(QPainter& Canvas, const TRect& Bounds, const TSkStatusPanePaint& Pane);
// The width an auto-sized pane takes: its caption and margins, 40 without a caption.
int StatusPaneAutoWidth(const TSkStatusPanePaint& Pane);

class TSkCustomStatusPane : public QWidget,
                            public TSkFrameControlled,
                            public ISkFrameControllerClient {
  Q_OBJECT
  Q_PROPERTY(uint Color READ Color WRITE SetColor)
  Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
 public:
  explicit TSkCustomStatusPane(QWidget* Parent = nullptr);

  QString Caption() const { return FPaint.Caption; }
  void SetCaption(const QString& Value);
  TAlignment Alignment() const { return FPaint.Alignment; }
  void SetAlignment(TAlignment Value) { StoreAndUpdate(*this, FPaint.Alignment, Value); }
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value);
  bool Blinking() const { return FBlink.Blinking(); }
  void SetBlinking(bool Value) { FBlink.SetBlinking(Value); }
  TColor BlinkColor() const { return FBlink.BlinkColor(); }
  void SetBlinkColor(TColor Value) { FBlink.SetBlinkColor(Value); }
  int BorderWidth() const { return FPaint.BorderWidth; }
  void SetBorderWidth(int Value);
  // The pane's colour, or its parent's with ParentColor.
  TColor Color() const;
  void SetColor(TColor Value);
  bool ParentColor() const { return FParentColor; }
  void SetParentColor(bool Value) { StoreAndUpdate(*this, FParentColor, Value); }
  TColor FlatColor() const { return FPaint.FlatColor; }
  void SetFlatColor(TColor Value) { StoreAndUpdate(*this, FPaint.FlatColor, Value); }
  int FlatColorAdjustment() const { return FPaint.FlatColorAdjustment; }
  void SetFlatColorAdjustment(int V) { StoreAndUpdate(*this, FPaint.FlatColorAdjustment, V); }
  TFrameStyle FrameStyle() const { return FPaint.FrameStyle; }
  void SetFrameStyle(TFrameStyle Value) { StoreAndUpdate(*this, FPaint.FrameStyle, Value); }
  bool Transparent() const { return FPaint.Transparent; }
  void SetTransparent(bool Value);
  // The text colour at rest; while blinking the blink colour alternates with it.
  TColor FontColor() const { return FBlink.NormalColor(); }
  void SetFontColor(TColor Value);
  TColor TextColor() const { return FBlink.Current(); }

  void UpdateFrame(const TSkFrameController& Controller,
                   TSkFrameControllerProperty Property) override;
  TSkStatusPanePaint PaintSettings() const;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void changeEvent(QEvent* Event) override;
  // Sizes an auto-sized pane to its caption and repaints.
  void AdjustSize();

 private:
  TSkStatusPanePaint FPaint;
  TColor FColor = clWindow;
  bool FParentColor = true, FAutoSize = false;
  TSkBlinkingText FBlink{*this};
};

// Everything a progress pane's bar depends on.
struct TSkProgressStatusPaint {
  TSkStatusPanePaint Pane;
  TColor BackColor = clBtnFace, BackColorStop = clBtnFace;
  TColor BarColor = clHighlight, BarColorStop = clHotLight;
  TBarStyle BarStyle = bsTraditional;
  TGradientDirection GradientDirection = gdHorizontalCenter;
  int NumSegments = 15;
  TPercentBar Bar;  // always horizontal and transparent
};
// The pane's frame, then the bar one pixel in from the top and bottom of its content.
void PaintProgressStatus(QPainter& Canvas, const TRect& Bounds, const TSkProgressStatusPaint& P);

class TSkProgressStatus : public TSkCustomStatusPane {
  Q_OBJECT
 public:
  explicit TSkProgressStatus(QWidget* Parent = nullptr);

  int Percent() const { return FBar.Bar.Percent; }
  // Takes Value within 0..100.
  void SetPercent(int Value) { StoreAndUpdate(*this, FBar.Bar.Percent, std::clamp(Value, 0, 100)); }
  unsigned PartsComplete() const { return FBar.Bar.PartsComplete; }
  // At most TotalParts; sets Percent from the parts when there is a total.
  void SetPartsComplete(unsigned Value);
  unsigned TotalParts() const { return FBar.Bar.TotalParts; }
  // Starts over: PartsComplete and Percent become 0.
  void SetTotalParts(unsigned Value);
  bool ShowPercent() const { return FBar.Bar.ShowPercent; }
  void SetShowPercent(bool Value) { StoreAndUpdate(*this, FBar.Bar.ShowPercent, Value); }
  bool ShowParts() const { return FBar.Bar.ShowParts; }
  void SetShowParts(bool Value) { StoreAndUpdate(*this, FBar.Bar.ShowParts, Value); }
  TBarStyle BarStyle() const { return FBar.BarStyle; }
  void SetBarStyle(TBarStyle Value) { StoreAndUpdate(*this, FBar.BarStyle, Value); }
  TColor BackColor() const { return FBar.BackColor; }
  void SetBackColor(TColor Value) { StoreAndUpdate(*this, FBar.BackColor, Value); }
  TColor BackColorStop() const { return FBar.BackColorStop; }
  void SetBackColorStop(TColor Value) { StoreAndUpdate(*this, FBar.BackColorStop, Value); }
  TColor BarColor() const { return FBar.BarColor; }
  void SetBarColor(TColor Value) { StoreAndUpdate(*this, FBar.BarColor, Value); }
  TColor BarColorStop() const { return FBar.BarColorStop; }
  void SetBarColorStop(TColor Value) { StoreAndUpdate(*this, FBar.BarColorStop, Value); }
  TGradientDirection GradientDirection() const { return FBar.GradientDirection; }
  void SetGradientDirection(TGradientDirection V) {
    StoreAndUpdate(*this, FBar.GradientDirection, V);
  }
  int NumSegments() const { return FBar.NumSegments; }
  void SetNumSegments(int Value) { StoreAndUpdate(*this, FBar.NumSegments, Value); }

 protected:
  void paintEvent(QPaintEvent* Event) override;

 private:
  TSkProgressStatusPaint FBar;
};
