#include "AppTestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

QString ScratchTemplate() {
  QDir().mkpath(QStringLiteral(FENNICK_TEST_WORK_DIR));
  return QStringLiteral(FENNICK_TEST_WORK_DIR "/app-f\u00E9nnick \u89C6\u9891-XXXXXX");
}

}  // namespace

TScratchFolder::TScratchFolder() : FDir(ScratchTemplate()) {
  EXPECT_TRUE(FDir.isValid()) << qPrintable(FDir.errorString());
}

void WriteTextFile(const QString& FileName, const QByteArray& Content) {
  QFile file(FileName);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << qPrintable(FileName);
  ASSERT_EQ(file.write(Content), Content.size());
}

QByteArray ReadTextFile(const QString& FileName) {
  QFile file(FileName);
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << qPrintable(FileName);
  return file.readAll();
}

QStringList ReadLines(const QString& FileName) {
  QStringList lines = QString::fromUtf8(ReadTextFile(FileName)).split(QLatin1Char('\n'));
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

QString StampPattern(const QString& Blanks) {
  return QStringLiteral("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}") + Blanks;
}

TSpecialFiles MakeSpecialFiles(const TScratchFolder& Folder) {
  const TSpecialFiles files{Folder.File(QStringLiteral("pipe.mp4")),
                            Folder.File(QStringLiteral("zero.dv"))};
  EXPECT_EQ(mkfifo(QFile::encodeName(files.Pipe).constData(), 0600), 0);
  EXPECT_TRUE(QFile::link(QStringLiteral("/dev/zero"), files.Zero));
  return files;
}

int OpenDescriptors() { return int(QDir(QStringLiteral("/proc/self/fd")).count()) - 2; }

TFileLimit::TFileLimit(int Free) {
  rlim_t limit = 0;
  for (int free = 0; free < Free; ++limit)
    if (fcntl(int(limit), F_GETFD) == -1) ++free;
  getrlimit(RLIMIT_NOFILE, &FSaved);
  const rlimit lowered{limit, FSaved.rlim_max};
  EXPECT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
}

TFileLimit::~TFileLimit() { setrlimit(RLIMIT_NOFILE, &FSaved); }
