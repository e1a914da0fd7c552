#include "AppTestSupport.h"
#include "FFBaseComponent.h"
#include "U_Config.h"
#include "U_Converting.h"
#include "U_CreateSwfThread.h"
#include "VelLog.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <latch>
#include <map>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Plays the two tools: each writes its "-o" file unless told to fail or to write nothing; the
// combined SWF says which video it embeds.
class TStandInRunner : public IProcessRunner {
 public:
  std::map<QString, int> ExitCodes;  // by tool file name; 0 when missing
  std::set<QString> WriteNothing;    // tools that end well without writing
  std::vector<QStringList> Runs;     // tool file name, then the arguments
  std::function<void(const QString& Tool)> Meanwhile;  // while a tool runs

  TProcessResult Run(const QString& Program, const QStringList& Arguments, int TimeLimitMs,
                     const std::atomic<bool>*) override {
    const QString tool = QFileInfo(Program).fileName();
    Runs.push_back(QStringList{tool} + Arguments);
    if (Meanwhile) Meanwhile(tool);
    TProcessResult result;
    result.Started = TimeLimitMs > 0;
    result.ExitCode = ExitCodes[tool];
    if (result.ExitCode != 0)
      result.ErrorOutput = QStringLiteral("cannot read input\n");
    else if (!WriteNothing.count(tool))
      WriteTextFile(Arguments.last(), "new " + tool.toUtf8() + VideoOf(Arguments));
    return result;
  }

 private:
  static QByteArray VideoOf(const QStringList& Arguments) {
    for (const QString& argument : Arguments)
      if (argument.startsWith(QStringLiteral("video=")))
        return " with " + ReadTextFile(argument.mid(6));
    return {};
  }
};

// Tools that pass the settings through: the compiled settings are the source, and the combined
// SWF is the compiled settings. Every run waits inside its compiler until `Together` runs have
// written their sources, so that runs at once meet where they could mix.
class TPassingRunner : public IProcessRunner {
 public:
  explicit TPassingRunner(std::latch& Together) : FTogether(Together) {}
  TProcessResult Run(const QString& Program, const QStringList& Arguments, int,
                     const std::atomic<bool>*) override {
    QString from;
    if (QFileInfo(Program).fileName() == QStringLiteral("swfdata.dll")) {
      FTogether.arrive_and_wait();
      from = Arguments.at(Arguments.size() - 3);
    } else {
      for (const QString& argument : Arguments)
        if (argument.startsWith(QStringLiteral("swfdata="))) from = argument.mid(8);
    }
    WriteTextFile(Arguments.last(), ReadTextFile(from));
    TProcessResult result;
    result.Started = true;
    result.ExitCode = 0;
    return result;
  }

 private:
  std::latch& FTogether;
};

class PackagingTest : public testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolder(Program.Path() + QLatin1Char('/'));
    QDir().mkpath(Program.File(QStringLiteral("templates")));
    VelLog = TVelLog(Program.File(QStringLiteral("log.txt")));
    InitInputOptions(EntryValue.Input);
    InitOutputOptions(EntryValue.Output);
    EntryValue.Output.FileName = Out.File(QStringLiteral("clip.mp4.flv")).toStdString();
    EntryValue.OutputFrameSize = QStringLiteral("320x240");
    EntryValue.PlayerSkin = QStringLiteral("/skins/Player01.swf");
    EntryValue.Gflv = EntryValue.GSwf = EntryValue.GHtml = true;
    EntryValue.Duration = 90900000;
  }
  void TearDown() override {
    VelLog = TVelLog();
    SetProgramFolder(QString());
  }
  QString Log() const {
    return QString::fromUtf8(ReadTextFile(Program.File(QStringLiteral("log.txt"))));
  }

  TScratchFolder Program, Out;
  TFileOption EntryValue;
  TStandInRunner Runner;
};

