#include "AppTestSupport.h"
#include "IniFiles.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

const QByteArray Sample =
    "; written by hand\r\n"
    "[Output]\r\n"
    "SnapshotPath = /home/ann/Snapshot/ \r\n"
    "OutputPath=\r\n"
    "\r\n"
    "[SWFSet]\r\n"
    "BGColor=16711680\r\n"
    "isflv=1\r\n"
    "Autoplay=yes\r\n";

TEST(IniFile, ReadsSectionsAndKeysWithoutRegardToCase) {
  TScratchFolder folder;
  WriteTextFile(folder.File(QStringLiteral("Fennick.ini")), Sample);
  const TIniFile ini(folder.File(QStringLiteral("Fennick.ini")));

  EXPECT_EQ(
      ini.ReadString(QStringLiteral("output"), QStringLiteral("SNAPSHOTPATH"), QStringLiteral("x")),
      QStringLiteral("/home/ann/Snapshot/"));
  // A key that is present but empty reads as empty, not as the default.
  EXPECT_EQ(
      ini.ReadString(QStringLiteral("Output"), QStringLiteral("OutputPath"), QStringLiteral("x")),
      QString());
  EXPECT_EQ(
      ini.ReadString(QStringLiteral("Output"), QStringLiteral("SourcePath"), QStringLiteral("x")),
      QStringLiteral("x"));
  EXPECT_EQ(
      ini.ReadString(QStringLiteral("Video"), QStringLiteral("SnapshotPath"), QStringLiteral("x")),
      QStringLiteral("x"));
  // Keys belong to their own section only.
  EXPECT_EQ(
      ini.ReadString(QStringLiteral("SWFSet"), QStringLiteral("SnapshotPath"), QStringLiteral("x")),
      QStringLiteral("x"));
}

TEST(IniFile, IntegersAndBooleansFollowTheClassicConvention) {
  TScratchFolder folder;
  WriteTextFile(folder.File(QStringLiteral("FormatDefault.ini")), Sample);
  TIniFile ini(folder.File(QStringLiteral("FormatDefault.ini")));

  EXPECT_EQ(ini.ReadInteger(QStringLiteral("SWFSet"), QStringLiteral("BGColor"), 0), 16711680);
  EXPECT_EQ(ini.ReadInteger(QStringLiteral("SWFSet"), QStringLiteral("Autoplay"), 7), 7);
  EXPECT_EQ(ini.ReadInteger(QStringLiteral("SWFSet"), QStringLiteral("Missing"), -3), -3);
  EXPECT_TRUE(ini.ReadBool(QStringLiteral("SWFSet"), QStringLiteral("isflv"), false));
  EXPECT_FALSE(ini.ReadBool(QStringLiteral("SWFSet"), QStringLiteral("Autoplay"), false));
  EXPECT_TRUE(ini.ReadBool(QStringLiteral("SWFSet"), QStringLiteral("Autohide"), true));

  ASSERT_TRUE(ini.WriteBool(QStringLiteral("SWFSet"), QStringLiteral("Autohide"), false));
  ASSERT_TRUE(ini.WriteInteger(QStringLiteral("Audio"), QStringLiteral("AudioVolume"), -256));
  const TIniFile reread(ini.FileName());
  EXPECT_EQ(reread.ReadString(QStringLiteral("SWFSet"), QStringLiteral("Autohide"), QString()),
            QStringLiteral("0"));
  EXPECT_FALSE(reread.ReadBool(QStringLiteral("SWFSet"), QStringLiteral("Autohide"), true));
  EXPECT_EQ(reread.ReadInteger(QStringLiteral("Audio"), QStringLiteral("AudioVolume"), 0), -256);
}

