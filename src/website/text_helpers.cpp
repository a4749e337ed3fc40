#include "website/text_helpers.h"

#include "host/cUtil.h"
#include "platform/cp1252.h"
#include "platform/utf8.h"
#include "platform/vb.h"

namespace fern::website {

std::string StringToHTML(const Variant& varFeld) {
  std::string text;
  try {
    text = vb::Trim(cUtil::k(varFeld));
  } catch (const std::exception&) {
    return {};
  }
  if (text.empty()) return text;
  text = vb::Replace(text, "\r\n", "<BR>");
  text = vb::Replace(text, std::string(1, '\x0B'), "");
  text = vb::Replace(text, std::string(1, '\x18'), "");
  text = vb::Replace(text, "'", "&#39;");
  return vb::Replace(text, "\"", "&#34;");
}

std::string ReplaceString(const std::string& strText, const std::string& strNew,
                          const std::string& noReplacement) {
  std::string out;
  for (size_t pos = 0; pos < strText.size();) {
    const size_t start = pos;
    const char32_t c = utf8::Next(strText, pos);
    const std::string ch = strText.substr(start, pos - start);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
        (!ch.empty() && noReplacement.find(ch) != std::string::npos)) {
      out += ch;
      continue;
    }
    switch (c) {
      case U'ß':
        out += "ss";
        break;
      case U'ä':
        out += "ae";
        break;
      case U'ö':
        out += "oe";
        break;
      case U'ü':
        out += "ue";
        break;
      case U'Ä':
        out += "Ae";
        break;
      case U'Ö':
        out += "Oe";
        break;
      case U'Ü':
        out += "Ue";
        break;
      default:
        out += strNew;
    }
  }
  return out;
}

std::string DestinationFile(const std::string& strFileName) {
  const size_t blank = strFileName.rfind(' ');
  return blank == std::string::npos ? std::string() : strFileName.substr(blank + 1);
}

std::string HtmlEscapeValue(const Variant& value) {
  if (value.IsNull()) return {};
  return HtmlEscapeChars(cUtil::k(value));
}

std::string HtmlEscapeChars(const std::string& text) {
  std::string out;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 20 || c == '\'' || c == '"')
      out += "&#" + std::to_string(c) + ";";
    else
      out += ch;
  }
  return out;
}

std::string SafeFileName(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == ' ')
      out += '_';
    else if (std::string_view("<>:\\/'\"|*?").find(c) == std::string_view::npos)
      out += c;
  }
  return vb::Replace(out, ".", "_");
}

}  // namespace fern::website
