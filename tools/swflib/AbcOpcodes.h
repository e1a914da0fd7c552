// The AVM2 instruction set as the assembler and the flow analysis see it: name, byte, the
// shape of the operands and the fixed part of the stack and scope effect.
#pragma once

#include <cstdint>
#include <string_view>

namespace fennick::abc {

enum class Operand : uint8_t {
  kNone,
  kByte,           // signed byte (pushbyte)
  kUByte,          // unsigned byte (getscopeobject)
  kU30,            // plain count or slot number
  kRegister,       // local register
  kString,         // string pool
  kInt,            // int pool
  kUInt,           // uint pool
  kDouble,         // double pool
  kNamespace,      // namespace pool
  kMultiname,      // multiname pool
  kMultinameArgc,  // multiname, argument count
  kMethod,         // method index
  kMethodArgc,     // method index, argument count
  kDispArgc,       // dispatch id, argument count
  kClass,          // class index
  kException,      // exception entry index
  kBranch,         // s24 offset
  kLookupSwitch,   // default offset, case count, case offsets
  kHasNext2,       // object register, index register
  kDebug,          // debug type, name string, register, extra
};

// How the operands change the stack beyond the fixed pop/push counts.
enum class StackRule : uint8_t {
  kFixed,
  kArgc,           // pops the argument count more
  kArgcPairs,      // pops twice the argument count (newobject)
  kMultiname,      // pops the multiname's run-time parts more
  kMultinameArgc,  // both
};

struct OpcodeInfo {
  std::string_view name;
  uint8_t code;
  Operand operand;
  int8_t pop;
  int8_t push;
  int8_t scope;  // +1 pushscope/pushwith, -1 popscope
  StackRule rule;
  bool endsBlock;  // control never falls through (jump, return, throw, lookupswitch)
};

const OpcodeInfo* FindOpcode(std::string_view name);
const OpcodeInfo* OpcodeByCode(uint8_t code);

}  // namespace fennick::abc
