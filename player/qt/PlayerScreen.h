// Lets a player draw into a widget of the application. The widget becomes a native window of
// its own that Qt never paints while the player draws there (SDL does); SDL learns of paints
// and size changes only through the player, since it watches no events of a window it did not
// make. While nothing plays there the widget is painted black. The widget keeps its mouse,
// keyboard and focus behaviour; a mouse button gives it the focus, and closing it is refused
// while the player owns it.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "FFPlayer.h"

class TPlayerScreen : public QObject {
  Q_OBJECT

 public:
  // GUI thread. The widget and the player must outlive the adapter, or the widget goes first.
  TPlayerScreen(QWidget* widget, TCustomPlayer& player);
  ~TPlayerScreen() override;

  // The window to hand to TCustomPlayer::Open.
  TScreenHandle Handle() const;
  // Has the whole window painted again: once the player stopped, its last picture goes.
  void Repaint();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<QWidget> FWidget;
  TCustomPlayer& FPlayer;
};
