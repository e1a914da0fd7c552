// Builds the movie that previews a player skin: the settings compiled by "swfdata.dll" and
// combined with the skin by "mskin.dll", both from the program's "LibAV" folder. The tools
// run one after the other without blocking the caller, each within a time limit, and write
// only into the job's own scratch folder (the program folder may be read-only).
#pragma once

#include "uSWFData.h"

#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>

class QProcess;
class QTimer;

class TSkinPreviewJob : public QObject {
  Q_OBJECT

 public:
  TSkinPreviewJob(const QString& ToolFolder, const QString& ScratchFolder, int TimeLimitMs,
                  QObject* Parent = nullptr);
  ~TSkinPreviewJob() override;

  // Starts building; a build still running is abandoned and reports nothing.
  void Start(const QString& Skin, const TSWFData& Settings, QSize Size);
  bool Running() const { return FProcess != nullptr; }
  QString MovieFileName() const { return FScratch + QStringLiteral("Fennick.swf"); }

 signals:
  // The movie's path, or an empty path and the reason.
  void Finished(const QString& Movie, const QString& Error);

 private:
  void Run(const QString& Tool, const QStringList& Arguments);
  void StepDone();
  void Fail(const QString& Error);
  void Stop();

  QString FTools, FScratch;
  int FTimeLimit;
  QStringList FCombine;  // the second step's arguments
  int FStep = 0;
  QProcess* FProcess = nullptr;
  QTimer* FTimer;
};
