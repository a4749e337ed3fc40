// What the run driver calls of the three exporters. Each exporter's own class implements one of
// these; until it exists, the driver's default factory supplies one that reports that the
// portal type can't be sent yet, as a counted error.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/state_events.h"
#include "db/Recordset.h"
#include "platform/variant.h"

namespace fern {

class cFernDispatcher;

// The web-site export, one object per portal of type 6.
class WebsiteExporter {
 public:
  virtual ~WebsiteExporter() = default;
  StateEvents events;
  std::function<void(const std::string&)> ProgressState;

  virtual void Init(const std::string& strConnect, cFernDispatcher& KVApp,
                    const Variant& blnCopyright) = 0;
  // The portal row on which `rsboersen` stands; the two numbers are not used by the run.
  virtual void Transfer(db::Recordset& rsboersen, int32_t lngWebServer, int32_t lngObjTrack,
                        bool blnShowUrl) = 0;
};

// The portal types ("boersentyp") the run has a phase for.
namespace portal_type {
inline constexpr int32_t kOpenImmo = 5;
inline constexpr int32_t kWebsite = 6;
inline constexpr int32_t kOpenImmoOtherPartner = 10;  // its export is refused as not implemented
inline constexpr int32_t kOpenImmoConverter = 11;     // delivered through the outside converter
inline constexpr int32_t kRest = 113;
}  // namespace portal_type

// The OpenImmo export, one object per phase (types 5, 11 and 10).
class OpenImmoExporter {
 public:
  virtual ~OpenImmoExporter() = default;
  StateEvents events;

  virtual void StartImmoXML(cFernDispatcher& KVApp, const std::string& strConnect,
                            db::Recordset& rsboersen, bool blnInsertCopyright, bool blnUnattend,
                            int32_t eBoersentyp) = 0;
};

// The REST transfer, one object for the type-113 phase.
class RestExporter {
 public:
  virtual ~RestExporter() = default;
  StateEvents events;  // the window catches only WorkState

  virtual Variant Init(cFernDispatcher& KVApp, std::string& strConnect,
                       std::string& strUserDSN) = 0;
  virtual void Transfer(db::Recordset& rsboersen) = 0;
};

struct ExporterFactory {
  std::function<std::unique_ptr<WebsiteExporter>()> website;
  std::function<std::unique_ptr<OpenImmoExporter>()> openImmo;
  std::function<std::unique_ptr<RestExporter>()> rest;

  // Fills the missing makers with the exporters that report the type as not yet available.
  ExporterFactory WithDefaults() const;
};

}  // namespace fern
