#include "SkinForm.h"

#include "U_Config_Gui.h"

#include "SkBmpBtn.h"
#include "SkPanel.h"
#include "VelLog.h"
#include "uLoadUI.h"

#include <QApplication>
#include <QLabel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainterPath>
#include <QScreen>
#include <QWindow>

#include <algorithm>

namespace {

constexpr int CaptionEndWidth = 10;
constexpr int CaptionButtonTop = 5;
constexpr QSize CaptionButtonSize(22, 20);
constexpr QSize DialogButtonSize(75, 25);
constexpr TColor ClientFace = 0xF0F0F0;

void MinimiseProgram() {
  for (QWidget* window : QApplication::topLevelWidgets())
    if (window->isVisible()) window->showMinimized();
}

}  // namespace

QRegion RoundRectRegion(const QSize& Size, int Ellipse) {
  QPainterPath path;
  path.addRoundedRect(QRectF(0, 0, Size.width() + 1, Size.height() + 1), Ellipse / 2.0,
                      Ellipse / 2.0);
  return QRegion(path.toFillPolygon().toPolygon());
}

TSkinForm::TSkinForm(const QString& Caption, QWidget* Parent)
    : QDialog(Parent, Qt::Dialog | Qt::FramelessWindowHint) {
  setWindowTitle(Caption);
  imgtleft = AddPiece("imgtleft");
  imgtCenter = AddPiece("imgtCenter");
  imgtright = AddPiece("imgtright");
  imgltop = AddPiece("imgltop");
  imglbottom = AddPiece("imglbottom");
  imgrtop = AddPiece("imgrtop");
  imgrbottom = AddPiece("imgrbottom");
  imgBb = AddPiece("imgBb");
  imglogo = AddPiece("imglogo");

  FCaption = new QLabel(Caption, this);
  FCaption->setObjectName(QStringLiteral("lblCaption"));
  QFont bold = FCaption->font();
  bold.setBold(true);
  FCaption->setFont(bold);
  FCaption->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
  new TCaptionDrag(*this, {imgtCenter, FCaption});

  FMinimise = AddButton(this, "btnmin", QString(), CaptionButtonSize, &MinimiseProgram);
  FClose = AddButton(this, "btnclose", QString(), CaptionButtonSize, [this] { reject(); });
  // Only the mouse uses the caption: the keyboard has the dialog's own buttons and Esc.
  for (TSkBmpButton* caption : {FMinimise, FClose}) caption->setFocusPolicy(Qt::NoFocus);

  FClient = new TSkPanel(this);
  FClient->setObjectName(QStringLiteral("pnlClient"));
  FClient->SetBorderOuter(fsNone);
  FClient->SetColor(ClientFace);
  SetClientSize(QSize(360, 160));
}

QLabel* TSkinForm::AddPiece(const char* Name) {
  auto* piece = new QLabel(this);
  piece->setObjectName(QLatin1String(Name));
  return piece;
}

TSkBmpButton* TSkinForm::AddButton(QWidget* Parent, const char* Name, const QString& Caption,
                                   QSize Size, std::function<void()> OnClick) {
  auto* button = new TSkBmpButton(Parent);
  button->setObjectName(QLatin1String(Name));
  button->SetCaption(Caption);
  button->resize(Size);
  button->OnClick = std::move(OnClick);
  return button;
}

TSkBmpButton* TSkinForm::OkButton() {
  if (!FOk)
    FOk = AddButton(FClient, "btnok", QStringLiteral("OK"), DialogButtonSize, [this] { accept(); });
  return FOk;
}

TSkBmpButton* TSkinForm::CancelButton() {
  if (!FCancel)
    FCancel = AddButton(FClient, "btncancel", QStringLiteral("Cancel"), DialogButtonSize,
                        [this] { reject(); });
  return FCancel;
}

void TSkinForm::keyPressEvent(QKeyEvent* Event) {
  const bool enter = Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter;
  if (!EnterPressesOk || !enter || (Event->modifiers() & ~Qt::KeypadModifier))
    return QDialog::keyPressEvent(Event);
  if (OkButton()->isEnabled()) OkButton()->Click();
}

void TSkinForm::DressButtons(std::initializer_list<TSkBmpButton*> Buttons) {
  const TSkBmpButton* ok = OkButton();
  for (TSkBmpButton* button : Buttons) {
    TSkButtonBitmaps& bitmaps = button->Bitmaps();
    bitmaps.SetUp(ok->Bitmaps().Up());
    bitmaps.SetHot(ok->Bitmaps().Hot());
    bitmaps.SetDown(ok->Bitmaps().Down());
    button->SetButtonBorder(ok->ButtonBorder());
  }
}

void TSkinForm::SetClientSize(const QSize& Size) {
  resize(Size.width() + 2 * FrameWidth, Size.height() + CaptionHeight + FrameWidth);
}

