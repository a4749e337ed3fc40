// The by-name faces of the DOM classes, with the member names scripts use.
#include "platform/host_path.h"
#include "platform/vb.h"
#include "xml/xml_internal.h"

namespace fern {

using vb::CBool;
using vb::CLng;
using vb::CStr;

namespace {

bool Setting(unsigned kind, std::span<Variant> args) {
  return (kind & (kPropLet | kPropSet)) != 0 && !args.empty() && !(kind & (kMethod | kPropGet));
}

// Assigning to a member that cannot take a value is VB's error 450, not a silent read.
void CheckSettable(std::string_view name, bool set) {
  static const char* settable[] = {
      "text",    "value",           "nodeValue",          "documentElement",
      "async",   "validateOnParse", "preserveWhiteSpace", "resolveExternals",
      "schemas", "validateOnLoad"};
  if (!set) return;
  for (const char* s : settable)
    if (NameIs(name, s)) return;
  throw HostError(
      err::kWrongArgCount,
      "Wrong number of arguments or invalid property assignment: '" + std::string(name) + "'");
}

template <class T>
Variant Obj(const std::shared_ptr<T>& p) {
  return p ? Variant(std::static_pointer_cast<Dispatch>(p)) : Variant::Nothing();
}

XmlNodePtr NodeArg(const Variant& v) {
  if (v.IsMissing() || v.IsEmpty() || v.IsNothing()) return nullptr;
  if (!v.IsObject()) throw HostError(err::kTypeMismatch, "Type mismatch");
  auto n = std::dynamic_pointer_cast<XmlNode>(v.obj());
  if (!n) throw HostError(err::kTypeMismatch, "Type mismatch: an XML node is expected");
  return n;
}

std::string Text(const Variant& v) { return v.IsMissing() ? std::string() : CStr(v); }

// Scripts name files by host path ("C:\...\x.xml"); one that cannot be resolved is tried as
// written, so loading it fails like any missing file.
std::string FileArg(const Variant& v) {
  std::string text = Text(v);
  try {
    return ResolveHostPath(text).string();
  } catch (const HostError&) {
    return text;
  }
}

int32_t NodeTypeArg(const Variant& v) {
  if (!v.IsString()) return CLng(v);
  static const char* names[] = {"element",
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
  for (int i = 0; i < 12; ++i)
    if (NameIs(v.str(), names[i])) return i + 1;
  return CLng(v);
}

}  // namespace

std::string XmlNode::TypeName() const {
  switch (nodeType()) {
    case XmlNodeType::Element:
      return "IXMLDOMElement";
    case XmlNodeType::Attribute:
      return "IXMLDOMAttribute";
    case XmlNodeType::Text:
      return "IXMLDOMText";
    case XmlNodeType::CData:
      return "IXMLDOMCDATASection";
    case XmlNodeType::Comment:
      return "IXMLDOMComment";
    case XmlNodeType::ProcessingInstruction:
      return "IXMLDOMProcessingInstruction";
    case XmlNodeType::DocumentFragment:
      return "IXMLDOMDocumentFragment";
    default:
      return "IXMLDOMNode";
  }
}

Variant XmlNode::Invoke(std::string_view name, unsigned kind, std::span<Variant> args) {
  Variant out;
  if (!InvokeNode(name, kind, args, out)) ThrowNoMember(name);
  return out;
}

bool XmlNode::InvokeNode(std::string_view name, unsigned kind, std::span<Variant> args,
                         Variant& out) {
  auto is = [&](const char* m) { return NameIs(name, m); };
  bool set = Setting(kind, args);
  CheckSettable(name, set);
  if (is("text") || (is("value") && nodeType() == XmlNodeType::Attribute)) {
    if (set)
      setText(Text(args.back()));
    else
      out = Variant(text());
  } else if (is("nodeValue")) {
    if (set)
      setNodeValue(Text(args.back()));
    else
      out = nodeValue();
  } else if (is("nodeName") || is("tagName") || is("name")) {
    out = Variant(nodeName());
  } else if (is("baseName")) {
    out = Variant(baseName());
  } else if (is("prefix")) {
    out = Variant(prefix());
  } else if (is("namespaceURI")) {
    out = Variant(namespaceURI());
  } else if (is("nodeType")) {
    out = Variant(static_cast<int32_t>(nodeType()));
  } else if (is("nodeTypeString")) {
    out = Variant(nodeTypeString());
  } else if (is("xml")) {
    out = Variant(xml());
  } else if (is("attributes")) {
    out = Obj(attributes());
  } else if (is("childNodes")) {
    out = Obj(childNodes());
  } else if (is("firstChild")) {
    out = Obj(firstChild());
  } else if (is("lastChild")) {
    out = Obj(lastChild());
  } else if (is("parentNode")) {
    out = Obj(parentNode());
  } else if (is("nextSibling")) {
    out = Obj(nextSibling());
  } else if (is("previousSibling")) {
    out = Obj(previousSibling());
  } else if (is("ownerDocument")) {
    out = Obj(ownerDocument());
  } else if (is("hasChildNodes")) {
    out = Variant(hasChildNodes());
  } else if (is("appendChild")) {
    CheckArgCount(args, 1, 1, name);
    out = Obj(appendChild(NodeArg(args[0])));
  } else if (is("insertBefore")) {
    CheckArgCount(args, 1, 2, name);
    out = Obj(insertBefore(NodeArg(args[0]), args.size() > 1 ? NodeArg(args[1]) : nullptr));
  } else if (is("removeChild")) {
    CheckArgCount(args, 1, 1, name);
    out = Obj(removeChild(NodeArg(args[0])));
  } else if (is("replaceChild")) {
    CheckArgCount(args, 2, 2, name);
    out = Obj(replaceChild(NodeArg(args[0]), NodeArg(args[1])));
  } else if (is("cloneNode")) {
    CheckArgCount(args, 1, 1, name);
    out = Obj(cloneNode(CBool(args[0])));
  } else if (is("selectNodes")) {
    CheckArgCount(args, 1, 1, name);
    out = Obj(selectNodes(Text(args[0])));
  } else if (is("selectSingleNode")) {
    CheckArgCount(args, 1, 1, name);
    out = Obj(selectSingleNode(Text(args[0])));
  } else if (is("getElementsByTagName")) {
    CheckArgCount(args, 1, 1, name);
    out = Obj(getElementsByTagName(Text(args[0])));
  } else if (is("getAttribute")) {
    CheckArgCount(args, 1, 1, name);
    auto v = getAttribute(Text(args[0]));
    out = v ? Variant(*v) : Variant::Null();
  } else if (is("setAttribute")) {
    CheckArgCount(args, 2, 2, name);
    setAttribute(Text(args[0]), Text(args[1]));
  } else if (is("removeAttribute")) {
    CheckArgCount(args, 1, 1, name);
    removeAttribute(Text(args[0]));
  } else {
    return false;
  }
  return true;
}

Variant XmlDocument::Invoke(std::string_view name, unsigned kind, std::span<Variant> args) {
  auto is = [&](const char* m) { return NameIs(name, m); };
  bool set = Setting(kind, args);
  CheckSettable(name, set);
  auto flag = [&](bool (XmlDocument::*get)() const, void (XmlDocument::*put)(bool)) {
    if (set) (this->*put)(CBool(args.back()));
    return set ? Variant() : Variant((this->*get)());
  };
  if (is("documentElement")) {
    if (set)
      setDocumentElement(NodeArg(args.back()));
    else
      return Obj(documentElement());
  } else if (is("createElement")) {
    CheckArgCount(args, 1, 1, name);
    return Obj(createElement(Text(args[0])));
  } else if (is("createNode")) {
    CheckArgCount(args, 2, 3, name);
    return Obj(
        createNode(NodeTypeArg(args[0]), Text(args[1]), args.size() > 2 ? Text(args[2]) : ""));
  } else if (is("createAttribute")) {
    CheckArgCount(args, 1, 1, name);
    return Obj(createAttribute(Text(args[0])));
  } else if (is("createTextNode")) {
    CheckArgCount(args, 1, 1, name);
    return Obj(createTextNode(Text(args[0])));
  } else if (is("createComment")) {
    CheckArgCount(args, 1, 1, name);
    return Obj(createComment(Text(args[0])));
  } else if (is("createCDATASection")) {
    CheckArgCount(args, 1, 1, name);
    return Obj(createCDATASection(Text(args[0])));
  } else if (is("createProcessingInstruction")) {
    CheckArgCount(args, 2, 2, name);
    return Obj(createProcessingInstruction(Text(args[0]), Text(args[1])));
  } else if (is("load")) {
    CheckArgCount(args, 1, 1, name);
    return Variant(load(FileArg(args[0])));
  } else if (is("loadXML")) {
    CheckArgCount(args, 1, 1, name);
    return Variant(loadXML(Text(args[0])));
  } else if (is("save")) {
    CheckArgCount(args, 1, 1, name);
    save(FileArg(args[0]));
  } else if (is("parseError")) {
    return Obj(parseError());
  } else if (is("setProperty")) {
    CheckArgCount(args, 2, 2, name);
    setProperty(Text(args[0]), args[1].IsString() ? args[1] : Variant(CStr(args[1])));
  } else if (is("getProperty")) {
    CheckArgCount(args, 1, 1, name);
    return getProperty(Text(args[0]));
  } else if (is("async")) {
    return flag(&XmlDocument::async, &XmlDocument::setAsync);
  } else if (is("validateOnParse")) {
    return flag(&XmlDocument::validateOnParse, &XmlDocument::setValidateOnParse);
  } else if (is("preserveWhiteSpace")) {
    return flag(&XmlDocument::preserveWhiteSpace, &XmlDocument::setPreserveWhiteSpace);
  } else if (is("resolveExternals")) {
    return flag(&XmlDocument::resolveExternals, &XmlDocument::setResolveExternals);
  } else if (is("url")) {
    return Variant(url());
  } else if (is("readyState")) {
    return Variant(int32_t{4});
  } else if (is("schemas")) {
    if (!set) return Obj(schemas());
    const Variant& v = args.back();
    auto cache = v.IsObject() ? std::dynamic_pointer_cast<XmlSchemaCache>(v.obj()) : nullptr;
    if (v.IsObject() && v.obj() && !cache) throw HostError(err::kTypeMismatch, "Type mismatch");
    setSchemas(cache);
  } else if (is("validate")) {
    return Obj(validate());
  } else {
    Variant out;
    if (!InvokeNode(name, kind, args, out)) ThrowNoMember(name);
    return out;
  }
  return Variant();
}

Variant XmlNodeList::Invoke(std::string_view name, unsigned, std::span<Variant> args) {
  if (name.empty() || NameIs(name, "item")) {
    CheckArgCount(args, 1, 1, "item");
    return Obj(item(CLng(args[0])));
  }
  if (NameIs(name, "length")) return Variant(length());
  if (NameIs(name, "nextNode")) {
    return cursor_ < items_.size() ? Obj(items_[cursor_++]) : Variant::Nothing();
  }
  if (NameIs(name, "reset")) {
    cursor_ = 0;
    return Variant();
  }
  ThrowNoMember(name);
}

bool XmlNodeList::Enumerate(std::vector<Variant>& out) {
  out.clear();
  for (auto& n : items_) out.push_back(Obj(n));
  return true;
}

Variant XmlNamedNodeMap::Invoke(std::string_view name, unsigned, std::span<Variant> args) {
  if (name.empty() || NameIs(name, "item")) {
    CheckArgCount(args, 1, 1, "item");
    return Obj(item(CLng(args[0])));
  }
  if (NameIs(name, "length")) return Variant(length());
  if (NameIs(name, "getNamedItem")) {
    CheckArgCount(args, 1, 1, name);
    return Obj(getNamedItem(Text(args[0])));
  }
  if (NameIs(name, "setNamedItem")) {
    CheckArgCount(args, 1, 1, name);
    return Obj(setNamedItem(NodeArg(args[0])));
  }
  if (NameIs(name, "removeNamedItem")) {
    CheckArgCount(args, 1, 1, name);
    return Obj(removeNamedItem(Text(args[0])));
  }
  ThrowNoMember(name);
}

bool XmlNamedNodeMap::Enumerate(std::vector<Variant>& out) {
  out.clear();
  for (auto& n : Items()) out.push_back(Obj(n));
  return true;
}

Variant XmlParseError::Invoke(std::string_view name, unsigned, std::span<Variant>) {
  if (name.empty() || NameIs(name, "errorCode")) return Variant(errorCode);
  if (NameIs(name, "reason")) return Variant(reason);
  if (NameIs(name, "line")) return Variant(line);
  if (NameIs(name, "linepos")) return Variant(linepos);
  if (NameIs(name, "srcText")) return Variant(srcText);
  if (NameIs(name, "url")) return Variant(url);
  if (NameIs(name, "filepos")) return Variant(int32_t{0});
  ThrowNoMember(name);
}

Variant XmlSchemaCache::Invoke(std::string_view name, unsigned kind, std::span<Variant> args) {
  if (NameIs(name, "add")) {
    CheckArgCount(args, 2, 2, name);
    std::string ns = Text(args[0]);
    if (args[1].IsObject()) {
      auto doc = std::dynamic_pointer_cast<XmlDocument>(args[1].obj());
      if (!doc) throw HostError(err::kTypeMismatch, "Type mismatch: a schema document is expected");
      add(ns, *doc);
    } else {
      add(ns, FileArg(args[1]));
    }
    return Variant();
  }
  if (NameIs(name, "length")) return Variant(length());
  if (NameIs(name, "validateOnLoad")) return Setting(kind, args) ? Variant() : Variant(true);
  ThrowNoMember(name);
}

std::shared_ptr<Dispatch> CreateXmlObject(std::string_view progId) {
  std::string id(progId);
  for (char& c : id)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  if (id.starts_with("msxml2.domdocument") || id.starts_with("msxml2.freethreadeddomdocument") ||
      id == "microsoft.xmldom" || id == "msxml.domdocument")
    return XmlDocument::Create();
  if (id.starts_with("msxml2.xmlschemacache")) return std::make_shared<XmlSchemaCache>();
  return nullptr;
}

}  // namespace fern
