// Bitmap subtitles shown over the pictures: a DVD subtitle made here with FFmpeg's encoder
// (the ffmpeg command line cannot make bitmap subtitles from nothing), muxed with a clip.
#include <gtest/gtest.h>

#include <cstring>

#include "MediaFixtures.h"
#include "PlayerTestSupport.h"

using namespace playertest;

namespace {

// One white 64x32 subtitle at (100, 100), shown from 0.5 s for 2 s, alone in a Matroska file.
bool WriteSubtitleFile(const std::string& path) {
  const AVCodec* encoder = ff::avcodec_find_encoder_by_name("dvdsub");
  AVCodecContext* codec = encoder ? ff::avcodec_alloc_context3(encoder) : nullptr;
  if (!codec) return false;
  codec->width = 320;
  codec->height = 240;
  codec->time_base = {1, 1000};
  bool written = false;
  AVFormatContext* output = nullptr;
  uint32_t palette[4] = {0x00000000, 0xFFFFFFFF, 0xFF000000, 0xFF808080};
  std::vector<uint8_t> indexes(64 * 32, 1);
  AVSubtitleRect rect{};
  rect.x = 100;
  rect.y = 100;
  rect.w = 64;
  rect.h = 32;
  rect.nb_colors = 4;
  rect.type = SUBTITLE_BITMAP;
  rect.data[0] = indexes.data();
  rect.data[1] = reinterpret_cast<uint8_t*>(palette);
  rect.linesize[0] = 64;
  AVSubtitleRect* rects[1] = {&rect};
  AVSubtitle subtitle{};
  subtitle.end_display_time = 2000;
  subtitle.num_rects = 1;
  subtitle.rects = rects;
  subtitle.pts = 500000;
  std::vector<uint8_t> buffer(1 << 16);
  AVPacket* packet = ff::av_packet_alloc();
  if (ff::avcodec_open2(codec, encoder, nullptr) >= 0 && packet &&
      ff::avformat_alloc_output_context2(&output, nullptr, "matroska", path.c_str()) >= 0) {
    AVStream* stream = ff::avformat_new_stream(output, nullptr);
    const int size =
        ff::avcodec_encode_subtitle(codec, buffer.data(), int(buffer.size()), &subtitle);
    if (stream && size > 0 && ff::avcodec_parameters_from_context(stream->codecpar, codec) >= 0 &&
        ff::avio_open2(&output->pb, path.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr) >= 0) {
      stream->time_base = {1, 1000};
      if (ff::avformat_write_header(output, nullptr) >= 0 && ff::av_new_packet(packet, size) >= 0) {
        std::memcpy(packet->data, buffer.data(), size_t(size));
        packet->pts = packet->dts = 500;
        packet->duration = 2000;
        ff::av_packet_rescale_ts(packet, AVRational{1, 1000}, stream->time_base);
        written = ff::av_interleaved_write_frame(output, packet) >= 0 &&
                  ff::av_write_trailer(output) >= 0;
      }
      ff::avio_closep(&output->pb);
    }
  }
  ff::av_packet_free(&packet);
  if (output) ff::avformat_free_context(output);
  ff::avcodec_free_context(&codec);
  return written;
}

class SubtitleDisplay : public ::testing::Test {
 protected:
  void SetUp() override { LoadPlayer(Player); }
  void TearDown() override { Player.Stop(true); }
  TMeasuringPlayer Player;
  TRecorder Recorder{Player};
};

TEST_F(SubtitleDisplay, SubtitleIsMixedIntoThePicturesOfItsTime) {
  const std::string dir = fixtures::TempDir("player_subtitles");
  const std::string subtitles = dir + "/subtitles.mkv";
  ASSERT_TRUE(WriteSubtitleFile(subtitles));
  const std::string video = fixtures::Make(
      "player_black_3s.mkv",
      "-f lavfi -i color=c=black:size=320x240:rate=25:duration=3 -c:v libx264 -preset ultrafast "
      "-pix_fmt yuv420p");
  const std::string file = dir + "/with_subtitles.mkv";
  ASSERT_EQ(fixtures::Run("ffmpeg -nostdin -y -loglevel error -i " + fixtures::ShellQuote(video) +
                          " -i " + fixtures::ShellQuote(subtitles) + " -map 0:v -map 1:s -c copy " +
                          fixtures::ShellQuote(file)),
            0);
  const ProbeResult probe = ProbeMedia(file, false);
  ASSERT_NE(probe.FirstOfType("subtitle"), nullptr);

  ASSERT_TRUE(Player.Open(file, 0)) << Player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([this] { return Recorder.LastPosition() >= 200000; }, 10000));
  EXPECT_LT(Luma(PixelAt(Player.CurrentFrame(), 130, 115)), 60);
  ASSERT_TRUE(PumpUntil([this] { return Recorder.LastPosition() >= 1200000; }, 10000));
  const TBitmap during = Player.CurrentFrame();
  EXPECT_GT(Luma(PixelAt(during, 130, 115)), 150);
  EXPECT_LT(Luma(PixelAt(during, 20, 20)), 60);
  ASSERT_TRUE(PumpUntil([this] { return Recorder.LastPosition() >= 2700000; }, 10000));
  EXPECT_LT(Luma(PixelAt(Player.CurrentFrame(), 130, 115)), 60);
}

}  // namespace
