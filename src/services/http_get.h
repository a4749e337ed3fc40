// One HTTP GET with a total time limit, its status and body: for the web-site export's
// requests to the site's scripts, where a dead or hanging site must end in a failure the caller
// can see. The wait pumps window events; Esc ends it as a cancel.
#pragma once

#include <string>

#include "services/curl_session.h"

namespace fern::services {

struct HttpGetResult {
  bool transportOk = false;  // an answer arrived (any status)
  bool cancelled = false;    // Esc
  long status = 0;           // the HTTP status, 0 without an answer
  std::string body;
  std::string error;  // why no answer came; never holds the query

  bool Ok() const { return transportOk && status > 0 && status < 400; }
};

// `url` without a scheme is HTTP. `proxyRule`: "" direct, "USEDEFAULT" the system's, else the
// proxy. `totalMs` bounds the whole request (0: only the connection limits).
HttpGetResult HttpGet(const std::string& url, const std::string& proxyRule, long totalMs,
                      const TransferLimits& limits = {});

}  // namespace fern::services
