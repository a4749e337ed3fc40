// The field values of the site's listing rows, and the yes/no, member-zone and end-date
// look-ups of the listing and member steps.
#include <cmath>
#include <optional>

#include "core/cFernDispatcher.h"
#include "host/CUDDictionary.h"
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

namespace {

int32_t LongOf(const Variant& v) {
  if (v.IsString()) {
    const std::optional<double> n = website::NumberOf(v);
    return n ? static_cast<int32_t>(*n) : 0;
  }
  if (v.IsNull() || v.IsEmpty()) return 0;
  try {
    return vb::CLng(v);
  } catch (const std::exception&) {
    return 0;
  }
}

// A number as the site's SQL takes it: "." as decimal point; "" for a missing value or text that
// is no number, which would otherwise break the statement.
std::string NumberText(const Variant& v) {
  const std::optional<double> n = website::NumberOf(v);
  if (!n || !std::isfinite(*n)) return {};
  return vb::Replace(vb::NumberToText(*n), ",", ".");
}

std::string Join(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& p : parts) {
    if (p.empty()) continue;
    out += (out.empty() ? "" : ",") + p;
  }
  return out;
}

}  // namespace

std::string cWebserverV2::FieldText(db::Recordset& rows, int32_t language, bool numberAsBis) {
  const size_t position = static_cast<size_t>(language);
  const int32_t typ = LongOf(rows.Value("TYP"));
  switch (typ) {
    case 0: {
      std::string caption = cUtil::k(rows.Value("BEZEICHNUNG"));
      if (language > 0 && position < dictionaries_.size()) {
        const std::string translated =
            dictionaries_[position]->FLDARTOP(cUtil::k(rows.Value("KÜRZEL")), caption);
        if (!translated.empty()) caption = translated;
      }
      return StringToHTML(Variant(caption));
    }
    case 1:
    case 2:
      return NumberText(rows.Value(numberAsBis ? "BIS_NUM" : "VON_NUM"));
    case 3:
      if (language > 0) {
        const int column = rows.FindField("EINGABE" + languages_.Suffix(position));
        if (column >= 0 && !rows.Value(static_cast<size_t>(column)).IsNull())
          return StringToHTML(rows.Value(static_cast<size_t>(column)));
      }
      return StringToHTML(rows.Value("EINGABE"));
    default:
      return StringToHTML(rows.Value("EINGABE"));
  }
}

std::string cWebserverV2::GetFieldValueSQL(db::Recordset& rows, int32_t language, bool from) {
  const int32_t typ = LongOf(rows.Value("TYP"));
  if (typ == 1 || typ == 2) {
    const bool range = rows.FindField("Intervall") >= 0 && LongOf(rows.Value("Intervall")) != 0;
    const std::string n = NumberText(rows.Value(range && !from ? "BIS_NUM" : "VON_NUM"));
    return n.empty() ? "NULL" : n;
  }
  if (typ == 7) {
    const Variant& link = rows.Value("LINK_DSN");
    if (link.IsNull()) return SqlValue(rows.Value("EINGABE"));
    std::string name;
    PassOver([&] {
      auto address = KVApp_->GetRecordset("select * from ad where dsn = " + cUtil::SqlUid(link));
      // A link to an address that is gone names nobody.
      if (address && !address->Eof())
        name = KVApp_->ReplacePlatzhalter(settings.ADDRESSLINK, address.get());
    });
    return SqlValue(Variant(name));
  }
  return SqlValue(Variant(FieldText(rows, language, false)));
}

