#include "AppTestSupport.h"
#include "VelLog.h"
#include "uImageUtils.h"

#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <gtest/gtest.h>

namespace {

TEST(ImageUtils, ResizedCopiesHaveExactlyTheAskedSizeInTheFormatOfTheirExtension) {
  TScratchFolder folder;
  InitVelLog(folder.Path());
  QImage source(64, 16, QImage::Format_RGB32);
  source.fill(QColor(0x20, 0x80, 0xC0));
  const QString sourceName = folder.File(QStringLiteral("logo.png"));
  ASSERT_TRUE(source.save(sourceName));

  const bool writesTiff = QImageWriter::supportedImageFormats().contains("tiff");
  const struct {
    const char* Target;
    int Interpolation;
    bool Saved;
    const char* Format;  // as an independent reader sees the file
  } cases[] = {
      {"copy.JPEG", 2, true, "jpeg"}, {"copy.Jpg", 0, true, "jpeg"},
      {"copy.png", 1, true, "png"},   {"copy.bmp", 2, true, "bmp"},
      {"copy.ico", 2, true, "ico"},   {"copy.tif", 2, writesTiff, "tiff"},
      {"copy.gif", 2, false, ""},     {"copy.txt", 2, false, ""},
      {"copy", 2, false, ""},
  };
  for (const auto& c : cases) {
    const QString target = folder.File(QLatin1String(c.Target));
    EXPECT_EQ(ResizeImageFile(sourceName, target, 30, c.Interpolation, 40), c.Saved) << c.Target;
    if (!c.Saved) continue;
    QImageReader reader(target);
    EXPECT_EQ(reader.format(), QByteArray(c.Format)) << c.Target;
    EXPECT_EQ(reader.size(), QSize(30, 40)) << c.Target;
  }
  EXPECT_FALSE(ResizeImageFile(folder.File(QStringLiteral("missing.png")),
                               folder.File(QStringLiteral("x.png")), 30, 0, 40));
  const QStringList log = ReadLines(VelLog.FileName());
  EXPECT_TRUE(log.filter(QStringLiteral("this system cannot write image/gif")).size() == 1);
  EXPECT_TRUE(log.filter(QStringLiteral("extension names no picture format")).size() == 2);
  EXPECT_TRUE(log.filter(QStringLiteral("Cannot read the picture")).size() == 1);
  VelLog = TVelLog();
}

}  // namespace
