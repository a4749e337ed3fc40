// The hook relays every exporter's hook class is built from: call a named method on each
// object of a script host's EventsConsumers, in collection order, and combine what the
// consumers leave.
//
// The same rules hold for every relay:
//  - without a script host (null) nothing is called and the arguments stay as they are;
//  - every argument goes to a consumer by reference, and what a consumer leaves in it is what
//    the next consumer gets (chaining); which of them reach the caller is the relay's choice;
//  - a consumer that lacks the method, fails, or runs past the engine's time-out is passed
//    over (after a time-out that consumer's method is not called again: cScriptingV2::TimedOut):
//    its changes to the arguments are undone, its result counts as Empty, and the next
//    consumer is called; no error leaves a relay and the engine's error is cleared at the end.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch.h"
#include "platform/variant.h"

namespace fern {

class cScriptingV2;

// The relay's own variables, each optionally bound to a variable of the caller that receives
// the relay's final value (CopyBack). A value that does not convert to the bound variable's
// type leaves that variable as it was.
class HookArgs {
 public:
  // Reaches the consumers only.
  HookArgs& In(Variant value);
  HookArgs& Back(std::string& var);  // Null and Empty give ""
  HookArgs& Back(bool& var);         // read as a host flag (cUtil::b)
  HookArgs& Back(int32_t& var);
  HookArgs& Back(Variant& var);
  // An object variable: Nothing gives null; an object of another class leaves it.
  template <typename T>
  HookArgs& Back(std::shared_ptr<T>& var) {
    return Bind(var ? Variant(std::static_pointer_cast<Dispatch>(var)) : Variant::Nothing(),
                [&var](const Variant& v) {
                  if (!v.IsObject()) return;
                  if (!v.obj()) {
                    var = nullptr;
                  } else if (auto p = std::dynamic_pointer_cast<T>(v.obj())) {
                    var = std::move(p);
                  }
                });
  }

  std::vector<Variant>& Values() { return values_; }
  Variant& operator[](size_t i) { return values_[i]; }
  size_t size() const { return values_.size(); }
  // Writes the current values into the bound variables.
  void CopyBack() const;

 private:
  HookArgs& Bind(Variant value, std::function<void(const Variant&)> back);
  std::vector<Variant> values_;
  std::vector<std::function<void(const Variant&)>> backs_;
};

// Runs before each consumer (to reset a per-consumer variable).
using ConsumerPrepare = std::function<void(std::vector<Variant>& args)>;
// Runs after each consumer, also after one that was passed over (`ok` false, result Empty).
// Returning false stops the walk.
using ConsumerStep =
    std::function<bool(std::vector<Variant>& args, const Variant& result, bool ok)>;

// The walk itself, for relays whose combining is their own. Returns the number of consumers
// called (passed-over ones included).
size_t CallConsumers(cScriptingV2* host, std::string_view method, std::vector<Variant>& args,
                     const ConsumerStep& step, const ConsumerPrepare& prepare = {});

// A function callback: each consumer's return value as text (AppendLine), in consumer order.
// The arguments are copied back to the caller's bound variables afterwards.
std::string RelayFunction(cScriptingV2* host, std::string_view method, HookArgs& args);

enum class FlagRule {
  kLastDecides,  // the flag goes in with its current value; the last consumer decides
  kSticky,       // one flag, False before the first consumer; the caller's flag ORs each
                 // consumer's answer, so a cancel once set stays set
};

struct ProcedureSlots {
  size_t flag;  // index of the flag argument
  FlagRule rule;
  std::optional<size_t> message;  // index of the message argument, if the callback has one
};

// A procedure callback. Afterwards the flag argument holds the combined flag (Boolean) and the
// message argument every consumer's non-empty message put in front of what the caller passed
// (PrependMessage; each consumer starts with an empty message); then CopyBack.
void RelayProcedure(cScriptingV2* host, std::string_view method, HookArgs& args,
                    const ProcedureSlots& slots);

// `collected` becomes `text` while it is empty, else collected & CR LF & text (an empty text
// after the first non-empty one adds an empty line).
void AppendLine(std::string& collected, const std::string& text);
// A non-empty `text` goes in front: text & CR LF & collected (text alone while collected is
// empty).
void PrependMessage(std::string& collected, const std::string& text);
// A consumer's answer as text: Null, Empty and what has no text form give "".
std::string HookText(const Variant& v);

}  // namespace fern
