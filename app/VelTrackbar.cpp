#include "VelTrackbar.h"

#include "U_Config.h"
#include "VelLog.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

#include <algorithm>

namespace {

const char* const PartNames[TVelTrackbar::PartCount] = {"Track",    "SegmentStart", "SegmentEnd",
                                                        "StartCut", "EndCut",       "TickUp",
                                                        "TickDown", "TickHot",      "TickDisable"};

constexpr TColor CutKey = 0xE7E7E7;
constexpr TColor PictureKey = 0xFF00FF;
constexpr QRgb MarkerLineColor = 0xFF930000;
// The pictures are drawn a little see-through over the track.
constexpr double PictureOpacity = 0.8;

QImage DefaultPicture(int Part) {
  const QString name = QStringLiteral(":/trackbar/%1.png").arg(QLatin1String(PartNames[Part]));
  QImage picture(name);
  if (picture.isNull()) VelLog.WriteError(QStringLiteral("Cannot load the picture ") + name);
  return picture;
}

int64_t Clamp(int64_t Value, int64_t Low, int64_t High) {
  return std::max(Low, std::min(Value, High));
}

}  // namespace

TVelTrackbar::TVelTrackbar(QWidget* Parent) : QWidget(Parent) {
  for (int part = 0; part < PartCount; ++part) {
    FKeys[part] = ArgbOf(part == StartCut || part == EndCut ? CutKey : PictureKey);
    SetPicture(static_cast<TPart>(part), DefaultPicture(part));
  }
  setMouseTracking(true);
  setFocusPolicy(Qt::ClickFocus);
  resize(400, 40);
}

QRgb TVelTrackbar::ArgbOf(TColor Color) { return 0xFF000000 | SwapRedBlue(Color & 0xFFFFFF); }

void TVelTrackbar::SetKey(std::initializer_list<TPart> Parts, TColor Key) {
  for (TPart part : Parts) {
    FKeys[part] = ArgbOf(Key);
    SetPicture(part, FSources[part]);
  }
}

void TVelTrackbar::SetPicture(TPart Part, const QImage& Picture) {
  FSources[Part] = Picture;
  QImage keyed = Picture.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < keyed.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(keyed.scanLine(y));
    for (int x = 0; x < keyed.width(); ++x)
      if ((line[x] | 0xFF000000) == FKeys[Part]) line[x] = 0;
  }
  FPictures[Part] = keyed;
  Relayout();
}

// ---------------------------------------------------------------------------------------

QRect TVelTrackbar::TrackRect() const {
  const int segmentWidth = FPictures[SegmentStart].width();
  const int left = FMarginOffsetX + segmentWidth;
  const int height = FPictures[Track].height();
  return QRect(left, FTrackOffsetY - height / 2,
               std::max(0, width() - 2 * segmentWidth - 2 * FMarginOffsetX), height);
}

namespace {

// Numerator / Denominator rounded half away from zero; 128 bits, since microseconds times
// pixels can pass 63 bits on a long file.
int64_t RoundedQuotient(__int128 Numerator, __int128 Denominator) {
  const __int128 half = Numerator < 0 ? -Denominator : Denominator;
  return static_cast<int64_t>((2 * Numerator + half) / (2 * Denominator));
}

}  // namespace

int64_t TVelTrackbar::ValueFromX(int X) const {
  const int usable = UsableRight() - UsableLeft();
  if (usable <= 0 || FMax <= FMin) return FMin;
  return RoundedQuotient(static_cast<__int128>(X - UsableLeft()) * (FMax - FMin), usable) + FMin;
}

int TVelTrackbar::XFromValue(int64_t Value) const {
  if (FMax <= FMin) return UsableLeft();
  const __int128 product = (static_cast<__int128>(Value) - FMin) * (UsableRight() - UsableLeft());
  return static_cast<int>(RoundedQuotient(product, static_cast<__int128>(FMax) - FMin)) +
         UsableLeft();
}

int TVelTrackbar::ClampToUsable(int X) const {
  return std::max(UsableLeft(), std::min(X, UsableRight()));
}

void TVelTrackbar::Relayout() {
  FTickX = XFromValue(FPosition);
  FSegStartX = XFromValue(FSegStartPos);
  FSegEndX = XFromValue(FSegEndPos);
  update();
}

QRect TVelTrackbar::PartRect(TPart Part, int X, int OffsetY) const {
  const QSize size = FPictures[Part].size();
  return QRect(QPoint(X, OffsetY - size.height() / 2), size);
}

// The start marker stands left of its line, the end marker right of it.
QRect TVelTrackbar::SegStartRect() const {
  return PartRect(SegmentStart, FSegStartX - FPictures[SegmentStart].width(), FSegOffsetY);
}

QRect TVelTrackbar::SegEndRect() const { return PartRect(SegmentEnd, FSegEndX + 1, FSegOffsetY); }

