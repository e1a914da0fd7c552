// The small buttons of the tab band: the scroller, the close buttons and the tab menu button.
#include "SkTabs.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

void PaintTabButtonFace(QPainter& Canvas, const TRect& Rect, const TSkCustomTabControl& Tabs,
                        bool Enabled, TColor FrameColor, bool Hot, bool Pressed) {
  const auto shade = [&](TColor C) {
    return Pressed ? DarkerColor(C, 30) : Hot ? LighterColor(C, 30) : C;
  };
  if (!Enabled) {
    FillRect(Canvas, Rect, LighterColor(clBtnShadow, 30));
  } else if (Tabs.UseGradients()) {
    PaintGradient(Canvas, Rect.Inflated(-1, -1), gdHorizontalEnd,
                  shade(DarkerColor(Tabs.ButtonColor(), 20)),
                  shade(LighterColor(Tabs.ButtonColor(), 20)));
  } else {
    FillRect(Canvas, Rect, shade(Tabs.ButtonColor()));
  }
  DrawBox(Canvas, Rect, FrameColor);
}

// ---- Placing ------------------------------------------------------------------------------------

void TSkCustomTabControl::MakeButtons() {
  const auto wire = [this](auto* Button) {
    Button->FrameColor = LineColor();
    return Button;
  };
  if (!FScroller) {
    FScroller = wire(new TSkTabScroller(this, this));
    FScroller->OnDownLeftClick = [this] { ScrollTabs(FirstArrowScrollsToEnd()); };
    FScroller->OnUpRightClick = [this] { ScrollTabs(!FirstArrowScrollsToEnd()); };
  }
  if (FShowCloseButton && !FCloseButton) {
    FCloseButton = wire(new TSkTabControlCloseButton(this, this));
    FCloseButton->OnClose = [this] { CloseClicked(); };
  }
  if (FShowMenuButton && !FMenuButton) FMenuButton = wire(new TSkTabMenuButton(this, this));
  if (FShowCloseButtonOnActiveTab && !FActiveCloseButton)
    FActiveCloseButton = wire(new TSkActiveTabCloseButton(this, this));
}

void TSkCustomTabControl::PlaceButtons() {
  MakeButtons();
  const QSize extent = ButtonExtent();
  const int w = extent.width(), h = extent.height();
  const bool reverse = FTabSequence == tsReverse, any = FTabs.Count() > 0;
  const int band = AlongLength(), depth = BandDepth();
  // From the far end inwards (the near end with the reverse sequence).
  int pos = FMargin + (ShadowOn() ? 1 : -1);
  const auto place = [&](QWidget* Button, int Length) {
    const TRect r = reverse ? TRect{pos, depth - 2 - h, pos + Length, depth - 2}
                            : TRect{band - pos - Length, depth - 2 - h, band - pos, depth - 2};
    Button->setGeometry(MapRect(r, false).ToQRect());
    pos += Length + 2;
  };
  // Moving or showing a button repaints it; repainting it here as well, from the control's own
  // painting, would ask for the control's painting again without end.
  const auto show = [&](QWidget* Button, bool Shown, int Length) {
    if (!Button) return;
    Button->setVisible(Shown);
    if (Shown) place(Button, Length);
  };
  show(FCloseButton, FShowCloseButton && any, w);
  show(FMenuButton, FShowMenuButton && any, w);
  FScroller->Orientation = Vertical() ? orVertical : orHorizontal;
  if (FOverflow) {
    place(FScroller, 2 * w - 1);
  } else {
    FScroller->setGeometry(-2 * w - 10, -h - 10, 2 * w - 1, h);
  }
  FScroller->setVisible(FOverflow);
  if (FActiveCloseButton)
    FActiveCloseButton->setVisible(FShowCloseButtonOnActiveTab && TabShown(FTabIndex));
}

// ---- The shared press, track and release ----------------------------------------------------

TSkTabBandButton::TSkTabBandButton(TSkCustomTabControl* Tabs, QWidget* Parent)
    : QWidget(Parent), FTabs(Tabs) {
  setAttribute(Qt::WA_Hover);
  setMouseTracking(true);
  hide();
}

void TSkTabBandButton::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton) return;
  const int part = PartAt(Event->position().toPoint());
  if (!PartEnabled(part)) return;
  FPart = part;
  FPressed = FDown = true;
  update();
  PressStarted(part);
}

void TSkTabBandButton::mouseMoveEvent(QMouseEvent* Event) {
  if (!FPressed) return;
  const bool down = InPart(Event->position().toPoint());
  if (down == FDown) return;
  FDown = down;
  update();
}

void TSkTabBandButton::mouseReleaseEvent(QMouseEvent* Event) {
  if (!FPressed) return;
  PressEnded();
  const bool down = FDown && InPart(Event->position().toPoint());
  FPressed = FDown = false;
  update();
  if (down) Released(FPart);
}

void TSkTabBandButton::enterEvent(QEnterEvent* Event) {
  FHot = true;
  update();
  QWidget::enterEvent(Event);
}

void TSkTabBandButton::leaveEvent(QEvent* Event) {
  FHot = false;
  update();
  QWidget::leaveEvent(Event);
}

// ---- Scroller -----------------------------------------------------------------------------------

TSkTabScroller::TSkTabScroller(TSkCustomTabControl* Tabs, QWidget* Parent)
    : TSkTabBandButton(Tabs, Parent) {}

TSkTabScroller::~TSkTabScroller() = default;

TRect TSkTabScroller::HalfRect(int Half) const {
  const int w = width(), h = height();
  if (Orientation == orHorizontal) {
    const int split = (w + 1) / 2;
    return Half == 0 ? TRect{0, 0, split, h} : TRect{split - 1, 0, w, h};
  }
  const int split = (h + 1) / 2;
  return Half == 0 ? TRect{0, 0, w, split} : TRect{0, split - 1, w, h};
}

