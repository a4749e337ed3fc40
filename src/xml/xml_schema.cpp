// XSD schema cache and validation over libxml2's schema API.
#include <libxml/schemasInternals.h>
#include <libxml/xmlschemas.h>

#include "xml/xml_internal.h"

namespace fern {

using xml::Fail;
using xml::Str;

struct XmlSchemaCache::Entry {
  xmlSchemaPtr schema = nullptr;
  xmlDocPtr doc = nullptr;  // the schema text when compiled from a document
  ~Entry() {
    if (schema) xmlSchemaFree(schema);
    if (doc) xmlFreeDoc(doc);
  }
};

XmlSchemaCache::XmlSchemaCache() = default;
XmlSchemaCache::~XmlSchemaCache() = default;

namespace {

// Compiles from the parser context (which it frees) and checks the target namespace.
void Compile(XmlSchemaCache::Entry& e, xmlSchemaParserCtxtPtr pctx, const std::string& what,
             std::string_view ns);

}  // namespace

void XmlSchemaCache::add(std::string_view namespaceURI, const std::string& path) {
  auto e = std::make_shared<Entry>();
  Compile(*e, xmlSchemaNewParserCtxt(path.c_str()), path, namespaceURI);
  entries_[std::string(namespaceURI)] = e;
}

void XmlSchemaCache::add(std::string_view namespaceURI, const XmlDocument& schemaDocument) {
  auto e = std::make_shared<Entry>();
  std::string what =
      schemaDocument.url().empty() ? std::string("(document)") : schemaDocument.url();
  e->doc = xmlCopyDoc(schemaDocument.rawDoc(), 1);
  Compile(*e, xmlSchemaNewDocParserCtxt(e->doc), what, namespaceURI);
  entries_[std::string(namespaceURI)] = e;
}

namespace {

void Compile(XmlSchemaCache::Entry& e, xmlSchemaParserCtxtPtr pctx, const std::string& what,
             std::string_view ns) {
  {
    xml::ErrorCapture cap;
    e.schema = pctx ? xmlSchemaParse(pctx) : nullptr;
    if (pctx) xmlSchemaFreeParserCtxt(pctx);
    if (!e.schema)
      Fail("The schema '" + what + "' could not be compiled: " +
           (cap.errors.empty() ? std::string("unknown error") : cap.FirstTexts(3)));
  }
  std::string target = Str(e.schema->targetNamespace);
  if (target != ns)
    Fail("The schema '" + what + "' has the target namespace '" + target + "', not '" +
         std::string(ns) + "'.");
}

}  // namespace

int32_t XmlSchemaCache::length() const { return static_cast<int32_t>(entries_.size()); }

bool XmlSchemaCache::Has(std::string_view namespaceURI) const {
  return entries_.find(namespaceURI) != entries_.end();
}

std::vector<XmlIssue> XmlSchemaCache::Validate(const XmlDocument& doc) const {
  xmlDocPtr d = doc.rawDoc();
  xmlNodePtr root = xmlDocGetRootElement(d);
  if (!root) return {{XML_SCHEMAV_NOROOT, 0, 0, "The document has no root element."}};
  std::string ns = root->ns ? Str(root->ns->href) : std::string();
  auto it = entries_.find(ns);
  if (it == entries_.end())
    return {
        {XML_SCHEMAV_NOROOT, root->line, 0, "No schema is loaded for the namespace '" + ns + "'."}};
  xml::ErrorCapture cap;
  xmlSchemaValidCtxtPtr vctx = xmlSchemaNewValidCtxt(it->second->schema);
  xmlSchemaSetValidStructuredErrors(vctx, &xml::ErrorCapture::Handler, &cap);
  int rc = xmlSchemaValidateDoc(vctx, d);
  xmlSchemaFreeValidCtxt(vctx);
  if (rc != 0 && cap.errors.empty())
    cap.errors.push_back({rc > 0 ? rc : XML_SCHEMAV_INTERNAL, 0, 0, "The document is not valid."});
  return std::move(cap.errors);
}

}  // namespace fern
