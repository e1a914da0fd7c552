// The two packaging tools and the files they are pointed at: what they write
// into, what they leave beside their output, and how they refuse inputs that
// are no files or too large.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "MediaFixtures.h"
#include "uSWFData.h"

namespace {

namespace fs = std::filesystem;

enum class Tool { kSwfData, kMskin };

const char* NameOf(Tool tool) { return tool == Tool::kSwfData ? "swfdata" : "mskin"; }

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::set<std::string> FolderEntries(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

// A CWS file whose header claims a body of `claimed` bytes over a few
// compressed ones.
std::string CompressedMovieClaiming(uint32_t claimed) {
  const std::string body(64, '\0');
  uLongf size = compressBound(body.size());
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &size,
           reinterpret_cast<const Bytef*>(body.data()), body.size());
  packed.resize(size);
  const uint32_t length = claimed + 8;
  std::string header = "CWS\x09";
  for (int shift = 0; shift < 32; shift += 8) header += static_cast<char>((length >> shift) & 0xFF);
  return header + packed;
}

class ToolFiles : public testing::Test {
 protected:
  void SetUp() override {
    source_ = dir_ / "SWFData.dat";
    ASSERT_TRUE(GenerateSWFDataClass(TSWFData(), source_.string()));
    settings_ = dir_ / "swfdata.swf";
    ASSERT_EQ(Run(Tool::kSwfData, settings_), 0) << output_;
    before_ = FolderEntries(dir_);
  }

  // The tool's command line as the packaging step gives it, with its inputs
  // replaceable.
  std::string Command(Tool tool, const fs::path& output, const fs::path& input = {},
                      const std::string& program = {}) {
    const auto q = [](const fs::path& p) { return fixtures::ShellQuote(p.string()); };
    if (tool == Tool::kSwfData)
      return q(program.empty() ? FENNICK_SWFDATA_PROGRAM : program) + " -X 400 -Y 400 -T 9 " +
             q(input.empty() ? source_ : input) + " -o " + q(output);
    const fs::path skin = input.empty() ? fs::path(FENNICK_SKIN_DIR) / "None.swf" : input;
    return q(program.empty() ? FENNICK_MSKIN_PROGRAM : program) + " " + q(skin) + " " +
           q("swfdata=" + settings_.string()) + " -X 320 -Y 240 -F 9 -o " + q(output);
  }

  int Run(Tool tool, const fs::path& output, const fs::path& input = {}) {
    return fixtures::Run(Command(tool, output, input) + " 2>&1", &output_);
  }

