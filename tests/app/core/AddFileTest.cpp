#include "FFLoad.h"
#include "MediaFixtures.h"
#include "U_AddFile.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

#include <mutex>

namespace {

// Whether the dialog filter (its masks, in any letter case) offers the file.
bool Offers(const QString& Filter, const QString& FileName) {
  const QString masks = Filter.mid(Filter.lastIndexOf('(') + 1).chopped(1);
  for (const QString& mask : masks.split(' '))
    if (QRegularExpression::fromWildcard(mask, Qt::CaseSensitive).match(FileName).hasMatch())
      return true;
  return false;
}

TEST(AddFile, DialogFiltersMatchExtensionsInAnyLetterCase) {
  const QStringList filters = OpenFileFilters();
  ASSERT_EQ(filters.size(), 18);
  const struct {
    int Filter;
    QString File;
    bool Offered;
  } cases[] = {
      {0, "clip.mp4", true}, {0, "CLIP.MP4", true},  {0, "clip.Mp4", true},
      {0, "clip.f4v", true}, {0, "clip.txt", false}, {0, "clip.mp4.txt", false},
      {2, "clip.mp4", true}, {2, "clip.avi", false}, {9, "clip.qt", true},
      {17, "README", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Offers(filters[c.Filter], c.File), c.Offered)
        << qPrintable(filters[c.Filter] + " " + c.File);
  EXPECT_TRUE(filters[2].startsWith("MPEG4 File(*.mp4) ("));
}

TEST(AddFile, SummaryNamesTheFailedFilesOnePerLine) {
  EXPECT_EQ(AddFilesSummary(4, {"a.mp4", "b c.avi"}),
            "2 files have been loaded successfully,2 files failed.\r\nunloaded "
            "files:\r\na.mp4\r\nb c.avi");
}

TEST(AddFile, TheProberOpensEachFileInOrderOnItsOwnThread) {
  FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
  ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
  const QStringList files = {QString::fromStdString(fixtures::Path(fixtures::Media::VideoOnly)),
                             QStringLiteral("/nowhere/missing.mp4"),
                             QString::fromStdString(fixtures::Path(fixtures::Media::Mp3AudioOnly))};
  std::mutex lock;
  std::vector<std::pair<int, bool>> seen;
  std::vector<std::thread::id> threads;
  {
    TFileProber prober(files, [&](int Index, const TProbedFile& File) {
      std::lock_guard guard(lock);
      seen.emplace_back(Index, File.Loaded);
      threads.push_back(std::this_thread::get_id());
    });
  }
  FFLoader().Unload(AllLibraries);
  EXPECT_EQ(seen, (std::vector<std::pair<int, bool>>{{0, true}, {1, false}, {2, true}}));
  for (const auto& id : threads) EXPECT_NE(id, std::this_thread::get_id());
}

}  // namespace
