#include "AppTestSupport.h"
#include "VelLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

bool Matches(const QString& Line, const QString& Pattern) {
  return QRegularExpression(QRegularExpression::anchoredPattern(Pattern)).match(Line).hasMatch();
}

QString LogName(const TScratchFolder& Folder, int Number) {
  return Folder.File(QStringLiteral("Log/log%1.txt").arg(Number));
}

// Fills Log/ with the numbered files given, each holding its own number.
void MakeOldLogs(const TScratchFolder& Folder, std::initializer_list<int> Numbers) {
  QDir().mkpath(Folder.File(QStringLiteral("Log")));
  for (int n : Numbers) WriteTextFile(LogName(Folder, n), "run " + QByteArray::number(n) + "\n");
}

// The rotation tests start the global writer; it must not outlive their folders.
class VelLogRotation : public testing::Test {
 protected:
  void TearDown() override { VelLog = TVelLog(); }
};

TEST(VelLog, CreatesTheFileEmptyAndKeepsAnExistingOne) {
  TScratchFolder folder;
  TVelLog fresh(folder.File(QStringLiteral("new.txt")));
  EXPECT_TRUE(QFile::exists(fresh.FileName()));
  EXPECT_TRUE(ReadTextFile(fresh.FileName()).isEmpty());

  WriteTextFile(folder.File(QStringLiteral("old.txt")), "kept\n");
  TVelLog existing(folder.File(QStringLiteral("old.txt")));
  EXPECT_EQ(ReadTextFile(existing.FileName()), QByteArray("kept\n"));
}

TEST(VelLog, OrdinaryAndErrorEntriesHaveTheStampAndTheirBlanks) {
  TScratchFolder folder;
  TVelLog log(folder.File(QStringLiteral("log.txt")));
  const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
  log.WriteInfo(QStringLiteral("Success to Load File a.avi"));
  log.WriteError(QStringLiteral("Could not open b.avi"));
  log.WriteInfo(QString());
  const QDateTime after = QDateTime::currentDateTime().addSecs(1);

  const QStringList lines = ReadLines(log.FileName());
  ASSERT_EQ(lines.size(), 3);
  EXPECT_TRUE(Matches(lines[0], StampPattern(QStringLiteral("    ")) +
                                    QStringLiteral("Success to Load File a\\.avi")))
      << qPrintable(lines[0]);
  EXPECT_TRUE(Matches(
      lines[1], StampPattern(QStringLiteral("  ")) + QStringLiteral("Could not open b\\.avi")))
      << qPrintable(lines[1]);
  EXPECT_TRUE(Matches(lines[2], StampPattern(QStringLiteral("    ")))) << qPrintable(lines[2]);

  // The stamp is the local time of the entry, on a 24-hour clock.
  const QDateTime stamp =
      QDateTime::fromString(lines[0].left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  ASSERT_TRUE(stamp.isValid());
  EXPECT_LE(before, stamp);
  EXPECT_LE(stamp, after);
}

TEST(VelLog, ContinuationLinesAndNonAsciiTextKeepLfEnds) {
  TScratchFolder folder;
  TVelLog log(folder.File(QStringLiteral("log.txt")));
  const QString indent(23, QLatin1Char(' '));
  log.WriteInfo(QStringLiteral("Success to Load File \u00E9t\u00E9.mp4\r\n") + indent +
                QStringLiteral("Video Encoder: [h264]"));

  const QByteArray bytes = ReadTextFile(log.FileName());
  EXPECT_FALSE(bytes.contains('\r'));
  const QStringList lines = ReadLines(log.FileName());
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines[0].endsWith(QStringLiteral("    Success to Load File \u00E9t\u00E9.mp4")));
  EXPECT_EQ(lines[1], indent + QStringLiteral("Video Encoder: [h264]"));
}

TEST(VelLog, EachEntryIsOnDiskAsSoonAsItIsWritten) {
  TScratchFolder folder;
  TVelLog log(folder.File(QStringLiteral("log.txt")));
  log.WriteInfo(QStringLiteral("one"));
  EXPECT_EQ(ReadLines(log.FileName()).size(), 1);
  TVelLog(log.FileName()).WriteError(QStringLiteral("two"));
  log.WriteInfo(QStringLiteral("three"));
  const QStringList lines = ReadLines(log.FileName());
  ASSERT_EQ(lines.size(), 3);
  EXPECT_TRUE(lines[2].endsWith(QStringLiteral("    three")));
}

TEST(VelLog, AWriteFailureIsReportedOnceAndTheWriterRecovers) {
  TScratchFolder folder;
  const QString missingFolder = folder.File(QStringLiteral("gone"));
  static QStringList warnings;
  warnings.clear();
  const QtMessageHandler previous = qInstallMessageHandler(
      [](QtMsgType, const QMessageLogContext&, const QString& Text) { warnings.append(Text); });

  TVelLog log(missingFolder + QStringLiteral("/log.txt"));
  log.WriteInfo(QStringLiteral("lost"));
  log.WriteError(QStringLiteral("lost too"));
  ASSERT_TRUE(QDir().mkpath(missingFolder));
  log.WriteInfo(QStringLiteral("back"));
  qInstallMessageHandler(previous);

  // One warning for the file that could not be made and none per lost entry after it.
  ASSERT_EQ(warnings.size(), 1);
  EXPECT_TRUE(warnings[0].contains(QStringLiteral("log.txt")));
  const QStringList lines = ReadLines(log.FileName());
  ASSERT_EQ(lines.size(), 1);
  EXPECT_TRUE(lines[0].endsWith(QStringLiteral("    back")));
}

TEST_F(VelLogRotation, ElevenStartsKeepTheNewestTenWithTheNewestAsLog1) {
  TScratchFolder folder;
  for (int run = 1; run <= 11; ++run) {
    InitVelLog(folder.Path());
    VelLog.WriteInfo(QStringLiteral("run %1").arg(run));
  }
  const QStringList files = QDir(folder.File(QStringLiteral("Log"))).entryList(QDir::Files);
  EXPECT_EQ(files.size(), 10);
  for (int n = 1; n <= 10; ++n) {
    const QStringList lines = ReadLines(LogName(folder, n));
    ASSERT_EQ(lines.size(), 1) << n;
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("    run %1").arg(12 - n)))
        << qPrintable(lines[0]);
  }
}

TEST_F(VelLogRotation, GapsInTheNumberingMoveEachFileUpByOne) {
  TScratchFolder folder;
  MakeOldLogs(folder, {1, 3, 9});
  RotateLogFiles(folder.File(QStringLiteral("Log")));
  EXPECT_FALSE(QFile::exists(LogName(folder, 1)));
  EXPECT_EQ(ReadTextFile(LogName(folder, 2)), QByteArray("run 1\n"));
  EXPECT_FALSE(QFile::exists(LogName(folder, 3)));
  EXPECT_EQ(ReadTextFile(LogName(folder, 4)), QByteArray("run 3\n"));
  EXPECT_EQ(ReadTextFile(LogName(folder, 10)), QByteArray("run 9\n"));
}

TEST_F(VelLogRotation, AFirstStartMakesTheLogFolder) {
  TScratchFolder folder;
  InitVelLog(folder.Path());
  VelLog.WriteInfo(QStringLiteral("first"));
  EXPECT_EQ(QDir(folder.File(QStringLiteral("Log"))).entryList(QDir::Files),
            QStringList{QStringLiteral("log1.txt")});
  EXPECT_EQ(ReadLines(LogName(folder, 1)).size(), 1);
}

}  // namespace
