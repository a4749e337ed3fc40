#include "script/compiler.h"

#include "platform/vb.h"
#include "script/script_errors.h"
#include "script/stack_limit.h"

namespace fern::script {

namespace {

// A literal, also a negative number (Const X = -1).
const LiteralExpr* NegatedNumber(const Expr& e) {
  const auto* neg = e.If<UnaryExpr>();
  if (!neg || neg->op != UnOp::Neg) return nullptr;
  const auto* lit = neg->operand->If<LiteralExpr>();
  return lit && lit->value.IsNumber() ? lit : nullptr;
}

bool IsLiteral(const Expr& e) { return e.kind == EK::Literal || NegatedNumber(e); }

Variant LiteralValue(const Expr& e) {
  if (const auto* lit = e.If<LiteralExpr>()) return lit->value;
  return vb::Neg(NegatedNumber(e)->value);
}

class Resolver {
 public:
  // `errorLine` gets the line of code nested too deep for the stack left.
  Resolver(Proc& proc, int& errorLine) : proc_(proc), cls_(proc.cls), errorLine_(errorLine) {}

  void Run() {
    for (auto& a : proc_.localArrays)
      for (auto& d : a.second) Expr_(d.get(), false);
    Block_(proc_.body);
  }
  void RunExpr(Expr* e) { Expr_(e, false); }

 private:
  void Block_(Block& b) {
    for (auto& s : b) Stmt_(*s);
  }

  // The tree recurses as deep as the code nests: stop where the parser would.
  void CheckStack(int line) {
    if (!BelowStackFloor(stackFloor_)) return;
    errorLine_ = line;
    ThrowNestedTooDeep();
  }

  void Stmt_(Stmt& s) {
    CheckStack(s.line);
    switch (s.kind) {
      case SK::Assign: {
        auto& st = s.As<AssignStmt>();
        Expr_(st.target.get(), false);
        Expr_(st.value.get(), false);
        break;
      }
      case SK::ConcatAssign: {
        auto& st = s.As<ConcatAssignStmt>();
        Expr_(st.target.get(), false);
        for (auto& e : st.parts) Expr_(e.get(), false);
        break;
      }
      case SK::Call: {
        // "Call F(x)" inside Function F calls F, also after F's result was assigned.
        auto& st = s.As<CallStmt>();
        Expr_(st.target.get(), true);
        for (auto& e : st.args) Expr_(e.get(), false);
        break;
      }
      case SK::If:
        for (auto& e : s.As<IfStmt>().conds) Expr_(e.get(), false);
        break;
      case SK::Select: {
        auto& st = s.As<SelectStmt>();
        Expr_(st.subject.get(), false);
        for (auto& c : st.cases)
          for (auto& it : c.items) {
            Expr_(it.value.get(), false);
            Expr_(it.upper.get(), false);
          }
        break;
      }
      case SK::For: {
        auto& st = s.As<ForStmt>();
        Expr_(st.var.get(), false);
        for (Expr* e : {st.from.get(), st.to.get(), st.step.get()}) Expr_(e, false);
        break;
      }
      case SK::ForEach:
        Expr_(s.As<ForEachStmt>().var.get(), false);
        Expr_(s.As<ForEachStmt>().collection.get(), false);
        break;
      case SK::Do:
        Expr_(s.As<DoStmt>().cond.get(), false);
        break;
      case SK::With:
        Expr_(s.As<WithStmt>().object.get(), false);
        break;
      case SK::ReDim:
      case SK::Dim:
        for (auto& r : s.As<DimStmt>().targets) {
          Expr_(r.target.get(), false);
          for (auto& d : r.dims) Expr_(d.get(), false);
        }
        break;
      case SK::Erase:
        Expr_(s.As<EraseStmt>().target.get(), false);
        break;
      case SK::Const: {
        auto& st = s.As<ConstStmt>();
        Expr_(st.name.get(), false);
        Expr_(st.value.get(), false);
        // Constants exist from the start of the procedure, also those in a branch that never
        // runs.
        if (st.name->ref == NameRef::Local && IsLiteral(*st.value))
          proc_.constSlots.emplace_back(st.name->slot, LiteralValue(*st.value));
        break;
      }
      case SK::Exit:
      case SK::OnErrorResumeNext:
      case SK::OnErrorGoto0:
        break;
    }
    ForEachBlock(s, [this](Block& b) { Block_(b); });
  }

