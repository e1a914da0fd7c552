#include "SkButton.h"

#include <QMouseEvent>
#include <QPainter>

namespace {

// The text measured as the caption lays it out: centred, wrapped, tabs expanded.
constexpr unsigned CaptionMeasureFlags =
    DT_CALCRECT | DT_EXPANDTABS | DT_WORDBREAK | DT_VCENTER | DT_CENTER;

}  // namespace

TRect PlaceCaption(const TRect& Rect, int TextHeight, TVerticalAlignment Alignment) {
  TRect r = Rect;
  switch (Alignment) {
    case avTop:
      r.Bottom = r.Top + TextHeight;
      break;
    case avCenter:
      r.Top += (Rect.Height() - TextHeight) / 2;
      r.Bottom = r.Top + TextHeight;
      break;
    case avBottom:
      r.Top = r.Bottom - TextHeight - 1;
      break;
  }
  return r;
}

namespace {

// A press that ends at (X, Y) counts only strictly inside the Width by Height client area.
bool Inside(const QWidget& Widget, const QPointF& At) {
  return TRect::FromQRect(Widget.rect()).Contains(int(std::floor(At.x())), int(std::floor(At.y())));
}

}  // namespace

void DrawButtonCaption(QPainter& Canvas, const TSkCaptionPaint& C, const TRect& Rect,
                       unsigned Flags) {
  Canvas.save();
  Canvas.setFont(C.Font);
  Canvas.setBrush(Qt::NoBrush);
  const TRect measured = DrawString(Canvas, C.Caption, Rect, CaptionMeasureFlags);
  const TRect r = PlaceCaption(Rect, measured.Height(), C.AlignmentVertical);
  if (C.RightToLeft) Flags |= DT_RTLREADING;
  if (!C.Enabled) {
    const TColor gray = ColorsTooClose(C.Color, clGrayText) ? cl3DDkShadow : clGrayText;
    DrawStyledText(Canvas, C.Caption, r, Flags, {}, gray);
  } else {
    DrawStyledText(
        Canvas, C.Caption, r, Flags,
        {C.TextStyle, C.LightTextStyle, C.TextHighlightColor, C.TextShadowColor, C.TextShadowDepth},
        C.FontColor);
  }
  Canvas.restore();
}

// ---- TSkCustomButton
// ------------------------------------------------------------------------------

TSkCustomButton::TSkCustomButton(QWidget* Parent) : QWidget(Parent) {
  resize(115, 17);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_Hover);
}

void TSkCustomButton::SetCaption(const QString& Value) {
  if (FCaption == Value) return;
  FCaption = Value;
  RepaintState();
}

void TSkCustomButton::SetTransparent(bool Value) {
  if (FTransparent == Value) return;
  FTransparent = Value;
  // A transparent button leaves its background to the parent's painting.
  setAttribute(Qt::WA_OpaquePaintEvent, !Value);
  update();
}

void TSkCustomButton::DrawCaption(QPainter& Canvas, const TRect& Rect, unsigned Flags) {
  TSkCaptionPaint caption = FCaptionPaint;
  caption.Caption = FCaption;
  caption.Font = font();
  caption.Enabled = isEnabled();
  caption.RightToLeft = layoutDirection() == Qt::RightToLeft;
  DrawButtonCaption(Canvas, caption, Rect, Flags);
}

void TSkCustomButton::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton || !isEnabled()) return QWidget::mousePressEvent(Event);
  setFocus(Qt::MouseFocusReason);
  if (!isVisible()) return;
  FDown = true;
  RepaintState();
  FDragging = true;
}

void TSkCustomButton::mouseMoveEvent(QMouseEvent* Event) {
  if (!FDragging) return QWidget::mouseMoveEvent(Event);
  const bool down = Inside(*this, Event->position());
  if (down == FDown) return;
  FDown = down;
  RepaintState();
}

void TSkCustomButton::mouseReleaseEvent(QMouseEvent* Event) {
  if (!FDragging) return QWidget::mouseReleaseEvent(Event);
  FDragging = false;
  FDown = false;
  if (Inside(*this, Event->position())) ChangeState();
  RepaintState();
}

void TSkCustomButton::SetMouseOver(bool Value) {
  FMouseOver = Value;
  if (FHotTrack || UseThemes()) update(HotTrackRect().ToQRect());
}

void TSkCustomButton::enterEvent(QEnterEvent* Event) {
  SetMouseOver(true);
  QWidget::enterEvent(Event);
}

void TSkCustomButton::leaveEvent(QEvent* Event) {
  SetMouseOver(false);
  QWidget::leaveEvent(Event);
}

void TSkCustomButton::focusInEvent(QFocusEvent* Event) {
  QWidget::focusInEvent(Event);
  RepaintState();
}

void TSkCustomButton::focusOutEvent(QFocusEvent* Event) {
  QWidget::focusOutEvent(Event);
  RepaintState();
}

