#include "SkBtnEdt.h"

#include <QKeyEvent>
#include <QPainter>

#include <array>

namespace {

// Transparent key of the stock glyphs (PaintControlButton reads it from the bottom-left pixel).
constexpr TColor GlyphKey = RGB(255, 0, 255);

// One 10 by 10 picture of a kind in Color, drawn from its left edge at X.
void DrawStockPicture(QPainter& P, TButtonKind Kind, int X, TColor Color) {
  P.setPen(ToQColor(Color));
  P.setBrush(Qt::NoBrush);
  const QPoint o(X, 0);
  switch (Kind) {
    case bkLookup:
      for (int i = 0; i < 3; ++i)
        P.fillRect(QRect(o + QPoint(1 + 3 * i, 6), QSize(2, 2)), ToQColor(Color));
      break;
    case bkCalendar:
      P.drawRect(QRect(o + QPoint(1, 1), QSize(7, 7)));
      P.drawLine(o + QPoint(1, 3), o + QPoint(8, 3));
      P.drawLine(o + QPoint(4, 3), o + QPoint(4, 8));
      P.drawLine(o + QPoint(1, 5), o + QPoint(8, 5));
      break;
    case bkAccept:
      for (int i = 0; i < 2; ++i) {
        P.drawLine(o + QPoint(1, 4 + i), o + QPoint(3, 6 + i));
        P.drawLine(o + QPoint(3, 6 + i), o + QPoint(8, 1 + i));
      }
      break;
    case bkReject:
      for (int i = 0; i < 2; ++i) {
        P.drawLine(o + QPoint(1 + i, 1), o + QPoint(7 + i, 7));
        P.drawLine(o + QPoint(7 + i, 1), o + QPoint(1 + i, 7));
      }
      break;
    case bkFolder:
      P.drawRect(QRect(o + QPoint(1, 3), QSize(7, 5)));
      P.drawLine(o + QPoint(2, 2), o + QPoint(4, 2));
      break;
    case bkFind:
    case bkSearch:
      P.drawEllipse(QRect(o + QPoint(1, 1), QSize(5, 5)));
      P.drawLine(o + QPoint(6, 6), o + QPoint(8, 8));
      if (Kind == bkSearch) P.drawPoint(o + QPoint(3, 3));
      break;
    default:
      break;
  }
}

QImage MakeStockGlyph(TButtonKind Kind) {
  if (Kind == bkCustom || Kind == bkDropDown) return {};
  QImage glyph(20, 10, QImage::Format_RGB32);
  glyph.fill(ToQColor(GlyphKey));
  QPainter painter(&glyph);
  DrawStockPicture(painter, Kind, 0, clBlack);
  DrawStockPicture(painter, Kind, 10, clBtnShadow);
  return glyph;
}

}  // namespace

const QImage& StockButtonGlyph(TButtonKind Kind) {
  static std::array<QImage, bkSearch + 1> cache;
  static std::array<bool, bkSearch + 1> made{};
  if (!made[Kind]) cache[Kind] = MakeStockGlyph(Kind), made[Kind] = true;
  return cache[Kind];
}

// ---- TSkButtonPair ------------------------------------------------------------------------------

TSkButtonPair::TSkButtonPair(QWidget* Parent)
    : QWidget(Parent), FAltButton(new TSkControlButton(this)), FButton(new TSkControlButton(this)) {
  FAltButton->hide();
  const int width = UseVisualStyles() ? 15 : 17;
  FAltButton->resize(width, 21);
  FButton->resize(width, 21);
  FButton->OnClick = [this] { Clicked(OnButtonClick); };
  FAltButton->OnClick = [this] { Clicked(OnAltBtnClick); };
  resize(34, 21);
}

void TSkButtonPair::Clicked(const std::function<void()>& Handler) {
  QWidget* target = FocusControl;
  if (target && !target->hasFocus() && target->isEnabled() && target->focusPolicy() != Qt::NoFocus)
    target->setFocus(Qt::OtherFocusReason);
  if (Handler) Handler();
}

void TSkButtonPair::SetFlat(bool Value) {
  FButton->SetFlat(Value);
  FAltButton->SetFlat(Value);
}