  void Expr_(Expr* e, bool callTarget) {
    if (!e) return;
    CheckStack(e->line);
    switch (e->kind) {
      case EK::Name:
        Name(e->As<NameExpr>(), callTarget);
        break;
      case EK::Call: {
        auto& call = e->As<CallExpr>();
        Expr_(call.callee.get(), call.parens);
        for (auto& a : call.args) Expr_(a.get(), false);
        break;
      }
      case EK::Member:
        Expr_(e->As<MemberExpr>().object.get(), false);
        break;
      case EK::Unary:
        Expr_(e->As<UnaryExpr>().operand.get(), false);
        break;
      case EK::Binary:
        Expr_(e->As<BinaryExpr>().left.get(), false);
        Expr_(e->As<BinaryExpr>().right.get(), false);
        break;
      case EK::Paren:
        Expr_(e->As<ParenExpr>().inner.get(), false);
        break;
      case EK::Literal:
      case EK::Me:
      case EK::WithObj:
      case EK::New:
        break;
    }
  }

  void Name(NameExpr& e, bool callTarget) {
    auto it = proc_.locals.find(e.name);
    if (it != proc_.locals.end()) {
      e.ref = NameRef::Local;
      e.slot = it->second;
      return;
    }
    // Inside Function F, a bare F is the result; F(...) calls F again.
    if (proc_.resultSlot >= 0 && e.name == proc_.name && !callTarget) {
      e.ref = NameRef::Local;
      e.slot = proc_.resultSlot;
      return;
    }
    if (cls_) {
      auto f = cls_->fieldIndex.find(e.name);
      if (f != cls_->fieldIndex.end()) {
        e.ref = NameRef::Field;
        e.slot = f->second;
        return;
      }
      if (cls_->methods.count(e.name) || cls_->getters.count(e.name) ||
          cls_->letters.count(e.name) || cls_->setters.count(e.name)) {
        e.ref = NameRef::ClassProc;
        return;
      }
    }
    e.ref = NameRef::Dynamic;
    e.cache = static_cast<int>(proc_.unit->caches.size());
    proc_.unit->caches.emplace_back();
    if (proc_.kind == ProcKind::TopLevel) return;
    // A procedure's undeclared name is its own local unless a global of that name exists then.
    auto im = proc_.implicitLocals.find(e.name);
    if (im == proc_.implicitLocals.end())
      im = proc_.implicitLocals.emplace(e.name, proc_.numLocals++).first;
    e.slot = im->second;
  }

  Proc& proc_;
  const ClassDef* cls_;
  int& errorLine_;
  const uintptr_t stackFloor_ = StackFloor();
};

void ResolveProcs(std::map<std::string, std::unique_ptr<Proc>>& table, int& errorLine) {
  for (auto& [name, p] : table) Resolver(*p, errorLine).Run();
}

}  // namespace

bool IsConstantLiteral(const Expr& e) { return IsLiteral(e); }
Variant ConstantValue(const Expr& e) { return LiteralValue(e); }

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\n' || text[i] == '\r') {
      lines.emplace_back(text.substr(start, i - start));
      if (i < text.size() && text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  return lines;
}

std::shared_ptr<Unit> Compile(std::string_view source, std::string_view sourceName, ParseMode mode,
                              int& errorLine) {
  std::shared_ptr<Unit> unit = Parse(source, mode, errorLine);
  unit->sourceName = std::string(sourceName);
  unit->lines = SplitLines(source);
  Resolver top(unit->top, errorLine);
  top.Run();
  if (unit->evalExpr) top.RunExpr(unit->evalExpr.get());
  for (auto& p : unit->procs) Resolver(*p, errorLine).Run();
  for (auto& c : unit->classes) {
    ResolveProcs(c->methods, errorLine);
    ResolveProcs(c->getters, errorLine);
    ResolveProcs(c->letters, errorLine);
    ResolveProcs(c->setters, errorLine);
  }
  return unit;
}

}  // namespace fern::script
