// The empty document built from a portal's XSD, and the element records the mapping engine and
// the checks read from it.
#include <set>

#include "host/cUtil.h"
#include "openimmo/openimmo_internal.h"
#include "openimmo/schema_template.h"
#include "platform/host_error.h"

namespace fern::openimmo {

namespace {

const std::string kXsdBinding = std::string("xmlns:xsd='") + kXsdNs + "'";

int32_t CodeOfBuiltIn(const std::string& type) {
  const std::string t = vb::LCase(type);
  if (t == "xsd:string" || t == "xsd:nmtoken") return etype::kText;
  if (t == "xsd:int" || t == "xsd:integer" || t == "xsd:byte") return etype::kInteger;
  if (t == "xsd:boolean") return etype::kBoolean;
  if (t == "xsd:date" || t == "xsd:datetime") return etype::kDate;
  if (t == "xsd:decimal" || t == "xsd:float" || t == "xsd:double") return etype::kDecimal;
  return etype::kOther;
}

// The type reference of a declaration: its "type", else the first descendant's "base".
std::string TypeRef(const XmlNodePtr& node) {
  if (auto t = node->getAttribute("type")) return *t;
  if (XmlNodePtr b = node->selectSingleNode(".//*[@base]")) return Attr(b, "base");
  return {};
}

}  // namespace

XmlDocumentPtr SchemaTemplate::OpenXMLFile(const std::string& path, XmlDocumentPtr doc) {
  try {
    if (!doc) {
      doc = XmlDocument::Create();
      doc->setValidateOnParse(true);
      doc->setProperty("NewParser", Variant(true));
    }
    if (!doc->load(Real(path))) {
      auto pe = doc->parseError();
      if (pe->errorCode != 0)
        throw HostError(pe->errorCode,
                        "Der XMLParser hat folgenden Fehler festgestellt: " + vb::Trim(pe->reason) +
                            " an Zeile/Position " + std::to_string(pe->line) + "/" +
                            std::to_string(pe->linepos));
      throw HostError(50012, "XML-Struktur ist nicht korrekt!");
    }
    XmlNodePtr root = doc->documentElement();
    std::optional<std::string> location = root->getAttribute("xsi:noNamespaceSchemaLocation");
    if (!location) {
      if (auto both = root->getAttribute("xsi:schemaLocation")) {
        std::string words = vb::Trim(*both);
        size_t blank = words.find_first_of(" \t\r\n");
        location = blank == std::string::npos ? std::string() : vb::Trim(words.substr(blank + 1));
      }
    }
    const std::string schemaFolder = location ? schemaFolder_() : std::string();
    if (location && !schemaFolder.empty()) {
      // Compiling the named schema proves it readable and of the document's namespace.
      XmlDocumentPtr schemaDoc = OpenXMLFile(schemaFolder + *location);
      XmlSchemaCache cache;
      cache.add(root->namespaceURI(), *schemaDoc);
    }
    return doc;
  } catch (const HostError& e) {
    throw HostError(e.number(), "'" + e.description() + "'  beim Öffnen der Datei: " + path,
                    "OpenXMLFile");
  }
}

SchemaTemplate::SchemaTemplate(const ExportSettings& settings,
                               std::function<std::string()> schemaFolder)
    : set_(settings), schemaFolder_(std::move(schemaFolder)) {}

std::string SchemaTemplate::XmlFileName(const std::string& url) const {
  if (url.empty())
    return set_.schemaType + vb::Format(Variant::Date(vb::Now()), "yyyymmdd") + ".xml";
  const size_t slash = url.find_last_of("/\\");
  return slash == std::string::npos ? url : url.substr(slash + 1);
}

XmlDocumentPtr SchemaTemplate::CreateEmtpyXML(const XmlDocumentPtr& ddocschema,
                                              const std::string& copyFolder) {
  const std::string folder = copyFolder;
  if (!folder.empty() && !cUtil::Exist(folder)) cUtil::MkFolder(folder);

  XmlDocumentPtr tmpl = XmlDocument::Create();
  tmpl->setValidateOnParse(false);
  tmpl->setProperty("NewParser", Variant(true));
  ddocschema->setProperty("SelectionNamespaces", Variant(kXsdBinding));
  ddocschema->setProperty("NewParser", Variant(true));
  tmpl->setProperty("SelectionNamespaces", Variant("xmlns:imo='" + set_.ns + "'"));

  XmlNodePtr schemaRoot = ddocschema->documentElement();
  if (!schemaRoot) throw HostError(50012, "XML-Struktur ist nicht korrekt!", "CreateEmtpyXML");
  XmlNodePtr rootDecl = schemaRoot->selectSingleNode("./xsd:element[.//xsd:appinfo= 0 ]");

  XmlNodePtr root = tmpl->createNode(1, "imo:" + set_.schemaType, set_.ns);
  tmpl->setDocumentElement(root);
  tmpl->insertBefore(tmpl->createProcessingInstruction("xml", "version=\"1.0\" encoding=\"UTF-8\""),
                     root);
  root->setAttribute("xsi:schemaLocation", set_.ns + " " + set_.schemaType + ".xsd");
  root->setAttribute("xmlns:imo", set_.ns);
  root->setAttribute("xmlns:xsi", kXsiNs);

  if (rootDecl) AddSchemaElements(0, rootDecl, root, *tmpl, set_.prefix, set_.ns);

  const std::string name = XmlFileName(ddocschema->url());
  if (folder.empty()) return tmpl;
  try {
    ddocschema->save(Real(folder + "\\" + name));
    ddocschema->save(Real(folder + "\\" + set_.schemaType + ".xsd"));
    tmpl->save(Real(folder + "\\Muster" + set_.schemaType + ".xml"));
  } catch (const HostError&) {
    // The copies are for people reading the folder; the export does not read them.
  }
  return tmpl;
}

void SchemaTemplate::AddSchemaElements(int16_t level, const XmlNodePtr& decl,
                                       const XmlNodePtr& parentNode, XmlDocument& doc,
                                       const std::string& prefix, const std::string& nsUri) {
  // Declarations on the path from the root: a schema that contains an element within itself
  // would otherwise never end.
  std::vector<const void*>& path = walkPath_;
  path.resize(static_cast<size_t>(level));
  path.push_back(decl->raw());

  // A choice of elements inside a sequence (OpenImmo's property kinds before
  // "objektart_zusatz") gives all of them, as a direct choice does: the mapping fills one and
  // the empty ones are dropped.
  XmlNodeListPtr children = decl->selectNodes(
      "./xsd:complexType/xsd:sequence/xsd:element |"
      "./xsd:complexType/xsd:sequence/xsd:choice/xsd:element |"
      ".//xsd:sequence/xsd:choice/xsd:sequence[1]/xsd:element");
  if (children->length() == 0)
    children = decl->selectNodes("./xsd:complexType/xsd:choice/xsd:element");
  XmlNodePtr schemaRoot = decl->ownerDocument()->documentElement();
  for (const XmlNodePtr& child : List(children)) {
    std::string name = Attr(child, "ref");
    if (name.empty()) name = Attr(child, "name");
    XmlNodePtr found = schemaRoot->selectSingleNode(".//xsd:element[@name=$n]", {{"n", name}});
    if (!found) continue;
    bool repeat = false;
    for (const void* p : path) repeat = repeat || p == found->raw();
    if (repeat) continue;
    XmlNodePtr element = doc.createNode(1, prefix + name, nsUri);
    parentNode->appendChild(element);
    XmlNodePtr resolved = GetBaseType(found);
    for (const XmlNodePtr& a : List(resolved->selectNodes(".//xsd:attribute"))) {
      std::string an = Attr(a, "name");
      if (an.empty()) an = Attr(a, "ref");
      if (!an.empty() && !element->getAttribute(an)) element->setAttribute(an, "");
    }
    AddSchemaElements(static_cast<int16_t>(level + 1), found, element, doc, prefix, nsUri);
    path.resize(static_cast<size_t>(level) + 1);
  }
}

XmlNodePtr SchemaTemplate::GetBaseType(const XmlNodePtr& node) {
  XmlNodePtr current = node;
  std::set<const void*> seen;  // a type that names itself ends the chain
  for (;;) {
    const std::string type = TypeRef(current);
    if (type.empty() || type.find("xsd:") != std::string::npos) return current;
    if (!seen.insert(current->raw()).second) return current;
    XmlNodePtr next = current->ownerDocument()->documentElement()->selectSingleNode(
        ".//*[@name=$n]", {{"n", type}});
    if (!next) return current;
    current = next;
  }
}

int32_t SchemaTemplate::GetElementType(const XmlNodePtr& node) {
  XmlNodePtr resolved = GetBaseType(node);
  const std::string type = TypeRef(resolved);
  if (type.empty()) return etype::kOther;
  return CodeOfBuiltIn(type);
}

void SchemaTemplate::GetElementAttributes(const XmlNodePtr& node, tElementInfo& info) {
  std::vector<tAttribute> list;
  if (info.eType == etype::kBoolean) {
    list.push_back({"true", etype::kText, std::nullopt});
  } else {
    for (const XmlNodePtr& a : List(node->selectNodes(".//xsd:attribute"))) {
      tAttribute rec;
      rec.strAttrName = Attr(a, "name");
      rec.eType = GetElementType(a);
      if (rec.eType == etype::kBoolean) {
        rec.strOptionsClear();
        rec.strOptions->push_back("true");
      } else {
        XmlNodeListPtr enums = a->selectNodes(".//xsd:restriction/xsd:enumeration");
        if (enums->length() > 0) {
          rec.strOptionsClear();
          for (const XmlNodePtr& e : *enums) rec.strOptions->push_back(Attr(e, "value"));
        }
      }
      // A second declaration of the same name spoils the keyed list: no attributes at all.
      for (const tAttribute& have : list)
        if (have.strAttrName == rec.strAttrName) return;
      list.push_back(std::move(rec));
    }
  }
  if (!list.empty()) {
    info.aryAttribs = std::move(list);
    info.blnHasAtts = true;
  }
}

std::shared_ptr<tElementInfo> SchemaTemplate::GetElementInfo(const std::string& element,
                                                             XmlNode& schema,
                                                             const std::string& parentName) {
  auto cached = elementCache_.find(element);
  if (cached != elementCache_.end() && !cached->second->strElementname.empty())
    return cached->second;
  XmlNodePtr decl = schema.selectSingleNode("//xsd:element[@name=$n]", {{"n", element}});
  if (!decl) {
    // Unknown element: an empty record, not cached, so a later schema may still declare it.
    return std::make_shared<tElementInfo>();
  }
  return GetElementInfo(decl, schema, parentName);
}

std::shared_ptr<tElementInfo> SchemaTemplate::GetElementInfo(const XmlNodePtr& decl,
                                                             XmlNode& schema,
                                                             const std::string& parentName) {
  const std::string key = Attr(decl, "name");
  auto& slot = elementCache_[key];
  if (!slot) slot = std::make_shared<tElementInfo>();
  if (!slot->strElementname.empty()) return slot;
  tElementInfo& info = *slot;
  info.strElementname = key;
  if (XmlNodePtr doc = decl->selectSingleNode("./xsd:annotation/xsd:documentation"))
    info.strFeldName = doc->text();
  for (const XmlNodePtr& c : List(decl->childNodes()))
    if (c->nodeType() == XmlNodeType::Comment) {
      info.strComment = c->text();
      break;
    }
  XmlNodePtr node = GetBaseType(decl);
  info.eType = GetElementType(node);
  info.strType = node->nodeTypeString();
  info.blnMixedCont = node->selectSingleNode("./xsd:complexType[@mixed='true']") != nullptr;
  info.blnComplexType = node->selectSingleNode("./xsd:complexType") != nullptr;
  info.blnComplexTypeSimpleContent =
      node->selectSingleNode("./xsd:complexType/xsd:simpleContent") != nullptr;
  GetElementAttributes(node, info);

  XmlNodePtr bounds = node;
  if (!node->getAttribute("minOccurs")) {
    XmlNodePtr parent =
        parentName == "user_defined_anyfield"
            ? schema.selectSingleNode("//*[name()='user_defined_anyfield']")
            : schema.selectSingleNode("//xsd:element[@name=$n]", {{"n", parentName}});
    bounds = parent ? parent->selectSingleNode(".//xsd:element[@ref=$n]", {{"n", key}}) : nullptr;
  }
  const std::string minO = Attr(bounds, "minOccurs"), maxO = Attr(bounds, "maxOccurs");
  info.lMinOccurs = minO.empty() ? 1 : ToLong(minO);
  info.lMaxOccurs = maxO.empty() ? 1 : (vb::LCase(maxO) == "unbounded" ? 50 : ToLong(maxO));
  const std::string maxL = Attr(node, "maxLength"), minL = Attr(node, "minLength");
  info.lmaxLength = maxL.empty() ? 0 : ToLong(maxL);
  info.lminlength = minL.empty() ? 0 : ToLong(minL);
  return slot;
}

}  // namespace fern::openimmo
