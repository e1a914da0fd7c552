// Two button bases: TSkCustomButton, the focusable painted button from which check boxes and
// radio buttons derive (pressing, hovering, focus, a caption with text styles), and
// TSkControlButton, the small glyph or arrow button inside edits and spin buttons, with optional
// repeat clicks while held.
#pragma once

#include "SkCommon.h"

#include <QWidget>

#include <functional>
#include <memory>

enum TVerticalAlignment { avTop, avCenter, avBottom };
enum TSkHotTrackColorType { htctComplement, htctActual };
enum TSkControlButtonStyle { cbsNone, cbsLeft, cbsUp, cbsRight, cbsDown, cbsDropDown };

// What a button caption is drawn with.
struct TSkCaptionPaint {
  QString Caption;
  QFont Font;
  TColor FontColor = clBtnText;
  TColor Color = clBtnFace;  // the button's own colour, for the disabled text contrast
  bool Enabled = true;
  bool RightToLeft = false;
  TVerticalAlignment AlignmentVertical = avCenter;
  TTextStyle TextStyle = tsNormal;
  bool LightTextStyle = false;
  TColor TextHighlightColor = clBtnHighlight;
  TColor TextShadowColor = clBtnShadow;
  int TextShadowDepth = 2;
};
// Where a caption TextHeight high goes in Rect: at the top, centred or at the bottom.
TRect PlaceCaption(const TRect& Rect, int TextHeight, TVerticalAlignment Alignment);
// Measures the caption, places it vertically in Rect and draws it with its text style.
void DrawButtonCaption(QPainter& Canvas, const TSkCaptionPaint& Caption, const TRect& Rect,
                       unsigned Flags);

// The focusable button base: tracks the mouse and focus and leaves what a click does to
// ChangeState. A press inside that is released inside is a click.
class TSkCustomButton : public QWidget {
  Q_OBJECT
  Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
 public:
  explicit TSkCustomButton(QWidget* Parent = nullptr);

  QString Caption() const { return FCaption; }
  void SetCaption(const QString& Value);
  TVerticalAlignment AlignmentVertical() const { return FCaptionPaint.AlignmentVertical; }
  void SetAlignmentVertical(TVerticalAlignment V) {
    StoreAndUpdate(*this, FCaptionPaint.AlignmentVertical, V);
  }
  TColor HighlightColor() const { return FHighlightColor; }
  void SetHighlightColor(TColor Value) { StoreAndUpdate(*this, FHighlightColor, Value); }
  bool HotTrack() const { return FHotTrack; }
  void SetHotTrack(bool Value) { StoreAndUpdate(*this, FHotTrack, Value); }
  TColor HotTrackColor() const { return FHotTrackColor; }
  void SetHotTrackColor(TColor Value) { StoreAndUpdate(*this, FHotTrackColor, Value); }
  TSkHotTrackColorType HotTrackColorType() const { return FHotTrackColorType; }
  void SetHotTrackColorType(TSkHotTrackColorType Value) {
    StoreAndUpdate(*this, FHotTrackColorType, Value);
  }
  bool LightTextStyle() const { return FCaptionPaint.LightTextStyle; }
  void SetLightTextStyle(bool Value) { StoreAndUpdate(*this, FCaptionPaint.LightTextStyle, Value); }
  TColor TextHighlightColor() const { return FCaptionPaint.TextHighlightColor; }
  void SetTextHighlightColor(TColor Value) {
    StoreAndUpdate(*this, FCaptionPaint.TextHighlightColor, Value);
  }
  TColor TextShadowColor() const { return FCaptionPaint.TextShadowColor; }
  void SetTextShadowColor(TColor Value) {
    StoreAndUpdate(*this, FCaptionPaint.TextShadowColor, Value);
  }
  int TextShadowDepth() const { return FCaptionPaint.TextShadowDepth; }
  void SetTextShadowDepth(int Value) {
    StoreAndUpdate(*this, FCaptionPaint.TextShadowDepth, Value);
  }
  TTextStyle TextStyle() const { return FCaptionPaint.TextStyle; }
  void SetTextStyle(TTextStyle Value) { StoreAndUpdate(*this, FCaptionPaint.TextStyle, Value); }
  bool ThemeAware() const { return FThemeAware; }
  void SetThemeAware(bool Value) { StoreAndUpdate(*this, FThemeAware, Value); }
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool Value);
  TColor Color() const { return FCaptionPaint.Color; }
  void SetColor(TColor Value) { StoreAndUpdate(*this, FCaptionPaint.Color, Value); }
  TColor FontColor() const { return FCaptionPaint.FontColor; }
  void SetFontColor(TColor Value) { StoreAndUpdate(*this, FCaptionPaint.FontColor, Value); }

  bool Down() const { return FDown; }
  bool MouseOver() const { return FMouseOver; }
  // Whether the button draws itself in the visual style.
  virtual bool UseThemes() const { return FThemeAware && UseVisualStyles(); }
  // The caption in Rect with the button's font and text style.
  virtual void DrawCaption(QPainter& Canvas, const TRect& Rect, unsigned Flags);

 protected:
  // Repaints what shows the pressed, hot and focused state.
  virtual void RepaintState() { update(); }
  // The area that changes with the hover state.
  virtual TRect HotTrackRect() const { return TRect::FromQRect(rect()); }
  // What a click does to the button's state.
  virtual void ChangeState() = 0;

  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void enterEvent(QEnterEvent* Event) override;
  void leaveEvent(QEvent* Event) override;
  void focusInEvent(QFocusEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;
  void changeEvent(QEvent* Event) override;

 private:
  void SetMouseOver(bool Value);

  QString FCaption;
  TSkCaptionPaint FCaptionPaint;
  TColor FHighlightColor = clHighlight;
  bool FHotTrack = false;
  TColor FHotTrackColor = 0x149BF0;
  TSkHotTrackColorType FHotTrackColorType = htctActual;
  bool FThemeAware = true;
  bool FTransparent = false;
  bool FDragging = false, FMouseOver = false, FDown = false;
};

