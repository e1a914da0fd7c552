// Draws the about box's picture: MakeAboutPicture <output.png>
// The picture leaves room for the window's own labels: the version below the title,
// the notice and the home page link in the lower band.
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

namespace {

constexpr int Width = 420;
constexpr int Height = 260;
constexpr int BandTop = 196;

void DrawBackground(QPainter& Painter) {
  QLinearGradient sky(0, 0, 0, Height);
  sky.setColorAt(0.0, QColor(0x1B, 0x3A, 0x5C));
  sky.setColorAt(1.0, QColor(0x0B, 0x16, 0x26));
  Painter.fillRect(0, 0, Width, Height, sky);

  QRadialGradient glow(QPointF(330, 90), 150);
  glow.setColorAt(0.0, QColor(0xF2, 0x8C, 0x28, 150));
  glow.setColorAt(1.0, QColor(0xF2, 0x8C, 0x28, 0));
  Painter.fillRect(0, 0, Width, Height, glow);

  Painter.fillRect(0, BandTop, Width, Height - BandTop, QColor(0x07, 0x0E, 0x18, 200));
  Painter.fillRect(0, BandTop, Width, 1, QColor(0xF2, 0x8C, 0x28));
}

// A strip of film bending into a play button: video in, Flash out.
void DrawEmblem(QPainter& Painter) {
  const QRectF frame(278, 34, 112, 112);
  Painter.setPen(Qt::NoPen);
  Painter.setBrush(QColor(0xFF, 0xFF, 0xFF, 235));
  Painter.drawRoundedRect(frame, 18, 18);

  Painter.setBrush(QColor(0x1B, 0x3A, 0x5C));
  for (int i = 0; i < 5; ++i) {
    Painter.drawRect(QRectF(frame.left() + 10 + i * 20, frame.top() + 8, 10, 8));
    Painter.drawRect(QRectF(frame.left() + 10 + i * 20, frame.bottom() - 16, 10, 8));
  }

  QPainterPath play;
  play.moveTo(frame.left() + 40, frame.top() + 30);
  play.lineTo(frame.left() + 82, frame.center().y());
  play.lineTo(frame.left() + 40, frame.bottom() - 30);
  play.closeSubpath();
  Painter.setBrush(QColor(0xF2, 0x8C, 0x28));
  Painter.drawPath(play);
}

void DrawTitle(QPainter& Painter) {
  QFont title(QStringLiteral("DejaVu Sans"));
  title.setPixelSize(34);
  title.setBold(true);
  Painter.setFont(title);
  Painter.setPen(Qt::white);
  Painter.drawText(QPointF(24, 78), QStringLiteral("Fennick"));

  QFont subtitle(QStringLiteral("DejaVu Sans"));
  subtitle.setPixelSize(15);
  Painter.setFont(subtitle);
  Painter.setPen(QColor(0xF2, 0x8C, 0x28));
  Painter.drawText(QPointF(26, 104), QStringLiteral("Video to Flash, made simple"));

  subtitle.setPixelSize(12);
  Painter.setFont(subtitle);
  Painter.setPen(QColor(0xC8, 0xD4, 0xE2));
  Painter.drawText(QPointF(26, 40), QStringLiteral("Velmora"));
}

}  // namespace

int main(int argc, char* argv[]) {
  QGuiApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: MakeAboutPicture <output.png>\n");
    return 2;
  }
  QImage image(Width, Height, QImage::Format_RGB32);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  DrawBackground(painter);
  DrawEmblem(painter);
  DrawTitle(painter);
  painter.end();
  if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "MakeAboutPicture: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
