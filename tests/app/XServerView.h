// What the X server itself says about a window, whatever the toolkit believes: where it lies
// on the screen and whether it has the keyboard. Asked over the toolkit's own connection, so
// that every request the toolkit made before is answered first.
#pragma once

#include <QRect>

class QWidget;

QRect ServerGeometry(const QWidget& Window);
bool HasServerFocus(const QWidget& Window);
