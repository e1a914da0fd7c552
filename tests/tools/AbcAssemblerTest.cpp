// The assembly language: declarations become the right classes, traits and methods; bodies
// get their computed limits; mistakes are reported with their line.
#include <gtest/gtest.h>

#include "AbcAssembler.h"
#include "AbcReader.h"

using namespace fennick::abc;

namespace {

// Assembles, serialises and reads back, so every check sees what a file would hold.
AbcFile Build(const std::string& source) {
  return abctest::ReadAbc(Assemble(source, "test.asm").abc.Serialize());
}

const Trait& TraitNamed(const AbcFile& abc, const std::vector<Trait>& traits,
                        const std::string& name) {
  for (const Trait& t : traits)
    if (abctest::QualifiedName(abc, t.name) == name) return t;
  throw std::runtime_error("no trait " + name);
}

std::string ErrorOf(const std::string& source) {
  try {
    Assemble(source, "test.asm");
  } catch (const AsmError& e) {
    return e.what();
  }
  return "(assembled)";
}

const std::string kSkin = R"(# a small dynamic class
dynamic class fennick.Skin extends flash.display.MovieClip
    var count:int = 3
    var ratio:Number = 1.5
    var title:String = "Player"
    var shown:Boolean = true
    var video:flash.media.Video
    static const VERSION:uint = 7

    constructor(width:int, height:int = 300)
        getlocal0
        pushscope
        getlocal0
        constructsuper 0
        returnvoid
    end

    override method toString():String
        pushstring "skin"
        returnvalue
    end

    getter area():int
        getlocal this
        getproperty count
        returnvalue
    end

    setter area(value:int)
        getlocal0
        getlocal value
        setproperty count
        returnvoid
    end
end
)";

}  // namespace

TEST(AbcAssembler, ClassDeclarationBecomesInstanceClassAndScript) {
  const Assembly assembly = Assemble(kSkin, "skin.asm");
  EXPECT_EQ(assembly.classes, (std::vector<std::string>{"fennick.Skin"}));
  const AbcFile abc = abctest::ReadAbc(assembly.abc.Serialize());
  ASSERT_EQ(abc.instances.size(), 1u);
  const InstanceInfo& inst = abc.instances[0];
  EXPECT_EQ(abctest::QualifiedName(abc, inst.name), "fennick.Skin");
  EXPECT_EQ(abctest::QualifiedName(abc, inst.superName), "flash.display.MovieClip");
  EXPECT_EQ(inst.flags & kClassSealed, 0);  // dynamic
  EXPECT_NE(inst.protectedNs, 0u);

  const Trait& count = TraitNamed(abc, inst.traits, "count");
  EXPECT_EQ(count.kind, kTraitSlot);
  EXPECT_EQ(abctest::QualifiedName(abc, count.typeName), "int");
  EXPECT_EQ(count.value.kind, kConstInt);
  EXPECT_EQ(abc.pool.Ints().at(count.value.index - 1), 3);
  EXPECT_EQ(TraitNamed(abc, inst.traits, "ratio").value.kind, kConstDouble);
  const Trait& title = TraitNamed(abc, inst.traits, "title");
  EXPECT_EQ(abc.pool.Strings().at(title.value.index - 1), "Player");
  EXPECT_EQ(TraitNamed(abc, inst.traits, "shown").value.kind, kConstTrue);
  EXPECT_EQ(TraitNamed(abc, inst.traits, "video").value.index, 0u);
  const Trait& version = TraitNamed(abc, abc.classes[0].traits, "VERSION");
  EXPECT_EQ(version.kind, kTraitConst);
  EXPECT_EQ(version.value.kind, kConstUInt);

  const Trait& toString = TraitNamed(abc, inst.traits, "toString");
  EXPECT_EQ(toString.kind, kTraitMethod);
  EXPECT_EQ(toString.attributes, kTraitOverride);
  int getters = 0, setters = 0;
  for (const Trait& t : inst.traits) {
    getters += t.kind == kTraitGetter;
    setters += t.kind == kTraitSetter;
  }
  EXPECT_EQ(getters, 1);
  EXPECT_EQ(setters, 1);

  const MethodInfo& ctor = abc.methods.at(inst.init);
  EXPECT_EQ(ctor.paramTypes.size(), 2u);
  ASSERT_EQ(ctor.optionals.size(), 1u);
  EXPECT_EQ(abc.pool.Ints().at(ctor.optionals[0].index - 1), 300);

  // The script creates the class and stores it in slot 1.
  ASSERT_EQ(abc.scripts.size(), 1u);
  ASSERT_EQ(abc.scripts[0].traits.size(), 1u);
  EXPECT_EQ(abc.scripts[0].traits[0].kind, kTraitClass);
  EXPECT_EQ(abc.scripts[0].traits[0].id, 1u);
  EXPECT_EQ(abctest::QualifiedName(abc, abc.scripts[0].traits[0].name), "fennick.Skin");
}

