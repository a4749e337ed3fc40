// The key-facts HTML block of a listing.
#include "website/cWebserverV2.h"

namespace fern {

std::string cWebserverV2::CreateEckdatenHtml(db::Recordset*, int32_t) { return {}; }
std::string cWebserverV2::FormatAmount(const Variant&) { return {}; }

}  // namespace fern
