// The listing details record and the value texts of one field code.
#include <unordered_set>

#include "core/cFernDispatcher.h"
#include "db/german_text.h"
#include "host/LanguagePack.h"
#include "host/cDal.h"
#include "host/cUtil.h"
#include "platform/host_error.h"
#include "platform/vb.h"
#include "services/cImmoHelperV2.h"

namespace fern {

namespace {

const char* const kMiddle =
    " ObjDet.BIS_STR, ObjDet.VON_STR, ObjDet.LINK_DSN, ObjDet.BIS_NUM, ObjDet.VON_NUM, "
    "FLDART.TYP, FLDART.BEZKURZEXPOSE,";
const char* const kJoins =
    " From OBJ INNER JOIN ObjDet ON OBJ.DSN = ObjDet.Obj_Dsn"
    " INNER JOIN FLDART ON ObjDet.Fldart_Dsn = FLDART.DSN"
    " LEFT OUTER JOIN FLDARTOP ON ObjDet.Fldartop_DSN = FLDARTOP.DSN";

int TypOf(const Variant& v) {
  if (v.IsNull() || v.IsEmpty()) return -1;
  try {
    return vb::CLng(v);
  } catch (const HostError&) {
    return -1;
  }
}

// Clears the record's filter however the reading ends.
class FilterReset {
 public:
  explicit FilterReset(db::Recordset& rs) : rs_(rs) {}
  ~FilterReset() {
    try {
      rs_.ClearFilter();
    } catch (...) {
    }
  }

 private:
  db::Recordset& rs_;
};

}  // namespace

std::shared_ptr<db::Recordset> cImmoHelperV2::GetObjektDetails(
    db::Recordset& rsObj, const std::string& strWhereFields, const std::string& strOrder,
    std::vector<std::string>& arystrLFAO) {
  std::string lage, frei, ausstatt, objekt;
  auto rs = GetObjektDetails2(rsObj, strWhereFields, strOrder, lage, frei, ausstatt, objekt,
                              strTransLang());
  arystrLFAO = {lage, frei, ausstatt, objekt};
  return rs;
}

std::shared_ptr<db::Recordset> cImmoHelperV2::GetObjektDetails2(
    db::Recordset& rsObj, const std::string& strWhereFields, std::string strOrder,
    std::string& strTextLage, std::string& strTextFrei, std::string& strTextAusstatt,
    std::string& strTextObjekt, const std::string& strTransLang) {
  CheckInit("GetObjektDetails2");
  const std::string& lang = strTransLang;
  const std::string langColumns =
      lang.empty() ? "objdet.EINGABE" : "objdet.EINGABE, objdet.EINGABE" + lang;

  strTextLage = cUtil::k(rsObj.Value("TEXTLAGE" + lang));
  strTextFrei = cUtil::k(rsObj.Value("TEXTFREI" + lang));
  strTextAusstatt = cUtil::k(rsObj.Value("TEXTAUSSTATTUNG" + lang));
  strTextObjekt = cUtil::k(rsObj.Value("TEXTOBJEKT" + lang));
  if (strOrder.empty()) strOrder = "Order by Sortierung";

  const Variant dsn = rsObj.Value("DSN");
  Variant parent = rsObj.Value("OBJ_DSN");
  if (!InheritanceOn() || NoParent(parent)) {
    return Query(
        "SELECT obj.DSN, FLDART.INTERN, FLDART.KÜRZEL, FLDART.BLNKURZEXPOSE, FLDART.EXPOSE "
        ",objdet.fldart_dsn, " +
        langColumns + "," + kMiddle +
        " FLDARTOP.WERT, FLDARTOP.BEZEICHNUNG, FLDART.BEZEXTERN, FLDART.FORMATIERUNG , "
        "FLDART.lngFirmenNr, FLDART.Intervall " +
        kJoins + " WHERE obj.DSN = " + cUtil::SqlUid(dsn) + " " + strWhereFields + " " + strOrder);
  }

  auto rs = dal_->GetRecordset(
      strConnect_,
      "SELECT obj.DSN, obj.obj_dsn, FLDART.INTERN,FLDART.SORTIERUNG,  FLDART.KÜRZEL, "
      "FLDART.BLNKURZEXPOSE, FLDART.EXPOSE, " +
          langColumns + "," + kMiddle +
          " FLDARTOP.WERT, FLDARTOP.BEZEICHNUNG, FLDART.BEZEXTERN, FLDART.FORMATIERUNG, "
          "FLDART.lngFirmenNr, FLDART.Intervall " +
          kJoins + " WHERE obj.dsn = " + cUtil::SqlUid(dsn) + " " + strWhereFields + " " + strOrder,
      4);

  // The codes the record holds so far; a code is never taken from a farther parent than the
  // first one that has it. Folded as the record's own criteria compare them.
  std::unordered_set<std::string> codes;
  const size_t codeField = rs->FieldIndex("KÜRZEL");
  for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext())
    codes.insert(db::FoldKey(cUtil::k(rs->Value(codeField))));

