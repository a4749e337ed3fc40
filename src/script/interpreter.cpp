#include "script/interpreter.h"

#include <cmath>
#include <new>
#include <optional>
#include <stdexcept>

#include "platform/host_error.h"
#include "platform/msgbox.h"
#include "platform/text.h"
#include "platform/vb.h"
#include "script/builtins.h"
#include "script/compiler.h"
#include "script/lexer.h"
#include "script/script_errors.h"

namespace fern::script {

namespace {

constexpr int kMaxDepth = 900;
constexpr unsigned kGet = kMethod | kPropGet;

enum EngineFn {
  kFnEval,
  kFnExecute,
  kFnExecuteGlobal,
  kFnMsgBox,
  kFnInputBox,
  kFnCreateObject,
  kFnGetObject
};

int EngineFnOf(const std::string& lower) {
  static const std::unordered_map<std::string, int> kFns = {
      {"eval", kFnEval},          {"execute", kFnExecute},   {"executeglobal", kFnExecuteGlobal},
      {"msgbox", kFnMsgBox},      {"inputbox", kFnInputBox}, {"createobject", kFnCreateObject},
      {"getobject", kFnGetObject}};
  auto it = kFns.find(lower);
  return it == kFns.end() ? -1 : it->second;
}

// Whether two values are the same, to tell whether a callee changed a by-reference argument.
bool SameValue(const Variant& a, const Variant& b) {
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case VType::Empty:
    case VType::Null:
      return true;
    case VType::Boolean:
      return a.boolVal() == b.boolVal();
    case VType::Integer:
      return a.intVal() == b.intVal();
    case VType::Long:
    case VType::Error:
      return a.longVal() == b.longVal();
    case VType::Single:
      return a.singleVal() == b.singleVal();
    case VType::Double:
    case VType::Date:
      return a.doubleVal() == b.doubleVal();
    case VType::Currency:
      return a.currencyVal() == b.currencyVal();
    case VType::Byte:
      return a.byteVal() == b.byteVal();
    case VType::String:
      return a.str() == b.str();
    case VType::Object:
      return a.obj() == b.obj();
    default:
      return false;
  }
}

int32_t ToIndex(const Variant& v) { return vb::CLng(v); }

// The value an object stands for where a value is needed: its default member.
Variant DefaultValue(Variant v) {
  for (int guard = 0; v.IsObject() && guard < 8; ++guard) {
    if (!v.obj()) Throw(kErrObjectNotSet);
    v = v.obj()->Invoke("", kGet, {});
  }
  return v;
}

HostError AsHostError(const std::exception& ex) {
  if (dynamic_cast<const std::bad_alloc*>(&ex) || dynamic_cast<const std::length_error*>(&ex))
    return HostError(7, std::string(ErrorText(7)), ErrorSource(7));
  return HostError(51, std::string("Internal error: ") + ex.what(), ErrorSource(51));
}

}  // namespace

// --- the Err object --------------------------------------------------------------------

class ErrObject : public Dispatch {
 public:
  int32_t number = 0;
  std::string description, source, helpFile;
  int32_t helpContext = 0;

  void Set(const HostError& e) {
    number = e.number();
    description = e.description();
    source = e.source().empty() ? ErrorSource(e.number()) : e.source();
  }
  void Clear() {
    number = 0;
    helpContext = 0;
    description.clear();
    source.clear();
    helpFile.clear();
  }

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override {
    bool let = (kind & (kPropLet | kPropSet)) != 0;
    auto textProp = [&](std::string& field) -> Variant {
      if (let) {
        CheckArgCount(args, 1, 1, name);
        field = vb::CStr(DefaultValue(args[0]));
        return Variant();
      }
      return Variant(field);
    };
    if (name.empty() || NameIs(name, "Number")) {
      if (let) {
        CheckArgCount(args, 1, 1, name);
        number = vb::CLng(DefaultValue(args[0]));
        return Variant();
      }
      CheckArgCount(args, 0, 0, "Number");
      return Variant(number);
    }
    if (NameIs(name, "Description")) return textProp(description);
    if (NameIs(name, "Source")) return textProp(source);
    if (NameIs(name, "HelpFile")) return textProp(helpFile);
    if (NameIs(name, "HelpContext")) {
      if (let) {
        CheckArgCount(args, 1, 1, name);
        helpContext = vb::CLng(DefaultValue(args[0]));
        return Variant();
      }
      return Variant(helpContext);
    }
    if (NameIs(name, "Clear")) {
      Clear();
      return Variant();
    }
    if (NameIs(name, "Raise")) {
      CheckArgCount(args, 1, 5, name);
      auto given = [&](size_t i) { return i < args.size() && !args[i].IsMissing(); };
      int32_t n = vb::CLng(DefaultValue(args[0]));
      std::string src = given(1) ? vb::CStr(DefaultValue(args[1])) : ErrorSource(n);
      std::string desc;
      if (given(2))
        desc = vb::CStr(DefaultValue(args[2]));
      else if (!ErrorText(n).empty())
        desc = std::string(ErrorText(n));
      else
        desc = "Unknown runtime error";
      throw HostError(n, desc, src);
    }
    ThrowNoMember(name);
  }
  std::string TypeName() const override { return "ErrObject"; }
};

// --- ScriptObject ------------------------------------------------------------------------

ScriptObject::ScriptObject(std::shared_ptr<Instance> inst, Interpreter* interp,
                           std::shared_ptr<bool> alive, bool runTerminate)
    : inst_(std::move(inst)),
      interp_(interp),
      alive_(std::move(alive)),
      runTerminate_(runTerminate) {}

ScriptObject::~ScriptObject() {
  if (runTerminate_ && *alive_ && inst_->cls->terminate) interp_->RunTerminate(inst_);
}

Variant ScriptObject::Invoke(std::string_view name, unsigned kind, std::span<Variant> args) {
  if (!*alive_) throw HostError(kErrObjectRequired, "The script engine of this object is gone");
  return interp_->EnterFromHost(shared_from_this(), *inst_, name, kind, args);
}

std::string ScriptObject::TypeName() const { return inst_->cls->display; }

// --- set-up and host entry points ----------------------------------------------------------

Interpreter::Interpreter() : alive_(std::make_shared<bool>(true)) { InstallErr(); }

Interpreter::~Interpreter() {
  // Terminate handlers of objects released here still find a working interpreter; afterwards
  // objects that outlive us (held by the host) no longer call in.
  try {
    entries_ = 0;
    Reset();
  } catch (...) {
  }
  *alive_ = false;
}

void Interpreter::InstallErr() {
  err_ = std::make_shared<ErrObject>();
  int gi = AddGlobal("err", "Err");
  globals_[gi].value = Variant(std::static_pointer_cast<Dispatch>(err_));
  globals_[gi].readOnly = true;
}

void Interpreter::Reset() {
  if (entries_ > 0) {
    resetPending_ = true;
    return;
  }
  resetPending_ = false;
  // Values first (their Class_Terminate may still run script code), then the code.
  std::deque<Global> old;
  old.swap(globals_);
  globalIndex_.clear();
  ++generation_;
  InstallErr();
  for (auto& g : old) {
    try {
      g.value = Variant();
    } catch (...) {
    }
  }
  old.clear();
  units_.clear();
  errPinned_ = false;
}

