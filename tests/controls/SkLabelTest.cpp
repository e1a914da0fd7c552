#include "ControlsTestSupport.h"
#include "SkLabel.h"

#include <QDesktopServices>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QTest>
#include <gtest/gtest.h>

namespace {

TEST(SkLabel, BlinkingLabelsChangeTogetherOnSharedIntervals) {
  TSkManualClock clock;
  TSkLabel first, second, still;
  for (TSkLabel* label : {&first, &second}) {
    label->SetFontColor(RGB(0, 0, 0));
    label->SetBlinkColor(RGB(255, 0, 0));
    label->SetBlinking(true);
  }
  const auto colours = [&] {
    return std::vector<TColor>{first.TextColor(), second.TextColor(), still.TextColor()};
  };
  const TColor black = RGB(0, 0, 0), red = RGB(255, 0, 0), rest = clWindowText;
  clock.Advance(500);  // hidden phase
  EXPECT_EQ(colours(), (std::vector<TColor>{black, black, rest}));
  first.SetBlinkIntervalOn(200);
  EXPECT_EQ(second.BlinkIntervalOn(), 200);
  clock.Advance(499);
  EXPECT_EQ(first.TextColor(), black);
  clock.Advance(1);  // shown phase, now 200 ms long
  EXPECT_EQ(colours(), (std::vector<TColor>{red, red, rest}));
  clock.Advance(200);
  EXPECT_EQ(colours(), (std::vector<TColor>{black, black, rest}));
  clock.Advance(500);
  second.SetBlinking(false);
  EXPECT_EQ(colours(), (std::vector<TColor>{red, black, rest}));
  first.SetBlinkIntervalOn(500);
}

TEST(SkLabel, AnglesAreStoredWithinOneTurn) {
  struct Case {
    int Set, Stored;
  };
  for (const Case& c : {Case{370, 10}, Case{-30, 330}, Case{-400, 320}, Case{-720, 0}, Case{720, 0},
                        Case{359, 359}}) {
    TSkLabel label;
    label.SetAngle(c.Set);
    EXPECT_EQ(label.Angle(), c.Stored) << c.Set;
    EXPECT_EQ(label.Rotation(), c.Stored ? roFlat : roNone) << c.Set;
  }
  TSkLabel label;
  label.SetRotation(roCurve);
  label.SetAngle(45);
  label.SetCenterPoint(cpLowerLeft);
  label.SetRotation(roFlat);
  EXPECT_EQ(label.Angle(), 0);
  EXPECT_EQ(label.CenterPoint(), cpCenter);
}

TEST(SkLabel, AutoSizeAddsBordersMarginsAndShadow) {
  TSkLabel label;
  label.SetCaption(QStringLiteral("Output folder"));
  const QFontMetrics metrics(label.font());
  const QRect text =
      metrics.boundingRect(QRect(0, 0, 1000, 1000), 0, QStringLiteral("Output folder"));
  const int w = text.width(), h = text.height();
  EXPECT_EQ(label.size(), QSize(w, h));
  TInnerOuterBorders borders;
  borders.BorderOuter = fsFlat;
  borders.BorderInner = fsLowered;
  borders.BorderWidth = 2;
  borders.BorderSides = sdLeft | sdTop;
  label.SetBorders(borders);
  label.SetTextMargin(3);
  EXPECT_EQ(label.size(), QSize(w + 8, h + 8));
  label.SetTextStyle(tsShadow);
  EXPECT_EQ(label.size(), QSize(w + 10, h + 10));
  label.SetBorders({});
  label.SetTextMargin(0);
  label.SetTextStyle(tsNormal);
  label.SetAngle(90);
  EXPECT_EQ(label.size(), QSize(h, w));
}

TEST(SkLabel, PaintsBorderAndBackgroundUnlessTransparent) {
  TSkLabelPaint label;
  label.Borders.BorderOuter = fsFlat;
  label.Borders.FlatColor = RGB(0, 0, 255);
  label.Borders.FlatColorAdjustment = 0;
  label.Borders.Color = RGB(200, 200, 0);
  QImage image = Painted(30, 10, [&](QPainter& p) { PaintLabel(p, {0, 0, 30, 10}, label); });
  ExpectPixels(image, {{0, 0, RGB(0, 0, 255)}, {1, 1, RGB(200, 200, 0)}}, "opaque");
  label.Borders.Transparent = true;
  image = Painted(30, 10, [&](QPainter& p) { PaintLabel(p, {0, 0, 30, 10}, label); });
  ExpectPixels(image, {{0, 0, RGB(0, 0, 255)}, {1, 1, Sentinel}}, "transparent");
}

TEST(SkLabel, HoverColourAndClicks) {
  TSkLabel label;
  label.SetCaption(QStringLiteral("Hover"));
  label.FlyByEnabled = true;
  label.FlyByColor = RGB(0, 128, 0);
  int clicks = 0;
  label.OnClick = [&clicks] { ++clicks; };
  label.show();
  QEnterEvent enter({1, 1}, {1, 1}, {1, 1});
  QApplication::sendEvent(&label, &enter);
  EXPECT_EQ(label.TextColor(), RGB(0, 128, 0));
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(&label, &leave);
  EXPECT_EQ(label.TextColor(), clWindowText);
  QTest::mouseClick(&label, Qt::LeftButton, {}, {2, 2});
  QTest::mousePress(&label, Qt::LeftButton, {}, {2, 2});
  QTest::mouseRelease(&label, Qt::LeftButton, {}, {2, label.height()});
  EXPECT_EQ(clicks, 1);
}

// Records what the desktop would open, per scheme, instead of starting a program.
class OpenRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> Opened;
 public slots:
  void Open(const QUrl& Url) { Opened << Url; }
};

TEST(SkURLLabel, OpensOnlyWebAndMailAddresses) {
  OpenRecorder recorder;
  const char* const schemes[] = {"http", "https", "mailto", "file", "javascript"};
  for (const char* scheme : schemes)
    QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &recorder, "Open");
  struct Case {
    QString Url, Caption, Opened;
  };
  const Case cases[] = {
      {"http://example.com/a", "", "http://example.com/a"},
      {"  ", " https://example.com/b ", "https://example.com/b"},
      {"mailto:team@example.com", "Mail us", "mailto:team@example.com"},
      {"www.example.com", "", "http://www.example.com"},
      {"/usr/bin/xterm", "", ""},
      {"file:///usr/bin/xterm", "", ""},
      {"", "javascript:alert(1)", ""},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    recorder.Opened.clear();
    TSkURLLabel label;
    label.URL = c.Url;
    label.SetCaption(c.Caption);
    label.SetAutoSize(false);
    label.resize(50, 20);
    EXPECT_EQ(label.TextColor(), clHighlight);
    label.show();
    QTest::mouseClick(&label, Qt::LeftButton, {}, {0, 0});
    const bool opened = !c.Opened.isEmpty();
    EXPECT_EQ(recorder.Opened, opened ? QList<QUrl>{QUrl(c.Opened)} : QList<QUrl>{})
        << qPrintable(c.Url + c.Caption);
    EXPECT_EQ(label.Visited(), opened) << qPrintable(c.Url + c.Caption);
    EXPECT_EQ(label.TextColor(), opened ? TColor(0x800080) : clHighlight);
  }
  for (const char* scheme : schemes) QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
}

}  // namespace

#include "SkLabelTest.moc"
