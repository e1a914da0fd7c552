#include "U_CreateSwfThread.h"

#include "FFBaseComponent.h"
#include "U_Config.h"
#include "U_Converting.h"
#include "VelLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QUrl>

#include <cerrno>
#include <cstring>

namespace {

// Where the settings source and its compiled movie are written: the program's templates folder,
// or the user's private scratch folder when the program folder cannot be written.
QString TemplatesFolder() {
  const TDataPlaces places = DataPlaces();
  return places.BesideProgram ? ProgramFolder() + QStringLiteral("templates/")
                              : WithSlash(places.Scratch);
}

QString ToolFailure(const QString& Tool, const TProcessResult& Result) {
  QString reason;
  if (!Result.Started)
    reason = QStringLiteral("could not be started");
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

QString HtmlEscaped(const QString& Text) { return Text.toHtmlEscaped(); }

// A file beside the page as an address relative to it: in an address "#", "%", "?" and blanks
// mean something else than in a file name.
QByteArray RelativeAddress(const QString& FileName) { return QUrl::toPercentEncoding(FileName); }

}  // namespace

TProcessResult TQProcessRunner::Run(const QString& Program, const QStringList& Arguments,
                                    int TimeLimitMs) {
  QProcess process;
  process.setProcessChannelMode(QProcess::SeparateChannels);
  process.setStandardOutputFile(QProcess::nullDevice());
  process.start(Program, Arguments, QIODevice::ReadOnly);
  TProcessResult result;
  result.Started = process.waitForStarted(-1);
  if (!result.Started) {
    result.ErrorOutput = process.errorString();
    return result;
  }
  if (!process.waitForFinished(TimeLimitMs)) {
    result.TimedOut = true;
    process.kill();
    process.waitForFinished(-1);
  }
  result.ErrorOutput = QString::fromLocal8Bit(process.readAllStandardError());
  if (process.exitStatus() == QProcess::CrashExit && !result.TimedOut)
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
  return job;
}

QString SwfDataToolPath() { return ProgramFolder() + QStringLiteral("LibAV/swfdata.dll"); }
QString SkinToolPath() { return ProgramFolder() + QStringLiteral("LibAV/mskin.dll"); }

TProcessResult CompileSwfData(IProcessRunner& Runner, const QString& Source,
                              const QString& Output) {
  return Runner.Run(
      SwfDataToolPath(),
      {QStringLiteral("-X"), QStringLiteral("400"), QStringLiteral("-Y"), QStringLiteral("400"),
       QStringLiteral("-T"), QStringLiteral("9"), Source, QStringLiteral("-o"), Output},
      ToolTimeLimitMs);
}

bool AddSkinSwf(const TPackagingJob& Job, IProcessRunner& Runner, QString* Error) {
  const QString swf = Job.Folder + Job.Name + QStringLiteral(".swf");
  // Beside the SWF under a name of its own: a user's file is never taken for it, and one left
  // by a killed run is swept later.
  TTemporaryFile scratch;
  if (!scratch.Create(QFile::encodeName(swf).toStdString()))
    return Fail(Error, QStringLiteral("Cannot write into \"%1\": %2")
                           .arg(Job.Folder, QString::fromLocal8Bit(std::strerror(errno))));
  const QString scratchName = QFile::decodeName(scratch.Name().c_str());
  const QString source = TemplatesFolder() + QStringLiteral("SWFData.dat");
  const QString compiled = TemplatesFolder() + QStringLiteral("swfdata.swf");
  QFile::remove(source);
  std::string writeError;
  if (!GenerateSWFDataClass(Job.SWFData, QFile::encodeName(source).toStdString(), &writeError))
    return Fail(Error, QString::fromStdString(writeError));
  const TProcessResult compiledResult = CompileSwfData(Runner, source, compiled);
  if (!compiledResult.Succeeded())
    return Fail(Error, ToolFailure(QStringLiteral("swfdata.dll"), compiledResult));

  QStringList arguments{Job.Skin};
  if (!Job.SWFData.isflv) arguments << QStringLiteral("video=") + swf;
  arguments << QStringLiteral("swfdata=") + compiled << QStringLiteral("-X")
            << QString::number(Job.Width) << QStringLiteral("-Y") << QString::number(Job.Height)
            << QStringLiteral("-F") << QStringLiteral("9") << QStringLiteral("-o") << scratchName;
  const TProcessResult combined = Runner.Run(SkinToolPath(), arguments, ToolTimeLimitMs);
  if (!combined.Succeeded() || QFileInfo(scratchName).size() == 0)
    return Fail(Error, ToolFailure(QStringLiteral("mskin.dll"), combined));
  // In one step: there is never a moment without a SWF.
  std::string replaceError;
  return scratch.Commit(&replaceError) || Fail(Error, QString::fromStdString(replaceError));
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

bool CreateHtmlPage(const QString& Folder, const QString& Name, int Width, int Height,
                    QString* Error) {
  QSaveFile file(Folder + Name + QStringLiteral(".html"));
  if (file.open(QIODevice::WriteOnly) &&
      file.write(HtmlPageText(Name, Width, Height).toUtf8()) >= 0 && file.commit())
    return true;
  return Fail(Error,
              QStringLiteral("Cannot write \"%1\": %2").arg(file.fileName(), file.errorString()));
}

bool RunPackaging(const TPackagingJob& Job, IProcessRunner& Runner, QString* Error) {
  VelLog.WriteInfo(QStringLiteral("Start AddSkinswf"));
  QString error;
  bool ok = AddSkinSwf(Job, Runner, &error);
  VelLog.WriteInfo(QStringLiteral("End AddSkinswf"));
  if (ok && Job.Html) ok = CreateHtmlPage(Job.Folder, Job.Name, Job.Width, Job.Height, &error);
  if (!ok)
    VelLog.WriteError(QStringLiteral("Create: ") + Job.Name + QStringLiteral(".swf failed: ") +
                      error);
  if (Error) *Error = error;
  return ok;
}
