#include "U_OnlyApps.h"

#include <QDir>
#include <QLockFile>
#include <memory>

namespace {

std::unique_ptr<QLockFile> InstanceLock;

}  // namespace

bool IsAlreadyRunning(const QString& MutexName) {
  // The temporary folder also holds a folder of this very name for watermark copies,
  // so the lock file needs its own extension.
  auto lock =
      std::make_unique<QLockFile>(QDir::temp().filePath(MutexName + QStringLiteral(".lock")));
  // A copy may run for days: only the lock of a process that is gone counts as stale.
  lock->setStaleLockTime(0);
  if (lock->tryLock(0)) {
    InstanceLock = std::move(lock);
    return false;
  }
  if (lock->error() == QLockFile::LockFailedError) return true;
  qWarning("Cannot create the single-instance lock %s; starting without it",
           qUtf8Printable(lock->fileName()));
  return false;
}
