// The framed list view (TSkListView): a report list with the framed edit's state colours and
// ring, a last column that fills the remaining width, a header that shows the sort column with
// an arrow, sorting by a clicked column (ascending, descending, ascending again; empty texts
// after the others), and wheel scrolling by the height of an image row.
#pragma once

#include "SkEdit.h"

#include <QHeaderView>
#include <QTreeWidget>

enum TSkLVHeaderSortDisplayMode { hsdmNone, hsdmLeftAlign, hsdmRightOfText, hsdmRightAlign };

// A filled triangle in a box of height h: 3h/4 rows, 2s - 1 wide, at the box's left and bottom;
// apex up when Ascending, else down. In button shadow.
void DrawSortArrow(QPainter& Canvas, const TRect& Box, bool Ascending);
// Orders two texts of a sort column: negative when A goes first. ASCII letters compare without
// case; an empty text goes after every other one.
int CompareSortTexts(const QString& A, const QString& B);
// The width the last column takes so that the columns fill Available: Available less the
// others' sum, at least 5, or its own width when the others already take it all.
int FilledLastColumnWidth(const std::vector<int>& Widths, int Available);

class TSkCustomListView : public TSkFramed<QTreeWidget> {
 public:
  explicit TSkCustomListView(QWidget* Parent = nullptr);

  bool AlphaSortAll = false;
  bool FillLastColumn() const { return FFillLastColumn; }
  void SetFillLastColumn(bool Value);
  bool HeaderDefaultDrawing = true;
  TSkLVHeaderSortDisplayMode HeaderSortDisplayMode() const { return FSortDisplayMode; }
  void SetHeaderSortDisplayMode(TSkLVHeaderSortDisplayMode Value);
  // The column shown as sorted (-1 none) and its direction.
  int SortColumn() const { return FSortColumn; }
  bool SortDescending() const { return FSortDescending; }
  void SetSortColumn(int Column, bool Descending);
  // Sorts the rows by a column's texts.
  void SortByColumn(int Column, bool Descending);
  // Widens the last column to the client width when the others leave room.
  void FillLastColumnWidth();

  std::function<void(int Column)> OnColumnClick;
  std::function<void(QPainter& Canvas, int Index, const TRect& Rect)> OnDrawHeader;

 protected:
  bool IsReadOnly() const override { return false; }
  bool event(QEvent* Event) override { return ScrollAreaEvent(Event); }
  void resizeEvent(QResizeEvent* Event) override;
  void wheelEvent(QWheelEvent* Event) override;

 private:
  void ColumnClicked(int Column);

  bool FFillLastColumn = true;
  bool FFilling = false;
  TSkLVHeaderSortDisplayMode FSortDisplayMode = hsdmRightOfText;
  int FLastSorted = -1;
  int FSortColumn = -1;
  bool FSortDescending = false;
  TSkWheelNotches FWheel;
};

class TSkListView : public TSkCustomListView {
 public:
  using TSkCustomListView::TSkCustomListView;
};
