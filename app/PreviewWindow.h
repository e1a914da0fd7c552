// The window in which a converting task shows its pictures live: a small stay-on-top tool
// window in the middle of the screen, captioned with the picture's time, dragged by its
// picture. The engine makes it through the factory below and calls it on the GUI thread only.
#pragma once

#include "Previewer.h"

#include <QImage>
#include <QPoint>
#include <QWidget>

#include <memory>
#include <optional>
#include <string>

class TPreviewForm : public QWidget, public TPreviewWindow {
 public:
  // OnClosed runs once, when the user closes the window (not when its owner frees it).
  TPreviewForm(QSize ClientSize, TPreviewClosedEvent OnClosed);

  // GUI thread.
  void SetCaption(const std::string& Caption) override;
  // GUI thread. Keeps a copy of the picture and draws it at the top-left corner.
  void Draw(const TBitmap& Bitmap) override;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;

 private:
  TPreviewClosedEvent FOnClosed;
  // A copy of the last picture, in the format the screen draws fastest.
  QImage FPicture;
  // Where the window was grabbed, relative to its top-left corner, while the window moves
  // itself with the mouse (where the window system cannot move it).
  std::optional<QPoint> FDragOffset;
};

// The bitmap's pixels as an image of its own; its rows are read in place, in one pass.
QImage BitmapToImage(const TBitmap& Bitmap);

// The engine's preview window factory (GUI thread): a shown window whose client area is the
// size of the first picture.
std::unique_ptr<TPreviewWindow> MakePreviewWindow(const TBitmap& FirstPicture,
                                                  TPreviewClosedEvent OnClosed);
