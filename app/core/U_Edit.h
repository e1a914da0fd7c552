// What the edit window needs without a screen: the geometry between source pixels and the
// two previews (shared with the formats dialog), the window's own copy of the playing frame,
// the pixel work that makes the output preview look like the conversion's result, and the
// worker that redraws it while the player stands still.
#pragma once

#include <utility>

#include "MyUtils.h"
#include "U_FileOption.h"

#include <QString>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

struct TAVPicture;
class TFormatConverter;

// ---------------------------------------------------------------------------------------
// Geometry. Every rounding is to nearest, halves to even. A rectangle with no width or
// height never reaches a division: the helpers then give back the bounds they were handed.

inline int32_t RectWidth(const TIntRect& R) { return R.Right - R.Left; }
inline int32_t RectHeight(const TIntRect& R) { return R.Bottom - R.Top; }
inline bool RectIsEmpty(const TIntRect& R) { return RectWidth(R) <= 0 || RectHeight(R) <= 0; }

// (0, 0, W, H) of a "WxH" text; an empty rectangle when the text is no such size.
TIntRect FrameRectOf(const QString& FrameSize);

// The largest rectangle of Source's shape centred in Bounds.
TIntRect FitAspectRect(const TIntRect& Source, const TIntRect& Bounds);

// A rectangle drawn in a preview (Box, where the frame is fitted) in the frame's pixels,
// kept inside the frame. Without Clamp the fitted rectangle itself.
TIntRect PreviewToSourceRect(const TIntRect& Frame, const TIntRect& Box, const TIntRect& R,
                             bool Clamp);
// A rectangle in the frame's pixels as drawn in the preview Box.
TIntRect SourceToPreviewRect(const TIntRect& Frame, const TIntRect& Box, const TIntRect& R);
// Where an editor stands over the preview Box for R (frame pixels): never smaller than
// MinSize a side, and moved back inside Fit (where the frame is drawn) by what would pass it.
TIntRect PreviewAreaOf(const TIntRect& Frame, const TIntRect& Box, const TIntRect& Fit,
                       const TIntRect& R, int MinSize);
// One side (Start, End) of a rectangle after its start or its length was typed: a typed start
// keeps the far edge where it can, a typed length keeps the start. The side stays within
// 0..Length and at least MinSize long.
std::pair<int32_t, int32_t> TypedSpan(int32_t Start, int32_t End, int32_t Typed, bool TypedStart,
                                      int32_t Length, int32_t MinSize);
// The smallest area an editor of MinSize preview pixels a side stands for over the preview
// Box, in the frame's pixels (at its origin): at least a pixel and at most the frame a side.
TIntRect SmallestSourceArea(const TIntRect& Frame, const TIntRect& Box, int MinSize);
// A font size in frame pixels as it looks in the preview where the frame fills Fit.
int ScaleFontSize(const TIntRect& Frame, const TIntRect& Fit, int Size);

// ---------------------------------------------------------------------------------------
// A picture ready for the screen: Width x Height pixels 0xffRRGGBB, rows packed, of the
// frame at Time (µs from the input's start).
struct TPreviewPicture {
  int Width = 0;
  int Height = 0;
  std::vector<uint32_t> Pixels;
  int64_t Time = 0;
};

// A planar YUV 4:2:0 frame in buffers of its own (the player reuses and frees its pictures).
struct TEditFrame {
  int Width = 0;
  int Height = 0;
  TScalerPicture Planes;  // YUV 4:2:0
  int64_t Time = 0;       // µs from the input's start

  // An odd size keeps its last chroma column and row, as the conversion does.
  int ChromaWidth() const { return (Width + 1) / 2; }
  int ChromaHeight() const { return (Height + 1) / 2; }
  bool IsEmpty() const { return Width <= 0 || Height <= 0; }
  // Throws std::bad_alloc when no memory can be had.
  void CopyFrom(const TAVPicture& Picture, int Width, int Height);
};

// What the conversion will do to the picture, as the output preview shows it.
struct TEditLook {
  bool CropActive = false;
  TIntRect CropSourceRect;  // frame pixels
  int Brightness = 0;
  int Contrast = 0;
  int Saturation = 0;
  bool FlipHorizontal = false;
  bool FlipVertical = false;
  bool operator==(const TEditLook&) const = default;
};