// Everything a control button's picture depends on.
struct TSkControlButtonPaint {
  TRect Bounds;
  bool Flat = false;
  bool Down = false;
  bool MouseInControl = false;
  bool Enabled = true;
  TColor Color = clBtnFace;
  QImage Glyph;  // cells side by side: up, disabled, down
  int NumGlyphs = 1;
  TSkControlButtonStyle Style = cbsNone;
};
// Frame, face and content of a control button.
void PaintControlButton(QPainter& Canvas, const TSkControlButtonPaint& Button);
// The glyph cell shown: 0 up, 1 disabled, 2 down, 0 when the glyph has fewer cells.
int ControlButtonGlyphCell(const TSkControlButtonPaint& Button);

// The small glyph or arrow button. A press and release inside clicks; with RepeatClicks, holding
// it clicks after InitialDelay and then every Delay milliseconds.
class TSkControlButton : public QWidget {
  Q_OBJECT
 public:
  explicit TSkControlButton(QWidget* Parent = nullptr);
  ~TSkControlButton() override;

  bool Flat() const { return FPaint.Flat; }
  void SetFlat(bool Value) { StoreAndUpdate(*this, FPaint.Flat, Value); }
  const QImage& Glyph() const { return FPaint.Glyph; }
  // Takes the glyph; a strip of square cells sets NumGlyphs to the cell count (1 above 4).
  void SetGlyph(const QImage& Value);
  int NumGlyphs() const { return FPaint.NumGlyphs; }
  void SetNumGlyphs(int Value) { StoreAndUpdate(*this, FPaint.NumGlyphs, std::max(Value, 1)); }
  uint16_t Delay = 100;         // ms between repeat clicks
  uint16_t InitialDelay = 400;  // ms before the first repeat click
  bool RepeatClicks = false;
  TSkControlButtonStyle Style() const { return FPaint.Style; }
  void SetStyle(TSkControlButtonStyle Value) { StoreAndUpdate(*this, FPaint.Style, Value); }
  TColor Color() const { return FPaint.Color; }
  void SetColor(TColor Value) { StoreAndUpdate(*this, FPaint.Color, Value); }

  bool Down() const { return FPaint.Down; }
  bool MouseInControl() const { return FPaint.MouseInControl; }
  // Fires OnClick.
  virtual void Click();
  std::function<void()> OnClick;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void enterEvent(QEnterEvent* Event) override;
  void leaveEvent(QEvent* Event) override;
  void changeEvent(QEvent* Event) override;

 private:
  void SetMouseInControl(bool Value);
  void RepeatTimer();

  TSkControlButtonPaint FPaint;
  bool FDragging = false;
  std::unique_ptr<TSkTimer> FRepeatTimer;
};
