#include "ControlsTestSupport.h"
#include "InputTestSupport.h"
#include "SkListVw.h"

#include <gtest/gtest.h>

namespace {

TEST(SkListView, LastColumnFillsTheClientWidth) {
  struct Case {
    const char* Name;
    std::vector<int> Widths;
    bool Items;
    int Expected;
  };
  // Width 300: the client is 296 inside the ring, 279 beside a scroll bar's room.
  // clang-format off
  const Case cases[] = {
      {"one column, no items: room for a scroll bar", {269}, false, 279},
      {"one column with items", {100}, true, 296},
      {"the others take all but 3: at least 5", {150, 143, 20}, true, 5},
      {"the others already take it all", {150, 200, 60}, true, 60},
  };
  // clang-format on
  for (const Case& c : cases) {
    TFocusHost<TSkListView> host;
    TSkListView& list = *host.Control;
    list.resize(300, 150);
    list.setColumnCount(int(c.Widths.size()));
    for (size_t i = 0; i < c.Widths.size(); ++i) list.setColumnWidth(int(i), c.Widths[i]);
    if (c.Items) list.addTopLevelItem(new QTreeWidgetItem({QStringLiteral("x")}));
    list.FillLastColumnWidth();
    EXPECT_EQ(list.columnWidth(int(c.Widths.size()) - 1), c.Expected) << c.Name;
  }
}

TEST(SkListView, ThreeClicksSortAscendingDescendingAscendingWithEmptyTextsLast) {
  TFocusHost<TSkListView> host;
  TSkListView& list = *host.Control;
  list.resize(280, 150);
  list.AlphaSortAll = true;
  list.setHeaderLabels({QStringLiteral("Title"), QStringLiteral("Time")});
  list.setColumnWidth(0, 100);
  for (const char* t : {"b", "", "A", "c", "", "B"})
    list.addTopLevelItem(new QTreeWidgetItem({QStringLiteral("x"), QString::fromLatin1(t)}));
  const auto order = [&] {
    QString all;
    for (int i = 0; i < list.topLevelItemCount(); ++i)
      all += list.topLevelItem(i)->text(1).isEmpty() ? QStringLiteral("_")
                                                     : list.topLevelItem(i)->text(1);
    return all;
  };
  struct Step {
    QString Order;
    bool Descending;
  };
  const Step steps[] = {{"AbBc__", false}, {"__cbBA", true}, {"AbBc__", false}};
  int clicks = 0;
  list.OnColumnClick = [&](int Column) { clicks += Column; };
  for (const Step& s : steps) {
    const int x = list.header()->sectionViewportPosition(1) + 10;
    QTest::mouseClick(list.header()->viewport(), Qt::LeftButton, {}, {x, 5});
    EXPECT_EQ(order(), s.Order);
    EXPECT_EQ(list.SortColumn(), 1);
    EXPECT_EQ(list.SortDescending(), s.Descending);
  }
  EXPECT_EQ(clicks, 3);
}

TEST(SkListView, SortTextsCompareWithoutAsciiCase) {
  struct Case {
    const char *A, *B;
    int Sign;
  };
  const Case cases[] = {{"abc", "ABD", -1}, {"ABC", "abc", 0}, {"ab", "abc", -1}, {"", "a", 1},
                        {"a", "", -1},      {"", "", 0},       {"Z", "a", 1}};
  for (const Case& c : cases) {
    const int r = CompareSortTexts(QString::fromLatin1(c.A), QString::fromLatin1(c.B));
    EXPECT_EQ((r > 0) - (r < 0), c.Sign) << c.A << " / " << c.B;
  }
}

TEST(SkListView, SortArrowPointsTheSortWay) {
  // A box 8 high: 6 rows, 11 wide, at the left and bottom of the box.
  struct Case {
    bool Ascending;
    std::vector<TPixel> Pixels;
  };
  const Case cases[] = {
      {true,
       {{5, 2, clBtnShadow},
        {4, 2, Sentinel},
        {0, 7, clBtnShadow},
        {10, 7, clBtnShadow},
        {11, 7, Sentinel},
        {5, 1, Sentinel}}},
      {false,
       {{5, 7, clBtnShadow},
        {4, 7, Sentinel},
        {0, 2, clBtnShadow},
        {10, 2, clBtnShadow},
        {0, 1, Sentinel},
        {5, 1, Sentinel}}},
  };
  for (const Case& c : cases) {
    const QImage image = Painted(16, 8, [&](QPainter& p) {
      DrawSortArrow(p, {0, 0, 16, 8}, c.Ascending);
    });
    ExpectPixels(image, c.Pixels, c.Ascending ? "ascending" : "descending");
  }
}

}  // namespace
