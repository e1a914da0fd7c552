// An independent reader of ABC files for the tests: parses every part the writer emits back
// into the library's model, so that tests can look at what a SWF really holds.
#pragma once

#include <string>

#include "AbcFile.h"

namespace abctest {

fennick::abc::AbcFile ReadAbc(const fennick::abc::Bytes& data);

// "pkg.Name" or "Name" for a QName multiname index.
std::string QualifiedName(const fennick::abc::AbcFile& abc, uint32_t multiname);

// The body of a method, or nullptr.
const fennick::abc::MethodBody* BodyOf(const fennick::abc::AbcFile& abc, uint32_t method);

}  // namespace abctest
