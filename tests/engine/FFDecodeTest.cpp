#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "FFDecode.h"
#include "EngineTestSupport.h"
#include "FFLoad.h"
#include "MediaFixtures.h"

namespace fs = std::filesystem;
using fixtures::Media;

namespace {

class DecoderTest : public ::testing::Test {
 protected:
  void SetUp() override { LoadEngineLibraries(); }
  // Other suites expect to find the libraries unloaded.
  void TearDown() override {
    Decoder.CloseFile();
    FFLoader().Unload(AllLibraries);
  }

  TFFDecoder Decoder;
};

// "25/1" as numerator and denominator.
bool SameRate(const std::string& text, int num, int den) {
  int probeNum = 0, probeDen = 0;
  if (std::sscanf(text.c_str(), "%d/%d", &probeNum, &probeDen) != 2) return false;
  return int64_t(probeNum) * den == int64_t(num) * probeDen;
}

// The record's codec text is "decoder name(long name)"; ffprobe names the codec the decoder
// decodes and gives the same long name.
void ExpectSameCodec(const std::string& codec, const ProbeStream& probe) {
  EXPECT_EQ(codec.rfind(probe.codec_name, 0), 0u) << codec << " vs " << probe.codec_name;
  const auto longName = probe.fields.find("codec_long_name");
  ASSERT_NE(longName, probe.fields.end());
  EXPECT_NE(codec.find("(" + longName->second + ")"), std::string::npos) << codec;
}

void ExpectDurationNear(int64_t microseconds, double seconds) {
  if (seconds < 0) return;  // ffprobe gives none
  EXPECT_NEAR(double(microseconds) / 1e6, seconds, 0.05);
}

void ExpectBitRate(int bitRate, int64_t probeBitRate) {
  if (probeBitRate >= 0) {
    EXPECT_EQ(bitRate, probeBitRate);
  }
}

// Everything the decoder reports about a file, checked against ffprobe on the same file.
void ExpectAgreesWithFFprobe(TCustomDecoder& decoder, const std::string& path) {
  SCOPED_TRACE(path);
  const ProbeResult probe = ProbeMedia(path, false);
  ASSERT_TRUE(probe.ok) << probe.error;
  ASSERT_TRUE(decoder.LoadFile(path)) << decoder.LastErrMsg();

  EXPECT_EQ(decoder.StreamCount(), int(probe.streams.size()));
  EXPECT_EQ(decoder.FileSize(), probe.size);
  TFileStreamInfo file;
  ASSERT_TRUE(decoder.GetFileInfo(file));
  ExpectDurationNear(file.Duration, probe.duration);
  ExpectBitRate(file.BitRate, probe.bit_rate);

  int videos = 0, audios = 0, firstVideo = -1, firstAudio = -1;
  for (const ProbeStream& stream : probe.streams) {
    SCOPED_TRACE("stream #" + std::to_string(stream.index));
    EXPECT_EQ(decoder.IsVideoStream(stream.index), stream.codec_type == "video");
    EXPECT_EQ(decoder.IsAudioStream(stream.index), stream.codec_type == "audio");
    if (stream.codec_type == "video") {
      if (videos++ == 0) firstVideo = stream.index;
      TVideoStreamInfo video;
      ASSERT_TRUE(decoder.GetVideoStreamInfo(stream.index, video)) << decoder.LastErrMsg();
      ExpectSameCodec(video.Codec, stream);
      EXPECT_EQ(video.Width, stream.width);
      EXPECT_EQ(video.Height, stream.height);
      EXPECT_TRUE(SameRate(stream.avg_frame_rate, video.FrameRateNum, video.FrameRateDen))
          << stream.avg_frame_rate << " vs " << video.FrameRateNum << "/" << video.FrameRateDen;
      ExpectDurationNear(video.DurationUS, stream.duration);
      ExpectBitRate(video.BitRate, stream.bit_rate);
      // ffprobe says nothing, or 0:1, for a picture that states no pixel shape: square.
      const auto stated = stream.fields.find("sample_aspect_ratio");
      const std::string sample =
          stated == stream.fields.end() || stated->second == "N/A" || stated->second == "0:1"
              ? "1:1"
              : stated->second;
      EXPECT_EQ(std::to_string(video.SampleAspectNum) + ":" + std::to_string(video.SampleAspectDen),
                sample);
      EXPECT_NEAR(video.AspectRatio,
                  double(video.SampleAspectNum) / video.SampleAspectDen * stream.width /
                      stream.height,
                  1e-4);
    } else if (stream.codec_type == "audio") {
      if (audios++ == 0) firstAudio = stream.index;
      TAudioStreamInfo audio;
      ASSERT_TRUE(decoder.GetAudioStreamInfo(stream.index, audio)) << decoder.LastErrMsg();
      ExpectSameCodec(audio.Codec, stream);
      EXPECT_EQ(audio.SampleRate, stream.sample_rate);
      EXPECT_EQ(audio.Channels, stream.channels);
      ExpectDurationNear(audio.DurationUS, stream.duration);
      ExpectBitRate(audio.BitRate, stream.bit_rate);
    }
  }
  EXPECT_EQ(decoder.VideoStreamCount(), videos);
  EXPECT_EQ(decoder.AudioStreamCount(), audios);
  EXPECT_EQ(decoder.FirstVideoStream(), firstVideo);
  EXPECT_EQ(decoder.FirstAudioStream(), firstAudio);
}

std::string CopyAs(const std::string& source, const std::string& dir, const std::string& name) {
  const std::string path = dir + "/" + name;
  fs::copy_file(source, path, fs::copy_options::overwrite_existing);
  return path;
}

}  // namespace

