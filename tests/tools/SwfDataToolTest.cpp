// The settings compiler: its source reader, and the program run as the packaging step runs
// it, with the SWF it writes read back by our reader and an independent ABC reader.
#include <gtest/gtest.h>

#include <fstream>

#include "AbcAssembler.h"
#include "AbcReader.h"
#include "MediaFixtures.h"
#include "SettingsCompiler.h"
#include "uSWFData.h"

using namespace fennick;
using fennick::swfdata::ParseSettingsSource;
using fennick::swfdata::SettingsError;

namespace {

struct RunResult {
  int status;
  std::string output;
};

RunResult RunTool(const std::string& arguments) {
  RunResult r;
  r.status =
      fixtures::Run(fixtures::ShellQuote(FENNICK_SWFDATA_PROGRAM) + " " + arguments, &r.output);
  return r;
}

std::string CompileCommand(const std::string& source, const std::string& output) {
  return "-X 400 -Y 400 -T 9 " + fixtures::ShellQuote(source) + " -o " +
         fixtures::ShellQuote(output);
}

std::string Wrap(const std::string& members) {
  return "package\n{\n    import flash.display.MovieClip;\n\n    public class S extends "
         "MovieClip\n    {\n" +
         members + "\n        function S()\n        {\n        }\n    }\n}\n";
}

std::string ErrorOf(const std::string& source) {
  try {
    ParseSettingsSource(source);
  } catch (const SettingsError& e) {
    return e.what();
  }
  return "(accepted)";
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

TEST(SettingsSource, ReadsTheWrittenSourceWithEscapesUndone) {
  TSWFData data;
  data.videofile = "a \"quoted\" \\ name\r\n.flv";
  data.bgcolor = 0xFFFFFF;
  const auto settings = ParseSettingsSource(SWFDataClassSource(data, "SWFData"));
  EXPECT_EQ(settings.name, "SWFData");
  ASSERT_EQ(settings.variables.size(), 11u);
  EXPECT_EQ(settings.variables[0].name, "videofile");
  EXPECT_EQ(settings.variables[0].type, "String");
  EXPECT_EQ(settings.variables[0].value.text, data.videofile);
  EXPECT_EQ(settings.variables[8].name, "bgcolor");
  EXPECT_EQ(settings.variables[8].value.text, "16777215");
  EXPECT_EQ(settings.variables[10].name, "videotime");
}

TEST(SettingsSource, OtherLiteralFormsAndTypes) {
  const auto s = ParseSettingsSource(Wrap(
      "public var a:uint=4294967295; public var b:Number=-1.5e3; public var c:int=-2147483648;\n"
      "public var d:Array=[1, \"two\", true, null]; public var e:Array=null; public var "
      "f:String='it\\'s';\n"
      "public var g:int; public var h:String=\"\\u00e9\\x41\\u20AC\";"));
  ASSERT_EQ(s.variables.size(), 8u);
  EXPECT_EQ(s.variables[1].value.text, "-1.5e3");
  EXPECT_EQ(s.variables[3].items.size(), 4u);
  EXPECT_TRUE(s.variables[4].isNullArray);
  EXPECT_EQ(s.variables[5].value.text, "it's");
  EXPECT_FALSE(s.variables[6].hasValue);
  EXPECT_EQ(s.variables[7].value.text,
            "\xC3\xA9"
            "A"
            "\xE2\x82\xAC");  // escapes become UTF-8
}

TEST(SettingsSource, SourcesOfAnotherShapeAreRefusedWithTheirLine) {
  EXPECT_EQ(ErrorOf(""), "line 1: expected 'package', found 'end of file'");
  EXPECT_EQ(ErrorOf("package\n{\n    import flash.display.Sprite;"),
            "line 3: expected 'MovieClip', found 'Sprite'");
  EXPECT_EQ(ErrorOf(Wrap("public var x:Object=1;")),
            "line 7: type 'Object' of 'x' is not int, uint, Boolean, Number, String or Array");
  EXPECT_EQ(ErrorOf(Wrap("public var x:int=2147483648;")),
            "line 7: value of 'x' is out of the int range");
  EXPECT_EQ(ErrorOf(Wrap("public var x:uint=-1;")),
            "line 7: value of 'x' is out of the uint range");
  EXPECT_EQ(ErrorOf(Wrap("public var x:int=1.5;")), "line 7: value of 'x' must be a whole number");
  EXPECT_EQ(ErrorOf(Wrap("public var x:Boolean=1;")), "line 7: value of 'x' must be true or false");
  EXPECT_EQ(ErrorOf(Wrap("public var x:String=\"open;")), "line 7: unterminated string");
  EXPECT_EQ(ErrorOf(Wrap("public var x:int=1;\npublic var x:int=2;")),
            "line 8: variable 'x' declared twice");
  EXPECT_EQ(ErrorOf(Wrap("public function go() {}")), "line 7: the constructor must be named S");
  EXPECT_EQ(ErrorOf(Wrap("private var x:int=1;")),
            "line 7: expected 'public var' or the constructor, found 'private'");
  EXPECT_EQ(ErrorOf(Wrap("public var x:Number=0x;")), "line 7: value of 'x' must be a number");
  EXPECT_EQ(ErrorOf(Wrap("public var x:int=0x0x5;")), "line 7: value of 'x' must be a number");
  EXPECT_EQ(ErrorOf(Wrap("public var x:Array=[0x0x5];")), "line 7: '0x0x5' in 'x' is not a number");
  EXPECT_EQ(ErrorOf(Wrap("") + "}"), "line 13: unexpected '}' after the package");
}

TEST(SettingsCompiler, ArraysAreBuiltByTheConstructor) {
  const auto settings = ParseSettingsSource(Wrap("public var list:Array=[1, 2.5, \"x\"];"));
  const abc::AbcFile abc =
      abctest::ReadAbc(abc::Assemble(swfdata::SettingsAssembly(settings)).abc.Serialize());
  const abc::MethodBody* ctor = abctest::BodyOf(abc, abc.instances.at(0).init);
  ASSERT_NE(ctor, nullptr);
  const abc::Bytes newarray3{0x56, 3};
  EXPECT_NE(std::search(ctor->code.begin(), ctor->code.end(), newarray3.begin(), newarray3.end()),
            ctor->code.end());
  EXPECT_EQ(abc.pool.Doubles(), (std::vector<double>{1.0, 2.5}));
}

// Every number the reader accepts compiles, whatever its notation, to the value it names.
TEST(SettingsCompiler, NumbersInAnyAcceptedNotationCompileToTheirValue) {
  const auto settings =
      ParseSettingsSource(Wrap("public var big:uint=1e9; public var neg:int=-0x10; public var "
                               "huge:Number=0xFFFFFFFFFFFFFFFF;\n"
                               "public var list:Array=[2E3, 0x20];"));
  swf::Movie movie;
  ASSERT_NO_THROW(movie = swfdata::CompileSettings(settings, {}))
      << swfdata::SettingsAssembly(settings);
  const abc::AbcFile abc = abctest::ReadAbc(swf::ParseDoAbc(movie.tags.at(1)).abc);
  const auto& traits = abc.instances.at(0).traits;
  ASSERT_EQ(traits.size(), 4u);
  EXPECT_EQ(abc.pool.UInts().at(traits[0].value.index - 1), 1000000000u);
  EXPECT_EQ(abc.pool.Ints().at(traits[1].value.index - 1), -16);
  EXPECT_EQ(abc.pool.Doubles().at(traits[2].value.index - 1), 18446744073709551615.0);
  EXPECT_NE(std::find(abc.pool.Doubles().begin(), abc.pool.Doubles().end(), 2000.0),
            abc.pool.Doubles().end());
  EXPECT_NE(std::find(abc.pool.Doubles().begin(), abc.pool.Doubles().end(), 32.0),
            abc.pool.Doubles().end());
}

TEST(SwfDataProgram, CompilesTheSettingsIntoAnActionScript3Swf) {
  const std::string dir = fixtures::TempDir("swfdata") + "/Sett\xC3\xADngs";
  std::filesystem::create_directories(dir);
  TSWFData data;
  data.videofile = "Clip \"1\" \xC3\xA9.flv";
  data.autoplay = true;
  data.isflv = true;
  data.ratio = "16:9";
  data.bgcolor = 0x336699;
  data.videotime = 42;
  ASSERT_TRUE(GenerateSWFDataClass(data, dir + "/SWFData.dat"));

  const RunResult run = RunTool(CompileCommand(dir + "/SWFData.dat", dir + "/swfdata.swf"));
  ASSERT_EQ(run.status, 0) << run.output;
  const swf::Movie movie = swf::LoadMovie(dir + "/swfdata.swf");
  EXPECT_EQ(movie.version, 9);
  EXPECT_EQ(movie.frameSize, swf::PixelRect(400, 400));
  EXPECT_EQ(movie.frameCount, 1);
  ASSERT_EQ(movie.tags.size(), 4u);
  ASSERT_EQ(movie.tags[0].code, swf::kTagFileAttributes);
  EXPECT_NE(swf::ParseFileAttributes(movie.tags[0]) & swf::kAttrActionScript3, 0u);
  ASSERT_EQ(movie.tags[1].code, swf::kTagDoAbc);
  ASSERT_EQ(movie.tags[2].code, swf::kTagSymbolClass);
  EXPECT_EQ(swf::ParseSymbolClass(movie.tags[2]),
            (std::vector<std::pair<uint16_t, std::string>>{{0, "SWFData"}}));
  EXPECT_EQ(movie.tags[3].code, swf::kTagShowFrame);

  const abc::AbcFile abc = abctest::ReadAbc(swf::ParseDoAbc(movie.tags[1]).abc);
  ASSERT_EQ(abc.instances.size(), 1u);
  EXPECT_EQ(abctest::QualifiedName(abc, abc.instances[0].name), "SWFData");
  EXPECT_EQ(abctest::QualifiedName(abc, abc.instances[0].superName), "flash.display.MovieClip");
  // One typed slot per setting, in order, each holding its value.
  const std::vector<TSWFProperty> expected = PublishedProperties(data);
  const auto& traits = abc.instances[0].traits;
  ASSERT_EQ(traits.size(), expected.size());
  for (size_t i = 0; i < traits.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(traits[i].kind, abc::kTraitSlot);
    EXPECT_EQ(abctest::QualifiedName(abc, traits[i].name), expected[i].name);
    EXPECT_EQ(abctest::QualifiedName(abc, traits[i].typeName), ActionScriptType(expected[i].kind));
    const abc::ConstantValue& v = traits[i].value;
    switch (expected[i].kind) {
      case TSWFPropertyKind::pkString:
        ASSERT_EQ(v.kind, abc::kConstUtf8);
        EXPECT_EQ(abc.pool.Strings().at(v.index - 1), expected[i].value);
        break;
      case TSWFPropertyKind::pkBoolean:
        EXPECT_EQ(v.kind, expected[i].value == "true" ? abc::kConstTrue : abc::kConstFalse);
        break;
      case TSWFPropertyKind::pkInteger:
        ASSERT_EQ(v.kind, abc::kConstInt);
        EXPECT_EQ(std::to_string(abc.pool.Ints().at(v.index - 1)), expected[i].value);
        break;
    }
  }
}

TEST(SwfDataProgram, StageSizeAndVersionFollowTheCommandLine) {
  const std::string dir = fixtures::TempDir("swfdata");
  ASSERT_TRUE(GenerateSWFDataClass(TSWFData(), dir + "/Preview.dat"));
  const RunResult run =
      RunTool("-o " + fixtures::ShellQuote(dir + "/p.swf") + " -T 10 -Y 240 -X 320 " +
              fixtures::ShellQuote(dir + "/Preview.dat"));
  ASSERT_EQ(run.status, 0) << run.output;
  const swf::Movie movie = swf::LoadMovie(dir + "/p.swf");
  EXPECT_EQ(movie.version, 10);
  EXPECT_EQ(movie.frameSize, swf::PixelRect(320, 240));
  EXPECT_EQ(swf::ParseSymbolClass(movie.tags.at(2)).at(0).second, "Preview");
}

TEST(SwfDataProgram, FailuresExitWithAMessageAndWriteNothing) {
  const std::string dir = fixtures::TempDir("swfdata");
  const std::string out = dir + "/out.swf";
  WriteFile(dir + "/Bad.dat", Wrap("public var x:Date=null;"));
  ASSERT_TRUE(GenerateSWFDataClass(TSWFData(), dir + "/SWFData.dat"));

  RunResult r = RunTool(CompileCommand(dir + "/Bad.dat", out));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Bad.dat\": line 7: type 'Date'"), std::string::npos) << r.output;

