#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "EngineTestSupport.h"
#include "FFLoad.h"
#include "FFLog.h"
#include "FFUtils.h"
#include "MediaFixtures.h"

namespace {

class UtilsTest : public ::testing::Test {
 protected:
  void SetUp() override { LoadEngineLibraries(); }
  // Other suites expect to find the libraries unloaded.
  void TearDown() override { FFLoader().Unload(AllLibraries); }
};

// Collects what reaches FFmpeg's log while it lives.
class TAVLogCapture {
 public:
  TAVLogCapture() {
    Lines().clear();
    ff::av_log_set_callback(&Callback);
  }
  ~TAVLogCapture() { FFLogger().HookAVLog(); }
  static std::vector<std::string> Captured() {
    std::lock_guard<std::mutex> lock(Lock());
    return Lines();
  }

 private:
  static std::mutex& Lock() {
    static std::mutex lock;
    return lock;
  }
  static std::vector<std::string>& Lines() {
    static std::vector<std::string> lines;
    return lines;
  }
  static void Callback(void*, int level, const char* format, va_list args) {
    if (level > AV_LOG_ERROR) return;
    char line[1024];
    std::vsnprintf(line, sizeof line, format, args);
    std::lock_guard<std::mutex> lock(Lock());
    Lines().push_back(line);
  }
};

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class OptionContextsTest : public UtilsTest {
 protected:
  void SetUp() override {
    UtilsTest::SetUp();
    InitOptionContexts(Set, SWS_BICUBIC);
  }
  void TearDown() override {
    FreeOptionContexts(Set);
    UtilsTest::TearDown();
  }
  AVCodecContext* Video() { return Set.CodecContexts[AVMEDIA_TYPE_VIDEO]; }
  AVCodecContext* Audio() { return Set.CodecContexts[AVMEDIA_TYPE_AUDIO]; }
  int64_t ScalerFlags() {
    int64_t flags = -1;
    EXPECT_GE(ff::av_opt_get_int(Set.ScalerContext, "sws_flags", 0, &flags), 0);
    return flags;
  }

  TOptionContexts Set;
};

}  // namespace

TEST(DurationText, HoursMinutesSecondsAndMilliseconds) {
  EXPECT_EQ(DurationToText(3723004000LL), "01:02:03.004");
  EXPECT_EQ(DurationToText(0), "00:00:00.000");
  EXPECT_EQ(DurationToText(59999999), "00:00:59.999");
  EXPECT_EQ(DurationToText(100LL * 3600 * 1000000), "100:00:00.000");
  EXPECT_EQ(DurationToText(AV_NOPTS_VALUE), "N/A");
}

TEST(ErrorText, KnownCodesGiveTheirTextAfterThePrefix) {
  EXPECT_EQ(AVErrorText("/media/clip one.avi", -2),
            "/media/clip one.avi: No such file or directory");
  EXPECT_EQ(AVErrorText("x", AVERROR_EOF), "x: End of file");
  EXPECT_EQ(AVErrorText("x", -541478725), "x: End of file");
  EXPECT_EQ(AVErrorText("x", -1094995529), "x: Invalid data found when processing input");
  EXPECT_EQ(AVErrorText("x", -1330794744), "x: Protocol not found");
  EXPECT_EQ(AVErrorText("x", AVERROR(EINVAL)),
            "x: Invalid argument / Invalid data found when processing input");
  EXPECT_EQ(AVErrorText("x", AVERROR(ETIMEDOUT)), "x: Connection timed out");
  EXPECT_EQ(AVErrorText("x", -131), "x: State not recoverable");
  EXPECT_EQ(AVErrorText("x", -10060), "x: Connection timed out");
  EXPECT_EQ(AVErrorText("x", -11004), "x: WSANO_DATA");
}

TEST(ErrorText, UnknownCodesGiveTheErrorNumber) {
  EXPECT_EQ(AVErrorText("file.mp4", 5), "file.mp4: Error number 5 occurred");
  EXPECT_EQ(AVErrorText("file.mp4", -32), "file.mp4: Error number -32 occurred");
  EXPECT_EQ(AVErrorText("file.mp4", -132), "file.mp4: Error number -132 occurred");
}

