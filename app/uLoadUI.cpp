#include "uLoadUI.h"

#include "SkBmpBtn.h"
#include "U_Config.h"
#include "VelLog.h"

#include <QLabel>

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
QImage LoadSkinPicture(const QString& FileName) {
  const QString path = ProgramFolder() + QStringLiteral("skin/") + FileName;
  QImage picture(path);
  if (picture.isNull()) VelLog.WriteError(QStringLiteral("Cannot load the skin picture ") + path);
  return picture;
}

struct TButtonPictures {
  const char* Button;
  const char* Up;
  const char* Hot;
  const char* Down;  // none: the hot picture
};

bool SetButtonPictures(TSkBmpButton* Button, const TButtonPictures& Entry) {
  const QImage up = LoadSkinPicture(QLatin1String(Entry.Up));
  const QImage hot = LoadSkinPicture(QLatin1String(Entry.Hot));
  const QImage down = Entry.Down ? LoadSkinPicture(QLatin1String(Entry.Down)) : hot;
  TSkButtonBitmaps& bitmaps = Button->Bitmaps();
  bitmaps.SetUp(up);
  bitmaps.SetHot(hot);
  bitmaps.SetDown(down);
  Button->SetButtonBorder(up.isNull() ? bbButton : bbNone);
  return !up.isNull() && !hot.isNull() && !down.isNull();
}

const TButtonPictures DialogButton = {"", "btn_up.bmp", "btn_Hot.bmp", "btn_down.bmp"};

bool LoadButtons(QWidget* Form, std::initializer_list<TButtonPictures> Buttons) {
  bool loaded = true;
  for (const TButtonPictures& entry : Buttons)
    if (TSkBmpButton* button = FindPart<TSkBmpButton>(Form, QLatin1String(entry.Button)))
      loaded = SetButtonPictures(button, entry) && loaded;
  return loaded;
}

}  // namespace

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
    const QImage picture = LoadSkinPicture(QLatin1String(piece.File));
    loaded = loaded && !picture.isNull();
    part->setPixmap(QPixmap::fromImage(picture));
    part->setScaledContents(true);
    part->setAutoFillBackground(picture.isNull());
    QPalette palette = part->palette();
    palette.setColor(QPalette::Window, PlainFace);
    part->setPalette(palette);
  }
  return loaded;
}

bool LoadSkinButtons(QWidget* Form) {
  return LoadButtons(Form, {{"btnok", DialogButton.Up, DialogButton.Hot, DialogButton.Down},
                            {"btncancel", DialogButton.Up, DialogButton.Hot, DialogButton.Down}});
}

bool LoadSkinButton(TSkBmpButton* Button) {
  Button->SetButtonSize(bszStretchToButton);
  return SetButtonPictures(Button, DialogButton);
}

bool LoadSkinCaptionButtons(QWidget* Form) {
  // A caption button shows its hot picture while pressed.
  return LoadButtons(Form, {{"btnmin", "min_up.bmp", "min_hot.bmp", nullptr},
                            {"btnclose", "close_up.bmp", "close_hot.bmp", nullptr}});
}
