// ActionScript byte code (ABC) files: the constant pools, method signatures, metadata,
// classes, scripts and method bodies, and their serialisation. Pool index 0 is implicit in
// every pool (it means "none" or "any"), so the first stored entry has index 1.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "SwfStream.h"

namespace fennick::abc {

using swf::Bytes;

// Variable-length integers of the ABC format (7 bits per byte, low bits first).
void WriteU30(Bytes& out, uint32_t value);  // refuses values of 2^30 and above
void WriteU32(Bytes& out, uint32_t value);
void WriteS32(Bytes& out, int32_t value);
void WriteS24(Bytes& out, int32_t value);  // three bytes, little endian (branch offsets)
void WriteD64(Bytes& out, double value);
// Reading counterparts (position advances); throw swf::SwfError when truncated.
uint32_t ReadU30(const Bytes& in, size_t& pos);
int32_t ReadS32(const Bytes& in, size_t& pos);
int32_t ReadS24(const Bytes& in, size_t& pos);

enum NamespaceKind : uint8_t {
  kNsPrivate = 0x05,
  kNsNamespace = 0x08,
  kNsPackage = 0x16,
  kNsPackageInternal = 0x17,
  kNsProtected = 0x18,
  kNsExplicit = 0x19,
  kNsStaticProtected = 0x1A,
};

enum MultinameKind : uint8_t {
  kQName = 0x07,
  kQNameA = 0x0D,
  kRTQName = 0x0F,
  kRTQNameA = 0x10,
  kRTQNameL = 0x11,
  kRTQNameLA = 0x12,
  kMultiname = 0x09,
  kMultinameA = 0x0E,
  kMultinameL = 0x1B,
  kMultinameLA = 0x1C,
  kTypeName = 0x1D,
};

struct Namespace {
  uint8_t kind = kNsPackage;
  uint32_t name = 0;  // string index
  auto operator<=>(const Namespace&) const = default;
};

struct Multiname {
  uint8_t kind = kQName;
  uint32_t ns = 0;               // QName(A), RTQName(A): namespace index
  uint32_t name = 0;             // string index (QName, RTQName, Multiname)
  uint32_t nsSet = 0;            // Multiname(L)(A): namespace-set index
  uint32_t base = 0;             // TypeName: multiname index of the generic type
  std::vector<uint32_t> params;  // TypeName: multiname indices
  auto operator<=>(const Multiname&) const = default;
};

// Values taken from the stack at run time besides the object (namespace and/or name).
int RuntimeOperands(uint8_t multinameKind);

// Deduplicating pools; each adder returns the index of an equal entry when there is one,
// found through a hash index (a settings class may hold a hundred thousand constants).
class ConstantPool {
 public:
  uint32_t Int(int32_t value);
  uint32_t UInt(uint32_t value);
  uint32_t Double(double value);
  uint32_t String(std::string_view text);
  uint32_t Ns(uint8_t kind, std::string_view name);
  uint32_t NsSet(std::vector<uint32_t> namespaces);
  uint32_t Name(const Multiname& name);
  // Shorthands: a QName in a package namespace, and the same from a dotted name
  // ("flash.display.Sprite" is package "flash.display", local name "Sprite").
  uint32_t QName(std::string_view package, std::string_view local);
  uint32_t QName(std::string_view dotted);

  const std::vector<int32_t>& Ints() const { return ints_; }
  const std::vector<uint32_t>& UInts() const { return uints_; }
  const std::vector<double>& Doubles() const { return doubles_; }
  const std::vector<std::string>& Strings() const { return strings_; }
  const std::vector<Namespace>& Namespaces() const { return namespaces_; }
  const std::vector<std::vector<uint32_t>>& NsSets() const { return nsSets_; }
  const std::vector<Multiname>& Multinames() const { return multinames_; }
  // The multiname stored at a (1-based) index; index 0 or out of range throws.
  const Multiname& MultinameAt(uint32_t index) const;

  void Serialize(Bytes& out) const;