// Brightness and contrast on the luma plane, saturation on the chroma planes, in place.
void ApplyEffects(TEditFrame& Frame, const TEditLook& Look);
// Mirrors the picture left to right and / or top to bottom.
void FlipPicture(TPreviewPicture& Picture, bool Horizontal, bool Vertical);
// The part of the picture inside Rect (limited to the picture).
TPreviewPicture CropPicture(const TPreviewPicture& Picture, const TIntRect& Rect);

// The frame as it is: the input preview. Nothing when it cannot be converted.
std::optional<TPreviewPicture> RenderInputPicture(const TEditFrame& Frame,
                                                  TFormatConverter& Converter);
// Effects, crop and flips on a copy of the frame: the output preview.
std::optional<TPreviewPicture> RenderOutputPicture(const TEditFrame& Frame, const TEditLook& Look,
                                                   TFormatConverter& Converter);

// ---------------------------------------------------------------------------------------
// One thread that runs Render after each request. Requests made before a render starts are
// served by that render; a request made during a render gets one more. None is ever lost.
class TPreviewWorker {
 public:
  explicit TPreviewWorker(std::function<void()> Render);
  ~TPreviewWorker();
  TPreviewWorker(const TPreviewWorker&) = delete;
  TPreviewWorker& operator=(const TPreviewWorker&) = delete;

  // Any thread.
  void Request();
  // Any thread but the worker's. Waits for a render under way; none starts afterwards.
  void Stop();

 private:
  void Run();

  std::function<void()> FRender;
  std::mutex FLock;
  std::condition_variable FWake;
  uint64_t FRequested = 0;  // requests made so far
  bool FStopping = false;
  std::thread FThread;
};

// ---------------------------------------------------------------------------------------
// The edit window's picture pipeline. The player's frame hook hands every frame to
// FrameArrived (the player's decoding thread); while the player stands still, Redraw has the
// worker draw the output preview again from the last frame with the current look. Pictures
// leave through the two events, from either of those threads; the window queues them to
// its own thread.
class TEditPreview {
 public:
  using TPictureEvent = std::function<void(const TPreviewPicture& Picture)>;

  TEditPreview();
  ~TEditPreview();
  TEditPreview(const TEditPreview&) = delete;
  TEditPreview& operator=(const TEditPreview&) = delete;

  // Set before the first frame.
  TPictureEvent OnInputPicture;
  TPictureEvent OnOutputPicture;

  // The player's decoding thread. Pictures other than YUV 4:2:0 are ignored.
  void FrameArrived(const TAVPicture& Picture, bool Yuv420, int Width, int Height, int64_t Time);
  // GUI thread.
  void SetLook(const TEditLook& Look);
  TEditLook Look() const;
  // GUI thread: the output preview again from the last frame (a playing player draws the
  // next frame anyway).
  void Redraw(bool Playing);
  // GUI thread: no picture leaves after this returns.
  void Close();

 private:
  void RenderOutput();

  mutable std::mutex FRenderLock;
  TEditFrame FFrame;
  TEditLook FLook;
  bool FClosed = false;
  std::unique_ptr<TFormatConverter> FConverter;
  TPreviewWorker FWorker;
};

// ---------------------------------------------------------------------------------------
// Everything the edit window decided, gathered before anything is written into the entry.
struct TEditChoices {
  bool CropActive = false;
  TIntRect CropSourceRect;
  TIntRect CropPreviewRect;
  bool StartupWatermark = false;
  bool ImageChecked = true;
  bool TextChecked = false;
  bool PictureLoaded = false;
  QString PictureFile;
  QString PictureCopy;  // the scaled copy, made beforehand; empty when it could not be written
  TIntRect PictureViewRect;
  QString Text;  // trimmed
  TWaterMarkFont Font;
  TIntRect TextViewRect;
  TIntRect WatermarkSourceRect;  // output-frame pixels
  int Brightness = 0;
  int Contrast = 0;
  int Saturation = 0;
  bool HFlip = false;
  bool VFlip = false;
  bool Deinterlace = false;
};

// Whether OK makes a scaled copy of the picture: only for a loaded picture with an area.
bool WantsPictureCopy(const TEditChoices& Choices);
// Writes the choices into the entry, with the log lines that record them.
void ApplyEditChoices(const TEditChoices& Choices, TFileOption& Entry);
