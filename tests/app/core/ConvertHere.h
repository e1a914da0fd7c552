// Entries converted as the conversion window does it (the plan, the real encoder, the end
// bookkeeping), all in the calling thread; the engine must be loaded and this thread its main.
#pragma once

#include "AppTestSupport.h"
#include "FFBaseComponent.h"
#include "FFEncode.h"
#include "FFLoad.h"
#include "U_Config.h"
#include "U_Converting.h"

#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <string>
#include <vector>

// A test that converts here: the engine loaded, this thread its main, a program folder of its
// own (for the packaging's templates and scratch files) and a folder for the outputs.
template <class TBase>
class TConvertHereTest : public TBase {
 protected:
  void SetUp() override {
    FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
    ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
    SetMainThread();
    SetProgramFolder(Program.Path());
  }
  void TearDown() override { SetProgramFolder(QString()); }

  TScratchFolder Program, Out;
};

// Answers every replace question with Cancel: a test's outputs never exist beforehand.
class TNoAsker : public IOverwriteAsker {
 public:
  int AskReplaceFiles(const QStringList&) override { return raCancel; }
};

// Runs the nodes' tasks one after another (a task's failure is printed). Prepare gets each task's
// encoder before it starts. Package gets the packaging job of each entry that finished and wants
// its skinned SWF, and gives the reason its packaging failed (empty when it succeeded). Failures,
// when given, gathers the tasks' failure texts. The run's end result.
inline bool ConvertHere(const std::vector<TConvertNode>& Nodes,
                        const std::function<QString(const TPackagingJob&)>& Package = {},
                        const std::function<void(TFFEncoder&)>& Prepare = {},
                        std::string* Failures = nullptr) {
  TNoAsker asker;
  TConvertPlan plan(asker);
  plan.Choose(Nodes);
  TConvertRun run(plan);
  bool completed = false, allConverted = false;
  ConvertInTurn(
      plan,
      [&](TFFEncoder& encoder) {
        if (Prepare) Prepare(encoder);
      },
      [&](const TTerminateInfo& info) {
        if (info.Exception) {
          std::cerr << "task " << info.TaskIndex << ": " << info.ExceptionMsg << "\n";
          if (Failures) *Failures += info.ExceptionMsg + "\n";
        }
        const TTaskEndAction action =
            run.TaskEnded(info.TaskIndex, info.Finished, info.Exception, info.ExceptionMsg);
        if (action.PackageEntry) {
          const QString failure = Package ? Package(plan.FilesOfTask(info.TaskIndex)->Packaging)
                                          : QStringLiteral("nothing packages the SWF here");
          if (!failure.isEmpty()) run.FileFailed(failure);
        }
        completed = completed || action.Complete;
        if (action.Complete) allConverted = action.AllConverted;
      });
  for (const QString& refusal : plan.Refusals()) std::cerr << refusal.toStdString() << "\n";
  EXPECT_TRUE(completed);
  return allConverted;
}
