// Node access and tree changes.
#include <libxml/xpathInternals.h>

#include <algorithm>

#include "xml/xml_internal.h"

namespace fern {

using xml::DocHolder;
using xml::Fail;
using xml::Str;
using xml::X;

namespace {

constexpr const char* kXmlnsUri = "http://www.w3.org/2000/xmlns/";

std::pair<std::string, std::string> SplitQName(std::string_view q) {
  size_t c = q.find(':');
  if (c == std::string_view::npos) return {std::string(), std::string(q)};
  return {std::string(q.substr(0, c)), std::string(q.substr(c + 1))};
}

std::string QName(xmlNodePtr n) {
  std::string local = Str(n->name);
  if ((n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE) && n->ns && n->ns->prefix)
    return Str(n->ns->prefix) + ":" + local;
  return local;
}

xmlAttrPtr FindAttr(xmlNodePtr e, std::string_view qname) {
  if (e->type != XML_ELEMENT_NODE) return nullptr;
  for (xmlAttrPtr a = e->properties; a; a = a->next)
    if (QName(reinterpret_cast<xmlNodePtr>(a)) == qname) return a;
  return nullptr;
}

std::string AttrValue(xmlAttrPtr a) {
  xmlChar* v = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(a));
  std::string s = Str(v);
  xmlFree(v);
  return s;
}

void CollectText(xmlNodePtr n, std::string& out) {
  for (xmlNodePtr c = n->children; c; c = c->next) {
    switch (c->type) {
      case XML_TEXT_NODE:
      case XML_CDATA_SECTION_NODE:
        out += Str(c->content);
        break;
      case XML_ELEMENT_NODE:
        CollectText(c, out);
        break;
      case XML_ENTITY_REF_NODE: {
        xmlChar* v = xmlNodeGetContent(c);
        out += Str(v);
        xmlFree(v);
        break;
      }
      default:
        break;
    }
  }
}

// Namespace declaration named by an attribute name ("xmlns" or "xmlns:p"); `prefix` set.
bool IsNsAttrName(std::string_view name, std::string& prefix) {
  if (name == "xmlns") {
    prefix.clear();
    return true;
  }
  if (name.starts_with("xmlns:")) {
    prefix = std::string(name.substr(6));
    return true;
  }
  return false;
}

xmlNsPtr FindNsDef(xmlNodePtr e, const std::string& prefix) {
  for (xmlNsPtr ns = e->nsDef; ns; ns = ns->next)
    if (Str(ns->prefix) == prefix) return ns;
  return nullptr;
}

bool NsUsedBelow(xmlNodePtr e, xmlNsPtr ns) {
  bool used = false;
  xml::ForEachInSubtree(e, [&](xmlNodePtr n) {
    if ((n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE) && n->ns == ns) used = true;
  });
  return used;
}

void SetPiPseudo(xmlNodePtr pi, std::string_view name, std::string_view value) {
  auto attrs = xml::ParsePseudoAttributes(Str(pi->content));
  auto it = std::find_if(attrs.begin(), attrs.end(), [&](auto& a) { return a.first == name; });
  if (it != attrs.end())
    it->second = std::string(value);
  else
    attrs.emplace_back(std::string(name), std::string(value));
  xmlNodeSetContent(pi, X(xml::JoinPseudoAttributes(attrs)));
}

bool IsXmlDecl(xmlNodePtr n) { return n->type == XML_PI_NODE && Str(n->name) == "xml"; }

// Children replaced by one text node holding `v` unparsed (attributes keep one even when empty).
void ReplaceWithText(DocHolder& h, xmlNodePtr n, const std::string& v) {
  while (xmlNodePtr c = n->children) {
    xmlUnlinkNode(c);
    h.Dispose(c);
  }
  if (!v.empty() || n->type == XML_ATTRIBUTE_NODE) {
    xmlNodePtr t = xmlNewDocText(n->doc, X(v));
    t->parent = n;
    n->children = n->last = t;
  }
}

}  // namespace

XmlNode::XmlNode(std::shared_ptr<DocHolder> holder, void* node)
    : holder_(std::move(holder)), node_(static_cast<xmlNodePtr>(node)) {
  if (!xml::IsDocNode(node_)) node_->_private = this;
}