TEST(AbcAssembler, BodiesGetComputedLimitsAndNestedScopeDepths) {
  const AbcFile abc = Build(kSkin);
  const MethodBody& script = *abctest::BodyOf(abc, abc.scripts[0].init);
  // getlocal0 pushscope | global, base, base -> newclass ...
  EXPECT_EQ(script.maxStack, 3u);
  EXPECT_EQ(script.initScopeDepth, 1u);
  EXPECT_EQ(script.maxScopeDepth, 3u);  // global and the base class
  const MethodBody& cinit = *abctest::BodyOf(abc, abc.classes[0].init);
  EXPECT_EQ(cinit.initScopeDepth, 3u);
  EXPECT_EQ(cinit.maxScopeDepth, 4u);
  const MethodBody& ctor = *abctest::BodyOf(abc, abc.instances[0].init);
  EXPECT_EQ(ctor.initScopeDepth, 4u);
  EXPECT_EQ(ctor.maxScopeDepth, 5u);
  EXPECT_EQ(ctor.maxStack, 1u);
  EXPECT_EQ(ctor.localCount, 3u);  // this, width, height
  for (const Trait& t : abc.instances[0].traits) {
    if (t.kind == kTraitSetter || t.kind == kTraitGetter) {
      EXPECT_EQ(abctest::BodyOf(abc, t.index)->maxStack, t.kind == kTraitSetter ? 2u : 1u);
    }
  }
}

TEST(AbcAssembler, DefaultConstructorCallsTheBaseAndClassesAreSealedUnlessDynamic) {
  const AbcFile abc = Build("class A\nend\nfinal class B extends A\nend\n");
  ASSERT_EQ(abc.instances.size(), 2u);
  EXPECT_EQ(abc.instances[0].flags & (kClassSealed | kClassFinal), kClassSealed);
  EXPECT_EQ(abc.instances[1].flags & (kClassSealed | kClassFinal), kClassSealed | kClassFinal);
  EXPECT_EQ(abctest::QualifiedName(abc, abc.instances[0].superName), "Object");
  EXPECT_EQ(abctest::QualifiedName(abc, abc.instances[1].superName), "A");
  // getlocal0 pushscope getlocal0 constructsuper 0 returnvoid
  EXPECT_EQ(abctest::BodyOf(abc, abc.instances[1].init)->code,
            (Bytes{0xD0, 0x30, 0xD0, 0x49, 0x00, 0x47}));
}

TEST(AbcAssembler, RegistersByNameAndShortForms) {
  const AbcFile abc = Build(R"(
function f(a, b, c, ...rest)
    local d, e
    getlocal this
    getlocal c
    getlocal rest
    getlocal e
    setlocal 3
    pop
    pop
    pop
    returnvoid
end
)");
  const MethodBody& body = abc.bodies.at(0);
  // getlocal0, getlocal3, getlocal 4, getlocal 6, setlocal3, pop x3, returnvoid
  EXPECT_EQ(body.code, (Bytes{0xD0, 0xD3, 0x62, 4, 0x62, 6, 0xD7, 0x29, 0x29, 0x29, 0x47}));
  EXPECT_EQ(body.localCount, 7u);
  EXPECT_EQ(body.maxStack, 4u);
  EXPECT_EQ(abc.methods.at(0).flags & kMethodNeedRest, kMethodNeedRest);
}

