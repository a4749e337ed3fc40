// The parser's inner workings, shared by its two halves: statements (parser.cpp) and
// expressions (parser_expr.cpp).
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/host_error.h"
#include "script/ast.h"
#include "script/lexer.h"
#include "script/script_errors.h"
#include "script/stack_limit.h"

namespace fern::script::parse {

// Words that never name a variable or procedure.
extern const std::set<std::string, std::less<>> kReserved;

// How deep code may nest, in eighths of a level. Parentheses, argument lists, unary operators
// and blocks are a level each: they recurse through the parser, and the tree they make recurses
// again when it is compiled, run and freed. An operand further along a chain deepens the tree
// without recursing in the parser: an operator's (a & b & c) by an eighth of a level, a member
// or index (a.b.c, a(1)(2)) by half, as their stack costs compare. The count is an upper bound;
// every level also checks the stack actually left, against the floor calls stop at
// (stack_limit.h). On the sanitizer build the deepest code the count lets through needs about
// 2.3 MB of stack, within kStackReserve; real scripts nest a few dozen levels at most.
inline constexpr int kLevel = 8;
inline constexpr int kLink = 1;
inline constexpr int kMemberLink = 4;
inline constexpr int kMaxNesting = 128 * kLevel;

class Parser {
 public:
  Parser(std::vector<Token> toks, Unit& unit) : t_(std::move(toks)), unit_(unit) {}

  void ParseCode();

  void ParseExpressionUnit();

  int errorLine = 0;

 private:
  // --- tokens -------------------------------------------------------------------------
  const Token& Peek(size_t ahead = 0) const {
    size_t i = std::min(p_ + ahead, t_.size() - 1);
    return t_[i];
  }
  const Token& Next() {
    const Token& tk = t_[p_];
    if (p_ + 1 < t_.size()) ++p_;
    return tk;
  }
  int Line() const { return Peek().line; }

  [[noreturn]] void Fail(int32_t number) {
    if (errorLine == 0) errorLine = Line();
    if (number == kErrOutOfStack) ThrowNestedTooDeep();
    Throw(number);
  }

  // Adds to the nesting depth for as long as it lives.
  class Nest {
   public:
    Nest(Parser& p, int units) : p_(p) { Add(units); }
    ~Nest() { p_.depth_ -= units_; }
    Nest(const Nest&) = delete;
    Nest& operator=(const Nest&) = delete;
    void Add(int units) {
      units_ += units;
      p_.depth_ += units;
      if (p_.depth_ > kMaxNesting || BelowStackFloor(p_.stackFloor_)) p_.Fail(kErrOutOfStack);
    }

   private:
    Parser& p_;
    int units_ = 0;
  };

  void Expect(std::string_view kw, int32_t err) {
    if (!Peek().IsKw(kw)) Fail(err);
    Next();
  }
  void ExpectOp(std::string_view op, int32_t err) {
    if (!Peek().IsOp(op)) Fail(err);
    Next();
  }
  bool AcceptKw(std::string_view kw) {
    if (!Peek().IsKw(kw)) return false;
    Next();
    return true;
  }
  bool AcceptOp(std::string_view op) {
    if (!Peek().IsOp(op)) return false;
    Next();
    return true;
  }

  void SkipNewlines() {
    while (Peek().kind == Tok::Newline) Next();
  }

  bool AtStmtEnd() const {
    const Token& tk = Peek();
    return tk.kind == Tok::Newline || tk.kind == Tok::End || (singleLine_ > 0 && tk.IsKw("else"));
  }

  void EndOfStatement();

  bool AtBlockEnd() const;

  std::string Ident(std::string* display = nullptr) {
    const Token& tk = Peek();
    if (tk.kind != Tok::Ident || (!tk.bracketed && kReserved.count(tk.lower)))
      Fail(kErrExpectedIdent);
    if (display) *display = tk.text;
    return Next().lower;
  }

  // --- declarations -------------------------------------------------------------------
  bool AtTop() const { return proc_ == &unit_.top && !cls_; }

  void DeclareVariable(const std::string& name, const std::string& display);

  int NewSlot() { return proc_->numLocals++; }

  void ParseTopItem();

  Block& topBlock() { return unit_.top.body; }

  // "Property" is no reserved word: only Property Get/Let/Set starts a procedure.
  bool IsPropertyAt(size_t ahead) const {
    if (!Peek(ahead).IsKw("property")) return false;
    const Token& nx = Peek(ahead + 1);
    return nx.IsKw("get") || nx.IsKw("let") || nx.IsKw("set");
  }

