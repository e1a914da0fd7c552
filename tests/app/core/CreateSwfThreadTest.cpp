#include "AppTestSupport.h"
#include "FFBaseComponent.h"
#include "U_Config.h"
#include "U_Converting.h"
#include "U_CreateSwfThread.h"
#include "VelLog.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <map>

namespace {

// Plays the two tools: each writes its "-o" file unless told to fail.
class TStandInRunner : public IProcessRunner {
 public:
  std::map<QString, int> ExitCodes;  // by tool file name; 0 when missing
  std::vector<QStringList> Runs;     // tool file name, then the arguments

  TProcessResult Run(const QString& Program, const QStringList& Arguments,
                     int TimeLimitMs) override {
    const QString tool = QFileInfo(Program).fileName();
    Runs.push_back(QStringList{tool} + Arguments);
    TProcessResult result;
    result.Started = TimeLimitMs > 0;
    result.ExitCode = ExitCodes[tool];
    if (result.ExitCode == 0)
      WriteTextFile(Arguments.last(), "new " + tool.toUtf8());
    else
      result.ErrorOutput = QStringLiteral("cannot read input\n");
    return result;
  }
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

TEST_F(PackagingTest, ToolsGetArgumentListsAndTheSwfIsReplaced) {
  for (const bool embeds : {false, true}) {
    TStandInRunner runner;
    EntryValue.SWFData.isflv = !embeds;
    EntryValue.SWFData.ratio = "16:9\" \\ \"x";
    const QString swf = Out.File(QStringLiteral("clip.mp4.swf"));
    WriteTextFile(swf, "engine's SWF");
    const QString usersOwn = Out.File(QStringLiteral("~Tmp.swf"));
    WriteTextFile(usersOwn, "the user's own");
    ASSERT_TRUE(RunPackaging(PackagingJobOf(EntryValue), runner));

    const QString templates = Program.File(QStringLiteral("templates/"));
    ASSERT_EQ(runner.Runs.size(), 2u);
    EXPECT_EQ(runner.Runs[0],
              (QStringList{"swfdata.dll", "-X", "400", "-Y", "400", "-T", "9",
                           templates + "SWFData.dat", "-o", templates + "swfdata.swf"}));
    const QFileInfo scratch(runner.Runs[1].last());
    EXPECT_EQ(scratch.absolutePath(), Out.Path());
    EXPECT_TRUE(IsTemporaryFileName(scratch.fileName().toStdString()))
        << qPrintable(scratch.fileName());
    QStringList combine{"mskin.dll", "/skins/Player01.swf"};
    if (embeds) combine << QStringLiteral("video=") + swf;
    combine << QStringLiteral("swfdata=") + templates + "swfdata.swf"
            << QStringList{"-X", "320", "-Y", "240", "-F", "9", "-o", scratch.filePath()};
    EXPECT_EQ(runner.Runs[1], combine) << embeds;
    EXPECT_EQ(ReadTextFile(swf), "new mskin.dll");
    EXPECT_FALSE(scratch.exists());
    EXPECT_EQ(ReadTextFile(usersOwn), "the user's own");
    EXPECT_TRUE(QFileInfo::exists(Out.File(QStringLiteral("clip.mp4.html"))));
    const QByteArray source = ReadTextFile(templates + "SWFData.dat");
    EXPECT_TRUE(source.contains("        public var ratio:String=\"16:9\\\" \\\\ \\\"x\";\r\n"));
    EXPECT_TRUE(source.contains(embeds ? "public var videofile:String=\"\";"
                                       : "public var videofile:String=\"clip.mp4.flv\";"));
  }
}

TEST_F(PackagingTest, AFailingToolKeepsTheEarlierSwfAndWritesNoPage) {
  for (const QString tool : {"swfdata.dll", "mskin.dll"}) {
    TStandInRunner runner;
    runner.ExitCodes[tool] = 1;
    const QString swf = Out.File(QStringLiteral("clip.mp4.swf"));
    WriteTextFile(swf, "engine's SWF");
    QFile::remove(Out.File(QStringLiteral("clip.mp4.html")));
    EXPECT_FALSE(RunPackaging(PackagingJobOf(EntryValue), runner)) << tool.toStdString();
    EXPECT_EQ(ReadTextFile(swf), "engine's SWF") << tool.toStdString();
    EXPECT_FALSE(QFileInfo::exists(Out.File(QStringLiteral("clip.mp4.html"))));
    EXPECT_TRUE(Log().contains(tool + QStringLiteral(" ended with code 1: cannot read input")));
  }
}

TEST_F(PackagingTest, RealProcessesReportStartFailuresExitCodesAndTimeLimits) {
  TQProcessRunner runner;
  const TProcessResult missing = runner.Run(Program.File(QStringLiteral("none")), {}, 10000);
  EXPECT_FALSE(missing.Started);
  const TProcessResult failing =
      runner.Run(QStringLiteral("/bin/sh"), {"-c", "echo 'bad \"thing\"' >&2; exit 3"}, 60000);
  EXPECT_TRUE(failing.Started);
  EXPECT_EQ(failing.ExitCode, 3);
  EXPECT_EQ(failing.ErrorOutput, QStringLiteral("bad \"thing\"\n"));
  EXPECT_FALSE(failing.Succeeded());
  const TProcessResult stuck = runner.Run(QStringLiteral("/bin/sleep"), {"600"}, 1);
  EXPECT_TRUE(stuck.TimedOut);
  EXPECT_FALSE(stuck.Succeeded());
}

TEST(HtmlPage, NamesAreEscapedForThePageAndTheAddress) {
  const QString page = HtmlPageText(QStringLiteral("a<b>&\"c d#é"), 320, 270);
  const QString expected = QStringLiteral(
      "<html>\n"
      "<title>a&lt;b&gt;&amp;&quot;c d#é</title>\n"
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
  EXPECT_EQ(page, expected);
}

}  // namespace
