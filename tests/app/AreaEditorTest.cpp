// The area rectangle: which zone a press takes, and where a drag leaves the rectangle, worked
// out by hand for a 105 x 105 control at (100, 50) in a 360 x 220 area with handles of 4
// (smallest side 24).
#include "AreaEditor.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

const TIntRect Area{0, 0, 360, 220};
const QRect Start(100, 50, 105, 105);  // right 205, bottom 155

TEST(AreaEditor, HitTestFindsZonesWithinFivePixels) {
  const struct {
    int X, Y;
    TAreaZone Expected;
  } Cases[] = {
      {0, 0, azTopLeft},  {104, 0, azTopRight}, {0, 104, azBottomLeft}, {104, 104, azBottomRight},
      {5, 5, azTopLeft},  {100, 5, azTopRight},  // 5 still counts
      {3, 57, azLeft},    {3, 58, azMove},       // |58 - 52| > 5
      {100, 52, azRight}, {99, 52, azMove},     {52, 2, azTop},         {47, 5, azTop},
      {58, 2, azMove},    {52, 100, azBottom},  {52, 99, azMove},       {52, 52, azMove},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(AreaHitTest(Case.X, Case.Y, 105, 105), Case.Expected) << Case.X << "," << Case.Y;
}

TEST(AreaEditor, DragKeepsTheRectangleInsideTheAreaAndAboveTheSmallestSize) {
  const struct {
    TAreaZone Zone;
    int Dx, Dy;
    bool Resizable;
    QRect Expected;
  } Cases[] = {
      {azLeft, -30, 0, true, {70, 50, 135, 105}},    // the right edge stays
      {azLeft, 200, 0, true, {181, 50, 24, 105}},    // past the right edge: smallest width
      {azLeft, -150, 0, true, {0, 50, 205, 105}},    // not past the area
      {azRight, 200, 0, true, {100, 50, 260, 105}},  // ends on the area's right
      {azRight, -100, 0, true, {100, 50, 24, 105}},
      {azTop, 0, -60, true, {100, 0, 105, 155}},
      {azBottom, 0, 100, true, {100, 50, 105, 170}},  // ends on the area's bottom
      {azMove, 300, 0, true, {255, 50, 105, 105}},    // right edge kept on the area's right
      {azMove, -120, -70, true, {0, 0, 105, 105}},
      {azMove, 10, 10, true, {110, 60, 105, 105}},
      {azTopRight, 20, -20, true, {100, 30, 125, 125}},  // both edges of the corner
      {azBottomLeft, -10, 10, true, {90, 50, 115, 115}},
      {azBottomRight, 5, 5, true, {100, 50, 110, 110}},
      {azTopLeft, 20, 20, false, Start},            // handles do nothing when fixed
      {azMove, 10, 0, false, {110, 50, 105, 105}},  // but it still moves
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(AreaDrag(Case.Zone, Start, Case.Dx, Case.Dy, Area, 24, Case.Resizable), Case.Expected)
        << "zone " << Case.Zone << " by " << Case.Dx << "," << Case.Dy;
}

TEST(AreaEditor, MouseDragMovesTheControlAndTellsTheOwner) {
  QWidget Parent;
  Parent.resize(360, 220);
  TAreaEditor Editor(&Parent);
  Editor.setGeometry(Start);
  Editor.SetArea(Area);
  int Moves = 0;
  QObject::connect(&Editor, &TAreaEditor::MouseMove, [&](QMouseEvent*) { ++Moves; });
  const auto Send = [&](QEvent::Type Type, QPointF Local, QPointF Global) {
    QMouseEvent Event(Type, Local, Global, Qt::LeftButton,
                      Type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&Editor, &Event);
  };
  Send(QEvent::MouseButtonPress, {104, 52}, {500, 500});  // right edge
  Send(QEvent::MouseMove, {124, 52}, {520, 510});
  EXPECT_EQ(Editor.geometry(), QRect(100, 50, 125, 105));
  EXPECT_EQ(Editor.cursor().shape(), Qt::SizeHorCursor);
  Send(QEvent::MouseButtonRelease, {124, 52}, {520, 510});
  Send(QEvent::MouseMove, {60, 60}, {600, 600});  // released: no drag any more
  EXPECT_EQ(Editor.geometry(), QRect(100, 50, 125, 105));
  EXPECT_EQ(Moves, 2);
}

TEST(AreaEditor, PaintsHandlesOnlyWhenEnabled) {
  for (const bool Enabled : {true, false}) {
    QImage Image(40, 40, QImage::Format_RGB32);
    Image.fill(Qt::blue);
    QPainter Painter(&Image);
    PaintAreaEditor(Painter, Image.size(), 4, Enabled);
    Painter.end();
    // Inside the top-left handle: black when drawn, the picture below otherwise.
    EXPECT_EQ(Image.pixel(3, 3), Enabled ? qRgb(0, 0, 0) : qRgb(0, 0, 255)) << Enabled;
    EXPECT_EQ(Image.pixel(20, 20), qRgb(0, 0, 255));  // the middle stays see-through
    int Dots = 0;  // along the left edge between the handles: dotted
    for (int Y = 9; Y < 16; ++Y) Dots += Image.pixel(0, Y) == qRgb(255, 255, 255);
    EXPECT_GT(Dots, 0);
    EXPECT_LT(Dots, 7);
  }
}

}  // namespace
