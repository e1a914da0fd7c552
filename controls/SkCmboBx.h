// The framed drop-down list (TSkComboBox): the framed edit's state colours and ring on a
// non-editable combo box, a flat or raised drop-down button, incremental search by typing
// (the typed prefix is forgotten after a pause), wheel stepping, a read-only mode, a drop-down
// list as wide as its widest item, and a list of item values beside the items.
#pragma once

#include "SkEdit.h"

#include <QComboBox>

#include <memory>

// The pause after which the typed search text is forgotten.
inline constexpr int SearchResetMs = 1500;

class TSkCustomComboBox : public TSkFramed<QComboBox> {
 public:
  explicit TSkCustomComboBox(QWidget* Parent = nullptr);
  ~TSkCustomComboBox() override;

  bool BeepOnInvalidKey = true;
  bool TabOnEnter = false;
  // Width of the dropped list; 0 fits the widest item.
  int DropDownWidth = 0;
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value);
  QString SearchString() const { return FSearchString; }
  // The first item starting with S, ignoring case; -1 for none.
  int FindItem(const QString& S) const;
  // The width the dropped list takes.
  int DroppedWidth() const;
  void showPopup() override;
  void hidePopup() override;

  std::function<void()> OnChange, OnClick;

 protected:
  bool IsReadOnly() const override { return FReadOnly; }
  void ApplyColor(TColor Value) override;
  virtual void InvalidKeyBeep();
  // Selects the first item starting with S and keeps S as the search text; beeps for none.
  virtual void SelectMatch(const QString& S);
  // Selects an item as the user does: the events follow.
  void SelectByUser(int Index);
  void paintEvent(QPaintEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;
  void wheelEvent(QWheelEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;

 private:
  void Backspace();
  void RestartSearchTimer();

  bool FReadOnly = false;
  bool FDropped = false;
  QString FSearchString;
  std::unique_ptr<TSkTimer> FSearchTimer;
};

// With a value for each item: Value selects the item whose value it is.
class TSkComboBox : public TSkCustomComboBox {
 public:
  explicit TSkComboBox(QWidget* Parent = nullptr);
  QStringList Values() const { return FValues; }
  // Takes the values and selects by the current value again.
  void SetValues(const QStringList& Value);
  // Values[Index] when not empty, else the item text, else empty.
  QString GetItemValue(int Index) const;
  QString Value() const { return FValue; }
  void SetValue(const QString& Value);

 private:
  void ApplyValue(const QString& Value);
  QStringList FValues;
  QString FValue;
  bool FSelectingValue = false;
};
