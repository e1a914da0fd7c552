#include "U_XML.h"

#include "U_Config.h"
#include "VelLog.h"

#include <QDomDocument>
#include <QFile>

QString FormatProfilesFileName() { return ProgramFolder() + QStringLiteral("Format.dat"); }

namespace {

void ReadFailure(const QString& FileName, QString* Error, const QString& Reason) {
  VelLog.WriteError(QStringLiteral("Load [Format.dat] failed."));
  if (Error) *Error = FileName + QStringLiteral(": ") + Reason;
}

QString ChildText(const QDomElement& Parent, const char* Name) {
  return Parent.firstChildElement(QString::fromLatin1(Name)).text();
}

}  // namespace

bool OpenXmlFile(QDomDocument& Document, const QString& FileName, QString* Error) {
  Document.clear();
  QFile file(FileName);
  if (!file.open(QIODevice::ReadOnly)) {
    ReadFailure(FileName, Error, file.errorString());
    return false;
  }
  QString message;
  int line = 0;
  int column = 0;
  if (!Document.setContent(&file, &message, &line, &column)) {
    ReadFailure(FileName, Error,
                QStringLiteral("%1 (line %2, column %3)").arg(message).arg(line).arg(column));
    return false;
  }
  if (Document.documentElement().isNull()) {
    ReadFailure(FileName, Error, QStringLiteral("the file holds no element"));
    return false;
  }
  return true;
}

std::vector<TOOXML> LoadFormatProfiles(const QDomDocument& Document) {
  std::vector<TOOXML> profiles;
  for (QDomElement node = Document.documentElement().firstChildElement(); !node.isNull();
       node = node.nextSiblingElement()) {
    const QDomElement video = node.firstChildElement(QStringLiteral("Video"));
    const QDomElement audio = node.firstChildElement(QStringLiteral("Audio"));
    TOOXML& record = profiles.emplace_back();
    record.id = node.attribute(QStringLiteral("id"));
    record.Format = ChildText(video, "Format");
    record.Name = ChildText(node, "Name");
    record.VideoEncoder = ChildText(video, "Encoder");
    record.FrameRate = ChildText(video, "FrameRate");
    record.VideoBitRate = ChildText(video, "BitRate");
    record.AudioEncoder = ChildText(audio, "Encoder");
    record.Channel = ChildText(audio, "Channel");
    record.SampleRate = ChildText(audio, "SmapleRate");
    record.AudioBitRate = ChildText(audio, "BitRate");
  }
  return profiles;
}