TEST_F(DecoderTest, ProbeOfEachFixtureAgreesWithFFprobe) {
  for (Media media : {Media::Mp4H264Aac, Media::AviMpeg4Mp3, Media::Mp3AudioOnly, Media::VideoOnly,
                      Media::OddSize})
    ExpectAgreesWithFFprobe(Decoder, fixtures::Path(media));
  // Pixels that are not square: stated by the picture (a PAL 16:9 DVD), or by the container
  // alone (an MKV's display size over square coded pictures).
  ExpectAgreesWithFFprobe(
      Decoder, fixtures::Make("pal-16x9.mpg",
                              "-f lavfi -i testsrc=size=720x576:rate=25:duration=1 "
                              "-c:v mpeg2video -aspect 16:9"));
  const std::string coded = fixtures::ShellQuote(fixtures::Path(Media::VideoOnly));
  ExpectAgreesWithFFprobe(
      Decoder, fixtures::Make("display-16x9.mkv", "-i " + coded + " -c copy -aspect 16:9"));
}

TEST_F(DecoderTest, SubtitleStreamsAreCountedAndAreNeitherAudioNorVideo) {
  const std::string dir = fixtures::TempDir("subs");
  std::ofstream(dir + "/subs.srt") << "1\n00:00:00,500 --> 00:00:01,500\nHello\n\n";
  const std::string path = fixtures::Make(
      "h264_aac_subtitles.mkv", fixtures::ShellQuote(dir + "/subs.srt").insert(0, "-i ") + " " +
                                    "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 "
                                    "-f lavfi -i sine=duration=2 -map 1 -map 2 -map 0 "
                                    "-c:v libx264 -preset ultrafast -c:a aac -c:s srt");
  ExpectAgreesWithFFprobe(Decoder, path);
  EXPECT_EQ(Decoder.SubtitleStreamCount(), 1);
  EXPECT_EQ(Decoder.FirstSubtitleStream(), 2);
  TAudioStreamInfo audio;
  EXPECT_FALSE(Decoder.GetAudioStreamInfo(2, audio));
  EXPECT_EQ(Decoder.LastErrMsg(), "stream #2 is not audio stream.");
  TVideoStreamInfo video;
  EXPECT_FALSE(Decoder.GetVideoStreamInfo(1, video));
  EXPECT_EQ(Decoder.LastErrMsg(), "stream #1 is not video stream.");
  EXPECT_EQ(video.Width, -1);
}

