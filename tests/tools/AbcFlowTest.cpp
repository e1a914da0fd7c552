// The flow analysis on hand-written byte code: limits of known snippets and the bodies it
// must refuse.
#include <gtest/gtest.h>

#include "AbcFlow.h"

using namespace fennick::abc;

namespace {

// Opcodes used below.
constexpr uint8_t kGetLocal0 = 0xD0, kPushScope = 0x30, kPopScope = 0x1D, kPushByte = 0x24,
                  kAdd = 0xA0, kDup = 0x2A, kPop = 0x29, kReturnVoid = 0x47, kReturnValue = 0x48,
                  kJump = 0x10, kIfTrue = 0x11, kIfLt = 0x15, kLabel = 0x09, kPushTrue = 0x26,
                  kGetLocal = 0x62, kSetLocal = 0x63, kCallProperty = 0x46, kNewArray = 0x56,
                  kNewObject = 0x55, kGetProperty = 0x66, kLookupSwitch = 0x1B, kThrow = 0x03,
                  kNewFunction = 0x40;

FlowLimits Analyze(const Bytes& code, uint32_t minLocals = 1,
                   const std::vector<ExceptionInfo>& handlers = {}) {
  static const ConstantPool empty;
  return AnalyzeFlow(code, empty, handlers, minLocals);
}

void ExpectRefused(const Bytes& code, const std::string& fragment, size_t offset) {
  try {
    Analyze(code);
    FAIL() << "accepted a body that should fail with: " << fragment;
  } catch (const FlowError& e) {
    EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
    EXPECT_EQ(e.Offset(), offset);
  }
}

}  // namespace

TEST(AbcFlow, StraightLineLimits) {
  // this; pushscope; 1 + 2 + 3 with all three pushed first; pop; returnvoid
  const Bytes code{kGetLocal0, kPushScope, kPushByte, 1,    kPushByte, 2,
                   kPushByte,  3,          kAdd,      kAdd, kPop,      kReturnVoid};
  const FlowLimits limits = Analyze(code);
  EXPECT_EQ(limits.maxStack, 3u);
  EXPECT_EQ(limits.maxLocalScope, 1u);
  EXPECT_EQ(limits.localCount, 1u);
}

TEST(AbcFlow, VariableStackEffectsOfArraysObjectsAndCalls) {
  // 4 values -> newarray 4 -> 1; then 2 pairs -> newobject 2 -> 1
  const Bytes code{kPushByte, 1, kPushByte,  2, kPushByte, 3,    kPushByte,  4,
                   kNewArray, 4, kPushByte,  1, kPushByte, 2,    kPushByte,  3,
                   kPushByte, 4, kNewObject, 2, kPop,      kPop, kReturnVoid};
  EXPECT_EQ(Analyze(code).maxStack, 5u);
  // newobject 2 needs four values
  ExpectRefused(Bytes{kPushByte, 1, kPushByte, 2, kPushByte, 3, kNewObject, 2, kReturnValue},
                "needs 4", 6);
}

TEST(AbcFlow, RunTimeNamePartsArePopped) {
  ConstantPool pool;
  const uint32_t late =
      pool.Name(Multiname{kMultinameL, 0, 0, pool.NsSet({pool.Ns(kNsPackage, "")}), 0, {}});
  const uint32_t plain = pool.QName("sqrt");
  // obj[index]: object and index are both consumed
  const Bytes indexed{kGetLocal0,  kPushByte, 0, kGetProperty, static_cast<uint8_t>(late),
                      kReturnValue};
  EXPECT_EQ(AnalyzeFlow(indexed, pool, {}, 1).maxStack, 2u);
  const Bytes missingIndex{kGetLocal0, kGetProperty, static_cast<uint8_t>(late), kReturnValue};
  EXPECT_THROW(AnalyzeFlow(missingIndex, pool, {}, 1), FlowError);
  // callproperty sqrt 1: receiver and one argument
  const Bytes call{kGetLocal0, kPushByte,   2, kCallProperty, static_cast<uint8_t>(plain),
                   1,          kReturnValue};
  EXPECT_EQ(AnalyzeFlow(call, pool, {}, 1).maxStack, 2u);
}

TEST(AbcFlow, LoopsAndBranchesWithMatchingHeights) {
  // i = 0; loop: if (i < 10) { i++; jump loop } return
  const Bytes loop{
      kPushByte,   0,    kSetLocal, 1,                     // 0
      kLabel,                                              // 4
      kGetLocal,   1,    kPushByte, 10,   kIfLt, 1, 0, 0,  // 5: to 14
      kReturnVoid,                                         // 13
      0xC2,        1,                                      // 14: inclocal_i 1
      kJump,       0xF0, 0xFF,      0xFF,                  // 16: back to 4
  };
  const FlowLimits limits = Analyze(loop);
  EXPECT_EQ(limits.maxStack, 2u);
  EXPECT_EQ(limits.localCount, 2u);  // register 1 used
}

