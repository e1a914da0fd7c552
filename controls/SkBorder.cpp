#include "SkBorder.h"

#include <QColorDialog>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <array>
#include <cstdlib>

namespace {

struct TNamedColor {
  const char* Name;
  TColor Color;
};

constexpr std::array<TNamedColor, StandardColorCount> StandardColors{{
    {"Black", 0x000000},
    {"Brown", 0x003399},
    {"Olive Green", 0x003333},
    {"Dark Green", 0x003300},
    {"Dark Teal", 0x663300},
    {"Dark Blue", 0x800000},
    {"Indigo", 0x993333},
    {"Gray 80%", 0x333333},
    {"Dark Red", 0x000080},
    {"Orange", 0x0066FF},
    {"Dark Yellow", 0x008080},
    {"Green", 0x008000},
    {"Teal", 0x808000},
    {"Blue", 0xFF0000},
    {"Blue Gray", 0x996666},
    {"Gray 50%", 0x808080},
    {"Red", 0x0000FF},
    {"Light Orange", 0x0099FF},
    {"Lime", 0x00CC99},
    {"Sea Green", 0x669933},
    {"Aqua", 0x999933},
    {"Light Blue", 0xFF6633},
    {"Violet", 0x800080},
    {"Gray 40%", 0x999999},
    {"Pink", 0xFF00FF},
    {"Gold", 0x00CCFF},
    {"Yellow", 0x00FFFF},
    {"Bright Green", 0x00FF00},
    {"Turquoise", 0xFFFF00},
    {"Sky Blue", 0xFFCC00},
    {"Plum", 0x663399},
    {"Gray 25%", 0xC0C0C0},
    {"Rose", 0xCC99FF},
    {"Tan", 0x99CCFF},
    {"Light Yellow", 0x99FFFF},
    {"Light Green", 0xCCFFCC},
    {"Light Turquoise", 0xFFFFCC},
    {"Pale Blue", 0xFFCC99},
    {"Lavender", 0xFF99CC},
    {"White", 0xFFFFFF},
}};

constexpr std::array<const char*, SystemColorCount> SystemColorNames{"Scroll Bar",
                                                                     "Background",
                                                                     "Active Caption",
                                                                     "Inactive Caption",
                                                                     "Menu",
                                                                     "Window",
                                                                     "Window Frame",
                                                                     "Menu Text",
                                                                     "Window Text",
                                                                     "Caption Text",
                                                                     "Active Border",
                                                                     "Inactive Border",
                                                                     "App WorkSpace",
                                                                     "Highlight",
                                                                     "Highlight Text",
                                                                     "Button Face",
                                                                     "Button Shadow",
                                                                     "Gray Text",
                                                                     "Button Text",
                                                                     "Inactive Caption Text",
                                                                     "Button Highlight",
                                                                     "3D Dark Shadow",
                                                                     "3D Light",
                                                                     "Info Text",
                                                                     "Info Background",
                                                                     "Hot Light",
                                                                     "Gradient Active Caption",
                                                                     "Gradient Inactive Caption",
                                                                     "Menu Highlight",
                                                                     "Menu Bar"};

}  // namespace

TColor PickerCellColor(int Index) {
  if (Index < 0 || Index >= StandardColorCount + SystemColorCount) return clNone;
  if (Index < StandardColorCount) return StandardColors[size_t(Index)].Color;
  const int system = Index - StandardColorCount;
  // The system colour constants in order, with constant 25 left out.
  return 0xFF000000u | TColor(system < 25 ? system : system + 1);
}

QString PickerCellName(int Index) {
  if (Index < 0 || Index >= StandardColorCount + SystemColorCount) return {};
  if (Index < StandardColorCount) return QString::fromLatin1(StandardColors[size_t(Index)].Name);
  return QString::fromLatin1(SystemColorNames[size_t(Index - StandardColorCount)]);
}

// ---- TSkBorder ----------------------------------------------------------------------------------

TSkBorder::TSkBorder(QWidget* Parent) : QWidget(Parent) {
  FBorders.BorderOuter = fsGroove;
  resize(50, 50);
}

void TSkBorder::SetBorders(const TInnerOuterBorders& Value) {
  FBorders = Value;
  update();
}