TEST_F(DecoderTest, ContainerTagsFillTheFileRecord) {
  const std::string path = fixtures::Make(
      "tagged.mkv",
      "-f lavfi -i sine=duration=1 -c:a libmp3lame -metadata title='Evening Walk' "
      "-metadata author='A. Writer' -metadata copyright='(c) Fennick' -metadata comment=Draft "
      "-metadata album=Walks -metadata genre=Field -metadata year=2011 -metadata track=7 "
      "-metadata creation_time=2020-01-02T03:04:05Z");
  ASSERT_TRUE(Decoder.LoadFile(path)) << Decoder.LastErrMsg();
  TFileStreamInfo info;
  ASSERT_TRUE(Decoder.GetFileInfo(info));
  EXPECT_EQ(info.Title, "Evening Walk");
  EXPECT_EQ(info.Author, "A. Writer");
  EXPECT_EQ(info.Copyright, "(c) Fennick");
  EXPECT_EQ(info.Comment, "Draft");
  EXPECT_EQ(info.Album, "Walks");
  EXPECT_EQ(info.Genre, "Field");
  EXPECT_EQ(info.Year, 2011);
  EXPECT_EQ(info.Track, 7);
  EXPECT_EQ(info.Timestamp, 1577934245);
  EXPECT_EQ(info.StartTime, 0);

  ASSERT_TRUE(Decoder.LoadFile(fixtures::Path(Media::Mp3AudioOnly)));
  ASSERT_TRUE(Decoder.GetFileInfo(info));
  EXPECT_EQ(info.Title, "");
  EXPECT_EQ(info.Year, 0);
  EXPECT_EQ(info.Track, 0);
  EXPECT_EQ(info.Timestamp, -1);
}

TEST_F(DecoderTest, BadInputsFailWithTheirTextsAndLeaveTheDecoderReusable) {
  const std::string dir = fixtures::TempDir("bad-inputs");
  const std::string good = fixtures::Path(Media::Mp4H264Aac);
  const std::string missing = dir + "/missing.avi";
  const std::string empty = dir + "/empty.avi";
  std::ofstream(empty).close();
  const std::string text = dir + "/notes.avi";
  {
    std::ofstream out(text);
    for (int n = 0; n < 200; ++n) out << "This is a plain text file, not a video.\n";
  }
  const std::string truncated = dir + "/truncated.mp4";
  {
    std::ifstream in(good, std::ios::binary);
    std::string head(20000, '\0');
    in.read(head.data(), std::streamsize(head.size()));
    std::ofstream(truncated, std::ios::binary).write(head.data(), in.gcount());
  }

  const struct {
    std::string File;
    std::string Format;
    std::string Error;
  } cases[] = {
      {missing, "", missing + ": No such file or directory"},
      {empty, "", empty + ": Invalid data found when processing input"},
      {text, "", text + ": Invalid data found when processing input"},
      {truncated, "", truncated + ": Invalid data found when processing input"},
      {good, "nosuchformat", "Unknown input format: nosuchformat"},
  };
  for (const auto& bad : cases) {
    SCOPED_TRACE(bad.File);
    ASSERT_TRUE(Decoder.LoadFile(good));
    EXPECT_FALSE(Decoder.LoadFile(bad.File, bad.Format));
    EXPECT_EQ(Decoder.LastErrMsg(), bad.Error);
    EXPECT_EQ(Decoder.FormatContext(), nullptr);
    EXPECT_EQ(Decoder.StreamCount(), -1);
    EXPECT_EQ(Decoder.FileSize(), -1);
    TFileStreamInfo info;
    EXPECT_FALSE(Decoder.GetFileInfo(info));
    EXPECT_EQ(Decoder.LastErrMsg(), "file not loaded.");
    EXPECT_EQ(info.Duration, -1);
  }
  ExpectAgreesWithFFprobe(Decoder, good);
}

TEST_F(DecoderTest, ProbingThatFindsNoCodecParametersFails) {
  const std::string dir = fixtures::TempDir("no-params");
  // A raw H.264 stream cut before its first picture: the demuxer opens, the codec stays unknown.
  const std::string path = dir + "/header.h264";
  const std::string source =
      fixtures::Make("raw.h264",
                     "-f lavfi -i testsrc=size=160x120:rate=25:duration=1 -c:v libx264 "
                     "-preset ultrafast -f h264");
  {
    std::ifstream in(source, std::ios::binary);
    std::string head(4, '\0');
    in.read(head.data(), 4);
    std::ofstream(path, std::ios::binary).write(head.data(), 4);
  }
  EXPECT_FALSE(Decoder.LoadFile(path, "h264"));
  EXPECT_EQ(Decoder.LastErrMsg(), path + ": could not find codec parameters");
  EXPECT_EQ(Decoder.FormatContext(), nullptr);
  EXPECT_TRUE(Decoder.LoadFile(source, "h264")) << Decoder.LastErrMsg();
  EXPECT_EQ(Decoder.FormatName(), "h264");
}