TEST_F(UtilsTest, ErrorOfARealOpenIsNamedAsTheSystemNamesIt) {
  const std::string missing = fixtures::TempDir("errtext") + "/missing.avi";
  AVFormatContext* context = nullptr;
  const int code = ff::avformat_open_input(&context, missing.c_str(), nullptr, nullptr);
  ASSERT_LT(code, 0);
  EXPECT_EQ(AVErrorText(missing, code), missing + ": " + std::strerror(ENOENT));
}

TEST_F(OptionContextsTest, ContextsStartWithTheirDefaultsAndTheScalerFlags) {
  for (int type = 0; type < AVMEDIA_TYPE_NB; ++type) {
    ASSERT_NE(Set.CodecContexts[type], nullptr) << type;
    EXPECT_EQ(Set.CodecContexts[type]->codec_type, type);
  }
  ASSERT_NE(Set.FormatContext, nullptr);
  EXPECT_EQ(ScalerFlags(), SWS_BICUBIC);
  InitOptionContexts(Set, SWS_BILINEAR);
  EXPECT_EQ(ScalerFlags(), SWS_BILINEAR);
  FreeOptionContexts(Set);
  EXPECT_EQ(Set.FormatContext, nullptr);
  EXPECT_EQ(Set.ScalerContext, nullptr);
  EXPECT_EQ(Set.CodecContexts[AVMEDIA_TYPE_VIDEO], nullptr);
}

TEST_F(OptionContextsTest, CodecOptionsReachTheMediaTypesThatKnowThem) {
  ASSERT_TRUE(OptDefault(Set, "g", "50")) << LastOptionError();
  EXPECT_EQ(Video()->gop_size, 50);
  EXPECT_NE(Audio()->gop_size, 50);  // a video-only option

  ASSERT_TRUE(OptDefault(Set, "b", "500k")) << LastOptionError();
  EXPECT_EQ(Video()->bit_rate, 500000);
}

TEST_F(OptionContextsTest, FirstLetterPicksTheMediaType) {
  ASSERT_TRUE(OptDefault(Set, "b", "500k"));
  ASSERT_TRUE(OptDefault(Set, "ab", "64k")) << LastOptionError();
  EXPECT_EQ(Audio()->bit_rate, 64000);
  EXPECT_EQ(Video()->bit_rate, 500000);
  ASSERT_TRUE(OptDefault(Set, "vb", "800000")) << LastOptionError();
  EXPECT_EQ(Video()->bit_rate, 800000);
  EXPECT_EQ(Audio()->bit_rate, 64000);
  // "sws_flags" belongs to the scaler and is not "ws_flags" of a subtitle codec.
  ASSERT_TRUE(OptDefault(Set, "sws_flags", "bilinear")) << LastOptionError();
  EXPECT_EQ(ScalerFlags(), SWS_BILINEAR);
}

TEST_F(OptionContextsTest, FormatOptionsReachTheFormatContext) {
  ASSERT_TRUE(OptDefault(Set, "probesize", "123456")) << LastOptionError();
  EXPECT_EQ(Set.FormatContext->probesize, 123456);
  ASSERT_TRUE(OptDefault(Set, "fflags", "+genpts")) << LastOptionError();
  EXPECT_TRUE(Set.FormatContext->flags & AVFMT_FLAG_GENPTS);
}

TEST_F(OptionContextsTest, UnknownNamesAndBadValuesAreRefusedWithTheirTexts) {
  TAVLogCapture log;
  EXPECT_FALSE(OptDefault(Set, "nosuchoption", "1"));
  EXPECT_EQ(LastOptionError(), "Unrecognized option \"nosuchoption\"");
  // Names are case-sensitive, as FFmpeg's are.
  EXPECT_FALSE(OptDefault(Set, "VCODEC", "flv"));
  EXPECT_EQ(LastOptionError(), "Unrecognized option \"VCODEC\"");
  // A constant of a flags option is no option of its own.
  EXPECT_FALSE(OptDefault(Set, "bicubic", "1"));
  EXPECT_EQ(LastOptionError(), "Unrecognized option \"bicubic\"");

  const int64_t before = Video()->bit_rate;
  EXPECT_FALSE(OptDefault(Set, "b", "fast"));
  EXPECT_EQ(LastOptionError(), "Invalid value \"fast\" for option \"b\"");
  EXPECT_EQ(Video()->bit_rate, before);
  EXPECT_FALSE(OptDefault(Set, "ab", "-5"));
  EXPECT_EQ(LastOptionError(), "Invalid value \"-5\" for option \"ab\"");
  EXPECT_FALSE(OptDefault(Set, "sws_flags", "nosuchscaler"));
  EXPECT_EQ(LastOptionError(), "Invalid value \"nosuchscaler\" for option \"sws_flags\"");

  const auto lines = TAVLogCapture::Captured();
  EXPECT_TRUE(Contains(lines, "Unrecognized option \"nosuchoption\"\n"));
  EXPECT_TRUE(Contains(lines, "Invalid value \"fast\" for option \"b\"\n"));
}

