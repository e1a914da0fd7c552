// Panels and group boxes: the containers every window is laid out with. A panel draws the
// library's composite border, fills its interior solid or with a gradient, optionally a grid, and
// its caption; its layout margins keep children inside the frame. A group box adds a caption
// with one of six frame styles.
#pragma once

#include "SkButton.h"
#include "SkCommon.h"

#include <QWidget>

#include <functional>

enum TSkGridStyle { gsDots, gsDottedLines, gsSolidLines };
enum TSkGroupBoxStyle { gsStandard, gsCustom, gsTopLine, gsFlat, gsBanner, gsUnderline };
using TAlignmentVertical = TVerticalAlignment;

// Everything a panel's picture depends on.
struct TSkPanelPaint {
  // Color is the panel's colour, ParentColor its parent's.
  TInnerOuterBorders Borders;
  bool PaintClientArea = true;
  TSkVisualStyle VisualStyle = vsWinXP;
  TSkGradientColorStyle GradientColorStyle = gcsSystem;
  TColor GradientColorStart = clWhite, GradientColorStop = clBtnFace;
  TGradientDirection GradientDirection = gdHorizontalEnd;
  bool ShowGrid = false;
  TColor GridColor = clBtnShadow;
  TSkGridStyle GridStyle = gsDots;
  int GridXSize = 8, GridYSize = 8;
  QString Caption;
  QFont Font;
  TColor FontColor = clBtnText;
  bool Enabled = true;
  TAlignment Alignment = taCenter;
  TAlignmentVertical AlignmentVertical = avCenter;
  int TextMargin = 0, TextMarginVertical = 0;
  bool WordWrap = true;
};
// The frame colour and its adjustment: a system gradient style brings its own.
void GetFlatColors(const TSkPanelPaint& Panel, TColor& FlatColor, int& Adjustment);
// Border, interior, grid and caption into Bounds.
void PaintPanel(QPainter& Canvas, const TRect& Bounds, const TSkPanelPaint& Panel);
// The grid over Rect: dots or lines every GridXSize by GridYSize pixels.
void DrawPanelGrid(QPainter& Canvas, const TRect& Rect, const TSkPanelPaint& Panel);
// The caption in Rect, placed by the alignments and margins.
void DrawPanelCaption(QPainter& Canvas, const TRect& Rect, const TSkPanelPaint& Panel);

class TSkCustomPanel : public QWidget, public TSkFrameControlled, public ISkFrameControllerClient {
  Q_OBJECT
  Q_PROPERTY(uint Color READ Color WRITE SetColor)
  Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
 public:
  explicit TSkCustomPanel(QWidget* Parent = nullptr);

