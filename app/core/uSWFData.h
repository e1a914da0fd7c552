// Player settings of one list entry, and the ActionScript 3 source that carries them into
// the settings SWF of the packaging step.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TSWFData {
 public:
  TSWFData();

  // Published, in the order the source lists them; writing a value only stores it.
  std::string videofile;  // the FLV's address relative to the SWF, percent-encoded UTF-8
  bool autohide;
  bool autoplay;
  bool isflv;
  bool autoRewind;
  bool autoSize;
  bool showbigplay;
  std::string ratio;
  uint32_t bgcolor;  // 0xRRGGBB
  bool showbuffer;
  uint32_t videotime;  // whole seconds

  // Not published: the ratio choices offered by the formats dialog.
  std::string RatioChoices;
};

// How a published property's value is written; each kind maps to one ActionScript type.
enum class TSWFPropertyKind { pkInteger, pkBoolean, pkString };

struct TSWFProperty {
  std::string name;
  TSWFPropertyKind kind;
  std::string value;  // the property's text (strings unquoted and unescaped)
};

// The published properties with their values, in order.
std::vector<TSWFProperty> PublishedProperties(const TSWFData& data);

// "int", "Boolean" or "String".
const char* ActionScriptType(TSWFPropertyKind kind);

// A String value between double quotes, with quote, backslash, CR and LF escaped so that a
// file name holding them still makes valid source.
std::string ActionScriptStringLiteral(const std::string& text);

// The source text: one public variable per published property in a class named after the
// file's base name, lines ended by CR LF.
std::string SWFDataClassSource(const TSWFData& data, const std::string& className);

// Writes the source to fileName (UTF-8 bytes). False with the reason in error when the file
// cannot be written.
bool GenerateSWFDataClass(const TSWFData& data, const std::string& fileName,
                          std::string* error = nullptr);