XmlNode::~XmlNode() {
  if (!node_ || xml::IsDocNode(node_)) return;
  if (node_->_private == this) node_->_private = nullptr;
  holder_->MaybeFreeOrphan(node_);
}

XmlNodeType XmlNode::nodeType() const {
  switch (node_->type) {
    case XML_ELEMENT_NODE:
      return XmlNodeType::Element;
    case XML_ATTRIBUTE_NODE:
      return XmlNodeType::Attribute;
    case XML_TEXT_NODE:
      return XmlNodeType::Text;
    case XML_CDATA_SECTION_NODE:
      return XmlNodeType::CData;
    case XML_ENTITY_REF_NODE:
      return XmlNodeType::EntityReference;
    case XML_ENTITY_NODE:
    case XML_ENTITY_DECL:
      return XmlNodeType::Entity;
    case XML_PI_NODE:
      return XmlNodeType::ProcessingInstruction;
    case XML_COMMENT_NODE:
      return XmlNodeType::Comment;
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE:
      return XmlNodeType::Document;
    case XML_DOCUMENT_TYPE_NODE:
    case XML_DTD_NODE:
      return XmlNodeType::DocumentType;
    case XML_DOCUMENT_FRAG_NODE:
      return XmlNodeType::DocumentFragment;
    case XML_NOTATION_NODE:
      return XmlNodeType::Notation;
    default:
      return XmlNodeType::Element;
  }
}

std::string XmlNode::nodeTypeString() const {
  static const char* names[] = {"",
                                "element",
                                "attribute",
                                "text",
                                "cdatasection",
                                "entityreference",
                                "entity",
                                "processinginstruction",
                                "comment",
                                "document",
                                "documenttype",
                                "documentfragment",
                                "notation"};
  return names[static_cast<int>(nodeType())];
}

std::string XmlNode::nodeName() const {
  switch (node_->type) {
    case XML_TEXT_NODE:
      return "#text";
    case XML_CDATA_SECTION_NODE:
      return "#cdata-section";
    case XML_COMMENT_NODE:
      return "#comment";
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE:
      return "#document";
    case XML_DOCUMENT_FRAG_NODE:
      return "#document-fragment";
    default:
      return QName(node_);
  }
}

std::string XmlNode::baseName() const {
  switch (node_->type) {
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE: {
      std::string n = Str(node_->name);
      if (!node_->ns) return SplitQName(n).second;  // "p:x" created without a namespace
      return n;
    }
    case XML_PI_NODE:
    case XML_ENTITY_REF_NODE:
    case XML_DTD_NODE:
      return Str(node_->name);
    default:
      return "";
  }
}

std::string XmlNode::prefix() const {
  if (node_->type != XML_ELEMENT_NODE && node_->type != XML_ATTRIBUTE_NODE) return "";
  if (node_->ns) return Str(node_->ns->prefix);
  return SplitQName(Str(node_->name)).first;
}

std::string XmlNode::namespaceURI() const {
  if (node_->type != XML_ELEMENT_NODE && node_->type != XML_ATTRIBUTE_NODE) return "";
  if (node_->ns) return Str(node_->ns->href);
  if (node_->type == XML_ATTRIBUTE_NODE) {
    std::string p;
    if (IsNsAttrName(Str(node_->name), p)) return kXmlnsUri;
  }
  return "";
}

Variant XmlNode::nodeValue() const {
  switch (node_->type) {
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
      return Variant(Str(node_->content));
    case XML_ATTRIBUTE_NODE:
      return Variant(AttrValue(reinterpret_cast<xmlAttrPtr>(node_)));
    default:
      return Variant::Null();
  }
}

void XmlNode::setNodeValue(std::string_view value) {
  switch (node_->type) {
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
    case XML_ATTRIBUTE_NODE:
      setText(value);
      return;
    default:
      Fail("This operation can not be performed with a node of type " + nodeTypeString() + ".");
  }
}

std::string XmlNode::text() const {
  switch (node_->type) {
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
      return xml::TrimSpace(Str(node_->content));
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
      return Str(node_->content);
    case XML_ATTRIBUTE_NODE:
      return AttrValue(reinterpret_cast<xmlAttrPtr>(node_));
    default: {
      std::string out;
      CollectText(node_, out);
      return xml::TrimSpace(out);
    }
  }
}

