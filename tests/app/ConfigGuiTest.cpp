#include "AppTestSupport.h"
#include "U_Config_Gui.h"
#include "UrlCatcher.h"
#include "VelLog.h"

#include <QRegularExpression>
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

}  // namespace
