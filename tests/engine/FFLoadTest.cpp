#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "FFLoad.h"
#include "MediaFixtures.h"

namespace fs = std::filesystem;

namespace {

std::string ModuleOf(const void* address) {
  Dl_info info{};
  return ::dladdr(address, &info) && info.dli_fname ? info.dli_fname : "";
}

class LoaderTest : public ::testing::Test {
 protected:
  void TearDown() override {
    FFLoader().Unload(AllLibraries);
    FFLoader().SetLibraryPath("");
    for (int n = 0; n < LibraryCount; ++n) FFLoader().SetLibraryFileName(TLibrary(n), "");
  }
};

}  // namespace

TEST_F(LoaderTest, EmptyFolderFallsBackToTheSystemLibraries) {
  FFLoader().SetLibraryPath(fixtures::TempDir("empty-libav"));
  ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
  EXPECT_TRUE(FFLoader().Loaded(AllLibraries));
  ASSERT_NE(ff::avcodec_version, nullptr);
  EXPECT_EQ(ff::avcodec_version() >> 16, unsigned(LIBAVCODEC_VERSION_MAJOR));
  EXPECT_EQ(ModuleOf(reinterpret_cast<void*>(ff::avformat_open_input)).find(FENNICK_LIBAV_DIR),
            std::string::npos);
}

TEST_F(LoaderTest, ProgramFolderSetIsTakenFromTheFolderAndLoadsOnce) {
  FFLoader().SetLibraryPath(FENNICK_LIBAV_DIR);
  ASSERT_TRUE(FFLoader().Load(AllLibraries)) << FFLoader().LastErrorMessage();
  EXPECT_EQ(ModuleOf(reinterpret_cast<void*>(ff::avformat_open_input)).rfind(FENNICK_LIBAV_DIR, 0),
            0u);
  EXPECT_EQ(ModuleOf(reinterpret_cast<void*>(ff::av_log)).rfind(FENNICK_LIBAV_DIR, 0), 0u);
  const auto openInput = ff::avformat_open_input;
  ASSERT_TRUE(FFLoader().Load(AllLibraries));
  EXPECT_EQ(ff::avformat_open_input, openInput);
  EXPECT_STREQ(ff::avcodec_get_name(AV_CODEC_ID_FLV1), "flv1");
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