void XmlNode::setText(std::string_view value) {
  std::string v(value);
  switch (node_->type) {
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
      // Raw content: these node types never interpret entities.
      xmlNodeSetContent(node_, X(v));
      break;
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE:
    case XML_DOCUMENT_FRAG_NODE: {
      ReplaceWithText(*holder_, node_, v);
      break;
    }
    default:
      Fail("This operation can not be performed with a node of type " + nodeTypeString() + ".");
  }
}

std::string XmlNode::xml() const {
  switch (node_->type) {
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE:
      return xml::SerializeDocument(holder_->doc, false);
    case XML_ATTRIBUTE_NODE: {
      std::string v = AttrValue(reinterpret_cast<xmlAttrPtr>(node_)), out = nodeName() + "=\"";
      for (char c : v) {
        switch (c) {
          case '&':
            out += "&amp;";
            break;
          case '<':
            out += "&lt;";
            break;
          case '>':
            out += "&gt;";
            break;
          case '"':
            out += "&quot;";
            break;
          case '\n':
            out += "&#10;";
            break;
          case '\r':
            out += "&#13;";
            break;
          case '\t':
            out += "&#9;";
            break;
          default:
            out += c;
        }
      }
      return out + "\"";
    }
    case XML_PI_NODE:
      if (IsXmlDecl(node_)) return "<?xml " + Str(node_->content) + "?>";
      return xml::Serialize(node_);
    case XML_ELEMENT_NODE:
      if (node_->parent && node_->parent->type == XML_ELEMENT_NODE) {
        // A copy of its own carries the declarations the node relies on from its ancestors.
        xmlDocPtr tmp = xmlNewDoc(X("1.0"));
        xmlNodePtr copy = xmlDocCopyNode(node_, tmp, 1);
        xmlDocSetRootElement(tmp, copy);
        std::string out = xml::Serialize(copy);
        xmlFreeDoc(tmp);
        return out;
      }
      return xml::Serialize(node_);
    default:
      return xml::Serialize(node_);
  }
}

std::optional<std::string> XmlNode::getAttribute(std::string_view name) const {
  if (IsXmlDecl(node_)) {
    for (auto& [k, v] : xml::ParsePseudoAttributes(Str(node_->content)))
      if (k == name) return v;
    return std::nullopt;
  }
  if (node_->type != XML_ELEMENT_NODE) return std::nullopt;
  std::string prefix;
  if (IsNsAttrName(name, prefix)) {
    if (xmlNsPtr ns = FindNsDef(node_, prefix)) return Str(ns->href);
    return std::nullopt;
  }
  if (xmlAttrPtr a = FindAttr(node_, name)) return AttrValue(a);
  return std::nullopt;
}

void XmlNode::setAttribute(std::string_view name, std::string_view value) {
  if (IsXmlDecl(node_)) {
    SetPiPseudo(node_, name, value);
    return;
  }
  if (node_->type != XML_ELEMENT_NODE)
    Fail("setAttribute needs an element, not a node of type " + nodeTypeString() + ".");
  std::string v(value), prefix;
  if (IsNsAttrName(name, prefix)) {
    if (xmlNsPtr ns = FindNsDef(node_, prefix)) {
      if (Str(ns->href) != v) {
        if (NsUsedBelow(node_, ns))
          Fail("The namespace prefix '" + prefix + "' is already bound to '" + Str(ns->href) +
               "'.");
        xmlFree(const_cast<xmlChar*>(ns->href));
        ns->href = xmlStrdup(X(v));
      }
    } else {
      xmlNsPtr added = xmlNewNs(node_, X(v), prefix.empty() ? nullptr : X(prefix));
      // Attributes named "p:x" before "xmlns:p" was declared join the namespace now.
      for (xmlAttrPtr a = node_->properties; added && a; a = a->next) {
        auto [p, local] = SplitQName(Str(a->name));
        if (!a->ns && !prefix.empty() && p == prefix) {
          xmlNodeSetName(reinterpret_cast<xmlNodePtr>(a), X(local));
          a->ns = added;
        }
      }
      if (added && prefix.empty() && !node_->ns && Str(node_->name).find(':') == std::string::npos)
        node_->ns = added;
    }
    return;
  }
  xmlAttrPtr a = FindAttr(node_, name);
  if (!a) {
    auto [p, local] = SplitQName(name);
    xmlNsPtr ns = p.empty() ? nullptr : xmlSearchNs(node_->doc, node_, X(p));
    a = ns ? xmlNewNsProp(node_, ns, X(local), nullptr)
           : xmlNewNsProp(node_, nullptr, X(std::string(name)), nullptr);
  }
  ReplaceWithText(*holder_, reinterpret_cast<xmlNodePtr>(a), v);
}

