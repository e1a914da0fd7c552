// Running a call on the GUI thread from any thread.
#pragma once

#include <QObject>

#include <functional>

// Any thread. Queues Call to run on the GUI thread, in the order posted, unless Context has been
// destroyed by then. The call travels through a queue under a std::mutex instead of inside a Qt
// event, so that ThreadSanitizer sees the hand-over: Qt's own locks wait on futexes it cannot
// follow unless Qt itself is built with it.
void PostCall(QObject* Context, std::function<void()> Call);
