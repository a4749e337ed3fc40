// A RegExp search inside a script against PCRE2's own search of the same pattern, over generated
// patterns and texts: every match's place, length and groups, Test and Replace must agree.
#define PCRE2_CODE_UNIT_WIDTH 32
#include <pcre2.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "script/engine.h"
#include "script/runtime_util.h"

namespace fern::script {
namespace {

// The searches run in the interpreter, which is always the caller's stop.
constexpr const char* kFind =
    "Dim re : Set re = New RegExp\n"
    "Function Find(p, g, i, m, s)\n"
    "  Dim r, ms, x, k, v\n"
    "  On Error Resume Next\n"
    "  re.Pattern = p : re.Global = g : re.IgnoreCase = i : re.Multiline = m\n"
    "  Set ms = re.Execute(s)\n"
    "  If Err.Number <> 0 Then Find = \"E\" & Err.Number : Exit Function\n"
    "  On Error GoTo 0\n"
    "  For Each x In ms\n"
    "    r = r & x.FirstIndex & \",\" & x.Length & \"(\"\n"
    "    For k = 0 To x.SubMatches.Count - 1\n"
    "      v = x.SubMatches(k)\n"
    "      If IsEmpty(v) Then r = r & \"-;\" Else r = r & Len(v) & \":\" & v & \";\"\n"
    "    Next\n"
    "    r = r & \")\"\n"
    "  Next\n"
    "  If re.Test(s) Then r = r & \" T1\" Else r = r & \" T0\"\n"
    "  Find = r & \" R\" & re.Replace(s, \"[$&]\")\n"
    "End Function\n";

struct Case {
  std::u32string pattern;
  bool global = false, icase = false, multiline = false;
  std::u32string text;
};

// What one plain pcre2_match loop finds, written as Find writes it; empty when it took longer
// than `budget`.
std::string PlainFind(const Case& c, std::chrono::duration<double> budget) {
  uint32_t options = PCRE2_UTF | PCRE2_ALT_BSUX | PCRE2_DOLLAR_ENDONLY | PCRE2_ALLOW_EMPTY_CLASS |
                     PCRE2_MATCH_UNSET_BACKREF;
  if (c.icase) options |= PCRE2_CASELESS;
  if (c.multiline) options |= PCRE2_MULTILINE;
  pcre2_compile_context* cc = pcre2_compile_context_create(nullptr);
  pcre2_set_newline(cc, PCRE2_NEWLINE_ANYCRLF);
  int error = 0;
  PCRE2_SIZE at = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(c.pattern.data()), c.pattern.size(),
                                   options, &error, &at, cc);
  pcre2_compile_context_free(cc);
  if (!code) return "E5017";
  pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
  const auto started = std::chrono::steady_clock::now();
  std::string found;
  std::u32string replaced;
  size_t from = 0, last = 0;
  bool any = false;
  int rc = 0;
  while (from <= c.text.size()) {
    rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(c.text.data()), c.text.size(), from, 0,
                     data, nullptr);
    if (rc < 0) break;
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data);
    found += std::to_string(ov[0]) + "," + std::to_string(ov[1] - ov[0]) + "(";
    for (uint32_t g = 1; g < pcre2_get_ovector_count(data); ++g) {
      if (g >= static_cast<uint32_t>(rc) || ov[2 * g] == PCRE2_UNSET) {
        found += "-;";
        continue;
      }
      const std::u32string_view sub(c.text.data() + ov[2 * g], ov[2 * g + 1] - ov[2 * g]);
      found += std::to_string(sub.size()) + ":" + rt::FromU32(sub) + ";";
    }
    found += ")";
    replaced.append(c.text, last, ov[0] - last);
    replaced += U'[';
    replaced.append(c.text, ov[0], ov[1] - ov[0]);
    replaced += U']';
    last = ov[1];
    any = true;
    if (!c.global) break;
    from = ov[1] == ov[0] ? ov[1] + 1 : ov[1];
  }
  pcre2_match_data_free(data);
  pcre2_code_free(code);
  if (std::chrono::steady_clock::now() - started > budget) return {};
  if (rc < 0 && rc != PCRE2_ERROR_NOMATCH) return "E5";
  replaced.append(c.text, last, std::u32string::npos);
  return found + (any ? " T1" : " T0") + " R" + rt::FromU32(replaced);
}

