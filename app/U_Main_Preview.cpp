// The main window's preview: the selected entry played in the preview panel, the seek bar,
// the position labels and snapshots.
#include "PlayerScreen.h"
#include "PreviewWindow.h"
#include "SkBmpBtn.h"
#include "SkPanel.h"
#include "U_Config_Gui.h"
#include "U_Main.h"
#include "U_option.h"
#include "VelLog.h"
#include "VelTrackbar.h"
#include "uImageUtils.h"

#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QTimer>

namespace {

QString TimeText(int64_t Microseconds) { return SecondsToTimeText(Microseconds / 1000000); }

// Empty, or why the picture could not be written.
QString SaveSnapshot(const QImage& Picture, const QString& FileName, const QString& Extension) {
  // Anything but "bmp" is written as a JPEG, whatever the extension says.
  const char* format =
      Extension.compare(QLatin1String("bmp"), Qt::CaseInsensitive) == 0 ? "BMP" : "JPEG";
  QFile file(FileName);
  QString reason;
  if (!file.open(QIODevice::WriteOnly)) {
    reason = file.errorString();
  } else if (!Picture.save(&file, format)) {
    reason = file.errorString();
    file.remove();
  } else {
    return {};
  }
  return QStringLiteral("Cannot save the snapshot %1: %2").arg(FileName, reason);
}

}  // namespace

void TMainfrm::ConnectPreview() {
  TmrStop = new QTimer(this);
  TmrStop->setSingleShot(true);
  TmrStop->setInterval(1500);
  connect(TmrStop, &QTimer::timeout, this, [this] { StopPreview(); });

  FSeekBar = new TPreviewSeekBar(*TrckVideo, btnPlay, btnPause, FFPlayer);
  FSeekBar->OnSeek = [this](int64_t Position) {
    lblpos->setText(TimeText(Position - TrckVideo->Min()));
    SeekToShow(FFPlayer, Position);
  };
  FFPlayer.VideoDriver = vdX11;
  AttachPlayerEvents();
}

void TMainfrm::AttachPlayerEvents() {
  // Raised on the GUI thread (TriggerEventInMainThread).
  FFPlayer.OnFileOpen = [this](void*, int64_t Duration, int, int, int& ScreenWidth,
                               int& ScreenHeight) {
    ScreenWidth = FScreen->Size().width();
    ScreenHeight = FScreen->Size().height();
    PlayerFileOpened(Duration);
  };
  FFPlayer.OnPosition = [this](void*, int64_t Position) { PlayerPosition(Position); };
  FFPlayer.OnState = [this](void*, TPlayState State) { PlayerState(State); };
}

void TMainfrm::ResetPlayerControls(int Mode) {
  const bool playing = Mode == 2;
  btnPlay->setEnabled(Mode >= 1);
  btnStop->setEnabled(playing);
  btnSnapshot->setEnabled(playing);
  TrckVideo->setEnabled(playing);
  TrckVideo->SetShowTick(playing);
  if (playing) return;
  ShowPlaying(false, btnPlay, btnPause);
  TrckVideo->SetPosition(TrckVideo->Min());
  lblpos->setText(QStringLiteral("00:00:00"));
  lbllen->setText(QStringLiteral(" / 00:00:00"));
}

void TMainfrm::StopPreview() {
  if (!FPreviewOpen) return;
  // A resume still due would hand the player's position event back to a closed preview.
  FSeekBar->StopTimer();
  FFPlayer.Stop(true);
  FPreviewOpen = false;
  TmrStop->stop();
  // The entry stays the one chosen: its total stays told until another one is chosen.
  const QString total = lbllen->text();
  ResetPlayerControls(FRestoreMode);
  lbllen->setText(total);
  VideoDisable->hide();
  FScreen->Repaint();
}

