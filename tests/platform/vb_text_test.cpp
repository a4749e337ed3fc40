#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/vb.h"
#include "support/error_of.h"

namespace vb = fern::vb;

using fern::testing::ErrorOf;

TEST(VbTextFunctions, CountCharactersNotBytes) {
  const std::string s = "Größe: 5 m²";  // ö, ß and ² take two bytes each
  EXPECT_EQ(vb::Len(s), 11u);
  EXPECT_EQ(vb::Left(s, 99), s);
  EXPECT_EQ(vb::Right(s, 4), "5 m²");
  EXPECT_EQ(vb::Right(s, 99), s);
  EXPECT_EQ(vb::Mid(s, 3, 2), "öß");
  EXPECT_EQ(vb::Mid(s, 9), " m²");
  EXPECT_EQ(vb::Mid(s, 12), "");
  EXPECT_EQ(vb::Mid("abc", 2, 0), "");
  EXPECT_EQ(vb::Left("abc", INT64_MAX), "abc");
  EXPECT_EQ(vb::Mid("abc", 2, INT64_MAX), "bc");
  EXPECT_EQ(vb::Mid("abc", INT64_MAX, 1), "");
  EXPECT_EQ(ErrorOf([] { vb::Mid("abc", 0); }), 5);
  EXPECT_EQ(ErrorOf([] { vb::Mid("abc", 1, -2); }), 5);
  EXPECT_EQ(ErrorOf([] { vb::Left("abc", -1); }), 5);
  EXPECT_EQ(ErrorOf([] { vb::Right("abc", -1); }), 5);
}

TEST(VbTextFunctions, PositionsAcrossLongAsciiRunsAndUmlauts) {
  // Umlauts at positions on and off eight-byte boundaries, between ASCII runs of many lengths.
  std::vector<std::string> chars;
  for (int run = 0; run < 20; ++run) {
    for (int k = 0; k < run; ++k) chars.push_back(std::string(1, static_cast<char>('a' + k)));
    chars.push_back(run % 2 ? "ä" : "€");
  }
  std::string s;
  for (const std::string& c : chars) s += c;
  ASSERT_EQ(vb::Len(s), chars.size());
  for (size_t i = 0; i < chars.size(); ++i) {
    ASSERT_EQ(vb::Mid(s, static_cast<int64_t>(i) + 1, 1), chars[i]) << i;
    std::string head;
    for (size_t k = 0; k < i; ++k) head += chars[k];
    ASSERT_EQ(vb::Left(s, static_cast<int64_t>(i)), head) << i;
  }
  EXPECT_EQ(vb::InStr(1, s, "€"), 1);
  EXPECT_EQ(vb::InStr(2, s, "€"), 6);  // "€", "a", "ä", "a", "b", "€"
  EXPECT_EQ(vb::InStrRev(s, "ä"), static_cast<int64_t>(chars.size()));
}

TEST(VbTextFunctions, BrokenUtf8StaysUsable) {
  const std::string s =
      "a\xC3"
      "b\x80"
      "c";  // truncated lead byte and stray continuation
  EXPECT_EQ(vb::Len(s), 5u);
  EXPECT_EQ(vb::Mid(s, 3, 1), "b");
  EXPECT_EQ(vb::UCase(s),
            "A\xC3"
            "B\x80"
            "C");
  EXPECT_EQ(vb::InStr(1, s, "c"), 5);
}

// An overlong form ("\xC1\x81" spells 'A' the forbidden way) is no character: its bytes count
// one by one and pass unchanged, so text compare can't shorten the text under its positions.
TEST(VbTextFunctions, OverlongFormsAreBrokenBytes) {
  const std::string s =
      "\xC1\x81"
      "bc";
  EXPECT_EQ(vb::Len(s), 4u);
  EXPECT_EQ(vb::LCase(s), s);
  EXPECT_EQ(vb::InStr(2, s, "c"), 4);
  EXPECT_EQ(vb::InStr(2, s, "C", true), 4);
  EXPECT_EQ(vb::Replace(s, "B", "x", 1, -1, true),
            "\xC1\x81"
            "xc");
  EXPECT_EQ(vb::StrComp(s, "ABC", true), 1);
}

TEST(VbTextFunctions, InStrAndInStrRev) {
  struct Case {
    int64_t start;
    const char *text, *find;
    bool textCompare;
    int64_t pos;
  };
  for (const Case& c : std::vector<Case>{{1, "Müller & Söhne", "Söhne", false, 10},
                                         {4, "abcabc", "c", false, 6},
                                         {7, "abcabc", "c", false, 0},
                                         {2, "abc", "", false, 2},
                                         {4, "abc", "", false, 0},
                                         {3, "äöüäöü", "ö", false, 5},
                                         {1, "GRÖSSE größe", "Größe", true, 8},
                                         {1, "xÄÖÜy", "äöü", true, 2},
                                         {1, "xÄÖÜy", "äöü", false, 0}}) {
    EXPECT_EQ(vb::InStr(c.start, c.text, c.find, c.textCompare), c.pos) << c.text << " " << c.find;
  }
  EXPECT_EQ(ErrorOf([] { vb::InStr(0, "a", "a"); }), 5);
  for (const Case& c :
       std::vector<Case>{{-1, "äbcäbc", "ä", false, 4},
                         {5, "abcabc", "bc", false, 2},  // the match must end within start
                         {6, "abcabc", "bc", false, 5},
                         {-1, "abc", "x", false, 0},
                         {2, "abc", "", false, 2},
                         {4, "abc", "a", false, 0},
                         {-1, "Ärger ärger", "ÄR", true, 7}}) {
    EXPECT_EQ(vb::InStrRev(c.text, c.find, c.start, c.textCompare), c.pos) << c.text;
  }
}