QRect TVelTrackbar::TickRect() const {
  return PartRect(TickUp, FTickX - FPictures[TickUp].width() / 2, FTickOffsetY);
}

// ---------------------------------------------------------------------------------------

void TVelTrackbar::SetMin(int64_t Value) {
  FMin = Value;
  if (FPosition < FMin) FPosition = FMin;
  Relayout();
}

void TVelTrackbar::SetMax(int64_t Value) {
  FMax = Value;
  Relayout();
}

void TVelTrackbar::SetPosition(int64_t Value) {
  if (FShowSegment) Value = Clamp(Value, FSegStartPos, FSegEndPos);
  FPosition = Clamp(Value, FMin, std::max(FMin, FMax));
  Relayout();
  Fire(OnTickChange, this);
}

void TVelTrackbar::SetSegStartPos(int64_t Value) {
  FSegStartPos = Clamp(Value, FMin, FSegEndPos);
  if (FPosition < FSegStartPos) FPosition = FSegStartPos;
  Relayout();
}

void TVelTrackbar::SetSegEndPos(int64_t Value) {
  FSegEndPos = Clamp(Value, FSegStartPos, FMax);
  if (FPosition > FSegEndPos) FPosition = FSegEndPos;
  Relayout();
}

void TVelTrackbar::SetShowSegment(bool Value) {
  FShowSegment = Value;
  FSegStartPos = FMin;
  FSegEndPos = FMax;
  Relayout();
}

void TVelTrackbar::SetMarginOffsetX(int Value) {
  FMarginOffsetX = Value;
  Relayout();
}

void TVelTrackbar::SetTrackLeftOffset(int Value) {
  FTrackLeftOffset = Value;
  Relayout();
}

void TVelTrackbar::SetTrackRightOffset(int Value) {
  FTrackRightOffset = Value;
  Relayout();
}

// ---------------------------------------------------------------------------------------

void TVelTrackbar::Fire(const TNotifyEvent& Event, TVelTrackbar* Sender) {
  if (Event) Event(Sender);
}

void TVelTrackbar::Fire(const TMouseEvent& Event, TVelTrackbar* Sender, QMouseEvent* Mouse) {
  if (Event) Event(Sender, Mouse->button(), Mouse->position().toPoint());
}

void TVelTrackbar::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton) return;
  const QPoint at = Event->position().toPoint();
  FPressX = at.x();
  if (FShowSegment && SegStartRect().contains(at)) {
    FDragMode = dmSegStart;
    Fire(OnSegStartMouseDown, this, Event);
  } else if (FShowSegment && SegEndRect().contains(at)) {
    FDragMode = dmSegEnd;
    Fire(OnSegendMouseDown, this, Event);
  } else if (CanDragTick && FShowTick && TickRect().contains(at)) {
    FDragMode = dmTick;
    Fire(OnTickMouseDown, this, Event);
  } else if (TrackRect().adjusted(0, -2, 0, 2).contains(at)) {
    FDragMode = dmTrack;
  }
  setFocus(Qt::MouseFocusReason);
  update();
}

void TVelTrackbar::MoveTickTo(int X) {
  X = ClampToUsable(X);
  if (FShowSegment) X = std::max(FSegStartX, std::min(X, FSegEndX));
  FTickX = X;
  FPosition = ValueFromX(X);
  update();
  Fire(OnTickChange, this);
}

void TVelTrackbar::DragTo(int X) {
  switch (FDragMode) {
    case dmTick:
      MoveTickTo(X);
      Fire(OnChange, this);
      break;
    case dmSegStart:
      FSegStartX = std::max(UsableLeft(), std::min(X, FSegEndX));
      FSegStartPos = ValueFromX(FSegStartX);
      if (FTickX < FSegStartX) {
        FTickX = FSegStartX;
        FPosition = FSegStartPos;
      }
      Fire(OnStartChange, this);
      break;
    case dmSegEnd:
      FSegEndX = std::min(UsableRight(), std::max(X, FSegStartX));
      FSegEndPos = ValueFromX(FSegEndX);
      if (FTickX > FSegEndX) {
        FTickX = FSegEndX;
        FPosition = FSegEndPos;
      }
      Fire(OnEndChange, this);
      break;
    case dmTrack:
      Fire(OnChange, this);
      break;
    case dmNone:
      break;
  }
  update();
}

void TVelTrackbar::mouseMoveEvent(QMouseEvent* Event) {
  if (FDragMode != dmNone && (Event->buttons() & Qt::LeftButton)) {
    DragTo(Event->position().toPoint().x());
    return;
  }
  const bool hot = FShowTick && TickRect().contains(Event->position().toPoint());
  if (hot != FTickHot) {
    FTickHot = hot;
    update();
  }
}

