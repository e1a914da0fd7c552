// Single-instance guard: one running copy per user, held by a lock file in the user's own
// runtime folder.
#pragma once

#include <QString>

// Names the lock that a running copy of the program holds.
inline const QString AppMutexName = QStringLiteral("{B7AE1E92-DF16-425A-A984-453ECE6A6338}");

// The lock file of that name: in the user's runtime folder (XDG_RUNTIME_DIR) when it names
// one, else in a folder of the user's own, "fennick-" and the user's id, in the temporary
// folder (TMPDIR when it names a folder, else /tmp), so that users never share a lock.
QString InstanceLockFile(const QString& MutexName);

// True when another running process of this user holds the lock of that name. Otherwise
// this process takes the lock and keeps it until it ends. A lock left behind by a process
// that died is taken over. A lock that cannot be made, a folder for it in the temporary
// folder that is not the user's alone (another user's, open to others, a link) and a lock
// file that belongs to another user are reported on stderr, kept for InstanceLockProblem,
// and count as no other copy running.
bool IsAlreadyRunning(const QString& MutexName);

// Why the last IsAlreadyRunning could not take its lock; empty when it could.
QString InstanceLockProblem();
