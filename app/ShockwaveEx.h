// The Flash preview control: shows a movie file with the ordinary mouse, enter/leave and key
// events of a widget, and a switch that swallows clicks. Until a Flash runtime is available
// to the program it shows the movie's still picture on the movie's background colour, and
// the log says so once.
#pragma once

#include <QImage>
#include <QWidget>

#include <functional>

class QMenu;

class TShockwaveFlashEx : public QWidget {
  Q_OBJECT

 public:
  explicit TShockwaveFlashEx(QWidget* Parent = nullptr);

  QString Movie() const { return FMovie; }
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

 private:
  QString FMovie;
  QImage FStill;
  QColor FBackground = Qt::black;
  bool FPressed = false;
};
