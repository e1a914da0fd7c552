#include "U_Edit_Gui.h"

#include "AreaEditor.h"
#include "PlayerScreen.h"
#include "PostCall.h"
#include "SkBmpBtn.h"
#include "SkEdit.h"
#include "SkPanel.h"
#include "SkRadChk.h"
#include "SkSpnEdt.h"
#include "SkTabs.h"
#include "U_Config.h"
#include "U_Config_Gui.h"
#include "VelLog.h"
#include "VelTrackbar.h"
#include "uImageUtils.h"

#include <QBoxLayout>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QFontMetrics>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QToolButton>

#include <algorithm>
#include <array>
#include <tuple>

TIntRect EditPreviewArea;

namespace {

constexpr QSize PreviewSize(360, 220);
const QColor OutputBackground(0x10, 0x10, 0x10);
constexpr int MaxVolume = 128;
// Position events to let pass after a resume before the bar follows them again.
constexpr int SkipAfterResume = 5;

// Left, top, width and height into their four boxes, all but the one being typed into.
void ShowRectInBoxes(const TIntRect& R, const std::array<TSkSpinEdit*, 4>& Boxes,
                     const TSkSpinEdit* Typing) {
  const int Values[] = {R.Left, R.Top, RectWidth(R), RectHeight(R)};
  for (size_t I = 0; I < Boxes.size(); ++I)
    if (Boxes[I] != Typing) Boxes[I]->SetIntValue(Values[I]);
}

QRect ToQRect(const TIntRect& R) { return QRect(R.Left, R.Top, RectWidth(R), RectHeight(R)); }
TIntRect ToIntRect(const QRect& R) { return {R.left(), R.top(), R.right() + 1, R.bottom() + 1}; }

QImage ToImage(const TPreviewPicture& Picture) {
  const QImage View(reinterpret_cast<const uchar*>(Picture.Pixels.data()), Picture.Width,
                    Picture.Height, Picture.Width * 4, QImage::Format_RGB32);
  return View.copy();
}

TWaterMarkFont ToWaterMarkFont(const QFont& Font, const QColor& Color) {
  TWaterMarkFont Result;
  Result.Family = Font.family();
  Result.PointSize = Font.pointSize();
  Result.Bold = Font.bold();
  Result.Italic = Font.italic();
  Result.Underline = Font.underline();
  Result.StrikeOut = Font.strikeOut();
  Result.Color = SwapRedBlue(Color.rgb() & 0xffffff);
  return Result;
}

QFont ToQFont(const TWaterMarkFont& Font) {
  QFont Result(Font.Family, Font.PointSize);
  Result.setBold(Font.Bold);
  Result.setItalic(Font.Italic);
  Result.setUnderline(Font.Underline);
  Result.setStrikeOut(Font.StrikeOut);
  return Result;
}

QLabel* AddLabel(QWidget* Parent, const QString& Text, int X, int Y) {
  auto* Label = new QLabel(Text, Parent);
  Label->move(X, Y);
  Label->adjustSize();
  return Label;
}

TSkSpinEdit* AddSpin(QWidget* Parent, const char* Name, QRect Geometry, int Max) {
  auto* Spin = new TSkSpinEdit(Parent);
  Spin->setObjectName(QLatin1String(Name));
  Spin->setGeometry(Geometry);
  Spin->AllowKeyEdit = true;
  Spin->SetMax(Max);
  Spin->SetCheckRange(true);
  return Spin;
}

TSkBmpButton* AddSkButton(QWidget* Parent, const char* Name, const QString& Caption, QRect Geometry,
                          std::function<void()> OnClick) {
  auto* Button = new TSkBmpButton(Parent);
  Button->setObjectName(QLatin1String(Name));
  Button->SetCaption(Caption);
  Button->SetButtonBorder(bbButton);
  Button->setGeometry(Geometry);
  Button->OnClick = std::move(OnClick);
  return Button;
}

QSlider* AddBar(QWidget* Parent, const char* Name, QRect Geometry, int Min, int Max) {
  auto* Bar = new QSlider(Qt::Horizontal, Parent);
  Bar->setObjectName(QLatin1String(Name));
  Bar->setGeometry(Geometry);
  Bar->setRange(Min, Max);
  return Bar;
}

QToolButton* AddToolButton(QWidget* Parent, const char* Name, QStyle::StandardPixmap Icon,
                           const QString& Tip, QRect Geometry) {
  auto* Button = new QToolButton(Parent);
  Button->setObjectName(QLatin1String(Name));
  if (Icon != QStyle::SP_CustomBase) Button->setIcon(Parent->style()->standardIcon(Icon));
  Button->setToolTip(Tip);
  Button->setGeometry(Geometry);
  return Button;
}

}  // namespace

QString SaveWaterMark(const QString& PictureFile, const TIntRect& Rect) {
  const QString Folder = DataPlaces().Scratch;
  if (!MakePrivateFolder(Folder)) {
    VelLog.WriteError(QStringLiteral("Cannot make the folder ") + Folder);
    return {};
  }
  QString Target = MakeTempFileName(Folder, QStringLiteral("png"));
  Target.remove(QLatin1Char('[')).remove(QLatin1Char(']'));
  if (!ResizeImageFile(PictureFile, Target, RectWidth(Rect), imHighQuality, RectHeight(Rect)) ||
      !QFileInfo::exists(Target))
    return {};
  VelLog.WriteInfo(QStringLiteral("SaveWaterMark"));
  return Target;
}