 private:
  std::vector<int32_t> ints_;
  std::vector<uint32_t> uints_;
  std::vector<double> doubles_;
  std::vector<std::string> strings_;
  std::vector<Namespace> namespaces_;
  std::vector<std::vector<uint32_t>> nsSets_;
  std::vector<Multiname> multinames_;
  // Per pool: an entry's bytes (see PoolKey) to its index.
  using Index = std::unordered_map<std::string, uint32_t>;
  Index intIndex_, uintIndex_, doubleIndex_, stringIndex_, namespaceIndex_, nsSetIndex_,
      multinameIndex_;
};

// Constant kinds for default values of optional parameters and slots.
enum ConstantKind : uint8_t {
  kConstUndefined = 0x00,
  kConstUtf8 = 0x01,
  kConstInt = 0x03,
  kConstUInt = 0x04,
  kConstPrivateNs = 0x05,
  kConstDouble = 0x06,
  kConstNamespace = 0x08,
  kConstFalse = 0x0A,
  kConstTrue = 0x0B,
  kConstNull = 0x0C,
  kConstPackageNamespace = 0x16,
};

struct ConstantValue {
  uint32_t index = 0;  // pool index for the kinds that have one; otherwise 0
  uint8_t kind = kConstUndefined;
};

enum MethodFlags : uint8_t {
  kMethodNeedArguments = 0x01,
  kMethodNeedActivation = 0x02,
  kMethodNeedRest = 0x04,
  kMethodHasOptional = 0x08,  // set by the writer when options are present
  kMethodSetDxns = 0x40,
  kMethodHasParamNames = 0x80,  // set by the writer when names are present
};

struct MethodInfo {
  std::vector<uint32_t> paramTypes;  // multiname indices, 0 for any
  uint32_t returnType = 0;
  uint32_t name = 0;  // string index
  uint8_t flags = 0;
  std::vector<ConstantValue> optionals;  // defaults of the last parameters
  std::vector<uint32_t> paramNames;      // string indices, empty or one per parameter
};

struct Metadata {
  uint32_t name = 0;
  std::vector<std::pair<uint32_t, uint32_t>> items;  // key (0 for none), value: string indices
};

enum TraitKind : uint8_t {
  kTraitSlot = 0,
  kTraitMethod = 1,
  kTraitGetter = 2,
  kTraitSetter = 3,
  kTraitClass = 4,
  kTraitFunction = 5,
  kTraitConst = 6,
};

enum TraitAttributes : uint8_t {
  kTraitFinal = 0x1,
  kTraitOverride = 0x2,
  kTraitHasMetadata = 0x4,  // set by the writer when metadata is present
};

struct Trait {
  uint32_t name = 0;  // multiname index (a QName)
  uint8_t kind = kTraitSlot;
  uint8_t attributes = 0;
  uint32_t id = 0;        // slot id (slot, const, class, function) or disp id (methods)
  uint32_t typeName = 0;  // slot and const
  ConstantValue value;    // slot and const
  uint32_t index = 0;     // class index (class), method index (method, getter, setter, function)
  std::vector<uint32_t> metadata;
};

enum InstanceFlags : uint8_t {
  kClassSealed = 0x01,
  kClassFinal = 0x02,
  kClassInterface = 0x04,
  kClassProtectedNs = 0x08,  // set by the writer when protectedNs is non-zero
};

struct InstanceInfo {
  uint32_t name = 0;       // multiname index
  uint32_t superName = 0;  // multiname index
  uint8_t flags = kClassSealed;
  uint32_t protectedNs = 0;
  std::vector<uint32_t> interfaces;
  uint32_t init = 0;  // method index of the constructor
  std::vector<Trait> traits;
};

struct ClassInfo {
  uint32_t init = 0;  // method index of the static initialiser
  std::vector<Trait> traits;
};

struct ScriptInfo {
  uint32_t init = 0;
  std::vector<Trait> traits;
};

struct ExceptionInfo {
  uint32_t from = 0;
  uint32_t to = 0;
  uint32_t target = 0;
  uint32_t type = 0;     // multiname index, 0 catches everything
  uint32_t varName = 0;  // multiname index
};

struct MethodBody {
  uint32_t method = 0;
  uint32_t maxStack = 0;
  uint32_t localCount = 0;
  uint32_t initScopeDepth = 0;
  uint32_t maxScopeDepth = 0;
  Bytes code;
  std::vector<ExceptionInfo> exceptions;
  std::vector<Trait> traits;
};

struct AbcFile {
  uint16_t minorVersion = 16;
  uint16_t majorVersion = 46;
  ConstantPool pool;
  std::vector<MethodInfo> methods;
  std::vector<Metadata> metadata;
  std::vector<InstanceInfo> instances;  // one per class, same order as classes
  std::vector<ClassInfo> classes;
  std::vector<ScriptInfo> scripts;
  std::vector<MethodBody> bodies;

  Bytes Serialize() const;
};

}  // namespace fennick::abc
