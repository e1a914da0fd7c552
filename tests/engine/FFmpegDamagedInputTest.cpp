// Conversions of inputs that are damaged or unusual, and what happens to the file an output
// replaces when a run fails, stops or writes into something that is not a regular file.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "FFDecode.h"
#include "FFmpegConvertTestSupport.h"

namespace {

using fixtures::Media;

// An FLV whose 50th video tag claims 2,000,000,000 ms, as one flipped byte in a tag's extended
// time stamp can: 4 s, 100 pictures.
std::string DamagedTimestampFlv(const std::string& folder) {
  const std::string good = fixtures::Make(
      "tone-pattern-4s.flv",
      "-f lavfi -i testsrc=size=320x240:rate=25:duration=4 -f lavfi -i "
      "sine=frequency=440:sample_rate=44100:duration=4 -c:v flv1 -c:a libmp3lame -ar 44100");
  std::string bytes = fixtures::ReadFile(good);
  constexpr uint32_t Damaged = 2000000000;
  int videoTags = 0;
  size_t at = 13;  // past the file header and the first back pointer
  while (at + 11 <= bytes.size()) {
    const size_t size =
        (uint8_t(bytes[at + 1]) << 16) | (uint8_t(bytes[at + 2]) << 8) | uint8_t(bytes[at + 3]);
    if ((bytes[at] & 0x1f) == 9 && ++videoTags == 50) {
      bytes[at + 4] = char(Damaged >> 16);
      bytes[at + 5] = char(Damaged >> 8);
      bytes[at + 6] = char(Damaged);
      bytes[at + 7] = char(Damaged >> 24);
      break;
    }
    at += 11 + size + 4;
  }
  EXPECT_EQ(videoTags, 50);
  const std::string path = folder + "/damaged.flv";
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

TEST_F(ConvertTest, ADamagedTimestampIsADiscontinuityInEveryOutputFormat) {
  const std::string input = DamagedTimestampFlv(Folder);
  for (const std::string format : {"flv", "swf"}) {
    SCOPED_TRACE(format);
    const std::string output = Output("repaired." + format);
    auto task = MakeTask({input}, output, FlashOptions("44100"));
    const TRunResult run = RunTask(*task);
    ASSERT_TRUE(run.Finished) << run.Message;
    EXPECT_EQ(run.Duplicated(), 0);
    const ProbeResult probe = ProbeMedia(output);
    ASSERT_TRUE(probe.ok) << probe.error;
    const ProbeStream* video = probe.FirstOfType("video");
    const ProbeStream* audio = probe.FirstOfType("audio");
    ASSERT_TRUE(video && audio);
    EXPECT_EQ(video->nb_read_frames, 100);
    // The SWF muxer gives no duration; its pictures and sound frames tell it.
    EXPECT_NEAR(double(audio->nb_read_frames) * 1152 / 44100, 4.0, 0.1);
    const std::vector<double> times = PacketTimes(output, "v");
    ASSERT_FALSE(times.empty());
    const auto [first, last] = std::minmax_element(times.begin(), times.end());
    // The first picture, 25 ms after the sound's start, opens the output at 0.
    EXPECT_NEAR(*last - *first, 3.96, 0.04 + 0.001);
  }
}

TEST_F(ConvertTest, APhoneVideoIsProbedAndConvertedUpright) {
  struct TCase {
    int Rotate;      // the clip's "rotate" tag
    int Width;       // as shown
    int RedX, RedY;  // where the stored top-left corner is shown
  };
  for (const TCase& c : {TCase{0, 72, 4, 4}, TCase{90, 128, 4, 67}, TCase{180, 72, 67, 123},
                         TCase{270, 128, 123, 4}}) {
    SCOPED_TRACE(c.Rotate);
    const std::string input = fixtures::RotatedCornerClip(c.Rotate);
    const int height = c.Width == 72 ? 128 : 72;
    TFFDecoder probe;
    ASSERT_TRUE(probe.LoadFile(input)) << probe.LastErrMsg();
    TVideoStreamInfo info;
    ASSERT_TRUE(probe.GetDefaultVideoStreamInfo(info));
    EXPECT_EQ(info.Width, c.Width);
    EXPECT_EQ(info.Height, height);
    EXPECT_NEAR(info.AspectRatio, double(c.Width) / height, 0.01);

    const std::string output = Output("upright" + std::to_string(c.Rotate) + ".flv");
    auto task = MakeTask({input}, output, {{"vcodec", "flv"}, {"b", "800000"}});
    const TRunResult run = RunTask(*task);
    ASSERT_TRUE(run.Finished) << run.Message;
    const TRgbPicture picture = FirstFrame(output);
    EXPECT_EQ(picture.Width, c.Width);
    EXPECT_EQ(picture.Height, height);
    ExpectColour(picture, c.RedX, c.RedY, 255, 0, 0, "the stored top-left corner");
    ExpectColour(picture, c.Width - 1 - c.RedX, height - 1 - c.RedY, 0, 0, 255, "its opposite");
  }
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  return names;
}

TEST_F(ConvertTest, AnEarlierOutputIsReplacedOnlyByAUsableOne) {
  const std::string earlier = "the earlier output, to be kept unless replaced";
  enum TStop { None, Abort, Cancel };
  struct TCase {
    const char* Name;
    TOptionList Options;
    TStop Stop;
    bool Replaced;
  };
  const TOptionList flash = FlashOptions("44100");
  TOptionList unusableChain = flash;
  unusableChain.push_back({"vf", "nosuchfilter"});
  for (const TCase& c :
       {TCase{"failed", unusableChain, None, false}, TCase{"stopped", flash, Abort, true},
        TCase{"cancelled", flash, Cancel, false}, TCase{"finished", flash, None, true}}) {
    SCOPED_TRACE(c.Name);
    const std::string folder = fixtures::TempDir(std::string("replace-") + c.Name);
    const std::string output = folder + "/keep.flv";
    std::ofstream(output, std::ios::binary) << earlier;
    auto task = MakeTask({fixtures::Path(Media::Mp4H264Aac)}, output, c.Options,
                         {{"re", c.Stop != None ? "1" : "0"}});
    TRunResult run;
    {
      TAsyncRun async(*task);
      if (c.Stop != None) {
        async.WaitForFrames(15);
        // Meanwhile, as after a killed run, the earlier file is still whole.
        EXPECT_EQ(fixtures::ReadFile(output), earlier);
        c.Stop == Abort ? task->Abort(true) : task->Cancel(true);
      }
      run = async.Wait();
    }
    EXPECT_EQ(run.Exception, c.Options == unusableChain) << run.Message;
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"keep.flv"});
    if (!c.Replaced) {
      EXPECT_EQ(fixtures::ReadFile(output), earlier);
      continue;
    }
    const ProbeResult probe = ProbeMedia(output);
    ASSERT_TRUE(probe.ok) << probe.error;
    const int64_t frames = probe.FirstOfType("video")->nb_read_frames;
    EXPECT_TRUE(c.Stop != None ? frames >= 15 && frames < 75 : frames == 75) << frames;
  }
}

