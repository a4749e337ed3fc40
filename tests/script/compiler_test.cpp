// The front end on its own: tokens, the shape of the syntax tree, and name resolution.
#include <gtest/gtest.h>

#include "platform/host_error.h"
#include "script/compiler.h"
#include "script/lexer.h"
#include "script/script_errors.h"

namespace fern::script {
namespace {

std::vector<Token> Lex(std::string_view src) {
  int line = 0;
  return Tokenize(src, line);
}

TEST(ScriptLexer, LiteralsTakeVbScriptTypes) {
  auto t = Lex("x = &HFFFF + &H10000 + 40000 + 7 + 1.5 + &O17 + \"a\"\"b\" + #2/29/2024#");
  std::vector<Variant> lits;
  for (const Token& tk : t)
    if (tk.kind == Tok::Literal) lits.push_back(tk.value);
  ASSERT_EQ(lits.size(), 8u);
  EXPECT_EQ(lits[0].type(), VType::Integer);
  EXPECT_EQ(lits[0].intVal(), -1);
  EXPECT_EQ(lits[1].type(), VType::Long);
  EXPECT_EQ(lits[2].type(), VType::Long);
  EXPECT_EQ(lits[3].type(), VType::Integer);
  EXPECT_EQ(lits[4].type(), VType::Double);
  EXPECT_EQ(lits[5].intVal(), 15);
  EXPECT_EQ(lits[6].str(), "a\"b");
  EXPECT_EQ(lits[7].type(), VType::Date);
  // Concatenation written without blanks.
  auto c = Lex("s = n&1&h");
  EXPECT_EQ(c[3].text, "&");
  EXPECT_EQ(c[4].text, "1");
  EXPECT_EQ(c[6].text, "h");
}

TEST(ScriptLexer, ContinuationsCommentsAndSeparators) {
  auto t = Lex("a = 1 & _\r\n  2 ' note\r\nRem whole line\r\nb = 3 : c = .5\n");
  std::vector<std::string> texts;
  for (const Token& tk : t)
    texts.push_back(tk.kind == Tok::Newline ? (tk.colon ? ":" : "NL") : tk.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"a", "=", "1", "&", "2", "NL", "NL", "b", "=", "3",
                                             ":", "c", "=", ".5", "NL", "NL", ""}));
  // Tokens after a continuation carry their own line.
  EXPECT_EQ(t[4].line, 2);
  EXPECT_EQ(t[7].line, 4);
  // A '.' after a blank is a With member; directly after a name it is member access.
  auto w = Lex("x.y .z");
  EXPECT_FALSE(w[1].spaceBefore);
  EXPECT_TRUE(w[3].spaceBefore);
  int line = 0;
  EXPECT_THROW(Tokenize("x = \"open", line), HostError);
  EXPECT_EQ(line, 1);
}

std::shared_ptr<Unit> Build(std::string_view src) {
  int line = 0;
  return Compile(src, "test", ParseMode::Code, line);
}

TEST(ScriptParser, StatementCallsPassParenthesisedArgumentsByValue) {
  auto u = Build("Foo(x)\nFoo (x), y\nCall Foo(x)\nFoo x\n");
  const Block& b = u->top.body;
  ASSERT_EQ(b.size(), 4u);
  for (const auto& s : b) ASSERT_EQ(s->kind, SK::Call);
  EXPECT_EQ(b[0]->args[0]->kind, EK::Paren);
  ASSERT_EQ(b[1]->args.size(), 2u);
  EXPECT_EQ(b[1]->args[0]->kind, EK::Paren);
  EXPECT_EQ(b[1]->args[1]->kind, EK::Name);
  EXPECT_EQ(b[2]->args[0]->kind, EK::Name);
  EXPECT_EQ(b[3]->args[0]->kind, EK::Name);
}

TEST(ScriptParser, PrecedenceFollowsVbScript) {
  int line = 0;
  // -2 ^ 2: the power of the negated number, 4.
  auto u = Compile("-2 ^ 2", "", ParseMode::Expression, line);
  ASSERT_EQ(u->evalExpr->kind, EK::Binary);
  EXPECT_EQ(u->evalExpr->op, BinOp::Pow);
  EXPECT_EQ(u->evalExpr->a->kind, EK::Unary);
  // a = b And Not c = d: And of (a = b) and Not (c = d).
  u = Compile("a = b And Not c = d", "", ParseMode::Expression, line);
  ASSERT_EQ(u->evalExpr->op, BinOp::And);
  EXPECT_EQ(u->evalExpr->a->op, BinOp::Eq);
  EXPECT_EQ(u->evalExpr->b->kind, EK::Unary);
  EXPECT_EQ(u->evalExpr->b->a->op, BinOp::Eq);
  // 1 + 2 & 3 Mod 2: & binds looser than + and Mod.
  u = Compile("1 + 2 & 3 Mod 2", "", ParseMode::Expression, line);
  EXPECT_EQ(u->evalExpr->op, BinOp::Concat);
  EXPECT_EQ(u->evalExpr->b->op, BinOp::Mod);
}

TEST(ScriptCompiler, NamesResolveToSlotsFieldsAndRunTimeLookups) {
  auto u = Build(
      "Function F(a)\n"
      "  Dim b\n"
      "  b = a + g\n"
      "  F = b\n"
      "  implicitLocal = F(1)\n"
      "End Function\n"
      "Class C\n"
      "  Private fld\n"
      "  Sub M() : fld = P : End Sub\n"
      "  Property Get P : P = 1 : End Property\n"
      "End Class\n");
  const Proc& f = *u->procs[0];
  const Stmt& assignB = *f.body[0];
  EXPECT_EQ(assignB.a->ref, NameRef::Local);
  EXPECT_EQ(assignB.b->a->ref, NameRef::Local);    // the parameter
  EXPECT_EQ(assignB.b->b->ref, NameRef::Dynamic);  // a global, found at run time
  const Stmt& result = *f.body[1];
  EXPECT_EQ(result.a->ref, NameRef::Local);
  EXPECT_EQ(result.a->slot, f.resultSlot);
  const Stmt& implicit = *f.body[2];
  EXPECT_EQ(implicit.a->ref, NameRef::Dynamic);
  EXPECT_GE(implicit.a->slot, 0);                   // its own slot should no global exist
  EXPECT_EQ(implicit.b->a->ref, NameRef::Dynamic);  // F(1) calls F again
  const Proc& m = *u->classes[0]->methods.at("m");
  EXPECT_EQ(m.body[0]->a->ref, NameRef::Field);
  EXPECT_EQ(m.body[0]->b->ref, NameRef::ClassProc);
}

}  // namespace
}  // namespace fern::script