template <typename Fn>
auto Interpreter::Guard(Fn&& fn) -> decltype(fn()) {
  bool outer = entries_ == 0;
  if (outer) {
    errPinned_ = false;
    hasDeadline_ = timeoutMs > 0;
    if (hasDeadline_)
      deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  }
  ++entries_;
  struct Leave {
    Interpreter* self;
    bool outer;
    ~Leave() {
      --self->entries_;
      if (outer) {
        self->hasDeadline_ = false;
        if (self->resetPending_) {
          try {
            self->Reset();
          } catch (...) {
          }
        }
      }
    }
  } leave{this, outer};
  try {
    return fn();
  } catch (const ScriptAbort&) {
    if (!outer) throw;
    HostError e(kErrTimeout,
                std::string(ErrorText(kErrTimeout)) + " of " + std::to_string(timeoutMs) + " ms",
                ErrorSource(kErrTimeout));
    RecordError(e);
    throw e;
  } catch (const HostError& e) {
    RecordError(e);
    errPinned_ = false;
    throw;
  } catch (const std::exception& ex) {
    HostError e = AsHostError(ex);
    RecordError(e);
    errPinned_ = false;
    throw e;
  }
}

void Interpreter::ClearError() {
  lastError_ = ScriptError();
  err_->Clear();
}

void Interpreter::RecordError(const HostError& e) {
  lastError_ = ScriptError();
  lastError_.number = e.number();
  lastError_.description = e.description();
  lastError_.source = e.source().empty() ? ErrorSource(e.number()) : e.source();
  if (errPinned_) {
    lastError_.sourceName = errSourceName_;
    lastError_.line = errLine_;
    lastError_.text = errText_;
  }
  err_->Set(e);
}

std::shared_ptr<Unit> Interpreter::CompileOrRecord(std::string_view code, std::string_view name,
                                                   ParseMode mode) {
  int line = 0;
  try {
    return Compile(code, name, mode, line);
  } catch (const HostError& e) {
    // Compile errors point at their line of the text that failed to compile.
    Unit holder;
    holder.sourceName = std::string(name);
    holder.lines = SplitLines(code);
    Pin(line, &holder);
    throw;
  }
}

void Interpreter::AddCode(std::string_view code, std::string_view sourceName) {
  Guard([&] {
    std::string text;
    if (code.find("#@~^") != std::string_view::npos) {
      text = DecodeScriptEncoded(code);
      code = text;
    }
    auto unit = CompileOrRecord(code, sourceName, ParseMode::Code);
    Define(unit);
    RunTop(unit, nullptr, nullptr);
    return 0;
  });
}

void Interpreter::AddObject(std::string_view name, std::shared_ptr<Dispatch> object) {
  std::string lower = text::LowerAscii(name);
  int gi = FindGlobal(lower);
  if (gi < 0) gi = AddGlobal(lower, std::string(name));
  Global& g = globals_[gi];
  g.proc = nullptr;
  g.cls = nullptr;
  g.value = Variant(std::move(object));
  g.readOnly = true;
}

Variant Interpreter::Run(std::string_view procName, std::span<Variant> args) {
  return Guard([&] {
    int gi = FindGlobal(text::LowerAscii(procName));
    if (gi < 0 || !globals_[gi].proc) ThrowNamed(kErrNotDefined, procName);
    return CallProc(*globals_[gi].proc, nullptr, nullptr, args);
  });
}

bool Interpreter::HasProcedure(std::string_view name) const {
  int gi = FindGlobal(text::LowerAscii(name));
  return gi >= 0 && globals_[gi].proc != nullptr;
}

Variant Interpreter::EvalText(std::string_view expression) {
  return Guard([&] {
    auto unit = CompileOrRecord(expression, "", ParseMode::Expression);
    std::vector<Variant> locals(unit->top.numLocals);
    Frame f;
    f.proc = &unit->top;
    f.locals = locals.data();
    f.explicitVars = unit->optionExplicit;
    return Eval(*unit->evalExpr, f);
  });
}

void Interpreter::ExecuteStatement(std::string_view code) {
  Guard([&] {
    auto unit = CompileOrRecord(code, "", ParseMode::Code);
    Define(unit);
    RunTop(unit, nullptr, nullptr);
    return 0;
  });
}

Variant Interpreter::EnterFromHost(const std::shared_ptr<Dispatch>& self, Instance& inst,
                                   std::string_view name, unsigned kind, std::span<Variant> args) {
  if (entries_ > 0) {
    try {
      return InvokeMember(self, inst, name, kind, args, false);
    } catch (...) {
      // The host caller handles it or passes it on; either way the place to report is
      // found again where it surfaces.
      errPinned_ = false;
      throw;
    }
  }
  return Guard([&] { return InvokeMember(self, inst, name, kind, args, false); });
}

void Interpreter::RunTerminate(const std::shared_ptr<Instance>& inst) {
  // Me inside Class_Terminate is a fresh reference that does not terminate again.
  auto self = std::make_shared<ScriptObject>(inst, this, alive_, false);
  bool savedPinned = errPinned_;
  try {
    ++entries_;
    CallProc(*inst->cls->terminate, self, inst.get(), {});
  } catch (...) {
    // VBScript ignores errors in Class_Terminate.
  }
  --entries_;
  errPinned_ = savedPinned;
}

// --- definitions ---------------------------------------------------------------------------

void Interpreter::Pin(int line, const Unit* unit) {
  errPinned_ = true;
  errLine_ = line;
  errSourceName_ = unit ? unit->sourceName : std::string();
  errText_.clear();
  if (unit && line >= 1 && line <= static_cast<int>(unit->lines.size()))
    errText_ = unit->lines[line - 1];
}

int Interpreter::FindGlobal(const std::string& lower) const {
  auto it = globalIndex_.find(lower);
  return it == globalIndex_.end() ? -1 : it->second;
}

int Interpreter::AddGlobal(const std::string& lower, const std::string& display) {
  int gi = static_cast<int>(globals_.size());
  globals_.emplace_back();
  globals_.back().display = display;
  globalIndex_[lower] = gi;
  return gi;
}

void Interpreter::Define(const std::shared_ptr<Unit>& unit) {
  // Units whose procedures or classes become global stay; plain statements die with their run.
  if (!unit->procs.empty() || !unit->classes.empty()) units_.push_back(unit);
  auto def = [&](const std::string& lower, const std::string& display) -> Global& {
    int gi = FindGlobal(lower);
    if (gi < 0) gi = AddGlobal(lower, display);
    return globals_[gi];
  };
  for (auto& p : unit->procs) {
    Global& g = def(p->name, p->display);
    g.proc = p.get();
    g.cls = nullptr;
    g.value = Variant();
  }
  for (auto& c : unit->classes) {
    Global& g = def(c->name, c->display);
    g.cls = c.get();
    g.proc = nullptr;
  }
  for (const std::string& name : unit->globals) {
    std::string lower = text::LowerAscii(name);
    if (FindGlobal(lower) < 0) AddGlobal(lower, name);
  }
  // Constants and fixed arrays are declarations, in place before any statement runs: a
  // procedure called above the declaring line already sees them.
  for (const StmtP& st : unit->top.body) {
    if (st->kind == SK::Const && st->b->kind == EK::Literal) {
      Global& g = def(st->a->name, st->a->display);
      g.value = st->b->lit;
      g.readOnly = true;
    } else if (st->kind == SK::Dim) {
      for (const DimTarget& dt : st->redims) {
        std::vector<VArray::Dim> dims;
        for (const auto& e : dt.dims) {
          if (e->kind != EK::Literal || !e->lit.IsNumber()) break;
          dims.push_back({0, vb::CLng(e->lit) + 1});
        }
        if (dims.size() != dt.dims.size()) continue;
        Global& g = def(dt.target->name, dt.target->display);
        VArray a;
        a.Redim(dims, false);
        a.fixed = !dims.empty();
        g.value = Variant(std::move(a));
      }
    }
  }
}

