// The encoder's option records and option text: how the application's records become the
// streams and settings of an opened output.
#include <cstdlib>
#include <ctime>

#include "FFEncode.h"
#include "FFmpegTestSupport.h"
#include "MediaFixtures.h"

namespace {

// An encoder task whose outputs the tests can read.
class TVisibleTask : public TFFmpeg {
 public:
  TVisibleTask() : TFFmpeg(20, nullptr) { RaiseOptionErrors = true; }
  using TCustomFFmpeg::FInputStreams;
  using TCustomFFmpeg::FOutputFiles;
  using TCustomFFmpeg::FPending;
  using TCustomFFmpeg::FSettings;

  TOutputStream& Stream(int file, int stream) { return *FOutputFiles.at(file)->Streams.at(stream); }
  std::vector<AVCodecID> Codecs(int file) {
    std::vector<AVCodecID> codecs;
    for (const auto& ost : FOutputFiles.at(size_t(file))->Streams)
      codecs.push_back(ost->Encoder->codec_id);
    return codecs;
  }
  std::string Tag(int file, const std::string& key) {
    return GetMetadataValue(OutputFormatContext(file)->metadata, key, "");
  }
};

class EncodeOptionsTest : public FFmpegTestBase {
 protected:
  void SetUp() override {
    FFmpegTestBase::SetUp();
    Folder = fixtures::TempDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_TRUE(Task.OpenInput(fixtures::Path(fixtures::Media::Mp4H264Aac), nullptr))
        << Task.LastErrMsg;
  }
  bool Open(const TOutputOptions& options, const std::string& name = "out.mkv") {
    const bool opened = Task.OpenOutput(Folder + "/" + name, &options);
    EXPECT_TRUE(opened) << Task.LastErrMsg;
    return opened;
  }

