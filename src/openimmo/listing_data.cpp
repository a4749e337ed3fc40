// The listing-data service over the host database: listing selection, state vector, field
// details and field values as the OpenImmo export reads them.
#include "openimmo/listing_data.h"

#include <algorithm>
#include <cctype>

#include "host/LanguagePack.h"
#include "host/cDal.h"
#include "host/cUtil.h"
#include "openimmo/openimmo_internal.h"
#include "platform/ini_file.h"
#include "platform/text.h"
#include "services/cImmoHelperV2.h"

namespace fern {

using namespace openimmo;

namespace {

// Field codes compared without regard to case; ASCII is settled byte by byte, anything else by
// the German folding.
bool SameCode(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 0x80 || y >= 0x80) return text::EqualsNoCase(a, b);
    if (std::tolower(x) != std::tolower(y)) return false;
  }
  if (a.size() == b.size()) return true;
  // A longer tail may still fold to nothing only outside ASCII.
  const std::string& longer = a.size() > b.size() ? a : b;
  for (size_t i = n; i < longer.size(); ++i)
    if (static_cast<unsigned char>(longer[i]) >= 0x80) return text::EqualsNoCase(a, b);
  return false;
}

}  // namespace

std::string ListingData::FormatDecimal(const std::string& format, const std::string& value) {
  double n = 0;
  if (!vb::ParseNumber(value, n)) n = vb::Val(value);
  std::string out = vb::Replace(vb::Format(Variant(n), format), ",", ".");
  if (!out.empty() && out.back() == '.') out.pop_back();
  return out;
}

std::vector<std::string> ListingData::GetLKZPLZOrtFromString(const std::string&) {
  return {"", "", ""};
}

std::vector<std::string> ListingData::GetStrasseHausnummer(const std::string& line) {
  return cImmoHelperV2::GetStrasseHausnummer(line, false);
}

bool ListingData::FtpSendFolder(const std::string&, const std::string&, const std::string&,
                                const std::string&, const std::string&, const std::string&,
                                const std::string&, bool) {
  return false;
}

std::string ListingData::GetStammBilder(db::Recordset&, int32_t, std::string& title,
                                        const std::string&) {
  title.clear();
  return {};
}

std::vector<std::string> ListingData::GetFeldartWert(db::Recordset& details,
                                                     const std::string& code,
                                                     const std::string& columnIn) {
  std::vector<std::string> out;
  const std::string upperColumn = vb::UCase(columnIn);
  const int codeField = details.FindField("KÜRZEL");
  if (codeField >= 0 && details.RecordCount() > 0) {
    // Compared in code: a field code may hold any character.
    for (details.MoveFirst(); !details.Eof(); details.MoveNext()) {
      if (!SameCode(cUtil::k(details.Value(static_cast<size_t>(codeField))), code)) continue;
      const int32_t typ = ToLong(cUtil::k(details.Value("TYP")));
      std::string column = columnIn;
      if (upperColumn != "TYP" && typ == 0) {
        if (column.empty())
          column = "WERT";
        else if (vb::UCase(vb::Left(column, 4)) != "WERT")
          column = "BEZEICHNUNG";
      }
      if (column.empty()) {
        switch (typ) {
          case 0:
            column = "WERT";
            break;
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
            column = "EINGABE" + strTransLang;
            break;
          default:
            column = "EINGABE";
            break;
        }
      }
      if (vb::UCase(column) == "WERT" && (typ == 7 || typ == 10)) column = "LINK_DSN";
      std::string text;
      if (details.FindField(column) >= 0) {
        const Variant& v = details.Value(column);
        const std::string uc = vb::UCase(column);
        if ((uc == "VON_NUM" || uc == "BIS_NUM") && !v.IsNull() && !v.IsEmpty()) {
          const double n = vb::CDbl(v);
          text = (typ == 1 || typ == 2) && n >= 99999999999999.0 ? "0" : vb::NumberToText(n);
        } else {
          text = cUtil::k(v);
        }
      }
      out.push_back(text);
    }
  }
  if (out.empty()) out.push_back(upperColumn == "VON_NUM" || upperColumn == "BIS_NUM" ? "0" : "");
  return out;
}

namespace {

class SqlListingData : public ListingData {
 public:
  SqlListingData(cDal& dal, std::string connect, cUtil& util, LanguagePack* language,
                 std::string hostFolder)
      : dal_(dal),
        connect_(std::move(connect)),
        util_(util),
        language_(language),
        hostFolder_(std::move(hostFolder)) {}

