#include "U_AddFile.h"

#include "FFDecode.h"

#include <QFile>
#include <QFileInfo>

#include <pwd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

struct TFilter {
  const char* Label;
  const char* Masks;
};

const TFilter Filters[] = {
    {"All Support Video Format",
     "*.3GP;*.2G2;*.ASF;*.WMB;*.AVI;*.AVM;*.AVS;*.DAT;*.FLV;*.MKV;*.MOV;*.MP4;*.MPEG;*.MPG;*.NSV;"
     "*.OGM;*.RM;*.RMVB;*.TP;*.TS;*.VOB;*.WMV;*.F4v;*.DV;"
     // The kinds the types below offer, and others the decoder reads as well, sound too.
     "*.MOD;*.TOD;*.QT;*.WEBM;*.OGV;*.OGG;*.M4V;*.MTS;*.M2TS;*.3G2;*.MXF;"
     "*.MP3;*.WAV;*.WMA;*.M4A;*.AAC;*.FLAC;*.OGA;*.OPUS;*.AC3"},
    {"AVI Video File(*.avi)", "*.AVI"},
    {"MPEG4 File(*.mp4)", "*.MP4"},
    {"MPEG File(*.mpg; *.mpeg)", "*.MPG;*.MPEG"},
    {"3GP File(*.3gp; *.2g2)", "*.3GP;*.2G2"},
    {"MOD File(*.mod)", "*.MOD"},
    {"TOD File(*.tod)", "*.TOD"},
    {"Real Media File(*.rm; *.rmvb)", "*.RM;*.RMVB"},
    {"Video CD File(*.dat)", "*.DAT"},
    {"Quick Time File(*.mov; *.qt)", "*.MOV; *.QT"},
    {"Flash Video File(*.flv; *.f4v)", "*.FLV;*.F4V"},
    {"MKV File(*.mkv)", "*.MKV"},
    {"Digital Video Files(*.dv)", "*.DV"},
    {"DVD File(*.vob)", "*.VOB"},
    {"High-definition File(*.ts)", "*.TS"},
    {"Nullsoft Stream File(*.nsv)", "*.NSV"},
    {"Advanced System File(*.asf)", "*.ASF"},
    {"All Files(*.*)", "*"},
};

}  // namespace

QString AnyCaseMask(const QString& Mask) {
  QString result;
  for (const QChar c : Mask) {
    if (c.isLetter() && c.toLower() != c.toUpper())
      result += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
    else
      result += c;
  }
  return result;
}

QStringList OpenFileFilters() {
  QStringList filters;
  for (const TFilter& filter : Filters) {
    QStringList masks;
    for (const QString& mask : QString::fromLatin1(filter.Masks).split(QLatin1Char(';')))
      masks << AnyCaseMask(mask.trimmed());
    filters << QString::fromLatin1(filter.Label) + QStringLiteral(" (") + masks.join(' ') + ')';
  }
  return filters;
}

namespace {

// "~/x" and "~user/x" as a shell reads them; a user unknown here leaves the name as it is.
QString ExpandedHome(const QString& Name) {
  if (!Name.startsWith(QLatin1Char('~'))) return Name;
  const qsizetype slash = Name.indexOf(QLatin1Char('/'));
  const QString user = Name.mid(1, slash < 0 ? -1 : slash - 1);
  const QString rest = slash < 0 ? QString() : Name.mid(slash);
  if (user.isEmpty()) return QDir::homePath() + rest;
  const passwd* entry = getpwnam(QFile::encodeName(user).constData());
  return entry ? QFile::decodeName(entry->pw_dir) + rest : Name;
}

QString TypedPath(const QString& Name, const QDir& Folder) {
  return QDir::cleanPath(Folder.absoluteFilePath(ExpandedHome(Name)));
}

// "one" "two" ...: a name ends at a quote followed by a blank or the end, so that it may hold
// quotes of its own. Where several quotes may end it, the first that makes it the name of a
// file that is there ends it, else the first.
QStringList QuotedNames(const QString& Text, const QDir& Folder) {
  QStringList names;
  for (qsizetype open = Text.indexOf(QLatin1Char('"')); open >= 0;) {
    const qsizetype start = open + 1;
    qsizetype end = -1;
    for (qsizetype quote = Text.indexOf(QLatin1Char('"'), start); quote >= 0;
         quote = Text.indexOf(QLatin1Char('"'), quote + 1)) {
      if (quote + 1 < Text.size() && !Text[quote + 1].isSpace()) continue;
      if (end < 0) end = quote;
      if (QFileInfo::exists(TypedPath(Text.mid(start, quote - start), Folder))) {
        end = quote;
        break;
      }
    }
    if (end < 0) end = Text.size();
    if (end > start) names << Text.mid(start, end - start);
    open = Text.indexOf(QLatin1Char('"'), end + 1);
  }
  return names;
}

}  // namespace

