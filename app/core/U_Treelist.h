// The main window's file list without its window: a tree of two levels whose nodes own their
// entry. A top-level node is a file or a merge group; a file's children are its parts (clips),
// a merge group's children are the entries it joins. The main window, the clip dialog and the
// conversion window share these operations; the Qt item model (U_Treelist_Gui.h) only shows
// them and forwards what the user does.
#pragma once

#include "U_Converting.h"
#include "U_FileOption.h"
#include "U_clip.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

class TCustomDecoder;

// What adding a file needs to know of it, found by opening it (on a worker: probing may take
// long). Failed files carry the error text for the log and the reason for the user (the text
// without the file name).
struct TProbedFile {
  QString FileName;
  bool Loaded = false;
  QString ErrorText;
  QString Reason;
  QString FormatName;
  int64_t Duration = 0;
  int64_t FileSize = 0;
  QString FrameSize;  // "WxH" of the video stream a conversion takes, "0x0" without one
  TPixelAspect PixelAspect;  // of that stream's pictures
  bool HasSound = false;
  QString MediaText;
};
// Opens the file with the decoder and closes it again; any thread. Only a regular file is
// opened: a pipe would block the opening until something writes into it.
TProbedFile ProbeMediaFile(TCustomDecoder& Decoder, const QString& FileName);

inline constexpr int CheckedState = 2;
inline constexpr int UncheckedState = 0;

struct TFileNode {
  TFileOption Data;
  bool HasCheckBox = false;
  int CheckState = UncheckedState;
  bool Selected = false;
  bool Expanded = false;
  TFileNode* Parent = nullptr;
  std::vector<std::unique_ptr<TFileNode>> Children;

  bool Checked() const { return CheckState == CheckedState; }
  bool IsChild() const { return Parent != nullptr; }
  // A child of an ordinary file: a clip cut from it.
  bool IsPart() const { return Parent && !Parent->Data.IsMergeGroup; }
  void Check(bool On) { CheckState = On ? CheckedState : UncheckedState; }
};

// What goes between an output name and its number when the name is taken: "Clip_1.flv".
inline const QString NameSeparator = QStringLiteral("_");

// What a selection allows: which of edit, clip, merge and formats/rename are enabled.
enum class TSelectionKind { OneFile = 1, SeveralFiles, NothingUsable, MergeGroup, PartOfFile };
struct TSelectionControls {
  bool Edit, Clip, Merge, Formats;
  bool operator==(const TSelectionControls&) const = default;
};
TSelectionControls ControlsOfKind(TSelectionKind Kind);

// The file name without folder and without its extension.
QString FileBaseName(const QString& Path);
// The name with the characters a file name may not hold (* / : < > ? \ | ", and control
// characters and line or paragraph separators) dropped.
QString DropForbiddenNameChars(const QString& Name);

// The list's columns: input, file size, total time, output name.
enum TFileColumn { ColInput, ColFileSize, ColTotalTime, ColOutputName, FileColumnCount };
QString NodeColumnText(const TFileNode& Node, int Column);
// The name an entry goes by: its DisplayName, else its input file name without folder.
QString NodeEntryName(const TFileNode& Node);
// 1 for a merge group, 2 for a part of a file, 0 otherwise.
int NodeImageIndex(const TFileNode& Node);
// The mouse hint of a cell; empty where there is none.
QString NodeHint(const TFileNode& Node, int Column);

class TFileList {
 public:
  using TNodes = std::vector<std::unique_ptr<TFileNode>>;

  const TNodes& TopNodes() const { return FTop; }
  TFileNode* AddTopNode();
  TFileNode* AddChild(TFileNode* Parent);
  void DeleteNode(TFileNode* Node);
  void Clear();
  // Deletes every later sibling of the node and, when asked, the node.
  void DeleteNodesFrom(TFileNode* Node, bool WithItself);

  TFileNode* Focused() const { return FFocused; }
  void SetFocused(TFileNode* Node) { FFocused = Node; }
  int MergeCounter() const { return FMergeCounter; }
  TClipList& ClipList() { return FClipList; }

  bool HasCheckedItem() const;
  void SetAllChecked(int State);
  void ClearSelection();
  bool NoChildSelected() const;
  int SelectedCount() const;
  // The first selected top-level node; else the first selected child of the last top-level
  // node that has one; else none.
  TFileNode* GetFirstSelectedNode() const;
  TFileNode* GetFocusedTopNode() const;
  TSelectionKind SelectionKind() const;
  // The player-control mode a selection returns to once the preview stops.
  int RestoreModeOfSelection() const;

  bool IsOutputNameUsed(const QString& Name, const TFileNode* Except) const;
  // Path less the extension of its file name + "." + Extension, or with Separator and the
  // first free N = 1, 2, ... before the dot; only the list is consulted, not the disk. The file
  // name loses its control characters (an input's name may hold a line break).
  QString MakeUniqueOutputName(const QString& Path, const QString& Extension,
                               const QString& Separator, const TFileNode* Except) const;

  // A file opened by the probe becomes a checked, selected and focused entry.
  TFileNode* AddMediaEntry(const TProbedFile& File, const QString& OutputFolder);

  // The records a merge joins; a selected file taken is unchecked.
  std::vector<TFileOption> GetSelectedRecords();
  // Why the selected entries cannot be merged, for the user; empty when they can.
  QString MergeRefusal() const;
  // A new merge group of the selected entries, selected; none (and nothing changed) when the
  // selection holds nothing to merge or cannot be merged.
  TFileNode* MergeSelectedItems(const QString& OutputFolder);
  // Deletes the selected nodes; a merge group losing its first child takes the next one's
  // sizes and input, and one losing all of them goes too.
  void RemoveSelectedItems();
  void ChangeOutputFolder(const QString& Folder);
  // The output name of the node becomes Text (forbidden characters dropped) in its folder with
  // its extension, made unique; false when nothing is left of the text or nothing changed.
  bool RenameOutput(TFileNode& Node, const QString& Text);

  // The entries as the conversion takes them; they point into the list.
  std::vector<TConvertNode> ConvertNodes();

  void ClearClipList() { FClipList.clear(); }
  void LoadClipListFromNode(const TFileNode& Node);
  void StoreClipListItem(const TClipFile& Clip, int Index);
  TFileNode* AddPartNode(TFileNode& File, int ClipIndex, const QString& OutputFolder);
  // Makes the focused file's parts match the clip list, then empties the list.
  void RebuildPartNodes(const QString& OutputFolder);
  int NextPartNumber() const;

 private:
  TNodes& SiblingsOf(const TFileNode* Node);
  // The nodes whose records a merge joins, in order.
  std::vector<const TFileNode*> SelectedMergeNodes() const;
  template <typename F>
  void ForEachNode(F&& Visit) const;

  TNodes FTop;
  TFileNode* FFocused = nullptr;
  int FMergeCounter = 0;
  TClipList FClipList;
};