TEST_F(OptionContextsTest, DebugOptionRaisesTheEngineLogLevel) {
  const TLogLevel saved = FFLogger().LogLevel();
  FFLogger().SetLogLevel(llInfo);
  ASSERT_TRUE(OptDefault(Set, "probesize", "5000000"));
  EXPECT_EQ(FFLogger().LogLevel(), llInfo);
  ASSERT_TRUE(OptDefault(Set, "debug", "pict")) << LastOptionError();
  EXPECT_EQ(FFLogger().LogLevel(), llDebug);
  FFLogger().SetLogLevel(saved);
}

TEST_F(OptionContextsTest, AcceptedOptionsAreCopiedOntoRealContextsOfTheirKind) {
  ASSERT_TRUE(OptDefault(Set, "b", "300k"));
  ASSERT_TRUE(OptDefault(Set, "g", "30"));
  ASSERT_TRUE(OptDefault(Set, "ab", "32k"));
  ASSERT_TRUE(OptDefault(Set, "g", "40"));  // the latest value counts
  ASSERT_TRUE(OptDefault(Set, "probesize", "65536"));

  const AVCodec* videoEncoder = ff::avcodec_find_encoder(AV_CODEC_ID_FLV1);
  AVCodecContext* video = ff::avcodec_alloc_context3(videoEncoder);
  SetContextOptions(Set, video, AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM);
  EXPECT_EQ(video->bit_rate, 300000);
  EXPECT_EQ(video->gop_size, 40);
  ff::avcodec_free_context(&video);

  AVCodecContext* audio = ff::avcodec_alloc_context3(ff::avcodec_find_encoder(AV_CODEC_ID_MP2));
  SetContextOptions(Set, audio, AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_AUDIO_PARAM);
  EXPECT_EQ(audio->bit_rate, 32000);
  ff::avcodec_free_context(&audio);

  // Encoding-only options stay off a decoder.
  AVCodecContext* decoder = ff::avcodec_alloc_context3(ff::avcodec_find_decoder(AV_CODEC_ID_FLV1));
  const int decoderGop = decoder->gop_size;
  SetContextOptions(Set, decoder, AV_OPT_FLAG_DECODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM);
  EXPECT_EQ(decoder->gop_size, decoderGop);
  ff::avcodec_free_context(&decoder);

  AVFormatContext* format = ff::avformat_alloc_context();
  SetContextOptions(Set, format, AV_OPT_FLAG_DECODING_PARAM);
  EXPECT_EQ(format->probesize, 65536);
  ff::avformat_free_context(format);
}

TEST_F(OptionContextsTest, AValueTheRealContextRefusesIsLogged) {
  ASSERT_GE(ff::av_dict_set(&Set.VideoOptions, "b", "not-a-rate", 0), 0);
  TAVLogCapture log;
  AVCodecContext* video = ff::avcodec_alloc_context3(ff::avcodec_find_encoder(AV_CODEC_ID_FLV1));
  const int64_t before = video->bit_rate;
  SetContextOptions(Set, video, AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM);
  EXPECT_EQ(video->bit_rate, before);
  ff::avcodec_free_context(&video);
  EXPECT_TRUE(
      Contains(TAVLogCapture::Captured(), "Invalid value \"not-a-rate\" for option \"b\"\n"));
}

TEST_F(UtilsTest, ReadWholeFileAddsATerminatingNul) {
  const std::string dir = fixtures::TempDir("readwhole");
  std::ofstream(dir + "/text.txt", std::ios::binary) << "hello\nworld";
  std::ofstream(dir + "/empty.txt", std::ios::binary);
  uint8_t* buffer = nullptr;
  int64_t size = 0;

  ASSERT_EQ(ReadWholeFile((dir + "/text.txt").c_str(), buffer, size), 0);
  ASSERT_EQ(size, 12);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer), "hello\nworld");
  ff::av_free(buffer);

  ASSERT_EQ(ReadWholeFile((dir + "/empty.txt").c_str(), buffer, size), 0);
  EXPECT_EQ(size, 1);
  EXPECT_EQ(buffer[0], 0);
  ff::av_free(buffer);

  EXPECT_EQ(ReadWholeFile((dir + "/missing.txt").c_str(), buffer, size), -1);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(ReadWholeFile(dir.c_str(), buffer, size), -1);
  EXPECT_EQ(buffer, nullptr);
}

