// The program's start-up: the single-instance test, the log, the splash, the
// system report and the main window, in that order.
#pragma once

#include <QStringList>

#include <memory>

class QMessageBox;
class QWidget;
class Taboutfrm;

// The whole run of the program; the result is the process's exit code.
int RunFennick(int argc, char* argv[]);

// The about box as a stay-on-top splash that takes no input.
std::unique_ptr<Taboutfrm> ShowSplash();

// What keeps the program from working as usual (its single-instance lock, a settings file it
// must keep as it is), said over the main window, which would otherwise hide it, without
// holding up the start. Nothing is shown for no problem.
QMessageBox* ReportStartProblems(QWidget* Parent, const QStringList& Problems);

// Writes the block of system facts (system, memory, language, screen, version) to the log.
void LogSystemInfo();
