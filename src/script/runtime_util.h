// Helpers shared by the run-time library's files (runtime_*.cpp); not part of its interface.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch.h"
#include "platform/host_error.h"
#include "platform/variant.h"
#include "script/builtins.h"

namespace fern::script::rt {

// VBScript's run-time error numbers that the library raises beyond those in host_error.h.
inline constexpr int32_t kBadFileMode = 54;
inline constexpr int32_t kFileExists = 58;
inline constexpr int32_t kPastEndOfFile = 62;
inline constexpr int32_t kPermissionDenied = 70;
inline constexpr int32_t kPathNotFound = 76;
inline constexpr int32_t kDuplicateKey = 457;
inline constexpr int32_t kRegexSyntax = 5017;
inline constexpr int32_t kElementNotFound = 32811;

// Throws HostError with VBScript's text for the number; `detail` (a file name, a key) is
// appended after ": " where VBScript shows none, so logs say what failed.
[[noreturn]] void Raise(int32_t number, std::string_view detail = {});

// Argument `i` was passed and is not the "missing" marker.
inline bool Given(std::span<Variant> args, size_t i) {
  return i < args.size() && !args[i].IsMissing();
}

// The value of an argument: an object stands for its default member, as VBScript reads it
// wherever a value is needed. Missing arguments give Empty.
Variant ValueOf(const Variant& v);
inline Variant Arg(std::span<Variant> args, size_t i) {
  return i < args.size() ? ValueOf(args[i]) : Variant();
}

// Conversions with VBScript's errors (94 for Null, 13 for text that is no number), under the
// calling script's locale.
std::string ArgStr(const Args& args, size_t i);
int32_t ArgLng(const Args& args, size_t i);
double ArgDbl(const Args& args, size_t i);
bool ArgBool(const Args& args, size_t i);
// The same for the run-time objects' methods, under the locale of the script calling them.
std::string ArgStr(std::span<Variant> args, size_t i);
int32_t ArgLng(std::span<Variant> args, size_t i);
double ArgDbl(std::span<Variant> args, size_t i);
bool ArgBool(std::span<Variant> args, size_t i);
// An optional compare argument: 0 binary (default), 1 text; anything else raises 5.
bool ArgTextCompare(std::span<Variant> args, size_t i);

// Code points of UTF-8 text, and back.
std::u32string ToU32(std::string_view s);
std::string FromU32(std::u32string_view s);

// An array of Variants with lower bound 0.
Variant MakeArray(std::vector<Variant> items);

// The builtins of each group, merged into one table by FindBuiltin.
std::span<const Builtin> StringBuiltins();
std::span<const Builtin> NumberBuiltins();
std::span<const Builtin> DateBuiltins();

// The objects CreateRuntimeObject makes.
std::shared_ptr<Dispatch> NewDictionary();
std::shared_ptr<Dispatch> NewFileSystemObject();

// A host path text ("C:\Daten\x.txt", "..\x.txt", "/tmp/x") as a real path.
std::filesystem::path RealPath(std::string_view hostPath);

// The current local time as an OLE serial with milliseconds.
double LocalNow();
// A file time as an OLE serial in local time.
double SerialFromFileTime(std::filesystem::file_time_type t);

}  // namespace fern::script::rt
