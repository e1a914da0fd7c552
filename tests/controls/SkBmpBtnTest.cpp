#include "ControlsTestSupport.h"
#include "SkBmpBtn.h"

#include <QDialog>
#include <QTest>
#include <gtest/gtest.h>

namespace {

constexpr TColor Red = RGB(255, 0, 0), Green = RGB(0, 255, 0), Blue = RGB(0, 0, 255),
                 Yellow = RGB(255, 255, 0), Cyan = RGB(0, 255, 255), Gray = RGB(90, 90, 90);

// A picture in one colour with its bottom row in the key colour.
QImage Picture(TColor Color, int W = 20, int H = 10) {
  QImage image(W, H, QImage::Format_RGB32);
  image.fill(ToQColor(Color));
  for (int x = 0; x < W; ++x) image.setPixelColor(x, H - 1, ToQColor(clOlive));
  return image;
}

TEST(SkBmpButton, ClicksOnlyOnReleaseInside) {
  struct Case {
    const char* Name;
    QPoint Release;
    int Clicks;
  };
  const Case cases[] = {
      {"inside", {10, 5}, 1},         {"last pixel", {19, 9}, 1},
      {"the row below", {10, 10}, 0}, {"the column right of it", {20, 5}, 0},
      {"far away", {200, 200}, 0},
  };
  for (const Case& c : cases) {
    TSkBmpButton button;
    button.Bitmaps().SetUp(Picture(Red));
    int clicks = 0;
    button.OnClick = [&clicks] { ++clicks; };
    button.show();
    QTest::mousePress(&button, Qt::LeftButton, {}, {5, 5});
    EXPECT_EQ(button.State(), bstDown) << c.Name;
    QTest::mouseRelease(&button, Qt::LeftButton, {}, c.Release);
    EXPECT_EQ(clicks, c.Clicks) << c.Name;
    EXPECT_EQ(button.State(), bstUp) << c.Name;
  }
}

TEST(SkBmpButton, KeysClickAndDisabledButtonsDoNot) {
  TSkBmpButton button;
  int clicks = 0;
  button.OnClick = [&clicks] { ++clicks; };
  button.show();
  QTest::keyClick(&button, Qt::Key_Space);
  QTest::keyClick(&button, Qt::Key_Return);
  EXPECT_EQ(clicks, 2);
  button.setEnabled(false);
  EXPECT_EQ(button.State(), bstDisabled);
  QTest::mouseClick(&button, Qt::LeftButton, {}, {5, 5});
  QTest::keyClick(&button, Qt::Key_Space);
  EXPECT_EQ(clicks, 2);
  button.setEnabled(true);
  EXPECT_EQ(button.State(), bstUp);
}

// A press moves the keyboard to the button, unless the button takes no focus (a caption's
// minimise button, which a later Return would otherwise press again).
TEST(SkBmpButton, APressTakesTheKeyboardOnlyWhereClicksMayFocus) {
  QWidget window;
  auto* first = new TSkBmpButton(&window);
  auto* noFocus = new TSkBmpButton(&window);
  noFocus->setFocusPolicy(Qt::NoFocus);
  auto* other = new TSkBmpButton(&window);
  for (TSkBmpButton* b : {first, noFocus, other}) b->Bitmaps().SetUp(Picture(Red));
  window.show();
  first->setFocus();
  QTest::mouseClick(noFocus, Qt::LeftButton, {}, {5, 5});
  EXPECT_EQ(window.focusWidget(), first);
  QTest::mouseClick(other, Qt::LeftButton, {}, {5, 5});
  EXPECT_EQ(window.focusWidget(), other);
}

TEST(SkBmpButton, TheDisabledLookFollowsTheEnabledStateAtPaintTime) {
  // Made on a disabled parent, then left alone, put down or grouped while disabled.
  const std::function<void(TSkBmpButton&)> steps[] = {
      [](TSkBmpButton&) {}, [](TSkBmpButton& b) { b.SetGroupIndex(1), b.SetDown(true); },
      [](TSkBmpButton& b) { b.SetGroupIndex(1); }};
  const TSkBmpButtonState enabled[] = {bstUp, bstExclusive, bstUp};
  for (int i = 0; i < 3; ++i) {
    QWidget parent;
    parent.setEnabled(false);
    auto* button = new TSkBmpButton(&parent);
    steps[i](*button);
    EXPECT_EQ(button->PaintSettings().State, bstDisabled) << i;
    parent.setEnabled(true);
    EXPECT_EQ(button->PaintSettings().State, enabled[i]) << i;
  }
}

TEST(SkBmpButton, ClickRunsOnClickBeforeTheDialogCloses) {
  QDialog dialog;
  auto* button = new TSkBmpButton(&dialog);
  button->ModalResult = 7;
  bool openDuringClick = false;
  button->OnClick = [&] { openDuringClick = dialog.isVisible(); };
  dialog.show();
  button->Click();
  EXPECT_TRUE(openDuringClick);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), 7);
  dialog.show();  // a click handler that closes the dialog itself has the last word
  button->OnClick = [&] { dialog.done(3); };
  button->Click();
  EXPECT_EQ(dialog.result(), 3);
}

