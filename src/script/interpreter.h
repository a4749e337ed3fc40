// The evaluator: runs compiled Units over a table of globals, with VBScript's rules for calls,
// by-reference arguments, default members, error trapping and the time-out. engine.h is its
// public face.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/dispatch.h"
#include "platform/vb.h"
#include "script/ast.h"
#include "script/builtins.h"
#include "script/engine.h"
#include "script/parser.h"
#include "script/stack_limit.h"

namespace fern::script {

class ErrObject;

// Why a run ended from outside the script's own course: the time-out, the host's stop query,
// or a Class_Terminate that could not run for want of stack (error 28).
enum class Abort { None, TimedOut, Stopped, OutOfStack };

// Thrown when a run ends so; no On Error handler catches it.
struct ScriptAbort {
  Abort why = Abort::TimedOut;
};

// The fields of one instance of a script class.
struct Instance {
  const ClassDef* cls = nullptr;
  std::shared_ptr<Unit> unit;  // keeps the class's code alive as long as the instance
  std::vector<Variant> fields;
  // Made by a Class_Terminate: the freeing that ran it, and the object's generation in it (see
  // RunTerminate).
  uint64_t round = 0;
  int generation = 0;
};

// A script class instance as others see it: C++ code calls its members by name like any
// Dispatch, with by-reference arguments written back. Class_Terminate runs when the last
// reference goes.
class ScriptObject : public Dispatch {
 public:
  ScriptObject(std::shared_ptr<Instance> inst, Interpreter* interp, std::shared_ptr<bool> alive,
               bool runTerminate);
  ~ScriptObject() override;

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override;

  Instance& instance() { return *inst_; }
  const std::shared_ptr<Instance>& shared() const { return inst_; }

 private:
  std::shared_ptr<Instance> inst_;
  Interpreter* interp_;
  std::shared_ptr<bool> alive_;  // false once the interpreter is gone
  bool runTerminate_;
};

// What GetRef returns: calling its default member calls the procedure.
class ProcRef : public Dispatch {
 public:
  ProcRef(Interpreter* interp, std::shared_ptr<bool> alive, const Proc* proc,
          std::shared_ptr<Unit> unit);
  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "Object"; }

 private:
  Interpreter* interp_;
  std::shared_ptr<bool> alive_;
  const Proc* proc_;
  std::shared_ptr<Unit> unit_;  // keeps the procedure's code alive
};

struct Frame {
  const Proc* proc = nullptr;
  Variant* locals = nullptr;
  Instance* me = nullptr;
  std::shared_ptr<Dispatch> meObj;
  NameCache* caches = nullptr;  // the run-time caches of the unit `proc` belongs to
  Frame* parent = nullptr;      // Execute/Eval inside a procedure: the caller's scope
  bool resumeNext = false;
  bool explicitVars = false;
};

class Interpreter : private CallerStop {
 public:
  Interpreter();
  ~Interpreter();

  // --- engine.h ---
  void AddCode(std::string_view code, std::string_view sourceName);
  void AddObject(std::string_view name, std::shared_ptr<Dispatch> object);
  Variant Run(std::string_view procName, std::span<Variant> args);
  bool HasProcedure(std::string_view name) const;
  Variant EvalText(std::string_view expression);
  void ExecuteStatement(std::string_view code);
  const ScriptError& Error() const { return lastError_; }
  void ClearError();
  void Reset();

  int timeoutMs = 60000;
  bool allowUI = true;
  Engine::ObjectFactory factory;
  Engine::GetObjectHandler getObject;
  std::function<bool()> stopQuery;

  // --- for ScriptObject ---
  Variant InvokeMember(const std::shared_ptr<Dispatch>& self, Instance& inst, std::string_view name,
                       unsigned kind, std::span<Variant> args, bool allowPrivate);
  // A GetRef reference called, by the script or by the host.
  Variant CallRef(const Proc& p, std::span<Variant> args);
  Variant EnterFromHost(const std::shared_ptr<Dispatch>& self, Instance& inst,
                        std::string_view name, unsigned kind, std::span<Variant> args);
  void RunTerminate(const std::shared_ptr<Instance>& inst);

 private:
  friend class ErrObject;
  enum class Flow { Normal, ExitFor, ExitDo, ExitProc };

