#include "QtTestEnvironment.h"
#include "ShockwaveEx.h"

namespace {

// The widgets need one application object for the whole test program, made as the program
// makes it.
[[maybe_unused]] testing::Environment* const Environment =
    testing::AddGlobalTestEnvironment(new TQtTestEnvironment<TFlashReadyApplication>);

}  // namespace
