#include "IniFiles.h"

#include <QFile>
#include <QSaveFile>

#include <optional>

namespace {

bool IsComment(const QString& Trimmed) {
  return Trimmed.startsWith(QLatin1Char(';')) || Trimmed.startsWith(QLatin1Char('#'));
}

// The name inside "[...]", or a null string for any other line.
QString SectionName(const QString& Line) {
  const QString trimmed = Line.trimmed();
  const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
  if (!trimmed.startsWith(QLatin1Char('[')) || close < 0) return QString();
  return trimmed.mid(1, close - 1).trimmed();
}

// The key of a "Key=Value" line, or a null string for any other line.
QString KeyName(const QString& Line) {
  const QString trimmed = Line.trimmed();
  const qsizetype equals = trimmed.indexOf(QLatin1Char('='));
  if (equals <= 0 || IsComment(trimmed)) return QString();
  return trimmed.left(equals).trimmed();
}

QString ValueOf(const QString& Line) {
  return Line.mid(Line.indexOf(QLatin1Char('=')) + 1).trimmed();
}

bool SameName(const QString& A, const QString& B) { return A.compare(B, Qt::CaseInsensitive) == 0; }

bool HasLineBreak(const QString& Text) {
  return Text.contains(QLatin1Char('\n')) || Text.contains(QLatin1Char('\r'));
}

// What the file's layout cannot hold without changing its meaning.
QString InvalidEntryReason(const QString& Section, const QString& Ident, const QString& Value) {
  if (HasLineBreak(Section) || HasLineBreak(Ident) || HasLineBreak(Value))
    return QStringLiteral("Line breaks cannot be stored in a settings file.");
  if (Section.trimmed().isEmpty() || Section.contains(QLatin1Char(']')))
    return QStringLiteral("Invalid section name \"%1\".").arg(Section);
  if (Ident.trimmed().isEmpty() || Ident.contains(QLatin1Char('=')) || IsComment(Ident.trimmed()))
    return QStringLiteral("Invalid key name \"%1\".").arg(Ident);
  return QString();
}

// The file's lines without their line ends; a missing file has none. Null when the file
// exists but cannot be read, with the reason in Error.
std::optional<QStringList> ReadLines(const QString& FileName, QString& Error) {
  QFile file(FileName);
  if (!file.exists()) return QStringList();
  if (!file.open(QIODevice::ReadOnly)) {
    Error = QStringLiteral("Cannot read %1: %2").arg(FileName, file.errorString());
    return std::nullopt;
  }
  QString text = QString::fromUtf8(file.readAll());
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
  QStringList lines = text.split(QLatin1Char('\n'));
  if (lines.last().isEmpty()) lines.removeLast();
  for (QString& line : lines)
    if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
  return lines;
}

int FindSection(const QStringList& Lines, const QString& Section) {
  for (int i = 0; i < Lines.size(); ++i)
    if (SameName(SectionName(Lines[i]), Section)) return i;
  return -1;
}

int SectionEnd(const QStringList& Lines, int Header) {
  int i = Header + 1;
  while (i < Lines.size() && SectionName(Lines[i]).isNull()) ++i;
  return i;
}

// The line of the key in the section, or -1.
int FindKey(const QStringList& Lines, const QString& Section, const QString& Ident) {
  const int header = FindSection(Lines, Section);
  if (header < 0) return -1;
  const int end = SectionEnd(Lines, header);
  for (int i = header + 1; i < end; ++i)
    if (SameName(KeyName(Lines[i]), Ident)) return i;
  return -1;
}

void PutEntry(QStringList& Lines, const QString& Section, const QString& Entry, int KeyLine) {
  if (KeyLine >= 0) {
    Lines[KeyLine] = Entry;
    return;
  }
  const int header = FindSection(Lines, Section);
  if (header >= 0) {
    // After the section's last entry, before the blank lines that part it from the next.
    int at = SectionEnd(Lines, header);
    while (at > header + 1 && Lines[at - 1].trimmed().isEmpty()) --at;
    Lines.insert(at, Entry);
    return;
  }
  if (!Lines.isEmpty() && !Lines.last().trimmed().isEmpty()) Lines.append(QString());
  Lines.append(QLatin1Char('[') + Section.trimmed() + QLatin1Char(']'));
  Lines.append(Entry);
}

}  // namespace

TIniFile::TIniFile(const QString& FileName) : FFileName(FileName) {}

QString TIniFile::ReadString(const QString& Section, const QString& Ident,
                             const QString& Default) const {
  QString error;
  const std::optional<QStringList> lines = ReadLines(FFileName, error);
  const int line = lines ? FindKey(*lines, Section, Ident) : -1;
  return line < 0 ? Default : ValueOf((*lines)[line]);
}

int TIniFile::ReadInteger(const QString& Section, const QString& Ident, int Default) const {
  bool ok = false;
  const int value = ReadString(Section, Ident, QString()).toInt(&ok);
  return ok ? value : Default;
}

bool TIniFile::ReadBool(const QString& Section, const QString& Ident, bool Default) const {
  return ReadInteger(Section, Ident, Default ? 1 : 0) != 0;
}

bool TIniFile::WriteString(const QString& Section, const QString& Ident, const QString& Value) {
  FLastErrMsg = InvalidEntryReason(Section, Ident, Value);
  if (!FLastErrMsg.isEmpty()) return false;
  // An unreadable file is never replaced by one that holds this entry alone.
  std::optional<QStringList> lines = ReadLines(FFileName, FLastErrMsg);
  if (!lines) return false;
  PutEntry(*lines, Section, Ident.trimmed() + QLatin1Char('=') + Value,
           FindKey(*lines, Section, Ident));
  return Save(*lines);
}

bool TIniFile::WriteInteger(const QString& Section, const QString& Ident, int Value) {
  return WriteString(Section, Ident, QString::number(Value));
}

bool TIniFile::WriteBool(const QString& Section, const QString& Ident, bool Value) {
  return WriteInteger(Section, Ident, Value ? 1 : 0);
}

bool TIniFile::Save(const QStringList& Lines) {
  QSaveFile file(FFileName);
  const QByteArray bytes = (Lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
  if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
    return true;
  FLastErrMsg = QStringLiteral("Cannot save %1: %2").arg(FFileName, file.errorString());
  return false;
}
