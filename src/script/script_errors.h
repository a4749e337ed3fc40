// VBScript's error numbers and their texts, for run-time and compile errors alike.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/host_error.h"

namespace fern::script {

inline constexpr int32_t kErrInvalidCall = 5;
inline constexpr int32_t kErrOverflow = 6;
inline constexpr int32_t kErrSubscript = 9;
inline constexpr int32_t kErrArrayFixed = 10;
inline constexpr int32_t kErrDivByZero = 11;
inline constexpr int32_t kErrTypeMismatch = 13;
inline constexpr int32_t kErrOutOfStack = 28;
inline constexpr int32_t kErrNotDefined = 35;
inline constexpr int32_t kErrObjectNotSet = 91;
inline constexpr int32_t kErrForNotInit = 92;
inline constexpr int32_t kErrObjectRequired = 424;
inline constexpr int32_t kErrCannotCreate = 429;
inline constexpr int32_t kErrNoMember = 438;
inline constexpr int32_t kErrLocale = 447;
inline constexpr int32_t kErrWrongArgs = 450;
inline constexpr int32_t kErrNotCollection = 451;
inline constexpr int32_t kErrUnsupportedType = 458;
inline constexpr int32_t kErrUndefined = 500;
inline constexpr int32_t kErrIllegalAssign = 501;
inline constexpr int32_t kErrClassNotDefined = 506;

inline constexpr int32_t kErrSyntax = 1002;
inline constexpr int32_t kErrExpectedLParen = 1005;
inline constexpr int32_t kErrExpectedRParen = 1006;
inline constexpr int32_t kErrExpectedIdent = 1010;
inline constexpr int32_t kErrExpectedEquals = 1011;
inline constexpr int32_t kErrExpectedIf = 1012;
inline constexpr int32_t kErrExpectedTo = 1013;
inline constexpr int32_t kErrExpectedEnd = 1025;  // "Expected end of statement"
inline constexpr int32_t kErrExpectedFunction = 1015;
inline constexpr int32_t kErrExpectedSub = 1016;
inline constexpr int32_t kErrExpectedThen = 1017;
inline constexpr int32_t kErrExpectedWend = 1018;
inline constexpr int32_t kErrExpectedLoop = 1019;
inline constexpr int32_t kErrExpectedNext = 1020;
inline constexpr int32_t kErrExpectedCase = 1021;
inline constexpr int32_t kErrExpectedSelect = 1022;
inline constexpr int32_t kErrExpectedExpression = 1023;
inline constexpr int32_t kErrExpectedStatement = 1024;
inline constexpr int32_t kErrExpectedWith = 1029;
inline constexpr int32_t kErrInvalidNumber = 1031;
inline constexpr int32_t kErrInvalidChar = 1032;
inline constexpr int32_t kErrUnterminatedString = 1033;
inline constexpr int32_t kErrInvalidExit = 1039;
inline constexpr int32_t kErrNameRedefined = 1041;
inline constexpr int32_t kErrParensOnSub = 1044;
inline constexpr int32_t kErrExpectedIn = 1046;
inline constexpr int32_t kErrExpectedClass = 1047;
inline constexpr int32_t kErrExpectedProperty = 1050;

// The time-out stopped a running call (the host's "operation aborted").
inline constexpr int32_t kErrTimeout = static_cast<int32_t>(0x80004004u);

// The standard text of a VBScript error number; empty when the number has none.
std::string_view ErrorText(int32_t number);

// Compile errors (1001..1099) and run-time errors come from different sources.
std::string ErrorSource(int32_t number);

// HostError(number, ErrorText(number)).
[[noreturn]] void Throw(int32_t number);
// HostError(number, ErrorText(number) + ": '" + name + "'"), VBScript's form for named errors.
[[noreturn]] void ThrowNamed(int32_t number, std::string_view name);
// Error 28 for code nested too deep to compile: a compile error, though its number is a
// run-time one.
[[noreturn]] void ThrowNestedTooDeep();

// Error 28 as the engine raises it when too little stack is left to go on: unlike the same
// number raised by a script, it tells that code could not run.
class OutOfStackError : public HostError {
 public:
  OutOfStackError();
};
[[noreturn]] void ThrowOutOfStack();

}  // namespace fern::script
