// The command line of the settings compiler: options, reading the source, writing the SWF.
#pragma once

#include <string>
#include <vector>

namespace fennick::swfdata {

// Runs one compilation; false with a message for a bad command line, an unreadable or
// malformed source, or an output that cannot be written.
bool RunSwfData(const std::vector<std::string>& args, std::string& error);

}  // namespace fennick::swfdata
