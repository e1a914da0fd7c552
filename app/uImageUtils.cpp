#include "uImageUtils.h"

#include "VelLog.h"

#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QPainter>

namespace {

struct TImageType {
  const char* Extension;
  const char* MimeType;
  const char* Format;  // Qt's name of the format
};

const TImageType ImageTypes[] = {
    {"png", "image/png", "png"},  {"jpg", "image/jpeg", "jpeg"}, {"jpeg", "image/jpeg", "jpeg"},
    {"gif", "image/gif", "gif"},  {"bmp", "image/bmp", "bmp"},   {"tif", "image/tiff", "tiff"},
    {"ico", "image/Icon", "ico"},
};

const TImageType* TypeOf(const QString& FileName) {
  const QString extension = QFileInfo(FileName).suffix().toLower();
  for (const TImageType& type : ImageTypes)
    if (extension == QLatin1String(type.Extension)) return &type;
  return nullptr;
}

bool Refuse(const QString& Reason) {
  VelLog.WriteError(Reason);
  return false;
}

}  // namespace

QString MimeTypeOfExtension(const QString& FileName) {
  const TImageType* type = TypeOf(FileName);
  return type ? QString::fromLatin1(type->MimeType) : QString();
}

bool SaveImageByExtension(const QImage& Image, const QString& FileName) {
  const TImageType* type = TypeOf(FileName);
  if (!type)
    return Refuse(
        QStringLiteral("Cannot save %1: its extension names no picture format").arg(FileName));
  if (!QImageWriter::supportedImageFormats().contains(type->Format))
    return Refuse(QStringLiteral("Cannot save %1: this system cannot write %2")
                      .arg(FileName, QString::fromLatin1(type->MimeType)));
  QImageWriter writer(FileName, type->Format);
  if (writer.write(Image)) return true;
  return Refuse(QStringLiteral("Cannot save %1: %2").arg(FileName, writer.errorString()));
}

bool ResizeImageFile(const QString& Source, const QString& Target, int Width, int Interpolation,
                     int Height) {
  const QImage source(Source);
  if (source.isNull()) return Refuse(QStringLiteral("Cannot read the picture ") + Source);
  if (Width <= 0 || Height <= 0)
    return Refuse(QStringLiteral("Cannot resize %1 to %2x%3").arg(Source).arg(Width).arg(Height));
  QImage target(Width, Height, QImage::Format_ARGB32);
  target.fill(Qt::transparent);
  QPainter painter(&target);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, Interpolation != imLowQuality);
  painter.drawImage(target.rect(), source);
  painter.end();
  return SaveImageByExtension(target, Target);
}
