// The packaging step of a finished entry: its player settings compiled by "swfdata.dll",
// combined with the skin (and the video SWF, when the SWF embeds the video) by "mskin.dll"
// into the entry's SWF, and the HTML page beside it. The tools run as processes with an
// argument list, so no file name is ever parsed by a shell or cut to a length.
#pragma once

#include "U_FileOption.h"

#include <QString>
#include <QStringList>

// How a tool run ended.
struct TProcessResult {
  bool Started = false;
  bool TimedOut = false;
  int ExitCode = -1;
  QString ErrorOutput;  // what the tool wrote on stderr
  bool Succeeded() const { return Started && !TimedOut && ExitCode == 0; }
};

class IProcessRunner {
 public:
  virtual ~IProcessRunner() = default;
  // Runs the program hidden and waits at most TimeLimitMs for its end.
  virtual TProcessResult Run(const QString& Program, const QStringList& Arguments,
                             int TimeLimitMs) = 0;
};

// QProcess; a tool that outlives its limit is killed.
class TQProcessRunner : public IProcessRunner {
 public:
  TProcessResult Run(const QString& Program, const QStringList& Arguments,
                     int TimeLimitMs) override;
};

// How long one tool may take: combining a long embedded video is the slowest step.
inline constexpr int ToolTimeLimitMs = 10 * 60 * 1000;

// Everything the worker needs, taken from the entry on the main thread.
struct TPackagingJob {
  QString Folder;  // the output folder, with a trailing "/"
  QString Name;    // the output's base name
  QString Skin;    // path of the skin SWF
  int Width = 0;
  int Height = 0;
  TSWFData SWFData;  // the entry's settings with the video, its length and the skin's overrides
  bool Html = false;
};

// The job of a finished entry. The entry itself is left as it is: the "None" skin's
// autohide and autoplay, and the video's name and length, go into the job's copy only.
TPackagingJob PackagingJobOf(const TFileOption& Entry);

// The tools in the program folder's "LibAV", the settings source and its SWF in its
// "templates" folder.
QString SwfDataToolPath();
QString SkinToolPath();

// Compiles the settings source into a settings SWF.
TProcessResult CompileSwfData(IProcessRunner& Runner, const QString& Source, const QString& Output);

// Writes the settings, compiles them and combines everything into "<Name>.swf". The SWF that
// was there (in embedding mode, the conversion itself) is replaced only by a complete new
// one. False with the reason in Error.
bool AddSkinSwf(const TPackagingJob& Job, IProcessRunner& Runner, QString* Error);

// The page's text, with the name escaped for HTML and the movie's address URL-encoded.
QString HtmlPageText(const QString& Name, int Width, int Height);
// Writes "<Name>.html" into the folder. False with the reason in Error.
bool CreateHtmlPage(const QString& Folder, const QString& Name, int Width, int Height,
                    QString* Error);

// The worker's whole run, logged: the SWF, then the page when asked and the SWF exists.
// False (and logged) when anything failed.
bool RunPackaging(const TPackagingJob& Job, IProcessRunner& Runner, QString* Error = nullptr);
