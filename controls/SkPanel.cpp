#include "SkPanel.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>

namespace {

bool RoundedInterior(const TInnerOuterBorders& B) {
  return (B.BorderOuter == fsFlatRounded && B.BorderInner == fsNone && B.BorderWidth == 0) ||
         B.BorderInner == fsFlatRounded;
}

// The interior, out to the cut corners of a rounded frame, whose corner pixels stay frame-coloured.
void FillInterior(QPainter& Canvas, const TRect& Rect, const TSkPanelPaint& P, TColor CornerColor) {
  const TSides sides = P.Borders.BorderSides;
  const bool rounded = RoundedInterior(P.Borders);
  const TRect r = rounded ? InsetSides(Rect, sides, -1) : Rect;
  if (P.VisualStyle == vsGradient) {
    TColor start = P.GradientColorStart, stop = P.GradientColorStop;
    if (P.GradientColorStyle != gcsCustom)
      GetGradientPanelColors(P.GradientColorStyle, start, stop);
    PaintGradient(Canvas, r, P.GradientDirection, start, stop);
  } else {
    FillRect(Canvas, r, P.Borders.Color);
  }
  if (!rounded) return;
  const bool left = sides & sdLeft, top = sides & sdTop, right = sides & sdRight,
             bottom = sides & sdBottom;
  if (left && top) SetPixel(Canvas, r.Left, r.Top, CornerColor);
  if (right && top) SetPixel(Canvas, r.Right - 1, r.Top, CornerColor);
  if (left && bottom) SetPixel(Canvas, r.Left, r.Bottom - 1, CornerColor);
  if (right && bottom) SetPixel(Canvas, r.Right - 1, r.Bottom - 1, CornerColor);
}

// One grid line from From to To along X (Vertical false) or Y, solid or every second pixel.
void GridLine(QPainter& Canvas, bool Vertical, int At, int From, int To, bool Dotted,
              TColor Color) {
  for (int i = Dotted ? From + 1 : From; i < To; i += Dotted ? 2 : To - From)
    FillRect(Canvas,
             Vertical ? TRect{At, i, At + 1, Dotted ? i + 1 : To}
                      : TRect{i, At, Dotted ? i + 1 : To, At + 1},
             Color);
}

}  // namespace

void GetFlatColors(const TSkPanelPaint& P, TColor& FlatColor, int& Adjustment) {
  if (P.VisualStyle == vsGradient && P.GradientColorStyle != gcsCustom) {
    FlatColor = GetGradientPanelFrameColor(P.GradientColorStyle);
    Adjustment = 0;
    return;
  }
  FlatColor = P.Borders.FlatColor;
  Adjustment = P.Borders.FlatColorAdjustment;
}

void DrawPanelGrid(QPainter& Canvas, const TRect& R, const TSkPanelPaint& P) {
  const int nx = P.GridXSize > 0 ? R.Width() / P.GridXSize : 0;
  const int ny = P.GridYSize > 0 ? R.Height() / P.GridYSize : 0;
  if (P.GridStyle == gsDots) {
    for (int i = 1; i <= nx; ++i)
      for (int j = 1; j <= ny; ++j)
        SetPixel(Canvas, R.Left - 1 + i * P.GridXSize, R.Top - 1 + j * P.GridYSize, P.GridColor);
    return;
  }
  const bool dotted = P.GridStyle == gsDottedLines;
  for (int i = 1; i <= nx; ++i)
    GridLine(Canvas, true, R.Left - 1 + i * P.GridXSize, R.Top, R.Bottom, dotted, P.GridColor);
  for (int j = 1; j <= ny; ++j)
    GridLine(Canvas, false, R.Top - 1 + j * P.GridYSize, R.Left, R.Right, dotted, P.GridColor);
}

void DrawPanelCaption(QPainter& Canvas, const TRect& Rect, const TSkPanelPaint& P) {
  if (P.Caption.isEmpty()) return;
  Canvas.save();
  Canvas.setFont(P.Font);
  TRect r = Rect.Inflated(-P.TextMargin, -P.TextMarginVertical);
  const unsigned flags =
      DT_EXPANDTABS | DT_VCENTER | AlignmentFlags(P.Alignment) | (P.WordWrap ? DT_WORDBREAK : 0u);
  const int h = DrawString(Canvas, P.Caption, r, flags | DT_CALCRECT).Height();
  switch (P.AlignmentVertical) {
    case avTop:
      r.Bottom = std::min(r.Bottom, r.Top + h);
      break;
    case avCenter:
      r.Top = (r.Top + r.Bottom - h) / 2;
      r.Bottom = std::min(r.Bottom, r.Top + h);
      break;
    case avBottom:
      r.Top = std::max(r.Top, r.Bottom - h - 1);
      break;
  }
  Canvas.setPen(ToQColor(P.Enabled ? P.FontColor : clGrayText));
  DrawString(Canvas, P.Caption, r, flags);
  Canvas.restore();
}