TEST(IniFile, EachWriteIsOnDiskAtOnceAndKeepsTheRestOfTheFile) {
  TScratchFolder folder;
  const QString name = folder.File(QStringLiteral("Fennick.ini"));
  WriteTextFile(name, Sample);
  TIniFile ini(name);

  ASSERT_TRUE(ini.WriteString(QStringLiteral("OUTPUT"), QStringLiteral("outputpath"),
                              QStringLiteral("/srv/out/")));
  ASSERT_TRUE(ini.WriteString(QStringLiteral("Output"), QStringLiteral("SourcePath"),
                              QStringLiteral("/media/in/")));
  ASSERT_TRUE(ini.WriteString(QStringLiteral("URL"), QStringLiteral("HomePage"),
                              QStringLiteral("https://a.example/")));

  // The file's own spelling of a key and its line ends stay.
  EXPECT_EQ(ReadTextFile(name), QByteArray("; written by hand\r\n"
                                           "[Output]\r\n"
                                           "SnapshotPath = /home/ann/Snapshot/ \r\n"
                                           "OutputPath=/srv/out/\r\n"
                                           "SourcePath=/media/in/\r\n"
                                           "\r\n"
                                           "[SWFSet]\r\n"
                                           "BGColor=16711680\r\n"
                                           "isflv=1\r\n"
                                           "Autoplay=yes\r\n"
                                           "\r\n"
                                           "[URL]\r\n"
                                           "HomePage=https://a.example/\r\n"));
}

TEST(IniFile, TwoObjectsOnOneFileAndEditsByHandNeverUndoEachOther) {
  TScratchFolder folder;
  const QString name = folder.File(QStringLiteral("Fennick.ini"));
  TIniFile kept(name);
  TIniFile other(name);
  ASSERT_TRUE(kept.WriteString(QStringLiteral("Output"), QStringLiteral("OutputPath"),
                               QStringLiteral("/srv/out/")));
  ASSERT_TRUE(other.WriteString(QStringLiteral("Output"), QStringLiteral("SourcePath"),
                                QStringLiteral("/media/in/")));
  EXPECT_EQ(kept.ReadString(QStringLiteral("Output"), QStringLiteral("SourcePath"), QString()),
            QStringLiteral("/media/in/"));

  WriteTextFile(name, ReadTextFile(name) + "[URL]\nHomePage=https://a.example/\n");
  ASSERT_TRUE(kept.WriteString(QStringLiteral("Output"), QStringLiteral("SnapshotExt"),
                               QStringLiteral("jpg")));
  EXPECT_EQ(ReadTextFile(name), QByteArray("[Output]\n"
                                           "OutputPath=/srv/out/\n"
                                           "SourcePath=/media/in/\n"
                                           "SnapshotExt=jpg\n"
                                           "[URL]\n"
                                           "HomePage=https://a.example/\n"));
}

TEST(IniFile, ValuesAreStoredAsWrittenWithoutQuotingOrEscaping) {
  TScratchFolder folder;
  const QString name = folder.File(QStringLiteral("r\u00E9glages.ini"));
  TIniFile ini(name);
  const QString value = QStringLiteral("C:\\V\u00EDdeos\\a=b; \"quoted\" #1");
  ASSERT_TRUE(ini.WriteString(QStringLiteral("Output"), QStringLiteral("SourcePath"), value));
  EXPECT_EQ(ReadTextFile(name),
            (QStringLiteral("[Output]\nSourcePath=") + value + QStringLiteral("\n")).toUtf8());
  EXPECT_EQ(
      TIniFile(name).ReadString(QStringLiteral("Output"), QStringLiteral("SourcePath"), QString()),
      value);
}

TEST(IniFile, AMissingFileReadsAsDefaultsAndIsMadeByTheFirstWrite) {
  TScratchFolder folder;
  const QString name = folder.File(QStringLiteral("FormatDefault.ini"));
  TIniFile ini(name);
  EXPECT_EQ(ini.ReadInteger(QStringLiteral("Format"), QStringLiteral("Formatid"), 1), 1);
  EXPECT_FALSE(QFile::exists(name));
  ASSERT_TRUE(ini.WriteInteger(QStringLiteral("Format"), QStringLiteral("Formatid"), 3));
  EXPECT_EQ(ReadTextFile(name), QByteArray("[Format]\nFormatid=3\n"));
}

