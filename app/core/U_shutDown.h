// Switching the computer off after a conversion: the countdown, and the request to the
// system, which goes to logind's PowerOff over the system D-Bus behind a small interface so
// that tests talk to a stand-in service and never to the machine's own.
#pragma once

#include <QDBusConnection>
#include <QString>

class ISystemPower {
 public:
  virtual ~ISystemPower() = default;
  // False, with the reason, when the system refused or could not be asked.
  virtual bool PowerOff(QString& Error) = 0;
};

class TLogindPower : public ISystemPower {
 public:
  explicit TLogindPower(QDBusConnection Bus = QDBusConnection::systemBus())
      : FBus(std::move(Bus)) {}
  bool PowerOff(QString& Error) override;

 private:
  QDBusConnection FBus;
};

// Counts the seconds down; the text the dialog shows.
class TShutDownCountdown {
 public:
  static constexpr int Seconds = 30;
  QString Text() const;
  // One second more; true when the time is up.
  bool Tick() { return ++FCounter >= Seconds; }
  void Restart() { FCounter = 0; }

 private:
  int FCounter = 0;
};
