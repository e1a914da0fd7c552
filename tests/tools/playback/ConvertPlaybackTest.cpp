// Entries converted as the conversion window does it (the plan, the real encoder, the end
// bookkeeping, the packaging step with the real tools), then checked with ffprobe and played
// in the Flash runtime: the picture watermark lies where it was put, the sound is there.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <filesystem>
#include <fstream>
#include <functional>

#include "ConvertHere.h"
#include "EntryFixtures.h"
#include "FFBaseComponent.h"
#include "FFLoad.h"
#include "MediaFixtures.h"
#include "PlaybackRun.h"
#include "QtTestEnvironment.h"
#include "U_Config.h"
#include "U_Converting.h"
#include "U_CreateSwfThread.h"

namespace {

namespace fs = std::filesystem;

[[maybe_unused]] testing::Environment* const Environment =
    testing::AddGlobalTestEnvironment(new TQtTestEnvironment<QCoreApplication>);

// Black and white cells that change every frame, so that a red watermark stands out.
std::string Clip() {
  return fixtures::Make("convert-life.mp4",
                        "-f lavfi -i life=size=320x240:rate=25:mold=10 -f lavfi -i "
                        "sine=frequency=440:sample_rate=44100 -t 5 -c:v libx264 -pix_fmt yuv420p "
                        "-c:a aac");
}

bool IsRed(const std::string& Colour) {
  if (Colour.size() != 7) return false;
  const int r = std::stoi(Colour.substr(1, 2), nullptr, 16);
  const int g = std::stoi(Colour.substr(3, 2), nullptr, 16);
  const int b = std::stoi(Colour.substr(5, 2), nullptr, 16);
  return r > 180 && g < 80 && b < 80;
}

class ConvertPlaybackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
    ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
    SetMainThread();
    SetProgramFolder(QStringLiteral(FENNICK_BIN_DIR "/"));
    Dir = fixtures::TempDir("convert playback");
    // Every character the filter parsers treat specially, in the picture's name.
    Picture = Dir + "/wm [1], it's a:b=c;d\\e.png";
    ASSERT_EQ(fixtures::Run("ffmpeg -v error -y -f lavfi -i color=c=red:size=40x40 -frames:v 1 " +
                            fixtures::ShellQuote(Picture)),
              0);
  }
  void TearDown() override { SetProgramFolder(QString()); }

  TFileOption NewEntry(const std::string& Name, const std::string& Input) {
    TFileOption entry = DefaultEntry(Input, Dir + "/" + Name + ".flv", QStringLiteral("None.swf"));
    entry.WaterMarkKind = 1;
    entry.WaterMark.PictureFile = QString::fromStdString(Picture);
    entry.WaterMark.Rect = {20, 20, 60, 60};
    return entry;
  }

  // Converts the nodes in the calling thread and packages what finished; the end result.
  // Meanwhile runs once each task's files are open.
  bool Convert(const std::vector<TConvertNode>& Nodes, const std::function<void()>& Meanwhile = {}) {
    TQProcessRunner runner;
    return ConvertHere(
        Nodes,
        [&](const TPackagingJob& job) {
          const std::string swf = (job.Folder + job.Name + ".swf").toStdString();
          if (fs::exists(swf)) EngineSwf = ProbeMedia(swf);
          QString error;
          RunPackaging(job, runner, &error);
          return error;
        },
        [&](TFFEncoder&) {
          if (Meanwhile) Meanwhile();
        });
  }

  std::string Dir;
  std::string Picture;
  ProbeResult EngineSwf;
};

void ExpectClip(const ProbeResult& Probe, double Seconds) {
  ASSERT_TRUE(Probe.ok) << Probe.error;
  const ProbeStream* video = Probe.FirstOfType("video");
  const ProbeStream* audio = Probe.FirstOfType("audio");
  ASSERT_TRUE(video && audio);
  EXPECT_EQ(video->codec_name, "flv1");
  EXPECT_EQ(video->width, 320);
  EXPECT_EQ(video->height, 240);
  EXPECT_EQ(audio->codec_name, "mp3");
  // A SWF states no length: its pictures at 25 per second tell it.
  const double seconds = Probe.duration > 0 ? Probe.duration : video->nb_read_frames / 25.0;
  EXPECT_NEAR(seconds, Seconds, 0.3);
}

