#include "InputTestSupport.h"
#include "SkBorder.h"
#include "SkEdit.h"
#include "SkPopups.h"

#include <QPushButton>
#include <QApplication>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

TEST(SkPopups, PlacementStaysOnTheWorkArea) {
  const QRect work(0, 0, 800, 600);
  struct Case {
    const char* Name;
    QRect Control;
    Qt::Alignment Alignment;
    int X, Y;
    QPoint Expected;
  };
  // clang-format off
  const Case cases[] = {
      {"under, right-aligned", {100, 100, 80, 20}, Qt::AlignRight, -1, -1, {80, 120}},
      {"under, left-aligned", {100, 100, 80, 20}, Qt::AlignLeft, -1, -1, {100, 120}},
      {"under, centred", {100, 100, 80, 20}, Qt::AlignHCenter, -1, -1, {90, 120}},
      {"near the bottom: above", {100, 530, 80, 20}, Qt::AlignLeft, -1, -1, {100, 430}},
      {"just fits below", {100, 480, 80, 20}, Qt::AlignLeft, -1, -1, {100, 500}},
      {"past the right edge", {760, 100, 80, 20}, Qt::AlignLeft, -1, -1, {700, 120}},
      {"past the left edge", {10, 100, 50, 20}, Qt::AlignRight, -1, -1, {0, 120}},
      {"at an offset", {100, 100, 80, 20}, Qt::AlignRight, 5, 7, {105, 107}},
  };
  // clang-format on
  for (const Case& c : cases)
    EXPECT_EQ(PopupPlacement(c.Control, {100, 100}, c.Alignment, c.X, c.Y, work).topLeft(),
              c.Expected)
        << c.Name;
}

// A window with a control to drop under and a button that counts the clicks it gets.
struct TPopupHost : TFocusHost<QPushButton> {
  TSkPopupPanel* Panel = new TSkPopupPanel(&Window);
  QPushButton* Pick = new QPushButton(QStringLiteral("Pick"), Panel);
  int OtherClicks = 0;
  TPopupHost() {
    Pick->setGeometry(10, 10, 60, 24);
    QObject::connect(Pick, &QPushButton::clicked, [this] { Panel->Close(); });
    QObject::connect(Control, &QPushButton::clicked, [this] { ++OtherClicks; });
  }
  // Runs the pop-up while Act does what the user does in it.
  bool PopupWhile(std::function<void()> Act) {
    QTimer::singleShot(0, [this, Act] {
      ASSERT_TRUE(Panel->Showing());
      Act();
    });
    return Panel->Popup(Other);
  }
};

TEST(SkPopups, FourWaysOut) {
  struct Case {
    const char* Name;
    std::function<void(TPopupHost&)> Act;
    bool Accepted;
  };
  const Case cases[] = {
      {"a pick closes accepted", [](TPopupHost& h) { QTest::mouseClick(h.Pick, Qt::LeftButton); },
       true},
      {"Esc cancels",
       [](TPopupHost& h) { QTest::keyClick(h.Panel->PopupWindow(), Qt::Key_Escape); }, false},
      {"a click elsewhere cancels and is swallowed",
       [](TPopupHost& h) {
         const QPoint at = h.Control->mapTo(&h.Window, QPoint(5, 5));
         QTest::mouseClick(h.Window.windowHandle(), Qt::LeftButton, {}, at);
       },
       false},
      {"a second pop-up is refused and the first goes on",
       [](TPopupHost& h) {
         EXPECT_FALSE(h.Panel->Popup(h.Control));
         EXPECT_TRUE(h.Panel->Showing());
         h.Panel->Close();
       },
       true},
  };
  for (const Case& c : cases) {
    TPopupHost host;
    host.Control->setGeometry(10, 10, 80, 24);
    EXPECT_EQ(host.PopupWhile([&] { c.Act(host); }), c.Accepted) << c.Name;
    EXPECT_FALSE(host.Panel->Showing()) << c.Name;
    EXPECT_EQ(host.OtherClicks, 0) << c.Name;
    EXPECT_EQ(host.Pick->parentWidget(), host.Panel) << c.Name << ": the child is given back";
  }
}

