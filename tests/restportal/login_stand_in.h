// The host REST service's portal login on 127.0.0.1: start, end and check requests, and the
// portal's authorisation page, which sends the browser through a server redirect and a script
// to the callback with the verifier. A login whose end request brings the right token, secret
// and verifier is stored through `store`. StandInClient calls it as the host REST client does.
#pragma once

#include <httplib.h>

#include <atomic>
#include <cctype>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "restportal/login_rest.h"
#include "support/http_server.h"

namespace fern::testing {

constexpr const char* kRestNs = "http://rest.kavantor.local/schema/portals";

class LoginStandIn {
 public:
  struct Portal {
    std::string token, secret, verifier;
    int startStatus = 200;
    std::string startAnswer;  // replaces the made one when set
  };

  LoginStandIn() {
    http_.server.Get(R"(/portals/([^/]+)/authenticationStart)", [this](const httplib::Request& req,
                                                                       httplib::Response& res) {
      std::lock_guard lock(m_);
      Portal& p = portals[req.matches[1]];
      res.status = p.startStatus;
      std::string answer = p.startAnswer;
      if (answer.empty())
        answer = std::string("<portalAuthenticationType xmlns=\"") + kRestNs +
                 "\"><authenticationUrl>" + Base() + "/authorize?oauth_token=" + Encode(p.token) +
                 "</authenticationUrl><authenticationToken>" + Xml(p.token) +
                 "</authenticationToken><authenticationTokenSecret>" + Xml(p.secret) +
                 "</authenticationTokenSecret></portalAuthenticationType>";
      res.set_content(answer, "application/xml");
    });
    http_.server.Get("/authorize", [this](const httplib::Request& req, httplib::Response& res) {
      res.set_redirect(Base() +
                       "/confirm?oauth_token=" + Encode(req.get_param_value("oauth_token")));
    });
    http_.server.Get("/confirm", [this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard lock(m_);
      std::string verifier;
      for (auto& [dsn, p] : portals)
        if (p.token == req.get_param_value("oauth_token")) verifier = p.verifier;
      res.set_content("<html><body>Zugriff erlaubt<script>location.href = '/callback?oauth_token=" +
                          Encode(req.get_param_value("oauth_token")) +
                          "&oauth_verifier=" + Encode(verifier) + "';</script></body></html>",
                      "text/html");
    });
    http_.server.Get("/callback", [this](const httplib::Request&, httplib::Response& res) {
      ++callbacks;
      res.set_content("callback", "text/plain");
    });
    http_.server.Post(R"(/portals/([^/]+)/authenticationEnd)", [this](const httplib::Request& req,
                                                                      httplib::Response& res) {
      std::lock_guard lock(m_);
      ends.push_back(std::string(req.matches[1]) + " " + req.body);
      const Portal& p = portals[req.matches[1]];
      const bool right =
          req.body.find("<authenticationToken>" + Xml(p.token) + "<") != std::string::npos &&
          req.body.find("<verifier>" + Xml(p.verifier) + "<") != std::string::npos;
      res.status = right ? endStatus : 400;
      if (right && endStatus == 200 && store) store(req.matches[1], p.token, p.secret);
      res.set_content(echo                          ? req.body
                      : right && !endAnswer.empty() ? endAnswer
                      : right                       ? "<ok/>"
                                                    : "Verifier falsch",
                      "text/plain");
    });
    http_.server.Get(R"(/portals/([^/]+)/isAuthenticatedWithOAuth)",
                     [this](const httplib::Request&, httplib::Response& res) {
                       res.set_content(checkAnswer, "text/plain");
                     });
    http_.Start();
  }

  std::string Base() const { return "http://" + http_.Address(""); }
  std::vector<std::string> Ends() {
    std::lock_guard lock(m_);
    return ends;
  }
  void Set(const std::string& dsn, Portal p) {
    std::lock_guard lock(m_);
    portals[dsn] = std::move(p);
  }

  static std::string Encode(const std::string& s) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
      if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
        out += static_cast<char>(c);
      } else {
        out += '%';
        out += hex[c >> 4];
        out += hex[c & 15];
      }
    }
    return out;
  }
  static std::string Xml(const std::string& s) {
    std::string out;
    for (char c : s)
      out += c == '&'    ? "&amp;"
             : c == '<'  ? "&lt;"
             : c == '>'  ? "&gt;"
             : c == '"'  ? "&quot;"
             : c == '\'' ? "&apos;"
                         : std::string(1, c);
    return out;
  }

  std::map<std::string, Portal> portals;  // by the portal's key without braces
  std::vector<std::string> ends;          // "dsn body" of every end request
  std::atomic<int> callbacks{0};
  int endStatus = 200;
  bool echo = false;      // the end request's answer is its body
  std::string endAnswer;  // replaces "<ok/>" when set
  std::string checkAnswer;
  std::function<void(const std::string& dsn, const std::string& token, const std::string& secret)>
      store;

 private:
  std::mutex m_;
  testing_servers::HttpServer http_;
};

// The host REST client's login requests against the stand-in.
class StandInClient : public LoginRestClient {
 public:
  explicit StandInClient(std::string base) : client_(base) {}
  static LoginRestFactory Factory(const LoginStandIn& service) {
    return [base = service.Base()] { return std::make_unique<StandInClient>(base); };
  }

  std::string CallIS24RestApiStartCreateLogin(const std::string& dsn) override {
    return Take(client_.Get("/portals/" + Bare(dsn) + "/authenticationStart"));
  }
  std::string CallIS24RestApiEndCreateLogin(const std::string& dsn,
                                            const std::string& body) override {
    return Take(
        client_.Post("/portals/" + Bare(dsn) + "/authenticationEnd", body, "application/xml"));
  }
  std::string CallIS24RestApiCheckLogin(const std::string& dsn) override {
    return Take(client_.Get("/portals/" + Bare(dsn) + "/isAuthenticatedWithOAuth"));
  }
  int32_t getResponseCode() override { return status_; }

 private:
  static std::string Bare(std::string dsn) {
    std::erase(dsn, '{');
    std::erase(dsn, '}');
    return dsn;
  }
  std::string Take(const httplib::Result& r) {
    status_ = r ? r->status : 0;
    return r ? r->body : "Err.Description: keine Verbindung (Code: 0)";
  }
  httplib::Client client_;
  int32_t status_ = 0;
};

}  // namespace fern::testing
