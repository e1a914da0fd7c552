#include "SkCmboBx.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QPainter>

TSkCustomComboBox::TSkCustomComboBox(QWidget* Parent)
    : TSkFramed<QComboBox>(Parent), FSearchTimer(CreateSkTimer()) {
  setEditable(false);
  resize(145, 21);
  FSearchTimer->OnTimer = [this] {
    FSearchTimer->Stop();
    FSearchString.clear();
  };
  connect(this, &QComboBox::activated, this, [this] {
    if (OnClick) OnClick();
    if (OnChange) OnChange();
  });
  UpdateColors();
}

TSkCustomComboBox::~TSkCustomComboBox() = default;

void TSkCustomComboBox::SetReadOnly(bool Value) {
  if (FReadOnly == Value) return;
  FReadOnly = Value;
  UpdateColors();
  update();
}

void TSkCustomComboBox::ApplyColor(TColor Value) {
  TSkFramed<QComboBox>::ApplyColor(Value);
  update();
}

void TSkCustomComboBox::InvalidKeyBeep() {
  if (BeepOnInvalidKey) QApplication::beep();
}

int TSkCustomComboBox::FindItem(const QString& S) const {
  for (int i = 0; i < count(); ++i)
    if (itemText(i).startsWith(S, Qt::CaseInsensitive)) return i;
  return -1;
}

void TSkCustomComboBox::SelectByUser(int Index) {
  setCurrentIndex(Index);
  if (OnClick) OnClick();
  if (OnChange) OnChange();
}

void TSkCustomComboBox::SelectMatch(const QString& S) {
  const int found = FindItem(S);
  if (found < 0) return InvalidKeyBeep();
  FSearchString = S;
  SelectByUser(found);
}

void TSkCustomComboBox::RestartSearchTimer() { FSearchTimer->Start(SearchResetMs); }

void TSkCustomComboBox::Backspace() {
  if (FSearchString.isEmpty()) return InvalidKeyBeep();
  FSearchString.chop(1);
  if (!FSearchString.isEmpty()) return SelectMatch(FSearchString);
  SelectByUser(0);
}

int TSkCustomComboBox::DroppedWidth() const {
  if (DropDownWidth >= 1) return DropDownWidth;
  int widest = 0;
  for (int i = 0; i < count(); ++i)
    widest = std::max(widest, fontMetrics().horizontalAdvance(itemText(i)));
  widest += 8;
  if (count() > maxVisibleItems()) widest += SkScrollBarWidth;
  return std::max(widest, width());
}

void TSkCustomComboBox::showPopup() {
  if (FReadOnly) return;
  view()->setMinimumWidth(DroppedWidth());
  FDropped = true;
  QComboBox::showPopup();
}

void TSkCustomComboBox::hidePopup() {
  QComboBox::hidePopup();
  FDropped = false;
  update();
}

void TSkCustomComboBox::keyPressEvent(QKeyEvent* Event) {
  // A read-only box takes no key; the window still sees them (Alt+F4 closes it).
  if (FReadOnly) return Event->ignore();
  switch (Event->key()) {
    case Qt::Key_Backspace:
      return Backspace();
    case Qt::Key_Escape:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_End:
    case Qt::Key_Home:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
      FSearchString.clear();
      return QComboBox::keyPressEvent(Event);
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (!TabOnEnter) return QComboBox::keyPressEvent(Event);
      focusNextChild();
      return Event->accept();
    default:
      break;
  }
  const QString typed = Event->text();
  const bool printable = !typed.isEmpty() && typed.front() >= QLatin1Char(' ') &&
                         !(Event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
  if (!printable) return QComboBox::keyPressEvent(Event);
  FSearchString += typed;
  SelectMatch(FSearchString);
  RestartSearchTimer();
  Event->accept();
}

void TSkCustomComboBox::mousePressEvent(QMouseEvent* Event) {
  if (FReadOnly) return Event->accept();
  QComboBox::mousePressEvent(Event);
}

void TSkCustomComboBox::mouseDoubleClickEvent(QMouseEvent* Event) {
  if (FReadOnly) return Event->accept();
  QComboBox::mouseDoubleClickEvent(Event);
}

void TSkCustomComboBox::wheelEvent(QWheelEvent* Event) {
  Event->accept();
  const int step = Event->angleDelta().y();
  if (FReadOnly || FDropped || step == 0 || count() == 0) return;
  const int current = currentIndex();
  const int next = std::clamp(step > 0 ? current - 1 : current + 1, 0, count() - 1);
  if (next == current) return;
  if (current < 0 && next == 0) return setCurrentIndex(0);
  SelectByUser(next);
}

void TSkCustomComboBox::focusOutEvent(QFocusEvent* Event) {
  TSkFramed<QComboBox>::focusOutEvent(Event);
  FSearchString.clear();
}

void TSkCustomComboBox::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  const TColor color = Color();
  FillRect(canvas, TRect::FromQRect(rect()), color);
  const TRect button{width() - 2 - SkScrollBarWidth, 2, width() - 2, height() - 2};
  TRect text{4, 4, button.Left - 2, height() - 4};
  const bool selected = HasFocus() && !FDropped;
  if (selected) FillRect(canvas, text, clHighlight);
  const bool empty = currentIndex() < 0;
  canvas.setFont(font());
  canvas.setPen(ToQColor(!isEnabled() ? clGrayText
                         : selected   ? clHighlightText
                         : empty      ? clGrayText
                                      : clWindowText));
  text.Left += 2;
  DrawString(canvas, empty ? placeholderText() : currentText(), text,
             DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  if (FReadOnly) {
    FillRect(canvas, button, color);
  } else {
    PaintDropButton(canvas, DropButtonLook(button, FDropped));
  }
  PaintFrame(canvas);
}

// ---- TSkComboBox --------------------------------------------------------------------------------

TSkComboBox::TSkComboBox(QWidget* Parent) : TSkCustomComboBox(Parent) {
  connect(this, &QComboBox::currentIndexChanged, this, [this](int Index) {
    if (!FSelectingValue) FValue = GetItemValue(Index);
  });
}

QString TSkComboBox::GetItemValue(int Index) const {
  if (Index < 0 || Index >= count()) return {};
  if (Index < FValues.size() && !FValues[Index].isEmpty()) return FValues[Index];
  return itemText(Index);
}

void TSkComboBox::SetValues(const QStringList& Value) {
  FValues = Value;
  ApplyValue(FValue);
}

void TSkComboBox::SetValue(const QString& Value) {
  if (Value != FValue) ApplyValue(Value);
}

void TSkComboBox::ApplyValue(const QString& Value) {
  int found = -1;
  for (int i = 0; i < count() && found < 0; ++i)
    if (GetItemValue(i) == Value) found = i;
  FSelectingValue = true;
  setCurrentIndex(found);
  FSelectingValue = false;
  FValue = Value;
}