  std::shared_ptr<db::Recordset> GetBoersenObjekte(db::Recordset& boersen,
                                                   const std::string& department) override {
    std::string sql =
        " Select obj.*, boersenobj.kurz, boersenobj.lang, boersenobj.adresse_zeigen, "
        "boersenobj.status, boersenobj.letzte_uebertragung, boersenobj.boersen_exp_id"
        ", boersenobj.TransLang ";
    if (language_)
      for (const std::string& l : language_->ContentLangList())
        sql += ", boersenobj.TransLang_LCID" + l;
    sql +=
        " FROM boersenobj inner join obj on boersenobj.obj_dsn = obj.dsn "
        " WHERE obj.FArchiv<2 AND (boersenobj.kurz=1 or boersenobj.lang=1 or "
        "boersenobj.status=1 )AND boersenobj.boersen_dsn = " +
        cUtil::SqlUid(boersen.Value("DSN"));
    if (!department.empty()) sql += " AND obj.abteilung = " + department;
    sql += " order by Kennung ";
    return dal_.GetRecordset(connect_, sql);
  }

  std::array<bool, 5> GetBoersenObjStatus(db::Recordset& boersen, db::Recordset& obj) override {
    const bool S = cUtil::bln(obj.Value("status"));
    const bool KL = cUtil::bln(obj.Value("kurz")) || cUtil::bln(obj.Value("lang"));
    const bool T = cUtil::bln(obj.Value("transfer"));
    const Variant& last = obj.Value("letzte_uebertragung");
    const double L = last.IsNull() || last.IsEmpty() ? 0 : vb::CDate(last);
    const double touch = vb::CDate(obj.Value("TOUCH"));
    bool C = L == 0 || touch > L;
    const bool FV =
        cUtil::d(boersen.Value("teil_or_voll")) == 0 && cUtil::d(boersen.Value("ftp_or_http")) == 1;
    if (!FV && !C && !obj.Value("OBJ_DSN").IsNull() &&
        cUtil::b(IniGet("OPTIONS", "VERERBTE_FELDARTENPLATZHALTER", "1",
                        Real(hostFolder_ + "\\kavantor.ini")))) {
      Variant parent = obj.Value("OBJ_DSN");
      while (!C && !parent.IsNull()) {
        auto rs =
            dal_.GetRecordset(connect_, " Select * from obj where DSN = " + cUtil::SqlUid(parent));
        if (!rs || rs->Eof()) break;
        C = vb::CDate(rs->Value("TOUCH")) > L;
        parent = rs->Value("OBJ_DSN");
      }
    }
    bool send, del;
    if (T)
      send = false;
    else if (FV)
      send = KL;
    else
      send = C ? (KL || S) : false;
    if (!S)
      del = false;
    else if (KL)
      del = T ? FV : false;
    else
      del = T ? (FV && C) : true;
    return {send, del, !del, cUtil::bln(obj.Value("lang")),
            cUtil::bln(obj.Value("adresse_zeigen"))};
  }

  std::shared_ptr<db::Recordset> GetObjektDetails(db::Recordset& obj,
                                                  std::array<std::string, 4>& texts) override {
    const std::string& lang = strTransLang;
    const char* cols[] = {"TEXTLAGE", "TEXTFREI", "TEXTAUSSTATTUNG", "TEXTOBJEKT"};
    for (int i = 0; i < 4; ++i) {
      const std::string c = cols[i] + lang;
      texts[i] = obj.FindField(c) >= 0 ? cUtil::k(obj.Value(c)) : std::string();
    }
    const std::string langCols =
        lang.empty() ? "objdet.EINGABE" : "objdet.EINGABE, objdet.EINGABE" + lang;
    return dal_.GetRecordset(
        connect_,
        "SELECT obj.DSN, FLDART.INTERN, FLDART.KÜRZEL, FLDART.BLNKURZEXPOSE, FLDART.EXPOSE "
        ",objdet.fldart_dsn, " +
            langCols + "," +
            " ObjDet.BIS_STR, ObjDet.VON_STR, ObjDet.LINK_DSN, ObjDet.BIS_NUM, ObjDet.VON_NUM, "
            "FLDART.TYP, FLDART.BEZKURZEXPOSE," +
            " FLDARTOP.WERT, FLDARTOP.BEZEICHNUNG, FLDART.BEZEXTERN, FLDART.FORMATIERUNG , "
            "FLDART.lngFirmenNr, FLDART.Intervall " +
            " From OBJ INNER JOIN ObjDet ON OBJ.DSN = ObjDet.Obj_Dsn" +
            " INNER JOIN FLDART ON ObjDet.Fldart_Dsn = FLDART.DSN" +
            " LEFT OUTER JOIN FLDARTOP ON ObjDet.Fldartop_DSN = FLDARTOP.DSN" +
            " WHERE obj.DSN = " + cUtil::SqlUid(obj.Value("DSN")) + "  Order by Sortierung");
  }

