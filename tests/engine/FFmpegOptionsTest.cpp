// The option vocabulary of the transcoder task, its value checks and the target presets.
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "FFmpegTestSupport.h"
#include "MediaFixtures.h"

namespace {

class OptionsTest : public FFmpegTestBase {
 protected:
  void SetUp() override {
    FFmpegTestBase::SetUp();
    Task = std::make_unique<TProbeTask>();
    Task->RaiseOptionErrors = true;
  }
  std::string Error(const std::string& name, const std::string& value) {
    return ErrorOf([&] { Task->ParseOption(name, value); });
  }

  std::unique_ptr<TProbeTask> Task;
};

TEST_F(OptionsTest, VocabularyHoldsItsNamesInComparisonOrder) {
  // clang-format off
  const std::vector<std::string> expected = {
      "L", "h", "version", "formats", "codecs", "bsfs", "protocols", "filters", "loglevel", "f",
      "i", "y", "map", "map_meta_data", "map_metadata", "map_chapters", "t", "fs", "ss",
      "itsoffset", "itsscale", "timestamp", "metadata", "dframes", "benchmark", "timelimit",
      "dump", "hex", "re", "loop_input", "loop_output", "v", "target", "threads", "vsync",
      "async", "adrift_threshold", "copyts", "copytb", "shortest", "dts_delta_threshold",
      "programid", "xerror", "copyinkf", "b", "vb", "vframes", "r", "s", "aspect", "pix_fmt",
      "bits_per_raw_sample", "croptop", "cropbottom", "cropleft", "cropright", "padtop",
      "padbottom", "padleft", "padright", "padcolor", "intra", "vn", "vdt", "qscale",
      "rc_override", "vcodec", "me_threshold", "sameq", "deinterlace", "psnr", "pass",
      "passlogfile", "vstats", "vstats_file", "vhook", "vfilters", "vf", "intra_matrix",
      "inter_matrix", "top", "dc", "vtag", "newvideo", "vlang", "qphist", "force_fps",
      "streamid", "force_key_frames", "ab", "aframes", "aq", "ar", "ac", "an", "acodec", "atag",
      "vol", "newaudio", "alang", "sample_fmt", "sn", "scodec", "newsubtitle", "slang", "stag",
      "vc", "tvstd", "isync", "muxdelay", "muxpreload", "absf", "vbsf", "sbsf", "apre", "vpre",
      "spre", "fpre", "dcodec"};
  // clang-format on
  EXPECT_EQ(expected.size(), 119u);
  EXPECT_EQ(TCustomFFmpeg::OptionNames(), expected);
}

TEST_F(OptionsTest, NoOperationNamesOnlyLogThemselves) {
  TLogRecorder log;
  for (const char* name : {"L", "h", "version", "formats", "codecs", "bsfs", "protocols", "filters",
                           "i", "y", "benchmark"}) {
    EXPECT_EQ(Error(name, "anything"), "") << name;
    EXPECT_TRUE(log.Has(std::string("Do nothing: option - ") + name, llInfo, Task.get())) << name;
  }
  EXPECT_EQ(Error("timelimit", "10"), "");
  EXPECT_TRUE(log.Has("Warning: -timelimit not implemented on Windows", llWarning, Task.get()));
}

TEST_F(OptionsTest, FlagsAreSetByAnyValueButZero) {
  Task->ParseOption("copyts", "0");
  EXPECT_FALSE(Task->FSettings.CopyTs);
  for (const char* value : {"1", "yes", ""}) {
    Task->ParseOption("copyts", "0");
    Task->ParseOption("copyts", value);
    EXPECT_TRUE(Task->FSettings.CopyTs) << '"' << value << '"';
  }
}

TEST_F(OptionsTest, NamesAreCaseSensitiveAndUnknownOnesGoToTheGenericSetter) {
  EXPECT_EQ(Error("VCODEC", "flv"), "Unrecognized option \"VCODEC\"");
  EXPECT_EQ(Error("g", "abc"), "Invalid value \"abc\" for option \"g\"");
  EXPECT_EQ(Error("g", "12"), "");
  EXPECT_EQ(Task->VideoOptions()->gop_size, 12);
  Task->RaiseOptionErrors = false;
  EXPECT_EQ(Error("VCODEC", "flv"), "");
}

TEST_F(OptionsTest, RemovedCropAndPadOptionsAlwaysRaise) {
  Task->RaiseOptionErrors = false;
  for (const char* name : {"croptop", "cropbottom", "cropleft", "cropright"})
    EXPECT_EQ(Error(name, "8"), "Removed, use the crop filter instead") << name;
  for (const char* name : {"padtop", "padbottom", "padleft", "padright", "padcolor"})
    EXPECT_EQ(Error(name, "8"), "Removed, use the pad filter instead") << name;
}

TEST_F(OptionsTest, MetadataNeedsAKeyAndAnEqualsSign) {
  EXPECT_EQ(Error("metadata", "title"), "Missing =");
  EXPECT_EQ(Error("metadata", "=clip"), "wrong parameter of metadata");
  EXPECT_EQ(Error("metadata", "title=A=B clip"), "");
  EXPECT_EQ(GetMetadataValue(Task->FPending.Metadata.Value, "title", ""), "A=B clip");
}

// A locale whose decimal separator is a comma: the system's, else one made for the test.
bool UseCommaLocale() {
  if (std::setlocale(LC_ALL, "de_DE.UTF-8")) return true;
  const std::string folder = std::string(FENNICK_TEST_WORK_DIR) + "/locales";
  if (!std::filesystem::exists(folder + "/de_DE.UTF-8")) {
    std::filesystem::create_directories(folder);
    fixtures::Run("localedef -i de_DE -f UTF-8 " + fixtures::ShellQuote(folder + "/de_DE.UTF-8"));
  }
  ::setenv("LOCPATH", folder.c_str(), 1);
  const bool made = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  ::unsetenv("LOCPATH");
  return made;
}

TEST_F(OptionsTest, NumbersAreReadWithADotWhateverTheLocale) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  const bool comma = UseCommaLocale();
  if (comma) {
    EXPECT_DOUBLE_EQ(std::strtod("0.25", nullptr), 0);  // the locale does bite
  }
  Task->ParseOption("adrift_threshold", "0.25");
  Task->ParseOption("muxdelay", "1.5");
  Task->ParseOption("itsscale", "0:1.001");
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_DOUBLE_EQ(Task->FSettings.AudioDriftThreshold, 0.25);
  EXPECT_DOUBLE_EQ(Task->FSettings.MuxDelay, 1.5);
  EXPECT_EQ(Task->FPending.InputTsScale, std::vector<double>{1.001});
  if (!comma) GTEST_LOG_(INFO) << "no comma locale could be made; checked in the C locale only";
  EXPECT_EQ(Error("v", "abc"), "'abc' is not a valid integer value");
  EXPECT_EQ(Error("v", "2x"), "'2x' is not a valid integer value");
  EXPECT_EQ(Error("dts_delta_threshold", "0,5"), "'0,5' is not a valid floating point value");
  Task->ParseOption("v", " 3 ");
  EXPECT_EQ(Task->Verbose(), 3);
}