TEST_F(PackagingTest, JobTakesTheVideoItsLengthAndTheSkinsOverrides) {
  struct Case {
    const char* Name;
    QString Skin;
    bool Gflv, Isflv;
    std::string VideoFile;
    bool Embeds, AutoPlay;
  };
  // The user's: only the conversion plan, once the user was asked, lets a job replace them.
  WriteTextFile(Out.File(QStringLiteral("clip.mp4.swf")), "the user's");
  WriteTextFile(Out.File(QStringLiteral("clip.mp4.html")), "the user's");
  for (const Case& c : std::vector<Case>{
           {"progressive", QStringLiteral("/s/Player01.swf"), true, true, "clip.mp4.flv", false,
            false},
           {"embedded", QStringLiteral("/s/Player01.swf"), true, false, "", true, false},
           {"no FLV to stream", QStringLiteral("/s/Player01.swf"), false, true, "", true, false},
           {"None skin", QStringLiteral("/s/None.swf"), true, true, "clip.mp4.flv", false, true},
           {"none in lower case is no None skin", QStringLiteral("/s/none.swf"), true, true,
            "clip.mp4.flv", false, false}}) {
    TFileOption entry = EntryValue;
    entry.PlayerSkin = c.Skin;
    entry.Gflv = c.Gflv;
    entry.SWFData.isflv = c.Isflv;
    const TPackagingJob job = PackagingJobOf(entry);
    EXPECT_EQ(job.Folder, Out.Path() + QLatin1Char('/')) << c.Name;
    EXPECT_EQ(job.Name, QStringLiteral("clip.mp4")) << c.Name;
    EXPECT_EQ(job.SWFData.videofile, c.VideoFile) << c.Name;
    EXPECT_EQ(job.SWFData.isflv, !c.Embeds) << c.Name;
    EXPECT_EQ(job.SWFData.autoplay, c.AutoPlay) << c.Name;
    EXPECT_EQ(job.SWFData.autohide, c.AutoPlay) << c.Name;
    EXPECT_EQ(job.SWFData.videotime, 90u) << c.Name;
    EXPECT_EQ(job.ReplacesSwf, c.Embeds) << c.Name;
    EXPECT_FALSE(job.ReplacesPage) << c.Name;
    EXPECT_EQ(entry.SWFData.autoplay, false) << c.Name;
    EXPECT_EQ(entry.SWFData.videofile, "") << c.Name;
  }
  // The player takes the name as an address relative to its own.
  EntryValue.Output.FileName = Out.File(QStringLiteral("clip #1 ü%?&+.flv")).toStdString();
  EXPECT_EQ(PackagingJobOf(EntryValue).SWFData.videofile, "clip%20%231%20%C3%BC%25%3F%26%2B.flv");
  EntryValue.OutputFrameSize.clear();
  EntryValue.SourceFrameSize = QStringLiteral("0x0");
  const TPackagingJob audioOnly = PackagingJobOf(EntryValue);
  EXPECT_EQ(QSize(audioOnly.Width, audioOnly.Height), QSize(320, 240));
}

