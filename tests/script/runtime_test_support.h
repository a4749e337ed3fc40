// Calling the run-time library the way the interpreter does: builtins by name, objects through
// Dispatch::Invoke.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/host_error.h"
#include "script/builtins.h"
#include "support/error_of.h"

namespace fern::script::testing {

inline Variant Call(std::string_view name, std::vector<Variant> args = {}) {
  const Builtin* b = FindBuiltin(name);
  if (!b) throw std::runtime_error("no builtin " + std::string(name));
  return b->fn(Args(std::span<Variant>(args), vb::German()));
}

inline std::string Str(std::string_view name, std::vector<Variant> args = {}) {
  Variant v = Call(name, std::move(args));
  if (!v.IsString()) throw std::runtime_error(std::string(name) + " gave no text");
  return v.str();
}

inline Variant Get(const std::shared_ptr<Dispatch>& o, std::string_view member,
                   std::vector<Variant> args = {}) {
  return o->Invoke(member, kMethod | kPropGet, std::span<Variant>(args));
}

inline void Let(const std::shared_ptr<Dispatch>& o, std::string_view member,
                std::vector<Variant> args) {
  o->Invoke(member, kPropLet, std::span<Variant>(args));
}

inline std::shared_ptr<Dispatch> ObjOf(const Variant& v) {
  if (!v.IsObject() || !v.obj()) throw std::runtime_error("no object");
  return v.obj();
}

using fern::testing::ErrorOf;

}  // namespace fern::script::testing
