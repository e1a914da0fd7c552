#include "ControlsTestSupport.h"
#include "SkBmpBtn.h"
#include "SkRadChk.h"
#include "SkTabs.h"
#include <QApplication>

#include <QKeyEvent>
#include <QTest>
#include <gtest/gtest.h>

// Rectangles print as their four edges.
std::ostream& operator<<(std::ostream& Out, const TRect& R) {
  return Out << "(" << R.Left << ", " << R.Top << ", " << R.Right << ", " << R.Bottom << ")";
}

namespace {

void AddTabs(TSkCustomTabControl& Control, int Count) {
  for (int i = 0; i < Count; ++i) Control.Tabs().Add().Caption = QStringLiteral("Tab %1").arg(i);
  Control.TabsChanged();
}

// Three round-corner tabs 60 long and 19 deep on a 300 by 300 control, the first selected.
void RoundCornerTabs(TSkCustomTabControl& Control, TSkTabOrientation Orientation) {
  Control.resize(300, 300);
  Control.SetTabStyle(tsRoundCorners);
  // Width and height are the screen's: on the sides the tabs' length is their height.
  const bool side = Orientation == toLeft || Orientation == toRight;
  Control.SetTabWidth(side ? 19 : 60);
  Control.SetTabHeight(side ? 60 : 19);
  Control.SetTabOrientation(Orientation);
  AddTabs(Control, 3);
  Control.SetTabIndex(0);
  Control.Relayout();
}

TEST(SkTabControl, RoundCornerGeometryTurnsWithTheOrientation) {
  struct Case {
    TSkTabOrientation Orientation;
    TRect Selected, Second, Third, Card, Display;
  };
  // Worked out by hand: band 19 + 3 deep, tabs 2 apart, the selected one 2 larger on three
  // sides, the first tab 2 in from the start; on top the shadow takes 2 at the far edges.
  // clang-format off
  const Case cases[] = {
      {toTop,    {0, 1, 64, 22},    {64, 3, 124, 22},   {126, 3, 186, 22},  {0, 22, 300, 300}, {1, 23, 297, 297}},
      {toBottom, {0, 278, 64, 299}, {64, 278, 124, 297}, {126, 278, 186, 297}, {0, 0, 300, 278}, {1, 1, 299, 277}},
      {toLeft,   {1, 236, 22, 300}, {3, 176, 22, 236},  {3, 114, 22, 174},  {22, 0, 300, 300}, {23, 1, 299, 299}},
      {toRight,  {278, 0, 299, 64}, {278, 64, 297, 124}, {278, 126, 297, 186}, {0, 0, 278, 300}, {1, 1, 277, 299}},
  };
  // clang-format on
  for (const Case& c : cases) {
    TSkCustomTabControl control;
    RoundCornerTabs(control, c.Orientation);
    SCOPED_TRACE(int(c.Orientation));
    EXPECT_EQ(control.RowHeight(), 19);
    EXPECT_EQ(control.BandDepth(), 22);
    EXPECT_EQ(control.TabClientRect(0), c.Selected);
    EXPECT_EQ(control.TabClientRect(1), c.Second);
    EXPECT_EQ(control.TabClientRect(2), c.Third);
    EXPECT_EQ(control.CardRect(0), c.Card);
    EXPECT_EQ(control.DisplayRect(), c.Display);
  }
}

TEST(SkTabControl, PlacingFollowsStyleSequenceAndRows) {
  struct Case {
    const char* Name;
    TSkTabStyle Style;
    TSkTabSequence Sequence;
    bool MultiLine;
    int Width, TabWidth;       // of the control and of each tab
    std::vector<TRect> Rects;  // client rectangles, tab 0 selected
    int Rows;
  };
  // clang-format off
  const Case cases[] = {
      // Square tabs stand one pixel apart; the first keeps 2 for the selected tab's growth.
      {"square", tsSquareCorners, tsStandard, false, 300, 50, {{0, 1, 54, 22}, {53, 3, 103, 22}}, 1},
      // Slanted tabs overlap by their overlap less one.
      {"single slant", tsSingleSlant, tsStandard, false, 300, 50, {{0, 0, 50, 19}, {42, 0, 92, 19}}, 1},
      {"double slant", tsDoubleSlant, tsStandard, false, 300, 50, {{0, 0, 50, 19}, {32, 0, 82, 19}}, 1},
      // The reverse sequence starts at the far end.
      {"reverse", tsRoundCorners, tsReverse, false, 300, 60, {{236, 1, 300, 22}, {176, 3, 236, 22}}, 1},
      // Tabs wider than the row keep a row each; the next row lies 14 further out and 5 along.
      {"wide tabs", tsSquareCorners, tsStandard, true, 200, 250, {{0, 15, 254, 36}, {7, 3, 257, 22}}, 2},
  };
  // clang-format on
  for (const Case& c : cases) {
    TSkCustomTabControl control;
    control.resize(c.Width, 200);
    control.SetTabStyle(c.Style);
    control.SetTabSequence(c.Sequence);
    control.SetMultiLine(c.MultiLine);
    control.SetTabHeight(19);
    control.SetTabWidth(c.TabWidth);
    AddTabs(control, int(c.Rects.size()));
    control.SetTabIndex(0);
    control.Relayout();
    EXPECT_EQ(control.RowCount(), c.Rows) << c.Name;
    for (size_t i = 0; i < c.Rects.size(); ++i)
      EXPECT_EQ(control.TabClientRect(int(i)), c.Rects[i]) << c.Name << " tab " << i;
  }
}

TEST(SkTabControl, HitTestingFollowsTheTabShapes) {
  struct Case {
    const char* Name;
    TSkTabStyle Style;
    QPoint Point;
    int Hit;
  };
  // clang-format off
  const Case cases[] = {
      {"inside the second tab", tsRoundCorners, {90, 10}, 1},
      {"cut corner of the second tab", tsRoundCorners, {64, 3}, -1},
      {"just inside the cut", tsRoundCorners, {66, 3}, 1},
      {"the gap between tabs", tsRoundCorners, {125, 10}, -1},
      {"the card", tsRoundCorners, {90, 40}, -1},
      // Where slanted tabs overlap, the selected tab lies on top.
      {"overlap of slanted tabs", tsSingleSlant, {45, 17}, 0},
      {"beyond the selected tab's slant", tsSingleSlant, {48, 2}, 1},
      {"before the first slant", tsSingleSlant, {0, 0}, -1},
  };
  // clang-format on
  for (const Case& c : cases) {
    TSkCustomTabControl control;
    control.SetTabStyle(c.Style);
    control.SetTabWidth(c.Style == tsRoundCorners ? 60 : 50);
    control.SetTabHeight(19);
    AddTabs(control, 3);
    control.SetTabIndex(0);
    EXPECT_EQ(control.TabAt(c.Point), c.Hit) << c.Name;
  }
  TSkCustomTabControl empty;
  EXPECT_EQ(empty.TabAt({10, 5}), -1);
}

TEST(SkTabControl, OverflowScrollsTheSelectedTabIntoView) {
  TSkCustomTabControl control;
  control.SetTabStyle(tsSquareCorners);
  control.SetTabWidth(80);
  control.SetTabHeight(19);
  AddTabs(control, 8);
  control.Relayout();
  ASSERT_TRUE(control.TabsOverflow());
  ASSERT_NE(control.Scroller(), nullptr);
  EXPECT_FALSE(control.CanScroll(false));
  control.SetTabIndex(6);  // beyond the window: scrolls until the whole tab shows
  EXPECT_TRUE(control.TabShown(6));
  EXPECT_FALSE(control.TabShown(7));
  EXPECT_GT(control.FirstVisibleTab(), 0);
  control.SetTabIndex(1);  // before the window: becomes the first shown
  EXPECT_EQ(control.FirstVisibleTab(), 1);
  int scrolled = 0;
  control.OnScrolledTabs = [&scrolled](TSkCustomTabControl*) { ++scrolled; };
  EXPECT_TRUE(control.ScrollTabs(false));
  EXPECT_FALSE(control.ScrollTabs(false));
  EXPECT_EQ(scrolled, 1);
}

// Counts the paint events a widget gets.
struct TPaintCounter : QObject {
  int Paints = 0;
  bool eventFilter(QObject*, QEvent* Event) override {
    Paints += Event->type() == QEvent::Paint;
    return false;
  }
};

TEST(SkTabControl, AnIdleOverflowingRowPaintsNoMore) {
  QWidget window;
  auto* control = new TSkCustomTabControl(&window);
  control->SetTabWidth(80);
  control->SetShowCloseButton(true);
  control->SetShowMenuButton(true);
  control->SetShowCloseButtonOnActiveTab(true);
  AddTabs(*control, 8);
  control->SetTabIndex(2);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  for (int round = 0; round < 10; ++round) QCoreApplication::processEvents();
  ASSERT_TRUE(control->TabsOverflow());
  TPaintCounter counter;
  control->installEventFilter(&counter);
  for (int round = 0; round < 50; ++round) QCoreApplication::processEvents();
  EXPECT_EQ(counter.Paints, 0);
}

TEST(SkTabControl, KeysSkipTabsThatCannotBeChosenAndWrap) {
  struct Case {
    const char* Name;
    TSkTabOrientation Orientation;
    TSkTabSequence Sequence;
    std::vector<Qt::Key> Keys;
    std::vector<int> Indexes;  // after each key
  };
  // Tab 2 is disabled and tab 4 hidden; tab 1 is selected first.
  // clang-format off
  const Case cases[] = {
      {"right skips and wraps", toTop, tsStandard, {Qt::Key_Right, Qt::Key_Right, Qt::Key_Right, Qt::Key_Left}, {3, 5, 0, 5}},
      {"down moves like right", toRight, tsStandard, {Qt::Key_Down, Qt::Key_Up}, {3, 1}},
      {"left side runs upwards", toLeft, tsStandard, {Qt::Key_Up, Qt::Key_Down}, {3, 1}},
      {"reverse turns the arrows", toTop, tsReverse, {Qt::Key_Left, Qt::Key_Right}, {3, 1}},
      {"home and end", toTop, tsStandard, {Qt::Key_End, Qt::Key_Home}, {5, 0}},
      {"left side swaps home and end", toLeft, tsStandard, {Qt::Key_End, Qt::Key_Home}, {0, 5}},
  };
  // clang-format on
  for (const Case& c : cases) {
    TSkCustomTabControl control;
    control.SetTabOrientation(c.Orientation);
    control.SetTabSequence(c.Sequence);
    AddTabs(control, 6);
    control.Tabs().Items(2).Enabled = false;
    control.Tabs().Items(4).Visible = false;
    control.TabsChanged();
    control.SetTabIndex(1);
    int clicks = 0;
    control.OnTabClick = [&clicks](TSkCustomTabControl*) { ++clicks; };
    for (size_t k = 0; k < c.Keys.size(); ++k) {
      QTest::keyClick(&control, c.Keys[k]);
      EXPECT_EQ(control.TabIndex(), c.Indexes[k]) << c.Name << " key " << k;
    }
    EXPECT_EQ(clicks, int(c.Keys.size())) << c.Name;
  }
}

TEST(SkTabControl, AcceleratorsSelectTheirTab) {
  struct Case {
    Qt::Key Key;
    int Index;
  };
  // clang-format off
  const Case cases[] = {
      {Qt::Key_B, 1},  // "&Beta"
      {Qt::Key_T, 2},  // the first single "&" marks the letter, not "&&"
      {Qt::Key_D, 0},  // "&&D" marks nothing
      {Qt::Key_G, 0},  // the disabled tab is passed over
  };
  // clang-format on
  for (const Case& c : cases) {
    TSkCustomTabControl control;
    for (const char* caption : {"&Alpha &&D", "&Beta", "Ga&&mma &ta", "&Gone"})
      control.Tabs().Add().Caption = QString::fromLatin1(caption);
    control.Tabs().Items(3).Enabled = false;
    control.TabsChanged();
    control.SetTabIndex(0);
    int clicks = 0;
    control.OnTabClick = [&clicks](TSkCustomTabControl*) { ++clicks; };
    QTest::keyClick(&control, c.Key);
    EXPECT_EQ(control.TabIndex(), c.Index) << char(c.Key);
    EXPECT_EQ(clicks, c.Index == 0 ? 0 : 1) << char(c.Key);
  }
}

TEST(SkTabControl, AVetoKeepsTheTabAndEndTriesTheNextInward) {
  TSkCustomTabControl control;
  AddTabs(control, 4);
  control.SetTabIndex(0);
  std::vector<int> asked;
  int changes = 0;
  control.OnChanging = [&asked](TSkCustomTabControl*, int NewIndex, bool& Allow) {
    asked.push_back(NewIndex);
    Allow = NewIndex != 3;
  };
  control.OnChange = [&changes](TSkCustomTabControl*) { ++changes; };
  control.SetTabIndex(3);
  EXPECT_EQ(control.TabIndex(), 0);
  EXPECT_EQ(changes, 0);
  QTest::keyClick(&control, Qt::Key_End);
  EXPECT_EQ(control.TabIndex(), 2);
  EXPECT_EQ(asked, (std::vector<int>{3, 3, 2}));
  EXPECT_EQ(changes, 1);
  control.SetTabIndex(9);  // out of range: nothing selected
  EXPECT_EQ(control.TabIndex(), -1);
}

TEST(SkTabControl, ChoosingABackRowBringsItToTheFront) {
  TSkCustomTabControl control;
  control.resize(200, 150);
  control.SetMultiLine(true);
  control.SetTabStyle(tsSquareCorners);
  control.SetTabWidth(60);
  control.SetTabHeight(19);
  AddTabs(control, 7);  // three a row: rows 0, 0, 0, 1, 1, 1, 2
  control.SetTabIndex(0);
  control.Relayout();
  ASSERT_EQ(control.RowCount(), 3);
  const TRect front = control.TabClientRect(1);
  control.SetTabIndex(4);
  EXPECT_EQ(control.Tabs().Items(4).Row, 0);
  EXPECT_EQ(control.Tabs().Items(6).Row, 1);
  EXPECT_EQ(control.Tabs().Items(1).Row, 2);
  EXPECT_EQ(control.TabClientRect(3).Top, front.Top);
  // A click on a back-row tab selects it like the keyboard does.
  const TRect back = control.TabClientRect(1);
  QTest::mouseClick(&control, Qt::LeftButton, {}, {back.Left + 20, back.Top + 8});
  EXPECT_EQ(control.TabIndex(), 1);
  EXPECT_EQ(control.Tabs().Items(1).Row, 0);
  control.SetTabIndex(6);
  control.resize(210, 150);  // a new layout keeps the selected row in front
  control.Relayout();
  EXPECT_EQ(control.Tabs().Items(6).Row, 0);
}

TEST(SkTabControl, EveryPlacedRowHasRoomInTheBand) {
  // Counting rows against a length that shrinks per row would find three rows here, while
  // placing against the length left beside every indent needs four.
  TSkCustomTabControl control;
  control.resize(200, 150);
  control.SetMultiLine(true);
  control.SetTabStyle(tsSquareCorners);
  control.SetTabWidth(63);
  control.SetTabHeight(19);
  AddTabs(control, 7);
  control.Relayout();
  EXPECT_EQ(control.RowCount(), 4);
  for (int i = 0; i < 7; ++i) EXPECT_GE(control.TabClientRect(i).Top, 0) << i;
}

TEST(SkTabControl, CloseButtonClosesOnlyWhenAllowedAndReleasedInside) {
  struct Case {
    const char* Name;
    bool Handler, Allow;
    QPoint Release;  // relative to the button
    int Closed;
  };
  // clang-format off
  const Case cases[] = {
      {"no handler", false, false, {5, 5}, 0},
      {"allowed", true, true, {5, 5}, 1},
      {"refused", true, false, {5, 5}, 0},
      {"released outside", true, true, {-20, 5}, 0},
  };
  // clang-format on
  struct Closing : TSkCustomTabControl {
    int Closed = 0;
    void CloseSelectedTab() override { ++Closed; }
  };
  for (const Case& c : cases) {
    Closing control;
    control.SetShowCloseButton(true);
    AddTabs(control, 2);
    control.SetTabIndex(0);
    control.show();
    if (c.Handler) control.OnClose = [&c](TSkCustomTabControl*, bool& Allow) { Allow = c.Allow; };
    TSkTabControlCloseButton* button = control.CloseButton();
    ASSERT_NE(button, nullptr);
    QTest::mousePress(button, Qt::LeftButton, {}, {5, 5});
    QMouseEvent move(QEvent::MouseMove, c.Release, button->mapToGlobal(c.Release), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(button, &move);
    QTest::mouseRelease(button, Qt::LeftButton, {}, c.Release);
    EXPECT_EQ(control.Closed, c.Closed) << c.Name;
  }
}

TEST(SkTabControl, HoldingAScrollArrowRepeatsOnTheClock) {
  TSkManualClock clock;
  TSkCustomTabControl control;
  control.SetTabStyle(tsSquareCorners);
  control.SetTabWidth(30);
  control.SetTabHeight(19);
  AddTabs(control, 20);
  control.show();
  control.Relayout();
  TSkTabScroller* scroller = control.Scroller();
  ASSERT_TRUE(control.TabsOverflow());
  const TRect right = scroller->HalfRect(1);
  const QPoint at{right.Left + 4, right.Top + 4};
  QTest::mousePress(scroller, Qt::LeftButton, {}, at);
  clock.Advance(399);
  EXPECT_EQ(control.FirstVisibleTab(), 0);
  clock.Advance(1);
  EXPECT_EQ(control.FirstVisibleTab(), 1);
  clock.Advance(200);
  EXPECT_EQ(control.FirstVisibleTab(), 3);
  QTest::mouseRelease(scroller, Qt::LeftButton, {}, at);
  EXPECT_EQ(control.FirstVisibleTab(), 4);
  clock.Advance(500);
  EXPECT_EQ(control.FirstVisibleTab(), 4);
}

TEST(SkTabControl, MenuListsVisibleTabsSortedWithTheSelectedOneChecked) {
  TSkCustomTabControl control;
  control.SetShowMenuButton(true);
  for (const char* caption : {"Pear", "apple", "Hidden", "Fig"})
    control.Tabs().Add().Caption = QString::fromLatin1(caption);
  control.Tabs().Items(2).Visible = false;
  control.TabsChanged();
  control.SetTabIndex(3);
  control.Relayout();
  ASSERT_NE(control.MenuButton(), nullptr);
  control.MenuButton()->BuildMenu();
  QStringList captions;
  QList<QAction*> items = control.MenuButton()->Menu().actions();
  for (QAction* item : items) captions << item->text();
  EXPECT_EQ(captions, (QStringList{"apple", "Fig", "Pear"}));
  EXPECT_TRUE(items[1]->isChecked());
  EXPECT_FALSE(items[0]->isChecked());
  items[2]->trigger();
  EXPECT_EQ(control.TabIndex(), 0);
}

TEST(SkTabRegionCache, KeepsTheMostRecentRegionsUpToItsCapacity) {
  TSkTabRegionCache cache;
  EXPECT_THROW(cache.SetCapacity(0), ESkTabControlError);
  EXPECT_THROW(cache.SetCapacity(-2), ESkTabControlError);
  cache.SetCapacity(2);
  cache.Add({0, 0, 1, 1}, QRegion(0, 0, 1, 1));
  cache.Add({0, 0, 2, 2}, QRegion(0, 0, 2, 2));
  ASSERT_NE(cache.Find({0, 0, 1, 1}), nullptr);  // now the most recent
  cache.Add({0, 0, 3, 3}, QRegion(0, 0, 3, 3));
  EXPECT_EQ(cache.Find({0, 0, 2, 2}), nullptr);
  EXPECT_NE(cache.Find({0, 0, 1, 1}), nullptr);
  cache.SetCapacity(1);
  EXPECT_EQ(cache.Count(), 1);
  EXPECT_EQ(cache.Find({0, 0, 3, 3}), nullptr);
}

// ---- Painting ---------------------------------------------------------------------------------

QImage PaintedControl(TSkCustomTabControl& Control) {
  return Painted(Control.width(), Control.height(),
                 [&Control](QPainter& P) { Control.PaintControl(P); });
}

TEST(SkTabControlPaint, SelectedTabJoinsTheCardOverItsNeighbours) {
  TSkCustomTabControl control;
  RoundCornerTabs(control, toTop);
  control.SetColor(RGB(250, 220, 160));
  TSkTabColors colors;
  colors.Shadow = RGB(200, 0, 0);
  colors.Unselected = RGB(0, 0, 200);
  control.SetTabColors(colors);
  const QImage image = PaintedControl(control);
  const TColor line = ColorToRGB(clBtnShadow), face = ColorToRGB(clBtnFace);
  ExpectPixels(image,
               {
                   {4, 19, RGB(250, 220, 160)},   // the selected tab in the control's colour
                   {30, 22, RGB(250, 220, 160)},  // the card's opening under it
                   {100, 22, line},               // the card's edge under a neighbour
                   {0, 22, line},                 // the opening starts one in
                   {64, 22, line},                // and ends at the tab's far base point
                   {0, 1, face},                  // cut corner of the selected tab
                   {2, 1, line},                  // its top edge, 2 above its neighbours
                   {64, 10, line},                // its right edge, over the neighbour's
                   {297, 100, line},              // the card's frame
                   {298, 100, BlendColors(clBlack, face, 30)},  // and its shadow
                   {299, 100, BlendColors(clBlack, face, 15)},
                   {150, 297, line},
                   {150, 298, BlendColors(clBlack, face, 30)},
                   {150, 299, BlendColors(clBlack, face, 15)},
               },
               "round corners on top");
  // Unselected tabs run from the shadow colour at the top to the face colour at the bottom.
  const TColor top = PixelAt(image, 90, 4), bottom = PixelAt(image, 90, 21);
  EXPECT_GT(GetRValue(top), 150);
  EXPECT_LT(GetBValue(top), 50);
  EXPECT_GT(GetBValue(bottom), 150);
  EXPECT_LT(GetRValue(bottom), 50);
}

TEST(SkTabControlPaint, HotTabsChangeTheirFillOrTheirTextByStyle) {
  struct Case {
    TSkTabHotTrackStyle Style;
    bool FillChanges;
  };
  for (const Case& c : {Case{htsTab, true}, Case{htsText, false}}) {
    TSkCustomTabControl control;
    RoundCornerTabs(control, toTop);
    control.SetHotTrackStyle(c.Style);
    const TColor cold = PixelAt(PaintedControl(control), 90, 5);
    QMouseEvent move(QEvent::MouseMove, QPointF(90, 10), QPointF(90, 10), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&control, &move);
    ASSERT_EQ(control.HotTab(), 1);
    const TColor hot = PixelAt(PaintedControl(control), 90, 5);
    EXPECT_EQ(hot != cold, c.FillChanges) << c.Style;
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&control, &leave);
    EXPECT_EQ(control.HotTab(), -1);
  }
}

TEST(SkTabControl, LinkedSettingsFollowAndNegativeSizesAreIgnored) {
  TSkCustomTabControl control;
  control.SetShowFullFrame(false);
  EXPECT_FALSE(control.ShowShadow());
  control.SetShowShadow(true);
  EXPECT_TRUE(control.ShowFullFrame());
  control.SetMargin(-3);
  control.SetTabHeight(-1);
  EXPECT_EQ(control.Margin(), 0);
  EXPECT_EQ(control.TabHeight(), 0);
  control.SetRegionCacheCapacity(0);
  EXPECT_EQ(control.RegionCacheCapacity(), 1);
  control.SetRegionCacheCapacity(-1);
  EXPECT_EQ(control.RegionCacheCapacity(), -1);
  control.SetBackgroundColor(clWhite);
  EXPECT_FALSE(control.ParentBackgroundColor());
}

TEST(SkTabControlPaint, SelectedSlantedTabLiesOverItsNeighbours) {
  TSkCustomTabControl control;
  control.SetTabWidth(50);
  control.SetTabHeight(19);
  control.SetColor(RGB(250, 220, 160));
  AddTabs(control, 3);
  control.SetTabIndex(1);  // tab 1 overlaps both neighbours by 8 pixels
  const QImage image = PaintedControl(control);
  ExpectPixels(image, {{45, 15, RGB(250, 220, 160)}, {86, 15, RGB(250, 220, 160)}}, "single slant");
}

TEST(SkTabControlPaint, TheShadowOnlyFallsOnTopWithTheStandardSequence) {
  struct Case {
    TSkTabOrientation Orientation;
    TSkTabSequence Sequence;
    bool Shadow;
  };
  const Case cases[] = {{toTop, tsStandard, true},
                        {toTop, tsReverse, false},
                        {toBottom, tsStandard, false},
                        {toLeft, tsStandard, false}};
  for (const Case& c : cases) {
    TSkCustomTabControl control;
    control.SetTabSequence(c.Sequence);
    RoundCornerTabs(control, c.Orientation);
    const QImage image = PaintedControl(control);
    // The far right column inside the card: shadow, or the frame itself.
    const TColor expected =
        c.Shadow ? BlendColors(clBlack, ColorToRGB(clBtnFace), 15) : ColorToRGB(clBtnShadow);
    EXPECT_EQ(PixelAt(image, 299, 150), expected) << c.Orientation << "/" << c.Sequence;
  }
}

// ---- Page control -----------------------------------------------------------------------------

struct Pages {
  TSkPageControl Control;
  std::vector<TSkTabSheet*> Sheets;
  int PageChanges = 0;
  explicit Pages(int Count) {
    for (int i = 0; i < Count; ++i) {
      auto* sheet = new TSkTabSheet(&Control);
      sheet->SetCaption(QStringLiteral("Page %1").arg(i));
      Sheets.push_back(sheet);
    }
    Control.OnPageChange = [this](TSkCustomTabControl*) { ++PageChanges; };
  }
};

TEST(SkPageControl, HiddenTabsStillSwitchPages) {
  Pages pages(3);
  pages.Control.HideAllTabs();
  pages.Control.show();
  pages.Control.SetActivePage(pages.Sheets[1]);
  EXPECT_EQ(pages.Control.ActivePage(), pages.Sheets[1]);
  EXPECT_EQ(pages.Control.TabIndex(), -1);
  EXPECT_EQ(pages.Control.Tabs().Count(), 0);
  EXPECT_TRUE(pages.Sheets[1]->isVisible());
  EXPECT_EQ(pages.PageChanges, 1);
  pages.Control.SetActivePage(pages.Sheets[2]);
  EXPECT_FALSE(pages.Sheets[1]->isVisible());
  EXPECT_TRUE(pages.Sheets[2]->isVisible());
  EXPECT_EQ(pages.PageChanges, 2);
  // The pages fill the card less its frame.
  EXPECT_EQ(TRect::FromQRect(pages.Sheets[2]->geometry()), pages.Control.DisplayRect());
}

TEST(SkPageControl, TabsFollowThePages) {
  Pages pages(3);
  pages.Control.SetActivePage(pages.Sheets[2]);
  EXPECT_EQ(pages.Control.TabIndex(), 2);
  pages.Sheets[0]->SetTabVisible(false);  // the active page's tab moves down one
  EXPECT_EQ(pages.Control.TabIndex(), 1);
  EXPECT_EQ(pages.Sheets[2]->TabIndex(), 1);
  EXPECT_EQ(pages.Sheets[0]->TabIndex(), -1);
  QTest::mouseClick(&pages.Control, Qt::LeftButton, {},
                    pages.Control.TabClientRect(0).ToQRect().center());
  EXPECT_EQ(pages.Control.ActivePage(), pages.Sheets[1]);
  // A rebuild keeps the tab in step with the active page even when changes are refused.
  pages.Control.OnChanging = [](TSkCustomTabControl*, int, bool& Allow) { Allow = false; };
  pages.Sheets[0]->SetTabVisible(true);
  EXPECT_EQ(pages.Control.TabIndex(), 1);
  EXPECT_EQ(pages.Control.ActivePage(), pages.Sheets[1]);
  // A page of another control is refused.
  Pages other(1);
  pages.Control.SetActivePage(other.Sheets[0]);
  EXPECT_EQ(pages.Control.ActivePage(), pages.Sheets[1]);
}

TEST(SkPageControl, ClosingTheActivePageSelectsThePreviousOne) {
  struct Case {
    int Active, NowActive;  // page indexes before the close and after
  };
  for (const Case& c : {Case{2, 1}, Case{0, 0}}) {
    Pages pages(3);
    pages.Control.OnClose = [](TSkCustomTabControl*, bool& Allow) { Allow = true; };
    pages.Control.SetActivePage(pages.Sheets[size_t(c.Active)]);
    pages.Control.CloseClicked();
    ASSERT_EQ(pages.Control.PageCount(), 2);
    ASSERT_NE(pages.Control.ActivePage(), nullptr);
    EXPECT_EQ(pages.Control.ActivePageIndex(), c.NowActive) << c.Active;
    EXPECT_EQ(pages.Control.TabIndex(), c.NowActive) << c.Active;
  }
  Pages pages(2);
  pages.Control.SetActivePage(pages.Sheets[1]);
  delete pages.Sheets[1];  // freed by code: nothing takes its place
  EXPECT_EQ(pages.Control.ActivePage(), nullptr);
  EXPECT_EQ(pages.Control.TabIndex(), -1);
}

TEST(SkPageControl, CtrlTabWrapsOverPagesWithVisibleTabs) {
  Pages pages(4);
  pages.Sheets[0]->SetTabVisible(false);
  pages.Control.SetActivePage(pages.Sheets[3]);
  QTest::keyClick(&pages.Control, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(pages.Control.ActivePage(), pages.Sheets[1]);
  QTest::keyClick(&pages.Control, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(pages.Control.ActivePage(), pages.Sheets[3]);
}

// The keys that walk the tabs do so only from the tab row: a control on a page that leaves an
// arrow key unused keeps its page.
TEST(SkPageControl, KeysLeftByAControlOnAPageKeepThePage) {
  Pages pages(3);
  auto* check = new TSkCheckBox(pages.Sheets[1]);
  auto* button = new TSkBmpButton(pages.Sheets[1]);
  pages.Control.resize(300, 150);
  pages.Control.show();
  QApplication::setActiveWindow(&pages.Control);
  pages.Control.SetActivePage(pages.Sheets[1]);
  for (QWidget* control : std::initializer_list<QWidget*>{check, button}) {
    control->setFocus();
    for (const Qt::Key key : {Qt::Key_Right, Qt::Key_Left, Qt::Key_Down, Qt::Key_Up, Qt::Key_End,
                              Qt::Key_Home}) {
      QTest::keyClick(control, key);
      EXPECT_EQ(pages.Control.ActivePage(), pages.Sheets[1])
          << control->metaObject()->className() << " key " << key;
    }
  }
  pages.Control.setFocus();
  QTest::keyClick(&pages.Control, Qt::Key_Right);
  EXPECT_EQ(pages.Control.ActivePage(), pages.Sheets[2]);
}

TEST(SkPageControl, DraggingATabMovesItsPageBesideTheTarget) {
  Pages pages(4);  // pages 0, 1 (tab hidden), 2, 3: tabs 0, 1, 2 show pages 0, 2, 3
  TSkPageControl& control = pages.Control;
  control.resize(300, 150);
  control.SetTabStyle(tsRoundCorners);
  control.SetTabWidth(60);
  control.SetTabHeight(19);
  control.SetAllowTabDragging(true);
  pages.Sheets[1]->SetTabVisible(false);
  control.SetActivePage(pages.Sheets[0]);
  control.show();
  std::vector<std::pair<int, int>> moves;
  control.OnTabOrderChange = [&moves](TSkCustomTabControl*, int Old, int New) {
    moves.emplace_back(Old, New);
  };
  const QPoint from = control.TabClientRect(0).ToQRect().center();
  const QPoint to = control.TabClientRect(2).ToQRect().center();
  QTest::mousePress(&control, Qt::LeftButton, {}, from);
  QMouseEvent move(QEvent::MouseMove, to, control.mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QApplication::sendEvent(&control, &move);
  EXPECT_EQ(control.DropTarget(), 2);
  // The arrow points at the far edge of the target (x 186), its corners cut away.
  const QImage image = PaintedControl(control);
  EXPECT_EQ(PixelAt(image, 187, 1), ColorToRGB(control.DragIndicatorColor()));
  EXPECT_NE(PixelAt(image, 180, 7), ColorToRGB(control.DragIndicatorColor()));
  QTest::mouseRelease(&control, Qt::LeftButton, {}, to);
  EXPECT_EQ(moves, (std::vector<std::pair<int, int>>{{0, 3}}));
  EXPECT_EQ(control.Pages(3), pages.Sheets[0]);
  EXPECT_EQ(control.ActivePage(), pages.Sheets[0]);
  EXPECT_EQ(control.TabIndex(), 2);
  EXPECT_EQ(control.DropTarget(), -1);
}

TEST(SkPageControl, PagePropertiesAreGuarded) {
  Pages pages(3);
  int moves = 0;
  pages.Control.OnTabOrderChange = [&moves](TSkCustomTabControl*, int Old, int New) {
    moves += Old == 0 && New == 2;
  };
  pages.Sheets[0]->SetPageIndex(2);
  EXPECT_EQ(pages.Control.Pages(2), pages.Sheets[0]);
  EXPECT_EQ(pages.Control.Tabs().Items(2).Caption, QStringLiteral("Page 0"));
  EXPECT_EQ(moves, 1);
  for (const int index : {3, -1}) {
    try {
      pages.Sheets[0]->SetPageIndex(index);
      ADD_FAILURE() << index;
    } catch (const ESkTabControlError& e) {
      EXPECT_EQ(std::string(e.what()),
                std::to_string(index) +
                    " is an invalid PageIndex value. PageIndex must be between 0 and 2");
    }
  }
  EXPECT_FALSE(pages.Control.UseColoredTabs());
  pages.Sheets[1]->SetColor(RGB(10, 200, 10));
  EXPECT_TRUE(pages.Control.UseColoredTabs());
  EXPECT_EQ(pages.Control.Tabs().Items(0).Color, RGB(10, 200, 10));
}

TEST(SkPageControl, OnlyTheActivePageShowsAndQtMayHideAPageItMoves) {
  Pages pages(3);
  pages.Control.show();
  pages.Control.SetActivePage(pages.Sheets[0]);
  pages.Sheets[1]->show();  // not the active page: stays hidden
  EXPECT_FALSE(pages.Sheets[1]->isVisible());
  pages.Sheets[0]->hide();
  pages.Sheets[0]->show();
  EXPECT_TRUE(pages.Sheets[0]->isVisible());
  QWidget elsewhere;
  pages.Sheets[0]->setParent(&elsewhere);  // Qt hides the shown page it moves
  EXPECT_FALSE(pages.Sheets[0]->isVisible());
  EXPECT_EQ(pages.Control.PageCount(), 2);  // and the page leaves its page control
  EXPECT_EQ(pages.Sheets[0]->PageControl(), nullptr);
  EXPECT_EQ(pages.Control.ActivePage(), nullptr);
}

}  // namespace
