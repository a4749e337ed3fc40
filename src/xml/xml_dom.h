// The XML document object model the exporters and scripts use: documents, nodes, node lists,
// attribute maps and parse errors with the members and behaviour of the Windows parser the
// program was written against, built on libxml2.
//
// Ownership: every node belongs to its document. A node object keeps its document alive, so a
// node taken from a document stays usable after the document object is dropped. Nodes that are
// removed from the tree (or created and never inserted) stay owned by the document until they are
// inserted somewhere or until the document and every object of its nodes are gone.
//
// Errors: misuse (a node inserted below itself, a second root element, an XPath that does not
// compile) throws HostError kXmlError with a text naming the problem; a missing node argument
// throws HostError 91. load/loadXML never throw for bad input: they return false and fill
// parseError.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch.h"

// libxml2's own struct names.
struct _xmlNode;  // NOLINT(bugprone-reserved-identifier)
struct _xmlDoc;   // NOLINT(bugprone-reserved-identifier)

namespace fern {

namespace xml {
struct DocHolder;
}

// The number DOM failures raise (the COM failure code scripts expect from the parser).
inline constexpr int32_t kXmlError = static_cast<int32_t>(0x80004005u);
// Parse and validation error codes are this base plus libxml2's own error number.
inline constexpr int32_t kXmlParseErrorBase = static_cast<int32_t>(0xC00CE000u);

enum class XmlNodeType : int32_t {
  Element = 1,
  Attribute = 2,
  Text = 3,
  CData = 4,
  EntityReference = 5,
  Entity = 6,
  ProcessingInstruction = 7,
  Comment = 8,
  Document = 9,
  DocumentType = 10,
  DocumentFragment = 11,
  Notation = 12,
};

class XmlNode;
class XmlDocument;
class XmlNodeList;
class XmlNamedNodeMap;
class XmlParseError;
class XmlSchemaCache;
using XmlNodePtr = std::shared_ptr<XmlNode>;
using XmlDocumentPtr = std::shared_ptr<XmlDocument>;
using XmlNodeListPtr = std::shared_ptr<XmlNodeList>;

// Values for XPath variables: "imo:immobilie[.//imo:objektnr_intern=$id]" with {{"id", value}}
// compares against the value without putting it into the expression text.
using XPathVars = std::map<std::string, std::string, std::less<>>;

// One error of parsing or schema validation.
struct XmlIssue {
  int32_t code = 0;  // libxml2's number
  int line = 0;      // 1-based; 0 when unknown
  int column = 0;    // 1-based; 0 when unknown
  std::string message;
  std::string Text() const;  // "line 12: Element ...: This element is not expected."
};

class XmlNode : public Dispatch {
 public:
  ~XmlNode() override;
  XmlNode(const XmlNode&) = delete;
  XmlNode& operator=(const XmlNode&) = delete;

  XmlNodeType nodeType() const;
  std::string nodeTypeString() const;  // "element", "attribute", "text", ...
  std::string nodeName() const;        // qualified name; "#text", "#comment", "#document", ...
  std::string baseName() const;        // local name
  std::string prefix() const;
  std::string namespaceURI() const;
  // Null for elements, documents and fragments; the text of text, comment, attribute and
  // processing-instruction nodes.
  Variant nodeValue() const;
  void setNodeValue(std::string_view value);

  // Descendant text joined and trimmed of leading and trailing white space; for attributes,
  // comments and processing instructions their value.
  std::string text() const;
  // Replaces the children with one text node holding `value` as it stands: "A & <b>" stays
  // literal text and is escaped when written.
  void setText(std::string_view value);
  // The node written as XML, with the namespace declarations it needs. For a document: every
  // top-level node separated by CR LF, the declaration without its encoding.
  std::string xml() const;

  // Attributes of an element, addressed by qualified name ("xmlns:p" addresses a namespace
  // declaration). getAttribute gives nullopt when the attribute is missing.
  std::optional<std::string> getAttribute(std::string_view name) const;
  void setAttribute(std::string_view name, std::string_view value);
  void removeAttribute(std::string_view name);
  // Null for nodes that have no attributes (text, comments, documents).
  std::shared_ptr<XmlNamedNodeMap> attributes();

  XmlNodeListPtr childNodes();
  XmlNodePtr firstChild() const;
  XmlNodePtr lastChild() const;
  XmlNodePtr parentNode() const;  // null for attributes, documents and detached nodes
  XmlNodePtr nextSibling() const;
  XmlNodePtr previousSibling() const;
  XmlDocumentPtr ownerDocument() const;  // null for a document
  bool hasChildNodes() const;

