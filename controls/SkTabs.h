// The owner-drawn tab strip with its card, the small buttons inside its tab band, and the page
// control built on it.
//
// Geometry lives in "row space": x runs along the tabs, y across them from the outer edge (0)
// towards the card, as if the tabs always sat on top. Every shape, outline and fill is worked
// out there and mapped pixel by pixel to the widget by orientation, so the four orientations are
// exact turns and mirrors of one layout. Rectangles are TRect (exclusive right and bottom);
// outlines follow the line-drawing convention of the rest of the library: a line paints its
// start pixel and stops one short of its end point.
//
// Painting goes through PaintControl, which a test can call on a QImage.
#pragma once

#include "SkButton.h"
#include "SkCommon.h"

#include <QMenu>
#include <QPointer>
#include <QRegion>
#include <QWidget>

#include <functional>
#include <list>
#include <memory>
#include <stdexcept>
#include <vector>

enum TSkTabStyle {
  tsSingleSlant,
  tsDoubleSlant,
  tsCutCorner,
  tsRoundCorners,
  tsBackSlant,
  tsSquareCorners
};
enum TSkTabOrientation { toTop, toLeft, toBottom, toRight };
enum TSkTabSequence { tsStandard, tsReverse };
enum TSkHorizontalAlignment { haLeft, haCenter, haRight };
enum TSkVerticalAlignment { vaTop, vaCenter, vaBottom };
enum TSkTabHotTrackStyle { htsTab, htsText, htsTabBar };
enum TSkTabHotTrackColorSource { htcsTabColor, htcsHotTrackColorProp };
enum TSkTextStyle { tsHotTrack, tsSelected, tsUnselected, tsDisabled };

// The error of the tab unit.
class ESkTabControlError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One tab. Rect and Row are written by the layout.
struct TSkTabData {
  QString Caption;  // lines separated by CR LF; "&" marks the accelerator
  TColor Color = clBtnFace;
  int DisabledIndex = -1;
  bool Enabled = true;
  QString Hint;
  int ImageIndex = -1;
  TRect Rect;
  bool Visible = true;
  int Row = 0;
  // Copies what the user sets, not what the layout wrote.
  void Assign(const TSkTabData& Source);
};

// The tabs of a control; owns them.
class TSkTabDataList {
 public:
  int Count() const { return int(FItems.size()); }
  TSkTabData& Items(int Index) { return *FItems.at(size_t(Index)); }
  const TSkTabData& Items(int Index) const { return *FItems.at(size_t(Index)); }
  // Replaces the item at Index, freeing the old one.
  void Put(int Index, std::unique_ptr<TSkTabData> Item);
  TSkTabData& Add();
  void Clear() { FItems.clear(); }
  void Assign(const TSkTabDataList& Source);

 private:
  std::vector<std::unique_ptr<TSkTabData>> FItems;
};

struct TSkTabColors {
  TColor HighlightBar = clHighlight;
  TColor Shadow = clBtnFace;
  TColor Unselected = clWindow;
  bool operator==(const TSkTabColors&) const = default;
};
struct TSkTextColors {
  TColor Disabled = clGrayText;
  TColor Selected = clBtnText;
  TColor Unselected = clBtnText;
  bool operator==(const TSkTextColors&) const = default;
};

// Tab shape regions by rectangle, most recently used first. Capacity -1 keeps every region.
class TSkTabRegionCache {
 public:
  int Capacity() const { return FCapacity; }
  // Throws ESkTabControlError for anything but -1 or a positive count.
  void SetCapacity(int Value);
  int Count() const { return int(FItems.size()); }
  // The region kept for Key, moved to the front; nullptr when none.
  const QRegion* Find(const TRect& Key);
  // Keeps Region for Key at the front, dropping from the back beyond the capacity.
  const QRegion& Add(const TRect& Key, const QRegion& Region);
  void Clear() { FItems.clear(); }

 private:
  void Trim();
  int FCapacity = 1;
  std::list<std::pair<TRect, QRegion>> FItems;
};

// The row-space outline of a tab of Style in Rect (T2 = top + 2, H = height).
std::vector<QPoint> TabShape(TSkTabStyle Style, const TRect& Rect, bool SoftCorners,
                             int CutCornerSize);
// How much neighbouring tabs of Style and depth N overlap.
int TabStyleOverlap(TSkTabStyle Style, int N, int TabOverlap);