// The font dialog with the text's colour beside it: a text mark is drawn in font, size and
// colour.
bool ChooseFontAndColor(QFont& Font, QColor& Color, QWidget* Parent) {
  QDialog Dialog(Parent);
  Dialog.setWindowTitle(QStringLiteral("Font"));
  auto* Fonts = new QFontDialog(Font, &Dialog);
  Fonts->setOptions(QFontDialog::NoButtons);
  Fonts->setWindowFlags(Qt::Widget);
  // The font part is a dialog of its own, which would close alone on Escape or Enter.
  QObject::connect(Fonts, &QDialog::finished, &Dialog, &QDialog::done);
  auto* ColorLabel = new QLabel(QStringLiteral("Color:"), &Dialog);
  auto* ColorBox = new TSkColorEdit(&Dialog);
  ColorBox->setObjectName(QStringLiteral("edtFontColor"));
  ColorBox->SetSelectedColor(SwapRedBlue(Color.rgb() & 0xffffff));
  ColorBox->setFixedWidth(70);
  ColorLabel->setBuddy(ColorBox);
  auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &Dialog);
  QObject::connect(Buttons, &QDialogButtonBox::accepted, &Dialog, &QDialog::accept);
  QObject::connect(Buttons, &QDialogButtonBox::rejected, &Dialog, &QDialog::reject);
  // Enter outside the font part (on the colour box) accepts, as it does inside.
  Buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  auto* ColorRow = new QHBoxLayout;
  ColorRow->addWidget(ColorLabel);
  ColorRow->addWidget(ColorBox);
  ColorRow->addStretch();
  auto* Layout = new QVBoxLayout(&Dialog);
  Layout->addWidget(Fonts);
  Layout->addLayout(ColorRow);
  Layout->addWidget(Buttons);
  if (Dialog.exec() != QDialog::Accepted) return false;
  Font = Fonts->currentFont();
  Color = QColor::fromRgb(SwapRedBlue(ColorBox->SelectedColor()));
  return true;
}

bool EditFileOption(TFileOption& Entry, TCustomPlayer& Player, QWidget* Parent) {
  TEditfrm Window(Entry, Player, Parent);
  return Window.exec() == QDialog::Accepted;
}

// ---------------------------------------------------------------------------------------

TEditPicture::TEditPicture(QColor Background, QWidget* Parent)
    : QWidget(Parent), FBackground(Background) {}

void TEditPicture::SetPicture(const QImage& Picture, const QRect& Target) {
  FPicture = Picture;
  FTarget = Target;
  update();
}

void TEditPicture::paintEvent(QPaintEvent*) {
  QPainter Painter(this);
  Painter.fillRect(rect(), FBackground);
  if (!FPicture.isNull()) Painter.drawImage(FTarget, FPicture);
}

// ---------------------------------------------------------------------------------------

TEditfrm::TEditfrm(TFileOption& Entry, TCustomPlayer& Player, QWidget* Parent)
    : TSkinForm(QStringLiteral("Edit"), Parent), FEntry(Entry), FPlayer(Player) {
  setObjectName(QStringLiteral("TEditfrm"));
  setWindowTitle(QStringLiteral("Video Edit"));
  EnterPressesOk = true;
  SetClientSize(QSize(776, 519));
  QFont Tahoma(QStringLiteral("Tahoma"), 8);
  Client()->setFont(Tahoma);
  BuildPreviews();
  BuildControlStrip();
  BuildPages();
  OkButton()->move(600, 488);
  CancelButton()->move(688, 488);
  OkButton()->OnClick = [this] {
    ApplyToEntry();
    accept();
  };
  // Pictures come from the player's decoding thread and the redraw worker. They wait in a
  // mailbox of their own (a newer picture replaces one not shown yet), and a queued signal has
  // the GUI thread show them: the widgets and the QImages are touched on that thread only.
  connect(this, &TEditfrm::PicturesArrived, this, &TEditfrm::ShowNewPictures, Qt::QueuedConnection);
  FPreview.OnInputPicture = [this](const TPreviewPicture& Picture) {
    HandOver(FNewInput, Picture);
  };
  FPreview.OnOutputPicture = [this](const TPreviewPicture& Picture) {
    HandOver(FNewOutput, Picture);
  };
  TakePlayerEvents();
}

TEditfrm::~TEditfrm() {
  // The children outlive this part of the window: the focus they lose as they go must not
  // call back into it.
  for (QLineEdit* Box : findChildren<QLineEdit*>()) Box->disconnect(this);
  CloseWindow();
}

// The player's decoding thread or the redraw worker.
void TEditfrm::HandOver(std::optional<TPreviewPicture>& Slot, const TPreviewPicture& Picture) {
  {
    std::lock_guard Guard(FPictureLock);
    Slot = Picture;
  }
  emit PicturesArrived();
}

void TEditfrm::ShowNewPictures() {
  std::optional<TPreviewPicture> Input, Output;
  {
    std::lock_guard Guard(FPictureLock);
    Input.swap(FNewInput);
    Output.swap(FNewOutput);
  }
  if (Input) imgVideo1->SetPicture(ToImage(*Input), ToQRect(InputFitRect));
  if (Output) {
    FOutputTime = Output->Time;
    const QImage Image = ToImage(*Output);
    const TIntRect Shown = SourceShape.ToShown({0, 0, Image.width(), Image.height()});
    imgVideo2->SetPicture(Image, ToQRect(FitAspectRect(Shown, OutputBoxRect)));
  }
}

