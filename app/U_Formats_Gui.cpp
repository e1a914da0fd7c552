#include "U_Formats_Gui.h"

#include "ShockwaveEx.h"
#include "SkBmpBtn.h"
#include "SkCmboBx.h"
#include "SkEdit.h"
#include "SkLabel.h"
#include "SkListVw.h"
#include "SkPanel.h"
#include "SkRadChk.h"
#include "SkSpnEdt.h"
#include "SkTabs.h"
#include "SkinPreviewJob.h"
#include "U_Config.h"
#include "VelLog.h"

#include <QCoreApplication>
#include <QDomDocument>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

constexpr QSize ClientSize(660, 395);
constexpr TColor PageFace = 0xF0F0F0;
constexpr int LabelWidth = 88;
constexpr int FieldLeft = 100;
constexpr int FieldWidth = 190;
constexpr int RowHeight = 60;
constexpr int PreviewToolTimeLimitMs = 20000;

template <class T>
T* Place(QWidget* Parent, int X, int Y, int W, int H) {
  auto* widget = new T(Parent);
  widget->setGeometry(X, Y, W, H);
  return widget;
}

TSkLabel* AddLabel(QWidget* Parent, const QString& Caption, int X, int Y) {
  auto* label = Place<TSkLabel>(Parent, X, Y + 3, LabelWidth, 18);
  label->SetCaption(Caption);
  return label;
}

TSkCheckBox* AddCheck(QWidget* Parent, const QString& Caption, int X, int Y) {
  auto* box = Place<TSkCheckBox>(Parent, X, Y, 300, 20);
  box->SetCaption(Caption);
  return box;
}

TSkGroupBox* AddGroup(QWidget* Parent, const QString& Caption, QRect Bounds) {
  auto* group = Place<TSkGroupBox>(Parent, Bounds.x(), Bounds.y(), Bounds.width(), Bounds.height());
  group->SetCaption(Caption);
  return group;
}

TSkTabSheet* AddSheet(TSkPageControl* Pages, const QString& Caption) {
  auto* sheet = new TSkTabSheet(Pages);
  sheet->SetCaption(Caption);
  sheet->SetColor(PageFace);
  return sheet;
}

// Each skin row: a face box (an outline when selected) with the skin's picture on it.
class TSkinRowDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* Painter, const QStyleOptionViewItem& Option,
             const QModelIndex& Index) const override {
    const QImage picture = Index.data(Qt::DecorationRole).value<QImage>();
    const QRect cell = Option.rect.adjusted(1, 0, -1, 0);
    const int right = cell.left() + 1 + picture.width() + 19;
    if (Option.state & QStyle::State_Selected) {
      Painter->setPen(QPen(QColor(0x0A, 0x24, 0x6A), 3));
      Painter->setBrush(Qt::NoBrush);
      Painter->drawRect(QRect(QPoint(cell.left() + 1, cell.top() + 3),
                              QPoint(right, cell.top() + 7 + picture.height())));
    } else {
      Painter->fillRect(QRect(QPoint(cell.left() + 1, cell.top() + 4),
                              QPoint(right, cell.top() + 6 + picture.height())),
                        QColor(0xD4, 0xD0, 0xC8));
    }
    Painter->drawImage(cell.left() + 10, cell.top() + 5, picture);
  }

  QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
    return QSize(100, RowHeight);
  }
};

}  // namespace

std::optional<TFileOption> EditFormats(const TFileOption& Entry, const TFormatsWorld& World,
                                       QWidget* Parent) {
  TFormatsfrm dialog(Entry, World, Parent);
  dialog.exec();
  if (!dialog.Written()) return std::nullopt;
  return dialog.Entry();
}