TRect TSkBorder::ClientRect() const {
  TRect r = TRect::FromQRect(rect()).Inflated(-FBorders.BorderWidth, -FBorders.BorderWidth);
  const int w = BorderThickness(FBorders.BorderOuter, FBorders.BevelWidth) +
                BorderThickness(FBorders.BorderInner, FBorders.BevelWidth);
  const TSides s = FBorders.BorderSides;
  r = {r.Left + (s & sdLeft ? w : 0), r.Top + (s & sdTop ? w : 0), r.Right - (s & sdRight ? w : 0),
       r.Bottom - (s & sdBottom ? w : 0)};
  return r.IsEmpty() ? TRect{r.Left, r.Top, r.Left, r.Top} : r;
}

void TSkBorder::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  FillRect(canvas, TRect::FromQRect(rect()), FBorders.Color);
  DrawInnerOuterBorders(canvas, TRect::FromQRect(rect()), FBorders);
}

// ---- TSkColorPicker -----------------------------------------------------------------------------

TSkColorPicker::TSkColorPicker(QWidget* Parent) : TSkBorder(Parent) {
  FBorders.BorderWidth = 2;
  FBorders.Color = clWindow;
  FBorders.BorderColor = clWindow;
  FBorders.BorderOuter = fsLowered;
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  resize(sizeHint());
}

int TSkColorPicker::ButtonHeight() const { return QFontInfo(font()).pixelSize() + 12; }

void TSkColorPicker::SetCaptions(const QString& NoColor, const QString& Default,
                                 const QString& Custom) {
  FNoColorCaption = NoColor;
  FDefaultColorCaption = Default;
  FCustomColorCaption = Custom;
  update();
}

void TSkColorPicker::SetShown(bool NoColor, bool Default, bool System, bool Custom) {
  FShowNoColor = NoColor;
  FShowDefaultColor = Default;
  FShowSystemColors = System;
  FShowCustomColor = Custom;
  resize(sizeHint());
  update();
}

QSize TSkColorPicker::sizeHint() const {
  const int b = ButtonHeight();
  const int inset =
      2 * (FBorders.BorderWidth + BorderThickness(FBorders.BorderOuter, FBorders.BevelWidth) +
           BorderThickness(FBorders.BorderInner, FBorders.BevelWidth));
  const int insetW = inset, insetH = inset;
  int h = 90 + insetH + (FShowSystemColors ? 80 : 0);
  h += (FShowNoColor ? b + 1 : 0) + (FShowDefaultColor ? b + 1 : 0) + (FShowCustomColor ? b : 0);
  return {144 + insetW, h};
}

TRect TSkColorPicker::CellRect(int Index) const {
  const TRect r = ClientRect();
  const int b = ButtonHeight();
  int top = r.Top;
  const TRect noColor{r.Left, top, r.Right, top + (FShowNoColor ? b + 1 : 0)};
  top = noColor.Bottom;
  const TRect defaultColor{r.Left, top, r.Right,
                           top + (FShowDefaultColor ? (FShowNoColor ? b : b + 1) : 0)};
  top = defaultColor.Bottom;
  const int bottom = r.Bottom - (FShowCustomColor ? b : 0);
  const int rowH = FShowSystemColors ? (bottom - top - 8) / 9 : (bottom - top) / 5;
  const int colW = r.Width() / 8;
  const auto gridCell = [&](int Row, int Col, int Top) {
    const int x = isRightToLeft() ? r.Right - (Col + 1) * colW : r.Left + Col * colW;
    return TRect{x, Top + Row * rowH, x + colW, Top + (Row + 1) * rowH};
  };
  if (Index >= 0 && Index < StandardColorCount) return gridCell(Index / 8, Index % 8, top);
  if (Index >= StandardColorCount && Index < StandardColorCount + SystemColorCount) {
    if (!FShowSystemColors) return {};
    const int i = Index - StandardColorCount;
    return gridCell(i / 8, i % 8, top + 5 * rowH + 8);
  }
  switch (Index) {
    case ciNoColor:
      return FShowNoColor ? noColor : TRect{};
    case ciDefaultColor:
      return FShowDefaultColor ? defaultColor : TRect{};
    case ciMoreColors:
      return FShowCustomColor ? TRect{r.Left, bottom, r.Right - b, r.Bottom} : TRect{};
    case ciCustomColor:
      return FShowCustomColor ? TRect{r.Right - b, bottom, r.Right, r.Bottom} : TRect{};
    default:
      return {};
  }
}

int TSkColorPicker::HitTest(QPoint At) const {
  for (int i = ciDefaultColor; i < StandardColorCount + SystemColorCount; ++i)
    if (CellRect(i).Contains(At.x(), At.y())) return i;
  return ciGap;
}

