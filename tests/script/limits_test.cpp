// The engine's limits: code nested too deep for the stack is a compile error, run-time depth
// that would exhaust the stack is error 28, and the host can stop a running script.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <tuple>
#include <vector>

#include "platform/host_error.h"
#include "platform/vb.h"
#include "script/engine.h"
#include "script/script_errors.h"
#include "support/child_process.h"
#include "support/error_of.h"
#include "support/scratch_dir.h"

namespace fern::script {
namespace {

using fern::testing::ErrorOf;

// F(a) gives a; o.Y is o again and o.V is 1.
constexpr const char* kDefine =
    "Function F(a) : F = a : End Function\n"
    "Class C\n  Public V\n  Public Property Get Y : Set Y = Me : End Property\nEnd Class\n"
    "Dim o : Set o = New C : o.V = 1\n";

std::string Repeat(std::string_view piece, int n) {
  std::string out;
  out.reserve(piece.size() * static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) out += piece;
  return out;
}

// Code whose one statement sets x to 1 through `n` levels of one kind of nesting.
std::string Nested(std::string_view kind, int n) {
  if (kind == "parentheses") return "x = " + Repeat("(", n) + "1" + Repeat(")", n) + "\n";
  if (kind == "calls") return "x = " + Repeat("F(", n) + "1" + Repeat(")", n) + "\n";
  if (kind == "blocks") return Repeat("If True Then\n", n) + "x = 1\n" + Repeat("End If\n", n);
  if (kind == "not") return "x = " + Repeat("Not ", n - n % 2) + "1\n";
  if (kind == "chain") return "x = 1" + Repeat(" * 1", n) + "\n";
  if (kind == "members") return "x = o" + Repeat(".Y", n) + ".V\n";
  // All of them in one: blocks around an expression of calls, parentheses and negations.
  return Repeat("If True Then\n", n / 3) + "x = " + Repeat("F((- -", n / 3) + "1" +
         Repeat("))", n / 3) + "\n" + Repeat("End If\n", n / 3);
}

constexpr const char* kKinds[] = {"parentheses", "calls",   "blocks", "not",
                                  "chain",       "members", "mix"};

TEST(ScriptLimits, NestingTooDeepIsACompileErrorNeverACrash) {
  Engine engine;
  engine.AddCode(kDefine);
  for (const char* kind : kKinds) {
    SCOPED_TRACE(kind);
    const std::string code = Nested(kind, 100000);
    EXPECT_EQ(ErrorOf([&] { engine.AddCode("Sub Defined : End Sub\n" + code, "deep.vbs"); }),
              kErrOutOfStack);
    EXPECT_EQ(engine.Error().source, "Microsoft VBScript compilation error");
    EXPECT_EQ(engine.Error().sourceName, "deep.vbs");
    EXPECT_FALSE(engine.HasProcedure("Defined"));
  }
  // Eval of generated text from the host, and Eval, Execute and ExecuteGlobal from a script.
  const std::string deep = Repeat("(", 100000) + "1" + Repeat(")", 100000);
  EXPECT_EQ(ErrorOf([&] { engine.Eval(deep); }), kErrOutOfStack);
  EXPECT_EQ(ErrorOf([&] { engine.ExecuteStatement("x = " + deep); }), kErrOutOfStack);
  engine.AddCode(
      "Dim deep\nFunction Try(how)\n  On Error Resume Next\n  Select Case how\n"
      "  Case 1 : Eval deep\n  Case 2 : Execute \"x = \" & deep\n"
      "  Case 3 : ExecuteGlobal \"x = \" & deep\n  End Select\n"
      "  Try = Err.Number\nEnd Function\n");
  engine.ExecuteStatement("deep = \"" + deep + "\"");
  for (int how : {1, 2, 3})
    EXPECT_EQ(vb::CLng(engine.Run("Try", {Variant(how)})), kErrOutOfStack) << how;
  EXPECT_EQ(vb::CLng(engine.Eval("F(41) + 1")), 42);
}

// Starts vbs-run on a script of `dir` with a main thread of that stack; what it prints goes to
// "<file>.<kilobytes>" there.
pid_t RunOnStack(const fern::testing::ScratchDir& dir, const std::string& file,
                 const std::string& kilobytes) {
  // The main thread's stack is the limit the system reads at exec.
  return fern::testing::SpawnInGroup(
      {"sh", "-c",
       "ulimit -s " + kilobytes + " && exec " + VBS_RUN_PATH + " " + (dir / file).string()},
      {}, {}, dir / (file + "." + kilobytes));
}

TEST(ScriptLimits, DeepCodeIsErrorTwentyEightOnSmallStacksNeverACrash) {
  const fern::testing::ScratchDir dir;
  // The deepest nesting real code could want runs, or is error 28 where the stack is small; the
  // rest is far too deep.
  std::vector<std::pair<std::string, std::string>> scripts = {
      {"parentheses", Nested("parentheses", 127)}, {"blocks", Nested("blocks", 120)}};
  for (const char* kind : kKinds)
    scripts.emplace_back(std::string(kind) + "-deep", Nested(kind, 100000));
  scripts.emplace_back("recursion", "Function Down(n)\n  Down = " + Repeat("(", 100) +
                                        "Down(n + 1)" + Repeat(")", 100) +
                                        "\nEnd Function\nDown 0\n");
  for (const auto& [file, code] : scripts) dir.Write(file, kDefine + code + "WScript.Echo x\n");
  std::vector<std::pair<std::string, pid_t>> runs;
  for (const char* kilobytes : {"256", "1024", "2048"})
    for (const auto& script : scripts)
      runs.emplace_back(script.first + "." + kilobytes, RunOnStack(dir, script.first, kilobytes));
  const std::string outOfStack = "Error 28: Out of stack space";
  for (const auto& [run, pid] : runs) {
    SCOPED_TRACE(run);
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    const std::string out = dir.Read(run);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << "\n" << out;
    const bool mayRun = run.rfind("parentheses.", 0) == 0 || run.rfind("blocks.", 0) == 0;
    if (mayRun && WEXITSTATUS(status) == 0) {
      EXPECT_EQ(out, "1\n");
    } else {
      EXPECT_EQ(WEXITSTATUS(status), 1);
      EXPECT_EQ(out.substr(0, outOfStack.size()), outOfStack) << out.substr(0, 2000);
    }
  }
}

TEST(ScriptLimits, ChainsOfAnyLengthAreFreedOnSmallStacks) {
  // Each script links 100,000 objects, each holding the one made before, and lets go of the
  // head: the whole chain is freed before the next statement.
  const std::string link = "Class Link : Public nxt : End Class\n";
  const std::string freed = "Set head = Nothing\nWScript.Echo \"freed\"\n";
  auto chain = [](const std::string& make) {
    return "Set head = Nothing\nFor i = 1 To 100000\n  " + make + "\nNext\nSet l = Nothing\n";
  };
  struct Script {
    std::string name, code, out = "freed\n";
  };
  const std::vector<Script> scripts = {
      {"links", link + chain("Set l = New Link : Set l.nxt = head : Set head = l") + freed},
      {"arrays", link + chain("Set l = New Link : l.nxt = Array(1, head) : Set head = l") + freed},
      {"dictionaries",
       chain("Set l = CreateObject(\"Scripting.Dictionary\") : l.Add \"k\", head : Set head = l") +
           freed},
      {"collections",
       chain("Set l = CreateObject(\"Collection\") : l.Add head : Set head = l") + freed},
      // Arrays nest by copying, each level all over again: deep enough for the stack.
      {"nested", "For i = 1 To 500 : a = Array(a) : Next\nb = a : a = Empty : b = Empty\n" + freed},
      // Every link's Class_Terminate runs, the head's first, before the next statement; one that
      // frees a chain itself sees it gone at its own next statement.
      {"terminates",
       "Dim ended, said\n"
       "Class Link\n  Public nxt, n\n  Private Sub Class_Terminate\n"
       "    ended = ended + 1 : If ended <= 3 Then said = said & n & \" \"\n  End Sub\nEnd Class\n"
       "Class Owner\n  Public chain\n  Private Sub Class_Terminate\n"
       "    Set chain = Nothing : said = said & \"owner saw \" & ended & \" \"\n  End Sub\n"
       "End Class\n" +
           chain("Set l = New Link : l.n = i : Set l.nxt = head : Set head = l") +
           "Set o = New Owner : Set o.chain = head : Set head = Nothing\n"
           "Set o = Nothing\nWScript.Echo said & ended\n"
           "ended = 0 : said = \"\"\n" +
           chain("Set l = New Link : l.n = i : Set l.nxt = head : Set head = l") +
           "Set head = Nothing\nWScript.Echo said & ended\n",
       "100000 99999 99998 owner saw 100000 100000\n100000 99999 99998 100000\n"},
      // Each handler lets go of the next link itself: every one of them still runs, the first
      // ones as they let go, in order, all before the next statement.
      {"handlers",
       "Dim ended, said\n"
       "Class Link\n  Public nxt, n\n  Private Sub Class_Terminate\n"
       "    If n >= 99998 Then said = said & n & \"< \"\n"
       "    ended = ended + 1 : Set nxt = Nothing\n"
       "    If n >= 99998 Then said = said & \">\" & n & \" \"\n  End Sub\nEnd Class\n" +
           chain("Set l = New Link : l.n = i : Set l.nxt = head : Set head = l") +
           "Set head = Nothing\nWScript.Echo said & ended\n",
       "100000< 99999< 99998< >99998 >99999 >100000 100000\n"}};
  const fern::testing::ScratchDir dir;
  std::vector<std::tuple<const Script*, std::string, pid_t>> runs;
  for (const Script& script : scripts) {
    dir.Write(script.name, script.code);
    for (const char* kilobytes : {"256", "1024", "8192"})
      runs.emplace_back(&script, script.name + "." + kilobytes,
                        RunOnStack(dir, script.name, kilobytes));
  }
  for (const auto& [script, run, pid] : runs) {
    SCOPED_TRACE(run);
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    const std::string out = dir.Read(run);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "exit " << WEXITSTATUS(status) << ", signal " << WTERMSIG(status) << "\n"
        << out;
    EXPECT_EQ(out, script->out);
  }
}

TEST(ScriptLimits, ObjectsAreFreedDepthFirstInTheOrderHeld) {
  Engine engine;
  engine.AddCode(
      "Dim said\n"
      "Class Noisy\n  Public name, a, b, c\n"
      "  Private Sub Class_Terminate : said = said & name & \" \" : End Sub\nEnd Class\n"
      "Function Make(n) : Dim o : Set o = New Noisy : o.name = n : Set Make = o : End Function\n"
      "Set h = Make(\"holder\")\n"
      "Set h.a = Make(\"A\") : Set h.a.a = Make(\"A1\") : Set h.a.b = Make(\"A2\")\n"
      "Set d = CreateObject(\"Scripting.Dictionary\")\n"
      "d.Add \"one\", Make(\"B1\") : d.Add \"two\", Array(Make(\"B2\"), Make(\"B3\"))\n"
      "Set h.b = d : Set d = Nothing\n"
      "h.c = Array(Make(\"C1\"), Array(Make(\"C2\")), Make(\"C3\"))\n"
      "Set h = Nothing\nx = said\n");
  EXPECT_EQ(engine.Eval("x").str(), "holder A A1 A2 B1 B2 B3 C1 C2 C3 ");
}

TEST(ScriptLimits, ArraysNestedAHundredThousandDeepAreCopiedAndFreedOnASmallStack) {
  // Nested by moves, which no script can do, so that the depth costs no copying on the way.
  struct Run {
    static void* Body(void* arg) {
      Variant a;
      for (int i = 0; i < 100000; ++i) {
        std::vector<Variant> items(2);
        items[0] = Variant(i);
        items[1] = std::move(a);
        a = Variant(VArray::FromList(std::move(items)));
      }
      Variant b = a;
      a = Variant();
      intptr_t levels = 0;
      for (const Variant* v = &b; v->IsArray(); v = &v->arr().data[1]) ++levels;
      *static_cast<intptr_t*>(arg) = levels;
      return nullptr;
    }
  };
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, 256 * 1024), 0);
  intptr_t levels = 0;
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attr, &Run::Body, &levels), 0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
  pthread_attr_destroy(&attr);
  EXPECT_EQ(levels, 100000);
}

