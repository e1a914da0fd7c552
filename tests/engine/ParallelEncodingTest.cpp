// Video encoded by several encoder instances, group of pictures by group: what comes out is what
// one encoder writes, the same on every run, and settings that need one encoder keep one.
#include <signal.h>
#include <sys/resource.h>

#include "FFmpegConvertTestSupport.h"
#include "FFmpeg_Parallel.h"
#include "FFmpeg_Private.h"

namespace {

// Eight seconds of moving pictures: seventeen groups of twelve.
std::string MovingClip() {
  return fixtures::Make("parallel_moving_8s.mp4",
                        "-f lavfi -i testsrc2=size=320x240:rate=25:duration=8 "
                        "-c:v libx264 -preset ultrafast -pix_fmt yuv420p");
}

// Each video packet's time and key flag, as ffprobe reads them.
std::string VideoPackets(const std::string& path) {
  std::string output;
  fixtures::Run(
      "ffprobe -v error -select_streams v -show_entries packet=pts,duration,flags "
      "-of csv=p=0 " +
          fixtures::ShellQuote(path),
      &output);
  return output;
}

// The decoded pictures' checksums, from the ffmpeg command line.
std::string PictureSums(const std::string& path) {
  std::string output;
  fixtures::Run("ffmpeg -nostdin -v error -i " + fixtures::ShellQuote(path) +
                    " -map 0:v -f framemd5 - | grep -v '^#'",
                &output);
  return output;
}

// The video packets' bytes and count, as ffprobe reads them.
std::pair<int64_t, int64_t> VideoBytesAndPackets(const std::string& path) {
  std::string output;
  fixtures::Run("ffprobe -v error -select_streams v -show_entries packet=size -of csv=p=0 " +
                    fixtures::ShellQuote(path),
                &output);
  std::istringstream sizes(output);
  int64_t bytes = 0, packets = 0;
  for (int64_t size = 0; sizes >> size; ++packets) bytes += size;
  return {bytes, packets};
}

double VideoKilobitsPerSecond(const std::string& path) {
  const auto [bytes, packets] = VideoBytesAndPackets(path);
  return packets ? double(bytes) * 8 / (double(packets) / 25) / 1000 : 0;
}

class ParallelEncoding : public ConvertTest {
 protected:
  // Converts the clip into FLV1 with the task options; the run must finish.
  std::unique_ptr<TProbeTask> Convert(const std::string& input, const std::string& output,
                                      const TOptionList& options, const TOptionList& taskOptions) {
    TOptionList all{{"vcodec", "flv"}};
    all.insert(all.end(), options.begin(), options.end());
    auto task = MakeTask({input}, output, all, taskOptions);
    const TRunResult run = RunTask(*task);
    EXPECT_TRUE(run.Finished) << output << ": " << run.Message;
    EXPECT_EQ(run.Ends, 1);
    return task;
  }
  // How the task says it encodes its video stream.
  static std::string EncodingLine(const TProbeTask* task) {
    const std::vector<std::string> lines = LogLines(task, "Output stream #0.0: ");
    return lines.empty() ? "" : lines.back();
  }
};

TEST_F(ParallelEncoding, GroupsOnFourInstancesGiveWhatOneEncoderWritesOnEveryRun) {
  struct TCase {
    const char* Name;
    TOptionList Options;
    bool SamePictures;  // no rate control: every picture is coded as one encoder codes it
  };
  const TCase cases[] = {
      {"bitrate", {{"b", "300000"}}, false},
      {"quantiser", {{"qscale", "5"}}, true},
  };
  const std::string input = MovingClip();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string serial = Output(std::string(c.Name) + "-serial.flv");
    const std::string first = Output(std::string(c.Name) + "-parallel1.flv");
    const std::string second = Output(std::string(c.Name) + "-parallel2.flv");
    auto one = Convert(input, serial, c.Options, {{"threads", "1"}});
    EXPECT_EQ(EncodingLine(one.get()),
              "Output stream #0.0: one encoder for the whole stream (one thread)");
    auto four = Convert(input, first, c.Options, {{"threads", "4"}});
    EXPECT_EQ(EncodingLine(four.get()), "Output stream #0.0: 4 encoders on groups of 12 pictures");
    Convert(input, second, c.Options, {{"threads", "4"}});

    const std::string packets = VideoPackets(serial);
    EXPECT_EQ(std::count(packets.begin(), packets.end(), '\n'), 200);
    EXPECT_EQ(std::count(packets.begin(), packets.end(), 'K'), 17);
    EXPECT_EQ(VideoPackets(first), packets);
    EXPECT_DOUBLE_EQ(ProbeMedia(first).duration, ProbeMedia(serial).duration);
    EXPECT_EQ(CountDecodedFrames(first), 200);
    EXPECT_TRUE(fixtures::ReadFile(first) == fixtures::ReadFile(second));
    if (c.SamePictures) {
      EXPECT_EQ(PictureSums(first), PictureSums(serial));
    } else {
      // Each instance's rate control starts cold, as one encoder's does once: over a short
      // clip neither reaches the target, and the instances may stray no further from it.
      EXPECT_LE(std::fabs(VideoKilobitsPerSecond(first) - 300),
                std::fabs(VideoKilobitsPerSecond(serial) - 300) + 15);
    }
  }
}

