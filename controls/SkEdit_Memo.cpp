// The framed memo: line and column of the caret, and its notifications.
#include "SkEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>

TSkMemo::TSkMemo(QWidget* Parent) : TSkFramed<QPlainTextEdit>(Parent) {
  setFrameShape(QFrame::NoFrame);
  setViewportMargins(2, 2, 2, 2);
  UpdateColors();
  connect(this, &QPlainTextEdit::textChanged, this, [this] { LineColChange(); });
  connect(this, &QPlainTextEdit::cursorPositionChanged, this, [this] { LineColChange(); });
}

void TSkMemo::ReadOnlyChanged() {
  TSkFramed<QPlainTextEdit>::ReadOnlyChanged();
  if (isReadOnly())
    setTextInteractionFlags(textInteractionFlags() | Qt::TextSelectableByKeyboard);
}

int TSkMemo::Line() const { return textCursor().blockNumber() + 1; }

int TSkMemo::Column() const { return textCursor().positionInBlock() + 1; }

void TSkMemo::SetColumn(int Value) {
  QTextCursor cursor = textCursor();
  const QTextBlock block = cursor.block();
  if (Value < 1 || Value > block.length())
    return;  // length counts the line end: the last column + 1
  cursor.setPosition(block.position() + Value - 1);
  setTextCursor(cursor);
  LineColChange();
}

void TSkMemo::SetLine(int Value) {
  const QTextBlock block = document()->findBlockByNumber(Value - 1);
  if (!block.isValid()) return;
  QTextCursor cursor = textCursor();
  cursor.setPosition(block.position());
  setTextCursor(cursor);
  verticalScrollBar()->setValue(Value - 1);
  LineColChange();
}

void TSkMemo::LineColChange() {
  if (OnLineColChange) OnLineColChange(Line(), Column());
  ClipboardChange();
}

void TSkMemo::ClipboardChange() {
  if (!OnClipboardChange) return;
  const QMimeData* data = QApplication::clipboard()->mimeData();
  OnClipboardChange(textCursor().hasSelection(), data && data->hasText());
}

void TSkMemo::keyPressEvent(QKeyEvent* Event) {
  if (TabOnEnter && (Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter)) {
    focusNextChild();
    return Event->accept();
  }
  QPlainTextEdit::keyPressEvent(Event);
  LineColChange();
}

void TSkMemo::keyReleaseEvent(QKeyEvent* Event) {
  QPlainTextEdit::keyReleaseEvent(Event);
  LineColChange();
}

void TSkMemo::mouseReleaseEvent(QMouseEvent* Event) {
  QPlainTextEdit::mouseReleaseEvent(Event);
  ClipboardChange();
}

// Scrolls by whole lines and always keeps the wheel, even when nothing moves.
void TSkMemo::wheelEvent(QWheelEvent* Event) {
  const int notches = FWheel.Take(Event->angleDelta().y());
  QScrollBar* bar = verticalScrollBar();
  bar->setValue(bar->value() - notches * QApplication::wheelScrollLines());
  Event->accept();
}
