// Postcode, street and master-picture look-ups.
#include <cstdlib>
#include <unordered_set>

#include "core/cFernDispatcher.h"
#include "host/cKVUtil.h"
#include "host/cUtil.h"
#include "platform/vb.h"
#include "services/cImmoHelperV2.h"

namespace fern {

namespace {

const char* const kDefaultPlzTable =
    "[STD4]=CHE,AUT,BEL,DNK,HUN,SVN,PRT,NLD|[STD5]=DEU,CZE,FIN,FRA,GRC,ITA,ESP,HRV,SVK,SWE,BRA,TUR|"
    "####-###=PRT|#### ?"
    "?=NLD|##-###=POL";  // split so "??=" is no trigraph

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  while (true) {
    size_t pos = text.find(sep, start);
    out.push_back(text.substr(start, pos == std::string::npos ? std::string::npos : pos - start));
    if (pos == std::string::npos) return out;
    start = pos + 1;
  }
}

}  // namespace

std::vector<std::string> cImmoHelperV2::GetLKZPLZOrtFromString(const std::string& strInhalt) {
  CheckInit("GetLKZPLZOrtFromString");
  std::string table =
      Util().IniGet("Openimmo", "PLZ", kDefaultPlzTable, folder_ + "\\Kavantor.INI");
  table = vb::Replace(vb::Replace(table, "[STD4]", "####"), "[STD5]", "#####");

  std::string country, rest = strInhalt;
  int64_t dash = vb::InStr(1, strInhalt, "-");
  std::string prefix = dash > 0 ? vb::Trim(vb::Left(strInhalt, dash - 1)) : std::string();
  if (dash > 0 && vb::Len(prefix) == 3 && vb::InStr(1, table, prefix, true) > 0) {
    country = prefix;
    rest = vb::Mid(strInhalt, dash + 1);
  } else {
    country = stdRS_ && !stdRS_->Eof() ? cUtil::k(stdRS_->Value("LAND")) : std::string();
    if (country.empty()) country = "DEU";
  }
  if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);

  for (const std::string& entry : Split(table, '|')) {
    if (vb::InStr(1, entry, country, true) == 0) continue;
    std::string pattern = entry.substr(0, entry.find('='));
    if (pattern.empty() || !vb::Like(rest, pattern + " ?*")) continue;
    const int64_t len = static_cast<int64_t>(vb::Len(pattern));
    std::string lkz = country;
    return {LKZzuordnen(lkz), vb::Trim(vb::Left(rest, len)), vb::Trim(vb::Mid(rest, len + 2))};
  }
  return {"", "", ""};
}

std::vector<std::string> cImmoHelperV2::GetStrasseHausnummer(const std::string& strLine,
                                                             bool blnDefaultNr) {
  // Blank and digits are single bytes in UTF-8, so bytes can be scanned directly.
  for (size_t i = 1; i < strLine.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(strLine[i]);
    if (strLine[i - 1] == ' ' && c >= '0' && c <= '9')
      return {strLine.substr(0, i - 1), strLine.substr(i)};
  }
  return {strLine, blnDefaultNr ? "1" : ""};
}

std::string cImmoHelperV2::LKZzuordnen(std::string& strLKZVal) { return strLKZVal; }

std::string cImmoHelperV2::GetStammBilder(db::Recordset& rsObj, int32_t iForIndex,
                                          std::string& strTitel, const std::string& strAppPath) {
  CheckInit("GetStammBilder");
  std::string path;
  Variant parent = rsObj.Value("OBJ_DSN");
  std::unordered_set<std::string> visited{DsnKey(rsObj.Value("DSN"))};
  while (!NoParent(parent) && visited.insert(DsnKey(parent)).second) {
    auto rs = Query(" Select * from obj where DSN = " + cUtil::SqlUid(parent));
    if (rs->Eof()) break;
    const std::string datei = cUtil::k(rs->Value("DATEI"));
    std::string appPath = strAppPath;
    if ((iForIndex == 1 || iForIndex == -1) && m_JPGRama) {
      kvUtil_->GetPicFileName(std::abs(iForIndex), appPath, datei, "", "Online", path, strTitel);
      if (!path.empty() && !cUtil::Exist(path)) path.clear();
    }
    if (path.empty() && iForIndex >= 1)
      kvUtil_->GetPicFileName(iForIndex - 1, appPath, datei, m_strMMDateiKurz, m_strMMDateiLang,
                              path, strTitel);
    if (!path.empty()) return path;
    parent = rs->Value("OBJ_DSN");
  }
  return path;
}

}  // namespace fern
