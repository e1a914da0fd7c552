#include "ControlsTestSupport.h"
#include "InputTestSupport.h"
#include "SkEdit.h"
#include "SkListVw.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QScrollBar>
#include <gtest/gtest.h>

namespace {

TEST(SkFrame, StateColourFollowsDisabledFocusAndReadOnly) {
  TSkFrameSettings s;
  s.DisabledColor = RGB(1, 1, 1);
  s.FocusColor = RGB(2, 2, 2);
  s.ReadOnlyColor = RGB(3, 3, 3);
  s.NormalColor = RGB(4, 4, 4);
  struct Case {
    bool Enabled, Focused, ReadOnly, ReadOnlyColorOnFocus;
    TColor Expected;
  };
  // clang-format off
  const Case cases[] = {
      {false, true,  true,  true,  RGB(1, 1, 1)},
      {true,  true,  false, false, RGB(2, 2, 2)},
      {true,  true,  true,  false, RGB(2, 2, 2)},
      {true,  true,  true,  true,  RGB(3, 3, 3)},
      {true,  false, true,  false, RGB(3, 3, 3)},
      {true,  false, false, true,  RGB(4, 4, 4)},
  };
  // clang-format on
  for (const Case& c : cases) {
    s.ReadOnlyColorOnFocus = c.ReadOnlyColorOnFocus;
    EXPECT_EQ(StateColor(s, c.Enabled, c.Focused, c.ReadOnly), c.Expected)
        << c.Enabled << c.Focused << c.ReadOnly << c.ReadOnlyColorOnFocus;
  }
}

TEST(SkFrame, RingPixelsFollowStyleSidesAndHotState) {
  const TColor frame = RGB(200, 0, 0), hot = RGB(0, 0, 200), fill = RGB(0, 120, 0);
  struct Case {
    const char* Name;
    bool Visible, HotTrack, Hot;
    TSides Sides;
    std::vector<TPixel> Pixels;
  };
  const Case cases[] = {
      {"no custom frame: sunken border",
       false,
       false,
       false,
       AllSides,
       {{0, 0, clBtnShadow}, {1, 1, cl3DDkShadow}, {19, 9, clBtnHighlight}, {2, 2, Sentinel}}},
      {"flat",
       true,
       false,
       false,
       AllSides,
       {{0, 0, frame}, {19, 9, frame}, {1, 1, fill}, {18, 8, fill}, {2, 2, Sentinel}}},
      {"hot tracked and hot: bold in the hot colour",
       true,
       true,
       true,
       AllSides,
       {{0, 0, hot}, {1, 1, hot}, {18, 8, hot}, {2, 2, Sentinel}}},
      {"hot tracked, not hot", true, true, false, AllSides, {{0, 0, frame}, {1, 1, fill}}},
      {"hot without tracking", true, false, true, AllSides, {{0, 0, frame}, {1, 1, fill}}},
      {"left side only",
       true,
       false,
       false,
       sdLeft,
       {{0, 5, frame}, {10, 0, fill}, {19, 5, fill}, {10, 9, fill}}},
  };
  for (const Case& c : cases) {
    TSkFrameSettings s;
    s.FrameVisible = c.Visible;
    s.FrameHotTrack = c.HotTrack;
    s.FrameSides = c.Sides;
    s.FrameColor = frame;
    s.FrameHotColor = hot;
    const QImage image = Painted(20, 10, [&](QPainter& p) {
      PaintControlFrame(p, {20, 10}, s, fill, c.Hot);
    });
    ExpectPixels(image, c.Pixels, c.Name);
  }
}

TEST(SkEdit, ShowsTheStateColourOnScreen) {
  TFocusHost<TSkEdit> host;
  TSkEdit& edit = *host.Control;
  edit.SetDisabledColor(RGB(10, 10, 10));
  edit.SetFocusColor(RGB(20, 20, 20));
  edit.SetReadOnlyColor(RGB(30, 30, 30));
  edit.SetColor(RGB(40, 40, 40));  // moves the focus colour only when it was the normal one
  EXPECT_EQ(edit.FrameSettings().FocusColor, RGB(20, 20, 20));
  edit.SetFrameHotTrack(true);
  EXPECT_TRUE(edit.FrameSettings().FrameVisible);
  struct Case {
    const char* Name;
    std::function<void()> Act;
    TColor Inside, Ring;
  };
  const Case cases[] = {
      {"normal", [] {}, RGB(40, 40, 40), clBtnShadow},
      {"focused", [&] { host.Enter(); }, RGB(20, 20, 20), clBtnShadow},
      {"read-only and focused", [&] { edit.SetReadOnly(true); }, RGB(20, 20, 20), clBtnShadow},
      {"read-only", [&] { host.Leave(); }, RGB(30, 30, 30), clBtnShadow},
      {"disabled", [&] { edit.setEnabled(false); }, RGB(10, 10, 10), clBtnShadow},
  };
  for (const Case& c : cases) {
    c.Act();
    const QImage shot = edit.grab().toImage();
    ExpectPixels(shot, {{0, 5, c.Ring}, {3, 3, c.Inside}, {edit.width() - 4, 10, c.Inside}},
                 c.Name);
  }
}

TEST(SkEdit, DropDownKeysAndButton) {
  struct Case {
    const char* Name;
    bool ReadOnly;
    Qt::Key Key;
    Qt::KeyboardModifiers Modifiers;
    int Drops;
  };
  // clang-format off
  const Case cases[] = {
      {"F4", false, Qt::Key_F4, Qt::NoModifier, 1},
      {"Ctrl+Shift+F4", false, Qt::Key_F4, Qt::ControlModifier | Qt::ShiftModifier, 1},
      {"Alt+Down", false, Qt::Key_Down, Qt::AltModifier, 1},
      {"Alt+Shift+Down", false, Qt::Key_Down, Qt::AltModifier | Qt::ShiftModifier, 0},
      {"Down", false, Qt::Key_Down, Qt::NoModifier, 0},
      {"F4 when read-only", true, Qt::Key_F4, Qt::NoModifier, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    TFocusHost<TSkEdit> host;
    TSkEdit& edit = *host.Control;
    edit.SetDropButtonVisible(true);
    edit.SetReadOnly(c.ReadOnly);
    int drops = 0, closes = 0;
    edit.OnDropDown = [&] {
      EXPECT_TRUE(edit.Dropping());
      ++drops;
    };
    edit.OnCloseUp = [&] { ++closes; };
    host.Enter();
    QTest::keyClick(&edit, c.Key, c.Modifiers);
    EXPECT_EQ(drops, c.Drops) << c.Name;
    EXPECT_EQ(closes, c.Drops) << c.Name;
    EXPECT_FALSE(edit.Dropping()) << c.Name;
    EXPECT_TRUE(edit.text().isEmpty()) << c.Name;
  }
  TFocusHost<TSkEdit> host;
  int drops = 0;
  host.Control->SetDropButtonVisible(true);
  host.Control->OnDropDown = [&] { ++drops; };
  QTest::mouseClick(host.Control, Qt::LeftButton, {}, {host.Control->width() - 8, 10});
  QTest::mouseClick(host.Control, Qt::LeftButton, {}, {10, 10});
  EXPECT_EQ(drops, 1);
  EXPECT_TRUE(host.Control->hasFocus());
}

TEST(SkColorEdit, SwatchShowsTheColourOrAHatchedBox) {
  const QImage colour = Painted(20, 12, [](QPainter& p) {
    PaintColorSwatch(p, {0, 0, 20, 12}, clBlack, false);
  });
  ExpectPixels(colour, {{0, 0, clBtnHighlight}, {19, 11, clBtnShadow}, {8, 6, clBlack}}, "black");
  for (bool active : {false, true}) {
    const QImage none = Painted(20, 12, [&](QPainter& p) {
      PaintColorSwatch(p, {0, 0, 20, 12}, clNone, active);
    });
    int hatched = 0, untouched = 0;
    const TColor line = ColorToRGB(active ? clBtnShadow : clBtnFace);
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 20; ++x) (PixelAt(none, x, y) == line ? hatched : untouched) += 1;
    EXPECT_GT(hatched, 20) << active;
    EXPECT_GT(untouched, 120) << active;
  }
}

TEST(SkMemo, LineAndColumnMoveTheCaretOnlyWhereTheyExist) {
  TFocusHost<TSkMemo> host;
  TSkMemo& memo = *host.Control;
  memo.resize(200, 60);
  QStringList lines;
  for (int i = 1; i <= 10; ++i) lines << QStringLiteral("line %1").arg(i);
  memo.setPlainText(lines.join(QLatin1Char('\n')));
  int notes = 0;
  memo.OnLineColChange = [&](int, int) { ++notes; };
  memo.SetLine(3);
  EXPECT_EQ(memo.Line(), 3);
  EXPECT_EQ(memo.Column(), 1);
  EXPECT_EQ(memo.verticalScrollBar()->value(), 2);
  EXPECT_GE(notes, 1);
  struct Case {
    int Column, Expected;
    bool Notified;
  };
  const Case cases[] = {{1000, 1, false}, {7, 7, true}, {8, 7, false}, {0, 7, false}};
  for (const Case& c : cases) {
    notes = 0;
    memo.SetColumn(c.Column);
    EXPECT_EQ(memo.Column(), c.Expected) << c.Column;
    EXPECT_EQ(notes > 0, c.Notified) << c.Column;
  }
}

TEST(SkMemo, WheelIsTakenEvenWhenNothingScrolls) {
  TFocusHost<TSkMemo> host;
  host.Control->resize(200, 120);
  host.Control->setPlainText(QStringLiteral("one\ntwo"));
  QWheelEvent wheel({20, 20}, host.Control->mapToGlobal(QPoint(20, 20)), {}, {0, -120},
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  wheel.ignore();
  QApplication::sendEvent(host.Control->viewport(), &wheel);
  EXPECT_TRUE(wheel.isAccepted());
  EXPECT_EQ(host.Control->verticalScrollBar()->value(), 0);
}

TEST(SkFrame, ControllerPushesOnlyTheAcceptedSettings) {
  struct Case {
    const char* Name;
    TSkFrameControllerNotifications Accepted;
    TColor FrameColor;
    TFrameStyle FrameStyle;
  };
  const Case cases[] = {
      {"all", AllFrameNotifications, RGB(9, 9, 9), fsFlatBold},
      {"all but the frame colour", AllFrameNotifications & ~(1u << fcpFrameColor), clBtnShadow,
       fsFlatBold},
  };
  for (const Case& c : cases) {
    TSkFrameController controller;
    controller.SetFrameColor(RGB(9, 9, 9));
    TSkEdit edit;
    TSkMemo memo;
    edit.FrameControllerNotifications = c.Accepted;
    memo.FrameControllerNotifications = c.Accepted;
    edit.SetFrameController(&controller);
    memo.SetFrameController(&controller);
    controller.SetFrameStyle(fsFlatBold);
    for (const TSkFrameSettings* s : {&edit.FrameSettings(), &memo.FrameSettings()}) {
      EXPECT_EQ(s->FrameColor, c.FrameColor) << c.Name;
      EXPECT_EQ(s->FrameStyle, c.FrameStyle) << c.Name;
    }
    controller.SetColor(RGB(7, 7, 7));
    EXPECT_EQ(edit.Color(), RGB(7, 7, 7)) << c.Name;
    edit.SetFrameController(nullptr);
    EXPECT_EQ(controller.ControlCount(), 1) << c.Name;
  }
}

TEST(SkFrame, ReadOnlyShowsAtOnceWhicheverWayItIsSet) {
  constexpr TColor Pale = RGB(1, 2, 3);
  struct Case {
    const char* Name;
    std::function<void(TSkEdit&, bool)> Set;
  };
  const Case cases[] = {{"SetReadOnly", [](TSkEdit& e, bool v) { e.SetReadOnly(v); }},
                        {"Qt's setReadOnly", [](TSkEdit& e, bool v) { e.setReadOnly(v); }}};
  for (const Case& c : cases) {
    TSkEdit edit;
    edit.SetReadOnlyColor(Pale);
    edit.SetDropButtonVisible(true);
    c.Set(edit, true);
    EXPECT_EQ(edit.Color(), Pale) << c.Name;
    EXPECT_FALSE(edit.DropButtonShown()) << c.Name;
    c.Set(edit, false);
    EXPECT_EQ(edit.Color(), clWindow) << c.Name;
    EXPECT_TRUE(edit.DropButtonShown()) << c.Name;
  }
  TSkMemo memo;
  memo.SetReadOnlyColor(Pale);
  memo.setReadOnly(true);
  EXPECT_EQ(memo.Color(), Pale);
}

TEST(SkFrame, AControllerFreedBeforeItsControlsIsForgotten) {
  auto* controller = new TSkFrameController;
  TSkEdit edit;
  TSkMemo memo;
  edit.SetFrameController(controller);
  memo.SetFrameController(controller);
  delete controller;
  EXPECT_EQ(edit.FrameController(), nullptr);
  EXPECT_EQ(memo.FrameController(), nullptr);
}

TEST(SkColorEdit, RightClickOpensNoMenu) {
  TFocusHost<TSkColorEdit> host;
  QContextMenuEvent event(QContextMenuEvent::Mouse, {5, 5},
                          host.Control->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(host.Control, &event);
  EXPECT_TRUE(host.Control->findChildren<QMenu*>().isEmpty());
  EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

// Touchpads send the wheel in small steps; a notch's worth of them scrolls as a notch does.
TEST(SkWheel, StepsUnderANotchAddUp) {
  struct Case {
    const char* Name;
    std::vector<int> Deltas;
    int Notches;  // downwards
  };
  const Case cases[] = {{"a notch", {-120}, 1},
                        {"three quarters", {-30, -30, -30}, 0},
                        {"four quarters", {-30, -30, -30, -30}, 1},
                        {"seven halves", {-60, -60, -60, -60, -60, -60, -60}, 3},
                        {"a turn back drops what was gathered", {-90, 30, -90}, 0}};
  for (const Case& c : cases) {
    TFocusHost<TSkMemo> memoHost;
    TSkMemo& memo = *memoHost.Control;
    memo.resize(200, 60);
    QStringList lines;
    for (int i = 0; i < 100; ++i) lines << QString::number(i);
    memo.setPlainText(lines.join('\n'));
    TFocusHost<TSkListView> listHost;
    TSkListView& list = *listHost.Control;
    list.resize(200, 100);
    for (int i = 0; i < 100; ++i) list.addTopLevelItem(new QTreeWidgetItem({QString::number(i)}));
    QApplication::processEvents();  // lays the rows out
    for (const int delta : c.Deltas)
      for (QAbstractScrollArea* area :
           {static_cast<QAbstractScrollArea*>(&memo), static_cast<QAbstractScrollArea*>(&list)}) {
        QWheelEvent wheel({20, 20}, area->mapToGlobal(QPoint(20, 20)), {}, {0, delta}, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(area->viewport(), &wheel);
      }
    const int lines3 = QApplication::wheelScrollLines();
    EXPECT_EQ(memo.verticalScrollBar()->value(), c.Notches * lines3) << c.Name;
    EXPECT_EQ(list.verticalScrollBar()->value(), c.Notches * lines3 * 16) << c.Name;
  }
}

}  // namespace
