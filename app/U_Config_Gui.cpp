#include "U_Config_Gui.h"

#include "SkCommon.h"
#include "SkLabel.h"
#include "VelLog.h"
#include "VelTrackbar.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QMouseEvent>
#include <QUrl>
#include <QVariant>

namespace {

const char* const TagProperty = "Tag";

}  // namespace

bool OpenURL(const QString& Address) {
  const QUrl url = OpenableUrl(Address.trimmed());
  if (url.isEmpty()) {
    VelLog.WriteError(
        QStringLiteral("Not opened: \"%1\" is no web or mail address").arg(Address.trimmed()));
    return false;
  }
  if (QDesktopServices::openUrl(url)) return true;
  VelLog.WriteError(QStringLiteral("Cannot open %1 in the web browser").arg(url.toString()));
  return false;
}

bool BrowseFolder(const QString& Folder) {
  if (QDesktopServices::openUrl(QUrl::fromLocalFile(Folder))) return true;
  VelLog.WriteError(QStringLiteral("Cannot open the folder ") + Folder);
  return false;
}

QString SelectFolder(const QString& Caption, const QString& StartFolder) {
  const QString folder = QFileDialog::getExistingDirectory(QApplication::activeWindow(), Caption,
                                                           StartFolder, QFileDialog::ShowDirsOnly);
  if (folder.isEmpty()) return QString();
  return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

QString ShortenText(const QFont& Font, const QString& Text, int Width) {
  const QFontMetrics metrics(Font);
  if (metrics.horizontalAdvance(Text) <= Width) return Text;
  const QString dots = QStringLiteral("...");
  const int room = Width - metrics.horizontalAdvance(dots);
  qsizetype length = Text.size();
  while (length > 0 && metrics.horizontalAdvance(Text.left(length)) > room) --length;
  return Text.left(length) + dots;
}

void FitTextToWidth(QLabel* Label, const QString& Text) {
  Label->setText(ShortenText(Label->font(), Text, Label->width()));
}

bool OpenInPlayer(const QString& File, TCustomPlayer& Player, TScreenHandle Screen,
                  bool StartPaused) {
  if (!Player.Open(QFile::encodeName(File).toStdString(), Screen, StartPaused)) {
    const QString error = QString::fromStdString(Player.LastErrMsg());
    VelLog.WriteError(error);
    QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Error"), error);
    return false;
  }
  VelLog.WriteInfo(QStringLiteral("Success to Load File ") + File + QStringLiteral("\r\n") +
                   GetMediaInfoText(Player.Decoder()));
  return true;
}

bool OpenInPlayerRange(const QString& File, TCustomPlayer& Player, TScreenHandle Screen,
                       TVelTrackbar& SeekBar, int64_t Length, int64_t Start) {
  SeekBar.SetMin(Start);
  SeekBar.SetMax(Start + Length);
  if (!OpenInPlayer(File, Player, Screen, Start != 0)) return false;
  VelLog.WriteInfo(
      QString::asprintf("StartTime: %.5f s TimeLength: %.5f s", Start / 1e6, Length / 1e6));
  return true;
}

void ShowPlaying(bool Playing, QWidget* Play, QWidget* Pause) {
  QWidget* shown = Playing ? Pause : Play;
  QWidget* hidden = Playing ? Play : Pause;
  Play->setProperty(TagProperty, Playing ? 1 : 0);
  shown->show();
  if (hidden->window()->focusWidget() == hidden) shown->setFocus(Qt::OtherFocusReason);
  hidden->hide();
}

void TogglePlayback(int State, QWidget* Play, QWidget* Pause, TCustomPlayer& Player) {
  const bool resume = State == 0;
  ShowPlaying(resume, Play, Pause);
  if (resume)
    Player.Resume();
  else
    Player.Pause();
}

void HoldPlayback(int Mode, bool& WasPlaying, QWidget* Play, TCustomPlayer& Player,
                  QWidget* Pause) {
  if (Mode == 0) {
    WasPlaying = Play->property(TagProperty).toInt() == 1;
    if (WasPlaying) TogglePlayback(1, Play, Pause, Player);
  } else if (Mode == 1 && WasPlaying) {
    TogglePlayback(0, Play, Pause, Player);
    WasPlaying = false;
  }
}

void SeekToShow(TCustomPlayer& Player, int64_t Position) {
  Player.SetSeekDisplay(true);
  Player.Seek(TSeekFlags(), false, Position);
}

bool SeekShown(const TCustomPlayer& Player) {
  return !Player.SeekDisplay() || Player.SeekReached();
}

void ClearPlayerEvents(TCustomPlayer& Player) {
  Player.VideoHook = false;
  Player.FrameHook = false;
  Player.OnVideoHook = nullptr;
  Player.OnFrameHook = nullptr;
  Player.OnFileOpen = nullptr;
  Player.OnPosition = nullptr;
  Player.OnState = nullptr;
}

namespace {

constexpr int SeekResumeDelay = 500;
// Position events let pass after a seek, or after the release of a tick that moved.
constexpr int SkipAfterSeek = 3;

}  // namespace

TPreviewSeekBar::TPreviewSeekBar(TVelTrackbar& Bar, QWidget* Play, QWidget* Pause,
                                 TCustomPlayer& Player)
    // A child of the bar: the bar's events that call here go with it.
    : QObject(&Bar),
      FBar(Bar),
      FPlay(Play),
      FPause(Pause),
      FPlayer(Player),
      tmrpos(CreateSkTimer()) {
  tmrpos->OnTimer = [this] { TimerTick(); };
  Bar.installEventFilter(this);
  Bar.OnTickMouseDown = [this](TVelTrackbar*, Qt::MouseButton, QPoint) {
    FTrackClicked = false;
    FDragging = true;
    FTickMoved = false;
    Hold();
  };
  Bar.OnTickMouseUp = [this](TVelTrackbar*, Qt::MouseButton, QPoint) {
    FDragging = false;
    // The picture ends where the tick was let go, whatever became of the seeks on the way.
    if (FTickMoved) Seek(FBar.Position());
    HoldPlayback(1, FWasPlaying, FPlay, FPlayer, FPause);
  };
  Bar.OnTickChange = [this](TVelTrackbar*) { TickChanged(); };
}

TPreviewSeekBar::~TPreviewSeekBar() = default;

// The bar moves its tick on the release of a press on the track: the release marks the
// tick change that follows as the user's click.
bool TPreviewSeekBar::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == &FBar && Event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(Event)->button() == Qt::LeftButton &&
      FBar.DragMode() == TVelTrackbar::dmTrack)
    FTrackClicked = true;
  return false;
}

