#include "AppTestSupport.h"
#include "U_Config.h"
#include "U_option.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

TEST(Options, OnlyChangedValuesAreWritten) {
  const struct {
    const char* Name;
    bool NewFolder;
    const char* Extension;
    QByteArray After;
  } cases[] = {
      {"nothing changed", false, "bmp", {}},
      {"the format", false, "jpg", "SnapshotExt=jpg\n"},
      {"the folder", true, "bmp", "SnapshotPath=<new>\n"},
  };
  for (const auto& c : cases) {
    TScratchFolder folder;
    const QString ini = folder.File("Fennick.ini");
    WriteTextFile(ini, "; kept as the user wrote it\n[Output]\nSnapshotPath=" +
                           QFile::encodeName(folder.Path()) + "\nSnapshotExt=bmp\n");
    TMainSettings settings(ini, DataPlacesFor(folder.Path() + "/", true));
    const QByteArray before = ReadTextFile(ini);
    const QString newFolder = folder.File("shots");
    const QString chosen = c.NewFolder ? newFolder : folder.Path();
    ASSERT_TRUE(ApplySnapshotOptions(settings, chosen, QString::fromLatin1(c.Extension)));
    QByteArray expected = before;
    if (!c.After.isEmpty()) {
      const QByteArray key = c.After.left(c.After.indexOf('=') + 1);
      const qsizetype at = expected.indexOf("\n" + key) + 1;
      const qsizetype end = expected.indexOf('\n', at) + 1;
      QByteArray line = c.After;
      line.replace("<new>", QFile::encodeName(newFolder));
      expected.replace(at, end - at, line);
    }
    EXPECT_EQ(ReadTextFile(ini), expected) << c.Name;
    EXPECT_EQ(settings.Value(TMainSettings::SnapshotPath), chosen) << c.Name;
    EXPECT_EQ(settings.Value(TMainSettings::SnapshotExt), QString::fromLatin1(c.Extension));
  }
}

TEST(Options, FoldersThatCannotTakeSnapshotsAreRefused) {
  TScratchFolder writable;
  TScratchFolder locked;
  QFile::setPermissions(locked.Path(), QFile::ReadOwner | QFile::ExeOwner);
  const bool lockHolds = !IsFolderWritable(locked.Path());
  const struct {
    QString Folder;
    QString Refusal;
  } cases[] = {
      {writable.Path(), QString()},
      {QStringLiteral("/proc/self"), UnwritableFolderText},
      {lockHolds ? locked.Path() : QStringLiteral("/sys"), UnwritableFolderText},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SnapshotFolderRefusal(c.Folder), c.Refusal) << qPrintable(c.Folder);
  QFile::setPermissions(locked.Path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The folder may have been deleted since it was chosen, or a file put in its place.
TEST(Options, TheSnapshotFolderIsMadeAgainOrSaysWhyNot) {
  TScratchFolder scratch;
  const QString file = scratch.File("a file");
  WriteTextFile(file, "not a folder");
  const struct {
    QString Folder;
    QString Problem;
  } cases[] = {
      {scratch.Path(), QString()},
      {scratch.File("deleted/shots"), QString()},
      {file, "The snapshot folder " + file + " does not exist and cannot be made: "},
  };
  for (const auto& c : cases) {
    const QString problem = PrepareSnapshotFolder(c.Folder);
    if (c.Problem.isEmpty()) {
      EXPECT_EQ(problem, QString()) << qPrintable(c.Folder);
      EXPECT_TRUE(QFileInfo(c.Folder).isDir()) << qPrintable(c.Folder);
    } else {
      EXPECT_TRUE(problem.startsWith(c.Problem) && problem.size() > c.Problem.size())
          << qPrintable(problem);
    }
  }
}

TEST(Options, FormatItemsNameTheirExtensions) {
  const QStringList items = SnapshotFormatItems();
  ASSERT_EQ(items.size(), 2);
  EXPECT_EQ(FormatItemExtension(items[0]), QStringLiteral("bmp"));
  EXPECT_EQ(FormatItemExtension(items[1]), QStringLiteral("jpg"));
  EXPECT_EQ(FormatItemExtension(QStringLiteral("no pattern")), QString());
  const struct {
    const char* Extension;
    int Index;
  } cases[] = {{"bmp", 0}, {"JPG", 1}, {"png", 0}, {"", 0}};
  for (const auto& c : cases)
    EXPECT_EQ(SnapshotFormatIndex(QString::fromLatin1(c.Extension)), c.Index) << c.Extension;
}

}  // namespace
