// Adding files to the list: the open-file dialog's filters, the probing of the chosen files on
// a worker (opening a file may take long and must not stall the window, and the user may give
// it up), and the summary the user gets when some of them could not be added.
#pragma once

#include "U_Treelist.h"

#include <QDir>
#include <QStringList>

#include <functional>
#include <memory>

// The dialog's filters, "Label (masks)": every mask matches its extension in any letter case.
QStringList OpenFileFilters();
// "*.MP4" becomes "*.[mM][pP]4".
QString AnyCaseMask(const QString& Mask);

// The files named in the file dialog's name box, as the dialog shows them: several in quotes
// ("a.mp4" "b.mp3", a name holding quotes of its own) or one as it stands, each relative to
// Folder unless absolute, with a leading "~" or "~user" standing for that home folder.
QStringList TypedFilePaths(const QString& Text, const QDir& Folder);

// The warning after adding Total files of which the named ones failed ("name (reason)" lines)
// and NotAdded were never tried, the adding having been cancelled.
QString AddFilesSummary(int Total, const QStringList& Failed, int NotAdded = 0);
// The summary's line for a file that could not be added: its name and why.
QString FailedFileLine(const TProbedFile& File);

// Opens each file in turn on a thread of its own and hands the result to OnProbed (called on
// that thread, in the files' order). The thread is never waited for: Cancel, or destroying the
// prober, gives up the file being opened, no OnProbed starts once it has returned, and the
// thread ends on its own soon after (within the decoder's time limit at the latest).
class TFileProber {
 public:
  using TProbedEvent = std::function<void(int Index, const TProbedFile& File)>;
  using TProbe = std::function<TProbedFile(TCustomDecoder& Decoder, const QString& FileName)>;

  TFileProber(QStringList Files, TProbedEvent OnProbed, TProbe Probe = ProbeMediaFile);
  ~TFileProber();
  TFileProber(const TFileProber&) = delete;
  TFileProber& operator=(const TFileProber&) = delete;

  // Any thread.
  void Cancel();

 private:
  struct TState;
  static void Run(std::shared_ptr<TState> State);

  std::shared_ptr<TState> FState;
};

// Waits until the thread of every prober has ended, at most Milliseconds; false when one still
// runs. The libraries must stay loaded while one runs: for the program's exit.
bool WaitForFileProbers(int Milliseconds);