TEST_F(OptionsTest, SettersIgnoreTheValuesTheyMustNotTake) {
  Task->ParseOption("muxdelay", "0");
  Task->ParseOption("muxpreload", "-1");
  Task->SetMuxPreload(std::nan(""));
  EXPECT_DOUBLE_EQ(Task->FSettings.MuxDelay, 0.7);
  EXPECT_DOUBLE_EQ(Task->FSettings.MuxPreload, 0.5);
  Task->ParseOption("vol", "-5");
  EXPECT_EQ(Task->FSettings.AudioVolume, 256);
  Task->ParseOption("vol", "512");
  EXPECT_EQ(Task->FSettings.AudioVolume, 512);
  Task->ParseOption("programid", "-2");
  EXPECT_EQ(Task->FSettings.ProgramID, -1);
  Task->ParseOption("ar", "0");
  Task->ParseOption("ac", "-1");
  EXPECT_EQ(Task->FPending.AudioSampleRate, 0);
  EXPECT_EQ(Task->FPending.AudioChannels, 0);
  Task->SetStartTime(AV_NOPTS_VALUE);
  Task->SetRecordingTime(AV_NOPTS_VALUE);
  EXPECT_EQ(Task->FSettings.StartTime, 0);
  EXPECT_EQ(Task->FSettings.RecordingTime, INT64_MAX);
}

