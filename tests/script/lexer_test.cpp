// Tokens: literal types, operators, names and how lines join.
#include <gtest/gtest.h>

#include "platform/host_error.h"
#include "script/lexer.h"
#include "script/script_errors.h"

namespace fern::script {
namespace {

std::vector<Token> Lex(std::string_view src) {
  int line = 0;
  return Tokenize(src, line);
}

TEST(ScriptLexer, LiteralsTakeVbScriptTypes) {
  auto t = Lex("x = &HFFFF + &H10000 + 40000 + 7 + 1.5 + &O17 + \"a\"\"b\" + #2/29/2024#");
  std::vector<Variant> lits;
  for (const Token& tk : t)
    if (tk.kind == Tok::Literal) lits.push_back(tk.value);
  ASSERT_EQ(lits.size(), 8u);
  EXPECT_EQ(lits[0].type(), VType::Integer);
  EXPECT_EQ(lits[0].intVal(), -1);
  EXPECT_EQ(lits[1].type(), VType::Long);
  EXPECT_EQ(lits[2].type(), VType::Long);
  EXPECT_EQ(lits[3].type(), VType::Integer);
  EXPECT_EQ(lits[4].type(), VType::Double);
  EXPECT_EQ(lits[5].intVal(), 15);
  EXPECT_EQ(lits[6].str(), "a\"b");
  EXPECT_EQ(lits[7].type(), VType::Date);
  // Concatenation written without blanks.
  auto c = Lex("s = n&1&h");
  EXPECT_EQ(c[3].text, "&");
  EXPECT_EQ(c[4].text, "1");
  EXPECT_EQ(c[6].text, "h");
}

TEST(ScriptLexer, ContinuationsCommentsAndSeparators) {
  auto t = Lex("a = 1 & _\r\n  2 ' note\r\nRem whole line\r\nb = 3 : c = .5\n");
  std::vector<std::string> texts;
  for (const Token& tk : t)
    texts.push_back(tk.kind == Tok::Newline ? (tk.colon ? ":" : "NL") : tk.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"a", "=", "1", "&", "2", "NL", "NL", "b", "=", "3",
                                             ":", "c", "=", ".5", "NL", "NL", ""}));
  // Tokens after a continuation carry their own line.
  EXPECT_EQ(t[4].line, 2);
  EXPECT_EQ(t[7].line, 4);
  // A '.' after a blank is a With member; directly after a name it is member access.
  auto w = Lex("x.y .z");
  EXPECT_FALSE(w[1].spaceBefore);
  EXPECT_TRUE(w[3].spaceBefore);
  int line = 0;
  EXPECT_THROW(Tokenize("x = \"open", line), HostError);
  EXPECT_EQ(line, 1);
}

TEST(ScriptLexer, RadixSuffixOperatorAndNameForms) {
  struct Case {
    const char* src;
    VType type;
    int32_t value;
  } cases[] = {
      {"x = &hFFFF&", VType::Long, 65535}, {"x = &H8000&", VType::Long, 32768},
      {"x = &hFFFF", VType::Integer, -1},  {"x = &100", VType::Integer, 64},
      {"Echo &17&", VType::Long, 15},      {"If a = &7 Then", VType::Integer, 7},
      {"x = &O777&", VType::Long, 511},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.src);
    std::vector<Variant> lits;
    for (const Token& tk : Lex(c.src))
      if (tk.kind == Tok::Literal) lits.push_back(tk.value);
    ASSERT_EQ(lits.size(), 1u);
    EXPECT_EQ(lits[0].type(), c.type);
    EXPECT_EQ(lits[0].type() == VType::Long ? lits[0].longVal() : lits[0].intVal(), c.value);
  }
  // "a"&1 stays a concatenation of a text and a number.
  auto t = Lex("x = \"a\"&1");
  ASSERT_GE(t.size(), 5u);
  EXPECT_TRUE(t[3].IsOp("&"));
  // >< is <>.
  t = Lex("a >< b");
  EXPECT_TRUE(t[1].IsOp("<>"));
  // [name] is never a keyword.
  t = Lex("[end] = [my var]");
  EXPECT_TRUE(t[0].bracketed);
  EXPECT_FALSE(t[0].IsKw("end"));
  EXPECT_EQ(t[2].lower, "my var");
  // A continued line that starts with .Member continues the member access.
  t = Lex("d _\n   .Count");
  ASSERT_TRUE(t[1].IsOp("."));
  EXPECT_FALSE(t[1].spaceBefore);
  t = Lex("x = _\n   .Count");
  EXPECT_TRUE(t[2].spaceBefore);
}

}  // namespace
}  // namespace fern::script
