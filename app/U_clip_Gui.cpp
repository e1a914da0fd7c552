#include "U_clip_Gui.h"

#include "FFDecode.h"
#include "PlayerScreen.h"
#include "SkBmpBtn.h"
#include "SkEdit.h"
#include "SkListVw.h"
#include "SkPanel.h"
#include "U_Config_Gui.h"
#include "U_FileOption.h"
#include "VelLog.h"
#include "VelTrackbar.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QToolButton>

namespace {

constexpr int ColumnWidths[] = {150, 130, 130, 129};
constexpr QSize ToolSize(75, 25);
// The buttons under the bar stand side by side in slots of this width.
constexpr int ButtonSlot = 78;
constexpr int ButtonRow = 310;
// The editor sits this far inside its cell.
constexpr int EditorInset = 3;
// Position events let pass after Play.
constexpr int SkipAfterResume = 2;

// Window colour values 0xDE8A20 and 0xD8E9EC.
const QColor SelectedRowColor(0x20, 0x8A, 0xDE);
const QColor SelectedStartColor(0xEC, 0xE9, 0xD8);

// Rows drawn as the list of parts wants them: the selected row in blue with its start cell
// light, every text on one line, centred vertically and cut with an ellipsis.
class TPartRowDelegate : public QStyledItemDelegate {
 public:
  // Rows RowHeight high, so that the time editor opened over a cell fits its row.
  TPartRowDelegate(int RowHeight, QObject* Parent)
      : QStyledItemDelegate(Parent), FRowHeight(RowHeight) {}

  QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const override {
    return {QStyledItemDelegate::sizeHint(Option, Index).width(), FRowHeight};
  }

  void paint(QPainter* Painter, const QStyleOptionViewItem& Option,
             const QModelIndex& Index) const override {
    const bool selected = Option.state & QStyle::State_Selected;
    const bool startCell = selected && Index.column() == 1;
    if (selected) Painter->fillRect(Option.rect, startCell ? SelectedStartColor : SelectedRowColor);
    const QRect text = Option.rect.adjusted(2, 0, -2, 0);
    Painter->setPen(selected && !startCell ? QColor(Qt::white)
                                           : Option.palette.color(QPalette::Text));
    Painter->setFont(Option.font);
    Painter->drawText(
        text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
        Option.fontMetrics.elidedText(Index.data().toString(), Qt::ElideRight, text.width()));
  }

 private:
  int FRowHeight;
};

QToolButton* AddToolButton(QWidget* Parent, const QString& Caption, QPoint At) {
  auto* button = new QToolButton(Parent);
  button->setText(Caption);
  button->setGeometry(QRect(At, ToolSize));
  return button;
}

}  // namespace

