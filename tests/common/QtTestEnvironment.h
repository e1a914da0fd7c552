// The one Qt application object of a test program, made before the first test and deleted after
// the last: QCoreApplication for a suite without a screen, QApplication for one with widgets.
#pragma once

#include <gtest/gtest.h>

#include <memory>

template <class TApplication>
class TQtTestEnvironment : public testing::Environment {
 public:
  void SetUp() override { FApplication = std::make_unique<TApplication>(FArgc, FArgv); }
  void TearDown() override { FApplication.reset(); }

 private:
  int FArgc = 1;
  char FName[6] = "tests";
  char* FArgv[2] = {FName, nullptr};
  std::unique_ptr<TApplication> FApplication;
};
