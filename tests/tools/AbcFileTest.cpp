// ABC encodings: variable-length integers, pools with their implicit entry 0, and the
// layout of methods, traits, classes and bodies.
#include <gtest/gtest.h>

#include <cmath>

#include "AbcFile.h"
#include "AbcReader.h"

using namespace fennick::abc;
using fennick::swf::SwfError;

namespace {

Bytes U30(uint32_t v) {
  Bytes out;
  WriteU30(out, v);
  return out;
}

}  // namespace

TEST(AbcEncoding, U30UsesSevenBitsPerByteLowFirst) {
  EXPECT_EQ(U30(0), (Bytes{0x00}));
  EXPECT_EQ(U30(127), (Bytes{0x7F}));
  EXPECT_EQ(U30(128), (Bytes{0x80, 0x01}));
  EXPECT_EQ(U30(300), (Bytes{0xAC, 0x02}));
  EXPECT_EQ(U30(16384), (Bytes{0x80, 0x80, 0x01}));
  EXPECT_EQ(U30((1u << 30) - 1), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x03}));
  EXPECT_THROW(U30(1u << 30), SwfError);
  for (uint32_t v : {0u, 1u, 127u, 128u, 70000u, (1u << 30) - 1}) {
    const Bytes b = U30(v);
    size_t pos = 0;
    EXPECT_EQ(ReadU30(b, pos), v);
    EXPECT_EQ(pos, b.size());
  }
}

TEST(AbcEncoding, NegativeS32TakesFiveBytesAndS24IsThreeLittleEndian) {
  Bytes s32;
  WriteS32(s32, -1);
  EXPECT_EQ(s32, (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x0F}));
  size_t pos = 0;
  EXPECT_EQ(ReadS32(s32, pos), -1);

  Bytes s24;
  WriteS24(s24, -4);
  WriteS24(s24, 0x123456);
  EXPECT_EQ(s24, (Bytes{0xFC, 0xFF, 0xFF, 0x56, 0x34, 0x12}));
  pos = 0;
  EXPECT_EQ(ReadS24(s24, pos), -4);
  EXPECT_EQ(ReadS24(s24, pos), 0x123456);
  EXPECT_THROW(WriteS24(s24, 1 << 23), SwfError);
}

