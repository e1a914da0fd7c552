#include "AbcAssembler.h"

#include <algorithm>
#include <charconv>
#include <deque>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

#include "AbcAssembler_Private.h"
#include "AbcFlow.h"
#include "AbcOpcodes.h"

namespace fennick::abc {

namespace {

using namespace assembler_internal;

constexpr uint8_t kOpGetLocal = 0x62;
constexpr uint8_t kOpSetLocal = 0x63;
constexpr uint8_t kOpGetLocal0 = 0xD0;
constexpr uint8_t kOpSetLocal0 = 0xD4;
constexpr uint8_t kOpLabel = 0x09;
constexpr uint8_t kOpNewFunction = 0x40;
constexpr uint8_t kOpNewClass = 0x58;
constexpr uint32_t kScriptInitScope = 1;

// ---------------------------------------------------------------------------------------
// Names: see README.md for the forms.

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> SplitTopLevel(std::string_view list) {
  std::vector<std::string_view> parts;
  int depth = 0;
  size_t start = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i] == '<' || list[i] == '{') ++depth;
    if (list[i] == '>' || list[i] == '}') --depth;
    if (list[i] == ',' && depth == 0) {
      parts.push_back(Trim(list.substr(start, i - start)));
      start = i + 1;
    }
  }
  parts.push_back(Trim(list.substr(start)));
  return parts;
}

class Names {
 public:
  Names(ConstantPool& pool, int line) : pool_(pool), line_(line) {}

  // 0 stands for "*" (any type) where the caller allows it.
  uint32_t Parse(std::string_view text) {
    text = Trim(text);
    if (text == "*") return 0;
    bool attribute = false;
    if (!text.empty() && text[0] == '@') {
      attribute = true;
      text.remove_prefix(1);
    }
    if (text.empty()) Fail(line_, "empty name");
    if (text == "[]")
      return pool_.Name(
          Multiname{attribute ? kMultinameLA : kMultinameL, 0, 0, PublicSet(), 0, {}});
    if (text[0] == '{') return ParseSetName(text, attribute);
    if (text.substr(0, 2) == "::") return ParseRuntimeName(text.substr(2), attribute);
    const size_t angle = text.find('<');
    if (angle != std::string_view::npos) {
      if (attribute) Fail(line_, "a generic type name cannot be an attribute");
      return ParseTypeName(text, angle);
    }
    return QualifiedName(text, attribute);
  }

  uint32_t Required(std::string_view text) {
    const uint32_t index = Parse(text);
    if (index == 0) Fail(line_, "'*' is not allowed here");
    return index;
  }

 private:
  uint32_t PublicSet() { return pool_.NsSet({pool_.Ns(kNsPackage, "")}); }

  static std::string_view PackageName(std::string_view element) {
    return element == "\"\"" ? std::string_view() : element;
  }

  uint32_t QualifiedName(std::string_view text, bool attribute) {
    std::string_view package;
    std::string_view local = text;
    const size_t colons = text.find("::");
    if (colons != std::string_view::npos) {
      package = PackageName(text.substr(0, colons));
      local = text.substr(colons + 2);
    } else if (const size_t dot = text.rfind('.'); dot != std::string_view::npos) {
      package = text.substr(0, dot);
      local = text.substr(dot + 1);
    }
    if (local.empty()) Fail(line_, "name '" + std::string(text) + "' has no local part");
    Multiname name{
        attribute ? kQNameA : kQName, pool_.Ns(kNsPackage, package), pool_.String(local), 0, 0, {}};
    return pool_.Name(name);
  }

  uint32_t ParseSetName(std::string_view text, bool attribute) {
    const size_t close = text.find('}');
    if (close == std::string_view::npos || text.substr(close + 1, 2) != "::")
      Fail(line_, "a namespace set is written {pkg, pkg}::name");
    std::vector<uint32_t> set;
    for (std::string_view element : SplitTopLevel(text.substr(1, close - 1)))
      set.push_back(pool_.Ns(kNsPackage, PackageName(element)));
    const uint32_t nsSet = pool_.NsSet(set);
    const std::string_view local = text.substr(close + 3);
    if (local == "[]")
      return pool_.Name(Multiname{attribute ? kMultinameLA : kMultinameL, 0, 0, nsSet, 0, {}});
    if (local.empty()) Fail(line_, "namespace set without a name");
    return pool_.Name(
        Multiname{attribute ? kMultinameA : kMultiname, 0, pool_.String(local), nsSet, 0, {}});
  }

