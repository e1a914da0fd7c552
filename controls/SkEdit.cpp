#include "SkEdit.h"

#include "SkButton.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

// ---- Frame rules --------------------------------------------------------------------------------

TColor StateColor(const TSkFrameSettings& S, bool Enabled, bool Focused, bool ReadOnly) {
  if (!Enabled) return S.DisabledColor;
  if (Focused) return ReadOnly && S.ReadOnlyColorOnFocus ? S.ReadOnlyColor : S.FocusColor;
  return ReadOnly ? S.ReadOnlyColor : S.NormalColor;
}

bool UsesThemedFrame(const TSkFrameSettings& S) {
  return S.FramingPreference == fpXPThemes && UseVisualStyles();
}

void PaintControlFrame(QPainter& Canvas, QSize Size, const TSkFrameSettings& S, TColor Color,
                       bool Hot) {
  if (!S.FrameVisible || UsesThemedFrame(S)) {
    DrawBorder(Canvas, {0, 0, Size.width(), Size.height()}, fsLowered);
    return;
  }
  const bool hot = S.FrameHotTrack && Hot;
  DrawFrame(Canvas, Size.width(), Size.height(), hot ? S.FrameHotStyle : S.FrameStyle, Color,
            hot ? S.FrameHotColor : S.FrameColor, S.FrameSides, false);
}

void PaintDropButton(QPainter& Canvas, const TSkDropButtonPaint& B) {
  if (!B.Flat) {
    TSkControlButtonPaint button;
    button.Bounds = B.Bounds;
    button.Down = B.Pressed;
    button.Enabled = B.Enabled;
    button.Style = cbsDropDown;
    return PaintControlButton(Canvas, button);
  }
  if (!B.Hot) {
    FillRect(Canvas, B.Bounds, B.ControlColor);
    return DrawDropDownArrow(Canvas, B.Bounds, vsClassic, B.Enabled, B.ControlColor);
  }
  TRect face;
  if (B.FlatButtonColor == clBtnFace)
    face = B.Pressed ? DrawSides(Canvas, B.Bounds, clBtnShadow, clBtnHighlight)
                     : DrawSides(Canvas, B.Bounds, clBtnHighlight, clBtnShadow);
  else
    face = DrawColorBorder(Canvas, B.Bounds, B.FlatButtonColor, B.Pressed ? fsStatus : fsPopup);
  FillRect(Canvas, face, B.FlatButtonColor);
  const TRect arrow = B.Pressed ? face.Offset(1, 1) : face;
  DrawDropDownArrow(Canvas, arrow, vsClassic, B.Enabled, B.FlatButtonColor);
}

QChar TypedChar(const QKeyEvent& Event) {
  if (Event.key() == Qt::Key_Backspace) return QLatin1Char('\b');
  const QString typed = Event.text();
  return typed.isEmpty() ? QChar() : typed.front();
}

bool IsDropDownKey(const QKeyEvent& Event) {
  const Qt::KeyboardModifiers mods =
      Event.modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  return Event.key() == Qt::Key_F4 || (Event.key() == Qt::Key_Down && mods == Qt::AltModifier);
}

// ---- TSkCustomEdit ------------------------------------------------------------------------------

TSkCustomEdit::TSkCustomEdit(QWidget* Parent) : TSkFramed<QLineEdit>(Parent) {
  setFrame(false);
  setMouseTracking(true);
  setAcceptDrops(false);  // text changes only by typing, cut and paste, which the rules govern
  resize(121, 21);
  connect(this, &QLineEdit::textChanged, this, [this] {
    if (OnChange) OnChange();
  });
  UpdateColors();
  UpdateTextMargins();
}

void TSkCustomEdit::ReadOnlyChanged() {
  TSkFramed::ReadOnlyChanged();
  PlaceEmbeddedButtons();
}

void TSkCustomEdit::SetFlatButtons(bool Value) {
  TSkFramed::SetFlatButtons(Value);
  if (FEmbeddedLook) FEmbeddedLook->SetFlat(Value);
  PlaceEmbeddedButtons();
}

void TSkCustomEdit::PlaceEmbeddedButtons() {
  const int lineHeight = GetFontLineHeight(font());
  if (lineHeight > height()) return resize(width(), lineHeight);  // placed again on the resize
  if (FEmbedded) {
    FEmbedded->setVisible(!EmbeddedButtonsHidden());
    const int w = FEmbedded->width();
    FEmbedded->setGeometry(width() - w - 2, 2, w, height() - 4);
  }
  UpdateTextMargins();
}

void TSkCustomEdit::resizeEvent(QResizeEvent* Event) {
  TSkFramed::resizeEvent(Event);
  PlaceEmbeddedButtons();
}

void TSkCustomEdit::SetTextHint(const QString& Value) {
  FTextHint = Value;
  ApplyTextHint();
}