  std::string Folder;
  TVisibleTask Task;
};

// Sets TZ for one test and puts the old zone back.
class TTimeZone {
 public:
  explicit TTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) FOld = old, FHadOld = true;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~TTimeZone() {
    if (FHadOld)
      ::setenv("TZ", FOld.c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::string FOld;
  bool FHadOld = false;
};

// The local date and time as days since 1899-12-30.
double DateTime(int year, int month, int day, int hour, int minute, double second) {
  std::tm date{};
  date.tm_year = year - 1900;
  date.tm_mon = month - 1;
  date.tm_mday = day;
  const double days = double(timegm(&date) / 86400) + 25569;
  return days + (hour * 3600 + minute * 60 + second) / 86400.0;
}

int64_t Utc(int year, int month, int day, int hour, int minute) {
  std::tm date{};
  date.tm_year = year - 1900;
  date.tm_mon = month - 1;
  date.tm_mday = day;
  date.tm_hour = hour;
  date.tm_min = minute;
  return int64_t(timegm(&date));
}

// ---- Option text ----

TEST(OptionTextTest, LinesBreakAtAnyLineEndAndAtTheLiteralMarker) {
  EXPECT_EQ(SplitOptionText("deinterlace=1<CRLF>"), (TOptionLines{{"deinterlace", "1"}}));
  EXPECT_EQ(SplitOptionText("a=1\r\nb=2\rc=3\nd=4<CRLF>e=5\r\n\r\n"),
            (TOptionLines{{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}, {"e", "5"}}));
  EXPECT_TRUE(SplitOptionText("").empty());
  EXPECT_TRUE(SplitOptionText("<CRLF>\r\n").empty());
}

TEST(OptionTextTest, NamesAreLowerCasedAndValuesKeptAsWritten) {
  EXPECT_EQ(
      SplitOptionText("VCodec=FLV \nmetadata=title=A=B\ncopyts\nEmpty="),
      (TOptionLines{{"vcodec", "FLV "}, {"metadata", "title=A=B"}, {"copyts", ""}, {"empty", ""}}));
}

// ---- Local time ----

TEST(LocalTimeTest, FollowsTheZoneRulesOfTheDateDaylightSavingIncluded) {
  {
    TTimeZone zone("Europe/Berlin");
    EXPECT_EQ(LocalDateTimeToUnixTime(DateTime(2024, 1, 15, 12, 0, 0)), Utc(2024, 1, 15, 11, 0));
    EXPECT_EQ(LocalDateTimeToUnixTime(DateTime(2024, 7, 15, 12, 0, 0)), Utc(2024, 7, 15, 10, 0));
    // The last hour before and the first after the spring change.
    EXPECT_EQ(LocalDateTimeToUnixTime(DateTime(2024, 3, 31, 1, 30, 0)), Utc(2024, 3, 31, 0, 30));
    EXPECT_EQ(LocalDateTimeToUnixTime(DateTime(2024, 3, 31, 3, 30, 0)), Utc(2024, 3, 31, 1, 30));
    // Parts of a second round to the nearest second.
    EXPECT_EQ(LocalDateTimeToUnixTime(DateTime(2024, 1, 15, 12, 0, 0.6)),
              Utc(2024, 1, 15, 11, 0) + 1);
    EXPECT_EQ(LocalDateTimeToUnixTime(DateTime(1970, 1, 1, 1, 0, 0)), 0);
  }
  {
    // The southern summer is in January.
    TTimeZone zone("Australia/Sydney");
    EXPECT_EQ(LocalDateTimeToUnixTime(DateTime(2024, 1, 15, 12, 0, 0)), Utc(2024, 1, 15, 1, 0));
    EXPECT_EQ(LocalDateTimeToUnixTime(DateTime(2024, 7, 15, 12, 0, 0)), Utc(2024, 7, 15, 2, 0));
  }
}

// ---- Records ----

TEST_F(EncodeOptionsTest, ADefaultOutputRecordChangesNothing) {
  const TTaskSettings before = Task.FSettings;
  TOutputOptions options;
  InitOutputOptions(options);
  Task.ApplyOutputOptions(options);
  EXPECT_EQ(Task.FSettings.VideoSyncMethod, before.VideoSyncMethod);
  EXPECT_EQ(Task.FSettings.AudioSyncMethod, before.AudioSyncMethod);
  EXPECT_EQ(Task.FSettings.AudioVolume, before.AudioVolume);
  EXPECT_EQ(Task.FSettings.MuxDelay, before.MuxDelay);
  EXPECT_EQ(Task.FSettings.MuxPreload, before.MuxPreload);
  EXPECT_EQ(Task.FSettings.StartTime, before.StartTime);
  EXPECT_EQ(Task.FSettings.RecordingTime, before.RecordingTime);
  EXPECT_FALSE(Task.FSettings.RecordingTimestamp.has_value());
  EXPECT_FALSE(Task.FSettings.CopyTs);
  EXPECT_FALSE(Task.FSettings.InputSync);
  ASSERT_TRUE(Open(options, "out.flv"));
  EXPECT_EQ(Task.Codecs(0), (std::vector<AVCodecID>{AV_CODEC_ID_FLV1, AV_CODEC_ID_MP3}));
  EXPECT_EQ(Task.Stream(0, 0).Encoder->width, 0);  // the input's size
  EXPECT_EQ(Task.Stream(0, 1).Encoder->sample_rate, 0);
  EXPECT_EQ(Task.Tag(0, "creation_time"), "");
}

TEST_F(EncodeOptionsTest, EveryFieldReachesTheOutput) {
  TOutputOptions options;
  options.VideoCodec = "mpeg4";
  options.AudioCodec = "mp2";
  options.FrameSize = "160x120";
  options.FrameRate = "15";
  options.FrameAspectRatio = "4:3";
  options.GOPSize = 12;
  options.VideoBitrate = 300000;
  options.MaxRate = 400000;
  options.BufferSize = 800000;
  options.VideoFilters = "nativeeq=10:0";
  options.VideoLanguage = "ger";
  options.AudioSampleRate = 22050;
  options.AudioChannels = 1;
  options.AudioBitrate = 64000;
  options.AudioLanguage = "fre";
  options.AudioVolume = 128;
  options.MuxDelay = 1.5f;
  options.TimeLength = 2000000;
  options.CopyTimestamps = true;
  options.Metadata.Title = "Clip";
  options.Metadata.Author = "Me";
  options.Metadata.Year = 2001;
  options.Metadata.Track = 0;  // not written
  ASSERT_TRUE(Open(options));
  EXPECT_EQ(Task.Codecs(0), (std::vector<AVCodecID>{AV_CODEC_ID_MPEG4, AV_CODEC_ID_MP2}));
  const AVCodecContext& video = *Task.Stream(0, 0).Encoder;
  const AVCodecContext& audio = *Task.Stream(0, 1).Encoder;
  EXPECT_EQ(video.width, 160);
  EXPECT_EQ(video.height, 120);
  EXPECT_EQ(video.gop_size, 12);
  EXPECT_EQ(video.bit_rate, 300000);
  EXPECT_EQ(video.rc_max_rate, 400000);
  EXPECT_EQ(video.rc_buffer_size, 800000);
  EXPECT_EQ(Task.Stream(0, 0).FrameRate.num, 15);
  EXPECT_DOUBLE_EQ(Task.Stream(0, 0).FrameAspectRatio, 4.0 / 3.0);
  EXPECT_EQ(Task.Stream(0, 0).VideoFilters, "nativeeq=10:0");
  EXPECT_EQ(GetMetadataValue(Task.Stream(0, 0).St->metadata, "language", ""), "ger");
  EXPECT_EQ(audio.sample_rate, 22050);
  EXPECT_EQ(audio.ch_layout.nb_channels, 1);
  EXPECT_EQ(audio.bit_rate, 64000);
  EXPECT_EQ(GetMetadataValue(Task.Stream(0, 1).St->metadata, "language", ""), "fre");
  EXPECT_EQ(Task.FSettings.AudioVolume, 128);
  EXPECT_DOUBLE_EQ(Task.FSettings.MuxDelay, 1.5);
  EXPECT_EQ(Task.FSettings.RecordingTime, 2000000);
  EXPECT_TRUE(Task.FSettings.CopyTs);
  EXPECT_EQ(Task.Tag(0, "title"), "Clip");
  EXPECT_EQ(Task.Tag(0, "author"), "Me");
  EXPECT_EQ(Task.Tag(0, "year"), "2001");
  EXPECT_EQ(Task.Tag(0, "track"), "");
  EXPECT_EQ(Task.OutputOptions(0).FileName, Folder + "/out.mkv");
}

TEST_F(EncodeOptionsTest, ATargetsBitRatesWinOverTheRecords) {
  TOutputOptions options;
  options.Target = 1;
  options.AudioBitrate = 96000;
  options.VideoBitrate = 500000;
  ASSERT_TRUE(Open(options, "vcd.mpg"));
  EXPECT_EQ(Task.Stream(0, 0).Encoder->codec_id, AV_CODEC_ID_MPEG1VIDEO);
  EXPECT_EQ(Task.Stream(0, 0).Encoder->bit_rate, 1150000);
  EXPECT_EQ(Task.Stream(0, 0).Encoder->height, 288);  // PAL: the input runs at 25 fps
  EXPECT_EQ(Task.Stream(0, 1).Encoder->bit_rate, 224000);

  TOutputOptions ntsc;
  ntsc.Target = 3;
  ntsc.TargetNorm = 2;
  ntsc.AudioBitrate = 96000;
  ASSERT_TRUE(Open(ntsc, "dvd.mpg"));
  EXPECT_EQ(Task.Stream(1, 0).Encoder->height, 480);
  EXPECT_EQ(Task.Stream(1, 1).Encoder->bit_rate, 448000);
}

TEST_F(EncodeOptionsTest, TheTimestampIsNoneThePresentOrALocalTime) {
  TOutputOptions none;
  ASSERT_TRUE(Open(none, "none.mkv"));
  EXPECT_EQ(Task.Tag(0, "creation_time"), "");

  TOutputOptions now;
  now.Metadata.Timestamp = 0.0;
  Task.ApplyOutputOptions(now);
  ASSERT_TRUE(Task.FSettings.RecordingTimestamp.has_value());
  EXPECT_NEAR(double(*Task.FSettings.RecordingTimestamp), double(std::time(nullptr)), 5.0);

  TTimeZone zone("Europe/Berlin");
  TOutputOptions summer;
  summer.Metadata.Timestamp = DateTime(2020, 6, 1, 14, 0, 0);
  ASSERT_TRUE(Open(summer, "summer.mkv"));
  EXPECT_EQ(Task.Tag(1, "creation_time").rfind("2020-06-01T12:00:00", 0), 0u)
      << Task.Tag(1, "creation_time");
}

// ---- Option text in the records ----

TEST_F(EncodeOptionsTest, InputTextSetsDecodersAndIsAppliedBeforeTheInputOpens) {
  TVisibleTask task;
  TInputOptions options;
  options.ExtOptions = "VCODEC=h264<CRLF>";
  options.StartTime = 1000000;
  ASSERT_TRUE(task.OpenInput(fixtures::Path(fixtures::Media::Mp4H264Aac), &options))
      << task.LastErrMsg;
  EXPECT_EQ(task.InputOptions(0).FileName, fixtures::Path(fixtures::Media::Mp4H264Aac));
  EXPECT_EQ(task.InputOptions(0).StartTime, 1000000);
  ASSERT_FALSE(task.FInputStreams.empty());
  ASSERT_NE(task.FInputStreams[0]->ForcedDecoder, nullptr);
  EXPECT_STREQ(task.FInputStreams[0]->ForcedDecoder->name, "h264");
  // Three seconds of media, one skipped.
  EXPECT_NEAR(double(task.TotalTime), 2000000.0, 100000.0);

  TInputOptions bad;
  bad.ExtOptions = "nosuchoption=1";
  EXPECT_EQ(ErrorOf([&] { task.OpenInput(fixtures::Path(fixtures::Media::Mp4H264Aac), &bad); }),
            "Unrecognized option \"nosuchoption\"");
}

TEST_F(EncodeOptionsTest, OutputTextLeavesStreamsAndFiltersForLater) {
  Task.ApplyOptionText("vcodec=mpeg4\nnewaudio=\nvf=scale=1:1\ncopyts=1\ns=10x10", false);
  EXPECT_TRUE(Task.FSettings.CopyTs);
  EXPECT_EQ(Task.FPending.Kinds[AVMEDIA_TYPE_VIDEO].CodecName, "");
  EXPECT_EQ(Task.FPending.FrameWidth, 0);
  EXPECT_EQ(Task.FPending.VideoFilters, "");
  // A stream-creating name applied here would have thrown: there is no output yet.
  EXPECT_EQ(Task.OutputCount(), 0);
}

TEST_F(EncodeOptionsTest, ACodecLineServesTheFirstStreamWhenTheFieldIsEmpty) {
  TOutputOptions options;
  options.ExtOptions = "acodec=mp2\nVFilters=nativehue=20:0\ns=160x120";
  ASSERT_TRUE(Open(options));
  EXPECT_EQ(Task.Codecs(0), (std::vector<AVCodecID>{AV_CODEC_ID_H264, AV_CODEC_ID_MP2}));
  EXPECT_EQ(Task.Stream(0, 0).VideoFilters, "nativehue=20:0");
  EXPECT_EQ(Task.Stream(0, 0).Encoder->width, 160);
}

TEST_F(EncodeOptionsTest, ExtraStreamsTakeTheirKindsLinesInOrderThenTheDefault) {
  TOutputOptions options;
  options.AudioCodec = "pcm_s16le";
  options.VideoCodec = "mpeg4";
  options.ExtOptions = "newaudio=\nacodec=ac3\nnewaudio=\nnewvideo=\nvcodec=mjpeg\ns=64x48";
  ASSERT_TRUE(Open(options));
  EXPECT_EQ(Task.Codecs(0),
            (std::vector<AVCodecID>{AV_CODEC_ID_MPEG4, AV_CODEC_ID_PCM_S16LE, AV_CODEC_ID_AC3,
                                    AV_CODEC_ID_PCM_S16LE, AV_CODEC_ID_MJPEG}));
  // With FrameSize empty the size line is the first stream's default, and the extra stream's
  // own line.
  EXPECT_EQ(Task.Stream(0, 0).Encoder->width, 64);
  EXPECT_EQ(Task.Stream(0, 4).Encoder->width, 64);
}

TEST_F(EncodeOptionsTest, AJoinedOutputTakesEveryInput) {
  ASSERT_TRUE(Task.OpenInput(fixtures::Path(fixtures::Media::AviMpeg4Mp3), nullptr));
  TOutputOptions options;
  options.JoinInputs = true;
  ASSERT_TRUE(Open(options, "joined.flv"));
  EXPECT_EQ(Task.OutputCount(), 2);
  EXPECT_NEAR(double(Task.TotalTime), 6000000.0, 200000.0);
}

TEST_F(EncodeOptionsTest, AnOptionTheParserRejectsThrowsOutOfTheOpen) {
  TOutputOptions options;
  options.ExtOptions = "croptop=10";
  EXPECT_EQ(ErrorOf([&] { Task.OpenOutput(Folder + "/out.flv", &options); }),
            "Removed, use the crop filter instead");
  options.ExtOptions = "vol=loud";
  EXPECT_NE(ErrorOf([&] { Task.OpenOutput(Folder + "/out.flv", &options); }), "");
}

}  // namespace
