#include "PreviewWindow.h"

#include "MyUtils.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include <array>
#include <bit>
#include <cstdint>
#include <utility>

// The bitmap's 16- and 32-bit pixels are little-endian words; Qt's matching formats are
// native-endian.
static_assert(std::endian::native == std::endian::little, "bitmap pixels are read as native words");

namespace {

// The formats whose pixels Qt reads as the bitmap stores them.
QImage::Format ImageFormat(int BitsPixel) {
  switch (BitsPixel) {
    case 15:
      return QImage::Format_RGB555;
    case 16:
      return QImage::Format_RGB16;
    case 24:
      return QImage::Format_BGR888;
    case 32:
      return QImage::Format_RGB32;
    default:
      return QImage::Format_Invalid;
  }
}

// A view of the bitmap's own rows: nothing is copied until an image is made from it.
QImage BitmapView(const TBitmap& Bitmap) {
  return QImage(Bitmap.ScanLine(0), Bitmap.Width(), Bitmap.Height(), Bitmap.Stride(),
                ImageFormat(Bitmap.BitsPixel()));
}

// The 8-bit bitmap's pixels are colours, not indices: 3:3:2 with blue in the high bits.
std::array<QRgb, 256> ThreeThreeTwoColors() {
  std::array<QRgb, 256> colors{};
  for (int pixel = 0; pixel < 256; ++pixel)
    colors[pixel] = qRgb((pixel & 7) * 255 / 7, (pixel >> 3 & 7) * 255 / 7, (pixel >> 6) * 255 / 3);
  return colors;
}

QImage ThreeThreeTwoToImage(const TBitmap& Bitmap) {
  static const std::array<QRgb, 256> colors = ThreeThreeTwoColors();
  QImage image(Bitmap.Width(), Bitmap.Height(), QImage::Format_RGB32);
  for (int y = 0; y < Bitmap.Height(); ++y) {
    const uint8_t* source = Bitmap.ScanLine(y);
    auto* target = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < Bitmap.Width(); ++x) target[x] = colors[source[x]];
  }
  return image;
}

}  // namespace

QImage BitmapToImage(const TBitmap& Bitmap) {
  switch (Bitmap.BitsPixel()) {
    case 8:
      return ThreeThreeTwoToImage(Bitmap);
    case 32:
      // Converting to its own format would share the bitmap's rows, which change after Draw. Qt
      // draws this format opaque whatever the pixels' fourth byte holds.
      return BitmapView(Bitmap).copy();
    default:
      return BitmapView(Bitmap).convertToFormat(QImage::Format_RGB32);
  }
}

TPreviewForm::TPreviewForm(QSize ClientSize, TPreviewClosedEvent OnClosed)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                           Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      FOnClosed(std::move(OnClosed)) {
  // The preview belongs to a task: closing it must never end the program.
  setAttribute(Qt::WA_QuitOnClose, false);
  setFixedSize(ClientSize);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TPreviewForm::SetCaption(const std::string& Caption) {
  setWindowTitle(QString::fromStdString(Caption));
}

void TPreviewForm::Draw(const TBitmap& Bitmap) {
  FPicture = BitmapToImage(Bitmap);
  update();
}

void TPreviewForm::paintEvent(QPaintEvent*) { QPainter(this).drawImage(0, 0, FPicture); }

void TPreviewForm::closeEvent(QCloseEvent* Event) {
  Event->accept();
  if (const TPreviewClosedEvent onClosed = std::exchange(FOnClosed, nullptr)) onClosed();
}

void TPreviewForm::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton) return QWidget::mousePressEvent(Event);
  if (windowHandle() && windowHandle()->startSystemMove()) return;
  FDragOffset = Event->globalPosition().toPoint() - pos();
}

void TPreviewForm::mouseMoveEvent(QMouseEvent* Event) {
  if (FDragOffset && Event->buttons() & Qt::LeftButton)
    move(Event->globalPosition().toPoint() - *FDragOffset);
  else
    QWidget::mouseMoveEvent(Event);
}

void TPreviewForm::mouseReleaseEvent(QMouseEvent* Event) {
  if (Event->button() == Qt::LeftButton) FDragOffset.reset();
  QWidget::mouseReleaseEvent(Event);
}

std::unique_ptr<TPreviewWindow> MakePreviewWindow(const TBitmap& FirstPicture,
                                                  TPreviewClosedEvent OnClosed) {
  auto window = std::make_unique<TPreviewForm>(QSize(FirstPicture.Width(), FirstPicture.Height()),
                                               std::move(OnClosed));
  window->show();
  return window;
}
