// Document ownership, error capture and serialization shared by the DOM classes.
#include <libxml/xmlsave.h>
#include <libxml/xpathInternals.h>

#include <cstring>

#include "xml/xml_internal.h"

namespace fern::xml {

DocHolder::DocHolder(xmlDocPtr d) : doc(d) { doc->_private = this; }

DocHolder::~DocHolder() {
  for (xmlNodePtr n : orphans) xmlFreeNode(n);
  for (xmlNsPtr ns : looseNs) xmlFreeNs(ns);
  if (xpath) xmlXPathFreeContext(xpath);
  for (auto& [k, c] : compiled) xmlXPathFreeCompExpr(c);
  xmlFreeDoc(doc);
}

void DocHolder::Reset(xmlDocPtr d) {
  for (xmlNodePtr n : orphans) xmlFreeNode(n);
  orphans.clear();
  for (xmlNsPtr ns : looseNs) xmlFreeNs(ns);
  looseNs.clear();
  if (xpath) xmlXPathFreeContext(xpath);
  xpath = nullptr;
  xmlFreeDoc(doc);
  doc = d;
  doc->_private = this;
}

XmlDocumentPtr DocHolder::Face() {
  if (auto f = face.lock()) return f;
  XmlDocumentPtr f(new XmlDocument(shared_from_this()));
  face = f;
  return f;
}

XmlNodePtr DocHolder::Wrap(xmlNodePtr n) {
  if (!n) return nullptr;
  if (IsDocNode(n)) return Face();
  if (n->_private) {
    if (auto sp = static_cast<XmlNode*>(n->_private)->weak_from_this().lock())
      return std::static_pointer_cast<XmlNode>(sp);
  }
  return XmlNodePtr(new XmlNode(shared_from_this(), n));
}

bool SubtreeHasObject(xmlNodePtr root) {
  bool found = false;
  ForEachInSubtree(root, [&](xmlNodePtr n) { found = found || n->_private != nullptr; });
  return found;
}

void NormalizeDefaultNamespace(xmlNodePtr top, xmlNsPtr inherited) {
  struct Item {
    xmlNodePtr e;
    xmlNsPtr inScope;  // default declaration in scope; null or xmlns="" for none
  };
  auto href = [](xmlNsPtr ns) { return ns ? Str(ns->href) : std::string(); };
  std::vector<Item> stack{{top, inherited}};
  while (!stack.empty()) {
    auto [e, own] = stack.back();
    stack.pop_back();
    xmlNsPtr declared = nullptr;
    for (xmlNsPtr ns = e->nsDef; ns; ns = ns->next)
      if (!ns->prefix) declared = ns;
    if (declared) own = declared;
    const bool unprefixed =
        e->ns ? e->ns->prefix == nullptr : Str(e->name).find(':') == std::string::npos;
    if (unprefixed) {
      std::string need = href(e->ns);
      if (href(own) == need) {
        if (!need.empty()) e->ns = own;
      } else if (declared) {
        // Only an xmlns="" can give way: no element refers to it; its children get their own.
        if (!href(declared).empty() || need.empty())
          Fail("The element '" + Str(e->name) + "' would need two default namespaces.");
        xmlFree(const_cast<xmlChar*>(declared->href));
        declared->href = xmlStrdup(X(need));
        e->ns = declared;
      } else {
        own = xmlNewNs(e, X(need), nullptr);
        if (!need.empty()) e->ns = own;
      }
    }
    for (xmlNodePtr c = e->last; c; c = c->prev)
      if (c->type == XML_ELEMENT_NODE) stack.push_back({c, own});
  }
}

void DocHolder::Dispose(xmlNodePtr n) {
  if (SubtreeHasObject(n)) {
    if (n->type == XML_ELEMENT_NODE) xmlDOMWrapReconcileNamespaces(nullptr, n, 0);
    if (n->type == XML_ATTRIBUTE_NODE && n->ns) {
      // The declaration stays with the element; the detached attribute gets a copy of its own.
      xmlNsPtr copy = xmlNewNs(nullptr, n->ns->href, n->ns->prefix);
      looseNs.push_back(copy);
      n->ns = copy;
    }
    orphans.insert(n);
  } else {
    xmlFreeNode(n);
  }
}

void DocHolder::MaybeFreeOrphan(xmlNodePtr n) {
  auto it = orphans.find(n);
  if (it == orphans.end() || SubtreeHasObject(n)) return;
  orphans.erase(it);
  xmlFreeNode(n);
}

xmlXPathContextPtr DocHolder::XPath() {
  if (!xpath) {
    xpath = xmlXPathNewContext(doc);
    xpathNsDirty = true;
  }
  if (xpathNsDirty) {
    xmlXPathRegisteredNsCleanup(xpath);
    for (auto& [prefix, uri] : settings.bindings)
      if (!prefix.empty()) xmlXPathRegisterNs(xpath, X(prefix), X(uri));
    xpathNsDirty = false;
  }
  xpath->doc = doc;
  return xpath;
}

// "xmlns:imo='uri' xmlns='uri2'": quotes single or double, blanks between.
void DocHolder::SetSelectionNamespaces(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> out;
  size_t i = 0;
  auto bad = [&]() { Fail("SelectionNamespaces property value is invalid: " + std::string(text)); };
  while (true) {
    while (i < text.size() && IsSpace(text[i])) ++i;
    if (i >= text.size()) break;
    if (text.substr(i, 5) != "xmlns") bad();
    i += 5;
    std::string prefix;
    if (i < text.size() && text[i] == ':') {
      size_t s = ++i;
      while (i < text.size() && text[i] != '=' && !IsSpace(text[i])) ++i;
      prefix = std::string(text.substr(s, i - s));
      if (prefix.empty()) bad();
    }
    while (i < text.size() && IsSpace(text[i])) ++i;
    if (i >= text.size() || text[i] != '=') bad();
    ++i;
    while (i < text.size() && IsSpace(text[i])) ++i;
    if (i >= text.size() || (text[i] != '\'' && text[i] != '"')) bad();
    char q = text[i++];
    size_t e = text.find(q, i);
    if (e == std::string_view::npos) bad();
    out.emplace_back(prefix, std::string(text.substr(i, e - i)));
    i = e + 1;
  }
  settings.selectionNamespaces = std::string(text);
  settings.bindings = std::move(out);
  xpathNsDirty = true;
}

ErrorCapture::ErrorCapture()
    : previous_(xmlStructuredError), previousContext_(xmlStructuredErrorContext) {
  xmlSetStructuredErrorFunc(this, &ErrorCapture::Handler);
}
ErrorCapture::~ErrorCapture() { xmlSetStructuredErrorFunc(previousContext_, previous_); }

void ErrorCapture::Handler(void* self, xmlErrorPtr e) {
  if (!e || e->level < XML_ERR_ERROR) return;
  XmlIssue is;
  is.code = e->code;
  is.line = e->line;
  is.column = e->domain == XML_FROM_PARSER || e->domain == XML_FROM_NAMESPACE ? e->int2 : 0;
  is.message = e->message ? e->message : "unknown error";
  while (!is.message.empty() && IsSpace(is.message.back())) is.message.pop_back();
  static_cast<ErrorCapture*>(self)->errors.push_back(std::move(is));
}

std::string ErrorCapture::FirstTexts(size_t max) const {
  std::string out;
  for (size_t i = 0; i < errors.size() && i < max; ++i) {
    if (!out.empty()) out += "; ";
    out += errors[i].Text();
  }
  return out;
}

void Fail(std::string text) { throw HostError(kXmlError, std::move(text), "XML"); }

std::string Str(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : std::string(); }

std::string Serialize(xmlNodePtr n) {
  xmlOutputBufferPtr buf = xmlAllocOutputBuffer(nullptr);
  xmlNodeDumpOutput(buf, n->doc, n, 0, 0, "UTF-8");
  xmlOutputBufferFlush(buf);
  std::string out(reinterpret_cast<const char*>(xmlOutputBufferGetContent(buf)),
                  xmlOutputBufferGetSize(buf));
  xmlOutputBufferClose(buf);
  return out;
}

std::vector<std::pair<std::string, std::string>> ParsePseudoAttributes(std::string_view d) {
  std::vector<std::pair<std::string, std::string>> out;
  size_t i = 0;
  while (i < d.size()) {
    while (i < d.size() && IsSpace(d[i])) ++i;
    size_t s = i;
    while (i < d.size() && d[i] != '=' && !IsSpace(d[i])) ++i;
    std::string name(d.substr(s, i - s));
    while (i < d.size() && IsSpace(d[i])) ++i;
    if (name.empty() || i >= d.size() || d[i] != '=') break;
    ++i;
    while (i < d.size() && IsSpace(d[i])) ++i;
    if (i >= d.size() || (d[i] != '"' && d[i] != '\'')) break;
    char q = d[i++];
    size_t e = d.find(q, i);
    if (e == std::string_view::npos) break;
    out.emplace_back(name, std::string(d.substr(i, e - i)));
    i = e + 1;
  }
  return out;
}

std::string JoinPseudoAttributes(const std::vector<std::pair<std::string, std::string>>& attrs) {
  std::string out;
  for (auto& [k, v] : attrs) {
    if (!out.empty()) out += ' ';
    out += k + "=\"" + v + "\"";
  }
  return out;
}

void SerializeDocument(xmlDocPtr d, bool keepEncoding,
                       const std::function<void(std::string_view)>& sink) {
  for (xmlNodePtr c = d->children; c; c = c->next) {
    if (c->type == XML_PI_NODE && Str(c->name) == "xml") {
      std::string data = Str(c->content);
      if (!keepEncoding) {
        auto attrs = ParsePseudoAttributes(data);
        std::erase_if(attrs, [](auto& a) { return a.first == "encoding"; });
        data = JoinPseudoAttributes(attrs);
      }
      sink("<?xml " + data + "?>");
    } else {
      xmlOutputBufferPtr buf = xmlOutputBufferCreateIO(
          [](void* context, const char* bytes, int len) {
            (*static_cast<const std::function<void(std::string_view)>*>(context))(
                std::string_view(bytes, static_cast<size_t>(len)));
            return len;
          },
          nullptr, const_cast<std::function<void(std::string_view)>*>(&sink), nullptr);
      xmlNodeDumpOutput(buf, c->doc, c, 0, 0, "UTF-8");
      xmlOutputBufferClose(buf);
    }
    sink("\r\n");
  }
}

std::string SerializeDocument(xmlDocPtr d, bool keepEncoding) {
  std::string out;
  SerializeDocument(d, keepEncoding, [&out](std::string_view piece) { out += piece; });
  return out;
}

}  // namespace fern::xml

namespace fern {

std::string XmlParseError::Summary(size_t maxIssues) const {
  std::string out;
  for (size_t i = 0; i < all.size() && i < maxIssues; ++i) {
    if (!out.empty()) out += "; ";
    out += all[i].Text();
  }
  if (out.empty() && errorCode != 0) out = reason;
  return out;
}

std::string XmlIssue::Text() const {
  if (line > 0) return "line " + std::to_string(line) + ": " + message;
  return message;
}

}  // namespace fern
