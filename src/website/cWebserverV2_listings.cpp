// Listing rows, their texts per language, field values, field-type options, requests and
// members of the site's import.
#include "website/cWebserverV2.h"

namespace fern {

std::shared_ptr<db::Recordset> cWebserverV2::CreateImportScript_InsertTable_DAT(
    std::shared_ptr<db::Recordset>& rsObj, db::Recordset&) {
  return rsObj;
}

std::shared_ptr<db::Recordset> cWebserverV2::CreateImportScript_UpdateTable_DAT(
    std::shared_ptr<db::Recordset>& rsObj) {
  return rsObj;
}

int16_t cWebserverV2::GetObjDetYesNo(const std::string&, const std::string&) { return 0; }
std::string cWebserverV2::GetFldArtDsn() { return {}; }
std::string cWebserverV2::IsBisDateValid(const std::string&) { return "N"; }
void cWebserverV2::CreateImportScript_InsertTable_FART() {}
void cWebserverV2::CreateImportScript_InsertTable_INTERESSENTEN() {}
void cWebserverV2::CreateImportScript_InsertTable_USER() {}
void cWebserverV2::SplitPlzOrt(const std::string&, std::string& plz, std::string& ort,
                               std::string& country) {
  plz.clear();
  ort.clear();
  country.clear();
}

}  // namespace fern
