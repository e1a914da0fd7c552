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