TEST(ScriptLimits, NestingOfRealScriptsStaysFarBelowTheLimit) {
  Engine engine;
  engine.AddCode(kDefine);
  for (const char* kind : kKinds) {
    SCOPED_TRACE(kind);
    engine.AddCode("x = 0\n" + Nested(kind, 60));
    EXPECT_EQ(vb::CLng(engine.Eval("Abs(x)")), 1);
  }
  // A long concatenation is a chain, not a nesting.
  engine.AddCode("s = \"a\"" + Repeat(" & \"a\"", 999) + "\n");
  EXPECT_EQ(vb::CLng(engine.Eval("Len(s)")), 1000);
}

TEST(ScriptLimits, RunTimeDepthEndsInErrorTwentyEight) {
  Engine engine;
  engine.SetTimeout(0);
  // Plain recursion, and recursion that compiles nested code at every level (each Execute
  // adds its own nesting to the depth already in use).
  const std::string nested = "x = " + Repeat("(", 100) + "n" + Repeat(")", 100);
  engine.AddCode(
      "Function Down(n) : Down = Down(n + 1) : End Function\n"
      "Function DownEval(n)\n  Execute \"" +
      nested +
      "\"\n  DownEval = DownEval(n + 1)\nEnd Function\n"
      "Function DownNested(n)\n  DownNested = " +
      Repeat("(", 100) + "DownNested(n + 1)" + Repeat(")", 100) +
      "\nEnd Function\n"
      "Function Trapped()\n  On Error Resume Next\n  Down 0\n"
      "  Trapped = Err.Number\nEnd Function\n");
  for (const char* proc : {"Down", "DownEval", "DownNested"}) {
    SCOPED_TRACE(proc);
    EXPECT_EQ(ErrorOf([&] { engine.Run(proc, {Variant(0)}); }), kErrOutOfStack);
  }
  EXPECT_EQ(vb::CLng(engine.Run("Trapped")), kErrOutOfStack);
}

