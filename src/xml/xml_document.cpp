// Documents: parsing, saving, node factories, properties and validation.
#include <libxml/parser.h>

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/text.h"
#include "platform/utf8.h"
#include "xml/xml_internal.h"

namespace fern {

using xml::DocHolder;
using xml::Fail;
using xml::Str;
using xml::X;

namespace {

bool AllWs(const xmlChar* s) {
  for (; s && *s; ++s)
    if (!xml::IsSpace(static_cast<char>(*s))) return false;
  return true;
}

// White-space-only text between markup is layout, not data, unless xml:space says otherwise.
void DropBlankText(xmlNodePtr root) {
  std::vector<xmlNodePtr> stack{root};
  while (!stack.empty()) {
    xmlNodePtr n = stack.back();
    stack.pop_back();
    for (xmlNodePtr c = n->children, next; c; c = next) {
      next = c->next;
      if (c->type == XML_TEXT_NODE && AllWs(c->content) &&
          (n->type != XML_ELEMENT_NODE || xmlNodeGetSpacePreserve(n) != 1)) {
        xmlUnlinkNode(c);
        xmlFreeNode(c);
      } else if (c->type == XML_ELEMENT_NODE) {
        stack.push_back(c);
      }
    }
  }
}

// The declaration as written ("version="1.0" encoding="ISO-8859-1""), or nullopt without one.
std::optional<std::string> DeclarationData(std::string_view bytes, xmlDocPtr d) {
  std::string_view s = bytes;
  if (s.starts_with("\xEF\xBB\xBF")) s.remove_prefix(3);
  if (s.starts_with("<?xml") && s.size() > 5 && xml::IsSpace(s[5])) {
    size_t e = s.find("?>");
    if (e == std::string_view::npos) return std::nullopt;
    return xml::TrimSpace(s.substr(5, e - 5));
  }
  if (d->standalone == -1) return std::nullopt;
  std::string data = "version=\"" + (d->version ? Str(d->version) : std::string("1.0")) + "\"";
  if (d->encoding) data += " encoding=\"" + Str(d->encoding) + "\"";
  if (d->standalone >= 0) data += d->standalone ? " standalone=\"yes\"" : " standalone=\"no\"";
  return data;
}

// Enough of a file's beginning to hold its declaration.
constexpr size_t kHeadBytes = 4096;

std::string LineOf(std::string_view bytes, int line) {
  if (line <= 0) return "";
  size_t pos = 0;
  for (int i = 1; i < line; ++i) {
    pos = bytes.find('\n', pos);
    if (pos == std::string_view::npos) return "";
    ++pos;
  }
  size_t e = bytes.find('\n', pos);
  std::string out(
      bytes.substr(pos, e == std::string_view::npos ? std::string_view::npos : e - pos));
  if (!out.empty() && out.back() == '\r') out.pop_back();
  return out;
}

// The line of a file, read up to it.
std::string LineOfFile(const std::string& path, int line) {
  if (line <= 0) return "";
  std::ifstream in(path, std::ios::binary);
  std::string text;
  for (int i = 1; i <= line; ++i)
    if (!std::getline(in, text)) return "";
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return text;
}

void FillFromIssues(XmlParseError& pe, std::vector<XmlIssue> issues) {
  if (issues.empty()) return;
  const XmlIssue& f = issues.front();
  pe.errorCode = kXmlParseErrorBase + f.code;
  pe.reason = f.message;
  pe.line = f.line;
  pe.linepos = f.column;
  pe.all = std::move(issues);
}

// UTF-8 text in `encoding`; characters the encoding lacks become character references.
std::string Encode(const std::string& utf8, const std::string& encoding) {
  std::string enc = text::LowerAscii(encoding);
  if (enc == "utf-8" || enc == "utf8") return utf8;
  iconv_t cd = iconv_open(encoding.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) Fail("Unsupported encoding '" + encoding + "'.");
  std::string out;
  auto convert = [&](const char* in, size_t len) -> bool {
    char buf[64];
    char* ip = const_cast<char*>(in);
    size_t il = len;
    while (il > 0) {
      char* op = buf;
      size_t ol = sizeof buf;
      size_t r = iconv(cd, &ip, &il, &op, &ol);
      out.append(buf, static_cast<size_t>(op - buf));
      if (r == static_cast<size_t>(-1) && errno != E2BIG) return false;
    }
    return true;
  };
  if (enc.starts_with("utf-16") || enc.starts_with("ucs") || enc.starts_with("utf-32")) {
    bool ok = convert(utf8.data(), utf8.size());
    iconv_close(cd);
    if (!ok) Fail("The text can not be written as " + encoding + ".");
    return out;
  }
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    // A byte that starts no UTF-8 character (text a script set unconverted) is taken alone, as
    // the Latin-1 character of its number, so the characters after it stay.
    char32_t cp = c;
    size_t len = utf8::Decode(utf8, i, cp);
    if (len == 0) len = 1;
    size_t mark = out.size();
    if (!convert(utf8.data() + i, len)) {
      out.resize(mark);
      out += "&#" + std::to_string(static_cast<uint32_t>(cp)) + ";";
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    i += len;
  }
  iconv_close(cd);
  return out;
}

xmlParserInputPtr RefuseEntity(const char*, const char*, xmlParserCtxtPtr) { return nullptr; }

class NoExternalEntities {
 public:
  NoExternalEntities() : previous_(xmlGetExternalEntityLoader()) {
    xmlSetExternalEntityLoader(RefuseEntity);
  }
  ~NoExternalEntities() { xmlSetExternalEntityLoader(previous_); }
  NoExternalEntities(const NoExternalEntities&) = delete;
  NoExternalEntities& operator=(const NoExternalEntities&) = delete;

