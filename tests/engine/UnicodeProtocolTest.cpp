#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "EngineTestSupport.h"
#include "FFLoad.h"
#include "FFUtils.h"
#include "MediaFixtures.h"
#include "UnicodeProtocol.h"

namespace fs = std::filesystem;

namespace {

using TPacketCounts = std::map<int, int64_t>;

class UnicodeProtocolTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadEngineLibraries(); }
};

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Packets per stream as ffprobe counts them; extra arguments go before the file.
TPacketCounts ProbePackets(const std::string& path, const std::string& arguments = "") {
  std::string output;
  const int rc = fixtures::Run("ffprobe -v error " + arguments +
                                   " -count_packets -show_entries stream=index,nb_read_packets"
                                   " -of csv=p=0 " +
                                   fixtures::ShellQuote(path),
                               &output);
  TPacketCounts counts;
  if (rc != 0) return counts;
  std::istringstream lines(output);
  int index = 0;
  char comma = 0;
  int64_t packets = 0;
  while (lines >> index >> comma >> packets) counts[index] = packets;
  return counts;
}

TPacketCounts CountPackets(AVFormatContext* input) {
  TPacketCounts counts;
  AVPacket* packet = ff::av_packet_alloc();
  while (ff::av_read_frame(input, packet) >= 0) {
    ++counts[packet->stream_index];
    ff::av_packet_unref(packet);
  }
  ff::av_packet_free(&packet);
  return counts;
}

// Opens, checks that the engine's own I/O carries the input, and counts its packets.
TPacketCounts DemuxThroughProtocol(const std::string& url, const AVInputFormat* format = nullptr,
                                   AVDictionary** options = nullptr) {
  AVFormatContext* input = nullptr;
  const int result = UnicodeOpenInput(&input, url, format, options);
  EXPECT_EQ(result, 0) << AVErrorText(url, result);
  if (result < 0) return {};
  EXPECT_TRUE(IsUnicodeContext(input->pb));
  EXPECT_TRUE(input->flags & AVFMT_FLAG_CUSTOM_IO);
  const TPacketCounts counts = CountPackets(input);
  UnicodeCloseInput(&input);
  EXPECT_EQ(input, nullptr);
  return counts;
}

int64_t FileSize(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 ? int64_t(status.st_size) : -1;
}

// Stream-copies every packet of an input into a new output; returns 0 or the first error.
// flushPackets sets the output's "flush_packets" (-1 leaves it automatic); beforeTrailer runs
// once every packet is in the muxer.
int Remux(const std::string& inputUrl, const std::string& outputUrl, const char* formatName,
          int flushPackets = -1, const std::function<void()>& beforeTrailer = nullptr) {
  AVFormatContext* input = nullptr;
  int result = UnicodeOpenInput(&input, inputUrl, nullptr, nullptr);
  if (result < 0) return result;
  AVFormatContext* output = nullptr;
  result = ff::avformat_alloc_output_context2(&output, nullptr, formatName, nullptr);
  for (unsigned n = 0; result >= 0 && n < input->nb_streams; ++n) {
    AVStream* stream = ff::avformat_new_stream(output, nullptr);
    result = stream ? ff::avcodec_parameters_copy(stream->codecpar, input->streams[n]->codecpar)
                    : AVERROR(ENOMEM);
    if (result >= 0) stream->codecpar->codec_tag = 0;
  }
  if (result >= 0) result = UnicodeOpenOutput(output, outputUrl);
  if (result >= 0 && flushPackets >= 0) output->flush_packets = flushPackets;
  if (result >= 0) result = ff::avformat_write_header(output, nullptr);
  AVPacket* packet = ff::av_packet_alloc();
  while (result >= 0 && ff::av_read_frame(input, packet) >= 0) {
    ff::av_packet_rescale_ts(packet, input->streams[packet->stream_index]->time_base,
                             output->streams[packet->stream_index]->time_base);
    result = ff::av_interleaved_write_frame(output, packet);
  }
  ff::av_packet_free(&packet);
  if (result >= 0 && beforeTrailer) beforeTrailer();
  if (result >= 0) result = ff::av_write_trailer(output);
  if (output) {
    const int closed = UnicodeCloseOutput(output);
    if (result >= 0) result = closed;
    ff::avformat_free_context(output);
  }
  UnicodeCloseInput(&input);
  return result;
}

}  // namespace

