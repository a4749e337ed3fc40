#include "restportal/login_flow.h"

#include <algorithm>
#include <utility>

#include "core/host_session.h"
#include "host/LanguagePack.h"
#include "host/cDal.h"
#include "host/cUtil.h"
#include "platform/base64.h"
#include "platform/host_error.h"
#include "platform/msgbox.h"
#include "platform/text.h"
#include "restportal/cKavantorAPIMini.h"
#include "xml/xml_dom.h"

namespace fern {

namespace {

constexpr const char* kCaption = "ImmobilienScout24 REST-API Anmeldung";
// The portal's confirm-access page is opened with this token by the window's test button.
constexpr const char* kTestToken = "3f2b8c1e-7a4d-4e9b-a6c5-0d1e2f3a4b5c";

std::string Translate(const std::string& german, const std::string& p1 = {}) {
  return fern::Translate(Session().g_oLanguagePack.get(), german, {p1});
}

void Debug(const std::string& text) {
  if (Session().g_blnDebugLog) WriteDebugLog(text);
}

bool IsWebAddress(std::string_view url) {
  std::string l = text::LowerAscii(url.substr(0, 8));
  return l.starts_with("http://") || l.starts_with("https://");
}

using ::fern::text::HexValue;

std::string PercentDecode(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    int hi = 0, lo = 0;
    if (s[i] == '%' && i + 2 < s.size() && (hi = HexValue(s[i + 1])) >= 0 &&
        (lo = HexValue(s[i + 2])) >= 0) {
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// The query of an address as name/raw value pairs, names decoded.
template <typename Visit>
void ForEachQueryParameter(std::string_view url, Visit visit) {
  size_t q = url.find('?');
  if (q == std::string_view::npos) return;
  std::string_view query = url.substr(q + 1);
  query = query.substr(0, query.find('#'));
  while (!query.empty()) {
    size_t amp = query.find('&');
    std::string_view part = query.substr(0, amp);
    size_t eq = part.find('=');
    std::string_view value = part.substr(eq == std::string_view::npos ? part.size() : eq + 1);
    if (!visit(PercentDecode(part.substr(0, eq)), value)) return;
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
}

// Line ends written as their percent-encoding, in one pass.
std::string OnOneLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    out += c == '\r' ? std::string_view("%0D") : c == '\n' ? "%0A" : std::string_view(&c, 1);
  return out;
}

// A box lays out all of its text at once: a long answer shows its first characters only (whole
// UTF-8 characters), then "...".
constexpr size_t kBoxCharacters = 2000;
std::string BoxStart(const std::string& text) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // within a character
    if (++characters > kBoxCharacters) return text.substr(0, i) + "...";
  }
  return text;
}

std::shared_ptr<db::Recordset> PortalRow(const std::string& sql) {
  HostSession& s = Session();
  return s.g_oDal->GetRecordset(s.g_strConnect, sql, 4);
}

std::string HostIniValue(const std::string& key) {
  return Session().g_oUtil->IniGet("IS24Transfer", key, "", GetHostPath("Kavantor.INI"));
}

}  // namespace

std::optional<std::string> VerifierOf(std::string_view url) {
  if (!IsWebAddress(url)) return std::nullopt;
  std::optional<std::string> verifier;
  ForEachQueryParameter(url, [&](const std::string& name, std::string_view value) {
    if (text::LowerAscii(name).find("verifier") == std::string::npos) return true;
    if (!value.empty()) verifier = PercentDecode(value);
    return false;
  });
  return verifier;
}

std::string XmlEscape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

OAuthLoginFlow::OAuthLoginFlow(LoginView& view, LoginRestFactory restClient)
    : view_(view), makeClient_(std::move(restClient)) {}

void OAuthLoginFlow::Fail(const std::string& procedure, int32_t number,
                          const std::string& description, const std::string& extra) {
  MessageBox("There was an error in " + procedure + ".\r\n" + std::to_string(number) + "\r\n" +
                 description + (extra.empty() ? "" : "\r\n" + extra),
             mb::kOkOnly, "Error: " + procedure);
}

std::string OAuthLoginFlow::Masked(std::string line) const {
  // A page shown from text comes as a data: address with the text encoded: its secrets are
  // found in the text itself, which is logged decoded, on one line.
  if (text::LowerAscii(std::string_view(line).substr(0, 5)) == "data:") {
    const size_t comma = line.find(',');
    if (comma != std::string::npos) {
      const std::string head = line.substr(0, comma + 1);
      std::string content = PercentDecode(std::string_view(line).substr(comma + 1));
      if (std::string bytes; text::LowerAscii(head).ends_with(";base64,"))
        content = Base64Decode(content, bytes) ? bytes : "(?)";
      line = head + OnOneLine(cKavantorAPIMini::MaskSecrets(content));
    }
  }
  for (const std::string* secret : {&token_, &secret_, &verifier_}) {
    line = text::ReplaceAll(line, *secret, "****");
    line = text::ReplaceAll(line, XmlEscape(*secret), "****");
  }
  // An address carries them encoded: every token, secret or verifier parameter is hidden.
  std::string out;
  const char* done = std::as_const(line).data();
  ForEachQueryParameter(line, [&](const std::string& name, std::string_view value) {
    const std::string n = text::LowerAscii(name);
    if (n.find("verifier") != std::string::npos || n.find("token") != std::string::npos ||
        n.find("secret") != std::string::npos) {
      out.append(done, value.data());
      out += "****";
      done = value.data() + value.size();
    }
    return true;
  });
  return out.append(done, std::as_const(line).data() + line.size());
}

void OAuthLoginFlow::Shower(std::string& dsn) {
  try {
    HostSession& s = Session();
    portalDsn_ = dsn;
    hostFolder_ = s.g_strHostPath;
    if (!client_) {
      if (!makeClient_) {
        MessageBox(Translate("Die Portal-Anmeldung ist in dieser Programmversion nicht verfügbar."),
                   mb::kOkOnly | mb::kExclamation);
        return;
      }
      client_ = makeClient_();
    }
    std::string user = s.g_CurrentUserRS ? cUtil::k(s.g_CurrentUserRS->Value("Name")) : "";
    view_.SetUserLabel(user + " " + portalDsn_);
    IS24RestLogin(0);
  } catch (const HostError& e) {
    Fail("Shower", e.number(), e.description());
  } catch (const std::exception& e) {
    Fail("Shower", 0, e.what());
  }
}

void OAuthLoginFlow::IS24RestLogin(int32_t) {
  int step = 0;
  try {
    step = 1;
    auto rs = PortalRow(" Select * from Boersen where dsn = " + cUtil::SqlStr(Variant(portalDsn_)));
    step = 2;
    if (rs->Eof()) return;
    step = 4;
    portalDsn_ = cUtil::k(rs->Value("DSN"));
    step = 5;
    // Whether the question is meant for every login is not settled; it is asked whenever a
    // login is stored, since the reset throws away working credentials.
    if (!cUtil::k(rs->Value("loginname")).empty()) {
      int answer = MessageBox(
          Translate("Für das Portal sind bereits Zugangsdaten hinterlegt.%nl%Wollen Sie diese "
                    "Daten zurücksetzen und neue hinterlegen?") +
              "\r\n\r\n" +
              Translate("Im folgenden Fenster müssen Sie noch auf 'Abmelden' klicken."),
          mb::kOkCancel | mb::kQuestion, Translate(kCaption));
      if (answer != mb::kOk) return;
      auto row =
          PortalRow("Select * from boersen where dsn = " + cUtil::SqlUid(Variant(portalDsn_)));
      if (!row->Eof()) {
        row->SetValue("loginname", Variant(std::string()));
        row->SetValue("password", Variant(std::string()));
        Session().g_oDal->UpdateRecordset(Session().g_strConnect, *row);
      }
    }
    step = 6;
    IS24Login();
  } catch (const HostError& e) {
    Fail("IS24RestLogin", e.number(), e.description(), std::to_string(step));
  } catch (const std::exception& e) {
    Fail("IS24RestLogin", 0, e.what(), std::to_string(step));
  }
}

void OAuthLoginFlow::IS24Login() {
  try {
    // Nothing of an earlier login may serve this one: a failed start must not find another
    // portal's token, and the browser must not find another portal's login.
    url_.clear();
    token_.clear();
    secret_.clear();
    verifier_.clear();
    namespace_.clear();
    ended_ = false;
    view_.NewSession();

    if (!client_) {
      if (!makeClient_) throw HostError(429, "Kein REST-Client", "IS24Login");
      client_ = makeClient_();
    }
    const std::string answer = client_->CallIS24RestApiStartCreateLogin(portalDsn_);
    if (!answer.empty()) {
      if (text::UpperAscii(answer).find("<AUTHENTICATIONURL>") != std::string::npos) {
        auto doc = XmlDocument::Create();
        XmlNodePtr root = doc->loadXML(answer) ? doc->documentElement() : nullptr;
        if (root && root->baseName() == "portalAuthenticationType") {
          namespace_ = root->namespaceURI();
          auto child = [&](const char* name) {
            auto children = root->ChildElements(name);
            return children.empty() ? std::string() : children.front()->text();
          };
          url_ = child("authenticationUrl");
          token_ = child("authenticationToken");
          secret_ = child("authenticationTokenSecret");
        }
        if (url_.empty()) {
          view_.ShowText(
              Translate("Authentication-Url ist nicht gefüllt. Bitte kontaktieren Sie Ihren "
                        "Systemadministrator."));
        } else if (!IsWebAddress(url_)) {
          // Only a web page may be the authorisation page; a script or file address is not
          // followed, and its token is not used.
          view_.ShowText(Translate("Die Authentication-Url ist keine http- oder https-Adresse:") +
                         "\r\n" + url_);
          token_.clear();
          secret_.clear();
        } else {
          view_.Navigate(url_);
        }
      } else {
        view_.ShowText(answer);
      }
    }
    view_.SetCaption(Translate(kCaption));
    view_.ShowWindow();
  } catch (const HostError& e) {
    Fail("IS24Login", e.number(), e.description(), "0");
  } catch (const std::exception& e) {
    Fail("IS24Login", 0, e.what(), "0");
  }
}

bool OAuthLoginFlow::OnNavigation(const std::string& url, bool isMainFrame) {
  try {
    Debug("NavigateComplete2_1: " + Masked(url));
    if (!Catches(url, isMainFrame)) return true;
    std::optional<std::string> verifier = VerifierOf(url);
    // The return address is never loaded: it belongs to the service, not to the portal.
    if (ended_) return false;
    verifier_ = *verifier;
    Debug("NavigateComplete2_2: " + Masked(url));
    Debug("NavigateComplete2_3: " + Masked(verifier_));
    SendEnd(verifier_);
    return false;
  } catch (const HostError& e) {
    Fail("WebBrowser_NavigateComplete2", e.number(), e.description());
  } catch (const std::exception& e) {
    Fail("WebBrowser_NavigateComplete2", 0, e.what());
  }
  return false;
}

bool OAuthLoginFlow::Catches(const std::string& url, bool isMainFrame) const {
  return isMainFrame && !secret_.empty() && VerifierOf(url).has_value();
}

void OAuthLoginFlow::SendEnd(const std::string& verifier) {
  std::string ns = HostIniValue("AuthenticationNamespace");
  if (ns.empty()) ns = namespace_;
  const std::string body = "<portalAuthenticationType" +
                           (ns.empty() ? std::string() : " xmlns=\"" + XmlEscape(ns) + "\"") +
                           "><authenticationToken>" + XmlEscape(token_) +
                           "</authenticationToken><authenticationTokenSecret>" +
                           XmlEscape(secret_) + "</authenticationTokenSecret><verifier>" +
                           XmlEscape(verifier) + "</verifier></portalAuthenticationType>";
  Debug("NavigateComplete2_4: " + Masked(body));

  // Marked before the request: a navigation that arrives while it runs must not send again.
  ended_ = true;
  const std::string answer = client_->CallIS24RestApiEndCreateLogin(portalDsn_, body);
  const int32_t status = client_->getResponseCode();
  // A service may echo what it was sent: the box shows the answer as the logs do.
  const std::string shown = Masked(cKavantorAPIMini::MaskSecrets(answer));
  Debug("NavigateComplete2_5: " + shown);
  if (status == 200) {
    MessageBox(
        "Zugangsdaten wurden in der Datenbank hinterlegt: " + portalDsn_ + "\r\n" + BoxStart(shown),
        mb::kOkOnly);
  } else {
    MessageBox(Translate("Die Zugangsdaten wurden nicht hinterlegt: %1", portalDsn_) +
                   "\r\nStatus: " + std::to_string(status) + "\r\n" + BoxStart(shown),
               mb::kOkOnly | mb::kCritical, Translate(kCaption));
  }
  if (Session().g_blnDebugLog) DebugCheck(body);
}

void OAuthLoginFlow::DebugCheck(const std::string& body) {
  Debug("jetzt noch der Test: " + Masked(body));
  auto rs = PortalRow(" Select * from Boersen where dsn = " + cUtil::SqlStr(Variant(portalDsn_)));
  if (rs->Eof()) {
    MessageBox("Boerse nicht gefunden :-(", mb::kOkOnly);
    return;
  }
  const std::string login = cUtil::k(rs->Value("loginname"));
  const std::string password = cUtil::k(rs->Value("password"));
  if (login != token_ || password != secret_) {
    if (MessageBox("User/PW wahrscheinlich nicht gespeichert. Dieses jetzt nochmal versuchen?",
                   mb::kYesNo | mb::kCritical, "Zugangsdaten speichern") != mb::kYes)
      return;
    rs->SetValue("loginname", Variant(token_));
    rs->SetValue("password", Variant(secret_));
    // The connection string is no business of a box.
    MessageBox("speichern\r\n" + token_ + "\r\n" + secret_, mb::kOkOnly);
    Session().g_oDal->UpdateRecordset(Session().g_strConnect, *rs);
    MessageBox("Speicherversuch beendet", mb::kOkOnly);
  } else {
    MessageBox("Daten sind identisch fuer " + portalDsn_ + "\r\n" + login + "/" + token_ + "\r\n" +
                   password + "/" + secret_,
               mb::kOkOnly);
  }
}

std::string OAuthLoginFlow::TestAddress() {
  std::string base = HostIniValue("OAuthPortalUrl");
  if (base.empty() || !IsWebAddress(base)) return {};
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base + "/restapi/security/oauth/confirm_access?oauth_token=" + kTestToken;
}

}  // namespace fern
