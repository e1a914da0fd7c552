#include "ControlsTestSupport.h"
#include "SkPanel.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

constexpr TColor Parent = RGB(255, 0, 0), Face = RGB(200, 220, 240);

QImage PaintedPanel(const TSkPanelPaint& Panel, int W = 20, int H = 10) {
  return Painted(W, H, [&](QPainter& p) { PaintPanel(p, {0, 0, W, H}, Panel); });
}

TSkPanelPaint FlatPanel() {
  TSkPanelPaint p;
  p.Borders.Color = Face;
  p.Borders.ParentColor = Parent;
  return p;
}

TEST(SkPanel, BordersFillAndCorners) {
  struct Case {
    const char* Name;
    TFrameStyleEx Outer, Inner;
    TSides Sides;
    std::vector<TPixel> Pixels;
  };
  // clang-format off
  const Case cases[] = {
      {"no border fills everything", fsNone, fsNone, AllSides,
       {{0, 0, Face}, {19, 9, Face}}},
      {"rounded: parent in the corners, frame on the diagonal", fsFlatRounded, fsNone, AllSides,
       {{0, 0, Parent}, {1, 0, Parent}, {0, 1, Parent}, {1, 1, clBlack}, {2, 0, clBlack},
        {0, 2, clBlack}, {2, 1, Face}, {1, 2, Face}, {19, 0, Parent}, {18, 1, clBlack},
        {19, 9, Parent}, {18, 8, clBlack}, {0, 9, Parent}, {1, 8, clBlack}}},
      {"rounded on the top only", fsFlatRounded, fsNone, sdTop,
       {{0, 0, clBlack}, {0, 1, Face}, {0, 9, Face}, {19, 0, clBlack}}},
      {"raised", fsRaised, fsNone, AllSides,
       {{0, 0, cl3DLight}, {1, 1, clBtnHighlight}, {2, 2, Face}, {19, 9, cl3DDkShadow}}},
  };
  // clang-format on
  for (const Case& c : cases) {
    TSkPanelPaint p = FlatPanel();
    p.Borders.BorderOuter = c.Outer;
    p.Borders.BorderInner = c.Inner;
    p.Borders.BorderSides = c.Sides;
    p.Borders.FlatColor = clBlack;
    p.Borders.FlatColorAdjustment = 0;
    ExpectPixels(PaintedPanel(p), c.Pixels, c.Name);
  }
}

TEST(SkPanel, GridDotsAndLines) {
  struct Case {
    const char* Name;
    TSkGridStyle Style;
    int X, Y;
    std::vector<TPixel> Pixels;
  };
  constexpr TColor G = RGB(0, 128, 0);
  // clang-format off
  const Case cases[] = {
      {"dots", gsDots, 4, 3, {{3, 2, G}, {7, 5, G}, {3, 3, Face}, {4, 2, Face}}},
      {"solid lines", gsSolidLines, 4, 3, {{3, 0, G}, {3, 9, G}, {0, 2, G}, {19, 5, G}}},
      {"dotted lines start one pixel in", gsDottedLines, 4, 3,
       {{3, 0, Face}, {3, 1, G}, {3, 3, G}, {3, 4, Face}, {1, 2, G}, {2, 2, Face}}},
      {"no columns without a width", gsSolidLines, 0, 3, {{3, 0, Face}, {0, 2, G}}},
  };
  // clang-format on
  for (const Case& c : cases) {
    TSkPanelPaint p = FlatPanel();
    p.Borders.BorderOuter = fsNone;
    p.ShowGrid = true;
    p.GridColor = G;
    p.GridStyle = c.Style;
    p.GridXSize = c.X;
    p.GridYSize = c.Y;
    ExpectPixels(PaintedPanel(p), c.Pixels, c.Name);
  }
}

TEST(SkPanel, ChildrenSitInsideTheFrameAndKeepTheirOwnDisabling) {
  QWidget window;
  auto* panel = new TSkPanel(&window);
  panel->SetBorderOuter(fsRaised);
  panel->SetBorderInner(fsFlat);
  panel->SetBorderWidth(3);
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto* first = new QLineEdit(panel);
  auto* second = new QLineEdit(panel);
  layout->addWidget(first);
  layout->addWidget(second);
  window.show();
  QApplication::processEvents();
  EXPECT_EQ(first->geometry().topLeft(), QPoint(6, 6));  // 2 raised + 3 width + 1 flat
  EXPECT_EQ(panel->ClientRect(), TRect::FromQRect(panel->rect()).Inflated(-6, -6));

  second->setEnabled(false);
  panel->setEnabled(false);
  EXPECT_FALSE(first->isEnabled());
  panel->setEnabled(true);
  EXPECT_TRUE(first->isEnabled());
  EXPECT_FALSE(second->isEnabled());
}

