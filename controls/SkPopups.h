// A panel whose children drop down in a borderless pop-up window under a control, with a local
// event loop that ends when the user picks something (Close), presses Esc or clicks elsewhere.
// The click elsewhere only closes: it never reaches the window under the mouse.
#pragma once

#include "SkCommon.h"

#include <QEventLoop>
#include <QPointer>
#include <QWidget>

#include <functional>

// Where a pop-up of Size goes for a control at ControlRect (screen coordinates): at (X, Y)
// from the control's top-left when either is not -1, else under the control, aligned left,
// right or centred; then kept inside WorkArea, opening above the control when it would leave
// the bottom.
QRect PopupPlacement(const QRect& ControlRect, QSize Size, Qt::Alignment Alignment, int X, int Y,
                     const QRect& WorkArea);

// The look shared by the panel and its pop-up window: a 2-pixel ring in the popup style.
class TSkCustomPopup : public QWidget {
  Q_OBJECT
 public:
  explicit TSkCustomPopup(QWidget* Parent = nullptr, Qt::WindowFlags Flags = {});
  TInnerOuterBorders Borders;
  TColor Color() const { return Borders.Color; }
  void SetColor(TColor Value);

 protected:
  void paintEvent(QPaintEvent* Event) override;
};

class TSkPopup;

class TSkPopupPanel : public TSkCustomPopup {
  Q_OBJECT
 public:
  explicit TSkPopupPanel(QWidget* Parent = nullptr);
  ~TSkPopupPanel() override;

  Qt::Alignment Alignment = Qt::AlignRight;
  std::function<void()> OnPopup, OnClose;

  // Shows the children under Control and waits; true only when Close ended it.
  bool Popup(QWidget* Control, int X = -1, int Y = -1);
  // Accepts and closes the showing pop-up (a child's click handler).
  void Close();
  bool Showing() const { return !FPopup.isNull(); }
  // The pop-up window while showing.
  QWidget* PopupWindow() const;

 private:
  QPointer<TSkPopup> FPopup;
};
