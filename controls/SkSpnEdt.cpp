#include "SkSpnEdt.h"

#include <QKeyEvent>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>

// ---- TSkSpinButtons -----------------------------------------------------------------------------

TSkSpinButtons::TSkSpinButtons(QWidget* Parent)
    : QWidget(Parent), FUpRight(new TSkControlButton(this)), FDownLeft(new TSkControlButton(this)) {
  for (TSkControlButton* button : {FUpRight, FDownLeft}) {
    button->RepeatClicks = true;
    button->installEventFilter(this);
  }
  FUpRight->OnClick = [this] {
    if (OnUpRightClick) OnUpRightClick();
  };
  FDownLeft->OnClick = [this] {
    if (OnDownLeftClick) OnDownLeftClick();
  };
  ResetArrows();
  resize(16, 25);
}

void TSkSpinButtons::ResetArrows() {
  FUpRight->SetGlyph({});
  FDownLeft->SetGlyph({});
  FUpRight->SetStyle(FDirection == sdUpDown ? cbsUp : cbsRight);
  FDownLeft->SetStyle(FDirection == sdUpDown ? cbsDown : cbsLeft);
}

void TSkSpinButtons::SetDirection(TSpinDirection Value) {
  if (FDirection == Value) return;
  FDirection = Value;
  ResetArrows();
}

void TSkSpinButtons::SetOrientation(TOrientation Value) {
  if (FOrientation == Value) return;
  FOrientation = Value;
  resize(Value == orVertical ? width() / 2 : width() * 2, height());
  AdjustSize();
}

void TSkSpinButtons::SetFlat(bool Value) {
  FUpRight->SetFlat(Value);
  FDownLeft->SetFlat(Value);
}

void TSkSpinButtons::SetColor(TColor Value) {
  FUpRight->SetColor(Value);
  FDownLeft->SetColor(Value);
}

void TSkSpinButtons::SetDelays(uint16_t InitialDelay, uint16_t Delay) {
  for (TSkControlButton* button : {FUpRight, FDownLeft}) {
    button->InitialDelay = InitialDelay;
    button->Delay = Delay;
  }
}

void TSkSpinButtons::SetGlyphUpRight(const QImage& Value) {
  FUpRight->SetGlyph(Value);
  if (Value.isNull()) FUpRight->SetStyle(FDirection == sdUpDown ? cbsUp : cbsRight);
}

void TSkSpinButtons::SetGlyphDownLeft(const QImage& Value) {
  FDownLeft->SetGlyph(Value);
  if (Value.isNull()) FDownLeft->SetStyle(FDirection == sdUpDown ? cbsDown : cbsLeft);
}

void TSkSpinButtons::AdjustSize() {
  const int w = width(), h = height();
  if (FOrientation == orVertical) {
    FUpRight->setGeometry(0, 0, w, h / 2);
    FDownLeft->setGeometry(0, h / 2, w, h - h / 2);
  } else {
    FDownLeft->setGeometry(0, 0, w / 2, h);
    FUpRight->setGeometry(w / 2, 0, w - w / 2, h);
  }
}

void TSkSpinButtons::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  AdjustSize();
}

void TSkSpinButtons::keyPressEvent(QKeyEvent* Event) {
  if (Event->key() == Qt::Key_Up) return FUpRight->Click();
  if (Event->key() == Qt::Key_Down) return FDownLeft->Click();
  QWidget::keyPressEvent(Event);
}

// A press first takes the focus to the control the buttons serve; a press whose focus move was
// refused goes no further.
bool TSkSpinButtons::eventFilter(QObject* Watched, QEvent* Event) {
  if (Event->type() != QEvent::MouseButtonPress || !FocusControl) return false;
  if (static_cast<QMouseEvent*>(Event)->button() != Qt::LeftButton) return false;
  QWidget* target = FocusControl;
  if (target->hasFocus() || !(target->focusPolicy() & Qt::TabFocus) || !target->isEnabled())
    return false;
  target->setFocus(Qt::MouseFocusReason);
  return !target->hasFocus() && Watched != target;
}

// ---- TSkSpinEdit --------------------------------------------------------------------------------

namespace {

QLocale NumberLocale() {
  QLocale locale;
  locale.setNumberOptions(QLocale::OmitGroupSeparator);
  return locale;
}

bool IsSign(QChar C) { return C == QLatin1Char('+') || C == QLatin1Char('-'); }

}  // namespace

TSkSpinEdit::TSkSpinEdit(QWidget* Parent)
    : TSkCustomEdit(Parent), FButtons(new TSkSpinButtons(this)) {
  FButtons->FocusControl = this;
  FButtons->resize(17, 17);
  FButtons->OnUpRightClick = [this] { IncValue(Increment); };
  FButtons->OnDownLeftClick = [this] { DecValue(Increment); };
  resize(47, height());
  SetAlignment(Qt::AlignRight);
  SetValue(0);
  SetEmbeddedButtons(FButtons);
}

QChar TSkSpinEdit::DecimalPoint() const {
  const QString point = NumberLocale().decimalPoint();
  return point.isEmpty() ? QLatin1Char('.') : point.front();
}

double TSkSpinEdit::Value() const {
  const QString shown = text();
  if (shown.isEmpty()) return AllowBlank ? BlankValue : FMin;
  bool ok = false;
  const double value = NumberLocale().toDouble(shown, &ok);
  // "nan" and "inf" are no numbers here; a number beyond the range reads as its limit, as it
  // shows once the field is left.
  return ok && std::isfinite(value) ? CheckValue(value) : FMin;
}

