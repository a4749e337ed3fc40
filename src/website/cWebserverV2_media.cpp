// Viewing appointments, pictures and documents of the site's listings.
#include "website/cWebserverV2.h"

namespace fern {

void cWebserverV2::CreateImportScript_InsertTable_TERMINE(const std::string&, const std::string&) {}
void cWebserverV2::TransferObjectPictures(db::Recordset&, db::Recordset&) {}
void cWebserverV2::WritePicRow(const std::string&, const std::string&, int32_t, int32_t) {}

}  // namespace fern