TEST(AbcAssembler, ForwardAndBackwardBranches) {
  const AbcFile abc = Build(R"(
function count():int
    local i
    pushbyte 0
    setlocal i
top:
    getlocal i
    pushbyte 10
    ifge done
    inclocal_i i
    jump top
done: getlocal i
    returnvalue
end
)");
  const Bytes expected{
      0x24, 0,                 // 0 pushbyte 0
      0xD5,                    // 2 setlocal1
      0x09,                    // 3 label (backward target)
      0xD1, 0x24, 10,          // 4 getlocal1, pushbyte 10
      0x18, 6,    0,    0,     // 7 ifge -> 17 (11 + 6)
      0xC2, 1,                 // 11 inclocal_i 1
      0x10, 0xF2, 0xFF, 0xFF,  // 13 jump -> 3 (17 - 14)
      0xD1, 0x48,              // 17 getlocal1, returnvalue
  };
  EXPECT_EQ(abc.bodies.at(0).code, expected);
  EXPECT_EQ(abc.bodies.at(0).maxStack, 2u);
}

TEST(AbcAssembler, LookupSwitchAndExceptionTable) {
  const AbcFile abc = Build(R"(
function pick(n:int):String
    getlocal n
    lookupswitch other, zero, one
zero: pushstring "zero"
    returnvalue
one: pushstring "one"
    returnvalue
other:
    pushstring "other"
    returnvalue
end

function safe():void
    catch from to handler Error err
from:
    findpropstrict Error
    constructprop Error 0
    throw
to:
handler:
    pop
    returnvoid
end
)");
  const Bytes& sw = abc.bodies.at(0).code;
  // 0 getlocal1; 1 lookupswitch: default, count 1, two cases; 12 zero; 15 one; 18 other,
  // every offset counted from the lookupswitch itself
  ASSERT_GE(sw.size(), 12u);
  EXPECT_EQ(Bytes(sw.begin() + 1, sw.begin() + 12), (Bytes{0x1B, 17, 0, 0, 1, 11, 0, 0, 14, 0, 0}));
  const MethodBody& safe = abc.bodies.at(1);
  ASSERT_EQ(safe.exceptions.size(), 1u);
  EXPECT_EQ(safe.exceptions[0].from, 0u);
  EXPECT_EQ(safe.exceptions[0].to, safe.exceptions[0].target);
  EXPECT_EQ(abctest::QualifiedName(abc, safe.exceptions[0].type), "Error");
  EXPECT_EQ(abctest::QualifiedName(abc, safe.exceptions[0].varName), "err");
}

TEST(AbcAssembler, NameForms) {
  const AbcFile abc = Build(R"(
function names()
    getlocal0
    getproperty {flash.display, ""}::Sprite
    pushbyte 0
    getproperty []
    getlex __AS3__.vec.Vector.<int>
    pop
    getproperty @id
    pushnamespace flash.display
    swap
    getproperty ::x
    pop
    returnvoid
end
)");
  std::vector<uint8_t> kinds;
  for (const Multiname& m : abc.pool.Multinames()) kinds.push_back(m.kind);
  for (uint8_t kind : {kMultiname, kMultinameL, kTypeName, kQNameA, kRTQName})
    EXPECT_NE(std::find(kinds.begin(), kinds.end(), kind), kinds.end()) << int(kind);
  for (const Multiname& m : abc.pool.Multinames()) {
    if (m.kind == kMultiname) {
      EXPECT_EQ(abc.pool.NsSets().at(m.nsSet - 1).size(), 2u);
    }
  }
}

TEST(AbcAssembler, ClosuresSeeTheirCreatorsScope) {
  const AbcFile abc = Build(R"(
class Owner extends flash.display.Sprite
    method listen():void
        getlocal0
        pushscope
        newfunction onTick
        pop
        returnvoid
    end
end

function onTick(e):void
    returnvoid
end
)");
  const MethodBody* listen = nullptr;
  const MethodBody* tick = nullptr;
  for (const MethodBody& b : abc.bodies) {
    const uint32_t nameIndex = abc.methods.at(b.method).name;
    const std::string name = nameIndex == 0 ? "" : abc.pool.Strings().at(nameIndex - 1);
    if (name == "listen") listen = &b;
    if (name == "onTick") tick = &b;
  }
  ASSERT_TRUE(listen && tick);
  EXPECT_EQ(tick->initScopeDepth, listen->initScopeDepth + 1);
}

