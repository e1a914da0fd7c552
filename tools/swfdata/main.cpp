// swfdata: compiles the player-settings source into the settings SWF.
//   swfdata -X width -Y height -T version "source" -o "out.swf"
#include <string>
#include <vector>

#include "SwfDataTool.h"
#include "ToolMain.h"

int main(int argc, char** argv) {
  return fennick::swf::RunToolMain("swfdata", [&] {
    std::string error;
    if (fennick::swfdata::RunSwfData(std::vector<std::string>(argv + 1, argv + argc), error))
      return 0;
    fennick::swf::PrintToolError("swfdata", error);
    return 1;
  });
}
