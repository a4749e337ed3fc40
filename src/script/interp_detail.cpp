#include "script/interp_detail.h"

#include <new>
#include <stdexcept>

#include "platform/vb.h"
#include "script/builtins.h"
#include "script/script_errors.h"

namespace fern::script::detail {

int EngineFnOf(const std::string& lower) {
  static const std::unordered_map<std::string, int> kFns = {
      {"eval", kFnEval},           {"execute", kFnExecute},   {"executeglobal", kFnExecuteGlobal},
      {"msgbox", kFnMsgBox},       {"inputbox", kFnInputBox}, {"createobject", kFnCreateObject},
      {"getobject", kFnGetObject}, {"getref", kFnGetRef},     {"getlocale", kFnGetLocale},
      {"setlocale", kFnSetLocale}};
  auto it = kFns.find(lower);
  return it == kFns.end() ? -1 : it->second;
}

bool SameValue(const Variant& a, const Variant& b) {
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case VType::Empty:
    case VType::Null:
      return true;
    case VType::Boolean:
      return a.boolVal() == b.boolVal();
    case VType::Integer:
      return a.intVal() == b.intVal();
    case VType::Long:
    case VType::Error:
      return a.longVal() == b.longVal();
    case VType::Single:
      return a.singleVal() == b.singleVal();
    case VType::Double:
    case VType::Date:
      return a.doubleVal() == b.doubleVal();
    case VType::Currency:
      return a.currencyVal() == b.currencyVal();
    case VType::Byte:
      return a.byteVal() == b.byteVal();
    case VType::String:
      return a.str() == b.str();
    case VType::Object:
      return a.obj() == b.obj();
    default:
      return false;
  }
}

int32_t ToIndex(const Variant& v) { return vb::CLng(v, CallerLocale()); }

Variant DefaultValue(Variant v) {
  for (int guard = 0; v.IsObject() && guard < 8; ++guard) {
    if (!v.obj()) Throw(kErrObjectNotSet);
    v = v.obj()->Invoke("", kGet, {});
  }
  return v;
}

HostError AsHostError(const std::exception& ex) {
  if (dynamic_cast<const std::bad_alloc*>(&ex) || dynamic_cast<const std::length_error*>(&ex))
    return HostError(7, std::string(ErrorText(7)), ErrorSource(7));
  return HostError(51, std::string("Internal error: ") + ex.what(), ErrorSource(51));
}

}  // namespace fern::script::detail
