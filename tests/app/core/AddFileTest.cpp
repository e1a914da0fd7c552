#include "AppTestSupport.h"
#include "FFLoad.h"
#include "MediaFixtures.h"
#include "U_AddFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <future>
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

// The names typed into the dialog reach the same files as the dialog's own reading of them.
TEST(AddFile, TypedNamesAreReadAsTheDialogReadsThem) {
  const QString home = QDir::homePath();
  const QString ownHome = QFile::decodeName(getpwuid(getuid())->pw_dir);
  const QString me = QFile::decodeName(getpwuid(getuid())->pw_name);
  const QDir folder(QStringLiteral("/media/clips"));
  const struct {
    QString Typed;
    QStringList Paths;
  } cases[] = {
      {"", {}},
      {"  a b.mp4 ", {"/media/clips/a b.mp4"}},
      {"\"a.mp4\" \"../b.mp3\" \"\"", {"/media/clips/a.mp4", "/media/b.mp3"}},
      {"/srv/c.flv", {"/srv/c.flv"}},
      {"~/clip.flv", {home + "/clip.flv"}},
      {"~", {home}},
      {"\"~/a.mp4\" \"b.mp4\"", {home + "/a.mp4", "/media/clips/b.mp4"}},
      {"~" + me + "/x.mp4", {ownHome + "/x.mp4"}},
      {"~nobody-here-at-all/x.mp4", {"/media/clips/~nobody-here-at-all/x.mp4"}},
      {"a~/x.mp4", {"/media/clips/a~/x.mp4"}},
      // The dialog shows a chosen file's name as it stands, several in quotes: a name may hold
      // quotes of its own.
      {"a\"b.mp4", {"/media/clips/a\"b.mp4"}},
      {"\"a\"b.mp4\" \"it's $5 née.mp4\"", {"/media/clips/a\"b.mp4", "/media/clips/it's $5 née.mp4"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TypedFilePaths(c.Typed, folder), c.Paths) << qPrintable(c.Typed);

  // Where the quotes leave more than one reading, the names of files that are there win.
  TScratchFolder files;
  for (const char* name : {"\"x\".mp4", "j \"odd\" k.mp4"}) WriteTextFile(files.File(name), "");
  const QDir there(files.Path());
  EXPECT_EQ(TypedFilePaths("\"x\".mp4", there), QStringList{files.File("\"x\".mp4")});
  EXPECT_EQ(TypedFilePaths("\"j \"odd\" k.mp4\" \"\"x\".mp4\"", there),
            QStringList({files.File("j \"odd\" k.mp4"), files.File("\"x\".mp4")}));
}

TEST(AddFile, SummaryNamesTheFailedFilesOnePerLineAndCountsThoseNotAdded) {
  const struct {
    int Total;
    QStringList Failed;
    int NotAdded;
    QString Summary;
  } cases[] = {
      {4,
       {"a.mp4", "b c.avi"},
       0,
       "2 files have been loaded successfully,2 files failed.\r\nunloaded "
       "files:\r\na.mp4\r\nb c.avi"},
      {5,
       {"a.mp4 (canceled)"},
       3,
       "1 files have been loaded successfully,1 files failed.\r\nunloaded files:\r\na.mp4 "
       "(canceled)\r\n3 files were not added: adding was canceled."},
      {4,
       {},
       4,
       "0 files have been loaded successfully,0 files failed.\r\n4 files were not added: "
       "adding was canceled."},
  };
  for (const auto& c : cases) EXPECT_EQ(AddFilesSummary(c.Total, c.Failed, c.NotAdded), c.Summary);
}

// Each file is opened in turn on the prober's thread; a pipe (which waits for a writer) and a
// device (which reads without end) are never opened.
TEST(AddFile, TheProberOpensEachRegularFileInOrderOnItsOwnThread) {
  FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
  ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
  TScratchFolder folder;
  const TSpecialFiles special = MakeSpecialFiles(folder);
  const QString oddName = folder.File(QStringLiteral("say \"hi\" it's $5 née.mp4"));
  ASSERT_TRUE(
      QFile::copy(QString::fromStdString(fixtures::Path(fixtures::Media::VideoOnly)), oddName));
  const struct {
    QString File;
    bool Loaded;
    QString Line;  // the summary's line when it fails
  } cases[] = {
      {QString::fromStdString(fixtures::Path(fixtures::Media::VideoOnly)), true, {}},
      {"/nowhere/missing.mp4", false, "missing.mp4 (No such file or directory)"},
      {special.Pipe, false, "pipe.mp4 (not a regular file: a named pipe)"},
      {special.Zero, false, "zero.dv (not a regular file: a device)"},
      {folder.Path(), false,
       QFileInfo(folder.Path()).fileName() + " (not a regular file: a folder)"},
      {QString::fromStdString(fixtures::Path(fixtures::Media::Mp3AudioOnly)), true, {}},
      {oddName, true, {}},
  };
  QStringList files;
  for (const auto& c : cases) files << c.File;
  std::vector<std::pair<int, TProbedFile>> seen;
  std::vector<std::thread::id> threads;
  std::promise<void> done;
  TFileProber prober(files, [&](int Index, const TProbedFile& File) {
    seen.emplace_back(Index, File);
    threads.push_back(std::this_thread::get_id());
    if (Index + 1 == files.size()) done.set_value();
  });
  done.get_future().wait();
  ASSERT_TRUE(WaitForFileProbers(60000));
  FFLoader().Unload(AllLibraries);
  ASSERT_EQ(seen.size(), std::size(cases));
  for (size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].first, int(i));
    EXPECT_EQ(seen[i].second.Loaded, cases[i].Loaded) << cases[i].File.toStdString();
    if (!cases[i].Loaded) {
      EXPECT_EQ(FailedFileLine(seen[i].second), cases[i].Line);
    }
    EXPECT_NE(threads[i], std::this_thread::get_id());
  }
}

// A cancelled prober is never waited for: it gives up the file it opens, reports nothing more
// and ends on its own.
TEST(AddFile, ACancelledProberStopsOnItsOwn) {
  std::promise<void> probing, released;
  std::shared_future<void> release = released.get_future().share();
  QStringList probed;
  int reported = 0;
  {
    TFileProber prober(
        {"a.mp4", "b.mp4", "c.mp4"}, [&](int, const TProbedFile&) { ++reported; },
        [&](TCustomDecoder&, const QString& FileName) {
          probed << FileName;
          probing.set_value();
          release.wait();
          TProbedFile file;
          file.FileName = FileName;
          return file;
        });
    probing.get_future().wait();
  }  // destroyed while its thread is still inside the first probe
  released.set_value();
  ASSERT_TRUE(WaitForFileProbers(60000));
  EXPECT_EQ(probed, QStringList{"a.mp4"});
  EXPECT_EQ(reported, 0);
}

}  // namespace