// The same patterns and texts on every run.
class Gen {
 public:
  explicit Gen(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint32_t Below(uint32_t n) {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(state_ >> 33) % n;
  }
  bool Chance(uint32_t percent) { return Below(100) < percent; }
  template <size_t N>
  const char32_t* Pick(const char32_t* const (&list)[N]) {
    return list[Below(N)];
  }

  std::u32string Pattern() {
    static constexpr const char32_t* kLeading[] = {U"(*UCP)",
                                                   U"(*LIMIT_MATCH=5000)",
                                                   U"(*NO_START_OPT)",
                                                   U"(*CRLF)",
                                                   U"(*LF)",
                                                   U"(*NOTEMPTY_ATSTART)",
                                                   U".*",
                                                   U".*?",
                                                   U"[\\s\\S]*",
                                                   U"^",
                                                   U"\\n"};
    std::u32string p;
    while (Chance(20)) p += Pick(kLeading);
    groups_ = 0;
    return p + Alternatives(0);
  }

  std::u32string Text() {
    static constexpr const char32_t* kPieces[] = {
        U"a",  U"b",   U"x", U"1",  U"2",  U" ", U"\n", U"\r\n", U"\r",   U"\u00e4", U"ab",
        U"aa", U"<p>", U".", U"\t", U"xx", U"#", U"-",  U"11",   U"</p>", U"a b",    U"Preis"};
    static constexpr const char32_t* kFill[] = {U"x", U" ", U"a", U"1", U"ab", U"\n", U"b"};
    const uint32_t kind = Below(10);
    const size_t length = kind < 3 ? 1 + Below(100) : kind < 5 ? 1 + Below(1200) : 1 + Below(5000);
    std::u32string t;
    // Mostly one piece over and over, so that a search goes a long way without a match, with a
    // few others here and there.
    const bool filled = kind >= 4;
    const char32_t* fill = Pick(kFill);
    while (t.size() < length) t += filled && !Chance(3) ? fill : Pick(kPieces);
    t.resize(length);
    // A line end at every offset of two stretches in turn, then some of the text after it.
    auto put = [&](size_t at) {
      if (at >= t.size()) return;
      std::u32string end = Chance(50) ? U"\n" : U"\r\n";
      for (int n = Below(3); n > 0; --n) end += Pick(kPieces);
      t.replace(at, std::min(end.size(), t.size() - at), end);
    };
    put(1000 + (next_ % 101));
    if (Chance(50)) put(1019 + (next_ % 8));  // where a search by windows of 1,024 went wrong
    put(2030 + (next_ % 31));
    ++next_;
    return t;
  }

 private:
  std::u32string Alternatives(int depth) {
    std::u32string p = Sequence(depth);
    while (Chance(25)) p += U"|" + Sequence(depth);
    return p;
  }
  std::u32string Sequence(int depth) {
    std::u32string p;
    for (uint32_t n = 1 + Below(4); n > 0; --n) p += Item(depth);
    return p;
  }
  std::u32string Item(int depth) {
    static constexpr const char32_t* kAtoms[] = {
        U"a",   U"b",      U"x",     U"1",   U"\\d", U"\\w",    U"\\W",      U"\\s",   U"\\S",
        U".",   U"[ab]",   U"[^a]",  U"\\n", U"\\r", U"\\r\\n", U"^",        U"$",     U"\\b",
        U"\\B", U"\u00e4", U"[a-c]", U"\\.", U" ",   U"<p>",    U"[\\s\\S]", U"Preis", U"#"};
    static constexpr const char32_t* kQuantifiers[] = {
        U"*", U"+", U"?", U"{1,3}", U"{2}", U"*?", U"+?", U"??", U"{0,2}?", U"*+", U"{2,}"};
    static constexpr const char32_t* kBehind[] = {U"a", U"\\n", U"ab", U"\\w", U"\\s", U"^"};
    std::u32string item;
    const uint32_t kind = depth < 2 ? Below(10) : 0;
    if (kind <= 5) {
      item = Pick(kAtoms);
    } else if (kind == 6) {
      ++groups_;
      item = U"(" + Alternatives(depth + 1) + U")";
    } else if (kind == 7) {
      item = U"(?:" + Alternatives(depth + 1) + U")";
    } else if (kind == 8) {
      item = (Chance(50) ? U"(?=" : U"(?!") + Alternatives(depth + 1) + U")";
    } else {
      item = (Chance(50) ? U"(?<=" : U"(?<!") + std::u32string(Pick(kBehind)) + U")";
    }
    if (groups_ > 0 && Chance(6)) item += U"\\" + std::u32string(1, U'1' + Below(groups_));
    if (Chance(35)) item += Pick(kQuantifiers);
    return item;
  }

  uint64_t state_;
  uint32_t groups_ = 0;
  uint32_t next_ = 0;
};

std::string Ours(Engine& engine, const Case& c) {
  std::vector<Variant> args{Variant(rt::FromU32(c.pattern)), Variant(c.global), Variant(c.icase),
                            Variant(c.multiline), Variant(rt::FromU32(c.text))};
  return engine.Run("Find", std::span<Variant>(args)).str();
}

// The cases found to differ between the plain search and an earlier search by windows.
TEST(RegExpDifferential, KnownCasesFindWhatThePlainSearchFinds) {
  Engine engine;
  engine.AddCode(kFind);
  auto run = [](size_t n, const char32_t* piece) {
    std::u32string s;
    for (size_t i = 0; i < n; ++i) s += piece;
    return s;
  };
  std::vector<Case> cases = {
      {U"\\n^Preis", false, false, true, U"a\n" + run(1021, U"a") + U":\n" + U"Preis: 250000"},
      {U"\\n(?!\\n^)", false, false, false, run(1100, U"\n")},
      {U"[\\s\\S]*#|\\sb", false, false, false, U"a\r\nb" + run(10, U"x")},
      {U"[\\s\\S]*#|\\sb", false, false, false, U"a\r\nb" + run(2000, U"x")},
      {U"(a?(\\W+?1|\\w{1,3})?\\w(?=\\d))* \\B$", false, false, false,
       U" " + run(378, U"x") + run(644, U"1") + run(200, U"b") + run(93, U"1") + run(145, U"b") +
           run(674, U"1") + run(240, U"b")},
  };
  for (size_t k : {1000, 1020, 1021, 1022})
    cases.push_back({U".*\\n", true, false, false, run(k, U" ") + U"ab\r\nx\n"});
  for (const Case& c : cases) {
    SCOPED_TRACE(rt::FromU32(c.pattern) + " on " + std::to_string(c.text.size()));
    const std::string plain = PlainFind(c, std::chrono::hours(1));
    const std::string ours = Ours(engine, c);
    EXPECT_TRUE(ours == plain) << "ours:  " << ours.substr(0, 80)
                               << "\nplain: " << plain.substr(0, 80);
  }
}

// 20,000 generated cases in eight shards (2,000 under the sanitizers), each with its own seed;
// a case whose plain search takes longer than 0.1 s is left out.
class RegExpGenerated : public ::testing::TestWithParam<int> {};

TEST_P(RegExpGenerated, FindsWhatThePlainSearchFinds) {
#if defined(__SANITIZE_ADDRESS__)
  constexpr int kCases = 250;
#else
  constexpr int kCases = 2500;
#endif
  Engine engine;
  engine.AddCode(kFind);
  Gen gen(static_cast<uint64_t>(GetParam()) + 1);
  int compared = 0, differ = 0;
  for (int i = 0; i < kCases; ++i) {
    Case c;
    c.pattern = gen.Pattern();
    c.global = gen.Chance(60);
    c.icase = gen.Chance(15);
    c.multiline = gen.Chance(40);
    c.text = gen.Text();
    const std::string plain = PlainFind(c, std::chrono::milliseconds(100));
    if (plain.empty()) continue;
    ++compared;
    const std::string ours = Ours(engine, c);
    if (ours != plain && ++differ <= 5)
      ADD_FAILURE() << "case " << i << ": " << rt::FromU32(c.pattern) << " global " << c.global
                    << " icase " << c.icase << " multiline " << c.multiline << " on "
                    << c.text.size() << " characters\n  ours:  " << ours.substr(0, 300)
                    << "\n  plain: " << plain.substr(0, 300);
  }
  EXPECT_EQ(differ, 0);
  EXPECT_GT(compared, kCases * 9 / 10);
}

INSTANTIATE_TEST_SUITE_P(Shards, RegExpGenerated, ::testing::Range(0, 8));

}  // namespace
}  // namespace fern::script
