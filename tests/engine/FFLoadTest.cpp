#include <dlfcn.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <link.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "EngineTestSupport.h"
#include "FFLoad.h"
#include "MediaFixtures.h"

namespace fs = std::filesystem;

namespace {

std::string ModuleOf(const void* address) {
  Dl_info info{};
  return ::dladdr(address, &info) && info.dli_fname ? info.dli_fname : "";
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

// The files that FFmpeg's libraries of this process are mapped from.
std::vector<std::string> MappedFFmpegLibraries() {
  std::vector<std::string> paths;
  ::dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        static const char* const Sonames[] = {
            "libavutil.so.57",  "libswresample.so.4", "libswscale.so.6",  "libpostproc.so.56",
            "libavcodec.so.59", "libavformat.so.59",  "libavfilter.so.8", "libavdevice.so.59"};
        const std::string path = info->dlpi_name ? info->dlpi_name : "";
        const std::string name = fs::path(path).filename().string();
        if (std::find(std::begin(Sonames), std::end(Sonames), name) != std::end(Sonames))
          static_cast<std::vector<std::string>*>(data)->push_back(path);
        return 0;
      },
      &paths);
  return paths;
}

// Where a library comes from shows only in a process that has not mapped it yet: opened
// libraries stay mapped (RTLD_NODELETE), and the dynamic linker answers a later request for the
// same soname, or for another path to the same file, with what it has mapped. So these checks
// run in a new process of this test program, whatever the suites before them loaded.
// The new process reports its failures on its error output, which the parent shows.
void ExpectInNewProcess(void (*check)()) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ::testing::TestPartResultArray results;
        {
          const ::testing::ScopedFakeTestPartResultReporter reporter(
              ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
          check();
        }
        int failures = 0;
        for (int n = 0; n < results.size(); ++n) {
          const ::testing::TestPartResult& result = results.GetTestPartResult(n);
          if (!result.failed()) continue;
          ++failures;
          std::fprintf(stderr, "%s:%d: %s\n", result.file_name() ? result.file_name() : "",
                       result.line_number(), result.message());
        }
        std::exit(failures == 0 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

class LoaderTest : public ::testing::Test {
 protected:
  void TearDown() override {
    FFLoader().Unload(AllLibraries);
    FFLoader().SetLibraryPath("");
    for (int n = 0; n < LibraryCount; ++n) FFLoader().SetLibraryFileName(TLibrary(n), "");
  }
};

void LoadFromAnEmptyFolder() {
  ASSERT_EQ(MappedFFmpegLibraries(), std::vector<std::string>());
  const std::string folder = fixtures::TempDir("empty-libav");
  FFLoader().SetLibraryPath(folder);
  ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
  EXPECT_TRUE(FFLoader().Loaded(AllLibraries));
  ASSERT_NE(ff::avcodec_version, nullptr);
  EXPECT_EQ(ff::avcodec_version() >> 16, unsigned(LIBAVCODEC_VERSION_MAJOR));
  const std::vector<std::string> mapped = MappedFFmpegLibraries();
  EXPECT_EQ(mapped.size(), 8u);
  for (const std::string& path : mapped) {
    EXPECT_FALSE(StartsWith(path, FENNICK_LIBAV_DIR)) << path;
    EXPECT_FALSE(StartsWith(path, folder)) << path;
  }
  EXPECT_FALSE(
      StartsWith(ModuleOf(reinterpret_cast<void*>(ff::avformat_open_input)), FENNICK_LIBAV_DIR));
}

// Every library of the set, and every one they need, comes from the folder: nothing mixes
// with the system's copies.
void LoadFromTheProgramFolderOnce() {
  ASSERT_EQ(MappedFFmpegLibraries(), std::vector<std::string>());
  ASSERT_NO_FATAL_FAILURE(LoadEngineLibraries());
  const std::vector<std::string> mapped = MappedFFmpegLibraries();
  EXPECT_EQ(mapped.size(), 8u);
  for (const std::string& path : mapped) EXPECT_TRUE(StartsWith(path, FENNICK_LIBAV_DIR)) << path;
  EXPECT_TRUE(
      StartsWith(ModuleOf(reinterpret_cast<void*>(ff::avformat_open_input)), FENNICK_LIBAV_DIR));
  EXPECT_TRUE(StartsWith(ModuleOf(reinterpret_cast<void*>(ff::av_log)), FENNICK_LIBAV_DIR));

  // A second Load resolves nothing again: an entry changed behind its back stays changed.
  const auto resolved = ff::avcodec_get_name;
  ff::avcodec_get_name = [](AVCodecID) { return "not resolved again"; };
  ASSERT_TRUE(FFLoader().Load(AllLibraries));
  EXPECT_STREQ(ff::avcodec_get_name(AV_CODEC_ID_FLV1), "not resolved again");
  ff::avcodec_get_name = resolved;
  EXPECT_STREQ(ff::avcodec_get_name(AV_CODEC_ID_FLV1), "flv1");
}

}  // namespace

TEST_F(LoaderTest, EmptyFolderFallsBackToTheSystemLibraries) {
  ExpectInNewProcess(LoadFromAnEmptyFolder);
}

TEST_F(LoaderTest, ProgramFolderSetIsTakenFromTheFolderAndLoadsOnce) {
  ExpectInNewProcess(LoadFromTheProgramFolderOnce);
}

TEST_F(LoaderTest, MissingExportUnloadsTheWholeSetAndNamesTheExport) {
  const std::string folder = fixtures::TempDir("stub-libav");
  fs::copy_file(FENNICK_STUB_AVFORMAT, folder + "/libavformat.so.59");
  FFLoader().SetLibraryPath(folder);
  EXPECT_FALSE(FFLoader().Load(AllLibraries));
  const std::string expected =
      "Load function av_codec_get_tag@" + folder + "/libavformat.so.59 error: ";
  EXPECT_EQ(FFLoader().LastErrorMessage().rfind(expected, 0), 0u) << FFLoader().LastErrorMessage();
  EXPECT_GT(FFLoader().LastErrorMessage().size(), expected.size());
  EXPECT_FALSE(FFLoader().Loaded(AllLibraries));
  for (int n = 0; n < LibraryCount; ++n) EXPECT_FALSE(FFLoader().LibLoaded(TLibrary(n))) << n;
  EXPECT_EQ(ff::avcodec_open2, nullptr);
  EXPECT_EQ(ff::av_log, nullptr);
}

TEST_F(LoaderTest, MissingOverrideNamesTheFile) {
  FFLoader().SetLibraryFileName(libAVFilter, "libavfilter-missing.so.8");
  EXPECT_FALSE(FFLoader().Load(AllLibraries));
  const std::string expected = "Load library libavfilter-missing.so.8 error: ";
  EXPECT_EQ(FFLoader().LastErrorMessage().rfind(expected, 0), 0u) << FFLoader().LastErrorMessage();
  EXPECT_FALSE(FFLoader().LibLoaded(libAVCodec));
}

TEST_F(LoaderTest, CLibraryNeverComesFromTheFolder) {
  const std::string folder = fixtures::TempDir("libc-folder");
  std::ofstream(folder + "/libc.so.6") << "not a library";
  FFLoader().SetLibraryPath(folder);
  ASSERT_TRUE(FFLoader().Load(LibraryBit(libC))) << FFLoader().LastErrorMessage();
  EXPECT_NE(ff::vsnprintf, nullptr);
}

TEST_F(LoaderTest, FileNamesFollowTheSonames) {
  EXPECT_EQ(FFLoader().LibraryFileName(libAVCodec), "libavcodec.so.59");
  EXPECT_EQ(FFLoader().LibraryFileName(libAVFilter), "libavfilter.so.8");
  EXPECT_EQ(FFLoader().LibraryFileName(libSWResample), "libswresample.so.4");
  EXPECT_EQ(FFLoader().LibraryFileName(libC), "libc.so.6");
}
