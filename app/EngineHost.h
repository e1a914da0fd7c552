// The application's side of the engine: the engine's workers run their main-thread calls on the
// Qt GUI thread, and a converting task previews in the application's preview window.
#pragma once

// GUI thread, with the application object made and before any engine worker starts.
void InstallEngineHost();
