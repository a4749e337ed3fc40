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