void TSkCustomEdit::SetTextHintVisibleOnFocus(bool Value) {
  FTextHintVisibleOnFocus = Value;
  ApplyTextHint();
}

// The hint of an empty edit goes away while typing is expected, unless asked to stay.
void TSkCustomEdit::ApplyTextHint() {
  setPlaceholderText(HasFocus() && !FTextHintVisibleOnFocus ? QString() : FTextHint);
}

void TSkCustomEdit::SetDropButtonVisible(bool Value) {
  if (FDropButtonVisible == Value) return;
  FDropButtonVisible = Value;
  UpdateTextMargins();
  update();
}

void TSkCustomEdit::UpdateHot(bool ViaMouse, bool Active) {
  TSkFramed::UpdateHot(ViaMouse, Active);
  if (!ViaMouse) ApplyTextHint();
  if (FEmbeddedLook && FS.FlatButtons)
    FEmbeddedLook->SetColor(Hot() ? FS.FlatButtonColor : Color());
}

void TSkCustomEdit::UpdateTextMargins() {
  int right = DropButtonShown() ? SkScrollBarWidth : 0;
  if (FEmbedded && !EmbeddedButtonsHidden()) right += FEmbedded->width() + 2;
  setTextMargins(2, 2, 2 + right, 2);
}

TRect TSkCustomEdit::DropButtonRect() const {
  if (!DropButtonShown()) return {};
  return {width() - 2 - SkScrollBarWidth, 2, width() - 2, height() - 2};
}

void TSkCustomEdit::DropDown() {
  if (!DropButtonShown() || FDropping) return;
  FDropping = true;
  update();
  const QPointer<TSkCustomEdit> self(this);
  DoDropDown();
  if (!self) return;  // its window was closed while the drop-down showed
  if (OnCloseUp) OnCloseUp();
  FDropping = false;
  update();
}

void TSkCustomEdit::DoDropDown() {
  if (OnDropDown) OnDropDown();
}

void TSkCustomEdit::InvalidKeyBeep() {
  if (BeepOnInvalidKey) QApplication::beep();
}

void TSkCustomEdit::paintEvent(QPaintEvent* Event) {
  QLineEdit::paintEvent(Event);
  QPainter canvas(this);
  PaintFrame(canvas);
  const TRect button = DropButtonRect();
  if (!button.IsEmpty()) PaintDropButton(canvas, DropButtonLook(button, FDropping));
}

void TSkCustomEdit::keyPressEvent(QKeyEvent* Event) {
  if (TabOnEnter && (Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter)) {
    focusNextChild();
    return Event->accept();
  }
  if (DropButtonShown() && IsDropDownKey(*Event)) {
    DropDown();
    return Event->accept();
  }
  if (!KeyEditAllowed() &&
      (Event->matches(QKeySequence::Cut) || Event->matches(QKeySequence::Paste))) {
    InvalidKeyBeep();
    return Event->accept();
  }
  QLineEdit::keyPressEvent(Event);
}

void TSkCustomEdit::mousePressEvent(QMouseEvent* Event) {
  const QPoint at = Event->position().toPoint();
  if (!DropButtonRect().Contains(at.x(), at.y())) return QLineEdit::mousePressEvent(Event);
  if (Event->button() == Qt::LeftButton) {
    if (!hasFocus()) setFocus(Qt::MouseFocusReason);
    DropDown();
  }
  Event->accept();
}

void TSkCustomEdit::mouseMoveEvent(QMouseEvent* Event) {
  const QPoint at = Event->position().toPoint();
  setCursor(DropButtonRect().Contains(at.x(), at.y()) ? Qt::ArrowCursor : Qt::IBeamCursor);
  QLineEdit::mouseMoveEvent(Event);
}

void TSkCustomEdit::mouseReleaseEvent(QMouseEvent* Event) {
  if (Event->button() == Qt::MiddleButton && !KeyEditAllowed()) return Event->accept();
  QLineEdit::mouseReleaseEvent(Event);
}

void TSkCustomEdit::inputMethodEvent(QInputMethodEvent* Event) {
  if (!Event->commitString().isEmpty() && !KeyEditAllowed()) {
    InvalidKeyBeep();
    return Event->accept();
  }
  QLineEdit::inputMethodEvent(Event);
}

void TSkCustomEdit::contextMenuEvent(QContextMenuEvent* Event) {
  QMenu* menu = createStandardContextMenu();
  // Qt names the actions of its standard menu; those that change the text follow the edit's rule.
  for (QAction* action : menu->actions())
    if (action->objectName() == QLatin1String("edit-cut") ||
        action->objectName() == QLatin1String("edit-paste") ||
        action->objectName() == QLatin1String("edit-delete"))
      action->setEnabled(action->isEnabled() && KeyEditAllowed());
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(Event->globalPos());
}
