#include "QtTestApplication.h"
#include "ShockwaveEx.h"
#include "WindowPlace.h"

namespace {

// Once the application object exists, its windows' places are watched as the program's are.
class TWindowPlaces : public testing::Environment {
 public:
  void SetUp() override { WatchWindowPlaces(); }
};

// The widgets need one application object for the whole test program, made after the web
// engine was prepared as the program prepares it.
[[maybe_unused]] testing::Environment* const Environment =
    (PrepareFlashRuntime(), AddQtTestApplication());
[[maybe_unused]] testing::Environment* const WindowPlaces =
    testing::AddGlobalTestEnvironment(new TWindowPlaces);

}  // namespace
