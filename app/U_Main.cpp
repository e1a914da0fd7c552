#include "U_Main.h"

#include "FFUtils.h"
#include "PlayerScreen.h"
#include "SkBmpBtn.h"
#include "SkPanel.h"
#include "SkRadChk.h"
#include "SkinForm.h"
#include "U_AddFile_Gui.h"
#include "U_Config_Gui.h"
#include "U_Converting_Gui.h"
#include "U_Replace_Gui.h"
#include "U_shutDown_Gui.h"
#include "U_Edit_Gui.h"
#include "U_Formats_Gui.h"
#include "U_clip_Gui.h"
#include "U_option.h"
#include "U_option_Gui.h"
#include "U_properties_Gui.h"
#include "U_updata_Gui.h"
#include "VelLog.h"
#include "uLoadUI.h"
#include "VelTrackbar.h"
#include "U_about.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

namespace {

const QString ProgramName = QStringLiteral("Fennick");
const QColor CaptionColor(0x22, 0x2C, 0x44);
const QColor HeaderSeparator(0x40, 0x41, 0x43);  // 0x434140 as a Windows colour value

QPixmap EntryPicture(QColor Color, bool Stack) {
  QPixmap picture(16, 16);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setPen(Color.darker(160));
  painter.setBrush(Color);
  if (Stack) painter.drawRect(5, 1, 9, 9);
  painter.drawRect(2, Stack ? 5 : 2, 11, Stack ? 9 : 12);
  return picture;
}

TSkBmpButton* MakeButton(QWidget* Parent, const char* Name, const QString& Caption, QSize Size,
                         std::function<void()> OnClick, const QString& Hint = QString()) {
  auto* button = new TSkBmpButton(Parent);
  button->setObjectName(QLatin1String(Name));
  button->SetCaption(Caption);
  button->setFixedSize(Size);
  button->setToolTip(Hint);
  button->OnClick = std::move(OnClick);
  return button;
}

QAction* MakeItem(QMenu* Menu, const char* Name, const QString& Caption,
                  std::function<void()> OnClick) {
  QAction* item = Menu->addAction(Caption);
  item->setObjectName(QLatin1String(Name));
  QObject::connect(item, &QAction::triggered, Menu, std::move(OnClick));
  return item;
}

// A borderless band across the window: the caption, the toolbar, the footer.
TSkPanel* MakeBar(QWidget* Parent, const char* Name, int Height) {
  auto* bar = new TSkPanel(Parent);
  bar->setObjectName(QLatin1String(Name));
  bar->SetBorderOuter(fsNone);
  bar->setFixedHeight(Height);
  return bar;
}

// A folder on an optical disc cannot take outputs.
const QSize NormalSize(920, 570);

// A message box takes its final size in its own show handling (a text of several lines makes
// it taller and wider): it is centred after that, unless its caller or the box itself placed it.
bool ShowMessageBoxCentred(QWidget& Box, QEvent* Event) {
  static_cast<QObject&>(Box).event(Event);
  if (!Box.testAttribute(Qt::WA_Moved)) {
    CentreOverOwner(Box);
    Box.setAttribute(Qt::WA_Moved, false);  // centred again when shown again
  }
  return true;
}

}  // namespace

QSize MainWindowSize(const QSize& Screen) {
  if (Screen.width() >= NormalSize.width() && Screen.height() >= NormalSize.height())
    return NormalSize;
  return QSize(qRound(Screen.width() * 0.9), qRound(Screen.height() * 0.9));
}

TFileListHeader::TFileListHeader(QWidget* Parent) : QHeaderView(Qt::Horizontal, Parent) {
  setSectionsClickable(true);
  setSortIndicatorShown(false);
  setHighlightSections(false);
}