void Interpreter::RunTop(const std::shared_ptr<Unit>& unit, Frame* parent, const Frame* scope) {
  std::vector<Variant> locals(unit->top.numLocals);
  Frame f;
  f.proc = &unit->top;
  f.locals = locals.data();
  f.parent = parent;
  f.explicitVars = unit->optionExplicit || (scope && scope->explicitVars);
  if (scope) {
    f.me = scope->me;
    f.meObj = scope->meObj;
  }
  ExecBlock(unit->top.body, f);
}

// --- procedures ------------------------------------------------------------------------------

Variant Interpreter::CallProc(const Proc& p, const std::shared_ptr<Dispatch>& meObj, Instance* me,
                              std::span<Variant> args) {
  if (args.size() != p.params.size()) ThrowNamed(kErrWrongArgs, p.display);
  if (depth_ >= kMaxDepth) Throw(kErrOutOfStack);
  Tick();
  // By-reference parameters travel in and out of `args` (copy-in, copy-out): the caller writes
  // them back to its variables afterwards. Only a callee that changes the caller's variable
  // directly while it runs can tell the difference from true aliasing.
  std::vector<Variant> locals(p.numLocals);
  size_t n = args.size();
  for (size_t i = 0; i < n; ++i) {
    if (p.params[i].byVal)
      locals[i] = args[i];
    else
      locals[i] = std::move(args[i]);
  }
  // By-reference parameters go back into the caller's arguments however the call ends.
  struct Restore {
    const Proc& p;
    std::vector<Variant>& locals;
    std::span<Variant> args;
    int& depth;
    ~Restore() {
      --depth;
      for (size_t i = 0; i < args.size(); ++i)
        if (!p.params[i].byVal) args[i] = std::move(locals[i]);
    }
  } restore{p, locals, args, depth_};
  ++depth_;
  Frame f;
  f.proc = &p;
  f.locals = locals.data();
  f.me = me;
  f.meObj = meObj;
  f.explicitVars = p.unit && p.unit->optionExplicit;
  for (const auto& [slot, dims] : p.localArrays) {
    VArray a;
    std::vector<VArray::Dim> d;
    for (const auto& e : dims) d.push_back({0, ToIndex(EvalValue(*e, f)) + 1});
    a.Redim(d, false);
    a.fixed = !dims.empty();
    locals[slot] = Variant(std::move(a));
  }
  ExecBlock(p.body, f);
  if (p.resultSlot >= 0) return std::move(locals[p.resultSlot]);
  return Variant();
}

Variant Interpreter::CallKnown(const Proc& p, const std::shared_ptr<Dispatch>& meObj, Instance* me,
                               const std::vector<ExprP>* args, Frame& f) {
  ArgBuf buf;
  BuildArgs(args, f, buf, &p);
  Variant r = CallProc(p, meObj, me, buf.vals);
  WriteBack(buf);
  return r;
}

const Proc* Interpreter::ClassProcFor(const ClassDef& c, const std::string& lower,
                                      unsigned kind) const {
  auto find = [&](const std::map<std::string, std::unique_ptr<Proc>>& t) -> const Proc* {
    auto it = t.find(lower);
    return it == t.end() ? nullptr : it->second.get();
  };
  if (kind & kPropSet)
    if (const Proc* p = find(c.setters)) return p;
  if (kind & (kPropLet | kPropSet))
    if (const Proc* p = find(c.letters)) return p;
  if (kind & kGet) {
    if (const Proc* p = find(c.methods)) return p;
    if (const Proc* p = find(c.getters)) return p;
  }
  return nullptr;
}

Variant Interpreter::InvokeMember(const std::shared_ptr<Dispatch>& self, Instance& inst,
                                  std::string_view name, unsigned kind, std::span<Variant> args,
                                  bool allowPrivate) {
  const ClassDef& c = *inst.cls;
  std::string lower;
  if (name.empty()) {
    if (!c.defaultMember) Throw(kErrNoMember);
    lower = c.defaultMember->name;
  } else {
    lower = text::LowerAscii(name);
  }
  auto fi = c.fieldIndex.find(lower);
  if (fi != c.fieldIndex.end() && (allowPrivate || c.fields[fi->second].isPublic)) {
    Variant& field = inst.fields[fi->second];
    if (kind & (kPropLet | kPropSet)) {
      if (args.empty()) Throw(kErrWrongArgs);
      Variant val = args.back();
      if (args.size() == 1) {
        field = std::move(val);
      } else {
        std::vector<int32_t> idx;
        for (size_t i = 0; i + 1 < args.size(); ++i) idx.push_back(ToIndex(DefaultValue(args[i])));
        if (!field.IsArray()) ThrowNamed(kErrTypeMismatch, c.fields[fi->second].display);
        field.arr().At(idx) = std::move(val);
      }
      return Variant();
    }
    if (args.empty()) return field;
    if (field.IsArray()) {
      std::vector<int32_t> idx;
      for (auto& a : args) idx.push_back(ToIndex(DefaultValue(a)));
      if (!field.IsArray()) ThrowNamed(kErrTypeMismatch, c.fields[fi->second].display);
      return field.arr().At(idx);
    }
    if (field.IsObject()) {
      if (!field.obj()) Throw(kErrObjectNotSet);
      return field.obj()->Invoke("", kGet, args);
    }
    Throw(kErrTypeMismatch);
  }
  const Proc* p = ClassProcFor(c, lower, kind);
  if (!p || (!p->isPublic && !allowPrivate)) ThrowNoMember(name.empty() ? c.display : name);
  return CallProc(*p, self, &inst, args);
}

// --- statements ------------------------------------------------------------------------------

void Interpreter::Tick() {
  if ((++ticks_ & 1023) == 0 && hasDeadline_ && std::chrono::steady_clock::now() > deadline_)
    throw ScriptAbort{};
}

Interpreter::Flow Interpreter::ExecBlock(const Block& b, Frame& f) {
  for (const StmtP& sp : b) {
    const Stmt& s = *sp;
    try {
      Flow fl = Exec(s, f);
      if (fl != Flow::Normal) return fl;
    } catch (const HostError& e) {
      if (f.resumeNext) {
        err_->Set(e);
        errPinned_ = false;
        continue;
      }
      if (!errPinned_) Pin(s.line, f.proc->unit);
      throw;
    } catch (const ScriptAbort&) {
      if (!errPinned_) Pin(s.line, f.proc->unit);
      throw;
    } catch (const std::exception& ex) {
      HostError e = AsHostError(ex);
      if (f.resumeNext) {
        err_->Set(e);
        errPinned_ = false;
        continue;
      }
      if (!errPinned_) Pin(s.line, f.proc->unit);
      throw e;
    }
  }
  return Flow::Normal;
}

