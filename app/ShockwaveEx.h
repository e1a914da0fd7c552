// The Flash preview control: plays a movie file with the ordinary mouse, enter/leave and key
// events of a widget, and a switch that swallows clicks. The movie plays in a web view
// running the Flash runtime (Ruffle) installed beside the program; where that runtime is
// missing or the movie cannot be played, the control shows its still picture on the
// background colour instead, and the log says why.
#pragma once

#include <QImage>
#include <QWidget>

#include <functional>

class QMenu;
class QWebEngineView;

// The folder of the Flash runtime beside the program, with its trailing "/".
QString FlashRuntimeFolder();
// Before the application object exists: the web view shares its GL contexts, and its
// sandbox cannot start for root.
void PrepareFlashRuntime();
// The page that plays the movie on the colour, with the runtime taken from the folder.
QString FlashPage(const QString& Movie, const QColor& Background, const QString& RuntimeFolder);

class TShockwaveFlashEx : public QWidget {
  Q_OBJECT

 public:
  explicit TShockwaveFlashEx(QWidget* Parent = nullptr);

  QString Movie() const { return FMovie; }
  // Whether the movie is playing in the runtime (false while the still shows).
  bool Playing() const;
  void SetMovie(const QString& Value);
  // What shows in place of the movie: its still picture, centred on the background colour.
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

  QString FMovie;
  QWebEngineView* FView = nullptr;
  QImage FStill;
  QColor FBackground = Qt::black;
  bool FPressed = false;
};
