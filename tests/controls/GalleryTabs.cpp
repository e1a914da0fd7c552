// Gallery sections of the tab and page controls: the six styles, the four orientations, several
// rows, and a scrolling row with its buttons.
#include "Gallery.h"
#include "SkTabs.h"

#include <QLabel>

namespace {

struct TSample {
  TSkTabStyle Style;
  TSkTabOrientation Orientation;
  TOrientation Text;
  QRect Place;
};

TSkCustomTabControl* TabSample(QWidget* Parent, const TSample& S, int Tabs, int Selected) {
  auto* tabs = new TSkCustomTabControl(Parent);
  tabs->setGeometry(S.Place);
  tabs->SetTabStyle(S.Style);
  tabs->SetTabOrientation(S.Orientation);
  tabs->SetTextOrientation(S.Text);
  tabs->SetColor(RGB(240, 240, 240));
  for (int i = 0; i < Tabs; ++i) tabs->Tabs().Add().Caption = QStringLiteral("Tab &%1").arg(i + 1);
  tabs->TabsChanged();
  tabs->SetTabIndex(Selected);
  return tabs;
}

QWidget* Container(QWidget* Parent, QSize Size) {
  auto* box = new QWidget(Parent);
  box->setFixedSize(Size);
  return box;
}

GALLERY_SECTION(300, QStringLiteral("Tab styles and orientations"), [](QWidget* Parent) {
  QWidget* box = Container(Parent, {520, 380});
  const TSkTabStyle styles[] = {tsSingleSlant,  tsDoubleSlant, tsCutCorner,
                                tsRoundCorners, tsBackSlant,   tsSquareCorners};
  for (int i = 0; i < 6; ++i)
    TabSample(box,
              {styles[i], i % 2 ? toBottom : toTop, orHorizontal,
               QRect(10 + (i % 2) * 255, 5 + (i / 2) * 75, 245, 68)},
              3, 1);
  TabSample(box, {tsRoundCorners, toLeft, orVertical, QRect(10, 235, 245, 140)}, 2, 0);
  TSkCustomTabControl* right =
      TabSample(box, {tsCutCorner, toRight, orHorizontal, QRect(265, 235, 245, 140)}, 3, 2);
  right->Tabs().Items(1).Enabled = false;
  right->TabsChanged();
  return box;
});

GALLERY_SECTION(310, QStringLiteral("Several rows; a scrolling row with close and menu buttons"),
                [](QWidget* Parent) {
                  QWidget* box = Container(Parent, {520, 200});
                  TSkCustomTabControl* rows = TabSample(
                      box, {tsRoundCorners, toTop, orHorizontal, QRect(10, 5, 245, 190)}, 7, 4);
                  rows->SetMultiLine(true);
                  TSkCustomTabControl* scrolling = TabSample(
                      box, {tsSingleSlant, toTop, orHorizontal, QRect(265, 5, 245, 90)}, 8, 2);
                  scrolling->SetShowCloseButton(true);
                  scrolling->SetShowMenuButton(true);
                  scrolling->SetShowCloseButtonOnActiveTab(true);
                  return box;
                });

GALLERY_SECTION(320, QStringLiteral("Page control"), [](QWidget* Parent) {
  QWidget* box = Container(Parent, {520, 130});
  auto* pages = new TSkPageControl(box);
  pages->setGeometry(10, 5, 500, 120);
  pages->SetTabStyle(tsRoundCorners);
  pages->SetColor(RGB(240, 240, 240));
  for (const char* caption : {"Crop   ", "Watermark", "Effect"}) {
    auto* sheet = new TSkTabSheet(pages);
    sheet->SetCaption(QString::fromLatin1(caption));
    sheet->SetColor(RGB(240, 240, 240));
    auto* label = new QLabel(QStringLiteral("Page \"%1\"").arg(caption).trimmed(), sheet);
    label->move(12, 12);
  }
  pages->SetActivePageIndex(1);
  return box;
});

}  // namespace
