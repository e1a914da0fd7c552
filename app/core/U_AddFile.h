// Adding files to the list: the open-file dialog's filters, the probing of the chosen files on
// a worker (opening a file may take long and must not stall the window), and the summary the
// user gets when some of them could not be opened.
#pragma once

#include "U_Treelist.h"

#include <QStringList>

#include <functional>
#include <thread>

// The dialog's filters, "Label (masks)": every mask matches its extension in any letter case.
QStringList OpenFileFilters();
// "*.MP4" becomes "*.[mM][pP]4".
QString AnyCaseMask(const QString& Mask);

// The warning after adding Total files of which the named ones failed.
QString AddFilesSummary(int Total, const QStringList& Failed);

// Opens each file in turn on its own thread and hands the result to OnProbed (called on that
// thread, in the files' order). Destroying the prober waits until every file has been seen.
class TFileProber {
 public:
  using TProbedEvent = std::function<void(int Index, const TProbedFile& File)>;

  TFileProber(QStringList Files, TProbedEvent OnProbed);
  ~TFileProber();
  TFileProber(const TFileProber&) = delete;
  TFileProber& operator=(const TFileProber&) = delete;

 private:
  void Run(QStringList Files, TProbedEvent OnProbed);

  std::thread FThread;
};
