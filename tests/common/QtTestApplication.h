// One QApplication for the whole test program, made before the first test and deleted after the
// last. A suite that shows widgets includes this header in one of its files.
#pragma once

#include <QApplication>
#include <gtest/gtest.h>

class TQtTestApplication : public testing::Environment {
 public:
  void SetUp() override { FApplication = new QApplication(FArgc, FArgv); }
  void TearDown() override { delete FApplication; }

 private:
  int FArgc = 1;
  char FName[6] = "tests";
  char* FArgv[2] = {FName, nullptr};
  QApplication* FApplication = nullptr;
};

// Registers the application environment; call from one namespace-scope initialiser.
inline testing::Environment* AddQtTestApplication() {
  return testing::AddGlobalTestEnvironment(new TQtTestApplication);
}
