#include "U_Edit.h"

#include "MyUtils.h"
#include "VelLog.h"
#include "vf_eq.h"
#include "vf_hue.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

namespace {

// Nearest, halves to even: the default rounding mode of the floating-point unit.
int32_t Round(double Value) { return int32_t(std::nearbyint(Value)); }

}  // namespace

TIntRect FrameRectOf(const QString& FrameSize) {
  const QSize Size = ParseFrameSize(FrameSize);
  if (Size.isEmpty()) return {};
  return {0, 0, Size.width(), Size.height()};
}

TIntRect FitAspectRect(const TIntRect& Source, const TIntRect& Bounds) {
  if (RectIsEmpty(Source) || RectIsEmpty(Bounds)) return Bounds;
  const double Sx = double(RectWidth(Source)) / RectWidth(Bounds);
  const double Sy = double(RectHeight(Source)) / RectHeight(Bounds);
  TIntRect Fit = Bounds;
  if (Sx < Sy) {
    const int32_t D = Round((RectWidth(Bounds) - RectWidth(Source) / Sy) / 2);
    Fit.Left += D;
    Fit.Right -= D;
  } else {
    const int32_t D = Round((RectHeight(Bounds) - RectHeight(Source) / Sx) / 2);
    Fit.Top += D;
    Fit.Bottom -= D;
  }
  return Fit;
}

TIntRect PreviewToSourceRect(const TIntRect& Frame, const TIntRect& Box, const TIntRect& R,
                             bool Clamp) {
  const TIntRect Fit = FitAspectRect(Frame, Box);
  if (!Clamp) return Fit;
  if (RectIsEmpty(Frame) || RectIsEmpty(Box) || RectIsEmpty(Fit)) return Frame;
  const double Sx = double(RectWidth(Frame)) / RectWidth(Box);
  const double Sy = double(RectHeight(Frame)) / RectHeight(Box);
  // Along the fitted axis the picture fills only part of the box.
  const auto Fitted = [](int32_t Value, int32_t BoxSize, int32_t FitSize, int32_t FitStart,
                         double Scale) {
    return Round(double(BoxSize) / FitSize * (Value - FitStart) * Scale);
  };
  TIntRect Result;
  if (Sx < Sy) {
    Result.Left = Fitted(R.Left, RectWidth(Box), RectWidth(Fit), Fit.Left, Sx);
    Result.Right = Fitted(R.Right, RectWidth(Box), RectWidth(Fit), Fit.Left, Sx);
    Result.Top = Round(R.Top * Sy);
    Result.Bottom = Round(R.Bottom * Sy);
  } else {
    Result.Left = Round(R.Left * Sx);
    Result.Right = Round(R.Right * Sx);
    Result.Top = Fitted(R.Top, RectHeight(Box), RectHeight(Fit), Fit.Top, Sy);
    Result.Bottom = Fitted(R.Bottom, RectHeight(Box), RectHeight(Fit), Fit.Top, Sy);
  }
  Result.Left = std::max(0, Result.Left);
  Result.Top = std::max(0, Result.Top);
  Result.Right = std::min(Result.Right, Frame.Right);
  Result.Bottom = std::min(Result.Bottom, Frame.Bottom);
  return Result;
}

TIntRect SourceToPreviewRect(const TIntRect& Frame, const TIntRect& Box, const TIntRect& R) {
  if (RectIsEmpty(Frame) || RectIsEmpty(Box)) return Box;
  const TIntRect Fit = FitAspectRect(Frame, Box);
  const double Sx = double(RectWidth(Frame)) / RectWidth(Box);
  const double Sy = double(RectHeight(Frame)) / RectHeight(Box);
  const auto Fitted = [](int32_t Value, int32_t FitSize, int32_t BoxSize, int32_t FitStart,
                         double Scale) {
    return Round(FitSize * double(Value) / BoxSize / Scale + FitStart);
  };
  TIntRect Result;
  if (Sx >= Sy) {
    Result.Left = Round(R.Left / Sx);
    Result.Right = Round(R.Right / Sx);
    Result.Top = Fitted(R.Top, RectHeight(Fit), RectHeight(Box), Fit.Top, Sy);
    Result.Bottom = Fitted(R.Bottom, RectHeight(Fit), RectHeight(Box), Fit.Top, Sy);
  } else {
    Result.Top = Round(R.Top / Sy);
    Result.Bottom = Round(R.Bottom / Sy);
    Result.Left = Fitted(R.Left, RectWidth(Fit), RectWidth(Box), Fit.Left, Sx);
    Result.Right = Fitted(R.Right, RectWidth(Fit), RectWidth(Box), Fit.Left, Sx);
  }
  return Result;
}

