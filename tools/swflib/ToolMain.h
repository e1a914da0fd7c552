// The frame of a packaging tool's main(): whatever the work throws becomes one readable line
// on stderr and a non-zero exit status, never an abort. The packaging step shows these lines
// to the user as they are.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace fennick::swf {

// The text with control characters other than line breaks and tabs written as \xHH, so
// that a NUL or an escape sequence taken from a file neither cuts the message short nor
// reaches the terminal.
std::string PrintableText(std::string_view text);

// Prints "tool: message" on stderr.
void PrintToolError(const char* tool, std::string_view message);

// Runs the work and returns its status; exhausted memory and any other exception are
// reported and give status 1.
int RunToolMain(const char* tool, const std::function<int()>& work);

}  // namespace fennick::swf
