// The clip window: cuts one list entry into parts while its file plays in the shared player.
#pragma once

#include "FFPlayer.h"
#include "SkinForm.h"
#include "U_clip.h"

#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QToolButton;
class QTreeWidgetItem;
class TPlayerScreen;
class TPreviewSeekBar;
class TSkEdit;
class TSkListView;
class TVelTrackbar;
struct TFileOption;

class TClipfrm : public TSkinForm {
  Q_OBJECT

 public:
  // Parts is the entry's parts (empty when it has none); the first new part takes the
  // number NextPartNumber.
  TClipfrm(TCustomPlayer& Player, const TFileOption& Entry, int NextPartNumber,
           const TClipList& Parts, QWidget* Parent = nullptr);
  ~TClipfrm() override;

  QWidget* PanelVideo;
  QLabel *lblpos, *lbllen;
  TVelTrackbar* TrckVideo;
  QToolButton *btnPlay, *btnPause, *btnStop;
  TSkBmpButton *btnPlayClip, *btnmarkin, *btnmarkout, *btnadd, *btndelete;
  TSkListView* lvCutVideo;
  TSkEdit* ItemEdit;

  // The player has opened the file: the bar's steps follow its frames (or microseconds).
  void FileOpened(int64_t Duration, const std::optional<TVideoStreamInfo>& Video);
  // What the buttons do.
  void MarkIn();
  void MarkOut();
  void AddPart();
  void DeletePart();
  void PlayClip();
  void Stop();
  // A press on a row's cell: the editor opens over the start or the end.
  void SelectRow(int Row, TClipColumn Column);
  // The editor lost the focus after a change.
  void EditorDone();

  // The parts as OK stored them.
  const TClipList& Parts() const { return FParts; }
  const TClipSession* Session() const { return FSession.get(); }

  // The question whether to keep changes (QMessageBox::Yes, No or Cancel) and the refusal of
  // a typed time; tests answer them.
  std::function<int(const QString& Text)> AskSaveChanges;
  std::function<void(const QString& Text)> ShowRefusal;

 public slots:
  void accept() override;
  void reject() override;

 protected:
  void showEvent(QShowEvent* Event) override;
  void done(int Result) override;
  // Wheel turns and presses outside the rows close the time editor.
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  void TakePlayerEvents();
  void Position(int64_t Time);
  void PlayState(TPlayState State);
  void ShowRow(int Row);
  int SelectedRow() const;
  // The markers show the selected part, or hide when none is.
  void SelectionChanged();
  // The markers on the part, and the picture inside it.
  void ShowPart(int Row);
  // Escape in the time editor: the cell keeps its time.
  void CancelEdit();
  // The selected row's start or end follows the marker.
  void MarkerMoved(TClipColumn Column);
  // Moves the markers; when they push the tick, the picture follows it.
  void SetMarkers(TClipSegment Segment);
  void PlaceEditor();
  // Holds the play, shows the picture at the time and plays on after the seek bar's delay
  // when it was playing, or when Play says so.
  void SeekTo(int64_t Time, bool Play = false);
  // The position label tells the time of the bar's tick.
  void ShowBarTime();

  TCustomPlayer& FPlayer;
  std::unique_ptr<TPlayerScreen> FScreen;
  // Seeks where the user clicks or drags the tick, and for the window's own seeks.
  TPreviewSeekBar* FSeekBar;
  QString FFile;
  TClipFile FNewPart;
  int FNextPartNumber;
  TClipList FParts;
  std::unique_ptr<TClipSession> FSession;
  TClipColumn FEditColumn = TClipColumn::Start;
  bool FUpdating = false;
  bool FPlayingClip = false;
  bool FMarkerHeld = false;
  // Where the tick stood when the picture was last put in step with it: by a seek to the bar,
  // or by the bar following the play.
  int64_t FPictureTick = 0;
};

// The clip window over the main window. True when OK handed back Parts (an empty list takes
// every part away); false when the entry keeps its parts.
bool ShowClipDialog(TCustomPlayer& Player, const TFileOption& Entry, int NextPartNumber,
                    TClipList& Parts, QWidget* Parent);