TIntRect PreviewAreaOf(const TIntRect& Frame, const TIntRect& Box, const TIntRect& Fit,
                       const TIntRect& R, int MinSize) {
  const TIntRect Preview = SourceToPreviewRect(Frame, Box, R);
  const int32_t Width = std::max(RectWidth(Preview), MinSize);
  const int32_t Height = std::max(RectHeight(Preview), MinSize);
  const int32_t Left = Preview.Left - std::max(0, Preview.Left + Width - Fit.Right);
  const int32_t Top = Preview.Top - std::max(0, Preview.Top + Height - Fit.Bottom);
  return {Left, Top, Left + Width, Top + Height};
}

std::pair<int32_t, int32_t> TypedSpan(int32_t Start, int32_t End, int32_t Typed, bool TypedStart,
                                      int32_t Length, int32_t MinSize) {
  MinSize = std::min(MinSize, Length);
  const int32_t Room = Length - Start;
  if (!TypedStart) return {Start, Start + std::clamp(Typed, std::min(MinSize, Room), Room)};
  const int32_t NewStart = std::clamp(Typed, 0, Length - MinSize);
  return {NewStart, std::clamp(End, NewStart + MinSize, Length)};
}

TIntRect SmallestSourceArea(const TIntRect& Frame, const TIntRect& Box, int MinSize) {
  if (RectIsEmpty(Frame)) return {};
  // The square on the drawn picture: at the box's corner it would lie (partly) on a band,
  // which the picture's pixels do not reach.
  const TIntRect Fit = FitAspectRect(Frame, Box);
  const TIntRect Square = PreviewToSourceRect(
      Frame, Box, {Fit.Left, Fit.Top, Fit.Left + MinSize, Fit.Top + MinSize}, true);
  return {0, 0, std::clamp(RectWidth(Square), 1, RectWidth(Frame)),
          std::clamp(RectHeight(Square), 1, RectHeight(Frame))};
}

int ScaleFontSize(const TIntRect& Frame, const TIntRect& Fit, int Size) {
  if (RectIsEmpty(Frame) || RectIsEmpty(Fit)) return Size;
  const double Sx = double(RectWidth(Frame)) / RectWidth(Fit);
  const double Sy = double(RectHeight(Frame)) / RectHeight(Fit);
  return Round(Size / std::max(Sx, Sy));
}

// ---------------------------------------------------------------------------------------

void TEditFrame::CopyFrom(const TAVPicture& Picture, int NewWidth, int NewHeight) {
  Width = std::max(0, NewWidth);
  Height = std::max(0, NewHeight);
  if (IsEmpty()) return;
  std::string Error;
  if (!Planes.Reserve(AV_PIX_FMT_YUV420P, Width, Height, Error)) throw std::bad_alloc();
  const uint8_t* Source[4] = {Picture.data[0], Picture.data[1], Picture.data[2], nullptr};
  TAVPicture Target = Planes.Planes();
  ff::av_image_copy(Target.data, Target.linesize, Source, Picture.linesize, AV_PIX_FMT_YUV420P,
                    Width, Height);
}

void ApplyEffects(TEditFrame& Frame, const TEditLook& Look) {
  if (Frame.IsEmpty()) return;
  if (Look.Brightness != 0 || Look.Contrast != 0)
    VideoEqualizeLuma(Frame.Planes.Planes().data[0], Frame.Planes.Planes().linesize[0],
                      Frame.Width, Look.Contrast, Look.Brightness, Frame.Height);
  if (Look.Saturation != 0)
    VideoRotateHueSat(Frame.Planes.Planes().data[1], Frame.Planes.Planes().data[2],
                      Frame.Planes.Planes().linesize[1], Look.Saturation, 0,
                      Frame.ChromaHeight(), Frame.ChromaWidth());
}

void FlipPicture(TPreviewPicture& Picture, bool Horizontal, bool Vertical) {
  const auto Row = [&](int Index) {
    return Picture.Pixels.begin() + ptrdiff_t(Index) * Picture.Width;
  };
  if (Horizontal)
    for (int Y = 0; Y < Picture.Height; ++Y) std::reverse(Row(Y), Row(Y + 1));
  if (Vertical)
    for (int Y = 0; Y < Picture.Height / 2; ++Y)
      std::swap_ranges(Row(Y), Row(Y + 1), Row(Picture.Height - 1 - Y));
}