TEST(UnicodeUrl, StripsTheProtocolAndOneFilePrefixOnly) {
  EXPECT_EQ(UrlToWideFileName("unicode:/media/clip.mp4"), "/media/clip.mp4");
  EXPECT_EQ(UrlToWideFileName("unicode:file:/media/clip.mp4"), "/media/clip.mp4");
  EXPECT_EQ(UrlToWideFileName("unicode:/media/part: one.mp4"), "/media/part: one.mp4");
  EXPECT_EQ(UrlToWideFileName("unicode:a:b.mp4"), "a:b.mp4");
  EXPECT_EQ(UrlToWideFileName("unicode:file:file:x"), "file:x");
  EXPECT_EQ(UrlToWideFileName("unicode:-clip.mp4"), "-clip.mp4");
  EXPECT_EQ(UrlToWideFileName("/media/clip.mp4"), "/media/clip.mp4");
  EXPECT_EQ(UrlToWideFileName("file:/media/clip.mp4"), "/media/clip.mp4");
  EXPECT_EQ(UrlToWideFileName("unicode:"), "");
}

TEST_F(UnicodeProtocolTest, LocalFilesAreOursOtherProtocolsAreFFmpegs) {
  EXPECT_TRUE(IsLocalFileUrl("unicode:/x.mp4"));
  EXPECT_TRUE(IsLocalFileUrl("unicode:http://x"));
  EXPECT_TRUE(IsLocalFileUrl("/media/clip.mp4"));
  EXPECT_TRUE(IsLocalFileUrl("file:/media/clip.mp4"));
  EXPECT_TRUE(IsLocalFileUrl("clip: part 1.mp4"));
  EXPECT_TRUE(IsLocalFileUrl("-clip.mp4"));
  EXPECT_FALSE(IsLocalFileUrl("pipe:1"));
  EXPECT_FALSE(IsLocalFileUrl("http://localhost/clip.flv"));
}

TEST_F(UnicodeProtocolTest, LoadingAVFormatRegistersTheProtocol) {
  EXPECT_TRUE(ProtocolRegistered("unicode"));
  EXPECT_FALSE(RegisterProtocol("unicode"));
}

TEST_F(UnicodeProtocolTest, AwkwardFileNamesDemuxLikeFFprobeReadsThem) {
  const std::string fixture = fixtures::Path(fixtures::Media::Mp4H264Aac);
  const TPacketCounts expected = ProbePackets(fixture);
  ASSERT_EQ(expected.size(), 2u);
  const std::string dir = fixtures::TempDir("unicode-names");
  for (const std::string name : {"with  spaces .mp4", "中文 視頻.mp4", "🎬 clip 🎞.mp4",
                                 "-dash.mp4", "part: one.mp4", "file:named.mp4"}) {
    SCOPED_TRACE(name);
    const std::string path = dir + "/" + name;
    fs::copy_file(fixture, path);
    EXPECT_EQ(DemuxThroughProtocol("unicode:" + path), expected);
    EXPECT_EQ(DemuxThroughProtocol(path), expected);
  }
}

TEST_F(UnicodeProtocolTest, RemuxWritesAnOutputUnderAWideName) {
  const std::string dir = fixtures::TempDir("unicode-remux 目录");
  const std::string input = dir + "/输入 🎬.mp4";
  const std::string output = dir + "/輸出 🎞.flv";
  fs::copy_file(fixtures::Path(fixtures::Media::Mp4H264Aac), input);
  const int result = Remux("unicode:" + input, "unicode:" + output, "flv");
  ASSERT_EQ(result, 0) << AVErrorText(output, result);
  const TPacketCounts written = ProbePackets(output);
  EXPECT_EQ(written, ProbePackets(input));
  EXPECT_EQ(DemuxThroughProtocol(output), written);
}

// A muxer packet is often a kilobyte: an output goes to disk in large blocks, not packet by
// packet, unless the caller asks for every packet to be written out.
TEST_F(UnicodeProtocolTest, OutputsAreWrittenInLargeBlocksUnlessFlushingIsAsked) {
  const std::string dir = fixtures::TempDir("unicode-buffered");
  const std::string input = fixtures::Path(fixtures::Media::Mp4H264Aac);
  ASSERT_LT(FileSize(input), 200000) << "the fixture must fit in one block";
  for (const int flushPackets : {-1, 0, 1}) {
    const std::string output = dir + "/out" + std::to_string(flushPackets) + ".flv";
    int64_t onDiskBeforeTrailer = -1;
    ASSERT_EQ(
        Remux(input, output, "flv", flushPackets, [&] { onDiskBeforeTrailer = FileSize(output); }),
        0);
    if (flushPackets == 1)
      EXPECT_GT(onDiskBeforeTrailer, FileSize(output) / 2) << flushPackets;
    else
      EXPECT_EQ(onDiskBeforeTrailer, 0) << flushPackets;
    EXPECT_EQ(ProbePackets(output), ProbePackets(input)) << flushPackets;
  }
}

