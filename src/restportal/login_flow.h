// The OAuth login of one portal, without its window: the host service's start request, the
// authorisation page, the redirect that carries the verifier, the end request and its answer.
// The login window shows what this asks for through LoginView and hands it every navigation.
//
// Every login starts clean: address, token and secret of an earlier portal are dropped and the
// view gets a fresh browser session, so nothing of one portal's login reaches the next; the end
// request goes once per token.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "restportal/login_rest.h"

namespace fern {

class LoginView {
 public:
  virtual ~LoginView() = default;
  // Drops the browser's cookies, cache and history: a new private session.
  virtual void NewSession() = 0;
  // Loads an http or https address.
  virtual void Navigate(const std::string& url) = 0;
  // Shows a text as it stands: never as markup, so no script runs and nothing remote loads.
  virtual void ShowText(const std::string& text) = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  virtual void SetUserLabel(const std::string& text) = 0;
  virtual void ShowWindow() = 0;
};

// The OAuth verifier of an address: the value of the first query parameter whose name holds
// "verifier" in any case, on an http or https address; nothing for other addresses.
std::optional<std::string> VerifierOf(std::string_view url);

// Escapes text for an XML element's content.
std::string XmlEscape(std::string_view text);

class OAuthLoginFlow {
 public:
  OAuthLoginFlow(LoginView& view, LoginRestFactory restClient);

  // The login of the portal with this key: its row is read, stored credentials may be reset
  // after a question, then the login starts.
  void Shower(std::string& dsn);
  void IS24RestLogin(int32_t cmdCreateLogin);
  void IS24Login();

  // Every navigation of the browser's main frame, before it loads. False: the navigation was
  // the return address with the verifier, which ended the login here and must not load.
  bool OnNavigation(const std::string& url, bool isMainFrame);
  // Whether OnNavigation would keep this navigation from loading; the window asks first so that
  // it can answer the browser at once and let the login end outside the browser's call.
  bool Catches(const std::string& url, bool isMainFrame) const;

  // The portal's confirm-access page with a fixed test token, on the portal address of the host
  // INI (section "IS24Transfer", key "OAuthPortalUrl"); empty when that is not set.
  static std::string TestAddress();

  const std::string& PortalDsn() const { return portalDsn_; }
  const std::string& Token() const { return token_; }

 private:
  void Fail(const std::string& procedure, int32_t number, const std::string& description,
            const std::string& extra = {});
  void SendEnd(const std::string& verifier);
  void DebugCheck(const std::string& body);
  // Debug text with the login's secrets shown as "****".
  std::string Masked(std::string line) const;

  LoginView& view_;
  LoginRestFactory makeClient_;
  std::unique_ptr<LoginRestClient> client_;
  std::string portalDsn_;
  std::string hostFolder_;
  std::string url_;
  std::string token_;
  std::string secret_;
  std::string verifier_;
  std::string namespace_;  // of the start answer's root
  bool ended_ = false;     // the end request for this token went out
};

}  // namespace fern
