// Where the program's windows lie on the screen, as the toolkit believes it. A window manager
// that takes a window into a frame of its own moves it there after the toolkit has asked where
// the window is: a change the toolkit reads while the new frame still waits at the screen's
// corner leaves it believing the window is there, and a manager that then places the frame
// without a word (openbox does, for a window already where it asked to be) leaves it so. Every
// list, menu and pop-up placed from that belief then opens at the corner.
#pragma once

// Once the application object exists, on an X server (elsewhere nothing): each time a window
// of the program is taken into a frame, its first exposure, which comes only once the frame is
// placed and shown, tells the toolkit where the window really is, as the manager should have.
// A second call adds nothing.
void WatchWindowPlaces();