TClipfrm::TClipfrm(TCustomPlayer& Player, const TFileOption& Entry, int NextPartNumber,
                   const TClipList& Parts, QWidget* Parent)
    : TSkinForm(QStringLiteral("Clip"), Parent),
      FPlayer(Player),
      FFile(QFile::decodeName(QByteArray::fromStdString(Entry.Input.FileName))),
      FNewPart(NewClipFile(Entry)),
      FNextPartNumber(NextPartNumber),
      FParts(Parts) {
  SetClientSize(QSize(565, 540));
  PanelVideo = new QWidget(Client());
  PanelVideo->setObjectName(QStringLiteral("PanelVideo"));
  PanelVideo->setGeometry(10, 10, 545, 230);

  lblpos = new QLabel(QStringLiteral("00:00:00"), Client());
  lblpos->setGeometry(10, 246, 60, 18);
  lbllen = new QLabel(QStringLiteral(" / 00:00:00"), Client());
  lbllen->setGeometry(68, 246, 80, 18);
  TrckVideo = new TVelTrackbar(Client());
  TrckVideo->setGeometry(10, 264, 545, 40);
  TrckVideo->OnStartChange = [this](TVelTrackbar*) {
    SetMarkers(MoveSegmentStart({TrckVideo->SegStartPos(), TrckVideo->SegEndPos()},
                                TrckVideo->SegStartPos(), FSession->Base()));
    MarkerMoved(TClipColumn::Start);
  };
  TrckVideo->OnEndChange = [this](TVelTrackbar*) {
    SetMarkers(MoveSegmentEnd({TrckVideo->SegStartPos(), TrckVideo->SegEndPos()},
                              TrckVideo->SegEndPos(), FSession->Base()));
    MarkerMoved(TClipColumn::End);
  };

  // The end of the file does not stop the window while a marker is being dragged.
  TrckVideo->OnSegStartMouseDown = TrckVideo->OnSegendMouseDown =
      [this](TVelTrackbar*, Qt::MouseButton, QPoint) { FMarkerHeld = true; };
  TrckVideo->OnSegStartMouseUp = TrckVideo->OnSegEndMouseUp =
      [this](TVelTrackbar*, Qt::MouseButton, QPoint) { FMarkerHeld = false; };

  btnPlay = AddToolButton(Client(), QStringLiteral("Play"), QPoint(10, ButtonRow));
  btnPause = AddToolButton(Client(), QStringLiteral("Pause"), QPoint(10, ButtonRow));
  btnPause->hide();
  btnStop = AddToolButton(Client(), QStringLiteral("Stop"), QPoint(10 + ButtonSlot, ButtonRow));
  FSeekBar = new TPreviewSeekBar(*TrckVideo, btnPlay, btnPause, FPlayer);
  FSeekBar->OnSeek = [this](int64_t Position) {
    if (!FSession) return;
    ShowBarTime();
    FPictureTick = Position;
    SeekToShow(FPlayer, FSession->Base().TimeOf(Position));
  };
  connect(btnPlay, &QToolButton::clicked, this, [this] {
    FSeekBar->SetPositionSkip(SkipAfterResume);
    TogglePlayback(0, btnPlay, btnPause, FPlayer);
  });
  connect(btnPause, &QToolButton::clicked, this, [this] {
    FSeekBar->SetPositionSkip(0);
    TogglePlayback(1, btnPlay, btnPause, FPlayer);
  });
  connect(btnStop, &QToolButton::clicked, this, &TClipfrm::Stop);
  const auto addButton = [this](const char* Name, const QString& Caption, int Slot,
                                std::function<void()> OnClick) {
    TSkBmpButton* button = AddButton(Client(), Name, Caption, ToolSize, std::move(OnClick));
    button->move(10 + Slot * ButtonSlot, ButtonRow);
    return button;
  };
  btnPlayClip = addButton("btnPlayClip", QStringLiteral("Play Clip"), 2, [this] { PlayClip(); });
  btnmarkin = addButton("btnmarkin", QStringLiteral("Set Start"), 3, [this] { MarkIn(); });
  btnmarkout = addButton("btnmarkout", QStringLiteral("Set End"), 4, [this] { MarkOut(); });
  btnadd = addButton("btnadd", QStringLiteral("Add"), 5, [this] { AddPart(); });
  btndelete = addButton("btndelete", QStringLiteral("Delete"), 6, [this] { DeletePart(); });
  btndelete->setEnabled(false);

  lvCutVideo = new TSkListView(Client());
  lvCutVideo->setObjectName(QStringLiteral("lvCutVideo"));
  lvCutVideo->setGeometry(10, 346, 545, 150);
  lvCutVideo->setRootIsDecorated(false);
  lvCutVideo->setHeaderLabels({QStringLiteral("Title"), QStringLiteral("Start Time"),
                               QStringLiteral("End Time"), QStringLiteral("Duration")});
  for (int column = 0; column < 4; ++column)
    lvCutVideo->setColumnWidth(column, ColumnWidths[column]);
  connect(lvCutVideo, &QTreeWidget::itemPressed, this, [this](QTreeWidgetItem* Item, int Column) {
    SelectRow(lvCutVideo->indexOfTopLevelItem(Item),
              Column >= 2 ? TClipColumn::End : TClipColumn::Start);
  });
  connect(lvCutVideo, &QTreeWidget::itemDoubleClicked, this, [this] {
    if (ItemEdit->isVisible()) ItemEdit->setFocus();
  });
  connect(lvCutVideo, &QTreeWidget::itemSelectionChanged, this, &TClipfrm::SelectionChanged);
  for (QScrollBar* bar : {lvCutVideo->verticalScrollBar(), lvCutVideo->horizontalScrollBar()})
    connect(bar, &QScrollBar::valueChanged, this, [this] { ItemEdit->hide(); });
  lvCutVideo->viewport()->installEventFilter(this);

  ItemEdit = new TSkEdit(lvCutVideo->viewport());
  ItemEdit->setObjectName(QStringLiteral("ItemEdit"));
  // Hours, minutes and seconds: the first hour digit may be left out.
  ItemEdit->setInputMask(QStringLiteral("09:99:99"));
  ItemEdit->setMaxLength(8);
  ItemEdit->hide();
  ItemEdit->installEventFilter(this);
  lvCutVideo->setItemDelegate(new TPartRowDelegate(ItemEdit->sizeHint().height(), lvCutVideo));
  connect(ItemEdit, &QLineEdit::editingFinished, this, &TClipfrm::EditorDone);

  OkButton()->move(395, 506);
  CancelButton()->move(480, 506);

  AskSaveChanges = [this](const QString& Text) {
    return QMessageBox::question(this, windowTitle(), Text,
                                 QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  };
  ShowRefusal = [this](const QString& Text) {
    QMessageBox::information(this, windowTitle(), Text);
  };
}

TClipfrm::~TClipfrm() {
  // The list and the editor outlive this part of the window: what they signal as they go
  // (the selection emptied, the focus lost) must not call back into it.
  for (QObject* child : {static_cast<QObject*>(lvCutVideo), static_cast<QObject*>(ItemEdit)})
    child->disconnect(this);
  // A window freed without closing must not leave the player calling into it.
  if (FScreen) FPlayer.Stop(true);
  ClearPlayerEvents(FPlayer);
}

void TClipfrm::TakePlayerEvents() {
  ClearPlayerEvents(FPlayer);
  FPlayer.OnFileOpen = [this](void*, int64_t Duration, int, int, int& ScreenWidth,
                              int& ScreenHeight) {
    ScreenWidth = FScreen->Size().width();
    ScreenHeight = FScreen->Size().height();
    TVideoStreamInfo info;
    std::optional<TVideoStreamInfo> video;
    if (FPlayer.Decoder().GetDefaultVideoStreamInfo(info)) video = info;
    FileOpened(Duration, video);
  };
  FPlayer.OnPosition = [this](void*, int64_t Time) { Position(Time); };
  FPlayer.OnState = [this](void*, TPlayState State) { PlayState(State); };
}

void TClipfrm::showEvent(QShowEvent* Event) {
  TSkinForm::showEvent(Event);
  DressButtons({btnPlayClip, btnmarkin, btnmarkout, btnadd, btndelete});
  OkButton()->setFocus();
  if (FScreen) return;
  FScreen = std::make_unique<TPlayerScreen>(PanelVideo, FPlayer);
  TakePlayerEvents();
  if (OpenInPlayer(FFile, FPlayer, FScreen->Handle()))
    TogglePlayback(0, btnPlay, btnPause, FPlayer);
}

void TClipfrm::FileOpened(int64_t Duration, const std::optional<TVideoStreamInfo>& Video) {
  const TClipTimeBase base = ClipTimeBase(Duration, Video);
  VelLog.WriteInfo(QStringLiteral("FFrames: %1 ").arg(base.TickCount));
  lbllen->setText(QStringLiteral(" / ") + ClipTimeText(Duration));
  TrckVideo->SetMax(base.TickCount);
  SetMarkers({0, base.TickCount});
  TrckVideo->SetPosition(0);
  FPictureTick = 0;
  FSession = std::make_unique<TClipSession>(base, FNewPart, FNextPartNumber, FParts);
  lvCutVideo->clear();
  for (int row = 0; row < static_cast<int>(FSession->Rows().size()); ++row) ShowRow(row);
  if (FParts.empty())
    SelectRow(0, TClipColumn::Start);
  else
    SelectionChanged();
}

void TClipfrm::ShowRow(int Row) {
  const TClipFile& clip = FSession->Rows()[Row];
  QTreeWidgetItem* item = lvCutVideo->topLevelItem(Row);
  if (!item) item = new QTreeWidgetItem(lvCutVideo);
  item->setText(0, clip.Title);
  item->setText(1, ClipTimeText(clip.StartTime));
  item->setText(2, ClipTimeText(clip.EndTime));
  item->setText(3, ClipTimeText(clip.EndTime - clip.StartTime));
}

int TClipfrm::SelectedRow() const {
  const QList<QTreeWidgetItem*> selected = lvCutVideo->selectedItems();
  return selected.isEmpty() ? -1 : lvCutVideo->indexOfTopLevelItem(selected.first());
}

void TClipfrm::SetMarkers(TClipSegment Segment) {
  // The end never passes below the start on the way.
  if (Segment.Start > TrckVideo->SegEndPos()) {
    TrckVideo->SetSegEndPos(Segment.End);
    TrckVideo->SetSegStartPos(Segment.Start);
  } else {
    TrckVideo->SetSegStartPos(Segment.Start);
    TrckVideo->SetSegEndPos(Segment.End);
  }
  // The markers may have pushed the tick, here or while one was dragged.
  if (FSession && TrckVideo->Position() != FPictureTick)
    FSeekBar->Seek(TrckVideo->Position());
  else
    ShowBarTime();
}

void TClipfrm::MarkIn() {
  if (!FSession) return;
  SetMarkers(MoveSegmentStart({TrckVideo->SegStartPos(), TrckVideo->SegEndPos()},
                              TrckVideo->Position(), FSession->Base()));
  MarkerMoved(TClipColumn::Start);
}

void TClipfrm::MarkOut() {
  if (!FSession) return;
  SetMarkers(MoveSegmentEnd({TrckVideo->SegStartPos(), TrckVideo->SegEndPos()},
                            TrckVideo->Position(), FSession->Base()));
  MarkerMoved(TClipColumn::End);
}

void TClipfrm::MarkerMoved(TClipColumn Column) {
  const int row = SelectedRow();
  if (!FSession || row < 0) return;
  const bool start = Column == TClipColumn::Start;
  FSession->SetRowTime(row, Column, start ? TrckVideo->SegStartPos() : TrckVideo->SegEndPos());
  ShowRow(row);
  if (ItemEdit->isVisible() && FEditColumn == Column) {
    FUpdating = true;
    ItemEdit->setText(lvCutVideo->topLevelItem(row)->text(start ? 1 : 2));
    ItemEdit->setModified(false);
    FUpdating = false;
  }
}

void TClipfrm::AddPart() {
  if (!FSession) return;
  ItemEdit->hide();
  const int row = FSession->Add({TrckVideo->SegStartPos(), TrckVideo->SegEndPos()});
  ShowRow(row);
  lvCutVideo->scrollToItem(lvCutVideo->topLevelItem(row));
  SelectRow(row, TClipColumn::Start);
}

void TClipfrm::DeletePart() {
  const int row = SelectedRow();
  if (!FSession || row < 0) return;
  FSession->Delete(row);
  {
    // The rows move up under the selection as the row goes: the markers follow once it is out.
    const QSignalBlocker quiet(lvCutVideo);
    delete lvCutVideo->takeTopLevelItem(row);
  }
  ItemEdit->hide();
  SelectionChanged();
}

void TClipfrm::SelectRow(int Row, TClipColumn Column) {
  if (!FSession || Row < 0 || Row >= static_cast<int>(FSession->Rows().size())) return;
  QTreeWidgetItem* item = lvCutVideo->topLevelItem(Row);
  // A new selection takes the markers along (SelectionChanged); the same one puts them back.
  if (SelectedRow() == Row)
    ShowPart(Row);
  else
    lvCutVideo->setCurrentItem(item);
  FEditColumn = Column;
  PlaceEditor();
  // The cell is open for typing at once, whatever had the focus (the list after a click).
  ItemEdit->setFocus();
  ItemEdit->selectAll();
}

void TClipfrm::SelectionChanged() {
  const int row = SelectedRow();
  btndelete->setEnabled(row >= 0);
  // The markers are the selected part's: with none they have nothing to show or to move.
  TrckVideo->SetShowSegment(row >= 0);
  if (row >= 0 && FSession) ShowPart(row);
}

void TClipfrm::ShowPart(int Row) {
  // Read before the markers move: they pull the tick into the part.
  const int64_t position = TrckVideo->Position();
  const TClipSegment segment = FSession->SegmentOf(Row);
  SetMarkers(segment);
  if (position < segment.Start || position > segment.End) SeekTo(FSession->Rows()[Row].StartTime);
}

void TClipfrm::CancelEdit() {
  FUpdating = true;
  ItemEdit->setModified(false);
  ItemEdit->hide();
  FUpdating = false;
  lvCutVideo->setFocus();
}

void TClipfrm::PlaceEditor() {
  QTreeWidgetItem* item = lvCutVideo->currentItem();
  const int column = FEditColumn == TClipColumn::End ? 2 : 1;
  const QRect row = lvCutVideo->visualItemRect(item);
  const int left = lvCutVideo->header()->sectionViewportPosition(column);
  const int width = lvCutVideo->columnWidth(column);
  FUpdating = true;
  ItemEdit->setGeometry(left + EditorInset, row.top(), width - 2 * EditorInset, row.height());
  ItemEdit->setText(item->text(column));
  ItemEdit->setModified(false);
  FUpdating = false;
  ItemEdit->show();
}

void TClipfrm::EditorDone() {
  const int row = SelectedRow();
  if (FUpdating || !FSession || row < 0 || !ItemEdit->isModified()) return;
  ItemEdit->setModified(false);
  const QString refusal = FSession->EditTime(row, FEditColumn, ItemEdit->text());
  if (!refusal.isEmpty()) {
    QApplication::beep();
    ShowRefusal(refusal);
    PlaceEditor();
    return;
  }
  ShowRow(row);
  SetMarkers(FSession->SegmentOf(row));
}

void TClipfrm::SeekTo(int64_t Time, bool Play) {
  TrckVideo->SetPosition(FSession->Base().PositionOf(Time));
  FSeekBar->SeekAndResume(Play);
}

void TClipfrm::ShowBarTime() {
  lblpos->setText(ClipTimeText(FSession ? FSession->Base().TimeOf(TrckVideo->Position()) : 0));
}

void TClipfrm::PlayClip() {
  if (!FSession) return;
  FPlayingClip = true;
  SeekTo(FSession->Base().TimeOf(TrckVideo->SegStartPos()), true);
}

void TClipfrm::Stop() {
  FPlayingClip = false;
  TogglePlayback(1, btnPlay, btnPause, FPlayer);
  const int64_t end = FSession ? FSession->Base().TickCount : TrckVideo->Max();
  TrckVideo->SetMax(end);
  SetMarkers({0, end});
  TrckVideo->SetPosition(0);
  FSeekBar->Seek(0);
  ShowBarTime();
}

void TClipfrm::Position(int64_t Time) {
  // Only while playing: the pause button shows then.
  if (!FSession || FPlayer.Seeking() || !SeekShown(FPlayer) || btnPause->isHidden()) return;
  if (!FSeekBar->TakePosition()) return;
  const int64_t endTime = FSession->Base().TimeOf(TrckVideo->SegEndPos());
  const bool clipEnded = FPlayingClip && Time >= endTime;
  if (clipEnded) {
    FPlayingClip = false;
    TogglePlayback(1, btnPlay, btnPause, FPlayer);
  }
  // The bar holds its tick at a marker that the play runs past; the label tells the time
  // played all the same.
  TrckVideo->SetPosition(clipEnded ? TrckVideo->SegEndPos() : FSession->Base().PositionOf(Time));
  FPictureTick = TrckVideo->Position();
  lblpos->setText(ClipTimeText(clipEnded ? endTime : Time));
}

void TClipfrm::PlayState(TPlayState State) {
  if (State == psEnd && !FMarkerHeld) Stop();
}

bool TClipfrm::eventFilter(QObject* Watched, QEvent* Event) {
  // Escape in the time editor gives up that edit only, not the window's changes.
  if (Watched == ItemEdit && Event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(Event)->key() == Qt::Key_Escape) {
    CancelEdit();
    return true;
  }
  if (Watched != lvCutVideo->viewport()) return TSkinForm::eventFilter(Watched, Event);
  const bool outside = Event->type() == QEvent::MouseButtonPress &&
                       !lvCutVideo->itemAt(static_cast<QMouseEvent*>(Event)->position().toPoint());
  if (outside || Event->type() == QEvent::Wheel) ItemEdit->hide();
  return false;
}

void TClipfrm::accept() {
  // Without the file there is no list to hand back: the entry keeps its parts.
  if (!FSession) return reject();
  FParts = FSession->Store();
  TSkinForm::accept();
}

void TClipfrm::reject() {
  if (FSession && FSession->Changed()) {
    QApplication::beep();
    const int answer = AskSaveChanges(QStringLiteral("Do you want to save changes?"));
    if (answer == QMessageBox::Yes) return accept();
    if (answer != QMessageBox::No) return;
  }
  TSkinForm::reject();
}

void TClipfrm::done(int Result) {
  FSeekBar->StopTimer();
  if (FScreen) FPlayer.Stop(true);
  ClearPlayerEvents(FPlayer);
  TSkinForm::done(Result);
}

bool ShowClipDialog(TCustomPlayer& Player, const TFileOption& Entry, int NextPartNumber,
                    TClipList& Parts, QWidget* Parent) {
  TClipfrm form(Player, Entry, NextPartNumber, Parts, Parent);
  if (form.exec() != QDialog::Accepted) return false;
  Parts = form.Parts();
  return true;
}
