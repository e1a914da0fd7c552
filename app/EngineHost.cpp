#include "EngineHost.h"

#include "FFBaseComponent.h"
#include "PostCall.h"
#include "PreviewWindow.h"
#include "vf_eq.h"
#include "vf_hue.h"

#include <QCoreApplication>

namespace {

// Worker thread: a worker has queued a call; the GUI thread runs it when it next takes events.
void WakeGuiThread() {
  PostCall(QCoreApplication::instance(), [] { CheckSynchronize(); });
}

}  // namespace

void InstallEngineHost() {
  SetMainThread();
  SetSynchronizeHooks(WakeGuiThread, [] { QCoreApplication::processEvents(); });
  SetPreviewWindowFactory(MakePreviewWindow);
  // The picture effects of the edit window reach the conversion as these two filters.
  RegisterEqFilter();
  RegisterHueFilter();
}
