#include "FFLoad.h"
#include "MediaFixtures.h"
#include "U_FileOption.h"
#include "U_properties.h"

#include <QFile>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

namespace {

TEST(Properties, NumbersReadAsTheWindowShowsThem) {
  EXPECT_EQ(FrameRateText(25, 1), QStringLiteral("25.00 fps"));
  EXPECT_EQ(FrameRateText(30000, 1001), QStringLiteral("29.97 fps"));
  EXPECT_EQ(FrameRateText(25, 0), UnknownProperty);
  EXPECT_EQ(BitRateText(128999), QStringLiteral("128 kbps"));
  EXPECT_EQ(BitRateText(-1), UnknownProperty);
  const struct {
    int Channels;
    const char* Text;
  } cases[] = {{1, "Mono"}, {2, "Stereo"}, {6, "6 Channels"}, {0, "unknown"}};
  for (const auto& c : cases) EXPECT_EQ(ChannelText(c.Channels), QString::fromLatin1(c.Text));
}

TEST(Properties, OfRealFiles) {
  FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
  ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
  const std::string broken = fixtures::TempDir("properties") + "/broken.mp4";
  std::ofstream(broken) << "this is no video";
  const std::string pipe = fixtures::TempDir("properties") + "/pipe.mp4";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const std::string sixChannels =
      fixtures::Make("six_channels.wav", "-f lavfi -i sine=duration=1 -ac 6 -c:a pcm_s16le");
  // A song with its cover: the picture is no video.
  const std::string withCover = fixtures::SongWithCover(1);
  const QString unknown = UnknownProperty;
  const struct {
    std::string File;
    QString FrameSize;  // as the list records it
    QString Resolution, FrameRate, SampleRate, Channel;
    bool VideoBitRate, AudioBitRate;
  } cases[] = {
      {fixtures::Path(fixtures::Media::Mp4H264Aac), "320x240", "320x240", "25.00 fps", "44100 Hz",
       "Stereo", true, true},
      {fixtures::Path(fixtures::Media::Mp3AudioOnly), "0x0", unknown, unknown, "44100 Hz", "Stereo",
       false, true},
      {withCover, "160x120", unknown, unknown, "44100 Hz", "Mono", false, true},
      {sixChannels, "0x0", unknown, unknown, "44100 Hz", "6 Channels", false, true},
      {broken, "320x240", "320x240", unknown, unknown, unknown, false, false},
      {pipe, "320x240", "320x240", unknown, unknown, unknown, false, false},
  };
  for (const auto& c : cases) {
    TFileOption entry;
    entry.Input.FileName = c.File;
    entry.Duration = 3600000000LL + 3000000;
    entry.SourceFrameSize = c.FrameSize;
    const TFileProperties properties = FilePropertiesOf(entry);
    EXPECT_EQ(properties.FileName, QFile::decodeName(c.File.c_str()).section('/', -1)) << c.File;
    EXPECT_EQ(properties.TimeLength, QStringLiteral("01:00:03"));
    EXPECT_EQ(properties.Resolution, c.Resolution) << c.File;
    EXPECT_EQ(properties.FrameRate, c.FrameRate) << c.File;
    EXPECT_EQ(properties.SampleRate, c.SampleRate) << c.File;
    EXPECT_EQ(properties.Channel, c.Channel) << c.File;
    EXPECT_EQ(properties.VideoBitRate.endsWith(" kbps"), c.VideoBitRate) << c.File;
    EXPECT_EQ(properties.AudioBitRate.endsWith(" kbps"), c.AudioBitRate) << c.File;
  }
  TFileOption named;
  named.DisplayName = QStringLiteral("Part_2");
  named.Input.FileName = broken;
  EXPECT_EQ(FilePropertiesOf(named).FileName, QStringLiteral("Part_2"));
  FFLoader().Unload(AllLibraries);
}

}  // namespace
