#include "AppTestSupport.h"
#include "EntryFixtures.h"
#include "MediaFixtures.h"
#include "U_Converting.h"
#include "U_Treelist.h"
#include "VelLog.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <deque>
#include <set>

namespace {

QString Str(const std::string& Text) { return QString::fromStdString(Text); }

// Chooses, then opens every entry into the one encoder.
void Build(TConvertPlan& Plan, IConvertEncoder& Encoder, const std::vector<TConvertNode>& Nodes) {
  Plan.Choose(Nodes);
  while (Plan.OpenNext(Encoder) >= 0) {
  }
}

TFileOption Entry(const QString& Source, const QString& Output) {
  TFileOption entry;
  InitInputOptions(entry.Input);
  InitOutputOptions(entry.Output);
  entry.SourceFrameSize = Source;
  entry.OutputFrameSize = Output;
  entry.Deinterlace = -1;
  return entry;
}

struct FilterCase {
  const char* Name;
  std::function<void(TFileOption&)> Setup;
  bool WithGeometry;
  std::string Chain;
  std::string ExtOptions;
};

TEST(ConvertFilters, ChainsForEveryKindOfEntry) {
  const std::vector<FilterCase> cases = {
      {"same size gives only the scale", [](TFileOption&) {}, true, "scale=320:240", ""},
      {"other size: full crop, scaled onto whole pixels, then the bars",
       [](TFileOption& e) { e.SourceFrameSize = QStringLiteral("640x360"); }, true,
       "crop=640:360:0:0:exact=1,scale=320:180,pad=320:240:0:30", ""},
      {"taller source: bars left and right",
       [](TFileOption& e) { e.SourceFrameSize = QStringLiteral("300x400"); }, true,
       "crop=300:400:0:0:exact=1,scale=180:240,pad=320:240:70:0", ""},
      {"a picture between pixels takes the nearest even length, at an even offset",
       [](TFileOption& e) { e.SourceFrameSize = QStringLiteral("300x410"); }, true,
       "crop=300:410:0:0:exact=1,scale=176:240,pad=320:240:72:0", ""},
      {"bars that an even offset cannot split evenly differ by two",
       [](TFileOption& e) { e.SourceFrameSize = QStringLiteral("640x364"); }, true,
       "crop=640:364:0:0:exact=1,scale=320:182,pad=320:240:0:28", ""},
      {"a picture at its own size keeps its pixels",
       [](TFileOption& e) {
         e.CropEnabled = true;
         e.CropRect = {65, 0, 320, 240};
       },
       true, "crop=255:240:65:0:exact=1,scale=255:240,pad=320:240:32:0", ""},
      {"a fit within half a pixel of the output is only scaled",
       [](TFileOption& e) { e.SourceFrameSize = QStringLiteral("321x241"); }, true,
       "crop=321:241:0:0:exact=1,scale=320:240", ""},
      {"a fit that misses the output by two pixels fills it",
       [](TFileOption& e) {
         e.SourceFrameSize = QStringLiteral("640x360");
         e.OutputFrameSize = QStringLiteral("358x200");
       },
       true, "crop=640:360:0:0:exact=1,scale=358:200", ""},
      {"pixels that are not square are fitted as shown, and the output's are square",
       [](TFileOption& e) {
         e.SourceFrameSize = QStringLiteral("720x576");
         e.SourcePixelAspect = {64, 45};
         e.OutputFrameSize = QStringLiteral("640x360");
       },
       true, "crop=720:576:0:0:exact=1,scale=640:360,setsar=1", ""},
      {"a crop of pixels that are not square is in stored pixels, fitted as shown",
       [](TFileOption& e) {
         e.SourceFrameSize = QStringLiteral("720x480");
         e.SourcePixelAspect = {8, 9};
         e.CropEnabled = true;
         e.CropRect = {0, 0, 360, 480};
       },
       true, "crop=360:480:0:0:exact=1,scale=160:240,pad=320:240:80:0,setsar=1", ""},
      {"an odd output is cut from an even canvas",
       [](TFileOption& e) {
         e.SourceFrameSize = QStringLiteral("640x480");
         e.OutputFrameSize = QStringLiteral("1481x312");
       },
       true, "crop=640:480:0:0:exact=1,scale=416:312,pad=1482:312:532:0,crop=1481:312:0:0:exact=1",
       ""},
      {"explicit crop",
       [](TFileOption& e) {
         e.CropEnabled = true;
         e.CropRect = {10, 20, 170, 140};
       },
       true, "crop=160:120:10:20:exact=1,scale=320:240", ""},
      {"a merge group fits each of its inputs as shown, whatever its size and pixels, with bars",
       [](TFileOption& e) {
         e.IsMergeGroup = true;
         e.SourceFrameSize = QStringLiteral("640x360");
       },
       true,
       "scale=w='round(iw*max(1,sar))':h='round(ih/min(1,sar))',"
       "scale=w=320:h=240:force_original_aspect_ratio=decrease:force_divisible_by=2,"
       "pad=320:240:(ow-iw)/2:(oh-ih)/2,setsar=1",
       ""},
      {"a merge group's crop is the first input's, fitted as shown",
       [](TFileOption& e) {
         e.IsMergeGroup = true;
         e.SourceFrameSize = QStringLiteral("720x576");
         e.SourcePixelAspect = {64, 45};
         e.OutputFrameSize = QStringLiteral("640x360");
         e.CropEnabled = true;
         e.CropRect = {0, 0, 360, 576};
       },
       true, "crop=360:576:0:0:exact=1,scale=320:360,pad=640:360:160:0,setsar=1", ""},
      {"empty and 0x0 output sizes keep the source's",
       [](TFileOption& e) {
         e.OutputFrameSize = QStringLiteral("0x0");
         e.SourceFrameSize = QStringLiteral("176x144");
       },
       true, "scale=176:144", ""},
      {"no pictures, no geometry", [](TFileOption& e) { e.SourceFrameSize.clear(); }, true, "", ""},
      {"effects on the cropped picture, the bars padded after them, flips last",
       [](TFileOption& e) {
         e.SourceFrameSize = QStringLiteral("640x360");
         e.Brightness = 40;
         e.HFlip = true;
       },
       true,
       "crop=640:360:0:0:exact=1,nativeeq=40:0,scale=320:180,pad=320:240:0:30,hflip",
       ""},
      {"effects in order",
       [](TFileOption& e) {
         e.Contrast = 20;
         e.Saturation = -30;
         e.VFlip = e.HFlip = true;
       },
       false, "nativeeq=0:20,nativehue=0:-30,vflip,hflip", ""},
      {"deinterlace goes before the entry's own lines",
       [](TFileOption& e) {
         e.Deinterlace = 1;
         e.Output.ExtOptions = "g=12";
       },
       false, "", "deinterlace=1\r\ng=12"},
      {"picture over a chain, links named",
       [](TFileOption& e) {
         e.WaterMarkKind = 1;
         e.WaterMark.PictureFile = QStringLiteral("/p/logo.png");
         e.WaterMark.Rect = {10, 20, 40, 50};
       },
       true, "movie=/p/logo.png [wm]; [in] scale=320:240 [v]; [v][wm] overlay=10:20 [out]", ""},
      {"picture alone, the copy preferred",
       [](TFileOption& e) {
         e.WaterMarkKind = 1;
         e.WaterMark.PictureFile = QStringLiteral("/p/logo.png");
         e.WaterMark.PictureCopy = QStringLiteral("/s/copy.png");
       },
       false, "movie=/s/copy.png [wm]; [in][wm] overlay=0:0 [out]", ""},
      {"picture path with every special character",
       [](TFileOption& e) {
         e.WaterMarkKind = 1;
         e.WaterMark.PictureFile = QStringLiteral("/a b,c[1];d'e:f=g\\h.png");
       },
       false, R"(movie=/a\\\ b\,c\[1\]\;d\\\'e\\:f\\=g\\\\h.png [wm]; [in][wm] overlay=0:0 [out])",
       ""},
      {"a switched-off watermark draws nothing",
       [](TFileOption& e) {
         e.WaterMarkKind = -1;
         e.WaterMark.PictureFile = QStringLiteral("/p/logo.png");
       },
       false, "", ""},
  };
  const QLocale before;
  for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::German, QLocale::Germany)}) {
    QLocale::setDefault(locale);
    for (const FilterCase& c : cases) {
      TFileOption entry = Entry(QStringLiteral("320x240"), QStringLiteral("320x240"));
      c.Setup(entry);
      const TVideoFilters filters = BuildVideoFilters(entry, c.WithGeometry, true);
      EXPECT_EQ(filters.Chain, c.Chain) << c.Name << " in " << locale.name().toStdString();
      EXPECT_EQ(filters.ExtOptions, c.ExtOptions) << c.Name;
    }
  }
  QLocale::setDefault(before);
}

