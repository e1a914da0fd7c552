#include "U_OnlyApps.h"

#include <QDir>
#include <QFile>
#include <QUuid>
#include <gtest/gtest.h>

namespace {

TEST(SingleInstance, ASecondStartFindsTheFirstRunning) {
  const QString name =
      QStringLiteral("fennick-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
  EXPECT_FALSE(IsAlreadyRunning(name));
  EXPECT_TRUE(QFile::exists(QDir::temp().filePath(name + QStringLiteral(".lock"))));
  EXPECT_TRUE(IsAlreadyRunning(name));
}

}  // namespace
