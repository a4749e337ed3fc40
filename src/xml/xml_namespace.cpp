#include "xml/xml_namespace.h"

#include <unordered_map>
#include <unordered_set>

#include "xml/xml_internal.h"

namespace fern {

using xml::Fail;
using xml::Str;
using xml::X;

namespace {

xmlNodePtr Root(XmlDocument& doc) { return xmlDocGetRootElement(doc.rawDoc()); }

// Points every reference of the subtree from one declaration to another (nullptr: none).
void Repoint(xmlNodePtr root, const std::unordered_map<xmlNsPtr, xmlNsPtr>& map) {
  xml::ForEachInSubtree(root, [&](xmlNodePtr n) {
    if (n->type != XML_ELEMENT_NODE && n->type != XML_ATTRIBUTE_NODE) return;
    if (auto it = map.find(n->ns); it != map.end()) n->ns = it->second;
  });
}

void UnlinkNsDef(xmlNodePtr e, xmlNsPtr ns) {
  xmlNsPtr* link = &e->nsDef;
  while (*link && *link != ns) link = &(*link)->next;
  if (*link) *link = ns->next;
  ns->next = nullptr;
  xmlFreeNs(ns);
}

}  // namespace

void MoveNamespaceToDefault(XmlDocument& doc, std::string_view uri) {
  xmlNodePtr root = Root(doc);
  if (!root) return;
  std::string u(uri);
  // The elements are marked as unprefixed in `uri`; the default declarations follow from that.
  xmlNsPtr mark = xmlNewNs(nullptr, X(u), nullptr);
  std::vector<xmlNodePtr> declaring;
  xml::ForEachInSubtree(root, [&](xmlNodePtr n) {
    if (n->type != XML_ELEMENT_NODE) return;
    if (n->ns && n->ns->prefix && Str(n->ns->href) == u) n->ns = mark;
    if (n->nsDef) declaring.push_back(n);
  });
  // An element in `uri` that declares it with a prefix gets the default declaration in the same
  // place, so the written start tag keeps its order.
  for (xmlNodePtr e : declaring) {
    if (e->ns != mark) continue;
    xmlNsPtr prefixed = nullptr;
    bool hasDefault = false;
    for (xmlNsPtr ns = e->nsDef; ns; ns = ns->next) {
      if (!ns->prefix)
        hasDefault = true;
      else if (!prefixed && Str(ns->href) == u)
        prefixed = ns;
    }
    if (hasDefault || !prefixed) continue;
    xmlNsPtr d = xmlNewNs(nullptr, X(u), nullptr);
    d->next = prefixed->next;
    prefixed->next = d;
  }
  try {
    xml::NormalizeDefaultNamespace(root, nullptr);
  } catch (...) {
    xmlFreeNs(mark);
    throw;
  }
  xmlFreeNs(mark);
  // Prefixed declarations of `uri` that only elements used go; attributes keep theirs.
  std::unordered_set<xmlNsPtr> used;
  xml::ForEachInSubtree(root, [&](xmlNodePtr n) {
    if (n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE) used.insert(n->ns);
  });
  for (xmlNodePtr e : declaring)
    for (xmlNsPtr ns = e->nsDef, next; ns; ns = next) {
      next = ns->next;
      if (ns->prefix && Str(ns->href) == u && !used.count(ns)) UnlinkNsDef(e, ns);
    }
}

void MoveNamespaceToPrefix(XmlDocument& doc, std::string_view uri, std::string_view prefix) {
  xmlNodePtr root = Root(doc);
  if (!root) return;
  std::string u(uri), p(prefix);
  std::vector<xmlNodePtr> elements;
  xml::ForEachInSubtree(root, [&](xmlNodePtr n) {
    if (n->type == XML_ELEMENT_NODE && n->nsDef) elements.push_back(n);
  });
  for (xmlNodePtr e : elements) {
    for (xmlNsPtr ns = e->nsDef, next; ns; ns = next) {
      next = ns->next;
      if (ns->prefix || Str(ns->href) != u) continue;
      xmlNsPtr same = nullptr;
      for (xmlNsPtr o = e->nsDef; o; o = o->next)
        if (o->prefix && Str(o->prefix) == p) same = o;
      if (same && Str(same->href) != u)
        Fail("The prefix '" + p + "' is bound to another namespace on '" + Str(e->name) + "'.");
      if (same) {
        Repoint(e, {{ns, same}});
        UnlinkNsDef(e, ns);
      } else {
        ns->prefix = xmlStrdup(X(p));
      }
    }
  }
  // xmlns="" kept elements out of the default namespace; with no default left they are noise.
  for (xmlNodePtr e : elements) {
    for (xmlNsPtr ns = e->nsDef, next; ns; ns = next) {
      next = ns->next;
      if (ns->prefix || (ns->href && ns->href[0])) continue;
      xmlNsPtr outer = e->parent && e->parent->type == XML_ELEMENT_NODE
                           ? xmlSearchNs(e->doc, e->parent, nullptr)
                           : nullptr;
      if (outer && outer->href && outer->href[0]) continue;
      Repoint(e, {{ns, nullptr}});
      UnlinkNsDef(e, ns);
    }
  }
}

void RemoveNamespace(XmlDocument& doc, std::string_view uri) {
  xmlNodePtr root = Root(doc);
  if (!root) return;
  std::string u(uri);
  std::vector<std::pair<xmlNodePtr, xmlNsPtr>> defs;
  std::unordered_map<xmlNsPtr, xmlNsPtr> map;
  xml::ForEachInSubtree(root, [&](xmlNodePtr n) {
    if (n->type != XML_ELEMENT_NODE) return;
    for (xmlNsPtr ns = n->nsDef; ns; ns = ns->next)
      if (Str(ns->href) == u) {
        defs.emplace_back(n, ns);
        map[ns] = nullptr;
      }
  });
  Repoint(root, map);
  for (auto& [e, ns] : defs) UnlinkNsDef(e, ns);
  xml::NormalizeDefaultNamespace(root, nullptr);
}

void DropUnusedNamespaceDeclarations(XmlNode& node) {
  xmlNodePtr top = static_cast<xmlNodePtr>(node.raw());
  if (xml::IsDocNode(top)) top = xmlDocGetRootElement(reinterpret_cast<xmlDocPtr>(top));
  if (!top || top->type != XML_ELEMENT_NODE) return;
  std::unordered_set<xmlNsPtr> used;
  std::vector<xmlNodePtr> elements;
  xml::ForEachInSubtree(top, [&](xmlNodePtr n) {
    if (n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE) used.insert(n->ns);
    if (n->type == XML_ELEMENT_NODE && n->nsDef) elements.push_back(n);
  });
  for (xmlNodePtr e : elements)
    for (xmlNsPtr ns = e->nsDef, next; ns; ns = next) {
      next = ns->next;
      // xmlns="" is in use whenever it keeps an unqualified element out of a default namespace.
      if (!used.count(ns) && !(!ns->prefix && !(ns->href && ns->href[0]))) UnlinkNsDef(e, ns);
    }
}

}  // namespace fern
