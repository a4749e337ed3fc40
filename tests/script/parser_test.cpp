// The syntax tree's shape and which code compiles.
#include <gtest/gtest.h>

#include "platform/host_error.h"
#include "script/compiler.h"
#include "script/script_errors.h"

namespace fern::script {
namespace {

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

int32_t CompileError(const std::string& code) {
  int line = 0;
  try {
    Compile(code, "", ParseMode::Code, line);
  } catch (const HostError& e) {
    return e.number();
  }
  return 0;
}

TEST(ScriptParser, AcceptsWhatVbScriptAccepts) {
  const char* valid[] = {
      "If c Then : x = 1\n",
      "Sub A : x = 1 : End Sub\n",
      "Sub A() x = 1 End Sub\n",
      "Function F(v) F = v End Function\n",
      "Sub A\nEnd Sub\nSub A\nEnd Sub\n",
      "a = Not b\nc = x <> Not y\n",
      "Dim step, property\nstep = 1 : property = 2\nSub P(step) : End Sub\n",
      "Dim [my var]\n[my var] = 1\n",
      "x = (arr)(1)\n",
      "If True Then\n  Sub Inner\n  End Sub\nEnd If\n",
      "x = .Count\n",
      "x = -3 ^ 2\n",
  };
  for (const char* code : valid) {
    SCOPED_TRACE(code);
    EXPECT_EQ(CompileError(code), 0);
  }
  struct Bad {
    const char* code;
    int32_t number;
  } invalid[] = {
      {"x = 1 y\n", kErrExpectedEnd},
      {"If c Then\n x = 1 End If\n", kErrExpectedEnd},
      {"Class A\n Sub M\n End Sub\n Sub M\n End Sub\nEnd Class\n", kErrNameRedefined},
      {"Dim end\n", kErrExpectedIdent},
      {"Property Get X\nEnd Property\n", 1048},
  };
  for (const Bad& b : invalid) {
    SCOPED_TRACE(b.code);
    EXPECT_EQ(CompileError(b.code), b.number);
  }
}

}  // namespace
}  // namespace fern::script
