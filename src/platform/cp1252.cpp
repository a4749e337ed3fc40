#include "platform/cp1252.h"

#include <array>

#include "platform/utf8.h"

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
}  // namespace fern
