#include "script/interpreter.h"

#include <cmath>
#include <new>
#include <optional>
#include <stdexcept>

#include "platform/cp1252.h"
#include "platform/host_error.h"
#include "platform/msgbox.h"
#include "platform/vb.h"
#include "script/builtins.h"
#include "script/compiler.h"
#include "script/err_object.h"
#include "script/interp_detail.h"
#include "script/lexer.h"
#include "script/script_errors.h"

namespace fern::script {

using namespace detail;

// --- statements ------------------------------------------------------------------------------

void Interpreter::Tick() {
  // Often enough that a loop whose passes each wait on a slow call still stops within a few of
  // them; rarely enough that a fast loop doesn't feel the clock.
  if ((++ticks_ & 63) == 0 && polling_) {
    if (Abort why = Poll(); why != Abort::None) Abandon(why);
  }
}

Abort Interpreter::Poll() {
  if (ended_ != Abort::None) return ended_;
  if (hasDeadline_ && std::chrono::steady_clock::now() > deadline_) return Abort::TimedOut;
  if (stopQuery && stopQuery()) return Abort::Stopped;
  return Abort::None;
}

bool Interpreter::Resumed(const HostError& e, Frame& f) {
  if (!f.resumeNext) return false;
  err_->Set(e);
  errPinned_ = false;
  return true;
}

// A loop or block header failed under On Error Resume Next: execution resumes with the next
// statement, which is the first of the body; the body runs once.
Interpreter::Flow Interpreter::BodyOnce(const Block& body, Frame& f, Flow ends) {
  Flow fl = ExecBlock(body, f);
  return fl == ends ? Flow::Normal : fl;
}

Interpreter::Flow Interpreter::ExecBlock(const Block& b, Frame& f) {
  // Blocks nest as deep as the code does.
  if (StackLow()) ThrowOutOfStack();
  for (const StmtP& sp : b) {
    const Stmt& s = *sp;
    try {
      Flow fl = Exec(s, f);
      // A Class_Terminate the statement ran may have ended the run.
      if (ended_ != Abort::None) [[unlikely]]
        throw ScriptAbort{ended_};
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
      const auto& st = s.As<AssignStmt>();
      const Expr& target = *st.target;
      const NameExpr* var = st.set ? nullptr : target.If<NameExpr>();
      if (var && (var->ref == NameRef::Local || var->ref == NameRef::Field)) {
        // The common case, a plain variable, written in place.
        Variant val = EvalValue(*st.value, f);
        (var->ref == NameRef::Local ? f.locals[var->slot] : f.me->fields[var->slot]) =
            std::move(val);
        return Flow::Normal;
      }
      if (var && var->ref == NameRef::Dynamic) {
        // A global variable found before: written without the general path.
        Variant val = EvalValue(*st.value, f);
        bool readOnly = false;
        Variant* g = CachedGlobal(*var, f, readOnly);
        if (g && !readOnly) {
          *g = std::move(val);
          return Flow::Normal;
        }
        Assign(target, std::move(val), false, f);
        return Flow::Normal;
      }
      Variant val = Eval(*st.value, f);
      Assign(target, std::move(val), st.set, f);
      return Flow::Normal;
    }
    case SK::ConcatAssign: {
      const auto& st = s.As<ConcatAssignStmt>();
      const NameExpr& var = *st.target;
      if (st.parts.size() == 1) {
        Variant part = EvalValue(*st.parts[0], f);
        bool readOnly = false;
        Variant* v = VarRef(var, f, &readOnly);
        if (v && !readOnly && v->IsString()) {
          if (!part.IsNull()) v->str() += part.IsString() ? part.str() : vb::CStr(part, *locale_);
          return Flow::Normal;
        }
        Assign(var, vb::Concat(EvalValue(var, f), part, *locale_), false, f);
        return Flow::Normal;
      }
      std::vector<Variant> parts;
      parts.reserve(st.parts.size());
      for (const auto& e : st.parts) parts.push_back(EvalValue(*e, f));
      bool readOnly = false;
      Variant* v = VarRef(var, f, &readOnly);
      if (v && !readOnly && v->IsString()) {
        for (const Variant& p : parts)
          if (!p.IsNull()) v->str() += p.IsString() ? p.str() : vb::CStr(p, *locale_);
        return Flow::Normal;
      }
      Variant acc = EvalValue(var, f);
      for (const Variant& p : parts) acc = vb::Concat(acc, p, *locale_);
      Assign(var, std::move(acc), false, f);
      return Flow::Normal;
    }
    case SK::Call: {
      const auto& st = s.As<CallStmt>();
      const Expr& target = *st.target;
      const auto* name = target.If<NameExpr>();
      bool conversion = false;
      if (name && name->ref == NameRef::Dynamic) {
        Found r = Lookup(*name, f);
        // Calling a procedure nobody defined: VBScript's "Type mismatch: 'Name'". A procedure's
        // own undeclared variable is called once it holds something (a GetRef).
        bool own = name->slot >= 0 && !f.explicitVars && !f.locals[name->slot].IsEmpty();
        if (r.kind == Found::None && !own)
          ThrowNamed(f.explicitVars ? kErrUndefined : kErrTypeMismatch, name->display);
        conversion = r.kind == Found::Builtin && IsConversion(*r.builtin);
      }
      Apply(target, &st.args, f);
      // The conversions are operators in VBScript, not procedures a statement can call; the
      // conversion still runs first, so its own error comes before this one.
      if (conversion) Throw(kErrUnsupportedType);
      return Flow::Normal;
    }
    case SK::If: {
      const auto& st = s.As<IfStmt>();
      for (size_t i = 0; i < st.blocks.size(); ++i) {
        if (i < st.conds.size()) {
          bool truth;
          try {
            truth = Truth(*st.conds[i], f);
          } catch (const HostError& e) {
            // VBScript resumes at the next statement, which is the first one of this block.
            if (!f.resumeNext) throw;
            err_->Set(e);
            errPinned_ = false;
            truth = true;
          }
          if (!truth) continue;
        }
        return ExecBlock(st.blocks[i], f);
      }
      return Flow::Normal;
    }
    case SK::Select: {
      Flow fl = Flow::Normal;
      ExecSelect(s.As<SelectStmt>(), f, fl);
      return fl;
    }
    case SK::For:
      return ExecFor(s.As<ForStmt>(), f);
    case SK::ForEach:
      return ExecForEach(s.As<ForEachStmt>(), f);
    case SK::Do:
      return ExecDo(s.As<DoStmt>(), f);
    case SK::With: {
      const auto& st = s.As<WithStmt>();
      try {
        Variant obj = Eval(*st.object, f);
        if (!obj.IsObject()) Throw(kErrObjectRequired);
        f.locals[st.slot] = std::move(obj);
      } catch (const HostError& e) {
        if (!Resumed(e, f)) throw;
      }
      struct Clear {
        Variant& v;
        ~Clear() { v = Variant(); }
      } clear{f.locals[st.slot]};
      return ExecBlock(st.body, f);
    }
    case SK::Exit:
      switch (s.As<ExitStmt>().exitKind) {
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
      ExecReDim(s.As<DimStmt>(), f, false);
      return Flow::Normal;
    case SK::Dim:
      ExecReDim(s.As<DimStmt>(), f, true);
      return Flow::Normal;
    case SK::Erase: {
      const NameExpr& target = *s.As<EraseStmt>().target;
      Variant* v = VarRef(target, f);
      if (!v || !v->IsArray()) ThrowNamed(kErrTypeMismatch, target.display);
      if (v->arr().fixed) {
        // Emptied first, then what it held goes (its Class_Terminate sees the array erased).
        std::vector<Variant> gone(v->arr().data.size());
        gone.swap(v->arr().data);
      } else {
        *v = Variant(VArray());
      }
      return Flow::Normal;
    }
    case SK::Const: {
      const auto& st = s.As<ConstStmt>();
      bool readOnly = false;
      Variant* v = VarRef(*st.name, f, &readOnly);
      if (!v) ThrowNamed(kErrIllegalAssign, st.name->display);
      *v = EvalValue(*st.value, f);
      if (st.name->ref == NameRef::Dynamic && !f.parent) {
        int gi = FindGlobal(st.name->name);
        if (gi >= 0) globals_[gi].readOnly = true;
      }
      return Flow::Normal;
    }
  }
  return Flow::Normal;
}

void Interpreter::ExecReDim(const DimStmt& s, Frame& f, bool declare) {
  for (const DimTarget& dt : s.targets) {
    Variant* v = ReDimTarget(*dt.target, f);
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

// ReDim inside a procedure: the local, field or global of that name, else a new local (also
// under Option Explicit: ReDim declares).
Variant* Interpreter::ReDimTarget(const NameExpr& e, Frame& f) {
  if (e.ref != NameRef::Dynamic) return VarRef(e, f);
  Found r = Lookup(e, f);
  if (r.kind == Found::Var) return r.readOnly ? nullptr : r.var;
  if (r.kind != Found::None) return nullptr;
  if (e.slot >= 0) return &f.locals[e.slot];
  return VarRef(e, f);
}

Interpreter::Flow Interpreter::ExecFor(const ForStmt& s, Frame& f) {
  auto isWhole = [](const Variant& v) {
    return v.type() == VType::Integer || v.type() == VType::Long || v.type() == VType::Byte;
  };
  Variant from, to, step;
  bool whole = false;
  double dFrom = 0, dTo = 0, dStep = 0;
  try {
    from = EvalValue(*s.from, f);
    to = EvalValue(*s.to, f);
    step = s.step ? EvalValue(*s.step, f) : Variant(static_cast<int16_t>(1));
    if (from.IsNull() || to.IsNull() || step.IsNull()) Throw(94);
    whole = isWhole(from) && isWhole(to) && isWhole(step);
    if (!whole) {
      dFrom = vb::CDbl(from, *locale_);
      dTo = vb::CDbl(to, *locale_);
      dStep = vb::CDbl(step, *locale_);
    }
  } catch (const HostError& e) {
    if (!Resumed(e, f)) throw;
    // Execution resumes in the body; its Next then finds no loop set up.
    Flow fl = BodyOnce(s.body, f, Flow::ExitFor);
    if (fl == Flow::Normal)
      Resumed(HostError(kErrForNotInit, std::string(ErrorText(kErrForNotInit)),
                        ErrorSource(kErrForNotInit)),
              f);
    return fl;
  }
  if (whole) {
    // Whole-number loops count in integers; the counter keeps the widest of the three types.
    bool asLong =
        from.type() == VType::Long || to.type() == VType::Long || step.type() == VType::Long;
    return CountedLoop<int64_t>(
        s, f, vb::CLng(from), vb::CLng(to), vb::CLng(step),
        [](const Variant& v) {
          if (v.type() == VType::Integer) return static_cast<int64_t>(v.intVal());
          if (v.type() == VType::Long) return static_cast<int64_t>(v.longVal());
          return static_cast<int64_t>(vb::CDbl(v));
        },
        [asLong](int64_t x) {
          if (!asLong && x >= -32768 && x <= 32767) return Variant(static_cast<int16_t>(x));
          return Variant::Whole(x);
        });
  }
  bool isDate = from.type() == VType::Date;
  return CountedLoop<double>(
      s, f, dFrom, dTo, dStep, [this](const Variant& v) { return vb::CDbl(v, *locale_); },
      [isDate](double x) { return isDate ? Variant::Date(x) : Variant(x); });
}

// The counter is read back from the variable each round: the body may change it.
template <typename Num, typename Read, typename Make>
Interpreter::Flow Interpreter::CountedLoop(const ForStmt& s, Frame& f, Num i, Num end, Num step,
                                           Read read, Make make) {
  Variant* v = VarRef(*s.var, f);
  if (!v) ThrowNamed(kErrIllegalAssign, s.var->display);
  *v = make(i);
  for (;;) {
    if (step >= 0 ? i > end : i < end) break;
    Tick();
    Flow fl = ExecBlock(s.body, f);
    if (fl == Flow::ExitFor) break;
    if (fl != Flow::Normal) return fl;
    v = VarRef(*s.var, f);
    i = read(*v) + step;
    *v = make(i);
  }
  return Flow::Normal;
}

Interpreter::Flow Interpreter::ExecForEach(const ForEachStmt& s, Frame& f) {
  std::vector<Variant> items;
  try {
    Variant coll = Eval(*s.collection, f);
    if (coll.IsArray()) {
      items = coll.arr().data;
    } else if (coll.IsObject()) {
      if (!coll.obj()) Throw(kErrObjectRequired);
      if (!coll.obj()->Enumerate(items)) Throw(kErrNotCollection);
    } else {
      Throw(kErrNotCollection);
    }
  } catch (const HostError& e) {
    if (!Resumed(e, f)) throw;
    return BodyOnce(s.body, f, Flow::ExitFor);
  }
  for (Variant& item : items) {
    Tick();
    Variant* v = VarRef(*s.var, f);
    if (!v) ThrowNamed(kErrIllegalAssign, s.var->display);
    *v = std::move(item);
    Flow fl = ExecBlock(s.body, f);
    if (fl == Flow::ExitFor) return Flow::Normal;
    if (fl != Flow::Normal) return fl;
  }
  // Run to its end, the loop leaves its variable Empty.
  if (!items.empty())
    if (Variant* v = VarRef(*s.var, f)) *v = Variant();
  return Flow::Normal;
}

Interpreter::Flow Interpreter::ExecDo(const DoStmt& s, Frame& f) {
  for (;;) {
    Tick();
    // A failing condition under On Error Resume Next goes on with the next statement: into
    // the body before it, out of the loop after it.
    if (s.preTest && s.cond) {
      try {
        bool t = Truth(*s.cond, f);
        if (t == s.until) break;
      } catch (const HostError& e) {
        if (!Resumed(e, f)) throw;
      }
    }
    Flow fl = ExecBlock(s.body, f);
    if (fl == Flow::ExitDo) break;
    if (fl != Flow::Normal) return fl;
    if (!s.preTest && s.cond) {
      try {
        bool t = Truth(*s.cond, f);
        if (t == s.until) break;
      } catch (const HostError& e) {
        if (!Resumed(e, f)) throw;
        break;
      }
    }
  }
  return Flow::Normal;
}

void Interpreter::ExecSelect(const SelectStmt& s, Frame& f, Flow& flow) {
  // Under On Error Resume Next a failing subject runs no Case; a failing Case value goes on
  // with the next statement: the first one of that Case's body. The subject counts as not
  // written: Select Case 3 compares Case "test" as text.
  Variant subject;
  try {
    subject = EvalValue(*s.subject, f);
  } catch (const HostError& e) {
    if (!Resumed(e, f)) throw;
    return;
  }
  for (const Case& c : s.cases) {
    bool match = c.items.empty();
    try {
      for (const CaseItem& item : c.items) {
        Variant a = EvalValue(*item.value, f);
        if (item.isOp) {
          match = vb::Truth(Comparison(item.op, subject, a, nullptr, item.value.get(), f));
        } else if (item.upper) {
          Variant b = EvalValue(*item.upper, f);
          match = vb::Truth(Comparison(BinOp::Ge, subject, a, nullptr, item.value.get(), f)) &&
                  vb::Truth(Comparison(BinOp::Le, subject, b, nullptr, item.upper.get(), f));
        } else {
          match = vb::Truth(Comparison(BinOp::Eq, subject, a, nullptr, item.value.get(), f));
        }
        if (match) break;
      }
    } catch (const HostError& e) {
      if (!Resumed(e, f)) throw;
      match = true;
    }
    if (match) {
      flow = ExecBlock(c.body, f);
      return;
    }
  }
}

void Interpreter::Assign(const Expr& lhs, Variant val, bool isSet, Frame& f) {
  if (isSet && !val.IsObject()) Throw(kErrObjectRequired);
  unsigned kind = isSet ? kPropSet : kPropLet;
  // A script class's Property Let receives an object as it is; everything else gets the value
  // the object stands for.
  if (!isSet && val.IsObject() && !LetTakesObject(lhs, f)) val = DefaultValue(std::move(val));
  switch (lhs.kind) {
    case EK::Name: {
      const auto& name = lhs.As<NameExpr>();
      if (name.ref == NameRef::ClassProc) {
        const Proc* p = ClassProcFor(*f.me->cls, name.name, kind);
        if (!p) ThrowNamed(kErrIllegalAssign, name.display);
        std::vector<Variant> args{std::move(val)};
        CallProc(*p, f.meObj, f.me, args);
        return;
      }
      bool readOnly = false;
      Variant* v = VarRef(name, f, &readOnly);
      if (!v || readOnly) ThrowNamed(kErrIllegalAssign, name.display);
      *v = std::move(val);
      return;
    }
    case EK::Member: {
      const auto& member = lhs.As<MemberExpr>();
      Variant base = BaseObject(*member.object, f);
      std::vector<Variant> args{std::move(val)};
      if (member.object->kind == EK::Me) {
        InvokeMember(f.meObj, *f.me, member.display, kind, args, true);
        return;
      }
      base.obj()->Invoke(member.display, kind, args);
      return;
    }
    case EK::Call: {
      const auto& call = lhs.As<CallExpr>();
      const Expr& target = *call.callee;
      if (const auto* member = target.If<MemberExpr>()) {
        bool onMe = member->object->kind == EK::Me;
        Variant base = BaseObject(*member->object, f);
        std::vector<Variant> args;
        for (const auto& a : call.args) args.push_back(a ? EvalValue(*a, f) : Variant::Missing());
        args.push_back(std::move(val));
        try {
          if (onMe)
            InvokeMember(f.meObj, *f.me, member->display, kind, args, true);
          else
            base.obj()->Invoke(member->display, kind, args);
        } catch (const HostError& err) {
          // obj.Items(k) = v where Items is a read-only property without parameters: the
          // assignment goes to the default member of what Items returns.
          if (err.number() != kErrNoMember && err.number() != kErrWrongArgs) throw;
          Variant inner = onMe ? InvokeMember(f.meObj, *f.me, member->display, kGet, {}, true)
                               : base.obj()->Invoke(member->display, kGet, {});
          if (!inner.IsObject() || !inner.obj()) throw;
          inner.obj()->Invoke("", kind, args);
        }
        return;
      }
      if (const auto* name = target.If<NameExpr>()) {
        if (name->ref == NameRef::ClassProc) {
          const Proc* p = ClassProcFor(*f.me->cls, name->name, kind);
          if (!p) ThrowNamed(kErrIllegalAssign, name->display);
          std::vector<Variant> args;
          for (const auto& a : call.args) args.push_back(a ? EvalValue(*a, f) : Variant::Missing());
          args.push_back(std::move(val));
          CallProc(*p, f.meObj, f.me, args);
          return;
        }
        Variant* v = VarRef(*name, f);
        if (!v) ThrowNamed(kErrIllegalAssign, name->display);
        if (v->IsArray()) {
          std::vector<int32_t> idx = Indices(call.args, f);
          Element(*v, idx, target) = std::move(val);
          return;
        }
        if (v->IsObject()) {
          if (!v->obj()) Throw(kErrObjectNotSet);
          std::vector<Variant> args;
          for (const auto& a : call.args) args.push_back(a ? EvalValue(*a, f) : Variant::Missing());
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
        ThrowNamed(kErrTypeMismatch, name->display);
      }
      if (target.kind == EK::Call) {
        // x(0)(1) = v: an element of an array that is itself an element.
        Variant* inner = ElementRef(target, f);
        if (inner && inner->IsArray()) {
          std::vector<int32_t> idx = Indices(call.args, f);
          Element(*inner, idx, target) = std::move(val);
          return;
        }
      }
      Variant obj = Eval(target, f);
      if (!obj.IsObject()) Throw(kErrIllegalAssign);
      if (!obj.obj()) Throw(kErrObjectNotSet);
      std::vector<Variant> args;
      for (const auto& a : call.args) args.push_back(a ? EvalValue(*a, f) : Variant::Missing());
      args.push_back(std::move(val));
      obj.obj()->Invoke("", kind, args);
      return;
    }
    default:
      Throw(kErrIllegalAssign);
  }
}

}  // namespace fern::script

namespace fern::script {

bool Interpreter::LetTakesObject(const Expr& lhs, Frame& f) {
  if (const auto* name = lhs.If<NameExpr>()) return name->ref == NameRef::ClassProc;
  const auto* member = lhs.If<MemberExpr>();
  if (!member) return false;
  const Expr& object = *member->object;
  const ClassDef* cls = nullptr;
  if (object.kind == EK::Me) {
    if (f.me) cls = f.me->cls;
  } else if (object.kind == EK::Name || object.kind == EK::WithObj) {  // free of side effects
    Variant base = Eval(object, f);
    if (base.IsObject())
      if (auto* so = dynamic_cast<ScriptObject*>(base.obj().get())) cls = so->instance().cls;
  }
  return cls && ClassProcFor(*cls, member->name, kPropLet) != nullptr;
}

Variant* Interpreter::ElementRef(const Expr& e, Frame& f) {
  if (const auto* name = e.If<NameExpr>())
    return name->ref == NameRef::ClassProc ? nullptr : VarRef(*name, f);
  const auto* call = e.If<CallExpr>();
  if (!call || (call->callee->kind != EK::Name && call->callee->kind != EK::Call)) return nullptr;
  Variant* base = ElementRef(*call->callee, f);
  if (!base || !base->IsArray()) return nullptr;
  std::vector<int32_t> idx = Indices(call->args, f);
  return &Element(*base, idx, *call->callee);
}

}  // namespace fern::script
