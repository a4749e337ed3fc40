// The mapping engine: one mapping file applied to one listing element. Values from the data are
// compared in code, never put into XPath text, so any character in them is safe.
#include <functional>
#include <unordered_map>

#include "host/cDal.h"
#include "host/cUtil.h"
#include "openimmo/cImmoXmlV2.h"
#include "openimmo/mapping_engine.h"
#include "openimmo/openimmo_internal.h"
#include "platform/host_error.h"

namespace fern::openimmo {

namespace {

// The listing's elements by local name, in document order; made once per mapping pass. Copies
// the engine inserts go in after their original, so the first of a name stays the first.
using ElementIndex = std::unordered_map<std::string, std::vector<XmlNodePtr>>;

// Only the schema's elements: the customer's own elements (inside user_defined_anyfield, where
// the schema declares none) are found through their block.
void IndexElements(const XmlNodePtr& node, ElementIndex& index, const std::string& prefix) {
  for (const XmlNodePtr& c : node->ChildElements()) {
    if (c->nodeName().compare(0, prefix.size(), prefix) != 0) continue;
    index[c->baseName()].push_back(c);
    if (c->baseName() != "user_defined_anyfield") IndexElements(c, index, prefix);
  }
}

// The declaration of the customer's element `name` below the mapping section's
// user_defined_anyfield; null when the section declares none of that name.
XmlNodePtr CustomDeclaration(const XmlNodePtr& section, const std::string& name) {
  if (!section) return nullptr;
  std::function<XmlNodePtr(const XmlNodePtr&)> find = [&](const XmlNodePtr& n) -> XmlNodePtr {
    for (const XmlNodePtr& c : n->ChildElements()) {
      if (c->baseName() == "element" && c->namespaceURI() == kXsdNs && Attr(c, "name") == name)
        return c;
      if (XmlNodePtr d = find(c)) return d;
    }
    return nullptr;
  };
  for (const XmlNodePtr& block : section->ChildElements("user_defined_anyfield"))
    if (XmlNodePtr d = find(block)) return d;
  return nullptr;
}

// The first element (document order) named path[last] whose ancestors match the earlier names
// step by step, all below `root`.
XmlNodePtr FindPath(const XmlNodePtr& root, const ElementIndex& index,
                    const std::vector<std::string>& path) {
  auto found = index.find(path.back());
  if (found == index.end()) return nullptr;
  for (const XmlNodePtr& n : found->second) {
    XmlNodePtr cur = n;
    bool ok = true;
    for (size_t i = path.size() - 1; ok && i-- > 0;) {
      cur = cur->parentNode();
      ok = cur && cur->raw() != root->raw() && cur->baseName() == path[i];
    }
    if (ok) return n;
  }
  return nullptr;
}

std::string First(const std::vector<std::string>& v) { return v.empty() ? std::string() : v[0]; }

bool IsEmptyAttr(XmlNode& node, const std::string& name) {
  auto v = node.getAttribute(name);
  return !v || v->empty();
}

std::string Upper(const std::string& s) { return vb::UCase(s); }

}  // namespace

std::vector<std::string> MappingEngine::Feldart(db::Recordset& details, const std::string& code,
                                                const std::string& column) {
  return run_.data->GetFeldartWert(details, code, column, 0, *run_.dal, run_.connect);
}

std::string MappingEngine::GetNodeValue(const XmlNodePtr& node, const std::string& name,
                                        bool isAttribute) {
  if (!node) return {};
  if (isAttribute) return Attr(node, name);
  if (name == "#text") return vb::Trim(node->text());
  for (const XmlNodePtr& c : node->ChildElements(name))
    if (c->prefix() == node->prefix()) return vb::Trim(c->text());
  return {};
}

std::string MappingEngine::FormatByType(int32_t eType, const std::string& value, bool invert,
                                        const std::string& attrName) const {
  switch (eType) {
    case etype::kOther:
    case etype::kText:
      return cImmoXmlV2::RemoveControlChars(value);
    case etype::kInteger:
      if (!vb::IsNumeric(Variant(value))) return {};
      return vb::Format(Variant(cUtil::RoundKorrekt(cUtil::my_val(value), 0)), "0");
    case etype::kBoolean: {
      const double n = cUtil::my_val(value);
      return (invert ? n <= 0 : n > 0) ? "true" : "false";
    }
    case etype::kDate: {
      if (!vb::IsDate(Variant(value))) return {};
      return vb::Format(Variant::Date(vb::CDate(Variant(value))), "yyyy-mm-dd");
    }
    case etype::kDecimal: {
      if (!vb::IsNumeric(Variant(value))) return {};
      const double n = cUtil::my_val(value);
      if (attrName == "breitengrad" || attrName == "laengengrad")
        return FormatNumber("0.000000000000###############", vb::NumberToText(n));
      return FormatNumber("0.00", vb::NumberToText(cUtil::RoundKorrekt(n, 2)));
    }
    default:
      return {};
  }
}

void MappingEngine::FillFromZuordnungen(XmlDocument& mapping, const XmlNodePtr& listing,
                                        db::Recordset& rsboersen, db::Recordset& rsObj,
                                        db::Recordset& details, XmlDocument& schema) {
  MapContext c{&rsboersen, &rsObj, &details, &schema, &mapping};
  XmlNodePtr root = mapping.documentElement();
  if (!root) return;
  const XmlNodePtr& listingPtr = listing;
  ElementIndex index;
  IndexElements(listing, index, run_.settings.prefix);
  for (const XmlNodePtr& entry : List(mapping.selectNodes(".//zuordnung/element"))) {
    std::string E = Attr(entry, "element");
    if (E.empty()) continue;
    XmlNodePtr grand = entry->parentNode() ? entry->parentNode()->parentNode() : nullptr;
    const std::string S = grand ? grand->baseName() : std::string();
    // The mapping's own declarations come first: a customer's element may share its name
    // with one of the schema's.
    XmlNodePtr declared = CustomDeclaration(grand, E);
    XmlNodePtr target;
    if (!declared) {
      target = FindPath(listingPtr, index, {S, "energiepass", E});
      if (!target) target = FindPath(listingPtr, index, {S, E});
      if (!target) target = FindPath(listingPtr, index, {E});
    }
    bool userDefined = false;
    if (!target) {
      target = CopyUserDefinedAnyfield(*listing, S, E);
      if (!target) continue;
      userDefined = true;
    }
    XmlNodePtr parent = target->parentNode();
    const std::string parentName = parent ? parent->baseName() : std::string();
    if (parentName == "kontaktperson" || parentName == "anhaenge") continue;
    if (parentName == "geo") {
      if (E == "strasse") {
        if (target->text().empty()) FillHausnummer(*entry, *target, c);
        continue;
      }
      if (E == "plz" || E == "ort" || E == "land") {
        if (target->text().empty()) FillGeoFromLandPlzOrt(*entry, *target, c);
        continue;
      }
    }
    if (parentName == "freitexte" && (E == "lage" || E == "ausstatt_beschr" ||
                                      E == "objektbeschreibung" || E == "sonstige_angaben")) {
      const Variant& lang = rsObj.Value("LANG");
      if (!lang.IsNull() && !vb::Truth(lang)) {
        auto info = run_.schemaTemplate.GetElementInfo(E, schema, parentName);
        GetSourceValue(*entry, target, c, info.get());
      }
      continue;
    }
    std::shared_ptr<tElementInfo> info;
    if (userDefined) {
      mapping.setProperty("SelectionNamespaces",
                          Variant(std::string("xmlns:xsd='") + kXsdNs + "'"));
      customTypes_.ClearElementCache();
      info = declared ? customTypes_.GetElementInfo(declared, mapping, parentName)
                      : customTypes_.GetElementInfo(E, mapping, parentName);
      mapping.setProperty("SelectionNamespaces", Variant(std::string()));
    } else {
      info = run_.schemaTemplate.GetElementInfo(E, schema, parentName);
    }
    if (E == "user_defined_simplefield")
      GetEnumElementValue(target, *entry, *info, c);
    else
      FillElementByInfo(*entry, target, c, *info);
  }
}

void MappingEngine::FillElementByInfo(XmlNode& entry, XmlNodePtr& target, const MapContext& c,
                                      tElementInfo& info) {
  if (!(info.blnHasAtts && !info.blnMixedCont && !info.blnComplexTypeSimpleContent))
    GetSourceValue(entry, target, c, &info);
  if (!info.blnHasAtts) return;
  if (!info.blnMixedCont || !target->text().empty()) {
    if (info.eType == etype::kBoolean && !info.aryAttribs.empty() &&
        vb::LCase(info.aryAttribs[0].strAttrName) == "true" && !entry.hasChildNodes())
      SetFlagElement(entry, *target, c);
    else
      FillAttributes(entry, *target, c, &info);
  }
}

void MappingEngine::GetSourceValue(XmlNode& entry, XmlNodePtr& target, const MapContext& c,
                                   tElementInfo* given) {
  std::shared_ptr<tElementInfo> looked;
  tElementInfo* info = given;
  if (!info || info->strElementname.empty()) {
    XmlNodePtr parent = target->parentNode();
    looked = run_.schemaTemplate.GetElementInfo(target->baseName(), *c.schema,
                                                parent ? parent->baseName() : "");
    info = looked.get();
  }
  if (!target->text().empty() && (Upper(target->baseName()) != "DISTANZEN" || info->lMaxOccurs < 2))
    return;
  auto attr = [&](const char* n) {
    auto v = entry.getAttribute(n);
    return v ? vb::Trim(*v) : std::string();
  };

  if (info->lMaxOccurs >= 2 && !target->text().empty()) {
    XmlNodePtr parent = target->parentNode();
    const auto same = parent->ChildElements(target->baseName());
    if (static_cast<int32_t>(same.size()) < info->lMaxOccurs) {
      XmlNodePtr copy = target->cloneNode(true);
      copy->setText("");
      if (auto map = copy->attributes())
        for (int32_t i = 0; i < map->length(); ++i) {
          XmlNodePtr a = map->item(i);
          const std::string n = a->nodeName();
          if (n != "xmlns" && n.rfind("xmlns:", 0) != 0) copy->setAttribute(n, "");
        }
      XmlNodePtr next = target->nextSibling();
      if (next)
        parent->insertBefore(copy, next);
      else
        parent->appendChild(copy);
      target = copy;
    }
  }
  if (!target->text().empty()) return;

  const std::string src = attr("quelle");
  const std::string typ = Upper(attr("quelltyp"));
  const std::string special = Upper(attr("special"));
  std::string V;
  if (typ == "FELDART") {
    db::Recordset& d = *c.details;
    if (special == "VON")
      V = First(Feldart(d, src, "VON_STR"));
    else if (special == "BIS")
      V = First(Feldart(d, src, "BIS_STR"));
    else if (special == "VALUE")
      V = First(Feldart(d, src, "VON_NUM"));
    else if (special == "WERT")
      V = First(Feldart(d, src, "WERT"));
    else if (special == "DATEVALUE") {
      const double n = cUtil::my_val(First(Feldart(d, src, "von_num")));
      if (n != 0) V = vb::Format(Variant::Date(n), "yyyy-mm-dd");
    } else if (special == "BOOLEANVALUE") {
      V = cUtil::my_val(First(Feldart(d, src, "von_num"))) != 0 ? "true" : "false";
    } else {
      const std::string ft = First(Feldart(d, src, "TYP"));
      std::string column;
      if (info->eType == 0 || ((ft == "0" || ft == "3" || ft == "7") && info->eType == 1))
        column = "EINGABE" + run_.data->strTransLang();
      V = First(Feldart(d, src, column));
    }
  } else if (typ == "FELD") {
    std::string column = src;
    if ((info->eType == 0 || info->eType == 1) &&
        (std::string(",PROVINFO,und weitere Ausnahmen...,").find("," + Upper(src) + ",") !=
             std::string::npos ||
         vb::Like(src, "TEXT*")))
      column += run_.data->strTransLang();
    V = vb::Trim(cUtil::k(c.obj->Value(column)));
  }
  if (V.empty()) return;
  if (info->lmaxLength > 0) V = vb::Left(V, info->lmaxLength);
  V = MapEnumValue(entry, V);
  const std::string out = FormatByType(info->eType, V, special == "NOT");
  if (!out.empty()) target->setText(out);
}

std::string MappingEngine::MapEnumValue(XmlNode& entry, const std::string& value) const {
  for (const XmlNodePtr& e : entry.ChildElements("enum")) {
    if (e->getAttribute("quelle").value_or("") != value) continue;
    const std::string v = e->getAttribute("value").value_or("");
    return v.empty() ? value : v;
  }
  return value;
}

void MappingEngine::SetFlagElement(XmlNode& entry, XmlNode& target, const MapContext& c) {
  const std::string src = vb::Trim(entry.getAttribute("quelle").value_or(""));
  const std::string typ = Upper(vb::Trim(entry.getAttribute("quelltyp").value_or("")));
  std::string t;
  if (typ == "FELDART")
    t = First(Feldart(*c.details, src, ""));
  else if (typ == "FELD")
    t = cUtil::k(c.obj->Value(src));
  if (t.empty()) return;
  bool flag = Upper(t) == "J" || cUtil::my_val(t) != 0;
  if (Upper(vb::Trim(entry.getAttribute("special").value_or(""))) == "NOT") flag = !flag;
  target.setText(flag ? "true" : "false");
}

void MappingEngine::GetEnumElementValue(XmlNodePtr& target, XmlNode& entry, tElementInfo& info,
                                        const MapContext& c) {
  info.eType = ToLong(entry.getAttribute("enumElementType").value_or(""));
  XmlNodePtr copy = target->cloneNode(true);
  XmlNodePtr parent = target->parentNode();
  if (XmlNodePtr next = target->nextSibling())
    parent->insertBefore(copy, next);
  else
    parent->appendChild(copy);
  const std::string src = vb::Trim(entry.getAttribute("quelle").value_or(""));
  if (Upper(src) == "LAST_TRANSFER") {
    auto rs = run_.dal->GetRecordset(
        run_.connect, "SELECT letzte_uebertragung FROM boersenobj WHERE boersenobj.boersen_dsn = " +
                          cUtil::SqlUid(c.boersen->Value("DSN")) +
                          " AND boersenobj.obj_dsn = " + cUtil::SqlUid(c.obj->Value("DSN")));
    if (rs && !rs->Eof()) copy->setText(cUtil::k(rs->Value("letzte_uebertragung")));
  } else {
    GetSourceValue(entry, copy, c, &info);
  }
  if (copy->text().empty()) return;
  std::string name;
  auto attribs = entry.ChildElements("attribut");
  if (!attribs.empty()) name = Attr(attribs.front(), "quelle");
  if (name.empty()) name = src;
  copy->setAttribute("feldname", name);
}

void MappingEngine::FillAttributes(XmlNode& entry, XmlNode& target, const MapContext& c,
                                   tElementInfo* given) {
  std::shared_ptr<tElementInfo> looked;
  tElementInfo* info = given;
  if (!info || info->strElementname.empty()) {
    XmlNodePtr parent = target.parentNode();
    looked = run_.schemaTemplate.GetElementInfo(target.baseName(), *c.schema,
                                                parent ? parent->baseName() : "");
    info = looked.get();
  }
  const std::string src =
      info->blnMixedCont ? std::string() : vb::Trim(entry.getAttribute("quelle").value_or(""));
  if (src.empty()) {
    SetAttributeValues(entry, target, c, *info);
    return;
  }
  const std::string typ = Upper(vb::Trim(entry.getAttribute("quelltyp").value_or("")));
  std::vector<std::string> values;
  if (typ == "FELDART")
    values = Feldart(*c.details, src, "");
  else if (typ == "FELD")
    values = {cUtil::k(c.obj->Value(src))};
  if (values.empty() || values[0].empty()) return;

  const auto attribs = entry.ChildElements("attribut");
  auto optionFor = [&](const std::string& v, const std::string& attrName) {
    for (const XmlNodePtr& a : attribs)
      if (a->getAttribute("quelle").value_or("") == v &&
          a->getAttribute("quelltyp").value_or("") == "OPTION" &&
          a->getAttribute("attribut").value_or("") == attrName)
        return true;
    return false;
  };
  for (const tAttribute& A : info->aryAttribs) {
    if (A.strAttrName == "fieldname") {
      for (const XmlNodePtr& a : attribs) {
        const std::string qt = a->getAttribute("quelltyp").value_or("");
        if (qt == "FELDART" || qt == "FELD") {
          target.setAttribute("fieldname", Attr(a, "quelle"));
          break;
        }
      }
    } else if (A.eType == etype::kBoolean) {
      for (const std::string& v : values)
        if (optionFor(v, A.strAttrName) && IsEmptyAttr(target, A.strAttrName))
          target.setAttribute(A.strAttrName, "true");
      if (A.strAttrName == "fieldvalue" && IsEmptyAttr(target, A.strAttrName))
        target.setAttribute(A.strAttrName, "false");
    } else if (A.strAttrName == "true" && info->eType == etype::kBoolean) {
      for (const std::string& v : values)
        if (optionFor(v, "true")) target.setText("true");
    } else {
      for (const std::string& v : values) {
        XmlNodePtr found;
        for (const XmlNodePtr& a : attribs) {
          for (const XmlNodePtr& o : a->ChildElements("option"))
            if (o->getAttribute("quelle").value_or("") == v &&
                o->getAttribute("quelltyp").value_or("") == "OPTION") {
              found = o;
              break;
            }
          if (found) break;
        }
        if (found && IsEmptyAttr(target, A.strAttrName))
          target.setAttribute(A.strAttrName, found->getAttribute("option").value_or(""));
      }
    }
  }
}

void MappingEngine::SetAttributeValues(XmlNode& entry, XmlNode& target, const MapContext& c,
                                       tElementInfo& info) {
  std::vector<XmlNodePtr> nodes;
  const bool singleEnum = info.aryAttribs.size() == 1 && info.aryAttribs[0].eType == 1 &&
                          info.aryAttribs[0].HasOptions();
  for (const XmlNodePtr& a : entry.ChildElements("attribut")) {
    if (singleEnum) {
      for (const XmlNodePtr& o : a->ChildElements("option"))
        if (o->getAttribute("quelltyp").value_or("") == "FELDART") nodes.push_back(o);
    } else {
      const std::string qt = a->getAttribute("quelltyp").value_or("");
      if (qt == "FELDART" || qt == "FELD") nodes.push_back(a);
    }
  }
  const bool invert = Upper(vb::Trim(entry.getAttribute("special").value_or(""))) == "NOT";
  size_t n = 0;
  for (const XmlNodePtr& node : nodes) {
    ++n;
    const std::string src = Attr(node, "quelle");
    std::string attrName = Attr(node, "attribut");
    if (attrName.empty() && singleEnum) attrName = info.aryAttribs[0].strAttrName;
    const std::string special = Upper(Attr(node, "special"));
    const std::string qt = Attr(node, "quelltyp");
    db::Recordset& d = *c.details;
    std::string value;
    if (special == "VON")
      value = First(Feldart(d, src, "VON_STR"));
    else if (special == "BIS")
      value = First(Feldart(d, src, "BIS_STR"));
    else if (special == "VALUE")
      value = First(Feldart(d, src, "VON_NUM"));
    else if (special == "WERT")
      value = First(Feldart(d, src, "WERT"));
    else if (qt == "FELD")
      value = cUtil::k(c.obj->Value(src));
    else if (qt == "FELDART") {
      const bool textual = n <= info.aryAttribs.size() && info.aryAttribs[n - 1].eType <= 1;
      value = First(Feldart(d, src, textual ? "EINGABE" + run_.data->strTransLang() : ""));
    }
    if (value.empty()) continue;
    const tAttribute* rec = info.Attribute(attrName);
    const std::string out = FormatByType(rec ? rec->eType : 0, value, invert, attrName);
    if (!out.empty() && !attrName.empty()) target.setAttribute(attrName, out);
  }
}

}  // namespace fern::openimmo