 private:
  xmlExternalEntityLoader previous_;
};

xmlNodePtr FirstDecl(xmlDocPtr d) {
  for (xmlNodePtr c = d->children; c; c = c->next)
    if (c->type == XML_PI_NODE && Str(c->name) == "xml") return c;
  return nullptr;
}

}  // namespace

XmlDocument::XmlDocument(std::shared_ptr<DocHolder> holder) : XmlNode(holder, holder->doc) {}
XmlDocument::~XmlDocument() = default;

XmlDocumentPtr XmlDocument::Create() {
  auto h = std::make_shared<DocHolder>(xmlNewDoc(X("1.0")));
  h->parseError = std::make_shared<XmlParseError>();
  return h->Face();
}

xmlDocPtr XmlDocument::rawDoc() const { return holder_->doc; }

bool XmlDocument::Parse(std::string_view bytes, const std::string& url, bool forceUtf8,
                        bool fromFile) {
  auto pe = std::make_shared<XmlParseError>();
  pe->url = url;
  xmlDocPtr d = nullptr;
  {
    xml::ErrorCapture cap;
    NoExternalEntities guard;
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    // Internal entities are replaced by their text (libxml2 stops runaway expansion); external
    // ones are never fetched, whoever wrote the document.
    int opts = XML_PARSE_NONET | XML_PARSE_NODICT | XML_PARSE_BIG_LINES | XML_PARSE_NOENT;
    if (forceUtf8) opts |= XML_PARSE_IGNORE_ENC;
    if (fromFile) {
      // Read through callbacks, not by name: a name would go through the entity loader.
      if (std::FILE* f = std::fopen(url.c_str(), "rb"))
        d = xmlCtxtReadIO(
            ctxt,
            [](void* file, char* buffer, int len) {
              return static_cast<int>(
                  std::fread(buffer, 1, static_cast<size_t>(len), static_cast<std::FILE*>(file)));
            },
            [](void* file) { return std::fclose(static_cast<std::FILE*>(file)); }, f, url.c_str(),
            nullptr, opts);
    } else if (!bytes.empty())
      d = xmlCtxtReadMemory(ctxt, bytes.data(), static_cast<int>(bytes.size()),
                            url.empty() ? nullptr : url.c_str(), forceUtf8 ? "UTF-8" : nullptr,
                            opts);
    bool ok = d && ctxt->wellFormed && cap.errors.empty();
    xmlFreeParserCtxt(ctxt);
    if (!ok) {
      if (d) xmlFreeDoc(d);
      d = nullptr;
      if (cap.errors.empty())
        cap.errors.push_back(
            {XML_ERR_DOCUMENT_EMPTY, 0, 0, "The document is empty or not well-formed."});
      FillFromIssues(*pe, std::move(cap.errors));
      pe->srcText = fromFile ? LineOfFile(url, pe->line) : LineOf(bytes, pe->line);
    }
  }
  if (d) {
    if (!holder_->settings.preserveWhiteSpace) DropBlankText(reinterpret_cast<xmlNodePtr>(d));
    if (auto decl = DeclarationData(bytes, d)) {
      xmlNodePtr pi = xmlNewDocPI(d, X("xml"), X(*decl));
      if (d->children)
        xmlAddPrevSibling(d->children, pi);
      else
        xmlAddChild(reinterpret_cast<xmlNodePtr>(d), pi);
    }
  } else {
    d = xmlNewDoc(X("1.0"));
  }
  if (!url.empty() && !d->URL) d->URL = xmlStrdup(X(url));

  Install(d);
  holder_->parseError = pe;
  if (pe->errorCode != 0) return false;

  if (holder_->settings.schemas && holder_->settings.validateOnParse && documentElement()) {
    auto issues = holder_->settings.schemas->Validate(*this);
    if (!issues.empty()) {
      FillFromIssues(*pe, std::move(issues));
      pe->srcText = fromFile ? LineOfFile(url, pe->line) : LineOf(bytes, pe->line);
      Install(xmlNewDoc(X("1.0")));
      holder_->parseError = pe;
      return false;
    }
  }
  return true;
}

void XmlDocument::Install(xmlDocPtr d) {
  if (holder_.use_count() == 1) {
    holder_->Reset(d);
  } else {
    // Nodes of the old content live on with their own holder.
    auto h = std::make_shared<DocHolder>(d);
    h->settings = holder_->settings;
    holder_->face.reset();
    holder_ = h;
    h->face = std::static_pointer_cast<XmlDocument>(shared_from_this());
  }
  node_ = reinterpret_cast<xmlNodePtr>(d);
}

bool XmlDocument::load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Parse({}, path, false);
    auto& pe = *holder_->parseError;
    pe.errorCode = kXmlParseErrorBase + XML_IO_LOAD_ERROR;
    pe.reason = "The system cannot locate the object specified: " + path;
    pe.all = {{XML_IO_LOAD_ERROR, 0, 0, pe.reason}};
    return false;
  }
  // The file is parsed as it is read, so its text is never held beside the tree; only its
  // beginning is kept, for the declaration.
  std::string head(kHeadBytes, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(in.gcount()));
  if (head.empty()) return Parse({}, path, false);
  return Parse(head, path, false, true);
}

