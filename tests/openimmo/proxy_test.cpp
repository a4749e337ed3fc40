// Which proxy the OpenImmo posts and uploads go through: the one the settings name, never one of
// the environment (a nightly run under cron has another environment than the window).
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "openimmo_fixture.h"
#include "support/ftp_server.h"
#include "support/http_server.h"

namespace fern::testing {
namespace {

const char* kFtpPortal = "ImmoPortal Demo";
const char* kHttpPortal = "Wohnen HTTP Demo";

// A proxy on 127.0.0.1 that keeps the first line of every request and refuses to go on.
class LoopbackProxy {
 public:
  LoopbackProxy() {
    // Kept before the refusal goes out: the client may count it at once.
    http_.server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(req.method + " " + req.target + " " + req.version);
      return httplib::Server::HandlerResponse::Unhandled;
    });
    const auto refuse = [](const httplib::Request&, httplib::Response& res) { res.status = 502; };
    http_.server.Get(".*", refuse);
    http_.server.Post(".*", refuse);
    http_.server.Put(".*", refuse);
    http_.Start();
  }
  std::string Address() const { return http_.Address(""); }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> requests_;
  testing_servers::HttpServer http_;
};

// Sets the proxy variables of the environment (or clears them) for the test's length.
class ProxyEnvironment {
 public:
  explicit ProxyEnvironment(const std::string& proxy) {
    for (const char* name : {"http_proxy", "https_proxy", "ftp_proxy", "all_proxy", "HTTPS_PROXY",
                             "FTP_PROXY", "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
      const char* old = std::getenv(name);
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
      const std::string n(name);
      if (proxy.empty() || n == "no_proxy" || n == "NO_PROXY")
        unsetenv(name);
      else
        setenv(name, ("http://" + proxy).c_str(), 1);
    }
  }
  ~ProxyEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

class ProxyTest : public OpenImmoTest {
 protected:
  void SetUp() override {
    OpenImmoTest::SetUp();
    UseWorkFolder();
    portal_.server.Post("/openimmo", [this](const httplib::Request&, httplib::Response& res) {
      ++posts;
      res.set_content("<antwort_dokument/>", "text/xml");
    });
    portal_.Start();
    Exec("update Boersen set boersen_host = 'http://" + portal_.Address("/openimmo") +
         "' where boersen_name = '" + kHttpPortal + "'");
  }
  void Run(const std::string& portal) {
    lines.clear();
    x_.reset();
    RunPhase("boersen_name = '" + portal + "'");
  }

  std::atomic<int> posts{0};
  testing_servers::HttpServer portal_;
};

TEST_F(ProxyTest, ProxiesOfTheEnvironmentAreNotUsed) {
  LoopbackProxy proxy;
  ProxyEnvironment env(proxy.Address());
  Run(kHttpPortal);
  EXPECT_EQ(posts, 14);
  auto server = PortalFtpServer(kFtpPortal, "immo", "immo-demo", ", zipping = 1");
  Run(kFtpPortal);
  EXPECT_EQ(Errors(), 0) << Lines(102);
  EXPECT_EQ(Arrived(".zip").size(), 1u);
  const std::vector<std::string> seen = proxy.Requests();
  EXPECT_TRUE(seen.empty()) << seen.front();
}

TEST_F(ProxyTest, TheProxyTheSettingsNameCarriesThePosts) {
  LoopbackProxy proxy;
  ProxyEnvironment env("");
  Ini("OPTIONS", "HTTP_PROXY", proxy.Address());
  Run(kHttpPortal);
  EXPECT_EQ(posts, 0);
  const std::vector<std::string> seen = proxy.Requests();
  ASSERT_EQ(seen.size(), 14u);
  for (const std::string& line : seen)
    EXPECT_EQ(line.rfind("POST http://" + portal_.Address("/openimmo"), 0), 0u) << line;
  // The portal never answered: nothing counts as delivered.
  EXPECT_EQ(Errors(), 14);
}

}  // namespace
}  // namespace fern::testing
