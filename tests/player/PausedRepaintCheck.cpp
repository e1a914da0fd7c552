// Run under a real X server, with and without a window manager: a paused picture in a Qt
// widget comes back after a window that covered it closes, and fills the widget again at its
// new size after the window is resized, maximised and restored; once stopped, the widget is
// black. Qt repaints the window around
// the player's widget on each of these, and the player is told of none of them by X itself.
#include <QApplication>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <vector>

#include "FFPlayer.h"
#include "MediaFixtures.h"
#include "PlayerScreen.h"
#include "ScreenCheck.h"

using namespace screencheck;

namespace {

constexpr int PictureWidth = 320;
constexpr int PictureHeight = 240;

// The fixture's four quarters: red, blue over yellow, green.
const QRgb Quarters[2][2] = {{qRgb(255, 0, 0), qRgb(0, 0, 255)},
                             {qRgb(255, 255, 0), qRgb(0, 255, 0)}};

std::string QuartersClip() {
  return fixtures::Make(
      "player_quarters_320x240.mp4",
      "-f lavfi -i color=c=black:size=320x240:rate=25:duration=20 -vf "
      "'format=rgb24,geq=r=255*lt(X\\,W/2):g=255*gte(Y\\,H/2):b=255*gte(X\\,W/2)*lt(Y\\,H/2)' "
      "-c:v libx264 -preset ultrafast -pix_fmt yuv420p");
}

bool Near(QRgb pixel, QRgb expected) {
  return std::abs(qRed(pixel) - qRed(expected)) < 60 &&
         std::abs(qGreen(pixel) - qGreen(expected)) < 60 &&
         std::abs(qBlue(pixel) - qBlue(expected)) < 60;
}

struct TSample {
  QPoint At;
  QRgb Expected;
};

// Where the picture lies in the widget (its own shape, centred, as large as fits) and what
// each place must show: a grid over each quarter, kept clear of its blurred edges,
// and the black bands beside the picture.
std::vector<TSample> ExpectedPicture(const QWidget& screen) {
  const QSize area = screen.size();
  const double scale =
      std::min(double(area.width()) / PictureWidth, double(area.height()) / PictureHeight);
  const QSize size(int(PictureWidth * scale), int(PictureHeight * scale));
  const QRect picture(
      QPoint((area.width() - size.width()) / 2, (area.height() - size.height()) / 2), size);
  const QPoint origin = screen.mapToGlobal(QPoint(0, 0));
  std::vector<TSample> samples;
  constexpr int Steps = 6;
  // Half-size colour planes and scaling blur the edges between the quarters over a few of
  // the picture's own pixels.
  const int Margin = 4 + int(3 * scale);
  for (int row = 0; row < 2; ++row)
    for (int column = 0; column < 2; ++column) {
      const QRect quarter(picture.left() + column * picture.width() / 2,
                          picture.top() + row * picture.height() / 2, picture.width() / 2,
                          picture.height() / 2);
      const QRect inner = quarter.adjusted(Margin, Margin, -Margin, -Margin);
      for (int y = 0; y < Steps; ++y)
        for (int x = 0; x < Steps; ++x)
          samples.push_back({origin + QPoint(inner.left() + inner.width() * x / (Steps - 1),
                                             inner.top() + inner.height() * y / (Steps - 1)),
                             Quarters[row][column]});
    }
  const QRect whole(QPoint(0, 0), area);
  for (const QRect& band : {QRect(whole.topLeft(), QPoint(whole.right(), picture.top() - 1)),
                            QRect(QPoint(0, picture.bottom() + 1), whole.bottomRight()),
                            QRect(whole.topLeft(), QPoint(picture.left() - 1, whole.bottom())),
                            QRect(QPoint(picture.right() + 1, 0), whole.bottomRight())}) {
    const QRect inner = band.adjusted(Margin, Margin, -Margin, -Margin);
    if (inner.width() < 1 || inner.height() < 1) continue;
    for (int n = 0; n < Steps; ++n)
      samples.push_back({origin + QPoint(inner.left() + inner.width() * n / (Steps - 1),
                                         inner.top() + inner.height() * n / (Steps - 1)),
                         qRgb(0, 0, 0)});
  }
  return samples;
}

// A stopped player's widget: black all over.
std::vector<TSample> ExpectedBlack(const QWidget& screen) {
  std::vector<TSample> samples;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      samples.push_back(
          {screen.mapToGlobal(QPoint((screen.width() - 1) * x / 7, (screen.height() - 1) * y / 7)),
           qRgb(0, 0, 0)});
  return samples;
}

using TExpected = std::vector<TSample> (*)(const QWidget& screen);

// How many places differ from what the widget must show; the first of them described.
int Mismatches(const QWidget& screen, TExpected expected, QString* first = nullptr) {
  const QImage shot = GrabScreen();
  int wrong = 0;
  for (const TSample& sample : expected(screen)) {
    const QRgb pixel = shot.pixel(sample.At);
    if (Near(pixel, sample.Expected)) continue;
    if (wrong++ == 0 && first)
      *first = Describe(sample.At, pixel) +
               QString(", not #%1").arg(sample.Expected & 0xFFFFFF, 6, 16, QChar('0'));
  }
  return wrong;
}

// The widget shows what it must, and still does a moment later: the player's redraw and Qt's
// repaint of the window around it must not undo one another.
void CheckShown(const QWidget& screen, TExpected expected, const QString& when) {
  WaitUntil([&] { return Mismatches(screen, expected) == 0; });
  RunEventLoop(300);
  QString first;
  const int wrong = Mismatches(screen, expected, &first);
  Check(wrong == 0, QString("%1 (%2x%3): %4 of %5 places wrong%6")
                        .arg(when)
                        .arg(screen.width())
                        .arg(screen.height())
                        .arg(wrong)
                        .arg(expected(screen).size())
                        .arg(wrong ? ", first " + first : QString()));
}

// Waits until the window's own size settles at what the window system gave it.
void WaitForSize(QWidget& window, const QString& what, const std::function<bool(QSize)>& reached) {
  const bool settled = WaitUntil([&] { return reached(window.size()); });
  Check(settled,
        QString("%1: the window is %2x%3").arg(what).arg(window.width()).arg(window.height()));
  RunEventLoop(200);
}

void CheckPictureShown(const QWidget& screen, const QString& when) {
  CheckShown(screen, ExpectedPicture, when);
}

// A window of one colour, which no picture of the clip has.
void Paint(QWidget& Window, const QString& Title, QColor Colour) {
  Window.setWindowTitle(Title);
  QPalette palette = Window.palette();
  palette.setColor(QPalette::Window, Colour);
  Window.setPalette(palette);
  Window.setAutoFillBackground(true);
}

void CoverAndUncover(const QWidget& screen, TExpected expected, const QString& what) {
  QWidget cover;
  Paint(cover, QStringLiteral("Cover"), Qt::cyan);
  const QPoint centre = screen.mapToGlobal(screen.rect().center());
  cover.setGeometry(QRect(centre - QPoint(60, 45), QSize(200, 150)));
  cover.show();
  Check(WaitUntil([&] {
          const QRgb pixel = GrabScreen().pixel(centre);
          return qRed(pixel) < 60 && qGreen(pixel) > 200 && qBlue(pixel) > 200;
        }),
        "a window covers " + what);
  cover.close();
  CheckShown(screen, expected, what + " after the covering window closed");
}

}  // namespace

