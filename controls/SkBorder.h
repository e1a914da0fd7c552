// A control that only paints a border (TSkBorder), and the colour picker built on it: a grid of
// forty standard colours with optional system colours, no-colour, default-colour and "More
// Colors..." areas (TSkColorPicker).
#pragma once

#include "SkCommon.h"

#include <QWidget>

#include <functional>

class TSkBorder : public QWidget {
  Q_OBJECT
 public:
  explicit TSkBorder(QWidget* Parent = nullptr);
  const TInnerOuterBorders& Borders() const { return FBorders; }
  void SetBorders(const TInnerOuterBorders& Value);
  // The area inside the border: the bounds less the width and each style's own width.
  TRect ClientRect() const;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  TInnerOuterBorders FBorders;
};

// Indexes of the picker's cells besides the 40 standard (0..39) and 30 system (40..69) ones.
enum : int {
  ciNoColor = -1,
  ciCustomColor = -2,
  ciMoreColors = -3,
  ciDefaultColor = -4,
  ciGap = -5,
  ciNoHot = -6
};
inline constexpr int StandardColorCount = 40, SystemColorCount = 30;

// The colour and name of a grid cell (0..69).
TColor PickerCellColor(int Index);
QString PickerCellName(int Index);

class TSkColorPicker : public TSkBorder {
  Q_OBJECT
 public:
  explicit TSkColorPicker(QWidget* Parent = nullptr);

  TColor CustomColor() const { return FCustomColor; }
  void SetCustomColor(TColor Value) { StoreAndUpdate(*this, FCustomColor, Value); }
  TColor DefaultColor() const { return FDefaultColor; }
  void SetDefaultColor(TColor Value) { StoreAndUpdate(*this, FDefaultColor, Value); }
  TSkCustomColors* CustomColors = nullptr;
  bool ShowColorHints = true;
  void SetCaptions(const QString& NoColor, const QString& Default, const QString& Custom);
  // Which areas show: no colour, default colour, system colours, the bottom custom row.
  void SetShown(bool NoColor, bool Default, bool System, bool Custom);

  TColor SelectedColor() const;
  void SetSelectedColor(TColor Value);
  int SelectedIndex() const { return FSelectedIndex; }
  void SetSelectedIndex(int Index);
  int HotIndex() const { return FHotIndex; }
  // The cell at a point of the control.
  int HitTest(QPoint At) const;
  // The rectangle of a cell (empty when not shown).
  TRect CellRect(int Index) const;
  // "More Colors...": the colour dialog; OK selects the chosen colour as the custom one.
  void ShowColorDialog();
  QSize sizeHint() const override;

  std::function<void()> OnChange, OnClick;

 protected:
  // Asks the user for a colour (the platform dialog); false when cancelled.
  virtual bool ExecuteColorDialog(TColor& Color);
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void leaveEvent(QEvent* Event) override;

 private:
  int ButtonHeight() const;
  // The cell an arrow key leads to from a cell.
  int CellBeside(int Index, int Key) const;
  // A click's work without the mouse: the cell becomes the colour, More Colors asks.
  void Pick(int Index);
  void SetHotIndex(int Index);
  void PaintCell(QPainter& Canvas, int Index, const TRect& Rect) const;
  void PaintCaptionButton(QPainter& Canvas, int Index, const TRect& Rect, QString Caption) const;

  TColor FCustomColor = 0xFFFFFF, FDefaultColor = clHighlight;
  QString FNoColorCaption, FDefaultColorCaption, FCustomColorCaption;
  bool FShowNoColor = false, FShowDefaultColor = false, FShowSystemColors = false,
       FShowCustomColor = false;
  int FSelectedIndex = ciNoColor, FHotIndex = ciNoHot;
  bool FPressed = false;
};
