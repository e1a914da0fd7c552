// The suites' main: headless defaults for Qt and SDL unless the caller chose otherwise, so a
// test program behaves the same under CTest and when run by hand.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>
#include <thread>

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Offscreen means no X server at all: the web engine would otherwise still reach the one of
  // a desktop terminal, and the test would depend on where it is started.
  if (std::string_view(std::getenv("QT_QPA_PLATFORM")) == "offscreen") ::unsetenv("DISPLAY");
  ::setenv("SDL_VIDEODRIVER", "dummy", 0);
  ::setenv("SDL_AUDIODRIVER", "dummy", 0);
#ifdef __SANITIZE_THREAD__
  // ThreadSanitizer starts a thread of its own with the process's first thread: start it now,
  // so that the tests which count the process's threads count only those of the code under test.
  std::thread([] {}).join();
#endif
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
