#include "U_shutDown_Gui.h"

#include "SkBmpBtn.h"
#include "SkPanel.h"
#include "VelLog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

#include <xcb/xcb.h>

TShutDownFrm::TShutDownFrm(std::unique_ptr<ISystemPower> Power, QWidget* Parent)
    : TSkinForm(QStringLiteral("Information"), Parent), FPower(std::move(Power)) {
  lblShow = new QLabel(Client());
  lblShow->setObjectName(QStringLiteral("lblShow"));
  lblShow->setAlignment(Qt::AlignCenter);
  lblShow->setWordWrap(true);
  btnOK = new TSkBmpButton(Client());
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->SetCaption(QStringLiteral("Shut Down Now"));
  btnOK->setFixedSize(110, 24);
  btnOK->OnClick = [this] { ShutDownNow(); };
  btnCancel = new TSkBmpButton(Client());
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->SetCaption(QStringLiteral("Cancel"));
  btnCancel->setFixedSize(80, 24);
  btnCancel->ModalResult = mrCancel;
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(Client());
  layout->setContentsMargins(14, 18, 14, 12);
  layout->addWidget(lblShow);
  layout->addStretch();
  layout->addLayout(buttons);
  SetClientSize(QSize(340, 100));
  tmr1 = new QTimer(this);
  tmr1->setInterval(1000);
  connect(tmr1, &QTimer::timeout, this, [this] { Tick(); });
  connect(this, &QDialog::finished, tmr1, &QTimer::stop);
}

void TShutDownFrm::showEvent(QShowEvent* Event) {
  TSkinForm::showEvent(Event);
  // A window restored after a minimise goes on counting where it was.
  if (Event->spontaneous()) return;
  FCountdown.Restart();
  lblShow->setText(FCountdown.Text());
  // Return meant for another box must not switch the computer off.
  btnCancel->setFocus();
  tmr1->start();
}

void TShutDownFrm::Tick() {
  const bool due = FCountdown.Tick();
  lblShow->setText(FCountdown.Text());
  if (!due) return;
  tmr1->stop();
  ShutDownNow();
}

void TShutDownFrm::ShutDownNow() {
  QString error;
  if (FPower->PowerOff(error)) return;
  VelLog.WriteError(QStringLiteral("Cannot shut down: ") + error);
  // The countdown could only fail again: the window says why and waits for the user.
  tmr1->stop();
  lblShow->setText(QStringLiteral("Your computer could not be shut down: ") + error);
  // A long reason makes the window taller rather than being cut off.
  const int missing = lblShow->heightForWidth(lblShow->width()) - lblShow->height();
  if (missing > 0) SetClientSize(Client()->size() + QSize(0, missing));
}

bool TShutDownFrm::nativeEvent(const QByteArray& EventType, void* Message, qintptr* Result) {
  if (EventType == "xcb_generic_event_t") {
    const auto* event = static_cast<const xcb_generic_event_t*>(Message);
    if ((event->response_type & 0x7F) == XCB_DESTROY_NOTIFY &&
        reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window == winId()) {
      VelLog.WriteInfo(QStringLiteral("The shut-down window was closed from outside"));
      // Not from inside the window system's event: the dialog's ending hides its window.
      QMetaObject::invokeMethod(
          this, [this] { done(mrCancel); }, Qt::QueuedConnection);
    }
  }
  return TSkinForm::nativeEvent(EventType, Message, Result);
}
