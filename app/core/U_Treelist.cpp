#include "U_Treelist.h"

#include "FFDecode.h"
#include "PictureShape.h"
#include "U_Config.h"

#include <QFile>
#include <QFileInfo>

#include <unistd.h>

#include <algorithm>
#include <climits>

namespace {

const QString FlvExtension = QStringLiteral("flv");

QString FileNameOf(const std::string& Path) {
  return QFileInfo(QFile::decodeName(QByteArray::fromStdString(Path))).fileName();
}

QString OutputNameOf(const TFileNode& Node) {
  return QFile::decodeName(QByteArray::fromStdString(Node.Data.Output.FileName));
}

void SetOutputName(TFileNode& Node, const QString& Name) {
  Node.Data.Output.FileName = QFile::encodeName(Name).toStdString();
}

TOutputOptions FreshOutput() {
  TOutputOptions output;
  InitOutputOptions(output);
  return output;
}

TInputOptions FreshInput() {
  TInputOptions input;
  InitInputOptions(input);
  return input;
}

// Characters that would break a line of the log or a row of the list.
bool IsControlChar(QChar C) {
  const QChar::Category category = C.category();
  return category == QChar::Other_Control || category == QChar::Separator_Line ||
         category == QChar::Separator_Paragraph;
}

// The stem, cut at a character so that it, the tail and the longest extension of the files made
// beside an output (".html") fit one name of the folder's file system.
QString FitStem(const QString& Folder, const QString& Stem, const QString& Tail) {
  const long limit = ::pathconf(QFile::encodeName(Folder).constData(), _PC_NAME_MAX);
  const qsizetype room = (limit > 0 ? limit : NAME_MAX) - QFile::encodeName(Tail + ".html").size();
  return QFile::decodeName(
      CutToBytes(QFile::encodeName(Stem).toStdString(), size_t(std::max<qsizetype>(room, 0)))
          .c_str());
}

QString DropControlChars(const QString& Name) {
  QString result;
  for (const QChar c : Name)
    if (!IsControlChar(c)) result += c;
  return result;
}

}  // namespace

TSelectionControls ControlsOfKind(TSelectionKind Kind) {
  switch (Kind) {
    case TSelectionKind::OneFile:
      return {true, true, true, true};
    case TSelectionKind::SeveralFiles:
      return {false, false, true, false};
    case TSelectionKind::NothingUsable:
      return {false, false, false, false};
    case TSelectionKind::MergeGroup:
      return {false, false, true, true};
    case TSelectionKind::PartOfFile:
      return {false, true, false, true};
  }
  return {false, false, false, false};
}

QString FileBaseName(const QString& Path) { return QFileInfo(WithoutExtension(Path)).fileName(); }

QString DropForbiddenNameChars(const QString& Name) {
  static const QString forbidden = QStringLiteral("*/:<>?\\|\"");
  QString result;
  for (const QChar c : DropControlChars(Name))
    if (!forbidden.contains(c)) result += c;
  return result;
}

QString NodeEntryName(const TFileNode& Node) {
  return Node.Data.DisplayName.isEmpty() ? FileNameOf(Node.Data.Input.FileName)
                                         : Node.Data.DisplayName;
}

QString NodeColumnText(const TFileNode& Node, int Column) {
  switch (Column) {
    case ColInput:
      return NodeEntryName(Node);
    case ColFileSize:
      return Node.Data.IsMergeGroup || Node.Data.FileSize == 0 ? QStringLiteral("-")
                                                               : FormatFileSize(Node.Data.FileSize);
    case ColTotalTime:
      if (!Node.HasCheckBox) return QStringLiteral("-");
      return Node.Data.Duration >= 0 ? SecondsToTimeText(Node.Data.Duration / 1000000) : QString();
    case ColOutputName:
      return Node.HasCheckBox && Node.Checked() ? QFileInfo(OutputNameOf(Node)).fileName()
                                                : QString();
  }
  return QString();
}

int NodeImageIndex(const TFileNode& Node) {
  if (!Node.IsChild() && Node.Data.IsMergeGroup) return 1;
  return Node.IsPart() ? 2 : 0;
}

QString NodeHint(const TFileNode& Node, int Column) {
  if (Column == ColInput) return NodeEntryName(Node);
  if (Column == ColOutputName) return NodeColumnText(Node, ColOutputName);
  return QString();
}

