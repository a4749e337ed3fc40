// VB's text functions on UTF-8: positions and lengths count characters. Pure ASCII text, the
// usual case in scripts' loops, takes byte-wise paths.
#include <cstring>
#include <vector>

#include "platform/text.h"
#include "platform/utf8.h"
#include "platform/vb.h"
#include "platform/vb_internal.h"

namespace fern::vb {

using detail::ByteOffset;
using detail::Raise;
using text::IsAscii;

namespace {

// Length of the pure-ASCII run at the start of s[from, limit), eight bytes at a time.
size_t AsciiRun(std::string_view s, size_t from, size_t limit) {
  size_t i = from;
  while (i + 8 <= limit) {
    uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    if (w & 0x8080808080808080ull) break;
    i += 8;
  }
  while (i < limit && static_cast<unsigned char>(s[i]) < 0x80) ++i;
  return i - from;
}

size_t CountChars(std::string_view s) {
  size_t n = 0, i = 0;
  while (i < s.size()) {
    size_t run = AsciiRun(s, i, s.size());
    i += run;
    n += run;
    if (i < s.size()) {
      utf8::Next(s, i);
      ++n;
    }
  }
  return n;
}

// Byte offset after the first `n` characters, looking no further than that, so Mid(s, i, 1) in a
// loop does not rescan the whole text. `missing` gets how many characters the text lacked.
size_t Skip(std::string_view s, int64_t n, int64_t* missing = nullptr) {
  size_t i = 0;
  while (n > 0 && i < s.size()) {
    size_t limit = static_cast<uint64_t>(n) < s.size() - i ? i + static_cast<size_t>(n) : s.size();
    size_t run = AsciiRun(s, i, limit);
    i += run;
    n -= static_cast<int64_t>(run);
    if (n > 0 && i < s.size()) {
      utf8::Next(s, i);
      --n;
    }
  }
  if (missing) *missing = n;
  return i;
}

// 1-based character position of a byte offset.
int64_t PositionOf(std::string_view s, size_t offset) {
  return static_cast<int64_t>(CountChars(s.substr(0, offset))) + 1;
}

std::vector<char32_t> Decode(std::string_view s, bool fold) {
  std::vector<char32_t> out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    char32_t c = utf8::Next(s, i);
    out.push_back(fold ? detail::ToLower(c) : c);
  }
  return out;
}

}  // namespace

size_t Len(std::string_view s) { return CountChars(s); }

std::string Left(std::string_view s, int64_t n) {
  if (n < 0) Raise(err::kInvalidArgument);
  return std::string(s.substr(0, Skip(s, n)));
}

std::string Right(std::string_view s, int64_t n) {
  if (n < 0) Raise(err::kInvalidArgument);
  int64_t len = static_cast<int64_t>(Len(s));
  if (n >= len) return std::string(s);
  return std::string(s.substr(Skip(s, len - n)));
}

std::string Mid(std::string_view s, int64_t start, int64_t len) {
  if (start < 1 || len < -1) Raise(err::kInvalidArgument);
  std::string_view rest = s.substr(Skip(s, start - 1));
  if (len == -1) return std::string(rest);
  return std::string(rest.substr(0, Skip(rest, len)));
}

int64_t InStr(int64_t start, std::string_view s, std::string_view find, bool textCompare) {
  if (start < 1) Raise(err::kInvalidArgument);
  size_t from = Skip(s, start - 1);
  if (from >= s.size()) return 0;  // empty text or start beyond its end
  if (find.empty()) return start;
  std::string foldedS, foldedF;
  if (textCompare) {
    // Folding keeps byte offsets, so positions found in the folded text hold for the original.
    foldedS = detail::FoldLower(s);
    foldedF = detail::FoldLower(find);
    s = foldedS;
    find = foldedF;
  }
  size_t at = s.find(find, from);
  if (at == std::string_view::npos) return 0;
  return start + static_cast<int64_t>(CountChars(s.substr(from, at - from)));
}

int64_t InStrRev(std::string_view s, std::string_view find, int64_t start, bool textCompare) {
  if (start == 0 || start < -1) Raise(err::kInvalidArgument);
  size_t end = s.size();
  if (start == -1) {
    start = static_cast<int64_t>(Len(s));
  } else {
    int64_t missing;
    end = Skip(s, start, &missing);
    if (missing > 0) return 0;  // start beyond the end of the text
  }
  if (find.empty()) return start;
  std::string foldedS, foldedF;
  if (textCompare) {
    foldedS = detail::FoldLower(s);
    foldedF = detail::FoldLower(find);
    s = foldedS;
    find = foldedF;
  }
  // The match has to lie within the first `start` characters.
  size_t at = s.substr(0, end).rfind(find);
  if (at == std::string_view::npos) return 0;
  return PositionOf(s, at);
}