TEST_F(OptionsTest, TimesAreDurationsOrDates) {
  Task->ParseOption("t", "00:01:02.5");
  EXPECT_EQ(Task->FSettings.RecordingTime, 62500000);
  EXPECT_EQ(Task->TotalTime, 62500000);
  Task->ParseOption("ss", "1.5");
  EXPECT_EQ(Task->FSettings.StartTime, 1500000);
  EXPECT_EQ(Error("t", "abc"), "Invalid duration specification for t: abc");
  EXPECT_EQ(Error("timestamp", "notadate"), "Invalid date specification for timestamp: notadate");
  Task->ParseOption("timestamp", "2010-03-04 05:06:07Z");
  EXPECT_EQ(Task->FSettings.RecordingTimestamp.value_or(0), 1267679167);
}

TEST_F(OptionsTest, ForcedKeyFramesBecomeEncoderTimeBaseUnits) {
  TOutputStream ost;
  AVCodecContext encoder{};
  encoder.time_base = {1, 25};
  Task->ParseForcedKeyFrames("1,2.5,00:00:03", ost, encoder);
  EXPECT_EQ(ost.ForcedKfPts, (std::vector<int64_t>{25, 63, 75}));
  encoder.time_base = {1, 1000};
  Task->ParseForcedKeyFrames("1,2.5,00:00:03", ost, encoder);
  EXPECT_EQ(ost.ForcedKfPts, (std::vector<int64_t>{1000, 2500, 3000}));
  EXPECT_EQ(ErrorOf([&] { Task->ParseForcedKeyFrames("1,x", ost, encoder); }),
            "Invalid duration specification for force_key_frames: x");
}

TEST_F(OptionsTest, FrameOptionsCheckTheirValues) {
  EXPECT_EQ(Error("r", "abc"), "Incorrect frame rate");
  EXPECT_EQ(Error("s", "huge"), "Incorrect frame size");
  EXPECT_EQ(Error("aspect", "0"), "Incorrect aspect ratio specification.");
  EXPECT_EQ(Error("aspect", "x:y"), "Incorrect aspect ratio specification.");
  Task->ParseOption("r", "30000/1001");
  EXPECT_EQ(Task->FPending.FrameRate.num, 30000);
  EXPECT_EQ(Task->FPending.FrameRate.den, 1001);
  Task->ParseOption("s", "hd720");
  EXPECT_EQ(Task->FPending.FrameWidth, 1280);
  EXPECT_EQ(Task->FPending.FrameHeight, 720);
  Task->ParseOption("aspect", "16:9");
  EXPECT_DOUBLE_EQ(Task->FPending.FrameAspectRatio, 16.0 / 9.0);
  Task->ParseOption("aspect", "1.5");
  EXPECT_DOUBLE_EQ(Task->FPending.FrameAspectRatio, 1.5);
}

TEST_F(OptionsTest, PixelAndSampleFormatsAreNamedOrListed) {
  TLogRecorder log;
  EXPECT_EQ(Error("pix_fmt", "nosuch"), "Unknown pixel format requested: nosuch");
  EXPECT_EQ(Error("sample_fmt", "bad"), "Invalid sample format \"bad\"");
  Task->ParseOption("pix_fmt", "yuv422p");
  EXPECT_EQ(Task->FPending.FramePixFmt, AV_PIX_FMT_YUV422P);
  Task->ParseOption("sample_fmt", "s16");
  EXPECT_EQ(Task->FPending.AudioSampleFmt, AV_SAMPLE_FMT_S16);
  Task->ParseOption("pix_fmt", "list");
  Task->ParseOption("sample_fmt", "list");
  EXPECT_EQ(log.CountStartingWith("yuv420p "), 1);
  EXPECT_EQ(log.CountStartingWith("s16 "), 1);
  EXPECT_EQ(Task->FPending.FramePixFmt, AV_PIX_FMT_YUV422P);
}

