// The text operations the web-site generators share: a database value as HTML text for the
// site, identifiers made of letters, digits and "_" (column and file names), the last word of a
// status text, and values with control characters and quotes as numeric character references.
// None keeps state; none fails.
#pragma once

#include <string>

#include "platform/variant.h"

namespace fern::website {

// Trimmed text of the value (Null: ""); CR LF becomes "<BR>", characters 11 and 24 go,
// "'" and '"' become "&#39;" and "&#34;". "<", ">" and "&" stay, so HTML in a value survives.
std::string StringToHTML(const Variant& varFeld);

// Letters A-Z/a-z, digits, "_" and the characters of `noReplacement` stay; German umlauts and
// "ß" are spelled out ("ä" -> "ae", "Ü" -> "Ue", "ß" -> "ss"); every other character (one per
// code point) becomes `strNew`.
std::string ReplaceString(const std::string& strText, const std::string& strNew,
                          const std::string& noReplacement = {});

// The text after the last blank; "" when there is none.
std::string DestinationFile(const std::string& strFileName);

// Null: ""; else the value's text through HtmlEscapeChars.
std::string HtmlEscapeValue(const Variant& value);
// Characters below code 20, "'" and '"' as "&#<code>;"; everything else unchanged.
std::string HtmlEscapeChars(const std::string& text);

// A portal name as a file-name part: blanks become "_", < > : \ / ' " | * ? go, "." becomes "_".
std::string SafeFileName(const std::string& text);

}  // namespace fern::website