void TVelTrackbar::mouseReleaseEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton) return;
  const TDragMode mode = FDragMode;
  FDragMode = dmNone;
  switch (mode) {
    case dmTick:
      Fire(OnTickMouseUp, this, Event);
      break;
    case dmSegStart:
      Fire(OnSegStartMouseUp, this, Event);
      break;
    case dmSegEnd:
      Fire(OnSegEndMouseUp, this, Event);
      break;
    case dmTrack:
      MoveTickTo(FPressX);
      break;
    case dmNone:
      break;
  }
  update();
}

void TVelTrackbar::leaveEvent(QEvent*) {
  FTickHot = false;
  update();
}

void TVelTrackbar::resizeEvent(QResizeEvent*) { Relayout(); }

// ---------------------------------------------------------------------------------------

TVelTrackbar::TPart TVelTrackbar::TickState() const {
  if (!isEnabled()) return TickDisable;
  if (FDragMode == dmTick) return TickDown;
  return FTickHot ? TickHot : TickUp;
}

void TVelTrackbar::DrawPicture(QPainter& Painter, TPart Part, const QRect& Where) const {
  if (FPictures[Part].isNull()) {
    // A plain piece where a picture is missing, so the bar still shows its state.
    Painter.fillRect(Where, QColor(0x80, 0x80, 0x80));
    return;
  }
  Painter.drawImage(Where, FPictures[Part]);
}

// The ends keep their shape; only the middle column stretches.
void TVelTrackbar::DrawTrack(QPainter& Painter, const QRect& Where) const {
  const QImage& track = FPictures[Track];
  const int cap = std::min((track.width() - 1) / 2, Where.width() / 2);
  if (track.isNull() || cap <= 0) return DrawPicture(Painter, Track, Where);
  const int h = track.height();
  Painter.drawImage(QRect(Where.left(), Where.top(), cap, Where.height()), track,
                    QRect(0, 0, cap, h));
  Painter.drawImage(QRect(Where.left() + cap, Where.top(), Where.width() - 2 * cap, Where.height()),
                    track, QRect(cap, 0, track.width() - 2 * cap, h));
  Painter.drawImage(QRect(Where.right() + 1 - cap, Where.top(), cap, Where.height()), track,
                    QRect(track.width() - cap, 0, cap, h));
}

// A cut is a pattern: tiled, so it looks the same on any length.
void TVelTrackbar::DrawCut(QPainter& Painter, TPart Part, const QRect& Where) const {
  if (FPictures[Part].isNull()) return DrawPicture(Painter, Part, Where);
  Painter.drawTiledPixmap(Where, QPixmap::fromImage(FPictures[Part]));
}

void TVelTrackbar::PaintSegment(QPainter& Painter) const {
  const QRect track = TrackRect();
  Painter.setOpacity(1.0);
  if (FShowCut) {
    const QRect left(QPoint(track.left(), track.top()), QPoint(FSegStartX - 1, track.bottom()));
    const QRect right(QPoint(FSegEndX + 1, track.top()), track.bottomRight());
    Painter.setOpacity(PictureOpacity);
    if (left.width() > 0) DrawCut(Painter, StartCut, left);
    if (right.width() > 0) DrawCut(Painter, EndCut, right);
    Painter.setOpacity(1.0);
    Painter.fillRect(left, QColor::fromRgba(LeftBrushColor));
    Painter.fillRect(right, QColor::fromRgba(RightBrushColor));
  }
  Painter.setPen(QColor::fromRgba(MarkerLineColor));
  Painter.drawLine(FSegStartX, SegStartRect().top(), FSegStartX, SegStartRect().bottom());
  Painter.drawLine(FSegEndX, SegEndRect().top(), FSegEndX, SegEndRect().bottom());
  Painter.setOpacity(PictureOpacity);
  DrawPicture(Painter, SegmentStart, SegStartRect());
  DrawPicture(Painter, SegmentEnd, SegEndRect());
}

QImage TVelTrackbar::Render() const {
  QImage canvas(size(), QImage::Format_ARGB32_Premultiplied);
  QPainter painter(&canvas);
  if (FUseBGImage && !FBGImage.isNull())
    painter.drawImage(rect(), FBGImage);
  else
    canvas.fill(QColor::fromRgba(FBGColor));

  const QRect track = TrackRect();
  painter.setOpacity(PictureOpacity);
  DrawTrack(painter, track.adjusted(-FTrackOffsetX, 0, FTrackOffsetX, 0));
  if (FShowTick && FShowTickColor) {
    painter.setOpacity(1.0);
    painter.fillRect(QRect(QPoint(track.left(), track.top()), QPoint(FTickX, track.bottom())),
                     QColor::fromRgba(TickBrushColor));
  }
  if (FShowSegment) PaintSegment(painter);
  if (FShowTick) {
    painter.setOpacity(PictureOpacity);
    DrawPicture(painter, TickState(), TickRect());
  }
  return canvas;
}

void TVelTrackbar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, Render());
}
