#include "AppTestSupport.h"
#include "FFDecode.h"
#include "FFLoad.h"
#include "MediaFixtures.h"
#include "PictureShape.h"
#include "U_Config.h"
#include "U_Converting.h"
#include "U_Treelist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <array>
#include <gtest/gtest.h>

namespace {

TClipFile Clip(const QString& Title, int64_t Start = 0, int64_t Length = 1000000) {
  TClipFile clip;
  clip.Title = Title;
  clip.StartTime = Start;
  clip.TimeLength = Length;
  clip.EndTime = Start + Length;
  return clip;
}

class FileList : public testing::Test {
 protected:
  void SetUp() override { SetProgramFolder(Folder.Path()); }
  void TearDown() override { SetProgramFolder(QString()); }

  // An entry as adding a probed file makes it: 10 s and 1000 bytes per letter of its name.
  TFileNode* Add(const QString& Input, const QString& FrameSize = QStringLiteral("320x240"),
                 bool HasSound = true, TPixelAspect Aspect = {}) {
    TProbedFile file;
    file.PixelAspect = Aspect;
    file.HasSound = HasSound;
    file.FileName = Input;
    file.Loaded = true;
    file.Duration = int64_t(10000000) * QFileInfo(Input).baseName().size();
    file.FileSize = 1000 * QFileInfo(Input).baseName().size();
    file.FrameSize = FrameSize;
    return List.AddMediaEntry(file, Out);
  }
  static QString OutName(const TFileNode* Node) {
    return QString::fromStdString(Node->Data.Output.FileName);
  }
  void Select(std::initializer_list<TFileNode*> Nodes) {
    List.ClearSelection();
    for (TFileNode* n : Nodes) n->Selected = true;
  }

  // Two files merged into a group, and a third with one part.
  std::array<TFileNode*, 4> MixedList() {
    TFileNode* a = Add("/in/a.mp4");
    TFileNode* b = Add("/in/b.mp4");
    TFileNode* film = Add("/in/film.mp4");
    List.SetFocused(film);
    List.StoreClipListItem(Clip(QStringLiteral("Part_1")), 0);
    List.RebuildPartNodes(Out);
    Select({a, b});
    return {a, b, film, List.MergeSelectedItems(Out)};
  }

