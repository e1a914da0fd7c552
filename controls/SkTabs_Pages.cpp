// The page control and its tab sheets.
#include "SkTabs.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>

#include <algorithm>

// ---- Tab sheet ----------------------------------------------------------------------------------

namespace {

// Gives the focus to the first control inside Page that takes it.
bool FocusFirstChild(QWidget* Page) {
  for (QWidget* w = Page->nextInFocusChain(); w && Page->isAncestorOf(w); w = w->nextInFocusChain())
    if (w->focusPolicy() & Qt::TabFocus && w->isEnabled() && w->isVisibleTo(Page)) {
      w->setFocus();
      return true;
    }
  return false;
}

}  // namespace

TSkTabSheet::TSkTabSheet(QWidget* Parent) : QWidget(Parent) {
  QWidget::setVisible(false);
  setAttribute(Qt::WA_OpaquePaintEvent);
  if (auto* pages = qobject_cast<TSkPageControl*>(Parent)) pages->InsertPage(this);
}

TSkTabSheet::~TSkTabSheet() {
  if (FPageControl) FPageControl->RemovePage(this);
}

// Qt itself hides a page it moves to another parent, so hiding always passes; showing is the
// page control's choice of the active page.
void TSkTabSheet::setVisible(bool Visible) {
  if (Visible && FPageControl && FPageControl->ActivePage() != this) return;
  QWidget::setVisible(Visible);
}

void TSkTabSheet::Changed() {
  if (FPageControl) FPageControl->TabsChanged();
}

void TSkTabSheet::SetColor(TColor V) {
  if (FPageControl && !FPageControl->UseColoredTabs() && V != FPageControl->Color())
    FPageControl->SetUseColoredTabs(true);
  FColor = V;
  update();
  Changed();
}

void TSkTabSheet::SetPageControl(TSkPageControl* V) {
  if (V == FPageControl) return;
  if (FPageControl) FPageControl->RemovePage(this);
  ShowPage(false);
  setParent(V);
  if (V) V->InsertPage(this);
}

int TSkTabSheet::PageIndex() const {
  if (!FPageControl) return -1;
  const auto& pages = FPageControl->FPages;
  return int(std::find(pages.begin(), pages.end(), this) - pages.begin());
}

void TSkTabSheet::SetPageIndex(int V) {
  if (!FPageControl) return;
  const int last = FPageControl->PageCount() - 1;
  if (V < 0 || V > last)
    throw ESkTabControlError(
        QStringLiteral("%1 is an invalid PageIndex value. PageIndex must be between 0 and %2")
            .arg(V)
            .arg(last)
            .toStdString());
  const int old = PageIndex();
  if (old == V) return;
  FPageControl->MovePage(this, V);
  if (FPageControl->OnTabOrderChange) FPageControl->OnTabOrderChange(FPageControl, old, V);
}

int TSkTabSheet::TabIndex() const {
  if (!FTabVisible || !FPageControl) return -1;
  int index = 0;
  for (TSkTabSheet* page : FPageControl->FPages) {
    if (page == this) return index;
    if (page->FTabVisible) ++index;
  }
  return -1;
}

void TSkTabSheet::AssignTo(TSkTabData& Tab) const {
  Tab.Caption = FCaption;
  Tab.Color = FColor;
  Tab.Enabled = FTabEnabled;
  Tab.Visible = FTabVisible;
  Tab.Hint = Hint;
  Tab.ImageIndex = FImageIndex;
  Tab.DisabledIndex = FDisabledIndex;
}

void TSkTabSheet::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  const TRect r = TRect::FromQRect(rect());
  bool handled = false;
  if (OnPaintBackground) OnPaintBackground(this, canvas, r, handled);
  if (!handled) FillRect(canvas, r, FColor);
}

void TSkTabSheet::showEvent(QShowEvent* Event) {
  QWidget::showEvent(Event);
  if (OnShow) OnShow(this);
}

void TSkTabSheet::hideEvent(QHideEvent* Event) {
  QWidget::hideEvent(Event);
  if (OnHide) OnHide(this);
}

// ---- Page control -------------------------------------------------------------------------------

TSkPageControl::TSkPageControl(QWidget* Parent) : TSkCustomTabControl(Parent) {
  resize(width(), 150);
}

TSkPageControl::~TSkPageControl() {
  // The pages go first, while this is still a page control they can leave.
  while (!FPages.empty()) delete FPages.back();
}

void TSkPageControl::InsertPage(TSkTabSheet* Page) {
  FPages.push_back(Page);
  Page->FPageControl = this;
  TabsChanged();
}

void TSkPageControl::RemovePage(TSkTabSheet* Page) {
  const auto at = std::find(FPages.begin(), FPages.end(), Page);
  if (at == FPages.end()) return;
  FPages.erase(at);
  Page->FPageControl = nullptr;
  if (Page == FActivePage) {
    FActivePage = nullptr;
    StoreTabIndex(-1);
  }
  TabsChanged();
}

void TSkPageControl::MovePage(TSkTabSheet* Page, int Index) {
  FPages.erase(std::find(FPages.begin(), FPages.end(), Page));
  FPages.insert(FPages.begin() + Index, Page);
  TabsChanged();
}

void TSkPageControl::TabsChanged() {
  Tabs().Clear();
  for (TSkTabSheet* page : FPages)
    if (page->TabVisible()) page->AssignTo(Tabs().Add());
  if (FActivePage) {
    const int tab = FActivePage->TabIndex();
    if (tab != TabIndex()) StoreTabIndex(tab);
  }
  TSkCustomTabControl::TabsChanged();
  Relayout();
}