void TSkButtonPair::SetColor(TColor Value) {
  FButton->SetColor(Value);
  FAltButton->SetColor(Value);
}

void TSkButtonPair::UpdateWidth() {
  int total = 0;
  for (TSkControlButton* button : {FAltButton, FButton})
    if (!button->isHidden()) total += button->width();
  resize(total, height());
}

void TSkButtonPair::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  int x = 0;
  for (TSkControlButton* button : {FAltButton, FButton}) {
    if (button->isHidden()) continue;
    button->setGeometry(x, 0, button->width(), height());
    x += button->width();
  }
}

// ---- TSkCustomButtonEdit ------------------------------------------------------------------------

TSkCustomButtonEdit::TSkCustomButtonEdit(QWidget* Parent)
    : TSkEdit(Parent), FPair(new TSkButtonPair(this)) {
  FPair->FocusControl = this;
  FPair->OnButtonClick = [this] {
    if (OnButtonClick) OnButtonClick();
  };
  FPair->OnAltBtnClick = [this] {
    if (OnAltBtnClick) OnAltBtnClick();
  };
  SetKind(FPair->Button(), FButtonKind, bkLookup);
  SetKind(FPair->AltButton(), FAltBtnKind, bkLookup);
  resize(121, height());
  FPair->UpdateWidth();
  SetEmbeddedButtons(FPair);
}

void TSkCustomButtonEdit::SetKind(TSkControlButton& Button, TButtonKind& Field, TButtonKind Value) {
  Field = Value;
  if (Value == bkCustom) return;
  Button.SetGlyph(StockButtonGlyph(Value));
  Button.SetNumGlyphs(Value == bkDropDown ? 1 : 2);
  Button.SetStyle(Value == bkDropDown ? cbsDropDown : cbsNone);
}

void TSkCustomButtonEdit::SetButtonGlyph(const QImage& Value) {
  FButtonKind = bkCustom;
  FPair->Button().SetGlyph(Value);
}

void TSkCustomButtonEdit::SetAltBtnGlyph(const QImage& Value) {
  FAltBtnKind = bkCustom;
  FPair->AltButton().SetGlyph(Value);
}

void TSkCustomButtonEdit::SetButtonVisible(bool Value) {
  FPair->Button().setVisible(Value);
  PlaceButtons();
}

void TSkCustomButtonEdit::SetAltBtnVisible(bool Value) {
  FPair->AltButton().setVisible(Value);
  PlaceButtons();
}

void TSkCustomButtonEdit::SetButtonWidth(int Value) {
  FPair->Button().resize(std::max(Value, 0), FPair->Button().height());
  PlaceButtons();
}

void TSkCustomButtonEdit::SetAltBtnWidth(int Value) {
  FPair->AltButton().resize(std::max(Value, 0), FPair->AltButton().height());
  PlaceButtons();
}

void TSkCustomButtonEdit::SetHideButtonsOnReadOnly(bool Value) {
  FHideButtonsOnReadOnly = Value;
  PlaceButtons();
}

void TSkCustomButtonEdit::PlaceButtons() {
  FPair->UpdateWidth();
  PlaceEmbeddedButtons();
  update();
}

bool TSkCustomButtonEdit::ClickShortCut(const QKeyEvent& Event) {
  const Qt::KeyboardModifiers mods =
      Event.modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  const QKeyCombination pressed(mods, Qt::Key(Event.key()));
  for (auto [button, shortCut] : {std::pair{&FPair->Button(), ButtonShortCut},
                                  std::pair{&FPair->AltButton(), AltBtnShortCut}})
    if (!button->isHidden() && button->isEnabled() && pressed == shortCut) {
      button->Click();
      return true;
    }
  return false;
}

void TSkCustomButtonEdit::keyPressEvent(QKeyEvent* Event) {
  if (!AllowKeyEdit && Event->key() == Qt::Key_Delete) return InvalidKeyBeep();
  if (!EmbeddedButtonsHidden() && ClickShortCut(*Event)) return Event->accept();
  const QChar typed = TypedChar(*Event);
  if (!AllowKeyEdit && (typed >= QLatin1Char(' ') || typed == QLatin1Char('\b')))
    return InvalidKeyBeep();
  TSkEdit::keyPressEvent(Event);
}
