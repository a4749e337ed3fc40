// The client of the host's REST service: its base address and endpoint paths (host
// preferences), the host user's credentials (table BEN), the time-outs and certificate settings
// (host INI section "KAVANTORAPI") and the call log "KavantorApi.Log". Each operation sends one
// request through its own cRestAPI and returns the status or the answer text.
//
// A request that can't be sent is a failed call, never a silent success: an empty base address
// or endpoint, a portal key that is no GUID, a connection, time-out or certificate failure all
// give status 0, an answer text naming the reason and an "ERROR" line in the call log.
//
// The call log lies in the user's private temporary folder (cUtil::GetTempPath), is created
// 0600 and never opened through a link. It and the debug lines show "****" for the OAuth token,
// token secret and verifier wherever they appear (MaskSecrets).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "services/cRestAPI.h"

namespace fern {

class cUtil;
class cDal;
class cCryptUtil;

class cKavantorAPIMini {
 public:
  // The preference keys of the endpoints this program requests.
  static constexpr const char* kTransferStartKey = "KavantorAPIIS24RestAPITransferStart";
  static constexpr const char* kAuthStartKey =
      "KavantorAPIIS24RestAPITransferAuthenticationStartUrl";
  static constexpr const char* kAuthEndKey = "KavantorAPIIS24RestAPITransferAuthenticationEndUrl";
  static constexpr const char* kIsAuthenticatedKey =
      "KavantorAPIIS24RestAPITransferPortalIsAuthenticated";
  static constexpr const char* kAvailabilityKey = "KavantorAPIAvailabilityTestURL ";
  static constexpr const char* kLogName = "KavantorApi.Log";

  cKavantorAPIMini();
  ~cKavantorAPIMini();
  cKavantorAPIMini(const cKavantorAPIMini&) = delete;
  cKavantorAPIMini& operator=(const cKavantorAPIMini&) = delete;

  // Does nothing for an empty connection string. Otherwise takes the host objects, makes the
  // HTTP client, loads the user's credentials (a DSN that is no GUID loads none) and reads the
  // settings (RefreshValues). A database error reaches the caller as HostError.
  void Init(const std::string& strKavantorPath, const std::string& strConnectionString,
            const std::string& strUserDSN);
  // Re-reads base addresses, company number, endpoints, time-outs and certificate settings.
  // A failure is a HostError naming the setting's step; what was read before it stays.
  void RefreshValues();

  bool CheckIfKavantorAPIAvailable();
  int32_t CallIS24RestApiTransferStart(const std::string& strBody);
  std::string CallIS24RestApiStartCreateLogin(const std::string& strPortalDsn);
  std::string CallIS24RestApiEndCreateLogin(const std::string& strPortalDsn,
                                            const std::string& strBody);
  std::string CallIS24RestApiCheckLogin(const std::string& strPortalDsn);

  int32_t getResponseCode() const { return status_; }
  const std::string& getResponseText() const { return answer_; }
  const std::string& getResponseContentType() const { return contentType_; }
  // "Weiterleitung nach <address> nicht gefolgt" when the last answer was a redirect, else "";
  // the address with its secrets and password masked.
  // The answer text of such a call begins with it.
  std::string RedirectNote() const;

  bool IsKavantorAPIAvailable = false;
  bool IsKavantorPublicAPIAvailable = false;
  bool IsKavantorQuorvelloUIAvailable = false;
  const std::string& KavantorApiUrl() const { return apiUrl_; }
  const std::string& KavantorApiPublicUrl() const { return publicUrl_; }
  const std::string& KavantorMobileUrl() const { return mobileUrl_; }
  const std::string& KavantorRestApiBaseUrl() const { return restBaseUrl_; }
  const std::string& KavantorRestApiPublicBaseUrl() const { return restPublicBaseUrl_; }
  int32_t CompanyID() const { return companyId_; }
  const std::string& BenDSN() const { return benDsn_; }

  // The endpoint path stored under a preference key ("" when unknown), table order kept.
  std::string Endpoint(const std::string& key) const;
  const std::vector<std::pair<std::string, std::string>>& Endpoints() const { return endpoints_; }
  // The four time-outs as read: resolve, connect, send, receive (ms).
  const int32_t* Timeouts() const { return timeouts_; }
  // True when the host INI switched the certificate check off.
  bool CertificatesUnchecked() const { return !verifyCertificates_; }
  // The path of the call log.
  static std::string LogPath();

  // The base address with every path segment equal to the company number made "local".
  static std::string ReplaceCompanySegments(const std::string& url, int32_t company);
  // The text with the OAuth login's secrets shown as "****" (restportal::MaskSecrets); a run's
  // stop ends a long masking with the whole text hidden.
  static std::string MaskSecrets(const std::string& text);

 private:
  enum class Login { kHostUser, kCustom };
  void LoadUserCredentials(const std::string& strUserDSN);
  std::string BuildApiUrl(const std::string& path) const;
  // One request of the endpoint under `key` with {Portal.DSN} replaced by `portalDsn`.
  void Call(const std::string& key, const std::string& portalDsn, const std::string& body,
            Login login, const char* name);
  // A call that could not be sent: status 0, the reason as answer, an ERROR line.
  void Refuse(const std::string& url, const std::string& body, const std::string& why);
  void Keep();
  void LogApiCall(const std::string& url, bool error, const std::string& body) const;
  void Debug(const std::string& text) const;
  std::string Ini(const std::string& file, const std::string& section, const std::string& key,
                  const std::string& def) const;

  std::unique_ptr<cRestAPI> m_oRestAPI;
  std::shared_ptr<cUtil> util_;
  std::shared_ptr<cDal> dal_;
  std::shared_ptr<cCryptUtil> crypt_;
  std::string connect_;
  std::string kvPath_;
  std::string hostIni_;
  std::string dbIni_;
  std::string apiUrl_, publicUrl_, mobileUrl_, restBaseUrl_, restPublicBaseUrl_;
  int32_t companyId_ = 0;
  std::string benDsn_;
  std::string login_;
  std::string password_;
  std::vector<std::pair<std::string, std::string>> endpoints_;
  int32_t timeouts_[4] = {0, 60000, 30000, 30000};
  bool windowsAuth_ = false;
  bool verifyCertificates_ = true;
  std::string trustedFile_;
  int32_t status_ = 0;
  std::string answer_;
  std::string contentType_;
  std::string redirect_;
};

}  // namespace fern
