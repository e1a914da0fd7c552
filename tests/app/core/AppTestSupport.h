// Shared by the application tests: scratch folders and log reading.
#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/resource.h>

// A fresh folder under the test work folder, removed at the end of the test.
// The name holds a blank, accented Latin and CJK letters, so that every path the tests
// use does too: the program tests run the real program from such a folder.
class TScratchFolder {
 public:
  TScratchFolder();
  QString Path() const { return FDir.path(); }
  QString File(const QString& Name) const { return FDir.filePath(Name); }

 private:
  QTemporaryDir FDir;
};

void WriteTextFile(const QString& FileName, const QByteArray& Content);
QByteArray ReadTextFile(const QString& FileName);
// The file's lines without their LF ends.
QStringList ReadLines(const QString& FileName);

// "YYYY-MM-DD HH:NN:SS" followed by the given blanks, as a regular expression.
QString StampPattern(const QString& Blanks);

// What no file may be read from: a named pipe "pipe.mp4" (opening it waits for a writer) and a
// link "zero.dv" to /dev/zero (it never ends), made in the folder. Test failures when they
// cannot be made.
struct TSpecialFiles {
  QString Pipe, Zero;
};
TSpecialFiles MakeSpecialFiles(const TScratchFolder& Folder);

// The descriptors this process holds open.
int OpenDescriptors();

// Lowers the soft limit of open files, for as long as it lives, to the lowest under which Free
// more descriptors can be opened.
class TFileLimit {
 public:
  explicit TFileLimit(int Free);
  ~TFileLimit();

 private:
  rlimit FSaved{};
};
