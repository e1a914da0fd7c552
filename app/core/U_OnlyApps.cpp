#include "U_OnlyApps.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

std::unique_ptr<QLockFile> InstanceLock;
QString LockProblem;

bool IsFolder(const QString& Path) { return !Path.isEmpty() && QFileInfo(Path).isDir(); }

QString LockErrorText(QLockFile::LockError Error) {
  return Error == QLockFile::PermissionError ? QStringLiteral("no permission to create it")
                                             : QStringLiteral("the folder cannot hold it");
}

}  // namespace

QString InstanceLockFile(const QString& MutexName) {
  // The temporary folder also holds a folder of this very name for watermark copies,
  // so the lock file needs its own extension.
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (QDir::isAbsolutePath(runtime) && IsFolder(runtime))
    return QDir(runtime).filePath(MutexName + QStringLiteral(".lock"));
  // Qt's temporary path is empty when TMPDIR names no folder: that would be the current one.
  const QString temp = IsFolder(QDir::tempPath()) ? QDir::tempPath() : QStringLiteral("/tmp");
  return QDir(temp).filePath(MutexName + QStringLiteral("-%1.lock").arg(getuid()));
}

bool IsAlreadyRunning(const QString& MutexName) {
  auto lock = std::make_unique<QLockFile>(InstanceLockFile(MutexName));
  // A copy may run for days: only the lock of a process that is gone counts as stale.
  lock->setStaleLockTime(0);
  LockProblem.clear();
  if (lock->tryLock(0)) {
    InstanceLock = std::move(lock);
    return false;
  }
  if (lock->error() == QLockFile::LockFailedError) return true;
  LockProblem = QStringLiteral(
                    "Cannot create the single-instance lock \"%1\": %2. The program "
                    "runs without it, so a second copy would not be stopped.")
                    .arg(lock->fileName(), LockErrorText(lock->error()));
  std::fprintf(stderr, "%s\n", qUtf8Printable(LockProblem));
  return false;
}

QString InstanceLockProblem() { return LockProblem; }