TProbedFile ProbeMediaFile(TCustomDecoder& Decoder, const QString& FileName) {
  TProbedFile probed;
  probed.FileName = FileName;
  probed.Reason = NotRegularFileReason(FileName);
  if (!probed.Reason.isEmpty()) {
    probed.ErrorText = FileName + QStringLiteral(": ") + probed.Reason;
    return probed;
  }
  const std::string name = QFile::encodeName(FileName).toStdString();
  if (!Decoder.LoadFile(name)) {
    const std::string& error = Decoder.LastErrMsg();
    const std::string prefix = name + ": ";
    probed.ErrorText = QString::fromStdString(error);
    probed.Reason = QString::fromStdString(
        error.compare(0, prefix.size(), prefix) == 0 ? error.substr(prefix.size()) : error);
    Decoder.CloseFile();
    return probed;
  }
  probed.Loaded = true;
  probed.FileName = QFile::decodeName(QByteArray::fromStdString(Decoder.GetFileName()));
  probed.FormatName = QString::fromStdString(Decoder.FormatName());
  TFileStreamInfo info;
  if (Decoder.GetFileInfo(info)) probed.Duration = info.Duration;
  probed.FileSize = Decoder.FileSize();
  // The size of the stream that is converted: another stream's would stretch its pictures.
  const int stream = Decoder.ConvertedVideoStream();
  TVideoStreamInfo video;
  const bool hasVideo = stream >= 0 && Decoder.GetVideoStreamInfo(stream, video);
  probed.FrameSize = FrameSizeText(hasVideo ? QSize(video.Width, video.Height) : QSize(0, 0));
  if (hasVideo) probed.PixelAspect = {video.SampleAspectNum, video.SampleAspectDen};
  probed.HasSound = Decoder.AudioStreamCount() > 0;
  probed.MediaText = GetMediaInfoText(Decoder);
  Decoder.CloseFile();
  return probed;
}

// ---------------------------------------------------------------------------------------
// Structure

TFileList::TNodes& TFileList::SiblingsOf(const TFileNode* Node) {
  return Node->Parent ? Node->Parent->Children : FTop;
}

template <typename F>
void TFileList::ForEachNode(F&& Visit) const {
  for (const auto& top : FTop) {
    Visit(*top);
    for (const auto& child : top->Children) Visit(*child);
  }
}

TFileNode* TFileList::AddTopNode() {
  return FTop.emplace_back(std::make_unique<TFileNode>()).get();
}

TFileNode* TFileList::AddChild(TFileNode* Parent) {
  auto& child = Parent->Children.emplace_back(std::make_unique<TFileNode>());
  child->Parent = Parent;
  return child.get();
}

void TFileList::DeleteNode(TFileNode* Node) {
  if (FFocused == Node || (FFocused && FFocused->Parent == Node)) FFocused = nullptr;
  TNodes& siblings = SiblingsOf(Node);
  std::erase_if(siblings, [Node](const auto& n) { return n.get() == Node; });
}

void TFileList::Clear() {
  FTop.clear();
  FFocused = nullptr;
}

void TFileList::DeleteNodesFrom(TFileNode* Node, bool WithItself) {
  TNodes& siblings = SiblingsOf(Node);
  const auto it = std::find_if(siblings.begin(), siblings.end(),
                               [Node](const auto& n) { return n.get() == Node; });
  if (it == siblings.end()) return;
  const auto first = WithItself ? it : it + 1;
  for (auto i = first; i != siblings.end(); ++i)
    if (FFocused == i->get()) FFocused = nullptr;
  siblings.erase(first, siblings.end());
}

// ---------------------------------------------------------------------------------------
// Checks and selection

bool TFileList::HasCheckedItem() const {
  for (const auto& top : FTop) {
    if (top->Checked()) return true;
    if (top->HasCheckBox)
      for (const auto& child : top->Children)
        if (child->Checked()) return true;
  }
  return false;
}

void TFileList::SetAllChecked(int State) {
  for (const auto& top : FTop) {
    if (!top->HasCheckBox) continue;
    top->CheckState = State;
    for (const auto& child : top->Children)
      if (child->HasCheckBox) child->CheckState = State;
  }
}

void TFileList::ClearSelection() {
  for (const auto& top : FTop) {
    top->Selected = false;
    for (const auto& child : top->Children) child->Selected = false;
  }
}

bool TFileList::NoChildSelected() const {
  for (const auto& top : FTop)
    for (const auto& child : top->Children)
      if (child->Selected) return false;
  return true;
}

int TFileList::SelectedCount() const {
  int count = 0;
  ForEachNode([&count](const TFileNode& n) { count += n.Selected; });
  return count;
}

TFileNode* TFileList::GetFirstSelectedNode() const {
  for (const auto& top : FTop)
    if (top->Selected) return top.get();
  TFileNode* found = nullptr;
  for (const auto& top : FTop)
    for (const auto& child : top->Children)
      if (child->Selected) {
        found = child.get();
        break;
      }
  return found;
}

