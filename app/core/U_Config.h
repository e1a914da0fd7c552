// The application's configuration: where the program folder is, where the program keeps
// what it writes, the settings files, and the helpers that several windows share which
// need no screen (those that do are in U_Config_Gui.h).
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>

class TCustomDecoder;
class TIniFile;
struct TAudioStreamInfo;
struct TFileOption;
struct TVideoStreamInfo;

// Used when "URL.cfg" names no page.
inline const QString DefaultHomePage = QStringLiteral("https://www.velmora.example/fennick/");

// The folder of the program file, with a trailing "/": settings, logs and outputs
// live beside the program. Tests point it at a scratch folder instead.
QString ProgramFolder();
void SetProgramFolder(const QString& Folder);

// ---------------------------------------------------------------------------------------
// Where the program writes. Run from a folder of its own it keeps everything beside itself;
// installed into a folder it may not write, it uses the user's standard locations. Every
// folder ends with "/".
struct TDataPlaces {
  bool BesideProgram = true;
  QString Settings;  // "Fennick.ini" and "FormatDefault.ini"
  QString LogBase;   // holds the "Log" folder
  QString Output;    // the output folder of new entries, unless "Fennick.ini" names one
  QString Snapshot;  // the snapshot folder, unless "Fennick.ini" names one
  QString Scratch;   // copies of watermark pictures: private to the user, emptied at exit
};

TDataPlaces DataPlacesFor(const QString& ProgramFolder, bool ProgramFolderWritable);
// Whether a file can really be created in the folder (permission bits alone do not tell).
bool IsFolderWritable(const QString& Folder);
// The places of this run: beside the program folder until InitDataPlaces has looked.
TDataPlaces DataPlaces();
// Start-up: decides once whether the program folder can be written.
void InitDataPlaces();
// Writes to the log where the settings, logs and outputs go when not beside the program.
void LogDataPlaces(const TDataPlaces& Places);
// Start-up, once the settings are read: what this run cannot keep (settings, log) and an output
// folder that cannot be made (PrepareOutputFolder), one text each for the user; empty when
// everything can be kept.
QStringList DataPlaceProblems(const TDataPlaces& Places, const QString& OutputFolder);
// Makes the folder (and its parents) readable and writable by the user alone.
bool MakePrivateFolder(const QString& Folder);

// ---------------------------------------------------------------------------------------
// "Fennick.ini", section "Output": read once at start, each change written at once (never
// at exit). A key left empty on disk stays empty there and takes its default in memory.
class TMainSettings {
 public:
  enum TKey { SnapshotPath, OutputPath, SnapshotExt, SourcePath, SourceImgPath, KeyCount };

  TMainSettings(const QString& FileName, const TDataPlaces& Places);
  ~TMainSettings();

  QString Value(TKey Key) const { return FValues[Key]; }
  // Stores the value in memory and on disk; false (and logged) when the file cannot be written.
  bool SetValue(TKey Key, const QString& Value);

 private:
  QString DefaultOf(TKey Key) const;

  std::unique_ptr<TIniFile> FIni;
  TDataPlaces FPlaces;
  QString FValues[KeyCount];
};

// The run's settings, read from the settings place on first use; InitMainSettings reads
// them again (start-up, and tests that move the program folder).
TMainSettings& MainSettings();
void InitMainSettings();

// Start-up: what keeps "Fennick.ini", "FormatDefault.ini" or "URL.cfg" from being read and
// saved as a settings file, one text per file, each also written to the log. Such a file is
// kept as it is: what cannot be read from it takes its default, and nothing is saved to it.
QStringList CheckSettingsFiles();

// ---------------------------------------------------------------------------------------
// "FormatDefault.ini": the defaults every newly added file gets. The defaults below hold
// for a missing file or key; FrameSize defaults to the entry's own frame size.
struct TFormatDefault {
  int Formatid = 1;
  QString VideoCodec = QStringLiteral("flv");
  QString FrameRate;
  int VideoBitrate = 512000;
  QString FrameSize;
  QString AudioCodec = QStringLiteral("libmp3lame");
  int AudioVolume = 256;
  int AudioChannels = 2;
  int AudioBitrate = 96000;
  int AudioSampleRate = 44100;
  bool DisableSubtitle = true;
  bool DisableAudio = false;
  bool Gflv = true;
  bool GSwf = true;
  bool GHtml = true;
  bool GThumbnail = true;
  QString PlayerSkin = QStringLiteral("Player01.swf");  // the file name alone
  int BGColor = 0;                                      // Windows colour value
  bool AutoRewind = false;
  bool Autoplay = false;
  bool Autohide = false;
  bool Showbigplay = true;
  bool isflv = true;
};