TFormatsfrm::TFormatsfrm(const TFileOption& Entry, const TFormatsWorld& World, QWidget* Parent)
    : TSkinForm(QStringLiteral("Formats"), Parent), FEntry(Entry), FWorld(World) {
  ShowInformation = [this](const QString& Text) {
    QMessageBox::information(this, windowTitle(), Text);
  };
  SetClientSize(ClientSize);
  EnterPressesOk = true;
  FPreviewJob = new TSkinPreviewJob(
      ProgramFolder() + QStringLiteral("LibAV/"),
      DataPlaces().Scratch + QStringLiteral("preview-%1/").arg(QCoreApplication::applicationPid()),
      PreviewToolTimeLimitMs, this);
  connect(FPreviewJob, &TSkinPreviewJob::Finished, this, &TFormatsfrm::PreviewBuilt);
  QWidget* client = Client();
  pageFormats = Place<TSkPageControl>(client, 6, 4, 648, 346);
  pageFormats->SetColor(PageFace);
  tsprofiles = AddSheet(pageFormats, QStringLiteral("Profiles"));
  tsforamt = AddSheet(pageFormats, QStringLiteral("Format"));
  tsplayerskin = AddSheet(pageFormats, QStringLiteral("Player Skin"));
  pageFormats->HideAllTabs();
  BuildProfilesPage();
  BuildOutputPage();
  BuildSkinPage();

  chkFormatDefault = AddCheck(client, QStringLiteral("Save as default"), 12, 362);
  const auto stepButton = [&](const QString& Caption, int X, int Step) {
    auto* button = Place<TSkBmpButton>(client, X, 360, 75, 25);
    button->SetCaption(Caption);
    button->OnClick = [this, Step] { MovePage(Step); };
    return button;
  };
  btnBack = stepButton(QStringLiteral("Back"), 412, -1);
  btnNext = stepButton(QStringLiteral("Next"), 495, 1);
  OkButton()->move(578, 360);
}

TSkComboBox* TFormatsfrm::AddBox(QWidget* Parent, const QString& Caption, int Top, TFormatBox Box) {
  AddLabel(Parent, Caption, 12, Top);
  auto* box = Place<TSkComboBox>(Parent, FieldLeft, Top, FieldWidth, 22);
  box->OnChange = [this] { BoxChanged(); };
  FBoxes[Box] = box;
  return box;
}