TFileNode* TFileList::GetFocusedTopNode() const {
  return FFocused && FFocused->Parent ? FFocused->Parent : FFocused;
}

TSelectionKind TFileList::SelectionKind() const {
  const int count = SelectedCount();
  if (count == 0) return TSelectionKind::NothingUsable;
  if (count > 1)
    return NoChildSelected() ? TSelectionKind::SeveralFiles : TSelectionKind::NothingUsable;
  const TFileNode* node = GetFirstSelectedNode();
  if (node->Data.IsMergeGroup) return TSelectionKind::MergeGroup;
  if (!node->IsChild()) return TSelectionKind::OneFile;
  return node->IsPart() ? TSelectionKind::PartOfFile : TSelectionKind::NothingUsable;
}

int TFileList::RestoreModeOfSelection() const {
  if (SelectedCount() != 1) return 0;
  return GetFirstSelectedNode()->Data.IsMergeGroup ? 0 : 1;
}

// ---------------------------------------------------------------------------------------
// Output names

bool TFileList::IsOutputNameUsed(const QString& Name, const TFileNode* Except) const {
  bool used = false;
  ForEachNode(
      [&](const TFileNode& n) { used = used || (&n != Except && OutputNameOf(n) == Name); });
  return used;
}

QString TFileList::MakeUniqueOutputName(const QString& Path, const QString& Extension,
                                        const QString& Separator, const TFileNode* Except) const {
  const QString path = WithoutExtension(Path);
  const qsizetype nameAt = path.lastIndexOf(QLatin1Char('/')) + 1;
  const QString folder = path.left(nameAt);
  const QString stem = DropControlChars(path.mid(nameAt));
  const QString candidate = folder + FitStem(folder, stem, QString()) + QLatin1Char('.') + Extension;
  if (!IsOutputNameUsed(candidate, Except)) return candidate;
  for (int n = 1;; ++n) {
    const QString tail = Separator + QString::number(n);
    const QString name = folder + FitStem(folder, stem, tail) + tail + QLatin1Char('.') + Extension;
    if (!IsOutputNameUsed(name, Except)) return name;
  }
}

bool TFileList::RenameOutput(TFileNode& Node, const QString& Text) {
  const QString text = DropForbiddenNameChars(Text.left(1024));
  if (text.isEmpty()) return false;
  const QString oldName = OutputNameOf(Node);
  const QString folder = oldName.left(oldName.lastIndexOf(QLatin1Char('/')) + 1);
  const QString extension = QFileInfo(oldName).suffix();
  const QString name = MakeUniqueOutputName(folder + text + QLatin1Char('.') + extension, extension,
                                            NameSeparator, &Node);
  if (name == oldName) return false;
  SetOutputName(Node, name);
  return true;
}

void TFileList::ChangeOutputFolder(const QString& Folder) {
  const QString folder = WithSlash(Folder);
  const auto move = [&folder](TFileNode& n) {
    SetOutputName(n, folder + QFileInfo(OutputNameOf(n)).fileName());
  };
  for (const auto& top : FTop) {
    move(*top);
    if (!top->Data.IsMergeGroup)
      for (const auto& part : top->Children) move(*part);
  }
}

// ---------------------------------------------------------------------------------------
// Adding, merging, removing

TFileNode* TFileList::AddMediaEntry(const TProbedFile& File, const QString& OutputFolder) {
  TFileNode* node = AddTopNode();
  TFileOption& data = node->Data;
  data.Input = FreshInput();
  data.Output = FreshOutput();
  data.Input.FileName = QFile::encodeName(File.FileName).toStdString();
  data.Input.FileFormat = File.FormatName.toStdString();
  data.Duration = File.Duration;
  data.FileSize = File.FileSize;
  data.HasSound = File.HasSound;
  SetOutputName(*node,
                MakeUniqueOutputName(WithSlash(OutputFolder) + QFileInfo(File.FileName).fileName(),
                                     FlvExtension, NameSeparator, nullptr));
  InitFileOption(data, File.FrameSize, File.PixelAspect);
  node->HasCheckBox = true;
  node->Check(true);
  ClearSelection();
  node->Selected = true;
  FFocused = node;
  return node;
}

std::vector<const TFileNode*> TFileList::SelectedMergeNodes() const {
  std::vector<const TFileNode*> nodes;
  for (const auto& top : FTop) {
    if (top->Data.IsMergeGroup) {
      if (top->Selected)
        for (const auto& child : top->Children) nodes.push_back(child.get());
      continue;
    }
    if (top->Selected) nodes.push_back(top.get());
    for (const auto& part : top->Children)
      if (part->Selected) nodes.push_back(part.get());
  }
  return nodes;
}