  // Tree changes. A node of another document is moved into this one. An inserted subtree drops
  // namespace declarations its new place already has in scope and keeps every element in its
  // namespace (declaring xmlns="" or a default namespace where the new scope would change it).
  // The cost grows with the inserted subtree, not with the document. Each returns the node that
  // was inserted or removed.
  XmlNodePtr appendChild(const XmlNodePtr& newChild);
  XmlNodePtr insertBefore(const XmlNodePtr& newChild, const XmlNodePtr& refChild);
  XmlNodePtr removeChild(const XmlNodePtr& child);
  XmlNodePtr replaceChild(const XmlNodePtr& newChild, const XmlNodePtr& oldChild);
  // Shallow copies keep the attributes. A copied document keeps its selection settings.
  XmlNodePtr cloneNode(bool deep) const;

  // XPath 1.0 relative to this node, with the prefixes of the owner document's
  // SelectionNamespaces; unprefixed names mean no namespace. selectSingleNode gives the first
  // match in document order, or null. The cost is that of the part of the tree the path walks:
  // ".//x" walks the subtree below this node, "//x" the whole document.
  XmlNodeListPtr selectNodes(std::string_view xpath, const XPathVars& vars = {});
  XmlNodePtr selectSingleNode(std::string_view xpath, const XPathVars& vars = {});

  // Descendant elements whose qualified name (as written) is `name`, "*" for all, in document
  // order.
  XmlNodeListPtr getElementsByTagName(std::string_view name);

  // Comparisons in code: the element children, optionally only those with the local name.
  std::vector<XmlNodePtr> ChildElements(std::string_view localName = {}) const;
  // The first element child with the local name whose attribute `attr` equals `value`.
  XmlNodePtr FindChild(std::string_view localName, std::string_view attr,
                       std::string_view value) const;

  // Dispatch face: the members above by their names as scripts write them, plus "tagName",
  // "name" and "value" (attributes). Assigning to a read-only member is error 450.
  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override;

  // Internal: the libxml2 node, for helpers in this folder.
  void* raw() const { return node_; }

 protected:
  XmlNode(std::shared_ptr<xml::DocHolder> holder, void* node);
  // For subclasses' Invoke: true when handled, the result in `out`.
  bool InvokeNode(std::string_view name, unsigned kind, std::span<Variant> args, Variant& out);

  std::shared_ptr<xml::DocHolder> holder_;
  ::_xmlNode* node_;

  friend struct xml::DocHolder;
  friend class XmlDocument;
  friend class XmlNamedNodeMap;
};

// The nodes as they were when the list was made (selectNodes, childNodes): removing a node from
// the document while walking the list still visits every node of the list.
class XmlNodeList : public Dispatch {
 public:
  explicit XmlNodeList(std::vector<XmlNodePtr> items) : items_(std::move(items)) {}
  int32_t length() const { return static_cast<int32_t>(items_.size()); }
  XmlNodePtr item(int32_t i) const;  // null outside 0..length-1
  const std::vector<XmlNodePtr>& items() const { return items_; }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "IXMLDOMNodeList"; }
  bool Enumerate(std::vector<Variant>& items) override;

 private:
  std::vector<XmlNodePtr> items_;
  size_t cursor_ = 0;  // nextNode/reset
};

// The attributes of an element (or the pseudo-attributes of the XML declaration), read from the
// element at every call. Namespace declarations appear after the attributes, as detached copies.
class XmlNamedNodeMap : public Dispatch {
 public:
  explicit XmlNamedNodeMap(XmlNodePtr owner);
  int32_t length() const;
  XmlNodePtr item(int32_t i) const;
  XmlNodePtr getNamedItem(std::string_view name) const;
  // Sets the owner's attribute of the attribute node's name to its value.
  XmlNodePtr setNamedItem(const XmlNodePtr& attribute);
  XmlNodePtr removeNamedItem(std::string_view name);

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "IXMLDOMNamedNodeMap"; }
  bool Enumerate(std::vector<Variant>& items) override;

 private:
  std::vector<XmlNodePtr> Items() const;
  XmlNodePtr owner_;
};

class XmlParseError : public Dispatch {
 public:
  int32_t errorCode = 0;  // 0: no error
  std::string reason;
  int32_t line = 0;
  int32_t linepos = 0;
  std::string srcText;
  std::string url;
  std::vector<XmlIssue> all;  // every error, the first one is described above

  // The first `maxIssues` errors as "line 3: ...; line 7: ..." for a report line.
  std::string Summary(size_t maxIssues = 3) const;

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "IXMLDOMParseError"; }
};