void TFormatsfrm::BuildProfilesPage() {
  AddLabel(tsprofiles, QStringLiteral("Profiles:"), 14, 12);
  cbbFormat = Place<TSkComboBox>(tsprofiles, FieldLeft + 4, 12, 330, 22);
  cbbFormat->OnChange = [this] { ProfileChosen(); };

  auto* video = AddGroup(tsprofiles, QStringLiteral("Video"), QRect(8, 46, 306, 236));
  cbbVideoEncoder = AddBox(video, QStringLiteral("Encoder:"), 24, fbVideoEncoder);
  cbbVideoEncoder->setMaxVisibleItems(12);
  cbbVideoEncoder->OnChange = [this] {
    if (FUpdating) return;
    BoxChanged();
    ApplyEncoderRule();
  };
  cbbVideoBitRate = AddBox(video, QStringLiteral("Bit Rate:"), 56, fbVideoBitRate);
  cbbFrameRate = AddBox(video, QStringLiteral("Frame Rate:"), 88, fbFrameRate);
  const auto sizeBox = [&](const QString& Caption, int Top) {
    AddLabel(video, Caption, 12, Top);
    auto* edit = Place<TSkSpinEdit>(video, FieldLeft, Top, 90, 22);
    edit->AllowKeyEdit = true;
    edit->SetMin(MinFrameSide);
    edit->SetMax(FrameBoxMaximum);
    edit->SetIntValue(MinFrameSide);
    edit->installEventFilter(this);
    return edit;
  };
  edtWidth = sizeBox(QStringLiteral("Width:"), 120);
  edtHeight = sizeBox(QStringLiteral("Height:"), 152);
  edtWidth->OnChange = [this] { SizeTyped(true); };
  edtHeight->OnChange = [this] { SizeTyped(false); };
  chkVideo = AddCheck(video, QStringLiteral("Proportional"), FieldLeft, 186);
  chkVideo->SetChecked(true);

  auto* audio = AddGroup(tsprofiles, QStringLiteral("Audio"), QRect(326, 46, 306, 236));
  cbbAudioEncoder = AddBox(audio, QStringLiteral("Encoder:"), 24, fbAudioEncoder);
  cbbChannels = AddBox(audio, QStringLiteral("Channels:"), 56, fbChannel);
  cbbSampleRate = AddBox(audio, QStringLiteral("Sample Rate:"), 88, fbSampleRate);
  cbbAudioBitRate = AddBox(audio, QStringLiteral("Bit Rate:"), 120, fbAudioBitRate);
  AddLabel(audio, QStringLiteral("Volume:"), 12, 152);
  edtVolume = Place<TSkSpinEdit>(audio, FieldLeft, 152, 90, 22);
  edtVolume->AllowKeyEdit = true;
  edtVolume->SetMin(0);
  edtVolume->SetMax(MaxVolume);
  edtVolume->SetCheckRange(false);
  edtVolume->SetIntValue(MaxVolume);
  edtVolume->installEventFilter(this);
  edtVolume->OnChange = [this] { BoxChanged(); };
  chkAudio = AddCheck(audio, QStringLiteral("Enable Audio"), FieldLeft, 186);
  chkAudio->SetChecked(true);
  chkAudio->OnClick = [this] {
    if (!FUpdating) SetAudioEnabled(chkAudio->Checked());
  };
  for (QWidget* child : audio->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
    if (child != chkAudio) FAudioControls << child;

  // The container follows the profile; the user never picks it here.
  cbbExt = AddBox(tsprofiles, QStringLiteral("Format:"), 292, fbFormat);
  for (QWidget* hidden : tsprofiles->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
    if (hidden->y() >= 292) hidden->hide();
}

void TFormatsfrm::BuildOutputPage() {
  chkgenerateflv = AddCheck(tsforamt, QStringLiteral("Generate FLV"), 24, 24);
  chkgenerateswf = AddCheck(tsforamt, QStringLiteral("Generate SWF"), 24, 56);
  rbembed = Place<TSkRadioButton>(tsforamt, 48, 84, 400, 20);
  rbembed->SetCaption(QStringLiteral("Embed the video in SWF and play in timeline"));
  rbCreated = Place<TSkRadioButton>(tsforamt, 48, 110, 400, 20);
  rbCreated->SetCaption(QStringLiteral("Play the created external FLV file progressively"));
  chkGeneratehtml = AddCheck(tsforamt, QStringLiteral("Generate HTML"), 24, 144);
  chkGeneratethumbnail = AddCheck(tsforamt, QStringLiteral("Generate Thumbnail"), 24, 176);
  const auto clicked = [this](auto Rule) {
    return [this, Rule] {
      if (FUpdating) return;
      ReadOutputs();
      Rule(FOutputs, Context());
      ShowOutputs();
    };
  };
  chkgenerateflv->OnClick = clicked(&ClickFlv);
  chkgenerateswf->OnClick = clicked(&ClickSwf);
  const auto keep = [](TOutputChoices&, TOutputContext) {};
  for (TSkCustomGlyphButton* box : std::initializer_list<TSkCustomGlyphButton*>{
           rbembed, rbCreated, chkGeneratehtml, chkGeneratethumbnail})
    box->OnClick = clicked(keep);
}

void TFormatsfrm::BuildSkinPage() {
  SWF = Place<TShockwaveFlashEx>(tsplayerskin, 10, 10, 311, 232);
  // Only shows the skin: there is nothing in it for the keyboard, so Tab passes it by.
  SWF->setFocusPolicy(Qt::NoFocus);
  auto* tabs = Place<TSkPageControl>(tsplayerskin, 334, 8, 300, 236);
  tabs->SetColor(PageFace);
  tabs->SetTabStyle(tsRoundCorners);
  TSkTabSheet* player = AddSheet(tabs, QStringLiteral("Player"));
  TSkTabSheet* option = AddSheet(tabs, QStringLiteral("Option"));
  lvSkin = Place<TSkListView>(player, 4, 4, 284, 196);
  lvSkin->setHeaderHidden(true);
  lvSkin->setColumnCount(1);
  lvSkin->setRootIsDecorated(false);
  lvSkin->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvSkin->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvSkin->setItemDelegate(new TSkinRowDelegate(lvSkin));
  QObject::connect(lvSkin, &QTreeWidget::itemSelectionChanged, this, [this] {
    if (!FUpdating) UpdatePreview();
  });

  auto* skin = AddGroup(option, QStringLiteral("Skin Seeting"), QRect(6, 6, 280, 86));
  chkautohide = AddCheck(skin, QStringLiteral("Auto Hide toolbar"), 14, 26);
  chkshowbigbutton = AddCheck(skin, QStringLiteral("Show Big Play Button"), 14, 54);
  auto* playback = AddGroup(option, QStringLiteral("Playback Seeting"), QRect(6, 102, 280, 86));
  chkAutoRewind = AddCheck(playback, QStringLiteral("Auto Rewind"), 14, 26);
  chkAutoPlay = AddCheck(playback, QStringLiteral("Auto play"), 14, 54);
  for (TSkCheckBox* box : {chkautohide, chkshowbigbutton})
    box->OnClick = [this] {
      if (!FUpdating) UpdatePreview();
    };
  tabs->SetActivePageIndex(0);

  AddLabel(tsplayerskin, QStringLiteral("Background Color:"), 10, 256)->resize(110, 18);
  BgColorbox = Place<TSkColorEdit>(tsplayerskin, 124, 254, 70, 22);
  BgColorbox->DefaultColor = clBlack;
  BgColorbox->ShowCustomColor = true;
  BgColorbox->ShowDefaultColor = true;
  BgColorbox->SetSelectedColor(clBlack);
  BgColorbox->OnChange = [this] {
    if (!FUpdating) UpdatePreview();
  };
}

// ---------------------------------------------------------------------------------------

void TFormatsfrm::showEvent(QShowEvent* Event) {
  TSkinForm::showEvent(Event);
  for (TSkBmpButton* button : {btnBack, btnNext}) {
    const TSkButtonBitmaps& face = OkButton()->Bitmaps();
    button->Bitmaps().SetUp(face.Up());
    button->Bitmaps().SetHot(face.Hot());
    button->Bitmaps().SetDown(face.Down());
    button->SetButtonBorder(OkButton()->ButtonBorder());
  }
  FUpdating = true;
  MovePage(-FormatsPageCount);
  LoadProfiles();
  LoadEntry();
  FUpdating = false;
  UpdatePreview();
  OkButton()->setFocus();
}

void TFormatsfrm::LoadProfiles() {
  QDomDocument document;
  QString error;
  if (!OpenXmlFile(document, FormatProfilesFileName(), &error)) {
    ShowInformation(error);
    FLists = TFormatLists();
    return;
  }
  FLists = FormatListsOf(LoadFormatProfiles(document));
  VelLog.WriteInfo(QStringLiteral("Load [Format.dat] successful."));
  for (int box = 0; box < fbCount; ++box) FBoxes[box]->addItems(FLists.Items[box]);
  cbbFormat->addItems(FLists.ProfileNames);
}

void TFormatsfrm::LoadEntry() {
  const QSize size = ParseFrameSize(FEntry.OutputFrameSize);
  edtWidth->SetIntValue(size.width());
  edtHeight->SetIntValue(size.height());
  edtVolume->SetIntValue(FEntry.Output.AudioVolume);
  chkAudio->SetChecked(!FEntry.Output.DisableAudio);
  SetAudioEnabled(!FEntry.Output.DisableAudio);
  if (!FLists.ProfileNames.isEmpty()) {
    const int profile = ProfileIndexOf(FEntry.Formatid, FLists);
    cbbFormat->setCurrentIndex(profile);
    const TFormatSelection selection =
        profile < FLists.CustomIndex() ? FLists.Profiles[profile] : CustomSelection(FLists, FEntry);
    ShowSelection(selection);
    cbbExt->SetReadOnly(IsH264Selection(FLists, selection));
  }
  FillSkins();
  FOutputs = LoadOutputChoices(FEntry, Context());
  ShowOutputs();
  const TSWFData& player = FEntry.SWFData;
  chkautohide->SetChecked(player.autohide);
  chkshowbigbutton->SetChecked(player.showbigplay);
  chkAutoRewind->SetChecked(player.autoRewind);
  chkAutoPlay->SetChecked(player.autoplay);
  BgColorbox->SetSelectedColor(FEntry.BGColor);
}

void TFormatsfrm::FillSkins() {
  lvSkin->clear();
  FSkinPictures = FindFilesByMask(ProgramFolder() + QStringLiteral("templates/Player"),
                                  QStringLiteral("png"), true);
  for (const QString& file : FSkinPictures) {
    auto* item = new QTreeWidgetItem(lvSkin);
    item->setData(0, Qt::DecorationRole, QImage(file));
  }
  const int selected = SkinIndexOf(FSkinPictures, FEntry.PlayerSkin);
  if (selected >= 0) lvSkin->setCurrentItem(lvSkin->topLevelItem(selected));
}

void TFormatsfrm::ShowSelection(const TFormatSelection& Selection) {
  const bool updating = std::exchange(FUpdating, true);
  for (int box = 0; box < fbCount; ++box) FBoxes[box]->setCurrentIndex(Selection.Index[box]);
  FUpdating = updating;
}

TFormatSelection TFormatsfrm::Selection() const {
  TFormatSelection selection;
  for (int box = 0; box < fbCount; ++box) selection.Index[box] = FBoxes[box]->currentIndex();
  return selection;
}

void TFormatsfrm::ShowOutputs() {
  const bool updating = std::exchange(FUpdating, true);
  chkgenerateflv->SetChecked(FOutputs.Flv);
  chkgenerateswf->SetChecked(FOutputs.Swf);
  chkGeneratehtml->SetChecked(FOutputs.Html);
  chkGeneratehtml->setEnabled(FOutputs.HtmlEnabled);
  chkGeneratethumbnail->SetChecked(FOutputs.Thumbnail);
  rbembed->SetChecked(FOutputs.Embed);
  rbCreated->SetChecked(!FOutputs.Embed);
  rbembed->setEnabled(FOutputs.EmbedEnabled);
  rbCreated->setEnabled(FOutputs.CreatedEnabled);
  if (pageFormats->ActivePage() == tsforamt) btnNext->setEnabled(FOutputs.Swf);
  FUpdating = updating;
}

void TFormatsfrm::ReadOutputs() {
  FOutputs.Flv = chkgenerateflv->Checked();
  FOutputs.Swf = chkgenerateswf->Checked();
  FOutputs.Html = chkGeneratehtml->Checked();
  FOutputs.Thumbnail = chkGeneratethumbnail->Checked();
  FOutputs.Embed = rbembed->Checked();
}

void TFormatsfrm::SetAudioEnabled(bool Enabled) {
  for (QWidget* control : FAudioControls) control->setEnabled(Enabled);
}

TOutputContext TFormatsfrm::Context() const {
  return {FEntry.IsMergeGroup, IsH264Selection(FLists, Selection())};
}

void TFormatsfrm::ProfileChosen() {
  if (FUpdating) return;
  const int index = cbbFormat->currentIndex();
  if (index >= 0 && index < FLists.CustomIndex()) ShowSelection(FLists.Profiles[index]);
  ApplyEncoderRule();
}

void TFormatsfrm::ApplyEncoderRule() {
  ReadOutputs();
  const bool h264 = ProfileChanged(FOutputs, Context());
  cbbExt->SetReadOnly(h264);
  if (h264) cbbExt->setCurrentIndex(0);
  ShowOutputs();
}

void TFormatsfrm::BoxChanged() {
  if (FUpdating || FLists.ProfileNames.isEmpty()) return;
  const bool updating = std::exchange(FUpdating, true);
  cbbFormat->setCurrentIndex(FLists.CustomIndex());
  FUpdating = updating;
}

void TFormatsfrm::SizeTyped(bool Width) {
  if (FUpdating) return;
  BoxChanged();
  TSkSpinEdit* typed = Width ? edtWidth : edtHeight;
  if (!chkVideo->Checked() || !typed->hasFocus()) return;
  const std::optional<int> other =
      Width ? ProportionalHeight(typed->IntValue(), FEntry.OutputFrameSize, Context().H264)
            : ProportionalWidth(typed->IntValue(), FEntry.OutputFrameSize, Context().H264);
  if (!other) return;
  const bool updating = std::exchange(FUpdating, true);
  (Width ? edtHeight : edtWidth)->setText(QString::number(*other));
  FUpdating = updating;
}

bool TFormatsfrm::eventFilter(QObject* Watched, QEvent* Event) {
  auto* edit = dynamic_cast<TSkSpinEdit*>(Watched);
  if (edit && Event->type() == QEvent::KeyRelease && edit->text().isEmpty())
    edit->setText(QStringLiteral("0"));
  // Leaving the box is moving to another control: the window losing the keyboard to another
  // one (the message box among them) or closing is no leaving.
  if (edit == edtVolume && Event->type() == QEvent::FocusOut) {
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(Event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) VolumeInRange();
  }
  return TSkinForm::eventFilter(Watched, Event);
}

bool TFormatsfrm::VolumeInRange() {
  if (!edtVolume->isEnabled() || edtVolume->text().toInt() <= MaxVolume) return true;
  ShowInformation(VolumeErrorText);
  edtVolume->setFocus();
  return false;
}

void TFormatsfrm::MovePage(int Step) {
  const int page = std::clamp(pageFormats->ActivePageIndex() + Step, 0, FormatsPageCount - 1);
  pageFormats->SetActivePageIndex(page);
  const TPageButtons buttons = PageButtonsOf(page, chkgenerateswf->Checked());
  btnBack->setEnabled(buttons.Back);
  btnNext->setEnabled(buttons.Next);
  // The size may have changed on the first page since the preview was built.
  if (!FUpdating && pageFormats->ActivePage() == tsplayerskin && PreviewStage() != FPreviewStage)
    UpdatePreview();
}

int TFormatsfrm::SelectedSkin() const {
  const QList<QTreeWidgetItem*> selected = lvSkin->selectedItems();
  return selected.isEmpty() ? -1 : lvSkin->indexOfTopLevelItem(selected.first());
}

// The page will be made at the size the boxes hold when OK is pressed.
QSize TFormatsfrm::PreviewStage() const {
  return SkinPreviewStage({edtWidth->IntValue(), edtHeight->IntValue()}, SWF->size());
}

void TFormatsfrm::UpdatePreview() {
  FPreviewStage = PreviewStage();
  const int index = SelectedSkin();
  const QString skin = ChosenSkin(FSkinPictures, index);
  const TSWFData settings = PreviewSettings(
      skin, chkautohide->Checked(), chkshowbigbutton->Checked(), BgColorbox->SelectedColor());
  const int row = index >= 0 ? index : 0;
  SWF->SetStill(row < FSkinPictures.size() ? QImage(FSkinPictures[row]) : QImage(),
                QColor::fromRgb(settings.bgcolor));
  SWF->SetMovie(QString(), FPreviewStage);
  if (!skin.isEmpty()) FPreviewJob->Start(skin, settings, FPreviewStage);
}

void TFormatsfrm::PreviewBuilt(const QString& Movie, const QString& Error) {
  if (Movie.isEmpty())
    VelLog.WriteError(QStringLiteral("Skin preview failed: ") + Error);
  else
    SWF->SetMovie(Movie, FPreviewStage);
}

// ---------------------------------------------------------------------------------------

TFormatsChoice TFormatsfrm::Choice() const {
  TFormatsChoice c;
  c.ProfileIndex = cbbFormat->currentIndex();
  c.Selection = Selection();
  c.Width = edtWidth->IntValue();
  c.Height = edtHeight->IntValue();
  c.Volume = edtVolume->text().toInt();
  c.EnableAudio = chkAudio->Checked();
  c.Outputs = FOutputs;
  c.AutoHide = chkautohide->Checked();
  c.ShowBigPlay = chkshowbigbutton->Checked();
  c.AutoRewind = chkAutoRewind->Checked();
  c.AutoPlay = chkAutoPlay->Checked();
  c.BGColor = BgColorbox->SelectedColor();
  c.Skin = ChosenSkin(FSkinPictures, SelectedSkin());
  c.SaveAsDefault = chkFormatDefault->Checked();
  return c;
}

void TFormatsfrm::accept() {
  if (FLists.ProfileNames.isEmpty()) {
    reject();
    return;
  }
  // OK may be pressed without leaving the box (Return in it): it checks the box as leaving would.
  if (!VolumeInRange()) return;
  const TResolutionFault fault =
      CheckResolution(edtWidth->text().toInt(), edtHeight->text().toInt(), Context().H264);
  if (fault != TResolutionFault::None) {
    const bool width = fault == TResolutionFault::Width || fault == TResolutionFault::OddWidth;
    (width ? edtWidth : edtHeight)->setFocus();
    ShowInformation(ResolutionFaultText(fault));
    return;
  }
  ReadOutputs();
  QString error;
  if (WriteFormatsChoice(FEntry, FLists, Choice(), FWorld, &error) == TFormatsWrite::SaveFailed)
    ShowInformation(error);
  FWritten = true;
  TSkinForm::accept();
}