int TSkSpinEdit::IntValue() const {
  constexpr double lowest = std::numeric_limits<int>::min(),
                   highest = std::numeric_limits<int>::max();
  return int(std::clamp(std::nearbyint(Value()), lowest, highest));
}

double TSkSpinEdit::CheckValue(double Value) const {
  if (FMin == FMax && !FCheckRange) return Value;
  return std::clamp(Value, FMin, std::max(FMin, FMax));
}

void TSkSpinEdit::SetValue(double Value) {
  const QString next = NumberLocale().toString(CheckValue(Value), 'f', FDecimals);
  const QString previous = text();
  const bool keepCaret = parentWidget() && !hasSelectedText();
  const int caret = cursorPosition();
  setText(next);
  if (!keepCaret) return;
  const qsizetype grown = next.size() - previous.size();
  setCursorPosition(std::clamp(caret + (grown > 0 ? 1 : grown < 0 ? -1 : 0), 0, int(next.size())));
}

void TSkSpinEdit::SetMin(double Value) {
  if (FMin == Value) return;
  FMin = Value;
  if (FMin > FMax) FMax = FMin;
  SetValue(this->Value());
}

void TSkSpinEdit::SetMax(double Value) {
  if (FMax == Value) return;
  FMax = Value;
  if (FMax < FMin) FMin = FMax;
  SetValue(this->Value());
}

void TSkSpinEdit::SetCheckRange(bool Value) {
  FCheckRange = Value;
  SetValue(this->Value());
}

void TSkSpinEdit::SetDecimals(int Value) {
  FDecimals = FIntegersOnly ? 0 : std::clamp(Value, 0, 255);
  SetValue(this->Value());
}

void TSkSpinEdit::SetIntegersOnly(bool Value) {
  FIntegersOnly = Value;
  if (!Value) return;
  FDecimals = 0;
  SetValue(std::nearbyint(this->Value()));
}

void TSkSpinEdit::SetButtonWidth(int Value) {
  FButtonWidth = std::max(Value, 0);
  FButtons->resize(FButtons->Orientation() == orVertical ? FButtonWidth : 2 * FButtonWidth,
                   FButtons->height());
  PlaceEmbeddedButtons();
}

void TSkSpinEdit::SetOrientation(TOrientation Value) {
  FButtons->SetOrientation(Value);
  PlaceEmbeddedButtons();
}

void TSkSpinEdit::Step(double Amount, TSpinButtonType Button) {
  if (isReadOnly()) return InvalidKeyBeep();
  const double next = Value() + Amount;
  bool allow = true;
  if (OnChanging) OnChanging(next, allow);
  if (!allow) return;
  SetValue(next);
  if (OnButtonClick) OnButtonClick(Button);
}

bool TSkSpinEdit::IsValidChar(QChar Key) const {
  if (Key == QLatin1Char('\r')) return false;
  const QChar point = DecimalPoint();
  const bool control = Key.unicode() < 0x20;
  if (!control && !Key.isDigit() && !IsSign(Key) && (FIntegersOnly || Key != point)) return false;
  const QString shown = text();
  const bool wholeSelected = !shown.isEmpty() && selectedText() == shown;
  if (Key == point && shown.contains(point) && !selectedText().contains(point)) return false;
  if (IsSign(Key)) {
    const int at = hasSelectedText() ? selectionStart() : cursorPosition();
    const bool hasSign = shown.contains(QLatin1Char('+')) || shown.contains(QLatin1Char('-'));
    if (!wholeSelected && (at != 0 || hasSign)) return false;
  }
  return AllowKeyEdit || (control && Key != QLatin1Char('\b'));
}

void TSkSpinEdit::keyPressEvent(QKeyEvent* Event) {
  if (DropButtonShown() && IsDropDownKey(*Event)) return TSkCustomEdit::keyPressEvent(Event);
  switch (Event->key()) {
    case Qt::Key_Up:
      return IncValue(Increment);
    case Qt::Key_Down:
      return DecValue(Increment);
    case Qt::Key_PageUp:
      return IncValue(PageSize);
    case Qt::Key_PageDown:
      return DecValue(PageSize);
    case Qt::Key_Delete:
      if (!AllowKeyEdit) return InvalidKeyBeep();
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (TabOnEnter) return TSkCustomEdit::keyPressEvent(Event);
      InvalidKeyBeep();
      return Event->ignore();  // a dialog's default button still answers Enter
    default:
      break;
  }
  const QChar typed = TypedChar(*Event);
  if (!typed.isNull() && !IsValidChar(typed)) return InvalidKeyBeep();
  TSkCustomEdit::keyPressEvent(Event);
}

void TSkSpinEdit::focusOutEvent(QFocusEvent* Event) {
  TSkCustomEdit::focusOutEvent(Event);
  if (text().isEmpty() && AllowBlank) return;
  SetValue(Value());
}

void TSkSpinEdit::wheelEvent(QWheelEvent* Event) {
  const double amount = (Event->modifiers() & Qt::ControlModifier) ? PageSize : Increment;
  if (Event->angleDelta().y() > 0) IncValue(amount);
  if (Event->angleDelta().y() < 0) DecValue(amount);
  Event->accept();
}