void XmlNode::removeAttribute(std::string_view name) {
  if (node_->type != XML_ELEMENT_NODE) return;
  std::string prefix;
  if (IsNsAttrName(name, prefix)) {
    // A declaration that elements or attributes still use stays: writing them needs it.
    xmlNsPtr prev = nullptr;
    for (xmlNsPtr ns = node_->nsDef; ns; prev = ns, ns = ns->next) {
      if (Str(ns->prefix) != prefix) continue;
      if (NsUsedBelow(node_, ns)) return;
      (prev ? prev->next : node_->nsDef) = ns->next;
      ns->next = nullptr;
      xmlFreeNs(ns);
      return;
    }
    return;
  }
  if (xmlAttrPtr a = FindAttr(node_, name)) {
    xmlUnlinkNode(reinterpret_cast<xmlNodePtr>(a));
    holder_->Dispose(reinterpret_cast<xmlNodePtr>(a));
  }
}

std::shared_ptr<XmlNamedNodeMap> XmlNode::attributes() {
  if (node_->type != XML_ELEMENT_NODE && !IsXmlDecl(node_)) return nullptr;
  return std::make_shared<XmlNamedNodeMap>(std::static_pointer_cast<XmlNode>(shared_from_this()));
}

XmlNodeListPtr XmlNode::childNodes() {
  std::vector<XmlNodePtr> items;
  if (node_->type != XML_ENTITY_REF_NODE)
    for (xmlNodePtr c = node_->children; c; c = c->next) items.push_back(holder_->Wrap(c));
  return std::make_shared<XmlNodeList>(std::move(items));
}

XmlNodePtr XmlNode::firstChild() const {
  return node_->type == XML_ENTITY_REF_NODE ? nullptr : holder_->Wrap(node_->children);
}
XmlNodePtr XmlNode::lastChild() const {
  return node_->type == XML_ENTITY_REF_NODE ? nullptr : holder_->Wrap(node_->last);
}
XmlNodePtr XmlNode::parentNode() const {
  if (node_->type == XML_ATTRIBUTE_NODE) return nullptr;
  return holder_->Wrap(node_->parent);
}
XmlNodePtr XmlNode::nextSibling() const {
  return node_->type == XML_ATTRIBUTE_NODE ? nullptr : holder_->Wrap(node_->next);
}
XmlNodePtr XmlNode::previousSibling() const {
  return node_->type == XML_ATTRIBUTE_NODE ? nullptr : holder_->Wrap(node_->prev);
}
XmlDocumentPtr XmlNode::ownerDocument() const {
  if (xml::IsDocNode(node_)) return nullptr;
  return holder_->Face();
}
bool XmlNode::hasChildNodes() const {
  return node_->children != nullptr && node_->type != XML_ENTITY_REF_NODE;
}

XmlNodePtr XmlNode::appendChild(const XmlNodePtr& newChild) {
  return insertBefore(newChild, nullptr);
}

