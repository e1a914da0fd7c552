#include "IniFiles.h"

#include <QFile>
#include <QSaveFile>

namespace {

bool IsComment(const QString& Trimmed)
{
  return Trimmed.startsWith(QLatin1Char(';')) || Trimmed.startsWith(QLatin1Char('#'));
}

// The name inside "[...]", or a null string for any other line.
QString SectionName(const QString& Line)
{
  const QString trimmed = Line.trimmed();
  const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
  if (!trimmed.startsWith(QLatin1Char('[')) || close < 0)
    return QString();
  return trimmed.mid(1, close - 1).trimmed();
}

// The key of a "Key=Value" line, or a null string for any other line.
QString KeyName(const QString& Line)
{
  const QString trimmed = Line.trimmed();
  const qsizetype equals = trimmed.indexOf(QLatin1Char('='));
  if (equals <= 0 || IsComment(trimmed))
    return QString();
  return trimmed.left(equals).trimmed();
}

QString ValueOf(const QString& Line)
{
  return Line.mid(Line.indexOf(QLatin1Char('=')) + 1).trimmed();
}

bool SameName(const QString& A, const QString& B)
{
  return A.compare(B, Qt::CaseInsensitive) == 0;
}

bool HasLineBreak(const QString& Text)
{
  return Text.contains(QLatin1Char('\n')) || Text.contains(QLatin1Char('\r'));
}

// What the file's layout cannot hold without changing its meaning.
QString InvalidEntryReason(const QString& Section, const QString& Ident, const QString& Value)
{
  if (HasLineBreak(Section) || HasLineBreak(Ident) || HasLineBreak(Value))
    return QStringLiteral("Line breaks cannot be stored in a settings file.");
  if (Section.trimmed().isEmpty() || Section.contains(QLatin1Char(']')))
    return QStringLiteral("Invalid section name \"%1\".").arg(Section);
  if (Ident.trimmed().isEmpty() || Ident.contains(QLatin1Char('=')) || IsComment(Ident.trimmed()))
    return QStringLiteral("Invalid key name \"%1\".").arg(Ident);
  return QString();
}

} // namespace

TIniFile::TIniFile(const QString& FileName) : FFileName(FileName)
{
  QFile file(FFileName);
  if (!file.open(QIODevice::ReadOnly))
    return;
  QString text = QString::fromUtf8(file.readAll());
  if (text.startsWith(QChar(0xFEFF)))
    text.remove(0, 1);
  FLines = text.split(QLatin1Char('\n'));
  if (FLines.last().isEmpty())
    FLines.removeLast();
  for (QString& line : FLines)
    if (line.endsWith(QLatin1Char('\r')))
      line.chop(1);
}

int TIniFile::FindSection(const QString& Section) const
{
  for (int i = 0; i < FLines.size(); ++i)
    if (SameName(SectionName(FLines[i]), Section))
      return i;
  return -1;
}

int TIniFile::SectionEnd(int Header) const
{
  int i = Header + 1;
  while (i < FLines.size() && SectionName(FLines[i]).isNull())
    ++i;
  return i;
}

int TIniFile::FindKey(int Header, const QString& Ident) const
{
  const int end = SectionEnd(Header);
  for (int i = Header + 1; i < end; ++i)
    if (SameName(KeyName(FLines[i]), Ident))
      return i;
  return -1;
}

QString TIniFile::ReadString(const QString& Section, const QString& Ident, const QString& Default) const
{
  const int header = FindSection(Section);
  const int line = header < 0 ? -1 : FindKey(header, Ident);
  return line < 0 ? Default : ValueOf(FLines[line]);
}

int TIniFile::ReadInteger(const QString& Section, const QString& Ident, int Default) const
{
  bool ok = false;
  const int value = ReadString(Section, Ident, QString()).toInt(&ok);
  return ok ? value : Default;
}

bool TIniFile::ReadBool(const QString& Section, const QString& Ident, bool Default) const
{
  return ReadInteger(Section, Ident, Default ? 1 : 0) != 0;
}

bool TIniFile::WriteString(const QString& Section, const QString& Ident, const QString& Value)
{
  FLastErrMsg = InvalidEntryReason(Section, Ident, Value);
  if (!FLastErrMsg.isEmpty())
    return false;
  const QStringList before = FLines;
  const QString entry = Ident.trimmed() + QLatin1Char('=') + Value;
  const int header = FindSection(Section);
  const int line = header < 0 ? -1 : FindKey(header, Ident);
  if (line >= 0) {
    FLines[line] = entry;
  } else if (header >= 0) {
    // After the section's last entry, before the blank lines that part it from the next.
    int at = SectionEnd(header);
    while (at > header + 1 && FLines[at - 1].trimmed().isEmpty())
      --at;
    FLines.insert(at, entry);
  } else {
    if (!FLines.isEmpty() && !FLines.last().trimmed().isEmpty())
      FLines.append(QString());
    FLines.append(QLatin1Char('[') + Section.trimmed() + QLatin1Char(']'));
    FLines.append(entry);
  }
  if (Save())
    return true;
  FLines = before;
  return false;
}

bool TIniFile::WriteInteger(const QString& Section, const QString& Ident, int Value)
{
  return WriteString(Section, Ident, QString::number(Value));
}

bool TIniFile::WriteBool(const QString& Section, const QString& Ident, bool Value)
{
  return WriteInteger(Section, Ident, Value ? 1 : 0);
}

bool TIniFile::Save()
{
  QSaveFile file(FFileName);
  const QByteArray bytes = (FLines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
  if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
    return true;
  FLastErrMsg = QStringLiteral("Cannot save %1: %2").arg(FFileName, file.errorString());
  return false;
}
