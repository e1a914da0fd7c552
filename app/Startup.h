// The program's start-up: the single-instance test, the log, the splash, the
// system report and the main window, in that order.
#pragma once

#include <memory>

class Taboutfrm;

// The whole run of the program; the result is the process's exit code.
int RunFennick(int argc, char* argv[]);

// The about box as a stay-on-top splash that takes no input.
std::unique_ptr<Taboutfrm> ShowSplash();

class TMainfrm;

// The main window's libraries, loaded while the splash shows; the splash is freed before an
// error is shown.
bool LoadMediaLibraries(TMainfrm& Window, std::unique_ptr<Taboutfrm>& Splash);

// Writes the block of system facts (system, memory, language, screen, version) to the log.
void LogSystemInfo();