TEST_F(OptionsTest, QualityPassAndMatrixValuesAreChecked) {
  EXPECT_EQ(Error("qscale", "0"), "qscale must be > 0.0 and <= 255");
  EXPECT_EQ(Error("qscale", "256"), "qscale must be > 0.0 and <= 255");
  EXPECT_EQ(Error("qscale", "255"), "");
  EXPECT_EQ(Error("pass", "3"), "pass number can be only 1 or 2");
  EXPECT_EQ(Error("pass", "2"), "");
  EXPECT_EQ(Error("intra_matrix", "1,2,3"), "Syntax error in matrix \"1,2,3\" at coeff 2");
  EXPECT_EQ(Error("inter_matrix", "8,x"), "Syntax error in matrix \"8,x\" at coeff 1");
  std::string matrix = "16";
  for (int n = 1; n < 64; ++n) matrix += "," + std::to_string(16 + n);
  EXPECT_EQ(Error("intra_matrix", matrix), "");
  ASSERT_EQ(Task->FSettings.IntraMatrix.size(), 64u);
  EXPECT_EQ(Task->FSettings.IntraMatrix[63], 79);
}

TEST_F(OptionsTest, CodecAndTagOptionsNameTheirKind) {
  EXPECT_EQ(ErrorOf([&] { Task->OptCodec("xcodec", "flv"); }), "Invalid parameter \"xcodec\"");
  EXPECT_EQ(ErrorOf([&] { Task->OptCodecTag("xtag", "FLV1"); }), "Invalid tag parmeter xtag");
  EXPECT_EQ(Error("vtag", "abc"), "tag parameter must be 4 chars or int value");
  Task->ParseOption("vtag", "FLV1");
  EXPECT_EQ(Task->FPending.Kinds[AVMEDIA_TYPE_VIDEO].CodecTag, MKTAG('F', 'L', 'V', '1'));
  Task->ParseOption("atag", "85");
  EXPECT_EQ(Task->FPending.Kinds[AVMEDIA_TYPE_AUDIO].CodecTag, 85u);
  Task->ParseOption("acodec", "copy");
  EXPECT_TRUE(Task->FPending.Kinds[AVMEDIA_TYPE_AUDIO].StreamCopy);
  Task->ParseOption("acodec", "libmp3lame");
  EXPECT_FALSE(Task->FPending.Kinds[AVMEDIA_TYPE_AUDIO].StreamCopy);
  EXPECT_EQ(Task->FPending.Kinds[AVMEDIA_TYPE_AUDIO].CodecName, "libmp3lame");
}

TEST_F(OptionsTest, ABitrateGivenInKilobitsIsWarnedAbout) {
  TLogRecorder log;
  const std::string warning =
      "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s";
  Task->ParseOption("ab", "64");
  EXPECT_TRUE(log.Has(warning, llWarning, Task.get()));
  EXPECT_EQ(Task->AudioOptions()->bit_rate, 64);
  TLogRecorder quiet;
  Task->ParseOption("b", "400000");
  EXPECT_FALSE(quiet.HasText(warning));
  EXPECT_EQ(Task->VideoOptions()->bit_rate, 400000);
}