int TSkTabScroller::PartAt(QPoint Point) const {
  return HalfRect(0).Contains(Point.x(), Point.y()) ? 0 : 1;
}

bool TSkTabScroller::InPart(QPoint Point) const {
  return HalfRect(PressedPart()).Contains(Point.x(), Point.y());
}

bool TSkTabScroller::PartEnabled(int Part) const {
  const bool firstToEnd = TabControl()->FirstArrowScrollsToEnd();
  return TabControl()->CanScroll(Part == 0 ? firstToEnd : !firstToEnd);
}

void TSkTabScroller::Fire(int Part) {
  const auto& event = Part == 0 ? OnDownLeftClick : OnUpRightClick;
  if (event) event();
}

void TSkTabScroller::PressStarted(int) {
  if (!FRepeat) {
    FRepeat = CreateSkTimer();
    FRepeat->OnTimer = [this] {
      FRepeat->SetInterval(100);
      if (Down() && Pressed()) Fire(PressedPart());
    };
  }
  FRepeat->Start(400);
}

void TSkTabScroller::PressEnded() {
  if (FRepeat) FRepeat->Stop();
}

void TSkTabScroller::Released(int Part) { Fire(Part); }

void TSkTabScroller::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  const bool horizontal = Orientation == orHorizontal;
  for (int half = 0; half < 2; ++half) {
    const TRect r = HalfRect(half);
    const bool enabled = PartEnabled(half);
    const bool down = Down() && PressedPart() == half;
    PaintTabButtonFace(canvas, r, *TabControl(), enabled, FrameColor, Hot() && enabled, down);
    const TSkArrowDirection direction =
        horizontal ? (half == 0 ? adLeft : adRight) : (half == 0 ? adUp : adDown);
    DrawArrow(canvas, down ? r.Offset(1, 1) : r, vsClassic, enabled, direction,
              TabControl()->ButtonColor());
  }
}

// ---- Close buttons ------------------------------------------------------------------------------

void TSkTabControlCloseButton::Released(int) {
  if (OnClose) OnClose();
}

void TSkTabControlCloseButton::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  const TRect r = TRect::FromQRect(rect());
  PaintTabButtonFace(canvas, r, *TabControl(), true, FrameColor, Hot(), Down());
  DrawCloseButtonGlyph(canvas, Down() ? r.Offset(1, 1) : r, vsClassic, true);
}

void TSkActiveTabCloseButton::Released(int) { TabControl()->CloseClicked(); }

void TSkActiveTabCloseButton::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  const TRect r = TRect::FromQRect(rect());
  if (Hot()) {
    PaintTabButtonFace(canvas, r, *TabControl(), true, FrameColor, true, Down());
    DrawCloseCross(canvas, r, TabControl()->TabColors().HighlightBar);
  } else {
    DrawCloseCross(canvas, r, FrameColor);
  }
}

// ---- Menu button --------------------------------------------------------------------------------

TSkTabMenuButton::TSkTabMenuButton(TSkCustomTabControl* Tabs, QWidget* Parent)
    : TSkTabBandButton(Tabs, Parent) {}

void TSkTabMenuButton::BuildMenu() {
  FMenu.clear();
  TSkCustomTabControl& tabs = *TabControl();
  std::vector<int> order;
  for (int i = 0; i < tabs.Tabs().Count(); ++i)
    if (tabs.Tabs().Items(i).Visible) order.push_back(i);
  if (tabs.SortTabMenu())
    std::stable_sort(order.begin(), order.end(), [&tabs](int A, int B) {
      return tabs.Tabs().Items(A).Caption.compare(tabs.Tabs().Items(B).Caption,
                                                  Qt::CaseInsensitive) < 0;
    });
  for (const int i : order) {
    const TSkTabData& tab = tabs.Tabs().Items(i);
    QAction* item = FMenu.addAction(tab.Caption);
    item->setEnabled(tab.Enabled);
    item->setCheckable(true);
    item->setChecked(i == tabs.TabIndex());
    item->setData(i);
    QObject::connect(item, &QAction::triggered, TabControl(), [&tabs, i] { tabs.SetTabIndex(i); });
  }
}

QPoint TSkTabMenuButton::MenuPoint() const {
  const bool reverse = TabControl()->TabSequence() == tsReverse;
  const int menuWidth = FMenu.sizeHint().width();
  const QRect r = rect();
  switch (TabControl()->TabOrientation()) {
    case toTop:
      return mapToGlobal(reverse ? r.bottomLeft() + QPoint(0, 1)
                                 : r.bottomRight() + QPoint(1 - menuWidth, 1));
    case toLeft:
      return mapToGlobal(r.topRight() + QPoint(1, 0));
    case toBottom:
      return mapToGlobal(reverse ? r.topLeft() : r.topRight() + QPoint(1 - menuWidth, 0));
    case toRight:
      return mapToGlobal(r.topLeft() - QPoint(menuWidth, 0));
  }
  return mapToGlobal(r.bottomLeft());
}

void TSkTabMenuButton::Released(int) {
  BuildMenu();
  FMenu.popup(MenuPoint());
}

void TSkTabMenuButton::paintEvent(QPaintEvent*) {
  QPainter canvas(this);
  const TRect r = TRect::FromQRect(rect());
  PaintTabButtonFace(canvas, r, *TabControl(), true, FrameColor, Hot(), Down());
  static const TSkArrowDirection directions[] = {adDown, adLeft, adUp, adRight};
  DrawArrow(canvas, Down() ? r.Offset(1, 1) : r, vsClassic, true,
            directions[TabControl()->TabOrientation()], TabControl()->ButtonColor());
}