XmlNodePtr XmlNode::insertBefore(const XmlNodePtr& newChild, const XmlNodePtr& refChild) {
  if (!newChild)
    throw HostError(err::kObjectNotSet, "Object variable or With block variable not set");
  xmlNodePtr p = node_, n = newChild->node_, ref = refChild ? refChild->node_ : nullptr;
  bool toDoc = xml::IsDocNode(p);
  if (p->type != XML_ELEMENT_NODE && p->type != XML_DOCUMENT_FRAG_NODE && !toDoc)
    Fail("This operation can not be performed with a node of type " + nodeTypeString() + ".");
  if (ref && ref->parent != p)
    Fail("Insert position node must be a child of the node to insert under.");
  if (n == ref) return newChild;
  switch (n->type) {
    case XML_ATTRIBUTE_NODE:
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE:
    case XML_DTD_NODE:
      Fail("Node of type " + newChild->nodeTypeString() + " can not be inserted here.");
    default:
      break;
  }
  for (xmlNodePtr a = p; a; a = a->parent)
    if (a == n) Fail("The new child node is the node itself or one of its ancestors.");
  if (toDoc) {
    if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE)
      Fail("Text can not be inserted at the top level of a document.");
    if (n->type == XML_ELEMENT_NODE)
      for (xmlNodePtr c = p->children; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE && c != n)
          Fail("Only one top level element is allowed in an XML document.");
  }
  if (n->type == XML_DOCUMENT_FRAG_NODE) {
    // The fragment's children move in order; the fragment stays, empty.
    while (n->children) insertBefore(newChild->holder_->Wrap(n->children), refChild);
    return newChild;
  }

  std::shared_ptr<DocHolder> src = newChild->holder_;  // kept alive to the end
  if (n->parent) {
    xmlUnlinkNode(n);
  } else {
    src->orphans.erase(n);
  }
  if (src != holder_) {
    xmlDOMWrapAdoptNode(nullptr, src->doc, n, holder_->doc,
                        p->type == XML_ELEMENT_NODE ? p : nullptr, 0);
    xml::ForEachInSubtree(n, [&](xmlNodePtr x) {
      if (x->_private) static_cast<XmlNode*>(x->_private)->holder_ = holder_;
    });
  }
  n->parent = p;
  if (!ref) {
    n->prev = p->last;
    n->next = nullptr;
    if (p->last)
      p->last->next = n;
    else
      p->children = n;
    p->last = n;
  } else {
    n->next = ref;
    n->prev = ref->prev;
    if (ref->prev)
      ref->prev->next = n;
    else
      p->children = n;
    ref->prev = n;
  }
  if (n->type == XML_ELEMENT_NODE) {
    xml::NormalizeDefaultNamespace(n, toDoc ? nullptr : xmlSearchNs(n->doc, p, nullptr));
    // Declarations the new place already has in scope are dropped from the inserted subtree
    // (after the step above, which may shadow the inherited default namespace).
    xmlDOMWrapReconcileNamespaces(nullptr, n, 1 /* remove redundant declarations */);
  }
  return newChild;
}

XmlNodePtr XmlNode::removeChild(const XmlNodePtr& child) {
  if (!child) throw HostError(err::kObjectNotSet, "Object variable or With block variable not set");
  xmlNodePtr c = child->node_;
  if (c->parent != node_ || c->type == XML_ATTRIBUTE_NODE)
    Fail("The node to be removed is not a child of this node.");
  xmlUnlinkNode(c);
  if (c->type == XML_ELEMENT_NODE) xmlDOMWrapReconcileNamespaces(nullptr, c, 0);
  holder_->AddOrphan(c);
  return child;
}

XmlNodePtr XmlNode::replaceChild(const XmlNodePtr& newChild, const XmlNodePtr& oldChild) {
  if (!newChild || !oldChild)
    throw HostError(err::kObjectNotSet, "Object variable or With block variable not set");
  if (oldChild->node_->parent != node_)
    Fail("The node to be replaced is not a child of this node.");
  if (newChild == oldChild) return oldChild;
  // Out first, so a document's root element can be replaced by another element.
  XmlNodePtr next = holder_->Wrap(oldChild->node_->next);
  removeChild(oldChild);
  try {
    insertBefore(newChild, next);
  } catch (...) {
    insertBefore(oldChild, next);
    throw;
  }
  return oldChild;
}

XmlNodePtr XmlNode::cloneNode(bool deep) const {
  if (xml::IsDocNode(node_)) {
    xmlDocPtr copy = xmlCopyDoc(holder_->doc, deep ? 1 : 0);
    xml::ForEachInSubtree(reinterpret_cast<xmlNodePtr>(copy),
                          [](xmlNodePtr x) { x->_private = nullptr; });
    auto h = std::make_shared<DocHolder>(copy);
    h->settings = holder_->settings;
    return h->Face();
  }
  xmlNodePtr copy = xmlDocCopyNode(node_, holder_->doc, deep ? 1 : 2);
  if (!copy) Fail("The node can not be copied.");
  xml::ForEachInSubtree(copy, [](xmlNodePtr x) { x->_private = nullptr; });
  holder_->AddOrphan(copy);
  return holder_->Wrap(copy);
}