TEST(ConvertFilters, TaskRecordTakesTheFiltersAndLeavesTheEntryAlone) {
  TFileOption entry = Entry(QStringLiteral("640x360"), QStringLiteral("320x240"));
  entry.Output.FrameSize = "320x240";
  entry.Deinterlace = 0;
  entry.WaterMarkKind = 2;
  const TOutputOptions task = TaskOutputOptions(entry, true);
  EXPECT_EQ(task.FrameSize, "");
  EXPECT_TRUE(task.VideoOutputHook);
  EXPECT_EQ(task.ExtOptions, "deinterlace=0\r\n");
  EXPECT_EQ(entry.Output.FrameSize, "320x240");
  EXPECT_EQ(entry.Output.VideoFilters, "");
  EXPECT_FALSE(entry.Output.VideoOutputHook);
}

// ---------------------------------------------------------------------------------------

// Records what the plan asks of the encoder; refuses the inputs and outputs it is told to.
class TStandInEncoder : public IConvertEncoder {
 public:
  std::set<std::string> BadInputs, BadOutputs;
  std::vector<std::string> Calls;
  int Tasks = 0;

  int AddTask(const std::string& FileName, const TInputOptions&) override {
    Calls.push_back("add " + FileName);
    return BadInputs.count(FileName) ? -1 : Tasks++;
  }
  bool AddInputFile(int TaskIndex, const std::string& FileName, const TInputOptions&) override {
    Calls.push_back("join " + std::to_string(TaskIndex) + " " + FileName);
    return !BadInputs.count(FileName);
  }
  bool SetOutputFile(int TaskIndex, const std::string& FileName, const TOutputOptions&) override {
    Calls.push_back("out " + std::to_string(TaskIndex) + " " + FileName);
    return !BadOutputs.count(FileName);
  }
  void RemoveTask(int TaskIndex) override {
    Calls.push_back("remove " + std::to_string(TaskIndex));
    --Tasks;
  }
  std::string LastError() const override { return "refused"; }
  TFolder OutputFolder(int) const override { return {}; }
};

