#include <gtest/gtest.h>
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "EngineTestSupport.h"
#include "FrameHook.h"
#include "MediaFixtures.h"

namespace {

const std::string Brighten = FENNICK_HOOK_DIR "/brighten_hook.so";
const std::string Invert = FENNICK_HOOK_DIR "/invert_hook.so";
const std::string NoProcess = FENNICK_HOOK_DIR "/no_process_hook.so";

// A planar picture of its own: luma from a pattern, chroma grey.
struct TPicture {
  static constexpr int Width = 33;
  static constexpr int Height = 17;
  static constexpr int Stride = 48;
  std::vector<uint8_t> Luma = std::vector<uint8_t>(Stride * Height);
  std::vector<uint8_t> Chroma = std::vector<uint8_t>(2 * 24 * 9, 128);
  uint8_t* Data[4] = {Luma.data(), Chroma.data(), Chroma.data() + 24 * 9, nullptr};
  int LineSize[4] = {Stride, 24, 24, 0};

  TPicture() {
    for (int y = 0; y < Height; ++y)
      for (int x = 0; x < Stride; ++x) Luma[y * Stride + x] = uint8_t(x * 7 + y);
  }
  uint8_t At(int x, int y) const { return Luma[y * Stride + x]; }
};

// Whether the process has the library loaded (asks without loading it).
bool Loaded(const std::string& path) {
  void* const module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (module) ::dlclose(module);
  return module != nullptr;
}

std::string CurrentDir() {
  char buffer[4096];
  return ::getcwd(buffer, sizeof buffer) ? buffer : "";
}

class FrameHookTest : public ::testing::Test {
 protected:
  void SetUp() override { LoadEngineLibraries(); }

  std::vector<std::string> Errors() { return FLog.Texts(llError); }

  TLogRecorder FLog{llInfo};
};

}  // namespace

TEST_F(FrameHookTest, HookChangesThePicturesItIsGivenAndReportsOnRelease) {
  const std::string report = fixtures::TempDir("hook-report") + "/report.txt";
  const std::string dir = CurrentDir();
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  TFrameHookChain chain;
  ASSERT_EQ(chain.FrameHookAdd({Brighten, "10", report}), 0);
  EXPECT_FALSE(chain.Empty());
  EXPECT_EQ(CurrentDir(), dir);
  EXPECT_EQ(std::getenv("PATH") ? std::getenv("PATH") : "", path);

  TPicture picture;
  const TPicture original;
  chain.FrameHookProcess(picture.Data, picture.LineSize, AV_PIX_FMT_YUV420P, TPicture::Width,
                         TPicture::Height, 40000);
  chain.FrameHookProcess(picture.Data, picture.LineSize, AV_PIX_FMT_YUV420P, TPicture::Width,
                         TPicture::Height, 80000);
  for (int y = 0; y < TPicture::Height; ++y) {
    for (int x = 0; x < TPicture::Width; ++x)
      ASSERT_EQ(picture.At(x, y), std::min(original.At(x, y) + 20, 255)) << x << "," << y;
    EXPECT_EQ(picture.At(TPicture::Width, y), original.At(TPicture::Width, y));  // past the width
  }
  EXPECT_EQ(picture.Chroma, original.Chroma);
  EXPECT_EQ(fixtures::ReadFile(report), "");
  chain.FrameHookRelease();
  EXPECT_TRUE(chain.Empty());
  EXPECT_EQ(fixtures::ReadFile(report), "2 80000 33 17\n");
  EXPECT_TRUE(Errors().empty());
}

TEST_F(FrameHookTest, HooksRunInTheOrderTheyWereAdded) {
  TFrameHookChain chain;
  ASSERT_EQ(chain.FrameHookAdd({Brighten, "10"}), 0);
  ASSERT_EQ(chain.FrameHookAdd({Invert}), 0);
  TPicture picture;
  const TPicture original;
  chain.FrameHookProcess(picture.Data, picture.LineSize, AV_PIX_FMT_YUV420P, TPicture::Width,
                         TPicture::Height, 0);
  for (int y = 0; y < TPicture::Height; ++y)
    for (int x = 0; x < TPicture::Width; ++x)
      ASSERT_EQ(picture.At(x, y), 255 - std::min(original.At(x, y) + 10, 255));
}

