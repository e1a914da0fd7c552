#include "AppTestSupport.h"
#include "IniFiles.h"
#include "U_Config.h"
#include "U_FileOption.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace {

class Settings : public testing::Test {
 protected:
  void SetUp() override { SetProgramFolder(Folder.Path()); }
  void TearDown() override { SetProgramFolder(QString()); }

  QString Ini(const char* Name) const { return Folder.File(QString::fromLatin1(Name)); }

  TScratchFolder Folder;
};

TEST_F(Settings, EmptyMainSettingsStayEmptyOnDiskAndTakeTheirDefaultsInMemory) {
  WriteTextFile(Ini("Fennick.ini"), "[Output]\nOutputPath=\nSourcePath=/media/in/\n");
  TMainSettings settings(Ini("Fennick.ini"), DataPlaces());
  const QString program = Folder.Path() + QStringLiteral("/");
  const struct {
    TMainSettings::TKey Key;
    QString InMemory;
  } cases[] = {{TMainSettings::SnapshotPath, program + "Snapshot/"},
               {TMainSettings::OutputPath, program + "Output/"},
               {TMainSettings::SnapshotExt, QStringLiteral("bmp")},
               {TMainSettings::SourcePath, QStringLiteral("/media/in/")},
               {TMainSettings::SourceImgPath, QString()}};
  for (const auto& c : cases) EXPECT_EQ(settings.Value(c.Key), c.InMemory) << c.Key;
  EXPECT_EQ(ReadTextFile(Ini("Fennick.ini")),
            "[Output]\nOutputPath=\nSourcePath=/media/in/\nSnapshotPath=\nSnapshotExt=\n"
            "SourceImgPath=\n");
}

TEST_F(Settings, AChangedMainSettingIsOnDiskAtOnce) {
  TMainSettings settings(Ini("Fennick.ini"), DataPlaces());
  ASSERT_TRUE(settings.SetValue(TMainSettings::OutputPath, QStringLiteral("/srv/out/")));
  EXPECT_EQ(ReadIniValue(Ini("Fennick.ini"), "output", "outputpath", QString()), "/srv/out/");
  EXPECT_EQ(TMainSettings(Ini("Fennick.ini"), DataPlaces()).Value(TMainSettings::OutputPath),
            QStringLiteral("/srv/out/"));
  // Emptied again: empty on disk, the default in memory.
  ASSERT_TRUE(settings.SetValue(TMainSettings::OutputPath, QString()));
  EXPECT_EQ(ReadIniValue(Ini("Fennick.ini"), "Output", "OutputPath", "x"), QString());
  EXPECT_EQ(settings.Value(TMainSettings::OutputPath), Folder.Path() + "/Output/");
}

// Written on another system: Latin-1 text, CR LF line ends, a byte-order mark.
const QByteArray Latin1Settings =
    "\xEF\xBB\xBF; r\xE9glages \xE0 la main\r\n"
    "[Output]\r\n"
    "SnapshotPath=/home/l\xE9"
    "a/Captures/\r\n"
    "OutputPath = /home/l\xE9"
    "a/Vid\xE9os/ \r\n"
    "SnapshotExt=jpg\r\n"
    "SourcePath=\r\n"
    "SourceImgPath=/home/l\xE9"
    "a/Images\r\n";

TEST_F(Settings, AStartLeavesAFileWithEveryKeyByteForByteAndAChangeTouchesItsLineAlone) {
  WriteTextFile(Ini("Fennick.ini"), Latin1Settings);
  TMainSettings settings(Ini("Fennick.ini"), DataPlaces());
  EXPECT_EQ(ReadTextFile(Ini("Fennick.ini")), Latin1Settings);
  // Text that is not UTF-8 reads as Latin-1: no letter is lost.
  EXPECT_EQ(settings.Value(TMainSettings::OutputPath),
            QStringLiteral("/home/l\u00E9a/Vid\u00E9os/"));
  EXPECT_EQ(settings.Value(TMainSettings::SourcePath), QDir::homePath());  // empty: the default

  ASSERT_TRUE(settings.SetValue(TMainSettings::SourcePath, QStringLiteral("/m\u00E9dia/")));
  QByteArray changed = Latin1Settings;
  changed.replace("SourcePath=\r\n",
                  "SourcePath=/m\xC3\xA9"
                  "dia/\r\n");
  EXPECT_EQ(ReadTextFile(Ini("Fennick.ini")), changed);
  // Storing what a key already holds writes nothing.
  ASSERT_TRUE(
      settings.SetValue(TMainSettings::OutputPath, settings.Value(TMainSettings::OutputPath)));
  EXPECT_EQ(ReadTextFile(Ini("Fennick.ini")), changed);
}

