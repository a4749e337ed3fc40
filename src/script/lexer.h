// Splits VBScript source text into tokens. Keywords stay identifiers (the parser tells them
// apart by context, as member names like `obj.End` or `rs.Fields` need); line continuations and
// comments vanish here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/variant.h"

namespace fern::script {

enum class Tok {
  End,      // end of text
  Newline,  // line end or ':' (see `colon`)
  Ident,
  Literal,  // number, string or date; the value is in `value`
  Op,       // operators and punctuation, the text in `text`
};

struct Token {
  Tok kind = Tok::End;
  std::string text;   // as written
  std::string lower;  // identifiers: lower-cased, for keyword and name comparison
  Variant value;
  int line = 1;
  bool spaceBefore = false;  // a '.' after blank space is a With member, not a member access
  bool colon = false;        // Newline written as ':'
  bool bracketed = false;    // [name]: never a keyword

  bool Is(Tok k, std::string_view t) const {
    return kind == k && !bracketed && (k == Tok::Ident ? lower : text) == t;
  }
  bool IsOp(std::string_view t) const { return kind == Tok::Op && text == t; }
  bool IsKw(std::string_view kw) const { return kind == Tok::Ident && !bracketed && lower == kw; }
};

// Throws HostError with the compile error's number (1032 Invalid character, 1033 Unterminated
// string constant, 1031 Invalid number) and sets `errorLine`.
std::vector<Token> Tokenize(std::string_view src, int& errorLine);

}  // namespace fern::script