  uint32_t ParseRuntimeName(std::string_view local, bool attribute) {
    if (local == "[]")
      return pool_.Name(Multiname{attribute ? kRTQNameLA : kRTQNameL, 0, 0, 0, 0, {}});
    if (local.empty()) Fail(line_, "run-time namespace without a name");
    return pool_.Name(
        Multiname{attribute ? kRTQNameA : kRTQName, 0, pool_.String(local), 0, 0, {}});
  }

  uint32_t ParseTypeName(std::string_view text, size_t angle) {
    if (text.back() != '>') Fail(line_, "generic type name must end with '>'");
    std::string_view base = text.substr(0, angle);
    if (!base.empty() && base.back() == '.')
      base.remove_suffix(1);  // Vector.<T> as well as Vector<T>
    Multiname name{kTypeName, 0, 0, 0, Required(base), {}};
    for (std::string_view param : SplitTopLevel(text.substr(angle + 1, text.size() - angle - 2)))
      name.params.push_back(Parse(param));
    return pool_.Name(name);
  }

  ConstantPool& pool_;
  int line_;
};

// ---------------------------------------------------------------------------------------
// Declarations gathered by the first pass.

enum class Owner { kScript, kClassInit, kInstance, kFunction };

struct MethodDecl {
  uint32_t index = 0;  // method index
  Owner owner = Owner::kFunction;
  uint32_t classIndex = 0;
  std::vector<std::string> registerNames;  // this, parameters, rest/arguments
  std::vector<Line> body;
  int line = 0;
  std::string title;  // for messages
};

struct ClassDecl {
  std::string local;
  std::string package;
  std::string base;
  int line = 0;
};

class Assembler {
 public:
  explicit Assembler(std::string_view source) : lines_(SplitLines(source)) {}

  Assembly Run() {
    for (size_t i = 0; i < lines_.size();) i = TopLevel(i);
    AddScriptInit();
    for (MethodDecl& m : methods_) AssembleBody(m);
    AssignScopes();
    return std::move(result_);
  }

 private:
  ConstantPool& Pool() { return result_.abc.pool; }

  // --- first pass ----------------------------------------------------------------------

  size_t TopLevel(size_t i) {
    Cursor c(lines_[i]);
    if (c.PeekWord("function")) {
      c.TakeWord("function");
      const std::string name = c.Word("function name");
      if (functions_.count(name)) Fail(c.LineNumber(), "function '" + name + "' declared twice");
      MethodDecl& m = DeclareMethod(c, name, Owner::kFunction, 0, false);
      functions_[name] = m.index;
      return CollectBody(i + 1, m);
    }
    return ClassDeclaration(i);
  }

  size_t ClassDeclaration(size_t i) {
    Cursor c(lines_[i]);
    uint8_t flags = kClassSealed;
    for (;;) {
      if (c.TakeWord("dynamic")) {
        flags &= static_cast<uint8_t>(~kClassSealed);
      } else if (c.TakeWord("final")) {
        flags |= kClassFinal;
      } else {
        break;
      }
    }
    if (!c.TakeWord("class")) Fail(c.LineNumber(), "expected 'class' or 'function'");
    ClassDecl decl;
    decl.line = c.LineNumber();
    const std::string qualified = c.Word("class name");
    const size_t dot = qualified.rfind('.');
    decl.local = dot == std::string::npos ? qualified : qualified.substr(dot + 1);
    decl.package = dot == std::string::npos ? "" : qualified.substr(0, dot);
    if (classIndex_.count(qualified))
      Fail(c.LineNumber(), "class '" + qualified + "' declared twice");
    decl.base = c.TakeWord("extends") ? c.Word("base class name") : "Object";
    if (classIndex_.count(decl.base) == 0 && DeclaredLater(decl.base, i))
      Fail(c.LineNumber(),
           "base class '" + decl.base + "' must be declared before '" + qualified + "'");

    const uint32_t index = static_cast<uint32_t>(classes_.size());
    InstanceInfo inst;
    Names names(Pool(), c.LineNumber());
    inst.name = Pool().QName(decl.package, decl.local);
    inst.superName = names.Required(decl.base);
    inst.flags = flags;
    inst.protectedNs = Pool().Ns(
        kNsProtected, decl.package.empty() ? decl.local : decl.package + ":" + decl.local);
    if (c.TakeWord("implements")) {
      do inst.interfaces.push_back(names.Required(c.Word("interface name")));
      while (c.TakePunct(','));
    }
    c.ExpectEnd();
    classIndex_[qualified] = index;
    if (decl.package.empty() == false) classIndex_.emplace(decl.local, index);
    classes_.push_back(decl);
    result_.classes.push_back(qualified);
    result_.abc.instances.push_back(inst);
    result_.abc.classes.emplace_back();

    std::optional<uint32_t> ctor;
    std::optional<uint32_t> cinit;
    size_t j = i + 1;
    for (;;) {
      if (j >= lines_.size()) Fail(decl.line, "class '" + qualified + "' has no 'end'");
      Cursor member(lines_[j]);
      if (member.TakeWord("end")) {
        member.ExpectEnd();
        ++j;
        break;
      }
      j = Member(j, index, ctor, cinit);
    }
    if (!ctor)
      ctor = DefaultBody(Owner::kInstance, index, qualified,
                         {"getlocal0", "pushscope", "getlocal0", "constructsuper 0", "returnvoid"});
    if (!cinit)
      cinit = DefaultBody(Owner::kClassInit, index, qualified + "$cinit",
                          {"getlocal0", "pushscope", "returnvoid"});
    result_.abc.instances[index].init = *ctor;
    result_.abc.classes[index].init = *cinit;
    return j;
  }

