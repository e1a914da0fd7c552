#include "U_Config.h"

#include "FFBaseComponent.h"
#include "FFDecode.h"
#include "IniFiles.h"
#include "U_FileOption.h"
#include "VelLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <variant>

QString WithSlash(const QString& Folder) {
  return Folder.endsWith(QLatin1Char('/')) ? Folder : Folder + QLatin1Char('/');
}

QString NotRegularFileReason(const QString& Path) {
  struct stat status {};
  if (::stat(QFile::encodeName(Path).constData(), &status) != 0 || S_ISREG(status.st_mode))
    return QString();
  const char* kind = S_ISDIR(status.st_mode)    ? "a folder"
                     : S_ISFIFO(status.st_mode) ? "a named pipe"
                     : S_ISSOCK(status.st_mode) ? "a socket"
                                                : "a device";
  return QStringLiteral("not a regular file: ") + QLatin1String(kind);
}

QString MakeMissingFolder(const QString& Folder, const QString& What) {
  const std::filesystem::path folder(QFile::encodeName(Folder).toStdString());
  std::error_code error;
  if (std::filesystem::is_directory(folder, error) ||
      std::filesystem::create_directories(folder, error) || !error)
    return {};
  return QStringLiteral("The %1 %2 does not exist and cannot be made: %3")
      .arg(What, Folder, QString::fromLocal8Bit(error.message()));
}

QString PrepareOutputFolder(const QString& Folder) {
  if (QString refusal = MakeMissingFolder(Folder, QStringLiteral("output folder"));
      !refusal.isEmpty())
    return refusal;
  for (const std::string& done : SweepTemporaryFiles(QFile::encodeName(Folder).toStdString()))
    VelLog.WriteInfo(QFile::decodeName(done.c_str()));
  return {};
}

QString WithoutExtension(const QString& Path) {
  const qsizetype slash = Path.lastIndexOf(QLatin1Char('/'));
  const qsizetype dot = Path.lastIndexOf(QLatin1Char('.'));
  return dot > slash + 1 ? Path.left(dot) : Path;
}

namespace {

QString ProgramFolderOverride;
std::optional<bool> ProgramFolderWritable;
std::unique_ptr<TMainSettings> Settings;

// Qt 6.4 names no state location: the XDG rule, as other programs follow it.
QString UserStateFolder() {
  const QString base = qEnvironmentVariable("XDG_STATE_HOME");
  const QString root = QDir::isAbsolutePath(base) ? base : QDir::homePath() + "/.local/state";
  return WithSlash(root) + QCoreApplication::applicationName();
}

// Not in the shared temporary folder, where another user could take the name first.
QString UserScratchFolder() {
  return WithSlash(QStandardPaths::writableLocation(QStandardPaths::CacheLocation)) +
         QStringLiteral("5EE42FCD6CBC44CB27DE/");
}

}  // namespace

QString ProgramFolder() {
  return WithSlash(ProgramFolderOverride.isEmpty() ? QCoreApplication::applicationDirPath()
                                                   : ProgramFolderOverride);
}

void SetProgramFolder(const QString& Folder) {
  ProgramFolderOverride = Folder;
  ProgramFolderWritable.reset();
}

// ---------------------------------------------------------------------------------------

