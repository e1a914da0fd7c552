#include "U_CreateSwfThread.h"

#include "FFBaseComponent.h"
#include "U_Config.h"
#include "U_Converting.h"
#include "VelLog.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// How often a waiting run looks whether it was cancelled.
constexpr int CancelCheckMs = 50;

QString ToolFailure(const QString& Tool, const TProcessResult& Result) {
  QString reason;
  if (!Result.Started)
    reason = QStringLiteral("could not be started");
  else if (Result.Cancelled)
    reason = QStringLiteral("was cancelled");
  else if (Result.TimedOut)
    reason = QStringLiteral("took too long and was stopped");
  else
    reason = QStringLiteral("ended with code %1").arg(Result.ExitCode);
  const QString output = Result.ErrorOutput.trimmed();
  return Tool + QLatin1Char(' ') + reason +
         (output.isEmpty() ? QString() : QStringLiteral(": ") + output);
}

bool Fail(QString* Error, const QString& Text) {
  if (Error) *Error = Text;
  return false;
}

// The file `Name` of the open folder, opened for reading, never through a link.
bool OpenInFolder(QFile& File, int Folder, const QString& Name) {
  const int handle =
      ::openat(Folder, EncodedName(Name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (handle < 0) return false;
  if (File.open(handle, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) return true;
  ::close(handle);
  return false;
}

// Writes the bytes into the new file `Name` of the open folder: empty, or why it could not.
QString WriteInFolder(int Folder, const QString& Name, const QByteArray& Bytes) {
  const int handle = ::openat(Folder, EncodedName(Name).c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (handle < 0) return QString::fromLocal8Bit(std::strerror(errno));
  QFile file;
  if (!file.open(handle, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
    ::close(handle);
    return file.errorString();
  }
  if (file.write(Bytes) != Bytes.size() || !file.flush()) return file.errorString();
  return {};
}

// A file as a path through one of this process's descriptors, which the tool inherits (see
// TQProcessRunner) and so opens through its own descriptor of that number: no folder moved or
// linked on the way makes it name another file, and no process numbering (a /proc of another
// process namespace) makes it name another process's. Each tool is waited for, so the
// descriptor outlives the tool's use of it.
QString DescriptorPath(int Handle, const QString& Name = QString()) {
  const QString path = QStringLiteral("/dev/fd/%1").arg(Handle);
  return Name.isEmpty() ? path : path + QLatin1Char('/') + Name;
}

// The descriptors that the arguments name as "/dev/fd/<n>", anywhere in them.
std::vector<int> NamedDescriptors(const QStringList& Arguments) {
  static const QRegularExpression named(QStringLiteral("/dev/fd/(\\d+)"));
  std::vector<int> handles;
  for (const QString& argument : Arguments)
    for (auto match = named.globalMatch(argument); match.hasNext();)
      handles.push_back(match.next().captured(1).toInt());
  return handles;
}

// What a tool was to write into the scratch folder, opened into Output: a regular file there,
// not empty. A tool that said it succeeded but left no such file failed all the same.
bool OpenToolOutput(QFile& Output, const QString& Tool, const TProcessResult& Result,
                    const TTemporaryFolder& Scratch, const QString& Name, QString* Error) {
  if (!Result.Succeeded()) return Fail(Error, ToolFailure(Tool, Result));
  struct stat written {};
  if (OpenInFolder(Output, Scratch.Handle(), Name) && ::fstat(Output.handle(), &written) == 0 &&
      S_ISREG(written.st_mode) && written.st_size > 0)
    return true;
  return Fail(Error, Tool + QStringLiteral(" ended without writing ") +
                         DecodedName(Scratch.Name()) + QLatin1Char('/') + Name);
}

// "<What> <folder>[/<Name>]: <the system's reason>", the reason taken before anything else
// can change it.
QString SystemError(const QString& What, const TFolder& Folder, const QString& Name) {
  const QString reason = QString::fromLocal8Bit(std::strerror(errno));
  const QString path = DecodedName(Folder.Path());
  return What + QLatin1Char(' ') + (Name.isEmpty() ? path : path + QLatin1Char('/') + Name) +
         QStringLiteral(": ") + reason;
}

TFolder IntoFolder(const TPackagingJob& Job) {
  return Job.Into.IsOpen() ? Job.Into : TFolder(EncodedName(Job.Folder));
}

// Writes the source into a new file of the job's folder and gives it its name there.
bool CommitIntoFolder(const TPackagingJob& Job, const QString& FileName, bool Replaces,
                      QIODevice& Source, QString* Error) {
  TTemporaryFile file;
  QString error;
  if (!WriteTemporaryFile(file, IntoFolder(Job), FileName, Replaces, Source, &error))
    return Fail(Error, error);
  const std::string lost = file.CommitOrKeep("the new " + EncodedName(FileName));
  return lost.empty() || Fail(Error, DecodedName(lost));
}

// Text for the page, in ASCII alone: a server may send the page without naming a character set,
// and a browser then reads its bytes as whatever it guesses; a character reference reads the
// same under every ASCII-based character set.
QString HtmlEscaped(const QString& Text) {
  QString page;
  for (const char32_t c : Text.toHtmlEscaped().toUcs4())
    page += c < 0x80 ? QString(QLatin1Char(char(c))) : QStringLiteral("&#%1;").arg(uint(c));
  return page;
}

// A file beside the page as an address relative to it: in an address "#", "%", "?" and blanks
// mean something else than in a file name.
QByteArray RelativeAddress(const QString& FileName) { return QUrl::toPercentEncoding(FileName); }

}  // namespace

TProcessResult TQProcessRunner::Run(const QString& Program, const QStringList& Arguments,
                                    int TimeLimitMs, const std::atomic<bool>* Cancel) {
  QProcess process;
  // In the child alone, between fork and exec: the descriptors it is to read and write through
  // stay open in it; every other stays closed to it.
  process.setChildProcessModifier([handles = NamedDescriptors(Arguments)] {
    for (const int handle : handles) ::fcntl(handle, F_SETFD, 0);
  });
  process.setProcessChannelMode(QProcess::SeparateChannels);
  process.setStandardOutputFile(QProcess::nullDevice());
  process.start(Program, Arguments, QIODevice::ReadOnly);
  TProcessResult result;
  result.Started = process.waitForStarted(-1);
  if (!result.Started) {
    result.ErrorOutput = process.errorString();
    return result;
  }
  const QDeadlineTimer deadline(TimeLimitMs);
  while (process.state() != QProcess::NotRunning && !process.waitForFinished(CancelCheckMs)) {
    result.Cancelled = Cancel && *Cancel;
    result.TimedOut = !result.Cancelled && deadline.hasExpired();
    if (!result.Cancelled && !result.TimedOut) continue;
    process.kill();
    process.waitForFinished(-1);
  }
  result.ErrorOutput = QString::fromLocal8Bit(process.readAllStandardError());
  if (process.exitStatus() == QProcess::CrashExit && !result.TimedOut && !result.Cancelled)
    result.ErrorOutput += QStringLiteral(" (crashed)");
  result.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  return result;
}

TPackagingJob PackagingJobOf(const TFileOption& Entry) {
  const QFileInfo flv(FlvFileOf(Entry));
  TPackagingJob job;
  job.Folder = flv.absolutePath() + QLatin1Char('/');
  job.Name = flv.completeBaseName();
  job.Skin = Entry.PlayerSkin;
  const QSize size = OutputSizeOf(Entry);
  job.Width = size.width();
  job.Height = size.height();
  job.Html = Entry.GHtml;
  job.SWFData = Entry.SWFData;
  job.SWFData.videotime = uint32_t(std::max<int64_t>(0, Entry.Duration / 1000000));
  const bool embeds = EmbedsVideo(Entry);
  job.SWFData.isflv = !embeds;
  job.SWFData.videofile = embeds ? std::string() : RelativeAddress(flv.fileName()).toStdString();
  if (QFileInfo(Entry.PlayerSkin).fileName().contains(QStringLiteral("None"))) {
    job.SWFData.autohide = true;
    job.SWFData.autoplay = true;
  }
  job.ReplacesSwf = embeds;
  return job;
}

QString SwfDataToolPath() { return ProgramFolder() + QStringLiteral("LibAV/swfdata.dll"); }
QString SkinToolPath() { return ProgramFolder() + QStringLiteral("LibAV/mskin.dll"); }

TProcessResult CompileSwfData(IProcessRunner& Runner, const QString& Source, const QString& Output,
                              const std::atomic<bool>* Cancel) {
  return Runner.Run(
      SwfDataToolPath(),
      {QStringLiteral("-X"), QStringLiteral("400"), QStringLiteral("-Y"), QStringLiteral("400"),
       QStringLiteral("-T"), QStringLiteral("9"), Source, QStringLiteral("-o"), Output},
      ToolTimeLimitMs, Cancel);
}

bool AddSkinSwf(const TPackagingJob& Job, IProcessRunner& Runner, QString* Error,
                const std::atomic<bool>* Cancel) {
  const TFolder into = IntoFolder(Job);
  const QString swf = Job.Name + QStringLiteral(".swf");
  TTemporaryFolder scratch;
  if (!scratch.Create(into, EncodedName(swf)))
    return Fail(Error,
                SystemError(QStringLiteral("Cannot make a scratch folder in"), into, QString()));
  const QString source = DescriptorPath(scratch.Handle(), QStringLiteral("SWFData.dat"));
  std::string writeError;
  if (!GenerateSWFDataClass(Job.SWFData, EncodedName(source), &writeError))
    return Fail(Error, QString::fromStdString(writeError));
  const QString compiled = QStringLiteral("swfdata.swf");
  QFile settings;
  if (!OpenToolOutput(
          settings, QStringLiteral("swfdata.dll"),
          CompileSwfData(Runner, source, DescriptorPath(scratch.Handle(), compiled), Cancel),
          scratch, compiled, Error))
    return false;

  QStringList arguments{Job.Skin};
  QFile video;
  if (!Job.SWFData.isflv) {
    if (!OpenInFolder(video, into.Handle(), swf))
      return Fail(Error, SystemError(QStringLiteral("Cannot read"), into, swf));
    arguments << QStringLiteral("video=") + DescriptorPath(video.handle());
  }
  arguments << QStringLiteral("swfdata=") + DescriptorPath(scratch.Handle(), compiled);
  // An embedded video shows its own first picture while it waits.
  if (Job.SWFData.isflv && !Job.Poster.isEmpty()) {
    const QString poster = QStringLiteral("poster.jpg");
    if (const QString why = WriteInFolder(scratch.Handle(), poster, Job.Poster); !why.isEmpty())
      return Fail(Error, QStringLiteral("Cannot write %1/%2: %3")
                             .arg(DecodedName(scratch.Name()), poster, why));
    arguments << QStringLiteral("poster=") + DescriptorPath(scratch.Handle(), poster);
  }
  const QString combined = QStringLiteral("~Tmp.swf");
  arguments            << QStringLiteral("-X") << QString::number(Job.Width) << QStringLiteral("-Y")
            << QString::number(Job.Height) << QStringLiteral("-F") << QStringLiteral("9")
            << QStringLiteral("-o") << DescriptorPath(scratch.Handle(), combined);
  QFile movie;
  if (!OpenToolOutput(movie, QStringLiteral("mskin.dll"),
                      Runner.Run(SkinToolPath(), arguments, ToolTimeLimitMs, Cancel), scratch,
                      combined, Error))
    return false;
  return CommitIntoFolder(Job, swf, Job.ReplacesSwf, movie, Error);
}

QString HtmlPageText(const QString& Name, int Width, int Height) {
  const QString name = HtmlEscaped(Name);
  const QString movie =
      HtmlEscaped(QString::fromLatin1(RelativeAddress(Name + QStringLiteral(".swf"))));
  const QString w = QString::number(Width), h = QString::number(Height);
  const QStringList lines{
      QStringLiteral("<html>"),
      QStringLiteral("<title>") + name + QStringLiteral("</title>"),
      QStringLiteral("<body>"),
      QStringLiteral("<table width=\"100%\" height=\"100%\">"),
      QStringLiteral("<tr>"),
      QStringLiteral("<td>"),
      QStringLiteral("<center>"),
      QStringLiteral("<object classid=\"CLSID:D27CDB6E-AE6D-11cf-96B8-444553540000\""),
      QStringLiteral("codebase=\"http://download.macromedia.com/pub/shockwave/cabs/flash/"
                     "swflash.cab#version=8,0,0,0\""),
      QStringLiteral("Width=\"%1\"Height=\"%2\">").arg(w, h),
      QStringLiteral("<param name=\"movie\" value=\"%1\">").arg(movie),
      QStringLiteral("<param name=\"quality\" value=\"high\">"),
      QStringLiteral("<param name=\"bgcolor\" value=\"#000000\">"),
      QStringLiteral("<param name=\"allowScriptAccess\" value=\"always\" >"),
      QStringLiteral("<param name=\"allowFullScreen\" value=\"True\" >"),
      QStringLiteral("<embed src=\"%1\" quality=\"high\" width=\"%2\" height=\"%3\" ")
          .arg(movie, w, h),
      QStringLiteral("allowScriptAccess=\"always\" type=\"application/x-shockwave-flash\" "),
      QStringLiteral("pluginspage=\"http://www.macromedia.com/go/getflashplayer\" "
                     "allowfullscreen=\"true\">"),
      QStringLiteral("</object>"),
      QStringLiteral("</center>"),
      QStringLiteral("</td>"),
      QStringLiteral("</tr>"),
      QStringLiteral("</body>"),
      QStringLiteral("</html>")};
  return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

bool CreateHtmlPage(const TPackagingJob& Job, QString* Error) {
  QByteArray text = HtmlPageText(Job.Name, Job.Width, Job.Height).toUtf8();
  QBuffer page(&text);
  page.open(QIODevice::ReadOnly);
  return CommitIntoFolder(Job, Job.Name + QStringLiteral(".html"), Job.ReplacesPage, page, Error);
}

bool RunPackaging(const TPackagingJob& Job, IProcessRunner& Runner, QString* Error,
                  const std::atomic<bool>* Cancel) {
  VelLog.WriteInfo(QStringLiteral("Start AddSkinswf"));
  // The SWF and the page in one folder, whatever happens to its path meanwhile.
  TPackagingJob job = Job;
  job.Into = IntoFolder(Job);
  QString error;
  QString failed = Job.Name + QStringLiteral(".swf");
  bool ok = AddSkinSwf(job, Runner, &error, Cancel);
  VelLog.WriteInfo(QStringLiteral("End AddSkinswf"));
  if (ok && Job.Html) {
    failed = Job.Name + QStringLiteral(".html");
    ok = CreateHtmlPage(job, &error);
  }
  if (!ok) VelLog.WriteError(QStringLiteral("Create: ") + failed + QStringLiteral(" failed: ") + error);
  if (Error) *Error = ok ? QString() : failed + QStringLiteral(": ") + error;
  return ok;
}
