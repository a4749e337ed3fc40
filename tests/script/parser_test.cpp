// The syntax tree's shape and which code compiles.
#include <gtest/gtest.h>

#include "platform/host_error.h"
#include "platform/vb.h"
#include "script/compiler.h"
#include "script/engine.h"
#include "script/script_errors.h"

namespace fern::script {
namespace {

std::shared_ptr<Unit> Build(std::string_view src) {
  int line = 0;
  return Compile(src, "test", ParseMode::Code, line);
}

TEST(ScriptParser, StatementCallsPassParenthesisedArgumentsByValue) {
  auto u = Build("Foo(x)\nFoo (x), y\nCall Foo(x)\nFoo x\nFoo (a)(1)\nFoo (a)(1), (b)\n");
  const Block& b = u->top.body;
  ASSERT_EQ(b.size(), 6u);
  for (const auto& s : b) ASSERT_EQ(s->kind, SK::Call);
  auto args = [&](size_t i) -> const std::vector<ExprP>& { return b[i]->As<CallStmt>().args; };
  EXPECT_EQ(args(0)[0]->kind, EK::Paren);
  ASSERT_EQ(args(1).size(), 2u);
  EXPECT_EQ(args(1)[0]->kind, EK::Paren);
  EXPECT_EQ(args(1)[1]->kind, EK::Name);
  EXPECT_EQ(args(2)[0]->kind, EK::Name);
  EXPECT_EQ(args(3)[0]->kind, EK::Name);
  // Foo (a)(1): one argument, element 1 of (a); the callee is Foo itself.
  for (size_t i : {4u, 5u}) {
    EXPECT_EQ(b[i]->As<CallStmt>().target->kind, EK::Name);
    ASSERT_EQ(args(i)[0]->kind, EK::Call);
    EXPECT_EQ(args(i)[0]->As<CallExpr>().callee->kind, EK::Paren);
  }
  EXPECT_EQ(args(4).size(), 1u);
  EXPECT_EQ(args(5).size(), 2u);
}

TEST(ScriptParser, LoopNodesNameTheirParts) {
  auto u = Build("For i = 1 To n Step -1\nNext\nFor Each x In c\nNext\nDo Until y\nLoop\n");
  const Block& b = u->top.body;
  ASSERT_EQ(b.size(), 3u);
  ASSERT_EQ(b[0]->kind, SK::For);
  const auto& fr = b[0]->As<ForStmt>();
  EXPECT_EQ(fr.var->name, "i");
  EXPECT_EQ(fr.from->kind, EK::Literal);
  EXPECT_EQ(fr.to->As<NameExpr>().name, "n");
  ASSERT_TRUE(fr.step);
  EXPECT_EQ(fr.step->As<UnaryExpr>().op, UnOp::Neg);
  ASSERT_EQ(b[1]->kind, SK::ForEach);
  EXPECT_EQ(b[1]->As<ForEachStmt>().collection->As<NameExpr>().name, "c");
  ASSERT_EQ(b[2]->kind, SK::Do);
  EXPECT_TRUE(b[2]->As<DoStmt>().preTest);
  EXPECT_TRUE(b[2]->As<DoStmt>().until);
}

TEST(ScriptParser, PrecedenceFollowsVbScript) {
  int line = 0;
  std::vector<std::shared_ptr<Unit>> units;  // keep the trees the references point into
  // -2 ^ 2: the power of the negated number, 4.
  auto binary = [&](std::string_view src) -> const BinaryExpr& {
    auto u = Compile(src, "", ParseMode::Expression, line);
    EXPECT_EQ(u->evalExpr->kind, EK::Binary);
    units.push_back(u);
    return u->evalExpr->As<BinaryExpr>();
  };
  const BinaryExpr& pow = binary("-2 ^ 2");
  EXPECT_EQ(pow.op, BinOp::Pow);
  ASSERT_EQ(pow.left->kind, EK::Unary);
  EXPECT_EQ(pow.left->As<UnaryExpr>().op, UnOp::Neg);
  // a = b And Not c = d: And of (a = b) and Not (c = d).
  const BinaryExpr& both = binary("a = b And Not c = d");
  ASSERT_EQ(both.op, BinOp::And);
  EXPECT_EQ(both.left->As<BinaryExpr>().op, BinOp::Eq);
  ASSERT_EQ(both.right->kind, EK::Unary);
  const auto& negated = both.right->As<UnaryExpr>();
  EXPECT_EQ(negated.op, UnOp::Not);
  EXPECT_EQ(negated.operand->As<BinaryExpr>().op, BinOp::Eq);
  // 1 + 2 & 3 Mod 2: & binds looser than + and Mod.
  const BinaryExpr& text = binary("1 + 2 & 3 Mod 2");
  EXPECT_EQ(text.op, BinOp::Concat);
  EXPECT_EQ(text.right->As<BinaryExpr>().op, BinOp::Mod);
}

TEST(ScriptParser, ExpressionNodesNameTheirParts) {
  auto u = Build("x = o.Items(1, , k)\ns = s & a & b\nSet y = New Thing\nz = -32768\n");
  const Block& b = u->top.body;
  ASSERT_EQ(b.size(), 4u);
  ASSERT_EQ(b[0]->As<AssignStmt>().value->kind, EK::Call);
  const auto& call = b[0]->As<AssignStmt>().value->As<CallExpr>();
  EXPECT_TRUE(call.parens);
  ASSERT_EQ(call.args.size(), 3u);
  EXPECT_EQ(call.args[0]->As<LiteralExpr>().value.intVal(), 1);
  EXPECT_FALSE(call.args[1]);  // omitted
  EXPECT_EQ(call.args[2]->As<NameExpr>().ref, NameRef::Dynamic);
  ASSERT_EQ(call.callee->kind, EK::Member);
  const auto& member = call.callee->As<MemberExpr>();
  EXPECT_EQ(member.name, "items");
  EXPECT_EQ(member.display, "Items");
  EXPECT_EQ(member.object->As<NameExpr>().name, "o");
  // s = s & a & b appends a and b to s in place.
  ASSERT_EQ(b[1]->kind, SK::ConcatAssign);
  const auto& append = b[1]->As<ConcatAssignStmt>();
  ASSERT_EQ(append.parts.size(), 2u);
  EXPECT_EQ(append.parts[0]->As<NameExpr>().name, "a");
  EXPECT_EQ(append.parts[1]->As<NameExpr>().name, "b");
  EXPECT_EQ(b[2]->As<AssignStmt>().value->As<NewExpr>().display, "Thing");
  // A negated number literal is folded into the literal, keeping its type.
  const auto& folded = b[3]->As<AssignStmt>().value->As<LiteralExpr>().value;
  EXPECT_EQ(folded.type(), VType::Long);
  EXPECT_EQ(folded.longVal(), -32768);
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
      {"If c Then\n x = 1 End Select\n", kErrExpectedEnd},
      {"Class A\n Public v End If\nEnd Class\n", kErrExpectedEnd},
      // Colons after Then make the single-line form, so the End If has no block to close.
      {"If c Then :\n x = 1\nEnd If\n", kErrExpectedStatement},
      {"Class A\n Sub M\n End Sub\n Sub M\n End Sub\nEnd Class\n", kErrNameRedefined},
      {"Dim end\n", kErrExpectedIdent},
      {"Property Get X\nEnd Property\n", 1048},
  };
  for (const Bad& b : invalid) {
    SCOPED_TRACE(b.code);
    EXPECT_EQ(CompileError(b.code), b.number);
  }
}

// A compile error loses every hook of its file: the line forms VBScript accepts must run.
TEST(ScriptParser, BlockEndsOnTheLineOfTheLastStatementRun) {
  struct Case {
    const char* code;
    int x;
  } cases[] = {
      {"If c Then\n  x = 1\nElse x = 3 End If\n", 3},
      {"If Not c Then\n  x = 1 End If\n", 1},
      {"If c Then\n  x = 1\nElse\n  x = 4 End If\n", 4},
      {"If c Then\n  x = 1\nElseIf Not c Then\n  x = 2 End If\n", 2},
      {"If Not c Then\n  If Not c Then x = 5 End If\nEnd If\n", 5},
      {"Class A\n  Public v End Class\nSet o = New A\no.v = 6\nx = o.v\n", 6},
      {"Class A\n  Private v, w End Class\nx = 7\n", 7},
      {"Class A\n  Dim v End Class\nx = 8\n", 8},
      {"x = 9\nIf Not c Then :\nx = x + 1\n", 10},
      {"x = 11\nIf Not c Then : : \n", 11},
      {"If c Then : x = 0 : End If\nx = 12\n", 12},
      {"x = 13\nIf c Then :", 13},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    Engine engine;
    engine.AddCode("Dim c, x, o\nc = False\n");
    EXPECT_NO_THROW(engine.AddCode(c.code));
    EXPECT_EQ(vb::CLng(engine.Eval("x")), c.x);
  }
}

TEST(ScriptParser, EvalOfTextThatEndsTooEarlyIsASyntaxError) {
  Engine engine;
  for (const char* text : {"1 + ", "(1 +", "Abs(", "1 And Not"}) {
    SCOPED_TRACE(text);
    try {
      engine.Eval(text);
      ADD_FAILURE() << "no error";
    } catch (const HostError& e) {
      EXPECT_EQ(e.number(), kErrSyntax);
      EXPECT_EQ(e.source(), "Microsoft VBScript compilation error");
    }
  }
  // A missing operand inside the text is still the error VBScript names for it.
  EXPECT_EQ(CompileError("x = 1 + \n"), kErrExpectedExpression);
}

}  // namespace
}  // namespace fern::script
