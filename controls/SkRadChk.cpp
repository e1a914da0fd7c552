#include "SkRadChk.h"

#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>

namespace {

// The caption's wrapping and tabs, right-aligned when reading right to left.
unsigned CaptionFlags(bool RightToLeft) {
  return DT_WORDBREAK | DT_EXPANDTABS | (RightToLeft ? DT_RIGHT : 0u);
}

// The hot colours: the track colour with a light blend, or its complement and a darker one.
void HotColors(TSkHotTrackColorType Type, TColor Track, TColor& HotLight, TColor& Hot) {
  if (Type != htctComplement) {
    HotLight = BlendColors(Track, clWhite, 190);
    Hot = Track;
    return;
  }
  HotLight = ComplementaryColor(Track, 180);
  Hot = DarkerColor(HotLight, 30);
}

}  // namespace

int CustomGlyphIndex(bool Radio, TSkCheckState State, TSkGlyphDrawState Look) {
  const int row = Look == gdsDisabled ? 2 : Look == gdsPressed ? 1 : 0;
  return int(State) + row * (Radio ? 2 : 3);
}

void DrawGlyphButtonGlyph(QPainter& Canvas, const TRect& Rect, const TSkGlyphButtonPaint& P) {
  if (P.UseCustomGlyphs && !P.CustomGlyphs.isNull()) {
    const int w = P.CustomGlyphs.width() / std::max(P.GlyphCount, 1), h = P.CustomGlyphs.height();
    const int i = CustomGlyphIndex(P.Radio, P.Glyph.State, P.Glyph.DrawState);
    return CopyTransparentBitmapRect(Canvas, P.CustomGlyphs, Rect, {i * w, 0, (i + 1) * w, h},
                                     P.TransparentColor);
  }
  if (P.Radio) return DrawRadioButtonGlyph(Canvas, Rect, P.Glyph);
  DrawCheckBoxGlyph(Canvas, Rect, P.Glyph);
}

TSkGlyphButtonLayout GlyphButtonLayout(const TRect& Client, QSize GlyphSize,
                                       TVerticalAlignment Alignment, bool RightToLeft) {
  const int gw = GlyphSize.width(), gh = GlyphSize.height();
  const TRect column =
      RightToLeft
          ? TRect{Client.Right - 1 - gw, Client.Top + 1, Client.Right - 1, Client.Bottom - 1}
          : TRect{Client.Left + 1, Client.Top + 1, Client.Left + 1 + gw, Client.Bottom - 1};
  const TRect glyph = PlaceCaption(column, gh, Alignment);
  TRect caption = Client.Inflated(-1, -1);
  if (RightToLeft)
    caption.Right -= gw + 4;
  else
    caption.Left += gw + 4;
  return {{glyph.Left, glyph.Top, glyph.Right, glyph.Top + gh}, caption};
}

// ---- TSkCustomGlyphButton
// ---------------------------------------------------------------------------

TSkCustomGlyphButton::TSkCustomGlyphButton(QWidget* Parent, bool Radio)
    : TSkCustomButton(Parent), TSkFrameControlled(static_cast<QObject&>(*this)) {
  FPaint.Radio = Radio;
  FPaint.GlyphCount = Radio ? 6 : 9;
}

void TSkCustomGlyphButton::SetCustomGlyphs(const QImage& Value) {
  FPaint.CustomGlyphs = Value;
  SetUseCustomGlyphs(!Value.isNull());
}

void TSkCustomGlyphButton::SetUseCustomGlyphs(bool Value) {
  FPaint.UseCustomGlyphs = Value;
  const QImage& strip = FPaint.CustomGlyphs;
  FGlyphSize = Value && !strip.isNull() ? QSize(strip.width() / FPaint.GlyphCount, strip.height())
                                        : QSize(13, 13);
  AdjustBounds();
}

void TSkCustomGlyphButton::SetAutoSize(bool Value) {
  FAutoSize = Value;
  AdjustBounds();
}

void TSkCustomGlyphButton::SetCaption(const QString& Value) {
  TSkCustomButton::SetCaption(Value);
  FMnemonic = GrabCaptionMnemonic(*this, FMnemonic, Value);
  AdjustBounds();
}

