#include "InputTestSupport.h"
#include "SkCmboBx.h"

#include <QAbstractItemView>
#include <gtest/gtest.h>

namespace {

using TCombo = TBeepCounting<TSkComboBox>;

const QStringList Fruit = {QStringLiteral("Apple"), QStringLiteral("apricot"),
                           QStringLiteral("Banana"), QStringLiteral("blueberry"),
                           QStringLiteral("Cherry")};

void Wheel(QWidget& Target, int Delta) {
  QWheelEvent e({5, 5}, Target.mapToGlobal(QPoint(5, 5)), {}, {0, Delta}, Qt::NoButton,
                Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(&Target, &e);
  EXPECT_TRUE(e.isAccepted());
}

TEST(SkComboBox, IncrementalSearchByPrefixWithPauseAndBackspace) {
  struct Step {
    const char* Name;
    QString Typed;  // "\b" for Backspace
    int PauseMs;    // after typing
    int Index;
    QString Search;
    int Beeps;
  };
  // clang-format off
  const Step steps[] = {
      {"first letter", "a", 0, 0, "a", 0},
      {"case does not matter", "PR", 0, 1, "aPR", 0},
      {"no match beeps and keeps the letter", "z", 0, 1, "aPRz", 1},
      {"the pause forgets the text", "", 1499, 1, "aPRz", 1},
      {"", "", 1, 1, "", 1},
      {"a new search", "b", 0, 2, "b", 1},
      {"ab then a pause then c", "l", 1500, 3, "", 1},
      {"c alone", "c", 0, 4, "c", 1},
      {"backspace to empty selects the first", "\b", 0, 0, "", 1},
      {"backspace on nothing beeps", "\b", 0, 0, "", 2},
      {"backspace shortens the search", "blx\b", 0, 3, "bl", 3},
  };
  // clang-format on
  TSkManualClock clock;
  TFocusHost<TCombo> host;
  TCombo& combo = *host.Control;
  combo.addItems(Fruit);
  combo.setCurrentIndex(-1);
  int changes = 0;
  combo.OnChange = [&] { ++changes; };
  host.Enter();
  for (const Step& s : steps) {
    for (QChar c : s.Typed)
      c == QLatin1Char('\b') ? QTest::keyClick(&combo, Qt::Key_Backspace)
                             : QTest::keyClick(&combo, c.toLatin1());
    clock.Advance(s.PauseMs);
    EXPECT_EQ(combo.currentIndex(), s.Index) << s.Name;
    EXPECT_EQ(combo.SearchString(), s.Search) << s.Name;
    EXPECT_EQ(combo.Beeps, s.Beeps) << s.Name;
  }
  EXPECT_GE(changes, 7);
}

TEST(SkComboBox, WheelStepsWithinTheItems) {
  struct Case {
    const char* Name;
    int Start, Delta, Index, Changes;
  };
  // clang-format off
  const Case cases[] = {
      {"down", 1, -120, 2, 1},
      {"up", 2, 120, 1, 1},
      {"down on the last stays", 4, -120, 4, 0},
      {"up on the first stays", 0, 120, 0, 0},
      {"none selected: the first, quietly", -1, -120, 0, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    TFocusHost<TCombo> host;
    host.Control->addItems(Fruit);
    host.Control->setCurrentIndex(c.Start);
    int changes = 0;
    host.Control->OnChange = [&] { ++changes; };
    Wheel(*host.Control, c.Delta);
    EXPECT_EQ(host.Control->currentIndex(), c.Index) << c.Name;
    EXPECT_EQ(changes, c.Changes) << c.Name;
  }
}

TEST(SkComboBox, ReadOnlyIgnoresKeysClicksAndWheel) {
  TFocusHost<TCombo> host;
  TCombo& combo = *host.Control;
  combo.addItems(Fruit);
  combo.setCurrentIndex(2);
  combo.SetReadOnly(true);
  host.Enter();
  const std::function<void()> acts[] = {
      [&] { QTest::keyClick(&combo, 'c'); },
      [&] { QTest::keyClick(&combo, Qt::Key_Down); },
      [&] { QTest::keyClick(&combo, Qt::Key_F4); },
      [&] { QTest::keyClick(&combo, Qt::Key_Backspace); },
      [&] { QTest::mouseClick(&combo, Qt::LeftButton); },
      [&] { Wheel(combo, -120); },
  };
  for (const auto& act : acts) {
    act();
    EXPECT_EQ(combo.currentIndex(), 2);
    EXPECT_FALSE(combo.view()->isVisible());
  }
  EXPECT_EQ(combo.Beeps, 0);
  EXPECT_EQ(combo.SearchString(), QString());
}

TEST(SkComboBox, DroppedListFitsTheWidestItem) {
  TSkComboBox combo;
  combo.resize(40, 21);
  combo.addItems(Fruit);
  const int widest = combo.fontMetrics().horizontalAdvance(QStringLiteral("blueberry")) + 8;
  EXPECT_EQ(combo.DroppedWidth(), std::max(widest, 40));
  combo.setMaxVisibleItems(3);
  EXPECT_EQ(combo.DroppedWidth(), std::max(widest + SkScrollBarWidth, 40));
  combo.resize(400, 21);
  EXPECT_EQ(combo.DroppedWidth(), 400);
  combo.DropDownWidth = 77;
  EXPECT_EQ(combo.DroppedWidth(), 77);
}

TEST(SkComboBox, ValuesSelectItemsAndFollowTheSelection) {
  TSkComboBox combo;
  combo.addItems(Fruit);
  combo.SetValues({QStringLiteral("A"), QString(), QStringLiteral("B")});
  struct Step {
    const char* Name;
    std::function<void()> Act;
    int Index;
    QString Value;
  };
  const Step steps[] = {
      {"a value", [&] { combo.SetValue(QStringLiteral("B")); }, 2, "B"},
      {"an item text without a value", [&] { combo.SetValue(QStringLiteral("apricot")); }, 1,
       "apricot"},
      {"exact case only", [&] { combo.SetValue(QStringLiteral("cherry")); }, -1, "cherry"},
      {"a selection stores its value", [&] { combo.setCurrentIndex(0); }, 0, "A"},
      {"new values select again",
       [&] {
         combo.SetValues({QStringLiteral("X"), QStringLiteral("A")});
       },
       1, "A"},
  };
  for (const Step& s : steps) {
    s.Act();
    EXPECT_EQ(combo.currentIndex(), s.Index) << s.Name;
    EXPECT_EQ(combo.Value(), s.Value) << s.Name;
  }
}

}  // namespace
