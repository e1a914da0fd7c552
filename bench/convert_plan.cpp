// Converts files as the conversion window does: one list entry per input with the defaults
// every new entry gets, the tasks built by the conversion plan, run one after another by one
// encoder with its events served on the main thread:
//   fennick_convert_plan OUTPUT_FOLDER SOURCE_SIZE OUTPUT_SIZE INPUT...
// Prints, per entry, the output file and the filter chain the plan gave it (so that a peer can
// be run with the same chain), then exits with 0 when every entry was converted.
#include <atomic>
#include <cstdio>
#include <deque>

#include <QFileInfo>

#include "FFBaseComponent.h"
#include "U_Config.h"
#include "U_Converting.h"

namespace {

class TKeepNothingAsker : public IOverwriteAsker {
 public:
  int AskReplaceFile(const QString&) override { return raYesToAll; }
};

TFileOption NewEntry(const QString& Input, const QString& Folder, const QString& Source,
                     const QString& Size) {
  TFileOption entry;
  InitInputOptions(entry.Input);
  InitOutputOptions(entry.Output);
  entry.Output.FileExt = ".flv";
  ApplyFormatDefault(entry, TFormatDefault());
  entry.Deinterlace = -1;
  entry.GSwf = false;
  entry.SourceFrameSize = Source;
  entry.OutputFrameSize = Size;
  entry.Input.FileName = Input.toStdString();
  entry.Output.FileName = (Folder + QFileInfo(Input).completeBaseName() + ".flv").toStdString();
  return entry;
}

int Convert(int argc, char** argv) {
  TFFEncoder encoder;
  if (!encoder.LoadAVLib(FENNICK_LIBAV_DIR)) {
    std::fprintf(stderr, "%s\n", encoder.LastErrMsg.c_str());
    return 1;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]) + "/";
  std::deque<TFileOption> entries;
  std::vector<TConvertNode> nodes;
  for (int i = 4; i < argc; ++i) {
    entries.push_back(NewEntry(QString::fromLocal8Bit(argv[i]), folder, argv[2], argv[3]));
    nodes.push_back({&entries.back(), true, {}});
  }
  TEncoderTasks tasks(encoder);
  TKeepNothingAsker asker;
  TConvertPlan plan(tasks, asker);
  plan.Build(nodes);
  for (const TFileOption& entry : entries)
    std::printf("%s\t%s\n", entry.Output.FileName.c_str(),
                BuildVideoFilters(entry, true, true).Chain.c_str());
  std::fflush(stdout);

  TConvertRun run(plan);
  std::atomic<bool> complete{false}, allConverted{false};
  encoder.SetPreviewBitmap(true);
  encoder.OnPreviewBitmap = [](void*, const TPreviewInfo&) {};
  encoder.OnProgress = [](void*, PProgressInfo) {};
  encoder.OnTerminate = [&](void*, const TTerminateInfo& info) {
    const TTaskEndAction action =
        run.TaskEnded(info.TaskIndex, info.Finished, info.Exception, info.ExceptionMsg);
    if (info.Exception) std::fprintf(stderr, "%s\n", info.ExceptionMsg.c_str());
    allConverted = action.AllConverted;
    complete = action.Complete;
  };
  encoder.StartTask(1);
  while (!complete) CheckSynchronize(10);
  return allConverted ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr,
                 "usage: fennick_convert_plan OUTPUT_FOLDER SOURCE_SIZE OUTPUT_SIZE INPUT...\n");
    return 2;
  }
  SetMainThread();
  return Convert(argc, argv);
}