TEST(VbTextFunctions, Replace) {
  EXPECT_EQ(vb::Replace("a.b.c", ".", ","), "a,b,c");
  EXPECT_EQ(vb::Replace("aaa", "a", "aa"), "aaaaaa");     // no re-scan of inserted text
  EXPECT_EQ(vb::Replace("abcabc", "b", "x", 3), "caxc");  // VB drops the text before start
  EXPECT_EQ(vb::Replace("a-a-a", "a", "b", 1, 2), "b-b-a");
  EXPECT_EQ(vb::Replace("Äpfel äpfel", "äPFEL", "Birnen", 1, -1, true), "Birnen Birnen");
  EXPECT_EQ(vb::Replace("Äpfel äpfel", "äpfel", "Birnen"), "Äpfel Birnen");
  EXPECT_EQ(vb::Replace("abc", "", "x"), "abc");
  EXPECT_EQ(vb::Replace("öäü", "ä", "ae", 2), "aeü");
  EXPECT_EQ(ErrorOf([] { vb::Replace("a", "a", "b", 0); }), 5);
}

TEST(VbTextFunctions, CaseMappingOfGermanLetters) {
  EXPECT_EQ(vb::UCase("äöü straße àéÿ"), "ÄÖÜ STRAßE ÀÉŸ");
  EXPECT_EQ(vb::LCase("ÄÖÜ STRAßE ÀÉŸ"), "äöü straße àéÿ");
  EXPECT_EQ(vb::UCase("a×b÷c"), "A×B÷C");  // the two Latin-1 signs are no letters
}

TEST(VbTextFunctions, TrimRemovesBlanksOnly) {
  EXPECT_EQ(vb::Trim("  a b  "), "a b");
  EXPECT_EQ(vb::LTrim("  a "), "a ");
  EXPECT_EQ(vb::RTrim(" a  "), " a");
  EXPECT_EQ(vb::Trim("\ta\t"), "\ta\t");
  EXPECT_EQ(vb::LTrim("\ta") + vb::RTrim("a\t"), "\taa\t");
  EXPECT_EQ(vb::Trim("   "), "");
}

TEST(VbTextFunctions, StrComp) {
  EXPECT_EQ(vb::StrComp("b", "a"), 1);
  EXPECT_EQ(vb::StrComp("Öl", "öl"), -1);
  EXPECT_EQ(vb::StrComp("Öl", "öl", true), 0);
  EXPECT_EQ(vb::StrComp("ab", "abc"), -1);
}

TEST(VbLike, Wildcards) {
  struct Case {
    const char* text;
    const char* pattern;
    bool binary, text_;
  } cases[] = {
      {"Hallo", "h*", false, true},
      {"Hllo", "H?llo", false, false},
      {"a1b", "a#b", true, true},
      {"axb", "a#b", false, false},
      {"", "*", true, true},
      {"", "?", false, false},
      {"abc", "*c*", true, true},
      {"abc", "*d*", false, false},
      {"Bild12.JPG", "*.jpg", false, true},
      {"Bild12.JPG", "Bild##.*", true, true},
      {"b", "[abc]", true, true},
      {"B", "[abc]", false, true},
      {"m", "[a-z]", true, true},
      {"M", "[a-z]", false, true},
      {"m", "[!a-z]", false, false},
      {"5", "[!a-z]", true, true},
      {"-", "[a-]", true, true},
      {"*", "[*]", true, true},
      {"x*y", "x[*]y", true, true},
      {"xay", "x[*]y", false, false},
      {"[", "[[]", true, true},
      {"ab", "a[]b", true, true},
      {"Ärger", "ä*", false, true},
      {"Straße", "Stra?e", true, true},
      {"Übel", "[ä-ü]*", false, true},  // only text comparison folds Ü into the range
      {"aXbXc", "a*b*c", true, true},
      {"abcbd", "a*b?", true, true},
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*a*c", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vb::Like(c.text, c.pattern), c.binary) << c.text << " Like " << c.pattern;
    EXPECT_EQ(vb::Like(c.text, c.pattern, true), c.text_)
        << c.text << " Like " << c.pattern << " (text)";
  }
  EXPECT_EQ(ErrorOf([] { vb::Like("a", "[a"); }), 93);
  EXPECT_EQ(ErrorOf([] { vb::Like("a", "[z-a]"); }), 93);
}
