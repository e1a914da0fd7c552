// The framed edits: the state-colour and frame rules shared by every framed input control
// (TSkFramed, used by the edit, memo, combo box and list view), the single-line edit base with
// its embedded drop-down button (TSkCustomEdit, TSkEdit), the colour edit that drops a colour
// picker down (TSkColorEdit) and the framed memo (TSkMemo).
//
// A framed control keeps Qt's own frame off and paints its 2-pixel ring itself, so the frame
// styles of the library look the same on every control; its background colour follows the
// state (disabled, focused, read-only, normal) through the palette.
#pragma once

#include "SkCommon.h"

#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>

#include <functional>

class TSkCustomColors;

// Width of the drop-down button strip and of a vertical scroll bar.
inline constexpr int SkScrollBarWidth = 17;

// The colour and frame settings every framed control shares.
struct TSkFrameSettings {
  TColor DisabledColor = clBtnFace;
  TColor FocusColor = clWindow;
  TColor NormalColor = clWindow;
  TColor ReadOnlyColor = clInfoBk;
  bool ReadOnlyColorOnFocus = false;
  TColor FrameColor = clBtnShadow;
  TColor FrameHotColor = clBtnShadow;
  bool FrameHotTrack = false;
  TFrameStyle FrameHotStyle = fsFlatBold;
  TSides FrameSides = AllSides;
  TFrameStyle FrameStyle = fsFlat;
  bool FrameVisible = false;
  TFramingPreference FramingPreference = fpXPThemes;
  TColor FlatButtonColor = clBtnFace;
  bool FlatButtons = false;
};

// The colour a framed control shows: disabled, then focused (read-only keeps its colour only
// with ReadOnlyColorOnFocus), then read-only, else the normal colour.
TColor StateColor(const TSkFrameSettings& S, bool Enabled, bool Focused, bool ReadOnly);
// Whether the platform's themed frame replaces the custom one.
bool UsesThemedFrame(const TSkFrameSettings& S);
// The ring of a framed control of Size: the custom frame (hot style and colour while Hot and
// hot tracking) when visible, else the sunken border of a plain edit.
void PaintControlFrame(QPainter& Canvas, QSize Size, const TSkFrameSettings& S, TColor Color,
                       bool Hot);

// What an embedded drop-down button looks like.
struct TSkDropButtonPaint {
  TRect Bounds;
  bool Flat = false;     // FlatButtons
  bool Hot = false;      // the control has the focus or the mouse
  bool Pressed = false;  // the list is dropped or the button held
  bool Enabled = true;
  TColor FlatButtonColor = clBtnFace;
  TColor ControlColor = clWindow;  // what a flat button shows while the control is not hot
};
// A raised combo button, or flat: the control's colour with a bare arrow until hot, then a
// bevel (button face) or a coloured border, the arrow shifted while pressed.
void PaintDropButton(QPainter& Canvas, const TSkDropButtonPaint& Button);

// Buttons that sit inside an edit's right edge (spin buttons, a button pair).
class ISkEmbeddedButtons {
 public:
  virtual ~ISkEmbeddedButtons() = default;
  virtual void SetFlat(bool Value) = 0;
  virtual void SetColor(TColor Value) = 0;
};

// The frame-state behaviour over a Qt widget class: settings with setters that repaint, the
// state colour in the palette, the hot state from focus and hover, the frame controller link.
template <class TBase>
class TSkFramed : public TBase, public ISkFrameControllerClient {
 public:
  explicit TSkFramed(QWidget* Parent = nullptr) : TBase(Parent) {
    this->setAttribute(Qt::WA_Hover);
  }
  ~TSkFramed() override {
    if (FFrameController) FFrameController->RemoveControl(this);
  }

