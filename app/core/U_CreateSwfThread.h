// The packaging step of a finished entry: its player settings compiled by "swfdata.dll",
// combined with the skin (and the video SWF, when the SWF embeds the video) by "mskin.dll"
// into the entry's SWF, and the HTML page beside it. The tools run as processes with an
// argument list, so no file name is ever parsed by a shell or cut to a length.
#pragma once

#include "FFBaseComponent.h"
#include "U_FileOption.h"

#include <QString>
#include <QStringList>

#include <atomic>

// How a tool run ended.
struct TProcessResult {
  bool Started = false;
  bool TimedOut = false;
  bool Cancelled = false;
  int ExitCode = -1;
  QString ErrorOutput;  // what the tool wrote on stderr
  bool Succeeded() const { return Started && !TimedOut && !Cancelled && ExitCode == 0; }
};

class IProcessRunner {
 public:
  virtual ~IProcessRunner() = default;
  // Runs the program hidden and waits at most TimeLimitMs for its end, or until Cancel (when
  // given) is set from another thread.
  virtual TProcessResult Run(const QString& Program, const QStringList& Arguments,
                             int TimeLimitMs, const std::atomic<bool>* Cancel) = 0;
};

// QProcess; a tool that outlives its limit or is cancelled is killed. Each descriptor of this
// process that an argument names as "/dev/fd/<n>" is the tool's too, under that number.
class TQProcessRunner : public IProcessRunner {
 public:
  TProcessResult Run(const QString& Program, const QStringList& Arguments, int TimeLimitMs,
                     const std::atomic<bool>* Cancel) override;
};

// How long one tool may take: combining a long embedded video is the slowest step.
inline constexpr int ToolTimeLimitMs = 10 * 60 * 1000;

// Everything the worker needs, taken from the entry on the main thread when the entry is chosen.
struct TPackagingJob {
  QString Folder;  // the output folder, with a trailing "/"
  // The folder the entry's files go to: the one the FLV was written in, wherever it is now (the
  // conversion plan sets it once the FLV is open; else Folder, opened when the files are made).
  TFolder Into;
  QString Name;    // the output's base name
  QString Skin;    // path of the skin SWF
  int Width = 0;
  int Height = 0;
  TSWFData SWFData;  // the entry's settings with the video, its length and the skin's overrides
  // The video's first picture as a JPEG (empty when none came): a SWF that streams the FLV
  // shows it until the viewer plays, as a stream shows a picture only by playing, sound and all.
  QByteArray Poster;
  bool Html = false;
  // The SWF and the page there may be replaced: the user let the run replace them when the
  // entry was chosen (the conversion plan says so), or the run wrote them. Any other is left
  // alone.
  bool ReplacesSwf = false;
  bool ReplacesPage = false;
};

// The entry's job as it stands now, allowed to replace only the SWF its conversion wrote (an
// embedding one). The entry itself is left as it is: the
// "None" skin's autohide and autoplay, and the video's name and length, go into the job's copy
// only.
TPackagingJob PackagingJobOf(const TFileOption& Entry);

// The tools in the program folder's "LibAV", the settings source and its SWF in its
// "templates" folder.
QString SwfDataToolPath();
QString SkinToolPath();

// Compiles the settings source into a settings SWF.
TProcessResult CompileSwfData(IProcessRunner& Runner, const QString& Source, const QString& Output,
                              const std::atomic<bool>* Cancel);

// Writes the settings, compiles them and combines everything (with the poster, for a SWF that
// streams) into "<Name>.swf", the tools' files in a scratch folder of this call's own in the job's folder (TTemporaryFolder: on the
// output's file system, two runs at once never share one, one a killed run left is swept). The
// tools reach every file they read or write through this process's open descriptors, never
// through a folder's path. The SWF that was there (in embedding mode, the conversion itself) is
// replaced only by a complete new one and only as the job allows; one that cannot take its name
// is kept beside it. False with the reason in Error.
bool AddSkinSwf(const TPackagingJob& Job, IProcessRunner& Runner, QString* Error,
                const std::atomic<bool>* Cancel);

// The page's text, all ASCII: the name escaped for HTML (other characters as references) and
// the movie's address URL-encoded.
QString HtmlPageText(const QString& Name, int Width, int Height);
// Writes "<Name>.html" into the job's folder as the SWF is written. False with the reason in
// Error.
bool CreateHtmlPage(const TPackagingJob& Job, QString* Error);

// The worker's whole run, logged: the SWF, then the page when asked and the SWF took its name.
// False (and logged) when anything failed, with Error naming the file that failed and why
// ("name.swf: ..."). Setting Cancel from another thread ends the run at once.
bool RunPackaging(const TPackagingJob& Job, IProcessRunner& Runner, QString* Error = nullptr,
                  const std::atomic<bool>* Cancel = nullptr);