TEST_F(ConvertTest, AConversionIntoAPipeIsWrittenThrough) {
  const std::string pipe = Output("pipe.flv");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] {
    std::ifstream in(pipe, std::ios::binary);
    received.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  });
  auto task = MakeTask({fixtures::Path(Media::Mp4H264Aac)}, pipe, FlashOptions("44100"));
  const TRunResult run = RunTask(*task);
  task.reset();
  reader.join();
  ASSERT_TRUE(run.Finished) << run.Message;
  EXPECT_TRUE(std::filesystem::is_fifo(pipe));
  EXPECT_EQ(FilesIn(Folder), std::vector<std::string>{"pipe.flv"});
  const std::string copy = Output("received.flv");
  std::ofstream(copy, std::ios::binary) << received;
  const ProbeResult probe = ProbeMedia(copy);
  ASSERT_TRUE(probe.ok) << probe.error;
  EXPECT_EQ(probe.FirstOfType("video")->nb_read_frames, 75);
}

TEST_F(ConvertTest, AnEarlierOutputWithTheLongestNamesSurvivesAFailedRun) {
  const std::string earlier = "the earlier output, to be kept unless replaced";
  const std::string folder = fixtures::TempDir("long-name");
  const std::string output = folder + "/" + std::string(242, 'n') + ".flv";  // 246 bytes
  std::ofstream(output, std::ios::binary) << earlier;
  TOptionList unusableChain = FlashOptions("44100");
  unusableChain.push_back({"vf", "nosuchfilter"});
  auto task = MakeTask({fixtures::Path(Media::Mp4H264Aac)}, output, unusableChain);
  const TRunResult run = RunTask(*task);
  task.reset();
  EXPECT_TRUE(run.Exception);
  EXPECT_EQ(fixtures::ReadFile(output), earlier);
  EXPECT_EQ(FilesIn(folder).size(), 1u);
}

