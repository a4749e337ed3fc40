// Small text helpers shared by every folder: line endings, case folding, trimming.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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

// Blanks and tabs off both ends, as the host trims INI values and switches.
std::string_view TrimBlanks(std::string_view s);
// Only spaces off both ends: tabs are part of a command-line value or an FTP command.
std::string_view TrimSpaces(std::string_view s);
// All ASCII white space (blank, tab, CR, LF, form feed, vertical tab) off both ends, as SQL
// and filter texts are trimmed.
std::string_view TrimWhiteSpace(std::string_view s);

// The value of a hexadecimal digit, -1 for any other character.
int HexValue(char c);
// A..Z to a..z (a..z to A..Z) and nothing else: for keywords and names that are ASCII by
// definition.
std::string LowerAscii(std::string_view s);
std::string UpperAscii(std::string_view s);
// Equal when only the case of A..Z differs; other bytes must match exactly.
bool EqualsNoCaseAscii(std::string_view a, std::string_view b);
bool IsAscii(std::string_view s);
// Each `what` in `text`, left to right, replaced by `with`, in one pass (what `with` brings is not
// searched again); `text` as it is when `what` is empty.
std::string ReplaceAll(std::string_view text, std::string_view what, std::string_view with);

}  // namespace fern::text
