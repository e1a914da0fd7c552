#include "InputTestSupport.h"
#include "SkSpnEdt.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using TSpin = TBeepCounting<TSkSpinEdit>;

TEST(SkSpinEdit, LeavingShowsTheValueClampedAndFormatted) {
  struct Case {
    const char* Name;
    double Min, Max;
    bool CheckRange, AllowBlank;
    int Decimals;
    QString Typed, Shown;
  };
  // clang-format off
  const Case cases[] = {
      {"above the default range", 0, 100, false, false, 0, "250", "100"},
      {"below the range", 80, 1920, false, false, 0, "5", "80"},
      {"no range when Min = Max", 0, 0, false, false, 0, "250", "250"},
      {"Min = Max with CheckRange", 0, 0, true, false, 0, "250", "0"},
      {"blank kept", 10, 20, false, true, 0, "", ""},
      {"blank refused: Min", 10, 20, false, false, 0, "", "10"},
      {"not a number: Min", 10, 20, false, false, 0, "-", "10"},
      {"decimals", 0, 100, false, false, 2, "5", "5.00"},
  };
  // clang-format on
  for (const Case& c : cases) {
    TFocusHost<TSpin> host;
    TSpin& spin = *host.Control;
    spin.AllowKeyEdit = true;
    spin.AllowBlank = c.AllowBlank;
    spin.SetIntegersOnly(c.Decimals == 0);
    spin.SetDecimals(c.Decimals);
    spin.SetMax(c.Max);
    spin.SetMin(c.Min);
    spin.SetCheckRange(c.CheckRange);
    host.Enter();
    spin.selectAll();
    QTest::keyClick(&spin, Qt::Key_Backspace);
    QTest::keyClicks(&spin, c.Typed);
    EXPECT_EQ(spin.text(), c.Typed) << c.Name;
    host.Leave();
    EXPECT_EQ(spin.text(), c.Shown) << c.Name;
    EXPECT_EQ(spin.Beeps, 0) << c.Name;
  }
}

TEST(SkSpinEdit, ReadingTheValueNeverWritesTheText) {
  TSkSpinEdit spin;
  spin.SetMax(1920);
  spin.SetMin(80);
  int changes = 0;
  spin.OnChange = [&] { ++changes; };
  spin.setText(QString());
  changes = 0;
  EXPECT_EQ(spin.Value(), 80);
  EXPECT_EQ(spin.IntValue(), 80);
  EXPECT_TRUE(spin.text().isEmpty());
  EXPECT_EQ(changes, 0);
}

TEST(SkSpinEdit, TextsThatAreNoNumberOrBeyondTheRangeReadSafely) {
  constexpr double Big = 99999999999.0;
  constexpr int IntMax = std::numeric_limits<int>::max(), IntMin = std::numeric_limits<int>::min();
  struct Case {
    const char* Text;
    double Min, Max;  // Min = Max: no range
    double Value;
    int IntValue;
  };
  // clang-format off
  const Case cases[] = {
      {"nan", 80, 1920, 80, 80}, {"inf", 80, 1920, 80, 80}, {"-inf", 0, 0, 0, 0},
      {"1e400", 80, 1920, 80, 80},
      {"99999999999", 80, 1920, 1920, 1920}, {"-99999999999", 80, 1920, 80, 80},
      {"99999999999", 0, 0, Big, IntMax}, {"-99999999999", 0, 0, -Big, IntMin},
  };
  // clang-format on
  for (const Case& c : cases) {
    TSkSpinEdit spin;
    spin.SetMax(c.Max);
    spin.SetMin(c.Min);
    spin.setText(QLatin1String(c.Text));
    EXPECT_EQ(spin.Value(), c.Value) << c.Text << " " << c.Max;
    EXPECT_EQ(spin.IntValue(), c.IntValue) << c.Text << " " << c.Max;
  }
}

TEST(SkSpinEdit, RangeSettersKeepMinAtMostMax) {
  TSkSpinEdit spin;
  struct Step {
    const char* Name;
    std::function<void()> Set;
    double Min, Max;
    QString Shown;
  };
  const Step steps[] = {
      {"Max", [&] { spin.SetMax(200); }, 0, 200, "0"},
      {"Min clamps the value", [&] { spin.SetMin(80); }, 80, 200, "80"},
      {"Min above Max raises Max: no range left", [&] { spin.SetMin(300); }, 300, 300, "80"},
      {"Max below Min lowers Min", [&] { spin.SetMax(100); }, 100, 100, "80"},
      {"equal limits checked", [&] { spin.SetCheckRange(true); }, 100, 100, "100"},
  };
  for (const Step& s : steps) {
    s.Set();
    EXPECT_EQ(spin.Min(), s.Min) << s.Name;
    EXPECT_EQ(spin.Max(), s.Max) << s.Name;
    EXPECT_EQ(spin.text(), s.Shown) << s.Name;
  }
  spin.SetCheckRange(false);
  spin.SetMin(0);
  spin.SetIntegersOnly(false);
  spin.SetDecimals(1);
  spin.SetValue(2.5);
  EXPECT_EQ(spin.text(), QStringLiteral("2.5"));
  EXPECT_EQ(spin.IntValue(), 2);  // halves go to the even neighbour
}