// The tools' files lie in a scratch folder of the run's own in the output folder, on the output's
// file system (the temporary folder may be too small for an embedded video, here it can hold
// nothing at all), gone after it.
TEST_F(PackagingTest, ToolsGetArgumentListsAndTheSwfIsReplaced) {
  const QByteArray temporaryFolder = qgetenv("TMPDIR");
  WriteTextFile(Program.File(QStringLiteral("no-folder")), "a file");
  qputenv("TMPDIR", QFile::encodeName(Program.File(QStringLiteral("no-folder"))));
  for (const bool embeds : {false, true}) {
    TStandInRunner runner;
    EntryValue.SWFData.isflv = !embeds;
    EntryValue.SWFData.ratio = "16:9\" \\ \"x";
    const QString swf = Out.File(QStringLiteral("clip.mp4.swf"));
    WriteTextFile(swf, "engine's SWF");
    const QString usersOwn = Out.File(QStringLiteral("~Tmp.swf"));
    WriteTextFile(usersOwn, "the user's own");
    QByteArray source, poster;
    QString scratchFolder;
    runner.Meanwhile = [&](const QString& Tool) {
      for (const QString& argument : runner.Runs.back())
        if (argument.startsWith(QStringLiteral("poster="))) poster = ReadTextFile(argument.mid(7));
      if (Tool != QStringLiteral("swfdata.dll")) return;
      source = ReadTextFile(runner.Runs.back().at(7));
      scratchFolder = QFileInfo(runner.Runs.back().at(7)).canonicalPath();
    };
    TPackagingJob job = PackagingJobOf(EntryValue);
    job.ReplacesSwf = job.ReplacesPage = true;  // as the user let it
    job.Poster = "the first picture";
    ASSERT_TRUE(RunPackaging(job, runner));

    ASSERT_EQ(runner.Runs.size(), 2u);
    EXPECT_EQ(QFileInfo(scratchFolder).path(), QFileInfo(Out.Path()).canonicalFilePath());
    EXPECT_FALSE(QFileInfo::exists(scratchFolder));
    const QString scratch = QFileInfo(runner.Runs[0].at(7)).path() + QLatin1Char('/');
    EXPECT_EQ(runner.Runs[0],
              (QStringList{"swfdata.dll", "-X", "400", "-Y", "400", "-T", "9",
                           scratch + "SWFData.dat", "-o", scratch + "swfdata.swf"}));
    QStringList combine{"mskin.dll", "/skins/Player01.swf"};
    if (embeds) combine << runner.Runs[1].value(2);
    combine << QStringLiteral("swfdata=") + scratch + "swfdata.swf";
    // An embedded video has a first picture of its own.
    if (!embeds) combine << QStringLiteral("poster=") + scratch + "poster.jpg";
    EXPECT_EQ(poster, embeds ? "" : "the first picture");
    combine << QStringList{"-X", "320", "-Y", "240", "-F", "9", "-o", scratch + "~Tmp.swf"};
    EXPECT_EQ(runner.Runs[1], combine) << embeds;
    EXPECT_EQ(ReadTextFile(swf), embeds ? "new mskin.dll with engine's SWF" : "new mskin.dll");
    EXPECT_EQ(ReadTextFile(usersOwn), "the user's own");
    EXPECT_EQ(QDir(Out.Path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{"clip.mp4.html", "clip.mp4.swf", "~Tmp.swf"}));
    EXPECT_TRUE(source.contains("        public var ratio:String=\"16:9\\\" \\\\ \\\"x\";\r\n"));
    EXPECT_TRUE(source.contains(embeds ? "public var videofile:String=\"\";"
                                       : "public var videofile:String=\"clip.mp4.flv\";"));
  }
  qputenv("TMPDIR", temporaryFolder);
}

TEST_F(PackagingTest, AFailingToolKeepsTheEarlierSwfAndWritesNoPage) {
  for (const QString tool : {"swfdata.dll", "mskin.dll"}) {
    TStandInRunner runner;
    runner.ExitCodes[tool] = 1;
    const QString swf = Out.File(QStringLiteral("clip.mp4.swf"));
    WriteTextFile(swf, "engine's SWF");
    QFile::remove(Out.File(QStringLiteral("clip.mp4.html")));
    QString error;
    EXPECT_FALSE(RunPackaging(PackagingJobOf(EntryValue), runner, &error)) << tool.toStdString();
    EXPECT_TRUE(error.startsWith(QStringLiteral("clip.mp4.swf: ") + tool +
                                 QStringLiteral(" ended with code 1")))
        << qPrintable(error);
    EXPECT_EQ(ReadTextFile(swf), "engine's SWF") << tool.toStdString();
    EXPECT_FALSE(QFileInfo::exists(Out.File(QStringLiteral("clip.mp4.html"))));
    EXPECT_TRUE(Log().contains(tool + QStringLiteral(" ended with code 1: cannot read input")));
  }
}

// A tool that says it succeeded but wrote nothing has failed, and says so.
TEST_F(PackagingTest, AToolThatEndsWellButWritesNothingFails) {
  for (const QString tool : {"swfdata.dll", "mskin.dll"}) {
    TStandInRunner runner;
    runner.WriteNothing = {tool};
    QString error;
    EXPECT_FALSE(RunPackaging(PackagingJobOf(EntryValue), runner, &error)) << tool.toStdString();
    EXPECT_TRUE(error.startsWith(QStringLiteral("clip.mp4.swf: ") + tool +
                                 QStringLiteral(" ended without writing ")))
        << qPrintable(error);
    EXPECT_FALSE(QFileInfo::exists(Out.File(QStringLiteral("clip.mp4.swf"))));
  }
}