std::shared_ptr<db::Recordset> cWebserverV2::CreateImportScript_UpdateTable_DAT(
    std::shared_ptr<db::Recordset>& rsObj) {
  if (!rsObj || rsObj->RecordCount() == 0) return rsObj;
  db::Recordset& rs = *rsObj;
  const size_t count = languages_.Count();
  // Where a field's value goes: only the columns the listing table got this run, so a field
  // left out there (duplicate, interval on a non-number) writes nothing.
  auto definitionOf = [&](const std::string& kuerzel) -> const website::FieldColumn* {
    if (!columns_) return nullptr;
    const std::string folded = vb::UCase(kuerzel);
    for (const website::FieldColumn& c : columns_->Columns())
      if (vb::UCase(c.kuerzel) == folded) return &c;
    return nullptr;
  };
  auto webStatus = [&](const std::string& kuerzel) -> std::optional<int32_t> {
    const std::string html = StringToHTML(Variant(kuerzel));
    for (const WebField& f : webFields)
      if (f.kuerzel == html) return f.status;
    return std::nullopt;
  };

  for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) {
    std::string key;
    PassOver([&] { key = website::StripBraces(cUtil::k(rs.Value("DSN"))); });
    for (size_t i = 0; i < count; ++i) {
      const int32_t language = static_cast<int32_t>(i);
      const std::string suffix = languages_.Suffix(i);
      std::shared_ptr<db::Recordset> rows;
      PassOver([&] {
        m_oImmoHelper->strTransLang(suffix);
        std::vector<std::string> unused;
        rows = m_oImmoHelper->GetObjektDetails(rs, "", " order by OBJ.KENNUNG, FLDART.SORTIERUNG",
                                               unused);
      });
      if (!rows) continue;

      std::vector<std::string> sets;
      // The field whose rows are being read: several rows of one field are several options.
      struct Open {
        std::string folded;
        int32_t typ = 0;
        int32_t status = 0;
        const website::FieldColumn* columns = nullptr;
        std::vector<std::string> texts;  // several-valued: joined and escaped once at the end
        std::vector<std::string> codes;
      };
      std::optional<Open> open;
      auto set = [&](const std::string& column, const std::string& literal) {
        if (!open || !open->columns) return;
        for (const website::ColumnDefinition& d : open->columns->definitions)
          if (vb::UCase(d.name) == vb::UCase(column)) {
            sets.push_back("`" + d.name + "`=" + literal);
            return;
          }
      };
      auto close = [&] {
        if (!open || !open->columns) {
          open.reset();
          return;
        }
        const std::string& c = open->columns->column;
        if (open->status == 2 && (i == 0 || open->typ == 0 || open->typ == 3))
          set(c + suffix, SqlValue(Variant(Join(open->texts))));
        if (open->typ == 0) set(c + "WERT", SqlValue(Variant(Join(open->codes))));
        open.reset();
      };

      for (rows->MoveFirst(); !rows->Eof(); rows->MoveNext()) {
        PassOver([&] {
          std::string name = cUtil::k(rows->Value("KÜRZEL"));
          if (vb::UCase(name) == "RDM OBJEKTART") name = "Objektart";
          const std::optional<int32_t> status = webStatus(name);
          if (!status) return;
          const std::string folded = vb::UCase(name);
          const bool first = !open || open->folded != folded;
          if (first) {
            close();
            open = Open{folded, LongOf(rows->Value("TYP")), *status, definitionOf(name), {}, {}};
          }
          const bool written = i == 0 || open->typ == 0 || open->typ == 3;
          if (!written || !open->columns) return;
          const std::string& c = open->columns->column;
          if (open->status == 2) {
            open->texts.push_back(FieldText(*rows, language, true));
          } else if (!first) {
            return;
          } else if (open->status != 3) {
            set(c + suffix, GetFieldValueSQL(*rows, language, false));
          } else if (open->typ == 1 || open->typ == 2) {
            set(c + "_VON" + suffix, GetFieldValueSQL(*rows, language, true));
            set(c + suffix, GetFieldValueSQL(*rows, language, false));
          }
          if (open->typ == 0) {
            const std::string code = website::HtmlEscapeValue(rows->Value("WERT"));
            if (!code.empty()) open->codes.push_back(code);
          }
        });
      }
      close();
      if (sets.empty()) continue;
      std::string statement = "update $table_dat set ";
      for (size_t s = 0; s < sets.size(); ++s) statement += (s ? "," : "") + sets[s];
      WriteImportStatement(statement + " where DSN=" + SqlValue(Variant(key)));
    }
  }
  return rsObj;
}

int16_t cWebserverV2::GetObjDetYesNo(const std::string& objDsn, const std::string& fldArtDsn) {
  if (objDsn.empty() || fldArtDsn.empty()) return 0;
  try {
    auto rs = Query("select EINGABE from OBJDET where OBJ_DSN=" + cUtil::SqlStr(Variant(objDsn)) +
                    " and FLDART_DSN=" + cUtil::SqlStr(Variant(fldArtDsn)));
    if (rs && !rs->Eof() && cUtil::k(rs->Value("EINGABE")) == "Ja") return 1;
  } catch (const std::exception&) {
    // A yes/no value that can't be read counts as no.
  }
  return 0;
}

std::string cWebserverV2::GetFldArtDsn() {
  try {
    auto rs = Query("select DSN from FLDART where OBJ=1 and AKTIV=1 and Kürzel=" +
                    cUtil::SqlStr(Variant(settings.MEMBERZONE)));
    if (rs && !rs->Eof()) return cUtil::k(rs->Value("DSN"));
  } catch (const std::exception&) {
    // Without the member zone's field type no listing is a member's.
  }
  return {};
}

std::string cWebserverV2::IsBisDateValid(const std::string& detailsDsn) {
  try {
    auto rs = Query(
        "select DetailsDet.Eingabe from FLDART INNER JOIN DetailsDet ON FLDART.DSN = "
        "DetailsDet.Fldart_Dsn where FLDART.Kürzel = " +
        cUtil::SqlStr(Variant(settings.MEMBERSHIP + " bis")) +
        " and Details_DSN=" + cUtil::SqlStr(Variant(detailsDsn)));
    if (!rs || rs->Eof()) return "N";
    const Variant& value = rs->Value("Eingabe");
    double date = 0;
    if (value.type() == VType::Date)
      date = vb::CDate(value);
    else if (!vb::ParseDate(vb::Trim(cUtil::k(value)), date))
      return "N";
    return std::floor(date) >= std::floor(vb::Now()) ? "Y" : "N";
  } catch (const std::exception&) {
    // A date that can't be read is no valid end date.
  }
  return "N";
}

}  // namespace fern