TSkTabSheet* TSkPageControl::PageOfTab(int Tab) const {
  for (TSkTabSheet* page : FPages)
    if (page->TabIndex() == Tab && Tab >= 0) return page;
  return nullptr;
}

bool TSkPageControl::CanChange(int NewIndex) {
  if (!TSkCustomTabControl::CanChange(NewIndex)) return false;
  ChangeActivePage(PageOfTab(NewIndex));
  return true;
}

void TSkPageControl::ChangeActivePage(TSkTabSheet* Page) {
  TSkTabSheet* old = FActivePage;
  if (Page == old) return;
  QWidget* focus = QApplication::focusWidget();
  const bool focusInOld = old && focus && old->isAncestorOf(focus);
  if (Page) {
    Page->setGeometry(DisplayRect().ToQRect());
    Page->raise();
    Page->ShowPage(true);
  }
  if (focusInOld && !(Page && FocusFirstChild(Page))) setFocus();
  if (old) old->ShowPage(false);
  FActivePage = Page;
}

void TSkPageControl::SetActivePage(TSkTabSheet* Page) {
  if (Page && Page->PageControl() != this) return;
  const int tab = Page ? Page->TabIndex() : -1;
  if (tab < 0) {
    ChangeActivePage(Page);
    if (OnPageChange) OnPageChange(this);
  }
  SetTabIndex(tab);
}

int TSkPageControl::ActivePageIndex() const { return FActivePage ? FActivePage->PageIndex() : -1; }

void TSkPageControl::SetActivePageIndex(int Index) {
  if (Index >= 0 && Index < PageCount()) return SetActivePage(FPages[size_t(Index)]);
  SetTabIndex(-1);
}

TSkTabSheet* TSkPageControl::FindNextPage(TSkTabSheet* CurPage, bool GoForward,
                                          bool CheckTabVisible) const {
  const int n = PageCount();
  if (n == 0) return nullptr;
  const auto at = std::find(FPages.begin(), FPages.end(), CurPage);
  int i = at != FPages.end() ? int(at - FPages.begin()) : (GoForward ? n - 1 : 0);
  for (int k = 0; k < n; ++k) {
    i = (i + (GoForward ? 1 : n - 1)) % n;
    if (!CheckTabVisible || FPages[size_t(i)]->TabVisible()) return FPages[size_t(i)];
  }
  return nullptr;
}

void TSkPageControl::SelectNextPage(bool GoForward) {
  TSkTabSheet* page = FindNextPage(FActivePage, GoForward, true);
  if (page && page != FActivePage) SetActivePage(page);
}

void TSkPageControl::SetAllTabsVisible(bool Visible) {
  for (TSkTabSheet* page : FPages) page->FTabVisible = Visible;
  TabsChanged();
}

void TSkPageControl::HideAllTabs() { SetAllTabsVisible(false); }

void TSkPageControl::ShowAllTabs() { SetAllTabsVisible(true); }

void TSkPageControl::ShowControl(QWidget* Page) {
  if (auto* sheet = qobject_cast<TSkTabSheet*>(Page); sheet && sheet->PageControl() == this)
    SetActivePage(sheet);
}

void TSkPageControl::CloseSelectedTab() {
  const int index = TabIndex();
  delete FActivePage;
  SetTabIndex(std::max(index - 1, 0));
}

void TSkPageControl::MoveSelectedTab(int Index) {
  // The target is a tab; with hidden tabs its page lies elsewhere in the page list.
  if (TSkTabSheet* target = PageOfTab(Index); target && FActivePage)
    FActivePage->SetPageIndex(target->PageIndex());
}

void TSkPageControl::SetColor(TColor V) {
  if (!UseColoredTabs())
    for (TSkTabSheet* page : FPages) page->FColor = V, page->update();
  TSkCustomTabControl::SetColor(V);
  TabsChanged();
}

void TSkPageControl::SetUseColoredTabs(bool V) {
  TSkCustomTabControl::SetUseColoredTabs(V);
  if (!V) SetColor(Color());
}

TColor TSkPageControl::CardColor(int Row) const {
  if (Row == 0 && TabIndex() >= 0 && FActivePage) return FActivePage->Color();
  return TSkCustomTabControl::CardColor(Row);
}

void TSkPageControl::AlignControls() {
  const QRect display = DisplayRect().ToQRect();
  for (TSkTabSheet* page : FPages) page->setGeometry(display);
}

bool TSkPageControl::event(QEvent* Event) {
  // A page that Qt moved to another parent is no longer one of these pages.
  if (Event->type() == QEvent::ChildRemoved) {
    QObject* child = static_cast<QChildEvent*>(Event)->child();
    const auto page = std::find(FPages.begin(), FPages.end(), child);
    if (page != FPages.end()) RemovePage(*page);
  }
  if (Event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(Event);
    const bool ctrl = key->modifiers() & Qt::ControlModifier;
    if (ctrl && (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)) {
      SelectNextPage(key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier));
      return true;
    }
  }
  // With the tab hidden, the focus belongs to the page's first control.
  if (Event->type() == QEvent::FocusIn && FActivePage && FActivePage->TabIndex() < 0 &&
      FocusFirstChild(FActivePage))
    return true;
  return TSkCustomTabControl::event(Event);
}