// A SWF or a page of the entry's name that appears while the entry is packaged (another run's,
// never asked about) is left as it is; the new file is kept beside it and the failure says where.
TEST_F(PackagingTest, TheSwfAndThePageNeverReplaceAFileThatAppearedMeanwhile) {
  for (const QString appears : {"clip.mp4.swf", "clip.mp4.html"}) {
    QDir(Out.Path()).removeRecursively();
    QDir().mkpath(Out.Path());
    const TPackagingJob job = PackagingJobOf(EntryValue);
    TStandInRunner runner;
    runner.Meanwhile = [&](const QString& Tool) {
      if (Tool == QStringLiteral("mskin.dll")) WriteTextFile(Out.File(appears), "another run's");
    };
    QString error;
    EXPECT_FALSE(RunPackaging(job, runner, &error)) << qPrintable(appears);
    const QString kept = Out.File(appears).replace(QStringLiteral("clip.mp4."),
                                                   QStringLiteral("clip.mp4 (2)."));
    EXPECT_EQ(error, appears + QStringLiteral(": Another file named ") + Out.File(appears) +
                         QStringLiteral(" appeared while this one was written; the new ") +
                         appears + QStringLiteral(" is kept as ") + kept);
    EXPECT_EQ(ReadTextFile(Out.File(appears)), "another run's");
    EXPECT_TRUE(QFileInfo(kept).size() > 0) << qPrintable(kept);
  }
}

// The output folder is moved while the entry is packaged and its path made a link to another
// folder that holds files of the same names: the SWF embeds the entry's own video, the SWF and
// the page land beside the entry's FLV, and the other folder's files stay as they were.
TEST_F(PackagingTest, TheSwfAndThePageGoWhereTheFlvWentWhenTheFolderMoves) {
  for (const bool embeds : {false, true}) {
    SCOPED_TRACE(embeds ? "embedded video" : "FLV beside");
    QDir(Out.Path()).removeRecursively();
    const QString videos = Out.File(QStringLiteral("videos"));
    const QString moved = Out.File(QStringLiteral("videos-moved"));
    const QString others = Out.File(QStringLiteral("others"));
    QDir().mkpath(videos);
    QDir().mkpath(others);
    EntryValue.Output.FileName = QFile::encodeName(videos + "/clip.mp4.flv").toStdString();
    EntryValue.SWFData.isflv = !embeds;
    WriteTextFile(videos + "/clip.mp4.flv", "the entry's FLV");
    WriteTextFile(videos + "/clip.mp4.swf", "the entry's video");
    for (const char* suffix : {".flv", ".swf", ".html"})
      WriteTextFile(others + "/clip.mp4" + suffix, "another folder's");
    TPackagingJob job = PackagingJobOf(EntryValue);
    job.Into = TFolder(QFile::encodeName(videos).toStdString());  // as the plan finds the FLV's
    job.ReplacesSwf = true;  // as the user let it
    TStandInRunner runner;
    runner.Meanwhile = [&](const QString& Tool) {
      if (Tool != QStringLiteral("mskin.dll")) return;
      ASSERT_TRUE(QDir().rename(videos, moved));
      ASSERT_TRUE(QFile::link(others, videos));
    };
    QString error;
    EXPECT_TRUE(RunPackaging(job, runner, &error)) << qPrintable(error);
    for (const char* suffix : {".flv", ".swf", ".html"})
      EXPECT_EQ(ReadTextFile(others + "/clip.mp4" + suffix), "another folder's") << suffix;
    EXPECT_EQ(ReadTextFile(moved + "/clip.mp4.swf"),
              embeds ? "new mskin.dll with the entry's video" : "new mskin.dll");
    EXPECT_TRUE(ReadTextFile(moved + "/clip.mp4.html").contains("clip.mp4.swf"));
  }
}

