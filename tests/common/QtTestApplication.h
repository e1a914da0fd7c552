// One QApplication for the whole test program, made before the first test and deleted after the
// last. A suite that shows widgets includes this header in one of its files.
#pragma once

#include "QtTestEnvironment.h"

#include <QApplication>

// Registers the application environment; call from one namespace-scope initialiser.
inline testing::Environment* AddQtTestApplication() {
  return testing::AddGlobalTestEnvironment(new TQtTestEnvironment<QApplication>);
}