void TSkCustomButton::changeEvent(QEvent* Event) {
  QWidget::changeEvent(Event);
  if (Event->type() == QEvent::EnabledChange) {
    if (!isEnabled() && hasFocus()) clearFocus();
    update();
  } else if (Event->type() == QEvent::FontChange) {
    update();
  }
}

// ---- TSkControlButton
// -----------------------------------------------------------------------------

int ControlButtonGlyphCell(const TSkControlButtonPaint& B) {
  const int cell = !B.Enabled ? 1 : B.Down ? 2 : 0;
  return cell < B.NumGlyphs ? cell : 0;
}

void PaintControlButton(QPainter& Canvas, const TSkControlButtonPaint& B) {
  TRect face = B.Bounds;
  if (!B.Flat) {
    face = B.Down ? DrawBox(Canvas, B.Bounds, clBtnShadow) : DrawBorder(Canvas, B.Bounds, fsRaised);
  } else if (B.Down || (B.MouseInControl && B.Enabled)) {
    face = DrawBorder(Canvas, B.Bounds, B.Down ? fsStatus : fsPopup);
  }
  const TColor faceColor = B.Flat ? B.Color : clBtnFace;
  FillRect(Canvas, face, faceColor);
  if (!B.Glyph.isNull()) {
    const int cellWidth = B.Glyph.width() / std::max(B.NumGlyphs, 1), height = B.Glyph.height();
    const int left = ControlButtonGlyphCell(B) * cellWidth;
    TRect target = CenterRect(B.Bounds, cellWidth, height);
    if (B.Down) target = target.Offset(1, 1);
    // The bottom-left pixel names the glyph's transparent colour.
    const TColor key = FromQColor(B.Glyph.pixelColor(0, height - 1));
    CopyTransparentBitmapRect(Canvas, B.Glyph, target, {left, 0, left + cellWidth, height}, key);
    return;
  }
  switch (B.Style) {
    case cbsLeft:
      return DrawArrow(Canvas, B.Bounds, vsClassic, B.Enabled, adLeft, faceColor);
    case cbsUp:
      return DrawArrow(Canvas, B.Bounds, vsClassic, B.Enabled, adUp, faceColor);
    case cbsRight:
      return DrawArrow(Canvas, B.Bounds, vsClassic, B.Enabled, adRight, faceColor);
    case cbsDown:
      return DrawArrow(Canvas, B.Bounds, vsClassic, B.Enabled, adDown, faceColor);
    case cbsDropDown:
      return DrawDropDownArrow(Canvas, B.Bounds, vsClassic, B.Enabled, faceColor);
    case cbsNone:
      return;
  }
}

TSkControlButton::TSkControlButton(QWidget* Parent) : QWidget(Parent) {
  resize(17, 21);
  setAttribute(Qt::WA_Hover);
}

TSkControlButton::~TSkControlButton() = default;

void TSkControlButton::SetGlyph(const QImage& Value) {
  FPaint.Glyph = Value;
  const int w = Value.width(), h = Value.height();
  if (h > 0 && w % h == 0) FPaint.NumGlyphs = w / h > 4 ? 1 : std::max(w / h, 1);
  update();
}

void TSkControlButton::Click() {
  if (OnClick) OnClick();
}

void TSkControlButton::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  FPaint.Bounds = TRect::FromQRect(rect());
  FPaint.Enabled = isEnabled();
  PaintControlButton(canvas, FPaint);
}

void TSkControlButton::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton || !isEnabled()) return QWidget::mousePressEvent(Event);
  FPaint.Down = true;
  update();
  FDragging = true;
  if (!RepeatClicks) return;
  if (!FRepeatTimer) {
    FRepeatTimer = CreateSkTimer();
    FRepeatTimer->OnTimer = [this] { RepeatTimer(); };
  }
  FRepeatTimer->Start(InitialDelay);
}

void TSkControlButton::RepeatTimer() {
  FRepeatTimer->SetInterval(Delay);
  if (FPaint.Down && FDragging) Click();
}

void TSkControlButton::mouseReleaseEvent(QMouseEvent* Event) {
  if (!FDragging) return QWidget::mouseReleaseEvent(Event);
  FDragging = false;
  FPaint.Down = false;
  FPaint.MouseInControl = false;
  update();
  const bool inside = Inside(*this, Event->position());
  if (inside) Click();
  if ((FPaint.Flat || UseVisualStyles()) && isEnabled()) SetMouseInControl(inside);
  if (FRepeatTimer) FRepeatTimer->Stop();
}

void TSkControlButton::SetMouseInControl(bool Value) {
  FPaint.MouseInControl = Value;
  if (FPaint.Flat || UseVisualStyles()) update();
}

void TSkControlButton::enterEvent(QEnterEvent* Event) {
  SetMouseInControl(true);
  QWidget::enterEvent(Event);
}

void TSkControlButton::leaveEvent(QEvent* Event) {
  SetMouseInControl(false);
  QWidget::leaveEvent(Event);
}

void TSkControlButton::changeEvent(QEvent* Event) {
  QWidget::changeEvent(Event);
  if (Event->type() == QEvent::EnabledChange) update();
}
