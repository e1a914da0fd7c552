// The tab data, the region cache, and the tab control's measuring, placing, mapping, hit
// testing and selection.
#include "SkTabs.h"

#include <QFontMetrics>

#include <algorithm>

// ---- Tab data ---------------------------------------------------------------------------------

void TSkTabData::Assign(const TSkTabData& Source) {
  Caption = Source.Caption;
  DisabledIndex = Source.DisabledIndex;
  ImageIndex = Source.ImageIndex;
  Color = Source.Color;
  Enabled = Source.Enabled;
  Visible = Source.Visible;
  Hint = Source.Hint;
}

void TSkTabDataList::Put(int Index, std::unique_ptr<TSkTabData> Item) {
  FItems.at(size_t(Index)) = std::move(Item);
}

TSkTabData& TSkTabDataList::Add() { return *FItems.emplace_back(std::make_unique<TSkTabData>()); }

void TSkTabDataList::Assign(const TSkTabDataList& Source) {
  if (&Source == this) return;
  Clear();
  for (const auto& item : Source.FItems) Add().Assign(*item);
}

// ---- Region cache -----------------------------------------------------------------------------

void TSkTabRegionCache::SetCapacity(int Value) {
  if (Value != -1 && Value <= 0)
    throw ESkTabControlError("Capacity must be -1 (to cache all regions) or > 0");
  FCapacity = Value;
  Trim();
}

void TSkTabRegionCache::Trim() {
  while (FCapacity != -1 && Count() > FCapacity) FItems.pop_back();
}

const QRegion* TSkTabRegionCache::Find(const TRect& Key) {
  const auto at = std::find_if(FItems.begin(), FItems.end(),
                               [&Key](const auto& Item) { return Item.first == Key; });
  if (at == FItems.end()) return nullptr;
  FItems.splice(FItems.begin(), FItems, at);
  return &FItems.front().second;
}

const QRegion& TSkTabRegionCache::Add(const TRect& Key, const QRegion& Region) {
  if (Find(Key)) {
    FItems.front().second = Region;
    return FItems.front().second;
  }
  FItems.emplace_front(Key, Region);
  Trim();
  return FItems.front().second;
}

// ---- Shapes -----------------------------------------------------------------------------------

int TabStyleOverlap(TSkTabStyle Style, int N, int TabOverlap) {
  switch (Style) {
    case tsSingleSlant:
    case tsBackSlant:
      return N / 2;
    case tsDoubleSlant:
      return N;
    case tsCutCorner:
    case tsRoundCorners:
      return TabOverlap;
    case tsSquareCorners:
      return TabOverlap + 1;
  }
  return 0;
}

std::vector<QPoint> TabShape(TSkTabStyle Style, const TRect& R, bool SoftCorners, int C) {
  const int L = R.Left, T = R.Top, Rt = R.Right, B = R.Bottom, T2 = T + 2, H = B - T;
  switch (Style) {
    case tsSingleSlant:
      if (SoftCorners)
        return {{L, B}, {L, T2}, {L + 2, T}, {Rt - H - 4, T}, {Rt - H + 2, T2}, {Rt, B}};
      return {{L, B}, {L, T2}, {L + 2, T}, {Rt - H, T}, {Rt, B}};
    case tsDoubleSlant:
      if (SoftCorners)
        return {{L, B},          {L + H - 2, T2},  {L + H + 4, T},
                {Rt - H - 4, T}, {Rt - H + 2, T2}, {Rt, B}};
      return {{L, B}, {L + H, T}, {Rt - H, T}, {Rt, B}};
    case tsCutCorner:
      return {{L, B}, {L, T}, {Rt - C, T}, {Rt, T + C}, {Rt, B}};
    case tsRoundCorners:
      return {{L, B}, {L, T2}, {L + 2, T}, {Rt - 2, T}, {Rt, T2}, {Rt, B}};
    case tsBackSlant:
      if (SoftCorners)
        return {{L, B}, {L + H - 2, T2}, {L + H + 4, T}, {Rt - 2, T}, {Rt, T2}, {Rt, B}};
      return {{L, B}, {L + H, T}, {Rt - 2, T}, {Rt, T2}, {Rt, B}};
    case tsSquareCorners:
      return {{L, B}, {L, T}, {Rt, T}, {Rt, B}};
  }
  return {};
}

// ---- Construction and settings ------------------------------------------------------------------