  const TSkFrameSettings& FrameSettings() const { return FS; }
  // The shown colour; setting it from outside makes it the normal colour, and the focus colour
  // follows when it was the normal one.
  TColor Color() const { return FColor; }
  void SetColor(TColor Value) {
    if (FS.FocusColor == FS.NormalColor) FS.FocusColor = Value;
    FS.NormalColor = Value;
    UpdateColors();
  }
  void SetDisabledColor(TColor V) { StoreColor(FS.DisabledColor, V); }
  void SetFocusColor(TColor V) { StoreColor(FS.FocusColor, V); }
  void SetReadOnlyColor(TColor V) { StoreColor(FS.ReadOnlyColor, V); }
  void SetReadOnlyColorOnFocus(bool V) { StoreColor(FS.ReadOnlyColorOnFocus, V); }
  void SetFlatButtonColor(TColor V) { StoreFrame(FS.FlatButtonColor, V); }
  virtual void SetFlatButtons(bool V) { StoreFrame(FS.FlatButtons, V); }
  void SetFrameColor(TColor V) { StoreFrame(FS.FrameColor, V); }
  void SetFrameHotColor(TColor V) { StoreFrame(FS.FrameHotColor, V); }
  void SetFrameHotStyle(TFrameStyle V) { StoreFrame(FS.FrameHotStyle, V); }
  void SetFrameSides(TSides V) { StoreFrame(FS.FrameSides, V); }
  virtual void SetFrameStyle(TFrameStyle V) { StoreFrame(FS.FrameStyle, V); }
  void SetFrameVisible(bool V) { StoreFrame(FS.FrameVisible, V); }
  void SetFramingPreference(TFramingPreference V) { StoreFrame(FS.FramingPreference, V); }
  // Hot tracking needs a visible frame on every side.
  void SetFrameHotTrack(bool V) {
    if (V) {
      FS.FrameVisible = true;
      FS.FrameSides = AllSides;
    }
    StoreFrame(FS.FrameHotTrack, V);
  }
  TSkFrameController* FrameController() const { return FFrameController; }
  void SetFrameController(TSkFrameController* Value) {
    if (FFrameController == Value) return;
    if (FFrameController) FFrameController->RemoveControl(this);
    FFrameController = Value;
    if (Value) Value->AddControl(this);
  }
  TSkFrameControllerNotifications FrameControllerNotifications = AllFrameNotifications;

  bool HasFocus() const { return FHasFocus; }
  bool MouseOver() const { return FMouseOver; }
  bool Hot() const { return FHasFocus || FMouseOver; }

  void UpdateFrame(const TSkFrameController& C, TSkFrameControllerProperty P) override {
    for (int p = fcpColor; p < fcpAll; ++p)
      if ((P == fcpAll || P == p) && (FrameControllerNotifications & (1u << p)))
        TakeSetting(C, TSkFrameControllerProperty(p));
  }

