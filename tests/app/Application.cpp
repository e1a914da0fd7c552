#include "QtTestApplication.h"

namespace {

// The widgets need one application object for the whole test program.
[[maybe_unused]] testing::Environment* const Environment = AddQtTestApplication();

}  // namespace
