#include "AbcReader.h"

#include <bit>
#include <cstring>

using namespace fennick::abc;

namespace abctest {

namespace {

class In {
 public:
  explicit In(const Bytes& data) : data_(data) {}
  uint32_t U30() { return ReadU30(data_, pos_); }
  uint8_t U8() {
    if (pos_ >= data_.size()) throw fennick::swf::SwfError("ABC truncated");
    return data_[pos_++];
  }
  uint16_t U16() {
    const uint16_t low = U8();
    return static_cast<uint16_t>(low | (U8() << 8));
  }
  double D64() {
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(U8()) << (8 * i);
    return std::bit_cast<double>(bits);
  }
  Bytes Take(size_t n) {
    if (n > data_.size() - pos_) throw fennick::swf::SwfError("ABC truncated");
    Bytes out(data_.begin() + static_cast<std::ptrdiff_t>(pos_),
              data_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
    pos_ += n;
    return out;
  }
  bool AtEnd() const { return pos_ == data_.size(); }

 private:
  const Bytes& data_;
  size_t pos_ = 0;
};

// Pool counts include the implicit entry 0.
uint32_t PoolCount(In& in) {
  const uint32_t count = in.U30();
  return count == 0 ? 0 : count - 1;
}

std::vector<uint32_t> Indices(In& in) {
  std::vector<uint32_t> out(in.U30());
  for (uint32_t& i : out) i = in.U30();
  return out;
}

// Rebuilds the pools through the public adders, which keep the order of first use.
void ReadPool(In& in, ConstantPool& pool, std::vector<Multiname>& names) {
  for (uint32_t i = PoolCount(in); i > 0; --i) pool.Int(static_cast<int32_t>(in.U30()));
  for (uint32_t i = PoolCount(in); i > 0; --i) pool.UInt(in.U30());
  for (uint32_t i = PoolCount(in); i > 0; --i) pool.Double(in.D64());
  std::vector<std::string> strings;
  for (uint32_t i = PoolCount(in); i > 0; --i) {
    const Bytes text = in.Take(in.U30());
    strings.emplace_back(text.begin(), text.end());
  }
  for (const std::string& s : strings) pool.String(s);
  std::vector<Namespace> namespaces;
  for (uint32_t i = PoolCount(in); i > 0; --i) {
    Namespace ns;
    ns.kind = in.U8();
    ns.name = in.U30();
    namespaces.push_back(ns);
  }
  for (const Namespace& ns : namespaces)
    pool.Ns(ns.kind, ns.name == 0 ? "" : strings.at(ns.name - 1));
  for (uint32_t i = PoolCount(in); i > 0; --i) pool.NsSet(Indices(in));
  for (uint32_t i = PoolCount(in); i > 0; --i) {
    Multiname m;
    m.kind = in.U8();
    switch (m.kind) {
      case kQName:
      case kQNameA:
        m.ns = in.U30();
        m.name = in.U30();
        break;
      case kRTQName:
      case kRTQNameA:
        m.name = in.U30();
        break;
      case kRTQNameL:
      case kRTQNameLA:
        break;
      case kMultiname:
      case kMultinameA:
        m.name = in.U30();
        m.nsSet = in.U30();
        break;
      case kMultinameL:
      case kMultinameLA:
        m.nsSet = in.U30();
        break;
      case kTypeName:
        m.base = in.U30();
        m.params = Indices(in);
        break;
      default:
        throw fennick::swf::SwfError("bad multiname kind");
    }
    names.push_back(m);
    pool.Name(m);
  }
}

std::vector<Trait> ReadTraits(In& in) {
  std::vector<Trait> traits(in.U30());
  for (Trait& t : traits) {
    t.name = in.U30();
    const uint8_t kind = in.U8();
    t.kind = kind & 0x0F;
    t.attributes = kind >> 4;
    t.id = in.U30();
    if (t.kind == kTraitSlot || t.kind == kTraitConst) {
      t.typeName = in.U30();
      t.value.index = in.U30();
      if (t.value.index != 0) t.value.kind = in.U8();
    } else {
      t.index = in.U30();
    }
    if (t.attributes & kTraitHasMetadata) t.metadata = Indices(in);
  }
  return traits;
}

}  // namespace

AbcFile ReadAbc(const Bytes& data) {
  In in(data);
  AbcFile abc;
  abc.minorVersion = in.U16();
  abc.majorVersion = in.U16();
  std::vector<Multiname> names;
  ReadPool(in, abc.pool, names);
  abc.methods.resize(in.U30());
  for (MethodInfo& m : abc.methods) {
    const uint32_t params = in.U30();
    m.returnType = in.U30();
    for (uint32_t i = 0; i < params; ++i) m.paramTypes.push_back(in.U30());
    m.name = in.U30();
    m.flags = in.U8();
    if (m.flags & kMethodHasOptional) {
      m.optionals.resize(in.U30());
      for (ConstantValue& v : m.optionals) {
        v.index = in.U30();
        v.kind = in.U8();
      }
    }
    if (m.flags & kMethodHasParamNames)
      for (uint32_t i = 0; i < params; ++i) m.paramNames.push_back(in.U30());
  }
  abc.metadata.resize(in.U30());
  for (Metadata& md : abc.metadata) {
    md.name = in.U30();
    md.items.resize(in.U30());
    for (auto& item : md.items) item.first = in.U30();
    for (auto& item : md.items) item.second = in.U30();
  }
  const uint32_t classes = in.U30();
  abc.instances.resize(classes);
  for (InstanceInfo& inst : abc.instances) {
    inst.name = in.U30();
    inst.superName = in.U30();
    inst.flags = in.U8();
    if (inst.flags & kClassProtectedNs) inst.protectedNs = in.U30();
    inst.interfaces = Indices(in);
    inst.init = in.U30();
    inst.traits = ReadTraits(in);
  }
  abc.classes.resize(classes);
  for (ClassInfo& cls : abc.classes) {
    cls.init = in.U30();
    cls.traits = ReadTraits(in);
  }
  abc.scripts.resize(in.U30());
  for (ScriptInfo& s : abc.scripts) {
    s.init = in.U30();
    s.traits = ReadTraits(in);
  }
  abc.bodies.resize(in.U30());
  for (MethodBody& b : abc.bodies) {
    b.method = in.U30();
    b.maxStack = in.U30();
    b.localCount = in.U30();
    b.initScopeDepth = in.U30();
    b.maxScopeDepth = in.U30();
    b.code = in.Take(in.U30());
    b.exceptions.resize(in.U30());
    for (ExceptionInfo& e : b.exceptions) {
      e.from = in.U30();
      e.to = in.U30();
      e.target = in.U30();
      e.type = in.U30();
      e.varName = in.U30();
    }
    b.traits = ReadTraits(in);
  }
  if (!in.AtEnd()) throw fennick::swf::SwfError("bytes after the last method body");
  return abc;
}

std::string QualifiedName(const AbcFile& abc, uint32_t multiname) {
  const Multiname& m = abc.pool.MultinameAt(multiname);
  const std::string local = abc.pool.Strings().at(m.name - 1);
  const Namespace& ns = abc.pool.Namespaces().at(m.ns - 1);
  const std::string package = ns.name == 0 ? "" : abc.pool.Strings().at(ns.name - 1);
  return package.empty() ? local : package + "." + local;
}

const MethodBody* BodyOf(const AbcFile& abc, uint32_t method) {
  for (const MethodBody& b : abc.bodies)
    if (b.method == method) return &b;
  return nullptr;
}

}  // namespace abctest
