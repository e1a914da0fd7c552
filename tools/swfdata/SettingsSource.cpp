#include "SettingsSource.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <set>
#include <unordered_set>

#include "SwfStream.h"
#include "ToolMain.h"

namespace fennick::swfdata {

namespace {

enum class TokenKind { kIdentifier, kNumber, kString, kPunct, kEnd };

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string text;
  int line = 0;
};

// Messages quote the source, which may hold any byte: a NUL would end the message early.
[[noreturn]] void Fail(int line, const std::string& message) {
  throw SettingsError("line " + std::to_string(line) + ": " + swf::PrintableText(message));
}

bool IsIdentifierStart(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' || c >= 0x80;
}
bool IsIdentifierPart(unsigned char c) { return IsIdentifierStart(c) || (c >= '0' && c <= '9'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  std::vector<Token> Run() {
    std::vector<Token> tokens;
    for (;;) {
      SkipSpace();
      if (pos_ >= text_.size()) break;
      tokens.push_back(Next());
    }
    tokens.push_back(Token{TokenKind::kEnd, "end of file", line_});
    return tokens;
  }

 private:
  void SkipSpace() {
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '\n') {
        ++line_;
      } else if (c != ' ' && c != '\t' && c != '\r') {
        return;
      }
      ++pos_;
    }
  }

  Token Next() {
    const size_t start = pos_;
    const char c = text_[pos_];
    if (IsIdentifierStart(static_cast<unsigned char>(c))) {
      while (pos_ < text_.size() && IsIdentifierPart(static_cast<unsigned char>(text_[pos_])))
        ++pos_;
      return Token{TokenKind::kIdentifier, std::string(text_.substr(start, pos_ - start)), line_};
    }
    if (IsDigit(c) || (c == '.' && pos_ + 1 < text_.size() && IsDigit(text_[pos_ + 1]))) {
      // Letters and dots belong to the number here (hex digits, exponents); the value check
      // refuses what is not a number.
      while (pos_ < text_.size() &&
             (IsIdentifierPart(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '.' ||
              ((text_[pos_] == '+' || text_[pos_] == '-') &&
               (text_[pos_ - 1] == 'e' || text_[pos_ - 1] == 'E'))))
        ++pos_;
      return Token{TokenKind::kNumber, std::string(text_.substr(start, pos_ - start)), line_};
    }
    if (c == '"' || c == '\'') return StringToken(c);
    ++pos_;
    if (std::string_view("{}();:=.,[]-+").find(c) == std::string_view::npos)
      Fail(line_, "unexpected character '" + std::string(1, c) + "'");
    return Token{TokenKind::kPunct, std::string(1, c), line_};
  }

  Token StringToken(char quote) {
    Token token{TokenKind::kString, {}, line_};
    for (++pos_; pos_ < text_.size(); ++pos_) {
      const char c = text_[pos_];
      if (c == quote) {
        ++pos_;
        return token;
      }
      if (c == '\n' || c == '\r') break;
      if (c == '\\') {
        Escape(token.text);
      } else {
        token.text += c;
      }
    }
    Fail(token.line, "unterminated string");
  }

  void Escape(std::string& out) {
    if (++pos_ >= text_.size()) Fail(line_, "unterminated string");
    const char c = text_[pos_];
    switch (c) {
      case 'n':
        out += '\n';
        return;
      case 'r':
        out += '\r';
        return;
      case 't':
        out += '\t';
        return;
      case 'b':
        out += '\b';
        return;
      case 'f':
        out += '\f';
        return;
      case 'v':
        out += '\v';
        return;
      case '0':
        out += '\0';
        return;
      case 'x':
        swf::AppendUtf8(out, HexDigits(2));
        return;
      case 'u':
        swf::AppendUtf8(out, HexDigits(4));
        return;
      default:
        out += c;
        return;  // \" \' \\ and any other character stand for themselves
    }
  }

  uint32_t HexDigits(size_t count) {
    const std::string digits(text_.substr(pos_ + 1, count));
    if (digits.size() != count ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      Fail(line_, "bad escape sequence in string");
    pos_ += count;
    return static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
  }

  std::string_view text_;
  size_t pos_ = 0;
  int line_ = 1;
};

const std::set<std::string> kTypes = {"int", "uint", "Boolean", "Number", "String", "Array"};

// A complete decimal or hexadecimal number after an optional sign, nothing more.
std::optional<double> NumberValue(std::string_view text) {
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
  if (text.empty() || text[0] == '-' || text[0] == '+') return std::nullopt;
  const char* end = text.data() + text.size();
  double value = 0;
  std::from_chars_result read{};
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    uint64_t bits = 0;
    read = std::from_chars(text.data() + 2, end, bits, 16);
    value = static_cast<double>(bits);
  } else {
    read = std::from_chars(text.data(), end, value);
  }
  if (read.ec != std::errc() || read.ptr != end) return std::nullopt;
  return negative ? -value : value;
}

// Fills in the literal's value; false when its text is not a number.
bool ReadNumber(SettingsLiteral& literal) {
  const std::optional<double> value = NumberValue(literal.text);
  if (value) literal.number = *value;
  return value.has_value();
}

void CheckScalar(const SettingsVariable& v, SettingsLiteral& literal) {
  using K = SettingsLiteral;
  const auto bad = [&](const std::string& why) {
    Fail(v.line, "value of '" + v.name + "' " + why);
  };
  if (v.type == "String") {
    if (literal.kind != K::kString && literal.kind != K::kNull) bad("must be a string");
    return;
  }
  if (v.type == "Boolean") {
    if (literal.kind != K::kBoolean) bad("must be true or false");
    return;
  }
  if (literal.kind != K::kNumber || !ReadNumber(literal)) bad("must be a number");
  if (v.type == "Number") return;
  const double number = literal.number;
  if (number != std::floor(number)) bad("must be a whole number");
  if (v.type == "int" && (number < -2147483648.0 || number > 2147483647.0))
    bad("is out of the int range");
  if (v.type == "uint" && (number < 0 || number > 4294967295.0)) bad("is out of the uint range");
}

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  SettingsClass Run() {
    SettingsClass result;
    ExpectWord("package");
    Expect("{");
    ExpectWord("import");
    ExpectQualified({"flash", "display", "MovieClip"});
    Expect(";");
    ExpectWord("public");
    ExpectWord("class");
    result.name = Identifier("class name");
    ExpectWord("extends");
    if (Peek().text == "flash") {
      ExpectQualified({"flash", "display", "MovieClip"});
    } else {
      ExpectWord("MovieClip");
    }
    Expect("{");
    bool constructor = false;
    while (!Take("}")) {
      if (Peek().kind == TokenKind::kEnd) Fail(Peek().line, "missing '}' closing the class");
      const bool isPublic = TakeWord("public");
      if (TakeWord("function")) {
        if (constructor) Fail(Peek().line, "second constructor");
        Constructor(result.name);
        constructor = true;
      } else if (isPublic && TakeWord("var")) {
        result.variables.push_back(Variable());
      } else {
        Fail(Peek().line, "expected 'public var' or the constructor, found '" + Peek().text + "'");
      }
    }
    Expect("}");
    if (Peek().kind != TokenKind::kEnd)
      Fail(Peek().line, "unexpected '" + Peek().text + "' after the package");
    return result;
  }