TEST(IniFile, AChangeThatCannotBeStoredLeavesTheFileUnchanged) {
  TScratchFolder folder;
  const QString name = folder.File(QStringLiteral("Fennick.ini"));
  WriteTextFile(name, "[Output]\nOutputPath=/a/\n");
  TIniFile ini(name);

  // A line break would turn the rest of the value into an entry of its own.
  EXPECT_FALSE(ini.WriteString(QStringLiteral("Output"), QStringLiteral("OutputPath"),
                               QStringLiteral("/b/\n[Evil]")));
  EXPECT_FALSE(ini.LastErrMsg().isEmpty());
  EXPECT_FALSE(
      ini.WriteString(QStringLiteral("Output"), QStringLiteral("Out=Path"), QStringLiteral("/b/")));
  EXPECT_FALSE(ini.WriteString(QStringLiteral("Out]put"), QStringLiteral("OutputPath"),
                               QStringLiteral("/b/")));

  // A file in a folder that does not exist cannot be saved.
  TIniFile lost(folder.File(QStringLiteral("gone/Fennick.ini")));
  EXPECT_FALSE(lost.WriteString(QStringLiteral("Output"), QStringLiteral("OutputPath"),
                                QStringLiteral("/b/")));
  EXPECT_TRUE(lost.LastErrMsg().contains(QStringLiteral("gone/Fennick.ini")))
      << qPrintable(lost.LastErrMsg());
  EXPECT_EQ(lost.ReadString(QStringLiteral("Output"), QStringLiteral("OutputPath"),
                            QStringLiteral("none")),
            QStringLiteral("none"));

  EXPECT_EQ(ReadTextFile(name), QByteArray("[Output]\nOutputPath=/a/\n"));
  EXPECT_EQ(ini.ReadString(QStringLiteral("Output"), QStringLiteral("OutputPath"), QString()),
            QStringLiteral("/a/"));
}

TEST(IniFile, TellsWhatIsNoSettingsFileAndNeverWritesIt) {
  TScratchFolder folder;
  const struct {
    QByteArray Content;
    const char* Problem;  // empty: a settings file
  } cases[] = {
      {"; caf\xE9\n[Output]\nKey=\xE9t\xE9", ""},
      {"[Output]\r\n = \r\n[Audio\r\n", "line 3 is neither a section, a key nor a comment"},
      {QByteArray("[Output]\nKey=a\0b\n", 17), "line 2 holds binary data"},
      {"[Output]\rKey=b\r\n", "line 1 holds binary data"},
      {"<settings>\n</settings>\n", "line 1 is neither a section, a key nor a comment"},
      {"[Output]\n" + QByteArray(1024 * 1024, ';'), "it is larger than 1 MB"},
  };
  for (const auto& c : cases) {
    const QString name = folder.File(QStringLiteral("URL.cfg"));
    WriteTextFile(name, c.Content);
    TIniFile ini(name);
    const bool settings = *c.Problem == '\0';
    EXPECT_EQ(ini.Problem(),
              settings ? QString() : name + " is not a settings file: " + c.Problem + ".")
        << c.Content.left(40).constData();
    EXPECT_EQ(ini.WriteString(QStringLiteral("URL"), QStringLiteral("HomePage"), "x"), settings);
    if (settings) continue;
    EXPECT_TRUE(ini.LastErrMsg().startsWith(ini.Problem())) << qPrintable(ini.LastErrMsg());
    EXPECT_EQ(ReadTextFile(name), c.Content);
  }
  // A last line without its end gets one before the next line.
  const QString name = folder.File(QStringLiteral("FormatDefault.ini"));
  WriteTextFile(name, "[Format]\r\nFormatid=2");
  ASSERT_TRUE(TIniFile(name).WriteInteger(QStringLiteral("Format"), QStringLiteral("Other"), 3));
  EXPECT_EQ(ReadTextFile(name), "[Format]\r\nFormatid=2\r\nOther=3\r\n");
  EXPECT_TRUE(TIniFile(folder.File(QStringLiteral("missing.ini"))).Problem().isEmpty());
}

}  // namespace
