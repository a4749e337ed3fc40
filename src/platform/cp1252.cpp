#include "platform/cp1252.h"

#include <array>

namespace fern {
namespace {

// 0x80-0x9F; 0 marks the bytes Windows leaves undefined (kept as C1 controls).
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t ByteToCodePoint(unsigned char b) {
  if (b >= 0x80 && b <= 0x9F && kHigh[b - 0x80] != 0) return kHigh[b - 0x80];
  return b;
}

// -1 when the code point has no Windows-1252 byte.
int CodePointToByte(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (size_t i = 0; i < kHigh.size(); ++i) {
    if (kHigh[i] == 0 ? cp == 0x80 + i : kHigh[i] == cp) return static_cast<int>(0x80 + i);
  }
  return -1;
}

char32_t FoldCodePoint(char32_t cp) {
  if (cp >= 'A' && cp <= 'Z') return cp + 0x20;
  if (cp < 0xC0) return cp;
  if (cp <= 0xDE && cp != 0xD7) return cp + 0x20;
  switch (cp) {
    case 0x0160:
      return 0x0161;
    case 0x0152:
      return 0x0153;
    case 0x017D:
      return 0x017E;
    case 0x0178:
      return 0x00FF;
    default:
      return cp;
  }
}

}  // namespace

namespace cp1252 {

std::string ToUtf8(std::string_view in) {
  std::string out;
  out.reserve(in.size() + in.size() / 8);
  for (char c : in) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else {
      utf8::Append(out, ByteToCodePoint(b));
    }
  }
  return out;
}

std::string FromUtf8(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  size_t pos = 0;
  while (pos < in.size()) {
    const auto b = static_cast<unsigned char>(in[pos]);
    if (b < 0x80) {
      out += in[pos++];
      continue;
    }
    const char32_t cp = utf8::Next(in, pos);
    const int mapped = CodePointToByte(cp);
    out += mapped < 0 ? '?' : static_cast<char>(mapped);
  }
  return out;
}

bool Representable(std::string_view in) {
  size_t pos = 0;
  while (pos < in.size()) {
    const size_t start = pos;
    const char32_t cp = utf8::Next(in, pos);
    if (cp == utf8::kReplacement && !(pos - start == 3)) return false;
    if (CodePointToByte(cp) < 0) return false;
  }
  return true;
}

}  // namespace cp1252

namespace utf8 {

size_t Decode(std::string_view s, size_t pos, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(s[pos]);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  size_t len;
  char32_t v;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, v = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, v = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, v = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (pos + len > s.size()) return 0;
  for (size_t i = 1; i < len; ++i) {
    const auto b = static_cast<unsigned char>(s[pos + i]);
    if ((b & 0xC0) != 0x80) return 0;
    v = (v << 6) | (b & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  cp = v;
  return len;
}

char32_t Next(std::string_view s, size_t& pos) {
  char32_t cp;
  const size_t len = Decode(s, pos, cp);
  if (len == 0) {
    ++pos;
    return kReplacement;
  }
  pos += len;
  return cp;
}

void Append(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool IsValid(std::string_view s) {
  size_t pos = 0;
  while (pos < s.size()) {
    const size_t start = pos;
    if (Next(s, pos) == kReplacement && pos - start != 3) return false;
  }
  return true;
}

}  // namespace utf8

namespace text {

std::string ToCrLf(std::string_view s) {
  std::string out;
  out.reserve(s.size() + s.size() / 16);
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r') {
      out += "\r\n";
      if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
    } else if (s[i] == '\n') {
      out += "\r\n";
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<std::string> SplitLines(std::string_view s) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\r' && s[i] != '\n') continue;
    lines.emplace_back(s.substr(start, i - start));
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < s.size()) lines.emplace_back(s.substr(start));
  return lines;
}

std::string FoldCase(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  size_t pos = 0;
  while (pos < s.size()) {
    const size_t start = pos;
    const char32_t cp = utf8::Next(s, pos);
    if (cp == utf8::kReplacement && pos - start != 3) {
      out += s[start];  // keep stray bytes as they are
    } else {
      utf8::Append(out, FoldCodePoint(cp));
    }
  }
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  size_t pa = 0;
  size_t pb = 0;
  while (pa < a.size() && pb < b.size()) {
    const size_t sa = pa;
    const size_t sb = pb;
    const char32_t ca = utf8::Next(a, pa);
    const char32_t cb = utf8::Next(b, pb);
    if (FoldCodePoint(ca) != FoldCodePoint(cb)) return false;
    // Stray bytes all decode to the replacement character; they match only themselves.
    const bool strayA = ca == utf8::kReplacement && pa - sa == 1;
    const bool strayB = cb == utf8::kReplacement && pb - sb == 1;
    if ((strayA || strayB) && !(strayA && strayB && a[sa] == b[sb])) return false;
  }
  return pa == a.size() && pb == b.size();
}

std::string_view TrimBlanks(std::string_view s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

}  // namespace text
}  // namespace fern
