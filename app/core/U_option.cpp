#include "U_option.h"

#include "U_Config.h"

#include <QStorageInfo>

QStringList SnapshotFormatItems() {
  return {QStringLiteral("Bitmap File(*.bmp)"), QStringLiteral("JPEG Image File(*.jpg)")};
}

QString FormatItemExtension(const QString& Item) {
  const qsizetype from = Item.indexOf(QStringLiteral("*."));
  if (from < 0 || Item.size() < from + 3) return {};
  return Item.mid(from + 2, Item.size() - 1 - (from + 2));
}

int SnapshotFormatIndex(const QString& Extension) {
  const QStringList items = SnapshotFormatItems();
  for (int i = 0; i < items.size(); ++i)
    if (FormatItemExtension(items[i]).compare(Extension, Qt::CaseInsensitive) == 0) return i;
  return 0;
}

bool IsOnOpticalDisc(const QString& Folder) {
  const QByteArray type = QStorageInfo(Folder).fileSystemType();
  return type == "iso9660" || type == "udf";
}

QString SnapshotFolderRefusal(const QString& Folder) {
  if (IsOnOpticalDisc(Folder)) return OpticalFolderText;
  if (QStorageInfo(Folder).isReadOnly() || !IsFolderWritable(Folder)) return UnwritableFolderText;
  return {};
}

QString PrepareSnapshotFolder(const QString& Folder) {
  return MakeMissingFolder(Folder, QStringLiteral("snapshot folder"));
}

bool ApplySnapshotOptions(TMainSettings& Settings, const QString& Folder,
                          const QString& Extension) {
  bool written = true;
  if (Folder != Settings.Value(TMainSettings::SnapshotPath))
    written = Settings.SetValue(TMainSettings::SnapshotPath, Folder);
  if (Extension != Settings.Value(TMainSettings::SnapshotExt))
    written = Settings.SetValue(TMainSettings::SnapshotExt, Extension) && written;
  return written;
}