namespace {

xmlXPathObjectPtr EvalXPath(DocHolder& h, xmlNodePtr ctxNode, std::string_view expr,
                            const XPathVars& vars) {
  std::string key(expr);
  xml::ErrorCapture cap;
  xmlXPathContextPtr ctx = h.XPath();
  xmlXPathCompExprPtr comp;
  if (auto it = h.compiled.find(key); it != h.compiled.end()) {
    comp = it->second;
  } else {
    comp = xmlXPathCtxtCompile(ctx, X(key));
    if (!comp) Fail("Invalid XPath expression '" + std::string(expr) + "': " + cap.FirstTexts(1));
    if (h.compiled.size() > 2000) {
      for (auto& [k, c] : h.compiled) xmlXPathFreeCompExpr(c);
      h.compiled.clear();
    }
    h.compiled.emplace(key, comp);
  }
  ctx->node = ctxNode;
  for (auto& [name, value] : vars)
    xmlXPathRegisterVariable(ctx, X(name), xmlXPathNewString(X(value)));
  xmlXPathObjectPtr res = xmlXPathCompiledEval(comp, ctx);
  if (!vars.empty()) xmlXPathRegisteredVariablesCleanup(ctx);
  ctx->node = nullptr;
  if (!res) Fail("XPath expression '" + std::string(expr) + "' failed: " + cap.FirstTexts(1));
  if (res->type != XPATH_NODESET) {
    xmlXPathFreeObject(res);
    Fail("XPath expression '" + std::string(expr) + "' does not return a DOM node.");
  }
  return res;
}

}  // namespace

XmlNodeListPtr XmlNode::selectNodes(std::string_view xpath, const XPathVars& vars) {
  std::shared_ptr<DocHolder> h = holder_;
  xmlXPathObjectPtr res = EvalXPath(*h, node_, xpath, vars);
  std::vector<XmlNodePtr> items;
  if (xmlNodeSetPtr set = res->nodesetval) {
    items.reserve(set->nodeNr);
    for (int i = 0; i < set->nodeNr; ++i)
      if (set->nodeTab[i]->type != XML_NAMESPACE_DECL) items.push_back(h->Wrap(set->nodeTab[i]));
  }
  xmlXPathFreeObject(res);
  return std::make_shared<XmlNodeList>(std::move(items));
}

XmlNodePtr XmlNode::selectSingleNode(std::string_view xpath, const XPathVars& vars) {
  std::shared_ptr<DocHolder> h = holder_;
  xmlXPathObjectPtr res = EvalXPath(*h, node_, xpath, vars);
  XmlNodePtr out;
  if (xmlNodeSetPtr set = res->nodesetval)
    for (int i = 0; i < set->nodeNr && !out; ++i)
      if (set->nodeTab[i]->type != XML_NAMESPACE_DECL) out = h->Wrap(set->nodeTab[i]);
  xmlXPathFreeObject(res);
  return out;
}

XmlNodeListPtr XmlNode::getElementsByTagName(std::string_view name) {
  std::vector<XmlNodePtr> items;
  std::vector<xmlNodePtr> stack;
  for (xmlNodePtr c = node_->last; c; c = c->prev) stack.push_back(c);
  while (!stack.empty()) {
    xmlNodePtr n = stack.back();
    stack.pop_back();
    if (n->type != XML_ELEMENT_NODE) continue;
    if (name == "*" || QName(n) == name) items.push_back(holder_->Wrap(n));
    for (xmlNodePtr c = n->last; c; c = c->prev) stack.push_back(c);
  }
  return std::make_shared<XmlNodeList>(std::move(items));
}

std::vector<XmlNodePtr> XmlNode::ChildElements(std::string_view localName) const {
  std::vector<XmlNodePtr> out;
  for (xmlNodePtr c = node_->children; c; c = c->next) {
    if (c->type != XML_ELEMENT_NODE) continue;
    if (localName.empty() || Str(c->name) == localName) out.push_back(holder_->Wrap(c));
  }
  return out;
}

XmlNodePtr XmlNode::FindChild(std::string_view localName, std::string_view attr,
                              std::string_view value) const {
  for (xmlNodePtr c = node_->children; c; c = c->next) {
    if (c->type != XML_ELEMENT_NODE || Str(c->name) != localName) continue;
    xmlAttrPtr a = FindAttr(c, attr);
    if (a && AttrValue(a) == value) return holder_->Wrap(c);
  }
  return nullptr;
}

// ---- node lists and attribute maps ----

