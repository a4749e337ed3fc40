#include "script/interpreter.h"

#include <cmath>
#include <new>
#include <optional>
#include <stdexcept>

#include "platform/cp1252.h"
#include "platform/host_error.h"
#include "platform/msgbox.h"
#include "platform/text.h"
#include "platform/vb.h"
#include "script/builtins.h"
#include "script/compiler.h"
#include "script/err_object.h"
#include "script/interp_detail.h"
#include "script/lexer.h"
#include "script/script_errors.h"

namespace fern::script {

using namespace detail;

// --- expressions -----------------------------------------------------------------------------

Variant Interpreter::EvalValue(const Expr& e, Frame& f) {
  Variant v = Eval(e, f);
  if (v.IsObject()) return DefaultValue(std::move(v));
  return v;
}

Variant Interpreter::Eval(const Expr& e, Frame& f) {
  // Operands nest as deep as the code does, and chains (a & b & c, o.a.b) deeper than the
  // parser's own recursion: each level that evaluates another checks the stack left.
  if (HoldsOperands(e.kind) && StackLow()) ThrowOutOfStack();
  switch (e.kind) {
    case EK::Literal:
      return e.As<LiteralExpr>().value;
    case EK::Name:
      return CallName(e.As<NameExpr>(), nullptr, f);
    case EK::Me:
      if (!f.meObj) Throw(kErrObjectRequired);
      return Variant(f.meObj);
    case EK::WithObj: {
      int slot = e.As<WithObjExpr>().slot;
      if (slot < 0) Throw(kErrObjectRequired);  // .x outside any With
      return f.locals[slot];
    }
    case EK::Member:
      return CallMember(e.As<MemberExpr>(), nullptr, f);
    case EK::Call: {
      // Calls of procedures by name are most calls: straight to them.
      const auto& call = e.As<CallExpr>();
      if (call.callee->kind == EK::Name)
        return CallName(call.callee->As<NameExpr>(), &call.args, f);
      return Apply(*call.callee, &call.args, f);
    }
    case EK::Unary: {
      const auto& un = e.As<UnaryExpr>();
      Variant v = EvalValue(*un.operand, f);
      return un.op == UnOp::Neg ? vb::Neg(v, *locale_) : vb::Not(v, *locale_);
    }
    case EK::Binary:
      return Binary(e.As<BinaryExpr>(), f);
    case EK::New:
      return NewObject(e.As<NewExpr>());
    case EK::Paren:
      return Eval(*e.As<ParenExpr>().inner, f);
  }
  return Variant();
}

namespace {

bool IsWhole(const Variant& v) { return v.type() == VType::Integer || v.type() == VType::Long; }
int64_t WholeOf(const Variant& v) { return v.type() == VType::Integer ? v.intVal() : v.longVal(); }

// Comparisons of two whole numbers; false when `op` is not one.
[[gnu::always_inline]] inline bool CompareWhole(BinOp op, int64_t x, int64_t y, bool& r) {
  switch (op) {
    case BinOp::Eq:
      r = x == y;
      return true;
    case BinOp::Ne:
      r = x != y;
      return true;
    case BinOp::Lt:
      r = x < y;
      return true;
    case BinOp::Gt:
      r = x > y;
      return true;
    case BinOp::Le:
      r = x <= y;
      return true;
    case BinOp::Ge:
      r = x >= y;
      return true;
    default:
      return false;
  }
}

}  // namespace

bool Interpreter::Truth(const Expr& e, Frame& f) {
  if (const auto* bin = e.If<BinaryExpr>()) {
    // Loop and branch conditions are mostly a counter compared with a bound.
    const Variant* a = PlainRef(*bin->left, f);
    const Variant* b = a ? PlainRef(*bin->right, f) : nullptr;
    bool r;
    if (b && IsWhole(*a) && IsWhole(*b) && CompareWhole(bin->op, WholeOf(*a), WholeOf(*b), r))
      return r;
  }
  return vb::Truth(EvalValue(e, f), *locale_);
}

Variant Interpreter::Binary(const BinaryExpr& e, Frame& f) {
  if (e.op == BinOp::Is) {
    Variant a = Eval(*e.left, f);
    Variant b = Eval(*e.right, f);
    if (!a.IsObject() || !b.IsObject()) Throw(kErrObjectRequired);
    return Variant(a.obj() == b.obj());
  }
  // Operands that are plain variables or literals are read in place, not copied; the left one
  // only when evaluating the right one cannot change it.
  std::optional<Variant> ta, tb;  // engaged only when an operand is computed
  const Variant& a =
      IsPlain(*e.right) ? ValueRef(*e.left, f, ta) : ta.emplace(EvalValue(*e.left, f));
  const Variant& b = ValueRef(*e.right, f, tb);
  if (IsWhole(a) && IsWhole(b)) {
    // Counting and comparing whole numbers is most of what loops and recursion do.
    int64_t x = WholeOf(a), y = WholeOf(b);
    bool narrow = a.type() == VType::Integer && b.type() == VType::Integer;
    auto whole = [narrow](int64_t r) {
      if (narrow && r >= INT16_MIN && r <= INT16_MAX) return Variant(static_cast<int16_t>(r));
      if (r >= INT32_MIN && r <= INT32_MAX) return Variant(static_cast<int32_t>(r));
      return Variant(static_cast<double>(r));  // beyond Long, Double, as VB promotes
    };
    switch (e.op) {
      case BinOp::Add:
        return whole(x + y);
      case BinOp::Sub:
        return whole(x - y);
      case BinOp::Mul:
        return whole(x * y);
      default:
        break;
    }
    bool r;
    if (CompareWhole(e.op, x, y, r)) return Variant(r);
  }
  switch (e.op) {
    case BinOp::Pow:
      return vb::Pow(a, b, *locale_);
    case BinOp::Mul:
      return vb::Mul(a, b, *locale_);
    case BinOp::Div:
      return vb::Div(a, b, *locale_);
    case BinOp::IntDiv:
      return vb::IntDiv(a, b, *locale_);
    case BinOp::Mod:
      return vb::Mod(a, b, *locale_);
    case BinOp::Add:
      return vb::Add(a, b, *locale_);
    case BinOp::Sub:
      return vb::Sub(a, b, *locale_);
    case BinOp::Concat:
      return vb::Concat(a, b, *locale_);
    case BinOp::Eq:
    case BinOp::Ne:
    case BinOp::Lt:
    case BinOp::Gt:
    case BinOp::Le:
    case BinOp::Ge:
      return Comparison(e.op, a, b, e.left.get(), e.right.get(), f);
    case BinOp::And:
      return vb::And(a, b, *locale_);
    case BinOp::Or:
      return vb::Or(a, b, *locale_);
    case BinOp::Xor:
      return vb::Xor(a, b, *locale_);
    case BinOp::Eqv:
      return vb::Eqv(a, b, *locale_);
    case BinOp::Imp:
      return vb::Imp(a, b, *locale_);
    case BinOp::Is:
      break;
  }
  return Variant();
}

namespace {

// Whether `op` holds for a comparison's -1, 0 or 1.
bool Holds(BinOp op, int c) {
  switch (op) {
    case BinOp::Eq:
      return c == 0;
    case BinOp::Ne:
      return c != 0;
    case BinOp::Lt:
      return c < 0;
    case BinOp::Gt:
      return c > 0;
    case BinOp::Le:
      return c <= 0;
    default:
      return c >= 0;
  }
}

}  // namespace

vb::Written Interpreter::HowWritten(const Expr* e, Frame& f) {
  using W = vb::Written;
  if (!e) return W::kNo;
  if (const auto* paren = e->If<ParenExpr>()) return HowWritten(paren->inner.get(), f);
  if (const auto* lit = e->If<LiteralExpr>()) return lit->negated ? W::kConstant : W::kLiteral;
  if (const auto* un = e->If<UnaryExpr>(); un && un->op == UnOp::Neg)
    return un->operand->kind == EK::Literal ? W::kConstant : W::kNo;
  const auto* name = e->If<NameExpr>();
  if (name && name->ref == NameRef::Local && f.proc) {
    for (const auto& [slot, value] : f.proc->constSlots)
      if (slot == name->slot) return W::kConstant;
    return W::kNo;
  }
  if (!name || name->ref != NameRef::Dynamic) return W::kNo;
  Found r = Lookup(*name, f);
  return r.kind == Found::Const || (r.kind == Found::Var && r.readOnly) ? W::kConstant : W::kNo;
}

Variant Interpreter::Comparison(BinOp op, const Variant& a, const Variant& b, const Expr* ea,
                                const Expr* eb, Frame& f) {
  bool isNull;
  // Text against anything else depends on how each side was written.
  const int c =
      a.IsString() == b.IsString()
          ? vb::Compare(a, b, isNull)
          : vb::CompareWritten(a, HowWritten(ea, f), b, HowWritten(eb, f), isNull, *locale_);
  if (isNull) return Variant::Null();
  return Variant(Holds(op, c));
}

bool Interpreter::IsPlain(const Expr& e) {
  if (e.kind == EK::Literal) return true;
  const auto* name = e.If<NameExpr>();
  return name && (name->ref == NameRef::Local || name->ref == NameRef::Field);
}

const Variant& Interpreter::ValueRef(const Expr& e, Frame& f, std::optional<Variant>& tmp) {
  const Variant* p = nullptr;
  if (e.kind == EK::Literal) {
    p = &e.As<LiteralExpr>().value;
  } else if (e.kind == EK::Name) {
    const auto& n = e.As<NameExpr>();
    if (n.ref == NameRef::Local)
      p = &f.locals[n.slot];
    else if (n.ref == NameRef::Field)
      p = &f.me->fields[n.slot];
    else if (n.ref == NameRef::Dynamic && KnownGlobal(n, f)) {
      const Global& g = globals_[f.caches[n.cache].globalIndex];
      if (!g.proc && !g.cls) p = &g.value;
    }
  }
  if (!p) p = &tmp.emplace(Eval(e, f));
  if (p->IsObject()) return tmp.emplace(DefaultValue(*p));
  return *p;
}

Variant Interpreter::Apply(const Expr& target, const std::vector<ExprP>* args, Frame& f) {
  if (target.kind == EK::Name) return CallName(target.As<NameExpr>(), args, f);
  if (target.kind == EK::Member) return CallMember(target.As<MemberExpr>(), args, f);
  Variant v = Eval(target, f);
  return Index(v, args, f, target);
}

Variant Interpreter::BaseObject(const Expr& e, Frame& f) {
  Variant base = Eval(e, f);
  if (!base.IsObject()) {
    if (e.kind == EK::Name) ThrowNamed(kErrObjectRequired, WrittenName(e));
    Throw(kErrObjectRequired);
  }
  if (!base.obj()) Throw(kErrObjectRequired);  // a member of Nothing
  return base;
}

Variant Interpreter::CallMember(const MemberExpr& e, const std::vector<ExprP>* args, Frame& f) {
  Variant base = BaseObject(*e.object, f);
  ArgBuf buf = NewArgs();
  BuildArgs(args, f, buf, nullptr);
  Variant r;
  if (e.object->kind == EK::Me) {
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
  if (!arr.IsArray()) ThrowNamed(kErrTypeMismatch, WrittenName(at));
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
    ArgBuf buf = NewArgs();
    BuildArgs(args, f, buf, nullptr);
    Variant r = holder.obj()->Invoke("", kGet, buf.vals);
    WriteBack(buf);
    return r;
  }
  if (args->empty()) return v;
  if (at.kind == EK::Name) ThrowNamed(kErrTypeMismatch, WrittenName(at));
  Throw(kErrTypeMismatch);
}

Interpreter::Found Interpreter::Lookup(const NameExpr& e, Frame& f) {
  Found r;
  if (OwnSet(e, f)) {
    r.kind = Found::Var;
    r.var = &f.locals[e.slot];
    return r;
  }
  // Code run by Execute/Eval inside a procedure sees that procedure's variables, and its
  // undeclared names as the procedure itself sees them: its own unless a global, procedure or
  // built-in of that name exists.
  Variant* undeclared = nullptr;
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
    auto im = p->proc->implicitLocals.find(e.name);
    if (im != p->proc->implicitLocals.end()) {
      r.kind = Found::Var;
      r.var = &p->locals[im->second];
      if (!r.var->IsEmpty()) return r;
      undeclared = r.var;
      r = Found();
      break;
    }
  }
  NameCache& cache = f.caches[e.cache];
  int gi = cache.generation == generation_ ? cache.globalIndex : -1;
  if (gi < 0) {
    gi = FindGlobal(e.name);
    if (gi >= 0 && !f.parent) {
      cache.globalIndex = gi;
      cache.generation = generation_;
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
  if (cache.builtin) {
    r.kind = Found::Builtin;
    r.builtin = cache.builtin;
    return r;
  }
  int fn = EngineFnOf(e.name);
  if (fn >= 0) {
    r.kind = Found::EngineFn;
    r.engineFn = fn;
    return r;
  }
  if (const Builtin* b = FindBuiltin(e.name)) {
    cache.builtin = b;
    r.kind = Found::Builtin;
    r.builtin = b;
    return r;
  }
  if (FindConstant(e.name, r.value)) {
    r.kind = Found::Const;
    return r;
  }
  if (undeclared) {
    r.kind = Found::Var;
    r.var = undeclared;
  }
  return r;
}

Variant* Interpreter::VarRef(const NameExpr& e, Frame& f, bool* readOnly) {
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
  bool ro = false;
  if (Variant* g = CachedGlobal(e, f, ro)) {
    if (readOnly) *readOnly = ro;
    return g;
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
    f.caches[e.cache].globalIndex = gi;
    f.caches[e.cache].generation = generation_;
  }
  return &globals_[gi].value;
}

Variant Interpreter::CallName(const NameExpr& e, const std::vector<ExprP>* args, Frame& f) {
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
  if (KnownGlobal(e, f)) {
    // A global found before: its procedure or value straight away.
    Global& g = globals_[f.caches[e.cache].globalIndex];
    if (g.proc) return CallKnown(*g.proc, kNoObject, nullptr, args, f);
    if (!g.cls) return Index(g.value, args, f, e);
  }
  Found r = Lookup(e, f);
  switch (r.kind) {
    case Found::Var:
      return Index(*r.var, args, f, e);
    case Found::Proc:
      return CallKnown(*r.proc, kNoObject, nullptr, args, f);
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
  // In a procedure the name is its own variable, indexed or called like a declared one.
  if (e.slot >= 0) return Index(f.locals[e.slot], args, f, e);
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
      if (const auto* name = e->If<NameExpr>()) {
        bool readOnly = false;
        Variant* v = nullptr;
        if (name->ref == NameRef::Dynamic) {
          Found r = Lookup(*name, f);
          if (r.kind == Found::Var) {
            v = r.var;
            readOnly = r.readOnly;
          } else if (r.kind == Found::None) {
            v = VarRef(*name, f);
          }
        } else {
          v = VarRef(*name, f);
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
      } else if (const NameExpr* array = IndexedName(*e)) {
        // An array element passed by reference.
        const auto& call = e->As<CallExpr>();
        Variant* arr = nullptr;
        if (array->ref == NameRef::Dynamic) {
          Found r = Lookup(*array, f);
          if (r.kind == Found::Var)
            arr = r.var;
          else if (r.kind == Found::None && array->slot >= 0 && !f.explicitVars)
            arr = &f.locals[array->slot];  // the procedure's own undeclared variable
        } else {
          arr = VarRef(*array, f);
        }
        if (arr && arr->IsArray() && !call.args.empty()) {
          ArgBuf::Back b;
          b.index = i;
          b.var = arr;
          b.idx = Indices(call.args, f);
          buf.vals.push_back(Element(*arr, b.idx, *array));
          if (!known) {
            b.before = buf.vals.back();
            b.compare = true;
          }
          buf.backs.push_back(std::move(b));
          continue;
        }
      } else if (const MemberExpr* prop = ForeignMember(*e)) {
        // A property passed by reference is assigned back when the callee changed it.
        Variant base = BaseObject(*prop->object, f);
        Variant val = base.obj()->Invoke(prop->display, kGet, {});
        ArgBuf::Back b;
        b.index = i;
        b.obj = std::move(base);
        b.member = prop->display;
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
  return b.fn(Args(vals, *locale_));
}

Variant Interpreter::CallEngineFn(int fn, const std::vector<ExprP>* args, Frame& f) {
  std::vector<Variant> vals;
  if (args)
    for (const auto& a : *args) vals.push_back(a ? EvalValue(*a, f) : Variant::Missing());
  auto text = [&](size_t i) {
    return i < vals.size() && !vals[i].IsMissing() && !vals[i].IsNull()
               ? vb::CStr(vals[i], *locale_)
               : std::string();
  };
  auto need = [&](size_t lo, size_t hi, const char* name) {
    if (vals.size() < lo || vals.size() > hi) ThrowNamed(kErrWrongArgs, name);
  };
  switch (fn) {
    case kFnEval: {
      need(1, 1, "Eval");
      int line = 0;
      auto unit = CompileHere(text(0), "", ParseMode::Expression, line);
      std::vector<Variant> locals(unit->top.numLocals);
      Frame g;
      g.proc = &unit->top;
      g.caches = unit->caches.data();
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
      auto unit = CompileHere(text(0), "", ParseMode::Code, line);
      Define(unit);
      bool local = fn == kFnExecute && f.proc->kind != ProcKind::TopLevel;
      RunTop(unit, local ? &f : nullptr, local ? &f : nullptr);
      return Variant();
    }
    case kFnMsgBox: {
      need(1, 5, "MsgBox");
      if (!allowUI) Throw(70);
      int flags = vals.size() > 1 && !vals[1].IsMissing() ? vb::CLng(vals[1], *locale_) : 0;
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
    case kFnGetRef: {
      need(1, 1, "GetRef");
      int gi = FindGlobal(fern::text::LowerAscii(text(0)));
      if (gi < 0 || !globals_[gi].proc) Throw(kErrInvalidCall);
      const Proc* p = globals_[gi].proc;
      std::shared_ptr<Unit> unit;
      for (const auto& u : units_)
        if (u.get() == p->unit) unit = u;
      return Variant(std::static_pointer_cast<Dispatch>(
          std::make_shared<ProcRef>(this, alive_, p, std::move(unit))));
    }
    case kFnGetLocale:
      need(0, 0, "GetLocale");
      return Variant(locale_->id);
    case kFnSetLocale: {
      need(0, 1, "SetLocale");
      int32_t old = locale_->id;
      if (vals.empty() || vals[0].IsMissing()) return Variant(old);
      const vb::Locale* loc = nullptr;
      double number;
      if (vals[0].IsString() && !vb::ParseNumber(vals[0].str(), number, *locale_)) {
        loc = vb::FindLocale(vals[0].str());
        if (!loc) Throw(kErrInvalidCall);
      } else {
        int32_t id = vb::CLng(vals[0], *locale_);
        loc = id == 0 ? &vb::German() : vb::FindLocale(id);  // 0: the system's, German here
        if (!loc) Throw(kErrLocale);
      }
      locale_ = loc;
      return Variant(old);
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

}  // namespace fern::script
