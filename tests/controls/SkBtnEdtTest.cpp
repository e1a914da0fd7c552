#include "InputTestSupport.h"
#include "SkBtnEdt.h"
#include "SkSpnEdt.h"

#include <QClipboard>
#include <QInputMethodEvent>
#include <gtest/gtest.h>

namespace {

using TButtonEdit = TBeepCounting<TSkButtonEdit>;

TEST(SkButtonEdit, ShortCutsClickTheirButtonAndTypeNothing) {
  struct Case {
    const char* Name;
    bool AltVisible;
    Qt::Key Key;
    Qt::KeyboardModifiers Modifiers;
    int Clicks, AltClicks;
  };
  // clang-format off
  const Case cases[] = {
      {"F4", false, Qt::Key_F4, Qt::NoModifier, 1, 0},
      {"Shift+F4 is another shortcut", false, Qt::Key_F4, Qt::ShiftModifier, 0, 0},
      {"the alternate shortcut", true, Qt::Key_F3, Qt::ControlModifier, 0, 1},
      {"the alternate shortcut, button hidden", false, Qt::Key_F3, Qt::ControlModifier, 0, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    TFocusHost<TButtonEdit> host;
    TButtonEdit& edit = *host.Control;
    edit.SetAltBtnVisible(c.AltVisible);
    edit.AltBtnShortCut = QKeyCombination(Qt::ControlModifier, Qt::Key_F3);
    int clicks = 0, altClicks = 0;
    edit.OnButtonClick = [&] { ++clicks; };
    edit.OnAltBtnClick = [&] { ++altClicks; };
    host.Enter();
    QTest::keyClick(&edit, c.Key, c.Modifiers);
    EXPECT_EQ(clicks, c.Clicks) << c.Name;
    EXPECT_EQ(altClicks, c.AltClicks) << c.Name;
    EXPECT_TRUE(edit.text().isEmpty()) << c.Name;
  }
}

TEST(SkButtonEdit, WithoutKeyEditingNothingChangesTheText) {
  struct Case {
    const char* Name;
    std::function<void(TButtonEdit&)> Act;
  };
  const Case cases[] = {
      {"typing", [](TButtonEdit& e) { QTest::keyClicks(&e, QStringLiteral("xy")); }},
      {"paste", [](TButtonEdit& e) { QTest::keySequence(&e, QKeySequence::Paste); }},
      {"cut",
       [](TButtonEdit& e) {
         e.selectAll();
         QTest::keySequence(&e, QKeySequence::Cut);
       }},
      {"Delete",
       [](TButtonEdit& e) {
         e.setCursorPosition(0);
         QTest::keyClick(&e, Qt::Key_Delete);
       }},
      {"Backspace", [](TButtonEdit& e) { QTest::keyClick(&e, Qt::Key_Backspace); }},
      {"an input method",
       [](TButtonEdit& e) {
         QInputMethodEvent composed;
         composed.setCommitString(QStringLiteral("xy"));
         QApplication::sendEvent(&e, &composed);
       }},
  };
  QApplication::clipboard()->setText(QStringLiteral("pasted"));
  for (const Case& c : cases) {
    TFocusHost<TButtonEdit> host;
    TButtonEdit& edit = *host.Control;
    edit.setText(QStringLiteral("/home"));
    edit.AllowKeyEdit = false;
    int clicks = 0;
    edit.OnButtonClick = [&] { ++clicks; };
    host.Enter();
    c.Act(edit);
    EXPECT_EQ(edit.text(), QStringLiteral("/home")) << c.Name;
    EXPECT_GE(edit.Beeps, 1) << c.Name;
    QTest::mouseClick(&edit.Pair().Button(), Qt::LeftButton);
    EXPECT_EQ(clicks, 1) << c.Name << ": the button still works";
  }
  TFocusHost<TButtonEdit> host;  // and with key editing, the same paste goes in
  host.Enter();
  QTest::keySequence(host.Control, QKeySequence::Paste);
  EXPECT_EQ(host.Control->text(), QStringLiteral("pasted"));
}

// Runs under an X server, whose selection a middle click pastes.
TEST(SkEditSelection, MiddleClickPasteObeysTheEditRules) {
  if (!QApplication::clipboard()->supportsSelection()) GTEST_SKIP() << "no selection here";
  QWidget window;
  auto* locked = new TSkButtonEdit(&window);
  locked->AllowKeyEdit = false;
  auto* spin = new TSkSpinEdit(&window);  // without key editing by default
  auto* readOnly = new TSkEdit(&window);
  readOnly->SetReadOnly(true);
  auto* open = new TSkButtonEdit(&window);
  const std::pair<TSkCustomEdit*, QString> cases[] = {
      {locked, ""}, {spin, "0"}, {readOnly, ""}, {open, "42"}};
  for (int i = 0; i < 4; ++i) cases[i].first->move(0, 30 * i);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QApplication::clipboard()->setText(QStringLiteral("42"), QClipboard::Selection);
  for (int i = 0; i < 4; ++i) {
    QTest::mouseClick(cases[i].first, Qt::MiddleButton, {}, {5, 5});
    EXPECT_EQ(cases[i].first->text(), cases[i].second) << i;
  }
}

TEST(SkButtonEdit, ReadOnlyHidesTheButtonsAndGivesTheTextTheWidth) {
  struct Case {
    bool ReadOnly, Hide, PairShown;
    int RightMargin;
  };
  const Case cases[] = {
      {false, true, true, 2 + 17 + 2}, {true, true, false, 2}, {true, false, true, 2 + 17 + 2}};
  for (const Case& c : cases) {
    TFocusHost<TSkButtonEdit> host;
    TSkButtonEdit& edit = *host.Control;
    edit.SetHideButtonsOnReadOnly(c.Hide);
    edit.SetReadOnly(c.ReadOnly);
    EXPECT_EQ(edit.Pair().isVisible(), c.PairShown) << c.ReadOnly << c.Hide;
    EXPECT_EQ(edit.textMargins().right(), c.RightMargin) << c.ReadOnly << c.Hide;
    EXPECT_EQ(!c.PairShown || edit.Pair().geometry().right() == edit.width() - 3, true);
  }
}

TEST(SkButtonEdit, KindsGiveStockGlyphsAndACustomGlyphMakesItCustom) {
  TSkButtonEdit edit;
  EXPECT_EQ(edit.Pair().Button().Glyph(), StockButtonGlyph(bkLookup));
  QImage custom(20, 10, QImage::Format_RGB32);
  custom.fill(Qt::red);
  edit.SetButtonGlyph(custom);
  EXPECT_EQ(edit.ButtonKind(), bkCustom);
  edit.SetButtonKind(bkFolder);
  EXPECT_EQ(edit.Pair().Button().Glyph(), StockButtonGlyph(bkFolder));
  EXPECT_EQ(edit.Pair().Button().NumGlyphs(), 2);
  edit.SetButtonKind(bkDropDown);
  EXPECT_TRUE(edit.Pair().Button().Glyph().isNull());
  EXPECT_EQ(edit.Pair().Button().Style(), cbsDropDown);
  for (int k = bkLookup; k <= bkSearch; ++k) {
    const QSize expected = k == bkDropDown ? QSize(0, 0) : QSize(20, 10);
    EXPECT_EQ(StockButtonGlyph(TButtonKind(k)).size(), expected) << k;
  }
}

}  // namespace
