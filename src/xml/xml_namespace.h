// Structural namespace rewrites for documents that portals want in another namespace form. They
// change declarations and node namespaces only; text and attribute values are never touched.
#pragma once

#include <string_view>

#include "xml/xml_dom.h"

namespace fern {

// Elements of namespace `uri` are written without prefix: each prefixed declaration of `uri`
// becomes a default-namespace declaration ("xmlns:imo=..." -> "xmlns=..."). Attributes in that
// namespace keep a prefixed declaration (attributes cannot use a default namespace); elements
// without namespace below it get xmlns="". Throws HostError kXmlError when an element declaring
// `uri` with a prefix also declares a different default namespace.
void MoveNamespaceToDefault(XmlDocument& doc, std::string_view uri);

// The reverse: default declarations of `uri` become declarations of `prefix`, so its elements are
// written as "prefix:name". Throws HostError kXmlError when `prefix` is bound to another URI on
// the same element.
void MoveNamespaceToPrefix(XmlDocument& doc, std::string_view uri, std::string_view prefix);

// Elements and attributes of namespace `uri` leave it (no namespace, no prefix) and the
// declarations of `uri` are removed.
void RemoveNamespace(XmlDocument& doc, std::string_view uri);

// Namespace declarations at or below `node` that no element or attribute uses are removed.
void DropUnusedNamespaceDeclarations(XmlNode& node);

}  // namespace fern
