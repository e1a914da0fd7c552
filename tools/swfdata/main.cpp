// swfdata: compiles the player-settings source into the settings SWF.
//   swfdata -X width -Y height -T version "source" -o "out.swf"
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "SwfDataTool.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  if (!fennick::swfdata::RunSwfData(args, error)) {
    std::fprintf(stderr, "swfdata: %s\n", error.c_str());
    return EXIT_FAILURE;
  }
  return EXIT_SUCCESS;
}
