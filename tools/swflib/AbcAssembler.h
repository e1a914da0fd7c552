// The assembler: turns the textual assembly language described in README.md into an ABC
// file, with every method body's limits computed by the flow analysis. Classes get the
// usual script initialiser (each class created in declaration order and stored in a global
// slot), default constructors and static initialisers when the source gives none.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "AbcFile.h"

namespace fennick::abc {

class AsmError : public swf::SwfError {
 public:
  AsmError(const std::string& message, int line) : SwfError(message), line_(line) {}
  int Line() const { return line_; }  // 1-based source line, 0 when not tied to a line

 private:
  int line_;
};

struct Assembly {
  AbcFile abc;
  std::vector<std::string> classes;  // qualified names ("pkg.Name" or "Name"), declaration order
};

// Errors name the source ("skin.asm:12: unknown instruction 'getlocl'").
Assembly Assemble(std::string_view source, std::string_view sourceName = "<source>");

// A string literal of the assembly language holding the text (quotes, escapes).
std::string QuoteAsmString(std::string_view text);

}  // namespace fennick::abc
