// The engine's host interface: by-reference calls in both directions, errors with their
// lines, the time-out, object creation hooks, message boxes and Reset.
#include "script/engine.h"

#include <gtest/gtest.h>

#include "platform/dispatch.h"
#include "platform/host_error.h"
#include "platform/msgbox.h"
#include "platform/vb.h"
#include "script/builtins.h"
#include "script/script_errors.h"
#include "support/error_of.h"

namespace fern::script {
namespace {

// A host object: Twice doubles its argument in place, Log collects texts.
class HostObject : public Dispatch {
 public:
  std::vector<std::string> log;
  int calls = 0;

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override {
    ++calls;
    if (NameIs(name, "Twice")) {
      CheckArgCount(args, 1, 1, name);
      args[0] = vb::Mul(args[0], Variant(static_cast<int16_t>(2)));
      return Variant();
    }
    if (NameIs(name, "Log")) {
      CheckArgCount(args, 1, 1, name);
      log.push_back(vb::CStr(args[0]));
      return Variant();
    }
    if (NameIs(name, "Label") && (kind & kPropLet)) {
      label = vb::CStr(args.back());
      return Variant();
    }
    if (NameIs(name, "Label")) return Variant(label);
    ThrowNoMember(name);
  }
  std::string TypeName() const override { return "HostObject"; }
  std::string label = "start";
};

using fern::testing::ErrorOf;

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { engine.AddObject("Host", host); }
  Engine engine;
  std::shared_ptr<HostObject> host = std::make_shared<HostObject>();
};

TEST_F(EngineTest, HostMembersWriteByReferenceArgumentsBack) {
  engine.AddCode(
      "Dim a, b, arr(1)\n"
      "a = 3 : b = 5 : arr(1) = 7\n"
      "Host.Twice a\n"
      "Host.Twice (b)\n"
      "Host.Twice arr(1)\n"
      "Host.Label = Host.Label & \"-x\"\n"
      "Host.Label = 21\n"
      "Host.Twice Host.Label\n");
  EXPECT_EQ(vb::CLng(engine.Eval("a")), 6);
  EXPECT_EQ(vb::CLng(engine.Eval("b")), 5);  // in parentheses: by value
  EXPECT_EQ(vb::CLng(engine.Eval("arr(1)")), 14);
  EXPECT_EQ(host->label, "42");  // a property passed by reference is assigned back
  // A by-value parameter leaves a global alone that the callee itself changed.
  engine.AddCode("Dim g : g = 1\nSub SetG(ByVal v) : g = 99 : End Sub\nSetG g\n");
  EXPECT_EQ(vb::CLng(engine.Eval("g")), 99);
}

TEST_F(EngineTest, HostCallsScriptObjectsByNameWithByReferenceArguments) {
  engine.AddCode(
      "Class Consumer\n"
      "  Public Tag\n"
      "  Public Sub Callback_Text(ByVal id, text, cancel)\n"
      "    text = text & \"[\" & Tag & id & \"]\"\n"
      "    If id = 2 Then cancel = True\n"
      "  End Sub\n"
      "  Public Function Callback_Value(x)\n"
      "    Callback_Value = x * 10\n"
      "  End Function\n"
      "  Private Sub Hidden() : End Sub\n"
      "End Class\n"
      "Dim first, second\n"
      "Set first = New Consumer : first.Tag = \"a\"\n"
      "Set second = New Consumer : second.Tag = \"b\"\n");
  std::vector<Variant> consumers = {engine.Eval("first"), engine.Eval("second")};
  Variant text("in"), cancel(false);
  for (size_t i = 0; i < consumers.size(); ++i) {
    std::vector<Variant> args{Variant(static_cast<int32_t>(i + 1)), text, cancel};
    CallByName(consumers[i], "Callback_Text", kMethod, args);
    text = args[1];
    cancel = args[2];
  }
  EXPECT_EQ(text.str(), "in[a1][b2]");
  EXPECT_TRUE(vb::CBool(cancel));
  EXPECT_EQ(vb::CLng(CallByName(consumers[0], "callback_value", kMethod, {Variant(4)})), 40);
  EXPECT_EQ(consumers[0].obj()->TypeName(), "Consumer");
  EXPECT_EQ(ErrorOf([&] {
              CallByName(consumers[0], "Callback_Missing", kMethod, std::vector<Variant>{});
            }),
            kErrNoMember);
  EXPECT_EQ(ErrorOf([&] { CallByName(consumers[0], "Hidden", kMethod, std::vector<Variant>{}); }),
            kErrNoMember);
  // A failing callback reaches the host as an error; the engine records where it happened.
  EXPECT_EQ(ErrorOf([&] { CallByName(consumers[0], "Callback_Value", kMethod, {Variant("x")}); }),
            kErrTypeMismatch);
  EXPECT_EQ(engine.Error().line, 8);
}

TEST_F(EngineTest, RunPassesArgumentsByReference) {
  engine.AddCode(
      "Function Join3(ByRef a, ByVal b, c)\n"
      "  a = a & \"!\" : b = b & \"!\" : c = Len(a)\n"
      "  Join3 = a & b\n"
      "End Function\n");
  std::vector<Variant> args{Variant("x"), Variant("y"), Variant()};
  Variant r = engine.Run("join3", args);
  EXPECT_EQ(r.str(), "x!y!");
  EXPECT_EQ(args[0].str(), "x!");
  EXPECT_EQ(args[1].str(), "y");
  EXPECT_EQ(vb::CLng(args[2]), 2);
  EXPECT_TRUE(engine.HasProcedure("JOIN3"));
  EXPECT_FALSE(engine.HasProcedure("Host"));
  EXPECT_EQ(ErrorOf([&] { engine.Run("Missing"); }), kErrNotDefined);
  EXPECT_EQ(ErrorOf([&] { engine.Run("Join3", {Variant(1)}); }), kErrWrongArgs);
}

TEST_F(EngineTest, CompileErrorsDefineNothingAndNameTheirLine) {
  EXPECT_EQ(ErrorOf([&] { engine.AddCode("Sub Good()\nEnd Sub\nx = (1 + \n", "broken.vbs"); }),
            kErrExpectedExpression);
  EXPECT_EQ(engine.Error().line, 3);
  EXPECT_EQ(engine.Error().text, "x = (1 + ");
  EXPECT_EQ(engine.Error().sourceName, "broken.vbs");
  EXPECT_EQ(engine.Error().source, "Microsoft VBScript compilation error");
  EXPECT_FALSE(engine.HasProcedure("Good"));

  struct Case {
    const char* code;
    int32_t number;
    int line;
  } cases[] = {
      {"If a Then\n  b = 1\n", kErrExpectedIf, 3},
      {"x = \"open\n", kErrUnterminatedString, 1},
      {"Sub A()\n  Exit For\nEnd Sub\n", kErrInvalidExit, 2},
      {"Foo(1, 2)\n", kErrParensOnSub, 1},
      {"x = 1 +* 2\n", kErrExpectedExpression, 1},
      {"For i = 1 To 2\n", kErrExpectedNext, 2},
      {"Class A\n  Sub Class_Initialize(x)\n  End Sub\nEnd Class\n", 1053, 2},
      {"x = 1 y\n", kErrExpectedEnd, 1},
      {"Do\nLoop Until\n", kErrExpectedExpression, 2},
      {"x = a ?\n", kErrInvalidChar, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(ErrorOf([&] { engine.AddCode(c.code); }), c.number);
    EXPECT_EQ(engine.Error().line, c.line);
  }
}

TEST_F(EngineTest, RuntimeErrorKeepsWhatRanBefore) {
  EXPECT_EQ(ErrorOf([&] {
              engine.AddCode("Sub Defined() : End Sub\nDim v : v = 1\nv = v / 0\nv = 5\n", "a.vbs");
            }),
            kErrDivByZero);
  EXPECT_EQ(engine.Error().line, 3);
  EXPECT_EQ(engine.Error().text, "v = v / 0");
  EXPECT_EQ(engine.Error().description, "Division by zero");
  EXPECT_TRUE(engine.HasProcedure("Defined"));
  EXPECT_EQ(vb::CLng(engine.Eval("v")), 1);
  // An error inside a procedure names the procedure's line, not the caller's.
  engine.AddCode("Sub Deep()\n  Dim a(1)\n  a(2) = 0\nEnd Sub\n");
  EXPECT_EQ(ErrorOf([&] { engine.ExecuteStatement("Deep"); }), kErrSubscript);
  EXPECT_EQ(engine.Error().line, 3);
  EXPECT_EQ(engine.Error().text, "  a(2) = 0");
  EXPECT_EQ(vb::CLng(engine.Eval("Err.Number")), kErrSubscript);  // the scripts see it too
  engine.ClearError();
  EXPECT_EQ(engine.Error().number, 0);
  EXPECT_EQ(vb::CLng(engine.Eval("Err.Number")), 0);
}

TEST_F(EngineTest, TimeOutStopsARunawayLoopAndTheEngineStaysUsable) {
  engine.SetTimeout(100);
  engine.AddCode(
      "Sub Spin()\n  Dim n\n  Do\n    n = n + 1\n  Loop\nEnd Sub\nFunction Ok() : Ok = 42 : End "
      "Function\n");
  EXPECT_EQ(ErrorOf([&] { engine.Run("Spin"); }), kErrTimeout);
  EXPECT_EQ(engine.Error().number, kErrTimeout);
  EXPECT_GE(engine.Error().line, 3);
  // On Error Resume Next does not swallow the time-out.
  EXPECT_EQ(ErrorOf([&] { engine.AddCode("On Error Resume Next\nDo : Loop\nx = 1\n"); }),
            kErrTimeout);
  EXPECT_EQ(vb::CLng(engine.Run("Ok")), 42);
  EXPECT_EQ(vb::CLng(engine.Eval("Ok() + 1")), 43);
}

TEST_F(EngineTest, RecursionTooDeepIsAnErrorNotACrash) {
  engine.AddCode("Function Down(n) : Down = Down(n + 1) : End Function\n");
  EXPECT_EQ(ErrorOf([&] { engine.Run("Down", {Variant(0)}); }), kErrOutOfStack);
}

TEST_F(EngineTest, CreateObjectAndGetObjectGoThroughTheHostHooks) {
  EXPECT_EQ(ErrorOf([&] { engine.AddCode("Set x = CreateObject(\"MSXML2.DOMDocument\")"); }),
            kErrCannotCreate);
  std::string asked;
  engine.SetObjectFactory([&](std::string_view progId) -> std::shared_ptr<Dispatch> {
    asked = std::string(progId);
    return progId == "MSXML2.DOMDocument" ? host : nullptr;
  });
  engine.AddCode(
      "Set doc = CreateObject(\"MSXML2.DOMDocument\")\ndoc.Log \"made\"\n"
      "Set dict = CreateObject(\"Scripting.Dictionary\")\n");
  EXPECT_EQ(asked, "MSXML2.DOMDocument");
  EXPECT_EQ(host->log, std::vector<std::string>{"made"});
  EXPECT_EQ(engine.Eval("TypeName(dict)").str(), "Dictionary");
  EXPECT_EQ(ErrorOf([&] { engine.AddCode("Set y = GetObject(\"c:\\x.xls\")"); }), kErrCannotCreate);
  engine.SetGetObjectHandler(
      [&](std::string_view path, std::string_view) -> std::shared_ptr<Dispatch> {
        return path == "host:" ? host : nullptr;
      });
  engine.AddCode("GetObject(\"host:\").Log \"got\"");
  EXPECT_EQ(host->log.back(), "got");
}

class RecordingAnswerer : public MessageAnswerer {
 public:
  std::vector<std::string> texts;
  int MessageBox(const std::string& text, int flags, const std::string& title) override {
    texts.push_back(title + "|" + text + "|" + std::to_string(flags));
    return mb::kNo;
  }
  bool MsgAsk(const std::string&, bool d) override { return d; }
  std::string InputBox(const std::string& prompt, const std::string&,
                       const std::string& def) override {
    texts.push_back(prompt);
    return def + "!";
  }
};

TEST_F(EngineTest, MsgBoxAndInputBoxUseTheMessageInterface) {
  auto answerer = std::make_shared<RecordingAnswerer>();
  SetMessageAnswerer(answerer);
  engine.AddCode(
      "r = MsgBox(\"Weiter?\", vbYesNo, \"Frage\")\ni = InputBox(\"Name\", \"T\", \"Anna\")\n");
  EXPECT_EQ(vb::CLng(engine.Eval("r")), mb::kNo);
  EXPECT_EQ(engine.Eval("i").str(), "Anna!");
  EXPECT_EQ(answerer->texts, (std::vector<std::string>{"Frage|Weiter?|4", "Name"}));
  engine.SetAllowUI(false);
  EXPECT_EQ(ErrorOf([&] { engine.AddCode("MsgBox \"x\""); }), 70);
  SetMessageAnswerer(nullptr);
}

TEST_F(EngineTest, ResetDiscardsCodeObjectsAndRunsTerminate) {
  engine.AddCode(
      "Class Tracked\n"
      "  Public Sub Ping() : Host.Log \"ping\" : End Sub\n"
      "  Private Sub Class_Terminate() : Ping : End Sub\n"
      "End Class\n"
      "Dim keep : Set keep = New Tracked\n"
      "keep.Ping\n"
      "Sub Proc() : End Sub\n");
  Variant held = engine.Eval("keep");  // the host holds a second reference
  engine.Reset();
  EXPECT_FALSE(engine.HasProcedure("Proc"));
  EXPECT_EQ(host->log, std::vector<std::string>{"ping"});
  // The terminate handler still runs the old code; the name it looked up before the Reset
  // must not find what now sits in the new table.
  auto spy = std::make_shared<HostObject>();
  engine.AddObject("Spy", spy);
  held = Variant();
  EXPECT_TRUE(spy->log.empty());
  EXPECT_EQ(host->log.size(), 1u);
  EXPECT_EQ(ErrorOf([&] { engine.AddCode("Host.Log 1"); }), kErrObjectRequired);
  host->log.clear();
  engine.AddObject("Host", host);
  engine.AddCode(
      "Class T2\n  Private Sub Class_Terminate() : Host.Log \"t2\" : End Sub\nEnd Class\n"
      "Sub Make() : Dim local : Set local = New T2 : End Sub\nMake\n");
  EXPECT_EQ(host->log, std::vector<std::string>{"t2"});
}

TEST_F(EngineTest, ResetFromInsideAScriptWaitsForTheCallToEnd) {
  class Resetter : public Dispatch {
   public:
    Engine* e = nullptr;
    Variant Invoke(std::string_view, unsigned, std::span<Variant>) override {
      e->Reset();
      return Variant();
    }
    std::string TypeName() const override { return "Resetter"; }
  };
  auto r = std::make_shared<Resetter>();
  r->e = &engine;
  engine.AddObject("Resetter", r);
  engine.AddCode("Sub Go()\n  Resetter.Now\n  Host.Log \"after reset\"\nEnd Sub\nGo\n");
  EXPECT_EQ(host->log, std::vector<std::string>{"after reset"});
  EXPECT_FALSE(engine.HasProcedure("Go"));
}

TEST_F(EngineTest, ScriptObjectsOutlivingTheEngineFailCleanly) {
  Variant obj;
  {
    Engine local;
    local.AddCode(
        "Class K\n  Public Function F() : F = 1 : End Function\nEnd Class\nSet o = New K\n");
    obj = local.Eval("o");
    EXPECT_EQ(vb::CLng(CallByName(obj, "F", kMethod, std::vector<Variant>{})), 1);
  }
  EXPECT_NE(ErrorOf([&] { CallByName(obj, "F", kMethod, std::vector<Variant>{}); }), 0);
}

TEST_F(EngineTest, ScriptObjectsNestedCallsAndDefaultMembers) {
  engine.AddCode(
      "Class Rows\n"
      "  Private items\n"
      "  Private Sub Class_Initialize() : Set items = CreateObject(\"Scripting.Dictionary\") : End "
      "Sub\n"
      "  Public Default Property Get Item(k) : Item = items(k) : End Property\n"
      "  Public Property Let Item(k, v) : items(k) = v : End Property\n"
      "End Class\n"
      "Set rs = New Rows\n"
      "rs(\"Name\") = \"Haus\"\n"
      "rs.Item(\"Ort\") = \"Bonn\"\n");
  EXPECT_EQ(engine.Eval("rs(\"Name\") & \" in \" & rs(\"Ort\")").str(), "Haus in Bonn");
  Variant rs = engine.Eval("rs");
  EXPECT_EQ(CallByName(rs, "", kPropGet, {Variant("Ort")}).str(), "Bonn");
}

}  // namespace
}  // namespace fern::script

