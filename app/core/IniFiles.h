// Settings files in the classic INI form: "[Section]" headers and "Key=Value" lines.
// Sections and keys match case-insensitively, values are stored as written (no quoting
// or escaping), and every change is saved to disk at once, atomically.
// The file is handled as bytes, as the user or another system wrote it: a save changes
// only the line of the key it stores (or adds one), and every other line, comment, blank
// line, byte-order mark and line end stays byte for byte. Text that is not UTF-8 (a file
// from a Latin-1 system) reads as Latin-1, so no letter is lost. A value equal to the one
// stored is not written again.
// A file that cannot be taken for a settings file (a picture, an XML file, a stray line
// that is neither a section, a key nor a comment) is never written: Problem() says why.
// Reading stays lenient and takes what it can from such a file.
// The object keeps no copy of the file: each read and each write works on the file as
// it is on disk, so two objects on one file (or an edit by hand) never undo each other.
#pragma once

#include <QString>

class TIniFile {
 public:
  // A missing file reads as empty and is created, with LF line ends, by the first write.
  explicit TIniFile(const QString& FileName);

  QString ReadString(const QString& Section, const QString& Ident, const QString& Default) const;
  // A value that is not a whole decimal number reads as the default.
  int ReadInteger(const QString& Section, const QString& Ident, int Default) const;
  // Stored as 1 and 0; any number other than 0 reads as true.
  bool ReadBool(const QString& Section, const QString& Ident, bool Default) const;

  // Each returns false, keeps the file as it was and sets LastErrMsg when the change
  // cannot be stored (or the file exists but cannot be read, or has a Problem).
  bool WriteString(const QString& Section, const QString& Ident, const QString& Value);
  bool WriteInteger(const QString& Section, const QString& Ident, int Value);
  bool WriteBool(const QString& Section, const QString& Ident, bool Value);

  // Why the file cannot be taken for a settings file (and so is never written); empty for
  // a settings file and for a missing one.
  QString Problem() const;

  const QString& FileName() const { return FFileName; }
  const QString& LastErrMsg() const { return FLastErrMsg; }

 private:
  QString FFileName;
  QString FLastErrMsg;
};