std::vector<TFileOption> TFileList::GetSelectedRecords() {
  std::vector<TFileOption> records;
  for (const TFileNode* node : SelectedMergeNodes()) records.push_back(node->Data);
  for (const auto& top : FTop)
    if (top->Selected && !top->Data.IsMergeGroup) top->Check(false);
  return records;
}

namespace {

// What every input of a merge group must have or lack alike: joined inputs write through the
// encoders the first one opened, and an input without the stream one of them encodes cannot be
// joined.
struct TJoinedStream {
  bool (*Has)(const TFileOption&);
  const char* Lacking;
  const char* Rule;
};

const TJoinedStream JoinedStreams[] = {
    {[](const TFileOption& e) { return e.HasSound; }, "sound",
     "only files that all have sound, or all have none, can be merged."},
    {[](const TFileOption& e) { return !ParseFrameSize(e.SourceFrameSize).isEmpty(); }, "picture",
     "only files that all have pictures, or all have none, can be merged."},
};

}  // namespace

QString TFileList::MergeRefusal() const {
  const std::vector<const TFileNode*> nodes = SelectedMergeNodes();
  for (const TJoinedStream& stream : JoinedStreams)
    for (const TFileNode* node : nodes) {
      if (stream.Has(node->Data) == stream.Has(nodes.front()->Data)) continue;
      const bool firstHas = stream.Has(nodes.front()->Data);
      return QStringLiteral("\"%1\" has no %2, unlike \"%3\": %4")
          .arg(NodeEntryName(firstHas ? *node : *nodes.front()),
               QLatin1String(stream.Lacking),
               NodeEntryName(firstHas ? *nodes.front() : *node), QLatin1String(stream.Rule));
    }
  return QString();
}

TFileNode* TFileList::MergeSelectedItems(const QString& OutputFolder) {
  if (!MergeRefusal().isEmpty()) return nullptr;
  const std::vector<TFileOption> records = GetSelectedRecords();
  if (records.empty()) return nullptr;
  ClearSelection();
  TFileNode* group = AddTopNode();
  ++FMergeCounter;
  TFileOption& g = group->Data;
  g.Input = FreshInput();
  g.Output = FreshOutput();
  SetOutputName(*group, MakeUniqueOutputName(WithSlash(OutputFolder) + QStringLiteral("Merge.flv"),
                                             FlvExtension, NameSeparator, nullptr));
  g.DisplayName = QStringLiteral("Merge_%1.flv").arg(FMergeCounter);
  g.Duration = 0;
  group->HasCheckBox = true;
  group->Check(true);
  for (const TFileOption& r : records) {
    TFileOption& c = AddChild(group)->Data;
    c.Duration = r.Duration;
    g.Duration += r.Duration;
    c.FileSize = r.FileSize;
    c.HasSound = r.HasSound;
    c.Input = r.Input;
    c.Output = r.Output;
    c.WaterMarkKind = r.WaterMarkKind;
    c.WaterMark = r.WaterMark;
    c.CropEnabled = r.CropEnabled;
    c.CropRect = r.CropRect;
    c.SourceFrameSize = r.SourceFrameSize;
    c.SourcePixelAspect = r.SourcePixelAspect;
    c.OutputFrameSize = FrameSizeText(TPictureShape(c).DefaultOutputSize());
    c.IsMergeGroup = false;
    if (&r != &records.front()) continue;
    g.Input = c.Input;
    InitFileOption(g, QString());
    if (g.OutputFrameSize.isEmpty())
      g.OutputFrameSize = c.OutputFrameSize;
    else
      g.KeepOutputSize = 1;
    g.SourceFrameSize = c.SourceFrameSize;
    g.SourcePixelAspect = c.SourcePixelAspect;
    g.IsMergeGroup = true;
    g.Output.JoinInputs = true;
  }
  group->Expanded = true;
  group->Selected = true;
  return group;
}

