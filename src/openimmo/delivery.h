// Delivering a saved document (HTTP post, upload, the IS24 converter, the "DUMMY" rules), packing
// and upload forwarding, and writing the listings' transfer status back.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/state_events.h"
#include "db/Recordset.h"
#include "openimmo/earlier_files.h"
#include "openimmo/export_settings.h"
#include "services/cImmoHelperV2.h"
#include "xml/xml_dom.h"

namespace fern {

class cDal;
class cFernDispatcher;
class cZipV2;
struct tMandant;

// How a portal's HTTP post ended; filled by the poster.
struct HttpPostOutcome {
  bool transportOk = false;
  long status = 0;
  std::string body;
  int32_t errorNumber = 0;  // transport error: the WinINet number
  std::string error;        // transport error text
  bool stopped = false;     // a stop ended the post
};

namespace openimmo {

// What delivery reads of the run, as the exporter holds it at each call, and the driver's
// members it goes through (display name, work folder, transfer hooks).
struct DeliveryRun {
  const ExportSettings& settings;
  cDal* const& dal;
  const std::string& connect;
  cFernDispatcher* const& app;
  const std::unique_ptr<cImmoHelperV2>& data;
  std::unique_ptr<cZipV2>& zip;  // the phase's packer
  const int32_t& type;
  const bool& unattended;
  const double& runStart;
  // Withdrawals queued by the listing loop, written with the next status.
  std::vector<std::string>& statusQueue;
  // The files an earlier run left in the document's folder: neither packed nor uploaded.
  const HeldBack& heldBack;
  const StateEvents& events;
  std::function<std::string(db::Recordset&, const tMandant&)> displayName;
  std::function<std::string()> transferTempPath;
  std::function<void(db::Recordset&, bool, const std::string&, const std::string&, std::string&)>
      beforeTransfer;
  std::function<void(db::Recordset&, bool, bool)> afterTransfer;
};

class Delivery {
 public:
  explicit Delivery(DeliveryRun run);
  ~Delivery();

  // True when the document counts as delivered. An HTTP post counts only with an XML answer and
  // a status below 400; a transport error or a refusal is a counted error.
  bool SendXml(db::Recordset& rsboersen, XmlDocumentPtr& doc, const tMandant& m,
               const std::string& folder, XmlDocumentPtr& answer, const std::string& base);
  bool FTPTransfer(const std::string& iniFile, db::Recordset& rsboersen, const tMandant& m,
                   const std::string& base, XmlDocumentPtr& doc);
  // Splits "proto://server/folder -options".
  static void SplitHost(const std::string& host, std::string& protocol, std::string& server,
                        std::string& folder, std::string& options);
  // Writes the status of every listing of the document and the queued withdrawals, all in one
  // transaction; false (reported as a counted error) when the write failed, and nothing is
  // written then.
  bool SaveObjektStatus(db::Recordset& rsboersen, XmlDocument& doc, XmlDocument* answer,
                        const tMandant& m);
  bool RemoveImmobilie(const std::string& objektnrIntern, XmlDocument& doc);
  // Posts the document text as "text/xml"; the outcome says whether and how the portal answered.
  HttpPostOutcome PostDocument(const std::string& url, const std::string& body,
                               const std::string& user, const std::string& password);
  void ZipAll(const std::string& folder, const std::string& base);
  bool DoUpload(const std::string& protocol, const std::string& server, const std::string& user,
                const std::string& password, const std::string& localFolder,
                const std::string& remoteFolder, const std::string& extension,
                const std::string& options);
  // How long the converter gets to write its Result: `rounds` waits of `stepMs` (20 x 500 ms);
  // it is ended when it runs longer. Tests shorten the wait.
  void SetConverterWait(int32_t rounds, int32_t stepMs) {
    converterRounds_ = rounds;
    converterStepMs_ = stepMs;
  }

 private:
  std::string T(const std::string& german, const std::string& p1 = {}, const std::string& p2 = {},
                const std::string& p3 = {}, const std::string& p4 = {}) const;
  void Work(int16_t state, const std::string& text) const {
    run_.events.RaiseWorkState(state, text);
  }
  // Runs the host's converter on the saved document through "IS24Xml.ini" and uploads what it
  // made (FTPTransfer). False, with a counted error, when the converter is missing, fails or
  // says nothing in time.
  bool SendThroughConverter(db::Recordset& rsboersen, XmlDocumentPtr& doc, const tMandant& m,
                            const std::string& folder, const std::string& base);

  DeliveryRun run_;
  int32_t converterRounds_ = 20;
  int32_t converterStepMs_ = 500;
};

}  // namespace openimmo
}  // namespace fern