Interpreter::Flow Interpreter::Exec(const Stmt& s, Frame& f) {
  switch (s.kind) {
    case SK::Assign: {
      if (!s.set && s.a->kind == EK::Name &&
          (s.a->ref == NameRef::Local || s.a->ref == NameRef::Field)) {
        // The common case, a plain variable, written in place.
        Variant val = EvalValue(*s.b, f);
        (s.a->ref == NameRef::Local ? f.locals[s.a->slot] : f.me->fields[s.a->slot]) =
            std::move(val);
        return Flow::Normal;
      }
      Variant val = Eval(*s.b, f);
      Assign(*s.a, std::move(val), s.set, f);
      return Flow::Normal;
    }
    case SK::ConcatAssign: {
      if (s.args.size() == 1) {
        Variant part = EvalValue(*s.args[0], f);
        bool readOnly = false;
        Variant* v = VarRef(*s.a, f, &readOnly);
        if (v && !readOnly && v->IsString()) {
          if (!part.IsNull()) v->str() += part.IsString() ? part.str() : vb::CStr(part);
          return Flow::Normal;
        }
        Assign(*s.a, vb::Concat(EvalValue(*s.a, f), part), false, f);
        return Flow::Normal;
      }
      std::vector<Variant> parts;
      parts.reserve(s.args.size());
      for (const auto& e : s.args) parts.push_back(EvalValue(*e, f));
      bool readOnly = false;
      Variant* v = VarRef(*s.a, f, &readOnly);
      if (v && !readOnly && v->IsString()) {
        for (const Variant& p : parts)
          if (!p.IsNull()) v->str() += p.IsString() ? p.str() : vb::CStr(p);
        return Flow::Normal;
      }
      Variant acc = EvalValue(*s.a, f);
      for (const Variant& p : parts) acc = vb::Concat(acc, p);
      Assign(*s.a, std::move(acc), false, f);
      return Flow::Normal;
    }
    case SK::Call:
      if (s.a->kind == EK::Name && s.a->ref == NameRef::Dynamic &&
          Lookup(*s.a, f).kind == Found::None) {
        // Calling a procedure nobody defined: VBScript's "Type mismatch: 'Name'".
        ThrowNamed(f.explicitVars ? kErrUndefined : kErrTypeMismatch, s.a->display);
      }
      Apply(*s.a, &s.args, f);
      return Flow::Normal;
    case SK::If:
      for (size_t i = 0; i < s.blocks.size(); ++i) {
        if (i < s.conds.size()) {
          bool truth;
          try {
            truth = vb::Truth(EvalValue(*s.conds[i], f));
          } catch (const HostError& e) {
            // VBScript resumes at the next statement, which is the first one of this block.
            if (!f.resumeNext) throw;
            err_->Set(e);
            errPinned_ = false;
            truth = true;
          }
          if (!truth) continue;
        }
        return ExecBlock(s.blocks[i], f);
      }
      return Flow::Normal;
    case SK::Select: {
      Flow fl = Flow::Normal;
      ExecSelect(s, f, fl);
      return fl;
    }
    case SK::For:
      return ExecFor(s, f);
    case SK::ForEach:
      return ExecForEach(s, f);
    case SK::Do:
      return ExecDo(s, f);
    case SK::With: {
      f.locals[s.slot] = Eval(*s.a, f);
      struct Clear {
        Variant& v;
        ~Clear() { v = Variant(); }
      } clear{f.locals[s.slot]};
      return ExecBlock(s.blocks[0], f);
    }
    case SK::Exit:
      switch (s.exitKind) {
        case ExitKind::Do:
          return Flow::ExitDo;
        case ExitKind::For:
          return Flow::ExitFor;
        default:
          // Leaving a procedure from inside its error handling clears Err.
          if (f.resumeNext) err_->Clear();
          return Flow::ExitProc;
      }
    case SK::OnErrorResumeNext:
      f.resumeNext = true;
      err_->Clear();
      return Flow::Normal;
    case SK::OnErrorGoto0:
      f.resumeNext = false;
      err_->Clear();
      return Flow::Normal;
    case SK::ReDim:
      ExecReDim(s, f, false);
      return Flow::Normal;
    case SK::Dim:
      ExecReDim(s, f, true);
      return Flow::Normal;
    case SK::Erase: {
      Variant* v = VarRef(*s.a, f);
      if (!v || !v->IsArray()) ThrowNamed(kErrTypeMismatch, s.a->display);
      if (v->arr().fixed) {
        for (Variant& x : v->arr().data) x = Variant();
      } else {
        *v = Variant(VArray());
      }
      return Flow::Normal;
    }
    case SK::Const: {
      bool readOnly = false;
      Variant* v = VarRef(*s.a, f, &readOnly);
      if (!v) ThrowNamed(kErrIllegalAssign, s.a->display);
      *v = EvalValue(*s.b, f);
      if (s.a->ref == NameRef::Dynamic && !f.parent) {
        int gi = FindGlobal(s.a->name);
        if (gi >= 0) globals_[gi].readOnly = true;
      }
      return Flow::Normal;
    }
  }
  return Flow::Normal;
}

void Interpreter::ExecReDim(const Stmt& s, Frame& f, bool declare) {
  for (const DimTarget& dt : s.redims) {
    Variant* v = VarRef(*dt.target, f);
    if (!v) ThrowNamed(kErrIllegalAssign, dt.target->display);
    std::vector<VArray::Dim> dims;
    for (const auto& e : dt.dims) {
      int32_t ub = ToIndex(EvalValue(*e, f));
      if (ub < -1) Throw(kErrSubscript);
      dims.push_back({0, ub + 1});
    }
    if (declare) {
      if (v->IsArray() && dt.dims.size() == v->arr().dims.size() && !f.parent &&
          f.proc->kind == ProcKind::TopLevel)
        continue;  // created when the code was defined
      VArray a;
      a.Redim(dims, false);
      a.fixed = !dims.empty();
      *v = Variant(std::move(a));
      continue;
    }
    if (v->IsArray()) {
      if (v->arr().fixed) Throw(kErrArrayFixed);
      v->arr().Redim(dims, s.preserve);
    } else {
      VArray a;
      a.Redim(dims, false);
      *v = Variant(std::move(a));
    }
  }
}

