#include "script/interpreter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
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

// --- procedures ------------------------------------------------------------------------------

namespace {
constexpr size_t kChunkSlots = 4096;
constexpr size_t kDirectArgs = 16;
}  // namespace

Variant* Interpreter::SlotStack::Push(size_t n, Mark& m) {
  m.chunk = chunk_;
  m.used = used_;
  if (chunks_.empty() || used_ + n > chunks_[chunk_].size) {
    size_t next = chunks_.empty() ? 0 : chunk_ + 1;
    // A chunk past the top is free: one too small for this frame is replaced.
    if (next == chunks_.size()) chunks_.emplace_back();
    Chunk& c = chunks_[next];
    if (c.size < n) {
      c.size = std::max(kChunkSlots, n);
      c.data = std::make_unique<Variant[]>(c.size);
    }
    chunk_ = next;
    used_ = 0;
  }
  Variant* base = chunks_[chunk_].data.get() + used_;
  used_ += n;
  return base;
}

Variant Interpreter::RunFrame(const Proc& p, const std::shared_ptr<Dispatch>& meObj, Instance* me,
                              Variant* locals) {
  if (depth_ >= kMaxDepth || StackLow()) ThrowOutOfStack();
  Tick();
  struct Depth {
    int& d;
    explicit Depth(int& x) : d(x) { ++d; }
    ~Depth() { --d; }
  } depth{depth_};
  Frame f;
  f.proc = &p;
  f.caches = p.unit->caches.data();
  f.locals = locals;
  f.me = me;
  f.meObj = meObj;
  f.explicitVars = p.unit->optionExplicit;
  for (const auto& [slot, value] : p.constSlots) locals[slot] = value;
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

Variant Interpreter::CallProc(const Proc& p, const std::shared_ptr<Dispatch>& meObj, Instance* me,
                              std::span<Variant> args) {
  if (args.size() != p.params.size()) ThrowNamed(kErrWrongArgs, p.display);
  // By-reference parameters travel in and out of `args` (copy-in, copy-out): the caller writes
  // them back to its variables afterwards. Only a callee that changes the caller's variable
  // directly while it runs can tell the difference from true aliasing.
  FrameSlots frame(slots_, static_cast<size_t>(p.numLocals));
  Variant* locals = frame.base;
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
    Variant* locals;
    std::span<Variant> args;
    ~Restore() {
      for (size_t i = 0; i < args.size(); ++i)
        if (!p.params[i].byVal) args[i] = std::move(locals[i]);
    }
  } restore{p, locals, args};
  return RunFrame(p, meObj, me, locals);
}

bool Interpreter::DirectArgs(const Proc& p, const std::vector<ExprP>* args) const {
  size_t n = args ? args->size() : 0;
  if (n != p.params.size() || n > kDirectArgs) return false;
  for (size_t i = 0; i < n; ++i) {
    const Expr* e = (*args)[i].get();
    if (!e || (e->kind != EK::Call && e->kind != EK::Member) || p.params[i].byVal) continue;
    if (IndexedName(*e) || ForeignMember(*e)) return false;
  }
  return true;
}

Variant Interpreter::CallKnown(const Proc& p, const std::shared_ptr<Dispatch>& meObj, Instance* me,
                               const std::vector<ExprP>* args, Frame& f) {
  if (!DirectArgs(p, args)) {
    ArgBuf buf = NewArgs();
    BuildArgs(args, f, buf, &p);
    Variant r = CallProc(p, meObj, me, buf.vals);
    WriteBack(buf);
    return r;
  }
  // The common call: each argument goes straight into its parameter's slot; variables passed
  // by reference get the parameter's final value back.
  FrameSlots frame(slots_, static_cast<size_t>(p.numLocals));
  Variant* locals = frame.base;
  struct Back {
    size_t index;
    Variant* var;
  };
  std::array<Back, kDirectArgs> backs;
  size_t nb = 0;
  size_t n = args ? args->size() : 0;
  for (size_t i = 0; i < n; ++i) {
    const Expr* e = (*args)[i].get();
    // The slots are fresh (Empty): values are built in them, not assigned.
    if (!e) {
      std::construct_at(locals + i, Variant::Missing());
      continue;
    }
    if (!p.params[i].byVal && e->kind == EK::Name) {
      const auto& name = e->As<NameExpr>();
      bool readOnly = false;
      Variant* v = name.ref == NameRef::Local     ? &f.locals[name.slot]
                   : name.ref == NameRef::Dynamic ? CachedGlobal(name, f, readOnly)
                                                  : nullptr;
      if (!v) v = VarRef(name, f, &readOnly);
      if (v) {
        std::construct_at(locals + i, *v);
        if (!readOnly) backs[nb++] = {i, v};
        continue;
      }
    }
    if (e->kind == EK::Literal) {
      std::construct_at(locals + i, e->As<LiteralExpr>().value);
      continue;
    }
    Variant v = Eval(*e, f);
    std::construct_at(locals + i, std::move(v));
  }
  Variant r = RunFrame(p, meObj, me, locals);
  for (size_t i = 0; i < nb; ++i) *backs[i].var = std::move(locals[backs[i].index]);
  return r;
}

}  // namespace fern::script
