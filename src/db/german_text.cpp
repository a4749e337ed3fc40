#include "db/german_text.h"
#include "platform/text.h"
#include "platform/utf8.h"

#include <cstdint>
#include <vector>

namespace fern::db {

char32_t NextCodePoint(std::string_view s, size_t& i) {
  char32_t cp;
  const size_t len = utf8::Decode(s, i, cp);
  if (len == 0) {
    // Such a byte stands for the Latin-1 character of its number, so an umlaut that came in
    // unconverted still sorts and matches as its letter.
    cp = static_cast<unsigned char>(s[i]);
    ++i;
    return cp;
  }
  i += len;
  return cp;
}

namespace {

constexpr char32_t kSharpS = 0xDF;

char32_t Upper(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  if (c == 0xFF) return 0x178;
  return c;
}

// Appends the folded form of one character (ß expands to two).
template <typename Out>
void FoldInto(char32_t c, Out&& append) {
  if (c == kSharpS) {
    append(U'S');
    append(U'S');
  } else {
    append(Upper(c));
  }
}

// Base letter of an upper-case Latin-1 letter; accents and umlauts dropped.
template <typename Out>
void PrimaryInto(char32_t u, Out&& append) {
  if (u < 0xC0) {
    append(u);
    return;
  }
  if (u == 0x178) {
    append(U'Y');
    return;
  }
  if (u > 0xDE) {
    append(u);
    return;
  }
  static constexpr const char* kBase[] = {
      "A", "A", "A", "A", "A", "A", "AE", "C",  // C0-C7
      "E", "E", "E", "E", "I", "I", "I",  "I",  // C8-CF
      "D", "N", "O", "O", "O", "O", "O",  "",   // D0-D7 (× handled above)
      "O", "U", "U", "U", "U", "Y", "TH"};      // D8-DE
  if (u == 0xD7) {
    append(u);
    return;
  }
  const char* b = kBase[u - 0xC0];
  for (; *b; ++b) append(static_cast<char32_t>(static_cast<unsigned char>(*b)));
}

void Primary(std::string_view s, std::vector<char32_t>& out) {
  out.clear();
  for (size_t i = 0; i < s.size();) {
    char32_t c = NextCodePoint(s, i);
    FoldInto(c, [&](char32_t u) { PrimaryInto(u, [&](char32_t p) { out.push_back(p); }); });
  }
}

void Folded(std::string_view s, std::vector<char32_t>& out) {
  out.clear();
  for (size_t i = 0; i < s.size();)
    FoldInto(NextCodePoint(s, i), [&](char32_t u) { out.push_back(u); });
}

int CompareVectors(const std::vector<char32_t>& a, const std::vector<char32_t>& b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace

std::string FoldKey(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  if (text::IsAscii(s)) {
    for (char c : s) out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    return out;
  }
  for (size_t i = 0; i < s.size();) {
    size_t start = i;
    char32_t c = NextCodePoint(s, i);
    if (c >= 0x80 && i - start == 1) {
      out += s[start];  // keep a stray byte as it was
      continue;
    }
    FoldInto(c, [&](char32_t u) { utf8::Append(out, u); });
  }
  return out;
}

int CompareGerman(std::string_view a, std::string_view b) {
  if (text::IsAscii(a) && text::IsAscii(b)) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
      unsigned char x = static_cast<unsigned char>(a[i]);
      unsigned char y = static_cast<unsigned char>(b[i]);
      if (x >= 'a' && x <= 'z') x -= 32;
      if (y >= 'a' && y <= 'z') y -= 32;
      if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
  }
  thread_local std::vector<char32_t> pa, pb;
  Primary(a, pa);
  Primary(b, pb);
  if (int c = CompareVectors(pa, pb)) return c;
  Folded(a, pa);
  Folded(b, pb);
  return CompareVectors(pa, pb);
}

struct LikePattern::Elem {
  enum Kind { AnyRun, One, Lit, Class } kind;
  char32_t ch = 0;
  bool negate = false;
  std::vector<std::pair<char32_t, char32_t>> ranges;
};

namespace {

using LikeElem = LikePattern::Elem;

bool ElemMatches(const LikeElem& e, char32_t c) {
  switch (e.kind) {
    case LikeElem::One:
      return true;
    case LikeElem::Lit:
      return e.ch == c;
    case LikeElem::Class: {
      bool in = false;
      for (auto& r : e.ranges)
        if (c >= r.first && c <= r.second) in = true;
      return in != e.negate;
    }
    case LikeElem::AnyRun:
      break;
  }
  return false;
}

std::vector<LikeElem> ParsePattern(std::string_view pattern, LikeSyntax syntax, char32_t escape) {
  std::vector<char32_t> p;
  for (size_t i = 0; i < pattern.size();) p.push_back(NextCodePoint(pattern, i));
  std::vector<LikeElem> out;
  auto lit = [&](char32_t c) {
    FoldInto(c, [&](char32_t u) { out.push_back({LikeElem::Lit, u, false, {}}); });
  };
  for (size_t i = 0; i < p.size(); ++i) {
    char32_t c = p[i];
    if (syntax == LikeSyntax::Filter) {
      if (c == '*' || c == '%')
        out.push_back({LikeElem::AnyRun, 0, false, {}});
      else
        lit(c);
      continue;
    }
    if (escape != 0 && c == escape && i + 1 < p.size()) {
      lit(p[++i]);
    } else if (c == '%') {
      out.push_back({LikeElem::AnyRun, 0, false, {}});
    } else if (c == '_') {
      out.push_back({LikeElem::One, 0, false, {}});
    } else if (c == '[') {
      size_t j = i + 1;
      LikeElem e{LikeElem::Class, 0, false, {}};
      if (j < p.size() && p[j] == '^') {
        e.negate = true;
        ++j;
      }
      size_t first = j;
      while (j < p.size() && (p[j] != ']' || j == first)) {
        char32_t lo = Upper(p[j]);
        if (j + 2 < p.size() && p[j + 1] == '-' && p[j + 2] != ']') {
          e.ranges.emplace_back(lo, Upper(p[j + 2]));
          j += 3;
        } else {
          e.ranges.emplace_back(lo, lo);
          ++j;
        }
      }
      if (j >= p.size()) {
        lit('[');  // no closing bracket: the bracket is an ordinary character
      } else {
        out.push_back(std::move(e));
        i = j;
      }
    } else {
      lit(c);
    }
  }
  return out;
}

}  // namespace

LikePattern::LikePattern(std::string_view pattern, LikeSyntax syntax, char32_t escape)
    : elems_(ParsePattern(pattern, syntax, escape)) {}
LikePattern::~LikePattern() = default;
LikePattern::LikePattern(LikePattern&&) noexcept = default;
LikePattern& LikePattern::operator=(LikePattern&&) noexcept = default;

bool LikePattern::Matches(std::string_view text) const {
  const std::vector<LikeElem>& pat = elems_;
  thread_local std::vector<char32_t> t;
  Folded(text, t);
  size_t ti = 0, pi = 0, n = t.size(), m = pat.size();
  size_t starP = SIZE_MAX, starT = 0;
  while (ti < n) {
    if (pi < m && pat[pi].kind == LikeElem::AnyRun) {
      starP = pi++;
      starT = ti;
    } else if (pi < m && ElemMatches(pat[pi], t[ti])) {
      ++ti;
      ++pi;
    } else if (starP != SIZE_MAX) {
      pi = starP + 1;
      ti = ++starT;
    } else {
      return false;
    }
  }
  while (pi < m && pat[pi].kind == LikeElem::AnyRun) ++pi;
  return pi == m;
}

bool LikeGerman(std::string_view text, std::string_view pattern, LikeSyntax syntax,
                char32_t escape) {
  return LikePattern(pattern, syntax, escape).Matches(text);
}

}  // namespace fern::db