Interpreter::Flow Interpreter::ExecFor(const Stmt& s, Frame& f) {
  Variant from = EvalValue(*s.b, f);
  Variant to = EvalValue(*s.c, f);
  Variant step = s.d ? EvalValue(*s.d, f) : Variant(static_cast<int16_t>(1));
  auto isWhole = [](const Variant& v) {
    return v.type() == VType::Integer || v.type() == VType::Long || v.type() == VType::Byte;
  };
  if (from.IsNull() || to.IsNull() || step.IsNull()) Throw(94);
  if (isWhole(from) && isWhole(to) && isWhole(step)) {
    // Whole-number loops count in integers; the counter keeps the widest of the three types.
    bool asLong =
        from.type() == VType::Long || to.type() == VType::Long || step.type() == VType::Long;
    return CountedLoop<int64_t>(
        s, f, vb::CLng(from), vb::CLng(to), vb::CLng(step),
        [](const Variant& v) { return static_cast<int64_t>(vb::CDbl(v)); },
        [asLong](int64_t x) {
          if (!asLong && x >= -32768 && x <= 32767) return Variant(static_cast<int16_t>(x));
          return Variant::Whole(x);
        });
  }
  bool isDate = from.type() == VType::Date;
  return CountedLoop<double>(
      s, f, vb::CDbl(from), vb::CDbl(to), vb::CDbl(step),
      [](const Variant& v) { return vb::CDbl(v); },
      [isDate](double x) { return isDate ? Variant::Date(x) : Variant(x); });
}

// The counter is read back from the variable each round: the body may change it.
template <typename Num, typename Read, typename Make>
Interpreter::Flow Interpreter::CountedLoop(const Stmt& s, Frame& f, Num i, Num end, Num step,
                                           Read read, Make make) {
  Variant* v = VarRef(*s.a, f);
  if (!v) ThrowNamed(kErrIllegalAssign, s.a->display);
  *v = make(i);
  for (;;) {
    if (step >= 0 ? i > end : i < end) break;
    Tick();
    Flow fl = ExecBlock(s.blocks[0], f);
    if (fl == Flow::ExitFor) break;
    if (fl != Flow::Normal) return fl;
    v = VarRef(*s.a, f);
    i = read(*v) + step;
    *v = make(i);
  }
  return Flow::Normal;
}

Interpreter::Flow Interpreter::ExecForEach(const Stmt& s, Frame& f) {
  Variant coll = Eval(*s.b, f);
  std::vector<Variant> items;
  if (coll.IsArray()) {
    items = coll.arr().data;
  } else if (coll.IsObject()) {
    if (!coll.obj()) Throw(kErrObjectNotSet);
    if (!coll.obj()->Enumerate(items)) Throw(kErrNotCollection);
  } else {
    Throw(kErrNotCollection);
  }
  for (Variant& item : items) {
    Tick();
    Variant* v = VarRef(*s.a, f);
    if (!v) ThrowNamed(kErrIllegalAssign, s.a->display);
    *v = std::move(item);
    Flow fl = ExecBlock(s.blocks[0], f);
    if (fl == Flow::ExitFor) break;
    if (fl != Flow::Normal) return fl;
  }
  return Flow::Normal;
}

Interpreter::Flow Interpreter::ExecDo(const Stmt& s, Frame& f) {
  for (;;) {
    Tick();
    if (s.preTest && s.b) {
      bool t = vb::Truth(EvalValue(*s.b, f));
      if (t == s.until) break;
    }
    Flow fl = ExecBlock(s.blocks[0], f);
    if (fl == Flow::ExitDo) break;
    if (fl != Flow::Normal) return fl;
    if (!s.preTest && s.b) {
      bool t = vb::Truth(EvalValue(*s.b, f));
      if (t == s.until) break;
    }
  }
  return Flow::Normal;
}

void Interpreter::ExecSelect(const Stmt& s, Frame& f, Flow& flow) {
  Variant subject = EvalValue(*s.a, f);
  for (const Case& c : s.cases) {
    bool match = c.items.empty();
    for (const CaseItem& item : c.items) {
      Variant a = EvalValue(*item.a, f);
      if (item.isOp) {
        Variant r;
        switch (item.op) {
          case BinOp::Eq:
            r = vb::Eq(subject, a);
            break;
          case BinOp::Ne:
            r = vb::Ne(subject, a);
            break;
          case BinOp::Lt:
            r = vb::Lt(subject, a);
            break;
          case BinOp::Gt:
            r = vb::Gt(subject, a);
            break;
          case BinOp::Le:
            r = vb::Le(subject, a);
            break;
          default:
            r = vb::Ge(subject, a);
            break;
        }
        match = vb::Truth(r);
      } else if (item.b) {
        Variant b = EvalValue(*item.b, f);
        match = vb::Truth(vb::Ge(subject, a)) && vb::Truth(vb::Le(subject, b));
      } else {
        match = vb::Truth(vb::Eq(subject, a));
      }
      if (match) break;
    }
    if (match) {
      flow = ExecBlock(c.body, f);
      return;
    }
  }
}

void Interpreter::Assign(const Expr& lhs, Variant val, bool isSet, Frame& f) {
  if (isSet) {
    if (!val.IsObject()) Throw(kErrObjectRequired);
  } else if (val.IsObject()) {
    val = DefaultValue(std::move(val));
  }
  unsigned kind = isSet ? kPropSet : kPropLet;
  switch (lhs.kind) {
    case EK::Name: {
      if (lhs.ref == NameRef::ClassProc) {
        const Proc* p = ClassProcFor(*f.me->cls, lhs.name, kind);
        if (!p) ThrowNamed(kErrIllegalAssign, lhs.display);
        std::vector<Variant> args{std::move(val)};
        CallProc(*p, f.meObj, f.me, args);
        return;
      }
      bool readOnly = false;
      Variant* v = VarRef(lhs, f, &readOnly);
      if (!v || readOnly) ThrowNamed(kErrIllegalAssign, lhs.display);
      *v = std::move(val);
      return;
    }
    case EK::Member: {
      Variant base = BaseObject(*lhs.a, f);
      std::vector<Variant> args{std::move(val)};
      if (lhs.a->kind == EK::Me) {
        InvokeMember(f.meObj, *f.me, lhs.display, kind, args, true);
        return;
      }
      base.obj()->Invoke(lhs.display, kind, args);
      return;
    }
    case EK::Call: {
      const Expr& target = *lhs.a;
      if (target.kind == EK::Member) {
        Variant base = BaseObject(*target.a, f);
        std::vector<Variant> args;
        for (const auto& a : lhs.args) args.push_back(a ? EvalValue(*a, f) : Variant::Missing());
        args.push_back(std::move(val));
        try {
          if (target.a->kind == EK::Me)
            InvokeMember(f.meObj, *f.me, target.display, kind, args, true);
          else
            base.obj()->Invoke(target.display, kind, args);
        } catch (const HostError& err) {
          // obj.Items(k) = v where Items is a read-only property without parameters: the
          // assignment goes to the default member of what Items returns.
          if (err.number() != kErrNoMember && err.number() != kErrWrongArgs) throw;
          Variant inner = target.a->kind == EK::Me
                              ? InvokeMember(f.meObj, *f.me, target.display, kGet, {}, true)
                              : base.obj()->Invoke(target.display, kGet, {});
          if (!inner.IsObject() || !inner.obj()) throw;
          inner.obj()->Invoke("", kind, args);
        }
        return;
      }
      if (target.kind == EK::Name) {
        if (target.ref == NameRef::ClassProc) {
          const Proc* p = ClassProcFor(*f.me->cls, target.name, kind);
          if (!p) ThrowNamed(kErrIllegalAssign, target.display);
          std::vector<Variant> args;
          for (const auto& a : lhs.args) args.push_back(a ? EvalValue(*a, f) : Variant::Missing());
          args.push_back(std::move(val));
          CallProc(*p, f.meObj, f.me, args);
          return;
        }
        Variant* v = VarRef(target, f);
        if (!v) ThrowNamed(kErrIllegalAssign, target.display);
        if (v->IsArray()) {
          std::vector<int32_t> idx = Indices(lhs.args, f);
          Element(*v, idx, target) = std::move(val);
          return;
        }
        if (v->IsObject()) {
          if (!v->obj()) Throw(kErrObjectNotSet);
          std::vector<Variant> args;
          for (const auto& a : lhs.args) args.push_back(a ? EvalValue(*a, f) : Variant::Missing());
          args.push_back(std::move(val));
          Variant holder = *v;
          try {
            holder.obj()->Invoke("", kind, args);
          } catch (const HostError& err) {
            // rs("Name") = v: when the default member takes no assignment with arguments, the
            // value goes to the default member of the item it returns (the field's Value).
            if (err.number() != kErrNoMember && err.number() != kErrWrongArgs) throw;
            Variant last = std::move(args.back());
            args.pop_back();
            Variant item = holder.obj()->Invoke("", kGet, args);
            if (!item.IsObject() || !item.obj()) throw;
            std::vector<Variant> one{std::move(last)};
            item.obj()->Invoke("", kind, one);
          }
          return;
        }
        ThrowNamed(kErrTypeMismatch, target.display);
      }
      Variant obj = Eval(target, f);
      if (!obj.IsObject()) Throw(kErrIllegalAssign);
      if (!obj.obj()) Throw(kErrObjectNotSet);
      std::vector<Variant> args;
      for (const auto& a : lhs.args) args.push_back(a ? EvalValue(*a, f) : Variant::Missing());
      args.push_back(std::move(val));
      obj.obj()->Invoke("", kind, args);
      return;
    }
    default:
      Throw(kErrIllegalAssign);
  }
}