// Once another entry has the focus the preview's picture and times would stand under its name,
// and Play would go on with the old file.
void TMainfrm::StopPreviewOfAnotherEntry() {
  if (!FPreviewOpen || FModel->List().Focused() == FPreviewEntry) return;
  StopPreview();
  ResetPlayerControls(FRestoreMode);
}

void TMainfrm::btnPlayClick() {
  if (!FPreviewOpen) {
    const TFileNode* node = FModel->List().Focused();
    if (!node) return;
    const int64_t start = std::max<int64_t>(node->Data.Input.StartTime, 0);
    const QString file = QFile::decodeName(QByteArray::fromStdString(node->Data.Input.FileName));
    FFirstFrame = true;
    if (!OpenInPlayerRange(file, FFPlayer, FScreen->Handle(), *TrckVideo, node->Data.Duration,
                           start))
      return;
    FPreviewOpen = true;
    FPreviewEntry = node;
    ResetPlayerControls(2);
    if (start > 0) {
      TrckVideo->SetShowTick(false);
      TrckVideo->setEnabled(false);
    }
    FSeekBar->SetPositionSkip(0);
  }
  TogglePlayback(btnPlay->property("Tag").toInt(), btnPlay, btnPause, FFPlayer);
}

void TMainfrm::btnPauseClick() {
  TogglePlayback(btnPlay->property("Tag").toInt(), btnPlay, btnPause, FFPlayer);
}

void TMainfrm::btnStopClick() { StopPreview(); }

bool TMainfrm::btnSnapshotClick() {
  const TBitmap frame = FFPlayer.CurrentFrame();
  if (frame.Width() == 0) return false;
  const QString folder = MainSettings().Value(TMainSettings::SnapshotPath);
  const QString extension = MainSettings().Value(TMainSettings::SnapshotExt);
  QString problem = PrepareSnapshotFolder(folder);
  if (problem.isEmpty())
    problem = SaveSnapshot(BitmapToImage(frame),
                           MakeUniqueFileName(WithSlash(folder) + lblFileName->toolTip(), extension,
                                              QStringLiteral("_")),
                           extension);
  if (problem.isEmpty()) return true;
  VelLog.WriteError(problem);
  ShowError(problem);
  return false;
}

void TMainfrm::PlayerFileOpened(int64_t) {
  if (TrckVideo->Min() != 0) {
    VideoDisable->show();
    SeekToShow(FFPlayer, TrckVideo->Min());
    FSeekBar->ResumeAfter(50);
  }
  TrckVideo->SetPosition(TrckVideo->Min());
  lbllen->setText(QStringLiteral(" / ") + TimeText(TrckVideo->Max() - TrckVideo->Min()));
}

void TMainfrm::PlayerPosition(int64_t Position) {
  // Until a seek shows its picture, the cover stays and the bar stays where it was put.
  if (!FSeekBar->PositionAttached() || !SeekShown(FFPlayer)) return;
  if (FFirstFrame) {
    FFirstFrame = false;
    VideoDisable->hide();
    TrckVideo->setEnabled(true);
    TrckVideo->SetShowTick(true);
  }
  if (!FSeekBar->TakePosition()) return;
  if (!FPreviewOpen) return;
  if (Position < TrckVideo->Max()) {
    if (Position > TrckVideo->Position()) TrckVideo->SetPosition(Position);
    lblpos->setText(TimeText(TrckVideo->Position() - TrckVideo->Min()));
    return;
  }
  TrckVideo->SetPosition(TrckVideo->Max());
  lblpos->setText(TimeText(TrckVideo->Position() - TrckVideo->Min()));
  StopPreview();
}

void TMainfrm::PlayerState(TPlayState State) {
  switch (State) {
    case psPause:
      FSeekBar->SetPositionSkip(0);
      break;
    case psResume:
      FSeekBar->SetPositionSkip(2);
      break;
    case psStop:
      FScreen->Repaint();
      break;
    case psEnd:
      StopPreview();
      break;
    default:
      break;
  }
}
