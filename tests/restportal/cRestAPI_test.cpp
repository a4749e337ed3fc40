#include "services/cRestAPI.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/base64.h"
#include "platform/host_error.h"
#include "platform/waits.h"
#include "restportal/rest_fixture.h"
#include "support/ftp_server.h"
#include "support/http_server.h"
#include "support/scratch_dir.h"
#include "support/stalled_portal.h"

namespace fern::testing {
namespace {

class RestApiTest : public ::testing::Test {
 protected:
  static void AsDemoUser(cRestAPI& c, const RestService& s, const std::string& path) {
    c.CallMethod = 1;
    c.Seturl(s.Base() + path);
    c.AuthUsername = "1/DEMO";
    c.AuthPassword = "demo";
  }
  ScratchDir dir;
};

TEST_F(RestApiTest, SendsThePartsHeadersInOrderWithBasicCredentialsAtOnce) {
  RestService s(dir / "rec");
  cRestAPI c;
  c.CallMethod = 2;
  c.Seturl(s.Base() + "/portals/publish");
  c.AuthUsername = "1/DEMO";
  c.AuthPassword = "demo";
  const std::string body =
      "<publishPortalsType><portalIds>A B</portalIds><x>ä</x></publishPortalsType>";
  c.load(body);
  EXPECT_EQ(c.ResponseCode(), 200);
  EXPECT_EQ(c.ContentLength(), static_cast<int32_t>(body.size()));
  EXPECT_EQ(c.ResponseContentType(), "application/xml; charset=UTF-8");

  c.CallMethod = 1;
  c.Encoding = 2;
  c.Seturl(s.Base() + "/users/{00000000-0000-4000-8000-000000000001}");
  c.load("");
  ASSERT_EQ(c.ResponseCode(), 200) << c.ResponseText();

  const auto got = s.Received();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(RequestLine(got[0]), "POST /api/portals/publish HTTP/1.1");
  EXPECT_EQ(Body(got[0]), body);
  EXPECT_EQ(Header(got[0], "Authorization"), "Basic " + Base64Encode("1/DEMO:demo"));
  const size_t type = got[0].find("\r\nContent-Type: application/xml\r\n");
  const size_t charset = got[0].find("\r\nCharset: UTF-8\r\n");
  const size_t length = got[0].find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n");
  ASSERT_NE(type, std::string::npos) << got[0];
  EXPECT_LT(type, charset);
  EXPECT_LT(charset, length);
  EXPECT_NE(length, std::string::npos);
  EXPECT_EQ(RequestLine(got[1]),
            "GET /api/users/%7B00000000-0000-4000-8000-000000000001%7D HTTP/1.1");
  EXPECT_EQ(Header(got[1], "Charset"), "ISO-8859-1");
  EXPECT_EQ(Header(got[1], "Content-Length"), "0");
}

TEST_F(RestApiTest, MethodsMissingAndRefusedCredentials) {
  RestService s(dir / "rec");
  const struct {
    int32_t method;
    const char* line;
  } cases[] = {{0, "GET "}, {1, "GET "}, {2, "POST "}, {3, "PUT "}, {4, "GET "}};
  for (const auto& k : cases) {
    cRestAPI c;
    c.CallMethod = k.method;
    c.Seturl(s.Base() + "/nowhere");
    c.AuthPassword = "demo";  // without a user name no credentials go out
    c.load(k.method == 2 ? "<a/>" : "");
    EXPECT_EQ(c.ResponseCode(), 401) << k.method;  // an answer, not a failure
  }
  cRestAPI wrong;
  AsDemoUser(wrong, s, "/users/00000000-0000-4000-8000-000000000001");
  wrong.AuthPassword = "wrong";
  wrong.load("");
  EXPECT_EQ(wrong.ResponseCode(), 401);
  const auto got = s.Received();
  ASSERT_EQ(got.size(), std::size(cases) + 1);
  EXPECT_EQ(Header(got.back(), "Authorization"), "Basic " + Base64Encode("1/DEMO:wrong"));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(got[i].rfind(cases[i].line, 0), 0u) << got[i];
    EXPECT_EQ(Header(got[i], "Authorization"), "");
  }
}

TEST_F(RestApiTest, ReceiveTimeoutEndsADelayedAnswerAndNoLimitWaits) {
  RestServiceOptions o;
  o.delaySeconds = 1.5;
  RestService s(dir / "rec", o);
  cRestAPI c;
  AsDemoUser(c, s, "/users/00000000-0000-4000-8000-000000000001");
  c.SetTimeouts(0, 60000, 30000, 200);
  try {
    c.load("");
    FAIL() << "a stalled answer must fail";
  } catch (const HostError& e) {
    EXPECT_EQ(e.source(), "cRestAPI.load");
    EXPECT_NE(e.description().find("Fehler beim Zugriff auf die KAVANTOR-RestAPI. Err.Description: "
                                   "Zeitüberschreitung"),
              std::string::npos)
        << e.description();
  }
  EXPECT_EQ(c.ResponseCode(), 0);
  EXPECT_EQ(c.ResponseText().rfind("Err.Description: ", 0), 0u);

  // No limits at all, not libcurl's 300 s default; the low-speed limit waits for a silent
  // answer, which has not begun to trickle.
  c.SetTimeouts(0, 0, 0, 0);
  c.Limits().lowSpeedSeconds = 1;
  c.load("");
  EXPECT_EQ(c.ResponseCode(), 200);
}

TEST_F(RestApiTest, SelfSignedCertificateIsRefusedUnlessTrusted) {
  RestServiceOptions o;
  o.cert = dir / "cert.pem";
  o.key = dir / "key.pem";
  ASSERT_TRUE(testing_servers::MakeSelfSignedCert(o.cert, o.key));
  RestService s(dir / "rec", o);
  cRestAPI c;
  AsDemoUser(c, s, "/users/00000000-0000-4000-8000-000000000001");
  c.Seturl(s.Base("https") + "/users/00000000-0000-4000-8000-000000000001");
  EXPECT_THROW(c.load(""), HostError);
  EXPECT_NE(c.ResponseText().find("Zertifikat nicht anerkannt"), std::string::npos)
      << c.ResponseText();
  EXPECT_TRUE(s.Received().empty()) << "nothing may reach an unverified server";

  c.TrustedCertificateFile = o.cert.string();
  c.load("");
  EXPECT_EQ(c.ResponseCode(), 200);

  c.TrustedCertificateFile.clear();
  c.VerifyCertificates = false;
  c.load("");
  EXPECT_EQ(c.ResponseCode(), 200);
}

TEST_F(RestApiTest, ProxyVariablesOfTheEnvironmentAreIgnored) {
  RestService s(dir / "rec");
  for (const char* name : {"http_proxy", "HTTPS_PROXY", "ALL_PROXY"})
    ::setenv(name, "http://127.0.0.1:9", 1);
  cRestAPI c;
  AsDemoUser(c, s, "/users/00000000-0000-4000-8000-000000000001");
  c.load("");
  for (const char* name : {"http_proxy", "HTTPS_PROXY", "ALL_PROXY"}) ::unsetenv(name);
  EXPECT_EQ(c.ResponseCode(), 200);
  ASSERT_EQ(s.Received().size(), 1u);
}

// A loopback service whose answer trickles in, one byte every 2 s, one that redirects, and a
// quick user check with publishes that stall or trickle; its handlers end with the object.
class SlowService {
 public:
  SlowService() {
    http_.server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
      std::lock_guard<std::mutex> lock(mutex_);
      ports_.push_back(req.remote_port);
      return httplib::Server::HandlerResponse::Unhandled;
    });
    const auto trickle = [this](size_t bytes) {
      return [this, bytes](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(bytes, "text/plain",
                                 [this](size_t, size_t, httplib::DataSink& sink) {
                                   if (Pause(std::chrono::seconds(2))) return false;
                                   return sink.write("x", 1);
                                 });
      };
    };
    http_.server.Get("/trickle", trickle(100));
    http_.server.Get("/users/u", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<user/>", "application/xml");
    });
    // Late, not never: a request its time-out does not end fails the test instead of hanging it.
    http_.server.Post("/publish/stall", [this](const httplib::Request&, httplib::Response& res) {
      Pause(std::chrono::seconds(8));
      res.set_content("<published/>", "application/xml");
    });
    http_.server.Post("/publish/trickle", trickle(8));
    http_.server.Post("/publish", [this](const httplib::Request&, httplib::Response& res) {
      res.set_redirect(Base() + "/login?next=publish", 302);
    });
    http_.server.Get("/login", [this](const httplib::Request&, httplib::Response& res) {
      ++logins;
      res.set_content("Anmeldung", "text/html");
    });
    http_.Start();
  }
  ~SlowService() {
    done_ = true;
    http_.Stop();
  }
  std::string Base() const { return "http://" + http_.Address(""); }
  std::atomic<int> logins{0};
  // The client port of each request so far: the same port is the same connection.
  std::vector<int> Ports() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ports_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<int> ports_;
  // True when the service is ending.
  bool Pause(std::chrono::milliseconds time) {
    const auto end = std::chrono::steady_clock::now() + time;
    while (!done_ && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done_;
  }
  std::atomic<bool> done_{false};
  testing_servers::HttpServer http_;
};