// --- expressions -----------------------------------------------------------------------------

Variant Interpreter::EvalValue(const Expr& e, Frame& f) {
  Variant v = Eval(e, f);
  if (v.IsObject()) return DefaultValue(std::move(v));
  return v;
}

Variant Interpreter::Eval(const Expr& e, Frame& f) {
  switch (e.kind) {
    case EK::Literal:
      return e.lit;
    case EK::Name:
      return CallName(e, nullptr, f);
    case EK::Me:
      if (!f.meObj) Throw(kErrObjectRequired);
      return Variant(f.meObj);
    case EK::WithObj:
      return f.locals[e.slot];
    case EK::Member:
      return CallMember(e, nullptr, f);
    case EK::Call:
      return Apply(*e.a, &e.args, f);
    case EK::Unary: {
      Variant v = EvalValue(*e.a, f);
      return e.op == BinOp::Sub ? vb::Neg(v) : vb::Not(v);
    }
    case EK::Binary:
      return Binary(e, f);
    case EK::New:
      return NewObject(e);
    case EK::Paren:
      return Eval(*e.a, f);
  }
  return Variant();
}

Variant Interpreter::Binary(const Expr& e, Frame& f) {
  if (e.op == BinOp::Is) {
    Variant a = Eval(*e.a, f);
    Variant b = Eval(*e.b, f);
    if (!a.IsObject() || !b.IsObject()) Throw(kErrObjectRequired);
    return Variant(a.obj() == b.obj());
  }
  // Operands that are plain variables or literals are read in place, not copied; the left one
  // only when evaluating the right one cannot change it.
  std::optional<Variant> ta, tb;  // engaged only when an operand is computed
  const Variant& a = IsPlain(*e.b) ? ValueRef(*e.a, f, ta) : ta.emplace(EvalValue(*e.a, f));
  const Variant& b = ValueRef(*e.b, f, tb);
  switch (e.op) {
    case BinOp::Pow:
      return vb::Pow(a, b);
    case BinOp::Mul:
      return vb::Mul(a, b);
    case BinOp::Div:
      return vb::Div(a, b);
    case BinOp::IntDiv:
      return vb::IntDiv(a, b);
    case BinOp::Mod:
      return vb::Mod(a, b);
    case BinOp::Add:
      return vb::Add(a, b);
    case BinOp::Sub:
      return vb::Sub(a, b);
    case BinOp::Concat:
      return vb::Concat(a, b);
    case BinOp::Eq:
      return vb::Eq(a, b);
    case BinOp::Ne:
      return vb::Ne(a, b);
    case BinOp::Lt:
      return vb::Lt(a, b);
    case BinOp::Gt:
      return vb::Gt(a, b);
    case BinOp::Le:
      return vb::Le(a, b);
    case BinOp::Ge:
      return vb::Ge(a, b);
    case BinOp::And:
      return vb::And(a, b);
    case BinOp::Or:
      return vb::Or(a, b);
    case BinOp::Xor:
      return vb::Xor(a, b);
    case BinOp::Eqv:
      return vb::Eqv(a, b);
    case BinOp::Imp:
      return vb::Imp(a, b);
    case BinOp::Is:
      break;
  }
  return Variant();
}

bool Interpreter::IsPlain(const Expr& e) {
  return e.kind == EK::Literal ||
         (e.kind == EK::Name && (e.ref == NameRef::Local || e.ref == NameRef::Field));
}

const Variant& Interpreter::ValueRef(const Expr& e, Frame& f, std::optional<Variant>& tmp) {
  const Variant* p = nullptr;
  if (e.kind == EK::Literal) {
    p = &e.lit;
  } else if (e.kind == EK::Name) {
    if (e.ref == NameRef::Local)
      p = &f.locals[e.slot];
    else if (e.ref == NameRef::Field)
      p = &f.me->fields[e.slot];
    else if (e.ref == NameRef::Dynamic && e.globalIndex >= 0 && e.globalGeneration == generation_ &&
             !f.parent) {
      const Global& g = globals_[e.globalIndex];
      if (!g.proc && !g.cls) p = &g.value;
    }
  }
  if (!p) p = &tmp.emplace(Eval(e, f));
  if (p->IsObject()) return tmp.emplace(DefaultValue(*p));
  return *p;
}

Variant Interpreter::Apply(const Expr& target, const std::vector<ExprP>* args, Frame& f) {
  if (target.kind == EK::Name) return CallName(target, args, f);
  if (target.kind == EK::Member) return CallMember(target, args, f);
  Variant v = Eval(target, f);
  return Index(v, args, f, target);
}

Variant Interpreter::BaseObject(const Expr& e, Frame& f) {
  Variant base = Eval(e, f);
  if (!base.IsObject()) {
    if (e.kind == EK::Name) ThrowNamed(kErrObjectRequired, e.display);
    Throw(kErrObjectRequired);
  }
  if (!base.obj()) Throw(kErrObjectNotSet);
  return base;
}

