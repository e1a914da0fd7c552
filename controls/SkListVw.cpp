#include "SkListVw.h"

#include <QApplication>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <numeric>

void DrawSortArrow(QPainter& Canvas, const TRect& Box, bool Ascending) {
  const int s = 3 * Box.Height() / 4, w = 2 * s - 1;
  if (s <= 0) return;
  const int centre = Box.Left + w / 2, bottom = Box.Bottom - 1;
  for (int row = 0; row < s; ++row) {
    // Row 0 is the apex: at the top for ascending, at the bottom for descending.
    const int y = Ascending ? bottom - s + 1 + row : bottom - row;
    FillRect(Canvas, {centre - row, y, centre + row + 1, y + 1}, clBtnShadow);
  }
}

int CompareSortTexts(const QString& A, const QString& B) {
  if (A.isEmpty() != B.isEmpty()) return A.isEmpty() ? 1 : -1;
  const auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; };
  const qsizetype n = std::min(A.size(), B.size());
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t a = fold(A[i].unicode()), b = fold(B[i].unicode());
    if (a != b) return a < b ? -1 : 1;
  }
  return A.size() < B.size() ? -1 : A.size() > B.size() ? 1 : 0;
}

int FilledLastColumnWidth(const std::vector<int>& Widths, int Available) {
  if (Widths.empty()) return 0;
  const int others = std::accumulate(Widths.begin(), Widths.end() - 1, 0);
  return Available > others ? std::max(Available - others, 5) : Widths.back();
}

namespace {

// The list's header: each section drawn by the list when its sort display asks for it.
class TSkListViewHeader : public QHeaderView {
 public:
  explicit TSkListViewHeader(TSkCustomListView& List)
      : QHeaderView(Qt::Horizontal, &List), FList(List) {
    setSortIndicatorShown(false);
    setStretchLastSection(false);
  }

 protected:
  void paintSection(QPainter* Canvas, const QRect& Rect, int Index) const override {
    if (FList.HeaderSortDisplayMode() == hsdmNone)
      return QHeaderView::paintSection(Canvas, Rect, Index);
    Canvas->save();
    TRect r = TRect::FromQRect(Rect);
    FillRect(*Canvas, r, clBtnFace);
    r = DrawSides(*Canvas, r, clBtnHighlight, clBtnShadow).Inflated(-1, -1);
    if (!FList.HeaderDefaultDrawing && FList.OnDrawHeader) {
      FList.OnDrawHeader(*Canvas, Index, r);
      return Canvas->restore();
    }
    DrawContent(*Canvas, r, Index);
    Canvas->restore();
  }

