// Merges files as a user does it in the main window: each file added to the list (probed, with
// the defaults every new entry gets), all of them selected and merged into one group, the group
// converted into an FLV as the conversion window does it:
//   fennick_merge OUTPUT_FOLDER INPUT...
// Prints the merged file's path; exits with 0 when it was converted.
#include <cstdio>
#include <vector>

#include <QCoreApplication>

#include "FFBaseComponent.h"
#include "FFDecode.h"
#include "U_Config.h"
#include "U_Converting.h"
#include "U_Treelist.h"

namespace {

class TReplaceAllAsker : public IOverwriteAsker {
 public:
  int AskReplaceFiles(const QStringList&) override { return raYesToAll; }
};

int Merge(int argc, char** argv) {
  TFFEncoder encoder;
  if (!encoder.LoadAVLib(FENNICK_LIBAV_DIR)) {
    std::fprintf(stderr, "%s\n", encoder.LastErrMsg.c_str());
    return 1;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  TFileList list;
  std::vector<TFileNode*> added;
  for (int i = 2; i < argc; ++i) {
    TFFDecoder decoder;
    const TProbedFile probed = ProbeMediaFile(decoder, QString::fromLocal8Bit(argv[i]));
    TFileNode* node = probed.Loaded ? list.AddMediaEntry(probed, folder) : nullptr;
    if (!node) {
      std::fprintf(stderr, "%s: %s\n", argv[i], qPrintable(probed.ErrorText));
      return 1;
    }
    added.push_back(node);
  }
  // Adding a file selects it alone.
  for (TFileNode* node : added) node->Selected = true;
  TFileNode* group = list.MergeSelectedItems(folder);
  if (!group) {
    std::fprintf(stderr, "%s\n", qPrintable(list.MergeRefusal()));
    return 1;
  }
  group->Data.GSwf = group->Data.GHtml = group->Data.GThumbnail = false;
  std::printf("%s\n", group->Data.Output.FileName.c_str());
  std::fflush(stdout);

  TReplaceAllAsker asker;
  TConvertPlan plan(asker);
  const std::vector<TConvertNode> nodes = list.ConvertNodes();  // the plan keeps pointers into it
  plan.Choose(nodes);
  TConvertRun run(plan);
  bool allConverted = false;
  ConvertInTurn(
      plan, [](TFFEncoder& Encoder) { Encoder.OnProgress = [](void*, PProgressInfo) {}; },
      [&](const TTerminateInfo& Info) {
        if (Info.Exception) std::fprintf(stderr, "%s\n", Info.ExceptionMsg.c_str());
        const TTaskEndAction action =
            run.TaskEnded(Info.TaskIndex, Info.Finished, Info.Exception, Info.ExceptionMsg);
        if (action.Complete) allConverted = action.AllConverted;
      });
  for (const QString& refusal : plan.Refusals()) std::fprintf(stderr, "%s\n", qPrintable(refusal));
  return allConverted ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: fennick_merge OUTPUT_FOLDER INPUT...\n");
    return 2;
  }
  QCoreApplication application(argc, argv);
  SetMainThread();
  return Merge(argc, argv);
}
