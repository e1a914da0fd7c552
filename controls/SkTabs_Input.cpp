// What the tab control does with the mouse, the keyboard, focus and size changes.
#include "SkTabs.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

void TSkCustomTabControl::mousePressEvent(QMouseEvent* Event) {
  if (!isEnabled()) return;
  const int hit = TabAt(Event->position().toPoint());
  FDragSource = hit;
  FPressPos = Event->position().toPoint();
  if (hit < 0 || !FTabs.Items(hit).Enabled) return;
  if (focusPolicy() & Qt::TabFocus && hit == FTabIndex) {
    setFocus(Qt::MouseFocusReason);
    if (!hasFocus()) return;
  }
  SetTabIndex(hit);
  if (FTabIndex == hit && OnTabClick) OnTabClick(this);
}

void TSkCustomTabControl::SetTabHints(bool V) {
  if (V == FTabHints) return;
  if (V)
    FOwnHint = toolTip();
  else
    setToolTip(FOwnHint);
  FTabHints = V;
}

void TSkCustomTabControl::SetHot(int Index) {
  if (Index == FHotTab) return;
  FHotTab = Index;
  if (FTabHints) setToolTip(Index >= 0 ? FTabs.Items(Index).Hint : FOwnHint);
  // Hot tracking changes only the tabs; the card and its shadow stay as painted.
  update(BandRect().ToQRect());
}

void TSkCustomTabControl::EndHotTracking() { SetHot(-1); }

void TSkCustomTabControl::mouseMoveEvent(QMouseEvent* Event) {
  const QPoint at = Event->position().toPoint();
  if (FHotTrack || FTabHints) SetHot(TabAt(at));
  const bool canDrag = FAllowTabDragging && Event->buttons() & Qt::LeftButton && FDragSource >= 0 &&
                       FDragSource < FTabs.Count() && FTabs.Items(FDragSource).Enabled;
  if (canDrag && !FDragging &&
      (at - FPressPos).manhattanLength() >= QApplication::startDragDistance())
    FDragging = true;
  if (FDragging) DragMoved(at);
  QWidget::mouseMoveEvent(Event);
}

void TSkCustomTabControl::DragMoved(QPoint Position) {
  FDragPos = Position;
  const int target = TabAt(Position);
  if (target != FDropTarget) {
    FDropTarget = target;
    update();
  }
  if (target >= 0) {
    if (FDragScrollTimer) FDragScrollTimer->Stop();
    return;
  }
  if (!FDragScrollTimer) {
    FDragScrollTimer = CreateSkTimer();
    FDragScrollTimer->OnTimer = [this] { DragScrollTick(); };
  }
  if (!FDragScrollTimer->Active()) FDragScrollTimer->Start(FDragScrollDelay);
}

void TSkCustomTabControl::DragScrollTick() {
  FDragScrollTimer->SetInterval(FDragScrollInterval);
  if (!FDragging) return;
  // Beyond either end of the band the row scrolls towards that end.
  const int along = ScrolledAlong(ToRowSpace(FDragPos).x());
  const bool towardsFar = along >= AlongLength(), towardsNear = along < 0;
  if (towardsFar || towardsNear) ScrollTabs(towardsFar != (FTabSequence == tsReverse));
}

void TSkCustomTabControl::mouseReleaseEvent(QMouseEvent* Event) {
  if (FDragging) {
    FDragging = false;
    if (FDragScrollTimer) FDragScrollTimer->Stop();
    const int target = FDropTarget;
    FDropTarget = -1;
    update();
    if (target >= 0 && target != FTabIndex) MoveSelectedTab(target);
  }
  FDragSource = -1;
  QWidget::mouseReleaseEvent(Event);
}

void TSkCustomTabControl::leaveEvent(QEvent* Event) {
  EndHotTracking();
  QWidget::leaveEvent(Event);
}

bool TSkCustomTabControl::SelectAccelerator(QChar Key) {
  const QChar key = Key.toUpper();
  for (int i = 0; i < FTabs.Count(); ++i) {
    const TSkTabData& tab = FTabs.Items(i);
    if (!tab.Visible || !tab.Enabled) continue;
    const QString& c = tab.Caption;
    for (qsizetype k = 0; k + 1 < c.size(); ++k) {
      if (c[k] != QLatin1Char('&')) continue;
      if (c[k + 1] == QLatin1Char('&')) {
        ++k;
        continue;
      }
      if (c[k + 1].toUpper() != key) break;
      setFocus(Qt::ShortcutFocusReason);
      SetTabIndex(i);
      if (FTabIndex == i && OnTabClick) OnTabClick(this);
      return true;
    }
  }
  return false;
}

void TSkCustomTabControl::keyPressEvent(QKeyEvent* Event) {
  const int n = FTabs.Count();
  // A key that a control on a page left unused reaches here too: the tabs answer only keys
  // pressed on the tab row itself.
  const QWidget* focused = QApplication::focusWidget();
  const bool fromAPage = focused && focused != this && isAncestorOf(focused);
  if (n == 0 || fromAPage) return QWidget::keyPressEvent(Event);
  const bool reverse = FTabSequence == tsReverse;
  int step = 0;
  switch (Event->key()) {
    case Qt::Key_Home:
    case Qt::Key_End: {
      bool fromStart = Event->key() == Qt::Key_Home;
      if ((FTabOrientation == toLeft) != reverse) fromStart = !fromStart;
      // Search inward from that end, stopping at the current tab.
      const int from = fromStart ? -1 : n, dir = fromStart ? 1 : -1;
      for (int i = from + dir; i >= 0 && i < n && i != FTabIndex; i += dir)
        if (CanChangeTo(i)) return SelectFromKeyboard(i);
      return;
    }
    case Qt::Key_Left:
    case Qt::Key_Up:
      step = FTabOrientation == toLeft ? 1 : -1;
      break;
    case Qt::Key_Right:
    case Qt::Key_Down:
      step = FTabOrientation == toLeft ? -1 : 1;
      break;
    default: {
      const QString text = Event->text();
      if (text.size() == 1 && text[0].isLetterOrNumber() && SelectAccelerator(text[0])) return;
      return QWidget::keyPressEvent(Event);
    }
  }
  if (reverse) step = -step;
  const int from = FTabIndex >= 0 ? FTabIndex : (step > 0 ? -1 : n);
  SelectFromKeyboard(NextChoosable(from, step));
}

bool TSkCustomTabControl::event(QEvent* Event) {
  // Arrow keys move between tabs rather than the focus.
  if (Event->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(Event);
    if (key->modifiers() == Qt::AltModifier && key->text().size() == 1 &&
        SelectAccelerator(key->text()[0])) {
      Event->accept();
      return true;
    }
  }
  return QWidget::event(Event);
}

void TSkCustomTabControl::changeEvent(QEvent* Event) {
  QWidget::changeEvent(Event);
  if (Event->type() == QEvent::FontChange) SetLayoutNeeded(true);
  if (Event->type() == QEvent::EnabledChange || Event->type() == QEvent::PaletteChange) update();
}

void TSkCustomTabControl::focusInEvent(QFocusEvent* Event) {
  QWidget::focusInEvent(Event);
  update();
}

void TSkCustomTabControl::focusOutEvent(QFocusEvent* Event) {
  QWidget::focusOutEvent(Event);
  update();
}

void TSkCustomTabControl::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  Relayout();
  update();
}
