#include "uLoadUI.h"

#include "U_Config.h"
#include "VelLog.h"

#include <QLabel>
#include <QPainter>

namespace {

// The face a part shows where its picture is missing: the caption's colour.
const QColor PlainFace(0x1B, 0x3A, 0x5C);

template <typename T>
T* FindPart(QWidget* Form, const QString& Name) {
  for (T* part : Form->findChildren<T*>())
    if (part->objectName().compare(Name, Qt::CaseInsensitive) == 0) return part;
  return nullptr;
}

// Null, with the reason in the log, when the picture cannot be read.
QPixmap LoadSkinPicture(const QString& FileName) {
  const QString path = ProgramFolder() + QStringLiteral("skin/") + FileName;
  QPixmap picture(path);
  if (picture.isNull()) VelLog.WriteError(QStringLiteral("Cannot load the skin picture ") + path);
  return picture;
}

struct TButtonPictures {
  const char* Button;
  const char* Up;
  const char* Hot;
  const char* Down;  // none: the hot picture
};

bool LoadButtons(QWidget* Form, std::initializer_list<TButtonPictures> Buttons) {
  bool loaded = true;
  for (const TButtonPictures& entry : Buttons) {
    TSkinButton* button = FindPart<TSkinButton>(Form, QLatin1String(entry.Button));
    if (!button) continue;
    const QPixmap up = LoadSkinPicture(QLatin1String(entry.Up));
    const QPixmap hot = LoadSkinPicture(QLatin1String(entry.Hot));
    const QPixmap down = entry.Down ? LoadSkinPicture(QLatin1String(entry.Down)) : hot;
    loaded = loaded && !up.isNull() && !hot.isNull() && !down.isNull();
    button->SetPictures(up, hot, down);
  }
  return loaded;
}

}  // namespace

TSkinButton::TSkinButton(const QString& Name, const QString& Text, QWidget* Parent)
    : QAbstractButton(Parent) {
  setObjectName(Name);
  setText(Text);
  setAttribute(Qt::WA_Hover);
}

void TSkinButton::SetPictures(const QPixmap& Up, const QPixmap& Hot, const QPixmap& Down) {
  FUp = Up;
  FHot = Hot;
  FDown = Down;
  updateGeometry();
  update();
}

const QPixmap& TSkinButton::CurrentPicture() const {
  if (isDown()) return FDown;
  return underMouse() ? FHot : FUp;
}

QSize TSkinButton::sizeHint() const { return FUp.isNull() ? QSize(75, 25) : FUp.size(); }

void TSkinButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QPixmap& picture = CurrentPicture();
  if (picture.isNull()) {
    painter.fillRect(rect(), isDown() ? palette().mid() : palette().button());
    painter.setPen(palette().color(QPalette::Shadow));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
  } else {
    painter.drawPixmap(rect(), picture);
  }
  painter.setPen(
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
  painter.drawText(rect().translated(isDown() ? 1 : 0, isDown() ? 1 : 0), Qt::AlignCenter, text());
}

void TSkinButton::enterEvent(QEnterEvent* Event) {
  QAbstractButton::enterEvent(Event);
  update();
}

void TSkinButton::leaveEvent(QEvent* Event) {
  QAbstractButton::leaveEvent(Event);
  update();
}

bool LoadSkinFrame(QWidget* Form) {
  static const struct {
    const char* File;
    const char* Part;
  } pieces[] = {
      {"Top_Left.jpg", "imgtleft"},
      {"top_right.jpg", "imgtright"},
      {"top_mid.jpg", "imgtCenter"},
      {"mid_left.jpg", "imgltop"},
      {"bottom_left.jpg", "imglbottom"},
      {"mid_right.jpg", "imgrtop"},
      {"bottom_right.jpg", "imgrbottom"},
      {"bottom_mid.jpg", "imgBb"},
      {"Logo.png", "imglogo"},
  };
  bool loaded = true;
  for (const auto& piece : pieces) {
    QLabel* part = FindPart<QLabel>(Form, QLatin1String(piece.Part));
    if (!part) continue;
    const QPixmap picture = LoadSkinPicture(QLatin1String(piece.File));
    loaded = loaded && !picture.isNull();
    part->setPixmap(picture);
    part->setScaledContents(true);
    part->setAutoFillBackground(picture.isNull());
    QPalette palette = part->palette();
    palette.setColor(QPalette::Window, PlainFace);
    part->setPalette(palette);
  }
  return loaded;
}

bool LoadSkinButtons(QWidget* Form) {
  return LoadButtons(Form, {{"btnok", "btn_up.bmp", "btn_Hot.bmp", "btn_down.bmp"},
                            {"btncancel", "btn_up.bmp", "btn_Hot.bmp", "btn_down.bmp"}});
}

bool LoadSkinCaptionButtons(QWidget* Form) {
  // A caption button shows its hot picture while pressed.
  return LoadButtons(Form, {{"btnmin", "min_up.bmp", "min_hot.bmp", nullptr},
                            {"btnclose", "close_up.bmp", "close_hot.bmp", nullptr}});
}