void TSkCustomGlyphButton::Click() {
  if (OnClick) OnClick();
}

void TSkCustomGlyphButton::AdjustBounds() {
  if (FAutoSize) {
    const int glyphSide = FGlyphSize.width() + 4;
    QImage scratch(1, 1, QImage::Format_RGB32);
    QPainter measure(&scratch);
    measure.setFont(font());
    const int room = std::max(width() - 2 - glyphSide, 2);
    const TRect text =
        DrawString(measure, Caption(), {0, 0, room, 0}, DT_CALCRECT | CaptionFlags(false));
    resize(text.Width() + glyphSide + 2, std::max(text.Height(), FGlyphSize.height()) + 2);
  }
  update();
}

TSkGlyphDrawState TSkCustomGlyphButton::DrawState() const {
  if (!isEnabled()) return gdsDisabled;
  if (Down() || FKeyPressed) return gdsPressed;
  if (HotTrack() && MouseOver()) return gdsHot;
  return gdsNormal;
}

TSkGlyphButtonPaint TSkCustomGlyphButton::PaintSettings() const {
  TSkGlyphButtonPaint paint = FPaint;
  paint.Glyph.State = GlyphState();
  paint.Glyph.DrawState = DrawState();
  paint.Glyph.Focused = hasFocus();
  paint.Glyph.HighlightColor = HighlightColor();
  if (HotTrack())
    HotColors(HotTrackColorType(), HotTrackColor(), paint.Glyph.HotLightColor,
              paint.Glyph.HotColor);
  return paint;
}

void TSkCustomGlyphButton::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  const TRect client = TRect::FromQRect(rect());
  if (!Transparent()) FillRect(canvas, client, Color());
  const bool rtl = layoutDirection() == Qt::RightToLeft;
  const TSkGlyphButtonLayout layout =
      GlyphButtonLayout(client, FGlyphSize, AlignmentVertical(), rtl);
  DrawGlyphButtonGlyph(canvas, layout.Glyph, PaintSettings());
  DrawCaption(canvas, layout.Caption, CaptionFlags(rtl));
  if (!hasFocus() || Caption().isEmpty()) return;
  canvas.setFont(font());
  const TRect text = DrawString(canvas, Caption(), layout.Caption, DT_CALCRECT | CaptionFlags(rtl));
  TRect focus = PlaceCaption(layout.Caption, text.Height(), AlignmentVertical());
  if (rtl)
    focus.Left = focus.Right - text.Width();
  else
    focus.Right = focus.Left + text.Width();
  DrawFocusBorder(canvas, focus.Inflated(1, 1));
}

void TSkCustomGlyphButton::mousePressEvent(QMouseEvent* Event) {
  FMousePressing = true;
  TSkCustomButton::mousePressEvent(Event);
}

void TSkCustomGlyphButton::mouseReleaseEvent(QMouseEvent* Event) {
  TSkCustomButton::mouseReleaseEvent(Event);
  FMousePressing = false;
}

void TSkCustomGlyphButton::keyPressEvent(QKeyEvent* Event) {
  if (TabOnEnter && (Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter)) {
    focusNextChild();
    return;
  }
  TSkCustomButton::keyPressEvent(Event);
}

void TSkCustomGlyphButton::focusOutEvent(QFocusEvent* Event) {
  FKeyPressed = false;
  TSkCustomButton::focusOutEvent(Event);
}

void TSkCustomGlyphButton::changeEvent(QEvent* Event) {
  TSkCustomButton::changeEvent(Event);
  if (Event->type() == QEvent::FontChange) AdjustBounds();
}

bool TSkCustomGlyphButton::event(QEvent* Event) {
  if (IsShortcutEvent(Event, FMnemonic)) {
    if (focusPolicy() != Qt::NoFocus) setFocus(Qt::ShortcutFocusReason);
    return true;
  }
  return TSkCustomButton::event(Event);
}

// ---- TSkRadioButton
// ---------------------------------------------------------------------------------

TSkRadioButton::TSkRadioButton(QWidget* Parent) : TSkCustomGlyphButton(Parent, true) {
  setFocusPolicy(Qt::ClickFocus);
}