// A file of zeros named as DV keeps the DV reader searching it to its end; a device or an
// endless source has no end at all. The probe gives up at its limits, and on request.
TEST_F(DecoderTest, ProbingGivesUpAtItsLimitsOrWhenAborted) {
  const std::string zeros = fixtures::TempDir("limits") + "/zeros.dv";
  fs::resize_file((std::ofstream(zeros).close(), zeros), 2 * Decoder.ReadLimit);
  TFFDecoder aborted;
  aborted.Abort();
  TFFDecoder slow;
  slow.Timeout = 1;
  slow.TriggerEventInMainThread = false;
  slow.OnBeforeFindStreamInfo = [](void*, AVFormatContext*) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  };
  const struct {
    TFFDecoder& Probe;
    std::string File, Error;
  } cases[] = {
      {Decoder, zeros, zeros + ": gave up: no media found in the first 64 MB"},
      {aborted, fixtures::Path(Media::Mp4H264Aac),
       fixtures::Path(Media::Mp4H264Aac) + ": canceled"},
      {slow, fixtures::Path(Media::Mp4H264Aac),
       fixtures::Path(Media::Mp4H264Aac) + ": gave up: no media found within 0.001 s"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Error);
    EXPECT_FALSE(c.Probe.LoadFile(c.File));
    EXPECT_EQ(c.Probe.LastErrMsg(), c.Error);
    EXPECT_EQ(c.Probe.FormatContext(), nullptr);
  }
}