namespace fern::script {
namespace {

// The host's side of the hook protocol: an Application object whose EventsConsumers the
// scripts fill, and a relay that calls each consumer by name and chains by-reference texts.
class Application : public Dispatch {
 public:
  std::shared_ptr<Dispatch> consumers = NewCollection();
  Variant Invoke(std::string_view name, unsigned, std::span<Variant> args) override {
    if (NameIs(name, "EventsConsumers")) {
      CheckArgCount(args, 0, 0, name);
      return Variant(consumers);
    }
    if (NameIs(name, "Fire")) {  // a host member that calls back into the scripts
      CheckArgCount(args, 1, 1, name);
      Variant text(vb::CStr(args[0]));
      Relay("Callback_Text", text);
      return text;
    }
    ThrowNoMember(name);
  }
  std::string TypeName() const override { return "cScriptingV2"; }

  // Calls `method`(text, cancel) on every consumer; a consumer without it or failing is skipped.
  bool Relay(const std::string& method, Variant& text) {
    std::vector<Variant> items;
    consumers->Enumerate(items);
    bool cancel = false;
    for (Variant& c : items) {
      std::vector<Variant> args{text, Variant(false)};
      try {
        CallByName(c, method, kMethod, args);
      } catch (const HostError&) {
        continue;
      }
      text = args[0];
      cancel = cancel || vb::CBool(args[1]);
    }
    return cancel;
  }
};

TEST(ScriptHookRelay, ConsumersChainTextsAndSkipFailures) {
  Engine engine;
  auto app = std::make_shared<Application>();
  engine.AddObject("Application", app);
  engine.AddCode(
      "Class Upper\n"
      "  Public Sub Callback_Text(ByRef t, ByRef cancel) : t = UCase(t) : End Sub\n"
      "End Class\n"
      "Class Broken\n"
      "  Public Sub Callback_Text(t, cancel) : t = t & \"lost\" : Err.Raise 5 : End Sub\n"
      "End Class\n"
      "Class Silent\n"
      "End Class\n"
      "Class Suffix\n"
      "  Public Sub Callback_Text(t, cancel) : t = t & \"!\" : cancel = (Len(t) > 3) : End Sub\n"
      "End Class\n"
      "Application.EventsConsumers.Add New Upper\n"
      "Application.EventsConsumers.Add New Broken\n"
      "Application.EventsConsumers.Add New Silent\n"
      "Application.EventsConsumers.Add New Suffix\n",
      "hooks.vbs");
  Variant text("abc");
  EXPECT_TRUE(app->Relay("Callback_Text", text));
  EXPECT_EQ(text.str(), "ABC!");
  // The same relay started from inside a running script.
  engine.AddCode("Dim r : r = Application.Fire(\"xy\")\n");
  EXPECT_EQ(engine.Eval("r").str(), "XY!");
  // A later error is reported where it happens, not where a skipped consumer failed.
  EXPECT_EQ(
      ErrorOf([&] { engine.AddCode("r = Application.Fire(\"z\")\nr = 1 / 0\n", "later.vbs"); }),
      kErrDivByZero);
  EXPECT_EQ(engine.Error().sourceName, "later.vbs");
  EXPECT_EQ(engine.Error().line, 2);
  // Arguments to a member without parameters index what it returns (the collection).
  EXPECT_EQ(engine.Eval("TypeName(Application.EventsConsumers(4))").str(), "Suffix");
  EXPECT_EQ(vb::CLng(engine.Eval("Application.EventsConsumers.Count")), 4);
}

}  // namespace
}  // namespace fern::script