void TEditfrm::BuildPreviews() {
  QWidget* Client = TSkinForm::Client();
  AddLabel(Client, QStringLiteral("Input Preview"), 8, 4);
  AddLabel(Client, QStringLiteral("Output Preview"), 408, 4);
  PanelVideo = new QWidget(Client);
  PanelVideo->setObjectName(QStringLiteral("PanelVideo"));
  PanelVideo->setGeometry(8, 22, 334, 209);
  PanelVideo->setEnabled(false);
  PanelVideo->hide();
  for (auto [Picture, X, Background] : {std::tuple{&imgVideo1, 8, QColor(Qt::black)},
                                        std::tuple{&imgVideo2, 408, OutputBackground}}) {
    auto* Panel = new QWidget(Client);
    Panel->setGeometry(X, 22, PreviewSize.width(), PreviewSize.height());
    *Picture = new TEditPicture(Background, Panel);
    (*Picture)->setGeometry(0, 0, PreviewSize.width(), PreviewSize.height());
  }
  imgVideo1->setObjectName(QStringLiteral("imgVideo1"));
  imgVideo2->setObjectName(QStringLiteral("imgVideo2"));
  QWidget* OutputPanel = imgVideo2->parentWidget();
  imgWatemark = new QLabel(OutputPanel);
  imgWatemark->setObjectName(QStringLiteral("imgWatemark"));
  imgWatemark->setScaledContents(true);
  imgWatemark->hide();
  lblWatemark = new QLabel(OutputPanel);
  lblWatemark->setObjectName(QStringLiteral("lblWatemark"));
  lblWatemark->setAttribute(Qt::WA_TranslucentBackground);
  lblWatemark->hide();
  ardtr1 = new TAreaEditor(imgVideo1->parentWidget());
  ardtr2 = new TAreaEditor(OutputPanel);
  ardtr1->setObjectName(QStringLiteral("ardtr1"));
  ardtr2->setObjectName(QStringLiteral("ardtr2"));
  for (TAreaEditor* Area : {ardtr1, ardtr2}) {
    Area->BorderFrameSize = 3;
    Area->SetArea(ToIntRect(imgVideo1->geometry()));
    connect(Area, &TAreaEditor::MouseDown, this, [this] { Dragging = true; });
    connect(Area, &TAreaEditor::MouseUp, this, [this] { Dragging = false; });
  }
  connect(ardtr1, &TAreaEditor::MouseMove, this, [this] {
    if (Dragging) CropAreaMoved();
  });
  connect(ardtr2, &TAreaEditor::MouseMove, this, [this] {
    if (Dragging) WatermarkAreaMoved();
  });
  ardtr2->hide();
  const TIntRect Bounds = ToIntRect(imgVideo1->geometry());
  VelLog.WriteInfo(QStringLiteral("left: %1, top: %2, Right: %3, Bottom: %4")
                       .arg(Bounds.Left)
                       .arg(Bounds.Top)
                       .arg(Bounds.Right)
                       .arg(Bounds.Bottom));
}

void TEditfrm::BuildControlStrip() {
  QWidget* Client = TSkinForm::Client();
  constexpr int Y = 250;
  btnPlay = AddToolButton(Client, "btnPlay", QStyle::SP_MediaPlay, QStringLiteral("Play"),
                          {8, Y, 28, 24});
  btnPause = AddToolButton(Client, "btnPause", QStyle::SP_MediaPause, QStringLiteral("Pause"),
                           {8, Y, 28, 24});
  btnPause->hide();
  btnStop = AddToolButton(Client, "btnStop", QStyle::SP_MediaStop, QStringLiteral("Stop"),
                          {40, Y, 28, 24});
  connect(btnPlay, &QToolButton::clicked, this, [this] { Play(); });
  connect(btnPause, &QToolButton::clicked, this, [this] { PauseOrStop(false); });
  connect(btnStop, &QToolButton::clicked, this, [this] { PauseOrStop(true); });
  TrckVideo = new TVelTrackbar(Client);
  TrckVideo->setObjectName(QStringLiteral("TrckVideo"));
  TrckVideo->setGeometry(76, Y, 450, 24);
  // A position bar only: its segment markers would hold the tick at the segment's start.
  TrckVideo->SetShowSegment(false);
  TrckVideo->SetTrackOffsetY(TrckVideo->height() / 2);
  TrckVideo->SetTickOffsetY(TrckVideo->height() / 2);
  TrckVideo->SetBGColor(FromQColor(palette().color(QPalette::Window)));
  FSeekBar = new TPreviewSeekBar(*TrckVideo, btnPlay, btnPause, FPlayer);
  FSeekBar->OnSeek = [this](int64_t Position) {
    if (PlayerAttached) SeekToShow(FPlayer, Position);
  };
  AddLabel(Client, QStringLiteral("Volume"), 536, Y + 5);
  TrckAudio = AddBar(Client, "TrckAudio", {580, Y + 2, 96, 20}, 0, MaxVolume);
  TrckAudio->setValue(MaxVolume);
  connect(TrckAudio, &QSlider::valueChanged, this,
          [this](int Value) { FPlayer.SetAudioVolume(Value); });
  btnHor = AddToolButton(Client, "btnHor", QStyle::SP_CustomBase,
                         QStringLiteral("Flip horizontally"), {688, Y, 38, 24});
  btnVer = AddToolButton(Client, "btnVer", QStyle::SP_CustomBase, QStringLiteral("Flip vertically"),
                         {730, Y, 38, 24});
  btnHor->setText(QStringLiteral("\u2194"));
  btnVer->setText(QStringLiteral("\u2195"));
  for (QToolButton* Flip : {btnHor, btnVer}) {
    Flip->setCheckable(true);
    connect(Flip, &QToolButton::toggled, this, [this] {
      FlipHorizontal = btnHor->isChecked();
      FlipVertical = btnVer->isChecked();
      UpdateLook();
    });
  }
}

void TEditfrm::BuildPages() {
  pgEdit = new TSkPageControl(Client());
  pgEdit->setObjectName(QStringLiteral("pgEdit"));
  pgEdit->setGeometry(8, 282, 760, 198);
  pgEdit->SetTabStyle(tsRoundCorners);
  for (const char* Caption : {"Crop   ", "Watermark", "Effect"}) {
    auto* Sheet = new TSkTabSheet(pgEdit);
    Sheet->SetCaption(QString::fromLatin1(Caption));
  }
  BuildCropPage(pgEdit->Pages(0));
  BuildWatermarkPage(pgEdit->Pages(1));
  BuildEffectPage(pgEdit->Pages(2));
}