TEST_F(UtilsTest, MetadataValueOrDefault) {
  AVDictionary* tags = nullptr;
  ff::av_dict_set(&tags, "title", "Fennick demo", 0);
  EXPECT_EQ(GetMetadataValue(tags, "title", "-"), "Fennick demo");
  EXPECT_EQ(GetMetadataValue(tags, "TITLE", "-"), "Fennick demo");
  EXPECT_EQ(GetMetadataValue(tags, "album", "none"), "none");
  EXPECT_EQ(GetMetadataValue(nullptr, "title", ""), "");
  ff::av_dict_free(&tags);
}

TEST_F(UtilsTest, CodecTagTexts) {
  EXPECT_EQ(CodecTagText(AV_CODEC_ID_H264, 0, false),
            "h264(H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10)");
  EXPECT_EQ(CodecTagText(AV_CODEC_ID_FLV1, 0, true),
            "flv(FLV / Sorenson Spark / Sorenson H.263 (Flash Video))");
  EXPECT_EQ(CodecTagText(AV_CODEC_ID_MP3, 0, false), "mp3float(MP3 (MPEG audio layer 3))");
  EXPECT_EQ(CodecTagText(AV_CODEC_ID_MPEG2TS, 0, false), "mpeg2ts");
  // FFmpeg knows the codec but has no encoder for it.
  EXPECT_EQ(CodecTagText(AV_CODEC_ID_VP6F, 0, true), "vp6f");
  EXPECT_EQ(CodecTagText(AV_CODEC_ID_NONE, MKTAG('X', 'V', 'I', 'D'), false), "XVID / 0x44495658");
  EXPECT_EQ(CodecTagText(AV_CODEC_ID_NONE, 1, false), "0x0001");
  EXPECT_EQ(CodecTagText(AV_CODEC_ID_NONE, MKTAG('a', 'b', 'c', 0x7F), false), "0x7f636261");

  AVCodecParameters* parameters = ff::avcodec_parameters_alloc();
  parameters->codec_id = AV_CODEC_ID_NONE;
  parameters->codec_tag = MKTAG('D', 'I', 'V', '3');
  EXPECT_EQ(CodecTagText(parameters, false), "DIV3 / 0x33564944");
  ff::avcodec_parameters_free(&parameters);
}

TEST(MediaTypeNames, EachTypeAndTheRest) {
  EXPECT_EQ(MediaTypeName(0), "Video");
  EXPECT_EQ(MediaTypeName(1), "Audio");
  EXPECT_EQ(MediaTypeName(2), "Data");
  EXPECT_EQ(MediaTypeName(3), "Subtitle");
  EXPECT_EQ(MediaTypeName(4), "Attachment");
  EXPECT_EQ(MediaTypeName(5), "Unknown");
  EXPECT_EQ(MediaTypeName(-1), "Unknown");
}

TEST(Registry, RegisteringTwiceRegistersOnce) {
  RegisterProtocol("unicode");  // the loader may have registered it already
  EXPECT_FALSE(RegisterProtocol("unicode"));
  EXPECT_TRUE(ProtocolRegistered("unicode"));
  EXPECT_FALSE(ProtocolRegistered("Unicode"));

  EXPECT_TRUE(RegisterFilter("registry-test-filter"));
  EXPECT_FALSE(RegisterFilter("registry-test-filter"));
  EXPECT_TRUE(FilterRegistered("registry-test-filter"));
  // Protocols and filters are separate name spaces.
  EXPECT_FALSE(ProtocolRegistered("registry-test-filter"));
}

TEST(Registry, ConcurrentRegistrationsOfOneNameRegisterItOnce) {
  std::atomic<int> registered{0};
  std::vector<std::thread> threads;
  for (int n = 0; n < 8; ++n)
    threads.emplace_back([&] { registered += RegisterProtocol("registry-race") ? 1 : 0; });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(registered, 1);
}
