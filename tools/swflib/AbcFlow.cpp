#include "AbcFlow.h"

#include <algorithm>
#include <map>
#include <optional>
#include <tuple>

#include "AbcOpcodes.h"

namespace fennick::abc {

namespace {

constexpr uint8_t kOpLabel = 0x09;
constexpr uint8_t kOpGetScopeObject = 0x65;

struct Decoded {
  size_t offset = 0;
  size_t next = 0;  // offset of the following instruction
  const OpcodeInfo* op = nullptr;
  uint32_t first = 0;   // first operand (index, count, register)
  uint32_t second = 0;  // second operand (argument count, second register)
  std::vector<size_t> targets;
};

struct State {
  uint32_t stack = 0;
  uint32_t scope = 0;
  bool operator==(const State&) const = default;
};

std::string Hex(uint8_t code) {
  static const char digits[] = "0123456789abcdef";
  return std::string("0x") + digits[code >> 4] + digits[code & 15];
}

// Reads one instruction at pos and its operands.
Decoded DecodeOne(const Bytes& code, size_t pos) {
  Decoded d;
  d.offset = pos;
  d.op = OpcodeByCode(code[pos]);
  if (d.op == nullptr) throw FlowError("unknown opcode " + Hex(code[pos]), pos);
  ++pos;
  auto branchTarget = [&](size_t base, int32_t offset) -> size_t {
    const int64_t target = static_cast<int64_t>(base) + offset;
    if (target < 0 || target >= static_cast<int64_t>(code.size()))
      throw FlowError("branch target outside the method", d.offset);
    return static_cast<size_t>(target);
  };
  try {
    switch (d.op->operand) {
      case Operand::kNone:
        break;
      case Operand::kByte:
      case Operand::kUByte:
        if (pos >= code.size()) throw swf::SwfError("truncated operand");
        d.first = code[pos++];
        break;
      case Operand::kMultinameArgc:
      case Operand::kMethodArgc:
      case Operand::kDispArgc:
      case Operand::kHasNext2:
        d.first = ReadU30(code, pos);
        d.second = ReadU30(code, pos);
        break;
      case Operand::kBranch: {
        const int32_t offset = ReadS24(code, pos);
        d.targets.push_back(branchTarget(pos, offset));
        break;
      }
      case Operand::kLookupSwitch: {
        d.targets.push_back(branchTarget(d.offset, ReadS24(code, pos)));
        const uint32_t cases = ReadU30(code, pos) + 1;
        if (cases > code.size()) throw swf::SwfError("lookupswitch case count exceeds the code");
        for (uint32_t i = 0; i < cases; ++i)
          d.targets.push_back(branchTarget(d.offset, ReadS24(code, pos)));
        break;
      }
      case Operand::kDebug:
        if (pos >= code.size()) throw swf::SwfError("truncated operand");
        ++pos;  // debug type
        ReadU30(code, pos);
        if (pos >= code.size()) throw swf::SwfError("truncated operand");
        d.first = code[pos++];  // register
        ReadU30(code, pos);
        break;
      default:
        d.first = ReadU30(code, pos);
        break;
    }
  } catch (const FlowError&) {
    throw;
  } catch (const swf::SwfError& e) {
    throw FlowError(std::string(d.op->name) + ": " + e.what(), d.offset);
  }
  d.next = pos;
  return d;
}

uint32_t PopCount(const Decoded& d, const ConstantPool& pool) {
  uint32_t pops = static_cast<uint32_t>(d.op->pop);
  auto runtime = [&] {
    try {
      return static_cast<uint32_t>(RuntimeOperands(pool.MultinameAt(d.first).kind));
    } catch (const swf::SwfError& e) {
      throw FlowError(std::string(d.op->name) + ": " + e.what(), d.offset);
    }
  };
  switch (d.op->rule) {
    case StackRule::kFixed:
      break;
    case StackRule::kArgc:
      pops += d.op->operand == Operand::kU30 ? d.first : d.second;
      break;
    case StackRule::kArgcPairs:
      pops += 2 * d.first;
      break;
    case StackRule::kMultiname:
      pops += runtime();
      break;
    case StackRule::kMultinameArgc:
      pops += runtime() + d.second;
      break;
  }
  return pops;
}

// Registers the instruction reads or writes, for the local count.
std::optional<uint32_t> HighestRegister(const Decoded& d) {
  if (d.op->code >= 0xD0 && d.op->code <= 0xD7) return d.op->code & 3u;
  if (d.op->operand == Operand::kRegister || d.op->operand == Operand::kDebug) return d.first;
  if (d.op->operand == Operand::kHasNext2) return std::max(d.first, d.second);
  return std::nullopt;
}

class Analyzer {
 public:
  Analyzer(const Bytes& code, const ConstantPool& pool,
           const std::vector<ExceptionInfo>& exceptions)
      : code_(code), pool_(pool), exceptions_(exceptions) {}

