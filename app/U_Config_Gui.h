// The helpers of the application's configuration that need the desktop: the browser, the
// folder dialog, text that fits its space, and the preview player's shared moves.
#pragma once

#include "FFPlayer.h"
#include "U_Config.h"

#include <QObject>

#include <functional>
#include <memory>

class QAbstractButton;
class QFont;
class QLabel;
class QWidget;
class TSkTimer;
class TVelTrackbar;

// Opens the address in the user's web browser or mail program. Only what a URL label opens
// is opened (web pages and mail addresses, never a local file or a program); a refusal or a
// failure is written to the log.
bool OpenURL(const QString& Address);
// Opens the folder in the desktop's file manager; a failure is written to the log.
bool BrowseFolder(const QString& Folder);

// The folder dialog (file-system folders only) preselecting the start folder: the chosen
// folder with a trailing "/", or nothing when cancelled.
QString SelectFolder(const QString& Caption, const QString& StartFolder);

// The longest prefix that fits the width together with "...", or the text when it fits.
QString ShortenText(const QFont& Font, const QString& Text, int Width);
// Sets the label's caption to the text, shortened to the label's width.
void FitTextToWidth(QLabel* Label, const QString& Text);
// Centres a window exactly over its owner's window (the screen without one), kept on the
// screen. The toolkit's own placement allows for a caption and frame that it guesses when no
// window manager reports them, which frameless windows lack.
void CentreOverOwner(QWidget& Window);
// The same across, with the window's top just below KeepInSight, a control of its owner,
// kept on the screen: for a window that must leave the upper part of its owner in sight.
void PlaceBelowOverOwner(QWidget& Window, const QWidget& KeepInSight);

// Opens the file in the player on the screen. A failure is logged and shown in a message box
// captioned "Error"; a success is logged with the file's streams.
bool OpenInPlayer(const QString& File, TCustomPlayer& Player, TScreenHandle Screen,
                  bool StartPaused = false);
// The same for the range [Start, Start + Length] (µs), which becomes the seek bar's range; a
// range that does not start at 0 opens paused.
bool OpenInPlayerRange(const QString& File, TCustomPlayer& Player, TScreenHandle Screen,
                       TVelTrackbar& SeekBar, int64_t Length, int64_t Start);

// Play and Pause share one place: Pause shows while playing (Play's tag 1), else Play (tag 0).
// The keyboard goes with them, or hiding the focused one would hand it to the next control.
void ShowPlaying(bool Playing, QWidget* Play, QWidget* Pause);
// State 0 resumes (the pause button shows, Play's tag is 1), state 1 pauses.
void TogglePlayback(int State, QWidget* Play, QWidget* Pause, TCustomPlayer& Player);
// Mode 0 pauses a playing preview and remembers it in WasPlaying; mode 1 resumes it then.
void HoldPlayback(int Mode, bool& WasPlaying, QWidget* Play, TCustomPlayer& Player, QWidget* Pause);
// Seeks so that the picture shown is the one at the position, not the key frame before it;
// while paused that picture is decoded and shown, and the play stays paused.
void SeekToShow(TCustomPlayer& Player, int64_t Position);
// False for the position events that come before such a seek has reached its picture: they
// tell of pictures passed over on the way.
bool SeekShown(const TCustomPlayer& Player);
// Turns the hooks off and drops every handler before another window takes the player.
void ClearPlayerEvents(TCustomPlayer& Player);

// What the position bar under a preview does to the player. Pressing the tick pauses a
// playing preview while the tick is dragged, each move of the tick seeks, and the release
// seeks to where the tick stands and resumes. A click on the track outside the tick pauses,
// takes the position event away and seeks there; the timer `tmrpos` then resumes the preview
// (when it was playing before the first of quick clicks) and gives the event back. Timed
// through the control library's timers, so tests drive its clock. The player's threads read
// its event handlers, so the event is taken away here, as a state that the window's position
// handler asks, never by changing the player's handler.
class TPreviewSeekBar : public QObject {
 public:
  TPreviewSeekBar(TVelTrackbar& Bar, QWidget* Play, QWidget* Pause, TCustomPlayer& Player);
  ~TPreviewSeekBar() override;

  // The window's part of a seek (its labels, the player), after the skip counter is set.
  std::function<void(int64_t Position)> OnSeek;

  // GUI thread, for each position event: false while the event is taken away, while the tick
  // is dragged and for the events that the skip counter lets pass (it counts down here).
  bool TakePosition();
  bool PositionAttached() const { return FPositionAttached; }
  void SetPositionSkip(int Count) { FPositionSkip = Count; }
  // Seeks with the position events that follow a seek let pass.
  void Seek(int64_t Position);
  // What a click on the track does, for a seek of the program's own to the bar's position:
  // pauses a playing preview, takes the position event away and seeks; the timer plays on
  // when it was playing, or when Play says so.
  void SeekAndResume(bool Play = false);
  // The program paused the player for a seek of its own: after Ms the player plays again and
  // the position event comes back.
  void ResumeAfter(int Ms);
  // Ends a hold: no resume comes, and the position event is back.
  void StopTimer();
  const TSkTimer& Timer() const { return *tmrpos; }

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  void Hold();
  void TickChanged();
  void TimerTick();

  TVelTrackbar& FBar;
  QWidget* FPlay;
  QWidget* FPause;
  TCustomPlayer& FPlayer;
  std::unique_ptr<TSkTimer> tmrpos;
  bool FWasPlaying = false;
  bool FDragging = false;
  bool FTickMoved = false;
  bool FTrackClicked = false;
  bool FPositionAttached = true;
  int FPositionSkip = 0;
};