 protected:
  // Whether the control takes no input.
  virtual bool IsReadOnly() const = 0;
  // Puts the state colour on screen.
  virtual void ApplyColor(TColor Value) {
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, ToQColor(Value));
    palette.setColor(QPalette::Window, ToQColor(Value));
    this->setPalette(palette);
  }
  // Records a change of the focus (ViaMouse false) or hover state and repaints what shows it.
  virtual void UpdateHot(bool ViaMouse, bool Active) {
    (ViaMouse ? FMouseOver : FHasFocus) = Active;
    this->update();
    UpdateColors();
  }
  void UpdateColors() {
    const TColor next = StateColor(FS, this->isEnabled(), FHasFocus, IsReadOnly());
    if (next == FColor && FColorApplied) return;
    FColor = next;
    FColorApplied = true;
    ApplyColor(next);
  }
  void PaintFrame(QPainter& Canvas) { PaintControlFrame(Canvas, this->size(), FS, FColor, Hot()); }
  // The event handling of a scroll area, whose paint event reaches only its viewport: the ring
  // goes on after the area's own frame painting.
  bool ScrollAreaEvent(QEvent* Event) {
    const bool result = TBase::event(Event);
    if (Event->type() == QEvent::Paint) {
      QPainter canvas(this);
      PaintFrame(canvas);
    }
    return result;
  }
  // How an embedded drop-down button in Bounds looks now.
  TSkDropButtonPaint DropButtonLook(const TRect& Bounds, bool Pressed) const {
    TSkDropButtonPaint look;
    look.Bounds = Bounds;
    look.Flat = FS.FlatButtons;
    look.Hot = Hot();
    look.Pressed = Pressed;
    look.Enabled = this->isEnabled();
    look.FlatButtonColor = FS.FlatButtonColor;
    look.ControlColor = FColor;
    return look;
  }

  void focusInEvent(QFocusEvent* Event) override {
    UpdateHot(false, true);
    TBase::focusInEvent(Event);
  }
  void focusOutEvent(QFocusEvent* Event) override {
    TBase::focusOutEvent(Event);
    UpdateHot(false, false);
  }
  void enterEvent(QEnterEvent* Event) override {
    TBase::enterEvent(Event);
    UpdateHot(true, true);
  }
  void leaveEvent(QEvent* Event) override {
    TBase::leaveEvent(Event);
    UpdateHot(true, false);
  }
  // Read-only however it was switched, by the control's setter or by Qt's own.
  virtual void ReadOnlyChanged() {
    UpdateColors();
    this->update();
  }
  void changeEvent(QEvent* Event) override {
    TBase::changeEvent(Event);
    if (Event->type() == QEvent::EnabledChange) UpdateColors();
    if (Event->type() == QEvent::ReadOnlyChange) ReadOnlyChanged();
  }

  TSkFrameSettings FS;

 private:
  template <typename T>
  void StoreColor(T& Field, T Value) {
    Field = Value;
    UpdateColors();
  }
  template <typename T>
  void StoreFrame(T& Field, T Value) {
    StoreAndUpdate<T>(*this, Field, Value);
  }
  void TakeSetting(const TSkFrameController& C, TSkFrameControllerProperty P) {
    const QVariant v = C.Value(P);
    switch (P) {
      case fcpColor:
        return SetColor(v.toUInt());
      case fcpFocusColor:
        return SetFocusColor(v.toUInt());
      case fcpDisabledColor:
        return SetDisabledColor(v.toUInt());
      case fcpReadOnlyColor:
        return SetReadOnlyColor(v.toUInt());
      case fcpReadOnlyColorOnFocus:
        return SetReadOnlyColorOnFocus(v.toBool());
      case fcpFlatButtonColor:
        return SetFlatButtonColor(v.toUInt());
      case fcpFlatButtons:
        return SetFlatButtons(v.toBool());
      case fcpFrameColor:
        return SetFrameColor(v.toUInt());
      case fcpFrameHotColor:
        return SetFrameHotColor(v.toUInt());
      case fcpFrameHotTrack:
        return SetFrameHotTrack(v.toBool());
      case fcpFrameHotStyle:
        return SetFrameHotStyle(TFrameStyle(v.toInt()));
      case fcpFrameSides:
        return SetFrameSides(v.toUInt());
      case fcpFrameStyle:
        return SetFrameStyle(TFrameStyle(v.toInt()));
      case fcpFrameVisible:
        return SetFrameVisible(v.toBool());
      case fcpFramingPreference:
        return SetFramingPreference(TFramingPreference(v.toInt()));
      default:
        return;  // a parent colour has no meaning for these controls
    }
  }

  TColor FColor = clWindow;
  bool FColorApplied = false;
  bool FHasFocus = false, FMouseOver = false;
  // Forgotten by itself when the controller is freed first.
  QPointer<TSkFrameController> FFrameController;
};

// The single-line framed edit: state colours, the custom ring, a text hint, Enter as Tab and an
// optional drop-down button at the right edge, opened by a click, F4 or Alt+Down.
class TSkCustomEdit : public TSkFramed<QLineEdit> {
 public:
  explicit TSkCustomEdit(QWidget* Parent = nullptr);

  bool TabOnEnter = false;
  bool BeepOnInvalidKey = true;

  bool ReadOnly() const { return isReadOnly(); }
  void SetReadOnly(bool Value) { setReadOnly(Value); }
  Qt::Alignment Alignment() const { return alignment(); }
  void SetAlignment(Qt::Alignment Value) { setAlignment(Value | Qt::AlignVCenter); }
  QString TextHint() const { return FTextHint; }
  void SetTextHint(const QString& Value);
  bool TextHintVisibleOnFocus() const { return FTextHintVisibleOnFocus; }
  void SetTextHintVisibleOnFocus(bool Value);
  bool DropButtonVisible() const { return FDropButtonVisible; }
  void SetDropButtonVisible(bool Value);
  // The button is there: wanted and the edit not read-only.
  bool DropButtonShown() const { return FDropButtonVisible && !isReadOnly(); }
  bool Dropping() const { return FDropping; }
  // Runs a drop-down when the button is shown: OnDropDown (or the subclass's own), OnCloseUp.
  void DropDown();
  std::function<void()> OnDropDown, OnCloseUp;
  std::function<void()> OnChange;
  void SetFlatButtons(bool Value) override;