  bool DeclaredLater(const std::string& name, size_t from) const {
    for (size_t k = from + 1; k < lines_.size(); ++k) {
      const auto& t = lines_[k].tokens;
      for (size_t w = 0; w + 1 < t.size(); ++w)
        if (t[w].kind == TokenKind::kWord && t[w].text == "class" && t[w + 1].text == name)
          return true;
    }
    return false;
  }

  size_t Member(size_t j, uint32_t classIndex, std::optional<uint32_t>& ctor,
                std::optional<uint32_t>& cinit) {
    Cursor c(lines_[j]);
    const std::string& className = result_.classes[classIndex];
    if (c.TakeWord("constructor")) {
      if (ctor) Fail(c.LineNumber(), "second constructor");
      MethodDecl& m = DeclareMethod(c, className, Owner::kInstance, classIndex, true);
      ctor = m.index;
      return CollectBody(j + 1, m);
    }
    if (c.TakeWord("classinit")) {
      if (cinit) Fail(c.LineNumber(), "second classinit");
      MethodDecl& m =
          NewMethod(Owner::kClassInit, classIndex, c.LineNumber(), className + "$cinit");
      result_.abc.methods[m.index].name = Pool().String(m.title);
      c.ExpectEnd();
      cinit = m.index;
      return CollectBody(j + 1, m);
    }
    bool isStatic = false;
    uint8_t attributes = 0;
    for (;;) {
      if (c.TakeWord("static")) {
        isStatic = true;
      } else if (c.TakeWord("override")) {
        attributes |= kTraitOverride;
      } else if (c.TakeWord("final")) {
        attributes |= kTraitFinal;
      } else {
        break;
      }
    }
    std::vector<Trait>& traits = isStatic ? result_.abc.classes[classIndex].traits
                                          : result_.abc.instances[classIndex].traits;
    const Owner owner = isStatic ? Owner::kClassInit : Owner::kInstance;
    TraitNames& names = traitNames_[{classIndex, isStatic}];
    if (c.PeekWord("var") || c.PeekWord("const")) {
      if (attributes != 0) Fail(c.LineNumber(), "override and final apply to methods only");
      AddTrait(traits, names, SlotTrait(c), c.LineNumber());
      return j + 1;
    }
    uint8_t kind = kTraitMethod;
    if (c.TakeWord("getter")) {
      kind = kTraitGetter;
    } else if (c.TakeWord("setter")) {
      kind = kTraitSetter;
    } else if (!c.TakeWord("method")) {
      Fail(c.LineNumber(),
           "expected var, const, method, getter, setter, constructor, classinit or end");
    }
    const std::string name = c.Word("method name");
    MethodDecl& m =
        DeclareMethod(c, className + "/" + name, owner, classIndex, false, kind == kTraitSetter);
    Trait trait;
    trait.name = Pool().QName("", name);
    trait.kind = kind;
    trait.attributes = attributes;
    trait.index = m.index;
    AddTrait(traits, names, trait, c.LineNumber());
    return CollectBody(j + 1, m);
  }

  // The kinds already declared under each name of one set of traits: classes may carry
  // many thousands of slots, so the check must not walk the list.
  using TraitNames = std::unordered_map<uint32_t, uint8_t>;
  enum TraitKindBits : uint8_t { kGetterBit = 1, kSetterBit = 2, kOtherBit = 4 };

