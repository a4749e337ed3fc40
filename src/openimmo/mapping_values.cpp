// The OpenImmo elements that are not one field to one element: address parts of `geo` from one
// combined field, street and house number, parking-space prices, the currency code, the
// customer's own elements in `user_defined_anyfield` and the listing's content language.
// Values from the data and the mapping are compared in code, never put into XPath text.
#include "core/host_session.h"
#include "host/LanguagePack.h"
#include "host/cUtil.h"
#include "openimmo/cImmoXmlV2.h"
#include "openimmo/mapping_engine.h"
#include "openimmo/openimmo_internal.h"
#include "platform/host_error.h"
#include "platform/msgbox.h"

namespace fern::openimmo {

namespace {

std::string First(const std::vector<std::string>& v) { return v.empty() ? std::string() : v[0]; }

// The element children of `node` written as `qualified` (prefix and local name).
std::vector<XmlNodePtr> Children(const XmlNode& node, const std::string& qualified) {
  std::vector<XmlNodePtr> out;
  for (const XmlNodePtr& c : node.ChildElements())
    if (c->nodeName() == qualified) out.push_back(c);
  return out;
}

XmlNodePtr FirstChild(const XmlNode& node, const std::string& qualified) {
  for (const XmlNodePtr& c : node.ChildElements())
    if (c->nodeName() == qualified) return c;
  return nullptr;
}

// The first descendant (document order) written as `qualified`.
XmlNodePtr FirstDescendant(const XmlNode& node, const std::string& qualified) {
  for (const XmlNodePtr& c : node.ChildElements()) {
    if (c->nodeName() == qualified) return c;
    if (XmlNodePtr d = FirstDescendant(*c, qualified)) return d;
  }
  return nullptr;
}

// The entry `element` directly below a `zuordnung` of `section` whose attribute `element` is
// `name`.
XmlNodePtr EntryOf(const XmlNodePtr& section, const std::string& name) {
  if (!section) return nullptr;
  for (const XmlNodePtr& z : section->ChildElements("zuordnung"))
    if (XmlNodePtr e = z->FindChild("element", "element", name)) return e;
  return nullptr;
}

// The first `attribut` below the entry (at any depth) whose `quelle` is `value`.
XmlNodePtr AttributFor(const XmlNode& entry, const std::string& value) {
  for (const XmlNodePtr& c : entry.ChildElements()) {
    if (c->baseName() == "attribut" && c->getAttribute("quelle").value_or("") == value) return c;
    if (XmlNodePtr d = AttributFor(*c, value)) return d;
  }
  return nullptr;
}

// A mapping document's "xsd" binding for the duration of a scope, then none again.
class XsdBinding {
 public:
  explicit XsdBinding(XmlDocument& doc) : doc_(doc) {
    doc_.setProperty("SelectionNamespaces", Variant(std::string("xmlns:xsd='") + kXsdNs + "'"));
  }
  ~XsdBinding() { doc_.setProperty("SelectionNamespaces", Variant(std::string())); }
  XsdBinding(const XsdBinding&) = delete;
  XsdBinding& operator=(const XsdBinding&) = delete;

