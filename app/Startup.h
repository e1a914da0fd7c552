// The program's start-up: the single-instance test, the log, the splash, the
// system report and the main window, in that order.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class QMessageBox;
class QWidget;
class Taboutfrm;

// The session bus address to set before any library asks for a bus: empty when there is one
// (named, or the user bus's socket in the runtime folder); else the place where a user bus
// would be, where connecting fails at once instead of libdbus launching a bus daemon through
// X11 that outlives the program. The program itself needs no session bus.
QByteArray UnlaunchedSessionBusAddress(const QByteArray& Address, const QString& RuntimeDir,
                                       uint Uid);

// The whole run of the program; the result is the process's exit code.
int RunFennick(int argc, char* argv[]);

// The about box as a stay-on-top splash that takes no input.
std::unique_ptr<Taboutfrm> ShowSplash();

// What keeps the program from working as usual (its single-instance lock, a settings file it
// must keep as it is), said over the main window, which would otherwise hide it, without
// holding up the start. Nothing is shown for no problem.
QMessageBox* ReportStartProblems(QWidget* Parent, const QStringList& Problems);

class TMainfrm;

// The main window's libraries, loaded while the splash shows; the splash is freed before an
// error is shown.
bool LoadMediaLibraries(TMainfrm& Window, std::unique_ptr<Taboutfrm>& Splash);

// Writes the block of system facts (system, memory, language, screen, version) to the log.
void LogSystemInfo();