  static uint8_t TraitKindBit(uint8_t kind) {
    return kind == kTraitGetter ? kGetterBit : kind == kTraitSetter ? kSetterBit : kOtherBit;
  }

  // One trait per name, except that a getter and a setter make a pair.
  void AddTrait(std::vector<Trait>& traits, TraitNames& names, const Trait& trait, int line) {
    const uint8_t bit = TraitKindBit(trait.kind);
    const uint8_t partner = bit == kGetterBit ? kSetterBit : bit == kSetterBit ? kGetterBit : 0;
    uint8_t& seen = names[trait.name];
    if ((seen & ~partner) != 0)
      Fail(line,
           "'" + Pool().Strings().at(Pool().MultinameAt(trait.name).name - 1) + "' declared twice");
    seen |= bit;
    traits.push_back(trait);
  }

  Trait SlotTrait(Cursor& c) {
    Trait trait;
    trait.kind = c.TakeWord("const") ? kTraitConst : kTraitSlot;
    if (trait.kind == kTraitSlot) c.TakeWord("var");
    const std::string name = c.Word("slot name");
    std::string type = "*";
    if (c.TakePunct(':')) type = c.Word("type");
    trait.name = Pool().QName("", name);
    trait.typeName = Names(Pool(), c.LineNumber()).Parse(type);
    if (c.TakePunct('=')) trait.value = Constant(c.Any("value"), type, c.LineNumber());
    c.ExpectEnd();
    return trait;
  }

  // A literal as a default value, its kind chosen by the declared type.
  ConstantValue Constant(const Token& token, const std::string& type, int line) {
    auto mismatch = [&]() -> ConstantValue {
      Fail(line, "value '" + token.text + "' does not suit type " + type);
    };
    if (token.kind == TokenKind::kString) {
      if (type != "String" && type != "*" && type != "Object") return mismatch();
      return ConstantValue{Pool().String(token.text), kConstUtf8};
    }
    if (token.kind != TokenKind::kWord) return mismatch();
    const std::string& t = token.text;
    if (t == "null") return ConstantValue{kConstNull, kConstNull};
    if (t == "undefined") return ConstantValue{0, kConstUndefined};
    if (t == "true" || t == "false") {
      if (type != "Boolean" && type != "*" && type != "Object") return mismatch();
      return t == "true" ? ConstantValue{kConstTrue, kConstTrue}
                         : ConstantValue{kConstFalse, kConstFalse};
    }
    if (type == "int")
      return ConstantValue{Pool().Int(Integer<int32_t>(t, line, "an int")), kConstInt};
    if (type == "uint")
      return ConstantValue{Pool().UInt(Integer<uint32_t>(t, line, "a uint")), kConstUInt};
    if (type == "Number" || type == "*" || type == "Object") {
      if (type != "Number")
        if (auto i = ParseInteger<int32_t>(t)) return ConstantValue{Pool().Int(*i), kConstInt};
      if (auto d = ParseNumber(t)) return ConstantValue{Pool().Double(*d), kConstDouble};
    }
    return mismatch();
  }

  MethodDecl& NewMethod(Owner owner, uint32_t classIndex, int line, std::string title) {
    MethodDecl m;
    m.index = static_cast<uint32_t>(result_.abc.methods.size());
    m.owner = owner;
    m.classIndex = classIndex;
    m.line = line;
    m.title = std::move(title);
    m.registerNames.push_back("this");
    result_.abc.methods.emplace_back();
    methods_.push_back(std::move(m));
    return methods_.back();
  }