  void ParseProcedure(bool isPublic);

  void ParseClass();

  void ParseFields(bool isPublic);

  // Dim a, b(3), c() -- names are declared; arrays become a Dim statement (global code) or an
  // array created at procedure entry.
  void ParseDimList(Block& out);

  // --- statements ---------------------------------------------------------------------
  void ParseBlock(Block& out);

  void ParseStatementInto(Block& out);

  void ParseAssignOrCall(Block& out);

  StmtP MakeAssign(ExprP lhs, ExprP rhs, int line);

  // Arguments of a call written without parentheses; empty places are omitted arguments.
  void ParseArgList(std::vector<ExprP>& args);

  void ParseIf(Block& out);

  // A single-line If may close with "End If" on the same line.
  void AcceptEndIfInline() {
    if (Peek().IsKw("end") && Peek(1).IsKw("if")) {
      Next();
      Next();
    }
  }

  void ParseInlineStatements(Block& out);

  void ParseFor(Block& out);

  // An identifier as a Name expression.
  NameP NameHere() {
    std::string display;
    int line = Line();
    std::string name = Ident(&display);
    return MakeName(std::move(name), std::move(display), line);
  }

  void ParseDo(Block& out);

  void ParseSelect(Block& out);

  // --- expressions --------------------------------------------------------------------
  static NameP MakeName(std::string name, std::string display, int line) {
    return std::make_unique<NameExpr>(line, std::move(name), std::move(display));
  }

  ExprP ParseExpr() {
    Nest nest(*this, kLevel);
    return ParseImp();
  }

  struct OpWord {
    std::string_view text;  // an operator, or a keyword when `keyword`
    BinOp op;
    bool keyword = false;
  };

  // One level of left-associative binary operators.
  ExprP LeftAssoc(ExprP (Parser::*sub)(), std::initializer_list<OpWord> ops);

  ExprP ParseImp() { return LeftAssoc(&Parser::ParseEqv, {{"imp", BinOp::Imp, true}}); }
  ExprP ParseEqv() { return LeftAssoc(&Parser::ParseXor, {{"eqv", BinOp::Eqv, true}}); }
  ExprP ParseXor() { return LeftAssoc(&Parser::ParseOr, {{"xor", BinOp::Xor, true}}); }
  ExprP ParseOr() { return LeftAssoc(&Parser::ParseAnd, {{"or", BinOp::Or, true}}); }
  ExprP ParseAnd() { return LeftAssoc(&Parser::ParseNot, {{"and", BinOp::And, true}}); }

  ExprP ParseNot();

  // All comparisons share one level, left to right.
  ExprP ParseCompare();
  // "a = Not b": Not may open the right side of a comparison.
  ExprP ParseCompareOperand() { return Peek().IsKw("not") ? ParseNot() : ParseConcat(); }
  ExprP ParseConcat() { return LeftAssoc(&Parser::ParseAdd, {{"&", BinOp::Concat}}); }
  ExprP ParseAdd() { return LeftAssoc(&Parser::ParseMod, {{"+", BinOp::Add}, {"-", BinOp::Sub}}); }
  ExprP ParseMod() { return LeftAssoc(&Parser::ParseIntDiv, {{"mod", BinOp::Mod, true}}); }
  ExprP ParseIntDiv() { return LeftAssoc(&Parser::ParseMul, {{"\\", BinOp::IntDiv}}); }
  ExprP ParseMul() { return LeftAssoc(&Parser::ParsePow, {{"*", BinOp::Mul}, {"/", BinOp::Div}}); }

  // Unary minus binds tighter than ^, as VBScript has it: -3^2 = 9.

  ExprP ParsePow();

  ExprP ParsePowOperand();

  ExprP ParsePrimary();

  ExprP MemberOf(ExprP base);

  // Member accesses and argument lists after a primary. `firstParen`, when given, receives the
  // token position of the first '(' after the last member (statement calls re-read from there).
  ExprP ParsePostfix(ExprP e, size_t* firstParen);

  std::vector<Token> t_;
  size_t p_ = 0;
  Unit& unit_;
  Proc* proc_ = nullptr;
  ClassDef* cls_ = nullptr;
  std::vector<int> withSlots_;
  int singleLine_ = 0;
  int procBody_ = 0;
  int doDepth_ = 0;
  int forDepth_ = 0;
  int ifBlocks_ = 0;  // block Ifs open around the statement being parsed
  int depth_ = 0;     // see kMaxNesting
  const uintptr_t stackFloor_ = StackFloor();
  bool exprUnit_ = false;
};

}  // namespace fern::script::parse
