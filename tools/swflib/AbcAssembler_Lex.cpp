#include "AbcAssembler_Private.h"

namespace fennick::abc::assembler_internal {

namespace {

uint32_t HexValue(std::string_view digits, int line) {
  uint32_t value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
  if (ec != std::errc() || end != digits.data() + digits.size())
    Fail(line, "bad escape digits '" + std::string(digits) + "'");
  return value;
}

// Reads a string literal starting at the opening quote; returns the position after it.
size_t ReadString(std::string_view text, size_t pos, int line, std::string& out) {
  for (++pos; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c == '"') return pos + 1;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++pos >= text.size()) break;
    switch (text[pos]) {
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case '0':
        out += '\0';
        break;
      case '\\':
        out += '\\';
        break;
      case '"':
        out += '"';
        break;
      case 'x':
        if (pos + 2 >= text.size()) Fail(line, "incomplete \\x escape");
        out += static_cast<char>(HexValue(text.substr(pos + 1, 2), line));
        pos += 2;
        break;
      case 'u':
        if (pos + 4 >= text.size()) Fail(line, "incomplete \\u escape");
        swf::AppendUtf8(out, HexValue(text.substr(pos + 1, 4), line));
        pos += 4;
        break;
      default:
        Fail(line, std::string("unknown escape '\\") + text[pos] + "'");
    }
  }
  Fail(line, "unterminated string");
}

// Skips a bracketed group ({...} or <...>), nesting included.
size_t SkipGroup(std::string_view text, size_t pos, char open, char close, int line) {
  int depth = 0;
  for (; pos < text.size(); ++pos) {
    if (text[pos] == open) ++depth;
    if (text[pos] == close && --depth == 0) return pos + 1;
  }
  Fail(line, std::string("missing '") + close + "'");
}

bool IsPunct(char c) { return c == '(' || c == ')' || c == ',' || c == '='; }

}  // namespace

std::vector<Token> Tokenize(std::string_view text, int line) {
  std::vector<Token> tokens;
  size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++pos;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      Token t{TokenKind::kString, {}};
      pos = ReadString(text, pos, line, t.text);
      tokens.push_back(std::move(t));
    } else if (IsPunct(c) || (c == ':' && text.substr(pos, 2) != "::")) {
      tokens.push_back(Token{TokenKind::kPunct, std::string(1, c)});
      ++pos;
    } else {
      const size_t start = pos;
      while (pos < text.size()) {
        const char w = text[pos];
        if (w == '{') {
          pos = SkipGroup(text, pos, '{', '}', line);
        } else if (w == '<') {
          pos = SkipGroup(text, pos, '<', '>', line);
        } else if (w == ':' && text.substr(pos, 2) == "::") {
          pos += 2;
        } else if (w == ' ' || w == '\t' || w == '\r' || w == '#' || w == '"' || w == ':' ||
                   IsPunct(w)) {
          break;
        } else {
          ++pos;
        }
      }
      tokens.push_back(Token{TokenKind::kWord, std::string(text.substr(start, pos - start))});
    }
  }
  return tokens;
}

std::vector<Line> SplitLines(std::string_view source) {
  std::vector<Line> lines;
  int number = 0;
  size_t pos = 0;
  while (pos <= source.size()) {
    const size_t end = std::min(source.find('\n', pos), source.size());
    ++number;
    Line line{number, Tokenize(source.substr(pos, end - pos), number)};
    if (!line.tokens.empty()) lines.push_back(std::move(line));
    pos = end + 1;
  }
  return lines;
}

std::optional<double> ParseNumber(std::string_view text) {
  if (text == "NaN") return std::numeric_limits<double>::quiet_NaN();
  if (text == "Infinity") return std::numeric_limits<double>::infinity();
  if (text == "-Infinity") return -std::numeric_limits<double>::infinity();
  if (auto i = ParseInteger<int64_t>(text)) return static_cast<double>(*i);
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace fennick::abc::assembler_internal