  // Parses "(params) [:type] [flags]" and creates the method.
  MethodDecl& DeclareMethod(Cursor& c, const std::string& title, Owner owner, uint32_t classIndex,
                            bool constructor, bool setter = false) {
    MethodDecl& m = NewMethod(owner, classIndex, c.LineNumber(), title);
    MethodInfo& info = result_.abc.methods[m.index];
    info.name = Pool().String(
        title.substr(title.rfind('/') == std::string::npos ? 0 : title.rfind('/') + 1));
    Names names(Pool(), c.LineNumber());
    c.ExpectPunct('(');
    bool rest = false;
    if (!c.TakePunct(')')) {
      do {
        std::string name = c.Word("parameter name");
        if (rest) Fail(c.LineNumber(), "the rest parameter must be the last");
        if (name.rfind("...", 0) == 0) {
          rest = true;
          info.flags |= kMethodNeedRest;
          name = name.substr(3);
        }
        AddRegister(m, name, c.LineNumber());
        if (rest) continue;
        std::string type = "*";
        if (c.TakePunct(':')) type = c.Word("parameter type");
        info.paramTypes.push_back(names.Parse(type));
        if (c.TakePunct('=')) {
          info.optionals.push_back(Constant(c.Any("default value"), type, c.LineNumber()));
        } else if (!info.optionals.empty()) {
          Fail(c.LineNumber(),
               "parameter '" + name + "' without a default follows one with a default");
        }
      } while (c.TakePunct(','));
      c.ExpectPunct(')');
    }
    if (c.TakePunct(':')) {
      if (constructor) Fail(c.LineNumber(), "a constructor has no return type");
      info.returnType = names.Parse(c.Word("return type"));
    } else if (constructor || setter) {
      info.returnType = Pool().QName("", "void");
    }
    while (!c.AtEnd()) {
      const std::string flag = c.Word("method flag");
      if (flag == "activation") {
        info.flags |= kMethodNeedActivation;
      } else if (flag == "arguments") {
        if (rest) Fail(c.LineNumber(), "a method with a rest parameter cannot use 'arguments'");
        info.flags |= kMethodNeedArguments;
        AddRegister(m, "arguments", c.LineNumber());
      } else if (flag == "dxns") {
        info.flags |= kMethodSetDxns;
      } else {
        Fail(c.LineNumber(), "unknown method flag '" + flag + "'");
      }
    }
    return m;
  }

  static void AddRegister(MethodDecl& m, const std::string& name, int line) {
    if (std::find(m.registerNames.begin(), m.registerNames.end(), name) != m.registerNames.end())
      Fail(line, "register name '" + name + "' used twice");
    m.registerNames.push_back(name);
  }

  size_t CollectBody(size_t j, MethodDecl& m) {
    for (; j < lines_.size(); ++j) {
      Cursor c(lines_[j]);
      if (c.TakeWord("end") && c.AtEnd()) return j + 1;
      m.body.push_back(lines_[j]);
    }
    Fail(m.line, "'" + m.title + "' has no 'end'");
  }

  uint32_t DefaultBody(Owner owner, uint32_t classIndex, const std::string& title,
                       std::vector<std::string> code) {
    MethodDecl& m = NewMethod(owner, classIndex, classes_[classIndex].line, title);
    result_.abc.methods[m.index].name = Pool().String(title);
    if (owner == Owner::kInstance)
      result_.abc.methods[m.index].returnType = Pool().QName("", "void");
    for (const std::string& text : code) m.body.push_back(Line{m.line, Tokenize(text, m.line)});
    return m.index;
  }

  // Creates every class in declaration order and stores it in a global slot; each class
  // sees its base class on the scope chain while it is created.
  void AddScriptInit() {
    std::vector<std::string> code = {"getlocal0", "pushscope"};
    ScriptInfo script;
    for (size_t i = 0; i < classes_.size(); ++i) {
      const std::string base = classes_[i].base;
      const std::string self = result_.classes[i];
      code.insert(code.end(), {"getscopeobject 0", "getlex " + base, "dup", "pushscope",
                               "newclass " + self, "popscope", "initproperty " + self});
      Trait trait;
      trait.name = result_.abc.instances[i].name;
      trait.kind = kTraitClass;
      trait.id = static_cast<uint32_t>(i + 1);
      trait.index = static_cast<uint32_t>(i);
      script.traits.push_back(trait);
    }
    code.push_back("returnvoid");
    MethodDecl& m = NewMethod(Owner::kScript, 0, 0, "script");
    for (const std::string& text : code) m.body.push_back(Line{0, Tokenize(text, 0)});
    script.init = m.index;
    result_.abc.scripts.push_back(script);
  }

  // --- second pass ---------------------------------------------------------------------

  struct Fixup {
    size_t at;    // where the s24 goes
    size_t base;  // offset it is relative to
    std::string label;
    int line;
  };

  struct CatchDecl {
    std::string from;
    std::string to;
    std::string target;
    std::string type;
    std::string var;
    int line;
  };

  struct Emitter {
    Bytes code;
    std::map<std::string, size_t> labels;
    std::vector<Fixup> fixups;
    std::vector<std::pair<size_t, int>> lineAt;  // instruction offset, source line
  };