Variant Interpreter::CallMember(const Expr& e, const std::vector<ExprP>* args, Frame& f) {
  Variant base = BaseObject(*e.a, f);
  ArgBuf buf;
  BuildArgs(args, f, buf, nullptr);
  Variant r;
  if (e.a->kind == EK::Me) {
    r = InvokeMember(f.meObj, *f.me, e.display, kGet, buf.vals, true);
  } else {
    try {
      r = base.obj()->Invoke(e.display, kGet, buf.vals);
    } catch (const HostError& err) {
      // obj.Items(0) where Items takes no arguments: the arguments go to what it returns.
      if (err.number() != kErrWrongArgs || buf.vals.empty()) throw;
      Variant inner = base.obj()->Invoke(e.display, kGet, {});
      if (inner.IsArray()) {
        std::vector<int32_t> idx;
        for (const Variant& v : buf.vals) idx.push_back(ToIndex(DefaultValue(v)));
        return inner.arr().At(idx);
      }
      if (!inner.IsObject()) throw;
      if (!inner.obj()) Throw(kErrObjectNotSet);
      r = inner.obj()->Invoke("", kGet, buf.vals);
    }
  }
  WriteBack(buf);
  return r;
}

std::vector<int32_t> Interpreter::Indices(const std::vector<ExprP>& args, Frame& f) {
  std::vector<int32_t> idx;
  idx.reserve(args.size());
  for (const auto& a : args) {
    if (!a) Throw(kErrSubscript);
    idx.push_back(ToIndex(EvalValue(*a, f)));
  }
  return idx;
}

// Checked after the indices were computed: computing them may have replaced the array.
Variant& Interpreter::Element(Variant& arr, const std::vector<int32_t>& idx, const Expr& at) {
  if (!arr.IsArray()) ThrowNamed(kErrTypeMismatch, at.display.empty() ? at.name : at.display);
  return arr.arr().At(idx);
}

Variant Interpreter::Index(Variant& v, const std::vector<ExprP>* args, Frame& f, const Expr& at) {
  if (!args) return v;
  if (v.IsArray()) {
    if (args->empty()) return v;
    std::vector<int32_t> idx = Indices(*args, f);
    return Element(v, idx, at);
  }
  if (v.IsObject()) {
    if (!v.obj()) Throw(kErrObjectNotSet);
    Variant holder = v;  // the call may replace the variable
    ArgBuf buf;
    BuildArgs(args, f, buf, nullptr);
    Variant r = holder.obj()->Invoke("", kGet, buf.vals);
    WriteBack(buf);
    return r;
  }
  if (args->empty()) return v;
  if (at.kind == EK::Name) ThrowNamed(kErrTypeMismatch, at.display);
  Throw(kErrTypeMismatch);
}

Interpreter::Found Interpreter::Lookup(const Expr& e, Frame& f) {
  Found r;
  // Code run by Execute/Eval inside a procedure sees that procedure's variables.
  for (Frame* p = f.parent; p; p = p->parent) {
    auto it = p->proc->locals.find(e.name);
    if (it != p->proc->locals.end()) {
      r.kind = Found::Var;
      r.var = &p->locals[it->second];
      return r;
    }
    if (p->me) {
      auto fi = p->me->cls->fieldIndex.find(e.name);
      if (fi != p->me->cls->fieldIndex.end()) {
        r.kind = Found::Var;
        r.var = &p->me->fields[fi->second];
        return r;
      }
    }
  }
  int gi = e.globalGeneration == generation_ ? e.globalIndex : -1;
  if (gi < 0) {
    gi = FindGlobal(e.name);
    if (gi >= 0 && !f.parent) {
      e.globalIndex = gi;
      e.globalGeneration = generation_;
    }
  }
  if (gi >= 0) {
    Global& g = globals_[gi];
    if (g.proc) {
      r.kind = Found::Proc;
      r.proc = g.proc;
    } else if (g.cls) {
      r.kind = Found::Class;
    } else {
      r.kind = Found::Var;
      r.var = &g.value;
      r.readOnly = g.readOnly;
    }
    return r;
  }
  if (e.builtin) {
    r.kind = Found::Builtin;
    r.builtin = e.builtin;
    return r;
  }
  int fn = EngineFnOf(e.name);
  if (fn >= 0) {
    r.kind = Found::EngineFn;
    r.engineFn = fn;
    return r;
  }
  if (const Builtin* b = FindBuiltin(e.name)) {
    e.builtin = b;
    r.kind = Found::Builtin;
    r.builtin = b;
    return r;
  }
  if (FindConstant(e.name, r.value)) {
    r.kind = Found::Const;
    return r;
  }
  return r;
}

Variant* Interpreter::VarRef(const Expr& e, Frame& f, bool* readOnly) {
  if (e.kind != EK::Name) return nullptr;
  switch (e.ref) {
    case NameRef::Local:
      return &f.locals[e.slot];
    case NameRef::Field:
      return &f.me->fields[e.slot];
    case NameRef::ClassProc:
      return nullptr;
    default:
      break;
  }
  Found r = Lookup(e, f);
  if (r.kind == Found::Var) {
    if (readOnly) *readOnly = r.readOnly;
    return r.var;
  }
  if (r.kind != Found::None) return nullptr;
  if (f.explicitVars) ThrowNamed(kErrUndefined, e.display);
  if (e.slot >= 0) return &f.locals[e.slot];
  int gi = AddGlobal(e.name, e.display);
  if (!f.parent) {
    e.globalIndex = gi;
    e.globalGeneration = generation_;
  }
  return &globals_[gi].value;
}

Variant Interpreter::CallName(const Expr& e, const std::vector<ExprP>* args, Frame& f) {
  switch (e.ref) {
    case NameRef::Local:
      return Index(f.locals[e.slot], args, f, e);
    case NameRef::Field:
      return Index(f.me->fields[e.slot], args, f, e);
    case NameRef::ClassProc: {
      const Proc* p = ClassProcFor(*f.me->cls, e.name, kGet);
      if (!p) ThrowNamed(kErrNoMember, e.display);
      return CallKnown(*p, f.meObj, f.me, args, f);
    }
    default:
      break;
  }
  Found r = Lookup(e, f);
  switch (r.kind) {
    case Found::Var:
      return Index(*r.var, args, f, e);
    case Found::Proc:
      return CallKnown(*r.proc, nullptr, nullptr, args, f);
    case Found::Builtin:
      return CallBuiltin(*r.builtin, args, f);
    case Found::EngineFn:
      return CallEngineFn(r.engineFn, args, f);
    case Found::Const:
      return r.value;
    case Found::Class:
      ThrowNamed(kErrTypeMismatch, e.display);
    case Found::None:
      break;
  }
  if (f.explicitVars) ThrowNamed(kErrUndefined, e.display);
  if (args && !args->empty()) ThrowNamed(kErrTypeMismatch, e.display);
  Variant* v = VarRef(e, f);
  return v ? *v : Variant();
}

