#include <gtest/gtest.h>

#include "MediaFixtures.h"
#include "libsdl.h"

namespace {

const std::string Folder = FENNICK_LIBAV_DIR;

TEST(SDLLoader, LoadsFromTheProgramFolderOnce) {
  TSDLLoader first;
  ASSERT_TRUE(first.Load(Folder, SDLLibraryName)) << first.ErrorText();
  EXPECT_TRUE(first.Loaded());
  EXPECT_EQ(first.FullPath(), Folder + "/" + SDLLibraryName);
  EXPECT_NE(first.EntryPoints().SDL_Init, nullptr);
  EXPECT_NE(first.EntryPoints().SDL_VideoDriverName, nullptr);
  // Again on the same loader: nothing to do.
  EXPECT_TRUE(first.Load(Folder + "/", SDLLibraryName));

  TSDLLoader second;
  EXPECT_FALSE(second.Load(Folder, SDLLibraryName));
  EXPECT_EQ(second.ErrorText(),
            Folder + "/" + SDLLibraryName + " alreay loaded in another instance.");
  EXPECT_FALSE(second.Loaded());

  first.Unload();
  EXPECT_FALSE(first.Loaded());
  EXPECT_EQ(first.EntryPoints().SDL_Init, nullptr);
  EXPECT_TRUE(second.Load(Folder, SDLLibraryName)) << second.ErrorText();
}

TEST(SDLLoader, FallsBackToTheSystemLibrary) {
  const std::string empty = fixtures::TempDir("sdl_empty_folder");
  TSDLLoader loader;
  ASSERT_TRUE(loader.Load(empty, SDLLibraryName)) << loader.ErrorText();
  EXPECT_TRUE(loader.Loaded());
}

TEST(SDLLoader, LibraryLackingAnEntryPointStaysUnloaded) {
  TSDLLoader loader;
  EXPECT_FALSE(loader.Load(Folder, "libavutil.so.57"));
  EXPECT_EQ(
      loader.ErrorText().rfind("Load function SDL_Init@" + Folder + "/libavutil.so.57 error: ", 0),
      0u)
      << loader.ErrorText();
  EXPECT_FALSE(loader.Loaded());
  EXPECT_TRUE(loader.FullPath().empty());
  // The path is not held: another loader may try it and fail for the same reason, not as taken.
  TSDLLoader other;
  EXPECT_FALSE(other.Load(Folder, "libavutil.so.57"));
  EXPECT_EQ(other.ErrorText().find("alreay"), std::string::npos);
}

TEST(SDLLoader, MissingLibraryNamesThePath) {
  TSDLLoader loader;
  EXPECT_FALSE(loader.Load(Folder, "libSDL-0.9.so.7"));
  EXPECT_EQ(loader.ErrorText().rfind("Load library " + Folder + "/libSDL-0.9.so.7 error: ", 0), 0u)
      << loader.ErrorText();
}

}  // namespace
