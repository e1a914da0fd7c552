#include "U_Treelist_Gui.h"

#include <QLineEdit>

namespace {

const char* const ColumnTitles[FileColumnCount] = {"Input", "File Size", "Total Time",
                                                   "Output Name"};

}  // namespace

TFileListModel::TFileListModel(QObject* Parent)
    : QAbstractItemModel(Parent), FSelection(new QItemSelectionModel(this, this)) {
  connect(FSelection, &QItemSelectionModel::selectionChanged, this, [this] { ReadSelection(); });
  connect(FSelection, &QItemSelectionModel::currentChanged, this, [this] { ReadSelection(); });
}

TFileNode* TFileListModel::NodeOf(const QModelIndex& Index) const {
  return Index.isValid() ? static_cast<TFileNode*>(Index.internalPointer()) : nullptr;
}

QModelIndex TFileListModel::IndexOf(const TFileNode* Node, int Column) const {
  if (!Node) return QModelIndex();
  const auto& siblings = Node->Parent ? Node->Parent->Children : FList.TopNodes();
  for (size_t row = 0; row < siblings.size(); ++row)
    if (siblings[row].get() == Node)
      return createIndex(static_cast<int>(row), Column, const_cast<TFileNode*>(Node));
  return QModelIndex();
}

void TFileListModel::ReadSelection() {
  FList.ClearSelection();
  for (const QModelIndex& row : FSelection->selectedRows())
    if (TFileNode* node = NodeOf(row)) node->Selected = true;
  FList.SetFocused(NodeOf(FSelection->currentIndex()));
}

void TFileListModel::WriteSelection() {
  QItemSelection selection;
  const auto take = [&](const TFileNode& n) {
    if (n.Selected) selection.select(IndexOf(&n), IndexOf(&n, FileColumnCount - 1));
  };
  for (const auto& top : FList.TopNodes()) {
    take(*top);
    for (const auto& child : top->Children) take(*child);
  }
  TFileNode* focused = FList.Focused();
  FSelection->select(selection, QItemSelectionModel::ClearAndSelect);
  FSelection->setCurrentIndex(IndexOf(focused), QItemSelectionModel::NoUpdate);
}

void TFileListModel::RepaintAll() {
  for (const auto& top : FList.TopNodes()) {
    emit dataChanged(IndexOf(top.get()), IndexOf(top.get(), FileColumnCount - 1));
    if (!top->Children.empty())
      emit dataChanged(IndexOf(top->Children.front().get()),
                       IndexOf(top->Children.back().get(), FileColumnCount - 1));
  }
}

QModelIndex TFileListModel::index(int Row, int Column, const QModelIndex& Parent) const {
  const TFileNode* parent = NodeOf(Parent);
  const auto& siblings = parent ? parent->Children : FList.TopNodes();
  if (Row < 0 || Row >= static_cast<int>(siblings.size()) || Column < 0 ||
      Column >= FileColumnCount)
    return QModelIndex();
  return createIndex(Row, Column, siblings[Row].get());
}

QModelIndex TFileListModel::parent(const QModelIndex& Index) const {
  const TFileNode* node = NodeOf(Index);
  return node ? IndexOf(node->Parent) : QModelIndex();
}

int TFileListModel::rowCount(const QModelIndex& Parent) const {
  if (Parent.column() > 0) return 0;
  const TFileNode* parent = NodeOf(Parent);
  return static_cast<int>(parent ? parent->Children.size() : FList.TopNodes().size());
}

int TFileListModel::columnCount(const QModelIndex&) const { return FileColumnCount; }

QVariant TFileListModel::data(const QModelIndex& Index, int Role) const {
  const TFileNode* node = NodeOf(Index);
  if (!node) return QVariant();
  const int column = Index.column();
  switch (Role) {
    case Qt::DisplayRole:
      return NodeColumnText(*node, column);
    case Qt::EditRole:
      return FileBaseName(QString::fromStdString(node->Data.Output.FileName));
    case Qt::ToolTipRole: {
      const QString hint = NodeHint(*node, column);
      return hint.isEmpty() ? QVariant() : hint;
    }
    case Qt::CheckStateRole:
      if (column == ColInput && node->HasCheckBox)
        return node->Checked() ? Qt::Checked : Qt::Unchecked;
      return QVariant();
    case Qt::DecorationRole:
      if (column == ColInput && NodeImageIndex(*node) < FImages.size())
        return FImages[NodeImageIndex(*node)];
      return QVariant();
  }
  return QVariant();
}

bool TFileListModel::setData(const QModelIndex& Index, const QVariant& Value, int Role) {
  TFileNode* node = NodeOf(Index);
  if (!node) return false;
  if (Role == Qt::CheckStateRole && Index.column() == ColInput && node->HasCheckBox) {
    node->Check(Value.toInt() == Qt::Checked);
  } else if (Role == Qt::EditRole && Index.column() == ColOutputName) {
    if (!FList.RenameOutput(*node, Value.toString())) return false;
  } else {
    return false;
  }
  emit dataChanged(IndexOf(node), IndexOf(node, FileColumnCount - 1));
  return true;
}

Qt::ItemFlags TFileListModel::flags(const QModelIndex& Index) const {
  const TFileNode* node = NodeOf(Index);
  if (!node) return Qt::NoItemFlags;
  Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (Index.column() == ColInput && node->HasCheckBox) result |= Qt::ItemIsUserCheckable;
  if (Index.column() == ColOutputName && node->HasCheckBox && node->Checked())
    result |= Qt::ItemIsEditable;
  return result;
}

QVariant TFileListModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
  if (Orientation != Qt::Horizontal || Role != Qt::DisplayRole || Section < 0 ||
      Section >= FileColumnCount)
    return QVariant();
  return QString::fromLatin1(ColumnTitles[Section]);
}

// ---------------------------------------------------------------------------------------

QWidget* TPropertyEditLink::createEditor(QWidget* Parent, const QStyleOptionViewItem&,
                                         const QModelIndex&) const {
  auto* edit = new QLineEdit(Parent);
  edit->setMaxLength(1024);
  QPalette palette = edit->palette();
  palette.setColor(QPalette::Text, Qt::black);
  edit->setPalette(palette);
  QObject::connect(edit, &QLineEdit::textEdited, edit, [edit](const QString& Text) {
    const QString kept = DropForbiddenNameChars(Text);
    if (kept == Text) return;
    const int cursor = edit->cursorPosition() - static_cast<int>(Text.size() - kept.size());
    edit->setText(kept);
    edit->setCursorPosition(std::max(cursor, 0));
  });
  return edit;
}

void TPropertyEditLink::setEditorData(QWidget* Editor, const QModelIndex& Index) const {
  static_cast<QLineEdit*>(Editor)->setText(Index.data(Qt::EditRole).toString());
}

void TPropertyEditLink::setModelData(QWidget* Editor, QAbstractItemModel* Model,
                                     const QModelIndex& Index) const {
  Model->setData(Index, static_cast<QLineEdit*>(Editor)->text(), Qt::EditRole);
}
