// SetLocale belongs to the engine's loaded scripts: the host's own conversions stay German while
// a script runs under another locale, and Reset or a new engine starts German again.
#include <gtest/gtest.h>

#include "platform/dispatch.h"
#include "platform/host_error.h"
#include "platform/vb.h"
#include "script/engine.h"

namespace fern::script {
namespace {

// A host object that writes what it is given as text, the way the host's own code does.
class Recorder : public Dispatch {
 public:
  std::vector<std::string> texts;
  Variant Invoke(std::string_view name, unsigned, std::span<Variant> args) override {
    if (!NameIs(name, "Put"))
      throw HostError(438, "Object doesn't support this property or method");
    texts.push_back(vb::CStr(args[0]));
    return Variant();
  }
  std::string TypeName() const override { return "Recorder"; }
};

std::string Text(Engine& e, std::string_view expr) { return vb::CStr(e.Eval(expr)); }

TEST(ScriptLocale, LastsWhileTheCodeIsLoadedAndNeverReachesTheHost) {
  auto recorder = std::make_shared<Recorder>();
  Engine e;
  e.AddObject("Host", recorder);
  e.AddCode(
      "SetLocale \"en-us\"\n"
      "Function Show(x)\n"
      "  Host.Put x\n"
      "  Show = CStr(x) & \" \" & CDbl(\"1,5\")\n"
      "End Function\n");
  Variant half(1.5);
  EXPECT_EQ(vb::CStr(e.Run("Show", {half})), "1.5 15");
  EXPECT_EQ(recorder->texts, std::vector<std::string>{"1,5"});
  EXPECT_EQ(vb::CStr(half), "1,5");
  EXPECT_EQ(Text(e, "GetLocale()"), "1033");

  e.Reset();
  e.AddObject("Host", recorder);
  e.AddCode("Function Show(x)\n  Show = CStr(x)\nEnd Function\n");
  EXPECT_EQ(vb::CStr(e.Run("Show", {half})), "1,5");
  EXPECT_EQ(Text(e, "GetLocale()"), "1031");

  Engine next;
  EXPECT_EQ(Text(next, "CStr(1.5) & \" \" & GetLocale()"), "1,5 1031");
}

}  // namespace
}  // namespace fern::script
