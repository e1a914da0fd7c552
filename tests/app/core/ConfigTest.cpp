#include "AppTestSupport.h"
#include "U_Config.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {

// Points the program folder at a scratch folder for one test.
class ConfigTest : public testing::Test {
 protected:
  void SetUp() override { SetProgramFolder(Folder.Path()); }
  void TearDown() override { SetProgramFolder(QString()); }

  TScratchFolder Folder;
};

TEST_F(ConfigTest, ProgramFolderEndsWithASeparatorAndDefaultsToTheExecutablesFolder) {
  EXPECT_EQ(ProgramFolder(), Folder.Path() + QStringLiteral("/"));
  SetProgramFolder(QString());
  EXPECT_EQ(ProgramFolder(), QCoreApplication::applicationDirPath() + QStringLiteral("/"));
}

TEST_F(ConfigTest, ReadIniValueGivesTheDefaultWithoutFileOrKey) {
  const QString name = Folder.File(QStringLiteral("URL.cfg"));
  EXPECT_EQ(
      ReadIniValue(name, QStringLiteral("URL"), QStringLiteral("HelpPage"), QStringLiteral("d")),
      QStringLiteral("d"));
  WriteTextFile(name, "[URL]\nHomePage=https://h.example/\n");
  EXPECT_EQ(
      ReadIniValue(name, QStringLiteral("URL"), QStringLiteral("HelpPage"), QStringLiteral("d")),
      QStringLiteral("d"));
  EXPECT_EQ(
      ReadIniValue(name, QStringLiteral("url"), QStringLiteral("homepage"), QStringLiteral("d")),
      QStringLiteral("https://h.example/"));
}

TEST_F(ConfigTest, ReadUrlConfigReadsUrlCfgBesideTheProgramAndFallsBackToTheHomePage) {
  EXPECT_EQ(ReadUrlConfig(QStringLiteral("HelpPage")), DefaultHomePage);
  WriteTextFile(Folder.File(QStringLiteral("URL.cfg")), "[URL]\nHelpPage=https://help.example/\n");
  EXPECT_EQ(ReadUrlConfig(QStringLiteral("HelpPage")), QStringLiteral("https://help.example/"));
  EXPECT_EQ(ReadUrlConfig(QStringLiteral("HomePage")), DefaultHomePage);
}

TEST_F(ConfigTest, TheShippedUrlCfgNamesBothPages) {
  const QString shipped = QStringLiteral(FENNICK_BIN_DIR "/URL.cfg");
  for (const char* key : {"HomePage", "HelpPage"}) {
    const QString page =
        ReadIniValue(shipped, QStringLiteral("URL"), QString::fromLatin1(key), QString());
    EXPECT_TRUE(page.startsWith(QStringLiteral("https://"))) << key << ": " << qPrintable(page);
  }
}

TEST_F(ConfigTest, VersionTextsComeFromTheBuildsVersion) {
  EXPECT_EQ(GetFileVersionText(true), QStringLiteral(FENNICK_PROJECT_VERSION));
  EXPECT_EQ(GetFileVersionText(false),
            QStringLiteral(FENNICK_PROJECT_VERSION).section(QLatin1Char('.'), 0, 2));
}

}  // namespace
