// The Flash preview control: plays a movie file with the ordinary mouse, enter/leave and key
// events of a widget, and a switch that swallows clicks. The movie plays in a web view
// running the Flash runtime (Ruffle) installed beside the program; where that runtime is
// missing or the movie cannot be played, the control shows its still picture on the
// background colour instead, and the log says why.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QImage>
#include <QWidget>

#include <functional>
#include <optional>

class QMenu;
class QTimer;
class QWebEngineView;

// The folder of the Flash runtime beside the program, with its trailing "/".
QString FlashRuntimeFolder();
// The application object, made as the program makes it. The web view draws with the
// processor, so the program needs no GL: before the object is made, Qt's xcb platform is told
// to offer none (unless the user chose a GL integration where the address space holds the web
// engine), since the web engine would otherwise make a GL context while the object is made,
// which loads the GL driver on every start and dies in it where memory is short. Its sandbox
// cannot start for root. Once it is made, programs started from here get the environment the
// program was started with.
class TFlashReadyApplication : public QApplication {
 public:
  TFlashReadyApplication(int& Argc, char** Argv);
  // Why the user's GL integration is not used, or nothing.
  static QString GlChoiceSetAside();
};
// The GL integration to use for the user's choice (empty for none) in an address space with
// the problem given (see AddressSpaceProblem): none where the web engine cannot run, as the
// skin preview then shows its still picture.
QByteArray GlIntegrationFor(const QByteArray& UserChoice, const QString& AddressSpaceProblem);
// The page that plays the movie on the colour, with the runtime taken from the folder: at its
// stage size, centred on a page's white (brought within the page where it is larger), or over
// the whole page for an empty stage size. Its title says when the whole movie is loaded.
QString FlashPage(const QString& Movie, QSize Stage, const QColor& Background,
                  const QString& RuntimeFolder);
// Why the runtime cannot start within an address space limited to LimitBytes (none for no
// limit), or nothing when it can: the web engine's page process alone reserves tens of GiB,
// and the engine, running in this process, ends it where it cannot reserve what it needs.
QString AddressSpaceProblem(std::optional<quint64> LimitBytes);

class TShockwaveFlashEx : public QWidget {
  Q_OBJECT

 public:
  explicit TShockwaveFlashEx(QWidget* Parent = nullptr);

  QString Movie() const { return FMovie; }
  // Whether the movie is in the runtime (false while the still shows), drawing or resting.
  bool Playing() const;
  // Whether the runtime rests: once the loaded movie showed the same picture for a second,
  // with the pointer elsewhere, the runtime is stopped and that picture stays, until the
  // pointer comes over the control again or a key is pressed on it.
  bool Resting() const { return !FRestPicture.isNull(); }
  // The movie plays at its stage size, centred on white, as a page shows it; with no stage
  // size given it fills the control. The still shows on the stage as well.
  void SetMovie(const QString& Value, QSize Stage = QSize());
  // What shows in place of the movie: its still picture, centred on the stage in the
  // background colour.
  void SetStill(const QImage& Picture, const QColor& Background);
  const QImage& StillPicture() const { return FStill; }
  QColor StillBackground() const { return FBackground; }

  bool LockMouseClick = false;
  QMenu* PopupMenu = nullptr;
  std::function<void(Qt::MouseButton, Qt::KeyboardModifiers, QPoint)> OnMouseDown, OnMouseUp;
  std::function<void(Qt::KeyboardModifiers, QPoint)> OnMouseMove;
  std::function<void()> OnClick, OnMouseEnter, OnMouseLeave;
  std::function<void(int Key, Qt::KeyboardModifiers)> OnKeyDown;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void enterEvent(QEnterEvent* Event) override;
  void leaveEvent(QEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void contextMenuEvent(QContextMenuEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void hideEvent(QHideEvent* Event) override;
  void showEvent(QShowEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  void ShowStill(const QString& Reason);
  void Play();
  void MakeView();
  void LookForRest();
  void Rest();
  void Wake();

  QString FMovie;
  QSize FStage;
  QWebEngineView* FView = nullptr;
  QTimer* FRestWatch;
  bool FMovieLoaded = false;
  bool FPointerOver = false;
  int FUnchangedLooks = 0;
  QImage FLastLook;
  QImage FRestPicture;
  QImage FStill;
  QColor FBackground = Qt::black;
  bool FPressed = false;
};
