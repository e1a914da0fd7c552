#include "ControlsTestSupport.h"
#include "SkRadChk.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

namespace {

void ClickOn(QWidget* Button) { QTest::mouseClick(Button, Qt::LeftButton, {}, {5, 5}); }

TEST(SkRadioButton, CheckingUnchecksSiblingsAndFiresOnce) {
  QWidget window, other;
  TSkRadioButton* radios[3];
  int clicks[3] = {};
  for (int i = 0; i < 3; ++i) {
    radios[i] = new TSkRadioButton(&window);
    radios[i]->SetCaption(QStringLiteral("Choice %1").arg(i));
    radios[i]->move(0, 20 * i);
    radios[i]->OnClick = [&clicks, i] { ++clicks[i]; };
  }
  auto* elsewhere = new TSkRadioButton(&other);
  elsewhere->SetChecked(true);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  ClickOn(radios[0]);
  ClickOn(radios[1]);
  ClickOn(radios[1]);  // already checked: nothing happens
  EXPECT_FALSE(radios[0]->Checked());
  EXPECT_TRUE(radios[1]->Checked());
  EXPECT_FALSE(radios[2]->Checked());
  EXPECT_EQ(std::vector<int>(clicks, clicks + 3), (std::vector<int>{1, 1, 0}));
  EXPECT_TRUE(elsewhere->Checked());
  EXPECT_EQ(radios[1]->focusPolicy(), Qt::StrongFocus);  // only the checked one takes Tab
  EXPECT_EQ(radios[0]->focusPolicy(), Qt::ClickFocus);

  radios[2]->SetReadOnly(true);  // shared by the whole parent
  EXPECT_TRUE(radios[0]->ReadOnly());
  ClickOn(radios[0]);
  radios[0]->setFocus(Qt::TabFocusReason);
  EXPECT_TRUE(radios[0]->hasFocus());
  EXPECT_TRUE(radios[1]->Checked());
  radios[0]->SetReadOnly(false);
  radios[2]->setFocus(Qt::TabFocusReason);  // focus from the keyboard checks
  EXPECT_TRUE(radios[2]->Checked());
  EXPECT_EQ(clicks[2], 1);
}

TEST(SkRadioButton, ArrowKeysWalkTheGroupCheckingTheFocusedOne) {
  struct Case {
    Qt::Key Key;
    int Checked;  // the focused and only checked button after the key
  };
  // From the first: Down and Right forward, Up and Left back, wrapping; the disabled one skipped.
  const Case cases[] = {{Qt::Key_Down, 1}, {Qt::Key_Right, 3}, {Qt::Key_Down, 0},
                        {Qt::Key_Up, 3},   {Qt::Key_Left, 1},  {Qt::Key_Up, 0}};
  QWidget window;
  auto* before = new QLineEdit(&window);
  TSkRadioButton* radios[4];
  for (int i = 0; i < 4; ++i) {
    radios[i] = new TSkRadioButton(&window);
    radios[i]->move(0, 30 + 20 * i);
  }
  radios[2]->setEnabled(false);
  radios[0]->SetChecked(true);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  before->setFocus();
  QTest::keyClick(before, Qt::Key_Tab);  // Tab enters the group at its checked button
  ASSERT_TRUE(radios[0]->hasFocus());
  for (const Case& c : cases) {
    QTest::keyClick(QApplication::focusWidget(), c.Key);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(radios[i]->Checked(), i == c.Checked) << c.Key << " " << i;
      EXPECT_EQ(radios[i]->hasFocus(), i == c.Checked) << c.Key << " " << i;
    }
  }
}

TEST(SkCheckBox, ClicksCycleThroughTheStates) {
  struct Case {
    bool AllowGrayed;
    std::vector<TSkCheckState> States;
  };
  const Case cases[] = {
      {true, {cbGrayed, cbChecked, cbUnchecked, cbGrayed}},
      {false, {cbChecked, cbUnchecked, cbChecked, cbUnchecked}},
  };
  for (const Case& c : cases) {
    TSkCheckBox box;
    box.AllowGrayed = c.AllowGrayed;
    int clicks = 0;
    box.OnClick = [&clicks] { ++clicks; };
    box.show();
    std::vector<TSkCheckState> seen;
    for (size_t i = 0; i < c.States.size(); ++i) {
      ClickOn(&box);
      seen.push_back(box.State());
    }
    EXPECT_EQ(seen, c.States) << c.AllowGrayed;
    EXPECT_EQ(clicks, 4) << c.AllowGrayed;
  }
}

TEST(SkCheckBox, KeysToggleUnlessCancelledOrReadOnly) {
  struct Case {
    const char* Name;
    bool ReadOnly, Escape;
    TSkCheckState After;
  };
  const Case cases[] = {
      {"space", false, false, cbChecked},
      {"escape cancels", false, true, cbUnchecked},
      {"read-only", true, false, cbUnchecked},
  };
  for (const Case& c : cases) {
    TSkCheckBox box;
    box.SetReadOnly(c.ReadOnly);
    box.show();
    box.setFocus();
    QTest::keyPress(&box, Qt::Key_Space);
    if (c.Escape) QTest::keyClick(&box, Qt::Key_Escape);
    QTest::keyRelease(&box, Qt::Key_Space);
    if (c.ReadOnly) ClickOn(&box);
    EXPECT_EQ(box.State(), c.After) << c.Name;
  }
}

