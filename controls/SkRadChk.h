// Check boxes and radio buttons: a painted button with a state glyph beside its caption, drawn
// or cut from a strip of custom cells, with read-only and hot-track looks. Checking a radio
// button unchecks the other radio buttons of its parent.
#pragma once

#include "SkButton.h"
#include "SkCommon.h"

#include <functional>

// Everything the glyph of a check box or radio button depends on.
struct TSkGlyphButtonPaint {
  TSkGlyphColors Glyph;
  bool Radio = false;
  bool UseCustomGlyphs = false;
  QImage CustomGlyphs;  // GlyphCount equal cells side by side
  int GlyphCount = 9;
  TColor TransparentColor = clOlive;
};
// The cell of a custom strip for a state and look: normal, pressed, disabled rows of the states
// (radio: unchecked, checked; check box: unchecked, checked, grayed). Disabled wins over pressed.
int CustomGlyphIndex(bool Radio, TSkCheckState State, TSkGlyphDrawState Look);
// The glyph into Rect: the custom cell or the drawn check box or radio button.
void DrawGlyphButtonGlyph(QPainter& Canvas, const TRect& Rect, const TSkGlyphButtonPaint& Button);
// The glyph and caption places in a client area: the glyph on the left (right when reading
// right to left), the caption beside it one pixel in from the edges.
struct TSkGlyphButtonLayout {
  TRect Glyph, Caption;
};
TSkGlyphButtonLayout GlyphButtonLayout(const TRect& Client, QSize GlyphSize,
                                       TVerticalAlignment Alignment, bool RightToLeft);

// The base of check boxes and radio buttons.
class TSkCustomGlyphButton : public TSkCustomButton, public TSkFrameControlled {
  Q_OBJECT
  Q_PROPERTY(uint Color READ Color WRITE SetColor)
  Q_PROPERTY(uint FrameColor READ FrameColor WRITE SetFrameColor)
  Q_PROPERTY(uint FocusColor READ FocusColor WRITE SetFocusColor)
  Q_PROPERTY(uint DisabledColor READ DisabledColor WRITE SetDisabledColor)
  Q_PROPERTY(uint ReadOnlyColor READ ReadOnlyColor WRITE SetReadOnlyColor)
  Q_PROPERTY(bool ReadOnlyColorOnFocus READ ReadOnlyColorOnFocus WRITE SetReadOnlyColorOnFocus)
  Q_PROPERTY(uint FrameControllerNotifications READ FrameControllerNotifications WRITE
                 SetFrameControllerNotifications)
 public:
  TColor FrameColor() const { return FPaint.Glyph.FrameColor; }
  void SetFrameColor(TColor Value) { StoreAndUpdate(*this, FPaint.Glyph.FrameColor, Value); }
  TColor FillColor() const { return FPaint.Glyph.FillColor; }
  void SetFillColor(TColor Value) { StoreAndUpdate(*this, FPaint.Glyph.FillColor, Value); }
  TColor FocusColor() const { return FPaint.Glyph.FocusColor; }
  void SetFocusColor(TColor Value) { StoreAndUpdate(*this, FPaint.Glyph.FocusColor, Value); }
  TColor DisabledColor() const { return FPaint.Glyph.DisabledColor; }
  void SetDisabledColor(TColor V) { StoreAndUpdate(*this, FPaint.Glyph.DisabledColor, V); }
  TColor ReadOnlyColor() const { return FPaint.Glyph.ReadOnlyColor; }
  void SetReadOnlyColor(TColor V) { StoreAndUpdate(*this, FPaint.Glyph.ReadOnlyColor, V); }
  bool ReadOnlyColorOnFocus() const { return FPaint.Glyph.ReadOnlyColorOnFocus; }
  void SetReadOnlyColorOnFocus(bool V) {
    StoreAndUpdate(*this, FPaint.Glyph.ReadOnlyColorOnFocus, V);
  }
  bool ReadOnly() const { return FPaint.Glyph.ReadOnly; }
  virtual void SetReadOnly(bool Value) { StoreAndUpdate(*this, FPaint.Glyph.ReadOnly, Value); }
  TSkHotTrackStyle HotTrackStyle() const { return FPaint.Glyph.HotTrackStyle; }
  void SetHotTrackStyle(TSkHotTrackStyle V) {
    StoreAndUpdate(*this, FPaint.Glyph.HotTrackStyle, V);
  }
  TColor TransparentColor() const { return FPaint.TransparentColor; }
  void SetTransparentColor(TColor V) { StoreAndUpdate(*this, FPaint.TransparentColor, V); }
  const QImage& CustomGlyphs() const { return FPaint.CustomGlyphs; }
  // Takes the strip and uses it whenever it is not empty.
  void SetCustomGlyphs(const QImage& Value);
  bool UseCustomGlyphs() const { return FPaint.UseCustomGlyphs; }
  // On, the glyph takes the size of one strip cell; off, 13 by 13.
  void SetUseCustomGlyphs(bool Value);
  QSize GlyphSize() const { return FGlyphSize; }
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value);
  // Hides the base's caption setter so that a new caption re-sizes and re-grabs its key.
  void SetCaption(const QString& Value);
  bool TabOnEnter = false;

  // A click (a change of the checked state); fires OnClick.
  virtual void Click();
  std::function<void()> OnClick;
  // What a click or the keyboard does to the state.
  virtual void Toggle() = 0;
  // The glyph's settings as the next paint uses them.
  TSkGlyphButtonPaint PaintSettings() const;

 protected:
  TSkCustomGlyphButton(QWidget* Parent, bool Radio);
  virtual TSkCheckState GlyphState() const = 0;
  void ChangeState() override { Toggle(); }
  // Whether the press in progress comes from the mouse.
  bool MousePressing() const { return FMousePressing; }
  // The pressed look the keyboard shows.
  bool FKeyPressed = false;
  // Sizes an auto-sized button to its caption and glyph and repaints.
  void AdjustBounds();

  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;
  void changeEvent(QEvent* Event) override;
  bool event(QEvent* Event) override;

 private:
  TSkGlyphDrawState DrawState() const;

  TSkGlyphButtonPaint FPaint;
  QSize FGlyphSize{13, 13};
  bool FAutoSize = true, FMousePressing = false;
  int FMnemonic = 0;
};