TEST_F(Settings, AFileThatIsNoSettingsFileIsNeverWritten) {
  const char head[] = "\xFF\xD8\xFF\xE0\0\x10JFIF\0\x01\n[Output]\nOutputPath=/x/\n";
  const QByteArray picture = QByteArray(head, sizeof head - 1) + QByteArray(4096, '\0');
  const QByteArray foreign = "<?xml version=\"1.0\"?>\n<settings>\n</settings>\n";
  for (const QByteArray& content : {picture, foreign}) {
    WriteTextFile(Ini("Fennick.ini"), content);
    TMainSettings settings(Ini("Fennick.ini"), DataPlaces());
    EXPECT_EQ(settings.Value(TMainSettings::SnapshotExt), QStringLiteral("bmp"));
    EXPECT_FALSE(settings.SetValue(TMainSettings::OutputPath, QStringLiteral("/srv/out/")));
    EXPECT_EQ(settings.Value(TMainSettings::OutputPath), QStringLiteral("/srv/out/"));
    EXPECT_EQ(ReadTextFile(Ini("Fennick.ini")), content);
  }
  const QStringList problems = CheckSettingsFiles();
  ASSERT_EQ(problems.size(), 1);
  EXPECT_TRUE(problems[0].contains(Ini("Fennick.ini") + QStringLiteral(" is not a settings file")))
      << qPrintable(problems[0]);
}

TEST_F(Settings, AMissingFormatDefaultGivesTheTableAndTheEntrysOwnFrameSize) {
  TFileOption option;
  InitFileOption(option, QStringLiteral("320x240"));
  EXPECT_EQ(option.Formatid, 1);
  EXPECT_EQ(option.Output.FileExt, ".flv");
  EXPECT_EQ(option.Output.VideoCodec, "flv");
  EXPECT_EQ(option.Output.FrameRate, "");
  EXPECT_EQ(option.Output.VideoBitrate, 512000);
  EXPECT_EQ(option.OutputFrameSize, QStringLiteral("320x240"));
  EXPECT_EQ(option.SourceFrameSize, QStringLiteral("320x240"));
  EXPECT_EQ(option.Output.AudioCodec, "libmp3lame");
  EXPECT_EQ(option.Output.AudioVolume, 256);
  EXPECT_EQ(option.Output.AudioChannels, 2);
  EXPECT_EQ(option.Output.AudioBitrate, 96000);
  EXPECT_EQ(option.Output.AudioSampleRate, 44100);
  EXPECT_EQ(option.Output.DisableSubtitle, 1);
  EXPECT_EQ(option.Output.DisableAudio, 0);
  EXPECT_TRUE(option.Gflv && option.GSwf && option.GHtml && option.GThumbnail);
  EXPECT_EQ(option.PlayerSkin, Folder.Path() + "/templates/Player/Player01.swf");
  EXPECT_EQ(option.BGColor, 0u);
  EXPECT_EQ(option.Deinterlace, -1);
  EXPECT_EQ(option.Output.Metadata.Timestamp, 0.0);
  EXPECT_TRUE(option.SWFData.showbigplay && option.SWFData.isflv);
  EXPECT_FALSE(option.SWFData.autoRewind || option.SWFData.autoplay || option.SWFData.autohide);
  EXPECT_FALSE(QFile::exists(Ini("FormatDefault.ini")));
}

TEST_F(Settings, FormatDefaultIsWrittenInOrderWithBooleansAsDigitsAndReadBack) {
  TFileOption saved;
  InitFileOption(saved, QStringLiteral("640x480"));
  saved.Formatid = 4;
  saved.Output.FrameRate = "25";
  saved.Output.DisableAudio = 1;
  saved.GHtml = false;
  saved.PlayerSkin = QStringLiteral("/elsewhere/templates/Player/Dark.swf");
  saved.BGColor = 0x0000FF;  // red, as a Windows colour value
  saved.SWFData.autoplay = true;
  ASSERT_TRUE(SaveFormatDefault(saved));
  EXPECT_EQ(ReadTextFile(Ini("FormatDefault.ini")),
            "[Format]\nFormatid=4\n\n[Video]\nVideoCodec=flv\nFrameRate=25\nVideoBitrate=512000\n"
            "FrameSize=640x480\n\n[Audio]\nAudioCodec=libmp3lame\nAudioVolume=256\n"
            "AudioChannels=2\nAudioBitrate=96000\nAudioSampleRate=44100\nDisableSubtitle=1\n"
            "DisableAudio=1\n\n[SWFSet]\nGflv=1\nGSwf=1\nGHtml=0\nGThumbnail=1\n"
            "PlayerSkin=Dark.swf\nBGColor=255\nAutoRewind=0\nAutoplay=1\nAutohide=0\n"
            "Showbigplay=1\nisflv=1\n");

  TFileOption loaded;
  InitFileOption(loaded, QStringLiteral("100x100"));
  EXPECT_EQ(loaded.Formatid, 4);
  EXPECT_EQ(loaded.OutputFrameSize, QStringLiteral("640x480"));
  EXPECT_EQ(loaded.SourceFrameSize, QStringLiteral("100x100"));
  EXPECT_EQ(loaded.Output.DisableAudio, 1);
  EXPECT_FALSE(loaded.GHtml);
  EXPECT_EQ(loaded.PlayerSkin, Folder.Path() + "/templates/Player/Dark.swf");
  EXPECT_EQ(loaded.BGColor, 0x0000FFu);
  EXPECT_EQ(loaded.SWFData.bgcolor, 0xFF0000u);  // the player wants 0xRRGGBB
  EXPECT_TRUE(loaded.SWFData.autoplay);
  EXPECT_EQ(FormatDefaultOf(loaded).PlayerSkin, QStringLiteral("Dark.swf"));
}

