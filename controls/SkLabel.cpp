#include "SkLabel.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QtMath>

#include <cmath>

namespace {

constexpr unsigned DT_PATH_ELLIPSIS = 0x4000;

unsigned CondenseFlags(TSkCondenseCaption Condense) {
  return Condense == ccAtEnd ? DT_END_ELLIPSIS : Condense == ccWithinPath ? DT_PATH_ELLIPSIS : 0;
}

// The caption shortened to Width the way the condense flags ask.
QString Condensed(const QString& Text, const QFont& Font, int Width, unsigned Flags) {
  if (!(Flags & (DT_END_ELLIPSIS | DT_PATH_ELLIPSIS))) return Text;
  const Qt::TextElideMode mode = (Flags & DT_END_ELLIPSIS) ? Qt::ElideRight : Qt::ElideMiddle;
  return QFontMetrics(Font).elidedText(Text, mode, Width, Qt::TextShowMnemonic);
}

void DrawLabelText(QPainter& Canvas, const QString& Text, const TRect& Rect, unsigned Flags,
                   const TSkLabelPaint& L) {
  if (!L.Enabled) return DrawEmbossedText(Canvas, Text, Rect, Flags);
  DrawStyledText(Canvas, Text, Rect, Flags, L.TextStyle, L.TextColor);
}

unsigned TextFlags(const TSkLabelPaint& L) {
  return DT_EXPANDTABS | AlignmentFlags(L.Alignment) | (L.WordWrap ? DT_WORDBREAK : 0u) |
         CondenseFlags(L.CondenseCaption);
}

void DrawUnrotated(QPainter& Canvas, TRect R, const TSkLabelPaint& L) {
  const unsigned flags = TextFlags(L);
  const QString text = Condensed(L.Caption, L.Font, R.Width(), flags);
  if (L.Layout != tlTop) {
    const int h = DrawString(Canvas, text, R, flags | DT_CALCRECT).Height();
    R.Top += L.Layout == tlCenter ? (R.Height() - h) / 2 : R.Height() - h;
  }
  if (L.TextStyle.TextStyle == tsShadow) {
    if (L.Alignment == taRightJustify) R = R.Offset(-L.TextStyle.ShadowDepth, 0);
    if (L.Layout == tlBottom) R = R.Offset(0, -L.TextStyle.ShadowDepth);
  }
  DrawLabelText(Canvas, text, R, flags, L);
}

// The point of R a turned text hangs from, as fractions of its width and height.
QPointF CenterFractions(TCenterPoint Point) { return {(Point % 3) / 2.0, (Point / 3) / 2.0}; }

void DrawTurned(QPainter& Canvas, const TRect& R, const TSkLabelPaint& L) {
  const QFontMetrics metrics(L.Font);
  const int w = metrics.horizontalAdvance(RemoveAccelChars(L.Caption)), h = metrics.height();
  const QPointF f = CenterFractions(L.CenterPoint);
  Canvas.save();
  Canvas.translate(R.Left + f.x() * R.Width(), R.Top + f.y() * R.Height());
  Canvas.rotate(-L.Angle);
  const int left = int(-f.x() * w), top = int(-f.y() * h);
  DrawLabelText(Canvas, L.Caption, {left, top, left + w, top + h}, DT_SINGLELINE, L);
  Canvas.restore();
}

// Each character upright on an arc around the middle of R, the text centred on the top of the
// arc turned by Angle.
void DrawCurved(QPainter& Canvas, const TRect& R, const TSkLabelPaint& L) {
  const QString text = RemoveAccelChars(L.Caption);
  const QFontMetrics metrics(L.Font);
  const double radius = std::max(std::min(R.Width(), R.Height()) / 2.0 - metrics.height(), 1.0);
  const QPointF centre((R.Left + R.Right) / 2.0, (R.Top + R.Bottom) / 2.0);
  double angle = qDegreesToRadians(90.0 + L.Angle) + metrics.horizontalAdvance(text) / radius / 2;
  for (const QChar c : text) {
    const double advance = metrics.horizontalAdvance(c), middle = angle - advance / radius / 2;
    Canvas.save();
    Canvas.translate(centre + QPointF(radius * std::cos(middle), -radius * std::sin(middle)));
    Canvas.rotate(90.0 - qRadiansToDegrees(middle));
    const int half = int(advance / 2);
    DrawLabelText(Canvas, QString(c), {-half, -metrics.height(), half + 1, 0},
                  DT_SINGLELINE | DT_NOPREFIX | DT_CENTER, L);
    Canvas.restore();
    angle -= advance / radius;
  }
}

}  // namespace

int NormalizeAngle(int Angle) {
  const int a = Angle % 360;
  return a < 0 ? a + 360 : a;
}