void TFileListHeader::paintSection(QPainter* Painter, const QRect& Rect, int Section) const {
  QLinearGradient face(Rect.topLeft(), Rect.bottomLeft());
  face.setColorAt(0, QColor(0x4A, 0x57, 0x78));
  face.setColorAt(1, CaptionColor);
  Painter->fillRect(Rect, face);
  Painter->setPen(HeaderSeparator);
  Painter->drawLine(Rect.topRight(), Rect.bottomRight());
  Painter->setPen(Qt::white);
  Painter->drawText(Rect.adjusted(6, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter,
                    model()->headerData(Section, Qt::Horizontal, Qt::DisplayRole).toString());
}

// ---------------------------------------------------------------------------------------

TMainfrm::TMainfrm(QWidget* Parent)
    : QWidget(Parent, Qt::Window | Qt::FramelessWindowHint), FModel(new TFileListModel(this)) {
  setWindowTitle(QStringLiteral("Velmora Fennick"));
  ShowInformation = [this](const QString& Text) {
    QMessageBox::information(this, QStringLiteral("Information"), Text);
  };
  ShowWarning = [this](const QString& Text) {
    QMessageBox::warning(this, QStringLiteral("Warning"), Text);
  };
  ShowError = [this](const QString& Text) {
    QMessageBox::critical(this, QStringLiteral("Error"), Text);
  };
  OnEditDialog = [](TMainfrm& Window, TFileNode& Node) {
    EditFileOption(Node.Data, Window.Player(), &Window);
  };
  OnClipDialog = [](TMainfrm& Window, TFileNode& Node, TClipList& Parts) {
    return ShowClipDialog(Window.Player(), Node.Data, Window.Model().List().NextPartNumber(), Parts,
                          &Window);
  };
  OnFormatsDialog = [](TMainfrm& Window, TFileNode& Node) {
    TFormatsWorld world;
    world.OutputFolder = WithSlash(Window.edtoutput->text());
    world.PreviewArea = EditPreviewArea;
    world.SaveWaterMark = SaveWaterMark;
    const TFileList& list = Window.Model().List();
    world.MakeUniqueOutputName = [&list, &Node](const QString& Path, const QString& Extension) {
      return list.MakeUniqueOutputName(Path, Extension, NameSeparator, &Node);
    };
    if (std::optional<TFileOption> changed = EditFormats(Node.Data, world, &Window))
      Node.Data = std::move(*changed);
  };
  OnPropertiesDialog = [](TMainfrm& Window, TFileNode& Node) {
    ShowFileProperties(Node.Data, &Window);
  };
  OnOptionsDialog = [](TMainfrm& Window) { ShowOptions(&Window); };
  OnConvert = [this](TFileListModel& Model) {
    TDialogOverwriteAsker asker;
    TQProcessRunner runner;
    TConvertingfrm form(Model.Update([](TFileList& List) { return List.ConvertNodes(); }), asker,
                        runner, this);
    form.ShowShutDown = [this] {
      return TShutDownFrm(std::make_unique<TLogindPower>(), this).exec();
    };
    form.exec();
  };
  OnUpdateDialog = [](TMainfrm& Window) { ShowUpdate(&Window); };
  OpenFolder = [](const QString& Folder) { BrowseFolder(Folder); };
  FModel->SetImages({QIcon(EntryPicture(QColor(0x7F, 0xA7, 0xD9), false)),
                     QIcon(EntryPicture(QColor(0xE8, 0xB0, 0x4C), true)),
                     QIcon(EntryPicture(QColor(0x8C, 0xC4, 0x7C), false))});
  BuildWindow();
  resize(NormalSize);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  for (const auto key : {TMainSettings::OutputPath, TMainSettings::SnapshotPath})
    QDir().mkpath(MainSettings().Value(key));
  edtoutput->setText(MainSettings().Value(TMainSettings::OutputPath));
  btnStart->setEnabled(false);
  mniRemove->setEnabled(false);
  mniFile->setEnabled(false);
  ApplySelectionKind(TSelectionKind::NothingUsable);
  ResetPlayerControls(0);
  ShowEntryName(ProgramName);
  for (TSkBmpButton* button : findChildren<TSkBmpButton*>()) LoadSkinButton(button);
  LoadSkinCaptionButtons(this);
}

// The player's threads raise the handlers: they end before the handlers go.
TMainfrm::~TMainfrm() {
  StopPreview();
  ClearPlayerEvents(FFPlayer);
}

void TMainfrm::BuildWindow() {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(BuildCaption());
  layout->addWidget(BuildToolbar());
  auto* middle = new QHBoxLayout;
  middle->setContentsMargins(8, 6, 8, 6);
  middle->setSpacing(8);
  VSTFile = new QTreeView(this);
  VSTFile->setObjectName(QStringLiteral("VSTFile"));
  VSTFile->setHeader(new TFileListHeader(VSTFile));
  VSTFile->setModel(FModel);
  VSTFile->setSelectionModel(FModel->Selection());
  VSTFile->setSelectionMode(QAbstractItemView::ExtendedSelection);
  VSTFile->setSelectionBehavior(QAbstractItemView::SelectRows);
  VSTFile->setItemDelegateForColumn(ColOutputName, new TPropertyEditLink(VSTFile));
  VSTFile->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
  VSTFile->setContextMenuPolicy(Qt::CustomContextMenu);
  VSTFile->setMouseTracking(true);
  VSTFile->installEventFilter(this);
  VSTFile->viewport()->installEventFilter(this);
  const int widths[FileColumnCount] = {220, 81, 81, 200};
  for (int i = 0; i < FileColumnCount; ++i) VSTFile->setColumnWidth(i, widths[i]);
  VSTFile->header()->setStretchLastSection(true);
  connect(FModel, &QAbstractItemModel::modelReset, VSTFile, &QTreeView::expandAll);
  connect(FModel->Selection(), &QItemSelectionModel::selectionChanged, this,
          [this] { SelectionChanged(); });
  // The focus can settle after the selection (a rebuilt list sets it last), and the preview
  // plays the focused entry: the caption follows the focus as well, and so does the preview.
  connect(FModel->Selection(), &QItemSelectionModel::currentChanged, this, [this] {
    ShowFocusedEntryName();
    StopPreviewOfAnotherEntry();
  });
  connect(VSTFile, &QWidget::customContextMenuRequested, this, [this](const QPoint& At) {
    StopPreview();
    pmList->popup(VSTFile->viewport()->mapToGlobal(At));
  });
  middle->addWidget(VSTFile, 1);
  middle->addWidget(BuildPreview());
  layout->addLayout(middle, 1);
  layout->addWidget(BuildFooter());
  BuildMenus();
  ConnectPreview();
  VSTFile->setFocus();
  qApp->installEventFilter(this);
}

QWidget* TMainfrm::BuildCaption() {
  TSkPanel* bar = MakeBar(this, "pnlCaption", 34);
  bar->SetColor(0x442C22);
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(12, 0, 8, 0);
  lblSoftName = new QLabel(QStringLiteral("Velmora Fennick"), bar);
  lblSoftName->setStyleSheet(QStringLiteral("color: white; font-weight: bold;"));
  row->addWidget(lblSoftName);
  row->addStretch();
  new TCaptionDrag(*this, {bar, lblSoftName});
  btnHelp = MakeButton(bar, "btnHelp", QStringLiteral("Help"), QSize(56, 22), [this] {
    pmHelp->popup(btnHelp->mapToGlobal(QPoint(0, btnHelp->height())));
  });
  btnmin = MakeButton(bar, "btnmin", QString(), QSize(24, 22), [this] { showMinimized(); });
  btnMax = MakeButton(bar, "btnMax", QStringLiteral("□"), QSize(24, 22), [this] {
    showMaximized();
    btnMax->hide();
    btnRestore->show();
  });
  btnRestore = MakeButton(bar, "btnRestore", QStringLiteral("▭"), QSize(24, 22), [this] {
    showNormal();
    btnRestore->hide();
    btnMax->show();
  });
  btnRestore->hide();
  btnclose = MakeButton(bar, "btnclose", QString(), QSize(24, 22), [this] { close(); });
  // The window's own buttons are worked by mouse: Tab passes them by, as in the dialogs.
  for (TSkBmpButton* b : {btnmin, btnMax, btnRestore, btnclose}) b->setFocusPolicy(Qt::NoFocus);
  for (QWidget* w : {static_cast<QWidget*>(btnHelp), static_cast<QWidget*>(btnmin),
                     static_cast<QWidget*>(btnMax), static_cast<QWidget*>(btnRestore),
                     static_cast<QWidget*>(btnclose)})
    row->addWidget(w);
  bar->installEventFilter(this);
  return bar;
}

QWidget* TMainfrm::BuildToolbar() {
  TSkPanel* bar = MakeBar(this, "pnlTool", 46);
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(8, 6, 8, 6);
  const QSize size(84, 32);
  btnAdd = MakeButton(bar, "btnAdd", QStringLiteral("Add Files"), size, [this] { btnAddClick(); });
  btnEdit = MakeButton(bar, "btnEdit", QStringLiteral("Edit"), size, [this] { btnEditClick(); });
  btnClip = MakeButton(bar, "btnClip", QStringLiteral("Clip"), size, [this] { btnClipClick(); });
  btnMerge =
      MakeButton(bar, "btnMerge", QStringLiteral("Merge"), size, [this] { btnMergeClick(); });
  btnFormats =
      MakeButton(bar, "btnFormats", QStringLiteral("Formats"), size, [this] { btnFormatsClick(); });
  btnOption = MakeButton(bar, "btnOption", QStringLiteral("Options"), size, [this] {
    if (OnOptionsDialog) OnOptionsDialog(*this);
  });
  for (TSkBmpButton* b : {btnAdd, btnEdit, btnClip, btnMerge, btnFormats}) row->addWidget(b);
  row->addStretch();
  row->addWidget(btnOption);
  return bar;
}

QWidget* TMainfrm::BuildPreview() {
  auto* side = new QWidget(this);
  side->setFixedWidth(300);
  auto* column = new QVBoxLayout(side);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(4);
  lblFileName = new QLabel(side);
  lblFileName->setObjectName(QStringLiteral("lblFileName"));
  Perview = new TSkPanel(side);
  Perview->setObjectName(QStringLiteral("Perview"));
  Perview->SetColor(0);
  Perview->setFixedSize(300, 225);
  // The player draws into a native child of its own; the panel keeps its frame around it.
  auto* screen = new QWidget(Perview);
  screen->setObjectName(QStringLiteral("PerviewScreen"));
  screen->setGeometry(2, 2, 296, 221);
  FScreen = std::make_unique<TPlayerScreen>(screen, FFPlayer);
  VideoDisable = new QWidget(Perview);
  VideoDisable->setObjectName(QStringLiteral("VideoDisable"));
  VideoDisable->setGeometry(screen->geometry());
  VideoDisable->setStyleSheet(QStringLiteral("background: black;"));
  VideoDisable->hide();
  TrckVideo = new TVelTrackbar(side);
  TrckVideo->setObjectName(QStringLiteral("TrckVideo"));
  TrckVideo->setFixedHeight(28);
  TrckVideo->SetShowSegment(false);
  auto* controls = new QHBoxLayout;
  const QSize size(50, 26);
  btnPlay = MakeButton(
      side, "btnPlay", QStringLiteral("Play"), size, [this] { btnPlayClick(); },
      QStringLiteral("Play"));
  btnPause = MakeButton(
      side, "btnPause", QStringLiteral("Pause"), size, [this] { btnPauseClick(); },
      QStringLiteral("Pause"));
  btnStop = MakeButton(
      side, "btnStop", QStringLiteral("Stop"), size, [this] { btnStopClick(); },
      QStringLiteral("Stop"));
  btnSnapshot = MakeButton(
      side, "btnSnapshot", QStringLiteral("Shot"), size, [this] { btnSnapshotClick(); },
      QStringLiteral("Snapshot"));
  btnOpen = MakeButton(
      side, "btnOpen", QStringLiteral("Dir"), size, [this] { btnOpenClick(); },
      QStringLiteral("Open snapshot dir"));
  for (TSkBmpButton* b : {btnPlay, btnPause, btnStop, btnSnapshot, btnOpen}) controls->addWidget(b);
  auto* times = new QHBoxLayout;
  lblpos = new QLabel(side);
  lbllen = new QLabel(side);
  times->addStretch();
  times->addWidget(lblpos);
  times->addWidget(lbllen);
  times->setSpacing(0);
  column->addWidget(lblFileName);
  column->addWidget(Perview);
  column->addWidget(TrckVideo);
  column->addLayout(times);
  column->addLayout(controls);
  column->addStretch();
  return side;
}

QWidget* TMainfrm::BuildFooter() {
  TSkPanel* bar = MakeBar(this, "pnlBottom", 52);
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(10, 8, 10, 8);
  chkall = new TSkCheckBox(bar);
  chkall->setObjectName(QStringLiteral("chkall"));
  chkall->SetCaption(QStringLiteral("All"));
  chkall->SetChecked(true);
  chkall->setFixedWidth(48);
  chkall->OnClick = [this] { chkallClick(); };
  auto* label = new QLabel(QStringLiteral("Output:"), bar);
  edtoutput = new QLineEdit(bar);
  edtoutput->setObjectName(QStringLiteral("edtoutput"));
  edtoutput->setReadOnly(true);
  btnChange = MakeButton(bar, "btnChange", QStringLiteral("Changing"), QSize(72, 26),
                         [this] { btnChangeClick(); });
  btnBrowse = MakeButton(bar, "btnBrowse", QStringLiteral("Browse"), QSize(72, 26),
                         [this] { btnBrowseClick(); });
  btnStart = MakeButton(bar, "btnStart", QStringLiteral("Start"), QSize(96, 34),
                        [this] { btnStartClick(); });
  row->addWidget(chkall);
  row->addSpacing(8);
  row->addWidget(label);
  row->addWidget(edtoutput, 1);
  row->addWidget(btnChange);
  row->addWidget(btnBrowse);
  row->addSpacing(16);
  row->addWidget(btnStart);
  return bar;
}

void TMainfrm::BuildMenus() {
  pmList = new QMenu(this);
  mniEdit = MakeItem(pmList, "mniEdit", QStringLiteral("Edit"), [this] { btnEditClick(); });
  mniClip = MakeItem(pmList, "mniClip", QStringLiteral("Clip"), [this] { btnClipClick(); });
  mniFormats =
      MakeItem(pmList, "mniFormats", QStringLiteral("Formats"), [this] { btnFormatsClick(); });
  mniMerge = MakeItem(pmList, "mniMerge", QStringLiteral("Merge"), [this] { btnMergeClick(); });
  mniRename = MakeItem(pmList, "mniRename", QStringLiteral("Rename"), [this] { mniRenameClick(); });
  pmList->addSeparator();
  mniRemove = MakeItem(pmList, "mniRemove", QStringLiteral("Remove"), [this] { mniRemoveClick(); });
  mniClearAll =
      MakeItem(pmList, "mniClearAll", QStringLiteral("Clear All"), [this] { mniClearAllClick(); });
  pmList->addSeparator();
  mniFile = MakeItem(pmList, "mniFile", QStringLiteral("Properties"), [this] { mniFileClick(); });
  pmHelp = new QMenu(this);
  mniHelp = MakeItem(pmHelp, "mniHelp", QStringLiteral("Help"), [this] { mniHelpClick(); });
  mniUpdate = MakeItem(pmHelp, "mniUpdate", QStringLiteral("Check for Update"), [this] {
    if (OnUpdateDialog) OnUpdateDialog(*this);
  });
  mniAbout = MakeItem(pmHelp, "mniAbout", QStringLiteral("About"), [this] {
    Taboutfrm about(this);
    about.exec();
  });
}

// ---------------------------------------------------------------------------------------
// Libraries and adding files

bool TMainfrm::LoadMediaLibraries() {
  const std::string folder =
      QFile::encodeName(ProgramFolder() + QStringLiteral("LibAV")).toStdString();
  const auto fail = [this](const std::string& Error) {
    const QString text = QString::fromStdString(Error);
    ShowError(text);
    VelLog.WriteError(text);
    QCoreApplication::exit(1);
    return false;
  };
  if (!FFEncoder.AVLibLoaded()) {
    if (!FFEncoder.LoadAVLib(folder)) return fail(FFEncoder.LastErrMsg);
    RegisterFilter("nativeeq");
    RegisterFilter("nativehue");
    VelLog.WriteInfo(QStringLiteral("FEncoder Load library successful"));
  }
  if (!FFPlayer.AVLibLoaded()) {
    if (!FFPlayer.LoadAVLib(folder, false)) return fail(FFPlayer.LastErrMsg());
    VelLog.WriteInfo(QStringLiteral("FPlayer Load library successful"));
  }
  if (!FFPlayer.SDLLoaded()) {
    if (!FFPlayer.LoadSDL(folder)) return fail(FFPlayer.LastErrMsg());
    VelLog.WriteInfo(QStringLiteral("FPlayer Load SDLLib successful"));
  }
  return true;
}

void TMainfrm::btnAddClick() {
  QFileDialog dialog(this);
  dialog.setObjectName(QStringLiteral("OpenDialog"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setDirectory(MainSettings().Value(TMainSettings::SourcePath));
  // The masks fold letter case, which is no reading for the user: the list shows its names.
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setNameFilters(OpenFileFilters());
  if (dialog.exec() != QDialog::Accepted) return;
  QStringList files = dialog.selectedFiles();
  // Of several names typed at once the dialog hands back only those its view shows and
  // selected when some are shown: the others are tried as well, never dropped unseen.
  if (const auto* typed = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
    for (const QString& path : TypedFilePaths(typed->text(), dialog.directory()))
      if (!files.contains(path)) files << path;
  if (files.isEmpty()) return;
  MainSettings().SetValue(TMainSettings::SourcePath, WithSlash(QFileInfo(files.front()).path()));
  AddFiles(files);
}

void TMainfrm::AddFiles(const QStringList& Files) {
  const TAddFilesResult result = TAddFilefrm::Execute(
      this, Files, [this](const TProbedFile& File) { return AddMediaFile(File); });
  if (!result.Failed.isEmpty() || result.NotAdded > 0) {
    QApplication::beep();
    ShowWarning(AddFilesSummary(static_cast<int>(Files.size()), result.Failed, result.NotAdded));
  }
  btnStart->setEnabled(!FModel->List().TopNodes().empty());
}

bool TMainfrm::AddMediaFile(const TProbedFile& File) {
  if (!File.Loaded) {
    VelLog.WriteError(File.ErrorText);
    VelLog.WriteError(QStringLiteral("Failed to load File  ") + File.FileName);
    return false;
  }
  VelLog.WriteInfo(QStringLiteral("Success to Load File ") + File.FileName +
                   QStringLiteral("\r\n") + File.MediaText);
  const QString folder = edtoutput->text();
  FModel->Change([&](TFileList& List) { return List.AddMediaEntry(File, folder); });
  ResetPlayerControls(1);
  return true;
}

// ---------------------------------------------------------------------------------------
// The list's buttons and menu items

void TMainfrm::btnStartClick() {
  if (!FModel->List().HasCheckedItem()) {
    QApplication::beep();
    ShowInformation(QStringLiteral("Please select at least one file needed to convert!"));
    return;
  }
  StopPreview();
  if (OnConvert) OnConvert(*FModel);
  // The Return that closed the end message must not be followed by one that starts the same
  // list again: the keyboard goes back to the list.
  VSTFile->setFocus();
}

void TMainfrm::RunEntryDialog(const std::function<void(TMainfrm&, TFileNode&)>& Dialog,
                              TFileNode* Node) {
  StopPreview();
  ClearPlayerEvents(FFPlayer);
  if (Node && Dialog) Dialog(*this, *Node);
  AttachPlayerEvents();
  FModel->Update([](TFileList&) {});
}

void TMainfrm::btnEditClick() {
  RunEntryDialog(OnEditDialog, FModel->List().GetFirstSelectedNode());
}

void TMainfrm::btnClipClick() {
  TFileNode* file = FModel->List().GetFocusedTopNode();
  if (!file) return;
  StopPreview();
  ClearPlayerEvents(FFPlayer);
  TClipList parts = FModel->Update([file](TFileList& List) {
    List.LoadClipListFromNode(*file);
    return List.ClipList();
  });
  const bool accepted = OnClipDialog && OnClipDialog(*this, *file, parts);
  AttachPlayerEvents();
  FModel->Change([&](TFileList& List) {
    if (accepted) {
      List.ClipList() = parts;
      List.SetFocused(file);
      List.RebuildPartNodes(edtoutput->text());
    }
    List.ClearClipList();
    List.ClearSelection();
    file->Selected = true;
  });
}

void TMainfrm::btnFormatsClick() {
  TFileNode* node = FModel->List().GetFirstSelectedNode();
  if (!node) return;
  if (FPreviewOpen) TogglePlayback(1, btnPlay, btnPause, FFPlayer);
  if (OnFormatsDialog) OnFormatsDialog(*this, *node);
  FModel->Update([](TFileList&) {});
}

void TMainfrm::mniFileClick() {
  TFileNode* node = FModel->List().GetFirstSelectedNode();
  if (!node) return;
  if (FPreviewOpen) TogglePlayback(1, btnPlay, btnPause, FFPlayer);
  if (OnPropertiesDialog) OnPropertiesDialog(*this, *node);
}

void TMainfrm::btnMergeClick() {
  const QString refusal = FModel->List().MergeRefusal();
  if (!refusal.isEmpty()) {
    QApplication::beep();
    ShowInformation(refusal);
    return;
  }
  if (FModel->List().SelectedCount() < 2 || !FModel->Change([this](TFileList& List) {
        return List.MergeSelectedItems(edtoutput->text());
      })) {
    QApplication::beep();
    ShowInformation(QStringLiteral("Only choose two or more files can you start to merge."));
  }
}

void TMainfrm::mniRemoveClick() {
  StopPreview();
  FModel->Change([](TFileList& List) { List.RemoveSelectedItems(); });
  if (FModel->List().TopNodes().empty()) btnStart->setEnabled(false);
  if (FModel->List().SelectedCount() == 0) ShowNothingSelected();
}

void TMainfrm::mniClearAllClick() {
  FModel->Change([](TFileList& List) { List.Clear(); });
  btnStart->setEnabled(false);
  StopPreview();
  ShowNothingSelected();
}

void TMainfrm::ShowNothingSelected() {
  mniRemove->setEnabled(false);
  mniFile->setEnabled(false);
  ResetPlayerControls(FPreviewOpen ? 2 : 0);
  ApplySelectionKind(TSelectionKind::NothingUsable);
  ShowEntryName(ProgramName);
}

void TMainfrm::mniRenameClick() {
  const TFileList& list = FModel->List();
  if (list.SelectedCount() != 1) return;
  TFileNode* node = list.GetFirstSelectedNode();
  if (node->HasCheckBox && node->Checked()) VSTFile->edit(FModel->IndexOf(node, ColOutputName));
}

void TMainfrm::chkallClick() {
  FModel->Update([this](TFileList& List) {
    List.SetAllChecked(chkall->Checked() ? CheckedState : UncheckedState);
  });
  VSTFile->setFocus();
}

void TMainfrm::btnChangeClick() {
  const QString folder = SelectFolder(QStringLiteral("Select Output Folder"), edtoutput->text());
  if (!folder.isEmpty()) ChangeOutputFolder(folder);
}

void TMainfrm::ChangeOutputFolder(const QString& Folder) {
  if (IsOnOpticalDisc(Folder)) {
    QApplication::beep();
    ShowInformation(QStringLiteral("Output folder cannot be located in CD-ROM!"));
    return;
  }
  const QString folder = WithSlash(Folder);
  edtoutput->setText(folder);
  if (folder == MainSettings().Value(TMainSettings::OutputPath)) return;
  MainSettings().SetValue(TMainSettings::OutputPath, folder);
  FModel->Update([&folder](TFileList& List) { List.ChangeOutputFolder(folder); });
}

void TMainfrm::btnBrowseClick() { OpenFolder(MainSettings().Value(TMainSettings::OutputPath)); }

void TMainfrm::btnOpenClick() { OpenFolder(MainSettings().Value(TMainSettings::SnapshotPath)); }

void TMainfrm::mniHelpClick() { OpenURL(ReadUrlConfig(QStringLiteral("HelpPage"))); }

// ---------------------------------------------------------------------------------------
// Selection

void TMainfrm::ApplySelectionKind(TSelectionKind Kind) {
  const TSelectionControls on = ControlsOfKind(Kind);
  btnEdit->setEnabled(on.Edit);
  mniEdit->setEnabled(on.Edit);
  btnClip->setEnabled(on.Clip);
  mniClip->setEnabled(on.Clip);
  btnMerge->setEnabled(on.Merge);
  mniMerge->setEnabled(on.Merge);
  btnFormats->setEnabled(on.Formats);
  mniFormats->setEnabled(on.Formats);
  mniRename->setEnabled(on.Formats);
}

void TMainfrm::ShowEntryName(const QString& Name) {
  const int fit =
      lblFileName->width() / std::max(1, lblFileName->fontMetrics().horizontalAdvance('a'));
  const bool whole = Name.size() <= fit;
  lblFileName->setAlignment((whole ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter);
  lblFileName->setText(whole ? Name : Name.left(std::max(0, fit - 3)) + QStringLiteral("..."));
  lblFileName->setToolTip(Name);
}

void TMainfrm::ShowFocusedEntryName() {
  if (const TFileNode* node = FModel->List().Focused()) ShowEntryName(NodeEntryName(*node));
}

void TMainfrm::SelectionChanged() {
  const TFileList& list = FModel->List();
  ShowFocusedEntryName();
  mniFile->setEnabled(list.SelectedCount() == 1);
  mniRemove->setEnabled(list.SelectedCount() > 0);
  ApplySelectionKind(list.SelectionKind());
  FRestoreMode = list.RestoreModeOfSelection();
  StopPreviewOfAnotherEntry();
  if (!FPreviewOpen)
    ResetPlayerControls(list.SelectedCount() > 1 ? 0 : FRestoreMode);
  else
    TmrStop->start();
}

// ---------------------------------------------------------------------------------------
// Window

void TMainfrm::showEvent(QShowEvent* Event) {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QSize fitted = MainWindowSize(screen->size());
    if (fitted != NormalSize) resize(fitted);
  }
  edtoutput->setText(MainSettings().Value(TMainSettings::OutputPath));
  QWidget::showEvent(Event);
  // Without a window manager nobody else gives the new window the keyboard.
  if (!Event->spontaneous()) activateWindow();
}

// Without a window manager the X server hands the keyboard to the root window when a window
// closes: the window left in front (a modal one still open, else the closed one's owner, else
// this one) takes it back.
void TMainfrm::ReturnKeyboardAfter(const QWidget& Closed) {
  const QPointer<QWidget> owner = Closed.parentWidget() ? Closed.parentWidget()->window() : this;
  QTimer::singleShot(0, this, [this, owner] {
    QWidget* next = QApplication::activeModalWidget();
    if (!next) next = owner ? owner.data() : this;
    if (next->isVisible() && !next->isActiveWindow()) next->activateWindow();
  });
}

void TMainfrm::resizeEvent(QResizeEvent* Event) {
  setMask(RoundRectRegion(size(), 12));
  QWidget::resizeEvent(Event);
}

void TMainfrm::closeEvent(QCloseEvent* Event) {
  StopPreview();
  ClearPlayerEvents(FFPlayer);
  QWidget::closeEvent(Event);
}

bool TMainfrm::eventFilter(QObject* Watched, QEvent* Event) {
  if (Event->type() == QEvent::Hide && Watched->isWidgetType()) {
    const auto* closed = static_cast<QWidget*>(Watched);
    const Qt::WindowType type = closed->windowType();
    if (closed->isWindow() && closed != this && type != Qt::Popup && type != Qt::ToolTip)
      ReturnKeyboardAfter(*closed);
  }
  if (Event->type() == QEvent::Show && !Event->spontaneous() && qobject_cast<QMessageBox*>(Watched))
    return ShowMessageBoxCentred(*static_cast<QWidget*>(Watched), Event);
  if (Watched == VSTFile && Event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(Event);
    if (key->key() == Qt::Key_Delete && FModel->List().SelectedCount() > 0) {
      mniRemoveClick();
      return true;
    }
    if (key->key() == Qt::Key_F2) {
      mniRenameClick();
      return true;
    }
  }
  if (Watched == VSTFile->viewport() && Event->type() == QEvent::MouseButtonPress) {
    // A press on an output name edits it once the press has selected the row.
    const auto* press = static_cast<QMouseEvent*>(Event);
    const QModelIndex index = VSTFile->indexAt(press->position().toPoint());
    if (press->button() != Qt::RightButton && index.column() == ColOutputName &&
        (index.flags() & Qt::ItemIsEditable))
      QTimer::singleShot(0, VSTFile, [this, index = QPersistentModelIndex(index)] {
        if (index.isValid()) VSTFile->edit(index);
      });
  }
  return QWidget::eventFilter(Watched, Event);
}