TPreviewPicture CropPicture(const TPreviewPicture& Picture, const TIntRect& Rect) {
  const int Left = std::clamp(Rect.Left, 0, Picture.Width);
  const int Top = std::clamp(Rect.Top, 0, Picture.Height);
  const int Right = std::clamp(Rect.Right, Left, Picture.Width);
  const int Bottom = std::clamp(Rect.Bottom, Top, Picture.Height);
  TPreviewPicture Part{Right - Left, Bottom - Top, {}, Picture.Time};
  Part.Pixels.reserve(size_t(Part.Width) * size_t(Part.Height));
  for (int Y = Top; Y < Bottom; ++Y) {
    const auto Start = Picture.Pixels.begin() + ptrdiff_t(Y) * Picture.Width;
    Part.Pixels.insert(Part.Pixels.end(), Start + Left, Start + Right);
  }
  return Part;
}

std::optional<TPreviewPicture> RenderInputPicture(const TEditFrame& Frame,
                                                  TFormatConverter& Converter) {
  if (Frame.IsEmpty()) return std::nullopt;
  const TAVPicture& Planes = Frame.Planes.Planes();
  Converter.SetBitsPixel(32);
  if (!Converter.PictureToBitmap(Planes.data, Planes.linesize, AV_PIX_FMT_YUV420P, true,
                                 Frame.Width, Frame.Height))
    return std::nullopt;
  const TBitmap& Bitmap = Converter.Bitmap();
  TPreviewPicture Picture{Frame.Width, Frame.Height, {}, Frame.Time};
  Picture.Pixels.resize(size_t(Frame.Width) * size_t(Frame.Height));
  for (int Y = 0; Y < Frame.Height; ++Y) {
    const uint8_t* Line = Bitmap.ScanLine(Y);
    for (int X = 0; X < Frame.Width; ++X) {
      uint32_t Pixel;
      std::memcpy(&Pixel, Line + 4 * X, 4);
      Picture.Pixels[size_t(Y) * size_t(Frame.Width) + size_t(X)] = Pixel | 0xff000000u;
    }
  }
  return Picture;
}

std::optional<TPreviewPicture> RenderOutputPicture(const TEditFrame& Frame, const TEditLook& Look,
                                                   TFormatConverter& Converter) {
  TEditFrame Copy = Frame;
  ApplyEffects(Copy, Look);
  std::optional<TPreviewPicture> Picture = RenderInputPicture(Copy, Converter);
  if (!Picture) return std::nullopt;
  if (Look.CropActive && !RectIsEmpty(Look.CropSourceRect))
    *Picture = CropPicture(*Picture, Look.CropSourceRect);
  FlipPicture(*Picture, Look.FlipHorizontal, Look.FlipVertical);
  return Picture;
}

// ---------------------------------------------------------------------------------------

TPreviewWorker::TPreviewWorker(std::function<void()> Render)
    : FRender(std::move(Render)), FThread([this] { Run(); }) {}

TPreviewWorker::~TPreviewWorker() { Stop(); }

void TPreviewWorker::Request() {
  {
    std::lock_guard Guard(FLock);
    ++FRequested;
  }
  FWake.notify_one();
}

void TPreviewWorker::Stop() {
  {
    std::lock_guard Guard(FLock);
    FStopping = true;
  }
  FWake.notify_one();
  if (FThread.joinable()) FThread.join();
}

// The worker thread.
void TPreviewWorker::Run() {
  uint64_t Served = 0;
  std::unique_lock Guard(FLock);
  for (;;) {
    FWake.wait(Guard, [&] { return FStopping || FRequested != Served; });
    if (FStopping) return;
    Served = FRequested;
    Guard.unlock();
    FRender();
    Guard.lock();
  }
}

// ---------------------------------------------------------------------------------------

TEditPreview::TEditPreview()
    : FConverter(std::make_unique<TFormatConverter>()), FWorker([this] { RenderOutput(); }) {}

TEditPreview::~TEditPreview() { Close(); }

// The player's decoding thread.
void TEditPreview::FrameArrived(const TAVPicture& Picture, bool Yuv420, int Width, int Height,
                                int64_t Time) {
  if (!Yuv420 || Width <= 0 || Height <= 0) return;
  std::lock_guard Guard(FRenderLock);
  if (FClosed) return;
  FFrame.CopyFrom(Picture, Width, Height);
  FFrame.Time = Time;
  if (auto Input = RenderInputPicture(FFrame, *FConverter); Input && OnInputPicture)
    OnInputPicture(*Input);
  if (auto Output = RenderOutputPicture(FFrame, FLook, *FConverter); Output && OnOutputPicture)
    OnOutputPicture(*Output);
}

void TEditPreview::SetLook(const TEditLook& Look) {
  std::lock_guard Guard(FRenderLock);
  FLook = Look;
}

