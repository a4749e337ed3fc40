#include "host/cKVHtml.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>
#include <strings.h>

#include "host/host_args.h"

namespace fern {
namespace {

bool IsBlock(const char* n) {
  static const char* blocks[] = {"p",  "div", "br", "li", "tr", "h1",    "h2",        "h3",
                                 "h4", "h5",  "h6", "ul", "ol", "table", "blockquote"};
  for (const char* b : blocks)
    if (strcasecmp(n, b) == 0) return true;
  return false;
}

void AppendText(std::string& out, const char* s) {
  for (; *s; ++s) {
    char c = *s;
    bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r';
    if (space) {
      if (!out.empty() && out.back() != ' ' && out.back() != '\n') out += ' ';
    } else {
      out += c;
    }
  }
}

void LineBreak(std::string& out) {
  while (!out.empty() && out.back() == ' ') out.pop_back();
  if (!out.empty() && out.back() != '\n') out += '\n';
}

void Walk(xmlNode* node, std::string& out) {
  for (xmlNode* n = node; n; n = n->next) {
    if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) {
      if (n->content) AppendText(out, reinterpret_cast<const char*>(n->content));
    } else if (n->type == XML_ELEMENT_NODE) {
      const char* tag = reinterpret_cast<const char*>(n->name);
      if (strcasecmp(tag, "script") == 0 || strcasecmp(tag, "style") == 0) continue;
      bool block = IsBlock(tag);
      if (block) LineBreak(out);
      Walk(n->children, out);
      if (block) LineBreak(out);
    }
  }
}

}  // namespace

std::string cKVHtml::ExtractPlainText(const std::string& html) {
  if (html.empty()) return {};
  htmlDocPtr doc = htmlReadMemory(
      html.data(), static_cast<int>(html.size()), nullptr, "UTF-8",
      HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
  if (!doc) return html;
  std::string flat;
  Walk(xmlDocGetRootElement(doc), flat);
  xmlFreeDoc(doc);

  std::string out;
  size_t start = flat.find_first_not_of(" \n");
  size_t end = flat.find_last_not_of(" \n");
  if (start == std::string::npos) return {};
  for (size_t i = start; i <= end; ++i) {
    if (flat[i] == '\n') {
      while (!out.empty() && out.back() == ' ') out.pop_back();
      out += "\r\n";
      while (i + 1 <= end && flat[i + 1] == ' ') ++i;
    } else {
      out += flat[i];
    }
  }
  return out;
}

Variant cKVHtml::Invoke(std::string_view name, unsigned, std::span<Variant> args) {
  if (NameIs(name, "ExtractPlainText")) {
    CheckArgCount(args, 1, 1, name);
    return Variant(ExtractPlainText(host::ArgStr(args, 0)));
  }
  ThrowNoMember(name);
}

}  // namespace fern
