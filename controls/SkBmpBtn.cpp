#include "SkBmpBtn.h"

#include <QDialog>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

namespace {

// The checkerboard a button that stays down shows: white where x and y are both even or odd.
const QImage& DownPattern() {
  static const QImage pattern = [] {
    QImage image(8, 8, QImage::Format_RGB32);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x)
        image.setPixelColor(x, y, ToQColor((x + y) % 2 == 0 ? clWhite : clBtnFace));
    return image;
  }();
  return pattern;
}

int BorderWidth(TButtonBorder Border, TButtonStyle Style) {
  switch (Border) {
    case bbNone:
      return 0;
    case bbSingle:
      return 1;
    case bbButton:
      return Style == bsWin31 ? 3 : 2;
  }
  return 0;
}

// A press that ends here counts only strictly inside the button.
bool Inside(const QWidget& Widget, const QPointF& At) {
  return TRect::FromQRect(Widget.rect()).Contains(int(std::floor(At.x())), int(std::floor(At.y())));
}

// Where a glyph and a text of these sizes go along one axis of a client of Size.
struct TAxisLayout {
  int Margin, Spacing;
};
TAxisLayout AxisLayout(int Size, int Glyph, int Text, int Margin, int Spacing) {
  if (Margin == -1 && Spacing == -1) {
    const int free = (Size - (Glyph + Text)) / 3;
    return {free, free};
  }
  if (Margin == -1) return {(Size - (Glyph + Spacing + Text) + 1) / 2, Spacing};
  if (Spacing == -1) return {Margin, (Size - (Margin + Glyph) - Text) / 2};
  return {Margin, Spacing};
}

void DrawBitmap(QPainter& Canvas, const QImage& Bitmap, const TRect& R, QPoint GlyphPos,
                TBtnSize Size, TColor Key) {
  const TRect whole{0, 0, Bitmap.width(), Bitmap.height()};
  switch (Size) {
    case bszNeither:
      return CopyTransparentBitmapRect(Canvas, Bitmap, whole.Offset(GlyphPos.x(), GlyphPos.y()),
                                       whole, Key);
    case bszButtonToBitmap:
      return StretchTransparentBitmapRect(Canvas, Bitmap, R, whole, Key);
    case bszStretchToButton:
      return DrawTransparentBitmap(Canvas, Bitmap, R, Key);
    case bszTileToButton:
      return TileTransparentBitmap(Canvas, Bitmap, R, Key);
  }
}

void DrawCaption(QPainter& Canvas, const TSkBmpButtonPaint& P, TRect Text) {
  Canvas.setFont(P.Font);
  if (P.State == bstDisabled) {
    Canvas.setPen(ToQColor(clWhite));
    DrawCenteredString(Canvas, P.Caption, Text.Offset(1, 1));
    Canvas.setPen(ToQColor(RGB(128, 128, 128)));
    DrawCenteredString(Canvas, P.Caption, Text);
    return;
  }
  if (P.State == bstDown || P.State == bstExclusive)
    Text = Text.Offset(P.CaptionDownOffset, P.CaptionDownOffset);
  Canvas.setPen(ToQColor(P.FontColor));
  DrawCenteredString(Canvas, P.Caption, Text);
}

}  // namespace

// ---- TSkButtonBitmaps
// -------------------------------------------------------------------------------

void TSkButtonBitmaps::Store(QImage& Field, const QImage& Value) {
  Field = Value;
  if (OnChange) OnChange();
}

void TSkButtonBitmaps::SetTransparentColor(TColor Value) {
  FTransparentColor = Value;
  if (OnChange) OnChange();
}

// ---- Painting
// ---------------------------------------------------------------------------------------

QImage EmbossedBitmap(const QImage& Bitmap, TColor TransparentColor) {
  const int w = Bitmap.width(), h = Bitmap.height();
  QImage result(w, h, QImage::Format_RGB32);
  result.fill(ToQColor(TransparentColor));
  const QRgb key = ToQColor(TransparentColor).rgb();
  const auto dark = [&](int X, int Y) {
    const QRgb pixel = Bitmap.pixel(X, Y);
    return (pixel & 0xFFFFFF) != (key & 0xFFFFFF) && qGray(pixel) < 192;
  };
  for (int y = 0; y + 1 < h; ++y)
    for (int x = 0; x + 1 < w; ++x)
      if (dark(x, y)) result.setPixelColor(x + 1, y + 1, Qt::white);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (dark(x, y)) result.setPixelColor(x, y, ToQColor(clBtnShadow));
  return result;
}

