#include "website/text_helpers.h"

#include <gtest/gtest.h>

#include "website/field_columns.h"
#include "website/sql_literals.h"

namespace fern::website {
namespace {

TEST(TextHelpers, StringToHTML) {
  const struct {
    Variant in;
    std::string out;
  } cases[] = {
      {Variant::Null(), ""},
      {Variant("   "), ""},
      {Variant(" a\r\nb "), "a<BR>b"},
      {Variant("x\ny\rz"), "x\ny\rz"},  // lone line ends stay
      {Variant("<b>&</b>"), "<b>&</b>"},
      {Variant("O'Neill \"Haus\""), "O&#39;Neill &#34;Haus&#34;"},
      {Variant(std::string("a\x0B"
                           "b\x18"
                           "c")),
       "abc"},
      {Variant(int32_t{42}), "42"},
  };
  for (const auto& c : cases) EXPECT_EQ(StringToHTML(c.in), c.out) << c.out;
}

TEST(TextHelpers, ReplaceStringAndFileNames) {
  EXPECT_EQ(ReplaceString("Wohnfläche m²", "_"), "Wohnflaeche_m_");
  EXPECT_EQ(ReplaceString("a-b/c Öß", "_"), "a_b_c_Oess");
  EXPECT_EQ(ReplaceString("Grundriß.pdf", "_", "."), "Grundriss.pdf");
  EXPECT_EQ(ReplaceString("", "_"), "");
  EXPECT_EQ(DestinationFile("PUT /x/pic.obj/a.jpg"), "/x/pic.obj/a.jpg");
  EXPECT_EQ(DestinationFile("nothing"), "");
  EXPECT_EQ(DestinationFile("ends "), "");
  EXPECT_EQ(HtmlEscapeChars(std::string("a\tb\nc\x1B'\"")), "a&#9;b&#10;c\x1B&#39;&#34;");
  EXPECT_EQ(HtmlEscapeValue(Variant::Null()), "");
  EXPECT_EQ(SafeFileName("Büro: Haus/2 a.b"), "Büro_Haus2_a_b");
  EXPECT_EQ(SafeFileName("<a>|*?\"'\\"), "a");
}

TEST(SqlLiterals, EscapedForSqlThenForPhp) {
  const struct {
    Variant in;
    std::string value;
    std::string quote;
  } cases[] = {
      {Variant::Null(), "NULL", "''"},
      {Variant(""), "NULL", "''"},
      {Variant("Haus am See"), "'Haus am See'", "'Haus am See'"},
      {Variant("O'Neill"), "'O''Neill'", "'ONeill'"},
      {Variant("C:\\pfad\\"), "'C:\\\\pfad\\\\'", "'C:\\\\pfad\\\\'"},
      {Variant("$x {${y}}"), "'\\$x {\\${y}}'", "'\\$x {\\${y}}'"},
      {Variant("a\r\nb"), "'a\\r\\nb'", "'a\\r\\nb'"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SqlValue(c.in), c.value);
    if (!c.in.IsNull()) {
      EXPECT_EQ(SqlQuote(c.in.str()), c.quote);
    }
  }
  EXPECT_EQ(SqlGuid("{0A1B-2C}"), "'0A1B-2C'");
  EXPECT_EQ(StripBraces("{a}{b}"), "ab");
  EXPECT_EQ(PhpSingleQuoted("it's a \\ $x"), "'it\\'s a \\\\ $x'");
}

TEST(LanguageLists, SpreadOverContentLanguages) {
  const ContentLanguages one;
  const ContentLanguages three{{"1031", "1033", "1036"}};
  EXPECT_EQ(LangColumnList("EXPOSE", one), "EXPOSE");
  EXPECT_EQ(LangColumnList("KURZ", three), "KURZ,KURZ_LCID1033,KURZ_LCID1036");
  EXPECT_EQ(LangValueList({"a", "", "c"}, three), "'a','a','c'");
  EXPECT_EQ(LangSetList("T", {"x"}, ContentLanguages{{"1031", "1033"}}), "T='x',T_LCID1033='x'");
}

}  // namespace
}  // namespace fern::website
