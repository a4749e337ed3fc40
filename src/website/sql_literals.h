// SQL literals for the import scripts. Every statement stands inside a PHP double-quoted string
// (import_writer.h), so a literal is escaped twice: for SQL (apostrophes doubled; the session
// runs with NO_BACKSLASH_ESCAPES, so "\" is an ordinary character there) and then for PHP ("\"
// and "$" escaped, CR and LF written as \r and \n), so no value can close the literal or make
// PHP interpolate a variable. Ordinary text comes out unchanged. Double quotes are left to the
// writer, which turns every one into a blank.
//
// Host-database queries quote with cUtil::SqlStr, never with these.
#pragma once

#include <optional>
#include <string>

#include "platform/variant.h"

namespace fern::website {

// The text with every "{" and "}" removed.
std::string StripBraces(const std::string& text);

// "NULL" for Null or ""; otherwise the value's text in apostrophes, apostrophes doubled.
std::string SqlValue(const Variant& value);
// The text in apostrophes with every apostrophe removed.
std::string SqlQuote(const std::string& text);
// A host key as a bare GUID literal: SqlQuote(StripBraces(text)).
std::string SqlGuid(const std::string& text);

// A host value as a number: text is read in the host's form (trimmed), other values converted;
// nothing for Null, Empty or what is no number.
std::optional<double> NumberOf(const Variant& value);

// Text that goes verbatim inside a PHP "..." literal: "\" -> "\\", "$" -> "\$", CR -> "\r",
// LF -> "\n".
std::string PhpDoubleQuotedText(const std::string& text);
// A PHP '...' literal of the text: only "\" and "'" are escaped.
std::string PhpSingleQuoted(const std::string& text);

}  // namespace fern::website