TEST(SkPanel, FrameControllerSettings) {
  TSkFrameController controller;
  controller.SetFrameStyle(fsFlatBold);
  controller.SetFrameColor(RGB(10, 20, 30));
  controller.SetColor(RGB(0, 0, 200));
  TSkPanel panel;
  panel.SetFrameController(&controller);
  EXPECT_EQ(panel.BorderOuter(), fsFlatBold);
  EXPECT_EQ(panel.FlatColor(), RGB(10, 20, 30));
  EXPECT_EQ(panel.FlatColorAdjustment(), 0);
  EXPECT_EQ(panel.Color(), RGB(0, 0, 200));
  EXPECT_EQ(panel.BorderHighlight(), LighterColor(RGB(0, 0, 200), 100));
  EXPECT_EQ(panel.BorderShadow(), DarkerColor(RGB(0, 0, 200), 50));
  EXPECT_EQ(panel.ClientRect(), TRect::FromQRect(panel.rect()).Inflated(-2, -2));
}

TEST(SkGroupBox, ClientAreaAndCaptionByStyle) {
  TSkGroupBox box;
  box.resize(200, 100);
  box.SetCaption(QStringLiteral("A&&B"));
  const QFontMetrics metrics(box.font());
  const int h = metrics.height();
  struct Case {
    TSkGroupBoxStyle Style;
    int BannerHeight;
    TRect Client;
  };
  const Case cases[] = {
      {gsStandard, 0, {2, h + 2, 198, 98}},   {gsFlat, 0, {1, h + 1, 199, 99}},
      {gsCustom, 0, {2, h + 2, 198, 98}},     {gsTopLine, 0, {0, h, 200, 100}},
      {gsBanner, 0, {0, h + 8, 200, 100}},    {gsBanner, 30, {0, 30, 200, 100}},
      {gsUnderline, 0, {0, h + 4, 200, 100}},
  };
  for (const Case& c : cases) {
    box.SetGroupStyle(c.Style);
    box.SetBannerHeight(c.BannerHeight);
    EXPECT_EQ(box.ClientRect(), c.Client) << c.Style;
    EXPECT_EQ(box.contentsRect(), c.Client.ToQRect()) << c.Style;
  }
  box.SetGroupStyle(gsFlat);
  const TRect caption = GroupBoxCaptionRect(box.GroupBoxSettings(), box.width());
  EXPECT_EQ(caption, (TRect{8, 0, 8 + metrics.horizontalAdvance(QStringLiteral("A&B")), h}));
}

TEST(SkGroupBox, FramesByStyle) {
  constexpr TColor Frame = RGB(0, 0, 0);
  TSkGroupBoxPaint box;
  box.Panel.Borders.Color = Face;
  box.Panel.Borders.FlatColor = Frame;
  box.Panel.Borders.FlatColorAdjustment = 0;
  const int top = QFontMetrics(box.Panel.Font).height() / 2 - 1;
  struct Case {
    TSkGroupBoxStyle Style;
    std::vector<TPixel> Pixels;
  };
  // clang-format off
  const Case cases[] = {
      {gsFlat, {{0, top, Face}, {1, top + 1, Frame}, {2, top, Frame}, {0, top + 2, Frame},
                {39, 39, Face}, {38, 38, Frame}}},
      {gsStandard, {{0, top, clBtnShadow}, {1, top + 1, clBtnHighlight}, {39, 39, clBtnHighlight}}},
      {gsCustom, {{0, top, Face}, {39, 39, Face}}},
  };
  // clang-format on
  for (const Case& c : cases) {
    box.GroupStyle = c.Style;
    const QImage image = Painted(40, 40, [&](QPainter& p) {
      PaintGroupBox(p, {0, 0, 40, 40}, box);
    });
    ExpectPixels(image, c.Pixels, std::to_string(c.Style).c_str());
  }
}

TEST(SkGroupBox, CaptionKeyFocusesTheFirstChild) {
  TSkGroupBox box;
  box.SetCaption(QStringLiteral("&Output"));
  auto* label = new QWidget(&box);
  auto* edit = new QLineEdit(&box);
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
  QTest::keyClick(&box, Qt::Key_O, Qt::AltModifier);
  EXPECT_TRUE(edit->hasFocus());
  EXPECT_FALSE(label->hasFocus());
}

}  // namespace
