// The output profiles offered by the formats dialog, read from "Format.dat" beside the
// program. The program only reads that file.
//
// Form: any document element; each child element is one record whose attribute "id", child
// "Name" and the children of "Video" ("Encoder", "FrameRate", "BitRate", "Format") and of
// "Audio" ("Encoder", "Channel", "SmapleRate" - spelled so in every file -, "BitRate") give
// its fields. Record 0 holds the dialog's item lists as comma-separated texts; each later
// record is a profile holding, per list, the index of the item to select.
#pragma once

#include <QString>

#include <vector>

class QDomDocument;

struct TOOXML {
  QString id;
  QString Format;
  QString Name;
  QString VideoEncoder;
  QString FrameRate;
  QString Reserved;  // no element feeds it
  QString VideoBitRate;
  QString AudioEncoder;
  QString Channel;
  QString SampleRate;
  QString AudioBitRate;
};

// ProgramFolder() + "Format.dat": never looked up through the current folder.
QString FormatProfilesFileName();

// Parses the file into Document. On failure: logs "Load [Format.dat] failed.", puts the
// reason (with the line and column for a malformed file) into Error and returns false.
bool OpenXmlFile(QDomDocument& Document, const QString& FileName, QString* Error);

// One record per child element of the document element, in document order. A missing
// element leaves its field empty.
std::vector<TOOXML> LoadFormatProfiles(const QDomDocument& Document);