// An instance that starts cold on a later group spends several times the group's share on it,
// as one encoder does on the stream's first group only: over a short clip that would be tens of
// per cent. Warmed up, the instances spend what one encoder spends.
TEST_F(ParallelEncoding, InstancesSpendWhatOneEncoderSpendsOnAShortClip) {
  const std::string input = MovingClip();
  const std::string serial = Output("short-serial.flv");
  Convert(input, serial, {{"b", "300000"}}, {{"threads", "1"}});
  const double serialBytes = double(VideoBytesAndPackets(serial).first);
  for (const std::string threads : {"2", "4"}) {
    SCOPED_TRACE(threads);
    const std::string parallel = Output("short-parallel" + threads + ".flv");
    auto task = Convert(input, parallel, {{"b", "300000"}}, {{"threads", threads}});
    EXPECT_EQ(EncodingLine(task.get()),
              "Output stream #0.0: " + threads + " encoders on groups of 12 pictures");
    EXPECT_NEAR(double(VideoBytesAndPackets(parallel).first) / serialBytes, 1, 0.05);
  }
}

// Clips as a camera gives them: a few seconds of grain on moving detail, in the codecs that
// cameras and discs write. An encoder's rate control starts cold on them and spends several times
// a group's share on the first group, then pays it back as it goes.
std::vector<std::pair<std::string, std::string>> CameraClips() {
  const std::string sound = " -f lavfi -i sine=frequency=440:sample_rate=48000 ";
  const std::string life =
      "life=size=720x576:rate=50:seed=7:mold=10:ratio=0.3:death_color=#203040:life_color=#c0a060,"
      "gblur=sigma=2,noise=alls=5:allf=t+u";
  return {
      {"mpeg2-5s",
       fixtures::Make("camera_grain_mpeg2_5s.mpg",
                      "-f lavfi -i testsrc2=size=720x576:rate=25,noise=alls=4:allf=t+u" + sound +
                          "-t 5 -c:v mpeg2video -b:v 8M -c:a mp2")},
      {"interlaced-mpeg2-3s",
       fixtures::Make("camera_life_seeded_interlaced_3s.mpg",
                      "-f lavfi -i " + life + ",tinterlace=interleave_top,setfield=tff" + sound +
                          "-t 3 -c:v mpeg2video -flags +ilme+ildct -top 1 -b:v 8M -c:a mp2")},
      {"mjpeg-4s",
       fixtures::Make("camera_zoom_mjpeg_4s.avi",
                      "-f lavfi -i mandelbrot=size=640x480:rate=25,noise=alls=4:allf=t+u" + sound +
                          "-t 4 -c:v mjpeg -q:v 3 -pix_fmt yuvj420p -c:a pcm_s16le")},
  };
}