class TStandInAsker : public IOverwriteAsker {
 public:
  std::deque<int> Answers;
  QStringList Asked;
  // Each question as the names it asked about, blank-separated.
  int AskReplaceFiles(const QStringList& FileNames) override {
    QStringList names;
    for (const QString& file : FileNames) names << QFileInfo(file).fileName();
    Asked << names.join(QLatin1Char(' '));
    const int answer = Answers.front();
    Answers.pop_front();
    return answer;
  }
};

class ConvertPlanTest : public testing::Test {
 protected:
  void SetUp() override { VelLog = TVelLog(Folder.File(QStringLiteral("log.txt"))); }
  void TearDown() override { VelLog = TVelLog(); }

  TFileOption& Add(const QString& Name) {
    Entries.push_back(Entry(QStringLiteral("320x240"), QStringLiteral("320x240")));
    TFileOption& e = Entries.back();
    e.Input.FileName = Name.toStdString() + ".mp4";
    e.Output.FileName = Folder.File(Name + QStringLiteral(".flv")).toStdString();
    e.Gflv = true;
    e.Duration = 1000000;
    return e;
  }
  std::string Out(const QString& Name) const { return Folder.File(Name).toStdString(); }
  QString Log() const {
    return QString::fromUtf8(ReadTextFile(Folder.File(QStringLiteral("log.txt"))));
  }

  TScratchFolder Folder;
  std::deque<TFileOption> Entries;
  TStandInEncoder Encoder;
  TStandInAsker Asker;
};

TEST_F(ConvertPlanTest, EntriesPartsAndMergeGroupsBecomeTasks) {
  TFileOption& a = Add(QStringLiteral("a"));
  TFileOption& part1 = Add(QStringLiteral("a_1"));
  TFileOption& part2 = Add(QStringLiteral("a_2"));
  TFileOption& unchecked = Add(QStringLiteral("u"));
  TFileOption& merge = Add(QStringLiteral("Merge"));
  merge.IsMergeGroup = true;
  merge.GSwf = true;
  merge.SWFData.isflv = false;
  TFileOption& m1 = Add(QStringLiteral("m1"));
  TFileOption& m2 = Add(QStringLiteral("m2"));
  TFileOption& embedded = Add(QStringLiteral("e"));
  embedded.GSwf = true;
  embedded.SWFData.isflv = false;
  TFileOption& noFlv = Add(QStringLiteral("p"));
  noFlv.Gflv = false;
  noFlv.GSwf = true;
  TFileOption& nothing = Add(QStringLiteral("n"));
  nothing.Gflv = false;
  nothing.Output.FileName = Out(QStringLiteral("n.mp4"));

  TConvertPlan plan(Asker);
  Build(plan, Encoder,
        {{&a, true, {{&part1, false, {}}, {&part2, true, {}}}},
         {&unchecked, false, {}},
         {&merge, true, {{&m1, true, {}}, {&m2, false, {}}}},
         {&embedded, true, {}},
         {&noFlv, true, {}},
         {&nothing, true, {}}});

  const std::vector<std::string> expected = {"add a.mp4",
                                             "out 0 " + Out("a.flv"),
                                             "add a_2.mp4",
                                             "out 1 " + Out("a_2.flv"),
                                             "add m1.mp4",
                                             "join 2 m2.mp4",
                                             "out 2 " + Out("Merge.swf"),
                                             "add e.mp4",
                                             "out 3 " + Out("e.flv"),
                                             "out 3 " + Out("e.swf"),
                                             "add p.mp4",
                                             "out 4 " + Out("p.swf")};
  EXPECT_EQ(Encoder.Calls, expected);
  EXPECT_EQ(plan.OfferedCount(), 5);
  EXPECT_EQ(plan.RefusedCount(), 0);
  EXPECT_EQ(plan.TotalDuration(), 5000000);
  EXPECT_EQ(plan.EntryOfTask(2), &merge);
  EXPECT_EQ(nothing.Output.FileName, Out(QStringLiteral("n.mp4")));
  EXPECT_EQ(merge.Output.FileName, Out(QStringLiteral("Merge.flv")));
  EXPECT_TRUE(
      Log().contains(QStringLiteral("Neither FLV nor SWF is chosen for ") + Str(Out("n.mp4"))));
  EXPECT_EQ(Log().count(QStringLiteral("[Merge Video]")), 2);
  EXPECT_TRUE(Log().contains(QStringLiteral("OutPutName: ") + Str(Out("p.swf"))));
}

