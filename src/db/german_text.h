// Text comparison the host database expects: case-insensitive with German letters, the way the
// host's server collation treats them. Used by the SQLite collation, LIKE, recordset filters,
// sorts and field-name lookup, so that all of them agree.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace fern::db {

// Upper case for ASCII and Latin-1 letters (ä -> Ä, ÿ -> Ÿ), ß -> "SS". Two texts are equal
// without regard to case exactly when their keys are equal. Other characters pass unchanged;
// invalid UTF-8 bytes pass as they are.
std::string FoldKey(std::string_view s);

// Order for text: first by base letters (Ä sorts with A, ß as SS), then by the folded key, so
// "a" = "A" < "ä" = "Ä" < "b". Returns <0, 0 or >0; for UTF-8 text 0 exactly when
// FoldKey(a) == FoldKey(b). A byte that is no UTF-8 compares as its Latin-1 letter, so an
// unconverted "M\xE4rz" equals "MÄRZ" here although its key keeps the byte.
int CompareGerman(std::string_view a, std::string_view b);

enum class LikeSyntax {
  Sql,     // % any run, _ one character, [abc] [a-z] [^...] classes, optional escape character
  Filter,  // recordset filters: * and % any run; everything else literal
};

// Pattern match without regard to case (German letters included).
bool LikeGerman(std::string_view text, std::string_view pattern, LikeSyntax syntax,
                char32_t escape = 0);

// The same with the pattern parsed once, for matching many rows.
class LikePattern {
 public:
  LikePattern(std::string_view pattern, LikeSyntax syntax, char32_t escape = 0);
  ~LikePattern();
  LikePattern(LikePattern&&) noexcept;
  LikePattern& operator=(LikePattern&&) noexcept;
  bool Matches(std::string_view text) const;

  struct Elem;

 private:
  std::vector<Elem> elems_;
};

// The character at s[i], advancing i past it; a byte that starts no UTF-8 character stands
// for itself (as a Latin-1 code point) and advances i by one.
char32_t NextCodePoint(std::string_view s, size_t& i);

}  // namespace fern::db
