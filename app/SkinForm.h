// The base of the program's dialogs: a borderless window with its own caption bar, frame,
// logo and caption buttons drawn from the skin pictures, rounded corners, and a client area
// for the dialog's own controls. It can be dragged by its caption, its minimise button
// minimises the whole program and its close button cancels.
#pragma once

#include <QDialog>
#include <QRegion>

#include <functional>
#include <initializer_list>

class QLabel;
class TSkBmpButton;
class TSkPanel;

// The window's round-rectangle region, one pixel larger than the window, with corner
// ellipses of Ellipse by Ellipse pixels.
QRegion RoundRectRegion(const QSize& Size, int Ellipse);

// Drags a window by its caption, whose widgets (Handles) take the press: the window system
// moves the window where it can; elsewhere (no window manager, or a press that reached a
// window of its own inside this one, of which the window system knows nothing) the window
// follows the mouse itself.
class TCaptionDrag : public QObject {
 public:
  TCaptionDrag(QWidget& Window, std::initializer_list<QWidget*> Handles);

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  QWidget& FWindow;
  QPoint FDragOffset;
  bool FDragging = false;
};

class TSkinForm : public QDialog {
  Q_OBJECT

 public:
  static constexpr int CaptionHeight = 30;
  static constexpr int FrameWidth = 4;
  static constexpr int CornerEllipse = 15;

  explicit TSkinForm(const QString& Caption, QWidget* Parent = nullptr);

  // Where the dialog puts its own controls; it fills the window inside the frame.
  TSkPanel* Client() const { return FClient; }
  // Sizes the window so that the client area gets this size.
  void SetClientSize(const QSize& Size);
  // The skin's OK and Cancel buttons ("btnok", "btncancel"), made on first request and placed
  // by the dialog; OK accepts, Cancel rejects.
  TSkBmpButton* OkButton();
  TSkBmpButton* CancelButton();

  // The log lines when shown and when closed; "Enter " and "Leave " with the class name
  // unless a dialog sets its own words.
  QString EnterText, LeaveText;

  QLabel* CaptionLabel() const { return FCaption; }
  TSkBmpButton* MinimiseButton() const { return FMinimise; }
  TSkBmpButton* CloseButton() const { return FClose; }

  void done(int Result) override;

  // Gives the dialog's own buttons the pictures the skin gave OK, so that all look alike.
  void DressButtons(std::initializer_list<TSkBmpButton*> Buttons);

  // A bitmap button of the given name and caption, which calls OnClick when pressed.
  static TSkBmpButton* AddButton(QWidget* Parent, const char* Name, const QString& Caption,
                                 QSize Size, std::function<void()> OnClick);

 protected:
  void showEvent(QShowEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  // With EnterPressesOk, Enter that no control took (a box, a slider, a choice) presses OK,
  // the default button, when it can be pressed.
  void keyPressEvent(QKeyEvent* Event) override;
  bool EnterPressesOk = false;

 private:
  QLabel* AddPiece(const char* Name);
  void Layout();

  QLabel *imgtleft, *imgtCenter, *imgtright, *imgltop, *imglbottom, *imgrtop, *imgrbottom, *imgBb,
      *imglogo;
  QLabel* FCaption;
  TSkBmpButton* FMinimise;
  TSkBmpButton* FClose;
  TSkBmpButton* FOk = nullptr;
  TSkBmpButton* FCancel = nullptr;
  TSkPanel* FClient;
};