void TEditfrm::BuildCropPage(QWidget* Page) {
  const struct {
    const char* Caption;
    const char* Name;
    TSkSpinEdit** Box;
  } Boxes[] = {{"Left:", "edtleft", &edtleft},
               {"Top:", "edttop", &edttop},
               {"Width:", "edtwidth", &edtwidth},
               {"Height:", "edtheight", &edtheight}};
  int Y = 16;
  for (const auto& Box : Boxes) {
    AddLabel(Page, QLatin1String(Box.Caption), 16, Y + 4);
    *Box.Box = AddSpin(Page, Box.Name, {72, Y, 90, 22}, 0);
    TSkSpinEdit* Spin = *Box.Box;
    connect(Spin, &QLineEdit::textChanged, this, [this, Spin] { CropBoxChanged(Spin); });
    // The box typed into keeps the user's digits until they leave it.
    connect(Spin, &QLineEdit::editingFinished, this, [this] { ShowCropInBoxes(); });
    Y += 30;
  }
  btnCropReset = AddSkButton(Page, "btnCropReset", QStringLiteral("Reset"), {190, 106, 75, 25},
                             [this] { ResetCrop(); });
}

void TEditfrm::BuildWatermarkPage(QWidget* Page) {
  chkStartup = new TSkCheckBox(Page);
  chkStartup->setObjectName(QStringLiteral("chkStartup"));
  chkStartup->SetCaption(QStringLiteral("Startup Watermark"));
  chkStartup->setGeometry(16, 12, 160, 20);
  chkStartup->OnClick = [this] { WatermarkSwitched(); };
  rbimage = new TSkRadioButton(Page);
  rbimage->setObjectName(QStringLiteral("rbimage"));
  rbimage->SetCaption(QStringLiteral("Image "));
  rbimage->setGeometry(16, 42, 70, 20);
  rbText = new TSkRadioButton(Page);
  rbText->setObjectName(QStringLiteral("rbText"));
  rbText->SetCaption(QStringLiteral("Text "));
  rbText->setGeometry(16, 72, 70, 20);
  rbimage->SetChecked(true);
  rbimage->OnClick = [this] { WatermarkSwitched(); };
  rbText->OnClick = [this] { WatermarkSwitched(); };
  edtImage = new TSkEdit(Page);
  edtImage->setObjectName(QStringLiteral("edtImage"));
  edtImage->setReadOnly(true);
  // Read-only only because a picture is chosen with the button: it reads like the text box,
  // and the keyboard goes past it to that button.
  edtImage->SetReadOnlyColor(clWhite);
  edtImage->setFocusPolicy(Qt::NoFocus);
  edtImage->setGeometry(92, 40, 250, 22);
  btnopenPic = AddSkButton(Page, "btnopenPic", QStringLiteral("..."), {346, 40, 30, 22},
                           [this] { OpenPicture(); });
  edtText = new TSkEdit(Page);
  edtText->setObjectName(QStringLiteral("edtText"));
  edtText->setGeometry(92, 70, 250, 22);
  connect(edtText, &QLineEdit::textChanged, this, [this] { TextChanged(); });
  btnopenFont = AddSkButton(Page, "btnopenFont", QStringLiteral("Font"), {346, 70, 40, 22},
                            [this] { OpenFont(); });
  lblImageSize = AddLabel(Page, QStringLiteral("ImageSize:"), 16, 108);
  lblImageSize->setObjectName(QStringLiteral("lblImageSize"));
  ImageW = AddSpin(Page, "ImageW", {92, 104, 70, 22}, 0);
  lblImageX = AddLabel(Page, QStringLiteral("X"), 168, 108);
  lblImageX->setObjectName(QStringLiteral("lblImageX"));
  ImageH = AddSpin(Page, "ImageH", {182, 104, 70, 22}, 0);
  connect(ImageW, &QLineEdit::textChanged, this, [this] { WatermarkBoxTyped(ImageW); });
  connect(ImageH, &QLineEdit::textChanged, this, [this] { WatermarkBoxTyped(ImageH); });
  const struct {
    const char* Caption;
    const char* Box;
    const char* Bar;
    TSkSpinEdit** Edit;
    QSlider** Slider;
    bool Horizontal;
    int Y;
  } Rows[] = {{"Horizontal:", "edtWaterH", "TrckWatermarkH", &edtWaterH, &TrckWatermarkH, true, 40},
              {"Vertical:", "edtWaterV", "TrckwatermarkV", &edtWaterV, &TrckwatermarkV, false, 70}};
  for (const auto& Row : Rows) {
    AddLabel(Page, QLatin1String(Row.Caption), 400, Row.Y + 4);
    *Row.Edit = AddSpin(Page, Row.Box, {470, Row.Y, 70, 22}, 128);
    *Row.Slider = AddBar(Page, Row.Bar, {548, Row.Y + 1, 190, 20}, 0, 128);
    TSkSpinEdit* Edit = *Row.Edit;
    connect(Edit, &QLineEdit::textChanged, this, [this, Edit] { WatermarkBoxTyped(Edit); });
    connect(*Row.Slider, &QSlider::valueChanged, this, [this, Edit](int Value) {
      if (!Suppress) Edit->SetIntValue(Value);
    });
  }
  // Tab goes from box to box, so that digits typed after it reach the next box, not a bar.
  setTabOrder(edtWaterH, edtWaterV);
  setTabOrder(edtWaterV, TrckWatermarkH);
  setTabOrder(TrckWatermarkH, TrckwatermarkV);
  for (QWidget* Control : std::initializer_list<QWidget*>{
           rbimage, rbText, edtImage, btnopenPic, edtText, btnopenFont, ImageW, ImageH, edtWaterH,
           edtWaterV, TrckWatermarkH, TrckwatermarkV})
    Control->setEnabled(false);
}