TEST(SkBmpButton, AGroupKeepsOneButtonDown) {
  QWidget parent;
  auto* first = new TSkBmpButton(&parent);
  auto* second = new TSkBmpButton(&parent);
  auto* other = new TSkBmpButton(&parent);
  second->move(100, 0);
  for (TSkBmpButton* b : {first, second}) b->SetGroupIndex(1);
  other->SetGroupIndex(2);
  other->SetDown(true);
  parent.show();
  const auto click = [](TSkBmpButton* B) { QTest::mouseClick(B, Qt::LeftButton, {}, {5, 5}); };
  click(first);
  EXPECT_TRUE(first->Down());
  EXPECT_EQ(first->State(), bstExclusive);
  click(second);
  EXPECT_TRUE(second->Down());
  EXPECT_FALSE(first->Down());
  EXPECT_EQ(first->State(), bstUp);
  EXPECT_TRUE(other->Down());
  click(second);  // without AllowAllUp the down button stays down
  EXPECT_TRUE(second->Down());
  first->SetAllowAllUp(true);  // handed to the whole group
  EXPECT_TRUE(second->AllowAllUp());
  click(second);
  EXPECT_FALSE(second->Down());
  QTest::mousePress(first, Qt::LeftButton, {}, {5, 5});
  QTest::mouseRelease(first, Qt::LeftButton, {}, {500, 5});  // let go elsewhere
  EXPECT_FALSE(first->Down());
  EXPECT_EQ(first->State(), bstUp);
  TSkBmpButton single;
  single.SetDown(true);  // only grouped buttons stay down
  EXPECT_FALSE(single.Down());
}

TEST(SkBmpButton, FollowsItsBitmapSizePlusBorder) {
  struct Case {
    TButtonBorder Border;
    TButtonStyle Style;
    QSize Size;
  };
  for (const Case& c :
       {Case{bbNone, bsAutoDetect, {20, 10}}, Case{bbSingle, bsNew, {22, 12}},
        Case{bbButton, bsAutoDetect, {24, 14}}, Case{bbButton, bsWin31, {26, 16}}}) {
    TSkBmpButton button;
    button.show();
    button.Bitmaps().SetUp(Picture(Red));
    button.SetButtonBorder(c.Border);
    button.SetButtonStyle(c.Style);
    EXPECT_EQ(button.size(), c.Size) << c.Border;
    button.resize(100, 100);
    EXPECT_EQ(button.size(), c.Size) << c.Border;
  }
  TSkBmpButton free;
  free.SetButtonSize(bszStretchToButton);
  free.Bitmaps().SetUp(Picture(Red));
  EXPECT_EQ(free.size(), QSize(80, 30));
}

TEST(SkBmpButton, PictureByState) {
  TSkButtonBitmaps bitmaps;
  bitmaps.SetUp(Picture(Red));
  bitmaps.SetDown(Picture(Green));
  bitmaps.SetHot(Picture(Blue));
  bitmaps.SetUpAndFocused(Picture(Yellow));
  struct Case {
    const char* Name;
    TSkBmpButtonState State;
    bool Hot, Focused, StayDown, Disabled;
    TColor Shown;
  };
  // clang-format off
  const Case cases[] = {
      {"up", bstUp, false, false, false, false, Red},
      {"hot wins over focus", bstUp, true, true, false, false, Blue},
      {"focused", bstUp, false, true, false, false, Yellow},
      {"down", bstDown, true, false, false, false, Green},
      {"stays down without its own picture", bstExclusive, false, false, false, false, Green},
      {"stays down", bstExclusive, false, false, true, false, Cyan},
      {"disabled picture", bstDisabled, false, false, false, true, Gray},
      {"disabled made from up", bstDisabled, false, false, false, false, clBtnShadow},
  };
  // clang-format on
  for (const Case& c : cases) {
    TSkButtonBitmaps set = bitmaps;
    if (c.StayDown) set.SetStayDown(Picture(Cyan));
    if (c.Disabled) set.SetDisabled(Picture(Gray));
    TSkBmpButtonPaint paint;
    paint.Bitmaps = &set;
    paint.State = c.State;
    paint.MouseInside = c.Hot;
    paint.Focused = c.Focused;
    EXPECT_EQ(FromQColor(BmpButtonBitmap(paint).pixelColor(3, 3)), ColorToRGB(c.Shown)) << c.Name;
  }
  TSkButtonBitmaps empty;
  TSkBmpButtonPaint paint;
  paint.Bitmaps = &empty;
  EXPECT_TRUE(BmpButtonBitmap(paint).isNull());
}