TEST_F(OptionsTest, StreamIdsMapsAndScalesAreParsed) {
  EXPECT_EQ(Error("streamid", "x"),
            "Invalid value \"x\" for option \"streamid\", required syntax is \"index:value\"");
  EXPECT_EQ(Error("streamid", "1:"),
            "Invalid value \"1:\" for option \"streamid\", required syntax is \"index:value\"");
  Task->ParseOption("streamid", "2:301");
  EXPECT_EQ(Task->FPending.StreamIDs, (std::vector<int>{0, 0, 301}));
  EXPECT_EQ(Error("itsscale", "2000:1"), "stream index over MAX_STREAMS(1024)");
  Task->ParseOption("itsscale", "1:1.001");
  EXPECT_EQ(Task->FPending.InputTsScale, (std::vector<double>{0, 1.001}));
  Task->ParseOption("map", "0.1:1.0");
  Task->ParseOption("map", "0x1.2");
  ASSERT_EQ(Task->FStreamMaps.size(), 2u);
  EXPECT_EQ(Task->FStreamMaps[0].StreamIndex, 1);
  EXPECT_EQ(Task->FStreamMaps[0].SyncFileIndex, 1);
  EXPECT_EQ(Task->FStreamMaps[1].FileIndex, 1);
  EXPECT_EQ(Task->FStreamMaps[1].SyncStreamIndex, 2);
  EXPECT_EQ(Error("map_metadata", "0,x:0"), "Invalid metadata type x.");
  TLogRecorder log;
  Task->ParseOption("map_meta_data", "0,s1:1,c2");
  EXPECT_TRUE(
      log.Has("-map_meta_data is deprecated and will be removed soon. Use -map_metadata instead.",
              llWarning, Task.get()));
  ASSERT_EQ(Task->FMetadataMaps.size(), 1u);
  EXPECT_EQ(Task->FMetadataMaps[0].Output.Type, 's');
  EXPECT_EQ(Task->FMetadataMaps[0].Output.Index, 1);
  EXPECT_EQ(Task->FMetadataMaps[0].Input.File, 1);
  EXPECT_EQ(Task->FMetadataMaps[0].Input.Type, 'c');
  EXPECT_EQ(Task->FMetadataMaps[0].Input.Index, 2);
  Task->ParseOption("map_chapters", "0:1");
  ASSERT_EQ(Task->FChapterMaps.size(), 1u);
  EXPECT_EQ(Task->FChapterMaps[0].InFile, 1);
}

TEST_F(OptionsTest, FiltersHooksAndThreadsOptions) {
  TLogRecorder log;
  EXPECT_EQ(Error("vbsf", "nosuch"), "Unknown bitstream filter nosuch");
  Task->ParseOption("vbsf", "noise=amount=10");
  ASSERT_EQ(Task->FPending.Kinds[AVMEDIA_TYPE_VIDEO].BitstreamFilters.size(), 1u);
  EXPECT_EQ(Task->FPending.Kinds[AVMEDIA_TYPE_VIDEO].BitstreamFilters[0].Arguments, "amount=10");
  EXPECT_EQ(Error("vhook", "/nonexistent/hook.so|-x"),
            "Failed to add video hook function: /nonexistent/hook.so|-x");
  Task->ParseOption("vf", "");
  EXPECT_FALSE(Task->FSettings.UseFilters);
  Task->ParseOption("vf", "nativehue=10:0");
  EXPECT_TRUE(Task->FSettings.UseFilters);
  EXPECT_EQ(Task->FPending.VideoFilters, "nativehue=10:0");
  Task->ParseOption("threads", "2");
  EXPECT_EQ(Task->FSettings.ThreadCount, 2);
  EXPECT_TRUE(
      log.Has("Warning: if the ffmpeg libraries were not compiled with thread support, it "
              "would be using thread emulation.",
              llVerbose, Task.get()));
}

TEST_F(OptionsTest, LogLevelOptionSetsTheProcessLogger) {
  Task->ParseOption("loglevel", "warning");
  EXPECT_EQ(FFLogger().LogLevel(), llWarning);
  Task->ParseOption("loglevel", "info");
  EXPECT_EQ(FFLogger().LogLevel(), llInfo);
}

// ---- Preset files ----