  r = RunTool(CompileCommand(dir + "/Missing.dat", out));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("cannot read"), std::string::npos) << r.output;

  r = RunTool(CompileCommand(dir, out));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("folder"), std::string::npos) << r.output;
  EXPECT_FALSE(std::filesystem::exists(out));

  r = RunTool(CompileCommand(dir + "/SWFData.dat", dir + "/no/such/out.swf"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("cannot create"), std::string::npos) << r.output;

  r = RunTool("-X 400 -Y 400 -T 8 " + fixtures::ShellQuote(dir + "/SWFData.dat") + " -o " +
              fixtures::ShellQuote(out));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("version 8"), std::string::npos) << r.output;

  for (const std::string& args :
       {std::string(""), std::string("-X"), std::string("-X wide a -o b"),
        std::string("-Q 1 a -o b"), std::string("a b -o c"), std::string("a")}) {
    r = RunTool(args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_NE(r.output.find("swfdata: "), std::string::npos) << args;
  }
  EXPECT_FALSE(std::filesystem::exists(out));
}

// Settings classes of any size: each constant is found again in its pool by lookup, and
// each name checked against the earlier ones, so the size costs no quadratic time.
TEST(SwfDataProgram, AHundredThousandVariablesKeepTheirValues) {
  constexpr int kCount = 100000;
  std::string members;
  for (int i = 0; i < kCount; ++i) {
    const std::string name = "public var v" + std::to_string(i);
    members += i % 2 ? name + ":int=" + std::to_string(i % 1000) + ";\n"
                     : name + ":String=\"s" + std::to_string(i) + "\";\n";
  }
  const std::string dir = fixtures::TempDir("swfdata");
  WriteFile(dir + "/Big.dat", Wrap(members));
  RunResult run = RunTool(CompileCommand(dir + "/Big.dat", dir + "/big.swf"));
  ASSERT_EQ(run.status, 0) << run.output;

  const abc::AbcFile abc =
      abctest::ReadAbc(swf::ParseDoAbc(swf::LoadMovie(dir + "/big.swf").tags.at(1)).abc);
  const auto& traits = abc.instances.at(0).traits;
  ASSERT_EQ(traits.size(), size_t(kCount));
  EXPECT_EQ(abc.pool.Ints().size(), 500u);  // each odd value below 1000 once
  for (int i = 0; i < kCount; i += 997) {
    SCOPED_TRACE(i);
    EXPECT_EQ(abctest::QualifiedName(abc, traits[i].name), "v" + std::to_string(i));
    const uint32_t index = traits[i].value.index;
    if (i % 2) {
      EXPECT_EQ(abc.pool.Ints().at(index - 1), i % 1000);
    } else {
      EXPECT_EQ(abc.pool.Strings().at(index - 1), "s" + std::to_string(i));
    }
  }

  WriteFile(dir + "/Twice.dat", Wrap(members + "public var v99999:int=1;"));
  run = RunTool(CompileCommand(dir + "/Twice.dat", dir + "/twice.swf"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("line 100007: variable 'v99999' declared twice"), std::string::npos)
      << run.output;
}
