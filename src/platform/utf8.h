// Decoding and encoding UTF-8 one code point at a time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace fern::utf8 {

inline constexpr char32_t kReplacement = 0xFFFD;

// The well-formed sequence starting at s[pos]: its length in bytes (1 to 4), with the code point
// in `cp`; 0 when none starts there (a stray or truncated byte, an overlong form, a surrogate,
// a value past U+10FFFF), leaving `cp` as it was and each caller its own way with such bytes.
// `pos` < s.size().
size_t Decode(std::string_view s, size_t pos, char32_t& cp);

// Decodes the code point at `pos` and advances `pos` past it. Where Decode finds no sequence
// the result is kReplacement and `pos` advances one byte, so every input terminates.
char32_t Next(std::string_view s, size_t& pos);
void Append(std::string& out, char32_t cp);
bool IsValid(std::string_view s);

}  // namespace fern::utf8
