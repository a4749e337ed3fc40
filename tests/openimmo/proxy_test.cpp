// Which proxy the OpenImmo posts and uploads go through: the one the settings name, never one of
// the environment (a nightly run under cron has another environment than the window).
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "openimmo_fixture.h"
#include "support/ftp_server.h"
#include "support/http_server.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;

const char* kFtpPortal = "ImmoPortal Demo";
const char* kHttpPortal = "Wohnen HTTP Demo";

// A proxy on 127.0.0.1 that keeps the first line of every request and refuses to go on.
class LoopbackProxy {
 public:
  LoopbackProxy() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(fd_, 16) != 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      throw std::runtime_error("the proxy did not start");
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackProxy() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const int c = accept(fd_, nullptr, nullptr);
      if (c < 0) continue;
      std::string head;
      char buf[4096];
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
      while (head.find("\r\n") == std::string::npos && std::chrono::steady_clock::now() < end) {
        pollfd q{c, POLLIN, 0};
        if (poll(&q, 1, 100) <= 0) continue;
        const ssize_t n = read(c, buf, sizeof buf);
        if (n <= 0) break;
        head.append(buf, static_cast<size_t>(n));
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(head.substr(0, head.find("\r\n")));
      }
      const std::string refusal =
          "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
      [[maybe_unused]] const ssize_t sent = write(c, refusal.data(), refusal.size());
      close(c);
    }
  }

  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
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
  size_t arrived = 0;
  for (const auto& e : fs::directory_iterator(dir / "remote" / "in"))
    arrived += e.path().extension() == ".zip";
  EXPECT_EQ(arrived, 1u);
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
