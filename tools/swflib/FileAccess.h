// Whole-file reading and writing for the packaging tools, which are run on paths the user
// chose: every failure names the file and the reason, and a write never replaces anything
// but the file it was asked to write.
#pragma once

#include <cstddef>
#include <filesystem>

#include "SwfStream.h"

namespace fennick::swf {

// The file's bytes; throws SwfError for a folder, a file larger than `limit` bytes, or a
// system failure.
Bytes ReadWholeFile(const std::filesystem::path& file, size_t limit);

// A regular file (or a new one) is written under a fresh scratch name in its folder and
// renamed over it once complete, so a failed write leaves an earlier file whole and no
// other file is touched. Anything else that is not a folder (a device, a pipe) is written
// into as it is, never replaced. Throws SwfError.
void WriteWholeFile(const std::filesystem::path& file, const Bytes& data);

}  // namespace fennick::swf