  TScratchFolder Folder;
  QString Out = QStringLiteral("/out/");
  TFileList List;
};

TEST_F(FileList, OutputNamesAreUniqueWithinTheListAndCutOnlyTheFileNamesExtension) {
  EXPECT_EQ(OutName(Add("/in/clip.mp4")), "/out/clip.flv");
  EXPECT_EQ(OutName(Add("/in/clip.mp4")), "/out/clip_1.flv");
  EXPECT_EQ(OutName(Add("/other/clip.avi")), "/out/clip_2.flv");
  const struct {
    QString Path, Expected;
  } cases[] = {
      {"/out/clip.mov", "/out/clip_3.flv"},
      {"/out/Clip.mp4", "/out/Clip.flv"},  // names differ by letter case
      {"/out/v1.2/noext", "/out/v1.2/noext.flv"},
      {"/out/v1.2/a.b.c", "/out/v1.2/a.b.flv"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(List.MakeUniqueOutputName(c.Path, "flv", "_", nullptr), c.Expected)
        << qPrintable(c.Path);
  // A node never clashes with itself.
  TFileNode* first = List.TopNodes().front().get();
  EXPECT_EQ(List.MakeUniqueOutputName("/out/clip.flv", "flv", "_", first), "/out/clip.flv");
}

TEST_F(FileList, ColumnsShowNamesSizesTimesAndCheckedOutputs) {
  TFileNode* file = Add("/in/movie.mp4");
  file->Data.FileSize = 3 * 1048576;
  TFileNode* other = Add("/in/b.mp4");
  other->Data.FileSize = 512;
  Select({file, other});
  TFileNode* group = List.MergeSelectedItems(Out);
  const QString dash = QStringLiteral("-");
  const struct {
    const TFileNode* Node;
    QString Input, Size, Time, Output;
    int Image;
  } cases[] = {
      {file, "movie.mp4", "3.00 M", "00:00:50", "", 0},  // unchecked by the merge
      {other, "b.mp4", "512.00 B", "00:00:10", "", 0},
      {group, "Merge_1.flv", dash, "00:01:00", "Merge.flv", 1},
      {group->Children[0].get(), "movie.mp4", "3.00 M", dash, "", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NodeColumnText(*c.Node, ColInput), c.Input);
    EXPECT_EQ(NodeColumnText(*c.Node, ColFileSize), c.Size) << qPrintable(c.Input);
    EXPECT_EQ(NodeColumnText(*c.Node, ColTotalTime), c.Time) << qPrintable(c.Input);
    EXPECT_EQ(NodeColumnText(*c.Node, ColOutputName), c.Output) << qPrintable(c.Input);
    EXPECT_EQ(NodeImageIndex(*c.Node), c.Image) << qPrintable(c.Input);
  }
}

TEST_F(FileList, MergingJoinsCopiesAndSumsTheSelectedEntries) {
  const struct {
    int Count;
    QByteArray DefaultFrameSize;
    QString GroupOutputSize;
    int Keep;
    int Width, Height;        // the first file's; each next one is a pixel wider
    QString ChildOutputSize;  // empty: the child's own size as shown
    TPixelAspect Aspect = {};
  } cases[] = {{2, "", "320x240", 0, 320, 240, ""},
               {3, "", "320x240", 0, 320, 240, ""},
               {2, "640x360", "640x360", 1, 320, 240, ""},
               // Larger than the formats dialog takes: within its limits, in the same shape.
               {2, "", "1920x1080", 0, 3840, 2160, "1920x1080"},
               // Pixels that are not square: sized as shown.
               {2, "", "1024x576", 0, 720, 576, "", {64, 45}}};
  for (const auto& c : cases) {
    WriteTextFile(Folder.File("FormatDefault.ini"),
                  "[Video]\nFrameSize=" + c.DefaultFrameSize + "\n");
    List.Clear();
    std::vector<TFileNode*> picked;
    for (int i = 0; i < c.Count; ++i)
      picked.push_back(Add(QStringLiteral("/in/%1.mp4").arg(QString(i + 1, 'a')),
                           QStringLiteral("%1x%2").arg(c.Width + i).arg(c.Height), true,
                           c.Aspect));
    Add("/in/left.mp4");
    List.ClearSelection();
    for (TFileNode* n : picked) n->Selected = true;
    picked.front()->Data.WaterMark.Font = TWaterMarkFont{QStringLiteral("Sans"), 12};
    TFileNode* group = List.MergeSelectedItems(Out);
    ASSERT_NE(group, nullptr);
    const TFileOption& g = group->Data;
    EXPECT_TRUE(g.IsMergeGroup && g.Output.JoinInputs && group->Checked() && group->Selected);
    EXPECT_EQ(g.DisplayName, QStringLiteral("Merge_%1.flv").arg(List.MergeCounter()));
    EXPECT_EQ(g.Duration, 10000000LL * c.Count * (c.Count + 1) / 2);
    EXPECT_EQ(g.SourceFrameSize, QStringLiteral("%1x%2").arg(c.Width).arg(c.Height));
    EXPECT_EQ(g.OutputFrameSize, c.GroupOutputSize);
    EXPECT_EQ(g.KeepOutputSize, c.Keep);
    EXPECT_EQ(g.Input.FileName, "/in/a.mp4");
    ASSERT_EQ(group->Children.size(), size_t(c.Count));
    for (int i = 0; i < c.Count; ++i) {
      const TFileOption& child = group->Children[i]->Data;
      EXPECT_EQ(child.Input.FileName, picked[i]->Data.Input.FileName);
      EXPECT_EQ(child.FileSize, picked[i]->Data.FileSize);
      EXPECT_EQ(child.OutputFrameSize, c.ChildOutputSize.isEmpty()
                                           ? FrameSizeText(TPictureShape(picked[i]->Data).Shown())
                                           : c.ChildOutputSize);
      EXPECT_EQ(child.SourcePixelAspect, c.Aspect);
      EXPECT_FALSE(picked[i]->Checked());
      EXPECT_FALSE(picked[i]->Selected);
    }
    // The copy's font is its own.
    picked.front()->Data.WaterMark.Font->PointSize = 40;
    EXPECT_EQ(group->Children[0]->Data.WaterMark.Font->PointSize, 12);
    EXPECT_TRUE(List.TopNodes()[c.Count]->Checked());  // the entry left out
  }
  EXPECT_EQ(List.MergeCounter(), int(std::size(cases)));
}

// Joined inputs write through one set of encoders: an input that lacks the sound or the
// picture the others have cannot be joined, and the user is told which one it is.
TEST_F(FileList, MergingFilesWithAndWithoutSoundOrPictureIsRefusedNamingTheFile) {
  const QString picture = QStringLiteral("320x240"), none = QStringLiteral("0x0");
  const struct {
    const char* Name;
    QString FirstSize;
    bool FirstSound;
    QString SecondSize;
    bool SecondSound;
    QString Refusal;
  } cases[] = {
      {"second without sound", picture, true, picture, false,
       "\"b.mp4\" has no sound, unlike \"a.mp4\": only files that all have sound, or all "
       "have none, can be merged."},
      {"first without sound", picture, false, picture, true,
       "\"a.mp4\" has no sound, unlike \"b.mp4\": only files that all have sound, or all "
       "have none, can be merged."},
      {"second without picture", picture, true, none, true,
       "\"b.mp4\" has no picture, unlike \"a.mp4\": only files that all have pictures, or all "
       "have none, can be merged."},
      {"none with sound", picture, false, picture, false, ""},
      {"none with pictures", none, true, none, true, ""},
  };
  for (const auto& c : cases) {
    List.Clear();
    TFileNode* a = Add("/in/a.mp4", c.FirstSize, c.FirstSound);
    TFileNode* b = Add("/in/b.mp4", c.SecondSize, c.SecondSound);
    Select({a, b});
    EXPECT_EQ(List.MergeRefusal(), c.Refusal) << c.Name;
    const TFileNode* group = List.MergeSelectedItems(Out);
    EXPECT_EQ(group != nullptr, c.Refusal.isEmpty()) << c.Name;
    EXPECT_EQ(List.TopNodes().size(), group ? 3u : 2u) << c.Name;
    EXPECT_EQ(a->Checked(), !group) << c.Name;
    if (group) {
      EXPECT_EQ(group->Children[1]->Data.HasSound, c.SecondSound) << c.Name;
    }
  }
  // A part lacks what its file lacks.
  List.Clear();
  TFileNode* loud = Add("/in/a.mp4");
  TFileNode* quiet = Add("/in/b.mp4", picture, false);
  List.SetFocused(quiet);
  List.StoreClipListItem(Clip(QStringLiteral("Part_1")), 0);
  List.RebuildPartNodes(Out);
  Select({loud, quiet->Children[0].get()});
  EXPECT_TRUE(List.MergeRefusal().startsWith("\"Part_1\" has no sound"))
      << List.MergeRefusal().toStdString();
}

TEST_F(FileList, RemovingFromAMergeGroupHandsOverOrDropsTheGroup) {
  const struct {
    std::vector<int> Removed;  // children of the group
    bool GroupStays;
    int64_t Duration;
    std::string Input;
    QString SourceSize;
  } cases[] = {
      {{0}, true, 50000000, "/in/bb.mp4", "200x200"},
      {{0, 1}, true, 30000000, "/in/ccc.mp4", "300x300"},
      {{1}, true, 40000000, "/in/a.mp4", "100x100"},
      {{0, 1, 2}, false, 0, "", ""},
  };
  for (const auto& c : cases) {
    List.Clear();
    TFileNode* a = Add("/in/a.mp4", "100x100");
    TFileNode* b = Add("/in/bb.mp4", "200x200");
    TFileNode* d = Add("/in/ccc.mp4", "300x300");
    Select({a, b, d});
    TFileNode* group = List.MergeSelectedItems(Out);
    List.ClearSelection();
    for (int i : c.Removed) group->Children[i]->Selected = true;
    List.RemoveSelectedItems();
    const bool stays = List.TopNodes().back().get() == group;
    ASSERT_EQ(stays, c.GroupStays);
    EXPECT_EQ(List.TopNodes().size(), size_t(3 + c.GroupStays));
    if (!stays) continue;
    EXPECT_EQ(group->Children.size(), 3 - c.Removed.size());
    EXPECT_EQ(group->Data.Duration, c.Duration);
    EXPECT_EQ(group->Data.Input.FileName, c.Input);
    EXPECT_EQ(group->Data.SourceFrameSize, c.SourceSize);
  }
}

TEST_F(FileList, PartsFollowTheClipListAndNumberOnFromTheLargest) {
  TFileNode* file = Add("/in/film.mp4");
  List.SetFocused(file);
  EXPECT_EQ(List.NextPartNumber(), 0);
  const auto clips = [this](const std::vector<int64_t>& Starts) {
    int n = 0;
    for (int64_t start : Starts) {
      List.StoreClipListItem(Clip(QStringLiteral("Part_%1").arg(++n), start), 99);
    }
  };
  const struct {
    std::vector<int64_t> Starts;
    std::vector<std::string> Outputs;
  } cases[] = {
      {{0, 2000000}, {"/out/film_1.flv", "/out/film_2.flv"}},
      {{0, 3000000, 5000000}, {"/out/film_1.flv", "/out/film_2.flv", "/out/film_3.flv"}},
      {{7000000}, {"/out/film_1.flv"}},  // updated in place, later parts deleted
      {{}, {}},
  };
  for (const auto& c : cases) {
    clips(c.Starts);
    List.RebuildPartNodes(Out);
    ASSERT_EQ(file->Children.size(), c.Outputs.size());
    EXPECT_EQ(file->Checked(), c.Outputs.empty());
    EXPECT_TRUE(List.ClipList().empty());
    auto start = c.Starts.begin();
    for (size_t i = 0; i < c.Outputs.size(); ++i, ++start) {
      const TFileNode& part = *file->Children[i];
      EXPECT_EQ(part.Data.Output.FileName, c.Outputs[i]);
      EXPECT_EQ(part.Data.Input.StartTime, *start);
      EXPECT_EQ(part.Data.Output.TimeLength, 1000000);
      EXPECT_TRUE(part.IsPart() && part.Checked());
    }
  }
  // The clip dialog gets the parts back as clips.
  clips({0, 4000000});
  List.RebuildPartNodes(Out);
  List.LoadClipListFromNode(*file);
  ASSERT_EQ(List.ClipList().size(), 2u);
  EXPECT_EQ(List.ClipList()[1].EndTime, 5000000);
  EXPECT_EQ(List.ClipList()[1].Title, "Part_2");
  List.ClearClipList();
  for (int i = 0; i < 12; ++i)
    List.StoreClipListItem(Clip(QStringLiteral("Part_%1").arg(i + 1)), i);
  List.RebuildPartNodes(Out);
  List.SetFocused(file->Children[4].get());
  EXPECT_EQ(List.NextPartNumber(), 13);
}

TEST_F(FileList, ChangingTheFolderMovesEntriesAndPartsButNotMergedInputs) {
  const auto [a, b, film, group] = MixedList();
  List.ChangeOutputFolder("/new");
  EXPECT_EQ(OutName(a), "/new/a.flv");
  EXPECT_EQ(OutName(group), "/new/Merge.flv");
  EXPECT_EQ(OutName(film->Children[0].get()), "/new/film_1.flv");
  EXPECT_EQ(OutName(group->Children[0].get()), "/out/a.flv");
}

TEST_F(FileList, RenamingDropsForbiddenCharactersKeepsFolderAndExtensionAndAvoidsClashes) {
  TFileNode* a = Add("/in/a.mp4");
  Add("/in/b.mp4");
  const struct {
    QString Typed;
    bool Changed;
    QString Result;
  } cases[] = {
      {"new", true, "/out/new.flv"},     {"b", true, "/out/b_1.flv"},
      {"a:b?c*", true, "/out/abc.flv"},  {"<>|\"", false, "/out/abc.flv"},
      {"", false, "/out/abc.flv"},       {"abc", false, "/out/abc.flv"},
      {"x/../y", true, "/out/x..y.flv"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(List.RenameOutput(*a, c.Typed), c.Changed) << qPrintable(c.Typed);
    EXPECT_EQ(OutName(a), c.Result) << qPrintable(c.Typed);
  }
}

// A name longer than a file name may be (255 bytes here) is shortened, at a character, so that
// every file made beside the output (".html" the longest) fits, a clash's number included.
TEST_F(FileList, RenamingShortensANameTheFileSystemCannotHold) {
  TFileNode* a = Add("/in/a.mp4");
  TFileNode* b = Add("/in/b.mp4");
  const QString e = QString::fromUtf8("\xc3\xa9");  // two bytes
  for (const QString& typed : {QString(300, 'n'), e.repeated(200), QString(250, 'n') + e}) {
    ASSERT_TRUE(List.RenameOutput(*a, typed));
    ASSERT_TRUE(List.RenameOutput(*b, typed));
    for (const TFileNode* node : {a, b}) {
      const QString name = QFileInfo(QString::fromStdString(node->Data.Output.FileName)).fileName();
      const QByteArray page = QFile::encodeName(WithSuffix(name, QStringLiteral("html")));
      EXPECT_LE(page.size(), 255) << qPrintable(name);
      EXPECT_GE(page.size(), 245) << qPrintable(name);
      EXPECT_TRUE(typed.startsWith(FileBaseName(name).section('_', 0, 0))) << qPrintable(name);
    }
    EXPECT_NE(OutName(a), OutName(b));
  }
}

// Control characters would split the log's lines and the list's rows; the rest of a name stays.
TEST(OutputNames, DropControlCharactersAsTheOtherForbiddenOnes) {
  const struct {
    QString Name;
    QString Kept;
  } cases[] = {
      {"line\nbreak", "linebreak"},
      {"tab\tand\rreturn", "tabandreturn"},
      {QString::fromUtf8("\x01\x1f\x7f"), ""},
      {QString::fromUtf8("next\xc2\x85line"), "nextline"},                      // U+0085
      {QString::fromUtf8("separators\xe2\x80\xa8\xe2\x80\xa9"), "separators"},  // U+2028/9
      {"a:b?c*<>|\"/\\", "abc"},
      {QString::fromUtf8("Sommer in Köln – 2 €"), QString::fromUtf8("Sommer in Köln – 2 €")},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DropForbiddenNameChars(c.Name), c.Kept) << qPrintable(c.Name);
}

TEST_F(FileList, AnOutputNameMadeFromAnInputNameHoldsNoControlCharacters) {
  EXPECT_EQ(OutName(Add(QStringLiteral("/in/new\nyear: 1.mp4"))),
            QStringLiteral("/out/newyear: 1.flv"));
}

TEST_F(FileList, SelectionKindsFollowWhatIsSelected) {
  const auto [a, b, film, group] = MixedList();
  TFileNode* part = film->Children[0].get();
  TFileNode* merged = group->Children[0].get();
  using K = TSelectionKind;
  const struct {
    std::vector<TFileNode*> Selected;
    K Kind;
    TSelectionControls Controls;
  } cases[] = {
      {{}, K::NothingUsable, {false, false, false, false}},
      {{film}, K::OneFile, {true, true, true, true}},
      {{a, film}, K::SeveralFiles, {false, false, true, false}},
      {{film, part}, K::NothingUsable, {false, false, false, false}},
      {{group}, K::MergeGroup, {false, false, true, true}},
      {{part}, K::PartOfFile, {false, true, false, true}},
      {{merged}, K::NothingUsable, {false, false, false, false}},
  };
  for (const auto& c : cases) {
    List.ClearSelection();
    for (TFileNode* n : c.Selected) n->Selected = true;
    EXPECT_EQ(List.SelectionKind(), c.Kind) << c.Selected.size();
    EXPECT_EQ(ControlsOfKind(c.Kind), c.Controls) << int(c.Kind);
  }
  // Only the selected child of the last parent with one is first when no top node is.
  Select({merged, part});
  EXPECT_EQ(List.GetFirstSelectedNode(), merged);
}

TEST_F(FileList, CheckingAllAndFindingCheckedEntries) {
  TFileNode* film = Add("/in/film.mp4");
  List.SetFocused(film);
  List.StoreClipListItem(Clip(QStringLiteral("Part_1")), 0);
  List.RebuildPartNodes(Out);
  EXPECT_TRUE(List.HasCheckedItem());  // the part, though the file is not
  List.SetAllChecked(UncheckedState);
  EXPECT_FALSE(List.HasCheckedItem());
  List.SetAllChecked(CheckedState);
  EXPECT_TRUE(film->Checked() && film->Children[0]->Checked());
  // The conversion gets the entries themselves, with their checks.
  film->Check(false);
  const std::vector<TConvertNode> nodes = List.ConvertNodes();
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0].Option, &film->Data);
  EXPECT_FALSE(nodes[0].Checked);
  ASSERT_EQ(nodes[0].Children.size(), 1u);
  EXPECT_EQ(nodes[0].Children[0].Option, &film->Children[0]->Data);
  EXPECT_TRUE(nodes[0].Children[0].Checked);
}

TEST_F(FileList, ProbingNamesTheFileFrameSizeAndLengthOrTheFailure) {
  FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
  ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
  WriteTextFile(Folder.File("broken.mp4"), "not a movie");
  TFFDecoder decoder;
  const TProbedFile good =
      ProbeMediaFile(decoder, QString::fromStdString(fixtures::Path(fixtures::Media::AviMpeg4Mp3)));
  const TProbedFile audio = ProbeMediaFile(
      decoder, QString::fromStdString(fixtures::Path(fixtures::Media::Mp3AudioOnly)));
  const TProbedFile silent = ProbeMediaFile(
      decoder, QString::fromStdString(fixtures::Path(fixtures::Media::VideoOnly)));
  const TProbedFile broken = ProbeMediaFile(decoder, Folder.File("broken.mp4"));
  FFLoader().Unload(AllLibraries);
  EXPECT_TRUE(good.Loaded);
  EXPECT_EQ(good.FrameSize, "320x240");
  EXPECT_NEAR(good.Duration, 3000000, 100000);
  EXPECT_GT(good.FileSize, 0);
  EXPECT_TRUE(good.HasSound);
  EXPECT_EQ(audio.FrameSize, "0x0");
  EXPECT_TRUE(audio.HasSound);
  EXPECT_EQ(silent.FrameSize, "320x240");
  EXPECT_FALSE(silent.HasSound);
  EXPECT_FALSE(broken.Loaded);
  EXPECT_FALSE(broken.ErrorText.isEmpty());
}

}  // namespace
