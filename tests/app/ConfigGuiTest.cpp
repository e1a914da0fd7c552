#include "AppTestSupport.h"
#include "SkCommon.h"
#include "U_Config_Gui.h"
#include "UrlCatcher.h"
#include "VelLog.h"
#include "VelTrackbar.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// A scratch folder for the log, which must not outlive it.
class ConfigGuiTest : public testing::Test {
 protected:
  void TearDown() override { VelLog = TVelLog(); }

  TScratchFolder Folder;
};

TEST_F(ConfigGuiTest, OpenUrlHandsTheAddressToTheBrowser) {
  TUrlCatcher browser;
  EXPECT_TRUE(OpenURL(QStringLiteral("https://www.velmora.example/fennick/")));
  ASSERT_EQ(browser.Opened.size(), 1);
  EXPECT_EQ(browser.Opened[0], QUrl(QStringLiteral("https://www.velmora.example/fennick/")));
}

// The same rule as the URL label's: web pages and mail addresses only, never a local file
// or a program, whatever "URL.cfg" names.
TEST_F(ConfigGuiTest, OpenUrlOpensOnlyWebAndMailAddressesAndLogsWhatItRefuses) {
  InitVelLog(Folder.Path());
  TUrlCatcher browser;
  const struct {
    QString Address, Opened;  // Opened empty: refused
  } cases[] = {
      {"https://www.velmora.example/fennick/", "https://www.velmora.example/fennick/"},
      {" http://a.example/help ", "http://a.example/help"},
      {"mailto:team@velmora.example", "mailto:team@velmora.example"},
      {"www.velmora.example", "http://www.velmora.example"},
      {"file:///usr/bin/xterm", ""},
      {"/usr/bin/xterm", ""},
      {"javascript:alert(1)", ""},
      {"", ""},
  };
  int refused = 0;
  for (const auto& c : cases) {
    browser.Opened.clear();
    EXPECT_EQ(OpenURL(c.Address), !c.Opened.isEmpty()) << qPrintable(c.Address);
    EXPECT_EQ(browser.Opened, c.Opened.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(c.Opened)})
        << qPrintable(c.Address);
    if (!c.Opened.isEmpty()) continue;
    const QStringList lines = ReadLines(VelLog.FileName());
    ASSERT_EQ(lines.size(), ++refused) << qPrintable(c.Address);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^") + StampPattern(QStringLiteral("  ")) +
                                   QStringLiteral("Not opened: \"") +
                                   QRegularExpression::escape(c.Address.trimmed()) +
                                   QStringLiteral("\" is no web or mail address$"))
                    .match(lines.last())
                    .hasMatch())
        << qPrintable(lines.last());
  }
}

TEST_F(ConfigGuiTest, ShortenedTextsFitTheirWidthWithTheirDots) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(12);
  const QFontMetrics metrics(font);
  const QString name = QStringLiteral("a rather long file name \u89C6\u9891.mp4");
  const int whole = metrics.horizontalAdvance(name);
  for (const int width : {whole, whole - 1, whole / 2, metrics.horizontalAdvance("..."), 0}) {
    const QString shown = ShortenText(font, name, width);
    if (width >= whole) {
      EXPECT_EQ(shown, name);
      continue;
    }
    ASSERT_TRUE(shown.endsWith(QStringLiteral("..."))) << width;
    const QString kept = shown.chopped(3);
    EXPECT_TRUE(name.startsWith(kept));
    EXPECT_LE(metrics.horizontalAdvance(shown), std::max(width, metrics.horizontalAdvance("...")));
    // One more letter would not have fitted.
    if (kept.size() < name.size()) {
      EXPECT_GT(metrics.horizontalAdvance(name.left(kept.size() + 1) + "..."), width);
    }
  }
  QLabel label;
  label.setFont(font);
  label.resize(whole / 2, 20);
  FitTextToWidth(&label, name);
  EXPECT_EQ(label.text(), ShortenText(font, name, whole / 2));
}

TEST_F(ConfigGuiTest, AFileThePlayerCannotOpenIsLoggedAndShownAsAnError) {
  InitVelLog(Folder.Path());
  TFFPlayer player;  // no libraries loaded: every open fails
  TVelTrackbar seekBar;
  QString caption, text;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    caption = box->windowTitle();
    text = box->text();
    box->accept();
  });
  EXPECT_FALSE(
      OpenInPlayerRange(QStringLiteral("/nowhere/a.mp4"), player, 0, seekBar, 4000000, 1000000));
  EXPECT_EQ(caption, QStringLiteral("Error"));
  EXPECT_EQ(text, QString::fromStdString(player.LastErrMsg()));
  EXPECT_FALSE(text.isEmpty());
  EXPECT_EQ(seekBar.Min(), 1000000);
  EXPECT_EQ(seekBar.Max(), 5000000);
  const QStringList lines = ReadLines(VelLog.FileName());
  ASSERT_EQ(lines.size(), 1);
  EXPECT_TRUE(lines[0].endsWith("  " + text)) << qPrintable(lines[0]);
}