TEST(ScriptLimits, StopQueryEndsARunningScriptLikeTheTimeOut) {
  Engine engine;
  engine.SetTimeout(0);
  int asked = 0;
  bool stop = false;
  engine.SetStopQuery([&] {
    ++asked;
    return stop;
  });
  engine.AddCode(
      "Function Count(n) : Count = n : End Function\n"
      "Sub Loops(a)\n  Dim n\n  Do : n = n + 1 : Loop\nEnd Sub\n"
      "Sub Fors(a)\n  Dim i\n  For i = 1 To 2\n    i = 1\n  Next\nEnd Sub\n"
      "Sub Recurse(n)\n  On Error Resume Next\n  If n < 500 Then Recurse n + 1\n"
      "  Recurse 0\nEnd Sub\n");
  // Not stopped: the query costs a call now and then, nothing more.
  EXPECT_EQ(vb::CLng(engine.Eval("Count(7)")), 7);
  stop = true;
  for (const char* proc : {"Loops", "Fors", "Recurse"}) {
    SCOPED_TRACE(proc);
    asked = 0;
    EXPECT_EQ(ErrorOf([&] { engine.Run(proc, {Variant(0)}); }), kErrTimeout);
    EXPECT_EQ(engine.Error().number, kErrTimeout);
    EXPECT_NE(engine.Error().description.find("cancelled"), std::string::npos)
        << engine.Error().description;
    EXPECT_GE(asked, 1);
  }
  // On Error Resume Next does not swallow the stop either; once the query says go on, the
  // engine works again.
  EXPECT_EQ(ErrorOf([&] { engine.AddCode("On Error Resume Next\nDo : Loop\n"); }), kErrTimeout);
  stop = false;
  EXPECT_EQ(vb::CLng(engine.Eval("Count(8)")), 8);

  // A loop whose every pass waits on a slow call (a large picture copied, a host call) is asked
  // often enough that a stop comes within a few passes, not a thousand.
  engine.AddCode("Dim passes\nSub Slow(a)\n  Do : passes = passes + 1 : Loop\nEnd Sub\n");
  stop = true;
  EXPECT_EQ(ErrorOf([&] { engine.Run("Slow", {Variant(0)}); }), kErrTimeout);
  stop = false;
  EXPECT_LE(vb::CLng(engine.Eval("passes")), 100);
}