class TSkCustomTabControl;
class TSkTabScroller;
class TSkTabControlCloseButton;
class TSkActiveTabCloseButton;
class TSkTabMenuButton;

// The frame and face every button of the tab band shares.
void PaintTabButtonFace(QPainter& Canvas, const TRect& Rect, const TSkCustomTabControl& Tabs,
                        bool Enabled, TColor FrameColor, bool Hot, bool Pressed);

// The owner-drawn tab strip with its card.
class TSkCustomTabControl : public QWidget {
  Q_OBJECT
 public:
  explicit TSkCustomTabControl(QWidget* Parent = nullptr);
  ~TSkCustomTabControl() override;

  // ---- tabs and selection
  TSkTabDataList& Tabs() { return FTabs; }
  const TSkTabDataList& Tabs() const { return FTabs; }
  // Re-lays out after the tab list changed. Without a visible tab the keyboard has nothing
  // to pick here, so Tab passes the control by.
  virtual void TabsChanged();
  int TabIndex() const { return FTabIndex; }
  virtual void SetTabIndex(int Value);
  // Whether the user may choose the tab: visible, enabled and allowed by OnChanging.
  bool CanChangeTo(int Index);
  // The tab under a client point, or -1.
  int TabAt(QPoint Point);
  int FirstVisibleTab() const { return FFirstVisible; }
  // Whether the tab lies in the visible window of a scrolling row.
  bool TabShown(int Index) const;
  bool TabsOverflow() const { return FOverflow; }
  // Moves the window of a scrolling row one shown tab; false when it cannot move.
  bool ScrollTabs(bool TowardsEnd);
  bool CanScroll(bool TowardsEnd) const;
  // Whether the left or upper scroll arrow moves towards the end of the tabs.
  bool FirstArrowScrollsToEnd() const {
    return (FTabOrientation == toRight) != (FTabSequence == tsReverse);
  }
  int HotTab() const { return FHotTab; }

  // ---- geometry (lays out first when needed)
  void Relayout();
  int RowHeight() const { return FRowHeight; }
  int RowCount() const { return FRowCount; }
  // The row height of the last layout, kept for a control that has not laid out yet.
  int FixedDimension() const { return FRowHeight; }
  void SetFixedDimension(int Value) { FRowHeight = std::max(Value, 0); }
  TRect BandRect() const;
  int BandDepth() const;
  // The client rectangle of a tab (the selected one grown for the round and square styles).
  TRect TabClientRect(int Index) const;
  // The card of a row in client coordinates, inclusive of its frame.
  TRect CardRect(int Row) const;
  // What the pages fill.
  TRect DisplayRect();

  // ---- painting
  void PaintControl(QPainter& Canvas);

