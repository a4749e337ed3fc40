// The lookup tables: functions and constants by name, objects by ProgID.
#include <string>
#include <unordered_map>

#include "platform/text.h"
#include "script/runtime_util.h"

namespace fern::script {

namespace {

const std::unordered_map<std::string, const Builtin*>& BuiltinTable() {
  static const auto* table = [] {
    auto* t = new std::unordered_map<std::string, const Builtin*>();
    for (auto group : {rt::StringBuiltins(), rt::NumberBuiltins(), rt::DateBuiltins()})
      for (const Builtin& b : group) t->emplace(text::LowerAscii(b.name), &b);
    return t;
  }();
  return *table;
}

const std::unordered_map<std::string, Variant>& ConstantTable() {
  static const auto* table = [] {
    auto* t = new std::unordered_map<std::string, Variant>();
    auto add = [t](std::string_view name, Variant v) {
      t->emplace(text::LowerAscii(name), std::move(v));
    };
    add("vbCrLf", Variant("\r\n"));
    add("vbCr", Variant("\r"));
    add("vbLf", Variant("\n"));
    add("vbNewLine", Variant("\r\n"));
    add("vbTab", Variant("\t"));
    add("vbNullString", Variant(""));
    add("vbNullChar", Variant(std::string(1, '\0')));
    add("vbFormFeed", Variant("\f"));
    add("vbVerticalTab", Variant("\v"));
    add("vbBinaryCompare", Variant(int32_t{0}));
    add("vbTextCompare", Variant(int32_t{1}));
    add("vbDatabaseCompare", Variant(int32_t{2}));
    const std::pair<const char*, int32_t> numbers[] = {
        // MsgBox buttons, icons and answers
        {"vbOKOnly", 0},
        {"vbOKCancel", 1},
        {"vbAbortRetryIgnore", 2},
        {"vbYesNoCancel", 3},
        {"vbYesNo", 4},
        {"vbRetryCancel", 5},
        {"vbCritical", 16},
        {"vbQuestion", 32},
        {"vbExclamation", 48},
        {"vbInformation", 64},
        {"vbDefaultButton1", 0},
        {"vbDefaultButton2", 256},
        {"vbDefaultButton3", 512},
        {"vbDefaultButton4", 768},
        {"vbApplicationModal", 0},
        {"vbSystemModal", 4096},
        {"vbMsgBoxHelpButton", 16384},
        {"vbMsgBoxSetForeground", 65536},
        {"vbMsgBoxRight", 524288},
        {"vbMsgBoxRtlReading", 1048576},
        {"vbOK", 1},
        {"vbCancel", 2},
        {"vbAbort", 3},
        {"vbRetry", 4},
        {"vbIgnore", 5},
        {"vbYes", 6},
        {"vbNo", 7},
        // VarType codes
        {"vbEmpty", 0},
        {"vbNull", 1},
        {"vbInteger", 2},
        {"vbLong", 3},
        {"vbSingle", 4},
        {"vbDouble", 5},
        {"vbCurrency", 6},
        {"vbDate", 7},
        {"vbString", 8},
        {"vbObject", 9},
        {"vbError", 10},
        {"vbBoolean", 11},
        {"vbVariant", 12},
        {"vbDataObject", 13},
        {"vbDecimal", 14},
        {"vbByte", 17},
        {"vbArray", 8192},
        // days and weeks
        {"vbUseSystemDayOfWeek", 0},
        {"vbSunday", 1},
        {"vbMonday", 2},
        {"vbTuesday", 3},
        {"vbWednesday", 4},
        {"vbThursday", 5},
        {"vbFriday", 6},
        {"vbSaturday", 7},
        {"vbUseSystem", 0},
        {"vbFirstJan1", 1},
        {"vbFirstFourDays", 2},
        {"vbFirstFullWeek", 3},
        // FormatDateTime
        {"vbGeneralDate", 0},
        {"vbLongDate", 1},
        {"vbShortDate", 2},
        {"vbLongTime", 3},
        {"vbShortTime", 4},
        // tristate
        {"vbTrue", -1},
        {"vbFalse", 0},
        {"vbUseDefault", -2},
        {"vbObjectError", static_cast<int32_t>(0x80040000u)},
        // colours
        {"vbBlack", 0x000000},
        {"vbRed", 0x0000FF},
        {"vbGreen", 0x00FF00},
        {"vbYellow", 0x00FFFF},
        {"vbBlue", 0xFF0000},
        {"vbMagenta", 0xFF00FF},
        {"vbCyan", 0xFFFF00},
        {"vbWhite", 0xFFFFFF},
    };
    // The vb constants are Integers, except the colours and vbObjectError.
    for (const auto& [name, value] : numbers) {
      std::string_view n = name;
      bool isLong = value < -32768 || value > 32767 || n == "vbObjectError" || n == "vbBlack" ||
                    n == "vbRed" || n == "vbGreen" || n == "vbYellow" || n == "vbBlue" ||
                    n == "vbMagenta" || n == "vbCyan" || n == "vbWhite";
      add(name, isLong ? Variant(value) : Variant(static_cast<int16_t>(value)));
    }
    return t;
  }();
  return *table;
}

}  // namespace

const Builtin* FindBuiltin(std::string_view name) {
  const auto& table = BuiltinTable();
  auto it = table.find(text::LowerAscii(name));
  return it == table.end() ? nullptr : it->second;
}

bool FindConstant(std::string_view name, Variant& out) {
  const auto& table = ConstantTable();
  auto it = table.find(text::LowerAscii(name));
  if (it == table.end()) return false;
  out = it->second;
  return true;
}

std::shared_ptr<Dispatch> CreateRuntimeObject(std::string_view progId) {
  std::string id = text::LowerAscii(progId);
  if (id == "scripting.dictionary") return rt::NewDictionary();
  if (id == "scripting.filesystemobject") return rt::NewFileSystemObject();
  if (id == "vbscript.regexp") return NewRegExp();
  return nullptr;
}

}  // namespace fern::script
