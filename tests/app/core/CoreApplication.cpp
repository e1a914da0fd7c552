#include "QtTestEnvironment.h"

#include <QCoreApplication>

namespace {

// The core needs an application object for the whole test program, and no screen.
[[maybe_unused]] testing::Environment* const Environment =
    testing::AddGlobalTestEnvironment(new TQtTestEnvironment<QCoreApplication>);

}  // namespace