TEST_F(ConvertPlaybackTest, EmbeddedAndProgressiveSwfsPlayWithTheirWatermark) {
  for (const bool embeds : {true, false}) {
    TFileOption entry = NewEntry(embeds ? "embedded" : "progressive", Clip());
    entry.SWFData.isflv = !embeds;
    ASSERT_TRUE(Convert({{&entry, true, {}}})) << embeds;
    ExpectClip(ProbeMedia(Dir + (embeds ? "/embedded.flv" : "/progressive.flv")), 5);
    if (embeds) ExpectClip(EngineSwf, 5);
    const std::string page = Dir + (embeds ? "/embedded.html" : "/progressive.html");
    ASSERT_TRUE(fs::exists(page));
    const playback::Result result = playback::Play(page, "--expect plays --audio --probe 40,40");
    EXPECT_EQ(result.Verdict(), "PLAYS") << result.report;
    EXPECT_GT(result.Figure("audioPeak"), 0.05) << result.report;
    EXPECT_TRUE(IsRed(result.ColourAt(40, 40))) << result.report;
  }
}

// Output names come from the inputs' names, which may hold any character a URL or a page gives a
// meaning to, in any script: the page must still find its movie, the movie its FLV, and a
// browser told no character set must read the name as it stands.
TEST_F(ConvertPlaybackTest, PagesOfInputsWithAnyCharacterInTheirNamePlay) {
  const std::vector<std::string> names{"clip #1",         "50% & a+b?c=d",
                                       "l'été \"ü\";[x]", "Übung 1366x768 Größe",
                                       "録音_講義",       "<b>R&amp;D &lt;x> &"};
  std::vector<TFileOption> entries;
  for (const std::string& name : names) {
    const std::string input = Dir + "/" + name + ".mp4";
    fs::copy_file(Clip(), input);
    entries.push_back(NewEntry(name, input));
    entries.back().SWFData.isflv = true;
  }
  std::vector<TConvertNode> nodes;
  for (TFileOption& entry : entries) nodes.push_back({&entry, true, {}});
  ASSERT_TRUE(Convert(nodes));
  for (const std::string& name : names) {
    const std::string page = Dir + "/" + name + ".html";
    ASSERT_TRUE(fs::exists(page)) << name;
    const playback::Result result = playback::Play(page, "--expect plays --probe 40,40");
    EXPECT_EQ(result.Verdict(), "PLAYS") << name << "\n" << result.report;
    EXPECT_TRUE(IsRed(result.ColourAt(40, 40))) << name << "\n" << result.report;
    EXPECT_EQ(result.Title(), name) << result.report;
  }
}

// The output folder is moved while the entry converts, and a link of its name made to another
// folder holding files of the entry's names: the SWF and the page land beside the new FLV and
// play it (its red watermark shows), and the other folder's files stay as they were.
TEST_F(ConvertPlaybackTest, APageWrittenAfterItsFolderMovedPlaysItsOwnFlv) {
  const std::string folder = Dir + "/race", moved = Dir + "/race-moved", others = Dir + "/others";
  fs::create_directories(folder);
  fs::create_directories(others);
  for (const char* suffix : {".flv", ".swf", ".html"})
    std::ofstream(others + "/clip" + suffix) << "another folder's";
  TFileOption entry = NewEntry("race/clip", Clip());
  entry.SWFData.isflv = true;
  ASSERT_TRUE(Convert({{&entry, true, {}}}, [&] {
    fs::rename(folder, moved);
    fs::create_directory_symlink(others, folder);
  }));
  for (const char* suffix : {".flv", ".swf", ".html"})
    EXPECT_EQ(fixtures::ReadFile(others + "/clip" + suffix), "another folder's") << suffix;
  ExpectClip(ProbeMedia(moved + "/clip.flv"), 5);
  const playback::Result result = playback::Play(moved + "/clip.html", "--expect plays --probe 40,40");
  EXPECT_EQ(result.Verdict(), "PLAYS") << result.report;
  EXPECT_TRUE(IsRed(result.ColourAt(40, 40))) << result.report;
}

TEST_F(ConvertPlaybackTest, AMergeGroupWritesOneFileAndARefusedEntryFailsTheRun) {
  TFileOption group = NewEntry("Merge", "");
  group.IsMergeGroup = true;
  group.GSwf = false;
  group.Output.JoinInputs = true;
  TFileOption first = NewEntry("first", Clip());
  TFileOption second = NewEntry("second", Clip());
  TFileOption missing = NewEntry("missing", Dir + "/missing.mp4");
  missing.GSwf = false;
  EXPECT_FALSE(
      Convert({{&group, true, {{&first, true, {}}, {&second, true, {}}}}, {&missing, true, {}}}));
  ExpectClip(ProbeMedia(Dir + "/Merge.flv"), 10);
  EXPECT_FALSE(fs::exists(Dir + "/missing.flv"));
}

}  // namespace