void PaintPanel(QPainter& Canvas, const TRect& Bounds, const TSkPanelPaint& P) {
  TInnerOuterBorders borders = P.Borders;
  GetFlatColors(P, borders.FlatColor, borders.FlatColorAdjustment);
  borders.CutInnerFlatCorners = false;
  const TRect r = DrawInnerOuterBorders(Canvas, Bounds, borders);
  if (!borders.Transparent && P.PaintClientArea)
    FillInterior(Canvas, r, P, AdjustColor(borders.FlatColor, borders.FlatColorAdjustment));
  if (P.ShowGrid) DrawPanelGrid(Canvas, r, P);
  DrawPanelCaption(Canvas, r, P);
}

// ---- TSkCustomPanel
// -------------------------------------------------------------------------------

TSkCustomPanel::TSkCustomPanel(QWidget* Parent)
    : QWidget(Parent), TSkFrameControlled(static_cast<QObject&>(*this)) {
  FPaint.Borders.BorderOuter = fsRaised;
  FPaint.Borders.FlatColorAdjustment = 30;
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(185, 41);
  Realign();
}

void TSkCustomPanel::SetCaption(const QString& Value) {
  if (FPaint.Caption == Value) return;
  FPaint.Caption = Value;
  CaptionChanged();
  update();
}

TColor TSkCustomPanel::Color() const { return FParentColor ? ParentControlColor(*this) : FColor; }

void TSkCustomPanel::SetColor(TColor Value) {
  FParentColor = false;
  StoreAndUpdate(*this, FColor, Value);
}

void TSkCustomPanel::SetFullRepaint(bool Value) {
  FFullRepaint = Value;
  // Without it Qt repaints a resized widget whole.
  setAttribute(Qt::WA_StaticContents, !Value);
}

void TSkCustomPanel::SetTransparent(bool Value) {
  if (FPaint.Borders.Transparent == Value) return;
  FPaint.Borders.Transparent = Value;
  setAttribute(Qt::WA_OpaquePaintEvent, !Value);
  update();
  for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) child->update();
}

TRect TSkCustomPanel::ClientRect() const {
  return AdjustRectForBorders(TRect::FromQRect(rect()), FPaint.Borders);
}

void TSkCustomPanel::Realign() {
  const TRect client = ClientRect();
  setContentsMargins(client.Left, client.Top, width() - client.Right, height() - client.Bottom);
  update();
}

void TSkCustomPanel::UpdateFrame(const TSkFrameController& Controller,
                                 TSkFrameControllerProperty Property) {
  ApplyBorderFrameSettings(Controller, Property, FPaint.Borders, FColor, FParentColor);
  Realign();
}

TSkPanelPaint TSkCustomPanel::PaintSettings() const {
  TSkPanelPaint paint = FPaint;
  paint.Borders.Color = Color();
  paint.Borders.ParentColor = ParentControlColor(*this);
  paint.Font = font();
  paint.Enabled = isEnabled();
  return paint;
}

void TSkCustomPanel::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  PaintPanel(canvas, TRect::FromQRect(rect()), PaintSettings());
  if (OnPaint) OnPaint(*this, canvas);
}

void TSkCustomPanel::changeEvent(QEvent* Event) {
  QWidget::changeEvent(Event);
  switch (Event->type()) {
    case QEvent::EnabledChange:
      update();
      break;
    case QEvent::FontChange:
      Realign();
      break;
    case QEvent::StyleChange:
      FXPColorScheme = GetXPColorScheme();
      break;
    default:
      break;
  }
}

void TSkCustomPanel::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  if (FFullRepaint || !FPaint.Caption.isEmpty()) return Realign();
  const TRect client = ClientRect();
  const QSize old = Event->oldSize();
  // The frame moved only along the right and bottom edges.
  const int right = width() - client.Right, bottom = height() - client.Bottom;
  if (old.width() != width()) update(std::min(old.width(), width()) - right, 0, width(), height());
  if (old.height() != height())
    update(0, std::min(old.height(), height()) - bottom, width(), height());
}

