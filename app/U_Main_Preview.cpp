// The main window's preview: the selected entry played in the preview panel, the seek bar,
// the position labels and snapshots.
#include "PlayerScreen.h"
#include "PreviewWindow.h"
#include "SkBmpBtn.h"
#include "SkPanel.h"
#include "U_Config_Gui.h"
#include "U_Main.h"
#include "VelLog.h"
#include "VelTrackbar.h"
#include "uImageUtils.h"

#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QTimer>

namespace {

QString TimeText(int64_t Microseconds) { return SecondsToTimeText(Microseconds / 1000000); }

}  // namespace

void TMainfrm::ConnectPreview() {
  tmrpos = new QTimer(this);
  tmrpos->setSingleShot(true);
  tmrpos->setInterval(500);
  connect(tmrpos, &QTimer::timeout, this, [this] {
    tmrpos->stop();
    HoldPlayback(1, FWasPlaying, btnPlay, FFPlayer, btnPause);
    AttachPlayerEvents();
    tmrpos->setInterval(500);
  });
  TmrStop = new QTimer(this);
  TmrStop->setSingleShot(true);
  TmrStop->setInterval(1500);
  connect(TmrStop, &QTimer::timeout, this, [this] { StopPreview(); });

  TrckVideo->installEventFilter(this);
  TrckVideo->OnTickMouseDown = [this](TVelTrackbar*, Qt::MouseButton, QPoint) {
    FTrackClicked = false;
    FTickDragging = true;
    FTickMoved = false;
    HoldPlayback(0, FWasPlaying, btnPlay, FFPlayer, btnPause);
  };
  TrckVideo->OnTickMouseUp = [this](TVelTrackbar*, Qt::MouseButton, QPoint) {
    FTickDragging = false;
    HoldPlayback(1, FWasPlaying, btnPlay, FFPlayer, btnPause);
    if (FTickMoved) FSkipPositions = 3;
  };
  TrckVideo->OnTickChange = [this](TVelTrackbar* Bar) {
    if (FTickDragging) {
      FTickMoved = true;
      SeekTo(Bar->Position());
    } else if (FTrackClicked) {
      FTrackClicked = false;
      HoldPlayback(0, FWasPlaying, btnPlay, FFPlayer, btnPause);
      FFPlayer.OnPosition = nullptr;
      SeekTo(Bar->Position());
      if (FWasPlaying)
        tmrpos->start();
      else
        AttachPlayerEvents();
    }
  };
  FFPlayer.VideoDriver = vdX11;
  AttachPlayerEvents();
}

void TMainfrm::AttachPlayerEvents() {
  // Raised on the GUI thread (TriggerEventInMainThread).
  FFPlayer.OnFileOpen = [this](void*, int64_t Duration, int, int, int& ScreenWidth,
                               int& ScreenHeight) {
    ScreenWidth = Perview->width() - 4;
    ScreenHeight = Perview->height() - 4;
    PlayerFileOpened(Duration);
  };
  FFPlayer.OnPosition = [this](void*, int64_t Position) { PlayerPosition(Position); };
  FFPlayer.OnState = [this](void*, TPlayState State) { PlayerState(State); };
}

void TMainfrm::ResetPlayerControls(int Mode) {
  const bool playing = Mode == 2;
  btnPlay->setEnabled(Mode >= 1);
  btnPlay->show();
  btnPause->hide();
  if (!playing) btnPlay->setProperty("Tag", 0);
  btnStop->setEnabled(playing);
  btnSnapshot->setEnabled(playing);
  TrckVideo->setEnabled(playing);
  TrckVideo->SetShowTick(playing);
  if (playing) return;
  lblpos->setText(QStringLiteral("00:00:00"));
  lbllen->setText(QStringLiteral(" / 00:00:00"));
}

void TMainfrm::StopPreview() {
  if (!FPreviewOpen) return;
  FFPlayer.Stop(true);
  FPreviewOpen = false;
  TmrStop->stop();
  ResetPlayerControls(FRestoreMode);
  VideoDisable->hide();
  Perview->update();
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
    ResetPlayerControls(2);
    if (start > 0) {
      TrckVideo->SetShowTick(false);
      TrckVideo->setEnabled(false);
    }
    FSkipPositions = 0;
  }
  TogglePlayback(btnPlay->property("Tag").toInt(), btnPlay, btnPause, FFPlayer);
}

void TMainfrm::btnPauseClick() {
  TogglePlayback(btnPlay->property("Tag").toInt(), btnPlay, btnPause, FFPlayer);
}

void TMainfrm::btnStopClick() {
  tmrpos->stop();
  StopPreview();
}

bool TMainfrm::btnSnapshotClick() {
  const TBitmap frame = FFPlayer.CurrentFrame();
  if (frame.Width() == 0) return false;
  const QString extension = MainSettings().Value(TMainSettings::SnapshotExt);
  const QString name = MakeUniqueFileName(
      WithSlash(MainSettings().Value(TMainSettings::SnapshotPath)) + lblFileName->toolTip(),
      extension, QStringLiteral("_"));
  const QImage picture = BitmapToImage(frame);
  // Anything but "bmp" is written as a JPEG, whatever the extension says.
  const bool saved = extension.compare(QLatin1String("bmp"), Qt::CaseInsensitive) == 0
                         ? picture.save(name, "BMP")
                         : picture.save(name, "JPEG");
  if (!saved) VelLog.WriteError(QStringLiteral("Cannot save the snapshot ") + name);
  return saved;
}

void TMainfrm::PlayerFileOpened(int64_t) {
  if (TrckVideo->Min() != 0) {
    VideoDisable->show();
    FFPlayer.Seek(TSeekFlags(), false, TrckVideo->Min());
    FWasPlaying = true;
    FFPlayer.OnPosition = nullptr;
    tmrpos->start(50);
  }
  TrckVideo->SetPosition(TrckVideo->Min());
  lbllen->setText(QStringLiteral(" / ") + TimeText(TrckVideo->Max() - TrckVideo->Min()));
}

void TMainfrm::PlayerPosition(int64_t Position) {
  if (FFirstFrame) {
    FFirstFrame = false;
    VideoDisable->hide();
    TrckVideo->setEnabled(true);
    TrckVideo->SetShowTick(true);
  }
  if (FTickDragging) return;
  if (FSkipPositions > 0) {
    --FSkipPositions;
    return;
  }
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
      FSkipPositions = 0;
      break;
    case psResume:
      FSkipPositions = 2;
      break;
    case psStop:
      Perview->update();
      break;
    case psEnd:
      StopPreview();
      break;
    default:
      break;
  }
}

void TMainfrm::SeekTo(int64_t Position) {
  lblpos->setText(TimeText(Position - TrckVideo->Min()));
  FSkipPositions = 3;
  FFPlayer.Seek(TSeekFlags(), false, Position);
}