int main(int argc, char** argv) {
  const bool managed = argc > 1 && QString::fromLatin1(argv[1]) == "--window-manager";
  qputenv("QT_QPA_PLATFORM", "xcb");
  QApplication app(argc, argv);
  InstallMainThreadHooks();
  const std::string video = QuartersClip();

  TFFPlayer player;
  if (!LoadPlayer(player)) return Verdict();

  QWidget window;
  Paint(window, QStringLiteral("Preview"), Qt::magenta);
  // The widget sits in a plain container that moves when the window grows, as a preview
  // beside a list does: its place in the window changes while its place in its parent stays.
  // The container keeps its size at first (it only moves), then grows with the window.
  auto* layout = new QHBoxLayout(&window);
  layout->setContentsMargins(24, 24, 24, 24);
  layout->addStretch(1);
  auto* side = new QWidget(&window);
  layout->addWidget(side, 3);
  auto* sideLayout = new QVBoxLayout(side);
  sideLayout->setContentsMargins(0, 0, 0, 0);
  auto* screen = new QWidget(side);
  sideLayout->addWidget(screen);
  side->setFixedSize(320, 240);
  TPlayerScreen adapter(screen, player);
  window.setGeometry(60, 60, 480, 360);
  window.show();
  WaitForSize(window, "shown", [](QSize size) { return size == QSize(480, 360); });
  if (managed)
    Check(WaitUntil([&] { return window.frameGeometry() != window.geometry(); }),
          "the window manager frames the window");

  Check(player.Open(video, adapter.Handle()),
        "Open " + QString::fromStdString(player.LastErrMsg()));
  CheckPictureShown(*screen, "the playing picture");
  player.Pause();
  Check(WaitUntil([&] { return player.PlayState() == psPause; }), "paused");
  CheckPictureShown(*screen, "the paused picture");

  CoverAndUncover(*screen, ExpectedPicture, "the paused picture");

  window.resize(640, 400);
  WaitForSize(window, "resized", [](QSize size) { return size == QSize(640, 400); });
  CheckPictureShown(*screen, "the paused picture after a resize that moved it");
  side->setMinimumSize(0, 0);
  side->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  CheckPictureShown(*screen, "the paused picture after a resize that made it larger");
  CoverAndUncover(*screen, ExpectedPicture, "the paused picture");

  window.showMaximized();
  if (managed)
    WaitForSize(window, "maximised",
                [](QSize size) { return size.width() > 640 && size.height() > 400; });
  CheckPictureShown(*screen, "the paused picture after maximising");

  window.showNormal();
  if (managed) WaitForSize(window, "restored", [](QSize size) { return size == QSize(640, 400); });
  CheckPictureShown(*screen, "the paused picture after restoring");

  // Stopped, the widget is black, and stays so when uncovered.
  player.Stop(true);
  adapter.Repaint();
  CheckShown(*screen, ExpectedBlack, "the stopped player's widget");
  CoverAndUncover(*screen, ExpectedBlack, "the stopped player's widget");
  return Verdict();
}