TEST_F(ConvertPlanTest, RefusedInputsAndOutputsKeepTheIndexesRight) {
  // Opening a pipe for writing waits for a reader: it is refused before anything asks or opens.
  TFileOption& pipe = Add(QStringLiteral("pipe"));
  ASSERT_EQ(mkfifo(Out(QStringLiteral("pipe.flv")).c_str(), 0600), 0);
  Asker.Answers = {raYes};
  TFileOption& missing = Add(QStringLiteral("missing"));
  TFileOption& badOut = Add(QStringLiteral("badout"));
  TFileOption& good = Add(QStringLiteral("good"));
  good.WaterMarkKind = 2;
  good.WaterMark.Text = QStringLiteral("hello");
  // A crop that lies (partly) off its 320x240 picture cannot be applied and is refused before
  // anything opens; one with no size at all is no crop.
  TFileOption& offRight = Add(QStringLiteral("offright"));
  offRight.CropEnabled = true;
  offRight.CropRect = {337, 0, 321, 240};
  TFileOption& offBottom = Add(QStringLiteral("offbottom"));
  offBottom.CropEnabled = true;
  offBottom.CropRect = {0, 200, 320, 250};
  TFileOption& noCrop = Add(QStringLiteral("nocrop"));
  noCrop.CropEnabled = true;
  Encoder.BadInputs = {"missing.mp4"};
  Encoder.BadOutputs = {Out("badout.flv")};
  TConvertPlan plan(Asker);
  Build(plan, Encoder,
        {{&pipe, true, {}},
         {&missing, true, {}},
         {&badOut, true, {}},
         {&offRight, true, {}},
         {&good, true, {}},
         {&offBottom, true, {}},
         {&noCrop, true, {}}});

  EXPECT_EQ(Encoder.Calls, (std::vector<std::string>{"add missing.mp4", "add badout.mp4",
                                                     "out 0 " + Out("badout.flv"), "remove 0",
                                                     "add good.mp4", "out 0 " + Out("good.flv"),
                                                     "add nocrop.mp4",
                                                     "out 1 " + Out("nocrop.flv")}));
  EXPECT_EQ(plan.EntryOfTask(0), &good);
  EXPECT_EQ(plan.EntryOfTask(1), &noCrop);
  EXPECT_EQ(plan.EntryOfTask(2), nullptr);
  EXPECT_EQ(plan.OfferedCount(), 7);
  EXPECT_EQ(plan.RefusedCount(), 5);
  ASSERT_NE(plan.TextWaterMarkOf(0), nullptr);
  EXPECT_EQ(plan.TextWaterMarkOf(0)->WaterMark.Text, QStringLiteral("hello"));
  EXPECT_TRUE(Log().contains(QStringLiteral("File open Error: refused")));
  EXPECT_TRUE(Log().contains(QStringLiteral("SetOutput Error: refused")));
  EXPECT_TRUE(Log().contains(QStringLiteral("SetOutput Error: ") + Str(Out("pipe.flv")) +
                             QStringLiteral(": not a regular file: a named pipe")));
  EXPECT_TRUE(Asker.Asked.isEmpty());
  EXPECT_EQ(plan.Refusals(),
            QStringList({"pipe.flv: SetOutput Error: " + Str(Out("pipe.flv")) +
                             ": not a regular file: a named pipe",
                         "offright.flv: Crop Error: the crop (left 337, top 0, right 321, "
                         "bottom 240) does not lie in the 320x240 picture of offright.mp4",
                         "offbottom.flv: Crop Error: the crop (left 0, top 200, right 320, "
                         "bottom 250) does not lie in the 320x240 picture of offbottom.mp4",
                         "missing.flv: File open Error: refused",
                         "badout.flv: SetOutput Error: refused"}));
}

struct OverwriteCase {
  const char* Name;
  std::deque<int> Answers;
  std::set<QString> Existing;  // files of a, b, c and c's part d
  QStringList Asked;
  std::vector<std::string> Added;
  // The files beside the FLV that the opened tasks may replace.
  std::set<QString> Replaced;
};

// The files an entry writes (FLV, SWF, page, thumbnail; a part's of its own) that exist are
// asked about in one question, whose answer covers them all; a No leaves the whole entry out.
TEST_F(ConvertPlanTest, OverwriteAnswersAreRemembered) {
  const std::vector<OverwriteCase> cases = {
      {"nothing exists", {}, {}, {}, {"a", "b", "c", "d"}, {}},
      {"yes, no", {raYes, raNo}, {"a.flv", "c.flv"}, {"a.flv", "c.flv"}, {"a", "b", "d"}, {}},
      {"yes to all",
       {raYesToAll},
       {"a.flv", "b.flv", "d.flv"},
       {"a.flv"},
       {"a", "b", "c", "d"},
       {}},
      {"no to all", {raNoToAll}, {"b.flv", "c.flv"}, {"b.flv"}, {"a", "d"}, {}},
      {"cancel skips the rest", {raCancel}, {"b.flv"}, {"b.flv"}, {"a"}, {}},
      {"the user's SWF, page and thumbnail without an FLV, let go at once",
       {raYes},
       {"a.swf", "a.html", "a.jpg"},
       {"a.swf a.html a.jpg"},
       {"a", "b", "c", "d"},
       {"a.swf", "a.html", "a.jpg"}},
      {"no keeps every file of its entry",
       {raNo, raYes},
       {"a.flv", "a.html", "a.jpg", "b.swf"},
       {"a.flv a.html a.jpg", "b.swf"},
       {"b", "c", "d"},
       {"b.swf"}},
      {"no for a thumbnail", {raNo}, {"b.jpg"}, {"b.jpg"}, {"a", "c", "d"}, {}},
      {"yes to all covers the entry's other files and the later ones",
       {raYesToAll},
       {"a.swf", "a.jpg", "c.html"},
       {"a.swf a.jpg"},
       {"a", "b", "c", "d"},
       {"a.swf", "a.jpg", "c.html"}},
      {"no to all on a page", {raNoToAll}, {"b.html", "c.swf"}, {"b.html"}, {"a", "d"}, {}},
      {"cancel for an entry's files",
       {raCancel},
       {"b.flv", "b.jpg"},
       {"b.flv b.jpg"},
       {"a"},
       {}},
      {"a part's own files",
       {raNo, raYes},
       {"c.swf", "d.jpg"},
       {"c.swf", "d.jpg"},
       {"a", "b", "d"},
       {"d.jpg"}},
  };
  for (const OverwriteCase& c : cases) {
    TScratchFolder folder;
    TStandInEncoder encoder;
    TStandInAsker asker;
    asker.Answers = c.Answers;
    for (const QString& file : c.Existing) WriteTextFile(folder.File(file), "the user's");
    std::deque<TFileOption> entries;
    for (const QString name : {"a", "b", "c", "d"}) {
      entries.push_back(Entry(QStringLiteral("320x240"), QString()));
      TFileOption& entry = entries.back();
      entry.Gflv = entry.GSwf = entry.GHtml = entry.GThumbnail = true;
      entry.Input.FileName = name.toStdString();
      entry.Output.FileName = folder.File(name + QStringLiteral(".flv")).toStdString();
    }
    const std::vector<TConvertNode> nodes = {{&entries[0], true, {}},
                                             {&entries[1], true, {}},
                                             {&entries[2], true, {{&entries[3], true, {}}}}};
    TConvertPlan plan(asker);
    plan.Choose(nodes);
    std::set<QString> replaced;
    for (int task; (task = plan.OpenNext(encoder)) >= 0;) {
      const TEntryFiles& files = *plan.FilesOfTask(task);
      const QString name = QFileInfo(FlvFileOf(*plan.EntryOfTask(task))).completeBaseName();
      if (files.Packaging.ReplacesSwf) replaced.insert(name + QStringLiteral(".swf"));
      if (files.Packaging.ReplacesPage) replaced.insert(name + QStringLiteral(".html"));
      if (files.ReplacesThumbnail) replaced.insert(name + QStringLiteral(".jpg"));
    }
    std::vector<std::string> added;
    for (const std::string& call : encoder.Calls)
      if (call.rfind("add ", 0) == 0) added.push_back(call.substr(4));
    EXPECT_EQ(asker.Asked, c.Asked) << c.Name;
    EXPECT_EQ(added, c.Added) << c.Name;
    EXPECT_EQ(replaced, c.Replaced) << c.Name;
  }
}

