#include "SkPopups.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>

QRect PopupPlacement(const QRect& ControlRect, QSize Size, Qt::Alignment Alignment, int X, int Y,
                     const QRect& WorkArea) {
  const int w = Size.width(), h = Size.height();
  const int right = ControlRect.left() + ControlRect.width();  // exclusive edges
  int left, top;
  if (X != -1 || Y != -1) {
    left = ControlRect.left() + X;
    top = ControlRect.top() + Y;
  } else {
    top = ControlRect.top() + ControlRect.height();
    if (Alignment & Qt::AlignRight)
      left = right - w;
    else if (Alignment & Qt::AlignHCenter)
      left = (ControlRect.left() + right - w) / 2;
    else
      left = ControlRect.left();
  }
  const int workRight = WorkArea.left() + WorkArea.width();
  const int workBottom = WorkArea.top() + WorkArea.height();
  if (left + w > workRight) left = workRight - w;
  if (top + h > workBottom) top = ControlRect.top() - h;
  left = std::max(left, WorkArea.left());
  top = std::max(top, WorkArea.top());
  return {left, top, w, h};
}

// ---- TSkCustomPopup -----------------------------------------------------------------------------

TSkCustomPopup::TSkCustomPopup(QWidget* Parent, Qt::WindowFlags Flags) : QWidget(Parent, Flags) {
  Borders.BorderOuter = fsPopup;
  Borders.BorderWidth = 2;
  Borders.BorderColor = clBtnFace;
  Borders.Color = clBtnFace;
}

void TSkCustomPopup::SetColor(TColor Value) {
  Borders.Color = Value;
  Borders.BorderColor = Value;
  update();
}

void TSkCustomPopup::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  FillRect(canvas, TRect::FromQRect(rect()), Borders.Color);
  DrawInnerOuterBorders(canvas, TRect::FromQRect(rect()), Borders);
}

// ---- TSkPopup -----------------------------------------------------------------------------------

// The transient window that holds the panel's children while it shows. The loop that waits for
// it belongs to the caller, so that closing the window under it (which deletes this) ends the
// wait instead of pulling the loop from under itself.
class TSkPopup : public TSkCustomPopup {
 public:
  TSkPopup(TSkPopupPanel& Panel, QEventLoop& Loop)
      : TSkCustomPopup(Panel.window(), Qt::Popup | Qt::FramelessWindowHint),
        FPanel(Panel),
        FLoop(Loop) {
    setAttribute(Qt::WA_NoMouseReplay);
    Borders = Panel.Borders;
    setFont(Panel.font());
    setToolTip(Panel.toolTip());
    QObject::connect(this, &QObject::destroyed, &Loop, &QEventLoop::quit);
  }

  // Takes the panel's children and shows at Bounds.
  void Show(const QRect& Bounds) {
    for (QWidget* child : FPanel.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      const QRect at = child->geometry();
      child->setParent(this);
      child->setGeometry(at);
      child->show();
      FChildren << child;
      if (!FFirst && child->isEnabled() && child->focusPolicy() != Qt::NoFocus) FFirst = child;
    }
    setGeometry(Bounds);
    show();
    if (FFirst) FFirst->setFocus(Qt::PopupFocusReason);
  }
  // Hides and gives the children back to the panel.
  void GiveBack() {
    hide();
    for (const QPointer<QWidget>& child : FChildren)
      if (child) {
        const QRect at = child->geometry();
        child->setParent(&FPanel);
        child->setGeometry(at);
      }
  }
  bool Accepted() const { return FAccepted; }
  void Accept() {
    FAccepted = true;
    close();
  }

 protected:
  void keyPressEvent(QKeyEvent* Event) override {
    if (Event->key() == Qt::Key_Escape) return (void)close();
    TSkCustomPopup::keyPressEvent(Event);
  }
  void hideEvent(QHideEvent* Event) override {
    TSkCustomPopup::hideEvent(Event);
    FLoop.quit();
  }
  bool event(QEvent* Event) override {
    if (Event->type() == QEvent::WindowDeactivate && isVisible()) close();
    return TSkCustomPopup::event(Event);
  }

 private:
  TSkPopupPanel& FPanel;
  QEventLoop& FLoop;
  QList<QPointer<QWidget>> FChildren;
  QWidget* FFirst = nullptr;
  bool FAccepted = false;
};

// ---- TSkPopupPanel ------------------------------------------------------------------------------

TSkPopupPanel::TSkPopupPanel(QWidget* Parent) : TSkCustomPopup(Parent) {
  resize(100, 100);
  hide();
}

TSkPopupPanel::~TSkPopupPanel() { Close(); }

QWidget* TSkPopupPanel::PopupWindow() const { return FPopup; }

bool TSkPopupPanel::Popup(QWidget* Control, int X, int Y) {
  if (FPopup || !Control) return false;
  const QPointer<QWidget> focused = QApplication::focusWidget();
  if (OnPopup) OnPopup();
  const QRect controlRect(Control->mapToGlobal(QPoint(0, 0)), Control->size());
  QScreen* screen = QGuiApplication::screenAt(controlRect.center());
  if (!screen) screen = QGuiApplication::primaryScreen();
  const QRect work = screen ? screen->availableGeometry() : QRect(0, 0, 1 << 20, 1 << 20);
  // The window, and with it the panel and the pop-up, may be closed while the pop-up shows.
  const QPointer<TSkPopupPanel> self(this);
  QEventLoop loop;
  const QPointer<TSkPopup> popup = new TSkPopup(*this, loop);
  FPopup = popup;
  popup->Show(PopupPlacement(controlRect, size(), Alignment, X, Y, work));
  if (popup->isVisible()) loop.exec();
  if (!self) {
    delete popup.data();
    return false;
  }
  const bool accepted = popup && popup->Accepted();
  if (popup) popup->GiveBack();
  delete popup.data();
  if (OnClose) OnClose();
  if (focused && QApplication::activeWindow()) focused->setFocus(Qt::PopupFocusReason);
  return accepted;
}

void TSkPopupPanel::Close() {
  if (FPopup) FPopup->Accept();
}