TSkCustomTabControl::TSkCustomTabControl(QWidget* Parent) : QWidget(Parent) {
  resize(300, 100);
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

TSkCustomTabControl::~TSkCustomTabControl() = default;

void TSkCustomTabControl::TabsChanged() {
  SetLayoutNeeded(true);
  bool anyVisible = false;
  for (int i = 0; i < FTabs.Count() && !anyVisible; ++i) anyVisible = FTabs.Items(i).Visible;
  setFocusPolicy(anyVisible ? Qt::StrongFocus : Qt::NoFocus);
  if (!anyVisible && hasFocus()) focusNextChild();
}

void TSkCustomTabControl::SetLayoutNeeded(bool V) {
  FLayoutNeeded = V;
  if (V) update();
}

void TSkCustomTabControl::SetBackgroundColor(TColor V) {
  FParentBackgroundColor = false;
  StoreRepaint(FBackgroundColor, V);
}

void TSkCustomTabControl::SetParentBackgroundColor(bool V) {
  FParentBackgroundColor = V;
  if (V && parentWidget())
    FBackgroundColor = FromQColor(parentWidget()->palette().color(QPalette::Window));
  update();
}

void TSkCustomTabControl::SetButtonColor(TColor V) {
  StoreRepaint(FButtonColor, V);
  for (QWidget* button : findChildren<TSkTabBandButton*>()) button->update();
}

void TSkCustomTabControl::SetColor(TColor V) { StoreRepaint(FColor, V); }

void TSkCustomTabControl::SetFlatColor(TColor V) {
  StoreRepaint(FFlatColor, V);
  for (TSkTabBandButton* button : findChildren<TSkTabBandButton*>()) {
    button->FrameColor = LineColor();
    button->update();
  }
}

void TSkCustomTabControl::SetFlatColorAdjustment(int V) {
  FFlatColorAdjustment = V;
  SetFlatColor(FFlatColor);
  update();
}

void TSkCustomTabControl::SetHotTrack(bool V) {
  if (!V) EndHotTracking();
  StoreRepaint(FHotTrack, V);
}

void TSkCustomTabControl::SetShowFullFrame(bool V) {
  if (!V) FShowShadow = false;
  StoreRepaint(FShowFullFrame, V);
}

void TSkCustomTabControl::SetShowShadow(bool V) {
  if (V) FShowFullFrame = true;
  // The shadow takes two pixels from the band, so the tabs move.
  StoreLayout(FShowShadow, V);
}

void TSkCustomTabControl::SetTextOrientation(TOrientation V) {
  if (V == orVertical && !IsTrueTypeFont(font())) setFont(QFont(QStringLiteral("Verdana")));
  StoreLayout(FTextOrientation, V);
}

void TSkCustomTabControl::SetTransparent(bool V) {
  // A transparent control leaves its background to the parent's painting.
  setAttribute(Qt::WA_OpaquePaintEvent, !V);
  StoreRepaint(FTransparent, V);
}

void TSkCustomTabControl::SetRegionCacheCapacity(int V) {
  if (V == -1 || V > 0) FRegions.SetCapacity(V);
}

// ---- Measuring ----------------------------------------------------------------------------------

QFont TSkCustomTabControl::TabFont(bool Bold) const {
  QFont f = font();
  f.setBold(Bold);
  return f;
}

QSize TSkCustomTabControl::MeasureCaption(const QString& Caption) const {
  const QFontMetrics metrics(TabFont(FBoldCurrentTab));
  int along = 0, across = 0;
  for (const QString& line : Caption.split(QStringLiteral("\r\n"))) {
    along = std::max(along, metrics.horizontalAdvance(RemoveAccelChars(line)));
    across += metrics.height();
  }
  if (FTextOrientation == orVertical) return {across, along};
  return {along, across};
}

// Client-space sizes (width, height) of every visible tab; invisible tabs get 0 by 0.
void TSkCustomTabControl::MeasureTabs(std::vector<QSize>& Sizes) {
  const QFontMetrics metrics(TabFont(FBoldCurrentTab));
  const bool vertical = FTextOrientation == orVertical;
  const int minExtent =
      metrics.horizontalAdvance(RoundOrSquare() ? QStringLiteral("AAA") : QStringLiteral("A"));
  const int fontHeight = metrics.height();
  Sizes.assign(size_t(FTabs.Count()), QSize());
  int shared = 0;
  for (int i = 0; i < FTabs.Count(); ++i) {
    if (!FTabs.Items(i).Visible) continue;
    QSize s = MeasureCaption(FTabs.Items(i).Caption);
    s.rwidth() += FImageMargin;
    const int minW = vertical ? fontHeight : minExtent, minH = vertical ? minExtent : fontHeight;
    if (FTabWidth == 0) s.setWidth(std::max(s.width(), minW));
    if (FTabHeight == 0) s.setHeight(std::max(s.height(), minH));
    if (FShowCloseButtonOnActiveTab) {
      if (!vertical && !Vertical()) s.rwidth() += 20;
      if (vertical && Vertical()) s.rheight() += 20;
    }
    shared = std::max(shared, Vertical() ? s.width() : s.height());
    Sizes[size_t(i)] = s;
  }
  for (int i = 0; i < FTabs.Count(); ++i) {
    if (!FTabs.Items(i).Visible) continue;
    QSize& s = Sizes[size_t(i)];
    (Vertical() ? s.rwidth() : s.rheight()) = shared;
    const int w = s.width(), h = s.height();
    const auto d = [this](int N) { return TabStyleOverlap(FTabStyle, N, FTabOverlap); };
    switch (FTabStyle) {
      case tsSingleSlant:
      case tsBackSlant:
      case tsDoubleSlant: {
        const bool dbl = FTabStyle == tsDoubleSlant;
        const int extra = dbl ? FTabHeight : FTabHeight / 2;
        if (!Vertical())
          s = {2 * d(dbl ? h + 2 : h + 6) + (w + 2) + 4 + extra, h + 6};
        else
          s = {w + 6, 2 * d(dbl ? w + 2 : w + 6) + (h + 2) + 4 + extra};
        break;
      }
      case tsCutCorner:
        if (!Vertical())
          s = vertical ? QSize(w + 10, (h + 2) + FCutCornerSize + 5)
                       : QSize(2 * FCutCornerSize + (w + 2) + 6, h + 7);
        else
          s = vertical ? QSize(w + 7, 2 * FCutCornerSize + (h + 2) + 6)
                       : QSize((w + 2) + FCutCornerSize + 5, h + 10);
        break;
      case tsRoundCorners:
      case tsSquareCorners:
        s = {w + 6, h + 6};
        break;
    }
    if (FTabWidth > 0) s.setWidth(FTabWidth);
    if (FTabHeight > 0) s.setHeight(FTabHeight);
  }
}

// ---- Extents ------------------------------------------------------------------------------------

int TSkCustomTabControl::AlongLength() const {
  const TRect band = BandRect();
  return Vertical() ? band.Height() : band.Width();
}

int TSkCustomTabControl::AcrossLength() const { return Vertical() ? width() : height(); }

int TSkCustomTabControl::BandDepth() const {
  if (!FShowCard) return AcrossLength();
  return (FRowHeight - FRowOverlap) * (FRowCount - 1) + FRowHeight + (RoundOrSquare() ? 3 : 0);
}

TRect TSkCustomTabControl::BandRect() const {
  const int d = BandDepth(), w = width(), h = height();
  switch (FTabOrientation) {
    case toTop:
      return {0, 0, w - (ShadowOn() ? 2 : 0), d};
    case toBottom:
      return {0, h - d, w, h};
    case toLeft:
      return {0, 0, d, h};
    case toRight:
      return {w - d, 0, w, h};
  }
  return {};
}

// Along and across sizes of one button of the band.
QSize TSkCustomTabControl::ButtonExtent() const {
  const bool horizontal = FTextOrientation == orHorizontal;
  const int e = QFontMetrics(TabFont(FBoldCurrentTab)).height() + (horizontal ? 4 : 2);
  int along = e, across = std::min(e, FRowHeight - 2);
  if (horizontal && FTabHeight > 0) along = std::max(e, FRowHeight - 2);
  if (horizontal && e <= FTabHeight) across = std::max(across, FRowHeight - 2);
  return {along, std::max(across, 0)};
}

int TSkCustomTabControl::ArrowExtent() const { return ButtonExtent().width(); }

int TSkCustomTabControl::AvailableLength() const {
  int available = AlongLength() - 2 * FMargin;
  if (FMultiLine) return available - FRowIndent * (FRowCount - 1);
  const int button = ButtonExtent().width() + 2;
  if (FShowCloseButton) available -= button;
  if (FShowMenuButton) available -= button;
  return available - (2 * ArrowExtent() + 2);
}

int TSkCustomTabControl::WindowLength() const {
  const bool any = FTabs.Count() > 0;
  const int button = ButtonExtent().width() + 2;
  return AlongLength() - 2 * ArrowExtent() - 2 * FMargin - (FShowCloseButton && any ? button : 0) -
         (FShowMenuButton && any ? button : 0);
}

// ---- Placing ------------------------------------------------------------------------------------

int TSkCustomTabControl::CountRows(const std::vector<QSize>& Sizes) const {
  if (!FMultiLine) return 1;
  const int d = TabStyleOverlap(FTabStyle, FRowHeight, FTabOverlap);
  int rows = 1, x = FMargin, available = AlongLength() - 2 * FMargin;
  for (int i = 0; i < FTabs.Count(); ++i) {
    if (!FTabs.Items(i).Visible) continue;
    const int len = Vertical() ? Sizes[size_t(i)].height() : Sizes[size_t(i)].width();
    if (x + len >= available && x != FMargin) {
      ++rows;
      available -= FRowIndent;
      x = FMargin;
    }
    x += len - d + 1;
  }
  return rows;
}

void TSkCustomTabControl::PlaceTabs(const std::vector<QSize>& Sizes) {
  const int d = TabStyleOverlap(FTabStyle, FRowHeight, FTabOverlap);
  const bool reverse = FTabSequence == tsReverse;
  const int available = AvailableLength();
  const int start = reverse ? -FMargin : FMargin;
  int x = start, row = 0;
  for (int i = 0; i < FTabs.Count(); ++i) {
    TSkTabData& tab = FTabs.Items(i);
    if (!tab.Visible) continue;
    const int len = Vertical() ? Sizes[size_t(i)].height() : Sizes[size_t(i)].width();
    // A tab that does not fit goes to a new row, unless it alone is wider than the row.
    const bool fits = reverse ? x - len > -available : x + len < available;
    if (FMultiLine && !fits && x != start) {
      x = start;
      ++row;
    }
    tab.Rect = reverse ? TRect{x - len, 0, x, FRowHeight} : TRect{x, 0, x + len, FRowHeight};
    tab.Row = row;
    x = reverse ? x - len + d - 1 : x + len - d + 1;
  }
  FRowCount = row + 1;
  if (!reverse) return;
  const int shift = FMultiLine ? width() : -x;
  for (int i = 0; i < FTabs.Count(); ++i)
    if (FTabs.Items(i).Visible) FTabs.Items(i).Rect = FTabs.Items(i).Rect.Offset(shift, 0);
}

void TSkCustomTabControl::AlignRows() {
  const bool reverse = FTabSequence == tsReverse;
  const int available = AlongLength() - 2 * FMargin - FRowIndent * (FRowCount - 1);
  for (int row = 0; row < FRowCount; ++row) {
    std::vector<TSkTabData*> tabs;
    for (int i = 0; i < FTabs.Count(); ++i)
      if (FTabs.Items(i).Visible && FTabs.Items(i).Row == row) tabs.push_back(&FTabs.Items(i));
    if (tabs.empty()) continue;
    const int extent = (reverse ? tabs.front()->Rect.Right - tabs.back()->Rect.Left
                                : tabs.back()->Rect.Right - tabs.front()->Rect.Left) +
                       (RoundOrSquare() ? 4 : 0);
    const int spare = available - extent, n = int(tabs.size());
    if (spare <= 0) continue;
    int moved = 0;
    for (int k = 0; k < n; ++k) {
      const int extra = spare / n + (k < spare % n ? 1 : 0);
      TRect& r = tabs[size_t(k)]->Rect;
      r = reverse ? TRect{r.Left - moved - extra, r.Top, r.Right - moved, r.Bottom}
                  : TRect{r.Left + moved, r.Top, r.Right + moved + extra, r.Bottom};
      moved += extra;
    }
  }
}

void TSkCustomTabControl::Relayout() {
  FLayoutNeeded = false;
  std::vector<QSize> sizes;
  MeasureTabs(sizes);
  int rowHeight = 0;
  for (const QSize& s : sizes) rowHeight = std::max(rowHeight, Vertical() ? s.width() : s.height());
  if (FirstVisibleIndex() >= 0) FRowHeight = rowHeight;
  FRowCount = CountRows(sizes);
  PlaceTabs(sizes);
  const bool align = Vertical() ? FTabHeight == 0 : FTabWidth == 0;
  if (FMultiLine && FAlignTabs && align) AlignRows();
  // Rotating the rows keeps the selected tab's row in front.
  if (FMultiLine && FTabIndex >= 0 && FTabs.Items(FTabIndex).Visible)
    RotateRows(FTabs.Items(FTabIndex).Row);
  FRegions.Clear();
  ComputeOverflow();
  if (FTabIndex >= FTabs.Count()) FTabIndex = -1;
  // A narrower window must not hide the selected tab.
  if (FOverflow && FTabIndex >= 0 && FTabs.Items(FTabIndex).Visible) EnsureShown(FTabIndex);
  PlaceButtons();
  if (FScroller) FScroller->update();
  AlignControls();
}

void TSkCustomTabControl::ComputeOverflow() {
  const int first = FirstVisibleIndex(), last = LastVisibleIndex();
  FOverflow = false;
  if (!FMultiLine && first >= 0) {
    const TRect& edge = FTabs.Items(FTabSequence == tsStandard ? last : first).Rect;
    FOverflow = edge.Right > AvailableLength();
  }
  if (!FOverflow || FFirstVisible < 0 || FFirstVisible >= FTabs.Count()) {
    FFirstVisible = first;
    return;
  }
  const int old = FFirstVisible;
  while (FFirstVisible < FTabs.Count() && !TabShown(FFirstVisible)) ++FFirstVisible;
  if (FFirstVisible >= FTabs.Count()) {
    FFirstVisible = old - 1;
    while (FFirstVisible >= 0 && !TabShown(FFirstVisible)) --FFirstVisible;
  }
  if (FFirstVisible < 0) FFirstVisible = first;
}

int TSkCustomTabControl::FirstVisibleIndex() const {
  for (int i = 0; i < FTabs.Count(); ++i)
    if (FTabs.Items(i).Visible) return i;
  return -1;
}

int TSkCustomTabControl::LastVisibleIndex() const {
  for (int i = FTabs.Count() - 1; i >= 0; --i)
    if (FTabs.Items(i).Visible) return i;
  return -1;
}

int TSkCustomTabControl::ScrollOffset() const {
  if (FFirstVisible < 0 || FFirstVisible >= FTabs.Count()) return 0;
  const TRect& r = FTabs.Items(FFirstVisible).Rect;
  const int room = RoundOrSquare() ? 2 : 0;
  return FTabSequence == tsStandard ? r.Left - FMargin - room : r.Right + FMargin + room;
}

bool TSkCustomTabControl::TabShown(int Index) const {
  if (Index < 0 || Index >= FTabs.Count() || !FTabs.Items(Index).Visible) return false;
  if (!FOverflow) return true;
  const TRect& r = FTabs.Items(Index).Rect;
  const int offset = ScrollOffset(), window = WindowLength();
  if (FTabSequence == tsStandard) return r.Left >= offset && r.Right - offset <= window;
  return r.Right <= offset && offset - r.Left <= window;
}

// ---- Mapping ------------------------------------------------------------------------------------

int TSkCustomTabControl::ScrolledAlong(int X) const {
  return X - ScrollOffset() + (FTabSequence == tsReverse ? AlongLength() : 0);
}

QPoint TSkCustomTabControl::ToClient(int X, int Y, bool Scrolled) const {
  const TRect band = BandRect();
  const int along = Scrolled ? ScrolledAlong(X) : X;
  switch (FTabOrientation) {
    case toTop:
      return {band.Left + along, band.Top + Y};
    case toBottom:
      return {band.Left + along, band.Bottom - 1 - Y};
    case toLeft:
      return {band.Left + Y, band.Bottom - 1 - along};
    case toRight:
      return {band.Right - 1 - Y, band.Top + along};
  }
  return {};
}

QPoint TSkCustomTabControl::ToRowSpace(QPoint Client) const {
  const TRect band = BandRect();
  int along = 0, across = 0;
  switch (FTabOrientation) {
    case toTop:
      along = Client.x() - band.Left, across = Client.y() - band.Top;
      break;
    case toBottom:
      along = Client.x() - band.Left, across = band.Bottom - 1 - Client.y();
      break;
    case toLeft:
      along = band.Bottom - 1 - Client.y(), across = Client.x() - band.Left;
      break;
    case toRight:
      along = Client.y() - band.Top, across = band.Right - 1 - Client.x();
      break;
  }
  return {along - ScrolledAlong(0), across};
}

TRect TSkCustomTabControl::MapRect(const TRect& R, bool Scrolled) const {
  if (R.IsEmpty()) return {};
  const QPoint a = ToClient(R.Left, R.Top, Scrolled),
               b = ToClient(R.Right - 1, R.Bottom - 1, Scrolled);
  return {std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::max(a.x(), b.x()) + 1,
          std::max(a.y(), b.y()) + 1};
}

QRegion TSkCustomTabControl::MapRegion(const QRegion& RowRegion, bool Scrolled) const {
  // Turned rectangles no longer form bands, so they are joined one by one.
  QRegion mapped;
  for (const QRect& r : RowRegion) mapped += MapRect(TRect::FromQRect(r), Scrolled).ToQRect();
  return mapped;
}

TRect TSkCustomTabControl::TabRowRect(int Index) const {
  const TSkTabData& tab = FTabs.Items(Index);
  const int indent = FRowIndent * tab.Row * (FTabSequence == tsReverse ? -1 : 1);
  const int top = BandDepth() - FRowHeight - tab.Row * (FRowHeight - FRowOverlap);
  TRect r{tab.Rect.Left + indent, top, tab.Rect.Right + indent, top + FRowHeight};
  if (RoundOrSquare() && Index == FTabIndex) r = {r.Left - 2, r.Top - 2, r.Right + 2, r.Bottom};
  return r;
}

TRect TSkCustomTabControl::TabClientRect(int Index) const {
  return MapRect(TabRowRect(Index), true);
}

const QRegion& TSkCustomTabControl::TabRowRegion(int Index) {
  const TRect key = TabRowRect(Index);
  if (const QRegion* cached = FRegions.Find(key)) return *cached;
  const std::vector<QPoint> shape = TabShape(FTabStyle, key, FSoftCorners, FCutCornerSize);
  QRegion region;
  if (shape.size() >= 3)
    region = QRegion(QPolygon(QList<QPoint>(shape.begin(), shape.end())), Qt::OddEvenFill);
  return FRegions.Add(key, region);
}

// The card of a row in row space, with its corners as inclusive pixels.
TRect TSkCustomTabControl::CardRowRect(int Row) const {
  const bool reverse = FTabSequence == tsReverse;
  const int along = Vertical() ? height() : width(), depth = BandDepth();
  const int startIndent = FRowIndent * Row, endIndent = FRowIndent * (FRowCount - Row - 1);
  const int push = (FRowHeight - FRowOverlap) * Row;
  TRect r{reverse ? endIndent : startIndent, depth - push,
          along - 1 - (reverse ? startIndent : endIndent), AcrossLength() - 1 - push};
  if (!FShowCard && FTabs.Count() > 0) r = {r.Left - 3, r.Top, r.Right + 3, r.Bottom + 3};
  return r;
}

TRect TSkCustomTabControl::CardRect(int Row) const {
  const TRect r = CardRowRect(Row);
  return MapRect({r.Left, r.Top, r.Right + 1, r.Bottom + 1}, false);
}

TRect TSkCustomTabControl::DisplayRect() {
  if (FLayoutNeeded) Relayout();
  if (!FShowCard) return {-2, -2, -1, -1};
  const TRect c = CardRowRect(0);
  // Rows below and right of the frame stay out; the shadow takes two more.
  TRect r{c.Left, c.Top, c.Right + 1, c.Bottom + 1};
  if (FShowCardFrame && FShowFullFrame) {
    const int far = ShadowOn() ? 3 : 1;
    r = {c.Left + 1, c.Top + 1, c.Right + 1 - far, c.Bottom + 1 - far};
  } else if (FShowCardFrame) {
    r.Top += 1;
  }
  return MapRect(r, false);
}

// ---- Hit testing and selection ------------------------------------------------------------------

int TSkCustomTabControl::TabAt(QPoint Point) {
  if (FLayoutNeeded) Relayout();
  const int n = FTabs.Count();
  if (n == 0 || FFirstVisible < 0) return -1;
  const QPoint rowPoint = ToRowSpace(Point);
  const auto hit = [&](int i) {
    return TabShown(i) && TabClientRect(i).Contains(Point.x(), Point.y()) &&
           TabRowRegion(i).contains(rowPoint);
  };
  if (FTabIndex >= 0 && hit(FTabIndex)) return FTabIndex;
  for (int k = 0; k < n; ++k) {
    const int i = (FFirstVisible + k) % n;
    if (i != FTabIndex && hit(i)) return i;
  }
  return -1;
}

bool TSkCustomTabControl::CanChange(int NewIndex) {
  bool allow = true;
  if (OnChanging) OnChanging(this, NewIndex, allow);
  return allow;
}

bool TSkCustomTabControl::CanChangeTo(int Index) {
  if (Index < 0 || Index >= FTabs.Count()) return false;
  const TSkTabData& tab = FTabs.Items(Index);
  return tab.Visible && tab.Enabled && CanChange(Index);
}

void TSkCustomTabControl::Change() {
  if (OnChange) OnChange(this);
}

void TSkCustomTabControl::RotateRows(int ChosenRow) {
  if (ChosenRow == 0) return;
  for (int i = 0; i < FTabs.Count(); ++i) {
    TSkTabData& tab = FTabs.Items(i);
    if (tab.Visible) tab.Row = (tab.Row + FRowCount - ChosenRow) % FRowCount;
  }
  FRegions.Clear();
}

void TSkCustomTabControl::EnsureShown(int Index) {
  if (Index < FFirstVisible) {
    FFirstVisible = Index;
    return;
  }
  while (FFirstVisible < Index && !TabShown(Index)) {
    ++FFirstVisible;
    while (FFirstVisible < Index && !FTabs.Items(FFirstVisible).Visible) ++FFirstVisible;
  }
}

void TSkCustomTabControl::StoreTabIndex(int Value) {
  FAsked = true;
  SetTabIndex(Value);
  FAsked = false;
}

void TSkCustomTabControl::SetTabIndex(int Value) {
  if (FLayoutNeeded) Relayout();
  if (Value < 0 || Value >= FTabs.Count()) {
    FTabIndex = -1;
    update();
  } else {
    if (Value != FTabIndex && !FAsked && !CanChangeTo(Value)) return;
    const bool changed = Value != FTabIndex;
    FTabIndex = Value;
    if (!FOverflow && FMultiLine) RotateRows(FTabs.Items(Value).Row);
    if (FOverflow && FTabs.Items(Value).Visible) EnsureShown(Value);
    FRegions.Clear();
    update();
    if (FScroller) FScroller->update();
    if (changed) {
      Change();
      if (OnPageChange) OnPageChange(this);
    }
  }
  PlaceButtons();
}

int TSkCustomTabControl::NextChoosable(int From, int Step) {
  const int n = FTabs.Count();
  for (int k = 1; k <= n; ++k) {
    const int i = ((From + Step * k) % n + n) % n;
    if (i == From) return -1;
    if (CanChangeTo(i)) return i;
  }
  return -1;
}

void TSkCustomTabControl::SelectFromKeyboard(int Index) {
  if (Index < 0) return;
  StoreTabIndex(Index);
  if (OnTabClick) OnTabClick(this);
}

bool TSkCustomTabControl::CanScroll(bool TowardsEnd) const {
  if (!FOverflow) return false;
  if (TowardsEnd) return !TabShown(LastVisibleIndex());
  return FFirstVisible > FirstVisibleIndex();
}

bool TSkCustomTabControl::ScrollTabs(bool TowardsEnd) {
  if (!CanScroll(TowardsEnd)) return false;
  const int old = FFirstVisible, step = TowardsEnd ? 1 : -1;
  do FFirstVisible += step;
  while (FFirstVisible >= 0 && FFirstVisible < FTabs.Count() && !TabShown(FFirstVisible));
  if (FFirstVisible < 0 || FFirstVisible >= FTabs.Count()) {
    FFirstVisible = old;
    return false;
  }
  FRegions.Clear();
  update();
  FScroller->update();  // its arrows show whether there is more to scroll
  PlaceButtons();
  if (OnScrolledTabs) OnScrolledTabs(this);
  return true;
}

void TSkCustomTabControl::CloseClicked() {
  bool allow = false;
  if (FTabIndex >= 0 && OnClose) OnClose(this, allow);
  if (FTabIndex >= 0 && allow) CloseSelectedTab();
}

TColor TSkCustomTabControl::CardColor(int) const {
  if (FUseColoredTabs && FTabIndex >= 0) return FTabs.Items(FTabIndex).Color;
  return FColor;
}
