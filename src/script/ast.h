// The compiled form of a script: a syntax tree whose names are resolved once, after parsing,
// to local slots, class fields or class members; only names that may be bound later (globals,
// host objects, run-time functions) are looked up at run time, and what they were found to be
// is kept in the unit's NameCache table.
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

enum class UnOp { Neg, Not };

enum class EK {
  Literal,  // LiteralExpr
  Name,     // NameExpr
  Me,       // MeExpr
  WithObj,  // WithObjExpr: the object of the innermost With
  Member,   // MemberExpr: object.name
  Call,     // CallExpr: callee(args): a call, an index or a default member
  Unary,    // UnaryExpr
  Binary,   // BinaryExpr
  New,      // NewExpr
  Paren,    // ParenExpr: an argument in parentheses is passed by value
};

// Whether an expression of this kind holds other expressions.
constexpr bool HoldsOperands(EK k) {
  return k == EK::Member || k == EK::Call || k == EK::Unary || k == EK::Binary || k == EK::Paren;
}

// What a Name node stands for, fixed by the compiler.
enum class NameRef : uint8_t {
  Unresolved,
  Local,      // slot in the frame (parameters, Dim, the function's own result)
  Field,      // slot in Me's fields
  ClassProc,  // a Sub/Function/Property of Me's class (name)
  Dynamic,    // global, host object, run-time function or constant; `slot` is the implicit local
};

// A node of the tree; its kind tells which of the derived types it is.
template <typename Kind>
struct Node {
  Kind kind;
  int line = 0;

  Node(Kind k, int l) : kind(k), line(l) {}
  virtual ~Node() = default;
  template <typename T>
  const T& As() const {
    return static_cast<const T&>(*this);
  }
  template <typename T>
  T& As() {
    return static_cast<T&>(*this);
  }
  // This node as a T, or nullptr when it is another kind.
  template <typename T>
  const T* If() const {
    return kind == T::kKind ? static_cast<const T*>(this) : nullptr;
  }
  template <typename T>
  T* If() {
    return kind == T::kKind ? static_cast<T*>(this) : nullptr;
  }
};

// An expression; its kind tells which of the types below it is.
struct Expr : Node<EK> {
  using Node::Node;
};

struct LiteralExpr : Expr {
  static constexpr EK kKind = EK::Literal;
  Variant value;
  bool negated = false;  // -100000, folded into one literal, is not written as a literal
  LiteralExpr(int l, Variant v) : Expr(kKind, l), value(std::move(v)) {}
};

struct NameExpr : Expr {
  static constexpr EK kKind = EK::Name;
  std::string name;     // lower-cased
  std::string display;  // as written, for messages
  NameRef ref = NameRef::Unresolved;
  int slot = -1;   // Local, Field; Dynamic in a procedure: the implicit local
  int cache = -1;  // Dynamic: its entry in the unit's NameCache table
  NameExpr(int l, std::string n, std::string d)
      : Expr(kKind, l), name(std::move(n)), display(std::move(d)) {}
};
using NameP = std::unique_ptr<NameExpr>;

struct MeExpr : Expr {
  static constexpr EK kKind = EK::Me;
  explicit MeExpr(int l) : Expr(kKind, l) {}
};

struct WithObjExpr : Expr {
  static constexpr EK kKind = EK::WithObj;
  int slot = -1;  // the With's frame slot; -1 outside any With
  WithObjExpr(int l, int s) : Expr(kKind, l), slot(s) {}
};

struct MemberExpr : Expr {
  static constexpr EK kKind = EK::Member;
  ExprP object;         // a Name, Member, Call, Me or WithObj
  std::string name;     // lower-cased
  std::string display;  // as written: member calls pass it on
  MemberExpr(int l, ExprP o, std::string n, std::string d)
      : Expr(kKind, l), object(std::move(o)), name(std::move(n)), display(std::move(d)) {}
};

struct CallExpr : Expr {
  static constexpr EK kKind = EK::Call;
  ExprP callee;             // a Name, Member or any expression
  std::vector<ExprP> args;  // a null entry is an omitted argument
  bool parens = false;      // written with parentheses
  CallExpr(int l, ExprP c) : Expr(kKind, l), callee(std::move(c)) {}
};

struct UnaryExpr : Expr {
  static constexpr EK kKind = EK::Unary;
  UnOp op;
  ExprP operand;
  UnaryExpr(int l, UnOp o, ExprP x) : Expr(kKind, l), op(o), operand(std::move(x)) {}
};

struct BinaryExpr : Expr {
  static constexpr EK kKind = EK::Binary;
  BinOp op;
  ExprP left, right;
  BinaryExpr(int l, BinOp o, ExprP x, ExprP y)
      : Expr(kKind, l), op(o), left(std::move(x)), right(std::move(y)) {}
};

struct NewExpr : Expr {
  static constexpr EK kKind = EK::New;
  std::string name;  // the class, lower-cased
  std::string display;
  NewExpr(int l, std::string n, std::string d)
      : Expr(kKind, l), name(std::move(n)), display(std::move(d)) {}
};

struct ParenExpr : Expr {
  static constexpr EK kKind = EK::Paren;
  ExprP inner;
  ParenExpr(int l, ExprP x) : Expr(kKind, l), inner(std::move(x)) {}
};

