#include "AbcFile.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <type_traits>

namespace fennick::abc {

using swf::SwfError;

namespace {

// The bytes that make two entries of one pool equal. Doubles compare by bit pattern, so
// that NaN and -0.0 each get a stable entry.
template <typename T>
void AppendRaw(std::string& key, T value) {
  static_assert(std::is_trivially_copyable_v<T>);
  key.append(reinterpret_cast<const char*>(&value), sizeof value);
}

std::string PoolKey(const std::string& value) { return value; }

std::string PoolKey(const std::vector<uint32_t>& values) {
  std::string key;
  for (const uint32_t v : values) AppendRaw(key, v);
  return key;
}

template <typename T>
std::string PoolKey(T value) {
  std::string key;
  AppendRaw(key, value);
  return key;
}

std::string PoolKey(const Namespace& ns) { return PoolKey(ns.kind) + PoolKey(ns.name); }

std::string PoolKey(const Multiname& m) {
  std::string key;
  AppendRaw(key, m.kind);
  AppendRaw(key, m.ns);
  AppendRaw(key, m.name);
  AppendRaw(key, m.nsSet);
  AppendRaw(key, m.base);
  return key + PoolKey(m.params);
}

template <typename T, typename Index>
uint32_t Intern(std::vector<T>& pool, Index& index, const T& value) {
  const auto [it, added] =
      index.try_emplace(PoolKey(value), static_cast<uint32_t>(pool.size()) + 1);
  if (!added) return it->second;
  pool.push_back(value);
  if (pool.size() >= (1u << 30)) throw SwfError("constant pool overflow");
  return it->second;
}

void WriteCount(Bytes& out, size_t count) { WriteU30(out, static_cast<uint32_t>(count)); }

// Pools are written with a count one above the stored entries, for the implicit entry 0;
// an empty pool is written as count 0.
void WritePoolCount(Bytes& out, size_t stored) { WriteCount(out, stored == 0 ? 0 : stored + 1); }

void WriteIndices(Bytes& out, const std::vector<uint32_t>& indices) {
  WriteCount(out, indices.size());
  for (uint32_t i : indices) WriteU30(out, i);
}

void WriteConstant(Bytes& out, const ConstantValue& value) {
  WriteU30(out, value.index);
  // A zero index means "no value" and carries no kind byte.
  if (value.index != 0) out.push_back(value.kind);
}

void WriteTraits(Bytes& out, const std::vector<Trait>& traits) {
  WriteCount(out, traits.size());
  for (const Trait& t : traits) {
    WriteU30(out, t.name);
    const uint8_t attributes =
        static_cast<uint8_t>(t.attributes | (t.metadata.empty() ? 0 : kTraitHasMetadata));
    out.push_back(static_cast<uint8_t>((attributes << 4) | t.kind));
    WriteU30(out, t.id);
    switch (t.kind) {
      case kTraitSlot:
      case kTraitConst:
        WriteU30(out, t.typeName);
        WriteConstant(out, t.value);
        break;
      case kTraitClass:
      case kTraitFunction:
      case kTraitMethod:
      case kTraitGetter:
      case kTraitSetter:
        WriteU30(out, t.index);
        break;
      default:
        throw SwfError("unknown trait kind " + std::to_string(t.kind));
    }
    if (!t.metadata.empty()) WriteIndices(out, t.metadata);
  }
}

void WriteMethodInfo(Bytes& out, const MethodInfo& m) {
  WriteCount(out, m.paramTypes.size());
  WriteU30(out, m.returnType);
  for (uint32_t type : m.paramTypes) WriteU30(out, type);
  WriteU30(out, m.name);
  if (m.optionals.size() > m.paramTypes.size())
    throw SwfError("more optional values than parameters");
  if (!m.paramNames.empty() && m.paramNames.size() != m.paramTypes.size())
    throw SwfError("parameter names do not match the parameters");
  uint8_t flags = static_cast<uint8_t>(m.flags & ~(kMethodHasOptional | kMethodHasParamNames));
  if (!m.optionals.empty()) flags |= kMethodHasOptional;
  if (!m.paramNames.empty()) flags |= kMethodHasParamNames;
  out.push_back(flags);
  if (!m.optionals.empty()) {
    WriteCount(out, m.optionals.size());
    for (const ConstantValue& v : m.optionals) {
      // An option always has a kind, even undefined with index 0.
      WriteU30(out, v.index);
      out.push_back(v.kind);
    }
  }
  for (uint32_t name : m.paramNames) WriteU30(out, name);
}

}  // namespace

void WriteU30(Bytes& out, uint32_t value) {
  if (value >= (1u << 30)) throw SwfError("u30 value " + std::to_string(value) + " out of range");
  WriteU32(out, value);
}

void WriteU32(Bytes& out, uint32_t value) {
  do {
    uint8_t byte = value & 0x7F;
    value >>= 7;
    if (value != 0) byte |= 0x80;
    out.push_back(byte);
  } while (value != 0);
}

void WriteS32(Bytes& out, int32_t value) {
  // Negative values take all five bytes: the reader sign-extends from bit 31.
  WriteU32(out, static_cast<uint32_t>(value));
}

void WriteS24(Bytes& out, int32_t value) {
  if (value < -(1 << 23) || value >= (1 << 23)) throw SwfError("branch offset out of range");
  const uint32_t bits = static_cast<uint32_t>(value);
  out.push_back(static_cast<uint8_t>(bits));
  out.push_back(static_cast<uint8_t>(bits >> 8));
  out.push_back(static_cast<uint8_t>(bits >> 16));
}

void WriteD64(Bytes& out, double value) {
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

uint32_t ReadU30(const Bytes& in, size_t& pos) {
  uint32_t value = 0;
  for (int shift = 0; shift < 35; shift += 7) {
    if (pos >= in.size()) throw SwfError("truncated variable-length integer");
    const uint8_t byte = in[pos++];
    value |= static_cast<uint32_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) return value;
  }
  throw SwfError("variable-length integer longer than five bytes");
}

int32_t ReadS32(const Bytes& in, size_t& pos) { return static_cast<int32_t>(ReadU30(in, pos)); }

int32_t ReadS24(const Bytes& in, size_t& pos) {
  if (in.size() - std::min(pos, in.size()) < 3) throw SwfError("truncated branch offset");
  const uint32_t bits = in[pos] | (in[pos + 1] << 8) | (in[pos + 2] << 16);
  pos += 3;
  return static_cast<int32_t>((bits ^ 0x800000u) - 0x800000u);
}

int RuntimeOperands(uint8_t kind) {
  switch (kind) {
    case kRTQName:
    case kRTQNameA:
    case kMultinameL:
    case kMultinameLA:
      return 1;
    case kRTQNameL:
    case kRTQNameLA:
      return 2;
    default:
      return 0;
  }
}

uint32_t ConstantPool::Int(int32_t value) { return Intern(ints_, intIndex_, value); }
uint32_t ConstantPool::UInt(uint32_t value) { return Intern(uints_, uintIndex_, value); }
uint32_t ConstantPool::Double(double value) { return Intern(doubles_, doubleIndex_, value); }

uint32_t ConstantPool::String(std::string_view text) {
  return Intern(strings_, stringIndex_, std::string(text));
}

uint32_t ConstantPool::Ns(uint8_t kind, std::string_view name) {
  const uint32_t nameIndex = String(name);
  return Intern(namespaces_, namespaceIndex_, Namespace{kind, nameIndex});
}

uint32_t ConstantPool::NsSet(std::vector<uint32_t> namespaces) {
  return Intern(nsSets_, nsSetIndex_, namespaces);
}

uint32_t ConstantPool::Name(const Multiname& name) {
  return Intern(multinames_, multinameIndex_, name);
}

uint32_t ConstantPool::QName(std::string_view package, std::string_view local) {
  Multiname name;
  name.kind = kQName;
  name.ns = Ns(kNsPackage, package);
  name.name = String(local);
  return Name(name);
}

uint32_t ConstantPool::QName(std::string_view dotted) {
  const size_t dot = dotted.rfind('.');
  if (dot == std::string_view::npos) return QName("", dotted);
  return QName(dotted.substr(0, dot), dotted.substr(dot + 1));
}

const Multiname& ConstantPool::MultinameAt(uint32_t index) const {
  if (index == 0 || index > multinames_.size())
    throw SwfError("multiname index " + std::to_string(index) + " out of range");
  return multinames_[index - 1];
}

void ConstantPool::Serialize(Bytes& out) const {
  WritePoolCount(out, ints_.size());
  for (int32_t v : ints_) WriteS32(out, v);
  WritePoolCount(out, uints_.size());
  for (uint32_t v : uints_) WriteU32(out, v);
  WritePoolCount(out, doubles_.size());
  for (double v : doubles_) WriteD64(out, v);
  WritePoolCount(out, strings_.size());
  for (const std::string& s : strings_) {
    WriteCount(out, s.size());
    out.insert(out.end(), s.begin(), s.end());
  }
  WritePoolCount(out, namespaces_.size());
  for (const Namespace& ns : namespaces_) {
    out.push_back(ns.kind);
    WriteU30(out, ns.name);
  }
  WritePoolCount(out, nsSets_.size());
  for (const auto& set : nsSets_) WriteIndices(out, set);
  WritePoolCount(out, multinames_.size());
  for (const Multiname& m : multinames_) {
    out.push_back(m.kind);
    switch (m.kind) {
      case kQName:
      case kQNameA:
        WriteU30(out, m.ns);
        WriteU30(out, m.name);
        break;
      case kRTQName:
      case kRTQNameA:
        WriteU30(out, m.name);
        break;
      case kRTQNameL:
      case kRTQNameLA:
        break;
      case kMultiname:
      case kMultinameA:
        WriteU30(out, m.name);
        WriteU30(out, m.nsSet);
        break;
      case kMultinameL:
      case kMultinameLA:
        WriteU30(out, m.nsSet);
        break;
      case kTypeName:
        WriteU30(out, m.base);
        WriteIndices(out, m.params);
        break;
      default:
        throw SwfError("unknown multiname kind " + std::to_string(m.kind));
    }
  }
}

Bytes AbcFile::Serialize() const {
  if (instances.size() != classes.size()) throw SwfError("every class needs its instance info");
  Bytes out;
  out.push_back(static_cast<uint8_t>(minorVersion));
  out.push_back(static_cast<uint8_t>(minorVersion >> 8));
  out.push_back(static_cast<uint8_t>(majorVersion));
  out.push_back(static_cast<uint8_t>(majorVersion >> 8));
  pool.Serialize(out);

  WriteCount(out, methods.size());
  for (const MethodInfo& m : methods) WriteMethodInfo(out, m);

  WriteCount(out, metadata.size());
  for (const Metadata& md : metadata) {
    WriteU30(out, md.name);
    WriteCount(out, md.items.size());
    for (const auto& item : md.items) WriteU30(out, item.first);
    for (const auto& item : md.items) WriteU30(out, item.second);
  }

  WriteCount(out, classes.size());
  for (const InstanceInfo& inst : instances) {
    WriteU30(out, inst.name);
    WriteU30(out, inst.superName);
    uint8_t flags = static_cast<uint8_t>(inst.flags & ~kClassProtectedNs);
    if (inst.protectedNs != 0) flags |= kClassProtectedNs;
    out.push_back(flags);
    if (inst.protectedNs != 0) WriteU30(out, inst.protectedNs);
    WriteIndices(out, inst.interfaces);
    WriteU30(out, inst.init);
    WriteTraits(out, inst.traits);
  }
  for (const ClassInfo& cls : classes) {
    WriteU30(out, cls.init);
    WriteTraits(out, cls.traits);
  }

  WriteCount(out, scripts.size());
  for (const ScriptInfo& script : scripts) {
    WriteU30(out, script.init);
    WriteTraits(out, script.traits);
  }

  WriteCount(out, bodies.size());
  for (const MethodBody& body : bodies) {
    WriteU30(out, body.method);
    WriteU30(out, body.maxStack);
    WriteU30(out, body.localCount);
    WriteU30(out, body.initScopeDepth);
    WriteU30(out, body.maxScopeDepth);
    WriteCount(out, body.code.size());
    out.insert(out.end(), body.code.begin(), body.code.end());
    WriteCount(out, body.exceptions.size());
    for (const ExceptionInfo& e : body.exceptions) {
      WriteU30(out, e.from);
      WriteU30(out, e.to);
      WriteU30(out, e.target);
      WriteU30(out, e.type);
      WriteU30(out, e.varName);
    }
    WriteTraits(out, body.traits);
  }
  return out;
}

}  // namespace fennick::abc
