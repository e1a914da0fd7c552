#include "AppTestSupport.h"
#include "SkBmpBtn.h"
#include "U_Replace_Gui.h"
#include "U_shutDown_Gui.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QWindowStateChangeEvent>
#include <gtest/gtest.h>

#include <functional>

namespace {

TEST(ReplaceDialog, EachAnswerClosesWithItsResult) {
  const struct {
    TSkBmpButton* TReplaceFrm::*Button;
    int Result;
  } cases[] = {{&TReplaceFrm::btnYes, 6},
               {&TReplaceFrm::btnYesAll, 10},
               {&TReplaceFrm::btnNo, 7},
               {&TReplaceFrm::btnNotAll, 9},
               {&TReplaceFrm::btnCancel, 2}};
  for (const auto& c : cases) {
    TReplaceFrm form;
    form.SetFileNames({QStringLiteral("/out/holiday.flv")});
    form.open();
    QTest::mouseClick(form.*c.Button, Qt::LeftButton);
    EXPECT_EQ(form.result(), c.Result);
    EXPECT_TRUE(form.lblFileName->text().endsWith("'holiday.flv'"));
  }
  TReplaceFrm closed;
  closed.open();
  closed.CloseButton()->Click();
  EXPECT_EQ(closed.result(), 2);
  EXPECT_EQ(AskReplaceFiles({QStringLiteral("/nowhere/absent.flv")}), 0);
}

// The question breaks before the name, never inside it, and a name too long for its line
// keeps its start and its extension.
TEST(ReplaceDialog, TheNameIsNeverBrokenAndKeepsItsExtension) {
  const QString fits = QStringLiteral("holiday_at_the_harbour_long_720p_10min.flv");
  const struct {
    QString Name;
    bool Whole;
  } cases[] = {{fits, true},
               {QString(120, QLatin1Char('x')) + QStringLiteral("_10min.flv"), false}};
  for (const auto& c : cases) {
    TReplaceFrm form;
    form.SetFileNames({QStringLiteral("/out/") + c.Name});
    const QStringList lines = form.lblFileName->text().split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 2) << qPrintable(form.lblFileName->text());
    EXPECT_EQ(lines[0], "whether you want to replace existing file");
    if (c.Whole) {
      EXPECT_EQ(lines[1], "'" + c.Name + "'");
    }
    EXPECT_TRUE(lines[1].startsWith("'" + c.Name.left(10))) << qPrintable(lines[1]);
    EXPECT_TRUE(lines[1].endsWith("_10min.flv'")) << qPrintable(lines[1]);
    for (const QString& line : lines)
      EXPECT_LE(form.lblFileName->fontMetrics().horizontalAdvance(line), form.lblFileName->width())
          << qPrintable(line);
  }
}

class TCountingPower : public ISystemPower {
 public:
  explicit TCountingPower(int& Calls, bool Works) : FCalls(Calls), FWorks(Works) {}
  bool PowerOff(QString& Error) override {
    ++FCalls;
    if (!FWorks) Error = QStringLiteral("refused");
    return FWorks;
  }

 private:
  int& FCalls;
  bool FWorks;
};

TEST(ShutDownDialog, CountsDownAndCancelsOrSwitchesOff) {
  int calls = 0;
  TShutDownFrm cancelled(std::make_unique<TCountingPower>(calls, true));
  cancelled.open();
  EXPECT_EQ(cancelled.lblShow->text(), "Your computer will shut down after 30 seconds.");
  EXPECT_TRUE(cancelled.tmr1->isActive());
  // Return meant for another box must not switch the computer off.
  EXPECT_EQ(cancelled.focusWidget(), cancelled.btnCancel);
  for (int i = 0; i < 10; ++i) cancelled.Tick();
  EXPECT_EQ(cancelled.lblShow->text(), "Your computer will shut down after 20 seconds.");
  // Restored after a minimise, the countdown goes on where it was.
  QWindowStateChangeEvent restored(Qt::WindowMinimized);
  QCoreApplication::sendEvent(&cancelled, &restored);
  EXPECT_EQ(cancelled.lblShow->text(), "Your computer will shut down after 20 seconds.");
  cancelled.Tick();
  EXPECT_EQ(cancelled.lblShow->text(), "Your computer will shut down after 19 seconds.");
  QTest::mouseClick(cancelled.btnCancel, Qt::LeftButton);
  EXPECT_EQ(cancelled.result(), 2);
  EXPECT_FALSE(cancelled.tmr1->isActive());
  EXPECT_EQ(calls, 0);

  // Refused: the dialog stays open saying why, and the user may try again.
  TShutDownFrm refused(std::make_unique<TCountingPower>(calls, false));
  refused.open();
  for (int i = 0; i < 30; ++i) refused.Tick();
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(refused.tmr1->isActive());
  EXPECT_TRUE(refused.isVisible());
  EXPECT_EQ(refused.lblShow->text(), "Your computer could not be shut down: refused");
  QTest::mouseClick(refused.btnOK, Qt::LeftButton);
  EXPECT_EQ(calls, 2);

  // Refused before the time is up: the countdown, which could only fail again, stops.
  TShutDownFrm early(std::make_unique<TCountingPower>(calls, false));
  early.open();
  QTest::mouseClick(early.btnOK, Qt::LeftButton);
  EXPECT_EQ(calls, 3);
  EXPECT_FALSE(early.tmr1->isActive());
  EXPECT_EQ(early.lblShow->text(), "Your computer could not be shut down: refused");
}

// A question dismissed without a button (Escape, the window manager's close) is Cancel:
// nothing is overwritten, and the countdown stops with its message still to come.
TEST(ReplaceAndShutDownDialogs, EscapeAndCloseAnswerCancel) {
  int calls = 0;
  const std::function<void(QDialog&)> dismissals[] = {
      [](QDialog& Dialog) { QTest::keyClick(&Dialog, Qt::Key_Escape); },
      [](QDialog& Dialog) { Dialog.close(); }};
  for (const auto& dismiss : dismissals) {
    TReplaceFrm replace;
    replace.open();
    dismiss(replace);
    EXPECT_EQ(replace.result(), 2);
    TShutDownFrm shutDown(std::make_unique<TCountingPower>(calls, true));
    shutDown.open();
    dismiss(shutDown);
    EXPECT_EQ(shutDown.result(), 2);
    EXPECT_FALSE(shutDown.tmr1->isActive());
  }
  EXPECT_EQ(calls, 0);
}

// Another X client destroys the countdown's window: nobody could cancel what is no longer on
// the screen, so the countdown ends as Cancel rather than switching the computer off unseen.
TEST(ShutDownScreen, AWindowDestroyedFromOutsideCancelsTheCountdown) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X server";
  int calls = 0;
  TShutDownFrm shutDown(std::make_unique<TCountingPower>(calls, true));
  shutDown.open();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&shutDown));
  ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"),
                              {QStringLiteral("windowclose"), QString::number(shutDown.winId())}),
            0);
  const QDeadlineTimer patience(30000);
  while (shutDown.result() != TShutDownFrm::mrCancel && !patience.hasExpired()) QTest::qWait(20);
  EXPECT_EQ(shutDown.result(), TShutDownFrm::mrCancel);
  EXPECT_FALSE(shutDown.tmr1->isActive());
  EXPECT_EQ(calls, 0);
}

}  // namespace
