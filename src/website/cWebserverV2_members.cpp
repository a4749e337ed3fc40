// The site's field-type options, search requests and members.
#include "core/cFernDispatcher.h"
#include "host/LanguagePack.h"
#include "host/cUtil.h"
#include "platform/vb.h"
#include "website/cWebserverV2.h"
#include "website/sql_literals.h"
#include "website/text_helpers.h"

namespace fern {

using website::SqlValue;
using website::StringToHTML;
using website::StripBraces;

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string Kind(const Variant& eart) {
  const std::optional<double> n = website::NumberOf(eart);
  if (n == 0.0) return "kauf";
  if (n == 1.0) return "miete";
  if (n == 2.0) return "kauf_miete";
  return "sonstiges";
}

}  // namespace

void cWebserverV2::SplitPlzOrt(const std::string& input, std::string& plz, std::string& ort,
                               std::string& country) {
  std::string text = input;
  while (text.find("  ") != std::string::npos) text = vb::Replace(text, "  ", " ");
  size_t end = text.size();
  while (end > 0 && !IsDigit(text[end - 1])) --end;
  ort = vb::Trim(text.substr(end));
  text.resize(end);
  size_t start = 0;
  while (start < text.size() && !IsDigit(text[start])) ++start;
  country = vb::Trim(text.substr(0, start));
  text = text.substr(start);
  const int64_t bis = vb::InStr(1, vb::UCase(text), "BIS");
  if (bis == 0) {
    plz = vb::Trim(text);
    return;
  }
  const std::string lower = vb::Trim(text.substr(0, static_cast<size_t>(bis - 1)));
  const std::string upper = vb::Trim(text.substr(static_cast<size_t>(bis - 1) + 3));
  size_t common = 0;
  while (common < lower.size() && common < upper.size() && lower[common] == upper[common]) ++common;
  plz = lower.substr(0, common);
}

void cWebserverV2::CreateImportScript_InsertTable_FART() {
  auto rs = Query(
      "select distinct FLDARTOP.DSN, FLDART.KÜRZEL, FLDARTOP.WERT, FLDARTOP.BEZEICHNUNG "
      "from FLDART "
      "inner join FLDARTOP on FLDART.DSN = FLDARTOP.FLDART_DSN "
      "where FLDART.AKTIV=1 and FLDART.OBJ=1 and FLDART.WEBSERVERSTATUS>0 ");
  if (rs->Eof()) return;
  WSMessage("iWSText", T("Es werden %1 Feldarten übertragen.", std::to_string(rs->RecordCount())));
  for (; !rs->Eof(); rs->MoveNext()) {
    const std::string kuerzel = cUtil::k(rs->Value("KÜRZEL"));
    WriteImportStatement(
        "insert into $table_fart (DSN,KUERZEL,SPALTENNAME,WERT,BEZEICHNUNG) values (" +
        SqlValue(Variant(StripBraces(cUtil::k(rs->Value("DSN"))))) + ", " +
        SqlValue(Variant(kuerzel)) + "," + SqlValue(Variant(website::ReplaceString(kuerzel, "_"))) +
        "," + SqlValue(rs->Value("WERT")) + "," + SqlValue(rs->Value("BEZEICHNUNG")) + ")");
  }
}

void cWebserverV2::CreateImportScript_InsertTable_INTERESSENTEN() {
  auto rs =
      Query("select DSN, KENNUNG, " + website::LangColumnList("PROSPECTHEADLINE", languages_) +
            ", EART from ANF where TRANSFER=1 and FArchiv<2 order by KENNUNG");
  const size_t count = languages_.Count();
  for (; !rs->Eof(); rs->MoveNext()) {
    const Variant dsn = rs->Value("DSN");
    const std::string kind = Kind(rs->Value("EART"));
    std::vector<std::string> headlines(count), details(count);
    for (size_t i = 0; i < count; ++i) {
      headlines[i] = StringToHTML(rs->Value("prospectheadline" + languages_.Suffix(i)));
      bool inherit = true;
      details[i] =
          ExpandPlaceholders(cUtil::k(dsn), settings.ANF, "ANF", static_cast<int32_t>(i), inherit);
    }
    WSMessage("iWSAnfrage", vb::Trim(cUtil::k(rs->Value("KENNUNG"))));
    auto location = Query(
        "Select anfdet.eingabe from anf inner join anfdet on anf.dsn = anfdet.anf_dsn "
        "inner join fldart on anfdet.fldart_dsn = fldart.dsn "
        "where fldart.kürzel = 'land_plz_ort' and anf.dsn = " +
        cUtil::SqlStr(dsn));
    std::string plz, ort, country;
    const std::string text = location->Eof() ? std::string() : cUtil::k(location->Value("eingabe"));
    if (!text.empty()) SplitPlzOrt(text, plz, ort, country);
    WriteImportStatement(
        "insert into $table_interessenten (INT_DSN," +
        website::LangColumnList("INT_HEADLINE", languages_) + "," +
        website::LangColumnList("INT_DETAILS", languages_) + ",INT_ART,INT_PLZ,INT_ORT) values (" +
        SqlValue(Variant(StripBraces(cUtil::k(dsn)))) + "," +
        website::LangValueList(headlines, languages_) + "," +
        website::LangValueList(details, languages_) + "," + SqlValue(Variant(kind)) + "," +
        SqlValue(Variant(plz)) + "," + SqlValue(Variant(ort)) + ")");
  }
}

void cWebserverV2::CreateImportScript_InsertTable_USER() {
  std::shared_ptr<db::Recordset> rs;
  try {
    rs = Query(
        "select Details.AD_DSN,AD.EMAIL,AD.ANREDEKURZ,AD.NAME,Details.DSN,DetailsDet.Eingabe "
        "from DetailsDet inner join "
        "FLDART on DetailsDet.Fldart_Dsn = FLDART.DSN inner join "
        "Details ON DetailsDet.Details_Dsn = Details.DSN inner join "
        "AD on Details.AD_DSN = AD.DSN "
        "where FLDART.Kürzel = " +
        cUtil::SqlStr(Variant(settings.MEMBERSHIP + " aktiv")) + " and DETAILSDET.Eingabe='Ja'");
  } catch (const std::exception&) {
    return;
  }
  for (; rs && !rs->Eof(); rs->MoveNext()) {
    try {
      const std::string active = IsBisDateValid(cUtil::k(rs->Value("DSN")));
      const std::string salutation = cUtil::k(rs->Value("ANREDEKURZ"));
      const std::string name = cUtil::k(rs->Value("NAME"));
      WSMessage("iWSMember", salutation + " " + name);
      // Name and e-mail are the member's own input: quoted like every value, so a crafted
      // name can't add rows.
      WriteImportStatement(
          "insert into $table_user (USER_DSN,USER_EMAIL,USER_NAME,USER_ACTIVE) "
          "values(" +
          SqlValue(Variant(StripBraces(cUtil::k(rs->Value("AD_DSN"))))) + "," +
          SqlValue(rs->Value("EMAIL")) + "," + SqlValue(Variant(salutation + " " + name)) + "," +
          SqlValue(Variant(active)) + ")");
    } catch (const std::exception&) {
      // A member whose row can't be read is left out; the writer keeps a failed write itself.
    }
  }
}

}  // namespace fern