QImage BmpButtonBitmap(const TSkBmpButtonPaint& P) {
  const TSkButtonBitmaps& b = *P.Bitmaps;
  if (P.State == bstDisabled && !b.Disabled().isNull()) return b.Disabled();
  if (b.Up().isNull()) return {};
  switch (P.State) {
    case bstUp:
      if (P.MouseInside && !b.Hot().isNull()) return b.Hot();
      if (P.Focused && P.ShowFocus && !b.UpAndFocused().isNull()) return b.UpAndFocused();
      return b.Up();
    case bstDisabled:
      return EmbossedBitmap(b.Up(), b.TransparentColor());
    case bstDown:
      return b.Down().isNull() ? b.Up() : b.Down();
    case bstExclusive:
      return !b.StayDown().isNull() ? b.StayDown() : !b.Down().isNull() ? b.Down() : b.Up();
  }
  return {};
}

TSkButtonLayout CalcButtonLayout(const TRect& Client, QSize GlyphSize, QSize TextSize,
                                 TButtonLayout Layout, int Margin, int Spacing) {
  const bool across = Layout == blGlyphLeft || Layout == blGlyphRight;
  if (TextSize.width() == 0 || GlyphSize.width() == 0) Spacing = 0;
  const int size = across ? Client.Width() : Client.Height();
  const int glyph = across ? GlyphSize.width() : GlyphSize.height();
  const int text = across ? TextSize.width() : TextSize.height();
  const TAxisLayout axis = AxisLayout(size, glyph, text, Margin, Spacing);
  int glyphAt = axis.Margin, textAt = glyphAt + glyph + axis.Spacing;
  if (Layout == blGlyphRight || Layout == blGlyphBottom) {
    glyphAt = size - axis.Margin - glyph;
    textAt = glyphAt - axis.Spacing - text;
  }
  QPoint glyphPos, textPos;
  if (across) {
    glyphPos = {glyphAt, (Client.Height() - GlyphSize.height() + 1) / 2};
    textPos = {textAt, (Client.Height() - TextSize.height() + 1) / 2};
  } else {
    glyphPos = {(Client.Width() - GlyphSize.width() + 1) / 2, glyphAt};
    textPos = {(Client.Width() - TextSize.width() + 1) / 2, textAt};
  }
  const QPoint origin(Client.Left, Client.Top);
  glyphPos += origin;
  textPos += origin;
  return {
      glyphPos,
      {textPos.x(), textPos.y(), textPos.x() + TextSize.width(), textPos.y() + TextSize.height()}};
}

void PaintBmpButton(QPainter& Canvas, const TRect& Bounds, const TSkBmpButtonPaint& P) {
  const bool win31 = P.ButtonStyle == bsWin31;
  const bool down = P.State == bstDown || P.State == bstExclusive;
  TRect r = Bounds;
  if (P.ButtonBorder != bbNone) {
    FillRect(Canvas, r, P.Color);
    if (P.ButtonBorder == bbSingle)
      DrawBox(Canvas, r, clBlack);
    else
      DrawBorder(Canvas, r, down ? fsButtonDown : fsButtonUp);
    r = r.Inflated(-1, -1);
  }
  if (P.State == bstExclusive && P.ShowDownPattern) {
    // The pattern fills the face of a bordered button; the picture moves down and right.
    if (P.ButtonBorder != bbNone) Canvas.fillRect(r.ToQRect(), QBrush(DownPattern()));
    const int shift = win31 ? 2 : 1;
    r = {r.Left + shift, r.Top + shift, r.Right, r.Bottom};
  }
  const QImage bitmap = BmpButtonBitmap(P);
  Canvas.save();
  Canvas.setFont(P.Font);
  const QSize glyph = P.ButtonSize == bszNeither ? bitmap.size() : QSize(0, 0);
  const QSize text =
      P.Caption.isEmpty()
          ? QSize(0, 0)
          : DrawString(Canvas, P.Caption, r, DT_CALCRECT | DT_SINGLELINE).ToQRect().size();
  const TSkButtonLayout layout = CalcButtonLayout(r, glyph, text, P.Layout, P.Margin, P.Spacing);
  if (!bitmap.isNull())
    DrawBitmap(Canvas, bitmap, r, layout.GlyphPos, P.ButtonSize, P.Bitmaps->TransparentColor());
  if (!P.Caption.isEmpty()) DrawCaption(Canvas, P, layout.TextBounds);
  // Without a caption there is nothing to frame: the picture shows the focus, or nothing does.
  if (P.Focused && P.ShowFocus && !P.Caption.isEmpty())
    DrawFocusBorder(Canvas, layout.TextBounds.Inflated(2, 2));
  Canvas.restore();
}

