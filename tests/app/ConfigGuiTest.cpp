#include "AppTestSupport.h"
#include "U_Config_Gui.h"
#include "UrlCatcher.h"
#include "VelLog.h"
#include "VelTrackbar.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
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

TEST_F(ConfigGuiTest, AnAddressThatCannotBeOpenedIsLoggedAsAnError) {
  InitVelLog(Folder.Path());
  EXPECT_FALSE(OpenURL(QString()));
  const QStringList lines = ReadLines(VelLog.FileName());
  ASSERT_EQ(lines.size(), 1);
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^") + StampPattern(QStringLiteral("  ")) +
                                 QStringLiteral("Cannot open "))
                  .match(lines[0])
                  .hasMatch())
      << qPrintable(lines[0]);
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

}  // namespace