TEST_F(Settings, AHandEditedOrDamagedFormatDefaultKeepsTheDefaultsOfWhatItCannotRead) {
  WriteTextFile(Ini("FormatDefault.ini"),
                "\xEF\xBB\xBF; edited by hand\r\n[video]\r\n videobitrate = lots \r\n"
                "VideoCodec = h263 \r\n[SWFSET]\r\nGswf=0\r\nisflv=yes\r\nBGColor=0x10\r\n"
                "[Audio\r\nAudioChannels=1\r\n");
  const TFormatDefault read = ReadFormatDefault(QStringLiteral("1x1"));
  EXPECT_EQ(read.VideoBitrate, 512000);
  EXPECT_EQ(read.VideoCodec, QStringLiteral("h263"));
  EXPECT_FALSE(read.GSwf);
  EXPECT_TRUE(read.isflv);
  EXPECT_EQ(read.BGColor, 0);
  EXPECT_EQ(read.AudioChannels, 2);  // under a broken section header
  EXPECT_EQ(read.FrameSize, QStringLiteral("1x1"));
}

TEST_F(Settings, WithoutAWritableProgramFolderEverythingGoesToTheUsersLocations) {
  QStandardPaths::setTestModeEnabled(true);
  const TDataPlaces beside = DataPlacesFor(Folder.Path(), true);
  const TDataPlaces away = DataPlacesFor(Folder.Path(), false);
  QStandardPaths::setTestModeEnabled(false);
  EXPECT_TRUE(beside.BesideProgram);
  EXPECT_FALSE(away.BesideProgram);
  const QString program = Folder.Path() + QStringLiteral("/");
  EXPECT_EQ(beside.Settings, program);
  EXPECT_EQ(beside.LogBase, program);
  EXPECT_EQ(beside.Output, program + "Output/");
  EXPECT_EQ(beside.Snapshot, program + "Snapshot/");
  for (const QString& place :
       {away.Settings, away.LogBase, away.Output, away.Snapshot, away.Scratch, beside.Scratch}) {
    EXPECT_FALSE(place.startsWith(program)) << qPrintable(place);
    EXPECT_TRUE(place.startsWith(QDir::homePath())) << qPrintable(place);
  }
  EXPECT_FALSE(away.Output.startsWith(away.Settings));
}

// A read-only home under a read-only program folder (here: a file where the folders would be,
// which holds for root too): the user hears at start what cannot be kept and which output
// folder cannot be made, and how to choose another; an output folder that can be made is.
TEST_F(Settings, WhatCannotBeKeptOrMadeIsSaidAtStart) {
  WriteTextFile(Folder.File(QStringLiteral("home")), "a file, not a folder");
  TDataPlaces places;
  places.Settings = Folder.File(QStringLiteral("home/.config/fennick/"));
  places.LogBase = Folder.File(QStringLiteral("home/.local/state/fennick/"));
  const QString output = Folder.File(QStringLiteral("home/Videos/Fennick/Output/"));
  EXPECT_EQ(DataPlaceProblems(places, output),
            QStringList({"Settings cannot be kept: the folder " + places.Settings +
                             " cannot be written. Changes last only until the program ends.",
                         "No log can be kept: the folder " + places.LogBase +
                             "Log/ cannot be written.",
                         "The output folder " + output +
                             " does not exist and cannot be made: Not a directory. Choose another "
                             "output folder with \"Changing\" before you start a conversion."}));
  places.Settings = places.LogBase = Folder.Path() + QStringLiteral("/");
  ASSERT_TRUE(QDir().mkpath(places.LogBase + QStringLiteral("Log")));
  EXPECT_EQ(DataPlaceProblems(places, Folder.File(QStringLiteral("made/Output/"))), QStringList());
  EXPECT_TRUE(QFileInfo(Folder.File(QStringLiteral("made/Output"))).isDir());
}

TEST_F(Settings, ThePrivateFolderIsTheUsersAlone) {
  const QString scratch = Folder.File(QStringLiteral("a/b"));
  ASSERT_TRUE(MakePrivateFolder(scratch));
  const QFileDevice::Permissions owner =
      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
  const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                          QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                          QFileDevice::WriteOther | QFileDevice::ExeOther;
  EXPECT_EQ(QFileInfo(scratch).permissions() & (owner | others), owner);
}

}  // namespace
