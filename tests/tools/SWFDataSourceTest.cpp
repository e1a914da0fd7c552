// The player-settings object and the ActionScript source it is written as.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "MediaFixtures.h"
#include "uSWFData.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const char* const kDefaultSource =
    "package\r\n"
    "{\r\n"
    "    import flash.display.MovieClip;\r\n"
    "\r\n"
    "    public class SWFData extends MovieClip\r\n"
    "    {\r\n"
    "        public var videofile:String=\"\";\r\n"
    "        public var autohide:Boolean=false;\r\n"
    "        public var autoplay:Boolean=false;\r\n"
    "        public var isflv:Boolean=true;\r\n"
    "        public var autoRewind:Boolean=false;\r\n"
    "        public var autoSize:Boolean=false;\r\n"
    "        public var showbigplay:Boolean=true;\r\n"
    "        public var ratio:String=\"0\";\r\n"
    "        public var bgcolor:int=0;\r\n"
    "        public var showbuffer:Boolean=false;\r\n"
    "        public var videotime:int=0;\r\n"
    "\r\n"
    "        function SWFData()\r\n"
    "        {\r\n"
    "        }\r\n"
    "    }\r\n"
    "}\r\n";

}  // namespace

TEST(SWFDataSource, FreshObjectWritesTheDefaultsInOrder) {
  const TSWFData data;
  EXPECT_EQ(data.RatioChoices, "0;4:3;16:9");
  EXPECT_EQ(SWFDataClassSource(data, "SWFData"), kDefaultSource);
}

TEST(SWFDataSource, FalseAutoplayLineIsExact) {
  TSWFData data;
  data.autoplay = false;
  const std::string source = SWFDataClassSource(data, "SWFData");
  EXPECT_NE(source.find("\r\n        public var autoplay:Boolean=false;\r\n"), std::string::npos);
}

TEST(SWFDataSource, RatioAndColourAndTimeValues) {
  TSWFData data;
  data.ratio = "16:9";
  data.bgcolor = 0xFF8000;
  data.videotime = 3725;
  data.autohide = true;
  const std::string source = SWFDataClassSource(data, "SWFData");
  EXPECT_NE(source.find("        public var ratio:String=\"16:9\";\r\n"), std::string::npos);
  EXPECT_NE(source.find("        public var bgcolor:int=16744448;\r\n"), std::string::npos);
  EXPECT_NE(source.find("        public var videotime:int=3725;\r\n"), std::string::npos);
  EXPECT_NE(source.find("        public var autohide:Boolean=true;\r\n"), std::string::npos);
}

TEST(SWFDataSource, QuotesBackslashesAndLineBreaksInTextAreEscaped) {
  TSWFData data;
  data.videofile = "say \"hi\"\\clip\r\nnext.flv";
  const std::string source = SWFDataClassSource(data, "SWFData");
  EXPECT_NE(
      source.find(
          "        public var videofile:String=\"say \\\"hi\\\"\\\\clip\\r\\nnext.flv\";\r\n"),
      std::string::npos)
      << source;
  EXPECT_EQ(ActionScriptStringLiteral("caf\xC3\xA9.flv"),
            "\"caf\xC3\xA9.flv\"");  // UTF-8 passes through
}

TEST(SWFDataSource, ClassNameIsTheFileBaseNameInBothPlaces) {
  const std::string dir = fixtures::TempDir("swfdatasource");
  const std::string file = dir + "/SWFData.dat";
  std::string error;
  ASSERT_TRUE(GenerateSWFDataClass(TSWFData(), file, &error)) << error;
  EXPECT_EQ(ReadAll(file), kDefaultSource);

  const std::string other = dir + "/Preview.txt";
  ASSERT_TRUE(GenerateSWFDataClass(TSWFData(), other, &error)) << error;
  const std::string source = ReadAll(other);
  EXPECT_NE(source.find("    public class Preview extends MovieClip\r\n"), std::string::npos);
  EXPECT_NE(source.find("        function Preview()\r\n"), std::string::npos);
}

TEST(SWFDataSource, AnExistingFileIsReplacedAndNonAsciiNamesWork) {
  const std::string dir = fixtures::TempDir("swfdatasource") + "/Vid\xC3\xA9os";
  std::filesystem::create_directories(dir);
  const std::string file = dir + "/SWFData.dat";
  std::ofstream(file) << std::string(5000, '~');
  TSWFData data;
  data.videofile = "\xC3\xA9t\xC3\xA9.flv";
  ASSERT_TRUE(GenerateSWFDataClass(data, file));
  const std::string source = ReadAll(file);
  EXPECT_EQ(source.find('~'), std::string::npos);
  EXPECT_NE(source.find("videofile:String=\"\xC3\xA9t\xC3\xA9.flv\";"), std::string::npos);
}

TEST(SWFDataSource, UnwritableFileReportsFailure) {
  const std::string dir = fixtures::TempDir("swfdatasource");
  std::string error;
  EXPECT_FALSE(GenerateSWFDataClass(TSWFData(), dir + "/missing/SWFData.dat", &error));
  EXPECT_NE(error.find("missing/SWFData.dat"), std::string::npos);
  EXPECT_FALSE(GenerateSWFDataClass(TSWFData(), dir, &error));  // a folder
}