void TEditfrm::BuildEffectPage(QWidget* Page) {
  const struct {
    const char* Caption;
    const char* Name;
    QSlider** Bar;
    QLabel** Value;
  } Rows[] = {{"Brightness", "trckBrightness", &trckBrightness, &lblBrightness},
              {"Contrast", "trckContrast", &trckContrast, &lblContrast},
              {"Saturation", "trckSaturation", &trckSaturation, &lblSaturation}};
  int Y = 12;
  for (const auto& Row : Rows) {
    AddLabel(Page, QLatin1String(Row.Caption), 16, Y + 2);
    *Row.Bar = AddBar(Page, Row.Name, {100, Y, 260, 20}, -100, 100);
    // The scale under the bar: its ends and its middle.
    AddLabel(Page, QStringLiteral("-100"), 100, Y + 20);
    QLabel* Middle = AddLabel(Page, QStringLiteral("0"), 0, Y + 20);
    Middle->move(230 - Middle->width() / 2, Y + 20);
    QLabel* High = AddLabel(Page, QStringLiteral("100"), 0, Y + 20);
    High->move(360 - High->width(), Y + 20);
    *Row.Value = AddLabel(Page, QStringLiteral("0"), 370, Y + 2);
    (*Row.Value)->setFixedWidth(40);
    QLabel* Value = *Row.Value;
    connect(*Row.Bar, &QSlider::valueChanged, this, [this, Value](int Position) {
      Value->setText(QString::number(Position));
      if (!Suppress) UpdateLook();
    });
    Y += 46;
  }
  btnEffectReset = AddSkButton(Page, "btnEffectReset", QStringLiteral("Reset"), {440, 12, 75, 25},
                               [this] { ResetEffects(); });
  chkdeinterlace = new TSkCheckBox(Page);
  chkdeinterlace->setObjectName(QStringLiteral("chkdeinterlace"));
  chkdeinterlace->SetCaption(QStringLiteral("Deinterlacing"));
  chkdeinterlace->setGeometry(440, 52, 140, 20);
}

void TEditfrm::ShowPage(int Index) { pgEdit->SetActivePageIndex(Index); }

void TEditfrm::TakePlayerEvents() {
  FPlayer.VideoHook = false;
  FPlayer.FrameHook = true;
  // The player's decoding thread: the frame is copied before the call returns.
  FPlayer.OnFrameHook = [this](void*, TAVPicture* Picture, AVPixelFormat PixFmt, int Width,
                               int Height, int64_t Time) {
    FPreview.FrameArrived(*Picture, PixFmt == AV_PIX_FMT_YUV420P, Width, Height, Time);
  };
  FPlayer.OnFileOpen = [this](void*, int64_t Duration, int, int, int& ScreenWidth,
                              int& ScreenHeight) {
    ScreenWidth = FScreen->Size().width();
    ScreenHeight = FScreen->Size().height();
    TrckVideo->SetPosition(0);
    TrckVideo->SetMax(Duration);
    PostCall(this, [this] { Relayout(); });
  };
  // The bar follows the picture both ways: a report of the last pictures that reaches the
  // window after the end sent the preview back to its start is put right by the next one.
  FPlayer.OnPosition = [this](void*, int64_t Position) {
    if (Closed || FPlayer.Seeking() || !SeekShown(FPlayer) || !FSeekBar->TakePosition()) return;
    TrckVideo->SetPosition(Position);
  };
  FPlayer.OnState = [this](void*, TPlayState State) {
    if (Closed) return;
    if (State == psPause) FSeekBar->SetPositionSkip(0);
    if (State == psResume) FSeekBar->SetPositionSkip(SkipAfterResume);
    if (State == psEnd) PauseOrStop(true);
  };
}

void TEditfrm::showEvent(QShowEvent* Event) {
  TSkinForm::showEvent(Event);
  if (PlayerAttached || Closed) return;
  SourceRect = FrameRectOf(FEntry.SourceFrameSize);
  SourceShape = TPictureShape(FEntry);
  ShownSourceRect = SourceShape.ToShown(SourceRect);
  OutputRect = FrameRectOf(FEntry.OutputFrameSize.isEmpty() ? FEntry.SourceFrameSize
                                                            : FEntry.OutputFrameSize);
  InputBoxRect = ToIntRect(imgVideo1->rect());
  EditPreviewArea = ToIntRect(imgVideo2->rect());
  OutputBoxRect = FitAspectRect(OutputRect, EditPreviewArea);
  InputFitRect = FitAspectRect(ShownSourceRect, InputBoxRect);
  CropSourceRect = SourceRect;
  VelLog.WriteInfo(QStringLiteral("left: %1, top: %2, Right: %3, Bottom: %4")
                       .arg(EditPreviewArea.Left)
                       .arg(EditPreviewArea.Top)
                       .arg(EditPreviewArea.Right)
                       .arg(EditPreviewArea.Bottom));
  VelLog.WriteInfo(QStringLiteral("Video FrameSize: [%1]").arg(FEntry.OutputFrameSize));
  ShowPage(2);
  ShowPage(1);
  ShowPage(0);
  StartPlaying();
}

void TEditfrm::StartPlaying() {
  if (!FScreen) FScreen = std::make_unique<TPlayerScreen>(PanelVideo, FPlayer);
  PlayerAttached =
      OpenInPlayer(QFile::decodeName(FEntry.Input.FileName.c_str()), FPlayer, FScreen->Handle());
  if (PlayerAttached) {
    ShowPlaying(true, btnPlay, btnPause);
  } else {
    Relayout();  // the boxes still show the entry's settings
  }
}

void TEditfrm::Relayout() {
  // Once per window: a later open of the same file must not undo the user's choices.
  if (Closed || LaidOut) return;
  LaidOut = true;
  ardtr2->SetArea(OutputBoxRect);
  ardtr1->SetArea(InputFitRect);
  const bool HasVideo = !RectIsEmpty(SourceRect) && !RectIsEmpty(OutputRect);
  Suppress = true;
  edtwidth->SetMax(RectWidth(SourceRect));
  edtheight->SetMax(RectHeight(SourceRect));
  ImageW->SetMax(RectWidth(OutputRect));
  ImageH->SetMax(RectHeight(OutputRect));
  // A picture is never smaller than the area that holds it can be drawn.
  const TIntRect SmallestMark = SmallestSourceArea(OutputRect, EditPreviewArea, ardtr2->MinSize());
  ImageW->SetMin(RectWidth(SmallestMark));
  ImageH->SetMin(RectHeight(SmallestMark));
  Suppress = false;
  // Without a picture there is nothing to crop or to mark.
  for (QWidget* Control : std::initializer_list<QWidget*>{ardtr1, edtleft, edttop, edtwidth,
                                                          edtheight, btnCropReset, chkStartup})
    Control->setEnabled(HasVideo);
  LoadEffectsFromEntry();
  if (!HasVideo) return;
  LoadWatermarkFromEntry();
  // Worked out where the preview shows it, in shown pixels; the boxes take stored ones.
  SmallestCrop =
      SourceShape.ToStored(SmallestSourceArea(ShownSourceRect, InputBoxRect, ardtr1->MinSize()));
  Suppress = true;
  edtleft->SetMax(RectWidth(SourceRect) - RectWidth(SmallestCrop));
  edttop->SetMax(RectHeight(SourceRect) - RectHeight(SmallestCrop));
  Suppress = false;
  LoadCropFromEntry();
}

