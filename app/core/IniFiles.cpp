#include "IniFiles.h"

#include <QFile>
#include <QList>
#include <QSaveFile>
#include <QStringDecoder>

#include <algorithm>
#include <optional>

namespace {

// Far larger than any settings file; what is larger is no settings file, and is not read
// into memory (it may not even end).
constexpr qint64 MaxSettingsFileSize = 1024 * 1024;
const QByteArray ByteOrderMark = "\xEF\xBB\xBF";

struct TLine {
  QByteArray Text;  // without its line end
  QByteArray End;   // "\n", "\r\n", or empty for a last line without one
};

// A settings file as the bytes it holds.
struct TIniText {
  QByteArray Head;  // a byte-order mark, kept as it was
  QList<TLine> Lines;

  QByteArray Bytes() const {
    QByteArray bytes = Head;
    for (const TLine& line : Lines) bytes += line.Text + line.End;
    return bytes;
  }

  // New lines end as the file's first line does.
  QByteArray LineEnd() const {
    for (const TLine& line : Lines)
      if (line.End.endsWith('\n')) return line.End;
    return QByteArrayLiteral("\n");
  }

  void Insert(qsizetype At, const QByteArray& Text) {
    if (At == Lines.size() && !Lines.isEmpty() && Lines.last().End.isEmpty())
      Lines.last().End = LineEnd();
    Lines.insert(At, TLine{Text, LineEnd()});
  }
};

TIniText ParseText(QByteArray Bytes) {
  TIniText text;
  if (Bytes.startsWith(ByteOrderMark)) {
    text.Head = ByteOrderMark;
    Bytes.remove(0, ByteOrderMark.size());
  }
  for (qsizetype start = 0; start < Bytes.size();) {
    const qsizetype lf = Bytes.indexOf('\n', start);
    const qsizetype end = lf < 0 ? Bytes.size() : lf;
    TLine line{Bytes.mid(start, end - start), lf < 0 ? QByteArray() : QByteArrayLiteral("\n")};
    if (line.Text.endsWith('\r')) {
      line.Text.chop(1);
      line.End.prepend('\r');
    }
    text.Lines.append(line);
    start = end + 1;
  }
  return text;
}

// UTF-8, or Latin-1 for text that is not UTF-8: every byte stays a letter of its own.
QString Decode(const QByteArray& Bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8);
  const QString text = utf8(Bytes);
  return utf8.hasError() ? QString::fromLatin1(Bytes) : text;
}

bool IsComment(const QByteArray& Trimmed) {
  return Trimmed.startsWith(';') || Trimmed.startsWith('#');
}

// The name inside "[...]", or nothing for any other line.
std::optional<QByteArray> SectionName(const QByteArray& Line) {
  const QByteArray trimmed = Line.trimmed();
  const qsizetype close = trimmed.indexOf(']');
  if (!trimmed.startsWith('[') || close < 0) return std::nullopt;
  return trimmed.mid(1, close - 1).trimmed();
}

// The key of a "Key=Value" line, or nothing for any other line.
std::optional<QByteArray> KeyName(const QByteArray& Line) {
  const QByteArray trimmed = Line.trimmed();
  const qsizetype equals = trimmed.indexOf('=');
  if (equals <= 0 || IsComment(trimmed)) return std::nullopt;
  return trimmed.left(equals).trimmed();
}

// Where the value of a key line starts: after the equals sign and the blanks behind it.
qsizetype ValueStart(const QByteArray& Line) {
  qsizetype at = Line.indexOf('=') + 1;
  while (at < Line.size() && (Line[at] == ' ' || Line[at] == '\t')) ++at;
  return at;
}

QString ValueOf(const QByteArray& Line) { return Decode(Line.mid(ValueStart(Line)).trimmed()); }

bool SameName(const std::optional<QByteArray>& Name, const QString& Wanted) {
  return Name && Decode(*Name).compare(Wanted.trimmed(), Qt::CaseInsensitive) == 0;
}

bool IsControl(QChar Letter) { return Letter.unicode() < 0x20 && Letter != QLatin1Char('\t'); }
bool IsControl(char Byte) { return static_cast<uchar>(Byte) < 0x20 && Byte != '\t'; }

template <typename TText>
bool HasControl(const TText& Text) {
  return std::any_of(Text.begin(), Text.end(), [](auto Letter) { return IsControl(Letter); });
}

// What the file's layout cannot hold without changing its meaning.
QString InvalidEntryReason(const QString& Section, const QString& Ident, const QString& Value) {
  if (HasControl(Section) || HasControl(Ident) || HasControl(Value))
    return QStringLiteral(
        "Line breaks and other control characters cannot be stored in a "
        "settings file.");
  if (Section.trimmed().isEmpty() || Section.contains(QLatin1Char(']')))
    return QStringLiteral("Invalid section name \"%1\".").arg(Section);
  if (Ident.trimmed().isEmpty() || Ident.contains(QLatin1Char('=')) ||
      IsComment(Ident.trimmed().toUtf8()))
    return QStringLiteral("Invalid key name \"%1\".").arg(Ident);
  return QString();
}

QString NoSettingsFile(const QString& FileName, const QString& Why) {
  return QStringLiteral("%1 is not a settings file: %2.").arg(FileName, Why);
}

