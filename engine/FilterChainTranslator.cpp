#include "FilterChainTranslator.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cstring>
#include <new>

#include "FFBaseComponent.h"
#include "FFEntryPoints.h"
#include "FFUtils.h"
#include "vf_eq.h"
#include "vf_hue.h"
#include "vf_rotate.h"

namespace {

// What libavfilter skips between the parts of a graph description.
constexpr const char* WhiteSpaces = " \n\t\r";

struct TTranslation {
  const char* Name;
  TFilterTranslation Translate;
};

const TTranslation Translations[] = {
    {"nativeeq", TranslateEqFilter},
    {"nativehue", TranslateHueFilter},
    {"rotate", TranslateRotateFilter},
};

// The translation of a filter name when the name (without its "@instance") is registered.
TFilterTranslation TranslationOf(const std::string& baseName) {
  if (!FilterRegistered(baseName)) return nullptr;
  for (const TTranslation& t : Translations)
    if (baseName == t.Name) return t.Translate;
  return nullptr;
}

// One token taken as libavfilter takes it: blanks around it dropped, quotes and escapes
// resolved, up to the first unescaped terminator; `p` moves past it.
std::string GetToken(const char*& p, const char* terminators) {
  char* token = ff::av_get_token(&p, terminators);
  if (!token) throw std::bad_alloc();
  std::string result(token);
  ff::av_free(token);
  return result;
}

void SkipBlanks(const char*& p) { p += std::strspn(p, WhiteSpaces); }

// Skips a run of "[label]"; false at a malformed one.
bool SkipLabels(const char*& p) {
  while (*p == '[') {
    ++p;
    GetToken(p, "]");
    if (*p != ']') return false;
    ++p;
    SkipBlanks(p);
  }
  return true;
}

// A graph may start with "sws_flags=...;", which is no filter; libavfilter looks for it at the
// very first character, before any blank.
void SkipScalerFlags(const char*& p) {
  if (std::strncmp(p, "sws_flags=", 10) != 0) return;
  if (const char* end = std::strchr(p, ';')) p = end + 1;
}

// Quoted, the option text keeps its commas and colons away from the graph syntax.
std::string QuotedArguments(const std::string& arguments) {
  assert(arguments.find('\'') == std::string::npos);
  return "'" + arguments + "'";
}

// An instance name as it was read (unescaped), escaped again for the graph syntax.
std::string EscapedName(const std::string& name) {
  std::string text;
  for (const char c : name) {
    if (std::strchr("\\'[]=,; \n\t\r", c)) text += '\\';
    text += c;
  }
  return text;
}

std::string ChainText(const std::vector<TBuiltInFilter>& filters, const std::string& instance) {
  std::string text;
  for (std::size_t n = 0; n < filters.size(); ++n) {
    if (n > 0) text += ",";
    text += filters[n].Name;
    if (n + 1 == filters.size()) text += EscapedName(instance);
    if (!filters[n].Arguments.empty()) {
      text += '=';
      text += QuotedArguments(filters[n].Arguments);
    }
  }
  return text;
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(WhiteSpaces);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(WhiteSpaces) - first + 1);
}

// Clamps a value to -100..100, telling so.
void ClampValue(void* logContext, const char* name, int& value) {
  const int clamped = value < -100 ? -100 : value > 100 ? 100 : value;
  if (clamped == value) return;
  ff::av_log(logContext, AV_LOG_ERROR, "Invalid %s value %d, force to %d\n", name, value, clamped);
  value = clamped;
}

// Reads a piece into value unless it is empty.
bool ReadPiece(const std::string& piece, int& value) {
  return piece.empty() || ParseInteger(piece, value);
}

}  // namespace

int TranslateFilterChain(void* logContext, const std::string& text, std::string& translated) {
  translated.clear();
  const char* p = text.c_str();
  const char* copied = p;
  SkipScalerFlags(p);
  char separator = 0;
  do {
    SkipBlanks(p);
    if (!SkipLabels(p)) break;
    const char* const start = p;
    const std::string name = GetToken(p, "=,;[");
    bool hasArguments = false;
    std::string arguments;
    if (*p == '=') {
      ++p;
      hasArguments = true;
      arguments = GetToken(p, "[],;");
    }
    const auto at = name.find('@');
    if (TFilterTranslation translate = TranslationOf(name.substr(0, at))) {
      std::vector<TBuiltInFilter> filters;
      const int ret = translate(logContext, hasArguments ? arguments.c_str() : nullptr, filters);
      if (ret < 0) return ret;
      translated.append(copied, start);
      translated += ChainText(filters, at == std::string::npos ? "" : name.substr(at));
      copied = p;
    }
    if (!SkipLabels(p)) break;
    SkipBlanks(p);
    separator = *p;
    if (separator) ++p;
  } while (separator == ',' || separator == ';');
  translated += copied;
  return 0;
}

