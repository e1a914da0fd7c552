#include "SettingsCompiler.h"

#include <charconv>

#include "AbcAssembler.h"

namespace fennick::swfdata {

namespace {

constexpr int kFirstActionScript3Version = 9;
constexpr int kMaxStageSize = 8191;  // pixels that fit a stage rectangle's twips

// Numbers are written from their value, not their source text: the source may use any
// notation the reader accepts, the assembler reads plain decimals.
std::string NumberText(double value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::string LiteralText(const SettingsVariable& v) {
  switch (v.value.kind) {
    case SettingsLiteral::kString:
      return abc::QuoteAsmString(v.value.text);
    case SettingsLiteral::kNumber:
      return v.type == "Number" ? NumberText(v.value.number)
                                : std::to_string(static_cast<int64_t>(v.value.number));
    default:
      return v.value.text;
  }
}

// Instructions that push one array element.
std::string PushLiteral(const SettingsLiteral& item) {
  switch (item.kind) {
    case SettingsLiteral::kString:
      return "pushstring " + abc::QuoteAsmString(item.text);
    case SettingsLiteral::kBoolean:
      return item.text == "true" ? "pushtrue" : "pushfalse";
    case SettingsLiteral::kNull:
      return "pushnull";
    case SettingsLiteral::kNumber:
      break;
  }
  return "pushdouble " + NumberText(item.number);
}

}  // namespace

std::string SettingsAssembly(const SettingsClass& settings) {
  std::string text = "class " + settings.name + " extends flash.display.MovieClip\n";
  std::string arrays;
  for (const SettingsVariable& v : settings.variables) {
    text += "    var " + v.name + ":" + v.type;
    if (v.hasValue && v.type != "Array") text += " = " + LiteralText(v);
    text += "\n";
    if (!v.hasValue || v.isNullArray) continue;
    // Arrays are no constants: the constructor builds them.
    if (v.type == "Array") {
      arrays += "        getlocal0\n";
      for (const SettingsLiteral& item : v.items) arrays += "        " + PushLiteral(item) + "\n";
      arrays += "        newarray " + std::to_string(v.items.size()) + "\n";
      arrays += "        initproperty " + v.name + "\n";
    }
  }
  text +=
      "    constructor()\n"
      "        getlocal0\n"
      "        pushscope\n" +
      arrays +
      "        getlocal0\n"
      "        constructsuper 0\n"
      "        returnvoid\n"
      "    end\n"
      "end\n";
  return text;
}

swf::Movie CompileSettings(const SettingsClass& settings, const MovieOptions& options) {
  if (options.version < kFirstActionScript3Version || options.version > 255)
    throw SettingsError("SWF version " + std::to_string(options.version) +
                        " cannot hold ActionScript 3 (9 to 255)");
  if (options.width <= 0 || options.height <= 0 || options.width > kMaxStageSize ||
      options.height > kMaxStageSize)
    throw SettingsError("stage size " + std::to_string(options.width) + "x" +
                        std::to_string(options.height) + " is out of range (1 to 8191 pixels)");
  abc::Assembly assembly;
  try {
    assembly = abc::Assemble(SettingsAssembly(settings), settings.name);
  } catch (const abc::AsmError& e) {
    throw SettingsError(std::string("cannot compile class ") + settings.name + ": " + e.what());
  }
  swf::Movie movie;
  movie.version = static_cast<uint8_t>(options.version);
  movie.compressed = false;
  movie.frameSize = swf::PixelRect(options.width, options.height);
  movie.tags = {swf::MakeFileAttributes(swf::kAttrActionScript3),
                swf::MakeDoAbc(assembly.abc.Serialize(), settings.name),
                swf::MakeSymbolClass({{0, settings.name}}), swf::MakeShowFrame()};
  movie.frameCount = swf::CountFrames(movie.tags);
  return movie;
}

}  // namespace fennick::swfdata
