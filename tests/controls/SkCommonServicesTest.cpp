#include "SkCommon.h"

#include <QWidget>
#include <gtest/gtest.h>

namespace {

// A control that publishes some of the frame controller's settings.
class FramedControl : public QWidget {
  Q_OBJECT
  Q_PROPERTY(uint Color MEMBER Color)
  Q_PROPERTY(uint FocusColor MEMBER FocusColor)
  Q_PROPERTY(int FrameStyle MEMBER FrameStyle)
  Q_PROPERTY(uint FrameControllerNotifications MEMBER Notifications)
 public:
  uint Color = 0, FocusColor = 0, Notifications = AllFrameNotifications;
  int FrameStyle = -1;
};

TEST(SkFrameController, PushesItsSettingsIntoRegisteredControls) {
  TSkFrameController controller;
  FramedControl control;
  controller.AddControl(&control);
  controller.AddControl(&control);
  EXPECT_EQ(controller.ControlCount(), 1);
  // Registration updates at once.
  EXPECT_EQ(control.Color, clWindow);
  EXPECT_EQ(control.FrameStyle, int(fsFlat));
  // The focus colour follows a colour change while the two were equal.
  controller.SetColor(RGB(1, 2, 3));
  EXPECT_EQ(controller.FocusColor(), RGB(1, 2, 3));
  EXPECT_EQ(control.Color, RGB(1, 2, 3));
  EXPECT_EQ(control.FocusColor, RGB(1, 2, 3));
  // ... and not once they differ.
  controller.SetFocusColor(RGB(9, 9, 9));
  controller.SetColor(RGB(4, 5, 6));
  EXPECT_EQ(controller.FocusColor(), RGB(9, 9, 9));
  // A control that does not take the colour keeps its own.
  control.Notifications = AllFrameNotifications & ~(1u << fcpColor);
  controller.SetColor(RGB(7, 7, 7));
  EXPECT_EQ(control.Color, RGB(4, 5, 6));
  controller.SetFrameStyle(fsGroove);
  EXPECT_EQ(control.FrameStyle, int(fsGroove));
}

TEST(SkFrameController, UpdatesOnceAfterAssignAndForgetsDestroyedControls) {
  TSkFrameController source, controller;
  source.SetFrameHotTrack(true);
  source.SetColor(RGB(10, 20, 30));
  auto* control = new FramedControl;
  controller.AddControl(control);
  controller.Assign(source);
  EXPECT_TRUE(controller.FrameVisible());  // turned on by the hot tracking
  EXPECT_EQ(control->Color, RGB(10, 20, 30));
  delete control;
  controller.SetColor(RGB(1, 1, 1));  // must not touch the freed control
  controller.RemoveControl(nullptr);
  EXPECT_EQ(controller.ControlCount(), 0);
}

class BlinkingProbe : public ISkBlinkingControl {
 public:
  explicit BlinkingProbe(bool Wants) : FWants(Wants) {}
  bool QueryBlink() override { return FWants; }
  void Blink(bool Shown) override { States.push_back(Shown); }
  std::vector<bool> States;

 private:
  bool FWants;
};

TEST(SkBlinking, AlternatesHalfSecondsForControlsThatAsk) {
  TSkManualClock clock;
  BlinkingProbe blinking(true), quiet(false);
  BlinkingControlsList().Add(&blinking);
  BlinkingControlsList().Add(&quiet);
  clock.Advance(499);
  EXPECT_TRUE(blinking.States.empty());
  clock.Advance(1);
  clock.Advance(500);
  clock.Advance(500);
  EXPECT_EQ(blinking.States, (std::vector<bool>{false, true, false}));
  EXPECT_TRUE(quiet.States.empty());
  ReleaseBlinkingControlsList();
  EXPECT_TRUE(BlinkingControlsListExists());  // still in use
  BlinkingControlsList().Remove(&blinking);
  BlinkingControlsList().Remove(&quiet);
  ReleaseBlinkingControlsList();
  EXPECT_FALSE(BlinkingControlsListExists());
}

TEST(SkCustomColors, ValuesBecomeSixLowerCaseHexDigits) {
  TSkCustomColors colors;
  EXPECT_EQ(colors.Colors().size(), 16);
  EXPECT_EQ(colors.Colors().last(), QStringLiteral("ColorP=FFFFFF"));
  colors.SetColors(
      {QStringLiteral("ColorA=ff"), QStringLiteral("ColorB=1ABCDEF"), QStringLiteral("ColorC=zz")});
  EXPECT_EQ(colors.Colors(),
            (QStringList{QStringLiteral("ColorA=0000ff"), QStringLiteral("ColorB=abcdef"),
                         QStringLiteral("ColorC=000000")}));
}

}  // namespace

#include "SkCommonServicesTest.moc"
