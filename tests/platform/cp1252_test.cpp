#include "platform/cp1252.h"
#include "platform/text.h"
#include "platform/utf8.h"

#include <gtest/gtest.h>

namespace fern {
namespace {

TEST(Cp1252, EveryByteSurvivesTheRoundTrip) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  const std::string utf8 = cp1252::ToUtf8(all);
  EXPECT_TRUE(utf8::IsValid(utf8));
  EXPECT_EQ(cp1252::FromUtf8(utf8), all);
}

TEST(Cp1252, HighBlockMapsAsWindows) {
  EXPECT_EQ(cp1252::ToUtf8("\x80"), "€");
  EXPECT_EQ(cp1252::ToUtf8("\x84\x93\x94\x8A\x9F"), "„“”ŠŸ");
  EXPECT_EQ(cp1252::FromUtf8("Größe 5 €"),
            "Gr\xF6\xDF"
            "e 5 \x80");
  EXPECT_EQ(cp1252::FromUtf8("–"), "\x96");
}

TEST(Cp1252, UnmappableAndInvalidBecomeQuestionMarks) {
  EXPECT_EQ(cp1252::FromUtf8("a→b"), "a?b");
  EXPECT_EQ(cp1252::FromUtf8("日本😀"), "???");
  // Stray continuation byte, truncated sequence, overlong "/" and an encoded surrogate.
  EXPECT_EQ(cp1252::FromUtf8("x\x80y"), "x?y");
  EXPECT_EQ(cp1252::FromUtf8("x\xC3"), "x?");
  EXPECT_EQ(cp1252::FromUtf8("\xC0\xAF"), "??");
  EXPECT_EQ(cp1252::FromUtf8("\xED\xA0\x80"), "???");
  EXPECT_TRUE(cp1252::Representable("Müller € „x“"));
  EXPECT_FALSE(cp1252::Representable("a→b"));
  EXPECT_FALSE(cp1252::Representable("\xC3"));
}

TEST(Utf8, DecodeNeverOverrunsOnTruncatedInput) {
  const std::string cut = "\xF0\x9F\x98";  // first three bytes of a four-byte character
  size_t pos = 0;
  int steps = 0;
  while (pos < cut.size()) {
    EXPECT_EQ(utf8::Next(cut, pos), utf8::kReplacement);
    ++steps;
  }
  EXPECT_EQ(steps, 3);
  EXPECT_FALSE(utf8::IsValid(cut));
  EXPECT_TRUE(utf8::IsValid("\xEF\xBF\xBD"));  // a real U+FFFD is valid
}

TEST(LineEndings, AllKindsBecomeCrLfAndSplit) {
  EXPECT_EQ(text::ToCrLf("a\nb\r\nc\rd"), "a\r\nb\r\nc\r\nd");
  EXPECT_EQ(text::ToCrLf("\r\r\n\n"), "\r\n\r\n\r\n");
  EXPECT_EQ(text::SplitLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(text::SplitLines("a\r\n"), (std::vector<std::string>{"a"}));
  EXPECT_EQ(text::SplitLines("a\n\nb"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(text::SplitLines("\r\n"), (std::vector<std::string>{""}));
  EXPECT_TRUE(text::SplitLines("").empty());
}

TEST(FoldCase, WindowsLettersCompareWithoutCase) {
  EXPECT_TRUE(text::EqualsNoCase("ÄNDERUNG Šelf Œuvre Ÿ", "änderung šELF œUVRE ÿ"));
  EXPECT_FALSE(text::EqualsNoCase("STRASSE", "straße"));
  EXPECT_FALSE(text::EqualsNoCase("×", "÷"));  // not a letter pair
  EXPECT_FALSE(text::EqualsNoCase("ab", "abc"));
  EXPECT_FALSE(text::EqualsNoCase("a\x80", "a\x81"));  // different stray bytes
  EXPECT_FALSE(text::EqualsNoCase("a\x80", "a\xEF\xBF\xBD"));
  EXPECT_EQ(text::FoldCase("DAT\\Error.LOG"), "dat\\error.log");
}

}  // namespace
}  // namespace fern
