// From source text to a runnable Unit: parsing, then fixing every name to a local slot, a
// class field or member, or a run-time lookup. Each procedure is compiled once, here.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "script/ast.h"
#include "script/parser.h"

namespace fern::script {

// Throws HostError (compile errors 1001..1099) with `errorLine` set to the faulty line.
std::shared_ptr<Unit> Compile(std::string_view source, std::string_view sourceName, ParseMode mode,
                              int& errorLine);

// A literal a Const may hold (a negative number too), and its value.
bool IsConstantLiteral(const Expr& e);
Variant ConstantValue(const Expr& e);

// Splits text into lines (CR LF, LF or CR), for error reports.
std::vector<std::string> SplitLines(std::string_view text);

}  // namespace fern::script