 private:
  cDal& dal_;
  std::string connect_;
  cUtil& util_;
  LanguagePack* language_;
  std::string hostFolder_;
};

}  // namespace

std::unique_ptr<ListingData> MakeSqlListingData(cDal& dal, std::string connect, cUtil& util,
                                                LanguagePack* language, std::string hostFolder) {
  return std::make_unique<SqlListingData>(dal, std::move(connect), util, language,
                                          std::move(hostFolder));
}

}  // namespace fern

#include "services/cImmoHelperV2.h"

namespace fern {

namespace {

// The run's listing-data service, cImmoHelperV2, behind the exporter's interface.
class HelperListingData : public ListingData {
 public:
  HelperListingData(const std::string& connect, cFernDispatcher& app, cDal& dal)
      : connect_(connect), dal_(dal) {
    helper_.WorkState = [this](int16_t s, const std::string& t) { events.RaiseWorkState(s, t); };
    helper_.InternalState = [this](int16_t s, const std::string& t) {
      events.RaiseInternalState(s, t);
    };
    helper_.Init(connect, app);
  }

  std::shared_ptr<db::Recordset> GetBoersenObjekte(db::Recordset& boersen,
                                                   const std::string& department) override {
    Sync();
    return helper_.GetBoersenObjekte(boersen, department);
  }
  std::array<bool, 5> GetBoersenObjStatus(db::Recordset& boersen, db::Recordset& obj) override {
    Sync();
    const auto s = helper_.GetBoersenObjStatus(boersen, obj);
    return {s[0] != 0, s[1] != 0, s[2] != 0, s[3] != 0, s[4] != 0};
  }
  std::shared_ptr<db::Recordset> GetObjektDetails(db::Recordset& obj,
                                                  std::array<std::string, 4>& texts) override {
    Sync();
    std::vector<std::string> lfao;
    auto rs = helper_.GetObjektDetails(obj, "", "", lfao);
    for (size_t i = 0; i < 4; ++i) texts[i] = i < lfao.size() ? lfao[i] : std::string();
    return rs;
  }
  std::vector<std::string> GetFeldartWert(db::Recordset& details, const std::string& code,
                                          const std::string& column) override {
    Sync();
    return helper_.GetFeldartWert(details, code, column, 0, dal_, connect_);
  }
  std::vector<std::string> GetLKZPLZOrtFromString(const std::string& text) override {
    return helper_.GetLKZPLZOrtFromString(text);
  }
  std::string GetStammBilder(db::Recordset& obj, int32_t index, std::string& title,
                             const std::string& hostFolder) override {
    helper_.m_JPGFrame = m_JPGFrame;
    helper_.m_JPGRama = m_JPGRama;
    return helper_.GetStammBilder(obj, index, title, hostFolder);
  }
  bool FtpSendFolder(const std::string& host, const std::string& user, const std::string& password,
                     const std::string& localFolder, const std::string& remoteFolder,
                     const std::string& extensions, const std::string& proxyRule,
                     bool strict) override {
    return helper_.FtpSendFolder(host, user, password, localFolder, remoteFolder, extensions,
                                 proxyRule, strict);
  }

 private:
  void Sync() {
    if (helper_.strTransLang() != strTransLang) helper_.strTransLang(strTransLang);
  }
  cImmoHelperV2 helper_;
  std::string connect_;
  cDal& dal_;
};

}  // namespace

std::unique_ptr<ListingData> MakeHelperListingData(const std::string& connect, cFernDispatcher& app,
                                                   cDal& dal) {
  return std::make_unique<HelperListingData>(connect, app, dal);
}

}  // namespace fern