// Compiled XSD schemas by target namespace.
class XmlSchemaCache : public Dispatch {
 public:
  XmlSchemaCache();
  ~XmlSchemaCache() override;
  // Compiles the schema file and files it under `namespaceURI` (replacing an earlier one). Throws
  // HostError kXmlError when the file cannot be read or compiled, or when its target namespace
  // differs from `namespaceURI`; the text names the file and the first errors.
  void add(std::string_view namespaceURI, const std::string& path);
  void add(std::string_view namespaceURI, const XmlDocument& schemaDocument);
  int32_t length() const;
  bool Has(std::string_view namespaceURI) const;
  // Validates a document against the schema filed under its root's namespace. Empty: valid.
  std::vector<XmlIssue> Validate(const XmlDocument& doc) const;

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "IXMLDOMSchemaCollection2"; }

  struct Entry;

 private:
  std::map<std::string, std::shared_ptr<Entry>, std::less<>> entries_;
};

class XmlDocument : public XmlNode {
 public:
  static XmlDocumentPtr Create();
  ~XmlDocument() override;

  // Parses a file (a real path; host paths are resolved by the caller). White-space-only text
  // is dropped unless preserveWhiteSpace is set. An XML declaration becomes the first child, a
  // processing instruction "xml" whose attributes are its pseudo-attributes. Internal entities
  // are replaced by their text; external entities are never fetched (they read as empty), so
  // resolveExternals is only kept. With schemas attached and validateOnParse set, the document
  // is validated as well. False with parseError filled on any failure; the document is then
  // empty.
  bool load(const std::string& path);
  // Parses text (UTF-8 whatever its declaration says).
  bool loadXML(std::string_view text);
  // Writes the document with its declaration in the encoding the declaration names (UTF-8 when
  // it names none). Throws HostError kXmlError when the file cannot be written or the encoding
  // is unknown.
  void save(const std::string& path) const;

  XmlNodePtr documentElement() const;
  void setDocumentElement(const XmlNodePtr& element);  // replaces the current root

  XmlNodePtr createElement(std::string_view name);
  // type 1 (element) or 2 (attribute) may carry a namespace; "p:name" gives the prefix.
  XmlNodePtr createNode(int32_t type, std::string_view name, std::string_view namespaceURI);
  XmlNodePtr createAttribute(std::string_view name);
  XmlNodePtr createTextNode(std::string_view text);
  XmlNodePtr createComment(std::string_view text);
  XmlNodePtr createCDATASection(std::string_view text);
  XmlNodePtr createProcessingInstruction(std::string_view target, std::string_view data);

  std::shared_ptr<XmlParseError> parseError() const;

  // "SelectionNamespaces" ("xmlns:imo='uri' xmlns:xsd='uri'"), "SelectionLanguage" ("XPath";
  // "XSLPattern" is taken as XPath), and any other name kept as given ("NewParser", ...).
  // A SelectionNamespaces text that does not parse throws HostError kXmlError.
  void setProperty(std::string_view name, const Variant& value);
  Variant getProperty(std::string_view name) const;

  bool async() const;
  void setAsync(bool v);
  bool validateOnParse() const;
  void setValidateOnParse(bool v);
  bool preserveWhiteSpace() const;
  void setPreserveWhiteSpace(bool v);
  bool resolveExternals() const;
  void setResolveExternals(bool v);
  std::string url() const;

  std::shared_ptr<XmlSchemaCache> schemas() const;
  void setSchemas(std::shared_ptr<XmlSchemaCache> cache);
  // Validates the tree as it stands against the attached schemas; errorCode 0 when valid. An
  // element made with a prefixed name but no namespace URI is in no namespace until the document
  // is written and read again, so validate what was saved.
  std::shared_ptr<XmlParseError> validate();

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "DOMDocument"; }

  ::_xmlDoc* rawDoc() const;

 private:
  explicit XmlDocument(std::shared_ptr<xml::DocHolder> holder);
  // `fromFile`: the document is read from the file `url` as it is parsed, and `bytes` holds
  // only the file's beginning.
  bool Parse(std::string_view bytes, const std::string& url, bool forceUtf8, bool fromFile = false);
  void Install(::_xmlDoc* d);
  friend struct xml::DocHolder;
};

// By name, load, save and the schema cache's add take host paths (resolved as host_path.h says).

// The objects scripts create by class name: DOM documents ("MSXML2.DOMDocument",
// "Msxml2.DOMDocument.4.0", "Microsoft.XMLDOM", ...) and schema caches
// ("Msxml2.XMLSchemaCache.4.0"). Null for any other name.
std::shared_ptr<Dispatch> CreateXmlObject(std::string_view progId);

}  // namespace fern