// The file as it is; a missing file has no lines. Nothing when the file exists but cannot
// be read, or is too large to be a settings file, with the reason in Error.
std::optional<TIniText> ReadText(const QString& FileName, QString& Error) {
  QFile file(FileName);
  if (!file.exists()) return TIniText();
  if (!file.open(QIODevice::ReadOnly)) {
    Error = QStringLiteral("Cannot read %1: %2").arg(FileName, file.errorString());
    return std::nullopt;
  }
  const QByteArray bytes = file.read(MaxSettingsFileSize + 1);
  if (bytes.size() > MaxSettingsFileSize) {
    Error = NoSettingsFile(FileName, QStringLiteral("it is larger than 1 MB"));
    return std::nullopt;
  }
  return ParseText(bytes);
}

bool IsStray(const QByteArray& Line) {
  const QByteArray trimmed = Line.trimmed();
  return !trimmed.isEmpty() && !IsComment(trimmed) && !SectionName(Line) && !trimmed.contains('=');
}

// The number of the first line that fails the test, or 0.
template <typename TTest>
qsizetype FirstLine(const TIniText& Text, TTest Fails) {
  for (qsizetype i = 0; i < Text.Lines.size(); ++i)
    if (Fails(Text.Lines[i].Text)) return i + 1;
  return 0;
}

// Why the text is no settings file, or empty. Binary data anywhere tells more than a stray
// line before it.
QString TextProblem(const QString& FileName, const TIniText& Text) {
  if (const qsizetype binary = FirstLine(Text, HasControl<QByteArray>))
    return NoSettingsFile(FileName, QStringLiteral("line %1 holds binary data").arg(binary));
  if (const qsizetype stray = FirstLine(Text, IsStray))
    return NoSettingsFile(
        FileName, QStringLiteral("line %1 is neither a section, a key nor a comment").arg(stray));
  return QString();
}

qsizetype FindSection(const QList<TLine>& Lines, const QString& Section) {
  for (qsizetype i = 0; i < Lines.size(); ++i)
    if (SameName(SectionName(Lines[i].Text), Section)) return i;
  return -1;
}

qsizetype SectionEnd(const QList<TLine>& Lines, qsizetype Header) {
  qsizetype i = Header + 1;
  while (i < Lines.size() && !SectionName(Lines[i].Text)) ++i;
  return i;
}

// The line of the key in the section, or -1.
qsizetype FindKey(const QList<TLine>& Lines, const QString& Section, const QString& Ident) {
  const qsizetype header = FindSection(Lines, Section);
  if (header < 0) return -1;
  const qsizetype end = SectionEnd(Lines, header);
  for (qsizetype i = header + 1; i < end; ++i)
    if (SameName(KeyName(Lines[i].Text), Ident)) return i;
  return -1;
}

void PutEntry(TIniText& Text, const QString& Section, const QString& Ident, const QString& Value,
              qsizetype KeyLine) {
  if (KeyLine >= 0) {
    QByteArray& line = Text.Lines[KeyLine].Text;
    line = line.left(ValueStart(line)) + Value.toUtf8();
    return;
  }
  const QByteArray entry = Ident.trimmed().toUtf8() + '=' + Value.toUtf8();
  const qsizetype header = FindSection(Text.Lines, Section);
  if (header >= 0) {
    // After the section's last entry, before the blank lines that part it from the next.
    qsizetype at = SectionEnd(Text.Lines, header);
    while (at > header + 1 && Text.Lines[at - 1].Text.trimmed().isEmpty()) --at;
    Text.Insert(at, entry);
    return;
  }
  if (!Text.Lines.isEmpty() && !Text.Lines.last().Text.trimmed().isEmpty())
    Text.Insert(Text.Lines.size(), QByteArray());
  Text.Insert(Text.Lines.size(), '[' + Section.trimmed().toUtf8() + ']');
  Text.Insert(Text.Lines.size(), entry);
}

bool Save(const QString& FileName, const QByteArray& Bytes, QString& Error) {
  QSaveFile file(FileName);
  if (file.open(QIODevice::WriteOnly) && file.write(Bytes) == Bytes.size() && file.commit())
    return true;
  Error = QStringLiteral("Cannot save %1: %2").arg(FileName, file.errorString());
  return false;
}

}  // namespace

TIniFile::TIniFile(const QString& FileName) : FFileName(FileName) {}

QString TIniFile::ReadString(const QString& Section, const QString& Ident,
                             const QString& Default) const {
  QString error;
  const std::optional<TIniText> text = ReadText(FFileName, error);
  const qsizetype line = text ? FindKey(text->Lines, Section, Ident) : -1;
  return line < 0 ? Default : ValueOf(text->Lines[line].Text);
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
  std::optional<TIniText> text = ReadText(FFileName, FLastErrMsg);
  if (!text) return false;
  FLastErrMsg = TextProblem(FFileName, *text);
  if (!FLastErrMsg.isEmpty()) {
    FLastErrMsg += QStringLiteral(" It is kept as it is, and the setting is not saved.");
    return false;
  }
  const qsizetype keyLine = FindKey(text->Lines, Section, Ident);
  if (keyLine >= 0 && ValueOf(text->Lines[keyLine].Text) == Value) return true;
  PutEntry(*text, Section, Ident, Value, keyLine);
  return Save(FFileName, text->Bytes(), FLastErrMsg);
}

bool TIniFile::WriteInteger(const QString& Section, const QString& Ident, int Value) {
  return WriteString(Section, Ident, QString::number(Value));
}

bool TIniFile::WriteBool(const QString& Section, const QString& Ident, bool Value) {
  return WriteInteger(Section, Ident, Value ? 1 : 0);
}

QString TIniFile::Problem() const {
  QString error;
  const std::optional<TIniText> text = ReadText(FFileName, error);
  return text ? TextProblem(FFileName, *text) : error;
}
