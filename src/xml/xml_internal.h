// Shared internals of the DOM layer: the document holder that owns a libxml2 tree and the
// bookkeeping that keeps node objects and libxml2 memory in step.
#pragma once

#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "xml/xml_dom.h"

namespace fern::xml {

struct Settings {
  std::string selectionNamespaces;
  std::vector<std::pair<std::string, std::string>> bindings;  // prefix -> URI ("" = default)
  std::string selectionLanguage = "XPath";
  std::map<std::string, Variant, std::less<>> other;  // keyed by lower-cased name
  bool async = true;
  bool validateOnParse = true;
  bool preserveWhiteSpace = false;
  bool resolveExternals = false;
  std::shared_ptr<XmlSchemaCache> schemas;
};

// Owns one libxml2 document and every node detached from it. doc->_private points here;
// node->_private points to the node's XmlNode object while one exists.
struct DocHolder : std::enable_shared_from_this<DocHolder> {
  explicit DocHolder(xmlDocPtr d);
  ~DocHolder();
  DocHolder(const DocHolder&) = delete;
  DocHolder& operator=(const DocHolder&) = delete;

  // Frees the current tree and takes `d` instead (only when no node object is left).
  void Reset(xmlDocPtr d);
  XmlDocumentPtr Face();
  XmlNodePtr Wrap(xmlNodePtr n);
  // A node left the tree: it is kept until re-inserted or until nothing refers to it.
  void AddOrphan(xmlNodePtr n) { orphans.insert(n); }
  void Dispose(xmlNodePtr n);          // unlinked node nobody may need any more
  void MaybeFreeOrphan(xmlNodePtr n);  // its last object went away
  xmlXPathContextPtr XPath();
  void SetSelectionNamespaces(std::string_view text);  // throws on bad syntax

  xmlDocPtr doc;
  Settings settings;
  std::shared_ptr<XmlParseError> parseError;
  std::unordered_set<xmlNodePtr> orphans;
  std::vector<xmlNsPtr> looseNs;  // namespaces of detached attributes
  std::weak_ptr<XmlDocument> face;
  xmlXPathContextPtr xpath = nullptr;
  bool xpathNsDirty = true;
  std::unordered_map<std::string, xmlXPathCompExprPtr> compiled;
};

inline DocHolder* HolderOf(xmlNodePtr n) {
  return n && n->doc ? static_cast<DocHolder*>(n->doc->_private) : nullptr;
}

inline bool IsDocNode(const xmlNode* n) {
  return n->type == XML_DOCUMENT_NODE || n->type == XML_HTML_DOCUMENT_NODE;
}

// Visits the node, its attributes and their text, and its descendants, depth first.
template <class F>
void ForEachInSubtree(xmlNodePtr root, F&& f) {
  std::vector<xmlNodePtr> stack{root};
  while (!stack.empty()) {
    xmlNodePtr n = stack.back();
    stack.pop_back();
    f(n);
    if (n->type == XML_ENTITY_REF_NODE) continue;  // children belong to the entity
    if (n->type == XML_ELEMENT_NODE)
      for (xmlAttrPtr a = n->properties; a; a = a->next)
        stack.push_back(reinterpret_cast<xmlNodePtr>(a));
    for (xmlNodePtr c = n->last; c; c = c->prev) stack.push_back(c);
  }
}

bool SubtreeHasObject(xmlNodePtr root);

// Unprefixed element names read back in the namespace they have: where the default namespace in
// scope (`inherited` above `top`) differs from an element's own, the element declares its own
// (xmlns="uri", or xmlns="" for no namespace), and every unprefixed element refers to the
// declaration in scope. Throws HostError kXmlError when an element would need two different
// default declarations.
void NormalizeDefaultNamespace(xmlNodePtr top, xmlNsPtr inherited);

// Collects libxml2 errors while alive (libxml2's handler is per thread; the program has one).
class ErrorCapture {
 public:
  ErrorCapture();
  ~ErrorCapture();
  ErrorCapture(const ErrorCapture&) = delete;
  ErrorCapture& operator=(const ErrorCapture&) = delete;
  std::vector<XmlIssue> errors;  // level error and fatal only
  static void Handler(void* self, xmlErrorPtr e);
  std::string FirstTexts(size_t max) const;

 private:
  xmlStructuredErrorFunc previous_;
  void* previousContext_;
};

[[noreturn]] void Fail(std::string text);

// White space as XML counts it (S in the grammar).
inline bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
inline std::string TrimSpace(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return std::string(s);
}

std::string Str(const xmlChar* s);
inline const xmlChar* X(const std::string& s) {
  return reinterpret_cast<const xmlChar*>(s.c_str());
}
inline const xmlChar* X(const char* s) { return reinterpret_cast<const xmlChar*>(s); }

// Serializes one node as UTF-8 (no declaration handling).
std::string Serialize(xmlNodePtr n);
// The document's top-level nodes, CR LF separated; the declaration's encoding kept or dropped.
std::string SerializeDocument(xmlDocPtr d, bool keepEncoding);
// The same, handed to `sink` piece by piece, so a large document is never held as one text.
void SerializeDocument(xmlDocPtr d, bool keepEncoding,
                       const std::function<void(std::string_view)>& sink);

// Pseudo-attributes of a declaration's data ("version="1.0" encoding="UTF-8"").
std::vector<std::pair<std::string, std::string>> ParsePseudoAttributes(std::string_view data);
std::string JoinPseudoAttributes(const std::vector<std::pair<std::string, std::string>>& attrs);

}  // namespace fern::xml
