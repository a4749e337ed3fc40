// The contact person of a listing: who it is (an address or an active user named in a text
// field), loaded once per phase, and the four passes that fill `kontaktperson`.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/state_events.h"
#include "db/Recordset.h"
#include "openimmo/export_settings.h"
#include "openimmo/listing_attachments.h"
#include "openimmo/map_context.h"
#include "openimmo/mapping_engine.h"
#include "openimmo/tElementInfo.h"
#include "openimmo/tKontakt.h"
#include "services/cImmoHelperV2.h"
#include "xml/xml_dom.h"

namespace fern {

class cDal;
class cFernDispatcher;
struct tMandant;

namespace openimmo {

// What the contact person reads of the run, as the exporter holds it at each call, and the
// mapping engine its fields go through.
struct ContactRun {
  const ExportSettings& settings;
  cDal* const& dal;
  const std::string& connect;
  cFernDispatcher* const& app;
  const std::unique_ptr<cImmoHelperV2>& data;
  const StateEvents& events;
  ListingAttachments& attachments;  // the photo is copied as an attachment
  MappingEngine& mapping;
};

class ContactPerson {
 public:
  explicit ContactPerson(const ContactRun& run) : run_(run) {}

  // Fills the listing's `kontaktperson` from the person the name entry of the mapping's
  // `kontaktperson` section names (an address by key, or an active user named in a text field),
  // from the person's own detail fields, the listing's mapped fields and the client's company
  // data. Never raises: a failure leaves the element as it is and is written to the send log
  // (InternalState 7), as are faulty name entries.
  void MapKontaktperson(XmlDocument& mapping, db::Recordset& rsObj, db::Recordset& details,
                        XmlDocument& schema, XmlNode& element, const tMandant& m,
                        const std::string& folder, const std::string& version);
  // The four passes over `kontakt`; each child is filled only while empty, and a failing step
  // leaves its child. `contactDetails` may be null; `version` is the schema version as text.
  void FillKontaktperson(const XmlNodePtr& section, const XmlNodePtr& kontakt, db::Recordset& rsObj,
                         db::Recordset& details, db::Recordset* contactDetails,
                         bool onlyContactFields, XmlDocument& schema, const tMandant& m,
                         const tKontakt& contact, const std::string& folder,
                         const std::string& version);
  // The address `key` (with its titles taken off the first name, and its stored picture);
  // nothing changes when there is no such address. HostError when the database fails.
  void GetKontaktFromAD(const std::string& key, tKontakt& contact);
  // The active user whose name occurs in `text` (longest names first) fills `contact`; returns
  // the user's DSN, "" (contact unchanged) when no name occurs.
  std::string GetKontaktFelder(tKontakt& contact, const std::string& text);
  // The address's detail rows of the field codes; null when there are none.
  std::shared_ptr<db::Recordset> GetKontaktDetails(const std::vector<std::string>& codes,
                                                   const std::string& key);
  std::string KontaktDetailsSql(const std::vector<std::string>& codes,
                                const std::string& key) const;
  // The mapping engine's source value with the base language columns.
  void GetLangValue(XmlNode& entry, XmlNodePtr& target, const MapContext& c, tElementInfo* info);
  // A new phase: persons and the lists of users and field types are read again.
  void StartKontaktPhase();

 private:
  std::string T(const std::string& german) const;
  void LoadKontaktLists();
  void WriteLogLine(const std::string& text, bool error);
  // The photo copied (a JPG or GIF shrunk) into `folder`; "" when there is none to copy.
  std::string CopyKontaktFoto(const std::string& file, const std::string& folder);

  ContactRun run_;
  std::map<std::string, std::shared_ptr<tKontakt>> kontaktCache_;
  // Photo and folder -> the copy in it: the photo of a person is copied once per phase.
  std::map<std::pair<std::string, std::string>, std::string> kontaktFotos_;
  std::shared_ptr<db::Recordset> activeUsers_;
  std::shared_ptr<db::Recordset> activeFieldTypes_;
};

}  // namespace openimmo
}  // namespace fern