// Every instance but the first starts cold as well, on its run-in, whose bits the stream never
// gets: paid back, they would leave a short clip tens of per cent short of what one encoder
// spends. Each instance gets three groups at least, and a clip shorter than two instances' share
// keeps one encoder.
TEST_F(ParallelEncoding, InstancesSpendWhatOneEncoderSpendsOnShortCameraClips) {
  const auto clips = CameraClips();
  const struct {
    std::string Name, Input;
    TOptionList TaskOptions;
    std::string Encoding;
  } cases[] = {
      {"mpeg2-5s", clips[0].second, {}, "3 encoders on groups of 12 pictures"},
      {"interlaced-mpeg2-3s", clips[1].second, {}, "2 encoders on groups of 12 pictures"},
      {"mjpeg-4s", clips[2].second, {}, "2 encoders on groups of 12 pictures"},
      {"mpeg2-2s",
       clips[0].second,
       {{"t", "2"}},
       "one encoder for the whole stream (a short stream)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TOptionList serialOptions = c.TaskOptions, parallelOptions = c.TaskOptions;
    serialOptions.push_back({"threads", "1"});
    parallelOptions.push_back({"threads", "4"});
    const std::string serial = Output(c.Name + "-serial.flv");
    const std::string parallel = Output(c.Name + "-parallel.flv");
    Convert(c.Input, serial, {{"b", "512000"}}, serialOptions);
    auto task = Convert(c.Input, parallel, {{"b", "512000"}}, parallelOptions);
    EXPECT_EQ(EncodingLine(task.get()), "Output stream #0.0: " + c.Encoding);
    EXPECT_NEAR(double(VideoBytesAndPackets(parallel).first) / VideoBytesAndPackets(serial).first,
                1, 0.03);
  }
}

// The encoders get cores as their pictures cost against the decoder's, at least two; the
// decoder takes the cores they leave beside the task's and the sound's, and one more; neither
// side gets more than keep pace with the sound's one encoder.
TEST(ParallelEncodingCores, AreSharedAsThePicturesAndTheSoundCost) {
  using ffmpeg_internal::SplitCores;
  constexpr double P720 = 1280 * 720 * 25, P360 = 640 * 360 * 25, Stereo = 44100 * 2;
  const struct {
    int Cores;
    double Decoded, Encoded, Sound;
    int DecoderThreads, Instances;
  } cases[] = {
      {8, P720, P720, Stereo, 4, 3},  // as costly on both sides
      {8, P720, P360, Stereo, 5, 2},  // a cheap encode leaves the decoder the cores
      {8, P720, P720, 0, 5, 3},
      {8, P360, P360, Stereo, 4, 2},  // the sound sets the pace
      {16, P720, P720, Stereo, 9, 6},
      {2, P720, P720, Stereo, 2, 2},  // never fewer than two on either side
  };
  for (const auto& c : cases) {
    const auto split = SplitCores(c.Cores, {c.Decoded, c.Encoded, c.Sound});
    EXPECT_EQ(split.DecoderThreads, c.DecoderThreads) << c.Cores << " " << c.Encoded;
    EXPECT_EQ(split.Instances, c.Instances) << c.Cores << " " << c.Encoded;
  }
}

// The coded sound, packet by packet, from the ffmpeg command line.
std::string SoundSum(const std::string& path) {
  std::string output;
  fixtures::Run(
      "ffmpeg -nostdin -v error -i " + fixtures::ShellQuote(path) + " -map 0:a -c copy -f md5 -",
      &output);
  return output;
}

TEST_F(ParallelEncoding, SoundOnAThreadOfItsOwnIsCodedAsOnTheTasks) {
  const std::string input = fixtures::Path(fixtures::Media::Mp4H264Aac);
  const std::string serial = Output("sound-serial.flv");
  const std::string threaded = Output("sound-threaded.flv");
  Convert(input, serial, FlashOptions("22050"), {{"threads", "1"}});
  auto task = Convert(input, threaded, FlashOptions("22050"), {{"threads", "2"}});
  EXPECT_EQ(LogLines(task.get(), "Output stream #0.1: ").back(),
            "Output stream #0.1: sound encoded on a thread of its own");
  EXPECT_EQ(PacketTimes(threaded, "a"), PacketTimes(serial, "a"));
  EXPECT_EQ(SoundSum(threaded), SoundSum(serial));
  EXPECT_FALSE(SoundSum(serial).empty());
}

TEST_F(ParallelEncoding, SettingsThatNeedOneEncoderForTheWholeStreamKeepOne) {
  const std::string passLog = Folder + "/stats";
  const struct {
    TOptionList Options;
    const char* Reason;
  } cases[] = {
      {{{"pass", "1"}, {"passlogfile", passLog}}, "two-pass encoding"},
      {{{"maxrate", "400000"}, {"bufsize", "400000"}}, "a rate limit or a VBV buffer"},
      {{{"force_key_frames", "1"}}, "forced key frames"},
      {{{"vcodec", "libx264"}}, "the encoder has threads of its own"},
      {{{"g", "1"}}, "no groups of pictures"},
      {{{"fs", "10000000"}}, "an output size limit"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Reason);
    const std::string output = Output("serial" + std::to_string(n++) + ".flv");
    auto task =
        Convert(fixtures::Path(fixtures::Media::VideoOnly), output, c.Options, {{"threads", "4"}});
    EXPECT_EQ(
        EncodingLine(task.get()),
        std::string("Output stream #0.0: one encoder for the whole stream (") + c.Reason + ")");
    EXPECT_EQ(ProbeMedia(output).FirstOfType("video")->nb_read_frames, 75);
  }
}

// The time (s) of the last sound packet the file holds before its first picture: -1 when the
// picture comes first, infinity when there is none.
double SoundBeforeFirstPicture(const std::string& path) {
  std::string output;
  fixtures::Run("ffprobe -v error -show_entries packet=codec_type,pts_time -of csv=p=0 " +
                    fixtures::ShellQuote(path),
                &output);
  std::istringstream lines(output);
  double sound = -1;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("video,", 0) == 0) return sound;
    if (line.rfind("audio,", 0) == 0) sound = std::stod(line.substr(6));
  }
  return INFINITY;
}