TEST_F(UnicodeProtocolTest, FilesAFormatOpensItselfGoThroughTheEngine) {
  const std::string dir = fixtures::TempDir("unicode-concat");
  const std::string part = dir + "/片段: 一.mp4";
  fs::copy_file(fixtures::Path(fixtures::Media::Mp4H264Aac), part);
  const std::string list = dir + "/列表 🎬.txt";
  WriteText(list, "ffconcat version 1.0\nfile '" + part + "'\nfile '" + part + "'\n");

  const TPacketCounts expected = ProbePackets(list, "-f concat -safe 0");
  ASSERT_EQ(expected.size(), 2u);
  const TPacketCounts single = ProbePackets(part);
  EXPECT_EQ(expected.at(0), 2 * single.at(0));
  AVDictionary* options = nullptr;
  ff::av_dict_set(&options, "safe", "0", 0);
  EXPECT_EQ(DemuxThroughProtocol(list, ff::av_find_input_format("concat"), &options), expected);
  ff::av_dict_free(&options);
}

std::string Base64(const std::string& data) {
  static const char Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t n = 0; n < data.size(); n += 3) {
    uint32_t group = uint8_t(data[n]) << 16;
    if (n + 1 < data.size()) group |= uint8_t(data[n + 1]) << 8;
    if (n + 2 < data.size()) group |= uint8_t(data[n + 2]);
    text += Digits[group >> 18 & 63];
    text += Digits[group >> 12 & 63];
    text += n + 1 < data.size() ? Digits[group >> 6 & 63] : '=';
    text += n + 2 < data.size() ? Digits[group & 63] : '=';
  }
  return text;
}

TEST_F(UnicodeProtocolTest, OtherProtocolsAreLeftToFFmpeg) {
  const std::string wav =
      fixtures::Make("tone_8000_mono.wav", "-f lavfi -i sine=sample_rate=8000:duration=0.5 -ac 1");
  const std::string url = "data:audio/wav;base64," + Base64(fixtures::ReadFile(wav));
  ASSERT_FALSE(IsLocalFileUrl(url));
  AVFormatContext* input = nullptr;
  ASSERT_EQ(UnicodeOpenInput(&input, url, nullptr, nullptr), 0);
  EXPECT_FALSE(IsUnicodeContext(input->pb));
  const TPacketCounts expected = ProbePackets(wav);
  ASSERT_EQ(expected.size(), 1u);
  EXPECT_EQ(CountPackets(input), expected);
  UnicodeCloseInput(&input);
  EXPECT_EQ(input, nullptr);
}

TEST_F(UnicodeProtocolTest, WhitelistWithoutFileRefusesLocalFiles) {
  AVFormatContext* input = ff::avformat_alloc_context();
  ASSERT_NE(input, nullptr);
  ASSERT_GE(ff::av_opt_set(input, "protocol_whitelist", "http,https", 0), 0);
  EXPECT_EQ(UnicodeOpenInput(&input, fixtures::Path(fixtures::Media::Mp4H264Aac), nullptr, nullptr),
            AVERROR(EINVAL));
  EXPECT_EQ(input, nullptr);
}

TEST_F(UnicodeProtocolTest, MissingInputFailsWithNoSuchFileAndCreatesNothing) {
  const std::string path = fixtures::TempDir("unicode-missing") + "/缺少.mp4";
  AVFormatContext* input = ff::avformat_alloc_context();
  const int result = UnicodeOpenInput(&input, "unicode:" + path, nullptr, nullptr);
  EXPECT_EQ(result, AVERROR(ENOENT));
  EXPECT_EQ(AVErrorText(path, result), path + ": No such file or directory");
  EXPECT_EQ(input, nullptr);
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(UnicodeProtocolTest, GarbageInputFailsAndFreesEverything) {
  const std::string path = fixtures::TempDir("unicode-garbage") + "/not media.mp4";
  WriteText(path, std::string(100, '\0'));
  AVFormatContext* input = nullptr;
  EXPECT_LT(UnicodeOpenInput(&input, path, nullptr, nullptr), 0);
  EXPECT_EQ(input, nullptr);
  EXPECT_EQ(fixtures::ReadFile(path), std::string(100, '\0'));
}

TEST_F(UnicodeProtocolTest, ReadingNeverCreatesChangesOrTruncates) {
  const std::string dir = fixtures::TempDir("unicode-read");
  const std::string path = dir + "/keep 保持.bin";
  WriteText(path, "0123456789");
  AVIOContext* pb = nullptr;
  ASSERT_EQ(UnicodeOpen(&pb, "unicode:" + path, AVIO_FLAG_READ), 0);
  EXPECT_EQ(ff::avio_size(pb), 10);
  unsigned char buffer[16] = {};
  EXPECT_EQ(ff::avio_read(pb, buffer, 16), 10);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 10), "0123456789");
  EXPECT_EQ(ff::avio_read(pb, buffer, 16), AVERROR_EOF);
  EXPECT_EQ(ff::avio_seek(pb, 4, SEEK_SET), 4);
  EXPECT_EQ(ff::avio_read(pb, buffer, 3), 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "456");
  EXPECT_EQ(UnicodeClose(&pb), 0);
  EXPECT_EQ(pb, nullptr);
  EXPECT_EQ(fixtures::ReadFile(path), "0123456789");

  EXPECT_EQ(UnicodeOpen(&pb, dir + "/absent.bin", AVIO_FLAG_READ), AVERROR(ENOENT));
  EXPECT_EQ(pb, nullptr);
  EXPECT_FALSE(fs::exists(dir + "/absent.bin"));
  EXPECT_EQ(UnicodeOpen(&pb, dir, AVIO_FLAG_READ), AVERROR(EISDIR));
  EXPECT_EQ(pb, nullptr);
}

