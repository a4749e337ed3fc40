// Tracked listings, their activities and the activities' attachments.
#include "website/cWebserverV2.h"

namespace fern {

void cWebserverV2::CreateImportScript_InsertTable_OBJTRACK() {}
void cWebserverV2::CreateImportScript_InsertTable_AKTTRACK(const std::string&) {}
void cWebserverV2::CreateTrackFilesScript(const std::string&, const std::string&) {}
std::string cWebserverV2::TrackingPlainText(const std::string& note) { return note; }

}  // namespace fern
