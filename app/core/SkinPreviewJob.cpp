#include "SkinPreviewJob.h"

#include "U_Config.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTimer>

TSkinPreviewJob::TSkinPreviewJob(const QString& ToolFolder, const QString& ScratchFolder,
                                 int TimeLimitMs, QObject* Parent)
    : QObject(Parent),
      FTools(ToolFolder),
      FScratch(ScratchFolder),
      FTimeLimit(TimeLimitMs),
      FTimer(new QTimer(this)) {
  FTimer->setSingleShot(true);
  connect(FTimer, &QTimer::timeout, this,
          [this] { Fail(QStringLiteral("the tool took too long")); });
}

TSkinPreviewJob::~TSkinPreviewJob() { Stop(); }

void TSkinPreviewJob::Start(const QString& Skin, const TSWFData& Settings, QSize Size) {
  Stop();
  if (!MakePrivateFolder(FScratch)) return Fail(QStringLiteral("cannot make ") + FScratch);
  const QString source = FScratch + QStringLiteral("SWFData.dat");
  const QString compiled = FScratch + QStringLiteral("swfdata.swf");
  QFile::remove(source);
  std::string error;
  if (!GenerateSWFDataClass(Settings, QFile::encodeName(source).toStdString(), &error))
    return Fail(QString::fromStdString(error));
  FCombine = {Skin,
              QStringLiteral("swfdata=") + compiled,
              QStringLiteral("-X"),
              QString::number(Size.width()),
              QStringLiteral("-Y"),
              QString::number(Size.height()),
              QStringLiteral("-F"),
              QStringLiteral("9"),
              QStringLiteral("-o"),
              FScratch + QStringLiteral("~Tmp.swf")};
  FStep = 0;
  Run(QStringLiteral("swfdata.dll"),
      {QStringLiteral("-X"), QStringLiteral("400"), QStringLiteral("-Y"), QStringLiteral("400"),
       QStringLiteral("-T"), QStringLiteral("9"), source, QStringLiteral("-o"), compiled});
}

void TSkinPreviewJob::Run(const QString& Tool, const QStringList& Arguments) {
  FProcess = new QProcess(this);
  FProcess->setProcessChannelMode(QProcess::MergedChannels);
  connect(FProcess, &QProcess::finished, this, &TSkinPreviewJob::StepDone);
  connect(FProcess, &QProcess::errorOccurred, this, [this](QProcess::ProcessError Error) {
    if (Error == QProcess::FailedToStart)
      Fail(FProcess->program() + QStringLiteral(": ") + FProcess->errorString());
  });
  FProcess->start(FTools + Tool, Arguments);
  FTimer->start(FTimeLimit);
}

void TSkinPreviewJob::StepDone() {
  FTimer->stop();
  const QString output = QString::fromLocal8Bit(FProcess->readAll()).trimmed();
  if (FProcess->exitStatus() != QProcess::NormalExit || FProcess->exitCode() != 0)
    return Fail(output.isEmpty() ? FProcess->program() + QStringLiteral(" failed") : output);
  FProcess->deleteLater();
  FProcess = nullptr;
  if (++FStep == 1) return Run(QStringLiteral("mskin.dll"), FCombine);
  const QString movie = MovieFileName();
  QFile::remove(movie);
  if (!QFile::rename(FCombine.last(), movie)) return Fail(QStringLiteral("cannot write ") + movie);
  emit Finished(movie, QString());
}

void TSkinPreviewJob::Fail(const QString& Error) {
  Stop();
  emit Finished(QString(), Error);
}

void TSkinPreviewJob::Stop() {
  FTimer->stop();
  if (!FProcess) return;
  QProcess* process = std::exchange(FProcess, nullptr);
  process->disconnect(this);
  process->kill();
  process->waitForFinished();
  process->deleteLater();
}