TEST_F(DecoderTest, UnusualFileNamesOpen) {
  const std::string dir = fixtures::TempDir("names");
  const std::string source = fixtures::Path(Media::Mp4H264Aac);
  for (const char* name : {"clip with spaces.mp4", "视频 テスト.mp4", "🎬 clip.mp4", "-clip.mp4",
                           "--i clip.mp4", "clip: part 1.mp4", "100% #1?.mp4"}) {
    SCOPED_TRACE(name);
    const std::string path = CopyAs(source, dir, name);
    ASSERT_TRUE(Decoder.LoadFile(path)) << Decoder.LastErrMsg();
    EXPECT_EQ(Decoder.GetFileName(), path);
    EXPECT_EQ(Decoder.FileSize(), int64_t(fs::file_size(path)));
    EXPECT_EQ(Decoder.StreamCount(), 2);
  }
  // Relative names that look like URLs or options are still files.
  const std::string saved = WideGetCurrentDir();
  ASSERT_TRUE(WideSetCurrentDir(dir));
  for (const char* name : {"clip: part 1.mp4", "-clip.mp4"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(Decoder.LoadFile(name)) << Decoder.LastErrMsg();
    EXPECT_EQ(Decoder.StreamCount(), 2);
  }
  Decoder.CloseFile();
  ASSERT_TRUE(WideSetCurrentDir(saved));
}

TEST_F(DecoderTest, LookupsWithoutAFileOrWithBadIndexesReportWhy) {
  TVideoStreamInfo video;
  EXPECT_FALSE(Decoder.GetDefaultVideoStreamInfo(video));
  EXPECT_EQ(Decoder.LastErrMsg(), "file not loaded.");
  EXPECT_EQ(Decoder.GetFileName(), "");
  EXPECT_FALSE(Decoder.IsVideoStream(0));

  ASSERT_TRUE(Decoder.LoadFile(fixtures::Path(Media::VideoOnly)));
  TAudioStreamInfo audio;
  EXPECT_FALSE(Decoder.GetAudioStreamInfo(-1, audio));
  EXPECT_EQ(Decoder.LastErrMsg(), "no audio stream.");
  EXPECT_EQ(audio.Channels, -1);
  EXPECT_EQ(audio.SampleRate, -1);
  EXPECT_EQ(audio.DurationUS, -1);
  EXPECT_EQ(audio.Codec, "");
  EXPECT_FALSE(Decoder.GetVideoStreamInfo(1, video));
  EXPECT_EQ(Decoder.LastErrMsg(), "stream index #1 is invalid.");
  EXPECT_FALSE(Decoder.IsAudioStream(5));
  EXPECT_EQ(Decoder.LastErrMsg(), "stream index #5 is invalid.");
  EXPECT_FALSE(Decoder.IsVideoStream(-2));
  EXPECT_EQ(Decoder.LastErrMsg(), "stream index #-2 is invalid.");
  EXPECT_TRUE(Decoder.GetDefaultVideoStreamInfo(video));
  EXPECT_EQ(video.Width, 320);

  ASSERT_TRUE(Decoder.LoadFile(fixtures::Path(Media::Mp3AudioOnly)));
  EXPECT_FALSE(Decoder.GetDefaultVideoStreamInfo(video));
  EXPECT_EQ(Decoder.LastErrMsg(), "no video stream.");
  EXPECT_TRUE(Decoder.GetAudioStreamInfo(-1, audio));
  EXPECT_EQ(audio.SampleFormat, AV_SAMPLE_FMT_FLTP);
}

TEST_F(DecoderTest, SelectedStreamPrefersVideoThenAudio) {
  EXPECT_EQ(Decoder.SelectedStream(), -1);
  EXPECT_EQ(Decoder.AudioChannels, 2);
  EXPECT_EQ(Decoder.AudioSampleRate, 44100);
  EXPECT_EQ(Decoder.AudioSampleFormat, AV_SAMPLE_FMT_S16);
  ASSERT_TRUE(Decoder.LoadFile(fixtures::Path(Media::AviMpeg4Mp3)));
  EXPECT_EQ(Decoder.SelectedStream(), Decoder.FirstVideoStream());
  EXPECT_EQ(Decoder.SelectedStartTime(), 0);
  ASSERT_TRUE(Decoder.LoadFile(fixtures::Path(Media::Mp3AudioOnly)));
  EXPECT_EQ(Decoder.SelectedStream(), 0);
  Decoder.CloseFile();
  EXPECT_EQ(Decoder.SelectedStream(), -1);
}

TEST_F(DecoderTest, OpenedInputGetsTheInterruptCallbackAndTheEventBeforeProbing) {
  int calls = 0;
  Decoder.OnBeforeFindStreamInfo = [&](void* sender, AVFormatContext* context) {
    ++calls;
    EXPECT_EQ(sender, &Decoder);
    EXPECT_EQ(context->interrupt_callback.callback, &AVInterruptCallback);
    // Nothing has been probed yet: the streams have no frame rate or bit rate measured.
    EXPECT_EQ(context->duration, AV_NOPTS_VALUE);
  };
  ASSERT_TRUE(Decoder.LoadFile(fixtures::Path(Media::AviMpeg4Mp3)));
  EXPECT_EQ(calls, 1);
  EXPECT_NE(Decoder.FormatContext()->duration, AV_NOPTS_VALUE);
  EXPECT_TRUE(Decoder.OwnsContext());
}

TEST_F(DecoderTest, EventFromAWorkerRunsOnTheMainThread) {
  const std::thread::id main = std::this_thread::get_id();
  std::thread::id handlerThread;
  Decoder.OnBeforeFindStreamInfo = [&](void*, AVFormatContext*) {
    handlerThread = std::this_thread::get_id();
  };
  std::atomic<bool> done{false};
  bool loaded = false;
  std::thread worker([&] {
    loaded = Decoder.LoadFile(fixtures::Path(Media::Mp3AudioOnly));
    done = true;
  });
  while (!done) CheckSynchronize(10);
  worker.join();
  EXPECT_TRUE(loaded);
  EXPECT_EQ(handlerThread, main);

  Decoder.TriggerEventInMainThread = false;
  std::thread direct([&] { Decoder.LoadFile(fixtures::Path(Media::Mp3AudioOnly)); });
  const std::thread::id directId = direct.get_id();
  direct.join();
  EXPECT_EQ(handlerThread, directId);
}

TEST_F(DecoderTest, AnEventThatThrowsLeavesNoFileOpen) {
  Decoder.OnBeforeFindStreamInfo = [](void*, AVFormatContext*) {
    throw std::runtime_error("stop");
  };
  EXPECT_THROW(Decoder.LoadFile(fixtures::Path(Media::Mp3AudioOnly)), std::runtime_error);
  EXPECT_EQ(Decoder.FormatContext(), nullptr);
  Decoder.OnBeforeFindStreamInfo = nullptr;
  EXPECT_TRUE(Decoder.LoadFile(fixtures::Path(Media::Mp3AudioOnly)));
}

TEST_F(DecoderTest, MissingLibrariesRaise) {
  FFLoader().UnloadLib(libSWScale);
  EXPECT_THROW(
      {
        try {
          Decoder.LoadFile(fixtures::Path(Media::Mp3AudioOnly));
        } catch (const FFmpegException& e) {
          EXPECT_STREQ(e.what(), "LibSwScale not loaded.");
          throw;
        }
      },
      FFmpegException);
  FFLoader().UnloadLib(libAVCodec);
  try {
    Decoder.LoadFile(fixtures::Path(Media::Mp3AudioOnly));
    ADD_FAILURE() << "no exception";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "LibAVCodec not loaded.");
  }
  ASSERT_TRUE(FFLoader().Load(AllLibraries));
}