  QString Caption() const { return FPaint.Caption; }
  void SetCaption(const QString& Value);
  // The panel's own colour, or its parent's with ParentColor.
  TColor Color() const;
  void SetColor(TColor Value);
  bool ParentColor() const { return FParentColor; }
  void SetParentColor(bool Value) { StoreAndUpdate(*this, FParentColor, Value); }
  TColor FontColor() const { return FPaint.FontColor; }
  void SetFontColor(TColor Value) { StoreAndUpdate(*this, FPaint.FontColor, Value); }
  TAlignment Alignment() const { return FPaint.Alignment; }
  void SetAlignment(TAlignment Value) { StoreAndUpdate(*this, FPaint.Alignment, Value); }
  TAlignmentVertical AlignmentVertical() const { return FPaint.AlignmentVertical; }
  void SetAlignmentVertical(TAlignmentVertical V) {
    StoreAndUpdate(*this, FPaint.AlignmentVertical, V);
  }
  TFrameStyleEx BorderInner() const { return FPaint.Borders.BorderInner; }
  void SetBorderInner(TFrameStyleEx Value) { StoreAndRealign(FPaint.Borders.BorderInner, Value); }
  TFrameStyleEx BorderOuter() const { return FPaint.Borders.BorderOuter; }
  void SetBorderOuter(TFrameStyleEx Value) { StoreAndRealign(FPaint.Borders.BorderOuter, Value); }
  TSides BorderSides() const { return FPaint.Borders.BorderSides; }
  void SetBorderSides(TSides Value) { StoreAndRealign(FPaint.Borders.BorderSides, Value); }
  int BorderWidth() const { return FPaint.Borders.BorderWidth; }
  void SetBorderWidth(int Value) { StoreAndRealign(FPaint.Borders.BorderWidth, Value); }
  int BevelWidth() const { return FPaint.Borders.BevelWidth; }
  void SetBevelWidth(int Value) { StoreAndRealign(FPaint.Borders.BevelWidth, Value); }
  TColor BorderColor() const { return FPaint.Borders.BorderColor; }
  void SetBorderColor(TColor Value) { StoreAndUpdate(*this, FPaint.Borders.BorderColor, Value); }
  TColor BorderHighlight() const { return FPaint.Borders.BorderHighlight; }
  void SetBorderHighlight(TColor V) { StoreAndUpdate(*this, FPaint.Borders.BorderHighlight, V); }
  TColor BorderShadow() const { return FPaint.Borders.BorderShadow; }
  void SetBorderShadow(TColor V) { StoreAndUpdate(*this, FPaint.Borders.BorderShadow, V); }
  TColor FlatColor() const { return FPaint.Borders.FlatColor; }
  void SetFlatColor(TColor Value) { StoreAndUpdate(*this, FPaint.Borders.FlatColor, Value); }
  int FlatColorAdjustment() const { return FPaint.Borders.FlatColorAdjustment; }
  void SetFlatColorAdjustment(int V) {
    StoreAndUpdate(*this, FPaint.Borders.FlatColorAdjustment, V);
  }
  bool FullRepaint() const { return FFullRepaint; }
  // Off, a resized panel without a caption repaints only the strips where its frame moved.
  void SetFullRepaint(bool Value);
  TSkGradientColorStyle GradientColorStyle() const { return FPaint.GradientColorStyle; }
  void SetGradientColorStyle(TSkGradientColorStyle V) {
    StoreAndUpdate(*this, FPaint.GradientColorStyle, V);
  }
  TColor GradientColorStart() const { return FPaint.GradientColorStart; }
  void SetGradientColorStart(TColor V) { StoreAndUpdate(*this, FPaint.GradientColorStart, V); }
  TColor GradientColorStop() const { return FPaint.GradientColorStop; }
  void SetGradientColorStop(TColor V) { StoreAndUpdate(*this, FPaint.GradientColorStop, V); }
  TGradientDirection GradientDirection() const { return FPaint.GradientDirection; }
  void SetGradientDirection(TGradientDirection V) {
    StoreAndUpdate(*this, FPaint.GradientDirection, V);
  }
  TColor GridColor() const { return FPaint.GridColor; }
  void SetGridColor(TColor Value) { StoreAndUpdate(*this, FPaint.GridColor, Value); }
  TSkGridStyle GridStyle() const { return FPaint.GridStyle; }
  void SetGridStyle(TSkGridStyle Value) { StoreAndUpdate(*this, FPaint.GridStyle, Value); }
  int GridXSize() const { return FPaint.GridXSize; }
  void SetGridXSize(int Value) { StoreAndUpdate(*this, FPaint.GridXSize, Value); }
  int GridYSize() const { return FPaint.GridYSize; }
  void SetGridYSize(int Value) { StoreAndUpdate(*this, FPaint.GridYSize, Value); }
  bool PaintClientArea() const { return FPaint.PaintClientArea; }
  void SetPaintClientArea(bool V) { StoreAndUpdate(*this, FPaint.PaintClientArea, V); }
  bool ShowGrid() const { return FPaint.ShowGrid; }
  void SetShowGrid(bool Value) { StoreAndUpdate(*this, FPaint.ShowGrid, Value); }
  int TextMargin() const { return FPaint.TextMargin; }
  void SetTextMargin(int Value) { StoreAndUpdate(*this, FPaint.TextMargin, Value); }
  int TextMarginVertical() const { return FPaint.TextMarginVertical; }
  void SetTextMarginVertical(int V) { StoreAndUpdate(*this, FPaint.TextMarginVertical, V); }
  bool Transparent() const { return FPaint.Borders.Transparent; }
  // A transparent panel leaves its interior to the parent; its transparent children repaint.
  void SetTransparent(bool Value);
  TSkVisualStyle VisualStyle() const { return FPaint.VisualStyle; }
  void SetVisualStyle(TSkVisualStyle Value) { StoreAndUpdate(*this, FPaint.VisualStyle, Value); }
  bool WordWrap() const { return FPaint.WordWrap; }
  void SetWordWrap(bool Value) { StoreAndUpdate(*this, FPaint.WordWrap, Value); }
  // The colour scheme read at start and on every style change.
  uint8_t XPColorScheme() const { return FXPColorScheme; }

