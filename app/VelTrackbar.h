// The position bar under every preview: a track, a tick that shows (and sets) the position,
// and two markers that cut a segment out of the track for the clip and edit windows.
// Values are 64-bit (the program uses microseconds). Every part is drawn from a picture
// whose colour key becomes transparent.
#pragma once

#include "SkGrafx.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <functional>

class TVelTrackbar : public QWidget {
  Q_OBJECT

 public:
  using TNotifyEvent = std::function<void(TVelTrackbar* Sender)>;
  using TMouseEvent = std::function<void(TVelTrackbar* Sender, Qt::MouseButton Button, QPoint At)>;

  // The pictures of the parts, each with a default of our own.
  enum TPart {
    Track,
    SegmentStart,
    SegmentEnd,
    StartCut,
    EndCut,
    TickUp,
    TickDown,
    TickHot,
    TickDisable,
    PartCount
  };
  enum TDragMode { dmNone, dmTick, dmSegStart, dmSegEnd, dmTrack };

  explicit TVelTrackbar(QWidget* Parent = nullptr);

  int64_t Min() const { return FMin; }
  int64_t Max() const { return FMax; }
  int64_t Position() const { return FPosition; }
  int64_t SegStartPos() const { return FSegStartPos; }
  int64_t SegEndPos() const { return FSegEndPos; }
  // Raises the position to the new minimum when it lies below.
  void SetMin(int64_t Value);
  void SetMax(int64_t Value);
  // Clamped to the range and, with the segment shown, to the segment; fires OnTickChange.
  void SetPosition(int64_t Value);
  void SetSegStartPos(int64_t Value);
  void SetSegEndPos(int64_t Value);
  int64_t Step = 1;

  bool ShowSegment() const { return FShowSegment; }
  // Resets the segment to the whole range.
  void SetShowSegment(bool Value);
  bool ShowCut() const { return FShowCut; }
  void SetShowCut(bool Value) {
    FShowCut = Value;
    update();
  }
  bool ShowTick() const { return FShowTick; }
  void SetShowTick(bool Value) {
    FShowTick = Value;
    update();
  }
  bool ShowTickColor() const { return FShowTickColor; }
  void SetShowTickColor(bool Value) {
    FShowTickColor = Value;
    update();
  }
  bool CanDragTick = true;

  int TickOffsetY() const { return FTickOffsetY; }
  void SetTickOffsetY(int Value) {
    FTickOffsetY = Value;
    update();
  }
  int SegOffsetY() const { return FSegOffsetY; }
  void SetSegOffsetY(int Value) {
    FSegOffsetY = Value;
    update();
  }
  int TrackOffsetY() const { return FTrackOffsetY; }
  void SetTrackOffsetY(int Value) {
    FTrackOffsetY = Value;
    update();
  }
  // How far the track picture reaches past each end of the track.
  int TrackOffsetX() const { return FTrackOffsetX; }
  void SetTrackOffsetX(int Value) {
    FTrackOffsetX = Value;
    update();
  }
  int MarginOffsetX() const { return FMarginOffsetX; }
  void SetMarginOffsetX(int Value);
  int TrackLeftOffset() const { return FTrackLeftOffset; }
  void SetTrackLeftOffset(int Value);
  int TrackRightOffset() const { return FTrackRightOffset; }
  void SetTrackRightOffset(int Value);

  // Windows colour values (red in the low byte), kept as ARGB.
  QRgb BGColor() const { return FBGColor; }
  void SetBGColor(TColor Value) {
    FBGColor = ArgbOf(Value);
    update();
  }
  bool UseBGImage() const { return FUseBGImage; }
  void SetUseBGImage(bool Value) {
    FUseBGImage = Value;
    update();
  }
  void SetBGImage(const QImage& Picture) {
    FBGImage = Picture;
    update();
  }
  // ARGB fills over the cut areas and the played part of the track.
  QRgb LeftBrushColor = 0x653DF72D;
  QRgb RightBrushColor = 0x65F5BCDA;
  QRgb TickBrushColor = 0x653DF72D;

  const QImage& Picture(TPart Part) const { return FPictures[Part]; }
  void SetPicture(TPart Part, const QImage& Picture);
  // The colour keys of the pictures, as Windows colour values.
  void SetStartCutTransparency(TColor Value) { SetKey({StartCut}, Value); }
  void SetEndCutTransparency(TColor Value) { SetKey({EndCut}, Value); }
  void SetSegStartTransparency(TColor Value) { SetKey({SegmentStart}, Value); }
  void SetSegEndTransparency(TColor Value) { SetKey({SegmentEnd}, Value); }
  void SetTickTransparency(TColor Value) {
    SetKey({TickUp, TickDown, TickHot, TickDisable}, Value);
  }

  // The mapping between values and x on the usable track; never divides by zero.
  int64_t ValueFromX(int X) const;
  int XFromValue(int64_t Value) const;
  QRect TrackRect() const;
  int UsableLeft() const { return TrackRect().left() + FTrackLeftOffset; }
  int UsableRight() const { return TrackRect().left() + TrackRect().width() - FTrackRightOffset; }
  int TickX() const { return FTickX; }
  int SegStartX() const { return FSegStartX; }
  int SegEndX() const { return FSegEndX; }
  TDragMode DragMode() const { return FDragMode; }

  // The picture the tick shows now: pressed, under the mouse, disabled or up.
  TPart TickState() const;
  // Draws the whole bar as the screen shows it.
  QImage Render() const;

  TNotifyEvent OnChange, OnStartChange, OnEndChange, OnTickChange;
  TMouseEvent OnTickMouseDown, OnTickMouseUp, OnSegStartMouseDown, OnSegStartMouseUp,
      OnSegendMouseDown, OnSegEndMouseUp;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void leaveEvent(QEvent* Event) override;

 private:
  static QRgb ArgbOf(TColor Color);
  void SetKey(std::initializer_list<TPart> Parts, TColor Key);
  void Relayout();
  QRect PartRect(TPart Part, int X, int OffsetY) const;
  QRect SegStartRect() const;
  QRect SegEndRect() const;
  QRect TickRect() const;
  int ClampToUsable(int X) const;
  void DragTo(int X);
  void MoveTickTo(int X);
  static void Fire(const TNotifyEvent& Event, TVelTrackbar* Sender);
  static void Fire(const TMouseEvent& Event, TVelTrackbar* Sender, QMouseEvent* Mouse);
  void DrawPicture(QPainter& Painter, TPart Part, const QRect& Where) const;
  void DrawTrack(QPainter& Painter, const QRect& Where) const;
  void DrawCut(QPainter& Painter, TPart Part, const QRect& Where) const;
  void PaintSegment(QPainter& Painter) const;

  int64_t FMin = 0, FMax = 100, FPosition = 0, FSegStartPos = 0, FSegEndPos = 100;
  bool FShowSegment = true, FShowCut = true, FShowTick = true, FShowTickColor = true;
  int FTickOffsetY = 20, FSegOffsetY = 20, FTrackOffsetY = 20;
  int FTrackOffsetX = 5, FMarginOffsetX = 5, FTrackLeftOffset = 0, FTrackRightOffset = 0;
  QRgb FBGColor = 0xFFFFFFFF;
  bool FUseBGImage = false;
  QImage FBGImage;
  QImage FSources[PartCount];   // as given
  QImage FPictures[PartCount];  // with the colour key made transparent
  QRgb FKeys[PartCount];
  int FTickX = 0, FSegStartX = 0, FSegEndX = 0;
  TDragMode FDragMode = dmNone;
  int FPressX = 0;
  bool FTickHot = false;
};
