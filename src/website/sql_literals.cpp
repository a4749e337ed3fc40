#include "website/sql_literals.h"

#include "host/cUtil.h"
#include "platform/vb.h"

namespace fern::website {

std::string StripBraces(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != '{' && c != '}') out += c;
  return out;
}

std::string SqlValue(const Variant& value) {
  if (value.IsNull()) return "NULL";
  const std::string text = cUtil::k(value);
  if (text.empty()) return "NULL";
  return "'" + PhpDoubleQuotedText(vb::Replace(text, "'", "''")) + "'";
}

std::optional<double> NumberOf(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return std::nullopt;
  double n = 0;
  if (value.IsString()) {
    if (!vb::ParseNumber(vb::Trim(value.str()), n)) return std::nullopt;
    return n;
  }
  try {
    return vb::CDbl(value);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::string SqlQuote(const std::string& text) {
  return "'" + PhpDoubleQuotedText(vb::Replace(text, "'", "")) + "'";
}

std::string SqlGuid(const std::string& text) { return SqlQuote(StripBraces(text)); }

std::string PhpDoubleQuotedText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '$':
        out += "\\$";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string PhpSingleQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\\' || c == '\'') out += '\\';
    out += c;
  }
  return out + "'";
}

}  // namespace fern::website
