// Converts files as the conversion window does: one list entry per input with the defaults
// every new entry gets, the tasks of the conversion plan run one after another, each opened
// when its turn comes in an encoder of its own that goes when the task has ended:
//   fennick_convert_plan OUTPUT_FOLDER SOURCE_SIZE OUTPUT_SIZE INPUT...
// Prints, per entry, the output file and the filter chain the plan gave it (so that a peer can
// be run with the same chain), then, on the error output, how many entries were converted, the
// resident memory before the run, at its peak and after it, and the open descriptors before
// and after; exits with 0 when every entry was converted.
#include <atomic>
#include <cstdio>
#include <deque>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "FFBaseComponent.h"
#include "U_Config.h"
#include "U_Converting.h"

namespace {

class TKeepNothingAsker : public IOverwriteAsker {
 public:
  int AskReplaceFiles(const QStringList&) override { return raYesToAll; }
};

// A figure of /proc/self/status ("VmRSS", "VmHWM"), in MiB.
long StatusMiB(const char* Name) {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith(Name))
      return line.mid(int(qstrlen(Name)) + 1).trimmed().split(' ')[0].toLong() / 1024;
  return -1;
}

int OpenDescriptors() { return int(QDir(QStringLiteral("/proc/self/fd")).count()) - 2; }

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
  TKeepNothingAsker asker;
  TConvertPlan plan(asker);
  plan.Choose(nodes);
  for (const TFileOption& entry : entries)
    std::printf("%s\t%s\n", entry.Output.FileName.c_str(),
                BuildVideoFilters(entry, true, true).Chain.c_str());
  std::fflush(stdout);

  const long before = StatusMiB("VmRSS");
  const int descriptors = OpenDescriptors();
  TConvertRun run(plan);
  int converted = 0;
  bool allConverted = false;
  ConvertInTurn(
      plan,
      [](TFFEncoder& Encoder) {
        Encoder.SetPreviewBitmap(true);
        Encoder.OnPreviewBitmap = [](void*, const TPreviewInfo&) {};
        Encoder.OnProgress = [](void*, PProgressInfo) {};
      },
      [&](const TTerminateInfo& Info) {
        const TTaskEndAction action =
            run.TaskEnded(Info.TaskIndex, Info.Finished, Info.Exception, Info.ExceptionMsg);
        if (Info.Exception) std::fprintf(stderr, "%s\n", Info.ExceptionMsg.c_str());
        if (Info.TaskIndex >= 0 && Info.Finished && !Info.Exception) ++converted;
        if (action.Complete) allConverted = action.AllConverted;
      });
  std::fprintf(stderr,
               "converted %d of %d; resident %ld MiB before, %ld MiB at the peak, %ld MiB after; "
               "descriptors %d before, %d after\n",
               converted, plan.OfferedCount(), before, StatusMiB("VmHWM"), StatusMiB("VmRSS"),
               descriptors, OpenDescriptors());
  return allConverted ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr,
                 "usage: fennick_convert_plan OUTPUT_FOLDER SOURCE_SIZE OUTPUT_SIZE INPUT...\n");
    return 2;
  }
  QCoreApplication application(argc, argv);
  SetMainThread();
  return Convert(argc, argv);
}