  void AssembleBody(MethodDecl& m) {
    Emitter e;
    MethodBody body;
    body.method = m.index;
    std::vector<std::string> registers = m.registerNames;
    const std::set<std::string> backward = BackwardLabels(m);
    std::vector<CatchDecl> catches;

    for (const Line& line : m.body) {
      Cursor c(line);
      if (c.TakeWord("local")) {
        do AddRegisterTo(registers, c.Word("local name"), line.number);
        while (c.TakePunct(','));
        c.ExpectEnd();
        continue;
      }
      if (c.TakeWord("catch")) {
        CatchDecl decl{c.Word("range start label"),
                       c.Word("range end label"),
                       c.Word("handler label"),
                       "*",
                       "",
                       line.number};
        if (!c.AtEnd()) decl.type = c.Word("exception type");
        if (!c.AtEnd()) decl.var = c.Word("variable name");
        c.ExpectEnd();
        catches.push_back(decl);
        continue;
      }
      if (IsLabelLine(line)) {
        const std::string label = c.Word("label");
        c.ExpectPunct(':');
        if (!e.labels.emplace(label, e.code.size()).second)
          Fail(line.number, "label '" + label + "' defined twice");
        if (backward.count(label)) {
          e.lineAt.emplace_back(e.code.size(), line.number);
          e.code.push_back(kOpLabel);
        }
        if (c.AtEnd()) continue;
      }
      e.lineAt.emplace_back(e.code.size(), line.number);
      Instruction(c, e, registers);
    }
    for (const Fixup& f : e.fixups) {
      const auto it = e.labels.find(f.label);
      if (it == e.labels.end()) Fail(f.line, "undefined label '" + f.label + "'");
      Bytes s24;
      WriteS24(s24, static_cast<int32_t>(static_cast<int64_t>(it->second) -
                                         static_cast<int64_t>(f.base)));
      std::copy(s24.begin(), s24.end(), e.code.begin() + static_cast<std::ptrdiff_t>(f.at));
    }
    for (const CatchDecl& decl : catches) {
      auto labelAt = [&](const std::string& label) {
        const auto it = e.labels.find(label);
        if (it == e.labels.end()) Fail(decl.line, "undefined label '" + label + "'");
        return static_cast<uint32_t>(it->second);
      };
      ExceptionInfo info;
      info.from = labelAt(decl.from);
      info.to = labelAt(decl.to);
      info.target = labelAt(decl.target);
      info.type = Names(Pool(), decl.line).Parse(decl.type);
      if (!decl.var.empty()) info.varName = Pool().QName("", decl.var);
      body.exceptions.push_back(info);
    }
    body.code = std::move(e.code);
    try {
      const FlowLimits limits =
          AnalyzeFlow(body.code, Pool(), body.exceptions,
                      std::max<uint32_t>(EntryLocals(result_.abc.methods[m.index]),
                                         static_cast<uint32_t>(registers.size())));
      body.maxStack = limits.maxStack;
      body.localCount = limits.localCount;
      body.maxScopeDepth = limits.maxLocalScope;  // made absolute once the outer depths are known
      sites_[m.index] = limits.sites;
    } catch (const FlowError& error) {
      int line = m.line;
      for (const auto& [offset, number] : e.lineAt)
        if (offset <= error.Offset()) line = number;
      Fail(line, "in '" + m.title + "': " + error.what());
    }
    result_.abc.bodies.push_back(std::move(body));
  }

  static void AddRegisterTo(std::vector<std::string>& registers, const std::string& name,
                            int line) {
    if (std::find(registers.begin(), registers.end(), name) != registers.end())
      Fail(line, "register name '" + name + "' used twice");
    registers.push_back(name);
  }

  static bool IsLabelLine(const Line& line) {
    const auto& t = line.tokens;
    return t.size() >= 2 && t[0].kind == TokenKind::kWord && t[1].kind == TokenKind::kPunct &&
           t[1].text == ":";
  }

  // Labels that a branch at or after them jumps to: the runtime wants a label instruction
  // at the target of every backward branch.
  static std::set<std::string> BackwardLabels(const MethodDecl& m) {
    std::set<std::string> seen;
    std::set<std::string> backward;
    for (const Line& line : m.body) {
      size_t first = 0;
      if (IsLabelLine(line)) {
        seen.insert(line.tokens[0].text);
        first = 2;
      }
      if (first >= line.tokens.size()) continue;
      const OpcodeInfo* op = FindOpcode(line.tokens[first].text);
      if (op == nullptr ||
          (op->operand != Operand::kBranch && op->operand != Operand::kLookupSwitch))
        continue;
      for (size_t k = first + 1; k < line.tokens.size(); ++k)
        if (seen.count(line.tokens[k].text)) backward.insert(line.tokens[k].text);
    }
    return backward;
  }

