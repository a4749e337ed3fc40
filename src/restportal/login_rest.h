// What the portal login needs of the host's REST service: the start, end and check requests of
// the OAuth login and the status of the last answer. The host REST client serves it; tests put a
// loopback service behind it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace fern {

class LoginRestClient {
 public:
  virtual ~LoginRestClient() = default;
  // Each returns the answer text, or what the client holds after a failed request (status 0
  // and the reason); none throws for the service's sake.
  virtual std::string CallIS24RestApiStartCreateLogin(const std::string& strPortalDsn) = 0;
  virtual std::string CallIS24RestApiEndCreateLogin(const std::string& strPortalDsn,
                                                    const std::string& strBody) = 0;
  virtual std::string CallIS24RestApiCheckLogin(const std::string& strPortalDsn) = 0;
  // The HTTP status of the last request; 0 when it failed or none was sent.
  virtual int32_t getResponseCode() = 0;
};

// Makes a client ready for requests (initialised with the host folder, the connection string
// and the current user).
using LoginRestFactory = std::function<std::unique_ptr<LoginRestClient>()>;

// The host REST client of the running session (host folder, connection string, current user).
LoginRestFactory HostLoginRestClient();

}  // namespace fern
