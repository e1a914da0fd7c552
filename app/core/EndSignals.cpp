#include "EndSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int Signals[] = {SIGTERM, SIGINT, SIGHUP};

// The write end of the self-pipe, for the handler.
volatile sig_atomic_t WriteEnd = -1;

// Only what is safe inside a signal handler: one write, errno kept for the code it interrupts.
void Notify(int Signal) {
  const int saved = errno;
  const unsigned char number = static_cast<unsigned char>(Signal);
  if (write(WriteEnd, &number, 1) < 0) {
    // The pipe is full: signals already wait there, and one is enough to end.
  }
  errno = saved;
}

}  // namespace

TEndSignals::TEndSignals(QObject* Parent) : QObject(Parent) {
  if (pipe2(FPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    qWarning("Cannot make the pipe for ending signals: %s", strerror(errno));
    return;
  }
  WriteEnd = FPipe[1];
  FNotifier = new QSocketNotifier(FPipe[0], QSocketNotifier::Read, this);
  connect(FNotifier, &QSocketNotifier::activated, this, &TEndSignals::Read);
  struct sigaction action = {};
  action.sa_handler = Notify;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < std::size(Signals); ++i) sigaction(Signals[i], &action, &FSaved[i]);
}

TEndSignals::~TEndSignals() {
  if (FPipe[0] < 0) return;
  for (size_t i = 0; i < std::size(Signals); ++i) sigaction(Signals[i], &FSaved[i], nullptr);
  WriteEnd = -1;
  close(FPipe[0]);
  close(FPipe[1]);
}

void TEndSignals::Read() {
  unsigned char numbers[64];
  const ssize_t count = read(FPipe[0], numbers, sizeof numbers);
  if (count <= 0 || FEnding) return;
  FEnding = true;
  emit Ending(numbers[0]);
}