TEST_F(ConvertPlanTest, OneFailedTaskLetsTheOthersRunAndCompletesOnceAtTheEnd) {
  TFileOption& a = Add(QStringLiteral("a"));
  a.GSwf = true;
  TFileOption& b = Add(QStringLiteral("b"));
  TFileOption& c = Add(QStringLiteral("c"));
  c.GSwf = true;
  TConvertPlan plan(Asker);
  Build(plan, Encoder, {{&a, true, {}}, {&b, true, {}}, {&c, true, {}}});

  struct Step {
    int Index;
    bool Finished, Exception;
    TFileOption* Package;
    bool Complete, AllConverted;
  };
  const std::vector<std::pair<const char*, std::vector<Step>>> runs = {
      {"all converted",
       {{0, true, false, &a, false, false},
        {1, true, false, nullptr, false, false},
        {2, true, false, &c, false, false},
        {-1, false, false, nullptr, true, true},
        {-1, false, false, nullptr, false, false}}},
      {"the middle one fails",
       {{0, true, false, &a, false, false},
        {1, false, true, nullptr, false, false},
        {2, true, false, &c, false, false},
        {-1, false, false, nullptr, true, false}}},
      {"stopped",
       {{0, false, false, nullptr, false, false}, {-1, false, false, nullptr, true, false}}},
  };
  for (const auto& [name, steps] : runs) {
    TConvertRun run(plan);
    for (const Step& s : steps) {
      const TTaskEndAction action = run.TaskEnded(s.Index, s.Finished, s.Exception, "boom");
      EXPECT_EQ(action.PackageEntry, s.Package) << name << " task " << s.Index;
      EXPECT_EQ(action.Complete, s.Complete) << name << " task " << s.Index;
      EXPECT_EQ(action.AllConverted, s.AllConverted) << name << " task " << s.Index;
    }
  }
  EXPECT_EQ(Log().count(QStringLiteral("  boom")), 1);

  TConvertRun packagingFails(plan);
  packagingFails.TaskEnded(0, true, false, {});
  packagingFails.FileFailed(QStringLiteral("a.swf: mskin.dll failed"));
  EXPECT_FALSE(packagingFails.TaskEnded(-1, false, false, {}).AllConverted);
}

// A thumbnail replaces only the one there when its entry was chosen: one that appeared since is
// left alone, and the new one is kept beside it and reported under its own name.
TEST_F(ConvertPlanTest, AThumbnailReplacesOnlyWhatWasThereWhenItsEntryWasChosen) {
  TFileOption& a = Add(QStringLiteral("a"));
  TFileOption& b = Add(QStringLiteral("b"));
  a.GThumbnail = b.GThumbnail = true;
  WriteTextFile(Folder.File(QStringLiteral("a.jpg")), "earlier");
  TConvertPlan plan(Asker);
  plan.Choose({{&a, true, {}}, {&b, true, {}}});
  WriteTextFile(Folder.File(QStringLiteral("b.jpg")), "another run's");
  TThumbnailFiles thumbnails;
  QStringList lost;
  for (int task = 0; task < 2; ++task) {
    ASSERT_EQ(plan.OpenNext(Encoder), task);
    const QString file = ThumbnailFileOf(*plan.EntryOfTask(task));
    ASSERT_TRUE(thumbnails.Write(task, *plan.FilesOfTask(task), file, "new"));
    lost << thumbnails.TaskEnded(task, true);
  }
  EXPECT_EQ(lost, QStringList({"", "b.jpg: Another file named " + Folder.File("b.jpg") +
                                        " appeared while this one was written; the new "
                                        "thumbnail is kept as " + Folder.File("b (2).jpg")}));
  EXPECT_EQ(ReadTextFile(Folder.File(QStringLiteral("a.jpg"))), "new");
  EXPECT_EQ(ReadTextFile(Folder.File(QStringLiteral("b.jpg"))), "another run's");
  EXPECT_EQ(ReadTextFile(Folder.File(QStringLiteral("b (2).jpg"))), "new");
}

