#include "U_Main.h"

#include <QGuiApplication>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>

namespace {

// A round-rectangle region one pixel larger than the window, as the caption-less
// windows of the program are shaped.
QRegion RoundWindowRegion(QSize Size, int Ellipse) {
  QPainterPath path;
  path.addRoundedRect(QRectF(0, 0, Size.width() + 1, Size.height() + 1), Ellipse / 2.0,
                      Ellipse / 2.0);
  return QRegion(path.toFillPolygon().toPolygon());
}

}  // namespace

TMainfrm::TMainfrm(QWidget* Parent) : QWidget(Parent, Qt::Window | Qt::FramelessWindowHint) {
  setWindowTitle(QStringLiteral("Velmora Fennick"));
  resize(920, 570);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TMainfrm::resizeEvent(QResizeEvent* Event) {
  setMask(RoundWindowRegion(size(), 12));
  QWidget::resizeEvent(Event);
}
