// What the window tests with the real player on a real X server (their xvfb runs) share: the
// program folder's pictures, the engine's host, a player drawing through X11 with silent sound,
// and the time that a picture of the grey ramp clip tells.
#pragma once

#include "EngineHost.h"
#include "FFPlayer.h"
#include "MediaFixtures.h"
#include "U_Config.h"
#include "VelTrackbar.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QImage>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <vector>

class TScreenPlayerTest : public testing::Test {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
      GTEST_SKIP() << "needs a real X server (its xvfb run)";
    SetProgramFolder(QStringLiteral(FENNICK_BIN_DIR));
    InstallEngineHost();
    ASSERT_TRUE(Player.LoadAVLib(FENNICK_LIBAV_DIR)) << Player.LastErrMsg();
    Player.VideoDriver = vdX11;
    Player.AudioDriver = adDummy;
  }
  void TearDown() override { SetProgramFolder(QString()); }

  TFFPlayer Player;
};

// The time (µs) that a picture of fixtures::GreyRampClip tells, read at its middle.
inline int64_t GreyRampTimeOf(const QImage& Picture) {
  return fixtures::GreyRampTime(qGray(Picture.pixel(Picture.width() / 2, Picture.height() / 2)));
}

// A white picture for three seconds, 4:3: it fills a preview panel of that shape.
inline QString WhiteClip() {
  return QString::fromStdString(fixtures::Make(
      "preview_white_320x240.mp4",
      "-f lavfi -i color=c=white:size=320x240:rate=25:duration=3 -c:v libx264 -preset ultrafast "
      "-pix_fmt yuv420p"));
}

// A white picture for three seconds stored at 640x480 in Matroska and shown 16:9: the
// container says so, while its H.264 pictures say that their pixels are square.
inline QString WhiteWideByContainerClip() {
  return QString::fromStdString(fixtures::Make(
      "preview_white_640x480_shown_16x9.mkv",
      "-f lavfi -i color=c=white:size=640x480:rate=25:duration=3 -c:v libx264 -preset ultrafast "
      "-pix_fmt yuv420p -aspect 16:9 -bsf:v h264_metadata=sample_aspect_ratio=1/1"));
}

// How many places of a grid over the panel do not show a white picture of that shape on black
// (as large as fits, centred; places a few pixels from its edges are passed over), read from
// the X server in its own pixels: on a scaled desktop those are the panel's logical pixels
// times the scale.
inline int PlacesOffPicture(const QWidget& Panel, QSize Shape) {
  const QImage Shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
  const double Scale = Panel.devicePixelRatioF();
  const QSize Fit = Shape.scaled(Panel.size(), Qt::KeepAspectRatio);
  const QRect Picture(
      QPoint((Panel.width() - Fit.width()) / 2, (Panel.height() - Fit.height()) / 2), Fit);
  const QRect Inner = Picture.adjusted(6, 6, -6, -6);
  const QRect Outer = Picture.adjusted(-6, -6, 6, 6);
  int Off = 0;
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x) {
      const QPoint Place(2 + (Panel.width() - 5) * x / 11, 2 + (Panel.height() - 5) * y / 11);
      const bool White = Inner.contains(Place);
      if (!White && Outer.contains(Place)) continue;
      const QPoint At = Panel.mapToGlobal(Place);
      const int Grey = qGray(Shot.pixel((QPointF(At) * Scale).toPoint()));
      if (White ? Grey < 200 : Grey > 60) ++Off;
    }
  return Off;
}

// A press, move or release of the left mouse button on the bar.
inline void MouseOnBar(TVelTrackbar& Bar, QEvent::Type Type, QPoint At) {
  QMouseEvent Event(Type, QPointF(At), QPointF(Bar.mapToGlobal(At)),
                    Type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                    Type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(&Bar, &Event);
}

// The x of that share of the bar's usable track.
inline int TrackX(const TVelTrackbar& Bar, double Share) {
  return Bar.UsableLeft() + int((Bar.UsableRight() - Bar.UsableLeft()) * Share);
}

// A click on the bar's track at that share of its length; the bar's position afterwards.
inline int64_t ClickTrack(TVelTrackbar& Bar, double Share) {
  const QPoint Click(TrackX(Bar, Share), Bar.TrackRect().center().y());
  MouseOnBar(Bar, QEvent::MouseButtonPress, Click);
  MouseOnBar(Bar, QEvent::MouseButtonRelease, Click);
  return Bar.Position();
}

// Presses the bar at `From`, moves through the places at that height and lets go at the last,
// each event at once after the one before.
inline void DragOnBar(TVelTrackbar& Bar, QPoint From, const std::vector<int>& Places) {
  MouseOnBar(Bar, QEvent::MouseButtonPress, From);
  for (int X : Places) MouseOnBar(Bar, QEvent::MouseMove, QPoint(X, From.y()));
  MouseOnBar(Bar, QEvent::MouseButtonRelease, QPoint(Places.back(), From.y()));
}
