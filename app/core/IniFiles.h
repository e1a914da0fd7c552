// Settings files in the classic INI form: "[Section]" headers and "Key=Value" lines.
// Sections and keys match case-insensitively, values are stored as written (no quoting
// or escaping), and every change is saved to disk at once, atomically, with LF line
// ends. Comments, blank lines and the order of the file survive a save.
// The object keeps no copy of the file: each read and each write works on the file as
// it is on disk, so two objects on one file (or an edit by hand) never undo each other.
#pragma once

#include <QString>
#include <QStringList>

class TIniFile {
 public:
  // A missing file reads as empty and is created by the first write.
  explicit TIniFile(const QString& FileName);

  QString ReadString(const QString& Section, const QString& Ident, const QString& Default) const;
  // A value that is not a whole decimal number reads as the default.
  int ReadInteger(const QString& Section, const QString& Ident, int Default) const;
  // Stored as 1 and 0; any number other than 0 reads as true.
  bool ReadBool(const QString& Section, const QString& Ident, bool Default) const;

  // Each returns false, keeps the file as it was and sets LastErrMsg when the change
  // cannot be stored (or the file exists but cannot be read).
  bool WriteString(const QString& Section, const QString& Ident, const QString& Value);
  bool WriteInteger(const QString& Section, const QString& Ident, int Value);
  bool WriteBool(const QString& Section, const QString& Ident, bool Value);

  const QString& FileName() const { return FFileName; }
  const QString& LastErrMsg() const { return FLastErrMsg; }

 private:
  bool Save(const QStringList& Lines);

  QString FFileName;
  QString FLastErrMsg;
};