// Two runs (two instances sharing the program folder, or one run's entries) package at once:
// each SWF carries its own entry's settings.
TEST_F(PackagingTest, RunsAtOnceEachPackageTheirOwnSettings) {
  constexpr int Runs = 2;
  std::latch together(Runs);
  std::vector<std::thread> runs;
  std::vector<QString> errors(Runs);
  std::vector<TPackagingJob> jobs;
  for (int n = 0; n < Runs; ++n) {
    TFileOption entry = EntryValue;
    entry.Output.FileName = Out.File(QStringLiteral("clip%1.flv").arg(n)).toStdString();
    jobs.push_back(PackagingJobOf(entry));
  }
  for (int n = 0; n < Runs; ++n)
    runs.emplace_back([&, n] {
      TPassingRunner runner(together);
      RunPackaging(jobs[n], runner, &errors[n]);
    });
  for (std::thread& run : runs) run.join();
  for (int n = 0; n < Runs; ++n) {
    const QByteArray swf = ReadTextFile(Out.File(QStringLiteral("clip%1.swf").arg(n)));
    EXPECT_TRUE(swf.contains(QStringLiteral("videofile:String=\"clip%1.flv\"").arg(n).toUtf8()))
        << n << " " << qPrintable(errors[n]) << "\n" << swf.constData();
  }
  EXPECT_EQ(QDir(Program.File(QStringLiteral("templates"))).entryList(QDir::Files), QStringList());
}

TEST_F(PackagingTest, RealProcessesReportStartFailuresExitCodesAndTimeLimits) {
  TQProcessRunner runner;
  const TProcessResult missing =
      runner.Run(Program.File(QStringLiteral("none")), {}, 10000, nullptr);
  EXPECT_FALSE(missing.Started);
  const TProcessResult failing =
      runner.Run(QStringLiteral("/bin/sh"), {"-c", "echo 'bad \"thing\"' >&2; exit 3"}, 60000,
                 nullptr);
  EXPECT_TRUE(failing.Started);
  EXPECT_EQ(failing.ExitCode, 3);
  EXPECT_EQ(failing.ErrorOutput, QStringLiteral("bad \"thing\"\n"));
  EXPECT_FALSE(failing.Succeeded());
  const TProcessResult stuck = runner.Run(QStringLiteral("/bin/sleep"), {"600"}, 1, nullptr);
  EXPECT_TRUE(stuck.TimedOut);
  EXPECT_FALSE(stuck.Succeeded());
  // A tool that hangs ends as soon as the user cancels, long before its time limit.
  std::atomic<bool> cancel{false};
  std::thread user([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    cancel = true;
  });
  const auto started = std::chrono::steady_clock::now();
  const TProcessResult cancelled =
      runner.Run(QStringLiteral("/bin/sleep"), {"600"}, ToolTimeLimitMs, &cancel);
  user.join();
  EXPECT_TRUE(cancelled.Cancelled);
  EXPECT_FALSE(cancelled.TimedOut);
  EXPECT_FALSE(cancelled.Succeeded());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
}

