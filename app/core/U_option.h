// The options window's rules: where snapshots may go, which picture formats it offers, and
// writing back only what the user changed.
#pragma once

#include <QString>
#include <QStringList>

class TMainSettings;

// "Bitmap File(*.bmp)" and "JPEG Image File(*.jpg)".
QStringList SnapshotFormatItems();
// The text between "*." and the item's last character ("jpg").
QString FormatItemExtension(const QString& Item);
// The item naming the extension (letter case ignored); the first when none does.
int SnapshotFormatIndex(const QString& Extension);

inline const QString OpticalFolderText =
    QStringLiteral("Output folder cannot be located in CD-ROM.");
inline const QString UnwritableFolderText = QStringLiteral("Output folder cannot be written.");
// Whether the folder lies on a CD or DVD.
bool IsOnOpticalDisc(const QString& Folder);
// Empty when snapshots can be written into the folder; else why not (an optical disc, or a
// folder that cannot be written).
QString SnapshotFolderRefusal(const QString& Folder);

// Before a snapshot is written, and when the options show the folder: makes it when it is
// missing. Empty, or why it cannot be made.
QString PrepareSnapshotFolder(const QString& Folder);

// Writes the folder and the extension to the settings, each only when it changed. False when
// the settings file could not be written (the settings object has logged why).
bool ApplySnapshotOptions(TMainSettings& Settings, const QString& Folder, const QString& Extension);