 protected:
  bool IsReadOnly() const override { return isReadOnly(); }
  void UpdateHot(bool ViaMouse, bool Active) override;
  void ReadOnlyChanged() override;
  // Takes Buttons in at the right edge: placed inside the ring, flat and coloured with the
  // edit's flat-button settings, the text kept clear of them while they show.
  template <class TButtons>
  void SetEmbeddedButtons(TButtons* Buttons) {
    FEmbedded = Buttons;
    FEmbeddedLook = Buttons;
    PlaceEmbeddedButtons();
  }
  // Whether the embedded buttons are hidden (while read-only unless a subclass says otherwise).
  virtual bool EmbeddedButtonsHidden() const { return isReadOnly(); }
  // Grows the edit to its font's line height, or places the embedded buttons and the margins.
  void PlaceEmbeddedButtons();
  void resizeEvent(QResizeEvent* Event) override;
  virtual void DoDropDown();
  // Sounds when BeepOnInvalidKey.
  virtual void InvalidKeyBeep();
  // Whether typing, cut, paste and drops may change the text.
  virtual bool KeyEditAllowed() const { return !isReadOnly(); }
  // The strip of the drop-down button (empty when not shown).
  TRect DropButtonRect() const;
  void paintEvent(QPaintEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  // A middle click pastes the X11 selection: refused where a paste is.
  void mouseReleaseEvent(QMouseEvent* Event) override;
  // Text an input method composes is typing: refused where typing is.
  void inputMethodEvent(QInputMethodEvent* Event) override;
  void contextMenuEvent(QContextMenuEvent* Event) override;
  // Updates the margins around the text for the ring and what sits at the right.
  void UpdateTextMargins();

 private:
  void ApplyTextHint();

  QWidget* FEmbedded = nullptr;
  ISkEmbeddedButtons* FEmbeddedLook = nullptr;
  QString FTextHint;
  bool FTextHintVisibleOnFocus = false;
  bool FDropButtonVisible = false;
  bool FDropping = false;
};

class TSkEdit : public TSkCustomEdit {
 public:
  using TSkCustomEdit::TSkCustomEdit;
};

// The character a key types ('\b' for Backspace), a null character for none.
QChar TypedChar(const QKeyEvent& Event);
// Whether an edit key event is a drop-down key: F4 with any modifier, or Down with Alt alone.
bool IsDropDownKey(const QKeyEvent& Event);

// A non-typing edit showing a colour swatch; a click, F4 or Alt+Down drops a colour picker.
class TSkColorEdit : public TSkCustomEdit {
 public:
  explicit TSkColorEdit(QWidget* Parent = nullptr);

  TColor CustomColor = 0xFFFFFF;
  TColor DefaultColor = clHighlight;
  TSkCustomColors* CustomColors = nullptr;
  QString CustomColorCaption, NoColorCaption, DefaultColorCaption;
  bool ShowCustomColor = false, ShowNoColor = false, ShowDefaultColor = false,
       ShowSystemColors = false, ShowColorHints = true;
  TColor SelectedColor() const { return FSelectedColor; }
  void SetSelectedColor(TColor Value) { StoreAndUpdate(*this, FSelectedColor, Value); }

 protected:
  void DoDropDown() override;
  // Drops the picker under the edit; a pick takes its colours and fires OnChange.
  virtual void DropColorPicker();
  void paintEvent(QPaintEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;
  // A swatch has no text to cut, copy or paste: no menu.
  void contextMenuEvent(QContextMenuEvent* Event) override;

 private:
  TColor FSelectedColor = clNone;
};

// The swatch of a colour edit in Rect: a raised edge round the colour, or, for clNone, a
// hatched box (button shadow while Active, else button face).
void PaintColorSwatch(QPainter& Canvas, const TRect& Rect, TColor Color, bool Active);

// The multi-line framed edit, with the caret's line and column (1-based) and notifications of
// their change and of the clipboard state.
class TSkMemo : public TSkFramed<QPlainTextEdit> {
 public:
  explicit TSkMemo(QWidget* Parent = nullptr);

  bool TabOnEnter = false;
  int Line() const;
  void SetLine(int Value);
  int Column() const;
  void SetColumn(int Value);
  std::function<void(int Line, int Column)> OnLineColChange;
  std::function<void(bool HasSelection, bool HasText)> OnClipboardChange;

 protected:
  bool IsReadOnly() const override { return isReadOnly(); }
  // A read-only memo keeps its caret for the keyboard, to read, select and copy by: it also
  // shows where the focus is.
  void ReadOnlyChanged() override;
  void LineColChange();
  void ClipboardChange();
  bool event(QEvent* Event) override { return ScrollAreaEvent(Event); }
  void keyPressEvent(QKeyEvent* Event) override;
  void keyReleaseEvent(QKeyEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void wheelEvent(QWheelEvent* Event) override;

 private:
  TSkWheelNotches FWheel;
};
