// The VBScript run-time library that needs no interpreter state: functions by name, constants,
// and the objects scripts create (Dictionary, FileSystemObject, RegExp, Collection).
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/dispatch.h"
#include "platform/variant.h"
#include "platform/vb.h"

namespace fern::script {

// The arguments of a builtin call with the regional settings the calling script runs under.
struct Args : std::span<Variant> {
  Args(std::span<Variant> args, const vb::Locale& locale) : std::span<Variant>(args), loc(locale) {}
  const vb::Locale& loc;
};

// The running script's time-out and the host's stop, for run-time work that can take long
// within one call (a RegExp match), where the statement loop can't look at them.
class CallerStop {
 public:
  // Whether the script is to end now.
  virtual bool Due() = 0;
  // Ends the script the way the statement loop does, once Due() said so.
  [[noreturn]] virtual void End() = 0;

 protected:
  ~CallerStop() = default;
};

// The regional settings of the script running on this thread, German outside any script: the
// run-time objects convert under them, as the built-in functions do.
const vb::Locale& CallerLocale();
// The stop of the script running on this thread; nullptr outside any script.
CallerStop* RunningCallerStop();
// While it lives, the script whose locale `*locale` and stop `stop` are counts as the running
// one.
class CallerScope {
 public:
  CallerScope(const vb::Locale* const* locale, CallerStop* stop);
  ~CallerScope();
  CallerScope(const CallerScope&) = delete;
  CallerScope& operator=(const CallerScope&) = delete;

 private:
  const vb::Locale* const* previousLocale_;
  CallerStop* previousStop_;
};

// A function scripts call by name. `args` holds only the arguments the script passed (optional
// ones may be missing at the end); builtins treat them as values.
struct Builtin {
  std::string_view name;
  int minArgs;
  int maxArgs;
  Variant (*fn)(Args args);
};

// Case-insensitive; nullptr when there is no such function.
const Builtin* FindBuiltin(std::string_view name);
// CInt, CStr, ...: VBScript's type conversions.
bool IsConversion(const Builtin& b);

// vbCrLf, vbTextCompare, vbYesNo, ... ; false when the name is no constant.
bool FindConstant(std::string_view name, Variant& out);

// "Scripting.Dictionary", "Scripting.FileSystemObject" (case-insensitive); nullptr when unknown.
std::shared_ptr<Dispatch> CreateRuntimeObject(std::string_view progId);
std::shared_ptr<Dispatch> NewRegExp();
// VB's Collection (Add, Item, Count, Remove, For Each), also the host's EventsConsumers.
std::shared_ptr<Dispatch> NewCollection();

// Decodes every Script Encoder block ("#@~^" ... "^#~@") in `text`; text outside blocks is kept.
// Throws HostError when a block is damaged.
std::string DecodeScriptEncoded(std::string_view text);

}  // namespace fern::script
