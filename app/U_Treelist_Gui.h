// The file list on screen: a Qt item model over TFileList (which keeps the entries and every
// operation on them), and the in-place editor of an output name.
#pragma once

#include "U_Treelist.h"

#include <QAbstractItemModel>
#include <QIcon>
#include <QItemSelectionModel>
#include <QStyledItemDelegate>

#include <utility>

class TFileListModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  explicit TFileListModel(QObject* Parent = nullptr);

  // The selection the view shows; the list's Selected flags and focus follow it.
  QItemSelectionModel* Selection() const { return FSelection; }
  const TFileList& List() const { return FList; }
  TFileNode* NodeOf(const QModelIndex& Index) const;
  QModelIndex IndexOf(const TFileNode* Node, int Column = 0) const;
  // The pictures of NodeImageIndex: entry, merge group, part.
  void SetImages(QList<QIcon> Images) { FImages = std::move(Images); }

  // Runs a structural change of the list: the view is rebuilt and shows the list's selection
  // and focus afterwards.
  template <typename F>
  auto Change(F&& Operation) {
    ReadSelection();
    beginResetModel();
    struct TEnd {
      TFileListModel* Model;
      ~TEnd() {
        Model->endResetModel();
        Model->WriteSelection();
      }
    } end{this};
    return Operation(FList);
  }
  // Changes that keep the tree's shape (checks, names) and repaint every row.
  template <typename F>
  auto Update(F&& Operation) {
    ReadSelection();
    struct TEnd {
      TFileListModel* Model;
      ~TEnd() { Model->RepaintAll(); }
    } end{this};
    return Operation(FList);
  }

  QModelIndex index(int Row, int Column, const QModelIndex& Parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& Index) const override;
  int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& Index, int Role) const override;
  bool setData(const QModelIndex& Index, const QVariant& Value, int Role) override;
  Qt::ItemFlags flags(const QModelIndex& Index) const override;
  QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;

 private:
  void ReadSelection();
  void WriteSelection();
  void RepaintAll();

  TFileList FList;
  QItemSelectionModel* FSelection;
  QList<QIcon> FImages;
};

// The in-place editor of an output name: the characters a file name may not hold never get
// in, and the name is stored made unique, in its folder and with its extension.
class TPropertyEditLink : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QWidget* createEditor(QWidget* Parent, const QStyleOptionViewItem& Option,
                        const QModelIndex& Index) const override;
  void setEditorData(QWidget* Editor, const QModelIndex& Index) const override;
  void setModelData(QWidget* Editor, QAbstractItemModel* Model,
                    const QModelIndex& Index) const override;
};