TEST(SkSpinEdit, TypedCharactersFollowTheTextRules) {
  struct Case {
    const char* Name;
    bool AllowKeyEdit, IntegersOnly;
    QString Text;
    int SelStart, SelLength;  // caret at SelStart when SelLength is 0
    Qt::Key Key;
    QString Result;
    int Beeps;
  };
  // clang-format off
  const Case cases[] = {
      {"sign in the middle", true, true, "12", 1, 0, Qt::Key_Minus, "12", 1},
      {"sign over all", true, true, "12", 0, 2, Qt::Key_Minus, "-", 0},
      {"sign at the start", true, true, "12", 0, 0, Qt::Key_Minus, "-12", 0},
      {"second sign", true, true, "-12", 0, 0, Qt::Key_Plus, "-12", 1},
      {"point when integers only", true, true, "12", 2, 0, Qt::Key_Period, "12", 1},
      {"point", true, false, "12", 2, 0, Qt::Key_Period, "12.", 0},
      {"second point", true, false, "1.5", 3, 0, Qt::Key_Period, "1.5", 1},
      {"point over the point", true, false, "1.5", 1, 1, Qt::Key_Period, "1.5", 0},
      {"letter", true, true, "12", 2, 0, Qt::Key_A, "12", 1},
      {"digit without key editing", false, true, "12", 2, 0, Qt::Key_5, "12", 1},
      {"backspace without key editing", false, true, "12", 2, 0, Qt::Key_Backspace, "12", 1},
      {"delete without key editing", false, true, "12", 0, 0, Qt::Key_Delete, "12", 1},
      {"delete with key editing", true, true, "12", 0, 0, Qt::Key_Delete, "2", 0},
      {"enter", true, true, "12", 2, 0, Qt::Key_Return, "12", 1},
  };
  // clang-format on
  for (const Case& c : cases) {
    TFocusHost<TSpin> host;
    TSpin& spin = *host.Control;
    spin.SetIntegersOnly(c.IntegersOnly);
    spin.SetMin(-1000);
    spin.SetMax(1000);
    spin.AllowKeyEdit = c.AllowKeyEdit;
    host.Enter();
    spin.setText(c.Text);
    spin.setSelection(c.SelStart, c.SelLength);
    if (c.SelLength == 0) spin.setCursorPosition(c.SelStart);
    QTest::keyClick(&spin, c.Key);
    EXPECT_EQ(spin.text(), c.Result) << c.Name;
    EXPECT_EQ(spin.Beeps, c.Beeps) << c.Name;
  }
}

TEST(SkSpinEdit, StepsByKeysWheelAndButtonsWithAVeto) {
  struct Case {
    const char* Name;
    bool ReadOnly, Veto;
    std::function<void(TSpin&)> Act;
    QString Result;
    int Beeps;
    std::vector<TSpinButtonType> Clicks;
  };
  const auto wheel = [](TSpin& s, int Delta, Qt::KeyboardModifiers Mods) {
    QWheelEvent e({5, 5}, s.mapToGlobal(QPoint(5, 5)), {}, {0, Delta}, Qt::NoButton, Mods,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(&s, &e);
    EXPECT_TRUE(e.isAccepted());
  };
  const Case cases[] = {
      {"Up", false, false, [](TSpin& s) { QTest::keyClick(&s, Qt::Key_Up); }, "51", 0, {sbUp}},
      {"PgDn",
       false,
       false,
       [](TSpin& s) { QTest::keyClick(&s, Qt::Key_PageDown); },
       "40",
       0,
       {sbDown}},
      {"vetoed", false, true, [](TSpin& s) { QTest::keyClick(&s, Qt::Key_Up); }, "50", 0, {}},
      {"read-only arrows beep",
       true,
       false,
       [](TSpin& s) { QTest::keyClick(&s, Qt::Key_Up); },
       "50",
       1,
       {}},
      {"wheel", false, false, [&](TSpin& s) { wheel(s, 120, Qt::NoModifier); }, "51", 0, {sbUp}},
      {"wheel with Ctrl",
       false,
       false,
       [&](TSpin& s) { wheel(s, -120, Qt::ControlModifier); },
       "40",
       0,
       {sbDown}},
      {"down button",
       false,
       false,
       [](TSpin& s) { QTest::mouseClick(&s.Buttons().DownLeft(), Qt::LeftButton); },
       "49",
       0,
       {sbDown}},
  };
  for (const Case& c : cases) {
    TFocusHost<TSpin> host;
    TSpin& spin = *host.Control;
    spin.SetValue(50);
    spin.SetReadOnly(c.ReadOnly);
    EXPECT_EQ(spin.Buttons().isVisible(), !c.ReadOnly) << c.Name;
    std::vector<TSpinButtonType> clicks;
    spin.OnChanging = [&](double, bool& Allow) { Allow = !c.Veto; };
    spin.OnButtonClick = [&](TSpinButtonType B) { clicks.push_back(B); };
    host.Enter();
    c.Act(spin);
    EXPECT_EQ(spin.text(), c.Result) << c.Name;
    EXPECT_EQ(spin.Beeps, c.Beeps) << c.Name;
    EXPECT_EQ(clicks, c.Clicks) << c.Name;
    EXPECT_TRUE(spin.hasFocus()) << c.Name;
  }
}

}  // namespace