// The name a Name, Member or New node was written with, for messages; empty for the others.
inline const std::string& WrittenName(const Expr& e) {
  static const std::string kNone;
  switch (e.kind) {
    case EK::Name:
      return e.As<NameExpr>().display;
    case EK::Member:
      return e.As<MemberExpr>().display;
    case EK::New:
      return e.As<NewExpr>().display;
    default:
      return kNone;
  }
}

enum class SK {
  Assign,        // AssignStmt
  ConcatAssign,  // ConcatAssignStmt: a = a & b on a variable, appended in place
  Call,          // CallStmt
  If,            // IfStmt
  Select,        // SelectStmt
  For,           // ForStmt
  ForEach,       // ForEachStmt
  Do,            // DoStmt
  With,          // WithStmt
  Exit,          // ExitStmt
  OnErrorResumeNext,
  OnErrorGoto0,
  ReDim,  // DimStmt
  Erase,  // EraseStmt
  Const,  // ConstStmt
  Dim,    // DimStmt: arrays to create at this point (global code)
};

enum class ExitKind { Do, For, Sub, Function, Property };

struct CaseItem {
  ExprP value, upper;  // value, or value To upper
  bool isOp = false;   // Case Is <op> value
  BinOp op = BinOp::Eq;
};

struct Case {
  std::vector<CaseItem> items;  // empty: Case Else
  Block body;
};

struct DimTarget {
  NameP target;
  std::vector<ExprP> dims;  // upper bounds
};

// A statement; its kind tells which of the types below it is (On Error has no fields).
struct Stmt : Node<SK> {
  using Node::Node;
};

struct AssignStmt : Stmt {
  ExprP target, value;
  bool set = false;  // Set a = b
  explicit AssignStmt(int l) : Stmt(SK::Assign, l) {}
};

struct ConcatAssignStmt : Stmt {
  NameP target;
  std::vector<ExprP> parts;  // appended in order
  ExprP whole;               // the whole a & b & c; owns what the parts came out of
  explicit ConcatAssignStmt(int l) : Stmt(SK::ConcatAssign, l) {}
};

struct CallStmt : Stmt {
  ExprP target;  // Name, Member, Call...
  std::vector<ExprP> args;
  explicit CallStmt(int l) : Stmt(SK::Call, l) {}
};

struct IfStmt : Stmt {
  std::vector<ExprP> conds;   // conds[i] -> blocks[i]
  std::vector<Block> blocks;  // one more than conds: the Else
  explicit IfStmt(int l) : Stmt(SK::If, l) {}
};

struct SelectStmt : Stmt {
  ExprP subject;
  std::vector<Case> cases;
  explicit SelectStmt(int l) : Stmt(SK::Select, l) {}
};

struct ForStmt : Stmt {
  NameP var;
  ExprP from, to, step;  // step may be null
  Block body;
  explicit ForStmt(int l) : Stmt(SK::For, l) {}
};

struct ForEachStmt : Stmt {
  NameP var;
  ExprP collection;
  Block body;
  explicit ForEachStmt(int l) : Stmt(SK::ForEach, l) {}
};

struct DoStmt : Stmt {
  ExprP cond;  // may be null
  bool preTest = false, until = false;
  Block body;
  explicit DoStmt(int l) : Stmt(SK::Do, l) {}
};

struct WithStmt : Stmt {
  ExprP object;
  int slot = -1;  // the frame slot holding the object while the body runs
  Block body;
  explicit WithStmt(int l) : Stmt(SK::With, l) {}
};

struct ExitStmt : Stmt {
  ExitKind exitKind = ExitKind::Do;
  explicit ExitStmt(int l) : Stmt(SK::Exit, l) {}
};

struct DimStmt : Stmt {  // Dim and ReDim
  std::vector<DimTarget> targets;
  bool preserve = false;
  DimStmt(SK k, int l) : Stmt(k, l) {}
};

struct EraseStmt : Stmt {
  NameP target;
  explicit EraseStmt(int l) : Stmt(SK::Erase, l) {}
};

struct ConstStmt : Stmt {
  NameP name;
  ExprP value;
  explicit ConstStmt(int l) : Stmt(SK::Const, l) {}
};

// The blocks directly inside a statement (If branches, loop bodies, Case bodies); `S` is Stmt
// or const Stmt.
template <typename S, typename Fn>
void ForEachBlock(S& s, Fn&& fn) {
  switch (s.kind) {
    case SK::If:
      for (auto& b : s.template As<IfStmt>().blocks) fn(b);
      break;
    case SK::Select:
      for (auto& c : s.template As<SelectStmt>().cases) fn(c.body);
      break;
    case SK::For:
      fn(s.template As<ForStmt>().body);
      break;
    case SK::ForEach:
      fn(s.template As<ForEachStmt>().body);
      break;
    case SK::Do:
      fn(s.template As<DoStmt>().body);
      break;
    case SK::With:
      fn(s.template As<WithStmt>().body);
      break;
    default:
      break;
  }
}

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
  std::map<std::string, int> implicitLocals;                    // names used without Dim -> slot
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

// What a Dynamic name turned out to be when it last ran (-1/nullptr: not yet found). Kept
// beside the tree, which does not change once compiled.
struct NameCache {
  int globalIndex = -1;
  uint32_t generation = 0;  // the globals table the index belongs to
  const Builtin* builtin = nullptr;
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
  std::vector<NameCache> caches;     // one per Dynamic name, filled in as the code runs
};

}  // namespace fern::script