// Real tool processes in a process namespace of their own, with its own /proc, as some
// containers start programs: the files they get name their own descriptors, never another
// process's. The tools here pass what they read on: the settings, then settings and video.
TEST_F(PackagingTest, RealToolsReadAndWriteThroughTheirOwnDescriptors) {
  if (QProcess::execute(QStringLiteral("unshare"), {"--pid", "--fork", "--mount-proc", "true"}))
    GTEST_SKIP() << "cannot start a process in a namespace of its own here";
  class TOwnNamespaceRunner : public TQProcessRunner {
    TProcessResult Run(const QString& Program, const QStringList& Arguments, int TimeLimitMs,
                       const std::atomic<bool>* Cancel) override {
      return TQProcessRunner::Run(
          QStringLiteral("unshare"),
          QStringList{"--pid", "--fork", "--mount-proc", Program} + Arguments, TimeLimitMs, Cancel);
    }
  } runner;
  QDir().mkpath(Program.File(QStringLiteral("LibAV")));
  WriteTextFile(SwfDataToolPath(), "#!/bin/sh\ncat \"$7\" > \"$9\"\n");
  WriteTextFile(SkinToolPath(),
                "#!/bin/sh\nfor a; do last=$a; done\nfor a; do case $a in "
                "swfdata=*|video=*) cat \"${a#*=}\";; esac; done > \"$last\"\n");
  for (const QString& tool : {SwfDataToolPath(), SkinToolPath()})
    QFile::setPermissions(tool, QFile::ReadOwner | QFile::ExeOwner);
  for (const bool embeds : {false, true}) {
    EntryValue.SWFData.isflv = !embeds;
    WriteTextFile(Out.File(QStringLiteral("clip.mp4.swf")), "|the video SWF|");
    TPackagingJob job = PackagingJobOf(EntryValue);
    job.ReplacesSwf = job.ReplacesPage = true;
    QString error;
    EXPECT_TRUE(RunPackaging(job, runner, &error)) << qPrintable(error);
    const QByteArray swf = ReadTextFile(Out.File(QStringLiteral("clip.mp4.swf")));
    EXPECT_TRUE(swf.contains("public var videotime:")) << swf.constData();
    EXPECT_EQ(swf.contains("|the video SWF|"), embeds) << swf.constData();
  }
}

// A server may send the page without a character set, so the page itself is plain ASCII.
TEST(HtmlPage, NamesAreEscapedForThePageAndTheAddress) {
  const QString page = HtmlPageText(QStringLiteral("a<b>&\"c d#é"), 320, 270);
  const QString expected = QStringLiteral(
      "<html>\n"
      "<title>a&lt;b&gt;&amp;&quot;c d#&#233;</title>\n"
      "<body>\n"
      "<table width=\"100%\" height=\"100%\">\n"
      "<tr>\n"
      "<td>\n"
      "<center>\n"
      "<object classid=\"CLSID:D27CDB6E-AE6D-11cf-96B8-444553540000\"\n"
      "codebase=\"http://download.macromedia.com/pub/shockwave/cabs/flash/"
      "swflash.cab#version=8,0,0,0\"\n"
      "Width=\"320\"Height=\"270\">\n"
      "<param name=\"movie\" value=\"a%3Cb%3E%26%22c%20d%23%C3%A9.swf\">\n"
      "<param name=\"quality\" value=\"high\">\n"
      "<param name=\"bgcolor\" value=\"#000000\">\n"
      "<param name=\"allowScriptAccess\" value=\"always\" >\n"
      "<param name=\"allowFullScreen\" value=\"True\" >\n"
      "<embed src=\"a%3Cb%3E%26%22c%20d%23%C3%A9.swf\" quality=\"high\" width=\"320\" "
      "height=\"270\" \n"
      "allowScriptAccess=\"always\" type=\"application/x-shockwave-flash\" \n"
      "pluginspage=\"http://www.macromedia.com/go/getflashplayer\" allowfullscreen=\"true\">\n"
      "</object>\n"
      "</center>\n"
      "</td>\n"
      "</tr>\n"
      "</body>\n"
      "</html>\n");
  EXPECT_EQ(page.toStdString(), expected.toStdString());
}

TEST(HtmlPage, TitlesOutsideAsciiAreCharacterReferences) {
  for (const auto& [name, title] : std::vector<std::pair<QString, QString>>{
           {QStringLiteral("Übung Größe"), QStringLiteral("&#220;bung Gr&#246;&#223;e")},
           {QStringLiteral("録音_講義"), QStringLiteral("&#37682;&#38899;_&#35611;&#32681;")},
           {QStringLiteral("🎵 <i>"), QStringLiteral("&#127925; &lt;i&gt;")}}) {
    const QString page = HtmlPageText(name, 320, 270);
    EXPECT_EQ(page.section(QLatin1Char('\n'), 1, 1).toStdString(),
              ("<title>" + title + "</title>").toStdString());
    EXPECT_EQ(page.toLatin1(), page.toUtf8()) << "nothing but ASCII: " << name.toStdString();
  }
}

}  // namespace
