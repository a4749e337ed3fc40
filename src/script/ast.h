// The compiled form of a script: a syntax tree whose names are resolved once, after parsing,
// to local slots, class fields or class members; only names that may be bound later (globals,
// host objects, run-time functions) are looked up at run time, and then cached in the node.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/variant.h"

namespace fern::script {

struct Builtin;
struct Proc;
struct ClassDef;
struct Stmt;
struct Expr;
using ExprP = std::unique_ptr<Expr>;
using StmtP = std::unique_ptr<Stmt>;
using Block = std::vector<StmtP>;

enum class BinOp {
  Pow,
  Mul,
  Div,
  IntDiv,
  Mod,
  Add,
  Sub,
  Concat,
  Eq,
  Ne,
  Lt,
  Gt,
  Le,
  Ge,
  Is,
  And,
  Or,
  Xor,
  Eqv,
  Imp,
};

enum class EK {
  Literal,  // lit
  Name,     // name; see NameRef
  Me,
  WithObj,  // the object of the innermost With (slot)
  Member,   // a.name (a is a Name, Member, Call, Me or WithObj)
  Call,     // a(args): call, index or default member; a is Name, Member or any expression
  Unary,    // Neg or Not of a (op: Sub = negation, Eqv unused, And = Not)
  Binary,   // a op b
  New,      // New name
  Paren,    // (a): an argument in parentheses is passed by value
};

// What a Name node stands for, fixed by the compiler.
enum class NameRef : uint8_t {
  Unresolved,
  Local,      // slot in the frame (parameters, Dim, the function's own result)
  Field,      // slot in Me's fields
  ClassProc,  // a Sub/Function/Property of Me's class (name)
  Dynamic,    // global, host object, run-time function or constant; `slot` is the implicit local
};

struct Expr {
  EK kind;
  int line = 0;
  Variant lit;
  std::string name;     // lower-cased (Name, Member, New)
  std::string display;  // as written, for messages and member calls
  BinOp op = BinOp::Add;
  ExprP a, b;
  std::vector<ExprP> args;  // Call; a null entry is an omitted argument
  bool parens = false;      // Call written with parentheses

  NameRef ref = NameRef::Unresolved;
  int slot = -1;
  // Run-time caches of a Dynamic name (-1/nullptr: not yet found).
  mutable int globalIndex = -1;
  mutable uint32_t globalGeneration = 0;  // the globals table the index belongs to
  mutable const Builtin* builtin = nullptr;

  explicit Expr(EK k, int l) : kind(k), line(l) {}
};

enum class SK {
  Assign,        // a = b  (set: Set a = b)
  ConcatAssign,  // a = a & b on a variable, appended in place
  Call,          // a is the target (Name/Member/Call...), args
  If,            // conds[i] -> blocks[i]; a trailing block without cond is Else
  Select,        // a is the subject; cases
  For,           // a var, b from, c to, d step; body blocks[0]
  ForEach,       // a var, b collection; body blocks[0]
  Do,            // cond b (may be null), preTest, until; body blocks[0]
  With,          // a object, slot; body blocks[0]
  Exit,          // exitKind
  OnErrorResumeNext,
  OnErrorGoto0,
  ReDim,  // redims; preserve
  Erase,  // a
  Const,  // a name (Name), b value
  Dim,    // arrays to create at this point (global code): redims
};

enum class ExitKind { Do, For, Sub, Function, Property };

struct CaseItem {
  ExprP a, b;         // value, or a To b
  bool isOp = false;  // Case Is <op> a
  BinOp op = BinOp::Eq;
};

struct Case {
  std::vector<CaseItem> items;  // empty: Case Else
  Block body;
};

struct DimTarget {
  ExprP target;             // Name (Dim, ReDim, Erase) or any l-value (ReDim obj.arr(...))
  std::vector<ExprP> dims;  // upper bounds
};

struct Stmt {
  SK kind;
  int line = 0;
  bool set = false;
  ExprP a, b, c, d;
  std::vector<ExprP> args;
  std::vector<ExprP> conds;
  std::vector<Block> blocks;
  std::vector<Case> cases;
  std::vector<DimTarget> redims;
  bool preserve = false;
  bool preTest = false, until = false;
  ExitKind exitKind = ExitKind::Do;
  int slot = -1;

  explicit Stmt(SK k, int l) : kind(k), line(l) {}
};

enum class ProcKind { TopLevel, Sub, Function, PropGet, PropLet, PropSet };

struct Param {
  std::string name;  // lower-cased
  bool byVal = false;
};

struct Proc {
  ProcKind kind = ProcKind::TopLevel;
  std::string name;  // lower-cased
  std::string display;
  bool isPublic = true;
  bool isDefault = false;
  std::vector<Param> params;
  Block body;
  int line = 0;
  int numLocals = 0;
  int resultSlot = -1;                // Function / Property Get: the value the procedure returns
  std::map<std::string, int> locals;  // declared names (parameters first) -> slot
  std::vector<std::pair<int, std::vector<ExprP>>> localArrays;  // Dim a(n) inside the procedure
  std::vector<std::pair<int, Variant>> constSlots;  // Const x = literal anywhere in the body
  const ClassDef* cls = nullptr;
  struct Unit* unit = nullptr;
};

struct Field {
  std::string name;
  std::string display;
  bool isPublic = true;
  std::vector<int32_t> dims;  // Dim a(3) in the class body: a fixed array
  bool isArray = false;
};

struct ClassDef {
  std::string name;
  std::string display;
  std::vector<Field> fields;
  std::map<std::string, int> fieldIndex;
  // Methods and properties by lower-cased name.
  std::map<std::string, std::unique_ptr<Proc>> methods;  // Sub / Function
  std::map<std::string, std::unique_ptr<Proc>> getters, letters, setters;
  const Proc* defaultMember = nullptr;
  const Proc* initialize = nullptr;
  const Proc* terminate = nullptr;
  struct Unit* unit = nullptr;
};

// One piece of code added at once (a file, an Execute, an Eval).
struct Unit {
  std::string sourceName;
  std::vector<std::string> lines;  // the source, for error reports
  bool optionExplicit = false;
  Proc top;  // global statements (or the Eval expression's holder)
  std::vector<std::unique_ptr<Proc>> procs;
  std::vector<std::unique_ptr<ClassDef>> classes;
  std::vector<std::string> globals;  // Dim / Public / Private at script level, display names
  ExprP evalExpr;                    // Eval: the expression
};

}  // namespace fern::script
