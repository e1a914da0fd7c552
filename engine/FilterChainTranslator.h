// Filter-chain text goes through here before libavfilter sees it: FFmpeg cannot take new
// filters, so each of the engine's own filters ("nativeeq", "nativehue", "rotate"), once
// registered with RegisterFilter, is rewritten into built-in filters that do the same work.
// Everything else in the text is passed on untouched.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

struct AVFilterContext;
struct AVFilterGraph;
struct AVFilterInOut;

// One built-in filter of a translation: its name and its option text (not yet quoted).
struct TBuiltInFilter {
  std::string Name;
  std::string Arguments;
};

// Turns the argument text of one of our filters (unescaped as libavfilter reads it; nullptr when
// the filter has no "=") into built-in filters. Messages go to FFmpeg's log with logContext.
// 0, or a negative FFmpeg error code when the arguments are refused.
using TFilterTranslation = int (*)(void* logContext, const char* arguments,
                                   std::vector<TBuiltInFilter>& filters);

// Rewrites the registered filters of a filter graph description, tokenised exactly as
// libavfilter does it (labels, quotes, escapes, "," and ";", instance names like nativeeq@x).
// The instance name goes to the last built-in filter of a translation. A syntax error is left
// for libavfilter to report. 0, or the negative code of a refused filter.
int TranslateFilterChain(void* logContext, const std::string& text, std::string& translated);

// TranslateFilterChain, then avfilter_graph_parse_ptr of the result into the graph (which is
// also the log context); a blank chain passes the pictures through. 0 or a negative FFmpeg
// error code.
int ParseFilterChain(AVFilterGraph* graph, const std::string& text, AVFilterInOut** inputs,
                     AVFilterInOut** outputs);

// ParseFilterChain of a chain text between the output of `from` ("in") and the input of `to`
// ("out").
int LinkFilterChain(AVFilterGraph* graph, const std::string& chain, AVFilterContext* from,
                    AVFilterContext* to);

// Links after `last` a chain of stock filters without links of its own (the display turns, the
// recoding of the colour matrix); `last` becomes the last of them. 0 or a negative FFmpeg error
// code.
int LinkStockFilters(AVFilterGraph* graph, const std::string& chain, AVFilterContext*& last);

// The chain texts that are not empty, one after the other.
std::string JoinFilterChains(std::initializer_list<std::string> chains);

// For the filter units.

// Our filters take the planar 8-bit YUV formats only: this filter comes first in their
// translations, so that libavfilter converts anything else before them.
TBuiltInFilter PlanarYUVFormatFilter();

// Reads "first:second[:address:address]" as "nativeeq" and "nativehue" take it: pieces split at
// ":" and trimmed, an empty piece keeps 0, both values clamped to -100..100 with the clamping
// logged under their names. The third and fourth pieces, once addresses of host variables, are
// refused unless empty or 0. Anything unreadable logs "failed to parsing parameters: %s\n" and
// gives AVERROR(EINVAL).
int ParseValuePair(void* logContext, const char* arguments, const char* firstName,
                   const char* secondName, int& first, int& second);

// Reads a whole argument text as one decimal integer (blanks around it allowed).
bool ParseInteger(const std::string& text, int& value);
// The text holds nothing but blanks.
bool IsBlank(const std::string& text);

// A number as the shortest text that reads back as exactly the same double.
std::string ExactNumberText(double value);

// Logs the refusal of a filter's arguments and gives the code that fails the graph.
int RefuseArguments(void* logContext, const char* arguments);
