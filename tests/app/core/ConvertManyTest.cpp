// A long list through the conversion plan and the real encoder, as the conversion window runs
// it, under a limit of open files far below what every entry's files at once would need.
#include "AppTestSupport.h"
#include "EntryFixtures.h"
#include "FFBaseComponent.h"
#include "FFLoad.h"
#include "MediaFixtures.h"
#include "U_Converting.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <deque>

namespace {

class TYesToAll : public IOverwriteAsker {
 public:
  int AskReplaceFiles(const QStringList&) override { return raYesToAll; }
};

// Converts the entries, each task in turn, as the conversion window does; the entries that
// ended converted.
int ConvertAll(const std::vector<TConvertNode>& Nodes) {
  TYesToAll asker;
  TConvertPlan plan(asker);
  plan.Choose(Nodes);
  int converted = 0;
  ConvertInTurn(
      plan, [](TFFEncoder&) {},
      [&](const TTerminateInfo& Info) {
        if (Info.TaskIndex >= 0 && Info.Finished && !Info.Exception) ++converted;
      });
  return converted;
}

TEST(ConvertMany, EveryEntryOfALongListIsConvertedUnderALowLimitOfOpenFiles) {
  FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
  ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
  SetMainThread();
  const std::string clip =
      fixtures::Make("many-tiny.mp4",
                     "-f lavfi -i testsrc=size=64x48:rate=10 -f lavfi -i sine=sample_rate=22050 "
                     "-t 0.3 -c:v libx264 -pix_fmt yuv420p -c:a aac");
  TScratchFolder folder;
  // Each entry's task holds its input and its output open while it exists: were they all
  // opened before the first ran, this many entries would need three times the descriptors.
  constexpr int Entries = 60;
  std::deque<TFileOption> entries;
  std::vector<TConvertNode> nodes;
  for (int i = 0; i < Entries; ++i) {
    entries.push_back(DefaultEntry(clip,
                                   folder.File(QStringLiteral("out%1.flv").arg(i)).toStdString(),
                                   QStringLiteral("None.swf")));
    entries.back().SourceFrameSize = QStringLiteral("64x48");
    entries.back().OutputFrameSize = QStringLiteral("64x48");
    entries.back().GSwf = false;
    nodes.push_back({&entries.back(), true, {}});
  }
  const int before = OpenDescriptors();
  int converted = 0;
  {
    const TFileLimit limit(Entries);
    converted = ConvertAll(nodes);
  }
  EXPECT_EQ(converted, Entries);
  for (int i = 0; i < Entries; ++i)
    EXPECT_GT(QFileInfo(folder.File(QStringLiteral("out%1.flv").arg(i))).size(), 0) << i;
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