TDataPlaces DataPlacesFor(const QString& ProgramFolder, bool ProgramFolderWritable) {
  TDataPlaces places;
  places.Scratch = UserScratchFolder();
  if (ProgramFolderWritable) {
    places.Settings = places.LogBase = WithSlash(ProgramFolder);
    places.Output = places.Settings + QStringLiteral("Output/");
    places.Snapshot = places.Settings + QStringLiteral("Snapshot/");
    return places;
  }
  places.BesideProgram = false;
  places.Settings = WithSlash(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
  places.LogBase = WithSlash(UserStateFolder());
  const QString videos =
      WithSlash(QStandardPaths::writableLocation(QStandardPaths::MoviesLocation)) +
      QStringLiteral("Fennick/");
  places.Output = videos + QStringLiteral("Output/");
  places.Snapshot = videos + QStringLiteral("Snapshot/");
  return places;
}

bool IsFolderWritable(const QString& Folder) {
  QTemporaryFile probe(WithSlash(Folder) + QStringLiteral(".write-probe-XXXXXX"));
  return probe.open();
}

TDataPlaces DataPlaces() {
  return DataPlacesFor(ProgramFolder(), ProgramFolderWritable.value_or(true));
}

void InitDataPlaces() {
  ProgramFolderWritable = IsFolderWritable(ProgramFolder());
  const TDataPlaces places = DataPlaces();
  for (const QString& folder : {places.Settings, places.LogBase})
    if (!QDir().mkpath(folder)) qWarning("Cannot create the folder %s", qUtf8Printable(folder));
  MakePrivateFolder(places.Scratch);
}

void LogDataPlaces(const TDataPlaces& Places) {
  if (Places.BesideProgram) return;
  VelLog.WriteInfo(
      QStringLiteral("The program folder %1 cannot be written; settings go to %2, "
                     "logs to %3Log/, outputs to %4, snapshots to %5")
          .arg(ProgramFolder(), Places.Settings, Places.LogBase, Places.Output, Places.Snapshot));
}

QStringList DataPlaceProblems(const TDataPlaces& Places, const QString& OutputFolder) {
  QStringList problems;
  if (!IsFolderWritable(Places.Settings))
    problems << QStringLiteral("Settings cannot be kept: the folder %1 cannot be written. "
                               "Changes last only until the program ends.")
                    .arg(Places.Settings);
  const QString log = Places.LogBase + QStringLiteral("Log/");
  if (!IsFolderWritable(log))
    problems << QStringLiteral("No log can be kept: the folder %1 cannot be written.").arg(log);
  const QString output = PrepareOutputFolder(OutputFolder);
  if (!output.isEmpty())
    problems << output + QStringLiteral(". Choose another output folder with \"Changing\" "
                                        "before you start a conversion.");
  for (const QString& problem : problems) VelLog.WriteError(problem);
  return problems;
}

bool MakePrivateFolder(const QString& Folder) {
  const QFileDevice::Permissions owner =
      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
  if (QDir().mkpath(Folder) && QFile::setPermissions(Folder, owner)) return true;
  VelLog.WriteError(QStringLiteral("Cannot make the private folder ") + Folder);
  return false;
}

// ---------------------------------------------------------------------------------------

namespace {

const std::array<const char*, TMainSettings::KeyCount> MainSettingsKeys = {
    "SnapshotPath", "OutputPath", "SnapshotExt", "SourcePath", "SourceImgPath"};
const QString OutputSection = QStringLiteral("Output");

}  // namespace

TMainSettings::TMainSettings(const QString& FileName, const TDataPlaces& Places)
    : FIni(std::make_unique<TIniFile>(FileName)), FPlaces(Places) {
  // A file that is no settings file is said at start-up (CheckSettingsFiles), once.
  const bool writable = FIni->Problem().isEmpty();
  for (int key = 0; key < KeyCount; ++key) {
    const QString ident = QString::fromLatin1(MainSettingsKeys[key]);
    const QString value = FIni->ReadString(OutputSection, ident, QString());
    if (value.isEmpty() && writable && !FIni->WriteString(OutputSection, ident, QString()))
      VelLog.WriteError(FIni->LastErrMsg());
    FValues[key] = value.isEmpty() ? DefaultOf(static_cast<TKey>(key)) : value;
  }
}

TMainSettings::~TMainSettings() = default;

bool TMainSettings::SetValue(TKey Key, const QString& Value) {
  FValues[Key] = Value.isEmpty() ? DefaultOf(Key) : Value;
  if (FIni->WriteString(OutputSection, QString::fromLatin1(MainSettingsKeys[Key]), Value))
    return true;
  VelLog.WriteError(FIni->LastErrMsg());
  return false;
}

QString TMainSettings::DefaultOf(TKey Key) const {
  switch (Key) {
    case SnapshotPath:
      return FPlaces.Snapshot;
    case OutputPath:
      return FPlaces.Output;
    case SnapshotExt:
      return QStringLiteral("bmp");
    case SourcePath:
      return QDir::homePath();
    default:
      return QString();
  }
}

TMainSettings& MainSettings() {
  if (!Settings) InitMainSettings();
  return *Settings;
}

void InitMainSettings() {
  const TDataPlaces places = DataPlaces();
  Settings =
      std::make_unique<TMainSettings>(places.Settings + QStringLiteral("Fennick.ini"), places);
}

QStringList CheckSettingsFiles() {
  QStringList problems;
  for (const QString& name :
       {DataPlaces().Settings + QStringLiteral("Fennick.ini"), FormatDefaultFileName(),
        ProgramFolder() + QStringLiteral("URL.cfg")}) {
    const QString problem = TIniFile(name).Problem();
    if (problem.isEmpty()) continue;
    problems << problem + QStringLiteral(
                              " The program keeps it as it is: what cannot be read from it "
                              "takes its default, and no setting is saved to it.");
    VelLog.WriteError(problems.last());
  }
  return problems;
}

// ---------------------------------------------------------------------------------------

namespace {

using TFormatField =
    std::variant<int TFormatDefault::*, QString TFormatDefault::*, bool TFormatDefault::*>;

struct TFormatKey {
  const char* Section;
  const char* Ident;
  TFormatField Field;
};

// The file's keys, in the order they are read and written.
const TFormatKey FormatKeys[] = {
    {"Format", "Formatid", &TFormatDefault::Formatid},
    {"Video", "VideoCodec", &TFormatDefault::VideoCodec},
    {"Video", "FrameRate", &TFormatDefault::FrameRate},
    {"Video", "VideoBitrate", &TFormatDefault::VideoBitrate},
    {"Video", "FrameSize", &TFormatDefault::FrameSize},
    {"Audio", "AudioCodec", &TFormatDefault::AudioCodec},
    {"Audio", "AudioVolume", &TFormatDefault::AudioVolume},
    {"Audio", "AudioChannels", &TFormatDefault::AudioChannels},
    {"Audio", "AudioBitrate", &TFormatDefault::AudioBitrate},
    {"Audio", "AudioSampleRate", &TFormatDefault::AudioSampleRate},
    {"Audio", "DisableSubtitle", &TFormatDefault::DisableSubtitle},
    {"Audio", "DisableAudio", &TFormatDefault::DisableAudio},
    {"SWFSet", "Gflv", &TFormatDefault::Gflv},
    {"SWFSet", "GSwf", &TFormatDefault::GSwf},
    {"SWFSet", "GHtml", &TFormatDefault::GHtml},
    {"SWFSet", "GThumbnail", &TFormatDefault::GThumbnail},
    {"SWFSet", "PlayerSkin", &TFormatDefault::PlayerSkin},
    {"SWFSet", "BGColor", &TFormatDefault::BGColor},
    {"SWFSet", "AutoRewind", &TFormatDefault::AutoRewind},
    {"SWFSet", "Autoplay", &TFormatDefault::Autoplay},
    {"SWFSet", "Autohide", &TFormatDefault::Autohide},
    {"SWFSet", "Showbigplay", &TFormatDefault::Showbigplay},
    {"SWFSet", "isflv", &TFormatDefault::isflv},
};

struct TIniReader {
  const TIniFile& Ini;
  TFormatDefault& Defaults;
  QString Section, Ident;
  void operator()(int TFormatDefault::*F) {
    Defaults.*F = Ini.ReadInteger(Section, Ident, Defaults.*F);
  }
  void operator()(QString TFormatDefault::*F) {
    Defaults.*F = Ini.ReadString(Section, Ident, Defaults.*F);
  }
  void operator()(bool TFormatDefault::*F) {
    Defaults.*F = Ini.ReadBool(Section, Ident, Defaults.*F);
  }
};

struct TIniWriter {
  TIniFile& Ini;
  const TFormatDefault& Defaults;
  QString Section, Ident;
  bool operator()(int TFormatDefault::*F) { return Ini.WriteInteger(Section, Ident, Defaults.*F); }
  bool operator()(QString TFormatDefault::*F) {
    return Ini.WriteString(Section, Ident, Defaults.*F);
  }
  bool operator()(bool TFormatDefault::*F) { return Ini.WriteBool(Section, Ident, Defaults.*F); }
};

QString PlayerFolder() { return ProgramFolder() + QStringLiteral("templates/Player/"); }

}  // namespace

QString FormatDefaultFileName() {
  return DataPlaces().Settings + QStringLiteral("FormatDefault.ini");
}

TFormatDefault ReadFormatDefault(const QString& FrameSize) {
  TFormatDefault defaults;
  defaults.FrameSize = FrameSize;
  const TIniFile ini(FormatDefaultFileName());
  for (const TFormatKey& key : FormatKeys)
    std::visit(
        TIniReader{ini, defaults, QString::fromLatin1(key.Section), QString::fromLatin1(key.Ident)},
        key.Field);
  return defaults;
}

bool WriteFormatDefault(const TFormatDefault& Defaults, QString* Error) {
  TIniFile ini(FormatDefaultFileName());
  for (const TFormatKey& key : FormatKeys) {
    if (std::visit(TIniWriter{ini, Defaults, QString::fromLatin1(key.Section),
                              QString::fromLatin1(key.Ident)},
                   key.Field))
      continue;
    VelLog.WriteError(ini.LastErrMsg());
    if (Error) *Error = ini.LastErrMsg();
    return false;
  }
  return true;
}

void ApplyFormatDefault(TFileOption& Option, const TFormatDefault& Defaults) {
  Option.Formatid = Defaults.Formatid;
  TOutputOptions& output = Option.Output;
  output.VideoCodec = Defaults.VideoCodec.toStdString();
  output.FrameRate = Defaults.FrameRate.toStdString();
  output.VideoBitrate = Defaults.VideoBitrate;
  Option.OutputFrameSize = Defaults.FrameSize;
  output.AudioCodec = Defaults.AudioCodec.toStdString();
  output.AudioVolume = Defaults.AudioVolume;
  output.AudioChannels = Defaults.AudioChannels;
  output.AudioBitrate = Defaults.AudioBitrate;
  output.AudioSampleRate = Defaults.AudioSampleRate;
  output.DisableSubtitle = Defaults.DisableSubtitle;
  output.DisableAudio = Defaults.DisableAudio;
  Option.Gflv = Defaults.Gflv;
  Option.GSwf = Defaults.GSwf;
  Option.GHtml = Defaults.GHtml;
  Option.GThumbnail = Defaults.GThumbnail;
  Option.PlayerSkin = PlayerFolder() + Defaults.PlayerSkin;
  Option.BGColor = static_cast<uint32_t>(Defaults.BGColor);
  Option.SWFData.bgcolor = SwapRedBlue(Option.BGColor);
  Option.SWFData.autoRewind = Defaults.AutoRewind;
  Option.SWFData.autoplay = Defaults.Autoplay;
  Option.SWFData.autohide = Defaults.Autohide;
  Option.SWFData.showbigplay = Defaults.Showbigplay;
  Option.SWFData.isflv = Defaults.isflv;
}

TFormatDefault FormatDefaultOf(const TFileOption& Option) {
  const TOutputOptions& output = Option.Output;
  TFormatDefault defaults;
  defaults.Formatid = Option.Formatid;
  defaults.VideoCodec = QString::fromStdString(output.VideoCodec);
  defaults.FrameRate = QString::fromStdString(output.FrameRate);
  defaults.VideoBitrate = output.VideoBitrate;
  defaults.FrameSize = Option.OutputFrameSize;
  defaults.AudioCodec = QString::fromStdString(output.AudioCodec);
  defaults.AudioVolume = output.AudioVolume;
  defaults.AudioChannels = output.AudioChannels;
  defaults.AudioBitrate = output.AudioBitrate;
  defaults.AudioSampleRate = output.AudioSampleRate;
  defaults.DisableSubtitle = output.DisableSubtitle != 0;
  defaults.DisableAudio = output.DisableAudio != 0;
  defaults.Gflv = Option.Gflv;
  defaults.GSwf = Option.GSwf;
  defaults.GHtml = Option.GHtml;
  defaults.GThumbnail = Option.GThumbnail;
  defaults.PlayerSkin = QFileInfo(Option.PlayerSkin).fileName();
  defaults.BGColor = static_cast<int>(Option.BGColor);
  defaults.AutoRewind = Option.SWFData.autoRewind;
  defaults.Autoplay = Option.SWFData.autoplay;
  defaults.Autohide = Option.SWFData.autohide;
  defaults.Showbigplay = Option.SWFData.showbigplay;
  defaults.isflv = Option.SWFData.isflv;
  return defaults;
}

void LoadFormatDefault(TFileOption& Option, const QString& FrameSize) {
  ApplyFormatDefault(Option, ReadFormatDefault(FrameSize));
}

bool SaveFormatDefault(const TFileOption& Option, QString* Error) {
  return WriteFormatDefault(FormatDefaultOf(Option), Error);
}

// ---------------------------------------------------------------------------------------

QString ReadIniValue(const QString& FileName, const QString& Section, const QString& Ident,
                     const QString& Default) {
  return TIniFile(FileName).ReadString(Section, Ident, Default);
}

QString ReadUrlConfig(const QString& Ident, const QString& Default) {
  return ReadIniValue(ProgramFolder() + QStringLiteral("URL.cfg"), QStringLiteral("URL"), Ident,
                      Default);
}

QString GetFileVersionText(bool WithBuild) {
  const QString version = QStringLiteral("%1.%2.%3")
                              .arg(FENNICK_VERSION_MAJOR)
                              .arg(FENNICK_VERSION_MINOR)
                              .arg(FENNICK_VERSION_PATCH);
  return WithBuild ? version + QStringLiteral(".%1").arg(FENNICK_VERSION_TWEAK) : version;
}

int CompareVersion(const QString& A, const QString& B) {
  const QStringList a = A.trimmed().split(QLatin1Char('.'));
  const QStringList b = B.trimmed().split(QLatin1Char('.'));
  for (qsizetype i = 0; i < std::max(a.size(), b.size()); ++i) {
    const qulonglong partA = i < a.size() ? a[i].toULongLong() : 0;
    const qulonglong partB = i < b.size() ? b[i].toULongLong() : 0;
    if (partA != partB) return partB < partA ? 1 : 2;
  }
  return 0;
}

QStringList SplitString(const QString& Text, const QString& Separator) {
  return Text.split(Separator);
}

QStringList FindFilesByMask(const QString& Folder, const QString& Masks, bool WithPath) {
  QStringList filters;
  for (QString mask : Masks.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    mask = mask.trimmed();
    filters << QStringLiteral("*") + (mask.startsWith(QLatin1Char('.')) ? mask : "." + mask);
  }
  if (filters.isEmpty()) return {};
  const QDir folder(Folder);
  QStringList files;
  for (const QString& name : folder.entryList(filters, QDir::Files, QDir::Name))
    files << (WithPath ? folder.filePath(name) : name);
  return files;
}

QString FormatFileSize(int64_t Bytes) {
  static const struct {
    double Unit;
    const char* Suffix;
  } units[] = {{1073741824.0, " G"}, {1048576.0, " M"}, {1024.0, " K"}};
  const QLocale locale;
  for (const auto& unit : units)
    if (Bytes / unit.Unit >= 1)
      return locale.toString(Bytes / unit.Unit, 'f', 2) + QLatin1String(unit.Suffix);
  return locale.toString(static_cast<double>(Bytes), 'f', 2) + QStringLiteral(" B");
}

QString SecondsToTimeText(int64_t Seconds) {
  const int64_t s = std::max<int64_t>(Seconds, 0);
  return QStringLiteral("%1:%2:%3")
      .arg(s / 3600, 2, 10, QLatin1Char('0'))
      .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(s % 60, 2, 10, QLatin1Char('0'));
}

std::optional<int64_t> TimeTextToSeconds(const QString& Text) {
  const QStringList parts = Text.trimmed().split(QLatin1Char(':'));
  if (parts.size() != 3) return std::nullopt;
  int64_t seconds = 0;
  for (const QString& part : parts) {
    bool ok = false;
    const int64_t value = part.trimmed().toLongLong(&ok);
    if (!ok || value < 0) return std::nullopt;
    seconds = seconds * 60 + value;
  }
  return seconds;
}

namespace {

// Any 8 characters serve: the temporary names only need to differ.
const QString ScrambleKey = QStringLiteral("Vq7#rL2k");

}  // namespace

QString MakeUniqueFileName(const QString& Path, const QString& Extension,
                           const QString& Separator) {
  const QString stem = WithoutExtension(Path) + Separator;
  for (int n = 0;; ++n) {
    const QString name = stem + QString::number(n) + QLatin1Char('.') + Extension;
    if (!QFileInfo::exists(name)) return name;
  }
}

QString MakeTempFileName(const QString& Folder, const QString& Extension) {
  for (int n = 0;; ++n) {
    const QString token = ScrambleString(QStringLiteral("P%1").arg(n), ScrambleKey, true);
    const QString name = WithSlash(Folder) + QStringLiteral("~Tmp") + token + "." + Extension;
    if (!QFileInfo::exists(name)) return name;
  }
}

QString ScrambleString(const QString& Text, const QString& Key, bool Encode) {
  const QByteArray key = Key.toUtf8();
  if (key.isEmpty()) return QString();
  if (Encode) {
    int s = static_cast<int>(QRandomGenerator::global()->bounded(256));
    QByteArray out(1, static_cast<char>(s));
    const QByteArray bytes = Text.toUtf8();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
      s = ((static_cast<uchar>(bytes[i]) + s) % 255) ^ static_cast<uchar>(key[i % key.size()]);
      out.append(static_cast<char>(s));
    }
    return QString::fromLatin1(out.toHex());
  }
  const QByteArray in = QByteArray::fromHex(Text.toLatin1());
  if (in.isEmpty() || in.size() * 2 != Text.size()) return QString();
  QByteArray out;
  for (qsizetype i = 1; i < in.size(); ++i) {
    const int mixed = static_cast<uchar>(in[i]) ^ static_cast<uchar>(key[(i - 1) % key.size()]);
    out.append(static_cast<char>((mixed - static_cast<uchar>(in[i - 1]) + 255 * 2) % 255));
  }
  return QString::fromUtf8(out);
}