TEST(AbcAssembler, LiteralsAndStringEscapes) {
  const std::string text = "say \"hi\"\\\n\t\x01 caf\xC3\xA9";
  const AbcFile abc =
      Build("function f()\n    pushstring " + QuoteAsmString(text) +
            "\n    pushshort -2\n    pushint -70000\n    pushuint 4000000000\n"
            "    pushdouble 1e3\n    pushstring \"\\u00e9\"\n    returnvalue\nend\n");
  const auto& strings = abc.pool.Strings();
  EXPECT_NE(std::find(strings.begin(), strings.end(), text), strings.end());
  EXPECT_NE(std::find(strings.begin(), strings.end(), "\xC3\xA9"), strings.end());
  EXPECT_EQ(abc.pool.Ints(), (std::vector<int32_t>{-70000}));
  EXPECT_EQ(abc.pool.UInts(), (std::vector<uint32_t>{4000000000u}));
  EXPECT_EQ(abc.pool.Doubles(), (std::vector<double>{1000.0}));
  // pushshort -2 is the low 16 bits
  const Bytes& code = abc.bodies.at(0).code;
  EXPECT_EQ(Bytes(code.begin() + 2, code.begin() + 6), (Bytes{0x25, 0xFE, 0xFF, 0x03}));
}

TEST(AbcAssembler, MistakesAreReportedWithTheirLine) {
  EXPECT_EQ(ErrorOf("function f()\n    getlocl 0\nend\n"),
            "test.asm:2: unknown instruction 'getlocl'");
  EXPECT_EQ(ErrorOf("function f()\n    jump nowhere\nend\n"),
            "test.asm:2: undefined label 'nowhere'");
  EXPECT_EQ(ErrorOf("function f()\n    add\n    returnvoid\nend\n"),
            "test.asm:2: in 'f': add needs 2 stack values but 0 are there");
  EXPECT_EQ(ErrorOf("function f()\n    pushtrue\n    iftrue skip\n    pushnull\nskip:\n    "
                    "returnvoid\nend\n"),
            "test.asm:6: in 'f': paths meet with stack heights 0 and 1");
  EXPECT_EQ(ErrorOf("function f()\n    pushnull\n    pop\nend\n"),
            "test.asm:3: in 'f': execution runs past the end of the method");
  EXPECT_EQ(ErrorOf("function f()\n    returnvoid\n"), "test.asm:1: 'f' has no 'end'");
  EXPECT_EQ(ErrorOf("class A\n    var x:int = \"text\"\nend\n"),
            "test.asm:2: value 'text' does not suit type int");
  EXPECT_EQ(ErrorOf("class B extends A\nend\nclass A\nend\n"),
            "test.asm:1: base class 'A' must be declared before 'B'");
  EXPECT_EQ(ErrorOf("function f()\n    pushbyte 300\nend\n"),
            "test.asm:2: expected a value from -128 to 127, got '300'");
  EXPECT_EQ(ErrorOf("function f()\n    getlocal nobody\nend\n"),
            "test.asm:2: unknown register 'nobody' (declare it with 'local')");
  EXPECT_EQ(ErrorOf("function f()\nx:\nx:\n    returnvoid\nend\n"),
            "test.asm:3: label 'x' defined twice");
  EXPECT_EQ(ErrorOf("function f()\n    newfunction g\nend\n"), "test.asm:2: unknown function 'g'");
  EXPECT_EQ(ErrorOf("function f()\n    pushstring \"open\nend\n"),
            "test.asm:2: unterminated string");
  EXPECT_EQ(ErrorOf("class A\nend\nclass A\nend\n"), "test.asm:3: class 'A' declared twice");
  EXPECT_EQ(ErrorOf("class A\n    var x:int\n    method x()\n        returnvoid\n    end\nend\n"),
            "test.asm:3: 'x' declared twice");
  EXPECT_EQ(ErrorOf("function f(a = 1, b)\n    returnvoid\nend\n"),
            "test.asm:1: parameter 'b' without a default follows one with a default");
}
