// The application's side of the engine: the engine's workers run their main-thread calls on the
// Qt GUI thread, a converting task previews in the application's preview window, and the
// picture effects' own filters can be named in filter chains.
#pragma once

// GUI thread, with the application object made and before any engine worker starts.
void InstallEngineHost();