  struct Global {
    std::string display;
    Variant value;
    const Proc* proc = nullptr;
    const ClassDef* cls = nullptr;
    bool readOnly = false;
  };

  // What a run-time name turned out to be.
  struct Found {
    enum Kind { None, Var, Proc, Class, Builtin, EngineFn, Const } kind = None;
    Variant* var = nullptr;
    const struct Proc* proc = nullptr;
    const struct Builtin* builtin = nullptr;
    int engineFn = -1;
    Variant value;
    bool readOnly = false;
  };

  // Vectors of values used again by later calls, so that a call allocates nothing once the
  // script has warmed up.
  template <typename T>
  struct Pool {
    std::vector<std::vector<T>> free;
    std::vector<T> Take() {
      if (free.empty()) return {};
      std::vector<T> v = std::move(free.back());
      free.pop_back();
      return v;
    }
    void Give(std::vector<T>& v) {
      v.clear();  // may run Class_Terminate, which may take from the pool itself
      if (free.size() < 256 && v.capacity() <= 64) free.push_back(std::move(v));
    }
  };

  // The local slots of the calls in progress, in chunks that never move: a frame's slots stay
  // where they are while deeper calls come and go, and a call allocates nothing once the
  // chunks exist.
  class SlotStack {
   public:
    struct Mark {
      size_t chunk = 0, used = 0;
    };
    Variant* Push(size_t n, Mark& m);
    // Empties the frame's slots (their Class_Terminate may call deeper, and its failure has
    // nobody to report to), then releases them.
    void Pop(const Mark& m, Variant* base, size_t n) noexcept {
      for (size_t i = 0; i < n; ++i) {
        std::destroy_at(base + i);
        std::construct_at(base + i);
      }
      chunk_ = m.chunk;
      used_ = m.used;
    }

   private:
    struct Chunk {
      std::unique_ptr<Variant[]> data;
      size_t size = 0;
    };
    std::vector<Chunk> chunks_;
    size_t chunk_ = 0, used_ = 0;
  };
  struct FrameSlots {
    SlotStack& stack;
    size_t n;
    SlotStack::Mark mark;
    Variant* base;
    FrameSlots(SlotStack& s, size_t count) : stack(s), n(count), base(s.Push(count, mark)) {}
    ~FrameSlots() { stack.Pop(mark, base, n); }
    FrameSlots(const FrameSlots&) = delete;
    FrameSlots& operator=(const FrameSlots&) = delete;
  };

  // Arguments as passed to a callee, with what each one writes back to afterwards.
  struct ArgBuf {
    struct Back;
    ArgBuf(Pool<Variant>& vp, Pool<Back>& bp)
        : valPool(vp), backPool(bp), vals(vp.Take()), backs(bp.Take()) {}
    ~ArgBuf() {
      valPool.Give(vals);
      backPool.Give(backs);
    }
    Pool<Variant>& valPool;
    Pool<Back>& backPool;
    std::vector<Variant> vals;
    struct Back {
      size_t index = 0;
      Variant* var = nullptr;    // a variable, or the array holding the element
      std::vector<int32_t> idx;  // element of *var
      Variant obj;               // object whose property was passed
      std::string member;
      Variant before;  // the value passed, when the callee's kind is unknown
      bool compare = false;
    };
    std::vector<Back> backs;
  };
  ArgBuf NewArgs() { return ArgBuf(valPool_, backPool_); }

  // Whatever enters the engine from outside (a host call, the host's release of an object, a
  // Reset) enters through one of these; the outermost one sets the time-out and the stop
  // going, and forgets the run's end when it leaves.
  struct Entry {
    Interpreter& in;
    const bool outer;
    explicit Entry(Interpreter& interp);
    ~Entry();
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;
  };
  // Entry points from the host run through here: time-out, error record, deferred Reset.
  template <typename Fn>
  auto Guard(Fn&& fn) -> decltype(fn());
  void RecordError(const HostError& e);
  void Pin(int line, const Unit* unit);

  // Compile, refused with error 28 when too little stack is left to compile and run more code.
  std::shared_ptr<Unit> CompileHere(std::string_view code, std::string_view name, ParseMode mode,
                                    int& line);
  std::shared_ptr<Unit> CompileOrRecord(std::string_view code, std::string_view name,
                                        ParseMode mode);
  void Define(const std::shared_ptr<Unit>& unit);
  void RunTop(const std::shared_ptr<Unit>& unit, Frame* parent, const Frame* scope);
  int FindGlobal(const std::string& lower) const;
  int AddGlobal(const std::string& lower, const std::string& display);
  void InstallErr();

