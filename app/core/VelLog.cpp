#include "VelLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QtGlobal>

#include <mutex>

TVelLog VelLog;

namespace {

constexpr int MaxLogFiles = 10;

QString LogFileName(const QString& LogFolder, int Number) {
  return QDir(LogFolder).filePath(QStringLiteral("log%1.txt").arg(Number));
}

}  // namespace

TVelLog::TVelLog(const QString& FileName) : FFileName(FileName) {
  if (FFileName.isEmpty() || QFile::exists(FFileName)) return;
  QFile file(FFileName);
  if (!file.open(QIODevice::WriteOnly)) ReportFailure(file.errorString());
}

void TVelLog::WriteInfo(const QString& Text) { Write(QStringLiteral("    "), Text); }

void TVelLog::WriteError(const QString& Text) { Write(QStringLiteral("  "), Text); }

void TVelLog::Write(const QString& Blanks, const QString& Text) {
  if (FFileName.isEmpty()) return;
  const QString stamp =
      QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  // Callers continue long entries on further lines; the file keeps LF line ends only.
  QString line = stamp + Blanks + Text + QLatin1Char('\n');
  line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));

  // Whole lines, and one failure notice, when two threads write at once.
  static std::mutex lock;
  const std::lock_guard<std::mutex> guard(lock);
  QFile file(FFileName);
  const QByteArray bytes = line.toUtf8();
  if (!file.open(QIODevice::Append) || file.write(bytes) != bytes.size() || !file.flush()) {
    ReportFailure(file.errorString());
    return;
  }
  FFailing = false;
}

void TVelLog::ReportFailure(const QString& Reason) {
  if (FFailing) return;
  FFailing = true;
  qWarning("Cannot write the log file %s: %s", qUtf8Printable(FFileName), qUtf8Printable(Reason));
}

void RotateLogFiles(const QString& LogFolder) {
  for (int i = MaxLogFiles; i >= 1; --i) {
    const QString name = LogFileName(LogFolder, i);
    if (!QFile::exists(name)) continue;
    const bool done =
        i == MaxLogFiles ? QFile::remove(name) : QFile::rename(name, LogFileName(LogFolder, i + 1));
    if (!done) qWarning("Cannot rotate the log file %s", qUtf8Printable(name));
  }
}

void InitVelLog(const QString& ProgramFolder) {
  const QString logFolder = QDir(ProgramFolder).filePath(QStringLiteral("Log"));
  if (!QDir().mkpath(logFolder))
    qWarning("Cannot create the log folder %s", qUtf8Printable(logFolder));
  RotateLogFiles(logFolder);
  VelLog = TVelLog(LogFileName(logFolder, 1));
}
