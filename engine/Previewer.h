// The live preview window of a transcoder task: each converted frame that the task hands over
// is shown in a small window of the host's, captioned with the frame's time. The engine knows
// the window only through TPreviewWindow, which the host implements; it never touches it
// outside the main thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TBitmap;

// A preview window as the engine uses it. The application's is a stay-on-top tool window
// centred on the screen, its client area the size of the first picture, dragged by its
// picture, closable by the user.
class TPreviewWindow {
 public:
  virtual ~TPreviewWindow() = default;
  // Main thread.
  virtual void SetCaption(const std::string& caption) = 0;
  // Main thread. Draws the picture at the top-left corner of the client area; the bitmap
  // changes once the call returns, so the window keeps a copy of what it shows.
  virtual void Draw(const TBitmap& bitmap) = 0;
};

// Called when the user has closed the window; on the main thread.
using TPreviewClosedEvent = std::function<void()>;

// Makes and shows a window for pictures like this one. nullptr when none can be made.
using TPreviewWindowFactory = std::function<std::unique_ptr<TPreviewWindow>(
    const TBitmap& firstPicture, TPreviewClosedEvent onClosed)>;

// The host installs its factory on the main thread before any task previews; without one,
// no task shows a preview window. The factory is called on the main thread.
void SetPreviewWindowFactory(TPreviewWindowFactory factory);

class TPreviewer {
 public:
  TPreviewer();
  // Frees the window on the main thread (from a worker it waits for the main thread).
  ~TPreviewer();
  TPreviewer(const TPreviewer&) = delete;
  TPreviewer& operator=(const TPreviewer&) = delete;

  // Called from the task thread: paints the picture of the frame at `pts` (µs) on the main
  // thread and waits for it. False once the user has closed the window (or none could be
  // made, or it failed): the task stops previewing, its conversion goes on.
  bool Show(const TBitmap& bitmap, int64_t pts);
  bool Closed() const { return *FClosed; }

 private:
  // Main thread, inside Show: unless closed, makes the window on the first picture, captions
  // it with the frame's time and draws the picture. When the host's window fails (throws),
  // the reason goes to the engine log and the previewer counts as closed.
  void Paint(const TBitmap& bitmap, int64_t pts);
  void PaintWindow(const TBitmap& bitmap, int64_t pts);

  std::unique_ptr<TPreviewWindow> FWindow;
  // Shared with the window's close event, which may outlive this previewer in the host.
  std::shared_ptr<std::atomic<bool>> FClosed;
};
