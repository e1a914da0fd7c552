// What the assembler's pieces share: tokens and lines, the cursor over a line's tokens, and
// the number readers.
#pragma once

#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "AbcAssembler.h"

namespace fennick::abc::assembler_internal {

// ---------------------------------------------------------------------------------------
// Lexing: one line at a time.

enum class TokenKind { kWord, kString, kPunct };

struct Token {
  TokenKind kind;
  std::string text;  // a string token holds the unescaped text
};

struct Line {
  int number = 0;
  std::vector<Token> tokens;
};

[[noreturn]] inline void Fail(int line, const std::string& message) {
  throw AsmError(message, line);
}

// The tokens of one line of source text.
std::vector<Token> Tokenize(std::string_view text, int line);
// The source as numbered lines of tokens; lines without tokens are left out.
std::vector<Line> SplitLines(std::string_view source);

// ---------------------------------------------------------------------------------------
// A cursor over one line's tokens.

class Cursor {
 public:
  explicit Cursor(const Line& line) : line_(line) {}
  int LineNumber() const { return line_.number; }
  bool AtEnd() const { return pos_ >= line_.tokens.size(); }
  const Token* Peek() const { return AtEnd() ? nullptr : &line_.tokens[pos_]; }
  bool PeekPunct(char c) const {
    return Peek() && Peek()->kind == TokenKind::kPunct && Peek()->text[0] == c;
  }
  bool PeekWord(std::string_view w) const {
    return Peek() && Peek()->kind == TokenKind::kWord && Peek()->text == w;
  }

  bool TakePunct(char c) {
    if (!PeekPunct(c)) return false;
    ++pos_;
    return true;
  }
  bool TakeWord(std::string_view w) {
    if (!PeekWord(w)) return false;
    ++pos_;
    return true;
  }
  void ExpectPunct(char c) {
    if (!TakePunct(c)) Fail(line_.number, std::string("expected '") + c + "'" + Where());
  }
  std::string Word(const char* what) {
    if (!Peek() || Peek()->kind != TokenKind::kWord)
      Fail(line_.number, std::string("expected ") + what + Where());
    return line_.tokens[pos_++].text;
  }
  const Token& Any(const char* what) {
    if (AtEnd()) Fail(line_.number, std::string("expected ") + what);
    return line_.tokens[pos_++];
  }
  std::string String(const char* what) {
    if (!Peek() || Peek()->kind != TokenKind::kString)
      Fail(line_.number, std::string("expected ") + what + Where());
    return line_.tokens[pos_++].text;
  }
  void ExpectEnd() {
    if (!AtEnd()) Fail(line_.number, "unexpected '" + Peek()->text + "'");
  }

 private:
  std::string Where() const { return AtEnd() ? "" : " before '" + Peek()->text + "'"; }
  const Line& line_;
  size_t pos_ = 0;
};

// ---------------------------------------------------------------------------------------
// Numbers.

template <typename T>
std::optional<T> ParseInteger(std::string_view text) {
  int base = 10;
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  uint64_t magnitude = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (magnitude > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
  const int64_t value =
      negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  if (value < static_cast<int64_t>(std::numeric_limits<T>::min()) ||
      value > static_cast<int64_t>(std::numeric_limits<T>::max()))
    return std::nullopt;
  return static_cast<T>(value);
}

std::optional<double> ParseNumber(std::string_view text);

template <typename T>
T Integer(const std::string& text, int line, const char* what) {
  const auto value = ParseInteger<T>(text);
  if (!value) Fail(line, std::string("expected ") + what + ", got '" + text + "'");
  return *value;
}
}  // namespace fennick::abc::assembler_internal