void TPreviewSeekBar::TickChanged() {
  if (FDragging) {
    FTickMoved = true;
    Seek(FBar.Position());
    return;
  }
  if (!FTrackClicked) return;
  FTrackClicked = false;
  SeekAndResume();
}

// A hold still on (its resume still due) keeps what it found: the preview that the first
// click paused was playing, though the next click finds it paused.
void TPreviewSeekBar::Hold() {
  const bool held = FWasPlaying;
  HoldPlayback(0, FWasPlaying, FPlay, FPlayer, FPause);
  FWasPlaying = FWasPlaying || held;
}

void TPreviewSeekBar::SeekAndResume(bool Play) {
  Hold();
  FWasPlaying = FWasPlaying || Play;
  FPositionAttached = false;
  Seek(FBar.Position());
  if (FWasPlaying)
    tmrpos->Start(SeekResumeDelay);
  else
    FPositionAttached = true;
}

void TPreviewSeekBar::TimerTick() {
  tmrpos->Stop();
  HoldPlayback(1, FWasPlaying, FPlay, FPlayer, FPause);
  FPositionAttached = true;
}

bool TPreviewSeekBar::TakePosition() {
  if (!FPositionAttached || FDragging) return false;
  if (FPositionSkip <= 0) return true;
  --FPositionSkip;
  return false;
}

void TPreviewSeekBar::Seek(int64_t Position) {
  FPositionSkip = SkipAfterSeek;
  if (OnSeek) OnSeek(Position);
}

void TPreviewSeekBar::ResumeAfter(int Ms) {
  FWasPlaying = true;
  FPositionAttached = false;
  tmrpos->Start(Ms);
}

void TPreviewSeekBar::StopTimer() {
  tmrpos->Stop();
  FWasPlaying = false;
  FPositionAttached = true;
}

namespace {

// Moves the window's frame to the place given for it over its owner's window (the screen
// without one), kept on the screen. The owner's place is the one the toolkit last heard of:
// asked of the X server while a window manager reframes the owner (as it does when a modal
// window over it has just closed), it can be the frame's corner or a size of 1x1.
void PlaceOverOwner(QWidget& Window,
                    const std::function<void(QRect& Placed, const QRect& Owner)>& Place) {
  const QWidget* parent = Window.parentWidget();
  const QScreen* screen = parent ? parent->screen() : Window.screen();
  if (!screen) return;
  const QRect desk = screen->availableGeometry();
  const QRect owner = parent ? parent->window()->geometry() : desk;
  QRect placed(QPoint(), Window.frameGeometry().size());
  Place(placed, owner);
  placed.moveRight(std::min(placed.right(), desk.right()));
  placed.moveBottom(std::min(placed.bottom(), desk.bottom()));
  placed.moveLeft(std::max(placed.left(), desk.left()));
  placed.moveTop(std::max(placed.top(), desk.top()));
  Window.move(placed.topLeft());
}

}  // namespace

void CentreOverOwner(QWidget& Window) {
  PlaceOverOwner(Window,
                 [](QRect& Placed, const QRect& Owner) { Placed.moveCenter(Owner.center()); });
}

void PlaceBelowOverOwner(QWidget& Window, const QWidget& KeepInSight) {
  const QWidget& owner = *KeepInSight.window();
  const int below = KeepInSight.mapTo(&owner, QPoint(0, KeepInSight.height())).y();
  PlaceOverOwner(Window, [below](QRect& Placed, const QRect& Owner) {
    Placed.moveCenter(Owner.center());
    Placed.moveTop(Owner.top() + below);
  });
}