namespace {

// An input the test opens itself through a read-only, unseekable I/O context, as a component
// that owns its input hands it to a decoder.
struct TStreamingInput {
  explicit TStreamingInput(const std::string& path) : File(std::fopen(path.c_str(), "rb")) {
    const int size = 4096;
    auto* buffer = static_cast<unsigned char*>(ff::av_malloc(size));
    IO = ff::avio_alloc_context(buffer, size, 0, File, &Read, nullptr, nullptr);
    Context = ff::avformat_alloc_context();
    Context->pb = IO;
    Context->flags |= AVFMT_FLAG_CUSTOM_IO;
    Opened = ff::avformat_open_input(&Context, path.c_str(), nullptr, nullptr) >= 0 &&
             ff::avformat_find_stream_info(Context, nullptr) >= 0;
  }
  ~TStreamingInput() {
    ff::avformat_close_input(&Context);
    ff::av_freep(&IO->buffer);
    ff::avio_context_free(&IO);
    std::fclose(File);
  }
  static int Read(void* opaque, uint8_t* buffer, int size) {
    const size_t n = std::fread(buffer, 1, size_t(size), static_cast<FILE*>(opaque));
    return n > 0 ? int(n) : AVERROR_EOF;
  }

  FILE* File;
  AVIOContext* IO = nullptr;
  AVFormatContext* Context = nullptr;
  bool Opened = false;
};

}  // namespace

TEST_F(DecoderTest, AttachedInputIsReadButNotClosed) {
  const std::string path = fixtures::Path(Media::Mp3AudioOnly);
  TStreamingInput input(path);
  ASSERT_TRUE(input.Opened);
  ASSERT_LT(ff::avio_size(input.IO), 0);  // the container cannot tell its size

  Decoder.AttachFormatContext(input.Context);
  EXPECT_FALSE(Decoder.OwnsContext());
  EXPECT_EQ(Decoder.FileSize(), int64_t(fs::file_size(path)));
  EXPECT_EQ(Decoder.AudioStreamCount(), 1);
  EXPECT_EQ(Decoder.GetFileName(), path);

  // Times of a container or stream that lacks them.
  AVStream* stream = input.Context->streams[0];
  input.Context->duration = AV_NOPTS_VALUE;
  stream->start_time = 2;
  stream->duration = 3;
  stream->time_base = AVRational{0, 0};
  TFileStreamInfo file;
  ASSERT_TRUE(Decoder.GetFileInfo(file));
  EXPECT_EQ(file.Duration, -1);
  TAudioStreamInfo audio;
  ASSERT_TRUE(Decoder.GetAudioStreamInfo(0, audio));
  EXPECT_EQ(audio.StartTime, 2);
  EXPECT_EQ(audio.StartTimeUS, 2000000);
  EXPECT_EQ(audio.DurationUS, 3000000);
  stream->time_base = AVRational{5, 0};
  ASSERT_TRUE(Decoder.GetAudioStreamInfo(0, audio));
  EXPECT_EQ(audio.DurationUS, 15000000);
  stream->duration = AV_NOPTS_VALUE;
  ASSERT_TRUE(Decoder.GetAudioStreamInfo(0, audio));
  EXPECT_EQ(audio.Duration, -1);
  EXPECT_EQ(audio.DurationUS, -1);

  // Loading another file forgets the attached input without closing it.
  ASSERT_TRUE(Decoder.LoadFile(fixtures::Path(Media::VideoOnly)));
  EXPECT_NE(Decoder.FormatContext(), input.Context);
  Decoder.AttachFormatContext(input.Context);
  Decoder.AttachFormatContext(nullptr);
  EXPECT_EQ(Decoder.FormatContext(), nullptr);
  EXPECT_EQ(Decoder.StreamCount(), -1);
  EXPECT_EQ(input.Context->nb_streams, 1u);
}