  uint32_t Register(const std::string& text, const std::vector<std::string>& registers, int line) {
    if (auto n = ParseInteger<uint32_t>(text)) return *n;
    const auto it = std::find(registers.begin(), registers.end(), text);
    if (it == registers.end())
      Fail(line, "unknown register '" + text + "' (declare it with 'local')");
    return static_cast<uint32_t>(it - registers.begin());
  }

  uint32_t MethodByName(const std::string& name, int line) {
    const auto it = functions_.find(name);
    if (it == functions_.end()) Fail(line, "unknown function '" + name + "'");
    return it->second;
  }

  void Instruction(Cursor& c, Emitter& e, const std::vector<std::string>& registers) {
    const int line = c.LineNumber();
    const std::string name = c.Word("instruction");
    const OpcodeInfo* op = FindOpcode(name);
    if (op == nullptr) Fail(line, "unknown instruction '" + name + "'");
    Bytes& out = e.code;
    const size_t start = out.size();
    Names names(Pool(), line);
    auto next = [&](const char* what) -> std::string {
      c.TakePunct(',');
      const Token& t = c.Any(what);
      return t.text;
    };
    auto count = [&] {
      return Integer<uint32_t>(next("argument count"), line, "an argument count");
    };
    auto branch = [&](size_t base) {
      e.fixups.push_back(Fixup{out.size(), base, next("label"), line});
      WriteS24(out, 0);
    };

    if (op->code == kOpGetLocal || op->code == kOpSetLocal) {
      const uint32_t reg = Register(next("register"), registers, line);
      if (reg <= 3) {
        out.push_back(
            static_cast<uint8_t>((op->code == kOpGetLocal ? kOpGetLocal0 : kOpSetLocal0) + reg));
      } else {
        out.push_back(op->code);
        WriteU30(out, reg);
      }
      c.ExpectEnd();
      return;
    }
    out.push_back(op->code);
    switch (op->operand) {
      case Operand::kNone:
        break;
      case Operand::kByte:
        out.push_back(static_cast<uint8_t>(
            Integer<int8_t>(next("byte value"), line, "a value from -128 to 127")));
        break;
      case Operand::kUByte:
        out.push_back(Integer<uint8_t>(next("index"), line, "a value from 0 to 255"));
        break;
      case Operand::kU30:
        if (name == "pushshort") {
          WriteU30(out, static_cast<uint16_t>(
                            Integer<int16_t>(next("value"), line, "a value from -32768 to 32767")));
        } else {
          WriteU30(out, Integer<uint32_t>(next("number"), line, "a number"));
        }
        break;
      case Operand::kRegister:
        WriteU30(out, Register(next("register"), registers, line));
        break;
      case Operand::kString:
        c.TakePunct(',');
        WriteU30(out, Pool().String(c.String("string literal")));
        break;
      case Operand::kInt:
        WriteU30(out, Pool().Int(Integer<int32_t>(next("int value"), line, "an int")));
        break;
      case Operand::kUInt:
        WriteU30(out, Pool().UInt(Integer<uint32_t>(next("uint value"), line, "a uint")));
        break;
      case Operand::kDouble: {
        const std::string text = next("number");
        const auto value = ParseNumber(text);
        if (!value) Fail(line, "expected a number, got '" + text + "'");
        WriteU30(out, Pool().Double(*value));
        break;
      }
      case Operand::kNamespace:  // a package name, or "" for the public namespace
        WriteU30(out, Pool().Ns(kNsPackage, next("package name")));
        break;
      case Operand::kMultiname:
        WriteU30(out, names.Required(next("name")));
        break;
      case Operand::kMultinameArgc:
        WriteU30(out, names.Required(next("name")));
        WriteU30(out, count());
        break;
      case Operand::kMethod:
        WriteU30(out, MethodByName(next("function name"), line));
        break;
      case Operand::kMethodArgc:
        WriteU30(out, MethodByName(next("function name"), line));
        WriteU30(out, count());
        break;
      case Operand::kDispArgc:
        WriteU30(out, Integer<uint32_t>(next("dispatch id"), line, "a dispatch id"));
        WriteU30(out, count());
        break;
      case Operand::kClass: {
        const std::string cls = next("class name");
        const auto it = classIndex_.find(cls);
        if (it == classIndex_.end()) Fail(line, "unknown class '" + cls + "'");
        WriteU30(out, it->second);
        break;
      }
      case Operand::kException:
        WriteU30(out, Integer<uint32_t>(next("exception index"), line, "an exception index"));
        break;
      case Operand::kBranch:
        branch(start + 4);
        break;
      case Operand::kLookupSwitch: {
        branch(start);
        std::vector<std::string> cases;
        while (!c.AtEnd()) cases.push_back(next("case label"));
        if (cases.empty()) Fail(line, "lookupswitch needs at least one case label");
        WriteU30(out, static_cast<uint32_t>(cases.size() - 1));
        for (const std::string& label : cases) {
          e.fixups.push_back(Fixup{out.size(), start, label, line});
          WriteS24(out, 0);
        }
        break;
      }
      case Operand::kHasNext2:
        WriteU30(out, Register(next("object register"), registers, line));
        WriteU30(out, Register(next("index register"), registers, line));
        break;
      case Operand::kDebug:
        out.push_back(Integer<uint8_t>(next("debug type"), line, "a debug type"));
        c.TakePunct(',');
        WriteU30(out, Pool().String(c.String("debug name")));
        out.push_back(static_cast<uint8_t>(Register(next("register"), registers, line)));
        WriteU30(out, Integer<uint32_t>(next("extra"), line, "a number"));
        break;
    }
    c.ExpectEnd();
  }

