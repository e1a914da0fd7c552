// The program's main window, the one window that lives for the whole run: the file list, the
// buttons and menus that change it, the preview player with its seek bar, and the output
// folder. The list's entries and operations live in TFileListModel / TFileList.
#pragma once

#include "FFEncode.h"
#include "FFPlayer.h"
#include "U_Treelist_Gui.h"

#include <QHeaderView>
#include <QTreeView>
#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QMenu;
class QTimer;
class TPlayerScreen;
class TPreviewSeekBar;
class TSkBmpButton;
class TSkCheckBox;
class TSkPanel;
class TVelTrackbar;

// The list's header, drawn as the window's chrome: a dark gradient with light titles and a
// separator line between sections.
class TFileListHeader : public QHeaderView {
 public:
  explicit TFileListHeader(QWidget* Parent);

 protected:
  void paintSection(QPainter* Painter, const QRect& Rect, int Section) const override;
};

// The window's size on a screen: a screen narrower than 920 or lower than 570 pixels gets a
// window of nine tenths of its size, any other the usual 920 by 570.
QSize MainWindowSize(const QSize& Screen);

class TMainfrm : public QWidget {
  Q_OBJECT

 public:
  explicit TMainfrm(QWidget* Parent = nullptr);
  ~TMainfrm() override;

  // The dialogs of the list's entries; each does nothing until its window is connected. They
  // are called with the preview stopped and the player's events detached where that matters.
  std::function<void(TMainfrm&, TFileNode&)> OnEditDialog, OnFormatsDialog, OnPropertiesDialog;
  // The clip dialog edits the entry's parts; true when they are to be replaced by Parts.
  std::function<bool(TMainfrm&, TFileNode&, TClipList& Parts)> OnClipDialog;
  std::function<void(TMainfrm&)> OnOptionsDialog, OnUpdateDialog;
  // The conversion window, given the list.
  std::function<void(TFileListModel&)> OnConvert;
  // How the window speaks to the user; tests catch them.
  std::function<void(const QString& Text)> ShowInformation;
  std::function<void(const QString& Text)> ShowWarning;
  std::function<void(const QString& Text)> ShowError;
  // Opens a folder in the desktop's file manager.
  std::function<void(const QString& Folder)> OpenFolder;

  // Loads the encoder's and the player's libraries from the program's "LibAV" folder; a failure
  // is shown and logged, and the program ends.
  bool LoadMediaLibraries();
  // Adds the files one after another in the add-files window, then reports those that failed.
  void AddFiles(const QStringList& Files);
  bool AddMediaFile(const TProbedFile& File);

  TFileListModel& Model() { return *FModel; }
  QTreeView* FileView() const { return VSTFile; }
  TFFPlayer& Player() { return FFPlayer; }
  TVelTrackbar* SeekBar() const { return TrckVideo; }
  bool PreviewOpen() const { return FPreviewOpen; }

  // Handlers of the buttons and menu items.
  void btnAddClick();
  void btnStartClick();
  void btnEditClick();
  void btnClipClick();
  void btnFormatsClick();
  void mniFileClick();
  void btnMergeClick();
  void mniRemoveClick();
  void mniClearAllClick();
  void mniRenameClick();
  void chkallClick();
  void btnChangeClick();
  // Sets the output folder as the folder dialog would.
  void ChangeOutputFolder(const QString& Folder);
  void btnBrowseClick();
  void btnOpenClick();
  void btnPlayClick();
  void btnPauseClick();
  void btnStopClick();
  bool btnSnapshotClick();
  void mniHelpClick();

  // The preview's player controls: 0 nothing to play, 1 ready to play, 2 playing.
  void ResetPlayerControls(int Mode);
  // Stops the player and closes the preview.
  void StopPreview();

  TSkBmpButton *btnAdd, *btnStart, *btnEdit, *btnClip, *btnFormats, *btnMerge, *btnOption, *btnHelp,
      *btnChange, *btnBrowse, *btnOpen, *btnPlay, *btnPause, *btnStop, *btnSnapshot, *btnmin,
      *btnMax, *btnRestore, *btnclose;
  QAction *mniEdit, *mniClip, *mniFormats, *mniFile, *mniMerge, *mniRemove, *mniClearAll,
      *mniRename, *mniHelp, *mniUpdate, *mniAbout;
  TSkCheckBox* chkall;
  QLineEdit* edtoutput;
  QLabel *lblSoftName, *lblFileName, *lblpos, *lbllen;
  TSkPanel* Perview;
  QWidget* VideoDisable;
  QTreeView* VSTFile;
  TVelTrackbar* TrckVideo;
  QMenu *pmList, *pmHelp;
  QTimer* TmrStop;
  TPreviewSeekBar* FSeekBar;

 protected:
  void showEvent(QShowEvent* Event) override;
  void ReturnKeyboardAfter(const QWidget& Closed);
  void resizeEvent(QResizeEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  void BuildWindow();
  QWidget* BuildCaption();
  QWidget* BuildToolbar();
  QWidget* BuildPreview();
  QWidget* BuildFooter();
  void BuildMenus();
  void ConnectPreview();
  void ApplySelectionKind(TSelectionKind Kind);
  void SelectionChanged();
  // The list's state once no entry is selected (or none is left).
  void ShowNothingSelected();
  void ShowEntryName(const QString& Name);
  // The caption over the preview names the focused entry, the one Play plays.
  void ShowFocusedEntryName();
  void StopPreviewOfAnotherEntry();
  // Runs a dialog hook on the focused or first selected entry with the preview stopped.
  void RunEntryDialog(const std::function<void(TMainfrm&, TFileNode&)>& Dialog, TFileNode* Node);
  void AttachPlayerEvents();
  void PlayerFileOpened(int64_t Duration);
  void PlayerPosition(int64_t Position);
  void PlayerState(TPlayState State);

  TFileListModel* FModel;
  TFFEncoder FFEncoder;
  TFFPlayer FFPlayer;
  std::unique_ptr<TPlayerScreen> FScreen;
  bool FPreviewOpen = false;
  // The entry the open preview plays.
  const TFileNode* FPreviewEntry = nullptr;
  bool FFirstFrame = false;
  int FRestoreMode = 0;
};