  // ---- settings
  bool AlignTabs() const { return FAlignTabs; }
  void SetAlignTabs(bool V) { StoreLayout(FAlignTabs, V); }
  TColor BackgroundColor() const { return FBackgroundColor; }
  void SetBackgroundColor(TColor V);
  bool ParentBackgroundColor() const { return FParentBackgroundColor; }
  void SetParentBackgroundColor(bool V);
  bool BoldCurrentTab() const { return FBoldCurrentTab; }
  void SetBoldCurrentTab(bool V) { StoreLayout(FBoldCurrentTab, V); }
  TColor ButtonColor() const { return FButtonColor; }
  void SetButtonColor(TColor V);
  TColor Color() const { return FColor; }
  virtual void SetColor(TColor V);
  bool UseColoredTabs() const { return FUseColoredTabs; }
  virtual void SetUseColoredTabs(bool V) { StoreRepaint(FUseColoredTabs, V); }
  int CutCornerSize() const { return FCutCornerSize; }
  void SetCutCornerSize(int V) { StoreLayoutCount(FCutCornerSize, V); }
  TColor FlatColor() const { return FFlatColor; }
  void SetFlatColor(TColor V);
  int FlatColorAdjustment() const { return FFlatColorAdjustment; }
  void SetFlatColorAdjustment(int V);
  bool HotTrack() const { return FHotTrack; }
  void SetHotTrack(bool V);
  TColor HotTrackColor() const { return FHotTrackColor; }
  void SetHotTrackColor(TColor V) { StoreRepaint(FHotTrackColor, V); }
  TSkTabHotTrackColorSource HotTrackColorSource() const { return FHotTrackColorSource; }
  void SetHotTrackColorSource(TSkTabHotTrackColorSource V) {
    StoreRepaint(FHotTrackColorSource, V);
  }
  TSkHotTrackColorType HotTrackColorType() const { return FHotTrackColorType; }
  void SetHotTrackColorType(TSkHotTrackColorType V) { StoreRepaint(FHotTrackColorType, V); }
  TSkTabHotTrackStyle HotTrackStyle() const { return FHotTrackStyle; }
  void SetHotTrackStyle(TSkTabHotTrackStyle V) { StoreRepaint(FHotTrackStyle, V); }
  int ImageMargin() const { return FImageMargin; }
  void SetImageMargin(int V) { StoreLayoutCount(FImageMargin, V); }
  int Margin() const { return FMargin; }
  void SetMargin(int V) { StoreLayoutCount(FMargin, V); }
  bool MultiLine() const { return FMultiLine; }
  void SetMultiLine(bool V) { StoreLayout(FMultiLine, V); }
  int RowIndent() const { return FRowIndent; }
  void SetRowIndent(int V) { StoreLayoutCount(FRowIndent, V); }
  int RowOverlap() const { return FRowOverlap; }
  void SetRowOverlap(int V) { StoreLayoutCount(FRowOverlap, V); }
  bool ShowCard() const { return FShowCard; }
  void SetShowCard(bool V) { StoreLayout(FShowCard, V); }
  bool ShowCardFrame() const { return FShowCardFrame; }
  void SetShowCardFrame(bool V) { StoreRepaint(FShowCardFrame, V); }
  bool ShowFullFrame() const { return FShowFullFrame; }
  void SetShowFullFrame(bool V);
  bool ShowShadow() const { return FShowShadow; }
  void SetShowShadow(bool V);
  bool ShowCloseButton() const { return FShowCloseButton; }
  void SetShowCloseButton(bool V) { StoreLayout(FShowCloseButton, V); }
  bool ShowCloseButtonOnActiveTab() const { return FShowCloseButtonOnActiveTab; }
  void SetShowCloseButtonOnActiveTab(bool V) { StoreLayout(FShowCloseButtonOnActiveTab, V); }
  bool ShowMenuButton() const { return FShowMenuButton; }
  void SetShowMenuButton(bool V) { StoreLayout(FShowMenuButton, V); }
  bool SortTabMenu() const { return FSortTabMenu; }
  void SetSortTabMenu(bool V) { FSortTabMenu = V; }
  bool ShowFocusRect() const { return FShowFocusRect; }
  void SetShowFocusRect(bool V) { StoreRepaint(FShowFocusRect, V); }
  bool SoftCorners() const { return FSoftCorners; }
  void SetSoftCorners(bool V) { StoreLayout(FSoftCorners, V); }
  int TabOverlap() const { return FTabOverlap; }
  void SetTabOverlap(int V) { StoreLayout(FTabOverlap, V); }
  TOrientation TextOrientation() const { return FTextOrientation; }
  void SetTextOrientation(TOrientation V);
  const TSkTabColors& TabColors() const { return FTabColors; }
  void SetTabColors(const TSkTabColors& V) { StoreRepaint(FTabColors, V); }
  const TSkTextColors& TextColors() const { return FTextColors; }
  void SetTextColors(const TSkTextColors& V) { StoreRepaint(FTextColors, V); }
  int TabHeight() const { return FTabHeight; }
  void SetTabHeight(int V) { StoreLayoutCount(FTabHeight, V); }
  int TabWidth() const { return FTabWidth; }
  void SetTabWidth(int V) { StoreLayoutCount(FTabWidth, V); }
  TSkTabOrientation TabOrientation() const { return FTabOrientation; }
  void SetTabOrientation(TSkTabOrientation V) { StoreLayout(FTabOrientation, V); }
  TSkTabSequence TabSequence() const { return FTabSequence; }
  void SetTabSequence(TSkTabSequence V) { StoreLayout(FTabSequence, V); }
  TSkTabStyle TabStyle() const { return FTabStyle; }
  void SetTabStyle(TSkTabStyle V) { StoreLayout(FTabStyle, V); }
  TSkHorizontalAlignment TextAlignment() const { return FTextAlignment; }
  void SetTextAlignment(TSkHorizontalAlignment V) { StoreRepaint(FTextAlignment, V); }
  TSkVerticalAlignment TextAlignmentVertical() const { return FTextAlignmentVertical; }
  void SetTextAlignmentVertical(TSkVerticalAlignment V) { StoreRepaint(FTextAlignmentVertical, V); }
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool V);
  bool UseGradients() const { return FUseGradients; }
  void SetUseGradients(bool V) { StoreRepaint(FUseGradients, V); }
  int RegionCacheCapacity() const { return FRegions.Capacity(); }
  // Ignores 0 and negative values other than -1.
  void SetRegionCacheCapacity(int V);
  bool TabHints() const { return FTabHints; }
  void SetTabHints(bool V);
  bool AllowTabDragging() const { return FAllowTabDragging; }
  void SetAllowTabDragging(bool V) { FAllowTabDragging = V; }
  TColor DragIndicatorColor() const { return FDragIndicatorColor; }
  void SetDragIndicatorColor(TColor V) { StoreRepaint(FDragIndicatorColor, V); }
  // The tab a dragged tab would be dropped on, -1 when none.
  int DropTarget() const { return FDropTarget; }
  bool LayoutNeeded() const { return FLayoutNeeded; }
  // Setting it repaints.
  void SetLayoutNeeded(bool V);

  // ---- events, fired only when assigned
  std::function<void(TSkCustomTabControl*, int NewIndex, bool& AllowChange)> OnChanging;
  std::function<void(TSkCustomTabControl*)> OnChange;
  std::function<void(TSkCustomTabControl*)> OnPageChange;
  std::function<void(TSkCustomTabControl*)> OnTabClick;
  std::function<void(TSkCustomTabControl*, bool& AllowClose)> OnClose;
  std::function<void(TSkCustomTabControl*)> OnScrolledTabs;
  std::function<void(TSkCustomTabControl*, int OldIndex, int NewIndex)> OnTabOrderChange;
  std::function<void(TSkCustomTabControl*, int TabIndex, TSkTextStyle Style, TColor& Color,
                     bool& Handled)>
      OnGetTextColor;
  std::function<void(TSkCustomTabControl*, QPainter&, const TRect&, bool& Handled)>
      OnPaintBackground;
  std::function<void(TSkCustomTabControl*, QPainter&, int Row, const TRect&, bool& Handled)>
      OnPaintCardBackground;
  std::function<void(TSkCustomTabControl*, QPainter&, int TabIndex, const TRect&, bool& Handled)>
      OnPaintTabBackground;

  // The small buttons, made on first need (nullptr before).
  TSkTabScroller* Scroller() const { return FScroller; }
  TSkTabControlCloseButton* CloseButton() const { return FCloseButton; }
  TSkActiveTabCloseButton* ActiveTabCloseButton() const { return FActiveCloseButton; }
  TSkTabMenuButton* MenuButton() const { return FMenuButton; }
  // Closes the selected tab when one is selected and OnClose allows it.
  void CloseClicked();
  // The line colour of outlines and button frames.
  TColor LineColor() const { return AdjustColor(FFlatColor, FFlatColorAdjustment); }

 protected:
  // Asks OnChanging; a subclass may do more before the index is stored.
  virtual bool CanChange(int NewIndex);
  virtual void Change();
  virtual void CloseSelectedTab() {}
  // Moves the selected tab to Index after a drag.
  virtual void MoveSelectedTab(int) {}
  // The colour the card of a row is filled with.
  virtual TColor CardColor(int Row) const;
  // Places the small buttons; done before painting and on resizing.
  void PlaceButtons();
  // Places what the card holds, after each layout.
  virtual void AlignControls() {}
  // Sets TabIndex without asking OnChanging (the caller has decided).
  void StoreTabIndex(int Value);

  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void leaveEvent(QEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  bool event(QEvent* Event) override;
  void changeEvent(QEvent* Event) override;
  void focusInEvent(QFocusEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;

 private:
  template <typename T>
  void StoreLayout(T& Field, T Value) {
    if (Field == Value) return;
    Field = Value;
    SetLayoutNeeded(true);
  }
  void StoreLayoutCount(int& Field, int Value) {
    if (Value >= 0) StoreLayout(Field, Value);
  }
  template <typename T>
  void StoreRepaint(T& Field, T Value) {
    if (Field == Value) return;
    Field = Value;
    update();
  }

  // Layout (SkTabs_Layout.cpp).
  bool Vertical() const { return FTabOrientation == toLeft || FTabOrientation == toRight; }
  bool RoundOrSquare() const { return FTabStyle == tsRoundCorners || FTabStyle == tsSquareCorners; }
  bool ShadowOn() const {
    return FTabOrientation == toTop && FTabSequence == tsStandard && FShowShadow;
  }
  QFont TabFont(bool Bold) const;
  QSize MeasureCaption(const QString& Caption) const;
  void MeasureTabs(std::vector<QSize>& Sizes);
  int AvailableLength() const;
  int CountRows(const std::vector<QSize>& Sizes) const;
  void PlaceTabs(const std::vector<QSize>& Sizes);
  void AlignRows();
  void ComputeOverflow();
  int ScrollOffset() const;
  int WindowLength() const;
  int AlongLength() const;
  int AcrossLength() const;
  int ArrowExtent() const;
  QSize ButtonExtent() const;
  // Where a row-space x of a tab lands along the band once scrolled.
  int ScrolledAlong(int X) const;
  // Pixel maps between row space and client space.
  QPoint ToClient(int X, int Y, bool Scrolled) const;
  QPoint ToRowSpace(QPoint Client) const;
  TRect MapRect(const TRect& RowRect, bool Scrolled) const;
  QRegion MapRegion(const QRegion& RowRegion, bool Scrolled) const;
  TRect TabRowRect(int Index) const;
  const QRegion& TabRowRegion(int Index);
  TRect CardRowRect(int Row) const;
  int FirstVisibleIndex() const;
  int LastVisibleIndex() const;
  int NextChoosable(int From, int Step);
  void SelectFromKeyboard(int Index);
  void RotateRows(int ChosenRow);
  void EnsureShown(int Index);
  void SetHot(int Index);
  void EndHotTracking();
  void MakeButtons();
  bool SelectAccelerator(QChar Key);

  // Painting (SkTabs_Paint.cpp).
  void PaintRowsAndTabs(QPainter& Canvas);
  void PaintCard(QPainter& Canvas, int Row);
  void PaintTab(QPainter& Canvas, int Index);
  void PaintTabBackground(QPainter& Canvas, int Index, const TRect& Rect);
  void PaintTabFace(QPainter& Canvas, int Index);
  TRect ContentRowRect(int Index) const;
  void PaintCaption(QPainter& Canvas, int Index, const TRect& Box, TColor Color);
  TColor TabTextColor(int Index, bool& Bar, TColor& BarColor);
  void PaintHighlightBar(QPainter& Canvas, int Index, TColor Color);
  void PaintDropIndicator(QPainter& Canvas);
  void DragMoved(QPoint Position);
  void DragScrollTick();
  void RunOutline(QPainter& Canvas, const std::vector<int>& Commands, bool Scrolled);

  TSkTabDataList FTabs;
  TSkTabRegionCache FRegions;
  int FTabIndex = -1;
  int FFirstVisible = 0;
  int FHotTab = -1;
  int FRowCount = 1;
  int FRowHeight = 0;
  bool FOverflow = false;
  bool FLayoutNeeded = true;
  bool FAsked = false;  // the caller has asked for the change already
  QString FOwnHint;     // the control's tooltip while no tab shows its own
  int FDragSource = -1, FDropTarget = -1;
  bool FDragging = false;
  QPoint FPressPos, FDragPos;
  std::unique_ptr<TSkTimer> FDragScrollTimer;
  uint16_t FDragScrollDelay = 400, FDragScrollInterval = 300;
  TSkTabScroller* FScroller = nullptr;
  TSkTabControlCloseButton* FCloseButton = nullptr;
  TSkActiveTabCloseButton* FActiveCloseButton = nullptr;
  TSkTabMenuButton* FMenuButton = nullptr;

  bool FAlignTabs = false;
  TColor FBackgroundColor = clBtnFace;
  bool FParentBackgroundColor = true;
  bool FBoldCurrentTab = false;
  TColor FButtonColor = clBtnFace;
  TColor FColor = clBtnFace;
  bool FUseColoredTabs = false;
  int FCutCornerSize = 6;
  TColor FFlatColor = clBtnShadow;
  int FFlatColorAdjustment = 0;
  bool FHotTrack = true;
  TColor FHotTrackColor = 0x149BF0;
  TSkTabHotTrackColorSource FHotTrackColorSource = htcsTabColor;
  TSkHotTrackColorType FHotTrackColorType = htctActual;
  TSkTabHotTrackStyle FHotTrackStyle = htsTab;
  int FImageMargin = 2;
  int FMargin = 0;
  bool FMultiLine = false;
  int FRowIndent = 5;
  int FRowOverlap = 5;
  bool FShowCard = true;
  bool FShowCardFrame = true;
  bool FShowFullFrame = true;
  bool FShowCloseButton = false;
  bool FShowCloseButtonOnActiveTab = false;
  bool FShowMenuButton = false;
  bool FSortTabMenu = true;
  bool FShowFocusRect = true;
  bool FShowShadow = true;
  bool FSoftCorners = false;
  int FTabOverlap = -1;
  TOrientation FTextOrientation = orHorizontal;
  TSkTabColors FTabColors;
  TSkTextColors FTextColors;
  int FTabHeight = 0;
  int FTabWidth = 0;
  TSkTabOrientation FTabOrientation = toTop;
  TSkTabSequence FTabSequence = tsStandard;
  TSkTabStyle FTabStyle = tsSingleSlant;
  TSkHorizontalAlignment FTextAlignment = haCenter;
  TSkVerticalAlignment FTextAlignmentVertical = vaCenter;
  bool FTransparent = false;
  bool FUseGradients = true;
  bool FTabHints = false;
  bool FAllowTabDragging = false;
  TColor FDragIndicatorColor = 0x505050;
};

// What the windowed buttons of the tab band share: press, capture, track and release.
class TSkTabBandButton : public QWidget {
  Q_OBJECT
 public:
  TSkTabBandButton(TSkCustomTabControl* Tabs, QWidget* Parent);
  TColor FrameColor = clBtnShadow;
  bool Pressed() const { return FPressed; }
  bool Down() const { return FDown; }
  bool Hot() const { return FHot; }

 protected:
  // Which part of the button a press at Point lands in (the scroller has two).
  virtual int PartAt(QPoint) const { return 0; }
  // Whether Point lies in the part that was pressed.
  virtual bool InPart(QPoint Point) const { return rect().contains(Point); }
  virtual bool PartEnabled(int) const { return true; }
  // A release while down.
  virtual void Released(int Part) = 0;
  virtual void PressStarted(int) {}
  virtual void PressEnded() {}
  int PressedPart() const { return FPart; }
  TSkCustomTabControl* TabControl() const { return FTabs; }

  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void enterEvent(QEnterEvent* Event) override;
  void leaveEvent(QEvent* Event) override;

 private:
  TSkCustomTabControl* FTabs;
  bool FPressed = false, FDown = false, FHot = false;
  int FPart = 0;
};

// Two arrows that scroll a row of tabs that does not fit; holding one repeats.
class TSkTabScroller : public TSkTabBandButton {
  Q_OBJECT
 public:
  TSkTabScroller(TSkCustomTabControl* Tabs, QWidget* Parent);
  ~TSkTabScroller() override;
  TOrientation Orientation = orHorizontal;
  std::function<void()> OnUpRightClick;
  std::function<void()> OnDownLeftClick;
  // The half of the scroller (0 left or upper, 1 right or lower).
  TRect HalfRect(int Half) const;

 protected:
  int PartAt(QPoint Point) const override;
  bool InPart(QPoint Point) const override;
  bool PartEnabled(int Part) const override;
  void Released(int Part) override;
  void PressStarted(int Part) override;
  void PressEnded() override;
  void paintEvent(QPaintEvent* Event) override;

 private:
  void Fire(int Part);
  std::unique_ptr<TSkTimer> FRepeat;
};

// Closes the selected tab.
class TSkTabControlCloseButton : public TSkTabBandButton {
  Q_OBJECT
 public:
  using TSkTabBandButton::TSkTabBandButton;
  std::function<void()> OnClose;

 protected:
  void Released(int) override;
  void paintEvent(QPaintEvent* Event) override;
};

// Drops a menu of every visible tab.
class TSkTabMenuButton : public TSkTabBandButton {
  Q_OBJECT
 public:
  TSkTabMenuButton(TSkCustomTabControl* Tabs, QWidget* Parent);
  QMenu& Menu() { return FMenu; }
  // Fills the menu from the tabs.
  void BuildMenu();
  // The screen point the menu pops up at.
  QPoint MenuPoint() const;

 protected:
  void Released(int) override;
  void paintEvent(QPaintEvent* Event) override;

 private:
  QMenu FMenu;
};

// The small cross inside the selected tab.
class TSkActiveTabCloseButton : public TSkTabBandButton {
  Q_OBJECT
 public:
  using TSkTabBandButton::TSkTabBandButton;

 protected:
  void Released(int) override;
  void paintEvent(QPaintEvent* Event) override;
};

class TSkPageControl;

// One page of a page control; made with a page control as its parent, it joins it.
class TSkTabSheet : public QWidget {
  Q_OBJECT
 public:
  explicit TSkTabSheet(QWidget* Parent = nullptr);
  ~TSkTabSheet() override;

  QString Caption() const { return FCaption; }
  void SetCaption(const QString& V) { Store(FCaption, V); }
  TColor Color() const { return FColor; }
  void SetColor(TColor V);
  int ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int V) { Store(FImageIndex, V); }
  int DisabledIndex() const { return FDisabledIndex; }
  void SetDisabledIndex(int V) { Store(FDisabledIndex, V); }
  bool TabEnabled() const { return FTabEnabled; }
  void SetTabEnabled(bool V) { Store(FTabEnabled, V); }
  bool TabVisible() const { return FTabVisible; }
  void SetTabVisible(bool V) { Store(FTabVisible, V); }
  QString Hint;
  TSkPageControl* PageControl() const { return FPageControl; }
  void SetPageControl(TSkPageControl* V);
  int PageIndex() const;
  // Throws ESkTabControlError for an index outside the pages.
  void SetPageIndex(int V);
  // The tab of the page among the visible tabs, -1 when its tab is hidden.
  int TabIndex() const;
  // Only the page control's active page shows; hiding is always allowed.
  void setVisible(bool Visible) override;
  void AssignTo(TSkTabData& Tab) const;

  std::function<void(TSkTabSheet*, QPainter&, const TRect&, bool& Handled)> OnPaintBackground;
  std::function<void(TSkTabSheet*)> OnShow;
  std::function<void(TSkTabSheet*)> OnHide;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void showEvent(QShowEvent* Event) override;
  void hideEvent(QHideEvent* Event) override;

 private:
  friend class TSkPageControl;
  // Stores a changed value and has the page control rebuild its tabs.
  template <typename T>
  void Store(T& Field, T Value) {
    if (Field == Value) return;
    Field = Value;
    Changed();
  }
  void Changed();
  void ShowPage(bool Show) { QWidget::setVisible(Show); }
  QString FCaption;
  TColor FColor = clBtnFace;
  int FImageIndex = -1, FDisabledIndex = -1;
  bool FTabEnabled = true, FTabVisible = true;
  TSkPageControl* FPageControl = nullptr;
};