bool ClearFolder(const QString& Folder) {
  QDir folder(Folder);
  if (!folder.exists()) return true;
  const bool cleared = folder.removeRecursively();
  if (!cleared) VelLog.WriteError(QStringLiteral("Cannot clear the folder ") + Folder);
  return cleared;
}

// ---------------------------------------------------------------------------------------

namespace {

const QString InfoIndent(23, QLatin1Char(' '));
const QString CrLf = QStringLiteral("\r\n");

}  // namespace

namespace {

QString EncoderLines(const char* Kind, const std::string& Codec, const QString& Details) {
  return InfoIndent +
         QStringLiteral("%1 Encoder: [%2]")
             .arg(QLatin1String(Kind), QString::fromStdString(Codec)) +
         CrLf + InfoIndent + Details;
}

}  // namespace

QString MediaInfoText(const std::optional<TVideoStreamInfo>& Video,
                      const std::optional<TAudioStreamInfo>& Audio) {
  QString video, audio;
  if (Video) {
    const double fps = Video->FrameRateDen > 0
                           ? static_cast<double>(Video->FrameRateNum) / Video->FrameRateDen
                           : 0.0;
    video = EncoderLines("Video", Video->Codec,
                         QStringLiteral("[%1x%2] %3 fps %4 s")
                             .arg(Video->Width)
                             .arg(Video->Height)
                             .arg(fps, 0, 'f', 6)
                             .arg(Video->DurationUS / 1000000));
  }
  if (Audio)
    audio = EncoderLines("Audio", Audio->Codec,
                         QStringLiteral("[%1 Hz, %2 Channels] %3 s")
                             .arg(Audio->SampleRate)
                             .arg(Audio->Channels)
                             .arg(Audio->DurationUS / 1000000));
  return video + CrLf + audio;
}

QString GetMediaInfoText(TCustomDecoder& Decoder) {
  std::optional<TVideoStreamInfo> video;
  std::optional<TAudioStreamInfo> audio;
  for (int i = 0; i < Decoder.StreamCount(); ++i) {
    TVideoStreamInfo videoInfo;
    TAudioStreamInfo audioInfo;
    if (Decoder.IsVideoStream(i) && Decoder.GetVideoStreamInfo(i, videoInfo)) video = videoInfo;
    if (Decoder.IsAudioStream(i) && Decoder.GetAudioStreamInfo(i, audioInfo)) audio = audioInfo;
  }
  return MediaInfoText(video, audio);
}