TEST(AbcFlow, PathsMeetingWithDifferentHeightsAreRefused) {
  // pushtrue; iftrue +2 -> skips "pushbyte 1", so the join sees 0 or 1 values
  const Bytes code{kPushTrue, kIfTrue, 2, 0, 0, kPushByte, 1, kReturnVoid};
  ExpectRefused(code, "stack heights", 7);
}

TEST(AbcFlow, UnderflowIsRefused) {
  ExpectRefused(Bytes{kPushByte, 1, kAdd, kReturnVoid}, "add needs 2 stack values but 1", 2);
  ExpectRefused(Bytes{kPop, kReturnVoid}, "pop needs 1", 0);
}

TEST(AbcFlow, ScopeUnderflowAndMismatchAreRefused) {
  ExpectRefused(Bytes{kPopScope, kReturnVoid}, "empty scope stack", 0);
  // getscopeobject reaches local scopes only
  ExpectRefused(Bytes{kGetLocal0, kPushScope, 0x65, 1, kReturnValue},
                "getscopeobject 1 with 1 local scopes", 2);
  EXPECT_EQ(Analyze(Bytes{kGetLocal0, kPushScope, 0x65, 0, kReturnValue}).maxStack, 1u);
  // one path pushes a scope, the other does not
  const Bytes code{kPushTrue, kIfTrue, 2, 0, 0, kGetLocal0, kPushScope, kReturnVoid};
  ExpectRefused(code, "scope depths", 7);
}

TEST(AbcFlow, RunningOffTheEndIsRefused) {
  ExpectRefused(Bytes{kPushByte, 1, kPop}, "past the end", 2);
  ExpectRefused(Bytes{}, "no code", 0);
}

TEST(AbcFlow, BranchesMustLandOnInstructions) {
  ExpectRefused(Bytes{kJump, 1, 0, 0, kPushByte, 1, kReturnVoid}, "instruction boundary", 0);
  ExpectRefused(Bytes{kJump, 100, 0, 0, kReturnVoid}, "outside the method", 0);
  // backwards to something that is not a label instruction
  ExpectRefused(Bytes{kReturnVoid, kJump, 0xFB, 0xFF, 0xFF}, "label instruction", 1);
}

TEST(AbcFlow, LookupSwitchFollowsEveryCase) {
  // 2: lookupswitch, offsets from 2: default -> 13, both cases -> 14
  const Bytes good{kPushByte, 0, kLookupSwitch, 11,   0,          0, 1, 12, 0, 0, 12,
                   0,         0, kReturnVoid,   0x02, kReturnVoid};
  EXPECT_EQ(Analyze(good).maxStack, 1u);
  Bytes bad = good;
  bad[14] = kPop;  // the cases' path pops an empty stack
  ExpectRefused(bad, "pop needs 1", 14);
}

TEST(AbcFlow, ExceptionHandlersStartWithOneValueAndNoLocalScope) {
  // 0 getlocal0; 1 pushscope; 2 pushbyte 1; 4 pop; 5 returnvoid; 6 handler: throw
  const Bytes code{kGetLocal0, kPushScope, kPushByte, 1, kPop, kReturnVoid, kThrow};
  const FlowLimits limits = Analyze(code, 1, {ExceptionInfo{2, 5, 6, 0, 0}});
  EXPECT_EQ(limits.maxStack, 1u);
  // a handler that returns a value it does not have: pop then returnvalue underflows
  const Bytes bad{kGetLocal0, kPushScope, kPushByte, 1, kPop, kReturnVoid, kPop, kReturnValue};
  EXPECT_THROW(Analyze(bad, 1, {ExceptionInfo{2, 5, 6, 0, 0}}), FlowError);
}

TEST(AbcFlow, ClosureSitesRecordTheScopeDepth) {
  const Bytes code{kGetLocal0, kPushScope, kNewFunction, 3, kPop, kReturnVoid};
  const FlowLimits limits = Analyze(code);
  ASSERT_EQ(limits.sites.size(), 1u);
  EXPECT_EQ(limits.sites[0].index, 3u);
  EXPECT_EQ(limits.sites[0].scopeDepth, 1u);
}

TEST(AbcFlow, LocalCountCoversEntryRegistersAndShortForms) {
  EXPECT_EQ(Analyze(Bytes{kReturnVoid}, 3).localCount, 3u);
  EXPECT_EQ(Analyze(Bytes{0xD3, kPop, kReturnVoid}).localCount, 4u);  // getlocal3
  MethodInfo m;
  m.paramTypes = {0, 0};
  EXPECT_EQ(EntryLocals(m), 3u);
  m.flags = kMethodNeedRest;
  EXPECT_EQ(EntryLocals(m), 4u);
}
