// The signals that end a program from outside: SIGTERM (the session ends, the system shuts
// down), SIGINT (Ctrl+C in its terminal) and SIGHUP (its terminal went). Left to their default
// they end the process at once, leaving a conversion's part files and the scratch folders
// behind; here they arrive as a Qt signal on the GUI thread instead, so that the program ends
// as its close button ends it.
#pragma once

#include <QObject>

#include <csignal>

class QSocketNotifier;

class TEndSignals : public QObject {
  Q_OBJECT

 public:
  // Installs the handlers, in place of any earlier ones; one object at a time. Libraries that
  // install their own (SDL does) must put these back afterwards.
  explicit TEndSignals(QObject* Parent = nullptr);
  // Puts the earlier handlers back.
  ~TEndSignals() override;

 signals:
  // For the first signal only: one end is enough.
  void Ending(int Signal);

 private:
  void Read();

  int FPipe[2] = {-1, -1};
  QSocketNotifier* FNotifier = nullptr;
  bool FEnding = false;
  struct sigaction FSaved[3] = {};
};