// ---- TSkBmpButton
// -----------------------------------------------------------------------------------

TSkBmpButton::TSkBmpButton(QWidget* Parent) : QWidget(Parent) {
  FPaint.Bitmaps = &FBitmaps;
  FBitmaps.OnChange = [this] { AdjustBounds(); };
  setFocusPolicy(Qt::StrongFocus);
  resize(80, 30);
}

void TSkBmpButton::SetAllowAllUp(bool Value) {
  FAllowAllUp = Value;
  UpdateExclusive();
}

void TSkBmpButton::SetGroupIndex(int Value) {
  FGroupIndex = Value;
  UpdateExclusive();
}

void TSkBmpButton::SetDown(bool Value) {
  if (FGroupIndex == 0) Value = false;
  if (Value == FDown || (FDown && !FAllowAllUp)) return;
  FDown = Value;
  SetState(Value ? bstExclusive : bstUp);
  if (Value) UpdateExclusive();
}

void TSkBmpButton::SetCaption(const QString& Value) {
  if (FPaint.Caption == Value) return;
  FPaint.Caption = Value;
  FMnemonic = GrabCaptionMnemonic(*this, FMnemonic, Value);
  update();
}

void TSkBmpButton::SetButtonBorder(TButtonBorder Value) {
  FPaint.ButtonBorder = Value;
  AdjustBounds();
}

void TSkBmpButton::SetButtonStyle(TButtonStyle Value) {
  FPaint.ButtonStyle = Value;
  AdjustBounds();
}

void TSkBmpButton::SetButtonSize(TBtnSize Value) {
  FPaint.ButtonSize = Value;
  AdjustBounds();
}

void TSkBmpButton::SetMargin(int Value) {
  if (Value >= -1) StoreAndUpdate(*this, FPaint.Margin, Value);
}

// The handler runs while the dialog is still open; a handler that closed it has the last word.
void TSkBmpButton::Click() {
  const QPointer<QDialog> dialog = ModalResult != 0 ? qobject_cast<QDialog*>(window()) : nullptr;
  if (OnClick) OnClick();
  if (dialog && dialog->isVisible()) dialog->done(ModalResult);
}

QSize TSkBmpButton::sizeHint() const {
  const QImage& up = FBitmaps.Up();
  if (FPaint.ButtonSize != bszButtonToBitmap || up.isNull()) return size();
  const int b = BorderWidth(FPaint.ButtonBorder, FPaint.ButtonStyle);
  return up.size() + QSize(2 * b, 2 * b);
}

void TSkBmpButton::AdjustBounds() {
  if (FPaint.ButtonSize == bszButtonToBitmap && !FBitmaps.Up().isNull()) resize(sizeHint());
  update();
}

TSkBmpButtonPaint TSkBmpButton::PaintSettings() const {
  TSkBmpButtonPaint paint = FPaint;
  // Qt does not tell a button made on a disabled parent, so the look asks at paint time.
  if (!isEnabled())
    paint.State = bstDisabled;
  else if (paint.State == bstDisabled)
    paint.State = FDown ? bstExclusive : bstUp;
  paint.Focused = hasFocus();
  paint.Font = font();
  return paint;
}