TEST(SkColorPicker, SelectedColourMatchesDefaultSystemStandardThenCustom) {
  struct Case {
    const char* Name;
    bool ShowDefault, ShowSystem;
    TColor Value;
    int Index;
    TColor Custom, Shown;
  };
  // clang-format off
  const Case cases[] = {
      {"standard", false, false, 0x0066FF, 9, 0xFFFFFF, 0x0066FF},
      {"default wins over an equal standard", true, false, 0, ciDefaultColor, 0xFFFFFF, clBlack},
      {"the same without the default button", false, false, 0, 0, 0xFFFFFF, clBlack},
      {"system colour", false, true, clBtnFace, 55, 0xFFFFFF, clBtnFace},
      {"system colour by value when hidden", false, false, clWindow, 39, 0xFFFFFF, clWhite},
      {"in no table", true, true, 0x123456, ciCustomColor, 0x123456, 0x123456},
      {"none", true, true, clNone, ciNoColor, 0xFFFFFF, clNone},
  };
  // clang-format on
  for (const Case& c : cases) {
    TSkColorPicker picker;
    picker.SetDefaultColor(clBlack);
    picker.SetShown(true, c.ShowDefault, c.ShowSystem, true);
    picker.SetSelectedIndex(3);
    picker.SetSelectedColor(c.Value);
    EXPECT_EQ(picker.SelectedIndex(), c.Index) << c.Name;
    EXPECT_EQ(picker.CustomColor(), c.Custom) << c.Name;
    EXPECT_EQ(picker.SelectedColor(), c.Shown) << c.Name;
  }
}