  // --- statements ---
  Flow ExecBlock(const Block& b, Frame& f);
  Flow Exec(const Stmt& s, Frame& f);
  Flow ExecFor(const ForStmt& s, Frame& f);
  template <typename Num, typename Read, typename Make>
  Flow CountedLoop(const ForStmt& s, Frame& f, Num i, Num end, Num step, Read read, Make make);
  Flow ExecForEach(const ForEachStmt& s, Frame& f);
  Flow ExecDo(const DoStmt& s, Frame& f);
  void ExecSelect(const SelectStmt& s, Frame& f, Flow& flow);
  void ExecReDim(const DimStmt& s, Frame& f, bool declare);
  Variant* ReDimTarget(const NameExpr& e, Frame& f);
  bool Resumed(const HostError& e, Frame& f);
  Flow BodyOnce(const Block& body, Frame& f, Flow ends);
  // A comparison with VBScript's rules for text against other kinds, which depend on how each
  // side was written (`ea`, `eb`; nullptr counts as not written).
  Variant Comparison(BinOp op, const Variant& a, const Variant& b, const Expr* ea, const Expr* eb,
                     Frame& f);
  vb::Written HowWritten(const Expr* e, Frame& f);
  Variant* ElementRef(const Expr& e, Frame& f);
  bool LetTakesObject(const Expr& lhs, Frame& f);
  void Assign(const Expr& lhs, Variant val, bool isSet, Frame& f);
  void Tick();
  [[gnu::noinline]] Abort Poll();
  // Ends the run: no script code runs any more until its outermost entry returns.
  [[noreturn]] void Abandon(Abort why);
  // The error a run ended so leaves with.
  HostError AbortError(Abort why) const;
  // CallerStop, for the run-time objects: Poll, then ScriptAbort.
  bool Due() override;
  [[noreturn]] void End() override;
  // Whether the stack is too far used up for another call, another nested expression or block,
  // or another piece of code compiled.
  [[gnu::always_inline]] bool StackLow() const { return BelowStackFloor(stackFloor_); }

  // --- expressions ---
  Variant Eval(const Expr& e, Frame& f);
  Variant EvalValue(const Expr& e, Frame& f);
  Variant Binary(const BinaryExpr& e, Frame& f);
  static bool IsPlain(const Expr& e);
  // A literal, local or field read in place; nullptr for anything else.
  static const Variant* PlainRef(const Expr& e, Frame& f) {
    if (e.kind == EK::Literal) return &e.As<LiteralExpr>().value;
    if (e.kind != EK::Name) return nullptr;
    const auto& n = e.As<NameExpr>();
    if (n.ref == NameRef::Local) return &f.locals[n.slot];
    if (n.ref == NameRef::Field) return &f.me->fields[n.slot];
    return nullptr;
  }
  // The truth of a condition, whole-number comparisons without making a value.
  bool Truth(const Expr& e, Frame& f);
  // The value of `e` without copying it where it is a variable or literal; `tmp` holds it
  // otherwise. Objects stand for their default member.
  const Variant& ValueRef(const Expr& e, Frame& f, std::optional<Variant>& tmp);
  Variant Apply(const Expr& target, const std::vector<ExprP>* args, Frame& f);
  Variant CallName(const NameExpr& e, const std::vector<ExprP>* args, Frame& f);
  Variant CallMember(const MemberExpr& e, const std::vector<ExprP>* args, Frame& f);
  Variant Index(Variant& v, const std::vector<ExprP>* args, Frame& f, const Expr& at);
  Variant NewObject(const NewExpr& e);
  Variant CallEngineFn(int fn, const std::vector<ExprP>* args, Frame& f);
  Variant CallBuiltin(const Builtin& b, const std::vector<ExprP>* args, Frame& f);
  Found Lookup(const NameExpr& e, Frame& f);
  // The variable a Name stands for, created when undeclared (error 500 under Option
  // Explicit); nullptr when the name is a procedure, function or constant.
  Variant* VarRef(const NameExpr& e, Frame& f, bool* readOnly = nullptr);
  // Whether a cached global index belongs to the present globals table.
  bool Known(const NameCache& c) const { return c.globalIndex >= 0 && c.generation == generation_; }
  // A procedure's undeclared name that holds something (ReDim, an assignment, Execute) is its
  // own from then on: a global made later (ExecuteGlobal) does not take it over.
  static bool OwnSet(const NameExpr& e, const Frame& f) {
    return e.slot >= 0 && !f.locals[e.slot].IsEmpty();
  }
  // Whether a Dynamic name is the global its cache found before.
  bool KnownGlobal(const NameExpr& e, const Frame& f) const {
    return !f.parent && Known(f.caches[e.cache]) && !OwnSet(e, f);
  }
  // The global variable a Dynamic name was found to be before; nullptr when not known.
  Variant* CachedGlobal(const NameExpr& e, Frame& f, bool& readOnly) {
    const NameCache& c = f.caches[e.cache];
    if (!KnownGlobal(e, f)) return nullptr;
    Global& g = globals_[static_cast<size_t>(c.globalIndex)];
    if (g.proc || g.cls) return nullptr;
    readOnly = g.readOnly;
    return &g.value;
  }
  std::vector<int32_t> Indices(const std::vector<ExprP>& args, Frame& f);
  Variant& Element(Variant& arr, const std::vector<int32_t>& idx, const Expr& at);
  Variant BaseObject(const Expr& e, Frame& f);

