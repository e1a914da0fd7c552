#include "ToolMain.h"

#include <cstdio>
#include <exception>
#include <new>
#include <stdexcept>

namespace fennick::swf {

std::string PrintableText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 0x20 && byte != 0x7F) || c == '\n' || c == '\t') {
      out += c;
      continue;
    }
    char escape[5];
    std::snprintf(escape, sizeof escape, "\\x%02X", byte);
    out += escape;
  }
  return out;
}

void PrintToolError(const char* tool, std::string_view message) {
  const std::string line = std::string(tool) + ": " + PrintableText(message) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

int RunToolMain(const char* tool, const std::function<int()>& work) {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    // Nothing is allocated here: memory is what ran out.
    std::fprintf(stderr, "%s: out of memory: the input is too large for the memory available\n",
                 tool);
  } catch (const std::length_error&) {
    std::fprintf(stderr, "%s: out of memory: the input is too large to be held in memory\n", tool);
  } catch (const std::exception& e) {
    PrintToolError(tool, e.what());
  }
  return 1;
}

}  // namespace fennick::swf
