#include "U_shutDown.h"

#include <QDBusMessage>

bool TLogindPower::PowerOff(QString& Error) {
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
      QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PowerOff"));
  // Not interactive: no password prompt, as a scheduled shut-down has no one to answer it.
  call << false;
  const QDBusMessage reply = FBus.call(call);
  if (reply.type() != QDBusMessage::ErrorMessage) return true;
  Error = reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
  return false;
}

QString TShutDownCountdown::Text() const {
  return QStringLiteral("Your computer will shut down after %1 seconds.").arg(Seconds - FCounter);
}