TColor TSkColorPicker::SelectedColor() const {
  switch (FSelectedIndex) {
    case ciCustomColor:
    case ciMoreColors:
      return FCustomColor;
    case ciDefaultColor:
      return FDefaultColor;
    default:
      return PickerCellColor(FSelectedIndex);
  }
}

void TSkColorPicker::SetSelectedColor(TColor Value) {
  if (Value == clNone) return SetSelectedIndex(ciNoColor);
  const TColor rgb = ColorToRGB(Value);
  if (FShowDefaultColor && rgb == ColorToRGB(FDefaultColor))
    return SetSelectedIndex(ciDefaultColor);
  if (FShowSystemColors)
    for (int i = StandardColorCount; i < StandardColorCount + SystemColorCount; ++i)
      if (PickerCellColor(i) == Value) return SetSelectedIndex(i);
  for (int i = 0; i < StandardColorCount; ++i)
    if (PickerCellColor(i) == rgb) return SetSelectedIndex(i);
  FCustomColor = Value;
  SetSelectedIndex(ciCustomColor);
}

void TSkColorPicker::SetSelectedIndex(int Index) {
  if (Index == FSelectedIndex && Index != ciCustomColor) return;
  FSelectedIndex = Index;
  update();
  if (OnChange) OnChange();
  if (Index == ciCustomColor && OnClick) OnClick();
}

void TSkColorPicker::SetHotIndex(int Index) {
  if (Index == FHotIndex) return;
  FHotIndex = Index;
  update();
  const TRect cell = CellRect(Index);
  const QString name = PickerCellName(Index);
  if (!ShowColorHints || name.isEmpty()) return QToolTip::hideText();
  QToolTip::showText(mapToGlobal(QPoint(cell.Left + 4, cell.Bottom + 12)), name, this);
}

bool TSkColorPicker::ExecuteColorDialog(TColor& Color) {
  QColorDialog dialog(ToQColor(Color), this);
  if (CustomColors) {
    const QStringList& lines = CustomColors->Colors();
    for (int i = 0; i < std::min<int>(int(lines.size()), QColorDialog::customCount()); ++i)
      QColorDialog::setCustomColor(
          i, ToQColor(RGB(0, 0, 0) | lines[i].section(QLatin1Char('='), 1).toUInt(nullptr, 16)));
  }
  if (dialog.exec() != QDialog::Accepted) return false;
  Color = FromQColor(dialog.selectedColor());
  return true;
}

void TSkColorPicker::ShowColorDialog() {
  TColor chosen = SelectedColor() == clNone ? FCustomColor : SelectedColor();
  if (!ExecuteColorDialog(chosen)) return;
  if (CustomColors) {
    QStringList lines = CustomColors->Colors();
    for (int i = 0; i < std::min<int>(int(lines.size()), QColorDialog::customCount()); ++i)
      lines[i] = lines[i].section(QLatin1Char('='), 0, 0) + QLatin1Char('=') +
                 QString::number(FromQColor(QColorDialog::customColor(i)), 16);
    CustomColors->SetColors(lines);
  }
  FCustomColor = chosen;
  SetSelectedIndex(ciCustomColor);
}

void TSkColorPicker::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton) return;
  FPressed = true;
  const int index = HitTest(Event->position().toPoint());
  if (index == ciGap) return;
  if (index == ciMoreColors) {
    FHotIndex = ciNoHot;
    update();
    return ShowColorDialog();
  }
  SetSelectedIndex(index);
}

// The grid runs in rows of eight, the system colours below the standard ones; the buttons
// above the grid are reached upwards from its first row, More Colors downwards from its last.
int TSkColorPicker::CellBeside(int Index, int Key) const {
  const int cells = StandardColorCount + (FShowSystemColors ? SystemColorCount : 0);
  const int top = FShowDefaultColor ? ciDefaultColor : FShowNoColor ? ciNoColor : 0;
  if (Index < 0) {
    if (Index == ciMoreColors || Index == ciCustomColor)
      return Key == Qt::Key_Up ? cells - 8 : Index;
    if (Key == Qt::Key_Up && Index == ciDefaultColor && FShowNoColor) return ciNoColor;
    if (Key == Qt::Key_Down && Index == ciNoColor && FShowDefaultColor) return ciDefaultColor;
    return Key == Qt::Key_Down || Key == Qt::Key_Right ? 0 : Index;
  }
  switch (Key) {
    case Qt::Key_Left:
      return std::max(Index - 1, 0);
    case Qt::Key_Right:
      return std::min(Index + 1, cells - 1);
    case Qt::Key_Up:
      return Index >= 8 ? Index - 8 : top;
    case Qt::Key_Down:
      if (Index + 8 < cells) return Index + 8;
      return FShowCustomColor ? ciMoreColors : Index;
    default:
      return Index;
  }
}

