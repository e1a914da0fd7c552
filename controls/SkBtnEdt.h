// An edit with up to two small buttons inside its right edge (TSkButtonEdit): the main button
// and an alternate one, held by a TSkButtonPair, each with a stock or custom glyph, a keyboard
// shortcut (F4 for the main button) and its own click event.
#pragma once

#include "SkButton.h"
#include "SkEdit.h"

#include <QKeySequence>
#include <QPointer>

enum TButtonKind {
  bkCustom,
  bkLookup,
  bkDropDown,
  bkCalendar,
  bkAccept,
  bkReject,
  bkFolder,
  bkFind,
  bkSearch
};

// The stock glyph of a kind: 20 by 10, a normal and a disabled 10 by 10 cell (null for
// bkCustom and bkDropDown), made once and kept.
const QImage& StockButtonGlyph(TButtonKind Kind);

class TSkButtonPair : public QWidget, public ISkEmbeddedButtons {
  Q_OBJECT
 public:
  explicit TSkButtonPair(QWidget* Parent = nullptr);
  TSkControlButton& Button() const { return *FButton; }
  TSkControlButton& AltButton() const { return *FAltButton; }
  void SetFlat(bool Value) override;
  void SetColor(TColor Value) override;
  // Takes the width of the visible buttons, which stand side by side, the alternate first.
  void UpdateWidth();
  QPointer<QWidget> FocusControl;
  std::function<void()> OnButtonClick, OnAltBtnClick;

 protected:
  void resizeEvent(QResizeEvent* Event) override;

 private:
  void Clicked(const std::function<void()>& Handler);

  TSkControlButton* FAltButton;
  TSkControlButton* FButton;
};

class TSkCustomButtonEdit : public TSkEdit {
 public:
  explicit TSkCustomButtonEdit(QWidget* Parent = nullptr);

  bool AllowKeyEdit = true;
  QKeyCombination ButtonShortCut{Qt::Key_F4};
  QKeyCombination AltBtnShortCut{};

  TButtonKind ButtonKind() const { return FButtonKind; }
  void SetButtonKind(TButtonKind Value) { SetKind(Pair().Button(), FButtonKind, Value); }
  TButtonKind AltBtnKind() const { return FAltBtnKind; }
  void SetAltBtnKind(TButtonKind Value) { SetKind(Pair().AltButton(), FAltBtnKind, Value); }
  // A custom glyph makes the button's kind bkCustom.
  void SetButtonGlyph(const QImage& Value);
  void SetAltBtnGlyph(const QImage& Value);
  void SetButtonVisible(bool Value);
  void SetAltBtnVisible(bool Value);
  void SetButtonWidth(int Value);
  void SetAltBtnWidth(int Value);
  bool HideButtonsOnReadOnly() const { return FHideButtonsOnReadOnly; }
  void SetHideButtonsOnReadOnly(bool Value);
  TSkButtonPair& Pair() const { return *FPair; }

  std::function<void()> OnButtonClick, OnAltBtnClick;

 protected:
  bool KeyEditAllowed() const override { return AllowKeyEdit && !isReadOnly(); }
  bool EmbeddedButtonsHidden() const override { return isReadOnly() && FHideButtonsOnReadOnly; }
  void keyPressEvent(QKeyEvent* Event) override;

 private:
  void SetKind(TSkControlButton& Button, TButtonKind& Field, TButtonKind Value);
  void PlaceButtons();
  // Clicks the visible, enabled button whose shortcut the key is; false when none.
  bool ClickShortCut(const QKeyEvent& Event);

  TSkButtonPair* FPair;
  TButtonKind FButtonKind = bkLookup, FAltBtnKind = bkLookup;
  bool FHideButtonsOnReadOnly = true;
};

class TSkButtonEdit : public TSkCustomButtonEdit {
 public:
  using TSkCustomButtonEdit::TSkCustomButtonEdit;
};
