// Expressions: operators by precedence, primaries, member access and argument lists.
#include "script/parser_impl.h"

namespace fern::script::parse {

ExprP Parser::Bin(BinOp op, ExprP a, ExprP b, int line) {
  auto e = std::make_unique<Expr>(EK::Binary, line);
  e->op = op;
  e->a = std::move(a);
  e->b = std::move(b);
  return e;
}

ExprP Parser::LeftAssoc(ExprP (Parser::*sub)(), std::initializer_list<OpWord> ops) {
  ExprP e = (this->*sub)();
  for (;;) {
    const Token& tk = Peek();
    const OpWord* hit = nullptr;
    for (const OpWord& o : ops)
      if (o.keyword ? tk.IsKw(o.text) : tk.IsOp(o.text)) hit = &o;
    if (!hit) return e;
    int line = tk.line;
    Next();
    e = Bin(hit->op, std::move(e), (this->*sub)(), line);
  }
}

ExprP Parser::ParseNot() {
  if (Peek().IsKw("not")) {
    int line = Line();
    Next();
    auto e = std::make_unique<Expr>(EK::Unary, line);
    e->unop = UnOp::Not;
    e->a = ParseNot();
    return e;
  }
  return ParseCompare();
}

ExprP Parser::ParseCompare() {
  return LeftAssoc(&Parser::ParseCompareOperand, {{"=", BinOp::Eq},
                                                  {"<>", BinOp::Ne},
                                                  {"<", BinOp::Lt},
                                                  {">", BinOp::Gt},
                                                  {"<=", BinOp::Le},
                                                  {">=", BinOp::Ge},
                                                  {"is", BinOp::Is, true}});
}

ExprP Parser::ParsePow() {
  ExprP e = ParsePowOperand();
  while (Peek().IsOp("^")) {
    int line = Line();
    Next();
    e = Bin(BinOp::Pow, std::move(e), ParsePowOperand(), line);
  }
  return e;
}

ExprP Parser::ParsePowOperand() {
  if (Peek().IsOp("-")) {
    int line = Line();
    Next();
    ExprP operand = ParsePowOperand();
    // -32768 keeps its literal's type (Long): Hex(-32768) is "FFFF8000".
    if (operand->kind == EK::Literal && operand->lit.type() == VType::Long &&
        operand->lit.longVal() != INT32_MIN) {
      operand->lit = Variant(-operand->lit.longVal());
      return operand;
    }
    auto e = std::make_unique<Expr>(EK::Unary, line);
    e->unop = UnOp::Neg;
    e->a = std::move(operand);
    return e;
  }
  if (AcceptOp("+")) return ParsePowOperand();
  return ParsePostfix(ParsePrimary(), nullptr);
}

ExprP Parser::ParsePrimary() {
  const Token& tk = Peek();
  int line = tk.line;
  if (tk.kind == Tok::Literal) {
    auto e = std::make_unique<Expr>(EK::Literal, line);
    e->lit = Next().value;
    return e;
  }
  if (tk.IsOp("(")) {
    Next();
    auto e = std::make_unique<Expr>(EK::Paren, line);
    e->a = ParseExpr();
    ExpectOp(")", kErrExpectedRParen);
    return e;
  }
  if (tk.IsOp(".")) {
    Next();
    // Outside a With the slot stays -1: using it fails at run time, where On Error sees it.
    auto base = std::make_unique<Expr>(EK::WithObj, line);
    base->slot = withSlots_.empty() ? -1 : withSlots_.back();
    return MemberOf(std::move(base));
  }
  if (tk.kind != Tok::Ident) Fail(kErrExpectedExpression);
  if (tk.bracketed) {
    std::string bdisplay = tk.text;
    std::string bname = Next().lower;
    return NameExpr(bname, bdisplay, line);
  }
  const std::string& w = tk.lower;
  if (w == "true" || w == "false") {
    auto e = std::make_unique<Expr>(EK::Literal, line);
    e->lit = Variant(w == "true");
    Next();
    return e;
  }
  if (w == "empty" || w == "null" || w == "nothing") {
    auto e = std::make_unique<Expr>(EK::Literal, line);
    e->lit = w == "empty" ? Variant() : w == "null" ? Variant::Null() : Variant::Nothing();
    Next();
    return e;
  }
  if (w == "me") {
    Next();
    // Outside a class only code that Execute/Eval runs from a method has a Me; others
    // fail when they run.
    return std::make_unique<Expr>(EK::Me, line);
  }
  if (w == "new") {
    Next();
    auto e = std::make_unique<Expr>(EK::New, line);
    e->name = Ident(&e->display);
    return e;
  }
  if (kReserved.count(w)) Fail(kErrExpectedExpression);
  std::string display = tk.text;
  std::string name = Next().lower;
  return NameExpr(name, display, line);
}

ExprP Parser::MemberOf(ExprP base) {
  const Token& tk = Peek();
  if (tk.kind != Tok::Ident) Fail(kErrExpectedIdent);
  auto e = std::make_unique<Expr>(EK::Member, tk.line);
  e->name = tk.lower;
  e->display = tk.text;
  e->a = std::move(base);
  Next();
  return e;
}

ExprP Parser::ParsePostfix(ExprP e, size_t* firstParen) {
  for (;;) {
    const Token& tk = Peek();
    if (tk.IsOp(".") && !tk.spaceBefore && e->kind != EK::Literal) {
      Next();
      e = MemberOf(std::move(e));
      if (firstParen) *firstParen = SIZE_MAX;
      continue;
    }
    if (tk.IsOp("(") && e->kind != EK::Literal && (e->kind != EK::Paren || !tk.spaceBefore)) {
      size_t at = p_;
      int line = tk.line;
      Next();
      auto call = std::make_unique<Expr>(EK::Call, line);
      call->parens = true;
      call->a = std::move(e);
      if (!AcceptOp(")")) {
        for (;;) {
          if (Peek().IsOp(",") || Peek().IsOp(")"))
            call->args.push_back(nullptr);
          else
            call->args.push_back(ParseExpr());
          if (AcceptOp(")")) break;
          ExpectOp(",", kErrExpectedRParen);
        }
      }
      e = std::move(call);
      if (firstParen && *firstParen == SIZE_MAX) *firstParen = at;
      continue;
    }
    return e;
  }
}

}  // namespace fern::script::parse