void PaintLabel(QPainter& Canvas, const TRect& Bounds, const TSkLabelPaint& L) {
  TInnerOuterBorders borders = L.Borders;
  borders.CutInnerFlatCorners = false;
  TRect r = DrawInnerOuterBorders(Canvas, Bounds, borders);
  if (!borders.Transparent) FillRect(Canvas, r, borders.Color);
  r = r.Inflated(-L.TextMargin, -L.TextMargin);
  Canvas.save();
  Canvas.setFont(L.Font);
  Canvas.setBrush(Qt::NoBrush);
  if (L.Rotation == roCurve)
    DrawCurved(Canvas, r, L);
  else if (L.Rotation == roFlat && L.Angle != 0)
    DrawTurned(Canvas, r, L);
  else
    DrawUnrotated(Canvas, r, L);
  Canvas.restore();
}

QSize LabelExtent(const TSkLabelPaint& L, int Width) {
  const TRect frame = InsetSides(AdjustRectForBorders({0, 0, 1000, 1000}, L.Borders),
                                 L.Borders.BorderSides, L.TextMargin);
  const int dw = 1000 - frame.Width(), dh = 1000 - frame.Height();
  const int shadow = L.TextStyle.TextStyle == tsShadow ? L.TextStyle.ShadowDepth : 0;
  QImage scratch(1, 1, QImage::Format_RGB32);
  QPainter measure(&scratch);
  measure.setFont(L.Font);
  const bool wraps = L.WordWrap && L.Rotation == roNone;
  const TRect text = DrawString(measure, L.Caption, {0, 0, std::max(Width - dw - shadow, 1), 0},
                                DT_CALCRECT | DT_EXPANDTABS | (wraps ? DT_WORDBREAK : 0u));
  double w = text.Width(), h = text.Height();
  if (L.Rotation != roNone && L.Angle % 180 != 0) {
    const double a = qDegreesToRadians(double(L.Angle));
    const double turnedW = std::abs(w * std::cos(a)) + std::abs(h * std::sin(a));
    h = std::abs(w * std::sin(a)) + std::abs(h * std::cos(a));
    w = turnedW;
  }
  // Rounding errors of the turn must not add a pixel.
  const auto whole = [](double V) { return int(std::ceil(V - 1e-6)); };
  return {whole(w) + dw + shadow, whole(h) + dh + shadow};
}

// ---- TSkLabel
// ---------------------------------------------------------------------------------------

TSkLabel::TSkLabel(QWidget* Parent)
    : QWidget(Parent), TSkFrameControlled(static_cast<QObject&>(*this)) {
  FPaint.Borders.FlatColorAdjustment = 30;
  setAttribute(Qt::WA_OpaquePaintEvent);
  FBlink.SetNormalColor(FFontColor);
  AdjustBounds();
}

void TSkLabel::SetCaption(const QString& Value) {
  if (FPaint.Caption == Value) return;
  FPaint.Caption = Value;
  AdjustBounds();
}

void TSkLabel::SetWordWrap(bool Value) {
  FPaint.WordWrap = Value;
  AdjustBounds();
}

void TSkLabel::SetAutoSize(bool Value) {
  FAutoSize = Value;
  AdjustBounds();
}

void TSkLabel::SetAngle(int Value) {
  FPaint.Angle = NormalizeAngle(Value);
  if (FPaint.Angle != 0 && FPaint.Rotation == roNone) FPaint.Rotation = roFlat;
  EnsureTurnableFont();
  AdjustBounds();
}

void TSkLabel::SetRotation(TRotation Value) {
  FPaint.Rotation = Value;
  if (Value != roCurve) FPaint.Angle = 0;
  if (Value == roFlat) FPaint.CenterPoint = cpCenter;
  EnsureTurnableFont();
  AdjustBounds();
}

void TSkLabel::EnsureTurnableFont() {
  if (FPaint.Rotation == roNone || IsTrueTypeFont(font())) return;
  QFont turnable = font();
  turnable.setFamily(QStringLiteral("Verdana"));
  setFont(turnable);
}

int TSkLabel::BlinkIntervalOff() { return BlinkingControlsList().FirstInterval; }
void TSkLabel::SetBlinkIntervalOff(int Value) {
  BlinkingControlsList().FirstInterval = uint16_t(Value);
}
int TSkLabel::BlinkIntervalOn() { return BlinkingControlsList().SecondInterval; }
void TSkLabel::SetBlinkIntervalOn(int Value) {
  BlinkingControlsList().SecondInterval = uint16_t(Value);
}

void TSkLabel::SetTextStyle(TTextStyle Value) {
  FPaint.TextStyle.TextStyle = Value;
  AdjustBounds();
}

void TSkLabel::SetShadowDepth(int Value) {
  FPaint.TextStyle.ShadowDepth = Value;
  AdjustBounds();
}

void TSkLabel::SetTextMargin(int Value) {
  FPaint.TextMargin = Value;
  AdjustBounds();
}

void TSkLabel::SetBorders(const TInnerOuterBorders& Value) {
  FPaint.Borders = Value;
  AdjustBounds();
}

TColor TSkLabel::Color() const { return FParentColor ? ParentControlColor(*this) : FColor; }

void TSkLabel::SetColor(TColor Value) {
  FParentColor = false;
  StoreAndUpdate(*this, FColor, Value);
}

