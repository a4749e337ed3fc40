// Class_Terminate as scripts use it: a handler that changes what held its object, a handler that
// runs past the time-out or is stopped, handlers nested as deep as a chain of objects goes, the
// errors a handler raises, and handlers that make objects whose handlers run in turn.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/dispatch.h"
#include "platform/host_error.h"
#include "platform/vb.h"
#include "script/builtins.h"
#include "script/engine.h"
#include "script/script_errors.h"
#include "support/child_process.h"
#include "support/error_of.h"
#include "support/scratch_dir.h"

namespace fern::script {
namespace {

using fern::testing::ErrorOf;

// Show(x) writes a dictionary, a collection or an array with its count and contents.
constexpr const char* kShow =
    "Dim said, out\n"
    "Function Show(x)\n"
    "  Dim s, k, i\n"
    "  If IsArray(x) Then\n"
    "    On Error Resume Next\n"
    "    s = UBound(x) + 1\n"
    "    If Err.Number <> 0 Then Show = \"erased\" : Exit Function\n"
    "    On Error GoTo 0\n"
    "    s = s & \":\"\n"
    "    For i = LBound(x) To UBound(x) : s = s & \" \" & TypeName(x(i)) & \"=\" & Item(x(i)) : "
    "Next\n"
    "  ElseIf TypeName(x) = \"Dictionary\" Then\n"
    "    s = x.Count & \":\"\n"
    "    For Each k In x.Keys : s = s & \" \" & k & \"=\" & Item(x(k)) : Next\n"
    "  Else\n"
    "    s = x.Count & \":\"\n"
    "    For i = 1 To x.Count : s = s & \" \" & Item(x(i)) : Next\n"
    "  End If\n"
    "  Show = s\n"
    "End Function\n"
    "Function Item(v)\n"
    "  If IsObject(v) Then\n"
    "    Item = TypeName(v)\n"
    "  ElseIf IsArray(v) Then\n"
    "    Item = \"array\"\n"
    "  Else\n"
    "    Item = v\n"
    "  End If\n"
    "End Function\n";

struct HolderCase {
  const char* name;
  const char* code;      // leaves its result in `out`
  const char* expected;  // what `out` then holds
};

// Each handler acts on a holder whose removal is complete: the slot already holds its new value,
// the entry is gone, the array has its new bounds.
const HolderCase kHolderCases[] = {
    {"dictionary Remove of an item that unregisters itself",
     "Dim reg : Set reg = CreateObject(\"Scripting.Dictionary\")\n"
     "Class Item1\n  Public key\n  Sub Class_Terminate\n"
     "    If reg.Exists(key) Then reg.Remove key\n"
     "    said = said & key & \" gone, \" & Show(reg) & \"; \"\n  End Sub\nEnd Class\n"
     "Set it = New Item1 : it.key = \"a\" : reg.Add \"a\", it\n"
     "Set it = New Item1 : it.key = \"b\" : reg.Add \"b\", it\n"
     "Set it = Nothing\nreg.Remove \"a\"\nreg.Add \"c\", 3\nreg.RemoveAll\n"
     "out = said & Show(reg)\n",
     "a gone, 1: b=Item1; b gone, 0:; 0:"},
    {"ReDim Preserve shrinking, the handler makes the array anew",
     "ReDim arr(3)\n"
     "Class T\n  Sub Class_Terminate : ReDim arr(100) : arr(5) = \"t\" : End Sub\nEnd Class\n"
     "arr(0) = \"zero\" : Set arr(3) = New T\nReDim Preserve arr(1)\n"
     "out = UBound(arr) & \" \" & arr(5) & \" \" & IsEmpty(arr(0))\n",
     "100 t True"},
    {"ReDim shrinking, the handler writes into the new array",
     "ReDim arr(3)\n"
     "Class T\n  Sub Class_Terminate : arr(1) = \"t\" : End Sub\nEnd Class\n"
     "Set arr(0) = New T : arr(1) = 1\nReDim arr(1)\nout = Show(arr)\n",
     "2: Empty= String=t"},
    {"dictionary Remove of an array whose object empties the dictionary",
     "Set d = CreateObject(\"Scripting.Dictionary\")\n"
     "Class T\n  Sub Class_Terminate\n    said = Show(d) : d.RemoveAll : d.Add \"after\", 1\n"
     "  End Sub\nEnd Class\n"
     "d.Add \"x\", Array(New T, 2) : d.Add \"y\", 3\nd.Remove \"x\"\n"
     "out = said & \" / \" & Show(d)\n",
     "1: y=3 / 1: after=1"},
    {"array element set to Nothing, the handler erases the array",
     "Class T\n  Sub Class_Terminate : said = Show(arr) : Erase arr : End Sub\nEnd Class\n"
     "arr = Array(1, New T, 3)\nSet arr(1) = Nothing\nout = said & \" / \" & Show(arr)\n",
     "3: Integer=1 Nothing=Nothing Integer=3 / erased"},
    {"dictionary RemoveAll, each handler counts in the dictionary",
     "Set d = CreateObject(\"Scripting.Dictionary\")\n"
     "Class T\n  Sub Class_Terminate : d(\"count\") = d(\"count\") + 1 : End Sub\nEnd Class\n"
     "d.Add \"a\", New T : d.Add \"b\", New T : d.Add \"c\", 5\nd.RemoveAll\nout = Show(d)\n",
     "1: count=2"},
    {"dictionary item replaced, the handler removes its key",
     "Set d = CreateObject(\"Scripting.Dictionary\")\n"
     "Class T\n  Sub Class_Terminate : said = Show(d) : d.Remove \"a\" : End Sub\nEnd Class\n"
     "d.Add \"a\", New T : d.Add \"b\", 2\nd(\"a\") = 5\nout = said & \" / \" & Show(d)\n",
     "2: a=5 b=2 / 1: b=2"},
    {"collection Remove, the handler removes and adds",
     "Set c = CreateObject(\"Collection\")\n"
     "Class T\n  Sub Class_Terminate : said = Show(c) : c.Remove 1 : c.Add \"t\" : End Sub\n"
     "End Class\n"
     "c.Add New T : c.Add \"b\" : c.Add \"c\"\nc.Remove 1\nout = said & \" / \" & Show(c)\n",
     "2: b c / 2: c t"},
    {"variable set to Nothing, the handler gives it a value",
     "Class T\n  Sub Class_Terminate : said = TypeName(x) : x = \"from the handler\" : End Sub\n"
     "End Class\nSet x = New T\nSet x = Nothing\nout = said & \" / \" & x\n",
     "Nothing / from the handler"},
    {"fixed array erased, the handler writes into it",
     "Dim fx(2)\n"
     "Class T\n  Sub Class_Terminate : said = Show(fx) : fx(2) = \"t\" : End Sub\nEnd Class\n"
     "Set fx(0) = New T : fx(2) = \"two\"\nErase fx\nout = said & \" / \" & Show(fx)\n",
     "3: Empty= Empty= Empty= / 3: Empty= Empty= String=t"},
};

TEST(ScriptTerminate, AHandlerThatChangesItsHolderFindsTheRemovalDone) {
  for (const HolderCase& c : kHolderCases) {
    SCOPED_TRACE(c.name);
    Engine engine;
    engine.SetObjectFactory([](std::string_view progId) {
      return NameIs(progId, "Collection") ? NewCollection() : nullptr;
    });
    engine.AddCode(kShow);
    engine.AddCode(c.code);
    EXPECT_EQ(engine.Eval("out").str(), c.expected);
  }
}

// A handler that never ends: each Class_Terminate below loops until stopped.
constexpr const char* kSpin =
    "Dim after\n"
    "Class Spin\n  Private Sub Class_Terminate\n    Do : Loop\n  End Sub\nEnd Class\n";

TEST(ScriptTerminate, TheTimeOutAndTheStopEndTheRunInsideAHandler) {
  Engine engine;
  bool stop = false;
  engine.SetStopQuery([&] { return stop; });
  engine.AddCode(kSpin);
  // The statement that let go of the object is where the run ends; nothing after it runs.
  const std::string run = "Set h = New Spin\nSet h = Nothing\nafter = \"ran on\"\n";
  engine.SetTimeout(200);
  EXPECT_EQ(ErrorOf([&] { engine.AddCode(run, "spin.vbs"); }), kErrTimeout);
  EXPECT_EQ(engine.Error().line, 2);
  EXPECT_NE(engine.Error().description.find("200 ms"), std::string::npos);
  EXPECT_TRUE(engine.Eval("IsEmpty(after)").boolVal());
  // A handler run from a procedure, and from the statement the host calls last.
  engine.AddCode("Sub Drop\n  Dim l : Set l = New Spin\nEnd Sub\n");
  EXPECT_EQ(ErrorOf([&] { engine.Run("Drop"); }), kErrTimeout);
  engine.SetTimeout(0);
  stop = true;
  EXPECT_EQ(ErrorOf([&] { engine.AddCode("Set h = New Spin\nSet h = Nothing\n"); }), kErrTimeout);
  EXPECT_NE(engine.Error().description.find("cancelled"), std::string::npos)
      << engine.Error().description;
  stop = false;
  // A run after that is a run like any other.
  EXPECT_EQ(vb::CLng(engine.Eval("1 + 1")), 2);
}

// Runs `body` on a thread of its own; false when it has not returned within 20 s (it is then
// left running: the handler it is stuck in never ends).
bool EndsWithin20s(std::function<void()> body) {
  std::packaged_task<void()> task(std::move(body));
  std::future<void> done = task.get_future();
  std::thread(std::move(task)).detach();
  return done.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
}

TEST(ScriptTerminate, AHandlerTheHostOrTheTearDownRunsHasTheTimeOutToo) {
  // The host lets go of the last reference, then resets the engine that holds another.
  auto engine = std::make_shared<Engine>();
  engine->SetTimeout(200);
  engine->AddCode(kSpin);
  engine->AddCode("Set kept = New Spin\n");
  auto held = std::make_shared<Variant>(engine->Eval("New Spin"));
  int resetError = -1;
  ASSERT_TRUE(EndsWithin20s([held] { *held = Variant(); }));
  EXPECT_EQ(engine->Error().number, kErrTimeout);
  ASSERT_TRUE(
      EndsWithin20s([engine, &resetError] { resetError = ErrorOf([&] { engine->Reset(); }); }));
  EXPECT_EQ(resetError, kErrTimeout);
  EXPECT_EQ(vb::CLng(engine->Eval("1 + 1")), 2);

  // A script whose object lives until the script host goes: the run ends with the time-out
  // error instead of hanging.
  const fern::testing::ScratchDir dir;
  dir.Write("kept.vbs", std::string(kSpin) + "Set kept = New Spin\nWScript.Echo \"loaded\"\n");
  pid_t pid = fern::testing::SpawnInGroup({VBS_RUN_PATH, (dir / "kept.vbs").string()}, {},
                                          {"VBS_RUN_TIMEOUT_MS=200"}, dir / "kept.out");
  const int status = fern::testing::WaitExit(pid, std::chrono::seconds(20));
  if (status == -1) fern::testing::StopChildGroup(pid);
  ASSERT_NE(status, -1) << "still running after 20 s";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(dir.Read("kept.out").substr(0, 20), "loaded\nError -214746") << dir.Read("kept.out");
}

TEST(ScriptTerminate, AHandlerThatCannotRunForWantOfStackEndsTheRunWithError28) {
  Engine engine;
  engine.SetTimeout(0);
  engine.AddCode(
      "Dim ran, o, after, reached\n"
      "Class T\n  Private Sub Class_Terminate : ran = True : End Sub\nEnd Class\n"
      "Sub Down(n, release)\n  reached = reached + 1\n  If n = 1 Then\n"
      "    If release Then Set o = Nothing\n  Else\n    Down n - 1, release\n  End If\n"
      "End Sub\n");
  // As deep as calls go here (900, or less on a small stack).
  engine.AddCode("On Error Resume Next\nDown 100000, False\n");
  const int deepest = vb::CLng(engine.Eval("reached"));
  ASSERT_GT(deepest, 100);
  // The innermost of those calls lets go of the object: its handler would be one deeper.
  EXPECT_EQ(ErrorOf([&] {
              engine.AddCode("Set o = New T\nDown " + std::to_string(deepest) + ", True\n" +
                             "after = 1\n");
            }),
            kErrOutOfStack);
  EXPECT_TRUE(engine.Eval("IsEmpty(after) And IsEmpty(ran)").boolVal());
  // Some calls less and the handler runs.
  engine.AddCode("Set o = New T\nDown " + std::to_string(deepest - 20) + ", True\n");
  EXPECT_TRUE(engine.Eval("ran").boolVal());
}

TEST(ScriptTerminate, OnlyTheEnginesOwnErrorTwentyEightInAHandlerEndsTheRun) {
  Engine engine;
  engine.AddCode(
      "Dim said, how\n"
      "Function Down(n) : Down = Down(n + 1) : End Function\n"
      "Sub Raise28 : Err.Raise 28 : End Sub\n"
      "Class T\n  Private Sub Class_Terminate\n    Dim n : said = said & how & \" \"\n"
      "    Select Case how\n    Case \"raise\" : Err.Raise 28\n    Case \"called\" : Raise28\n"
      "    Case \"again\"\n"
      "      On Error Resume Next : Down 0 : n = Err.Number : On Error GoTo 0\n"
      "      said = said & n & \" \" : Err.Raise n\n"
      "    Case \"deep\" : Down 0\n    End Select\n    said = said & \"not here \"\n"
      "  End Sub\nEnd Class\n");
  auto run = [&](const std::string& how) {
    return ErrorOf([&] {
      engine.AddCode("said = \"\" : how = \"" + how +
                     "\"\nSet o = New T\nSet o = Nothing\nsaid = said & \"after\"\n");
    });
  };
  // 28 raised by the script, also the number the engine's own 28 left in Err: dropped, as
  // every error a handler raises.
  for (const std::string how : {"raise", "called"}) {
    EXPECT_EQ(run(how), 0) << how;
    EXPECT_EQ(engine.Eval("said").str(), how + " after");
  }
  EXPECT_EQ(run("again"), 0);
  EXPECT_EQ(engine.Eval("said").str(), "again 28 after");
  // The handler itself out of stack: the run ends there.
  EXPECT_EQ(run("deep"), kErrOutOfStack);
  EXPECT_EQ(engine.Eval("said").str(), "deep ");
}

TEST(ScriptTerminate, HandlersThatKeepMakingObjectsWithHandlersEndWithError28) {
  const std::string make = "Private Sub Class_Terminate : Dim o : Set o = New ";
  const std::vector<std::pair<std::string, std::string>> scripts = {
      {"own", "Class T\n  " + make + "T : End Sub\nEnd Class\n"},
      {"pair", "Class T\n  " + make + "U : End Sub\nEnd Class\nClass U\n  " + make +
                   "T : End Sub\nEnd Class\n"},
      {"two", "Class T\n  " + make + "T : Dim p : Set p = New T : End Sub\nEnd Class\n"},
      // Let go of as deep as calls go, where what handlers let go of waits for the freeing in
      // progress outside any handler.
      {"deep", "Class T\n  " + make +
                   "T : End Sub\nEnd Class\n"
                   "Dim reached\nSub Down(n, release)\n  reached = reached + 1\n"
                   "  If n > 1 Then\n    Down n - 1, release\n"
                   "  ElseIf release Then\n    Set o = Nothing\n  End If\nEnd Sub\n"
                   "On Error Resume Next : Down 100000, False : On Error GoTo 0\n"
                   "Set o = New T : Down reached - 1, True\n"}};
  const fern::testing::ScratchDir dir;
  std::vector<std::pair<std::string, pid_t>> runs;
  for (const auto& [name, code] : scripts) {
    dir.Write(name, code + "Set o = New T\nSet o = Nothing\nWScript.Echo \"ran on\"\n");
    // The hooks' time-out, and none.
    for (const char* timeout : {"60000", "0"})
      runs.emplace_back(name + "." + timeout,
                        fern::testing::SpawnInGroup({VBS_RUN_PATH, (dir / name).string()}, {},
                                                    {std::string("VBS_RUN_TIMEOUT_MS=") + timeout},
                                                    dir / (name + "." + timeout)));
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (auto& [run, pid] : runs) {
    SCOPED_TRACE(run);
    const int status =
        fern::testing::WaitExit(pid, std::chrono::duration_cast<std::chrono::milliseconds>(
                                         end - std::chrono::steady_clock::now()));
    if (status == -1) {
      fern::testing::StopChildGroup(pid);
      ADD_FAILURE() << "still running after 30 s";
      continue;
    }
    EXPECT_EQ(fern::testing::ExitCodeOf(status), 1);
    EXPECT_EQ(dir.Read(run).substr(0, 29), "Error 28: Out of stack space\n") << dir.Read(run);
  }
}

TEST(ScriptTerminate, HandlersThatMakeObjectsWithHandlersRunAllOfThem) {
  Engine engine;
  engine.AddCode(
      "Dim made, ended, helped, kept\n"
      "Class T\n  Private Sub Class_Terminate\n    ended = ended + 1\n"
      "    If made < 500 Then\n      made = made + 1 : Dim o : Set o = New T\n    End If\n"
      "  End Sub\nEnd Class\n"
      "Class Keeper\n  Private Sub Class_Terminate : ended = ended + 1 : Set kept = New Keeper\n"
      "  End Sub\nEnd Class\n"
      "Class Helper\n  Private Sub Class_Terminate : helped = helped + 1 : End Sub\nEnd Class\n"
      "Class Link\n  Public nxt\n  Private Sub Class_Terminate\n"
      "    Dim h : Set h = New Helper : Set nxt = Nothing\n  End Sub\nEnd Class\n");
  // Made by handlers, fewer generations than calls nest.
  engine.AddCode("ended = 0\nSet o = New T\nSet o = Nothing\n");
  EXPECT_EQ(vb::CLng(engine.Eval("ended")), 501);
  // A handler that makes the next one for the script to let go of.
  engine.AddCode(
      "ended = 0\nSet kept = New Keeper\nFor i = 1 To 2000 : Set kept = Nothing : Next\n");
  EXPECT_EQ(vb::CLng(engine.Eval("ended")), 2000);
  // A chain whose every handler makes a helper.
  engine.AddCode(
      "Set head = Nothing\nFor i = 1 To 10000\n"
      "  Set l = New Link : Set l.nxt = head : Set head = l\n"
      "Next\nSet l = Nothing : Set head = Nothing\n");
  EXPECT_EQ(vb::CLng(engine.Eval("helped")), 10000);
}

}  // namespace
}  // namespace fern::script