QString FormatDefaultFileName();
TFormatDefault ReadFormatDefault(const QString& FrameSize);
// False with the reason in Error when the file cannot be written.
bool WriteFormatDefault(const TFormatDefault& Defaults, QString* Error = nullptr);

// Fills the entry's format, codec, output-choice, skin, colour and player fields.
void ApplyFormatDefault(TFileOption& Option, const TFormatDefault& Defaults);
TFormatDefault FormatDefaultOf(const TFileOption& Option);
void LoadFormatDefault(TFileOption& Option, const QString& FrameSize);
bool SaveFormatDefault(const TFileOption& Option, QString* Error = nullptr);

// Red and blue exchanged: a Windows colour value becomes 0xRRGGBB and back.
constexpr uint32_t SwapRedBlue(uint32_t Color) {
  return (Color & 0xFF00) | ((Color & 0xFF) << 16) | ((Color & 0xFF0000) >> 16);
}

// ---------------------------------------------------------------------------------------
// The default when the file does not exist, else the INI value (default when missing).
QString ReadIniValue(const QString& FileName, const QString& Section, const QString& Ident,
                     const QString& Default);

// A location ("HomePage", "HelpPage", "UpdateServer") from "URL.cfg" in the program folder.
QString ReadUrlConfig(const QString& Ident, const QString& Default = DefaultHomePage);

// The program's version, "1.2.3" or with the build number "1.2.3.4".
QString GetFileVersionText(bool WithBuild);

// Compares dotted versions part by part, a missing part counting as 0: 0 when equal,
// 1 when B is lower, 2 when B is higher. A part that is not a number counts as 0.
int CompareVersion(const QString& A, const QString& B);

QStringList SplitString(const QString& Text, const QString& Separator);

// The files (no folders, no names starting with ".") of the folder that end with one of
// the ";"-separated extensions ("flv" and ".flv" alike, letter case ignored), sorted,
// with or without the folder. Not recursive.
QStringList FindFilesByMask(const QString& Folder, const QString& Masks, bool WithPath);

// "1,023.00 K": G, M, K or B by the largest unit that gives at least 1.
QString FormatFileSize(int64_t Bytes);

// "hh:mm:ss"; the hours go past 24 (a day and an hour is "25:00:00").
QString SecondsToTimeText(int64_t Seconds);
// h*3600 + m*60 + s of "h:m:s"; nothing when the text is not three numbers.
std::optional<int64_t> TimeTextToSeconds(const QString& Text);

// The folder with a trailing "/".
QString WithSlash(const QString& Folder);
// Why the program neither reads nor writes the path: empty for a regular file (or a link to
// one) and for a path that names nothing yet, else "not a regular file: a named pipe" (a
// folder, a device, a socket). Opening a pipe waits for its other end, and a device may never
// end.
QString NotRegularFileReason(const QString& Path);
// Makes the folder when it is missing (it may have been deleted since it was chosen). Empty,
// or why it cannot be made, naming it as What ("output folder").
QString MakeMissingFolder(const QString& Folder, const QString& What);
// Before outputs are written into the folder: makes it when it is missing and removes the
// part files that killed conversions of the user left there, logging each. Empty, or why the
// folder cannot be made.
QString PrepareOutputFolder(const QString& Folder);
// The path without the extension of its last component; a dotted folder keeps its dot.
QString WithoutExtension(const QString& Path);

// Path less the extension of its last component + Separator + N + "." + Extension, for
// the first N = 0, 1, ... that names no file.
QString MakeUniqueFileName(const QString& Path, const QString& Extension, const QString& Separator);
// Folder + "~Tmp" + a scrambled token + "." + Extension that names no file.
QString MakeTempFileName(const QString& Folder, const QString& Extension);

// Encoding: a random byte, then one byte per UTF-8 byte of the text, each chained to the
// one before and mixed with the key, written as two lowercase hex digits. Decoding takes
// such a text back; a text that is no such encoding gives an empty result.
QString ScrambleString(const QString& Text, const QString& Key, bool Encode);

// Deletes the folder with all it holds (the folders that dialogs made in it too); false (and
// logged) when that fails.
bool ClearFolder(const QString& Folder);

// The lines that describe a file's last video stream and last audio stream for the log.
QString MediaInfoText(const std::optional<TVideoStreamInfo>& Video,
                      const std::optional<TAudioStreamInfo>& Audio);
QString GetMediaInfoText(TCustomDecoder& Decoder);
