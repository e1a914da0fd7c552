// What the player's checks on a real X server share: their verdicts, waiting in the event
// loop, and the screen's pixels as the X server holds them.
#pragma once

#include <QImage>
#include <QPoint>
#include <QString>
#include <functional>

class TFFPlayer;

namespace screencheck {

// Prints the verdict; a failed check fails the program's run (see Verdict).
void Check(bool condition, const QString& what);
// The program's exit status after its checks, with the word that says it.
int Verdict();

void RunEventLoop(int milliseconds);
// Runs the event loop until the condition holds, for at most the time given (a guard against
// a hang, not a speed limit); whether it held.
bool WaitUntil(const std::function<bool()>& condition, int milliseconds = 15000);

// The whole screen, read from the X server (the root window), not from Qt's own buffers.
QImage GrabScreen();
QString Describe(QPoint at, QRgb pixel);

// The main-thread hooks a player's events need, and a player drawing through X11 with
// silent sound. False (after a failed check) when the libraries do not load.
void InstallMainThreadHooks();
bool LoadPlayer(TFFPlayer& player);

}  // namespace screencheck
