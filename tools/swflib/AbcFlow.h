// Flow analysis of a method body: follows every path through the byte code (branches,
// switches, exception handlers) and computes the operand stack, scope and register limits
// that the body header must declare. A path that pops an empty stack, scope stack pops
// below zero, two paths that meet with different stack or scope heights, or code that runs
// off the end are refused.
#pragma once

#include <vector>

#include "AbcFile.h"

namespace fennick::abc {

class FlowError : public swf::SwfError {
 public:
  FlowError(const std::string& message, size_t offset) : SwfError(message), offset_(offset) {}
  size_t Offset() const { return offset_; }  // byte offset of the offending instruction

 private:
  size_t offset_;
};

// A newfunction or newclass site and the local scope depth there: the created method's
// outer scope is the caller's plus that many entries.
struct ScopeSite {
  uint8_t opcode = 0;
  uint32_t index = 0;  // method index (newfunction) or class index (newclass)
  uint32_t scopeDepth = 0;
};

struct FlowLimits {
  uint32_t maxStack = 0;
  uint32_t maxLocalScope = 0;  // max_scope_depth - init_scope_depth
  uint32_t localCount = 0;     // at least the minimum given
  std::vector<ScopeSite> sites;
};

// minLocals: registers the method has on entry (this, the parameters, rest/arguments).
FlowLimits AnalyzeFlow(const Bytes& code, const ConstantPool& pool,
                       const std::vector<ExceptionInfo>& exceptions, uint32_t minLocals);

// Registers on entry for a method signature.
uint32_t EntryLocals(const MethodInfo& method);

}  // namespace fennick::abc
