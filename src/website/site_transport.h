// The web-site export's one door to the transfer services: the FTP upload of the work folder
// (through the listing-data service, whose events the exporter relays) and the GET requests to
// the site's scripts. Nothing else in src/website reaches the services' transfer calls.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "services/curl_session.h"

namespace fern {
class cImmoHelperV2;
}

namespace fern::website {

class SiteTransport {
 public:
  explicit SiteTransport(cImmoHelperV2& helper) : helper_(helper) {}

  // Uploads the files of `local` with the listed extensions into `remote`, failures reported
  // by the service as errors. `host` may carry ":port".
  bool SendFolder(const std::string& host, const std::string& user, const std::string& password,
                  const std::string& local, const std::string& remote,
                  const std::string& extensions, const std::string& proxyRule);

  // Whether the two calls below reach the server the way `SendFolder` did with this proxy
  // rule: in passive mode the rule's ":port" is the FTP port, which they take too; in active
  // mode a named proxy is a real one, which they can't go through.
  bool ReachesLikeUpload(const std::string& proxyRule);
  // ListFiles and RemoveFile serve the clean-up of the run's uploads, which hold the database
  // password: a stop of the run (Esc, SIGTERM) does not end them. From the first stop they
  // see, they have `cleanUpSeconds` in all, counted from the stop; after that each ends at once
  // with a reason.
  //
  // The names of the files in the remote folder, as `SendFolder` names folders ("" is the login
  // folder); a server that lists names only may name folders too. False when the folder can't
  // be listed; nothing is reported.
  bool ListFiles(const std::string& host, const std::string& user, const std::string& password,
                 const std::string& folder, const std::string& proxyRule,
                 std::vector<std::string>& names);
  // Deletes one remote file ("folder/name" as above); "" when it went, else the server's reason.
  std::string RemoveFile(const std::string& host, const std::string& user,
                         const std::string& password, const std::string& path,
                         const std::string& proxyRule);
  // Whether the server says the remote file is not there: SIZE answers 550 with a text that says
  // so ("No such file", "Could not get file size"). False when it names a size, refuses SIZE,
  // answers with another text or can't be asked.
  bool FileMissing(const std::string& host, const std::string& user, const std::string& password,
                   const std::string& path, const std::string& proxyRule);

  struct Reply {
    bool ok = false;  // an answer with a status below 400
    bool cancelled = false;
    long status = 0;
    std::string body;
    std::string error;  // transport failure or "HTTP <status>"; never the address
  };
  // One GET of the address (no scheme: HTTP), bounded by `totalMs` in all (whole seconds),
  // through the proxy rule's proxy ("" direct, "USEDEFAULT" the system's).
  Reply Get(const std::string& address, const std::string& proxyRule, long totalMs);

  services::TransferLimits limits;
  long cleanUpSeconds = services::kRemovalBudget.count();

 private:
  // Whether the clean-up's time after a stop is over.
  bool CleanUpOver();

  cImmoHelperV2& helper_;
  services::CurlSession removals_;  // one connection for all removals
};

}  // namespace fern::website