// ---- TSkCustomGroupBox
// ----------------------------------------------------------------------------

namespace {

int CaptionHeight(const QFont& Font) { return QFontMetrics(Font).height(); }

// The group box frame below the caption's middle.
TRect GroupFrameRect(const TRect& Bounds, int CaptionHeight) {
  return {Bounds.Left, Bounds.Top + CaptionHeight / 2 - 1, Bounds.Right, Bounds.Bottom};
}

// A frame of a system or flat style on Sides; flat styles stop two pixels short of the right.
void DrawGroupFrame(QPainter& Canvas, const TRect& Frame, TFrameStyleEx Style, TColor Color,
                    TSides Sides) {
  const bool topOnly = Sides == sdTop;
  switch (Style) {
    case fsFlat:
    case fsFlatRounded:
      if (topOnly)
        return FillRect(Canvas, {Frame.Left, Frame.Top, Frame.Right - 2, Frame.Top + 1}, Color);
      DrawBox(Canvas, Frame, Color);
      return;
    case fsFlatBold:
      if (topOnly)
        return FillRect(Canvas, {Frame.Left, Frame.Top, Frame.Right - 2, Frame.Top + 2}, Color);
      DrawBevel(Canvas, Frame, Color, Color, 2);
      return;
    case fsNone:
      DrawBorderSides(Canvas, Frame, fsGroove, Sides);
      return;
    default:
      DrawBorderSides(Canvas, Frame, Style, Sides);
      return;
  }
}

void DrawBanner(QPainter& Canvas, const TRect& Banner, const TSkGroupBoxPaint& Box) {
  const TSkPanelPaint& p = Box.Panel;
  TColor start = p.GradientColorStart, stop = p.GradientColorStop,
         frame = AdjustColor(p.Borders.FlatColor, p.Borders.FlatColorAdjustment);
  if (p.GradientColorStyle != gcsCustom)
    GetGradientBarColors(p.GradientColorStyle, start, stop, frame);
  DrawRoundedFlatBorder(Canvas, Banner, frame);
  PaintGradient(Canvas, Banner.Inflated(-1, -1), gdHorizontalEnd, start, stop);
}

bool ThemedGroupBox(const TSkGroupBoxPaint& Box) {
  return Box.Panel.VisualStyle == vsWinXP && UseVisualStyles() &&
         (Box.GroupStyle == gsStandard || Box.GroupStyle == gsFlat);
}

}  // namespace

TRect GroupBoxCaptionRect(const TSkGroupBoxPaint& Box, int Width) {
  const QFontMetrics metrics(Box.Panel.Font);
  const int w = metrics.horizontalAdvance(RemoveAccelChars(Box.Panel.Caption)),
            h = metrics.height();
  const bool left = Box.Panel.Alignment == taLeftJustify;
  switch (Box.GroupStyle) {
    case gsStandard:
    case gsFlat:
      return left ? TRect{8, 0, w + 8, h} : TRect{Width - w - 8, 0, Width - 8, h};
    case gsTopLine:
      return left ? TRect{0, 0, w + 4, h} : TRect{Width - w - 4, 0, Width - 4, h};
    case gsBanner:
      return {0, 0, Width, Box.BannerHeight != 0 ? Box.BannerHeight : h + 6};
    case gsUnderline:
      return {0, 0, Width, h + 2};
    case gsCustom:
      break;
  }
  return {};
}

TRect GroupBoxClientRect(const TRect& Rect, const TSkGroupBoxPaint& Box) {
  const int h = CaptionHeight(Box.Panel.Font), bw = Box.Panel.Borders.BorderWidth;
  TRect r = Rect;
  switch (Box.GroupStyle) {
    case gsStandard:
    case gsFlat: {
      r.Top += h / 2 - 1 >= bw ? h - bw : h / 2 - 1;
      const int inset = Box.GroupStyle == gsStandard ? 2 : 1;
      return r.Inflated(-inset, -inset);
    }
    case gsCustom:
      if (!Box.Panel.Caption.isEmpty()) r.Top += h;
      return r.Inflated(-2, -2);
    case gsTopLine:
      r.Top += h;
      return r;
    case gsBanner:
      r.Top += Box.BannerHeight != 0 ? Box.BannerHeight : h + 8;
      return r;
    case gsUnderline:
      r.Top += h + 4;
      return r;
  }
  return r;
}