void TSkLabel::SetTransparent(bool Value) {
  FTransparent = Value;
  setAttribute(Qt::WA_OpaquePaintEvent, !Value);
  update();
}

void TSkLabel::SetFontColor(TColor Value) {
  FFontColor = Value;
  FBlink.SetNormalColor(Value);
}

void TSkLabel::Click() {
  if (OnClick) OnClick();
}

QSize TSkLabel::sizeHint() const { return LabelExtent(PaintSettings(), width()); }

void TSkLabel::AdjustBounds() {
  if (FAutoSize) {
    const QSize extent = sizeHint();
    resize(FPaint.WordWrap ? width() : extent.width(), extent.height());
  }
  update();
}

void TSkLabel::UpdateFrame(const TSkFrameController& Controller,
                           TSkFrameControllerProperty Property) {
  ApplyBorderFrameSettings(Controller, Property, FPaint.Borders, FColor, FParentColor);
  AdjustBounds();
}

TSkLabelPaint TSkLabel::PaintSettings() const {
  TSkLabelPaint paint = FPaint;
  paint.Borders.Color = Color();
  paint.Borders.ParentColor = ParentControlColor(*this);
  paint.Borders.Transparent = FTransparent;
  paint.Font = font();
  paint.TextColor = FBlink.Current();
  paint.Enabled = isEnabled();
  return paint;
}

void TSkLabel::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  PaintLabel(canvas, TRect::FromQRect(rect()), PaintSettings());
}

void TSkLabel::changeEvent(QEvent* Event) {
  QWidget::changeEvent(Event);
  if (Event->type() == QEvent::FontChange) {
    // A turned label whose new font cannot turn stands upright again.
    if (FPaint.Rotation != roNone && !IsTrueTypeFont(font())) FPaint.Angle = 0;
    AdjustBounds();
  } else if (Event->type() == QEvent::EnabledChange) {
    update();
  }
}

void TSkLabel::enterEvent(QEnterEvent* Event) {
  QWidget::enterEvent(Event);
  if (!FlyByEnabled) return;
  FFlyByRestore = FFontColor;
  FFlownBy = true;
  SetFontColor(FlyByColor);
}

void TSkLabel::leaveEvent(QEvent* Event) {
  QWidget::leaveEvent(Event);
  if (!FFlownBy) return;
  FFlownBy = false;
  SetFontColor(FFlyByRestore);
}

void TSkLabel::mousePressEvent(QMouseEvent* Event) {
  FPressed = Event->button() == Qt::LeftButton;
  QWidget::mousePressEvent(Event);
}

void TSkLabel::mouseReleaseEvent(QMouseEvent* Event) {
  const bool click =
      FPressed && Event->button() == Qt::LeftButton && rect().contains(Event->position().toPoint());
  FPressed = false;
  if (click) Click();
}

// ---- TSkURLLabel
// ------------------------------------------------------------------------------------

QUrl OpenableUrl(const QString& Target) {
  QUrl url(Target, QUrl::StrictMode);
  if (url.scheme().isEmpty()) url = QUrl::fromUserInput(Target);
  const QString scheme = url.scheme().toLower();
  const bool allowed = scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
                       scheme == QLatin1String("mailto");
  return url.isValid() && allowed ? url : QUrl();
}

TSkURLLabel::TSkURLLabel(QWidget* Parent) : TSkLabel(Parent) {
  setFocusPolicy(Qt::TabFocus);
  setCursor(Qt::PointingHandCursor);
  SetFontColor(clHighlight);
  QFont underlined = font();
  underlined.setUnderline(true);
  setFont(underlined);
}

void TSkURLLabel::SetVisited(bool Value) {
  FVisited = Value;
  SetFontColor(Value ? FVisitedColor : FUnvisitedColor);
}

void TSkURLLabel::SetVisitedColor(TColor Value) {
  FVisitedColor = Value;
  if (FVisited) SetFontColor(Value);
}

void TSkURLLabel::SetUnvisitedColor(TColor Value) {
  FUnvisitedColor = Value;
  if (!FVisited) SetFontColor(Value);
}

void TSkURLLabel::Click() {
  TSkLabel::Click();
  const QString target = (URL.trimmed().isEmpty() ? Caption() : URL).trimmed();
  if (target.isEmpty()) return;
  const QUrl url = OpenableUrl(target);
  if (url.isEmpty()) {
    qWarning("Not opened: \"%s\" is no web or mail address", qPrintable(target));
    return;
  }
  if (!QDesktopServices::openUrl(url)) {
    qWarning("Could not open \"%s\"", qPrintable(url.toString()));
    return;
  }
  SetVisited(true);
}

void TSkURLLabel::paintEvent(QPaintEvent* Event) {
  TSkLabel::paintEvent(Event);
  if (!hasFocus()) return;
  QPainter canvas(this);
  DrawFocusBorder(canvas, TRect::FromQRect(rect()));
}

void TSkURLLabel::keyPressEvent(QKeyEvent* Event) {
  if (IsActivationKey(Event->key()))
    Click();
  else
    TSkLabel::keyPressEvent(Event);
}