void TSkRadioButton::SetChecked(bool Value) {
  if (FChecked == Value) return;
  FChecked = Value;
  // Only the checked button of a group is reached with Tab.
  setFocusPolicy(Value ? Qt::StrongFocus : Qt::ClickFocus);
  update();
  if (!Value) return;
  if (QWidget* parent = parentWidget())
    for (auto* sibling : parent->findChildren<TSkRadioButton*>(Qt::FindDirectChildrenOnly))
      if (sibling != this) sibling->SetChecked(false);
  Click();
}

void TSkRadioButton::SetReadOnly(bool Value) {
  TSkCustomGlyphButton::SetReadOnly(Value);
  if (QWidget* parent = parentWidget())
    for (auto* sibling : parent->findChildren<TSkRadioButton*>(Qt::FindDirectChildrenOnly))
      if (sibling->ReadOnly() != Value) sibling->SetReadOnly(Value);
}

void TSkRadioButton::Toggle() {
  if (!FChecked && !ReadOnly()) SetChecked(true);
}

void TSkRadioButton::focusInEvent(QFocusEvent* Event) {
  TSkCustomGlyphButton::focusInEvent(Event);
  // A press checks the button on its release instead.
  if (Event->reason() != Qt::MouseFocusReason && !ReadOnly()) SetChecked(true);
}

QList<TSkRadioButton*> TSkRadioButton::Group() const {
  QWidget* parent = parentWidget();
  if (!parent) return {const_cast<TSkRadioButton*>(this)};
  QList<TSkRadioButton*> group;
  for (auto* sibling : parent->findChildren<TSkRadioButton*>(Qt::FindDirectChildrenOnly))
    if (sibling == this || (sibling->isEnabled() && sibling->isVisibleTo(parent))) group << sibling;
  return group;
}

void TSkRadioButton::keyPressEvent(QKeyEvent* Event) {
  int step = 0;
  switch (Event->key()) {
    case Qt::Key_Down:
    case Qt::Key_Right:
      step = 1;
      break;
    case Qt::Key_Up:
    case Qt::Key_Left:
      step = -1;
      break;
    default:
      return TSkCustomGlyphButton::keyPressEvent(Event);
  }
  if (Event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier))
    return TSkCustomGlyphButton::keyPressEvent(Event);
  const QList<TSkRadioButton*> group = Group();
  const qsizetype next = (group.indexOf(this) + step + group.size()) % group.size();
  group[next]->setFocus(Qt::OtherFocusReason);
}

// ---- TSkCustomCheckBox
// ------------------------------------------------------------------------------

TSkCustomCheckBox::TSkCustomCheckBox(QWidget* Parent) : TSkCustomGlyphButton(Parent, false) {}

void TSkCustomCheckBox::SetState(TSkCheckState Value) {
  if (FState == Value) return;
  FState = Value;
  update();
  Click();
}

void TSkCustomCheckBox::Toggle() {
  if (ReadOnly() && MousePressing()) return;
  switch (FState) {
    case cbUnchecked:
      return SetState(AllowGrayed ? cbGrayed : cbChecked);
    case cbChecked:
      return SetState(cbUnchecked);
    case cbGrayed:
      return SetState(cbChecked);
  }
}

void TSkCustomCheckBox::keyPressEvent(QKeyEvent* Event) {
  if (ReadOnly() || Event->isAutoRepeat()) return TSkCustomGlyphButton::keyPressEvent(Event);
  if (Event->key() == Qt::Key_Space) {
    FKeyPressed = true;
    return update();
  }
  if (Event->key() == Qt::Key_Escape && FKeyPressed) {
    FKeyPressed = false;
    return update();
  }
  TSkCustomGlyphButton::keyPressEvent(Event);
}

void TSkCustomCheckBox::keyReleaseEvent(QKeyEvent* Event) {
  if (Event->key() != Qt::Key_Space || Event->isAutoRepeat() || !FKeyPressed)
    return TSkCustomGlyphButton::keyReleaseEvent(Event);
  FKeyPressed = false;
  update();
  Toggle();
}