  void BuildArgs(const std::vector<ExprP>* args, Frame& f, ArgBuf& buf, const Proc* known);
  void WriteBack(ArgBuf& buf);
  Variant CallProc(const Proc& p, const std::shared_ptr<Dispatch>& meObj, Instance* me,
                   std::span<Variant> args);
  // Runs a procedure whose arguments are already in the first of `locals`.
  Variant RunFrame(const Proc& p, const std::shared_ptr<Dispatch>& meObj, Instance* me,
                   Variant* locals);
  // Arguments evaluated straight into the callee's slots: false when one of them needs the
  // general path (an array element or property passed by reference, a count that is wrong).
  bool DirectArgs(const Proc& p, const std::vector<ExprP>* args) const;
  Variant CallKnown(const Proc& p, const std::shared_ptr<Dispatch>& meObj, Instance* me,
                    const std::vector<ExprP>* args, Frame& f);
  const Proc* ClassProcFor(const ClassDef& c, const std::string& lower, unsigned kind) const;

  // SetLocale's choice for this engine's scripts; the host's own conversions stay German.
  const vb::Locale* locale_ = &vb::German();
  Pool<Variant> valPool_;
  SlotStack slots_;
  Pool<ArgBuf::Back> backPool_;

  // --- globals and state ---
  // Globals by index; each keeps its place, so that a pointer to one stays good.
  struct GlobalTable {
    std::vector<std::unique_ptr<Global>> items;
    Global& operator[](size_t i) { return *items[i]; }
    const Global& operator[](size_t i) const { return *items[i]; }
    size_t size() const { return items.size(); }
    Global& Add() { return *items.emplace_back(std::make_unique<Global>()); }
  };
  GlobalTable globals_;
  std::unordered_map<std::string, int> globalIndex_;
  // Counts Resets, so that indices cached in old code (still run by Class_Terminate of
  // surviving objects) are not used in the new table.
  uint32_t generation_ = 1;
  std::vector<std::shared_ptr<Unit>> units_;
  std::shared_ptr<ErrObject> err_;
  std::shared_ptr<bool> alive_;
  ScriptError lastError_;

  int entries_ = 0;  // host calls in progress
  int depth_ = 0;    // procedure calls in progress
  bool resetPending_ = false;
  uint32_t ticks_ = 0;
  std::chrono::steady_clock::time_point deadline_{};
  bool hasDeadline_ = false;
  bool polling_ = false;          // a deadline or a stop query for Tick to look at
  Abort dueAbort_ = Abort::None;  // what Due last found
  Abort ended_ = Abort::None;     // why the run in progress ended (see Abandon)
  int terminating_ = 0;           // Class_Terminate handlers in progress, one inside another
  int handlerGeneration_ = 0;     // the generation of the innermost one's object
  uintptr_t stackFloor_ = 0;      // see StackLow
  // Where the error now unwinding happened (its innermost statement).
  bool errPinned_ = false;
  int errLine_ = 0;
  std::string errSourceName_;
  std::string errText_;
};

}  // namespace fern::script
