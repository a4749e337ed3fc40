#include "runtime_test_support.h"
#include "script/engine.h"

namespace fern::script {
namespace {

using testing::ErrorOf;
using testing::Get;
using testing::Let;
using testing::ObjOf;

std::shared_ptr<Dispatch> Re(const char* pattern, bool global = false, bool icase = false) {
  auto re = NewRegExp();
  Let(re, "Pattern", {pattern});
  Let(re, "Global", {global});
  Let(re, "IgnoreCase", {icase});
  return re;
}

TEST(RuntimeRegExp, GlobalReplaceWithGroups) {
  auto re = Re("(\\d{2})\\.(\\d{2})\\.(\\d{4})", true);
  EXPECT_EQ(Get(re, "Replace", {"von 01.02.2024 bis 31.12.2024", "$3-$2-$1"}).str(),
            "von 2024-02-01 bis 2024-12-31");
  Let(re, "Global", {false});
  EXPECT_EQ(Get(re, "Replace", {"01.02.2024 31.12.2024", "[$&]"}).str(), "[01.02.2024] 31.12.2024");
  auto dollars = Re("a", true);
  EXPECT_EQ(Get(dollars, "Replace", {"banana", "$$"}).str(), "b$n$n$");
  EXPECT_EQ(Get(dollars, "Replace", {"xa", "$4"}).str(), "x$4");  // no such group: kept
  auto around = Re("-");
  EXPECT_EQ(Get(around, "Replace", {"ab-cd", "<$'|$`>"}).str(), "ab<cd|ab>cd");
  // Empty matches advance instead of looping.
  auto empty = Re("x*", true);
  EXPECT_EQ(Get(empty, "Replace", {"abc", "-"}).str(), "-a-b-c-");
}

TEST(RuntimeRegExp, FirstIndexCountsCharactersNotBytes) {
  auto re = Re("m\\w*", true);
  Variant matches = Get(re, "Execute", {"Größe in m² für Mümmelmann"});
  auto list = ObjOf(matches);
  ASSERT_EQ(Get(list, "Count").longVal(), 2);  // "M" and "ü" are no match
  auto second = ObjOf(Get(list, "Item", {int32_t{1}}));
  EXPECT_EQ(Get(second, "Value").str(), "mmelmann");
  EXPECT_EQ(Get(second, "FirstIndex").longVal(), 18);
  EXPECT_EQ(Get(second, "Length").longVal(), 8);
  auto first = ObjOf(Get(list, "", {int32_t{0}}));
  EXPECT_EQ(Get(first, "").str(), "m");  // Value is the default member
  EXPECT_EQ(Get(first, "FirstIndex").longVal(), 9);
  std::vector<Variant> each;
  ASSERT_TRUE(list->Enumerate(each));
  EXPECT_EQ(each.size(), 2u);
  auto dot = Re("^.{5}$");
  EXPECT_TRUE(Get(dot, "Test", {"Größe"}).boolVal());  // "." takes a whole umlaut
}

TEST(RuntimeRegExp, SubMatchesAndFlags) {
  auto re = Re("(\\w+)@(\\w+)?\\.de");
  auto m = ObjOf(Get(ObjOf(Get(re, "Execute", {"an info@.de und x@y.de"})), "Item", {int32_t{0}}));
  auto subs = ObjOf(Get(m, "SubMatches"));
  ASSERT_EQ(Get(subs, "Count").longVal(), 2);
  EXPECT_EQ(Get(subs, "", {int32_t{0}}).str(), "info");
  EXPECT_TRUE(Get(subs, "", {int32_t{1}}).IsEmpty());  // the group took no part
  EXPECT_EQ(ErrorOf([&] { Get(subs, "", {int32_t{2}}); }), 5);
  // Without Global only the first match counts.
  EXPECT_EQ(Get(ObjOf(Get(re, "Execute", {"a@b.de c@d.de"})), "Count").longVal(), 1);

  auto icase = Re("ÄRGER");
  EXPECT_FALSE(Get(icase, "Test", {"kein ärger"}).boolVal());
  Let(icase, "IgnoreCase", {true});
  EXPECT_TRUE(Get(icase, "Test", {"kein ärger"}).boolVal());

  auto lines = Re("^b$");
  EXPECT_FALSE(Get(lines, "Test", {"a\nb\nc"}).boolVal());
  Let(lines, "Multiline", {true});
  EXPECT_TRUE(Get(lines, "Test", {"a\nb\nc"}).boolVal());
  EXPECT_TRUE(Get(lines, "Multiline").boolVal());
  EXPECT_EQ(Get(lines, "Pattern").str(), "^b$");
}

TEST(RuntimeRegExp, LongTextsDoNotExhaustTheStack) {
  // A whole export document in one string: backtracking over it must not crash the program.
  std::string doc =
      "<objekt>" + std::string(300000, 'x') + "\r\n" + std::string(300000, 'y') + "</objekt>";
  auto re = Re("<objekt>(.|\\r|\\n)*</objekt>", true);
  EXPECT_TRUE(Get(re, "Test", {doc}).boolVal());
  auto strip = Re("<[^>]*>", true);
  EXPECT_EQ(Get(strip, "Replace", {doc, ""}).str().size(), 600002u);
}

TEST(RuntimeRegExp, JavaScriptLineRules) {
  // "$" matches only at the very end without Multiline, not before a last line break.
  EXPECT_FALSE(Get(Re("b$"), "Test", {"ab\n"}).boolVal());
  // "." stops at CR as well as LF.
  EXPECT_EQ(Get(Re(".+", true), "Replace", {"ab\r\ncd", "#"}).str(), "#\r\n#");
  auto ml = Re("^\\w+$", true);
  Let(ml, "Multiline", {true});
  EXPECT_EQ(Get(ObjOf(Get(ml, "Execute", {"eins\r\nzwei\r\n"})), "Count").longVal(), 2);
}

TEST(RuntimeRegExp, BadPatternRaisesSyntaxError) {
  auto re = Re("(unclosed");
  EXPECT_EQ(ErrorOf([&] { Get(re, "Test", {"x"}); }), 5017);
  Let(re, "Pattern", {"ok"});
  EXPECT_TRUE(Get(re, "Test", {"ok"}).boolVal());
  EXPECT_EQ(ObjOf(Variant(re))->TypeName(), "IRegExp2");
}

TEST(RuntimeRegExp, PatternsStayValidOrInvalidAsWritten) {
  // Invalid as written, though each would compile inside a group or before more pattern text.
  for (const char* bad : {"a)(?:b", "a|b)(c", ")(", "a\\", "a\\c", "*a"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(ErrorOf([&] { Get(Re(bad), "Test", {"ab"}); }), 5017);
  }
  // A setting PCRE2 takes only at the very start, top-level alternatives, a \Q left open.
  EXPECT_TRUE(Get(Re("(*LIMIT_MATCH=1000)a"), "Test", {"ba"}).boolVal());
  EXPECT_EQ(Get(Re("^x|y$|\\Qa)", true), "Replace", {"xa)xy", "-"}).str(), "--x-");
  EXPECT_EQ(Get(Re("(?i)a|b", true), "Replace", {"AB", "-"}).str(), "--");
}

// A script with a stop to ask searches window by window and tries hard places on their own;
// what it finds must be what one plain search finds, wherever a match meets a window's end.
TEST(RuntimeRegExp, AWatchedSearchFindsWhatAPlainOneFinds) {
  Engine engine;
  engine.SetStopQuery([] { return false; });
  // 6,000 characters of a few kinds, the same on every run.
  engine.AddCode(
      "Dim t, i, r : r = 7\nFor i = 1 To 6000\n  r = (r * 1103 + 12345) Mod 65536\n"
      "  t = t & Mid(\"aaab xy@.de\" & vbLf & \"b1\", 1 + (r \\ 7) Mod 15, 1)\nNext\n"
      "Dim re, s : Set re = New RegExp : re.Global = True\n");
  for (const char* pattern :
       {"\\w+@\\w*\\.de\\b", "a+b", "(a|b)*1", "y$", "a(?=b)", "(?<=a)b", "\\bx\\w*", "x*",
        "[^\\n]{30,}", "(?:a|aa)+$", "(*UCP)\\w+", "(*LIMIT_MATCH=50000)(a|b)+1", "a+(*COMMIT)1",
        "a+(*SKIP)@", "\\Ga", "^b", "(?m)^\\s*$|d$"}) {
    SCOPED_TRACE(pattern);
    auto plain = Re(pattern, true);
    engine.ExecuteStatement(std::string("re.Pattern = \"") + pattern + "\"");
    // The text moved by a few places either side of the first window's end.
    for (int shift : {0, 1000, 1007, 1013, 1019, 1021, 1023, 1024}) {
      SCOPED_TRACE(shift);
      engine.ExecuteStatement("s = Space(" + std::to_string(shift) + ") & t");
      const std::string text = engine.Eval("s").str();
      EXPECT_EQ(engine.Eval("re.Replace(s, \"<$&>\")").str(),
                Get(plain, "Replace", {text, "<$&>"}).str());
    }
  }
}

}  // namespace
}  // namespace fern::script