TEST(AbcEncoding, EmptyFileIsVersionAndZeroCounts) {
  const AbcFile abc;
  // minor 16, major 46; seven empty pools; no methods, metadata, classes, scripts, bodies.
  EXPECT_EQ(abc.Serialize(), (Bytes{0x10, 0x00, 0x2E, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(AbcConstantPool, EntryZeroIsImplicitAndEntriesAreShared) {
  ConstantPool pool;
  EXPECT_EQ(pool.String("a"), 1u);
  EXPECT_EQ(pool.String("b"), 2u);
  EXPECT_EQ(pool.String("a"), 1u);
  EXPECT_EQ(pool.Int(-5), 1u);
  EXPECT_EQ(pool.Double(std::nan("")), 1u);
  EXPECT_EQ(pool.Double(std::nan("")), 1u);  // NaN finds itself
  EXPECT_EQ(pool.Double(-0.0), 2u);
  EXPECT_EQ(pool.Double(0.0), 3u);

  Bytes out;
  pool.Serialize(out);
  const Bytes expected{
      2, 0xFB, 0xFF, 0xFF, 0xFF, 0x0F,  // ints: count 2 (1 entry + implicit), -5
      0,                                // uints: empty
      4,                                // doubles: 3 entries + implicit
  };
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 8), expected);
  // strings after the 24 double bytes: count 3, "a", "b"
  EXPECT_EQ(Bytes(out.begin() + 32, out.begin() + 37), (Bytes{3, 1, 'a', 1, 'b'}));
}

TEST(AbcConstantPool, NamespacesAndMultinames) {
  ConstantPool pool;
  const uint32_t sprite = pool.QName("flash.display.Sprite");
  EXPECT_EQ(sprite, 1u);
  EXPECT_EQ(pool.QName("flash.display", "Sprite"), sprite);
  EXPECT_EQ(pool.QName("width"), 2u);
  const Multiname& m = pool.MultinameAt(sprite);
  EXPECT_EQ(m.kind, kQName);
  EXPECT_EQ(pool.Namespaces().at(m.ns - 1).kind, kNsPackage);
  EXPECT_EQ(pool.Strings().at(pool.Namespaces().at(m.ns - 1).name - 1), "flash.display");
  EXPECT_THROW(pool.MultinameAt(0), SwfError);
  EXPECT_THROW(pool.MultinameAt(3), SwfError);

  const uint32_t set = pool.NsSet({pool.Ns(kNsPackage, ""), pool.Ns(kNsPrivate, "x")});
  const uint32_t multi = pool.Name(Multiname{kMultiname, 0, pool.String("length"), set, 0, {}});
  const uint32_t late = pool.Name(Multiname{kMultinameL, 0, 0, set, 0, {}});
  const uint32_t vector = pool.Name(
      Multiname{kTypeName, 0, 0, 0, pool.QName("__AS3__.vec.Vector"), {pool.QName("int")}});
  EXPECT_EQ(RuntimeOperands(kMultinameL), 1);
  EXPECT_EQ(RuntimeOperands(kRTQNameL), 2);
  EXPECT_EQ(RuntimeOperands(kQName), 0);

  AbcFile abc;
  abc.pool = pool;
  const AbcFile back = abctest::ReadAbc(abc.Serialize());
  EXPECT_EQ(back.pool.Multinames(), pool.Multinames());
  EXPECT_EQ(back.pool.NsSets(), pool.NsSets());
  EXPECT_EQ(back.pool.MultinameAt(multi).nsSet, set);
  EXPECT_EQ(back.pool.MultinameAt(late).kind, kMultinameL);
  EXPECT_EQ(back.pool.MultinameAt(vector).params.size(), 1u);
}

TEST(AbcFileLayout, MethodWithOptionalsAndTraitsRoundTrip) {
  AbcFile abc;
  ConstantPool& pool = abc.pool;
  MethodInfo method;
  method.name = pool.String("resize");
  method.paramTypes = {pool.QName("int"), pool.QName("int")};
  method.returnType = pool.QName("void");
  method.optionals = {ConstantValue{pool.Int(300), kConstInt}};
  method.flags = kMethodNeedRest;
  abc.methods.push_back(method);
  abc.methods.push_back(MethodInfo{});

  InstanceInfo inst;
  inst.name = pool.QName("fennick.Skin");
  inst.superName = pool.QName("flash.display.MovieClip");
  inst.flags = 0;  // dynamic
  inst.protectedNs = pool.Ns(kNsProtected, "fennick:Skin");
  inst.init = 1;
  Trait slot;
  slot.name = pool.QName("count");
  slot.kind = kTraitSlot;
  slot.typeName = pool.QName("int");
  slot.value = ConstantValue{pool.Int(3), kConstInt};
  Trait flag = slot;
  flag.name = pool.QName("shown");
  flag.value = ConstantValue{kConstTrue, kConstTrue};
  Trait resize;
  resize.name = pool.QName("resize");
  resize.kind = kTraitMethod;
  resize.attributes = kTraitOverride;
  resize.index = 0;
  resize.metadata = {0};
  inst.traits = {slot, flag, resize};
  abc.instances.push_back(inst);
  abc.classes.push_back(ClassInfo{1, {}});
  abc.metadata.push_back(Metadata{pool.String("Event"), {{0, pool.String("x")}}});
  abc.scripts.push_back(ScriptInfo{1, {}});
  MethodBody body;
  body.method = 1;
  body.maxStack = 1;
  body.localCount = 1;
  body.initScopeDepth = 1;
  body.maxScopeDepth = 2;
  body.code = {0xD0, 0x30, 0x47};
  body.exceptions.push_back(ExceptionInfo{0, 2, 2, 0, 0});
  abc.bodies.push_back(body);

  const Bytes bytes = abc.Serialize();
  const AbcFile back = abctest::ReadAbc(bytes);
  ASSERT_EQ(back.methods.size(), 2u);
  EXPECT_EQ(back.methods[0].flags, kMethodNeedRest | kMethodHasOptional);
  ASSERT_EQ(back.methods[0].optionals.size(), 1u);
  EXPECT_EQ(back.methods[0].optionals[0].kind, kConstInt);
  EXPECT_EQ(back.pool.Ints().at(back.methods[0].optionals[0].index - 1), 300);
  ASSERT_EQ(back.instances.size(), 1u);
  EXPECT_EQ(back.instances[0].flags, kClassProtectedNs);
  EXPECT_EQ(abctest::QualifiedName(back, back.instances[0].name), "fennick.Skin");
  EXPECT_EQ(abctest::QualifiedName(back, back.instances[0].superName), "flash.display.MovieClip");
  ASSERT_EQ(back.instances[0].traits.size(), 3u);
  EXPECT_EQ(back.instances[0].traits[1].value.kind, kConstTrue);
  EXPECT_EQ(back.instances[0].traits[2].attributes, kTraitOverride | kTraitHasMetadata);
  EXPECT_EQ(back.instances[0].traits[2].metadata, (std::vector<uint32_t>{0}));
  ASSERT_EQ(back.bodies.size(), 1u);
  EXPECT_EQ(back.bodies[0].code, body.code);
  EXPECT_EQ(back.bodies[0].exceptions.size(), 1u);
  EXPECT_EQ(back.Serialize(), bytes);
}

TEST(AbcFileLayout, InconsistentModelsAreRefused) {
  AbcFile abc;
  abc.instances.emplace_back();
  EXPECT_THROW(abc.Serialize(), SwfError);  // no class info

  AbcFile names;
  MethodInfo m;
  m.paramTypes = {0};
  m.paramNames = {1, 2};
  names.methods.push_back(m);
  EXPECT_THROW(names.Serialize(), SwfError);
}
