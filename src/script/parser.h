// Turns tokens into the syntax tree of one Unit (see ast.h). Names stay unresolved here;
// compiler.h resolves them.
#pragma once

#include <memory>
#include <string_view>

#include "script/ast.h"

namespace fern::script {

enum class ParseMode {
  Code,        // statements, procedures and classes (AddCode, ExecuteGlobal, Execute)
  Expression,  // one expression (Eval): '=' compares
};

// Throws HostError with the compile error's number and text; `errorLine` is its line (1-based).
std::unique_ptr<Unit> Parse(std::string_view source, ParseMode mode, int& errorLine);

}  // namespace fern::script