  FlowLimits Run(uint32_t minLocals) {
    if (code_.empty()) throw FlowError("method body has no code", 0);
    Decode();
    limits_.localCount = minLocals;
    for (const Decoded& d : instructions_)
      if (auto reg = HighestRegister(d))
        limits_.localCount = std::max(limits_.localCount, *reg + 1);
    CheckHandlers();
    Reach(0, State{});
    while (!work_.empty()) {
      const size_t index = work_.back();
      work_.pop_back();
      Step(index);
    }
    std::sort(limits_.sites.begin(), limits_.sites.end(),
              [](const ScopeSite& a, const ScopeSite& b) {
                return std::tie(a.opcode, a.index, a.scopeDepth) <
                       std::tie(b.opcode, b.index, b.scopeDepth);
              });
    return limits_;
  }

 private:
  void Decode() {
    for (size_t pos = 0; pos < code_.size();) {
      indexAt_[pos] = instructions_.size();
      instructions_.push_back(DecodeOne(code_, pos));
      pos = instructions_.back().next;
    }
    for (const Decoded& d : instructions_)
      for (size_t target : d.targets) {
        const size_t index = IndexAt(target, d.offset, "branch target");
        if (target <= d.offset && instructions_[index].op->code != kOpLabel)
          throw FlowError("backward branch must land on a label instruction", d.offset);
      }
  }

  size_t IndexAt(size_t offset, size_t from, const char* what) const {
    const auto it = indexAt_.find(offset);
    if (it == indexAt_.end())
      throw FlowError(std::string(what) + " is not at an instruction boundary", from);
    return it->second;
  }

  void CheckHandlers() const {
    for (const ExceptionInfo& e : exceptions_) {
      if (e.from >= e.to || e.to > code_.size())
        throw FlowError("exception range is empty or outside the method", e.from);
      IndexAt(e.target, e.target, "exception handler");
    }
  }

  // A conflict is reported at the instruction where the paths meet.
  void Reach(size_t index, State state) {
    if (!states_.count(index)) {
      states_[index] = state;
      work_.push_back(index);
      return;
    }
    const State& known = states_[index];
    if (known.stack != state.stack)
      throw FlowError("paths meet with stack heights " + std::to_string(known.stack) + " and " +
                          std::to_string(state.stack),
                      instructions_[index].offset);
    if (known.scope != state.scope)
      throw FlowError("paths meet with scope depths " + std::to_string(known.scope) + " and " +
                          std::to_string(state.scope),
                      instructions_[index].offset);
  }

  void Step(size_t index) {
    const Decoded& d = instructions_[index];
    const State in = states_[index];
    for (const ExceptionInfo& e : exceptions_)
      if (d.offset >= e.from && d.offset < e.to) Reach(indexAt_.at(e.target), State{1, 0});

    const uint32_t pops = PopCount(d, pool_);
    if (in.stack < pops)
      throw FlowError(std::string(d.op->name) + " needs " + std::to_string(pops) +
                          " stack values but " + std::to_string(in.stack) + " are there",
                      d.offset);
    if (d.op->scope < 0 && in.scope == 0)
      throw FlowError("popscope with an empty scope stack", d.offset);
    if (d.op->code == kOpGetScopeObject && d.first >= in.scope)
      throw FlowError("getscopeobject " + std::to_string(d.first) + " with " +
                          std::to_string(in.scope) + " local scopes",
                      d.offset);
    State out{in.stack - pops + static_cast<uint32_t>(d.op->push),
              static_cast<uint32_t>(static_cast<int>(in.scope) + d.op->scope)};
    limits_.maxStack = std::max({limits_.maxStack, in.stack, out.stack});
    limits_.maxLocalScope = std::max({limits_.maxLocalScope, in.scope, out.scope});
    if (d.op->code == 0x40 || d.op->code == 0x58)
      limits_.sites.push_back(ScopeSite{d.op->code, d.first, in.scope});

    for (size_t target : d.targets) Reach(indexAt_.at(target), out);
    if (d.op->endsBlock) return;
    if (index + 1 >= instructions_.size())
      throw FlowError("execution runs past the end of the method", d.offset);
    Reach(index + 1, out);
  }

  const Bytes& code_;
  const ConstantPool& pool_;
  const std::vector<ExceptionInfo>& exceptions_;
  std::vector<Decoded> instructions_;
  std::map<size_t, size_t> indexAt_;
  std::map<size_t, State> states_;
  std::vector<size_t> work_;
  FlowLimits limits_;
};

}  // namespace

FlowLimits AnalyzeFlow(const Bytes& code, const ConstantPool& pool,
                       const std::vector<ExceptionInfo>& exceptions, uint32_t minLocals) {
  return Analyzer(code, pool, exceptions).Run(minLocals);
}

uint32_t EntryLocals(const MethodInfo& method) {
  const bool extra = (method.flags & (kMethodNeedRest | kMethodNeedArguments)) != 0;
  return 1 + static_cast<uint32_t>(method.paramTypes.size()) + (extra ? 1 : 0);
}

}  // namespace fennick::abc
