// The about box: the program's picture with the maker's notice, the home page link
// and the version. Shown modally from the main window and as the start-up splash.
#pragma once

#include <QDialog>

class QLabel;

// A picture that fills its rectangle. Unlike a label it draws its picture the same
// whether enabled or not, so the splash (which takes no input) is not greyed out.
class TImage : public QWidget {
 public:
  TImage(const QPixmap& Picture, QWidget* Parent);
  const QPixmap& Picture() const { return FPicture; }

 protected:
  void paintEvent(QPaintEvent* Event) override;

 private:
  QPixmap FPicture;
};

class Taboutfrm : public QDialog {
 public:
  explicit Taboutfrm(QWidget* Parent = nullptr);

  TImage* imgBd;
  QLabel* lblNotice;
  QLabel* lblHomePage;
  QLabel* lblurl;
  QLabel* lblVersion;

 protected:
  void showEvent(QShowEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  bool PictureEvent(QEvent* Event);
  bool LinkEvent(QEvent* Event);
  void OpenHomePage();
  void ShowLink(const QString& Address);
  void SetLinkUnderline(bool On);
};
