// Pictures saved in the format their file name's extension names, and resized copies of
// picture files (the watermark copies of the edit window).
#pragma once

#include <QString>

class QImage;

// The MIME type an extension names (".png", ".jpg"/".jpeg", ".gif", ".bmp", ".tif", ".ico",
// letter case ignored), or nothing.
QString MimeTypeOfExtension(const QString& FileName);

// Saves in the format of the file name's extension; false, with the reason in the log, for an
// extension that names no format or a format this system cannot write.
bool SaveImageByExtension(const QImage& Image, const QString& FileName);

// Interpolation modes of ResizeImageFile.
enum TInterpolation { imDefault = 0, imLowQuality = 1, imHighQuality = 2 };

// Writes the source stretched to exactly Width x Height (no aspect kept) as Target, in the
// format of Target's extension; false, with the reason in the log, when that fails.
bool ResizeImageFile(const QString& Source, const QString& Target, int Width, int Interpolation,
                     int Height);
