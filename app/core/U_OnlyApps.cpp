#include "U_OnlyApps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::unique_ptr<QLockFile> InstanceLock;
QString LockProblem;

bool IsFolder(const QString& Path) { return !Path.isEmpty() && QFileInfo(Path).isDir(); }

// The user's runtime folder, when the session names one.
QString RuntimeFolder() {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  return QDir::isAbsolutePath(runtime) && IsFolder(runtime) ? runtime : QString();
}

// Without a runtime folder: a folder of the user's own in the temporary folder (TMPDIR when
// it names a folder, else /tmp; Qt's temporary path would be the current folder then).
QString FallbackFolder() {
  const QString temp = IsFolder(QDir::tempPath()) ? QDir::tempPath() : QStringLiteral("/tmp");
  return QDir(temp).filePath(QStringLiteral("fennick-%1").arg(getuid()));
}

// Makes the fallback folder when it is missing. Anyone may have put something of that name
// into the shared temporary folder first: only a real folder of this user's, closed to
// everyone else, may hold the lock. Why it may not, or empty.
QString FallbackFolderProblem(const QString& Folder) {
  const QByteArray path = QFile::encodeName(Folder);
  struct stat info {};
  if (mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
    return QStringLiteral("its folder %1 cannot be made (%2)")
        .arg(Folder, QString::fromLocal8Bit(std::strerror(errno)));
  if (lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
    return QStringLiteral("its folder %1 is a link or a file, not a folder").arg(Folder);
  if (info.st_uid != getuid())
    return QStringLiteral("its folder %1 belongs to another user").arg(Folder);
  if ((info.st_mode & 077) != 0)
    return QStringLiteral("its folder %1 is open to other users").arg(Folder);
  return QString();
}

QString LockErrorText(QLockFile::LockError Error) {
  return Error == QLockFile::PermissionError ? QStringLiteral("no permission to create it")
                                             : QStringLiteral("the folder cannot hold it");
}

// Another user's lock is no copy of ours, however alive its process is.
bool IsOurs(const QString& LockFile) {
  struct stat info {};
  return lstat(QFile::encodeName(LockFile).constData(), &info) != 0 || info.st_uid == getuid();
}

// The program runs on without the lock, and says why a second copy may start.
void ReportLockProblem(const QString& LockFile, const QString& Reason) {
  LockProblem = QStringLiteral(
                    "Cannot create the single-instance lock \"%1\": %2. The program "
                    "runs without it, so a second copy would not be stopped.")
                    .arg(LockFile, Reason);
  std::fprintf(stderr, "%s\n", qUtf8Printable(LockProblem));
}

}  // namespace

QString InstanceLockFile(const QString& MutexName) {
  // The temporary folder also holds a folder of this very name for watermark copies,
  // so the lock file needs its own extension.
  const QString runtime = RuntimeFolder();
  return QDir(runtime.isEmpty() ? FallbackFolder() : runtime)
      .filePath(MutexName + QStringLiteral(".lock"));
}

bool IsAlreadyRunning(const QString& MutexName) {
  LockProblem.clear();
  const QString fileName = InstanceLockFile(MutexName);
  if (RuntimeFolder().isEmpty()) {
    const QString problem = FallbackFolderProblem(FallbackFolder());
    if (!problem.isEmpty()) {
      ReportLockProblem(fileName, problem);
      return false;
    }
  }
  auto lock = std::make_unique<QLockFile>(fileName);
  // A copy may run for days: only the lock of a process that is gone counts as stale.
  lock->setStaleLockTime(0);
  if (lock->tryLock(0)) {
    InstanceLock = std::move(lock);
    return false;
  }
  if (lock->error() != QLockFile::LockFailedError)
    ReportLockProblem(fileName, LockErrorText(lock->error()));
  else if (!IsOurs(fileName))
    ReportLockProblem(fileName, QStringLiteral("a file of that name belongs to another user"));
  else
    return true;
  return false;
}

QString InstanceLockProblem() { return LockProblem; }