bool XmlDocument::loadXML(std::string_view text) { return Parse(text, "", true); }

void XmlDocument::save(const std::string& path) const {
  xmlDocPtr d = holder_->doc;
  std::string encoding = "UTF-8";
  xmlNodePtr decl = FirstDecl(d);
  if (decl)
    for (auto& [k, v] : xml::ParsePseudoAttributes(Str(decl->content)))
      if (k == "encoding" && !v.empty()) encoding = v;
  const std::string enc = text::LowerAscii(encoding);
  const bool utf8 = enc == "utf-8" || enc == "utf8";
  // UTF-8 goes to the file as it is serialized: a large document is never held twice as text.
  std::string bytes;
  if (!utf8) {
    std::string text = xml::SerializeDocument(d, true);
    if (!decl) text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" + text;
    bytes = Encode(text, encoding);
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out && utf8) {
    if (!decl) out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";
    xml::SerializeDocument(d, true, [&out](std::string_view piece) {
      out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    });
  } else if (out) {
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  if (out) out.flush();
  if (!out) Fail("The file '" + path + "' could not be written: " + std::strerror(errno));
}

XmlNodePtr XmlDocument::documentElement() const {
  return holder_->Wrap(xmlDocGetRootElement(holder_->doc));
}

void XmlDocument::setDocumentElement(const XmlNodePtr& element) {
  if (!element)
    throw HostError(err::kObjectNotSet, "Object variable or With block variable not set");
  if (element->nodeType() != XmlNodeType::Element) Fail("The document element must be an element.");
  if (XmlNodePtr root = documentElement())
    replaceChild(element, root);
  else
    appendChild(element);
}

XmlNodePtr XmlDocument::createElement(std::string_view name) { return createNode(1, name, ""); }

XmlNodePtr XmlDocument::createNode(int32_t type, std::string_view name,
                                   std::string_view namespaceURI) {
  xmlDocPtr d = holder_->doc;
  std::string qn(name), uri(namespaceURI);
  size_t colon = qn.find(':');
  std::string prefix = colon == std::string::npos ? "" : qn.substr(0, colon);
  std::string local = colon == std::string::npos ? qn : qn.substr(colon + 1);
  xmlNodePtr n = nullptr;
  switch (type) {
    case 1:
      if (qn.empty()) Fail("An element needs a name.");
      if (uri.empty()) {
        n = xmlNewDocNode(d, nullptr, X(qn), nullptr);
      } else {
        n = xmlNewDocNode(d, nullptr, X(local), nullptr);
        n->ns = xmlNewNs(n, X(uri), prefix.empty() ? nullptr : X(prefix));
      }
      break;
    case 2:
      if (qn.empty()) Fail("An attribute needs a name.");
      n = reinterpret_cast<xmlNodePtr>(xmlNewDocProp(d, X(qn), nullptr));
      {
        xmlNodePtr t = xmlNewDocText(d, X(""));
        n->children = n->last = t;
        t->parent = n;
      }
      break;
    case 3:
      n = xmlNewDocText(d, X(""));
      break;
    case 4:
      n = xmlNewCDataBlock(d, X(""), 0);
      break;
    case 7:
      n = xmlNewDocPI(d, X(qn), nullptr);
      break;
    case 8:
      n = xmlNewDocComment(d, X(""));
      break;
    case 11:
      n = xmlNewDocFragment(d);
      break;
    default:
      Fail("createNode does not support node type " + std::to_string(type) + ".");
  }
  holder_->AddOrphan(n);
  return holder_->Wrap(n);
}

XmlNodePtr XmlDocument::createAttribute(std::string_view name) { return createNode(2, name, ""); }

XmlNodePtr XmlDocument::createTextNode(std::string_view text) {
  XmlNodePtr n = createNode(3, "", "");
  n->setText(text);
  return n;
}
XmlNodePtr XmlDocument::createComment(std::string_view text) {
  XmlNodePtr n = createNode(8, "", "");
  n->setText(text);
  return n;
}
XmlNodePtr XmlDocument::createCDATASection(std::string_view text) {
  XmlNodePtr n = createNode(4, "", "");
  n->setText(text);
  return n;
}
XmlNodePtr XmlDocument::createProcessingInstruction(std::string_view target,
                                                    std::string_view data) {
  XmlNodePtr n = createNode(7, target, "");
  n->setText(data);
  return n;
}

std::shared_ptr<XmlParseError> XmlDocument::parseError() const {
  if (!holder_->parseError) holder_->parseError = std::make_shared<XmlParseError>();
  return holder_->parseError;
}

void XmlDocument::setProperty(std::string_view name, const Variant& value) {
  std::string key = text::LowerAscii(name);
  std::string text = value.IsString() ? value.str() : std::string();
  if (key == "selectionnamespaces") {
    holder_->SetSelectionNamespaces(text);
  } else if (key == "selectionlanguage") {
    std::string l = text::LowerAscii(text);
    if (l != "xpath" && l != "xslpattern") Fail("SelectionLanguage must be XPath.");
    holder_->settings.selectionLanguage = text;
  } else {
    holder_->settings.other[key] = value;
  }
}

Variant XmlDocument::getProperty(std::string_view name) const {
  std::string key = text::LowerAscii(name);
  if (key == "selectionnamespaces") return Variant(holder_->settings.selectionNamespaces);
  if (key == "selectionlanguage") return Variant(holder_->settings.selectionLanguage);
  auto it = holder_->settings.other.find(key);
  if (it == holder_->settings.other.end()) Fail("Property name is invalid: " + std::string(name));
  return it->second;
}

bool XmlDocument::async() const { return holder_->settings.async; }
void XmlDocument::setAsync(bool v) { holder_->settings.async = v; }
bool XmlDocument::validateOnParse() const { return holder_->settings.validateOnParse; }
void XmlDocument::setValidateOnParse(bool v) { holder_->settings.validateOnParse = v; }
bool XmlDocument::preserveWhiteSpace() const { return holder_->settings.preserveWhiteSpace; }
void XmlDocument::setPreserveWhiteSpace(bool v) { holder_->settings.preserveWhiteSpace = v; }
bool XmlDocument::resolveExternals() const { return holder_->settings.resolveExternals; }
void XmlDocument::setResolveExternals(bool v) { holder_->settings.resolveExternals = v; }
std::string XmlDocument::url() const { return Str(holder_->doc->URL); }

std::shared_ptr<XmlSchemaCache> XmlDocument::schemas() const { return holder_->settings.schemas; }
void XmlDocument::setSchemas(std::shared_ptr<XmlSchemaCache> cache) {
  holder_->settings.schemas = std::move(cache);
}

std::shared_ptr<XmlParseError> XmlDocument::validate() {
  auto pe = std::make_shared<XmlParseError>();
  pe->url = url();
  if (!holder_->settings.schemas) {
    FillFromIssues(*pe, {{XML_SCHEMAV_NOROOT, 0, 0, "No schema is attached to the document."}});
  } else {
    FillFromIssues(*pe, holder_->settings.schemas->Validate(*this));
  }
  holder_->parseError = pe;
  return pe;
}

}  // namespace fern