TEST_F(UnicodeProtocolTest, WritingCreatesOrTruncates) {
  const std::string dir = fixtures::TempDir("unicode-write");
  const std::string existing = dir + "/旧 old.bin";
  WriteText(existing, "old content that is long");
  AVIOContext* pb = nullptr;
  ASSERT_EQ(UnicodeOpen(&pb, "unicode:" + existing, AVIO_FLAG_WRITE), 0);
  EXPECT_EQ(FileSize(existing), 0);
  ff::avio_write(pb, reinterpret_cast<const unsigned char*>("new"), 3);
  EXPECT_EQ(UnicodeClose(&pb), 0);
  EXPECT_EQ(fixtures::ReadFile(existing), "new");

  const std::string created = dir + "/新 🎬.bin";
  ASSERT_EQ(UnicodeOpen(&pb, created, AVIO_FLAG_READ_WRITE), 0);
  ff::avio_write(pb, reinterpret_cast<const unsigned char*>("abcdef"), 6);
  EXPECT_EQ(ff::avio_seek(pb, 0, SEEK_SET), 0);
  EXPECT_EQ(UnicodeClose(&pb), 0);
  EXPECT_EQ(fixtures::ReadFile(created), "abcdef");

  EXPECT_EQ(UnicodeOpen(&pb, dir + "/no folder/x.bin", AVIO_FLAG_WRITE), AVERROR(ENOENT));
}

TEST_F(UnicodeProtocolTest, WriteErrorsAreReportedWhenClosing) {
  AVIOContext* pb = nullptr;
  ASSERT_EQ(UnicodeOpen(&pb, "/dev/full", AVIO_FLAG_WRITE), 0);
  const std::string data(100000, 'x');
  ff::avio_write(pb, reinterpret_cast<const unsigned char*>(data.data()), int(data.size()));
  EXPECT_EQ(UnicodeClose(&pb), AVERROR(ENOSPC));
  EXPECT_EQ(pb, nullptr);
}

TEST_F(UnicodeProtocolTest, FullDiskFailsTheOutput) {
  EXPECT_EQ(Remux(fixtures::Path(fixtures::Media::Mp4H264Aac), "/dev/full", "flv"),
            AVERROR(ENOSPC));
}

TEST_F(UnicodeProtocolTest, SizeOfAFiveGigabyteFileIsExact) {
  const std::string path = fixtures::TempDir("unicode-large") + "/大 sparse.bin";
  constexpr int64_t Size = 5000000000;
  {
    const int file = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(::ftruncate(file, Size), 0);
    ASSERT_EQ(::pwrite(file, "END", 3, Size - 3), 3);
    ::close(file);
  }
  AVIOContext* pb = nullptr;
  ASSERT_EQ(UnicodeOpen(&pb, "unicode:" + path, AVIO_FLAG_READ), 0);
  EXPECT_EQ(ff::avio_size(pb), Size);
  EXPECT_EQ(ff::avio_seek(pb, Size - 5, SEEK_SET), Size - 5);
  unsigned char buffer[8] = {};
  EXPECT_EQ(ff::avio_read(pb, buffer, 8), 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), std::string("\0\0END", 5));
  EXPECT_EQ(ff::avio_read(pb, buffer, 8), AVERROR_EOF);
  EXPECT_EQ(UnicodeClose(&pb), 0);
  EXPECT_EQ(FileSize(path), Size);
  fs::remove(path);
}