  const fs::path dir_ = fixtures::TempDir("tool-files");
  fs::path source_, settings_;
  std::set<std::string> before_;
  std::string output_;
};

TEST_F(ToolFiles, PipesAndDevicesAreWrittenIntoAndStayWhatTheyWere) {
  for (const Tool tool : {Tool::kSwfData, Tool::kMskin}) {
    SCOPED_TRACE(NameOf(tool));
    const fs::path pipe = dir_ / "pipe.swf";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    // Held open for writing until the tool has ended, so that the reader
    // neither waits for a writer nor sees the end before the tool wrote,
    // whatever the tool does.
    const int hold = open(pipe.c_str(), O_RDWR);
    ASSERT_GE(hold, 0);
    std::string received;
    std::thread reader([&] {
      std::ifstream in(pipe, std::ios::binary);
      received.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    });
    const int status = Run(tool, pipe);
    close(hold);
    reader.join();
    EXPECT_EQ(status, 0) << output_;
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_TRUE(received.rfind("FWS", 0) == 0 || received.rfind("CWS", 0) == 0) << received.size();
    fs::remove(pipe);

    // A node like /dev/null, which only root may make.
    if (geteuid() == 0) {
      const fs::path null = dir_ / "null.swf";
      ASSERT_EQ(mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
      EXPECT_EQ(Run(tool, null), 0) << output_;
      EXPECT_TRUE(fs::is_character_file(null));
      fs::remove(null);
    }
    EXPECT_EQ(FolderEntries(dir_), before_);
  }
}

TEST_F(ToolFiles, ScratchNamesOfOthersSurviveAndNothingIsLeftBeside) {
  for (const Tool tool : {Tool::kSwfData, Tool::kMskin}) {
    SCOPED_TRACE(NameOf(tool));
    const fs::path out = dir_ / "out.swf";
    const fs::path part = dir_ / "out.swf.part";
    WriteFile(out, "an earlier output");
    WriteFile(part, "a file of the user's own");
    EXPECT_EQ(Run(tool, out), 0) << output_;
    EXPECT_EQ(fixtures::ReadFile(part), "a file of the user's own");
    EXPECT_EQ(fixtures::ReadFile(out).substr(1, 2), "WS");

    // A failed run keeps the earlier output and leaves no scratch file either.
    EXPECT_NE(Run(tool, out, dir_ / "absent"), 0);
    EXPECT_EQ(fixtures::ReadFile(out).substr(1, 2), "WS");
    std::set<std::string> expected = before_;
    expected.insert({"out.swf", "out.swf.part"});
    EXPECT_EQ(FolderEntries(dir_), expected);
    fs::remove(out);
    fs::remove(part);
  }
}

TEST_F(ToolFiles, InputsAndOutputsThatCannotBeUsedAreRefusedByNameAndReason) {
  const fs::path sparse = dir_ / "sparse.dat";
  ASSERT_EQ(truncate((WriteFile(sparse, ""), sparse).c_str(), 65 << 20), 0);
  const fs::path bomb = dir_ / "bomb.swf";
  WriteFile(bomb, CompressedMovieClaiming(1u << 30));
  const fs::path nul = dir_ / "nul.dat";
  WriteFile(nul, std::string("package\n{\n\0 import", 18));
  const fs::path out = dir_ / "out.swf";
  struct Case {
    Tool tool;
    fs::path input;   // empty: the usual one
    fs::path output;  // empty: out.swf
    std::string message;
  };
  const std::string folder = " \"" + dir_.string() + "\": it is a folder";
  const Case cases[] = {
      {Tool::kSwfData, dir_, {}, "cannot read" + folder},
      {Tool::kMskin, dir_, {}, "cannot read" + folder},
      {Tool::kSwfData, {}, dir_, "cannot write" + folder},
      {Tool::kMskin, {}, dir_, "cannot write" + folder},
      {Tool::kSwfData, sparse, {}, sparse.string() + "\": it is larger than 64 MiB"},
      {Tool::kMskin, bomb, {}, bomb.string() + "\": compressed SWF claims 1024 MiB"},
      {Tool::kSwfData, nul, {}, "line 3: unexpected character '\\x00'\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(NameOf(c.tool)) + " " + c.input.string() + " " + c.output.string());
    EXPECT_EQ(Run(c.tool, c.output.empty() ? out : c.output, c.input), 1);
    EXPECT_NE(output_.find(c.message), std::string::npos) << output_;
    EXPECT_FALSE(fs::exists(out));
  }
}

// Built without the sanitizers, whose allocator would abort instead.
TEST_F(ToolFiles, ExhaustedMemoryIsReportedWithAnExitStatus) {
  const std::string big(60 << 20, 'x');
  const fs::path source = dir_ / "big.dat";
  WriteFile(source,
            "package {\n import flash.display.MovieClip;\n public class S extends "
            "MovieClip {\n public var s:String=\"" +
                big + "\";\n function S() {}\n }\n}\n");
  const fs::path skin = dir_ / "big.swf";
  WriteFile(skin, "FWS\x09" + std::string("\x08\x00\xC0\x03", 4) + big);  // 60 MiB + 8 bytes
  const fs::path out = dir_ / "out.swf";
  for (const Tool tool : {Tool::kSwfData, Tool::kMskin}) {
    SCOPED_TRACE(NameOf(tool));
    const std::string program =
        tool == Tool::kSwfData ? FENNICK_SWFDATA_UNSANITIZED : FENNICK_MSKIN_UNSANITIZED;
    const fs::path input = tool == Tool::kSwfData ? source : skin;
    const int status = fixtures::Run(
        "ulimit -v 100000; " + Command(tool, out, input, program) + " 2>&1", &output_);
    EXPECT_EQ(status, 1) << output_;
    EXPECT_NE(output_.find(std::string(NameOf(tool)) + ": out of memory"), std::string::npos)
        << output_;
    EXPECT_FALSE(fs::exists(out));
  }
}

}  // namespace
