// The program's text log: one line per entry, "Log/log1.txt" for this run and up to
// nine older runs beside it.
#pragma once

#include <QString>

class TVelLog {
 public:
  // Keeps the path; creates the file empty when it does not exist yet.
  explicit TVelLog(const QString& FileName = QString());

  // Each entry opens, appends and closes the file, so a crash loses nothing written
  // before it. A failed write never stops the caller: it is reported on stderr once
  // until a later write succeeds again.
  // Any thread (the GUI thread, the conversion window's task building, the packaging worker).
  void WriteInfo(const QString& Text);
  void WriteError(const QString& Text);

  const QString& FileName() const { return FFileName; }

 private:
  void Write(const QString& Blanks, const QString& Text);
  void ReportFailure(const QString& Reason);

  QString FFileName;
  bool FFailing = false;
};

// The program's one log writer; it writes nowhere until InitVelLog has run.
extern TVelLog VelLog;

// Shifts "log1.txt" .. "log9.txt" of the folder up by one and deletes "log10.txt".
void RotateLogFiles(const QString& LogFolder);

// Start-up: makes the "Log" folder of the program folder, rotates the old logs and
// points VelLog at a fresh "Log/log1.txt".
void InitVelLog(const QString& ProgramFolder);