void TEditfrm::LoadWatermarkFromEntry() {
  QFont Default = font();
  Default.setPointSize(24);
  SetWatermarkFont(Default);
  SetWatermarkColor(Qt::white);
  const TWaterMark& Mark = FEntry.WaterMark;
  // The picture's place in output pixels as OK stored it; its preview place only when the
  // stored rectangle is the text's.
  PlacePicture(Mark.PictureFile,
               Mark.Kind == 1 ? Mark.Rect
                              : PreviewToSourceRect(OutputRect, EditPreviewArea,
                                                    Mark.PictureViewRect, true));
  if (!Mark.Text.isEmpty()) {
    if (Mark.Font) {
      SetWatermarkFont(ToQFont(*Mark.Font));
      SetWatermarkColor(QColor::fromRgb(SwapRedBlue(Mark.Font->Color)));
    }
    Suppress = true;
    edtText->setText(Mark.Text);
    Suppress = false;
    lblWatemark->setText(Mark.Text);
    lblWatemark->setGeometry(ToQRect(Mark.TextViewRect));
    ardtr2->setGeometry(ToQRect(Mark.TextViewRect));
  }
  Suppress = true;
  chkStartup->SetChecked(FEntry.WaterMarkKind > 0);
  if (Mark.Kind == 2) {
    ShowPage(1);
    rbText->SetChecked(true);
  } else {
    rbimage->SetChecked(true);
  }
  Suppress = false;
  WatermarkSwitched();
}

void TEditfrm::LoadCropFromEntry() {
  if (!FEntry.CropEnabled) return ResetCrop();
  // The rectangle in the picture's pixels as it was typed or dragged, not as the preview
  // rounds it.
  SetCropRect(FEntry.CropRect);
}

void TEditfrm::LoadEffectsFromEntry() {
  Suppress = true;
  trckSaturation->setValue(FEntry.Saturation);
  trckContrast->setValue(FEntry.Contrast);
  trckBrightness->setValue(FEntry.Brightness);
  btnVer->setChecked(FEntry.VFlip);
  btnHor->setChecked(FEntry.HFlip);
  chkdeinterlace->SetChecked(FEntry.Deinterlace != -1);
  Suppress = false;
  UpdateLook();
}

// ---------------------------------------------------------------------------------------
// Crop

void TEditfrm::CropAreaMoved() {
  const TIntRect Area = ToIntRect(ardtr1->geometry());
  if (Area.Left > InputFitRect.Right || Area.Top > InputFitRect.Bottom || Area == CropPreviewRect)
    return;
  CropPreviewRect = Area;
  if (Area == InputFitRect) {
    ResetCrop();
    return;
  }
  CropSourceRect = CropOfPreview(CropPreviewRect);
  CropActive = true;
  ShowCropInBoxes();
  UpdateLook();
}

// The input preview shows the picture in its shown shape, while crops are in stored pixels.
TIntRect TEditfrm::CropOfPreview(const TIntRect& Area) const {
  return SourceShape.ToStored(PreviewToSourceRect(ShownSourceRect, InputBoxRect, Area, true));
}

void TEditfrm::ShowCropInBoxes(const TSkSpinEdit* Typing) {
  Suppress = true;
  ShowRectInBoxes(CropSourceRect, {edtleft, edttop, edtwidth, edtheight}, Typing);
  Suppress = false;
}

// The crop takes each box's value in the picture's pixels as it is typed or stepped; the box
// being typed into keeps the user's text until it is left.
void TEditfrm::CropBoxChanged(TSkSpinEdit* Box) {
  if (Dragging || Suppress || RectIsEmpty(SourceRect)) return;
  TIntRect Crop = CropSourceRect;
  const bool Start = Box == edtleft || Box == edttop;
  if (Box == edtleft || Box == edtwidth)
    std::tie(Crop.Left, Crop.Right) = TypedSpan(Crop.Left, Crop.Right, Box->IntValue(), Start,
                                                RectWidth(SourceRect), RectWidth(SmallestCrop));
  else
    std::tie(Crop.Top, Crop.Bottom) = TypedSpan(Crop.Top, Crop.Bottom, Box->IntValue(), Start,
                                                RectHeight(SourceRect), RectHeight(SmallestCrop));
  SetCropRect(Crop, Box);
}

void TEditfrm::SetCropRect(const TIntRect& Crop, const TSkSpinEdit* Typing) {
  CropSourceRect = Crop;
  CropPreviewRect = PreviewAreaOf(ShownSourceRect, InputBoxRect, InputFitRect,
                                  SourceShape.ToShown(Crop), ardtr1->MinSize());
  ardtr1->setGeometry(ToQRect(CropPreviewRect));
  CropActive = true;
  ShowCropInBoxes(Typing);
  UpdateLook();
}

void TEditfrm::ResetCrop() {
  CropActive = false;
  CropSourceRect = SourceRect;
  CropPreviewRect = InputFitRect;
  ardtr1->setGeometry(ToQRect(InputFitRect));
  ShowCropInBoxes();
  UpdateLook();
}

// The output preview follows every change: at once from the last frame while the player
// stands still, with the next frame while it plays.
void TEditfrm::UpdateLook() {
  FPreview.SetLook({CropActive, CropSourceRect, trckBrightness->value(), trckContrast->value(),
                    trckSaturation->value(), FlipHorizontal, FlipVertical});
  FPreview.Redraw(Playing());
}

