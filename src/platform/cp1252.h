// Windows-1252 <-> UTF-8, line endings, and the case folding Windows applies to names.
// Inside the program all text is UTF-8; files that outside readers take are Windows-1252.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

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

namespace fern::text {

// Any mix of CR LF, LF and lone CR becomes CR LF.
std::string ToCrLf(std::string_view s);

// Splits at CR LF, LF or lone CR. A line break at the very end does not start another line;
// "" gives no lines.
std::vector<std::string> SplitLines(std::string_view s);

// Lower-case fold for names compared the way Windows compares file names, INI sections and
// keys: ASCII and the letters of Windows-1252 (Ä/ä, Š/š, Ÿ/ÿ, ...). Other characters stay.
std::string FoldCase(std::string_view utf8);
bool EqualsNoCase(std::string_view a, std::string_view b);

// Blanks and tabs off both ends.
std::string_view TrimBlanks(std::string_view s);

// A..Z to a..z and nothing else: for keywords and names that are ASCII by definition.
std::string LowerAscii(std::string_view s);

}  // namespace fern::text
