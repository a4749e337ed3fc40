// Windows-1252 <-> UTF-8. Inside the program all text is UTF-8; files that outside readers take
// are Windows-1252.
#pragma once

#include <string>
#include <string_view>

namespace fern::cp1252 {

// Every byte maps: 0x80-0x9F as Windows maps them (0x80 -> U+20AC euro sign, ...); the five
// bytes Windows leaves undefined there (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 controls of
// the same number, as MultiByteToWideChar does, so a round trip keeps them.
std::string ToUtf8(std::string_view cp1252);

// Characters Windows-1252 cannot hold become "?"; so does each byte of invalid UTF-8.
std::string FromUtf8(std::string_view utf8);

// True when every character of the UTF-8 text has a Windows-1252 byte.
bool Representable(std::string_view utf8);

}  // namespace fern::cp1252