 private:
  XmlDocument& doc_;
};

}  // namespace

std::string FormatNumber(const std::string& format, const std::string& value) {
  double n = 0;
  if (!vb::ParseNumber(value, n)) n = vb::Val(value);
  std::string out = vb::Replace(vb::Format(Variant(n), format), ",", ".");
  if (!out.empty() && out.back() == '.') out.pop_back();
  return out;
}

void MappingEngine::FillGeoFromLandPlzOrt(XmlNode& entry, XmlNode& target, const MapContext& c) {
  const std::optional<std::string> source = entry.getAttribute("quelle");
  XmlNodePtr zuordnung = entry.parentNode();
  XmlNodePtr section = zuordnung ? zuordnung->parentNode() : nullptr;
  if (!source || !section) return;
  std::vector<XmlNodePtr> same;
  for (const XmlNodePtr& e : List(section->selectNodes(".//element")))
    if (e->getAttribute("quelle") == source) same.push_back(e);
  const std::string code = vb::Trim(*source);

  if (same.size() == 3) {
    SetPlzOrtLand(*c.details, target, code);
  } else if (same.size() == 2) {
    bool plzOrOrt = true;
    for (const XmlNodePtr& e : same) {
      const std::string name = Attr(e, "element");
      plzOrOrt = plzOrOrt && (name == "ort" || name == "plz");
    }
    if (plzOrOrt)
      SetPlzOrtLand(*c.details, target, code);
    else
      run_.util->MessageBox("unsinnige Feldkombination", mb::kOkOnly);
  } else if (same.size() == 1) {
    tElementInfo fresh;
    XmlNodePtr self = target.selectSingleNode(".");
    if (self) FillElementByInfo(entry, self, c, fresh);
  }
}

void MappingEngine::SetPlzOrtLand(db::Recordset& details, XmlNode& target,
                                  const std::string& code) {
  const std::string value = First(Feldart(details, code, ""));
  if (value.empty()) return;
  std::vector<std::string> parts = run_.data->GetLKZPLZOrtFromString(value);
  parts.resize(3);
  XmlNodePtr geo = target.parentNode();
  if (!geo) return;
  const std::string p = run_.settings.prefix;
  if (XmlNodePtr land = FirstChild(*geo, p + "land"); land && !parts[0].empty())
    land->setAttribute("iso_land", parts[0]);
  if (XmlNodePtr plz = FirstChild(*geo, p + "plz"); plz && !parts[1].empty())
    plz->setText(cImmoXmlV2::RemoveControlChars(parts[1]));
  if (XmlNodePtr ort = FirstChild(*geo, p + "ort"); ort && !parts[2].empty())
    ort->setText(cImmoXmlV2::RemoveControlChars(parts[2]));
}

void MappingEngine::FillHausnummer(XmlNode& entry, XmlNode& target, const MapContext& c) {
  const std::string code = vb::Trim(entry.getAttribute("quelle").value_or(""));
  const std::string value = First(Feldart(*c.details, code, ""));
  if (value.empty()) return;
  std::vector<std::string> parts = cImmoHelperV2::GetStrasseHausnummer(value, false);
  parts.resize(2);
  target.setText(cImmoXmlV2::RemoveControlChars(parts[0]));
  if (XmlNodePtr geo = target.parentNode())
    if (XmlNodePtr nr = FirstChild(*geo, run_.settings.prefix + "hausnummer"))
      nr->setText(cImmoXmlV2::RemoveControlChars(parts[1]));
}

std::string MappingEngine::FormatVonNum(db::Recordset& details, const std::string& code) {
  const std::string value = First(Feldart(details, code, "VON_NUM"));
  if (value == "0") return {};
  return vb::Replace(value, ",", ".");
}

void MappingEngine::FillStellplatz(XmlDocument& mapping, XmlNode& element, db::Recordset& details) {
  XmlNodePtr root = mapping.documentElement();
  XmlNodePtr typ = EntryOf(root, "stellplatztyp");
  if (!typ) return;
  const std::string type = First(Feldart(details, Attr(typ, "quelle"), "WERT"));
  if (type.empty()) return;
  XmlNodePtr a = AttributFor(*typ, type);
  if (!a) return;
  const std::string miete = FormatVonNum(details, Attr(EntryOf(root, "stellplatzmiete"), "quelle"));
  const std::string kauf =
      FormatVonNum(details, Attr(EntryOf(root, "stellplatzkaufpreis"), "quelle"));
  const std::string anzahl = FormatVonNum(details, Attr(EntryOf(root, "anzahl"), "quelle"));
  XmlNodePtr preise = FirstDescendant(element, run_.settings.prefix + "preise");
  XmlNodePtr stp =
      preise ? FirstChild(*preise, run_.settings.prefix + Attr(a, "attribut")) : nullptr;
  if (!stp) return;
  stp->setAttribute("stellplatzmiete", miete);
  stp->setAttribute("stellplatzkaufpreis", kauf);
  stp->setAttribute("anzahl", anzahl);
}

void MappingEngine::FillStellplatzPreise(XmlDocument& mapping, XmlNode& element,
                                         db::Recordset& details) {
  XmlNodePtr root = mapping.documentElement();
  XmlNodePtr typ = EntryOf(root, "stellplatztyp");
  if (!typ) return;
  XmlNodePtr priceSection =
      root->baseName() == "zuordnungen" ? FirstChild(*root, "preise") : nullptr;
  XmlNodePtr preise = FirstDescendant(element, run_.settings.prefix + "preise");
  for (const std::string& type : Feldart(details, Attr(typ, "quelle"), "WERT")) {
    XmlNodePtr a = AttributFor(*typ, type);
    if (!a) continue;
    const std::string name = Attr(a, "attribut");
    XmlNodePtr prices = EntryOf(priceSection, name);
    if (!prices) continue;
    auto price = [&](const char* which) {
      XmlNodePtr node = prices->FindChild("attribut", "attribut", which);
      return FormatVonNum(details, Attr(node, "quelle"));
    };
    // A price the listing does not hold stays empty: "0.00" would offer the space for free.
    // The text has a decimal point already, which the locale's number reading would take for
    // a thousands separator.
    auto decimal = [](const std::string& v) {
      return v.empty() ? v : FormatNumber("0.00", vb::NumberToText(vb::Val(v)));
    };
    const std::string miete = decimal(price("stellplatzmiete"));
    const std::string kauf = decimal(price("stellplatzkaufpreis"));
    const std::string anzahl = price("anzahl");
    XmlNodePtr stp = preise ? FirstChild(*preise, run_.settings.prefix + name) : nullptr;
    if (!stp) continue;
    stp->setAttribute("stellplatzmiete", miete);
    stp->setAttribute("stellplatzkaufpreis", kauf);
    stp->setAttribute("anzahl", anzahl);
  }
}

std::string MappingEngine::GetWaehrungIso(const std::string& currency) const {
  if (currency == "$") return "USD";
  if (currency == "SFr") return "CHF";
  if (currency == "€") return "EUR";
  if (currency == "£") return "GBP";
  return currency;
}

void MappingEngine::FillUserDefinedAnyfield(XmlDocument& doc, XmlDocument& mapping) {
  XmlNodePtr root = mapping.documentElement();
  XmlNodePtr docRoot = doc.documentElement();
  if (!root || !docRoot) return;
  XsdBinding xsd(mapping);
  const std::string p = run_.settings.prefix;
  for (const XmlNodePtr& section : List(root->selectNodes("./*[user_defined_anyfield]"))) {
    const std::string name = section->baseName();
    XmlNodePtr block;
    if (name == "allgemein") {
      if (XmlNodePtr listing = FirstDescendant(*docRoot, p + "immobilie"))
        block = FirstChild(*listing, p + "user_defined_anyfield");
    } else if (XmlNodePtr parent = FirstDescendant(*docRoot, p + name)) {
      block = doc.createNode(1, p + "user_defined_anyfield", run_.settings.ns);
      parent->appendChild(block);
    }
    XmlNodePtr decl = section->selectSingleNode("./user_defined_anyfield");
    if (!block || !decl) continue;
    run_.schemaTemplate.AddSchemaElements(0, decl, block, doc, p, run_.settings.ns);
  }
}

XmlNodePtr MappingEngine::CopyUserDefinedAnyfield(XmlNode& listing, const std::string& section,
                                                  const std::string& name) {
  const std::string p = run_.settings.prefix;
  XmlNodePtr block;
  auto firstFilled = [&](const XmlNode& parent) {
    for (const XmlNodePtr& b : Children(parent, p + "user_defined_anyfield"))
      if (!b->ChildElements().empty()) return b;
    return XmlNodePtr();
  };
  if (section == "allgemein") {
    block = firstFilled(listing);
  } else {
    for (const XmlNodePtr& s : Children(listing, p + section))
      if ((block = firstFilled(*s))) break;
  }
  if (!block) return nullptr;
  const std::string prefix = block->ChildElements().front()->prefix();
  XmlNodePtr found = FirstDescendant(*block, prefix.empty() ? name : prefix + ":" + name);
  if (!found || section != "allgemein" || (name != "plaintext" && name != "flag")) return found;
  // Each entry of these names fills its own element; the declared one stays empty and goes
  // with the empty nodes when the document is saved.
  XmlNodePtr parent = found->parentNode();
  if (!parent) return found;
  try {
    XmlNodePtr copy = parent->appendChild(found->cloneNode(true));
    return copy ? copy : found;
  } catch (const HostError&) {
    return found;
  }
}

std::string MappingEngine::LoadContentLanguages(db::Recordset& rsObj) {
  auto& language = Session().g_oLanguagePack;
  if (!language) return {};
  for (const std::string& lcid : language->ContentLangList()) {
    const std::string column = "TransLang_LCID" + lcid;
    if (rsObj.FindField(column) >= 0 && cUtil::b(rsObj.Value(column))) return "_LCID" + lcid;
  }
  return {};
}

}  // namespace fern::openimmo
