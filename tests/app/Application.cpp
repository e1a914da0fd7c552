#include "QtTestApplication.h"
#include "ShockwaveEx.h"

namespace {

// The widgets need one application object for the whole test program, made after the web
// engine was prepared as the program prepares it.
[[maybe_unused]] testing::Environment* const Environment =
    (PrepareFlashRuntime(), AddQtTestApplication());

}  // namespace