TEST(SkColorPicker, LayoutHitsEveryCellAndNamesIt) {
  TSkColorPicker picker;
  picker.SetShown(true, true, true, true);
  EXPECT_EQ(picker.size(), picker.sizeHint());
  for (int i = ciDefaultColor; i < StandardColorCount + SystemColorCount; ++i) {
    const TRect r = picker.CellRect(i);
    ASSERT_FALSE(r.IsEmpty()) << i;
    EXPECT_EQ(picker.HitTest({(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2}), i);
  }
  EXPECT_EQ(picker.CellRect(0).Width(), 18);
  EXPECT_EQ(picker.CellRect(0).Height(), 18);
  EXPECT_EQ(PickerCellName(9), QStringLiteral("Orange"));
  EXPECT_EQ(PickerCellName(69), QStringLiteral("Menu Bar"));
  EXPECT_EQ(PickerCellColor(64), clInfoBk);
  EXPECT_EQ(PickerCellColor(65), clHotLight);  // constant 25 is left out
}

class TScriptedPicker : public TSkColorPicker {
 public:
  bool Answer = false;
  TColor Chosen = 0;

 protected:
  bool ExecuteColorDialog(TColor& Color) override {
    Color = Chosen;
    return Answer;
  }
};

TEST(SkColorPicker, MoreColorsTakesTheDialogsColourOnlyOnOk) {
  for (bool ok : {false, true}) {
    TScriptedPicker picker;
    picker.SetShown(false, false, false, true);
    picker.SetSelectedIndex(5);
    picker.Answer = ok;
    picker.Chosen = 0x224466;
    int changes = 0, clicks = 0;
    picker.OnChange = [&] { ++changes; };
    picker.OnClick = [&] { ++clicks; };
    const TRect more = picker.CellRect(ciMoreColors);
    QTest::mousePress(&picker, Qt::LeftButton, {}, {more.Left + 5, more.Top + 5});
    EXPECT_EQ(picker.SelectedIndex(), ok ? ciCustomColor : 5) << ok;
    EXPECT_EQ(picker.SelectedColor(), ok ? TColor(0x224466) : PickerCellColor(5)) << ok;
    EXPECT_EQ(changes, ok ? 1 : 0) << ok;
    EXPECT_EQ(clicks, ok ? 1 : 0) << ok;
  }
}

TEST(SkColorEdit, DropDownPicksAColourOrLeavesItAlone) {
  struct Case {
    const char* Name;
    bool ClickCell;
    TColor Expected;
    int Changes;
  };
  const Case cases[] = {{"a cell is picked", true, PickerCellColor(16), 1},
                        {"a click elsewhere", false, clBlack, 0}};
  for (const Case& c : cases) {
    TFocusHost<TSkColorEdit> host;
    TSkColorEdit& edit = *host.Control;
    edit.SetSelectedColor(clBlack);
    int changes = 0;
    edit.OnChange = [&] { ++changes; };
    QTimer::singleShot(0, [&] {
      auto* picker = host.Window.findChild<TSkColorPicker*>();
      ASSERT_NE(picker, nullptr);
      const TRect red = picker->CellRect(16);
      if (c.ClickCell)
        QTest::mouseClick(picker, Qt::LeftButton, {}, {red.Left + 5, red.Top + 5});
      else
        QTest::mouseClick(host.Window.windowHandle(), Qt::LeftButton, {}, {290, 190});
    });
    QTest::keyClick(&edit, Qt::Key_F4);
    EXPECT_EQ(edit.SelectedColor(), c.Expected) << c.Name;
    EXPECT_EQ(changes, c.Changes) << c.Name;
    EXPECT_EQ(host.Window.findChild<TSkColorPicker*>(), nullptr) << c.Name;
    QTest::keyClicks(&edit, QStringLiteral("abc"));
    EXPECT_TRUE(edit.text().isEmpty()) << c.Name;
  }
}

// The keys a user tries on a colour box: Space and Down open the picker as F4 and Alt+Down
// do; Enter and Escape are left to the window (its default button, its Cancel).
TEST(SkColorEdit, SpaceAndDownOpenThePickerEnterAndEscapeAreTheWindows) {
  const struct {
    const char* Name;
    Qt::Key Key;
    Qt::KeyboardModifiers Modifiers;
    bool Opens;
  } cases[] = {{"Space", Qt::Key_Space, Qt::NoModifier, true},
               {"Down", Qt::Key_Down, Qt::NoModifier, true},
               {"F4", Qt::Key_F4, Qt::NoModifier, true},
               {"Alt+Down", Qt::Key_Down, Qt::AltModifier, true},
               {"Return", Qt::Key_Return, Qt::NoModifier, false},
               {"Enter", Qt::Key_Enter, Qt::KeypadModifier, false},
               {"Escape", Qt::Key_Escape, Qt::NoModifier, false}};
  for (const auto& c : cases) {
    TFocusHost<TSkColorEdit> host;
    host.Enter();
    bool opened = false;
    QTimer::singleShot(0, [&] {
      opened = host.Window.findChild<TSkColorPicker*>() != nullptr;
      if (QWidget* open = QApplication::activePopupWidget()) open->close();
    });
    QKeyEvent key(QEvent::KeyPress, c.Key, c.Modifiers);
    QApplication::sendEvent(host.Control, &key);
    QCoreApplication::processEvents();
    EXPECT_EQ(opened, c.Opens) << c.Name;
    EXPECT_EQ(key.isAccepted(), c.Opens) << c.Name;
  }
}

// The picker by keyboard alone: the arrows walk the cells from the selected one (up and
// down by a row of eight), Enter or Space picks, Escape leaves the colour alone.
TEST(SkColorEdit, KeysWalkThePickerAndPickAColour) {
  struct Case {
    const char* Name;
    std::vector<Qt::Key> Keys;
    TColor Expected;
    int Changes;
  };
  const Case cases[] = {
      {"right twice and down from the first cell", {Qt::Key_Right, Qt::Key_Right, Qt::Key_Down, Qt::Key_Return}, PickerCellColor(10), 1},
      {"left stops at the first cell, space picks", {Qt::Key_Left, Qt::Key_Down, Qt::Key_Space}, PickerCellColor(8), 1},
      {"down past the last row stays on it", {Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Enter}, PickerCellColor(32), 1},
      {"escape", {Qt::Key_Right, Qt::Key_Escape}, PickerCellColor(0), 0},
  };
  for (const Case& c : cases) {
    TFocusHost<TSkColorEdit> host;
    TSkColorEdit& edit = *host.Control;
    edit.SetSelectedColor(PickerCellColor(0));
    int changes = 0;
    edit.OnChange = [&] { ++changes; };
    QTimer::singleShot(0, [&] {
      auto* picker = host.Window.findChild<TSkColorPicker*>();
      ASSERT_NE(picker, nullptr);
      for (const Qt::Key key : c.Keys) QTest::keyClick(QApplication::focusWidget(), key);
      if (QWidget* open = QApplication::activePopupWidget()) open->close();  // never left open
    });
    QTest::keyClick(&edit, Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(edit.SelectedColor(), c.Expected) << c.Name;
    EXPECT_EQ(changes, c.Changes) << c.Name;
    EXPECT_EQ(host.Window.findChild<TSkColorPicker*>(), nullptr) << c.Name;
  }
}

TEST(SkColorEdit, ClosingTheWindowWhileThePickerShowsEndsItSafely) {
  auto* window = new QWidget;
  auto* edit = new TSkColorEdit(window);
  int changes = 0;
  edit->OnChange = [&changes] { ++changes; };
  window->show();
  const QPointer<QWidget> alive(window);
  QTimer::singleShot(0, [window] {
    ASSERT_NE(window->findChild<TSkColorPicker*>(), nullptr);
    delete window;
  });
  edit->DropDown();
  EXPECT_TRUE(alive.isNull());
  EXPECT_EQ(changes, 0);
}

}  // namespace