 private:
  const Token& Peek() const { return tokens_[pos_]; }
  const Token& Advance() { return tokens_[pos_ < tokens_.size() - 1 ? pos_++ : pos_]; }

  bool Take(std::string_view punct) {
    if (Peek().kind != TokenKind::kPunct || Peek().text != punct) return false;
    Advance();
    return true;
  }
  bool TakeWord(std::string_view word) {
    if (Peek().kind != TokenKind::kIdentifier || Peek().text != word) return false;
    Advance();
    return true;
  }
  void Expect(std::string_view punct) {
    if (!Take(punct))
      Fail(Peek().line, "expected '" + std::string(punct) + "', found '" + Peek().text + "'");
  }
  void ExpectWord(std::string_view word) {
    if (!TakeWord(word))
      Fail(Peek().line, "expected '" + std::string(word) + "', found '" + Peek().text + "'");
  }
  void ExpectQualified(std::initializer_list<std::string_view> parts) {
    bool first = true;
    for (std::string_view part : parts) {
      if (!first) Expect(".");
      ExpectWord(part);
      first = false;
    }
  }
  std::string Identifier(const char* what) {
    if (Peek().kind != TokenKind::kIdentifier)
      Fail(Peek().line, std::string("expected ") + what + ", found '" + Peek().text + "'");
    return Advance().text;
  }

  void Constructor(const std::string& className) {
    const int line = Peek().line;
    if (Identifier("constructor name") != className)
      Fail(line, "the constructor must be named " + className);
    Expect("(");
    Expect(")");
    Expect("{");
    Expect("}");
  }

  SettingsVariable Variable() {
    SettingsVariable v;
    v.line = Peek().line;
    v.name = Identifier("variable name");
    if (!names_.insert(v.name).second) Fail(v.line, "variable '" + v.name + "' declared twice");
    Expect(":");
    v.type = Identifier("type");
    if (!kTypes.count(v.type))
      Fail(v.line, "type '" + v.type + "' of '" + v.name +
                       "' is not int, uint, Boolean, Number, String or Array");
    if (Take("=")) {
      v.hasValue = true;
      if (v.type == "Array") {
        ArrayValue(v);
      } else {
        v.value = Literal();
        CheckScalar(v, v.value);
      }
    }
    Expect(";");
    return v;
  }

  void ArrayValue(SettingsVariable& v) {
    if (TakeWord("null")) {
      v.isNullArray = true;
      return;
    }
    Expect("[");
    if (Take("]")) return;
    do {
      SettingsLiteral item = Literal();
      if (item.kind == SettingsLiteral::kNumber && !ReadNumber(item))
        Fail(v.line, "'" + item.text + "' in '" + v.name + "' is not a number");
      v.items.push_back(item);
    } while (Take(","));
    Expect("]");
  }

  SettingsLiteral Literal() {
    const Token& t = Peek();
    if (t.kind == TokenKind::kString)
      return SettingsLiteral{SettingsLiteral::kString, Advance().text};
    if (t.kind == TokenKind::kIdentifier && (t.text == "true" || t.text == "false"))
      return SettingsLiteral{SettingsLiteral::kBoolean, Advance().text};
    if (t.kind == TokenKind::kIdentifier && t.text == "null") {
      Advance();
      return SettingsLiteral{SettingsLiteral::kNull, "null"};
    }
    std::string sign;
    if (Take("-")) {
      sign = "-";
    } else {
      Take("+");
    }
    if (Peek().kind != TokenKind::kNumber)
      Fail(Peek().line, "expected a value, found '" + Peek().text + "'");
    return SettingsLiteral{SettingsLiteral::kNumber, sign + Advance().text};
  }

  std::vector<Token> tokens_;
  size_t pos_ = 0;
  std::unordered_set<std::string> names_;  // of the variables so far
};

}  // namespace

SettingsClass ParseSettingsSource(std::string_view text) { return Parser(Lexer(text).Run()).Run(); }

}  // namespace fennick::swfdata
