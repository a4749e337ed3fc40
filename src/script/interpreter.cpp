#include "script/interpreter.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <new>
#include <optional>
#include <stdexcept>

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
#include "script/stack_limit.h"

namespace fern::script {

using namespace detail;

// --- set-up and host entry points ----------------------------------------------------------

Interpreter::Interpreter() : alive_(std::make_shared<bool>(true)) { InstallErr(); }

bool Interpreter::Due() {
  if (!polling_ && ended_ == Abort::None) return false;
  dueAbort_ = Poll();
  return dueAbort_ != Abort::None;
}

void Interpreter::End() { Abandon(dueAbort_); }

void Interpreter::Abandon(Abort why) {
  // Class_Terminate handlers the unwinding runs see it, and run no script code.
  ended_ = why;
  throw ScriptAbort{why};
}

HostError Interpreter::AbortError(Abort why) const {
  if (why == Abort::OutOfStack)
    return HostError(kErrOutOfStack, std::string(ErrorText(kErrOutOfStack)),
                     ErrorSource(kErrOutOfStack));
  return HostError(
      kErrTimeout,
      why == Abort::Stopped
          ? std::string("The script was stopped: the run was cancelled")
          : std::string(ErrorText(kErrTimeout)) + " of " + std::to_string(timeoutMs) + " ms",
      ErrorSource(kErrTimeout));
}

Interpreter::Entry::Entry(Interpreter& interp) : in(interp), outer(interp.entries_ == 0) {
  if (outer) {
    in.stackFloor_ = StackFloor();
    in.hasDeadline_ = in.timeoutMs > 0;
    in.polling_ = in.hasDeadline_ || in.stopQuery;
    in.ended_ = Abort::None;
    if (in.hasDeadline_)
      in.deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(in.timeoutMs);
  }
  ++in.entries_;
}

Interpreter::Entry::~Entry() {
  --in.entries_;
  if (outer) {
    in.hasDeadline_ = false;
    in.polling_ = false;
    in.ended_ = Abort::None;
  }
}

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
  // What goes here may run Class_Terminate: under the time-out and the stop as any call.
  Entry entry(*this);
  resetPending_ = false;
  // Values first (their Class_Terminate may still run script code), then the code.
  GlobalTable old;
  old.items.swap(globals_.items);
  globalIndex_.clear();
  ++generation_;
  InstallErr();
  for (auto& g : old.items) {
    try {
      g->value = Variant();
    } catch (...) {
    }
  }
  old.items.clear();
  units_.clear();
  errPinned_ = false;
  locale_ = &vb::German();
  resetPending_ = false;  // asked for by a handler run here: done
  if (ended_ != Abort::None) {
    HostError e = AbortError(ended_);
    RecordError(e);
    throw e;
  }
}

template <typename Fn>
auto Interpreter::Guard(Fn&& fn) -> decltype(fn()) {
  CallerScope caller(&locale_, this);
  const bool outer = entries_ == 0;
  // A Reset the script asked for takes effect once the outermost call is done.
  struct Later {
    Interpreter* self;
    bool outer;
    ~Later() {
      if (outer && self->resetPending_) {
        try {
          self->Reset();
        } catch (...) {
        }
      }
    }
  } later{this, outer};
  Entry entry(*this);
  if (outer) errPinned_ = false;
  try {
    auto result = fn();
    // Ended in a Class_Terminate that ran after the last statement, or at it.
    if (outer && ended_ != Abort::None) throw ScriptAbort{ended_};
    return result;
  } catch (const ScriptAbort& abort) {
    if (!outer) throw;
    HostError e = AbortError(abort.why);
    RecordError(e);
    throw e;
  } catch (const HostError& e) {
    if (outer && ended_ != Abort::None) {
      // What failed on the way out of an ended run is not what ended it.
      HostError ended = AbortError(ended_);
      RecordError(ended);
      throw ended;
    }
    RecordError(e);
    errPinned_ = false;
    throw;
  } catch (const std::exception& ex) {
    HostError e = AsHostError(ex);
    if (outer && ended_ != Abort::None) e = AbortError(ended_);
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

std::shared_ptr<Unit> Interpreter::CompileHere(std::string_view code, std::string_view name,
                                               ParseMode mode, int& line) {
  if (StackLow()) ThrowOutOfStack();
  return Compile(code, name, mode, line);
}

std::shared_ptr<Unit> Interpreter::CompileOrRecord(std::string_view code, std::string_view name,
                                                   ParseMode mode) {
  int line = 0;
  try {
    return CompileHere(code, name, mode, line);
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
    f.caches = unit->caches.data();
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

Variant Interpreter::CallRef(const Proc& p, std::span<Variant> args) {
  if (entries_ > 0) return CallProc(p, nullptr, nullptr, args);
  return Guard([&] { return CallProc(p, nullptr, nullptr, args); });
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
  globals_.Add().display = display;
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
  // procedure called above the declaring line already sees them. Constants count also in a
  // branch that never runs.
  std::function<void(const Block&)> consts = [&](const Block& block) {
    for (const StmtP& st : block) {
      if (st->kind == SK::Const) {
        const auto& c = st->As<ConstStmt>();
        if (IsConstantLiteral(*c.value)) {
          Global& g = def(c.name->name, c.name->display);
          g.value = ConstantValue(*c.value);
          g.readOnly = true;
        }
      }
      ForEachBlock(*st, consts);
    }
  };
  consts(unit->top.body);
  for (const StmtP& st : unit->top.body) {
    if (st->kind == SK::Dim) {
      for (const DimTarget& dt : st->As<DimStmt>().targets) {
        std::vector<VArray::Dim> dims;
        for (const auto& e : dt.dims) {
          const auto* lit = e->If<LiteralExpr>();
          if (!lit || !lit->value.IsNumber()) break;
          dims.push_back({0, vb::CLng(lit->value) + 1});
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
  f.caches = unit->caches.data();
  f.locals = locals.data();
  f.parent = parent;
  f.explicitVars = unit->optionExplicit || (scope && scope->explicitVars);
  if (scope) {
    f.me = scope->me;
    f.meObj = scope->meObj;
  }
  ExecBlock(unit->top.body, f);
}

}  // namespace fern::script
