// Shared by the input control tests: a shown window that holds the control under test beside a
// second focus target, so that focus can enter and leave it as it does for a user.
#pragma once

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

template <class TControl>
struct TFocusHost {
  QWidget Window;
  TControl* Control = new TControl(&Window);
  QLineEdit* Other = new QLineEdit(&Window);

  TFocusHost() {
    Window.resize(300, 200);
    Control->move(10, 10);
    Other->move(10, 150);
    Window.show();
    QApplication::setActiveWindow(&Window);
    Leave();
  }
  void Enter() { Control->setFocus(Qt::TabFocusReason); }
  void Leave() { Other->setFocus(Qt::TabFocusReason); }
};

// A control whose refused keys are counted instead of sounded.
template <class TControl>
class TBeepCounting : public TControl {
 public:
  using TControl::TControl;
  int Beeps = 0;

 protected:
  void InvalidKeyBeep() override { ++Beeps; }
};
