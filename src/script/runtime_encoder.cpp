// Script Encoder blocks: "#@~^" LLLLLL "==" text CCCCCC "==^#~@". L and C are a 32-bit
// little-endian number in Base64 (the "==" is the padding): the length of the encoded text and
// the sum of the decoded characters. Each ASCII character of the text is substituted through
// one of three tables, chosen by its position modulo 64; "<", ">", "@", CR and LF travel as
// "@" escapes, characters above ASCII pass unchanged and take no position.
#include <array>
#include <cstdint>

#include "platform/base64.h"
#include "platform/utf8.h"
#include "script/runtime_util.h"

namespace fern::script {

namespace {

// Which table encodes the character at position i (mod 64).
constexpr std::string_view kTableOrder =
    "1201202002021020102011200210200211020201011201021020112001120102";

// The encoding direction, the form the substitution is documented in: for the plain
// characters TAB, 0x20 .. 0x7F (in that order), the character each table writes. Zero marks
// the characters that are escaped instead.
constexpr uint8_t kEncode[3][97] = {
    {0x64, 0x50, 0x22, 0x4A, 0x61, 0x5E, 0x5D, 0x5B, 0x42, 0x60, 0x23, 0x65, 0x5F, 0x7E,
     0x4F, 0x52, 0x7A, 0x21, 0x46, 0x20, 0x26, 0x63, 0x2A, 0x76, 0x47, 0x25, 0x2C, 0x29,
     0x69, 0x00, 0x27, 0x00, 0x67, 0x00, 0x62, 0x41, 0x5A, 0x66, 0x32, 0x73, 0x4D, 0x43,
     0x71, 0x39, 0x7C, 0x53, 0x48, 0x31, 0x72, 0x6E, 0x70, 0x49, 0x3F, 0x4B, 0x6A, 0x2E,
     0x7F, 0x28, 0x35, 0x7D, 0x24, 0x2D, 0x54, 0x37, 0x7B, 0x3D, 0x6C, 0x34, 0x6D, 0x4E,
     0x2B, 0x30, 0x6F, 0x74, 0x6B, 0x4C, 0x33, 0x56, 0x3A, 0x78, 0x57, 0x77, 0x3B, 0x44,
     0x2F, 0x59, 0x45, 0x5C, 0x68, 0x36, 0x58, 0x79, 0x09, 0x75, 0x38, 0x55, 0x51},
    {0x37, 0x7E, 0x5A, 0x45, 0x3A, 0x79, 0x59, 0x27, 0x76, 0x63, 0x62, 0x4D, 0x51, 0x53,
     0x52, 0x20, 0x26, 0x54, 0x71, 0x2B, 0x66, 0x2A, 0x58, 0x7F, 0x7B, 0x30, 0x31, 0x6C,
     0x49, 0x00, 0x78, 0x00, 0x5F, 0x00, 0x29, 0x24, 0x2F, 0x39, 0x33, 0x6F, 0x21, 0x75,
     0x28, 0x42, 0x46, 0x4A, 0x5C, 0x48, 0x36, 0x4B, 0x7D, 0x5D, 0x6A, 0x50, 0x69, 0x23,
     0x09, 0x70, 0x65, 0x74, 0x2C, 0x77, 0x44, 0x3F, 0x6D, 0x7C, 0x43, 0x38, 0x5E, 0x5B,
     0x6E, 0x57, 0x4C, 0x34, 0x72, 0x25, 0x56, 0x73, 0x68, 0x55, 0x47, 0x32, 0x35, 0x2E,
     0x64, 0x4F, 0x3B, 0x2D, 0x41, 0x61, 0x7A, 0x22, 0x60, 0x6B, 0x4E, 0x3D, 0x67},
    {0x69, 0x2C, 0x65, 0x72, 0x5B, 0x66, 0x75, 0x4C, 0x45, 0x76, 0x2A, 0x43, 0x33, 0x42,
     0x20, 0x63, 0x4A, 0x5A, 0x38, 0x79, 0x32, 0x57, 0x6C, 0x2B, 0x46, 0x52, 0x4F, 0x3D,
     0x70, 0x00, 0x7B, 0x00, 0x51, 0x00, 0x7A, 0x7E, 0x3B, 0x47, 0x41, 0x77, 0x56, 0x5F,
     0x26, 0x78, 0x6E, 0x64, 0x74, 0x67, 0x7D, 0x68, 0x35, 0x22, 0x55, 0x3A, 0x60, 0x6A,
     0x71, 0x6F, 0x49, 0x5C, 0x5D, 0x27, 0x59, 0x25, 0x7C, 0x23, 0x6D, 0x28, 0x31, 0x39,
     0x7F, 0x36, 0x54, 0x34, 0x62, 0x4E, 0x30, 0x5E, 0x73, 0x09, 0x4B, 0x61, 0x24, 0x4D,
     0x6B, 0x44, 0x21, 0x37, 0x53, 0x58, 0x48, 0x2E, 0x50, 0x2D, 0x29, 0x3F, 0x2F},
};

// The decoding tables, by inverting kEncode: encoded byte -> plain byte per table. Bytes no
// table writes decode to themselves.
const std::array<std::array<uint8_t, 128>, 3>& DecodeTables() {
  static const auto tables = [] {
    std::array<std::array<uint8_t, 128>, 3> t{};
    for (auto& table : t)
      for (int c = 0; c < 128; ++c) table[c] = static_cast<uint8_t>(c);
    for (int k = 0; k < 3; ++k)
      for (int row = 0; row < 97; ++row)
        if (kEncode[k][row]) t[k][kEncode[k][row]] = static_cast<uint8_t>(row == 0 ? 9 : row + 31);
    return t;
  }();
  return tables;
}

[[noreturn]] void Damaged(std::string_view what) {
  throw HostError(err::kInvalidArgument, "Damaged encoded script block: " + std::string(what));
}

// Six Base64 characters and "==": four bytes, little-endian.
uint32_t ReadNumber(std::string_view s, size_t at) {
  if (at + 8 > s.size() || s.substr(at + 6, 2) != "==") Damaged("bad number field");
  uint64_t bits = 0;
  for (size_t i = 0; i < 6; ++i) {
    int v = Base64Value(s[at + i]);
    if (v < 0) Damaged("bad number field");
    bits = (bits << 6) | static_cast<uint64_t>(v);
  }
  bits >>= 4;  // 36 bits carry 32; the last four are padding
  uint32_t be = static_cast<uint32_t>(bits);
  return (be >> 24) | ((be >> 8) & 0xFF00) | ((be << 8) & 0xFF0000) | (be << 24);
}

}  // namespace

std::string DecodeScriptEncoded(std::string_view text) {
  static constexpr std::string_view kStart = "#@~^", kEnd = "^#~@";
  const auto& tables = DecodeTables();
  std::string out;
  size_t pos = 0;
  while (true) {
    size_t start = text.find(kStart, pos);
    if (start == std::string_view::npos) break;
    out.append(text, pos, start - pos);
    size_t at = start + kStart.size();
    uint32_t length = ReadNumber(text, at);
    at += 8;
    uint32_t sum = 0;
    size_t index = 0;
    for (uint32_t n = 0; n < length; ++n) {
      if (at >= text.size()) Damaged("text shorter than its length");
      unsigned char c = static_cast<unsigned char>(text[at]);
      if (c == '@') {
        if (n + 1 >= length || at + 1 >= text.size()) Damaged("escape cut off");
        char plain;
        switch (text[at + 1]) {
          case '&':
            plain = '\n';
            break;
          case '#':
            plain = '\r';
            break;
          case '*':
            plain = '>';
            break;
          case '!':
            plain = '<';
            break;
          case '$':
            plain = '@';
            break;
          default:
            Damaged("unknown escape");
        }
        out += plain;
        sum += static_cast<unsigned char>(plain);
        ++index;
        ++n;
        at += 2;
      } else if (c < 0x80) {
        uint8_t plain = tables[kTableOrder[index % 64] - '0'][c];
        out += static_cast<char>(plain);
        sum += plain;
        ++index;
        ++at;
      } else {
        // Characters beyond ASCII were never substituted; one counts as one of the length.
        size_t from = at;
        utf8::Next(text, at);
        out.append(text, from, at - from);
      }
    }
    if (ReadNumber(text, at) != sum) Damaged("checksum mismatch");
    at += 8;
    if (text.substr(at, kEnd.size()) != kEnd) Damaged("end marker missing");
    pos = at + kEnd.size();
  }
  out.append(text, pos, std::string_view::npos);
  return out;
}

}  // namespace fern::script