TEST(SkBmpButton, DisabledLookEmbossesDarkPixels) {
  QImage picture(3, 3, QImage::Format_RGB32);
  picture.fill(ToQColor(clOlive));
  picture.setPixelColor(0, 0, Qt::black);
  picture.setPixelColor(2, 0, QColor(230, 230, 230));  // light pixels drop out
  const QImage embossed = EmbossedBitmap(picture, clOlive);
  ExpectPixels(embossed, {{0, 0, clBtnShadow}, {1, 1, clWhite}, {2, 0, clOlive}, {2, 2, clOlive}},
               "emboss");
}

TEST(SkBmpButton, PaintsInsideItsBorderWithTheKeyShowingTheFace) {
  TSkButtonBitmaps bitmaps;
  bitmaps.SetUp(Picture(Red));
  TSkBmpButtonPaint paint;
  paint.Bitmaps = &bitmaps;
  paint.ButtonBorder = bbSingle;
  paint.Color = RGB(200, 200, 250);
  const QImage image = Painted(22, 12, [&](QPainter& p) {
    PaintBmpButton(p, {0, 0, 22, 12}, paint);
  });
  ExpectPixels(
      image,
      {{0, 0, clBlack}, {21, 11, clBlack}, {1, 1, Red}, {20, 9, Red}, {5, 10, RGB(200, 200, 250)}},
      "single border");
  paint.ButtonBorder = bbNone;
  const QImage bare = Painted(20, 10, [&](QPainter& p) {
    PaintBmpButton(p, {0, 0, 20, 10}, paint);
  });
  ExpectPixels(bare, {{0, 0, Red}, {5, 9, Sentinel}}, "no border leaves the key to the parent");
}

TEST(SkBmpButton, FocusIsShownAroundACaptionOnly) {
  TSkButtonBitmaps bitmaps;
  bitmaps.SetUp(Picture(Red, 30, 20));
  for (const QString& caption : {QString(), QStringLiteral("OK")}) {
    TSkBmpButtonPaint paint;
    paint.Bitmaps = &bitmaps;
    paint.Caption = caption;
    paint.FontColor = Red;  // the caption itself vanishes into the picture
    const auto paintWith = [&](bool Focused) {
      paint.Focused = Focused;
      return Painted(30, 20, [&](QPainter& p) { PaintBmpButton(p, {0, 0, 30, 20}, paint); });
    };
    EXPECT_EQ(paintWith(true) != paintWith(false), !caption.isEmpty()) << qPrintable(caption);
  }
}

TEST(SkBmpButton, LayoutOfGlyphAndCaption) {
  struct Case {
    const char* Name;
    TButtonLayout Layout;
    int Margin, Spacing;
    QPoint Glyph;
    TRect Text;
  };
  // A 100 by 40 client, a 20 by 10 glyph and a 30 by 12 caption.
  // clang-format off
  const Case cases[] = {
      {"centred pair", blGlyphLeft, -1, 4, {23, 15}, {47, 14, 77, 26}},
      {"equal thirds", blGlyphLeft, -1, -1, {16, 15}, {52, 14, 82, 26}},
      {"text centred after the margin", blGlyphLeft, 5, -1, {5, 15}, {47, 14, 77, 26}},
      {"fixed", blGlyphRight, 5, 4, {75, 15}, {41, 14, 71, 26}},
      {"on top", blGlyphTop, 2, 3, {40, 2}, {35, 15, 65, 27}},
  };
  // clang-format on
  for (const Case& c : cases) {
    const TSkButtonLayout layout =
        CalcButtonLayout({0, 0, 100, 40}, {20, 10}, {30, 12}, c.Layout, c.Margin, c.Spacing);
    EXPECT_EQ(layout.GlyphPos, c.Glyph) << c.Name;
    EXPECT_EQ(layout.TextBounds, c.Text) << c.Name;
  }
}

}  // namespace