 private:
  void DrawContent(QPainter& Canvas, TRect Content, int Index) const {
    Content.Left += 4;
    Content.Right -= 4;
    const int side = Content.Height() / 2;
    const int boxTop = Content.Top + (Content.Height() - side) / 2;
    const QString caption = model()->headerData(Index, Qt::Horizontal).toString();
    const bool arrow = Index == FList.SortColumn() && Content.Width() > 2 * side;
    TRect box{0, boxTop, 0, boxTop + side};
    switch (FList.HeaderSortDisplayMode()) {
      case hsdmLeftAlign:
        box.Left = Content.Left;
        Content.Left += side + 5;
        break;
      case hsdmRightAlign:
        box.Left = Content.Right - side;
        Content.Right = box.Left - 5;
        break;
      default: {
        const int textWidth = Canvas.fontMetrics().horizontalAdvance(caption);
        box.Left = std::min(Content.Left + textWidth + 5, Content.Right - side);
        if (arrow) Content.Right = std::min(Content.Right, box.Left - 5 + 1);
        break;
      }
    }
    box.Right = box.Left + side;
    Canvas.setFont(FList.font());
    Canvas.setPen(ToQColor(clBtnText));
    DrawString(Canvas, caption, Content,
               DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    if (arrow) DrawSortArrow(Canvas, box, !FList.SortDescending());
  }

  TSkCustomListView& FList;
};

}  // namespace

TSkCustomListView::TSkCustomListView(QWidget* Parent) : TSkFramed<QTreeWidget>(Parent) {
  setHeader(new TSkListViewHeader(*this));
  header()->setSectionsClickable(true);  // the view turns it off while it does not sort itself
  setFrameShape(QFrame::NoFrame);
  setViewportMargins(2, 2, 2, 2);
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  header()->setMinimumSectionSize(5);
  setAllColumnsShowFocus(true);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  connect(header(), &QHeaderView::sectionClicked, this,
          [this](int Column) { ColumnClicked(Column); });
  connect(header(), &QHeaderView::sectionResized, this, [this](int Index) {
    if (Index < columnCount() - 1) FillLastColumnWidth();
  });
  connect(header(), &QHeaderView::sectionCountChanged, this, [this] { FillLastColumnWidth(); });
  UpdateColors();
}

void TSkCustomListView::SetFillLastColumn(bool Value) {
  FFillLastColumn = Value;
  if (Value) FillLastColumnWidth();
}

void TSkCustomListView::SetHeaderSortDisplayMode(TSkLVHeaderSortDisplayMode Value) {
  FSortDisplayMode = Value;
  header()->viewport()->update();
}

void TSkCustomListView::SetSortColumn(int Column, bool Descending) {
  FSortColumn = Column;
  FSortDescending = Descending;
  header()->viewport()->update();
}

void TSkCustomListView::FillLastColumnWidth() {
  const int columns = columnCount();
  if (!FFillLastColumn || columns < 1 || FFilling) return;
  std::vector<int> widths;
  for (int i = 0; i < columns; ++i) widths.push_back(header()->sectionSize(i));
  const int available =
      width() - 4 -
      (verticalScrollBar()->isVisible() || topLevelItemCount() == 0 ? SkScrollBarWidth : 0);
  const int filled = FilledLastColumnWidth(widths, available);
  if (filled == widths.back()) return;
  FFilling = true;
  header()->resizeSection(columns - 1, filled);
  FFilling = false;
}

void TSkCustomListView::SortByColumn(int Column, bool Descending) {
  QList<QTreeWidgetItem*> rows = invisibleRootItem()->takeChildren();
  // Each row's text once, so the comparisons touch no item.
  std::vector<std::pair<QString, QTreeWidgetItem*>> keyed;
  keyed.reserve(size_t(rows.size()));
  for (QTreeWidgetItem* row : rows) keyed.emplace_back(row->text(Column), row);
  std::stable_sort(keyed.begin(), keyed.end(), [Descending](const auto& A, const auto& B) {
    const int order = CompareSortTexts(A.first, B.first);
    return Descending ? order > 0 : order < 0;
  });
  for (qsizetype i = 0; i < rows.size(); ++i) rows[i] = keyed[size_t(i)].second;
  invisibleRootItem()->addChildren(rows);
}

void TSkCustomListView::ColumnClicked(int Column) {
  if (AlphaSortAll) {
    const bool descending = Column == FLastSorted;
    FLastSorted = descending ? -1 : Column;
    SortByColumn(Column, descending);
    SetSortColumn(Column, descending);
  }
  if (OnColumnClick) OnColumnClick(Column);
}

void TSkCustomListView::resizeEvent(QResizeEvent* Event) {
  TSkFramed<QTreeWidget>::resizeEvent(Event);
  FillLastColumnWidth();
}

// A notch scrolls the wheel's lines by the height of a small image (16 without images).
void TSkCustomListView::wheelEvent(QWheelEvent* Event) {
  const int imageHeight = iconSize().height() > 0 ? iconSize().height() : 16;
  const int notches = FWheel.Take(Event->angleDelta().y());
  QScrollBar* bar = verticalScrollBar();
  bar->setValue(bar->value() - notches * QApplication::wheelScrollLines() * imageHeight);
  Event->accept();
}
