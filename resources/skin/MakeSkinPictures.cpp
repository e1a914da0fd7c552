// Draws the dialogs' window chrome and the seek bar's pictures:
//   MakeSkinPictures <skin folder> <seek bar folder>
// One look for all of them, the about box's: a navy caption with an orange accent over a
// light face. The frame pieces are stretched by the windows, so each is drawn as one row or
// column that repeats; the caption buttons carry the caption's own gradient rows so that
// they sit on it seamlessly. Pieces that need see-through parts but are stored without
// alpha use the colour keys the seek bar expects (magenta, and light grey for the cuts).
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>
#include <functional>

namespace {

// Shared with the windows: the caption is this tall, its buttons this far from its top.
constexpr int CaptionHeight = 30;
constexpr int CaptionButtonTop = 5;
constexpr int FrameWidth = 4;

const QColor CaptionTop(0x2F, 0x5E, 0x8E);
const QColor CaptionBottom(0x1B, 0x3A, 0x5C);
const QColor Accent(0xF2, 0x8C, 0x28);
const QColor FrameDark(0x10, 0x24, 0x3A);
const QColor Face(0xF0, 0xF0, 0xF0);
const QColor Magenta(0xFF, 0x00, 0xFF);
const QColor CutKey(0xE7, 0xE7, 0xE7);

using TDraw = std::function<void(QPainter&, const QRect&)>;

bool Save(const QString& Folder, const QString& Name, QSize Size, const TDraw& Draw,
          QImage::Format Format = QImage::Format_RGB32) {
  QImage image(Size, Format);
  image.fill(Format == QImage::Format_ARGB32 ? Qt::transparent : Qt::black);
  QPainter painter(&image);
  Draw(painter, image.rect());
  painter.end();
  const QString path = QDir(Folder).filePath(Name);
  if (image.save(path, nullptr, 100)) return true;
  std::fprintf(stderr, "MakeSkinPictures: cannot write %s\n", qPrintable(path));
  return false;
}

// The caption's rows: a light line on top, the gradient, the orange accent at its foot.
void Caption(QPainter& Painter, const QRect& Area, int FirstRow = 0) {
  QLinearGradient sky(0, -FirstRow, 0, CaptionHeight - FirstRow);
  sky.setColorAt(0.0, CaptionTop);
  sky.setColorAt(1.0, CaptionBottom);
  Painter.fillRect(Area, sky);
  if (FirstRow == 0) Painter.fillRect(Area.left(), 0, Area.width(), 1, CaptionTop.lighter(140));
  if (FirstRow + Area.height() >= CaptionHeight)
    Painter.fillRect(Area.left(), CaptionHeight - 2 - FirstRow, Area.width(), 2, Accent);
}

// A frame column of FrameWidth pixels from the outside inwards.
void FrameColumn(QPainter& Painter, const QRect& Area, bool OutsideLeft) {
  const QColor rows[FrameWidth] = {FrameDark, CaptionBottom, CaptionTop, CaptionBottom};
  for (int i = 0; i < FrameWidth; ++i) {
    const int x = OutsideLeft ? i : Area.width() - 1 - i;
    Painter.fillRect(x, 0, 1, Area.height(), rows[i]);
  }
}

void FrameRow(QPainter& Painter, const QRect& Area) {
  const QColor rows[FrameWidth] = {CaptionBottom, CaptionTop, CaptionBottom, FrameDark};
  for (int i = 0; i < FrameWidth; ++i) Painter.fillRect(0, i, Area.width(), 1, rows[i]);
}

void CaptionEnd(QPainter& Painter, const QRect& Area, bool Left) {
  Caption(Painter, Area);
  Painter.fillRect(Left ? 0 : Area.width() - 1, 0, 1, Area.height(), FrameDark);
}

void Corner(QPainter& Painter, const QRect& Area, bool Left) {
  FrameRow(Painter, Area);
  FrameColumn(Painter, Area, Left);
}

void Logo(QPainter& Painter, const QRect& Area) {
  Painter.setRenderHint(QPainter::Antialiasing);
  Painter.setPen(Qt::NoPen);
  Painter.setBrush(QColor(0xFF, 0xFF, 0xFF, 235));
  Painter.drawRoundedRect(QRectF(Area).adjusted(1, 1, -1, -1), 4, 4);
  QPainterPath play;
  play.moveTo(7, 5);
  play.lineTo(15, 10);
  play.lineTo(7, 15);
  play.closeSubpath();
  Painter.setBrush(Accent);
  Painter.drawPath(play);
}

// OK and Cancel: a rounded face on the dialog's face colour.
void PushButton(QPainter& Painter, const QRect& Area, QColor Top, QColor Bottom, QColor Border) {
  Painter.fillRect(Area, Face);
  Painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient face(0, 0, 0, Area.height());
  face.setColorAt(0.0, Top);
  face.setColorAt(1.0, Bottom);
  Painter.setBrush(face);
  Painter.setPen(Border);
  Painter.drawRoundedRect(QRectF(Area).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
}

enum class TGlyph { Minimise, Close };

void CaptionButton(QPainter& Painter, const QRect& Area, TGlyph Glyph, const QColor& Hot) {
  Caption(Painter, Area, CaptionButtonTop);
  Painter.setRenderHint(QPainter::Antialiasing);
  if (Hot.isValid()) {
    Painter.setPen(Qt::NoPen);
    Painter.setBrush(Hot);
    Painter.drawRoundedRect(QRectF(Area).adjusted(1, 1, -1, -1), 3, 3);
  }
  Painter.setPen(QPen(Qt::white, 2));
  const QPointF c = QRectF(Area).center();
  if (Glyph == TGlyph::Minimise) {
    Painter.drawLine(QPointF(c.x() - 5, c.y() + 4), QPointF(c.x() + 5, c.y() + 4));
  } else {
    Painter.drawLine(QPointF(c.x() - 4, c.y() - 4), QPointF(c.x() + 4, c.y() + 4));
    Painter.drawLine(QPointF(c.x() + 4, c.y() - 4), QPointF(c.x() - 4, c.y() + 4));
  }
}

bool MakeSkin(const QString& Folder) {
  const QSize captionPiece(10, CaptionHeight);
  const QSize captionButton(22, 20);
  const QSize pushButton(75, 25);
  bool ok = true;
  ok &= Save(Folder, "Top_Left.jpg", captionPiece,
             [](QPainter& p, const QRect& r) { CaptionEnd(p, r, true); });
  ok &=
      Save(Folder, "top_mid.jpg", captionPiece, [](QPainter& p, const QRect& r) { Caption(p, r); });
  ok &= Save(Folder, "top_right.jpg", captionPiece,
             [](QPainter& p, const QRect& r) { CaptionEnd(p, r, false); });
  ok &= Save(Folder, "mid_left.jpg", QSize(FrameWidth, 10),
             [](QPainter& p, const QRect& r) { FrameColumn(p, r, true); });
  ok &= Save(Folder, "mid_right.jpg", QSize(FrameWidth, 10),
             [](QPainter& p, const QRect& r) { FrameColumn(p, r, false); });
  ok &= Save(Folder, "bottom_left.jpg", QSize(FrameWidth, FrameWidth),
             [](QPainter& p, const QRect& r) { Corner(p, r, true); });
  ok &= Save(Folder, "bottom_right.jpg", QSize(FrameWidth, FrameWidth),
             [](QPainter& p, const QRect& r) { Corner(p, r, false); });
  ok &= Save(Folder, "bottom_mid.jpg", QSize(10, FrameWidth),
             [](QPainter& p, const QRect& r) { FrameRow(p, r); });
  ok &= Save(Folder, "Logo.png", QSize(20, 20), Logo, QImage::Format_ARGB32);
  ok &= Save(Folder, "btn_up.bmp", pushButton, [](QPainter& p, const QRect& r) {
    PushButton(p, r, QColor(0xFD, 0xFD, 0xFD), QColor(0xDC, 0xE2, 0xEA), QColor(0x7A, 0x8A, 0x9E));
  });
  ok &= Save(Folder, "btn_Hot.bmp", pushButton, [](QPainter& p, const QRect& r) {
    PushButton(p, r, QColor(0xFF, 0xF6, 0xEC), QColor(0xFB, 0xDD, 0xBD), Accent);
  });
  ok &= Save(Folder, "btn_down.bmp", pushButton, [](QPainter& p, const QRect& r) {
    PushButton(p, r, QColor(0xF6, 0xC8, 0x98), QColor(0xFB, 0xE4, 0xCC), Accent.darker(130));
  });
  const QColor none;
  const QColor hot(0xFF, 0xFF, 0xFF, 60);
  const QColor closeHot(0xD9, 0x41, 0x2B);
  ok &= Save(Folder, "min_up.bmp", captionButton,
             [&](QPainter& p, const QRect& r) { CaptionButton(p, r, TGlyph::Minimise, none); });
  ok &= Save(Folder, "min_hot.bmp", captionButton,
             [&](QPainter& p, const QRect& r) { CaptionButton(p, r, TGlyph::Minimise, hot); });
  ok &= Save(Folder, "close_up.bmp", captionButton,
             [&](QPainter& p, const QRect& r) { CaptionButton(p, r, TGlyph::Close, none); });
  ok &= Save(Folder, "close_hot.bmp", captionButton,
             [&](QPainter& p, const QRect& r) { CaptionButton(p, r, TGlyph::Close, closeHot); });
  return ok;
}

// ---------------------------------------------------------------------------------------
// The seek bar's pictures; no smoothing, so that no edge blends into the colour key.

void Track(QPainter& Painter, const QRect& Area) {
  Painter.fillRect(Area, Magenta);
  QLinearGradient groove(0, 0, 0, Area.height());
  groove.setColorAt(0.0, QColor(0xB8, 0xC2, 0xCE));
  groove.setColorAt(1.0, QColor(0xF4, 0xF6, 0xF9));
  Painter.setPen(QColor(0x6E, 0x7E, 0x92));
  Painter.setBrush(groove);
  Painter.drawRect(Area.adjusted(1, 0, -2, -1));
}

void Marker(QPainter& Painter, const QRect& Area, bool Start) {
  Painter.fillRect(Area, Magenta);
  const int w = Area.width();
  const int h = Area.height();
  // A flag on a stem: the stem on the line's side, the flag pointing into the segment.
  const int stem = Start ? w - 2 : 0;
  Painter.fillRect(stem, 0, 2, h, QColor(0x93, 0x00, 0x00));
  QPolygon flag;
  if (Start)
    flag << QPoint(w - 2, 0) << QPoint(0, 0) << QPoint(w - 2, 7);
  else
    flag << QPoint(1, 0) << QPoint(w - 1, 0) << QPoint(1, 7);
  Painter.setPen(Qt::NoPen);
  Painter.setBrush(Accent);
  Painter.drawPolygon(flag);
}

void Cut(QPainter& Painter, const QRect& Area) {
  Painter.fillRect(Area, CutKey);
  Painter.setPen(QColor(0x9A, 0xA4, 0xB0));
  for (int x = -Area.height(); x < Area.width(); x += 4)
    Painter.drawLine(x, Area.height() - 1, x + Area.height() - 1, 0);
}

void Tick(QPainter& Painter, const QRect& Area, QColor Top, QColor Bottom, QColor Border) {
  Painter.fillRect(Area, Magenta);
  const int w = Area.width();
  const int h = Area.height();
  QPolygon knob;
  knob << QPoint(0, 0) << QPoint(w - 1, 0) << QPoint(w - 1, h - 6) << QPoint(w / 2, h - 1)
       << QPoint(0, h - 6);
  QLinearGradient face(0, 0, w, 0);
  face.setColorAt(0.0, Top);
  face.setColorAt(1.0, Bottom);
  Painter.setPen(Border);
  Painter.setBrush(face);
  Painter.drawPolygon(knob);
  Painter.setPen(Top.lighter(130));
  Painter.drawLine(2, 2, 2, h - 7);
}

bool MakeSeekBar(const QString& Folder) {
  const QSize tick(11, 18);
  const QSize marker(7, 22);
  bool ok = true;
  ok &= Save(Folder, "Track.png", QSize(16, 8), Track);
  ok &= Save(Folder, "SegmentStart.png", marker,
             [](QPainter& p, const QRect& r) { Marker(p, r, true); });
  ok &= Save(Folder, "SegmentEnd.png", marker,
             [](QPainter& p, const QRect& r) { Marker(p, r, false); });
  ok &= Save(Folder, "StartCut.png", QSize(16, 8), Cut);
  ok &= Save(Folder, "EndCut.png", QSize(16, 8), Cut);
  ok &= Save(Folder, "TickUp.png", tick, [](QPainter& p, const QRect& r) {
    Tick(p, r, QColor(0x4A, 0x86, 0xC8), CaptionBottom, FrameDark);
  });
  ok &= Save(Folder, "TickHot.png", tick, [](QPainter& p, const QRect& r) {
    Tick(p, r, QColor(0xF8, 0xB0, 0x68), Accent, Accent.darker(150));
  });
  ok &= Save(Folder, "TickDown.png", tick, [](QPainter& p, const QRect& r) {
    Tick(p, r, Accent, Accent.darker(140), FrameDark);
  });
  ok &= Save(Folder, "TickDisable.png", tick, [](QPainter& p, const QRect& r) {
    Tick(p, r, QColor(0xD0, 0xD0, 0xD0), QColor(0xA8, 0xA8, 0xA8), QColor(0x80, 0x80, 0x80));
  });
  return ok;
}

}  // namespace

int main(int argc, char* argv[]) {
  QGuiApplication application(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: MakeSkinPictures <skin folder> <seek bar folder>\n");
    return 2;
  }
  const QString skin = QString::fromLocal8Bit(argv[1]);
  const QString seekBar = QString::fromLocal8Bit(argv[2]);
  if (!QDir().mkpath(skin) || !QDir().mkpath(seekBar)) {
    std::fprintf(stderr, "MakeSkinPictures: cannot make the folders\n");
    return 1;
  }
  const bool skinMade = MakeSkin(skin);
  const bool seekBarMade = MakeSeekBar(seekBar);
  return skinMade && seekBarMade ? 0 : 1;
}