// Shows one page at a time in the card, with a tab for each page whose tab is visible.
class TSkPageControl : public TSkCustomTabControl {
  Q_OBJECT
 public:
  explicit TSkPageControl(QWidget* Parent = nullptr);
  ~TSkPageControl() override;

  int PageCount() const { return int(FPages.size()); }
  TSkTabSheet* Pages(int Index) const { return FPages.at(size_t(Index)); }
  TSkTabSheet* ActivePage() const { return FActivePage; }
  void SetActivePage(TSkTabSheet* Page);
  int ActivePageIndex() const;
  void SetActivePageIndex(int Index);
  void SelectNextPage(bool GoForward);
  TSkTabSheet* FindNextPage(TSkTabSheet* CurPage, bool GoForward, bool CheckTabVisible) const;
  void HideAllTabs();
  void ShowAllTabs();
  // Makes Page the active page when it is one of these pages.
  void ShowControl(QWidget* Page);
  void TabsChanged() override;
  void SetUseColoredTabs(bool V) override;
  void SetColor(TColor V) override;

 protected:
  bool CanChange(int NewIndex) override;
  void CloseSelectedTab() override;
  void MoveSelectedTab(int Index) override;
  TColor CardColor(int Row) const override;
  void AlignControls() override;
  bool event(QEvent* Event) override;

 private:
  friend class TSkTabSheet;
  void InsertPage(TSkTabSheet* Page);
  void RemovePage(TSkTabSheet* Page);
  void MovePage(TSkTabSheet* Page, int Index);
  void ChangeActivePage(TSkTabSheet* Page);
  void SetAllTabsVisible(bool Visible);
  TSkTabSheet* PageOfTab(int TabIndex) const;

  std::vector<TSkTabSheet*> FPages;
  TSkTabSheet* FActivePage = nullptr;
};