// A song's cover is its video stream's only picture: the muxer holds back only seconds of sound
// for it, so it must reach the file at once, whole file or part, as one encoder gives it.
TEST_F(ParallelEncoding, ASongsCoverReachesTheFileBeforeItsSound) {
  const std::string song = fixtures::SongWithCover(40);
  const struct {
    const char* Name;
    TOptionList TaskOptions;
  } cases[] = {{"whole", {}}, {"part", {{"ss", "10"}, {"t", "25"}}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string output = Output(std::string("cover-") + c.Name + ".flv");
    Convert(song, output, FlashOptions("44100"), c.TaskOptions);
    EXPECT_LT(SoundBeforeFirstPicture(output), 1.0);
  }
}

// A write that fails while the instances still hold pictures ends the run once, with the error,
// and nothing waits for pictures that will never be written.
TEST_F(ParallelEncoding, AFailedWriteEndsTheRunOnceWhileInstancesHoldPictures) {
  const std::string input = MovingClip();
  const std::string output = Output("too-large.flv");
  rlimit original{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &original), 0);
  rlimit limited = original;
  limited.rlim_cur = 100000;
  const sighandler_t handler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  auto task = MakeTask({input}, output, {{"vcodec", "flv"}, {"qscale", "2"}}, {{"threads", "4"}});
  const TRunResult run = RunTask(*task);
  setrlimit(RLIMIT_FSIZE, &original);
  signal(SIGXFSZ, handler);
  EXPECT_EQ(run.Ends, 1);
  EXPECT_FALSE(run.Finished);
  EXPECT_TRUE(run.Exception);
  EXPECT_NE(run.Message.find("File too large"), std::string::npos) << run.Message;
}

// The instances on their own: packets come back in the order of the pictures, each group opens
// with a key frame whatever instance took it, and an instance stopped with pictures still queued
// lets go at once.
TEST_F(ParallelEncoding, InstancesGivePacketsBackInPictureOrder) {
  const AVCodec* codec = ff::avcodec_find_encoder(AV_CODEC_ID_FLV1);
  AVCodecContext* model = ff::avcodec_alloc_context3(codec);
  model->width = 64;
  model->height = 48;
  model->pix_fmt = AV_PIX_FMT_YUV420P;
  model->time_base = {1, 25};
  model->gop_size = 3;
  ASSERT_GE(ff::avcodec_open2(model, codec, nullptr), 0);
  AVFrame* frame = ff::av_frame_alloc();
  frame->width = 64;
  frame->height = 48;
  frame->format = AV_PIX_FMT_YUV420P;
  ASSERT_GE(ff::av_frame_get_buffer(frame, 0), 0);
  AVPacket* packet = ff::av_packet_alloc();
  for (const int instances : {1, 2, 3}) {
    SCOPED_TRACE(instances);
    TThreadedEncoder encoder(*model, instances, true);
    std::string order;
    const auto take = [&] {
      int result;
      while ((result = encoder.ReceivePacket(packet)) == 0) {
        order += std::to_string(packet->pts) + ((packet->flags & AV_PKT_FLAG_KEY) ? "K " : " ");
        ff::av_packet_unref(packet);
      }
      return result;
    };
    for (int n = 0; n < 8; ++n) {
      for (int y = 0; y < 48; ++y)  // a slope that moves right
        for (int x = 0; x < 64; ++x)
          frame->data[0][y * frame->linesize[0] + x] = uint8_t((x + 64 - 2 * n) * 2 + y);
      frame->pts = n * 2;  // a stream's times need not follow each other
      ASSERT_EQ(encoder.SendFrame(frame, {1, 1}), 0);
      ASSERT_EQ(take(), AVERROR(EAGAIN));
    }
    ASSERT_EQ(encoder.SendFrame(nullptr, {1, 1}), 0);
    EXPECT_EQ(take(), AVERROR_EOF);
    EXPECT_EQ(order, "0K 2 4 6K 8 10 12K 14 ");
  }
  {
    TThreadedEncoder stopped(*model, 2, true);
    for (int n = 0; n < 12; ++n) ASSERT_EQ(stopped.SendFrame(frame, {1, 1}), 0);
  }
  ff::av_packet_free(&packet);
  ff::av_frame_free(&frame);
  ff::avcodec_free_context(&model);
}

}  // namespace