// Runs the request and tells how long it took and what it ended with.
struct Outcome {
  double seconds = 0;
  std::string error;  // "" when an answer came
};
Outcome Timed(cRestAPI& c, const std::string& body = "") {
  Outcome o;
  const auto start = std::chrono::steady_clock::now();
  try {
    c.load(body);
  } catch (const HostError& e) {
    o.error = e.description();
  }
  o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return o;
}

TEST(RestApiInterruption, EscAndSigtermEndAStalledRequestAtOnce) {
  StalledPortal s;
  cRestAPI c;
  c.Seturl(s.Url());

  // Esc, as the window's event pump sets it during the request; a second request asked from an
  // event meanwhile is refused and leaves the running one alone.
  const auto start = std::chrono::steady_clock::now();
  Outcome nested;
  SetPumpHook([&] {
    if (nested.error.empty()) nested = Timed(c);
    if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(300)) SetEsc();
  });
  Outcome o = Timed(c);
  SetPumpHook({});
  ResetEsc();
  EXPECT_LT(o.seconds, 2.0);
  EXPECT_NE(o.error.find("abgebrochen"), std::string::npos) << o.error;
  EXPECT_EQ(c.ResponseCode(), 0);
  EXPECT_NE(nested.error.find("läuft bereits"), std::string::npos) << nested.error;

  // The system's stop.
  InstallCancelSignals();
  std::thread term([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(::getpid(), SIGTERM);
  });
  o = Timed(c);
  term.join();
  ResetEsc();
  ResetCancelSignal();
  ::signal(SIGTERM, SIG_DFL);
  EXPECT_LT(o.seconds, 2.0);
  EXPECT_NE(o.error.find("abgebrochen"), std::string::npos) << o.error;
}

