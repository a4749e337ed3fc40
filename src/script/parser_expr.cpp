// Expressions: operators by precedence, primaries, member access and argument lists.
#include "script/parser_impl.h"

namespace fern::script::parse {

ExprP Parser::LeftAssoc(ExprP (Parser::*sub)(), std::initializer_list<OpWord> ops) {
  ExprP e = (this->*sub)();
  Nest chain(*this, 0);
  for (;;) {
    const Token& tk = Peek();
    const OpWord* hit = nullptr;
    for (const OpWord& o : ops)
      if (o.keyword ? tk.IsKw(o.text) : tk.IsOp(o.text)) hit = &o;
    if (!hit) return e;
    int line = tk.line;
    Next();
    chain.Add(kLink);
    e = std::make_unique<BinaryExpr>(line, hit->op, std::move(e), (this->*sub)());
  }
}

ExprP Parser::ParseNot() {
  if (Peek().IsKw("not")) {
    int line = Line();
    Next();
    Nest nest(*this, kLevel);
    return std::make_unique<UnaryExpr>(line, UnOp::Not, ParseNot());
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
  Nest chain(*this, 0);
  while (Peek().IsOp("^")) {
    int line = Line();
    Next();
    chain.Add(kLink);
    e = std::make_unique<BinaryExpr>(line, BinOp::Pow, std::move(e), ParsePowOperand());
  }
  return e;
}

ExprP Parser::ParsePowOperand() {
  if (Peek().IsOp("-")) {
    int line = Line();
    Next();
    Nest nest(*this, kLevel);
    ExprP operand = ParsePowOperand();
    // -32768 keeps its literal's type (Long): Hex(-32768) is "FFFF8000".
    if (auto* lit = operand->If<LiteralExpr>();
        lit && lit->value.type() == VType::Long && lit->value.longVal() != INT32_MIN) {
      lit->value = Variant(-lit->value.longVal());
      lit->negated = true;
      return operand;
    }
    return std::make_unique<UnaryExpr>(line, UnOp::Neg, std::move(operand));
  }
  if (AcceptOp("+")) {
    Nest nest(*this, kLevel);
    return ParsePowOperand();
  }
  return ParsePostfix(ParsePrimary(), nullptr);
}

ExprP Parser::ParsePrimary() {
  const Token& tk = Peek();
  int line = tk.line;
  if (tk.kind == Tok::Literal) return std::make_unique<LiteralExpr>(line, Next().value);
  if (tk.IsOp("(")) {
    Next();
    auto e = std::make_unique<ParenExpr>(line, ParseExpr());
    ExpectOp(")", kErrExpectedRParen);
    return e;
  }
  if (tk.IsOp(".")) {
    Next();
    // Outside a With the slot stays -1: using it fails at run time, where On Error sees it.
    return MemberOf(
        std::make_unique<WithObjExpr>(line, withSlots_.empty() ? -1 : withSlots_.back()));
  }
  // Eval("1 + "): text that ends too early is a syntax error.
  if (tk.kind != Tok::Ident) {
    bool early = tk.kind == Tok::End || tk.kind == Tok::Newline;
    Fail(early && exprUnit_ ? kErrSyntax : kErrExpectedExpression);
  }
  if (tk.bracketed) {
    std::string bdisplay = tk.text;
    std::string bname = Next().lower;
    return MakeName(std::move(bname), std::move(bdisplay), line);
  }
  const std::string& w = tk.lower;
  if (w == "true" || w == "false") {
    auto e = std::make_unique<LiteralExpr>(line, Variant(w == "true"));
    Next();
    return e;
  }
  if (w == "empty" || w == "null" || w == "nothing") {
    auto e = std::make_unique<LiteralExpr>(line, w == "empty"  ? Variant()
                                                 : w == "null" ? Variant::Null()
                                                               : Variant::Nothing());
    Next();
    return e;
  }
  if (w == "me") {
    Next();
    // Outside a class only code that Execute/Eval runs from a method has a Me; others
    // fail when they run.
    return std::make_unique<MeExpr>(line);
  }
  if (w == "new") {
    Next();
    std::string display;
    std::string name = Ident(&display);
    return std::make_unique<NewExpr>(line, std::move(name), std::move(display));
  }
  if (kReserved.count(w)) Fail(kErrExpectedExpression);
  std::string display = tk.text;
  std::string name = Next().lower;
  return MakeName(std::move(name), std::move(display), line);
}

ExprP Parser::MemberOf(ExprP base) {
  const Token& tk = Peek();
  if (tk.kind != Tok::Ident) Fail(kErrExpectedIdent);
  auto e = std::make_unique<MemberExpr>(tk.line, std::move(base), tk.lower, tk.text);
  Next();
  return e;
}

ExprP Parser::ParsePostfix(ExprP e, size_t* firstParen) {
  Nest chain(*this, 0);
  for (;;) {
    const Token& tk = Peek();
    if (tk.IsOp(".") && !tk.spaceBefore && e->kind != EK::Literal) {
      Next();
      chain.Add(kMemberLink);
      e = MemberOf(std::move(e));
      if (firstParen) *firstParen = SIZE_MAX;
      continue;
    }
    if (tk.IsOp("(") && e->kind != EK::Literal && (e->kind != EK::Paren || !tk.spaceBefore)) {
      size_t at = p_;
      int line = tk.line;
      Next();
      chain.Add(kMemberLink);
      auto call = std::make_unique<CallExpr>(line, std::move(e));
      call->parens = true;
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
