#include "QtTestEnvironment.h"
#include "ShockwaveEx.h"
#include "WindowPlace.h"

namespace {

// The widgets need one application object for the whole test program, made as the program
// makes it.
[[maybe_unused]] testing::Environment* const Environment =
    testing::AddGlobalTestEnvironment(new TQtTestEnvironment<TFlashReadyApplication>);

// Once the application object exists, its windows' places are watched as the program's are.
class TWindowPlaces : public testing::Environment {
 public:
  void SetUp() override { WatchWindowPlaces(); }
};
[[maybe_unused]] testing::Environment* const WindowPlaces =
    testing::AddGlobalTestEnvironment(new TWindowPlaces);

}  // namespace
