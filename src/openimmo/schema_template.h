// The empty document built from a portal's XSD, and the element records the mapping engine and
// the checks read from it (cached per element name for the portal in hand).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "openimmo/export_settings.h"
#include "openimmo/tElementInfo.h"
#include "xml/xml_dom.h"

namespace fern::openimmo {

class SchemaTemplate {
 public:
  // `settings` is read at each call (it changes per portal). `schemaFolder` gives the folder a
  // document's named schema is looked up in ("" when there is no host to ask).
  SchemaTemplate(const ExportSettings& settings, std::function<std::string()> schemaFolder);

  // Loads an XML file (a host path). Parse failures raise the parser's code with its reason, line
  // and position; a named schema is loaded from the schema folder and compiled.
  XmlDocumentPtr OpenXMLFile(const std::string& path, XmlDocumentPtr doc = nullptr);
  // The empty document: one element per declaration reached from the root marked with appinfo 0,
  // each with its attributes empty. Binds "xsd" on the schema and "imo" on the result. Copies of
  // both go to `copyFolder` (a host path; "" for none) for people reading it.
  XmlDocumentPtr CreateEmtpyXML(const XmlDocumentPtr& ddocschema, const std::string& copyFolder);
  // A declaration already on the path from the root is not entered again, so a schema whose
  // element contains itself ends.
  void AddSchemaElements(int16_t level, const XmlNodePtr& decl, const XmlNodePtr& parentNode,
                         XmlDocument& doc, const std::string& prefix, const std::string& nsUri);
  // The record of an element (by name, looked up in `schema`), cached per element name.
  std::shared_ptr<tElementInfo> GetElementInfo(const std::string& element, XmlNode& schema,
                                               const std::string& parentName);
  std::shared_ptr<tElementInfo> GetElementInfo(const XmlNodePtr& decl, XmlNode& schema,
                                               const std::string& parentName);
  int32_t GetElementType(const XmlNodePtr& node);
  XmlNodePtr GetBaseType(const XmlNodePtr& node);
  void GetElementAttributes(const XmlNodePtr& node, tElementInfo& info);

  // The file name of a schema's URL; a dated default for none.
  std::string XmlFileName(const std::string& url) const;

  void ClearElementCache() { elementCache_.clear(); }
  size_t ElementCacheSize() const { return elementCache_.size(); }

 private:
  const ExportSettings& set_;
  std::function<std::string()> schemaFolder_;
  std::map<std::string, std::shared_ptr<tElementInfo>> elementCache_;
  std::vector<const void*> walkPath_;  // declarations from the root to the current one
};

}  // namespace fern::openimmo