TEST_F(ConvertPlanTest, ARefusedEntryMakesTheEndMessageAFailure) {
  TFileOption& a = Add(QStringLiteral("a"));
  TFileOption& b = Add(QStringLiteral("b"));
  Encoder.BadInputs = {"b.mp4"};
  TConvertPlan plan(Asker);
  Build(plan, Encoder, {{&a, true, {}}, {&b, true, {}}});
  TConvertRun run(plan);
  run.TaskEnded(0, true, false, {});
  EXPECT_FALSE(run.TaskEnded(-1, false, false, {}).AllConverted);
}

// Every entry that did not convert is named in the end message with its reason, whatever
// stopped it; a long list is cut so that the box fits a screen, and says how many more there are.
TEST_F(ConvertPlanTest, TheEndMessageGivesEveryFailureItsReasonAndSumsUpALongList) {
  TFileOption& a = Add(QStringLiteral("a"));
  TFileOption& b = Add(QStringLiteral("b"));
  TFileOption& c = Add(QStringLiteral("c"));
  Encoder.BadInputs = {"b.mp4"};
  TConvertPlan plan(Asker);
  Build(plan, Encoder, {{&a, true, {}}, {&b, true, {}}, {&c, true, {}}});
  TConvertRun run(plan);
  run.TaskEnded(0, false, true, "Could not name the file /o/a.flv: File name too long");
  run.TaskEnded(1, true, false, {});
  run.FileFailed(QStringLiteral("c.swf: mskin.dll failed"));
  run.FileNotMade(ThumbnailNotMade(c));
  EXPECT_FALSE(run.TaskEnded(-1, true, false, {}).AllConverted);
  EXPECT_EQ(ConversionEndMessage(false, run.Reasons(), run.Notes()).split(QStringLiteral("\r\n")),
            QStringList({"Conversion finished, but one or more files failed in conversion.",
                         "b.flv: File open Error: refused",
                         "a.flv: Could not name the file /o/a.flv: File name too long",
                         "c.swf: mskin.dll failed", "c.jpg: not made, the input has no picture"}));
  // A file that could not be made fails nothing, and is said all the same.
  EXPECT_EQ(
      ConversionEndMessage(true, {}, run.Notes()).split(QStringLiteral("\r\n")),
      QStringList({"File conversion is completed!", "c.jpg: not made, the input has no picture"}));

  QStringList many;
  for (int n = 0; n < 85; ++n)
    many << QStringLiteral("%1.flv: SetOutput Error: Too many open files").arg(n);
  many << QString(300, QLatin1Char('n')) + QStringLiteral(".flv: File name too long");
  for (const bool failed : {true, false}) {
    const QStringList lines = (failed ? ConversionEndMessage(false, many.mid(0, 80), many.mid(80))
                                      : ConversionEndMessage(true, {}, many))
                                  .split(QStringLiteral("\r\n"));
    EXPECT_EQ(lines.size(), 12);
    EXPECT_EQ(lines.mid(1, 10), many.mid(0, 10));
    EXPECT_EQ(lines.last(), QStringLiteral("and 76 more (the log names them all)"));
  }
  const QStringList longLine = ConversionEndMessage(false, many.mid(85)).split("\r\n");
  ASSERT_EQ(longLine.size(), 2);
  EXPECT_LE(longLine[1].size(), 200);
  EXPECT_TRUE(longLine[1].endsWith(QStringLiteral("nnn.flv: File name too long")));
}

// The output folder may have gone since it was chosen: it is made again, or the entry is refused
// saying why; part files that killed runs left there go, each said in the log. An output that was
// not there when the user was asked and appeared before its task opened (another run's) is left
// alone; one the user let replace may be replaced.
TEST_F(ConvertPlanTest, OutputFoldersAreMadeAndSweptAndOnlyFilesAskedAboutAreReplaced) {
  TFileOption& gone = Add(QStringLiteral("gone"));
  gone.Output.FileName = Folder.File(QStringLiteral("deleted/again/gone.flv")).toStdString();
  TFileOption& there = Add(QStringLiteral("there"));
  WriteTextFile(Folder.File(QStringLiteral("there.flv")), "an earlier output");
  const QString stale = Folder.File(QStringLiteral(".fennick-0123456789abcdef-0badf00d.part"));
  WriteTextFile(stale, "a killed run's");
  const QString staleScratch =
      Folder.File(QStringLiteral(".fennick-0123456789abcdef-0badf00d.work"));
  QDir().mkpath(staleScratch);
  QFile::setPermissions(staleScratch, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  WriteTextFile(staleScratch + QStringLiteral("/~Tmp.swf"), "a killed run's packaging");
  const timespec old[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
  for (const QString& leftover : {stale, staleScratch})
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(leftover).constData(), old, 0), 0);
  TFileOption& blocked = Add(QStringLiteral("blocked"));
  WriteTextFile(Folder.File(QStringLiteral("file")), "not a folder");
  blocked.Output.FileName = Folder.File(QStringLiteral("file/blocked.flv")).toStdString();
  TFileOption& late = Add(QStringLiteral("late"));
  Asker.Answers = {raYes};
  TConvertPlan plan(Asker);
  plan.Choose({{&gone, true, {}}, {&there, true, {}}, {&blocked, true, {}}, {&late, true, {}}});
  WriteTextFile(Folder.File(QStringLiteral("late.flv")), "another run's");
  WriteTextFile(Folder.File(QStringLiteral("there.flv")), "replaced meanwhile");
  while (plan.OpenNext(Encoder) >= 0) {
  }

  EXPECT_TRUE(QFileInfo(Folder.File(QStringLiteral("deleted/again"))).isDir());
  for (const QString& leftover : {stale, staleScratch}) {
    EXPECT_FALSE(QFileInfo::exists(leftover)) << qPrintable(leftover);
    EXPECT_TRUE(Log().contains(QStringLiteral("Removed ") + leftover +
                               QStringLiteral(", left by a conversion that did not end")));
  }
  EXPECT_EQ(Encoder.Calls, (std::vector<std::string>{
                               "add gone.mp4", "out 0 " + gone.Output.FileName, "add there.mp4",
                               "out 1 " + there.Output.FileName, "add late.mp4", "remove 2"}));
  EXPECT_EQ(plan.Refusals(),
            QStringList({"blocked.flv: SetOutput Error: The output folder " + Folder.File("file") +
                             " does not exist and cannot be made: Not a directory",
                         "late.flv: SetOutput Error: " + Folder.File("late.flv") +
                             " appeared after the conversion started; it is left as it is"}));
}

