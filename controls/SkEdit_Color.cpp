// The colour edit: a swatch instead of text, and the picker in a pop-up panel.
#include "SkBorder.h"
#include "SkEdit.h"
#include "SkPopups.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>

void PaintColorSwatch(QPainter& Canvas, const TRect& Rect, TColor Color, bool Active) {
  if (Color != clNone) {
    const TRect inner = DrawSides(Canvas, Rect, clBtnHighlight, clBtnShadow);
    return FillRect(Canvas, inner, Color);
  }
  Canvas.save();
  Canvas.setRenderHint(QPainter::Antialiasing, false);
  Canvas.setClipRect(Rect.ToQRect());
  Canvas.setPen(ToQColor(Active ? clBtnShadow : clBtnFace));
  // Lines rising to the right every 8 pixels, as a back-diagonal hatch brush draws them.
  for (int x = Rect.Left - Rect.Height(); x < Rect.Right; x += 8)
    Canvas.drawLine(x, Rect.Bottom - 1, x + Rect.Height() - 1, Rect.Top);
  Canvas.restore();
}

TSkColorEdit::TSkColorEdit(QWidget* Parent) : TSkCustomEdit(Parent) {
  SetDropButtonVisible(true);
  setCursor(Qt::ArrowCursor);
  setMouseTracking(false);
}

void TSkColorEdit::DoDropDown() {
  TSkCustomEdit::DoDropDown();
  if (!isReadOnly()) DropColorPicker();
}

void TSkColorEdit::DropColorPicker() {
  if (!parentWidget()) return;
  // On the heap and watched: closing the window while the picker shows deletes the panel, the
  // picker and this edit with it.
  const QPointer<TSkColorEdit> self(this);
  const QPointer<TSkPopupPanel> panel = new TSkPopupPanel(parentWidget());
  QFont font = panel->font();
  font.setFamily(this->font().family());
  panel->setFont(font);
  const QPointer<TSkColorPicker> picker = new TSkColorPicker(panel);
  picker->SetCaptions(NoColorCaption, DefaultColorCaption, CustomColorCaption);
  picker->SetShown(ShowNoColor, ShowDefaultColor, ShowSystemColors, ShowCustomColor);
  picker->ShowColorHints = ShowColorHints;
  picker->SetCustomColor(CustomColor);
  picker->SetDefaultColor(DefaultColor);
  picker->SetSelectedColor(FSelectedColor);
  picker->CustomColors = CustomColors;
  const bool flatFrame = (FS.FrameVisible && !UsesThemedFrame(FS) && FS.FrameStyle == fsFlat) ||
                         FS.FrameStyle == fsFlatBold;
  if (flatFrame) {
    TInnerOuterBorders borders = picker->Borders();
    borders.BorderOuter = fsFlat;
    borders.FlatColor = FS.FrameColor;
    picker->SetBorders(borders);
  }
  picker->OnClick = [panel] {
    if (panel) panel->Close();
  };
  panel->resize(picker->size());
  const bool picked = panel->Popup(this) && self && picker;
  if (picked) {
    FSelectedColor = picker->SelectedColor();
    CustomColor = picker->CustomColor();
  }
  delete panel.data();
  if (!picked) return;
  update();
  if (OnChange) OnChange();
}

void TSkColorEdit::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  FillRect(canvas, TRect::FromQRect(rect()), Color());
  PaintFrame(canvas);
  const TRect inner{2, 2, width() - 2 - SkScrollBarWidth, height() - 2};
  const bool active = hasFocus() || Dropping();
  PaintColorSwatch(canvas, inner.Inflated(-2, -2), FSelectedColor, active);
  if (active) DrawFocusBorder(canvas, inner.Inflated(-1, -1));
  const TRect button = DropButtonRect();
  if (!button.IsEmpty()) PaintDropButton(canvas, DropButtonLook(button, Dropping()));
}

void TSkColorEdit::keyPressEvent(QKeyEvent* Event) {
  // A swatch has no text to type or walk: Space and Down open it as a list box's do.
  const bool plain = Event->modifiers() == Qt::NoModifier;
  if (IsDropDownKey(*Event) ||
      (plain && (Event->key() == Qt::Key_Space || Event->key() == Qt::Key_Down))) {
    Event->accept();
    return DropDown();
  }
  // Tab, Enter and Escape are the window's: they move on, press its default button or cancel.
  const int key = Event->key();
  if (key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Return ||
      key == Qt::Key_Enter || key == Qt::Key_Escape)
    return Event->ignore();
  Event->accept();
}

void TSkColorEdit::mousePressEvent(QMouseEvent* Event) {
  Event->accept();
  if (Event->button() != Qt::LeftButton) return;
  if (!hasFocus()) setFocus(Qt::MouseFocusReason);
  DropDown();
}

void TSkColorEdit::mouseDoubleClickEvent(QMouseEvent* Event) { Event->accept(); }

void TSkColorEdit::contextMenuEvent(QContextMenuEvent* Event) { Event->accept(); }
