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

ProcRef::ProcRef(Interpreter* interp, std::shared_ptr<bool> alive, const Proc* proc,
                 std::shared_ptr<Unit> unit)
    : interp_(interp), alive_(std::move(alive)), proc_(proc), unit_(std::move(unit)) {}

Variant ProcRef::Invoke(std::string_view name, unsigned, std::span<Variant> args) {
  if (!name.empty()) ThrowNoMember(name);
  if (!*alive_) throw HostError(kErrObjectRequired, "The script engine of this object is gone");
  return interp_->CallRef(*proc_, args);
}

namespace {
// Handlers that let go of objects whose handlers let go of objects: this many nest as VBScript
// nests them, and only while this much stack is left above the floor. Deeper, what a handler
// lets go of waits for the freeing in progress, which frees it once the handler has returned,
// so that a chain of any length has every handler run on a stack of any size.
constexpr int kNestedHandlers = 16;
constexpr uintptr_t kNestedStack = uintptr_t{64} << 10;
// Handlers that make objects whose handlers make objects: in VBScript each runs inside the one
// before, and an endless run of them ends with the stack. Here they need not nest, so they are
// counted instead: an object made while a handler runs is one generation past that handler's
// object for as long as the freeing that ran the handler goes on (Variant::FreeingRound), and
// generation 0 otherwise. Past as many generations as calls nest, a handler cannot run, for want
// of stack. Handlers that only let go of objects that exist add none: such a chain runs whole.
constexpr int kMaxGenerations = kMaxDepth;
}  // namespace

void Interpreter::RunTerminate(const std::shared_ptr<Instance>& inst) {
  // A run that has ended runs no more script code.
  if (ended_ != Abort::None) return;
  // Released by the host or at the final teardown: the time-out and the stop hold there too.
  Entry entry(*this);
  {
    // Me inside Class_Terminate is a fresh reference that does not terminate again.
    auto self = std::make_shared<ScriptObject>(inst, this, alive_, false);
    const bool nested = terminating_ >= kNestedHandlers || depth_ + 1 >= kMaxDepth ||
                        BelowStackFloor(stackFloor_ + kNestedStack);
    Variant::FreeingScope freeing(!nested);
    // Read in the scope: a handler run outside any freeing begins one.
    const int generation = inst->round == Variant::FreeingRound() ? inst->generation : 0;
    const bool savedPinned = errPinned_;
    const int savedGeneration = handlerGeneration_;
    handlerGeneration_ = generation;
    ++terminating_;
    try {
      if (generation > kMaxGenerations) Abandon(Abort::OutOfStack);
      CallProc(*inst->cls->terminate, self, inst.get(), {});
    } catch (const ScriptAbort& abort) {
      ended_ = abort.why;
    } catch (const OutOfStackError&) {
      // Out of stack the handler may not have run at all: that ends the run rather than pass
      // unseen. The same number raised by the script is the script's own error.
      ended_ = Abort::OutOfStack;
    } catch (...) {
      // VBScript ignores errors in Class_Terminate.
    }
    --terminating_;
    handlerGeneration_ = savedGeneration;
    errPinned_ = savedPinned;
  }
  // Nobody to throw to: the host reads it in the engine's error.
  if (entry.outer && ended_ != Abort::None) {
    try {
      RecordError(AbortError(ended_));
    } catch (...) {
    }
  }
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

Variant Interpreter::NewObject(const NewExpr& e) {
  int gi = FindGlobal(e.name);
  if (gi < 0 || !globals_[gi].cls) {
    if (e.name == "regexp") return Variant(NewRegExp());
    ThrowNamed(kErrClassNotDefined, e.display);
  }
  const ClassDef* cls = globals_[gi].cls;
  auto inst = std::make_shared<Instance>();
  inst->cls = cls;
  if (terminating_ > 0) {
    inst->round = Variant::FreeingRound();
    inst->generation = handlerGeneration_ + 1;
  }
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
