// The VBScript engine a script host builds on: load code, add named host objects, call the
// script's procedures, evaluate expressions. One thread; calls may nest (a host object called
// by a script may call back into the engine).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/dispatch.h"
#include "platform/variant.h"

namespace fern::script {

class Interpreter;

// The last error that left the engine, with the place in the script where it happened.
struct ScriptError {
  int32_t number = 0;  // 0: no error
  std::string description;
  std::string
      source;  // "Microsoft VBScript runtime error", "... compilation error", or Err.Raise's
  std::string sourceName;  // the name given to AddCode
  int line = 0;            // 1-based line in that code; 0 when unknown
  std::string text;        // the source text of that line
};

class Engine {
 public:
  Engine();
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Compiles `code` (Script Encoder blocks "#@~^...^#~@" are decoded first), defines its
  // procedures and classes, then runs its global statements. A compile error defines nothing;
  // a run-time error stops the global statements, and what ran before it stays. Errors throw
  // HostError and are kept in Error().
  void AddCode(std::string_view code, std::string_view sourceName = {});

  // Makes `object` visible to scripts under `name` (its members do not become global names).
  void AddObject(std::string_view name, std::shared_ptr<Dispatch> object);

  // Calls a global Sub or Function. The arguments are the caller's variables: by-reference
  // parameters write their new values into them. Throws HostError 35 when there is no such
  // procedure, 450 on a wrong argument count, and whatever the script raises.
  Variant Run(std::string_view procName, std::span<Variant> args = {});
  Variant Run(std::string_view procName, std::vector<Variant>&& args) {
    return Run(procName, std::span<Variant>(args));
  }
  bool HasProcedure(std::string_view name) const;

  // Evaluates an expression in global scope ('=' compares).
  Variant Eval(std::string_view expression);
  // Runs statements in global scope (as ExecuteGlobal).
  void ExecuteStatement(std::string_view code);

  const ScriptError& Error() const;
  // Forgets the last error, also in the scripts' Err object.
  void ClearError();

  // A call from the host that runs longer than this is stopped with error kErrTimeout
  // (script_errors.h); the engine stays usable. 60,000 ms by default; 0 or less: no limit.
  void SetTimeout(int milliseconds);
  int Timeout() const;

  // Asked where the time-out is checked (every thousand or so statements, loop turns and
  // calls): when it answers true the running call is stopped like one past its time-out, with
  // error kErrTimeout. The host hands in its cancel flag, so that a cancelled run does not
  // wait for a script that loops.
  void SetStopQuery(std::function<bool()> query);

  // Whether MsgBox and InputBox may show; when not, they raise 70 "Permission denied".
  void SetAllowUI(bool allow);
  bool AllowUI() const;

  // CreateObject beyond the run-time library's objects ("MSXML2.DOMDocument", host objects):
  // return nullptr for unknown names (the script then gets 429).
  using ObjectFactory = std::function<std::shared_ptr<Dispatch>(std::string_view progId)>;
  void SetObjectFactory(ObjectFactory factory);
  // GetObject(path, progId); without a handler GetObject raises 429.
  using GetObjectHandler =
      std::function<std::shared_ptr<Dispatch>(std::string_view path, std::string_view progId)>;
  void SetGetObjectHandler(GetObjectHandler handler);

  // Discards all code, variables and added objects (as the Script Control's Reset). Called
  // while a script runs, it takes effect when the outermost call returns. The Class_Terminate
  // handlers of what goes run under the time-out and the stop query as a call does; when they
  // are ended so, the rest goes without running script code and Reset throws that error.
  void Reset();

 private:
  std::unique_ptr<Interpreter> impl_;
};

}  // namespace fern::script