QStringList TypedFilePaths(const QString& Text, const QDir& Folder) {
  const QString typed = Text.trimmed();
  if (typed.isEmpty()) return {};
  const bool list =
      typed.startsWith(QLatin1Char('"')) && !QFileInfo::exists(TypedPath(typed, Folder));
  QStringList paths;
  for (const QString& name : list ? QuotedNames(typed, Folder) : QStringList{typed})
    paths << TypedPath(name, Folder);
  return paths;
}

QString AddFilesSummary(int Total, const QStringList& Failed, int NotAdded) {
  QString summary = QStringLiteral("%1 files have been loaded successfully,%2 files failed.")
                        .arg(Total - NotAdded - Failed.size())
                        .arg(Failed.size());
  if (!Failed.isEmpty())
    summary += QStringLiteral("\r\nunloaded files:\r\n") + Failed.join(QStringLiteral("\r\n"));
  if (NotAdded > 0)
    summary += QStringLiteral("\r\n%1 files were not added: adding was canceled.").arg(NotAdded);
  return summary;
}

QString FailedFileLine(const TProbedFile& File) {
  const QString name = QFileInfo(File.FileName).fileName();
  return File.Reason.isEmpty() ? name : name + QStringLiteral(" (") + File.Reason + ')';
}

namespace {

// The probers' threads still running, for the program's exit. Never destroyed: a thread may
// still be ending while the program's statics go.
struct TRunningProbers {
  std::mutex Lock;
  std::condition_variable Changed;
  int Count = 0;
};

TRunningProbers& RunningProbers() {
  static auto* running = new TRunningProbers;
  return *running;
}

}  // namespace

struct TFileProber::TState {
  QStringList Files;
  TProbedEvent OnProbed;
  TProbe Probe;
  TFFDecoder Decoder;
  std::mutex Lock;  // held while OnProbed runs, so that Cancel knows none runs after it
  bool Cancelled = false;
};

TFileProber::TFileProber(QStringList Files, TProbedEvent OnProbed, TProbe Probe)
    : FState(std::make_shared<TState>()) {
  FState->Files = std::move(Files);
  FState->OnProbed = std::move(OnProbed);
  FState->Probe = std::move(Probe);
  {
    const std::lock_guard<std::mutex> lock(RunningProbers().Lock);
    ++RunningProbers().Count;
  }
  std::thread(&TFileProber::Run, FState).detach();
}

TFileProber::~TFileProber() { Cancel(); }

void TFileProber::Cancel() {
  {
    const std::lock_guard<std::mutex> lock(FState->Lock);
    FState->Cancelled = true;
  }
  FState->Decoder.Abort();
}

// Prober's thread.
void TFileProber::Run(std::shared_ptr<TState> State) {
  for (int i = 0; i < State->Files.size(); ++i) {
    const TProbedFile file = State->Probe(State->Decoder, State->Files[i]);
    const std::lock_guard<std::mutex> lock(State->Lock);
    if (State->Cancelled) break;
    State->OnProbed(i, file);
  }
  // The decoder goes with the last owner: on this thread unless the prober still lives.
  State.reset();
  TRunningProbers& running = RunningProbers();
  const std::lock_guard<std::mutex> lock(running.Lock);
  --running.Count;
  running.Changed.notify_all();
}

bool WaitForFileProbers(int Milliseconds) {
  TRunningProbers& running = RunningProbers();
  std::unique_lock<std::mutex> lock(running.Lock);
  return running.Changed.wait_for(lock, std::chrono::milliseconds(Milliseconds),
                                  [&running] { return running.Count == 0; });
}
