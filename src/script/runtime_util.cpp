#include "script/runtime_util.h"

#include <chrono>
#include <ctime>

#include "platform/host_path.h"
#include "platform/utf8.h"
#include "platform/vb.h"

namespace fern::script::rt {

namespace {

const char* MessageFor(int32_t number) {
  switch (number) {
    case err::kInvalidArgument:
      return "Invalid procedure call or argument";
    case err::kOverflow:
      return "Overflow";
    case err::kSubscript:
      return "Subscript out of range";
    case err::kTypeMismatch:
      return "Type mismatch";
    case err::kFileNotFound:
      return "File not found";
    case kBadFileMode:
      return "Bad file mode";
    case kFileExists:
      return "File already exists";
    case kPastEndOfFile:
      return "Input past end of file";
    case kPermissionDenied:
      return "Permission denied";
    case err::kPathFileAccess:
      return "Path/File access error";
    case kPathNotFound:
      return "Path not found";
    case err::kInvalidUseOfNull:
      return "Invalid use of Null";
    case err::kObjectRequired:
      return "Object required";
    case err::kObjectNotSet:
      return "Object variable not set";
    case kDuplicateKey:
      return "This key is already associated with an element of this collection";
    case kRegexSyntax:
      return "Syntax error in regular expression";
    case kElementNotFound:
      return "Element not found";
    default:
      return "Unknown runtime error";
  }
}

}  // namespace

void Raise(int32_t number, std::string_view detail) {
  std::string text = MessageFor(number);
  if (!detail.empty()) {
    text += ": ";
    text += detail;
  }
  throw HostError(number, std::move(text));
}

Variant ValueOf(const Variant& v) {
  if (v.IsObject()) {
    if (!v.obj()) Raise(err::kObjectNotSet);
    return v.obj()->Invoke("", kPropGet, {});
  }
  if (v.IsMissing()) return Variant();
  return v;
}

std::string ArgStr(std::span<Variant> args, size_t i) {
  return vb::CStr(Arg(args, i), CallerLocale());
}
int32_t ArgLng(std::span<Variant> args, size_t i) { return vb::CLng(Arg(args, i), CallerLocale()); }
double ArgDbl(std::span<Variant> args, size_t i) { return vb::CDbl(Arg(args, i), CallerLocale()); }
bool ArgBool(std::span<Variant> args, size_t i) { return vb::CBool(Arg(args, i), CallerLocale()); }
std::string ArgStr(const Args& args, size_t i) { return vb::CStr(Arg(args, i), args.loc); }
int32_t ArgLng(const Args& args, size_t i) { return vb::CLng(Arg(args, i), args.loc); }
double ArgDbl(const Args& args, size_t i) { return vb::CDbl(Arg(args, i), args.loc); }
bool ArgBool(const Args& args, size_t i) { return vb::CBool(Arg(args, i), args.loc); }

bool ArgTextCompare(std::span<Variant> args, size_t i) {
  if (!Given(args, i)) return false;
  int32_t mode = ArgLng(args, i);
  if (mode == 0) return false;
  if (mode == 1) return true;
  Raise(err::kInvalidArgument);
}

std::u32string ToU32(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  size_t pos = 0;
  while (pos < s.size()) out += utf8::Next(s, pos);
  return out;
}

std::string FromU32(std::u32string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char32_t c : s) utf8::Append(out, c);
  return out;
}

Variant MakeArray(std::vector<Variant> items) {
  VArray a = VArray::OneDim(static_cast<int32_t>(items.size()) - 1);
  for (size_t i = 0; i < items.size(); ++i) a.data[i] = std::move(items[i]);
  return Variant(std::move(a));
}

std::filesystem::path RealPath(std::string_view hostPath) {
  if (hostPath.empty()) Raise(err::kInvalidArgument);
  return ResolveHostPath(hostPath);
}

namespace {

double SerialFromTimeT(std::time_t t, int millis) {
  std::tm tm{};
  localtime_r(&t, &tm);
  double day = vb::DateSerial(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  double time = (tm.tm_hour * 3600.0 + tm.tm_min * 60.0 + tm.tm_sec + millis / 1000.0) / 86400.0;
  return day >= 0 ? day + time : day - time;
}

}  // namespace

double LocalNow() {
  auto now = std::chrono::system_clock::now();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  std::time_t seconds = ms / 1000;
  return SerialFromTimeT(seconds, static_cast<int>(ms % 1000));
}

double SerialFromFileTime(std::filesystem::file_time_type t) {
  auto sys = std::chrono::file_clock::to_sys(t);
  return SerialFromTimeT(std::chrono::system_clock::to_time_t(sys), 0);
}

}  // namespace fern::script::rt

namespace fern::script {

namespace {
thread_local const vb::Locale* const* tCallerLocale = nullptr;
thread_local CallerStop* tCallerStop = nullptr;
}  // namespace

const vb::Locale& CallerLocale() { return tCallerLocale ? **tCallerLocale : vb::German(); }
CallerStop* RunningCallerStop() { return tCallerStop; }

CallerScope::CallerScope(const vb::Locale* const* locale, CallerStop* stop)
    : previousLocale_(tCallerLocale), previousStop_(tCallerStop) {
  tCallerLocale = locale;
  tCallerStop = stop;
}
CallerScope::~CallerScope() {
  tCallerLocale = previousLocale_;
  tCallerStop = previousStop_;
}

}  // namespace fern::script