TEST_F(FrameHookTest, LibraryWithoutProcessIsRefusedWithItsName) {
  TFrameHookChain chain;
  EXPECT_LT(chain.FrameHookAdd({NoProcess}), 0);
  EXPECT_TRUE(chain.Empty());
  EXPECT_FALSE(Loaded(NoProcess));
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Errors()[0], "Failed to find Process entrypoint in " + NoProcess);
}

TEST_F(FrameHookTest, ArgumentsNeedConfigureAndConfigureMustSucceed) {
  TFrameHookChain chain;
  EXPECT_LT(chain.FrameHookAdd({Invert, "extra"}), 0);
  EXPECT_LT(chain.FrameHookAdd({Brighten, "fail"}), 0);
  EXPECT_TRUE(chain.Empty());
  EXPECT_FALSE(Loaded(Invert));
  EXPECT_FALSE(Loaded(Brighten));
  const std::vector<std::string> expected = {"Failed to find Configure entrypoint in " + Invert,
                                             "Failed to Configure " + Brighten};
  EXPECT_EQ(Errors(), expected);
  // Without arguments a hook needs no Configure.
  EXPECT_EQ(chain.FrameHookAdd({Invert}), 0);
  EXPECT_TRUE(Loaded(Invert));
  chain.FrameHookRelease();
  EXPECT_FALSE(Loaded(Invert));
}

TEST_F(FrameHookTest, FileThatIsNoLibraryIsRefusedWithTheSystemsReason) {
  const std::string folder = fixtures::TempDir("not-a-hook");
  const std::string text = folder + "/text_hook.so";
  std::ofstream(text) << "Process\n";
  const std::string empty = folder + "/empty_hook.so";
  std::ofstream{empty};
  TFrameHookChain chain;
  EXPECT_LT(chain.FrameHookAdd({text, "1"}), 0);
  EXPECT_LT(chain.FrameHookAdd({empty}), 0);
  EXPECT_LT(chain.FrameHookAdd({folder}), 0);
  EXPECT_TRUE(chain.Empty());
  const std::vector<std::string> errors = Errors();
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_NE(errors[0].find(text), std::string::npos) << errors[0];
  EXPECT_NE(errors[1].find(empty), std::string::npos) << errors[1];
  EXPECT_NE(errors[2].find(folder), std::string::npos) << errors[2];
  // A good hook after the refusals works as ever.
  ASSERT_EQ(chain.FrameHookAdd({Invert}), 0);
  TPicture picture;
  chain.FrameHookProcess(picture.Data, picture.LineSize, AV_PIX_FMT_YUV420P, TPicture::Width,
                         TPicture::Height, 0);
  EXPECT_EQ(picture.At(0, 0), 255);
}

TEST_F(FrameHookTest, MissingLibraryLogsTheSystemsReason) {
  TFrameHookChain chain;
  const std::string missing = fixtures::TempDir("no-hook") + "/missing_hook.so";
  EXPECT_LT(chain.FrameHookAdd({missing}), 0);
  EXPECT_LT(chain.FrameHookAdd({}), 0);
  EXPECT_TRUE(chain.Empty());
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_NE(Errors()[0].find(missing), std::string::npos) << Errors()[0];
  EXPECT_NE(Errors()[0].find("No such file"), std::string::npos) << Errors()[0];
}

TEST_F(FrameHookTest, EachTaskOwnsItsChainSoAnEndingTaskLeavesOthersRunning) {
  const std::string report = fixtures::TempDir("hook-tasks") + "/report.txt";
  auto task = [&](int pictures) {
    TFrameHookChain chain;  // released when the task ends
    ASSERT_EQ(chain.FrameHookAdd({Brighten, "1", report}), 0);
    TPicture picture;
    for (int n = 0; n < pictures; ++n)
      chain.FrameHookProcess(picture.Data, picture.LineSize, AV_PIX_FMT_YUV420P, TPicture::Width,
                             TPicture::Height, n);
  };
  std::thread longTask(task, 3000);
  for (int n = 0; n < 20; ++n) task(5);
  longTask.join();
  const std::string text = fixtures::ReadFile(report);
  EXPECT_NE(text.find("3000 2999 33 17\n"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 21);
}

TEST_F(FrameHookTest, DestroyingAChainReleasesItsHooks) {
  const std::string report = fixtures::TempDir("hook-destroy") + "/report.txt";
  {
    TFrameHookChain chain;
    ASSERT_EQ(chain.FrameHookAdd({Brighten, "3", report}), 0);
  }
  EXPECT_EQ(fixtures::ReadFile(report), "0 0 0 0\n");
}