TEST(RestApiInterruption, LowSpeedLimitEndsATricklingAnswer) {
  SlowService s;
  cRestAPI c;
  c.Seturl(s.Base() + "/trickle");
  // 100 bytes, one every 2 s, would take 200 s. Without a receive time-out the trickle is
  // still ended once it has begun; with one, it is ended before the stall check could fire.
  for (long receive : {0L, 4000L}) {
    SCOPED_TRACE(receive);
    c.SetTimeouts(0, 60000, receive, receive);
    c.Limits().lowSpeedSeconds = 3;
    const Outcome o = Timed(c);
    EXPECT_LT(o.seconds, 25.0);
    EXPECT_NE(o.error.find("Zeitüberschreitung: weniger als 1 Byte/s in " +
                           std::string(receive ? "4" : "3") + " s"),
              std::string::npos)
        << o.error;
  }
}

// The unattended run checks the user, then publishes on the same kept-alive connection.
TEST(RestApiInterruption, TimeoutsHoldOnAKeptAliveConnection) {
  SlowService s;
  cRestAPI c;
  c.AuthUsername = "1/DEMO";
  c.AuthPassword = "demo";
  c.Limits().lowSpeedSeconds = 3;
  for (const auto& [path, receive, error] :
       {std::tuple{"/publish/stall", 500, "keine Daten empfangen binnen 500 ms"},
        std::tuple{"/publish/trickle", 4000, "weniger als 1 Byte/s in 4 s"}}) {
    SCOPED_TRACE(path);
    c.SetTimeouts(0, 60000, receive, receive);
    c.CallMethod = 1;
    c.Seturl(s.Base() + "/users/u");
    c.load("");
    ASSERT_EQ(c.ResponseCode(), 200);
    c.CallMethod = 2;
    c.Seturl(s.Base() + path);
    const Outcome o = Timed(c, "<publishPortalsType/>");
    EXPECT_LT(o.seconds, 7.0);
    EXPECT_NE(o.error.find(std::string("Zeitüberschreitung: ") + error), std::string::npos)
        << o.error;
    const std::vector<int> ports = s.Ports();
    ASSERT_GE(ports.size(), 2u);
    EXPECT_EQ(ports[ports.size() - 2], ports.back()) << "the publish went on a new connection";
  }
}

TEST(RestApiRedirects, ARedirectIsNotFollowedAndNamesItsTarget) {
  SlowService s;
  cRestAPI c;
  c.CallMethod = 2;
  c.Seturl(s.Base() + "/publish");
  c.AuthUsername = "1/DEMO";
  c.AuthPassword = "demo";
  c.load("<publishPortalsType/>");
  EXPECT_EQ(c.ResponseCode(), 302);
  EXPECT_EQ(c.RedirectTarget(), s.Base() + "/login?next=publish");
  EXPECT_EQ(s.logins, 0) << "neither credentials nor body go to another address";
  c.Seturl(s.Base() + "/login");
  c.CallMethod = 1;
  c.load("");
  EXPECT_EQ(c.ResponseCode(), 200);
  EXPECT_EQ(c.RedirectTarget(), "");
}

TEST(RestApiCoders, EscapeAndUnescape) {
  EXPECT_EQ(cRestAPI::URLEncodeANSI("http://h/a b+c?x=100%", true), "http://h/a+b%2Bc?x=100%25");
  EXPECT_EQ(cRestAPI::URLEncodeANSI("   ", true), "");
  EXPECT_EQ(cRestAPI::URLEncodeANSI("a{b}", false), "a%7Bb%7D");
  EXPECT_EQ(cRestAPI::URLDecodeANSI("a+b%2Bc%7B", true), "a b+c{");
  EXPECT_EQ(cRestAPI::URLEncodeUTF8("ä\tb c"), "%C3%A4%09b+c");
  EXPECT_EQ(cRestAPI::URLEncodeANSI(std::string(2048, 'a'), true).size(), 2048u);
  try {
    cRestAPI::URLEncodeANSI(std::string(2049, 'a'), true);
    FAIL();
  } catch (const HostError& e) {
    EXPECT_EQ(static_cast<uint32_t>(e.number()), 0x8004D700u);
    EXPECT_EQ(e.source(), "cRestAPI.URLEncodeANSI");
  }
}

}  // namespace
}  // namespace fern::testing
