#include "VelTrackbar.h"

#include <QApplication>
#include <QMouseEvent>
#include <gtest/gtest.h>

#include <limits>

namespace {

// 400 pixels wide with 7-pixel markers and margins of 5: the usable track runs 12..388.
constexpr int Left = 12;
constexpr int Right = 388;

void Mouse(TVelTrackbar& Bar, QEvent::Type Type, int X, int Y = 20) {
  const Qt::MouseButton button = Type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  const Qt::MouseButtons held = Type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent event(Type, QPointF(X, Y), Bar.mapToGlobal(QPointF(X, Y)), button, held,
                    Qt::NoModifier);
  QApplication::sendEvent(&Bar, &event);
}

void Drag(TVelTrackbar& Bar, int FromX, int ToX) {
  Mouse(Bar, QEvent::MouseButtonPress, FromX);
  Mouse(Bar, QEvent::MouseMove, ToX);
  Mouse(Bar, QEvent::MouseButtonRelease, ToX);
}

TEST(VelTrackbar, ValuesAndPixelsMapBothWaysWithoutEverDividingByZero) {
  constexpr int64_t Big = std::numeric_limits<int64_t>::max() / 2;
  const struct {
    int Width;
    int64_t Min, Max;
    int LeftOffset, RightOffset;
    int X;
    int64_t Value;
  } cases[] = {
      {400, 0, 100, 0, 0, Left, 0},
      {400, 0, 100, 0, 0, Right, 100},
      {400, 0, 100, 0, 0, 200, 50},
      {400, 0, 376, 0, 0, 100, 88},
      {400, 1000, 2000, 10, 20, Left + 10, 1000},
      {400, 1000, 2000, 10, 20, Right - 20, 2000},
      {400, 5, 5, 0, 0, Left, 5},       // an empty range
      {20, 0, 100, 0, 0, 12, 0},        // no usable track at all
      {400, 0, Big, 0, 0, Right, Big},  // hours of microseconds times pixels
  };
  for (const auto& c : cases) {
    TVelTrackbar bar;
    bar.resize(c.Width, 40);
    bar.SetMin(c.Min);
    bar.SetMax(c.Max);
    bar.SetTrackLeftOffset(c.LeftOffset);
    bar.SetTrackRightOffset(c.RightOffset);
    EXPECT_EQ(bar.ValueFromX(c.X), c.Value) << c.Width << " " << c.Max << " x " << c.X;
    EXPECT_EQ(bar.XFromValue(c.Value), c.X) << c.Width << " " << c.Max << " v " << c.Value;
  }
}

TEST(VelTrackbar, PositionStaysInTheRangeAndInTheSegment) {
  const struct {
    bool ShowSegment;
    int64_t SegStart, SegEnd, Asked, Position;
  } cases[] = {
      {true, 20, 60, 80, 60},  {true, 20, 60, 10, 20},    {true, 20, 60, 40, 40},
      {false, 20, 60, 80, 80}, {false, 0, 100, 150, 100}, {true, 0, 100, -5, 0},
  };
  for (const auto& c : cases) {
    TVelTrackbar bar;
    bar.SetShowSegment(c.ShowSegment);
    bar.SetSegEndPos(c.SegEnd);
    bar.SetSegStartPos(c.SegStart);
    int changes = 0;
    bar.OnTickChange = [&](TVelTrackbar*) { ++changes; };
    bar.SetPosition(c.Asked);
    EXPECT_EQ(bar.Position(), c.Position) << c.Asked;
    EXPECT_EQ(bar.TickX(), bar.XFromValue(c.Position));
    EXPECT_EQ(changes, 1);
  }
  TVelTrackbar bar;
  bar.SetPosition(30);
  bar.SetMin(50);
  EXPECT_EQ(bar.Position(), 50);
}

TEST(VelTrackbar, DraggingTheTickTheMarkersAndClickingTheTrack) {
  TVelTrackbar bar;
  bar.SetShowSegment(true);
  QStringList events;
  bar.OnTickChange = [&](TVelTrackbar* b) {
    events << QStringLiteral("tick %1").arg(b->Position());
  };
  bar.OnChange = [&](TVelTrackbar*) { events << QStringLiteral("change"); };
  bar.OnStartChange = [&](TVelTrackbar* b) {
    events << QStringLiteral("start %1").arg(b->SegStartPos());
  };
  bar.OnEndChange = [&](TVelTrackbar* b) {
    events << QStringLiteral("end %1").arg(b->SegEndPos());
  };
  bar.OnTickMouseUp = [&](TVelTrackbar*, Qt::MouseButton, QPoint) {
    events << QStringLiteral("tick up");
  };

  Drag(bar, Left, 200);  // the tick, from the start
  EXPECT_EQ(events, (QStringList{"tick 50", "change", "tick up"}));
  events.clear();
  Drag(bar, bar.SegStartX() - 3, 294);  // the start marker, past the tick: it takes the tick along
  EXPECT_EQ(bar.SegStartPos(), 75);
  EXPECT_EQ(bar.Position(), 75);
  EXPECT_EQ(bar.TickX(), 294);
  EXPECT_EQ(events, QStringList{"start 75"});
  events.clear();
  Drag(bar, bar.SegEndX() + 3, 100);  // the end marker stops at the start marker
  EXPECT_EQ(bar.SegEndPos(), 75);
  EXPECT_EQ(events, QStringList{"end 75"});

  TVelTrackbar track;
  QStringList clicks;
  track.OnTickChange = [&](TVelTrackbar* b) {
    clicks << QStringLiteral("tick %1").arg(b->Position());
  };
  track.SetShowSegment(false);
  clicks.clear();
  Mouse(track, QEvent::MouseButtonPress, 106);
  EXPECT_TRUE(clicks.isEmpty());  // the tick moves when the button is let go
  Mouse(track, QEvent::MouseButtonRelease, 300);
  EXPECT_EQ(clicks, QStringList{"tick 25"});
  Drag(track, track.TickX(), 999);  // dragged beyond the end it stays on the track
  EXPECT_EQ(track.Position(), 100);
  EXPECT_EQ(track.TickX(), Right);
}

TEST(VelTrackbar, TheTickShowsItsStateAndTheColourKeysAreSeeThrough) {
  TVelTrackbar bar;
  EXPECT_EQ(bar.TickState(), TVelTrackbar::TickUp);
  Mouse(bar, QEvent::MouseMove, bar.TickX(), 20);
  EXPECT_EQ(bar.TickState(), TVelTrackbar::TickHot);
  Mouse(bar, QEvent::MouseButtonPress, bar.TickX());
  EXPECT_EQ(bar.TickState(), TVelTrackbar::TickDown);
  Mouse(bar, QEvent::MouseButtonRelease, bar.TickX());
  bar.setEnabled(false);
  EXPECT_EQ(bar.TickState(), TVelTrackbar::TickDisable);

  // Our own pictures, with their keys: the tick's corners and the cut's ground let the track
  // through.
  const QImage& tick = bar.Picture(TVelTrackbar::TickUp);
  ASSERT_FALSE(tick.isNull());
  EXPECT_EQ(qAlpha(tick.pixel(tick.width() - 1, tick.height() - 1)), 0);
  EXPECT_EQ(qAlpha(tick.pixel(tick.width() / 2, 2)), 255);
  QImage cut(4, 1, QImage::Format_RGB32);
  cut.fill(QColor(0x10, 0x20, 0x30));
  cut.setPixel(0, 0, qRgb(0xE7, 0xE7, 0xE7));
  bar.SetPicture(TVelTrackbar::StartCut, cut);
  bar.SetStartCutTransparency(0x302010);  // a Windows colour value: red in the low byte
  EXPECT_EQ(qAlpha(bar.Picture(TVelTrackbar::StartCut).pixel(0, 0)), 255);
  EXPECT_EQ(qAlpha(bar.Picture(TVelTrackbar::StartCut).pixel(1, 0)), 0);
}

}  // namespace
