#include "AppTestSupport.h"
#include "U_OnlyApps.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QUuid>
#include <gtest/gtest.h>
#include <functional>
#include <iostream>
#include <sys/stat.h>
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

// A unique lock name, so that no other run of these tests shares it.
QString UniqueLockName() {
  return QStringLiteral("fennick-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

bool GiveAway(const QString& Path) {
  return lchown(QFile::encodeName(Path).constData(), 65534, 65534) == 0;
}

TEST(SingleInstance, TheLockLivesInTheUsersRuntimeFolderElseInAFolderOfTheUsersOwn) {
  TScratchFolder folder;
  const QString runtime = folder.Path();
  const QString temp = folder.File(QStringLiteral("tmp"));
  ASSERT_TRUE(QDir().mkpath(temp));
  WriteTextFile(folder.File(QStringLiteral("file")), "not a folder");
  const QString perUser = QStringLiteral("/fennick-%1/L.lock").arg(getuid());
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
  const QString name = UniqueLockName();
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

// Without a runtime folder the lock goes into a folder of the user's own in the temporary
// folder, where another user may have put something first.
TEST(SingleInstance, AFallbackFolderThatIsNotTheUsersAloneIsRefusedAndSaidSo) {
  TScratchFolder folder;
  const QString temp = folder.File(QStringLiteral("tmp"));
  const QString own = temp + QStringLiteral("/fennick-%1").arg(getuid());
  const QString name = UniqueLockName();
  EnvironmentChange environment({{"XDG_RUNTIME_DIR", QString()}, {"TMPDIR", temp}});
  const struct {
    const char* Name;
    std::function<bool()> Prepare;  // false: cannot be prepared here
    QString Problem;                // empty: the lock is taken
  } cases[] = {
      {"made for the user", [] { return true; }, QString()},
      {"another user's", [&] { return QDir().mkpath(own) && GiveAway(own); },
       "its folder " + own + " belongs to another user"},
      {"open to all",
       [&] { return QDir().mkpath(own) && chmod(QFile::encodeName(own), 0777) == 0; },
       "its folder " + own + " is open to other users"},
      {"a link",
       [&] { return QDir().mkpath(temp + "/elsewhere") && QFile::link(temp + "/elsewhere", own); },
       "its folder " + own + " is a link or a file, not a folder"},
  };
  for (const auto& c : cases) {
    QDir(temp).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(temp));
    if (!c.Prepare()) {
      std::cerr << "not tried (needs root): " << c.Name << "\n";
      continue;
    }
    EXPECT_FALSE(IsAlreadyRunning(name)) << c.Name;
    if (c.Problem.isEmpty()) {
      EXPECT_EQ(InstanceLockProblem(), QString()) << c.Name;
      struct stat info {};
      ASSERT_EQ(stat(QFile::encodeName(own).constData(), &info), 0);
      EXPECT_EQ(info.st_mode & 0777, 0700u);
      EXPECT_TRUE(IsAlreadyRunning(name)) << c.Name;
      continue;
    }
    EXPECT_EQ(InstanceLockProblem(), "Cannot create the single-instance lock \"" + own + "/" +
                                         name + ".lock\": " + c.Problem +
                                         ". The program runs without it, so a second copy "
                                         "would not be stopped.")
        << c.Name;
    EXPECT_FALSE(QFile::exists(own + "/" + name + ".lock")) << c.Name;
  }
}

TEST(SingleInstance, ALockThatBelongsToAnotherUserIsSaidAndNotTakenForACopyOfOurOwn) {
  TScratchFolder folder;
  const QString name = UniqueLockName();
  EnvironmentChange environment({{"XDG_RUNTIME_DIR", folder.Path()}});
  // Held by a process that runs (this one), as another user's copy would be.
  QLockFile held(InstanceLockFile(name));
  ASSERT_TRUE(held.tryLock(0));
  if (!GiveAway(held.fileName())) GTEST_SKIP() << "giving a file to another user needs root";
  EXPECT_FALSE(IsAlreadyRunning(name));
  EXPECT_EQ(InstanceLockProblem(), "Cannot create the single-instance lock \"" + held.fileName() +
                                       "\": a file of that name belongs to another user. The "
                                       "program runs without it, so a second copy would not be "
                                       "stopped.");
}

}  // namespace