TEST_F(ConfigGuiTest, HoldingPlaybackPausesOnlyAPlayingPreviewAndResumesItLater) {
  TFFPlayer player;
  QWidget panel;
  auto* play = new QPushButton(&panel);
  auto* pause = new QPushButton(&panel);
  const struct {
    int Tag;
    bool WasPlaying;
  } cases[] = {{1, true}, {0, false}};
  for (const auto& c : cases) {
    TogglePlayback(c.Tag == 1 ? 0 : 1, play, pause, player);
    ASSERT_EQ(play->property("Tag").toInt(), c.Tag);
    bool wasPlaying = !c.WasPlaying;
    HoldPlayback(0, wasPlaying, play, player, pause);
    EXPECT_EQ(wasPlaying, c.WasPlaying);
    EXPECT_EQ(play->property("Tag").toInt(), 0);  // held: paused
    EXPECT_FALSE(play->isHidden());
    EXPECT_TRUE(pause->isHidden());
    HoldPlayback(1, wasPlaying, play, player, pause);
    EXPECT_FALSE(wasPlaying);
    EXPECT_EQ(play->property("Tag").toInt(), c.Tag);  // back as it was
    EXPECT_EQ(pause->isHidden(), c.Tag == 0);
  }
}

void Mouse(TVelTrackbar& Bar, QEvent::Type Type, int X, Qt::MouseButtons Buttons) {
  QMouseEvent event(Type, QPointF(X, 20), QPointF(X, 20), Qt::LeftButton, Buttons, Qt::NoModifier);
  QCoreApplication::sendEvent(&Bar, &event);
}

// The position bar on a clock of the test's own: what presses on the track or on the tick
// do to a playing or a paused preview, and what the timer's tick does 500 ms later. The
// release of a dragged tick seeks once more, to where the tick stands. A hold the program ends
// (a new file, a stop) gives the position event back at once and leaves nothing to resume.
TEST_F(ConfigGuiTest, PreviewSeekBarPausesAroundSeeksAndResumesOnTheTimersTick) {
  const struct {
    const char* Name;
    bool Playing;
    bool OnTick;   // the press lands on the tick, else on the track at x = 300
    int DragTo;    // where the held tick is moved (0: not moved)
    int Seeks;     // seeks made
    bool Resumes;  // playing again at the end
    bool Timer;    // the resume waits for the timer
    int Clicks = 1;  // on the track, 150 ms apart, each 14 pixels left of the one before
    bool EndHold = false;  // the program ends the hold after the clicks
  } cases[] = {
      {"track, playing", true, false, 0, 1, true, true},
      {"track, paused", false, false, 0, 1, false, false},
      {"tick pressed, playing", true, true, 0, 0, true, false},
      {"tick dragged, playing", true, true, 200, 2, true, false},
      {"twenty clicks in 3 s, playing", true, false, 0, 20, true, true, 20},
      {"track, playing, hold ended", true, false, 0, 1, false, false, 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TSkManualClock clock;
    TFFPlayer player;
    QWidget panel;
    auto* play = new QPushButton(&panel);
    auto* pause = new QPushButton(&panel);
    TVelTrackbar bar(&panel);
    bar.setGeometry(0, 0, 400, 40);
    bar.SetShowSegment(false);
    bar.SetMax(10000000);
    TPreviewSeekBar seekBar(bar, play, pause, player);
    std::vector<int64_t> seeks;
    seekBar.OnSeek = [&](int64_t Position) { seeks.push_back(Position); };
    TogglePlayback(c.Playing ? 0 : 1, play, pause, player);

    int press = c.OnTick ? bar.TickX() : 300;
    for (int click = 0; click < c.Clicks; ++click) {
      if (click > 0) {
        clock.Advance(150);
        press -= 14;
      }
      Mouse(bar, QEvent::MouseButtonPress, press, Qt::LeftButton);
      if (c.OnTick) {
        EXPECT_EQ(play->property("Tag").toInt(), 0);  // held while the tick is down
        EXPECT_FALSE(seekBar.TakePosition());
      }
      if (c.DragTo) Mouse(bar, QEvent::MouseMove, c.DragTo, Qt::LeftButton);
      Mouse(bar, QEvent::MouseButtonRelease, c.DragTo ? c.DragTo : press, Qt::NoButton);
    }
    if (c.EndHold) seekBar.StopTimer();

    ASSERT_EQ(int(seeks.size()), c.Seeks);
    EXPECT_EQ(bar.Position(), c.Seeks ? bar.ValueFromX(c.DragTo ? c.DragTo : press) : 0);
    if (c.Seeks) {
      EXPECT_EQ(seeks.back(), bar.Position());
    }
    EXPECT_EQ(seekBar.Timer().Active(), c.Timer);
    EXPECT_EQ(seekBar.PositionAttached(), !c.Timer);  // the position event is away meanwhile
    EXPECT_EQ(play->property("Tag").toInt(), c.Resumes && !c.Timer ? 1 : 0);

    clock.Advance(499);
    EXPECT_EQ(seekBar.Timer().Active(), c.Timer);
    clock.Advance(1);
    EXPECT_FALSE(seekBar.Timer().Active());
    EXPECT_TRUE(seekBar.PositionAttached());
    EXPECT_EQ(play->property("Tag").toInt(), c.Resumes ? 1 : 0);
    EXPECT_EQ(pause->isHidden(), !c.Resumes);
    // The position events right after a seek are let pass.
    for (int event = 0; event < 3 && c.Seeks; ++event) EXPECT_FALSE(seekBar.TakePosition());
    EXPECT_TRUE(seekBar.TakePosition());
    if (!c.EndHold) continue;
    // The next press on the tick finds the preview paused and leaves it so.
    Mouse(bar, QEvent::MouseButtonPress, bar.TickX(), Qt::LeftButton);
    Mouse(bar, QEvent::MouseButtonRelease, bar.TickX(), Qt::NoButton);
    EXPECT_EQ(play->property("Tag").toInt(), 0);
  }
}

}  // namespace
