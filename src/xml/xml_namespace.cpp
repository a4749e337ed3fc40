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
  // Walk with the default namespace in scope, so unqualified elements can be kept out of `uri`.
  struct Item {
    xmlNodePtr e;
    bool defaultIsUri;
  };
  std::vector<Item> stack{{root, false}};
  while (!stack.empty()) {
    auto [e, inherited] = stack.back();
    stack.pop_back();
    bool defIsUri = inherited;
    xmlNsPtr existingDefault = nullptr;
    for (xmlNsPtr ns = e->nsDef; ns; ns = ns->next)
      if (!ns->prefix) existingDefault = ns;
    if (existingDefault) defIsUri = Str(existingDefault->href) == u;
    for (xmlNsPtr ns = e->nsDef, next; ns; ns = next) {
      next = ns->next;
      if (!ns->prefix || Str(ns->href) != u) continue;
      // Attributes need a prefix: they move to a declaration of their own.
      xmlNsPtr forAttrs = nullptr;
      xml::ForEachInSubtree(e, [&](xmlNodePtr n) {
        if (n->type == XML_ATTRIBUTE_NODE && n->ns == ns) {
          if (!forAttrs) {
            forAttrs = xmlNewNs(nullptr, ns->href, ns->prefix);
            forAttrs->next = ns->next;
            ns->next = forAttrs;
            next = forAttrs->next;
          }
          n->ns = forAttrs;
        }
      });
      if (existingDefault && existingDefault != ns) {
        if (Str(existingDefault->href) != u)
          Fail("The element '" + Str(e->name) + "' already declares another default namespace.");
        Repoint(e, {{ns, existingDefault}});
        UnlinkNsDef(e, ns);
      } else {
        xmlFree(const_cast<xmlChar*>(ns->prefix));
        ns->prefix = nullptr;
        existingDefault = ns;
      }
      defIsUri = true;
    }
    if (defIsUri && !e->ns && Str(e->name).find(':') == std::string::npos && !existingDefault) {
      xmlNewNs(e, BAD_CAST "", nullptr);
      defIsUri = false;
    }
    for (xmlNodePtr c = e->last; c; c = c->prev)
      if (c->type == XML_ELEMENT_NODE) stack.push_back({c, defIsUri});
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
