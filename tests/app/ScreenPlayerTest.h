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

// A click on the bar's track at that share of its length; the bar's position afterwards.
inline int64_t ClickTrack(TVelTrackbar& Bar, double Share) {
  const int X = Bar.UsableLeft() + int((Bar.UsableRight() - Bar.UsableLeft()) * Share);
  const QPoint Click(X, Bar.TrackRect().center().y());
  for (QEvent::Type Type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QMouseEvent Event(Type, QPointF(Click), QPointF(Bar.mapToGlobal(Click)), Qt::LeftButton,
                      Type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&Bar, &Event);
  }
  return Bar.Position();
}
