#include "AppTestSupport.h"
#include "FFDecode.h"
#include "FFLoad.h"
#include "MediaFixtures.h"
#include "U_Config.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

TEST(Helpers, CompareVersionComparesPartByPart) {
  const struct {
    const char *A, *B;
    int Result;
  } cases[] = {
      {"1.2.3", "1.2.10", 2}, {"1.5.10.0", "1.6.0.0", 2}, {"1.6.0.0", "1.5.10.0", 1},
      {"2.0", "2.0.0.0", 0},  {"2.0.0.1", "2.0", 1},      {"1.0.0.0", "1.0.0.0", 0},
      {" 3.1 ", "3.1", 0},    {"10.0", "9.9.9.9", 1},     {"1.x", "1.0", 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CompareVersion(QString::fromLatin1(c.A), QString::fromLatin1(c.B)), c.Result)
        << c.A << " vs " << c.B;
}

TEST(Helpers, FormatFileSizeTakesTheLargestUnitThatGivesAtLeastOne) {
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  const struct {
    int64_t Bytes;
    const char* Text;
  } cases[] = {
      {0, "0.00 B"},
      {1023, "1,023.00 B"},
      {1024, "1.00 K"},
      {1048575, "1,024.00 K"},
      {1048576, "1.00 M"},
      {1572864, "1.50 M"},
      {1073741823, "1,024.00 M"},
      {1073741824, "1.00 G"},
      {5LL << 40, "5,120.00 G"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatFileSize(c.Bytes), QLatin1String(c.Text)) << c.Bytes;
  QLocale::setDefault(QLocale::system());
}

TEST(Helpers, TimeTextsGoBothWaysPastADay) {
  const struct {
    int64_t Seconds;
    const char* Text;
  } cases[] = {{0, "00:00:00"},     {59, "00:00:59"},    {3661, "01:01:01"},
               {86399, "23:59:59"}, {90000, "25:00:00"}, {360000 + 62, "100:01:02"}};
  for (const auto& c : cases) {
    EXPECT_EQ(SecondsToTimeText(c.Seconds), QLatin1String(c.Text));
    EXPECT_EQ(TimeTextToSeconds(QLatin1String(c.Text)), c.Seconds) << c.Text;
  }
  EXPECT_EQ(TimeTextToSeconds(QStringLiteral("1:2:3")), 3723);
  for (const char* bad : {"", "12:00", "a:b:c", "1:2:3:4", "1:-2:3"})
    EXPECT_EQ(TimeTextToSeconds(QLatin1String(bad)), std::nullopt) << bad;
}

TEST(Helpers, UniqueNamesCutTheLastExtensionOnlyAndSkipNamesThatExist) {
  TScratchFolder folder;
  const QString dotted = folder.File(QStringLiteral("my.videos"));
  ASSERT_TRUE(QDir().mkpath(dotted));
  WriteTextFile(dotted + "/clip_0.jpg", "taken");
  const struct {
    QString Path;
    QString Unique;
  } cases[] = {
      {dotted + "/clip.mp4", dotted + "/clip_1.jpg"},
      {dotted + "/clip", dotted + "/clip_1.jpg"},
      {dotted + "/other.tar.gz", dotted + "/other.tar_0.jpg"},
      {dotted + "/.hidden", dotted + "/.hidden_0.jpg"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MakeUniqueFileName(c.Path, QStringLiteral("jpg"), QStringLiteral("_")), c.Unique);
}

TEST(Helpers, TempNamesAreFreshAndScrambledTextsComeBack) {
  TScratchFolder folder;
  const QString first = MakeTempFileName(folder.Path(), QStringLiteral("png"));
  EXPECT_TRUE(QRegularExpression(
                  QRegularExpression::anchoredPattern(QRegularExpression::escape(folder.Path()) +
                                                      "/~Tmp([0-9a-f]{2})+\\.png"))
                  .match(first)
                  .hasMatch())
      << qPrintable(first);
  WriteTextFile(first, "x");
  EXPECT_NE(MakeTempFileName(folder.Path(), QStringLiteral("png")), first);

  for (const QString& text : {QString(), QStringLiteral("P0"), QStringLiteral("\u00FF\u89C6 zz")}) {
    const QString encoded = ScrambleString(text, QStringLiteral("k3y!k3y?"), true);
    EXPECT_EQ(encoded.size(), 2 + 2 * text.toUtf8().size());
    EXPECT_EQ(ScrambleString(encoded, QStringLiteral("k3y!k3y?"), false), text);
  }
  EXPECT_EQ(ScrambleString(QStringLiteral("zz1"), QStringLiteral("k"), false), QString());
}

TEST(Helpers, FilesByMaskAndClearingAFolder) {
  TScratchFolder folder;
  for (const char* name : {"b.FLV", "a.flv", "c.mp4", ".d.flv", "e.flvx", "notes.txt"})
    WriteTextFile(folder.File(QLatin1String(name)), "x");
  ASSERT_TRUE(QDir().mkpath(folder.File(QStringLiteral("f.flv"))));
  EXPECT_EQ(FindFilesByMask(folder.Path(), QStringLiteral("flv;.mp4"), false),
            (QStringList{"a.flv", "b.FLV", "c.mp4"}));
  EXPECT_EQ(FindFilesByMask(folder.Path(), QStringLiteral("txt"), true),
            QStringList{folder.File(QStringLiteral("notes.txt"))});

  const QString scratch = folder.File(QStringLiteral("scratch"));
  ASSERT_TRUE(QDir().mkpath(scratch));
  WriteTextFile(scratch + "/~Tmp01.png", "x");
  WriteTextFile(scratch + "/.hidden", "x");
  ASSERT_TRUE(QDir().mkpath(scratch + "/preview-1"));  // a dialog's folder of its own
  WriteTextFile(scratch + "/preview-1/Fennick.swf", "x");
  EXPECT_TRUE(ClearFolder(scratch));
  EXPECT_FALSE(QFile::exists(scratch));
  EXPECT_TRUE(ClearFolder(scratch));
}

TEST(Helpers, MediaInfoTextDescribesTheLastVideoAndAudioStreams) {
  TVideoStreamInfo video;
  video.Codec = "h264";
  video.Width = 320;
  video.Height = 240;
  video.FrameRateNum = 30000;
  video.FrameRateDen = 1001;
  video.DurationUS = 3999999;
  TAudioStreamInfo audio;
  audio.Codec = "aac";
  audio.SampleRate = 44100;
  audio.Channels = 2;
  audio.DurationUS = 3000000;
  const QString pad(23, QLatin1Char(' '));
  EXPECT_EQ(MediaInfoText(video, audio),
            pad + "Video Encoder: [h264]\r\n" + pad + "[320x240] 29.970030 fps 3 s\r\n" + pad +
                "Audio Encoder: [aac]\r\n" + pad + "[44100 Hz, 2 Channels] 3 s");
  EXPECT_EQ(MediaInfoText(std::nullopt, audio),
            "\r\n" + pad + "Audio Encoder: [aac]\r\n" + pad + "[44100 Hz, 2 Channels] 3 s");
  EXPECT_EQ(MediaInfoText(std::nullopt, std::nullopt), QStringLiteral("\r\n"));
}

TEST(Helpers, MediaInfoTextOfRealFilesNamesTheirStreams) {
  FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
  ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
  const QString pad(23, QLatin1Char(' '));
  const struct {
    fixtures::Media File;
    QString Video, Audio;
  } cases[] = {
      {fixtures::Media::Mp4H264Aac, "[320x240] 25.000000 fps 3 s", "[44100 Hz, 2 Channels] 3 s"},
      {fixtures::Media::VideoOnly, "[320x240] 25.000000 fps 3 s", QString()},
      {fixtures::Media::Mp3AudioOnly, QString(), "[44100 Hz, 2 Channels] 3 s"},
  };
  for (const auto& c : cases) {
    TFFDecoder decoder;
    ASSERT_TRUE(decoder.LoadFile(fixtures::Path(c.File))) << decoder.LastErrMsg();
    const QStringList lines = GetMediaInfoText(decoder).split(QStringLiteral("\r\n"));
    decoder.CloseFile();
    ASSERT_EQ(lines.size(), (c.Video.isEmpty() ? 1 : 2) + (c.Audio.isEmpty() ? 1 : 2));
    if (!c.Video.isEmpty()) {
      EXPECT_TRUE(lines[0].startsWith(pad + "Video Encoder: [h264")) << qPrintable(lines[0]);
      EXPECT_EQ(lines[1], pad + c.Video);
    }
    if (!c.Audio.isEmpty()) {
      EXPECT_EQ(lines.last(), pad + c.Audio);
    }
  }
  FFLoader().Unload(AllLibraries);
}

}  // namespace