class TSkRadioButton : public TSkCustomGlyphButton {
  Q_OBJECT
 public:
  explicit TSkRadioButton(QWidget* Parent = nullptr);
  bool Checked() const { return FChecked; }
  // Checking unchecks every other radio button of the parent and clicks once.
  void SetChecked(bool Value);
  // Shared with every radio button of the parent.
  void SetReadOnly(bool Value) override;
  void Toggle() override;

 protected:
  TSkCheckState GlyphState() const override { return FChecked ? cbChecked : cbUnchecked; }
  void focusInEvent(QFocusEvent* Event) override;
  // The arrows move to the next or previous button of the group, which the focus checks.
  void keyPressEvent(QKeyEvent* Event) override;

 private:
  // The radio buttons of the parent that the keyboard can reach, in the parent's order.
  QList<TSkRadioButton*> Group() const;

  bool FChecked = false;
};

class TSkCustomCheckBox : public TSkCustomGlyphButton {
  Q_OBJECT
 public:
  explicit TSkCustomCheckBox(QWidget* Parent = nullptr);
  bool AllowGrayed = false;
  TSkCheckState State() const { return FState; }
  // A change repaints and clicks.
  void SetState(TSkCheckState Value);
  bool Checked() const { return FState == cbChecked; }
  void SetChecked(bool Value) { SetState(Value ? cbChecked : cbUnchecked); }
  // Unchecked, grayed (when allowed), checked, unchecked; refused for a read-only box.
  void Toggle() override;

 protected:
  TSkCheckState GlyphState() const override { return FState; }
  void keyPressEvent(QKeyEvent* Event) override;
  void keyReleaseEvent(QKeyEvent* Event) override;

 private:
  TSkCheckState FState = cbUnchecked;
};

class TSkCheckBox : public TSkCustomCheckBox {
  Q_OBJECT
 public:
  using TSkCustomCheckBox::TSkCustomCheckBox;
};
