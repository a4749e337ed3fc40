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

// --- procedures ------------------------------------------------------------------------------

Variant Interpreter::CallProc(const Proc& p, const std::shared_ptr<Dispatch>& meObj, Instance* me,
                              std::span<Variant> args) {
  if (args.size() != p.params.size()) ThrowNamed(kErrWrongArgs, p.display);
  if (depth_ >= kMaxDepth) Throw(kErrOutOfStack);
  Tick();
  // By-reference parameters travel in and out of `args` (copy-in, copy-out): the caller writes
  // them back to its variables afterwards. Only a callee that changes the caller's variable
  // directly while it runs can tell the difference from true aliasing.
  PooledVals frameVals(valPool_, static_cast<size_t>(p.numLocals));
  std::vector<Variant>& locals = frameVals.v;
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

Variant Interpreter::CallKnown(const Proc& p, const std::shared_ptr<Dispatch>& meObj, Instance* me,
                               const std::vector<ExprP>* args, Frame& f) {
  ArgBuf buf = NewArgs();
  BuildArgs(args, f, buf, &p);
  Variant r = CallProc(p, meObj, me, buf.vals);
  WriteBack(buf);
  return r;
}

}  // namespace fern::script