TEST(SkCheckBox, GlyphPixels) {
  constexpr TColor Frame = RGB(0, 0, 128), Fill = RGB(255, 255, 255), Tick = RGB(0, 0, 0),
                   Focus = RGB(230, 240, 255), Disabled = RGB(200, 200, 200);
  struct Case {
    const char* Name;
    TSkCheckState State;
    TSkGlyphDrawState Look;
    std::vector<TPixel> Pixels;
  };
  // clang-format off
  const Case cases[] = {
      {"checked", cbChecked, gdsNormal,
       {{0, 0, Frame}, {12, 12, Frame}, {1, 1, Fill}, {3, 5, Tick}, {3, 7, Tick}, {3, 8, Fill},
        {6, 8, Tick}, {9, 3, Tick}, {9, 6, Fill}, {10, 4, Fill}}},
      {"unchecked", cbUnchecked, gdsNormal, {{3, 5, Fill}, {6, 8, Fill}}},
      {"grayed", cbGrayed, gdsNormal, {{2, 2, Fill}, {3, 3, Tick}, {9, 9, Tick}, {10, 10, Fill}}},
      {"pressed", cbUnchecked, gdsPressed, {{1, 1, DarkerColor(Focus, 20)}}},
      {"disabled", cbChecked, gdsDisabled, {{1, 1, Disabled}, {6, 8, clBtnShadow}}},
  };
  // clang-format on
  for (const Case& c : cases) {
    TSkGlyphButtonPaint paint;
    paint.Glyph.State = c.State;
    paint.Glyph.DrawState = c.Look;
    paint.Glyph.FrameColor = Frame;
    paint.Glyph.FillColor = Fill;
    paint.Glyph.HighlightColor = Tick;
    paint.Glyph.FocusColor = Focus;
    paint.Glyph.DisabledColor = Disabled;
    const QImage image = Painted(13, 13, [&](QPainter& p) {
      DrawGlyphButtonGlyph(p, {0, 0, 13, 13}, paint);
    });
    ExpectPixels(image, c.Pixels, c.Name);
  }
}

TEST(SkCheckBox, CustomStripCells) {
  struct Case {
    bool Radio;
    TSkCheckState State;
    TSkGlyphDrawState Look;
    int Index;
  };
  // clang-format off
  const Case cases[] = {
      {true, cbUnchecked, gdsNormal, 0}, {true, cbChecked, gdsPressed, 3},
      {true, cbChecked, gdsDisabled, 5}, {true, cbChecked, gdsHot, 1},
      {false, cbGrayed, gdsNormal, 2}, {false, cbChecked, gdsPressed, 4},
      {false, cbGrayed, gdsDisabled, 8}, {false, cbUnchecked, gdsHot, 0},
  };
  // clang-format on
  for (const Case& c : cases)
    EXPECT_EQ(CustomGlyphIndex(c.Radio, c.State, c.Look), c.Index)
        << c.Radio << " " << c.State << " " << c.Look;

  // Nine 4-pixel cells, cell i in grey level 20 * i, the key in the bottom row.
  QImage strip(36, 4, QImage::Format_RGB32);
  for (int x = 0; x < 36; ++x)
    for (int y = 0; y < 4; ++y)
      strip.setPixelColor(x, y, y == 3 ? ToQColor(clOlive) : QColor::fromRgb(20 * (x / 4), 0, 0));
  TSkCheckBox box;
  box.SetCustomGlyphs(strip);
  EXPECT_TRUE(box.UseCustomGlyphs());
  EXPECT_EQ(box.GlyphSize(), QSize(4, 4));
  TSkGlyphButtonPaint paint = box.PaintSettings();
  paint.Glyph.State = cbChecked;
  paint.Glyph.DrawState = gdsPressed;
  const QImage image = Painted(4, 4, [&](QPainter& p) {
    DrawGlyphButtonGlyph(p, {0, 0, 4, 4}, paint);
  });
  ExpectPixels(image, {{1, 1, RGB(80, 0, 0)}, {1, 3, Sentinel}}, "cell 4");
  box.SetCustomGlyphs({});
  EXPECT_FALSE(box.UseCustomGlyphs());
  EXPECT_EQ(box.GlyphSize(), QSize(13, 13));
}

TEST(SkCheckBox, TakesTheFrameControllersColoursItAccepts) {
  TSkFrameController controller;
  controller.SetFocusColor(RGB(1, 2, 3));
  controller.SetReadOnlyColor(RGB(4, 5, 6));
  controller.SetFrameColor(RGB(7, 8, 9));
  TSkCheckBox box;
  box.SetFrameControllerNotifications(AllFrameNotifications & ~(1u << fcpReadOnlyColor));
  box.SetFrameController(&controller);
  EXPECT_EQ(box.FocusColor(), RGB(1, 2, 3));
  EXPECT_EQ(box.FrameColor(), RGB(7, 8, 9));
  EXPECT_EQ(box.ReadOnlyColor(), clInfoBk);
  controller.SetDisabledColor(RGB(10, 11, 12));
  EXPECT_EQ(box.DisabledColor(), RGB(10, 11, 12));
  box.SetFrameController(nullptr);
  controller.SetDisabledColor(RGB(13, 14, 15));
  EXPECT_EQ(box.DisabledColor(), RGB(10, 11, 12));
  EXPECT_EQ(controller.ControlCount(), 0);
}

TEST(SkCheckBox, GlyphBesideTheCaption) {
  const TSkGlyphButtonLayout left = GlyphButtonLayout({0, 0, 100, 21}, {13, 13}, avCenter, false);
  EXPECT_EQ(left.Glyph, (TRect{1, 4, 14, 17}));
  EXPECT_EQ(left.Caption, (TRect{18, 1, 99, 20}));
  const TSkGlyphButtonLayout right = GlyphButtonLayout({0, 0, 100, 21}, {13, 13}, avTop, true);
  EXPECT_EQ(right.Glyph, (TRect{86, 1, 99, 14}));
  EXPECT_EQ(right.Caption, (TRect{1, 1, 82, 20}));
}

}  // namespace