  // --- scopes --------------------------------------------------------------------------

  // init_scope_depth of each method: the script starts at 1; a class's static initialiser
  // sees the script's scope where newclass ran, its instance methods one more (the class);
  // a closure sees its creator's scope where newfunction ran.
  void AssignScopes() {
    std::map<uint32_t, uint32_t> init;
    std::map<uint32_t, uint32_t> classOuter;
    const uint32_t scriptMethod = result_.abc.scripts[0].init;
    init[scriptMethod] = kScriptInitScope;
    for (const ScopeSite& site : sites_[scriptMethod])
      if (site.opcode == kOpNewClass) classOuter[site.index] = kScriptInitScope + site.scopeDepth;
    for (const MethodDecl& m : methods_) {
      if (m.owner == Owner::kClassInit) init[m.index] = classOuter[m.classIndex];
      if (m.owner == Owner::kInstance) init[m.index] = classOuter[m.classIndex] + 1;
    }
    // Closures nest; settle them over as many rounds as there are methods.
    for (size_t round = 0; round < methods_.size(); ++round) {
      bool changed = false;
      for (const auto& [creator, sites] : sites_) {
        if (!init.count(creator)) continue;
        for (const ScopeSite& site : sites) {
          if (site.opcode != kOpNewFunction) continue;
          const uint32_t depth = init[creator] + site.scopeDepth;
          auto [it, inserted] = init.emplace(site.index, depth);
          if (!inserted && it->second < depth) {
            it->second = depth;
            inserted = true;
          }
          changed = changed || inserted;
        }
      }
      if (!changed) break;
    }
    for (MethodBody& body : result_.abc.bodies) {
      body.initScopeDepth = init.count(body.method) ? init[body.method] : kScriptInitScope;
      body.maxScopeDepth += body.initScopeDepth;
    }
  }

  std::vector<Line> lines_;
  Assembly result_;
  std::vector<ClassDecl> classes_;
  std::map<std::string, uint32_t> classIndex_;
  std::map<std::string, uint32_t> functions_;
  std::deque<MethodDecl>
      methods_;  // a deque: declarations hand out references while more are added
  std::map<uint32_t, std::vector<ScopeSite>> sites_;
  std::map<std::pair<uint32_t, bool>, TraitNames> traitNames_;  // by class, static or not
};

}  // namespace

Assembly Assemble(std::string_view source, std::string_view sourceName) {
  try {
    return Assembler(source).Run();
  } catch (const AsmError& e) {
    const std::string where = e.Line() > 0
                                  ? std::string(sourceName) + ":" + std::to_string(e.Line())
                                  : std::string(sourceName);
    throw AsmError(where + ": " + e.what(), e.Line());
  } catch (const swf::SwfError& e) {
    throw AsmError(std::string(sourceName) + ": " + e.what(), 0);
  }
}

std::string QuoteAsmString(std::string_view text) {
  static const char digits[] = "0123456789abcdef";
  std::string out = "\"";
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\x";
          out += digits[c >> 4];
          out += digits[c & 15];
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

}  // namespace fennick::abc