void TSkinForm::Layout() {
  const int w = width();
  const int h = height();
  const int sideHeight = h - CaptionHeight - FrameWidth;
  imgtleft->setGeometry(0, 0, CaptionEndWidth, CaptionHeight);
  imgtCenter->setGeometry(CaptionEndWidth, 0, w - 2 * CaptionEndWidth, CaptionHeight);
  imgtright->setGeometry(w - CaptionEndWidth, 0, CaptionEndWidth, CaptionHeight);
  imgltop->setGeometry(0, CaptionHeight, FrameWidth, sideHeight);
  imgrtop->setGeometry(w - FrameWidth, CaptionHeight, FrameWidth, sideHeight);
  imglbottom->setGeometry(0, h - FrameWidth, FrameWidth, FrameWidth);
  imgBb->setGeometry(FrameWidth, h - FrameWidth, w - 2 * FrameWidth, FrameWidth);
  imgrbottom->setGeometry(w - FrameWidth, h - FrameWidth, FrameWidth, FrameWidth);
  imglogo->setGeometry(8, CaptionButtonTop, 20, 20);

  const int closeLeft = w - 8 - CaptionButtonSize.width();
  const int minimiseLeft = closeLeft - 2 - CaptionButtonSize.width();
  FClose->setGeometry(QRect(QPoint(closeLeft, CaptionButtonTop), CaptionButtonSize));
  FMinimise->setGeometry(QRect(QPoint(minimiseLeft, CaptionButtonTop), CaptionButtonSize));
  FCaption->setGeometry(34, 0, std::max(0, minimiseLeft - 40), CaptionHeight - 2);
  FClient->setGeometry(FrameWidth, CaptionHeight, w - 2 * FrameWidth, sideHeight);
  for (QWidget* overlay : {static_cast<QWidget*>(imglogo), static_cast<QWidget*>(FCaption),
                           static_cast<QWidget*>(FMinimise), static_cast<QWidget*>(FClose)})
    overlay->raise();
}

void TSkinForm::showEvent(QShowEvent* Event) {
  const bool placedByCaller = testAttribute(Qt::WA_Moved);
  LoadSkinFrame(this);
  LoadSkinButtons(this);
  LoadSkinCaptionButtons(this);
  setMask(RoundRectRegion(size(), CornerEllipse));
  // A dialog that chose no control to start on starts on its default button.
  if (!focusWidget())
    if (TSkBmpButton* button = FOk ? FOk : FCancel) button->setFocus(Qt::ActiveWindowFocusReason);
  VelLog.WriteInfo(EnterText.isEmpty()
                       ? QStringLiteral("Enter ") + QLatin1String(metaObject()->className())
                       : EnterText);
  QDialog::showEvent(Event);
  if (!placedByCaller && !Event->spontaneous()) {
    CentreOverOwner(*this);
    setAttribute(Qt::WA_Moved, false);  // placed, not placed by the caller: centred again next time
  }
}

void TSkinForm::done(int Result) {
  VelLog.WriteInfo(LeaveText.isEmpty()
                       ? QStringLiteral("Leave ") + QLatin1String(metaObject()->className())
                       : LeaveText);
  QDialog::done(Result);
}

void TSkinForm::resizeEvent(QResizeEvent* Event) {
  Layout();
  setMask(RoundRectRegion(size(), CornerEllipse));
  QDialog::resizeEvent(Event);
}

TCaptionDrag::TCaptionDrag(QWidget& Window, std::initializer_list<QWidget*> Handles)
    : QObject(&Window), FWindow(Window) {
  for (QWidget* handle : Handles) handle->installEventFilter(this);
}

bool TCaptionDrag::eventFilter(QObject* Watched, QEvent* Event) {
  const QEvent::Type type = Event->type();
  if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove &&
      type != QEvent::MouseButtonRelease)
    return false;
  const auto* mouse = static_cast<QMouseEvent*>(Event);
  if (type == QEvent::MouseButtonPress) {
    if (mouse->button() != Qt::LeftButton || FWindow.isMaximized()) return false;
    // The window system starts its move from where it last saw the pointer in the window: a
    // press taken by a native child window never reached it.
    const auto* handle = static_cast<QWidget*>(Watched);
    const bool seenByWindow = !handle->internalWinId() && handle->nativeParentWidget() == &FWindow;
    QWindow* window = FWindow.windowHandle();
    FDragging = !(seenByWindow && window && window->startSystemMove());
    FDragOffset = mouse->globalPosition().toPoint() - FWindow.pos();
    return true;
  }
  if (type == QEvent::MouseButtonRelease) FDragging = false;
  if (type != QEvent::MouseMove || !FDragging) return false;
  FWindow.move(mouse->globalPosition().toPoint() - FDragOffset);
  return true;
}