  std::unordered_set<std::string> visited{DsnKey(dsn)};
  while (!NoParent(parent) && visited.insert(DsnKey(parent)).second) {
    auto prs = Query(
        "SELECT obj.DSN, obj.obj_dsn,obj.TEXTLAGE" + lang + ", obj.TEXTFREI" + lang +
        ", obj.TEXTAUSSTATTUNG" + lang + ", obj.TEXTOBJEKT" + lang + ", " +
        " FLDART.INTERN, FLDART.SORTIERUNG,FLDART.KÜRZEL, FLDART.BLNKURZEXPOSE, FLDART.EXPOSE, " +
        langColumns + "," + kMiddle +
        " FLDARTOP.WERT, FLDARTOP.BEZEICHNUNG, FLDART.BEZEXTERN, FLDART.FORMATIERUNG " + kJoins +
        " WHERE obj.dsn = " + cUtil::SqlUid(parent) + " " + strWhereFields + " " + strOrder);
    if (prs->Eof()) break;
    parent = prs->Value("obj_dsn");

    auto inherit = [&](std::string& text, const std::string& column) {
      if (text.empty()) text = cUtil::k(prs->Value(column + lang));
    };
    inherit(strTextLage, "TEXTLAGE");
    inherit(strTextFrei, "TEXTFREI");
    inherit(strTextAusstatt, "TEXTAUSSTATTUNG");
    inherit(strTextObjekt, "TEXTOBJEKT");

    for (; !prs->Eof(); prs->MoveNext()) {
      std::string code = cUtil::k(prs->Value("KÜRZEL"));
      if (!codes.insert(db::FoldKey(code)).second) continue;
      rs->AddNew();
      for (const char* column : {"DSN", "Intern", "Kürzel", "BLNKURZEXPOSE", "EXPOSE", "TYP"})
        rs->SetValue(column, prs->Value(column));
      if (TypOf(prs->Value("TYP")) == 3 && !lang.empty())
        rs->SetValue("EINGABE" + lang, prs->Value("EINGABE" + lang));
      for (const char* column :
           {"EINGABE", "BIS_STR", "VON_STR", "LINK_DSN", "BIS_NUM", "VON_NUM", "BEZKURZEXPOSE",
            "WERT", "BEZEICHNUNG", "BEZEXTERN", "FORMATIERUNG", "Sortierung"})
        rs->SetValue(column, prs->Value(column));
      rs->Update();
    }
  }
  rs->SetSort("Sortierung");
  rs->MoveFirst();
  return rs;
}

std::vector<std::string> cImmoHelperV2::GetFeldartWert(db::Recordset& rs,
                                                       const std::string& strKuerzel,
                                                       const std::string& strFeld, int16_t iMaxLen,
                                                       cDal& oDal, const std::string& strConnect) {
  FilterReset reset(rs);
  rs.SetFilter("kürzel = '" + vb::Replace(strKuerzel, "'", "''") + "'");
  const std::string asked = vb::UCase(strFeld);
  if (rs.Eof()) {
    if (asked == "VON_NUM" || asked == "BIS_NUM") return {"0"};
    return {""};
  }

  std::vector<std::string> out;
  const std::string lang = strTransLang();
  for (; !rs.Eof(); rs.MoveNext()) {
    const int typ = TypOf(rs.Value("TYP"));
    std::string column = strFeld;
    if (asked != "TYP" && typ == 0) {
      if (column.empty())
        column = "WERT";
      else if (vb::UCase(vb::Left(column, 4)) != "WERT")
        column = "BEZEICHNUNG";
    }
    if (column.empty()) {
      switch (typ) {
        case 1:
        case 2:
        case 4:
          column = "BIS_NUM";
          break;
        case 5:
          column = "VON_NUM";
          break;
        case 7:
        case 10:
          column = "LINK_DSN";
          break;
        case 3:
          column = "EINGABE" + lang;
          break;
        default:  // 6 and types the host may add later: plain text
          column = "EINGABE";
          break;
      }
    }
    const bool linkName = (typ == 7 || typ == 10) && vb::UCase(column) == "WERT";
    if (linkName) column = "LINK_DSN";
    const std::string upper = vb::UCase(column);
    const Variant& value = rs.Value(column);

    std::string text;
    if ((typ == 1 || typ == 2) && (upper == "VON_NUM" || upper == "BIS_NUM")) {
      // A missing number and the host's "not given" marker both read as 0.
      double number = 0;
      bool have = !value.IsNull() && !value.IsEmpty();
      if (have) {
        try {
          number = vb::CDbl(value);
        } catch (const HostError&) {
          have = false;
        }
      }
      text = have && number < 99999999999999.0 ? vb::NumberToText(number) : "0";
    } else if (linkName) {
      std::string link = cUtil::k(value);
      if (!link.empty()) {
        auto named =
            typ == 7
                ? oDal.GetRecordset(
                      strConnect, "SELECT name FROM ad WHERE dsn = " + cUtil::SqlStr(Variant(link)))
                : oDal.GetRecordset(strConnect, "SELECT bezeichnung FROM projekte WHERE dsn = " +
                                                    cUtil::SqlStr(Variant(link)));
        if (!named->Eof()) text = cUtil::k(named->Value(typ == 7 ? "NAME" : "bezeichnung"));
      }
    } else {
      text = cUtil::k(value);
      if (upper == "BEZEICHNUNG" && typ != 1 && typ != 2 && KVApp_ && !text.empty())
        KVApp_->Language().TranslateContent(text);
    }
    if (iMaxLen > 0) text = vb::Left(text, iMaxLen);
    out.push_back(std::move(text));
  }
  return out;
}

}  // namespace fern
