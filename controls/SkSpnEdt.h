// A pair of repeating arrow buttons (TSkSpinButtons) and the numeric edit that holds one inside
// its right edge (TSkSpinEdit). The spin edit's text is the only store of its value: Value is
// always read back from the text, and reading it never changes the text.
#pragma once

#include "SkButton.h"
#include "SkEdit.h"

#include <QPointer>

enum TSpinDirection { sdUpDown, sdLeftRight };
enum TSpinButtonType { sbUp, sbDown };

class TSkSpinButtons : public QWidget, public ISkEmbeddedButtons {
  Q_OBJECT
 public:
  explicit TSkSpinButtons(QWidget* Parent = nullptr);

  TSpinDirection Direction() const { return FDirection; }
  void SetDirection(TSpinDirection Value);
  TOrientation Orientation() const { return FOrientation; }
  // Becoming vertical halves the width, becoming horizontal doubles it.
  void SetOrientation(TOrientation Value);
  bool Flat() const { return FUpRight->Flat(); }
  void SetFlat(bool Value) override;
  TColor Color() const { return FUpRight->Color(); }
  void SetColor(TColor Value) override;
  void SetDelays(uint16_t InitialDelay, uint16_t Delay);
  // A bitmap for a button; a null image gives back the drawn arrow.
  void SetGlyphUpRight(const QImage& Value);
  void SetGlyphDownLeft(const QImage& Value);
  // Where a press moves the focus first.
  QPointer<QWidget> FocusControl;
  std::function<void()> OnUpRightClick, OnDownLeftClick;
  TSkControlButton& UpRight() const { return *FUpRight; }
  TSkControlButton& DownLeft() const { return *FDownLeft; }

 protected:
  void resizeEvent(QResizeEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  void AdjustSize();
  void ResetArrows();

  TSkControlButton* FUpRight;
  TSkControlButton* FDownLeft;
  TSpinDirection FDirection = sdUpDown;
  TOrientation FOrientation = orVertical;
};

class TSkSpinEdit : public TSkCustomEdit {
 public:
  explicit TSkSpinEdit(QWidget* Parent = nullptr);

  bool AllowKeyEdit = false;
  bool AllowBlank = false;
  double BlankValue = 0;
  double Increment = 1;
  double PageSize = 10;

  // The text's value within the range: an empty text is BlankValue with AllowBlank, else Min,
  // as is a text that is no finite number.
  double Value() const;
  // Shows the value clamped to the range with Decimals digits.
  void SetValue(double Value);
  // The value rounded, halves to even, and held within the int range.
  int IntValue() const;
  void SetIntValue(int Value) { SetValue(Value); }
  double Min() const { return FMin; }
  void SetMin(double Value);
  double Max() const { return FMax; }
  void SetMax(double Value);
  bool CheckRange() const { return FCheckRange; }
  void SetCheckRange(bool Value);
  int Decimals() const { return FDecimals; }
  void SetDecimals(int Value);
  bool IntegersOnly() const { return FIntegersOnly; }
  void SetIntegersOnly(bool Value);
  int ButtonWidth() const { return FButtonWidth; }
  void SetButtonWidth(int Value);
  // The value within the range (no range when Min = Max and not CheckRange).
  double CheckValue(double Value) const;
  void IncValue(double Amount) { Step(Amount, sbUp); }
  void DecValue(double Amount) { Step(-Amount, sbDown); }
  TSkSpinButtons& Buttons() const { return *FButtons; }
  void SetDirection(TSpinDirection Value) { FButtons->SetDirection(Value); }
  void SetOrientation(TOrientation Value);

  std::function<void(double NewValue, bool& AllowChange)> OnChanging;
  std::function<void(TSpinButtonType Button)> OnButtonClick;

 protected:
  bool KeyEditAllowed() const override { return AllowKeyEdit && !isReadOnly(); }
  // Whether a typed character may go into the text as it stands.
  bool IsValidChar(QChar Key) const;
  void keyPressEvent(QKeyEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;
  void wheelEvent(QWheelEvent* Event) override;

 private:
  void Step(double Amount, TSpinButtonType Button);
  QChar DecimalPoint() const;

  TSkSpinButtons* FButtons;
  double FMin = 0, FMax = 100;
  bool FCheckRange = false;
  int FDecimals = 0;
  bool FIntegersOnly = true;
  int FButtonWidth = 17;
};