TEST_F(ConvertPlanTest, ProgressAcrossTasks) {
  Add(QStringLiteral("a")).Duration = 4000000;
  Add(QStringLiteral("b")).Duration = 6000000;
  TConvertPlan plan(Asker);
  Build(plan, Encoder, {{&Entries[0], true, {}}, {&Entries[1], true, {}}});
  TConvertProgress progress(plan);
  struct Tick {
    int Task;
    int64_t Current, Total;
    bool Changed;
    int File, All;
    const char* Counter;
  };
  for (const Tick& t : std::vector<Tick>{{0, 0, 4000000, true, 0, 0, "[ 1 / 2 ]"},
                                         {0, 2000000, 4000000, false, 50, 20, "[ 1 / 2 ]"},
                                         {1, 3000000, 6000000, true, 50, 70, "[ 2 / 2 ]"},
                                         {1, 6000000, 6000000, false, 50, 70, "[ 2 / 2 ]"}}) {
    EXPECT_EQ(progress.Update(t.Task, t.Current, t.Total), t.Changed) << t.Current;
    EXPECT_EQ(progress.FilePercent(), t.File) << t.Current;
    EXPECT_EQ(progress.TotalPercent(), t.All) << t.Current;
    EXPECT_EQ(progress.CounterText(), QLatin1String(t.Counter));
  }
}

TEST(ConvertPreview, FitKeepsTheAspectCentred) {
  const QRect box(0, 0, 200, 100);
  EXPECT_EQ(FitRectInto({400, 100}, box), QRect(QPoint(0, 25), QPoint(199, 74)));
  EXPECT_EQ(FitRectInto({100, 100}, box), QRect(QPoint(50, 0), QPoint(149, 99)));
  EXPECT_EQ(FitRectInto({320, 240}, QRect(0, 0, 10, 10)), QRect(QPoint(0, 1), QPoint(9, 8)));
  EXPECT_EQ(FitRectInto({0, 0}, box), box);
}

}  // namespace

namespace {

// A file whose Formats and Edit were set before it was cut into two parts that meet at 4 s.
class ConvertParts : public testing::Test {
 protected:
  void SetUp() override { SetProgramFolder(Folder.Path()); }
  void TearDown() override { SetProgramFolder(QString()); }

  TScratchFolder Folder;
  TFileList List;
};

// A part as the clip window hands it over.
TClipFile Part(const TFileOption& Entry, int Number, int64_t Start, int64_t Length) {
  TClipFile clip = NewClipFile(Entry);
  clip.Title = QStringLiteral("Part_%1").arg(Number);
  clip.StartTime = Start;
  clip.TimeLength = Length;
  clip.EndTime = Start + Length;
  return clip;
}

}  // namespace

TEST_F(ConvertParts, PartsKeepTheirEntrysSettingsAndMeetWithoutRepeatingOrLosingAPicture) {
  TProbedFile probed;
  // B-frames and sound, as a camera's file has them.
  probed.FileName = Str(fixtures::Make(
      "parts_160x120_25fps_8s.mp4",
      "-f lavfi -i testsrc=size=160x120:rate=25:duration=8 -f lavfi -i sine=duration=8 "
      "-c:v libx264 -preset veryfast -c:a aac"));
  probed.Loaded = true;
  probed.Duration = 8000000;
  probed.FrameSize = QStringLiteral("160x120");
  TFileNode* file = List.AddMediaEntry(probed, Folder.Path());
  TFileOption& entry = file->Data;
  entry.OutputFrameSize = QStringLiteral("80x60");
  entry.Output.FrameRate = "25";
  entry.Output.VideoBitrate = 300000;
  entry.Brightness = 30;
  entry.CropEnabled = true;
  entry.CropRect = {20, 0, 140, 120};
  entry.Gflv = true;
  entry.GThumbnail = false;

  List.StoreClipListItem(Part(entry, 1, 0, 4000000), 0);
  List.StoreClipListItem(Part(entry, 2, 4000000, 4000000), 1);
  List.RebuildPartNodes(Folder.Path());
  ASSERT_EQ(file->Children.size(), 2u);

  int pictures = 0;
  for (const auto& node : file->Children) {
    TFileOption& part = node->Data;
    SCOPED_TRACE(part.DisplayName.toStdString());
    EXPECT_EQ(part.OutputFrameSize, entry.OutputFrameSize);
    EXPECT_EQ(part.Output.FrameRate, entry.Output.FrameRate);
    EXPECT_EQ(part.Output.VideoBitrate, entry.Output.VideoBitrate);
    EXPECT_EQ(part.Brightness, entry.Brightness);
    EXPECT_TRUE(part.CropEnabled);
    EXPECT_EQ(part.CropRect, entry.CropRect);
    EXPECT_NE(part.Output.FileName, entry.Output.FileName);
    ConvertEntry(part);
    const ProbeResult probe = ProbeMedia(part.Output.FileName);
    ASSERT_TRUE(probe.ok) << probe.error;
    const ProbeStream* video = probe.FirstOfType("video");
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->width, 80);
    EXPECT_EQ(video->height, 60);
    // A part of four seconds holds four seconds of pictures, and of sound.
    EXPECT_EQ(video->nb_read_frames, 4 * std::stoi(entry.Output.FrameRate));
    ASSERT_NE(probe.FirstOfType("audio"), nullptr);
    EXPECT_NEAR(probe.duration, 4.0, 0.05);
    pictures += int(video->nb_read_frames);
  }
  EXPECT_EQ(pictures, 8 * std::stoi(entry.Output.FrameRate));
}

