// Lets a player draw into a widget of the application. A native child window filling the
// widget takes the player's pictures; while the player draws there, Qt paints nothing into it
// and keeps no picture of it of its own (it would copy that over the player's picture when the
// window is uncovered or resized). SDL learns of paints and size changes only through the
// player, since it watches no events of a window it did not make. While nothing plays there
// the window is painted black. The widget keeps its mouse, keyboard and focus behaviour; a
// mouse button gives it the focus, and closing it is refused while the player owns it.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "FFPlayer.h"

class TPlayerSurface;

class TPlayerScreen : public QObject {
  Q_OBJECT

 public:
  // GUI thread. The widget and the player must outlive the adapter, or the widget goes first.
  TPlayerScreen(QWidget* widget, TCustomPlayer& player);
  ~TPlayerScreen() override;

  // The window to hand to TCustomPlayer::Open: from now on the player paints it.
  TScreenHandle Handle();
  // Has the whole window painted again: once the player stopped, its last picture goes.
  void Repaint();
  // The window's size in the screen's own pixels, which the player draws in: on a scaled
  // desktop the widget's size times its device pixel ratio.
  QSize Size() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<QWidget> FWidget;
  QPointer<TPlayerSurface> FSurface;
};
