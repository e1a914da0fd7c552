#include "uSWFData.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

const char* kCrLf = "\r\n";

std::string BooleanText(bool value) { return value ? "true" : "false"; }

}  // namespace

TSWFData::TSWFData()
    : autohide(false),
      autoplay(false),
      isflv(true),
      autoRewind(false),
      autoSize(false),
      showbigplay(true),
      ratio("0"),
      bgcolor(0),
      showbuffer(false),
      videotime(0),
      RatioChoices("0;4:3;16:9") {}

std::vector<TSWFProperty> PublishedProperties(const TSWFData& d) {
  using K = TSWFPropertyKind;
  return {
      {"videofile", K::pkString, d.videofile},
      {"autohide", K::pkBoolean, BooleanText(d.autohide)},
      {"autoplay", K::pkBoolean, BooleanText(d.autoplay)},
      {"isflv", K::pkBoolean, BooleanText(d.isflv)},
      {"autoRewind", K::pkBoolean, BooleanText(d.autoRewind)},
      {"autoSize", K::pkBoolean, BooleanText(d.autoSize)},
      {"showbigplay", K::pkBoolean, BooleanText(d.showbigplay)},
      {"ratio", K::pkString, d.ratio},
      {"bgcolor", K::pkInteger, std::to_string(d.bgcolor)},
      {"showbuffer", K::pkBoolean, BooleanText(d.showbuffer)},
      {"videotime", K::pkInteger, std::to_string(d.videotime)},
  };
}

const char* ActionScriptType(TSWFPropertyKind kind) {
  switch (kind) {
    case TSWFPropertyKind::pkInteger:
      return "int";
    case TSWFPropertyKind::pkBoolean:
      return "Boolean";
    case TSWFPropertyKind::pkString:
      return "String";
  }
  return "String";
}

std::string ActionScriptStringLiteral(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out + "\"";
}

std::string SWFDataClassSource(const TSWFData& data, const std::string& className) {
  std::string s;
  auto line = [&s](const std::string& text) { s += text + kCrLf; };
  line("package");
  line("{");
  line("    import flash.display.MovieClip;");
  line("");
  line("    public class " + className + " extends MovieClip");
  line("    {");
  for (const TSWFProperty& p : PublishedProperties(data)) {
    const std::string value =
        p.kind == TSWFPropertyKind::pkString ? ActionScriptStringLiteral(p.value) : p.value;
    line("        public var " + p.name + ":" + ActionScriptType(p.kind) + "=" + value + ";");
  }
  line("");
  line("        function " + className + "()");
  line("        {");
  line("        }");
  line("    }");
  line("}");
  return s;
}

bool GenerateSWFDataClass(const TSWFData& data, const std::string& fileName, std::string* error) {
  const std::filesystem::path path(fileName);
  const std::string source = SWFDataClassSource(data, path.stem().string());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out.write(source.data(), static_cast<std::streamsize>(source.size()));
  if (out) out.close();
  if (out) return true;
  if (error) *error = "Cannot write \"" + fileName + "\": " + std::strerror(errno);
  return false;
}
