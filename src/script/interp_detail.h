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
#include "script/ast.h"

namespace fern::script::detail {

// Calls deeper than this, or below the stack floor (stack_limit.h), are error 28.
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

// The arguments passed by reference that are neither a variable nor a value: a(i) where `a` is
// a variable (its element), and obj.p on an object other than Me (its property).
inline const NameExpr* IndexedName(const Expr& e) {
  const auto* call = e.If<CallExpr>();
  const auto* name = call ? call->callee->If<NameExpr>() : nullptr;
  return name && name->ref != NameRef::ClassProc ? name : nullptr;
}
inline const MemberExpr* ForeignMember(const Expr& e) {
  const auto* member = e.If<MemberExpr>();
  return member && member->object->kind != EK::Me ? member : nullptr;
}

}  // namespace fern::script::detail
