// The dialogs' window chrome, loaded from the pictures of the program folder's "skin"
// folder into the window's parts, found by name, each time a dialog is shown.
#pragma once

#include <QAbstractButton>
#include <QPixmap>

class QWidget;

// A button drawn from its up, hot and down pictures, with its text over them. Without
// pictures it paints a plain face, so a dialog stays usable when its skin is missing.
class TSkinButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit TSkinButton(const QString& Name, const QString& Text, QWidget* Parent);
  void SetPictures(const QPixmap& Up, const QPixmap& Hot, const QPixmap& Down);
  // The picture the button shows now.
  const QPixmap& CurrentPicture() const;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void enterEvent(QEnterEvent* Event) override;
  void leaveEvent(QEvent* Event) override;

 private:
  QPixmap FUp, FHot, FDown;
};

// Each loads its pictures into the parts of that name (letter case ignored); a picture that
// is missing or unreadable is logged and its part keeps its plain face. True when every
// picture was loaded.
bool LoadSkinFrame(QWidget* Form);
bool LoadSkinButtons(QWidget* Form);
bool LoadSkinCaptionButtons(QWidget* Form);