void Interpreter::BuildArgs(const std::vector<ExprP>* args, Frame& f, ArgBuf& buf,
                            const Proc* known) {
  if (!args) return;
  size_t n = args->size();
  buf.vals.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const Expr* e = (*args)[i].get();
    if (!e) {
      buf.vals.push_back(Variant::Missing());
      continue;
    }
    bool byVal = known && i < known->params.size() && known->params[i].byVal;
    if (!byVal) {
      if (e->kind == EK::Name) {
        bool readOnly = false;
        Variant* v = nullptr;
        if (e->ref == NameRef::Dynamic) {
          Found r = Lookup(*e, f);
          if (r.kind == Found::Var) {
            v = r.var;
            readOnly = r.readOnly;
          } else if (r.kind == Found::None) {
            v = VarRef(*e, f);
          }
        } else {
          v = VarRef(*e, f);
        }
        if (v) {
          buf.vals.push_back(*v);
          if (!readOnly) {
            ArgBuf::Back b;
            b.index = i;
            b.var = v;
            if (!known) {
              b.before = *v;
              b.compare = true;
            }
            buf.backs.push_back(std::move(b));
          }
          continue;
        }
      } else if (e->kind == EK::Call && e->a->kind == EK::Name && e->a->ref != NameRef::ClassProc) {
        // An array element passed by reference.
        Variant* arr = nullptr;
        if (e->a->ref == NameRef::Dynamic) {
          Found r = Lookup(*e->a, f);
          if (r.kind == Found::Var) arr = r.var;
        } else {
          arr = VarRef(*e->a, f);
        }
        if (arr && arr->IsArray() && !e->args.empty()) {
          ArgBuf::Back b;
          b.index = i;
          b.var = arr;
          b.idx = Indices(e->args, f);
          buf.vals.push_back(Element(*arr, b.idx, *e->a));
          if (!known) {
            b.before = buf.vals.back();
            b.compare = true;
          }
          buf.backs.push_back(std::move(b));
          continue;
        }
      } else if (e->kind == EK::Member && e->a->kind != EK::Me) {
        // A property passed by reference is assigned back when the callee changed it.
        Variant base = BaseObject(*e->a, f);
        Variant val = base.obj()->Invoke(e->display, kGet, {});
        ArgBuf::Back b;
        b.index = i;
        b.obj = std::move(base);
        b.member = e->display;
        b.before = val;
        b.compare = true;
        buf.vals.push_back(std::move(val));
        buf.backs.push_back(std::move(b));
        continue;
      }
    }
    buf.vals.push_back(Eval(*e, f));
  }
}

void Interpreter::WriteBack(ArgBuf& buf) {
  for (ArgBuf::Back& b : buf.backs) {
    Variant& val = buf.vals[b.index];
    if (b.compare && SameValue(b.before, val)) continue;
    if (b.obj.IsObject()) {
      std::vector<Variant> args{val};
      b.obj.obj()->Invoke(b.member, val.IsObject() ? kPropSet : kPropLet, args);
    } else if (!b.idx.empty()) {
      if (b.var->IsArray()) b.var->arr().At(b.idx) = std::move(val);
    } else {
      *b.var = std::move(val);
    }
  }
}

Variant Interpreter::CallBuiltin(const Builtin& b, const std::vector<ExprP>* args, Frame& f) {
  std::vector<Variant> vals;
  if (args) {
    vals.reserve(args->size());
    for (const auto& a : *args) vals.push_back(a ? Eval(*a, f) : Variant::Missing());
  }
  if (static_cast<int>(vals.size()) < b.minArgs ||
      (b.maxArgs >= 0 && static_cast<int>(vals.size()) > b.maxArgs))
    ThrowNamed(kErrWrongArgs, b.name);
  return b.fn(vals);
}

Variant Interpreter::CallEngineFn(int fn, const std::vector<ExprP>* args, Frame& f) {
  std::vector<Variant> vals;
  if (args)
    for (const auto& a : *args) vals.push_back(a ? EvalValue(*a, f) : Variant::Missing());
  auto text = [&](size_t i) {
    return i < vals.size() && !vals[i].IsMissing() && !vals[i].IsNull() ? vb::CStr(vals[i])
                                                                        : std::string();
  };
  auto need = [&](size_t lo, size_t hi, const char* name) {
    if (vals.size() < lo || vals.size() > hi) ThrowNamed(kErrWrongArgs, name);
  };
  switch (fn) {
    case kFnEval: {
      need(1, 1, "Eval");
      int line = 0;
      auto unit = Compile(text(0), "", ParseMode::Expression, line);
      std::vector<Variant> locals(unit->top.numLocals);
      Frame g;
      g.proc = &unit->top;
      g.locals = locals.data();
      g.parent = &f;
      g.me = f.me;
      g.meObj = f.meObj;
      g.explicitVars = f.explicitVars;
      return Eval(*unit->evalExpr, g);
    }
    case kFnExecute:
    case kFnExecuteGlobal: {
      need(1, 1, fn == kFnExecute ? "Execute" : "ExecuteGlobal");
      int line = 0;
      auto unit = Compile(text(0), "", ParseMode::Code, line);
      Define(unit);
      bool local = fn == kFnExecute && f.proc->kind != ProcKind::TopLevel;
      RunTop(unit, local ? &f : nullptr, local ? &f : nullptr);
      return Variant();
    }
    case kFnMsgBox: {
      need(1, 5, "MsgBox");
      if (!allowUI) Throw(70);
      int flags = vals.size() > 1 && !vals[1].IsMissing() ? vb::CLng(vals[1]) : 0;
      return Variant(static_cast<int16_t>(fern::MessageBox(text(0), flags, text(2))));
    }
    case kFnInputBox: {
      need(1, 7, "InputBox");
      if (!allowUI) Throw(70);
      return Variant(fern::InputBox(text(0), text(1), text(2)));
    }
    case kFnCreateObject: {
      need(1, 2, "CreateObject");
      std::string progId = text(0);
      std::shared_ptr<Dispatch> obj = CreateRuntimeObject(progId);
      if (!obj && factory) obj = factory(progId);
      if (!obj) ThrowNamed(kErrCannotCreate, progId);
      return Variant(std::move(obj));
    }
    case kFnGetObject: {
      need(0, 2, "GetObject");
      std::shared_ptr<Dispatch> obj;
      if (getObject) obj = getObject(text(0), text(1));
      if (!obj) ThrowNamed(kErrCannotCreate, text(1).empty() ? text(0) : text(1));
      return Variant(std::move(obj));
    }
  }
  return Variant();
}

Variant Interpreter::NewObject(const Expr& e) {
  int gi = FindGlobal(e.name);
  if (gi < 0 || !globals_[gi].cls) {
    if (e.name == "regexp") return Variant(NewRegExp());
    ThrowNamed(kErrClassNotDefined, e.display);
  }
  const ClassDef* cls = globals_[gi].cls;
  auto inst = std::make_shared<Instance>();
  inst->cls = cls;
  for (const auto& u : units_)
    if (u.get() == cls->unit) inst->unit = u;
  inst->fields.resize(cls->fields.size());
  for (size_t i = 0; i < cls->fields.size(); ++i) {
    const Field& fd = cls->fields[i];
    if (!fd.isArray) continue;
    VArray a;
    std::vector<VArray::Dim> dims;
    for (int32_t ub : fd.dims) dims.push_back({0, ub + 1});
    a.Redim(dims, false);
    a.fixed = !dims.empty();
    inst->fields[i] = Variant(std::move(a));
  }
  auto obj = std::make_shared<ScriptObject>(inst, this, alive_, true);
  if (cls->initialize) CallProc(*cls->initialize, obj, inst.get(), {});
  return Variant(std::static_pointer_cast<Dispatch>(obj));
}

}  // namespace fern::script