// One picture at 0 s, far behind a cut that starts at 2 s.
TEST_F(ConvertTest, ARunThatWritesNoPictureAndNoSoundFailsAndKeepsTheEarlierFile) {
  const std::string input = fixtures::Make(
      "one-picture.y4m", "-f lavfi -i testsrc=size=64x48:rate=25 -frames:v 1 -pix_fmt yuv420p");
  const std::string earlier = "the earlier output, to be kept unless replaced";
  const std::string output = Output("nothing.flv");
  std::ofstream(output, std::ios::binary) << earlier;
  auto task = MakeTask({input}, output, FlashOptions("44100"), {{"ss", "2"}});
  const TRunResult run = RunTask(*task);
  task.reset();
  EXPECT_FALSE(run.Finished);
  EXPECT_TRUE(run.Exception);
  EXPECT_EQ(run.Message, "No picture and no sound were left to write into " + output);
  EXPECT_EQ(fixtures::ReadFile(output), earlier);
  EXPECT_EQ(FilesIn(Folder), std::vector<std::string>{"nothing.flv"});
}

void SetModifiedHoursAgo(const std::string& path, int hours) {
  const timespec when{::time(nullptr) - hours * 3600, 0};
  const timespec times[2] = {when, when};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

TEST_F(ConvertTest, TemporaryOutputsThatKilledRunsLeftAreSweptAndNothingElse) {
  const std::string folder = fixtures::TempDir("stale-parts");
  struct TCase {
    const char* Name;
    int HoursAgo;  // 0: written now
    bool Locked;   // held by a live conversion
    bool Kept;
    bool Others = false;    // another user's (needs root to make)
    bool ReadOnly = false;  // kept on purpose by a run whose output could not take its name
    bool Folder = false;    // a scratch folder with the files of a run's packaging step
    bool Subfolder = false;  // it holds a folder too, which no run leaves there
    bool Swapped = false;    // the user's folder takes its name just as the sweep opens it
  };
  const std::vector<TCase> cases{
      {".fennick-0123456789abcdef-0badf00d.part", 2, false, false},  // a killed run's
      {".fennick-0123456789abcdef-1badf00d.part", 2, true, true},    // a live run's
      {".fennick-0123456789abcdef-2badf00d.part", 0, false, true},   // one in the making
      {".fennick-0123456789abcdef-0BADF00D.part", 2, false, true},   // look-alikes
      {".fennick-notes.part", 2, false, true},
      {".movie.flv.0badf00d.part", 2, false, true},
      {"fennick-0123456789abcdef-0badf00d.part", 2, false, true},
      {".fennick-0123456789abcdef-3badf00d.part", 2, false, true, true},  // not ours to judge
      {".fennick-0123456789abcdef-4badf00d.part", 2, false, true, false, true},
      {".fennick-0123456789abcdef-5badf00d.work", 2, false, false, false, false, true},
      {".fennick-0123456789abcdef-6badf00d.work", 2, true, true, false, false, true},
      {".fennick-0123456789abcdef-7badf00d.work", 0, false, true, false, false, true},
      {".fennick-0123456789abcdef-8badf00d.part", 2, false, true, false, false, true},
      {".fennick-0123456789abcdef-9badf00d.work", 2, false, true},  // a file of that name
      {.Name = ".fennick-0123456789abcdef-abadf00d.work",
       .HoursAgo = 2,
       .Locked = false,
       .Kept = true,
       .Folder = true,
       .Subfolder = true},
      {.Name = ".fennick-0123456789abcdef-bbadf00d.work",
       .HoursAgo = 2,
       .Locked = false,
       .Kept = true,
       .Folder = true,
       .Swapped = true},
  };
  // A folder of the user's, renamed by another program to a stale scratch folder's name (which
  // goes aside) between the sweep's listing and its opening.
  static std::function<void(const char*)> meanwhile;
  const TSweepCalls real = SweepCalls();
  SweepCalls().OpenAt = [](int at, const char* name, int flags) {
    if (meanwhile) meanwhile(name);
    return ::openat(at, name, flags);
  };
  const std::string photos = folder + "/Photos";
  std::filesystem::create_directory(photos);
  ASSERT_EQ(::chmod(photos.c_str(), 0755), 0);
  for (const char* picture : {"/a.jpg", "/b.jpg"}) std::ofstream(photos + picture) << "a picture";
  SetModifiedHoursAgo(photos, 2);
  meanwhile = [&](const char* name) {
    const std::string swapped = folder + "/" + cases.back().Name;
    if (std::string(name).find(cases.back().Name) == std::string::npos) return;
    std::filesystem::rename(swapped, folder + "/aside");
    std::filesystem::rename(photos, swapped);
  };
  std::vector<int> locks;
  for (const TCase& c : cases) {
    const std::string path = folder + "/" + c.Name;
    if (c.Folder) ::mkdir(path.c_str(), 0700);  // closed to others, as a run makes it
    if (c.Subfolder) std::filesystem::create_directory(path + "/pictures");
    std::ofstream(c.Folder ? path + "/~Tmp.swf" : path, std::ios::binary) << "part of an output";
    if (c.Others && ::chown(path.c_str(), 65534, 65534) != 0) {
      ASSERT_NE(::geteuid(), 0u) << "chown as root";
      std::filesystem::remove(path);  // cannot be made without root: that row is skipped
      continue;
    }
    if (c.ReadOnly) {
      ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    }
    if (c.HoursAgo) SetModifiedHoursAgo(path, c.HoursAgo);
    if (!c.Locked) continue;
    locks.push_back(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(locks.back(), LOCK_EX), 0) << c.Name;
  }
  auto task =
      MakeTask({fixtures::Path(Media::Mp4H264Aac)}, folder + "/out.flv", FlashOptions("44100"));
  const TRunResult run = RunTask(*task);
  task.reset();
  meanwhile = nullptr;
  SweepCalls() = real;
  for (int lock : locks) ::close(lock);
  EXPECT_TRUE(run.Finished) << run.Message;
  for (const TCase& c : cases) {
    if (!c.Others || ::geteuid() == 0) {
      const std::string path = folder + "/" + c.Name;
      EXPECT_EQ(std::filesystem::exists(path), c.Kept) << c.Name;
      EXPECT_EQ(Logged("Removed " + path + ", left by a conversion that did not end"), !c.Kept);
      EXPECT_EQ(LogLines(nullptr, "Left " + path + " as it is: ").size(),
                c.Subfolder || c.Swapped ? 1u : 0u)
          << c.Name;
      if (c.Folder) {
        EXPECT_EQ(std::filesystem::exists(path + "/~Tmp.swf"), c.Kept && !c.Swapped) << c.Name;
      }
    }
  }
  for (const char* picture : {"/a.jpg", "/b.jpg"})
    EXPECT_EQ(fixtures::ReadFile(folder + "/" + cases.back().Name + picture), "a picture");
  EXPECT_TRUE(std::filesystem::exists(folder + "/out.flv"));
}

// The output's folder changes while the run writes (the input is read at its own pace, so the
// change comes before the end): the file lands in the folder it was written in, or the run fails
// saying where its data went. Never "finished" with no file.
TEST_F(ConvertTest, AnOutputWhoseFolderChangesMeanwhileLandsThereOrTheRunSaysWhereItWent) {
  const std::string others = "another run's output";
  struct TCase {
    const char* Name;
    std::function<void(const std::string& folder)> Meanwhile;
    const char* Landed;   // where the converted file is, under the case's folder name
    const char* Message;  // the failure's words; none when the run finishes
  };
  const std::vector<TCase> cases{
      {"moved", [](const std::string& f) { std::filesystem::rename(f, f + "-moved"); },
       "-moved/out.flv", nullptr},
      {"deleted", [](const std::string& f) { std::filesystem::remove_all(f); }, nullptr,
       "out.flv was deleted while the file was written: the converted file is lost"},
      {"appeared", [&](const std::string& f) { std::ofstream(f + "/out.flv") << others; },
       "/out (2).flv",
       "/out.flv appeared while this one was written; the converted file is kept as "},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string folder = Output(c.Name);
    std::filesystem::create_directory(folder);
    auto task = MakeTask({fixtures::Path(Media::Mp4H264Aac)}, folder + "/out.flv",
                         FlashOptions("44100"), {{"re", "1"}});
    TRunResult run;
    {
      TAsyncRun async(*task);
      async.WaitForFrames(5);
      ASSERT_EQ(async.Ends(), 0);
      c.Meanwhile(folder);
      run = async.Wait();
    }
    task.reset();
    EXPECT_EQ(run.Finished, c.Message == nullptr) << run.Message;
    const std::string landed = c.Landed ? folder + c.Landed : "";
    for (const std::string& words : {std::string(c.Message ? c.Message : ""), landed}) {
      if (c.Message) {
        EXPECT_NE(run.Message.find(words), std::string::npos) << run.Message;
      }
    }
    if (c.Landed) {
      const ProbeResult probe = ProbeMedia(landed);
      EXPECT_TRUE(probe.ok && probe.FirstOfType("video")->nb_read_frames == 75) << probe.error;
    }
    for (const std::string& place : {folder, folder + "-moved"}) {
      if (!std::filesystem::exists(place)) continue;
      for (const std::string& name : FilesIn(place)) {
        EXPECT_FALSE(IsTemporaryFileName(name)) << place << "/" << name;
      }
    }
  }
  EXPECT_TRUE(fixtures::ReadFile(Output("appeared/out.flv")) == others) << "replaced";
}

// A mono 16-bit WAV whose header declares `rate` Hz.
std::string WavDeclaring(const std::string& path, uint32_t rate, uint32_t samples) {
  std::string bytes;
  const auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes += char(v >> 8 * i);
  };
  const auto put16 = [&](uint16_t v) { bytes += char(v), bytes += char(v >> 8); };
  bytes += "RIFF";
  put32(36 + samples * 2);
  bytes += "WAVEfmt ";
  put32(16);
  put16(1);  // PCM
  put16(1);  // mono
  put32(rate);
  put32(rate * 2);
  put16(2);
  put16(16);
  bytes += "data";
  put32(samples * 2);
  for (uint32_t n = 0; n < samples; ++n) put16(uint16_t(n * 2000));
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

TEST_F(ConvertTest, SoundOfAnAbsurdSampleRateIsRefusedNotResampled) {
  for (const uint32_t rate : {1u, 5512u}) {
    SCOPED_TRACE(rate);
    const std::string name = "declared-" + std::to_string(rate);
    const std::string input = WavDeclaring(Output(name + ".wav"), rate, 300);
    const std::string output = Output(name + ".flv");
    auto task = MakeTask({input}, output, FlashOptions("44100"));
    const TRunResult run = RunTask(*task);
    task.reset();
    if (rate == 1) {
      EXPECT_EQ(run.Message,
                "Input stream #0.0 declares a sample rate of 1 Hz, too far from the 44100 Hz of "
                "the output to be converted");
      EXPECT_FALSE(std::filesystem::exists(output));
      continue;
    }
    EXPECT_TRUE(run.Finished) << run.Message;
    const ProbeResult probe = ProbeMedia(output);
    ASSERT_TRUE(probe.ok) << probe.error;
    EXPECT_EQ(probe.FirstOfType("audio")->sample_rate, 44100);
  }
}

}  // namespace
