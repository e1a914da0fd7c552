// Single-instance guard: a lock file in the user's temporary folder.
#pragma once

#include <QString>

// Names the lock that a running copy of the program holds.
inline const QString AppMutexName = QStringLiteral("{B7AE1E92-DF16-425A-A984-453ECE6A6338}");

// True when another running process holds the lock of that name. Otherwise this
// process takes the lock and keeps it until it ends. A lock left behind by a process
// that died is taken over.
bool IsAlreadyRunning(const QString& MutexName);