int ParseFilterChain(AVFilterGraph* graph, const std::string& text, AVFilterInOut** inputs,
                     AVFilterInOut** outputs) {
  std::string translated;
  const int ret = TranslateFilterChain(graph, text, translated);
  if (ret < 0) return ret;
  // libavfilter refuses a chain with no filter in it; a blank chain asks for no filtering.
  if (IsBlank(translated)) translated = "null";
  return ff::avfilter_graph_parse_ptr(graph, translated.c_str(), inputs, outputs, graph);
}

int LinkFilterChain(AVFilterGraph* graph, const std::string& chain, AVFilterContext* from,
                    AVFilterContext* to) {
  AVFilterInOut* outputs = ff::avfilter_inout_alloc();
  AVFilterInOut* inputs = ff::avfilter_inout_alloc();
  int result = AVERROR(ENOMEM);
  if (outputs && inputs) {
    outputs->name = ff::av_strdup("in");
    outputs->filter_ctx = from;
    outputs->pad_idx = 0;
    inputs->name = ff::av_strdup("out");
    inputs->filter_ctx = to;
    inputs->pad_idx = 0;
    result = ParseFilterChain(graph, chain, &inputs, &outputs);
  }
  ff::avfilter_inout_free(&inputs);
  ff::avfilter_inout_free(&outputs);
  return result;
}

int LinkStockFilters(AVFilterGraph* graph, const std::string& chain, AVFilterContext*& last) {
  AVFilterContext* end = nullptr;
  int result = ff::avfilter_graph_create_filter(&end, ff::avfilter_get_by_name("null"), "stock",
                                                nullptr, nullptr, graph);
  if (result >= 0) result = LinkFilterChain(graph, chain, last, end);
  if (result >= 0) last = end;
  return result;
}

std::string JoinFilterChains(std::initializer_list<std::string> chains) {
  std::string text;
  for (const std::string& chain : chains)
    if (!chain.empty()) text += (text.empty() ? "" : ",") + chain;
  return text;
}

TBuiltInFilter PlanarYUVFormatFilter() {
  return {"format",
          "yuv420p|yuv422p|yuv444p|yuv410p|yuv411p|yuv440p|yuvj420p|yuvj422p|yuvj444p|yuvj440p"};
}

int ParseValuePair(void* logContext, const char* arguments, const char* firstName,
                   const char* secondName, int& first, int& second) {
  first = 0;
  second = 0;
  if (!arguments) return 0;
  std::string rest = arguments;
  std::vector<std::string> pieces;
  bool more = true;
  while (more) {
    more = rest.find(':') != std::string::npos;
    std::string piece;
    SplitToken(rest, ":", true, piece);
    pieces.push_back(Trimmed(piece));
  }
  pieces.resize(std::max<std::size_t>(pieces.size(), 4));
  // The third and fourth pieces would name host variables by address: only "none" is taken.
  int firstAddress = 0;
  int secondAddress = 0;
  if (pieces.size() > 4 || !ReadPiece(pieces[0], first) || !ReadPiece(pieces[1], second) ||
      !ReadPiece(pieces[2], firstAddress) || !ReadPiece(pieces[3], secondAddress) ||
      firstAddress != 0 || secondAddress != 0)
    return RefuseArguments(logContext, arguments);
  ClampValue(logContext, firstName, first);
  ClampValue(logContext, secondName, second);
  return 0;
}

bool ParseInteger(const std::string& text, int& value) {
  const std::string digits = Trimmed(text);
  const char* begin = digits.c_str();
  const char* end = begin + digits.size();
  if (end - begin > 1 && begin[0] == '+' && begin[1] != '-') ++begin;
  int parsed = 0;
  const auto [last, error] = std::from_chars(begin, end, parsed);
  if (begin == end || error != std::errc() || last != end) return false;
  value = parsed;
  return true;
}

bool IsBlank(const std::string& text) { return Trimmed(text).empty(); }

std::string ExactNumberText(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

int RefuseArguments(void* logContext, const char* arguments) {
  ff::av_log(logContext, AV_LOG_ERROR, "failed to parsing parameters: %s\n", arguments);
  return AVERROR(EINVAL);
}
