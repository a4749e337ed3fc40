// Listing rows of the site's import and their texts per content language.
#include <set>

#include "core/cFernDispatcher.h"
#include "host/cUtil.h"
#include "platform/vb.h"
#include "services/cImmoHelperV2.h"
#include "website/cWebserverV2.h"
#include "website/pass_over.h"
#include "website/sql_literals.h"
#include "website/text_helpers.h"

namespace fern {

using website::PassOver;
using website::SqlValue;
using website::StringToHTML;
using website::StripBraces;

namespace {

constexpr size_t kFreeTexts = 10;
const char* const kFreeTextColumns[kFreeTexts] = {
    "TEXTOBJEKT", "TEXTLAGE",   "TEXTAUSSTATTUNG", "TEXTBEBAUBARKEIT", "TEXTERSCHLIESSUNG",
    "TEXTFREI",   "TEXTEXTRA1", "TEXTEXTRA2",      "TEXTEXTRA3",       "TEXTEXTRA4"};

// A flag or code written unquoted: a whole number, 1/0 for a yes/no value, NULL for a missing
// one (an empty place would break the whole statement).
std::string SqlInteger(const Variant& v) {
  if (v.type() == VType::Boolean) return v.boolVal() ? "1" : "0";
  const std::optional<double> n = website::NumberOf(v);
  if (!n || *n > 2147483647.0 || *n < -2147483648.0) return "NULL";
  return std::to_string(vb::CLng(Variant(*n)));
}

std::string ParentKeyOf(const Variant& v) { return StripBraces(vb::Trim(cUtil::k(v))); }

}  // namespace

bool cWebserverV2::InheritanceSwitch() {
  if (inheritanceSwitch_ < 0) {
    bool on = true;
    PassOver([&] { on = cUtil::b(Variant(Ini("OPTIONS", "VERERBTE_FELDARTENPLATZHALTER", "1"))); });
    inheritanceSwitch_ = on ? 1 : 0;
  }
  return inheritanceSwitch_ == 1;
}

cWebserverV2::ListingTexts cWebserverV2::GatherListingTexts(db::Recordset& rsObj, bool inherits) {
  const size_t count = languages_.Count();
  ListingTexts t;
  t.free.assign(kFreeTexts, std::vector<std::string>(count));
  t.teaser.assign(count, {});
  t.keyFacts.assign(count, {});
  const std::string ownKey = StripBraces(cUtil::k(rsObj.Value("DSN")));
  for (size_t p = 0; p < count; ++p)
    for (size_t c = 0; c < kFreeTexts; ++c)
      PassOver([&] {
        t.free[c][p] = StringToHTML(rsObj.Value(kFreeTextColumns[c] + languages_.Suffix(p)));
      });

  for (size_t p = 0; p < count; ++p) {
    const int32_t position = static_cast<int32_t>(p);
    bool flag = inherits;
    std::string parent;
    if (flag) PassOver([&] { parent = StringToHTML(rsObj.Value("OBJ_DSN")); });
    PassOver([&] {
      bool inherit = flag;
      t.teaser[p] =
          ExpandPlaceholders(currentListingKey, settings.OBJ_KURZEXPOSE, "OBJ", position, inherit);
    });
    PassOver([&] {
      m_oImmoHelper->strTransLang(languages_.Suffix(p));
      std::vector<std::string> unused;
      auto details = m_oImmoHelper->GetObjektDetails(
          rsObj, "", " order by OBJ.KENNUNG, FLDART.SORTIERUNG", unused);
      t.keyFacts[p] = CreateEckdatenHtml(details.get(), position);
    });

    auto anyEmpty = [&] {
      for (size_t c = 0; c < kFreeTexts; ++c)
        if (t.free[c][p].empty()) return true;
      return false;
    };
    // Each listing once: a chain that leads back to one already read ends there.
    std::set<std::string> visited{vb::UCase(ownKey)};
    while (flag && anyEmpty()) {
      if (!visited.insert(vb::UCase(StripBraces(parent))).second) break;
      std::shared_ptr<db::Recordset> row;
      try {
        row = Query("select OBJ.* from OBJ where OBJ.DSN = " + cUtil::SqlStr(Variant(parent)));
      } catch (const std::exception&) {
        break;
      }
      if (!row || row->Eof()) break;
      std::string next;
      PassOver([&] { next = cUtil::k(row->Value("OBJ_DSN")); });
      if (next.empty() || !InheritanceSwitch()) {
        flag = false;
        parent.clear();
      } else {
        parent = next;
      }
      for (size_t c = 0; c < kFreeTexts; ++c)
        if (t.free[c][p].empty())
          PassOver([&] {
            t.free[c][p] = StringToHTML(row->Value(kFreeTextColumns[c] + languages_.Suffix(p)));
          });
    }
  }
  return t;
}

std::shared_ptr<db::Recordset> cWebserverV2::CreateImportScript_InsertTable_DAT(
    std::shared_ptr<db::Recordset>& rsObj, db::Recordset& rsboersen) {
  rsObj = Query(
      "select STATUS, KURZ, LANG, ADRESSE_ZEIGEN, LETZTE_UEBERTRAGUNG, OBJ.* from BOERSENOBJ "
      "inner join OBJ on BOERSENOBJ.OBJ_DSN = OBJ.DSN "
      "where OBJ.TRANSFER=0 AND obj.FArchiv<2 and (LANG = 1 or KURZ = 1) "
      "and BOERSEN_DSN = " +
      cUtil::SqlStr(rsboersen.Value("DSN")) + " order by KENNUNG");
  db::Recordset& rs = *rsObj;
  // The picture rows of listings that left the site go in the same run as the listings.
  auto dropLeftPictures = [&] {
    WriteImportStatement("delete from $table_pic where DSN not in (select DSN from $table_dat)");
  };
  if (rs.Eof()) {
    dropLeftPictures();
    return rsObj;
  }

  std::string memberZone;
  PassOver([&] { memberZone = GetFldArtDsn(); });
  const bool inheritance = InheritanceSwitch();

  size_t i = 0;
  for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext(), ++i) {
    trackingArray.resize(i + 1);
    std::string dsn;
    PassOver([&] { dsn = cUtil::k(rs.Value("DSN")); });
    currentListingKey = StripBraces(dsn);
    int16_t member = 0;
    PassOver([&] { member = GetObjDetYesNo(dsn, memberZone); });
    std::string parentKey;
    PassOver([&] {
      const Variant& parent = rs.Value("OBJ_DSN");
      if (!parent.IsNull() && inheritance) parentKey = ParentKeyOf(parent);
    });
    ListingTexts texts = GatherListingTexts(rs, !parentKey.empty());

    auto value = [&](const char* column) {
      std::string out = "NULL";
      PassOver([&] { out = SqlValue(rs.Value(column)); });
      return out;
    };
    auto integer = [&](const char* column) {
      std::string out = "NULL";
      PassOver([&] { out = SqlInteger(rs.Value(column)); });
      return out;
    };
    std::string intern = "NULL";
    PassOver([&] { intern = SqlValue(Variant(StringToHTML(rs.Value("INTERN")))); });
    PassOver([&] {
      WriteImportStatement(
          "insert into $table_dat (DSN,MEMBER,KENNUNG,INTERN,EART,KOLLEGE_KENNUNG,KURZ,LANG,"
          "ADRESSE,OBJDSN,PROVINT,PROVANB) values(" +
          SqlValue(Variant(currentListingKey)) + "," + std::to_string(member) + "," +
          value("KENNUNG") + "," + intern + "," + integer("EART") + "," + value("KOLLEGE_KENNUNG") +
          "," + integer("KURZ") + "," + integer("LANG") + "," + integer("ADRESSE_ZEIGEN") + "," +
          SqlValue(Variant(parentKey)) + "," + value("PROV_INT") + "," + value("PROV_ANB") + ")");
    });
    const std::pair<const char*, const std::vector<std::string>*> updates[] = {
        {"KURZEXPOSE", &texts.teaser},         {"EXPOSE", &texts.keyFacts},
        {"TEXTFREI", &texts.free[5]},          {"TEXTLAGE", &texts.free[1]},
        {"TEXTAUSSTATTUNG", &texts.free[2]},   {"TEXTBEBAUBARKEIT", &texts.free[3]},
        {"TEXTERSCHLIESSUNG", &texts.free[4]}, {"TEXTOBJEKT", &texts.free[0]},
        {"TEXTEXTRA1", &texts.free[6]},        {"TEXTEXTRA2", &texts.free[7]},
        {"TEXTEXTRA3", &texts.free[8]},        {"TEXTEXTRA4", &texts.free[9]}};
    for (const auto& [column, values] : updates)
      PassOver([&] {
        WriteImportStatement("update $table_dat set " +
                             website::LangSetList(column, *values, languages_) +
                             " where DSN=" + SqlValue(Variant(currentListingKey)));
      });
    std::string kennung;
    PassOver([&] { kennung = StringToHTML(rs.Value("KENNUNG")); });
    PassOver([&] { WSMessage("iWSObjekt", kennung); });
    PassOver([&] { CreateImportScript_InsertTable_TERMINE(currentListingKey, parentKey); });
    PassOver([&] { TransferObjectPictures(rs, rsboersen); });
    trackingArray[i] = {StringToHTML(Variant(dsn)), kennung, vb::Now()};
  }
  rs.MoveFirst();
  dropLeftPictures();
  return rsObj;
}

}  // namespace fern