XmlNodePtr XmlNodeList::item(int32_t i) const {
  if (i < 0 || i >= length()) return nullptr;
  return items_[static_cast<size_t>(i)];
}

XmlNamedNodeMap::XmlNamedNodeMap(XmlNodePtr owner) : owner_(std::move(owner)) {}

std::vector<XmlNodePtr> XmlNamedNodeMap::Items() const {
  std::vector<XmlNodePtr> out;
  xmlNodePtr e = owner_->node_;
  DocHolder& h = *owner_->holder_;
  auto snapshot = [&](const std::string& name, const std::string& value) {
    // Declarations and pseudo-attributes are no attribute nodes in libxml2: a detached copy
    // shows them.
    xmlAttrPtr a = xmlNewDocProp(e->doc, X(name), nullptr);
    xmlNodePtr t = xmlNewDocText(e->doc, X(value));
    a->children = a->last = t;
    t->parent = reinterpret_cast<xmlNodePtr>(a);
    h.AddOrphan(reinterpret_cast<xmlNodePtr>(a));
    out.push_back(h.Wrap(reinterpret_cast<xmlNodePtr>(a)));
  };
  if (IsXmlDecl(e)) {
    for (auto& [k, v] : xml::ParsePseudoAttributes(Str(e->content))) snapshot(k, v);
    return out;
  }
  for (xmlAttrPtr a = e->properties; a; a = a->next)
    out.push_back(h.Wrap(reinterpret_cast<xmlNodePtr>(a)));
  for (xmlNsPtr ns = e->nsDef; ns; ns = ns->next)
    snapshot(ns->prefix ? "xmlns:" + Str(ns->prefix) : std::string("xmlns"), Str(ns->href));
  return out;
}

int32_t XmlNamedNodeMap::length() const {
  xmlNodePtr e = owner_->node_;
  if (IsXmlDecl(e)) return static_cast<int32_t>(xml::ParsePseudoAttributes(Str(e->content)).size());
  int32_t n = 0;
  for (xmlAttrPtr a = e->properties; a; a = a->next) ++n;
  for (xmlNsPtr ns = e->nsDef; ns; ns = ns->next) ++n;
  return n;
}

XmlNodePtr XmlNamedNodeMap::item(int32_t i) const {
  xmlNodePtr e = owner_->node_;
  if (i < 0) return nullptr;
  if (!IsXmlDecl(e)) {
    int32_t k = 0;
    for (xmlAttrPtr a = e->properties; a; a = a->next, ++k)
      if (k == i) return owner_->holder_->Wrap(reinterpret_cast<xmlNodePtr>(a));
  }
  auto all = Items();
  return i < static_cast<int32_t>(all.size()) ? all[static_cast<size_t>(i)] : nullptr;
}

XmlNodePtr XmlNamedNodeMap::getNamedItem(std::string_view name) const {
  xmlNodePtr e = owner_->node_;
  std::string p;
  if (!IsXmlDecl(e) && !IsNsAttrName(name, p)) {
    xmlAttrPtr a = FindAttr(e, name);
    return a ? owner_->holder_->Wrap(reinterpret_cast<xmlNodePtr>(a)) : nullptr;
  }
  for (auto& n : Items())
    if (n->nodeName() == name) return n;
  return nullptr;
}

XmlNodePtr XmlNamedNodeMap::setNamedItem(const XmlNodePtr& attribute) {
  if (!attribute)
    throw HostError(err::kObjectNotSet, "Object variable or With block variable not set");
  if (attribute->nodeType() != XmlNodeType::Attribute)
    Fail("setNamedItem needs an attribute node.");
  std::string name = attribute->nodeName();
  owner_->setAttribute(name, attribute->text());
  return getNamedItem(name);
}

XmlNodePtr XmlNamedNodeMap::removeNamedItem(std::string_view name) {
  XmlNodePtr n = getNamedItem(name);
  if (IsXmlDecl(owner_->node_)) {
    auto attrs = xml::ParsePseudoAttributes(Str(owner_->node_->content));
    std::erase_if(attrs, [&](auto& a) { return a.first == name; });
    xmlNodeSetContent(owner_->node_, X(xml::JoinPseudoAttributes(attrs)));
  } else {
    owner_->removeAttribute(name);
  }
  return n;
}

}  // namespace fern