TEST(ScriptLimits, ARegExpOverALongTextEndsAtTheTimeOutAndAtTheStop) {
  using std::chrono::steady_clock;
  Engine engine;
  // Unstopped, each of these runs for minutes.
  engine.AddCode(
      "Dim re : Set re = New RegExp : re.Pattern = \"(a|b)*\\d\" : re.Global = True\n"
      "Function Slow(how)\n  On Error Resume Next\n  Dim text : text = String(100000, \"a\")\n"
      "  Select Case how\n  Case 0 : Slow = re.Test(text)\n"
      "  Case 1 : Slow = re.Replace(text, \"x\")\n  Case 2 : Slow = re.Execute(text).Count\n"
      "  End Select\nEnd Function\n");
  engine.SetTimeout(3000);
  auto started = steady_clock::now();
  EXPECT_EQ(ErrorOf([&] { engine.Run("Slow", {Variant(0)}); }), kErrTimeout);
  EXPECT_LT(steady_clock::now() - started, std::chrono::seconds(15));
  EXPECT_NE(engine.Error().description.find("3000 ms"), std::string::npos)
      << engine.Error().description;

  engine.SetTimeout(0);
  steady_clock::time_point stopAt;
  engine.SetStopQuery([&] { return steady_clock::now() > stopAt; });
  for (int how : {0, 1, 2}) {
    SCOPED_TRACE(how);
    started = steady_clock::now();
    stopAt = started + std::chrono::milliseconds(200);
    EXPECT_EQ(ErrorOf([&] { engine.Run("Slow", {Variant(how)}); }), kErrTimeout);
    EXPECT_LT(steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_NE(engine.Error().description.find("cancelled"), std::string::npos)
        << engine.Error().description;
  }
  // Watched, a pattern still finds what it found.
  stopAt = steady_clock::now() + std::chrono::hours(1);
  EXPECT_EQ(vb::CStr(engine.Eval("re.Replace(\"ab1 b2 c3\", \"<$&>\")")), "<ab1> <b2> c<3>");
  // A top-level alternative and a \\Q left open stay as they were written.
  engine.ExecuteStatement("re.Pattern = \"^x|\\Qa)\" : re.Global = False");
  EXPECT_EQ(vb::CStr(engine.Eval("re.Test(\"ba)\") & re.Test(\"bx\") & re.Test(\"x\")")),
            "TrueFalseTrue");
}

TEST(ScriptLimits, ARegExpAsksTheStopNowAndThenNotAtEveryPlace) {
  using std::chrono::steady_clock;
  Engine engine;
  engine.SetTimeout(0);
  int asked = 0;
  steady_clock::time_point stopAt = steady_clock::now() + std::chrono::hours(1);
  engine.SetStopQuery([&] {
    ++asked;
    return steady_clock::now() > stopAt;
  });
  // A scan that tries a match at each of 64000 places does not ask at each place, so that the
  // clock is no cost of the match.
  engine.AddCode("Dim quick : Set quick = New RegExp : quick.Pattern = \"a\\d\"\n");
  asked = 0;
  EXPECT_EQ(vb::CStr(engine.Eval("quick.Test(String(64000, \"a\"))")), "False");
  EXPECT_LT(asked, 64000 / 16);

  // After 3200 quick places, each place takes about a third of a second, all of them about a
  // minute: the stop is seen at the first place after it, not after many slow ones.
  engine.AddCode(
      "Dim slow : Set slow = New RegExp : slow.Pattern = \"(?:a|a){0,21}\\d\"\n"
      "Dim text : text = Replace(Space(3200), \" \", \"ab\") & String(250, \"a\")\n");
  for (bool stop : {true, false}) {
    SCOPED_TRACE(stop);
    engine.SetTimeout(stop ? 0 : 300);
    auto started = steady_clock::now();
    stopAt = started + (stop ? std::chrono::milliseconds(200) : std::chrono::hours(1));
    EXPECT_EQ(ErrorOf([&] { engine.Eval("slow.Test(text)"); }), kErrTimeout);
    EXPECT_LT(steady_clock::now() - started, std::chrono::seconds(10));
  }
}

TEST(ScriptLimits, ARegExpPlaceBeyondAQuickOnesWorkFindsWhatItFound) {
  Engine engine;
  // The place of the first match needs more work than a quick one: the search goes on from it.
  engine.AddCode(
      "Dim re : Set re = New RegExp : re.Global = True : re.Pattern = \"<b>(.|\\n)*?</b>\"\n"
      "Dim doc : doc = \"x<b>\" & String(50000, \"y\") & \"</b> <b>z</b>\"\n");
  EXPECT_EQ(vb::CStr(engine.Eval(
                "re.Execute(doc)(0).FirstIndex & \" \" & re.Execute(doc)(1).FirstIndex")),
            "1 50009");
  // \G holds only where the search started, not at the slow place.
  engine.ExecuteStatement("re.Pattern = \"(?:x?a|x?a){0,16}c|\\Gx\"");
  EXPECT_EQ(vb::CStr(engine.Eval("re.Test(\"bx\" & String(16, \"a\")) & re.Test(\"xa\")")),
            "FalseTrue");
}

// A pattern that starts with .* is tried only at line starts, as PCRE2 tries it, also on one
// long line (minified HTML, a REST answer): each of these took PCRE2 milliseconds.
TEST(ScriptLimits, ARegExpStartingWithDotStarIsTriedAtLineStartsOnly) {
  Engine engine;
  engine.SetTimeout(10000);
  engine.AddCode(
      "Dim re : Set re = New RegExp\n"
      "Dim page : page = \"<html><body>\" & Replace(String(10000, \"x\"), \"x\", "
      "\"<p>Haus mit Garten</p>\") & \"</body></html>\"\n"
      "Dim titled : titled = \"<head><title>Haus</title>\" & String(30000, \"y\")\n");
  engine.ExecuteStatement("re.Pattern = \".*Preis\"");
  EXPECT_EQ(vb::CStr(engine.Eval("re.Test(page)")), "False");
  engine.ExecuteStatement("re.Pattern = \".*\\d\"");
  EXPECT_EQ(vb::CStr(engine.Eval("re.Test(String(40000, \"a\"))")), "False");
  engine.ExecuteStatement("re.Pattern = \".*?<title>(.*?)</title>\"");
  EXPECT_EQ(vb::CStr(engine.Eval("re.Execute(titled)(0).SubMatches(0)")), "Haus");
  engine.ExecuteStatement("re.Pattern = \".*?<title>(.*?)</title>\" : re.Global = True");
  EXPECT_EQ(vb::CStr(engine.Eval("re.Execute(titled & \"<title>\").Count")), "1");
}

TEST(ScriptLimits, ARegExpStopEndsAnyMatchWithinASecond) {
  using std::chrono::steady_clock;
  Engine engine;
  engine.SetTimeout(0);
  steady_clock::time_point stopAt = steady_clock::now() + std::chrono::hours(1);
  engine.SetStopQuery([&] { return steady_clock::now() > stopAt; });
  std::string many;  // a*[0-0]|a*[0-1]|...: each alternative scans the whole run of a's
  for (int i = 0; i < 700; ++i) many += (i ? "|a*[0-" : "a*[0-") + std::to_string(i % 10) + "]";
  engine.AddCode(
      "Dim re : Set re = New RegExp\nDim mega : mega = String(1000000, \"a\")\n"
      "Dim huge : huge = String(30000000, \"a\") & \"cb\"\nDim short : short = String(100000, "
      "\"a\")\n");
  const std::tuple<std::string, std::string> cases[] = {
      {many, "mega"},
      {"a*b", "huge"},
      {"(*UCP)(a|b)*\\d", "short"},
      {"(*LIMIT_MATCH=100000000)(*UTF)(a|b)*\\d", "short"},
      // Few steps of PCRE2's work limit, each comparing what the group took: seconds a place.
      {"(.*)\\1\\1x", "String(1000000, \"a\") & \"bx\""},
      {"(a+)\\1\\1x|\\Ga*c", "String(1000000, \"a\") & \"bx\""},
  };
  for (const auto& [pattern, text] : cases) {
    SCOPED_TRACE(pattern.substr(0, 40));
    engine.ExecuteStatement("re.Pattern = \"" + pattern + "\"");
    auto started = steady_clock::now();
    stopAt = started + std::chrono::milliseconds(200);
    EXPECT_EQ(ErrorOf([&] { engine.Eval("re.Test(" + text + ")"); }), kErrTimeout);
    // Within a second of the stop, with room for a loaded machine.
    EXPECT_LT(steady_clock::now() - stopAt, std::chrono::milliseconds(1800));
  }
  // The time-out holds the same way.
  stopAt = steady_clock::now() + std::chrono::hours(1);
  engine.SetTimeout(300);
  engine.ExecuteStatement("re.Pattern = \"(*UCP)(a|b)*\\d\"");
  auto started = steady_clock::now();
  EXPECT_EQ(ErrorOf([&] { engine.Eval("re.Test(short)"); }), kErrTimeout);
  EXPECT_LT(steady_clock::now() - started, std::chrono::milliseconds(2100));
  // A character every match needs and the text lacks still ends the search at once.
  engine.SetTimeout(0);
  stopAt = steady_clock::now() + std::chrono::seconds(5);
  engine.ExecuteStatement("re.Pattern = \"a*b\"");
  EXPECT_EQ(vb::CStr(engine.Eval("re.Test(String(400000, \"a\"))")), "False");
}

}  // namespace
}  // namespace fern::script