void PaintGroupBox(QPainter& Canvas, const TRect& Bounds, const TSkGroupBoxPaint& Box) {
  const TSkPanelPaint& p = Box.Panel;
  const TRect caption = GroupBoxCaptionRect(Box, Bounds.Width()).Offset(Bounds.Left, Bounds.Top);
  const TRect frame = GroupFrameRect(Bounds, CaptionHeight(p.Font));
  const TColor c = AdjustColor(p.Borders.FlatColor, p.Borders.FlatColorAdjustment);
  const bool transparent = p.Borders.Transparent, themed = ThemedGroupBox(Box);
  Canvas.save();
  if (!transparent)
    FillRect(Canvas, Bounds, p.Borders.Color);
  else if (Box.GroupStyle != gsBanner && !p.Caption.isEmpty())
    Canvas.setClipRegion(QRegion(Bounds.ToQRect()).subtracted(QRegion(caption.ToQRect())));
  if (themed) {
    DrawRoundedFlatBorder(Canvas, frame, RGB(213, 223, 229));
  } else {
    switch (Box.GroupStyle) {
      case gsStandard:
        DrawGroupFrame(Canvas, frame, p.Borders.BorderOuter, c, AllSides);
        break;
      case gsTopLine:
        DrawGroupFrame(Canvas, frame, p.Borders.BorderOuter, c, sdTop);
        break;
      case gsFlat:
        DrawRoundedFlatBorder(Canvas, frame, c);
        break;
      case gsBanner:
        DrawBanner(Canvas, caption, Box);
        break;
      case gsUnderline:
        // Just below the caption's rectangle, which the caption's background fills.
        FillRect(Canvas, {caption.Left, caption.Bottom, caption.Right, caption.Bottom + 1}, c);
        break;
      case gsCustom:
        break;
    }
  }
  Canvas.restore();
  if (p.Caption.isEmpty() || Box.GroupStyle == gsCustom) return;
  if (!transparent && Box.GroupStyle != gsBanner) FillRect(Canvas, caption, p.Borders.Color);
  const TRect text = Box.GroupStyle == gsBanner ? caption.Inflated(-4, -1) : caption;
  const TColor color = !p.Enabled ? clGrayText : themed ? GetXPThemeColor(6) : p.FontColor;
  Canvas.save();
  Canvas.setFont(p.Font);
  Canvas.setPen(ToQColor(color));
  DrawString(Canvas, p.Caption, text, DT_SINGLELINE | DT_VCENTER | DT_LEFT);
  Canvas.restore();
}

TSkCustomGroupBox::TSkCustomGroupBox(QWidget* Parent) : TSkCustomPanel(Parent) {
  SetBorderOuter(fsNone);
  SetBorderInner(fsNone);
  SetAlignment(taLeftJustify);
  SetAlignmentVertical(avTop);
  resize(width(), 105);
}

TRect TSkCustomGroupBox::ClientRect() const {
  return GroupBoxClientRect(TSkCustomPanel::ClientRect(), GroupBoxSettings());
}

void TSkCustomGroupBox::UpdateFrame(const TSkFrameController& Controller,
                                    TSkFrameControllerProperty Property) {
  if (FGroupStyle == gsCustom) TSkCustomPanel::UpdateFrame(Controller, Property);
}

TSkGroupBoxPaint TSkCustomGroupBox::GroupBoxSettings() const {
  return {PaintSettings(), FGroupStyle, FBannerHeight};
}

void TSkCustomGroupBox::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  PaintGroupBox(canvas, TRect::FromQRect(rect()), GroupBoxSettings());
  if (OnPaint) OnPaint(*this, canvas);
}

void TSkCustomGroupBox::CaptionChanged() {
  FMnemonic = GrabCaptionMnemonic(*this, FMnemonic, Caption());
  Realign();
}

bool TSkCustomGroupBox::event(QEvent* Event) {
  if (!IsShortcutEvent(Event, FMnemonic)) return TSkCustomPanel::event(Event);
  // The caption's key moves the focus to the box's first child that takes it.
  for (QWidget* child : findChildren<QWidget*>())
    if (child->isEnabled() && child->isVisible() && (child->focusPolicy() & Qt::TabFocus)) {
      child->setFocus(Qt::ShortcutFocusReason);
      break;
    }
  return true;
}
