#include "U_about.h"

#include "SkCommon.h"
#include "U_Config_Gui.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

namespace {

// Window colours are given as 0xBBGGRR values.
const QColor LinkColor(0x20, 0x8A, 0xDE);
const QColor VersionColor(0xEE, 0xEE, 0xF3);
// The link keeps this far from the picture's right edge.
constexpr int LinkMargin = 12;

// The home page link: Tab reaches it, and while it has the focus a dotted frame in its own
// colour (black would vanish on the dark picture) surrounds it.
class TLinkLabel : public QLabel {
 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent* Event) override {
    QLabel::paintEvent(Event);
    if (!hasFocus()) return;
    QPainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
  }
};

// Room between the link's text and its focus frame.
constexpr int LinkFrameRoom = 2;

template <class TLabel = QLabel>
TLabel* MakeLabel(QWidget* Parent, const QString& Text, const QColor& Color, QPoint At) {
  auto* label = new TLabel(Text, Parent);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, Color);
  label->setPalette(palette);
  label->move(At);
  return label;
}

// The texts only show; a press on them is a press on the picture below.
void PassMouseThrough(QLabel* Label) { Label->setAttribute(Qt::WA_TransparentForMouseEvents); }

}  // namespace

TImage::TImage(const QPixmap& Picture, QWidget* Parent) : QWidget(Parent), FPicture(Picture) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TImage::paintEvent(QPaintEvent*) { QPainter(this).drawPixmap(rect(), FPicture); }

Taboutfrm::Taboutfrm(QWidget* Parent) : QDialog(Parent, Qt::Dialog | Qt::FramelessWindowHint) {
  setWindowTitle(QStringLiteral("About"));
  const QPixmap picture(QStringLiteral(":/about/about.png"));
  setFixedSize(picture.size());

  imgBd = new TImage(picture, this);
  imgBd->setGeometry(rect());
  imgBd->installEventFilter(this);

  lblVersion = MakeLabel(this, QStringLiteral("Version 1.5.0"), VersionColor, QPoint(26, 118));
  lblNotice = MakeLabel(this, QStringLiteral("Copyright \u00A9 Velmora. All rights reserved."),
                        Qt::white, QPoint(24, 206));
  lblHomePage = MakeLabel(this, QStringLiteral("Home Page:"), Qt::white, QPoint(24, 228));
  lblurl = MakeLabel<TLinkLabel>(
      this, QString(), LinkColor,
      QPoint(lblHomePage->x() + lblHomePage->sizeHint().width() + 6, 228) -
          QPoint(LinkFrameRoom, LinkFrameRoom));
  lblurl->setMargin(LinkFrameRoom);
  for (QLabel* label : {lblVersion, lblNotice, lblHomePage}) PassMouseThrough(label);
  lblurl->setCursor(Qt::PointingHandCursor);
  lblurl->setFocusPolicy(Qt::TabFocus);
  lblurl->installEventFilter(this);
}

void Taboutfrm::showEvent(QShowEvent* Event) {
  lblVersion->setText(QStringLiteral("Version ") + GetFileVersionText(true));
  lblVersion->adjustSize();
  ShowLink(ReadUrlConfig(QStringLiteral("HomePage")));
  QDialog::showEvent(Event);
  if (!Event->spontaneous()) CentreOverOwner(*this);
}

bool Taboutfrm::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == imgBd) return PictureEvent(Event);
  if (Watched == lblurl) return LinkEvent(Event);
  return QDialog::eventFilter(Watched, Event);
}

bool Taboutfrm::PictureEvent(QEvent* Event) {
  // The splash is disabled: it takes no input and closes only when start-up frees it.
  if (Event->type() != QEvent::MouseButtonPress || !isEnabled()) return false;
  close();
  return true;
}

bool Taboutfrm::LinkEvent(QEvent* Event) {
  switch (Event->type()) {
    case QEvent::Enter:
      SetLinkUnderline(true);
      return false;
    case QEvent::Leave:
      SetLinkUnderline(false);
      return false;
    case QEvent::MouseButtonRelease: {
      const auto* mouse = static_cast<QMouseEvent*>(Event);
      if (mouse->button() == Qt::LeftButton && lblurl->rect().contains(mouse->position().toPoint()))
        OpenHomePage();
      return true;
    }
    case QEvent::KeyPress:
      if (!IsActivationKey(static_cast<QKeyEvent*>(Event)->key())) return false;
      OpenHomePage();
      return true;
    default:
      return false;
  }
}

// Read again each time: the shown address may be cut short.
void Taboutfrm::OpenHomePage() { OpenURL(ReadUrlConfig(QStringLiteral("HomePage"))); }

void Taboutfrm::ShowLink(const QString& Address) {
  // A long address ends in "..." at the picture's edge; opening reads the whole one again.
  const int room = width() - lblurl->x() - 2 * LinkFrameRoom - LinkMargin;
  lblurl->setText(lblurl->fontMetrics().elidedText(Address, Qt::ElideRight, room));
  lblurl->adjustSize();
}

void Taboutfrm::SetLinkUnderline(bool On) {
  QFont font = lblurl->font();
  font.setUnderline(On);
  lblurl->setFont(font);
}