TEditLook TEditPreview::Look() const {
  std::lock_guard Guard(FRenderLock);
  return FLook;
}

void TEditPreview::Redraw(bool Playing) {
  if (!Playing) FWorker.Request();
}

void TEditPreview::Close() {
  {
    std::lock_guard Guard(FRenderLock);
    FClosed = true;
  }
  FWorker.Stop();
}

// The worker thread.
void TEditPreview::RenderOutput() {
  std::lock_guard Guard(FRenderLock);
  if (FClosed || FFrame.IsEmpty()) return;
  if (auto Output = RenderOutputPicture(FFrame, FLook, *FConverter); Output && OnOutputPicture)
    OnOutputPicture(*Output);
}

// ---------------------------------------------------------------------------------------

namespace {

QString RectLine(const char* Name, const TIntRect& R) {
  return QStringLiteral("%1: %2, %3 , %4, %5")
      .arg(QLatin1String(Name))
      .arg(R.Left)
      .arg(R.Top)
      .arg(R.Right)
      .arg(R.Bottom);
}

void LogBlock(const char* Title, const QStringList& Lines) {
  const QString Rule = QLatin1String(Title) + QStringLiteral(":-------------");
  VelLog.WriteInfo(Rule);
  for (const QString& Line : Lines) VelLog.WriteInfo(Line);
  VelLog.WriteInfo(Rule);
}

void ApplyCrop(const TEditChoices& Choices, TFileOption& Entry) {
  Entry.CropEnabled = Choices.CropActive;
  if (!Choices.CropActive) return;
  Entry.CropRect = Choices.CropSourceRect;
  Entry.CropDestRect = Choices.CropPreviewRect;
  LogBlock("CutVideo", {RectLine("SrcRect", Choices.CropSourceRect),
                        RectLine("DestRect", Choices.CropPreviewRect)});
}

void ApplyPictureWaterMark(const TEditChoices& Choices, TWaterMark& WaterMark) {
  if (!WantsPictureCopy(Choices)) return;
  if (Choices.ImageChecked) WaterMark.Kind = 1;
  WaterMark.PictureCopy = Choices.PictureCopy;
  WaterMark.PictureFile = Choices.PictureFile;
  WaterMark.Rect = Choices.WatermarkSourceRect;
  WaterMark.PictureViewRect = Choices.PictureViewRect;
  LogBlock("AddPicWaterMark", {RectLine("SrcRect", Choices.WatermarkSourceRect),
                               RectLine("DestRect", Choices.PictureViewRect),
                               QStringLiteral("Pic Name: ") + Choices.PictureFile});
}

void ApplyTextWaterMark(const TEditChoices& Choices, TWaterMark& WaterMark) {
  if (Choices.Text.isEmpty()) return;
  if (Choices.TextChecked) WaterMark.Kind = 2;
  WaterMark.Text = Choices.Text;
  WaterMark.Font = Choices.Font;
  WaterMark.Rect = Choices.WatermarkSourceRect;
  WaterMark.TextViewRect = Choices.TextViewRect;
  LogBlock(
      "AddFontWaterMark",
      {RectLine("SrcRect", Choices.WatermarkSourceRect), RectLine("DestRect", Choices.TextViewRect),
       QStringLiteral("Size: %1, Name: %2").arg(Choices.Font.PointSize).arg(Choices.Font.Family)});
}

int32_t WaterMarkKindOf(const TEditChoices& Choices, int32_t Current) {
  if (!Choices.StartupWatermark) return -1;
  if (Choices.ImageChecked && WantsPictureCopy(Choices)) return 1;
  if (Choices.TextChecked && !Choices.Text.isEmpty()) return 2;
  return Current;
}

}  // namespace

bool WantsPictureCopy(const TEditChoices& Choices) {
  return Choices.PictureLoaded && !Choices.PictureFile.isEmpty() &&
         !RectIsEmpty(Choices.WatermarkSourceRect);
}

void ApplyEditChoices(const TEditChoices& Choices, TFileOption& Entry) {
  ApplyCrop(Choices, Entry);
  ApplyPictureWaterMark(Choices, Entry.WaterMark);
  ApplyTextWaterMark(Choices, Entry.WaterMark);
  Entry.WaterMarkKind = WaterMarkKindOf(Choices, Entry.WaterMarkKind);
  Entry.Saturation = Choices.Saturation;
  Entry.Contrast = Choices.Contrast;
  Entry.Brightness = Choices.Brightness;
  Entry.VFlip = Choices.VFlip;
  Entry.HFlip = Choices.HFlip;
  Entry.Deinterlace = Choices.Deinterlace ? 1 : -1;
}