void TFileList::RemoveSelectedItems() {
  std::vector<TFileNode*> emptied;
  for (const auto& top : FTop) {
    TFileNode& group = *top;
    if (!group.Data.IsMergeGroup || group.Selected || group.Children.empty()) continue;
    const bool firstSelected = group.Children.front()->Selected;
    bool handedOver = false;
    for (const auto& child : group.Children) {
      if (child->Selected) {
        group.Data.Duration -= child->Data.Duration;
      } else if (firstSelected && !handedOver) {
        group.Data.SourceFrameSize = child->Data.SourceFrameSize;
        group.Data.SourcePixelAspect = child->Data.SourcePixelAspect;
        if (group.Data.KeepOutputSize == 0)
          group.Data.OutputFrameSize = child->Data.OutputFrameSize;
        group.Data.Input = child->Data.Input;
        handedOver = true;
      }
    }
    if (firstSelected && !handedOver) emptied.push_back(&group);
  }
  for (TFileNode* group : emptied) DeleteNode(group);
  for (const auto& top : FTop)
    std::erase_if(top->Children, [this](const auto& c) {
      if (c.get() == FFocused && c->Selected) FFocused = nullptr;
      return c->Selected;
    });
  for (const auto& top : FTop)
    if (top->Selected && FFocused && (FFocused == top.get() || FFocused->Parent == top.get()))
      FFocused = nullptr;
  std::erase_if(FTop, [](const auto& t) { return t->Selected; });
}

std::vector<TConvertNode> TFileList::ConvertNodes() {
  const auto nodeOf = [](TFileNode& n) { return TConvertNode{&n.Data, n.Checked(), {}}; };
  std::vector<TConvertNode> nodes;
  for (const auto& top : FTop) {
    nodes.push_back(nodeOf(*top));
    for (const auto& child : top->Children) nodes.back().Children.push_back(nodeOf(*child));
  }
  return nodes;
}

// ---------------------------------------------------------------------------------------
// Parts

void TFileList::LoadClipListFromNode(const TFileNode& Node) {
  if (Node.Children.empty()) return;
  FClipList.clear();
  for (const auto& child : Node.Children) {
    TClipFile clip;
    clip.Title = child->Data.DisplayName;
    clip.StartTime = child->Data.Input.StartTime;
    clip.TimeLength = child->Data.Output.TimeLength;
    clip.EndTime = clip.StartTime + clip.TimeLength;
    clip.SourceFrameSize = child->Data.SourceFrameSize;
    clip.OutputFrameSize = child->Data.OutputFrameSize;
    clip.Formatid = child->Data.Formatid;
    clip.Output = child->Data.Output;
    FClipList.push_back(std::move(clip));
  }
}

void TFileList::StoreClipListItem(const TClipFile& Clip, int Index) {
  if (Index >= 0 && Index < static_cast<int>(FClipList.size()))
    FClipList[Index] = Clip;
  else
    FClipList.push_back(Clip);
}

TFileNode* TFileList::AddPartNode(TFileNode& File, int ClipIndex, const QString& OutputFolder) {
  const TClipFile& clip = FClipList.at(ClipIndex);
  TFileNode* part = AddChild(&File);
  File.Expanded = true;
  TFileOption& p = part->Data;
  // A part starts as its file was set up (formats, edits, player): cutting loses none of the
  // user's choices. Only where it starts and how long it lasts are its own.
  p = File.Data;
  p.Input.StartTime = clip.StartTime;
  TakeClipOutput(p, clip);
  p.DisplayName = clip.Title;
  SetOutputName(*part,
                MakeUniqueOutputName(WithSlash(OutputFolder) + FileNameOf(File.Data.Input.FileName),
                                     FlvExtension, NameSeparator, nullptr));
  part->HasCheckBox = true;
  part->Check(true);
  p.FileSize = 0;
  return part;
}

void TFileList::RebuildPartNodes(const QString& OutputFolder) {
  TFileNode* file = GetFocusedTopNode();
  if (!file) return;
  const int clips = static_cast<int>(FClipList.size());
  for (int i = 0; i < clips; ++i) {
    if (i >= static_cast<int>(file->Children.size())) {
      AddPartNode(*file, i, OutputFolder);
      continue;
    }
    TFileOption& p = file->Children[i]->Data;
    const TClipFile& clip = FClipList[i];
    const std::string name = p.Output.FileName;
    TakeClipOutput(p, clip);
    p.Output.FileName = name;
    p.Input.StartTime = clip.StartTime;
  }
  if (static_cast<int>(file->Children.size()) > clips)
    DeleteNodesFrom(file->Children[clips].get(), true);
  FClipList.clear();
  // A file with parts converts its parts instead; without any it converts whole again.
  file->Check(file->Children.empty());
}

int TFileList::NextPartNumber() const {
  const TFileNode* file = GetFocusedTopNode();
  if (!file || file->Children.empty()) return 0;
  int largest = 0;
  for (const auto& part : file->Children) {
    const QString& title = part->Data.DisplayName;
    largest = std::max(largest, title.mid(title.lastIndexOf(QLatin1Char('_')) + 1).toInt());
  }
  return largest + 1;
}
