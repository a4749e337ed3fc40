// The listing-data service as the OpenImmo exporter uses it: the portal's listings, each
// listing's state vector, its field-detail rows and single field values. The exporter owns one
// per phase: the run's cImmoHelperV2, or a direct reader of the host database when no session
// object is at hand (single steps in tests).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/state_events.h"
#include "db/Recordset.h"

namespace fern {

class cDal;
class cFernDispatcher;
class cUtil;
class LanguagePack;

class ListingData {
 public:
  virtual ~ListingData() = default;
  StateEvents events;
  std::string strTransLang;  // suffix of the language columns ("_LCID2057"), "" for the base ones

  // The portal's listings, ordered by Kennung; `department` not empty restricts to it.
  virtual std::shared_ptr<db::Recordset> GetBoersenObjekte(db::Recordset& boersen,
                                                           const std::string& department) = 0;
  // send, withdraw, active, long version, show address.
  virtual std::array<bool, 5> GetBoersenObjStatus(db::Recordset& boersen, db::Recordset& obj) = 0;
  // The listing's field-detail rows; `texts` gets location, free text, fittings, description.
  virtual std::shared_ptr<db::Recordset> GetObjektDetails(db::Recordset& obj,
                                                          std::array<std::string, 4>& texts) = 0;
  // The texts of every detail row of the field code in `column` ("" chooses by value type).
  // No row: one element, "0" for VON_NUM/BIS_NUM, else "".
  virtual std::vector<std::string> GetFeldartWert(db::Recordset& details, const std::string& code,
                                                  const std::string& column);

  // Picture-frame switches of the current portal: the title picture gets the online frame
  // (m_JPGFrame) and is looked for as the online picture first (m_JPGRama).
  bool m_JPGFrame = false;
  bool m_JPGRama = false;
  // The real path of picture `index` (counted from 1; -1 and 1 ask for the online picture
  // with m_JPGRama) of the nearest parent listing that has one; "" when none has, and always
  // "" without the host's picture store. `title` gets its title.
  virtual std::string GetStammBilder(db::Recordset& obj, int32_t index, std::string& title,
                                     const std::string& hostFolder);

  // Uploads a folder through the transfer layer (see cFTPTransferV2::FtpSendFolder); false
  // when there is none.
  virtual bool FtpSendFolder(const std::string& host, const std::string& user,
                             const std::string& password, const std::string& localFolder,
                             const std::string& remoteFolder, const std::string& extensions,
                             const std::string& proxyRule, bool strict);

  // The number text in `format` with "." as the decimal point ("0.00", "12,5" -> "12.50").
  static std::string FormatDecimal(const std::string& format, const std::string& value);

  // {country code, postcode, town} of an address line ("DEU-12345 Oberstdorf"); three empty
  // texts when no postcode pattern of the host fits, and always without a session object.
  virtual std::vector<std::string> GetLKZPLZOrtFromString(const std::string& text);
  // {street, house number}: split before the first digit that follows a blank; without one the
  // number is "".
  virtual std::vector<std::string> GetStrasseHausnummer(const std::string& line);
};

// The run's cImmoHelperV2, initialised for the session object.
std::unique_ptr<ListingData> MakeHelperListingData(const std::string& connect, cFernDispatcher& app,
                                                   cDal& dal);

// Reads the host database through `dal`; INI settings from `hostFolder` + "\kavantor.ini".
std::unique_ptr<ListingData> MakeSqlListingData(cDal& dal, std::string connect, cUtil& util,
                                                LanguagePack* language, std::string hostFolder);

}  // namespace fern