// ---------------------------------------------------------------------------------------
// Watermark

bool TEditfrm::WatermarkEnabled() const { return chkStartup->Checked() && chkStartup->isEnabled(); }

void TEditfrm::WatermarkSwitched() {
  if (Suppress) return;
  const bool Enabled = WatermarkEnabled();
  const bool Image = rbimage->Checked();
  for (QWidget* Control :
       std::initializer_list<QWidget*>{rbimage, rbText, edtImage, btnopenPic, edtText, btnopenFont,
                                       edtWaterH, edtWaterV, TrckWatermarkH, TrckwatermarkV})
    Control->setEnabled(Enabled);
  for (QWidget* Size : std::initializer_list<QWidget*>{ImageW, ImageH, lblImageSize, lblImageX}) {
    Size->setEnabled(Enabled && Image);
    Size->setVisible(Image);
  }
  imgWatemark->setVisible(Enabled && Image && PictureLoaded);
  lblWatemark->setVisible(Enabled && !Image);
  ardtr2->SetResizable(Image);
  if (Image && PictureLoaded) ardtr2->setGeometry(imgWatemark->geometry());
  if (!Image && !lblWatemark->text().isEmpty()) ardtr2->setGeometry(lblWatemark->geometry());
  UpdateWatermarkArea();
  RecomputeWatermark();
}

void TEditfrm::UpdateWatermarkArea() {
  const bool Shown = WatermarkEnabled() && ((rbimage->Checked() && PictureLoaded) ||
                                            (rbText->Checked() && !lblWatemark->text().isEmpty()));
  ardtr2->setVisible(Shown);
  if (Shown) ardtr2->raise();
}

void TEditfrm::PlacePicture(const QString& File, const TIntRect& Place) {
  if (File.isEmpty() || RectIsEmpty(Place)) return;
  WatermarkSourceRect = {Place.Left, Place.Top,
                         Place.Left + std::min(RectWidth(Place), RectWidth(OutputRect)),
                         Place.Top + std::min(RectHeight(Place), RectHeight(OutputRect))};
  const QRect Bounds = ToQRect(WatermarkAreaOf(WatermarkSourceRect));
  imgWatemark->setGeometry(Bounds);
  ardtr2->setGeometry(Bounds);
  edtImage->setText(File);
  QImageReader Reader(File);
  WatermarkPicture = Reader.read();
  PictureLoaded = !WatermarkPicture.isNull();
  if (PictureLoaded)
    imgWatemark->setPixmap(QPixmap::fromImage(WatermarkPicture));
  else
    VelLog.WriteError(File + QStringLiteral(": ") + Reader.errorString());
  RecomputeWatermark();
}

void TEditfrm::ChoosePicture(const QString& File) {
  MainSettings().SetValue(TMainSettings::SourceImgPath, QFileInfo(File).absolutePath());
  // The picture arrives at its own size in the output's top-left corner (no larger than the
  // output).
  const QSize Size = QImageReader(File).size();
  PlacePicture(File, {0, 0, std::max(Size.width(), 0), std::max(Size.height(), 0)});
  WatermarkSwitched();
}

void TEditfrm::OpenPicture() {
  const QString File = QFileDialog::getOpenFileName(
      this, QString(), MainSettings().Value(TMainSettings::SourceImgPath),
      QStringLiteral("Pictures (*.png *.jpg *.jpeg *.bmp *.gif)"));
  if (!File.isEmpty()) ChoosePicture(File);
}

void TEditfrm::SetWatermarkColor(const QColor& Color) {
  WatermarkColor = Color;
  QPalette Palette = lblWatemark->palette();
  Palette.setColor(QPalette::WindowText, Color);
  lblWatemark->setPalette(Palette);
}

void TEditfrm::TextChanged() {
  if (Suppress) return;
  const QString Text = edtText->text().trimmed();
  lblWatemark->setText(Text);
  // The label's own measure holds the whole text, overhangs of italic and serif letters too,
  // as the conversion draws it.
  const QSize Size(std::min(lblWatemark->sizeHint().width(), RectWidth(OutputBoxRect)),
                   std::min(QFontMetrics(lblWatemark->font()).height(), RectHeight(OutputBoxRect)));
  lblWatemark->setGeometry(QRect(QPoint(OutputBoxRect.Left, OutputBoxRect.Top), Size));
  ardtr2->setGeometry(lblWatemark->geometry());
  UpdateWatermarkArea();
  RecomputeWatermark();
}

void TEditfrm::OpenFont() {
  QFont Font = WatermarkFont;
  QColor Color = WatermarkColor;
  if (!ChooseFontAndColor(Font, Color, this)) return;
  SetWatermarkFont(Font);
  SetWatermarkColor(Color);
  TextChanged();
}

// The font keeps the size the user chose, which the conversion draws on the output frame; the
// label over the preview shows it shrunk as the preview shrinks that frame.
void TEditfrm::SetWatermarkFont(const QFont& Font) {
  WatermarkFont = Font;
  QFont Shown = Font;
  Shown.setPointSize(ScaleFontSize(OutputRect, OutputBoxRect, Font.pointSize()));
  lblWatemark->setFont(Shown);
}

void TEditfrm::WatermarkAreaMoved() {
  if (rbimage->Checked()) imgWatemark->setGeometry(ardtr2->geometry());
  if (rbText->Checked()) lblWatemark->move(ardtr2->pos());
  RecomputeWatermark();
}

void TEditfrm::RecomputeWatermark() {
  WatermarkPreviewRect = ToIntRect(ardtr2->geometry());
  const bool HasContent = rbimage->Checked() ? PictureLoaded : !lblWatemark->text().isEmpty();
  // Placed against the output preview's own area: the output frame is fitted there. An area
  // that still stands where the exact rectangle puts it keeps that rectangle, so that what
  // was typed is not rounded through the preview's pixels.
  if (!HasContent)
    WatermarkSourceRect = {};
  else if (WatermarkPreviewRect != WatermarkAreaOf(WatermarkSourceRect))
    WatermarkSourceRect =
        PreviewToSourceRect(OutputRect, EditPreviewArea, WatermarkPreviewRect, true);
  ShowWatermarkRect();
}