class PresetTest : public OptionsTest {
 protected:
  std::string Write(const std::string& text) {
    const std::string path = fixtures::TempDir("preset") + "/test.ffpreset";
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
};

TEST_F(PresetTest, LinesAreAppliedAcrossLineBreaksSkippingCommentsAndBlanks) {
  const std::string path = Write("# a preset\r\n\r\n  b=500000  \r\ng=12\rbufsize=100000\n");
  Task->ParseOption("fpre", path);
  EXPECT_EQ(Task->VideoOptions()->bit_rate, 500000);
  EXPECT_EQ(Task->VideoOptions()->gop_size, 12);
  EXPECT_EQ(Task->VideoOptions()->rc_buffer_size, 100000);
}

TEST_F(PresetTest, MissingFileAndBadLinesAreReported) {
  EXPECT_EQ(Error("vpre", "/nonexistent/x.ffpreset"),
            "Preset file \"/nonexistent/x.ffpreset\" not found");
  const std::string noValue = Write("g=\n");
  EXPECT_EQ(Error("apre", noValue), noValue + ": Invalid syntax: \"g=\"");
  const std::string unknown = Write("nosuchoption=1\n");
  EXPECT_EQ(Error("spre", unknown),
            "Unrecognized option \"nosuchoption\"\r\n" + unknown +
                ": Invalid option or argument: \"nosuchoption=1\", parsed as \"nosuchoption\" = "
                "\"1\"");
  Task->RaiseOptionErrors = false;
  EXPECT_EQ(Error("spre", unknown), "");
}

// ---- Targets ----

class TargetTest : public OptionsTest {};

TEST_F(TargetTest, VcdWithAPendingRateOf25ChoosesPalWithoutAnInput) {
  TLogRecorder log;
  Task->ParseOption("r", "25");
  Task->ParseOption("target", "vcd");
  EXPECT_EQ(Task->FPending.Format, "vcd");
  EXPECT_EQ(Task->FPending.FrameWidth, 352);
  EXPECT_EQ(Task->FPending.FrameHeight, 288);
  EXPECT_EQ(Task->FPending.FrameRate.num, 25);
  EXPECT_EQ(Task->FPending.FrameRate.den, 1);
  EXPECT_EQ(Task->VideoOptions()->gop_size, 15);
  EXPECT_EQ(Task->VideoOptions()->bit_rate, 1150000);
  EXPECT_EQ(Task->VideoOptions()->rc_min_rate, 1150000);
  EXPECT_EQ(Task->VideoOptions()->rc_buffer_size, 327680);
  EXPECT_EQ(Task->AudioOptions()->bit_rate, 224000);
  EXPECT_EQ(Task->FPending.AudioSampleRate, 44100);
  EXPECT_EQ(Task->FPending.AudioChannels, 2);
  EXPECT_EQ(Task->FPending.Kinds[AVMEDIA_TYPE_VIDEO].CodecName, "mpeg1video");
  EXPECT_EQ(Task->FPending.Kinds[AVMEDIA_TYPE_AUDIO].CodecName, "mp2");
  EXPECT_EQ(Task->PendingMuxerOption("muxrate"), "1411200");
  EXPECT_DOUBLE_EQ(Task->FPending.FrameAspectRatio, 4.0 / 3.0);
  EXPECT_TRUE(log.Has("Assuming PAL for target.", llVerbose, Task.get()));
  EXPECT_TRUE(log.Has("Assuming 4:3 for aspect ratio", llInfo, Task.get()));
}

TEST_F(TargetTest, PrefixedTargetsTakeTheirNorm) {
  Task->ParseOption("target", "pal-dv50");
  EXPECT_EQ(Task->FPending.Format, "dv");
  EXPECT_EQ(Task->FPending.FramePixFmt, AV_PIX_FMT_YUV422P);
  EXPECT_EQ(Task->FPending.FrameWidth, 720);
  EXPECT_EQ(Task->FPending.FrameHeight, 576);
  EXPECT_EQ(Task->FPending.AudioSampleRate, 48000);
  EXPECT_DOUBLE_EQ(Task->FPending.FrameAspectRatio, 0);

  Task->ParseOption("aspect", "16:9");
  Task->ParseOption("target", "ntsc-svcd");
  EXPECT_EQ(Task->FPending.FrameWidth, 480);
  EXPECT_EQ(Task->FPending.FrameHeight, 480);
  EXPECT_EQ(Task->FPending.FrameRate.num, 30000);
  EXPECT_EQ(Task->FPending.FrameRate.den, 1001);
  EXPECT_EQ(Task->VideoOptions()->gop_size, 18);
  EXPECT_DOUBLE_EQ(Task->FPending.FrameAspectRatio, 16.0 / 9.0);
  EXPECT_EQ(GetMetadataValue(Task->FPending.Kinds[AVMEDIA_TYPE_VIDEO].PrivateOptions.Value,
                             "scan_offset", ""),
            "1");

  Task->ParseOption("target", "film-dv");
  EXPECT_EQ(Task->FPending.FrameRate.num, 24000);
  EXPECT_EQ(Task->FPending.FramePixFmt, AV_PIX_FMT_YUV411P);
}

TEST_F(TargetTest, DvdOnAnNtscInputAssumesSixteenByNine) {
  TLogRecorder log;
  const std::string ntsc =
      fixtures::Make("ntsc_160x120.mp4",
                     "-f lavfi -i testsrc=size=160x120:rate=30000/1001:duration=1 "
                     "-c:v libx264 -preset ultrafast -pix_fmt yuv420p");
  ASSERT_TRUE(Task->OpenInputFile(ntsc)) << Task->LastErrMsg;
  Task->ParseOption("target", "dvd");
  EXPECT_EQ(Task->FPending.FrameWidth, 720);
  EXPECT_EQ(Task->FPending.FrameHeight, 480);
  EXPECT_EQ(Task->FPending.Kinds[AVMEDIA_TYPE_AUDIO].CodecName, "ac3");
  EXPECT_EQ(Task->PendingMuxerOption("muxrate"), "10080000");
  EXPECT_TRUE(log.Has("Assuming NTSC for target.", llVerbose, Task.get()));
  EXPECT_TRUE(log.Has("Assuming 16:9 for aspect ratio", llInfo, Task.get()));
  EXPECT_DOUBLE_EQ(Task->FPending.FrameAspectRatio, 16.0 / 9.0);
}

TEST_F(TargetTest, TheDefaultNormDecidesWhenNothingElseDoes) {
  const auto vcd = [](const std::string& defaultNorm) {
    auto task = std::make_unique<TProbeTask>();
    task->OptTarget("vcd", defaultNorm);
    return task;
  };
  EXPECT_EQ(vcd("ntsc")->FPending.FrameHeight, 240);
  EXPECT_EQ(vcd("film")->FPending.FrameRate.num, 24000);
  EXPECT_EQ(vcd("pal")->FPending.FrameHeight, 288);
  EXPECT_EQ(vcd("")->FPending.FrameHeight, 288);
}

TEST_F(TargetTest, UnknownTargetsAreRefused) {
  EXPECT_EQ(Error("target", "xyz"), "Unknown target type");
  EXPECT_EQ(Error("target", "pal-"), "Unknown target type");
  EXPECT_EQ(Task->FPending.Format, "");
}

TEST_F(TargetTest, ATargetOutputOpensWithTheMuxersAndEncodersOwnOptions) {
  const std::string folder = fixtures::TempDir("target-output");
  ASSERT_TRUE(Task->OpenInputFile(fixtures::Path(fixtures::Media::Mp4H264Aac))) << Task->LastErrMsg;
  Task->ParseOption("target", "pal-svcd");
  ASSERT_EQ(Task->OpenOutputFile(folder + "/out.mpg", false), 0) << Task->LastErrMsg;
  EXPECT_STREQ(Task->OutputFormatContext(0)->oformat->name, "svcd");
  TOutputStream& video = Task->OutputStream(0, 0);
  ASSERT_NE(video.Codec, nullptr);
  EXPECT_STREQ(video.Codec->name, "mpeg2video");
  int64_t scanOffset = 0;
  EXPECT_GE(ff::av_opt_get_int(video.Encoder, "scan_offset", AV_OPT_SEARCH_CHILDREN, &scanOffset),
            0);
  EXPECT_EQ(scanOffset, 1);
  EXPECT_EQ(video.Encoder->width, 480);
  EXPECT_EQ(video.Encoder->gop_size, 15);
  EXPECT_EQ(GetMetadataValue(Task->FOutputFiles[0]->MuxerOptions.Value, "muxrate", "none"), "none");
}

}  // namespace