void TSkColorPicker::Pick(int Index) {
  if (Index == ciMoreColors) return ShowColorDialog();
  SetSelectedIndex(Index);
  if (Index != ciCustomColor && OnClick) OnClick();
}

void TSkColorPicker::keyPressEvent(QKeyEvent* Event) {
  const int from = FHotIndex != ciNoHot ? FHotIndex
                   : FSelectedIndex == ciNoColor && !FShowNoColor ? 0
                                                                  : FSelectedIndex;
  switch (Event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
      return SetHotIndex(CellBeside(from, Event->key()));
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      return Pick(from);
    default:
      return TSkBorder::keyPressEvent(Event);
  }
}

void TSkColorPicker::mouseMoveEvent(QMouseEvent* Event) {
  const int index = HitTest(Event->position().toPoint());
  SetHotIndex(index == ciGap ? ciNoHot : index);
  if ((Event->buttons() & Qt::LeftButton) && index != ciGap && index != ciMoreColors)
    SetSelectedIndex(index);
}

void TSkColorPicker::mouseReleaseEvent(QMouseEvent* Event) {
  const bool pressed = std::exchange(FPressed, false);
  if (Event->button() == Qt::LeftButton && pressed &&
      rect().contains(Event->position().toPoint()) && OnClick)
    OnClick();
}

void TSkColorPicker::leaveEvent(QEvent*) {
  SetHotIndex(ciNoHot);
  QToolTip::hideText();
}

// A cell's look: a raised edge while hot, sunken while selected.
void TSkColorPicker::PaintCell(QPainter& Canvas, int Index, const TRect& Rect) const {
  if (Index == FSelectedIndex)
    DrawSides(Canvas, Rect, clBtnShadow, clBtnHighlight);
  else if (Index == FHotIndex)
    DrawSides(Canvas, Rect, clBtnHighlight, clBtnShadow);
  TColor color = PickerCellColor(Index);
  if (Index == ciCustomColor) color = FCustomColor;
  const TRect swatch = Rect.Inflated(-4, -4);
  FillRect(Canvas, DrawBox(Canvas, swatch, clBtnShadow), color);
}

void TSkColorPicker::PaintCaptionButton(QPainter& Canvas, int Index, const TRect& Rect,
                                        QString Caption) const {
  const TRect button = Rect.Inflated(-2, -2);
  if (Index == FSelectedIndex)
    DrawSides(Canvas, button, clBtnShadow, clBtnHighlight);
  else if (Index == FHotIndex)
    DrawSides(Canvas, button, clBtnHighlight, clBtnShadow);
  TRect text = button;
  if (Index == ciDefaultColor) {
    const int b = ButtonHeight();
    const TRect swatch = TRect{Rect.Left, Rect.Top, Rect.Left + b, Rect.Bottom}.Inflated(-7, -7);
    FillRect(Canvas, DrawBox(Canvas, swatch, clBtnShadow), FDefaultColor);
    text.Left += b - 4;
  }
  Canvas.setPen(ToQColor(clBtnText));
  Canvas.setFont(font());
  DrawString(Canvas, Caption, text, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

void TSkColorPicker::paintEvent(QPaintEvent* Event) {
  TSkBorder::paintEvent(Event);
  QPainter canvas(this);
  const auto caption = [](const QString& Text, const char* Fallback) {
    return Text.isEmpty() ? QString::fromLatin1(Fallback) : Text;
  };
  if (FShowNoColor)
    PaintCaptionButton(canvas, ciNoColor, CellRect(ciNoColor), caption(FNoColorCaption, "None"));
  if (FShowDefaultColor)
    PaintCaptionButton(canvas, ciDefaultColor, CellRect(ciDefaultColor),
                       caption(FDefaultColorCaption, "Default"));
  const int cells = StandardColorCount + (FShowSystemColors ? SystemColorCount : 0);
  for (int i = 0; i < cells; ++i) PaintCell(canvas, i, CellRect(i));
  if (!FShowCustomColor) return;
  PaintCaptionButton(canvas, ciMoreColors, CellRect(ciMoreColors),
                     caption(FCustomColorCaption, "More Colors..."));
  PaintCell(canvas, ciCustomColor, CellRect(ciCustomColor));
}
