// Name resolution: locals, fields, class members and run-time lookups.
#include <gtest/gtest.h>

#include "script/compiler.h"

namespace fern::script {
namespace {

std::shared_ptr<Unit> Build(std::string_view src) {
  int line = 0;
  return Compile(src, "test", ParseMode::Code, line);
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
  auto assign = [](const StmtP& s) -> const AssignStmt& { return s->As<AssignStmt>(); };
  auto name = [](const ExprP& e) -> const NameExpr& { return e->As<NameExpr>(); };
  const AssignStmt& assignB = assign(f.body[0]);
  const auto& sum = assignB.value->As<BinaryExpr>();
  EXPECT_EQ(name(assignB.target).ref, NameRef::Local);
  EXPECT_EQ(name(sum.left).ref, NameRef::Local);     // the parameter
  EXPECT_EQ(name(sum.right).ref, NameRef::Dynamic);  // a global, found at run time
  const AssignStmt& result = assign(f.body[1]);
  EXPECT_EQ(name(result.target).ref, NameRef::Local);
  EXPECT_EQ(name(result.target).slot, f.resultSlot);
  const AssignStmt& implicit = assign(f.body[2]);
  EXPECT_EQ(name(implicit.target).ref, NameRef::Dynamic);
  EXPECT_GE(name(implicit.target).slot, 0);  // its own slot should no global exist
  EXPECT_EQ(name(implicit.value->As<CallExpr>().callee).ref,
            NameRef::Dynamic);  // F(1) calls F again
  const Proc& m = *u->classes[0]->methods.at("m");
  EXPECT_EQ(name(assign(m.body[0]).target).ref, NameRef::Field);
  EXPECT_EQ(name(assign(m.body[0]).value).ref, NameRef::ClassProc);
}

}  // namespace
}  // namespace fern::script
