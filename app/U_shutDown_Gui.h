// The countdown after a finished conversion that switches the computer off unless cancelled.
#pragma once

#include "SkinForm.h"
#include "U_shutDown.h"

#include <memory>

class QLabel;
class QTimer;
class TSkBmpButton;

class TShutDownFrm : public TSkinForm {
  Q_OBJECT

 public:
  static constexpr int mrCancel = 2;

  explicit TShutDownFrm(std::unique_ptr<ISystemPower> Power = std::make_unique<TLogindPower>(),
                        QWidget* Parent = nullptr);

  // One second of the countdown (the timer's tick); at the end the computer is switched off.
  void Tick();
  // Asks the system to switch off; a refusal stops the countdown, and the dialog stays
  // saying why.
  void ShutDownNow();
  // Escape and the close buttons cancel the countdown.
  void reject() override { done(mrCancel); }

  QLabel* lblShow;
  TSkBmpButton *btnOK, *btnCancel;
  QTimer* tmr1;

 protected:
  void showEvent(QShowEvent* Event) override;
  // Another X client may destroy the window (a window closer, a session tool): a countdown
  // nobody can see or cancel any more ends as Cancel.
  bool nativeEvent(const QByteArray& EventType, void* Message, qintptr* Result) override;

 private:
  std::unique_ptr<ISystemPower> FPower;
  TShutDownCountdown FCountdown;
};
