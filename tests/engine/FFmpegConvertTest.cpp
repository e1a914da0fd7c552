// Whole conversions through the transcoder task: what comes out is read back with ffprobe and
// with the engine's own decoder.
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <sstream>
#include <thread>

#include "FFDecode.h"
#include "FFmpegConvertTestSupport.h"
#include "MyUtils.h"
#include "vf_eq.h"
#include "vf_rotate.h"

namespace {

using fixtures::Media;

TEST_F(ConvertTest, Mp4BecomesAnFlvWithEveryFrameAtTheRequestedFormat) {
  const std::string output = Output("requested.flv");
  auto task = MakeTask({fixtures::Path(Media::Mp4H264Aac)}, output,
                       {{"vcodec", "flv"},
                        {"acodec", "libmp3lame"},
                        {"s", "176x144"},
                        {"r", "25"},
                        {"ar", "22050"},
                        {"ac", "1"},
                        {"b", "400000"},
                        {"ab", "64000"}});
  const TRunResult run = RunTask(*task);
  ASSERT_TRUE(run.Finished) << run.Message;

  const ProbeResult probe = ProbeMedia(output);
  ASSERT_TRUE(probe.ok) << probe.error;
  EXPECT_EQ(probe.format_name, "flv");
  const ProbeStream* video = probe.FirstOfType("video");
  const ProbeStream* audio = probe.FirstOfType("audio");
  ASSERT_TRUE(video && audio);
  EXPECT_EQ(video->codec_name, "flv1");
  EXPECT_EQ(video->width, 176);
  EXPECT_EQ(video->height, 144);
  EXPECT_EQ(video->r_frame_rate, "25/1");
  EXPECT_EQ(video->nb_read_frames, 75);
  EXPECT_EQ(audio->codec_name, "mp3");
  EXPECT_EQ(audio->sample_rate, 22050);
  EXPECT_EQ(audio->channels, 1);
  // The MP3 encoder's priming delay moves the start of the file before the pictures'.
  const double videoStart = PacketTimes(output, "v").front();
  EXPECT_LT(videoStart, 0.06);
  EXPECT_NEAR(probe.duration - videoStart, 3.0, 0.04);
  EXPECT_EQ(run.Duplicated(), 0);

  TFFDecoder decoder;
  ASSERT_TRUE(decoder.LoadFile(output)) << decoder.LastErrMsg();
  TVideoStreamInfo videoInfo;
  ASSERT_TRUE(decoder.GetDefaultVideoStreamInfo(videoInfo));
  EXPECT_EQ(videoInfo.Width, 176);
  EXPECT_EQ(videoInfo.Height, 144);
  EXPECT_EQ(videoInfo.Codec.rfind("flv", 0), 0u) << videoInfo.Codec;
  TAudioStreamInfo audioInfo;
  ASSERT_TRUE(decoder.GetAudioStreamInfo(decoder.FirstAudioStream(), audioInfo));
  EXPECT_EQ(audioInfo.SampleRate, 22050);
  EXPECT_EQ(audioInfo.Channels, 1);
  TFileStreamInfo fileInfo;
  ASSERT_TRUE(decoder.GetFileInfo(fileInfo));
  EXPECT_NEAR(double(fileInfo.Duration) / 1e6 - videoStart, 3.0, 0.04);
  EXPECT_EQ(CountDecodedFrames(output), 75);
}

TEST_F(ConvertTest, AviBecomesASwfWithEveryFrame) {
  const std::string output = Output("movie.swf");
  auto task = MakeTask({fixtures::Path(Media::AviMpeg4Mp3)}, output, FlashOptions("44100"));
  const TRunResult run = RunTask(*task);
  ASSERT_TRUE(run.Finished) << run.Message;
  const ProbeResult probe = ProbeMedia(output);
  ASSERT_TRUE(probe.ok) << probe.error;
  EXPECT_EQ(probe.format_name, "swf");
  const ProbeStream* video = probe.FirstOfType("video");
  const ProbeStream* audio = probe.FirstOfType("audio");
  ASSERT_TRUE(video && audio);
  EXPECT_EQ(video->codec_name, "flv1");
  EXPECT_EQ(video->width, 320);
  EXPECT_EQ(video->height, 240);
  EXPECT_EQ(video->nb_read_frames, 75);
  EXPECT_EQ(audio->codec_name, "mp3");
  EXPECT_EQ(audio->sample_rate, 44100);
  EXPECT_EQ(audio->channels, 2);
  // 3 s of 1152-sample frames at 44.1 kHz, within the encoder's last padded frame.
  EXPECT_NEAR(double(audio->nb_read_frames) * 1152 / 44100, 3.0, 0.1);
}

TEST_F(ConvertTest, FortyEightKilohertzInASwfFailsWithTheMuxersReasonAndLeavesNoFile) {
  const std::string output = Output("refused.swf");
  auto task = MakeTask({fixtures::Path(Media::Mp4H264Aac)}, output, FlashOptions("48000"));
  const TRunResult run = RunTask(*task);
  EXPECT_FALSE(run.Finished);
  EXPECT_TRUE(run.Exception);
  EXPECT_EQ(run.Message,
            "Could not write header for output file #0 (incorrect codec parameters ?)");
  EXPECT_EQ(run.Ends, 1);
  EXPECT_GE(CountLogged("does not support that sample rate"), 1);
  EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(ConvertTest, ProgressEndsWithTheFinalReportAndTheWholeFrameCount) {
  const std::string output = Output("progress.flv");
  auto task = MakeTask({fixtures::Path(Media::Mp4H264Aac)}, output, FlashOptions("44100"));
  task->ProgressInterval = 0;  // a report after every packet
  const TRunResult run = RunTask(*task);
  ASSERT_TRUE(run.Finished) << run.Message;
  ASSERT_GE(run.Progress.size(), 2u);
  for (size_t i = 0; i + 1 < run.Progress.size(); ++i) {
    EXPECT_EQ(run.Progress[i].FileIndex, 0);
    EXPECT_GE(run.Progress[i].Frame, 1) << "no report before the first frame";
    EXPECT_LE(run.Progress[i].Frame, run.Progress[i + 1].Frame);
  }
  const TProgressRecord& last = run.Progress.back();
  EXPECT_EQ(last.FileIndex, -1);
  EXPECT_EQ(last.Frame, 75);
  EXPECT_NEAR(double(last.TotalTime) / 1e6, 3.0, 0.05);
  EXPECT_NEAR(double(last.CurrentTime) / 1e6, 3.0, 0.1);
  EXPECT_GT(last.Size, 0);
  EXPECT_EQ(last.Size, int64_t(std::filesystem::file_size(output)));
  EXPECT_GT(last.Bitrate, 0);
}

TEST_F(ConvertTest, PauseHoldsTheOutputStillAndResumeFinishesEveryFrame) {
  const std::string output = Output("paused.flv");
  auto task =
      MakeTask({fixtures::Path(Media::Mp4H264Aac)}, output, FlashOptions("44100"), {{"re", "1"}});
  TAsyncRun run(*task);
  run.WaitForFrames(10);
  task->Pause();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // lets the current packet end
  const int frames = run.LastFrame();
  // Until the end the output is written under a temporary name, the folder's only file.
  const auto written = [this] {
    return std::filesystem::file_size(std::filesystem::directory_iterator(Folder)->path());
  };
  const uintmax_t size = written();
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(run.LastFrame(), frames);
  EXPECT_EQ(written(), size);
  EXPECT_EQ(run.Ends(), 0);
  task->Resume();
  const TRunResult result = run.Wait();
  ASSERT_TRUE(result.Finished) << result.Message;
  EXPECT_EQ(result.Progress.back().Frame, 75);
  EXPECT_EQ(ProbeMedia(output).FirstOfType("video")->nb_read_frames, 75);
}

TEST_F(ConvertTest, AbortLeavesAPlayableShorterOutputAndReportsTheEndOnce) {
  const std::string output = Output("aborted.flv");
  auto task =
      MakeTask({fixtures::Path(Media::Mp4H264Aac)}, output, FlashOptions("44100"), {{"re", "1"}});
  TAsyncRun run(*task);
  run.WaitForFrames(15);
  task->Abort(true);
  const TRunResult result = run.Wait();
  EXPECT_FALSE(result.Finished);
  EXPECT_FALSE(result.Exception) << result.Message;
  EXPECT_EQ(result.Ends, 1);
  EXPECT_EQ(result.Progress.back().FileIndex, -1);
  const ProbeResult probe = ProbeMedia(output);
  ASSERT_TRUE(probe.ok) << probe.error;
  const ProbeStream* video = probe.FirstOfType("video");
  ASSERT_TRUE(video);
  EXPECT_GE(video->nb_read_frames, 15);
  EXPECT_LT(video->nb_read_frames, 75);
  EXPECT_GT(probe.duration, 0.5);
  EXPECT_LT(probe.duration, 2.9);
  EXPECT_EQ(CountDecodedFrames(output), video->nb_read_frames);
}

// Two minutes of small pictures and a tone: converted with the sound encoder's slowest
// setting, the sound sets the pace and waits in its queue, and a stop comes long before the end.
std::string LongSmallInput() {
  return fixtures::Make(
      "h264_mp3_64x48_120s.mp4",
      "-f lavfi -i testsrc=size=64x48:rate=25:duration=120"
      " -f lavfi -i sine=frequency=440:sample_rate=44100:duration=120 -ac 2"
      " -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a libmp3lame -b:a 64k");
}

// A stopped run writes out what it converted: the sound still queued for its encoder, on the
// task's thread or on a thread of its own, goes into the file before the end, so the sound
// lasts as long as the pictures. (The pictures that the decoder's threads still hold, and the
// one held until the next one's time tells where it goes, are not written: the sound may outlast
// the pictures by that many.)
TEST_F(ConvertTest, AStoppedRunKeepsItsSoundAsLongAsItsPictures) {
  struct TCase {
    const char* Name;
    int Threads;
    bool PausedFirst;  // as the conversion window's cancel button stops
  };
  for (const TCase& c : {TCase{"one-thread", 1, false}, TCase{"parallel", 4, false},
                         TCase{"parallel-paused", 4, true}}) {
    SCOPED_TRACE(c.Name);
    const std::string output = Output(std::string("stopped-") + c.Name + ".flv");
    TOptionList options = FlashOptions("44100");
    options.push_back({"compression_level", "0"});
    auto task =
        MakeTask({LongSmallInput()}, output, options, {{"threads", std::to_string(c.Threads)}});
    TAsyncRun run(*task);
    run.WaitForFrames(1);
    if (c.PausedFirst) task->Pause();
    task->Stop(true);
    const TRunResult result = run.Wait();
    ASSERT_FALSE(result.Finished) << "the run ended before the stop";
    EXPECT_FALSE(result.Exception) << result.Message;
    const std::vector<double> sound = PacketTimes(output, "a");
    const std::vector<double> pictures = PacketTimes(output, "v");
    ASSERT_FALSE(sound.empty());
    ASSERT_FALSE(pictures.empty());
    // The last sound packet starts within one of its frames of the last picture's start;
    // the lost queue and encoder delay of an undrained stop are larger.
    const double heldPictures = c.Threads / 25.0;
    EXPECT_GE(sound.back(), pictures.back() - 0.05);
    EXPECT_LE(sound.back(), pictures.back() + heldPictures + 0.1);
  }
}

TEST_F(ConvertTest, JoinedInputsFollowEachOtherWithRisingTimestamps) {
  const std::string first = fixtures::Make(
      "join-2s.mp4",
      "-f lavfi -i testsrc=size=320x240:rate=25:duration=2 -f lavfi -i "
      "sine=frequency=440:sample_rate=44100:duration=2 -ac 2 -c:v libx264 -pix_fmt yuv420p "
      "-c:a aac -shortest");
  const std::string output = Output("joined.flv");
  auto task = std::make_unique<TProbeTask>();
  ASSERT_TRUE(task->OpenInputFile(first)) << task->LastErrMsg;
  ASSERT_TRUE(task->OpenInputFile(fixtures::Path(Media::Mp4H264Aac))) << task->LastErrMsg;
  for (const auto& [name, value] : FlashOptions("44100")) task->ParseOption(name, value);
  ASSERT_EQ(task->OpenOutputFile(output, true), 0) << task->LastErrMsg;
  task->JoinInputs();
  EXPECT_NEAR(double(task->TotalTime) / 1e6, 5.0, 0.05);
  const TRunResult run = RunTask(*task);
  ASSERT_TRUE(run.Finished) << run.Message;
  EXPECT_EQ(run.Progress.back().Frame, 125);

  const ProbeResult probe = ProbeMedia(output);
  ASSERT_TRUE(probe.ok) << probe.error;
  // The first input's sound runs 11 ms past its pictures (the AAC encoder's last frame): the
  // second input starts on the picture time after it, 2.04 s.
  EXPECT_NEAR(probe.duration, 5.04, 0.06);
  EXPECT_EQ(probe.FirstOfType("video")->nb_read_frames, 125);
  for (const char* type : {"v", "a"}) {
    const std::vector<double> times = PacketTimes(output, type);
    ASSERT_GT(times.size(), 100u) << type;
    for (size_t i = 1; i < times.size(); ++i)
      ASSERT_GT(times[i], times[i - 1]) << type << " packet " << i;
    EXPECT_NEAR(times.back(), 5.0, 0.1) << type;
  }
}

// Three seconds that each start with a white flash and a beep at the same instant, in one of the
// kinds of file a merge joins: their sizes, picture rates, sample rates and channels differ.
std::string FlashAndBeepClip(int kind) {
  struct Kind {
    const char* Size;
    int Rate;
    const char* VideoCodec;
    int SampleRate;
    const char* Layout;
    const char* AudioCodec;
    const char* Extension;
  };
  static const Kind kinds[] = {{"320x240", 25, "libx264", 44100, "stereo", "aac", "mp4"},
                               {"640x360", 30, "mpeg4", 48000, "stereo", "libmp3lame", "avi"},
                               {"176x144", 15, "libx264", 22050, "mono", "aac", "mp4"},
                               {"240x320", 24, "libx264", 32000, "stereo", "aac", "mp4"}};
  const Kind& k = kinds[kind];
  // The flash is counted in pictures: the time of a second's first picture may fall a hair
  // short of it.
  char arguments[512];
  std::snprintf(
      arguments, sizeof arguments,
      "-f lavfi -i \"color=c=0x202020:s=%s:r=%d:d=3,drawbox=x=0:y=0:w=iw:h=ih:color=white:"
      "t=fill:enable='lt(mod(n,%d),%d)'\" -f lavfi -i "
      "\"aevalsrc='if(lt(mod(t,1),0.1),0.5*sin(2*PI*1000*t),0)':s=%d:c=%s:d=3\" -c:v %s "
      "-pix_fmt yuv420p -c:a %s",
      k.Size, k.Rate, k.Rate, (k.Rate + 9) / 10, k.SampleRate, k.Layout, k.VideoCodec,
      k.AudioCodec);
  return fixtures::Make(std::string("flash-beep-3s-") + k.Size + "." + k.Extension, arguments);
}

// By how much (ms) the sound comes before the picture at each flash: the beep nearest to it.
std::vector<double> SoundLeads(const std::vector<double>& flashes,
                               const std::vector<double>& beeps) {
  std::vector<double> leads;
  for (const double flash : flashes) {
    if (beeps.empty()) break;
    const auto nearest = std::min_element(beeps.begin(), beeps.end(), [flash](double a, double b) {
      return std::fabs(a - flash) < std::fabs(b - flash);
    });
    leads.push_back((flash - *nearest) * 1000);
  }
  return leads;
}

// Each input keeps, in the joined file, the offset between its sound and its picture that it
// had on its own, up to the output's picture times; joins do not add up to more.
TEST_F(ConvertTest, JoinedInputsKeepTheirSoundWithTheirPictures) {
  constexpr int Kinds = 4, Rounds = 3, Seconds = 3;
  std::vector<std::vector<double>> own;
  std::vector<std::string> inputs;
  for (int kind = 0; kind < Kinds; ++kind) {
    const std::string clip = FlashAndBeepClip(kind);
    own.push_back(SoundLeads(FlashTimes(clip), BeepTimes(clip)));
    ASSERT_EQ(own.back().size(), size_t(Seconds)) << clip;
  }
  for (int n = 0; n < Kinds * Rounds; ++n) inputs.push_back(FlashAndBeepClip(n % Kinds));
  const std::string output = Output("joined-flashes.flv");
  auto task = std::make_unique<TProbeTask>();
  for (const std::string& input : inputs) ASSERT_TRUE(task->OpenInputFile(input)) << input;
  TOptionList options = FlashOptions("44100");
  options.insert(options.end(), {{"s", "320x240"}, {"r", "25"}});
  for (const auto& [name, value] : options) task->ParseOption(name, value);
  ASSERT_EQ(task->OpenOutputFile(output, true), 0) << task->LastErrMsg;
  task->JoinInputs();
  const TRunResult run = RunTask(*task);
  ASSERT_TRUE(run.Finished) << run.Message;

  const std::vector<double> leads = SoundLeads(FlashTimes(output), BeepTimes(output));
  ASSERT_EQ(leads.size(), size_t(Kinds * Rounds * Seconds));
  std::vector<double> added;  // ms the join adds to each input's own lead
  for (size_t n = 0; n < leads.size(); ++n)
    added.push_back(leads[n] - own[(n / Seconds) % Kinds][n % Seconds]);
  // Within what viewers accept; a picture lands on the output's picture times, up to half a
  // picture (20 ms) and more from its own.
  for (size_t n = 0; n < added.size(); ++n) {
    EXPECT_LE(added[n], 45) << "input " << n / Seconds << ", second " << n % Seconds;
    EXPECT_GE(added[n], -45) << "input " << n / Seconds << ", second " << n % Seconds;
  }
  // The same on average in every round of the kinds: the joins do not add up.
  const size_t round = Kinds * Seconds;
  const auto mean = [&](int r) {
    return std::accumulate(added.begin() + r * round, added.begin() + (r + 1) * round, 0.0) /
           double(round);
  };
  for (int r = 1; r < Rounds; ++r) EXPECT_NEAR(mean(r), mean(0), 5) << "round " << r;
}

TEST_F(ConvertTest, FilterChainCropsPadsFlipsScalesAndOverlaysAPicture) {
  // Left half blue, right half yellow, so that the flips show.
  const std::string input = fixtures::Make(
      "halves.mp4",
      "-f lavfi -i color=c=blue:size=160x120:rate=25:duration=1 -f lavfi -i "
      "color=c=yellow:size=160x120:rate=25:duration=1 -filter_complex hstack -c:v libx264 "
      "-pix_fmt yuv420p -qp 0");
  const std::string picture =
      fixtures::Make("green.png", "-f lavfi -i color=c=lime:size=40x40 -frames:v 1");
  const std::string output = Output("filtered.flv");
  const std::string chain =
      "crop=320:100:0:10,pad=360:140:20:20:color=red,hflip,vflip,scale=180:70 [main]; movie=" +
      picture + " [logo]; [main][logo] overlay=140:30";
  auto task =
      MakeTask({input}, output, {{"vcodec", "flv"}, {"an", "1"}, {"b", "2000000"}, {"vf", chain}});
  const TRunResult run = RunTask(*task);
  ASSERT_TRUE(run.Finished) << run.Message;
  const ProbeResult probe = ProbeMedia(output);
  const ProbeStream* video = probe.FirstOfType("video");
  ASSERT_TRUE(video);
  EXPECT_EQ(video->width, 180);
  EXPECT_EQ(video->height, 70);
  EXPECT_EQ(video->nb_read_frames, 25);

  const TRgbPicture frame = FirstFrame(output);
  ASSERT_EQ(frame.Width, 180);
  // Pad border (red) all round; the flips put yellow on the left, blue on the right.
  ExpectColour(frame, 2, 35, 255, 0, 0, "left border");
  ExpectColour(frame, 90, 2, 255, 0, 0, "top border");
  ExpectColour(frame, 40, 35, 255, 255, 0, "left half after the flips");
  ExpectColour(frame, 110, 20, 0, 0, 255, "right half after the flips");
  ExpectColour(frame, 160, 50, 0, 255, 0, "picture overlay");
}

// Outputs carry no colour tag and are read with BT.601's matrix (by FFmpeg, by the Flash
// runtime): every source shows in them as it shows itself, whatever matrix and range it is coded
// in, with or without a chain that scales it and lays a picture over it. A bar of full strength
// read with the wrong matrix is off by 10 to 23 levels. HDR footage (phones record HLG) shows as
// on an SDR screen, what lies up to SDR white as it is: its white is no grey (160 for HLG, 129 for
// PQ when only the matrix is recoded), though tone mapping rolls it off a little.
TEST_F(ConvertTest, PicturesKeepTheColoursOfTheSourceWhateverItsMatrix) {
  struct TCase {
    const char* Name;
    int Width, Height;
    const char* Matrix;  // the source's YCbCr, as the scale filter names it
    const char* Range;
    std::string Tags;
    std::string View;      // how players read the source (filters): "" for as its tags say
    const char* Transfer;  // an HDR source's transfer curve, else ""
  };
  const std::string bt709 = "-colorspace bt709 -color_primaries bt709 -color_trc bt709";
  const std::string bt2020 = "-colorspace bt2020nc -color_primaries bt2020 -color_trc ";
  // HDR read into SDR, cut off at SDR white.
  const std::string sdr = "zscale=t=bt709:p=bt709:m=bt709:npl=100";
  const TCase cases[] = {
      {"BT.709", 320, 180, "bt709", "tv", bt709, "", ""},
      {"BT.709 full range", 320, 180, "bt709", "pc", bt709 + " -color_range pc", "", ""},
      {"BT.2020", 320, 180, "bt2020", "tv", bt2020 + "bt2020-10", "", ""},
      {"BT.601", 320, 180, "bt601", "tv",
       "-colorspace smpte170m -color_primaries smpte170m -color_trc smpte170m", "", ""},
      {"untagged SD", 320, 180, "bt601", "tv", "", "", ""},
      {"untagged HD of an odd size", 1281, 721, "bt709", "tv", "", "scale=in_color_matrix=bt709",
       ""},
      {"HLG", 320, 180, "bt2020", "tv", bt2020 + "arib-std-b67", sdr, "arib-std-b67"},
      {"PQ", 320, 180, "bt2020", "tv", bt2020 + "smpte2084", sdr, "smpte2084"},
  };
  const std::string logo =
      fixtures::Make("lime-16x16.png", "-f lavfi -i color=c=lime:size=16x16 -frames:v 1");
  for (const TCase& c : cases) {
    const bool hdr = *c.Transfer;
    const int tolerance = hdr ? 12 : 8;
    const int white = hdr ? 240 : 252;
    const std::string input =
        fixtures::ColourBarsClip(c.Width, c.Height, c.Matrix, c.Range, c.Tags, c.Transfer);
    const TRgbPicture source = FirstFrame(input, c.View);
    for (const bool chain : {false, true}) {
      const std::string where = c.Name + std::string(chain ? ", scaled under a picture" : "");
      const int width = chain ? c.Width / 4 * 2 : c.Width;
      const int height = chain ? c.Height / 4 * 2 : c.Height;
      const int logoX = (width * 15 / 16 - 8) / 2 * 2, logoY = (height / 4 - 8) / 2 * 2;
      TOptionList options = {{"vcodec", "flv"}, {"an", "1"}, {"b", "2000000"}};
      if (chain)
        options.push_back({"vf", "scale=" + std::to_string(width) + ":" + std::to_string(height) +
                                     " [main]; movie=" + logo + " [logo]; [main][logo] overlay=" +
                                     std::to_string(logoX) + ":" + std::to_string(logoY)});
      const std::string output =
          Output("colours-" + std::to_string(&c - cases) + (chain ? "-chain.flv" : ".flv"));
      auto task = MakeTask({input}, output, options);
      const TRunResult run = RunTask(*task);
      ASSERT_TRUE(run.Finished) << where << ": " << run.Message;
      const TRgbPicture shown = FirstFrame(output);
      ASSERT_EQ(shown.Width, width) << where;
      ASSERT_EQ(shown.Height, height) << where;
      const auto expectAsSource = [&](int x, int y, const std::string& what) {
        const std::array<int, 3> expected = source.At(x * c.Width / width, y * c.Height / height);
        ExpectColour(shown, x, y, expected[0], expected[1], expected[2], where + ": " + what,
                     tolerance);
      };
      for (int bar = 0; bar < 8; ++bar) {
        const int x = (2 * bar + 1) * width / 16, y = height / 4;
        if (chain && bar == 7)
          ExpectColour(shown, x, y, 0, 255, 0, where + ": the picture laid over", tolerance);
        else
          expectAsSource(x, y, "bar " + std::to_string(bar));
      }
      const int rampY = height * 3 / 4;
      for (int step = 0; step < 16; ++step)
        expectAsSource((2 * step + 1) * width / 32, rampY, "ramp step " + std::to_string(step));
      for (const int channel : shown.At(0, rampY)) EXPECT_LE(channel, 3) << where << ": black";
      for (const int channel : shown.At(width - 1, rampY))
        EXPECT_GE(channel, white) << where << ": white";
    }
  }
}

TEST_F(ConvertTest, NativeFiltersPassThroughTheTranslator) {
  RegisterEqFilter();
  RegisterRotateFilter();
  const std::string output = Output("native.flv");
  auto task = MakeTask({fixtures::Path(Media::VideoOnly)}, output,
                       {{"vcodec", "flv"}, {"vf", "nativeeq=30:0,rotate=90"}});
  const TRunResult run = RunTask(*task);
  ASSERT_TRUE(run.Finished) << run.Message;
  const ProbeResult probe = ProbeMedia(output);
  ASSERT_EQ(probe.streams.size(), 1u);
  EXPECT_EQ(probe.streams[0].nb_read_frames, 75);
}

TEST_F(ConvertTest, AudioOnlyVideoOnlyAndOddSizedInputsConvert) {
  struct TCase {
    Media Input;
    const char* Name;
    bool Audio, Video;
  };
  for (const TCase& c : {TCase{Media::Mp3AudioOnly, "audio-only.flv", true, false},
                         TCase{Media::VideoOnly, "video-only.flv", false, true},
                         TCase{Media::OddSize, "odd-size.flv", true, true}}) {
    const std::string output = Output(c.Name);
    auto task = MakeTask({fixtures::Path(c.Input)}, output, FlashOptions("44100"));
    const TRunResult run = RunTask(*task);
    ASSERT_TRUE(run.Finished) << c.Name << ": " << run.Message;
    const ProbeResult probe = ProbeMedia(output);
    ASSERT_TRUE(probe.ok) << c.Name;
    EXPECT_EQ(probe.FirstOfType("audio") != nullptr, c.Audio) << c.Name;
    EXPECT_EQ(probe.FirstOfType("video") != nullptr, c.Video) << c.Name;
    EXPECT_NEAR(probe.duration, 3.0, 0.1) << c.Name;
    if (c.Video) {
      EXPECT_EQ(probe.FirstOfType("video")->nb_read_frames, 75) << c.Name;
      EXPECT_EQ(run.Progress.back().Frame, 75) << c.Name;
    } else {
      EXPECT_EQ(run.Progress.back().Frame, -1) << "no video stream to count";
    }
  }
  const ProbeResult odd = ProbeMedia(Output("odd-size.flv"));
  ASSERT_TRUE(odd.FirstOfType("video"));
  EXPECT_EQ(odd.FirstOfType("video")->width, 321);
  EXPECT_EQ(odd.FirstOfType("video")->height, 241);
}

TEST_F(ConvertTest, AnInputThatStartsLateKeepsEveryFrameWithoutShifting) {
  // MPEG-TS starts its clock at 1.4 s.
  const std::string input = fixtures::Make(
      "late-start.ts",
      "-f lavfi -i testsrc=size=320x240:rate=25:duration=3 -f lavfi -i "
      "sine=frequency=440:sample_rate=44100:duration=3 -c:v mpeg2video -q:v 4 -c:a mp2 -shortest");
  const std::string output = Output("late-start.flv");
  auto task = MakeTask({input}, output, FlashOptions("44100"));
  EXPECT_NEAR(double(task->TotalTime) / 1e6, 3.0, 0.1);
  const TRunResult run = RunTask(*task);
  ASSERT_TRUE(run.Finished) << run.Message;
  EXPECT_EQ(run.Duplicated(), 0);
  EXPECT_EQ(run.Progress.back().Frame, 75);
  const ProbeResult probe = ProbeMedia(output);
  EXPECT_EQ(probe.FirstOfType("video")->nb_read_frames, 75);
  EXPECT_NEAR(probe.duration, 3.0, 0.1);
  const std::vector<double> times = PacketTimes(output, "v");
  ASSERT_FALSE(times.empty());
  EXPECT_LT(times.front(), 0.05);
}

// A recording whose picture size changes keeps its first, the later pictures fitted into it with
// their shape kept. HD pictures pass the colour filters, which are made for one size.
TEST_F(ConvertTest, APictureSizeChangeMidStreamIsScaledToTheFirstSize) {
  struct TCase {
    const char* First;
    const char* Second;
    int Width, Height;
    int Bar;  // the height of the black bars above and below the later pictures
  };
  for (const TCase& c : {TCase{"320x240", "160x120", 320, 240, 0},
                         TCase{"1280x720", "1920x1080", 1280, 720, 0},
                         TCase{"640x480", "1280x720", 640, 480, 60}}) {
    const std::string where = std::string(c.First) + " then " + c.Second;
    const std::string input = fixtures::SizeChangingClip(c.First, c.Second);
    const std::string output = Output(std::string("one-size-") + c.First + ".flv");
    auto task = MakeTask({input}, output, {{"vcodec", "flv"}});
    ASSERT_TRUE(RunTask(*task).Finished) << where;
    EXPECT_TRUE(Logged("Input stream #0.0 frame changed from size:" + std::string(c.First) +
                       " fmt:yuv420p to size:" + c.Second + " fmt:yuv420p"))
        << where;
    const ProbeResult probe = ProbeMedia(output);
    const ProbeStream* video = probe.FirstOfType("video");
    ASSERT_TRUE(video) << where;
    EXPECT_EQ(video->width, c.Width) << where;
    EXPECT_EQ(video->height, c.Height) << where;
    // Every picture the input holds, the second piece after the first.
    EXPECT_EQ(video->nb_read_frames, CountDecodedFrames(input)) << where;
    EXPECT_NEAR(probe.duration, 2.0, 0.05) << where;
    const TRgbPicture later = FirstFrame(output, "trim=start=1.5");
    ASSERT_EQ(later.Width, c.Width) << where;
    const auto black = [&](int y) {
      const std::array<int, 3> pixel = later.At(c.Width / 2, y);
      return pixel[0] + pixel[1] + pixel[2] < 60;
    };
    EXPECT_EQ(black(c.Bar / 2), c.Bar > 0) << where;
    EXPECT_FALSE(black(c.Bar + 12)) << where;
  }
}

TEST_F(ConvertTest, AFixedQuantiserReachesEveryFrameAndTheReport) {
  std::vector<uintmax_t> sizes;
  for (const char* q : {"2", "20"}) {
    const std::string output = Output(std::string("q") + q + ".flv");
    auto task =
        MakeTask({fixtures::Path(Media::VideoOnly)}, output, {{"vcodec", "flv"}, {"qscale", q}});
    const TRunResult run = RunTask(*task);
    ASSERT_TRUE(run.Finished) << run.Message;
    EXPECT_FLOAT_EQ(run.Progress.back().Quality, std::stof(q));  // of the last stream: video
    sizes.push_back(std::filesystem::file_size(output));
  }
  EXPECT_GT(sizes[0], 2 * sizes[1]);
}

TEST_F(ConvertTest, FrameRateConformanceDuplicatesAndDropsFrames) {
  const std::string doubled = Output("50fps.flv");
  auto task = MakeTask({fixtures::Path(Media::VideoOnly)}, doubled,
                       {{"vcodec", "flv"}, {"r", "50"}, {"vsync", "1"}});
  TRunResult run = RunTask(*task);
  ASSERT_TRUE(run.Finished) << run.Message;
  EXPECT_NEAR(ProbeMedia(doubled).FirstOfType("video")->nb_read_frames, 150, 2);
  EXPECT_NEAR(run.Duplicated(), 75, 2);

  const std::string halved = Output("12.5fps.flv");
  task = MakeTask({fixtures::Path(Media::VideoOnly)}, halved,
                  {{"vcodec", "flv"}, {"r", "25/2"}, {"vsync", "1"}});
  run = RunTask(*task);
  ASSERT_TRUE(run.Finished) << run.Message;
  EXPECT_NEAR(ProbeMedia(halved).FirstOfType("video")->nb_read_frames, 38, 2);
  EXPECT_NEAR(run.Dropped(), 37, 2);
}

TEST_F(ConvertTest, VideoSyncDecisions) {
  int64_t clock = 0;
  // Method 1 (constant rate): a picture 2 frames ahead is written 2 times; 1.2 behind is dropped.
  EXPECT_EQ(VideoSyncFrames(1, false, 2.0, clock), 2);
  clock = 5;
  EXPECT_EQ(VideoSyncFrames(1, false, 3.8, clock), 0);
  // Method 2 (variable rate): half a frame late or early is written once, clock unchanged.
  clock = 10;
  EXPECT_EQ(VideoSyncFrames(2, false, 10.5, clock), 1);
  EXPECT_EQ(clock, 10);
  EXPECT_EQ(VideoSyncFrames(2, false, 9.5, clock), 1);
  EXPECT_EQ(VideoSyncFrames(2, false, 9.3, clock), 0);
  EXPECT_EQ(VideoSyncFrames(2, false, 13.0, clock), 1);
  EXPECT_EQ(clock, 13);
  // Automatic follows the format; method 0 takes the picture's time.
  clock = 0;
  EXPECT_EQ(VideoSyncFrames(-1, true, 3.0, clock), 1);
  EXPECT_EQ(clock, 3);
  clock = 0;
  EXPECT_EQ(VideoSyncFrames(-1, false, 3.0, clock), 3);
  EXPECT_EQ(VideoSyncFrames(0, false, 7.4, clock), 1);
  EXPECT_EQ(clock, 7);
}

TEST_F(ConvertTest, VolumeScalesSamplesAndClips) {
  int16_t samples[] = {1000, -1000, 20000, -20000, 1, 0};
  ScaleVolume(samples, 6, 256);
  EXPECT_EQ(samples[2], 20000);
  ScaleVolume(samples, 6, 512);
  const int16_t doubled[] = {2000, -2000, 32767, -32768, 2, 0};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(samples[i], doubled[i]) << i;
  int16_t half[] = {3, -3};
  ScaleVolume(half, 2, 128);
  EXPECT_EQ(half[0], 2);   // (3 * 128 + 128) >> 8
  EXPECT_EQ(half[1], -1);  // arithmetic shift rounds towards minus infinity
}

TEST_F(ConvertTest, VolumeOptionChangesTheLoudness) {
  const std::string quiet = Output("quiet.flv");
  auto task = MakeTask({fixtures::Path(Media::Mp3AudioOnly)}, quiet,
                       {{"acodec", "libmp3lame"}, {"ar", "44100"}, {"vol", "64"}});
  ASSERT_TRUE(RunTask(*task).Finished);
  const std::string loud = Output("loud.flv");
  task = MakeTask({fixtures::Path(Media::Mp3AudioOnly)}, loud,
                  {{"acodec", "libmp3lame"}, {"ar", "44100"}});
  ASSERT_TRUE(RunTask(*task).Finished);
  const double ratio = PeakLevel(loud) / PeakLevel(quiet);
  EXPECT_NEAR(ratio, 4.0, 0.4);
}

TEST_F(ConvertTest, LateAudioGetsSilenceInFrontWithAudioSync) {
  const std::string input = fixtures::Make(
      "late-audio.mkv",
      "-f lavfi -i testsrc=size=160x120:rate=25:duration=3 -itsoffset 0.5 -f lavfi -i "
      "sine=frequency=440:sample_rate=44100:duration=2.5 -c:v mpeg4 -c:a pcm_s16le");
  const std::string output = Output("late-audio.flv");
  auto task = MakeTask({input}, output, FlashOptions("44100"), {{"async", "1"}});
  ASSERT_TRUE(RunTask(*task).Finished);
  const std::vector<double> levels = AudioLevels(output, 0.1);
  ASSERT_GE(levels.size(), 20u);
  for (int i = 0; i < 4; ++i) EXPECT_LT(levels[i], 0.01) << "silence at " << i * 0.1 << " s";
  // The tone's level: a sine of amplitude 1/8.
  for (int i = 6; i < 20; ++i) EXPECT_GT(levels[i], 0.06) << "tone at " << i * 0.1 << " s";
  EXPECT_EQ(PacketTimes(output, "a").front(), 0.0);
}

TEST_F(ConvertTest, DeinterlacerRebuildsEveryOtherLine) {
  const int width = 8, height = 8;
  std::vector<uint8_t> luma(width * height), chroma(width * height / 4, 128);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) luma[y * width + x] = y % 2 ? 200 : 0;
  std::vector<uint8_t> outLuma(luma.size()), outU(chroma.size()), outV(chroma.size());
  const uint8_t* src[3] = {luma.data(), chroma.data(), chroma.data()};
  const int srcLinesize[3] = {width, width / 2, width / 2};
  uint8_t* dst[3] = {outLuma.data(), outU.data(), outV.data()};
  ASSERT_EQ(
      DeinterlacePicture(dst, srcLinesize, src, srcLinesize, AV_PIX_FMT_YUV420P, width, height), 0);
  for (int x = 0; x < width; ++x) {
    // Even lines are kept; an odd line y is (-[y-2] + 4[y-1] + 2[y] + 4[y+1] - [y+2] + 4) / 8,
    // the first line standing in above the picture and the last below it.
    EXPECT_EQ(outLuma[0 * width + x], 0);
    EXPECT_EQ(outLuma[1 * width + x], (0 + 0 + 400 + 0 - 200 + 4) >> 3);  // 25
    EXPECT_EQ(outLuma[2 * width + x], 0);
    EXPECT_EQ(outLuma[3 * width + x], (-200 + 0 + 400 + 0 - 200 + 4) >> 3);    // 0: no comb left
    EXPECT_EQ(outLuma[7 * width + x], (-200 + 0 + 400 + 800 - 200 + 4) >> 3);  // 100
  }
  EXPECT_EQ(outU[5], 128);
  // A palette's indices cannot be mixed.
  EXPECT_EQ(DeinterlacePicture(dst, srcLinesize, src, srcLinesize, AV_PIX_FMT_PAL8, 8, 8), -1);
}

// Interlaced-looking pictures (bright and dark lines taking turns) come out flat, in every
// format a source may decode to: 8-bit 4:2:0, 10-bit 4:2:2 (XAVC, XDCAM, ProRes), bit fields.
TEST_F(ConvertTest, DeinterlacingLeavesNoCombsWhateverThePictureFormat) {
  struct TCase {
    const char* Format;
    const char* Codec;
    const char* Container;
  };
  for (const TCase& c : {TCase{"yuv420p", "ffv1", ".mkv"}, TCase{"yuv422p10le", "ffv1", ".mkv"},
                         TCase{"rgb565le", "rawvideo", ".nut"}}) {
    const std::string input = fixtures::Make(
        std::string("combed-") + c.Format + c.Container,
        "-f lavfi -i \"color=c=black:s=160x120:r=25:d=1,format=yuv444p,geq=lum='if(mod(Y,2),200,"
        "40)':cb=128:cr=128,format=" +
            std::string(c.Format) + "\" -c:v " + c.Codec);
    const std::string output = Output(std::string("deinterlaced-") + c.Format + ".flv");
    auto task =
        MakeTask({input}, output, {{"vcodec", "flv"}, {"b", "2000000"}, {"deinterlace", "1"}});
    ASSERT_TRUE(RunTask(*task).Finished) << c.Format;
    EXPECT_FALSE(Logged("Deinterlacing failed.")) << c.Format;
    EXPECT_EQ(ProbeMedia(output).FirstOfType("video")->nb_read_frames, 25) << c.Format;
    const TRgbPicture picture = FirstFrame(output);
    for (int y = 40; y < 80; ++y)
      EXPECT_NEAR(picture.At(80, y)[1], picture.At(80, y + 1)[1], 12) << c.Format << ", line " << y;
  }
}

TEST_F(ConvertTest, HooksSeeEveryFrameInOrderAndAStoppedHookIsNotCalledAgain) {
  const std::string output = Output("hooked.flv");
  auto task = MakeTask({fixtures::Path(Media::VideoOnly)}, output, {{"vcodec", "flv"}});
  std::vector<int> inputFrames, outputFrames;
  int rawFrames = 0, failing = 0;
  task->OnVideoInputHook = [&](TCustomFFmpeg*, TBitmap* bitmap, int frame, int64_t, bool& update,
                               bool& stopHook) {
    inputFrames.push_back(frame);
    EXPECT_EQ(bitmap->Width(), 320);
    update = false;
    stopHook = frame == 10;
  };
  task->OnVideoOutputHook = [&](TCustomFFmpeg*, TBitmap* bitmap, int frame, int64_t pts, bool&,
                                bool&) {
    outputFrames.push_back(frame);
    EXPECT_EQ(pts, int64_t(frame - 1) * 40000);
    // Paints the top-left corner white; Update is on, so it lands in the output.
    for (int y = 0; y < 16; ++y) std::memset(bitmap->ScanLine(y), 255, size_t(16 * 3));
    if (frame == 5) {
      ++failing;
      throw std::runtime_error("hook failure");
    }
  };
  task->OnFrameOutputHook = [&](TCustomFFmpeg*, const TAVPicture* picture, int pixFmt, int,
                                int width, int height, int64_t) {
    ++rawFrames;
    EXPECT_EQ(pixFmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 240);
    EXPECT_NE(picture->data[0], nullptr);
  };
  ASSERT_TRUE(RunTask(*task).Finished);
  EXPECT_EQ(inputFrames.size(), 10u);
  EXPECT_EQ(outputFrames.size(), 75u);
  for (size_t i = 0; i < outputFrames.size(); ++i) EXPECT_EQ(outputFrames[i], int(i) + 1);
  EXPECT_EQ(rawFrames, 75);
  EXPECT_EQ(failing, 1);
  EXPECT_TRUE(Logged("Error occurs VideoHook event: hook failure"));
  const TRgbPicture frame = FirstFrame(output);
  ExpectColour(frame, 6, 6, 255, 255, 255, "painted corner");
}

TEST_F(ConvertTest, PreviewPicturesAreAtLeastTheIntervalApart) {
  const std::string output = Output("preview.flv");
  auto task =
      MakeTask({fixtures::Path(Media::VideoOnly)}, output, {{"vcodec", "flv"}}, {{"re", "1"}});
  std::vector<int64_t> times;
  std::vector<int> frames;
  task->SetPreviewFlags(2);
  task->OnPreview = [&](TCustomFFmpeg*, TBitmap* bitmap, int frame, int64_t) {
    times.push_back(ff::av_gettime_relative());
    frames.push_back(frame);
    EXPECT_EQ(bitmap->Width(), 320);
  };
  ASSERT_TRUE(RunTask(*task).Finished);
  // 3 s of reading at the native rate: about one picture per interval, never more. The times
  // are taken in the event, after the picture's conversion, whose cost on a busy machine can
  // shift one time by tens of ms; it never accumulates, so the whole span is checked.
  ASSERT_GE(times.size(), 10u);
  EXPECT_LE(times.size(), 31u);
  const int64_t gaps = int64_t(times.size()) - 1;
  EXPECT_GE(times.back() - times.front(), gaps * task->PreviewInterval * 8 / 10);
  for (size_t i = 1; i < frames.size(); ++i) EXPECT_GT(frames[i], frames[i - 1]);
}

TEST_F(ConvertTest, StreamCopyKeepsPacketsAndRefusesWhatNeedsDecoding) {
  const std::string copied = Output("copied.flv");
  auto task = MakeTask({fixtures::Path(Media::Mp3AudioOnly)}, copied, {{"acodec", "copy"}});
  ASSERT_TRUE(RunTask(*task).Finished);
  const ProbeResult in = ProbeMedia(fixtures::Path(Media::Mp3AudioOnly));
  const ProbeResult out = ProbeMedia(copied);
  ASSERT_TRUE(out.FirstOfType("audio"));
  EXPECT_EQ(out.FirstOfType("audio")->codec_name, "mp3");
  EXPECT_EQ(out.FirstOfType("audio")->nb_read_frames, in.FirstOfType("audio")->nb_read_frames);

  task = MakeTask({fixtures::Path(Media::Mp3AudioOnly)}, Output("louder-copy.flv"),
                  {{"acodec", "copy"}, {"vol", "512"}});
  TRunResult run = RunTask(*task);
  EXPECT_EQ(run.Message, "-acodec copy and -vol are incompatible (frames are not decoded)");
  EXPECT_FALSE(std::filesystem::exists(Output("louder-copy.flv")));

  task = MakeTask({fixtures::Path(Media::VideoOnly)}, Output("preview-copy.flv"),
                  {{"vcodec", "copy"}});
  task->SetPreviewFlags(1);
  run = RunTask(*task);
  EXPECT_EQ(run.Message, "-vcodec copy and PostHooks are incompatible (frames are not decoded)");

  task =
      MakeTask({fixtures::Path(Media::VideoOnly)}, Output("hook-copy.flv"), {{"vcodec", "copy"}});
  task->OnFrameInputHook = [](TCustomFFmpeg*, const TAVPicture*, int, int, int, int, int64_t) {};
  run = RunTask(*task);
  EXPECT_EQ(run.Message, "-vcodec copy and FrameHook are incompatible (frames are not decoded)");
}

TEST_F(ConvertTest, VideoCopyIntoMatroskaKeepsEveryPacket) {
  const std::string output = Output("copied.mkv");
  auto task = MakeTask({fixtures::Path(Media::Mp4H264Aac)}, output,
                       {{"vcodec", "copy"}, {"acodec", "copy"}});
  ASSERT_TRUE(RunTask(*task).Finished);
  const ProbeResult probe = ProbeMedia(output);
  ASSERT_TRUE(probe.FirstOfType("video"));
  EXPECT_EQ(probe.FirstOfType("video")->codec_name, "h264");
  EXPECT_EQ(probe.FirstOfType("video")->nb_read_frames, 75);
  EXPECT_EQ(probe.FirstOfType("audio")->codec_name, "aac");
  EXPECT_NEAR(probe.duration, 3.0, 0.1);
}

TEST_F(ConvertTest, TwoPassEncodingWritesAndReadsItsLogFile) {
  const std::string folder = fixtures::TempDir("convert-two-pass");
  const std::string prefix = folder + "/stats";
  for (const char* pass : {"1", "2"}) {
    const std::string output = folder + "/pass" + pass + ".flv";
    auto task =
        MakeTask({fixtures::Path(Media::VideoOnly)}, output,
                 {{"vcodec", "flv"}, {"b", "200000"}, {"pass", pass}, {"passlogfile", prefix}});
    const TRunResult run = RunTask(*task);
    ASSERT_TRUE(run.Finished) << "pass " << pass << ": " << run.Message;
    EXPECT_EQ(ProbeMedia(output).FirstOfType("video")->nb_read_frames, 75);
    ASSERT_TRUE(std::filesystem::exists(prefix + "-0.log"));
    EXPECT_GT(std::filesystem::file_size(prefix + "-0.log"), 75u * 10);
  }
  auto task = MakeTask({fixtures::Path(Media::VideoOnly)}, folder + "/missing.flv",
                       {{"vcodec", "flv"}, {"pass", "2"}, {"passlogfile", folder + "/none"}});
  const TRunResult run = RunTask(*task);
  EXPECT_EQ(run.Message, "Cannot read file: Error reading log file \"" + folder +
                             "/none-0.log\" for pass-2 encoding");
}

TEST_F(ConvertTest, SubtitlesAreDecodedAndEncodedAgain) {
  const std::string subtitles = Output("lines.srt");
  std::ofstream(subtitles) << "1\n00:00:00,500 --> 00:00:01,000\nFirst\n\n"
                              "2\n00:00:01,500 --> 00:00:02,500\nSecond\n\n";
  const std::string output = Output("subtitled.mkv");
  auto task = std::make_unique<TProbeTask>();
  ASSERT_TRUE(task->OpenInputFile(fixtures::Path(Media::VideoOnly))) << task->LastErrMsg;
  ASSERT_TRUE(task->OpenInputFile(subtitles)) << task->LastErrMsg;
  for (const auto& [name, value] :
       std::vector<std::pair<std::string, std::string>>{{"vcodec", "mpeg4"}, {"scodec", "ass"}})
    task->ParseOption(name, value);
  ASSERT_EQ(task->OpenOutputFile(output, false), 0) << task->LastErrMsg;
  const TRunResult run = RunTask(*task);
  ASSERT_TRUE(run.Finished) << run.Message;
  const ProbeResult probe = ProbeMedia(output);
  const ProbeStream* text = probe.FirstOfType("subtitle");
  ASSERT_TRUE(text);
  EXPECT_EQ(text->codec_name, "ass");
  EXPECT_EQ(text->nb_read_frames, 2);
  std::string dialogue;
  fixtures::Run("ffmpeg -v error -i " + fixtures::ShellQuote(output) + " -map 0:s -f srt -",
                &dialogue);
  EXPECT_NE(dialogue.find("First"), std::string::npos) << dialogue;
  EXPECT_NE(dialogue.find("00:00:01,500 --> 00:00:02,500"), std::string::npos) << dialogue;
}

TEST_F(ConvertTest, AnOutputSizeLimitEndsTheRunEarly) {
  const std::string output = Output("limited.flv");
  auto task = MakeTask({fixtures::Path(Media::Mp4H264Aac)}, output,
                       {{"vcodec", "flv"},
                        {"acodec", "libmp3lame"},
                        {"ar", "44100"},
                        {"b", "2000000"},
                        {"fs", "100000"}});
  const TRunResult run = RunTask(*task);
  ASSERT_TRUE(run.Finished) << run.Message;
  const ProbeResult probe = ProbeMedia(output);
  ASSERT_TRUE(probe.ok) << probe.error;
  EXPECT_LT(probe.FirstOfType("video")->nb_read_frames, 75);
  EXPECT_LT(std::filesystem::file_size(output), 100000u + 65536u);  // what the muxer held back
}

TEST_F(ConvertTest, ChaptersAndGlobalMetadataOfTheInputAreCopied) {
  const std::string metadata = Output("chapters.txt");
  std::ofstream(metadata) << ";FFMETADATA1\ntitle=Two parts\n"
                             "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1500\ntitle=One\n"
                             "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1500\nEND=3000\ntitle=Two\n";
  const std::string input = Output("chapters.mkv");
  std::string log;
  ASSERT_EQ(fixtures::Run("ffmpeg -nostdin -v error -y -i " +
                              fixtures::ShellQuote(fixtures::Path(Media::VideoOnly)) + " -i " +
                              fixtures::ShellQuote(metadata) + " -map_metadata 1 -c copy " +
                              fixtures::ShellQuote(input),
                          &log),
            0)
      << log;
  const std::string output = Output("chapters-out.mkv");
  auto task = MakeTask({input}, output, {{"vcodec", "mpeg4"}});
  ASSERT_TRUE(RunTask(*task).Finished);
  std::string chapters;
  fixtures::Run("ffprobe -v error -show_chapters -show_entries format_tags=title -of compact " +
                    fixtures::ShellQuote(output),
                &chapters);
  EXPECT_NE(chapters.find("start_time=0.000000|end=1500000000|end_time=1.500000|tag:title=One"),
            std::string::npos)
      << chapters;
  EXPECT_NE(chapters.find("start_time=1.500000|end=3000000000|end_time=3.000000|tag:title=Two"),
            std::string::npos)
      << chapters;
  EXPECT_NE(chapters.find("tag:title=Two parts"), std::string::npos) << chapters;
}

TEST_F(ConvertTest, StreamMappingIsLogged) {
  auto task =
      MakeTask({fixtures::Path(Media::Mp4H264Aac)}, Output("mapped.flv"), FlashOptions("44100"));
  ASSERT_TRUE(RunTask(*task).Finished);
  EXPECT_TRUE(Logged("Stream mapping:"));
  EXPECT_TRUE(Logged("  Stream #0.0 -> #0.0 (Video)"));
  EXPECT_TRUE(Logged("  Stream #0.1 -> #0.1 (Audio)"));
}

TEST_F(ConvertTest, VideoStatisticsFileHasALinePerEncodedFrame) {
  const std::string stats = Output("frames.log");
  auto task = MakeTask({fixtures::Path(Media::VideoOnly)}, Output("stats.flv"),
                       {{"vcodec", "flv"}, {"vstats_file", stats}});
  ASSERT_TRUE(RunTask(*task).Finished);
  std::ifstream file(stats);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 75u);
  EXPECT_EQ(lines.front().rfind("frame=     1 q= ", 0), 0u) << lines.front();
  EXPECT_NE(lines.front().find(" type= I"), std::string::npos) << lines.front();
  EXPECT_EQ(lines.back().rfind("frame=    75 ", 0), 0u) << lines.back();
  // The time is the stream's clock after the frame.
  EXPECT_NE(lines.back().find(" time= 3.000 "), std::string::npos) << lines.back();
}

TEST_F(ConvertTest, BitstreamFiltersRunOnEveryPacketAndReportFailures) {
  const std::string output = Output("filtered-packets.mkv");
  auto task = MakeTask(
      {fixtures::Path(Media::Mp4H264Aac)}, output,
      {{"vcodec", "copy"}, {"acodec", "copy"}, {"vbsf", "h264_mp4toannexb"}, {"absf", "null"}});
  const TRunResult run = RunTask(*task);
  ASSERT_TRUE(run.Finished) << run.Message;
  EXPECT_EQ(ProbeMedia(output).FirstOfType("video")->nb_read_frames, 75);

  task = MakeTask({fixtures::Path(Media::VideoOnly)}, Output("refused.flv"),
                  {{"vcodec", "flv"}, {"vbsf", "noise=amount=lots"}});
  const TRunResult refused = RunTask(*task);
  EXPECT_FALSE(refused.Finished);
  EXPECT_EQ(refused.Message.rfind("noise failed for stream 0, codec flv: ", 0), 0u)
      << refused.Message;
}

}  // namespace
