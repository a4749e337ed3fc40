// Helpers the interpreter's parts share: how values stand in for objects, how foreign
// exceptions become script errors.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <unordered_map>

#include "platform/dispatch.h"
#include "platform/host_error.h"
#include "platform/variant.h"

namespace fern::script::detail {

inline constexpr int kMaxDepth = 900;
inline constexpr unsigned kGet = kMethod | kPropGet;
// The Me of code outside any class, passed by reference without making one each call.
inline const std::shared_ptr<Dispatch> kNoObject;

enum EngineFn {
  kFnEval,
  kFnExecute,
  kFnExecuteGlobal,
  kFnMsgBox,
  kFnInputBox,
  kFnCreateObject,
  kFnGetObject,
  kFnGetRef,
  kFnGetLocale,
  kFnSetLocale
};

int EngineFnOf(const std::string& lower);
// Whether two values are the same, to tell whether a callee changed a by-reference argument.
bool SameValue(const Variant& a, const Variant& b);
int32_t ToIndex(const Variant& v);
// The value an object stands for where a value is needed: its default member.
Variant DefaultValue(Variant v);
HostError AsHostError(const std::exception& ex);

}  // namespace fern::script::detail