  // Called last in every paint.
  std::function<void(TSkCustomPanel& Sender, QPainter& Canvas)> OnPaint;

  // The area inside the borders, where children are laid out.
  virtual TRect ClientRect() const;
  void UpdateFrame(const TSkFrameController& Controller,
                   TSkFrameControllerProperty Property) override;
  // The picture's settings as the next paint uses them.
  TSkPanelPaint PaintSettings() const;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void changeEvent(QEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  // Lays the children out inside ClientRect again and repaints.
  void Realign();
  // Stores a setting that moves the frame, then realigns.
  template <typename T>
  void StoreAndRealign(T& Field, T Value) {
    Field = Value;
    Realign();
  }
  // Called after the caption changed.
  virtual void CaptionChanged() {}

 private:
  TSkPanelPaint FPaint;
  TColor FColor = clBtnFace;
  bool FParentColor = false;
  bool FFullRepaint = true;
  uint8_t FXPColorScheme = GetXPColorScheme();
};

class TSkPanel : public TSkCustomPanel {
  Q_OBJECT
 public:
  using TSkCustomPanel::TSkCustomPanel;
};

// Everything a group box's frame and caption depend on beyond the panel's settings.
struct TSkGroupBoxPaint {
  TSkPanelPaint Panel;
  TSkGroupBoxStyle GroupStyle = gsFlat;
  int BannerHeight = 0;
};
// Where a group box's caption goes in a box of Width.
TRect GroupBoxCaptionRect(const TSkGroupBoxPaint& Box, int Width);
// Frame and caption of a group box filling Bounds.
void PaintGroupBox(QPainter& Canvas, const TRect& Bounds, const TSkGroupBoxPaint& Box);
// The area left for the children of a group box whose panel interior is Rect.
TRect GroupBoxClientRect(const TRect& Rect, const TSkGroupBoxPaint& Box);

class TSkCustomGroupBox : public TSkCustomPanel {
  Q_OBJECT
 public:
  explicit TSkCustomGroupBox(QWidget* Parent = nullptr);
  TSkGroupBoxStyle GroupStyle() const { return FGroupStyle; }
  void SetGroupStyle(TSkGroupBoxStyle Value) { StoreAndRealign(FGroupStyle, Value); }
  int BannerHeight() const { return FBannerHeight; }
  void SetBannerHeight(int Value) { StoreAndRealign(FBannerHeight, Value); }

  TRect ClientRect() const override;
  // Only a custom-styled box follows a frame controller.
  void UpdateFrame(const TSkFrameController& Controller,
                   TSkFrameControllerProperty Property) override;
  TSkGroupBoxPaint GroupBoxSettings() const;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  bool event(QEvent* Event) override;
  void CaptionChanged() override;

  TSkGroupBoxStyle FGroupStyle = gsFlat;
  int FBannerHeight = 0;
  int FMnemonic = 0;
};

class TSkGroupBox : public TSkCustomGroupBox {
  Q_OBJECT
 public:
  using TSkCustomGroupBox::TSkCustomGroupBox;
};
