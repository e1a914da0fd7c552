// The test media and the ffprobe reader that every suite relies on.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "MediaFixtures.h"

namespace fs = std::filesystem;

namespace {

// The files of a folder whose names start with the text.
std::vector<std::string> FilesStartingWith(const std::string& folder, const std::string& start) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(start, 0) == 0) names.push_back(name);
  }
  return names;
}

// A name no earlier run has made, so that the fixture is really generated here.
std::string FreshName(const std::string& tag, const std::string& extension) {
  return tag + "-" + fs::path(fixtures::TempDir(tag)).filename().string() + extension;
}

}  // namespace

TEST(MediaFixtures, ConcurrentRequestsForOneFixtureAllGetTheWholeFile) {
  const std::string name = FreshName("concurrent", ".mp4");
  const std::string arguments =
      "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 -c:v libx264 -preset ultrafast";
  std::vector<std::string> paths(6);
  std::vector<std::string> failures(paths.size());
  std::vector<std::thread> makers;
  for (size_t n = 0; n < paths.size(); ++n)
    makers.emplace_back([&, n] {
      try {
        paths[n] = fixtures::Make(name, arguments);
      } catch (const std::exception& e) {
        failures[n] = e.what();
      }
    });
  for (std::thread& maker : makers) maker.join();
  for (size_t n = 0; n < paths.size(); ++n) {
    ASSERT_EQ(failures[n], "") << n;
    ASSERT_EQ(paths[n], paths[0]);
  }
  const ProbeResult probe = ProbeMedia(paths[0]);
  ASSERT_TRUE(probe.ok) << probe.error;
  ASSERT_NE(probe.FirstOfType("video"), nullptr);
  EXPECT_EQ(probe.FirstOfType("video")->nb_read_frames, 50);
  // No private copy is left lying next to it.
  EXPECT_EQ(FilesStartingWith(fs::path(paths[0]).parent_path().string(), name),
            std::vector<std::string>{name});
}

TEST(MediaFixtures, FailedGenerationThrowsAndLeavesNoFile) {
  const std::string name = FreshName("failing", ".mp4");
  const std::string folder = fs::path(fixtures::Path(fixtures::Media::VideoOnly)).parent_path();
  try {
    fixtures::Make(name, "-f lavfi -i nosuchsource=size=16x16");
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
  }
  EXPECT_TRUE(FilesStartingWith(folder, name).empty());
}

TEST(MediaFixtures, RunSeparatelyKeepsErrorsOutOfTheOutput) {
  std::string output, errors;
  EXPECT_EQ(fixtures::RunSeparately("echo out; echo 'err=1' >&2; exit 3", output, errors), 3);
  EXPECT_EQ(output, "out\n");
  EXPECT_EQ(errors, "err=1\n");
  std::string both;
  EXPECT_EQ(fixtures::Run("echo out; echo err >&2", &both), 0);
  EXPECT_EQ(both, "out\nerr\n");
}

TEST(ProbeOutput, NestedSectionsDoNotOverwriteTheStreamsFields) {
  const ProbeResult probe = ParseProbeOutput(
      "[STREAM]\nindex=0\ncodec_type=video\nwidth=320\nheight=240\nduration=3.000000\n"
      "[SIDE_DATA]\nside_data_type=Display Matrix\ndisplaymatrix=\n00000000:   0 65536 0\n"
      "width=17\n[/SIDE_DATA]\nbit_rate=N/A\nnb_read_frames=75\n[/STREAM]\n"
      "[STREAM]\nindex=1\ncodec_type=audio\nsample_rate=44100\nchannels=2\n[/STREAM]\n"
      "[FORMAT]\nformat_name=mov,mp4\nduration=3.01\nsize=1234\nTAG:comment=a=b\n[/FORMAT]\n");
  ASSERT_TRUE(probe.ok);
  ASSERT_EQ(probe.streams.size(), 2u);
  const ProbeStream& video = probe.streams[0];
  EXPECT_EQ(video.width, 320);
  EXPECT_EQ(video.height, 240);
  EXPECT_DOUBLE_EQ(video.duration, 3.0);
  EXPECT_EQ(video.bit_rate, -1);
  EXPECT_EQ(video.nb_read_frames, 75);
  EXPECT_EQ(video.fields.count("side_data_type"), 0u);
  EXPECT_EQ(probe.streams[1].sample_rate, 44100);
  EXPECT_EQ(probe.streams[1].channels, 2);
  EXPECT_EQ(probe.format_name, "mov,mp4");
  EXPECT_EQ(probe.size, 1234);
  EXPECT_EQ(probe.format.at("TAG:comment"), "a=b");
}

TEST(ProbeOutput, NumbersMustBeWholeAndBrokenOutputIsNotOk) {
  const ProbeResult probe = ParseProbeOutput(
      "[STREAM]\nwidth=32x\nheight=\nsample_rate=8000.5\nduration=1.5s\n[/STREAM]\n"
      "[FORMAT]\nduration=N/A\nbit_rate=9223372036854775808\n[/FORMAT]\n");
  ASSERT_TRUE(probe.ok);
  ASSERT_EQ(probe.streams.size(), 1u);
  EXPECT_EQ(probe.streams[0].width, 0);
  EXPECT_EQ(probe.streams[0].height, 0);
  EXPECT_EQ(probe.streams[0].sample_rate, 0);
  EXPECT_EQ(probe.streams[0].duration, -1);
  EXPECT_EQ(probe.duration, -1);
  EXPECT_EQ(probe.bit_rate, -1);

  EXPECT_FALSE(ParseProbeOutput("").ok);
  EXPECT_FALSE(ParseProbeOutput("[FORMAT]\nformat_name=avi\n").ok);  // cut off
  EXPECT_FALSE(ParseProbeOutput("[FORMAT]\nformat_name=avi\n[/STREAM]\n").ok);
  EXPECT_TRUE(ParseProbeOutput("[FORMAT]\r\nformat_name=avi\r\n[/FORMAT]\r\n").ok);
}

TEST(ProbeOutput, UnreadableFileIsNotOkAndSaysWhy) {
  const std::string path = fixtures::TempDir("probe-garbage") + "/not media.mp4";
  { std::ofstream(path) << "plain text, no media"; }
  const ProbeResult probe = ProbeMedia(path);
  EXPECT_FALSE(probe.ok);
  EXPECT_TRUE(probe.streams.empty());
  EXPECT_NE(probe.error, "");
}
