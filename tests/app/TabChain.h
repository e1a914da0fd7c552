// Walks a window's Tab chain as the keyboard does and tells, for each stop, whether the
// control shows that it has the focus.
#pragma once

#include <QApplication>
#include <QList>
#include <QString>
#include <QTest>
#include <QWidget>

#include <string>

struct TTabStop {
  QWidget* Control;
  QString Name;      // class and place in the window, for messages
  bool ShowsFocus;   // looks different once it has lost the focus
};

// Whether the focused control looks different once it loses the focus; a few pixels around
// it are compared too, where a focus frame may be drawn.
inline bool ShowsItsFocus(QWidget& Window, QWidget& Control) {
  const QRect around(Control.mapTo(&Window, QPoint(-3, -3)), Control.size() + QSize(6, 6));
  const QImage focused = Window.grab(around).toImage();
  Control.clearFocus();
  const QImage unfocused = Window.grab(around).toImage();
  Control.setFocus(Qt::TabFocusReason);
  return focused != unfocused;
}

// Presses Tab until the focus is back where it started (at most Limit times).
inline QList<TTabStop> WalkTabChain(QWidget& Window, int Limit = 40) {
  QList<TTabStop> stops;
  QWidget* start = QApplication::focusWidget();
  for (int stop = 0; stop < Limit; ++stop) {
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &Window,
                    Qt::Key_Tab);
    QWidget* focused = QApplication::focusWidget();
    if (!focused) break;
    const QPoint at = focused->mapTo(&Window, QPoint());
    stops.append({focused,
                  QStringLiteral("%1 at %2,%3")
                      .arg(QLatin1String(focused->metaObject()->className()))
                      .arg(at.x())
                      .arg(at.y()),
                  ShowsItsFocus(Window, *focused)});
    if (focused == start) break;
  }
  return stops;
}

// The names of the stops that show no focus, one after another; empty when every one does.
inline std::string StopsWithoutFocus(const QList<TTabStop>& Stops) {
  QStringList names;
  for (const TTabStop& stop : Stops)
    if (!stop.ShowsFocus) names << stop.Name;
  return names.join(QStringLiteral("; ")).toStdString();
}
