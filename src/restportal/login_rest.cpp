#include "restportal/login_rest.h"

#include "core/host_session.h"
#include "host/cUtil.h"
#include "restportal/cKavantorAPIMini.h"

namespace fern {

namespace {

// The host REST client, as the login sees it.
class KavantorLoginClient : public LoginRestClient {
 public:
  std::string CallIS24RestApiStartCreateLogin(const std::string& strPortalDsn) override {
    return api.CallIS24RestApiStartCreateLogin(strPortalDsn);
  }
  std::string CallIS24RestApiEndCreateLogin(const std::string& strPortalDsn,
                                            const std::string& strBody) override {
    return api.CallIS24RestApiEndCreateLogin(strPortalDsn, strBody);
  }
  std::string CallIS24RestApiCheckLogin(const std::string& strPortalDsn) override {
    return api.CallIS24RestApiCheckLogin(strPortalDsn);
  }
  int32_t getResponseCode() override { return api.getResponseCode(); }

  cKavantorAPIMini api;
};

}  // namespace

LoginRestFactory HostLoginRestClient() {
  return [] {
    HostSession& s = Session();
    // No host application runs beside this program to ask for its folder: the session's is it.
    std::string folder = s.g_strHostPath;
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    auto client = std::make_unique<KavantorLoginClient>();
    client->api.Init(folder, s.g_strConnect,
                     s.g_CurrentUserRS ? cUtil::k(s.g_CurrentUserRS->Value("DSN")) : "");
    return client;
  };
}

}  // namespace fern
