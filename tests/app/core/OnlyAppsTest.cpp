#include "AppTestSupport.h"
#include "U_OnlyApps.h"

#include <QDir>
#include <QFile>
#include <QUuid>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// Sets environment variables (a null value unsets) for one scope.
class EnvironmentChange {
 public:
  explicit EnvironmentChange(const QList<QPair<const char*, QString>>& Changes) {
    for (const auto& [name, value] : Changes) {
      FSaved.append({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
      value.isNull() ? qunsetenv(name) : qputenv(name, QFile::encodeName(value));
    }
  }
  ~EnvironmentChange() {
    for (const Saved& saved : FSaved)
      saved.WasSet ? qputenv(saved.Name, saved.Value) : qunsetenv(saved.Name);
  }

 private:
  struct Saved {
    const char* Name;
    QByteArray Value;
    bool WasSet;
  };
  QList<Saved> FSaved;
};

TEST(SingleInstance, TheLockLivesInTheUsersRuntimeFolderElseUnderTheUsersId) {
  TScratchFolder folder;
  const QString runtime = folder.Path();
  const QString temp = folder.File(QStringLiteral("tmp"));
  ASSERT_TRUE(QDir().mkpath(temp));
  WriteTextFile(folder.File(QStringLiteral("file")), "not a folder");
  const QString perUser = QStringLiteral("/L-%1.lock").arg(getuid());
  const struct {
    QString Runtime;  // null: unset
    QString Temp;
    QString Expected;
  } cases[] = {
      {runtime, temp, runtime + QStringLiteral("/L.lock")},
      {QString(), temp, temp + perUser},
      {QString(), folder.File(QStringLiteral("missing")), QStringLiteral("/tmp") + perUser},
      {folder.File(QStringLiteral("missing")), temp, temp + perUser},
      {folder.File(QStringLiteral("file")), temp, temp + perUser},
      {QStringLiteral("relative"), temp, temp + perUser},
  };
  for (const auto& c : cases) {
    EnvironmentChange environment({{"XDG_RUNTIME_DIR", c.Runtime}, {"TMPDIR", c.Temp}});
    EXPECT_EQ(InstanceLockFile(QStringLiteral("L")), c.Expected)
        << qPrintable(c.Runtime) << " " << qPrintable(c.Temp);
  }
}

TEST(SingleInstance, ASecondStartFindsTheFirstRunningAndALockNotMadeIsReported) {
  TScratchFolder folder;
  const QString name =
      QStringLiteral("fennick-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
  {
    EnvironmentChange environment({{"XDG_RUNTIME_DIR", folder.Path()}});
    EXPECT_FALSE(IsAlreadyRunning(name));
    EXPECT_TRUE(InstanceLockProblem().isEmpty());
    EXPECT_TRUE(QFile::exists(folder.File(name + QStringLiteral(".lock"))));
    EXPECT_TRUE(IsAlreadyRunning(name));
  }
  // Not even root may create a file there.
  EnvironmentChange environment({{"XDG_RUNTIME_DIR", QStringLiteral("/proc/self")}});
  EXPECT_FALSE(IsAlreadyRunning(name));
  EXPECT_TRUE(InstanceLockProblem().contains(QStringLiteral("/proc/self/") + name))
      << qPrintable(InstanceLockProblem());
}

}  // namespace