void TSkBmpButton::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  PaintBmpButton(canvas, TRect::FromQRect(rect()), PaintSettings());
}

void TSkBmpButton::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  if (size() != sizeHint()) AdjustBounds();
}

void TSkBmpButton::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton || !isEnabled()) return QWidget::mousePressEvent(Event);
  if (!hasFocus() && window()->isVisible() && (focusPolicy() & Qt::ClickFocus))
    setFocus(Qt::MouseFocusReason);
  if (!FDown) SetState(bstDown);
  FPressed = true;
}

void TSkBmpButton::mouseMoveEvent(QMouseEvent* Event) {
  if (!FPressed) return QWidget::mouseMoveEvent(Event);
  const bool inside = Inside(*this, Event->position());
  SetState(FDown ? bstExclusive : inside ? bstDown : bstUp);
}

void TSkBmpButton::mouseReleaseEvent(QMouseEvent* Event) {
  if (!FPressed || Event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(Event);
  Release(Inside(*this, Event->position()));
}

void TSkBmpButton::mouseDoubleClickEvent(QMouseEvent* Event) {
  mousePressEvent(Event);
  if (FDown && OnDblClick) OnDblClick();
}

void TSkBmpButton::Release(bool Inside) {
  FPressed = false;
  UpdateExclusive();
  if (FGroupIndex != 0 && Inside)
    SetDown(!FDown);
  else
    SetState(FDown ? bstExclusive : bstUp);
  if (Inside) Click();
}

void TSkBmpButton::UpdateExclusive() {
  QWidget* parent = parentWidget();
  if (FGroupIndex == 0 || !parent) return SetState(bstUp);
  for (auto* sibling : parent->findChildren<TSkBmpButton*>(Qt::FindDirectChildrenOnly))
    sibling->GroupChanged(*this);
}

void TSkBmpButton::GroupChanged(const TSkBmpButton& Sender) {
  if (&Sender == this || Sender.FGroupIndex != FGroupIndex) return;
  if (Sender.FDown && FDown) {
    FDown = false;
    SetState(bstUp);
  }
  FAllowAllUp = Sender.FAllowAllUp;
}

void TSkBmpButton::keyPressEvent(QKeyEvent* Event) {
  switch (Event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return Click();
    case Qt::Key_Space:
      if (Event->isAutoRepeat() || !isEnabled()) return;
      if (!FDown) SetState(bstDown);
      FPressed = true;
      return;
    default:
      QWidget::keyPressEvent(Event);
  }
}

void TSkBmpButton::keyReleaseEvent(QKeyEvent* Event) {
  if (Event->key() != Qt::Key_Space || Event->isAutoRepeat() || !FPressed)
    return QWidget::keyReleaseEvent(Event);
  SetState(bstUp);
  Release(true);
}

void TSkBmpButton::enterEvent(QEnterEvent* Event) {
  FPaint.MouseInside = true;
  if (!FBitmaps.Hot().isNull()) update();
  QWidget::enterEvent(Event);
}

void TSkBmpButton::leaveEvent(QEvent* Event) {
  FPaint.MouseInside = false;
  if (!FBitmaps.Hot().isNull()) update();
  QWidget::leaveEvent(Event);
}

void TSkBmpButton::focusInEvent(QFocusEvent* Event) {
  QWidget::focusInEvent(Event);
  update();
}

void TSkBmpButton::focusOutEvent(QFocusEvent* Event) {
  QWidget::focusOutEvent(Event);
  update();
}

void TSkBmpButton::changeEvent(QEvent* Event) {
  QWidget::changeEvent(Event);
  if (Event->type() == QEvent::EnabledChange) {
    if (!isEnabled()) FPressed = false;
    SetState(!isEnabled() ? bstDisabled : FDown ? bstExclusive : bstUp);
  } else if (Event->type() == QEvent::FontChange) {
    update();
  }
}

bool TSkBmpButton::event(QEvent* Event) {
  if (IsShortcutEvent(Event, FMnemonic)) {
    if (isEnabled()) Click();
    return true;
  }
  return QWidget::event(Event);
}