// A cut holds the pictures whose times lie in its range, even when the pictures sit between its
// output's picture times; a range with sound but no picture of a file that has pictures shows the
// picture shown at its start (the last one before it, or an MP3's cover). A picture that cannot be
// had never costs the sound: without one the sound is written alone.
TEST_F(ConvertParts, ACutKeepsThePicturesShownInItsRangeAndItsSoundWhateverThePictures) {
  const std::string lateVideo = fixtures::Make(
      "late-video-25fps-2s.mkv",
      "-itsoffset 0.025 -f lavfi -i testsrc=size=160x120:rate=25:duration=2,settb=1/1000 -f lavfi "
      "-i sine=duration=2 -fps_mode passthrough -enc_time_base:v 1/1000 -c:v libx264 -preset "
      "veryfast -c:a pcm_s16le");
  const std::string longerSound = fixtures::Make(
      "sound-outlasts-pictures-2s.mp4",
      "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 -f lavfi -i sine=duration=2.04 "
      "-c:v libx264 -preset veryfast -c:a aac");
  const std::string coveredSong = fixtures::SongWithCover(6);
  const std::string shortVideo =
      "-f lavfi -i testsrc=size=160x120:rate=25:duration=5 -f lavfi "
      "-i sine=duration=40 -c:v libx264 -preset veryfast ";
  const std::string shortVideoTs = fixtures::Make("video-5s-sound-40s.ts", shortVideo + "-c:a mp2");
  const std::string shortVideoMp4 =
      fixtures::Make("video-5s-sound-40s.mp4", shortVideo + "-c:a aac");
  struct Case {
    const char* Name;
    std::string Input;
    int64_t Duration;       // µs, of the input
    int64_t Start, Length;  // µs
    int Pictures;
    double Sound;           // s
    const char* FrameRate;  // nullptr: what a new entry of the file has
  };
  FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
  ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
  for (const Case& c :
       // Each picture whose time lies in the range: the last, 15 ms before the end, at the end
       // time, the output picture time nearest its own.
       {Case{"first second of a late video", lateVideo, 2000000, 0, 1000000, 25, 1.0, "25"},
        Case{"first 40 ms of a late video", lateVideo, 2000000, 0, 40000, 1, 0.04, "25"},
        Case{"past the last picture", longerSound, 2040000, 2000000, 100000, 1, 0.04, "25"},
        Case{"past the last picture of an MP4 file", shortVideoMp4, 40000000, 20000000, 15000000, 1,
             15.0, "25"},
        Case{"past the last picture of an MPEG-TS file", shortVideoTs, 40000000, 20000000, 15000000,
             1, 15.0, "25"},
        Case{"before the first picture of a late video", lateVideo, 2000000, 0, 20000, 0, 0.02,
             "25"},
        Case{"a song's middle", coveredSong, 6000000, 2000000, 2000000, 1, 2.0, nullptr},
        Case{"a song whose cover cannot be decoded", fixtures::SongWithDamagedCover(6), 6000000,
             2000000, 2000000, 0, 2.0, nullptr}}) {
    SCOPED_TRACE(c.Name);
    List.Clear();
    TProbedFile probed;
    probed.FileName = Str(c.Input);
    probed.Loaded = true;
    probed.Duration = c.Duration;
    probed.FrameSize = QStringLiteral("160x120");
    probed.HasSound = true;
    TFileNode* file = List.AddMediaEntry(probed, Folder.Path());
    TFileOption& entry = file->Data;
    if (c.FrameRate) entry.Output.FrameRate = c.FrameRate;
    entry.Gflv = true;
    entry.GThumbnail = false;
    List.StoreClipListItem(Part(entry, 1, c.Start, c.Length), 0);
    List.RebuildPartNodes(Folder.Path());
    ASSERT_EQ(file->Children.size(), 1u);
    TFileOption& part = file->Children.front()->Data;
    EXPECT_TRUE(ConvertHere({{&part, true, {}}}, [](const TPackagingJob&) { return QString(); }));
    const ProbeResult probe = ProbeMedia(part.Output.FileName);
    ASSERT_TRUE(probe.ok) << probe.error;
    const ProbeStream* video = probe.FirstOfType("video");
    EXPECT_EQ(video ? video->nb_read_frames : 0, c.Pictures);
    const ProbeStream* audio = probe.FirstOfType("audio");
    ASSERT_NE(audio, nullptr);
    // The sound is MP3, 1152 samples a frame.
    EXPECT_NEAR(double(audio->nb_read_frames) * 1152 / audio->sample_rate, c.Sound, 0.05);
    QFile::remove(Str(part.Output.FileName));  // the next case's part takes the same name
  }
}