std::string Replace(std::string_view s, std::string_view find, std::string_view with, int64_t start,
                    int64_t count, bool textCompare) {
  if (start < 1 || count < -1) Raise(err::kInvalidArgument);
  // VB returns the text from `start` on, not the whole text.
  std::string_view rest = s.substr(Skip(s, start - 1));
  if (find.empty() || count == 0) return std::string(rest);
  std::string foldedRest, foldedFind;
  std::string_view hay = rest, needle = find;
  if (textCompare) {
    foldedRest = detail::FoldLower(rest);
    foldedFind = detail::FoldLower(find);
    hay = foldedRest;
    needle = foldedFind;
  }
  std::string out;
  out.reserve(rest.size());
  size_t pos = 0;
  int64_t done = 0;
  while (count == -1 || done < count) {
    size_t at = hay.find(needle, pos);
    if (at == std::string_view::npos) break;
    out.append(rest.substr(pos, at - pos));
    out.append(with);
    pos = at + needle.size();
    ++done;
  }
  out.append(rest.substr(pos));
  return out;
}

std::string UCase(std::string_view s) { return detail::MapCase(s, true); }
std::string LCase(std::string_view s) { return detail::MapCase(s, false); }

std::string LTrim(std::string_view s) {
  size_t i = s.find_first_not_of(' ');
  return i == std::string_view::npos ? std::string() : std::string(s.substr(i));
}

std::string RTrim(std::string_view s) {
  size_t i = s.find_last_not_of(' ');
  return i == std::string_view::npos ? std::string() : std::string(s.substr(0, i + 1));
}

std::string Trim(std::string_view s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(' ');
  return std::string(s.substr(b, e - b + 1));
}

int StrComp(std::string_view a, std::string_view b, bool textCompare) {
  int c;
  if (textCompare) {
    // Byte order of UTF-8 is code point order, so folded bytes compare like folded characters.
    c = detail::FoldLower(a).compare(detail::FoldLower(b));
  } else {
    c = a.compare(b);
  }
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

// --- Like ------------------------------------------------------------------------------------

namespace {

struct LikeToken {
  enum Kind { Literal, AnyChar, Digit, Star, Set };
  explicit LikeToken(Kind k) : kind(k) {}
  Kind kind;
  char32_t ch = 0;
  bool negate = false;
  std::vector<std::pair<char32_t, char32_t>> ranges;
};

std::vector<LikeToken> CompileLike(const std::vector<char32_t>& p) {
  std::vector<LikeToken> out;
  for (size_t i = 0; i < p.size(); ++i) {
    char32_t c = p[i];
    if (c == '*') {
      if (out.empty() || out.back().kind != LikeToken::Star) out.emplace_back(LikeToken::Star);
    } else if (c == '?') {
      out.emplace_back(LikeToken::AnyChar);
    } else if (c == '#') {
      out.emplace_back(LikeToken::Digit);
    } else if (c == '[') {
      size_t j = i + 1;
      LikeToken t{LikeToken::Set};
      if (j < p.size() && p[j] == '!') {
        t.negate = true;
        ++j;
      }
      bool closed = false;
      for (; j < p.size(); ++j) {
        if (p[j] == ']') {
          closed = true;
          break;
        }
        char32_t lo = p[j], hi = p[j];
        // A '-' between two characters makes a range; at either end it is itself.
        if (j + 2 < p.size() && p[j + 1] == '-' && p[j + 2] != ']') {
          hi = p[j + 2];
          j += 2;
          if (hi < lo) Raise(93);
        }
        t.ranges.emplace_back(lo, hi);
      }
      if (!closed) Raise(93);
      i = j;
      // "[]" matches no character at all; "[!]" matches any one character.
      if (t.ranges.empty() && !t.negate) continue;
      out.push_back(std::move(t));
    } else {
      LikeToken t{LikeToken::Literal};
      t.ch = c;
      out.push_back(std::move(t));
    }
  }
  return out;
}

bool MatchOne(const LikeToken& t, char32_t c) {
  switch (t.kind) {
    case LikeToken::Literal:
      return t.ch == c;
    case LikeToken::AnyChar:
      return true;
    case LikeToken::Digit:
      return c >= '0' && c <= '9';
    case LikeToken::Set: {
      bool in = false;
      for (auto& r : t.ranges)
        if (c >= r.first && c <= r.second) {
          in = true;
          break;
        }
      return in != t.negate;
    }
    case LikeToken::Star:
      return false;
  }
  return false;
}

}  // namespace

bool Like(std::string_view s, std::string_view pattern, bool textCompare) {
  std::vector<char32_t> text = Decode(s, textCompare);
  std::vector<LikeToken> toks = CompileLike(Decode(pattern, textCompare));
  // Every token but '*' takes exactly one character, so retrying from the last star is enough.
  size_t ti = 0, pi = 0, starP = SIZE_MAX, starT = 0;
  while (ti < text.size()) {
    if (pi < toks.size() && toks[pi].kind == LikeToken::Star) {
      starP = pi++;
      starT = ti;
    } else if (pi < toks.size() && MatchOne(toks[pi], text[ti])) {
      ++pi;
      ++ti;
    } else if (starP != SIZE_MAX) {
      pi = starP + 1;
      ti = ++starT;
    } else {
      return false;
    }
  }
  while (pi < toks.size() && toks[pi].kind == LikeToken::Star) ++pi;
  return pi == toks.size();
}

}  // namespace fern::vb
