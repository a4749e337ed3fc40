// The placeholder engine of the listing and request teasers: the template is scanned once and
// each placeholder is looked up in the host database (see placeholder_grammar.h for the
// grammar). Labels, units and fixed words are translated through the content-language
// dictionaries; position 0, the main language, is never translated.
#include <set>

#include "host/CUDDictionary.h"
#include "host/cUtil.h"
#include "platform/host_error.h"
#include "platform/vb.h"
#include "website/cWebserverV2.h"
#include "website/placeholder_grammar.h"

namespace fern {

namespace {

using website::Placeholder;

// The value of a column, Null when the row has no such column (the tables of listings and
// requests don't carry the same columns).
Variant ColumnOr(const db::Recordset& rs, const std::string& name) {
  const int at = rs.FindField(name);
  return at < 0 ? Variant::Null() : rs.Value(static_cast<size_t>(at));
}

std::string Text(const db::Recordset& rs, const std::string& name) {
  return cUtil::k(ColumnOr(rs, name));
}

// A key as the visited set compares it: without braces, upper case.
std::string KeyOf(const std::string& dsn) {
  std::string k = dsn;
  cUtil::removeBrace(k);
  return vb::UCase(vb::Trim(k));
}

}  // namespace

std::string cWebserverV2::ExpandPlaceholders(const std::string& key, const std::string& templ,
                                             const std::string& kind, int32_t language,
                                             bool& inherit) {
  return website::ExpandTemplate(templ, [&](const std::string& inner) {
    return ResolvePlaceholder(key, inner, kind, language, inherit);
  });
}

std::string cWebserverV2::ResolvePlaceholder(const std::string& key, const std::string& inner,
                                             const std::string& kind, int32_t language,
                                             bool& inherit) {
  const Placeholder p = website::ParsePlaceholder(inner);
  const CUDDictionary* dict = nullptr;
  if (language != 0) {
    if (language < 0 || static_cast<size_t>(language) >= dictionaries_.size())
      throw HostError(err::kSubscript,
                      "Kein Wörterbuch für die Inhaltssprache " + std::to_string(language) + ".",
                      "ResolvePlaceholder");
    dict = dictionaries_[static_cast<size_t>(language)].get();
  }
  auto word = [&](const std::string& german) { return dict ? dict->FLDART(german, 1) : german; };
  const bool listing = kind == "OBJ";

  std::string unit = p.unit;
  if (dict && !unit.empty()) {
    const std::string translated = dict->FLDART(unit, 3);
    if (!translated.empty()) unit = translated;
  }

  std::string label = p.label;
  std::string value;
  if (p.mode == '@') {
    auto rs = Query(listing ? "SELECT * FROM OBJ where obj.dsn = " + cUtil::SqlStr(key) + " "
                            : "SELECT * FROM ANF where anf.dsn = " + cUtil::SqlStr(key) + " ");
    if (dict) label = dict->FLDART(label, 1);
    if (rs->Eof()) return {};
    try {
      int at = dict ? rs->FindField(p.name + "_LCID" + std::to_string(dict->LCID())) : -1;
      if (at < 0) at = rs->FindField(p.name);
      if (at >= 0) value = cUtil::k(rs->Value(static_cast<size_t>(at)));
      if (vb::UCase(p.name) == "PROV_INT") {
        const std::string fixed = website::CommissionWord(value, ColumnOr(*rs, "EART"));
        if (!fixed.empty()) value = word(fixed);
      }
    } catch (const std::exception&) {
      // A column that can't be read leaves the placeholder empty.
      value.clear();
    }
    return website::ComposePlaceholder(label, value, unit);
  }

  // A field: the listing's own value; with inheritance the nearest ancestor's. Each listing is
  // asked once, so a chain that leads back to itself ends.
  std::shared_ptr<db::Recordset> rs;
  if (listing) {
    std::set<std::string> visited;
    std::string current = key;
    while (!current.empty() && visited.insert(KeyOf(current)).second) {
      rs = Query(
          "SELECT TOP 1 OBJDET.*,FLDART.* FROM OBJ "
          "INNER JOIN objdet on obj.dsn = objdet.obj_dsn "
          "INNER JOIN fldart ON objdet.fldart_dsn = fldart.dsn "
          "WHERE obj.dsn = " +
          cUtil::SqlStr(current) + " AND fldart.kürzel = " + cUtil::SqlStr(p.name));
      if (!rs->Eof() || !inherit) break;
      auto parent = Query("SELECT OBJ_DSN FROM OBJ WHERE DSN = " + cUtil::SqlStr(current));
      current = parent->Eof() ? std::string() : cUtil::k(parent->Value("OBJ_DSN"));
    }
  } else {
    rs = Query(
        "SELECT * FROM ANF "
        "inner join anfdet on anf.dsn = anfdet.anf_dsn "
        "INNER JOIN fldart ON anfdet.fldart_dsn = fldart.dsn "
        "where anf.dsn = " +
        cUtil::SqlStr(key) + " and fldart.kürzel = " + cUtil::SqlStr(p.name));
  }
  if (!rs || rs->Eof()) return {};

  const std::string shortName = Text(*rs, "kürzel");
  if (p.mode != '$') {
    const bool teaserLabel = cUtil::b(ColumnOr(*rs, "blnkurzexpose"));
    const std::string stored = Text(*rs, teaserLabel ? "bezkurzexpose" : "bezextern");
    label = dict ? dict->FLDART(shortName, teaserLabel ? 3 : 2) : stored;
    if (label.empty()) label = stored;
  }

  const Variant typeCode = ColumnOr(*rs, "typ");
  const int32_t typ = typeCode.IsNull() || typeCode.IsEmpty() ? -1 : vb::CLng(typeCode);
  const Variant intervall = ColumnOr(*rs, "intervall");
  const bool intervalWords =
      dict && !intervall.IsNull() && !intervall.IsEmpty() && vb::CDbl(intervall) == 1;
  auto interval = [&](const std::string& v) {
    return intervalWords ? website::TranslateIntervalWords(v, word) : v;
  };
  switch (typ) {
    case 0: {
      auto option = Query("SELECT Bezeichnung FROM fldartop WHERE dsn = " +
                          cUtil::SqlUid(ColumnOr(*rs, "fldartop_dsn")) + " ");
      if (!option->Eof()) value = cUtil::k(option->Value(size_t{0}));
      if (dict && !value.empty()) {
        const std::string translated = dict->FLDARTOP(shortName, value);
        if (!translated.empty()) value = translated;
      }
      break;
    }
    case 1: {
      value = interval(website::TeaserRange(ColumnOr(*rs, "von_num"), ColumnOr(*rs, "bis_num")));
      if (!value.empty()) {
        auto company = Query("Select * from std");
        if (!company->Eof()) {
          const std::string currency = Text(*company, "Währung");
          if (!currency.empty()) value += " " + currency;
        }
      }
      break;
    }
    case 2:
    case 6:
      value = interval(Text(*rs, "eingabe"));
      break;
    case 3:
      if (dict) value = Text(*rs, "Eingabe_LCID" + std::to_string(dict->LCID()));
      if (value.empty()) value = Text(*rs, "Eingabe");
      break;
    case 4: {
      const Variant von = ColumnOr(*rs, "von_num");
      value = word(!von.IsNull() && !von.IsEmpty() && vb::CDbl(von) != 0 ? "Ja" : "Nein");
      break;
    }
    case 7: {
      auto ad =
          Query("Select * from AD where DSN = " + cUtil::SqlUid(Variant(Text(*rs, "LINK_DSN"))));
      if (!ad->Eof()) {
        value = Text(*ad, "Name");
        const std::string street = vb::Trim(Text(*ad, "STRASSE"));
        if (!street.empty()) value += ", " + street;
        const std::string place = vb::Trim(Text(*ad, "LAND_PLZ") + " " + Text(*ad, "ORT"));
        if (!place.empty()) value += ", " + place;
      }
      break;
    }
    case 10: {
      auto project = Query("Select BEZEICHNUNG from PROJEKTE where DSN = " +
                           cUtil::SqlUid(Variant(Text(*rs, "LINK_DSN"))));
      if (!project->Eof()) value = cUtil::k(project->Value("BEZEICHNUNG"));
      break;
    }
    default:
      value = Text(*rs, "eingabe");
  }
  return website::ComposePlaceholder(label, value, unit);
}

}  // namespace fern
