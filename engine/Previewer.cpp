#include "Previewer.h"

#include "FFBaseComponent.h"
#include "FFLog.h"
#include "FFUtils.h"

namespace {

// Main thread only.
TPreviewWindowFactory& Factory() {
  static TPreviewWindowFactory factory;
  return factory;
}

}  // namespace

void SetPreviewWindowFactory(TPreviewWindowFactory factory) { Factory() = std::move(factory); }

TPreviewer::TPreviewer() : FClosed(std::make_shared<std::atomic<bool>>(false)) {}

TPreviewer::~TPreviewer() {
  if (FWindow) RunInMainThread([this] { FWindow.reset(); });
}

bool TPreviewer::Show(const TBitmap& bitmap, int64_t pts) {
  if (Closed()) return false;
  RunInMainThread([&] { Paint(bitmap, pts); });
  return !Closed();
}

void TPreviewer::Paint(const TBitmap& bitmap, int64_t pts) {
  if (Closed()) return;
  // The preview is an extra: a window that fails ends the preview, never the conversion.
  try {
    PaintWindow(bitmap, pts);
  } catch (const std::exception& e) {
    *FClosed = true;
    FFLogger().Log(this, llError, std::string("Preview window failed: ") + e.what());
  }
}

void TPreviewer::PaintWindow(const TBitmap& bitmap, int64_t pts) {
  if (!FWindow) {
    if (Factory()) FWindow = Factory()(bitmap, [closed = FClosed] { *closed = true; });
    if (!FWindow) {
      *FClosed = true;
      return;
    }
  }
  FWindow->SetCaption(DurationToText(pts));
  FWindow->Draw(bitmap);
}