TIntRect TEditfrm::WatermarkAreaOf(const TIntRect& Mark) const {
  return PreviewAreaOf(OutputRect, EditPreviewArea, OutputBoxRect, Mark, ardtr2->MinSize());
}

void TEditfrm::ShowWatermarkRect(const TSkSpinEdit* Typing) {
  Suppress = true;
  const int MaxLeft = std::max(0, RectWidth(OutputRect) - RectWidth(WatermarkSourceRect));
  const int MaxTop = std::max(0, RectHeight(OutputRect) - RectHeight(WatermarkSourceRect));
  edtWaterH->SetMax(MaxLeft);
  TrckWatermarkH->setMaximum(MaxLeft);
  edtWaterV->SetMax(MaxTop);
  TrckwatermarkV->setMaximum(MaxTop);
  TrckWatermarkH->setValue(WatermarkSourceRect.Left);
  TrckwatermarkV->setValue(WatermarkSourceRect.Top);
  ShowRectInBoxes(WatermarkSourceRect, {edtWaterH, edtWaterV, ImageW, ImageH}, Typing);
  Suppress = false;
}

// Position and size boxes: the mark takes the boxes' values (each within its range) as they
// are typed or stepped; the box being typed into keeps the user's text until it is left.
void TEditfrm::WatermarkBoxTyped(TSkSpinEdit* Box) {
  if (!WatermarkEnabled() || Dragging || Suppress) return;
  const bool Sized = rbimage->Checked() && (Box == ImageW || Box == ImageH);
  if (Sized) {
    Suppress = true;
    edtWaterH->SetMax(std::max(0, RectWidth(OutputRect) - ImageW->IntValue()));
    edtWaterV->SetMax(std::max(0, RectHeight(OutputRect) - ImageH->IntValue()));
    Suppress = false;
  } else if (Box == ImageW || Box == ImageH) {
    return;  // a text mark takes its size from its text
  }
  const int Left = edtWaterH->IntValue();
  const int Top = edtWaterV->IntValue();
  const int Width = Sized ? ImageW->IntValue() : RectWidth(WatermarkSourceRect);
  const int Height = Sized ? ImageH->IntValue() : RectHeight(WatermarkSourceRect);
  WatermarkSourceRect = {Left, Top, Left + Width, Top + Height};
  WatermarkPreviewRect = WatermarkAreaOf(WatermarkSourceRect);
  ardtr2->setGeometry(ToQRect(WatermarkPreviewRect));
  if (rbimage->Checked()) imgWatemark->setGeometry(ardtr2->geometry());
  if (rbText->Checked()) lblWatemark->move(ardtr2->pos());
  ShowWatermarkRect(Box);
}

// ---------------------------------------------------------------------------------------
// Effects and playback

void TEditfrm::ResetEffects() {
  Suppress = true;
  for (QSlider* Bar : {trckBrightness, trckContrast, trckSaturation}) Bar->setValue(0);
  chkdeinterlace->SetChecked(false);
  Suppress = false;
  UpdateLook();
}

bool TEditfrm::Playing() const { return btnPlay->property("Tag").toInt() == 1; }

void TEditfrm::Play() {
  if (!PlayerAttached) {
    StartPlaying();
    return;
  }
  FSeekBar->SetPositionSkip(SkipAfterResume);
  TogglePlayback(0, btnPlay, btnPause, FPlayer);
}

void TEditfrm::PauseOrStop(bool Stop) {
  if (!PlayerAttached) return;
  TogglePlayback(1, btnPlay, btnPause, FPlayer);
  if (!Stop) return;
  FSeekBar->Seek(0);
  TrckVideo->SetPosition(0);
}

void TEditfrm::CloseWindow() {
  if (Closed) return;
  Closed = true;
  FSeekBar->StopTimer();
  FPreview.Close();
  // The player's threads read the handlers: they end before the handlers go.
  if (PlayerAttached) FPlayer.Stop(true);
  ClearPlayerEvents(FPlayer);
  PlayerAttached = false;
}

void TEditfrm::done(int Result) {
  CloseWindow();
  TSkinForm::done(Result);
}

// ---------------------------------------------------------------------------------------
// OK

TEditChoices TEditfrm::Choices() const {
  TEditChoices Choices;
  Choices.CropActive = CropActive;
  Choices.CropSourceRect = CropSourceRect;
  Choices.CropPreviewRect = CropPreviewRect;
  Choices.StartupWatermark = chkStartup->Checked();
  Choices.ImageChecked = rbimage->Checked();
  Choices.TextChecked = rbText->Checked();
  Choices.PictureLoaded = PictureLoaded;
  Choices.PictureFile = edtImage->text();
  Choices.PictureViewRect = ToIntRect(imgWatemark->geometry());
  Choices.Text = lblWatemark->text();
  Choices.Font = ToWaterMarkFont(WatermarkFont, WatermarkColor);
  Choices.TextViewRect = ToIntRect(lblWatemark->geometry());
  Choices.WatermarkSourceRect = WatermarkSourceRect;
  Choices.Brightness = trckBrightness->value();
  Choices.Contrast = trckContrast->value();
  Choices.Saturation = trckSaturation->value();
  Choices.HFlip = FlipHorizontal;
  Choices.VFlip = FlipVertical;
  Choices.Deinterlace = chkdeinterlace->Checked();
  return Choices;
}

void TEditfrm::ApplyToEntry() {
  RecomputeWatermark();
  TEditChoices Choices = this->Choices();
  if (WantsPictureCopy(Choices))
    Choices.PictureCopy = SaveWaterMark(Choices.PictureFile, Choices.WatermarkSourceRect);
  ApplyEditChoices(Choices, FEntry);
}

QImage TEditfrm::InputPreview() const { return imgVideo1->Picture(); }

QImage TEditfrm::OutputPreview() const { return imgVideo2->Picture(); }
